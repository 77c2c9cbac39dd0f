// Exact references for the self-intersection search and for sound results: one test of a pair
// of triangles, written out case by case with nothing but the exact orientation of four points
// (Orient3d, itself checked against integer arithmetic), and two ways to find the pairs to put
// to it: every pair (O(n^2), for meshes of a few thousand triangles) or a uniform grid of
// triangle boxes (quick enough for a few hundred thousand).
//
// Two rules, apart on purpose:
// - crossing, what FindSelfIntersections must report: contacts a slicer cannot take for a
//   seam. No common vertex index: the triangles cross or touch, coplanar pairs only when both
//   have area, overlap in an area and lie in one piece (joined through shared vertices), and
//   pairs of two pieces only when neither rests on the outer side of the other's plane (one
//   that does only touches: bodies laid against each other); the
//   lower-numbered triangle takes the first role, so a triangle without area in that role
//   meets nothing. One common vertex (both with area): an edge of one meets the other beyond
//   that vertex, or, coplanar, they overlap in an area (touching along a line or at the vertex
//   does not count). Two (an edge): both in one plane, folded onto the same side of the edge.
//   Three, or a triangle repeating a vertex of its own: never.
// - meeting, what a sound solid must be free of: triangles meet only where they share
//   vertices. Coplanar overlaps and touches count too (no common vertex: the closed triangles
//   meet; one: they meet anywhere else; two: folded as above; three: always, a triangle
//   present twice). Triangles without area take part in no pair; CountTrianglesWithoutArea
//   reports them.
// Under both, a triangle with a non-finite corner meets nothing, and an inconsistent mesh has no
// pairs.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace grainforge::test {

using CrossingPair = std::pair<std::uint32_t, std::uint32_t>;

enum class PairRule { crossing, meeting };

// Every pair the rule counts as (lower, higher) triangle index, ascending, by testing every
// pair whose boxes meet.
std::vector<CrossingPair> FindPairsByBruteForce(const mesh::TriangleMesh& mesh, PairRule rule);

// The same pairs, with the candidates from a uniform grid of triangle boxes.
std::vector<CrossingPair> FindPairsThroughGrid(const mesh::TriangleMesh& mesh, PairRule rule);

// FindPairsByBruteForce under the crossing rule.
std::vector<CrossingPair> FindCrossingPairsByBruteForce(const mesh::TriangleMesh& mesh);

// FindPairsThroughGrid under the meeting rule.
std::vector<CrossingPair> FindMeetingPairsThroughGrid(const mesh::TriangleMesh& mesh);

// Triangles whose three corners are exactly collinear (or repeat a vertex index, or are not finite).
std::uint64_t CountTrianglesWithoutArea(const mesh::TriangleMesh& mesh);

// A pair list as FindSelfIntersections gives it (two indices per pair, any order) in the same
// form: (lower, higher), ascending; a pair listed twice stays twice, so that a comparison
// catches it.
std::vector<CrossingPair> SortedCrossingPairs(const std::vector<std::uint32_t>& pairs);

// The distinct triangles of the pairs, ascending.
std::vector<std::uint32_t> CrossingTriangles(const std::vector<CrossingPair>& pairs);

}  // namespace grainforge::test
