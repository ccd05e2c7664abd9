// The outcome of loading or parsing a date file: how it ended, where and
// why it stopped when it did not reach the end, and all that in words.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "datelist/api.hpp"

namespace bitwords {

enum class LoadStatus : unsigned char {
  ok,
  cannotOpen,   // error holds the errno of opening the file
  readError,    // error holds the errno of the failed read
  notInteger,   // a token that is not a sign and digits; see line and token
  outOfRange,   // a whole integer outside the signed 32-bit range
  outOfMemory,  // the block could not grow; error holds ENOMEM
  locked,       // the file's lock did not come within lockWaitSeconds;
                // error holds EWOULDBLOCK
};

inline constexpr std::size_t maxTokenText = 40;

// Outcome of a load. Callers that only want the dates may ignore it: the
// array is terminated whatever the outcome, and holds every value read before
// the load stopped.
struct LoadResult {
  LoadStatus status;
  int error;                 // errno, for cannotOpen, readError, outOfMemory and locked
  std::size_t count;         // records in the array before the terminator
  std::uint64_t line;        // line of the bad token, counting from 1
  std::size_t tokenSize;     // bytes of the bad token kept in token
  bool tokenCut;             // the bad token is longer than the bytes kept
  char token[maxTokenText];  // the bad token's first bytes, as they stand in the file
};

// The words for an errno that a load, an append or a write gives: the C
// library's, but for EWOULDBLOCK, which a load or an append gives where the
// file's lock did not come (or a FIFO stayed full) within lockWaitSeconds
// (datefile.hpp): "locked by another process".
[[nodiscard]] BITWORDS_API const char* reasonText(int error) noexcept;

// The longest description of a load's outcome, less the file's name.
inline constexpr std::size_t maxLoadText = 256;

// Writes what the outcome of a load of `file` says, as datelist reports it
// after its own name, into [first, last), and returns past it as
// std::to_chars does (value_too_large where it does not fit; room for the
// file's name and maxLoadText bytes always suffices). Nothing for ok.
//
//   fechas.txt: No such file or directory
//   fechas.txt: locked by another process
//   fechas.txt:2: not an integer: "12abc"
//   fechas.txt:3: out of range: "99999999999"
//
// A token is shown as it stands in the file, clipped to maxTokenText bytes
// (... after the quote where it is longer), with bytes outside printable
// ASCII as \xHH and the quote and backslash as \" and \\, so that a file
// cannot send control sequences to a terminal.
[[nodiscard]] BITWORDS_API std::to_chars_result describeLoad(char* first, char* last,
                                                             const char* file,
                                                             const LoadResult& result) noexcept;

// The same, as a string.
[[nodiscard]] inline std::string describeLoad(const char* file, const LoadResult& result) {
  std::string text(std::strlen(file) + maxLoadText, '\0');
  const std::to_chars_result end =
      describeLoad(text.data(), text.data() + text.size(), file, result);
  text.resize(static_cast<std::size_t>(end.ptr - text.data()));
  return text;
}

}  // namespace bitwords
