# Linux on 64-bit Arm, with Debian's crossbuild-essential-arm64; what it builds
# runs under qemu-user (package qemu-user).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BITWORDS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64 -L /usr/aarch64-linux-gnu)
