// datelist: lists the dates of the date file "fechas.txt" in the working
// directory as day/month/year, one per line, up to the first date whose
// year is 0.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "datefile.hpp"

namespace {

constexpr char fileName[] = "fechas.txt";

// Builds one diagnostic line and writes it to standard error in one write.
struct Message {
  char text[512];
  std::size_t size;
};

void add(Message& m, const char* text, std::size_t size) noexcept {
  if (size > sizeof m.text - m.size) size = sizeof m.text - m.size;
  std::memcpy(m.text + m.size, text, size);
  m.size += size;
}

void add(Message& m, const char* text) noexcept {
  add(m, text, std::strlen(text));
}

void addNumber(Message& m, std::size_t n) noexcept {
  char digits[24];
  std::size_t i = sizeof digits;
  do {
    digits[--i] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  add(m, digits + i, sizeof digits - i);
}

// Shows bytes outside printable ASCII as \xHH, so that a file cannot send
// control sequences to the terminal, and the quote and backslash as \" and
// \\, so that the quoted text cannot be misread.
void addEscaped(Message& m, const char* text, std::size_t size) noexcept {
  constexpr char hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      const char escape[2] = {'\\', static_cast<char>(c)};
      add(m, escape, sizeof escape);
    } else if (c >= 0x20 && c < 0x7f) {
      add(m, text + i, 1);
    } else {
      const char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 0xf]};
      add(m, escape, sizeof escape);
    }
  }
}

void report(Message& m) noexcept {
  add(m, "\n");
  writeAll(STDERR_FILENO, m.text, m.size);
}

void reportLoadFailure(const LoadResult& result) noexcept {
  Message m{};
  add(m, "datelist: ");
  add(m, fileName);
  switch (result.status) {
    case LoadStatus::ok:
      return;
    case LoadStatus::cannotOpen:
    case LoadStatus::readError:
    case LoadStatus::outOfMemory:
      add(m, ": ");
      add(m, std::strerror(result.error));
      break;
    case LoadStatus::notInteger:
    case LoadStatus::outOfRange:
      add(m, ":");
      addNumber(m, result.line);
      add(m,
          result.status == LoadStatus::notInteger ? ": not an integer: \"" : ": out of range: \"");
      addEscaped(m, result.token, result.tokenSize);
      add(m, result.tokenCut ? "\"..." : "\"");
      break;
  }
  report(m);
}

// Lists the records up to the first whose year is 0; 0 or the errno of the
// write that failed.
int list(const Date* dates) noexcept {
  static char buffer[256 * 1024];
  const Date* next = dates;
  while (next->year != 0) {
    const std::size_t size = formatDates(&next, buffer, sizeof buffer);
    if (const int error = writeAll(STDOUT_FILENO, buffer, size)) return error;
  }
  return 0;
}

}  // namespace

int main() {
  // The array is held until the process ends, which releases it whole.
  static Date* dates = nullptr;
  const LoadResult result = loadDates(&dates, fileName);

  int writeError = dates != nullptr ? list(dates) : 0;
  // A closed standard output with nothing written to it is no error.
  if (writeError == 0 && ::close(STDOUT_FILENO) != 0 && errno != EBADF && errno != EINTR) {
    writeError = errno;
  }
  if (writeError != 0) {
    Message m{};
    add(m, "datelist: write error: ");
    add(m, std::strerror(writeError));
    report(m);
  }
  reportLoadFailure(result);
  return writeError != 0 || result.status != LoadStatus::ok ? 1 : 0;
}
