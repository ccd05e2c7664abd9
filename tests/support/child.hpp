// Forked children of a test, for what must not happen in the test's own
// process: limits, mounts, another identity, signals. A child may be set
// apart: in a private mount namespace with a tmpfs of its own (entered
// through an unprivileged user namespace when the test is not root), or,
// as root, acting as an ordinary user. A coverage build has each child
// write its counts before it ends, which _exit would lose: the children run
// the library's fault paths that the tests are there to reach.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>

#ifdef BITWORDS_COVERAGE
extern "C" void __gcov_dump(void);
#endif

// What sets a child apart from the test.
struct Isolation {
  std::filesystem::path tmpfs = {};  // where a tmpfs of its own is mounted, if anywhere
  std::size_t tmpfsBytes = 64 << 10;
  bool ordinaryUser = false;  // as root, act as nobody (the effective identity only)
};

// The status of a child that could not be set apart as asked: the kernel
// refused a namespace or mount (user namespaces turned off, or a process
// with threads, as under qemu-user, cannot enter one).
inline constexpr int refused = 125;
inline constexpr char refusedReason[] =
    "the kernel refuses a private mount namespace here (no user namespaces for this user, or "
    "a process with threads, as under qemu-user)";

inline constexpr uid_t nobody = 65534;

[[noreturn]] inline void endChild(int status) {
#ifdef BITWORDS_COVERAGE
  // As root acting as nobody, the counts are written as root again.
  if (::getuid() == 0 && ::geteuid() != 0) {
    static_cast<void>(::seteuid(0));
    static_cast<void>(::setegid(0));
  }
  __gcov_dump();
#endif
  ::_exit(status);
}

namespace isolation_detail {

inline bool writeText(const char* file, const std::string& text) {
  const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
  const bool written =
      fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  return written;
}

// Enters the isolation in the child; false if the kernel refuses it.
inline bool enter(const Isolation& isolation) {
  const bool root = ::geteuid() == 0;
  if (!isolation.tmpfs.empty()) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    // The same identity inside, so that files keep their owner.
    if (!root &&
        (!writeText("/proc/self/setgroups", "deny") ||
         !writeText("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
         !writeText("/proc/self/gid_map",
                    std::to_string(gid) + " " + std::to_string(gid) + " 1"))) {
      return false;
    }
    const std::string size = "size=" + std::to_string(isolation.tmpfsBytes);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", isolation.tmpfs.c_str(), "tmpfs", 0, size.c_str()) != 0) {
      return false;
    }
  }
  if (isolation.ordinaryUser && root) return ::setegid(nobody) == 0 && ::seteuid(nobody) == 0;
  return true;
}

}  // namespace isolation_detail

// Starts body in a child process, set apart as asked; the child ends with
// what body returns (or `refused`).
template <typename Body>
pid_t startChild(Body body, const Isolation& isolation = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) endChild(isolation_detail::enter(isolation) ? body() : refused);
  return pid;
}

// Waits for a child and returns its exit status, 128 + the signal that
// ended it, or -1 if it could not be waited for; usage, if given, receives
// what it used.
inline int waitChild(pid_t pid, rusage* usage = nullptr) {
  int status = 0;
  rusage ignored{};
  if (pid < 0 || ::wait4(pid, &status, 0, usage != nullptr ? usage : &ignored) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs body in a child, set apart as asked, and returns its status.
template <typename Body>
int inChild(Body body, const Isolation& isolation = {}) {
  return waitChild(startChild(body, isolation));
}

// Sets the soft limit of a resource in the calling process, the hard limit
// left as it is so that it can be raised again; false where it does not
// take (qemu-user accepts, and ignores, limits on memory and the stack).
inline bool softLimit(int resource, rlim_t value) {
  rlimit now{};
  if (::getrlimit(resource, &now) != 0) return false;
  const rlimit wanted{value, now.rlim_max};
  return ::setrlimit(resource, &wanted) == 0 && ::getrlimit(resource, &now) == 0 &&
         now.rlim_cur == value;
}
