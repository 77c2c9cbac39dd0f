// Speed of the Save STL check's rounds (RunCheckFixRound, the read-back as a slicer reads it and
// CheckRoundsEnd, as the check runs them, with the document's default cleanup and fixes) and of
// Mesh > Repair's engine (RepairForPrint) on two generated parts: a finely faceted sphere whose
// cap is pushed in through its far side, so that its surface crosses itself in a ring, and a
// sphere with small holes cut at spread places, and a row of spheres passing through each other. Beside each time: the triangles crossing others
// before and after, the holes filled and the rounds run, so a fast but wrong run shows.
// The printer beds and bases of the comparison corpus (~/.cache/tessary-compare, when it is
// there) are rows too, at their own size and scaled to 40 mm, each through the check's rounds
// as the check runs them, Repair's forecast of the check and RepairForPrint; their label is a
// fingerprint of the part each leaves, which a change meant only to be faster leaves as it was.
#include "bench/bench_meshes.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/repair/fix_change.h"
#include "engine/repair/repair_driver.h"
#include "engine/repair/repair_forecast.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/self_intersection.h"
#include "engine/files/stl_reader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::bench {
namespace {

constexpr float kRadius = 20.0f;

// 2 x 200 x 100 = 39,800 triangles of radius 20 mm; the vertices above 0.6 R lowered by 1.5 R,
// through the sphere's lower half.
const mesh::TriangleMesh& DentedSphere()
{
    static const mesh::TriangleMesh dented = [] {
        mesh::TriangleMesh mesh = MakeSphereGrid(kRadius, 100, 200);
        for (mesh::MeshVertex& vertex : mesh.vertices)
            if (vertex.position.z > 0.6f * kRadius)
                vertex.position.z -= 1.5f * kRadius;
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        return mesh;
    }();
    return dented;
}

// The same sphere without a few triangles round 24 spread vertices: holes of about a
// millimetre, which the check's cleanup fills.
const mesh::TriangleMesh& HoledSphere()
{
    static const mesh::TriangleMesh holed = [] {
        const mesh::TriangleMesh sphere = MakeSphereGrid(kRadius, 100, 200);
        std::vector<std::uint8_t> cut(sphere.vertices.size(), 0);
        for (std::size_t v = 997; v < sphere.vertices.size() && v < 997 + 24 * 811; v += 811)
            cut[v] = 1;
        mesh::TriangleMesh mesh;
        mesh.vertices = sphere.vertices;
        for (std::size_t t = 0; t < sphere.TriangleCount(); ++t) {
            const std::uint32_t* c = &sphere.indices[3 * t];
            if (cut[c[0]] == 0 && cut[c[1]] == 0 && cut[c[2]] == 0)
                mesh.indices.insert(mesh.indices.end(), c, c + 3);
        }
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        return mesh;
    }();
    return holed;
}

// Five spheres of 2 x 100 x 50 = 9,900 triangles each, 20 mm across, 12 mm apart in a row, and
// a coarse tube 40 mm long standing through each pair: bodies passing through each other, as
// the parts of a printer bed drawn in a CAD program do, the tubes' long facets holding their
// corners, which the check's fixes cannot part.
const mesh::TriangleMesh& SpheresThroughEachOther()
{
    static const mesh::TriangleMesh row = [] {
        mesh::TriangleMesh mesh;
        const auto add = [&mesh](const mesh::TriangleMesh& body, mesh::Vec3 offset) {
            const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
            for (mesh::MeshVertex vertex : body.vertices) {
                vertex.position += offset;
                mesh.vertices.push_back(vertex);
            }
            for (const std::uint32_t index : body.indices)
                mesh.indices.push_back(first + index);
        };
        const mesh::TriangleMesh sphere = MakeSphereGrid(0.5f * kRadius, 50, 100);
        const mesh::TriangleMesh tube = MakeRoundTube(8.0f, 2.0f, 40.0f, 12);
        for (int i = 0; i < 5; ++i) {
            add(sphere, {12.0f * static_cast<float>(i), 0.0f, 0.0f});
            add(tube, {12.0f * static_cast<float>(i) + 6.0f, 0.0f, -20.0f});
        }
        mesh.ComputeBounds();
        mesh.ComputeVertexNormals();
        return mesh;
    }();
    return row;
}

std::uint64_t CrossingTriangles(const mesh::TriangleMesh& mesh)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    mesh::FindSelfIntersections(mesh, {}, mesh::kNoPairLimit, pairs, stopped);
    return mesh::DistinctTrianglesOfPairs(std::move(pairs)).size();
}

void RunCheckRounds(benchmark::State& state, const mesh::TriangleMesh& part)
{
    const mesh::ExportCleanupOptions cleanup;
    const mesh::RepairOptions fixes;
    mesh::TriangleMesh mesh;
    std::int32_t rounds = 0;
    std::uint64_t holesFilled = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mesh = part;
        state.ResumeTiming();
        mesh::CheckRoundMemo memo;
        std::uint64_t fewestLeft = std::numeric_limits<std::uint64_t>::max();
        holesFilled = 0;
        rounds = 0;
        for (std::int32_t round = 1; round <= mesh::kCheckRounds; ++round) {
            ++rounds;
            const mesh::FixRound fixed =
                mesh::RunCheckFixRound(mesh, mesh::kAutomaticWeldTolerance, cleanup, &fixes, {}, 1, memo);
            holesFilled += fixed.cleanup.holesFilled;
            const mesh::ReadBackCounts counts = mesh::ReadBackAsSlicer(mesh);
            if (!counts.ok || mesh::CheckRoundsEnd(counts, fixed.repair, fewestLeft))
                break;
        }
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["crossingBefore"] = static_cast<double>(CrossingTriangles(part));
    state.counters["crossingAfter"] = static_cast<double>(CrossingTriangles(mesh));
    state.counters["holesFilled"] = static_cast<double>(holesFilled);
    state.counters["rounds"] = rounds;
    state.counters["triangles/s"] = benchmark::Counter(static_cast<double>(part.TriangleCount()),
                                                       benchmark::Counter::kIsIterationInvariantRate);
}

void RunRepairForPrint(benchmark::State& state, const mesh::TriangleMesh& part)
{
    mesh::RepairForPrintReport report;
    mesh::TriangleMesh mesh;
    for (auto _ : state) {
        state.PauseTiming();
        mesh = part;
        state.ResumeTiming();
        report = mesh::RepairForPrint(mesh, {});
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.counters["repaired"] = report.repaired ? 1.0 : 0.0;
    state.counters["holesFilled"] = static_cast<double>(report.holesFilled);
    state.counters["openEdgesAfter"] = static_cast<double>(report.openEdgesAfter);
    state.counters["triangles/s"] = benchmark::Counter(static_cast<double>(part.TriangleCount()),
                                                       benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CheckRoundsDentedSphere40k(benchmark::State& state) { RunCheckRounds(state, DentedSphere()); }
BENCHMARK(BM_CheckRoundsDentedSphere40k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CheckRoundsHoledSphere40k(benchmark::State& state) { RunCheckRounds(state, HoledSphere()); }
BENCHMARK(BM_CheckRoundsHoledSphere40k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CheckRoundsSpheresThroughEachOther50k(benchmark::State& state) { RunCheckRounds(state, SpheresThroughEachOther()); }
BENCHMARK(BM_CheckRoundsSpheresThroughEachOther50k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RepairForPrintDentedSphere40k(benchmark::State& state) { RunRepairForPrint(state, DentedSphere()); }
BENCHMARK(BM_RepairForPrintDentedSphere40k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RepairForPrintHoledSphere40k(benchmark::State& state) { RunRepairForPrint(state, HoledSphere()); }
BENCHMARK(BM_RepairForPrintHoledSphere40k)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---------------------------------------------------------------------------------------------
// Parts of the comparison corpus

// Positions and corners, bit for bit.
std::uint64_t MeshFingerprint(const mesh::TriangleMesh& mesh)
{
    std::uint64_t hash = mesh::kFnvOffsetBasis;
    for (const mesh::MeshVertex& vertex : mesh.vertices)
        hash = mesh::Fnv1a(hash, &vertex.position, sizeof vertex.position);
    return mesh::Fnv1a(hash, mesh.indices.data(), mesh.indices.size() * sizeof(std::uint32_t));
}

void LabelWith(benchmark::State& state, std::uint64_t hash)
{
    char text[32];
    std::snprintf(text, sizeof text, "hash=%016" PRIx64, hash);
    state.SetLabel(text);
}

// The check's rounds as the check runs them: every round's moves judged against the part as
// given.
void RunJudgedCheckRounds(benchmark::State& state, const mesh::TriangleMesh& part)
{
    mesh::TriangleMesh mesh;
    std::uint64_t hash = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mesh = part;
        state.ResumeTiming();
        mesh::FixBaseline baseline(part);
        mesh::RepairOptions fixes;
        fixes.judgeAgainst = &baseline;
        mesh::CheckRoundMemo memo;
        std::uint64_t fewestLeft = std::numeric_limits<std::uint64_t>::max();
        for (std::int32_t round = 1; round <= mesh::kCheckRounds; ++round) {
            const mesh::FixRound fixed =
                mesh::RunCheckFixRound(mesh, mesh::kAutomaticWeldTolerance, {}, &fixes, {}, mesh::CountBodies(part), memo);
            const mesh::ReadBackCounts counts = mesh::ReadBackAsSlicer(mesh);
            if (!counts.ok || mesh::CheckRoundsEnd(counts, fixed.repair, fewestLeft))
                break;
        }
        state.PauseTiming();
        hash = MeshFingerprint(mesh);
        state.ResumeTiming();
    }
    state.counters["crossingAfter"] = static_cast<double>(CrossingTriangles(mesh));
    state.counters["triangles"] = static_cast<double>(mesh.TriangleCount());
    LabelWith(state, hash);
}

// Repair's forecast of the check, as Repair asks it of a part it changed.
void RunForecast(benchmark::State& state, const mesh::TriangleMesh& part)
{
    mesh::CheckCrossingForecast forecast;
    for (auto _ : state) {
        bool stopped = false;
        const std::uint64_t before = mesh::CountCrossingTriangles(part, stopped);
        mesh::CheckFixSettings settings;
        settings.bodies = mesh::CountBodies(part);
        forecast = stopped ? mesh::CheckCrossingForecast{} : mesh::ForecastCheckCrossings(part, before, settings);
    }
    state.counters["known"] = forecast.known ? 1.0 : 0.0;
    state.counters["before"] = static_cast<double>(forecast.before);
    state.counters["left"] = static_cast<double>(forecast.left);
    state.counters["leftWithinBodies"] = static_cast<double>(forecast.leftWithinBodies);
    std::uint64_t hash = mesh::kFnvOffsetBasis;
    for (const std::uint64_t value : {forecast.before, forecast.left, forecast.leftWithinBodies, std::uint64_t{forecast.known}})
        hash = mesh::Fnv1a(hash, &value, sizeof value);
    LabelWith(state, hash);
}

void RunCorpusRepair(benchmark::State& state, const mesh::TriangleMesh& part)
{
    mesh::TriangleMesh mesh;
    mesh::RepairForPrintReport report;
    for (auto _ : state) {
        state.PauseTiming();
        mesh = part;
        state.ResumeTiming();
        report = mesh::RepairForPrint(mesh, {});
    }
    state.counters["repaired"] = report.repaired ? 1.0 : 0.0;
    state.counters["triangles"] = static_cast<double>(mesh.TriangleCount());
    // The counts beside the part; not the log, which says how many milliseconds each step took.
    std::uint64_t hash = MeshFingerprint(mesh);
    for (const std::uint64_t value : {report.trianglesAfter, report.openEdgesAfter, report.nonManifoldEdgesAfter,
                                      report.bodiesAfter, report.holesFilled, report.verticesSplit})
        hash = mesh::Fnv1a(hash, &value, sizeof value);
    LabelWith(state, hash);
}

// Scaled about its low corner so that its largest extent is `size` mm, and stood on z = 0.
mesh::TriangleMesh ScaledTo(mesh::TriangleMesh part, float size)
{
    part.ComputeBounds();
    const mesh::Vec3 extent = part.boundsMax - part.boundsMin;
    const float scale = size / std::max({extent.x, extent.y, extent.z});
    for (mesh::MeshVertex& vertex : part.vertices)
        vertex.position = (vertex.position - part.boundsMin) * scale;
    part.ComputeBounds();
    part.ComputeVertexNormals();
    return part;
}

// The printer beds whose bodies pass through each other and a base with holes to close; rows
// only for the files the corpus holds.
bool RegisterCorpusParts()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr)
        return false;
    const std::filesystem::path meshes =
        std::filesystem::path(home) / ".cache/tessary-compare/packages/cura/usr/share/cura/resources/meshes";
    for (const char* name : {"zav_maxpro", "zav_big", "lulzbot_taz_pro_bed", "mingda_d4pro_base"}) {
        const std::filesystem::path file = meshes / (std::string(name) + ".stl");
        std::error_code error;
        if (!std::filesystem::exists(file, error))
            continue;
        mesh::StlReadResult read = mesh::ReadStlFile(file, mesh::StlReadOptions{});
        if (!read.ok)
            continue;
        read.mesh.ComputeBounds();
        const auto own = std::make_shared<const mesh::TriangleMesh>(read.mesh);
        const auto small = std::make_shared<const mesh::TriangleMesh>(ScaledTo(read.mesh, 40.0f));
        for (const auto& [size, part] : {std::pair{"own", own}, std::pair{"40mm", small}}) {
            const std::string suffix = std::string("/") + name + "/" + size;
            benchmark::RegisterBenchmark(("CheckRounds" + suffix).c_str(),
                                         [part](benchmark::State& state) { RunJudgedCheckRounds(state, *part); })
                ->Unit(benchmark::kMillisecond)->Iterations(1);
            benchmark::RegisterBenchmark(("RepairForecast" + suffix).c_str(),
                                         [part](benchmark::State& state) { RunForecast(state, *part); })
                ->Unit(benchmark::kMillisecond)->Iterations(1);
            benchmark::RegisterBenchmark(("RepairForPrint" + suffix).c_str(),
                                         [part](benchmark::State& state) { RunCorpusRepair(state, *part); })
                ->Unit(benchmark::kMillisecond)->Iterations(1);
        }
    }
    return true;
}

[[maybe_unused]] const bool kCorpusRegistered = RegisterCorpusParts();

}  // namespace
}  // namespace grainforge::bench
