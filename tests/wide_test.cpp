#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "datelist/wide.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

#if defined(__x86_64__)
// The processor's flags as the kernel reports them.
std::set<std::string> cpuFlags() {
  std::ifstream info("/proc/cpuinfo");
  std::set<std::string> flags;
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("flags", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    for (std::string flag; words >> flag;) flags.insert(flag);
    break;
  }
  return flags;
}
#endif

// The wide path runs where the processor has what it uses, and only there:
// never in a build for another kind of processor or without it.
TEST(WidePath, IsChosenExactlyWhereTheProcessorHasAvx2) {
#if defined(__x86_64__)
  const std::set<std::string> flags = cpuFlags();
  if (flags.empty()) GTEST_SKIP() << "no flags in /proc/cpuinfo";
  const bool has = wideBuilt() && flags.count("avx2") && flags.count("bmi1") &&
                   flags.count("bmi2") && flags.count("popcnt");
  EXPECT_EQ(wideBuilt(), BITWORDS_SIMD_BUILT);
#else
  const bool has = false;
#endif
  EXPECT_EQ(wideAvailable(), has);
  EXPECT_EQ(resolvePath(WidePath::best), has ? WidePath::wide : WidePath::portable);
  EXPECT_EQ(resolvePath(WidePath::portable), WidePath::portable);
}

}  // namespace
