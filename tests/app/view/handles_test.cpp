#include "app/view/handles.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace grainforge::app {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

ViewRay Down(float x, float y)
{
    return {{x, y, 100.0f}, {0.0f, 0.0f, -1.0f}};
}

CageFrame UnitFrame(Vec3 size = {2.0f, 2.0f, 2.0f})
{
    CageFrame frame;
    frame.size = size;
    return frame;
}

LayerGizmo FlatGizmo()
{
    LayerGizmo g;
    g.valid = 1;
    g.side = 4;
    g.layerU = {1, 0, 0};
    g.layerV = {0, 1, 0};
    g.normal = {0, 0, 1};
    g.sideU = {1, 0, 0};
    g.sideV = {0, 1, 0};
    return g;
}

TEST(HandleAxes, RotatedFrameTurnsTheHandleAxesAndIdFourHasNone)
{
    CageFrame frame = UnitFrame();
    frame.rotationDegrees = {0.0f, 0.0f, 90.0f};
    const Vec3 x = HandleAxisDirection(frame, 1);
    EXPECT_NEAR(x.x, 0.0f, 1e-6f);
    EXPECT_NEAR(x.y, 1.0f, 1e-6f);
    const Vec3 minusY = HandleAxisDirection(frame, 6);
    EXPECT_NEAR(minusY.x, 1.0f, 1e-6f);
    for (int id : {0, 4, 9, -1})
        EXPECT_TRUE(mesh::IsZero(HandleAxisDirection(frame, id))) << id;
}

TEST(RaySegment, DistanceClampsToTheSegmentAndAPointSegmentUsesTheLine)
{
    float s = -1.0f;
    EXPECT_NEAR(RaySegmentDistance(Down(0.5f, 0.3f), {0, 0, 0}, {1, 0, 0}, s), 0.3f, 1e-5f);
    EXPECT_NEAR(s, 0.5f, 1e-5f);
    EXPECT_NEAR(RaySegmentDistance(Down(3.0f, 0.0f), {0, 0, 0}, {1, 0, 0}, s), 2.0f, 1e-5f);
    EXPECT_FLOAT_EQ(s, 1.0f);
    EXPECT_NEAR(RaySegmentDistance(Down(0.0f, 4.0f), {0, 0, 0}, {0, 0, 0}, s), 4.0f, 1e-5f);
    EXPECT_FLOAT_EQ(s, 0.0f);
}

// Frame handles of size 10: the grab tolerance is 0.9 around a shaft or a ring.
TEST(PickFrameHandle, GrabTolerancesOfArrowsAndRings)
{
    const CageFrame frame = UnitFrame();
    struct Case {
        const char* what;
        ViewRay ray;
        int tool;
        int expected;
    };
    const Case cases[] = {
        {"within 0.09 x size of the +X shaft", Down(5.0f, 0.89f), 4, 1},
        {"just outside the shaft", Down(5.0f, 0.91f), 4, 0},
        {"beyond the tip: the cone adds nothing", Down(10.95f, 0.0f), 4, 0},
        {"near the +Y shaft", Down(0.5f, 6.0f), 6, 2},
        {"through the centre: all tie, the lowest id wins", Down(0.0f, 0.0f), 4, 1},
        {"closer shaft wins", Down(0.3f, 5.0f), 4, 2},
        {"ring of +X within tolerance", {{100.0f, 0.0f, 10.8f}, {-1, 0, 0}}, 5, 1},
        {"ring of +X outside", {{100.0f, 0.0f, 11.0f}, {-1, 0, 0}}, 7, 0},
        {"ring behind the eye", {{-100.0f, 0.0f, 10.0f}, {-1, 0, 0}}, 5, 0},
        {"tool without frame handles", Down(5.0f, 0.0f), 3, 0},
        {"no tool", Down(5.0f, 0.0f), 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickFrameHandle(c.ray, frame, c.tool, 10.0f), c.expected) << c.what;
    EXPECT_EQ(PickFrameHandle(Down(5.0f, 0.0f), frame, 4, 0.0f), 0) << "zero size";
}

TEST(PickMaskScaleHandle, NearestAlongTheRayWithinTheRadius)
{
    const CageFrame frame = UnitFrame({4.0f, 2.0f, 6.0f});
    EXPECT_EQ(PickMaskScaleHandle(Down(2.0f, 0.0f), frame, false, 0.5f), 1);
    EXPECT_EQ(PickMaskScaleHandle(Down(-2.0f, 0.4f), frame, false, 0.5f), 5);
    EXPECT_EQ(PickMaskScaleHandle(Down(-2.0f, 0.6f), frame, false, 0.5f), 0);
    // Straight down the z axis both z handles qualify: the top one is nearer the eye.
    EXPECT_EQ(PickMaskScaleHandle(Down(0.0f, 0.0f), frame, false, 0.5f), 3);
    EXPECT_EQ(PickMaskScaleHandle({{0, 0, -100}, {0, 0, 1}}, frame, false, 0.5f), 7);
    EXPECT_EQ(PickMaskScaleHandle(Down(2.0f, 0.0f), frame, true, 0.5f), 8);
    EXPECT_EQ(PickMaskScaleHandle(Down(0.0f, 1.0f), frame, true, 0.5f), 0) << "a cylinder has no y handles";
    EXPECT_EQ(PickMaskScaleHandle(Down(2.0f, 0.0f), frame, false, 0.0f), 0);
    EXPECT_EQ(MaskScaleHandles(frame, false).size(), 6u);
    EXPECT_EQ(MaskScaleHandles(frame, true).size(), 3u);
}

TEST(PickLayerHandle, CentreDiscWinsAndEachToolHasItsHandles)
{
    const LayerGizmo g = FlatGizmo();
    struct Case {
        const char* what;
        ViewRay ray;
        int tool;
        int expected;
    };
    // size 10: tolerance 0.9, centre disc radius 0.45 + 1.8 = 2.25.
    const Case cases[] = {
        {"disc beats the U arrow it lies on", Down(2.2f, 0.0f), 1, 4},
        {"U arrow past the disc", Down(5.0f, 0.5f), 1, 1},
        {"V arrow", Down(0.5f, 7.0f), 1, 2},
        {"nothing", Down(6.0f, 6.0f), 1, 0},
        {"rotate ring", Down(0.0f, -10.5f), 2, 3},
        {"outside the ring", Down(0.0f, -11.0f), 2, 0},
        {"disc for the ring tool", Down(1.0f, 1.0f), 2, 4},
        {"zoom diagonal", Down(4.0f, 4.2f), 3, 3},
        {"off the diagonal", Down(4.0f, 6.0f), 3, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickLayerHandle(c.ray, g, c.tool, 10.0f), c.expected) << c.what;
    LayerGizmo invalid = g;
    invalid.valid = 0;
    EXPECT_EQ(PickLayerHandle(Down(0, 0), invalid, 1, 10.0f), 0);
    EXPECT_EQ(PickLayerHandle(Down(0, 0), g, 4, 10.0f), 0);
}

TEST(DragMaths, AxisAlongTheRayAndPlanesEdgeOnOrBehindFail)
{
    float t = 0.0f;
    EXPECT_FALSE(AxisDragParameter(Down(0, 0), {0, 0, 0}, {0, 0, 1}, t)) << "axis towards the eye";
    EXPECT_FALSE(AxisDragParameter(Down(0, 0), {0, 0, 0}, {0.0f, 0.005f, 1.0f}, t)) << "cosine above 0.99995";
    ASSERT_TRUE(AxisDragParameter(Down(3.0f, 1.0f), {0, 0, 0}, {2, 0, 0}, t));
    EXPECT_NEAR(t, 3.0f, 1e-5f);
    float angle = 0.0f;
    EXPECT_FALSE(RingDragAngle({{0, 0, 10}, {1, 0, 0}}, {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, angle)) << "edge-on";
    EXPECT_FALSE(RingDragAngle({{0, 0, 10}, {0, 0, 1}}, {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, angle)) << "behind";
    EXPECT_FALSE(RingDragAngle(Down(0, 0), {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, angle)) << "at the centre";
    ASSERT_TRUE(RingDragAngle(Down(0, 2), {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, angle));
    EXPECT_NEAR(angle, kPi / 2.0f, 1e-5f);
}

TEST(ScaleMaskFrame, FacesGrowOutwardKeepTheOppositeFaceAndStopAtTheMinimum)
{
    const CageFrame start = UnitFrame({2.0f, 2.0f, 2.0f});
    struct Case {
        const char* what;
        int id;
        float d;
        bool symmetric;
        Vec3 size;
        Vec3 centre;
    };
    const Case cases[] = {
        {"+X outward", 1, 1.0f, false, {3, 2, 2}, {0.5f, 0, 0}},
        {"-X outward grows towards -X", 5, 1.0f, false, {3, 2, 2}, {-0.5f, 0, 0}},
        {"-X with Shift: both faces, centre stays", 5, 1.0f, true, {4, 2, 2}, {0, 0, 0}},
        {"-Z inward shrinks", 7, -0.5f, false, {2, 2, 1.5f}, {0, 0, 0.25f}},
        {"never below 0.5", 2, -10.0f, false, {2, 0.5f, 2}, {0, -0.75f, 0}},
        {"never below 0.5 with Shift", 3, -10.0f, true, {2, 2, 0.5f}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const CageFrame f = ScaleMaskFrame(start, c.id, 1.0f, 1.0f + c.d, c.symmetric, kMinimumMaskSize);
        EXPECT_NEAR(f.size.x, c.size.x, 1e-5f) << c.what;
        EXPECT_NEAR(f.size.y, c.size.y, 1e-5f) << c.what;
        EXPECT_NEAR(f.size.z, c.size.z, 1e-5f) << c.what;
        EXPECT_NEAR(f.center.x, c.centre.x, 1e-5f) << c.what;
        EXPECT_NEAR(f.center.y, c.centre.y, 1e-5f) << c.what;
        EXPECT_NEAR(f.center.z, c.centre.z, 1e-5f) << c.what;
    }
    // The cylinder's radius scales x and y together.
    const CageFrame cylinder = ScaleMaskFrame(UnitFrame({2.0f, 4.0f, 2.0f}), 8, 0.0f, 0.5f, false, 0.5f);
    EXPECT_NEAR(cylinder.size.x, 3.0f, 1e-5f);
    EXPECT_NEAR(cylinder.size.y, 6.0f, 1e-5f);
    const CageFrame flat = ScaleMaskFrame(UnitFrame({0.0f, 4.0f, 2.0f}), 8, 0.0f, 0.5f, false, 0.5f);
    EXPECT_EQ(flat.size.x, 0.0f) << "a zero radius keeps its factor 1";
    // An id without an axis (the texture disc) used to index axis -1; it changes nothing.
    const CageFrame same = ScaleMaskFrame(start, 4, 0.0f, 1.0f, false, 0.5f);
    EXPECT_TRUE(mesh::OrientedBoxEquals(same, start));
}

TEST(FrameDrag, MoveRotateAndScaleFromTheStartState)
{
    FrameDragState state;
    state.frame = UnitFrame();
    state.handle = 1;
    ViewRay ray = Down(1.0f, 0.0f);
    ASSERT_TRUE(FrameDragStartValue(ray, state.frame, 4, 1, state.startValue));
    CageFrame moved;
    ASSERT_TRUE(ApplyFrameDrag(Down(3.5f, 0.7f), state, 4, false, moved));
    EXPECT_NEAR(moved.center.x, 2.5f, 1e-5f);
    EXPECT_NEAR(moved.center.y, 0.0f, 1e-6f);
    // The same ray twice gives the same frame: nothing accumulates.
    CageFrame again;
    ASSERT_TRUE(ApplyFrameDrag(Down(3.5f, 0.7f), state, 4, false, again));
    EXPECT_TRUE(mesh::OrientedBoxEquals(moved, again));

    // Scale tool on -X: the axis is negated, so moving the ray towards -X grows the mask.
    FrameDragState scale;
    scale.frame = UnitFrame();
    scale.handle = 5;
    ASSERT_TRUE(FrameDragStartValue(Down(-1.0f, 0.0f), scale.frame, 8, 5, scale.startValue));
    EXPECT_NEAR(scale.startValue, 1.0f, 1e-5f);
    CageFrame grown;
    ASSERT_TRUE(ApplyFrameDrag(Down(-2.0f, 0.0f), scale, 8, false, grown));
    EXPECT_NEAR(grown.size.x, 3.0f, 1e-5f);
    EXPECT_NEAR(grown.center.x, -0.5f, 1e-5f);
    ASSERT_TRUE(ApplyFrameDrag(Down(-2.0f, 0.0f), scale, 8, true, grown));
    EXPECT_NEAR(grown.size.x, 4.0f, 1e-5f);
    EXPECT_NEAR(grown.center.x, 0.0f, 1e-5f);

    // Rotate about z by a quarter turn.
    FrameDragState turn;
    turn.frame = UnitFrame();
    turn.handle = 3;
    ASSERT_TRUE(FrameDragStartValue(Down(2.0f, 0.0f), turn.frame, 5, 3, turn.startValue));
    CageFrame turned;
    ASSERT_TRUE(ApplyFrameDrag(Down(0.0f, 2.0f), turn, 5, false, turned));
    EXPECT_NEAR(turned.rotationDegrees.z, 90.0f, 1e-3f);

    // Along the ray nothing can be computed.
    FrameDragState up;
    up.frame = UnitFrame();
    up.handle = 3;
    EXPECT_FALSE(FrameDragStartValue(Down(0.0f, 0.0f), up.frame, 4, 3, up.startValue));
    EXPECT_FALSE(ApplyFrameDrag(Down(0.0f, 0.0f), up, 4, false, turned));
}

TEST(LayerDrag, MoveRotateAndZoomTheSideLayer)
{
    const LayerGizmo g = FlatGizmo();
    Projection projection;
    projection.layers[4].originMillimetres[0] = 1.0f;
    projection.layers[4].rotationDegrees = 90.0f;
    projection.layers[4].zoom = 2.0f;

    LayerDragState disc;
    ASSERT_TRUE(BeginLayerDrag(Down(0.5f, 0.5f), g, projection, 1, 4, 10.0f, disc));
    ProjectionLayer layer;
    ASSERT_TRUE(ApplyLayerDrag(Down(2.5f, -0.5f), disc, layer));
    EXPECT_NEAR(layer.originMillimetres[0], 3.0f, 1e-5f);
    EXPECT_NEAR(layer.originMillimetres[1], -1.0f, 1e-5f);

    // U arrow under a 90-degree layer turn moves the origin along +v.
    LayerDragState arrow;
    ASSERT_TRUE(BeginLayerDrag(Down(5.0f, 0.0f), g, projection, 1, 1, 10.0f, arrow));
    ASSERT_TRUE(ApplyLayerDrag(Down(7.0f, 0.0f), arrow, layer));
    EXPECT_NEAR(layer.originMillimetres[0], 1.0f, 1e-5f);
    EXPECT_NEAR(layer.originMillimetres[1], 2.0f, 1e-5f);

    LayerDragState zoom;
    ASSERT_TRUE(BeginLayerDrag(Down(5.0f, 5.0f), g, projection, 3, 3, 10.0f, zoom));
    ASSERT_TRUE(ApplyLayerDrag(Down(1e6f, 1e6f), zoom, layer));
    EXPECT_FLOAT_EQ(layer.zoom, kMaximumTextureZoom);
    ASSERT_TRUE(ApplyLayerDrag(Down(-5.0f, -5.0f), zoom, layer));
    EXPECT_FLOAT_EQ(layer.zoom, kMinimumTextureZoom);
    ASSERT_TRUE(ApplyLayerDrag(Down(10.0f, 10.0f), zoom, layer));
    EXPECT_NEAR(layer.zoom, 4.0f, 1e-4f);

    // A side outside 0..5 starts from the default layer.
    LayerGizmo odd = g;
    odd.side = 9;
    LayerDragState fallback;
    ASSERT_TRUE(BeginLayerDrag(Down(5.0f, 0.0f), odd, projection, 1, 1, 10.0f, fallback));
    EXPECT_EQ(fallback.layer.zoom, 1.0f);
    EXPECT_EQ(fallback.layer.originMillimetres[0], 0.0f);
}

// A ring dragged one full turn in small steps leaves the rotation 360 degrees larger, as the
// drag's start angle alone would give 0 (the angle wraps at half a turn).
TEST(LayerDrag, AFullTurnOfTheRingAddsThreeHundredSixtyDegrees)
{
    const LayerGizmo g = FlatGizmo();
    Projection projection;
    projection.layers[4].rotationDegrees = 10.0f;
    LayerDragState ring;
    ASSERT_TRUE(BeginLayerDrag(Down(10.0f, 0.0f), g, projection, 2, 3, 10.0f, ring));
    ProjectionLayer layer;
    for (int step = 1; step <= 16; ++step) {
        const float a = 2.0f * kPi * static_cast<float>(step) / 16.0f;
        ASSERT_TRUE(ApplyLayerDrag(Down(10.0f * std::cos(a), 10.0f * std::sin(a)), ring, layer));
    }
    EXPECT_NEAR(layer.rotationDegrees, 370.0f, 1e-2f);
    // And back again.
    for (int step = 15; step >= 0; --step) {
        const float a = 2.0f * kPi * static_cast<float>(step) / 16.0f;
        ASSERT_TRUE(ApplyLayerDrag(Down(10.0f * std::cos(a), 10.0f * std::sin(a)), ring, layer));
    }
    EXPECT_NEAR(layer.rotationDegrees, 10.0f, 1e-2f);
}

TEST(PickMesh, NearestTriangleAndNoHitOnBadMeshes)
{
    mesh::TriangleMesh cube = mesh::MakeTestCube(2.0f);
    cube.ComputeBounds();
    const mesh::RayHit hit = PickMesh({{0.2f, 0.1f, 50.0f}, {0, 0, -1}}, cube);
    ASSERT_TRUE(hit.hit);
    EXPECT_GE(hit.triangle, 0);
    EXPECT_NEAR(hit.point.z, cube.boundsMax.z, 1e-5f);
    EXPECT_FALSE(PickMesh({{5.0f, 5.0f, 50.0f}, {0, 0, -1}}, cube).hit) << "misses the box";
    EXPECT_FALSE(PickMesh({{5.0f, 0.0f, 50.0f}, {0, 0, -1}}, cube).hit) << "parallel to x, outside";

    mesh::TriangleMesh broken = cube;
    broken.indices.back() = static_cast<std::uint32_t>(broken.vertices.size());
    const mesh::RayHit none = PickMesh({{0.2f, 0.1f, 50.0f}, {0, 0, -1}}, broken);
    EXPECT_FALSE(none.hit);
    EXPECT_EQ(none.triangle, -1);
    mesh::TriangleMesh stale = cube;
    stale.boundsValid = false;
    EXPECT_FALSE(PickMesh({{0.2f, 0.1f, 50.0f}, {0, 0, -1}}, stale).hit);
    mesh::TriangleMesh ragged = cube;
    ragged.indices.pop_back();
    EXPECT_FALSE(PickMesh({{0.2f, 0.1f, 50.0f}, {0, 0, -1}}, ragged).hit);
    EXPECT_FALSE(PickMesh({{0.2f, 0.1f, 50.0f}, {0, 0, -1}}, mesh::TriangleMesh{}).hit);
}

TEST(PickBoxSide, TheNearestSideOfTheCage)
{
    Projection projection;
    projection.cage.size = {2.0f, 2.0f, 2.0f};
    const struct {
        ViewRay ray;
        int side;
    } cases[] = {
        {{{10, 0.2f, 0.1f}, {-1, 0, 0}}, 0},
        {{{-10, 0.2f, 0.1f}, {1, 0, 0}}, 1},
        {{{0.1f, 10, 0.2f}, {0, -1, 0}}, 2},
        {{{0.1f, -10, 0.2f}, {0, 1, 0}}, 3},
        {{{0.1f, 0.2f, 10}, {0, 0, -1}}, 4},
        {{{0.1f, 0.2f, -10}, {0, 0, 1}}, 5},
    };
    for (const auto& c : cases) {
        const BoxSidePick pick = PickBoxSide(c.ray, projection);
        EXPECT_TRUE(pick.hit);
        EXPECT_EQ(pick.side, c.side);
    }
    EXPECT_FALSE(PickBoxSide({{10, 5, 5}, {-1, 0, 0}}, projection).hit);
}

TEST(HandleGeometry, BuildersDrawWhatTheToolsHitAndWhitenTheHoveredHandle)
{
    const CageFrame frame = UnitFrame();
    const GizmoGeometry move = BuildFrameHandleGizmo(frame, 4, 2, 10.0f);
    EXPECT_EQ(move.linePoints.size(), 6u);
    EXPECT_EQ(move.trianglePoints.size(), 3u * 20u * 3u);
    EXPECT_EQ(move.lineColours.size(), move.linePoints.size());
    EXPECT_EQ(move.lineColours[2], (Vec3{1, 1, 1}));
    EXPECT_EQ(move.lineColours[0], HandleColour(1));
    EXPECT_NEAR(move.linePoints[1].x, 10.0f, 1e-5f);
    const GizmoGeometry rotate = BuildFrameHandleGizmo(frame, 5, 0, 10.0f);
    EXPECT_EQ(rotate.linePoints.size(), 3u * 48u * 2u);
    EXPECT_TRUE(rotate.trianglePoints.empty());
    EXPECT_TRUE(BuildFrameHandleGizmo(frame, 2, 0, 10.0f).linePoints.empty());
    EXPECT_TRUE(BuildFrameHandleGizmo(frame, 4, 0, 0.0f).linePoints.empty());
    const GizmoGeometry mask = BuildMaskScaleGizmo(frame, true, 8, 1.0f);
    EXPECT_EQ(mask.linePoints.size(), 6u);
    EXPECT_EQ(mask.trianglePoints.size(), 3u * 36u);
    EXPECT_EQ(mask.lineColours[4], HandleColour(8));
    EXPECT_NEAR(mask.lineColours[0].z, HandleColour(3).z * 0.7f, 1e-6f);
    const GizmoGeometry layer = BuildLayerGizmo(FlatGizmo(), 3, 3, 10.0f);
    EXPECT_EQ(layer.linePoints.size(), 48u * 2u + 2u);
    EXPECT_EQ(layer.trianglePoints.size(), 36u);
    EXPECT_EQ(layer.triangleColours[0], (Vec3{1, 1, 1}));
}

}  // namespace
}  // namespace grainforge::app
