// Speed of the isotropic remesh and of the flat-area simplification.
// - IsotropicRemesh1M: the closed sphere grid of about 1,000,000 triangles (150 mm across) at
//   the target 0.45 mm, which keeps about the same triangle count (some 920,000 after the
//   round); one round, so the time is the time per round.
// - IsotropicRemesh200k: the 200,000-triangle sphere at 0.483 mm (about the same count),
//   3 rounds: the work against which the remesh is compared with other libraries.
// - FlatSimplify4M: a closed box of about 4,000,000 triangles whose six faces are fine
//   grids, as a textured result with large plain areas comes out.
// Items are input triangles. Thread counts follow the process's CPU set (taskset).
#include "bench/bench_meshes.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh.h"

#include <benchmark/benchmark.h>

#include <unordered_map>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere1M()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

const mesh::TriangleMesh& Sphere200k()
{
    static const mesh::TriangleMesh sphere = MakeSphere200k();
    return sphere;
}

// A closed cube of edge n x 0.1 mm whose every face is an n x n grid of squares, two triangles
// each: 12 n^2 triangles, welded, outward.
mesh::TriangleMesh MakeGriddedBox(std::uint32_t n)
{
    mesh::TriangleMesh box;
    std::unordered_map<std::uint64_t, std::uint32_t> lattice;
    const auto vertex = [&](std::uint32_t i, std::uint32_t j, std::uint32_t k) {
        const std::uint64_t key = (std::uint64_t{i} << 42) | (std::uint64_t{j} << 21) | k;
        const auto [it, added] = lattice.try_emplace(key, static_cast<std::uint32_t>(box.vertices.size()));
        if (added)
            box.vertices.push_back({{i * 0.1f, j * 0.1f, k * 0.1f}, {}});
        return it->second;
    };
    for (int axis = 0; axis < 3; ++axis) {
        for (std::uint32_t side : {0u, n}) {
            for (std::uint32_t u = 0; u < n; ++u) {
                for (std::uint32_t v = 0; v < n; ++v) {
                    std::uint32_t q[4];
                    const std::uint32_t us[4] = {u, u + 1, u + 1, u};
                    const std::uint32_t vs[4] = {v, v, v + 1, v + 1};
                    for (int c = 0; c < 4; ++c) {
                        std::uint32_t p[3];
                        p[axis] = side;
                        p[(axis + 1) % 3] = us[c];
                        p[(axis + 2) % 3] = vs[c];
                        q[c] = vertex(p[0], p[1], p[2]);
                    }
                    // (axis+1) x (axis+2) points along +axis: keep that order on the far side.
                    if (side == n)
                        box.indices.insert(box.indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
                    else
                        box.indices.insert(box.indices.end(), {q[0], q[2], q[1], q[0], q[3], q[2]});
                }
            }
        }
    }
    box.ComputeBounds();
    box.ComputeVertexNormals();
    return box;
}

const mesh::TriangleMesh& GriddedBox4M()
{
    static const mesh::TriangleMesh box = MakeGriddedBox(577);  // 3,995,148 triangles
    return box;
}

void RunIsotropic(benchmark::State& state, const mesh::TriangleMesh& input, float edge, int rounds)
{
    mesh::RemeshSettings settings;
    settings.method = mesh::RemeshMethod::isotropic;
    settings.targetEdgeMillimetres = edge;
    settings.rounds = rounds;
    mesh::RemeshReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = input;
        state.ResumeTiming();
        report = mesh::Remesh(mesh, settings, {});
        state.PauseTiming();
        mesh = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(input.TriangleCount()));
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
    state.counters["deviationMm"] = report.deviationMillimetres;
    for (const mesh::StageTime& stage : report.stageTimes)
        state.counters[stage.name.substr(0, 8)] = stage.milliseconds;
}

void IsotropicRemesh1M(benchmark::State& state)
{
    RunIsotropic(state, Sphere1M(), 0.45f, 1);
}
BENCHMARK(IsotropicRemesh1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void IsotropicRemesh200k(benchmark::State& state)
{
    RunIsotropic(state, Sphere200k(), 0.483f, 3);
}
BENCHMARK(IsotropicRemesh200k)->Unit(benchmark::kMillisecond)->UseRealTime();

void FlatSimplify4M(benchmark::State& state)
{
    const mesh::TriangleMesh& input = GriddedBox4M();
    mesh::FlatSimplifyReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = input;
        state.ResumeTiming();
        report = mesh::SimplifyFlatAreas(mesh, nullptr, mesh::SimplifySettings{}, {});
        state.PauseTiming();
        mesh = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(input.TriangleCount()));
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
    state.counters["sweeps"] = static_cast<double>(report.sweeps);
    state.counters["guaranteeHeld"] = mesh::NoMovementGuaranteeHeld(report) ? 1.0 : 0.0;
}
BENCHMARK(FlatSimplify4M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
