#include "datelist/datetext.hpp"

#include <cstddef>
#include <cstring>

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
  out = detail::writeDecimal(out, d.day);
  *out++ = '/';
  out = detail::writeDecimal(out, d.month);
  *out++ = '/';
  out = detail::writeDecimal(out, d.year);
  *out++ = '\n';
  return out;
}

// Lists records from *next, at most n, which fit, while they are listable,
// on the path.
char* listOn(detail::Path path, const Date** next, std::size_t n, char* out,
             const char* stop) noexcept {
  const Date* const last = *next + n;
  if (detail::avx512Built && path == detail::Path::avx512) {
    out = detail::listAvx512(next, n, out, stop);
  } else if (detail::avx2Built && path == detail::Path::avx2) {
    out = detail::listAvx2(next, n, out, stop);
  }
  return detail::listPortable(next, static_cast<std::size_t>(last - *next), out, stop);
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
      at = listOn(path, &d, bound, at, stop);
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
