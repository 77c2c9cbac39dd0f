#include "engine/displacement/cage_gizmo.h"

#include "engine/displacement/projection_detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace grainforge::mesh {
namespace {

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

bool Finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

TEST(FitCageToBounds, SizesPerKind)
{
    const Projection box = FitCageToBounds(ProjectionKind::Box, {{0, 0, 0}, {10, 20, 0}, 1}, 0.1f);
    EXPECT_EQ(box.cage.center, (Vec3{5, 10, 0}));
    ExpectNear(box.cage.size, {11, 22, 0.2f});

    const CageBounds block{{0, 0, 0}, {10, 20, 30}, 1};
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Cylinder, block, 0.0f).cage.size, (Vec3{20, 20, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Sphere, block, 0.0f).cage.size, (Vec3{30, 30, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Plane, block, -0.5f).cage.size, (Vec3{10, 20, 30}));

    // Invalid bounds: the default record of that kind.
    Projection expected;
    expected.type = ProjectionKind::Sphere;
    EXPECT_TRUE(ProjectionEquals(FitCageToBounds(ProjectionKind::Sphere, {{0, 0, 0}, {10, 20, 30}, 0}, 0.2f), expected));
}

TEST(RotateCageAboutAxis, GimbalCaseAndAxesOutsideTheRange)
{
    // A quarter turn about y puts the x axis along -z: the gimbal case keeps rz at 0.
    CageFrame gimbal;
    gimbal.center = {1, 2, 3};
    RotateCageAboutAxis(gimbal, 1, 1.5707964f);
    EXPECT_EQ(gimbal.rotationDegrees.z, 0.0f);
    EXPECT_NEAR(gimbal.rotationDegrees.y, 90.0f, 1e-3f);
    ExpectNear(CageToWorld(gimbal, {1, 0, 0}), {0, 0, -1});  // turns directions only
    EXPECT_EQ(gimbal.center, (Vec3{1, 2, 3}));

    for (std::int32_t axis : {-1, 3, 1000}) {
        CageFrame unchanged;
        RotateCageAboutAxis(unchanged, axis, 1.0f);
        EXPECT_EQ(unchanged.rotationDegrees, Vec3{}) << axis;
    }
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
    Projection turned, cylinder;
    turned.cage.rotationDegrees = {0, 0, 90};
    ExpectNear(SideDirection(turned, 0, {}), {0, 1, 0});
    EXPECT_EQ(SideDirection(turned, 6, {}), Vec3{});
    cylinder.type = ProjectionKind::Cylinder;
    EXPECT_EQ(SideDirection(cylinder, 0, {0, 0, 4}), Vec3{});  // on the axis: no way out
    ExpectNear(SideDirection(cylinder, 0, {3, 4, 1}), {0.6f, 0.8f, 0});
    ExpectNear(SideDirection(cylinder, 5, {3, 4, 1}), {0, 0, -1});
}

// A gizmo for every side the kind has and none for the others; finite even for a cage of size
// zero, which has no way around.
TEST(BuildLayerGizmo, OnlyForSidesTheKindHasAndFiniteAtSizeZero)
{
    const char* sides[] = {"012345", "4", "045", "012345"};  // by kind: box, plane, cylinder, sphere
    for (int kind = 0; kind < 4; ++kind)
        for (float size : {1.0f, 0.0f}) {
            Projection projection;
            projection.type = static_cast<ProjectionKind>(kind);
            projection.cage.size = {size, size, size};
            for (ProjectionLayer& layer : projection.layers)
                layer.originMillimetres[0] = layer.originMillimetres[1] = 5.0f;
            for (std::int32_t side = -1; side <= kBoxSideCount; ++side) {
                const LayerGizmo gizmo = BuildLayerGizmo(projection, side, true);
                const bool has = side >= 0 && std::strchr(sides[kind], '0' + side) != nullptr
                    && (kind != 3 || size > 0.0f);  // a sphere of radius 0 has no sides to place on
                EXPECT_EQ(gizmo.valid, has ? 1 : 0) << kind << " side " << side;
                EXPECT_EQ(gizmo.side, has ? side : -1) << kind << " side " << side;
                EXPECT_TRUE(Finite(gizmo.origin) && Finite(gizmo.normal) && Finite(gizmo.layerU) && Finite(gizmo.layerV))
                    << kind << " side " << side << " size " << size;
            }
            for (const Vec3& p : BuildCageGizmo(projection).fillPositions)
                ASSERT_TRUE(Finite(p)) << kind;
        }
}

TEST(BuildLayerGizmo, OriginsClampedToTheSide)
{
    Projection box;
    box.cage.center = {10, 0, 0};
    box.cage.size = {4, 6, 8};
    box.layers[0] = ProjectionLayer{{100.0f, -1.0f}, 90.0f, 1.0f, 0};
    const LayerGizmo gizmo = BuildLayerGizmo(box, 0, true);
    ExpectNear(gizmo.origin, {12, 3, -1});
    ExpectNear(gizmo.sideU, {0, 1, 0});
    ExpectNear(gizmo.layerU, {0, 0, 1});
    ExpectNear(gizmo.layerV, {0, -1, 0});
    EXPECT_EQ(gizmo.halfExtentU, 3.0f);
    EXPECT_EQ(gizmo.halfExtentV, 4.0f);
    ExpectNear(BuildLayerGizmo(box, 0, false).origin, {12, 0, 0});

    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    cylinder.cage.size = {20, 20, 10};
    cylinder.cylinderSeamDegrees = 0.0f;
    cylinder.layers[0].originMillimetres[1] = 50.0f;
    const LayerGizmo wall = BuildLayerGizmo(cylinder, 0, true);
    ExpectNear(wall.origin, {10, 0, 5});
    ExpectNear(wall.sideU, {0, 1, 0});
    EXPECT_NEAR(wall.halfExtentU, 3.1415927f * 10.0f, 1e-4f);

    Projection sphere;
    sphere.type = ProjectionKind::Sphere;
    sphere.cage.size = {20, 20, 20};
    ExpectNear(BuildLayerGizmo(sphere, 4, false).origin, {0, 0, 10});
    sphere.layers[4].originMillimetres[0] = 1000.0f;  // clamped to pi/4 of the arc
    const float s = 10.0f / std::sqrt(2.0f);
    ExpectNear(BuildLayerGizmo(sphere, 4, true).origin, {s, 0, s}, 1e-4f);
}

TEST(BuildCageGizmo, PatchesLieOnTheirSides)
{
    const CageGizmoGeometry box = BuildCageGizmo(Projection{});
    ASSERT_EQ(box.fillSides.size(), 12u);
    ASSERT_EQ(box.fillPositions.size(), 36u);
    EXPECT_EQ(box.linePositions.size(), 24u);
    for (std::uint32_t t = 0; t < 12; ++t) {
        const std::uint32_t side = box.fillSides[t];
        EXPECT_EQ(side, t / 2);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(detail::Component(box.fillPositions[t * 3 + k], static_cast<std::int32_t>(side / 2)),
                      (side & 1) != 0 ? -0.5f : 0.5f) << t;
    }

    Projection cylinder;
    cylinder.type = ProjectionKind::Cylinder;
    const CageGizmoGeometry c = BuildCageGizmo(cylinder);
    EXPECT_EQ(c.fillPositions.size(), 3 * c.fillSides.size());
    ASSERT_EQ(c.accentLinePositions.size(), 2u);
    ExpectNear(c.accentLinePositions[0], {-0.5f, 0, -0.5f});  // the seam at 180 degrees lies on -x

    Projection plane;
    plane.type = ProjectionKind::Plane;
    EXPECT_EQ(BuildCageGizmo(plane).fillSides, (std::vector<std::uint32_t>{4, 4}));

    Projection sphere;
    sphere.type = ProjectionKind::Sphere;
    const CageGizmoGeometry s = BuildCageGizmo(sphere);
    EXPECT_EQ(s.fillPositions.size(), 3 * s.fillSides.size());
    EXPECT_FALSE(s.accentLinePositions.empty());
    for (const Vec3& point : s.fillPositions)
        EXPECT_NEAR(std::sqrt(Dot(point, point)), 0.5f, 1e-5f);
}

}  // namespace
}  // namespace grainforge::mesh
