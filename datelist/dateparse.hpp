// The date file's parser, from bytes in memory to Date records: internal to
// the library, for its loader, its tests and its fuzz targets. Users of the
// date file include datelist/datefile.hpp, whose loadDates() and
// parseDates() are built on this.
//
// Text may arrive in pieces: a token may run across any number of pieces,
// and memory stays bounded whatever its length. Start with a
// value-initialised DateParser, give it its memory budget (the most bytes
// its block of records may take; unlimited if not given), feed the pieces
// in order while the feeding function returns true, then call finishDates
// once; it hands over the terminated array and the outcome. A parser that
// is not finished holds its block: finish it, even after a failure
// elsewhere, to release or take it. It takes the path that activePath()
// names. Pure: it asks nothing of the operating system but heap memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"
#include "datelist/kernels.hpp"
#include "datelist/loadresult.hpp"

namespace bitwords::detail {

struct DateParser {
  // A token that the token reader takes a byte at a time, kept while a
  // piece ends inside it.
  struct Token {
    bool active = false;  // a token is in progress
    bool negative = false;
    bool sawDigit = false;
    bool malformed = false;
    unsigned long long magnitude = 0;  // saturates just above the signed 32-bit range
    std::uint64_t line = 0;
    std::size_t size = 0;  // bytes kept in text
    bool cut = false;      // longer than the bytes kept
    char text[maxTokenText] = {};
  };

  Date* dates = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
  std::size_t budget = SIZE_MAX;  // the most bytes the block may take
  std::uint64_t line = 0;         // lines completed before the current position
  LoadResult failure = {};        // status is not ok once parsing has stopped
  Token token = {};
};

// The size of the blocks the loader reads, and the room that must follow
// and precede the bytes of a block given to feedBlock().
inline constexpr std::size_t blockSize = std::size_t{128} << 10;
inline constexpr std::size_t blockPadding = 8;
inline constexpr std::size_t blockLookBehind = wideLookBehind;

// Parses the size bytes at block, in place: the blockPadding bytes after
// them and the blockLookBehind bytes before must be writable, and are
// overwritten. Returns whether parsing goes on.
bool feedBlock(DateParser& parser, char* block, std::size_t size) noexcept;

// Parses a piece of caller memory, through a copy. Returns whether parsing
// goes on.
bool feedDates(DateParser& parser, const char* text, std::size_t size) noexcept;

// The most bytes the records of a text of `bytes` bytes may take (each
// value takes at least a digit and a separator), with the scans' scratch.
std::size_t recordBytesFor(std::uint64_t bytes) noexcept;

// Sizes the block of a parser not yet fed once for a text of `bytes`
// bytes, within its budget, so that it never grows; where that cannot be
// had, parsing grows it as it goes.
void expectBytes(DateParser& parser, std::uint64_t bytes) noexcept;

// Stops parsing with a failure found outside the text (a read error, say):
// status and the errno to report. Returns false.
bool stopDates(DateParser& parser, LoadStatus status, int error) noexcept;

LoadResult finishDates(DateParser& parser, Date** dates) noexcept;

}  // namespace bitwords::detail
