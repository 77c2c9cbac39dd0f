// Image loading, normal-map integration and pattern rendering. Throughput is in pixels per
// second; the loaded and integrated results' sizes are shown beside the time. The load at the
// height-map pixel limit also reports the process's peak resident memory during the load.
#include "engine/textures/image_loading.h"
#include "engine/textures/normal_map.h"
#include "engine/textures/procedural_registry.h"

#include "bench/bench_images.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace grainforge::mesh;
using grainforge::bench::WriteWavePng;

constexpr int kPngSide = 4096;

void BM_ReadHeightImagePng16(benchmark::State& state)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tessary_bench_4096_16bit.png";
    if (!WriteWavePng(path, kPngSide)) {
        state.SkipWithError("could not write the PNG");
        return;
    }
    ImageLoadResult result;
    for (auto _ : state) {
        result = ReadHeightImage(path, {});
        benchmark::DoNotOptimize(result.heights.data());
    }
    std::filesystem::remove(path);
    if (!result.ok)
        state.SkipWithError(result.error.c_str());
    state.SetItemsProcessed(state.iterations() * std::int64_t{kPngSide} * kPngSide);
    state.counters["bits"] = result.bitsPerChannel;
    state.counters["side"] = result.width;
}
BENCHMARK(BM_ReadHeightImagePng16)->Unit(benchmark::kMillisecond)->UseRealTime();

// An 8192 x 8192 16-bit grey PNG, the largest height map accepted. "peak_MiB" is the process's
// peak resident memory during the last load less what it held before it: the heights (256 MiB)
// and what decoding needs beside them.
void BM_ReadHeightImageAtThePixelLimit(benchmark::State& state)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tessary_bench_limit_16bit.png";
    if (!WriteWavePng(path, kMaxHeightMapSquareSide, 1)) {
        state.SkipWithError("could not write the PNG");
        return;
    }
    ImageLoadResult result;
    double peak = 0.0;
    for (auto _ : state) {
        result = ImageLoadResult{};
        const grainforge::bench::PeakResident resident;
        result = ReadHeightImage(path, {});
        benchmark::DoNotOptimize(result.heights.data());
        peak = resident.AddedMebibytes();
    }
    std::filesystem::remove(path);
    if (!result.ok)
        state.SkipWithError(result.error.c_str());
    state.SetItemsProcessed(state.iterations() * std::int64_t{result.width} * result.height);
    state.counters["side"] = result.width;
    state.counters["heights_MiB"] = static_cast<double>(result.heights.size() * sizeof(float)) / (1 << 20);
    state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_ReadHeightImageAtThePixelLimit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Normals of a periodic wave field at the given size.
std::vector<float> WaveNormals(int side)
{
    std::vector<float> rgb(static_cast<std::size_t>(side) * side * 3);
    const double k = 2 * std::numbers::pi * 3 / side;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double hx = 20 * k * std::cos(k * x) * std::cos(2 * k * y);
            const double hy = -40 * k * std::sin(k * x) * std::sin(2 * k * y);
            const double length = std::sqrt(hx * hx + hy * hy + 1);
            float* p = rgb.data() + (static_cast<std::size_t>(y) * side + x) * 3;
            p[0] = static_cast<float>((-hx / length + 1) * 0.5);
            p[1] = static_cast<float>((-hy / length + 1) * 0.5);
            p[2] = static_cast<float>((1 / length + 1) * 0.5);
        }
    return rgb;
}

void BM_HeightFromNormalMap(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const std::vector<float> rgb = WaveNormals(side);
    NormalMapResult result;
    for (auto _ : state) {
        result = HeightFromNormalMap(rgb, side, side, false);
        benchmark::DoNotOptimize(result.heights.data());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{side} * side);
    state.counters["grid"] = result.width;
}
BENCHMARK(BM_HeightFromNormalMap)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderPattern(benchmark::State& state, const char* name)
{
    const std::unique_ptr<procedural::ProceduralTexture> pattern = procedural::CreateProceduralTexture(name);
    constexpr int kSide = 1024;
    std::vector<float> image;
    for (auto _ : state) {
        image = pattern->RenderImage(kSide, kSide);
        benchmark::DoNotOptimize(image.data());
    }
    double mean = 0;
    for (float h : image)
        mean += h;
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
    state.counters["mean"] = mean / static_cast<double>(image.size());
}
BENCHMARK_CAPTURE(BM_RenderPattern, Noise, "Noise")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPattern, Wood, "Wood")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPattern, Bricks, "Bricks")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPattern, Cells, "Cells")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
