#include "datelist/memlimit.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

namespace bitwords::detail {
namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

// The files of one version of the memory controller.
struct Controller {
  const char* root;           // where its hierarchy is mounted
  const char* limit;          // the limit's file
  const char* usage;          // what the group takes, page cache included
  std::string_view cacheKey;  // the page cache's line in memory.stat
};

constexpr Controller v2{"/sys/fs/cgroup", "memory.max", "memory.current", "file "};
constexpr Controller v1{"/sys/fs/cgroup/memory", "memory.limit_in_bytes", "memory.usage_in_bytes",
                        "total_cache "};

// A folder's path, and room to name a file in it.
struct Folder {
  char path[4096];
  std::size_t size;
};

// The start of the file `name` in the folder, read into text (these files
// are small, and procfs and sysfs give them whole in one read); empty if
// it cannot be read.
std::string_view readIn(const Folder& folder, const char* name, char* text,
                        std::size_t size) noexcept {
  char path[sizeof folder.path + 32];
  std::snprintf(path, sizeof path, "%.*s/%s", static_cast<int>(folder.size), folder.path, name);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = ::read(fd, text, size);
  ::close(fd);
  return {text, static_cast<std::size_t>(std::max<ssize_t>(n, 0))};
}

// The decimal number that starts the text, or `otherwise` (for "max", or a
// file that is not there).
std::uint64_t number(std::string_view text, std::uint64_t otherwise) noexcept {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} ? value : otherwise;
}

// What is left under the group in the folder: its limit less what it
// takes beside the page cache, which the kernel reclaims before it runs
// out.
std::uint64_t leftIn(const Folder& folder, const Controller& c) noexcept {
  char text[4096];
  const std::uint64_t limit = number(readIn(folder, c.limit, text, sizeof text), unlimited);
  const std::uint64_t used = number(readIn(folder, c.usage, text, sizeof text), 0);
  const std::string_view stat = readIn(folder, "memory.stat", text, sizeof text);
  // The key at the start of a line.
  std::size_t at = stat.find(c.cacheKey);
  while (at != std::string_view::npos && at != 0 && stat[at - 1] != '\n') {
    at = stat.find(c.cacheKey, at + 1);
  }
  const std::uint64_t cache =
      at == std::string_view::npos ? 0 : number(stat.substr(at + c.cacheKey.size()), 0);
  const std::uint64_t taken = used - std::min(used, cache);
  return limit - std::min(limit, taken);
}

}  // namespace

std::uint64_t memoryLeft() noexcept {
  // Lines "id:controllers:path": v1's memory controller names itself, and
  // has the limits where it is there; v2's one hierarchy names none.
  const Folder proc{"/proc/self", 10};
  char text[4096];
  std::string_view groups = readIn(proc, "cgroup", text, sizeof text);
  const Controller* controller = nullptr;
  std::string_view group;
  while (!groups.empty()) {
    const std::string_view line = groups.substr(0, groups.find('\n'));
    groups.remove_prefix(std::min(groups.size(), line.size() + 1));
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    const std::string_view names = line.substr(first + 1, second - first - 1);
    // No other controller's name holds "memory"; a named hierarchy that
    // did would have no limit files to read.
    const bool memory = names.find("memory") != std::string_view::npos;
    if (memory || (names.empty() && controller == nullptr)) {
      controller = memory ? &v1 : &v2;
      group = line.substr(second + 1);
    }
  }
  if (controller == nullptr) return unlimited;
  // The group's folder; a container may have its own group mounted as the
  // hierarchy's root, and then only the root is there.
  Folder folder{};
  const std::size_t rootSize = std::strlen(controller->root);
  folder.size = std::min<std::size_t>(
      sizeof folder.path - 1, static_cast<std::size_t>(std::snprintf(
                                  folder.path, sizeof folder.path, "%s%.*s", controller->root,
                                  static_cast<int>(group.size()), group.data())));
  char probe[32];
  if (readIn(folder, controller->limit, probe, sizeof probe).empty()) folder.size = rootSize;
  // The tightest limit of the group and of each above it.
  std::uint64_t left = unlimited;
  for (;;) {
    left = std::min(left, leftIn(folder, *controller));
    if (folder.size <= rootSize) break;
    folder.size = std::string_view(folder.path, folder.size).rfind('/');
  }
  return left;
}

}  // namespace bitwords::detail
