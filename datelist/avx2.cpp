// The AVX2 kernels: the scan of the common forms and the listing, in one
// target region for AVX2, BMI1, BMI2 and POPCNT.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "datelist/kernels.hpp"
#include "datelist/lanes.hpp"
#include "datelist/listing.hpp"
#include "datelist/textrules.hpp"

BITWORDS_TARGET_BEGIN("avx2,bmi,bmi2,popcnt")

namespace bitwords::detail {
namespace {

static_assert(sizeof(Date) * 8 == 3 * sizeof(__m256i));

// Three vectors of eight records: vector v's lanes are lanes 8 v to 8 v + 7
// of the records.
[[gnu::always_inline]] inline __m256i vectorOf(const lanes::Dwords<24>& lanes, int v) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.of + std::ptrdiff_t{8} * v));
}

[[gnu::always_inline]] inline __m256i vectorOf(const lanes::Bytes<32>& bytes) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes.of));
}

// Converts eight tokens, each the digit values of one to eight digits in
// a 64-bit lane, the last digit in the lowest byte, with zeros above, to
// eight records at out.
[[gnu::always_inline]] inline void convertEight(__m256i a, __m256i b, Date* out) noexcept {
  // Pairs of digits, then four-digit halves, then whole values.
  const __m256i onesTens = _mm256_set1_epi16(0x0A01);  // bytes 1, 10
  const __m256i onesHundreds = _mm256_set1_epi32(0x00640001);
  const __m256i halves =
      _mm256_packus_epi32(_mm256_madd_epi16(_mm256_maddubs_epi16(a, onesTens), onesHundreds),
                          _mm256_madd_epi16(_mm256_maddubs_epi16(b, onesTens), onesHundreds));
  // Values in the order 0 1 4 5 | 2 3 6 7, from packing within lanes.
  const __m256i values = _mm256_madd_epi16(halves, _mm256_set1_epi32(0x27100001));  // 1, 10000

  // Each output vector takes the values of its records' fields, then
  // shifts and masks each field out in place. Record r's value sits at
  // position 0 1 4 5 2 3 6 7.
  const __m256i picks[3] = {_mm256_setr_epi32(0, 0, 0, 1, 1, 1, 4, 4),
                            _mm256_setr_epi32(4, 5, 5, 5, 2, 2, 2, 3),
                            _mm256_setr_epi32(3, 3, 6, 6, 6, 7, 7, 7)};
  auto* to = reinterpret_cast<__m256i*>(out);
  for (int v = 0; v < 3; ++v) {
    const __m256i fields =
        _mm256_and_si256(_mm256_srlv_epi32(_mm256_permutevar8x32_epi32(values, picks[v]),
                                           vectorOf(lanes::shifts<24>, v)),
                         vectorOf(lanes::masks<24>, v));
    _mm256_storeu_si256(to + v, fields);
  }
}

// The 64 bytes of a window: its digits as a bit mask, and whether all of
// its bytes are digits or white space (space, \t, \n, \v, \f, \r).
struct Window {
  std::uint64_t digits;
  bool plain;  // every byte a digit or white space
};

[[gnu::always_inline]] inline Window classify(__m256i lo, __m256i hi) noexcept {
  const __m256i spaces = vectorOf(lanes::spaces<32>);
  const __m256i zeroDigit = vectorOf(lanes::splat<32, '0'>);
  const __m256i nine = vectorOf(lanes::splat<32, 9>);
  const auto digitsOf = [&](__m256i x) {
    const __m256i values = _mm256_sub_epi8(x, zeroDigit);
    return _mm256_cmpeq_epi8(_mm256_min_epu8(values, nine), values);
  };
  const __m256i dLo = digitsOf(lo);
  const __m256i dHi = digitsOf(hi);
  const __m256i pLo = _mm256_or_si256(dLo, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(spaces, lo), lo));
  const __m256i pHi = _mm256_or_si256(dHi, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(spaces, hi), hi));
  const auto bits = [](__m256i x) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(x)));
  };
  // Whether every byte is plain, from both halves at once.
  return Window{bits(dLo) | bits(dHi) << 32,
                _mm256_movemask_epi8(_mm256_and_si256(pLo, pHi)) == -1};
}

// The digit values of the token ending at each of eight positions (offsets
// from `text`), gathered as the eight bytes that end there and turned
// round, so that each lane holds the last digit in its lowest byte: the
// bytes from the first one that is not a digit up belong to other tokens
// or are white space, and become zeros. Lanes whose eight bytes are all
// digits are set in `full`.
struct Gathered {
  __m256i lo;
  __m256i hi;
  int full;  // a bit per lane, from lo's four to hi's four
};

[[gnu::always_inline]] inline Gathered gatherEight(const char* text,
                                                   const std::uint32_t* ends) noexcept {
  const __m256i offsets = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ends));
  const auto* base = reinterpret_cast<const long long*>(text - 7);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i zeroDigit = vectorOf(lanes::splat<32, '0'>);
  const __m256i turn = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                        5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  const auto clean = [&](__m256i gathered, __m256i& fullLanes) {
    const __m256i x = _mm256_shuffle_epi8(gathered, turn);
    // Below '0': white space, or what came before the text (taken
    // already: white space, digits, signs). The lowest such byte and all
    // above it, by x | -x of the lane.
    const __m256i other = _mm256_cmpgt_epi8(zeroDigit, x);
    fullLanes = _mm256_cmpeq_epi64(other, zero);
    return _mm256_andnot_si256(_mm256_or_si256(other, _mm256_sub_epi64(zero, other)),
                               _mm256_sub_epi8(x, zeroDigit));
  };
  __m256i fullLo;
  __m256i fullHi;
  const __m256i lo =
      clean(_mm256_i32gather_epi64(base, _mm256_castsi256_si128(offsets), 1), fullLo);
  const __m256i hi =
      clean(_mm256_i32gather_epi64(base, _mm256_extracti128_si256(offsets, 1), 1), fullHi);
  const int full = _mm256_movemask_pd(_mm256_castsi256_pd(fullLo)) |
                   _mm256_movemask_pd(_mm256_castsi256_pd(fullHi)) << 4;
  return Gathered{lo, hi, full};
}

// Converts the tokens ending at the n offsets `ends` from `at` (n a
// multiple of eight, the last of them scratch where fewer are real) to
// records at out; returns the records converted, fewer than `real` where
// a token of more than eight digits stops it, whose start is then in
// *longToken. Apart from the window loop, so that each loop keeps its
// constants in registers.
[[gnu::noinline]] std::size_t convertTokens(const char* at, const std::uint32_t* ends,
                                            std::size_t n, std::size_t real, Date* out,
                                            const char** longToken) noexcept {
  for (std::size_t i = 0; i < n; i += 8) {
    const Gathered g = gatherEight(at, ends + i);
    convertEight(g.lo, g.hi, out + i);
    // A lane of eight digits is a real token's whole, or the end of a longer
    // one: the first such is taken by the portable scan from its start.
    for (int full = g.full; full != 0; full &= full - 1) {
      const std::size_t lane =
          i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(full)));
      const char* start = at + ends[lane] - 8;
      if (lane < real && isDigit(static_cast<unsigned char>(*start))) {
        while (start > at && isDigit(static_cast<unsigned char>(start[-1]))) --start;
        *longToken = start;
        return lane;
      }
    }
  }
  return real;
}

// The state of a wide scan between runs of windows.
struct Scan {
  const char* w;          // the next window
  std::uint32_t* endsTo;  // past the token ends found
  std::uint64_t carry;    // whether the byte before w is a digit: a token may end there
  __m256i lines;          // line feeds passed, in four 64-bit lanes
};

// The most windows scanWindows takes in one call: each byte lane of its
// count of line feeds gains at most 2 a window.
constexpr std::size_t windowsPerRun = 64;
static_assert(2 * windowsPerRun <= 255);

// Takes the windows from s.w while they hold only digits and white space,
// up to runEnd (at most windowsPerRun windows on), noting the ends of their
// tokens as offsets from `at`.
[[gnu::always_inline]] inline void scanWindows(const char* at, const char* runEnd,
                                               Scan& s) noexcept {
  const __m256i lineFeed = vectorOf(lanes::splat<32, '\n'>);
  const __m256i zero = _mm256_setzero_si256();
  // Line feeds, counted in each byte lane, then added up once.
  __m256i feeds = zero;
  for (; runEnd - s.w >= 64; s.w += 64) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.w));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.w + 32));
    const Window window = classify(lo, hi);
    if (!window.plain) break;
    feeds = _mm256_sub_epi8(_mm256_sub_epi8(feeds, _mm256_cmpeq_epi8(lo, lineFeed)),
                            _mm256_cmpeq_epi8(hi, lineFeed));
    const auto offset = static_cast<std::uint32_t>(s.w - at);
    // A token that ended at the last byte of the window before.
    *s.endsTo = offset - 1;
    s.endsTo += s.carry & ~window.digits & 1;
    // Tokens that end in this window before its last byte, which may be
    // followed by a digit of the next.
    std::uint64_t tokenEnds = window.digits & ~(window.digits >> 1) & (~std::uint64_t{0} >> 1);
    s.carry = window.digits >> 63;
    // Two a turn: the second of the last turn may be none (an offset
    // past the window, from tzcnt of 0), a scratch entry that the next
    // window's overwrites.
    std::uint32_t* const endsTo = s.endsTo + _mm_popcnt_u64(tokenEnds);
    while (tokenEnds != 0) {
      const std::uint64_t second = _blsr_u64(tokenEnds);
      const std::uint64_t rest = _blsr_u64(second);
      s.endsTo[0] = offset + static_cast<std::uint32_t>(_tzcnt_u64(tokenEnds));
      s.endsTo[1] = offset + static_cast<std::uint32_t>(_tzcnt_u64(second));
      s.endsTo += 2;
      tokenEnds = rest;
    }
    s.endsTo = endsTo;
  }
  s.lines = _mm256_add_epi64(s.lines, _mm256_sad_epu8(feeds, zero));
}

}  // namespace

Scanned scanAvx2(const char* const at, const char* const end, Date* const out) noexcept {
  // The ends of the tokens of up to `run` windows (at most 33 each, and a
  // scratch entry), as offsets from `at`, and those left over from the run
  // before (fewer than eight).
  constexpr std::size_t run = windowsPerRun;
  std::uint32_t ends[8 + run * 33 + 8];
  Scan s{at, ends, 0, _mm256_setzero_si256()};
  Date* to = out;
  const char* longToken = nullptr;  // where a token too long for the wide scan starts
  for (bool more = true; more && longToken == nullptr;) {
    const char* const runEnd =
        end - s.w >= static_cast<std::ptrdiff_t>(64 * run) ? s.w + 64 * run : end;
    scanWindows(at, runEnd, s);
    // The run ends early at a window of other bytes, or at the text's last
    // window: then every token found is converted, the last batch's
    // unused lanes pointing at its last token and written as scratch.
    more = s.w == runEnd && end - s.w >= 64;
    const auto found = static_cast<std::size_t>(s.endsTo - ends);
    std::size_t batches = found & ~std::size_t{7};
    if (!more && found != batches) {
      batches += 8;
      std::fill(s.endsTo, ends + batches, s.endsTo[-1]);
    }
    const std::size_t real = more ? batches : found;
    to += convertTokens(at, ends, batches, real, to, &longToken);
    // The few left go to the front.
    s.endsTo = std::copy(ends + real, ends + found, ends);
  }
  // The scan stops at the start of a token too long for it (and counts
  // line feeds again up to it), or at the end of the last window taken,
  // or at the start of a token that runs on past it.
  if (longToken != nullptr) {
    return Scanned{longToken, static_cast<std::size_t>(to - out),
                   static_cast<std::uint64_t>(std::count(at, longToken, '\n'))};
  }
  const char* stop = s.w;
  while (s.carry != 0 && stop > at && isDigit(static_cast<unsigned char>(stop[-1]))) --stop;
  alignas(32) std::uint64_t parts[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts), s.lines);
  return Scanned{stop, static_cast<std::size_t>(to - out),
                 parts[0] + parts[1] + parts[2] + parts[3]};
}

char* listAvx2(const Date** next, std::size_t n, char* out, const char* stop) noexcept {
  static_assert(offsetof(Date, day) == 0 && offsetof(Date, month) == 4 &&
                offsetof(Date, year) == 8);
  const Date* d = *next;
  for (; n >= 8; n -= 8, d += 8) {
    // Each field less its offset at most its limit, as unsigned numbers, in
    // the records' own layout.
    __m256i ok = _mm256_set1_epi32(-1);
    for (int i = 0; i < 3; ++i) {
      const __m256i x =
          _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d) + i),
                           vectorOf(lanes::offsets<24>, i));
      ok = _mm256_and_si256(
          ok, _mm256_cmpeq_epi32(_mm256_min_epu32(x, vectorOf(lanes::limits<24>, i)), x));
    }
    if (_mm256_movemask_epi8(ok) != -1) break;
    for (const Date* r = d; r != d + 8; ++r) {
      out = placeFields(
          out,
          dayMonthIndex(static_cast<std::uint32_t>(r->day), static_cast<std::uint32_t>(r->month)),
          static_cast<std::uint32_t>(r->year));
    }
  }
  *next = d;
  return listPortable(next, n, out, stop);
}

}  // namespace bitwords::detail

BITWORDS_TARGET_END
