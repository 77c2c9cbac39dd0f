// Speed of the outer-surface classification on the bumpy sphere of about 1,000,000 triangles
// (some 152 mm across): the occupancy grid build (single-threaded: allocation, zeroing and
// rasterisation) and the ray walk of every triangle (the engine's parallel loop), at 256 and
// 512 cells along the longest side. Items are triangles. Beside the time: the grid's filled
// cells, and the share of triangles the walk finds inner (the bumps' deepest valleys). The
// grid build is also timed on 40 mm cones of 96, 960, 2,880 and 5,000 segments at 256 cells:
// their sides are slanted slivers whose boxes hold far more cells than they touch, crowding
// the apex. They mark nearly the same cells at any count, and the time should follow them.
#include "bench/bench_meshes.h"
#include "engine/displacement/occupancy_grid.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& BumpySphere1M()
{
    static const mesh::TriangleMesh sphere = MakeBumpySphere1M();
    return sphere;
}

void BM_BuildOccupancyGrid(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = BumpySphere1M();
    const auto resolution = static_cast<std::int32_t>(state.range(0));
    mesh::OccupancyGrid grid;
    for (auto _ : state) {
        mesh::BuildOccupancyGrid(grid, sphere, resolution);
        benchmark::DoNotOptimize(grid.cells.data());
    }
    if (grid.status != mesh::OccupancyGridStatus::built)
        state.SkipWithError(mesh::FormatOccupancyGrid(grid).c_str());
    state.counters["filledCells"] = static_cast<double>(grid.filledCells);
    state.counters["cellsX"] = grid.cellsX;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}

void BM_BuildOccupancyGridCone(benchmark::State& state)
{
    const mesh::TriangleMesh cone = MakeCone(40.0f, 40.0f, static_cast<std::uint32_t>(state.range(0)));
    mesh::OccupancyGrid grid;
    for (auto _ : state) {
        mesh::BuildOccupancyGrid(grid, cone, 256);
        benchmark::DoNotOptimize(grid.cells.data());
    }
    if (grid.status != mesh::OccupancyGridStatus::built)
        state.SkipWithError(mesh::FormatOccupancyGrid(grid).c_str());
    state.counters["filledCells"] = static_cast<double>(grid.filledCells);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cone.TriangleCount()));
}

void BM_ClassifyOuterSurface(benchmark::State& state)
{
    const mesh::TriangleMesh& sphere = BumpySphere1M();
    mesh::OccupancyGrid grid;
    mesh::BuildOccupancyGrid(grid, sphere, static_cast<std::int32_t>(state.range(0)));
    if (grid.status != mesh::OccupancyGridStatus::built) {
        state.SkipWithError(mesh::FormatOccupancyGrid(grid).c_str());
        return;
    }
    std::vector<std::uint8_t> classes;
    for (auto _ : state) {
        classes = mesh::ClassifyOuterSurface(grid, sphere);
        benchmark::DoNotOptimize(classes.data());
    }
    const auto inner = std::count(classes.begin(), classes.end(), mesh::kSurfaceInner);
    state.counters["innerShare"] = static_cast<double>(inner) / static_cast<double>(classes.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sphere.TriangleCount()));
}

BENCHMARK(BM_BuildOccupancyGrid)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildOccupancyGridCone)->Arg(96)->Arg(960)->Arg(2880)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClassifyOuterSurface)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
