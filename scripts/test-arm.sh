#!/usr/bin/env bash
# The ARM builds, cross-compiled with Debian's compilers against a sysroot of Debian's ARM
# packages (scripts/sysroot.sh) and run under qemu-user in that sysroot. armhf (32-bit ARM): the
# Release build in build-armhf/, the tree scripts/package.sh armhf packages, its whole test
# suite, a start (--help, /health and a sign-in), and its size and idle memory. arm64: the program
# alone and its start, in build-arm64/ (the code is the armhf suite's; its build without the tests
# keeps CI within its half hour). Installs what it needs (scripts/setup.sh cross); exits
# 75 when apt cannot download it (a mirror out of sync), as setup.sh and sysroot.sh do.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/lib/smoke.sh

# The figures the README quotes: the size of the stripped armhf program, and its resident
# memory idle under qemu-arm, one second after it started listening. qemu keeps the 32-bit
# program's address space below 4 GiB of its own: the Rss of those mappings in its smaps is the
# program's, without qemu's own memory.
measure_armhf() {
  local work pid resident
  work=$(mktemp -d)
  arm-linux-gnueabihf-strip -o "$work/relaydash" build-armhf/relaydash
  (cd "$work" && exec qemu-arm -L "$sysroot_armhf" ./relaydash --listen 127.0.0.1 --port 0 \
    --forwarderConfigPath "$root/$smoke_sample" --dataPath relaydash.sqlite3) >"$work/out" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    if grep -q '^Listening' "$work/out"; then break; fi
    sleep 0.1
  done
  sleep 1
  resident=$(awk '/^[0-9a-f]+-[0-9a-f]+ / { split($1, range, "-")
                    guest = length(range[2]) < 9 || range[2] == "100000000" }
                  /^Rss:/ { if (guest) kib += $2 }
                  END { print kib }' "/proc/$pid/smaps")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "armhf program: $(stat -c %s "$work/relaydash") bytes stripped;" \
    "idle under qemu-arm: $resident KiB resident"
  rm -rf "$work"
}

began=$SECONDS
took() { echo "== $1: $((SECONDS - began)) s"; began=$SECONDS; }

scripts/setup.sh cross
took "set-up"
scripts/sysroot.sh armhf
scripts/sysroot.sh arm64
sysroot_armhf=$root/.cache/sysroot/armhf
sysroot_arm64=$root/.cache/sysroot/arm64
took "sysroots"

echo "== armhf build (build-armhf/) and its test suite under qemu-arm"
scripts/build.sh build-armhf -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
took "armhf build"
ctest --test-dir build-armhf --output-on-failure -j2
smoke_test build-armhf/relaydash qemu-arm -L "$sysroot_armhf"
took "armhf tests under qemu"
measure_armhf

echo "== arm64 build (build-arm64/, the program alone) and its start under qemu-aarch64"
scripts/build.sh build-arm64 -DCMAKE_BUILD_TYPE=Release -DRELAYDASH_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
took "arm64 build"
smoke_test build-arm64/relaydash qemu-aarch64 -L "$sysroot_arm64"
took "arm64 start under qemu"
