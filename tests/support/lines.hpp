// Long texts compared line by line: a failing comparison says where they
// part, rather than both texts whole.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// The first line at which the texts differ, as "line N: got "...", wanted
// "...""; empty where they are the same.
inline std::string firstDifference(std::string_view got, std::string_view want) {
  const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (g == got.end() && w == want.end()) return {};
  const auto at = static_cast<std::size_t>(g - got.begin());
  const std::size_t start = at == 0 ? 0 : got.rfind('\n', at - 1) + 1;
  const auto lineOf = [start](std::string_view text) {
    return std::string(text.substr(start, text.find('\n', start) - start));
  };
  return "line " + std::to_string(std::count(got.begin(), g, '\n') + 1) + ": got \"" + lineOf(got) +
         "\", wanted \"" + lineOf(want) + "\"";
}
