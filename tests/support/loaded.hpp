// What a load or a parse hands back, in a form that gtest can compare and
// print, and the ways of getting it: from a file, from a text, and from a
// text fed to the parser in pieces on a chosen path.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "tests/support/paths.hpp"

using bitwords::Date;
using bitwords::LoadResult;
using bitwords::LoadStatus;

struct Loaded {
  std::vector<Date> dates;  // the records before the terminator
  LoadStatus status;
  int error;
  std::uint64_t line;
  std::string token;
  bool cut;
};

// Collects the records, checking that the array is terminated right after
// the count the result gives, and releases the array.
inline Loaded collect(Date* dates, const LoadResult& result) {
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

inline Loaded load(const std::filesystem::path& file) {
  Date* dates = nullptr;
  const LoadResult result = bitwords::loadDates(&dates, file.c_str());
  return collect(dates, result);
}

inline Loaded parse(std::string_view text) {
  Date* dates = nullptr;
  const LoadResult result = bitwords::parseDates(&dates, text.data(), text.size());
  return collect(dates, result);
}

// The text fed in pieces that end at the given offsets, the last piece
// taking the rest, on one path, within a memory budget.
inline Loaded parseInPieces(std::string_view text, const std::vector<std::size_t>& cuts,
                            bitwords::detail::Path path, std::size_t budget = SIZE_MAX) {
  using namespace bitwords::detail;
  const OnPath on(path);
  DateParser parser{};
  startDates(parser, text.size(), budget);
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

inline void expectSame(const Loaded& got, const Loaded& want) {
  EXPECT_EQ(got.dates, want.dates);
  EXPECT_EQ(got.status, want.status);
  EXPECT_EQ(got.line, want.line);
  EXPECT_EQ(got.token, want.token);
  EXPECT_EQ(got.cut, want.cut);
}

inline constexpr Date christmas{25, 12, 2018};  // the line "845794"
inline constexpr Date newYear{1, 1, 2000};      // the line "36816"
