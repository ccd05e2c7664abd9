// Fault injection at the system calls of a load or an append: the test
// program's own open(2), read(2), write(2), flock(2), fcntl(2),
// fallocate(2) and linkat(2),
// which the library's calls reach, can run a hook once just before the
// next such call, as another process would act at that moment (a writer
// that takes no lock appends, a FIFO's reader leaves, the file is
// replaced) or a slow disk would take its time, or fail once with a given
// errno, as a faulty disk or a file system without locks or reservations
// would. Every other call passes straight through.
#pragma once

#include <functional>

enum class Call { open, read, write, flock, fcntl, fallocate, link };

// Runs hook (once) just before the next such call of this process.
void beforeNext(Call call, std::function<void()> hook);

// Makes the next such call of this process (or the one after `after` more),
// and `times` in all, fail with error, doing nothing; given takesNothing,
// the call (a write) takes no byte and returns 0.
void failNext(Call call, int error, int after = 0, int times = 1);
inline constexpr int takesNothing = -1;

// Drops every hook and failure not yet used.
void clearFaults();
