#include "datelist/widepath.hpp"

bool wideAvailable() noexcept {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

WidePath resolvePath(WidePath path) noexcept {
  if (path != WidePath::best) return path;
  return wideAvailable() ? WidePath::wide : WidePath::portable;
}
