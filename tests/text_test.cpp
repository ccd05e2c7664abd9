#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datelist/datetext.hpp"
#include "datelist/widepath.hpp"
#include "tests/support/paths.hpp"

namespace {

const Date christmas{25, 12, 2018};
const Date newYear{1, 1, 2000};

std::string printed(Date d) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%d/%d/%d\n", d.day, d.month, d.year);
  return std::string(text, static_cast<std::size_t>(n));
}

std::string formatted(Date d) {
  char text[formatDateRoom];
  return std::string(text, formatDate(text, d));
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
  for (const Date d : {Date{lowest, lowest, lowest}, Date{highest, -1, 2048}, Date{32, 16, 0},
                       Date{-5, 3, 1999}, Date{1, 1, 1000000000}}) {
    EXPECT_EQ(formatted(d), printed(d));
  }
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) {
    const Date d{static_cast<std::int32_t>(random()), static_cast<std::int32_t>(random()),
                 static_cast<std::int32_t>(random())};
    ASSERT_EQ(formatted(d), printed(d));
  }
}

// The listing of the array through a buffer of the given room, on one path,
// with the array's end known (the form datelist uses) or not.
std::string listing(const std::vector<Date>& dates, std::size_t room, WidePath path, bool endKnown,
                    const Date** stop) {
  std::vector<char> buffer(room);
  std::string text;
  const Date* next = dates.data();
  const Date* const end = endKnown ? dates.data() + dates.size() : nullptr;
  while (next != end && next->year != 0) {
    const std::size_t n =
        datetext_detail::formatDates(path, &next, end, buffer.data(), buffer.size());
    EXPECT_GT(n, 0u);
    if (n == 0) break;
    text.append(buffer.data(), n);
  }
  *stop = next;
  return text;
}

TEST(Text, StopsAtTheFirstYearZeroAndFillsSmallBuffers) {
  const std::vector<Date> dates = {christmas, {0, 0, 5}, {31, 0, 2}, {1, 1, 0}, newYear, {0, 0, 0}};
  const std::string want = "25/12/2018\n0/0/5\n31/0/2\n";
  for (std::size_t room : {formatDateRoom, formatDateRoom + 12, std::size_t{4096}}) {
    for (const WidePath path : paths()) {
      for (const bool endKnown : {false, true}) {
        SCOPED_TRACE(::testing::Message() << room << " " << static_cast<int>(path) << endKnown);
        const Date* next = nullptr;
        EXPECT_EQ(listing(dates, room, path, endKnown, &next), want);
        EXPECT_EQ(next, dates.data() + 3);
      }
    }
  }
  // Too little room for one date: nothing written, nothing passed.
  for (const WidePath path : paths()) {
    char small[formatDateRoom - 1];
    const Date* next = dates.data();
    EXPECT_EQ(datetext_detail::formatDates(path, &next, nullptr, small, sizeof small), 0u);
    EXPECT_EQ(next, dates.data());
  }
  // The public form, end unknown.
  std::vector<char> buffer(4096);
  const Date* next = dates.data();
  EXPECT_EQ(std::string(buffer.data(), formatDates(&next, buffer.data(), buffer.size())), want);
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
      if (random() % 100 == 0) d.day = static_cast<std::int32_t>(random());
      if (random() % 100 == 0) d.month = -static_cast<std::int32_t>(random() % 20);
      if (random() % 100 == 0) d.year = 2048 + static_cast<std::int32_t>(random() % 9);
      dates.push_back(d);
    }
    if (round % 2 == 0) dates[random() % size].year = 0;
    std::string want;
    std::size_t listed = 0;
    for (; listed < size && dates[listed].year != 0; ++listed) want += printed(dates[listed]);
    for (const WidePath path : paths()) {
      for (const std::size_t room : {formatDateRoom + 5, std::size_t{1000}, std::size_t{65536}}) {
        const Date* next = nullptr;
        ASSERT_EQ(listing(dates, room, path, true, &next), want) << round << " " << room;
        ASSERT_EQ(next, dates.data() + listed);
      }
    }
  }
}

}  // namespace
