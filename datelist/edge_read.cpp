// A date file read under its shared lock: a regular file up to the size
// it had when the lock was taken, a FIFO as it is written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "datelist/edge.hpp"
#include "datelist/edge_lock.hpp"

namespace bitwords::detail {

int openToRead(ReadingFile& file, const char* path, int waitSeconds) noexcept {
  file = ReadingFile{};
  // A FIFO's open waits for a writer, and a signal may end that wait.
  while ((file.fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY)) < 0 && errno == EINTR) {
  }
  if (file.fd < 0) return errno;
  // (fstat cannot fail on a descriptor just opened; if it did, the file
  // would be read to its end, unlocked, as a pipe is.)
  struct stat info {};
  static_cast<void>(::fstat(file.fd, &info));
  if (!S_ISREG(info.st_mode)) return 0;
  // Appenders hold the exclusive lock while they write, so under the shared
  // one every line they wrote is whole. A FIFO's writes of a line are
  // whole without it.
  if (const int error = takeLock(file.fd, false, Wait{waitSeconds})) {
    closeReading(file);
    return error;
  }
  static_cast<void>(::fstat(file.fd, &info));
  file.size = static_cast<std::uint64_t>(info.st_size);
  return 0;
}

int readMore(ReadingFile& file, char* into, std::size_t room, std::size_t& count) noexcept {
  count = 0;
  room = static_cast<std::size_t>(std::min<std::uint64_t>(room, file.size - file.read));
  if (room == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(file.fd, into, room);
    if (n >= 0) {
      count = static_cast<std::size_t>(n);
      file.read += count;
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

void closeReading(ReadingFile& file) noexcept {
  ::close(file.fd);
  file.fd = -1;
}

}  // namespace bitwords::detail
