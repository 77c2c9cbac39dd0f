// Speed of the outer-surface classification on the bumpy sphere of about 1,000,000 triangles
// (some 152 mm across): the occupancy grid build (single-threaded: allocation, zeroing and
// rasterisation) and the ray walk of every triangle (the engine's parallel loop), at 256 and
// 512 cells along the longest side. Items are triangles. Beside the time: the grid's filled
// cells, and the share of triangles the walk finds inner (the bumps' deepest valleys). The
// grid build is also timed on 40 mm cones of 96, 960, 2,880 and 5,000 segments at 256 cells:
// their sides are slanted slivers whose boxes hold far more cells than they touch, crowding
// the apex. They mark nearly the same cells at any count, and the time should follow them.
// And on a plate with nine small tubes lying far off, each with a grid of its own.
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

// A plate of 150 x 150 x 5 mm with nine 8 mm tubes of 24 segments lying in a row a metre off:
// every tube gets a grid of its own. Beside the time: the megabytes all grids hold.
void BM_BuildOccupancyGridPiecesApart(benchmark::State& state)
{
    static const mesh::TriangleMesh part = [] {
        mesh::TriangleMesh mesh = MakeSphereGrid(75.0f, 40, 80);
        for (mesh::MeshVertex& vertex : mesh.vertices)
            vertex.position.z *= 5.0f / 150.0f;
        const mesh::TriangleMesh tube = MakeRoundTube(8.0f, 1.5f, 8.0f, 24);
        for (int i = 0; i < 9; ++i) {
            const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
            for (mesh::MeshVertex vertex : tube.vertices) {
                vertex.position.x += 1000.0f + 40.0f * static_cast<float>(i);
                mesh.vertices.push_back(vertex);
            }
            for (const std::uint32_t index : tube.indices)
                mesh.indices.push_back(first + index);
        }
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        return mesh;
    }();
    mesh::OccupancyGrid grid;
    for (auto _ : state) {
        mesh::BuildOccupancyGrid(grid, part, 256);
        benchmark::DoNotOptimize(grid.cells.data());
    }
    if (grid.status != mesh::OccupancyGridStatus::built)
        state.SkipWithError(mesh::FormatOccupancyGrid(grid).c_str());
    std::uint64_t bytes = grid.cells.size();
    for (const mesh::OccupancyGrid& piece : grid.apart)
        bytes += piece.cells.size();
    state.counters["grids"] = static_cast<double>(grid.apart.size() + 1);
    state.counters["megabytes"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(part.TriangleCount()));
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
BENCHMARK(BM_BuildOccupancyGridPiecesApart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClassifyOuterSurface)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
