// Speed of the resting-face search, the export cleanup, the hole filling and the crumb
// removal on meshes of about 1,000,000 triangles: the closed sphere grid, the same sphere with
// small radial noise (a scanned-looking part), a finely divided box (large flat faces) and a
// sheet with a long narrow slit. Beside each time: faces found, holes filled, crumbs removed,
// so a fast but wrong run shows.
#include "bench/bench_meshes.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/placement.h"

#include <benchmark/benchmark.h>

#include <random>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& FineSphere()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

// The sphere with every vertex moved radially by up to 0.05 mm.
const mesh::TriangleMesh& ScannedSphere()
{
    static const mesh::TriangleMesh scanned = [] {
        mesh::TriangleMesh mesh = MakeSphere1M();
        std::mt19937 random(5);
        std::uniform_real_distribution<float> noise(-0.05f / 75.0f, 0.05f / 75.0f);
        for (mesh::MeshVertex& vertex : mesh.vertices)
            vertex.position = vertex.position * (1.0f + noise(random));
        mesh.ComputeBounds();
        return mesh;
    }();
    return scanned;
}

// A 60 mm box whose six faces are each a grid of 289 x 289 quads: 1,002,252 triangles on six
// large flat faces.
const mesh::TriangleMesh& FineBox()
{
    static const mesh::TriangleMesh box = [] {
        constexpr std::uint32_t n = 289;
        mesh::TriangleMesh mesh;
        const mesh::Vec3 axes[6][3] = {
            {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
            {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}},
            {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
        };
        for (const auto& face : axes) {
            const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
            for (std::uint32_t i = 0; i <= n; ++i)
                for (std::uint32_t j = 0; j <= n; ++j) {
                    const float s = -30.0f + 60.0f * static_cast<float>(i) / n;
                    const float t = -30.0f + 60.0f * static_cast<float>(j) / n;
                    mesh.vertices.push_back({face[0] * s + face[1] * t + face[2] * 30.0f, face[2]});
                }
            for (std::uint32_t i = 0; i < n; ++i)
                for (std::uint32_t j = 0; j < n; ++j) {
                    const std::uint32_t p = first + i * (n + 1) + j;
                    mesh.indices.insert(mesh.indices.end(), {p, p + n + 1, p + n + 2, p, p + n + 2, p + 1});
                }
        }
        mesh.ComputeBounds();
        return mesh;
    }();
    return box;
}

void RestingFaces(benchmark::State& state, const mesh::TriangleMesh& source)
{
    std::size_t faces = 0;
    for (auto _ : state) {
        const std::vector<mesh::RestingFace> found = mesh::FindRestingFaces(source, {1.0f, 1.0f, 0.05f});
        faces = found.size();
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["faces"] = static_cast<double>(faces);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.TriangleCount()));
}

void FindRestingFacesFineSphere(benchmark::State& state) { RestingFaces(state, FineSphere()); }
void FindRestingFacesScannedSphere(benchmark::State& state) { RestingFaces(state, ScannedSphere()); }
void FindRestingFacesFineBox(benchmark::State& state) { RestingFaces(state, FineBox()); }
BENCHMARK(FindRestingFacesFineSphere)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FindRestingFacesScannedSphere)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FindRestingFacesFineBox)->Unit(benchmark::kMillisecond)->UseRealTime();

void Cleanup(benchmark::State& state, const mesh::TriangleMesh& source, float tolerance)
{
    mesh::ExportCleanupReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh copy = source;
        state.ResumeTiming();
        report = mesh::CleanupForExport(copy, tolerance, {});
        benchmark::DoNotOptimize(copy.indices.data());
    }
    state.counters["merged"] = static_cast<double>(report.verticesMerged);
    state.counters["zeroAreaLeft"] = static_cast<double>(report.zeroAreaTrianglesLeft);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.TriangleCount()));
}

void CleanupForExportCleanSphere(benchmark::State& state) { Cleanup(state, FineSphere(), 0.001f); }
// A tolerance near the grid's shortest edges (at the poles), so that collapses happen.
void CleanupForExportSphereCollapsing(benchmark::State& state) { Cleanup(state, ScannedSphere(), 0.01f); }
// Each piece's own tolerance, as every caller in the program asks: the piece search on top.
void CleanupForExportCleanSphereOwnTolerances(benchmark::State& state)
{
    Cleanup(state, FineSphere(), mesh::kAutomaticWeldTolerance);
}
BENCHMARK(CleanupForExportCleanSphere)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CleanupForExportCleanSphereOwnTolerances)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CleanupForExportSphereCollapsing)->Unit(benchmark::kMillisecond)->UseRealTime();

// A flat sheet with a slit of `columns` vertices along each side (2 x columns on its rim).
mesh::TriangleMesh SlitSheet(std::uint32_t columns)
{
    const float rowsY[4] = {-5.0f, -0.025f, 0.025f, 5.0f};
    std::vector<float> xs{0.0f};
    for (std::uint32_t i = 0; i < columns; ++i)
        xs.push_back(1.0f + 100.0f * static_cast<float>(i) / static_cast<float>(columns - 1));
    xs.push_back(102.0f);
    const auto width = static_cast<std::uint32_t>(xs.size());
    mesh::TriangleMesh mesh;
    for (const float y : rowsY)
        for (const float x : xs)
            mesh.vertices.push_back({{x, y, 0.0f}, {0, 0, 1}});
    const auto quad = [&](std::uint32_t row, std::uint32_t column) {
        const std::uint32_t p = row * width + column;
        mesh.indices.insert(mesh.indices.end(), {p, p + 1, p + width + 1, p, p + width + 1, p + width});
    };
    for (std::uint32_t column = 0; column + 1 < width; ++column) {
        quad(0, column);
        quad(2, column);
    }
    quad(1, 0);
    quad(1, width - 2);
    return mesh;
}

void FillHoleLoopSlit5000(benchmark::State& state)
{
    const mesh::TriangleMesh sheet = SlitSheet(2500);
    std::uint64_t notSimple = 0;
    const std::vector<mesh::BoundaryLoop> loops = mesh::FindBoundaryLoops(sheet, notSimple);
    const mesh::BoundaryLoop* slit = nullptr;
    for (const mesh::BoundaryLoop& loop : loops)
        slit = loop.width < 0.5f ? &loop : slit;
    if (slit == nullptr) {
        state.SkipWithError("no slit");
        return;
    }
    std::uint64_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh copy = sheet;
        state.ResumeTiming();
        added = mesh::FillHoleLoop(copy, *slit);
    }
    state.counters["rim"] = static_cast<double>(slit->vertices.size());
    state.counters["added"] = static_cast<double>(added);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(slit->vertices.size()));
}
BENCHMARK(FillHoleLoopSlit5000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The sphere with 1,000 tetrahedra of 0.1 mm scattered outside it.
void RemoveCrumbs1M(benchmark::State& state)
{
    static const mesh::TriangleMesh source = [] {
        mesh::TriangleMesh mesh = MakeSphere1M();
        for (int i = 0; i < 1000; ++i) {
            const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
            const mesh::Vec3 at{100.0f + static_cast<float>(i % 10), static_cast<float>(i / 10 % 10),
                                static_cast<float>(i / 100)};
            for (const mesh::Vec3 corner : {mesh::Vec3{0, 0, 0}, {0.1f, 0, 0}, {0, 0.1f, 0}, {0, 0, 0.1f}})
                mesh.vertices.push_back({at + corner, {}});
            mesh.indices.insert(mesh.indices.end(), {first, first + 2, first + 1, first, first + 1, first + 3,
                                                     first + 1, first + 2, first + 3, first, first + 3, first + 2});
        }
        return mesh;
    }();
    std::uint64_t removed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh copy = source;
        state.ResumeTiming();
        removed = mesh::RemoveCrumbs(copy, ~std::uint64_t{0}, nullptr, 0.07408799f);
    }
    state.counters["removed"] = static_cast<double>(removed);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(source.TriangleCount()));
}
BENCHMARK(RemoveCrumbs1M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
