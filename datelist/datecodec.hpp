// The packed date word: a calendar date in one signed 32-bit integer.
//
//   bits 20-31  unused: zero in every word packed from in-range fields,
//               ignored by every reader
//   bits 15-19  day    (0-31)
//   bits 11-14  month  (0-15)
//   bits  0-10  year   (0-2047, stored whole)
//
// Readers shift the word down and then mask, so a word reads exactly like
// its low 20 bits whatever its sign. Writers shift the new value up and OR
// it in without masking it: a value wider than its field, or a negative
// one, spills into the bits above the field. Callers that must not store a
// different date than the one they asked for check fieldsInRange() first.
//
// The arithmetic is done on unsigned 32-bit values and converted back, so
// every operation is defined for every argument.
#pragma once

#include <cstddef>
#include <cstdint>

using PackedDate = std::int32_t;

struct Date {
  std::int32_t day;
  std::int32_t month;
  std::int32_t year;

  friend constexpr bool operator==(Date, Date) noexcept = default;
};

inline constexpr std::int32_t maxDay = 31;
inline constexpr std::int32_t maxMonth = 15;
inline constexpr std::int32_t maxYear = 2047;

namespace datecodec_detail {

inline constexpr unsigned dayShift = 15;
inline constexpr unsigned monthShift = 11;
inline constexpr std::uint32_t dayMask = 0x1F;
inline constexpr std::uint32_t monthMask = 0xF;
inline constexpr std::uint32_t yearMask = 0x7FF;
inline constexpr std::uint32_t dayClear = 0xFFF07FFF;
inline constexpr std::uint32_t monthClear = 0xFFFF87FF;
inline constexpr std::uint32_t yearClear = 0xFFFFF800;

constexpr std::uint32_t bits(std::int32_t v) noexcept {
  return static_cast<std::uint32_t>(v);
}
constexpr std::int32_t toSigned(std::uint32_t u) noexcept {
  return static_cast<std::int32_t>(u);
}

}  // namespace datecodec_detail

constexpr std::int32_t getDay(PackedDate w) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(w) >> dayShift) & dayMask);
}

constexpr std::int32_t getMonth(PackedDate w) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(w) >> monthShift) & monthMask);
}

constexpr std::int32_t getYear(PackedDate w) noexcept {
  using namespace datecodec_detail;
  return toSigned(bits(w) & yearMask);
}

constexpr Date unpackDate(PackedDate w) noexcept {
  return {getDay(w), getMonth(w), getYear(w)};
}

constexpr PackedDate packDate(Date d) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(d.day) << dayShift) | (bits(d.month) << monthShift) | bits(d.year));
}

constexpr PackedDate setDay(PackedDate w, std::int32_t day) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(w) & dayClear) | (bits(day) << dayShift));
}

constexpr PackedDate setMonth(PackedDate w, std::int32_t month) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(w) & monthClear) | (bits(month) << monthShift));
}

constexpr PackedDate setYear(PackedDate w, std::int32_t year) noexcept {
  using namespace datecodec_detail;
  return toSigned((bits(w) & yearClear) | bits(year));
}

// True when every field fits its bit field, so that packDate() stores this
// very date and unpackDate() gives it back.
constexpr bool fieldsInRange(Date d) noexcept {
  return d.day >= 0 && d.day <= maxDay && d.month >= 0 && d.month <= maxMonth && d.year >= 0 &&
         d.year <= maxYear;
}

// Longest text formatDate() writes: "-2147483648/-2147483648/-2147483648\n".
inline constexpr std::size_t maxDateText = 3 * 11 + 3;

namespace datecodec_detail {

// Writes v in decimal, with a minus sign if negative, and returns the end.
constexpr char* writeDecimal(char* out, std::int32_t v) noexcept {
  std::uint32_t magnitude = bits(v);
  if (v < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
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

// "day/month/" for every day and month, at day * 16 + month.
constexpr FieldTable<(maxDay + 1) * (maxMonth + 1)> makeDayMonthTable() noexcept {
  FieldTable<(maxDay + 1) * (maxMonth + 1)> table{};
  for (std::int32_t day = 0; day <= maxDay; ++day) {
    for (std::int32_t month = 0; month <= maxMonth; ++month) {
      FieldText& text = table.entries[day * (maxMonth + 1) + month];
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
    FieldText& text = table.entries[year];
    char* end = writeDecimal(text.bytes, year);
    *end++ = '\n';
    setLength(text, end);
  }
  return table;
}

inline constexpr auto dayMonthText = makeDayMonthTable();
inline constexpr auto yearText = makeYearTable();

constexpr char* placeField(char* out, const FieldText& text) noexcept {
  // A plain loop over a fixed count compiles to one 8-byte move; the bytes
  // past the text are overwritten by the next field or ignored.
  for (std::size_t i = 0; i < 8; ++i) out[i] = text.bytes[i];
  return out + text.bytes[7];
}

}  // namespace datecodec_detail

// Writes the date as "day/month/year\n" in plain decimal, exactly as
// printf("%d/%d/%d\n") would, and returns the end of the text. The caller
// provides maxDateText + 8 bytes of room: an in-range date is placed with
// fixed 8-byte copies that may write scratch bytes past its end.
constexpr char* formatDate(char* out, Date d) noexcept {
  using namespace datecodec_detail;
  if (fieldsInRange(d)) {
    out = placeField(out, dayMonthText.entries[d.day * (maxMonth + 1) + d.month]);
    return placeField(out, yearText.entries[d.year]);
  }
  out = writeDecimal(out, d.day);
  *out++ = '/';
  out = writeDecimal(out, d.month);
  *out++ = '/';
  out = writeDecimal(out, d.year);
  *out++ = '\n';
  return out;
}

// Room a caller of formatDate() must provide.
inline constexpr std::size_t formatDateRoom = maxDateText + 8;
