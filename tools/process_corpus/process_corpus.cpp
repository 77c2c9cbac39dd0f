// Runs one whole Process on one part and prints what came of it as one JSON line, for the
// before-and-after comparison (tools/compare). The part is an STL or OFF file, scaled so that its
// largest extent is --size mm and stood on z = 0, or "gen:<name>" for one of the test shapes at
// its own size (--list-gen names them). The run is the document's: a "Noise" height map, the
// cage fitted round the part, remesh, displacement and cleanup, simplify when asked, and the
// checks. The line holds the outcome (published, refused, failed, unreadable) with its reason,
// the published triangles, the triangles that meet others anywhere but at shared corners (the
// exact check the tests use), closed, manifold, outward, the volume, the verdict and the
// milliseconds of the run.
//
// The same source is built against older commits, so it keeps to the pipeline's long-standing
// entry points (AsyncPipeline: SetSource, SetHeightMap, Request, WaitForFullResult, GetStatus,
// the published mesh and report) and to the test shapes every recent commit has.
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "engine/pipeline/async_pipeline.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/shapes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::tools {
namespace {

using mesh::TriangleMesh;
using mesh::Vec3;

struct Options {
    std::string part;
    float sizeMillimetres = 40.0f;
    bool solid = true;          // --mode solid | vertex
    bool outerOnly = false;     // --surfaces outer | all
    float triangleMillimetres = 0.3f;
    bool simplify = true;       // --simplify on | off
    bool crossings = true;      // --no-crossings skips the exact check on very large results
};

struct Loaded {
    bool ok = false;
    std::string error;
    TriangleMesh mesh;
};

// ---------------------------------------------------------------------------------------------
// Parts

// The shapes of the foreign-shape property test that every recent commit can build, at their
// own sizes: thin, bladed, several bodies, rough, holed, far out, doubled and hollow parts.
const std::map<std::string, std::function<TriangleMesh()>>& GeneratedParts()
{
    static const std::map<std::string, std::function<TriangleMesh()>> parts = {
        {"thin-plate", [] { return test::MakeBox({0, 0, 0}, {20, 20, 0.5f}); }},
        {"blade", [] { return test::MakeWedge(20.0f, 10.0f, 2.0f, 0.05f); }},
        {"two-boxes", [] { return test::MakeTwoCubes(); }},
        {"boxes-sharing-a-face", [] { return test::MakeWeldedCubePair({10, 0, 0}); }},
        {"boxes-sharing-an-edge", [] { return test::MakeWeldedCubePair({10, 10, 0}); }},
        {"noisy-sphere", [] { return test::MakeNoisySphere(7, 10.0f, 0.3f, 48, 96); }},
        {"torus", [] { return test::MakeTorus(15.0f, 5.0f, 96, 48); }},
        {"cube-20", [] { return mesh::MakeTestCube(20.0f); }},
        {"cube-at-1e6", [] { return test::Translated(mesh::MakeTestCube(20.0f), {1e6f, 1e6f, 0}); }},
        {"sphere-with-cube-1km-away",
            [] { return test::Combined(mesh::MakeTestSphere(15.0f), test::Translated(mesh::MakeTestCube(1.0f), {707110, 707110, 0})); }},
        {"corner-fold",
            [] {
                TriangleMesh box = test::MakeGridTopBox(8, 10.0f);
                box.vertices[4 * 9 + 4].position += Vec3{1.9f, 0.3f, 0.0f};
                return box;
            }},
        {"cube-with-hollow", [] { return test::Combined(mesh::MakeTestCube(20.0f), test::Flipped(mesh::MakeTestCube(6.0f))); }},
        {"body-inside-a-body", [] { return test::Combined(mesh::MakeTestCube(20.0f), mesh::MakeTestCube(6.0f)); }},
        {"boss-on-a-plate",
            [] { return test::Combined(test::MakeBox({0, 0, 0}, {30, 30, 2}), test::MakeBox({10, 10, 1}, {20, 20, 12})); }},
        {"cube-with-crumbs",
            [] {
                TriangleMesh part = mesh::MakeTestCube(20.0f);
                for (int i = 0; i < 4; ++i)
                    part = test::Combined(std::move(part), test::Translated(mesh::MakeTestCube(0.05f), {25.0f + 3 * i, 0, 0}));
                return part;
            }},
        {"cube-with-reversed-copies",
            [] {
                TriangleMesh cube = mesh::MakeTestCube(20.0f);
                for (const std::size_t f : {1, 6, 11})
                    cube.indices.insert(cube.indices.end(), {cube.indices[3 * f], cube.indices[3 * f + 2], cube.indices[3 * f + 1]});
                return cube;
            }},
        {"doubled-sphere",
            [] {
                TriangleMesh sphere = mesh::MakeTestSphere(10.0f);
                const std::vector<std::uint32_t> once = sphere.indices;
                sphere.indices.insert(sphere.indices.end(), once.begin(), once.end());
                return sphere;
            }},
        {"plain-tube", [] { return test::MakeReliefTube(30.0f, 3.0f, 30.0f, 128, 60, 0.0f); }},
    };
    return parts;
}

// The file's lines without their comments (from "#" to the end of the line).
std::string WithoutComments(const std::string& path)
{
    std::ifstream file(path);
    std::string text;
    for (std::string line; std::getline(file, line);)
        text += line.substr(0, line.find('#')) + "\n";
    return text;
}

// The header, then the vertex and face counts checked against what the file holds before
// anything is sized on them; faces of more than three corners become fans.
Loaded ReadOffFile(const std::string& path)
{
    std::istringstream in(WithoutComments(path));
    std::string word;
    in >> word;
    if (!in || (word != "OFF" && word != "COFF"))
        return {false, "not an OFF file", {}};
    std::uint64_t vertices = 0, faces = 0, edges = 0;
    if (!(in >> vertices >> faces >> edges))
        return {false, "OFF header without its counts", {}};
    Loaded loaded{true, {}, {}};
    std::vector<Vec3> points;
    for (std::uint64_t v = 0; v < vertices; ++v) {
        Vec3 p{};
        if (!(in >> p.x >> p.y >> p.z))
            return {false, "OFF file ends inside its vertices", {}};
        std::string rest;
        std::getline(in, rest);  // colours, when present
        loaded.mesh.vertices.push_back({p, {}});
    }
    for (std::uint64_t f = 0; f < faces; ++f) {
        std::uint64_t corners = 0;
        if (!(in >> corners) || corners < 3 || corners > vertices)
            return {false, "OFF face " + std::to_string(f) + " unreadable", {}};
        std::vector<std::uint32_t> ring(corners);
        for (std::uint32_t& index : ring) {
            std::uint64_t i = 0;
            if (!(in >> i) || i >= vertices)
                return {false, "OFF face " + std::to_string(f) + " names a missing vertex", {}};
            index = static_cast<std::uint32_t>(i);
        }
        std::string rest;
        std::getline(in, rest);
        for (std::size_t k = 1; k + 1 < ring.size(); ++k)
            loaded.mesh.indices.insert(loaded.mesh.indices.end(), {ring[0], ring[k], ring[k + 1]});
    }
    if (loaded.mesh.indices.empty())
        return {false, "OFF file without faces", {}};
    return loaded;
}

// Scaled about its low corner so that the largest extent is `size` mm, and stood on z = 0.
TriangleMesh ScaledOntoTheBed(TriangleMesh part, float size)
{
    part.ComputeBounds();
    const Vec3 extent = part.boundsMax - part.boundsMin;
    const float largest = std::max({extent.x, extent.y, extent.z});
    const float scale = largest > 0.0f ? size / largest : 1.0f;
    for (mesh::MeshVertex& v : part.vertices) {
        const Vec3 p = v.position - part.boundsMin;
        v.position = Vec3{p.x * scale, p.y * scale, p.z * scale};
    }
    part.ComputeBounds();
    return part;
}

Loaded LoadPart(const Options& options)
{
    const std::string& name = options.part;
    if (name.rfind("gen:", 0) == 0) {
        const auto found = GeneratedParts().find(name.substr(4));
        if (found == GeneratedParts().end())
            return {false, "no generated part named " + name.substr(4), {}};
        TriangleMesh part = found->second();
        part.ComputeBounds();
        return {true, {}, std::move(part)};
    }
    Loaded loaded;
    const bool isOff = name.size() > 4 && (name.substr(name.size() - 4) == ".off" || name.substr(name.size() - 4) == ".OFF");
    if (isOff) {
        loaded = ReadOffFile(name);
    } else {
        mesh::StlReadResult read = mesh::ReadStlFile(name, mesh::StlReadOptions{});
        loaded = {read.ok, read.error, std::move(read.mesh)};
    }
    if (loaded.ok)
        loaded.mesh = ScaledOntoTheBed(std::move(loaded.mesh), options.sizeMillimetres);
    return loaded;
}

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
    s.displacement.strengthMillimetres = 1.0f;
    s.simplifyOn = options.simplify ? 1 : 0;
    s.cleanup.weldCollapsedTriangles = false;
    s.cleanup.fillHoles = false;
    return s;
}

struct Shape {
    bool closed = false;
    bool manifold = false;
    double volume = 0.0;
};

// Vertices whose triangles form more than one fan (the far edges of their triangles, from -> to,
// make more than one cycle).
std::uint64_t CountPinchedVertices(const TriangleMesh& mesh)
{
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> fans(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k)
            fans[mesh.indices[3 * t + k]].emplace_back(mesh.indices[3 * t + (k + 1) % 3], mesh.indices[3 * t + (k + 2) % 3]);
    std::uint64_t pinched = 0;
    for (auto& fan : fans) {
        if (fan.empty())
            continue;
        std::sort(fan.begin(), fan.end());
        std::size_t steps = 0;
        std::uint32_t at = fan[0].first;
        do {
            const auto next = std::lower_bound(fan.begin(), fan.end(), std::make_pair(at, std::uint32_t{0}));
            if (next == fan.end() || next->first != at)
                break;
            at = next->second;
            ++steps;
        } while (at != fan[0].first && steps <= fan.size());
        pinched += steps != fan.size();
    }
    return pinched;
}

// Summed about the box's centre in double, so that a part far out keeps its digits.
double SignedVolume(const TriangleMesh& mesh)
{
    const Vec3 centre = (mesh.boundsMin + mesh.boundsMax) * 0.5f;
    double volume = 0.0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        double p[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 v = mesh.vertices[mesh.indices[3 * t + k]].position;
            p[k][0] = double(v.x) - centre.x;
            p[k][1] = double(v.y) - centre.y;
            p[k][2] = double(v.z) - centre.z;
        }
        volume += (p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
                      + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]))
            / 6.0;
    }
    return volume;
}

// Closed: every directed edge has its reverse. Manifold: no directed edge twice and the
// triangles round every vertex one fan.
Shape MeasureShape(const TriangleMesh& mesh)
{
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> directed;
    for (std::size_t c = 0; c < mesh.indices.size(); ++c)
        ++directed[{mesh.indices[c], mesh.indices[c - c % 3 + (c + 1) % 3]}];
    std::uint64_t open = 0, repeated = 0;
    for (const auto& [edge, uses] : directed) {
        repeated += uses > 1;
        open += directed.count({edge.second, edge.first}) == 0;
    }
    return {open == 0, repeated == 0 && CountPinchedVertices(mesh) == 0, SignedVolume(mesh)};
}

// Escapes a text for a JSON string.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Row {
    std::string outcome = "unreadable";
    std::string reason;
    std::uint64_t sourceTriangles = 0;
    std::uint64_t triangles = 0;
    std::int64_t crossingTriangles = -1;  // -1: not checked
    Shape shape;
    std::string verdict;
    double milliseconds = 0.0;
};

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
    TriangleMesh measured = result;
    measured.ComputeBounds();
    row.shape = MeasureShape(measured);
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
         << ",\"outward\":" << (row.shape.volume > 0.0 ? "true" : "false") << ",\"volume\":" << row.shape.volume
         << ",\"verdict\":" << Quoted(row.verdict) << ",\"ms\":" << row.milliseconds << "}";
    std::cout << line.str() << std::endl;
}

// ---------------------------------------------------------------------------------------------
// Command line

int Usage()
{
    std::cerr << "usage: process_corpus [--size MM] [--mode solid|vertex] [--surfaces outer|all] [--triangle MM]\n"
                 "                      [--simplify on|off] [--no-crossings] PART.stl|PART.off|gen:NAME\n"
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
        if (arg.rfind("--", 0) != 0) {
            options.part = arg;
            continue;
        }
        if (!hasValue)
            return false;
        ++i;
        if (arg == "--size")
            options.sizeMillimetres = std::stof(value);
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
        const Loaded loaded = LoadPart(options);
        if (!loaded.ok)
            row.reason = loaded.error;
        else
            row = RunProcess(options, loaded.mesh);
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
