// The wide scan of the date file's commonest form: lines of one to eight
// digits, each ended by one line feed. It reads 32-byte windows with AVX2
// and converts eight values at a time; a machine without AVX2 (checked at
// run time) and every other form of text go to the parser's exact path.
// Internal to the parser.
#pragma once

#include <cstddef>

#include "datelist/datecodec.hpp"

namespace bitwords::detail {

// Where a wide scan stopped and what it took.
struct WideScan {
  const char* at;     // the first byte not taken: a token's start or white space
  std::size_t count;  // records written
  std::size_t lines;  // line feeds passed
};

// Records that a wide scan may write past those it reports, as scratch.
inline constexpr std::size_t wideScratch = 8;

// Takes the values of [at, end), which starts at a token or white space,
// for as long as each 32-byte window holds only digits and line feeds and
// each value has one to eight digits. Writes their records from out, which
// must have room for (end - at) / 2 + wideScratch records; the eight bytes
// after end must be readable. Call only where wideAvailable().
WideScan scanWide(const char* at, const char* end, Date* out) noexcept;

}  // namespace bitwords::detail
