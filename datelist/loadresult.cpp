#include "datelist/loadresult.hpp"

#include <cstring>
#include <string_view>

namespace bitwords {
namespace {

// Text written into [at, last), never past last: once a piece does not fit,
// nothing more is written and the text is marked as not fitting.
struct Text {
  char* at;
  char* last;
  bool fits;
};

void put(Text& t, std::string_view piece) noexcept {
  if (!t.fits || piece.size() > static_cast<std::size_t>(t.last - t.at)) {
    t.fits = false;
    return;
  }
  std::memcpy(t.at, piece.data(), piece.size());
  t.at += piece.size();
}

void putNumber(Text& t, std::uint64_t value) noexcept {
  char digits[20];
  put(t, {digits, std::to_chars(digits, digits + sizeof digits, value).ptr});
}

// The token as it can be shown on a terminal: bytes outside printable ASCII
// as \xHH, and the quote and backslash as \" and \\, so that a file cannot
// send control sequences and the quoted text cannot be misread.
void putEscaped(Text& t, const char* token, std::size_t size) noexcept {
  constexpr char hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(token[i]);
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      put(t, {escaped, 2});
    } else if (c >= 0x20 && c < 0x7f) {
      put(t, {&token[i], 1});
    } else {
      const char escaped[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
      put(t, {escaped, 4});
    }
  }
}

}  // namespace

std::to_chars_result describeLoad(char* first, char* last, const char* file,
                                  const LoadResult& result) noexcept {
  Text t{first, last, true};
  if (result.status == LoadStatus::ok) return {first, std::errc{}};
  put(t, file);
  if (result.status == LoadStatus::notInteger || result.status == LoadStatus::outOfRange) {
    put(t, ":");
    putNumber(t, result.line);
    put(t, result.status == LoadStatus::notInteger ? ": not an integer: \"" : ": out of range: \"");
    putEscaped(t, result.token, result.tokenSize);
    put(t, result.tokenCut ? "\"..." : "\"");
  } else if (result.status == LoadStatus::locked) {
    put(t, ": locked by another process");
  } else {
    put(t, ": ");
    put(t, std::strerror(result.error));
  }
  if (!t.fits) return {last, std::errc::value_too_large};
  return {t.at, std::errc{}};
}

}  // namespace bitwords
