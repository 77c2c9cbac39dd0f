// The document view's window-free rules: status texts, the overlay equality with NaN, masks
// sent to the renderer, the surface-mode memory, the cylinder seam, cage colours, box-side
// clicks, the layer gizmo's side and the resting-face patches.
#include "app/view/view_rules.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace grainforge::app {
namespace {

TEST(ViewRulesTest, ToolNamesAndCommands)
{
    const struct {
        int command;
        std::uint32_t tool;
        const wchar_t* name;
    } rows[] = {
        {32817, 0, L"Tool: none (orbit)"}, {32845, 1, L"Tool: Move Texture"}, {32846, 2, L"Tool: Rotate Texture"},
        {32847, 3, L"Tool: Zoom Texture"}, {32814, 4, L"Tool: Move Cage"},    {32815, 5, L"Tool: Rotate Cage"},
        {32905, 6, L"Tool: Move Mask"},    {32906, 7, L"Tool: Rotate Mask"},  {32907, 8, L"Tool: Scale Mask"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ToolFromCommand(row.command), static_cast<int>(row.tool));
        EXPECT_EQ(ToolName(row.tool), row.name);
    }
    EXPECT_EQ(ToolFromCommand(32816), -1);
    EXPECT_EQ(ToolName(9), L"");
}

// The cube keeps to half the view's narrower side, shrinks to half its size, and then goes.
TEST(ViewRulesTest, TheViewCubeShrinksAndThenGoesInANarrowView)
{
    const struct {
        int width, height;
        float dpiScale, scale;
    } rows[] = {
        {776, 760, 1.0f, 1.0f},           // 1600 x 1000 beside the mask panel
        {216, 380, 1.0f, 108.0f / 134.0f},  // 800 x 600 without it
        {105, 380, 1.0f, 0.0f},           // 800 x 600 beside it: the cube would reach over the part
        {134, 600, 1.0f, 0.5f},           // half its size, its least
        {133, 600, 1.0f, 0.0f},
        {600, 130, 1.0f, 0.0f},           // a low view as a narrow one
        {400, 1200, 2.0f, 200.0f / 134.0f},
        {400, 1200, 0.0f, 1.0f},          // no DPI scale counts as 1
        {0, 0, 1.0f, 0.0f},
        {-5, 400, 1.0f, 0.0f},
    };
    for (const auto& row : rows) {
        const float scale = ViewCubeScale(row.width, row.height, row.dpiScale);
        EXPECT_NEAR(scale, row.scale, 1e-5f) << row.width << " x " << row.height << " at " << row.dpiScale;
        if (scale > 0.0f) {
            // What is drawn then stays inside the view's right half.
            const gl::ViewCubeLayout cube = gl::BuildViewCubeLayout(row.width, scale, -135.0f, 45.0f);
            EXPECT_GE(cube.squareX, 0.5f * static_cast<float>(row.width) - 1e-3f) << row.width;
            EXPECT_LE(cube.squareY + cube.squareSize, 0.5f * static_cast<float>(row.height) + 1e-3f) << row.height;
        }
    }
}

TEST(ViewRulesTest, FrameStatisticsTexts)
{
    gl::FrameStatistics gpu;
    gpu.gpuTimingValid = true;
    gpu.gpuMilliseconds = 2.26;
    gpu.frameMilliseconds = 9.0;
    gpu.framesPerSecond = 59.6;
    gl::FrameStatistics cpu = gpu;
    cpu.gpuTimingValid = false;
    EXPECT_EQ(FrameStatisticsText(gpu, true), L"GPU 2.3 ms  |  60 fps");
    EXPECT_EQ(FrameStatisticsText(cpu, true), L"9.0 ms  |  60 fps");
    EXPECT_EQ(FrameStatisticsText(gpu, false), L"");
}

// A timer query that spanned a resize read 2539806.4 ms; such a sample is dropped, not shown.
TEST(ViewRulesTest, BogusGpuSamplesAreDropped)
{
    const std::pair<std::uint64_t, std::optional<double>> cases[] = {
        {0u, 0.0},
        {2'260'000u, 2.26},
        {1'000'000'000u, 1000.0},
        {2'539'806'400'000u, std::nullopt},
        {std::numeric_limits<std::uint64_t>::max(), std::nullopt},
    };
    for (const auto& [nanoseconds, expected] : cases)
        EXPECT_EQ(gl::GpuFrameMilliseconds(nanoseconds), expected) << nanoseconds;
}

TEST(ViewRulesTest, OverlayEqualityTreatsTwoOffRecordsAsEqualAndNaNAsUnequal)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    gl::ProjectionOverlay off1;
    gl::ProjectionOverlay off2;
    off2.blendSharpness = nan;
    off2.cageCenter = {5.0f, 0.0f, 0.0f};
    EXPECT_TRUE(ProjectionOverlaysEqual(off1, off2));

    gl::ProjectionOverlay on = off1;
    on.blend = 1;
    EXPECT_TRUE(ProjectionOverlaysEqual(on, on));
    EXPECT_FALSE(ProjectionOverlaysEqual(on, off1));
    gl::ProjectionOverlay turned = on;
    turned.layerTurn[3] = 0.5f;
    EXPECT_FALSE(ProjectionOverlaysEqual(on, turned));
    gl::ProjectionOverlay withNan = on;
    withNan.faceN[2].y = nan;
    EXPECT_FALSE(ProjectionOverlaysEqual(withNan, withNan));
}

TEST(ViewRulesTest, ProjectionOverlayOfABlendedBoxAndASphere)
{
    mesh::Projection box = mesh::InitProjection();
    box.boxBlended = 1;
    box.boxBlendSharpness = 6.0f;
    box.cage.center = {1.0f, 2.0f, 3.0f};
    box.boxSideEnabled[2] = 0;
    box.layers[1].rotationDegrees = 90.0f;
    const mesh::TextureSettings texture;
    EXPECT_EQ(BuildProjectionOverlay(false, box, texture).blend, 0);
    const gl::ProjectionOverlay overlay = BuildProjectionOverlay(true, box, texture);
    EXPECT_EQ(overlay.blend, 1);
    EXPECT_EQ(overlay.blendSharpness, 6.0f);
    EXPECT_EQ(overlay.cageCenter, (Vec3{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(overlay.sideEnabled[2], 0);
    EXPECT_FLOAT_EQ(overlay.layerTurn[1], 3.1415927f / 2.0f);
    EXPECT_EQ(overlay.sphere, 0);

    mesh::Projection sphere = box;
    sphere.type = mesh::ProjectionKind::Sphere;
    sphere.boxBlended = 0;
    sphere.cage.size = {4.0f, 10.0f, 6.0f};
    const gl::ProjectionOverlay round = BuildProjectionOverlay(true, sphere, texture);
    EXPECT_EQ(round.blend, 0);
    EXPECT_EQ(round.sphere, 1);
    EXPECT_EQ(round.sphereRadius, 5.0f);
    EXPECT_NEAR(Length(round.faceN[0]), 1.0f, 1e-5f);
}

TEST(ViewRulesTest, MasksSentAreTheFirstSixteenEnabledOnesWhileThePreviewShows)
{
    std::vector<mesh::MaskVolume> volumes(20);
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        volumes[i].center.x = static_cast<float>(i);
        volumes[i].enabled = i == 1 || i == 5 ? 0 : 1;
    }
    const std::vector<mesh::MaskVolume> shown = DisplayedMasks(true, true, volumes);
    ASSERT_EQ(shown.size(), 16u);
    EXPECT_EQ(shown[0].center.x, 0.0f);
    EXPECT_EQ(shown[1].center.x, 2.0f);
    EXPECT_EQ(shown[15].center.x, 17.0f);
    EXPECT_TRUE(DisplayedMasks(true, false, volumes).empty());
    EXPECT_TRUE(DisplayedMasks(false, true, volumes).empty());
}

TEST(ViewRulesTest, SurfaceModeMemory)
{
    TriangleMesh resultA;
    TriangleMesh resultB;
    SurfaceModeMemory memory;
    // The preview: height map when there is one, else the checkerboard; pushed once.
    EXPECT_EQ(NextSurfaceMode(memory, true, nullptr, true), std::optional<std::uint32_t>(3));
    EXPECT_EQ(NextSurfaceMode(memory, true, nullptr, true), std::nullopt);
    EXPECT_EQ(NextSurfaceMode(memory, true, nullptr, false), std::optional<std::uint32_t>(1));
    memory.previewChoice = 2;
    memory.previewChoiceSet = true;
    EXPECT_EQ(NextSurfaceMode(memory, true, nullptr, false), std::optional<std::uint32_t>(2));
    // A current result: the user's result choice until another result is shown.
    memory.resultMesh = &resultA;
    memory.resultChoice = 4;
    memory.resultChoiceSet = true;
    EXPECT_EQ(NextSurfaceMode(memory, false, &resultA, false), std::optional<std::uint32_t>(4));
    EXPECT_EQ(NextSurfaceMode(memory, false, &resultB, false), std::optional<std::uint32_t>(0));
    EXPECT_FALSE(memory.resultChoiceSet);
    EXPECT_EQ(memory.resultMesh, &resultB);
}

TEST(ViewRulesTest, SeamShiftMovesCornersWholeTurnsNextToTheFirst)
{
    const struct {
        std::array<float, 2> a, b, c, turn, b2, c2;
    } rows[] = {
        {{1.0f, 0.0f}, {99.0f, 0.0f}, {2.0f, 1.0f}, {100.0f, 0.0f}, {-1.0f, 0.0f}, {2.0f, 1.0f}},
        {{99.0f, 5.0f}, {1.0f, 5.0f}, {0.5f, 6.0f}, {100.0f, 0.0f}, {101.0f, 5.0f}, {100.5f, 6.0f}},
        {{1.0f, 0.0f}, {99.0f, 0.0f}, {2.0f, 1.0f}, {0.0f, 0.0f}, {99.0f, 0.0f}, {2.0f, 1.0f}},  // zero turn
    };
    for (const auto& row : rows) {
        std::array<float, 2> b = row.b;
        std::array<float, 2> c = row.c;
        ShiftAcrossSeam(row.a, b, c, row.turn);
        EXPECT_EQ(b, row.b2);
        EXPECT_EQ(c, row.c2);
    }
}

TEST(ViewRulesTest, CylinderProjectionKeepsEveryTriangleOffTheSeam)
{
    TriangleMesh tube = mesh::MakeTestCylinder(10.0f, 20.0f);
    mesh::Projection projection = mesh::InitProjection();
    projection.type = mesh::ProjectionKind::Cylinder;
    projection.cage.size = {20.0f, 20.0f, 20.0f};
    projection.cylinderSideEnabled = 1;
    const std::vector<std::array<float, 2>> corners = ComputeDisplayProjection(tube, projection);
    ASSERT_EQ(corners.size(), tube.indices.size());
    // The wall's circumference is about 63 mm: no wall triangle may span half of it.
    float widest = 0.0f;
    for (std::size_t t = 0; t < tube.TriangleCount(); ++t) {
        if (std::fabs(tube.FaceNormal(t).z) > 0.5f)
            continue;
        for (int k = 1; k < 3; ++k)
            widest = std::max(widest, std::fabs(corners[3 * t + k][0] - corners[3 * t][0]));
    }
    EXPECT_GT(widest, 0.0f);
    EXPECT_LT(widest, 10.0f);
}

TEST(ViewRulesTest, CageColoursAndLightening)
{
    const struct {
        int side;
        bool off, light;
        Vec3 colour;
    } rows[] = {
        {0, false, false, {0.88f, 0.28f, 0.25f}}, {3, false, false, {0.32f, 0.78f, 0.36f}},
        {5, false, false, {0.3f, 0.52f, 0.92f}},  {9, false, false, {0.45f, 0.47f, 0.5f}},
        {1, true, false, {0.38f, 0.4f, 0.43f}},   {0, false, true, {1.0f, 0.63f, 0.6f}},
    };
    for (const auto& row : rows) {
        const Vec3 c = CageSideColour(row.side, row.off, row.light);
        EXPECT_NEAR(c.x, row.colour.x, 1e-6f);
        EXPECT_NEAR(c.y, row.colour.y, 1e-6f);
        EXPECT_NEAR(c.z, row.colour.z, 1e-6f);
    }
    mesh::Projection box = mesh::InitProjection();
    box.boxSideEnabled[4] = 0;
    const gl::CageOverlayGeometry geometry = BuildCageOverlayGeometry(box, 0);
    ASSERT_EQ(geometry.faceColours.size(), geometry.faces.size());
    EXPECT_FALSE(geometry.faces.empty());
}

TEST(ViewRulesTest, BoxSideClicksAndSideSelection)
{
    std::uint8_t sides[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_TRUE(ClickBoxSideSwitches(sides, 2, false));
    EXPECT_EQ(std::vector<int>(sides, sides + 6), (std::vector<int>{0, 0, 1, 0, 0, 0}));
    ASSERT_TRUE(ClickBoxSideSwitches(sides, 2, false));  // the only side: all come back
    EXPECT_EQ(std::vector<int>(sides, sides + 6), (std::vector<int>{1, 1, 1, 1, 1, 1}));
    ASSERT_TRUE(ClickBoxSideSwitches(sides, 5, true));
    EXPECT_EQ(sides[5], 0);
    EXPECT_FALSE(ClickBoxSideSwitches(sides, 6, false));

    EXPECT_EQ(NextActiveSide(-1, 3), 3);
    EXPECT_EQ(NextActiveSide(3, 3), -1);
    EXPECT_EQ(NextActiveSide(3, 7), -1);
}

TEST(ViewRulesTest, LayerGizmoSideFacesTheEye)
{
    mesh::Projection box = mesh::InitProjection();
    box.cage.size = {10.0f, 10.0f, 10.0f};
    EXPECT_EQ(LayerGizmoSide(box, {0.0f, -50.0f, 10.0f}), 3);  // -Y faces the eye most
    EXPECT_EQ(LayerGizmoSide(box, {50.0f, 0.0f, 0.0f}), 0);
    box.activeLayer = 4;
    EXPECT_EQ(LayerGizmoSide(box, {50.0f, 0.0f, 0.0f}), 4);
    mesh::Projection plane = mesh::InitProjection();
    plane.type = mesh::ProjectionKind::Plane;
    EXPECT_EQ(LayerGizmoSide(plane, {0.0f, 0.0f, -50.0f}), 4);
}

TEST(ViewRulesTest, RestingFacePatchesFloatAboveTheirFace)
{
    TriangleMesh cube = mesh::MakeTestCube(20.0f);
    cube.ComputeBounds();
    mesh::RestingFace bottom;
    bottom.normal = {0.0f, 0.0f, -1.0f};
    for (std::uint32_t t = 0; t < cube.TriangleCount(); ++t)
        if (cube.FaceNormal(t).z < -0.5f)
            bottom.triangles.push_back(t);
    bottom.triangles.push_back(9999);  // out of range: skipped
    std::vector<Vec3> points;
    std::vector<Vec3> colours;
    BuildRestingFacePatches(cube, {bottom, bottom}, 1, points, colours);
    ASSERT_EQ(points.size(), 12u);
    EXPECT_FLOAT_EQ(RestingFacePatchOffset(cube), 0.04f);
    EXPECT_FLOAT_EQ(points[0].z, cube.boundsMin.z - 0.04f);
    EXPECT_EQ(colours[0], kRestingFace);
    EXPECT_EQ(colours[11], kRestingFaceHovered);

    const gl::ViewRay up{{0.0f, 0.0f, -100.0f}, {0.0f, 0.0f, 1.0f}};
    EXPECT_EQ(PickRestingFaceIndex(cube, {bottom}, up), 0);
    const gl::ViewRay away{{0.0f, 0.0f, -100.0f}, {0.0f, 0.0f, -1.0f}};
    EXPECT_EQ(PickRestingFaceIndex(cube, {bottom}, away), -1);
    TriangleMesh unbounded;
    EXPECT_EQ(RestingFacePatchOffset(unbounded), 0.0f);
}

}  // namespace
}  // namespace grainforge::app
