// Descriptor output as datelist does it, for programs that list dates:
// whole writes, a close that reports a late failure, and the listing of an
// array written through a buffer of its own. Each returns 0 or the errno
// of what failed, in words by reasonText() (loadresult.hpp).
#pragma once

#include <cstddef>

#include "datelist/api.hpp"
#include "datelist/datecodec.hpp"

namespace bitwords {

// Writes all of the bytes to the descriptor, going on after an
// interruption or a partial write, and waiting where the descriptor is
// non-blocking and full. A write that takes no byte (a broken device or
// FUSE file system can give one) is ENOSPC, as no room is left. A closed
// pipe raises SIGPIPE, as for any filter.
[[nodiscard]] BITWORDS_API int writeAll(int fd, const char* data, std::size_t size) noexcept;

// Closes the descriptor. A file system may report here a write that failed
// late (NFS, say).
[[nodiscard]] BITWORDS_API int closeOutput(int fd) noexcept;

// Writes the listing text of the count dates, up to the first whose year
// is 0, to the descriptor, as writeAll does, through a buffer taken for it
// of the listing's size up to 256 KiB (or, where memory is short, a small
// one of its own).
[[nodiscard]] BITWORDS_API int writeDates(int fd, const Date* dates, std::size_t count) noexcept;

}  // namespace bitwords
