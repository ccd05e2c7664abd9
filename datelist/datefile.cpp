#include "datelist/datefile.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>

#include "datelist/dateparse.hpp"
#include "datelist/fdio.hpp"

namespace bitwords {
namespace {

using detail::closeFile;
using detail::DateParser;
using detail::writeAll;

// Takes an advisory lock on the open file, waiting at most lockWait for
// another process to release it: 0 once it is held, EWOULDBLOCK if it was
// not released in time. Where the file system has no locks (ENOLCK, or
// EOPNOTSUPP on some network file systems), loading and appending go on
// without. The wait polls, first often and then less, as a lock held for
// an append is held for microseconds and one held for a load of a large
// file for a fraction of a second.
std::int64_t nanoseconds() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int lockFile(int fd, int operation) noexcept {
  std::int64_t deadline = 0;
  long pause = 100'000;  // nanoseconds
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK) return 0;
    // The clock is read only once the lock is found taken.
    const std::int64_t now = nanoseconds();
    if (deadline == 0) deadline = now + std::int64_t{lockWaitSeconds} * 1'000'000'000;
    if (now >= deadline) return EWOULDBLOCK;
    const timespec wait{0, pause};
    ::nanosleep(&wait, nullptr);
    if (pause < 20'000'000) pause *= 2;
  }
}

// Opens the file for appending, creating it if needed. Readable where
// permitted, so that its last byte can be read through this descriptor;
// write-only where it may not be read, and for a FIFO, whose write-only
// open without waiting fails (ENXIO) where no process reads it, rather than
// taking a date that no one will read. Other opens wait, as any open does,
// for a lease on the file (F_SETLEASE) to be broken. Returns the
// descriptor, with readable set, or -1 with errno set.
int openForAppend(const char* path, bool& readable) noexcept {
  constexpr int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY;
  struct stat named {};
  const bool fifo = ::stat(path, &named) == 0 && S_ISFIFO(named.st_mode);
  readable = false;
  if (!fifo) {
    const int fd = ::open(path, O_RDWR | flags, 0666);
    if (fd >= 0) {
      // (fstat cannot fail on a descriptor just opened.)
      struct stat opened {};
      static_cast<void>(::fstat(fd, &opened));
      if (!S_ISFIFO(opened.st_mode)) {
        readable = true;
        return fd;
      }
      ::close(fd);  // a FIFO put in its place meanwhile
    }
  }
  int fd = ::open(path, O_WRONLY | O_NONBLOCK | flags, 0666);
  // A lease on a regular file makes the open fail rather than wait.
  if (fd < 0 && errno == EWOULDBLOCK) fd = ::open(path, O_WRONLY | flags, 0666);
  // Writes block as usual: only the open had to fail rather than wait.
  // (This cannot fail on a descriptor just opened; if it did, a write to a
  // full FIFO would wait for it to drain.)
  if (fd >= 0) static_cast<void>(::fcntl(fd, F_SETFL, O_APPEND));
  return fd;
}

// Whether the last of the `size` bytes of the regular file open on fd is a
// line feed; a file that cannot be read counts as not ending in one.
bool endsWithLineFeed(int fd, bool readable, off_t size) noexcept {
  if (!readable) return false;
  // A read that fails leaves `last` as it is, not a line feed.
  char last = 0;
  static_cast<void>(::pread(fd, &last, 1, size - 1));
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

// Reserves the blocks of `more` bytes past the end of the file without
// changing its size, so that a full disk (or quota) refuses the append
// before any of it is written: an append-only file could not be cut back.
// Returns 0, or the errno of the refusal; a file system without the call
// goes on without it.
int reserveRoom(int fd, off_t size, std::size_t more) noexcept {
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, size, static_cast<off_t>(more)) == 0) return 0;
  return errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? errno : 0;
}

// Writes the line to the regular file in one write. A write cut short (no
// room, where the space could not be reserved) is cut back off, and only
// its own bytes, and only while they are the file's last: a writer that
// takes no lock may have appended before them, or after. The file system
// does not say why it stopped: at the file-size limit it is EFBIG, and
// otherwise reported as ENOSPC.
int writeToFile(int fd, const char* line, std::size_t size) noexcept {
  ssize_t n = 0;
  while ((n = ::write(fd, line, size)) < 0 && errno == EINTR) {
  }
  if (n < 0) return errno;
  if (static_cast<std::size_t>(n) == size) return 0;
  // With O_APPEND the offset is now just past the bytes written.
  // (Neither this nor fstat can fail on the descriptor just written.)
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  if (info.st_size == end) {
    // Nothing to do if this fails (an append-only file): the error to
    // report is the write's.
    static_cast<void>(::ftruncate(fd, end - n));
  }
  return passesSizeLimit(end, 1) ? EFBIG : ENOSPC;
}

// Writes the line to a FIFO or device, with SIGPIPE held back: a reader
// that left gives EPIPE, not a signal that ends the caller. A SIGPIPE the
// write raises is taken back; one pending before is left as it was.
int writeToStream(int fd, const char* line, std::size_t size) noexcept {
  sigset_t pipe;
  sigset_t previous;
  sigset_t pending;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  static_cast<void>(::sigpending(&pending));
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  const int error = writeAll(fd, line, size);
  if (error == EPIPE && !pendingBefore) {
    const timespec none{0, 0};
    static_cast<void>(::sigtimedwait(&pipe, nullptr, &none));
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return error;
}

// Appends the line of the word to the file open on fd, under the
// exclusive lock.
int appendLine(int fd, bool readable, PackedDate word) noexcept {
  if (const int error = lockFile(fd, LOCK_EX)) return error;
  // fstat cannot fail on a descriptor just opened; if it did, the file
  // would be taken as a stream: no line feed first, no cutting back.
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  const bool regular = S_ISREG(info.st_mode);

  // A line feed where the last line may be unfinished (harmless white space
  // where it was not), an in-range word of at most seven digits, a line feed.
  char line[16];
  char* at = line;
  if (regular && info.st_size > 0 && !endsWithLineFeed(fd, readable, info.st_size)) *at++ = '\n';
  at = std::to_chars(at, line + sizeof line, word).ptr;
  *at++ = '\n';
  const auto size = static_cast<std::size_t>(at - line);

  if (!regular) return writeToStream(fd, line, size);
  if (passesSizeLimit(info.st_size, size)) return EFBIG;
  if (const int error = reserveRoom(fd, info.st_size, size)) return error;
  return writeToFile(fd, line, size);
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
  if (const int error = lockFile(fd, LOCK_SH)) {
    ::close(fd);
    detail::stopDates(parser, LoadStatus::locked, error);
    return detail::finishDates(parser, dates);
  }
  // A regular file's size bounds its values: the block is sized once.
  // (fstat cannot fail on a descriptor just opened; if it did, the block
  // would grow as for a pipe.)
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  const bool regular = S_ISREG(info.st_mode);
  std::size_t blockSize = detail::blockSize;
  if (regular && info.st_size > 0) {
    // A size past what size_t holds (on a 32-bit machine) is no less big.
    const auto size = static_cast<std::uint64_t>(info.st_size);
    detail::expectBytes(parser, size > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(size));
    // A small file is read in a block of its own size.
    if (size < blockSize) blockSize = static_cast<std::size_t>(size);
  }
  // The file's blocks are parsed where they are read, with no copy, in a
  // block on the heap rather than the stack.
  char* const buffer =
      static_cast<char*>(std::malloc(detail::blockLookBehind + blockSize + detail::blockPadding));
  if (buffer == nullptr) detail::stopDates(parser, LoadStatus::outOfMemory, ENOMEM);
  char* const block = buffer != nullptr ? buffer + detail::blockLookBehind : nullptr;
  while (buffer != nullptr) {
    std::size_t n = 0;
    if (const int error = detail::readSome(fd, block, blockSize, n)) {
      detail::stopDates(parser, LoadStatus::readError, error);
      break;
    }
    if (n == 0 || !detail::feedBlock(parser, block, n)) break;
    // A regular file gives less than asked only at its end (a writer that
    // takes no lock may add more meanwhile, which this load need not see).
    if (regular && n < blockSize) break;
  }
  std::free(buffer);
  ::close(fd);
  return detail::finishDates(parser, dates);
}

int appendDate(Date date, const char* path) noexcept {
  if (!fieldsInRange(date)) return ERANGE;
  bool readable = false;
  const int fd = openForAppend(path, readable);
  if (fd < 0) return errno;
  const int error = appendLine(fd, readable, packDate(date));
  // Closing releases the lock; where it fails the line may be lost.
  const int closed = closeFile(fd);
  return error != 0 ? error : closed;
}

}  // namespace bitwords
