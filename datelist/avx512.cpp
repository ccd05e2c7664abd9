// The AVX-512 kernels: the scan of the common forms and the listing,
// compiled for AVX-512 F, BW, VL, VBMI and VBMI2 (and BMI1, BMI2, POPCNT).
//
// The scan takes a 64-byte window a step: it finds every token's start and
// end at once (vpcompressb of the byte numbers), gathers each of up to
// eight tokens' digits into an 8-byte lane of its own (a masked vpermb),
// converts the eight with two multiply-adds and one multiply, and places
// eight records with a permute, a shift and a mask per field.
//
// The listing takes sixteen records a step: it checks their fields, looks
// up the text of each day and month, and of each year, in tables of
// 8-byte words padded with zeros (gathers), and packs the texts' bytes,
// the non-zero ones, together (vpcompressb).
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "datelist/kernels.hpp"
#include "datelist/lanes.hpp"
#include "datelist/listing.hpp"

// GCC 12 takes the intrinsics' own _mm512_undefined_*() for a read of an
// uninitialised value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

BITWORDS_TARGET_BEGIN("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")

// (Inside the region, so that its streams take this file's steps inline.)
#include "datelist/streams.hpp"

namespace bitwords::detail {
namespace {

// ---- Constants, made at compile time

using lanes::Bytes;
using lanes::Dwords;

// The byte numbers of a window.
constexpr auto byteNumbers = Bytes<64>::by([](std::size_t i) { return i; });
// For the eight 8-byte lanes of a token gather: the lane's token, and the
// byte's place from the token's last byte (-7 to 0).
constexpr auto laneToken = Bytes<64>::by([](std::size_t i) { return i / 8; });
constexpr auto fromLast = Bytes<64>::by([](std::size_t i) { return static_cast<int>(i % 8) - 7; });
// The low words of the two dwords of each 64-bit lane, side by side in its
// first dword.
constexpr auto fourWords = Bytes<64>::by([](std::size_t i) {
  constexpr std::size_t from[8] = {0, 1, 4, 5, 0, 0, 0, 0};
  return i / 8 * 8 + from[i % 8];
});
[[gnu::always_inline]] inline __m512i vectorOf(const Bytes<64>& bytes) noexcept {
  return _mm512_load_si512(bytes.of);
}

// Sixteen records in three vectors of dwords, and eight in the first two
// of them.
[[gnu::always_inline]] inline __m512i vectorOf(const Dwords<48>& lanes, int part) noexcept {
  return _mm512_load_si512(lanes.of + std::ptrdiff_t{16} * part);
}

// Placing eight values as records: the value each lane takes.
constexpr auto recordOf = Dwords<48>::by([](std::size_t i) { return 2 * (i / 3); });
// Gathering one field of sixteen records from the three vectors, in the
// order 0 4 1 5 2 6 3 7, 8 12 9 13 ... (so that the text words of each half
// unpack as 0 1 2 3 and 4 5 6 7): its place among the first two (0 to 31),
// then, where it is in the last one, 16 and its place there (32 to 47,
// less 32), else the lane itself.
constexpr int listOrder(int i) noexcept {
  return i / 8 * 8 + i % 2 * 4 + i % 8 / 2;
}
template <int field>
constexpr auto fieldInFirstTwo = Dwords<48>::by([](std::size_t i) {
  return (3 * listOrder(static_cast<int>(i % 16)) + field) % 32;
});
template <int field>
constexpr auto fieldInLast = Dwords<48>::by([](std::size_t i) {
  const int at = 3 * listOrder(static_cast<int>(i % 16)) + field;
  return at >= 32 ? 16 + at - 32 : static_cast<int>(i % 16);
});

// ---- The scan

// The values of eight tokens, each the digit values of one to eight digits
// in the top bytes of a 64-bit lane, with zeros below: in the lane's low
// dword.
[[gnu::always_inline]] inline __m512i valuesOf(__m512i digits) noexcept {
  // Pairs (10 d0 + d1), then fours (100 p0 + p1): the first four digits in
  // the lane's low dword, the last four in its high one; their low words
  // side by side, then the whole (10000 f0 + f1).
  const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x010A));
  const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
  const __m512i side = _mm512_permutexvar_epi8(vectorOf(fourWords), fours);
  return _mm512_madd_epi16(side, _mm512_set1_epi32(0x00012710));
}

// The records of eight values (each in the low dword of a 64-bit lane), at
// out: each lane takes its record's value, then shifts and masks its field
// out.
[[gnu::always_inline]] inline void storeRecords(__m512i values, Date* out) noexcept {
  const auto part = [&](int i) {
    return _mm512_and_si512(
        _mm512_srlv_epi32(_mm512_permutexvar_epi32(vectorOf(recordOf, i), values),
                          vectorOf(lanes::shifts<48>, i)),
        vectorOf(lanes::masks<48>, i));
  };
  static_assert(sizeof(Date) * 8 == 64 + 32);
  _mm512_storeu_si512(out, part(0));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(reinterpret_cast<char*>(out) + 64),
                      _mm512_castsi512_si256(part(1)));
}

}  // namespace

Scanned scanAvx512(const char* const at, const char* const end, Date* const out) noexcept {
  if (end - at < 64) return Scanned{at, 0, 0};
  // The constants, in registers for the whole loop: opaque to the compiler,
  // which would otherwise build them again in every turn.
  __m512i zeroDigit = vectorOf(lanes::splat<64, '0'>);
  __m512i ten = vectorOf(lanes::splat<64, 10>);
  __m512i lineFeed = vectorOf(lanes::splat<64, '\n'>);
  __m512i spaceTable = vectorOf(lanes::spaces<64>);
  __m512i numbers = vectorOf(byteNumbers);
  __m512i tokenOfLane = vectorOf(laneToken);
  __m512i fromLastByte = vectorOf(fromLast);
  std::uint64_t eightTokens = 0x80;
  asm(""
      : "+v"(zeroDigit), "+v"(ten), "+v"(lineFeed), "+v"(spaceTable), "+v"(numbers),
        "+v"(tokenOfLane), "+v"(fromLastByte), "+r"(eightTokens));
  // Only the first byte of each lane: where a token of more than eight
  // digits shows.
  const __mmask64 laneFirstBytes = _cvtu64_mask64(0x0101010101010101);
  // One window's step of a stream: false, with the stream as it was, where
  // it stops.
  const char* const lastWindow = end - 64;
  const auto step = [=](Stream& stream) noexcept {
    if (stream.at > lastWindow) return false;
    const char*& w = stream.at;
    Date*& to = stream.to;
    std::uint64_t& lines = stream.lines;
    const __m512i text = _mm512_loadu_si512(w);
    const __m512i values = _mm512_sub_epi8(text, zeroDigit);
    const __mmask64 digitMask = _mm512_cmplt_epu8_mask(values, ten);
    const __mmask64 spaceMask = _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(spaceTable, text), text);
    // Only digits and white space.
    if (_kortestc_mask64_u8(digitMask, spaceMask) == 0) return false;
    // Tokens that end before the window's last byte, white space after
    // them, and where tokens start: w is at white space or a token's start.
    const std::uint64_t digits = _cvtmask64_u64(digitMask);
    const std::uint64_t ends =
        _cvtmask64_u64(_kand_mask64(digitMask, _kshiftri_mask64(spaceMask, 1)));
    const std::uint64_t starts = digits & ~(digits << 1);
    // The first eight tokens, or all where there are fewer: the bytes up to
    // the last one's end. The window is taken up to the next token's
    // start, or whole; where that is its first byte, one token fills it,
    // which may be longer than the scan takes.
    const std::uint64_t eighth = _pdep_u64(eightTokens, ends);
    std::uint64_t tokens = _blsmsk_u64(eighth);
    if (eighth == 0) [[unlikely]] {
      tokens = ends == 0 ? 0 : ~std::uint64_t{0} >> std::countl_zero(ends);
    }
    const auto taken = static_cast<unsigned>(_tzcnt_u64(starts & ~tokens));
    if (tokens == 0) [[unlikely]] {
      if (taken == 0) return false;
    } else {
      const __m512i lastAt = _mm512_maskz_compress_epi8(_cvtu64_mask64(ends & tokens), numbers);
      const __m512i firstAt = _mm512_maskz_compress_epi8(_cvtu64_mask64(starts & tokens), numbers);
      // Lane i, byte j: token i's byte at its last less 7 - j, where that
      // is in the token; zero before it. A token of more than eight digits
      // has digits before its lane, and goes to the portable scan.
      const __m512i lastOfLane = _mm512_permutexvar_epi8(tokenOfLane, lastAt);
      const __m512i firstOfLane = _mm512_permutexvar_epi8(tokenOfLane, firstAt);
      const __m512i from = _mm512_add_epi8(lastOfLane, fromLastByte);
      if (_mm512_mask_cmpgt_epi8_mask(laneFirstBytes, from, firstOfLane) != 0) return false;
      const __m512i digitsOfLane =
          _mm512_maskz_permutexvar_epi8(_mm512_cmpge_epi8_mask(from, firstOfLane), from, values);
      storeRecords(valuesOf(digitsOfLane), to);
      to += std::popcount(ends & tokens);
    }
    const std::uint64_t feeds = _cvtmask64_u64(_mm512_cmpeq_epi8_mask(text, lineFeed));
    lines += static_cast<std::uint64_t>(std::popcount(_bzhi_u64(feeds, taken)));
    w += taken;
    return true;
  };
  return inTwoStreams(at, end, out, 512, step);
}

// ---- The listing

char* listAvx512(const Date** next, std::size_t n, char* out, const char* stop) noexcept {
  static_assert(sizeof(Date) * 16 == std::size_t{3} * 64);
  // Sixteen records' text, written as four stretches of 64 bytes of four
  // records each, the last starting at most twelve records' text in: the
  // steps that surely have room.
  constexpr std::size_t text = 16 * maxListableText;
  constexpr std::size_t reach = 12 * maxListableText + 64;
  const auto room = static_cast<std::size_t>(stop - out);
  std::size_t steps = std::min(n / 16, room < reach ? 0 : (room - reach) / text + 1);
  const Date* const first = *next;
  const Date* d = first;
  for (; steps != 0; --steps, d += 16) {
    const auto* records = reinterpret_cast<const char*>(d);
    const __m512i part[3] = {_mm512_loadu_si512(records), _mm512_loadu_si512(records + 64),
                             _mm512_loadu_si512(records + 128)};
    const auto field = [&](auto which) {
      constexpr int f = decltype(which)::value;
      const __m512i firstTwo =
          _mm512_permutex2var_epi32(part[0], vectorOf(fieldInFirstTwo<f>, 0), part[1]);
      return _mm512_permutex2var_epi32(firstTwo, vectorOf(fieldInLast<f>, 0), part[2]);
    };
    const __m512i day = field(std::integral_constant<int, 0>{});
    const __m512i month = field(std::integral_constant<int, 1>{});
    const __m512i year = field(std::integral_constant<int, 2>{});
    // Each field less its offset at most its limit, as unsigned numbers.
    const auto within = [](__mmask16 so_far, __m512i x, Field f) {
      const Listable l = listableField(f);
      return _mm512_mask_cmple_epu32_mask(
          so_far, _mm512_sub_epi32(x, _mm512_set1_epi32(static_cast<int>(l.offset))),
          _mm512_set1_epi32(static_cast<int>(l.limit)));
    };
    const __mmask16 listable =
        within(within(within(0xFFFF, day, dayField), month, monthField), year, yearField);
    if (_kortestc_mask16_u8(listable, listable) == 0) break;
    const __m512i dayMonth = _mm512_add_epi32(_mm512_slli_epi32(day, monthField.width), month);
    // (Unoptimised, GCC 12's gathers are macros that convert their mask
    // with a sign.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
    const __m512i dmLow =
        _mm512_i32gather_epi64(_mm512_castsi512_si256(dayMonth), dayMonthTexts.text, 8);
    const __m512i dmHigh =
        _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(dayMonth, 1), dayMonthTexts.text, 8);
    const __m512i yearLow = _mm512_i32gather_epi64(_mm512_castsi512_si256(year), yearTexts.text, 8);
    const __m512i yearHigh =
        _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(year, 1), yearTexts.text, 8);
#pragma GCC diagnostic pop
    // Four records' texts a vector, each as its two words in the line's
    // order, packed together.
    const __m512i headLow = yearFirst ? yearLow : dmLow;
    const __m512i tailLow = yearFirst ? dmLow : yearLow;
    const __m512i headHigh = yearFirst ? yearHigh : dmHigh;
    const __m512i tailHigh = yearFirst ? dmHigh : yearHigh;
    const __m512i texts[4] = {
        _mm512_unpacklo_epi64(headLow, tailLow), _mm512_unpackhi_epi64(headLow, tailLow),
        _mm512_unpacklo_epi64(headHigh, tailHigh), _mm512_unpackhi_epi64(headHigh, tailHigh)};
    for (const __m512i t : texts) {
      const __mmask64 bytes = _mm512_test_epi8_mask(t, t);
      _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(bytes, t));
      out += std::popcount(_cvtmask64_u64(bytes));
    }
  }
  *next = d;
  return listPortable(next, n - static_cast<std::size_t>(d - first), out, stop);
}

}  // namespace bitwords::detail

BITWORDS_TARGET_END
