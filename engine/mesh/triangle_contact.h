// Exact tests of whether two triangles of one mesh meet anywhere but at the vertices they share,
// for operations that must not make a surface cross or fold onto itself. The rules, by the
// number of vertex indices the two have in common:
// - none: the closed triangles meet (cross or touch), coplanar pairs included;
// - one: they meet anywhere but at that vertex;
// - two: both lie in one plane, on the same side of the shared edge (folded onto each other);
// - three: always (the same triangle twice).
// Answers are exact for the given coordinates; a quick floating-point filter settles most pairs.
#pragma once

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh {

// A triangle as the tests read it: its vertex indices and their positions, and what
// PrepareContact works out from them once for the many pairs a triangle takes part in.
struct ContactTriangle {
    std::array<std::uint32_t, 3> index{};
    std::array<Point3, 3> point{};
    Point3 normal{};  // (p1 - p0) x (p2 - p0), not normalised
    Point3 low{};
    Point3 high{};
    double edgeProduct = 0.0;  // |p1 - p0| |p2 - p0|, for the rounding bound of plane tests
};

// Fills the normal, box and edge product from the points.
void PrepareContact(ContactTriangle& triangle);

// Whether the three points lie exactly on one line (or coincide).
bool PointsCollinear(const Point3& a, const Point3& b, const Point3& c);

// Whether two prepared triangles with area meet anywhere but at their shared vertices (rules
// above).
bool TrianglesMeetBeyondSharedVertices(const ContactTriangle& a, const ContactTriangle& b);

// The changed triangles of the mesh without area (exactly collinear corners), and both
// triangles of every pair with a changed one that meet beyond their shared vertices by the
// rules above, in ascending order. `changed` holds one byte per triangle, non-zero for the
// changed ones; of any other length, every triangle counts as changed. Pairs of two unchanged
// triangles are not looked at, nor pairs with a triangle without area. Exact for the float
// coordinates, searched in parallel; the answer does not depend on the thread count. An
// inconsistent mesh gives none.
std::vector<std::uint32_t> ChangedTrianglesMeetingOrFlat(const TriangleMesh& mesh, std::span<const std::uint8_t> changed);

// The same search, pair by pair: {t, u} with t < u for two triangles that meet, {t, t} for a
// changed triangle without area, in ascending order.
std::vector<std::array<std::uint32_t, 2>> ChangedTrianglePairsMeetingOrFlat(const TriangleMesh& mesh,
                                                                          std::span<const std::uint8_t> changed);

}  // namespace grainforge::mesh
