// The loader and the parser behind it: every form of text, every bad
// token, texts cut anywhere, every path, huge tokens and files, scarce
// memory, readers beside appenders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "tests/support/child.hpp"
#include "tests/support/interrupts.hpp"
#include "tests/support/loaded.hpp"
#include "tests/support/paths.hpp"
#include "tests/support/sanitizer.hpp"
#include "tests/support/temp_dir.hpp"

using namespace bitwords;
using namespace bitwords::detail;

using namespace std::string_literals;

namespace {

struct GoodCase {
  std::string text;
  std::vector<Date> dates;
};

const std::vector<GoodCase> goodCases = {
    {"", {}},
    {" \t\n\v\f\r\n", {}},
    {"845794\n36816\n", {christmas, newYear}},
    {"845794 36816", {christmas, newYear}},
    {"845794\r\n36816\r\n", {christmas, newYear}},
    {"\n\n  845794\t\t\v\f36816  \n\n", {christmas, newYear}},
    {"+845794\n0000000000000000000000036816", {christmas, newYear}},
    {"-1\n", {{31, 15, 2047}}},
    {"0\n36816\n", {{0, 0, 0}, newYear}},
    {"34816 845794", {{1, 1, 0}, christmas}},
    {"-0 +0 -2146637854", {{0, 0, 0}, {0, 0, 0}, christmas}},
    {"2147483647 -2147483648", {{31, 15, 2047}, {0, 0, 0}}},
    {"1000000000\n-1000000000\n", {unpackDate(1000000000), unpackDate(-1000000000)}},
    // Lines the wide path hands on: empty, nine or ten digits, leading zeros.
    {"845794\n\n\n36816\n", {christmas, newYear}},
    {"12345678\n123456789\n1234567890\n1\n",
     {unpackDate(12345678), unpackDate(123456789), unpackDate(1234567890), {0, 0, 1}}},
    {"00845794\n000036816\n", {christmas, newYear}},
};

// Lines of plain dates put before a case, so that the wide path takes the
// text up to the case, from windows that start at different places in it.
const std::size_t leadLines[] = {0, 9, 31, 32, 37};

std::string lead(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += "845794\n";
  return text;
}

std::vector<Date> withLead(std::size_t lines, const std::vector<Date>& dates) {
  std::vector<Date> all(lines, christmas);
  all.insert(all.end(), dates.begin(), dates.end());
  return all;
}

// Parses each case's text on every path after every lead, and hands the
// outcome to check with the case and the lead's number of lines.
template <typename Case, typename Check>
void parseEveryWay(const std::vector<Case>& cases, Check check) {
  for (const WidePath path : paths()) {
    for (const std::size_t lines : leadLines) {
      for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << static_cast<int>(path) << " " << lines << " " << c.text);
        check(c, lines, parseInPieces(lead(lines) + c.text, {}, path));
      }
    }
  }
}

TEST(Loader, ReadsEveryWellFormedText) {
  parseEveryWay(goodCases, [](const GoodCase& c, std::size_t lines, const Loaded& got) {
    EXPECT_EQ(got.status, LoadStatus::ok);
    EXPECT_EQ(got.dates, withLead(lines, c.dates));
  });
}

struct BadCase {
  std::string text;
  LoadStatus status;
  std::size_t line;
  std::string token;
  std::vector<Date> dates;  // kept from before the bad token
  bool cut = false;         // the token is longer than its shown part
};

const std::vector<BadCase> badCases = {
    {"12abc\n845794\n", LoadStatus::notInteger, 1, "12abc", {}},
    {"845794\n\n99999999999\n36816\n", LoadStatus::outOfRange, 3, "99999999999", {christmas}},
    {"2147483648", LoadStatus::outOfRange, 1, "2147483648", {}},
    {"2147483648\n", LoadStatus::outOfRange, 1, "2147483648", {}},
    {"5\n18446744073709551621\n", LoadStatus::outOfRange, 2, "18446744073709551621", {{0, 0, 5}}},
    {"-00000000000000000000000000000000000000000000000000002147483649 ",
     LoadStatus::outOfRange,
     1,
     "-000000000000000000000000000000000000000",
     {},
     true},
    {"12:30\n", LoadStatus::notInteger, 1, "12:30", {}},
    {"1/1/2000\n", LoadStatus::notInteger, 1, "1/1/2000", {}},
    {"0000000000000000000001:\n", LoadStatus::notInteger, 1, "0000000000000000000001:", {}},
    {"36816\r\n-2147483649\r\n", LoadStatus::outOfRange, 2, "-2147483649", {newYear}},
    {"845794 + 36816", LoadStatus::notInteger, 1, "+", {christmas}},
    {"845794\n-", LoadStatus::notInteger, 2, "-", {christmas}},
    {"1-2", LoadStatus::notInteger, 1, "1-2", {}},
    {"0x10", LoadStatus::notInteger, 1, "0x10", {}},
    {"+-5", LoadStatus::notInteger, 1, "+-5", {}},
    {"99999999999x", LoadStatus::notInteger, 1, "99999999999x", {}},
    {"845794\n\x1b[2J\0\n"s, LoadStatus::notInteger, 2, "\x1b[2J\0"s, {christmas}},
    {"5 " + std::string(100, 'a'),
     LoadStatus::notInteger,
     1,
     std::string(40, 'a'),
     {{0, 0, 5}},
     true},
    {std::string(60, '9') + "\n5", LoadStatus::outOfRange, 1, std::string(40, '9'), {}, true},
    {std::string(39, 'a') + "b", LoadStatus::notInteger, 1, std::string(39, 'a') + "b", {}},
    {std::string(39, 'a') + "b\n", LoadStatus::notInteger, 1, std::string(39, 'a') + "b", {}},
    {std::string(40, 'a') + "b", LoadStatus::notInteger, 1, std::string(40, 'a'), {}, true},
    {std::string(50, '0') + "1x", LoadStatus::notInteger, 1, std::string(40, '0'), {}, true},
};

TEST(Loader, StopsAtTheFirstBadTokenKeepingWhatCameBefore) {
  parseEveryWay(badCases, [](const BadCase& c, std::size_t lines, const Loaded& got) {
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.line, c.line + lines);
    EXPECT_EQ(got.token, c.token);
    EXPECT_EQ(got.cut, c.cut);
    EXPECT_EQ(got.dates, withLead(lines, c.dates));
  });
}

// A token may be cut anywhere by the end of a read; every cut must give the
// same outcome as the whole text.
TEST(Loader, GivesTheSameOutcomeWhereverTheTextIsCut) {
  std::vector<std::string> texts;
  for (const auto& c : goodCases) texts.push_back(lead(9) + c.text);
  for (const auto& c : badCases) texts.push_back(lead(9) + c.text);
  for (const WidePath path : paths()) {
    for (const auto& text : texts) {
      SCOPED_TRACE(::testing::Message() << static_cast<int>(path) << " " << text);
      const Loaded whole = parseInPieces(text, {}, path);
      for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        expectSame(parseInPieces(text, {cut}, path), whole);
      }
      std::vector<std::size_t> everyByte;
      for (std::size_t cut = 1; cut < text.size(); ++cut) everyByte.push_back(cut);
      expectSame(parseInPieces(text, everyByte, path), whole);
    }
  }
}

// Long random texts in every form the loader takes (each round one way of
// ending values: line feeds, CRLF, spaces and tabs, runs and blank lines,
// leading zeros), with tokens of every other form mixed in: each path
// gives the portable path's outcome, whole and in pieces.
TEST(Loader, PathsAgreeOnMixedTexts) {
  std::mt19937 random(1789);
  const char* const forms[] = {"\n", "\r\n", " ", "\t", " \t\r\n\v\f", "\n\n\n"};
  const char* const odd[] = {"\n",          "\r\n",           " ",
                             "123456789\n", "2147483647\n",   "0000000001\n",
                             "00845794\n",  "000000845794\n", "99999999999\n",
                             "+5\n",        "-5\n",           "7x\n"};
  for (int round = 0; round < 300; ++round) {
    const std::string separator = forms[static_cast<std::size_t>(round) % std::size(forms)];
    const bool zeros = round % 7 == 0;
    std::string text;
    const int lines = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < lines; ++i) {
      if (random() % 40 == 0) {
        text += odd[random() % std::size(odd)];
      } else {
        const std::string value = std::to_string(random() % 100000000);
        text += (zeros ? std::string(random() % 3, '0') : "") + value + separator;
      }
    }
    if (random() % 2 == 0) text.pop_back();
    SCOPED_TRACE(text);
    const Loaded want = parseInPieces(text, {}, WidePath::portable);
    for (const WidePath path : paths()) {
      expectSame(parseInPieces(text, {}, path), want);
      expectSame(parseInPieces(text, {random() % (text.size() + 1)}, path), want);
    }
  }
}

TEST(Loader, ReadsHugeTokensInBoundedMemory) {
  const std::string zeros(5'000'000, '0');
  const Loaded padded = parse("36816 " + zeros + "845794\n");
  EXPECT_EQ(padded.status, LoadStatus::ok);
  EXPECT_EQ(padded.dates, (std::vector<Date>{newYear, christmas}));

  TempDir dir;
  const auto file = dir.write("fechas.txt", "36816\n" + zeros + "1" + zeros + "\n845794\n");
  const Loaded huge = load(file);
  EXPECT_EQ(huge.status, LoadStatus::outOfRange);
  EXPECT_EQ(huge.line, 2u);
  EXPECT_EQ(huge.token, std::string(40, '0'));
  EXPECT_TRUE(huge.cut);
  EXPECT_EQ(huge.dates, std::vector<Date>{newYear});
}

TEST(Loader, ReportsFilesThatCannotBeRead) {
  TempDir dir;
  struct Case {
    std::filesystem::path path;
    LoadStatus status;
    int error;
  };
  const Case cases[] = {
      {dir.path / "missing", LoadStatus::cannotOpen, ENOENT},
      {dir.path, LoadStatus::readError, EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Loaded got = load(c.path);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.error, c.error);
    EXPECT_TRUE(got.dates.empty());
  }
}

TEST(Loader, ReadsALargeFileAcrossManyReads) {
  std::string text;
  std::vector<Date> want;
  for (std::int32_t i = 0; i < 200'000; ++i) {
    const Date d{i % 32, i % 16, 1 + i % 2047};
    want.push_back(d);
    text += std::to_string(packDate(d)) + (i % 3 == 0 ? "\r\n" : "\n");
  }
  TempDir dir;
  const auto file = dir.write("fechas.txt", text);
  const Loaded got = load(file);
  EXPECT_EQ(got.status, LoadStatus::ok);
  EXPECT_EQ(got.dates, want);
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
  const pid_t appender = startChild([&] {
    const int fd = ::open(file.c_str(), O_WRONLY);
    const std::string spaces(4093, ' ');
    for (int i = 0; i < appends; ++i) {
      if (::flock(fd, LOCK_EX) != 0 || ::ftruncate(fd, 0) != 0 ||
          ::pwrite(fd, spaces.data(), spaces.size(), 0) != 4093 || ::flock(fd, LOCK_UN) != 0 ||
          appendDate(christmas, file.c_str()) != 0) {
        return 1;
      }
      appended->store(i + 1);
    }
    return 0;
  });
  int torn = 0;
  while (appended->load() < appends) {
    Date* dates = nullptr;
    const LoadResult r = loadDates(&dates, file.c_str());
    ASSERT_EQ(r.status, LoadStatus::ok);
    for (std::size_t i = 0; i < r.count; ++i) torn += dates[i] != christmas;
    std::free(dates);
  }
  EXPECT_EQ(waitChild(appender), 0);
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
  const pid_t appender = startChild([&] {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "", 1) != 1) return 1;
    ::usleep(100'000);  // long enough for several interruptions
    return ::write(fd, "845794\n", 7) == 7 ? 0 : 1;
  });
  char byte;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  Loaded got{};
  {
    Interrupts interrupts;
    got = load(file);
  }
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_EQ(waitChild(appender), 0);
  EXPECT_EQ(got.status, LoadStatus::ok);
  EXPECT_EQ(got.dates, (std::vector<Date>{newYear, christmas}));
  ::close(ready[0]);
  ::close(ready[1]);
}

// A sparse file's size promises far more values than it can hold: a load
// does not ask for more memory than the machine has, and reads the file as
// it is (the NUL bytes after its first line are no integer). 5 GiB is past
// what a 32-bit offset or size holds. tmpfs takes files of any size.
TEST(Loader, TakesTheSizeOfHugeSparseFilesInStride) {
  const off_t sizes[] = {off_t{5} << 30, off_t{15} << 40, std::numeric_limits<off_t>::max()};
  for (const off_t size : sizes) {
    SCOPED_TRACE(size);
    TempDir dir;
    const auto file = dir.path / "fechas.txt";
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
        {.tmpfs = dir.path});
    if (got == refused) GTEST_SKIP() << refusedReason;
    EXPECT_EQ(got, 0);
  }
}

// A C program with stdio runs in a stack of 64 KiB; so must the library
// (or in the least stack a thread may have, where that is more).
TEST(Loader, LoadsParsesAndAppendsInASmallStack) {
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
  const long least = ::sysconf(_SC_THREAD_STACK_MIN);
  ASSERT_EQ(::pthread_attr_setstacksize(
                &attr, std::max(std::size_t{64} << 10, static_cast<std::size_t>(least))),
            0);
  pthread_t thread;
  ASSERT_EQ(::pthread_create(&thread, &attr, +body, &work), 0);
  ASSERT_EQ(::pthread_join(thread, nullptr), 0);
  ::pthread_attr_destroy(&attr);
  EXPECT_TRUE(work.sound);
}

std::size_t addressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Writes a cgroup file system's files (laid out as the machine's own:
// v1's memory controller, or v2) that give 32 MiB left: 40 MiB of limit,
// 16 MiB taken of which 8 MiB is page cache. The limit is in the process's
// own group, or only in the hierarchy's root, as in a container whose
// group is mounted there.
void fakeCgroupLimit(bool ownGroup) {
  constexpr std::uint64_t mib = 1 << 20;
  // /proc/self/cgroup: v1's memory line, else v2's.
  std::ifstream groups("/proc/self/cgroup");
  std::string root = "/sys/fs/cgroup";
  std::string path;
  bool v1 = false;
  for (std::string line; std::getline(groups, line);) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    const std::string names = line.substr(first + 1, second - first - 1);
    if (("," + names + ",").find(",memory,") != std::string::npos) {
      v1 = true;
      path = line.substr(second + 1);
    } else if (names.empty() && !v1) {
      path = line.substr(second + 1);
    }
  }
  if (v1) root += "/memory";
  const std::filesystem::path limited = ownGroup ? root + path : root;
  std::filesystem::create_directories(limited);
  writeFile(limited / (v1 ? "memory.limit_in_bytes" : "memory.max"),
            std::to_string(40 * mib) + "\n");
  writeFile(limited / (v1 ? "memory.usage_in_bytes" : "memory.current"),
            std::to_string(16 * mib) + "\n");
  // The page cache's line, after one that ends with the same key.
  const std::string key = v1 ? "total_cache " : "file ";
  writeFile(limited / "memory.stat",
            "cache 1\nmapped_" + key + "2\n" + key + std::to_string(8 * mib) + "\n");
}

// A load of a 48 MB array where memory runs short keeps the dates that fit
// and says why it stopped: under an address-space limit 24 MiB above what
// the process uses, and under a memory cgroup's limit, where the kernel
// would not refuse memory but kill the process that touches too much (the
// child sees a cgroup file system of its own, a tmpfs in its place, whose
// files give 32 MiB left).
TEST(Loader, KeepsTheDatesThatFitInMemoryAndSaysSo) {
  constexpr std::size_t lines = 4'000'000;
  TempDir dir;
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += "1\n";  // 0/0/1
  const auto file = dir.write("fechas.txt", text);
  struct Limit {
    std::string what;
    std::function<bool()> set;  // in the child; false where it does not take
    std::filesystem::path tmpfs;
    std::size_t bytes;  // the most the array may take
  };
  const Limit limits[] = {
      {"address space", [] { return softLimit(RLIMIT_AS, addressSpaceInUse() + (24U << 20)); }, "",
       24U << 20},
      {"cgroup, own group", [] { return fakeCgroupLimit(true), true; }, "/sys/fs/cgroup",
       32U << 20},
      {"cgroup, only the root", [] { return fakeCgroupLimit(false), true; }, "/sys/fs/cgroup",
       32U << 20},
  };
  std::string skipped;
  for (const Limit& l : limits) {
    SCOPED_TRACE(l.what);
    if (l.tmpfs.empty() && addressSanitizer) {
      skipped = "the sanitizer's shadow memory needs an unlimited address space";
      continue;
    }
    const int got = inChild(
        [&] {
          if (!l.set()) return refused;
          Date* dates = nullptr;
          const LoadResult r = loadDates(&dates, file.c_str());
          bool sound = r.status == LoadStatus::outOfMemory && r.error == ENOMEM && r.count > 0 &&
                       r.count * sizeof(Date) <= l.bytes && dates[r.count] == (Date{0, 0, 0});
          for (std::size_t i = 0; sound && i < r.count; ++i) sound = dates[i] == (Date{0, 0, 1});
          return sound ? 0 : 1;
        },
        {.tmpfs = l.tmpfs});
    if (got == refused) {
      skipped =
          l.tmpfs.empty() ? "address-space limits do not take here (qemu-user)" : refusedReason;
      continue;
    }
    EXPECT_EQ(got, 0);
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// With no address space left to map, the loader's read block and the
// parser's copy of a long text cannot be had; each is reported as
// outOfMemory, with a terminated array where the heap still has its room.
TEST(Loader, ReportsEveryAllocationThatFails) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  TempDir dir;
  // Longer than a block, so that the loader asks for a whole one.
  const std::string longText(200'000, '\n');
  const auto file = dir.write("fechas.txt", longText + "845794\n");
  std::vector<void*> grabbed;
  grabbed.reserve(1 << 16);
  const int got = inChild([&] {
    if (!softLimit(RLIMIT_AS, addressSpaceInUse())) return refused;
    // The heap may still have room for a block from earlier tests: take it.
    for (void* chunk;
         grabbed.size() < grabbed.capacity() &&
         (chunk = std::malloc(blockLookBehind + blockSize + blockPadding)) != nullptr;) {
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
}  // namespace
