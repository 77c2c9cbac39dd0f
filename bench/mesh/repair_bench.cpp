// Speed of the detail-level simplifier, the repair job and the repair driver: SimplifyMesh of
// the 1,000,000-triangle sphere to "Medium"; RepairForPrint on the same clean sphere (it must
// give it back untouched); RepairMesh on a 100,000-triangle sphere pierced by small cubes
// (about a hundred self-intersecting triangles); and RepairMesh on two copies of that sphere
// laid over each other, exactly and 0.3 mm apart. Beside each time: the triangles left and the
// intersections before and after, so a fast but wrong run shows.
#include "bench/bench_meshes.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/repair/repair_driver.h"
#include "engine/repair/repair_job.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& FineSphere()
{
    static const mesh::TriangleMesh sphere = MakeSphere1M();
    return sphere;
}

// 2 x 316 x 158 = 99,856 triangles, radius 40 mm: edges of about 0.8 mm.
mesh::TriangleMesh MakeSphere100k() { return MakeSphereGrid(40.0f, 159, 316); }

void Append(mesh::TriangleMesh& to, const mesh::TriangleMesh& from, mesh::Vec3 offset)
{
    const auto base = static_cast<std::uint32_t>(to.vertices.size());
    for (mesh::MeshVertex vertex : from.vertices) {
        vertex.position += offset;
        to.vertices.push_back(vertex);
    }
    for (const std::uint32_t index : from.indices)
        to.indices.push_back(base + index);
}

// An axis-aligned closed cube of the given edge centred on `centre`.
mesh::TriangleMesh MakeCube(float edge)
{
    mesh::TriangleMesh cube;
    const float h = edge * 0.5f;
    for (int i = 0; i < 8; ++i)
        cube.vertices.push_back({{(i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? h : -h}, {}});
    cube.indices = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                    2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    return cube;
}

// The 100k sphere with five 1.2 mm cubes sitting across its surface.
const mesh::TriangleMesh& PiercedSphere()
{
    static const mesh::TriangleMesh pierced = [] {
        mesh::TriangleMesh mesh = MakeSphere100k();
        const mesh::TriangleMesh cube = MakeCube(1.2f);
        for (int i = 0; i < 5; ++i) {
            const double theta = 0.4 + 0.3 * i;
            const double phi = 0.7 * i;
            const mesh::Vec3 centre{static_cast<float>(40.0 * std::sin(theta) * std::cos(phi)),
                                    static_cast<float>(40.0 * std::sin(theta) * std::sin(phi)),
                                    static_cast<float>(40.0 * std::cos(theta))};
            Append(mesh, cube, centre);
        }
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        return mesh;
    }();
    return pierced;
}

// Two copies of the 100k sphere, the second moved `shift` mm along x.
mesh::TriangleMesh MakeOverlaidSpheres(float shift)
{
    const mesh::TriangleMesh sphere = MakeSphere100k();
    mesh::TriangleMesh mesh;
    Append(mesh, sphere, {});
    Append(mesh, sphere, {shift, 0.0f, 0.0f});
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    return mesh;
}

void BM_SimplifyMedium1M(benchmark::State& state)
{
    mesh::MeshSimplifyReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = FineSphere();
        state.ResumeTiming();
        mesh::MeshSimplifyOptions options;
        options.maximumError = 0.1f;
        options.measureMovement = true;
        report = mesh::SimplifyMesh(mesh, options, {});
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["trianglesAfter"] = static_cast<double>(report.trianglesAfter);
    state.counters["maxMoveMm"] = report.maximumMovementMillimetres;
    state.counters["triangles/s"] = benchmark::Counter(static_cast<double>(report.trianglesBefore),
                                                       benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SimplifyMedium1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RepairForPrintClean1M(benchmark::State& state)
{
    mesh::RepairForPrintReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = FineSphere();
        state.ResumeTiming();
        report = mesh::RepairForPrint(mesh, {});
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["repaired"] = report.repaired ? 1.0 : 0.0;
    state.counters["triangles/s"] = benchmark::Counter(static_cast<double>(report.trianglesBefore),
                                                       benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RepairForPrintClean1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void RunRepair(benchmark::State& state, const mesh::TriangleMesh& part)
{
    mesh::RepairReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::TriangleMesh mesh = part;
        state.ResumeTiming();
        report = mesh::RepairMesh(mesh, mesh::RepairOptions{}, {}, 0);
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["crossingBefore"] = static_cast<double>(report.selfIntersectingTriangles);
    state.counters["crossingAfter"] = static_cast<double>(report.selfIntersectingTrianglesLeft);
    state.counters["resolveRounds"] = report.resolveRounds;
    state.counters["collapsed"] = static_cast<double>(report.tinyTrianglesCollapsed);
    state.counters["triangles"] = static_cast<double>(part.TriangleCount());
}

void BM_RepairMeshPierced100k(benchmark::State& state) { RunRepair(state, PiercedSphere()); }
BENCHMARK(BM_RepairMeshPierced100k)->Unit(benchmark::kMillisecond)->Iterations(3);

// Every triangle lies on its twin: the worst case of the resolve loop, whose rounds each
// search the whole part.
void BM_RepairMeshCoincident2x100k(benchmark::State& state)
{
    static const mesh::TriangleMesh part = MakeOverlaidSpheres(0.0f);
    RunRepair(state, part);
}
BENCHMARK(BM_RepairMeshCoincident2x100k)->Unit(benchmark::kMillisecond)->Iterations(1);

// The copies 0.3 mm apart: they cross along a band round the sphere.
void BM_RepairMeshShifted2x100k(benchmark::State& state)
{
    static const mesh::TriangleMesh part = MakeOverlaidSpheres(0.3f);
    RunRepair(state, part);
}
BENCHMARK(BM_RepairMeshShifted2x100k)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace grainforge::bench
