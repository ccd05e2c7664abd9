#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datelist/datetext.hpp"

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

TEST(Codec, FormatsLikePrintf) {
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

TEST(Listing, StopsAtTheFirstYearZeroAndFillsSmallBuffers) {
  const std::vector<Date> dates = {christmas, {0, 0, 5}, {31, 0, 2}, {1, 1, 0}, newYear, {0, 0, 0}};
  const std::string want = "25/12/2018\n0/0/5\n31/0/2\n";
  for (std::size_t room : {formatDateRoom, formatDateRoom + 12, std::size_t{4096}}) {
    SCOPED_TRACE(room);
    std::vector<char> buffer(room);
    std::string text;
    const Date* next = dates.data();
    while (next->year != 0) {
      const std::size_t n = formatDates(&next, buffer.data(), buffer.size());
      ASSERT_GT(n, 0u);
      text.append(buffer.data(), n);
    }
    EXPECT_EQ(next, dates.data() + 3);
    EXPECT_EQ(text, want);
  }
}

}  // namespace
