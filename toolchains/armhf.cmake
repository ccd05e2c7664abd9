# Linux on 32-bit Arm (hard float), with Debian's crossbuild-essential-armhf; what it builds
# runs under qemu-user (package qemu-user).
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(BITWORDS_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm -L /usr/arm-linux-gnueabihf)
