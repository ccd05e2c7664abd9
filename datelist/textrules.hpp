// The bytes of a date file as every path reads them: white space, which
// separates values, and digits. Internal to the library.
#pragma once

namespace bitwords::detail {

// White space as the C locale's isspace() has it.
constexpr bool isSpace(unsigned char c) noexcept {
  return c == ' ' || static_cast<unsigned char>(c - '\t') < 5;
}

constexpr bool isDigit(unsigned char c) noexcept {
  return static_cast<unsigned char>(c - '0') < 10;
}

}  // namespace bitwords::detail
