#include "app/view/renderer/camera.h"
#include "app/view/renderer/view_cube.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace grainforge::gl {
namespace {

constexpr float kTolerance = 1e-4f;

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = kTolerance)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// Applies a column-major matrix to a point and divides by w.
Vec3 Transform(const Matrix4& m, Vec3 p)
{
    const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const float z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
    const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    return Vec3{x / w, y / w, z / w};
}

SceneBounds CubeBounds()
{
    SceneBounds bounds;
    bounds.centre = Vec3{1.0f, 2.0f, 3.0f};
    bounds.radius = 10.0f;
    bounds.floorHalfExtent = 16.0f;
    return bounds;
}

TEST(CameraBasis, IsRightHandedWithZUp)
{
    // Yaw 0, pitch 0: the eye sits on +x looking back along -x, so right is +y and up is +z.
    const CameraFrame frame = CameraBasis(0.0f, 0.0f);
    ExpectNear(frame.forward, {-1.0f, 0.0f, 0.0f});
    ExpectNear(frame.right, {0.0f, 1.0f, 0.0f});
    ExpectNear(frame.up, {0.0f, 0.0f, 1.0f});
}

TEST(CameraOrbit, WrapsYawAndClampsPitch)
{
    const SceneBounds bounds;
    struct Case {
        float dx, dy, yaw, pitch;
    };
    // From yaw -135, pitch 45: 225 px left wraps -315 to 45; pitch stops at 89.5 either way.
    const Case cases[] = {{225.0f, 0.0f, 45.0f, 45.0f},
                          {0.0f, 100.0f, -135.0f, 89.5f},
                          {0.0f, -300.0f, -135.0f, -89.5f},
                          {-50.0f, 10.0f, -95.0f, 53.0f}};
    for (const Case& c : cases) {
        Camera camera;
        OrbitCamera(camera, bounds, c.dx, c.dy);
        EXPECT_NEAR(camera.yaw, c.yaw, kTolerance) << c.dx << ", " << c.dy;
        EXPECT_NEAR(camera.pitch, c.pitch, kTolerance) << c.dx << ", " << c.dy;
    }
}

TEST(CameraOrbit, TurnsAPannedTargetAboutTheSceneCentre)
{
    const SceneBounds bounds = CubeBounds();
    Camera camera;
    camera.target = bounds.centre + Vec3{4.0f, -2.0f, 1.0f};
    const float offset = mesh::Length(camera.target - bounds.centre);
    OrbitCamera(camera, bounds, 80.0f, 0.0f);
    EXPECT_NEAR(mesh::Length(camera.target - bounds.centre), offset, kTolerance);
    // 450 px is a whole turn (360 degrees) back to where it started.
    Camera whole;
    whole.target = bounds.centre + Vec3{4.0f, -2.0f, 1.0f};
    OrbitCamera(whole, bounds, 450.0f, 0.0f);
    ExpectNear(whole.target, bounds.centre + Vec3{4.0f, -2.0f, 1.0f}, 1e-3f);
}

TEST(CameraZoom, MovesTowardTheFocusWithinTheDistanceLimits)
{
    const SceneBounds bounds = CubeBounds();
    Camera camera;
    camera.distance = 40.0f;
    camera.target = Vec3{1.0f, 1.0f, 1.0f};
    // A focus on the target changes only the distance.
    ZoomCameraAt(camera, bounds, 2.0f, camera.target);
    EXPECT_NEAR(camera.distance, 40.0f * 0.86f * 0.86f, kTolerance);
    ExpectNear(camera.target, {1.0f, 1.0f, 1.0f});

    ZoomCameraAt(camera, bounds, 500.0f, Vec3{});
    EXPECT_FLOAT_EQ(camera.distance, bounds.radius * 0.005f);
    ZoomCameraAt(camera, bounds, -5000.0f, Vec3{});
    EXPECT_FLOAT_EQ(camera.distance, bounds.radius * 35.0f);

    // From a zero distance the zoom cannot scale the target's offset: it stays put.
    Camera collapsed;
    collapsed.distance = 0.0f;
    collapsed.target = Vec3{3.0f, 0.0f, 0.0f};
    ZoomCameraAt(collapsed, bounds, 1.0f, Vec3{});
    EXPECT_EQ(collapsed.target, (Vec3{3.0f, 0.0f, 0.0f}));
    EXPECT_FLOAT_EQ(collapsed.distance, bounds.radius * 0.005f);
}

TEST(CameraPan, MovesTheTargetAcrossTheView)
{
    Camera camera;
    camera.yaw = 0.0f;
    camera.pitch = 0.0f;
    camera.distance = 100.0f;
    // 200 px at a height of 300 px and distance 100: 200 x 100 x 1.5 / 300 = 100 mm.
    PanCamera(camera, 300, 200.0f, 0.0f);
    ExpectNear(camera.target, {0.0f, -100.0f, 0.0f}, 1e-3f);
    PanCamera(camera, 300, 0.0f, 200.0f);
    ExpectNear(camera.target, {0.0f, -100.0f, 100.0f}, 1e-3f);
}

TEST(CameraFit, SeesTheSceneSphereWithAMargin)
{
    const SceneBounds bounds = CubeBounds();
    Camera camera;
    camera.yaw = 10.0f;
    FitCamera(camera, bounds, 1.0f);
    ExpectNear(camera.target, bounds.centre);
    EXPECT_NEAR(camera.distance, 10.0f / std::sin(kHalfFieldOfView) * 1.15f, 1e-3f);
    EXPECT_EQ(camera.yaw, 10.0f);
}

// The fit in views of every shape: the whole scene sphere lies inside the picture both ways,
// clear of the view cube in the top right corner (lowered below it where the view has room),
// and the narrower direction is nearly filled (the 1.15 margin), so the fit is not simply far.
// The view of a window of 800 x 600 (220 x 380) once had the cube over the top of the part.
TEST(CameraFit, KeepsTheSphereInsideViewsNarrowerAndWiderThanTall)
{
    const SceneBounds bounds = CubeBounds();
    struct Case {
        int width;
        int height;
    };
    const Case cases[] = {{1600, 1000}, {1000, 1000}, {800, 600}, {520, 600}, {300, 900}, {1, 1}, {430, 420}, {220, 380},
        {600, 300}};
    for (const Case& c : cases) {
        for (bool orthographic : {false, true}) {
            Camera camera;
            FitCamera(camera, bounds, c.width, c.height, 1.0f);
            const ViewCubeLayout cube = BuildViewCubeLayout(c.width, 1.0f, 0.0f, 0.0f);
            const Matrix4 mvp = ViewProjectionMatrix(camera, bounds, c.width, c.height, orthographic);
            float reach = 0.0f;
            for (int i = 0; i < 36; ++i) {
                for (int j = -8; j <= 8; ++j) {
                    const float yaw = static_cast<float>(i) * 0.17453292f;
                    const float pitch = static_cast<float>(j) * 0.19634954f;
                    const Vec3 onSphere = bounds.centre + Vec3{std::cos(pitch) * std::cos(yaw),
                                                               std::cos(pitch) * std::sin(yaw), std::sin(pitch)} *
                                                              bounds.radius;
                    const Vec3 p = Transform(mvp, onSphere);
                    reach = std::max({reach, std::abs(p.x), std::abs(p.y)});
                    const float x = (p.x + 1.0f) * 0.5f * static_cast<float>(c.width);
                    const float y = (1.0f - p.y) * 0.5f * static_cast<float>(c.height);
                    if (c.width > 1) {
                        EXPECT_FALSE(PointInViewCubeSquare(cube, x, y)) << x << ", " << y;
                    }
                }
            }
            SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << (orthographic ? " ortho" : ""));
            EXPECT_LT(reach, 1.0f);
            EXPECT_GT(reach, orthographic ? 0.6f : 0.8f);
        }
    }
}

TEST(CameraClipRange, EnclosesTheSceneInFrontOfTheEye)
{
    const SceneBounds bounds = CubeBounds();
    Camera camera;
    FitCamera(camera, bounds, 1.0f);
    const ClipRange clip = ComputeClipRange(camera, bounds);
    EXPECT_FLOAT_EQ(clip.radius, 16.0f);
    EXPECT_NEAR(clip.eyeDistance, camera.distance, 1e-3f);
    EXPECT_NEAR(clip.farPlane, 48.0f + camera.distance, 1e-3f);
    // The eye is within 3R of the centre, so the near plane is the small fallback.
    EXPECT_NEAR(clip.nearPlane, std::min(0.001f * clip.farPlane, 0.01f * camera.distance), 1e-5f);
}

TEST(CameraMatrices, MapTheTargetToTheCentreAndTheClipPlanesToTheDepthEnds)
{
    const SceneBounds bounds = CubeBounds();
    Camera camera;
    FitCamera(camera, bounds, 1.0f);
    for (bool orthographic : {false, true}) {
        const Matrix4 mvp = ViewProjectionMatrix(camera, bounds, 200, 100, orthographic);
        const Vec3 centre = Transform(mvp, camera.target);
        EXPECT_NEAR(centre.x, 0.0f, 1e-5f);
        EXPECT_NEAR(centre.y, 0.0f, 1e-5f);
        EXPECT_GT(centre.z, -1.0f);
        EXPECT_LT(centre.z, 1.0f);
    }
    const ClipRange clip = ComputeClipRange(camera, bounds);
    const Matrix4 projection = PerspectiveMatrix(2.0f, clip.nearPlane, clip.farPlane);
    EXPECT_NEAR(Transform(projection, Vec3{0.0f, 0.0f, -clip.nearPlane}).z, -1.0f, 1e-4f);
    EXPECT_NEAR(Transform(projection, Vec3{0.0f, 0.0f, -clip.farPlane}).z, 1.0f, 1e-4f);
    const Matrix4 ortho = OrthographicMatrix(camera, clip, 2.0f);
    EXPECT_NEAR(Transform(ortho, Vec3{0.0f, 0.0f, 3.0f * clip.radius}).z, -1.0f, 1e-4f);
    EXPECT_NEAR(Transform(ortho, Vec3{0.0f, 0.0f, -clip.farPlane}).z, 1.0f, 1e-4f);
    // The view matrix puts the eye at the origin.
    ExpectNear(Transform(LookAtMatrix(CameraEye(camera), camera.target, {0.0f, 0.0f, 1.0f}), CameraEye(camera)),
               Vec3{}, 1e-4f);
}

TEST(CameraScreenRay, GoesThroughTheViewCentreAndIsParallelWhenOrthographic)
{
    Camera camera;
    camera.target = Vec3{5.0f, 0.0f, 0.0f};
    const CameraFrame frame = CameraBasis(camera.yaw, camera.pitch);
    const std::optional<ViewRay> centre = ComputeScreenRay(camera, 1, 1, false, 0.0f, 0.0f);
    ASSERT_TRUE(centre.has_value());
    ExpectNear(centre->origin, CameraEye(camera));
    ExpectNear(centre->direction, frame.forward);

    const std::optional<ViewRay> a = ComputeScreenRay(camera, 100, 80, true, 3.0f, 70.0f);
    const std::optional<ViewRay> b = ComputeScreenRay(camera, 100, 80, true, 90.0f, 5.0f);
    ASSERT_TRUE(a && b);
    ExpectNear(a->direction, b->direction);
    // The ray through the middle starts two camera distances behind the eye.
    const std::optional<ViewRay> middle = ComputeScreenRay(camera, 2, 2, true, 0.5f, 0.5f);
    ASSERT_TRUE(middle.has_value());
    ExpectNear(middle->origin, CameraEye(camera) - frame.forward * (2.0f * camera.distance), 1e-3f);

    EXPECT_FALSE(ComputeScreenRay(camera, 0, 10, false, 0.0f, 0.0f).has_value());
}

}  // namespace
}  // namespace grainforge::gl
