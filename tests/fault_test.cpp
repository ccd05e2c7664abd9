// Scarce memory and huge tokens.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "tests/support/child.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/sanitizer.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

const std::string datelist = DATELIST_PATH;

// A date file of `lines` copies of one word, whose array needs 12 bytes a line.
std::filesystem::path repeatedDateFile(const TempDir& dir, std::size_t lines) {
  std::string text;
  text.reserve(lines * 2);
  for (std::size_t i = 0; i < lines; ++i) text += "1\n";  // 0/0/1
  return dir.write("fechas.txt", text);
}

std::size_t addressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

constexpr std::size_t lines = 4'000'000;  // an array of 48 MB

TEST(OutOfMemory, LoaderKeepsTheDatesThatFitAndSaysSo) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  TempDir dir;
  const auto file = repeatedDateFile(dir, lines);
  const int got = inChild([&] {
    const rlim_t cap = addressSpaceInUse() + (24U << 20);
    const rlimit limit{cap, cap};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 100;
    Date* dates = nullptr;
    const LoadResult r = loadDates(&dates, file.c_str());
    bool sound = r.status == LoadStatus::outOfMemory && r.error == ENOMEM && dates != nullptr &&
                 r.count > 0 && r.count < lines && dates[r.count] == (Date{0, 0, 0});
    for (std::size_t i = 0; sound && i < r.count; ++i) sound = dates[i] == (Date{0, 0, 1});
    return sound ? 0 : 1;
  });
  EXPECT_EQ(got, 0);
}

// With no address space left to map, the loader's read block and the
// parser's copy of a long text cannot be had; each is reported as
// outOfMemory, with a terminated array where the heap still has its room.
TEST(OutOfMemory, EveryAllocationThatFailsIsReported) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  TempDir dir;
  const auto file = dir.write("fechas.txt", "845794\n");
  const std::string longText(200'000, '\n');
  std::vector<void*> grabbed;
  grabbed.reserve(1 << 16);
  const int got = inChild([&] {
    const rlim_t cap = addressSpaceInUse();
    const rlimit limit{cap, cap};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 100;
    // The heap may still have room for a block from earlier tests: take it.
    for (void* chunk; grabbed.size() < grabbed.capacity() &&
                      (chunk = std::malloc(blockSize + blockPadding)) != nullptr;) {
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
    const LoadResult load = loadDates(&loaded, file.c_str());
    if (!outOfMemory(load, loaded)) failed |= 1;
    Date* parsed = nullptr;
    const LoadResult parse = parseDates(&parsed, longText.data(), longText.size());
    if (!outOfMemory(parse, parsed)) failed |= 2;
    for (void* chunk : grabbed) std::free(chunk);
    return failed;
  });
  EXPECT_EQ(got, 0);
}

TEST(OutOfMemory, DatelistListsWhatFitThenFails) {
  if (addressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
  TempDir dir;
  repeatedDateFile(dir, lines);
  const ProgramRun run = runProgram(datelist, dir.path, {}, "", {.addressSpace = 40u << 20});
  EXPECT_EQ(run.err, "datelist: fechas.txt: Cannot allocate memory\n");
  EXPECT_EQ(run.status, 1);
  // Whole lines of the dates that were loaded, nothing else.
  ASSERT_GT(run.out.size(), 0u);
  ASSERT_LT(run.out.size(), lines * 6);
  EXPECT_EQ(run.out.size() % 6, 0u);
  EXPECT_EQ(run.out.find_first_not_of("0/0/1\n"), std::string::npos);
  EXPECT_EQ(run.out.find("0/0/10"), std::string::npos);
}

TEST(HugeTokens, AreReportedClippedInBoundedMemory) {
  constexpr std::size_t megabytes = 64;
  std::string escapes;
  for (int i = 0; i < 40; ++i) escapes += "\\x1b";
  struct Case {
    char fill;
    std::string err;
  };
  const Case cases[] = {
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
