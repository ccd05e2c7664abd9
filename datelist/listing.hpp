// The listing's line, described once, and what follows from it at compile
// time: the text tables of every path's listing (a record's day and month
// text and its year text, each in a word of 8 bytes in memory order,
// padded with zeros, so that one 8-byte copy places it), the order of a
// record's two texts, the longest texts, and the line of a date that the
// tables do not hold. Internal to the library.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datelist/datecodec.hpp"

namespace bitwords::detail {

// ---- The line

// A field of the line: which of the record's (0 day, 1 month, 2 year, as
// Date has them), in plain decimal of at least `width` characters (zeros
// after a minus sign, as printf's %0*d), then the byte after it.
struct LineField {
  int of;
  int width;
  char after;
};

// The listing's line, as printf("%d/%d/%d\n", day, month, year) writes it.
inline constexpr LineField lineFields[3] = {{0, 1, '/'}, {1, 1, '/'}, {2, 1, '\n'}};

// The tables hold a record's line as two texts, the year's and that of its
// day and month together, so the year comes first or last; their words
// are padded with zeros, which no line holds.
inline constexpr bool yearFirst = lineFields[0].of == 2;
static_assert(yearFirst || lineFields[2].of == 2, "the year comes first or last in the line");
static_assert(lineFields[0].after != 0 && lineFields[1].after != 0 && lineFields[2].after != 0);

constexpr std::int32_t valueOf(Date d, int of) noexcept {
  return of == 0 ? d.day : of == 1 ? d.month : d.year;
}

// Writes v as a field of `width`, and returns the end.
constexpr char* writeDecimal(char* out, std::int32_t v, int width = 1) noexcept {
  auto magnitude = static_cast<std::uint32_t>(v);
  if (v < 0) {
    *out++ = '-';
    magnitude = 0U - magnitude;
    --width;
  }
  char digits[10] = {};
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (; width > n; --width) *out++ = '0';
  while (n != 0) *out++ = digits[--n];
  return out;
}

// Writes the fields of d, each with the byte after it: its year alone, or
// all but its year; returns the end.
constexpr char* writeFields(char* out, Date d, bool year) noexcept {
  for (const LineField& f : lineFields) {
    if ((f.of == 2) != year) continue;
    out = writeDecimal(out, valueOf(d, f.of), f.width);
    *out++ = f.after;
  }
  return out;
}

// The line of any date, where it has room for longestLine bytes; returns
// its end.
constexpr char* writeLine(char* out, Date d) noexcept {
  char* const rest = writeFields(out, d, yearFirst);
  return writeFields(rest, d, !yearFirst);
}

// The longest line: every field as long as a 32-bit value can be.
inline constexpr std::size_t longestLine = [] {
  std::size_t n = 0;
  for (const LineField& f : lineFields) n += static_cast<std::size_t>(std::max(11, f.width)) + 1;
  return n;
}();

// ---- The records the tables take

// A record the listing places from its tables: each field, less its offset
// (1 for the year, so that year 0 fails too), at most its limit, compared
// as unsigned numbers.
struct Listable {
  std::uint32_t offset;
  std::uint32_t limit;
};

constexpr Listable listableField(Field f) noexcept {
  const std::uint32_t offset = f.shift == yearField.shift ? 1 : 0;
  return {offset, fieldMask(f) - offset};
}

constexpr bool within(std::int32_t value, Field f) noexcept {
  return static_cast<std::uint32_t>(value) - listableField(f).offset <= listableField(f).limit;
}

// Where a listable record's day and month text stands in its table.
constexpr std::uint32_t dayMonthIndex(std::uint32_t day, std::uint32_t month) noexcept {
  return (day << monthField.width) + month;
}

// ---- The tables

// Texts of the in-range fields and their lengths, apart, so that advancing
// past a text is one addition.
template <std::size_t N>
struct FieldTexts {
  std::uint64_t text[N];
  std::uint64_t length[N];
};

// The table of the texts of the dates date(i), their years or the rest.
template <std::size_t N, typename DateOf>
constexpr FieldTexts<N> textsOf(DateOf date, bool year) noexcept {
  FieldTexts<N> table{};
  for (std::size_t i = 0; i < N; ++i) {
    char bytes[16] = {};
    const char* const end = writeFields(bytes, date(i), year);
    std::uint64_t word = 0;
    for (const char* c = bytes; c != end; ++c) {
      const auto at = static_cast<unsigned>(c - bytes);
      const unsigned shift = std::endian::native == std::endian::little ? 8 * at : 56 - 8 * at;
      word |= std::uint64_t{static_cast<unsigned char>(*c)} << shift;
    }
    table.text[i] = word;
    table.length[i] = static_cast<std::uint64_t>(end - bytes);
  }
  return table;
}

inline constexpr auto dayMonthTexts = textsOf<dayMonthIndex(maxDay, maxMonth) + 1>(
    [](std::size_t i) {
      return Date{static_cast<std::int32_t>(i >> monthField.width),
                  static_cast<std::int32_t>(i & fieldMask(monthField)), 0};
    },
    false);

inline constexpr auto yearTexts = textsOf<maxYear + 1>(
    [](std::size_t i) {
      return Date{0, 0, static_cast<std::int32_t>(i)};
    },
    true);

template <std::size_t N>
constexpr std::size_t longestOf(const FieldTexts<N>& table) noexcept {
  return static_cast<std::size_t>(*std::max_element(table.length, table.length + N));
}
static_assert(longestOf(dayMonthTexts) <= 8 && longestOf(yearTexts) <= 8,
              "each text fits the 8 bytes of its table's word");

// The longest text of a listable date ("31/15/2047\n").
inline constexpr std::size_t maxListableText = longestOf(dayMonthTexts) + longestOf(yearTexts);

// The bytes from a record's start that placing it by the tables may write:
// its first text and an 8-byte copy after it.
inline constexpr std::size_t placeReach =
    (yearFirst ? longestOf(yearTexts) : longestOf(dayMonthTexts)) + 8;

template <std::size_t N>
[[gnu::always_inline]] inline char* placeText(char* at, const FieldTexts<N>& table,
                                              std::size_t i) noexcept {
  std::memcpy(at, &table.text[i], 8);
  return at + table.length[i];
}

// Places a listable record's texts, its day and month's (at dm, from
// dayMonthIndex) and its year's, in the line's order at `at`, which has
// placeReach bytes of room; returns their end.
[[gnu::always_inline]] inline char* placeFields(char* at, std::size_t dm,
                                                std::uint32_t year) noexcept {
  if constexpr (yearFirst) return placeText(placeText(at, yearTexts, year), dayMonthTexts, dm);
  return placeText(placeText(at, dayMonthTexts, dm), yearTexts, year);
}

}  // namespace bitwords::detail
