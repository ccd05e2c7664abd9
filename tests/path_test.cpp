#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>

#include "datelist/path.hpp"

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

// Each vector path runs where the processor has what it uses, and only
// there: never in a build for another kind of processor or without them.
// The best is the one taken unless another is chosen, and an unavailable
// one cannot be.
TEST(Path, EachIsChosenExactlyWhereTheProcessorHasWhatItUses) {
#if defined(__x86_64__)
  const std::set<std::string> flags = cpuFlags();
  if (flags.empty()) GTEST_SKIP() << "no flags in /proc/cpuinfo";
  const auto hasAll = [&](std::initializer_list<const char*> names) {
    bool all = avx2Built;
    for (const char* name : names) all = all && flags.count(name) != 0;
    return all;
  };
  const bool avx2 = hasAll({"avx2", "bmi1", "bmi2", "popcnt"});
  const bool avx512 = avx2 && avx512Built &&
                      hasAll({"avx512f", "avx512bw", "avx512vl", "avx512vbmi", "avx512_vbmi2"});
#else
  const bool avx2 = false;
  const bool avx512 = false;
#endif
  EXPECT_TRUE(pathAvailable(Path::portable));
  EXPECT_EQ(pathAvailable(Path::avx2), avx2);
  EXPECT_EQ(pathAvailable(Path::avx512), avx512);
  const Path best = avx512 ? Path::avx512 : avx2 ? Path::avx2 : Path::portable;
  EXPECT_EQ(activePath(), best);
  // What the suite runs here, which CI shows.
  constexpr const char* names[] = {"portable", "avx2", "avx512"};
  for (const Path path : allPaths) {
    std::printf("path %s: %s\n", names[static_cast<int>(path)],
                pathAvailable(path) ? "run"
                                    : "not run here (not built, or the processor or the "
                                      "operating system lacks what it uses)");
    EXPECT_EQ(usePath(path), best);
    EXPECT_EQ(activePath(), pathAvailable(path) ? path : best);
    usePath(best);
  }
}

}  // namespace
