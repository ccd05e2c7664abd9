# Linux on 32-bit x86, with Debian's crossbuild-essential-i386. What it
# builds runs natively on an x86-64 kernel: through the cross libraries'
# own dynamic loader, so that the machine needs no i386 packages.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BITWORDS_TRIPLE i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/i686-linux-gnu/lib/ld-linux.so.2 --library-path
                                  /usr/i686-linux-gnu/lib)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
