// Plain POSIX descriptor input and output, apart from the date code: reads
// and writes that go on after an interruption or a partial transfer, and a
// close whose failure is an error too. Each returns 0 or the errno of what
// failed. Internal to the library.
#pragma once

#include <cstddef>

namespace bitwords::detail {

// Writes all of the bytes to the descriptor, going on after a partial
// write, and waiting (poll) where the descriptor is non-blocking and full.
int writeAll(int fd, const char* data, std::size_t size) noexcept;

// Reads up to size bytes, going on after an interruption; count receives
// the bytes read (0 at the end of the file).
int readSome(int fd, char* data, std::size_t size, std::size_t& count) noexcept;

// Closes the descriptor. A file system may report here a write that
// failed late (NFS, say).
int closeFile(int fd) noexcept;

}  // namespace bitwords::detail
