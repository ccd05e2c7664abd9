// The library is built with 64-bit file offsets, under which its calls go
// to open64 and fallocate64; here both names are defined, as themselves.
#undef _FILE_OFFSET_BITS
#include "tests/support/faults.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <utility>

namespace {

// What is to happen at the next call of each kind.
struct Pending {
  std::function<void()> hook;
  int error = 0;
  int passes = 0;    // calls to let pass before the failures
  int failures = 0;  // calls to fail then
};
constexpr int calls = 7;
Pending& pending(Call call) {
  static Pending all[calls];
  return all[static_cast<int>(call)];
}

// Runs the call's hook, if any; true, with errno set, if it is to fail.
bool failing(Call call) {
  Pending& p = pending(call);
  if (p.hook) std::exchange(p.hook, nullptr)();
  if (p.error == 0) return false;
  if (p.passes > 0) return --p.passes, false;
  errno = p.error;
  if (--p.failures == 0) p.error = 0;
  return true;
}

mode_t modeOf(int flags, std::va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? static_cast<mode_t>(va_arg(args, unsigned))
             : 0;
}

}  // namespace

void beforeNext(Call call, std::function<void()> h) {
  pending(call).hook = std::move(h);
}

void failNext(Call call, int error, int after, int times) {
  Pending& p = pending(call);
  p.error = error;
  p.passes = after;
  p.failures = times;
}

void clearFaults() {
  for (int i = 0; i < calls; ++i) pending(static_cast<Call>(i)) = {};
}

// These take the place of the C library's functions for this program and
// the library linked into it, statically or not (a sanitizer's interceptors
// are weak, and give way too), and call the kernel themselves.
#define DEFINE_OPEN(name)                                                        \
  extern "C" int name(const char* path, int flags, ...) {                        \
    std::va_list args;                                                           \
    va_start(args, flags);                                                       \
    const mode_t mode = modeOf(flags, args);                                     \
    va_end(args);                                                                \
    if (failing(Call::open)) return -1;                                          \
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode)); \
  }
DEFINE_OPEN(open)
DEFINE_OPEN(open64)

extern "C" ssize_t read(int fd, void* data, size_t size) {
  if (failing(Call::read)) return -1;
  return static_cast<ssize_t>(::syscall(SYS_read, fd, data, size));
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  if (failing(Call::write)) return errno == takesNothing ? 0 : -1;
  return static_cast<ssize_t>(::syscall(SYS_write, fd, data, size));
}

extern "C" int linkat(int from, const char* path, int to, const char* name, int flags) {
  if (failing(Call::link)) return -1;
  return static_cast<int>(::syscall(SYS_linkat, from, path, to, name, flags));
}

extern "C" int flock(int fd, int operation) {
  if (failing(Call::flock)) return -1;
  return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

// fcntl's third argument is an integer or a pointer, passed alike.
#define DEFINE_FCNTL(name, number)                                     \
  extern "C" int name(int fd, int command, ...) {                      \
    std::va_list args;                                                 \
    va_start(args, command);                                           \
    const auto argument = va_arg(args, unsigned long);                 \
    va_end(args);                                                      \
    if (failing(Call::fcntl)) return -1;                               \
    return static_cast<int>(::syscall(number, fd, command, argument)); \
  }
#ifdef SYS_fcntl64
DEFINE_FCNTL(fcntl, SYS_fcntl64)
DEFINE_FCNTL(fcntl64, SYS_fcntl64)
#else
DEFINE_FCNTL(fcntl, SYS_fcntl)
DEFINE_FCNTL(fcntl64, SYS_fcntl)
#endif

// (On 32-bit machines the kernel takes each 64-bit number as two words.)
extern "C" int fallocate64(int fd, int mode, off64_t offset, off64_t size) {
  if (failing(Call::fallocate)) return -1;
#if UINTPTR_MAX == 0xFFFFFFFF
  const auto low = [](off64_t n) { return static_cast<unsigned long>(n & 0xFFFFFFFF); };
  const auto high = [](off64_t n) { return static_cast<unsigned long>(n >> 32); };
  return static_cast<int>(
      ::syscall(SYS_fallocate, fd, mode, low(offset), high(offset), low(size), high(size)));
#else
  return static_cast<int>(::syscall(SYS_fallocate, fd, mode, offset, size));
#endif
}

extern "C" int fallocate(int fd, int mode, off_t offset, off_t size) {
  return fallocate64(fd, mode, offset, size);
}
