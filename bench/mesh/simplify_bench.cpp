// The simplify on its own, on parts where its first result meets itself and the repairs run
// round those places: a sphere 40 mm across squashed to a plate under a millimetre thick, its
// vertices moved up and down by a fixed noise, so that merges on one face reach through the
// other. At Medium, 39,600 triangles with a little and with more noise. Beside the time: the
// reruns, the crossing pairs the run was given and those left, and the triangles kept.
#include "bench/bench_meshes.h"
#include "engine/mesh/mesh_simplify.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace grainforge::bench {
namespace {

// The sphere's heights scaled by `flat`, each vertex then moved up or down by up to `noise` mm
// (a small integer hash, the same on every platform).
mesh::TriangleMesh MakeNoisyPlate(float flat, float noise)
{
    mesh::TriangleMesh plate = MakeSphereGrid(20.0f, 100, 200);
    for (std::size_t v = 0; v < plate.vertices.size(); ++v) {
        std::uint32_t h = static_cast<std::uint32_t>(v) * 0x9E3779B1u;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        mesh::Vec3& p = plate.vertices[v].position;
        p.z = p.z * flat + static_cast<float>(static_cast<double>(h) / 2147483648.0 - 1.0) * noise;
    }
    plate.ComputeBounds();
    plate.ComputeVertexNormals();
    return plate;
}

void SimplifyPlate(benchmark::State& state, float noise)
{
    const mesh::TriangleMesh plate = MakeNoisyPlate(0.02f, noise);
    mesh::MeshSimplifyOptions options;
    options.maximumError = 0.1f;
    options.bedAxis = -1;
    mesh::MeshSimplifyReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = plate;
        state.ResumeTiming();
        report = mesh::SimplifyMesh(mesh, options, {});
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["reruns"] = static_cast<double>(report.reruns);
    state.counters["crossingsGiven"] = static_cast<double>(report.crossingsGiven);
    state.counters["crossingsLeft"] = static_cast<double>(report.crossingsLeft);
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
}

void SimplifyNoisyPlate(benchmark::State& state) { SimplifyPlate(state, 0.1f); }
BENCHMARK(SimplifyNoisyPlate)->Unit(benchmark::kMillisecond)->UseRealTime();

void SimplifyNoisierPlate(benchmark::State& state) { SimplifyPlate(state, 0.3f); }
BENCHMARK(SimplifyNoisierPlate)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
