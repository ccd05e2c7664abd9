#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>

#include "datelist/datecodec.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/stdio_reference.hpp"
#include "tests/support/temp_dir.hpp"

using namespace std::string_literals;

namespace {

const std::string datelist = DATELIST_PATH;

struct Case {
  std::optional<std::string> file;  // contents of fechas.txt, or none
  std::string out;
  std::string err;
  int status;
};

TEST(Datelist, ListsDatesAndReportsBadFiles) {
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.value_or("(no file)"));
    TempDir dir;
    if (c.file) dir.write("fechas.txt", *c.file);
    const ProgramRun run = runProgram(datelist, dir.path);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
}

TEST(Datelist, ReportsADirectoryInPlaceOfTheFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path / "fechas.txt");
  const ProgramRun run = runProgram(datelist, dir.path);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "datelist: fechas.txt: Is a directory\n");
  EXPECT_EQ(run.status, 1);
}

TEST(Datelist, ReportsOutputThatCannotBeWritten) {
  struct OutputCase {
    std::string output;  // where standard output goes
    std::string file;
    std::string err;
    int status;
  };
  const OutputCase cases[] = {
      {"/dev/full", "845794\n", "datelist: write error: No space left on device\n", 1},
      {closedOutput, "845794\n", "datelist: write error: Bad file descriptor\n", 1},
      // Nothing to write: a closed standard output is no error.
      {closedOutput, "", "", 0},
      {closedOutput, "34816\n845794\n", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output + " " + c.file);
    TempDir dir;
    dir.write("fechas.txt", c.file);
    const ProgramRun run = runProgram(datelist, dir.path, {}, c.output);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
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

}  // namespace
