#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing the client needs; with the
# argument "slurm" also the scheduler and its authentication daemon that scripts/slurm-test-cluster.sh
# runs. Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ pkg-config clang-format
  # libFuzzer targets: clang with its runtime
  clang libclang-rt-14-dev
  # libraries
  qtbase5-dev libqt5websockets5-dev libqt5opengl5-dev
  libexiv2-dev libheif-dev libturbojpeg0-dev libjpeg-dev libboost-dev
  libgeographiclib-dev libcereal-dev rapidjson-dev libeigen3-dev
  libgtest-dev libgmock-dev libssl-dev openssl
  # the local service's real structure-from-motion engine (CPU only)
  colmap
  # dense stereo on the CPU: rectification and semi-global matching
  libopencv-dev
  # headless display and software OpenGL for the client and its GL tests
  xvfb xauth libgl1-mesa-dri
  # command-line views used to cross-check metadata by hand
  exiv2 libheif-examples
)
if [ "${1:-}" = slurm ]; then
  packages+=(slurm-wlm munge)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -o DPkg::Lock::Timeout=300
$sudo apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
