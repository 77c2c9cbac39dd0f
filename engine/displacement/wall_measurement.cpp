#include "engine/displacement/wall_measurement.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();
// The ray starts this far inside the surface and restarts this far beyond each of the vertex's
// own triangles it meets, so that it does not hit the same triangle again.
constexpr float kRayStep = 0.0001f;
constexpr int kMaxOwnHits = 6;

const char* const kMeshesDoNotMatch = "the meshes do not match";
const char* const kNoClearance =
    "the displacement kept no clearance: one smooth region, or the clearance limit off";

// Unit vector along a vertex normal; zero for a zero or non-finite one.
Vec3 UnitNormal(Vec3 normal)
{
    const Vec3 unit = Normalized(normal);
    return IsFinite(unit) ? unit : Vec3{};
}

bool IsOwnTriangle(const VertexAdjacency& faces, std::uint32_t vertex, std::int32_t triangle)
{
    for (std::uint32_t i = faces.triangleOffsets[vertex]; i < faces.triangleOffsets[vertex + 1]; ++i) {
        if (static_cast<std::int32_t>(faces.triangles[i]) == triangle)
            return true;
    }
    return false;
}

OppositeSurfaceResult QueryOppositeSurface(const TriangleMesh& mesh, const AabbTree& tree,
    const VertexAdjacency& faces, std::uint32_t vertex, const std::vector<float>& depths, float reach)
{
    OppositeSurfaceResult result;
    if (vertex >= mesh.vertices.size())
        return result;
    const Vec3 normal = UnitNormal(mesh.vertices[vertex].normal);
    if (IsZero(normal))
        return result;
    const Vec3 inward = normal * -1.0f;
    const float reachHere = std::max(0.0f, depths[vertex]) + reach;
    Ray ray{mesh.vertices[vertex].position + inward * kRayStep, inward};
    float travelled = kRayStep;
    for (int ownHits = 0; ownHits < kMaxOwnHits; ++ownHits) {
        const RayHit hit = tree.Raycast(ray, mesh);
        // Written so that a reach that is not a number finds nothing.
        if (!hit.hit || !(hit.distance + travelled <= reachHere))
            return result;
        if (!IsOwnTriangle(faces, vertex, hit.triangle)) {
            const std::uint32_t* corners = &mesh.indices[3 * static_cast<std::size_t>(hit.triangle)];
            result.found = 1;
            result.distance = hit.distance + travelled;
            result.wall = result.distance - depths[vertex]
                - (depths[corners[0]] + depths[corners[1]] + depths[corners[2]]) / 3.0f;
            return result;
        }
        travelled += hit.distance + kRayStep;
        ray.origin = hit.point + inward * kRayStep;
    }
    return result;
}

bool MeshesMatch(const TriangleMesh& before, const TriangleMesh& after, const std::vector<float>& weights)
{
    return !after.vertices.empty() && !after.indices.empty()
        && before.vertices.size() == after.vertices.size() && before.indices.size() == after.indices.size()
        && weights.size() == after.vertices.size() && after.IsConsistent() && before.IsConsistent();
}

// A tree kept by the displacement was built over its input; one over another mesh would miss
// every ray and report walls as kept.
bool TreeFits(const AabbTree& tree, const TriangleMesh& before)
{
    return tree.order.size() == before.TriangleCount() && tree.vertexCount == before.vertices.size();
}

float ThresholdOf(const WallSettings& settings)
{
    if (settings.thresholdMillimetres > 0.0f && std::isfinite(settings.thresholdMillimetres))
        return settings.thresholdMillimetres;
    const float lineWidth = std::isfinite(settings.lineWidthMillimetres) ? settings.lineWidthMillimetres : 0.0f;
    return std::max(kThinnestWallThreshold, lineWidth);
}

// How far each vertex moved against its normal before the relief (0 where it has none).
std::vector<float> InwardDepths(const TriangleMesh& before, const TriangleMesh& after)
{
    std::vector<float> depths(before.vertices.size(), 0.0f);
    for (std::size_t v = 0; v < depths.size(); ++v) {
        const Vec3 normal = UnitNormal(before.vertices[v].normal);
        if (!IsZero(normal))
            depths[v] = -Dot(after.vertices[v].position - before.vertices[v].position, normal);
    }
    return depths;
}

// Sorts the places by wall, equal walls in vertex order (the order they came in), and keeps
// the first kWallPlacesKept.
void KeepThinnestPlaces(std::vector<WallPlace>& places)
{
    std::vector<std::uint32_t> order(places.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return places[a].wall < places[b].wall || (places[a].wall == places[b].wall && a < b);
    });
    order.resize(std::min(order.size(), kWallPlacesKept));
    std::vector<WallPlace> kept;
    for (std::uint32_t i : order)
        kept.push_back(places[i]);
    places = std::move(kept);
}

// Sorts the measured candidates into thinned and already thin places.
void ClassifyWalls(const TriangleMesh& after, const std::vector<std::uint32_t>& candidates,
    const std::vector<OppositeSurfaceResult>& results, WallReport& report)
{
    const float threshold = report.thresholdMillimetres;
    report.thinnestWall = kInfinity;
    report.thinnestWas = kInfinity;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const OppositeSurfaceResult& result = results[i];
        if (!result.found || !(result.wall < threshold))
            continue;
        if (result.distance >= threshold) {
            // A relief that cut right through leaves no wall, not a negative one.
            const float wall = std::max(0.0f, result.wall);
            ++report.thinnedPlaces;
            report.places.push_back({after.vertices[candidates[i]].position, wall, result.distance});
            report.thinnestWall = std::min(report.thinnestWall, wall);
            report.thinnestWas = std::min(report.thinnestWas, result.distance);
        } else {
            ++report.alreadyThinPlaces;
        }
    }
    if (report.thinnedPlaces == 0) {
        report.thinnestWall = 0.0f;
        report.thinnestWas = 0.0f;
    }
    KeepThinnestPlaces(report.places);
}

std::string Milliseconds0(double value)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0).ptr;
    return std::string(buffer, end);
}

}  // namespace

std::vector<OppositeSurfaceResult> OppositeSurfaceDistances(const TriangleMesh& mesh, const AabbTree& tree,
    const std::vector<std::uint32_t>& vertices, const std::vector<float>& depths, float reach)
{
    if (vertices.empty() || depths.size() != mesh.vertices.size())
        return std::vector<OppositeSurfaceResult>(vertices.size());
    return OppositeSurfaceDistances(mesh, tree, vertices, depths, reach, BuildVertexAdjacency(mesh));
}

std::vector<OppositeSurfaceResult> OppositeSurfaceDistances(const TriangleMesh& mesh, const AabbTree& tree,
    const std::vector<std::uint32_t>& vertices, const std::vector<float>& depths, float reach,
    const VertexAdjacency& vertexFaces)
{
    std::vector<OppositeSurfaceResult> results(vertices.size());
    // The hit triangle's corners are read through the indices: they must be in range.
    if (vertices.empty() || depths.size() != mesh.vertices.size() || !mesh.IsConsistent())
        return results;
    if (vertexFaces.triangleOffsets.size() != mesh.vertices.size() + 1
        || vertexFaces.triangles.size() != mesh.indices.size())
        return OppositeSurfaceDistances(mesh, tree, vertices, depths, reach, BuildVertexAdjacency(mesh));
    ParallelFor(vertices.size(), [&](std::size_t i) {
        results[i] = QueryOppositeSurface(mesh, tree, vertexFaces, vertices[i], depths, reach);
    });
    return results;
}

WallReport MeasureWalls(const TriangleMesh& before, const TriangleMesh& after, const std::vector<float>& weights,
    const DisplacementReport& displacementReport, const WallSettings& settings)
{
    WallReport report;
    if (!MeshesMatch(before, after, weights)) {
        report.notMeasuredReason = kMeshesDoNotMatch;
        return report;
    }
    const AabbTree* tree = displacementReport.clearanceTree.get();
    const std::vector<float>& clearance = displacementReport.clearance;
    if (tree == nullptr || tree->nodes.empty() || clearance.size() != after.vertices.size()) {
        report.notMeasuredReason = kNoClearance;
        return report;
    }
    if (!TreeFits(*tree, before)) {
        report.notMeasuredReason = kMeshesDoNotMatch;
        return report;
    }
    const auto start = std::chrono::steady_clock::now();
    report.thresholdMillimetres = ThresholdOf(settings);
    const float minimumInward = std::isfinite(settings.minimumInwardMillimetres)
        ? settings.minimumInwardMillimetres : WallSettings{}.minimumInwardMillimetres;

    const std::vector<float> depths = InwardDepths(before, after);
    float deepest = 0.0f;
    std::vector<std::uint32_t> candidates;
    for (std::size_t v = 0; v < depths.size(); ++v) {
        deepest = std::max(deepest, depths[v]);
        if (weights[v] > 0.0f && depths[v] >= minimumInward && std::isfinite(clearance[v]))
            candidates.push_back(static_cast<std::uint32_t>(v));
    }
    report.candidates = candidates.size();
    report.measured = true;
    if (!candidates.empty()) {
        const std::vector<OppositeSurfaceResult> results = OppositeSurfaceDistances(
            before, *tree, candidates, depths, 2.0f * deepest + report.thresholdMillimetres);
        ClassifyWalls(after, candidates, results, report);
    }
    report.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return report;
}

std::string FormatWallReport(const WallReport& report)
{
    if (!report.measured)
        return "walls not measured: " + report.notMeasuredReason;
    const std::string threshold = FormatMillimetres2(report.thresholdMillimetres);
    if (report.thinnedPlaces != 0) {
        return FormatCountGrouped(report.thinnedPlaces) + (report.thinnedPlaces == 1 ? " place" : " places")
            + " where the relief thinned a wall below " + threshold + " mm (thinnest "
            + FormatLength(report.thinnestWall) + " mm, was " + FormatLength(report.thinnestWas)
            + ")";
    }
    if (report.alreadyThinPlaces != 0) {
        return "no wall thinned by the relief; "
            + FormatCountOf(report.alreadyThinPlaces, "place was", "places were") + " under " + threshold + " mm already";
    }
    return "no wall thinned below " + threshold + " mm";
}

std::string FormatWallsLine(const WallReport& report)
{
    if (!report.measured)
        return "Walls: not measured (" + report.notMeasuredReason + ")\n";
    return "Walls after the relief: " + FormatWallReport(report) + " (" + FormatCountGrouped(report.candidates)
        + " vertices moved inward with a surface within reach, " + Milliseconds0(report.milliseconds)
        + " ms)\n";
}

namespace {

struct WallSample {
    float thickness = 0.0f;
    double area = 0.0;  // 0: not measured
};

// The wall under triangle t: the ray starts a hair inside the surface, so that it does not
// meet the triangle it leaves.
WallSample MeasureWallUnder(const TriangleMesh& mesh, const AabbTree& tree, std::size_t t, float inward, float reach)
{
    const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
    const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
    const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
    const Vec3 n = Cross(b - a, c - a);
    const float length = Length(n);
    if (!(length > 0.0f) || !std::isfinite(length))
        return {};
    const Vec3 direction = n * (inward / length);
    const Vec3 centre = (a + b + c) * (1.0f / 3.0f);
    const float start = 1e-6f * (1.0f + std::max({std::fabs(centre.x), std::fabs(centre.y), std::fabs(centre.z)}));
    const RayHit hit = tree.Raycast({centre + direction * start, direction}, mesh, reach);
    if (!hit.hit)
        return {};
    return {hit.distance + start, 0.5 * static_cast<double>(length)};
}

}  // namespace

WallThickness MeasureWallThickness(const TriangleMesh& mesh)
{
    WallThickness thickness;
    const std::size_t triangles = mesh.TriangleCount();
    if (triangles == 0 || !mesh.IsConsistent() || !HasOnlyFiniteCoordinates(mesh))
        return thickness;
    TriangleMesh part = mesh;
    part.ComputeBounds();
    AabbTree tree;
    tree.Build(part);
    const float inward = part.Volume() < 0.0f ? 1.0f : -1.0f;
    const float reach = 2.0f * Length(part.boundsMax - part.boundsMin);
    const std::size_t stride = (triangles + kWallThicknessSamples - 1) / kWallThicknessSamples;
    const std::size_t count = (triangles + stride - 1) / stride;
    std::vector<WallSample> samples(count);
    ParallelFor(count, [&](std::size_t i) { samples[i] = MeasureWallUnder(part, tree, i * stride, inward, reach); });
    std::erase_if(samples, [](const WallSample& sample) { return !(sample.area > 0.0); });
    if (samples.empty())
        return thickness;
    std::sort(samples.begin(), samples.end(), [](const WallSample& x, const WallSample& y) {
        return x.thickness < y.thickness || (x.thickness == y.thickness && x.area < y.area);
    });
    double total = 0.0;
    for (const WallSample& sample : samples)
        total += sample.area;
    // From the thickest down: the first wall at which half the area lies at it or thicker.
    double above = 0.0;
    thickness.half = samples.front().thickness;
    for (auto sample = samples.rbegin(); sample != samples.rend(); ++sample) {
        above += sample->area;
        if (above >= 0.5 * total) {
            thickness.half = sample->thickness;
            break;
        }
    }
    thickness.measured = true;
    thickness.thickest = samples.back().thickness;
    return thickness;
}

}  // namespace grainforge::mesh
