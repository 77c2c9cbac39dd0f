#include "engine/mesh/tidying.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

using test::Identical;

TEST(TidyMesh, CleanPartComesBackUntouched)
{
    for (TriangleMesh part : {MakeTestCube(20), MakeTestSphere(10), MakeTestCylinder(5, 30)}) {
        // Stale caches show whether anything was recomputed.
        part.boundsMin = {1, 2, 3};
        part.vertices[0].normal = {0, 0, 0};
        const TriangleMesh before = part;
        const TidyReport report = TidyMesh(part, TidyOptions{});
        EXPECT_FALSE(report.changed);
        EXPECT_TRUE(Identical(part, before));
        EXPECT_EQ(FormatTidyReport(report), "Repair: nothing needed changing.\n");
    }
}

TEST(TidyMesh, AutomaticToleranceFollowsThePartsSize)
{
    struct Case { float edge; float expected; };
    // A cube of edge 1 reaches 0.5 mm from the origin; one of edge 600 reaches 300 mm.
    for (const Case test : {Case{1, 1e-6f}, Case{600, 1e-6f * 300.0f}, Case{0, 1e-6f}}) {
        TriangleMesh cube = MakeTestCube(test.edge);
        const TidyReport report = TidyMesh(cube, TidyOptions{});
        EXPECT_EQ(report.weldTolerance, test.expected) << test.edge;
    }
    TriangleMesh none;
    EXPECT_EQ(TidyMesh(none, TidyOptions{}).weldTolerance, 0.0f);
    TidyOptions exact;
    exact.weldTolerance = 0;
    TriangleMesh soup = test::MakeCubeSoup();
    const TidyReport report = TidyMesh(soup, exact);
    EXPECT_EQ(report.weldTolerance, 0.0f);
    EXPECT_EQ(report.verticesMerged, 28u);
}

// One vertex at infinity must not make the tolerance infinite and weld the whole part away.
TEST(TidyMesh, NonFiniteCoordinateDoesNotWidenTheTolerance)
{
    TriangleMesh part = test::MakeCubeSoup();
    part.vertices.push_back({{std::numeric_limits<float>::infinity(), 0, 0}, {}});
    part.vertices.push_back({{std::numeric_limits<float>::quiet_NaN(), 0, 0}, {}});
    TidyOptions options;
    options.removeUnusedVertices = false;
    const TidyReport report = TidyMesh(part, options);
    EXPECT_EQ(report.weldTolerance, 1e-6f * 10.0f);
    EXPECT_EQ(part.vertices.size(), 10u);  // 8 corners and the two strays
    EXPECT_EQ(part.TriangleCount(), 12u);
}

TEST(TidyMesh, SoupBecomesAClosedOutwardPart)
{
    // A soup with a duplicated triangle, a degenerate one, one triangle flipped and a stray
    // vertex.
    TriangleMesh part = test::MakeCubeSoup();
    std::swap(part.indices[4], part.indices[5]);
    part.indices.insert(part.indices.end(), {0, 1, 2});
    part.indices.insert(part.indices.end(), {3, 3, 4});
    part.vertices.push_back({{50, 50, 50}, {}});
    const TidyReport report = TidyMesh(part, TidyOptions{});
    EXPECT_EQ(FormatTidyReport(report),
        "Repair:\n"
        "  Vertices merged: 28\n"
        "  Degenerate triangles removed: 1\n"
        "  Duplicate triangles removed: 1\n"
        "  Triangles reoriented: 1\n"
        "  Unused vertices removed: 1\n");
    const ValidationReport check = ValidateMesh(part, ValidationOptions{});
    EXPECT_EQ(check.verdict, Verdict::Good) << FormatValidationReport(check);
    EXPECT_FLOAT_EQ(part.Volume(), 8000.0f);
    EXPECT_EQ(part.boundsMax, (Vec3{10, 10, 10}));
    for (const MeshVertex& vertex : part.vertices)
        EXPECT_NEAR(Dot(vertex.normal, vertex.normal), 1.0f, 1e-5f);
}

TEST(TidyMesh, InsideOutPartIsTurnedAndAMoebiusStripIsLeft)
{
    TriangleMesh inverted = test::Flipped(MakeTestCube(20));
    const TidyReport turned = TidyMesh(inverted, TidyOptions{});
    EXPECT_EQ(turned.trianglesReoriented, 12u);
    EXPECT_GT(inverted.Volume(), 0.0f);

    TriangleMesh strip = test::MakeMoebiusStrip();
    const TriangleMesh before = strip;
    EXPECT_FALSE(TidyMesh(strip, TidyOptions{}).changed);
    EXPECT_EQ(strip.indices, before.indices);
}

TEST(TidyMesh, SwitchedOffPassesChangeNothing)
{
    TriangleMesh soup = test::MakeCubeSoup();
    soup.indices.insert(soup.indices.end(), {0, 1, 2});
    TidyOptions none;
    none.mergeVertices = false;
    none.removeDegenerate = false;
    none.removeDuplicates = false;
    none.reorient = false;
    none.removeUnusedVertices = false;
    const TriangleMesh before = soup;
    const TidyReport report = TidyMesh(soup, none);
    EXPECT_FALSE(report.changed);
    EXPECT_EQ(FormatTidyReport(report), "Repair: nothing needed changing.\n");
    EXPECT_TRUE(Identical(soup, before));
}

TEST(FormatTidyReport, ListsOnlyTheCountsAboveZeroGrouped)
{
    TidyReport report;
    report.changed = true;
    report.verticesMerged = 1234567;
    report.unusedVerticesRemoved = 12;
    EXPECT_EQ(FormatTidyReport(report), "Repair:\n  Vertices merged: 1,234,567\n  Unused vertices removed: 12\n");
}

}  // namespace
}  // namespace grainforge::mesh
