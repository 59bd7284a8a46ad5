#!/usr/bin/env bash
# Installs the Debian packages that building and testing fusekit need, when any is missing.
# Run as root (as on a fresh machine or in CI); otherwise it only says what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config binutils libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev util-linux
          # the ARM cross build: compiler and binutils, GoogleTest's sources to build for it,
          # the emulator that runs its tests; GNU time for the footprint measures
          g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf googletest qemu-user-static time
          "$@")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing Debian packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
