// Feeds arbitrary bytes to the date file parser and checks, for every
// input: no crash or undefined behaviour; a terminated array whose count
// matches; the same records, outcome, line and token (and whether the
// token was cut) as a slow, plain reading of the format; and the same
// outcome on every path the machine can run, and wherever the text is cut
// in two, as a read may cut it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/dateparse.hpp"
#include "datelist/path.hpp"

using namespace bitwords;
using namespace bitwords::detail;

namespace {

void check(bool holds) {
  if (!holds) std::abort();
}

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

struct Reading {
  std::vector<Date> dates;
  LoadStatus status = LoadStatus::ok;
  std::size_t line = 0;
  std::string_view token;
  bool cut = false;  // the token is longer than its shown part
};

// The format read the obvious way: tokens split at white space, each an
// optional sign and digits whose value fits in 32 bits.
Reading plainReading(std::string_view text) {
  Reading r;
  std::size_t line = 1;
  std::size_t at = 0;
  for (;;) {
    for (; at < text.size() && isSpace(text[at]); ++at) line += text[at] == '\n';
    if (at == text.size()) return r;
    std::size_t end = at;
    while (end < text.size() && !isSpace(text[end])) ++end;
    const std::string_view token = text.substr(at, end - at);
    const bool negative = token[0] == '-';
    std::string_view digits = token.substr(token[0] == '+' || negative ? 1 : 0);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) {
      r.status = LoadStatus::notInteger;
    } else {
      digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
      std::uint64_t magnitude = 0;
      for (char c : digits.substr(0, 11)) magnitude = magnitude * 10 + std::uint64_t(c - '0');
      if (digits.size() > 10 || magnitude > 2147483647u + (negative ? 1 : 0)) {
        r.status = LoadStatus::outOfRange;
      } else {
        const auto word = static_cast<std::uint32_t>(magnitude);
        r.dates.push_back(unpackDate(static_cast<PackedDate>(negative ? 0u - word : word)));
      }
    }
    if (r.status != LoadStatus::ok) {
      r.line = line;
      r.token = token.substr(0, maxTokenText);
      r.cut = token.size() > maxTokenText;
      return r;
    }
    at = end;
  }
}

void checkSame(const LoadResult& a, const LoadResult& b, const Date* aDates, const Date* bDates) {
  check(a.status == b.status && a.count == b.count && a.line == b.line &&
        a.tokenSize == b.tokenSize && a.tokenCut == b.tokenCut &&
        std::memcmp(a.token, b.token, a.tokenSize) == 0);
  check(std::memcmp(aDates, bDates, (a.count + 1) * sizeof(Date)) == 0);
}

// Parses the text on one path, in two pieces cut where `cut` says.
LoadResult parseOn(Path path, std::string_view text, std::size_t cut, Date** dates) {
  const Path previous = usePath(path);
  DateParser parser{};
  startDates(parser, text.size(), SIZE_MAX);
  feedDates(parser, text.data(), cut);
  feedDates(parser, text.data() + cut, text.size() - cut);
  usePath(previous);
  return finishDates(parser, dates);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  Date* whole = nullptr;
  const LoadResult r = parseDates(&whole, text.data(), text.size());
  check(whole != nullptr);
  check(whole[r.count] == (Date{0, 0, 0}));
  check(r.count <= (size + 1) / 2);  // every value takes a byte and a separator

  const Reading want = plainReading(text);
  check(r.status == want.status && r.line == want.line);
  check(std::string_view(r.token, r.tokenSize) == want.token && r.tokenCut == want.cut);
  check(r.count == want.dates.size());
  check(want.dates.empty() ||
        std::memcmp(whole, want.dates.data(), want.dates.size() * sizeof(Date)) == 0);

  // Every path this machine can run, whole and in two pieces cut at a
  // point that the input chooses, gives the same.
  std::size_t cut = 0;
  for (const char byte : text) cut = cut * 31 + static_cast<unsigned char>(byte);
  cut = size == 0 ? 0 : cut % (size + 1);
  for (const Path path : allPaths) {
    if (!pathAvailable(path)) continue;
    for (const std::size_t at : {size, cut}) {
      Date* dates = nullptr;
      const LoadResult q = parseOn(path, text, at, &dates);
      check(dates != nullptr);
      checkSame(q, r, dates, whole);
      std::free(dates);
    }
  }
  std::free(whole);
  return 0;
}
