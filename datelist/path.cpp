// The one choice of the code path: what the processor has and the
// operating system saves the registers of (the compiler's runtime asks
// cpuid and xgetbv), asked once.
#include <atomic>

#include "datelist/kernels.hpp"

namespace bitwords::detail {
namespace {

// Which of its returns a run takes depends on the processor alone.
// GCOVR_EXCL_START
Path bestPath() noexcept {
#ifdef BITWORDS_AVX2
  __builtin_cpu_init();  // (this runs before the runtime's own start-up may have)
#define HAS(feature) (__builtin_cpu_supports(feature) != 0)
  if (!(HAS("avx2") && HAS("bmi") && HAS("bmi2") && HAS("popcnt"))) return Path::portable;
  const bool avx512 = HAS("avx512f") && HAS("avx512bw") && HAS("avx512vl") && HAS("avx512vbmi") &&
                      HAS("avx512vbmi2");
#undef HAS
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
