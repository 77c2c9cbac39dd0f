#include "engine/files/stl_writer.h"

#include "engine/files/json_settings.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/files/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/child_process.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <optional>

#include <bit>
#include <cfloat>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <tuple>

namespace grainforge::mesh {
namespace {

using Bytes = std::vector<std::uint8_t>;

TriangleMesh OneTriangle(Vec3 a, Vec3 b, Vec3 c) { return test::MeshOf({a, b, c}, {0, 1, 2}); }

StlWriteOptions Options(std::int32_t format, bool readBack)
{
    StlWriteOptions options;
    options.format = format;
    options.readBack = readBack;
    return options;
}

std::uint32_t U32At(const Bytes& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[at + i];
    return value;
}

float F32At(const Bytes& bytes, std::size_t at) { return std::bit_cast<float>(U32At(bytes, at)); }

// Every file and folder below `folder` with the contents of the files, to show that a failed
// save left the old target and no temporary file.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const Bytes bytes = entry.is_regular_file() ? test::ReadAllBytes(entry.path()) : Bytes{};
        entries[entry.path().lexically_relative(folder).string()] = std::string(bytes.begin(), bytes.end());
    }
    return entries;
}

TEST(EncodeBinaryStl, CubeIs684BytesWithPaddedHeaderFaceNormalsAndZeroAttributes)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    const Bytes bytes = EncodeBinaryStl(cube, "Tessary");
    ASSERT_EQ(bytes.size(), 684u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 7), "Tessary");
    EXPECT_EQ(std::count(bytes.begin() + 7, bytes.begin() + 80, 0), 73);
    EXPECT_EQ(U32At(bytes, 80), 12u);
    for (std::size_t t = 0; t < 12; ++t) {
        const std::size_t at = 84 + 50 * t;
        EXPECT_EQ((Vec3{F32At(bytes, at), F32At(bytes, at + 4), F32At(bytes, at + 8)}), cube.FaceNormal(t));
        for (std::size_t c = 0, p = at + 12; c < 3; ++c, p += 12)
            EXPECT_EQ((Vec3{F32At(bytes, p), F32At(bytes, p + 4), F32At(bytes, p + 8)}), cube.vertices[cube.indices[3 * t + c]].position);
        EXPECT_EQ(bytes[at + 48] | bytes[at + 49], 0);
    }
    const TriangleMesh sphere = MakeTestSphere(30.0f);  // several encoder blocks
    const Bytes blocks = EncodeBinaryStl(sphere, "Tessary");
    {
        const ThreadLimit limit(1);
        EXPECT_EQ(EncodeBinaryStl(sphere, "Tessary"), blocks);
    }
    const Bytes cut = EncodeBinaryStl(cube, std::string(100, 'h'));
    EXPECT_EQ(std::string(cut.begin(), cut.begin() + 80), std::string(80, 'h'));
}

TEST(EncodeBinaryStl, OverflowingCrossProductIsWrittenAsAZeroNormal)
{
    const TriangleMesh wide = OneTriangle({-3e38f, 0, 0}, {3e38f, 0, 0}, {0, 3e38f, 0});
    const Bytes bytes = EncodeBinaryStl(wide, "");
    ASSERT_EQ(bytes.size(), 134u);
    EXPECT_EQ((Vec3{F32At(bytes, 84), F32At(bytes, 88), F32At(bytes, 92)}), Vec3{});
    EXPECT_EQ(FormatAsciiStl(wide, "w").find("nan"), std::string::npos);
}

TEST(FormatAsciiStl, WritesTheExactLayoutWithShortestNumbers)
{
    const TriangleMesh mesh = OneTriangle({0.1f, -0.0f, 1e-7f}, {1.0f, 3e38f, 100000.0f}, {123456.0f, 0.0001f, 2.5f});
    const std::string text = FormatAsciiStl(mesh, "part");
    const std::string expectedTail =
        "\n    outer loop\n"
        "      vertex 0.1 -0 1e-07\n"
        "      vertex 1 3e+38 1e+05\n"
        "      vertex 123456 1e-04 2.5\n"
        "    endloop\n"
        "  endfacet\n"
        "endsolid part\n";
    ASSERT_EQ(text.rfind("solid part\n  facet normal ", 0), 0u) << text;
    ASSERT_GE(text.size(), expectedTail.size());
    EXPECT_EQ(text.substr(text.size() - expectedTail.size()), expectedTail) << text;
    EXPECT_EQ(FormatAsciiStl(OneTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), "t").rfind("solid t\n  facet normal 0 0 1\n", 0), 0u);
}

TEST(FormatAsciiStl, RandomFloatsReadBackBitExact)
{
    std::mt19937 random(2024);
    std::vector<float> values = {-0.0f, 0.0f, 1e-7f, -3e38f, 0.1f, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_TRUE_MIN, 16777217.0f};
    while (values.size() < 29997) {  // whole triangles
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(value))
            values.push_back(value);
    }
    TriangleMesh mesh;
    for (std::size_t i = 0; i < values.size(); i += 3) {
        mesh.vertices.push_back({{values[i], values[i + 1], values[i + 2]}, {}});
        mesh.indices.push_back(static_cast<std::uint32_t>(mesh.indices.size()));
    }
    const std::string text = FormatAsciiStl(mesh, "random");
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::vector<Vec3> corners;
    std::uint64_t facets = 0;
    std::string error;
    ASSERT_TRUE(ParseAsciiStl(bytes, corners, facets, error)) << error;
    EXPECT_EQ(facets, mesh.TriangleCount());
    ASSERT_EQ(corners.size(), mesh.indices.size());  // corner i is vertex i
    for (std::size_t i = 0; i < corners.size(); ++i)
        ASSERT_EQ(std::memcmp(&corners[i], &mesh.vertices[i].position, sizeof(Vec3)), 0) << i;  // -0 stays -0
}

TEST(WriteStlFile, RefusesMeshesThatCannotBeWritten)
{
    test::TempFolder folder;
    TriangleMesh fourIndices = MakeTestCube(20.0f);
    fourIndices.indices.resize(4);
    TriangleMesh notANumber = MakeTestCube(20.0f);
    notANumber.vertices[3].position.z = std::numeric_limits<float>::quiet_NaN();
    TriangleMesh unusedNaN = MakeTestCube(20.0f);  // an unused vertex is not written, so it does not matter
    unusedNaN.vertices.push_back({{std::numeric_limits<float>::quiet_NaN(), 0, 0}, {}});
    const struct { const char* name; TriangleMesh mesh; std::string error; } cases[] = {
        {"empty", TriangleMesh{}, "There is no geometry to export."},
        {"four indices", fourIndices, "The mesh has invalid indices and was not written."},
        {"NaN", notANumber, "The mesh has a coordinate that is not a number (NaN or infinity) and was not written."},
    };
    for (const auto& c : cases) {
        for (std::int32_t format : {0, 1}) {
            const ExportResult result = WriteStlFile(folder / "out.stl", c.mesh, Options(format, true));
            EXPECT_EQ(std::tuple(result.ok, result.error, result.report.fileName, result.report.format,
                                 result.report.trianglesWritten), std::tuple(false, c.error, "out.stl", format, 0u)) << c.name;
        }
    }
    EXPECT_TRUE(folder.List().empty()) << "nothing may be written for a refused mesh";
    const ExportResult unused = WriteStlFile(folder / "out.stl", unusedNaN, Options(0, true));
    EXPECT_TRUE(unused.ok) << unused.error;
}

TEST(WriteStlFile, AsciiWithoutReadBackSaysNoAndReadsBackToTheSameCube)
{
    test::TempFolder folder;
    const TriangleMesh cube = MakeTestCube(20.0f);
    const ExportResult result = WriteStlFile(folder / "cube.stl", cube, Options(1, false));
    ASSERT_TRUE(result.ok) << result.error;
    const std::string text = FormatAsciiStl(cube, "Tessary");
    EXPECT_EQ(test::ReadAllBytes(folder / "cube.stl"), std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(FormatExportReport(result.report),
              "Wrote: cube.stl\n"
              "Format: ASCII STL\n"
              "Triangles written: 12\n"
              "Bytes written: 1,591\n"
              "Dimensions: 20.00 x 20.00 x 20.00 mm\n"
              "Verified by reimport: no\n");
    EXPECT_TRUE(CompareRoundTrip(cube, ReadStlFile(folder / "cube.stl", {}).mesh).unchanged);
    // Binary with read-back; the other lines show in the report of a changed round trip below.
    const ExportResult binary = WriteStlFile(folder / "cube.stl", cube, StlWriteOptions{});
    EXPECT_EQ(test::ReadAllBytes(folder / "cube.stl"), EncodeBinaryStl(cube, "Tessary"));
    EXPECT_NE(FormatExportReport(binary.report).find("\nVerified by reimport: yes\nRound trip: unchanged\n"), std::string::npos);
}

TEST(WriteStlFile, SolidNamesWithSpacesAndKeywordsStillReadBack)
{
    test::TempFolder folder;
    StlWriteOptions options = Options(1, true);
    options.headerText = "my part\tvertex 1 2\nfacet\x01\x7f\xc3\xa9";
    EXPECT_TRUE(WriteStlFile(folder / "named.stl", MakeTestCube(20.0f), options).report.roundTrip.unchanged);
    const std::string text = Snapshot(folder.Path()).at("named.stl");
    EXPECT_EQ(text.rfind("solid my_part_vertex_1_2_facet__\xc3\xa9\n", 0), 0u) << text.substr(0, 60);
    EXPECT_NE(text.find("\nendsolid my_part_vertex_1_2_facet__\xc3\xa9\n"), std::string::npos);
}

TEST(WriteStlFile, TriangleWithoutAreaIsWrittenCountedAndShowsInTheRoundTrip)
{
    test::TempFolder folder;
    TriangleMesh mesh = MakeTestCube(20.0f);
    mesh.indices.insert(mesh.indices.end(), {0, 0, 0});
    const ExportResult result = WriteStlFile(folder / "c.stl", mesh, StlWriteOptions{});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(FormatExportReport(result.report),
              "Wrote: c.stl\n"
              "Format: Binary STL\n"
              "Triangles written: 13\n"
              "Bytes written: 734\n"
              "Dimensions: 20.00 x 20.00 x 20.00 mm\n"
              "Facets with no area: 1\n"
              "Verified by reimport: yes\n"
              "Round trip: CHANGED\n"
              "  Triangles: 13 -> 12\n"
              "  Dimensions: 20.00 x 20.00 x 20.00 mm -> 20.00 x 20.00 x 20.00 mm\n"
              "  Open boundary edges: 0 -> 0\n"
              "  Difference: Triangle count changed from 13 to 12.\n"
              "Warning: Wrote 1 facet with no area, whose normal is zero. Slicers may reject it.\n"
              "Warning: Round trip: Triangle count changed from 13 to 12.\n");
}

TEST(CompareRoundTrip, ReportsEachDifferenceInOrderAndTheVolumeOnlyAboveItsLimit)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    // Raising the top by d / 400 changes the 8000 cubic mm volume by d.
    const auto raised = [&](float d) {
        TriangleMesh mesh = cube;
        for (MeshVertex& v : mesh.vertices)
            if (v.position.z > 0)
                v.position.z += d / 400.0f;
        mesh.ComputeBounds();
        return mesh;
    };
    const RoundTripComparison half = CompareRoundTrip(cube, raised(0.5f));
    EXPECT_EQ(std::tuple(half.unchanged, half.differences), std::tuple(false, std::vector<std::string>{
        "Bounding box changed from 20.00 x 20.00 x 20.00 mm to 20.00 x 20.00 x 20.00 mm.",
        "Volume changed from 8000 to 8000.5 cubic mm."}));
    // 0.05 in 8000 is below the volume limit.
    EXPECT_EQ(CompareRoundTrip(cube, raised(0.05f)).differences, std::vector<std::string>{half.differences[0]});

    TriangleMesh openAndRaised = raised(100.0f);
    openAndRaised.indices.resize(33);  // one triangle gone: three open edges
    EXPECT_EQ(FormatRoundTrip(CompareRoundTrip(cube, openAndRaised)),
              "Round trip: CHANGED\n"
              "  Triangles: 12 -> 11\n"
              "  Dimensions: 20.00 x 20.00 x 20.00 mm -> 20.00 x 20.00 x 20.25 mm\n"
              "  Open boundary edges: 0 -> 3\n"
              "  Difference: Triangle count changed from 12 to 11.\n"
              "  Difference: Bounding box changed from 20.00 x 20.00 x 20.00 mm to 20.00 x 20.00 x 20.25 mm.\n"
              "  Difference: Volume changed from 8000 to 7425 cubic mm.\n"
              "  Difference: Open boundary edges changed from 0 to 3.\n");
}

// Distinct vertices at one position are one vertex in the file: the read-back counts edges and
// duplicate triangles as a slicer will, and says when they differ from the mesh's own.
TEST(WriteStlFile, ReadBackSeesVerticesThatShareAPositionAsOne)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    // A copy of the cube's first triangle on vertices of its own.
    TriangleMesh twinned = cube;
    for (int k = 0; k < 3; ++k) {
        twinned.vertices.push_back(cube.vertices[cube.indices[k]]);
        twinned.indices.push_back(static_cast<std::uint32_t>(twinned.vertices.size() - 1));
    }
    struct Case { const char* name; TriangleMesh mesh; std::vector<std::string> differences; };
    const Case cases[] = {
        {"two cubes touching along an edge", test::Combined(cube, test::Translated(cube, {20, 20, 0})),
            {"Non-manifold edges changed from 0 to 1."}},
        {"two cubes touching at a corner", test::Combined(cube, test::Translated(cube, {20, 20, 20})), {}},
        {"two cubes side by side", test::Combined(cube, test::Translated(cube, {30, 0, 0})), {}},
        {"a triangle twice on vertices of its own", twinned,
            {"Open boundary edges changed from 3 to 0.", "Non-manifold edges changed from 0 to 3.",
                "Duplicate triangles changed from 0 to 1."}},
    };
    const test::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ExportResult result = WriteStlFile(folder / "part.stl", c.mesh, StlWriteOptions{});
        ASSERT_TRUE(result.ok) << result.error;
        ASSERT_TRUE(result.report.verified);
        EXPECT_EQ(result.report.roundTrip.differences, c.differences);
        EXPECT_EQ(result.report.roundTrip.unchanged, c.differences.empty());
        std::vector<std::string> warnings;
        for (const std::string& difference : c.differences)
            warnings.push_back("Round trip: " + difference);
        EXPECT_EQ(result.report.warnings, warnings);
    }
}

TEST(WriteStlFile, ReadBackComparesTheBoxOfTheTrianglesNotTheStoredOne)
{
    // Moving the top by 5 mm without ComputeBounds leaves the stored box stale; an unused vertex
    // far away is in the stored box but never in the file. Neither is a change.
    TriangleMesh staleTop = MakeTestCube(20.0f), farVertex = MakeTestCube(20.0f), noBox = MakeTestCube(20.0f);
    for (MeshVertex& v : staleTop.vertices)
        v.position.z += v.position.z > 0 ? 5.0f : 0.0f;
    farVertex.vertices.push_back({{500, 500, 500}, {}});
    farVertex.ComputeBounds();
    noBox.boundsValid = false;
    noBox.boundsMin = noBox.boundsMax = {};
    test::TempFolder folder;
    for (const auto& [mesh, height] : {std::pair{staleTop, 25.0f}, std::pair{farVertex, 20.0f}, std::pair{noBox, 20.0f}}) {
        const ExportResult result = WriteStlFile(folder / "c.stl", mesh, StlWriteOptions{});
        ASSERT_TRUE(result.ok) << result.error;
        const Vec3 size{20, 20, height};
        EXPECT_EQ(std::tuple(result.report.dimensions, result.report.roundTrip.dimensionsBefore,
                             result.report.roundTrip.dimensionsAfter, result.report.roundTrip.unchanged),
                  std::tuple(size, size, size, true)) << height;
    }
    // A box that really changed is still reported, even when both stored boxes agree.
    TriangleMesh moved = MakeTestCube(20.0f);
    moved.vertices[0].position.x -= 1.0f;
    EXPECT_EQ(CompareRoundTrip(MakeTestCube(20.0f), moved).differences.at(0),
              "Bounding box changed from 20.00 x 20.00 x 20.00 mm to 21.00 x 20.00 x 20.00 mm.");
}

// The STL writer and the JSON save replace their target through the same platform layer: each
// way of failing once, over either of them. A save returns "" or its error ("refused" for JSON).
using Save = std::function<std::string(const std::filesystem::path&)>;

std::string SaveStl(const std::filesystem::path& path, const TriangleMesh& mesh = MakeTestCube(20.0f))
{
    const ExportResult result = WriteStlFile(path, mesh, StlWriteOptions{});
    return result.ok ? "" : result.error;
}

std::string SaveJson(const std::filesystem::path& path)
{
    JsonNode document = NewJsonDocument();
    document.PutString("long", std::string(1000, 'x'));
    return SaveJsonFile(document, path) ? "" : "refused";
}

TEST(DurableReplace, FailuresLeaveTheOldTargetAndNoTemporaryFile)
{
    // Root may write anywhere, so most failures come from the paths; a file-size limit makes a
    // write fail part way as a full disk does, and a read-only folder needs an unprivileged child.
    enum class Run { Here, SizeLimit, ReadOnly };
    const Save stl = [](const std::filesystem::path& p) { return SaveStl(p); };
    const Save point = [](const std::filesystem::path& p) { return SaveStl(p, OneTriangle({1, 1, 1}, {1, 1, 1}, {1, 1, 1})); };
    const struct { const char* name; Save save; const char* target; Run run; std::string error; } cases[] = {
        {"STL onto a folder", stl, "folder/inside", Run::Here, "The file could not be opened for writing: Is a directory"},
        // "@" stands for the temporary folder: what is in the way is named.
        {"STL below a file", stl, "old/part.stl", Run::Here,
         "The file could not be opened for writing: @/old on its way is not a folder"},
        {"JSON in a missing folder", SaveJson, "none/t.json", Run::Here, "refused"},
        {"STL that reads back as nothing", point, "old", Run::Here,
         "The exported file could not be read back: Every triangle in the file was removed as degenerate, leaving no "
         "geometry."},
        {"STL short write", stl, "old", Run::SizeLimit, "The file could not be written completely: File too large"},
        {"STL in a read-only folder", stl, "locked/old", Run::ReadOnly,
         "The file could not be opened for writing: its folder @/locked cannot be written (Permission denied)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        std::filesystem::permissions(folder.Path(), std::filesystem::perms(0755));
        std::filesystem::create_directories(folder / "folder" / "inside");
        test::WriteAllText(folder / "folder" / "inside" / "kept", "kept");
        test::WriteAllText(folder / "old", "old contents");
        std::filesystem::create_directory(folder / "locked");
        test::WriteAllText(folder / "locked" / "old", "old contents");
        std::filesystem::permissions(folder / "locked" / "old", std::filesystem::perms(0666));
        std::filesystem::permissions(folder / "locked", std::filesystem::perms(0555));
        const auto before = Snapshot(folder.Path());
        const std::filesystem::path target = folder / c.target;
        std::optional<std::string> error;
        if (c.run == Run::Here) {
            error = c.save(target);
        } else if (c.run == Run::SizeLimit) {
            error = test::RunInChild([&] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{100, 100};
                return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? c.save(target) : "setrlimit failed";
            });
        } else if (!(error = test::RunUnprivileged([&] { return c.save(target); }))) {
            continue;  // could not drop root privileges, so the folder's permissions would not apply
        }
        std::string expected = c.error;
        for (std::size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@'))
            expected.replace(at, 1, folder.Path().string());
        EXPECT_EQ(*error, expected);
        EXPECT_EQ(Snapshot(folder.Path()), before);
        std::filesystem::permissions(folder / "locked", std::filesystem::perms(0755));
    }
}

TEST(DurableReplace, WritesThroughALinkKeepingThePermissions)
{
    for (const auto& [name, save] : {std::pair{"STL", Save([](const std::filesystem::path& p) { return SaveStl(p); })},
                                     std::pair{"JSON", Save(SaveJson)}}) {
        SCOPED_TRACE(name);
        test::TempFolder folder;
        std::filesystem::create_directory(folder / "real");
        std::filesystem::create_directory(folder / "links");
        test::WriteAllText(folder / "real" / "part", "old contents");
        std::filesystem::permissions(folder / "real" / "part", std::filesystem::perms(0640));
        std::filesystem::create_symlink("../real/part", folder / "links" / "part");
        EXPECT_EQ(save(folder / "links" / "part"), "");
        EXPECT_TRUE(std::filesystem::is_symlink(folder / "links" / "part"));
        EXPECT_GT(test::ReadAllBytes(folder / "real" / "part").size(), 600u);
        EXPECT_EQ(std::filesystem::status(folder / "real" / "part").permissions(), std::filesystem::perms(0640));
        EXPECT_EQ(Snapshot(folder.Path()).size(), 4u) << "a temporary file was left";
    }
}

}  // namespace
}  // namespace grainforge::mesh
