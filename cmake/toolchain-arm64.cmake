# Cross build for 64-bit ARM gateways (Debian arm64) with Debian's cross compiler
# (g++-aarch64-linux-gnu). The C library, SQLite, libsodium, OpenSSL and GoogleTest come
# from Debian's arm64 packages unpacked into a sysroot, .cache/sysroot/arm64 (scripts/sysroot.sh
# arm64; -DRELAYDASH_SYSROOT=DIR names another), and the programs run under qemu-aarch64 in it.
#   scripts/sysroot.sh arm64
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(RELAYDASH_CROSS_TRIPLET aarch64-linux-gnu)
set(RELAYDASH_DEBIAN_ARCH arm64)
set(RELAYDASH_CROSS_QEMU qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross_debian.cmake)
