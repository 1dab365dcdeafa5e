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

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# Two runs at once (two work trees set up together) take turns: the second waits here and then finds installed what
# the first installed. Any other package manager holding dpkg's lock is waited for by apt-get itself.
lock=${VEXMIR_SETUP_LOCK:-/tmp/vexmir-setup.lock}
{ exec 9>>"$lock"; } 2>/dev/null || exec 9<"$lock"
if ! flock -n 9; then
  echo "setup: another setup is installing; waiting for it"
  flock 9
fi
apt=($sudo apt-get -o DPkg::Lock::Timeout=600)

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The real hosts serve only the daw-labelled tests, which skip, saying why, where their host is missing: a machine
# where they cannot be installed still builds and tests everything else. VEXMIR_SETUP_DAW=0 leaves them out.
if [ "${VEXMIR_SETUP_DAW:-1}" = 1 ]; then
  for host in ardour qtractor; do
    installed "$host" && continue
    echo "setup: installing $host (for the daw tests)"
    if ! { "${apt[@]}" update -qq && "${apt[@]}" install -y -qq --no-install-recommends "$host" >/dev/null; }; then
      echo "setup: $host could not be installed; its daw tests will be skipped"
    fi
  done
fi
