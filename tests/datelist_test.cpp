// The datelist program as a user runs it: what its entry point does with
// what the library gives, with little memory or stack, and with output that
// cannot be written. (What the library does is tested in its own tables.)
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "tests/support/run_program.hpp"

namespace {

const std::string datelist = DATELIST_PATH;

struct Case {
  std::optional<std::string> file;  // contents of fechas.txt, or none
  std::string out;
  std::string err;
  int status;
  std::string output = {};  // where standard output goes, if not to a file
};

std::string repeated(const std::string& line, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += line;
  return text;
}

// What the program itself does with what the library gives: lists up to
// the first year 0, reads the whole file and reports a fault after the
// listing, as one line after its name, with status 1; reports output that
// cannot be written, but not a closed standard output where nothing is to
// be written; waits for standard output left non-blocking by another
// program.
TEST(Datelist, ListsReportsAndClosesItsOutput) {
  const Case cases[] = {
      {"845794\n36816\n", "25/12/2018\n1/1/2000\n", "", 0},
      {"845794\n34816\n36816\n", "25/12/2018\n", "", 0},
      {"845794\n0\n12abc", "25/12/2018\n", "datelist: fechas.txt:3: not an integer: \"12abc\"\n",
       1},
      {std::nullopt, "", "datelist: fechas.txt: No such file or directory\n", 1},
      {"845794\n", "", "datelist: write error: No space left on device\n", 1, "/dev/full"},
      {"845794\n", "", "datelist: write error: Bad file descriptor\n", 1, closedOutput},
      {"", "", "", 0, closedOutput},
      {"34816\n845794\n", "", "", 0, closedOutput},
      {repeated("845794\n", 100'000), repeated("25/12/2018\n", 100'000), "", 0, slowPipe},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output + " " + c.file.value_or("(no file)").substr(0, 80));
    TempDir dir;
    if (c.file) dir.write("fechas.txt", *c.file);
    const ProgramRun run = runProgram(datelist, dir.path, {}, c.output);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
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
  const ProgramRun run = runProgram(datelist, dir.path, {}, "", 40u << 20);
  if (run.status == refused) GTEST_SKIP() << limitsIgnoredReason;
  EXPECT_EQ(run.err, "datelist: fechas.txt: Cannot allocate memory\n");
  EXPECT_EQ(run.status, 1);
  // Whole lines of the dates that were loaded, nothing else.
  ASSERT_GT(run.out.size(), 0u);
  ASSERT_LT(run.out.size(), lines * 6);
  EXPECT_EQ(run.out, repeated("0/0/1\n", run.out.size() / 6));
}

TEST(Datelist, ReportsHugeTokensClippedInBoundedMemory) {
  constexpr std::size_t megabytes = 64;
  const std::string escapes = repeated("\\x1b", 40);
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
