#include "engine/mesh/placement.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <unordered_map>

#include "engine/mesh/parallel_loop.h"

namespace grainforge::mesh {
namespace {

Vec3 ApplyLinear(const Transform3x4& t, Vec3 p)
{
    return {t.m00 * p.x + t.m01 * p.y + t.m02 * p.z, t.m10 * p.x + t.m11 * p.y + t.m12 * p.z,
            t.m20 * p.x + t.m21 * p.y + t.m22 * p.z};
}

// ---- Resting-face search ------------------------------------------------------------------

struct Facet {
    Vec3 normal;
    float offset = 0.0f;
    double area = 0.0;
    double centroidX = 0.0, centroidY = 0.0, centroidZ = 0.0;
    std::vector<std::uint32_t> triangles;
};

// Facets filed by quantised normal and plane offset. Every facet that can pass the join test
// for a triangle lies in one of the 27 normal cells around the triangle's own normal (and, in a
// crowded cell, in one of the 3 offset cells around its offset); the exact test then runs on
// those candidates only and the earliest facet that passes wins, so the result is that of
// testing every facet in creation order.
class FacetBuckets {
public:
    FacetBuckets(float cosLimit, float tolerance, double offsetScale, std::size_t triangleCount)
        : cosLimit_(cosLimit), tolerance_(tolerance)
    {
        // Two unit vectors whose float dot product reaches cosLimit are at most this far apart
        // (with room for rounding and for normals a few ulps off unit length).
        const double reach = std::sqrt(std::max(0.0, 2.0 * (1.0 - static_cast<double>(cosLimit))) + 1e-5);
        // A dense grid over the normal cube, at most 150 cells a side; coarser cells only add
        // candidates.
        const double side = std::clamp(std::round(std::cbrt(static_cast<double>(triangleCount)) * 2.0), 4.0, 150.0);
        normalCell_ = std::max(reach * 1.01 + 1e-6, 2.2 / side);
        cellsPerAxis_ = static_cast<std::int64_t>(std::floor(2.2 / normalCell_)) + 3;
        grid_.assign(static_cast<std::size_t>(cellsPerAxis_ * cellsPerAxis_ * cellsPerAxis_), kEmpty);
        offsetCell_ = std::max(static_cast<double>(tolerance) * 1.001 + 1e-30, offsetScale * 1e-6 + 1e-30);
    }

    // The earliest facet that passes the join test for unit normal u and offset d, or kEmpty.
    std::uint32_t FindFirst(Vec3 u, float d) const
    {
        const std::int64_t ix = NormalCell(u.x), iy = NormalCell(u.y), iz = NormalCell(u.z);
        std::uint32_t found = kEmpty;
        const auto scan = [&](const std::vector<Entry>& entries) {
            for (const Entry& e : entries) {
                if (e.facet >= found)
                    return;  // ascending: nothing earlier follows
                if (Dot(u, e.normal) >= cosLimit_ && std::fabs(e.offset - d) <= tolerance_) {
                    found = e.facet;
                    return;
                }
            }
        };
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const std::uint32_t slot = grid_[CellIndex(ix + dx, iy + dy, iz + dz)];
                    if (slot == kEmpty)
                        continue;
                    const Cell& cell = cells_[slot];
                    if (!cell.byOffset) {
                        scan(cell.facets);
                        continue;
                    }
                    const std::int64_t io = OffsetCell(d);
                    for (std::int64_t dof = -1; dof <= 1; ++dof) {
                        const auto it = cell.byOffset->find(io + dof);
                        if (it != cell.byOffset->end())
                            scan(it->second);
                    }
                }
        return found;
    }

    // Files a new facet; facets arrive in creation order.
    void Add(Vec3 u, float d)
    {
        const Entry entry{u, d, facetCount_++};
        std::uint32_t& slot = grid_[CellIndex(NormalCell(u.x), NormalCell(u.y), NormalCell(u.z))];
        if (slot == kEmpty) {
            slot = static_cast<std::uint32_t>(cells_.size());
            cells_.emplace_back();
        }
        Cell& cell = cells_[slot];
        if (cell.byOffset) {
            (*cell.byOffset)[OffsetCell(d)].push_back(entry);
            return;
        }
        cell.facets.push_back(entry);
        // Many parallel planes in one direction: split the cell by offset.
        if (cell.facets.size() > 64) {
            cell.byOffset = std::make_unique<std::unordered_map<std::int64_t, std::vector<Entry>>>();
            for (const Entry& e : cell.facets)
                (*cell.byOffset)[OffsetCell(e.offset)].push_back(e);
            cell.facets.clear();
            cell.facets.shrink_to_fit();
        }
    }

    static constexpr std::uint32_t kEmpty = std::numeric_limits<std::uint32_t>::max();

private:
    // A facet's join data kept in its cell, so a scan reads one contiguous list.
    struct Entry {
        Vec3 normal;
        float offset;
        std::uint32_t facet;
    };

    struct Cell {
        std::vector<Entry> facets;  // ascending facet numbers
        std::unique_ptr<std::unordered_map<std::int64_t, std::vector<Entry>>> byOffset;
    };

    std::int64_t NormalCell(float c) const
    {
        // Components of unit normals lie in [-1, 1]; a cell of margin on each side keeps the
        // neighbours of every cell inside the grid.
        const double clamped = c == c ? std::clamp(static_cast<double>(c), -1.05, 1.05) : 0.0;
        return static_cast<std::int64_t>(std::floor((clamped + 1.1) / normalCell_)) + 1;
    }

    std::size_t CellIndex(std::int64_t x, std::int64_t y, std::int64_t z) const
    {
        return static_cast<std::size_t>((x * cellsPerAxis_ + y) * cellsPerAxis_ + z);
    }

    std::int64_t OffsetCell(float d) const
    {
        const double cell = std::floor(static_cast<double>(d) / offsetCell_);
        return cell == cell ? static_cast<std::int64_t>(std::clamp(cell, -4e18, 4e18)) : 0;
    }

    float cosLimit_;
    float tolerance_;
    double normalCell_ = 1.0;
    std::int64_t cellsPerAxis_ = 1;
    double offsetCell_ = 1.0;
    std::vector<std::uint32_t> grid_;
    std::vector<Cell> cells_;
    std::uint32_t facetCount_ = 0;
};

// Vertex positions in a binary tree of boxes, so that "does any vertex lie beyond this plane"
// visits only the boxes that reach past it.
class VertexBoxTree {
public:
    explicit VertexBoxTree(const std::vector<MeshVertex>& vertices)
    {
        points_.resize(vertices.size());
        bool finite = true;
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            points_[i] = vertices[i].position;
            finite = finite && std::isfinite(points_[i].x) && std::isfinite(points_[i].y) &&
                     std::isfinite(points_[i].z);
        }
        // Boxes of non-finite coordinates bound nothing: such a mesh is tested point by point.
        if (!points_.empty() && finite)
            Build(0, points_.size());
    }

    // True when every point p has Dot(p, n) - offset <= tolerance, in the float arithmetic of
    // that expression. Boxes are skipped only when no float rounding could make them fail.
    bool Supports(Vec3 n, float offset, float tolerance) const
    {
        if (nodes_.empty()) {
            for (const Vec3 p : points_) {
                if (!(Dot(p, n) - offset <= tolerance))
                    return false;
            }
            return true;
        }
        const double limit = static_cast<double>(offset) + static_cast<double>(tolerance);
        std::uint32_t stack[128];
        int top = 0;
        stack[top++] = 0;
        while (top > 0) {
            const Node& node = nodes_[stack[--top]];
            double reach = 0.0, magnitude = 0.0;
            for (int axis = 0; axis < 3; ++axis) {
                const double c = Component(n, axis);
                const double lo = Component(node.min, axis), hi = Component(node.max, axis);
                reach += std::max(c * lo, c * hi);
                magnitude += std::max(std::fabs(c * lo), std::fabs(c * hi));
            }
            const double margin = 1e-6 * (magnitude + std::fabs(static_cast<double>(offset)) +
                                          static_cast<double>(tolerance)) + 1e-30;
            if (reach + margin < limit)
                continue;
            if (node.count != 0) {
                for (std::uint32_t i = node.first; i < node.first + node.count; ++i) {
                    if (!(Dot(points_[i], n) - offset <= tolerance))
                        return false;
                }
                continue;
            }
            stack[top++] = node.first;
            stack[top++] = node.first + 1;
        }
        return true;
    }

private:
    struct Node {
        Vec3 min, max;
        std::uint32_t first = 0;  // first point (leaf) or first child (inner)
        std::uint32_t count = 0;  // points of a leaf; 0 for an inner node
    };

    static double Component(Vec3 v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

    void Build(std::size_t begin, std::size_t end)
    {
        // Breadth-first so that siblings sit side by side; depth stays below 64 for 2^32 points.
        struct Range { std::size_t node, begin, end; };
        nodes_.push_back({});
        std::vector<Range> work{{0, begin, end}};
        for (std::size_t w = 0; w < work.size(); ++w) {
            const Range r = work[w];
            Vec3 lo = points_[r.begin], hi = points_[r.begin];
            for (std::size_t i = r.begin + 1; i < r.end; ++i) {
                const Vec3 p = points_[i];
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
            nodes_[r.node].min = lo;
            nodes_[r.node].max = hi;
            if (r.end - r.begin <= 16) {
                nodes_[r.node].first = static_cast<std::uint32_t>(r.begin);
                nodes_[r.node].count = static_cast<std::uint32_t>(r.end - r.begin);
                continue;
            }
            const Vec3 extent = hi - lo;
            const int axis = extent.x >= extent.y && extent.x >= extent.z ? 0 : extent.y >= extent.z ? 1 : 2;
            const std::size_t mid = r.begin + (r.end - r.begin) / 2;
            std::nth_element(points_.begin() + r.begin, points_.begin() + mid, points_.begin() + r.end,
                [axis](Vec3 a, Vec3 b) {
                    // NaN after every number, so the order stays strict.
                    const float x = Component(a, axis), y = Component(b, axis);
                    return x == x && (y != y || x < y);
                });
            const std::size_t child = nodes_.size();
            nodes_[r.node].first = static_cast<std::uint32_t>(child);
            nodes_.push_back({});
            nodes_.push_back({});
            work.push_back({child, r.begin, mid});
            work.push_back({child + 1, mid, r.end});
        }
    }

    std::vector<Vec3> points_;
    std::vector<Node> nodes_;
};

}  // namespace

bool IsIdentityTransform(const Transform3x4& t)
{
    return t.m00 == 1.0f && t.m01 == 0.0f && t.m02 == 0.0f && t.m10 == 0.0f && t.m11 == 1.0f &&
           t.m12 == 0.0f && t.m20 == 0.0f && t.m21 == 0.0f && t.m22 == 1.0f &&
           t.translation.x == 0.0f && t.translation.y == 0.0f && t.translation.z == 0.0f;
}

Transform3x4 InvertTransform(const Transform3x4& t)
{
    Transform3x4 r;
    r.m00 = t.m00, r.m01 = t.m10, r.m02 = t.m20;
    r.m10 = t.m01, r.m11 = t.m11, r.m12 = t.m21;
    r.m20 = t.m02, r.m21 = t.m12, r.m22 = t.m22;
    const Vec3 moved = ApplyLinear(r, t.translation);
    r.translation = {-moved.x, -moved.y, -moved.z};
    return r;
}

Transform3x4 ComposeTransforms(const Transform3x4& a, const Transform3x4& b)
{
    Transform3x4 r;
    r.m00 = a.m00 * b.m00 + a.m01 * b.m10 + a.m02 * b.m20;
    r.m01 = a.m00 * b.m01 + a.m01 * b.m11 + a.m02 * b.m21;
    r.m02 = a.m00 * b.m02 + a.m01 * b.m12 + a.m02 * b.m22;
    r.m10 = a.m10 * b.m00 + a.m11 * b.m10 + a.m12 * b.m20;
    r.m11 = a.m10 * b.m01 + a.m11 * b.m11 + a.m12 * b.m21;
    r.m12 = a.m10 * b.m02 + a.m11 * b.m12 + a.m12 * b.m22;
    r.m20 = a.m20 * b.m00 + a.m21 * b.m10 + a.m22 * b.m20;
    r.m21 = a.m20 * b.m01 + a.m21 * b.m11 + a.m22 * b.m21;
    r.m22 = a.m20 * b.m02 + a.m21 * b.m12 + a.m22 * b.m22;
    r.translation = ApplyLinear(a, b.translation) + a.translation;
    return r;
}

void TransformMesh(TriangleMesh& mesh, const Transform3x4& t)
{
    if (IsIdentityTransform(t))
        return;
    ParallelFor(mesh.vertices.size(), [&](std::size_t i) {
        MeshVertex& v = mesh.vertices[i];
        v.position = ApplyLinear(t, v.position) + t.translation;
        v.normal = ApplyLinear(t, v.normal);
    });
    mesh.ComputeBounds();
}

std::vector<RestingFace> FindRestingFaces(const TriangleMesh& mesh, const RestingFaceSettings& settings)
{
    std::vector<RestingFace> result;
    if (mesh.TriangleCount() == 0 || !mesh.IsConsistent() || mesh.TriangleCount() > 0xFFFFFFFFull)
        return result;
    const float cosLimit = std::cos(settings.angle * 3.1415927f / 180.0f);
    const float tol = std::max(0.0f, settings.planeTolerance);

    float largestCoordinate = 0.0f;
    for (const MeshVertex& v : mesh.vertices)
        largestCoordinate = std::max({largestCoordinate, std::fabs(v.position.x),
                                      std::fabs(v.position.y), std::fabs(v.position.z)});
    FacetBuckets buckets(cosLimit, tol, 2.0 * static_cast<double>(largestCoordinate), mesh.TriangleCount());

    // Normals first, in parallel; the grouping itself depends on order and stays serial.
    const std::size_t triangleCount = mesh.TriangleCount();
    struct Plane { Vec3 u; float offset; float area; bool valid; };
    std::vector<Plane> planes(triangleCount);
    ParallelFor(triangleCount, [&](std::size_t t) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 p1 = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 p2 = mesh.vertices[mesh.indices[3 * t + 2]].position;
        const Vec3 n = Cross(p1 - p0, p2 - p0);
        const float length = std::sqrt(Dot(n, n));
        if (!(length > 0.0f)) {
            planes[t] = {{}, 0.0f, 0.0f, false};
            return;
        }
        const Vec3 u = n * (1.0f / length);
        planes[t] = {u, Dot(u, p0), length / 2.0f, true};
    });

    std::vector<Facet> facets;
    for (std::size_t t = 0; t < triangleCount; ++t) {
        const Plane& plane = planes[t];
        if (!plane.valid)
            continue;
        std::uint32_t found = buckets.FindFirst(plane.u, plane.offset);
        if (found == FacetBuckets::kEmpty) {
            found = static_cast<std::uint32_t>(facets.size());
            Facet facet;
            facet.normal = plane.u;
            facet.offset = plane.offset;
            facets.push_back(std::move(facet));
            buckets.Add(plane.u, plane.offset);
        }
        Facet& facet = facets[found];
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 p1 = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 p2 = mesh.vertices[mesh.indices[3 * t + 2]].position;
        const Vec3 sum = p0 + p1 + p2;
        const Vec3 centre{sum.x / 3.0f, sum.y / 3.0f, sum.z / 3.0f};
        const double area = plane.area;
        facet.triangles.push_back(static_cast<std::uint32_t>(t));
        facet.area += area;
        facet.centroidX += static_cast<double>(centre.x) * area;
        facet.centroidY += static_cast<double>(centre.y) * area;
        facet.centroidZ += static_cast<double>(centre.z) * area;
    }

    std::vector<std::uint32_t> large;
    for (std::size_t f = 0; f < facets.size(); ++f) {
        if (facets[f].area >= static_cast<double>(settings.minimumArea))
            large.push_back(static_cast<std::uint32_t>(f));
    }
    const VertexBoxTree tree(mesh.vertices);
    std::vector<std::uint8_t> supports(large.size(), 0);
    ParallelFor(large.size(), [&](std::size_t i) {
        const Facet& facet = facets[large[i]];
        supports[i] = tree.Supports(facet.normal, facet.offset, tol) ? 1 : 0;
    }, 16);

    for (std::size_t i = 0; i < large.size(); ++i) {
        if (!supports[i])
            continue;
        Facet& facet = facets[large[i]];
        RestingFace face;
        face.normal = facet.normal;
        face.offset = facet.offset;
        face.area = static_cast<float>(facet.area);
        const double scale = 1.0 / facet.area;
        face.centroid = {static_cast<float>(facet.centroidX * scale), static_cast<float>(facet.centroidY * scale),
                         static_cast<float>(facet.centroidZ * scale)};
        face.triangles = std::move(facet.triangles);
        result.push_back(std::move(face));
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const RestingFace& a, const RestingFace& b) { return a.area > b.area; });
    return result;
}

Vec3 RotateAboutAxis(Vec3 v, Vec3 k, float c, float s)
{
    return v * c + Cross(k, v) * s + k * (Dot(k, v) * (1.0f - c));
}

Transform3x4 LayOnFaceTransform(const TriangleMesh& mesh, Vec3 faceNormal)
{
    Transform3x4 result;
    if (mesh.vertices.empty())
        return result;
    Vec3 boxMin = mesh.boundsMin, boxMax = mesh.boundsMax;
    if (!mesh.boundsValid) {
        TriangleMesh copy;
        copy.vertices = mesh.vertices;
        copy.ComputeBounds();
        boxMin = copy.boundsMin;
        boxMax = copy.boundsMax;
    }
    const Vec3 centre = (boxMin + boxMax) * 0.5f;
    const float z0 = boxMin.z;

    const Vec3 n = Normalized(faceNormal);
    // A zero normal names no face: turning by it would flip the part over for nothing.
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f)
        return result;
    const Vec3 a{-n.y, n.x, 0.0f};
    const float c = std::clamp(-n.z, -1.0f, 1.0f);
    const float s = std::sqrt(Dot(a, a));
    Vec3 axis;
    float sine = 0.0f;
    if (s < 1e-6f) {
        if (c > 0.0f)
            return result;
        axis = {1.0f, 0.0f, 0.0f};
    } else {
        axis = a * (1.0f / s);
        sine = s;
    }
    const Vec3 cx = RotateAboutAxis({1.0f, 0.0f, 0.0f}, axis, c, sine);
    const Vec3 cy = RotateAboutAxis({0.0f, 1.0f, 0.0f}, axis, c, sine);
    const Vec3 cz = RotateAboutAxis({0.0f, 0.0f, 1.0f}, axis, c, sine);
    result.m00 = cx.x, result.m01 = cy.x, result.m02 = cz.x;
    result.m10 = cx.y, result.m11 = cy.y, result.m12 = cz.y;
    result.m20 = cx.z, result.m21 = cy.z, result.m22 = cz.z;
    result.translation = centre - ApplyLinear(result, centre);

    float zMin = std::numeric_limits<float>::infinity();
    for (const MeshVertex& v : mesh.vertices) {
        const Vec3 p = v.position;
        zMin = std::min(zMin, result.m20 * p.x + result.m21 * p.y + result.m22 * p.z + result.translation.z);
    }
    result.translation.z += z0 - zMin;
    return result;
}

}  // namespace grainforge::mesh
