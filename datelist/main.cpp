// datelist: lists the dates of the date file "fechas.txt" in the working
// directory as day/month/year, one per line, up to the first date whose
// year is 0. The whole file is read and checked; a fault anywhere in it is
// reported after the listing, with status 1.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"
#include "datelist/edge.hpp"

namespace {

using namespace bitwords;
namespace edge = bitwords::detail;  // what the program asks of the system

constexpr char fileName[] = "fechas.txt";

// Writes one diagnostic line to standard error, "datelist: " and the
// pieces, in one write.
void report(std::string_view what, std::string_view more = {}) noexcept {
  char line[32 + sizeof fileName + maxLoadText];
  char* at = line;
  for (const std::string_view piece : {std::string_view("datelist: "), what, more}) {
    const auto room = static_cast<std::size_t>(line + sizeof line - 1 - at);
    at = std::copy_n(piece.data(), std::min(piece.size(), room), at);
  }
  *at++ = '\n';
  static_cast<void>(edge::writeAll(edge::standardError, line, static_cast<std::size_t>(at - line)));
}

// Lists the count records up to the first whose year is 0; 0 or the errno
// of the write that failed. The text goes through a buffer taken once the
// load is done, of the listing's size up to 256 KiB (a small listing's
// from memory the load has touched already), or where memory is short
// through a small one.
int list(const Date* dates, std::size_t count) noexcept {
  char spare[1024];
  const std::size_t wanted =
      std::min(std::max(count, std::size_t{1}) * maxDateText, std::size_t{256} << 10);
  char* const taken = static_cast<char*>(std::malloc(wanted));
  char* const buffer = taken != nullptr ? taken : spare;
  const std::size_t room = taken != nullptr ? wanted : sizeof spare;
  const Date* next = dates;
  const Date* const end = dates + count;
  int error = 0;
  while (error == 0 && next != end && next->year != 0) {
    error = edge::writeAll(edge::standardOutput, buffer, formatDates(&next, end, buffer, room));
  }
  std::free(taken);
  return error;
}

}  // namespace

int main() {
  // The array is held until the process ends, which releases it whole.
  static Date* dates = nullptr;
  const LoadResult result = loadDates(&dates, fileName);

  // No array (not even a terminator could be had) lists nothing.
  int writeError = list(dates, result.count);
  // A closed standard output with nothing written to it is no error.
  if (writeError == 0) {
    const int closed = edge::closeFile(edge::standardOutput);
    if (closed != EBADF) writeError = closed;
  }
  if (writeError != 0) report("write error: ", std::strerror(writeError));
  if (result.status != LoadStatus::ok) {
    char text[sizeof fileName + maxLoadText];
    const std::to_chars_result end = describeLoad(text, text + sizeof text, fileName, result);
    report({text, static_cast<std::size_t>(end.ptr - text)});
  }
  return writeError != 0 || result.status != LoadStatus::ok ? 1 : 0;
}
