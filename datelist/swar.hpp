// SIMD within a register: eight bytes of text in one 64-bit word, for the
// portable path. Byte i of the text is byte i of the word counting from
// the low end, whatever the machine's byte order, so that the arithmetic
// below means the same everywhere. Internal to the library.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace bitwords::detail::swar {

// Every byte of the word set to b.
constexpr std::uint64_t broadcast(std::uint8_t b) noexcept {
  return 0x0101010101010101U * b;
}

// The eight bytes at p, byte i as byte i of the word counting from the low
// end; one load where the machine is little-endian, and a load and a byte
// swap where it is big-endian.
inline std::uint64_t loadLittle(const char* p) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Each byte less '0': digits become their values 0 to 9.
constexpr std::uint64_t digitValues(std::uint64_t text) noexcept {
  return text - broadcast('0');
}

// The top bit of each byte of `values` (from digitValues) that is not a
// digit's. A borrow of the subtraction can only leave a byte that is not a
// digit and reach the bytes after it, so the lowest set bit is exact.
constexpr std::uint64_t nonDigits(std::uint64_t values) noexcept {
  return (values | (values + broadcast(0x80 - 10))) & broadcast(0x80);
}

// The position of the lowest bit of nonDigits(): 8 * d + 7 where the text
// starts with d digits (0 to 7), 64 where it starts with eight.
constexpr unsigned firstNonDigit(std::uint64_t nonDigitBits) noexcept {
  return static_cast<unsigned>(std::countr_zero(nonDigitBits));
}

// How many digits start the text, 0 to 8, from firstNonDigit().
constexpr unsigned leadingDigits(unsigned first) noexcept {
  return first / 8;
}

// The number that the first digits (one to seven) of `values` (from
// digitValues) write in decimal, from firstNonDigit(). They are moved to
// the top bytes, the bytes below becoming leading zeros, then combined in
// pairs, fours and eights with three multiplications.
constexpr std::uint32_t decimalValue(std::uint64_t values, unsigned first) noexcept {
  // The move (by 64 - 8 * digits bits) and the first combination are one
  // multiplication: shifting the multiplier shifts the product.
  std::uint64_t v = (values * (std::uint64_t{10 * 256 + 1} << (71 - first))) >> 8;
  v = ((v & 0x00FF00FF00FF00FFU) * (100 * 65536 + 1)) >> 16;
  return static_cast<std::uint32_t>(((v & 0x0000FFFF0000FFFFU) * (10000 * 4294967296U + 1)) >> 32);
}

}  // namespace bitwords::detail::swar
