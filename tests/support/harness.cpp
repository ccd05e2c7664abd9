#include "tests/support/harness.hpp"

#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

// An ext2 file system of `bytes` bytes (1 KiB blocks, none kept for root),
// made in an image beside the folder and mounted on it through a loop
// device that goes with the mount.
bool mountExt2(const std::filesystem::path& folder, std::size_t bytes) {
  const std::string image = folder.string() + ".img";
  const std::string make = "mkfs.ext2 -q -F -b 1024 -m 0 -N 32 '" + image + "' " +
                           std::to_string(bytes >> 10) + " >/dev/null 2>&1";
  if (std::system(("PATH=$PATH:/sbin:/usr/sbin " + make).c_str()) != 0) return false;
  const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  const int number = control < 0 ? -1 : ::ioctl(control, LOOP_CTL_GET_FREE);
  const std::string device = "/dev/loop" + std::to_string(number);
  const int loop = number < 0 ? -1 : ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  const int file = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
  loop_config config{};
  config.fd = static_cast<std::uint32_t>(file);
  config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
  const bool mounted = loop >= 0 && file >= 0 && ::ioctl(loop, LOOP_CONFIGURE, &config) == 0 &&
                       ::mount(device.c_str(), folder.c_str(), "ext2", 0, nullptr) == 0;
  for (const int fd : {control, loop, file}) {
    if (fd >= 0) ::close(fd);
  }
  std::filesystem::remove(image);
  return mounted;
}

}  // namespace

MemoryCgroup ownMemoryCgroup() {
  std::ifstream groups("/proc/self/cgroup");
  MemoryCgroup own{"/sys/fs/cgroup", "", false};
  for (std::string line; std::getline(groups, line);) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    std::string names = ",";
    names.append(line, first + 1, second - first - 1).push_back(',');
    if (names.find(",memory,") != std::string::npos) own = {"/sys/fs/cgroup/memory", "", true};
    if (names.find(",memory,") != std::string::npos || (names == ",," && !own.v1))
      own.group = line.substr(second + 1);
  }
  return own;
}

std::string refusedReason(const Isolation& isolation) {
  if (isolation.memoryLimit != 0)
    return "a memory cgroup of its own needs root, and a memory controller that delegates";
  if (isolation.fileSystem == FileSystem::ext2)
    return "an ext2 image needs root, mkfs.ext2 and loop devices";
  if (isolation.ordinaryUser) return "acting as another user needs root";
  return "the kernel refuses a private mount namespace here (no user namespaces for this user, "
         "or a process with threads, as under qemu-user)";
}

bool enterIsolation(const Isolation& isolation, const std::filesystem::path& group) {
  const bool root = ::geteuid() == 0;
  if (!group.empty() && !writeFile(group / "cgroup.procs", "0")) return false;
  if (!isolation.mount.empty()) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (isolation.fileSystem == FileSystem::ext2 && !root) return false;
    if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    // The same identity inside, so that files keep their owner.
    if (!root &&
        (!writeFile("/proc/self/setgroups", "deny") ||
         !writeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
         !writeFile("/proc/self/gid_map",
                    std::to_string(gid) + " " + std::to_string(gid) + " 1"))) {
      return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    const std::string size = "size=" + std::to_string(isolation.bytes);
    if (isolation.fileSystem == FileSystem::ext2
            ? !mountExt2(isolation.mount, isolation.bytes)
            : ::mount("tmpfs", isolation.mount.c_str(), "tmpfs", 0, size.c_str()) != 0) {
      return false;
    }
  }
  if (isolation.ordinaryUser && root) return ::setegid(nobody) == 0 && ::seteuid(nobody) == 0;
  return true;
}

MemoryGroup::MemoryGroup(std::uint64_t limit) {
  if (limit == 0 || ::geteuid() != 0) return;
  const MemoryCgroup own = ownMemoryCgroup();
  const std::filesystem::path made = own.folder() / ("bitwords-" + std::to_string(::getpid()));
  if (::mkdir(made.c_str(), 0755) != 0) return;
  if (writeFile(made / (own.v1 ? "memory.limit_in_bytes" : "memory.max"), std::to_string(limit))) {
    path = made;
  } else {
    ::rmdir(made.c_str());
  }
}

MemoryGroup::~MemoryGroup() {
  // Its last process has ended; the kernel may take a moment to let go.
  for (int tries = 0; !path.empty() && ::rmdir(path.c_str()) != 0 && tries < 100; ++tries) {
    ::usleep(10'000);
  }
}
