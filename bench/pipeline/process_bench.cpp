// A whole Process through the asynchronous pipeline, as the document runs it: a "Noise" relief
// of 1 mm with the base kept, the contour remesh, the solid displacement, simplify, cleanup and
// the checks. Parts: the 20 mm test cube, a 100 mm cube at 0.3 and 0.2 mm, the same cube at
// 0.3 mm with its low corner at -50, 0 and 1,000 mm in x and y (time and result should not
// depend on where the part lies) and with a 1 mm cube 1 km away (whose relief meets itself in
// places before the simplify), a bumpy sphere of 1,000,000 triangles (150 mm across) at
// 0.3 mm, two round tubes 30 mm across in vertex mode textured outside only (their plain bores
// and top rings beside the relief), one with a 3 mm wall and one with a 6.7 mm bore, each with
// and without simplify at 0.3 mm and the first also at 0.2 mm, and any STL files named on the
// command line (after the benchmark flags) at 0.3 mm. Also 40 mm cones of 96, 960, 2,880 and 5,000
// segments at 0.3 mm: each remeshes to the same surface, so every stage after the remesh
// (facesMs above all) should cost the same whatever the part's facet count. With --long, also the 100 mm cube at
// 0.1 mm with its low corner at -50 and 0 mm (minutes each). Beside the time: each stage's
// milliseconds, the simplify's reruns and the crossing pairs it was given, the result's
// crossing triangles, the checks, triangles in and out, and the process's peak resident memory
// (VmHWM: run one case per process, --benchmark_filter, for its own peak).
#include "bench/bench_meshes.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/files/stl_reader.h"
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

// The part moved by `x` and `y` mm.
mesh::TriangleMesh Moved(mesh::TriangleMesh part, float x, float y)
{
    for (mesh::MeshVertex& v : part.vertices) {
        v.position.x += x;
        v.position.y += y;
    }
    part.ComputeBounds();
    return part;
}

// Both parts in one mesh.
mesh::TriangleMesh Joined(mesh::TriangleMesh part, const mesh::TriangleMesh& other)
{
    const auto offset = static_cast<std::uint32_t>(part.vertices.size());
    part.vertices.insert(part.vertices.end(), other.vertices.begin(), other.vertices.end());
    for (const std::uint32_t index : other.indices)
        part.indices.push_back(index + offset);
    part.ComputeBounds();
    return part;
}

// The settings with the projection's cage fitted round the part, as the document fits it when
// a part is loaded: the relief then follows the part wherever it lies.
mesh::PipelineSettings FittedTo(const mesh::TriangleMesh& part, mesh::PipelineSettings settings)
{
    const mesh::CageBounds bounds{part.boundsMin, part.boundsMax, 1};
    settings.projection.cage = mesh::FitCageToBounds(settings.projection.type, bounds, 0.02f).cage;
    return settings;
}

mesh::PipelineSettings SolidSettings(float triangleSize)
{
    mesh::PipelineSettings settings;
    settings.remeshOn = 1;
    settings.remesh.targetEdgeMillimetres = triangleSize;
    settings.displacementOn = 1;
    settings.displacement.strengthMillimetres = 1.0f;
    settings.displacement.base.enabled = true;
    settings.simplifyOn = 1;
    return settings;
}

// Vertex mode with every box side texturing the outer surfaces only: a holed part's bore stays
// plain, flat walls beside the relief.
mesh::PipelineSettings VertexOutsideSettings(float triangleSize, bool simplify)
{
    mesh::PipelineSettings settings = SolidSettings(triangleSize);
    settings.displacement.method = mesh::DisplacementMethod::mesh;
    for (mesh::SurfaceSide& side : settings.projection.boxSideSurface)
        side = mesh::SurfaceSide::Outside;
    settings.simplifyOn = simplify ? 1 : 0;
    return settings;
}

void Process(benchmark::State& state, const mesh::TriangleMesh& part, const mesh::PipelineSettings& settings)
{
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
    state.counters["reruns"] = static_cast<double>(report.meshSimplifyReport.reruns);
    state.counters["crossingsGiven"] = static_cast<double>(report.meshSimplifyReport.crossingsGiven);
    // Triangles of the result that pass through others, as the check counts them.
    state.counters["crossingTriangles"] = static_cast<double>(report.validation.selfIntersectingTriangleCount);
    state.counters["cleanupMs"] = report.cleanupMilliseconds;
    state.counters["checksMs"] = report.checkMilliseconds;
    state.counters["distanceMs"] = report.surfaceDistanceMilliseconds;
    state.counters["peakMB"] = PeakResidentMegabytes();
    char text[32];
    std::snprintf(text, sizeof text, "hash=%016llx", static_cast<unsigned long long>(hash));
    state.SetLabel(text);

}

void RegisterPart(const std::string& name, std::shared_ptr<const mesh::TriangleMesh> part,
                  const mesh::PipelineSettings& settings)
{
    benchmark::RegisterBenchmark(name.c_str(), [part, settings](benchmark::State& state) { Process(state, *part, settings); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
}

// Cases too long for every run, registered when the program is given --long: the 100 mm cube
// at 0.1 mm (twelve million triangles before the simplify) with its low corner at -50 and at
// 0 mm, where a first result that met itself in a few places once doubled the simplify's time.
void RegisterLongParts()
{
    const auto cube100 = std::make_shared<const mesh::TriangleMesh>(OnTheBed(mesh::MakeTestCube(100.0f)));
    for (const float low : {-50.0f, 0.0f}) {
        const auto placed = std::make_shared<const mesh::TriangleMesh>(Moved(*cube100, low + 50.0f, low + 50.0f));
        RegisterPart("Process/Cube100At/" + std::to_string(static_cast<int>(low)) + "mm/0.1mm", placed,
                     FittedTo(*placed, SolidSettings(0.1f)));
    }
}

void RegisterGeneratedParts()
{
    const auto cube20 = std::make_shared<const mesh::TriangleMesh>(OnTheBed(mesh::MakeTestCube(20.0f)));
    const auto cube100 = std::make_shared<const mesh::TriangleMesh>(OnTheBed(mesh::MakeTestCube(100.0f)));
    RegisterPart("Process/Cube20/0.2mm", cube20, SolidSettings(0.2f));
    RegisterPart("Process/Cube100/0.3mm", cube100, SolidSettings(0.3f));
    RegisterPart("Process/Cube100/0.2mm", cube100, SolidSettings(0.2f));
    for (const float low : {-50.0f, 0.0f, 1000.0f}) {
        const auto placed = std::make_shared<const mesh::TriangleMesh>(Moved(*cube100, low + 50.0f, low + 50.0f));
        RegisterPart("Process/Cube100At/" + std::to_string(static_cast<int>(low)) + "mm/0.3mm", placed,
                     FittedTo(*placed, SolidSettings(0.3f)));
    }
    const auto farCube = std::make_shared<const mesh::TriangleMesh>(
        Joined(*cube100, Moved(OnTheBed(mesh::MakeTestCube(1.0f)), 1.0e6f + 0.5f, 0.0f)));
    RegisterPart("Process/Cube100AndCube1At1km/0.3mm", farCube, FittedTo(*farCube, SolidSettings(0.3f)));
    // Made only when its case runs: a million triangles take a while to build.
    benchmark::RegisterBenchmark("Process/Bumpy1M/0.3mm", [](benchmark::State& state) {
        static const mesh::TriangleMesh bumpy = OnTheBed(MakeBumpySphere1M());
        Process(state, bumpy, SolidSettings(0.3f));
    })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
    for (const std::uint32_t segments : {96u, 960u, 2880u, 5000u}) {
        const auto cone = std::make_shared<const mesh::TriangleMesh>(MakeCone(40.0f, 40.0f, segments));
        RegisterPart("Process/Cone40/" + std::to_string(segments) + "seg/0.3mm", cone,
                     FittedTo(*cone, SolidSettings(0.3f)));
    }
    const struct {
        const char* name;
        float wall;
    } tubes[] = {{"Process/Tube30/wall3mm", 3.0f}, {"Process/Tube30/bore6.7mm", 11.65f}};
    for (const auto& [tubeName, wall] : tubes) {
        const auto tube = std::make_shared<const mesh::TriangleMesh>(OnTheBed(MakeRoundTube(30.0f, wall, 30.0f, 64)));
        const std::string name = tubeName;
        RegisterPart(name + "/vertex/outside/0.3mm", tube, FittedTo(*tube, VertexOutsideSettings(0.3f, true)));
        RegisterPart(name + "/vertex/outside/0.3mm/noSimplify", tube, FittedTo(*tube, VertexOutsideSettings(0.3f, false)));
        if (wall == 3.0f) {
            RegisterPart(name + "/vertex/outside/0.2mm", tube, FittedTo(*tube, VertexOutsideSettings(0.2f, true)));
            RegisterPart(name + "/vertex/outside/0.2mm/noSimplify", tube,
                         FittedTo(*tube, VertexOutsideSettings(0.2f, false)));
        }
    }
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
        RegisterPart("Process/File/" + path, std::make_shared<const mesh::TriangleMesh>(OnTheBed(read.mesh)),
                     SolidSettings(0.3f));
    }
}

}  // namespace
}  // namespace grainforge::bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);  // takes the benchmark flags out of argv
    grainforge::bench::RegisterGeneratedParts();
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--long")
            grainforge::bench::RegisterLongParts();
    grainforge::bench::RegisterFiles(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
