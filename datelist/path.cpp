// The one choice of the code path: what the processor has, asked of it
// once (cpuid), and whether the operating system saves the registers that
// the path uses (xgetbv).
#include <atomic>

#include "datelist/kernels.hpp"

#if defined(__x86_64__) && !defined(BITWORDS_NO_SIMD)
#include <cpuid.h>
#endif

namespace bitwords::detail {
namespace {

#if defined(__x86_64__) && !defined(BITWORDS_NO_SIMD)

// Feature bits of cpuid leaves 1 (ecx) and 7 (ebx, ecx).
constexpr unsigned popcntBit = 1U << 23;  // leaf 1, ecx
constexpr unsigned osxsaveBit = 1U << 27;
constexpr unsigned avxBit = 1U << 28;
constexpr unsigned bmi1Bit = 1U << 3;  // leaf 7, ebx
constexpr unsigned avx2Bit = 1U << 5;
constexpr unsigned bmi2Bit = 1U << 8;
#ifndef BITWORDS_NO_AVX512
constexpr unsigned avx512fBit = 1U << 16;
constexpr unsigned avx512bwBit = 1U << 30;
constexpr unsigned avx512vlBit = 1U << 31;
constexpr unsigned avx512vbmiBit = 1U << 1;  // leaf 7, ecx
constexpr unsigned avx512vbmi2Bit = 1U << 6;
#endif

// Register state that the operating system saves (XCR0): SSE and AVX, and
// AVX-512's mask registers and the upper halves and upper sixteen of its
// registers.
constexpr unsigned long long avxState = 0x6;
#ifndef BITWORDS_NO_AVX512
constexpr unsigned long long avx512State = 0xE0;
#endif

// Which of its returns a run takes depends on the processor alone, so no
// one machine's tests reach them all.
// GCOVR_EXCL_START
Path bestPath() noexcept {
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return Path::portable;
  const unsigned leaf1 = c;
  if ((leaf1 & osxsaveBit) == 0 || (leaf1 & avxBit) == 0 || (leaf1 & popcntBit) == 0)
    return Path::portable;
  unsigned lo = 0;
  unsigned hi = 0;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  const unsigned long long state = (static_cast<unsigned long long>(hi) << 32) | lo;
  if ((state & avxState) != avxState || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0)
    return Path::portable;
  const unsigned avx2 = avx2Bit | bmi1Bit | bmi2Bit;
  if ((b & avx2) != avx2) return Path::portable;
#ifdef BITWORDS_NO_AVX512
  const bool has512 = false;  // not built
#else
  const unsigned avx512 = avx512fBit | avx512bwBit | avx512vlBit;
  const unsigned vbmi = avx512vbmiBit | avx512vbmi2Bit;
  const bool has512 =
      (b & avx512) == avx512 && (c & vbmi) == vbmi && (state & avx512State) == avx512State;
#endif
  return has512 ? Path::avx512 : Path::avx2;
}
// GCOVR_EXCL_STOP

#else

constexpr Path bestPath() noexcept {
  return Path::portable;
}

#endif

// The best path, asked once; and the path in use, relaxed, as every value
// it holds is a path that this machine runs correctly.
const Path best = bestPath();
std::atomic<Path> active{best};

}  // namespace

bool pathAvailable(Path path) noexcept {
  return path <= best;
}

Path activePath() noexcept {
  return active.load(std::memory_order_relaxed);
}

Path usePath(Path path) noexcept {
  // (A path this machine lacks is only taken on another machine.)
  return active.exchange(pathAvailable(path) ? path : best,  // GCOVR_EXCL_BR_LINE
                         std::memory_order_relaxed);
}

}  // namespace bitwords::detail
