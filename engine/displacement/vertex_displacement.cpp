#include "engine/displacement/vertex_displacement.h"

#include "engine/displacement/wall_measurement.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/triangle_contact.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <span>

namespace grainforge::mesh {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Neighbouring triangles share a smooth region when their normals lie within 60 degrees.
constexpr float kSmoothRegionCosine = 0.5f;
// A face normal joins a crease cluster that lies within 10 degrees of it.
constexpr float kClusterCosine = 0.98481f;
constexpr std::int32_t kMaxCreaseClusters = 3;
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
constexpr float kBandTolerance = 0.000001f;
constexpr int kMaxFoldRounds = 30;
// Rounds from this one on also ease the vertices round the folded corners: a fold that
// halving alone has not undone by then needs its neighbourhood to give.
constexpr int kWidenFromRound = 11;
// Rounds from this one on halve the moves round what still folds instead of easing them towards
// their neighbours', and from the next on put them back where they started: easing leaves the
// corners of a sliver along a crease as far apart as the neighbours they follow, more than the
// sliver is high, and it stays folded however many rounds run.
constexpr int kFoldHalvingFromRound = 21;
constexpr int kFoldPutBackFromRound = 27;
// Neighbouring triangles whose normals lie further apart than this (120 degrees) meet at an edge
// sharper than 60 degrees: where the relief made one, one is folded onto the other.
constexpr float kFoldedEdgeCosine = -0.5f;
constexpr float kEasedTolerance = 1.01f;
constexpr float kEasedSlack = 0.00001f;

// What the move did to a vertex; the fold guard eases only the moved ones.
enum VertexState : std::uint8_t { kUntouched = 0, kMoved = 1, kLevelled = 2 };

// An edge with the first two triangles that use it (in triangle order; kNone when missing).
struct EdgeUse {
    EdgeKey key = 0;
    std::uint32_t first = kNone;
    std::uint32_t second = kNone;
};

// Normal clusters of the faces round one vertex.
struct Crease {
    Vec3 sums[kMaxCreaseClusters];
    std::int32_t count = 0;
    std::uint8_t overflow = 0;
};

// The planes a vertex on the rim of faces kept plain moves within: up to two orthonormal
// normals, or none left to move along (`frozen`).
struct PlainRim {
    Vec3 normals[2];
    std::int32_t count = 0;
    bool frozen = false;
    Vec3 start;                   // where the vertex was before the relief
    std::uint32_t firstEdge = 0;  // its far edges in DisplacementRun::rimEdges
    std::uint32_t edgeCount = 0;
};

// The far edge of a plain triangle round a rim vertex that keeps no plane, as the vertex's move
// meets it: the unit direction in the triangle's plane from the vertex towards the edge, and how
// far along it the vertex may go.
struct RimEdge {
    Vec3 towardsEdge;
    float reach = 0.0f;
};

// The share of its height over a plain triangle's far edge that a rim vertex keeping no plane
// may move towards that edge. The far corners can move too (a neighbour on the rim); two moving
// halfway still leave the triangle turned the way it was.
constexpr float kRimReachShare = 0.5f;

// A plain triangle with a moving rim corner keeps at least this share of its starting area,
// measured along its starting normal, so it is never turned over nor laid across its neighbours
// in the plane.
constexpr float kPlainAreaShare = 0.5f;

// Rounds in which the rim corners of a plain triangle that lost too much area give up half of
// their moves; a triangle still short after them has its rim corners put back where they were.
constexpr std::int32_t kRimHalvingRounds = 4;

// Everything one run works on; it all goes when the run ends.
struct DisplacementRun {
    DisplacementRun(TriangleMesh& mesh_, const std::vector<float>& weights_, const DisplacementSettings& settings_,
        DisplacementReport& report_)
        : mesh(mesh_), weights(weights_), settings(settings_), report(report_)
    {
    }

    TriangleMesh& mesh;
    const std::vector<float>& weights;
    const DisplacementSettings& settings;
    DisplacementReport& report;
    std::vector<float> heights;
    std::vector<Vec3> faceNormals;
    std::vector<Vec3> centroids;
    std::vector<EdgeUse> edges;            // ascending keys
    std::vector<std::uint32_t> across;     // per triangle three slots: triangles over its edges
    std::vector<std::uint32_t> regions;    // per triangle
    std::uint32_t regionCount = 0;
    VertexAdjacency vertexFaces;           // only its triangle lists are read
    std::shared_ptr<AabbTree> tree;
    std::vector<float> clearance;
    std::vector<float> limit;              // empty when the clearance stage did not run
    std::vector<std::uint8_t> held;        // empty when no wall was held
    std::vector<Vec3> directions;          // mitre directions; empty when the mitre is off
    std::vector<float> scales;
    std::vector<std::uint8_t> states;      // with the fold guard only
    // The check will look at this very mesh: the crossing guard's first search covers all of it
    // and is kept for the check to take over. Otherwise it searches only what moved.
    bool searchForTheCheck = true;
    std::vector<Vec3> start;               // with the fold guard only
    std::vector<std::uint32_t> rimSlots;   // per vertex its slot in `rims`; empty without plain faces
    std::vector<PlainRim> rims;
    std::vector<std::uint32_t> rimTriangles;  // plain triangles a rim corner can lay over a plain one
    std::vector<RimEdge> rimEdges;            // far edges of the rims that keep no plane, rim by rim
};

// Unit vector along a vertex normal; zero for a zero or non-finite one, which does not move.
Vec3 UnitNormal(Vec3 normal)
{
    const Vec3 unit = Normalized(normal);
    return IsFinite(unit) ? unit : Vec3{};
}

float& AxisSlot(Vec3& v, std::int32_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

bool HasPixels(const HeightMap& map)
{
    return map.width >= 1 && map.height >= 1 && !map.blurred.empty()
        && map.blurred.size() == static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height);
}

// A weight that is not a positive number leaves its vertex alone.
float WeightOf(const DisplacementRun& run, std::size_t v)
{
    const float weight = run.weights[v];
    return weight > 0.0f && std::isfinite(weight) ? weight : 0.0f;
}

// A threshold that is not a number would make every clearance query search the whole part.
float WallThreshold(const DisplacementSettings& settings)
{
    return std::isfinite(settings.wallThresholdMillimetres) ? settings.wallThresholdMillimetres : 0.0f;
}

float TiltCosine(float maximumTiltDegrees)
{
    const float tilt = std::isnan(maximumTiltDegrees)
        ? DisplacementSettings{}.maximumTiltDegrees
        : std::clamp(maximumTiltDegrees, kMinimumFoldTiltDegrees, kMaximumFoldTiltDegrees);
    return static_cast<float>(std::cos(static_cast<double>(tilt) * 3.14159265358979323846 / 180.0));
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

// Every edge with its first two triangles, and per triangle the triangles across its edges.
// A third triangle on an edge is not recorded, as a hash table of two slots per edge would.
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

// Adds a face normal to the first cluster within the crease angle, or opens one; false when a
// fourth would be needed.
bool AddToClusters(Crease& crease, Vec3 normal)
{
    std::int32_t c = 0;
    while (c < crease.count && Dot(Normalized(crease.sums[c]), normal) < kClusterCosine)
        ++c;
    if (c < crease.count)
        crease.sums[c] += normal;
    else if (crease.count < kMaxCreaseClusters)
        crease.sums[crease.count++] = normal;
    else
        return false;
    return true;
}

// The rim of one vertex: the plain clusters that no textured face round it continues
// (within the crease angle), made orthonormal; a third independent one leaves no direction.
PlainRim RimOf(const Crease& plain, const Crease& textured)
{
    PlainRim rim;
    for (std::int32_t c = 0; c < plain.count; ++c) {
        Vec3 n = Normalized(plain.sums[c]);
        bool smooth = false;
        for (std::int32_t k = 0; k < textured.count; ++k)
            smooth = smooth || Dot(Normalized(textured.sums[k]), n) >= kClusterCosine;
        if (smooth)
            continue;
        for (std::int32_t k = 0; k < rim.count; ++k)
            n = n - rim.normals[k] * Dot(n, rim.normals[k]);
        const float length = Length(n);
        if (!(length > 1.0f - kClusterCosine))
            continue;  // within the planes already kept
        if (rim.count == 2) {
            rim.frozen = true;
            break;
        }
        rim.normals[rim.count++] = n * (1.0f / length);
    }
    return rim;
}

// Where each rim vertex starts, and the plain triangles whose rim corners can lay them over a
// plain neighbour: those with a rim corner across from an edge shared with another plain
// triangle. Past an edge whose other side is textured a triangle only turns under faces that
// move away with the relief (a plain strip one triangle wide along a thin rim, all three corners
// moving): holding those pinned the rim while its textured neighbours moved on, and those then
// crossed it.
void GatherRimTriangles(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    for (std::size_t v = 0; v < run.rimSlots.size(); ++v) {
        if (run.rimSlots[v] != kNone)
            run.rims[run.rimSlots[v]].start = mesh.vertices[v].position;
    }
    std::vector<EdgeKey> plainEdges;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        for (std::size_t k = 0; plainFaces[t] != 0 && k < 3; ++k)
            plainEdges.push_back(MakeEdgeKey(mesh.indices[3 * t + k], mesh.indices[3 * t + (k + 1) % 3]));
    }
    std::sort(plainEdges.begin(), plainEdges.end());
    const auto sharedByPlain = [&](std::uint32_t a, std::uint32_t b) {
        const auto range = std::equal_range(plainEdges.begin(), plainEdges.end(), MakeEdgeKey(a, b));
        return range.second - range.first >= 2;
    };
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        const std::uint32_t* c = &mesh.indices[3 * t];
        bool laysOver = false;
        for (std::size_t k = 0; k < 3; ++k)
            laysOver = laysOver || (run.rimSlots[c[k]] != kNone && sharedByPlain(c[(k + 1) % 3], c[(k + 2) % 3]));
        if (laysOver)
            run.rimTriangles.push_back(static_cast<std::uint32_t>(t));
    }
}

// The far edges of the plain triangles round every rim vertex that keeps no plane (a textured
// face runs on from its plain face within the crease angle), from the starting positions. Such
// a vertex leaves the plane with the relief and is held on its own short of each far edge: left
// to its triangles' areas like the rims that slide within the plane, it let the relief beside it
// cross more on the corpus (a turbine's blades: 50 crossing triangles against 41).
void GatherRimEdges(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    std::vector<std::vector<RimEdge>> edges(run.rims.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        const Vec3 normal = mesh.FaceNormal(t);
        if (IsZero(normal) || !IsFinite(normal))
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t slot = run.rimSlots[mesh.indices[3 * t + k]];
            if (slot == kNone || run.rims[slot].count != 0 || run.rims[slot].frozen)
                continue;
            const Vec3 at = mesh.vertices[mesh.indices[3 * t + k]].position;
            const Vec3 a = mesh.vertices[mesh.indices[3 * t + (k + 1) % 3]].position;
            const Vec3 b = mesh.vertices[mesh.indices[3 * t + (k + 2) % 3]].position;
            // In the plane, across the edge a-b, on the vertex's side.
            const Vec3 across = Normalized(Cross(normal, b - a));
            const float height = Dot(at - a, across);
            if (!IsFinite(across) || !(height > 0.0f))
                continue;
            edges[slot].push_back({across * -1.0f, height * kRimReachShare});
        }
    }
    for (std::size_t slot = 0; slot < edges.size(); ++slot) {
        run.rims[slot].firstEdge = static_cast<std::uint32_t>(run.rimEdges.size());
        run.rims[slot].edgeCount = static_cast<std::uint32_t>(edges[slot].size());
        run.rimEdges.insert(run.rimEdges.end(), edges[slot].begin(), edges[slot].end());
    }
}

// The rims of the moving vertices that touch a face kept plain.
void FindPlainRims(DisplacementRun& run, const std::vector<std::uint8_t>& plainFaces)
{
    const TriangleMesh& mesh = run.mesh;
    std::vector<std::uint32_t> slots(mesh.vertices.size(), kNone);
    std::uint32_t count = 0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (plainFaces[t] == 0)
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + k];
            if (slots[v] == kNone && WeightOf(run, v) > 0.0f)
                slots[v] = count++;
        }
    }
    if (count == 0)
        return;
    std::vector<Crease> plain(count);
    std::vector<Crease> textured(count);
    std::vector<std::uint8_t> overflow(count, 0);
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = mesh.FaceNormal(t);
        if (IsZero(n) || !IsFinite(n))
            continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t slot = slots[mesh.indices[3 * t + k]];
            if (slot != kNone && !AddToClusters(plainFaces[t] != 0 ? plain[slot] : textured[slot], n))
                overflow[slot] = 1;
        }
    }
    run.rims.resize(count);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        run.rims[slot] = RimOf(plain[slot], textured[slot]);
        // Faces in more directions than can be told apart: the vertex keeps its place.
        run.rims[slot].frozen = run.rims[slot].frozen || overflow[slot] != 0;
    }
    run.rimSlots = std::move(slots);
    GatherRimTriangles(run, plainFaces);
    GatherRimEdges(run, plainFaces);
}

// A move or offset of vertex v with its parts across the planes of its plain rim dropped; a rim
// that keeps no plane has it shortened, direction kept, to stop short of every far edge.
Vec3 KeptInPlainPlanes(const DisplacementRun& run, std::size_t v, Vec3 move)
{
    if (run.rimSlots.empty() || run.rimSlots[v] == kNone)
        return move;
    const PlainRim& rim = run.rims[run.rimSlots[v]];
    if (rim.frozen)
        return {};
    for (std::int32_t k = 0; k < rim.count; ++k)
        move = move - rim.normals[k] * Dot(move, rim.normals[k]);
    float share = 1.0f;
    for (std::uint32_t e = rim.firstEdge; e < rim.firstEdge + rim.edgeCount; ++e) {
        const RimEdge& edge = run.rimEdges[e];
        const float towards = Dot(move, edge.towardsEdge);
        if (towards > edge.reach)
            share = std::min(share, edge.reach / towards);
    }
    return move * share;
}

// The cross product of a triangle's edges at the vertices' present positions, or where its rim
// corners started.
Vec3 PlainTriangleCross(const DisplacementRun& run, std::uint32_t t, bool atStart)
{
    Vec3 p[3];
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
        const std::uint32_t slot = run.rimSlots[v];
        p[k] = atStart && slot != kNone ? run.rims[slot].start : run.mesh.vertices[v].position;
    }
    return Cross(p[1] - p[0], p[2] - p[0]);
}

// A plain triangle whose moved rim corners left it less than its share of the starting area,
// measured along the starting normal: turned over, laid across a neighbour, or near it.
bool PlainTriangleShrank(const DisplacementRun& run, std::uint32_t t)
{
    const Vec3 before = PlainTriangleCross(run, t, true);
    const float area = Length(before);
    if (!(area > 0.0f) || !std::isfinite(area))
        return false;  // a triangle without area has no side to turn to
    return Dot(PlainTriangleCross(run, t, false), before) < kPlainAreaShare * area * area;
}

// Rim vertices move within the plain face's plane, so a move into the face can carry a rim
// vertex over the far edge of a plain triangle round it and lay that triangle over its
// neighbours, a crossing no fold guard sees coming (the plain corners do not move to ease it),
// as cylinder caps left untextured showed at their rims. Each plain triangle is measured as it
// came out, with every corner's real move: rim corners that move together along a thin rim
// leave its triangles as they were and keep their moves. The rim corners of a triangle that
// lost too much give up half of their moves, round after round, and go back to where they
// started if that is not enough; with its rim corners back a triangle is as it was, so this
// ends with every triangle measured turned as it was.
void KeepPlainTrianglesTurned(DisplacementRun& run)
{
    for (std::int32_t round = 0;; ++round) {
        const float keep = round < kRimHalvingRounds ? 0.5f : 0.0f;
        std::vector<std::uint32_t> changed;
        for (const std::uint32_t t : run.rimTriangles) {
            if (!PlainTriangleShrank(run, t))
                continue;
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
                const std::uint32_t slot = run.rimSlots[v];
                if (slot != kNone && run.mesh.vertices[v].position != run.rims[slot].start)
                    changed.push_back(v);
            }
        }
        if (changed.empty())
            return;
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        for (const std::uint32_t v : changed) {
            const Vec3 start = run.rims[run.rimSlots[v]].start;
            run.mesh.vertices[v].position = start + (run.mesh.vertices[v].position - start) * keep;
        }
    }
}

// The signed move a vertex is asked for: its weight times its height, with the mitre scale.
float AskedMove(const DisplacementRun& run, std::size_t v)
{
    const float d = WeightOf(run, v) * run.heights[v];
    return run.scales.empty() ? d : d * run.scales[v];
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

// The flat base as the move reads it: the band and axis resolved, the plane's protected side.
struct BaseGuard {
    explicit BaseGuard(const DisplacementSettings& settings)
        : enabled(settings.base.enabled), protectBelow(settings.base.protectBelow),
          plane(settings.base.planeMillimetres), axis(std::clamp(settings.base.axis, 0, 2))
    {
        const float set = settings.base.bandMillimetres;
        band = set > 0.0f ? set : 2.0f * std::fabs(settings.strengthMillimetres);
    }

    // How far a coordinate lies from the plane, away from the protected side.
    float Above(Vec3 position) const
    {
        const float c = AxisSlot(position, axis);
        return protectBelow ? c - plane : plane - c;
    }

    bool enabled;
    bool protectBelow;
    float plane;
    std::int32_t axis;
    float band = 0.0f;
};

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

// State of the fold guard across its rounds.
struct FoldGuard {
    float cosineOfTilt = 1.0f;
    std::vector<Vec3> startNormals;       // per triangle
    std::vector<float> moveLengths;       // L0: how far each vertex moved
    const VertexAdjacency* faces = nullptr;
    std::vector<std::uint8_t> eased;
    std::vector<std::uint32_t> mark;      // the round that last put a vertex in the work set
};

Vec3 CurrentNormal(const DisplacementRun& run, std::uint32_t t)
{
    const std::uint32_t* corners = &run.mesh.indices[3 * static_cast<std::size_t>(t)];
    const Vec3 a = run.mesh.vertices[corners[0]].position;
    return Normalized(Cross(run.mesh.vertices[corners[1]].position - a, run.mesh.vertices[corners[2]].position - a));
}

// Whether the relief folded triangle t onto a neighbour: their normals, which started within
// 120 degrees of each other, now lie further apart. A sliver along a crease between two faces
// of the relief, or a small triangle beside a plain face held in its plane, folds so while it
// leans less than the tilt from where it faced.
bool FoldsOntoNeighbour(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t t)
{
    const Vec3 start = guard.startNormals[t];
    if (IsZero(start))
        return false;
    Vec3 now;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t f = run.across[3 * static_cast<std::size_t>(t) + k];
        if (f == kNone || IsZero(guard.startNormals[f]) || Dot(start, guard.startNormals[f]) < kFoldedEdgeCosine)
            continue;
        if (IsZero(now))
            now = CurrentNormal(run, t);
        if (Dot(now, CurrentNormal(run, f)) < kFoldedEdgeCosine)
            return true;
    }
    return false;
}

bool Folds(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t t)
{
    const std::uint32_t* corners = &run.mesh.indices[3 * static_cast<std::size_t>(t)];
    return TriangleFoldsOver(run.mesh.vertices[corners[0]].position, run.mesh.vertices[corners[1]].position,
               run.mesh.vertices[corners[2]].position, guard.startNormals[t], guard.cosineOfTilt)
        || FoldsOntoNeighbour(run, guard, t);
}

// The triangles that fold now, in index order.
std::vector<std::uint32_t> FoldedTriangles(const DisplacementRun& run, const FoldGuard& guard)
{
    std::vector<std::uint32_t> folded;
    for (std::size_t t = 0; t < run.mesh.TriangleCount(); ++t) {
        if (Folds(run, guard, static_cast<std::uint32_t>(t)))
            folded.push_back(static_cast<std::uint32_t>(t));
    }
    return folded;
}

// The eased offset of one vertex: halfway towards the mean offset of its neighbours, and never
// longer than its own move.
Vec3 EasedOffset(const DisplacementRun& run, const FoldGuard& guard, std::uint32_t v)
{
    const auto offsetOf = [&](std::uint32_t w) { return run.mesh.vertices[w].position - run.start[w]; };
    const Vec3 own = offsetOf(v);
    Vec3 sum;
    std::uint32_t count = 0;
    for (std::uint32_t j = guard.faces->triangleOffsets[v]; j < guard.faces->triangleOffsets[v + 1]; ++j) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t w = run.mesh.indices[3 * static_cast<std::size_t>(guard.faces->triangles[j]) + k];
            if (w != v) {
                sum += offsetOf(w);
                ++count;
            }
        }
    }
    if (count == 0)
        return own;
    Vec3 eased = (sum * (1.0f / static_cast<float>(count)) + own) * 0.5f;
    const float length = Length(eased);
    if (length > guard.moveLengths[v] && length > 0.0f)
        eased = eased * (guard.moveLengths[v] / length);
    return eased;
}

// One round: eases the work set (or, late on, shortens its moves) and returns the triangles
// round the eased vertices that still fold.
std::vector<std::uint32_t> EaseFoldRound(DisplacementRun& run, FoldGuard& guard,
    const std::vector<std::uint32_t>& folded, std::uint32_t round)
{
    // The corners of the folded triangles, widened from kWidenFromRound on by the triangles round them.
    const std::vector<std::uint32_t> work =
        GuardWorkSet(run.mesh, *guard.faces, folded, round >= kWidenFromRound, guard.mark, round);
    const float share = round >= kFoldPutBackFromRound ? 0.0f : 0.5f;
    std::vector<Vec3> offsets(work.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::uint32_t v = work[i];
        offsets[i] = round >= kFoldHalvingFromRound ? (run.mesh.vertices[v].position - run.start[v]) * share
                                                    : EasedOffset(run, guard, v);
    }
    const BaseGuard base(run.settings);
    std::vector<std::uint32_t> touched;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::uint32_t v = work[i];
        if (run.states[v] == kUntouched)
            continue;  // it had no move to ease
        // A levelled vertex eases within its level, so the base stays flat.
        if (run.states[v] == kLevelled)
            AxisSlot(offsets[i], base.axis) = 0.0f;
        offsets[i] = KeptInPlainPlanes(run, v, offsets[i]);
        run.mesh.vertices[v].position = run.start[v] + offsets[i];
        guard.eased[v] = 1;
        touched.insert(touched.end(), guard.faces->triangles.begin() + guard.faces->triangleOffsets[v],
            guard.faces->triangles.begin() + guard.faces->triangleOffsets[v + 1]);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    std::erase_if(touched, [&](std::uint32_t t) { return !Folds(run, guard, t); });
    return touched;
}

void CountEasedVertices(DisplacementRun& run, const FoldGuard& guard)
{
    for (std::size_t v = 0; v < run.mesh.vertices.size(); ++v) {
        if (guard.eased[v] == 0)
            continue;
        ++run.report.easedVertices;
        const float distance = Length(run.mesh.vertices[v].position - run.start[v]);
        if (distance > guard.moveLengths[v] * kEasedTolerance + kEasedSlack)
            ++run.report.easedFurther;
        if (!run.limit.empty() && std::isfinite(run.limit[v]) && distance > run.limit[v] * kEasedTolerance + kEasedSlack)
            ++run.report.easedPastClearance;
    }
}

// The fold guard's measures of the moves as they came out: the starting normals, the move
// lengths, the triangles across each triangle's edges and round each vertex.
FoldGuard StartFoldGuard(DisplacementRun& run)
{
    const TriangleMesh& mesh = run.mesh;
    FoldGuard guard;
    guard.cosineOfTilt = TiltCosine(run.settings.maximumTiltDegrees);
    guard.startNormals.resize(mesh.TriangleCount());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 a = run.start[mesh.indices[3 * t]];
        guard.startNormals[t] =
            Normalized(Cross(run.start[mesh.indices[3 * t + 1]] - a, run.start[mesh.indices[3 * t + 2]] - a));
    }
    if (run.across.size() != 3 * mesh.TriangleCount())
        BuildEdgeUses(run);
    if (run.vertexFaces.triangleOffsets.size() != mesh.vertices.size() + 1)
        run.vertexFaces = BuildVertexAdjacency(mesh);
    guard.faces = &run.vertexFaces;
    guard.moveLengths.resize(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        guard.moveLengths[v] = Length(mesh.vertices[v].position - run.start[v]);
    guard.eased.assign(mesh.vertices.size(), 0);
    guard.mark.assign(mesh.vertices.size(), 0);
    return guard;
}

// Rounds in which each triangle that folds gives up only the least of its own corners' moves
// that unfolds it. Easing the neighbourhood instead flattened most of a relief on thin rims and
// walls (3DSMaxExport at 2 mm: 73% of the textured vertices under half their move against 50%);
// what still folds after these rounds is eased with its neighbourhood.
constexpr int kScaleBackRounds = 24;
// Halvings in the search for the share of its corners' moves a folded triangle may keep: the
// share is then known within 1/4096 of the move.
constexpr int kScaleBackSteps = 12;

// The moved corners of a few triangles (a triangle with the triangles across its edges at most)
// with where they stand and their offsets from where they started, so that a share of each
// offset can be tried, and the corners put back exactly as they stood.
struct CornerMoves {
    std::array<std::uint32_t, 6> vertices{};
    std::array<Vec3, 6> positions{};
    std::array<Vec3, 6> offsets{};
    std::size_t count = 0;

    void Add(const DisplacementRun& run, std::uint32_t t)
    {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t v = run.mesh.indices[3 * static_cast<std::size_t>(t) + k];
            const Vec3 offset = run.mesh.vertices[v].position - run.start[v];
            if (IsZero(offset) || std::find(vertices.begin(), vertices.begin() + count, v) != vertices.begin() + count
                || count == vertices.size())
                continue;
            vertices[count] = v;
            positions[count] = run.mesh.vertices[v].position;
            offsets[count++] = offset;
        }
    }

    // The corners whose bits are set in `mask`.
    CornerMoves Only(std::uint32_t mask) const
    {
        CornerMoves some;
        for (std::size_t i = 0; i < count; ++i) {
            if ((mask >> i & 1u) == 0)
                continue;
            some.vertices[some.count] = vertices[i];
            some.positions[some.count] = positions[i];
            some.offsets[some.count++] = offsets[i];
        }
        return some;
    }

    // A share of an offset stays within the base level and the plain planes it was kept in.
    void Keep(DisplacementRun& run, float share) const
    {
        for (std::size_t i = 0; i < count; ++i)
            run.mesh.vertices[vertices[i]].position = run.start[vertices[i]] + offsets[i] * share;
    }

    void Restore(DisplacementRun& run) const
    {
        for (std::size_t i = 0; i < count; ++i)
            run.mesh.vertices[vertices[i]].position = positions[i];
    }

    float Length() const
    {
        float sum = 0.0f;
        for (std::size_t i = 0; i < count; ++i)
            sum += grainforge::mesh::Length(offsets[i]);
        return sum;
    }
};

// The greatest share of the corners' moves that `fails` (judged on the mesh as it stands) does
// not hold against, found by bisection between none of them (where the corners started and
// nothing failed) and all; -1 when even none fails. The corners are left as they stood.
template <typename Fails>
float GreatestSafeShare(DisplacementRun& run, const CornerMoves& corners, Fails fails)
{
    corners.Keep(run, 0.0f);
    float safe = -1.0f;
    if (!fails()) {
        safe = 0.0f;
        float failing = 1.0f;
        for (int step = 0; step < kScaleBackSteps; ++step) {
            const float middle = 0.5f * (safe + failing);
            corners.Keep(run, middle);
            (fails() ? failing : safe) = middle;
        }
    }
    corners.Restore(run);
    return safe;
}

// Takes back the least length of move that `fails` does not hold against: a share of the moves
// of some of the corners, the others keeping theirs (a spike's tip alone, so the corners round
// it keep their relief, or the two high corners of a triangle beside one held low), whichever
// choice loses least. Three corners are tried in every choice, more one at a time and all
// together. `corners` is left holding the corners moved; false when no choice helps, and
// nothing moves.
// Up to this many corners every choice of them is tried; a triangle has three.
constexpr std::size_t kEveryChoiceUpTo = 3;

template <typename Fails>
bool TakeBackLeast(DisplacementRun& run, CornerMoves& corners, Fails fails)
{
    if (corners.count == 0)
        return false;
    CornerMoves best;
    float bestShare = 0.0f;
    float bestLoss = kInfinity;
    const auto consider = [&](const CornerMoves& choice) {
        const float share = GreatestSafeShare(run, choice, fails);
        const float loss = (1.0f - share) * choice.Length();
        if (share >= 0.0f && loss < bestLoss) {
            best = choice;
            bestShare = share;
            bestLoss = loss;
        }
    };
    consider(corners);
    if (corners.count <= kEveryChoiceUpTo) {
        for (std::uint32_t mask = 1; mask + 1 < (1u << corners.count); ++mask)
            consider(corners.Only(mask));
    } else {
        for (std::size_t i = 0; i < corners.count; ++i)
            consider(corners.Only(1u << i));
    }
    if (best.count == 0)
        return false;
    best.Keep(run, bestShare);
    corners = best;
    return true;
}

// One round of scaling back: each triangle that still folds, in index order, gives up the least
// of its corners' moves that leaves it unfolded. Returns the triangles round the corners
// moved that fold now, and those that did not give way; `gaveWay` says whether any did.
std::vector<std::uint32_t> ScaleBackFoldRound(DisplacementRun& run, FoldGuard& guard,
    const std::vector<std::uint32_t>& folded, bool& gaveWay, std::vector<std::uint8_t>* focus)
{
    gaveWay = false;
    std::vector<std::uint32_t> touched;
    for (const std::uint32_t t : folded) {
        if (!Folds(run, guard, t))
            continue;  // a triangle before it in this round gave way for it
        const auto folds = [&] { return Folds(run, guard, t); };
        CornerMoves corners;
        corners.Add(run, t);
        if (!TakeBackLeast(run, corners, folds)) {
            // Folded onto a neighbour that moved: the two give way together.
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t f = run.across[3 * static_cast<std::size_t>(t) + k];
                if (f != kNone)
                    corners.Add(run, f);
            }
            if (!TakeBackLeast(run, corners, folds))
                continue;
        }
        gaveWay = true;
        for (std::size_t i = 0; i < corners.count; ++i) {
            const std::uint32_t v = corners.vertices[i];
            guard.eased[v] = 1;
            touched.insert(touched.end(), guard.faces->triangles.begin() + guard.faces->triangleOffsets[v],
                guard.faces->triangles.begin() + guard.faces->triangleOffsets[v + 1]);
            if (focus != nullptr)
                FlagTrianglesRound(*guard.faces, v, *focus);
        }
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    std::erase_if(touched, [&](std::uint32_t t) { return !Folds(run, guard, t); });
    // A triangle that even put back folds (onto a neighbour that folds it) is left to that
    // neighbour's round, or to the easing after these rounds.
    for (const std::uint32_t t : folded) {
        if (Folds(run, guard, t) && !std::binary_search(touched.begin(), touched.end(), t))
            touched.insert(std::upper_bound(touched.begin(), touched.end(), t), t);
    }
    return touched;
}

// Scales back the folded triangles round after round until none folds or none gives way; the
// triangles round the corners moved are flagged in `focus` when given. Returns what still folds.
std::vector<std::uint32_t> ScaleBackFolds(DisplacementRun& run, FoldGuard& guard, std::vector<std::uint32_t> folded,
    std::vector<std::uint8_t>* focus)
{
    for (int round = 0; !folded.empty() && round < kScaleBackRounds; ++round) {
        ++run.report.foldRounds;
        bool gaveWay = false;
        folded = ScaleBackFoldRound(run, guard, folded, gaveWay, focus);
        if (!gaveWay)
            break;
    }
    return folded;
}

// Takes back the moves of triangles the relief tilted past the limit or folded onto a
// neighbour: first only the share of each one's own corners' moves that folds it, round after
// round; what still folds after that is eased with its neighbourhood, a round at a time.
void EaseFolds(DisplacementRun& run, FoldGuard& guard)
{
    std::vector<std::uint32_t> folded = FoldedTriangles(run, guard);
    run.report.foldedTriangles = folded.size();
    folded = ScaleBackFolds(run, guard, std::move(folded), nullptr);
    for (std::uint32_t round = 1; !folded.empty() && round <= kMaxFoldRounds; ++round) {
        ++run.report.foldRounds;
        folded = EaseFoldRound(run, guard, folded, round);
    }
}

// Rounds of the crossing guard that halve the moves round a crossing the relief made; the
// rounds after them, up to the last, put those vertices back where they started.
constexpr int kCrossingHalvingRounds = 6;
constexpr int kMaxCrossingRounds = 16;
// From this round on the triangles round a crossing give way too: halving its own corners has
// not parted it, so its neighbours hold it there.
constexpr int kCrossingWidenFromRound = 4;

// Whether triangles t and u, with their corners at `position(vertex)`, meet beyond their shared
// vertices; one without area counts as meeting.
template <typename Position>
bool PairMeets(const DisplacementRun& run, std::uint32_t t, std::uint32_t u, const Position& position)
{
    std::array<ContactTriangle, 2> pair;
    const std::array<std::uint32_t, 2> triangles{t, u};
    for (std::size_t i = 0; i < 2; ++i) {
        ContactTriangle& c = pair[i];
        for (std::size_t k = 0; k < 3; ++k) {
            c.index[k] = run.mesh.indices[3 * static_cast<std::size_t>(triangles[i]) + k];
            const Vec3 p = position(c.index[k]);
            c.point[k] = {p.x, p.y, p.z};
        }
        if (PointsCollinear(c.point[0], c.point[1], c.point[2]))
            return true;
        PrepareContact(c);
    }
    return TrianglesMeetBeyondSharedVertices(pair[0], pair[1]);
}

// Whether triangles t and u met where their vertices started: a crossing of the input, which
// the relief did not make and is not the guard's to undo. A triangle that started without area
// counts as meeting, so nothing is undone for it.
bool MetAtStart(const DisplacementRun& run, std::uint32_t t, std::uint32_t u)
{
    return PairMeets(run, t, u, [&](std::uint32_t v) { return run.start[v]; });
}

// Of the pairs a search found meeting now, those that did not meet where they started, sorted.
std::vector<std::array<std::uint32_t, 2>> PairsMade(const DisplacementRun& run, const std::vector<std::uint32_t>& found)
{
    std::vector<std::array<std::uint32_t, 2>> made;
    for (std::size_t i = 0; i + 1 < found.size(); i += 2) {
        const std::uint32_t t = std::min(found[i], found[i + 1]);
        const std::uint32_t u = std::max(found[i], found[i + 1]);
        if (!MetAtStart(run, t, u))
            made.push_back({t, u});
    }
    std::sort(made.begin(), made.end());
    return made;
}

// The pairs of triangles that meet now but did not where they started, sorted; `stopped` when
// the search gave up on its pair limit (nothing is then known).
std::vector<std::array<std::uint32_t, 2>> MadeCrossings(const DisplacementRun& run,
    std::span<const std::uint8_t> focus, bool& stopped)
{
    std::vector<std::uint32_t> found;
    FindSelfIntersections(run.mesh, focus, kSearchPairLimit, found, stopped);
    if (stopped)
        return {};
    return PairsMade(run, found);
}

// MadeCrossings over the moved triangles, the guard's first search: its record goes with the
// report, so that the check of the result searches again only where the guard moved anything.
// The search covers the whole part for the check's sake; the guard still takes only the pairs
// with a moved triangle, as a search of those alone lists them: two that did not move meet as
// they did at the start, and are not its business.
std::vector<std::array<std::uint32_t, 2>> FirstMadeCrossings(DisplacementRun& run,
    std::span<const std::uint8_t> moved, bool& stopped)
{
    SelfIntersectionRecord record = run.searchForTheCheck
        ? RecordSelfIntersectionsToTakeOver(run.mesh, moved, kSearchPairLimit, stopped)
        : RecordSelfIntersections(run.mesh, moved, kSearchPairLimit, stopped);
    if (stopped)
        return {};
    std::vector<std::uint32_t> found;
    found.reserve(record.pairs.size());
    for (std::size_t i = 0; i + 1 < record.pairs.size(); i += 2) {
        if (moved[record.pairs[i]] != 0 || moved[record.pairs[i + 1]] != 0)
            found.insert(found.end(), {record.pairs[i], record.pairs[i + 1]});
    }
    std::vector<std::array<std::uint32_t, 2>> made = PairsMade(run, found);
    if (run.searchForTheCheck)
        run.report.crossingSearch = std::make_shared<const SelfIntersectionRecord>(std::move(record));
    return made;
}

// Rounds in which each pair of triangles the relief made meet gives up only the share of its
// corners' moves that makes them meet; what still meets after them is halved round about.
constexpr int kCrossingScaleBackRounds = 8;

// Whether triangles t and u, as they stand, meet beyond their shared vertices; one without area
// counts as meeting, so its moves are taken back.
bool MeetNow(const DisplacementRun& run, std::uint32_t t, std::uint32_t u)
{
    return PairMeets(run, t, u, [&](std::uint32_t v) { return run.mesh.vertices[v].position; });
}

// One round of scaling back: each pair the relief made meet, in order, gives up the least of its
// corners' moves that parts it; where they started the two did not meet. The triangles
// round the corners moved are flagged in `focus`; false when no pair gave way.
bool ScaleBackCrossingRound(DisplacementRun& run, const VertexAdjacency& faces,
    const std::vector<std::array<std::uint32_t, 2>>& made, std::vector<std::uint8_t>& eased,
    std::vector<std::uint8_t>& focus)
{
    bool gaveWay = false;
    for (const std::array<std::uint32_t, 2>& pair : made) {
        const std::uint32_t t = pair[0];
        const std::uint32_t u = pair[1];
        if (!MeetNow(run, t, u))
            continue;
        CornerMoves corners;
        corners.Add(run, t);
        corners.Add(run, u);
        if (!TakeBackLeast(run, corners, [&] { return MeetNow(run, t, u); }))
            continue;
        gaveWay = true;
        for (std::size_t i = 0; i < corners.count; ++i) {
            eased[corners.vertices[i]] = 1;
            FlagTrianglesRound(faces, corners.vertices[i], focus);
        }
    }
    return gaveWay;
}

// Vertex relief moves each vertex on its own, so on a curved or crowded surface the relief of
// one place can pass through another's, or a triangle the fold guard left upright can cut its
// neighbour: crossings the relief made, which no printer can read. Each pair first gives up only
// the share of its own corners' moves that makes it meet, round after round; round what still
// meets the moves are then halved, round after round, then put back where they started, widened
// by the triangles round them when halving alone does not part them, until the relief meets
// itself nowhere it did not before. Only the crossings the relief made are undone; the input's
// own stay as they were.
void EaseCrossings(DisplacementRun& run, FoldGuard& guard)
{
    TriangleMesh& mesh = run.mesh;
    // Two triangles that did not move meet as they did at the start: only pairs with a moved
    // triangle are looked for.
    std::vector<std::uint8_t> moved(mesh.TriangleCount(), 0);
    bool anyMoved = false;
    for (std::size_t t = 0; t < moved.size(); ++t)
        for (std::size_t k = 0; k < 3 && moved[t] == 0; ++k) {
            const std::uint32_t v = mesh.indices[3 * t + k];
            moved[t] = IsZero(mesh.vertices[v].position - run.start[v]) ? 0 : 1;
            anyMoved = anyMoved || moved[t] != 0;
        }
    if (!anyMoved)
        return;
    bool stopped = false;
    std::vector<std::array<std::uint32_t, 2>> made = FirstMadeCrossings(run, moved, stopped);
    run.report.crossingPairsMade = made.size();
    if (made.empty())
        return;
    VertexAdjacency ownFaces;
    if (run.vertexFaces.triangleOffsets.size() != mesh.vertices.size() + 1)
        ownFaces = BuildVertexAdjacency(mesh);
    const VertexAdjacency& faces = ownFaces.triangleOffsets.empty() ? run.vertexFaces : ownFaces;
    std::vector<std::uint8_t> eased(mesh.vertices.size(), 0);
    std::vector<std::uint32_t> mark(mesh.vertices.size(), 0);
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    for (int round = 0; !made.empty() && round < kCrossingScaleBackRounds; ++round) {
        std::fill(focus.begin(), focus.end(), 0);
        if (!ScaleBackCrossingRound(run, faces, made, eased, focus))
            break;
        ++run.report.crossingRounds;
        // A pair scaled back beside neighbours that keep their moves can fold one of them: it
        // gives way in turn, so the guards end with neither a fold nor a crossing made.
        std::vector<std::uint32_t> folded;
        for (std::size_t t = 0; t < focus.size(); ++t) {
            if (focus[t] != 0 && Folds(run, guard, static_cast<std::uint32_t>(t)))
                folded.push_back(static_cast<std::uint32_t>(t));
        }
        ScaleBackFolds(run, guard, std::move(folded), &focus);
        // Pairs left meeting keep their triangles in the search.
        for (const auto& pair : made)
            focus[pair[0]] = focus[pair[1]] = 1;
        made = MadeCrossings(run, focus, stopped);
        if (stopped)
            break;
    }
    for (std::uint32_t round = 1; !made.empty() && !stopped && round <= kMaxCrossingRounds; ++round) {
        ++run.report.crossingRounds;
        std::vector<std::uint32_t> pairs;
        pairs.reserve(2 * made.size());
        for (const auto& pair : made)
            pairs.insert(pairs.end(), pair.begin(), pair.end());
        const std::vector<std::uint32_t> work =
            GuardWorkSet(mesh, faces, pairs, round >= kCrossingWidenFromRound, mark, round);
        const float share = round <= kCrossingHalvingRounds ? 0.5f : 0.0f;
        std::fill(focus.begin(), focus.end(), 0);
        for (const std::uint32_t v : work) {
            const Vec3 offset = mesh.vertices[v].position - run.start[v];
            if (IsZero(offset))
                continue;
            mesh.vertices[v].position = run.start[v] + offset * share;
            eased[v] = 1;
            FlagTrianglesRound(faces, v, focus);
        }
        made = MadeCrossings(run, focus, stopped);
        if (stopped)
            break;
    }
    run.report.crossingPairsLeft = stopped ? run.report.crossingPairsMade : made.size();
    run.report.crossingVerticesEased =
        static_cast<std::uint64_t>(std::count(eased.begin(), eased.end(), std::uint8_t{1}));
}

// Rounds that put back the moves round what still folds once the crossing guard is done.
constexpr int kFoldsLeftRounds = 8;

// The crossing guard takes back moves without looking at the triangles round them, and can fold
// one the fold guard left upright: such a fold first gives up the share of its own corners'
// moves that folds it, as in the fold guard; the moves round what still folds go back where
// they started, widening round by round, as in the fold guard's last rounds. A vertex put back
// beside neighbours that keep their moves can make a crossing of its own; when the triangles
// round the vertices put back meet more than before, they all stay where the guards left them,
// and the folds are left to be said.
void PutBackFoldsLeft(DisplacementRun& run, FoldGuard& guard)
{
    std::vector<std::uint32_t> folded = FoldedTriangles(run, guard);
    if (folded.empty())
        return;
    TriangleMesh& mesh = run.mesh;
    std::vector<Vec3> before(mesh.vertices.size());
    for (std::size_t v = 0; v < before.size(); ++v)
        before[v] = mesh.vertices[v].position;
    const std::vector<std::uint8_t> easedBefore = guard.eased;
    const std::int32_t roundsBefore = run.report.foldRounds;
    folded = ScaleBackFolds(run, guard, std::move(folded), nullptr);
    for (int round = 1; !folded.empty() && round <= kFoldsLeftRounds; ++round) {
        ++run.report.foldRounds;
        folded = EaseFoldRound(run, guard, folded, static_cast<std::uint32_t>(kMaxFoldRounds + round));
    }
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    std::vector<Vec3> after(before.size());
    for (std::size_t v = 0; v < before.size(); ++v) {
        after[v] = mesh.vertices[v].position;
        if (after[v] != before[v])
            FlagTrianglesRound(*guard.faces, static_cast<std::uint32_t>(v), focus);
    }
    bool stopped = false;
    const std::vector<std::array<std::uint32_t, 2>> madeAfter = MadeCrossings(run, focus, stopped);
    if (madeAfter.empty() && !stopped)
        return;
    for (std::size_t v = 0; v < before.size(); ++v)
        mesh.vertices[v].position = before[v];
    const std::vector<std::array<std::uint32_t, 2>> madeBefore = MadeCrossings(run, focus, stopped);
    if (!stopped && madeAfter.size() <= madeBefore.size()) {
        for (std::size_t v = 0; v < after.size(); ++v)
            mesh.vertices[v].position = after[v];
        return;
    }
    guard.eased = easedBefore;
    run.report.foldRounds = roundsBefore;
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

// How much of the asked relief the guards took away. The move each vertex was asked for is its
// weight times its height along its direction (mitre scale included, clearance cut not); what it
// got is its offset along that direction. Counted in the eighths of the part's box, so the place
// named is where most of the flattening lies, not the middle of points scattered over the part.
void MeasureHeldBack(DisplacementRun& run, const std::vector<Vec3>& before)
{
    DisplacementReport& report = run.report;
    const TriangleMesh& mesh = run.mesh;
    const BaseGuard base(run.settings);
    std::vector<float> asked(before.size(), 0.0f);
    float deepest = 0.0f;
    for (std::size_t v = 0; v < before.size(); ++v) {
        const float d = AskedMove(run, v);
        if (!std::isfinite(d) || (base.enabled && base.Above(before[v]) <= base.band + kBandTolerance)
            || (!run.rimSlots.empty() && run.rimSlots[v] != kNone))
            continue;
        asked[v] = d;
        deepest = std::max(deepest, std::fabs(d));
    }
    if (!(deepest > 0.0f))
        return;
    Vec3 low = before[0];
    Vec3 high = before[0];
    for (const Vec3& p : before) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vec3 middle = (low + high) * 0.5f;
    std::array<std::uint64_t, 8> count{};
    std::array<Vec3, 8> sum{};
    for (std::size_t v = 0; v < before.size(); ++v) {
        if (std::fabs(asked[v]) < kHeldBackFloorShare * deepest)
            continue;
        ++report.texturedVertices;
        const Vec3 direction = run.directions.empty() ? UnitNormal(mesh.vertices[v].normal) : run.directions[v];
        const float got = Dot(mesh.vertices[v].position - before[v], direction);
        if (got * std::copysign(1.0f, asked[v]) >= 0.5f * std::fabs(asked[v]))
            continue;
        ++report.heldBackVertices;
        const Vec3 p = before[v];
        const std::size_t cell = (p.x > middle.x ? 1u : 0u) | (p.y > middle.y ? 2u : 0u) | (p.z > middle.z ? 4u : 0u);
        ++count[cell];
        sum[cell] += p;
    }
    if (report.heldBackVertices == 0)
        return;
    const std::size_t most = static_cast<std::size_t>(std::max_element(count.begin(), count.end()) - count.begin());
    report.heldBackPlace = sum[most] * (1.0f / static_cast<float>(count[most]));
    report.heldBackPlaceShare = static_cast<float>(count[most]) / static_cast<float>(report.heldBackVertices);
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
