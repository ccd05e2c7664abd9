#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "datelist/datecodec.hpp"

using namespace bitwords;

namespace {

struct WordCase {
  PackedDate word;
  Date date;
};

// Words whose fields are read back, in range or not.
constexpr WordCase readCases[] = {
    {845794, {25, 12, 2018}},
    {36816, {1, 1, 2000}},
    {34816, {1, 1, 0}},
    {1048575, {31, 15, 2047}},
    {0, {0, 0, 0}},
    {5, {0, 0, 5}},
    {-1, {31, 15, 2047}},
    {-2146637854, {25, 12, 2018}},
    {std::numeric_limits<std::int32_t>::min(), {0, 0, 0}},
    {1015810, {31, 0, 2}},
};

TEST(Codec, ReadsEveryWordByItsLowTwentyBits) {
  for (const auto& c : readCases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(unpackDate(c.word), c.date);
    EXPECT_EQ(getDay(c.word), c.date.day);
    EXPECT_EQ(getMonth(c.word), c.date.month);
    EXPECT_EQ(getYear(c.word), c.date.year);
    EXPECT_EQ(packDate(unpackDate(c.word)), c.word & 0xFFFFF);
  }
}

TEST(Codec, EveryInRangeDateRoundTrips) {
  for (std::int32_t day = 0; day <= maxDay; ++day) {
    for (std::int32_t month = 0; month <= maxMonth; ++month) {
      for (std::int32_t year = 0; year <= maxYear; ++year) {
        const Date date{day, month, year};
        const PackedDate word = packDate(date);
        ASSERT_TRUE(word >= 0 && word <= 0xFFFFF) << word;
        ASSERT_EQ(unpackDate(word), date);
      }
    }
  }
}

struct SetCase {
  const char* field;
  PackedDate (*set)(PackedDate, std::int32_t);
  PackedDate word;
  std::int32_t value;
  PackedDate expected;
  Date reads;
};

// In-range replacements keep the other fields; wide and negative values
// spill into the bits above their field.
constexpr SetCase setCases[] = {
    {"day", setDay, 845794, 1, 59362, {1, 12, 2018}},
    {"month", setMonth, 845794, 6, 833506, {25, 6, 2018}},
    {"year", setYear, 845794, 1999, 845775, {25, 12, 1999}},
    {"month", setMonth, 69584, 16, 100304, {3, 0, 2000}},
    {"year", setYear, 38864, 2048, 38912, {1, 3, 0}},
    {"day", setDay, 0, 32, 1048576, {0, 0, 0}},
    {"day", setDay, 845794, -1, -6174, {31, 12, 2018}},
    {"year", setYear, -1, 0, -2048, {31, 15, 0}},
};

TEST(Codec, SettersReplaceOneFieldAndSpillWideValues) {
  for (const auto& c : setCases) {
    SCOPED_TRACE(::testing::Message() << c.word << " " << c.field << " := " << c.value);
    EXPECT_EQ(c.set(c.word, c.value), c.expected);
    EXPECT_EQ(unpackDate(c.expected), c.reads);
  }
}

TEST(Codec, PackSpillsWideFieldsLikeTheSetters) {
  EXPECT_EQ(packDate({0, 16, 0}), packDate({1, 0, 0}));
  EXPECT_EQ(packDate({0, 0, 2048}), packDate({0, 1, 0}));
  EXPECT_EQ(packDate({-1, 0, 0}), -32768);
  EXPECT_EQ(packDate({0, 0, -1}), -1);
}

}  // namespace
