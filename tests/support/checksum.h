// FNV-1a (64-bit) over the bits of results that must stay the same to the bit: a mesh's
// positions, normals and indices, a pair list taken in a fixed order, a report's text.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace grainforge::test {

class Fnv1a {
public:
    void Byte(std::uint8_t byte)
    {
        hash_ ^= byte;
        hash_ *= 1099511628211ULL;
    }
    void Word(std::uint32_t word)
    {
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    void Float(float value) { Word(std::bit_cast<std::uint32_t>(value)); }
    void Vec(mesh::Vec3 v)
    {
        Float(v.x);
        Float(v.y);
        Float(v.z);
    }
    void Text(std::string_view text)
    {
        Word(static_cast<std::uint32_t>(text.size()));
        for (char c : text)
            Byte(static_cast<std::uint8_t>(c));
    }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 14695981039346656037ULL;
};

// Positions and normals bit for bit, then the indices.
inline std::uint64_t MeshChecksum(const mesh::TriangleMesh& mesh)
{
    Fnv1a hash;
    hash.Word(static_cast<std::uint32_t>(mesh.vertices.size()));
    for (const mesh::MeshVertex& vertex : mesh.vertices) {
        hash.Vec(vertex.position);
        hash.Vec(vertex.normal);
    }
    hash.Word(static_cast<std::uint32_t>(mesh.indices.size()));
    for (std::uint32_t index : mesh.indices)
        hash.Word(index);
    return hash.Value();
}

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
    for (const auto& [t, u] : pairs) {
        hash.Word(t);
        hash.Word(u);
    }
    return hash.Value();
}

}  // namespace grainforge::test
