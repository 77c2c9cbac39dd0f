// Speed and memory of the dual-contouring remesh on the closed sphere grid of about 1,000,000
// triangles (150 mm across) at the cells 0.2 mm and 0.5 mm. Items are input triangles. The
// peak resident memory is the process's (getrusage), so run one case per process
// (--benchmark_filter) to read each case's own peak.
#include "bench/bench_meshes.h"
#include "engine/remesh/contour_remesh.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere1M()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

double PeakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

void ContourRemesh1M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere1M();
    mesh::RemeshSettings settings;
    settings.targetEdgeMillimetres = static_cast<float>(state.range(0)) / 10.0f;
    mesh::RemeshReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = sphere;
        state.ResumeTiming();
        report = mesh::RemeshByContour(mesh, settings, {});
        state.PauseTiming();
        mesh = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
    state.counters["deviationMm"] = report.deviationMillimetres;
    state.counters["peakRssMB"] = PeakResidentMegabytes();
    for (const mesh::StageTime& stage : report.stageTimes)
        state.counters[stage.name + " ms"] = stage.milliseconds;
}
// The argument is the cell in tenths of a millimetre.
BENCHMARK(ContourRemesh1M)->Arg(2)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
