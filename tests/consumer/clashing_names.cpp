// A program with global names of its own that the library uses too (Date,
// LoadResult, closeFile, writeAll, readMore, loadDates, appendDate,
// packDate, formatDate, kernelsOf, feedRead): it must build against the
// library and round-trip a date file through bitwords::, the C-style way
// and the C++ way, and say what went wrong in words.
//
//   clashing_names FILE     appends 25/12/2018 and 1/1/2000, lists FILE
//                           twice, appends 32/1/2000, lists FILE/missing
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>
#include <system_error>

#include "datelist/datecodec.hpp"
#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"

struct Date {
  const char* text;
};
struct LoadResult {
  int lines;
};
int closeFile(int fd) {
  return ::close(fd);
}
int writeAll(int fd, const char* text, std::size_t size) {
  return static_cast<int>(::write(fd, text, size));
}
int readMore(int fd) {
  return fd;
}
int loadDates(const char* path) {
  return path != nullptr ? 1 : 0;
}
int appendDate(Date date) {
  return date.text != nullptr ? 1 : 0;
}
int packDate(int day) {
  return day << 15;
}
int formatDate(char* out) {
  return out != nullptr ? 1 : 0;
}
int kernelsOf() {
  return 2;
}
int feedRead() {
  return 3;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const Date mine{"mine"};
  const LoadResult own{readMore(loadDates(argv[1]) + appendDate(mine) + formatDate(argv[1]) +
                                kernelsOf() + feedRead())};
  for (const bitwords::Date d : {bitwords::Date{25, 12, 2018}, bitwords::Date{1, 1, 2000}}) {
    if (bitwords::appendDate(d, argv[1]) != 0) return 1;
  }
  // C-style: a block freed by hand, formatted record by record.
  bitwords::Date* dates = nullptr;
  const bitwords::LoadResult loaded = bitwords::loadDates(&dates, argv[1]);
  if (loaded.status != bitwords::LoadStatus::ok) return 1;
  char line[bitwords::maxDateText];
  for (std::size_t i = 0; i < loaded.count; ++i) {
    const auto [end, error] = bitwords::formatDate(line, line + sizeof line, dates[i]);
    if (error != std::errc{}) return 1;
    writeAll(STDOUT_FILENO, line, static_cast<std::size_t>(end - line));
  }
  // A listing through what a caller holds: a Date*, and a span.
  bitwords::Date* next = dates;
  char text[64];
  writeAll(STDOUT_FILENO, text, bitwords::formatDates(&next, dates + loaded.count, text, 11));
  std::free(dates);
  const bitwords::LoadedDates owned = bitwords::loadDates(argv[1]);
  std::span<const bitwords::Date> rest = bitwords::datesOf(owned);
  rest = rest.subspan(1);
  writeAll(STDOUT_FILENO, text, bitwords::formatDates(rest, text, sizeof text));
  // What went wrong, in words.
  const std::error_code refused =
      bitwords::appendErrorCode(bitwords::appendDate({32, 1, 2000}, argv[1]));
  const std::string missing = std::string(argv[1]) + "/missing";
  std::printf(
      "%s; %s\n", refused.message().c_str(),
      bitwords::describeLoad(missing.c_str(), bitwords::loadDates(missing.c_str()).result).c_str());
  std::printf("%d %d\n", own.lines, packDate(1) == bitwords::packDate({1, 0, 0}));
  static_cast<void>(closeFile(STDIN_FILENO));
  return 0;
}
