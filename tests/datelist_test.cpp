// The datelist program as a user runs it: what it lists and reports, on
// every form of file, with little memory or stack, and with output that
// cannot be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "datelist/datecodec.hpp"
#include "datelist/datefile.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/stdio_reference.hpp"

using namespace bitwords;

using namespace std::string_literals;

namespace {

const std::string datelist = DATELIST_PATH;

// Given as a file's contents, makes fechas.txt a directory.
const std::string aDirectory = "(a directory)";

struct Case {
  std::optional<std::string> file;  // contents of fechas.txt, or none
  std::string out;
  std::string err;
  int status;
  ProgramLimits limits = {};
  bool locked = false;      // another process keeps the file's lock
  std::string output = {};  // where standard output goes, if not to a file
};

std::string repeated(const std::string& line, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += line;
  return text;
}

TEST(Datelist, ListsDatesAndReportsBadFilesAndOutput) {
  const Case cases[] = {
      {"845794\n36816\n", "25/12/2018\n1/1/2000\n", "", 0},
      {"", "", "", 0},
      {"0\n845794\n", "", "", 0},
      {"34816\n845794\n", "", "", 0},
      {"845794\n34816\n36816\n", "25/12/2018\n", "", 0},
      {"5\n-1\n1015810", "0/0/5\n31/15/2047\n31/0/2\n", "", 0},
      {"845794 34816 12abc", "25/12/2018\n", "datelist: fechas.txt:1: not an integer: \"12abc\"\n",
       1},
      {std::nullopt, "", "datelist: fechas.txt: No such file or directory\n", 1},
      {"845794\n12abc\n36816\n", "25/12/2018\n",
       "datelist: fechas.txt:2: not an integer: \"12abc\"\n", 1},
      {"\n\n99999999999", "", "datelist: fechas.txt:3: out of range: \"99999999999\"\n", 1},
      {"36816\n\x1b]0;owned\x07\0\xff\n"s, "1/1/2000\n",
       "datelist: fechas.txt:2: not an integer: \"\\x1b]0;owned\\x07\\x00\\xff\"\n", 1},
      // Quotes and backslashes are escaped, and a cut token is marked.
      {"a\"b\\x41", "", "datelist: fechas.txt:1: not an integer: \"a\\\"b\\\\x41\"\n", 1},
      {std::string(50, '0') + "1x", "",
       "datelist: fechas.txt:1: not an integer: \"" + std::string(40, '0') + "\"...\n", 1},
      // The whole file is read and checked, also past a year 0.
      {"845794\n0\n12abc", "25/12/2018\n", "datelist: fechas.txt:3: not an integer: \"12abc\"\n",
       1},
      {aDirectory, "", "datelist: fechas.txt: Is a directory\n", 1},
      // Another process keeps the lock past the wait (flock -x fechas.txt).
      {"845794\n", "", "datelist: fechas.txt: locked by another process\n", 1, {}, true},
      // A C program with stdio runs in a stack of 64 KiB; so must this.
      {"845794\n36816\n12abc\n",
       "25/12/2018\n1/1/2000\n",
       "datelist: fechas.txt:3: not an integer: \"12abc\"\n",
       1,
       {.stack = 64 << 10}},
      // Output that cannot be written; with nothing to write, a closed
      // standard output is no error; left non-blocking by another program,
      // the listing waits for room.
      {"845794\n",
       "",
       "datelist: write error: No space left on device\n",
       1,
       {},
       false,
       "/dev/full"},
      {"845794\n", "", "datelist: write error: Bad file descriptor\n", 1, {}, false, closedOutput},
      {"", "", "", 0, {}, false, closedOutput},
      {"34816\n845794\n", "", "", 0, {}, false, closedOutput},
      {repeated("845794\n", 100'000),
       repeated("25/12/2018\n", 100'000),
       "",
       0,
       {},
       false,
       slowPipe},
  };
  std::string skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output + " " + c.file.value_or("(no file)").substr(0, 80));
    TempDir dir;
    if (c.file == aDirectory) {
      std::filesystem::create_directory(dir.path / "fechas.txt");
    } else if (c.file) {
      dir.write("fechas.txt", *c.file);
    }
    const int holder = c.locked ? ::open((dir.path / "fechas.txt").c_str(), O_RDONLY) : -1;
    if (c.locked) {
      ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    }
    const ProgramRun run = runProgram(datelist, dir.path, {}, c.output, c.limits);
    if (c.locked) ::close(holder);
    if (run.status == refused) {
      skipped = limitsIgnoredReason;
      continue;
    }
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// The listing of a straightforward C stdio program: scan "%d\n" until it
// fails, print "%d/%d/%d\n" until the first year 0.
std::string stdioListing(const std::filesystem::path& file) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&text, &size);
  Date* dates = stdioLoad(file.c_str());
  if (dates != nullptr) stdioList(dates, out);
  std::fclose(out);
  std::string listing(text, size);
  std::free(text);
  std::free(dates);
  return listing;
}

// Random well-formed files: signed values of all sizes, with signs, leading
// zeros and every kind of white space between them.
TEST(Datelist, ListsRandomFilesExactlyLikeCStdio) {
  std::mt19937 random(2018);
  const char* const separators[] = {"\n", "\r\n", " ", "\t", "\n\n", "\v", "\f", " \r\n "};
  for (int round = 0; round < 20; ++round) {
    std::string text;
    const int values = 1 + static_cast<int>(random() % 20000);
    for (int i = 0; i < values; ++i) {
      std::int32_t w = static_cast<std::int32_t>(random());
      if (random() % 4 != 0)
        w = packDate({static_cast<std::int32_t>(random() % 32),
                      static_cast<std::int32_t>(random() % 16),
                      static_cast<std::int32_t>(random() % 2047 + 1)});
      if (round % 2 == 0 && getYear(w) == 0) w = setYear(w, 1);  // most rounds list the whole file
      if (w >= 0 && random() % 8 == 0) text += '+';
      if (random() % 8 == 0)
        text += (w < 0 ? "-000" : "00") + std::to_string(w < 0 ? -(std::int64_t{w}) : w);
      else
        text += std::to_string(w);
      text += separators[random() % std::size(separators)];
    }
    if (random() % 2 == 0) text.pop_back();
    TempDir dir;
    const auto file = dir.write("fechas.txt", text);
    const ProgramRun run = runProgram(datelist, dir.path);
    ASSERT_EQ(run.out, stdioListing(file)) << "round " << round;
    ASSERT_EQ(run.err, "");
    ASSERT_EQ(run.status, 0);
  }
}

TEST(Datelist, ListsWhatFitsInMemoryThenFails) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  constexpr std::size_t lines = 4'000'000;  // an array of 48 MB
  TempDir dir;
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += "1\n";  // 0/0/1
  dir.write("fechas.txt", text);
  const ProgramRun run = runProgram(datelist, dir.path, {}, "", {.addressSpace = 40u << 20});
  if (run.status == refused) GTEST_SKIP() << limitsIgnoredReason;
  EXPECT_EQ(run.err, "datelist: fechas.txt: Cannot allocate memory\n");
  EXPECT_EQ(run.status, 1);
  // Whole lines of the dates that were loaded, nothing else.
  ASSERT_GT(run.out.size(), 0u);
  ASSERT_LT(run.out.size(), lines * 6);
  EXPECT_EQ(run.out.size() % 6, 0u);
  EXPECT_EQ(run.out.find_first_not_of("0/0/1\n"), std::string::npos);
  EXPECT_EQ(run.out.find("0/0/10"), std::string::npos);
}

TEST(Datelist, ReportsHugeTokensClippedInBoundedMemory) {
  constexpr std::size_t megabytes = 64;
  std::string escapes;
  for (int i = 0; i < 40; ++i) escapes += "\\x1b";
  struct HugeCase {
    char fill;
    std::string err;
  };
  const HugeCase cases[] = {
      {'7', "datelist: fechas.txt:2: out of range: \"" + std::string(40, '7') + "\"...\n"},
      {'\x1b', "datelist: fechas.txt:2: not an integer: \"" + escapes + "\"...\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    {
      // Written a megabyte at a time, so that this process stays small for
      // the program's peak memory to be its own.
      std::ofstream out(dir.path / "fechas.txt", std::ios::binary);
      out << "36816\n";
      const std::string chunk(1 << 20, c.fill);
      for (std::size_t i = 0; i < megabytes; ++i) out << chunk;
      out << "\n845794\n";
    }
    const ProgramRun run = runProgram(datelist, dir.path);
    EXPECT_EQ(run.out, "1/1/2000\n");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
    // The sanitizer's shadow of the date array counts in the peak too.
    if (!addressSanitizer) {
      EXPECT_LT(run.peakKiB, static_cast<long>(megabytes << 10) / 2) << "the token was buffered";
    }
  }
}

}  // namespace
