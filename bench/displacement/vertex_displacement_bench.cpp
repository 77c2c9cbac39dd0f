// Speed of the vertex displacement with its clearance guard on a thin-walled part: a hollow
// sphere of radius 40 mm with a 2 mm wall, its outer and inner surfaces UV grids of about
// 1,000,000 vertices each (cells some 0.18 mm square at the equator, as a remesh to that size
// gives): 2 smooth regions, so the tree is built and every textured vertex queries its clearance.
// Items are vertices. The relief is a smooth 256 x 256 pattern on 10 mm tiles through a box
// projection fitted round the part; every vertex carries texture.
//
// "Relief" moves up to 0.3 mm each way, well within the clearance; "HeldWalls" moves up to
// 1 mm, so moves are cut short by the clearance and inward moves that would leave less than
// 0.42 mm of wall are held. Counters give what the guards did and the stage times of the last
// run; under "Relief" nearly every triangle moves and none crosses, so its "Crossing guard"
// time is the crossing search's cost where it finds nothing.
#include "bench/bench_meshes.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/vertex_displacement.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& HollowSphere2M()
{
    static const mesh::TriangleMesh part = [] {
        mesh::TriangleMesh outer = MakeSphereGrid(40.0f, 708, 1414);
        const mesh::TriangleMesh inner = MakeSphereGrid(38.0f, 708, 1414);
        const auto shift = static_cast<std::uint32_t>(outer.vertices.size());
        outer.vertices.insert(outer.vertices.end(), inner.vertices.begin(), inner.vertices.end());
        // The cavity's surface faces into it: each inner triangle with its winding reversed.
        for (std::size_t t = 0; t < inner.indices.size(); t += 3)
            outer.indices.insert(outer.indices.end(),
                {inner.indices[t] + shift, inner.indices[t + 2] + shift, inner.indices[t + 1] + shift});
        outer.ComputeBounds();
        outer.ComputeVertexNormals();
        return outer;
    }();
    return part;
}

mesh::HeightMap SmoothPattern()
{
    const int size = 256;
    std::vector<float> pixels(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double u = 2.0 * 3.14159265358979 * x / size, v = 2.0 * 3.14159265358979 * y / size;
            pixels[static_cast<std::size_t>(y) * size + x] =
                static_cast<float>(0.5 + 0.3 * std::sin(3 * u) * std::cos(2 * v) + 0.2 * std::sin(7 * u + 5 * v));
        }
    }
    mesh::HeightMap map;
    map.settings.widthMillimetres = 10.0f;
    map.SetImage(size, size, std::move(pixels));
    return map;
}

void DisplaceHollowSphere(benchmark::State& state, float strength, bool holdThinWalls)
{
    const mesh::TriangleMesh& part = HollowSphere2M();
    const mesh::HeightMap map = SmoothPattern();
    const mesh::Projection projection =
        mesh::FitCageToBounds(mesh::ProjectionKind::Box, {part.boundsMin, part.boundsMax, 1}, 0.05f);
    const std::vector<float> weights(part.vertices.size(), 1.0f);
    mesh::DisplacementSettings settings;
    settings.method = mesh::DisplacementMethod::mesh;
    settings.strengthMillimetres = strength;
    settings.holdThinWalls = holdThinWalls;
    mesh::TriangleMesh mesh;
    mesh::DisplacementReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh = part;
        state.ResumeTiming();
        report = mesh::ApplyDisplacement(mesh, projection, map, weights, settings, nullptr, mesh::TileFrame{});
        benchmark::DoNotOptimize(mesh.vertices.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(part.vertices.size()));
    state.counters["displaced"] = static_cast<double>(report.displacedVertices);
    state.counters["cut"] = static_cast<double>(report.cutByClearance);
    state.counters["held"] = static_cast<double>(report.heldForWalls);
    state.counters["folded"] = static_cast<double>(report.foldedTriangles);
    state.counters["crossingsMade"] = static_cast<double>(report.crossingPairsMade);
    for (const mesh::StageTime& stage : report.stageTimes)
        state.counters[stage.name + " ms"] = stage.milliseconds;
}

void BM_Relief(benchmark::State& state) { DisplaceHollowSphere(state, 0.6f, false); }
void BM_HeldWalls(benchmark::State& state) { DisplaceHollowSphere(state, 2.0f, true); }

BENCHMARK(BM_Relief)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HeldWalls)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
