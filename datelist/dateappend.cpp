// The appender: one date as one line at the end of a date file. Apart
// from the loader, so that a program that only loads links none of it.
#include <cerrno>
#include <charconv>

#include "datelist/datefile.hpp"
#include "datelist/edge.hpp"

namespace bitwords {

int appendDate(Date date, const char* path) noexcept {
  if (!fieldsInRange(date)) return ERANGE;
  // An in-range word has at most seven digits.
  char line[12];
  char* const end = std::to_chars(line, line + sizeof line - 1, packDate(date)).ptr;
  *end = '\n';
  return detail::appendLine(path, line, static_cast<std::size_t>(end + 1 - line), lockWaitSeconds);
}

}  // namespace bitwords
