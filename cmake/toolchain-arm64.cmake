# Cross build for 64-bit ARM gateways (Debian arm64) with Debian's cross compiler
# (g++-aarch64-linux-gnu). SQLite, libsodium and GoogleTest come from Debian's arm64 packages,
# installed beside this machine's own (multiarch: libsqlite3-dev:arm64 and so on).
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(RELAYDASH_CROSS_TRIPLET aarch64-linux-gnu)
set(RELAYDASH_CROSS_QEMU qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross_debian.cmake)
