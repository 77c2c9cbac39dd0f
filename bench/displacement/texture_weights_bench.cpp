// Speed of the texture weights on a closed sphere grid of about 5,000,000 triangles (5,002,284;
// radius 75 mm) under a sharp box projection fitted around it, with an outer mask that marks
// every seventh triangle inner, as the face stage hands them over, and the default "average"
// rule. Items are triangles. The second case adds one feathered box mask over a quarter of
// the part, which costs a signed distance per corner.
//
// The faces a remesh takes as its part's are timed on 40 mm cones of 96 and 5,000 segments,
// each judging the same remesh: a cone of 260 rings of 480 segments (249,600 triangles, some
// 0.26 mm across at the base). The part's sides are slanted slivers meeting at the apex, whose
// boxes hold far more than their own surface; the time should follow the remesh, not the
// part's facet count. Beside the time: the triangles taken.
#include "bench/bench_meshes.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/texture_weights.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere5M()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(75.0f, 1582, 1582);
    return sphere;
}

std::vector<std::uint8_t> SomeInnerFaces(std::size_t triangles)
{
    std::vector<std::uint8_t> mask(triangles, 255);
    for (std::size_t t = 0; t < triangles; t += 7)
        mask[t] = 0;
    return mask;
}

void WeighSphere(benchmark::State& state, const std::vector<mesh::MaskVolume>& masks)
{
    const mesh::TriangleMesh& sphere = Sphere5M();
    const mesh::CageBounds bounds{sphere.boundsMin, sphere.boundsMax, 1};
    mesh::Projection projection = mesh::FitCageToBounds(mesh::ProjectionKind::Box, bounds, 0.05f);
    projection.boxSideSurface[5] = mesh::SurfaceSide::Outside;
    const std::vector<std::uint8_t> outer = SomeInnerFaces(sphere.TriangleCount());
    const mesh::DisplacementSettings settings;
    std::size_t textured = 0;
    for (auto _ : state) {
        const mesh::TextureWeights weights =
            mesh::ComputeTextureWeights(sphere, projection, outer, settings, mesh::TileFrame{}, masks);
        textured = static_cast<std::size_t>(std::count(weights.faceTextured.begin(), weights.faceTextured.end(), 1));
        benchmark::DoNotOptimize(weights.vertexWeights.data());
    }
    state.counters["textured"] = static_cast<double>(textured);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}

void BM_TextureWeightsBox(benchmark::State& state)
{
    WeighSphere(state, {});
}

void BM_TextureWeightsBoxMasked(benchmark::State& state)
{
    mesh::MaskVolume mask;
    mask.center = {40.0f, 40.0f, 0.0f};
    mask.size = {80.0f, 80.0f, 200.0f};
    mask.featherMillimetres = 5.0f;
    WeighSphere(state, {mask});
}

// A closed cone as MakeCone, its side and base cut into `rings` rings of `segments` triangles
// pairs: the triangles a remesh of the cone would give, of a fixed count whatever the cone's
// own facets.
mesh::TriangleMesh MakeRingedCone(float diameter, float height, std::uint32_t rings, std::uint32_t segments)
{
    mesh::TriangleMesh cone;
    const double pi = 3.14159265358979323846;
    const auto ringPoint = [&](std::uint32_t ring, std::uint32_t k, bool side) {
        const double share = static_cast<double>(ring) / rings;  // 0 at the centre, 1 at the rim
        const double angle = 2 * pi * k / segments;
        const double radius = 0.5 * diameter * share;
        return mesh::Vec3{static_cast<float>(radius * std::cos(angle)), static_cast<float>(radius * std::sin(angle)),
            side ? static_cast<float>(height * (1.0 - share)) : 0.0f};
    };
    for (const bool side : {true, false}) {
        const auto first = static_cast<std::uint32_t>(cone.vertices.size());
        for (std::uint32_t ring = 0; ring <= rings; ++ring)
            for (std::uint32_t k = 0; k < segments; ++k)
                cone.vertices.push_back({ringPoint(ring, k, side), {}});
        for (std::uint32_t ring = 0; ring < rings; ++ring)
            for (std::uint32_t k = 0; k < segments; ++k) {
                const std::uint32_t a = first + ring * segments + k, b = first + ring * segments + (k + 1) % segments;
                const std::uint32_t c = a + segments, d = b + segments;
                // The side faces up and out, the base down.
                if (side)
                    cone.indices.insert(cone.indices.end(), {a, c, d, a, d, b});
                else
                    cone.indices.insert(cone.indices.end(), {a, d, c, a, b, d});
            }
    }
    cone.ComputeBounds();
    cone.ComputeVertexNormals();
    return cone;
}

void BM_FacesTakenOnCone(benchmark::State& state)
{
    static const mesh::TriangleMesh remesh = MakeRingedCone(40.0f, 40.0f, 260, 480);
    const mesh::TriangleMesh part = MakeCone(40.0f, 40.0f, static_cast<std::uint32_t>(state.range(0)));
    const mesh::Projection projection =
        mesh::FitCageToBounds(mesh::ProjectionKind::Box, {part.boundsMin, part.boundsMax, 1}, 0.05f);
    std::vector<std::uint8_t> taken;
    for (auto _ : state) {
        taken = mesh::FacesTakenAsThePartsFaces(remesh, part, projection, {});
        benchmark::DoNotOptimize(taken.data());
    }
    state.counters["taken"] = static_cast<double>(std::count(taken.begin(), taken.end(), 1));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(remesh.TriangleCount()));
}

BENCHMARK(BM_TextureWeightsBox)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TextureWeightsBoxMasked)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FacesTakenOnCone)->Arg(96)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
