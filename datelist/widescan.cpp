#include "datelist/widescan.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#define WIDE_TARGET __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace bitwords::detail {
namespace {

// Lines are gathered as 8-byte words, the token's digits moved to the top
// bytes (zeros before them, as leading zeros), and converted a batch at a
// time; a window of 64 bytes adds at most 32.
constexpr std::size_t batch = 64;
constexpr std::size_t maxPerWindow = 32;

// Converts eight gathered words to eight records at out.
WIDE_TARGET void convertEight(const std::uint64_t* words, Date* out) noexcept {
  const __m256i zero = _mm256_set1_epi8('0');
  // Digit bytes to their values; the zero bytes before a token stay zero.
  const __m256i a =
      _mm256_subs_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)), zero);
  const __m256i b =
      _mm256_subs_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 4)), zero);
  // Pairs of digits, then four-digit halves, then whole values.
  const __m256i tensOnes = _mm256_set1_epi16(0x010A);  // bytes 10, 1
  const __m256i hundredsOnes = _mm256_set1_epi32(0x00010064);
  const __m256i halves =
      _mm256_packus_epi32(_mm256_madd_epi16(_mm256_maddubs_epi16(a, tensOnes), hundredsOnes),
                          _mm256_madd_epi16(_mm256_maddubs_epi16(b, tensOnes), hundredsOnes));
  // Values in the order 0 1 4 5 | 2 3 6 7, from packing within lanes.
  const __m256i values = _mm256_madd_epi16(halves, _mm256_set1_epi32(0x00012710));  // 10000, 1

  // Each output vector takes the values of its records' fields, then
  // shifts and masks each field out in place: day, month, year, day, ...
  const __m256i shifts0 = _mm256_setr_epi32(15, 11, 0, 15, 11, 0, 15, 11);
  const __m256i shifts1 = _mm256_setr_epi32(0, 15, 11, 0, 15, 11, 0, 15);
  const __m256i shifts2 = _mm256_setr_epi32(11, 0, 15, 11, 0, 15, 11, 0);
  const __m256i masks0 = _mm256_setr_epi32(31, 15, 2047, 31, 15, 2047, 31, 15);
  const __m256i masks1 = _mm256_setr_epi32(2047, 31, 15, 2047, 31, 15, 2047, 31);
  const __m256i masks2 = _mm256_setr_epi32(15, 2047, 31, 15, 2047, 31, 15, 2047);
  // Record r's value sits at position 0 1 4 5 2 3 6 7.
  const __m256i pick0 = _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 4, 4);
  const __m256i pick1 = _mm256_setr_epi32(4, 5, 5, 5, 2, 2, 2, 3);
  const __m256i pick2 = _mm256_setr_epi32(3, 3, 6, 6, 6, 7, 7, 7);
  auto* to = reinterpret_cast<__m256i*>(out);
  const auto place = [&](__m256i pick, __m256i shifts, __m256i masks, int i) WIDE_TARGET {
    const __m256i fields = _mm256_and_si256(
        _mm256_srlv_epi32(_mm256_permutevar8x32_epi32(values, pick), shifts), masks);
    _mm256_storeu_si256(to + i, fields);
  };
  place(pick0, shifts0, masks0, 0);
  place(pick1, shifts1, masks1, 1);
  place(pick2, shifts2, masks2, 2);
}

static_assert(sizeof(Date) * 8 == 3 * sizeof(__m256i));

// Converts the n gathered words, in batches of eight; the last batch may
// write up to seven records of scratch past the n. Kept out of line, so
// that the window loop keeps its constants in registers.
[[gnu::noinline]] WIDE_TARGET void convert(const std::uint64_t* words, std::size_t n,
                                           Date* out) noexcept {
  for (std::size_t i = 0; i < n; i += 8) convertEight(words + i, out + i);
}

// The bytes of a 32-byte stretch that are digits, and those that are line
// feeds, as bit masks.
struct Classes {
  std::uint64_t plain;  // digits and line feeds
  std::uint64_t feeds;
};

WIDE_TARGET Classes classify(const char* at) noexcept {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i values = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
  const __m256i digits = _mm256_cmpeq_epi8(_mm256_min_epu8(values, _mm256_set1_epi8(9)), values);
  const __m256i feeds = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n'));
  return Classes{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(digits, feeds))),
                 static_cast<std::uint32_t>(_mm256_movemask_epi8(feeds))};
}

}  // namespace

WIDE_TARGET WideScan scanWide(const char* at, const char* end, Date* out) noexcept {
  // Room for a batch and the most that one window can add, and zeros past
  // them for the last batch's unused words.
  alignas(32) std::uint64_t words[batch + maxPerWindow + 8];
  std::size_t gathered = 0;
  std::size_t count = 0;
  std::size_t emptyLines = 0;
  const char* token = at;  // start of the token in progress
  for (const char* window = at; end - window >= 64; window += 64) {
    const Classes low = classify(window);
    const Classes high = classify(window + 32);
    if ((low.plain | high.plain << 32) != ~std::uint64_t{0}) break;
    std::uint64_t left = low.feeds | high.feeds << 32;
    for (; left != 0; left &= left - 1) {
      const char* const feed = window + __builtin_ctzll(left);
      // 64 - 8 * length: 0 to 56 for one to eight digits.
      const auto shift = static_cast<std::uint64_t>((token - feed) * 8 + 64);
      if (shift > 56) {
        if (shift != 64) break;  // longer than eight digits
        ++emptyLines;
        token = feed + 1;
        continue;
      }
      std::uint64_t word;
      std::memcpy(&word, token, sizeof word);
      words[gathered++] = word << shift;
      token = feed + 1;
    }
    if (left != 0 || gathered >= batch) {
      std::memset(words + gathered, 0, 8 * sizeof(std::uint64_t));
      convert(words, gathered, out + count);
      count += gathered;
      gathered = 0;
      if (left != 0) break;
    }
  }
  std::memset(words + gathered, 0, 8 * sizeof(std::uint64_t));
  convert(words, gathered, out + count);
  count += gathered;
  // Every line feed passed ended a value or an empty line.
  return WideScan{token, count, count + emptyLines};
}

}  // namespace bitwords::detail

#else

namespace bitwords::detail {

WideScan scanWide(const char* at, const char*, Date*) noexcept {
  return WideScan{at, 0, 0};
}

}  // namespace bitwords::detail

#endif
