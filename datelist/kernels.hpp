// The kernels of the parser's scan and of the listing, one file per code
// path (portable.cpp, avx2.cpp, avx512.cpp), each path's with the same
// interface, and the one choice of the path (path.cpp): made once, from
// what the processor and the operating system have, and changed only
// through usePath(). The build compiles a vector path's file only where it
// builds the path (x86-64, BITWORDS_SIMD on); the tests, fuzz targets and
// benchmarks run each path the machine can by choosing it. Internal to the
// library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"

namespace bitwords::detail {

// The code paths, from the plainest.
enum class Path : unsigned char { portable, avx2, avx512 };
inline constexpr Path allPaths[] = {Path::portable, Path::avx2, Path::avx512};

// Whether the build has the path's kernels.
#ifdef BITWORDS_AVX2
inline constexpr bool avx2Built = true;
#else
inline constexpr bool avx2Built = false;
#endif
#ifdef BITWORDS_AVX512
inline constexpr bool avx512Built = true;
#else
inline constexpr bool avx512Built = false;
#endif

// Whether this machine can run the path: the portable one always; the
// others where they are built, the processor has what they use (AVX2,
// BMI1, BMI2 and POPCNT; and for AVX-512, its F, BW, VL, VBMI and VBMI2 too)
// and the operating system saves the registers.
bool pathAvailable(Path path) noexcept;

// The path the parser and the listing take: the best this machine can run,
// unless usePath() chose another.
Path activePath() noexcept;

// Makes the parser and the listing take the path, where it is available
// (else the best), for the whole process; returns the path taken before.
Path usePath(Path path) noexcept;

// ---- The rules every path applies, from the field layout

// White space as the C locale's isspace() has it.
constexpr bool isSpace(unsigned char c) noexcept {
  return c == ' ' || static_cast<unsigned char>(c - '\t') < 5;
}

constexpr bool isDigit(unsigned char c) noexcept {
  return static_cast<unsigned char>(c - '0') < 10;
}

// A record the listing places from its tables: each field, less its offset
// (1 for the year, so that year 0 fails too), at most its limit, compared
// as unsigned numbers.
struct Listable {
  std::uint32_t offset;
  std::uint32_t limit;
};

constexpr Listable listableField(Field f) noexcept {
  const std::uint32_t offset = f.shift == yearField.shift ? 1 : 0;
  return {offset, fieldMask(f) - offset};
}

constexpr bool within(std::int32_t value, Field f) noexcept {
  return static_cast<std::uint32_t>(value) - listableField(f).offset <= listableField(f).limit;
}

// Where a listable record's "day/month/" text stands in the listing's table.
constexpr std::uint32_t dayMonthIndex(std::uint32_t day, std::uint32_t month) noexcept {
  return (day << monthField.width) + month;
}

// ---- The kernels: the same interface on every path

// Where a scan stopped and what it took.
struct Scanned {
  const char* at;       // the first byte not taken: a token's start or white space
  std::size_t count;    // records written
  std::uint64_t lines;  // line feeds passed
};

// Records that a scan may write past those it reports, as scratch.
inline constexpr std::size_t wideScratch = 8;

// Bytes before the text that a scan may read, and that must not be bytes
// of the same token.
inline constexpr std::size_t wideLookBehind = 8;

// The scans take the values of the common forms from `at`, which is at a
// token's start or white space, writing their records from out, and stop
// at a token of another form or near `end`: the portable one at a token
// that is not one to seven digits followed by white space, or at the seal
// at end; the vector ones before the first 64 bytes up to end that hold
// other bytes than digits and white space, or at a token of more than
// eight digits. The text is sealed at or past end by a byte that is
// neither (and 7 bytes more); out has room for (end - at) / 2 +
// wideScratch records; the wideLookBehind bytes before `at` are readable,
// and white space or text already taken.
Scanned scanPortable(const char* at, const char* end, Date* out) noexcept;
Scanned scanAvx2(const char* at, const char* end, Date* out) noexcept;
Scanned scanAvx512(const char* at, const char* end, Date* out) noexcept;

// The portable scan for a stretch after a vector scan, which hands the text
// back: it stops after the first value past `until` too.
Scanned scanPortableUntil(const char* at, const char* until, Date* out) noexcept;

// The listings list records from *next, at most n, while they are listable,
// at out: n records' texts fit before stop, with 14 bytes to spare. Each
// advances *next past the records listed and returns the text's end; the
// vector paths check records sixteen or eight at a time, and leave the
// last few to the portable one. None writes at or past stop.
char* listPortable(const Date** next, std::size_t n, char* out, const char* stop) noexcept;
char* listAvx2(const Date** next, std::size_t n, char* out, const char* stop) noexcept;
char* listAvx512(const Date** next, std::size_t n, char* out, const char* stop) noexcept;

// A path's scan and listing, as one record: the parser and the listing
// call the active path's through it.
struct Kernels {
  Scanned (*scan)(const char* at, const char* end, Date* out) noexcept;
  char* (*list)(const Date** next, std::size_t n, char* out, const char* stop) noexcept;
};

// The kernels of a path that this machine can run (pathAvailable()).
[[nodiscard]] const Kernels& kernelsOf(Path path) noexcept;

}  // namespace bitwords::detail
