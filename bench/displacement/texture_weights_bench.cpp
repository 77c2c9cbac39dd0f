// Speed of the texture weights on a closed sphere grid of about 5,000,000 triangles (5,002,284;
// radius 75 mm) under a sharp box projection fitted around it, with an outer mask that marks
// every seventh triangle inner, as the face stage hands them over, and the default "average"
// rule. Items are triangles. The second case adds one feathered box mask over a quarter of
// the part, which costs a signed distance per corner.
#include "bench/bench_meshes.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/texture_weights.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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

BENCHMARK(BM_TextureWeightsBox)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TextureWeightsBoxMasked)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
