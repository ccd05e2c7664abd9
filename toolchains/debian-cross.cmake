# Shared by the cross toolchain files: a Debian cross compiler
# (crossbuild-essential-<arch>) for the GNU triple in BITWORDS_TRIPLE, its
# libraries and headers under /usr/<triple>, and the emulator that runs
# what it builds (CMAKE_CROSSCOMPILING_EMULATOR, set by the including file).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${BITWORDS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${BITWORDS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# GoogleTest is built from the sources that libgtest-dev ships, with this
# compiler.
set(BITWORDS_GTEST_SOURCES /usr/src/googletest)
