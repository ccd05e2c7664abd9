#include "datelist/dateparse.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "datelist/kernels.hpp"
#include "datelist/textrules.hpp"

namespace bitwords::detail {

bool stopDates(DateParser& p, LoadStatus status, int error) noexcept {
  p.failure.status = status;
  p.failure.error = error;
  p.token.active = false;
  return false;
}

namespace {

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

// The most records whose size a size_t holds.
constexpr std::size_t maxRecords = std::numeric_limits<std::size_t>::max() / sizeof(Date);

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

// Makes room for `needed` records in all, or as near to that as the
// budget and the heap allow; returns whether there is room for all. The
// block doubles, so that loading n values costs O(log n) resizes; where
// that much memory cannot be had, it tries ever smaller steps down to just
// what is wanted.
bool reserve(DateParser& p, std::size_t needed) noexcept {
  if (p.capacity >= needed) return true;
  const std::size_t most = p.budget / sizeof(Date);
  const std::size_t wanted = std::min(needed, most);
  if (wanted > p.capacity) {
    const std::size_t least = wanted - p.capacity;
    const std::size_t doubled = std::min(std::max(p.capacity * 2, firstCapacity), most);
    for (std::size_t step = std::max(doubled - p.capacity, least);;
         step = std::max(step / 2, least)) {
      if (resize(p, p.capacity + step) || step == least) break;
    }
  }
  return p.capacity >= needed;
}

// Stores one record, keeping a spare record for the terminator.
bool store(DateParser& p, Date date) noexcept {
  if (!reserve(p, p.count + 2)) return stopDates(p, LoadStatus::outOfMemory, ENOMEM);
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
  return stopDates(p, status, 0);
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

// The text of the read block, and of each stretch of it, ends in this
// byte, which is neither white space nor a digit, so that the portable scan
// needs no bounds checks: it stops at it as at any other byte it does not
// take. It reads eight bytes at a time, so the seal is followed by seven
// more bytes of padding.
constexpr char sentinel = '\0';

// The room before and after the text of the read block, and its size.
constexpr std::size_t blockLookBehind = wideLookBehind;
constexpr std::size_t blockPadding = 8;

// The read block of a load whose budget is short of all that its text may
// want: small, so that the memory goes to records.
constexpr std::size_t shortBlockSize = std::size_t{4} << 10;

// The text of a read block for a text of `bytes` bytes: a small text's
// own size (at least a byte), else readBlockSize.
std::size_t roomFor(std::uint64_t bytes) noexcept {
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(bytes, 1, readBlockSize));
}

// The most bytes the records of a text of `bytes` bytes may take (each
// value takes at least a digit and a separator), with the scans' scratch.
std::size_t recordBytes(std::uint64_t bytes) noexcept {
  const std::uint64_t records = bytes / 2 + wideScratch + 2;
  return static_cast<std::size_t>(std::min<std::uint64_t>(records, maxRecords)) * sizeof(Date);
}

// How far the portable scan goes before it hands the text back to the wide
// scan.
constexpr std::ptrdiff_t handBack = 64;

// Parses [at, end), sealed at end, with room for its records reserved.
// Kept out of line: inlined into feedRead, its loop gets registers that
// cost two more instructions per value.
[[gnu::noinline]] const char* scanSealed(DateParser& p, const char* at,
                                         const char* const end) noexcept {
  const Kernels& path = kernelsOf(activePath());
  const auto take = [&](const Scanned& scanned) {
    p.count += scanned.count;
    p.line += scanned.lines;
    at = scanned.at;
  };
  while (p.failure.status == LoadStatus::ok) {
    take(path.scan(at, end, p.dates + p.count));
    // What a vector scan leaves (a window with other bytes, a long token,
    // the text's last bytes) the portable scan takes, for a stretch, and
    // hands back; after the portable scan itself, it stops at once.
    const char* const stretch = end - at > handBack ? at + handBack : end;
    take(scanPortableUntil(at, stretch, p.dates + p.count));
    if (at == end) break;
    if (at > stretch) continue;
    // Anything else (a sign, eight digits or more, a stray byte, a token
    // cut by the end of the text) goes to the token reader from the
    // token's start.
    startToken(p);
    at = continueToken(p, at, end);
  }
  return at;
}

}  // namespace

std::size_t memoryWanted(std::uint64_t bytes) noexcept {
  const std::size_t block = blockLookBehind + roomFor(bytes) + blockPadding;
  return bytes == unknownSize ? SIZE_MAX : block + std::min(recordBytes(bytes), SIZE_MAX - block);
}

bool startDates(DateParser& p, std::uint64_t bytes, std::size_t budget,
                void (*sized)(void* block) noexcept) noexcept {
  p.room = bytes != unknownSize && budget < memoryWanted(bytes)
               ? std::min(roomFor(bytes), shortBlockSize)
               : roomFor(bytes);
  const std::size_t block = blockLookBehind + p.room + blockPadding;
  p.buffer = budget >= block ? static_cast<char*>(std::malloc(block)) : nullptr;
  if (p.buffer == nullptr) return stopDates(p, LoadStatus::outOfMemory, ENOMEM);
  p.budget = budget - block;
  // Sized once for a text of known size; where that cannot be had, parsing
  // grows the block as it goes.
  if (bytes != unknownSize && resize(p, std::min(recordBytes(bytes), p.budget) / sizeof(Date))) {
    if (sized != nullptr) sized(p.dates);
  }
  return true;
}

ReadRoom readRoom(const DateParser& p) noexcept {
  return {p.buffer + blockLookBehind, p.room};
}

bool feedRead(DateParser& p, std::size_t size) noexcept {
  const char* at = p.buffer + blockLookBehind;
  char* const end = p.buffer + blockLookBehind + size;
  std::memset(p.buffer, ' ', blockLookBehind);
  std::memset(end, sentinel, blockPadding);
  while (p.failure.status == LoadStatus::ok) {
    if (p.token.active) at = continueToken(p, at, end);
    if (p.failure.status != LoadStatus::ok || at == end) break;
    // Room for every value the text left can hold, the terminator and the
    // scans' scratch, so that the scans store without checks; where the
    // budget does not allow that much, for a stretch of the text whose
    // values fit, sealed for the while.
    const std::size_t needed = static_cast<std::size_t>(end - at) / 2 + wideScratch + 2;
    const bool all = reserve(p, p.count + needed);
    const std::size_t spare = p.capacity - p.count;
    if (!all && spare <= wideScratch + 2) return stopDates(p, LoadStatus::outOfMemory, ENOMEM);
    const auto left = end - at;
    char* const until =
        all ? end : end - (left - 2 * static_cast<std::ptrdiff_t>(spare - wideScratch - 2));
    const char kept = *until;
    *until = sentinel;
    at = scanSealed(p, at, until);
    *until = kept;
  }
  return p.failure.status == LoadStatus::ok;
}

bool feedDates(DateParser& p, const char* text, std::size_t size) noexcept {
  // (A parser that could not start has no read block, and does not go on.)
  while (size != 0 && p.failure.status == LoadStatus::ok) {
    const ReadRoom room = readRoom(p);
    const std::size_t n = std::min(size, room.size);
    std::memcpy(room.at, text, n);
    feedRead(p, n);
    text += n;
    size -= n;
  }
  return p.failure.status == LoadStatus::ok;
}

LoadResult finishDates(DateParser& p, Date** dates) noexcept {
  if (p.failure.status == LoadStatus::ok && p.token.active) endToken(p);
  std::free(p.buffer);
  // A block always keeps a spare record for the terminator. An empty text
  // has no block yet; where not even that record can be had, *dates is
  // left null.
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
