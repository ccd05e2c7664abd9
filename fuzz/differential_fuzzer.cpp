// Turns the fuzzer's bytes into a well-formed date file (32-bit values with
// optional signs and leading zeros, separated by runs of white space) and
// checks that the parser, on every path the machine can run, gives exactly
// the records of a sscanf("%d\n") loop over the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datelist/dateparse.hpp"
#include "datelist/path.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

void check(bool holds) {
  if (!holds) std::abort();
}

// Each value takes five bytes: one of layout, four of value.
std::string wellFormedText(const std::uint8_t* data, std::size_t size) {
  static const char* const separators[] = {"\n", " ", "\t", "\r\n", "\v", "\f", "\n\n", " \t\r\n"};
  std::string text;
  for (; size >= 5; data += 5, size -= 5) {
    const std::uint8_t layout = data[0];
    std::uint32_t bits = 0;
    std::memcpy(&bits, data + 1, 4);
    const auto value = static_cast<std::int32_t>(bits);
    if (layout & 0x80) text += separators[layout & 7];
    if (value >= 0 && (layout & 0x40)) text += '+';
    if (value < 0) text += '-';
    text.append((layout >> 3) & 7, '0');
    const std::uint32_t magnitude = value < 0 ? 0u - bits : bits;
    text += std::to_string(magnitude);
    text += separators[(layout >> 1) & 7];
  }
  if (!text.empty() && (size & 1)) text.pop_back();  // sometimes no final separator
  return text;
}

std::vector<Date> scanned(const std::string& text) {
  std::vector<Date> dates;
  const char* at = text.c_str();
  int word = 0;
  int used = -1;
  while (std::sscanf(at, "%d\n%n", &word, &used) == 1) {
    dates.push_back(unpackDate(word));
    check(used > 0);
    at += used;
    used = -1;
  }
  return dates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = wellFormedText(data, size);
  const std::vector<Date> want = scanned(text);

  for (const Path path : allPaths) {
    if (!pathAvailable(path)) continue;
    const Path previous = usePath(path);
    DateParser parser{};
    startDates(parser, text.size(), SIZE_MAX);
    feedDates(parser, text.data(), text.size());
    Date* dates = nullptr;
    const LoadResult r = finishDates(parser, &dates);
    usePath(previous);
    check(dates != nullptr);
    check(r.status == LoadStatus::ok);
    check(r.count == want.size());
    check(want.empty() || std::memcmp(dates, want.data(), want.size() * sizeof(Date)) == 0);
    check(dates[r.count] == (Date{0, 0, 0}));
    std::free(dates);
  }
  return 0;
}
