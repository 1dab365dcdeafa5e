#!/usr/bin/env bash
# The demonstration session. Takes the release build folder.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="$root/out"
mkdir -p "$out"
echo "Vexmir Editor build: $build"

host="$build/tools/vexmir-host/vexmir-host"
bundle="$build/Vexmir Editor.vst"
if [ -x "$host" ] && [ -f "$bundle/Contents/Linux/Vexmir Editor.so" ]; then
  # The plug-in keeps its files under this root during the demonstration.
  export VEXMIR_ROOT="${VEXMIR_ROOT:-$out/data}"
  mkdir -p "$VEXMIR_ROOT"
  cd "$out"
  echo "Loading the plug-in in vexmir-host:"
  # Identity, a chunk round trip and a few blocks; the transcript goes to out/.
  status=0
  "$host" --transcript host-session.txt "$bundle" - <<'SCRIPT' || status=$?
open
info
dispatch effGetEffectName
dispatch effGetVendorString
dispatch effGetVendorVersion
setup rate=44100 block=512
resume
chunk save host-state.bin
chunk load host-state.bin
chunk save host-state-again.bin
compare host-state.bin host-state-again.bin
transport playing=1 tempo=120
process double count=4
suspend
close
SCRIPT
  cat "$out/host-session.txt"
  echo "host session transcript: $out/host-session.txt (vexmir-host exit $status)"
else
  ls "$build"
fi
