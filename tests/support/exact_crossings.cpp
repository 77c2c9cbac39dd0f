#include "tests/support/exact_crossings.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace grainforge::test {
namespace {

using mesh::Orient3d;
using mesh::Point3;

struct Triangle {
    std::array<std::uint32_t, 3> index{};
    std::array<Point3, 3> point{};
    bool finite = false;
    bool repeats = false;  // names one vertex twice
    int areaAxes = -1;     // a plane of axes (see Orient2d) in which it keeps an area; -1: none
    std::uint32_t piece = 0;  // the piece of its first corner (joined through shared vertices)
};

struct Box {
    Point3 low;
    Point3 high;
};

// Orientation of p, q, r in the plane of axes `axes` and `axes` + 1 (mod 3), exact through
// Orient3d: the points laid in z = 0 against the point one above p.
int Orient2d(const Point3& p, const Point3& q, const Point3& r, int axes)
{
    const int i = axes;
    const int j = (axes + 1) % 3;
    return Orient3d({p[i], p[j], 0}, {q[i], q[j], 0}, {r[i], r[j], 0}, {p[i], p[j], 1});
}

Triangle TriangleOf(const mesh::TriangleMesh& m, std::size_t t)
{
    Triangle tri;
    tri.finite = true;
    for (int k = 0; k < 3; ++k) {
        tri.index[k] = m.indices[3 * t + k];
        const mesh::Vec3 v = m.vertices[tri.index[k]].position;
        tri.point[k] = {v.x, v.y, v.z};
        tri.finite = tri.finite && std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    }
    tri.repeats = tri.index[0] == tri.index[1] || tri.index[1] == tri.index[2] || tri.index[2] == tri.index[0];
    if (tri.finite) {
        for (int axes = 0; axes < 3 && tri.areaAxes < 0; ++axes) {
            if (Orient2d(tri.point[0], tri.point[1], tri.point[2], axes) != 0)
                tri.areaAxes = axes;
        }
    }
    return tri;
}

bool HasArea(const Triangle& t) { return t.areaAxes >= 0; }

Box BoxOf(const Triangle& t)
{
    Box box{t.point[0], t.point[0]};
    for (const Point3& p : t.point) {
        for (int axis = 0; axis < 3; ++axis) {
            box.low[axis] = std::min(box.low[axis], p[axis]);
            box.high[axis] = std::max(box.high[axis], p[axis]);
        }
    }
    return box;
}

bool BoxesMeet(const Box& a, const Box& b)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (a.low[axis] > b.high[axis] || b.low[axis] > a.high[axis])
            return false;
    }
    return true;
}

// Every corner of b lies in a's plane (always so when a has no area).
bool Coplanar(const Triangle& a, const Triangle& b)
{
    for (const Point3& p : b.point) {
        if (Orient3d(a.point[0], a.point[1], a.point[2], p) != 0)
            return false;
    }
    return true;
}

// The closed segment p-q meets the closed triangle t at a point, the segment not lying in t's
// plane: the ends on different sides (or one on the plane), and the segment's line passing
// inside or on the border of t.
bool SegmentMeets(const Point3& p, const Point3& q, const Triangle& t)
{
    const int sp = Orient3d(t.point[0], t.point[1], t.point[2], p);
    const int sq = Orient3d(t.point[0], t.point[1], t.point[2], q);
    if (sp == sq)
        return false;
    int positive = 0, negative = 0;
    for (int k = 0; k < 3; ++k) {
        const int o = Orient3d(p, q, t.point[k], t.point[(k + 1) % 3]);
        positive += o > 0 ? 1 : 0;
        negative += o < 0 ? 1 : 0;
    }
    return (positive == 0) != (negative == 0);
}

// Triangles in different planes meet exactly where an edge of one meets the other.
bool AnyEdgeMeets(const Triangle& a, const Triangle& b)
{
    for (int k = 0; k < 3; ++k) {
        if (SegmentMeets(a.point[k], a.point[(k + 1) % 3], b) || SegmentMeets(b.point[k], b.point[(k + 1) % 3], a))
            return true;
    }
    return false;
}

// Closed coplanar triangles (a with area) meet unless an edge line of one has the whole other
// strictly outside (separating lines of convex shapes).
bool CoplanarTrianglesMeet(const Triangle& a, const Triangle& b)
{
    const int axes = a.areaAxes;
    const auto separatedByAnEdgeOf = [axes](const Triangle& x, const Triangle& y) {
        const int turn = Orient2d(x.point[0], x.point[1], x.point[2], axes);
        for (int e = 0; e < 3; ++e) {
            const Point3& p = x.point[e];
            const Point3& q = x.point[(e + 1) % 3];
            bool allOutside = true;
            for (const Point3& r : y.point)
                allOutside = allOutside && Orient2d(p, q, r, axes) * turn < 0;
            if (allOutside)
                return true;
        }
        return false;
    };
    return !separatedByAnEdgeOf(a, b) && !separatedByAnEdgeOf(b, a);
}

// Coplanar triangles (both with area) overlap in an area unless an edge line of one has the
// whole other on its outer side or on the line: convex shapes whose insides do not meet are
// parted by a line along an edge of one of them, which the other may touch.
bool CoplanarTrianglesOverlap(const Triangle& a, const Triangle& b)
{
    const int axes = a.areaAxes;
    const auto partedByAnEdgeOf = [axes](const Triangle& x, const Triangle& y) {
        const int turn = Orient2d(x.point[0], x.point[1], x.point[2], axes);
        for (int e = 0; e < 3; ++e) {
            bool noneInside = true;
            for (const Point3& r : y.point)
                noneInside = noneInside && Orient2d(x.point[e], x.point[(e + 1) % 3], r, axes) * turn <= 0;
            if (noneInside)
                return true;
        }
        return false;
    };
    return !partedByAnEdgeOf(a, b) && !partedByAnEdgeOf(b, a);
}

// Coplanar triangles s-a1-a2 and s-b1-b2 meet beyond s when their corners' angular spans at s
// overlap: a bounding ray of one lies in the closed span of the other (spans under half a turn).
bool CoplanarFansMeet(const Point3& s, std::array<Point3, 2> a, std::array<Point3, 2> b, int axes)
{
    if (Orient2d(s, a[0], a[1], axes) < 0)
        std::swap(a[0], a[1]);
    if (Orient2d(s, b[0], b[1], axes) < 0)
        std::swap(b[0], b[1]);
    const auto inSpan = [&](const std::array<Point3, 2>& span, const Point3& ray) {
        return Orient2d(s, span[0], ray, axes) >= 0 && Orient2d(s, ray, span[1], axes) >= 0;
    };
    return inSpan(a, b[0]) || inSpan(a, b[1]) || inSpan(b, a[0]) || inSpan(b, a[1]);
}

// Corner `free` of a and `freeOfB` of b are the ones off the shared edge: they fold when b's
// lies in a's plane on the same side of the edge as a's.
bool FoldedOnEdge(const Triangle& a, int free, const Triangle& b, int freeOfB)
{
    const Point3& e0 = a.point[(free + 1) % 3];
    const Point3& e1 = a.point[(free + 2) % 3];
    if (Orient3d(e0, e1, a.point[free], b.point[freeOfB]) != 0)
        return false;
    for (int axes = 0; axes < 3; ++axes) {
        const int side = Orient2d(e0, e1, a.point[free], axes);
        if (side != 0)
            return Orient2d(e0, e1, b.point[freeOfB], axes) == side;
    }
    return false;
}

// Every corner of a in the plane of b or on the side b's normal points to.
bool RestsOutside(const Triangle& a, const Triangle& b)
{
    for (const Point3& p : a.point)
        if (Orient3d(b.point[0], b.point[1], b.point[2], p) < 0)
            return false;
    return true;
}

// The one pair test, a being the lower-numbered triangle.
bool PairMeets(const Triangle& a, const Triangle& b, PairRule rule)
{
    const bool meeting = rule == PairRule::meeting;
    if (!a.finite || !b.finite || (meeting && (!HasArea(a) || !HasArea(b))))
        return false;
    int shared = 0, aCorner = -1, bCorner = -1, aFree = -1;
    for (int i = 0; i < 3; ++i) {
        bool found = false;
        for (int j = 0; j < 3; ++j) {
            if (a.index[i] == b.index[j]) {
                found = true;
                aCorner = i;
                bCorner = j;
            }
        }
        shared += found ? 1 : 0;
        if (!found)
            aFree = i;
    }
    if (shared == 0) {
        if (Coplanar(a, b)) {
            if (meeting)
                return CoplanarTrianglesMeet(a, b);
            return HasArea(a) && HasArea(b) && a.piece == b.piece && CoplanarTrianglesOverlap(a, b);
        }
        // Under the crossing rule, separate pieces that touch with one resting on the outer
        // side of the other's plane are bodies laid against each other, not a crossing.
        if (!meeting && a.piece != b.piece && (RestsOutside(a, b) || RestsOutside(b, a)))
            return false;
        return AnyEdgeMeets(a, b);
    }
    if (a.repeats || b.repeats)
        return false;
    if (shared == 3)
        return meeting;
    if (shared == 2) {
        int bFree = 0;
        while (b.index[bFree] == a.index[0] || b.index[bFree] == a.index[1] || b.index[bFree] == a.index[2])
            ++bFree;
        return FoldedOnEdge(a, aFree, b, bFree);
    }
    if (!HasArea(a) || !HasArea(b))
        return false;
    const Point3& a1 = a.point[(aCorner + 1) % 3];
    const Point3& a2 = a.point[(aCorner + 2) % 3];
    const Point3& b1 = b.point[(bCorner + 1) % 3];
    const Point3& b2 = b.point[(bCorner + 2) % 3];
    if (Coplanar(a, b))
        return meeting ? CoplanarFansMeet(a.point[aCorner], {a1, a2}, {b1, b2}, a.areaAxes) : CoplanarTrianglesOverlap(a, b);
    // The planes meet in a line through the shared corner; the triangles overlap on it beyond
    // that corner exactly when the edge opposite it in one meets the other.
    return SegmentMeets(a1, a2, b) || SegmentMeets(b1, b2, a);
}

struct Prepared {
    std::vector<Triangle> triangles;
    std::vector<Box> boxes;
    std::vector<std::uint32_t> members;  // the triangles that can take part in a pair, ascending
};

Prepared Prepare(const mesh::TriangleMesh& m, PairRule rule)
{
    Prepared p;
    const std::size_t count = m.TriangleCount();
    p.triangles.resize(count);
    p.boxes.resize(count);
    mesh::ParallelFor(count, [&](std::size_t t) {
        p.triangles[t] = TriangleOf(m, t);
        p.boxes[t] = BoxOf(p.triangles[t]);
    });
    // Pieces by a plain union-find over the vertices.
    std::vector<std::uint32_t> parent(m.vertices.size());
    for (std::uint32_t v = 0; v < parent.size(); ++v)
        parent[v] = v;
    const auto root = [&parent](std::uint32_t v) {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    };
    for (std::size_t c = 0; c + 2 < m.indices.size(); c += 3)
        for (int k = 1; k < 3; ++k)
            parent[root(m.indices[c + k])] = root(m.indices[c]);
    for (std::size_t t = 0; t < count; ++t) {
        p.triangles[t].piece = root(p.triangles[t].index[0]);
        const Triangle& tri = p.triangles[t];
        if (tri.finite && (rule == PairRule::crossing || HasArea(tri)))
            p.members.push_back(static_cast<std::uint32_t>(t));
    }
    return p;
}

// A uniform grid over the members' boxes; each member is listed, in ascending order, in every
// cell its box touches.
class BoxGrid {
public:
    BoxGrid(const std::vector<Box>& boxes, const std::vector<std::uint32_t>& members)
    {
        if (members.empty())
            return;
        Box all = boxes[members[0]];
        double sumExtent = 0.0;
        for (std::uint32_t t : members) {
            const Box& b = boxes[t];
            double largest = 0.0;
            for (int k = 0; k < 3; ++k) {
                all.low[k] = std::min(all.low[k], b.low[k]);
                all.high[k] = std::max(all.high[k], b.high[k]);
                largest = std::max(largest, b.high[k] - b.low[k]);
            }
            sumExtent += largest;
        }
        low_ = all.low;
        // Cells about as large as a typical triangle, at most some 4 million of them.
        double cell = std::max(sumExtent / double(members.size()), 1e-30);
        for (;;) {
            std::uint64_t total = 1;
            for (int k = 0; k < 3; ++k) {
                cells_[k] = static_cast<std::uint32_t>(std::min((all.high[k] - low_[k]) / cell, 1e6)) + 1;
                total *= cells_[k];
            }
            if (total <= (std::uint64_t{1} << 22))
                break;
            cell *= 1.5;
        }
        cell_ = cell;
        std::vector<std::uint32_t> count(std::size_t{cells_[0]} * cells_[1] * cells_[2] + 1, 0);
        ForEachCell(boxes, members, [&](std::size_t c, std::uint32_t) { ++count[c + 1]; });
        for (std::size_t c = 1; c < count.size(); ++c)
            count[c] += count[c - 1];
        start_ = count;
        listed_.resize(count.back());
        ForEachCell(boxes, members, [&](std::size_t c, std::uint32_t t) { listed_[count[c]++] = t; });
    }

    std::size_t CellCount() const { return start_.empty() ? 0 : start_.size() - 1; }
    const std::uint32_t* Begin(std::size_t c) const { return listed_.data() + start_[c]; }
    const std::uint32_t* End(std::size_t c) const { return listed_.data() + start_[c + 1]; }

    // The cell holding a point, clamped into the grid.
    std::size_t CellOf(const Point3& p) const
    {
        return (std::size_t{Step(2, p[2])} * cells_[1] + Step(1, p[1])) * cells_[0] + Step(0, p[0]);
    }

private:
    std::uint32_t Step(int axis, double value) const
    {
        const double s = std::floor((value - low_[axis]) / cell_);
        return static_cast<std::uint32_t>(std::clamp(s, 0.0, double(cells_[axis] - 1)));
    }

    template <class F>
    void ForEachCell(const std::vector<Box>& boxes, const std::vector<std::uint32_t>& members, F&& f) const
    {
        for (std::uint32_t t : members) {
            const Box& b = boxes[t];
            const std::uint32_t x0 = Step(0, b.low[0]), x1 = Step(0, b.high[0]);
            const std::uint32_t y0 = Step(1, b.low[1]), y1 = Step(1, b.high[1]);
            const std::uint32_t z0 = Step(2, b.low[2]), z1 = Step(2, b.high[2]);
            for (std::uint32_t z = z0; z <= z1; ++z)
                for (std::uint32_t y = y0; y <= y1; ++y)
                    for (std::uint32_t x = x0; x <= x1; ++x)
                        f((std::size_t{z} * cells_[1] + y) * cells_[0] + x, t);
        }
    }

    Point3 low_{};
    std::array<std::uint32_t, 3> cells_{1, 1, 1};
    double cell_ = 1.0;
    std::vector<std::uint32_t> start_;
    std::vector<std::uint32_t> listed_;
};

}  // namespace

std::vector<CrossingPair> FindPairsByBruteForce(const mesh::TriangleMesh& m, PairRule rule)
{
    std::vector<CrossingPair> pairs;
    if (!m.IsConsistent())
        return pairs;
    const Prepared p = Prepare(m, rule);
    for (std::size_t i = 0; i < p.members.size(); ++i) {
        const std::uint32_t t = p.members[i];
        for (std::size_t j = i + 1; j < p.members.size(); ++j) {
            const std::uint32_t u = p.members[j];
            if (BoxesMeet(p.boxes[t], p.boxes[u]) && PairMeets(p.triangles[t], p.triangles[u], rule))
                pairs.emplace_back(t, u);
        }
    }
    return pairs;
}

std::vector<CrossingPair> FindPairsThroughGrid(const mesh::TriangleMesh& m, PairRule rule)
{
    std::vector<CrossingPair> pairs;
    if (!m.IsConsistent())
        return pairs;
    const Prepared p = Prepare(m, rule);
    const BoxGrid grid(p.boxes, p.members);
    std::mutex found;
    mesh::ParallelForBlocks(grid.CellCount(), 4096, [&](std::size_t begin, std::size_t end) {
        std::vector<CrossingPair> local;
        for (std::size_t c = begin; c < end; ++c) {
            for (const std::uint32_t* i = grid.Begin(c); i != grid.End(c); ++i) {
                for (const std::uint32_t* j = i + 1; j != grid.End(c); ++j) {
                    const Box& a = p.boxes[*i];
                    const Box& b = p.boxes[*j];
                    if (!BoxesMeet(a, b))
                        continue;
                    // Each pair is decided in the one cell that holds the low corner of the
                    // boxes' overlap.
                    const Point3 overlapLow{std::max(a.low[0], b.low[0]), std::max(a.low[1], b.low[1]),
                        std::max(a.low[2], b.low[2])};
                    if (grid.CellOf(overlapLow) == c && PairMeets(p.triangles[*i], p.triangles[*j], rule))
                        local.emplace_back(*i, *j);
                }
            }
        }
        const std::lock_guard<std::mutex> lock(found);
        pairs.insert(pairs.end(), local.begin(), local.end());
    });
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::vector<CrossingPair> FindCrossingPairsByBruteForce(const mesh::TriangleMesh& m)
{
    return FindPairsByBruteForce(m, PairRule::crossing);
}

std::vector<CrossingPair> FindMeetingPairsThroughGrid(const mesh::TriangleMesh& m)
{
    return FindPairsThroughGrid(m, PairRule::meeting);
}

std::uint64_t CountTrianglesWithoutArea(const mesh::TriangleMesh& m)
{
    if (!m.IsConsistent())
        return 0;
    std::uint64_t without = 0;
    for (std::size_t t = 0; t < m.TriangleCount(); ++t)
        without += HasArea(TriangleOf(m, t)) ? 0 : 1;
    return without;
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
