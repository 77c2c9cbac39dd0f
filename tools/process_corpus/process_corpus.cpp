// Runs one whole Process on one part and prints what came of it as one JSON line, for the
// before-and-after comparison (tools/compare). The part is an STL or OFF file, scaled so that its
// largest extent is --size mm and stood on z = 0 (then moved by --at mm along x and y, to see it far
// from the origin), or "gen:<name>" for one of the test shapes at
// its own size (--list-gen names them). The run is the document's: a "Noise" height map, the
// cage fitted round the part, remesh, displacement and cleanup, simplify when asked, and the
// checks. The line holds the outcome (published, refused, failed, unreadable) with its reason,
// the published triangles, the triangles that meet others anywhere but at shared corners (the
// exact check the tests use), closed, manifold (and the directed edges used twice), the triangles
// folded over against a neighbour, outward, the volume, the verdict with the number of problems
// it counts, and the milliseconds of the run.
//
// The same source is built against older commits, so it keeps to the pipeline's long-standing
// entry points (AsyncPipeline: SetSource, SetHeightMap, Request, WaitForFullResult, GetStatus,
// the published mesh and report); the loading and the measures are in tools/corpus_part, shared
// with the repair runner.
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/pipeline/async_pipeline.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/exact_crossings.h"
#include "tools/corpus_part/corpus_part.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>

namespace grainforge::tools {
namespace {

using mesh::TriangleMesh;

struct Options {
    std::string part;
    float sizeMillimetres = 40.0f;
    bool solid = true;          // --mode solid | vertex
    bool outerOnly = false;     // --surfaces outer | all
    float triangleMillimetres = 0.3f;
    bool simplify = true;       // --simplify on | off
    bool crossings = true;      // --no-crossings skips the exact check on very large results
    float strengthMillimetres = 1.0f;  // --strength MM
    bool notes = false;         // --notes adds the result box's problems and notes to the row
    float atMillimetres = 0.0f;  // --at MM moves the loaded part by MM along x and y
};

// ---------------------------------------------------------------------------------------------
// The run

mesh::HeightMap NoiseMap()
{
    constexpr std::int32_t kSide = 128;
    const std::unique_ptr<mesh::procedural::ProceduralTexture> noise = mesh::procedural::CreateProceduralTexture("Noise");
    mesh::HeightMap map;
    map.SetImage(kSide, kSide, noise->RenderImage(kSide, kSide));
    return map;
}

// The settings the document sends with a texture loaded, the cage fitted round the part as on
// loading it.
mesh::PipelineSettings SettingsFor(const Options& options, const TriangleMesh& part)
{
    mesh::PipelineSettings s;
    const mesh::CageBounds bounds{part.boundsMin, part.boundsMax, 1};
    s.projection.cage = mesh::FitCageToBounds(s.projection.type, bounds, 0.02f).cage;
    if (options.outerOnly) {
        for (mesh::SurfaceSide& side : s.projection.boxSideSurface)
            side = mesh::SurfaceSide::Outside;
        s.projection.cylinderSurface = mesh::SurfaceSide::Outside;
    }
    s.remeshOn = 1;
    s.remesh.targetEdgeMillimetres = options.triangleMillimetres;
    s.displacementOn = 1;
    s.displacement.method = options.solid ? mesh::DisplacementMethod::solid : mesh::DisplacementMethod::mesh;
    s.displacement.strengthMillimetres = options.strengthMillimetres;
    s.simplifyOn = options.simplify ? 1 : 0;
    s.cleanup.weldCollapsedTriangles = false;
    s.cleanup.fillHoles = false;
    return s;
}

struct Row {
    std::string outcome = "unreadable";
    std::string reason;
    std::uint64_t sourceTriangles = 0;
    std::uint64_t triangles = 0;
    std::int64_t crossingTriangles = -1;  // -1: not checked
    std::uint64_t bodies = 0;
    Shape shape;
    std::string verdict;
    std::int64_t problems = -1;     // the problems the verdict counts; -1: not checked
    std::uint64_t repeatedEdges = 0;  // directed edges used by more than one triangle
    std::uint64_t foldTriangles = 0;  // triangles on an edge whose two triangles face over 120 degrees apart
    std::vector<std::string> said;  // the box's problems, then its notes (with --notes)
    double milliseconds = 0.0;
};

// Directed edges that more than one triangle runs the same way: the edges a manifold result
// has none of.
std::uint64_t CountRepeatedEdges(const TriangleMesh& mesh)
{
    std::vector<std::uint64_t> edges;
    edges.reserve(mesh.indices.size());
    for (std::size_t c = 0; c < mesh.indices.size(); ++c)
        edges.push_back(std::uint64_t{mesh.indices[c]} << 32 | mesh.indices[c - c % 3 + (c + 1) % 3]);
    std::sort(edges.begin(), edges.end());
    std::uint64_t repeated = 0;
    for (std::size_t i = 1; i < edges.size(); ++i)
        repeated += edges[i] == edges[i - 1] && (i < 2 || edges[i - 1] != edges[i - 2]) ? 1 : 0;
    return repeated;
}

// Triangles on a folded edge: an edge of two triangles, both with area, whose normals lie more
// than 120 degrees apart. Worked here, not asked of the engine, so that older builds count alike.
std::uint64_t CountFoldTriangles(const TriangleMesh& mesh)
{
    const auto normal = [&](std::size_t t) {
        const mesh::Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const mesh::Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const mesh::Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
        const double u[3] = {double{b.x} - a.x, double{b.y} - a.y, double{b.z} - a.z};
        const double v[3] = {double{c.x} - a.x, double{c.y} - a.y, double{c.z} - a.z};
        std::array<double, 3> n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& x : n)
            x = length > 0.0 ? x / length : 0.0;
        return n;
    };
    std::vector<std::array<std::uint32_t, 3>> edges;  // low vertex, high vertex, triangle
    edges.reserve(mesh.indices.size());
    for (std::size_t c = 0; c < mesh.indices.size(); ++c) {
        const std::uint32_t u = mesh.indices[c];
        const std::uint32_t v = mesh.indices[c - c % 3 + (c + 1) % 3];
        if (u != v)
            edges.push_back({std::min(u, v), std::max(u, v), static_cast<std::uint32_t>(c / 3)});
    }
    std::sort(edges.begin(), edges.end());
    std::vector<std::uint32_t> folded;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i + 1;
        while (j < edges.size() && edges[j][0] == edges[i][0] && edges[j][1] == edges[i][1])
            ++j;
        if (j - i == 2) {
            const std::array<double, 3> p = normal(edges[i][2]);
            const std::array<double, 3> q = normal(edges[i + 1][2]);
            const bool area = (p[0] != 0.0 || p[1] != 0.0 || p[2] != 0.0) && (q[0] != 0.0 || q[1] != 0.0 || q[2] != 0.0);
            if (area && p[0] * q[0] + p[1] * q[1] + p[2] * q[2] < -0.5) {
                folded.push_back(edges[i][2]);
                folded.push_back(edges[i + 1][2]);
            }
        }
        i = j;
    }
    std::sort(folded.begin(), folded.end());
    return static_cast<std::uint64_t>(std::unique(folded.begin(), folded.end()) - folded.begin());
}

Row RunProcess(const Options& options, const TriangleMesh& part)
{
    Row row;
    row.sourceTriangles = part.TriangleCount();
    mesh::AsyncPipeline pipeline;
    pipeline.SetSource(part);
    pipeline.SetHeightMap(NoiseMap());
    const auto start = std::chrono::steady_clock::now();
    pipeline.Request(SettingsFor(options, part));
    pipeline.WaitForFullResult();
    row.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const mesh::PipelineStatus status = pipeline.GetStatus();
    const mesh::PipelineReport& report = pipeline.PublishedReport();
    if (status.failed || report.refused != 0) {
        // A run that ends on an error says so in these words; every other end gives its reason.
        const bool error = status.message.empty() || status.message.rfind("Process stopped on an error", 0) == 0;
        row.outcome = report.refused != 0 || !error ? "refused" : "failed";
        row.reason = status.message.empty() && report.refused != 0
            ? "about " + std::to_string(report.refusedTriangles) + " triangles, over the limit"
            : status.message;
        return row;
    }
    const TriangleMesh& result = pipeline.PublishedMesh();
    row.outcome = result.TriangleCount() == 0 ? "failed" : "published";
    if (result.TriangleCount() == 0)
        row.reason = "published an empty mesh";
    row.triangles = result.TriangleCount();
    row.verdict = report.validated ? mesh::VerdictText(report.validation.verdict) : "not checked";
    if (report.validated)
        row.problems = static_cast<std::int64_t>(report.validation.problems.size());
    if (options.notes) {
        row.said = report.validation.problems;
        row.said.insert(row.said.end(), report.validation.notes.begin(), report.validation.notes.end());
    }
    TriangleMesh measured = result;
    measured.ComputeBounds();
    row.shape = MeasureShape(measured);
    row.bodies = mesh::CountBodies(measured);
    row.repeatedEdges = CountRepeatedEdges(measured);
    row.foldTriangles = CountFoldTriangles(measured);
    if (options.crossings)
        row.crossingTriangles = static_cast<std::int64_t>(test::CrossingTriangles(test::FindMeetingPairsThroughGrid(measured)).size());
    return row;
}

// The triangle size as it was asked, not with the float's tail.
std::string TriangleText(const Options& options)
{
    std::ostringstream text;
    text << options.triangleMillimetres;
    return text.str();
}

void PrintRow(const Options& options, const Row& row)
{
    std::ostringstream line;
    line.precision(10);
    line << "{\"part\":" << Quoted(options.part) << ",\"mode\":" << Quoted(options.solid ? "solid" : "vertex")
         << ",\"surfaces\":" << Quoted(options.outerOnly ? "outer" : "all") << ",\"triangle\":" << TriangleText(options)
         << ",\"simplify\":" << (options.simplify ? "true" : "false") << ",\"outcome\":" << Quoted(row.outcome)
         << ",\"reason\":" << Quoted(row.reason) << ",\"source_triangles\":" << row.sourceTriangles
         << ",\"triangles\":" << row.triangles << ",\"crossing_triangles\":" << row.crossingTriangles
         << ",\"closed\":" << (row.shape.closed ? "true" : "false") << ",\"manifold\":" << (row.shape.manifold ? "true" : "false")
         << ",\"outward\":" << (row.shape.volume > 0.0 ? "true" : "false") << ",\"volume\":" << row.shape.volume << ",\"bodies\":" << row.bodies
         << ",\"repeated_edges\":" << row.repeatedEdges << ",\"fold_triangles\":" << row.foldTriangles
         << ",\"verdict\":" << Quoted(row.verdict) << ",\"problems\":" << row.problems
         << ",\"ms\":" << row.milliseconds;
    if (options.notes) {
        line << ",\"said\":[";
        for (std::size_t i = 0; i < row.said.size(); ++i)
            line << (i == 0 ? "" : ",") << Quoted(row.said[i]);
        line << "]";
    }
    line << "}";
    std::cout << line.str() << std::endl;
}

// ---------------------------------------------------------------------------------------------
// Command line

int Usage()
{
    std::cerr << "usage: process_corpus [--size MM] [--mode solid|vertex] [--surfaces outer|all] [--triangle MM]\n"
                 "                      [--simplify on|off] [--strength MM] [--at MM] [--no-crossings] [--notes]\n"
                 "                      PART.stl|PART.off|gen:NAME\n"
                 "       process_corpus --list-gen\n";
    return 2;
}

// Fills `options` from the arguments; false on anything it does not know.
bool ParseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : "";
        if (arg == "--no-crossings") {
            options.crossings = false;
            continue;
        }
        if (arg == "--notes") {
            options.notes = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            options.part = arg;
            continue;
        }
        if (!hasValue)
            return false;
        ++i;
        if (arg == "--size")
            options.sizeMillimetres = std::stof(value);
        else if (arg == "--strength")
            options.strengthMillimetres = std::stof(value);
        else if (arg == "--at")
            options.atMillimetres = std::stof(value);
        else if (arg == "--triangle")
            options.triangleMillimetres = std::stof(value);
        else if (arg == "--mode" && (value == "solid" || value == "vertex"))
            options.solid = value == "solid";
        else if (arg == "--surfaces" && (value == "outer" || value == "all"))
            options.outerOnly = value == "outer";
        else if (arg == "--simplify" && (value == "on" || value == "off"))
            options.simplify = value == "on";
        else
            return false;
    }
    return !options.part.empty() && options.sizeMillimetres > 0.0f && options.triangleMillimetres > 0.0f;
}

int Run(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--list-gen") {
        for (const auto& [name, make] : GeneratedParts())
            std::cout << "gen:" << name << "\n";
        return 0;
    }
    Options options;
    try {
        if (!ParseArguments(argc, argv, options))
            return Usage();
    } catch (const std::exception&) {
        return Usage();  // a number that does not read as one
    }
    Row row;
    try {
        const Loaded loaded = LoadPart(options.part, options.sizeMillimetres);
        if (!loaded.ok) {
            row.reason = loaded.error;
        } else {
            TriangleMesh part = loaded.mesh;
            for (mesh::MeshVertex& v : part.vertices) {
                v.position.x += options.atMillimetres;
                v.position.y += options.atMillimetres;
            }
            part.ComputeBounds();
            row = RunProcess(options, part);
        }
    } catch (const std::bad_alloc&) {
        row.outcome = "out of memory";
    } catch (const std::exception& error) {
        row.outcome = "failed";
        row.reason = std::string("exception: ") + error.what();
    }
    PrintRow(options, row);
    return 0;
}

}  // namespace
}  // namespace grainforge::tools

int main(int argc, char** argv) { return grainforge::tools::Run(argc, argv); }
