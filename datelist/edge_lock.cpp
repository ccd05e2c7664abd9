#include "datelist/edge_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace bitwords::detail {
namespace {

std::int64_t nanoseconds() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// flock(2) gives the lock to whoever asks first after it is released, so a
// process that asks again at once (appenders appending back to back,
// loaders whose shared locks overlap) could keep another waiting without
// end. Two bytes far past the end of any date file, locked with open file
// description locks (which are apart from flock's, and released with the
// file), keep a queue in front of it:
//
// - nextInLine: a process holds it, in its own mode, from when it finds the
//   lock taken until it has it. One of the other mode cannot take it and
//   waits, so readers that come while a writer waits queue behind it, and
//   writers that come while readers wait queue behind them.
// - readersWaiting: a reader that finds a writer next in line holds it
//   shared while it waits, and a writer must pass it (take it exclusive for
//   a moment) before it queues, which it can only when no reader waits: so
//   writers that come after a waiting reader, however many and however
//   fast, cannot take its turn.
//
// The queue is taken in one order (readersWaiting, nextInLine, the lock)
// and a process waits on nothing while it holds the lock, so no two wait
// for each other. Programs that take the flock lock alone (flock(1)) are
// excluded as before; they only do not queue. Record locks of the file's
// bytes (lockf(3)) are apart from flock's, and hold neither up.
constexpr off_t readersWaiting = off_t{1} << 62;
constexpr off_t nextInLine = readersWaiting + 1;

enum class Got : unsigned char { taken, busy, unsupported };

// Locks (or, with F_UNLCK, unlocks) the byte at `at`, without waiting.
// The byte is busy only where the lock it meets is the queue's own: an open
// file description lock within its two bytes (one process's locks of both
// are one lock). Any other lock over it takes no part in the queue (a
// classic record lock, lockf(3), of another process or of this one, whose
// locks open file description locks conflict with; on NFS, every flock
// lock), so the queue is left out, as where the file system has no byte
// locks.
Got lockByte(int fd, off_t at, short type) noexcept {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = at;
  range.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &range) == 0) return Got::taken;
  if (errno != EAGAIN && errno != EACCES) return Got::unsupported;
  // The lock in the way (none where it went meanwhile: then try again).
  // (F_OFD_GETLK cannot fail where F_OFD_SETLK has just answered.)
  if (::fcntl(fd, F_OFD_GETLK, &range) != 0) return Got::unsupported;
  const bool queue = range.l_pid == -1 && range.l_start >= readersWaiting && range.l_len > 0 &&
                     range.l_start + range.l_len <= nextInLine + 1;
  return range.l_type == F_UNLCK || queue ? Got::busy : Got::unsupported;
}

Got lockWhole(int fd, bool exclusive) noexcept {
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return Got::taken;
  return errno == EWOULDBLOCK ? Got::busy : Got::unsupported;
}

// Tries until the attempt does not find the lock busy, or the wait ends.
template <typename Attempt>
Got waitFor(Wait& wait, Attempt attempt) noexcept {
  Got got = attempt();
  while (got == Got::busy && pauseAgain(wait)) got = attempt();
  return got;
}

}  // namespace

bool pauseAgain(Wait& wait) noexcept {
  if (wait.deadline == 0)
    wait.deadline = nanoseconds() + std::int64_t{wait.seconds} * 1'000'000'000;
  const std::int64_t left = wait.deadline - nanoseconds();
  if (left <= 0) return false;
  const std::int64_t pause = std::min(wait.pause, left);
  const timespec span{static_cast<time_t>(pause / 1'000'000'000),
                      static_cast<long>(pause % 1'000'000'000)};
  // An interrupted pause is only a shorter one.
  ::nanosleep(&span, nullptr);
  wait.pause = std::min<std::int64_t>(wait.pause * 2, 1'000'000);
  return true;
}

int takeLock(int fd, bool exclusive, Wait wait) noexcept {
  const short own = exclusive ? F_WRLCK : F_RDLCK;
  Got queue = Got::taken;  // unsupported where the file system has no byte locks
  if (exclusive) {
    queue = waitFor(wait, [&] { return lockByte(fd, readersWaiting, F_WRLCK); });
    if (queue == Got::busy) return EWOULDBLOCK;
    if (queue == Got::taken) lockByte(fd, readersWaiting, F_UNLCK);
  }
  bool registered = false;
  if (queue == Got::taken) {
    queue = lockByte(fd, nextInLine, own);
    if (queue == Got::busy && !exclusive) {
      registered =
          waitFor(wait, [&] { return lockByte(fd, readersWaiting, F_RDLCK); }) == Got::taken;
    }
    if (queue == Got::busy) queue = waitFor(wait, [&] { return lockByte(fd, nextInLine, own); });
  }
  const Got lock =
      queue == Got::busy ? Got::busy : waitFor(wait, [&] { return lockWhole(fd, exclusive); });
  if (queue == Got::taken) lockByte(fd, nextInLine, F_UNLCK);
  if (registered) lockByte(fd, readersWaiting, F_UNLCK);
  // Without locks on this file system, the file is used without.
  return lock == Got::busy ? EWOULDBLOCK : 0;
}

}  // namespace bitwords::detail
