#!/usr/bin/env bash
# Installs, with apt-get, only the Debian packages this project needs that are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  librtmidi-dev libtinyxml2-dev libpoco-dev libpng-dev zlib1g-dev
  libfreetype-dev libfontconfig-dev fontconfig fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  jackd2 libjack-jackd2-dev
  zynaddsubfx-vst dragonfly-reverb-vst
  libxcb1-dev libxcb-shm0-dev libxcb-res0-dev xvfb xdotool
)
if [ "${VEXMIR_SETUP_EXTRAS:-0}" = 1 ]; then
  # Only for fuzzing and benchmarks, which run by hand.
  packages+=(clang libclang-rt-14-dev libpixman-1-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
