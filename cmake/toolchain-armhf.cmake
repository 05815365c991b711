# Cross build for 32-bit ARM gateways (Debian armhf) with Debian's cross compiler
# (g++-arm-linux-gnueabihf). SQLite, libsodium and GoogleTest come from Debian's armhf packages,
# installed beside this machine's own (multiarch: libsqlite3-dev:armhf and so on).
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(RELAYDASH_CROSS_TRIPLET arm-linux-gnueabihf)
set(RELAYDASH_CROSS_QEMU qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross_debian.cmake)
