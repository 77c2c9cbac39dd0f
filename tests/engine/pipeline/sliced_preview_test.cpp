#include "engine/pipeline/sliced_preview.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using detail::SliceChain;
using detail::SlicePoint;
using detail::SliceSegment;

SlicedPreview Preview(const TriangleMesh& mesh, SlicedPreviewSettings settings = {},
                      const detail::SlicedPreviewLimits& limits = {})
{
    SlicedPreview preview;
    return detail::BuildSlicedPreviewWithin(preview, mesh, settings, limits);
}

constexpr SlicedPreviewSettings kNoSkins{.skins = false};

// Area of the skin quads (the triangles after the beads') by their height.
std::map<float, double> SkinAreaByHeight(const SlicedPreview& preview)
{
    std::map<float, double> area;
    const auto corner = [&](std::size_t t, int k) {
        return preview.mesh.vertices[preview.mesh.indices[3 * t + k]].position;
    };
    for (std::size_t t = 4 * preview.beadSegments; t < preview.mesh.TriangleCount(); ++t)
        area[corner(t, 0).z] += 0.5 * Length(Cross(corner(t, 1) - corner(t, 0), corner(t, 2) - corner(t, 0)));
    return area;
}

// A bead's outer vertex lies on the outline and has a level normal; its top and bottom
// vertices half a width inside have normals along the up axis.
bool IsOuterVertex(const MeshVertex& v) { return v.normal.z == 0.0f; }

// The 10 mm cube leaning along x by one millimetre per millimetre of height: the outline's
// position along x tells at which height a layer was cut.
TriangleMesh MakeLeaningCube()
{
    TriangleMesh cube = MakeTestCube(10.0f);
    for (MeshVertex& v : cube.vertices)
        v.position.x += v.position.z + 5.0f;
    cube.ComputeBounds();
    return cube;
}

// A 10 mm box standing on z = 0 with a closed 4 mm void from z = 2 to 8: layers through the
// void cut an outline and a hole.
TriangleMesh MakeBoxWithVoid()
{
    return test::Combined(test::MakeBox({0, 0, 0}, {10, 10, 10}), test::Flipped(test::MakeBox({3, 3, 2}, {7, 7, 8})));
}

TEST(SlicedPreview, CubeGivesFiftyLayersOfOneSquareBead)
{
    const SlicedPreview preview = Preview(MakeTestCube(10.0f), kNoSkins);
    EXPECT_EQ(preview.refusal, SlicedPreviewRefusal::none);
    EXPECT_EQ(preview.layerCount, 50u);
    EXPECT_EQ(preview.layerStep, 1u);
    EXPECT_EQ(preview.drawnLayerCount, 50u);
    EXPECT_EQ(preview.outlines, 50u);
    EXPECT_EQ(preview.openChains, 0u);
    EXPECT_EQ(preview.cutsBeforeSimplifying, 400u);  // two triangles on each of four sides
    EXPECT_EQ(preview.beadSegments, 200u);
    EXPECT_EQ(preview.mesh.TriangleCount(), 800u);
    EXPECT_EQ(preview.mesh.vertices.size(), 600u);  // four points a layer, three vertices each
    ASSERT_EQ(preview.triangleLayers.size(), 800u);
    for (std::size_t t = 0; t < 800; ++t)
        EXPECT_EQ(preview.triangleLayers[t], t / 16) << t;
    for (const MeshVertex& v : preview.mesh.vertices) {
        // Square corners: mitred so that the top and bottom edges keep 0.21 mm from each side.
        const float reach = std::max(std::fabs(v.position.x), std::fabs(v.position.y));
        EXPECT_NEAR(reach, IsOuterVertex(v) ? 5.0f : 4.79f, 1e-5f);
        // Outline points at mid-layer, the top and bottom edges on the layer boundaries.
        const double tenths = (v.position.z + 5.0) / 0.1;
        EXPECT_NEAR(tenths, std::round(tenths), 1e-4);
        EXPECT_EQ(std::llround(tenths) % 2, IsOuterVertex(v) ? 1 : 0);
    }
}

TEST(SlicedPreview, LayersAreCutJustAboveMidLayer)
{
    std::map<long, float> lowestX;  // of the outline, by layer
    for (const MeshVertex& v : Preview(MakeLeaningCube(), kNoSkins).mesh.vertices) {
        const long layer = std::lround((v.position.z + 5.0f) / 0.2f - 0.5f);
        if (IsOuterVertex(v))
            lowestX[layer] = std::min(lowestX.contains(layer) ? lowestX[layer] : 1e9f, v.position.x);
    }
    ASSERT_EQ(lowestX.size(), 50u);
    for (const auto& [layer, x] : lowestX)
        EXPECT_NEAR(x, -5.0f + 0.10274f + 0.2f * static_cast<float>(layer), 2e-5f) << "layer " << layer;
}

TEST(SlicedPreview, BeadTrianglesFaceOutAndUpOrDown)
{
    for (const TriangleMesh& part : {MakeTestCube(10.0f), MakeTestCylinder(5.0f, 4.0f)}) {
        const SlicedPreview preview = Preview(part, kNoSkins);
        ASSERT_GT(preview.mesh.TriangleCount(), 0u);
        for (std::size_t t = 0; t < preview.mesh.TriangleCount(); ++t) {
            const Vec3 n = preview.mesh.FaceNormal(t);
            Vec3 sum, up;  // of the corners' positions and normals
            for (int k = 0; k < 3; ++k) {
                sum += preview.mesh.vertices[preview.mesh.indices[3 * t + k]].position;
                up += preview.mesh.vertices[preview.mesh.indices[3 * t + k]].normal;
            }
            EXPECT_GT(n.x * sum.x + n.y * sum.y, 0.0f) << "triangle " << t << " faces inward";
            EXPECT_GT(n.z * up.z, 0.0f) << "triangle " << t;
        }
    }
}

TEST(SlicedPreview, SkinsLieOnlyWhereTheSolidStartsOrEnds)
{
    // Skins by height: facing (+1 up, -1 down) and layer.
    struct Case { const char* name; TriangleMesh part; std::map<float, std::pair<float, std::uint32_t>> skins; };
    const Case cases[] = {
        {"cube", MakeTestCube(10.0f), {{-5.0f, {-1.0f, 0}}, {5.0f, {1.0f, 49}}}},
        // The void's floor tops layer 9, its ceiling is the bottom of layer 40.
        {"box with a void", MakeBoxWithVoid(),
            {{0.0f, {-1.0f, 0}}, {2.0f, {1.0f, 9}}, {8.0f, {-1.0f, 40}}, {10.0f, {1.0f, 49}}}},
    };
    for (const Case& c : cases) {
        const SlicedPreview preview = Preview(c.part);
        ASSERT_EQ(preview.mesh.TriangleCount(), 4 * preview.beadSegments + preview.skinTriangles) << c.name;
        for (std::size_t t = 4 * preview.beadSegments; t < preview.mesh.TriangleCount(); ++t) {
            const float z = preview.mesh.vertices[preview.mesh.indices[3 * t]].position.z;
            ASSERT_TRUE(c.skins.contains(z)) << c.name << ": a skin at " << z;
            EXPECT_EQ(preview.mesh.FaceNormal(t).z, c.skins.at(z).first) << c.name;
            EXPECT_EQ(preview.triangleLayers[t], c.skins.at(z).second) << c.name;
        }
        const std::map<float, double> area = SkinAreaByHeight(preview);
        ASSERT_EQ(area.size(), c.skins.size()) << c.name;
        // Cells of 0.21 mm whose centres lie inside: the area within a cell along the rim.
        for (const auto& [height, sum] : area) {
            const double expected = height == 2.0f || height == 8.0f ? 16.0 : 100.0;
            EXPECT_NEAR(sum, expected, 4.0 * std::sqrt(expected) * 0.21) << c.name << " at " << height;
        }
    }
    const SlicedPreview cube = Preview(MakeTestCube(10.0f));
    EXPECT_EQ(cube.skinTriangles, 4 * 48u);  // one quad per row of 48 under and over the cube
}

// A prism 1 mm tall over the polygon `outline` (counter-clockwise seen from above).
TriangleMesh MakePrism(const std::vector<std::pair<float, float>>& outline)
{
    TriangleMesh prism;
    const auto n = static_cast<std::uint32_t>(outline.size());
    for (float z : {0.0f, 1.0f})
        for (const auto& [x, y] : outline)
            prism.vertices.push_back({{x, y, z}, {}});
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t next = (k + 1) % n;
        prism.indices.insert(prism.indices.end(), {k, next, n + next, k, n + next, n + k});
        if (k > 0 && next > 0)
            prism.indices.insert(prism.indices.end(), {0, next, k, n, n + k, n + next});
    }
    prism.ComputeBounds();
    return prism;
}

TEST(SlicedPreview, SkinRowCrossedOnlyByAPointLikeCutStaysFilled)
{
    // The right side of a 10 mm square has a corner just below and one just above the centre
    // of skin row 25 (cells of 0.21 from -0.21): the piece between is too short for an outline
    // but is the side's only crossing of that row.
    const double centre = -0.21f + 25.5 * static_cast<double>(0.21f);
    const float below = std::nextafter(static_cast<float>(centre), 0.0f);
    const float above = std::nextafter(below, 10.0f);
    ASSERT_TRUE(below < centre && centre < above);
    const SlicedPreview preview = Preview(MakePrism({{0, 0}, {10, 0}, {10, below}, {10, above}, {10, 10}, {0, 10}}));
    EXPECT_EQ(preview.cutsBeforeSimplifying, 5u * 10u);  // the short piece left out of the outlines
    EXPECT_EQ(preview.skinTriangles, 4 * 48u);         // one quad per row under and over the prism
}

TEST(SlicedPreview, PartsWithAHoleOrTwoBodiesGiveOneOutlineEach)
{
    const SlicedPreview twoCubes = Preview(test::MakeTwoCubes(), kNoSkins);
    EXPECT_EQ(twoCubes.layerCount, 100u);
    EXPECT_EQ(twoCubes.outlines, 200u);
    EXPECT_EQ(twoCubes.beadSegments, 800u);

    const SlicedPreview voided = Preview(MakeBoxWithVoid(), kNoSkins);
    EXPECT_EQ(voided.outlines, 50u + 30u);  // layers 10 to 39 cut the void
    EXPECT_EQ(voided.openChains, 0u);
    EXPECT_EQ(voided.beadSegments, 4 * 80u);
    // The hole runs the other way round, so its bead lies in the wall, not in the void.
    for (const MeshVertex& v : voided.mesh.vertices) {
        const float x = v.position.x, y = v.position.y;
        if (!IsOuterVertex(v)) {
            EXPECT_TRUE(x > 0 && x < 10 && y > 0 && y < 10 && !(x > 3 && x < 7 && y > 3 && y < 7)) << x << ", " << y;
        }
    }
}

TEST(SlicedPreview, OpenCutIsOneOpenChainPerLayerAndReportedAfterTheOutlines)
{
    TriangleMesh holed = MakeTestCube(10.0f);
    holed.indices.erase(holed.indices.begin() + 30, holed.indices.begin() + 33);  // a triangle of the +x side
    const SlicedPreview preview = Preview(holed, kNoSkins);
    EXPECT_EQ(preview.outlines, 0u);
    // Not split where the scan happened to meet the cut: one chain from one side of the hole to
    // the other, round the three whole sides.
    EXPECT_EQ(preview.openChains, 50u);
    EXPECT_EQ(preview.beadSegments, 50u * 4u);
    const std::string text = FormatSlicedPreviewReport(preview);
    EXPECT_NE(text.find("; 0 outlines and 50 open chains, 200 bead segments (350 cuts"), std::string::npos) << text;
    EXPECT_EQ(FormatSlicedPreviewReport(Preview(MakeTestCube(10.0f))).find("open chains"), std::string::npos);
}

TEST(SlicedPreview, OutlineSimplifiedBelowThreePointsDrawsNothingButCounts)
{
    // 0.02 mm across: inside the 0.03 mm tolerance.
    const SlicedPreview preview = Preview(MakeTestCube(0.02f), {.layerHeightMillimetres = 0.01f, .skins = false});
    EXPECT_EQ(preview.layerCount, 2u);
    EXPECT_EQ(preview.outlines, 2u);
    EXPECT_EQ(preview.beadSegments, 0u);
    EXPECT_EQ(preview.mesh.TriangleCount(), 0u);
}

TEST(SlicedPreview, BudgetDrawsEveryKthLayerAsOneTallBead)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const SlicedPreview full = Preview(sphere, {.toleranceMillimetres = 0, .segmentBudget = 1u << 30, .skins = false});
    ASSERT_EQ(full.layerStep, 1u);
    // Budget 0 counts as 1000.
    const SlicedPreview preview = Preview(sphere, {.toleranceMillimetres = 0, .segmentBudget = 0, .skins = false});
    const std::uint64_t k = (full.beadSegments + 999) / 1000;
    ASSERT_GT(k, 3u);
    EXPECT_EQ(preview.layerStep, k);
    EXPECT_EQ(preview.drawnLayerCount, (100 + k - 1) / k);
    for (const std::uint32_t layer : preview.triangleLayers)
        EXPECT_EQ(layer % k, 0u);
    for (const MeshVertex& v : preview.mesh.vertices) {
        // Bead tops and bottoms at every k-th layer boundary, outlines halfway between.
        const double steps = (v.position.z + 10.0) / (0.2 * static_cast<double>(k));
        EXPECT_NEAR(steps, std::floor(steps) + (IsOuterVertex(v) ? 0.5 : 0.0), 1e-4) << v.position.z;
    }
    const std::string text = FormatSlicedPreviewReport(preview);
    const std::string step = std::to_string(k);
    const std::string drawn = std::to_string(preview.drawnLayerCount);
    const std::string opening = "Sliced preview: 100 layers, every " + step + "th drawn (" + drawn;
    EXPECT_EQ(text.rfind(opening + ", each as tall as " + step + "); ", 0), 0u) << text;
}

TEST(SlicedPreview, ReportTexts)
{
    SlicedPreview cube{.layerCount = 50, .drawnLayerCount = 50, .beadSegments = 200, .skinTriangles = 8,
        .cutsBeforeSimplifying = 400, .outlines = 50, .milliseconds = 3.4};
    cube.mesh.indices.resize(3 * 808);
    EXPECT_EQ(FormatSlicedPreviewReport(cube), "Sliced preview: 50 layers; 50 outlines, 200 bead segments (400 cuts "
        "before simplifying), 8 skin triangles, 808 triangles in all, 3 ms\n");
    const std::pair<std::uint64_t, const char*> ordinals[] = {
        {2, "2nd"}, {3, "3rd"}, {4, "4th"}, {11, "11th"}, {21, "21th"}, {22, "22th"}, {23, "23th"}};
    for (const auto& [k, ordinal] : ordinals) {
        SlicedPreview stepped = cube;
        stepped.layerStep = k;
        stepped.drawnLayerCount = (50 + k - 1) / k;
        stepped.openChains = 2;
        stepped.skinsCut = true;
        EXPECT_EQ(FormatSlicedPreviewReport(stepped), "Sliced preview: 50 layers, every " + std::string(ordinal)
            + " drawn (" + std::to_string(stepped.drawnLayerCount) + ", each as tall as " + std::to_string(k)
            + "); 50 outlines and 2 open chains, 200 bead segments (400 cuts before simplifying), 8 skin triangles "
              "(the higher layers' skins left out at the size limit), 808 triangles in all, 3 ms\n");
    }
    const std::pair<SlicedPreviewRefusal, const char*> refusals[] = {
        {SlicedPreviewRefusal::tooManyLayers,
            "the part needs more than 100,000 layers; a larger layer height needs fewer"},
        {SlicedPreviewRefusal::nonFiniteCoordinates, "a vertex coordinate is not a finite number"},
    };
    for (const auto& [refusal, reason] : refusals) {
        EXPECT_EQ(FormatSlicedPreviewReport(SlicedPreview{.refusal = refusal}),
            std::string("Sliced preview: nothing to show: ") + reason + "\n");
    }
}

TEST(SlicedPreview, SettingsOutOfRangeCountAsTheNearestAllowed)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    const auto layersWith = [&](SlicedPreviewSettings s) { return Preview(cube, s).layerCount; };
    EXPECT_EQ(layersWith({.layerHeightMillimetres = 0.0f}), 1000u);
    EXPECT_EQ(layersWith({.layerHeightMillimetres = -3.0f}), 1000u);
    EXPECT_EQ(layersWith({.layerHeightMillimetres = 1e30f}), 1u);
    // Line width 0 counts as 0.05: the bead's top edge runs 0.025 inside the outline.
    for (const MeshVertex& v : Preview(cube, {.lineWidthMillimetres = 0, .skins = false}).mesh.vertices)
        EXPECT_NEAR(std::max(std::fabs(v.position.x), std::fabs(v.position.y)), IsOuterVertex(v) ? 5 : 4.975f, 1e-5f);
    // Up axis 5 as 2 and -1 as 0: the box is 10 along z and 4 along x.
    const TriangleMesh box = test::MakeBox({0, 0, 0}, {4, 6, 10});
    EXPECT_EQ(Preview(box, {.upAxis = 5}).layerCount, 50u);
    EXPECT_EQ(Preview(box, {.upAxis = -1}).layerCount, 20u);
    EXPECT_EQ(Preview(box, {.upAxis = 1}).layerCount, 30u);
}

TEST(SlicedPreview, BoxIsMeasuredNotTakenFromTheMesh)
{
    const SlicedPreview reference = Preview(MakeTestCube(10.0f));
    TriangleMesh stale = MakeTestCube(10.0f);
    stale.boundsValid = false;
    const SlicedPreview unmeasured = Preview(stale);
    stale.boundsValid = true;
    stale.boundsMin = {-50.0f, -50.0f, -50.0f};
    for (const SlicedPreview& preview : {unmeasured, Preview(stale)}) {
        EXPECT_EQ(preview.layerCount, reference.layerCount);
        EXPECT_EQ(preview.mesh.indices, reference.mesh.indices);
    }
}

TEST(SlicedPreview, PlateAsWideAsTheFloatRangeGivesFiniteCoordinates)
{
    const float largest = std::numeric_limits<float>::max();
    const SlicedPreview preview = Preview(test::MakeBox({-largest, -largest, 0}, {largest, largest, 1}));
    EXPECT_EQ(preview.layerCount, 5u);
    EXPECT_GT(preview.beadSegments, 0u);
    EXPECT_GT(preview.skinTriangles, 0u);
    for (const MeshVertex& v : preview.mesh.vertices)
        ASSERT_TRUE(IsFinite(v.position) && IsFinite(v.normal));
}

TEST(SlicedPreview, HostileInputGivesAnEmptyPreviewWithItsReason)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const TriangleMesh cube = MakeTestCube(10.0f);
    TriangleMesh nanVertex = cube, unusedInfinite = cube;
    nanVertex.vertices[3].position.y = nan;
    unusedInfinite.vertices.push_back({{0.0f, 0.0f, -inf}, {}});
    TriangleMesh comb;  // 4000 needles 100 mm tall: 40 million cuts at 0.01 mm
    for (std::uint32_t i = 0; i < 4000; ++i) {
        const float x = static_cast<float>(i) * 0.01f;
        comb.vertices.insert(comb.vertices.end(), {{{x, 0, 0}, {}}, {{x + 0.005f, 0, 0}, {}}, {{x, 0.005f, 100}, {}}});
        comb.indices.insert(comb.indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
    }
    struct Case { const char* name; TriangleMesh mesh; SlicedPreviewSettings settings; SlicedPreviewRefusal refusal; };
    const Case cases[] = {
        {"no triangles", TriangleMesh{}, {}, SlicedPreviewRefusal::noTriangles},
        {"four indices", test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 1}}, {0, 1, 2, 0}), {},
            SlicedPreviewRefusal::inconsistentMesh},
        {"index past the vertices", test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 1}}, {0, 1, 3}), {},
            SlicedPreviewRefusal::inconsistentMesh},
        {"NaN coordinate", nanVertex, {}, SlicedPreviewRefusal::nonFiniteCoordinates},
        {"infinite unused vertex", unusedInfinite, {}, SlicedPreviewRefusal::nonFiniteCoordinates},
        {"NaN layer height", cube, {.layerHeightMillimetres = nan}, SlicedPreviewRefusal::nonFiniteSettings},
        {"infinite layer height", cube, {.layerHeightMillimetres = inf}, SlicedPreviewRefusal::nonFiniteSettings},
        {"NaN line width", cube, {.lineWidthMillimetres = nan}, SlicedPreviewRefusal::nonFiniteSettings},
        {"NaN tolerance", cube, {.toleranceMillimetres = nan}, SlicedPreviewRefusal::nonFiniteSettings},
        {"part at the ends of the float range", test::MakeBox({-3e38f, -3e38f, -3e38f}, {3e38f, 3e38f, 3e38f}), {},
            SlicedPreviewRefusal::tooManyLayers},
        {"two metres at layer height 0", MakeTestCube(2000.0f), {.layerHeightMillimetres = 0.0f},
            SlicedPreviewRefusal::tooManyLayers},
        {"forty million cuts", comb, {.layerHeightMillimetres = 0.01f}, SlicedPreviewRefusal::tooManyCuts},
    };
    for (const Case& c : cases) {
        SlicedPreview preview;
        preview.outlines = 7;  // left from an earlier build
        BuildSlicedPreview(preview, c.mesh, c.settings);
        EXPECT_EQ(preview.refusal, c.refusal) << c.name;
        EXPECT_EQ(preview.layerCount, 0u) << c.name;
        EXPECT_EQ(preview.outlines, 0u) << c.name;
        EXPECT_TRUE(preview.mesh.vertices.empty() && preview.triangleLayers.empty()) << c.name;
        EXPECT_EQ(FormatSlicedPreviewReport(preview).rfind("Sliced preview: nothing to show: ", 0), 0u) << c.name;
    }
}

TEST(SlicedPreview, LimitsBoundTheDrawnSegmentsTheSkinsAndTheSkinGrid)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    const auto within = [&](detail::SlicedPreviewLimits limits, SlicedPreviewSettings settings = {}) {
        return Preview(cube, settings, limits);
    };
    // 200 segments in all, 4 a layer: a budget past the limit counts as the limit.
    const SlicedPreview halved = within({.maxDrawnSegments = 100}, {.segmentBudget = 1u << 20});
    EXPECT_EQ(halved.layerStep, 2u);
    EXPECT_EQ(halved.beadSegments, 100u);
    EXPECT_EQ(within({.maxDrawnSegments = 3}).refusal, SlicedPreviewRefusal::layerTooLarge);
    EXPECT_EQ(within({.maxLayers = 49}).refusal, SlicedPreviewRefusal::tooManyLayers);
    EXPECT_EQ(within({.maxCuts = 399}).refusal, SlicedPreviewRefusal::tooManyCuts);
    EXPECT_EQ(within({.maxCuts = 400}).refusal, SlicedPreviewRefusal::none);
    // The bottom skin (96 triangles) fits, the top one does not.
    const SlicedPreview cut = within({.maxSkinTriangles = 150});
    EXPECT_EQ(cut.skinTriangles, 96u);
    EXPECT_TRUE(cut.skinsCut);
    EXPECT_FALSE(within({}).skinsCut);
    // A grid of at most 400 cells a layer: cells of 0.56 mm or more, the same footprint.
    const SlicedPreview coarse = within({.maxSkinCellsPerLayer = 400});
    EXPECT_LE(coarse.skinTriangles, 4 * 18u);
    for (const auto& [height, area] : SkinAreaByHeight(coarse))
        EXPECT_NEAR(area, 100.0, 4 * 10 * 0.6) << height;
}

TEST(SlicedPreview, SameOnOneThreadAsOnMany)
{
    const TriangleMesh part = test::MakeBumpySphere(20.0f, 1.5f, 96, 192);
    test::ExpectSameOnOneThread([&] {
        const SlicedPreview p = Preview(part, {.segmentBudget = 20000});
        std::vector<float> numbers;
        for (const MeshVertex& v : p.mesh.vertices)
            numbers.insert(numbers.end(),
                {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z});
        return std::make_tuple(numbers, p.mesh.indices, p.triangleLayers, p.layerStep, p.outlines, p.openChains,
            p.cutsBeforeSimplifying, p.skinTriangles);
    });
}

TEST(ChainSliceSegments, JoinsSegmentsEndToStart)
{
    const SlicePoint a{0, 0}, b{1, 0}, c{1, 1}, d{0, 1}, o{2, 0}, e{3, 0}, f{3, 1};
    struct Case { const char* name; std::vector<SliceSegment> segments; std::vector<SliceChain> chains; };
    const Case cases[] = {
        {"square in any order", {{c, d}, {a, b}, {d, a}, {b, c}}, {{{c, d, a, b}, true}}},
        {"two squares", {{a, b}, {o, e}, {b, c}, {e, f}, {c, a}, {f, o}}, {{{a, b, c}, true}, {{o, e, f}, true}}},
        {"one reversed side", {{a, b}, {b, c}, {d, c}, {d, a}}, {{{d, c}, false}, {{d, a, b, c}, false}}},
        {"open line met in the middle", {{b, c}, {a, b}, {c, d}}, {{{a, b, c, d}, false}}},
        {"ends 0.00004 apart", {{a, b}, {{1.00004f, 0}, c}, {c, a}}, {{{a, b, c}, true}}},
        {"ends 0.0002 apart", {{a, b}, {{1.0002f, 0}, c}}, {{{a, b}, false}, {{{1.0002f, 0}, c}, false}}},
        // Back at its first point a, the chain takes the second loop through a before it closes.
        {"figure eight", {{a, b}, {b, c}, {c, a}, {a, o}, {o, e}, {e, a}}, {{{a, b, c, a, o, e}, true}}},
        {"one segment back and forth", {{a, b}, {b, a}}, {{{a, b}, true}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detail::ChainSliceSegments(c.segments), c.chains) << c.name;
}

TEST(SimplifySliceChain, KeepsPointsFartherThanTheTolerance)
{
    const SlicePoint a{0, 0}, m{5, 0}, b{10, 0}, c{10, 10}, d{0, 10};
    struct Case { const char* name; SliceChain chain; float tolerance; SliceChain expected; };
    const Case cases[] = {
        {"square starting mid-side", {{m, b, {10, 5}, c, {5, 10}, d, {0, 5}, a}, true}, 0.03f, {{b, c, d, a}, true}},
        {"square starting at a corner", {{a, m, b, c, d}, true}, 0.03f, {{a, b, c, d}, true}},
        {"bump within", {{a, {5, 0.02f}, b}, false}, 0.03f, {{a, b}, false}},
        {"bump beyond", {{a, {5, 0.05f}, b}, false}, 0.03f, {{a, {5, 0.05f}, b}, false}},
        {"first of equal farthest", {{a, {3, 1}, {7, 1}, b}, false}, 0.6f, {{a, {3, 1}, b}, false}},
        {"tiny triangle", {{a, {0.01f, 0}, {0, 0.01f}}, true}, 0.03f, {{a}, true}},
        {"tolerance 0", {{a, m, b}, false}, 0.0f, {{a, m, b}, false}},
        {"two points", {{a, b}, true}, 1.0f, {{a, b}, true}},
    };
    for (const Case& c : cases) {
        SliceChain chain = c.chain;
        detail::SimplifySliceChain(chain, c.tolerance);
        EXPECT_EQ(chain, c.expected) << c.name;
    }
}

TEST(ChooseLayerStep, DrawsAtMostTheBudgetAndNeverPastTheLimit)
{
    struct Case { const char* name; std::vector<std::uint64_t> segments; std::uint64_t budget, maxDrawn, step; };
    const Case cases[] = {
        {"within the budget", std::vector<std::uint64_t>(10, 100), 1000, 5000, 1},
        {"twice the budget", std::vector<std::uint64_t>(10, 200), 1000, 5000, 2},
        {"budget 0 counts as 1000", std::vector<std::uint64_t>(10, 250), 0, 5000, 3},
        {"full layers fall on the drawn ones", {3000, 0, 3000, 0, 3000, 0, 3000, 0}, 6000, 7000, 3},
        {"never taller than the part", {5000}, 1000, 8000, 1},
        {"one layer past the limit", {5000, 10}, 1000, 4000, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detail::ChooseLayerStep(c.segments, c.budget, c.maxDrawn), c.step) << c.name;
}

}  // namespace
}  // namespace grainforge::mesh
