#include "datelist/datetext.hpp"

#include <cstdint>
#include <cstring>

#include "datelist/datetext_detail.hpp"
#include "datelist/widepath.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// Texts for the in-range fields, padded to eight bytes so that one
// fixed-size copy places each; the last byte holds the text's length.
struct FieldText {
  char bytes[8];
};

template <std::size_t N>
struct FieldTable {
  FieldText entries[N];
};

constexpr void setLength(FieldText& text, const char* end) noexcept {
  text.bytes[7] = static_cast<char>(end - text.bytes);
}

constexpr std::size_t months = maxMonth + 1;

// Longest text of an in-range date: "31/15/2047\n".
constexpr std::size_t maxInRangeText = 11;

// The bytes from a record's start that placing it by the tables may write:
// its day/month text (at most "31/15/") and an 8-byte copy after it.
constexpr std::size_t placeReach = 6 + 8;
static_assert(placeReach <= maxDateText);

// "day/month/" for every day and month, at day * 16 + month.
constexpr FieldTable<(maxDay + 1) * months> makeDayMonthTable() noexcept {
  FieldTable<(maxDay + 1) * months> table{};
  for (std::int32_t day = 0; day <= maxDay; ++day) {
    for (std::int32_t month = 0; month <= maxMonth; ++month) {
      FieldText& text =
          table.entries[static_cast<std::size_t>(day) * months + static_cast<std::size_t>(month)];
      char* end = writeDecimal(text.bytes, day);
      *end++ = '/';
      end = writeDecimal(end, month);
      *end++ = '/';
      setLength(text, end);
    }
  }
  return table;
}

// "year\n" for every year.
constexpr FieldTable<maxYear + 1> makeYearTable() noexcept {
  FieldTable<maxYear + 1> table{};
  for (std::int32_t year = 0; year <= maxYear; ++year) {
    FieldText& text = table.entries[static_cast<std::size_t>(year)];
    char* end = writeDecimal(text.bytes, year);
    *end++ = '\n';
    setLength(text, end);
  }
  return table;
}

constexpr auto dayMonthText = makeDayMonthTable();
constexpr auto yearText = makeYearTable();

[[gnu::always_inline]] inline char* placeField(char* out, const FieldText& text) noexcept {
  // A plain loop over a fixed count compiles to one 8-byte move; the bytes
  // past the text are overwritten by the next field or ignored.
  for (std::size_t i = 0; i < 8; ++i) out[i] = text.bytes[i];
  return out + text.bytes[7];
}

// Places the date's text at out, which has room for placeReach bytes, and
// maxDateText where the date is out of range; returns its end.
inline char* placeDate(char* out, Date d) noexcept {
  if (fieldsInRange(d)) {
    out = placeField(out, dayMonthText.entries[static_cast<std::size_t>(d.day) * months +
                                               static_cast<std::size_t>(d.month)]);
    return placeField(out, yearText.entries[static_cast<std::size_t>(d.year)]);
  }
  out = writeDecimal(out, d.day);
  *out++ = '/';
  out = writeDecimal(out, d.month);
  *out++ = '/';
  out = writeDecimal(out, d.year);
  *out++ = '\n';
  return out;
}

// Whether the record goes by the tables: in range, and year not 0.
constexpr bool listable(Date d) noexcept {
  return static_cast<std::uint32_t>(d.day) <= maxDay &&
         static_cast<std::uint32_t>(d.month) <= maxMonth &&
         static_cast<std::uint32_t>(d.year) - 1 < maxYear;
}

// How many of the n records from d, from the first, are listable.
std::size_t countListable(const Date* d, std::size_t n) noexcept {
  std::size_t k = 0;
  while (k != n && listable(d[k])) ++k;
  return k;
}

#if defined(__x86_64__)
// The same count, eight records (three vectors) at a time: each field less
// its offset (1 for the year, so that year 0 fails too) is at most its
// limit, compared as unsigned.
__attribute__((target("avx2"))) std::size_t countListableWide(const Date* d,
                                                              std::size_t n) noexcept {
  const __m256i limits[3] = {_mm256_setr_epi32(31, 15, 2046, 31, 15, 2046, 31, 15),
                             _mm256_setr_epi32(2046, 31, 15, 2046, 31, 15, 2046, 31),
                             _mm256_setr_epi32(15, 2046, 31, 15, 2046, 31, 15, 2046)};
  const __m256i offsets[3] = {_mm256_setr_epi32(0, 0, 1, 0, 0, 1, 0, 0),
                              _mm256_setr_epi32(1, 0, 0, 1, 0, 0, 1, 0),
                              _mm256_setr_epi32(0, 1, 0, 0, 1, 0, 0, 1)};
  static_assert(sizeof(Date) * 8 == 3 * sizeof(__m256i));
  const auto fieldsListable = [&](const __m256i* v, int i) __attribute__((target("avx2"))) {
    const __m256i x = _mm256_sub_epi32(_mm256_loadu_si256(v + i), offsets[i]);
    return _mm256_cmpeq_epi32(_mm256_min_epu32(x, limits[i]), x);
  };
  std::size_t k = 0;
  for (; n - k >= 8; k += 8) {
    const auto* v = reinterpret_cast<const __m256i*>(d + k);
    const __m256i ok = _mm256_and_si256(
        _mm256_and_si256(fieldsListable(v, 0), fieldsListable(v, 1)), fieldsListable(v, 2));
    if (_mm256_movemask_epi8(ok) != -1) break;
  }
  return k + countListable(d + k, n - k);
}
#else
std::size_t countListableWide(const Date* d, std::size_t n) noexcept {
  return countListable(d, n);
}
#endif

// Lists one record by the tables, without a check.
[[gnu::always_inline]] inline char* placeListable(char* at, const Date& d) noexcept {
  at = placeField(at, dayMonthText.entries[static_cast<std::size_t>(d.day) * months +
                                           static_cast<std::size_t>(d.month)]);
  return placeField(at, yearText.entries[static_cast<std::size_t>(d.year)]);
}

// Lists n records by the tables; they are listable and fit. Four a turn,
// to spend less on the loop than on the records.
char* placeListable(char* at, const Date* d, std::size_t n) noexcept {
  for (; n >= 4; n -= 4, d += 4) {
    at = placeListable(at, d[0]);
    at = placeListable(at, d[1]);
    at = placeListable(at, d[2]);
    at = placeListable(at, d[3]);
  }
  for (; n != 0; --n, ++d) at = placeListable(at, *d);
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

std::size_t detail::formatDates(WidePath path, const Date** next, const Date* end, char* out,
                                std::size_t room) noexcept {
  const bool wide = resolvePath(path) == WidePath::wide && end != nullptr;
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
      const std::size_t n = wide ? countListableWide(d, bound) : countListable(d, bound);
      at = placeListable(at, d, n);
      d += n;
      if (n == bound || d->year == 0) continue;
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

std::size_t formatDates(const Date** next, const Date* end, char* out, std::size_t room) noexcept {
  return detail::formatDates(detail::WidePath::best, next, end, out, room);
}

std::size_t formatDates(const Date** next, char* out, std::size_t room) noexcept {
  return detail::formatDates(detail::WidePath::best, next, nullptr, out, room);
}

}  // namespace bitwords
