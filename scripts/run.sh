#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and its tools, and runs the demonstration session: the editor in
# vexmir-host with the synthesizer emulator over JACK. Pictures, transcripts and the session's data go to out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh

build=build/release
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
echo "Building the release build in $build ..."
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" | tail -1

exec tools/session/session.sh "$build" "$root/out"
