#include "engine/displacement/vertex_displacement.h"

#include "engine/displacement/crossing_guard.h"
#include "engine/displacement/fold_guard.h"
#include "engine/displacement/held_back_measure.h"
#include "engine/displacement/plain_rims.h"
#include "engine/displacement/vertex_displacement_detail.h"
#include "engine/displacement/wall_measurement.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <span>

namespace grainforge::mesh {
namespace detail {

void BuildEdgeUses(DisplacementRun& run)
{
    std::vector<EdgeRecord> records = BuildEdgeTable(run.mesh);  // by key, then triangle
    run.across.assign(3 * run.mesh.TriangleCount(), kNone);
    run.edges.reserve(records.size() / 2 + 1);  // a closed part has half as many edges as records
    auto link = [&](std::uint32_t from, std::uint32_t to) {
        // A triangle has three edges and each edge links at most one other triangle.
        std::uint32_t* slots = &run.across[3 * static_cast<std::size_t>(from)];
        if (std::uint32_t* free = std::find(slots, slots + 3, kNone); free != slots + 3)
            *free = to;
    };
    for (std::size_t i = 0; i < records.size();) {
        EdgeUse edge{records[i].key, records[i].triangle, kNone};
        std::size_t next = i + 1;
        if (next < records.size() && records[next].key == edge.key)
            edge.second = records[next].triangle;
        while (next < records.size() && records[next].key == edge.key)
            ++next;
        if (edge.second != kNone && edge.second != edge.first) {
            link(edge.first, edge.second);
            link(edge.second, edge.first);
        }
        run.edges.push_back(edge);
        i = next;
    }
}

float AskedMove(const DisplacementRun& run, std::size_t v)
{
    const float d = WeightOf(run, v) * run.heights[v];
    return run.scales.empty() ? d : d * run.scales[v];
}

}  // namespace detail

namespace {

using namespace detail;

// Neighbouring triangles share a smooth region when their normals lie within 60 degrees.
constexpr float kSmoothRegionCosine = 0.5f;
// Two clusters closer to opposite than this (about 154 degrees of turn) have a mitre that runs
// off to infinity: the vertex keeps its normal.
constexpr float kOpposedClusters = -0.9f;
// Three cluster normals this close to one plane have no single corner point.
constexpr float kCornerDeterminant = 0.001f;
constexpr float kMitreScaleCap = 2.0f;
// A move may use this share of its clearance; the surface it faces may come as far towards it.
constexpr float kClearanceShare = 0.45f;
constexpr float kReachSlack = 0.001f;
constexpr std::size_t kMaxExcludedRegions = 8;
// Planned inward moves below this are too small to thin a wall.
constexpr float kMinimumPlannedDepth = 0.02f;

bool HasPixels(const HeightMap& map)
{
    return map.width >= 1 && map.height >= 1 && !map.blurred.empty()
        && map.blurred.size() == static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height);
}

// A threshold that is not a number would make every clearance query search the whole part.
float WallThreshold(const DisplacementSettings& settings)
{
    return std::isfinite(settings.wallThresholdMillimetres) ? settings.wallThresholdMillimetres : 0.0f;
}

float HeightOfValue(float value, float mid, const DisplacementSettings& settings)
{
    float h = (value - mid) * settings.strengthMillimetres;
    if (settings.invert)
        h = -h;
    if (settings.direction == DisplacementDirection::outward)
        h = std::max(h, 0.0f);
    else if (settings.direction == DisplacementDirection::inward)
        h = std::min(h, 0.0f);
    return std::isfinite(h) ? h : 0.0f;
}

float SampleMapAt(const HeightMap& map, float u, float v)
{
    const TileCoordinates tile = map.settings.ToTile(u, v);
    return map.LevelValue(map.SampleBilinearWrapped(tile.u, tile.v));
}

// Whether the projection kind reads a surface setting that leaves some surfaces out.
bool SurfacesLeaveSomeOut(const Projection& projection)
{
    switch (projection.type) {
    case ProjectionKind::Box:
    case ProjectionKind::Sphere:
        return std::any_of(std::begin(projection.boxSideSurface), std::end(projection.boxSideSurface),
            [](SurfaceSide side) { return side != SurfaceSide::Both; });
    case ProjectionKind::Cylinder:
        return projection.cylinderSurface != SurfaceSide::Both;
    default:  // the plane textures both surfaces; an unknown kind projects nothing
        return false;
    }
}

bool SamplesByCorner(const TriangleMesh& mesh, const Projection& projection,
    const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent)
{
    return surfaceFlags != nullptr && surfaceFlags->size() == mesh.TriangleCount() && mesh.IsConsistent()
        && (extent.on != 0 || SurfacesLeaveSomeOut(projection));
}

// Each triangle corner samples with its triangle's surface flag; a vertex takes the mean of its
// corners, weighted by area so that small triangles do not outvote large ones.
void SampleCorners(const TriangleMesh& mesh, const Projection& projection, const HeightMap& map,
    const std::vector<std::uint8_t>& surfaceFlags, const TileFrame& extent, float mid,
    const DisplacementSettings& settings, std::vector<float>& heights)
{
    std::vector<float> values(mesh.indices.size(), 0.0f);
    std::vector<float> cornerWeights(mesh.indices.size(), 0.0f);
    ParallelFor(mesh.TriangleCount(), [&](std::size_t t) {
        const MeshVertex* corners[3] = {&mesh.vertices[mesh.indices[3 * t]],
            &mesh.vertices[mesh.indices[3 * t + 1]], &mesh.vertices[mesh.indices[3 * t + 2]]};
        const float area = 0.5f
            * Length(Cross(corners[1]->position - corners[0]->position, corners[2]->position - corners[0]->position));
        for (std::size_t k = 0; k < 3; ++k) {
            ProjectionSamples samples =
                MapThroughProjection(projection, corners[k]->position, corners[k]->normal, &surfaceFlags[t]);
            if (extent.on != 0)
                ProjectionFaceWeights(extent, samples);
            if (samples.count >= 1 && samples.coverage > 0.0f) {
                values[3 * t + k] = SampleProjectedHeight(map, samples);
                cornerWeights[3 * t + k] = std::max(area, 1e-12f) * samples.coverage;
            }
        }
    });
    // Gathered in corner order, so the sums do not depend on the thread count.
    std::vector<double> weightSums(mesh.vertices.size(), 0.0);
    std::vector<double> valueSums(mesh.vertices.size(), 0.0);
    for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
        if (cornerWeights[i] > 0.0f) {
            weightSums[mesh.indices[i]] += cornerWeights[i];
            valueSums[mesh.indices[i]] += static_cast<double>(cornerWeights[i]) * values[i];
        }
    }
    for (std::size_t v = 0; v < heights.size(); ++v) {
        if (weightSums[v] > 0.0)
            heights[v] = HeightOfValue(static_cast<float>(valueSums[v] / weightSums[v]), mid, settings);
    }
}

// SampleVertexHeights about a mid level already resolved.
std::vector<float> SampleHeightsAbout(const TriangleMesh& mesh, const Projection& projection, const HeightMap& map,
    const DisplacementSettings& settings, const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent,
    float mid)
{
    std::vector<float> heights(mesh.vertices.size(), 0.0f);
    if (SamplesByCorner(mesh, projection, surfaceFlags, extent)) {
        SampleCorners(mesh, projection, map, *surfaceFlags, extent, mid, settings, heights);
        return heights;
    }
    ParallelFor(mesh.vertices.size(), [&](std::size_t v) {
        const ProjectionSamples samples =
            MapThroughProjection(projection, mesh.vertices[v].position, mesh.vertices[v].normal);
        if (samples.count >= 1)
            heights[v] = HeightOfValue(SampleProjectedHeight(map, samples), mid, settings);
    });
    return heights;
}

bool IsDisplaceable(const TriangleMesh& mesh, const HeightMap& map, const std::vector<float>& weights)
{
    return !mesh.vertices.empty() && mesh.IsConsistent() && HasPixels(map)
        && weights.size() == mesh.vertices.size() && HasOnlyFiniteCoordinates(mesh);
}

// Unit normal and centroid of every triangle of the input.
void ComputeFaceFrames(DisplacementRun& run)
{
    const TriangleMesh& mesh = run.mesh;
    run.faceNormals.resize(mesh.TriangleCount());
    run.centroids.resize(mesh.TriangleCount());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        run.faceNormals[t] = mesh.FaceNormal(t);
        const Vec3 sum = mesh.vertices[mesh.indices[3 * t]].position
            + mesh.vertices[mesh.indices[3 * t + 1]].position + mesh.vertices[mesh.indices[3 * t + 2]].position;
        run.centroids[t] = sum * (1.0f / 3.0f);
    }
}

// Flood fill over edges whose triangles' normals lie within 60 degrees; labels count up from 0
// in the order of each region's first triangle. A triangle without area is a region of its own.
void LabelSmoothRegions(DisplacementRun& run)
{
    const std::size_t triangles = run.mesh.TriangleCount();
    run.regions.assign(triangles, kNone);
    std::vector<std::uint32_t> stack;
    for (std::size_t seed = 0; seed < triangles; ++seed) {
        if (run.regions[seed] != kNone)
            continue;
        const std::uint32_t label = run.regionCount++;
        run.regions[seed] = label;
        stack.push_back(static_cast<std::uint32_t>(seed));
        while (!stack.empty()) {
            const std::uint32_t t = stack.back();
            stack.pop_back();
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t f = run.across[3 * static_cast<std::size_t>(t) + k];
                if (f == kNone || run.regions[f] != kNone)
                    continue;
                if (Dot(run.faceNormals[f], run.faceNormals[t]) >= kSmoothRegionCosine) {
                    run.regions[f] = label;
                    stack.push_back(f);
                }
            }
        }
    }
}

// The tree over the input with region labels, so queries skip whole nodes of excluded regions.
void BuildRegionTree(DisplacementRun& run)
{
    if (run.regionCount < 2)
        return;
    run.tree = std::make_shared<AabbTree>();
    run.tree->Build(run.mesh);
    run.tree->minLabel.assign(run.tree->nodes.size(), 0);
    run.tree->maxLabel.assign(run.tree->nodes.size(), 0);
    if (!run.tree->nodes.empty())
        run.tree->RefitLabels(0, run.regions);
}

// Distance from one vertex to the nearest surface of another region that lies ahead of its
// move; infinity when there is none within reach.
float QueryVertexClearance(const DisplacementRun& run, std::size_t v, float threshold)
{
    const float h = run.heights[v];
    const Vec3 ahead = UnitNormal(run.mesh.vertices[v].normal) * (h < 0.0f ? -1.0f : 1.0f);
    const Vec3 position = run.mesh.vertices[v].position;
    std::array<std::uint32_t, kMaxExcludedRegions> excluded;
    std::size_t excludedCount = 0;
    const VertexAdjacency& faces = run.vertexFaces;
    for (std::uint32_t i = faces.triangleOffsets[v]; i < faces.triangleOffsets[v + 1]; ++i) {
        const std::uint32_t label = run.regions[faces.triangles[i]];
        if (excludedCount < kMaxExcludedRegions
            && std::find(excluded.begin(), excluded.begin() + excludedCount, label) == excluded.begin() + excludedCount)
            excluded[excludedCount++] = label;
    }
    const std::span<const std::uint32_t> labels(excluded.data(), excludedCount);
    const float reach = std::max(2.0f * std::fabs(h) + threshold, 2.0f * std::fabs(h) / kClearanceShare) + kReachSlack;
    // Surfaces behind the move cannot close on it: whole nodes behind are skipped, so a vertex
    // facing open space does not test the other side of its wall triangle by triangle.
    const NearestAhead front{position, ahead};
    const NearestHit hit = run.tree->Nearest(run.mesh, position, labels,
        [&](std::uint32_t t) {
            return std::find(labels.begin(), labels.end(), run.regions[t]) != labels.end()
                || Dot(run.centroids[t] - position, ahead) < 0.0f;
        },
        reach, &front);
    return hit.found ? hit.distance : kInfinity;
}

void QueryClearance(DisplacementRun& run)
{
    const std::size_t vertexCount = run.mesh.vertices.size();
    run.clearance.assign(vertexCount, kInfinity);
    if (run.regionCount < 2)
        return;
    const float threshold = WallThreshold(run.settings);
    ParallelFor(vertexCount, [&](std::size_t v) {
        if (WeightOf(run, v) > 0.0f && run.heights[v] != 0.0f)
            run.clearance[v] = QueryVertexClearance(run, v, threshold);
    });
    run.report.clearance = run.clearance;
    run.report.clearanceTree = run.tree;
}

// Each move may use a share of its clearance, and no more than half an edge more than its
// neighbour's limit, so that the limit does not jump from vertex to vertex.
void SmoothClearanceLimits(DisplacementRun& run)
{
    run.limit.resize(run.clearance.size());
    for (std::size_t v = 0; v < run.clearance.size(); ++v)
        run.limit[v] = kClearanceShare * run.clearance[v];
    std::vector<float>& limit = run.limit;
    for (int sweep = 0; sweep < 2; ++sweep) {
        for (const EdgeUse& edge : run.edges) {
            const auto a = static_cast<std::uint32_t>(edge.key >> 32);
            const auto b = static_cast<std::uint32_t>(edge.key);
            const float halfLength = 0.5f * Length(run.mesh.vertices[a].position - run.mesh.vertices[b].position);
            limit[a] = std::min(limit[a], limit[b] + halfLength);
            limit[b] = std::min(limit[b], limit[a] + halfLength);
        }
    }
}

// Vertices whose planned inward move would leave less wall than the threshold stay put.
void HoldThinWalls(DisplacementRun& run)
{
    const std::size_t vertexCount = run.mesh.vertices.size();
    std::vector<float> planned(vertexCount, 0.0f);
    float deepest = 0.0f;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const float h = run.heights[v];
        const float weight = WeightOf(run, v);
        if (weight > 0.0f && h != 0.0f) {
            const float depth = std::min(run.limit[v], std::fabs(weight * h));
            planned[v] = h < 0.0f ? depth : -depth;
            deepest = std::max(deepest, planned[v]);
        }
    }
    std::vector<std::uint32_t> candidates;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (planned[v] >= kMinimumPlannedDepth && std::isfinite(run.report.clearance[v]))
            candidates.push_back(static_cast<std::uint32_t>(v));
    }
    const float threshold = WallThreshold(run.settings);
    const std::vector<OppositeSurfaceResult> results = OppositeSurfaceDistances(
        run.mesh, *run.tree, candidates, planned, 2.0f * deepest + threshold, run.vertexFaces);
    run.held.assign(vertexCount, 0);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (results[i].found && results[i].wall < threshold) {
            run.held[candidates[i]] = 1;
            ++run.report.heldForWalls;
        }
    }
}

// Normal clusters per vertex: each face normal joins the first cluster within 10 degrees of
// it, or opens one; a fourth cluster marks the vertex as too complex to mitre.
std::vector<Crease> ClusterFaceNormals(const DisplacementRun& run)
{
    const TriangleMesh& mesh = run.mesh;
    std::vector<Crease> creases(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = run.faceNormals.empty() ? mesh.FaceNormal(t) : run.faceNormals[t];
        if (IsZero(n))
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            Crease& crease = creases[mesh.indices[3 * t + k]];
            std::int32_t c = 0;
            while (c < crease.count && Dot(Normalized(crease.sums[c]), n) < kClusterCosine)
                ++c;
            if (c < crease.count)
                crease.sums[c] += n;
            else if (crease.count < kMaxCreaseClusters)
                crease.sums[crease.count++] = n;
            else
                crease.overflow = 1;
        }
    }
    return creases;
}

// The mitre of two or three clusters: the point whose dot product with each cluster normal is
// 1, so every face moves by the same depth. Zero when there is none.
Vec3 MitreOf(const Crease& crease)
{
    const Vec3 a = Normalized(crease.sums[0]);
    const Vec3 b = Normalized(crease.sums[1]);
    if (crease.count == 2) {
        const float d = Dot(a, b);
        return d > kOpposedClusters ? (a + b) * (1.0f / (1.0f + d)) : Vec3{};
    }
    const Vec3 c = Normalized(crease.sums[2]);
    const float det = Dot(a, Cross(b, c));
    if (!(std::fabs(det) > kCornerDeterminant))
        return {};
    return (Cross(b, c) + Cross(c, a) + Cross(a, b)) * (1.0f / det);
}

void ComputeMitreDirections(DisplacementRun& run)
{
    const std::size_t vertexCount = run.mesh.vertices.size();
    run.directions.resize(vertexCount);
    run.scales.assign(vertexCount, 1.0f);
    const std::vector<Crease> creases = ClusterFaceNormals(run);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const Vec3 normal = UnitNormal(run.mesh.vertices[v].normal);
        run.directions[v] = normal;
        const Crease& crease = creases[v];
        if (crease.count < 2 || crease.overflow != 0)
            continue;
        const Vec3 mitre = MitreOf(crease);
        const float length = Length(mitre);
        if (!(length > 0.0f) || !std::isfinite(length))
            continue;
        const Vec3 direction = mitre * (1.0f / length);
        if (Dot(direction, normal) <= 0.0f)
            continue;  // a mitre against the normal would turn the surface inside out
        run.directions[v] = direction;
        run.scales[v] = std::min(length, kMitreScaleCap);
    }
}

// The signed move of one vertex after the mitre scale and the clearance limit.
float PlannedMove(DisplacementRun& run, std::size_t v)
{
    float d = AskedMove(run, v);
    if (!run.limit.empty() && std::isfinite(run.limit[v]) && std::fabs(d) > run.limit[v]) {
        d = std::copysign(run.limit[v], d);
        ++run.report.cutByClearance;
    }
    return d;
}

// In the band a move loses its part along the base axis, so the base stays level; false when
// nothing of the move is left.
bool KeepLevelInBand(DisplacementRun& run, const BaseGuard& base, std::size_t v, float above, Vec3& move)
{
    if (!base.enabled || !(above <= base.band + kBandTolerance) || AxisSlot(move, base.axis) == 0.0f)
        return true;
    AxisSlot(move, base.axis) = 0.0f;
    ++run.report.keptLevelAtBase;
    if (!run.states.empty())
        run.states[v] = kLevelled;
    return !IsZero(move);
}

// A vertex that started off the protected side stops at the plane instead of crossing it.
void StopAtBasePlane(DisplacementRun& run, const BaseGuard& base, float above, Vec3& position)
{
    if (!base.enabled || !(above > 0.0f))
        return;
    float& moved = AxisSlot(position, base.axis);
    if (base.protectBelow ? moved < base.plane : moved > base.plane) {
        moved = base.plane;
        ++run.report.heldAtBasePlane;
    }
}

// Moves every vertex along its direction, keeping the base band level and the base plane
// uncrossed.
void MoveVertices(DisplacementRun& run)
{
    const BaseGuard base(run.settings);
    if (run.settings.preventFolds) {
        run.start.resize(run.mesh.vertices.size());
        for (std::size_t v = 0; v < run.start.size(); ++v)
            run.start[v] = run.mesh.vertices[v].position;
        run.states.assign(run.mesh.vertices.size(), kUntouched);
    }
    DisplacementReport& report = run.report;
    for (std::size_t v = 0; v < run.mesh.vertices.size(); ++v) {
        if (!run.held.empty() && run.held[v] != 0)
            continue;
        const float d = PlannedMove(run, v);
        Vec3& position = run.mesh.vertices[v].position;
        const Vec3 direction = run.directions.empty() ? UnitNormal(run.mesh.vertices[v].normal) : run.directions[v];
        if (WeightOf(run, v) <= 0.0f || d == 0.0f || IsZero(direction))
            continue;
        Vec3 move = direction * d;
        const float above = base.Above(position);
        if (!KeepLevelInBand(run, base, v, above, move))
            continue;
        move = KeptInPlainPlanes(run, v, move);
        if (IsZero(move))
            continue;
        if (!IsFinite(position + move))
            continue;  // a relief of absurd strength; the vertex stays rather than leave space
        position += move;
        ++report.displacedVertices;
        if (!run.states.empty() && run.states[v] == kUntouched)
            run.states[v] = kMoved;
        report.minimumOffset = std::min(report.minimumOffset, d);
        report.maximumOffset = std::max(report.maximumOffset, d);
        StopAtBasePlane(run, base, above, position);
    }
    report.relief = report.maximumOffset - report.minimumOffset;
}

// The offsets the surface actually moved by, from where each vertex started: the clearance,
// the base and the fold guard shorten or turn the planned moves. A move counts as outward when
// it goes along the vertex's planned direction.
void MeasureMoves(DisplacementRun& run, const std::vector<Vec3>& before)
{
    DisplacementReport& report = run.report;
    report.minimumOffset = 0.0f;
    report.maximumOffset = 0.0f;
    for (std::size_t v = 0; v < before.size(); ++v) {
        const Vec3 moved = run.mesh.vertices[v].position - before[v];
        if (IsZero(moved))
            continue;
        const Vec3 direction = run.directions.empty() ? UnitNormal(run.mesh.vertices[v].normal) : run.directions[v];
        const float length = Length(moved);
        const float offset = Dot(moved, direction) < 0.0f ? -length : length;
        report.minimumOffset = std::min(report.minimumOffset, offset);
        report.maximumOffset = std::max(report.maximumOffset, offset);
    }
    report.relief = report.maximumOffset - report.minimumOffset;
}

}  // namespace

float ResolveMidLevel(const HeightMap& map, const DisplacementSettings& settings)
{
    if (settings.midLevelMode != MidLevelMode::automatic || !HasPixels(map))
        return settings.midLevel;
    switch (settings.direction) {
    case DisplacementDirection::outward:
        return map.LevelledPercentile(0.01f);
    case DisplacementDirection::inward:
        return map.LevelledPercentile(0.99f);
    default:
        return map.hasMidValue ? map.LevelValue(map.midValue) : 0.5f;
    }
}

float SampleProjectedHeight(const HeightMap& map, const ProjectionSamples& samples)
{
    if (!HasPixels(map))
        return 0.0f;
    float weightSum = 0.0f;
    float valueSum = 0.0f;
    for (const ProjectionSample& sample : samples.samples) {
        if (sample.weight > 0.0f) {
            weightSum += sample.weight;
            valueSum += sample.weight * SampleMapAt(map, sample.u, sample.v);
        }
    }
    if (weightSum > 0.0f)
        return valueSum / weightSum;
    const SidePoint strongest = StrongestSample(samples);
    return SampleMapAt(map, strongest.u, strongest.v);
}

std::vector<float> SampleVertexHeights(const TriangleMesh& mesh, const Projection& projection, const HeightMap& map,
    const DisplacementSettings& settings, const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent)
{
    if (!HasPixels(map))
        return std::vector<float>(mesh.vertices.size(), 0.0f);
    return SampleHeightsAbout(mesh, projection, map, settings, surfaceFlags, extent, ResolveMidLevel(map, settings));
}

bool TriangleFoldsOver(Vec3 a, Vec3 b, Vec3 c, Vec3 startNormal, float cosineOfTilt)
{
    if (IsZero(startNormal))
        return false;
    const Vec3 cross = Cross(b - a, c - a);
    const float length = Length(cross);
    if (length == 0.0f)
        return true;
    return length * cosineOfTilt > Dot(cross, startNormal);
}

void RecordDisplacementStage(StageTimer& timer, const std::string& name)
{
    RecordStageTime(timer, name);
}

DisplacementReport ApplyDisplacement(TriangleMesh& mesh, const Projection& projection, const HeightMap& map,
    const std::vector<float>& weights, const DisplacementSettings& settings,
    const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent,
    const std::vector<std::uint8_t>* plainFaces, bool searchForTheCheck)
{
    DisplacementReport report;
    report.vertexCount = mesh.vertices.size();
    if (!IsDisplaceable(mesh, map, weights))
        return report;
    StageTimer timer(report.stageTimes);
    DisplacementRun run(mesh, weights, settings, report);
    run.searchForTheCheck = searchForTheCheck;

    RecordDisplacementStage(timer, "Sampling the map");
    report.midLevel = ResolveMidLevel(map, settings);
    run.heights = SampleHeightsAbout(mesh, projection, map, settings, surfaceFlags, extent, report.midLevel);

    if (settings.limitToClearance && mesh.TriangleCount() > 0) {
        RecordDisplacementStage(timer, "Face normals and centroids");
        ComputeFaceFrames(run);
        RecordDisplacementStage(timer, "Edge table");
        BuildEdgeUses(run);
        RecordDisplacementStage(timer, "Smooth regions");
        LabelSmoothRegions(run);
        RecordDisplacementStage(timer, "Vertex faces");
        run.vertexFaces = BuildVertexAdjacency(mesh);
        RecordDisplacementStage(timer, "Tree");
        BuildRegionTree(run);
        RecordDisplacementStage(timer, "Clearance queries");
        QueryClearance(run);
        RecordDisplacementStage(timer, "Clearance smoothing");
        SmoothClearanceLimits(run);
        if (settings.holdThinWalls && run.regionCount >= 2) {
            RecordDisplacementStage(timer, "Walls held");
            HoldThinWalls(run);
        }
    }
    if (settings.mitreCreases) {
        RecordDisplacementStage(timer, "Mitre");
        ComputeMitreDirections(run);
    }
    if (plainFaces != nullptr && plainFaces->size() == mesh.TriangleCount()) {
        RecordDisplacementStage(timer, "Plain faces");
        FindPlainRims(run, *plainFaces);
    }
    RecordDisplacementStage(timer, "Moving");
    std::vector<Vec3> before(mesh.vertices.size());
    for (std::size_t v = 0; v < before.size(); ++v)
        before[v] = mesh.vertices[v].position;
    MoveVertices(run);
    FoldGuard folds;
    if (settings.preventFolds && mesh.TriangleCount() > 0) {
        RecordDisplacementStage(timer, "Fold guard");
        folds = StartFoldGuard(run);
        EaseFolds(run, folds);
    }
    // On the moves as they came out of the fold guard: holding the rim before it ran left the
    // eased textured triangles beside it crossing.
    KeepPlainTrianglesTurned(run);
    if (settings.preventFolds && mesh.TriangleCount() > 0) {
        RecordDisplacementStage(timer, "Crossing guard");
        EaseCrossings(run, folds);
        PutBackFoldsLeft(run, folds);
        CountEasedVertices(run, folds);
        // Counted over the whole mesh as it is left, after the plain rims and the crossing guard
        // moved vertices back too: a folded triangle whose corners were all levelled at the base
        // cannot be eased and drops out of the rounds' lists, yet it is still folded.
        run.report.foldedLeft = FoldedTriangles(run, folds).size();
    }
    MeasureMoves(run, before);
    MeasureHeldBack(run, before);
    RecordDisplacementStage(timer, "Bounds and normals");
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    RecordDisplacementStage(timer, "");
    return report;
}

}  // namespace grainforge::mesh
