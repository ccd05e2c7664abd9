// datelist: lists the dates of the date file "fechas.txt" in the working
// directory as day/month/year, one per line, up to the first date whose
// year is 0. The whole file is read and checked; a fault anywhere in it is
// reported after the listing, with status 1.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <string_view>

#include "datelist/datefile.hpp"
#include "datelist/output.hpp"

namespace {

using namespace bitwords;

constexpr char fileName[] = "fechas.txt";
constexpr int standardOutput = 1;
constexpr int standardError = 2;

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
  static_cast<void>(writeAll(standardError, line, static_cast<std::size_t>(at - line)));
}

}  // namespace

int main() {
  // The array is held until the process ends, which releases it whole.
  static Date* dates = nullptr;
  const LoadResult result = loadDates(&dates, fileName);

  // No array (not even a terminator could be had) lists nothing.
  int writeError = writeDates(standardOutput, dates, result.count);
  // A closed standard output with nothing written to it is no error.
  if (writeError == 0) {
    const int closed = closeOutput(standardOutput);
    if (closed != EBADF) writeError = closed;
  }
  if (writeError != 0) report("write error: ", reasonText(writeError));
  if (result.status != LoadStatus::ok) {
    char text[sizeof fileName + maxLoadText];
    const std::to_chars_result end = describeLoad(text, text + sizeof text, fileName, result);
    report({text, static_cast<std::size_t>(end.ptr - text)});
  }
  return writeError != 0 || result.status != LoadStatus::ok ? 1 : 0;
}
