// An indexed mesh typed in by hand: the positions (normals zero) and the indices as given,
// with the box computed.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace grainforge::test {

inline mesh::TriangleMesh MeshOf(const std::vector<mesh::Vec3>& positions, std::vector<std::uint32_t> indices)
{
    mesh::TriangleMesh result;
    for (const mesh::Vec3& p : positions)
        result.vertices.push_back({p, {}});
    result.indices = std::move(indices);
    result.ComputeBounds();
    return result;
}

}  // namespace grainforge::test
