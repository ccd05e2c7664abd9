// The appender: the lines it writes, what it refuses, and the file it
// leaves when an append fails or cannot read what is there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "datelist/datefile.hpp"
#include "tests/support/child.hpp"
#include "tests/support/faults.hpp"
#include "tests/support/loaded.hpp"
#include "tests/support/temp_dir.hpp"

using namespace bitwords;

namespace {

TEST(Appender, AppendedDatesLoadBackInOrder) {
  TempDir dir;
  const auto file = dir.path / "fechas.txt";
  const std::vector<Date> dates = {christmas, newYear, {31, 15, 2047}, {0, 0, 1}, {1, 1, 0}};
  for (const Date d : dates) ASSERT_EQ(appendDate(d, file.c_str()), 0);
  EXPECT_EQ(readFile(file), "845794\n36816\n1048575\n1\n34816\n");
  EXPECT_EQ(load(file).dates, dates);
}

TEST(Appender, ReportsWhatItRefusesOrFailsAt) {
  TempDir dir;
  struct Case {
    Date date;
    std::filesystem::path path;
    int error;
  };
  const auto file = dir.path / "fechas.txt";
  const Case cases[] = {
      // Fields that do not fit: the word would hold another date.
      {{32, 1, 2000}, file, ERANGE},
      {{1, 16, 2000}, file, ERANGE},
      {{1, 1, 2048}, file, ERANGE},
      {{-1, 1, 2000}, file, ERANGE},
      {{1, -1, 2000}, file, ERANGE},
      {{1, 1, -1}, file, ERANGE},
      {newYear, dir.path / "missing" / "fechas.txt", ENOENT},
      {newYear, dir.path, EISDIR},
      {newYear, "/dev/full", ENOSPC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.path << " " << c.date.day << "/" << c.date.month << "/" << c.date.year);
    EXPECT_EQ(appendDate(c.date, c.path.c_str()), c.error);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

// An append never fuses its value with the file's last one: an unfinished
// last line gets a line feed first, and so does a file whose last byte
// cannot be read (write-only to whoever appends: as root, a child acting
// as nobody; as anyone else, the test's own user), where a spare line feed
// is harmless white space.
TEST(Appender, NeverFusesItsValueWithTheLastOne) {
  struct Case {
    std::string before;
    bool writeOnly;
    std::string after;
  };
  const Case cases[] = {
      {"845794", false, "845794\n36816\n"},
      {"845794\r\n", false, "845794\r\n36816\n"},
      {"845794\n", false, "845794\n36816\n"},
      {"", false, "36816\n"},
      {"845794", true, "845794\n36816\n"},
      {"845794\n", true, "845794\n\n36816\n"},
      {"", true, "36816\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.before << (c.writeOnly ? " write-only" : ""));
    TempDir dir;
    const auto file = dir.write("fechas.txt", c.before);
    if (c.writeOnly) {
      if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.path.c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
      }
      ASSERT_EQ(::chmod(file.c_str(), 0222), 0);
    }
    const int got =
        inChild([&] { return appendDate(newYear, file.c_str()); }, {.ordinaryUser = c.writeOnly});
    ASSERT_EQ(got, 0);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(readFile(file), c.after);
  }
}

// A fault an append meets, and what it must leave. Each runs in a child,
// which makes the file (a FIFO, or on a one-page file system of its own,
// or with no /proc), sets the scene, appends 1/1/2000, settles (gives back
// what the scene took, makes room again) and checks what the file holds:
// as before where the append failed, with the line where it did not, or
// `after`; then the next append must work.
using Scene = std::function<bool(const std::filesystem::path&)>;  // false: refused here
enum Place { ownDisk, smallDisk, noProc, fifo };
struct Fault {
  std::string what = {};
  std::string before = {};
  int error = 0;
  Scene scene = {};
  Place place = ownDisk;
  Scene settle = {};
  std::string after = {};
};

// What a child reports besides the append's own result.
constexpr int wrongContents = 200;
constexpr int sigpipePending = 201;
constexpr int notSettled = 202;
constexpr int secondAppendFailed = 203;

// Lines of "1", ending in a line feed, `size` bytes in all.
std::string filler(std::size_t size) {
  std::string text;
  while (text.size() + 2 <= size) text += "1\n";
  if (text.size() < size) text.insert(0, "1");
  return text;
}

void expectFaults(const std::vector<Fault>& faults) {
  for (const Fault& c : faults) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto file = dir.path / "fechas.txt";
    const Isolation isolation{.tmpfs = c.place == smallDisk ? dir.path
                                       : c.place == noProc  ? "/proc"
                                                            : "",
                              .tmpfsBytes = 4096};
    const std::string after = !c.after.empty() ? c.after
                              : c.error != 0   ? c.before
                                               : c.before + "36816\n";
    const int got = inChild(
        [&] {
          if (c.place == fifo ? ::mkfifo(file.c_str(), 0600) != 0
                              : (writeFile(file, c.before), false))
            return 100;
          if (c.scene && !c.scene(file)) return refused;
          const int error = appendDate(newYear, file.c_str());
          clearFaults();
          sigset_t pending;
          if (::sigpending(&pending) != 0 || sigismember(&pending, SIGPIPE) == 1)
            return sigpipePending;
          if (c.settle && !c.settle(file)) return notSettled;
          if (error != c.error || std::filesystem::is_fifo(file)) return error;
          if (readFile(file) != after) return wrongContents;
          if (appendDate(newYear, file.c_str()) != 0 || readFile(file) != after + "36816\n")
            return secondAppendFailed;
          return error;
        },
        isolation);
    if (got == refused) GTEST_SKIP() << c.what << ": " << refusedReason;
    EXPECT_EQ(got, c.error);
  }
}

// Leaves the file-size limit as it was, and so the child's own files (a
// coverage build's counts) writable.
bool noSizeLimit(const std::filesystem::path&) {
  return softLimit(RLIMIT_FSIZE, RLIM_INFINITY);
}

// Gives the one-page file system a second page.
bool makeRoom(const std::filesystem::path& file) {
  return ::mount("tmpfs", file.parent_path().c_str(), "tmpfs", MS_REMOUNT, "size=8k") == 0;
}

// Appends a line as a writer that takes no lock (a shell's >>) would.
void appendUnlocked(const std::filesystem::path& file, const char* line) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
  if (fd >= 0) static_cast<void>(::write(fd, line, std::strlen(line)));
  ::close(fd);
}

int leaseHolder = -1;

// A scene where the next such call fails with the error.
std::function<bool(const std::filesystem::path&)> failing(Call call, int error) {
  return [=](const std::filesystem::path&) {
    failNext(call, error);
    return true;
  };
}

TEST(Appender, LeavesTheFileSoundWhateverFaultItMeets) {
  const auto sizeLimit = [](void (*action)(int), rlim_t limit) {
    return [=](const std::filesystem::path&) {
      ::signal(SIGXFSZ, action);
      return softLimit(RLIMIT_FSIZE, limit);
    };
  };
  const std::string line = "845794\n";
  const std::vector<Fault> faults = {
      // With the signal at its default a write past the limit would end the
      // process part way: the append is refused before it starts.
      {"past the file-size limit", line, EFBIG, sizeLimit(SIG_DFL, 10), ownDisk, noSizeLimit},
      {"past it, SIGXFSZ ignored", line, EFBIG, sizeLimit(SIG_IGN, 10), ownDisk, noSizeLimit},
      {"just within the file-size limit", line, 0, sizeLimit(SIG_DFL, 13), ownDisk, noSizeLimit},
      // A writer that takes no lock appends between the append's look at
      // the file and its write, which the limit then stops part way: only
      // the append's own bytes are cut back.
      {"a writer without the lock, then the limit", line, EFBIG,
       [&](const std::filesystem::path& file) {
         beforeNext(Call::write, [file] { appendUnlocked(file, "474877\n"); });
         return sizeLimit(SIG_IGN, 18)(file);
       },
       ownDisk, noSizeLimit, "845794\n474877\n"},
      // The disk refuses the append before it writes; where room cannot be
      // reserved, what the write took is cut back.
      {"a full disk, three bytes left", filler(4096 - 3), ENOSPC, {}, smallDisk, makeRoom},
      {"a full disk", filler(4096), ENOSPC, {}, smallDisk, makeRoom},
      {"a full disk that cannot reserve room", filler(4096 - 3), ENOSPC,
       failing(Call::fallocate, EOPNOTSUPP), smallDisk, makeRoom},
      // Faults of the system calls: a signal in the write, a disk that
      // fails it, a file system without locks or that cannot reserve room,
      // a quota that refuses the room.
      {"a write interrupted by a signal", line, 0, failing(Call::write, EINTR)},
      {"a write that fails", line, EIO, failing(Call::write, EIO)},
      {"a file system without locks", line, 0, failing(Call::flock, ENOLCK)},
      {"a file system that cannot reserve room", line, 0, failing(Call::fallocate, EOPNOTSUPP)},
      {"over the disk quota", line, EDQUOT, failing(Call::fallocate, EDQUOT)},
      // A FIFO that no process reads is refused, also one put in the file's
      // place as it is opened; a reader that leaves after the open gives
      // EPIPE, and no signal.
      {"a FIFO that no process reads", "", ENXIO, {}, fifo},
      {"a FIFO put in the file's place", line, ENXIO,
       [](const std::filesystem::path& file) {
         beforeNext(Call::open, [file] {
           std::filesystem::remove(file);
           ::mkfifo(file.c_str(), 0600);
         });
         return true;
       }},
      {"a FIFO whose reader leaves", "", EPIPE,
       [](const std::filesystem::path& file) {
         const int reader = ::open(file.c_str(), O_RDONLY | O_NONBLOCK);
         beforeNext(Call::write, [reader] { ::close(reader); });
         return reader >= 0;
       },
       fifo},
      // Another process's read lease: the open waits for it to be broken.
      {"a read lease", line, 0,
       [](const std::filesystem::path& file) {
         leaseHolder = ::open(file.c_str(), O_RDONLY);
         struct sigaction release {};
         release.sa_handler = [](int) { ::fcntl(leaseHolder, F_SETLEASE, F_UNLCK); };
         release.sa_flags = SA_RESTART;
         return ::sigaction(SIGIO, &release, nullptr) == 0 &&
                ::fcntl(leaseHolder, F_SETLEASE, F_RDLCK) == 0;
       }},
      // The last byte is read through the append's own descriptor: no spare
      // line feed for want of /proc or of a second descriptor.
      {"no /proc", line, 0, {}, noProc},
      {"no descriptor free", line, 0,
       [](const std::filesystem::path&) {
         const int lowest = ::dup(0);
         return lowest >= 0 && ::close(lowest) == 0 &&
                softLimit(RLIMIT_NOFILE, static_cast<rlim_t>(lowest) + 1);
       },
       ownDisk, [](const std::filesystem::path&) { return softLimit(RLIMIT_NOFILE, 1024); }},
  };
  expectFaults(faults);
}

// A full disk under an append-only file (chattr +a), which cannot be cut
// back: the append must be refused before it writes.
TEST(Appender, RefusesAFullDiskBeforeWritingToAnAppendOnlyFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "an append-only file needs CAP_LINUX_IMMUTABLE (root)";
  const auto appendOnly = [](const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    int flags = 0;
    const bool made = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags |= FS_APPEND_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    ::close(fd);
    return made;
  };
  expectFaults({{"a full disk under an append-only file", filler(4096 - 3), ENOSPC, appendOnly,
                 smallDisk, makeRoom}});
}

TEST(Appender, WritesToAFifoThatIsRead) {
  TempDir dir;
  const auto fifo = dir.path / "fechas.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(appendDate(newYear, fifo.c_str()), 0);
  char line[16] = {};
  EXPECT_EQ(::read(reader, line, sizeof line), 6);
  EXPECT_STREQ(line, "36816\n");
  ::close(reader);
}

TEST(Appender, ConcurrentAppendersNeitherTearNorLoseLines) {
  TempDir dir;
  const auto file = dir.path / "fechas.txt";
  constexpr int writers = 8;
  constexpr int datesEach = 400;
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) {
    children.push_back(startChild([&] {
      for (int i = 1; i <= datesEach; ++i) {
        if (appendDate(Date{w, i % 16, i}, file.c_str()) != 0) return 1;
      }
      return 0;
    }));
  }
  for (const pid_t pid : children) EXPECT_EQ(waitChild(pid), 0);
  const Loaded got = load(file);
  ASSERT_EQ(got.status, LoadStatus::ok);
  ASSERT_EQ(got.dates.size(), static_cast<std::size_t>(writers * datesEach));
  // Each writer's dates arrive whole and in the order it wrote them.
  std::vector<int> next(writers, 1);
  for (std::size_t i = 0; i < got.dates.size(); ++i) {
    const Date d = got.dates[i];
    ASSERT_TRUE(d.day >= 0 && d.day < writers) << i;
    const auto writer = static_cast<std::size_t>(d.day);
    ASSERT_EQ(d.year, next[writer]) << i;
    ASSERT_EQ(d.month, d.year % 16) << i;
    ++next[writer];
  }
}

}  // namespace
