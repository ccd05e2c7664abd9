// The date file under faults: appends cut short or refused, files that can
// be written but not read, FIFOs, readers beside appenders, small stacks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "datelist/datefile.hpp"
#include "tests/support/child.hpp"
#include "tests/support/interrupts.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

const std::string datelist = DATELIST_PATH;
const Date christmas{25, 12, 2018};  // the line "845794\n"
const Date newYear{1, 1, 2000};      // the line "36816\n"

TEST(Appender, RefusesAnAppendPastTheFileSizeLimitLeavingTheFileAsItWas) {
  struct Case {
    void (*action)(int);  // for the signal a write past the limit raises
    rlim_t limit;
    int error;
    std::string after;
  };
  // With the signal at its default the write would end the process part way.
  const Case cases[] = {
      {SIG_DFL, 10, EFBIG, "845794\n"},  // room for three bytes more
      {SIG_IGN, 10, EFBIG, "845794\n"},
      {SIG_DFL, 13, 0, "845794\n36816\n"},  // just room
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    TempDir dir;
    const auto file = dir.write("fechas.txt", "845794\n");
    const int got = inChild([&] {
      ::signal(SIGXFSZ, c.action);
      rlimit limit{};
      if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
      const rlim_t before = limit.rlim_cur;
      limit.rlim_cur = c.limit;
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
      const int error = appendDate(newYear, file.c_str());
      limit.rlim_cur = before;  // so that the child's own files can be written
      return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? error : 100;
    });
    EXPECT_EQ(got, c.error);
    EXPECT_EQ(readFile(file), c.after);
    if (c.error != 0) {
      ASSERT_EQ(appendDate(newYear, file.c_str()), 0);
      EXPECT_EQ(readFile(file), "845794\n36816\n");
    }
  }
}

TEST(Appender, CutsBackAWriteThatTheFullDiskStopsPartWay) {
  // A file system of one page, filled but for three bytes (the line's first
  // three bytes fit, the rest do not) or filled whole.
  for (const std::size_t room : {std::size_t{3}, std::size_t{0}}) {
    SCOPED_TRACE(room);
    TempDir dir;
    const auto disk = dir.path / "disk";
    std::filesystem::create_directory(disk);
    std::string before;
    while (before.size() < 4096 - room - 1) before += "1\n";
    before.resize(4096 - room - 1, '1');
    before += "\n";
    const auto file = disk / "fechas.txt";
    const int got = inChild([&] {
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4k") != 0) {
        return 100;
      }
      writeFile(file, before);
      if (appendDate(christmas, file.c_str()) != ENOSPC) return 1;
      if (readFile(file) != before) return 2;
      if (::mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT, "size=8k") != 0) return 100;
      if (appendDate(christmas, file.c_str()) != 0) return 3;
      return readFile(file) == before + "845794\n" ? 0 : 4;
    });
    if (got == 100) GTEST_SKIP() << "no mount namespace for a small file system here";
    EXPECT_EQ(got, 0);
  }
}

// Owned by someone who may write it but not read it: as root, a child that
// acts as nobody; as anyone else, the test's own user.
TEST(Appender, NeverFusesValuesInAFileItCannotRead) {
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"845794", "845794\n36816\n"},
      {"845794\n", "845794\n\n36816\n"},  // a spare line feed, harmless white space
      {"", "36816\n"},
  };
  constexpr uid_t nobody = 65534;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    TempDir dir;
    const auto file = dir.write("fechas.txt", c.before);
    const bool root = ::geteuid() == 0;
    if (root) {
      ASSERT_EQ(::chown(dir.path.c_str(), nobody, nobody), 0);
      ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0222), 0);
    // Only the effective identity changes, so that the child can take back
    // its own to end (a coverage build writes its counts then).
    const int got = inChild([&] {
      if (root && (::setegid(nobody) != 0 || ::seteuid(nobody) != 0)) return 100;
      const int error = appendDate(newYear, file.c_str());
      if (root && (::seteuid(0) != 0 || ::setegid(0) != 0)) return 100;
      return error;
    });
    ASSERT_EQ(got, 0);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(readFile(file), c.after);
  }
}

TEST(Appender, RefusesAFifoThatNoOneReads) {
  TempDir dir;
  const auto fifo = dir.path / "fechas.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(appendDate(newYear, fifo.c_str()), ENXIO);

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
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 1; i <= datesEach; ++i) {
        if (appendDate(Date{w, i % 16, i}, file.c_str()) != 0) endChild(1);
      }
      endChild(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Date* dates = nullptr;
  const LoadResult r = loadDates(&dates, file.c_str());
  ASSERT_EQ(r.status, LoadStatus::ok);
  ASSERT_EQ(r.count, static_cast<std::size_t>(writers * datesEach));
  // Each writer's dates arrive whole and in the order it wrote them.
  std::vector<int> next(writers, 1);
  for (std::size_t i = 0; i < r.count; ++i) {
    const Date d = dates[i];
    ASSERT_TRUE(d.day >= 0 && d.day < writers) << i;
    const auto writer = static_cast<std::size_t>(d.day);
    ASSERT_EQ(d.year, next[writer]) << i;
    ASSERT_EQ(d.month, d.year % 16) << i;
    ++next[writer];
  }
  std::free(dates);
}

// A load must never see a line half written. Before each append the
// appender, under the lock as appendDate takes it, empties the file and
// fills it with white space up to three bytes before the end of its first
// page, so that each line crosses a page, where a reader that does not
// wait for the lock can see the write in two steps.
TEST(Loader, NeverSeesAHalfWrittenLineBesideAnAppender) {
  TempDir dir;
  const auto file = dir.write("fechas.txt", "");
  auto* appended = static_cast<std::atomic<int>*>(::mmap(nullptr, sizeof(std::atomic<int>),
                                                         PROT_READ | PROT_WRITE,
                                                         MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(appended, MAP_FAILED);
  new (appended) std::atomic<int>(0);
  constexpr int appends = 5'000;
  const pid_t appender = ::fork();
  if (appender == 0) {
    const int fd = ::open(file.c_str(), O_WRONLY);
    const std::string spaces(4093, ' ');
    for (int i = 0; i < appends; ++i) {
      if (::flock(fd, LOCK_EX) != 0 || ::ftruncate(fd, 0) != 0 ||
          ::pwrite(fd, spaces.data(), spaces.size(), 0) != 4093 || ::flock(fd, LOCK_UN) != 0 ||
          appendDate(christmas, file.c_str()) != 0) {
        endChild(1);
      }
      appended->store(i + 1);
    }
    endChild(0);
  }
  int torn = 0;
  while (appended->load() < appends) {
    Date* dates = nullptr;
    const LoadResult r = loadDates(&dates, file.c_str());
    ASSERT_EQ(r.status, LoadStatus::ok);
    for (std::size_t i = 0; i < r.count; ++i) torn += dates[i] != christmas;
    std::free(dates);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(appender, &status, 0), appender);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(torn, 0);
  ::munmap(appended, sizeof(std::atomic<int>));
}

// A load waits for an append in progress, also when signals interrupt the
// wait, and then sees its line whole.
TEST(Loader, WaitsForAnAppendThroughSignals) {
  TempDir dir;
  const auto file = dir.write("fechas.txt", "36816\n");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t appender = ::fork();
  if (appender == 0) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "", 1) != 1) endChild(1);
    ::usleep(100'000);  // long enough for several interruptions
    endChild(::write(fd, "845794\n", 7) == 7 ? 0 : 1);
  }
  char byte;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  Date* dates = nullptr;
  LoadResult r{};
  {
    Interrupts interrupts;
    r = loadDates(&dates, file.c_str());
  }
  EXPECT_GT(interruptions.load(), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(appender, &status, 0), appender);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(r.status, LoadStatus::ok);
  ASSERT_EQ(r.count, 2u);
  EXPECT_EQ(dates[0], newYear);
  EXPECT_EQ(dates[1], christmas);
  std::free(dates);
  ::close(ready[0]);
  ::close(ready[1]);
}

// A sparse file's size promises far more values than it can hold: a load
// does not ask for more memory than the machine has, and reads the file as
// it is (its first byte, NUL, is no integer).
TEST(Loader, TakesTheSizeOfHugeSparseFilesInStride) {
  const off_t sizes[] = {off_t{15} << 40, std::numeric_limits<off_t>::max()};
  for (const off_t size : sizes) {
    SCOPED_TRACE(size);
    TempDir dir;
    const auto disk = dir.path / "disk";
    std::filesystem::create_directory(disk);
    const auto file = disk / "fechas.txt";
    const int got = inChild([&] {
      // tmpfs takes files of any size; the test's own folder may not.
      if (size > off_t{15} << 40 &&
          (::unshare(CLONE_NEWNS) != 0 ||
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
           ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)) {
        return 100;
      }
      const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
      if (fd < 0 || ::ftruncate(fd, size) != 0) return 100;
      ::close(fd);
      Date* dates = nullptr;
      const LoadResult r = loadDates(&dates, file.c_str());
      const bool sound = r.status == LoadStatus::notInteger && r.line == 1 && r.count == 0 &&
                         dates != nullptr && dates[0] == (Date{0, 0, 0});
      std::free(dates);
      return sound ? 0 : 1;
    });
    if (got == 100) {
      ADD_FAILURE() << "no file of this size can be made here";
      continue;
    }
    EXPECT_EQ(got, 0);
  }
}

// A C program with stdio runs in a stack of 64 KiB; so must these.
constexpr std::size_t smallStack = 64 << 10;

TEST(SmallStack, DatelistListsAndReports) {
  TempDir dir;
  dir.write("fechas.txt", "845794\n36816\n12abc\n");
  const ProgramRun run = runProgram(datelist, dir.path, {}, "", {.stack = smallStack});
  EXPECT_EQ(run.out, "25/12/2018\n1/1/2000\n");
  EXPECT_EQ(run.err, "datelist: fechas.txt:3: not an integer: \"12abc\"\n");
  EXPECT_EQ(run.status, 1);
}

TEST(SmallStack, LibraryLoadsParsesAndAppends) {
  TempDir dir;
  struct Work {
    std::string path;
    bool sound;
  } work{(dir.path / "fechas.txt").string(), false};
  const auto body = [](void* arg) -> void* {
    auto& w = *static_cast<Work*>(arg);
    Date* loaded = nullptr;
    Date* parsed = nullptr;
    const bool appended = appendDate(christmas, w.path.c_str()) == 0;
    const LoadResult l = loadDates(&loaded, w.path.c_str());
    const LoadResult p = parseDates(&parsed, "845794\n", 7);
    w.sound = appended && l.count == 1 && loaded[0] == christmas && p.count == 1 &&
              parsed[0] == christmas;
    std::free(loaded);
    std::free(parsed);
    return nullptr;
  };
  pthread_attr_t attr;
  ASSERT_EQ(::pthread_attr_init(&attr), 0);
  ASSERT_EQ(::pthread_attr_setstacksize(&attr, smallStack), 0);
  pthread_t thread;
  ASSERT_EQ(::pthread_create(&thread, &attr, +body, &work), 0);
  ASSERT_EQ(::pthread_join(thread, nullptr), 0);
  ::pthread_attr_destroy(&attr);
  EXPECT_TRUE(work.sound);
}

}  // namespace
