// datelist: lists the dates of the date file "fechas.txt" in the working
// directory as day/month/year, one per line, up to the first date whose
// year is 0. The whole file is read and checked; a fault anywhere in it is
// reported after the listing, with status 1.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"
#include "datelist/edge.hpp"

namespace {

using bitwords::Date;
using bitwords::LoadResult;
using bitwords::LoadStatus;
using bitwords::maxTokenText;
using bitwords::detail::closeFile;
using bitwords::detail::standardError;
using bitwords::detail::standardOutput;
using bitwords::detail::writeAll;

constexpr char fileName[] = "fechas.txt";

// Writes one diagnostic line to standard error in one write.
// The longest, a bad token's report, takes under 256 bytes.
[[gnu::format(printf, 1, 2)]] void report(const char* format, ...) noexcept {
  char line[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  static_cast<void>(writeAll(standardError, line, std::strlen(line)));
}

// The token as it can be shown on a terminal: bytes outside printable ASCII
// as \xHH, and the quote and backslash as \" and \\, so that a file cannot
// send control sequences and the quoted text cannot be misread.
void escape(char* out, const char* text, std::size_t size) noexcept {
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      *out++ = static_cast<char>(c);
    } else {
      out += std::snprintf(out, 5, "\\x%02x", c);
    }
  }
  *out = '\0';
}

void reportLoadFailure(const LoadResult& r) noexcept {
  if (r.status == LoadStatus::notInteger || r.status == LoadStatus::outOfRange) {
    char token[4 * maxTokenText + 1];
    escape(token, r.token, r.tokenSize);
    report("datelist: %s:%llu: %s: \"%s\"%s\n", fileName, static_cast<unsigned long long>(r.line),
           r.status == LoadStatus::notInteger ? "not an integer" : "out of range", token,
           r.tokenCut ? "..." : "");
  } else if (r.status == LoadStatus::locked) {
    report("datelist: %s: locked by another process\n", fileName);
  } else if (r.status != LoadStatus::ok) {
    report("datelist: %s: %s\n", fileName, std::strerror(r.error));
  }
}

// Lists the count records up to the first whose year is 0; 0 or the errno
// of the write that failed.
int list(const Date* dates, std::size_t count) noexcept {
  static char buffer[256 * 1024];
  const Date* next = dates;
  const Date* const end = dates + count;
  while (next != end && next->year != 0) {
    const std::size_t size = bitwords::formatDates(&next, end, buffer, sizeof buffer);
    if (const int error = writeAll(standardOutput, buffer, size)) return error;
  }
  return 0;
}

}  // namespace

int main() {
  // The array is held until the process ends, which releases it whole.
  static Date* dates = nullptr;
  const LoadResult result = bitwords::loadDates(&dates, fileName);

  // No array (not even a terminator could be had) lists nothing.
  int writeError = list(dates, result.count);
  // A closed standard output with nothing written to it is no error.
  if (writeError == 0) {
    const int closed = closeFile(standardOutput);
    if (closed != EBADF) writeError = closed;
  }
  if (writeError != 0) report("datelist: write error: %s\n", std::strerror(writeError));
  reportLoadFailure(result);
  return writeError != 0 || result.status != LoadStatus::ok ? 1 : 0;
}
