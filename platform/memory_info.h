// How much memory the machine can still give a process, so that operations whose working set
// grows with a user setting (a fine contour cell) can refuse before allocating instead of
// being ended by the kernel's out-of-memory killer, which on Linux strikes before any
// allocation fails. In a container or under a memory cgroup the limit that counts is the
// cgroup's, which the system-wide figure does not show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace grainforge::platform {

// Bytes available for new allocations without swapping: the smallest of the system's
// MemAvailable (/proc/meminfo) and what the process's memory cgroup and its ancestors still
// allow (cgroup v2: memory.max less memory.current; v1: memory.limit_in_bytes less
// memory.usage_in_bytes; "max" or a limit of 2^60 bytes or more is no limit). The usage is
// taken less the reclaimable file cache from the same folder's memory.stat (v2 inactive_file,
// v1 total_inactive_file) when that file holds the figure, so a level never allows more than
// its limit. A cgroup with nothing left gives 1, so 0 means only that no figure could be
// read. The process's own limits count as well (proc/self/limits: the soft address-space limit
// less VmSize, the soft data limit less VmData, from proc/self/status), since a process under
// `ulimit -v` has its allocations fail while the machine still has plenty. Thread-safe; reads
// the files on every call.
std::uint64_t AvailableMemoryBytes();

// The same, reading proc/ and sys/fs/cgroup/ under `root` instead of "/" (for tests).
std::uint64_t AvailableMemoryBytesUnder(const std::filesystem::path& root);

// Asks the system to back the whole pages inside [data, data + bytes) with large pages (2 MiB
// transparent huge pages on Linux). Loops that jump around blocks of many megabytes then miss
// the address translation cache far less often. Only a hint: the contents are untouched, and
// a block too small to hold one large page, a null pointer or a refusal is simply left as it
// is. Thread-safe.
void AdviseLargePages(void* data, std::size_t bytes);

}  // namespace grainforge::platform
