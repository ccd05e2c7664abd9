# Linux on 32-bit x86, with Debian's crossbuild-essential-i386. What it
# builds is linked statically and runs under qemu-user (qemu-i386): where
# the kernel runs no 32-bit program, dynamically linked ones hang at fork
# under qemu-i386, while statically linked ones run, threads, fork and exec
# included.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BITWORDS_TRIPLE i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386)
