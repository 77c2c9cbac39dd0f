#include "engine/displacement/clearance_holding.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

namespace grainforge::mesh {

namespace {

// Rays start this far off the surface, mm, so that they do not hit the vertex's own triangles;
// the offset is added back to every hit distance.
constexpr float kRayStart = 0.001f;
// A hit surface counts only when it faces back towards the vertex at least this squarely.
constexpr float kFacingBack = -0.5f;
// Open distances below this found a surface; kOpenDistance means none.
constexpr float kFoundBelow = 1e29f;
// Enough for a held region's limits to fan out over a few rings of neighbours.
constexpr int kSmoothingPasses = 6;
constexpr std::size_t kSettledCheckBlock = 65536;  // triangles

// The rays of one vertex: the first along the movement, the rest tilted side rays.
struct RayFan {
    std::array<Vec3, 5> directions;
    std::size_t count = 0;
};

RayFan MakeRayFan(Vec3 normal, Vec3 movement, std::size_t vertex, const ClearanceRaySettings& settings)
{
    const Vec3 reference = std::fabs(normal.x) < 0.9f ? Vec3{1.0f, 0.0f, 0.0f} : Vec3{0.0f, 1.0f, 0.0f};
    const Vec3 t1 = Normalized(Cross(normal, reference));
    const Vec3 t2 = Cross(normal, t1);
    const auto side = [&](Vec3 tangent) {
        return Normalized(movement * settings.sideCosine + tangent * settings.sideSine);
    };
    RayFan fan;
    fan.directions[fan.count++] = movement;
    if (settings.rays == 5 || vertex % 2 == 0) {
        fan.directions[fan.count++] = side(t1);
        fan.directions[fan.count++] = side(t1 * -1.0f);
    }
    if (settings.rays == 5 || vertex % 2 == 1) {
        fan.directions[fan.count++] = side(t2);
        fan.directions[fan.count++] = side(t2 * -1.0f);
    }
    return fan;
}

// The smallest distance along the movement at which a ray meets a surface facing back.
float NearestFacingHit(const TriangleMesh& mesh, const AabbTree& tree, Vec3 position, Vec3 normal,
    const RayFan& fan, float sideCosine, float reach)
{
    float nearest = kOpenDistance;
    for (std::size_t k = 0; k < fan.count; ++k) {
        const Vec3 direction = fan.directions[k];
        const RayHit hit = tree.Raycast(Ray{position + direction * kRayStart, direction}, mesh, reach);
        if (!hit.hit || !(Dot(hit.normal, normal) <= kFacingBack))
            continue;
        const float along = k == 0 ? hit.distance + kRayStart : (hit.distance + kRayStart) * sideCosine;
        nearest = std::min(nearest, along);
    }
    return nearest;
}

void MeasureVertex(const TriangleMesh& mesh, const AabbTree& tree, float height, std::size_t vertex,
    const ClearanceRaySettings& settings, OpenDistances& distances)
{
    if (height == 0.0f || !std::isfinite(height))
        return;
    const MeshVertex& v = mesh.vertices[vertex];
    if (!IsFinite(v.position) || !IsFinite(v.normal))
        return;
    const Vec3 normal = Normalized(v.normal);
    if (IsZero(normal))
        return;
    const Vec3 movement = height > 0.0f ? normal : normal * -1.0f;
    const RayFan fan = MakeRayFan(normal, movement, vertex, settings);
    const float open = NearestFacingHit(mesh, tree, v.position, normal, fan, settings.sideCosine, settings.reach);
    (height > 0.0f ? distances.outward : distances.inward)[vertex] = open;
}

// Half the room in front of each vertex once the clearance is kept: the reliefs of two facing
// walls share the gap between them.
std::vector<float> LimitsFromDistances(const OpenDistances& distances, float clearance, std::span<const float> heights)
{
    std::vector<float> limits(heights.size(), kOpenDistance);
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const float d = heights[i] >= 0.0f ? distances.outward[i] : distances.inward[i];
        if (d < kFoundBelow)
            limits[i] = std::max((d - clearance) * 0.5f, 0.0f);
    }
    return limits;
}

// The length of every triangle's edges (c0, c1), (c1, c2), (c2, c0), worked out once and in
// parallel: the passes below would otherwise measure each edge once a pass, on one thread.
std::vector<float> MeasureEdgeLengths(const TriangleMesh& mesh)
{
    std::vector<float> lengths(mesh.indices.size() - mesh.indices.size() % 3);
    ParallelFor(lengths.size() / 3, [&](std::size_t t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            lengths[3 * t + k] = Length(mesh.vertices[b].position - mesh.vertices[a].position);
        }
    });
    return lengths;
}

// A limit reaches a neighbour grown by the edge between them, so the relief rises no steeper
// than 45 degrees away from a held spot. In place: later edges see earlier results.
// Whether relaxing every edge would leave every limit as it is, as on a part where nothing is
// held: then no pass changes anything, and the passes, which must run in order on one thread,
// are left out. Judged in parallel with the very comparisons the relaxation makes.
bool AreLimitsSettled(const TriangleMesh& mesh, const std::vector<float>& limits, const std::vector<float>& lengths)
{
    std::atomic<bool> settled{true};
    ParallelForBlocks(mesh.TriangleCount(), kSettledCheckBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end && settled.load(std::memory_order_relaxed); ++t) {
            for (std::size_t k = 0; k < 3; ++k) {
                const float e = lengths[3 * t + k];
                if (!std::isfinite(e))
                    continue;
                const float a = limits[mesh.indices[3 * t + k]];
                const float b = limits[mesh.indices[3 * t + (k + 1) % 3]];
                if (b + e < a || a + e < b)
                    settled.store(false, std::memory_order_relaxed);
            }
        }
    });
    return settled.load();
}

void SpreadLimitsOverEdges(const TriangleMesh& mesh, std::vector<float>& limits)
{
    const std::size_t triangles = mesh.TriangleCount();
    const std::vector<float> lengths = MeasureEdgeLengths(mesh);
    if (AreLimitsSettled(mesh, limits, lengths))
        return;
    const auto relax = [&](std::uint32_t a, std::uint32_t b, float e) {
        if (!std::isfinite(e))
            return;
        limits[a] = std::min(limits[a], limits[b] + e);
        limits[b] = std::min(limits[b], limits[a] + e);
    };
    for (int pass = 0; pass < kSmoothingPasses; ++pass) {
        for (std::size_t t = 0; t < triangles; ++t) {
            const std::uint32_t a = mesh.indices[3 * t];
            const std::uint32_t b = mesh.indices[3 * t + 1];
            const std::uint32_t c = mesh.indices[3 * t + 2];
            relax(a, b, lengths[3 * t]);
            relax(b, c, lengths[3 * t + 1]);
            relax(c, a, lengths[3 * t + 2]);
        }
    }
}

std::uint64_t ClipHeights(const std::vector<float>& limits, std::span<float> heights)
{
    std::uint64_t changed = 0;
    for (std::size_t i = 0; i < heights.size(); ++i) {
        float& height = heights[i];
        if (!std::isfinite(height)) {
            height = 0.0f;
            ++changed;
        } else if (std::fabs(height) > limits[i]) {
            height = height >= 0.0f ? limits[i] : -limits[i];
            ++changed;
        }
    }
    return changed;
}

}  // namespace

float ClearanceRayReach(std::span<const float> heights, float clearance, const ClearanceRaySettings& settings)
{
    // Below this cosine the side rays run almost along the surface and their hits shrink to
    // nothing along the movement: no bound is safe to work out.
    constexpr double kFlattestSideCosine = 0.01;
    double largest = 0.0;
    for (const float h : heights)
        if (std::isfinite(h))
            largest = std::max(largest, std::fabs(static_cast<double>(h)));
    const double kept = clearance > 0.0f ? clearance : 0.0;
    const double cosine = settings.sideCosine;
    if (!(cosine >= kFlattestSideCosine) || !std::isfinite(cosine))
        return kOpenDistance;
    // A hit at t counts (t + kRayStart) cos along the movement and limits the height to half
    // of that less the clearance: beyond (2 largest + kept) / cos no height is held.
    const double reach = 2.0 * (2.0 * largest + kept) / std::min(cosine, 1.0) + 1.0;
    return reach < static_cast<double>(kOpenDistance) ? static_cast<float>(reach) : kOpenDistance;
}

OpenDistances MeasureClearanceRays(const TriangleMesh& mesh, const AabbTree& tree, std::span<const float> heights,
    const ClearanceRaySettings& settings, JobProgressContext* job)
{
    const std::size_t n = mesh.vertices.size();
    OpenDistances distances{std::vector<float>(n, kOpenDistance), std::vector<float>(n, kOpenDistance)};
    if (heights.size() != n || !mesh.IsConsistent())
        return distances;
    ParallelBlocks(n, kClearanceRaysBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (std::size_t i = begin; i < end; ++i)
            MeasureVertex(mesh, tree, heights[i], i, settings, distances);
    }, job);
    return distances;
}

std::uint64_t HoldHeightsForClearance(const TriangleMesh& mesh, const OpenDistances& distances, float clearance,
    std::span<float> heights)
{
    const std::size_t n = mesh.vertices.size();
    if (heights.size() != n || distances.outward.size() != n || distances.inward.size() != n
        || !mesh.IsConsistent())
        return 0;
    const float kept = clearance > 0.0f ? clearance : 0.0f;  // NaN fails the test too
    std::vector<float> limits = LimitsFromDistances(distances, kept, heights);
    SpreadLimitsOverEdges(mesh, limits);
    return ClipHeights(limits, heights);
}

}  // namespace grainforge::mesh
