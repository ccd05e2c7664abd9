# Linux on IBM Z (big-endian), with Debian's crossbuild-essential-s390x; what it builds
# runs under qemu-user (package qemu-user).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(BITWORDS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-s390x -L /usr/s390x-linux-gnu)
