#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "tests/support/paths.hpp"
#include "tests/support/temp_dir.hpp"

using namespace std::string_literals;

namespace {

// What a load hands back, in a form that gtest can compare and print.
struct Loaded {
  std::vector<Date> dates;  // the records before the terminator
  LoadStatus status;
  int error;
  std::size_t line;
  std::string token;
  bool cut;
};

// Collects the records, checking that the array is terminated right after
// the count the result gives.
Loaded collect(Date* dates, const LoadResult& result) {
  Loaded loaded{{},
                result.status,
                result.error,
                result.line,
                std::string(result.token, result.tokenSize),
                result.tokenCut};
  EXPECT_NE(dates, nullptr);
  if (dates == nullptr) return loaded;
  loaded.dates.assign(dates, dates + result.count);
  EXPECT_EQ(dates[result.count], (Date{0, 0, 0}));
  std::free(dates);
  return loaded;
}

Loaded load(const std::filesystem::path& file) {
  Date* dates = nullptr;
  const LoadResult result = loadDates(&dates, file.c_str());
  return collect(dates, result);
}

Loaded parse(std::string_view text) {
  Date* dates = nullptr;
  const LoadResult result = parseDates(&dates, text.data(), text.size());
  return collect(dates, result);
}

// The same text fed in pieces of the given sizes, the last piece taking the
// rest, on one path.
Loaded parseInPieces(std::string_view text, const std::vector<std::size_t>& cuts,
                     WidePath path = WidePath::best) {
  DateParser parser{};
  parser.path = path;
  std::size_t at = 0;
  for (std::size_t cut : cuts) {
    if (!feedDates(parser, text.data() + at, cut - at)) break;
    at = cut;
  }
  feedDates(parser, text.data() + at, text.size() - at);
  Date* dates = nullptr;
  const LoadResult result = finishDates(parser, &dates);
  return collect(dates, result);
}

void expectSame(const Loaded& got, const Loaded& want) {
  EXPECT_EQ(got.dates, want.dates);
  EXPECT_EQ(got.status, want.status);
  EXPECT_EQ(got.line, want.line);
  EXPECT_EQ(got.token, want.token);
  EXPECT_EQ(got.cut, want.cut);
}

struct GoodCase {
  std::string text;
  std::vector<Date> dates;
};

const Date christmas{25, 12, 2018};
const Date newYear{1, 1, 2000};

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

// Long random texts, mostly of the wide path's form with every other form
// mixed in: each path gives the same outcome, whole and in pieces.
TEST(Loader, PathsAgreeOnMixedTexts) {
  std::mt19937 random(1789);
  const char* const odd[] = {"\n",           "\r\n",          " ",    "123456789\n", "2147483647\n",
                             "0000000001\n", "99999999999\n", "+5\n", "-5\n",        "7x\n"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int lines = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < lines; ++i) {
      if (random() % 40 == 0) {
        text += odd[random() % std::size(odd)];
      } else {
        text += std::to_string(random() % 100000000) + "\n";
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

TEST(Appender, AppendedDatesLoadBackInOrder) {
  TempDir dir;
  const auto file = dir.path / "fechas.txt";
  const std::vector<Date> dates = {christmas, newYear, {31, 15, 2047}, {0, 0, 1}, {1, 1, 0}};
  for (const Date d : dates) ASSERT_EQ(appendDate(d, file.c_str()), 0);
  EXPECT_EQ(readFile(file), "845794\n36816\n1048575\n1\n34816\n");
  EXPECT_EQ(load(file).dates, dates);
}

TEST(Appender, RefusesDatesItsFieldsCannotHold) {
  TempDir dir;
  const auto file = dir.path / "fechas.txt";
  for (const Date d : {Date{32, 1, 2000}, Date{1, 16, 2000}, Date{1, 1, 2048}, Date{-1, 1, 2000},
                       Date{1, -1, 2000}, Date{1, 1, -1}}) {
    EXPECT_EQ(appendDate(d, file.c_str()), ERANGE);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(Appender, EndsAnUnfinishedLastLineFirst) {
  TempDir dir;
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"845794", "845794\n36816\n"},
      {"845794\r\n", "845794\r\n36816\n"},
      {"845794\n", "845794\n36816\n"},
      {"", "36816\n"},
  };
  for (const auto& c : cases) {
    const auto file = dir.write("fechas.txt", c.before);
    ASSERT_EQ(appendDate(newYear, file.c_str()), 0);
    EXPECT_EQ(readFile(file), c.after);
  }
}

TEST(Appender, ReportsWhatFailed) {
  TempDir dir;
  EXPECT_EQ(appendDate(newYear, (dir.path / "missing" / "fechas.txt").c_str()), ENOENT);
  EXPECT_EQ(appendDate(newYear, dir.path.c_str()), EISDIR);
  EXPECT_EQ(appendDate(newYear, "/dev/full"), ENOSPC);
}

}  // namespace
