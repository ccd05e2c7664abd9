// The appender: the lines it writes, what it refuses, and the file it
// leaves when an append fails or cannot read what is there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "datelist/datefile.hpp"
#include "tests/support/child.hpp"
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
      if (!softLimit(RLIMIT_FSIZE, c.limit)) return 100;
      const int error = appendDate(newYear, file.c_str());
      // So that the child's own files (coverage counts) can be written.
      return softLimit(RLIMIT_FSIZE, RLIM_INFINITY) ? error : 100;
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
    std::string before;
    while (before.size() < 4096 - room - 1) before += "1\n";
    before.resize(4096 - room - 1, '1');
    before += "\n";
    const auto file = dir.path / "fechas.txt";
    const int got = inChild(
        [&] {
          writeFile(file, before);
          if (appendDate(christmas, file.c_str()) != ENOSPC) return 1;
          if (readFile(file) != before) return 2;
          if (::mount("tmpfs", dir.path.c_str(), "tmpfs", MS_REMOUNT, "size=8k") != 0) return 3;
          if (appendDate(christmas, file.c_str()) != 0) return 4;
          return readFile(file) == before + "845794\n" ? 0 : 5;
        },
        {.tmpfs = dir.path, .tmpfsBytes = 4096});
    if (got == refused) GTEST_SKIP() << refusedReason;
    EXPECT_EQ(got, 0);
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
