#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and its tools, and runs the demonstration session: the editor in
# vexmir-host with the synthesizer emulator over JACK. Pictures, transcripts and the session's data go to out/.
# The build's own lines go to a log file; the terminal gets one line for each step as it happens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build/release
scripts/build.sh --log "$build/build.log" "$build" -DCMAKE_BUILD_TYPE=Release -DVEXMIR_TESTS=OFF

exec tools/session/session.sh "$build" "$root/out"
