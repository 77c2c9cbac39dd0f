// Exact geometric predicates for deciding whether triangles of a mesh cross. Every answer is
// exact for the given coordinates: a quick floating-point evaluation decides when its error
// bound allows, and otherwise the determinant is evaluated exactly with floating-point
// expansions. Any finite float or double coordinates are accepted; the exact path needs no
// memory beyond a fixed local buffer, and every function may run on many threads at once.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>

namespace grainforge::mesh {

// A point in double precision, x, y, z.
using Point3 = std::array<double, 3>;

// Sign of the determinant with rows b-a, c-a and d-a, that is of (b-a) . ((c-a) x (d-a)):
// +1 when d lies on the side of the plane through a, b, c toward which (b-a) x (c-a) points,
// -1 on the other side, 0 exactly when the four points are coplanar.
int Orient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d);

// The same sign, always computed with exact expansion arithmetic (Orient3d calls it when the
// floating-point filter cannot decide).
int Orient3dExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d);

// Whether the closed segment p-q meets the closed triangle a-b-c. A segment lying in the
// triangle's plane never counts; one through an edge or a corner, or ending on the triangle,
// does.
bool SegmentCrossesTriangle(const Point3& p, const Point3& q, const Point3& a, const Point3& b,
    const Point3& c);

// Whether two triangles cross or touch. Coplanar pairs are never reported. The roles are not
// symmetric: when the first triangle's corners are collinear the answer is always no, while a
// collinear second triangle can still meet the first.
bool TrianglesIntersect(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second);

}  // namespace grainforge::mesh
