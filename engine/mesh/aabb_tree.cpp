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
    fittedIndex.clear();
    fittedBoxes.clear();
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

namespace {

// Nodes of at most this many triangles fit their box to their corners; larger ones to their
// children's boxes, which costs the same for a node of any size.
constexpr std::uint32_t kFitFromCorners = 64;
// A fitted box turns a node away only when the point lies farther from it than the best hit by
// this share as well: far above what float axes, a hair off unit length and square, can hide.
constexpr double kFittedShare = 1e-4;
// And by this share of the coordinates, far above the rounding of the distances in double.
constexpr double kFittedMargin = 1e-7;

double DotWide(Vec3 axis, Vec3d p) { return static_cast<double>(axis.x) * p.x + static_cast<double>(axis.y) * p.y + static_cast<double>(axis.z) * p.z; }

Vec3d Scaled(Vec3d v, double s) { return {v.x * s, v.y * s, v.z * s}; }
Vec3d Plus(Vec3d a, Vec3d b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3d CrossWide(Vec3d a, Vec3d b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double LengthWide(Vec3d v) { return std::sqrt(Dot(v, v)); }

// Unit axes from a direction across and one along; any square set where either gives none.
std::array<Vec3, 3> AxesOf(Vec3d across, Vec3d along)
{
    const double acrossLength = LengthWide(across);
    const Vec3d a = acrossLength > 0.0 && std::isfinite(acrossLength) ? Scaled(across, 1.0 / acrossLength) : Vec3d{0.0, 0.0, 1.0};
    Vec3d u = Plus(along, Scaled(a, -Dot(a, along)));
    if (!(LengthWide(u) > 1e-9 * LengthWide(along)) || !(LengthWide(u) > 0.0) || !std::isfinite(LengthWide(u)))
        u = std::fabs(a.x) < 0.6 ? CrossWide(a, Vec3d{1.0, 0.0, 0.0}) : CrossWide(a, Vec3d{0.0, 1.0, 0.0});
    u = Scaled(u, 1.0 / LengthWide(u));
    const Vec3d v = CrossWide(a, u);
    const auto narrow = [](Vec3d w) { return Vec3{static_cast<float>(w.x), static_cast<float>(w.y), static_cast<float>(w.z)}; };
    return {narrow(a), narrow(u), narrow(Scaled(v, 1.0 / LengthWide(v)))};
}

// Widens the box along its axes to hold `p`; the stored bounds are rounded outward.
void HoldPoint(FittedNodeBox& box, Vec3d p)
{
    for (std::size_t a = 0; a < 3; ++a) {
        const double along = DotWide(box.axis[a], p);
        float low = static_cast<float>(along);
        if (static_cast<double>(low) > along)
            low = std::nextafter(low, -std::numeric_limits<float>::infinity());
        float high = static_cast<float>(along);
        if (static_cast<double>(high) < along)
            high = std::nextafter(high, std::numeric_limits<float>::infinity());
        box.low[a] = std::min(box.low[a], low);
        box.high[a] = std::max(box.high[a], high);
    }
}

bool IsEmpty(const FittedNodeBox& box)
{
    for (std::size_t a = 0; a < 3; ++a)
        if (!(box.low[a] <= box.high[a]) || !std::isfinite(box.low[a]) || !std::isfinite(box.high[a]))
            return true;
    return false;
}

// The box of the triangles at positions [first, end) of `order`, fitted to their corners.
FittedNodeBox FitToCorners(const TriangleMesh& mesh, std::span<const std::uint32_t> order, std::uint32_t first,
    std::uint32_t end)
{
    Vec3d across, longest;
    for (std::uint32_t position = first; position < end; ++position) {
        const std::uint32_t t = order[position];
        const Vec3d a = Widen(Corner(mesh, t, 0)), b = Widen(Corner(mesh, t, 1)), c = Widen(Corner(mesh, t, 2));
        const Vec3d normal = CrossWide(b - a, c - a);
        const double length = LengthWide(normal);
        if (length > 0.0 && std::isfinite(length)) {
            // A normal's sign is the facet's winding; the mean keeps to the first one's side.
            const Vec3d unit = Scaled(normal, 1.0 / length);
            across = Plus(across, Dot(across, unit) < 0.0 ? Scaled(unit, -1.0) : unit);
        }
        for (const Vec3d edge : {b - a, c - b, a - c})
            if (Dot(edge, edge) > Dot(longest, longest))
                longest = Dot(longest, edge) < 0.0 ? Scaled(edge, -1.0) : edge;
    }
    FittedNodeBox box;
    box.axis = AxesOf(across, longest);
    for (std::uint32_t position = first; position < end; ++position)
        for (int k = 0; k < 3; ++k)
            HoldPoint(box, Widen(Corner(mesh, order[position], k)));
    return box;
}

// A box along axes between the children's, holding every corner of both children's boxes.
FittedNodeBox FitToChildren(const FittedNodeBox& left, const FittedNodeBox& right)
{
    FittedNodeBox box;
    if (IsEmpty(left) || IsEmpty(right))
        return box;
    const auto agreeing = [](Vec3 first, Vec3 second) {
        const Vec3d w = Widen(second);
        return Dot(Widen(first), w) < 0.0 ? Scaled(w, -1.0) : w;
    };
    box.axis = AxesOf(Plus(Widen(left.axis[0]), agreeing(left.axis[0], right.axis[0])),
        Plus(Widen(left.axis[1]), agreeing(left.axis[1], right.axis[1])));
    for (const FittedNodeBox* child : {&left, &right})
        for (std::uint32_t corner = 0; corner < 8; ++corner) {
            Vec3d point;
            for (std::size_t a = 0; a < 3; ++a)
                point = Plus(point, Scaled(Widen(child->axis[a]), (corner >> a & 1u) != 0 ? child->high[a] : child->low[a]));
            HoldPoint(box, point);
        }
    return box;
}

// Whether every point of the box lies farther from `p` than the best distance so far.
bool FittedBoxBeyond(const FittedNodeBox& box, Vec3d p, double bestSquared)
{
    if (IsEmpty(box))
        return false;
    double gapSquared = 0.0;
    double scale = 0.0;
    for (std::size_t a = 0; a < 3; ++a) {
        const double along = DotWide(box.axis[a], p);
        const double gap = std::max({static_cast<double>(box.low[a]) - along, along - static_cast<double>(box.high[a]), 0.0});
        gapSquared += gap * gap;
        scale = std::max({scale, std::fabs(along), std::fabs(static_cast<double>(box.low[a])), std::fabs(static_cast<double>(box.high[a]))});
    }
    const double gap = std::sqrt(gapSquared) * (1.0 - kFittedShare) - kFittedMargin * scale;
    return gap > 0.0 && gap * gap > bestSquared;
}


// Whether the fitted box is tight enough beside the node's own to be worth its test: the volume
// of each, every side widened by a share of the node's diagonal (so that flat boxes compare
// too), at most this share of the node's.
constexpr double kFittedVolumeShare = 0.5;
constexpr double kFittedPadding = 0.02;

bool WorthKeeping(const FittedNodeBox& box, const AabbNode& node)
{
    if (IsEmpty(box))
        return false;
    const std::array<double, 3> own{static_cast<double>(node.boxMax.x) - node.boxMin.x,
        static_cast<double>(node.boxMax.y) - node.boxMin.y, static_cast<double>(node.boxMax.z) - node.boxMin.z};
    const double pad = kFittedPadding * std::sqrt(own[0] * own[0] + own[1] * own[1] + own[2] * own[2]);
    double ownVolume = 1.0, fittedVolume = 1.0;
    for (std::size_t a = 0; a < 3; ++a) {
        ownVolume *= own[a] + pad;
        fittedVolume *= static_cast<double>(box.high[a]) - box.low[a] + pad;
    }
    return std::isfinite(ownVolume) && ownVolume > 0.0 && fittedVolume <= kFittedVolumeShare * ownVolume;
}

}  // namespace

void AabbTree::FitBoxes(const TriangleMesh& mesh)
{
    fittedIndex.clear();
    fittedBoxes.clear();
    if (nodes.empty() || mesh.indices.size() != std::size_t{3} * order.size() || mesh.vertices.size() < vertexCount)
        return;
    const std::size_t count = nodes.size();
    // Each node's run of positions in `order`; children follow their parent in the array, so
    // one pass from the back meets them first.
    std::vector<std::uint32_t> first(count, 0), end(count, 0);
    const auto hasChildren = [&](std::size_t i) {
        return nodes[i].count == 0 && nodes[i].right > i + 1 && nodes[i].right < count;
    };
    for (std::size_t i = count; i-- > 0;) {
        if (nodes[i].count != 0) {
            first[i] = nodes[i].first;
            end[i] = nodes[i].first + nodes[i].count;
        } else if (hasChildren(i)) {
            first[i] = first[i + 1];
            end[i] = end[nodes[i].right];
        }
    }
    const auto small = [&](std::size_t i) { return end[i] > first[i] && end[i] - first[i] <= kFitFromCorners; };
    // Every node's box first, since a parent's is fitted to its children's; then only those
    // worth their test are kept.
    std::vector<FittedNodeBox> all(count);
    ParallelFor(count, [&](std::size_t i) {
        if (small(i))
            all[i] = FitToCorners(mesh, order, first[i], end[i]);
    });
    for (std::size_t i = count; i-- > 0;)
        if (!small(i) && hasChildren(i))
            all[i] = FitToChildren(all[i + 1], all[nodes[i].right]);
    AssignOnLargePages(fittedIndex, count, kNoFittedBox);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (WorthKeeping(all[i], nodes[i]))
            fittedIndex[i] = static_cast<std::uint32_t>(kept++);
    fittedBoxes.resize(kept);
    ParallelFor(count, [&](std::size_t i) {
        if (fittedIndex[i] != kNoFittedBox)
            fittedBoxes[fittedIndex[i]] = all[i];
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
    const bool fitted = fittedIndex.size() == nodes.size();
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
        if (fitted && fittedIndex[index] != kNoFittedBox && FittedBoxBeyond(fittedBoxes[fittedIndex[index]], p, bestSquared))
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
