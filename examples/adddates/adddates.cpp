// adddates: adds the dates given as day/month/year to a date file, then
// lists the file back.
//
//   adddates FILE DATE...
//
// A date that is not three decimal numbers separated by slashes, or whose
// fields do not fit the packed word (day 0-31, month 0-15, year 0-2047), is
// reported and left out; the others are added. The exit status is 1 if
// anything was left out or failed.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>

#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"

namespace {

using bitwords::Date;
using bitwords::LoadStatus;

// Reads one decimal field up to the next slash (or the end), if any.
std::optional<int> field(std::string_view& text, bool last) {
  int value = 0;
  const char* const end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || at == text.data()) return std::nullopt;
  if (last ? at != end : (at == end || *at != '/')) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(at - text.data()) + (last ? 0 : 1));
  return value;
}

std::optional<Date> parseDate(std::string_view text) {
  const auto day = field(text, false);
  const auto month = day ? field(text, false) : std::nullopt;
  const auto year = month ? field(text, true) : std::nullopt;
  if (!year) return std::nullopt;
  return Date{*day, *month, *year};
}

// Lists the date file as datelist does; false if it could not be read
// whole or the listing could not be written.
bool list(const char* path) {
  const bitwords::LoadedDates loaded = bitwords::loadDates(path);
  bool sound = loaded.result.status == LoadStatus::ok;
  if (!sound) {
    std::fprintf(stderr, "adddates: %s\n", bitwords::describeLoad(path, loaded.result).c_str());
  }
  std::span<const Date> rest = bitwords::datesOf(loaded);
  char buffer[4096];
  while (!rest.empty() && rest.front().year != 0) {
    const std::size_t size = bitwords::formatDates(rest, buffer, sizeof buffer);
    sound = std::fwrite(buffer, 1, size, stdout) == size && sound;
  }
  return sound;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: adddates FILE DATE...\n", stderr);
    return 2;
  }
  const char* const path = argv[1];
  bool sound = true;
  for (int i = 2; i < argc; ++i) {
    const std::optional<Date> date = parseDate(argv[i]);
    if (!date) {
      std::fprintf(stderr, "adddates: %s: not a date of the form day/month/year\n", argv[i]);
      sound = false;
    } else if (const std::error_code error =
                   bitwords::appendErrorCode(bitwords::appendDate(*date, path))) {
      std::fprintf(stderr, "adddates: %s: %s\n", argv[i], error.message().c_str());
      sound = false;
    }
  }
  sound = list(path) && sound;
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "adddates: write error: %s\n", std::strerror(errno));
    sound = false;
  }
  return sound ? 0 : 1;
}
