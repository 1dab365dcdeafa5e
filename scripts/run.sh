#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and its tools, and runs the demonstration session: the editor in
# vexmir-host with the synthesizer emulator over JACK. Pictures, transcripts and the session's data go to out/.
# The build's own lines go to a log file; the terminal gets one line for each step as it happens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build/release
mkdir -p "$build"
log="$build/build.log"
echo "Installing what is missing and building the release build in $build (the first time takes minutes;"
echo "the build's output goes to $log) ..."
# A line every 15 seconds with the build's last line, so that a long build never looks stuck.
(
  while sleep 15; do
    last=$(tail -n 1 "$log" 2>/dev/null | cut -c1-100)
    echo "  ... still building: ${last:-starting}"
  done
) &
ticker=$!
status=0
scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release -DVEXMIR_TESTS=OFF >"$log" 2>&1 || status=$?
kill "$ticker" 2>/dev/null || true
wait "$ticker" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "run: the build failed; the end of $log:" >&2
  tail -n 30 "$log" >&2
  exit "$status"
fi
echo "Built."

exec tools/session/session.sh "$build" "$root/out"
