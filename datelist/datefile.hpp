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
//
// Loads and appends take the file's flock(2) lock in turn, through a queue
// kept with open file description locks (F_OFD_SETLK) on the bytes at
// 2^62 and 2^62 + 1, which share their space with every record lock
// (lockf, fcntl F_SETLK) on the file, the caller's own among them. While a
// record lock covers those bytes (any lockf of the whole file does), loads
// and appends still end within the wait but take no turns, and an append
// beside loads back to back can give up; that lock's owner, asking without
// waiting, can be refused (EAGAIN) while loads and appends run, and waits
// for them where it waits. Another's open file description lock on exactly
// those bytes is taken for the queue's own: loads and appends wait the whole
// bound and give up. A process stopped while it waits in the queue keeps its
// place: those that come after it wait the whole bound and give up.
inline constexpr int lockWaitSeconds = 5;

// Loads the date file at path into a new block of Date records and stores
// its address in *dates (the previous value is overwritten, not released).
// The caller owns the block and releases it with std::free. *dates holds a
// terminated array whenever this returns, except when not even the
// terminator could be allocated: then it is null and the status outOfMemory.
// A load stops at the first bad token, read error or allocation failure,
// keeping the records read before it; its memory is what is left under the
// process's address-space limits, its memory cgroup's limit and the
// machine's memory (a load that needs at most a page takes it without a
// look). It reads under a shared advisory lock (flock), so that it never
// sees a line half written by appendDate, taken in turn: loads and appends
// queue fairly (but see lockWaitSeconds), and a load gives up (status
// locked) where its turn does not come within lockWaitSeconds. Where the
// file system has no locks, it reads without. A regular file is read as it
// was when the lock was taken; a FIFO is read as it is written.
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
//   EWOULDBLOCK, with nothing written. Where the file system has no locks,
//   the append goes on without.
// - A file that is not there is made with the line in it, also where path
//   is a symbolic link to it (ENOENT where its folder is not there either,
//   ELOOP for a loop of links), as a shell's >> makes it. It is made whole,
//   and left unmade where the append is refused, but where it has to be
//   made by its name (a file system without O_TMPFILE; a kernel before
//   Linux 6.10 without /proc): there a refused append can leave an empty
//   file, and a load meanwhile can find it empty.
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
// to std::errc's, in reasonText()'s words (loadresult.hpp).
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
