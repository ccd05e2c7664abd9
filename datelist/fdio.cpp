#include "datelist/fdio.hpp"

#include <unistd.h>

#include <cerrno>

namespace bitwords::detail {

int writeAll(int fd, const char* data, std::size_t size) noexcept {
  while (size != 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int readSome(int fd, char* data, std::size_t size, std::size_t& count) noexcept {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n >= 0) {
      count = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int closeFile(int fd) noexcept {
  return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace bitwords::detail
