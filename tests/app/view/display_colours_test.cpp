// The colour rules of the mesh on display and the order in which they replace each other.
#include "app/view/display_colours.h"

#include "app/view/display_section.h"
#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

namespace dc = display_colour;

TEST(DisplayColours, ComponentsRepeatEveryEightAndSurfaceClasses)
{
    const Vec3 first{0.85f, 0.42f, 0.35f}, last{0.7f, 0.7f, 0.55f};
    EXPECT_EQ(ComponentColours({0, 8, 15}, 4), (std::vector<Vec3>{first, first, last, first}));
    EXPECT_EQ(OuterInnerColours(4, {1, 0, 7}),
              (std::vector<Vec3>{dc::kOuterSurface, dc::kInnerSurface, dc::kOuterInnerBase, dc::kOuterInnerBase}));
}

TEST(DisplayColours, PrintCheckLevelOneWins)
{
    mesh::PrintabilityReport report;
    EXPECT_TRUE(PrintCheckColours(report, 4).empty());
    report.bridgeTriangles = {0, 1, 2, 99};
    report.farTriangles = {1, 2};
    report.supportTriangles = {2, 1000};
    const std::vector<Vec3> colours = PrintCheckColours(report, 4);
    ASSERT_EQ(colours.size(), 4u);
    EXPECT_EQ(colours[0], dc::kPrintLevel3);
    EXPECT_EQ(colours[1], dc::kPrintLevel2);
    EXPECT_EQ(colours[2], dc::kPrintLevel1);
    EXPECT_EQ(colours[3], dc::kPrintBase);
}

TEST(DisplayColours, SlicedPrintCheckLooksThroughTheTrianglesLayers)
{
    // One triangle whose centroid lies in cell (5, 7) of a 1 mm grid across z.
    TriangleMesh preview;
    for (const Vec3 p : {Vec3{5.1f, 7.1f, 0.0f}, Vec3{5.9f, 7.1f, 0.0f}, Vec3{5.1f, 7.9f, 0.0f}})
        preview.vertices.push_back({p, {}});
    preview.indices = {0, 1, 2};
    mesh::PrintabilityReport report;
    report.cellSize = 1.0f;
    report.upAxis = 2;
    report.layers = 4;
    report.farKeys = {mesh::PrintCellKey(3, 8, 6)};  // a neighbour cell, layer 3
    struct Case {
        const char* name;
        std::vector<std::uint32_t> firstLayers;
        std::uint64_t stride;
        float cell;
        std::size_t count;
        Vec3 colour;
    };
    const Case cases[] = {
        {"layer 3 reached from 2 with stride 2", {2}, 2, 1.0f, 1, dc::kPrintLevel2},
        {"stride 1 stops at layer 2", {2}, 1, 1.0f, 1, dc::kPrintBase},
        {"no cell size: base", {2}, 2, 0.0f, 1, dc::kPrintBase},
        {"a stride past the report's layers ends there", {2}, UINT64_MAX, 1.0f, 1, dc::kPrintLevel2},
        {"layer list of another mesh", {2, 3}, 2, 1.0f, 0, {}},
    };
    for (const Case& c : cases) {
        report.cellSize = c.cell;
        const std::vector<Vec3> colours = SlicedPrintCheckColours(preview, c.firstLayers, c.stride, report);
        ASSERT_EQ(colours.size(), c.count) << c.name;
        if (c.count != 0) {
            EXPECT_EQ(colours[0], c.colour) << c.name;
        }
    }
}

TEST(DisplayColours, ProjectorColoursFollowTheCubesFaces)
{
    const TriangleMesh cube = mesh::MakeTestCube(10.0f);
    const std::vector<Vec3> colours = ProjectorColours(cube, mesh::InitProjection());
    ASSERT_EQ(colours.size(), cube.TriangleCount());
    for (std::size_t t = 0; t < colours.size(); ++t) {
        const Vec3 n = cube.FaceNormal(t);
        const Vec3 want = std::fabs(n.x) > 0.5f ? dc::kProjectorX : (std::fabs(n.y) > 0.5f ? dc::kProjectorY : dc::kProjectorZ);
        EXPECT_EQ(colours[t], want) << "triangle " << t;
    }
}

TEST(DisplayColours, RulesReplaceEachOtherInOrder)
{
    const TriangleMesh cube = mesh::MakeTestCube(10.0f);
    mesh::ValidationReport validation;
    validation.triangleComponents.assign(cube.TriangleCount(), 1);
    mesh::PrintabilityReport report;
    report.checked = true;
    report.supportTriangles = {0};
    const std::vector<std::uint8_t> classes(cube.TriangleCount(), 0);

    DisplayColourInputs in;
    in.mesh = &cube;
    in.validation = &validation;
    in.printReport = &report;
    in.surfaceClasses = &classes;
    in.workingPart = &cube;
    EXPECT_TRUE(BuildDisplayColours(in).empty()) << "nothing on: the renderer shades";

    in.colourByComponent = true;
    EXPECT_EQ(BuildDisplayColours(in)[0], ComponentColour(1));
    in.printCheck = true;
    EXPECT_EQ(BuildDisplayColours(in)[0], dc::kPrintLevel1) << "print check after components";
    EXPECT_EQ(BuildDisplayColours(in)[1], dc::kPrintBase);
    in.surfaceMode = 4;
    EXPECT_EQ(BuildDisplayColours(in)[0], dc::kInnerSurface) << "surface mode last";
    in.clipping = true;
    EXPECT_TRUE(BuildDisplayColours(in).empty()) << "clipping turns off component, print and outer/inner colours";
    in.clipping = false;
    in.surfaceMode = 0;
    in.sectionMode = 3;
    const std::vector<Vec3> heat = BuildDisplayColours(in);
    ASSERT_EQ(heat.size(), cube.TriangleCount());
    EXPECT_EQ(heat[0], HeatMapColour(0.0f)) << "the part against itself: no deviation";
}

}  // namespace
}  // namespace grainforge::app
