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
#include <string>
#include <vector>

#include "datelist/datefile.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

const std::string datelist = DATELIST_PATH;
const Date christmas{25, 12, 2018};  // the line "845794\n"
const Date newYear{1, 1, 2000};      // the line "36816\n"

// Runs body in a child process, whose limits, mounts and identity it may
// change, and returns what body returned (or 128 + the signal that ended it).
template <typename Body>
int inChild(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Appender, RefusesAnAppendPastTheFileSizeLimitLeavingTheFileAsItWas) {
  // With the signal at its default the write would end the process part way.
  for (const auto action : {SIG_DFL, SIG_IGN}) {
    TempDir dir;
    const auto file = dir.write("fechas.txt", "845794\n");
    const int got = inChild([&] {
      ::signal(SIGXFSZ, action);
      const rlimit limit{10, 10};  // room for three bytes more
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
      return appendDate(newYear, file.c_str());
    });
    EXPECT_EQ(got, EFBIG);
    EXPECT_EQ(readFile(file), "845794\n");
    ASSERT_EQ(appendDate(newYear, file.c_str()), 0);
    EXPECT_EQ(readFile(file), "845794\n36816\n");
  }
}

TEST(Appender, CutsBackAWriteThatTheFullDiskStopsPartWay) {
  TempDir dir;
  const auto disk = dir.path / "disk";
  std::filesystem::create_directory(disk);
  // A file system of one page, filled but for three bytes: the line's first
  // three bytes fit, the rest do not.
  std::string before;
  while (before.size() < 4090) before += "1\n";
  before += "12\n";
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

// Owned by someone who may write it but not read it: as root, a child that
// becomes nobody; as anyone else, the test's own user.
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
    const int got = inChild([&] {
      if (root && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 100;
      return appendDate(newYear, file.c_str());
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
        if (appendDate(Date{w, i % 16, i}, file.c_str()) != 0) ::_exit(1);
      }
      ::_exit(0);
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
        ::_exit(1);
      }
      appended->store(i + 1);
    }
    ::_exit(0);
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
