#include "engine/displacement/cage_gizmo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace grainforge::mesh {
namespace {

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f)
{
    EXPECT_LE(std::max({std::fabs(actual.x - expected.x), std::fabs(actual.y - expected.y), std::fabs(actual.z - expected.z)}),
              tolerance) << actual.x << " " << actual.y << " " << actual.z;
}

bool Finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

Projection OfKind(ProjectionKind kind, Vec3 size = {1, 1, 1})
{
    Projection projection;
    projection.type = kind;
    projection.cage.size = size;
    return projection;
}

TEST(FitCageToBounds, SizesPerKind)
{
    const Projection box = FitCageToBounds(ProjectionKind::Box, {{0, 0, 0}, {10, 20, 0}, 1}, 0.1f);
    EXPECT_EQ(box.cage.center, (Vec3{5, 10, 0}));
    ExpectNear(box.cage.size, {11, 22, 0.2f});  // no thinner than a hundredth of the largest extent
    const CageBounds block{{0, 0, 0}, {10, 20, 30}, 1};
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Cylinder, block, 0.0f).cage.size, (Vec3{20, 20, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Sphere, block, 0.0f).cage.size, (Vec3{30, 30, 30}));
    EXPECT_EQ(FitCageToBounds(ProjectionKind::Plane, block, -0.5f).cage.size, (Vec3{10, 20, 30}));
    // Invalid bounds: the default record of that kind.
    EXPECT_TRUE(ProjectionEquals(FitCageToBounds(ProjectionKind::Sphere, {{0, 0, 0}, {10, 20, 30}, 0}, 0.2f),
                                 OfKind(ProjectionKind::Sphere)));
}

TEST(RotateCageAboutAxis, GimbalCaseAndAxesOutsideTheRange)
{
    // A quarter turn about y puts the x axis along -z: the gimbal case keeps rz at 0.
    CageFrame gimbal{.center = {1, 2, 3}, .rotationDegrees = {}, .size = {1, 1, 1}};
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
        const Vec3 frame[3] = {before.x, before.y, before.z};
        RotateCageAboutAxis(cage, axis, angle);
        const CageAxes after = EulerDegreesToMatrix(cage.rotationDegrees);
        const Vec3 turned[3] = {after.x, after.y, after.z};
        const Vec3 b = frame[(axis + 1) % 3], c = frame[(axis + 2) % 3];
        ExpectNear(turned[axis], frame[axis], 1e-4f);
        ExpectNear(turned[(axis + 1) % 3], b * std::cos(angle) + c * std::sin(angle), 1e-4f);
        ExpectNear(turned[(axis + 2) % 3], c * std::cos(angle) - b * std::sin(angle), 1e-4f);
    }
}

// The cage sits at x = 10, turned a quarter about z: local x faces world +y, local y faces -x.
TEST(SideDirection, KnownDirectionsPerKind)
{
    struct Case { ProjectionKind kind; std::int32_t cylinderAxis, side; Vec3 point, expected; };
    const Case cases[] = {
        {ProjectionKind::Box, 2, 0, {}, {0, 1, 0}},
        {ProjectionKind::Box, 2, 1, {}, {0, -1, 0}},  // odd sides face the negative way
        {ProjectionKind::Box, 2, 2, {}, {-1, 0, 0}},
        {ProjectionKind::Box, 2, 5, {}, {0, 0, -1}},
        {ProjectionKind::Sphere, 2, 3, {}, {1, 0, 0}},
        {ProjectionKind::Box, 2, 6, {}, {}},  // outside 0..5
        {ProjectionKind::Box, 2, -1, {}, {}},
        {ProjectionKind::Plane, 2, 1, {}, {0, 0, 1}},  // every side faces local +z
        {ProjectionKind::Cylinder, 2, 0, {13, 4, 1}, {0.6f, 0.8f, 0}},  // the wall: away from the axis
        {ProjectionKind::Cylinder, 2, 2, {10, 0, 4}, {}},  // on the axis: no way out
        {ProjectionKind::Cylinder, 2, 4, {13, 4, 1}, {0, 0, 1}},  // the caps: along the axis
        {ProjectionKind::Cylinder, 2, 5, {13, 4, 1}, {0, 0, -1}},
        {ProjectionKind::Cylinder, 0, 1, {13, 7, 4}, {0.6f, 0, 0.8f}},  // along local x, world y
        {ProjectionKind::Cylinder, 0, 5, {13, 7, 4}, {0, -1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(c.kind) << " axis " << c.cylinderAxis
                                        << " side " << c.side);
        Projection projection = OfKind(c.kind);
        projection.cage.center = {10, 0, 0};
        projection.cage.rotationDegrees = {0, 0, 90};
        projection.cylinderAxis = c.cylinderAxis;
        ExpectNear(SideDirection(projection, c.side, c.point), c.expected);
    }
}

// A gizmo for every side the kind has and none for the others; finite even for a cage of size
// zero, which has no way around.
TEST(BuildLayerGizmo, OnlyForSidesTheKindHasAndFiniteAtSizeZero)
{
    const char* sides[] = {"012345", "4", "045", "012345"};  // by kind: box, plane, cylinder, sphere
    for (int kind = 0; kind < 4; ++kind)
        for (float size : {1.0f, 0.0f}) {
            Projection projection = OfKind(static_cast<ProjectionKind>(kind), {size, size, size});
            for (ProjectionLayer& layer : projection.layers)
                layer.originMillimetres[0] = layer.originMillimetres[1] = 5.0f;
            for (std::int32_t side = -1; side <= kBoxSideCount; ++side) {
                SCOPED_TRACE(testing::Message() << "kind " << kind << " side " << side << " size " << size);
                const LayerGizmo gizmo = BuildLayerGizmo(projection, side, true);
                const bool has = side >= 0 && std::strchr(sides[kind], '0' + side) != nullptr
                    && (kind != 3 || size > 0.0f);  // a sphere of radius 0 has no sides to place on
                EXPECT_EQ(gizmo.valid, has ? 1 : 0);
                EXPECT_EQ(gizmo.side, has ? side : -1);
                EXPECT_TRUE(Finite(gizmo.origin) && Finite(gizmo.normal) && Finite(gizmo.layerU) && Finite(gizmo.layerV));
            }
            for (const Vec3& p : BuildCageGizmo(projection).fillPositions)
                ASSERT_TRUE(Finite(p)) << kind;
        }
}

TEST(BuildLayerGizmo, OriginsClampedToTheSide)
{
    Projection box = OfKind(ProjectionKind::Box, {4, 6, 8});
    box.cage.center = {10, 0, 0};
    box.layers[0] = ProjectionLayer{{100.0f, -1.0f}, 90.0f, 1.0f, 0};
    const LayerGizmo gizmo = BuildLayerGizmo(box, 0, true);
    ExpectNear(gizmo.origin, {12, 3, -1});
    ExpectNear(gizmo.layerU, {0, 0, 1});
    ExpectNear(gizmo.layerV, {0, -1, 0});
    EXPECT_EQ(std::make_pair(gizmo.halfExtentU, gizmo.halfExtentV), std::make_pair(3.0f, 4.0f));
    ExpectNear(BuildLayerGizmo(box, 0, false).origin, {12, 0, 0});
    Projection sphere = OfKind(ProjectionKind::Sphere, {20, 20, 20});
    sphere.layers[4].originMillimetres[0] = 1000.0f;  // clamped to pi/4 of the arc
    ExpectNear(BuildLayerGizmo(sphere, 4, true).origin, {7.0710678f, 0, 7.0710678f}, 1e-4f);
}

// The seam is drawn where the mapping cuts the wall; the sphere's patches lie on the sphere.
TEST(BuildCageGizmo, SeamAndSpherePatchesLieWhereTheMappingIs)
{
    const CageGizmoGeometry cylinder = BuildCageGizmo(OfKind(ProjectionKind::Cylinder));
    ASSERT_EQ(cylinder.accentLinePositions.size(), 2u);
    ExpectNear(cylinder.accentLinePositions[0], {-0.5f, 0, -0.5f});  // the seam at 180 degrees lies on -x
    for (const Vec3& point : BuildCageGizmo(OfKind(ProjectionKind::Sphere)).fillPositions)
        EXPECT_NEAR(std::sqrt(Dot(point, point)), 0.5f, 1e-5f);
}

}  // namespace
}  // namespace grainforge::mesh
