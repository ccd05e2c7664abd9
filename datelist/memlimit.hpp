// What is left under the memory limit of the process's control group, so
// that a large load stops with an out-of-memory report where the kernel
// would otherwise kill the process when it touches memory that malloc gave
// it. Internal to the library.
#pragma once

#include <cstdint>

namespace bitwords::detail {

// The bytes the process may still take before its memory cgroup, or one
// above it, reaches its limit (cgroup v2 memory.max, or v1
// memory.limit_in_bytes), page cache not counted as taken; UINT64_MAX
// where no limit applies or none can be read. Reads a few small files:
// for large allocations only.
std::uint64_t memoryLeft() noexcept;

}  // namespace bitwords::detail
