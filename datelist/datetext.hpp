// The listing text of dates: "day/month/year\n" in plain decimal, exactly
// as printf("%d/%d/%d\n") writes it. Formatting writes into the caller's
// memory and touches no descriptor.
#pragma once

#include <cstddef>

#include "datelist/datecodec.hpp"

// Longest text of one date: "-2147483648/-2147483648/-2147483648\n".
inline constexpr std::size_t maxDateText = 3 * 11 + 3;

// Room a caller of formatDate() must provide: an in-range date is placed
// with fixed 8-byte copies that may write scratch bytes past its end.
inline constexpr std::size_t formatDateRoom = maxDateText + 8;

// Writes the date's text at out and returns its end.
char* formatDate(char* out, Date d) noexcept;

// Writes the listing text of the array, one line per record, from *next up
// to but not including the first record whose year is 0, into out,
// stopping early when fewer than formatDateRoom bytes remain. Advances
// *next past the records written and returns the bytes written. The
// listing is complete when (*next)->year is 0.
std::size_t formatDates(const Date** next, char* out, std::size_t room) noexcept;

// The same, for an array whose end is known (end points past its last
// record, the terminator or another with year 0 included): it reads no
// record at or past end, and so may check records eight at a time. The
// listing is complete when *next is end or (*next)->year is 0.
std::size_t formatDates(const Date** next, const Date* end, char* out, std::size_t room) noexcept;

// The library's choice of code path, declared in an internal header.
enum class WidePath : unsigned char;

namespace datetext_detail {
// formatDates on a chosen path (end may be null); the tests run each that
// the machine has.
std::size_t formatDates(WidePath path, const Date** next, const Date* end, char* out,
                        std::size_t room) noexcept;
}  // namespace datetext_detail
