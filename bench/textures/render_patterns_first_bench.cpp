// RenderImage of ten procedural patterns ("Stripes" to "Truchet" and "Leather") at 1024 x
// 1024 with their default parameters, the size of a large preset thumbnail sheet or a
// mid-sized height map. Throughput is in pixels per second; the mean height beside it shows
// that the render did real work.
#include "engine/textures/procedural_registry.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <numeric>
#include <string>

namespace {

using namespace grainforge::mesh::procedural;

constexpr std::int32_t kSide = 1024;

void BM_RenderPattern(benchmark::State& state, const std::string& name)
{
    const std::unique_ptr<ProceduralTexture> pattern = CreateProceduralTexture(name);
    if (!pattern) {
        state.SkipWithError("pattern not built");
        return;
    }
    double mean = 0.0;
    for (auto _ : state) {
        std::vector<float> image = pattern->RenderImage(kSide, kSide);
        benchmark::DoNotOptimize(image.data());
        mean = std::accumulate(image.begin(), image.end(), 0.0) / static_cast<double>(image.size());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kSide} * kSide);
    state.counters["meanHeight"] = mean;
}

#define TESSARY_RENDER_BENCH(id, name)                                            \
    void BM_Render##id(benchmark::State& state) { BM_RenderPattern(state, name); } \
    BENCHMARK(BM_Render##id)->Unit(benchmark::kMillisecond)->UseRealTime()

TESSARY_RENDER_BENCH(Stripes, "Stripes");
TESSARY_RENDER_BENCH(WoodPores, "Wood Pores");
TESSARY_RENDER_BENCH(Penrose, "Penrose");
TESSARY_RENDER_BENCH(Rocks, "Rocks");
TESSARY_RENDER_BENCH(Copper, "Copper");
TESSARY_RENDER_BENCH(Contours, "Contours");
TESSARY_RENDER_BENCH(Stars, "Stars");
TESSARY_RENDER_BENCH(Weave, "Weave");
TESSARY_RENDER_BENCH(Truchet, "Truchet");
TESSARY_RENDER_BENCH(Leather, "Leather");

}  // namespace
