#!/usr/bin/env bash
# package.sh ARCH: builds the Release program for ARCH (amd64, armhf or arm64) and its Debian
# package, dist/relaydash_VERSION_ARCH.deb. amd64 is built with this machine's g++ in build/
# (the tree scripts/test.sh tests), armhf and arm64 with Debian's cross compilers in
# build-armhf/ (the tree scripts/test-arm.sh tests) and build-arm64/. Installs what it needs
# (scripts/setup.sh --cross: the cross compilers, the ARM libraries, dpkg-shlibdeps).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
arch=${1:-}
case $arch in
  amd64) dir=build; options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++) ;;
  armhf) dir=build-armhf; options=(-DCMAKE_BUILD_TYPE=Release
                                   -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake) ;;
  # No GoogleTest for arm64 here: that build is started under qemu, its suite is not run.
  arm64) dir=build-arm64; options=(-DCMAKE_BUILD_TYPE=Release -DRELAYDASH_TESTS=OFF
                                   -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake) ;;
  *) echo "usage: scripts/package.sh amd64|armhf|arm64" >&2; exit 2 ;;
esac

scripts/setup.sh --cross >/dev/null
scripts/build.sh "$dir" "${options[@]}"
rm -rf "$dir/cpack"
cpack --config "$dir/CPackConfig.cmake" -B "$dir/cpack" >/dev/null
mkdir -p dist
debs=("$dir"/cpack/relaydash_*_"$arch".deb)
mv "${debs[@]}" dist/
echo "package: dist/$(basename "${debs[0]}")"
