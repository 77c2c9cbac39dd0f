#include "engine/mesh/repair_job.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace grainforge::mesh {
namespace {

void ExpectIdentical(const TriangleMesh& a, const TriangleMesh& b)
{
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(MeshVertex)), 0);
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.boundsMin, b.boundsMin);
    EXPECT_EQ(a.boundsMax, b.boundsMax);
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(RepairForPrint, CleanPartComesBackBitIdentical)
{
    for (TriangleMesh part : {MakeTestCube(20), MakeTestCylinder(5, 30)}) {
        const TriangleMesh before = part;
        std::vector<std::string> phases;
        const RepairForPrintReport report = RepairForPrint(part, [&](const std::string& p) { phases.push_back(p); });
        EXPECT_FALSE(report.repaired);
        EXPECT_EQ(report.rounds, 0);
        EXPECT_TRUE(report.details.empty());
        EXPECT_EQ(report.trianglesAfter, report.trianglesBefore);
        EXPECT_EQ(report.bodiesAfter, 1u);
        ExpectIdentical(part, before);
        EXPECT_EQ(FormatRepairSummary(report), "Repair: nothing needed changing.\n");
        ASSERT_FALSE(phases.empty());
        EXPECT_EQ(phases.front(), "Tidying the part");
    }
}

TEST(RepairForPrint, InconsistentMeshIsLeftUntouched)
{
    TriangleMesh mesh = MakeTestCube(20);
    mesh.indices[7] = 1000;
    const TriangleMesh before = mesh;
    const RepairForPrintReport report = RepairForPrint(mesh, {});
    EXPECT_FALSE(report.repaired);
    EXPECT_EQ(mesh.indices, before.indices);
    EXPECT_EQ(FormatRepairSummary(report), "Repair: nothing needed changing.\n");
}

TEST(RepairForPrint, TriangleSoupCubeIsWeldedIntoOneClosedBody)
{
    TriangleMesh soup = test::MakeCubeSoup(20);
    const RepairForPrintReport report = RepairForPrint(soup, {});
    EXPECT_TRUE(report.repaired);
    EXPECT_EQ(report.openEdgesBefore, 36u);
    EXPECT_EQ(report.bodiesBefore, 12u);
    EXPECT_EQ(report.openEdgesAfter, 0u);
    EXPECT_EQ(report.nonManifoldEdgesAfter, 0u);
    EXPECT_EQ(report.bodiesAfter, 1u);
    EXPECT_EQ(report.trianglesAfter, 12u);
    EXPECT_EQ(soup.vertices.size(), 8u);
    EXPECT_TRUE(Contains(report.details, "  Vertices merged: 28\n"));
    EXPECT_EQ(FormatRepairSummary(report),
              "Repair:\n" + report.details
                  + "  triangles 12 to 12; open edges 36 to 0; non-manifold edges 0 to 0; bodies 12 to 1\n");
}

TEST(RepairForPrint, BoxesSharingAnEdgeAreSplitApart)
{
    // Once welded, the shared edge carries four triangles.
    TriangleMesh boxes = test::Combined(MakeTestCube(20), test::Translated(MakeTestCube(20), {20, 20, 0}));
    const RepairForPrintReport report = RepairForPrint(boxes, {});
    EXPECT_TRUE(report.repaired);
    EXPECT_GE(report.rounds, 1);
    EXPECT_LE(report.rounds, 3);
    EXPECT_GT(report.verticesSplit, 0u);
    EXPECT_EQ(report.trianglesAfter, 24u);
    EXPECT_EQ(report.openEdgesAfter, 0u);
    EXPECT_TRUE(Contains(report.details, "  non-manifold edges: 1, "));
    EXPECT_TRUE(Contains(report.details, "  read back as a slicer reads it: "));
    EXPECT_TRUE(boxes.IsConsistent());
}

TEST(RepairForPrint, SmallHoleIsFilled)
{
    TriangleMesh sphere = MakeTestSphere(10);
    sphere.indices.erase(sphere.indices.begin() + 3 * 4000, sphere.indices.begin() + 3 * 4001);
    const RepairForPrintReport report = RepairForPrint(sphere, {});
    EXPECT_TRUE(report.repaired);
    EXPECT_EQ(report.rounds, 1);
    EXPECT_EQ(report.openEdgesBefore, 3u);
    EXPECT_EQ(report.openEdgesAfter, 0u);
    EXPECT_EQ(report.holesFilled, 1u);
    EXPECT_EQ(report.holesLeftOpen, 0u);
    EXPECT_EQ(report.trianglesAfter, report.trianglesBefore + 1);
    EXPECT_TRUE(Contains(report.details, "  read back as a slicer reads it: 0 over-shared edges, 0 open, 0 facets with no area\n"));
}

TEST(ReadBackAsSlicer, FlatTriangleIsKeptAndCounted)
{
    // A closed tetrahedron-like fan whose extra vertex lies on an edge: (a, m, b) has no area.
    TriangleMesh mesh = MakeTestCube(20);
    const std::uint32_t a = mesh.indices[0];
    const std::uint32_t b = mesh.indices[1];
    const std::uint32_t c = mesh.indices[2];
    const auto m = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.push_back({(mesh.vertices[a].position + mesh.vertices[b].position) * 0.5f, {}});
    mesh.indices[1] = m;
    mesh.indices.insert(mesh.indices.end(), {m, b, c, a, b, m});
    const ReadBackCounts counts = ReadBackAsSlicer(mesh);
    EXPECT_TRUE(counts.ok);
    EXPECT_TRUE(counts.error.empty());
    EXPECT_EQ(counts.trianglesWritten, 14u);
    EXPECT_EQ(counts.trianglesRead, 14u);
    EXPECT_EQ(counts.facetsWithNoArea, 1u);
    EXPECT_EQ(counts.openEdges, 0u);
    EXPECT_EQ(counts.overSharedEdges, 0u);
}

TEST(ReadBackAsSlicer, RefusedBytesAreAFailureNotACleanPart)
{
    // Fault pinned: a refusal used to come back as all-zero counts, which read as clean.
    TriangleMesh mesh = MakeTestCube(20);
    mesh.vertices[3].position.x = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::uint32_t> indices = mesh.indices;
    const ReadBackCounts counts = ReadBackAsSlicer(mesh);
    EXPECT_FALSE(counts.ok);
    EXPECT_FALSE(counts.error.empty());
    EXPECT_EQ(counts.trianglesWritten, 12u);
    EXPECT_EQ(counts.trianglesRead, 0u);
    EXPECT_EQ(mesh.indices, indices);
    EXPECT_TRUE(std::isnan(mesh.vertices[3].position.x));

    TriangleMesh empty;
    const ReadBackCounts none = ReadBackAsSlicer(empty);
    EXPECT_FALSE(none.ok);
    EXPECT_FALSE(none.error.empty());
}

TEST(RepairForPrint, ReadBackFailureIsLoggedAndNotTakenForClean)
{
    // The hole makes round 1 change something; the infinite coordinate makes the reader refuse.
    TriangleMesh sphere = MakeTestSphere(10);
    sphere.indices.erase(sphere.indices.begin() + 3 * 4000, sphere.indices.begin() + 3 * 4001);
    sphere.vertices[100].position.y = std::numeric_limits<float>::infinity();
    const RepairForPrintReport report = RepairForPrint(sphere, {});
    ASSERT_TRUE(report.repaired);
    EXPECT_TRUE(Contains(report.details,
                         "  could not be read back: The file contains a coordinate that is not a number (NaN or "
                         "infinity).\n"))
        << report.details;
    EXPECT_FALSE(Contains(report.details, "read back as a slicer reads it"));
}

TEST(RepairForPrint, NonFiniteCoordinateDoesNotWeldThePartIntoAPoint)
{
    // Fault pinned: a weld tolerance taken from an infinite box merged every vertex.
    TriangleMesh soup = test::MakeCubeSoup(20);
    soup.vertices[0].position.y = std::numeric_limits<float>::infinity();
    const RepairForPrintReport report = RepairForPrint(soup, {});
    EXPECT_EQ(report.trianglesAfter, 12u);
    EXPECT_GT(soup.vertices.size(), 8u);
}

TEST(CountOpenAndOverSharedEdges, CountsRunsOfOneAndOfMoreThanTwo)
{
    std::uint64_t open = 9;
    std::uint64_t over = 9;
    CountOpenAndOverSharedEdges(test::MakeOpenBox(), open, over);
    EXPECT_EQ(open, 4u);
    EXPECT_EQ(over, 0u);
    TriangleMesh fin = MakeTestCube(20);
    fin.indices.insert(fin.indices.end(), fin.indices.begin(), fin.indices.begin() + 3);
    CountOpenAndOverSharedEdges(fin, open, over);
    EXPECT_EQ(open, 0u);
    EXPECT_EQ(over, 3u);
}

}  // namespace
}  // namespace grainforge::mesh
