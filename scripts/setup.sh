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

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Ardour serves only the daw-labelled test, which skips, saying why, where Ardour is missing: a machine where
# it cannot be installed still builds and tests everything else. VEXMIR_SETUP_DAW=0 leaves it out.
if [ "${VEXMIR_SETUP_DAW:-1}" = 1 ] && [ "$(dpkg-query -W -f='${Status}' ardour 2>/dev/null || true)" != "install ok installed" ]; then
  echo "setup: installing ardour (for the daw test)"
  if ! { $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends ardour >/dev/null; }; then
    echo "setup: ardour could not be installed; the daw test will be skipped"
  fi
fi
