#include "tests/support/exact_crossings.h"

#include "engine/mesh/exact_predicates.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace grainforge::test {
namespace {

using mesh::Orient3d;
using mesh::Point3;

using Triangle = std::array<Point3, 3>;

Point3 Widen(mesh::Vec3 v) { return {v.x, v.y, v.z}; }

bool IsFinite(const Triangle& t)
{
    for (const Point3& p : t)
        for (double c : p)
            if (!std::isfinite(c))
                return false;
    return true;
}

// Orientation of p, q, r in the plane of axes i and j, exact through Orient3d: the points laid
// in z = 0 against the point one above p.
int Orient2d(const Point3& p, const Point3& q, const Point3& r, int i, int j)
{
    return Orient3d({p[i], p[j], 0}, {q[i], q[j], 0}, {r[i], r[j], 0}, {p[i], p[j], 1});
}

bool HasArea(const Triangle& t)
{
    return Orient2d(t[0], t[1], t[2], 0, 1) != 0 || Orient2d(t[0], t[1], t[2], 1, 2) != 0
        || Orient2d(t[0], t[1], t[2], 2, 0) != 0;
}

bool Coplanar(const Triangle& a, const Triangle& b)
{
    return Orient3d(a[0], a[1], a[2], b[0]) == 0 && Orient3d(a[0], a[1], a[2], b[1]) == 0
        && Orient3d(a[0], a[1], a[2], b[2]) == 0;
}

// The closed segment p-q meets the closed triangle t at a point, the segment not lying in t's
// plane: the ends on different sides (or one on the plane), and the segment's line passing
// inside or on the border of t.
bool SegmentMeets(const Point3& p, const Point3& q, const Triangle& t)
{
    const int sp = Orient3d(t[0], t[1], t[2], p);
    const int sq = Orient3d(t[0], t[1], t[2], q);
    if (sp == sq)
        return false;
    int positive = 0, negative = 0;
    for (int k = 0; k < 3; ++k) {
        const int o = Orient3d(p, q, t[k], t[(k + 1) % 3]);
        positive += o > 0 ? 1 : 0;
        negative += o < 0 ? 1 : 0;
    }
    return (positive == 0) != (negative == 0);
}

bool AnyEdgeMeets(const Triangle& a, const Triangle& b)
{
    for (int k = 0; k < 3; ++k)
        if (SegmentMeets(a[k], a[(k + 1) % 3], b) || SegmentMeets(b[k], b[(k + 1) % 3], a))
            return true;
    return false;
}

bool ApartMeet(const Triangle& first, const Triangle& second)
{
    return !Coplanar(first, second) && AnyEdgeMeets(first, second);
}

// Corner `apex` of a and corner `apexOfB` of b are one vertex.
bool MeetBeyondCorner(const Triangle& a, int apex, const Triangle& b, int apexOfB)
{
    if (!HasArea(a) || !HasArea(b))
        return false;
    return SegmentMeets(a[(apex + 1) % 3], a[(apex + 2) % 3], b)
        || SegmentMeets(b[(apexOfB + 1) % 3], b[(apexOfB + 2) % 3], a);
}

// Corner `free` of a and `freeOfB` of b are the ones off the shared edge.
bool FoldedOnEdge(const Triangle& a, int free, const Triangle& b, int freeOfB)
{
    const Point3& e0 = a[(free + 1) % 3];
    const Point3& e1 = a[(free + 2) % 3];
    if (Orient3d(e0, e1, a[free], b[freeOfB]) != 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        const int side = Orient2d(e0, e1, a[free], i, j);
        if (side != 0)
            return Orient2d(e0, e1, b[freeOfB], i, j) == side;
    }
    return false;
}

bool BoxesMeet(const Triangle& a, const Triangle& b)
{
    for (int axis = 0; axis < 3; ++axis) {
        const double aLow = std::min({a[0][axis], a[1][axis], a[2][axis]});
        const double aHigh = std::max({a[0][axis], a[1][axis], a[2][axis]});
        const double bLow = std::min({b[0][axis], b[1][axis], b[2][axis]});
        const double bHigh = std::max({b[0][axis], b[1][axis], b[2][axis]});
        if (aLow > bHigh || bLow > aHigh)
            return false;
    }
    return true;
}

bool PairMeets(const mesh::TriangleMesh& m, const std::vector<Triangle>& triangles, std::size_t t, std::size_t u)
{
    const std::uint32_t* ti = m.indices.data() + 3 * t;
    const std::uint32_t* ui = m.indices.data() + 3 * u;
    int shared = 0, tCorner = -1, uCorner = -1, tFree = -1;
    for (int i = 0; i < 3; ++i) {
        bool found = false;
        for (int j = 0; j < 3; ++j)
            if (ti[i] == ui[j]) {
                found = true;
                tCorner = i;
                uCorner = j;
            }
        shared += found ? 1 : 0;
        if (!found)
            tFree = i;
    }
    const Triangle& a = triangles[t];
    const Triangle& b = triangles[u];
    if (shared == 0)
        return t < u ? ApartMeet(a, b) : ApartMeet(b, a);
    for (const std::uint32_t* c : {ti, ui})
        if (c[0] == c[1] || c[1] == c[2] || c[2] == c[0])
            return false;
    if (shared == 1)
        return MeetBeyondCorner(a, tCorner, b, uCorner);
    if (shared == 2) {
        int uFree = 0;
        while (ui[uFree] == ti[0] || ui[uFree] == ti[1] || ui[uFree] == ti[2])
            ++uFree;
        return FoldedOnEdge(a, tFree, b, uFree);
    }
    return false;
}

}  // namespace

std::vector<CrossingPair> FindCrossingPairsByBruteForce(const mesh::TriangleMesh& m)
{
    std::vector<CrossingPair> pairs;
    if (!m.IsConsistent())
        return pairs;
    const std::size_t n = m.TriangleCount();
    std::vector<Triangle> triangles(n);
    std::vector<char> finite(n);
    for (std::size_t t = 0; t < n; ++t) {
        for (int k = 0; k < 3; ++k)
            triangles[t][k] = Widen(m.vertices[m.indices[3 * t + k]].position);
        finite[t] = IsFinite(triangles[t]) ? 1 : 0;
    }
    for (std::size_t t = 0; t < n; ++t) {
        if (!finite[t])
            continue;
        for (std::size_t u = t + 1; u < n; ++u) {
            if (finite[u] && BoxesMeet(triangles[t], triangles[u]) && PairMeets(m, triangles, t, u))
                pairs.emplace_back(static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(u));
        }
    }
    return pairs;
}

std::vector<CrossingPair> SortedCrossingPairs(const std::vector<std::uint32_t>& pairs)
{
    std::vector<CrossingPair> sorted;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
        sorted.emplace_back(std::min(pairs[i], pairs[i + 1]), std::max(pairs[i], pairs[i + 1]));
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

std::vector<std::uint32_t> CrossingTriangles(const std::vector<CrossingPair>& pairs)
{
    std::vector<std::uint32_t> triangles;
    for (const CrossingPair& p : pairs) {
        triangles.push_back(p.first);
        triangles.push_back(p.second);
    }
    std::sort(triangles.begin(), triangles.end());
    triangles.erase(std::unique(triangles.begin(), triangles.end()), triangles.end());
    return triangles;
}

}  // namespace grainforge::test
