// The outcome of loading or parsing a date file: how it ended, and where
// and why it stopped when it did not reach the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bitwords {

enum class LoadStatus : unsigned char {
  ok,
  cannotOpen,   // error holds the errno of opening the file
  readError,    // error holds the errno of the failed read
  notInteger,   // a token that is not a sign and digits; see line and token
  outOfRange,   // a whole integer outside the signed 32-bit range
  outOfMemory,  // the block could not grow; error holds ENOMEM
  locked,       // another process held the file's lock past lockWaitSeconds;
                // error holds EWOULDBLOCK
};

// How long a load or an append waits for another process to release the
// file's lock.
inline constexpr int lockWaitSeconds = 5;

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

}  // namespace bitwords
