#include "datelist/widepath.hpp"

namespace bitwords::detail {

bool wideAvailable() noexcept {
#if defined(__x86_64__)
  // All four, asked without short cuts; each answer is its own bit, so
  // each is made 0 or 1 first.
  const auto has = [](auto answer) { return static_cast<unsigned>(static_cast<bool>(answer)); };
  return (has(__builtin_cpu_supports("avx2")) & has(__builtin_cpu_supports("bmi")) &
          has(__builtin_cpu_supports("bmi2")) & has(__builtin_cpu_supports("popcnt"))) == 1U;
#else
  return false;
#endif
}

WidePath resolvePath(WidePath path) noexcept {
  if (path != WidePath::best) return path;
  // The portable path is chosen on processors without AVX2, which the tests
  // run by choosing it.
  return wideAvailable() ? WidePath::wide : WidePath::portable;
}

}  // namespace bitwords::detail
