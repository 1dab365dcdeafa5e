#!/usr/bin/env bash
# Installs what is missing and configures and builds one build folder with the compiler cache:
#   scripts/build.sh BUILD-FOLDER CMAKE-OPTIONS...
# Used by run.sh, test.sh and tsan.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$1
shift

scripts/setup.sh

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
