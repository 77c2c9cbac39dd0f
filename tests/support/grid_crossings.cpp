#include "tests/support/grid_crossings.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace grainforge::test {

namespace {

using mesh::Point3;

Point3 PointOf(mesh::Vec3 v) { return {double(v.x), double(v.y), double(v.z)}; }

// Exact sign of the 2D orientation of a, b, c with coordinate `dropped` left out: the 3D
// orientation of the three points flattened into a plane of constant height and a point one
// unit above a.
int Orient2d(const Point3& a, const Point3& b, const Point3& c, int dropped)
{
    const int u = (dropped + 1) % 3;
    const int v = (dropped + 2) % 3;
    const Point3 a2{a[u], a[v], 0.0};
    const Point3 b2{b[u], b[v], 0.0};
    const Point3 c2{c[u], c[v], 0.0};
    const Point3 up{a[u], a[v], 1.0};
    return mesh::Orient3d(a2, b2, c2, up);
}

// The coordinate to leave out so that a, b, c keep an area, or -1 when they are collinear.
int DropForArea(const Point3& a, const Point3& b, const Point3& c)
{
    for (int dropped = 0; dropped < 3; ++dropped) {
        if (Orient2d(a, b, c, dropped) != 0)
            return dropped;
    }
    return -1;
}

struct Triangle {
    std::array<std::uint32_t, 3> index;
    std::array<Point3, 3> point;
    std::array<mesh::Vec3, 3> corner;
};

Triangle TriangleOf(const mesh::TriangleMesh& mesh, std::size_t t)
{
    Triangle tri;
    for (int k = 0; k < 3; ++k) {
        tri.index[k] = mesh.indices[3 * t + k];
        tri.corner[k] = mesh.vertices[tri.index[k]].position;
        tri.point[k] = PointOf(tri.corner[k]);
    }
    return tri;
}

bool HasArea(const Triangle& t)
{
    return t.index[0] != t.index[1] && t.index[1] != t.index[2] && t.index[0] != t.index[2]
        && DropForArea(t.point[0], t.point[1], t.point[2]) >= 0;
}

bool Coplanar(const Triangle& a, const Triangle& b)
{
    for (const Point3& p : b.point) {
        if (mesh::Orient3d(a.point[0], a.point[1], a.point[2], p) != 0)
            return false;
    }
    return true;
}

// Closed coplanar triangles meet unless an edge line of one has the whole other strictly
// outside (separating lines of convex shapes).
bool CoplanarTrianglesMeet(const Triangle& a, const Triangle& b)
{
    const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
    const auto separatedByAnEdgeOf = [&](const Triangle& x, const Triangle& y) {
        const int turn = Orient2d(x.point[0], x.point[1], x.point[2], dropped);
        for (int e = 0; e < 3; ++e) {
            const Point3& p = x.point[e];
            const Point3& q = x.point[(e + 1) % 3];
            bool allOutside = true;
            for (const Point3& r : y.point)
                allOutside = allOutside && Orient2d(p, q, r, dropped) * turn < 0;
            if (allOutside)
                return true;
        }
        return false;
    };
    return !separatedByAnEdgeOf(a, b) && !separatedByAnEdgeOf(b, a);
}

// Coplanar triangles s-a1-a2 and s-b1-b2 meet beyond s when their corners' angular spans at s
// overlap: a bounding ray of one lies in the closed span of the other (spans under half a turn).
bool CoplanarFansMeet(const Point3& s, std::array<Point3, 2> a, std::array<Point3, 2> b, int dropped)
{
    if (Orient2d(s, a[0], a[1], dropped) < 0)
        std::swap(a[0], a[1]);
    if (Orient2d(s, b[0], b[1], dropped) < 0)
        std::swap(b[0], b[1]);
    const auto inSpan = [&](const std::array<Point3, 2>& span, const Point3& ray) {
        return Orient2d(s, span[0], ray, dropped) >= 0 && Orient2d(s, ray, span[1], dropped) >= 0;
    };
    return inSpan(a, b[0]) || inSpan(a, b[1]) || inSpan(b, a[0]) || inSpan(b, a[1]);
}

// Triangles with area, as the rules of the header say.
bool TrianglesMeet(const Triangle& a, const Triangle& b)
{
    int sharedA[3];
    int sharedB[3];
    int shared = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (a.index[i] == b.index[j]) {
                sharedA[shared] = i;
                sharedB[shared] = j;
                ++shared;
            }
        }
    }
    if (shared == 3)
        return true;
    const bool coplanar = Coplanar(a, b);
    if (shared == 0) {
        if (coplanar)
            return CoplanarTrianglesMeet(a, b);
        return mesh::TrianglesIntersect(a.corner, b.corner) || mesh::TrianglesIntersect(b.corner, a.corner);
    }
    if (shared == 1) {
        const int i = sharedA[0];
        const int j = sharedB[0];
        const Point3& a1 = a.point[(i + 1) % 3];
        const Point3& a2 = a.point[(i + 2) % 3];
        const Point3& b1 = b.point[(j + 1) % 3];
        const Point3& b2 = b.point[(j + 2) % 3];
        if (coplanar) {
            const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
            return CoplanarFansMeet(a.point[i], {a1, a2}, {b1, b2}, dropped);
        }
        // The planes meet in a line through the shared corner; the triangles overlap on it
        // beyond that corner exactly when the edge opposite it in one meets the other.
        return mesh::SegmentCrossesTriangle(a1, a2, b.point[0], b.point[1], b.point[2])
            || mesh::SegmentCrossesTriangle(b1, b2, a.point[0], a.point[1], a.point[2]);
    }
    // One shared edge: non-coplanar triangles meet only on it.
    if (!coplanar)
        return false;
    const int apexA = 3 - sharedA[0] - sharedA[1];
    const int apexB = 3 - sharedB[0] - sharedB[1];
    const Point3& s0 = a.point[sharedA[0]];
    const Point3& s1 = a.point[sharedA[1]];
    const int dropped = DropForArea(a.point[0], a.point[1], a.point[2]);
    return Orient2d(s0, s1, a.point[apexA], dropped) * Orient2d(s0, s1, b.point[apexB], dropped) > 0;
}

struct Box {
    mesh::Vec3 low;
    mesh::Vec3 high;
};

Box BoxOf(const Triangle& t)
{
    Box box{t.corner[0], t.corner[0]};
    for (const mesh::Vec3& c : t.corner) {
        box.low = {std::min(box.low.x, c.x), std::min(box.low.y, c.y), std::min(box.low.z, c.z)};
        box.high = {std::max(box.high.x, c.x), std::max(box.high.y, c.y), std::max(box.high.z, c.z)};
    }
    return box;
}

bool BoxesMeet(const Box& a, const Box& b)
{
    return a.low.x <= b.high.x && b.low.x <= a.high.x && a.low.y <= b.high.y && b.low.y <= a.high.y
        && a.low.z <= b.high.z && b.low.z <= a.high.z;
}

// A uniform grid over the boxes of the triangles with area; each triangle is listed in every
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
            all.low = {std::min(all.low.x, b.low.x), std::min(all.low.y, b.low.y), std::min(all.low.z, b.low.z)};
            all.high = {std::max(all.high.x, b.high.x), std::max(all.high.y, b.high.y), std::max(all.high.z, b.high.z)};
            sumExtent += std::max({double(b.high.x) - b.low.x, double(b.high.y) - b.low.y, double(b.high.z) - b.low.z});
        }
        low_ = {double(all.low.x), double(all.low.y), double(all.low.z)};
        const double extent[3] = {double(all.high.x) - low_[0], double(all.high.y) - low_[1], double(all.high.z) - low_[2]};
        // Cells about as large as a typical triangle, at most some 4 million of them.
        double cell = std::max(sumExtent / double(members.size()), 1e-30);
        for (;;) {
            std::uint64_t total = 1;
            for (int k = 0; k < 3; ++k) {
                cells_[k] = static_cast<std::uint32_t>(std::min(extent[k] / cell, 1e6)) + 1;
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
    std::size_t CellOf(mesh::Vec3 p) const
    {
        std::uint32_t at[3];
        for (int k = 0; k < 3; ++k)
            at[k] = Step(k, k == 0 ? p.x : k == 1 ? p.y : p.z);
        return (std::size_t{at[2]} * cells_[1] + at[1]) * cells_[0] + at[0];
    }

private:
    std::uint32_t Step(int axis, float value) const
    {
        const double s = std::floor((double(value) - low_[axis]) / cell_);
        return static_cast<std::uint32_t>(std::clamp(s, 0.0, double(cells_[axis] - 1)));
    }

    template <class F>
    void ForEachCell(const std::vector<Box>& boxes, const std::vector<std::uint32_t>& members, F&& f) const
    {
        for (std::uint32_t t : members) {
            const Box& b = boxes[t];
            const std::uint32_t x0 = Step(0, b.low.x), x1 = Step(0, b.high.x);
            const std::uint32_t y0 = Step(1, b.low.y), y1 = Step(1, b.high.y);
            const std::uint32_t z0 = Step(2, b.low.z), z1 = Step(2, b.high.z);
            for (std::uint32_t z = z0; z <= z1; ++z)
                for (std::uint32_t y = y0; y <= y1; ++y)
                    for (std::uint32_t x = x0; x <= x1; ++x)
                        f((std::size_t{z} * cells_[1] + y) * cells_[0] + x, t);
        }
    }

    std::array<double, 3> low_{};
    std::array<std::uint32_t, 3> cells_{1, 1, 1};
    double cell_ = 1.0;
    std::vector<std::uint32_t> start_;
    std::vector<std::uint32_t> listed_;
};

}  // namespace

std::vector<std::pair<std::uint32_t, std::uint32_t>> FindMeetingPairsThroughGrid(const mesh::TriangleMesh& mesh)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    if (!mesh.IsConsistent())
        return pairs;
    const std::size_t count = mesh.TriangleCount();
    std::vector<Triangle> triangles(count);
    std::vector<Box> boxes(count);
    std::vector<std::uint8_t> withArea(count, 0);
    mesh::ParallelFor(count, [&](std::size_t t) {
        triangles[t] = TriangleOf(mesh, t);
        boxes[t] = BoxOf(triangles[t]);
        withArea[t] = HasArea(triangles[t]);
    });
    std::vector<std::uint32_t> members;
    for (std::size_t t = 0; t < count; ++t) {
        if (withArea[t])
            members.push_back(static_cast<std::uint32_t>(t));
    }
    const BoxGrid grid(boxes, members);
    std::mutex found;
    mesh::ParallelForBlocks(grid.CellCount(), 4096, [&](std::size_t begin, std::size_t end) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> local;
        for (std::size_t c = begin; c < end; ++c) {
            for (const std::uint32_t* i = grid.Begin(c); i != grid.End(c); ++i) {
                for (const std::uint32_t* j = i + 1; j != grid.End(c); ++j) {
                    const Box& a = boxes[*i];
                    const Box& b = boxes[*j];
                    if (!BoxesMeet(a, b))
                        continue;
                    // Each pair is decided in the one cell that holds the low corner of the
                    // boxes' overlap.
                    const mesh::Vec3 overlapLow{std::max(a.low.x, b.low.x), std::max(a.low.y, b.low.y),
                        std::max(a.low.z, b.low.z)};
                    if (grid.CellOf(overlapLow) != c)
                        continue;
                    if (TrianglesMeet(triangles[*i], triangles[*j]))
                        local.emplace_back(std::min(*i, *j), std::max(*i, *j));
                }
            }
        }
        const std::lock_guard<std::mutex> lock(found);
        pairs.insert(pairs.end(), local.begin(), local.end());
    });
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::uint64_t CountTrianglesWithoutArea(const mesh::TriangleMesh& mesh)
{
    if (!mesh.IsConsistent())
        return 0;
    std::uint64_t without = 0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        without += !HasArea(TriangleOf(mesh, t));
    return without;
}

}  // namespace grainforge::test
