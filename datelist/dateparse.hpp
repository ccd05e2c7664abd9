// The date file's parser, from bytes to Date records: internal to the
// library, for its loader, its tests and its fuzz targets. Users of the
// date file include datelist/datefile.hpp, whose loadDates() and
// parseDates() are built on this.
//
// It owns its memory, within the one budget it is given: the read block
// that the text goes through, and the block of records. Start a
// value-initialised DateParser with startDates, feed the text in order, in
// pieces of any size (a token may run across any number of them, and
// memory stays bounded whatever its length) while the feeding function
// returns true, then call finishDates once, also after a failure
// elsewhere: it hands over the terminated array and the outcome, and
// releases the rest. It takes the path that activePath() names. Pure: it
// asks nothing of the operating system but heap memory, within what its
// caller has from the system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datelist/datecodec.hpp"
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
  std::size_t budget = 0;   // the most bytes the block of records may take
  char* buffer = nullptr;   // the read block, with room before and after its text
  std::size_t room = 0;     // the bytes of text it takes
  std::uint64_t line = 0;   // lines completed before the current position
  LoadResult failure = {};  // status is not ok once parsing has stopped
  Token token = {};
};

// The text that the read block takes, but for a text smaller than it or a
// parse whose memory is short.
inline constexpr std::size_t readBlockSize = std::size_t{128} << 10;

// The size of a text that is not known beforehand (a FIFO's).
inline constexpr std::uint64_t unknownSize = UINT64_MAX;

// The most memory that parsing a text of `bytes` bytes (or unknownSize)
// takes: its read block and its records.
[[nodiscard]] std::size_t memoryWanted(std::uint64_t bytes) noexcept;

// Starts parsing a text of `bytes` bytes (or unknownSize) within `budget`
// bytes of memory: takes the read block, then a block of records sized
// once for such a text where its size is known and the budget allows (else
// the block grows as parsing goes), and tells `sized` of it (a hint for
// the system's pages), if given. False, with parsing stopped
// (outOfMemory), where not even the read block can be had.
bool startDates(DateParser& parser, std::uint64_t bytes, std::size_t budget,
                void (*sized)(void* block) noexcept = nullptr) noexcept;

// Where the next bytes of the text are to be read: `size` bytes at `at`.
struct ReadRoom {
  char* at;
  std::size_t size;
};
[[nodiscard]] ReadRoom readRoom(const DateParser& parser) noexcept;

// Parses the `size` bytes just read into the read room. Returns whether
// parsing goes on.
bool feedRead(DateParser& parser, std::size_t size) noexcept;

// Parses a piece of caller memory, through the read block. Returns whether
// parsing goes on.
bool feedDates(DateParser& parser, const char* text, std::size_t size) noexcept;

// Stops parsing with a failure found outside the text (a read error, say):
// status and the errno to report. Returns false.
bool stopDates(DateParser& parser, LoadStatus status, int error) noexcept;

LoadResult finishDates(DateParser& parser, Date** dates) noexcept;

}  // namespace bitwords::detail
