// The renderer on Mesa's llvmpipe (EGL surfaceless, no display) at 1280 x 720: uploading a
// 1,000,000-triangle sphere (the corner expansion included) and drawing frames of 1,000,000 and
// 4,000,000 triangles. Run it on two cores and on all:
//
//   LP_NUM_THREADS=2 taskset -c 0,1 view_bench     and     view_bench
//
// Goals on two cores: upload under 1.5 s, a frame under 150 ms (1M) and 600 ms (4M). Frame
// times vary with what else the machine does, so the median of the frames is reported beside
// Google Benchmark's mean ("median_ms"); a frame ends with glFinish, so it is the whole frame.
#include "app/view/display_colours.h"
#include "app/view/renderer/gl_renderer.h"
#include "app/view/view_rules.h"
#include "bench/bench_images.h"
#include "bench/bench_meshes.h"
#include "engine/textures/image_loading.h"
#include "platform/gl/headless_gl_surface.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace grainforge;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// One context for the whole program, made on first use.
struct BenchContext {
    std::unique_ptr<gl::HeadlessGlSurface> surface;
    std::unique_ptr<gl::GlRenderer> renderer;
};

gl::GlRenderer* Renderer(benchmark::State& state)
{
    static BenchContext context = [] {
        BenchContext made;
        std::string error;
        made.surface = gl::HeadlessGlSurface::Create(kWidth, kHeight, error);
        if (made.surface == nullptr) {
            std::fprintf(stderr, "view_bench: %s\n", error.c_str());
            return made;
        }
        made.renderer = std::make_unique<gl::GlRenderer>();
        if (!made.renderer->Initialise(made.surface.get())) {
            std::fprintf(stderr, "view_bench: %s\n", made.renderer->LastError().c_str());
            made.renderer.reset();
            return made;
        }
        std::fprintf(stderr, "view_bench: %s\n", made.renderer->VersionText().c_str());
        made.renderer->view.width = kWidth;
        made.renderer->view.height = kHeight;
        return made;
    }();
    if (context.renderer == nullptr)
        state.SkipWithError("no OpenGL 3.3 context");
    return context.renderer.get();
}

// 998,000 triangles (radius 75 mm), or 4,001,620 (1415 bands and segments).
const mesh::TriangleMesh& Sphere(std::int64_t millions)
{
    static std::map<std::int64_t, mesh::TriangleMesh> spheres;
    auto found = spheres.find(millions);
    if (found == spheres.end())
        found = spheres.emplace(millions, millions == 1 ? bench::MakeSphere1M()
                                                        : bench::MakeSphereGrid(75.0f, 1415, 1415)).first;
    return found->second;
}

// A planar projection of every vertex and a 1024 x 1024 height map of waves, as a textured
// part shows it.
gl::RenderAttributes PlanarAttributes(const mesh::TriangleMesh& mesh)
{
    gl::RenderAttributes attributes;
    attributes.vertexProjected.reserve(mesh.vertices.size());
    for (const mesh::MeshVertex& v : mesh.vertices)
        attributes.vertexProjected.push_back({v.position.x, v.position.y});
    attributes.vertexMask.assign(mesh.vertices.size(), 1.0f);
    return attributes;
}

mesh::HeightMap Waves()
{
    constexpr int kSide = 1024;
    std::vector<float> pixels(static_cast<std::size_t>(kSide) * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            pixels[static_cast<std::size_t>(y) * kSide + static_cast<std::size_t>(x)] =
                0.5f + 0.5f * std::sin(0.05f * static_cast<float>(x)) * std::cos(0.07f * static_cast<float>(y));
    mesh::HeightMap map;
    map.settings.lockAspect = false;
    map.settings.widthMillimetres = 20.0f;
    map.settings.heightMillimetres = 20.0f;
    map.SetImage(kSide, kSide, std::move(pixels));
    return map;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_UploadSphere1M(benchmark::State& state)
{
    gl::GlRenderer* renderer = Renderer(state);
    if (renderer == nullptr)
        return;
    const mesh::TriangleMesh& sphere = Sphere(1);
    const gl::RenderAttributes attributes = PlanarAttributes(sphere);
    std::vector<double> seconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!renderer->UploadMesh(sphere, &attributes, true)) {
            state.SkipWithError(renderer->LastError().c_str());
            return;
        }
        glFinish();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["median_ms"] = Median(seconds) * 1000.0;
    state.counters["triangles"] = static_cast<double>(sphere.TriangleCount());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(BM_UploadSphere1M)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Arguments: millions of triangles, surface mode (0 plain, 3 height map).
void BM_Frame(benchmark::State& state)
{
    gl::GlRenderer* renderer = Renderer(state);
    if (renderer == nullptr)
        return;
    const mesh::TriangleMesh& sphere = Sphere(state.range(0));
    const gl::RenderAttributes attributes = PlanarAttributes(sphere);
    if (!renderer->UploadMesh(sphere, &attributes, true) || !renderer->UploadHeightTexture(Waves())) {
        state.SkipWithError(renderer->LastError().c_str());
        return;
    }
    renderer->view.surfaceMode = static_cast<int>(state.range(1));
    renderer->view.shadingMode = 0;
    renderer->DrawFrame();  // the first frame compiles the shader variants
    std::vector<double> frames;
    for (auto _ : state) {
        renderer->DrawFrame();
        frames.push_back(renderer->Statistics().frameMilliseconds);
    }
    state.counters["median_ms"] = Median(frames);
    state.counters["triangles"] = static_cast<double>(sphere.TriangleCount());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}
BENCHMARK(BM_Frame)
    ->ArgsProduct({{1, 4}, {0, 3}})
    ->ArgNames({"Mtri", "surface"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15)
    ->UseRealTime();

// What the view does between a finished Process of a 1,000,000-triangle result and the first
// frame that shows it, in the plain surface mode: the colour list, the per-corner projection of
// the box mapping, the corner expansion and upload with the document's corner mask, and one
// frame (ended by glFinish). Goal: under 2 s on two cores.
void BM_ProcessedResultToFirstFrame(benchmark::State& state)
{
    gl::GlRenderer* renderer = Renderer(state);
    if (renderer == nullptr)
        return;
    static const mesh::TriangleMesh result = bench::MakeBumpySphere1M();
    const mesh::Projection frames = mesh::BuildTileFrames(mesh::InitProjection(), mesh::TextureSettings{});
    const std::vector<float> cornerMask(result.indices.size(), 1.0f);
    renderer->view.surfaceMode = 0;
    std::vector<double> seconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        app::DisplayColourInputs in;
        in.mesh = &result;
        gl::RenderAttributes attributes;
        attributes.triangleColours = app::BuildDisplayColours(in);
        attributes.cornerProjected = app::ComputeDisplayProjection(result, frames);
        attributes.cornerMask = cornerMask;
        if (!renderer->UploadMesh(result, &attributes, true)) {
            state.SkipWithError(renderer->LastError().c_str());
            return;
        }
        renderer->DrawFrame();
        glFinish();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["median_ms"] = Median(seconds) * 1000.0;
    state.counters["triangles"] = static_cast<double>(result.TriangleCount());
}
BENCHMARK(BM_ProcessedResultToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The display's share of a texture at the pixel limit (8192 x 8192, 256 MiB of floats): what
// uploading the document's map takes beside the map, as the two refreshes of a load upload it
// twice. "copies" is the peak over the map's size.
void BM_UploadHeightTextureAtThePixelLimit(benchmark::State& state)
{
    gl::GlRenderer* renderer = Renderer(state);
    if (renderer == nullptr)
        return;
    const auto side = static_cast<std::size_t>(mesh::kMaxHeightMapSquareSide);
    std::vector<float> pixels(side * side);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0.5f + 0.5f * std::sin(0.05f * static_cast<float>(i % side)) * std::cos(0.07f * static_cast<float>(i / side));
    mesh::HeightMap map;
    map.SetImage(static_cast<std::int32_t>(side), static_cast<std::int32_t>(side), std::move(pixels));
    double peak = 0.0;
    for (auto _ : state) {
        const bench::PeakResident resident;
        for (int upload = 0; upload < 2; ++upload)
            if (!renderer->UploadHeightTexture(map)) {
                state.SkipWithError("the driver refused the texture");
                return;
            }
        glFinish();
        peak = resident.AddedMebibytes();
    }
    const double mapMebibytes = static_cast<double>(side * side * sizeof(float)) / (1 << 20);
    state.counters["peak_MiB"] = peak;
    state.counters["copies"] = peak / mapMebibytes;
}
BENCHMARK(BM_UploadHeightTextureAtThePixelLimit)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
