// A file's advisory lock, taken in turn, and the bounded wait behind it:
// internal to the edge.
#pragma once

#include <cstdint>

namespace bitwords::detail {

// A wait of at most `seconds` in all, measured from its first pause,
// however many pauses it takes.
struct Wait {
  int seconds;
  std::int64_t deadline = 0;   // monotonic nanoseconds; 0 until the first pause
  std::int64_t pause = 10000;  // the next pause, in nanoseconds
};

// Pauses, a little longer each time; false, without pausing, once the wait
// has lasted its seconds.
[[nodiscard]] bool pauseAgain(Wait& wait) noexcept;

// Takes the flock(2) lock of the file open on fd, shared or exclusive, in
// turn: 0, or EWOULDBLOCK where the turn did not come within the wait.
// Where the file system has no locks, returns 0 without one. fd must be
// open for reading to take the shared lock, and for writing to take the
// exclusive one.
[[nodiscard]] int takeLock(int fd, bool exclusive, Wait wait) noexcept;

}  // namespace bitwords::detail
