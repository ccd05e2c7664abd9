#include "datelist/dateparse.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "datelist/kernels.hpp"
#include "datelist/swar.hpp"

namespace bitwords::detail {
namespace {

// White space as the C locale's isspace() has it.
constexpr bool isSpace(unsigned char c) noexcept {
  return c == ' ' || static_cast<unsigned char>(c - '\t') < 5;
}

constexpr bool isDigit(unsigned char c) noexcept {
  return static_cast<unsigned char>(c - '0') < 10;
}

// Magnitude of the most negative signed 32-bit value; one less is the most
// positive. The magnitude of a token stops growing once it passes this.
constexpr unsigned long long magnitudeLimit = 2147483648ULL;

// Whether a token's sign and magnitude make a signed 32-bit value.
constexpr bool fitsWord(bool negative, unsigned long long magnitude) noexcept {
  return magnitude <= magnitudeLimit - (negative ? 0 : 1);
}

// The record of a value that fits, decoded from its two's-complement word.
constexpr Date decode(bool negative, unsigned long long magnitude) noexcept {
  const auto word = static_cast<std::uint32_t>(magnitude);
  return unpackDate(static_cast<PackedDate>(negative ? 0U - word : word));
}

constexpr std::size_t firstCapacity = 256;

bool stop(DateParser& p, LoadStatus status, int error) noexcept {
  p.failure.status = status;
  p.failure.error = error;
  p.token.active = false;
  return false;
}

// The most records whose size a size_t holds.
constexpr std::size_t maxRecords = std::numeric_limits<std::size_t>::max() / sizeof(Date);

// The most records the block may hold within the budget.
std::size_t mostRecords(const DateParser& p) noexcept {
  return std::min(p.budget / sizeof(Date), maxRecords);
}

// Resizes the block to hold `records` records (within the budget); false,
// with the block as it was, where the memory cannot be had. A large block
// is a mapping of its own, which the heap moves rather than copies as it
// grows, so that the old block and the new are never both held.
bool resize(DateParser& p, std::size_t records) noexcept {
  void* const block = std::realloc(p.dates, records * sizeof(Date));
  if (block == nullptr) return false;
  p.dates = static_cast<Date*>(block);
  p.capacity = records;
  return true;
}

// Makes room for at least `needed` records in all. The block doubles, so
// that loading n values costs O(log n) resizes; where that much memory
// cannot be had, it tries ever smaller steps down to just what is needed.
bool reserve(DateParser& p, std::size_t needed) noexcept {
  if (p.capacity >= needed) return true;
  const std::size_t most = mostRecords(p);
  if (needed <= most) {
    const std::size_t least = needed - p.capacity;
    const std::size_t doubled = std::min(std::max(p.capacity * 2, firstCapacity), most);
    for (std::size_t step = std::max(doubled - p.capacity, least);;
         step = std::max(step / 2, least)) {
      if (resize(p, p.capacity + step)) return true;
      if (step == least) break;
    }
  }
  return stop(p, LoadStatus::outOfMemory, ENOMEM);
}

// Makes room before a block of `bytes` for every value it can hold (each
// takes a byte and a separator), the terminator and the wide scan's
// scratch, so that the common paths store without checks.
bool reserveForBlock(DateParser& p, std::size_t bytes) noexcept {
  return reserve(p, p.count + bytes / 2 + wideScratch + 2);
}

// Stores one record, keeping a spare record for the terminator. (The block's
// room is reserved before each block, so this never has to grow it.)
bool store(DateParser& p, Date date) noexcept {
  if (!reserve(p, p.count + 2)) return false;
  p.dates[p.count++] = date;
  return true;
}

void startToken(DateParser& p) noexcept {
  p.token = DateParser::Token{.active = true, .line = p.line + 1};
}

bool rejectToken(DateParser& p, LoadStatus status) noexcept {
  const DateParser::Token& t = p.token;
  p.failure.line = t.line;
  p.failure.tokenSize = t.size;
  p.failure.tokenCut = t.cut;
  for (std::size_t i = 0; i < t.size; ++i) p.failure.token[i] = t.text[i];
  return stop(p, status, 0);
}

bool endToken(DateParser& p) noexcept {
  DateParser::Token& t = p.token;
  t.active = false;
  if (t.malformed || !t.sawDigit) return rejectToken(p, LoadStatus::notInteger);
  if (!fitsWord(t.negative, t.magnitude)) return rejectToken(p, LoadStatus::outOfRange);
  return store(p, decode(t.negative, t.magnitude));
}

// The token reader: goes on with the token in progress, one byte at a
// time, up to the white space that ends it or the end of the piece. It
// takes every token the scans leave (a sign, a long one, a bad one, one cut
// by the end of a piece). A token known to be bad stops as soon as the
// bytes that the report shows are kept and one more byte shows that they
// are not all of it. Returns where it stopped; the parser's status tells
// whether parsing goes on.
const char* continueToken(DateParser& p, const char* at, const char* end) noexcept {
  DateParser::Token& t = p.token;
  for (; at != end; ++at) {
    const auto c = static_cast<unsigned char>(*at);
    if (isSpace(c)) {
      endToken(p);
      return at;
    }
    const bool first = t.size == 0;
    if (t.size < maxTokenText) {
      t.text[t.size++] = static_cast<char>(c);
    } else {
      t.cut = true;
    }
    if (isDigit(c)) {
      t.sawDigit = true;
      if (t.magnitude <= magnitudeLimit) t.magnitude = t.magnitude * 10 + (c - '0');
    } else if (first && (c == '+' || c == '-')) {
      t.negative = c == '-';
    } else {
      t.malformed = true;
    }
    if (t.malformed && t.cut) {
      endToken(p);
      return at + 1;
    }
  }
  return at;
}

// Blocks end in this byte, which is neither white space nor a digit, so
// that the portable scan needs no bounds checks: it stops at it as at any
// other byte it does not take. Text is read eight bytes at a time, so the
// sentinel is followed by seven more bytes of padding.
constexpr char sentinel = '\0';
static_assert(blockPadding >= 8);

// The classes of bytes that the portable scan tells apart: white space,
// and among it the line feed.
constexpr unsigned char space = 1;
constexpr unsigned char lineFeed = 2;
struct ByteClasses {
  unsigned char of[256];
};
constexpr ByteClasses byteClasses = [] {
  ByteClasses table{};
  for (unsigned c = 0; c < 256; ++c) {
    table.of[c] = static_cast<unsigned char>((isSpace(static_cast<unsigned char>(c)) ? space : 0) |
                                             (c == '\n' ? lineFeed : 0));
  }
  return table;
}();

unsigned classOf(char c) noexcept {
  return byteClasses.of[static_cast<unsigned char>(c)];
}

// A record's day and month for each of the word's bits 11 to 19 (its month
// and day fields), as the record's first eight bytes hold them: one load
// and one store decode both.
struct DayMonthPairs {
  std::uint64_t of[512];
};
constexpr DayMonthPairs dayMonthPairs = [] {
  DayMonthPairs table{};
  for (std::uint32_t bits = 0; bits < 512; ++bits) {
    const Date d = unpackDate(static_cast<PackedDate>(bits << detail::monthField.shift));
    const auto day = static_cast<std::uint64_t>(d.day);
    const auto month = static_cast<std::uint64_t>(d.month);
    table.of[bits] =
        std::endian::native == std::endian::little ? day | month << 32 : day << 32 | month;
  }
  return table;
}();
static_assert(detail::dayField.shift == detail::monthField.shift + detail::monthField.width &&
              detail::monthField.width + detail::dayField.width == 9);

// Stores the record of an in-range word's value.
inline void storeDate(Date* out, std::uint32_t value) noexcept {
  const std::uint64_t pair = dayMonthPairs.of[(value >> detail::monthField.shift) & 511];
  static_assert(offsetof(Date, month) == offsetof(Date, day) + 4);
  std::memcpy(&out->day, &pair, sizeof pair);
  out->year = getYear(static_cast<PackedDate>(value));
}

// The portable scan: takes the values of the common form, one to seven
// digits followed by white space, eight bytes at a time (swar.hpp), with
// the parser's counters held in locals; the block's room is reserved.
// Returns at the first token of any other form (a sign, eight digits or
// more, another byte) for the token reader (continueToken), at the end
// of the block, or, where it hands back to the wide scan, at the first
// token past `until`. Kept out of line, so that its loop has the registers
// to itself.
template <bool handsBack>
[[gnu::noinline]] const char* scanPortable(DateParser& p, const char* at,
                                           const char* const until) noexcept {
  Date* out = p.dates + p.count;
  std::uint64_t line = p.line;
  for (;;) {
    const std::uint64_t values = swar::digitValues(swar::loadLittle(at));
    const std::uint64_t nonDigits = swar::nonDigits(values);
    // One to seven digits, then another byte.
    if (nonDigits != 0 && (nonDigits & 0x80) == 0) [[likely]] {
      const unsigned first = swar::firstNonDigit(nonDigits);
      const unsigned n = swar::leadingDigits(first);
      // One to seven digits always fit; the white space after them must
      // end the token, and is taken with it: a line feed, a carriage
      // return and line feed, or one byte of other white space (the rest
      // of a run is taken below).
      const char* const after = at + n;
      if (*after == '\n') [[likely]] {
        ++line;
        at = after + 1;
      } else if (*after == '\r' && after[1] == '\n') {
        ++line;
        at = after + 2;
      } else if ((classOf(*after) & space) != 0) {
        at = after + 1;
      } else {
        break;
      }
      storeDate(out++, swar::decimalValue(values, first));
      if (handsBack && at > until) break;
      continue;
    }
    // White space runs on; anything else (the end's sentinel among them)
    // stops the scan.
    const unsigned here = nonDigits != 0 ? classOf(*at) : 0;
    if ((here & space) == 0) break;
    line += here >> 1;
    ++at;
  }
  p.count = static_cast<std::size_t>(out - p.dates);
  p.line = line;
  return at;
}

// How far the portable scan goes before it hands the text back to the wide
// scan.
constexpr std::ptrdiff_t handBack = 64;

// Parses one block, sealed at end. Kept out of line: inlined into
// feedBlock, its loop gets registers that cost two more instructions per
// value.
[[gnu::noinline]] bool scanBlock(DateParser& p, const char* at, const char* const end) noexcept {
  // Blocks come only while parsing goes on.
  if (p.token.active) at = continueToken(p, at, end);
  if (p.failure.status != LoadStatus::ok || !reserveForBlock(p, static_cast<std::size_t>(end - at)))
    return false;
  const Path path = activePath();
  const bool wide = path != Path::portable;
  while (p.failure.status == LoadStatus::ok) {
    if (wide) {
      const WideScan scan = path == Path::avx512 ? scanAvx512(at, end, p.dates + p.count)
                                                 : scanAvx2(at, end, p.dates + p.count);
      p.count += scan.count;
      p.line += scan.lines;
      at = scan.at;
    }
    // What the wide scan leaves (a window with other bytes, a long token,
    // the block's last bytes) the portable scan takes, for a stretch when
    // the wide scan is to have it back.
    const char* const until = wide && end - at > handBack ? at + handBack : end;
    at = wide ? scanPortable<true>(p, at, until) : scanPortable<false>(p, at, until);
    if (at == end) break;
    if (at > until) continue;
    // Anything else (a sign, eight digits or more, a stray byte, a token
    // cut by the end of the block) goes to the token reader from the
    // token's start.
    startToken(p);
    at = continueToken(p, at, end);
  }
  return p.failure.status == LoadStatus::ok;
}

}  // namespace

std::size_t recordBytesFor(std::uint64_t bytes) noexcept {
  constexpr std::uint64_t most = std::numeric_limits<std::size_t>::max() / sizeof(Date);
  const std::uint64_t records = bytes / 2 + wideScratch + 2;
  return static_cast<std::size_t>(std::min(records, most)) * sizeof(Date);
}

void expectBytes(DateParser& p, std::uint64_t bytes) noexcept {
  const std::size_t records = std::min(recordBytesFor(bytes), p.budget) / sizeof(Date);
  // Where it cannot be had, parsing grows the block as it goes.
  if (records > p.capacity) static_cast<void>(resize(p, records));
}

bool stopDates(DateParser& p, LoadStatus status, int error) noexcept {
  return stop(p, status, error);
}

bool feedBlock(DateParser& p, char* block, std::size_t size) noexcept {
  std::memset(block - blockLookBehind, ' ', blockLookBehind);
  std::memset(block + size, sentinel, blockPadding);
  return scanBlock(p, block, block + size);
}

bool feedDates(DateParser& p, const char* text, std::size_t size) noexcept {
  // The copy lives on the heap, so that a small stack is enough.
  const std::size_t room = size < blockSize ? size : blockSize;
  char* const copy =
      size == 0 ? nullptr : static_cast<char*>(std::malloc(blockLookBehind + room + blockPadding));
  if (size != 0 && copy == nullptr) return stopDates(p, LoadStatus::outOfMemory, ENOMEM);
  char* const block = copy != nullptr ? copy + blockLookBehind : nullptr;
  while (size != 0 && p.failure.status == LoadStatus::ok) {
    const std::size_t n = size < room ? size : room;
    std::memcpy(block, text, n);
    feedBlock(p, block, n);
    text += n;
    size -= n;
  }
  std::free(copy);
  return p.failure.status == LoadStatus::ok;
}

LoadResult finishDates(DateParser& p, Date** dates) noexcept {
  if (p.failure.status == LoadStatus::ok && p.token.active) endToken(p);
  // A block always keeps a spare record for the terminator. An empty text
  // has no block yet; where not even that record can be had, *dates is
  // left null. (No test takes the heap's last twelve bytes: glibc keeps
  // freed pieces of every size aside, out of reach of a test's own mallocs.)
  if (p.capacity == 0) resize(p, 1);
  if (p.dates != nullptr) {
    p.dates[p.count] = Date{0, 0, 0};
    // Give back the unused tail; keep the block if the heap cannot shrink
    // it (glibc always can).
    if (void* shrunk = std::realloc(p.dates, (p.count + 1) * sizeof(Date))) {
      p.dates = static_cast<Date*>(shrunk);
    }
  }
  *dates = p.dates;
  LoadResult result = p.failure;
  result.count = p.count;
  p = DateParser{};
  return result;
}

}  // namespace bitwords::detail
