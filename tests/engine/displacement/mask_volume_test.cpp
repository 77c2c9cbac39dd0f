#include "engine/displacement/mask_volume.h"

#include "tests/support/json_view_of.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace grainforge::mesh {
namespace {

MaskVolume Volume(MaskShape shape, Vec3 size)
{
    MaskVolume mask;
    mask.shape = shape;
    mask.size = size;
    return mask;
}

TEST(MaskSignedDistance, KnownDistances)
{
    struct Case {
        MaskShape shape;
        Vec3 size, point;
        float expected;
        Vec3 center{}, rotation{};
    };
    const Case cases[] = {
        {MaskShape::Box, {10, 10, 10}, {5, 0, 0}, 0.0f},
        {MaskShape::Box, {10, 10, 10}, {0, 0, 0}, -5.0f},
        {MaskShape::Box, {10, 10, 10}, {8, 9, 0}, 5.0f},
        {MaskShape::Cylinder, {10, 20, 10}, {5, 0, 0}, 0.0f},
        {MaskShape::Cylinder, {10, 20, 10}, {0, 0, 9}, 4.0f},
        {MaskShape::Sphere, {10, 10, 10}, {0, 0, 0}, -5.0f},
        {MaskShape::Sphere, {10, 10, 10}, {0, 8, 0}, 3.0f},
        // Normalised radius 2 scaled by the smallest half size, 5.
        {MaskShape::Sphere, {10, 20, 30}, {0, 20, 0}, 5.0f},
        {static_cast<MaskShape>(3), {10, 10, 10}, {0, 0, 0}, 1.0f},
        // The volume follows its cage: long side turned onto y.
        {MaskShape::Box, {10, 2, 2}, {100, 5, 0}, 0.0f, {100, 0, 0}, {0, 0, 90}},
        {MaskShape::Box, {10, 2, 2}, {105, 0, 0}, 4.0f, {100, 0, 0}, {0, 0, 90}},
        // Zero size is a cube of 0.001 mm.
        {MaskShape::Box, {0, 0, 0}, {0, 0, 0}, -0.0005f},
    };
    for (const Case& c : cases) {
        MaskVolume mask = Volume(c.shape, c.size);
        mask.center = c.center;
        mask.rotationDegrees = c.rotation;
        EXPECT_NEAR(MaskSignedDistance(mask, c.point), c.expected, 1e-5f)
            << static_cast<int>(c.shape) << " " << c.point.x << " " << c.point.y << " " << c.point.z;
    }
}

TEST(MaskSignedDistance, ZeroOrNegativeSizeIsATinyCube)
{
    for (const MaskShape shape : {MaskShape::Box, MaskShape::Cylinder, MaskShape::Sphere}) {
        const MaskVolume tiny = Volume(shape, {0.001f, 0.001f, 0.001f});
        for (const Vec3 size : {Vec3{0, 0, 0}, Vec3{-3, -3, -3}})
            for (const Vec3 point : {Vec3{0, 0, 0}, Vec3{1, 2, 3}, Vec3{0.0004f, 0, 0}}) {
                const float d = MaskSignedDistance(Volume(shape, size), point);
                EXPECT_TRUE(std::isfinite(d));
                EXPECT_EQ(d, MaskSignedDistance(tiny, point));
            }
    }
}

TEST(TransformMask, TurnedMaskMeasuresTheSameAtTurnedPoints)
{
    const MaskVolume mask{MaskShape::Box, {1, 2, 3}, {20, -35, 50}, {4, 6, 8}, 2.0f, 1, "hole"};
    // A quarter turn about x, then a shift.
    Transform3x4 turn;
    turn.m11 = 0.0f;
    turn.m12 = -1.0f;
    turn.m21 = 1.0f;
    turn.m22 = 0.0f;
    turn.translation = {5, -1, 2};
    const MaskVolume moved = TransformMask(mask, turn);
    for (const Vec3 p : {Vec3{0, 0, 0}, Vec3{3, 2, 1}, Vec3{-2, 5, 4}, Vec3{1, 2, 3}}) {
        const Vec3 q = Vec3{p.x, -p.z, p.y} + turn.translation;
        EXPECT_NEAR(MaskSignedDistance(moved, q), MaskSignedDistance(mask, p), 1e-4f);
    }
    EXPECT_EQ(moved.size, mask.size);
    EXPECT_EQ(moved.featherMillimetres, 2.0f);
    EXPECT_EQ(moved.name, "hole");
}

TEST(BuildMaskWireframe, AppendsOutlinesOnTheShape)
{
    MaskVolume box = Volume(MaskShape::Box, {2, 2, 2});
    box.enabled = 0;
    OverlayGeometry geometry;
    BuildMaskWireframe(box, false, geometry);
    EXPECT_TRUE(geometry.fillPositions.empty());  // a disabled volume has no fill
    ASSERT_EQ(geometry.linePositions.size(), 24u);
    box.enabled = 1;
    BuildMaskWireframe(box, true, geometry);  // appends, never clears
    EXPECT_EQ(geometry.fillPositions.size(), 36u);
    EXPECT_EQ(geometry.fillColours.size(), 36u);
    EXPECT_EQ(geometry.linePositions.size(), 48u);
    EXPECT_EQ(geometry.lineColours[24], (Vec3{1, 1, 1}));  // selected

    OverlayGeometry sphere;
    BuildMaskWireframe(Volume(MaskShape::Sphere, {2, 4, 6}), false, sphere);
    for (const Vec3& p : sphere.fillPositions)  // every drawn point lies on the ellipsoid
        EXPECT_NEAR(p.x * p.x + p.y * p.y / 4.0f + p.z * p.z / 9.0f, 1.0f, 1e-4f);

    OverlayGeometry zero, unknown;
    BuildMaskWireframe(Volume(MaskShape::Box, {0, 0, 0}), false, zero);
    ASSERT_EQ(zero.linePositions.size(), 24u);
    EXPECT_NEAR(zero.linePositions[0].x, -0.0005f, 1e-9f);
    BuildMaskWireframe(Volume(static_cast<MaskShape>(7), {1, 1, 1}), true, unknown);
    EXPECT_TRUE(unknown.linePositions.empty() && unknown.fillPositions.empty());
}

TEST(MaskVolumeJson, RoundTripAndShapeByNameOnly)
{
    const MaskVolume original{MaskShape::Sphere, {0.1f, -2, 3}, {10, 20, 30}, {1.5f, 2, 3}, 0.3f, 0, "Stütze"};
    const JsonNode node = NewJsonDocument();
    WriteMaskVolume(node, original);
    EXPECT_EQ((*node.root)["shape"], "sphere");
    MaskVolume read;
    ReadMaskVolume(test::ViewOf(node.root->dump()), read);
    EXPECT_TRUE(MaskVolumeEquals(read, original));

    const JsonNode odd = NewJsonDocument();
    WriteMaskVolume(odd, Volume(static_cast<MaskShape>(5), {1, 1, 1}));
    EXPECT_EQ((*odd.root)["shape"], 5);
    for (const char* json : {R"({"shape": 2})", R"({"shape": "Sphere"})", R"({"size": [1, 2]})"}) {
        MaskVolume mask = Volume(MaskShape::Cylinder, {5, 5, 5});
        ReadMaskVolume(test::ViewOf(json), mask);
        EXPECT_TRUE(MaskVolumeEquals(mask, Volume(MaskShape::Cylinder, {5, 5, 5}))) << json;
    }
}

TEST(MaskVolumeEquals, NaNNeverEqualsAndNamesCountEveryByte)
{
    MaskVolume nan;
    nan.featherMillimetres = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(MaskVolumeEquals(nan, nan));
    MaskVolume embedded, shorter;
    embedded.name = std::string("a\0b", 3);
    shorter.name = "a";
    EXPECT_FALSE(MaskVolumeEquals(embedded, shorter));
    MaskVolume negativeZero;
    negativeZero.center.z = -0.0f;
    EXPECT_TRUE(MaskVolumeEquals(MaskVolume{}, negativeZero));
    MaskVolume turned, disabled;
    turned.rotationDegrees.y = 1.0f;
    disabled.enabled = 0;
    EXPECT_FALSE(MaskVolumeEquals(MaskVolume{}, turned));
    EXPECT_FALSE(MaskVolumeEquals(MaskVolume{}, disabled));
}

}  // namespace
}  // namespace grainforge::mesh
