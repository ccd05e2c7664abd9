// The portable kernels: the scan, eight bytes at a time in a 64-bit word
// (swar.hpp), and the listing, a record at a time, from the tables.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datelist/kernels.hpp"
#include "datelist/listing.hpp"
#include "datelist/streams.hpp"
#include "datelist/swar.hpp"
#include "datelist/textrules.hpp"

namespace bitwords::detail {
namespace {

// A record's day and month for each of the word's bits 11 to 19 (its month
// and day fields), as the record's first eight bytes hold them: one load
// and one store decode both.
struct DayMonthPairs {
  std::uint64_t of[512];
};
constexpr DayMonthPairs dayMonthPairs = [] {
  DayMonthPairs table{};
  for (std::uint32_t bits = 0; bits < 512; ++bits) {
    const Date d = unpackDate(static_cast<PackedDate>(bits << monthField.shift));
    const auto day = static_cast<std::uint64_t>(d.day);
    const auto month = static_cast<std::uint64_t>(d.month);
    table.of[bits] =
        std::endian::native == std::endian::little ? day | month << 32 : day << 32 | month;
  }
  return table;
}();
static_assert(dayField.shift == monthField.shift + monthField.width &&
              monthField.width + dayField.width == 9);

// Stores the record of an in-range word's value.
inline void storeDate(Date* out, std::uint32_t value) noexcept {
  const std::uint64_t pair = dayMonthPairs.of[(value >> monthField.shift) & 511];
  static_assert(offsetof(Date, month) == offsetof(Date, day) + 4);
  std::memcpy(&out->day, &pair, sizeof pair);
  out->year = getYear(static_cast<PackedDate>(value));
}

// One step of the scan: a token of one to seven digits and the white
// space after it, or a byte of white space; none at anything else (the
// seal among them).
enum class Step : unsigned char { token, space, none };

[[gnu::always_inline]] inline Step step(Stream& s) noexcept {
  const std::uint64_t values = swar::digitValues(swar::loadLittle(s.at));
  const std::uint64_t nonDigits = swar::nonDigits(values);
  // One to seven digits, then another byte.
  if (nonDigits != 0 && (nonDigits & 0x80) == 0) [[likely]] {
    const unsigned first = swar::firstNonDigit(nonDigits);
    const unsigned n = swar::leadingDigits(first);
    // One to seven digits always fit; the white space after them must end
    // the token, and is taken with it: a line feed, a carriage return and
    // line feed, or one byte of other white space (the rest of a run is
    // taken by the steps after).
    const char* const after = s.at + n;
    if (*after == '\n') [[likely]] {
      ++s.lines;
      s.at = after + 1;
    } else if (*after == '\r' && after[1] == '\n') {
      ++s.lines;
      s.at = after + 2;
    } else if (isSpace(static_cast<unsigned char>(*after))) {
      s.at = after + 1;
    } else {
      return Step::none;
    }
    storeDate(s.to++, swar::decimalValue(values, first));
    return Step::token;
  }
  if (nonDigits == 0 || !isSpace(static_cast<unsigned char>(*s.at))) return Step::none;
  s.lines += *s.at++ == '\n' ? 1U : 0U;
  return Step::space;
}

// The listable check of a record's day and month at once, as its first
// eight bytes hold them: their offsets are 0 and their limits masks, so
// the pair is listable where it has no bit outside them.
constexpr bool little = std::endian::native == std::endian::little;
constexpr std::uint64_t dayLimit = listableField(dayField).limit;
constexpr std::uint64_t monthLimit = listableField(monthField).limit;
static_assert(listableField(dayField).offset == 0 && listableField(monthField).offset == 0 &&
              (dayLimit & (dayLimit + 1)) == 0 && (monthLimit & (monthLimit + 1)) == 0);
constexpr std::uint64_t outsidePair =
    ~(little ? dayLimit | monthLimit << 32 : dayLimit << 32 | monthLimit);

// dayMonthIndex of a listable pair by one multiplication: the product's
// top half is the day's half moved up by the month's width, plus the
// month's half.
inline std::size_t dayMonthOf(std::uint64_t pair) noexcept {
  constexpr std::uint64_t multiplier = little ? (std::uint64_t{1} << (32 + monthField.width)) + 1
                                              : (std::uint64_t{1} << 32) + (1U << monthField.width);
  return static_cast<std::size_t>((pair * multiplier) >> 32);
}
static_assert(offsetof(Date, month) == offsetof(Date, day) + 4);

}  // namespace

Scanned scanPortable(const char* at, const char* end, Date* out) noexcept {
  return inTwoStreams(at, end, out, 512, [](Stream& s) { return step(s) != Step::none; });
}

Scanned scanPortableUntil(const char* at, const char* until, Date* out) noexcept {
  Stream s{at, out, 0};
  for (Step taken; (taken = step(s)) != Step::none && (taken == Step::space || s.at <= until);) {
  }
  return Scanned{s.at, static_cast<std::size_t>(s.to - out), s.lines};
}

char* listPortable(const Date** next, std::size_t n, char* out, const char* /*stop*/) noexcept {
  // (Local copies of the place in the records and in the text, which the
  // text written cannot change.)
  const Date* d = *next;
  const auto place = [&] {
    std::uint64_t pair = 0;
    std::memcpy(&pair, &d->day, sizeof pair);
    const auto year = static_cast<std::uint32_t>(d->year);
    if ((pair & outsidePair) != 0 || !within(d->year, yearField)) return false;
    out = placeFields(out, dayMonthOf(pair), year);
    ++d;
    return true;
  };
  // Two a turn, to spend less on the loop than on the records.
  const Date* const last = d + n;
  for (const Date* const lastPair = d + n / 2 * 2; d != lastPair;) {
    if (!place() || !place()) break;
  }
  if (d + 1 == last) place();
  *next = d;
  return out;
}

}  // namespace bitwords::detail
