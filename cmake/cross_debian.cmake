# What both ARM toolchain files share: Debian's cross compiler for RELAYDASH_CROSS_TRIPLET, the
# target's headers and libraries from a sysroot made of Debian's own packages of that
# architecture (scripts/sysroot.sh RELAYDASH_DEBIAN_ARCH, never this machine's multiarch), and
# qemu-user to run the programs built in that sysroot (the tests, and the tests' own child
# processes, go through it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${RELAYDASH_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${RELAYDASH_CROSS_TRIPLET})

# .cache/sysroot/ARCH of the source tree unless RELAYDASH_SYSROOT names another. The checks
# that configuring runs (try_compile) read this file again: they are handed the same sysroot.
set(RELAYDASH_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../.cache/sysroot/${RELAYDASH_DEBIAN_ARCH}"
    CACHE PATH "The ${RELAYDASH_DEBIAN_ARCH} sysroot that scripts/sysroot.sh makes")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RELAYDASH_SYSROOT)
# Its real path: the one dpkg-shlibdeps finds the libraries' packages by (packaging/).
get_filename_component(CMAKE_SYSROOT "${RELAYDASH_SYSROOT}" REALPATH)
# The stamp is written last: a sysroot without it is not finished.
if(NOT EXISTS "${CMAKE_SYSROOT}/.stamp")
  message(FATAL_ERROR "No ${RELAYDASH_DEBIAN_ARCH} sysroot at ${CMAKE_SYSROOT}: "
                      "run scripts/sysroot.sh ${RELAYDASH_DEBIAN_ARCH}")
endif()

# Libraries, headers and packages only in the sysroot; programs (qemu, cmake) of this machine.
set(CMAKE_FIND_ROOT_PATH "${CMAKE_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The cross compiler brings its own copy of the target's C and C++ libraries
# (/usr/TRIPLET/lib) and searches it before the sysroot. The libraries a program links are
# those the sysroot holds, the ones qemu runs it with and dpkg-shlibdeps reads: their folders
# come first.
# (This file is read more than once: set, not appended.)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-L${CMAKE_SYSROOT}/lib/${RELAYDASH_CROSS_TRIPLET} \
-L${CMAKE_SYSROOT}/usr/lib/${RELAYDASH_CROSS_TRIPLET}")
endforeach()

# qemu runs the programs with the sysroot's loader and libraries (-L: the target's absolute
# paths are looked up in the sysroot first): the C library, libstdc++ for the tests, and SQLite,
# libsodium and OpenSSL, which the program opens at start from the loader's default folders
# (/usr/lib/TRIPLET), as on a board. The sysroot's path must hold no space: the tests split this
# command line on spaces (tests/support/own_program.hpp).
find_program(RELAYDASH_QEMU ${RELAYDASH_CROSS_QEMU})
if(RELAYDASH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RELAYDASH_QEMU} -L ${CMAKE_SYSROOT})
endif()
