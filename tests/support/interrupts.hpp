// Interrupts the test's process with SIGALRM every few milliseconds, with a
// handler that does not restart system calls, so that a call that waits
// (a lock, a read or write on a pipe) fails with EINTR and must be made
// again. Counts the signals; undone at the end of the scope.
#pragma once

#include <signal.h>
#include <sys/time.h>

#include <atomic>

inline std::atomic<int> interruptions{0};

struct Interrupts {
  struct sigaction previous {};

  Interrupts() {
    interruptions = 0;
    struct sigaction action {};
    action.sa_handler = [](int) { ++interruptions; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    ::sigaction(SIGALRM, &action, &previous);
    const itimerval every{{0, 10'000}, {0, 10'000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~Interrupts() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
  }
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;
};
