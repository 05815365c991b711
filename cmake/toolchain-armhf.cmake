# Cross build for 32-bit ARM gateways (Debian armhf) with Debian's cross compiler
# (g++-arm-linux-gnueabihf). The C library, SQLite, libsodium, OpenSSL and GoogleTest come
# from Debian's armhf packages unpacked into a sysroot, .cache/sysroot/armhf (scripts/sysroot.sh
# armhf; -DRELAYDASH_SYSROOT=DIR names another), and the programs run under qemu-arm in it.
#   scripts/sysroot.sh armhf
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(RELAYDASH_CROSS_TRIPLET arm-linux-gnueabihf)
set(RELAYDASH_DEBIAN_ARCH armhf)
set(RELAYDASH_CROSS_QEMU qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross_debian.cmake)
