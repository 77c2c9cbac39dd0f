#include "engine/mesh/aabb_tree.h"

#include "engine/mesh/large_pages.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace grainforge::mesh {
namespace {

// Ranges of fewer triangles become leaves.
constexpr std::uint64_t kLeafLimit = 9;
// Depth at which every range becomes a leaf, whatever its size.
constexpr std::uint64_t kMaxDepth = 64;
// Halves of at least this many triangles are built as parallel tasks.
constexpr std::uint32_t kParallelHalf = 65536;
// Depth 64 keeps a depth-first stack far below this.
constexpr std::size_t kStackSize = 128;
constexpr float kEmptyBoxMin = 3.4e38f;
constexpr float kEmptyBoxMax = -3.4e38f;
constexpr float kOneThird = 0.33333334f;
// Reaches at or above this are no limit.
constexpr float kUnlimitedReach = 1e19f;
constexpr double kUnlimitedSquared = 1e300;
constexpr float kParallelDirection = 1e-9f;
constexpr float kPickDeterminant = 1e-12f;

float Axis(Vec3 v, int axis)
{
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

// Grows a box by a point; NaN coordinates leave it as it was.
void Grow(Vec3& lo, Vec3& hi, Vec3 p)
{
    if (p.x < lo.x) lo.x = p.x;
    if (p.y < lo.y) lo.y = p.y;
    if (p.z < lo.z) lo.z = p.z;
    if (p.x > hi.x) hi.x = p.x;
    if (p.y > hi.y) hi.y = p.y;
    if (p.z > hi.z) hi.z = p.z;
}

// Grows a box by another; an empty box (its minimum above its maximum) leaves it as it was.
// The same minima and maxima as growing by every corner of the other box's triangles.
void GrowByBox(Vec3& lo, Vec3& hi, Vec3 otherLo, Vec3 otherHi)
{
    if (otherLo.x < lo.x) lo.x = otherLo.x;
    if (otherLo.y < lo.y) lo.y = otherLo.y;
    if (otherLo.z < lo.z) lo.z = otherLo.z;
    if (otherHi.x > hi.x) hi.x = otherHi.x;
    if (otherHi.y > hi.y) hi.y = otherHi.y;
    if (otherHi.z > hi.z) hi.z = otherHi.z;
}

// A strict weak order on floats that puts NaN after every number, so a mesh with NaN
// coordinates cannot break the selection.
bool CoordinateLess(float a, float b)
{
    return !std::isnan(a) && (std::isnan(b) || a < b);
}

Vec3d Widen(Vec3 v)
{
    return {v.x, v.y, v.z};
}

Vec3d operator-(Vec3d a, Vec3d b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(Vec3d a, Vec3d b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Squared distance from p to the box, in float; 0 inside.
float BoxDistanceSquared(const AabbNode& node, Vec3 p)
{
    float sum = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        const float coordinate = Axis(p, axis);
        const float gap = std::max(std::max(Axis(node.boxMin, axis) - coordinate,
                                       coordinate - Axis(node.boxMax, axis)),
            0.0f);
        sum += gap * gap;
    }
    return sum;
}

Vec3 Corner(const TriangleMesh& mesh, std::uint32_t triangle, int corner)
{
    return mesh.vertices[mesh.indices[std::size_t{3} * triangle + corner]].position;
}

}  // namespace

std::uint64_t AabbTree::EstimateNodeCount(std::uint64_t triangleCount, std::uint64_t depth)
{
    if (triangleCount < kLeafLimit || depth >= kMaxDepth)
        return 1;
    return 1 + EstimateNodeCount(triangleCount - triangleCount / 2, depth + 1)
        + EstimateNodeCount(triangleCount / 2, depth + 1);
}

void AabbTree::Build(const TriangleMesh& mesh)
{
    nodes.clear();
    order.clear();
    building.clear();
    leafCorners.clear();
    minLabel.clear();
    maxLabel.clear();
    levels = 0;
    vertexCount = 0;
    const std::uint64_t triangles = mesh.TriangleCount();
    if (!mesh.IsConsistent() || triangles == 0
        || triangles > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const auto count = static_cast<std::uint32_t>(triangles);
    // Searches jump all over the order, the nodes and the kept corners: all on large pages.
    AssignOnLargePages(order, count, 0u);
    building.resize(count);
    ParallelFor(count, [&](std::size_t t) {
        const auto triangle = static_cast<std::uint32_t>(t);
        building[t] = {(Corner(mesh, triangle, 0) + Corner(mesh, triangle, 1) + Corner(mesh, triangle, 2)) * kOneThird,
            triangle};
    });
    const std::uint64_t nodeCount = count < kLeafLimit
        ? 1
        : 1 + EstimateNodeCount(count - count / 2, 1) + EstimateNodeCount(count / 2, 1);
    AssignOnLargePages(nodes, static_cast<std::size_t>(nodeCount), AabbNode{});
    vertexCount = mesh.vertices.size();
    levels = BuildRange(mesh, 0, 0, count, 0);
    ParallelFor(count, [&](std::size_t position) { order[position] = building[position].triangle; });
    std::vector<BuildItem>().swap(building);
}

std::uint32_t AabbTree::BuildRange(const TriangleMesh& mesh, std::uint32_t node, std::uint32_t first,
    std::uint32_t count, std::uint64_t depth)
{
    AabbNode& target = nodes[node];
    if (count < kLeafLimit || depth >= kMaxDepth) {
        Vec3 boxMin{kEmptyBoxMin, kEmptyBoxMin, kEmptyBoxMin};
        Vec3 boxMax{kEmptyBoxMax, kEmptyBoxMax, kEmptyBoxMax};
        for (std::uint32_t position = first; position < first + count; ++position)
            for (int corner = 0; corner < 3; ++corner)
                Grow(boxMin, boxMax, Corner(mesh, building[position].triangle, corner));
        target.boxMin = boxMin;
        target.boxMax = boxMax;
        target.first = first;
        target.count = count;
        return static_cast<std::uint32_t>(depth + 1);
    }
    // An inner box is the union of its children's, filled in once they are built: the corners
    // are then read once at the leaves rather than once per level.
    Vec3 centreMin{kEmptyBoxMin, kEmptyBoxMin, kEmptyBoxMin};
    Vec3 centreMax{kEmptyBoxMax, kEmptyBoxMax, kEmptyBoxMax};
    for (std::uint32_t position = first; position < first + count; ++position)
        Grow(centreMin, centreMax, building[position].centroid);

    const Vec3 extent = centreMax - centreMin;
    int axis = 0;
    if (extent.y > Axis(extent, axis))
        axis = 1;
    if (extent.z > Axis(extent, axis))
        axis = 2;
    const std::uint32_t half = count / 2;
    std::nth_element(building.begin() + first, building.begin() + first + half, building.begin() + first + count,
        [&](const BuildItem& a, const BuildItem& b) {
            return CoordinateLess(Axis(a.centroid, axis), Axis(b.centroid, axis));
        });

    const bool leftIsLeaf = half < kLeafLimit || depth + 1 >= kMaxDepth;
    const std::uint64_t right = leftIsLeaf
        ? std::uint64_t{node} + 2
        : std::uint64_t{node} + 2 + EstimateNodeCount(half - count / 4, depth + 2)
            + EstimateNodeCount(count / 4, depth + 2);
    target.right = static_cast<std::uint32_t>(right);
    target.count = 0;
    const auto rightNode = static_cast<std::uint32_t>(right);

    std::uint32_t leftLevels = 0;
    std::uint32_t rightLevels = 0;
    const auto buildLeft = [&] { leftLevels = BuildRange(mesh, node + 1, first, half, depth + 1); };
    const auto buildRight = [&] { rightLevels = BuildRange(mesh, rightNode, first + half, count - half, depth + 1); };
    if (half < kParallelHalf) {
        buildLeft();
        buildRight();
    } else {
        // The halves write disjoint node ranges and disjoint runs of `order`.
        ParallelInvoke(buildLeft, buildRight);
    }
    const AabbNode& leftChild = nodes[node + 1];
    const AabbNode& rightChild = nodes[rightNode];
    target.boxMin = leftChild.boxMin;
    target.boxMax = leftChild.boxMax;
    GrowByBox(target.boxMin, target.boxMax, rightChild.boxMin, rightChild.boxMax);
    return std::max(leftLevels, rightLevels);
}

void AabbTree::KeepCorners(const TriangleMesh& mesh)
{
    leafCorners.clear();
    if (nodes.empty() || mesh.indices.size() != std::size_t{3} * order.size() || mesh.vertices.size() < vertexCount)
        return;
    AssignOnLargePages(leafCorners, std::size_t{3} * order.size(), Vec3{});
    ParallelFor(order.size(), [&](std::size_t position) {
        for (int corner = 0; corner < 3; ++corner)
            leafCorners[3 * position + static_cast<std::size_t>(corner)] = Corner(mesh, order[position], corner);
    });
}

void AabbTree::RefitLabels(std::uint32_t node, const std::vector<std::uint32_t>& labels)
{
    // A caller that got the sizes wrong gets no labels rather than a read out of bounds.
    if (node >= nodes.size() || minLabel.size() != nodes.size() || maxLabel.size() != nodes.size()
        || labels.size() < order.size()) {
        minLabel.clear();
        maxLabel.clear();
        return;
    }
    const AabbNode& current = nodes[node];
    if (current.count == 0) {
        RefitLabels(node + 1, labels);
        RefitLabels(current.right, labels);
        if (minLabel.empty())
            return;
        minLabel[node] = std::min(minLabel[node + 1], minLabel[current.right]);
        maxLabel[node] = std::max(maxLabel[node + 1], maxLabel[current.right]);
        return;
    }
    std::uint32_t lowest = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t highest = 0;
    for (std::uint32_t position = current.first; position < current.first + current.count; ++position) {
        const std::uint32_t label = labels[order[position]];
        lowest = std::min(lowest, label);
        highest = std::max(highest, label);
    }
    minLabel[node] = lowest;
    maxLabel[node] = highest;
}

bool RayHitsBox(const Ray& ray, Vec3 boxMin, Vec3 boxMax, float maximumDistance, float& entry)
{
    float enter = 0.0f;
    float exit = maximumDistance;
    for (int axis = 0; axis < 3; ++axis) {
        const float origin = Axis(ray.origin, axis);
        const float direction = Axis(ray.direction, axis);
        const float lo = Axis(boxMin, axis);
        const float hi = Axis(boxMax, axis);
        if (std::fabs(direction) < kParallelDirection) {
            if (origin < lo || origin > hi)
                return false;
            continue;
        }
        const float reciprocal = 1.0f / direction;
        float t1 = (lo - origin) * reciprocal;
        float t2 = (hi - origin) * reciprocal;
        if (t1 > t2)
            std::swap(t1, t2);
        enter = std::max(enter, t1);
        exit = std::min(exit, t2);
        if (enter > exit)
            return false;
    }
    entry = enter;
    return true;
}

RayHit PickTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c)
{
    RayHit result;
    const Vec3 e1 = b - a;
    const Vec3 e2 = c - a;
    const Vec3 p = Cross(ray.direction, e2);
    const float det = Dot(e1, p);
    if (std::fabs(det) < kPickDeterminant)
        return result;
    // Comparisons are written so that NaN counts as a miss.
    const Vec3 s = ray.origin - a;
    const float u = Dot(s, p) / det;
    if (!(u >= 0.0f) || u > 1.0f)
        return result;
    const Vec3 q = Cross(s, e1);
    const float v = Dot(ray.direction, q) / det;
    if (!(v >= 0.0f) || u + v > 1.0f)
        return result;
    const float t = Dot(e2, q) / det;
    if (!(t > 0.0f))
        return result;
    result.hit = true;
    result.distance = t;
    result.point = ray.origin + ray.direction * t;
    result.normal = Normalized(Cross(e1, e2));
    return result;
}

RayHit AabbTree::Raycast(const Ray& ray, const TriangleMesh& mesh, float maximumDistance) const
{
    RayHit result;
    if (nodes.empty() || mesh.indices.size() != std::size_t{3} * order.size()
        || mesh.vertices.size() < vertexCount)
        return result;
    // No bound (and NaN, which fails the test) keeps the search as it always was.
    float best = maximumDistance < kNoDistanceLimit ? maximumDistance : kEmptyBoxMin;
    const bool kept = leafCorners.size() == std::size_t{3} * order.size();
    std::array<std::uint32_t, kStackSize> stack;
    std::size_t size = 0;
    stack[size++] = 0;
    while (size > 0) {
        const std::uint32_t index = stack[--size];
        const AabbNode& node = nodes[index];
        float entry = 0.0f;
        if (!RayHitsBox(ray, node.boxMin, node.boxMax, best, entry) || entry > best)
            continue;
        if (node.count == 0) {
            // Right on top, so it is visited first.
            if (size + 2 <= kStackSize) {
                stack[size++] = index + 1;
                stack[size++] = node.right;
            }
            continue;
        }
        for (std::uint32_t position = node.first; position < node.first + node.count; ++position) {
            const std::uint32_t t = order[position];
            const Vec3* c = kept ? &leafCorners[std::size_t{3} * position] : nullptr;
            const RayHit hit = kept ? PickTriangle(ray, c[0], c[1], c[2])
                                    : PickTriangle(ray, Corner(mesh, t, 0), Corner(mesh, t, 1), Corner(mesh, t, 2));
            if (hit.hit && hit.distance < best) {
                result = hit;
                result.triangle = static_cast<std::int32_t>(t);
                best = hit.distance;
            }
        }
    }
    return result;
}

namespace {

// Whether the whole box lies behind the plane of `ahead`. Only boxes clearly behind count: a
// margin far above float rounding keeps every node whose triangles a caller's own test (on
// centroids in float) might still take for ahead.
bool BoxBehind(const AabbNode& node, const NearestAhead& ahead)
{
    const Vec3d o = Widen(ahead.origin);
    const Vec3d d = Widen(ahead.direction);
    const Vec3d lo = Widen(node.boxMin);
    const Vec3d hi = Widen(node.boxMax);
    const double support = ((d.x > 0.0 ? hi.x : lo.x) - o.x) * d.x + ((d.y > 0.0 ? hi.y : lo.y) - o.y) * d.y
        + ((d.z > 0.0 ? hi.z : lo.z) - o.z) * d.z;
    const double scale = std::max({1.0, std::abs(o.x), std::abs(o.y), std::abs(o.z), std::abs(lo.x),
        std::abs(lo.y), std::abs(lo.z), std::abs(hi.x), std::abs(hi.y), std::abs(hi.z)});
    const double length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return support < -1e-5 * scale * length;
}

}  // namespace

NearestHit AabbTree::Nearest(const TriangleMesh& mesh, Vec3 point, std::span<const std::uint32_t> excludedLabels,
    TriangleFilter filter, float maximumDistance, const NearestAhead* ahead, NodeFilter skipNode) const
{
    NearestHit result;
    if (nodes.empty() || mesh.indices.size() != std::size_t{3} * order.size()
        || mesh.vertices.size() < vertexCount)
        return result;
    const bool useLabels = !excludedLabels.empty() && minLabel.size() == nodes.size()
        && maxLabel.size() == nodes.size();
    // Every label of the node's range excluded? The range is taken in 64 bits: the full
    // 32-bit range would wrap to 0.
    auto allExcluded = [&](std::uint32_t index) {
        const std::uint64_t lowest = minLabel[index];
        const std::uint64_t highest = maxLabel[index];
        if (highest < lowest || highest - lowest + 1 > excludedLabels.size())
            return false;
        for (std::uint64_t label = lowest; label <= highest; ++label) {
            if (std::find(excludedLabels.begin(), excludedLabels.end(), label) == excludedLabels.end())
                return false;
        }
        return true;
    };

    double bestSquared = maximumDistance < kUnlimitedReach
        ? static_cast<double>(maximumDistance) * static_cast<double>(maximumDistance)
        : kUnlimitedSquared;
    const Vec3d p = Widen(point);
    const bool kept = leafCorners.size() == std::size_t{3} * order.size();
    // Each entry keeps the box distance worked out when it was pushed, so no box is measured
    // twice.
    struct Pending {
        std::uint32_t index;
        float distanceSquared;
    };
    std::array<Pending, kStackSize> stack;
    std::size_t size = 0;
    stack[size++] = {0, BoxDistanceSquared(nodes[0], point)};
    while (size > 0) {
        const Pending pending = stack[--size];
        const std::uint32_t index = pending.index;
        const AabbNode& node = nodes[index];
        if (pending.distanceSquared >= bestSquared)
            continue;
        if (useLabels && allExcluded(index))
            continue;
        if (ahead && BoxBehind(node, *ahead))
            continue;
        if (skipNode && skipNode(index, bestSquared))
            continue;
        if (node.count == 0) {
            const std::uint32_t left = index + 1;
            const float leftDistance = BoxDistanceSquared(nodes[left], point);
            const float rightDistance = BoxDistanceSquared(nodes[node.right], point);
            if (size + 2 <= kStackSize) {
                // The nearer child goes on top; on a tie the right one.
                if (leftDistance < rightDistance) {
                    stack[size++] = {node.right, rightDistance};
                    stack[size++] = {left, leftDistance};
                } else {
                    stack[size++] = {left, leftDistance};
                    stack[size++] = {node.right, rightDistance};
                }
            }
            continue;
        }
        for (std::uint32_t position = node.first; position < node.first + node.count; ++position) {
            const std::uint32_t t = order[position];
            if (filter && filter(t))
                continue;
            const Vec3* c = kept ? &leafCorners[std::size_t{3} * position] : nullptr;
            const Vec3d closest = kept
                ? ClosestPointOnTriangle(p, Widen(c[0]), Widen(c[1]), Widen(c[2]))
                : ClosestPointOnTriangle(p, Widen(Corner(mesh, t, 0)), Widen(Corner(mesh, t, 1)), Widen(Corner(mesh, t, 2)));
            const Vec3d offset = closest - p;
            const double distanceSquared = Dot(offset, offset);
            if (distanceSquared < bestSquared) {
                bestSquared = distanceSquared;
                result.found = true;
                result.point = {static_cast<float>(closest.x), static_cast<float>(closest.y),
                    static_cast<float>(closest.z)};
                result.triangle = static_cast<std::int32_t>(t);
            }
        }
    }
    if (result.found)
        result.distance = static_cast<float>(std::sqrt(bestSquared));
    return result;
}

}  // namespace grainforge::mesh
