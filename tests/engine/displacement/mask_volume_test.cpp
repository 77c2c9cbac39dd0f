#include "engine/displacement/mask_volume.h"

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

JsonView ViewOf(const char* text)
{
    auto root = std::make_shared<const JsonValue>(JsonValue::parse(text));
    return JsonView{root, root.get()};
}

TEST(MaskSignedDistance, KnownDistances)
{
    struct Case {
        MaskShape shape;
        Vec3 size;
        Vec3 point;
        float expected;
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
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(MaskSignedDistance(Volume(c.shape, c.size), c.point), c.expected, 1e-5f)
            << static_cast<int>(c.shape) << " " << c.point.x << " " << c.point.y << " " << c.point.z;
    }
}

TEST(MaskSignedDistance, FollowsTheCage)
{
    MaskVolume mask = Volume(MaskShape::Box, {10, 2, 2});
    mask.center = {100, 0, 0};
    mask.rotationDegrees = {0, 0, 90};
    EXPECT_NEAR(MaskSignedDistance(mask, {100, 5, 0}), 0.0f, 1e-5f);
    EXPECT_NEAR(MaskSignedDistance(mask, {105, 0, 0}), 4.0f, 1e-5f);
}

TEST(MaskSignedDistance, ZeroSizeIsATinyCube)
{
    for (const MaskShape shape : {MaskShape::Box, MaskShape::Cylinder, MaskShape::Sphere}) {
        const MaskVolume zero = Volume(shape, {0, 0, 0});
        const MaskVolume negative = Volume(shape, {-3, -3, -3});
        const MaskVolume tiny = Volume(shape, {0.001f, 0.001f, 0.001f});
        for (const Vec3 point : {Vec3{0, 0, 0}, Vec3{1, 2, 3}, Vec3{0.0004f, 0, 0}}) {
            const float d = MaskSignedDistance(zero, point);
            EXPECT_TRUE(std::isfinite(d));
            EXPECT_EQ(d, MaskSignedDistance(tiny, point));
            EXPECT_EQ(d, MaskSignedDistance(negative, point));
        }
    }
    EXPECT_NEAR(MaskSignedDistance(Volume(MaskShape::Box, {0, 0, 0}), {0, 0, 0}), -0.0005f, 1e-9f);
}

TEST(TransformMask, QuarterTurnAboutZ)
{
    MaskVolume mask = Volume(MaskShape::Cylinder, {1, 2, 3});
    mask.center = {10, 0, 0};
    mask.rotationDegrees = {0, 0, 15};
    mask.featherMillimetres = 2.0f;
    mask.name = "hole";
    Transform3x4 turn;
    turn.m00 = 0.0f;
    turn.m01 = -1.0f;
    turn.m10 = 1.0f;
    turn.m11 = 0.0f;
    const MaskVolume moved = TransformMask(mask, turn);
    EXPECT_NEAR(moved.center.x, 0.0f, 1e-6f);
    EXPECT_NEAR(moved.center.y, 10.0f, 1e-6f);
    EXPECT_NEAR(moved.rotationDegrees.z, 105.0f, 1e-4f);
    EXPECT_NEAR(moved.rotationDegrees.x, 0.0f, 1e-4f);
    EXPECT_NEAR(moved.rotationDegrees.y, 0.0f, 1e-4f);
    EXPECT_EQ(moved.size, mask.size);
    EXPECT_EQ(moved.featherMillimetres, 2.0f);
    EXPECT_EQ(moved.name, "hole");

    Transform3x4 shift;
    shift.translation = {1, 2, 3};
    EXPECT_EQ(TransformMask(mask, shift).center, (Vec3{11, 2, 3}));
}

TEST(TransformMask, TurnedMaskMeasuresTheSameAtTurnedPoints)
{
    MaskVolume mask = Volume(MaskShape::Box, {4, 6, 8});
    mask.center = {1, 2, 3};
    mask.rotationDegrees = {20, -35, 50};
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
}

TEST(BuildMaskWireframe, CountsAndColours)
{
    MaskVolume box = Volume(MaskShape::Box, {2, 2, 2});
    box.enabled = 0;
    OverlayGeometry geometry;
    BuildMaskWireframe(box, false, geometry);
    EXPECT_TRUE(geometry.fillPositions.empty());
    ASSERT_EQ(geometry.linePositions.size(), 24u);
    EXPECT_EQ(geometry.lineColours.size(), 24u);
    EXPECT_EQ(geometry.lineColours[0], (Vec3{0.55f, 0.55f, 0.58f}));

    // Appends, never clears.
    box.enabled = 1;
    BuildMaskWireframe(box, false, geometry);
    EXPECT_EQ(geometry.fillPositions.size(), 36u);
    EXPECT_EQ(geometry.fillColours.size(), 36u);
    EXPECT_EQ(geometry.fillColours[0], (Vec3{0.93f, 0.45f, 0.18f}));
    EXPECT_EQ(geometry.linePositions.size(), 48u);
    EXPECT_EQ(geometry.lineColours[24], (Vec3{0.98f, 0.58f, 0.22f}));

    OverlayGeometry selected;
    BuildMaskWireframe(Volume(MaskShape::Cylinder, {2, 2, 2}), true, selected);
    EXPECT_EQ(selected.fillPositions.size(), 48u * 4u * 3u);
    EXPECT_EQ(selected.linePositions.size(), (48u * 2u + 4u) * 2u);
    EXPECT_EQ(selected.fillColours[0], (Vec3{1.0f, 0.62f, 0.25f}));
    EXPECT_EQ(selected.lineColours[0], (Vec3{1, 1, 1}));

    OverlayGeometry sphere;
    BuildMaskWireframe(Volume(MaskShape::Sphere, {2, 4, 6}), false, sphere);
    EXPECT_EQ(sphere.fillPositions.size(), 12u * 24u * 2u * 3u);
    EXPECT_EQ(sphere.linePositions.size(), (24u + 12u * 4u) * 2u);
    // Every drawn point lies on the ellipsoid.
    for (const Vec3& p : sphere.fillPositions)
        EXPECT_NEAR(p.x * p.x + p.y * p.y / 4.0f + p.z * p.z / 9.0f, 1.0f, 1e-4f);

    OverlayGeometry unknown;
    BuildMaskWireframe(Volume(static_cast<MaskShape>(7), {1, 1, 1}), true, unknown);
    EXPECT_TRUE(unknown.linePositions.empty());
    EXPECT_TRUE(unknown.fillPositions.empty());
}

TEST(BuildMaskWireframe, ZeroSizeDrawsATinyBox)
{
    OverlayGeometry geometry;
    BuildMaskWireframe(Volume(MaskShape::Box, {0, 0, 0}), false, geometry);
    ASSERT_EQ(geometry.linePositions.size(), 24u);
    EXPECT_NEAR(geometry.linePositions[0].x, -0.0005f, 1e-9f);
}

TEST(MaskVolumeJson, RoundTripAndShapeByNameOnly)
{
    MaskVolume original = Volume(MaskShape::Sphere, {1.5f, 2, 3});
    original.center = {0.1f, -2, 3};
    original.rotationDegrees = {10, 20, 30};
    original.featherMillimetres = 0.3f;
    original.enabled = 0;
    original.name = "Stütze";
    const JsonNode node = NewJsonDocument();
    WriteMaskVolume(node, original);
    EXPECT_EQ((*node.root)["shape"], "sphere");
    EXPECT_EQ(node.root->size(), 7u);
    MaskVolume read;
    ReadMaskVolume(JsonView{node.root, node.root.get()}, read);
    EXPECT_TRUE(MaskVolumeEquals(read, original));

    MaskVolume odd = Volume(static_cast<MaskShape>(5), {1, 1, 1});
    const JsonNode oddNode = NewJsonDocument();
    WriteMaskVolume(oddNode, odd);
    EXPECT_EQ((*oddNode.root)["shape"], 5);

    struct Case {
        const char* json;
        bool (*holds)(const MaskVolume&);
    };
    const Case cases[] = {
        {R"({"shape": 2})", [](const MaskVolume& m) { return m.shape == MaskShape::Cylinder; }},
        {R"({"shape": "sphere"})", [](const MaskVolume& m) { return m.shape == MaskShape::Sphere; }},
        {R"({"shape": "Sphere"})", [](const MaskVolume& m) { return m.shape == MaskShape::Cylinder; }},
        {R"({"size": [1, 2]})", [](const MaskVolume& m) { return m.size == Vec3{5, 5, 5}; }},
        {R"({"size": [1, 2, 3]})", [](const MaskVolume& m) { return m.size == Vec3{1, 2, 3}; }},
        {R"({"featherMillimetres": 2})", [](const MaskVolume& m) { return m.featherMillimetres == 2.0f; }},
        {R"({"featherMillimetres": "2"})", [](const MaskVolume& m) { return m.featherMillimetres == 0.0f; }},
        {R"({"enabled": 0})", [](const MaskVolume& m) { return m.enabled == 1; }},
        {R"({"enabled": false})", [](const MaskVolume& m) { return m.enabled == 0; }},
        {R"({"name": 3})", [](const MaskVolume& m) { return m.name == "old"; }},
    };
    for (const Case& c : cases) {
        MaskVolume mask = Volume(MaskShape::Cylinder, {5, 5, 5});
        mask.name = "old";
        ReadMaskVolume(ViewOf(c.json), mask);
        EXPECT_TRUE(c.holds(mask)) << c.json;
    }
}

TEST(MaskVolumeEquals, EveryFieldCounts)
{
    const MaskVolume base;
    EXPECT_TRUE(MaskVolumeEquals(base, base));
    MaskVolume nan;
    nan.featherMillimetres = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(MaskVolumeEquals(nan, nan));
    MaskVolume named;
    named.name = "a";
    EXPECT_FALSE(MaskVolumeEquals(base, named));
    MaskVolume embedded;
    embedded.name = std::string("a\0b", 3);
    MaskVolume shorter;
    shorter.name = "a";
    EXPECT_FALSE(MaskVolumeEquals(embedded, shorter));
    MaskVolume turned;
    turned.rotationDegrees.y = 1.0f;
    EXPECT_FALSE(MaskVolumeEquals(base, turned));
    MaskVolume disabled;
    disabled.enabled = 0;
    EXPECT_FALSE(MaskVolumeEquals(base, disabled));
    MaskVolume negativeZero;
    negativeZero.center.z = -0.0f;
    EXPECT_TRUE(MaskVolumeEquals(base, negativeZero));
}

}  // namespace
}  // namespace grainforge::mesh
