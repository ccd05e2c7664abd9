// The date file: a text of packed date words in decimal, one per line as
// the appender writes them ("%d\n").
//
// The loader reads a wider form: values separated by any run of white space
// (space, \t, \n, \v, \f, \r), each an optional sign and one or more decimal
// digits (leading zeros allowed), the last one with or without a line feed.
// It decodes every value into a Date record of one heap block, in file order,
// and ends the block with a terminator record of three zeros.
#pragma once

#include <cstddef>

#include "datecodec.hpp"

enum class LoadStatus : unsigned char {
  ok,
  cannotOpen,   // error holds the errno of opening the file
  readError,    // error holds the errno of the failed read
  notInteger,   // a token that is not a sign and digits; see line and token
  outOfRange,   // a whole integer outside the signed 32-bit range
  outOfMemory,  // the block could not grow; error holds ENOMEM
};

inline constexpr std::size_t maxTokenText = 40;

// Outcome of a load. Callers that only want the dates may ignore it: the
// array is terminated whatever the outcome, and holds every value read before
// the load stopped.
struct LoadResult {
  LoadStatus status;
  int error;                 // errno, for cannotOpen, readError and outOfMemory
  std::size_t count;         // records in the array before the terminator
  std::size_t line;          // line of the bad token, counting from 1
  std::size_t tokenSize;     // bytes of the bad token kept in token
  bool tokenCut;             // the bad token is longer than the bytes kept
  char token[maxTokenText];  // the bad token's first bytes, as they stand in the file
};

// Loads the date file at path into a new block of Date records and stores
// its address in *dates (the previous value is overwritten, not released).
// The caller owns the block and releases it with std::free. *dates holds a
// terminated array whenever this returns, except when not even the
// terminator could be allocated: then it is null and the status outOfMemory.
// A load stops at the first bad token, read error or allocation failure,
// keeping the records read before it. It reads under a shared advisory
// lock (flock), so that it never sees a line half written by appendDate.
LoadResult loadDates(Date** dates, const char* path) noexcept;

// The loader's parsing on a text already in memory: the same records and the
// same outcome as loading a file with these bytes.
LoadResult parseDates(Date** dates, const char* text, std::size_t size) noexcept;

// Streaming form of the parsing, for text that arrives in pieces: a token
// may run across any number of pieces, and memory stays bounded whatever
// its length. Start with a value-initialised DateParser, feed the pieces in
// order while feedDates returns true, then call finishDates once; it hands
// over the terminated array and the outcome. A parser that is not finished
// holds its block: finish it, even after a failure elsewhere, to release or
// take it.
struct DateParser {
  Date* dates;
  std::size_t count;
  std::size_t capacity;
  std::size_t mapped;  // records of the block mapped in ahead of use
  std::size_t line;    // lines completed before the current position
  LoadResult failure;  // status is not ok once parsing has stopped
  // The token in progress when the last piece ended inside it.
  bool inToken;
  bool negative;
  bool sawDigit;
  bool malformed;
  unsigned long long magnitude;  // saturates just above the signed 32-bit range
  std::size_t tokenLine;
  std::size_t tokenSize;
  bool tokenCut;
  char token[maxTokenText];
};

bool feedDates(DateParser& parser, const char* text, std::size_t size) noexcept;
LoadResult finishDates(DateParser& parser, Date** dates) noexcept;

// Appends the date to the date file at path as one line "%d\n" of its packed
// word, creating the file if needed. Returns 0 on success, ERANGE without
// touching the file when a field does not fit its bit field (the word would
// hold another date), or the errno of what failed.
//
// - The line is written in one write, under an exclusive advisory lock
//   (flock) on a descriptor opened for appending: lines of concurrent
//   appenders never interleave, and loadDates never sees one half written.
// - A file whose last line is unfinished gets a line feed first, so that
//   its last value is not fused with the new one; so does a file whose last
//   byte cannot be read (opened write-only), where a spare line feed is
//   harmless white space.
// - A failed append leaves a regular file as it was: a write cut short (a
//   full disk) is cut back off, and one that would pass the file-size limit
//   (RLIMIT_FSIZE) is refused with EFBIG before it starts.
// - A FIFO that no process reads is refused with ENXIO.
int appendDate(Date date, const char* path) noexcept;

// Writes all of the bytes to the descriptor, going on after a partial
// write. Returns 0, or the errno of the write that failed.
int writeAll(int fd, const char* data, std::size_t size) noexcept;

// Writes the listing text of the array, one "day/month/year\n" line per
// record, from *next up to but not including the first record whose year is
// 0, into out, stopping early when fewer than formatDateRoom bytes remain.
// Advances *next past the records written and returns the bytes written.
// The listing is complete when (*next)->year is 0.
std::size_t formatDates(const Date** next, char* out, std::size_t room) noexcept;
