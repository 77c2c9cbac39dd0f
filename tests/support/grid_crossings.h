// An exact check that a mesh's triangles meet only where they share vertices, quick enough for
// a few hundred thousand triangles: a uniform grid of triangle boxes finds the pairs that may
// meet, and the exact orientation of four points decides. Rules:
// - no common vertex index: the closed triangles meet (crossing or touching), coplanar pairs
//   included;
// - one common vertex: they meet anywhere else (coplanar or not);
// - two common vertices: both in one plane and on the same side of the shared edge (folded);
// - three common vertices: always (a triangle present twice).
// Triangles without area or with a repeated vertex take part in no pair: CountTrianglesWithoutArea
// reports them.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace grainforge::test {

// Every meeting pair as (lower, higher) triangle index, ascending. An inconsistent mesh has none.
std::vector<std::pair<std::uint32_t, std::uint32_t>> FindMeetingPairsThroughGrid(const mesh::TriangleMesh& mesh);

// Triangles whose three corners are exactly collinear (or repeat a vertex index).
std::uint64_t CountTrianglesWithoutArea(const mesh::TriangleMesh& mesh);

}  // namespace grainforge::test
