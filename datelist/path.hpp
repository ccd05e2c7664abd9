// The one choice of the code path (path.cpp): made once, from what the
// processor and the operating system have, and changed only through
// usePath(). The build compiles a vector path's kernels only where it
// builds the path (x86-64, BITWORDS_SIMD on); the tests, fuzz targets and
// benchmarks run each path the machine can by choosing it. Internal to the
// library.
#pragma once

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

}  // namespace bitwords::detail
