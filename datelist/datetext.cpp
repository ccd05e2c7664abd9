// The listing's text of one date and of arrays of them: the path's kernels
// for the dates that the tables hold, the line of the date for the rest.
#include "datelist/datetext.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "datelist/kernels.hpp"
#include "datelist/listing.hpp"

namespace bitwords {

static_assert(detail::longestLine == maxDateText && detail::placeReach <= maxDateText);

std::to_chars_result formatDate(char* first, char* last, Date date) noexcept {
  char text[maxDateText];
  const auto size = static_cast<std::size_t>(detail::writeLine(text, date) - text);
  if (size > static_cast<std::size_t>(last - first)) return {last, std::errc::value_too_large};
  std::memcpy(first, text, size);
  return {first + size, std::errc{}};
}

std::size_t formatDates(const Date** next, const Date* end, char* out, std::size_t room) noexcept {
  // The vector paths check records ahead, and so need the array's end.
  const detail::Kernels& kernels =
      detail::kernelsOf(end != nullptr ? detail::activePath() : detail::Path::portable);
  const Date* d = *next;
  char* at = out;
  char* const stop = out + room;
  while (d != end && d->year != 0) {
    const auto left = static_cast<std::size_t>(stop - at);
    if (left >= detail::placeReach) {
      // The records that surely fit go by the tables without a check of
      // room.
      const std::size_t fit = (left - detail::placeReach) / detail::maxListableText + 1;
      const std::size_t bound =
          end != nullptr ? std::min(fit, static_cast<std::size_t>(end - d)) : fit;
      const Date* const last = d + bound;
      at = kernels.list(&d, bound, at, stop);
      if (d == last || d->year == 0) continue;
    }
    // Not listable, or near the end of the room: its whole line, if it fits.
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
