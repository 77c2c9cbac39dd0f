#include "engine/mesh/stl_reader.h"

#include "engine/mesh/report_text.h"
#include "engine/mesh/stl_reader_detail.h"
#include "engine/mesh/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/mesh/tidying.h"
#include "tests/support/checksum.h"
#include "tests/support/child_process.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The 12 triangles of a cube of the given edge centred on the origin, outward, as a soup.
std::vector<Vec3> CubeCorners(float edge)
{
    std::vector<Vec3> corners;
    for (const MeshVertex& v : test::MakeCubeSoup(edge).vertices)
        corners.push_back(v.position);
    return corners;
}

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Binary STL of the corners with the given header and declared count (default: the real one).
Bytes BinaryStl(const std::vector<Vec3>& corners, const std::string& header = "",
                std::optional<std::uint32_t> declared = std::nullopt)
{
    const std::size_t facets = corners.size() / 3;
    Bytes bytes(84 + 50 * facets, 0);
    std::memcpy(bytes.data(), header.data(), std::min<std::size_t>(header.size(), 80));
    PutU32(bytes, 80, declared.value_or(static_cast<std::uint32_t>(facets)));
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const std::size_t at = 84 + 50 * (i / 3) + 12 + 12 * (i % 3);
        PutU32(bytes, at, std::bit_cast<std::uint32_t>(corners[i].x));
        PutU32(bytes, at + 4, std::bit_cast<std::uint32_t>(corners[i].y));
        PutU32(bytes, at + 8, std::bit_cast<std::uint32_t>(corners[i].z));
    }
    return bytes;
}

std::string AsciiStl(const std::vector<Vec3>& corners, const std::string& solidLine = "solid part")
{
    std::string text = solidLine + "\n";
    for (std::size_t i = 0; i < corners.size(); ++i) {
        if (i % 3 == 0)
            text += " facet normal 0 0 0\n  outer loop\n";
        text += "   vertex " + std::to_string(corners[i].x) + " " + std::to_string(corners[i].y) + " " +
                std::to_string(corners[i].z) + "\n";
        if (i % 3 == 2)
            text += "  endloop\n endfacet\n";
    }
    return text + "endsolid part\n";
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

StlReadResult Parse(const Bytes& bytes, const StlReadOptions& options = {})
{
    return ParseStl(bytes, "part.stl", options);
}

TEST(ParseStl, RefusesBadInputWithTheExactTexts)
{
    Bytes trailing = BinaryStl(CubeCorners(20.0f));
    trailing.resize(84 + 50);
    PutU32(trailing, 80, 1);
    trailing.resize(144, 0x55);
    Bytes hugeCount(100, 0);
    PutU32(hugeCount, 80, 0xffffffffu);
    Bytes solidHeader = BinaryStl(CubeCorners(20.0f), "solid binary with a text-like header");
    solidHeader.pop_back();
    Bytes solidTrailing = BinaryStl(CubeCorners(20.0f), "solid exported by a CAD program");
    solidTrailing.resize(694, ' ');
    std::vector<Vec3> nanCorners = CubeCorners(20.0f);
    nanCorners[4].y = std::numeric_limits<float>::infinity();
    Bytes solidMarked = BinaryStl(CubeCorners(20.0f), "solid from an old program");
    solidMarked.resize(744, 0x1a);
    Bytes solidEmptyPadded = BinaryStl({}, "solid empty");
    solidEmptyPadded.resize(284, 0);
    // The cube's text with a NUL among its facets, then the end-of-file mark after "endsolid".
    std::string nulInFacets = AsciiStl(CubeCorners(20.0f)) + "\x1a";
    nulInFacets.insert(nulInFacets.find("endloop"), 1, '\0');

    const struct { const char* name; Bytes bytes; StlFormat format; std::string error; } cases[] = {
        {"empty", {}, StlFormat::Unrecognised, "The file is too small to be an STL: 0 bytes."},
        {"50 bytes of text", ToBytes(std::string(50, 'a')), StlFormat::Unrecognised,
         "The file is not recognised as either a binary or an ASCII STL."},
        {"one facet and 10 more bytes", trailing, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 1 triangles, which needs 134 bytes, but the file is "
         "144 bytes (unexpected trailing data)."},
        {"largest count", hugeCount, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 4,294,967,295 triangles, which needs "
         "214,748,364,834 bytes, but the file is 100 bytes (truncated)."},
        // A "solid" header never turns a binary file of the wrong size into an ASCII reading.
        {"solid header, size off by one", solidHeader, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 12 triangles, which needs 684 bytes, but the file is "
         "683 bytes (truncated)."},
        {"solid header, trailing spaces", solidTrailing, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 12 triangles, which needs 684 bytes, but the file is "
         "694 bytes (unexpected trailing data)."},
        {"solid header, end-of-file marks", solidMarked, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 12 triangles, which needs 684 bytes, but the file is "
         "744 bytes (unexpected trailing data)."},
        {"solid header, count 0, NUL padding", solidEmptyPadded, StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 0 triangles, which needs 84 bytes, but the file is "
         "284 bytes (unexpected trailing data)."},
        {"solid header, count too large", BinaryStl(CubeCorners(20.0f), "solid part", 100), StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 100 triangles, which needs 5,084 bytes, but the file is "
         "684 bytes (truncated)."},
        // A control byte inside the facet text is no end-of-file mark: the bytes are not text.
        {"ascii cube with a NUL among its facets", ToBytes(nulInFacets), StlFormat::Unrecognised,
         "The file is not a valid STL. Its header declares 808,464,432 triangles, which needs 40,423,221,684 bytes, "
         "but the file is 2,157 bytes (truncated)."},
        {"binary count 0", BinaryStl({}), StlFormat::Binary, "The file contains no triangles."},
        {"ascii without facets", ToBytes("solid x\nendsolid x\n"), StlFormat::Ascii, "The file contains no triangles."},
        {"vertex with two numbers", ToBytes("solid x\nfacet\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1"), StlFormat::Ascii,
         "The file ends in the middle of a vertex."},
        {"four vertices", ToBytes("solid x\nvertex 0 0 0 vertex 1 0 0 vertex 0 1 0 vertex 0 0 1\nendsolid x\n"),
         StlFormat::Ascii, "The file ends in the middle of a facet: 4 vertices is not a whole number of triangles."},
        {"nan word", ToBytes("solid x\nvertex nan 0 0\nvertex 1 0 0\nvertex 0 1 0\n"), StlFormat::Ascii,
         "The file contains a coordinate that is not a number (NaN or infinity)."},
        {"binary infinity", BinaryStl(nanCorners), StlFormat::Binary,
         "The file contains a coordinate that is not a number (NaN or infinity)."},
        {"only a point triangle", BinaryStl({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}), StlFormat::Binary,
         "Every triangle in the file was removed as degenerate, leaving no geometry."},
    };
    for (const auto& c : cases) {
        const StlReadResult result = Parse(c.bytes);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
        EXPECT_EQ(result.report.format, c.format) << c.name;
        EXPECT_EQ(result.report.fileName, "part.stl") << c.name;
        EXPECT_TRUE(result.mesh.vertices.empty() && result.mesh.indices.empty()) << c.name;
        EXPECT_EQ(result.report.trianglesRead, 0u) << c.name;
    }
}

TEST(ParseStl, ClosedCubeOfSeparateFacetsWeldsExactlyWithoutWarnings)
{
    // A binary header may begin with "solid": the size decides.
    const Bytes solidHeader = BinaryStl(CubeCorners(20.0f), "solid cube");
    EXPECT_EQ(DetectStlFormat(solidHeader), StlFormat::Binary);
    EXPECT_EQ(Parse(solidHeader).report.trianglesKept, 12u);
    const StlReadResult result = Parse(BinaryStl(CubeCorners(20.0f)));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(std::tuple(result.mesh.vertices.size(), result.mesh.TriangleCount(), result.mesh.boundsValid),
              std::tuple(8u, 12u, true));
    EXPECT_FLOAT_EQ(result.mesh.Volume(), 8000.0f);
    for (const MeshVertex& v : result.mesh.vertices)
        EXPECT_NEAR(Dot(v.normal, v.normal), 1.0f, 1e-5f) << "normals were not computed";
    // The lines that differ from the full report below.
    const std::string text = FormatImportReport(result.report);
    EXPECT_NE(text.find("\nFormat: Binary STL\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nWelding: exact\nVertices before welding: 36\nVertices after welding: 8\n"), std::string::npos);
    EXPECT_TRUE(result.report.warnings.empty());
}

TEST(ParseStl, AsciiSolidKeywordInAnyCaseAfterBlankLines)
{
    for (const char* solid : {"solid cube", "\n\n  \r\n\tSOLID cube", "\v\fSoLiD cube", "solid"}) {
        const Bytes bytes = ToBytes(AsciiStl(CubeCorners(20.0f), solid));
        const StlReadResult result = Parse(bytes);
        ASSERT_TRUE(result.ok) << solid << ": " << result.error;
        EXPECT_EQ(std::tuple(result.report.format, result.report.trianglesKept), std::tuple(StlFormat::Ascii, 12u));
        EXPECT_TRUE(result.report.warnings.empty()) << solid;
    }
}

TEST(ParseStl, AsciiCubeFollowedByAControlByteIsNotTakenForBinary)
{
    // Older programs end a text file with the DOS end-of-file mark, 0x1A; others pad with NULs.
    const std::string cube = AsciiStl(CubeCorners(20.0f));
    std::string crlf;
    for (const char c : cube)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string unended = cube.substr(0, cube.rfind("endsolid"));
    const std::string garbage = std::string("\x1a") + "vertex \x01\x02 1e99\xff\n";
    const std::string ignored = "The file contains 18 bytes of other data after \"endsolid\". They were ignored.";
    const struct { const char* name; std::string text; std::vector<std::string> warnings; } cases[] = {
        {"end-of-file mark", cube + "\x1a", {}},
        {"NUL", cube + std::string(1, '\0'), {}},
        {"NUL run", cube + std::string(300, '\0'), {}},
        {"CRLF lines and the mark", crlf + "\x1a", {}},
        {"no endsolid, mark and line break", unended + "\x1a\r\n", {}},
        {"mark and garbage", cube + garbage, {ignored}},
        {"garbage on the endsolid line", cube.substr(0, cube.size() - 1) + garbage,
         {"The file contains 17 bytes of other data after \"endsolid\". They were ignored."}},
        {"text words, then garbage", cube + "written by a converter " + garbage,
         {"The file contains 41 bytes of other data after \"endsolid\". They were ignored."}},
    };
    for (const auto& c : cases) {
        const StlReadResult result = Parse(ToBytes(c.text));
        EXPECT_TRUE(result.ok) << c.name << ": " << result.error;
        EXPECT_EQ(std::tuple(result.report.format, result.report.trianglesKept, result.report.warnings),
                  std::tuple(StlFormat::Ascii, 12u, c.warnings)) << c.name;
    }
}

TEST(ParseStl, FacetKeywordCountThatDiffersFromTheDataIsAWarningWithGroupedCounts)
{
    std::string many = "solid x\n";
    for (int i = 0; i < 1234; ++i)
        many += "facet ";
    many += "vertex 0 0 0 vertex 1 0 0 vertex 0 1 0";
    // Other programs name their solids freely; a name is the rest of the "solid" line, so 12
    // "facet" keywords in the first solid and 36 in the second, none taken from a name.
    std::string named = AsciiStl(CubeCorners(20.0f), "solid vertex 1 2 3 facet facet") + "solid second vertex facet\r";
    for (const Vec3& p : CubeCorners(4.0f))
        named += "facet vertex " + std::to_string(p.x + 50) + " " + std::to_string(p.y) + " " + std::to_string(p.z) + "\n";
    named += "endsolid second vertex 9 facet";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {named, {"The file contains 48 facet keywords but 24 triangles of vertex data.",
                 "The file contains 2 disconnected components."}},
        {many, {"The file contains 1,234 facet keywords but 1 triangles of vertex data.",
                "The mesh is not closed: 3 open boundary edges."}},
        {"solid x\nfacet normal 0 0 1\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
         "vertex 0 0 5\nvertex 1 0 5\nvertex 0 1 5\nendsolid x\n",
         {"The file contains 1 facet keywords but 2 triangles of vertex data.",
          "The mesh is not closed: 6 open boundary edges.", "The file contains 2 disconnected components."}},
    };
    for (const auto& [text, warnings] : cases) {
        const StlReadResult result = Parse(ToBytes(text));
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.report.warnings, warnings) << text.substr(0, 40);
    }
}

TEST(ParseStl, DegenerateTrianglesAreRemovedAndCounted)
{
    std::vector<Vec3> corners = CubeCorners(20.0f);
    corners.insert(corners.end(), {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
    const StlReadResult result = Parse(BinaryStl(corners));
    // The lone point is dropped with its triangle.
    EXPECT_EQ(std::tuple(result.report.trianglesRead, result.report.trianglesKept, result.report.degenerateRemoved,
                         result.report.verticesAfterWelding), std::tuple(13u, 12u, 1u, 8u));
    EXPECT_EQ(result.report.warnings, std::vector<std::string>{"Removed 1 degenerate triangles that enclosed no area."});

    // A collinear triangle has no area either, but stays when asked to.
    corners.insert(corners.end(), {{30, 0, 0}, {31, 0, 0}, {32, 0, 0}});
    EXPECT_EQ(Parse(BinaryStl(corners)).report.degenerateRemoved, 2u);
    StlReadOptions options;
    options.removeZeroArea = false;
    const StlReadResult kept = Parse(BinaryStl(corners), options);
    EXPECT_EQ(std::tuple(kept.report.degenerateRemoved, kept.report.trianglesKept), std::tuple(1u, 13u));
}

// Deleting a zero-area facet of a closed file opens its three edges; the import (and Mesh >
// Repair's tidy) collapses it, keeping every corner of the part where it was, and calls the
// file closed.
TEST(ParseStl, ClosedFileWithZeroAreaFacetsImportsClosed)
{
    using test::WithZeroAreaFacet;
    const TriangleMesh soup = test::MakeCubeSoup(20.0f);
    const struct {
        const char* name;
        TriangleMesh part;
        std::uint64_t removed;
    } cases[] = {
        {"split near its start", WithZeroAreaFacet(soup, 0, 0, 0.25f), 1},
        {"split near its end", WithZeroAreaFacet(soup, 0, 0, 0.75f), 1},
        {"two facets split", WithZeroAreaFacet(WithZeroAreaFacet(soup, 0, 1, 0.25f), 5, 2, 0.75f), 2},
    };
    for (const auto& c : cases) {
        const StlReadResult read = Parse(EncodeBinaryStl(c.part, "sealed"));
        EXPECT_EQ(std::tuple(read.report.degenerateRemoved, read.report.openBoundaryEdges, read.report.weldTolerance,
                      read.mesh.vertices.size(), read.mesh.TriangleCount()),
            std::tuple(c.removed, 0u, 0.0f, std::size_t{8}, std::size_t{12})) << c.name;
        TriangleMesh tidied = c.part;
        static_cast<void>(TidyMesh(tidied, TidyOptions{}));
        for (const TriangleMesh* mesh : {&read.mesh, static_cast<const TriangleMesh*>(&tidied)}) {
            EXPECT_EQ(std::tuple(CountEdges(*mesh).boundary, mesh->Volume(), mesh->boundsMin, mesh->boundsMax),
                std::tuple(0u, 8000.0f, Vec3{-10, -10, -10}, Vec3{10, 10, 10})) << c.name;
        }
    }
}

TEST(ParseStl, DuplicatesAreCountedOrRemovedAndEdgeCountsFollow)
{
    std::vector<Vec3> corners = CubeCorners(20.0f);
    corners.insert(corners.end(), {corners[2], corners[1], corners[0]});  // reverse-wound twin
    EXPECT_EQ(Parse(BinaryStl(corners)).report.warnings,
              (std::vector<std::string>{
                  "The file contains 1 duplicate triangles. They were kept; removing them is a repair operation.",
                  "The mesh has 3 non-manifold edges shared by more than two triangles."}));

    StlReadOptions options;
    options.removeDuplicates = true;
    const StlReadResult removed = Parse(BinaryStl(corners), options);
    EXPECT_EQ(std::tuple(removed.report.nonManifoldEdges, removed.report.warnings.size()), std::tuple(0u, 0u));
    EXPECT_NE(FormatImportReport(removed.report).find("\nDuplicate triangles: 1 (1 removed)\n"), std::string::npos);
}

TEST(ParseStl, ToleranceWeldRunsOnlyWhenTheExactWeldLeavesSeams)
{
    // One corner copy off by 2e-6 mm: the exact weld leaves a seam, the automatic tolerance
    // (1e-6 x 10 mm) closes it.
    std::vector<Vec3> corners = CubeCorners(20.0f);
    corners[0].x += 2e-6f;
    const StlReadResult welded = Parse(BinaryStl(corners));
    EXPECT_EQ(std::tuple(welded.report.weldTolerance, welded.report.verticesAfterWelding,
                         welded.report.openBoundaryEdges, welded.report.warnings.size()), std::tuple(10.0f * 1e-6f, 8u, 0u, 0u));
    EXPECT_NE(FormatImportReport(welded.report).find("\nWelding: exact, then 1e-05 mm to close remaining seams\n"),
              std::string::npos);

    StlReadOptions exactOnly;
    exactOnly.weldTolerance = 0.0f;
    const StlReadResult open = Parse(BinaryStl(corners), exactOnly);
    EXPECT_EQ(std::tuple(open.report.weldTolerance, open.report.verticesAfterWelding), std::tuple(0.0f, 9u));
    EXPECT_EQ(open.report.warnings.at(0), "The mesh is not closed: 4 open boundary edges.");

    // A closed part never gets the tolerance weld, however large the tolerance.
    StlReadOptions wide;
    wide.weldTolerance = 5.0f;
    const StlReadResult closed = Parse(BinaryStl(CubeCorners(20.0f)), wide);
    EXPECT_EQ(std::tuple(closed.report.weldTolerance, closed.report.verticesAfterWelding), std::tuple(0.0f, 8u));
}

TEST(ParseStl, UnitHintsAtBothEndsButNotAtTheLimits)
{
    const std::pair<float, std::vector<std::string>> cases[] = {
        {0.5f, {"The model is only 0.50 mm across. It may not have been authored in millimetres."}},
        {1500.0f, {"The model is 1500.00 mm across. It may not have been authored in millimetres."}},
        {1000.0f, {}},
    };
    for (const auto& [edge, warnings] : cases)
        EXPECT_EQ(Parse(BinaryStl(CubeCorners(edge))).report.warnings, warnings) << edge;
}

TEST(FormatImportReport, PrintsEveryLineWithGroupedCountsAndWarnings)
{
    StlImportReport report{.fileName = "big part.stl", .format = StlFormat::Ascii, .trianglesRead = 1234567,
        .trianglesKept = 1234000, .degenerateRemoved = 567, .duplicateTriangles = 2000, .duplicatesRemoved = 0,
        .weldTolerance = 0.000125f, .verticesBeforeWelding = 3703701, .verticesAfterWelding = 617002,
        .dimensions = {150.0f, 75.125f, 0.004f}, .openBoundaryEdges = 12, .nonManifoldEdges = 1001, .components = 3,
        .warnings = {"First.", "Second."}};
    EXPECT_EQ(FormatImportReport(report),
              "File: big part.stl\n"
              "Format: ASCII STL\n"
              "Units: Assumed millimetres\n"
              "Triangles read: 1,234,567\n"
              "Triangles kept: 1,234,000\n"
              "Degenerate triangles removed: 567\n"
              "Duplicate triangles: 2,000\n"
              "Welding: exact, then 0.000125 mm to close remaining seams\n"
              "Vertices before welding: 3,703,701\n"
              "Vertices after welding: 617,002\n"
              "Dimensions: 150.00 x 75.12 x 0.00 mm\n"
              "Open boundary edges: 12\n"
              "Non-manifold edges: 1,001\n"
              "Components: 3\n"
              "Warning: First.\n"
              "Warning: Second.\n");
    report.format = StlFormat::Unrecognised;
    EXPECT_NE(FormatImportReport(report).find("\nFormat: Unrecognised\n"), std::string::npos);
}

TEST(ReadStlFile, NamesTheFileWithoutFoldersOrFailsWithTheSystemText)
{
    test::TempFolder folder;
    test::WriteAllBytes(folder / "cube.stl", BinaryStl(CubeCorners(20.0f)));
    const StlReadResult result = ReadStlFile(folder / "cube.stl", {});
    EXPECT_EQ(std::tuple(result.ok, result.report.fileName, result.report.trianglesKept), std::tuple(true, "cube.stl", 12u));

    const StlReadResult missing = ReadStlFile(folder / "missing.stl", {});
    EXPECT_EQ(missing.error, "The file could not be opened: nothing of that name is in its folder");
    // A link that leads nowhere says so, rather than that there is no such file.
    std::filesystem::create_symlink(folder / "gone.stl", folder / "link.stl");
    EXPECT_EQ(ReadStlFile(folder / "link.stl", {}).error,
              "The file could not be opened: it is a link that leads nowhere: " + (folder / "gone.stl").string() +
                  " is not there");
    EXPECT_EQ(std::tuple(missing.ok, missing.report.fileName, missing.report.format),
              std::tuple(false, "missing.stl", StlFormat::Unrecognised));
    test::WriteAllBytes(folder / "empty.stl", {});
    EXPECT_EQ(ReadStlFile(folder / "empty.stl", {}).error, "The file is too small to be an STL: 0 bytes.");
}

TEST(ReadStlFile, UnreadableFileFailsWithTheOpenText)
{
    test::TempFolder folder;
    std::filesystem::permissions(folder.Path(), std::filesystem::perms(0755));
    const auto path = folder / "locked.stl";
    test::WriteAllBytes(path, BinaryStl(CubeCorners(20.0f)));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const auto text = test::RunUnprivileged([&] { return ReadStlFile(path, {}).error; });
    if (!text)
        GTEST_SKIP() << "could not drop root privileges, so the file's permissions would not apply";
    EXPECT_EQ(*text, "The file could not be opened for reading: Permission denied");
}

// Each file that is no regular one is refused at once and named for what it is.
TEST(ReadStlFile, NamedPipeFolderDeviceAndSocketAreRefusedAtOnce)
{
    const test::TempFolder folder;
    std::vector<test::NonRegularFile> files = test::MakeNonRegularFiles(folder.Path(), "part.stl");
    ASSERT_TRUE(test::MakeSocketFile(folder / "part.stl"));
    files.push_back({"socket", folder / "part.stl"});
    for (const test::NonRegularFile& file : files) {
        SCOPED_TRACE(file.kind);
        const auto error = test::CallWithin<std::string>([path = file.path] { return ReadStlFile(path, {}).error; });
        ASSERT_TRUE(error) << "still waiting";
        EXPECT_EQ(*error, "The file could not be opened: it is not a regular file (it is a " + file.kind + ").");
    }
}

// Older CAD programs write every keyword in capitals.
TEST(ParseStl, AsciiKeywordsInAnyCase)
{
    const std::pair<const char*, std::array<const char*, 7>> spellings[] = {
        {"lower", {"facet normal", "outer loop", "vertex", "endloop", "endfacet", "solid", "endsolid"}},
        {"upper", {"FACET NORMAL", "OUTER LOOP", "VERTEX", "ENDLOOP", "ENDFACET", "SOLID", "ENDSOLID"}},
        {"mixed", {"Facet Normal", "Outer Loop", "VerTex", "EndLoop", "endFacet", "Solid", "EndSolid"}},
    };
    for (const auto& [name, word] : spellings) {
        SCOPED_TRACE(name);
        std::string text = std::string(word[5]) + " part\n";
        const std::vector<Vec3> corners = CubeCorners(20.0f);
        for (std::size_t i = 0; i < corners.size(); ++i) {
            if (i % 3 == 0)
                text += std::string(word[0]) + " 0 0 0\n" + word[1] + "\n";
            text += std::string(word[2]) + " " + std::to_string(corners[i].x) + " " + std::to_string(corners[i].y) +
                    " " + std::to_string(corners[i].z) + "\n";
            if (i % 3 == 2)
                text += std::string(word[3]) + "\n" + word[4] + "\n";
        }
        text += std::string(word[6]) + " part\n";
        const StlReadResult result = Parse(ToBytes(text));
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(std::tuple(result.report.format, result.report.trianglesKept, result.report.verticesAfterWelding,
                             result.report.warnings.size()), std::tuple(StlFormat::Ascii, 12u, 8u, 0u));
    }
}

std::string ResultText(const StlReadResult& result)
{
    return std::to_string(result.ok) + "|" + result.error + "|" + FormatImportReport(result.report) + "|" +
           std::to_string(test::MeshChecksum(result.mesh));
}

// Reading a file a chunk at a time gives what reading its bytes at once gives, wherever the
// chunk borders fall: inside keywords, numbers, the solid's name, a trailer after "endsolid".
TEST(ReadStlFile, ChunkBordersAnywhereGiveTheSameResult)
{
    const std::vector<Vec3> sphere = [] {
        std::vector<Vec3> corners;
        for (const MeshVertex& v : test::ToSoup(MakeTestSphere(5)).vertices)
            corners.push_back(v.position);
        corners.resize(3 * 120);
        return corners;
    }();
    const std::string ascii = AsciiStl(sphere, "solid a name with vertex 1 2 in it");
    const std::string longNumber = "0." + std::string(9000, '0') + "1";
    const struct { const char* name; Bytes bytes; } files[] = {
        {"ascii", ToBytes(ascii)},
        {"ascii in capitals, CR LF", ToBytes([&] {
             std::string text;
             for (const char c : ascii)
                 text += c == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(std::toupper(c)));
             return text;
         }())},
        {"two solids", ToBytes(ascii + ascii)},
        {"quiet tail", [&] { Bytes b = ToBytes(ascii); b.insert(b.end(), 5000, 0); b.push_back(0x1a); return b; }()},
        {"trailer after endsolid", [&] { Bytes b = ToBytes(ascii); b.insert(b.end(), {1, 2, 3, 'x', 0, 9}); return b; }()},
        {"a number longer than a chunk", ToBytes(AsciiStl(sphere).insert(5, "\nvertex " + longNumber + " 0 0\n"))},
        {"ends inside a vertex", ToBytes(ascii.substr(0, ascii.rfind("vertex") + 12))},
        {"a word that is no number", ToBytes(ascii.substr(0, ascii.rfind("vertex") + 7) + "1.5x 0 0\n")},
        {"binary", BinaryStl(sphere)},
        {"binary with solid in its header", BinaryStl(sphere, "solid binary")},
        {"binary, one facet short", [&] { Bytes b = BinaryStl(sphere, "solid x"); b.resize(b.size() - 50); return b; }()},
    };
    const test::TempFolder folder;
    for (const auto& file : files) {
        ASSERT_GT(file.bytes.size(), 4176u) << file.name << ": the small-file path would be taken";
        test::WriteAllBytes(folder / "part.stl", file.bytes);
        const std::string expected = ResultText(ParseStl(file.bytes, "part.stl", {}));
        for (const std::size_t chunk : {1, 2, 3, 5, 7, 50, 51, 64, 4097, 1 << 20}) {
            SCOPED_TRACE(std::string(file.name) + ", chunks of " + std::to_string(chunk));
            EXPECT_EQ(ResultText(detail::ReadStlFileInChunks(folder / "part.stl", {}, chunk)), expected);
        }
    }
}

// A file of gigabytes whose header cannot match its size is refused after its first bytes.
// A text file in another format is said to be no STL, not given a triangle count made of its
// letters; small and large files (the large ones are only looked at in part) alike.
TEST(ReadStlFile, TextInAnotherFormatIsSaidToBeNoStl)
{
    std::string off = "OFF\n8 6 0\n";
    for (int i = 0; i < 8; ++i)
        off += "-0.5 -0.5 0.5\n";
    std::string largeObj;
    while (largeObj.size() < 20000)
        largeObj += "v 1.000000 2.000000 3.000000\n";
    const std::pair<const char*, std::string> files[] = {
        {"off", off},
        {"obj larger than the first look", largeObj},
        {"off with CR LF", "OFF\r\n3 1 0\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2\r\n# made by hand in a text editor: one triangle and its three corners\r\n"},
    };
    const test::TempFolder folder;
    for (const auto& [name, text] : files) {
        test::WriteAllBytes(folder / "part.off", ToBytes(text));
        const StlReadResult result = ReadStlFile(folder / "part.off", {});
        EXPECT_FALSE(result.ok) << name;
        EXPECT_EQ(result.error, "The file is not an STL: it is text that does not begin with \"solid\".") << name;
        EXPECT_EQ(result.report.format, StlFormat::Unrecognised) << name;
    }
}

TEST(ReadStlFile, HugeFileThatIsNoStlIsRefusedWithoutReadingIt)
{
    constexpr off_t kSize = off_t{6} << 30;
    const test::TempFolder folder;
    const std::pair<const char*, std::string> heads[] = {
        {"text", "This is a letter, not a part.\n"},
        {"image", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
    };
    for (const auto& [name, head] : heads) {
        SCOPED_TRACE(name);
        const auto path = folder / "huge.stl";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
        ASSERT_EQ(::ftruncate(fd, kSize), 0);  // sparse: no disk space is used
        ::close(fd);
        // In a child whose address space may grow by 256 MiB at most: reading the file whole
        // would fail to allocate there.
        const std::string error = test::RunInChild([&] {
            std::ifstream status("/proc/self/status");
            std::uint64_t virtualKiB = 0;
            for (std::string line; std::getline(status, line);)
                if (line.rfind("VmSize:", 0) == 0)
                    virtualKiB = std::stoull(line.substr(7));
            const rlimit limit{(virtualKiB << 10) + (std::uint64_t{256} << 20), RLIM_INFINITY};
            if (virtualKiB == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
                return std::string("no limit set");
            return ReadStlFile(path, {}).error;
        });
        EXPECT_EQ(error, "The file is not a valid STL. Its header declares 0 triangles, which needs 84 bytes, but "
                         "the file is 6,442,450,944 bytes (unexpected trailing data).");
    }
}

// A torus a few millimetres across, as separate facets whose every other facet has its corners
// one float step off in each axis, so that only the tolerance weld closes it.
TriangleMesh SeamedTorusSoup(Vec3 offset)
{
    TriangleMesh soup = test::ToSoup(test::Translated(test::MakeTorus(3.0f, 1.0f, 24, 12), offset));
    const auto step = [](float v) { return std::nextafter(v, std::numeric_limits<float>::infinity()); };
    for (std::size_t corner = 3; corner < soup.vertices.size(); corner += (corner % 3 == 2 ? 4 : 1)) {
        Vec3& p = soup.vertices[corner].position;
        p = Vec3{step(p.x), step(p.y), step(p.z)};
    }
    return soup;
}

// A 2 mm block whose top is a grid at 0.125 mm (two float steps at 1e6 mm), as separate facets
// with one top facet missing, so that the tolerance weld runs.
TriangleMesh OpenGridBlockSoup(Vec3 offset)
{
    TriangleMesh block = test::Translated(test::MakeGridTopBox(16, 2.0f), offset);
    block.indices.erase(block.indices.begin(), block.indices.begin() + 3);
    return test::ToSoup(block);
}

// Where a part sits must not decide how much of it survives: far from the origin the weld
// tolerance follows the part's size, not its distance, and stays below one float step there,
// so corners that float keeps apart stay apart (a seam a float step wide stays open).
TEST(ParseStl, PartFarFromTheOriginKeepsEveryTriangle)
{
    const std::size_t torus = test::MakeTorus(3.0f, 1.0f, 24, 12).TriangleCount();
    const std::size_t block = test::MakeGridTopBox(16, 2.0f).TriangleCount() - 1;
    using Counts = std::tuple<std::size_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;
    const struct {
        const char* name;
        TriangleMesh soup;
        float tolerance;
        Counts kept;  // triangles, degenerate removed, open edges, non-manifold edges, components
    } cases[] = {
        // As always: 1e-6 of the largest coordinate, which closes seams of a float step.
        {"seamed torus at the origin", SeamedTorusSoup({0, 0, 0}), 4.0f * 1e-6f, {torus, 0, 0, 0, 1}},
        // 1e-6 of twice each piece's size (the halves the seam parts, 8 mm across each), far
        // below a float step (0.0625 mm): the seam stays.
        {"seamed torus 1e6 mm out", SeamedTorusSoup({1e6f, 1e6f, 1e6f}), 2.0f * 8.0f * 1e-6f, {torus, 0, 1728, 0, 2}},
        {"seamed torus 1e6 mm out in x only", SeamedTorusSoup({-1e6f, 0, 0}), 2.0f * 8.0f * 1e-6f, {torus, 0, 1728, 0, 2}},
        {"open grid block at the origin", OpenGridBlockSoup({0, 0, 0}), 2.0f * 1e-6f, {block, 0, 3, 0, 1}},
        // Grid points two float steps apart are all kept.
        {"open grid block 1e6 mm out", OpenGridBlockSoup({1e6f, 1e6f, 0}), 2.0f * 2.0f * 1e-6f, {block, 0, 3, 0, 1}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const StlReadResult result = Parse(EncodeBinaryStl(test.soup, "far"));
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(Counts(result.report.trianglesKept, result.report.degenerateRemoved, result.report.openBoundaryEdges,
                         result.report.nonManifoldEdges, result.report.components),
                  test.kept);
        EXPECT_FLOAT_EQ(result.report.weldTolerance, test.tolerance);
    }
}

// A piece far away (a flat facet a damaged export left, a second body) never sets the weld of
// the rest: the open sphere is welded at its own 1e-5 mm and keeps every triangle, and only
// the flat facet is counted as degenerate in the file. A triangle the weld itself collapses is
// reported as the weld's, with its tolerance.
TEST(ParseStl, AFarPieceNeverSetsTheWeldOfTheRest)
{
    TriangleMesh openBodies = test::MakeSphereAndFarCube({1e6f, 1e6f, 0.0f});
    openBodies.indices.erase(openBodies.indices.begin(), openBodies.indices.begin() + 3);
    // An open box with a sliver on its corner whose second corner lies 5e-6 mm from the first.
    TriangleMesh sliver = test::MakeOpenBox();
    const Vec3 a = sliver.vertices[0].position;
    sliver.vertices.insert(sliver.vertices.end(), {{a + Vec3{5e-6f, 0, 0}, {}}, {a + Vec3{0, 0, 5}, {}}});
    const auto n = static_cast<std::uint32_t>(sliver.vertices.size());
    sliver.indices.insert(sliver.indices.end(), {0, n - 2, n - 1});
    const std::size_t sphere = MakeTestSphere(10.0f).TriangleCount();
    using Counts = std::tuple<std::size_t, std::uint64_t, std::uint64_t, std::uint64_t>;
    const struct {
        const char* name;
        TriangleMesh part;
        Counts counts;  // triangles kept, degenerate in the file, collapsed by the weld, open edges
        float tolerance;
        const char* collapseWarning;
    } cases[] = {
        {"open sphere, flat facet at 1e6 mm", test::MakeOpenSphereWithStrayFacet({1e6f, 1e6f, 1e6f}),
            {sphere - 1, 1, 0, 3}, 1e-5f, nullptr},
        {"open sphere, flat facet at 1e5 mm", test::MakeOpenSphereWithStrayFacet({1e5f, 1e5f, 1e5f}),
            {sphere - 1, 1, 0, 3}, 1e-5f, nullptr},
        {"open sphere and a 5 mm cube at 1e6 mm", openBodies, {sphere + 11, 0, 0, 3}, 1e-5f, nullptr},
        {"open box with a sliver", sliver, {10, 0, 1, 4}, 1e-5f,
            "Welding corners within 1e-05 mm to close seams collapsed 1 triangles. They were removed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const StlReadResult result = Parse(EncodeBinaryStl(c.part, "far"));
        ASSERT_TRUE(result.ok) << result.error;
        const StlImportReport& r = result.report;
        EXPECT_EQ(Counts(r.trianglesKept, r.degenerateRemoved, r.weldCollapsedRemoved, r.openBoundaryEdges), c.counts);
        EXPECT_FLOAT_EQ(r.weldTolerance, c.tolerance);
        const bool warned = c.collapseWarning != nullptr &&
                            std::find(r.warnings.begin(), r.warnings.end(), c.collapseWarning) != r.warnings.end();
        EXPECT_EQ(warned, c.collapseWarning != nullptr) << FormatImportReport(r);
    }
}

TEST(ReportText, CountsAndNumbersAsPrintfShowsThem)
{
    EXPECT_EQ(FormatCountGrouped(999), "999");
    EXPECT_EQ(FormatCountGrouped(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615");
    const std::pair<float, const char*> millimetres[] = {
        {75.125f, "75.12"},  // exact binary tie rounds to even, as printf does
        {2.675f, "2.67"},    // the float lies just below 2.675
        {-0.0f, "0.00"},  // no signed zero in a text for people
        {-1.006f, "-1.01"},
    };
    for (const auto& [value, text] : millimetres)
        EXPECT_EQ(FormatMillimetres2(value), text) << value;
    EXPECT_EQ(FormatSize3(20.0f, 0.004f, 1234.5f), "20.00 x 0.00 x 1234.50 mm");
    EXPECT_EQ(FormatGeneral6(123456789.0), "1.23457e+08");
}

TEST(ParseAsciiStl, TinyValuesReadAsTheNearestFloatAndAPlusSignIsAccepted)
{
    const float denormMin = std::numeric_limits<float>::denorm_min();
    // A million digits: more than any clamp on the exponent may swallow.
    const std::string million(1000000, '0');
    const struct { std::string word; bool ok; float value; } cases[] = {
        {"-1e-50", true, -0.0f},
        {"7e-46", true, 0.0f},             // just under half the smallest subnormal
        {"8e-46", true, denormMin},        // just over: rounds up to it
        {"123456789e-60", true, 0.0f},     // the digits alone do not make it large
        {"1e-99999999999999", true, 0.0f},
        {"+.5e+1", true, 5.0f},
        {"5.", true, 5.0f},
        {"1e-40", true, 1e-40f},           // subnormals are in range
        {"1,5", false, 0.0f},              // no locale's decimal comma
        {"0x10", false, 0.0f},
        {"1e39", false, 0.0f},
        {"0.00001e44", false, 0.0f},       // 1e39: the leading zeros do not make it small
        {"+-1", false, 0.0f},
        {"1e-50x", false, 0.0f},
        {"0." + million + "1e1000040", false, 0.0f},          // 1e39
        {"1" + million + "0000000000e-1000060", true, 0.0f},  // 1e-50
        {"1" + million + "0000000000e-1000011", true, 0.1f},
        {"1" + million + "e-1000040", true, 1e-40f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word.substr(0, 12) + "... (" + std::to_string(c.word.size()) + " characters)");
        const Bytes bytes = ToBytes(std::string("solid x\nvertex ") + c.word + " 0 0\nvertex 1 0 0\nvertex 0 1 0\n");
        std::vector<Vec3> corners;
        std::uint64_t facets = 0;
        std::string error;
        ASSERT_EQ(ParseAsciiStl(bytes, corners, facets, error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(corners[0].x), std::bit_cast<std::uint32_t>(c.value));
        } else {
            const std::string shown = c.word.size() <= 64
                ? c.word : c.word.substr(0, 64) + "... (" + std::to_string(c.word.size()) + " characters)";
            EXPECT_EQ(error, "A vertex coordinate could not be read as a number: '" + shown + "'.");
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
