// Feeds arbitrary bytes to the date file parser and checks what must hold
// for every input: a terminated array whose records all read as in-range
// fields, a count that matches it, a bad-token report that points at bytes
// of the input on the line it names, and the same outcome whatever the
// point at which the text is cut in two.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "datefile.hpp"

namespace {

void check(bool holds) {
  if (!holds) std::abort();
}

// The bytes of the given line, counting from 1.
std::string_view lineOf(std::string_view text, std::size_t line) {
  std::size_t start = 0;
  for (std::size_t i = 1; i < line; ++i) start = text.find('\n', start) + 1;
  const std::size_t end = text.find('\n', start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

void checkReport(std::string_view text, const LoadResult& r) {
  if (r.status == LoadStatus::ok) {
    check(r.line == 0 && r.tokenSize == 0);
    return;
  }
  check(r.status == LoadStatus::notInteger || r.status == LoadStatus::outOfRange);
  check(r.line >= 1 &&
        r.line <= 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  check(r.tokenSize >= 1 && r.tokenSize <= maxTokenText);
  check(lineOf(text, r.line).find(std::string_view(r.token, r.tokenSize)) !=
        std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  Date* whole = nullptr;
  const LoadResult r = parseDates(&whole, text.data(), text.size());
  check(whole != nullptr);
  check(r.count <= (size + 1) / 2);  // every value takes a byte and a separator
  for (std::size_t i = 0; i < r.count; ++i) {
    check(fieldsInRange(whole[i]));
  }
  check(whole[r.count] == (Date{0, 0, 0}));
  checkReport(text, r);

  // The same text in two pieces, cut at a point that the input chooses.
  std::size_t cut = 0;
  for (std::uint8_t byte : text) cut = cut * 31 + byte;
  cut = size == 0 ? 0 : cut % (size + 1);
  DateParser parser{};
  feedDates(parser, text.data(), cut);
  feedDates(parser, text.data() + cut, size - cut);
  Date* pieces = nullptr;
  const LoadResult q = finishDates(parser, &pieces);
  check(pieces != nullptr);
  check(q.status == r.status && q.count == r.count && q.line == r.line &&
        q.tokenSize == r.tokenSize && std::memcmp(q.token, r.token, r.tokenSize) == 0);
  check(std::memcmp(pieces, whole, (r.count + 1) * sizeof(Date)) == 0);

  std::free(whole);
  std::free(pieces);
  return 0;
}
