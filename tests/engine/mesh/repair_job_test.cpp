#include "engine/mesh/repair_job.h"

#include "engine/mesh/test_shapes.h"
#include "engine/mesh/windows_repair.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(RepairForPrint, CleanPartComesBackBitIdentical)
{
    TriangleMesh part = MakeTestCylinder(5, 30);
    const TriangleMesh before = part;
    std::vector<std::string> phases;
    const RepairForPrintReport report = RepairForPrint(part, [&](const std::string& p) { phases.push_back(p); });
    EXPECT_EQ(std::tuple(report.repaired, report.rounds), std::tuple(false, 0));
    EXPECT_TRUE(test::Identical(part, before));
    EXPECT_EQ(FormatRepairSummary(report), "Repair: nothing needed changing.\n");
    EXPECT_EQ(phases.at(0), "Tidying the part");
}

TEST(WindowsRepair, ProbeSaysNoAndADirectCallFailsLeavingTheInput)
{
    EXPECT_FALSE(IsWindowsRepairAvailable());
    const TriangleMesh cube = MakeTestCube(20);
    const WindowsRepairResult result = RepairWithWindows(cube, nullptr);
    EXPECT_FALSE(result.succeeded || result.cancelled || !result.mesh.indices.empty());
    EXPECT_EQ(result.message, "The Windows 3D-printing repair service is not available on this system.");
}

TEST(RepairForPrint, TriangleSoupCubeIsWeldedIntoOneClosedBody)
{
    TriangleMesh soup = test::MakeCubeSoup(20);
    const RepairForPrintReport report = RepairForPrint(soup, {});
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
    EXPECT_TRUE(report.rounds >= 1 && report.rounds <= 3);
    EXPECT_GT(report.verticesSplit, 0u);
    EXPECT_EQ(std::tuple(report.trianglesAfter, report.openEdgesAfter), std::tuple(24u, 0u));
    EXPECT_TRUE(Contains(report.details, "  non-manifold edges: 1, "));
    EXPECT_TRUE(Contains(report.details, "  read back as a slicer reads it: "));
    EXPECT_TRUE(boxes.IsConsistent());
}

TEST(RepairForPrint, SmallHoleIsFilled)
{
    TriangleMesh sphere = MakeTestSphere(10);
    sphere.indices.erase(sphere.indices.begin() + 3 * 4000, sphere.indices.begin() + 3 * 4001);
    const RepairForPrintReport report = RepairForPrint(sphere, {});
    EXPECT_EQ(std::tuple(report.rounds, report.openEdgesBefore, report.openEdgesAfter, report.holesFilled, report.holesLeftOpen),
              std::tuple(1, 3u, 0u, 1u, 0u));
    EXPECT_EQ(report.trianglesAfter, report.trianglesBefore + 1);
    EXPECT_TRUE(Contains(report.details, "  read back as a slicer reads it: 0 over-shared edges, 0 open, 0 facets with no area\n"));
}

TEST(ReadBackAsSlicer, FlatTriangleIsKeptAndCounted)
{
    TriangleMesh mesh = test::MakeCubeWithFlatTriangle();
    const ReadBackCounts counts = ReadBackAsSlicer(mesh);
    EXPECT_TRUE(counts.ok && counts.error.empty());
    EXPECT_EQ(std::tuple(counts.trianglesWritten, counts.trianglesRead, counts.facetsWithNoArea, counts.openEdges,
                         counts.overSharedEdges), std::tuple(14u, 14u, 1u, 0u, 0u));
}

TEST(ReadBackAsSlicer, RefusedBytesAreAFailureNotACleanPart)
{
    // Fault pinned: a refusal used to come back as all-zero counts, which read as clean.
    TriangleMesh mesh = MakeTestCube(20);
    mesh.vertices[3].position.x = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::uint32_t> indices = mesh.indices;
    const ReadBackCounts counts = ReadBackAsSlicer(mesh);
    EXPECT_EQ(counts.error, "The file contains a coordinate that is not a number (NaN or infinity).");
    EXPECT_FALSE(counts.ok);
    EXPECT_EQ(std::tuple(counts.trianglesWritten, counts.trianglesRead), std::tuple(12u, 0u));
    EXPECT_EQ(mesh.indices, indices);
    EXPECT_TRUE(std::isnan(mesh.vertices[3].position.x));
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

}  // namespace
}  // namespace grainforge::mesh
