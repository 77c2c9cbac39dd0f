// A whole Process through the asynchronous pipeline, as the document runs it: a "Noise" relief
// of 1 mm with the base kept, the contour remesh, the solid displacement, simplify, cleanup and
// the checks. Parts: the 20 mm test cube, a 100 mm cube at 0.3 and 0.2 mm, a bumpy sphere of
// 1,000,000 triangles (150 mm across) at 0.3 mm, and any STL files named on the command line
// (after the benchmark flags) at 0.3 mm. Beside the time: each stage's milliseconds, the
// checks, triangles in and out, and the process's peak resident memory (VmHWM: run one case
// per process, --benchmark_filter, for its own peak).
#include "bench/bench_meshes.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/mesh/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "engine/pipeline/async_pipeline.h"
#include "engine/textures/procedural_registry.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::bench {
namespace {

double PeakResidentMegabytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;  // kB
    }
    return 0.0;
}

// FNV-1a over the bytes of a range of plain values.
template <typename T>
std::uint64_t HashBytes(std::uint64_t hash, const std::vector<T>& values)
{
    return mesh::Fnv1a(hash, values.data(), values.size() * sizeof(T));
}

// A fingerprint of the published result (positions, normals, indices and weights), printed so
// that a change meant to be only faster can be checked to give the same bits.
std::uint64_t ResultHash(const mesh::AsyncPipeline& pipeline)
{
    const mesh::TriangleMesh& result = pipeline.PublishedMesh();
    const mesh::TextureWeights& weights = pipeline.PublishedWeights();
    std::uint64_t hash = mesh::kFnvOffsetBasis;
    hash = HashBytes(hash, result.vertices);
    hash = HashBytes(hash, result.indices);
    hash = HashBytes(hash, weights.cornerWeights);
    hash = HashBytes(hash, weights.vertexWeights);
    hash = HashBytes(hash, weights.faceTextured);
    hash = HashBytes(hash, weights.faceOuterMask);
    return hash;
}

mesh::HeightMap NoiseMap()
{
    constexpr std::int32_t kSide = 256;
    const std::unique_ptr<mesh::procedural::ProceduralTexture> noise =
        mesh::procedural::CreateProceduralTexture("Noise");
    mesh::HeightMap map;
    map.SetImage(kSide, kSide, noise->RenderImage(kSide, kSide));
    return map;
}

// The part standing on z = 0, as a user places it on the bed.
mesh::TriangleMesh OnTheBed(mesh::TriangleMesh part)
{
    part.ComputeBounds();
    const float lift = -part.boundsMin.z;
    for (mesh::MeshVertex& v : part.vertices)
        v.position.z += lift;
    part.ComputeBounds();
    return part;
}

void Process(benchmark::State& state, const mesh::TriangleMesh& part, float triangleSize)
{
    mesh::PipelineSettings settings;
    settings.remeshOn = 1;
    settings.remesh.targetEdgeMillimetres = triangleSize;
    settings.displacementOn = 1;
    settings.displacement.strengthMillimetres = 1.0f;
    settings.displacement.base.enabled = true;
    settings.simplifyOn = 1;
    mesh::PipelineReport report;
    bool failed = false;
    std::uint64_t hash = 0;
    for (auto _ : state) {
        state.PauseTiming();
        mesh::AsyncPipeline pipeline;
        pipeline.SetSource(part);
        pipeline.SetHeightMap(NoiseMap());
        state.ResumeTiming();
        pipeline.Request(settings);
        pipeline.WaitForFullResult();
        state.PauseTiming();
        failed = pipeline.GetStatus().failed;
        report = pipeline.PublishedReport();
        hash = ResultHash(pipeline);
        state.ResumeTiming();
    }
    state.counters["failed"] = failed ? 1.0 : 0.0;
    state.counters["trianglesIn"] = static_cast<double>(report.sourceTriangles);
    state.counters["trianglesOut"] = static_cast<double>(report.resultTriangles);
    state.counters["remeshMs"] = report.stageMilliseconds.remesh;
    state.counters["facesMs"] = report.stageMilliseconds.faces;
    state.counters["reliefMs"] = report.stageMilliseconds.displacement;
    // The relief's own phases, inside reliefMs: heights held back, the distance field (seeded,
    // propagated, valued) and the contour with the piece removal.
    state.counters["capMs"] = report.solidReport.clearanceMilliseconds;
    state.counters["fieldMs"] = report.solidReport.fieldMilliseconds;
    state.counters["seedMs"] = report.solidReport.seedMilliseconds;
    state.counters["propagateMs"] = report.solidReport.propagateMilliseconds;
    state.counters["valueMs"] = report.solidReport.valueMilliseconds;
    state.counters["contourMs"] = report.solidReport.contourMilliseconds;
    state.counters["simplifyMs"] = report.stageMilliseconds.simplify;
    // The whole-mesh simplification inside it, which runs on one thread.
    state.counters["wholeMeshMs"] = report.meshSimplifyReport.seconds * 1000.0;
    state.counters["cleanupMs"] = report.cleanupMilliseconds;
    state.counters["checksMs"] = report.checkMilliseconds;
    state.counters["distanceMs"] = report.surfaceDistanceMilliseconds;
    state.counters["peakMB"] = PeakResidentMegabytes();
    char text[32];
    std::snprintf(text, sizeof text, "hash=%016llx", static_cast<unsigned long long>(hash));
    state.SetLabel(text);

}

void RegisterPart(const std::string& name, std::shared_ptr<const mesh::TriangleMesh> part, float size)
{
    benchmark::RegisterBenchmark(name.c_str(), [part, size](benchmark::State& state) { Process(state, *part, size); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
}

void RegisterGeneratedParts()
{
    const auto cube20 = std::make_shared<const mesh::TriangleMesh>(OnTheBed(mesh::MakeTestCube(20.0f)));
    const auto cube100 = std::make_shared<const mesh::TriangleMesh>(OnTheBed(mesh::MakeTestCube(100.0f)));
    RegisterPart("Process/Cube20/0.2mm", cube20, 0.2f);
    RegisterPart("Process/Cube100/0.3mm", cube100, 0.3f);
    RegisterPart("Process/Cube100/0.2mm", cube100, 0.2f);
    // Made only when its case runs: a million triangles take a while to build.
    benchmark::RegisterBenchmark("Process/Bumpy1M/0.3mm", [](benchmark::State& state) {
        static const mesh::TriangleMesh bumpy = OnTheBed(MakeBumpySphere1M());
        Process(state, bumpy, 0.3f);
    })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

// Every argument that is not a flag names an STL file to process; a file that cannot be read
// is reported and skipped.
void RegisterFiles(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        if (path.rfind("--", 0) == 0)
            continue;
        mesh::StlReadResult read = mesh::ReadStlFile(path, mesh::StlReadOptions{});
        if (!read.ok) {
            std::cerr << path << ": " << read.error << "\n";
            continue;
        }
        RegisterPart("Process/File/" + path, std::make_shared<const mesh::TriangleMesh>(OnTheBed(read.mesh)), 0.3f);
    }
}

}  // namespace
}  // namespace grainforge::bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);  // takes the benchmark flags out of argv
    grainforge::bench::RegisterGeneratedParts();
    grainforge::bench::RegisterFiles(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
