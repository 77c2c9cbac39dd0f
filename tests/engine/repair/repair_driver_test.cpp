#include "engine/repair/repair_driver.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/files/mesh_json_sections.h"
#include "engine/repair/fix_change.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/json_view_of.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

RepairOptions AllOff() { return {.splitNonManifoldEdges = false, .unfoldTriangles = false,
                                  .resolveSelfIntersections = false, .removeCrumbs = false}; }

TEST(RepairMesh, AllSwitchesOffStillMendsTrianglesWithNoArea)
{
    TriangleMesh mesh = test::MakeCubeWithFlatTriangle();
    ASSERT_EQ(CountNoAreaTriangles(mesh), 1u);
    std::vector<std::string> phases;
    const RepairReport report = RepairMesh(mesh, AllOff(), [&](const std::string& p) { phases.push_back(p); }, 0);
    EXPECT_FALSE(report.nonManifoldChecked || report.crumbsChecked || report.resolveChecked);
    EXPECT_EQ(CountNoAreaTriangles(mesh), 0u);
    EXPECT_EQ(phases, std::vector<std::string>{"Removing triangles with no area"});
    const std::string text = FormatRepairDetails(report);
    EXPECT_EQ(text.substr(0, text.find("  in ")), "  triangles with no area: 1, 1 removed by turning an edge, 0 left\n");
}

TEST(RepairMesh, CleanPartPhasesReportNone)
{
    TriangleMesh mesh = MakeTestSphere(10);
    std::vector<std::string> phases;
    const RepairReport report = RepairMesh(mesh, RepairOptions{}, [&](const std::string& p) { phases.push_back(p); }, 1);
    EXPECT_EQ(phases, (std::vector<std::string>{"Fixing non-manifold edges", "Removing stray crumbs",
                                                "Looking for self-intersections", "Unfolding folded-over triangles",
                                                "Resolving self-intersections"}));
    const std::string text = FormatRepairDetails(report);
    EXPECT_EQ(text.substr(0, text.find("  in ")),
              "  non-manifold edges: none\n  stray crumbs: none\n  folded triangles: none\n  self-intersections: none\n");
}

TEST(RepairMesh, RoundsAndMoveLimitAreClamped)
{
    struct Case { std::int32_t rounds; float move; std::int32_t expectedRounds; };
    // Rounds below 1 count as 1. A negative move limit counts as 0: nothing moves, no round
    // improves, and resolving stops at the stall limit of 12 although 40 rounds remain. Rounds
    // that would move nothing again are counted, not run: up to the round limit within the
    // first ten rounds' ring, past the wider ring of the tenth round, and to the stall limit.
    for (const Case c : {Case{0, 1.0f, 1}, Case{-7, 1.0f, 1}, Case{40, -1.0f, 12}, Case{5, 0.0f, 5},
                         Case{9, 0.0f, 9}, Case{10, 0.0f, 10}, Case{11, -1.0f, 11}, Case{12, 0.0f, 12},
                         Case{13, 0.0f, 12}}) {
        TriangleMesh mesh = test::Combined(MakeTestCube(20), test::Translated(MakeTestCube(20), {10, 10, 10}));  // overlapping
        RepairOptions options = AllOff();
        options.resolveSelfIntersections = true;
        options.maximumRounds = c.rounds;
        options.maximumMoveMillimetres = c.move;
        const RepairReport report = RepairMesh(mesh, options, {}, 0);
        EXPECT_GT(report.selfIntersectingTriangles, 0u);
        EXPECT_EQ(report.resolveRounds, c.expectedRounds) << c.rounds << " " << c.move;
        if (c.move < 0.0f) {
            EXPECT_EQ(report.verticesMoved, 0u);
            EXPECT_EQ(report.furthestMoveMillimetres, 0.0f);
        }
        EXPECT_TRUE(mesh.IsConsistent());
    }
}

// The crossings resolving reports left are those of the part it gives back, counted apart by
// testing every pair: its rounds search only round what moved since the last, and a round that
// moves nothing is not searched, so a pair carried over that no longer holds, or one missed
// where a vertex moved, shows here.
TEST(RepairMesh, CrossingsLeftAreThoseOfThePartGivenBack)
{
    struct Case { const char* name; TriangleMesh part; float move; std::int32_t rounds; };
    const TriangleMesh cube = MakeTestCube(20);
    const TriangleMesh sphere = MakeTestSphere(10);
    const TriangleMesh fine = test::MakeBumpySphere(10, 0.0f, 40, 80);
    const Case cases[] = {
        {"cubes through each other, free", test::Combined(cube, test::Translated(cube, {10, 10, 10})), 5.0f, 40},
        {"cubes through each other, held", test::Combined(cube, test::Translated(cube, {10, 10, 10})), 0.0f, 40},
        {"spheres through each other", test::Combined(sphere, test::Translated(sphere, {6, 0, 0})), 1.0f, 40},
        {"spheres barely through", test::Combined(sphere, test::Translated(sphere, {19.5f, 0, 0})), 1.0f, 25},
        {"three spheres in a row", test::Combined(test::Combined(sphere, test::Translated(sphere, {12, 0, 0})),
                                                  test::Translated(sphere, {24, 3, 0})), 0.3f, 40},
        // Fine spheres that cross in a small place: most triangles never move.
        {"fine spheres barely through", test::Combined(fine, test::Translated(fine, {19.0f, 0.3f, 0.2f})), 0.5f, 40},
        {"fine spheres, a dent held", test::Combined(fine, test::Translated(fine, {18.0f, 0, 0})), 0.05f, 40},
        // The cubes' long edges hold their corners: their crossings are carried from round to
        // round while the spheres' move.
        {"held cubes beside spheres that part",
         test::Combined(test::Combined(cube, test::Translated(cube, {10, 10, 10})),
                        test::Combined(test::Translated(fine, {60, 0, 0}), test::Translated(fine, {79.96f, 0.3f, 0.2f}))),
         1.0f, 40},
        {"held cubes beside moving spheres",
         test::Combined(test::Combined(cube, test::Translated(cube, {10, 10, 10})),
                        test::Combined(test::Translated(fine, {60, 0, 0}), test::Translated(fine, {79, 0.3f, 0.2f}))),
         0.5f, 40},
    };
    for (const Case& c : cases) {
        TriangleMesh mesh = c.part;
        RepairOptions options = AllOff();
        options.unfoldTriangles = true;
        options.resolveSelfIntersections = true;
        options.maximumRounds = c.rounds;
        options.maximumMoveMillimetres = c.move;
        const RepairReport report = RepairMesh(mesh, options, {}, 0);
        EXPECT_GT(report.selfIntersectingTriangles, 0u) << c.name;
        EXPECT_EQ(report.selfIntersectingTrianglesLeft,
                  test::CrossingTriangles(test::FindCrossingPairsByBruteForce(mesh)).size()) << c.name;
    }
}

TEST(RepairMesh, CollapseTargetThatWouldLeaveNothingSkipsThePass)
{
    // Fault pinned: two crossing triangles ask for "2 - 2" triangles, a target of 0 that the
    // simplifier reads as no target at all. The pass is skipped instead.
    TriangleMesh cross = test::MeshOf({{-5, 0, -5}, {5, 0, -5}, {0, 0, 5}, {0, -5, -1}, {0, 5, -1}, {0, 0, 6}}, {0, 1, 2, 3, 4, 5});
    RepairOptions options = AllOff();
    options.resolveSelfIntersections = true;
    options.maximumMoveMillimetres = 0.0f;
    const RepairReport report = RepairMesh(cross, options, {}, 0);
    EXPECT_EQ(std::tuple(report.selfIntersectingTriangles, report.selfIntersectingTrianglesLeft, report.collapsePasses),
              std::tuple(2u, 2u, 0));
    EXPECT_EQ(cross.TriangleCount(), 2u);
}

TEST(RepairMesh, FoldsUnfoldUnlessTheirVertexIsPinned)
{
    // drag: how far past its neighbour the vertex is dragged, in edge lengths; pinned: its edges
    // then exceed four times the median longest edge; left: folded triangles left.
    struct Case { float drag; bool pinned; std::uint64_t left; };
    for (const Case c : {Case{1.5f, false, 0}, Case{3.0f, true, 2}}) {
        TriangleMesh sphere = MakeTestSphere(10);
        const VertexAdjacency adjacency = BuildVertexAdjacency(sphere);
        const std::uint32_t v = 2000;
        const std::uint32_t w = adjacency.neighbours[adjacency.neighbourOffsets[v]];
        sphere.vertices[v].position += (sphere.vertices[w].position - sphere.vertices[v].position) * c.drag;
        ASSERT_EQ(MarkLongEdgeVertices(sphere)[v] != 0, c.pinned);
        const Vec3 dragged = sphere.vertices[v].position;
        RepairOptions options;
        options.resolveSelfIntersections = false;
        const RepairReport report = RepairMesh(sphere, options, {}, 1);
        EXPECT_EQ(std::tuple(report.unfoldChecked, report.foldedTriangles, report.foldedTrianglesLeft,
                             report.foldsLeftAsTheyAre), std::tuple(true, 2u, c.left, false)) << c.drag;
        EXPECT_LE(report.furthestMoveMillimetres, 1.0f + 1e-5f);
        EXPECT_EQ(report.unfoldRounds == 40, c.pinned);
        EXPECT_EQ(sphere.vertices[v].position == dragged, c.pinned);
    }
}

// Flaps folded flat through a corner are relaxed apart, or left and counted, never left and
// called none: what is left is what testing every pair finds in the result.
TEST(RepairMesh, FoldsThroughACornerAreFixedOrCounted)
{
    TriangleMesh box = test::MakeGridTopBox(8, 10.0f);
    box.vertices[4 * 9 + 4].position += Vec3{1.9f, 0.3f, 0.0f};  // a top vertex pushed across its neighbours
    const TriangleMesh flap = test::MeshOf({{0, 0, 0}, {6, 0, 0}, {0, 6, 0}, {5, 3, 0}, {-2, 6, 0}}, {0, 1, 2, 0, 3, 4});
    for (TriangleMesh mesh : {flap, box}) {
        const RepairReport report = RepairMesh(mesh, RepairOptions{}, {}, 1);
        EXPECT_GT(report.selfIntersectingTriangles + report.foldedTriangles, 0u);
        EXPECT_EQ(report.selfIntersectingTrianglesLeft, test::CrossingTriangles(test::FindCrossingPairsByBruteForce(mesh)).size());
    }
}

// Fault pinned: relaxing moved vertices up to the 1 mm limit whatever the part's size, and the
// collapse took whole triangles off a thin pin, so a 1 mm pin pushed into a block lost most of
// its volume and a boss sunk into a plate was lifted out of it. Moves stay within a tenth of
// the body's size, and what would still change a body by more than a small share is put back.
TEST(RepairMesh, FixesNeverChangeABodyBeyondASmallShare)
{
    const auto block = [] { return test::MakeBox({-5, -5, 0}, {5, 5, 4}); };
    struct Case { const char* name; std::function<TriangleMesh()> make; };
    const Case cases[] = {
        {"1 mm pin pushed into a block", [&] { return test::Combined(block(), test::MakeBox({-0.5f, -0.5f, 2}, {0.5f, 0.5f, 10})); }},
        {"boss sunk into a plate", [] {
             return test::Combined(test::MakeBox({-20, -20, 0}, {20, 20, 1}), test::Translated(MakeTestCylinder(8, 16), {0, 0, 8.5f}));
         }},
    };
    for (const Case& c : cases) {
        const TriangleMesh part = c.make();
        TriangleMesh mesh = part;
        const RepairReport report = RepairMesh(mesh, RepairOptions{}, {}, 2);
        EXPECT_GT(report.selfIntersectingTriangles, 0u) << c.name;
        EXPECT_LE(report.furthestMoveShare, kMoveShareOfBodySize + 1e-6f) << c.name;
        const FixChangeReport change = MeasureFixChange(part, mesh);
        EXPECT_FALSE(IsLargeFixChange(change)) << c.name << ": " << FormatFixChange(change);
        // Fault pinned: each of the check's rounds judged its moves against its own start, so
        // rounds added up past the rule. Judged against the part as given, they cannot.
        FixBaseline given(part);
        TriangleMesh rounds = part;
        for (int round = 1; round <= 3; ++round) {
            (void)RepairMesh(rounds, {.judgeAgainst = &given}, {}, 2);
            const FixChangeReport after = MeasureFixChange(given, rounds);
            EXPECT_FALSE(IsLargeFixChange(after)) << c.name << " round " << round << ": " << FormatFixChange(after);
        }
    }
}

TEST(RepairMesh, MoveLimitsFollowTheSizeOfEachBody)
{
    // A 1 x 2 x 3 box, a flat 4 x 5 sheet measured in its plane, and a vertex no triangle uses.
    TriangleMesh mesh = test::Combined(test::MakeBox({0, 0, 0}, {1, 2, 3}),
        test::MeshOf({{10, 0, 0}, {14, 0, 0}, {14, 5, 0}}, {0, 1, 2}));
    mesh.vertices.push_back({{50, 50, 50}, {}});
    const std::vector<float> sizes = BodySizeAtVertices(mesh);
    ASSERT_EQ(sizes.size(), 12u);
    EXPECT_EQ(std::vector<float>(sizes.begin(), sizes.begin() + 8), std::vector<float>(8, 1.0f));
    EXPECT_EQ(std::vector<float>(sizes.begin() + 8, sizes.begin() + 11), std::vector<float>(3, 4.0f));
    EXPECT_EQ(sizes[11], 0.0f);
    const std::vector<float> limits = VertexMoveLimits(sizes, 0.25f);
    EXPECT_FLOAT_EQ(limits[0], 0.1f);   // a tenth of the box's 1 mm
    EXPECT_FLOAT_EQ(limits[8], 0.25f);  // the option's limit is smaller than 0.4
    EXPECT_EQ(limits[11], 0.0f);
    EXPECT_EQ(VertexMoveLimits(sizes, -1.0f)[8], 0.0f);
}

TEST(MedianLongestEdge, TakesTheMiddleOfTheLongestEdges)
{
    EXPECT_EQ(MedianLongestEdge(TriangleMesh{}), 0.0f);
    EXPECT_NEAR(MedianLongestEdge(MakeTestCube(20)), 20.0f * std::sqrt(2.0f), 1e-4f);  // the face diagonals
    EXPECT_EQ(DistinctTrianglesOfPairs({5, 2, 2, 9, 5, 1}), (std::vector<std::uint32_t>{1, 2, 5, 9}));
}

TEST(FormatRepairDetails, LinesFollowTheirConditions)
{
    const RepairReport foldsKept{.unfoldChecked = true, .foldedTriangles = 4, .foldsLeftAsTheyAre = true};
    const std::pair<RepairReport, const char*> cases[] = {
        {{.nonManifoldChecked = true, .nonManifoldEdges = 3, .verticesSplit = 4, .doubleSkinnedPairsRemoved = 1,
          .bodiesRemoved = 2, .bodyTrianglesRemoved = 24, .elapsedMilliseconds = 12.4},
         "  non-manifold edges: 3, 2 stray bodies it freed removed (24 triangles), 1 double-skinned triangle "
         "pair removed, 4 vertices split, 0 left\n  in 12 ms\n"},
        {{.crumbsChecked = true, .bodiesRemoved = 2, .bodyTrianglesRemoved = 8, .elapsedMilliseconds = 0.6},
         "  stray crumbs: 2 small bodies removed (8 triangles)\n  in 1 ms\n"},
        // What went is said with its size and place: the largest by volume, wherever it is listed.
        {{.crumbsChecked = true, .bodiesRemoved = 2, .bodyTrianglesRemoved = 24,
          .removedBodies = {{{0, 0, 0}, {0.25f, 0.25f, 0.25f}, 12, 0.015625}, {{4, 5, 6}, {4.5f, 5.5f, 6.5f}, 12, -0.125}}},
         "  stray crumbs: 2 small bodies removed (24 triangles; the largest 0.50 x 0.50 x 0.50 mm at (4.25, 5.25, "
         "6.25), 0.12 mm3)\n  in 0 ms\n"},
        {{.nonManifoldChecked = true, .nonManifoldEdges = 1, .verticesSplit = 2, .bodiesRemoved = 1,
          .bodyTrianglesRemoved = 4, .removedBodies = {{{1, 1, 1}, {1.25f, 1.5f, 1.75f}, 4, 0.0}}},
         "  non-manifold edges: 1, 1 stray body it freed removed (4 triangles; 0.25 x 0.50 x 0.75 mm at (1.12, 1.25, "
         "1.38), 0.00 mm3), 2 vertices split, 0 left\n  in 0 ms\n"},
        // A tiny piece read "0.00 x 0.00 x 0.00 mm ... 2.15354e-08 mm3": its sizes and volume
        // are written with the digits they need, as every length and volume is.
        {{.crumbsChecked = true, .bodiesRemoved = 1, .bodyTrianglesRemoved = 4,
          .removedBodies = {{{1, 1, 1}, {1.0012f, 1.00041f, 1.0021f}, 4, 2.15354e-08}}},
         "  stray crumbs: 1 small body removed (4 triangles; 0.0012 x 0.00041 x 0.0021 mm at (1.00, 1.00, 1.00), "
         "0.000000022 mm3)\n  in 0 ms\n"},
        {{.resolveChecked = true, .selfIntersectingTriangles = 10, .selfIntersectingTrianglesLeft = 2, .resolveRounds = 5,
          .collapsePasses = 1, .noAreaTriangles = 5, .noAreaTrianglesLeft = 1, .noAreaTurned = 2, .verticesMoved = 7,
          .furthestMoveMillimetres = 0.25f},
         "  self-intersecting triangles: 10 relaxed in 5 rounds, then 0 tiny triangles collapsed where relaxing "
         "could not part them, 2 left\n  triangles with no area: 5, 2 removed by turning an edge, 2 collapsed away, "
         "1 left\n  7 vertices moved, the furthest by 0.250 mm\n  in 0 ms\n"},
        {{.unfoldChecked = true, .sharpPlacesKept = 3},
         "  folded triangles: none that cross anything (3 sharp places left exactly as they are)\n  in 0 ms\n"},
        {foldsKept,
         "  folded triangles: 4 left as they are (relaxing them put more of the surface through itself)\n  in 0 ms\n"},
        {{.unfoldChecked = true, .foldedTriangles = 4, .foldedTrianglesLeft = 1, .unfoldRounds = 6},
         "  folded triangles: 4 relaxed in 6 rounds, 1 left where they crossed or folded back\n  in 0 ms\n"},
        // The sharp places, which the export check's list names as left, are said apart from "0 left".
        {{.unfoldChecked = true, .foldedTriangles = 1, .sharpPlacesKept = 8, .unfoldRounds = 1},
         "  folded triangles: 1 relaxed in 1 round, 0 left where they crossed or folded back; 8 more at sharp "
         "places that cross nothing, left exactly as they are\n  in 0 ms\n"},
        // What would have changed the part was put back: said after the counts it leaves.
        {{.resolveChecked = true, .selfIntersectingTriangles = 6, .selfIntersectingTrianglesLeft = 6, .resolveRounds = 12,
          .collapsePasses = 1, .movesUndone = true, .collapseRefused = true},
         "  self-intersecting triangles: 6 relaxed in 12 rounds, then 0 tiny triangles collapsed where relaxing "
         "could not part them, 6 left\n  relaxing put back: it changed a body by more than 1% of its volume or size, or "
         "left its corners more than 10% of its size off\n  collapsing stopped: it would have changed a body by more "
         "than 1% of its volume or size, or left its corners more than 10% of its size off\n  in 0 ms\n"},
    };
    for (const auto& [report, expected] : cases)
        EXPECT_EQ(FormatRepairDetails(report), expected);
}

// One round trip over the export records: the keys and their order are what files hold.
TEST(SettingsJson, ExportRecordsRoundTripTheirKeysInOrder)
{
    const JsonNode document = NewJsonDocument();
    RepairOptions repair;
    repair.unfoldTriangles = false;
    repair.maximumRounds = 12;
    repair.maximumMoveMillimetres = 0.1f;
    WriteRepairOptions(document.ObjectChild("exportFixes"), repair);
    ExportCleanupOptionsToJson(document.ObjectChild("exportCleanup"), {false, true, 2.5f, 0.1f});
    const std::string text = document.root->dump();
    EXPECT_EQ(text, "{\"exportFixes\":{\"splitNonManifoldEdges\":true,\"unfoldTriangles\":false,"
                    "\"resolveSelfIntersections\":true,\"removeCrumbs\":true,\"maximumRounds\":12,"
                    "\"maximumMoveMillimetres\":0.1},\"exportCleanup\":{\"weldCollapsedTriangles\":false,"
                    "\"fillHoles\":true,\"maximumHoleMillimetres\":2.5,\"maximumSlitWidthMillimetres\":0.1}}");
    RepairOptions readRepair{false, true, false, false, 1, 5.0f};
    ExportCleanupOptions readCleanup{true, false, 0.0f, 0.0f};
    const JsonView view = test::ViewOf(text);
    ReadRepairOptions(view.FindMember("exportFixes"), readRepair);
    ExportCleanupOptionsFromJson(view.Section("exportCleanup"), readCleanup);
    const JsonNode again = NewJsonDocument();
    WriteRepairOptions(again.ObjectChild("exportFixes"), readRepair);
    ExportCleanupOptionsToJson(again.ObjectChild("exportCleanup"), readCleanup);
    EXPECT_EQ(again.root->dump(), text);
}

}  // namespace
}  // namespace grainforge::mesh
