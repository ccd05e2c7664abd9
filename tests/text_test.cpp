// The listing text: every date as printf writes it, into caller memory of
// any size, on every path.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "datelist/datetext.hpp"
#include "datelist/listing.hpp"
#include "datelist/loadresult.hpp"
#include "tests/support/lines.hpp"
#include "tests/support/loaded.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

std::string printed(Date d) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%d/%d/%d\n", d.day, d.month, d.year);
  return std::string(text, static_cast<std::size_t>(n));
}

// The date formatted into heap memory of exactly its text's size, so that
// a sanitizer build sees any byte written past it.
std::string formatted(Date d) {
  const std::size_t size = printed(d).size();
  const std::unique_ptr<char[]> text(new char[size]);
  const std::to_chars_result r = formatDate(text.get(), text.get() + size, d);
  EXPECT_EQ(r.ec, std::errc{});
  return std::string(text.get(), r.ptr);
}

// What write(first, last) writes into heap memory of every size from none
// to two bytes more than the text, so that a sanitizer build sees any byte
// written past it: the text where it fits, value_too_large where it does
// not.
template <typename Write>
void expectFitsWhereItFits(const std::string& want, Write write) {
  for (std::size_t size = 0; size <= want.size() + 2; ++size) {
    SCOPED_TRACE(::testing::Message() << want << " in " << size);
    const std::unique_ptr<char[]> text(new char[size]);
    const std::to_chars_result r = write(text.get(), text.get() + size);
    if (size >= want.size()) {
      EXPECT_EQ(r.ec, std::errc{});
      EXPECT_EQ(std::string(text.get(), r.ptr), want);
    } else {
      EXPECT_EQ(r.ec, std::errc::value_too_large);
      EXPECT_EQ(r.ptr, text.get() + size);
    }
  }
}

TEST(Text, FormatsLikePrintf) {
  for (std::int32_t day = 0; day <= maxDay; ++day) {
    for (std::int32_t month = 0; month <= maxMonth; ++month) {
      for (std::int32_t year = 0; year <= maxYear; ++year) {
        const Date d{day, month, year};
        ASSERT_EQ(formatted(d), printed(d));
      }
    }
  }
  constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
  for (const Date d :
       {Date{lowest, lowest, lowest}, Date{highest, -1, 2048}, Date{32, 16, 0}, Date{-5, 3, 1999},
        Date{1, 1, 1000000000}, christmas, Date{0, 0, 0}, Date{31, 15, 2047}}) {
    EXPECT_EQ(formatted(d), printed(d));
    expectFitsWhereItFits(printed(d),
                          [&](char* first, char* last) { return formatDate(first, last, d); });
  }
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) {
    const Date d{static_cast<std::int32_t>(random()), static_cast<std::int32_t>(random()),
                 static_cast<std::int32_t>(random())};
    ASSERT_EQ(formatted(d), printed(d));
  }
}

// A field of a width, as printf's %0*d writes it, for a line that
// describes one.
TEST(Text, WritesAFieldOfAWidthAsPrintfDoes) {
  for (const int width : {1, 2, 4}) {
    for (const std::int32_t value : {0, 7, -5, 123, -2147483647 - 1}) {
      char want[16];
      const int n = std::snprintf(want, sizeof want, "%0*d", width, value);
      char got[16];
      EXPECT_EQ(std::string(got, writeDecimal(got, value, width)),
                std::string(want, static_cast<std::size_t>(n)));
    }
  }
}

// The listing of the array through heap memory of exactly the given room,
// refilled while it takes lines, on one path, with the array's end known
// (the form datelist uses) or not. Each call must write whole lines.
std::string listing(const std::vector<Date>& dates, std::size_t room, Path path, bool endKnown,
                    const Date** stop) {
  const OnPath on(path);
  const std::unique_ptr<char[]> buffer(new char[room]);
  std::string text;
  const Date* next = dates.data();
  const Date* const end = dates.data() + dates.size();
  while ((!endKnown || next != end) && next->year != 0) {
    const std::size_t n = endKnown ? formatDates(&next, end, buffer.get(), room)
                                   : formatDates(&next, buffer.get(), room);
    if (n == 0) break;
    EXPECT_EQ(buffer[n - 1], '\n');
    text.append(buffer.get(), n);
  }
  *stop = next;
  return text;
}

// Every room from none up: a room of maxDateText or more lists everything
// up to the year 0; a smaller one, the lines up to the first that does not
// fit in it.
TEST(Text, StopsAtTheFirstYearZeroAndFillsRoomsOfEverySize) {
  constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  const std::vector<Date> dates = {christmas, {0, 0, 5}, {31, 0, 2}, {lowest, lowest, lowest},
                                   {1, 1, 0}, newYear,   {0, 0, 0}};
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < 4; ++i) lines.push_back(printed(dates[i]));
  for (std::size_t room = 0; room <= 200; ++room) {
    std::string want;
    std::size_t listed = 0;
    for (; listed < lines.size() && lines[listed].size() <= room; ++listed) want += lines[listed];
    if (room >= maxDateText) {
      ASSERT_EQ(listed, lines.size());
    }
    for (const Path path : paths()) {
      for (const bool endKnown : {false, true}) {
        SCOPED_TRACE(::testing::Message() << room << " " << static_cast<int>(path) << endKnown);
        const Date* next = nullptr;
        EXPECT_EQ(listing(dates, room, path, endKnown, &next), want);
        EXPECT_EQ(next, dates.data() + listed);
      }
    }
  }
}

// Long arrays of mostly listable records, with records out of range and a
// year 0 at any place: every path, room and form lists exactly what printf
// does up to the year 0 (or the end, when it is known and comes first).
TEST(Text, PathsAgreeWithPrintfOnLongArrays) {
  std::mt19937 random(1969);
  for (int round = 0; round < 200; ++round) {
    const std::size_t size = 1 + random() % 3000;
    std::vector<Date> dates;
    for (std::size_t i = 0; i < size; ++i) {
      Date d{static_cast<std::int32_t>(random() % 32), static_cast<std::int32_t>(random() % 16),
             static_cast<std::int32_t>(1 + random() % 2047)};
      // Out of range by far, or by one bit above the field.
      if (random() % 100 == 0) {
        d.day = static_cast<std::int32_t>(random() % 2 != 0 ? random() : 32 + random() % 32);
      }
      if (random() % 100 == 0) {
        d.month = random() % 2 != 0 ? -static_cast<std::int32_t>(random() % 20)
                                    : static_cast<std::int32_t>(16 + random() % 16);
      }
      if (random() % 100 == 0) d.year = 2048 + static_cast<std::int32_t>(random() % 9);
      dates.push_back(d);
    }
    if (round % 2 == 0) dates[random() % size].year = 0;
    std::string want;
    std::size_t listed = 0;
    for (; listed < size && dates[listed].year != 0; ++listed) want += printed(dates[listed]);
    for (const Path path : paths()) {
      for (const std::size_t room : {maxDateText, std::size_t{1000}, std::size_t{65536}}) {
        const Date* next = nullptr;
        ASSERT_EQ(firstDifference(listing(dates, room, path, true, &next), want), "")
            << round << " " << room;
        ASSERT_EQ(next, dates.data() + listed);
      }
    }
  }
}

// A load's outcome in words, as datelist reports it, into heap memory of
// every size from none to two bytes more than the text: the text where it
// fits, value_too_large where it does not.
TEST(Text, DescribesALoadInWordsWithinItsRoom) {
  const auto failed = [](LoadStatus status, int error, std::uint64_t line, const std::string& token,
                         bool cut) {
    LoadResult r{status, error, 0, line, token.size(), cut, {}};
    token.copy(r.token, token.size());
    return r;
  };
  const std::pair<LoadResult, std::string> cases[] = {
      {failed(LoadStatus::ok, 0, 0, "", false), ""},
      {failed(LoadStatus::cannotOpen, ENOENT, 0, "", false), "f.txt: No such file or directory"},
      {failed(LoadStatus::readError, EISDIR, 0, "", false), "f.txt: Is a directory"},
      {failed(LoadStatus::outOfMemory, ENOMEM, 0, "", false), "f.txt: Cannot allocate memory"},
      {failed(LoadStatus::locked, EWOULDBLOCK, 0, "", false), "f.txt: locked by another process"},
      {failed(LoadStatus::notInteger, 0, 2, "12abc", false), "f.txt:2: not an integer: \"12abc\""},
      {failed(LoadStatus::outOfRange, 0, 18446744073709551615U, "99999999999", true),
       "f.txt:18446744073709551615: out of range: \"99999999999\"..."},
      {failed(LoadStatus::notInteger, 0, 1, "a\"b\\\x1b\xff", false),
       "f.txt:1: not an integer: \"a\\\"b\\\\\\x1b\\xff\""},
  };
  for (const auto& [loaded, want] : cases) {
    SCOPED_TRACE(want);
    const LoadResult& result = loaded;  // (a binding that a lambda can take)
    EXPECT_EQ(describeLoad("f.txt", result), want);
    expectFitsWhereItFits(
        want, [&](char* first, char* last) { return describeLoad(first, last, "f.txt", result); });
  }
}

}  // namespace
