#include "engine/displacement/cage_gizmo.h"

#include "engine/displacement/projection_detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace grainforge::mesh {
namespace {

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(FitCageToBounds, SizesPerKind)
{
    const CageBounds flat{{0, 0, 0}, {10, 20, 0}, 1};
    const Projection box = FitCageToBounds(ProjectionKind::Box, flat, 0.1f);
    EXPECT_EQ(box.type, ProjectionKind::Box);
    EXPECT_EQ(box.cage.center, (Vec3{5, 10, 0}));
    ExpectNear(box.cage.size, {11, 22, 0.2f});
    EXPECT_EQ(box.cage.rotationDegrees, Vec3{});

    const CageBounds block{{0, 0, 0}, {10, 20, 30}, 1};
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Cylinder, block, 0.0f).cage.size, (Vec3{20, 20, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Sphere, block, 0.0f).cage.size, (Vec3{30, 30, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Plane, block, -0.5f).cage.size, (Vec3{10, 20, 30}));

    const CageBounds invalid{{0, 0, 0}, {10, 20, 30}, 0};
    const Projection fallback = FitCageToBounds(ProjectionKind::Sphere, invalid, 0.2f);
    EXPECT_EQ(fallback.type, ProjectionKind::Sphere);
    Projection expected;
    expected.type = ProjectionKind::Sphere;
    EXPECT_TRUE(ProjectionEquals(fallback, expected));
}

TEST(RotateCageAboutAxis, QuarterTurns)
{
    CageFrame cage;
    cage.center = {1, 2, 3};
    RotateCageAboutAxis(cage, 2, 1.5707964f);
    ExpectNear(cage.rotationDegrees, {0, 0, 90}, 1e-4f);
    EXPECT_EQ(cage.center, (Vec3{1, 2, 3}));

    // A quarter turn about y puts the x axis along -z: the gimbal case keeps rz at 0.
    CageFrame gimbal;
    RotateCageAboutAxis(gimbal, 1, 1.5707964f);
    EXPECT_EQ(gimbal.rotationDegrees.z, 0.0f);
    EXPECT_NEAR(gimbal.rotationDegrees.y, 90.0f, 1e-3f);
    ExpectNear(CageToWorld(gimbal, {1, 0, 0}), {0, 0, -1});
    ExpectNear(CageToWorld(gimbal, {0, 0, 1}), {1, 0, 0});

    // Turning an already turned cage about its own x axis.
    CageFrame turned;
    turned.rotationDegrees = {0, 0, 90};
    RotateCageAboutAxis(turned, 0, 1.5707964f);
    ExpectNear(CageToWorld(turned, {1, 0, 0}), {0, 1, 0});
    ExpectNear(CageToWorld(turned, {0, 1, 0}), {0, 0, 1});

    CageFrame unchanged;
    RotateCageAboutAxis(unchanged, 3, 1.0f);
    EXPECT_EQ(unchanged.rotationDegrees, Vec3{});
}

// The Euler angles read back must describe the turned frame itself, away from the gimbal case.
TEST(RotateCageAboutAxis, AnglesReadBackDescribeTheTurnedFrame)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> degrees(-80.0f, 80.0f);
    std::uniform_real_distribution<float> radians(-3.0f, 3.0f);
    for (int trial = 0; trial < 200; ++trial) {
        CageFrame cage;
        cage.rotationDegrees = {degrees(random), degrees(random), degrees(random)};
        const std::int32_t axis = trial % 3;
        const float angle = radians(random);
        const CageAxes before = EulerDegreesToMatrix(cage.rotationDegrees);
        const Vec3* frame[3] = {&before.x, &before.y, &before.z};
        const Vec3 b = *frame[(axis + 1) % 3];
        const Vec3 c = *frame[(axis + 2) % 3];
        RotateCageAboutAxis(cage, axis, angle);
        const CageAxes after = EulerDegreesToMatrix(cage.rotationDegrees);
        const Vec3* turned[3] = {&after.x, &after.y, &after.z};
        ExpectNear(*turned[axis], *frame[axis], 1e-4f);
        ExpectNear(*turned[(axis + 1) % 3], b * std::cos(angle) + c * std::sin(angle), 1e-4f);
        ExpectNear(*turned[(axis + 2) % 3], c * std::cos(angle) - b * std::sin(angle), 1e-4f);
    }
}

TEST(SideDirection, PerKind)
{
    Projection projection;
    projection.cage.rotationDegrees = {0, 0, 90};
    ExpectNear(SideDirection(projection, 0, {}), {0, 1, 0});
    EXPECT_EQ(SideDirection(projection, 6, {}), Vec3{});

    projection.type = ProjectionKind::Plane;
    ExpectNear(SideDirection(projection, 1, {}), {0, 0, 1});

    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    EXPECT_EQ(SideDirection(cylinder, 0, {0, 0, 4}), Vec3{});
    ExpectNear(SideDirection(cylinder, 0, {3, 4, 1}), {0.6f, 0.8f, 0});
    ExpectNear(SideDirection(cylinder, 5, {3, 4, 1}), {0, 0, -1});
}

TEST(BuildLayerGizmo, EmptyForSidesTheKindLacks)
{
    Projection plane;
    plane.type = ProjectionKind::Plane;
    const LayerGizmo none = BuildLayerGizmo(plane, 2, true);
    EXPECT_EQ(none.valid, 0);
    EXPECT_EQ(none.side, -1);
    EXPECT_EQ(BuildLayerGizmo(plane, 4, true).valid, 1);

    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    EXPECT_EQ(BuildLayerGizmo(cylinder, 1, true).valid, 0);
    EXPECT_EQ(BuildLayerGizmo(cylinder, 5, true).valid, 1);
    EXPECT_EQ(BuildLayerGizmo(Projection{}, -1, true).valid, 0);
    EXPECT_EQ(BuildLayerGizmo(Projection{}, 6, true).valid, 0);
}

TEST(BuildLayerGizmo, BoxOriginIsClampedToTheFace)
{
    Projection projection;
    projection.cage.center = {10, 0, 0};
    projection.cage.size = {4, 6, 8};
    projection.layers[0].originMillimetres[0] = 100.0f;
    projection.layers[0].originMillimetres[1] = -1.0f;
    projection.layers[0].rotationDegrees = 90.0f;
    const LayerGizmo gizmo = BuildLayerGizmo(projection, 0, true);
    EXPECT_EQ(gizmo.valid, 1);
    EXPECT_EQ(gizmo.side, 0);
    ExpectNear(gizmo.origin, {12, 3, -1});
    ExpectNear(gizmo.normal, {1, 0, 0});
    ExpectNear(gizmo.sideU, {0, 1, 0});
    ExpectNear(gizmo.sideV, {0, 0, 1});
    ExpectNear(gizmo.layerU, {0, 0, 1});
    ExpectNear(gizmo.layerV, {0, -1, 0});
    EXPECT_EQ(gizmo.halfExtentU, 3.0f);
    EXPECT_EQ(gizmo.halfExtentV, 4.0f);

    ExpectNear(BuildLayerGizmo(projection, 0, false).origin, {12, 0, 0});
    ExpectNear(BuildLayerGizmo(projection, 3, false).sideU, {-1, 0, 0});
}

TEST(BuildLayerGizmo, CylinderWallAndSphereAnchors)
{
    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    cylinder.cage.size = {20, 20, 10};
    cylinder.cylinderSeamDegrees = 0.0f;
    cylinder.layers[0].originMillimetres[1] = 50.0f;
    const LayerGizmo wall = BuildLayerGizmo(cylinder, 0, true);
    ExpectNear(wall.origin, {10, 0, 5});
    ExpectNear(wall.normal, {1, 0, 0});
    ExpectNear(wall.sideU, {0, 1, 0});
    EXPECT_NEAR(wall.halfExtentU, 3.1415927f * 10.0f, 1e-4f);

    Projection sphere;
    sphere.type = ProjectionKind::Sphere;
    sphere.cage.size = {20, 20, 20};
    const LayerGizmo top = BuildLayerGizmo(sphere, 4, false);
    ExpectNear(top.origin, {0, 0, 10});
    sphere.layers[4].originMillimetres[0] = 1000.0f;  // clamped to pi/4 of the arc
    const LayerGizmo edge = BuildLayerGizmo(sphere, 4, true);
    const float s = 10.0f / std::sqrt(2.0f);
    ExpectNear(edge.origin, {s, 0, s}, 1e-4f);
}

TEST(BuildCageGizmo, CountsPerKind)
{
    const CageGizmoGeometry box = BuildCageGizmo(Projection{});
    EXPECT_EQ(box.fillPositions.size(), 36u);
    ASSERT_EQ(box.fillSides.size(), 12u);
    for (std::uint32_t i = 0; i < 12; ++i)
        EXPECT_EQ(box.fillSides[i], i / 2);
    EXPECT_EQ(box.linePositions.size(), 24u);
    EXPECT_TRUE(box.accentLinePositions.empty());
    // Each box side's patch lies on that side's face.
    for (std::uint32_t t = 0; t < 12; ++t) {
        const std::uint32_t side = box.fillSides[t];
        const float value = detail::Component(box.fillPositions[t * 3], static_cast<std::int32_t>(side / 2));
        EXPECT_EQ(value, (side & 1) != 0 ? -0.5f : 0.5f) << t;
    }

    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    const CageGizmoGeometry c = BuildCageGizmo(cylinder);
    EXPECT_EQ(c.fillPositions.size(), 288u);
    EXPECT_EQ(c.fillSides.size(), 96u);
    EXPECT_EQ(c.linePositions.size(), 192u);
    ASSERT_EQ(c.accentLinePositions.size(), 2u);
    // The seam at 180 degrees lies on -x.
    ExpectNear(c.accentLinePositions[0], {-0.5f, 0, -0.5f});

    Projection plane;
    plane.type = ProjectionKind::Plane;
    const CageGizmoGeometry p = BuildCageGizmo(plane);
    EXPECT_EQ(p.fillPositions.size(), 6u);
    EXPECT_EQ(p.fillSides, (std::vector<std::uint32_t>{4, 4}));
    EXPECT_EQ(p.linePositions.size(), 10u);

    Projection sphere;
    sphere.type = ProjectionKind::Sphere;
    const CageGizmoGeometry s = BuildCageGizmo(sphere);
    EXPECT_EQ(s.fillSides.size(), 6u * 128u);
    // Four sides around the z pole, 16 border segments each of each kind.
    EXPECT_EQ(s.accentLinePositions.size(), 4u * 16u * 2u);
    EXPECT_EQ(s.linePositions.size(), 4u * 16u * 2u);
    for (const Vec3& point : s.fillPositions)
        EXPECT_NEAR(std::sqrt(Dot(point, point)), 0.5f, 1e-5f);
}

TEST(CubeSpherePoint, LiesOnTheSphereAroundTheCentre)
{
    CageFrame cage;
    cage.center = {1, 2, 3};
    const struct SideFrame frame = SideFrame(0, 2);
    ExpectNear(CubeSpherePoint(cage, 5.0f, frame, 0.0f, 0.0f), {6, 2, 3});
    const Vec3 p = CubeSpherePoint(cage, 5.0f, frame, 0.3f, -0.2f) - cage.center;
    EXPECT_NEAR(std::sqrt(Dot(p, p)), 5.0f, 1e-5f);
}

}  // namespace
}  // namespace grainforge::mesh
