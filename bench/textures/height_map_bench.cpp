// Seamless methods and height-map rebuilds on a 4096 x 4096 image, the largest texture size
// the document renders. Throughput is in pixels per second; the contrast counters show the
// blend's quality beside its time.
#include "engine/textures/cross_fade_edges.h"
#include "engine/textures/height_map.h"
#include "engine/textures/histogram_blend.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <random>

namespace {

using namespace grainforge::mesh;

constexpr std::int32_t kSide = 4096;
constexpr std::int64_t kPixels = std::int64_t{kSide} * kSide;

// Smooth waves plus fine noise: a photograph-like spread of values that does not tile.
const std::vector<float>& TestImage()
{
    static const std::vector<float> image = [] {
        std::vector<float> pixels(static_cast<std::size_t>(kPixels));
        std::mt19937 random(1);
        std::uniform_real_distribution<float> noise(-0.08f, 0.08f);
        for (std::int32_t y = 0; y < kSide; ++y) {
            for (std::int32_t x = 0; x < kSide; ++x) {
                const float u = static_cast<float>(x) / kSide;
                const float v = static_cast<float>(y) / kSide;
                const float value = 0.5f + 0.2f * std::sin(23.0f * u + 3.0f * v) * std::cos(17.0f * v) +
                                    0.1f * std::sin(71.0f * u * v) + noise(random);
                pixels[static_cast<std::size_t>(y) * kSide + x] = std::clamp(value, 0.0f, 1.0f);
            }
        }
        return pixels;
    }();
    return image;
}

void BM_HistogramBlendTile(benchmark::State& state)
{
    const std::vector<float>& image = TestImage();
    seamless::HistogramBlendStatistics statistics;
    for (auto _ : state) {
        std::vector<float> result = seamless::HistogramBlendTile(image, kSide, kSide, kSide, kSide, {4, 0}, &statistics);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.counters["contrast"] = statistics.outputDeviation / statistics.inputDeviation;
}
BENCHMARK(BM_HistogramBlendTile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CrossFadeEdges(benchmark::State& state)
{
    const std::vector<float>& image = TestImage();
    std::int32_t width = 0, height = 0;
    for (auto _ : state) {
        std::vector<float> result = seamless::CrossFadeEdges(image, kSide, kSide, 20.0f, width, height);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_CrossFadeEdges)->Unit(benchmark::kMillisecond)->UseRealTime();

// A map with the test image and one millimetre per pixel.
HeightMap MakeMap()
{
    HeightMap map;
    map.settings.lockAspect = false;
    map.settings.widthMillimetres = static_cast<float>(kSide);
    map.settings.heightMillimetres = static_cast<float>(kSide);
    map.SetImage(kSide, kSide, TestImage());
    return map;
}

// Four box passes at the given radius in pixels.
void BM_HeightMapBlur(benchmark::State& state)
{
    HeightMap map = MakeMap();
    map.settings.blurMillimetres = static_cast<float>(state.range(0));
    for (auto _ : state) {
        map.Blur();
        benchmark::DoNotOptimize(map.blurred.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_HeightMapBlur)->Arg(4)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LevelledPercentile(benchmark::State& state)
{
    HeightMap map = MakeMap();
    map.settings.gamma = 1.5f;
    map.settings.blackLevel = 0.1f;
    float percentile = 0.0f;
    for (auto _ : state) {
        percentile = map.LevelledPercentile(0.99f);
        benchmark::DoNotOptimize(percentile);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_LevelledPercentile)->Unit(benchmark::kMillisecond)->UseRealTime();

// A new seed every round, so the seamless step, auto levels and the blur all run again.
void BM_ApplySettings(benchmark::State& state)
{
    HeightMap map = MakeMap();
    TextureSettings settings = map.settings;
    settings.seamlessMethod = "Histogram blend";
    settings.autoLevels = true;
    settings.blurMillimetres = 3.0f;
    int seed = 0;
    for (auto _ : state) {
        settings.seamlessParameters = "patches=6\nseed=" + std::to_string(++seed % 1000) + "\n";
        map.ApplySettings(settings);
        benchmark::DoNotOptimize(map.blurred.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_ApplySettings)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
