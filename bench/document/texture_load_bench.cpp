// A texture loaded through the document as Load From Disk loads it, at the largest size
// accepted: an 8192 x 8192 16-bit grey PNG, a map of 256 MiB (width x height floats). The 20 mm
// test cube is the part, so that the load is recorded in the undo history and handed to the
// pipeline as in the program; no window is made. Each step reports "peak_MiB", the process's
// peak resident memory during it less what the process held before it, and "copies", that
// peak over the map's size. Run one case per process (--benchmark_filter) for figures that
// owe nothing to an earlier case.
//
//   Load/plain     the load with the document's default settings (no seamless step, no blur)
//   Load/blurred   the same with a 0.5 mm blur and auto levels on
//   UndoRedo       undoing the load (back to no texture) and redoing it
//   Process        a whole Process of the cube with the loaded texture
#include "app/document/grainforge_doc.h"
#include "bench/bench_images.h"
#include "engine/textures/image_loading.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace grainforge::bench {
namespace {

constexpr double kMapMebibytes =
    static_cast<double>(mesh::kMaxHeightMapPixels) * sizeof(float) / (1 << 20);

// The PNG at the pixel limit, written once for every case and removed at exit; empty when it
// could not be written.
struct LimitPngFile {
    std::filesystem::path path = std::filesystem::temp_directory_path() / "tessary_bench_document_limit.png";
    bool written = WriteWavePng(path, mesh::kMaxHeightMapSquareSide, 1);
    ~LimitPngFile()
    {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

std::filesystem::path LimitPng()
{
    static const LimitPngFile file;
    return file.written ? file.path : std::filesystem::path();
}

// A document without windows holding the test cube, its surface grid kept coarse.
std::unique_ptr<app::CGrainforgeDoc> DocumentWithCube()
{
    auto doc = std::make_unique<app::CGrainforgeDoc>();
    doc->surfaceTestCells = 32;
    doc->OnFileTestShapeCube();
    return doc;
}

void Report(benchmark::State& state, double peak)
{
    state.counters["peak_MiB"] = peak;
    state.counters["map_MiB"] = kMapMebibytes;
    state.counters["copies"] = peak / kMapMebibytes;
}

void BM_Load(benchmark::State& state, bool blurred)
{
    if (LimitPng().empty()) {
        state.SkipWithError("could not write the PNG");
        return;
    }
    double peak = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<app::CGrainforgeDoc> doc = DocumentWithCube();
        if (blurred) {
            doc->heightMap.settings.blurMillimetres = 0.5f;
            doc->heightMap.settings.autoLevels = true;
        }
        state.ResumeTiming();
        const PeakResident resident;
        if (!doc->LoadHeightMap(LimitPng()))
            state.SkipWithError("the document did not load the PNG");
        peak = resident.AddedMebibytes();
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    Report(state, peak);
}
BENCHMARK_CAPTURE(BM_Load, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Load, blurred, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The cube with the image at the pixel limit loaded, or nothing with the reason given to `state`.
std::unique_ptr<app::CGrainforgeDoc> DocumentWithLimitTexture(benchmark::State& state)
{
    if (LimitPng().empty()) {
        state.SkipWithError("could not write the PNG");
        return nullptr;
    }
    std::unique_ptr<app::CGrainforgeDoc> doc = DocumentWithCube();
    if (!doc->LoadHeightMap(LimitPng())) {
        state.SkipWithError("the document did not load the PNG");
        return nullptr;
    }
    return doc;
}

void BM_UndoRedo(benchmark::State& state)
{
    const std::unique_ptr<app::CGrainforgeDoc> doc = DocumentWithLimitTexture(state);
    if (!doc)
        return;
    double peak = 0.0;
    for (auto _ : state) {
        const PeakResident resident;
        doc->OnEditUndo();
        doc->OnEditRedo();
        peak = resident.AddedMebibytes();
    }
    if (!doc->IsHeightMapLoaded())
        state.SkipWithError("the redo did not bring the texture back");
    Report(state, peak);
}
BENCHMARK(BM_UndoRedo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Process(benchmark::State& state)
{
    const std::unique_ptr<app::CGrainforgeDoc> doc = DocumentWithLimitTexture(state);
    if (!doc)
        return;
    double peak = 0.0;
    for (auto _ : state) {
        const PeakResident resident;
        doc->RequestProcess();
        doc->RunPipelineNow();
        peak = resident.AddedMebibytes();
    }
    state.counters["triangles"] = static_cast<double>(doc->runReport.resultTriangles);
    Report(state, peak);
}
BENCHMARK(BM_Process)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace grainforge::bench
