// Exact orientation after J. R. Shewchuk, "Adaptive Precision Floating-Point Arithmetic and
// Fast Robust Geometric Predicates" (Discrete & Computational Geometry 18, 1997): Two-Diff,
// Two-Product and Grow-Expansion with zero elimination. The products use a fused multiply-add
// for the exact error term instead of Dekker's splitting.
#include "engine/mesh/exact_predicates.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace grainforge::mesh {
namespace {

// Six permutations of three terms, each with its sign, for the Leibniz expansion of a 3x3
// determinant.
struct Permutation {
    int i, j, k;
    double sign;
};
constexpr Permutation kPermutations[6] = {
    {0, 1, 2, 1.0}, {1, 2, 0, 1.0}, {2, 0, 1, 1.0},
    {0, 2, 1, -1.0}, {1, 0, 2, -1.0}, {2, 1, 0, -1.0},
};

// Six permutations x up to 2 x 2 x 2 component triples x up to 4 components per triple product.
constexpr std::size_t kMaxComponents = 6 * 8 * 4;

// a - b as hi + lo exactly.
struct TwoTerm {
    double hi;
    double lo;
};

TwoTerm TwoDiff(double a, double b)
{
    const double x = a - b;
    const double bVirtual = a - x;
    const double aVirtual = x + bVirtual;
    const double bRound = bVirtual - b;
    const double aRound = a - aVirtual;
    return {x, aRound + bRound};
}

TwoTerm TwoProduct(double a, double b)
{
    const double p = a * b;
    return {p, std::fma(a, b, -p)};
}

TwoTerm TwoSum(double a, double b)
{
    const double x = a + b;
    const double bVirtual = x - a;
    const double aVirtual = x - bVirtual;
    const double bRound = b - bVirtual;
    const double aRound = a - aVirtual;
    return {x, aRound + bRound};
}

// A non-overlapping expansion, components in increasing magnitude, no zero components.
class Expansion {
public:
    // Grow-Expansion with zero elimination; writing in place is safe because the output index
    // never passes the input index.
    void Add(double b)
    {
        double q = b;
        std::size_t out = 0;
        for (std::size_t in = 0; in < size_; ++in) {
            const TwoTerm sum = TwoSum(q, components_[in]);
            q = sum.hi;
            if (sum.lo != 0.0)
                components_[out++] = sum.lo;
        }
        if (q != 0.0)
            components_[out++] = q;
        size_ = out;
    }

    int Sign() const
    {
        if (size_ == 0)
            return 0;
        return components_[size_ - 1] > 0.0 ? 1 : -1;
    }

private:
    double components_[kMaxComponents + 1] = {};
    std::size_t size_ = 0;
};

// Adds sign * x * y * z to the expansion exactly, term by term.
void AddTripleProduct(Expansion& sum, double sign, double x, double y, double z)
{
    if (x == 0.0 || y == 0.0 || z == 0.0)
        return;
    const TwoTerm xy = TwoProduct(x, y);
    for (double part : {xy.lo, xy.hi}) {
        if (part == 0.0)
            continue;
        const TwoTerm product = TwoProduct(part, z);
        if (product.lo != 0.0)
            sum.Add(sign * product.lo);
        if (product.hi != 0.0)
            sum.Add(sign * product.hi);
    }
}

int SignOf(double value)
{
    return value > 0.0 ? 1 : (value < 0.0 ? -1 : 0);
}

Point3 ToPoint(Vec3 v) { return {v.x, v.y, v.z}; }

// Sign of the orientation of p, q, r seen in the plane of the axes i and j (positive when they
// turn counter-clockwise there): the orientation of the three points laid in z = 0 against the
// point one above p, which is exact because Orient3d is.
int Orient2dOnAxes(const Point3& p, const Point3& q, const Point3& r, int i, int j)
{
    return Orient3d({p[i], p[j], 0.0}, {q[i], q[j], 0.0}, {r[i], r[j], 0.0}, {p[i], p[j], 1.0});
}

constexpr int kAxisPairs[3][2] = {{0, 1}, {1, 2}, {2, 0}};

// Whether the points are coplanar for a reason the coordinates show without arithmetic: two
// of them coincide, all four share one coordinate (a plane of that axis), or, seen along an
// axis, they fall on at most two places (at most two lines parallel to the axis, which one
// plane holds). Flat faces of most parts lie in planes of an axis, and straight walls are
// often meshed in columns of vertices one above the other; there the determinant is exactly
// zero, which the expansions take long to find.
bool CoplanarByCoordinates(const Point3& a, const Point3& b, const Point3& c, const Point3& d)
{
    if (a == b || a == c || a == d || b == c || b == d || c == d)
        return true;
    for (const auto& axes : kAxisPairs) {
        const int u = axes[0];
        const int v = axes[1];
        const int w = 3 - u - v;
        if (a[w] == b[w] && a[w] == c[w] && a[w] == d[w])
            return true;
        const auto same = [u, v](const Point3& p, const Point3& q) { return p[u] == q[u] && p[v] == q[v]; };
        // Four points in at most two places: a shares its place with two others, or the two
        // not with it share one.
        const bool ab = same(a, b), ac = same(a, c), ad = same(a, d);
        if ((ab && ac) || (ab && ad) || (ac && ad) || (ab && same(c, d)) || (ac && same(b, d)) || (ad && same(b, c)))
            return true;
        if (!ab && !ac && !ad && same(b, c) && same(b, d))
            return true;
    }
    return false;
}

}  // namespace

int Orient3dExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d)
{
    // Here rather than in Orient3d, whose filter path the crossing search runs through millions
    // of times and which stays short out of line of this.
    if (CoplanarByCoordinates(a, b, c, d))
        return 0;
    TwoTerm rowB[3], rowC[3], rowD[3];
    for (int axis = 0; axis < 3; ++axis) {
        rowB[axis] = TwoDiff(b[axis], a[axis]);
        rowC[axis] = TwoDiff(c[axis], a[axis]);
        rowD[axis] = TwoDiff(d[axis], a[axis]);
    }
    Expansion sum;
    for (const Permutation& p : kPermutations) {
        for (double x : {rowB[p.i].lo, rowB[p.i].hi})
            for (double y : {rowC[p.j].lo, rowC[p.j].hi})
                for (double z : {rowD[p.k].lo, rowD[p.k].hi})
                    AddTripleProduct(sum, p.sign, x, y, z);
    }
    return sum.Sign();
}

int Orient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d)
{
    const double bx = b[0] - a[0], by = b[1] - a[1], bz = b[2] - a[2];
    const double cx = c[0] - a[0], cy = c[1] - a[1], cz = c[2] - a[2];
    const double dx = d[0] - a[0], dy = d[1] - a[1], dz = d[2] - a[2];
    const double det = bx * (cy * dz - cz * dy) - by * (cx * dz - cz * dx) + bz * (cx * dy - cy * dx);
    const double permanent = std::fabs(bx) * (std::fabs(cy * dz) + std::fabs(cz * dy))
        + std::fabs(by) * (std::fabs(cx * dz) + std::fabs(cz * dx))
        + std::fabs(bz) * (std::fabs(cx * dy) + std::fabs(cy * dx));
    if (std::fabs(det) > permanent * detail::kOrientFilterBound)
        return SignOf(det);
    return Orient3dExact(a, b, c, d);
}

bool SegmentCrossesTriangle(const Point3& p, const Point3& q, const Point3& a, const Point3& b,
    const Point3& c)
{
    if (Orient3d(a, b, c, p) == Orient3d(a, b, c, q))
        return false;
    const int o1 = Orient3d(p, q, a, b);
    const int o2 = Orient3d(p, q, b, c);
    const int o3 = Orient3d(p, q, c, a);
    bool positive = false;
    bool negative = false;
    for (int o : {o1, o2, o3}) {
        positive = positive || o > 0;
        negative = negative || o < 0;
    }
    return positive != negative;
}

bool TrianglesIntersect(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second)
{
    bool coplanar = false;
    return TrianglesIntersect(first, second, coplanar);
}

bool TrianglesIntersect(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second, bool& coplanar)
{
    coplanar = false;
    Point3 a[3], b[3];
    for (int k = 0; k < 3; ++k) {
        a[k] = {first[k].x, first[k].y, first[k].z};
        b[k] = {second[k].x, second[k].y, second[k].z};
    }
    const int bSide[3] = {Orient3d(a[0], a[1], a[2], b[0]), Orient3d(a[0], a[1], a[2], b[1]),
        Orient3d(a[0], a[1], a[2], b[2])};
    if (bSide[0] == 0 && bSide[1] == 0 && bSide[2] == 0) {
        coplanar = true;
        return false;
    }
    // A triangle strictly on one side of the other's plane meets no edge of it and none of its
    // edges reaches that plane, so every edge test below would answer no: skip them. Most
    // candidate pairs of a clean mesh end here.
    if (bSide[0] == bSide[1] && bSide[1] == bSide[2])
        return false;
    const int aSide[3] = {Orient3d(b[0], b[1], b[2], a[0]), Orient3d(b[0], b[1], b[2], a[1]),
        Orient3d(b[0], b[1], b[2], a[2])};
    if (aSide[0] != 0 && aSide[0] == aSide[1] && aSide[1] == aSide[2])
        return false;
    for (int i = 0; i < 3; ++i) {
        const int next = (i + 1) % 3;
        if (SegmentCrossesTriangle(a[i], a[next], b[0], b[1], b[2])
            || SegmentCrossesTriangle(b[i], b[next], a[0], a[1], a[2]))
            return true;
    }
    return false;
}

bool CoplanarTrianglesShareArea(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second)
{
    // Boxes that only touch on an axis the plane is not square to hold both triangles' common
    // points on one line of the plane: no area. So it is for most pairs of a finely meshed flat
    // face, whose neighbours' neighbours touch the box of a triangle along its side.
    for (int axis = 0; axis < 3; ++axis) {
        const auto on = [axis](Vec3 v) { return axis == 0 ? v.x : (axis == 1 ? v.y : v.z); };
        const auto low = [&on](const std::array<Vec3, 3>& t) { return std::min({on(t[0]), on(t[1]), on(t[2])}); };
        const auto high = [&on](const std::array<Vec3, 3>& t) { return std::max({on(t[0]), on(t[1]), on(t[2])}); };
        const float lowA = low(first), highA = high(first), lowB = low(second), highB = high(second);
        if ((highA <= lowB || highB <= lowA) && (lowA != highA || lowB != highB))
            return false;
    }
    Point3 a[3], b[3];
    for (int k = 0; k < 3; ++k) {
        a[k] = ToPoint(first[k]);
        b[k] = ToPoint(second[k]);
    }
    // In a plane of axes where the first has area the projection maps the common plane one to
    // one; the second then has area there too unless it has none at all.
    for (const auto& axes : kAxisPairs) {
        const int turnA = Orient2dOnAxes(a[0], a[1], a[2], axes[0], axes[1]);
        if (turnA == 0)
            continue;
        const int turnB = Orient2dOnAxes(b[0], b[1], b[2], axes[0], axes[1]);
        if (turnB == 0)
            return false;
        // Convex shapes whose insides do not meet are parted by a line along an edge of one of
        // them, which the other may touch.
        const auto partedByAnEdgeOf = [&axes](const Point3* x, int turn, const Point3* y) {
            for (int e = 0; e < 3; ++e) {
                bool noneInside = true;
                for (int k = 0; k < 3 && noneInside; ++k)
                    noneInside = Orient2dOnAxes(x[e], x[(e + 1) % 3], y[k], axes[0], axes[1]) * turn <= 0;
                if (noneInside)
                    return true;
            }
            return false;
        };
        return !partedByAnEdgeOf(a, turnA, b) && !partedByAnEdgeOf(b, turnB, a);
    }
    return false;
}

bool RestsOnOuterSide(const std::array<Vec3, 3>& triangle, const std::array<Vec3, 3>& base)
{
    const Point3 b0 = ToPoint(base[0]), b1 = ToPoint(base[1]), b2 = ToPoint(base[2]);
    for (const Vec3& corner : triangle)
        if (Orient3d(b0, b1, b2, ToPoint(corner)) < 0)
            return false;
    return true;
}

bool AreCollinear(const Point3& a, const Point3& b, const Point3& c)
{
    for (const auto& axes : kAxisPairs)
        if (Orient2dOnAxes(a, b, c, axes[0], axes[1]) != 0)
            return false;
    return true;
}

namespace detail {

bool CornerSharingTrianglesCrossExactly(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2)
{
    const Point3 v = ToPoint(apex), p1 = ToPoint(a1), p2 = ToPoint(a2), q1 = ToPoint(b1), q2 = ToPoint(b2);
    // Both far corners of the second in the first's plane: one plane (or a first without area,
    // which the coplanar test refuses).
    if (Orient3d(v, p1, p2, q1) == 0 && Orient3d(v, p1, p2, q2) == 0)
        return CoplanarTrianglesOverlapAtCorner(apex, a1, a2, b1, b2);
    // The collinearity test runs only on a yes: it is rare.
    return (SegmentCrossesTriangle(p1, p2, v, q1, q2) && !AreCollinear(v, p1, p2))
        || (SegmentCrossesTriangle(q1, q2, v, p1, p2) && !AreCollinear(v, q1, q2));
}

bool CoplanarTrianglesOverlapAtCorner(Vec3 apex, Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2)
{
    const Point3 v = ToPoint(apex);
    Point3 p1 = ToPoint(a1), p2 = ToPoint(a2), q1 = ToPoint(b1), q2 = ToPoint(b2);
    // In a plane of axes where the first has area the projection maps the common plane one to
    // one, so turns there are turns in the plane itself.
    for (const auto& axes : kAxisPairs) {
        const auto turn = [&axes, &v](const Point3& x, const Point3& y) {
            return Orient2dOnAxes(v, x, y, axes[0], axes[1]);
        };
        const int turnA = turn(p1, p2);
        if (turnA == 0)
            continue;
        const int turnB = turn(q1, q2);
        if (turnB == 0)
            return false;
        // Each angle at the apex runs counter-clockwise from its first ray to its second, and
        // is under half a turn.
        if (turnA < 0)
            std::swap(p1, p2);
        if (turnB < 0)
            std::swap(q1, q2);
        // Two such angles overlap exactly when the later of their first rays lies strictly
        // inside the other angle, or both start on one ray.
        if (turn(p1, q1) > 0 && turn(q1, p2) > 0)
            return true;
        if (turn(q1, p1) > 0 && turn(p1, q2) > 0)
            return true;
        return turn(p1, q1) == 0 && turn(p2, q1) == turn(p2, p1);
    }
    return false;
}

bool EdgeSharingTrianglesOverlapExactly(Vec3 a, Vec3 b, Vec3 c, Vec3 d)
{
    if (Orient3d(ToPoint(a), ToPoint(b), ToPoint(c), ToPoint(d)) != 0)
        return false;
    return CoplanarTrianglesFoldOnEdge(a, b, c, d);
}

bool CoplanarTrianglesFoldOnEdge(Vec3 a, Vec3 b, Vec3 c, Vec3 d)
{
    const Point3 pa = ToPoint(a), pb = ToPoint(b), pc = ToPoint(c), pd = ToPoint(d);
    // In a plane of axes where a-b-c has area, the projection maps the common plane one to one,
    // so sides of the edge there are sides in the plane itself.
    for (const auto& axes : kAxisPairs) {
        const int sideC = Orient2dOnAxes(pa, pb, pc, axes[0], axes[1]);
        if (sideC != 0)
            return Orient2dOnAxes(pa, pb, pd, axes[0], axes[1]) == sideC;
    }
    return false;
}

}  // namespace detail

}  // namespace grainforge::mesh
