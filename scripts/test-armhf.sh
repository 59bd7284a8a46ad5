#!/usr/bin/env bash
# Cross-builds fusekit for 32-bit ARM Linux (arm-linux-gnueabihf) in build-armhf/ and runs the
# whole test suite there under qemu-user. Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== cross-build for arm-linux-gnueabihf and test under qemu-user =="
cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake >/dev/null
cmake --build build-armhf -j "$jobs"
ctest --test-dir build-armhf --output-on-failure -j "$jobs"
