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
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

#include "datelist/api.hpp"
#include "datelist/datecodec.hpp"
#include "datelist/loadresult.hpp"

namespace bitwords {

// The most a load or an append waits for the file's lock, in all, however
// many holders it waits behind: a busy timeout, so that a stream of holders
// cannot keep it waiting without end. An append to a FIFO waits as long
// for room.
inline constexpr int lockWaitSeconds = 5;

// Loads the date file at path into a new block of Date records and stores
// its address in *dates (the previous value is overwritten, not released).
// The caller owns the block and releases it with std::free. *dates holds a
// terminated array whenever this returns, except when not even the
// terminator could be allocated: then it is null and the status outOfMemory.
// A load stops at the first bad token, read error or allocation failure,
// keeping the records read before it; its memory is what is left under the
// process's address-space limits, its memory cgroup's limit and the
// machine's memory. It reads under a shared advisory lock (flock), so that
// it never sees a line half written by appendDate, taken in turn: loads and
// appends queue fairly, and a load gives up (status locked) where its turn
// does not come within lockWaitSeconds. Record locks (lockf, fcntl) on the
// file, the caller's own among them, hold it up in no way. Where the file
// system has no locks, it reads without. A regular file is read as it was
// when the lock was taken; a FIFO is read as it is written.
[[nodiscard]] BITWORDS_API LoadResult loadDates(Date** dates, const char* path) noexcept;

// The loader's parsing on a text already in memory: the same records and the
// same outcome as loading a file with these bytes.
[[nodiscard]] BITWORDS_API LoadResult parseDates(Date** dates, const char* text,
                                                 std::size_t size) noexcept;

// Appends the date to the date file at path as one line "%d\n" of its packed
// word, creating the file if needed. Returns 0 on success, ERANGE without
// touching the file when a field does not fit its bit field (the word would
// hold another date), or the errno of what failed.
//
// - The line is written in one write, under an exclusive advisory lock
//   (flock) taken in turn: lines of concurrent appenders never interleave,
//   and loadDates never sees one half written. A turn that does not come
//   within lockWaitSeconds, or a FIFO that stays full that long, gives
//   EWOULDBLOCK, with nothing written. Record locks (lockf, fcntl) hold it
//   up in no way. Where the file system has no locks, the append goes on
//   without.
// - A file that is not there is made with the line in it, and left unmade
//   where the append is refused (but on file systems without O_TMPFILE).
// - A file whose last line is unfinished gets a line feed first, so that
//   its last value is not fused with the new one; so does a file whose last
//   byte cannot be read (write-only to the caller), where a spare line feed
//   is harmless white space.
// - A failed append leaves a regular file as it was: its room is reserved
//   first (fallocate), so that a full disk or quota refuses it (ENOSPC,
//   EDQUOT) before anything is written; one that would pass the file-size
//   limit (RLIMIT_FSIZE) is refused with EFBIG; where the file system
//   cannot reserve, a write cut short is cut back off (its own bytes, while
//   they are the file's last) and reported as ENOSPC, and an append-only
//   file, which cannot be cut back, is refused with ENOSPC before the write
//   where the free space may not take the line.
// - A FIFO that no process reads is refused with ENXIO; one whose reader
//   leaves gives EPIPE, and no SIGPIPE reaches the caller. The line goes
//   to a FIFO whole or not at all.
// - The open waits for a lease on the file to be broken, as any open does.
[[nodiscard]] BITWORDS_API int appendDate(Date date, const char* path) noexcept;

// The category of appendDate's results: errno values, which compare equal
// to std::errc's, in the C library's words, but for EWOULDBLOCK, which
// appendDate gives where the file's lock did not come (or a FIFO stayed
// full) within lockWaitSeconds.
[[nodiscard]] BITWORDS_API const std::error_category& appendCategory() noexcept;

// appendDate's result as an error code: appendErrorCode(appendDate(d,
// path)).message() says what went wrong; false where nothing did.
[[nodiscard]] inline std::error_code appendErrorCode(int error) noexcept {
  return {error, appendCategory()};
}

// ---- A block that frees itself

// Frees a block that loadDates or parseDates allocated.
struct FreeDates {
  void operator()(Date* block) const noexcept { std::free(block); }
};

// A loaded date file: its block, which frees itself, and how the load
// ended.
struct LoadedDates {
  std::unique_ptr<Date[], FreeDates> block;
  LoadResult result;
};

// The dates of a load, before its terminator: as many as it read.
[[nodiscard]] inline std::span<const Date> datesOf(const LoadedDates& loaded) noexcept {
  return {loaded.block.get(), loaded.block ? loaded.result.count : 0};
}

// loadDates and parseDates, for a block that frees itself.
[[nodiscard]] inline LoadedDates loadDates(const char* path) noexcept {
  Date* dates = nullptr;
  const LoadResult result = loadDates(&dates, path);
  return {std::unique_ptr<Date[], FreeDates>(dates), result};
}

[[nodiscard]] inline LoadedDates parseDates(std::string_view text) noexcept {
  Date* dates = nullptr;
  const LoadResult result = parseDates(&dates, text.data(), text.size());
  return {std::unique_ptr<Date[], FreeDates>(dates), result};
}

}  // namespace bitwords
