// The date file: a text of packed date words in decimal, one per line as
// the appender writes them ("%d\n").
//
// The loader reads a wider form: values separated by any run of white space
// (space, \t, \n, \v, \f, \r), each an optional sign and one or more decimal
// digits (leading zeros allowed), the last one with or without a line feed.
// It decodes every value into a Date record of one heap block, in file order,
// and ends the block with a terminator record of three zeros.
#pragma once

#include <cstddef>

#include "datelist/datecodec.hpp"
#include "datelist/loadresult.hpp"

namespace bitwords {

// Loads the date file at path into a new block of Date records and stores
// its address in *dates (the previous value is overwritten, not released).
// The caller owns the block and releases it with std::free. *dates holds a
// terminated array whenever this returns, except when not even the
// terminator could be allocated: then it is null and the status outOfMemory.
// A load stops at the first bad token, read error or allocation failure,
// keeping the records read before it. It reads under a shared advisory
// lock (flock), so that it never sees a line half written by appendDate.
LoadResult loadDates(Date** dates, const char* path) noexcept;

// The loader's parsing on a text already in memory: the same records and the
// same outcome as loading a file with these bytes.
LoadResult parseDates(Date** dates, const char* text, std::size_t size) noexcept;

// Appends the date to the date file at path as one line "%d\n" of its packed
// word, creating the file if needed. Returns 0 on success, ERANGE without
// touching the file when a field does not fit its bit field (the word would
// hold another date), or the errno of what failed.
//
// - The line is written in one write, under an exclusive advisory lock
//   (flock) on a descriptor opened for appending: lines of concurrent
//   appenders never interleave, and loadDates never sees one half written.
// - A file whose last line is unfinished gets a line feed first, so that
//   its last value is not fused with the new one; so does a file whose last
//   byte cannot be read (opened write-only), where a spare line feed is
//   harmless white space.
// - A failed append leaves a regular file as it was: a write cut short (a
//   full disk) is cut back off, and one that would pass the file-size limit
//   (RLIMIT_FSIZE) is refused with EFBIG before it starts.
// - A FIFO that no process reads is refused with ENXIO.
int appendDate(Date date, const char* path) noexcept;

}  // namespace bitwords
