#include "datelist/datetext.hpp"

#include <cstdint>

namespace {

// Writes v in decimal, with a minus sign if negative, and returns the end.
constexpr char* writeDecimal(char* out, std::int32_t v) noexcept {
  auto magnitude = static_cast<std::uint32_t>(v);
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

constexpr std::size_t months = maxMonth + 1;

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

char* placeField(char* out, const FieldText& text) noexcept {
  // A plain loop over a fixed count compiles to one 8-byte move; the bytes
  // past the text are overwritten by the next field or ignored.
  for (std::size_t i = 0; i < 8; ++i) out[i] = text.bytes[i];
  return out + text.bytes[7];
}

// The body of formatDate(), inline in the listing loop.
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

}  // namespace

char* formatDate(char* out, Date d) noexcept {
  return placeDate(out, d);
}

std::size_t formatDates(const Date** next, char* out, std::size_t room) noexcept {
  const Date* d = *next;
  char* at = out;
  if (room >= formatDateRoom) {
    const char* const last = out + (room - formatDateRoom);
    for (; d->year != 0 && at <= last; ++d) at = placeDate(at, *d);
  }
  *next = d;
  return static_cast<std::size_t>(at - out);
}
