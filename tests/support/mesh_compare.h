// Bit-for-bit comparison of two meshes, for passes that must leave a mesh untouched or give the
// same result on any thread count: positions and normals (so -0 and NaN count), indices and the
// cached box.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <gtest/gtest.h>

#include <cstring>

namespace grainforge::test {

inline ::testing::AssertionResult Identical(const mesh::TriangleMesh& a, const mesh::TriangleMesh& b)
{
    if (a.vertices.size() != b.vertices.size())
        return ::testing::AssertionFailure() << a.vertices.size() << " vertices against " << b.vertices.size();
    if (!a.vertices.empty() && std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(mesh::MeshVertex)) != 0)
        return ::testing::AssertionFailure() << "the vertices differ";
    if (a.indices != b.indices)
        return ::testing::AssertionFailure() << "the indices differ";
    if (a.boundsValid != b.boundsValid || std::memcmp(&a.boundsMin, &b.boundsMin, sizeof a.boundsMin) != 0
        || std::memcmp(&a.boundsMax, &b.boundsMax, sizeof a.boundsMax) != 0)
        return ::testing::AssertionFailure() << "the boxes differ";
    return ::testing::AssertionSuccess();
}

}  // namespace grainforge::test
