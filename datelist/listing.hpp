// The listing's text tables, made at compile time: "day/month/" for every
// day and month of the field layout, and "year\n" for every year, each in
// a word of 8 bytes in memory order, padded with zeros, so that one 8-byte
// copy places it. Shared by every path's listing. Internal to the library.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datelist/datecodec.hpp"
#include "datelist/kernels.hpp"

namespace bitwords::detail {

// Writes v in decimal, with a minus sign if negative, and returns the end.
constexpr char* writeDecimal(char* out, std::int32_t v) noexcept {
  auto magnitude = static_cast<std::uint32_t>(v);
  if (v < 0) {
    *out++ = '-';
    magnitude = 0U - magnitude;
  }
  char digits[10] = {};
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n != 0) *out++ = digits[--n];
  return out;
}

// Longest text of a listable date: "31/15/2047\n".
inline constexpr std::size_t maxListableText = 11;

// The bytes from a record's start that placing it by the tables may write:
// its day/month text (at most "31/15/") and an 8-byte copy after it.
inline constexpr std::size_t placeReach = 6 + 8;

// Texts of the in-range fields and their lengths, apart, so that advancing
// past a text is one addition.
template <std::size_t N>
struct FieldTexts {
  std::uint64_t text[N];
  std::uint64_t length[N];
};

// The table of the texts that write(i, bytes) writes for each i.
template <std::size_t N, typename Write>
constexpr FieldTexts<N> textsOf(Write write) noexcept {
  FieldTexts<N> table{};
  for (std::size_t i = 0; i < N; ++i) {
    char bytes[8] = {};
    const char* const end = write(i, bytes);
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

inline constexpr auto dayMonthTexts =
    textsOf<dayMonthIndex(maxDay, maxMonth) + 1>([](std::size_t i, char* bytes) {
      char* end = writeDecimal(bytes, static_cast<std::int32_t>(i >> monthField.width));
      *end++ = '/';
      end = writeDecimal(end, static_cast<std::int32_t>(i & fieldMask(monthField)));
      *end++ = '/';
      return end;
    });

inline constexpr auto yearTexts = textsOf<maxYear + 1>([](std::size_t i, char* bytes) {
  char* const end = writeDecimal(bytes, static_cast<std::int32_t>(i));
  *end = '\n';
  return end + 1;
});

// Places a listable record's texts, its day and month's (at dm, from
// dayMonthIndex) and its year's, at `at`, which has placeReach bytes of
// room; returns their end.
[[gnu::always_inline]] inline char* placeFields(char* at, std::size_t dm,
                                                std::uint32_t year) noexcept {
  std::memcpy(at, &dayMonthTexts.text[dm], 8);
  at += dayMonthTexts.length[dm];
  std::memcpy(at, &yearTexts.text[year], 8);
  return at + yearTexts.length[year];
}

}  // namespace bitwords::detail
