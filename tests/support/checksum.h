// FNV-1a (64-bit) over the bytes of results that must stay the same to the bit, in memory
// order: a mesh's positions, normals and indices, a tree's nodes, a pair list, a report's text.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace grainforge::test {

class Fnv1a {
public:
    template <class T>
    Fnv1a& Add(std::span<const T> values)
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
        for (std::size_t i = 0; i < values.size_bytes(); ++i)
            hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ull;
        return *this;
    }
    template <class T>
    Fnv1a& Add(const std::vector<T>& values) { return Add(std::span<const T>(values)); }
    // The text's bytes alone; Text puts its length (32 bits) first.
    Fnv1a& Add(std::string_view text) { return Add(std::span<const char>(text.data(), text.size())); }
    template <class T>
    Fnv1a& AddValue(const T& value) { return Add(std::span<const T>(&value, 1)); }
    Fnv1a& Word(std::uint32_t word) { return AddValue(word); }
    Fnv1a& Text(std::string_view text) { return Word(static_cast<std::uint32_t>(text.size())).Add(text); }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

// Positions and normals bit for bit, then the indices, each list after its length.
inline std::uint64_t MeshChecksum(const mesh::TriangleMesh& mesh)
{
    Fnv1a hash;
    hash.Word(static_cast<std::uint32_t>(mesh.vertices.size()));
    for (const mesh::MeshVertex& vertex : mesh.vertices)
        for (const mesh::Vec3& v : {vertex.position, vertex.normal})
            hash.AddValue(v.x).AddValue(v.y).AddValue(v.z);
    return hash.Word(static_cast<std::uint32_t>(mesh.indices.size())).Add(mesh.indices).Value();
}

// A mesh's vertex and index lists as they lie in memory, without lengths.
inline Fnv1a& AddMesh(Fnv1a& sum, const mesh::TriangleMesh& mesh) { return sum.Add(mesh.vertices).Add(mesh.indices); }

// A pair list's pairs in ascending order, each kept as listed (first role, second role): the
// list's order is free, the roles are not.
inline std::uint64_t PairListChecksum(const std::vector<std::uint32_t>& list)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::size_t i = 0; i + 1 < list.size(); i += 2)
        pairs.emplace_back(list[i], list[i + 1]);
    std::sort(pairs.begin(), pairs.end());
    Fnv1a hash;
    hash.Word(static_cast<std::uint32_t>(list.size()));
    for (const auto& [t, u] : pairs)
        hash.Word(t).Word(u);
    return hash.Value();
}

}  // namespace grainforge::test
