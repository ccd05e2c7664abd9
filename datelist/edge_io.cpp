// Descriptor output: writes that go on after an interruption or a partial
// transfer, and a close whose failure is an error too.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "datelist/output.hpp"

namespace bitwords {

int writeAll(int fd, const char* data, std::size_t size) noexcept {
  while (size != 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A descriptor left non-blocking by another program (EAGAIN, which
      // is EWOULDBLOCK on Linux): wait until it takes more. Where the wait
      // fails (a signal), the write tells what is wrong.
      if (errno != EAGAIN) return errno;
      pollfd ready{fd, POLLOUT, 0};
      static_cast<void>(::poll(&ready, 1, -1));
      continue;
    }
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int closeOutput(int fd) noexcept {
  return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace bitwords
