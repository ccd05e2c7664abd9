#include "datelist/datefile.hpp"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>

#include "datelist/dateparse.hpp"
#include "datelist/edge.hpp"

namespace bitwords {
namespace {

using detail::DateParser;

// Parsing a text of `bytes` bytes, started within the memory the process
// has left for it.
DateParser parserFor(std::uint64_t bytes) noexcept {
  DateParser parser{};
  detail::startDates(parser, bytes, detail::memoryBudget(detail::memoryWanted(bytes)));
  return parser;
}

// appendDate's errno values in words.
class AppendCategory final : public std::error_category {
 public:
  [[nodiscard]] const char* name() const noexcept override { return "bitwords.append"; }
  [[nodiscard]] std::string message(int error) const override {
    if (error == EWOULDBLOCK) return "locked by another process (or a FIFO stayed full)";
    return std::generic_category().message(error);
  }
  [[nodiscard]] std::error_condition default_error_condition(int error) const noexcept override {
    return std::generic_category().default_error_condition(error);
  }
};

}  // namespace

const std::error_category& appendCategory() noexcept {
  static const AppendCategory category;
  return category;
}

LoadResult parseDates(Date** dates, const char* text, std::size_t size) noexcept {
  DateParser parser = parserFor(size);
  detail::feedDates(parser, text, size);
  return detail::finishDates(parser, dates);
}

LoadResult loadDates(Date** dates, const char* path) noexcept {
  detail::ReadingFile file{};
  if (const int error = detail::openToRead(file, path, lockWaitSeconds)) {
    DateParser parser{};
    detail::stopDates(parser, error == EWOULDBLOCK ? LoadStatus::locked : LoadStatus::cannotOpen,
                      error);
    return detail::finishDates(parser, dates);
  }
  // The file's bytes are parsed where they are read, with no copy.
  DateParser parser = parserFor(file.size);
  for (std::size_t n = 0; parser.failure.status == LoadStatus::ok;) {
    const detail::ReadRoom room = detail::readRoom(parser);
    if (const int error = detail::readMore(file, room.at, room.size, n)) {
      detail::stopDates(parser, LoadStatus::readError, error);
    } else if (n == 0 || !detail::feedRead(parser, n)) {
      break;
    }
  }
  detail::closeReading(file);
  return detail::finishDates(parser, dates);
}

int appendDate(Date date, const char* path) noexcept {
  if (!fieldsInRange(date)) return ERANGE;
  // An in-range word has at most seven digits.
  char line[12];
  char* const end = std::to_chars(line, line + sizeof line - 1, packDate(date)).ptr;
  *end = '\n';
  return detail::appendLine(path, line, static_cast<std::size_t>(end + 1 - line), lockWaitSeconds);
}

}  // namespace bitwords
