#include "engine/pipeline/surface_distance.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace grainforge::mesh {
namespace {

// Lookups per parallel block: each is a few microseconds.
constexpr std::size_t kSampleGrain = 1024;

double TriangleArea(const TriangleMesh& mesh, std::size_t t)
{
    const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
    const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
    const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
    const double area = 0.5 * static_cast<double>(Length(Cross(b - a, c - a)));
    return std::isfinite(area) ? area : 0.0;
}

// The vertices, every k-th one beyond kDistanceVertexSamples.
void AddVertexSamples(const TriangleMesh& mesh, std::vector<Vec3>& samples)
{
    const std::size_t count = mesh.vertices.size();
    const std::size_t stride = std::max<std::size_t>(1, (count + kDistanceVertexSamples - 1) / kDistanceVertexSamples);
    for (std::size_t v = 0; v < count; v += stride)
        if (IsFinite(mesh.vertices[v].position))
            samples.push_back(mesh.vertices[v].position);
}

// Points spread evenly over the area: sample k sits at the (k + 0.5)-th share of the summed
// area, at a point of its triangle taken from a two-dimensional low-discrepancy sequence (the
// plastic-number one), so that no two samples of a triangle coincide.
void AddAreaSamples(const TriangleMesh& mesh, std::vector<Vec3>& samples)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<double> summed(triangles);
    double total = 0.0;
    for (std::size_t t = 0; t < triangles; ++t) {
        total += TriangleArea(mesh, t);
        summed[t] = total;
    }
    if (!(total > 0.0))
        return;
    const double share = total / static_cast<double>(kDistanceAreaSamples);
    for (std::uint64_t k = 0; k < kDistanceAreaSamples; ++k) {
        const double at = (static_cast<double>(k) + 0.5) * share;
        const std::size_t t = std::min<std::size_t>(
            static_cast<std::size_t>(std::upper_bound(summed.begin(), summed.end(), at) - summed.begin()), triangles - 1);
        double u = std::fmod(0.5 + 0.7548776662466927 * static_cast<double>(k), 1.0);
        double w = std::fmod(0.5 + 0.5698402909980532 * static_cast<double>(k), 1.0);
        if (u + w > 1.0) {
            u = 1.0 - u;
            w = 1.0 - w;
        }
        const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
        const Vec3 point = a + (b - a) * static_cast<float>(u) + (c - a) * static_cast<float>(w);
        if (IsFinite(point))
            samples.push_back(point);
    }
}

// Inside the output's solid: the first surface a ray meets faces away from the sample. Faces
// of the input buried in the output (overlapping shells merged into one) are no loss. The
// direction is off every axis and diagonal, so that a ray seldom grazes an edge.
bool IsInside(const TriangleMesh& output, const AabbTree& tree, Vec3 point)
{
    const Ray ray{point, Vec3{0.26726124f, 0.53452248f, 0.80178373f}};
    const RayHit hit = tree.Raycast(ray, output);
    return hit.hit && Dot(hit.normal, ray.direction) > 0.0f;
}

bool TreeFits(const AabbTree& tree, const TriangleMesh& output)
{
    return !tree.nodes.empty() && tree.order.size() == output.TriangleCount()
        && output.vertices.size() >= tree.vertexCount;
}

}  // namespace

SurfaceDistanceReport MeasureSurfaceDistance(const TriangleMesh& input, const TriangleMesh& output,
    const AabbTree& tree, float allowed)
{
    SurfaceDistanceReport report;
    report.allowed = allowed;
    if (input.indices.empty() || output.indices.empty() || !input.IsConsistent() || !output.IsConsistent()
        || !TreeFits(tree, output))
        return report;
    std::vector<Vec3> samples;
    AddVertexSamples(input, samples);
    AddAreaSamples(input, samples);
    const float reach = std::isfinite(allowed) && allowed > 0.0f ? allowed : kNoDistanceLimit;
    std::vector<float> distances(samples.size(), 0.0f);
    ParallelFor(samples.size(), [&](std::size_t i) {
        NearestHit hit = tree.Nearest(output, samples[i], {}, {}, reach);
        if (!hit.found && !IsInside(output, tree, samples[i]))
            hit = tree.Nearest(output, samples[i], {}, {}, kNoDistanceLimit);
        distances[i] = hit.found ? hit.distance : 0.0f;
    }, kSampleGrain);
    // The first of equal largest distances, whatever the thread count.
    std::size_t farthest = 0;
    for (std::size_t i = 1; i < distances.size(); ++i)
        if (distances[i] > distances[farthest])
            farthest = i;
    report.measured = true;
    report.samples = samples.size();
    if (!samples.empty()) {
        report.largest = distances[farthest];
        report.where = samples[farthest];
    }
    return report;
}

}  // namespace grainforge::mesh
