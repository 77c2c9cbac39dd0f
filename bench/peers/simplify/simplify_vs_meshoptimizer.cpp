// SimplifyMesh to "Medium" beside meshoptimizer's meshopt_simplify to the same index count, on
// the bumpy 1,001,112-triangle sphere, both timed in the same iteration of one process. The
// counters give each time, their ratio (ours / peer), the triangles each leaves and how far
// the input vertices lie from each result, so a fast but coarse run shows. On a busy machine
// the process CPU times (ours counts every thread it uses) tell more than the wall times.
#include "bench/bench_meshes.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/parallel_loop.h"

#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& BumpySphere()
{
    static const mesh::TriangleMesh sphere = MakeBumpySphere1M();
    return sphere;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Largest distance from an input vertex to the result's surface.
float LargestDeviation(const mesh::TriangleMesh& input, const mesh::TriangleMesh& result)
{
    mesh::AabbTree tree;
    tree.Build(result);
    std::vector<float> distance(input.vertices.size(), 0.0f);
    mesh::ParallelFor(input.vertices.size(), [&](std::size_t v) {
        const mesh::NearestHit hit = tree.Nearest(result, input.vertices[v].position, {}, {}, mesh::kNoDistanceLimit);
        distance[v] = hit.found ? hit.distance : 0.0f;
    });
    return distance.empty() ? 0.0f : *std::max_element(distance.begin(), distance.end());
}

void BM_SimplifyMediumAgainstMeshopt(benchmark::State& state)
{
    const mesh::TriangleMesh& input = BumpySphere();
    mesh::TriangleMesh ours;
    mesh::TriangleMesh peer = input;
    double oursSeconds = 0.0;
    double peerSeconds = 0.0;
    double oursCpu = 0.0;
    double peerCpu = 0.0;
    for (auto _ : state) {
        ours = input;
        mesh::MeshSimplifyOptions options;
        options.maximumError = 0.1f;
        auto start = std::chrono::steady_clock::now();
        double cpu = ProcessCpuSeconds();
        const mesh::MeshSimplifyReport report = mesh::SimplifyMesh(ours, options, {});
        oursSeconds += SecondsSince(start);
        oursCpu += ProcessCpuSeconds() - cpu;
        benchmark::DoNotOptimize(report.collapses);

        // No error bound (1 is the whole extent): the index count alone stops it.
        start = std::chrono::steady_clock::now();
        cpu = ProcessCpuSeconds();
        const std::size_t count = meshopt_simplify(peer.indices.data(), input.indices.data(), input.indices.size(),
                                                   &input.vertices[0].position.x, input.vertices.size(),
                                                   sizeof(mesh::MeshVertex), ours.indices.size(), 1.0f, 0, nullptr);
        peerSeconds += SecondsSince(start);
        peerCpu += ProcessCpuSeconds() - cpu;
        peer.indices.resize(count);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["oursMs"] = oursSeconds * 1000.0 / iterations;
    state.counters["peerMs"] = peerSeconds * 1000.0 / iterations;
    state.counters["ratio"] = oursSeconds / peerSeconds;
    state.counters["oursCpuMs"] = oursCpu * 1000.0 / iterations;
    state.counters["peerCpuMs"] = peerCpu * 1000.0 / iterations;
    state.counters["cpuRatio"] = oursCpu / peerCpu;
    state.counters["trianglesOurs"] = static_cast<double>(ours.TriangleCount());
    state.counters["trianglesPeer"] = static_cast<double>(peer.TriangleCount());
    state.counters["maxDevOursMm"] = LargestDeviation(input, ours);
    state.counters["maxDevPeerMm"] = LargestDeviation(input, peer);
}
BENCHMARK(BM_SimplifyMediumAgainstMeshopt)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace grainforge::bench
