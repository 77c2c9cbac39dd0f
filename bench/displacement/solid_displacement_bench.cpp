// The whole solid displacement (clearance, field, contour and removals) with a relief of 1 mm on
// every vertex: a sphere 50 mm across of 249,000 triangles and the 100 mm test cube, at 0.2 and
// 0.1 mm cells, and a bumpy sphere of 1,000,000 triangles (150 mm across) at 0.2 mm. Beside the
// time: each phase's milliseconds, points measured, triangles out, and the process's peak
// resident memory (VmHWM: run one case per process, --benchmark_filter, for its own peak).
#include "bench/bench_meshes.h"
#include "engine/displacement/solid_displacement.h"
#include "engine/mesh/test_shapes.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere50()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(25.0f, 250, 500);
    return sphere;
}

const mesh::TriangleMesh& Cube100()
{
    static const mesh::TriangleMesh cube = mesh::MakeTestCube(100.0f);
    return cube;
}

const mesh::TriangleMesh& Bumpy1M()
{
    static const mesh::TriangleMesh sphere = MakeBumpySphere1M();
    return sphere;
}

double PeakResidentMegabytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;  // kB
    }
    return 0.0;
}

void Displace(benchmark::State& state, const mesh::TriangleMesh& part, float cell)
{
    mesh::SolidDisplacementSettings settings;
    settings.cellMillimetres = cell;
    settings.baseZ = part.boundsMin.z;
    mesh::AabbTree tree;
    tree.Build(part);
    mesh::SolidDisplacementReport report;
    std::size_t trianglesOut = 0;
    for (auto _ : state) {
        mesh::TriangleMesh result;
        const bool ok = mesh::ApplySolidDisplacement(part, std::vector<float>(part.vertices.size(), 1.0f),
            settings, {}, result, report, &tree);
        trianglesOut = result.TriangleCount();
        benchmark::DoNotOptimize(ok);
    }
    state.counters["ok"] = report.ok ? 1.0 : 0.0;
    state.counters["trianglesOut"] = static_cast<double>(trianglesOut);
    state.counters["pointsMeasured"] = static_cast<double>(report.pointsMeasured);
    state.counters["capMs"] = report.clearanceMilliseconds;
    state.counters["fieldMs"] = report.fieldMilliseconds;
    state.counters["contourMs"] = report.contourMilliseconds;
    state.counters["peakMB"] = PeakResidentMegabytes();
}

void BM_SolidSphere50(benchmark::State& state) { Displace(state, Sphere50(), state.range(0) / 10.0f); }
BENCHMARK(BM_SolidSphere50)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_SolidCube100(benchmark::State& state) { Displace(state, Cube100(), state.range(0) / 10.0f); }
BENCHMARK(BM_SolidCube100)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_SolidBumpy1M(benchmark::State& state) { Displace(state, Bumpy1M(), 0.2f); }
BENCHMARK(BM_SolidBumpy1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace grainforge::bench
