#!/usr/bin/env bash
# The demonstration session. Takes the release build folder.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/out"
echo "Vexmir Editor build: $build"
ls "$build"
