#include "datelist/datefile.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "datelist/dateparse.hpp"
#include "datelist/fdio.hpp"

namespace bitwords {
namespace {

using detail::closeFile;
using detail::DateParser;
using detail::writeAll;

// Takes an advisory lock on the open file, waiting for it, and again after
// a signal. Best effort: where the file system has no locks (no test here
// has one), loading and appending go on without.
void lockFile(int fd, int operation) noexcept {
  while (::flock(fd, operation) != 0 && errno == EINTR) {
  }
}

// Whether the last of the `size` bytes of the regular file open on fd is a
// line feed. The descriptor is open for writing only, so the byte is read
// through a second descriptor of the same file; a file that cannot be read
// (no read permission, no /proc) counts as not ending in one.
bool endsWithLineFeed(int fd, off_t size) noexcept {
  char name[32];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  const int reader = ::open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (reader < 0) return false;
  // A read that fails leaves `last` as it is, not a line feed.
  char last = 0;
  static_cast<void>(::pread(reader, &last, 1, size - 1));
  ::close(reader);
  return last == '\n';
}

// Whether `more` bytes after `size` would pass the process's file-size
// limit. The write would stop part way there, and the signal it raises
// would end the process with the fragment in the file.
bool passesSizeLimit(off_t size, std::size_t more) noexcept {
  // getrlimit cannot fail for this resource; the limit stays unlimited if
  // it did.
  rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
  static_cast<void>(::getrlimit(RLIMIT_FSIZE, &limit));
  return limit.rlim_cur != RLIM_INFINITY && static_cast<rlim_t>(size) + more > limit.rlim_cur;
}

// Appends the line of the word to the file open on fd, under the
// exclusive lock. A write that fails part way is cut back off, so that the
// file reads as before and its fragment cannot join the next line.
int appendLine(int fd, PackedDate word) noexcept {
  // Writes block as usual: only the open had to fail rather than wait.
  // Neither this nor fstat can fail on a descriptor just opened; if they
  // did, a write to a full FIFO would report EAGAIN, and the file would be
  // taken as not regular: no line feed first, no cutting back.
  static_cast<void>(::fcntl(fd, F_SETFL, O_APPEND));
  lockFile(fd, LOCK_EX);
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  const bool regular = S_ISREG(info.st_mode);

  // A line feed where the last line may be unfinished (harmless white space
  // where it was not), an in-range word of at most seven digits, a line feed.
  char line[16];
  char* at = line;
  if (regular && info.st_size > 0 && !endsWithLineFeed(fd, info.st_size)) *at++ = '\n';
  at = std::to_chars(at, line + sizeof line, word).ptr;
  *at++ = '\n';
  const auto size = static_cast<std::size_t>(at - line);

  if (regular && passesSizeLimit(info.st_size, size)) return EFBIG;
  const int error = writeAll(fd, line, size);
  if (error != 0 && regular) {
    // Back to the size it had when the lock was taken. Nothing to do if
    // this fails too: the write's error is the one to report.
    static_cast<void>(::ftruncate(fd, info.st_size));
  }
  return error;
}

}  // namespace

LoadResult parseDates(Date** dates, const char* text, std::size_t size) noexcept {
  DateParser parser{};
  detail::feedDates(parser, text, size);
  return detail::finishDates(parser, dates);
}

LoadResult loadDates(Date** dates, const char* path) noexcept {
  DateParser parser{};
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    detail::stopDates(parser, LoadStatus::cannotOpen, errno);
    return detail::finishDates(parser, dates);
  }
  // Appenders hold the exclusive lock while they write, so under the shared
  // one every line they wrote is whole. Closing the file releases it.
  lockFile(fd, LOCK_SH);
  // A regular file's size bounds its values: the block is sized once.
  // (fstat cannot fail on a descriptor just opened; if it did, the block
  // would grow as for a pipe.)
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    // A size past what size_t holds (on a 32-bit machine) is no less big.
    const auto size = static_cast<std::uint64_t>(info.st_size);
    detail::expectBytes(parser, size > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(size));
  }
  // The file's blocks are parsed where they are read, with no copy, in a
  // block on the heap rather than the stack.
  constexpr std::size_t blockSize = detail::blockSize;
  char* const block = static_cast<char*>(std::malloc(blockSize + detail::blockPadding));
  if (block == nullptr) detail::stopDates(parser, LoadStatus::outOfMemory, ENOMEM);
  while (block != nullptr) {
    std::size_t n = 0;
    if (const int error = detail::readSome(fd, block, blockSize, n)) {
      detail::stopDates(parser, LoadStatus::readError, error);
      break;
    }
    if (n == 0 || !detail::feedBlock(parser, block, n)) break;
  }
  std::free(block);
  ::close(fd);
  return detail::finishDates(parser, dates);
}

int appendDate(Date date, const char* path) noexcept {
  if (!fieldsInRange(date)) return ERANGE;
  // Opened for writing only and without waiting, so that a FIFO with no
  // reader fails (ENXIO) instead of taking a date that no one will read.
  const int fd =
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return errno;
  const int error = appendLine(fd, packDate(date));
  // Closing releases the lock; where it fails the line may be lost.
  const int closed = closeFile(fd);
  return error != 0 ? error : closed;
}

}  // namespace bitwords
