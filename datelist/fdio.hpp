// Plain POSIX descriptor input and output, apart from the date code: reads
// and writes that go on after an interruption or a partial transfer, and a
// close whose failure is an error too.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Writes all of the bytes to the descriptor, going on after a partial
// write. Returns 0, or the errno of the write that failed.
int writeAll(int fd, const char* data, std::size_t size) noexcept;

// Reads up to size bytes, going on after an interruption. Returns the bytes
// read (0 at the end of the file), or -1 with errno set.
ssize_t readSome(int fd, char* data, std::size_t size) noexcept;

// Closes the descriptor. Returns 0, or the errno of the close: a file
// system may report there a write that failed late (NFS, say).
int closeFile(int fd) noexcept;
