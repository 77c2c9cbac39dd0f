// Exact geometric predicates for deciding whether triangles of a mesh cross. Every answer is
// exact for the given coordinates: a quick floating-point evaluation decides when its error
// bound allows, and otherwise the determinant is evaluated exactly with floating-point
// expansions. Any finite float or double coordinates are accepted; the exact path needs no
// memory beyond a fixed local buffer, and every function may run on many threads at once.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cmath>

namespace grainforge::mesh {

// A point in double precision, x, y, z.
using Point3 = std::array<double, 3>;

// Sign of the determinant with rows b-a, c-a and d-a, that is of (b-a) . ((c-a) x (d-a)):
// +1 when d lies on the side of the plane through a, b, c toward which (b-a) x (c-a) points,
// -1 on the other side, 0 exactly when the four points are coplanar.
int Orient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d);

// The same sign, without the floating-point filter: a zero read off the coordinates where they
// show the points coplanar (two coincide, all share a coordinate, or they lie on at most two
// lines along an axis), else exact expansion arithmetic. Orient3d calls it when its filter
// cannot decide.
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
// The same answer, also saying whether the pair was passed over as coplanar (every corner of
// the second in the first's plane), for callers that judge such pairs by their own rule.
bool TrianglesIntersect(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second, bool& coplanar);

// Whether two triangles known to lie in one plane (as TrianglesIntersect's `coplanar` finds
// them) overlap in an area: a point inside both. Touching along an edge or at a corner does not
// count, nor does a triangle without area. Exact for the float coordinates, wherever they lie: a
// plane of a far coordinate is no coarser a test.
bool CoplanarTrianglesShareArea(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second);

// Whether every corner of `triangle` lies in the plane of `base` or on the side its normal
// (b1 - b0) x (b2 - b0) points to: the two can then meet only where `triangle` rests on `base`,
// along its edge or at its corner, and never pass through each other. Always true for a `base`
// without area (every orientation against it is zero).
bool RestsOnOuterSide(const std::array<Vec3, 3>& triangle, const std::array<Vec3, 3>& base);

// Whether three points lie on one line (repeated points included): the triangle they make
// encloses no area.
bool AreCollinear(const Point3& a, const Point3& b, const Point3& c);

// Whether two triangles that share the corner `apex` meet anywhere else: the edge opposite the
// apex in one of them (a1-a2 of the first, b1-b2 of the second) passes through or touches the
// other triangle, or, when both lie in one plane, they overlap in an area beyond the apex (a
// flap folded flat through the corner, as EdgeSharingTrianglesOverlap finds it through an
// edge). Coplanar triangles that touch only at the apex or along a ray from it do not count,
// nor does a triangle without area, whose opposite edge may run through the apex itself.
// Inline below: the self-intersection search asks it of every pair of neighbours.
inline bool CornerSharingTrianglesCross(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2);

// Whether the triangles a-b-c and a-b-d, which share the edge a-b, fold onto each other: they
// lie in one plane with c and d strictly on the same side of the edge, so that they overlap
// in an area. Any other pair of triangles on one edge meets only along that edge.
inline bool EdgeSharingTrianglesOverlap(Vec3 a, Vec3 b, Vec3 c, Vec3 d);

// ---- Inline parts ---------------------------------------------------------------------------

namespace detail {

// Orient3d trusts its floating-point determinant when it exceeds its permanent times this.
inline constexpr double kOrientFilterBound = 8.881784197001252e-16;  // 2^-50

// The plane through o, a and b, for the floating-point part of Orient3d against several
// points: the cross product (a - o) x (b - o) is worked out once, and each point's sign is
// that cross product dotted with (p - o), which is Orient3d's own order of evaluation, so its
// error bound holds.
class PlaneFilter {
public:
    PlaneFilter(Vec3 o, Vec3 a, Vec3 b) : o_{o.x, o.y, o.z}
    {
        const double ax = a.x - o_[0], ay = a.y - o_[1], az = a.z - o_[2];
        const double bx = b.x - o_[0], by = b.y - o_[1], bz = b.z - o_[2];
        normal_ = {ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx};
        bound_ = {std::fabs(ay * bz) + std::fabs(az * by), std::fabs(az * bx) + std::fabs(ax * bz),
            std::fabs(ax * by) + std::fabs(ay * bx)};
    }

    // +1 or -1 for the side of p when the floating-point value decides it; 0 when it cannot
    // (p on the plane or near it, or a "plane" of three points on a line).
    int SureSide(Vec3 p) const
    {
        const double dx = p.x - o_[0], dy = p.y - o_[1], dz = p.z - o_[2];
        const double det = normal_[0] * dx + normal_[1] * dy + normal_[2] * dz;
        const double permanent = bound_[0] * std::fabs(dx) + bound_[1] * std::fabs(dy) + bound_[2] * std::fabs(dz);
        if (!(std::fabs(det) > permanent * kOrientFilterBound))
            return 0;
        return det > 0.0 ? 1 : -1;
    }

    // Both points surely strictly on one side.
    bool SurelyOnOneSide(Vec3 p, Vec3 q) const
    {
        const int side = SureSide(p);
        return side != 0 && side == SureSide(q);
    }

private:
    Point3 o_;
    Point3 normal_;
    Point3 bound_;
};

// Whether the points all have the same coordinate on one axis: then they lie in one plane, as
// the flat faces of most parts do, which the exact arithmetic would take long to confirm.
inline bool ShareAnAxisPlane(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 e)
{
    return (a.x == b.x && a.x == c.x && a.x == d.x && a.x == e.x) || (a.y == b.y && a.y == c.y && a.y == d.y && a.y == e.y)
        || (a.z == b.z && a.z == c.z && a.z == d.z && a.z == e.z);
}

bool CornerSharingTrianglesCrossExactly(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2);
// The coplanar half of CornerSharingTrianglesCrossExactly, for five points known to lie in one
// plane: the two triangles' angles at the apex overlap.
bool CoplanarTrianglesOverlapAtCorner(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2);
bool EdgeSharingTrianglesOverlapExactly(Vec3 a, Vec3 b, Vec3 c, Vec3 d);
// The second half of EdgeSharingTrianglesOverlapExactly, for four points known to be coplanar.
bool CoplanarTrianglesFoldOnEdge(Vec3 a, Vec3 b, Vec3 c, Vec3 d);

}  // namespace detail

inline bool CornerSharingTrianglesCross(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2)
{
    // A triangle whose far corners lie strictly on one side of the other's plane meets that
    // plane only at the apex. So it is for most neighbours of a smooth surface, decided here in
    // floating point.
    if (detail::PlaneFilter(apex, a1, a2).SurelyOnOneSide(b1, b2) || detail::PlaneFilter(apex, b1, b2).SurelyOnOneSide(a1, a2))
        return false;
    // Flat faces of most parts lie in a plane of one axis: no orientation in space is needed to
    // know that the five points are coplanar.
    if (detail::ShareAnAxisPlane(apex, a1, a2, b1, b2))
        return detail::CoplanarTrianglesOverlapAtCorner(apex, a1, a2, b1, b2);
    return detail::CornerSharingTrianglesCrossExactly(apex, a1, a2, b1, b2);
}

inline bool EdgeSharingTrianglesOverlap(Vec3 a, Vec3 b, Vec3 c, Vec3 d)
{
    // Neighbours across an edge are rarely coplanar but on flat faces.
    if (detail::PlaneFilter(a, b, c).SureSide(d) != 0)
        return false;
    if (detail::ShareAnAxisPlane(a, b, c, d, d))
        return detail::CoplanarTrianglesFoldOnEdge(a, b, c, d);
    return detail::EdgeSharingTrianglesOverlapExactly(a, b, c, d);
}

}  // namespace grainforge::mesh
