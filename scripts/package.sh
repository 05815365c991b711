#!/usr/bin/env bash
# package.sh ARCH: builds the Release program for ARCH (amd64, armhf or arm64) and its Debian
# package, dist/relaydash_VERSION_ARCH.deb. amd64 is built with this machine's g++ in build/
# (the tree scripts/test.sh tests), armhf and arm64 with Debian's cross compilers against the
# sysroot of Debian's ARM packages that scripts/sysroot.sh makes, in build-armhf/ and
# build-arm64/ (the trees scripts/test-arm.sh tests). Installs what it needs (scripts/setup.sh
# package, and cross for ARM); exits 75 when apt cannot download it (a mirror out of sync).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
arch=${1:-}
case $arch in
  amd64) dir=build; options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++) ;;
  armhf) dir=build-armhf; options=(-DCMAKE_BUILD_TYPE=Release
                                   -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake) ;;
  arm64) dir=build-arm64; options=(-DCMAKE_BUILD_TYPE=Release -DRELAYDASH_TESTS=OFF
                                   -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake) ;;
  *) echo "usage: scripts/package.sh amd64|armhf|arm64" >&2; exit 2 ;;
esac

if [[ $arch == amd64 ]]; then
  scripts/setup.sh package >/dev/null
else
  scripts/setup.sh cross package >/dev/null
  scripts/sysroot.sh "$arch" >/dev/null
fi
scripts/build.sh "$dir" "${options[@]}"
rm -rf "$dir/cpack"
cpack --config "$dir/CPackConfig.cmake" -B "$dir/cpack" >/dev/null
mkdir -p dist
debs=("$dir"/cpack/relaydash_*_"$arch".deb)
mv "${debs[@]}" dist/
echo "package: dist/$(basename "${debs[0]}")"
