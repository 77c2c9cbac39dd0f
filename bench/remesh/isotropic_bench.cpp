// Speed of the isotropic remesh and of the flat-area simplification.
// - IsotropicRemesh1M: the closed sphere grid of about 1,000,000 triangles (150 mm across) at
//   the target 0.45 mm, which keeps about the same triangle count (some 920,000 after the
//   round); one round, so the time is the time per round.
// - IsotropicRemesh200k: the 200,000-triangle sphere at 0.483 mm (about the same count),
//   3 rounds: the work against which the remesh is compared with other libraries.
// - FlatSimplify4M: a closed box of about 4,000,000 triangles whose six faces are fine
//   grids, as a textured result with large plain areas comes out.
// - FlatSimplifyFanCaps/<segments>: a cylinder (radius 20 mm, height 20 mm) whose caps are
//   fans, one centre joined to every rim vertex, beside a 20 mm cube remeshed isotropically to
//   about 119,000 triangles: vertices of a valence no collapse can accept, next to a surface
//   that needs some 35 sweeps.
// Items are input triangles. Thread counts follow the process's CPU set (taskset).
#include "bench/bench_meshes.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
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

// A closed cylinder along z, radius 20 mm and height 20 mm, of `segments` side quads split in
// two; each cap is a fan from its centre, so both centres have `segments` neighbours.
mesh::TriangleMesh MakeFanCapCylinder(std::uint32_t segments)
{
    mesh::TriangleMesh cylinder;
    cylinder.vertices.push_back({{0.0f, 0.0f, 0.0f}, {}});
    cylinder.vertices.push_back({{0.0f, 0.0f, 20.0f}, {}});
    for (std::uint32_t i = 0; i < segments; ++i) {
        const double angle = 6.283185307179586 * i / segments;
        const float x = static_cast<float>(20.0 * std::cos(angle));
        const float y = static_cast<float>(20.0 * std::sin(angle));
        cylinder.vertices.push_back({{x, y, 0.0f}, {}});
        cylinder.vertices.push_back({{x, y, 20.0f}, {}});
    }
    for (std::uint32_t i = 0; i < segments; ++i) {
        const std::uint32_t b0 = 2 + 2 * i;
        const std::uint32_t b1 = 2 + 2 * ((i + 1) % segments);
        cylinder.indices.insert(cylinder.indices.end(),
            {0, b1, b0, 1, b0 + 1, b1 + 1, b0, b1, b1 + 1, b0, b1 + 1, b0 + 1});
    }
    cylinder.ComputeBounds();
    cylinder.ComputeVertexNormals();
    return cylinder;
}

// The 20 mm cube remeshed at 0.212 mm (118,914 triangles today; the count follows the remesh),
// 50 mm along x, clear of the cylinder.
const mesh::TriangleMesh& RemeshedCube119k()
{
    static const mesh::TriangleMesh cube = [] {
        mesh::TriangleMesh mesh = mesh::MakeTestCube(20.0f);
        mesh::RemeshSettings settings;
        settings.method = mesh::RemeshMethod::isotropic;
        settings.targetEdgeMillimetres = 0.212f;
        static_cast<void>(mesh::Remesh(mesh, settings, {}));
        for (mesh::MeshVertex& vertex : mesh.vertices)
            vertex.position.x += 50.0f;
        mesh.ComputeBounds();
        return mesh;
    }();
    return cube;
}

// The fan-cap cylinder and the remeshed cube in one mesh.
mesh::TriangleMesh MakeFanCapsBesideCube(std::uint32_t segments)
{
    mesh::TriangleMesh both = MakeFanCapCylinder(segments);
    const mesh::TriangleMesh& cube = RemeshedCube119k();
    const auto shift = static_cast<std::uint32_t>(both.vertices.size());
    both.vertices.insert(both.vertices.end(), cube.vertices.begin(), cube.vertices.end());
    for (std::uint32_t index : cube.indices)
        both.indices.push_back(index + shift);
    both.ComputeBounds();
    return both;
}

void FlatSimplifyFanCaps(benchmark::State& state)
{
    static std::map<std::int64_t, mesh::TriangleMesh> inputs;
    auto [it, added] = inputs.try_emplace(state.range(0));
    if (added)
        it->second = MakeFanCapsBesideCube(static_cast<std::uint32_t>(state.range(0)));
    const mesh::TriangleMesh& input = it->second;
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
    state.counters["trianglesIn"] = static_cast<double>(input.TriangleCount());
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
    state.counters["sweeps"] = static_cast<double>(report.sweeps);
    state.counters["guaranteeHeld"] = mesh::NoMovementGuaranteeHeld(report) ? 1.0 : 0.0;
}
BENCHMARK(FlatSimplifyFanCaps)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
