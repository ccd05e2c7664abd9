// The parser behind the loader, as plain tables of bytes, records and
// outcomes: every form of text, every bad token, texts cut anywhere, every
// path, huge tokens, and the memory budget it is given.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "datelist/dateparse.hpp"
#include "tests/support/loaded.hpp"

using namespace bitwords;
using namespace bitwords::detail;

using namespace std::string_literals;

namespace {

// `lines` lines of the line.
std::string lead(std::size_t lines, const std::string& line = "845794\n") {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += line;
  return text;
}

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
    // A token longer than a window from the text's start; and a value
    // across the end of the last whole window, with more than a stretch
    // after it, which the portable scan takes and hands back.
    {std::string(70, '0') + "845794\n", {christmas}},
    {"  " + lead(14, "1234567\n") + "\n1234567\n\n\n", std::vector(15, unpackDate(1234567))},
};

// Lines of plain dates put before a case, so that the wide path takes the
// text up to the case, from windows that start at different places in it.
const std::size_t leadLines[] = {0, 9, 31, 32, 37};

std::vector<Date> withLead(std::size_t lines, const std::vector<Date>& dates) {
  std::vector<Date> all(lines, christmas);
  all.insert(all.end(), dates.begin(), dates.end());
  return all;
}

// Parses each case's text on every path after every lead, and hands the
// outcome to check with the case and the lead's number of lines.
template <typename Case, typename Check>
void parseEveryWay(const std::vector<Case>& cases, Check check) {
  for (const Path path : paths()) {
    for (const std::size_t lines : leadLines) {
      for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << static_cast<int>(path) << " " << lines << " " << c.text);
        check(c, lines, parseInPieces(lead(lines) + c.text, {}, path));
      }
    }
  }
}

TEST(Parser, ReadsEveryWellFormedText) {
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
    // Past the middle of a text long enough for a scan in two streams.
    {lead(1000) + "12abc\n", LoadStatus::notInteger, 1001, "12abc",
     std::vector<Date>(1000, christmas)},
};

TEST(Parser, StopsAtTheFirstBadTokenKeepingWhatCameBefore) {
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
TEST(Parser, GivesTheSameOutcomeWhereverTheTextIsCut) {
  std::vector<std::string> texts;
  for (const auto& c : goodCases) texts.push_back(lead(9) + c.text);
  for (const auto& c : badCases) texts.push_back(lead(9) + c.text);
  for (const Path path : paths()) {
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

// Long random texts in every form the loader takes: signed values of every
// size, with signs and leading zeros, ended by one kind of white space a
// round (runs and blank lines too), some longer than a read block; every
// other round mixes in tokens of other forms and stray white space. Each
// path reads a text exactly as the portable path does, whole and cut
// anywhere, and a well-formed one exactly as C's fscanf("%d") does.
TEST(Parser, PathsAgreeWithScanfOnRandomTexts) {
  std::mt19937 random(1789);
  const char* const forms[] = {"\n", "\r\n", " ", "\t", "\v", "\f", " \t\r\n\v\f", "\n\n\n"};
  const char* const odd[] = {"\n",
                             "\r\n",
                             " ",
                             "123456789\n",
                             "2147483647\n",
                             "0000000001\n",
                             "00845794\n",
                             "000000845794\n",
                             "99999999999\n",
                             "+-5\n",
                             "7x\n"};
  for (int round = 0; round < 300; ++round) {
    const std::string separator = forms[static_cast<std::size_t>(round) % std::size(forms)];
    const bool mixed = round % 2 == 1;
    std::string text;
    for (std::size_t i = 0, n = 1 + random() % (round % 10 == 0 ? 20000 : 1000); i < n; ++i) {
      if (mixed && random() % 40 == 0) {
        text += odd[random() % std::size(odd)];
        continue;
      }
      const auto w = static_cast<std::int32_t>(random() % 4 == 0 ? random() : random() % 100000000);
      text += w < 0 ? "-" : random() % 8 == 0 ? "+" : "";
      text.append(random() % 8 == 0 ? random() % 4 : 0, '0');
      text += std::to_string(w < 0 ? -std::int64_t{w} : w) + separator;
    }
    if (random() % 2 == 0) text.pop_back();
    SCOPED_TRACE(::testing::Message() << round << " " << text.substr(0, 200));
    // Fed in pieces too small for a scan in two streams, against which
    // every path's scan of the whole text is checked.
    std::vector<std::size_t> pieces;
    for (std::size_t cut = 200; cut < text.size(); cut += 200) pieces.push_back(cut);
    const Loaded want = parseInPieces(text, pieces, Path::portable);
    if (!mixed) {
      std::vector<Date> scanned;
      std::FILE* in = ::fmemopen(text.data(), text.size(), "r");
      for (int w = 0; std::fscanf(in, "%d", &w) == 1;) scanned.push_back(unpackDate(w));
      std::fclose(in);
      EXPECT_EQ(want.status, LoadStatus::ok);
      ASSERT_EQ(want.dates, scanned);
    }
    for (const Path path : paths()) {
      expectSame(parseInPieces(text, {}, path), want);
      expectSame(parseInPieces(text, {random() % (text.size() + 1)}, path), want);
    }
  }
}

// A value after millions of leading zeros, a token far longer than the
// read block, is read as any other.
TEST(Parser, TakesAValueAfterMillionsOfLeadingZeros) {
  const std::string zeros(5'000'000, '0');
  const Loaded padded = parse("36816 " + zeros + "845794\n");
  EXPECT_EQ(padded.status, LoadStatus::ok);
  EXPECT_EQ(padded.dates, (std::vector<Date>{newYear, christmas}));
}

// A parse never takes more memory than its budget: one that needs more
// keeps what fits within it, to the last few records, and says why it
// stopped; it always ends with a terminator.
TEST(Parser, KeepsWithinItsMemoryBudget) {
  constexpr std::size_t dates = 150'000;  // 0/0/1, two read blocks and more
  std::string text;
  for (std::size_t i = 0; i < dates; ++i) text += "1\n";
  const std::size_t wanted = memoryWanted(text.size());
  struct Case {
    std::size_t budget;
    LoadStatus status;
    std::size_t least;  // records kept, at least and at most
    std::size_t most;
  };
  const Case cases[] = {
      {SIZE_MAX, LoadStatus::ok, dates, dates},
      {wanted, LoadStatus::ok, dates, dates},
      // Short of all it may want, the parse reads in small blocks, and
      // the records get the rest.
      {wanted - sizeof(Date), LoadStatus::ok, dates, dates},
      {wanted / 2, LoadStatus::outOfMemory, 1, wanted / 2 / sizeof(Date)},
      {0, LoadStatus::outOfMemory, 0, 0},
  };
  for (const Path path : paths()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << static_cast<int>(path) << " " << c.budget);
      const Loaded got = parseInPieces(text, {}, path, c.budget);
      EXPECT_EQ(got.status, c.status);
      EXPECT_GE(got.dates.size(), c.least);
      EXPECT_LE(got.dates.size(), c.most);
      EXPECT_EQ(got.dates, std::vector<Date>(got.dates.size(), Date{0, 0, 1}));
    }
  }
}

}  // namespace
