// What the vector kernels share, made at compile time from the field
// layout and the rules of kernels.hpp: a number per dword lane of records
// as they lie in memory (lane i holds field i % 3 of record i / 3), a byte
// per byte lane, the white-space lookup; and the markers of a kernel
// file's one target region. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"
#include "datelist/listing.hpp"
#include "datelist/textrules.hpp"

// Everything between the markers is compiled for the instruction sets
// named, and runs only where pathAvailable() says the processor has them.
#define BITWORDS_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define BITWORDS_TARGET_BEGIN(features) \
  BITWORDS_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define BITWORDS_TARGET_END BITWORDS_PRAGMA(clang attribute pop)
#else
#define BITWORDS_TARGET_BEGIN(features) \
  BITWORDS_PRAGMA(GCC push_options) BITWORDS_PRAGMA(GCC target(features))
#define BITWORDS_TARGET_END BITWORDS_PRAGMA(GCC pop_options)
#endif

namespace bitwords::detail::lanes {

constexpr Field fieldOf(std::size_t lane) noexcept {
  constexpr Field fields[3] = {dayField, monthField, yearField};
  return fields[lane % 3];
}

// A number per lane, kept in memory, so that the compiler reads it where
// it is used rather than building it again in a register; by(of) makes
// lane i of(i).
template <typename T, std::size_t N>
struct alignas(64) Lanes {
  T of[N];
  template <typename Of>
  static constexpr Lanes by(Of of) noexcept {
    Lanes lanes{};
    for (std::size_t i = 0; i < N; ++i) lanes.of[i] = static_cast<T>(of(i));
    return lanes;
  }
};
template <std::size_t N>
using Dwords = Lanes<std::int32_t, N>;
template <std::size_t N>
using Bytes = Lanes<std::int8_t, N>;

// Per lane of records: the shift and mask of its field, and the listable
// check's offset and limit.
template <std::size_t N>
inline constexpr Dwords<N> shifts = Dwords<N>::by([](std::size_t i) { return fieldOf(i).shift; });
template <std::size_t N>
inline constexpr Dwords<N> masks = Dwords<N>::by([](std::size_t i) {
  return fieldMask(fieldOf(i));
});
template <std::size_t N>
inline constexpr Dwords<N> offsets = Dwords<N>::by([](std::size_t i) {
  return listableField(fieldOf(i)).offset;
});
template <std::size_t N>
inline constexpr Dwords<N> limits = Dwords<N>::by([](std::size_t i) {
  return listableField(fieldOf(i)).limit;
});

template <std::size_t N, int B>
inline constexpr Bytes<N> splat = Bytes<N>::by([](std::size_t) { return B; });

// White space by a lookup on a byte's low four bits (a byte shuffle, which
// gives 0 for bytes of 0x80 and above): a byte is white space where the
// table gives the byte itself back.
constexpr int spaceWithLowBits(std::size_t low) noexcept {
  for (int c = 1; c < 0x80; ++c) {
    if (isSpace(static_cast<unsigned char>(c)) && static_cast<std::size_t>(c & 15) == low) return c;
  }
  return 0;
}
template <std::size_t N>
inline constexpr Bytes<N> spaces = Bytes<N>::by([](std::size_t i) {
  return spaceWithLowBits(i % 16);
});
static_assert([] {
  for (int c = 0; c < 256; ++c) {
    const int looked = c >= 0x80 ? 0 : spaceWithLowBits(static_cast<std::size_t>(c & 15));
    if ((looked == c) != isSpace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}());

}  // namespace bitwords::detail::lanes
