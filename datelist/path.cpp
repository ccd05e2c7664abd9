// The one choice of the code path: what the processor has and the
// operating system saves the registers of, asked once. The C library has
// asked already, at its own start, and says it without another cpuid
// (glibc 2.33 and later); elsewhere the compiler's runtime asks.
#include <atomic>

#include "datelist/kernels.hpp"

#if defined(BITWORDS_AVX2) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define HAS(glibc, compiler) CPU_FEATURE_ACTIVE(glibc)
#elif defined(BITWORDS_AVX2)
#define HAS(glibc, compiler) (__builtin_cpu_init(), __builtin_cpu_supports(compiler) != 0)
#endif

namespace bitwords::detail {
namespace {

// Which of its returns a run takes depends on the processor alone, so no
// one machine's tests reach them all.
// GCOVR_EXCL_START
Path bestPath() noexcept {
#ifdef BITWORDS_AVX2
  if (!(HAS(AVX2, "avx2") && HAS(BMI1, "bmi") && HAS(BMI2, "bmi2") && HAS(POPCNT, "popcnt")))
    return Path::portable;
  const bool avx512 = HAS(AVX512F, "avx512f") && HAS(AVX512BW, "avx512bw") &&
                      HAS(AVX512VL, "avx512vl") && HAS(AVX512_VBMI, "avx512vbmi") &&
                      HAS(AVX512_VBMI2, "avx512vbmi2");
  return avx512Built && avx512 ? Path::avx512 : Path::avx2;
#else
  return Path::portable;
#endif
}
// GCOVR_EXCL_STOP

// Each built path's kernels, in the order of Path.
constexpr Kernels kernels[] = {
    {scanPortable, listPortable},
#ifdef BITWORDS_AVX2
    {scanAvx2, listAvx2},
#endif
#ifdef BITWORDS_AVX512
    {scanAvx512, listAvx512},
#endif
};

// The best path, asked once; and the path in use, relaxed, as every value
// it holds is a path that this machine runs correctly.
const Path best = bestPath();
std::atomic<Path> active{best};

}  // namespace

bool pathAvailable(Path path) noexcept {
  return path <= best;
}

const Kernels& kernelsOf(Path path) noexcept {
  return kernels[static_cast<int>(path)];
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
