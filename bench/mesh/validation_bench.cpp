// Speed of the bounding-volume tree, the self-intersection search, validation and tidying on
// the closed sphere grid of about 1,000,000 triangles. Items are triangles (queries for the
// nearest-point case). Beside each time: the pairs found, the verdict, the triangles
// reoriented, so a fast but wrong run shows.
#include "bench/bench_meshes.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/self_intersection.h"
#include "engine/repair/tidying.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& ClosedSphere()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

// The sphere and a copy moved by about 1 mm: two closed bodies crossing along a circle.
const mesh::TriangleMesh& OverlappingSpheres()
{
    static const mesh::TriangleMesh both = [] {
        mesh::TriangleMesh mesh = ClosedSphere();
        const mesh::TriangleMesh& sphere = ClosedSphere();
        const auto shift = static_cast<std::uint32_t>(mesh.vertices.size());
        for (const mesh::MeshVertex& vertex : sphere.vertices)
            mesh.vertices.push_back({vertex.position + mesh::Vec3{1.0f, 0.5f, 0.25f}, vertex.normal});
        for (std::uint32_t index : sphere.indices)
            mesh.indices.push_back(index + shift);
        mesh.ComputeBounds();
        return mesh;
    }();
    return both;
}

void AabbTreeBuild1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = ClosedSphere();
    for (auto _ : state) {
        mesh::AabbTree tree;
        tree.Build(sphere);
        benchmark::DoNotOptimize(tree.nodes.data());
        state.counters["levels"] = tree.levels;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(AabbTreeBuild1M)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10^6 points within 1 mm of the surface, queried in a parallel loop as the remeshers do.
void Nearest1MQueries(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = ClosedSphere();
    mesh::AabbTree tree;
    tree.Build(sphere);
    std::vector<mesh::Vec3> points(1000000);
    std::mt19937 random(1);
    std::normal_distribution<float> direction(0.0f, 1.0f);
    std::uniform_real_distribution<float> radius(74.0f, 76.0f);
    for (mesh::Vec3& p : points) {
        const mesh::Vec3 d = mesh::Normalized({direction(random), direction(random), direction(random)});
        p = d * radius(random);
    }
    std::vector<float> distances(points.size());
    for (auto _ : state) {
        mesh::ParallelFor(points.size(), [&](std::size_t i) {
            distances[i] = tree.Nearest(sphere, points[i], {}, {}, mesh::kNoDistanceLimit).distance;
        });
        benchmark::DoNotOptimize(distances.data());
    }
    double largest = 0;
    for (float d : distances)
        largest = std::max(largest, static_cast<double>(d));
    state.counters["maxDistance"] = largest;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
}
BENCHMARK(Nearest1MQueries)->Unit(benchmark::kMillisecond)->UseRealTime();

void RunSearch(benchmark::State& state, const mesh::TriangleMesh& mesh)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    for (auto _ : state)
        mesh::FindSelfIntersections(mesh, {}, 40000000, pairs, stopped);
    state.counters["pairs"] = static_cast<double>(pairs.size() / 2);
    state.counters["stopped"] = stopped ? 1 : 0;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.TriangleCount()));
}

void FindSelfIntersections1MClean(benchmark::State& state) { RunSearch(state, ClosedSphere()); }
BENCHMARK(FindSelfIntersections1MClean)->Unit(benchmark::kMillisecond)->UseRealTime();

void FindSelfIntersections2MOverlapping(benchmark::State& state) { RunSearch(state, OverlappingSpheres()); }
BENCHMARK(FindSelfIntersections2MOverlapping)->Unit(benchmark::kMillisecond)->UseRealTime();

void RunValidation(benchmark::State& state, bool search)
{
    const mesh::TriangleMesh& sphere = ClosedSphere();
    mesh::ValidationOptions options;
    options.checkSelfIntersections = search;
    mesh::Verdict verdict = mesh::Verdict::Unsuitable;
    for (auto _ : state) {
        const mesh::ValidationReport report = mesh::ValidateMesh(sphere, options);
        verdict = report.verdict;
        benchmark::DoNotOptimize(report.triangleComponents.data());
    }
    state.counters["verdict"] = static_cast<double>(verdict);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}

void ValidateMesh1MWithoutSearch(benchmark::State& state) { RunValidation(state, false); }
BENCHMARK(ValidateMesh1MWithoutSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

void ValidateMesh1MWithSearch(benchmark::State& state) { RunValidation(state, true); }
BENCHMARK(ValidateMesh1MWithSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

// Tidying with every switch on, on a fresh copy each iteration (the copy is not timed): the
// clean part (nothing to change) and the same surface as an STL-style soup.
void RunTidy(benchmark::State& state, const mesh::TriangleMesh& source)
{
    mesh::TidyReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = source;
        state.ResumeTiming();
        report = mesh::TidyMesh(mesh, mesh::TidyOptions{});
        benchmark::DoNotOptimize(mesh.indices.data());
        state.PauseTiming();
        mesh = {};
        state.ResumeTiming();
    }
    state.counters["merged"] = static_cast<double>(report.verticesMerged);
    state.counters["reoriented"] = static_cast<double>(report.trianglesReoriented);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.TriangleCount()));
}

void TidyMesh1MClean(benchmark::State& state) { RunTidy(state, ClosedSphere()); }
BENCHMARK(TidyMesh1MClean)->Unit(benchmark::kMillisecond)->UseRealTime();

void TidyMesh1MSoup(benchmark::State& state)
{
    static const mesh::TriangleMesh soup = MakeSoup(ClosedSphere());
    RunTidy(state, soup);
}
BENCHMARK(TidyMesh1MSoup)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
