#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing),
# then configures and builds one preset (default: dev): all of it, or only the targets given.
#   scripts/setup.sh [preset [target...]]
# The build folder is build/<preset>, or $KAVREL_BUILD_DIR when that is set; the build runs
# $KAVREL_JOBS jobs (default: nproc).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${1:-dev}"
shift $(($# > 0 ? 1 : 0))
targets=("$@")
build_dir="${KAVREL_BUILD_DIR:-$root/build/$preset}"
jobs="${KAVREL_JOBS:-$(nproc)}"
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || { echo "setup: KAVREL_JOBS='$jobs' is no number of jobs (1 or more)" >&2; exit 2; }

packages=(libomniorb4-dev omniidl omniorb omniorb-idl libboost-program-options-dev libboost-dev
  libxml2-dev libxml2-utils libusb-1.0-0-dev libstatgrab-dev libsensors-dev libssl-dev
  libopenhpi-dev libglib2.0-dev openhpid openhpi-plugin-simulator openhpi-plugin-dynamic-simulator
  openhpi-clients libeigen3-dev libkissfft-dev pkg-config libgtest-dev libgmock-dev
  libbenchmark-dev cmake ninja-build ccache clang libclang-rt-14-dev g++ make dpkg-dev file)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

cd "$root"
cmake --preset "$preset" -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$jobs" ${targets[@]+--target "${targets[@]}"}
