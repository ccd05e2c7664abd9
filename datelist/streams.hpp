// A scan in two streams side by side, for a path whose every step waits on
// the step before it: the second stream starts at a white space byte in
// the text's middle, its records apart at first, and the two streams'
// steps overlap. The first runs on past the middle; its tokens there are
// the second's first, which are dropped as the second's records join it.
// Internal to the library; a vector kernel file includes it inside its
// target region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datelist/kernels.hpp"
#include "datelist/textrules.hpp"

namespace bitwords::detail {

// Where a stream of a scan is, and what it has taken.
struct Stream {
  const char* at;
  Date* to;
  std::uint64_t lines;
};

// Scans [at, end) by step(stream), which takes a stream one step on, or
// gives false, the stream as it was, where it stops; in two streams where
// the text has at least `least` bytes. Each stream writes at most half of
// wideScratch records past those it takes.
template <typename Step>
[[gnu::always_inline]] inline Scanned inTwoStreams(const char* at, const char* end, Date* out,
                                                   std::ptrdiff_t least, Step step) noexcept {
  Stream a{at, out, 0};
  const auto first = [&a, out] {
    return Scanned{a.at, static_cast<std::size_t>(a.to - out), a.lines};
  };
  const char* middle = at + (end - at) / 2;
  while (middle < end && !isSpace(static_cast<unsigned char>(*middle))) ++middle;
  if (end - at < least || end - middle < least / 2) {
    while (step(a)) {
    }
    return first();
  }
  Date* const second = out + (middle - at) / 2 + wideScratch / 2;
  Stream b{middle, second, 0};
  bool more = true;
  while (a.at < middle - 64 && more && step(a)) more = step(b);
  while (a.at < middle && step(a)) {
  }
  if (a.at < middle) return first();
  while (more) more = step(b);
  if (b.at <= a.at) return first();
  // The second's tokens and lines that the first took.
  std::size_t taken = 0;
  std::uint64_t lines = 0;
  for (const char* c = middle; c != a.at; ++c) {
    taken += isDigit(static_cast<unsigned char>(*c)) && !isDigit(static_cast<unsigned char>(c[-1]));
    lines += *c == '\n' ? 1U : 0U;
  }
  // Moved down in 64-byte pieces, which do not overlap: the first's
  // records end at least half of wideScratch records below the second's.
  const std::size_t joined = static_cast<std::size_t>(b.to - second) - taken;
  static_assert(wideScratch / 2 * sizeof(Date) >= 64);
  auto* const to = reinterpret_cast<char*>(a.to);
  const auto* const from = reinterpret_cast<const char*>(second + taken);
  for (std::size_t i = 0; i < joined * sizeof(Date); i += 64) std::memcpy(to + i, from + i, 64);
  return Scanned{b.at, static_cast<std::size_t>(a.to - out) + joined, a.lines + b.lines - lines};
}

}  // namespace bitwords::detail
