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

#include <cstdint>

namespace bitwords {

using PackedDate = std::int32_t;

struct Date {
  std::int32_t day;
  std::int32_t month;
  std::int32_t year;

  // (Its branches are the compiler's, field by field.)
  friend constexpr bool operator==(Date, Date) noexcept = default;  // GCOVR_EXCL_BR_LINE
};

namespace detail {

// A bit field of the word: its first bit and its width. The masks and the
// largest value follow from these two numbers.
struct Field {
  unsigned shift;
  unsigned width;
};

inline constexpr Field dayField{15, 5};
inline constexpr Field monthField{11, 4};
inline constexpr Field yearField{0, 11};

// The field's bits, shifted down to bit 0.
constexpr std::uint32_t fieldMask(Field f) noexcept {
  return (std::uint32_t{1} << f.width) - 1;
}
// The word with the field's bits zero.
constexpr std::uint32_t clearMask(Field f) noexcept {
  return ~(fieldMask(f) << f.shift);
}

static_assert(fieldMask(dayField) == 0x1F && clearMask(dayField) == 0xFFF07FFF);
static_assert(fieldMask(monthField) == 0xF && clearMask(monthField) == 0xFFFF87FF);
static_assert(fieldMask(yearField) == 0x7FF && clearMask(yearField) == 0xFFFFF800);

constexpr std::uint32_t bits(std::int32_t v) noexcept {
  return static_cast<std::uint32_t>(v);
}
constexpr std::int32_t toSigned(std::uint32_t u) noexcept {
  return static_cast<std::int32_t>(u);
}

constexpr std::int32_t getField(PackedDate w, Field f) noexcept {
  return toSigned((bits(w) >> f.shift) & fieldMask(f));
}
// The value shifted up to the field, not masked: what does not fit spills
// into the bits above.
constexpr std::uint32_t placed(std::int32_t value, Field f) noexcept {
  return bits(value) << f.shift;
}
constexpr PackedDate setField(PackedDate w, Field f, std::int32_t value) noexcept {
  return toSigned((bits(w) & clearMask(f)) | placed(value, f));
}

}  // namespace detail

inline constexpr std::int32_t maxDay = detail::fieldMask(detail::dayField);
inline constexpr std::int32_t maxMonth = detail::fieldMask(detail::monthField);
inline constexpr std::int32_t maxYear = detail::fieldMask(detail::yearField);
static_assert(maxDay == 31 && maxMonth == 15 && maxYear == 2047);

constexpr std::int32_t getDay(PackedDate w) noexcept {
  return detail::getField(w, detail::dayField);
}

constexpr std::int32_t getMonth(PackedDate w) noexcept {
  return detail::getField(w, detail::monthField);
}

constexpr std::int32_t getYear(PackedDate w) noexcept {
  return detail::getField(w, detail::yearField);
}

constexpr Date unpackDate(PackedDate w) noexcept {
  return {getDay(w), getMonth(w), getYear(w)};
}

constexpr PackedDate setDay(PackedDate w, std::int32_t day) noexcept {
  return detail::setField(w, detail::dayField, day);
}

constexpr PackedDate setMonth(PackedDate w, std::int32_t month) noexcept {
  return detail::setField(w, detail::monthField, month);
}

constexpr PackedDate setYear(PackedDate w, std::int32_t year) noexcept {
  return detail::setField(w, detail::yearField, year);
}

// Each field shifted up and ORed in whole: a wide field's spilled bits
// stay set, as they do in the setters.
constexpr PackedDate packDate(Date d) noexcept {
  using namespace detail;
  return toSigned(placed(d.day, dayField) | placed(d.month, monthField) |
                  placed(d.year, yearField));
}

// True when every field fits its bit field, so that packDate() stores this
// very date and unpackDate() gives it back.
constexpr bool fieldsInRange(Date d) noexcept {
  return d.day >= 0 && d.day <= maxDay && d.month >= 0 && d.month <= maxMonth && d.year >= 0 &&
         d.year <= maxYear;
}

}  // namespace bitwords
