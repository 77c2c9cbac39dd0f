// SimplifyMesh beside meshoptimizer's meshopt_simplify to the same index count, both timed in
// the same iteration of one process.
// - Medium/BumpySphere1M: "Medium" on the bumpy 1,001,112-triangle sphere.
// - Relief/<part>: "Medium" on what the program's own remesh and vertex relief make of a part
//   standing on the bed: a 0.2 mm "Noise" relief through a box projection fitted round it, the
//   bed held as Process holds it. A relief is the simplify's usual input and its hardest: many
//   merges are refused, and its folds go through the repairs. Parts: the 20 mm test cube at
//   0.15 mm and a round tube 30 mm across with a 3 mm wall at 0.2 mm through the contour
//   remesh, and four such tubes, 40 mm tall, each through the next, at 0.25 mm through the
//   isotropic remesh, which keeps the bodies as they are: their crossings send the simplify
//   through its repairs, as an assembly of many bodies does.
// The counters give each time, their ratio (ours / peer), the triangles each leaves, how far the
// input vertices lie from each result, so a fast but coarse run shows, and `hash`, a
// fingerprint of our result (positions, indices and both maps), printed in the label so that a
// change meant to be only faster can be checked to give the same bits. On a busy machine the
// process CPU times (ours counts every thread it uses) tell more than the wall times.
#include "bench/bench_meshes.h"
#include "bench/peers/peer_timing.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/vertex_displacement.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/remesh.h"
#include "engine/textures/procedural_registry.h"

#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::bench {
namespace {

// Largest distance from an input vertex to the result's surface.
float LargestDeviation(const mesh::TriangleMesh& input, const mesh::TriangleMesh& result)
{
    mesh::AabbTree tree;
    tree.Build(result);
    std::vector<float> distance(input.vertices.size(), 0.0f);
    mesh::ParallelFor(input.vertices.size(), [&](std::size_t v) {
        const mesh::NearestHit hit = tree.Nearest(result, input.vertices[v].position, {}, {}, mesh::kNoDistanceLimit);
        distance[v] = hit.found ? hit.distance : 0.0f;
    });
    return distance.empty() ? 0.0f : *std::max_element(distance.begin(), distance.end());
}

template <typename T>
std::uint64_t HashBytes(std::uint64_t hash, const std::vector<T>& values)
{
    return mesh::Fnv1a(hash, values.data(), values.size() * sizeof(T));
}

std::uint64_t ResultHash(const mesh::TriangleMesh& result, const mesh::MeshSimplifyReport& report)
{
    std::uint64_t hash = mesh::kFnvOffsetBasis;
    hash = HashBytes(hash, result.vertices);
    hash = HashBytes(hash, result.indices);
    hash = HashBytes(hash, report.vertexMap);
    hash = HashBytes(hash, report.faceMap);
    return hash;
}

// `count` round tubes 30 mm across with 3 mm walls, 40 mm tall, 24 mm apart along x: each
// passes through the next, as the bodies of an assembly often do.
mesh::TriangleMesh TubesThroughEachOther(std::uint32_t count)
{
    mesh::TriangleMesh all;
    for (std::uint32_t i = 0; i < count; ++i) {
        mesh::TriangleMesh tube = MakeRoundTube(30.0f, 3.0f, 40.0f, 64);
        const auto offset = static_cast<std::uint32_t>(all.vertices.size());
        for (mesh::MeshVertex& v : tube.vertices)
            v.position.x += 24.0f * static_cast<float>(i);
        all.vertices.insert(all.vertices.end(), tube.vertices.begin(), tube.vertices.end());
        for (const std::uint32_t index : tube.indices)
            all.indices.push_back(index + offset);
    }
    all.ComputeBounds();
    all.ComputeVertexNormals();
    return all;
}

// The part remeshed at `triangleSize` and given a 0.2 mm "Noise" relief (2 mm tiles), as
// Process's vertex mode makes it before its simplify.
mesh::TriangleMesh Relief(const mesh::TriangleMesh& part, float triangleSize,
                          mesh::RemeshMethod method = mesh::RemeshMethod::contour)
{
    mesh::TriangleMesh mesh = OnTheBed(part);
    mesh::RemeshSettings remesh;
    remesh.targetEdgeMillimetres = triangleSize;
    remesh.method = method;
    (void)mesh::Remesh(mesh, remesh, {});
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    constexpr std::int32_t kSide = 256;
    const std::unique_ptr<mesh::procedural::ProceduralTexture> noise = mesh::procedural::CreateProceduralTexture("Noise");
    mesh::HeightMap map;
    map.settings.widthMillimetres = 2.0f;
    map.SetImage(kSide, kSide, noise->RenderImage(kSide, kSide));
    const mesh::Projection projection =
        mesh::FitCageToBounds(mesh::ProjectionKind::Box, {mesh.boundsMin, mesh.boundsMax, 1}, 0.02f);
    const std::vector<float> weights(mesh.vertices.size(), 1.0f);
    mesh::DisplacementSettings settings;
    settings.method = mesh::DisplacementMethod::mesh;
    settings.strengthMillimetres = 0.2f;
    (void)mesh::ApplyDisplacement(mesh, projection, map, weights, settings, nullptr, mesh::TileFrame{}, nullptr, false);
    mesh.ComputeBounds();
    mesh.ComputeVertexNormals();
    return mesh;
}

void SimplifyAgainstMeshopt(benchmark::State& state, const mesh::TriangleMesh& input)
{
    mesh::TriangleMesh ours;
    mesh::TriangleMesh peer = input;
    mesh::MeshSimplifyReport report;
    SideBySide times;
    for (auto _ : state) {
        ours = input;
        mesh::MeshSimplifyOptions options;
        options.maximumError = 0.1f;
        const Times oursTimes = Measure([&] { report = mesh::SimplifyMesh(ours, options, {}); });
        // No error bound (1 is the whole extent): the index count alone stops it.
        std::size_t count = 0;
        const Times peerTimes = Measure([&] {
            count = meshopt_simplify(peer.indices.data(), input.indices.data(), input.indices.size(),
                                     &input.vertices[0].position.x, input.vertices.size(), sizeof(mesh::MeshVertex),
                                     ours.indices.size(), 1.0f, 0, nullptr);
        });
        peer.indices.resize(count);
        times.Add(state, oursTimes, peerTimes);
    }
    times.Report(state);
    state.counters["trianglesIn"] = static_cast<double>(input.TriangleCount());
    state.counters["trianglesOurs"] = static_cast<double>(ours.TriangleCount());
    state.counters["trianglesPeer"] = static_cast<double>(peer.TriangleCount());
    state.counters["reruns"] = static_cast<double>(report.reruns);
    state.counters["maxDevOursMm"] = LargestDeviation(input, ours);
    state.counters["maxDevPeerMm"] = LargestDeviation(input, peer);
    char text[32];
    std::snprintf(text, sizeof text, "hash=%016llx", static_cast<unsigned long long>(ResultHash(ours, report)));
    state.SetLabel(text);
}

// Each input is made only when its case runs: a remesh and relief take a while.
void Register(const char* name, std::function<mesh::TriangleMesh()> make)
{
    benchmark::RegisterBenchmark(name, [make](benchmark::State& state) {
        const mesh::TriangleMesh input = make();
        SimplifyAgainstMeshopt(state, input);
    })->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
}

const bool kRegistered = [] {
    Register("Medium/BumpySphere1M", [] { return MakeBumpySphere1M(); });
    Register("Relief/Cube20/0.15mm", [] { return Relief(mesh::MakeTestCube(20.0f), 0.15f); });
    Register("Relief/Tube30/0.2mm", [] { return Relief(MakeRoundTube(30.0f, 3.0f, 30.0f, 64), 0.2f); });
    Register("Relief/TubesThrough/0.25mm",
             [] { return Relief(TubesThroughEachOther(4), 0.25f, mesh::RemeshMethod::isotropic); });
    return true;
}();

}  // namespace
}  // namespace grainforge::bench
