// The appender: one date as one line at the end of a date file, and its
// results in words. Apart from the loader, so that a program that only
// loads links none of it.
#include <cerrno>
#include <charconv>
#include <string>

#include "datelist/datefile.hpp"
#include "datelist/edge.hpp"

namespace bitwords {
namespace {

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

int appendDate(Date date, const char* path) noexcept {
  if (!fieldsInRange(date)) return ERANGE;
  // An in-range word has at most seven digits.
  char line[12];
  char* const end = std::to_chars(line, line + sizeof line - 1, packDate(date)).ptr;
  *end = '\n';
  return detail::appendLine(path, line, static_cast<std::size_t>(end + 1 - line), lockWaitSeconds);
}

}  // namespace bitwords
