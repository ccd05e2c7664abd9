// Every code path this machine can run, and the choice of one for a scope:
// the tests run their tables on each.
#pragma once

#include <vector>

#include "datelist/path.hpp"

inline std::vector<bitwords::detail::Path> paths() {
  std::vector<bitwords::detail::Path> all;
  for (const auto path : bitwords::detail::allPaths) {
    if (bitwords::detail::pathAvailable(path)) all.push_back(path);
  }
  return all;
}

// The parser and the listing take the path for as long as this lives.
struct OnPath {
  bitwords::detail::Path previous;
  explicit OnPath(bitwords::detail::Path path) : previous(bitwords::detail::usePath(path)) {}
  ~OnPath() { bitwords::detail::usePath(previous); }
  OnPath(const OnPath&) = delete;
  OnPath& operator=(const OnPath&) = delete;
};
