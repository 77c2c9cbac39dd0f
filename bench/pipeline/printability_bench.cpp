// Speed of the printability check on a 150 mm part of 5,000,000 triangles (4,999,120: 1581
// bands, 1582 segments), smooth and with bumps of up to 1.2 mm, at the default settings and with
// the display data the Check Printability command asks for. Items are triangles. Beside the
// time: the grid (cells a layer, layers), the check's own milliseconds and what it found, so a
// fast but wrong run shows.
#include "bench/bench_meshes.h"
#include "engine/pipeline/printability_check.h"

#include <benchmark/benchmark.h>

namespace grainforge::bench {
namespace {

constexpr std::uint32_t kBands = 1581;
constexpr std::uint32_t kSegments = 1582;

const mesh::TriangleMesh& Sphere5M()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(75.0f, kBands, kSegments);
    return sphere;
}

const mesh::TriangleMesh& BumpySphere5M()
{
    static const mesh::TriangleMesh sphere = MakeBumpySphereGrid(75.0f, 1.2f, kBands, kSegments);
    return sphere;
}

void RunCheck(benchmark::State& state, const mesh::TriangleMesh& part, bool display)
{
    mesh::PrintabilitySettings settings;
    settings.collectDisplay = display;
    mesh::PrintabilityReport report;
    for (auto _ : state) {
        report = mesh::CheckPrintability(part, settings);
        benchmark::DoNotOptimize(report.layers);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(part.TriangleCount()));
    state.counters["cellsPerLayer"] = static_cast<double>(report.cellsPerLayer);
    state.counters["layers"] = static_cast<double>(report.layers);
    state.counters["ms"] = report.milliseconds;
    state.counters["airPlaces"] = static_cast<double>(report.airPlaces.size());
    state.counters["reachMm"] = report.longestReach;
    if (display)
        state.counters["supportTriangles"] = static_cast<double>(report.supportTriangles.size());
}

void PrintabilitySphere5M(benchmark::State& state) { RunCheck(state, Sphere5M(), false); }
void PrintabilityBumpySphere5M(benchmark::State& state) { RunCheck(state, BumpySphere5M(), false); }
void PrintabilityBumpySphere5MDisplay(benchmark::State& state) { RunCheck(state, BumpySphere5M(), true); }

BENCHMARK(PrintabilitySphere5M)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PrintabilityBumpySphere5M)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PrintabilityBumpySphere5MDisplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
