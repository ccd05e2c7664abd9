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
// never in a build for another kind of processor or without it. It is the
// one taken unless another is chosen, and an unavailable one cannot be.
TEST(Path, WideIsChosenExactlyWhereTheProcessorHasAvx2) {
#if defined(__x86_64__)
  const std::set<std::string> flags = cpuFlags();
  if (flags.empty()) GTEST_SKIP() << "no flags in /proc/cpuinfo";
  const bool has = BITWORDS_SIMD_BUILT && flags.count("avx2") && flags.count("bmi1") &&
                   flags.count("bmi2") && flags.count("popcnt");
#else
  const bool has = false;
#endif
  EXPECT_EQ(pathAvailable(Path::wide), has);
  EXPECT_TRUE(pathAvailable(Path::portable));
  const Path best = has ? Path::wide : Path::portable;
  EXPECT_EQ(activePath(), best);
  EXPECT_EQ(usePath(Path::portable), best);
  EXPECT_EQ(usePath(Path::wide), Path::portable);
  EXPECT_EQ(activePath(), best);
}

}  // namespace
