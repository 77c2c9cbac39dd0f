// What the view does on the user-interface thread between a finished Process of a result of
// about 1,000,000 triangles and its first frame, short of the driver upload: the colourings of
// each display mode, the reduced copy of the display limit and of a refused upload, and the
// renderer's corner expansion that every upload goes through. Items are source triangles.
// Run under `taskset -c 0,1` for the two-core figure.
#include "app/view/display_colours.h"
#include "app/view/display_reduction.h"
#include "app/view/display_section.h"
#include "app/view/renderer/render_vertex.h"
#include "bench/bench_meshes.h"

#include <benchmark/benchmark.h>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Result1M()
{
    static const mesh::TriangleMesh result = MakeBumpySphere1M();
    return result;
}

void Finish(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Result1M().TriangleCount()));
}

// Surface mode 2: one projection mapping per triangle.
void BM_ProjectorColours(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    const mesh::Projection projection = mesh::InitProjection();
    for (auto _ : state)
        benchmark::DoNotOptimize(app::ProjectorColours(result, projection));
    Finish(state);
}
BENCHMARK(BM_ProjectorColours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComponentColours(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    const std::vector<std::uint32_t> components(result.TriangleCount(), 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(app::ComponentColours(components, result.TriangleCount()));
    Finish(state);
}
BENCHMARK(BM_ComponentColours)->Unit(benchmark::kMillisecond)->UseRealTime();

// Section mode 3: the tree over the part as loaded (the smooth sphere here) and four nearest
// queries per shown triangle.
void BM_DeviationColours(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    static const mesh::TriangleMesh part = MakeSphere1M();
    app::DisplayColourInputs in;
    in.mesh = &result;
    in.sectionMode = 3;
    in.workingPart = &part;
    for (auto _ : state)
        benchmark::DoNotOptimize(app::BuildDisplayColours(in));
    Finish(state);
}
BENCHMARK(BM_DeviationColours)->Unit(benchmark::kMillisecond)->UseRealTime();

// The display limit's copy (budget 100,000) and the first copy after a refusal (half).
void BM_ReducedCopy(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    const auto budget = static_cast<std::uint64_t>(state.range(0));
    std::size_t shown = 0;
    for (auto _ : state) {
        const app::ReducedDisplayCopy copy = app::MakeReducedDisplayCopy(result, budget);
        benchmark::DoNotOptimize(app::ReducedCopyColours(copy, {}, result.TriangleCount()));
        shown = copy.mesh.TriangleCount();
    }
    state.counters["shown"] = static_cast<double>(shown);
    Finish(state);
}
BENCHMARK(BM_ReducedCopy)->Arg(100000)->Arg(500000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The host side of every upload: the unshared corners with their colours.
void BM_ExpandCornersWithColours(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    gl::RenderAttributes attributes;
    attributes.triangleColours = app::ProjectorColours(result, mesh::InitProjection());
    for (auto _ : state)
        benchmark::DoNotOptimize(gl::ExpandCorners(result, &attributes));
    Finish(state);
}
BENCHMARK(BM_ExpandCornersWithColours)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain surface mode from a finished Process to the renderer's buffers: no colour list, the
// corner expansion.
void BM_PlainFirstFrameHostWork(benchmark::State& state)
{
    const mesh::TriangleMesh& result = Result1M();
    app::DisplayColourInputs in;
    in.mesh = &result;
    for (auto _ : state) {
        gl::RenderAttributes attributes;
        attributes.triangleColours = app::BuildDisplayColours(in);
        benchmark::DoNotOptimize(gl::ExpandCorners(result, &attributes));
    }
    Finish(state);
}
BENCHMARK(BM_PlainFirstFrameHostWork)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench

namespace grainforge::bench {
namespace {

// The deviation's parts: the tree alone.
void BM_DeviationTree(benchmark::State& state)
{
    static const mesh::TriangleMesh part = MakeSphere1M();
    for (auto _ : state) {
        mesh::AabbTree tree;
        tree.Build(part);
        tree.KeepCorners(part);
        benchmark::DoNotOptimize(tree);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(part.TriangleCount()));
}
BENCHMARK(BM_DeviationTree)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
