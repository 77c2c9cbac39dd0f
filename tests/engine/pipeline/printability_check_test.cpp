#include "engine/pipeline/printability_check.h"

#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::Combined;
using test::MakeBox;

// Cuts lie at (i + 0.5137) layer heights above the lowest point.
double CutHeight(int layer, double layerHeight = 0.2) { return (layer + 0.5137) * layerHeight; }

TriangleMesh Parts(std::initializer_list<TriangleMesh> parts)
{
    TriangleMesh all;
    for (const TriangleMesh& part : parts)
        all = Combined(std::move(all), part);
    return all;
}

// A 10 x 10 pillar 10 mm tall with a 2 mm plate on top reaching `overhang` mm past it along x,
// `gap` mm above the pillar.
TriangleMesh PillarWithPlate(float overhang, float gap = 0.0f)
{
    return Parts({MakeBox({0, 0, 0}, {10, 10, 10}), MakeBox({0, 0, 10 + gap}, {10 + overhang, 10, 12})});
}

// Two 3 mm pillars `span` mm apart under a 1 mm deck.
TriangleMesh Bridge(float span)
{
    return Parts({MakeBox({0, 0, 0}, {3, 10, 10}), MakeBox({3 + span, 0, 0}, {6 + span, 10, 10}),
        MakeBox({0, 0, 10}, {6 + span, 10, 11})});
}

PrintabilityReport Check(const TriangleMesh& mesh, PrintabilitySettings settings = {})
{
    return CheckPrintability(mesh, settings);
}

TEST(PrintabilitySettings, DefaultsAndEveryFieldCountsInTheEquality)
{
    struct Field {
        const char* name;
        double value;  // the default
        std::function<void(PrintabilitySettings&)> change;
    };
    const PrintabilitySettings d;
    const Field fields[] = {
        {"layerHeight", d.layerHeight, [](auto& s) { s.layerHeight = 0.1f; }},
        {"lineWidth", d.lineWidth, [](auto& s) { s.lineWidth = 0.4f; }},
        {"upAxis", static_cast<double>(d.upAxis), [](auto& s) { s.upAxis = 1; }},
        {"cellSize", d.cellSize, [](auto& s) { s.cellSize = 0.1f; }},
        {"overhangAllowance", d.overhangAllowance, [](auto& s) { s.overhangAllowance = 1.0f; }},
        {"minimumArea", d.minimumArea, [](auto& s) { s.minimumArea = 1.0f; }},
        {"bridgeLength", d.bridgeLength, [](auto& s) { s.bridgeLength = 5.0f; }},
        {"cantileverDistance", d.cantileverDistance, [](auto& s) { s.cantileverDistance = 2.0f; }},
        {"warningDistance", d.warningDistance, [](auto& s) { s.warningDistance = 5.0f; }},
        {"overhangAngleDegrees", d.overhangAngleDegrees, [](auto& s) { s.overhangAngleDegrees = 45.0f; }},
        {"collectDisplay", d.collectDisplay ? 1.0 : 0.0, [](auto& s) { s.collectDisplay = true; }},
        {"displayLayers", static_cast<double>(d.displayLayers), [](auto& s) { s.displayLayers = 10; }},
    };
    const double defaults[] = {0.2f, 0.42f, 2, 0, 0.5f, 0.18f, 10, 3, 6, 30, 0, 150};
    ASSERT_EQ(std::size(fields), std::size(defaults));
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        EXPECT_EQ(fields[i].value, defaults[i]) << fields[i].name;
        PrintabilitySettings changed;
        fields[i].change(changed);
        EXPECT_FALSE(PrintabilitySettingsEquals(changed, d)) << fields[i].name;
        EXPECT_TRUE(PrintabilitySettingsEquals(changed, changed)) << fields[i].name;
    }
}

// A standing cube, as indexed mesh, soup or inside out: the non-zero rule fills all three alike.
TEST(CheckPrintability, ACubeOnTheBedPrintsWithoutSupport)
{
    const TriangleMesh cube = MakeBox({0, 0, 0}, {10, 10, 10});
    struct Case {
        TriangleMesh mesh;
        float downwardArea;  // turned inside out, the top faces down
    };
    for (const auto& [mesh, downwardArea] : {Case{cube, 0.0f}, Case{test::ToSoup(cube), 0.0f},
             Case{test::Flipped(cube), 100.0f}}) {
        const PrintabilityReport r = Check(mesh);
        ASSERT_TRUE(r.checked);
        EXPECT_TRUE(r.featuresInAir.empty() && r.farReaches.empty() && r.airPlaces.empty() && r.shortBridges.empty());
        EXPECT_EQ(r.overhangArea, 0.0f);
        EXPECT_EQ(r.longestReach, 0.0f);
        EXPECT_NEAR(r.downwardArea, downwardArea, 1e-3f);  // the bottom face lies on the bed
        EXPECT_NEAR(r.surfaceArea, 600.0f, 1e-3f);
        EXPECT_EQ(FormatPrintabilitySummary(r), "prints without support");
    }
}

// The grid: a quarter line width, or the given cell, enlarged so that big parts stay bounded.
TEST(CheckPrintability, CellSizeRule)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
        float cellSize;
        float expectedCell;
        std::uint64_t layers;
    };
    const Case cases[] = {
        {"10 mm cube", MakeBox({0, 0, 0}, {10, 10, 10}), 0.0f, 0.105f, 50},
        {"given cell", MakeBox({0, 0, 0}, {10, 10, 10}), 0.5f, 0.5f, 50},
        // 750 layers of 150.21 x 150.21 mm: sqrt(750 x 150.21² / 2e8).
        {"150 mm block", MakeBox({0, 0, 0}, {150, 150, 150}), 0.0f, 0.29088f, 750},
        // One layer of 1000.21 x 1000.21 mm: sqrt(1000.21² / 4e6).
        {"1 m plate", MakeBox({0, 0, 0}, {1000, 1000, 0.2f}), 0.0f, 0.500105f, 1},
    };
    for (const Case& c : cases) {
        PrintabilitySettings settings;
        settings.cellSize = c.cellSize;
        const PrintabilityReport r = Check(c.mesh, settings);
        EXPECT_NEAR(r.cellSize, c.expectedCell, 1e-5f) << c.name;
        EXPECT_EQ(r.layers, c.layers) << c.name;
        EXPECT_LE(r.cellsPerLayer, 4'400'000u) << c.name;
        EXPECT_LE(r.cellsPerLayer * r.layers, 220'000'000u) << c.name;
    }
    EXPECT_EQ(Check(MakeBox({0, 0, 0}, {10, 10, 10})).cellsPerLayer, 98u * 98u);  // 96 columns + 2 border
}

TEST(CheckPrintability, ACubeHeldAboveAnotherStartsOneFeatureInTheAir)
{
    const PrintabilityReport r = Check(Parts({MakeBox({0, 0, 0}, {10, 10, 5}), MakeBox({0, 0, 6}, {10, 10, 10})}));
    ASSERT_EQ(r.featuresInAir.size(), 1u);
    const PrintFinding& f = r.featuresInAir[0];
    EXPECT_EQ(f.layer, 30u);  // the first cut above 6 mm
    EXPECT_NEAR(f.z, CutHeight(30), 1e-5);
    EXPECT_NEAR(f.heightMillimetres, CutHeight(30), 1e-5);
    EXPECT_NEAR(f.x, 5.0f, 0.06f);
    EXPECT_NEAR(f.y, 5.0f, 0.06f);
    EXPECT_NEAR(f.areaSquareMillimetres, 100.0f, 2.0f);
    EXPECT_TRUE(r.airPlaces.empty() && r.farReaches.empty() && r.shortBridges.empty());
    EXPECT_NEAR(r.downwardArea, 100.0f, 1e-3f);  // the upper cube's bottom
    EXPECT_EQ(FormatPrintabilitySummary(r), "1 feature starts in the air: support needed");
}

// The plate's first layer reaches past the pillar; the reach counts from the last supported cell
// (the allowance disc reaches 2 cells of 0.105 mm past the pillar).
TEST(CheckPrintability, ReachPastTheLayerBelow)
{
    struct Case {
        float overhang;
        std::uint64_t cantilevers;
        std::size_t farReaches;
        float reach;
        std::string summary;
    };
    const Case cases[] = {
        {4.0f, 1, 0, 36 * 0.105f, "prints without support"},
        {7.0f, 0, 1, 65 * 0.105f, "1 layer reaches 6.8 mm past the layer below: support recommended"},
    };
    PrintabilitySettings quiet;
    quiet.minimumArea = 1e6f;  // no region findings: only the reach speaks
    for (const Case& c : cases) {
        const PrintabilityReport r = Check(PillarWithPlate(c.overhang), quiet);
        EXPECT_EQ(r.cantileverLayers, c.cantilevers) << c.overhang;
        ASSERT_EQ(r.farReaches.size(), c.farReaches) << c.overhang;
        EXPECT_NEAR(r.longestReach, c.reach, 1e-4f) << c.overhang;
        EXPECT_EQ(FormatPrintabilitySummary(r), c.summary) << c.overhang;
        EXPECT_TRUE(r.featuresInAir.empty() && r.airPlaces.empty() && r.shortBridges.empty()) << c.overhang;
    }
    const PrintabilityReport far = Check(PillarWithPlate(7.0f));
    ASSERT_EQ(far.farReaches.size(), 1u);
    EXPECT_EQ(far.farReaches[0].layer, 50u);
    EXPECT_NEAR(far.farReaches[0].x, 16.95f, 0.06f);  // the centre of the farthest cell
    EXPECT_EQ(FormatPrintabilitySummary(far),
        "1 place is laid in the air: support needed, and 1 layer reaches far past the layer below");
}

TEST(CheckPrintability, SpansBetweenTwoSupportsAreBridges)
{
    struct Case {
        float span;
        std::size_t shortBridges;
        std::size_t airPlaces;
        std::string summary;
    };
    const Case cases[] = {
        {6.0f, 1, 0, "prints without support; 1 short bridge depends on the printer"},
        {16.0f, 0, 1, "1 place is laid in the air: support needed, and 1 layer reaches far past the layer below"},
    };
    for (const Case& c : cases) {
        const PrintabilityReport r = Check(Bridge(c.span));
        EXPECT_EQ(r.shortBridges.size(), c.shortBridges) << c.span;
        EXPECT_EQ(r.airPlaces.size(), c.airPlaces) << c.span;
        EXPECT_EQ(FormatPrintabilitySummary(r), c.summary) << c.span;
    }
}

// Along x, the upper block starts in the air at the first cut past 6 mm on the x axis.
TEST(CheckPrintability, UpAxisIsClampedAndChoosesTheBuildDirection)
{
    const TriangleMesh blocks = Parts({MakeBox({0, 0, 0}, {5, 10, 20}), MakeBox({6, 0, 0}, {10, 10, 20})});
    struct Case {
        std::int32_t given;
        std::int32_t used;
        std::uint64_t layers;
        std::size_t featuresInAir;
    };
    const Case cases[] = {{7, 2, 100, 0}, {2, 2, 100, 0}, {1, 1, 50, 0}, {0, 0, 50, 1}, {-1, 0, 50, 1}};
    for (const Case& c : cases) {
        PrintabilitySettings settings;
        settings.upAxis = c.given;
        const PrintabilityReport r = Check(blocks, settings);
        EXPECT_EQ(r.upAxis, c.used) << c.given;
        EXPECT_EQ(r.layers, c.layers) << c.given;
        ASSERT_EQ(r.featuresInAir.size(), c.featuresInAir) << c.given;
        if (c.featuresInAir != 0) {
            EXPECT_NEAR(r.featuresInAir[0].x, CutHeight(30), 1e-5) << c.given;
            EXPECT_NEAR(r.featuresInAir[0].z, 10.0f, 0.06f) << c.given;
        }
    }
}

TEST(CheckPrintability, RefusesBrokenMeshesWithAReason)
{
    const TriangleMesh cube = MakeBox({0, 0, 0}, {10, 10, 10});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::function<void(TriangleMesh&)> spoil;
        PrintabilityRefusal refusal;
    };
    const Case cases[] = {
        {"empty", [](TriangleMesh& m) { m = {}; }, PrintabilityRefusal::noTriangles},
        {"no triangles", [](TriangleMesh& m) { m.indices.clear(); }, PrintabilityRefusal::noTriangles},
        {"index out of range", [](TriangleMesh& m) { m.indices[4] = 8; }, PrintabilityRefusal::inconsistentMesh},
        {"no vertices", [](TriangleMesh& m) { m.vertices.clear(); }, PrintabilityRefusal::inconsistentMesh},
        {"count not a multiple of 3", [](TriangleMesh& m) { m.indices.push_back(0); },
            PrintabilityRefusal::inconsistentMesh},
        {"NaN", [&](TriangleMesh& m) { m.vertices[3].position.y = nan; }, PrintabilityRefusal::nonFiniteCoordinates},
        {"infinity", [&](TriangleMesh& m) { m.vertices[0].position.z = -inf; },
            PrintabilityRefusal::nonFiniteCoordinates},
        {"NaN in an unused vertex", [&](TriangleMesh& m) { m.vertices.push_back({{nan, 0, 0}, {}}); },
            PrintabilityRefusal::nonFiniteCoordinates},
        {"1e30 tall", [](TriangleMesh& m) { m.vertices[0].position.z = 1e30f; }, PrintabilityRefusal::tooManyLayers},
    };
    for (const Case& c : cases) {
        TriangleMesh mesh = cube;
        c.spoil(mesh);
        const PrintabilityReport r = Check(mesh);
        EXPECT_FALSE(r.checked) << c.name;
        EXPECT_EQ(r.refusal, c.refusal) << c.name;
        EXPECT_EQ(r.layers, 0u) << c.name;
        EXPECT_EQ(FormatPrintabilityReport(r), "Printability: not checked\n") << c.name;
        EXPECT_FALSE(FormatPrintabilityRefusal(r.refusal).empty()) << c.name;
    }
}

// Settings and parts that would ask for an unbounded grid get a coarser cell instead.
TEST(CheckPrintability, HostileSizesStayWithinTheCellLimits)
{
    const TriangleMesh cube = MakeBox({0, 0, 0}, {10, 10, 10});
    const TriangleMesh tile = MakeBox({0, 0, 0}, {10, 10, 2});  // the fine cells cost per layer
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::function<void(PrintabilitySettings&)> set;
    };
    const Case cases[] = {
        {"cell of a micron", tile, [](auto& s) { s.cellSize = 1e-6f; }},
        {"smallest positive cell", tile, [](auto& s) { s.cellSize = std::numeric_limits<float>::denorm_min(); }},
        {"layers of 0.01 mm", cube, [](auto& s) { s.layerHeight = 0.0f; }},
        {"allowance of 1e30 line widths", cube, [](auto& s) { s.overhangAllowance = 1e30f; }},
        {"300 m needle", MakeBox({0, 0, 0}, {300000, 0.1f, 0.1f}), [](auto&) {}},
        {"1000 km plate", MakeBox({-5e8f, -5e8f, 0}, {5e8f, 5e8f, 1}), [](auto&) {}},
        {"2 m tower", MakeBox({0, 0, 0}, {40, 40, 2000}), [](auto&) {}},
    };
    for (const Case& c : cases) {
        PrintabilitySettings settings;
        c.set(settings);
        const PrintabilityReport r = Check(c.mesh, settings);
        ASSERT_TRUE(r.checked) << c.name;
        EXPECT_LE(r.cellsPerLayer, 4'400'000u) << c.name;
        EXPECT_LE(r.cellsPerLayer * r.layers, 220'000'000u) << c.name;
        EXPECT_TRUE(r.featuresInAir.empty() && r.airPlaces.empty()) << c.name;
    }
    // Keys hold 20 bits of column: the needle's cell grows to fit 300 m in fewer than 2^20 columns.
    const PrintabilityReport needle = Check(cases[4].mesh);
    EXPECT_LT(300000.0 / needle.cellSize + 2.0, static_cast<double>(1 << 20));
}

TEST(CheckPrintability, SettingsThatAreNotNumbersAreUsedAtTheirDefaults)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const PrintabilitySettings odd{.layerHeight = nan, .lineWidth = inf, .cellSize = nan, .overhangAllowance = nan,
        .minimumArea = -inf, .bridgeLength = nan, .cantileverDistance = nan, .warningDistance = inf,
        .overhangAngleDegrees = nan};
    PrintabilityReport expected = Check(PillarWithPlate(7.0f));
    PrintabilityReport got = Check(PillarWithPlate(7.0f), odd);
    expected.milliseconds = got.milliseconds = 0.0;
    EXPECT_EQ(got, expected);
}

// Under the written rule such an island has no supported cell, so every distance in it would be
// infinite and the report would print "inf mm".
TEST(CheckPrintability, AnIslandSupportedOnlyTwoLayersDownMeasuresItsReachFromThere)
{
    // The 0.2 mm gap leaves layer 50 (cut 10.10 mm) empty; the plate's first layer, 51, has the
    // pillar two layers down.
    const PrintabilityReport r = Check(PillarWithPlate(4.0f, 0.2f));
    EXPECT_TRUE(r.featuresInAir.empty());
    EXPECT_NEAR(r.longestReach, 36 * 0.105f, 1e-4f);
    EXPECT_EQ(r.cantileverLayers, 1u);
    EXPECT_EQ(FormatPrintabilityReport(r).find("inf"), std::string::npos);
}

TEST(CheckPrintability, TheVerticesTheTrianglesUseSetTheGrid)
{
    const TriangleMesh cube = MakeBox({0, 0, 0}, {10, 10, 10});
    const PrintabilityReport plain = Check(cube);
    TriangleMesh stale = cube;  // moved without a new box
    for (MeshVertex& v : stale.vertices)
        v.position.x += 100.0f;
    TriangleMesh noBox = cube;
    noBox.boundsValid = false;
    TriangleMesh stray = cube;  // an unused vertex 1 km away
    stray.vertices.push_back({{1e6f, 1e6f, -1e6f}, {}});
    stray.ComputeBounds();
    for (const TriangleMesh* mesh : {&stale, &noBox, &stray}) {
        const PrintabilityReport r = Check(*mesh);
        ASSERT_TRUE(r.checked);
        EXPECT_EQ(r.cellsPerLayer, plain.cellsPerLayer);
        EXPECT_EQ(r.layers, plain.layers);
        EXPECT_EQ(FormatPrintabilitySummary(r), "prints without support");
    }
}

PrintabilitySettings EveryLayerShown()
{
    PrintabilitySettings s;
    s.collectDisplay = true;
    s.displayLayers = 100000;
    return s;
}

bool Contains(const std::vector<std::uint32_t>& list, std::uint32_t value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// A face turned down belongs to the first layer above it, wherever it lies between two cuts; the
// written rule, floor(height / layer height), put one 0.75 layers above a cut with the layer
// below it, where nothing is marked.
TEST(CheckPrintability, AFlatFaceTurnedDownIsShownWithTheLayerAboveIt)
{
    for (const float bottom : {6.05f, 6.15f}) {
        const TriangleMesh mesh = Parts({MakeBox({0, 0, 0}, {10, 10, 5}), MakeBox({0, 0, bottom}, {10, 10, 10})});
        const PrintabilityReport r = Check(mesh, EveryLayerShown());
        int bottomTriangles = 0;
        for (std::uint32_t t = 0; t < mesh.TriangleCount(); ++t) {
            const auto z = [&](int k) { return mesh.vertices[mesh.indices[3 * t + k]].position.z; };
            if (z(0) == bottom && z(1) == bottom && z(2) == bottom) {
                ++bottomTriangles;
                EXPECT_TRUE(Contains(r.supportTriangles, t)) << bottom << " triangle " << t;
            }
        }
        EXPECT_EQ(bottomTriangles, 2) << bottom;
    }
}

// Every place and feature the verdict counts is coloured on the part, also when its layer is not
// one of the few drawn: a check showing one layer in many once said "1 place is laid in the
// air" beside "shown: 0 triangles needing support".
TEST(CheckPrintability, EveryCountedPlaceIsColouredWhateverLayersAreDrawn)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
    };
    const Case cases[] = {
        {"a span laid in the air", Bridge(16.0f)},
        {"a block starting in the air", Parts({MakeBox({0, 0, 0}, {10, 10, 5}), MakeBox({20, 0, 6}, {30, 10, 10})})},
        // The plate's far reach lies in the place it lays in the air, whose triangles need support.
        {"a plate reaching far past its pillar", PillarWithPlate(7.0f)},
    };
    for (const Case& c : cases) {
        for (const std::uint64_t drawn : {std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{100000}}) {
            PrintabilitySettings s;
            s.collectDisplay = true;
            s.displayLayers = drawn;
            const PrintabilityReport r = Check(c.mesh, s);
            ASSERT_TRUE(r.checked);
            ASSERT_FALSE(r.airPlaces.empty() && r.featuresInAir.empty()) << c.name;
            // The part's triangles for the plain view, the cell keys for the sliced one.
            EXPECT_FALSE(r.supportTriangles.empty()) << c.name << ", " << drawn << " layers drawn";
            EXPECT_FALSE(r.supportKeys.empty()) << c.name << ", " << drawn << " layers drawn";
            // A far reach the summary counts is never told as none reaching far in the same log.
            const std::string log = FormatPrintabilityReport(r);
            EXPECT_EQ(r.farReaches.empty(), log.find("far past the layer below") == std::string::npos) << log;
            if (!r.farReaches.empty()) {
                EXPECT_FALSE(r.farTriangles.empty()) << c.name << ", " << drawn << " layers drawn";
                EXPECT_EQ(log.find(" 0 reaching far"), std::string::npos) << log;
            }
            for (const auto* list : {&r.supportTriangles, &r.farTriangles, &r.bridgeTriangles})
                EXPECT_TRUE(std::adjacent_find(list->begin(), list->end(), std::greater_equal<>()) == list->end());
            for (const auto* keys : {&r.supportKeys, &r.farKeys, &r.bridgeKeys})
                EXPECT_TRUE(std::adjacent_find(keys->begin(), keys->end(), std::greater_equal<>()) == keys->end());
        }
    }
}

// The bumpy sphere's lower half overhangs in every layer; a sloping triangle lies next to marked
// cells in several layers yet is listed once.
TEST(CheckPrintability, DisplayListsAreSortedAndUnique)
{
    const TriangleMesh sphere = test::MakeBumpySphere(10.0f, 0.8f, 60, 120);
    const PrintabilityReport r = Check(sphere, EveryLayerShown());
    ASSERT_TRUE(r.checked);
    for (const auto* list : {&r.supportTriangles, &r.farTriangles, &r.bridgeTriangles})
        EXPECT_TRUE(std::adjacent_find(list->begin(), list->end(), std::greater_equal<>()) == list->end());
    for (const auto* keys : {&r.supportKeys, &r.farKeys, &r.bridgeKeys})
        EXPECT_TRUE(std::adjacent_find(keys->begin(), keys->end(), std::greater_equal<>()) == keys->end());
    EXPECT_FALSE(r.supportTriangles.empty());
    EXPECT_EQ(r.supportSquares.size(), 6 * r.supportKeys.size());
    EXPECT_EQ(r.farSquares.size(), 6 * r.farKeys.size());
    EXPECT_EQ(r.bridgeSquares.size(), 6 * r.bridgeKeys.size());
    EXPECT_FALSE(r.contourSegments.empty());
    // Squares lie at the cut height of their layer.
    float lowest = 0.0f;
    for (const MeshVertex& v : sphere.vertices)
        lowest = std::min(lowest, v.position.z);
    const auto layer = static_cast<int>(r.supportKeys.front() >> 40);
    EXPECT_NEAR(r.supportSquares.front().z, lowest + CutHeight(layer), 1e-4);
}

// Five floating 50 mm plates, each a feature in the air over some 226,000 cells.
TEST(CheckPrintability, DisplayCellsAreCappedPerKind)
{
    TriangleMesh plates;
    for (int i = 0; i < 6; ++i)
        plates = Combined(std::move(plates), MakeBox({0, 0, i * 1.0f}, {50, 50, i * 1.0f + 0.4f}));
    const PrintabilityReport r = Check(plates, EveryLayerShown());
    EXPECT_EQ(r.featuresInAir.size(), 5u);
    EXPECT_EQ(r.supportKeys.size(), kMaximumDisplayCells);
    EXPECT_EQ(r.supportSquares.size(), 6 * kMaximumDisplayCells);
    EXPECT_GT(r.displayCellsOmitted, 100'000u);
}

TEST(CheckPrintability, SameOnOneThreadAsOnMany)
{
    const TriangleMesh sphere = test::MakeBumpySphere(20.0f, 1.5f, 200, 400);
    PrintabilitySettings settings = EveryLayerShown();
    settings.displayLayers = 40;
    test::ExpectSameOnOneThread([&] {
        PrintabilityReport r = Check(sphere, settings);
        r.milliseconds = 0.0;
        return r;
    });
}

TEST(IsNearMarkedCell, LooksAtTheNineCellsAroundOnOneLayer)
{
    const std::vector<std::uint64_t> keys = {PrintCellKey(3, 0, 0), PrintCellKey(3, 10, 20), PrintCellKey(4, 50, 50)};
    struct Case {
        std::int64_t column, row, layer;
        bool near;
    };
    const Case cases[] = {
        {20, 10, 3, true}, {21, 11, 3, true}, {19, 9, 3, true}, {22, 10, 3, false}, {20, 12, 3, false},
        {20, 10, 4, false},  // another layer
        {-1, -1, 3, true},   // (0, 0) is among its neighbours; the negative ones are skipped
        {1, 1, 3, true}, {0, 0, -1, false}, {51, 51, 4, true}, {52, 52, 4, false},
        {(1 << 20), 50, 4, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsNearMarkedCell(c.column, c.row, c.layer, keys), c.near) << c.column << "," << c.row << "," << c.layer;
    EXPECT_EQ(PrintCellKey(3, 10, 20), (std::uint64_t{3} << 40) | (10u << 20) | 20u);
}

PrintabilityReport Counted(std::size_t air, std::size_t places, std::size_t far, std::size_t bridges)
{
    PrintabilityReport r;
    r.checked = true;
    r.featuresInAir.resize(air);
    r.airPlaces.resize(places);
    r.farReaches.resize(far);
    r.shortBridges.resize(bridges);
    r.longestReach = 7.25f;
    return r;
}

TEST(FormatPrintabilitySummary, SingularAndPluralWording)
{
    struct Case {
        PrintabilityReport report;
        std::string text;
    };
    const Case cases[] = {
        {PrintabilityReport{}, "not checked"},
        {Counted(0, 0, 0, 0), "prints without support"},
        {Counted(1, 0, 0, 0), "1 feature starts in the air: support needed"},
        {Counted(2, 1, 0, 0), "2 features start in the air, 1 place is laid in the air: support needed"},
        {Counted(1, 2, 1, 1), "1 feature starts in the air, 2 places are laid in the air: support needed, and 1 layer "
            "reaches far past the layer below; 1 short bridge to check"},
        {Counted(0, 1, 2, 2), "1 place is laid in the air: support needed, and 2 layers reach far past the layer "
            "below; 2 short bridges to check"},
        {Counted(0, 3, 0, 0), "3 places are laid in the air: support needed"},
        {Counted(0, 0, 1, 0), "1 layer reaches 7.2 mm past the layer below: support recommended"},
        {Counted(0, 0, 2, 1), "2 layers reach up to 7.2 mm past the layer below: support recommended; 1 short bridge "
            "to check"},
        {Counted(0, 0, 0, 1), "prints without support; 1 short bridge depends on the printer"},
        {Counted(0, 0, 0, 2), "prints without support; 2 short bridges depend on the printer"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatPrintabilitySummary(c.report), c.text);
}

TEST(FormatPrintabilityReport, Texts)
{
    PrintabilityReport r = Counted(0, 0, 0, 0);
    r.layers = 50;
    r.cellsPerLayer = 9604;
    r.cellSize = 0.105f;
    r.milliseconds = 12.6;
    r.longestReach = 3.78f;
    r.downwardArea = 99.6f;
    r.surfaceArea = 600.2f;
    EXPECT_EQ(FormatPrintabilityReport(r),
        "Printability: prints without support (50 layers of 9,604 cells of 0.10 mm, 13 ms)\n"
        "  longest reach past the layer below 3.78 mm\n"
        "  faces flatter than the support threshold, facing down, off the bed: 100 of 600 mm2 (what the slicer "
        "highlights and supports; not a fault)\n");
    r.cantileverLayers = 2;
    r.contourSegments.resize(40);
    r.supportTriangles = {1, 2, 3};
    r.farTriangles = {4};
    EXPECT_EQ(FormatPrintabilityReport(r),
        "Printability: prints without support (50 layers of 9,604 cells of 0.10 mm, 13 ms)\n"
        "  longest reach past the layer below 3.78 mm; 2 layers past the cantilever distance but short of the "
        "warning\n"
        "  faces flatter than the support threshold, facing down, off the bed: 100 of 600 mm2 (what the slicer "
        "highlights and supports; not a fault)\n"
        "  shown: 3 triangles needing support, 1 reaching far, 0 bridging, 40 contour lines\n");
}

// Window of `rows` text lines: '#' a source, '.' an open cell, ' ' blocked; a blocked border all
// round.
struct ChamferWindow {
    std::size_t width = 0;
    std::vector<float> distances;
    std::vector<detail::CellRun> open;
};

ChamferWindow WindowOf(const std::vector<std::string>& rows)
{
    ChamferWindow w;
    w.width = rows.front().size() + 2;
    w.distances.assign(w.width * (rows.size() + 2), std::numeric_limits<float>::infinity());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const std::size_t i = (r + 1) * w.width + c + 1;
            if (rows[r][c] == '#')
                w.distances[i] = 0.0f;
            if (rows[r][c] != '.')
                continue;
            const auto row = static_cast<std::int32_t>(r + 1);
            const auto column = static_cast<std::int32_t>(c + 1);
            if (!w.open.empty() && w.open.back().row == row && w.open.back().end == column)
                ++w.open.back().end;
            else
                w.open.push_back({row, column, column + 1});
        }
    }
    return w;
}

float DistanceAt(const ChamferWindow& w, std::size_t row, std::size_t column)
{
    return w.distances[(row + 1) * w.width + column + 1];
}

TEST(SweepChamferDistances, SideAndDiagonalSteps)
{
    ChamferWindow w = WindowOf({"#....", ".....", ".....", "  ..."});
    detail::SweepChamferDistances(w.distances, w.width, w.open, 32);
    EXPECT_EQ(DistanceAt(w, 0, 4), 4.0f);
    EXPECT_EQ(DistanceAt(w, 1, 1), 1.4142135f);
    EXPECT_FLOAT_EQ(DistanceAt(w, 2, 4), 2 * 1.4142135f + 2);  // two diagonals, two sides
    EXPECT_FLOAT_EQ(DistanceAt(w, 3, 2), 2 * 1.4142135f + 1);  // round the blocked corner
    EXPECT_EQ(DistanceAt(w, 3, 0), std::numeric_limits<float>::infinity());
}

// A corridor winding round: the sweeps need many pairs, and the search that takes over after
// one pair reaches the same distances.
TEST(SweepChamferDistances, AWindingCorridorSettlesTheSameByTheSearch)
{
    const std::vector<std::string> spiral = {
        "#..........",
        "          .",
        " ........ .",
        " .      . .",
        " . .... . .",
        " . .  . . .",
        " . .    . .",
        " . ...... .",
        " .        .",
        " ..........",
    };
    ChamferWindow swept = WindowOf(spiral);
    ChamferWindow searched = swept;
    const int pairs = detail::SweepChamferDistances(swept.distances, swept.width, swept.open, 1000);
    EXPECT_GT(pairs, 3);
    EXPECT_EQ(detail::SweepChamferDistances(searched.distances, searched.width, searched.open, 1), 1);
    EXPECT_EQ(searched.distances, swept.distances);
    EXPECT_EQ(DistanceAt(swept, 0, 10), 10.0f);
    EXPECT_GT(DistanceAt(swept, 5, 6), 40.0f);  // the centre, over forty steps along the corridor
}

}  // namespace
}  // namespace grainforge::mesh
