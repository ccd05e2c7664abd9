# Linux on 32-bit x86, with Debian's crossbuild-essential-i386. What it
# builds runs natively where the kernel runs 32-bit programs (through the
# cross libraries' own dynamic loader, so that the machine needs no i386
# packages), and under qemu-user (qemu-i386) where it does not.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BITWORDS_TRIPLE i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
set(loader /usr/i686-linux-gnu/lib/ld-linux.so.2)
execute_process(COMMAND ${loader} --version RESULT_VARIABLE runs_natively OUTPUT_QUIET
                ERROR_QUIET)
if(runs_natively EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${loader} --library-path /usr/i686-linux-gnu/lib)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386 -L /usr/i686-linux-gnu)
endif()
