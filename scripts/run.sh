#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and its tools, and runs the demonstration session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh

build=build/release
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

exec tools/demo.sh "$build"
