// Every code path this machine can run: the portable one, and the wide one
// where the processor has AVX2. Tests run their tables on each.
#pragma once

#include <vector>

#include "datelist/wide.hpp"

inline std::vector<bitwords::detail::WidePath> paths() {
  using bitwords::detail::WidePath;
  std::vector<WidePath> all{WidePath::portable};
  if (bitwords::detail::wideAvailable()) all.push_back(WidePath::wide);
  return all;
}
