// Forked children of a test, for what must not happen in the test's own
// process: limits, mounts, another identity. A coverage build has each
// child write its counts before it ends, which _exit would lose: the
// children run the library's fault paths that the tests are there to reach.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#ifdef BITWORDS_COVERAGE
extern "C" void __gcov_dump(void);
#endif

[[noreturn]] inline void endChild(int status) {
#ifdef BITWORDS_COVERAGE
  __gcov_dump();
#endif
  ::_exit(status);
}

// Runs body in a child process and returns what body returned (or 128 +
// the signal that ended it, or -1 if the child could not be waited for).
template <typename Body>
int inChild(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) endChild(body());
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
