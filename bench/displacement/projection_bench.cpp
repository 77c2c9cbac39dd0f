// Speed of mapping surface points through the projection: one MapThroughProjection call per
// triangle corner of the closed sphere grid of about 1,000,000 triangles (some 3,000,000
// corners), in the engine's parallel loop, for each projection kind. Items are corners. The
// cage is fitted around the sphere as the document fits it; the outer mask is given, as the
// texture weights give it.
#include "bench/bench_meshes.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/projection.h"
#include "engine/mesh/parallel_loop.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere1M()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

mesh::Projection FittedProjection(mesh::ProjectionKind kind, bool blended)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    const mesh::CageBounds bounds{sphere.boundsMin, sphere.boundsMax, 1};
    mesh::Projection projection = mesh::FitCageToBounds(kind, bounds, 0.05f);
    projection.boxBlended = blended ? 1 : 0;
    projection.cylinderTopCapEnabled = 1;
    projection.cylinderBottomCapEnabled = 1;
    projection.planeTwoSided = 1;
    projection.layers[0].rotationDegrees = 15.0f;
    return projection;
}

void MapEveryCorner(benchmark::State& state, mesh::ProjectionKind kind, bool blended)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    const mesh::Projection projection = FittedProjection(kind, blended);
    const std::size_t corners = sphere.indices.size();
    std::vector<float> coverage(corners);
    const std::uint8_t outer = 255;
    for (auto _ : state) {
        mesh::ParallelFor(corners, [&](std::size_t corner) {
            const mesh::MeshVertex& vertex = sphere.vertices[sphere.indices[corner]];
            const mesh::ProjectionSamples samples =
                mesh::MapThroughProjection(projection, vertex.position, vertex.normal, &outer);
            coverage[corner] = samples.coverage + samples.samples[0].u;
        });
        benchmark::DoNotOptimize(coverage.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(corners));
}

void BM_MapBox(benchmark::State& state) { MapEveryCorner(state, mesh::ProjectionKind::Box, false); }
void BM_MapBoxBlended(benchmark::State& state) { MapEveryCorner(state, mesh::ProjectionKind::Box, true); }
void BM_MapPlane(benchmark::State& state) { MapEveryCorner(state, mesh::ProjectionKind::Plane, false); }
void BM_MapCylinder(benchmark::State& state) { MapEveryCorner(state, mesh::ProjectionKind::Cylinder, false); }
void BM_MapSphere(benchmark::State& state) { MapEveryCorner(state, mesh::ProjectionKind::Sphere, false); }

BENCHMARK(BM_MapBox)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapBoxBlended)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapPlane)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapCylinder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapSphere)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
