#include "engine/displacement/wall_measurement.h"

#include "engine/displacement/vertex_displacement.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::uint32_t kGrid = 20;  // the plate's top: 20 x 20 squares of 0.5 mm

// A closed 10 x 10 mm plate of the given thickness standing on z = 0. Its top is a grid of
// (kGrid + 1)^2 vertices numbered first, row by row; the bottom is two triangles.
TriangleMesh Plate(float thickness)
{
    TriangleMesh plate = test::MakeGridTopBox(kGrid, 10.0f);
    for (MeshVertex& v : plate.vertices)
        v.position.z *= thickness / 10.0f;
    plate.ComputeBounds();
    plate.ComputeVertexNormals();
    return plate;
}

// Top vertices at least 1 mm in from the plate's edge: their inward rays meet the bottom.
bool IsInnerTop(const TriangleMesh& plate, std::size_t v)
{
    const Vec3 p = plate.vertices[v].position;
    return v < (kGrid + 1) * (kGrid + 1) && p.x >= 1.0f && p.x <= 9.0f && p.y >= 1.0f && p.y <= 9.0f;
}

// Weight 1 on the inner top vertices (every other column `lighter` instead), 0 elsewhere.
std::vector<float> InnerTopWeights(const TriangleMesh& plate, float lighter = 1.0f)
{
    std::vector<float> weights(plate.vertices.size(), 0.0f);
    for (std::size_t v = 0; v < weights.size(); ++v) {
        if (IsInnerTop(plate, v))
            weights[v] = v % 2 == 0 ? 1.0f : lighter;
    }
    return weights;
}

std::size_t CountPositive(const std::vector<float>& weights)
{
    return static_cast<std::size_t>(std::count_if(weights.begin(), weights.end(), [](float w) { return w > 0.0f; }));
}

HeightMap Black()
{
    HeightMap map;
    map.SetImage(2, 2, std::vector<float>(4, 0.0f));
    return map;
}

// The plate after an inward relief of `strength` / 2 mm on the weighted vertices.
struct Relief {
    TriangleMesh before;
    TriangleMesh after;
    std::vector<float> weights;
    DisplacementReport report;
};

Relief PushIn(float thickness, float strength, bool holdThinWalls, float lighter = 1.0f)
{
    Relief relief{Plate(thickness), {}, {}, {}};
    relief.after = relief.before;
    relief.weights = InnerTopWeights(relief.before, lighter);
    DisplacementSettings settings;
    settings.method = DisplacementMethod::mesh;
    settings.strengthMillimetres = strength;
    settings.holdThinWalls = holdThinWalls;
    Projection projection;
    projection.cage.size = {100.0f, 100.0f, 100.0f};
    relief.report = ApplyDisplacement(relief.after, projection, Black(), relief.weights, settings, nullptr, TileFrame{});
    return relief;
}

// The plate with the given vertices moved down by hand, and the report a displacement keeps.
Relief MovedByHand(const std::vector<std::pair<std::uint32_t, float>>& depths)
{
    Relief relief{Plate(0.6f), {}, {}, {}};
    relief.after = relief.before;
    relief.weights.assign(relief.before.vertices.size(), 0.0f);
    for (const auto& [v, depth] : depths) {
        relief.after.vertices[v].position.z -= depth;
        relief.weights[v] = 1.0f;
    }
    auto tree = std::make_shared<AabbTree>();
    tree->Build(relief.before);
    relief.report.clearanceTree = tree;
    relief.report.clearance.assign(relief.before.vertices.size(), 1.0f);
    return relief;
}

std::uint32_t InnerTopVertex(std::uint32_t i) { return (2 + i / 10) * (kGrid + 1) + 2 + i % 10; }

TEST(MeasureWalls, AWallPushedInPastTheThresholdIsAThinnedPlace)
{
    // 0.6 mm of wall, a 0.5 mm push cut to 0.45 of that clearance: 0.27 mm in, 0.33 mm left.
    const Relief relief = PushIn(0.6f, 1.0f, false);
    EXPECT_GT(relief.report.cutByClearance, 0u);
    const WallReport walls = MeasureWalls(relief.before, relief.after, relief.weights, relief.report, WallSettings{});
    const std::size_t pushed = CountPositive(relief.weights);
    EXPECT_EQ(walls.candidates, pushed);
    EXPECT_EQ(walls.thinnedPlaces, pushed);
    EXPECT_EQ(walls.places.size(), kWallPlacesKept);
    EXPECT_EQ(FormatWallReport(walls), std::to_string(pushed)
            + " places where the relief thinned a wall below 0.42 mm (thinnest 0.33 mm, was 0.60)");
    const std::string line = FormatWallsLine(walls);
    EXPECT_EQ(line.rfind("Walls after the relief: " + FormatWallReport(walls) + " (" + std::to_string(pushed)
                  + " vertices moved inward with a surface within reach, ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 5), " ms)\n");
}

TEST(MeasureWalls, HeldWallsStayAtOrAboveTheThreshold)
{
    // The full-weight vertices would leave 0.33 mm and are held; the light ones (0.1 mm in,
    // 0.5 mm left) move.
    const Relief relief = PushIn(0.6f, 1.0f, true, 0.2f);
    std::size_t heavy = 0;
    for (std::size_t v = 0; v < relief.weights.size(); ++v) {
        heavy += relief.weights[v] == 1.0f ? 1 : 0;
        if (relief.weights[v] > 0.0f) {
            EXPECT_GE(relief.after.vertices[v].position.z, 0.42f) << v;
        }
    }
    EXPECT_EQ(relief.report.heldForWalls, heavy);
    EXPECT_GT(relief.report.displacedVertices, 0u);
    const WallReport walls = MeasureWalls(relief.before, relief.after, relief.weights, relief.report, WallSettings{});
    EXPECT_EQ(walls.candidates, CountPositive(relief.weights) - heavy);
    EXPECT_EQ(FormatWallReport(walls), "no wall thinned below 0.42 mm");
}

TEST(MeasureWalls, AWallAlreadyUnderTheThresholdIsNotThinnedByTheRelief)
{
    const Relief relief = PushIn(0.3f, 0.2f, false);  // 0.1 mm into 0.3 mm
    const WallReport walls = MeasureWalls(relief.before, relief.after, relief.weights, relief.report, WallSettings{});
    const std::size_t pushed = CountPositive(relief.weights);
    EXPECT_EQ(walls.thinnedPlaces, 0u);
    EXPECT_EQ(walls.alreadyThinPlaces, pushed);
    EXPECT_EQ(FormatWallReport(walls),
        "no wall thinned by the relief; " + std::to_string(pushed) + " place(s) were under 0.42 mm already");
}

TEST(MeasureWalls, TwentyThinnedPlacesKeepTheEightThinnest)
{
    std::vector<std::pair<std::uint32_t, float>> depths;
    for (std::uint32_t i = 0; i < 20; ++i)
        depths.push_back({InnerTopVertex(i), 0.2f + 0.002f * static_cast<float>(i)});
    const Relief relief = MovedByHand(depths);
    const WallReport walls = MeasureWalls(relief.before, relief.after, relief.weights, relief.report, WallSettings{});
    EXPECT_EQ(walls.thinnedPlaces, 20u);
    ASSERT_EQ(walls.places.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        // The deepest push, vertex 19, leaves the thinnest wall.
        const std::uint32_t v = InnerTopVertex(static_cast<std::uint32_t>(19 - i));
        EXPECT_EQ(walls.places[i].position, relief.after.vertices[v].position) << i;
        EXPECT_NEAR(walls.places[i].wall, 0.6f - depths[19 - i].second, 1e-5f) << i;
        EXPECT_NEAR(walls.places[i].distance, 0.6f, 1e-5f) << i;
    }
    EXPECT_EQ(walls.thinnestWall, walls.places[0].wall);
}

TEST(MeasureWalls, AReliefThroughTheWallLeavesNoWallNotANegativeOne)
{
    // Fault: 0.7 mm into a 0.6 mm plate printed "thinnest -0.10 mm".
    const Relief relief = MovedByHand({{InnerTopVertex(0), 0.7f}, {InnerTopVertex(1), 0.3f}});
    const WallReport walls = MeasureWalls(relief.before, relief.after, relief.weights, relief.report, WallSettings{});
    EXPECT_EQ(walls.thinnedPlaces, 2u);
    EXPECT_EQ(walls.thinnestWall, 0.0f);
    EXPECT_EQ(walls.places[0].wall, 0.0f);
    EXPECT_EQ(FormatWallReport(walls), "2 places where the relief thinned a wall below 0.42 mm (thinnest 0.00 mm, was 0.60)");
}

TEST(MeasureWalls, ThresholdIsTheLineWidthUnlessSetAndNeverBelowAMinimum)
{
    const Relief relief = MovedByHand({{InnerTopVertex(0), 0.1f}});
    struct Case {
        float threshold;
        float lineWidth;
        float expected;
    };
    const Case cases[] = {{0.0f, 0.02f, 0.05f}, {0.0f, 0.42f, 0.42f}, {0.3f, 0.42f, 0.3f}, {-1.0f, 0.5f, 0.5f},
        {kNaN, 0.42f, 0.42f}, {0.0f, kNaN, 0.05f}};
    for (const Case& c : cases) {
        const WallSettings settings{.lineWidthMillimetres = c.lineWidth, .thresholdMillimetres = c.threshold};
        EXPECT_EQ(MeasureWalls(relief.before, relief.after, relief.weights, relief.report, settings).thresholdMillimetres,
            c.expected) << c.threshold << " " << c.lineWidth;
    }
}

TEST(MeasureWalls, WhatCannotBeMeasuredSaysWhy)
{
    const std::string noClearance =
        "Walls: not measured (the displacement kept no clearance: one smooth region, or the clearance limit off)\n";
    const std::string noMatch = "Walls: not measured (the meshes do not match)\n";
    const Relief relief = MovedByHand({{InnerTopVertex(0), 0.1f}});

    TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh sphereBefore = sphere;
    const std::vector<float> sphereWeights(sphere.vertices.size(), 1.0f);
    HeightMap map = Black();
    const DisplacementReport oneRegion =
        ApplyDisplacement(sphere, Projection{}, map, sphereWeights, DisplacementSettings{}, nullptr, TileFrame{});

    TriangleMesh fewer = relief.after;
    fewer.vertices.pop_back();
    DisplacementReport otherTree = relief.report;  // a tree over a mesh of other counts
    auto tree = std::make_shared<AabbTree>();
    tree->Build(MakeTestCube(1.0f));
    otherTree.clearanceTree = tree;
    DisplacementReport shortClearance = relief.report;
    shortClearance.clearance.pop_back();

    struct Case {
        const char* what;
        WallReport walls;
        std::string line;
    };
    const Case cases[] = {
        {"one smooth region", MeasureWalls(sphereBefore, sphere, sphereWeights, oneRegion, {}), noClearance},
        {"clearance of another length", MeasureWalls(relief.before, relief.after, relief.weights, shortClearance, {}),
            noClearance},
        {"a vertex fewer", MeasureWalls(relief.before, fewer, relief.weights, relief.report, {}), noMatch},
        {"weights of another length", MeasureWalls(relief.before, relief.after, {1.0f}, relief.report, {}), noMatch},
        // Fault: a tree over another mesh missed every ray and reported the walls as kept.
        {"tree over another mesh", MeasureWalls(relief.before, relief.after, relief.weights, otherTree, {}), noMatch},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.walls.measured) << c.what;
        EXPECT_EQ(c.walls.candidates, 0u) << c.what;
        EXPECT_EQ(FormatWallsLine(c.walls), c.line) << c.what;
    }
    EXPECT_EQ(FormatWallReport(cases[2].walls), "walls not measured: the meshes do not match");
}

TEST(OppositeSurfaceDistances, FindsTheFarSideWithinReachAndNothingOnBadInput)
{
    const TriangleMesh plate = Plate(0.6f);
    AabbTree tree;
    tree.Build(plate);
    const std::uint32_t top = InnerTopVertex(0);
    std::vector<float> depths(plate.vertices.size(), 0.0f);
    depths[top] = 0.1f;
    struct Case {
        const char* what;
        std::vector<std::uint32_t> vertices;
        std::vector<float> depths;
        float reach;
        bool found;
    };
    const Case cases[] = {
        {"within reach", {top}, depths, 0.55f, true},  // 0.6 mm away: reach 0.1 + 0.55
        {"beyond reach", {top}, depths, 0.45f, false},
        {"reach not a number", {top}, depths, kNaN, false},
        {"depths of another length", {top}, {0.1f}, 1.0f, false},
        {"vertex out of range", {static_cast<std::uint32_t>(plate.vertices.size())}, depths, 1.0f, false},
    };
    for (const Case& c : cases) {
        const std::vector<OppositeSurfaceResult> results = OppositeSurfaceDistances(plate, tree, c.vertices, c.depths, c.reach);
        ASSERT_EQ(results.size(), 1u) << c.what;
        EXPECT_EQ(results[0].found != 0, c.found) << c.what;
        if (c.found) {
            EXPECT_NEAR(results[0].distance, 0.6f, 1e-5f);
            EXPECT_NEAR(results[0].wall, 0.5f, 1e-5f);
        }
    }
    EXPECT_TRUE(OppositeSurfaceDistances(plate, tree, {}, depths, 1.0f).empty());
}

TEST(FormatWallReport, WordsFollowWhatWasFound)
{
    WallReport one;
    one.measured = true;
    one.candidates = 5;
    one.thresholdMillimetres = 0.42f;
    one.thinnedPlaces = 1;
    one.thinnestWall = 0.1f;
    one.thinnestWas = 0.5f;
    one.milliseconds = 12.4;
    WallReport already = one;
    already.thinnedPlaces = 0;
    already.alreadyThinPlaces = 3;
    WallReport none = already;
    none.alreadyThinPlaces = 0;
    EXPECT_EQ(FormatWallReport(one), "1 place where the relief thinned a wall below 0.42 mm (thinnest 0.10 mm, was 0.50)");
    EXPECT_EQ(FormatWallReport(already), "no wall thinned by the relief; 3 place(s) were under 0.42 mm already");
    EXPECT_EQ(FormatWallsLine(none),
        "Walls after the relief: no wall thinned below 0.42 mm (5 vertices moved inward with a surface within reach, "
        "12 ms)\n");
}

}  // namespace
}  // namespace grainforge::mesh
