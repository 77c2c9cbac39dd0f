#include "engine/pipeline/surface_distance.h"

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The vertices, every k-th one beyond `most`.
void AddVertexSamples(const TriangleMesh& mesh, std::uint64_t most, std::vector<Vec3>& samples)
{
    const std::size_t count = mesh.vertices.size();
    const std::size_t stride = std::max<std::size_t>(1, (count + most - 1) / most);
    for (std::size_t v = 0; v < count; v += stride)
        if (IsFinite(mesh.vertices[v].position))
            samples.push_back(mesh.vertices[v].position);
}

// `count` points spread evenly over the area: sample k sits at the (k + 0.5)-th share of the
// summed area, at a point of its triangle taken from a two-dimensional low-discrepancy sequence
// (the plastic-number one), so that no two samples of a triangle coincide.
void AddAreaSamples(const TriangleMesh& mesh, std::uint64_t count, std::vector<Vec3>& samples)
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
    const double share = total / static_cast<double>(count);
    for (std::uint64_t k = 0; k < count; ++k) {
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

// The step off a face for its inside test: at least this, mm, or this many float steps at
// the face's coordinates, whichever is more, and never more than a ten-thousandth of them.
constexpr float kInsideStepFloor = 1e-3f;
constexpr float kInsideStepFloatSteps = 8.0f;

// The direction of the inside tests: off every axis and diagonal, so that a ray seldom grazes
// an edge.
constexpr Vec3 kInsideRay{0.26726124f, 0.53452248f, 0.80178373f};

// A second direction, for a ray that met nothing: it ran through an edge between two
// triangles and missed both, which a sample snapped to the coarse float grid far from the
// origin does far more often than one near it.
constexpr Vec3 kInsideRayAgain{-0.50507627f, 0.30304576f, 0.80812204f};

// Inside the output's solid: the first surface a ray meets faces away from the sample.
bool IsInside(const TriangleMesh& output, const AabbTree& tree, Vec3 point)
{
    for (const Vec3 direction : {kInsideRay, kInsideRayAgain}) {
        const Ray ray{point, direction};
        const RayHit hit = tree.Raycast(ray, output);
        if (hit.hit)
            return Dot(hit.normal, ray.direction) > 0.0f;
    }
    return false;
}

struct Crossing {
    float distance = 0.0f;
    int sign = 0;                 // +1 leaving the solid, -1 entering it
    std::uint32_t triangle = 0;
};

bool ShareAnEdge(const TriangleMesh& mesh, std::uint32_t s, std::uint32_t t)
{
    int shared = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            shared += mesh.indices[3 * std::size_t{s} + i] == mesh.indices[3 * std::size_t{t} + j] ? 1 : 0;
    return shared >= 2;
}

// How often the surface winds round the ray's origin, from every crossing of the ray with it:
// leaving counts one up, entering one down. Faces of two shells that lie flush in one plane
// both count; a ray through the edge between two triangles of one shell counts once.
int WindingAlongRay(const TriangleMesh& mesh, const AabbTree& tree, const Ray& ray)
{
    std::vector<Crossing> crossings;
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
        const AabbNode& node = tree.nodes[stack.back()];
        const std::uint32_t at = stack.back();
        stack.pop_back();
        float entry = 0.0f;
        if (!RayHitsBox(ray, node.boxMin, node.boxMax, kNoDistanceLimit, entry))
            continue;
        if (node.count == 0) {
            stack.push_back(at + 1);
            stack.push_back(node.right);
            continue;
        }
        for (std::uint32_t k = node.first; k < node.first + node.count; ++k) {
            const std::uint32_t t = tree.order[k];
            const RayHit hit = PickTriangle(ray, mesh.vertices[mesh.indices[3 * std::size_t{t}]].position,
                mesh.vertices[mesh.indices[3 * std::size_t{t} + 1]].position,
                mesh.vertices[mesh.indices[3 * std::size_t{t} + 2]].position);
            if (hit.hit)
                crossings.push_back({hit.distance, Dot(hit.normal, ray.direction) > 0.0f ? 1 : -1, t});
        }
    }
    std::sort(crossings.begin(), crossings.end(), [](const Crossing& a, const Crossing& b) {
        return a.distance != b.distance ? a.distance < b.distance : a.triangle < b.triangle;
    });
    int winding = 0;
    for (std::size_t i = 0; i < crossings.size(); ++i) {
        bool counted = false;
        for (std::size_t j = i; j > 0; --j) {
            const Crossing& earlier = crossings[j - 1];
            if (crossings[i].distance - earlier.distance > 1e-5f * std::max(1.0f, crossings[i].distance))
                break;
            counted = counted
                || (earlier.sign == crossings[i].sign && ShareAnEdge(mesh, earlier.triangle, crossings[i].triangle));
        }
        if (!counted)
            winding += crossings[i].sign;
    }
    return winding;
}

// The face of `input` at `point` lies inside the input's own solid: a step off the face along
// its normal, the input still winds round the point. So do the inner faces of shells that
// overlap, which a contour merges away; the walls of a crevice face open air. The first
// surface a ray meets would not do: from inside one shell it may meet another from outside.
bool InsideOwnSolid(const TriangleMesh& input, const AabbTree& inputTree, Vec3 point)
{
    const NearestHit face = inputTree.Nearest(input, point, {}, {}, kNoDistanceLimit);
    if (!face.found)
        return false;
    const std::size_t t = static_cast<std::size_t>(face.triangle);
    const Vec3 a = input.vertices[input.indices[3 * t]].position;
    const Vec3 b = input.vertices[input.indices[3 * t + 1]].position;
    const Vec3 c = input.vertices[input.indices[3 * t + 2]].position;
    const Vec3 normal = Normalized(Cross(b - a, c - a));
    if (Dot(normal, normal) == 0.0f)
        return false;
    // Far enough to leave the face behind in float, near enough to stay in a crevice; on
    // along the normal tilted off the axes, so that the ray does not run along the edges of a
    // part built square. Far out a share of the coordinate would step clean out of the part
    // (100 mm at 1,000,000 mm), and the inner faces of overlapping shells would read as lost
    // there while near the origin they do not: a few float steps leave the face as surely.
    const float reach = std::max({1.0f, std::fabs(point.x), std::fabs(point.y), std::fabs(point.z)});
    const float floatStep = std::nextafter(reach, std::numeric_limits<float>::infinity()) - reach;
    const float step = std::min(1e-4f * reach, std::max(kInsideStepFloor, kInsideStepFloatSteps * floatStep));
    const Ray ray{point + normal * step, Normalized(normal * 2.0f + kInsideRay)};
    return WindingAlongRay(input, inputTree, ray) > 0;
}

bool TreeFits(const AabbTree& tree, const TriangleMesh& mesh)
{
    return !tree.nodes.empty() && tree.order.size() == mesh.TriangleCount()
        && mesh.vertices.size() >= tree.vertexCount;
}

bool Usable(const TriangleMesh& mesh)
{
    return !mesh.indices.empty() && mesh.IsConsistent();
}

std::vector<Vec3> SurfaceSamples(const TriangleMesh& mesh, std::uint64_t vertexSamples, std::uint64_t areaSamples)
{
    std::vector<Vec3> samples;
    AddVertexSamples(mesh, vertexSamples, samples);
    AddAreaSamples(mesh, areaSamples, samples);
    return samples;
}

float Reach(float allowed)
{
    return std::isfinite(allowed) && allowed > 0.0f ? allowed : kNoDistanceLimit;
}

// The first of equal largest distances, whatever the thread count.
std::size_t Farthest(const std::vector<float>& distances)
{
    std::size_t farthest = 0;
    for (std::size_t i = 1; i < distances.size(); ++i)
        if (distances[i] > distances[farthest])
            farthest = i;
    return farthest;
}

// Each input sample's distance to the output; a sample buried in the output's solid is looked
// at again once all are known, so that the input's tree is built only when one needs it.
void MeasureLost(const TriangleMesh& input, const TriangleMesh& output, const AabbTree& outputTree,
    float allowed, const AabbTree* inputTree, SurfaceDistanceReport& report)
{
    const std::vector<Vec3> samples = SurfaceSamples(input, kDistanceVertexSamples, kDistanceAreaSamples);
    const float reach = Reach(allowed);
    std::vector<float> distances(samples.size(), 0.0f);
    std::vector<std::uint8_t> buried(samples.size(), 0);
    ParallelFor(samples.size(), [&](std::size_t i) {
        NearestHit hit = outputTree.Nearest(output, samples[i], {}, {}, reach);
        if (!hit.found) {
            if (IsInside(output, outputTree, samples[i]))
                buried[i] = 1;
            else
                hit = outputTree.Nearest(output, samples[i], {}, {}, kNoDistanceLimit);
        }
        distances[i] = hit.found ? hit.distance : 0.0f;
    }, kSampleGrain);
    std::vector<std::size_t> deep;
    for (std::size_t i = 0; i < buried.size(); ++i)
        if (buried[i] != 0)
            deep.push_back(i);
    if (!deep.empty()) {
        AabbTree ownTree;
        if (inputTree == nullptr) {
            ownTree.Build(input);
            inputTree = &ownTree;
        }
        ParallelFor(deep.size(), [&](std::size_t k) {
            const std::size_t i = deep[k];
            if (InsideOwnSolid(input, *inputTree, samples[i]))
                return;
            const NearestHit hit = outputTree.Nearest(output, samples[i], {}, {}, kNoDistanceLimit);
            distances[i] = hit.found ? hit.distance : 0.0f;
        }, kSampleGrain);
    }
    report.samples = samples.size();
    if (!samples.empty()) {
        const std::size_t farthest = Farthest(distances);
        report.largest = distances[farthest];
        report.where = samples[farthest];
    }
}

// Each output sample's distance to the input: surface the output added, or laid over a crevice.
void MeasureAdded(const TriangleMesh& input, const AabbTree& inputTree, const TriangleMesh& output,
    float allowed, SurfaceDistanceReport& report)
{
    const std::vector<Vec3> samples = SurfaceSamples(output, kAddedVertexSamples, kAddedAreaSamples);
    const float reach = Reach(allowed);
    std::vector<float> distances(samples.size(), 0.0f);
    ParallelFor(samples.size(), [&](std::size_t i) {
        NearestHit hit = inputTree.Nearest(input, samples[i], {}, {}, reach);
        if (!hit.found)
            hit = inputTree.Nearest(input, samples[i], {}, {}, kNoDistanceLimit);
        distances[i] = hit.found ? hit.distance : 0.0f;
    }, kSampleGrain);
    report.addedSamples = samples.size();
    if (!samples.empty()) {
        const std::size_t farthest = Farthest(distances);
        report.added = distances[farthest];
        report.addedWhere = samples[farthest];
    }
}

}  // namespace

SurfaceDistanceReport MeasureSurfaceDistance(const TriangleMesh& input, const TriangleMesh& output,
    const AabbTree& outputTree, float allowed, const AabbTree* inputTree)
{
    SurfaceDistanceReport report;
    report.allowed = allowed;
    if (!Usable(input) || !Usable(output) || !TreeFits(outputTree, output)
        || (inputTree != nullptr && !TreeFits(*inputTree, input)))
        return report;
    MeasureLost(input, output, outputTree, allowed, inputTree, report);
    report.measured = true;
    return report;
}

SurfaceDistanceReport MeasureSurfaceChange(const TriangleMesh& input, const AabbTree& inputTree,
    const TriangleMesh& output, const AabbTree& outputTree, float allowed)
{
    SurfaceDistanceReport report;
    report.allowed = allowed;
    if (!Usable(input) || !Usable(output) || !TreeFits(outputTree, output) || !TreeFits(inputTree, input))
        return report;
    MeasureLost(input, output, outputTree, allowed, &inputTree, report);
    MeasureAdded(input, inputTree, output, allowed, report);
    report.measured = true;
    return report;
}

}  // namespace grainforge::mesh
