#!/usr/bin/env bash
# The demonstration session. Takes the release build folder.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/out"
echo "Vexmir Editor build: $build"

bundle="$build/Vexmir Editor.vst"
host="$build/tools/vexmir-host/vexmir-host"
if [ -x "$host" ] && [ -f "$bundle/Contents/Linux/Vexmir Editor.so" ]; then
  # The plug-in keeps its files under this root during the demonstration.
  export VEXMIR_ROOT="${VEXMIR_ROOT:-$root/out/data}"
  mkdir -p "$VEXMIR_ROOT"
  echo "Loading the plug-in in vexmir-host:"
  "$host" "$bundle" - <<'SCRIPT'
open
info
dispatch effGetEffectName ptr=string
dispatch effGetVendorString ptr=string
dispatch effGetVendorVersion
SCRIPT
else
  ls "$build"
fi
