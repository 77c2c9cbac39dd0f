// Rendering the hexagon, wood, stone and machined patterns at 1024 x 1024 with their default
// parameters, the size the document renders for a typical part. Throughput is in pixels per
// second; the image's mean height is shown beside the time, so a change that speeds a pattern
// up by changing its output shows.
#include "engine/textures/procedural_registry.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace grainforge::mesh;

void BM_RenderPatternDefaults(benchmark::State& state, const char* name)
{
    const std::unique_ptr<procedural::ProceduralTexture> pattern = procedural::CreateProceduralTexture(name);
    if (!pattern) {
        state.SkipWithError("pattern not built");
        return;
    }
    constexpr std::int32_t kSide = 1024;
    std::vector<float> image;
    for (auto _ : state) {
        image = pattern->RenderImage(kSide, kSide);
        benchmark::DoNotOptimize(image.data());
    }
    double mean = 0;
    for (float h : image)
        mean += h;
    state.SetItemsProcessed(state.iterations() * std::int64_t{kSide} * kSide);
    state.counters["mean"] = mean / static_cast<double>(image.size());
}

#define TESSARY_RENDER_BENCH(id, name) \
    BENCHMARK_CAPTURE(BM_RenderPatternDefaults, id, name)->Unit(benchmark::kMillisecond)->UseRealTime()

TESSARY_RENDER_BENCH(HexTruchet, "Hex Truchet");
TESSARY_RENDER_BENCH(WireMesh, "Wire Mesh");
TESSARY_RENDER_BENCH(Timber, "Timber");
TESSARY_RENDER_BENCH(WoodRings, "Wood Rings");
TESSARY_RENDER_BENCH(CausticRock, "Caustic Rock");
TESSARY_RENDER_BENCH(PenroseTiles, "Penrose Tiles");
TESSARY_RENDER_BENCH(FlatRock, "Flat Rock");
TESSARY_RENDER_BENCH(Trabecular, "Trabecular");
TESSARY_RENDER_BENCH(Dots, "Dots");
TESSARY_RENDER_BENCH(Knurl, "Knurl");
TESSARY_RENDER_BENCH(TreadPlate, "Tread Plate");

}  // namespace
