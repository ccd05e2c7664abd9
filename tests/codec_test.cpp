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

enum class Field { day, month, year };

struct SetCase {
  Field field;
  PackedDate word;
  std::int32_t value;
  PackedDate expected;
  Date reads;
};

// In-range replacements keep the other fields; wide and negative values
// spill into the bits above their field.
constexpr SetCase setCases[] = {
    {Field::day, 845794, 1, 59362, {1, 12, 2018}},
    {Field::month, 845794, 6, 833506, {25, 6, 2018}},
    {Field::year, 845794, 1999, 845775, {25, 12, 1999}},
    {Field::month, 69584, 16, 100304, {3, 0, 2000}},
    {Field::year, 38864, 2048, 38912, {1, 3, 0}},
    {Field::day, 0, 32, 1048576, {0, 0, 0}},
    {Field::day, 845794, -1, -6174, {31, 12, 2018}},
    {Field::year, -1, 0, -2048, {31, 15, 0}},
};

PackedDate set(Field field, PackedDate word, std::int32_t value) {
  switch (field) {
    case Field::day:
      return setDay(word, value);
    case Field::month:
      return setMonth(word, value);
    case Field::year:
      return setYear(word, value);
  }
  return 0;
}

TEST(Codec, SettersReplaceOneFieldAndSpillWideValues) {
  for (const auto& c : setCases) {
    SCOPED_TRACE(::testing::Message()
                 << c.word << " field " << static_cast<int>(c.field) << " := " << c.value);
    EXPECT_EQ(set(c.field, c.word, c.value), c.expected);
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
