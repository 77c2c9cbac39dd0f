#include "app/view/viewport_controller.h"

#include "tests/app/view/viewport_fakes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::app {
namespace {

using test::FakeCageHost;
using test::FakeRestingFaceHost;
using test::FakeViewportPlatform;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

class ViewportControllerTest : public ::testing::Test {
protected:
    ViewportControllerTest() : controller(renderer, platform)
    {
        controller.SetCageHost(&host);
        controller.OnCreate();
        controller.OnSize(kWidth, kHeight);
    }

    // Where a world point shows, in client pixels.
    ViewportPoint Screen(mesh::Vec3 p) const
    {
        const gl::Matrix4 m = gl::ViewProjectionMatrix(renderer.CameraState(), renderer.Bounds(), kWidth, kHeight,
                                                       renderer.view.orthographic != 0);
        const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
        const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
        const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
        return {(x / w + 1.0f) * 0.5f * kWidth - 0.5f, (1.0f - y / w) * 0.5f * kHeight - 0.5f};
    }

    ViewportPoint CellCentre(gl::CellDirection direction) const
    {
        const gl::ViewCubeLayout layout = renderer.ViewCubeLayoutNow();
        for (const gl::ViewCubeFace& face : layout.faces) {
            for (const gl::ViewCubeCell& cell : face.cells) {
                if (cell.direction == direction) {
                    float x = 0.0f;
                    float y = 0.0f;
                    for (const gl::ScreenPoint& p : cell.quad) {
                        x += p.x / 4.0f;
                        y += p.y / 4.0f;
                    }
                    return {x, y};
                }
            }
        }
        ADD_FAILURE() << "cell not visible";
        return {};
    }

    void Click(ViewportPoint p, bool shift = false, bool control = false)
    {
        controller.OnLeftDown(p, shift);
        controller.OnLeftUp(p, control);
    }

    // Runs the animation's timer to its end.
    void RunAnimation()
    {
        for (int step = 0; step < 40 && controller.IsAnimating(); ++step) {
            platform.now += 15;
            controller.OnTimer();
        }
    }

    void Drag(ViewportPoint from, float dx, float dy, int steps, bool shift = false)
    {
        controller.OnLeftDown(from, shift);
        for (int i = 1; i <= steps; ++i)
            controller.OnMouseMove({from.x + dx * static_cast<float>(i) / steps, from.y + dy * static_cast<float>(i) / steps},
                                   shift);
        controller.OnLeftUp({from.x + dx, from.y + dy}, false);
    }

    gl::GlRenderer renderer;
    FakeViewportPlatform platform;
    FakeCageHost host;
    ViewportController controller;
};

TEST_F(ViewportControllerTest, TopCellAnimatesToTheTopViewAndTurnsOrthographicOn)
{
    Click(CellCentre({0, 0, 1}));
    ASSERT_TRUE(controller.IsAnimating());
    EXPECT_EQ(platform.timerMilliseconds, kAnimationTimerMilliseconds);
    platform.now += 100;
    controller.OnTimer();
    EXPECT_GT(renderer.CameraState().pitch, 45.0f);
    EXPECT_LT(renderer.CameraState().pitch, 89.5f);
    EXPECT_EQ(renderer.view.orthographic, 0) << "orthographic only at the end";
    RunAnimation();
    EXPECT_FALSE(controller.IsAnimating());
    EXPECT_EQ(platform.timerMilliseconds, 0);
    EXPECT_FLOAT_EQ(renderer.CameraState().yaw, -90.0f);
    EXPECT_FLOAT_EQ(renderer.CameraState().pitch, 89.5f);
    EXPECT_EQ(renderer.view.orthographic, 1);
    EXPECT_TRUE(controller.AutomaticOrthographic());

    // One pixel of orbit returns to perspective.
    const ViewportPoint background{40.0f, 560.0f};
    controller.OnLeftDown(background, false);
    controller.OnMouseMove({41.0f, 560.0f}, false);
    controller.OnLeftUp({41.0f, 560.0f}, false);
    EXPECT_EQ(renderer.view.orthographic, 0);
    EXPECT_FALSE(controller.AutomaticOrthographic());
}

TEST_F(ViewportControllerTest, NumpadFiveAfterAFaceViewTurnsOrthographicOffForGood)
{
    controller.StartCameraAnimation({0, -1, 0});
    RunAnimation();
    ASSERT_EQ(renderer.view.orthographic, 1);
    EXPECT_TRUE(controller.OnKeyDown(kKeyNumpad5));
    EXPECT_EQ(renderer.view.orthographic, 0);
    EXPECT_FALSE(controller.AutomaticOrthographic());
    EXPECT_TRUE(controller.OnKeyDown(kKeyNumpad5));
    EXPECT_EQ(renderer.view.orthographic, 1) << "user orthographic";
    EXPECT_FALSE(controller.AutomaticOrthographic());
    EXPECT_FALSE(controller.OnKeyDown('G'));
}

TEST_F(ViewportControllerTest, AnimationTargetsTakeTheShortWayRound)
{
    struct Case {
        float startYaw;
        gl::CellDirection cell;
        float endYaw;
        float endPitch;
        bool orthographic;
    };
    const Case cases[] = {
        {-135.0f, {1, 1, 1}, 45.0f, 35.26439f, false},
        {170.0f, {-1, 0, 0}, 180.0f, 0.0f, true},
        {-170.0f, {-1, 0, 0}, -180.0f, 0.0f, true},
        {170.0f, {-1, -1, 0}, 225.0f, 0.0f, false},
        {0.0f, {0, 0, -1}, -90.0f, -89.5f, true},
        {0.0f, {1, 0, -1}, 0.0f, -45.0f, false},
    };
    for (const Case& c : cases) {
        renderer.view.orthographic = 0;
        renderer.CameraState().yaw = c.startYaw;
        renderer.CameraState().pitch = 10.0f;
        controller.StartCameraAnimation(c.cell);
        EXPECT_NEAR(controller.AnimationEndYaw(), c.endYaw, 1e-3f) << c.startYaw;
        EXPECT_NEAR(controller.AnimationEndPitch(), c.endPitch, 1e-3f);
        EXPECT_LE(std::fabs(controller.AnimationEndYaw() - c.startYaw), 180.0f);
        RunAnimation();
        EXPECT_EQ(renderer.view.orthographic != 0, c.orthographic);
    }
    controller.StartCameraAnimation({0, 0, 0});
    EXPECT_FALSE(controller.IsAnimating()) << "no direction, no animation";
}

TEST_F(ViewportControllerTest, CubePressIsAClickWithinFourPixelsAndAnOrbitBeyond)
{
    const ViewportPoint top = CellCentre({0, 0, 1});
    controller.OnLeftDown(top, false);
    controller.OnMouseMove({top.x + 4.0f, top.y - 4.0f}, false);
    EXPECT_FALSE(controller.ViewCubeDragged());
    EXPECT_FLOAT_EQ(renderer.CameraState().yaw, -135.0f);
    controller.OnLeftUp({top.x + 1.0f, top.y}, false);
    EXPECT_TRUE(controller.IsAnimating()) << "a click at the release point";
    controller.StopAnimation();

    controller.OnLeftDown(top, false);
    controller.OnMouseMove({top.x + 3.0f, top.y}, false);
    controller.OnMouseMove({top.x + 5.0f, top.y}, false);
    EXPECT_TRUE(controller.ViewCubeDragged());
    // Orbited from the last point (2 px), not from the press point (5 px).
    EXPECT_NEAR(renderer.CameraState().yaw, -135.0f - 1.6f, 1e-3f);
    controller.OnLeftUp({top.x + 5.0f, top.y}, false);
    EXPECT_FALSE(controller.IsAnimating());
    EXPECT_FALSE(platform.captured);
}

TEST_F(ViewportControllerTest, HomeButtonResetsTheAnglesWhileHomeAndFKeepThem)
{
    renderer.CameraState().yaw = 10.0f;
    renderer.CameraState().pitch = 20.0f;
    renderer.CameraState().target = {3.0f, 0.0f, 0.0f};
    for (int key : {kKeyHome, kKeyF}) {
        renderer.CameraState().target = {3.0f, 0.0f, 0.0f};
        renderer.view.orthographic = 1;
        EXPECT_TRUE(controller.OnKeyDown(key));
        EXPECT_FLOAT_EQ(renderer.CameraState().yaw, 10.0f);
        EXPECT_FLOAT_EQ(renderer.CameraState().pitch, 20.0f);
        EXPECT_EQ(renderer.CameraState().target, renderer.Bounds().centre);
        EXPECT_EQ(renderer.view.orthographic, 0);
    }
    const gl::ViewCubeLayout layout = renderer.ViewCubeLayoutNow();
    Click({layout.squareX + 10.0f, layout.squareY + 10.0f});
    EXPECT_FLOAT_EQ(renderer.CameraState().yaw, -135.0f);
    EXPECT_FLOAT_EQ(renderer.CameraState().pitch, 45.0f);
    EXPECT_FALSE(controller.IsAnimating());
}

TEST_F(ViewportControllerTest, CubeHoverLightsTheCellAndTheHomeButtonAndLeavingClearsThem)
{
    const ViewportPoint top = CellCentre({0, 0, 1});
    controller.OnMouseMove(top, false);
    EXPECT_TRUE(renderer.viewCubeHover.cellValid);
    EXPECT_EQ(renderer.viewCubeHover.cell, (gl::CellDirection{0, 0, 1}));
    const gl::ViewCubeLayout layout = renderer.ViewCubeLayoutNow();
    controller.OnMouseMove({layout.squareX + 5.0f, layout.squareY + 5.0f}, false);
    EXPECT_FALSE(renderer.viewCubeHover.cellValid);
    EXPECT_TRUE(renderer.viewCubeHover.homeHovered);
    const int repaints = platform.repaints;
    controller.OnMouseMove({layout.squareX + 6.0f, layout.squareY + 5.0f}, false);
    EXPECT_EQ(platform.repaints, repaints) << "no change, no repaint";
    controller.OnMouseLeave();
    EXPECT_FALSE(renderer.viewCubeHover.homeHovered);
    EXPECT_GT(platform.repaints, repaints);
}

TEST_F(ViewportControllerTest, MovingTheCageByItsArrowCallsTheHostInOrder)
{
    host.tool = 4;
    const ViewportPoint start = Screen({0.5f, 0.0f, 0.0f});
    const ViewportPoint along = Screen({0.7f, 0.0f, 0.0f});
    const float dx = along.x - start.x;
    const float dy = along.y - start.y;
    const float k = 50.0f / std::sqrt(dx * dx + dy * dy);
    Drag(start, dx * k, dy * k, 5);
    const std::vector<std::string> expected{"BeginEdit", "SetCageFrame", "SetCageFrame", "SetCageFrame",
                                            "SetCageFrame", "SetCageFrame", "EndCageDrag"};
    EXPECT_EQ(host.calls, expected);
    EXPECT_GT(host.projection.cage.center.x, 0.1f);
    EXPECT_NEAR(host.projection.cage.center.y, 0.0f, 1e-5f);
    EXPECT_NEAR(host.projection.cage.center.z, 0.0f, 1e-5f);
    EXPECT_FLOAT_EQ(renderer.CameraState().yaw, -135.0f) << "a handle drag does not orbit";
}

TEST_F(ViewportControllerTest, AGrabReleasedWithoutMovingOpensAndClosesOneEdit)
{
    host.tool = 4;
    Click(Screen({0.5f, 0.0f, 0.0f}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginEdit", "EndCageDrag"}));

    host.calls.clear();
    host.tool = 1;
    host.layerGizmo.valid = 1;
    host.layerGizmo.side = 4;
    host.layerGizmo.layerU = host.layerGizmo.sideU = {1, 0, 0};
    host.layerGizmo.layerV = host.layerGizmo.sideV = {0, 1, 0};
    host.layerGizmo.normal = {0, 0, 1};
    Click(Screen({0.5f, 0.0f, 0.0f}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginEdit", "BeginCageDrag", "EndCageDrag"}));

    host.calls.clear();
    Drag(Screen({0.5f, 0.0f, 0.0f}), 20.0f, 0.0f, 2);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginEdit", "BeginCageDrag", "SetSidePlacement",
                                                    "SetSidePlacement", "EndCageDrag"}));
    EXPECT_NE(host.projection.layers[4].originMillimetres[0], 0.0f);
}

TEST_F(ViewportControllerTest, MaskFacesScaleOutwardAndSymmetricallyWithShift)
{
    host.tool = 8;
    host.mask.size = {1.0f, 1.0f, 1.0f};
    const ViewportPoint face = Screen({-0.5f, 0.0f, 0.0f});
    const ViewportPoint outward = Screen({-0.8f, 0.0f, 0.0f});
    Drag(face, outward.x - face.x, outward.y - face.y, 3);
    EXPECT_NEAR(host.mask.size.x, 1.3f, 0.02f);
    EXPECT_NEAR(host.mask.center.x, -0.15f, 0.01f);
    EXPECT_FLOAT_EQ(host.mask.size.y, 1.0f);

    // Shift held once the face is grabbed moves both faces; the centre stays.
    host.mask = CageFrame{};
    host.mask.size = {1.0f, 1.0f, 1.0f};
    controller.OnLeftDown(face, false);
    controller.OnMouseMove(outward, true);
    controller.OnLeftUp(outward, false);
    EXPECT_NEAR(host.mask.size.x, 1.6f, 0.04f);
    EXPECT_NEAR(host.mask.center.x, 0.0f, 1e-5f);

    // Dragged far inward the mask stops at 0.5.
    host.mask = CageFrame{};
    host.mask.size = {1.0f, 1.0f, 1.0f};
    const ViewportPoint inward = Screen({0.4f, 0.0f, 0.0f});
    Drag(face, inward.x - face.x, inward.y - face.y, 3);
    EXPECT_FLOAT_EQ(host.mask.size.x, kMinimumMaskSize);
}

TEST_F(ViewportControllerTest, ShiftDragPansAndNeverGrabsAHandleMiddleDragAlwaysPans)
{
    host.tool = 4;
    const ViewportPoint handle = Screen({0.5f, 0.0f, 0.0f});
    Drag(handle, 30.0f, 0.0f, 3, true);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_FLOAT_EQ(renderer.CameraState().yaw, -135.0f);
    EXPECT_GT(mesh::Length(renderer.CameraState().target), 0.01f);

    renderer.CameraState().target = {};
    controller.OnMiddleDown(handle);
    EXPECT_TRUE(controller.IsPanning());
    controller.OnMouseMove({handle.x, handle.y + 20.0f}, false);
    controller.OnMiddleUp();
    EXPECT_TRUE(host.calls.empty());
    EXPECT_GT(mesh::Length(renderer.CameraState().target), 0.01f);
    EXPECT_FALSE(platform.captured);
}

TEST_F(ViewportControllerTest, BoxSideClicksFollowTheToolAndTheShowCageSwitch)
{
    host.projection.cage.size = {2.0f, 2.0f, 2.0f};
    const ViewportPoint topSide = Screen({0.3f, 0.3f, 1.0f});
    struct Case {
        int tool;
        bool control;
        bool showCage;
        const char* call;
    };
    const Case cases[] = {
        {0, false, true, "ClickBoxSide"},        {0, true, true, "ClickBoxSide toggle"},
        {6, true, true, "ClickBoxSide toggle"},  {2, true, true, "SelectSide"},
        {0, true, false, nullptr},
    };
    for (const Case& c : cases) {
        host.calls.clear();
        host.clickedSide = -1;
        host.tool = c.tool;
        host.hasMask = false;
        renderer.view.showCage = c.showCage ? 1 : 0;
        Click(topSide, false, c.control);
        if (c.call == nullptr) {
            EXPECT_TRUE(host.calls.empty());
        } else {
            ASSERT_EQ(host.calls.size(), 1u) << c.tool;
            EXPECT_EQ(host.calls[0], c.call);
            EXPECT_EQ(host.clickedSide, 4);
        }
    }
    // Released five pixels away it was an orbit.
    host.calls.clear();
    host.tool = 0;
    renderer.view.showCage = 1;
    Drag(topSide, 5.0f, 0.0f, 1);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(ViewportControllerTest, HoverReportsSidesAndHandlesOnlyOnChange)
{
    host.recordHover = true;
    host.projection.cage.size = {2.0f, 2.0f, 2.0f};
    renderer.view.showCage = 1;
    controller.OnMouseMove(Screen({0.3f, 0.3f, 1.0f}), false);
    EXPECT_EQ(host.hoverSide, 4);
    EXPECT_EQ(host.hoverHandle, 0);
    controller.OnMouseMove(Screen({0.31f, 0.3f, 1.0f}), false);
    EXPECT_EQ(host.calls.size(), 1u);
    renderer.view.showCage = 0;
    controller.OnMouseMove(Screen({0.3f, 0.3f, 1.0f}), false);
    EXPECT_EQ(host.hoverSide, -1) << "no side hover with the cage hidden";
    host.tool = 4;
    host.projection.cage.size = {1.0f, 1.0f, 1.0f};
    controller.OnMouseMove(Screen({0.5f, 0.0f, 0.0f}), false);
    EXPECT_EQ(host.hoverHandle, 1);
    EXPECT_EQ(host.hoverSide, -1);
}

TEST_F(ViewportControllerTest, RestingFacesAreLaidOnByAClickOnly)
{
    FakeRestingFaceHost faces;
    faces.face = 2;
    controller.SetRestingFaceHost(&faces);
    host.tool = 4;  // a handle under the pointer must not win over the resting face
    const ViewportPoint p = Screen({0.5f, 0.0f, 0.0f});
    controller.OnLeftDown(p, false);
    controller.OnMouseMove({p.x + 4.0f, p.y + 4.0f}, false);
    controller.OnLeftUp({p.x + 4.0f, p.y + 4.0f}, false);
    EXPECT_EQ(faces.laid, std::vector<int>{2});
    EXPECT_TRUE(host.calls.empty());
    EXPECT_NE(renderer.CameraState().yaw, -135.0f) << "the small orbit stays";

    controller.OnLeftDown(p, false);
    controller.OnMouseMove({p.x + 5.0f, p.y}, false);
    controller.OnLeftUp({p.x + 5.0f, p.y}, false);
    EXPECT_EQ(faces.laid.size(), 1u);

    controller.OnMouseMove(p, false);
    EXPECT_EQ(faces.hovered, 2);
    EXPECT_EQ(host.hoverHandle, 0) << "no handle hover while laying on a face";
}

TEST_F(ViewportControllerTest, WheelZoomsTowardsThePartUnderThePointerElseTheSceneCentre)
{
    renderer.CameraState().target = {1.0f, 0.0f, 0.0f};
    const float distance = renderer.CameraState().distance;
    controller.OnMouseWheel({10.0f, 10.0f}, 1.0f);
    EXPECT_NEAR(renderer.CameraState().distance, distance * 0.86f, 1e-4f);
    EXPECT_NEAR(renderer.CameraState().target.x, 0.86f, 1e-4f);

    host.partHit = true;
    host.partPoint = {0.0f, 2.0f, 0.0f};
    renderer.CameraState().target = {};
    controller.OnMouseWheel({400.0f, 300.0f}, 2.5f);
    EXPECT_GT(renderer.CameraState().target.y, 0.5f);

    for (int i = 0; i < 100; ++i)
        controller.OnMouseWheel({400.0f, 300.0f}, 120.0f);
    EXPECT_GE(renderer.CameraState().distance, renderer.Bounds().radius * 0.005f * 0.999f);
    const float before = renderer.CameraState().distance;
    controller.OnMouseWheel({400.0f, 300.0f}, std::nanf(""));
    EXPECT_EQ(renderer.CameraState().distance, before) << "a NaN wheel step is ignored";
}

TEST_F(ViewportControllerTest, LosingTheCaptureEndsADragAndClosesTheEdit)
{
    host.tool = 4;
    const ViewportPoint p = Screen({0.5f, 0.0f, 0.0f});
    controller.OnLeftDown(p, false);
    controller.OnMouseMove({p.x + 10.0f, p.y}, false);
    platform.captured = false;
    controller.OnCaptureLost();
    EXPECT_FALSE(controller.HandleDragActive());
    controller.OnMouseMove({p.x + 30.0f, p.y}, false);
    controller.OnLeftUp({p.x + 30.0f, p.y}, false);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginEdit", "SetCageFrame", "EndCageDrag"}));
}

TEST_F(ViewportControllerTest, WithoutAContextOrHostsEveryInputStillWorks)
{
    platform.ready = false;
    host.tool = 4;
    FakeRestingFaceHost faces;
    faces.face = 1;
    controller.SetRestingFaceHost(&faces);
    const ViewportPoint p = Screen({0.5f, 0.0f, 0.0f});
    Drag(p, 20.0f, 0.0f, 2);
    controller.OnMouseWheel(p, 1.0f);
    EXPECT_TRUE(controller.OnKeyDown(kKeyF));
    Click(CellCentre({0, 0, 1}));
    RunAnimation();
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(faces.laid.empty()) << "no ray, no pick";

    controller.SetCageHost(nullptr);
    controller.SetRestingFaceHost(nullptr);
    platform.ready = true;
    Drag(p, 20.0f, 0.0f, 2);
    controller.OnMouseWheel(p, 1.0f);
    EXPECT_EQ(controller.CageHandleSize(), 0.0f);
    controller.ClearCageOverlay();
}

TEST_F(ViewportControllerTest, HandleSizesFollowTheCameraAndTheDpi)
{
    EXPECT_GT(controller.CageHandleSize(), 0.0f);
    const float atNinetySix = controller.CageHandleSize();
    EXPECT_NEAR(controller.MaskHandleSize() / atNinetySix, 16.0f / 110.0f, 1e-5f);
    platform.dpi = 144;
    EXPECT_NEAR(controller.CageHandleSize(), atNinetySix * 1.5f, 1e-5f);
    platform.dpi = 0;
    EXPECT_NEAR(controller.CageHandleSize(), atNinetySix, 1e-6f);
    host.hasPart = false;
    EXPECT_EQ(controller.CageHandleSize(), 0.0f);
    EXPECT_EQ(controller.MaskHandleSize(), 0.0f);
    host.hasPart = true;
    renderer.view.orthographic = 1;
    const float point[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_NEAR(controller.WorldSizeOfPixels(point, 110.0f),
                2.0f * renderer.CameraState().distance * std::tan(gl::kHalfFieldOfView) / kHeight * 110.0f, 1e-5f);
}

}  // namespace
}  // namespace grainforge::app
