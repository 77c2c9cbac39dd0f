// Bounding-volume tree over the triangles of one mesh: nearest surface point to a point
// (within a reach, optionally skipping triangles by label or by a filter) and first triangle
// hit by a ray. Build it once per mesh and share it as a std::shared_ptr; after the build it
// is only read, so any number of threads may query it at once. Queries need the very mesh the
// tree was built from, unchanged: a mesh of another triangle count, or with fewer vertices than
// at the build, gives the cleared result. Queries allocate nothing.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace grainforge::mesh {

// A point or vector in double precision.
struct Vec3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// One tree node. Inner nodes have count 0; their left child is the next node.
// The half-space in front of a plane through `origin` facing `direction` (any length).
struct NearestAhead {
    Vec3 origin;
    Vec3 direction;
};

struct AabbNode {
    Vec3 boxMin;               // box of every corner of the node's triangles
    Vec3 boxMax;
    std::uint32_t right = 0;   // inner node: index of the right child
    std::uint32_t first = 0;   // leaf: first position of its triangles in `order`
    std::uint32_t count = 0;   // leaf: number of triangles (1 to 8 as a rule); 0: inner node
};

// A box along three axes of a node's own: the first across its triangles (their mean normal),
// the second along their longest edge. The long thin facets of a fan, a cone's side or a turned
// cylinder lie in wedges and slabs that the node boxes square to x, y and z hold far more
// loosely; a box that follows them lets a nearest search turn away nodes whose facets lie far
// off. An empty box (a node with a coordinate not finite) turns nothing away.
struct FittedNodeBox {
    std::array<Vec3, 3> axis{};                 // unit, square to each other up to float rounding
    std::array<float, 3> low{3.4e38f, 3.4e38f, 3.4e38f};  // along each axis, rounded outward
    std::array<float, 3> high{-3.4e38f, -3.4e38f, -3.4e38f};
};

// A ray. The direction need not be unit length; distances are in multiples of it.
struct Ray {
    Vec3 origin;
    Vec3 direction;
};

struct RayHit {
    bool hit = false;
    float distance = 0.0f;     // ray parameter of the hit
    Vec3 point;
    Vec3 normal;               // unit normal (b - a) x (c - a) of the triangle hit
    std::int32_t triangle = -1;
};

struct NearestHit {
    bool found = false;
    float distance = 0.0f;
    Vec3 point;                // closest surface point
    std::int32_t triangle = -1;
};

// A non-owning reference to a callable bool(std::uint32_t triangle) that returns true for the
// triangles a query skips. Empty means no filter. It refers to the callable, which must outlive
// the query (pass a lambda directly in the call); the callable must be safe to call from every
// thread that queries.
class TriangleFilter {
public:
    TriangleFilter() = default;

    template <class Callable>
        requires(!std::is_same_v<std::remove_cvref_t<Callable>, TriangleFilter>
            && std::is_invocable_r_v<bool, const Callable&, std::uint32_t>)
    TriangleFilter(const Callable& callable)  // implicit, so a lambda can be passed as it is
        : object_(&callable), call_([](const void* object, std::uint32_t triangle) {
              return static_cast<bool>((*static_cast<const Callable*>(object))(triangle));
          })
    {
    }

    explicit operator bool() const { return call_ != nullptr; }
    bool operator()(std::uint32_t triangle) const { return call_(object_, triangle); }

private:
    const void* object_ = nullptr;
    bool (*call_)(const void*, std::uint32_t) = nullptr;
};

// A non-owning reference to a callable bool(std::uint32_t node, double bestSquared) that
// returns true for the tree nodes a query skips whole, given the squared distance of the best
// hit so far (the squared reach before any). Empty means none; lifetime and threads as for
// TriangleFilter.
class NodeFilter {
public:
    NodeFilter() = default;

    template <class Callable>
        requires(!std::is_same_v<std::remove_cvref_t<Callable>, NodeFilter>
            && std::is_invocable_r_v<bool, const Callable&, std::uint32_t, double>)
    NodeFilter(const Callable& callable)  // implicit, so a lambda can be passed as it is
        : object_(&callable), call_([](const void* object, std::uint32_t node, double bestSquared) {
              return static_cast<bool>((*static_cast<const Callable*>(object))(node, bestSquared));
          })
    {
    }

    explicit operator bool() const { return call_ != nullptr; }
    bool operator()(std::uint32_t node, double bestSquared) const { return call_(object_, node, bestSquared); }

private:
    const void* object_ = nullptr;
    bool (*call_)(const void*, std::uint32_t, double) = nullptr;
};

// Queries without a distance limit pass this reach.
inline constexpr float kNoDistanceLimit = 3e38f;

struct AabbTree {
    std::vector<AabbNode> nodes;         // node 0 is the root; depth first, left before right
    std::vector<std::uint32_t> minLabel; // per node, after RefitLabels
    std::vector<std::uint32_t> maxLabel;
    std::vector<std::uint32_t> order;    // triangle indices; each leaf owns a contiguous run
    // During the build only, then released: the triangles in the order's order beside their
    // centroids, which the splits move together (one contiguous record instead of a lookup).
    struct BuildItem {
        Vec3 centroid;
        std::uint32_t triangle = 0;
    };
    std::vector<BuildItem> building;
    // Empty, or after KeepCorners three corners per position of `order`, which the queries
    // then read instead of the mesh.
    std::vector<Vec3> leafCorners;
    // Empty, or after FitBoxes per node the position of its fitted box in `fittedBoxes`, or
    // kNoFittedBox for a node whose fitted box is not much tighter than its own; Nearest then
    // also tests a node against its fitted box.
    std::vector<std::uint32_t> fittedIndex;
    std::vector<FittedNodeBox> fittedBoxes;
    static constexpr std::uint32_t kNoFittedBox = 0xffffffffu;
    std::uint32_t levels = 0;            // deepest leaf depth + 1; 0 for an empty tree
    std::uint64_t vertexCount = 0;       // vertices of the mesh the tree was built for

    // Builds the tree over every triangle of the mesh. An inconsistent mesh, a mesh without
    // triangles, or one of more than 2^31 - 1 triangles (hits carry a signed 32-bit index)
    // gives an empty tree. Ranges of 131072 triangles or more build their halves as parallel
    // tasks of the parallel loops (ThreadLimit holds); the tree does not depend on the thread
    // count. Throws only on allocation failure.
    void Build(const TriangleMesh& mesh);

    // Builds the subtree of node `node` over positions [first, first + count) of `building` and
    // returns its number of levels (including this node's). Used by Build; the node array must
    // already be sized by EstimateNodeCount.
    std::uint32_t BuildRange(const TriangleMesh& mesh, std::uint32_t node, std::uint32_t first,
        std::uint32_t count, std::uint64_t depth);

    // Number of nodes a range of `triangleCount` triangles uses when its root is at `depth`.
    static std::uint64_t EstimateNodeCount(std::uint64_t triangleCount, std::uint64_t depth);

    // Copies the corners of every triangle in leaf order, so that a query reads a leaf's
    // triangles from one run of memory instead of through the mesh's indices: much faster for
    // millions of queries, at 36 bytes a triangle. Answers stay the same to the bit. Only for
    // a mesh that stays unchanged while the tree is used, since the queries then read the copy
    // (a mesh that does not fit the tree still gives the cleared result). In parallel.
    void KeepCorners(const TriangleMesh& mesh);

    // Fits a box along each node's own axes (FittedNodeBox), so that Nearest also turns away a
    // node whose fitted box lies beyond the best hit so far: for a part of long slanted facets
    // it visits far fewer nodes. Answers stay the same to the bit: a node is turned away only
    // when all of it lies farther than a hit already found, which it could not better. Only
    // boxes much tighter than their node's are kept: 4 bytes a node and 60 a box kept; for a
    // tree queried many times. In parallel.
    void FitBoxes(const TriangleMesh& mesh);

    // Nearest surface point to `point` within `maximumDistance` (kNoDistanceLimit for none).
    // Triangles for which `filter` returns true are skipped. With `excludedLabels` not empty and
    // labels refitted, whole nodes whose labels are all excluded are skipped; leaves do not look
    // at labels, so a caller that excludes labels also passes a filter that rejects them.
    // With `ahead`, whole nodes whose box lies behind its plane are skipped as well: for a
    // caller whose filter rejects what lies behind that plane, the answer is the same, found
    // without testing those triangles one by one. With `skipNode`, whole nodes for which it
    // returns true are skipped: for a caller that skips only nodes whose every triangle its
    // filter rejects or lies farther than the best hit so far, the answer is the same.
    NearestHit Nearest(const TriangleMesh& mesh, Vec3 point,
        std::span<const std::uint32_t> excludedLabels, TriangleFilter filter,
        float maximumDistance, const NearestAhead* ahead = nullptr, NodeFilter skipNode = {}) const;

    // First triangle hit by the ray (both sides count, hits at or behind the origin do not).
    // With `maximumDistance`, hits at or beyond it are not looked for; a nearer hit comes back
    // as the unbounded search gives it, found sooner.
    RayHit Raycast(const Ray& ray, const TriangleMesh& mesh, float maximumDistance = kNoDistanceLimit) const;

    // Fills minLabel and maxLabel of the subtree at `node` from per-triangle labels. The caller
    // sizes both vectors to the node count and starts at node 0; `labels` has one entry per
    // triangle of the mesh.
    void RefitLabels(std::uint32_t node, const std::vector<std::uint32_t>& labels);
};

// The shared, read-only form in which a tree is handed between users.
using SharedAabbTree = std::shared_ptr<const AabbTree>;

// Closest point of triangle a-b-c to p, by region tests; a point on a degenerate triangle too.
// Inline: the field and the tree call it hundreds of millions of times; the arithmetic is the
// same wherever it is compiled (no contraction), so every caller gets the same bits.
inline Vec3d ClosestPointOnTriangle(Vec3d p, Vec3d a, Vec3d b, Vec3d c);

// Whether the ray meets the box between distance 0 and `maximumDistance`; `entry` receives
// the entry distance (0 when the origin is inside).
bool RayHitsBox(const Ray& ray, Vec3 boxMin, Vec3 boxMax, float maximumDistance, float& entry);

// Moller-Trumbore ray-triangle test in float, both sides, edges and corners included; t must
// be positive. The result's `triangle` is -1: the caller knows which triangle it tested.
RayHit PickTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c);

// ---------------------------------------------------------------------------------------------

namespace detail {

inline Vec3d Minus(Vec3d a, Vec3d b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline double DotOf(Vec3d a, Vec3d b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// a + u s, and a + u s + v t, component by component in that order.
inline Vec3d Along(Vec3d a, Vec3d u, double s) { return {a.x + u.x * s, a.y + u.y * s, a.z + u.z * s}; }
inline Vec3d Across(Vec3d a, Vec3d u, double s, Vec3d v, double t)
{
    return {a.x + u.x * s + v.x * t, a.y + u.y * s + v.y * t, a.z + u.z * s + v.z * t};
}

}  // namespace detail

inline Vec3d ClosestPointOnTriangle(Vec3d p, Vec3d a, Vec3d b, Vec3d c)
{
    using detail::DotOf;
    using detail::Minus;
    const Vec3d ab = Minus(b, a);
    const Vec3d ac = Minus(c, a);
    const Vec3d ap = Minus(p, a);
    const double d1 = DotOf(ab, ap);
    const double d2 = DotOf(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0)
        return a;

    const Vec3d bp = Minus(p, b);
    const double d3 = DotOf(ab, bp);
    const double d4 = DotOf(ac, bp);
    if (d3 >= 0.0 && d4 <= d3)
        return b;

    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        const double denominator = d1 - d3;
        const double v = denominator != 0.0 ? d1 / denominator : 0.0;
        return detail::Along(a, ab, v);
    }

    const Vec3d cp = Minus(p, c);
    const double d5 = DotOf(ab, cp);
    const double d6 = DotOf(ac, cp);
    if (d6 >= 0.0 && d5 <= d6)
        return c;

    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        const double denominator = d2 - d6;
        const double w = denominator != 0.0 ? d2 / denominator : 0.0;
        return detail::Along(a, ac, w);
    }

    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
        const double denominator = (d4 - d3) + (d5 - d6);
        const double w = denominator != 0.0 ? (d4 - d3) / denominator : 0.0;
        return detail::Along(b, Minus(c, b), w);
    }

    const double sum = va + vb + vc;
    if (sum == 0.0)
        return a;
    const double v = vb / sum;
    const double w = vc / sum;
    return detail::Across(a, ab, v, ac, w);
}

}  // namespace grainforge::mesh
