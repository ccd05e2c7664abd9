#include "datelist/datetext.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "datelist/kernels.hpp"
#include "datelist/listing.hpp"

namespace bitwords {
namespace {

using detail::placeReach;
static_assert(placeReach <= maxDateText);

// Places the date's text at out, which has room for placeReach bytes, and
// maxDateText where the date is not listable; returns its end.
char* placeDate(char* out, Date d) noexcept {
  const Date* next = &d;
  if (char* const end = detail::listPortable(&next, 1, out, nullptr); next != &d) return end;
  for (const std::int32_t field : {d.day, d.month, d.year}) {
    out = detail::writeDecimal(out, field);
    *out++ = '/';
  }
  out[-1] = '\n';
  return out;
}

}  // namespace

std::to_chars_result formatDate(char* first, char* last, Date date) noexcept {
  const auto room = static_cast<std::size_t>(last - first);
  if (room >= maxDateText) return {placeDate(first, date), std::errc{}};
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
      // maxListableText bytes) go by the tables without a check of room.
      const std::size_t fit = (left - placeReach) / detail::maxListableText + 1;
      const std::size_t bound = end != nullptr && static_cast<std::size_t>(end - d) < fit
                                    ? static_cast<std::size_t>(end - d)
                                    : fit;
      const Date* const last = d + bound;
      // The path's listing, and the portable one for the last few.
      at = detail::kernelsOf(path).list(&d, bound, at, stop);
      at = detail::listPortable(&d, static_cast<std::size_t>(last - d), at, stop);
      if (d == last || d->year == 0) continue;
    }
    // Not listable, or near the end of the room: one whole line, if it fits.
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
