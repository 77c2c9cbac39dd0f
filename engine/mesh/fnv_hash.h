// FNV-1a, 64 bits: a quick, stable fingerprint of bytes, for hash keys, cache names and the
// fingerprints that tell whether two meshes are the same. Not for anything an attacker picks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace grainforge::mesh {

inline constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ull;
inline constexpr std::uint64_t kFnvPrime = 1099511628211ull;

// `hash` carried on over `size` bytes at `data`, one byte at a time in memory order.
inline std::uint64_t Fnv1a(std::uint64_t hash, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= kFnvPrime;
    }
    return hash;
}

}  // namespace grainforge::mesh
