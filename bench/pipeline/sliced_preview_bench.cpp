// Speed and output size of the sliced preview with the view's settings (layer height 0.2 mm,
// line width 0.42 mm, tolerance 0.03 mm, budget 800,000 segments, skins on), without skins and
// without simplification, on a closed sphere grid 150 mm across of 5,000,000 triangles. Items are input triangles. The counters
// give the layers, the step, what was drawn and the output's size; the peak resident memory
// is the process's (getrusage), mesh generation included.
#include "bench/bench_meshes.h"
#include "engine/pipeline/sliced_preview.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace grainforge::bench {
namespace {

// 2 x 2000 x (1251 - 1) = 5,000,000 triangles, radius 75 mm.
const mesh::TriangleMesh& Sphere5M()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(75.0f, 1251, 2000);
    return sphere;
}

double PeakResidentMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

void SlicedPreview5M(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = Sphere5M();
    mesh::SlicedPreviewSettings settings;
    settings.skins = state.range(0) != 0;
    settings.toleranceMillimetres = static_cast<float>(state.range(1)) / 100.0f;
    mesh::SlicedPreview preview;
    for (auto _ : state) {
        mesh::BuildSlicedPreview(preview, sphere, settings);
        benchmark::DoNotOptimize(preview.mesh.vertices.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
    state.counters["layers"] = static_cast<double>(preview.layerCount);
    state.counters["step"] = static_cast<double>(preview.layerStep);
    state.counters["drawnLayers"] = static_cast<double>(preview.drawnLayerCount);
    state.counters["cuts"] = static_cast<double>(preview.cutsBeforeSimplifying);
    state.counters["beadSegments"] = static_cast<double>(preview.beadSegments);
    state.counters["skinTriangles"] = static_cast<double>(preview.skinTriangles);
    state.counters["trianglesOut"] = static_cast<double>(preview.mesh.TriangleCount());
    const double bytes = static_cast<double>(preview.mesh.vertices.size() * sizeof(mesh::MeshVertex)
        + preview.mesh.indices.size() * sizeof(std::uint32_t) + preview.triangleLayers.size() * sizeof(std::uint32_t));
    state.counters["outputMB"] = bytes / (1024.0 * 1024.0);
    state.counters["peakRssMB"] = PeakResidentMegabytes();
}
// The arguments: skins off (0) or on (1), and the tolerance in hundredths of a millimetre. The
// view's 0.03 mm leaves about 93,000 of the 3,000,000 cut segments; with none simplified away
// the budget draws every 4th layer.
BENCHMARK(SlicedPreview5M)->Args({1, 3})->Args({0, 3})->Args({1, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
