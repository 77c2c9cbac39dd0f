// Speed of the isotropic remesh and of the flat-area simplification.
// - IsotropicRemesh1M: the closed sphere grid of about 1,000,000 triangles (150 mm across) at
//   the target 0.45 mm, which keeps a similar triangle count (some 840,000 after the round);
//   one round, so the time is the time per round.
// - IsotropicRemesh200k: the 200,000-triangle sphere at 0.483 mm (about the same count),
//   3 rounds: the work against which the remesh is compared with other libraries.
// - IsotropicRemeshPoles199k: a UV sphere of radius 20 mm, 316 bands x 316 segments (199,080
//   triangles, 316 thin ones meeting at each pole), at its mean edge (0.262 mm), 3 rounds: the
//   input whose poles the relaxation used to fold.
// - FlatSimplify4M: a closed box of about 4,000,000 triangles whose six faces are fine
//   grids, as a textured result with large plain areas comes out.
// - FlatSimplifyFanCaps/<segments>: a cylinder (radius 20 mm, height 20 mm) whose caps are
//   fans, one centre joined to every rim vertex, beside a 20 mm cube remeshed isotropically to
//   about 119,000 triangles: vertices of a valence no collapse can accept, next to a surface
//   that needs some 35 sweeps.
// - FlatSimplifyFanCylinder/<segments>: the same fan-capped cylinder alone, so that the time is
//   the time of the two fan centres: it grew with the square of their valence.
// - IsotropicRemeshCylinder/<segments>/<degrees>: the fan-capped cylinder of <segments> side
//   facets, turned <degrees> about x and then about y, at 0.5 mm, one round: the remesh should
//   follow the area, not the facet count, nor the long side facets' slant to the axes.
// Items are input triangles. Thread counts follow the process's CPU set (taskset).
#include "bench/bench_meshes.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

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

const mesh::TriangleMesh& PolesSphere199k()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(20.0f, 316, 316);
    return sphere;
}

float EdgeLength(const mesh::TriangleMesh& mesh, mesh::EdgeKey key)
{
    return mesh::Length(mesh.vertices[key >> 32].position - mesh.vertices[key & 0xFFFFFFFFu].position);
}

float MeanEdgeLength(const mesh::TriangleMesh& mesh)
{
    const std::vector<mesh::EdgeRecord> table = mesh::BuildEdgeTable(mesh);
    double total = 0.0;
    std::size_t edges = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i > 0 && table[i].key == table[i - 1].key)
            continue;
        total += EdgeLength(mesh, table[i].key);
        ++edges;
    }
    return static_cast<float>(total / static_cast<double>(std::max<std::size_t>(edges, 1)));
}

// Smallest corner of each triangle, in degrees.
std::vector<double> SmallestCorners(const mesh::TriangleMesh& mesh)
{
    std::vector<double> corners(mesh.TriangleCount(), 180.0);
    for (std::size_t t = 0; t < corners.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            const mesh::Vec3 p = mesh.vertices[mesh.indices[3 * t + k]].position;
            const mesh::Vec3 u = mesh.vertices[mesh.indices[3 * t + (k + 1) % 3]].position - p;
            const mesh::Vec3 v = mesh.vertices[mesh.indices[3 * t + (k + 2) % 3]].position - p;
            const double lengths = static_cast<double>(mesh::Length(u)) * mesh::Length(v);
            const double cosine = lengths > 0.0 ? std::clamp(mesh::Dot(u, v) / lengths, -1.0, 1.0) : 1.0;
            corners[t] = std::min(corners[t], std::acos(cosine) * 180.0 / 3.14159265358979323846);
        }
    }
    return corners;
}

double FoldedEdgeLength(const mesh::TriangleMesh& mesh)
{
    const std::vector<mesh::EdgeRecord> table = mesh::BuildEdgeTable(mesh);
    double folded = 0.0;
    for (std::size_t i = 0, j = 0; i < table.size(); i = j) {
        for (j = i; j < table.size() && table[j].key == table[i].key;)
            ++j;
        if (j - i == 2 && mesh::Dot(mesh.FaceNormal(table[i].triangle), mesh.FaceNormal(table[i + 1].triangle)) < -0.9f)
            folded += EdgeLength(mesh, table[i].key);
    }
    return folded;
}

// The result's smallest corner (degrees), its share of triangles whose smallest corner is under
// 20 degrees, and the length of its folded edges (mm: edges whose two faces' normals are more
// than 154 degrees apart, dot below -0.9).
void ReportShape(benchmark::State& state, const mesh::TriangleMesh& result)
{
    const std::vector<double> corners = SmallestCorners(result);
    const auto under20 = std::count_if(corners.begin(), corners.end(), [](double c) { return c < 20.0; });
    state.counters["minAngleDeg"] = corners.empty() ? 0.0 : *std::min_element(corners.begin(), corners.end());
    state.counters["under20Share"] =
        corners.empty() ? 0.0 : static_cast<double>(under20) / static_cast<double>(corners.size());
    state.counters["foldedMm"] = FoldedEdgeLength(result);
}

void RunIsotropic(benchmark::State& state, const mesh::TriangleMesh& input, float edge, int rounds)
{
    mesh::RemeshSettings settings;
    settings.method = mesh::RemeshMethod::isotropic;
    settings.targetEdgeMillimetres = edge;
    settings.rounds = rounds;
    mesh::RemeshReport report;
    mesh::TriangleMesh result;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = input;
        state.ResumeTiming();
        report = mesh::Remesh(mesh, settings, {});
        state.PauseTiming();
        result = std::move(mesh);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(input.TriangleCount()));
    state.counters["trianglesOut"] = static_cast<double>(report.trianglesAfter);
    state.counters["deviationMm"] = report.deviationMillimetres;
    for (const mesh::StageTime& stage : report.stageTimes)
        state.counters[stage.name.substr(0, 8)] = stage.milliseconds;
    ReportShape(state, result);
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

void IsotropicRemeshPoles199k(benchmark::State& state)
{
    static const float meanEdge = MeanEdgeLength(PolesSphere199k());
    RunIsotropic(state, PolesSphere199k(), meanEdge, 3);
}
BENCHMARK(IsotropicRemeshPoles199k)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// Simplifies the flat areas of the part `make` builds for the case's argument (built once per
// argument and copied for each iteration).
void RunFlatSimplify(benchmark::State& state, mesh::TriangleMesh (*make)(std::uint32_t),
    std::map<std::int64_t, mesh::TriangleMesh>& inputs)
{
    auto [it, added] = inputs.try_emplace(state.range(0));
    if (added)
        it->second = make(static_cast<std::uint32_t>(state.range(0)));
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

void FlatSimplifyFanCaps(benchmark::State& state)
{
    static std::map<std::int64_t, mesh::TriangleMesh> inputs;
    RunFlatSimplify(state, MakeFanCapsBesideCube, inputs);
}
BENCHMARK(FlatSimplifyFanCaps)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void FlatSimplifyFanCylinder(benchmark::State& state)
{
    static std::map<std::int64_t, mesh::TriangleMesh> inputs;
    RunFlatSimplify(state, MakeFanCapCylinder, inputs);
}
BENCHMARK(FlatSimplifyFanCylinder)->Arg(16000)->Arg(64000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The fan-capped cylinder turned `degrees` about x and then about y.
mesh::TriangleMesh MakeTurnedCylinder(std::uint32_t segments, double degrees)
{
    mesh::TriangleMesh cylinder = MakeFanCapCylinder(segments);
    const double angle = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    for (mesh::MeshVertex& vertex : cylinder.vertices) {
        const double x = vertex.position.x, y = vertex.position.y, z = vertex.position.z;
        const double y1 = c * y - s * z, z1 = s * y + c * z;
        vertex.position = {static_cast<float>(c * x + s * z1), static_cast<float>(y1), static_cast<float>(-s * x + c * z1)};
    }
    cylinder.ComputeBounds();
    cylinder.ComputeVertexNormals();
    return cylinder;
}

void IsotropicRemeshCylinder(benchmark::State& state)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, mesh::TriangleMesh> inputs;
    auto [it, added] = inputs.try_emplace({state.range(0), state.range(1)});
    if (added)
        it->second = MakeTurnedCylinder(static_cast<std::uint32_t>(state.range(0)), static_cast<double>(state.range(1)));
    RunIsotropic(state, it->second, 0.5f, 1);
}
BENCHMARK(IsotropicRemeshCylinder)
    ->Args({96, 0})->Args({96, 30})->Args({5000, 0})->Args({5000, 30})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::bench
