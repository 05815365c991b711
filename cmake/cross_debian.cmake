# What both ARM toolchain files share: Debian's cross compiler for RELAYDASH_CROSS_TRIPLET,
# headers and libraries from the multiarch folders of that architecture, and qemu-user to run
# the programs built (the tests, and the tests' own child processes, go through it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${RELAYDASH_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${RELAYDASH_CROSS_TRIPLET})

# Libraries and packages only of the target's architecture; programs (qemu, cmake) of this one.
set(CMAKE_FIND_ROOT_PATH /usr/${RELAYDASH_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# qemu runs the programs with the target's loader and C library from the multiarch packages
# (libc6:armhf and so on, which SQLite and libsodium bring), and the test programs' libstdc++
# from libstdc++6:ARCH. Not with `-L /usr/TRIPLET`: that takes the cross compiler's loader,
# which crashes against the multiarch C library of another build.
find_program(RELAYDASH_QEMU ${RELAYDASH_CROSS_QEMU})
if(RELAYDASH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RELAYDASH_QEMU})
endif()
