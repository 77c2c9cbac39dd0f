// A brute-force reference for the self-intersection search: every pair of triangles of a mesh
// is tested, O(n^2), with nothing but the exact orientation of four points (Orient3d, itself
// checked against integer arithmetic), and the rules written out case by case:
// - no common vertex index: the triangles cross or touch, coplanar pairs excepted; the
//   lower-numbered triangle takes the first role, so a triangle without area in that role
//   meets nothing;
// - one common vertex: an edge of one meets the other beyond that vertex (both triangles with
//   area, not coplanar);
// - two common vertices (an edge): both in one plane, folded onto the same side of the edge;
// - three common vertices, or a triangle repeating a vertex of its own: never;
// - a triangle with a non-finite corner: never.
// Meant for meshes of a few thousand triangles.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace grainforge::test {

using CrossingPair = std::pair<std::uint32_t, std::uint32_t>;

// Every crossing pair as (lower, higher) triangle index, in ascending order. An inconsistent
// mesh has none.
std::vector<CrossingPair> FindCrossingPairsByBruteForce(const mesh::TriangleMesh& mesh);

// A pair list as FindSelfIntersections gives it (two indices per pair, any order) in the same
// form: (lower, higher), ascending; a pair listed twice stays twice, so that a comparison
// catches it.
std::vector<CrossingPair> SortedCrossingPairs(const std::vector<std::uint32_t>& pairs);

// The distinct triangles of the pairs, ascending.
std::vector<std::uint32_t> CrossingTriangles(const std::vector<CrossingPair>& pairs);

}  // namespace grainforge::test
