// The listing text of dates: "day/month/year\n" in plain decimal, exactly
// as printf("%d/%d/%d\n") writes it. Formatting writes into the caller's
// memory, never at or past the end it is given, and touches no descriptor.
#pragma once

#include <charconv>
#include <cstddef>
#include <span>

#include "datelist/api.hpp"
#include "datelist/datecodec.hpp"

namespace bitwords {

// Longest text of one date: "-2147483648/-2147483648/-2147483648\n".
inline constexpr std::size_t maxDateText = 3 * 11 + 3;

// Writes the date's text into [first, last) and returns past it, as
// std::to_chars does; where it does not fit, returns {last,
// std::errc::value_too_large}, and what [first, last) then holds is
// unspecified. Room for maxDateText bytes always suffices.
[[nodiscard]] BITWORDS_API std::to_chars_result formatDate(char* first, char* last,
                                                           Date date) noexcept;

// Writes the listing text of the array, one whole line per record, from
// *next up to but not including the first record whose year is 0, into
// [out, out + room); advances *next past the records written and returns
// the bytes written. The listing is complete when (*next)->year is 0. A
// room of at least maxDateText bytes always takes at least one line; a
// smaller one takes the lines that fit, possibly none (then nothing is
// written and *next stays).
[[nodiscard]] BITWORDS_API std::size_t formatDates(const Date** next, char* out,
                                                   std::size_t room) noexcept;

// The same, for an array whose end is known (end points past its last
// record, the terminator or another with year 0 included): it reads no
// record at or past end, and so may check records eight at a time. The
// listing is complete when *next is end or (*next)->year is 0.
[[nodiscard]] BITWORDS_API std::size_t formatDates(const Date** next, const Date* end, char* out,
                                                   std::size_t room) noexcept;

// The same for a caller that holds its array as Date*.
[[nodiscard]] inline std::size_t formatDates(Date** next, char* out, std::size_t room) noexcept {
  const Date* from = *next;
  const std::size_t size = formatDates(&from, out, room);
  *next += from - *next;
  return size;
}

[[nodiscard]] inline std::size_t formatDates(Date** next, const Date* end, char* out,
                                             std::size_t room) noexcept {
  const Date* from = *next;
  const std::size_t size = formatDates(&from, end, out, room);
  *next += from - *next;
  return size;
}

// The same for the dates of a span, whose front loses the dates written:
// the listing is complete when it is empty or its first date's year is 0.
[[nodiscard]] inline std::size_t formatDates(std::span<const Date>& dates, char* out,
                                             std::size_t room) noexcept {
  const Date* next = dates.data();
  const std::size_t size = formatDates(&next, dates.data() + dates.size(), out, room);
  dates = dates.subspan(static_cast<std::size_t>(next - dates.data()));
  return size;
}

}  // namespace bitwords
