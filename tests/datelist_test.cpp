// The datelist program as a user runs it: what its entry point does with
// what the library gives, with little memory or stack, and with output that
// cannot be written. (What the library does is tested in its own tables.)
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "datelist/datecodec.hpp"
#include "tests/support/lines.hpp"
#include "tests/support/run_program.hpp"

namespace {

const std::string datelist = DATELIST_PATH;
const std::string plainListing = PLAIN_LISTING_PATH;

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
    EXPECT_EQ(firstDifference(run.out, c.out), "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
}
// Where memory is short, under an address-space limit or a memory
// cgroup's, datelist lists whole lines of the dates that fit and reports
// the rest, with status 1, rather than being killed, at every size of
// load. Under a larger address space it lists no fewer, and it lists all
// wherever the plain stdio listing (fscanf, then a realloc a value) does.
TEST(Datelist, ListsWhatFitsInMemoryThenFails) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  struct Limit {
    std::string what;
    std::size_t lines;  // of "1", or of random dates where `sweep`
    Limits limits;
    bool sweep = false;
  };
  std::vector<Limit> limits = {
      {"4,000,000 dates in 40 MiB of address space", 4'000'000, {.addressSpace = 40 << 20}},
      {"330,000 dates in a memory cgroup of 4 MiB", 330'000, {.memoryGroup = 4 << 20}},
      {"200,000 dates in a memory cgroup of 2 MiB", 200'000, {.memoryGroup = 2 << 20}},
  };
  for (rlim_t kib = 2000; kib <= 8000; kib += 250) {
    limits.push_back({"200,000 random dates in " + std::to_string(kib) + " KiB of address space",
                      200'000,
                      {.addressSpace = kib << 10},
                      true});
  }
  Rows rows;
  TempDir empty;  // where it lists nothing, to see whether it starts at all
  empty.write("fechas.txt", "");
  std::size_t before = 0;  // what the smaller address space before listed
  for (const Limit& l : limits) {
    SCOPED_TRACE(l.what);
    TempDir dir;
    std::string text;
    std::string listing;
    std::mt19937 random(7);
    for (std::size_t i = 0; i < l.lines; ++i) {
      const bitwords::Date d{static_cast<int>(1 + random() % 31),
                             static_cast<int>(1 + random() % 12),
                             static_cast<int>(1 + random() % 2047)};
      const bitwords::Date date = l.sweep ? d : bitwords::Date{0, 0, 1};
      text += std::to_string(bitwords::packDate(date)) + "\n";
      listing += std::to_string(date.day) + "/" + std::to_string(date.month) + "/" +
                 std::to_string(date.year) + "\n";
    }
    dir.write("fechas.txt", text);
    const ProgramRun run = runProgram(datelist, dir.path, {}, "", l.limits);
    if (run.status == refused) {
      rows.skip(l.what, l.limits.memoryGroup != 0
                            ? "a memory cgroup of its own needs root, and no emulator"
                            : limitsIgnoredReason);
      continue;
    }
    // Below some address space a program cannot start (a dynamically
    // linked one, below some 2.3 MB): the C library's start fails first,
    // with no status of datelist's own.
    const int started = l.sweep ? runProgram(datelist, empty.path, {}, "", l.limits).status : 0;
    if (started != 0 && started != 1) {
      rows.skip(l.what, "datelist cannot start in it, as no program linked as it is can");
      continue;
    }
    ++rows.ran;
    const bool whole = run.status == 0 && run.err.empty() && run.out == listing;
    EXPECT_TRUE(whole ||
                (run.status == 1 && run.err == "datelist: fechas.txt: Cannot allocate memory\n" &&
                 listing.starts_with(run.out) && (run.out.empty() || run.out.back() == '\n')))
        << run.status << " " << run.err;
    if (!l.sweep) {
      EXPECT_FALSE(whole || run.out.empty());
      continue;
    }
    const auto listed = static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
    EXPECT_GE(listed, before);
    before = listed;
    if (runProgram(plainListing, dir.path, {}, "", l.limits).out == listing) {
      EXPECT_TRUE(whole);
    }
  }
  if (rows.noneRan()) GTEST_SKIP() << rows.skipped;
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
