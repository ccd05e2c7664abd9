// The library's edge: all that it and datelist ask of the operating system,
// in a few calls, so that the date code itself takes bytes, records and a
// memory budget, and gives records and text. Internal to the library.
//
//   edge_lock.cpp    a file's lock, taken in turn, with a bounded wait
//   edge_read.cpp    a date file read under the shared lock
//   edge_append.cpp  a line appended under the exclusive one
//   edge_memory.cpp  the memory budget of a load, huge pages
//   edge_io.cpp      descriptor output (output.hpp)
//
// Every call returns 0 or the errno of what failed, and none raises a
// signal in the caller or leaves one pending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bitwords::detail {

// A file open for reading, under its shared lock.
struct ReadingFile {
  int fd = -1;
  // A regular file's size when its lock was taken, which it is read up to;
  // UINT64_MAX for a file read to its end (a FIFO).
  std::uint64_t size = UINT64_MAX;
  std::uint64_t read = 0;  // bytes read so far
};

// Opens the file at path for reading and, a regular file, takes its shared
// lock in turn: 0, or the errno of the open; EWOULDBLOCK where the turn did
// not come within waitSeconds in all. Where the file system has no locks,
// it goes on without. A FIFO is opened as any reader opens it, waiting for
// a writer, and read without a lock: each line comes whole in its write.
[[nodiscard]] int openToRead(ReadingFile& file, const char* path, int waitSeconds) noexcept;

// Reads the file's next bytes, at most room of them, into `into`; count
// receives how many, 0 at the end. A regular file ends at the size it had
// when its lock was taken: appenders that take the lock cannot have added
// to it, and what a writer that takes none adds meanwhile need not be seen.
[[nodiscard]] int readMore(ReadingFile& file, char* into, std::size_t room,
                           std::size_t& count) noexcept;

// Closes the file that openToRead opened, which releases its lock.
void closeReading(ReadingFile& file) noexcept;

// The longest line an append takes, well under PIPE_BUF, so that a FIFO
// takes it whole.
inline constexpr std::size_t maxAppendLine = 32;

// Appends the line (ending in a line feed; at most maxAppendLine bytes, or
// EINVAL) to
// the file at path in one write, by appendDate's rules (datefile.hpp),
// waiting at most waitSeconds in all for the file's lock or for room in a
// FIFO: 0, or the errno of what failed.
[[nodiscard]] int appendLine(const char* path, const char* line, std::size_t size,
                             int waitSeconds) noexcept;

// The bytes a load may take for its records, at most `wanted`: what is left
// under the process's address-space limits, under the limits of its memory
// cgroup and every group above (counting the page cache that the kernel
// can reclaim as free, but not shared memory or tmpfs), and of the
// machine's memory, less a margin for the rest of the process. A small want
// is granted without a look.
[[nodiscard]] std::size_t memoryBudget(std::size_t wanted) noexcept;

// What is left under one memory cgroup's limit, from the text of its limit
// file (v2's memory.max, v1's memory.limit_in_bytes), of its usage file and
// of its memory.stat: the limit less what the group takes beside the page
// cache that the kernel can reclaim. UINT64_MAX where it has no limit.
[[nodiscard]] std::uint64_t leftInGroup(std::string_view limit, std::string_view usage,
                                        std::string_view stat, bool v1) noexcept;

// Asks for transparent huge pages for the whole mapping of a large heap
// block, so that its first touch costs a fault per 2 MiB rather than per
// 4 KiB. A hint only, given for the mapping as a whole, so that the heap
// can still move it as it grows or shrinks.
void preferHugePages(void* block) noexcept;

}  // namespace bitwords::detail
