// The library's edge, driven through the harness: reading a date file,
// waiting in turn for its lock, appending to it whatever fault the append
// meets, the memory a load may take, and descriptor output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "datelist/edge.hpp"
#include "datelist/output.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/loaded.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

// What an append writes, and what it leaves whatever fault it meets. Each
// row runs in a child, which makes the file (a FIFO, or on a small file
// system of its own, or with no /proc, or write-only to the child; or
// none), sets the scene, appends the date (1/1/2000 unless another is
// given), settles (gives back what the scene took, makes room again) and
// checks what the file holds: as before where the append failed, with the
// line where it did not, or `after`; then the next append must work. Rows
// whose scene this machine cannot set (root, loop devices) are said, with
// the reason.
using Scene = std::function<bool(const std::filesystem::path&)>;  // false: refused here
// writeOnly: as root, a child acting as nobody; as anyone else, the test's
// own user.
enum Place { ownDisk, smallDisk, smallExt2, noProc, fifo, writeOnly };
// As a file's contents: there is no file.
const std::string noFile = "(no file)";

struct Fault {
  std::string what = {};
  std::string before = {};  // or noFile
  int error = 0;
  Scene scene = {};
  Place place = ownDisk;
  Scene settle = {};
  std::string after = {};
  bool needsRoot = false;  // an append-only file needs CAP_LINUX_IMMUTABLE
  Date date = newYear;
  std::filesystem::path path = {};  // appended to, from the file's folder, if not fechas.txt
};

// What a child reports besides the append's own result.
constexpr int wrongContents = 200;
constexpr int sigpipePending = 201;
constexpr int notSettled = 202;
constexpr int secondAppendFailed = 203;

// Lines of "1", ending in a line feed, `size` bytes in all.
std::string filler(std::size_t size) {
  std::string text(size % 2, '1');
  while (text.size() < size) text += "1\n";
  return text;
}

Isolation isolationOf(Place place, const std::filesystem::path& dir) {
  switch (place) {
    case smallDisk:
      return {.mount = dir, .bytes = 4096};
    case smallExt2:
      return {.mount = dir, .fileSystem = FileSystem::ext2, .bytes = 128 << 10};
    case noProc:
      return {.mount = "/proc"};
    case writeOnly:
      return {.ordinaryUser = true};
    default:
      return {};
  }
}

void expectFaults(const std::vector<Fault>& faults) {
  Rows rows;
  for (const Fault& c : faults) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto file = dir.path / "fechas.txt";
    const Isolation isolation = isolationOf(c.place, dir.path);
    const std::string line = std::to_string(packDate(c.date)) + "\n";
    const std::string after = !c.after.empty() ? c.after
                              : c.error != 0   ? c.before
                                               : (c.before == noFile ? "" : c.before) + line;
    if (c.needsRoot && ::geteuid() != 0) {
      rows.skip(c.what, "needs root");
      continue;
    }
    if (c.place == writeOnly && ::geteuid() == 0) {
      ASSERT_EQ(::chown(dir.path.c_str(), nobody, nobody), 0);
    }
    const int got = inChild(
        [&] {
          if (c.place == fifo ? ::mkfifo(file.c_str(), 0600) != 0
                              : (c.before != noFile && !writeFile(file, c.before)))
            return 100;
          if (c.place == writeOnly && ::chmod(file.c_str(), 0222) != 0) return 100;
          if (c.scene && !c.scene(file)) return refused;
          const int error = ::chdir(dir.path.c_str()) == 0
                                ? appendDate(c.date, (c.path.empty() ? file : c.path).c_str())
                                : 100;
          clearFaults();
          sigset_t pending;
          if (::sigpending(&pending) != 0 || sigismember(&pending, SIGPIPE) == 1)
            return sigpipePending;
          if ((c.settle && !c.settle(file)) ||
              (c.place == writeOnly && ::chmod(file.c_str(), 0644) != 0))
            return notSettled;
          if (error != c.error || std::filesystem::is_fifo(file)) return error;
          const bool there = std::filesystem::exists(file);
          if (there != (after != noFile) || (there && readFile(file) != after))
            return wrongContents;
          if (appendDate(newYear, file.c_str()) != 0 ||
              readFile(file) != (there ? after : "") + "36816\n")
            return secondAppendFailed;
          return error;
        },
        isolation);
    if (got == refused) {
      rows.skip(c.what, refusedReason(isolation));
      continue;
    }
    ++rows.ran;
    EXPECT_EQ(got, c.error);
  }
  if (rows.noneRan()) GTEST_SKIP() << rows.skipped;
}

// Leaves the file-size limit as it was, and so the child's own files (a
// coverage build's counts) writable.
bool noSizeLimit(const std::filesystem::path&) {
  return softLimit(RLIMIT_FSIZE, RLIM_INFINITY);
}

// Gives the small file system room again: a second page for the tmpfs; on
// the ext2 image, the blocks that filled it.
bool makeRoom(const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::remove(file.parent_path() / "fill", ignored);
  return std::filesystem::exists(file.parent_path() / "lost+found") ||
         ::mount("tmpfs", file.parent_path().c_str(), "tmpfs", MS_REMOUNT, "size=8k") == 0;
}

// Makes the file append-only (chattr +a, which needs CAP_LINUX_IMMUTABLE),
// or not.
bool setAppendOnly(const std::filesystem::path& file, bool on) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  const bool set = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                   (flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL,
                    ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  ::close(fd);
  return set;
}

// Makes the file append-only, then fills its file system with another file.
bool appendOnlyOnAFullDisk(const std::filesystem::path& file) {
  const bool made = setAppendOnly(file, true);
  const int fill = ::open((file.parent_path() / "fill").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string block(1024, 'x');
  while (fill >= 0 && ::write(fill, block.data(), block.size()) > 0) {
  }
  while (fill >= 0 && ::write(fill, "x", 1) > 0) {
  }
  ::close(fill);
  return made;
}

int leaseHolder = -1;
int fifoReader = -1;

// A scene with a reader of the FIFO, and the next write failing with
// `error` if not 0; and a settling that reads the appended line from it.
Scene openFifoReader(int error) {
  return [=](const std::filesystem::path& file) {
    if (error != 0) failNext(Call::write, error);
    return (fifoReader = ::open(file.c_str(), O_RDONLY | O_NONBLOCK)) >= 0;
  };
}
bool readsTheLine(const std::filesystem::path&) {
  char got[16] = {};
  return ::read(fifoReader, got, sizeof got) == 6 && std::string(got) == "36816\n";
}

// A scene where the next such call (or the one after `after` more) fails
// with the error.
Scene failing(Call call, int error, int after = 0) {
  return [=](const std::filesystem::path&) {
    failNext(call, error, after);
    return true;
  };
}

TEST(Append, LeavesTheFileSoundWhateverFaultItMeets) {
  const auto sizeLimit = [](void (*action)(int), rlim_t limit) {
    return [=](const std::filesystem::path&) {
      ::signal(SIGXFSZ, action);
      return softLimit(RLIMIT_FSIZE, limit);
    };
  };
  const std::string line = "845794\n";
  const std::vector<Fault> faults = {
      // One line of the packed word, after a line feed where the last line
      // may be unfinished, also where the last byte cannot be read, where
      // a spare line feed is harmless white space.
      {.what = "a new file", .before = noFile, .date = christmas},
      {.what = "the largest fields", .before = line, .date = {31, 15, 2047}},
      {.what = "the smallest year", .before = "1048575\n", .date = {0, 0, 1}},
      {.what = "year 0, an empty file", .before = "", .date = {1, 1, 0}},
      {.what = "an unfinished last line", .before = "845794", .after = "845794\n36816\n"},
      {.what = "a CRLF file", .before = "845794\r\n"},
      {.what = "write-only, unfinished",
       .before = "845794",
       .place = writeOnly,
       .after = "845794\n36816\n"},
      {.what = "write-only, finished",
       .before = line,
       .place = writeOnly,
       .after = "845794\n\n36816\n"},
      {.what = "write-only, empty", .before = "", .place = writeOnly},
      // Fields that do not fit, where the word would hold another date.
      {.what = "day 32", .before = noFile, .error = ERANGE, .date = {32, 1, 2000}},
      {.what = "month 16", .before = noFile, .error = ERANGE, .date = {1, 16, 2000}},
      {.what = "year 2048", .before = "1\n", .error = ERANGE, .date = {1, 1, 2048}},
      {.what = "day -1", .before = noFile, .error = ERANGE, .date = {-1, 1, 2000}},
      {.what = "month -1", .before = noFile, .error = ERANGE, .date = {1, -1, 2000}},
      {.what = "year -1", .before = noFile, .error = ERANGE, .date = {1, 1, -1}},
      {.what = "a name without a folder", .before = noFile, .path = "fechas.txt"},
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
         // A writer that takes no lock, as a shell's >>.
         beforeNext(Call::write, [file] { std::ofstream(file, std::ios::app) << "474877\n"; });
         return sizeLimit(SIG_IGN, 18)(file);
       },
       ownDisk, noSizeLimit, "845794\n474877\n"},
      // The disk refuses the append before it writes; where room cannot be
      // reserved, what the write took is cut back, and where the file
      // cannot be cut back either (append-only; ext2 reserves nothing), the
      // free space is counted before the write.
      {"a full disk, three bytes left", filler(4096 - 3), ENOSPC, {}, smallDisk, makeRoom},
      {"a full disk", filler(4096), ENOSPC, {}, smallDisk, makeRoom},
      // Refused where there is no file yet: none is left behind.
      {"a full disk, no file yet", noFile, ENOSPC,
       [](const std::filesystem::path& file) {
         writeFile(file.parent_path() / "fill", filler(4096));
         return true;
       },
       smallDisk, makeRoom},
      {"a file-size limit of 0, no file yet", noFile, EFBIG, sizeLimit(SIG_DFL, 0), ownDisk,
       noSizeLimit},
      // A file system without unnamed files, and an unnamed file that cannot
      // be linked by its descriptor, nor (without /proc) by its name: the
      // file is made by its name.
      {"no file yet, no unnamed files", noFile, 0, failing(Call::open, EOPNOTSUPP, 2)},
      // (The opens by name, after the link, fail: the link alone makes it.)
      {"no file yet, linked by its name in /proc", noFile, 0,
       [](const std::filesystem::path&) {
         failNext(Call::link, ENOENT);
         failNext(Call::open, EACCES, 3, 2);
         return true;
       }},
      {"no file yet, linked by neither", noFile, 0, failing(Call::link, ENOENT), noProc},
      {"no file yet, a mount between the unnamed file and its link", noFile, 0,
       failing(Call::link, EXDEV)},
      // Made by another three times over, and gone each time: the open by
      // name makes it.
      {"no file yet, made and gone three times", noFile, 0,
       [](const std::filesystem::path&) {
         failNext(Call::link, EEXIST, 0, 3);
         return true;
       }},
      {"a file made by another appender meanwhile",
       noFile,
       0,
       [](const std::filesystem::path& file) {
         beforeNext(Call::write, [file] { writeFile(file, "845794\n"); });
         return true;
       },
       ownDisk,
       {},
       "845794\n36816\n"},
      {"a full disk that cannot reserve room", filler(4096 - 3), ENOSPC,
       failing(Call::fallocate, EOPNOTSUPP), smallDisk, makeRoom},
      {"a full disk under an append-only file", filler(4096 - 3), ENOSPC, appendOnlyOnAFullDisk,
       smallDisk, makeRoom, "", true},
      {"a full ext2 disk under an append-only file", filler(4096 - 2), ENOSPC,
       appendOnlyOnAFullDisk, smallExt2, makeRoom, "", true},
      {"an ext2 disk with room under an append-only file",
       line,
       0,
       [](const std::filesystem::path& file) {
         return appendOnlyOnAFullDisk(file) && makeRoom(file);
       },
       smallExt2,
       {},
       "",
       true},
      // Faults of the system calls: a signal in the write, a disk that
      // fails it, a file system without locks or that cannot reserve room,
      // a quota that refuses the room.
      {"a write interrupted by a signal", line, 0, failing(Call::write, EINTR)},
      {"a write that fails", line, EIO, failing(Call::write, EIO)},
      {"a file system without locks", line, 0, failing(Call::flock, ENOLCK)},
      {"a file system that cannot reserve room", line, 0, failing(Call::fallocate, EOPNOTSUPP)},
      {"over the disk quota", line, EDQUOT, failing(Call::fallocate, EDQUOT)},
      {"past the largest file the file system takes", line, EFBIG, failing(Call::fallocate, EFBIG)},
      {"a file system without byte-range locks", line, 0, failing(Call::fcntl, EINVAL)},
      // A FIFO that no process reads is refused, also one put in the file's
      // place as it is opened; a reader that leaves after the open gives
      // EPIPE, and no signal.
      {"a FIFO put in the file's place", line, ENXIO,
       [](const std::filesystem::path& file) {
         beforeNext(Call::open, [file] {
           std::filesystem::remove(file);
           ::mkfifo(file.c_str(), 0600);
         });
         return true;
       }},
      {"a FIFO that is read, a write interrupted", "", 0, openFifoReader(EINTR), fifo,
       readsTheLine},
      {"a FIFO whose write takes no byte", "", ENOSPC, openFifoReader(takesNothing), fifo},
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

// appendDate's results in the standard's terms and in words, as a caller
// takes them.
TEST(Append, SaysWhatFailedInTheStandardsTermsAndInWords) {
  const std::pair<int, std::errc> cases[] = {{ENOSPC, std::errc::no_space_on_device},
                                             {EISDIR, std::errc::is_a_directory},
                                             {ERANGE, std::errc::result_out_of_range},
                                             {EWOULDBLOCK, std::errc::operation_would_block}};
  for (const auto& [error, condition] : cases) {
    const std::error_code code = appendErrorCode(error);
    EXPECT_EQ(code, condition);
    EXPECT_STREQ(code.category().name(), "bitwords.append");
    // In the words a load's outcome takes.
    EXPECT_EQ(code.message(), reasonText(error));
  }
  EXPECT_FALSE(appendErrorCode(0));
}

TEST(Append, ConcurrentAppendersNeitherTearNorLoseLines) {
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

// ---- Every kind of path

// What loading a path of each kind and then appending 1/1/2000 to it give,
// as a shell's < and >> would: the dates and the error, and the file that
// takes the line afterwards. Each row runs in a child, in a folder of its
// own, ended by an alarm where it hangs. A FIFO's writer is a process
// beside it, which writes one line for the load; its reader, where it has
// one, is opened after the load.
struct Want {
  LoadStatus status;
  int error;
  std::vector<Date> dates;
  // (A constructor: GCC 12 at -O3 takes the defaults of an aggregate's
  // vector for uninitialised.)
  Want(LoadStatus s, int e = 0, std::vector<Date> d = {})
      : status(s), error(e), dates(std::move(d)) {}
};
enum class Who { anyone, root, notRoot };
struct Kind {
  std::string what;
  std::function<bool()> make;  // in the row's folder
  Want load;
  int appendError;
  std::string file;                  // what takes the line
  std::optional<std::string> after;  // its contents afterwards, or noFile; not read if absent
  std::string path = "fechas.txt";
  Who who = Who::anyone;
  std::function<bool()> beforeAppend = {};
};

pid_t fifoWriter = -1;

// A FIFO at fechas.txt, and a process that writes one line to it.
bool fifoWithWriter() {
  if (::mkfifo("fechas.txt", 0600) != 0) return false;
  fifoWriter = startChild([] {
    ::alarm(5);
    const int writer = ::open("fechas.txt", O_WRONLY);  // waits for the load
    return writer >= 0 && ::write(writer, "845794\n", 7) == 7 ? 0 : 1;
  });
  return fifoWriter > 0;
}

// A socket bound at fechas.txt.
bool socketAt() {
  sockaddr_un name{.sun_family = AF_UNIX, .sun_path = "fechas.txt"};
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  return ::bind(s, reinterpret_cast<sockaddr*>(&name), sizeof name) == 0;
}

TEST(Paths, EachKindLoadsAndTakesALineAsItsModelSays) {
  const bool protectedLinks = readFile("/proc/sys/fs/protected_symlinks").starts_with("1");
  const auto write = [](std::string bytes, std::string name = "fechas.txt") {
    return [=] { return writeFile(name, bytes); };
  };
  const auto link = [](std::string target, std::string name = "fechas.txt") {
    return [=] { return ::symlink(target.c_str(), name.c_str()) == 0; };
  };
  const auto both = [](std::function<bool()> a, std::function<bool()> b) {
    return [=] { return a() && b(); };
  };
  const auto mode = [](const char* name, mode_t bits) {
    return [=] { return ::chmod(name, bits) == 0; };
  };
  const auto folder = [](const char* name) { return [=] { return ::mkdir(name, 0700) == 0; }; };
  const auto nothing = [] { return true; };
  const auto cannot = [](int error) { return Want{LoadStatus::cannotOpen, error}; };
  const Want absent = cannot(ENOENT);
  const Want one{LoadStatus::ok, 0, {christmas}};
  const std::string f = "fechas.txt";
  const std::string added = "845794\n36816\n";
  // A read block's bytes and one more, which is read alone.
  const std::string longer = filler(readBlockSize) + "2";
  std::vector<Date> longerDates(readBlockSize / 2, Date{0, 0, 1});
  longerDates.push_back(Date{0, 0, 2});
  const std::vector<Kind> kinds = {
      {"missing", nothing, absent, 0, f, "36816\n"},
      {"a file", write("845794\n"), one, 0, f, added},
      {"an empty file", write(""), {LoadStatus::ok}, 0, f, "36816\n"},
      {"a file without a final line feed", write("845794"), one, 0, f, added},
      {"a file a byte longer than a read block",
       write(longer),
       {LoadStatus::ok, 0, longerDates},
       0,
       f,
       longer + "\n36816\n"},
      {"a read-only file", both(write("845794\n"), mode("fechas.txt", 0444)), one, EACCES, f,
       "845794\n", f, Who::notRoot},
      {"an append-only file",
       both(write("845794\n"), [] { return setAppendOnly("fechas.txt", true); }), one, 0, f, added,
       f, Who::root},
      {"a link to a file", both(write("845794\n", "data"), link("data")), one, 0, "data", added},
      {"a dangling link", link("data"), absent, 0, "data", "36816\n"},
      {"a dangling link to a dangling link", both(link("next"), link("data", "next")), absent, 0,
       "data", "36816\n"},
      {"a dangling link to another folder", both(folder("other"), link("other/data")), absent, 0,
       "other/data", "36816\n"},
      {"a dangling link to a missing folder", link("missing/data"), absent, ENOENT, "missing/data",
       noFile},
      {"a dangling link by its whole path",
       [] {
         return ::symlink((std::filesystem::current_path() / "data").c_str(), "fechas.txt") == 0;
       },
       absent, 0, "data", "36816\n"},
      // The kernel may refuse to follow another's link in a sticky folder
      // that anyone may write to (fs.protected_symlinks); the append does
      // as the kernel's open by name does.
      {"another's dangling link in a sticky folder that anyone may write to",
       both(link("data"),
            [] { return ::lchown("fechas.txt", nobody, nobody) == 0 && ::chmod(".", 01777) == 0; }),
       protectedLinks ? cannot(EACCES) : absent, protectedLinks ? EACCES : 0, "data",
       protectedLinks ? noFile : "36816\n", f, Who::root},
      {"a link loop", both(link("loop"), link("fechas.txt", "loop")), cannot(ELOOP), ELOOP, f, {}},
      {"a directory", folder("fechas.txt"), {LoadStatus::readError, EISDIR}, EISDIR, f, {}},
      {"a FIFO without a reader", fifoWithWriter, one, ENXIO, f, {}},
      {"a FIFO with a reader", fifoWithWriter, one, 0, f, "36816\n", f, Who::anyone,
       [] { return (fifoReader = ::open("fechas.txt", O_RDONLY | O_NONBLOCK)) >= 0; }},
      {"a socket", socketAt, cannot(ENXIO), ENXIO, f, {}},
      {"/dev/null", nothing, {LoadStatus::ok}, 0, f, noFile, "/dev/null"},
      {"/dev/full", nothing, {LoadStatus::notInteger}, ENOSPC, f, noFile, "/dev/full"},
      {"a file in a read-only folder", both(write("845794\n"), mode(".", 0555)), one, 0, f, added,
       f, Who::notRoot},
      {"missing, in a read-only folder", mode(".", 0555), absent, EACCES, f, noFile, f,
       Who::notRoot},
      {"missing, in a missing folder", nothing, absent, ENOENT, "missing/fechas.txt", noFile,
       "missing/fechas.txt"},
  };
  Rows rows;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    if (k.who != Who::anyone && (k.who == Who::root) != (::geteuid() == 0)) {
      rows.skip(k.what, k.who == Who::root ? "needs root" : "root may write whatever the modes");
      continue;
    }
    TempDir dir;
    const int got = inChild([&] {
      ::alarm(5);
      if (::chdir(dir.path.c_str()) != 0 || !k.make()) return 100;
      const Loaded loaded = load(k.path);
      int wrong = loaded.status == k.load.status && loaded.error == k.load.error &&
                          loaded.dates == k.load.dates
                      ? 0
                      : 1;
      if ((k.beforeAppend && !k.beforeAppend()) ||
          appendDate(newYear, k.path.c_str()) != k.appendError)
        wrong |= 2;
      char line[16] = {};
      std::error_code none;
      if (k.after && (fifoReader >= 0 ? (::read(fifoReader, line, sizeof line), line)
                      : std::filesystem::exists(k.file, none) ? readFile(k.file)
                                                              : noFile) != *k.after)
        wrong |= 4;
      if (fifoWriter > 0 && waitChild(fifoWriter) != 0) wrong |= 8;
      return wrong;
    });
    ::chmod(dir.path.c_str(), 0700);
    setAppendOnly(dir.path / "fechas.txt", false);
    ++rows.ran;
    EXPECT_EQ(got, 0) << "1: the load, 2: the append, 4: the file, 8: the FIFO's writer";
  }
  if (rows.noneRan()) GTEST_SKIP() << rows.skipped;
}

// ---- Reading

// A sparse file's size promises far more values than it can hold: a load
// does not ask for more memory than the machine has, and reads the file as
// it is (the NUL bytes after its first line are no integer). 5 GiB is past
// what a 32-bit offset or size holds. tmpfs takes files of any size.
TEST(Read, TakesTheSizeOfHugeSparseFilesInStride) {
  const off_t sizes[] = {off_t{5} << 30, off_t{15} << 40, std::numeric_limits<off_t>::max()};
  for (const off_t size : sizes) {
    SCOPED_TRACE(size);
    TempDir dir;
    const auto file = dir.path / "fechas.txt";
    const Isolation isolation{.mount = dir.path};
    const int got = inChild(
        [&] {
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
          if (fd < 0 || ::write(fd, "845794\n", 7) != 7 || ::ftruncate(fd, size) != 0) return 100;
          ::close(fd);
          const Loaded r = load(file);
          return r.status == LoadStatus::notInteger && r.line == 2 &&
                         r.dates == std::vector<Date>{christmas}
                     ? 0
                     : 1;
        },
        isolation);
    if (got == refused) GTEST_SKIP() << refusedReason(isolation);
    EXPECT_EQ(got, 0);
  }
}

// A load waits through signals, for a lock held a while and for a FIFO's
// writer that writes late, and then sees every line whole.
TEST(Read, WaitsThroughSignals) {
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "a FIFO written late" : "a lock held a while");
    TempDir dir;
    const auto file = dir.path / "fechas.txt";
    if (fifo) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else {
      writeFile(file, "36816\n");
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = startChild([&] {
      ::alarm(10);  // a wait without end fails the test
      const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
      if (fd < 0 || (!fifo && ::flock(fd, LOCK_EX) != 0) || ::write(ready[1], "", 1) != 1) return 1;
      ::usleep(100'000);  // long enough for several interruptions
      return ::write(fd, fifo ? "36816\n845794\n" : "845794\n", fifo ? 13 : 7) > 0 ? 0 : 1;
    });
    // The file's lock is held before the load; the FIFO's open waits for
    // the writer.
    char byte;
    if (!fifo) {
      ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    }
    Loaded got{};
    {
      Interrupts interrupts;
      got = load(file);
    }
    EXPECT_GT(interruptions.load(), 0);
    EXPECT_EQ(waitChild(writer), 0);
    EXPECT_EQ(got.status, LoadStatus::ok);
    EXPECT_EQ(got.dates, (std::vector<Date>{newYear, christmas}));
    ::close(ready[0]);
    ::close(ready[1]);
  }
}

// ---- Waiting in turn

// Loads and appends take their turns, with every core busy: loads beside
// appenders that append back to back complete, and so do appends beside
// loaders whose shared locks overlap without a gap. Each in the background
// holds the lock a while (a slow disk, by a hook before its read or
// write), lets go of it only for a moment, and starts a little after the
// one before. Each appender first pads the file (under the lock, as a
// writer of its own would) so that its line crosses a page, where a load
// that did not wait its turn could see it in two steps.
TEST(Lock, LoadsAndAppendsTakeTheirTurnsOnBusyCores) {
  const BusyCores busy;
  const auto slowly = [](Call call) { beforeNext(call, [] { ::usleep(20'000); }); };
  for (const bool loadsWait : {true, false}) {
    SCOPED_TRACE(loadsWait ? "loads beside appenders" : "appends beside loaders");
    TempDir dir;
    const auto file = dir.write("fechas.txt", "845794\n");
    const auto append = [&] {
      const int fd = ::open(file.c_str(), O_WRONLY);
      const std::string spaces(4093, ' ');
      const bool padded = fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::ftruncate(fd, 0) == 0 &&
                          ::pwrite(fd, spaces.data(), spaces.size(), 0) == 4093;
      ::close(fd);
      return padded && appendDate(christmas, file.c_str()) == 0;
    };
    // A load whose every line is whole.
    const auto loadWhole = [&] {
      const Loaded got = load(file);
      return got.status == LoadStatus::ok && got.dates == std::vector(got.dates.size(), christmas);
    };
    // Shared with the children: whether they are to stop, and how many
    // have started.
    auto* const shared = static_cast<std::atomic<int>*>(
        ::mmap(nullptr, 2 * sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::atomic<int>& stop = *new (shared) std::atomic<int>(0);
    std::atomic<int>& started = *new (shared + 1) std::atomic<int>(0);
    std::vector<pid_t> others;
    for (int i = 0; i < 2; ++i) {
      others.push_back(startChild([&] {
        for (int done = 0; stop.load() == 0; ++done) {
          slowly(loadsWait ? Call::write : Call::read);
          if (!(loadsWait ? append() : loadWhole())) return 1;
          if (done == 0) ++started;
        }
        return 0;
      }));
      ::usleep(10'000);
    }
    while (started.load() < 2) ::usleep(1000);
    int failed = 0;
    for (int turn = 0; turn < 20 && failed == 0; ++turn) {
      failed += (loadsWait ? loadWhole() : appendDate(christmas, file.c_str()) == 0) ? 0 : 1;
    }
    stop.store(1);
    for (const pid_t pid : others) EXPECT_EQ(waitChild(pid), 0);
    EXPECT_EQ(failed, 0);
    ::munmap(shared, 2 * sizeof(std::atomic<int>));
  }
}

// Record locks over the whole file (or, given, `size` bytes from `start`):
// classic ones, waited for as lockf(3) waits, as another process or the
// caller itself takes them; or (given F_OFD_SETLK) open file description
// locks.
bool lockRecords(int fd, short type, int command = F_SETLKW, off_t start = 0, off_t size = 0) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = size;
  return ::fcntl(fd, command, &range) == 0;
}

// What holds the file when loads and appends come. A process that keeps
// its flock lock past lockWaitSeconds (flock -x fechas.txt), or a FIFO that
// stays full that long, ends a wait: the load reports locked, the append
// returns EWOULDBLOCK and writes nothing; so does another's open file
// description lock on the queue's bytes alone, taken for the queue's own.
// Other record locks, another process's or the caller's own, classic or
// open file description locks, hold neither up. A row's waits run at once;
// a wait without end is ended by an alarm.
TEST(Lock, WaitsForTheFilesOwnLockAndTheQueuesAlone) {
  struct Holder {
    std::string what;
    std::function<bool(int)> hold;  // by this process, on the file open on fd
    short ownRecords;               // a record lock each child takes, if not F_UNLCK
    int error;
  };
  const Holder holders[] = {
      {"its flock lock", [](int fd) { return ::flock(fd, LOCK_EX) == 0; }, F_UNLCK, EWOULDBLOCK},
      {"another's write record lock", [](int fd) { return lockRecords(fd, F_WRLCK); }, F_UNLCK, 0},
      {"another's read record lock", [](int fd) { return lockRecords(fd, F_RDLCK); }, F_UNLCK, 0},
      {"the caller's own record lock", [](int) { return true; }, F_WRLCK, 0},
      {"another's open file description lock",
       [](int fd) { return lockRecords(fd, F_WRLCK, F_OFD_SETLK); }, F_UNLCK, 0},
      {"another's open file description lock on the queue's bytes alone",
       [](int fd) { return lockRecords(fd, F_WRLCK, F_OFD_SETLK, off_t{1} << 62, 2); }, F_UNLCK,
       EWOULDBLOCK},
  };
  for (const Holder& h : holders) {
    SCOPED_TRACE(h.what);
    TempDir dir;
    const auto file = dir.write("fechas.txt", "845794\n");
    const int holder = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(h.hold(holder));
    const auto fifo = dir.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    std::size_t full = 0;
    for (char byte = 'x'; ::write(filler, &byte, 1) == 1;) ++full;
    ::close(filler);
    std::vector<std::function<int()>> waits = {
        [&] {
          const Loaded got = load(file);
          // (The append beside it may have come first.)
          if (got.status == LoadStatus::ok) return got.dates.empty() ? -1 : 0;
          return got.status == LoadStatus::locked && got.dates.empty() ? got.error : -1;
        },
        [&] { return appendDate(newYear, file.c_str()); },
    };
    // A full FIFO takes no lock, and no line.
    if (h.error != 0) {
      for (int i = 0; i < 2; ++i)
        waits.emplace_back([&] { return appendDate(newYear, fifo.c_str()); });
    }
    std::vector<pid_t> children;
    for (const auto& wait : waits) {
      children.push_back(startChild([&] {
        ::alarm(4 * lockWaitSeconds);
        const int own = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        if (h.ownRecords != F_UNLCK && !lockRecords(own, h.ownRecords)) return -2;
        // A wait that ends lasts the bound: no less, and not much more.
        const auto start = std::chrono::steady_clock::now();
        const int got = wait();
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        const bool bounded =
            waited.count() >= lockWaitSeconds && waited.count() < 1.5 * lockWaitSeconds;
        return h.error != 0 && !bounded ? -3 : got;
      }));
    }
    for (const pid_t pid : children) EXPECT_EQ(waitChild(pid), h.error);
    EXPECT_EQ(readFile(file), h.error == 0 ? "845794\n36816\n" : "845794\n");
    std::size_t left = 0;
    for (char byte; ::read(reader, &byte, 1) == 1;) left += byte == 'x' ? 1 : 1000;
    EXPECT_EQ(left, full);
    ::close(reader);
    ::close(holder);
  }
}

// ---- Memory

// Writes a cgroup file system's files (laid out as the machine's own: v1's
// memory controller, or v2) that give 32 MiB left: 40 MiB of limit, 16 MiB
// taken of which 8 MiB is page cache. The limit is in the process's own
// group, or only in the hierarchy's root, as in a container whose group is
// mounted there.
bool fakeCgroupLimit(bool ownGroup) {
  constexpr std::uint64_t mib = 1 << 20;
  const MemoryCgroup own = ownMemoryCgroup();
  const bool v1 = own.v1;
  const std::filesystem::path limited = ownGroup ? own.folder() : own.root;
  std::filesystem::create_directories(limited);
  writeFile(limited / (v1 ? "memory.limit_in_bytes" : "memory.max"),
            std::to_string(40 * mib) + "\n");
  writeFile(limited / (v1 ? "memory.usage_in_bytes" : "memory.current"),
            std::to_string(16 * mib) + "\n");
  const std::string prefix = v1 ? "total_" : "";
  writeFile(limited / "memory.stat", prefix + "active_file " + std::to_string(5 * mib) + "\n" +
                                         prefix + "inactive_file " + std::to_string(3 * mib) +
                                         "\n");
  return true;
}

// What the process maps, as the limit of the resource counts it: all of it
// (RLIMIT_AS), or its data, private and writable (RLIMIT_DATA).
std::size_t inUse(int resource) {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  for (int i = 0; i <= (resource == RLIMIT_AS ? 0 : 5); ++i) statm >> pages;
  return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Fills the child's own tmpfs with `bytes`: memory that its cgroup is
// charged for and cannot reclaim.
bool fillTmpfs(const std::filesystem::path& folder, std::size_t bytes) {
  const int fd = ::open((folder / "held").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string chunk(1 << 20, 'x');
  bool written = fd >= 0;
  for (std::size_t i = 0; written && i < bytes >> 20; ++i) {
    written = ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
  }
  ::close(fd);
  return written;
}

// A load where memory is short keeps the dates that fit and says why it
// stopped; one where the dates fit, but would not twice, loads them all.
// The limits: an address space some MiB above what the process uses; a
// memory cgroup's, where the kernel would not refuse memory but kill the
// process that touches too much: faked (the child sees a cgroup file system
// of its own, a tmpfs in its place), or a real one of its own (root), with
// or without tmpfs data that it cannot reclaim.
TEST(Memory, KeepsTheDatesThatFitAndSaysWhereTheyDoNot) {
  constexpr std::size_t mib = 1 << 20;
  constexpr std::size_t dates = 4'000'000;  // 48 MB of records
  TempDir dir;
  std::string text;
  for (std::size_t i = 0; i < dates; ++i) text += "845794\n";  // a 28 MB file
  const auto file = dir.write("fechas.txt", text);
  const std::filesystem::path tmpfs = dir.path / "tmpfs";
  std::filesystem::create_directory(tmpfs);
  struct Limit {
    std::string what;
    Isolation isolation;
    std::function<bool()> set;  // in the child; false where it does not take
    std::size_t most;           // the most bytes the records may take; 0: all must load
    bool unbudgeted = false;    // the parser alone, given no budget, meets the limit
  };
  // A limit of the resource `room` bytes above what the process maps.
  const auto above = [](int resource, std::size_t room) {
    return [=] { return softLimit(resource, inUse(resource) + room); };
  };
  const Limit limits[] = {
      {"address space, short", {}, above(RLIMIT_AS, 24 * mib), 24 * mib},
      // (The heap may hand it memory that the process had mapped before.)
      {"address space, a parse given no budget", {}, above(RLIMIT_AS, 24 * mib), SIZE_MAX, true},
      {"data size, short", {}, above(RLIMIT_DATA, 24 * mib), 24 * mib},
      {"no /proc to look in", {.mount = "/proc"}, [] { return true; }, 0},
      {"address space, room for the dates once", {}, above(RLIMIT_AS, 72 * mib), 0},
      {"address space, room for the dates and a little", {}, above(RLIMIT_AS, 47 * mib), 0},
      {"data size, room for the dates and a little", {}, above(RLIMIT_DATA, 47 * mib), 0},
      {"faked cgroup, own group",
       {.mount = "/sys/fs/cgroup"},
       [] { return fakeCgroupLimit(true); },
       32 * mib},
      {"faked cgroup, only the root",
       {.mount = "/sys/fs/cgroup"},
       [] { return fakeCgroupLimit(false); },
       32 * mib},
      {"cgroup, room for the dates once", {.memoryLimit = 72 * mib}, [] { return true; }, 0},
      {"cgroup holding tmpfs data",
       {.mount = tmpfs, .bytes = 96 * mib, .memoryLimit = 100 * mib},
       [&] { return fillTmpfs(tmpfs, 64 * mib); },
       36 * mib},
  };
  Rows rows;
  for (const Limit& l : limits) {
    SCOPED_TRACE(l.what);
    if (l.isolation.mount != "/sys/fs/cgroup" && addressSanitizer) {
      rows.skip(l.what,
                "the sanitizer's shadow memory needs an unlimited address space, and counts in "
                "the cgroup's");
      continue;
    }
    const int got = inChild(
        [&] {
          if (!l.set()) return refused;
          Date* loaded = nullptr;
          DateParser parser{};
          if (l.unbudgeted && startDates(parser, text.size(), SIZE_MAX))
            feedDates(parser, text.data(), text.size());
          const LoadResult r =
              l.unbudgeted ? finishDates(parser, &loaded) : loadDates(&loaded, file.c_str());
          const bool sound = l.most == 0
                                 ? r.status == LoadStatus::ok && r.count == dates
                                 : r.status == LoadStatus::outOfMemory && r.error == ENOMEM &&
                                       r.count > 0 && r.count * sizeof(Date) <= l.most;
          bool same = loaded[r.count] == Date{0, 0, 0};
          for (std::size_t i = 0; same && i < r.count; ++i) same = loaded[i] == christmas;
          return sound && same ? 0 : 1;
        },
        l.isolation);
    if (got == refused) {
      rows.skip(l.what, l.isolation.memoryLimit != 0 || !l.isolation.mount.empty()
                            ? refusedReason(l.isolation)
                            : "address-space limits do not take here (qemu-user)");
      continue;
    }
    ++rows.ran;
    EXPECT_EQ(got, 0);
  }
  if (rows.noneRan()) GTEST_SKIP() << rows.skipped;
}

// What is left under a cgroup's limit: the page cache on the reclaim lists
// is free to take, shared memory and tmpfs pages (in v2's "file", v1's
// "total_cache", but not on those lists) are not.
TEST(Memory, CountsOnlyReclaimablePageCacheAsFree) {
  struct Case {
    std::string limit;
    std::string usage;
    std::string stat;
    bool v1;
    std::uint64_t left;
  };
  const Case cases[] = {
      {"max\n", "100\n", "", false, UINT64_MAX},
      {"1000\n", "300\n", "anon 300\n", false, 700},
      {"1000\n", "900\n", "file 800\nactive_file 300\ninactive_file 200\nshmem 300\n", false, 600},
      {"1000\n", "900\n", "inactive_filez 90\nactive_file\ninactive_file 2000\n", false, 1000},
      {"1000\n", "1200\n", "", false, 0},
      {"1000\n", "900\n",
       "cache 10\ntotal_cache 800\ntotal_shmem 300\ntotal_active_file 300\n"
       "total_inactive_file 200\nactive_file 1\n",
       true, 600},
      {"9223372036854771712\n", "900\n", "total_inactive_file 100\n", true,
       9223372036854771712 - 800},
      {"", "", "", true, UINT64_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit + c.usage + c.stat);
    EXPECT_EQ(leftInGroup(c.limit, c.usage, c.stat, c.v1), c.left);
  }
}

// With no address space left to map, the loader's read block and the
// parser's copy of a long text cannot be had; each is reported as
// outOfMemory, with a terminated array where the heap still has its room.
TEST(Memory, ReportsEveryAllocationThatFails) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  TempDir dir;
  // Longer than a block, so that the loader asks for a whole one.
  const std::string longText(200'000, '\n');
  const auto file = dir.write("fechas.txt", longText + "845794\n");
  std::vector<void*> grabbed;
  grabbed.reserve(1 << 16);
  const int got = inChild([&] {
    if (!softLimit(RLIMIT_AS, inUse(RLIMIT_AS))) return refused;
    // The heap may still have room for a block from earlier tests: take it.
    for (void* chunk;
         grabbed.size() < grabbed.capacity() && (chunk = std::malloc(4096)) != nullptr;) {
      grabbed.push_back(chunk);
    }
    const auto outOfMemory = [](const LoadResult& r, Date* dates) {
      const bool sound = r.status == LoadStatus::outOfMemory && r.error == ENOMEM && r.count == 0 &&
                         (dates == nullptr || dates[0] == Date{0, 0, 0});
      std::free(dates);
      return sound;
    };
    int failed = 0;
    Date* loaded = nullptr;
    const LoadResult l = loadDates(&loaded, file.c_str());
    if (!outOfMemory(l, loaded)) failed |= 1;
    Date* parsed = nullptr;
    const LoadResult p = parseDates(&parsed, longText.data(), longText.size());
    if (!outOfMemory(p, parsed)) failed |= 2;
    for (void* chunk : grabbed) std::free(chunk);
    return failed;
  });
  if (got == refused) GTEST_SKIP() << "address-space limits do not take here (qemu-user)";
  EXPECT_EQ(got, 0);
}

// A C program with stdio runs in a stack of 64 KiB; so must the library
// (or in the least stack a thread may have, where that is more).
TEST(Memory, LoadsParsesAndAppendsInASmallStack) {
  TempDir dir;
  std::filesystem::path file = dir.path / "fechas.txt";
  const auto body = [](void* path) -> void* {
    const auto& f = *static_cast<std::filesystem::path*>(path);
    EXPECT_EQ(appendDate(christmas, f.c_str()), 0);
    EXPECT_EQ(load(f).dates, std::vector<Date>{christmas});
    EXPECT_EQ(parse("845794\n").dates, std::vector<Date>{christmas});
    return nullptr;
  };
  pthread_attr_t attr;
  ASSERT_EQ(::pthread_attr_init(&attr), 0);
  const auto least = static_cast<std::size_t>(::sysconf(_SC_THREAD_STACK_MIN));
  ASSERT_EQ(::pthread_attr_setstacksize(&attr, std::max(std::size_t{64} << 10, least)), 0);
  pthread_t thread;
  ASSERT_EQ(::pthread_create(&thread, &attr, +body, &file), 0);
  ASSERT_EQ(::pthread_join(thread, nullptr), 0);
  ::pthread_attr_destroy(&attr);
}

// ---- Output

// writeAll goes on after a signal interrupts its wait for a full pipe and
// after partial writes, and reports what failed.
TEST(Output, WritesAllThroughSignalsAndPartialWrites) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  // A full pipe, so that the next write waits at once.
  ASSERT_EQ(::fcntl(pipe[1], F_SETFL, O_NONBLOCK), 0);
  std::size_t filled = 0;
  for (char byte = 'x'; ::write(pipe[1], &byte, 1) == 1;) ++filled;
  ASSERT_EQ(::fcntl(pipe[1], F_SETFL, 0), 0);
  const std::string data(1 << 20, 'd');
  const pid_t reader = startChild([&] {
    ::close(pipe[1]);
    ::usleep(100'000);  // long enough for several interruptions
    std::size_t total = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
      total += static_cast<std::size_t>(n);
    }
    return total == filled + data.size() ? 0 : 1;
  });
  {
    Interrupts interrupts;
    EXPECT_EQ(writeAll(pipe[1], data.data(), data.size()), 0);
  }
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_EQ(closeOutput(pipe[1]), 0);
  EXPECT_EQ(waitChild(reader), 0);
  ::close(pipe[0]);
  EXPECT_EQ(closeOutput(pipe[1]), EBADF);  // a descriptor closed already
  // What failed: a bad descriptor, a write that takes no byte (a broken
  // device), a write that fails.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const std::pair<int, int> faults[] = {{0, EBADF}, {takesNothing, ENOSPC}, {EIO, EIO}};
  for (const auto& [fault, error] : faults) {
    SCOPED_TRACE(fault);
    if (fault != 0) failNext(Call::write, fault);
    EXPECT_EQ(writeAll(fault != 0 ? null : -1, "abc", 3), error);
    clearFaults();
  }
  ::close(null);
}

}  // namespace
