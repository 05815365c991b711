#!/usr/bin/env bash
# The ARM builds, cross-compiled with Debian's compilers and run under qemu-user. armhf (32-bit
# ARM): the Release build in build-armhf/, the tree scripts/package.sh armhf packages, and its
# whole test suite. arm64: the Release build in build-arm64/, started: --help, /health and a
# sign-in. Installs what it needs (scripts/setup.sh --cross).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/smoke.sh

scripts/setup.sh --cross
began=$SECONDS
took() { echo "== $1: $((SECONDS - began)) s"; began=$SECONDS; }

echo "== armhf build (build-armhf/) and its test suite under qemu-arm"
scripts/build.sh build-armhf -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
took "armhf build"
ctest --test-dir build-armhf --output-on-failure -j2
smoke_test build-armhf/relaydash qemu-arm
took "armhf tests under qemu"

echo "== arm64 build (build-arm64/) started under qemu-aarch64"
scripts/build.sh build-arm64 -DCMAKE_BUILD_TYPE=Release -DRELAYDASH_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
smoke_test build-arm64/relaydash qemu-aarch64
took "arm64 build and start"
