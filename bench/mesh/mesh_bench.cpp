// Speed of the triangle mesh helpers and the welding passes on a closed sphere grid of about
// 1,000,000 triangles and on the same surface as an STL-style soup (3 vertices a triangle).
// Items are triangles. The "ReaderPasses" case runs the passes the STL reader runs on every
// import, in its order, which is what the whole read's time budget rests on.
#include "bench/bench_meshes.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/mesh/welding.h"

#include <benchmark/benchmark.h>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere1M()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

const mesh::TriangleMesh& Soup1M()
{
    static const mesh::TriangleMesh soup = MakeSoup(Sphere1M());
    return soup;
}

// Runs `pass` on a fresh copy of `source` each iteration; the copy is not timed.
template <class Pass>
void RunOnCopies(benchmark::State& state, const mesh::TriangleMesh& source, Pass pass)
{
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = source;
        state.ResumeTiming();
        benchmark::DoNotOptimize(pass(mesh));
        state.PauseTiming();
        mesh = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.TriangleCount()));
}

void CountEdges1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    mesh::EdgeCounts counts;
    for (auto _ : state)
        benchmark::DoNotOptimize(counts = mesh::CountEdges(sphere));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
    state.counters["boundary"] = static_cast<double>(counts.boundary);
    state.counters["nonManifold"] = static_cast<double>(counts.nonManifold);
}
BENCHMARK(CountEdges1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void WeldIdenticalVertices1MSoup(benchmark::State& state)
{
    std::uint64_t removed = 0;
    RunOnCopies(state, Soup1M(), [&](mesh::TriangleMesh& mesh) { return removed = mesh::WeldIdenticalVertices(mesh); });
    state.counters["removed"] = static_cast<double>(removed);
}
BENCHMARK(WeldIdenticalVertices1MSoup)->Unit(benchmark::kMillisecond)->UseRealTime();

void WeldVerticesWithin1MSoup(benchmark::State& state)
{
    std::uint64_t removed = 0;
    RunOnCopies(state, Soup1M(), [&](mesh::TriangleMesh& mesh) { return removed = mesh::WeldVerticesWithin(mesh, 0.001f); });
    state.counters["removed"] = static_cast<double>(removed);
}
BENCHMARK(WeldVerticesWithin1MSoup)->Unit(benchmark::kMillisecond)->UseRealTime();

void RemoveDegenerateTriangles1M(benchmark::State& state)
{
    RunOnCopies(state, Sphere1M(), [](mesh::TriangleMesh& mesh) { return mesh::RemoveDegenerateTriangles(mesh, false); });
}
BENCHMARK(RemoveDegenerateTriangles1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void CountDuplicateTriangles1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    for (auto _ : state)
        benchmark::DoNotOptimize(mesh::CountDuplicateTriangles(sphere));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(CountDuplicateTriangles1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void RemoveUnusedVertices1M(benchmark::State& state)
{
    RunOnCopies(state, Sphere1M(), [](mesh::TriangleMesh& mesh) { return mesh::RemoveUnusedVertices(mesh); });
}
BENCHMARK(RemoveUnusedVertices1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void ComputeVertexNormals1M(benchmark::State& state)
{
    mesh::TriangleMesh sphere = Sphere1M();
    for (auto _ : state) {
        sphere.ComputeVertexNormals();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(ComputeVertexNormals1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void ComputeBounds1M(benchmark::State& state)
{
    mesh::TriangleMesh sphere = Sphere1M();
    for (auto _ : state) {
        sphere.ComputeBounds();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(ComputeBounds1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void CountBodies1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    for (auto _ : state)
        benchmark::DoNotOptimize(mesh::CountBodies(sphere));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(CountBodies1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BuildEdgeTable1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    for (auto _ : state)
        benchmark::DoNotOptimize(mesh::BuildEdgeTable(sphere).data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(BuildEdgeTable1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BuildVertexAdjacency1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    for (auto _ : state)
        benchmark::DoNotOptimize(mesh::BuildVertexAdjacency(sphere).neighbours.data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(BuildVertexAdjacency1M)->Unit(benchmark::kMillisecond)->UseRealTime();

// The passes of one STL import after parsing, on the 1M soup.
void ReaderPasses1MSoup(benchmark::State& state)
{
    RunOnCopies(state, Soup1M(), [](mesh::TriangleMesh& mesh) {
        std::uint64_t sum = mesh::WeldIdenticalVertices(mesh);
        sum += mesh::RemoveDegenerateTriangles(mesh, false);
        sum += mesh::CountEdges(mesh).boundary;
        sum += mesh::CountDuplicateTriangles(mesh);
        sum += mesh::RemoveUnusedVertices(mesh);
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        sum += mesh::CountBodies(mesh);
        sum += mesh::CountEdges(mesh).manifold;
        return sum;
    });
}
BENCHMARK(ReaderPasses1MSoup)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
