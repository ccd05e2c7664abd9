// A line appended to a date file under its exclusive lock, and the file
// made with the line where it is not there, whatever the append meets on
// the way: links, leases, FIFOs, full disks, file-size limits, append-only
// files, SIGPIPE.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "datelist/edge.hpp"
#include "datelist/edge_lock.hpp"
#include "datelist/output.hpp"

namespace bitwords::detail {
namespace {

// Opens the file for appending; ENOENT where it is not there, unless it is
// to be created. Readable where permitted, so that its last byte can be
// read through this descriptor; write-only where it may not be read, and
// for a FIFO, whose write-only open without waiting fails (ENXIO) where no
// process reads it, rather than taking a line that no one will read. Other
// opens wait, as any open does, for a lease on the file (F_SETLEASE) to be
// broken. Returns the descriptor, or -1 with errno set.
int openForAppend(const char* path, bool create) noexcept {
  const int flags = O_APPEND | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
  // Opens as `open` does, again where a signal ends its wait for a lease.
  const auto open = [](const char* name, int how) {
    int fd = -1;
    while ((fd = ::open(name, how, 0666)) < 0 && errno == EINTR) {
    }
    return fd;
  };
  struct stat named {};
  const bool fifo = ::stat(path, &named) == 0 && S_ISFIFO(named.st_mode);
  if (!fifo) {
    const int fd = open(path, O_RDWR | flags);
    if (fd >= 0) {
      // (fstat cannot fail on a descriptor just opened.)
      struct stat opened {};
      static_cast<void>(::fstat(fd, &opened));
      if (!S_ISFIFO(opened.st_mode)) return fd;
      ::close(fd);  // a FIFO put in its place meanwhile
    }
  }
  const int fd = open(path, O_WRONLY | O_NONBLOCK | flags);
  // A lease on a regular file makes the non-blocking open fail rather than
  // wait; such a file is opened as above, but write-only.
  if (fd < 0 && errno == EWOULDBLOCK) return open(path, O_WRONLY | flags);
  return fd;
}

// Whether `more` bytes after `size` would pass the process's file-size
// limit. The write would stop part way there, and the signal it raises
// would end the process with the fragment in the file.
bool passesSizeLimit(off_t size, std::size_t more) noexcept {
  // getrlimit cannot fail for this resource; the limit stays unlimited if
  // it did.
  rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
  static_cast<void>(::getrlimit(RLIMIT_FSIZE, &limit));
  return limit.rlim_cur != RLIM_INFINITY && static_cast<rlim_t>(size) + more > limit.rlim_cur;
}

// Whether the file open on fd is append-only (chattr +a): its end cannot be
// cut back. A file system that does not say is taken to allow it. (statx
// fails only on kernels older than 4.11, and fstatvfs below on none.)
bool appendOnly(int fd) noexcept {
  struct statx attributes {};
  return ::statx(fd, "", AT_EMPTY_PATH, 0, &attributes) == 0 &&
         (attributes.stx_attributes & attributes.stx_attributes_mask & STATX_ATTR_APPEND) != 0;
}

// Whether the free space of the file's file system surely takes `more`
// bytes: counted in whole blocks, two for bytes that may straddle a block's
// end, and three more for the blocks that index them on file systems that
// keep such indices; only the blocks that any user may take.
bool surelyFits(int fd, std::size_t more) noexcept {
  struct statvfs space {};
  if (::fstatvfs(fd, &space) != 0 || space.f_frsize == 0) return false;
  const std::uint64_t blocks = (more + space.f_frsize - 1) / space.f_frsize + 1 + 3;
  return space.f_bavail >= blocks;
}

// Reserves the blocks of `more` bytes past the end of the file without
// changing its size, so that a full disk (or quota) refuses the append
// before any of it is written. Returns 0, or the errno of the refusal;
// where the file system cannot reserve room and the file cannot be cut
// back either, a line that may not fit in the free space is refused.
int reserveRoom(int fd, off_t size, std::size_t more) noexcept {
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, size, static_cast<off_t>(more)) == 0) return 0;
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) return errno;
  return appendOnly(fd) && !surelyFits(fd, more) ? ENOSPC : 0;
}

// Writes the line to the regular file in one write. A write cut short (no
// room, where the space could not be reserved) is cut back off, and only
// its own bytes, and only while they are the file's last: a writer that
// takes no lock may have appended before them, or after. The file system
// does not say why it stopped: at the file-size limit it is EFBIG, and
// otherwise reported as ENOSPC.
int writeToFile(int fd, const char* line, std::size_t size) noexcept {
  ssize_t n = 0;
  while ((n = ::write(fd, line, size)) < 0 && errno == EINTR) {
  }
  if (n < 0) return errno;
  if (static_cast<std::size_t>(n) == size) return 0;
  // With O_APPEND the offset is now just past the bytes written.
  // (Neither this nor fstat can fail on the descriptor just written.)
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  if (info.st_size == end) {
    // Nothing to do if this fails: the error to report is the write's.
    static_cast<void>(::ftruncate(fd, end - n));
  }
  return passesSizeLimit(end, 1) ? EFBIG : ENOSPC;
}

// Writes the line after the `size` bytes of the regular file open on fd,
// refused where it would pass the file-size limit or not fit.
int writeAfter(int fd, off_t size, const char* line, std::size_t bytes) noexcept {
  if (passesSizeLimit(size, bytes)) return EFBIG;
  if (const int error = reserveRoom(fd, size, bytes)) return error;
  return writeToFile(fd, line, bytes);
}

// Writes the line to a FIFO or device, without blocking, waiting for room
// as long as the wait allows (EWOULDBLOCK); a line of at most PIPE_BUF bytes
// goes to a FIFO whole or not at all. SIGPIPE is held back: a reader that
// left gives EPIPE, not a signal that ends the caller. A SIGPIPE the write
// raises is taken back; one pending before is left as it was.
int writeToStream(int fd, const char* line, std::size_t size, Wait wait) noexcept {
  sigset_t pipe;
  sigset_t previous;
  sigset_t pending;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  static_cast<void>(::sigpending(&pending));
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  // (This cannot fail on a descriptor just opened; if it did, a write to a
  // full FIFO would wait for it to drain.)
  static_cast<void>(::fcntl(fd, F_SETFL, O_APPEND | O_NONBLOCK));
  int error = 0;
  while (size != 0) {
    const ssize_t n = ::write(fd, line, size);
    if (n > 0) {
      line += n;
      size -= static_cast<std::size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      // A write that takes no byte (a broken device) would take none again.
      error = n == 0 ? ENOSPC : errno;
      break;
    } else if (errno == EAGAIN && !pauseAgain(wait)) {
      error = EWOULDBLOCK;
      break;
    }
  }
  if (error == EPIPE && !pendingBefore) {
    const timespec none{0, 0};
    static_cast<void>(::sigtimedwait(&pipe, nullptr, &none));
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return error;
}

// Appends the line to the file open on fd: to a regular file under its
// exclusive lock; to a FIFO or device, which takes a short line whole in
// one write, without.
int appendUnderLock(int fd, const char* text, std::size_t size, Wait wait) noexcept {
  // fstat cannot fail on a descriptor just opened; if it did, the file
  // would be taken as a stream: no lock, no line feed first, no cutting
  // back.
  struct stat info {};
  static_cast<void>(::fstat(fd, &info));
  if (!S_ISREG(info.st_mode)) return writeToStream(fd, text, size, wait);
  if (const int error = takeLock(fd, true, wait)) return error;
  // The file as it is under the lock.
  static_cast<void>(::fstat(fd, &info));

  // A line feed first where the last line may be unfinished (harmless white
  // space where it was not): where the last byte is not one, or cannot be
  // read through fd (open write-only), which leaves `last` as it is.
  char last = 0;
  if (info.st_size > 0) static_cast<void>(::pread(fd, &last, 1, info.st_size - 1));
  const bool separate = info.st_size > 0 && last != '\n';
  char line[1 + maxAppendLine];
  line[0] = '\n';
  std::copy(text, text + size, line + 1);
  const char* const from = separate ? line : line + 1;
  const std::size_t bytes = size + (separate ? 1 : 0);

  return writeAfter(fd, info.st_size, from, bytes);
}

// Links the unnamed file open on fd in at path: by the descriptor itself,
// or, where the kernel allows that only with CAP_DAC_READ_SEARCH (before
// Linux 6.10), by its name in /proc.
int linkIn(int fd, const char* path) noexcept {
  if (::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT) return errno;
  char name[32];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, name, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// What createWithLine gives where the file is to be made by the open by
// its name instead.
constexpr int notByLink = -1;

// Writes the name's folder into `folder` ("." for a name in the working
// folder), and returns the length of its part of the name, up to and with
// its last slash.
int folderOf(const char* name, char (&folder)[PATH_MAX]) noexcept {
  const char* const slash = std::strrchr(name, '/');
  const int kept = slash == nullptr ? 0 : static_cast<int>(slash - name + 1);
  std::snprintf(folder, sizeof folder, "%.*s", kept == 0 ? 1 : kept, kept == 0 ? "." : name);
  return kept;
}

// The name under which a file that is not at path is to be made: path
// itself, or, where path is a symbolic link (or a chain of them) to a name
// that is not there, that name, as an open that creates the file follows
// the links. EEXIST where a file is there after all; notByLink where the
// open by name is to decide: a link loop or a name too long, or a link
// that the kernel may refuse to follow for this process (fs.protected_
// symlinks: in a sticky folder that anyone may write to, owned neither by
// the process nor by the folder's owner).
int nameToMake(const char* path, char (&name)[PATH_MAX]) noexcept {
  std::snprintf(name, sizeof name, "%s", path);
  // (The open that found no file would have stopped first at a loop of
  // links or a name too long; the walk ends otherwise than by a name to
  // make, or a link that may not be followed, only where the folder or the
  // link changed meanwhile.)
  for (int links = 0; links < 40; ++links) {  // GCOVR_EXCL_BR_LINE
    struct stat link {};
    if (::lstat(name, &link) != 0) return errno == ENOENT ? 0 : notByLink;  // GCOVR_EXCL_BR_LINE
    if (!S_ISLNK(link.st_mode)) return EEXIST;                              // GCOVR_EXCL_BR_LINE
    char target[PATH_MAX];
    char folder[PATH_MAX];
    const ssize_t size = ::readlink(name, target, sizeof target);
    const int kept = folderOf(name, folder);
    struct stat above {};
    // GCOVR_EXCL_BR_START
    if (size <= 0 || size == sizeof target || ::stat(folder, &above) != 0) return notByLink;
    // GCOVR_EXCL_BR_STOP
    constexpr mode_t anyonesSticky = S_ISVTX | S_IWOTH;
    if ((above.st_mode & anyonesSticky) == anyonesSticky && link.st_uid != ::geteuid() &&
        link.st_uid != above.st_uid)
      return notByLink;
    // A relative target is taken from the link's folder.
    const int from = target[0] == '/' ? 0 : kept;
    if (std::snprintf(folder, sizeof folder, "%.*s%.*s", from, name, static_cast<int>(size),
                      target) >= static_cast<int>(sizeof folder))  // GCOVR_EXCL_BR_LINE
      return notByLink;                                            // GCOVR_EXCL_LINE
    std::memcpy(name, folder, sizeof name);
  }
  return notByLink;  // GCOVR_EXCL_LINE
}

// Makes the file that is not there with the line in it: the line goes to
// an unnamed file in its folder (O_TMPFILE), which is linked in place only
// once it holds the line, so that a refused append leaves no file where
// there was none, and a load never finds the new file empty. EEXIST where
// another appender made the file first; notByLink where it cannot be made
// so: no unnamed file can be had (the file system has none, or the folder
// is not there), or the file, which takes the line, cannot be linked (no
// /proc on an older kernel, a mount come between them: EXDEV).
int createWithLine(const char* path, const char* line, std::size_t size) noexcept {
  char name[PATH_MAX];
  if (const int there = nameToMake(path, name)) return there;
  char folder[PATH_MAX];
  folderOf(name, folder);
  const int fd = ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  // (Where it fails, so does a file made by its name, and tells why, but on
  // file systems without unnamed files.)
  if (fd < 0) return notByLink;
  int error = writeAfter(fd, 0, line, size);
  if (error == 0 && (error = linkIn(fd, name)) != 0 && error != EEXIST) error = notByLink;
  const int closed = closeOutput(fd);
  return error != 0 ? error : closed;
}

}  // namespace

int appendLine(const char* path, const char* line, std::size_t size, int waitSeconds) noexcept {
  if (size > maxAppendLine) return EINVAL;
  // A file that is not there is made with the line in it; where another
  // appender made it first, the line goes after its lines. After a few
  // such turns (a file that comes and goes), or where it cannot be made
  // so, the file is opened by its name, and made empty where it is not
  // there, as a shell's >> opens it.
  int fd = openForAppend(path, false);
  for (int turn = 0; fd < 0 && errno == ENOENT; ++turn) {
    const int made = turn < 3 ? createWithLine(path, line, size) : notByLink;
    if (made != EEXIST && made != notByLink) return made;
    fd = openForAppend(path, made == notByLink);
    if (made == notByLink) break;
  }
  if (fd < 0) return errno;
  const int error = appendUnderLock(fd, line, size, Wait{waitSeconds});
  // Closing releases the lock; where it fails the line may be lost.
  const int closed = closeOutput(fd);
  return error != 0 ? error : closed;
}

}  // namespace bitwords::detail
