#include "datelist/datefile.hpp"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "datelist/dateparse.hpp"
#include "datelist/edge.hpp"

namespace bitwords {
namespace {

using detail::DateParser;

// A parser with the memory budget of a text of `bytes` bytes (or of one of
// unknown size), its block sized once for such a text where its size is
// known.
DateParser parserFor(std::uint64_t bytes, bool sized) noexcept {
  DateParser parser{};
  parser.budget = detail::memoryBudget(sized ? detail::recordBytesFor(bytes) : SIZE_MAX);
  if (sized) {
    detail::expectBytes(parser, bytes);
    detail::preferHugePages(parser.dates);
  }
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
  DateParser parser = parserFor(size, true);
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
  DateParser parser = parserFor(file.size, file.sized);
  // The file's blocks are parsed where they are read, with no copy, in a
  // block on the heap rather than the stack; a small file in a block of
  // its own size.
  const std::size_t size = file.sized && file.size < detail::blockSize
                               ? static_cast<std::size_t>(file.size)
                               : detail::blockSize;
  char* const buffer =
      static_cast<char*>(std::malloc(detail::blockLookBehind + size + detail::blockPadding));
  if (buffer == nullptr) detail::stopDates(parser, LoadStatus::outOfMemory, ENOMEM);
  char* const block = buffer != nullptr ? buffer + detail::blockLookBehind : nullptr;
  for (std::size_t n = 0; block != nullptr;) {
    if (const int error = detail::readMore(file, block, size, n)) {
      detail::stopDates(parser, LoadStatus::readError, error);
      break;
    }
    if (n == 0 || !detail::feedBlock(parser, block, n)) break;
  }
  std::free(buffer);
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
