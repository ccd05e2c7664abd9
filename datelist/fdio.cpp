#include "datelist/fdio.hpp"

#include <unistd.h>

#include <cerrno>

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

ssize_t readSome(int fd, char* data, std::size_t size) noexcept {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int closeFile(int fd) noexcept {
  return ::close(fd) == 0 ? 0 : errno;
}
