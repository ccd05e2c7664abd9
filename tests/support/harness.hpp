// The harness of the tests that drive the library's edge: temporary
// folders, children set apart (a file system of their own, another
// identity, a memory cgroup, limits), every core kept busy, signals that
// interrupt waits, and faults injected at the system calls of an append
// (faults.hpp).
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/faults.hpp"

#ifdef BITWORDS_COVERAGE
extern "C" void __gcov_dump(void);
#endif

// ---- Files

// Writes the bytes to the file, as the shell's > does (so also to a file
// of /proc or of a cgroup); false where that fails.
inline bool writeFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

inline std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder under the system's temporary folder, removed with all in
// it when the test ends.
struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bitwords-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::filesystem::filesystem_error("mkdtemp",
                                              std::error_code(errno, std::generic_category()));
    path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path write(const std::string& name, std::string_view bytes) const {
    const auto file = path / name;
    writeFile(file, bytes);
    return file;
  }
};

// Whether this build runs under AddressSanitizer, whose shadow memory needs
// an unlimited address space and counts in a process's resident memory.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool addressSanitizer = true;
#else
inline constexpr bool addressSanitizer = false;
#endif
#else
inline constexpr bool addressSanitizer = false;
#endif

// ---- Tables

// The rows of a table that this machine cannot set up, and why. At the
// table's end, where some rows ran, noneRan() says in the test's output
// which did not; where none ran, it is true, and the test is skipped.
struct Rows {
  std::string skipped;
  int ran = 0;
  void skip(const std::string& row, const std::string& why) { skipped += row + ": " + why + "; "; }
  bool noneRan() const {
    if (!skipped.empty() && ran != 0) std::printf("rows not run here: %s\n", skipped.c_str());
    return !skipped.empty() && ran == 0;
  }
};

// ---- Children set apart

enum class FileSystem { tmpfs, ext2 };

// What sets a child apart from the test.
struct Isolation {
  std::filesystem::path mount = {};  // where a file system of its own is mounted, if anywhere
  FileSystem fileSystem = FileSystem::tmpfs;  // an ext2 image needs root and loop devices
  std::size_t bytes = 64 << 10;               // the file system's size
  bool ordinaryUser = false;      // as root, act as nobody (the effective identity only)
  std::uint64_t memoryLimit = 0;  // a memory cgroup of its own with this limit (root only)
};

// The status of a child that could not be set apart as asked, and why.
inline constexpr int refused = 125;
std::string refusedReason(const Isolation& isolation);

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

// Enters the isolation in the child; false if the kernel refuses it.
bool enterIsolation(const Isolation& isolation, const std::filesystem::path& group);

// The process's memory cgroup as /proc/self/cgroup names it: the root of
// its hierarchy (v1's memory controller where it is there, else v2's), and
// the group's path below it.
struct MemoryCgroup {
  std::filesystem::path root;
  std::string group;
  bool v1;
  std::filesystem::path folder() const { return root.string() + group; }
};
MemoryCgroup ownMemoryCgroup();

// A memory cgroup below the process's own, with the limit, removed at the
// end of the scope; an empty path where one cannot be made here, or where
// the limit is 0.
struct MemoryGroup {
  std::filesystem::path path;
  explicit MemoryGroup(std::uint64_t limit);
  ~MemoryGroup();
  MemoryGroup(const MemoryGroup&) = delete;
  MemoryGroup& operator=(const MemoryGroup&) = delete;
};

// Starts body in a child process, set apart as asked (in `group`, if not
// empty); the child ends with what body returns (or `refused`).
template <typename Body>
pid_t startChild(Body body, const Isolation& isolation = {},
                 const std::filesystem::path& group = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) endChild(enterIsolation(isolation, group) ? body() : refused);
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
  if (isolation.memoryLimit == 0) return waitChild(startChild(body, isolation));
  const MemoryGroup group(isolation.memoryLimit);
  if (group.path.empty()) return refused;
  return waitChild(startChild(body, isolation, group.path));
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

// Keeps every core of the machine busy, with a spinning child each, for as
// long as it lives.
struct BusyCores {
  std::vector<pid_t> spinners;
  BusyCores() {
    for (long i = 0, cores = ::sysconf(_SC_NPROCESSORS_ONLN); i < cores; ++i) {
      spinners.push_back(startChild([] {
        for (;;) {
          // Work that the compiler cannot leave out.
          asm volatile("" ::: "memory");
        }
        return 0;
      }));
    }
  }
  ~BusyCores() {
    for (const pid_t pid : spinners) ::kill(pid, SIGKILL);
    for (const pid_t pid : spinners) waitChild(pid);
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;
};

// ---- Signals

// Interrupts the process with SIGALRM every few milliseconds, with a
// handler that does not restart system calls, so that a call that waits (a
// lock, a read or write on a pipe) fails with EINTR and must be made again.
// Counts the signals; undone at the end of the scope.
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
