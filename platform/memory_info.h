// How much memory the machine can still give a process, so that operations whose working set
// grows with a user setting (a fine contour cell) can refuse before allocating instead of
// being ended by the kernel's out-of-memory killer, which on Linux strikes before any
// allocation fails.
#pragma once

#include <cstdint>

namespace grainforge::platform {

// Bytes available for new allocations without swapping (MemAvailable of /proc/meminfo), or 0
// when the figure cannot be read. Thread-safe; reads the file on every call.
std::uint64_t AvailableMemoryBytes();

}  // namespace grainforge::platform
