// Results that must not move when the search, the reader and the simplify are made faster:
// checksums of the self-intersection pair lists, of the STL reader's welded meshes and reports,
// and of the simplify's results, maps and counts, recorded from the code as it was before any
// speed work. A failure here means the answer changed.
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/self_intersection.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/checksum.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

TriangleMesh HugeAndTinyTogether()
{
    TriangleMesh mesh = test::MakeRandomTriangles(22, 500, 5, 0.5f);
    mesh = test::Combined(mesh, test::Translated(test::MakeRandomTriangles(23, 200, 5, 0.5f), {1e30f, -1e30f, 3e37f}));
    const auto v = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.insert(mesh.vertices.end(), {{{-3e38f, 2.5f, 2.5f}, {}}, {{3e38f, 2.5f, 2.6f}, {}}, {{0, -3e38f, 2.4f}, {}}});
    mesh.indices.insert(mesh.indices.end(), {v, v + 1, v + 2});
    return mesh;
}

std::vector<std::uint8_t> EveryNth(std::size_t count, std::size_t n)
{
    std::vector<std::uint8_t> flags(count, 0);
    for (std::size_t t = 0; t < count; t += n)
        flags[t] = 1;
    return flags;
}

// focusEvery 0: no focus.
struct SearchCase { const char* name; std::function<TriangleMesh()> make; std::size_t focusEvery, pairs; std::uint64_t checksum; };

TEST(PinnedResults, SelfIntersectionPairLists)
{
    const SearchCase cases[] = {
        {"random soup, mixed sizes", [] { return test::MakeRandomTriangles(1, 2000, 40, 1.5f); }, 0, 625, 0x3b1558824748fe54ULL},
        {"random soup, small triangles", [] { return test::MakeRandomTriangles(2, 3000, 20, 0.4f); }, 0, 323, 0x78e46a2e802c60aaULL},
        // Neighbours count where they meet beyond what they share: 2,061 of these pairs share a
        // vertex, the other 18,509 as before (all checked against testing every pair).
        {"random triangles over a vertex pool", [] { return test::MakeRandomTriangles(3, 400, 10, 0, 60); }, 0, 20570, 0xe6eb3eb7fa99ab7fULL},
        {"random soup, 40000", [] { return test::MakeRandomTriangles(21, 40000, 60, 1.0f); }, 0, 32440, 0xda6c2ddd20473a5eULL},
        {"huge and tiny coordinates", HugeAndTinyTogether, 0, 345, 0x5c1b0aadfbc9cf0aULL},
        {"two overlapping spheres", [] { return test::Combined(MakeTestSphere(10), test::Translated(MakeTestSphere(10), {1.0f, 0.5f, 0.25f})); }, 0, 644, 0x113417b347d35fb7ULL},
        {"a small sphere through a large one", [] { return test::Combined(MakeTestSphere(10), test::Translated(MakeTestSphere(3), {8, 0.1f, 0.2f})); }, 0, 262, 0x536057a4180cf5ceULL},
        {"focus on every 37th", [] { return test::MakeRandomTriangles(41, 3000, 20, 0.8f); }, 37, 72, 0xb0408d0462769c11ULL},
    };
    for (const SearchCase& test : cases) {
        SCOPED_TRACE(test.name);
        const TriangleMesh mesh = test.make();
        const std::vector<std::uint8_t> focus =
            test.focusEvery == 0 ? std::vector<std::uint8_t>{} : EveryNth(mesh.TriangleCount(), test.focusEvery);
        for (const std::size_t threads : {std::size_t{1}, std::size_t{0}}) {
            SCOPED_TRACE(threads == 1 ? "one thread" : "all threads");
            std::vector<std::uint32_t> pairs;
            bool stopped = true;
            std::optional<ThreadLimit> limit;
            if (threads == 1)
                limit.emplace(1);
            FindSelfIntersections(mesh, focus, kNoPairLimit, pairs, stopped);
            EXPECT_FALSE(stopped);
            EXPECT_EQ(pairs.size() / 2, test.pairs);
            EXPECT_EQ(test::PairListChecksum(pairs), test.checksum) << std::hex << test::PairListChecksum(pairs);
        }
    }
}

std::uint64_t ReportChecksum(const StlReadResult& result)
{
    const Vec3 size = result.report.dimensions;
    return test::Fnv1a()
        .Word(result.ok ? 1 : 0)
        .Text(result.error)
        .Text(FormatImportReport(result.report))
        .AddValue(size.x).AddValue(size.y).AddValue(size.z)
        .AddValue(result.report.weldTolerance)
        .Value();
}

// The sphere as separate facets with every other facet's corners moved by one step of the
// float grid: the exact weld leaves seams that only the tolerance weld closes.
TriangleMesh SeamedSphereSoup()
{
    TriangleMesh soup = test::ToSoup(MakeTestSphere(30));
    for (std::size_t corner = 3; corner < soup.vertices.size(); corner += (corner % 3 == 2 ? 4 : 1))
        soup.vertices[corner].position.x = std::nextafter(soup.vertices[corner].position.x, 100.0f);
    return soup;
}

// The sphere with repeated facets (some reverse-wound), facets with a repeated corner and
// facets of three distinct collinear corners, spread through the file.
TriangleMesh SphereWithDuplicatesAndDegenerates()
{
    const TriangleMesh sphere = MakeTestSphere(20);
    TriangleMesh mesh = sphere;
    auto corner = [&](std::size_t t, int k) { return sphere.indices[3 * t + k]; };
    for (std::size_t t = 0; t < sphere.TriangleCount(); t += 97)
        mesh.indices.insert(mesh.indices.end(), {corner(t, 0), corner(t, 1), corner(t, 2)});
    for (std::size_t t = 5; t < sphere.TriangleCount(); t += 131)
        mesh.indices.insert(mesh.indices.end(), {corner(t, 0), corner(t, 2), corner(t, 1)});
    for (std::size_t t = 7; t < sphere.TriangleCount(); t += 89)
        mesh.indices.insert(mesh.indices.end(), {corner(t, 0), corner(t, 1), corner(t, 1)});
    for (int k = 0; k < 40; ++k) {
        const auto v = static_cast<std::uint32_t>(mesh.vertices.size());
        const float s = static_cast<float>(k);
        mesh.vertices.insert(mesh.vertices.end(), {{{s, 0, 0}, {}}, {{s + 1, 1, 1}, {}}, {{s + 2, 2, 2}, {}}});
        mesh.indices.insert(mesh.indices.end(), {v, v + 1, v + 2});
    }
    return mesh;
}

StlReadOptions With(std::function<void(StlReadOptions&)> change)
{
    StlReadOptions options;
    change(options);
    return options;
}

struct ReaderCase { const char* name; std::function<TriangleMesh()> make; StlReadOptions options; std::uint64_t meshChecksum, reportChecksum; };

TEST(PinnedResults, StlReaderMeshesAndReports)
{
    const ReaderCase cases[] = {
        {"closed sphere", [] { return MakeTestSphere(30); }, {}, 0x94eeaa5bd6e7eff6ULL, 0x124df803b80fee04ULL},
        {"seamed soup", SeamedSphereSoup, {}, 0x82e26ef09b986cb9ULL, 0x8c268cfa44e9b7e0ULL},
        {"random soup over a vertex pool", [] { return test::MakeRandomTriangles(5, 3000, 10, 0, 200); }, {}, 0xd416a2a3a4e09149ULL, 0xe338e0943d768be9ULL},
        {"wavy sheet, 180000 facets", [] { return test::MakeWavyGrid(300, 300); }, {}, 0x6d45ce94ec50de94ULL, 0xbd3e22d54c75d218ULL},
        // The seam weld's tolerance is the sphere's own 2e-05 mm: the flat facets out to 41 mm
        // no longer widen it (the meshes are as they were).
        {"duplicates and degenerates", SphereWithDuplicatesAndDegenerates, {}, 0x640c4db15f320dddULL, 0x13f9b178cfbf46b7ULL},
        {"duplicates removed", SphereWithDuplicatesAndDegenerates, With([](StlReadOptions& o) { o.removeDuplicates = true; }), 0xfee72f958764d483ULL, 0x16980f6fd9846c17ULL},
        {"zero-area facets kept", SphereWithDuplicatesAndDegenerates, With([](StlReadOptions& o) { o.removeZeroArea = false; }), 0xdd17e5a9f0ec0c6aULL, 0x2ae3dd7e7892b454ULL},
        {"exact weld only, no normals", SeamedSphereSoup, With([](StlReadOptions& o) { o.weldTolerance = 0; o.computeNormals = false; }), 0x43e21262303fe474ULL, 0x15c8b467aa434930ULL},
        {"no merging", SphereWithDuplicatesAndDegenerates, With([](StlReadOptions& o) { o.mergeVertices = false; }), 0xb2b07858c8ddcf1bULL, 0x5c58ee6c86a409dULL},
    };
    const test::TempFolder folder;
    for (const ReaderCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<std::uint8_t> bytes = EncodeBinaryStl(test.make(), "pinned");
        StlReadResult parsed;
        {
            ThreadLimit limit(1);
            parsed = ParseStl(bytes, "part.stl", test.options);
        }
        test::WriteAllBytes(folder / "part.stl", bytes);
        StlReadResult read = ReadStlFile(folder / "part.stl", test.options);
        for (const StlReadResult* result : {&parsed, &read}) {
            EXPECT_EQ(test::MeshChecksum(result->mesh), test.meshChecksum) << std::hex << test::MeshChecksum(result->mesh);
            EXPECT_EQ(ReportChecksum(*result), test.reportChecksum) << std::hex << ReportChecksum(*result);
        }
    }
}

// The simplify's result, both maps and its counts, on shapes that take each of its ways: a run
// with no fault, faults of its own mended round where they lie, crossings it was given (two
// bodies through each other), thin plates whose faces cross, which go through the repairs and
// the whole mesh again, and folds it was given. On one thread and on all: the result is the same on any number.
TEST(PinnedResults, SimplifyResults)
{
    const TriangleMesh spheres = test::Combined(test::MakeNoisySphere(7, 10.0f, 0.3f, 48, 96),
        test::Translated(test::MakeNoisySphere(8, 10.0f, 0.3f, 48, 96), {12.0f, 0.0f, 0.0f}));
    TriangleMesh plate = test::MakeNoisyBox(60, 0.3f);
    for (MeshVertex& v : plate.vertices)
        v.position.z *= 0.03f;
    plate.ComputeBounds();
    plate.ComputeVertexNormals();
    // A plate 0.2 mm thick waved 3 mm up and down over its low-x half, beside two boxes through
    // each other: merges push its sheets through each other, which takes every repair, the whole
    // mesh again and the input put back as it was.
    TriangleMesh wavy = test::MakeNoisyBox(20, 0.0f);
    for (MeshVertex& v : wavy.vertices) {
        Vec3& p = v.position;
        const float wave = p.x < 10.0f ? 3.0f * std::sin(p.x * 0.62831853f) * std::sin(p.y * 0.62831853f) : 0.0f;
        p.z = p.z * 0.01f + wave;
    }
    wavy.ComputeBounds();
    wavy.ComputeVertexNormals();
    wavy = test::Combined(wavy, test::Combined(test::MakeBox({30.0f, 0.0f, 0.0f}, {35.0f, 5.0f, 5.0f}),
                                               test::MakeBox({32.0f, 2.0f, 2.0f}, {37.0f, 7.0f, 7.0f})));
    // A sphere with every 397th vertex pushed 2 mm sideways past its neighbours: folds given.
    TriangleMesh folded = test::MakeBumpySphere(10.0f, 0.0f, 48, 96);
    for (std::size_t v = 397 / 2; v < folded.vertices.size(); v += 397) {
        const Vec3 p = folded.vertices[v].position;
        folded.vertices[v].position = p + Normalized(Cross(p, Vec3{0.0f, 0.0f, 1.0f})) * 2.0f;
    }
    folded.ComputeBounds();
    folded.ComputeVertexNormals();
    const struct {
        const char* name;
        TriangleMesh mesh;
        float error;
        std::uint64_t checksum;
    } cases[] = {
        {"bumpy sphere, Medium", test::MakeBumpySphere(20.0f, 0.6f, 200, 300), 0.1f, 0xfe83e54c25872ddbULL},
        {"noisy sphere, High", test::MakeNoisySphere(7, 10.0f, 0.3f, 48, 96), 0.01f, 0xf39923e206df474bULL},
        {"noisy box at 1e6 mm", test::Translated(test::MakeNoisyBox(24, 0.05f), {1.0e6f, -1.0e6f, 0.0f}), 0.01f, 0xa1bb76e924174011ULL},
        {"two noisy spheres through each other", spheres, 0.01f, 0x63339c41c8968ff5ULL},
        {"the same at 1e6 mm", test::Translated(spheres, {1.0e6f, 1.0e6f, 0.0f}), 0.01f, 0x4effece3e0a20da5ULL},
        {"a thin noisy plate whose faces cross, Extra low", plate, 1.0f, 0x5926e18859baf41aULL},
        {"a thin wavy plate beside two boxes through each other", wavy, 0.5f, 0x47282a7fc41ed1b4ULL},
        {"a sphere with vertices pushed past their neighbours", folded, 0.001f, 0x0c69fbe530e9c7fbULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::size_t threads : {std::size_t{1}, std::size_t{0}}) {
            SCOPED_TRACE(threads == 1 ? "one thread" : "all threads");
            std::optional<ThreadLimit> limit;
            if (threads == 1)
                limit.emplace(1);
            TriangleMesh mesh = c.mesh;
            MeshSimplifyOptions options;
            options.maximumError = c.error;
            const MeshSimplifyReport report = SimplifyMesh(mesh, options, {});
            const std::uint64_t sum = test::Fnv1a()
                .Word(static_cast<std::uint32_t>(test::MeshChecksum(mesh)))
                .Word(static_cast<std::uint32_t>(test::MeshChecksum(mesh) >> 32))
                .Add(report.vertexMap)
                .Add(report.faceMap)
                .AddValue(report.collapses).AddValue(report.refusedPinch).AddValue(report.refusedTip)
                .AddValue(report.refusedOther).AddValue(report.verticesHeldOnBed).AddValue(report.largestError)
                .Word(report.reruns).AddValue(report.crossingsGiven).AddValue(report.crossingsLeft)
                .Value();
            EXPECT_EQ(sum, c.checksum) << std::hex << "0x" << sum << "ULL, " << std::dec << report.reruns << " reruns";
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
