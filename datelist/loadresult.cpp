#include "datelist/loadresult.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace bitwords {
namespace {

// The token as it can be shown on a terminal: bytes outside printable ASCII
// as \xHH, and the quote and backslash as \" and \\, so that a file cannot
// send control sequences and the quoted text cannot be misread. Returns
// the end of the text written at out, which has room for 4 bytes a byte.
char* escaped(char* out, const char* token, std::size_t size) noexcept {
  constexpr char hex[] = "0123456789abcdef";
  for (const char* c = token; c != token + size; ++c) {
    const auto b = static_cast<unsigned char>(*c);
    if (b == '"' || b == '\\') *out++ = '\\';
    if (b >= 0x20 && b < 0x7f) {
      *out++ = *c;
    } else {
      const char code[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
      out = std::copy_n(code, 4, out);
    }
  }
  *out = '\0';
  return out;
}

}  // namespace

const char* reasonText(int error) noexcept {
  return error == EWOULDBLOCK ? "locked by another process" : std::strerror(error);
}

std::to_chars_result describeLoad(char* first, char* last, const char* file,
                                  const LoadResult& result) noexcept {
  if (result.status == LoadStatus::ok) return {first, std::errc{}};
  // What follows the file's name.
  char token[4 * maxTokenText + 1];
  escaped(token, result.token, result.tokenSize);
  char tail[maxLoadText];
  const bool bad =
      result.status == LoadStatus::notInteger || result.status == LoadStatus::outOfRange;
  const int written =
      bad ? std::snprintf(
                tail, sizeof tail, ":%" PRIu64 ": %s: \"%s\"%s", result.line,
                result.status == LoadStatus::notInteger ? "not an integer" : "out of range", token,
                result.tokenCut ? "..." : "")
          : std::snprintf(tail, sizeof tail, ": %s", reasonText(result.error));
  const std::size_t name = std::strlen(file);
  const std::size_t size = std::min(static_cast<std::size_t>(written), sizeof tail - 1);
  if (name + size > static_cast<std::size_t>(last - first))
    return {last, std::errc::value_too_large};
  return {std::copy_n(tail, size, std::copy_n(file, name, first)), std::errc{}};
}

}  // namespace bitwords
