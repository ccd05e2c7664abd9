// The loader: a date file, or a text in memory, parsed into a block of
// records within the memory the process has left for it.
#include "datelist/datefile.hpp"

#include <cerrno>
#include <cstdint>

#include "datelist/dateparse.hpp"
#include "datelist/edge.hpp"

namespace bitwords {
namespace {

using detail::DateParser;

// Parsing a text of `bytes` bytes, started with the memory the system
// leaves of what it may want, its block of records on huge pages.
DateParser parserFor(std::uint64_t bytes) noexcept {
  DateParser parser{};
  detail::startDates(parser, bytes, detail::memoryBudget(detail::memoryWanted(bytes)),
                     detail::preferHugePages);
  return parser;
}

}  // namespace

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

}  // namespace bitwords
