// A non-deterministic 32-bit random source, used for names of temporary files.
#pragma once

#include <cstdint>

namespace grainforge::platform {

// One value from the operating system's random source (getrandom). Thread-safe.
std::uint32_t RandomU32();

}  // namespace grainforge::platform
