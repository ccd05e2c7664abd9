// The vector kernels of the parser's scan of the common forms and of the
// listing, one file per instruction set (avx2.cpp, avx512.cpp), and the one
// choice of the path that takes the common case (path.cpp): made once,
// from what the processor and the operating system have, and changed only
// through usePath(). Every kernel has a portable counterpart beside its
// caller that gives the same results; the tests, fuzz targets and
// benchmarks run each path the machine can by choosing it. Built for
// x86-64 unless BITWORDS_SIMD is off (BITWORDS_NO_SIMD); elsewhere the
// portable path runs everywhere. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"

namespace bitwords::detail {

// The code paths, from the plainest.
enum class Path : unsigned char { portable, avx2, avx512 };
inline constexpr Path allPaths[] = {Path::portable, Path::avx2, Path::avx512};

// Whether this machine can run the path: the portable one always; the
// others where they are built (x86-64, BITWORDS_SIMD on), the processor has
// what they use (AVX2, BMI1, BMI2 and POPCNT; and for AVX-512, its F, BW,
// VL, VBMI and VBMI2 too) and the operating system saves the registers.
bool pathAvailable(Path path) noexcept;

// The path the parser and the listing take: the best this machine can run,
// unless usePath() chose another.
Path activePath() noexcept;

// Makes the parser and the listing take the path, where it is available
// (else the best), for the whole process; returns the path taken before.
Path usePath(Path path) noexcept;

// Where a scan of a vector path stopped and what it took.
struct WideScan {
  const char* at;       // the first byte not taken: a token's start or white space
  std::size_t count;    // records written
  std::uint64_t lines;  // line feeds passed
};

// Records that a scan may write past those it reports, as scratch.
inline constexpr std::size_t wideScratch = 8;

// Bytes before the text that a scan may read, and that must not be bytes
// of the same token: the padding before a block.
inline constexpr std::size_t wideLookBehind = 8;

// Take the values of [at, end), which starts at a token or white space, for
// as long as each 64-byte window holds only digits and white space and
// each token has at most eight digits (leading zeros included). They write
// their records from out, which must have room for (end - at) / 2 +
// wideScratch records. The wideLookBehind bytes before `at` must be
// readable, and be white space or text already taken (digits, signs, white
// space). Call each only where its path is available.
WideScan scanAvx2(const char* at, const char* end, Date* out) noexcept;
WideScan scanAvx512(const char* at, const char* end, Date* out) noexcept;

// How many of the n records from d, from the first, the listing may place
// from its tables (fields in range, year not 0), checked eight at a time:
// a multiple of eight, which the caller's own check goes on from. For each
// of them, writes day * 16 + month to dayMonth. Call only where the AVX2
// path is available.
std::size_t indexListableAvx2(const Date* d, std::size_t n, std::uint32_t* dayMonth) noexcept;

// Lists records from *next, at most n of them, sixteen at a time while all
// sixteen may be placed from the tables and room for them is left before
// stop, at `out`; advances *next past them and returns the text's end. The
// tables hold the text of each day * 16 + month ("25/12/") and each year
// ("2018\n") in a word of 8 bytes in memory order, padded with zeros. It
// writes whole 64-byte stretches, none past stop. Call only where the
// AVX-512 path is available.
char* listAvx512(const Date** next, std::size_t n, char* out, const char* stop,
                 const std::uint64_t* dayMonthTexts, const std::uint64_t* yearTexts) noexcept;

}  // namespace bitwords::detail
