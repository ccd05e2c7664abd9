// The memory budget of a load, in one place: what the address-space limits,
// the memory cgroup and the machine leave. Past a cgroup's limit the kernel
// does not refuse memory but kills the process that touches it, so a load
// must stop short of it by itself; and huge pages for its block.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "datelist/edge.hpp"

namespace bitwords::detail {
namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

// Wants within a page are granted without a look, which would cost more
// than the rest of a small load: they touch at most two pages the process
// has not touched, no more than its own report would, which no budget can
// keep from the kernel.
constexpr std::size_t smallWant = std::size_t{4} << 10;

// Kept back under the address-space limits for what the process maps
// beside a load's memory (its read block and records, within the budget)
// once the budget is set: the stack of a load and of a report, the heap's
// bookkeeping; what it maps already is counted where it is looked up.
// Measured: datelist lists every date that fits with nothing kept, and as
// many but a few thousand with 256 KiB; 64 KiB is kept.
constexpr std::uint64_t spaceReserve = std::uint64_t{64} << 10;

// Kept back under a memory cgroup's limit, past which the kernel kills
// rather than refuses: besides the above, what the group is charged for
// that the process does not map, some of it fixed (page tables, the page
// cache of its output until it is written back), some growing with the
// load (under qemu-user, the emulator's own memory): 1 MiB and a
// thirty-second of what is left. Measured: in groups of 1 to 16 MiB, with
// the output to a file on disk, datelist lists what fits with 512 KiB
// kept, and a coverage build, whose counters it touches as it goes, with 1
// MiB; under qemu-user a load of 36 MiB of records is killed with nothing
// kept, and completes with 1 MiB.
constexpr std::uint64_t groupReserve = std::uint64_t{1} << 20;
constexpr std::uint64_t groupShare = 32;

// The start of the file `name` in the folder, read into text (these files
// are small, and procfs and sysfs give them whole in one read); empty if
// it cannot be read.
std::string_view readIn(std::string_view folder, const char* name, char* text,
                        std::size_t size) noexcept {
  char path[4096 + 64];
  std::snprintf(path, sizeof path, "%.*s/%s", static_cast<int>(folder.size()), folder.data(), name);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = ::read(fd, text, size);
  ::close(fd);
  return {text, static_cast<std::size_t>(std::max<ssize_t>(n, 0))};
}

// The text from `from` on, empty past its end; and its first `size`
// bytes, or all of it. (std::string_view::substr would throw past the end.)
std::string_view after(std::string_view text, std::size_t from) noexcept {
  from = std::min(from, text.size());
  return {text.data() + from, text.size() - from};
}
std::string_view before(std::string_view text, std::size_t size) noexcept {
  return {text.data(), std::min(size, text.size())};
}

// The decimal number that starts the text, or `otherwise` (for "max", or a
// file that is not there).
std::uint64_t number(std::string_view text, std::uint64_t otherwise) noexcept {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} ? value : otherwise;
}

// The value of the line "key value" of memory.stat; 0 where there is none.
std::uint64_t statValue(std::string_view stat, std::string_view key) noexcept {
  while (!stat.empty()) {
    const std::string_view line = before(stat, stat.find('\n'));
    if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ' ')
      return number(after(line, key.size() + 1), 0);
    stat = after(stat, line.size() + 1);
  }
  return 0;
}

// The files of one version of the memory controller.
struct Controller {
  const char* root;   // where its hierarchy is mounted
  const char* limit;  // the limit's file
  const char* usage;  // what the group takes, page cache included
  bool v1;
};

constexpr Controller unified{"/sys/fs/cgroup", "memory.max", "memory.current", false};
constexpr Controller legacy{"/sys/fs/cgroup/memory", "memory.limit_in_bytes",
                            "memory.usage_in_bytes", true};

// What is left under the memory cgroup's limit, and under the limits of
// every group above it; unlimited where none applies or none can be read.
// A limit above the machine's memory limits nothing, and the group's
// usage is read only where a limit is below it, so that the common look
// is a file a level.
std::uint64_t cgroupLeft(std::uint64_t machine) noexcept {
  // Lines "id:controllers:path": v1's memory controller names itself, and
  // has the limits where it is there; v2's one hierarchy names none.
  char text[4096];
  std::string_view groups = readIn("/proc/self", "cgroup", text, sizeof text);
  const Controller* controller = nullptr;
  std::string_view group;
  while (!groups.empty()) {
    const std::string_view line = before(groups, groups.find('\n'));
    groups = after(groups, line.size() + 1);
    const std::string_view rest = after(line, line.find(':') + 1);
    const std::string_view names = before(rest, rest.find(':'));
    // No other controller's name holds "memory"; a named hierarchy that
    // did would have no limit files to read.
    const bool memory = names.find("memory") != std::string_view::npos;
    if (memory || (names.empty() && controller == nullptr)) {
      controller = memory ? &legacy : &unified;
      group = after(rest, names.size() + 1);
    }
  }
  if (controller == nullptr) return unlimited;
  char path[4096];
  const std::size_t rootSize = std::strlen(controller->root);
  std::size_t size = std::min<std::size_t>(
      sizeof path - 1,
      static_cast<std::size_t>(std::snprintf(path, sizeof path, "%s%.*s", controller->root,
                                             static_cast<int>(group.size()), group.data())));
  // The tightest limit of the group and of each above it. A container may
  // have its own group mounted as the hierarchy's root, and then only the
  // root is there.
  std::uint64_t left = unlimited;
  for (bool leaf = true;; leaf = false) {
    const std::string_view folder(path, size);
    char limit[64];
    char usage[64];
    char stat[4096];
    const std::string_view most = readIn(folder, controller->limit, limit, sizeof limit);
    if (most.empty() && leaf && size > rootSize) {
      size = rootSize;
      continue;
    }
    if (number(most, unlimited) < machine) {
      left = std::min(
          left, leftInGroup(most, readIn(folder, controller->usage, usage, sizeof usage),
                            readIn(folder, "memory.stat", stat, sizeof stat), controller->v1));
    }
    if (size <= rootSize) break;
    size = folder.rfind('/');
  }
  return left;
}

// What is left under the address-space limits: RLIMIT_AS for all of the
// process's mappings, RLIMIT_DATA for its private writable ones.
std::uint64_t addressSpaceLeft() noexcept {
  rlimit space{RLIM_INFINITY, RLIM_INFINITY};
  rlimit data{RLIM_INFINITY, RLIM_INFINITY};
  // (getrlimit cannot fail for these; they stay unlimited if it did.)
  static_cast<void>(::getrlimit(RLIMIT_AS, &space));
  static_cast<void>(::getrlimit(RLIMIT_DATA, &data));
  if (space.rlim_cur == RLIM_INFINITY && data.rlim_cur == RLIM_INFINITY) return unlimited;
  // What the process maps now, in pages: all, and private writable (data
  // and stack). Without /proc, the limits alone.
  char text[256];
  std::string_view statm = readIn("/proc/self", "statm", text, sizeof text);
  std::uint64_t pages[6] = {};
  for (std::uint64_t& field : pages) {
    const auto [end, error] = std::from_chars(statm.data(), statm.data() + statm.size(), field);
    statm.remove_prefix(std::min(statm.size(), static_cast<std::size_t>(end - statm.data()) + 1));
  }
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const auto left = [&](rlim_t limit, std::uint64_t used) {
    return limit == RLIM_INFINITY ? unlimited : limit - std::min<std::uint64_t>(limit, used * page);
  };
  return std::min(left(space.rlim_cur, pages[0]), left(data.rlim_cur, pages[5]));
}

}  // namespace

std::uint64_t leftInGroup(std::string_view limit, std::string_view usage, std::string_view stat,
                          bool v1) noexcept {
  const std::uint64_t most = number(limit, unlimited);
  if (most == unlimited) return unlimited;
  const std::uint64_t used = number(usage, 0);
  // The page cache on the reclaim lists: shared memory and tmpfs pages are
  // counted as cache too, but sit on the lists of anonymous memory, and
  // without swap cannot be reclaimed.
  const std::uint64_t cache =
      v1 ? statValue(stat, "total_active_file") + statValue(stat, "total_inactive_file")
         : statValue(stat, "active_file") + statValue(stat, "inactive_file");
  const std::uint64_t taken = used - std::min(used, cache);
  return most - std::min(most, taken);
}

std::size_t memoryBudget(std::size_t wanted) noexcept {
  if (wanted <= smallWant) return wanted;
  const auto less = [](std::uint64_t room, std::uint64_t reserve) {
    return room > reserve ? room - reserve : 0;
  };
  // (sysconf cannot fail for the machine's pages and their size.)
  const std::uint64_t machine = static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) *
                                static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t group = cgroupLeft(machine);
  const std::uint64_t budget = std::min({machine, less(addressSpaceLeft(), spaceReserve),
                                         less(group, groupReserve + group / groupShare)});
  return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, budget));
}

void preferHugePages(void* block) noexcept {
#ifdef MADV_HUGEPAGE
  constexpr std::size_t huge = std::size_t{2} << 20;
  const std::size_t size = block == nullptr ? 0 : ::malloc_usable_size(block);
  if (size < huge) return;
  // A large block is a mapping of its own, from a page boundary below it to
  // one at or past its end: advised whole, it stays one mapping, which the
  // heap can move with mremap(2) as it grows or shrinks.
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t before = reinterpret_cast<std::uintptr_t>(block) & (page - 1);
  const std::size_t length = (before + size + page - 1) & ~(page - 1);
  ::madvise(static_cast<char*>(block) - before, length, MADV_HUGEPAGE);
#else
  static_cast<void>(block);
#endif
}

}  // namespace bitwords::detail
