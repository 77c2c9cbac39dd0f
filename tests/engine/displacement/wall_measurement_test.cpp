#include "engine/displacement/wall_measurement.h"

#include "engine/displacement/vertex_displacement.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr std::uint32_t kGrid = 20;  // the plate's top: 20 x 20 squares of 0.5 mm, numbered first

// A closed 10 x 10 mm plate of the given thickness standing on z = 0; its bottom is two triangles.
TriangleMesh Plate(float thickness)
{
    TriangleMesh plate = test::MakeGridTopBox(kGrid, 10.0f);
    for (MeshVertex& v : plate.vertices)
        v.position.z *= thickness / 10.0f;
    plate.ComputeBounds();
    plate.ComputeVertexNormals();
    return plate;
}

// Top vertex i of a 10-wide block 1 mm in from the plate's edge.
std::uint32_t InnerTopVertex(std::uint32_t i) { return (2 + i / 10) * (kGrid + 1) + 2 + i % 10; }

struct Relief {
    TriangleMesh before;
    TriangleMesh after;
    std::vector<float> weights;
    DisplacementReport report;
    std::size_t textured = 0;
};

// An inward relief of strength / 2 mm on the top vertices at least 1 mm in from the edge
// (every other one at weight `lighter`).
Relief PushIn(float thickness, float strength, bool holdThinWalls, float lighter = 1.0f)
{
    Relief r;
    r.before = Plate(thickness);
    r.after = r.before;
    r.weights.assign(r.before.vertices.size(), 0.0f);
    for (std::size_t v = 0; v < (kGrid + 1) * (kGrid + 1); ++v) {
        const Vec3 p = r.before.vertices[v].position;
        if (p.x >= 1.0f && p.x <= 9.0f && p.y >= 1.0f && p.y <= 9.0f) {
            r.weights[v] = v % 2 == 0 ? 1.0f : lighter;
            ++r.textured;
        }
    }
    HeightMap black;
    black.SetImage(2, 2, std::vector<float>(4, 0.0f));
    Projection box;
    box.cage.size = {100.0f, 100.0f, 100.0f};
    const DisplacementSettings settings{.holdThinWalls = holdThinWalls, .strengthMillimetres = strength, .base = {}};
    r.report = ApplyDisplacement(r.after, box, black, r.weights, settings, nullptr, TileFrame{});
    return r;
}

// The 0.6 mm plate with top vertices moved down by hand, and the clearance a displacement keeps.
Relief MovedByHand(const std::vector<float>& depths)
{
    Relief r;
    r.before = Plate(0.6f);
    r.after = r.before;
    r.weights.assign(r.before.vertices.size(), 0.0f);
    for (std::uint32_t i = 0; i < depths.size(); ++i) {
        r.after.vertices[InnerTopVertex(i)].position.z -= depths[i];
        r.weights[InnerTopVertex(i)] = 1.0f;
    }
    auto tree = std::make_shared<AabbTree>();
    tree->Build(r.before);
    r.report.clearanceTree = tree;
    r.report.clearance.assign(r.before.vertices.size(), 1.0f);
    return r;
}

WallReport Measure(const Relief& r, const WallSettings& settings = {})
{
    return MeasureWalls(r.before, r.after, r.weights, r.report, settings);
}

TEST(MeasureWalls, AWallPushedInPastTheThresholdIsAThinnedPlace)
{
    // 0.6 mm of wall, a 0.5 mm push cut to 0.45 of that clearance: 0.27 mm in, 0.33 mm left.
    const Relief r = PushIn(0.6f, 1.0f, false);
    EXPECT_EQ(r.report.cutByClearance, r.textured);
    const WallReport walls = Measure(r);
    const std::string n = std::to_string(r.textured);
    EXPECT_EQ(walls.candidates, r.textured);
    EXPECT_EQ(walls.places.size(), kWallPlacesKept);
    EXPECT_EQ(FormatWallReport(walls), n + " places where the relief thinned a wall below 0.42 mm (thinnest 0.33 mm, was 0.60)");
    const std::string line = FormatWallsLine(walls);
    EXPECT_EQ(line.rfind("Walls after the relief: " + FormatWallReport(walls) + " (" + n
                  + " vertices moved inward with a surface within reach, ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 5), " ms)\n");
}

TEST(MeasureWalls, HeldWallsStayAtOrAboveTheThreshold)
{
    // The full-weight vertices would leave 0.33 mm and are held; the light ones (0.1 mm in,
    // 0.5 mm left) move.
    const Relief r = PushIn(0.6f, 1.0f, true, 0.2f);
    const auto heavy = static_cast<std::size_t>(std::count(r.weights.begin(), r.weights.end(), 1.0f));
    EXPECT_EQ(r.report.heldForWalls, heavy);
    EXPECT_EQ(r.report.displacedVertices, r.textured - heavy);
    for (std::size_t v = 0; v < r.weights.size(); ++v)
        EXPECT_GE(r.after.vertices[v].position.z, r.weights[v] > 0.0f ? 0.42f : 0.0f) << v;
    const WallReport walls = Measure(r);
    EXPECT_EQ(walls.candidates, r.textured - heavy);
    EXPECT_EQ(FormatWallReport(walls), "no wall thinned below 0.42 mm");
}

TEST(MeasureWalls, AWallAlreadyUnderTheThresholdIsNotThinnedByTheRelief)
{
    const Relief r = PushIn(0.3f, 0.2f, false);  // 0.1 mm into 0.3 mm
    const WallReport walls = Measure(r);
    EXPECT_EQ(walls.alreadyThinPlaces, r.textured);
    EXPECT_EQ(FormatWallReport(walls),
        "no wall thinned by the relief; " + std::to_string(r.textured) + (r.textured == 1 ? " place was" : " places were")
            + " under 0.42 mm already");
}

TEST(MeasureWalls, TwentyThinnedPlacesKeepTheEightThinnest)
{
    std::vector<float> depths;
    for (int i = 0; i < 20; ++i)
        depths.push_back(0.2f + 0.002f * static_cast<float>(i));
    const Relief r = MovedByHand(depths);
    const WallReport walls = Measure(r);
    EXPECT_EQ(walls.thinnedPlaces, 20u);
    ASSERT_EQ(walls.places.size(), 8u);
    for (std::uint32_t i = 0; i < 8; ++i) {  // the deepest push, the 20th, leaves the thinnest wall
        EXPECT_EQ(walls.places[i].position, r.after.vertices[InnerTopVertex(19 - i)].position) << i;
        EXPECT_NEAR(walls.places[i].wall, 0.6f - depths[19 - i], 1e-5f) << i;
        EXPECT_NEAR(walls.places[i].distance, 0.6f, 1e-5f) << i;
    }
    EXPECT_EQ(walls.thinnestWall, walls.places[0].wall);
}

TEST(MeasureWalls, AReliefThroughTheWallLeavesNoWallNotANegativeOne)
{
    // Fault: 0.7 mm into a 0.6 mm plate printed "thinnest -0.10 mm".
    const WallReport walls = Measure(MovedByHand({0.7f}));
    EXPECT_EQ(walls.places.at(0).wall, 0.0f);
    EXPECT_EQ(FormatWallReport(walls), "1 place where the relief thinned a wall below 0.42 mm (thinnest 0.00 mm, was 0.60)");
}

TEST(MeasureWalls, ThresholdIsTheLineWidthUnlessSetAndNeverBelowAMinimum)
{
    const Relief r = MovedByHand({0.1f});
    const float cases[][3] = {  // threshold, line width, threshold used
        {0.0f, 0.02f, 0.05f}, {0.0f, 0.42f, 0.42f}, {0.3f, 0.42f, 0.3f}, {-1.0f, 0.5f, 0.5f}, {kNaN, 0.42f, 0.42f},
        {0.0f, kNaN, 0.05f}, {kInfinity, 0.42f, 0.42f}, {0.0f, kInfinity, 0.05f}};
    for (const auto& c : cases) {
        EXPECT_EQ(Measure(r, {.lineWidthMillimetres = c[1], .thresholdMillimetres = c[0]}).thresholdMillimetres, c[2])
            << c[0] << " " << c[1];
    }
    EXPECT_EQ(Measure(r, {.minimumInwardMillimetres = kNaN}).candidates, 1u);  // taken as the default
}

TEST(MeasureWalls, WhatCannotBeMeasuredSaysWhy)
{
    const std::string noClearance =
        "Walls: not measured (the displacement kept no clearance: one smooth region, or the clearance limit off)\n";
    const std::string noMatch = "Walls: not measured (the meshes do not match)\n";
    const Relief r = MovedByHand({0.1f});
    TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh sphereBefore = sphere;
    const std::vector<float> ones(sphere.vertices.size(), 1.0f);
    HeightMap map;
    map.SetImage(1, 1, {0.0f});
    const DisplacementReport oneRegion = ApplyDisplacement(sphere, Projection{}, map, ones, {}, nullptr, TileFrame{});
    TriangleMesh fewer = r.after;
    fewer.vertices.pop_back();
    DisplacementReport otherTree = r.report, shortClearance = r.report;
    auto tree = std::make_shared<AabbTree>();
    tree->Build(MakeTestCube(1.0f));
    otherTree.clearanceTree = tree;
    shortClearance.clearance.pop_back();
    const std::pair<WallReport, std::string> cases[] = {
        {MeasureWalls(sphereBefore, sphere, ones, oneRegion, {}), noClearance},
        {MeasureWalls(r.before, r.after, r.weights, shortClearance, {}), noClearance},
        {MeasureWalls(r.before, fewer, r.weights, r.report, {}), noMatch},
        {MeasureWalls(r.before, r.after, {1.0f}, r.report, {}), noMatch},
        // Fault: a tree over another mesh missed every ray and reported the walls as kept.
        {MeasureWalls(r.before, r.after, r.weights, otherTree, {}), noMatch},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_TRUE(!cases[i].first.measured && cases[i].first.candidates == 0) << i;
        EXPECT_EQ(FormatWallsLine(cases[i].first), cases[i].second) << i;
    }
    EXPECT_EQ(FormatWallReport(cases[2].first), "walls not measured: the meshes do not match");
}

TEST(OppositeSurfaceDistances, FindsTheFarSideWithinReachAndNothingOnBadInput)
{
    const TriangleMesh plate = Plate(0.6f);
    AabbTree tree;
    tree.Build(plate);
    const std::uint32_t top = InnerTopVertex(0);
    std::vector<float> depths(plate.vertices.size(), 0.0f);
    depths[top] = 0.1f;
    const auto outOfRange = static_cast<std::uint32_t>(plate.vertices.size());
    const struct {
        const char* what;
        std::uint32_t vertex;
        std::vector<float> depths;
        float reach;
        bool found;
    } cases[] = {
        {"within reach", top, depths, 0.55f, true},  // 0.6 mm away, reach 0.1 + 0.55
        {"beyond reach", top, depths, 0.45f, false},
        {"reach not a number", top, depths, kNaN, false},
        {"depths of another length", top, {0.1f}, 1.0f, false},
        {"vertex out of range", outOfRange, depths, 1.0f, false},
    };
    for (const auto& c : cases) {
        const std::vector<OppositeSurfaceResult> found = OppositeSurfaceDistances(plate, tree, {c.vertex}, c.depths, c.reach);
        ASSERT_EQ(found.size(), 1u) << c.what;
        EXPECT_EQ(found[0].found != 0, c.found) << c.what;
        if (c.found) {
            EXPECT_NEAR(found[0].distance, 0.6f, 1e-5f);
            EXPECT_NEAR(found[0].wall, 0.5f, 1e-5f);
        }
    }
    EXPECT_TRUE(OppositeSurfaceDistances(plate, tree, {}, depths, 1.0f).empty());
}

// The walls under half the surface of known parts: a plate is as thick as the plate over its
// faces (its rim, a sliver of its area, reaches across); a cube is its edge everywhere, the
// same inside out; a part open at one face is measured through its walls all the same, where
// its volume would depend on where the opening lies.
TEST(MeasureWallThickness, HalfTheSurfaceAndTheThickestOfKnownWalls)
{
    TriangleMesh insideOut = MakeTestCube(10.0f);
    for (std::size_t i = 0; i < insideOut.indices.size(); i += 3)
        std::swap(insideOut.indices[i + 1], insideOut.indices[i + 2]);
    TriangleMesh openPlate = test::MakeBox({0, 0, 0}, {40, 40, 1});
    openPlate.indices.resize(openPlate.indices.size() - 3);
    const struct {
        const char* name;
        TriangleMesh part;
        float half;
        float thickest;
    } cases[] = {
        {"plate 1 mm thick", test::MakeBox({0, 0, 0}, {40, 40, 1}), 1.0f, 40.0f},
        {"plate 0.05 mm thick", test::MakeBox({0, 0, 0}, {20, 20, 0.05f}), 0.05f, 20.0f},
        {"cube", MakeTestCube(10.0f), 10.0f, 10.0f},
        {"cube inside out", insideOut, 10.0f, 10.0f},
        {"plate open at one triangle", openPlate, 1.0f, 40.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WallThickness walls = MeasureWallThickness(c.part);
        ASSERT_TRUE(walls.measured);
        EXPECT_NEAR(walls.half, c.half, 1e-4f * c.half);
        EXPECT_NEAR(walls.thickest, c.thickest, 1e-4f * c.thickest);
    }
    // Nothing to measure: no triangles, a single triangle with nothing opposite.
    EXPECT_FALSE(MeasureWallThickness(TriangleMesh{}).measured);
    TriangleMesh one;
    one.vertices = {{{0, 0, 0}, {}}, {{1, 0, 0}, {}}, {{0, 1, 0}, {}}};
    one.indices = {0, 1, 2};
    EXPECT_FALSE(MeasureWallThickness(one).measured);
}

}  // namespace
}  // namespace grainforge::mesh
