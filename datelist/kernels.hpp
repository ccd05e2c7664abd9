// The kernels of the parser's scan and of the listing, one file per code
// path (portable.cpp, avx2.cpp, avx512.cpp), each path's with this same
// interface; path.cpp holds each built path's. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"
#include "datelist/path.hpp"

namespace bitwords::detail {

// Where a scan stopped and what it took.
struct Scanned {
  const char* at;       // the first byte not taken: a token's start or white space
  std::size_t count;    // records written
  std::uint64_t lines;  // line feeds passed
};

// Records that a scan may write past those it reports, as scratch.
inline constexpr std::size_t wideScratch = 16;

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
// at out: n records' texts fit before stop, with placeReach (listing.hpp)
// bytes to spare. Each advances *next past the records listed and returns
// the text's end; the vector paths check records sixteen or eight at a
// time, and list the last few as the portable one does. None writes at or
// past stop.
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
