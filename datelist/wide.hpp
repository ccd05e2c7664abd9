// The wide path: AVX2 kernels for the parser's scan of the common forms
// and for the listing's check of records, and the one choice of the path
// that takes the common case: made once, from what the processor has, and
// changed only through usePath(). Every kernel has a portable counterpart
// beside its caller that gives the same results; the tests, fuzz targets
// and benchmarks run each path the machine can by choosing it. Built for
// x86-64 unless BITWORDS_SIMD is off (BITWORDS_NO_SIMD); elsewhere the
// portable path runs everywhere. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"

namespace bitwords::detail {

// The code paths, from the plainest.
enum class Path : unsigned char { portable, wide };
inline constexpr Path allPaths[] = {Path::portable, Path::wide};

// Whether this machine can run the path: the portable one always; the wide
// one where it is built (x86-64, BITWORDS_SIMD on) and the processor has
// AVX2, BMI1, BMI2 and POPCNT.
bool pathAvailable(Path path) noexcept;

// The path the parser and the listing take: the best this machine can run,
// unless usePath() chose another.
Path activePath() noexcept;

// Makes the parser and the listing take the path, which must be available,
// for the whole process; returns the path taken before.
Path usePath(Path path) noexcept;

// Where a wide scan stopped and what it took.
struct WideScan {
  const char* at;       // the first byte not taken: a token's start or white space
  std::size_t count;    // records written
  std::uint64_t lines;  // line feeds passed
};

// Records that a wide scan may write past those it reports, as scratch.
inline constexpr std::size_t wideScratch = 8;

// Bytes before the text that a wide scan may read, and that must not be
// bytes of the same token: the padding before a block.
inline constexpr std::size_t wideLookBehind = 8;

// Takes the values of [at, end), which starts at a token or white space,
// for as long as each 64-byte window holds only digits and white space and
// each token has at most eight digits (leading zeros included). Writes
// their records from out, which must have room for (end - at) / 2 +
// wideScratch records. The wideLookBehind bytes before `at` must be
// readable, and be white space or text already taken (digits, signs, white
// space). Call only where the wide path is available.
WideScan scanWide(const char* at, const char* end, Date* out) noexcept;

// How many of the n records from d, from the first, the listing may place
// from its tables (fields in range, year not 0), checked eight at a time:
// a multiple of eight, which the caller's own check goes on from. For each
// of them, writes day * 16 + month to dayMonth. Call only where the wide
// path is available.
std::size_t indexListableWide(const Date* d, std::size_t n, std::uint32_t* dayMonth) noexcept;

}  // namespace bitwords::detail
