#!/usr/bin/env bash
# Installs what is missing and configures and builds one build folder with the compiler cache:
#   scripts/build.sh [--log FILE] BUILD-FOLDER CMAKE-OPTIONS...
# Used by run.sh, test.sh, tsan.sh and fuzz.sh. The build runs as many jobs at once as scripts/jobs.sh says.
#
# With --log, the lines of the setup, CMake and the compiler go to FILE instead of the terminal, which gets where they
# go, a line every 15 seconds (VEXMIR_BUILD_TICK) with the build's last line, so that a long build never looks stuck,
# and, when the build fails, every error in full: each failed step with all that its compiler or linker said, or, when
# the setup or CMake stopped it, all that they said.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
log=""
if [ "${1:-}" = --log ]; then
  log=$2
  shift 2
fi
build=$1
shift
jobs=$(scripts/jobs.sh build)

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# (Chained: a function run as a condition, as below, does not stop at a failing command under set -e.)
setup_and_build() {
  scripts/setup.sh && cmake -S . -B "$build" -G Ninja "$@" >/dev/null && cmake --build "$build" -j "$jobs"
}

if [ -z "$log" ]; then
  setup_and_build "$@"
  exit 0
fi

mkdir -p "$(dirname "$log")"
: >"$log"
echo "Installing what is missing and building $build, $jobs jobs at once (the first build takes minutes;"
echo "the build's lines go to $log) ..."
(
  while sleep "${VEXMIR_BUILD_TICK:-15}"; do
    last=$(tail -n 1 "$log" 2>/dev/null | cut -c1-100)
    echo "  ... still building: ${last:-starting}"
  done
) &
ticker=$!
trap 'kill "$ticker" 2>/dev/null || true' EXIT
status=0
(setup_and_build "$@") >"$log" 2>&1 || status=$?
kill "$ticker" 2>/dev/null || true
wait "$ticker" 2>/dev/null || true
if [ "$status" -eq 0 ]; then
  echo "Built $build."
  exit 0
fi

echo "The build of $build failed (all its lines: $log):" >&2
if grep -q '^FAILED: ' "$log"; then
  # Ninja names each failed step on a FAILED: line, followed by its command and all its output, up to the next
  # step's status line or ninja's last word.
  awk '/^FAILED: /{on=1} on && (/^\[[0-9]+\/[0-9]+\] / || /^ninja: /){on=0} on' "$log" >&2
else
  cat "$log" >&2
fi
if grep -q -- '\[-Werror' "$log"; then
  echo "This build stops at a warning in the project's own code (VEXMIR_WERROR, on in scripts/test.sh and CI):" \
    "mend the warning above." >&2
fi
exit "$status"
