#include "datelist/datetext.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datelist/kernels.hpp"

namespace bitwords {
namespace {

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

constexpr std::size_t months = maxMonth + 1;

// Longest text of an in-range date: "31/15/2047\n".
constexpr std::size_t maxInRangeText = 11;

// The bytes from a record's start that placing it by the tables may write:
// its day/month text (at most "31/15/") and an 8-byte copy after it.
constexpr std::size_t placeReach = 6 + 8;
static_assert(placeReach <= maxDateText);

// Texts of the in-range fields, each in a word whose bytes are the text's
// in memory order, so that one 8-byte copy places it (the bytes past the
// text are overwritten by the next field, or ignored), and their lengths,
// apart, so that advancing past a text is one addition.
template <std::size_t N>
struct FieldTexts {
  std::uint64_t text[N];
  std::uint64_t length[N];
};

template <std::size_t N>
constexpr void setText(FieldTexts<N>& table, std::size_t i, const char* bytes,
                       const char* end) noexcept {
  std::uint64_t word = 0;
  for (const char* c = bytes; c != end; ++c) {
    const auto at = static_cast<unsigned>(c - bytes);
    const unsigned shift = std::endian::native == std::endian::little ? 8 * at : 56 - 8 * at;
    word |= std::uint64_t{static_cast<unsigned char>(*c)} << shift;
  }
  table.text[i] = word;
  table.length[i] = static_cast<std::uint64_t>(end - bytes);
}

// "day/month/" for every day and month, at day * 16 + month.
constexpr FieldTexts<(maxDay + 1) * months> makeDayMonthTexts() noexcept {
  FieldTexts<(maxDay + 1) * months> table{};
  for (std::int32_t day = 0; day <= maxDay; ++day) {
    for (std::int32_t month = 0; month <= maxMonth; ++month) {
      char bytes[8] = {};
      char* end = writeDecimal(bytes, day);
      *end++ = '/';
      end = writeDecimal(end, month);
      *end++ = '/';
      setText(table, static_cast<std::size_t>(day) * months + static_cast<std::size_t>(month),
              bytes, end);
    }
  }
  return table;
}

// "year\n" for every year.
constexpr FieldTexts<maxYear + 1> makeYearTexts() noexcept {
  FieldTexts<maxYear + 1> table{};
  for (std::int32_t year = 0; year <= maxYear; ++year) {
    char bytes[8] = {};
    char* end = writeDecimal(bytes, year);
    *end++ = '\n';
    setText(table, static_cast<std::size_t>(year), bytes, end);
  }
  return table;
}

constexpr auto dayMonthTexts = makeDayMonthTexts();
constexpr auto yearTexts = makeYearTexts();

// A record's day and month as one word: the first eight bytes of the
// record, day then month in memory.
inline std::uint64_t dayAndMonth(const Date& d) noexcept {
  static_assert(offsetof(Date, month) == offsetof(Date, day) + 4);
  std::uint64_t word = 0;
  std::memcpy(&word, &d.day, sizeof word);
  return word;
}

constexpr bool littleEndian = std::endian::native == std::endian::little;

// day * 16 + month of an in-range pair, by one multiplication: the
// product's top half is the day's half moved up four bits plus the
// month's half.
inline std::size_t dayMonthIndex(std::uint64_t pair) noexcept {
  constexpr std::uint64_t multiplier =
      littleEndian ? (std::uint64_t{1} << 36) + 1 : (std::uint64_t{1} << 32) + 16;
  return static_cast<std::size_t>((pair * multiplier) >> 32);
}

// Whether the pair's day is at most 31 and its month at most 15.
inline bool pairInRange(std::uint64_t pair) noexcept {
  constexpr std::uint64_t outside =
      littleEndian ? 0xFFFFFFF0'FFFFFFE0U : 0xFFFFFFE0'FFFFFFF0U;  // month's half, day's half
  return (pair & outside) == 0;
}

[[gnu::always_inline]] inline char* placeText(char* out, std::uint64_t text,
                                              std::uint64_t length) noexcept {
  std::memcpy(out, &text, sizeof text);
  return out + length;
}

// Places the texts of an in-range record's day and month (at dm, from
// dayMonthIndex) and year.
[[gnu::always_inline]] inline char* placeFields(char* at, std::size_t dm,
                                                std::uint32_t year) noexcept {
  at = placeText(at, dayMonthTexts.text[dm], dayMonthTexts.length[dm]);
  return placeText(at, yearTexts.text[year], yearTexts.length[year]);
}

// Lists one in-range record by the tables, without a check.
[[gnu::always_inline]] inline char* placeListable(char* at, const Date& d) noexcept {
  return placeFields(at, dayMonthIndex(dayAndMonth(d)), static_cast<std::uint32_t>(d.year));
}

// Places the date's text at out, which has room for placeReach bytes, and
// maxDateText where the date is out of range; returns its end.
inline char* placeDate(char* out, Date d) noexcept {
  if (fieldsInRange(d)) return placeListable(out, d);
  out = writeDecimal(out, d.day);
  *out++ = '/';
  out = writeDecimal(out, d.month);
  *out++ = '/';
  out = writeDecimal(out, d.year);
  *out++ = '\n';
  return out;
}

// Lists the records from d while they are listable, up to n of them (which
// fit); returns the text's end, and in d the first record not listed.
char* placeWhileListable(char* at, const Date*& d, std::size_t n) noexcept {
  // (Local copies of the place in the records and in the text, which the
  // text written cannot change.)
  const Date* record = d;
  char* to = at;
  const auto place = [&]() {
    const std::uint64_t pair = dayAndMonth(*record);
    const auto year = static_cast<std::uint32_t>(record->year);
    if (!pairInRange(pair) || year - 1 >= maxYear) return false;
    to = placeFields(to, dayMonthIndex(pair), year);
    ++record;
    return true;
  };
  // Two a turn, to spend less on the loop than on the records.
  const Date* const last = record + n;
  for (const Date* const lastPair = record + n / 2 * 2; record != lastPair;) {
    if (!place() || !place()) break;
  }
  if (record + 1 == last) place();
  d = record;
  return to;
}

// Lists records from d, up to n of them (which fit), while the AVX2 check
// finds eight at a time listable, by the indices it gives; returns the
// text's end, and in d the first record not listed.
char* placeIndexedAvx2(char* at, const Date*& d, std::size_t n) noexcept {
  constexpr std::size_t chunk = 64;
  std::uint32_t dayMonth[chunk];
  // (A local copy of the records' place, which the text written cannot
  // change.)
  const Date* records = d;
  const auto place = [&](std::size_t i) {
    at = placeFields(at, dayMonth[i], static_cast<std::uint32_t>(records[i].year));
  };
  while (n != 0) {
    const std::size_t k = detail::indexListableAvx2(records, n < chunk ? n : chunk, dayMonth);
    // Four a turn (k is a multiple of eight), to spend less on the loop
    // than on the records.
    for (std::size_t i = 0; i < k; i += 4) {
      place(i);
      place(i + 1);
      place(i + 2);
      place(i + 3);
    }
    records += k;
    n -= k;
    if (k < chunk) break;
  }
  d = records;
  return at;
}

}  // namespace

std::to_chars_result formatDate(char* first, char* last, Date date) noexcept {
  const auto room = static_cast<std::size_t>(last - first);
  if (room >= (fieldsInRange(date) ? placeReach : maxDateText)) {
    return {placeDate(first, date), std::errc{}};
  }
  // Too near the end for the scratch bytes: through a copy.
  char text[maxDateText];
  const auto size = static_cast<std::size_t>(placeDate(text, date) - text);
  if (size > room) return {last, std::errc::value_too_large};
  std::memcpy(first, text, size);
  return {first + size, std::errc{}};
}

std::size_t formatDates(const Date** next, const Date* end, char* out, std::size_t room) noexcept {
  // The vector paths check records ahead, and so need the array's end.
  const detail::Path path = end != nullptr ? detail::activePath() : detail::Path::portable;
  const Date* d = *next;
  char* at = out;
  char* const stop = out + room;
  while (d != end && d->year != 0) {
    const auto left = static_cast<std::size_t>(stop - at);
    if (left >= placeReach) {
      // The records that surely fit (each listable one takes at most
      // maxInRangeText bytes) go by the tables without a check of room.
      const std::size_t fit = (left - placeReach) / maxInRangeText + 1;
      const std::size_t bound = end != nullptr && static_cast<std::size_t>(end - d) < fit
                                    ? static_cast<std::size_t>(end - d)
                                    : fit;
      const Date* const last = d + bound;
      // Checked sixteen or eight at a time on a vector path, which leaves
      // the last few to the portable check.
      if (path == detail::Path::avx512) {
        at = detail::listAvx512(&d, bound, at, stop, dayMonthTexts.text, yearTexts.text);
      } else if (path == detail::Path::avx2) {
        at = placeIndexedAvx2(at, d, bound);
      }
      at = placeWhileListable(at, d, static_cast<std::size_t>(last - d));
      if (d == last || d->year == 0) continue;
    }
    // Out of range, or near the end of the room: one whole line, if it fits.
    const std::to_chars_result placed = formatDate(at, stop, *d);
    if (placed.ec != std::errc{}) break;
    at = placed.ptr;
    ++d;
  }
  *next = d;
  return static_cast<std::size_t>(at - out);
}

std::size_t formatDates(const Date** next, char* out, std::size_t room) noexcept {
  return formatDates(next, nullptr, out, room);
}

}  // namespace bitwords
