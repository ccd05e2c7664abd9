// Descriptor input and output go on after a signal interrupts a wait, and
// after a partial write.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "datelist/fdio.hpp"
#include "tests/support/child.hpp"
#include "tests/support/interrupts.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int ends[2];
    if (::pipe(ends) == 0) {
      read = ends[0];
      write = ends[1];
    }
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

TEST(DescriptorIo, WriteAllGoesOnThroughSignalsAndPartialWrites) {
  Pipe pipe;
  ASSERT_GE(pipe.read, 0);
  // A full pipe, so that the next write waits at once.
  ASSERT_EQ(::fcntl(pipe.write, F_SETFL, O_NONBLOCK), 0);
  std::size_t filled = 0;
  for (char byte = 'x'; ::write(pipe.write, &byte, 1) == 1;) ++filled;
  ASSERT_EQ(::fcntl(pipe.write, F_SETFL, 0), 0);
  const std::string data(1 << 20, 'd');
  const pid_t reader = startChild([&] {
    ::close(pipe.write);
    ::usleep(100'000);  // long enough for several interruptions
    std::size_t total = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipe.read, buffer, sizeof buffer)) > 0;) {
      total += static_cast<std::size_t>(n);
    }
    return total == filled + data.size() ? 0 : 1;
  });
  {
    Interrupts interrupts;
    EXPECT_EQ(writeAll(pipe.write, data.data(), data.size()), 0);
  }
  EXPECT_GT(interruptions.load(), 0);
  ::close(pipe.write);
  pipe.write = -1;
  EXPECT_EQ(waitChild(reader), 0);
}

TEST(DescriptorIo, ReadSomeGoesOnThroughSignals) {
  Pipe pipe;
  ASSERT_GE(pipe.read, 0);
  const pid_t writer = startChild([&] {
    ::usleep(100'000);
    return ::write(pipe.write, "abc", 3) == 3 ? 0 : 1;
  });
  char buffer[16];
  std::size_t count = 0;
  {
    Interrupts interrupts;
    EXPECT_EQ(readSome(pipe.read, buffer, sizeof buffer, count), 0);
  }
  EXPECT_EQ(count, 3u);
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(waitChild(writer), 0);
}

TEST(DescriptorIo, ReportsWhatFailed) {
  char buffer[4];
  EXPECT_EQ(writeAll(-1, "abc", 3), EBADF);
  std::size_t count = 0;
  EXPECT_EQ(readSome(-1, buffer, sizeof buffer, count), EBADF);
  EXPECT_EQ(closeFile(-1), EBADF);
  const int fd = ::dup(STDERR_FILENO);
  EXPECT_EQ(closeFile(fd), 0);
  EXPECT_EQ(closeFile(fd), EBADF);  // a descriptor closed already
}

}  // namespace
