// A 64-bit FNV-1a checksum of a mesh's exact bytes (positions, normals, indices), for
// tests that prove a rewrite of an operation leaves its output unchanged to the bit.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace grainforge::test {

class Checksum {
public:
    template <class T>
    Checksum& Add(std::span<const T> values)
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
        for (std::size_t i = 0; i < values.size_bytes(); ++i)
            value_ = (value_ ^ bytes[i]) * 0x100000001b3ull;
        return *this;
    }
    template <class T>
    Checksum& Add(const std::vector<T>& values) { return Add(std::span<const T>(values)); }
    Checksum& Add(std::string_view text) { return Add(std::span<const char>(text.data(), text.size())); }
    template <class T>
    Checksum& AddValue(const T& value) { return Add(std::span<const T>(&value, 1)); }
    std::uint64_t Value() const { return value_; }

private:
    std::uint64_t value_ = 0xcbf29ce484222325ull;
};

inline Checksum& AddMesh(Checksum& sum, const mesh::TriangleMesh& mesh)
{
    return sum.Add(mesh.vertices).Add(mesh.indices);
}

}  // namespace grainforge::test
