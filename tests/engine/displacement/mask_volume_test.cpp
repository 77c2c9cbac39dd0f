#include "engine/displacement/mask_volume.h"

#include "tests/support/json_view_of.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>

namespace grainforge::mesh {
namespace {

MaskVolume Volume(MaskShape shape, Vec3 size)
{
    MaskVolume mask;
    mask.shape = shape;
    mask.size = size;
    return mask;
}

// Turned volumes are in TransformMask's test below, sizes of zero in the next.
TEST(MaskSignedDistance, KnownDistances)
{
    const std::tuple<MaskShape, Vec3, Vec3, float> cases[] = {
        {MaskShape::Box, {10, 10, 10}, {0, 0, 0}, -5.0f},
        {MaskShape::Box, {10, 10, 10}, {8, 9, 0}, 5.0f},
        {MaskShape::Cylinder, {10, 20, 10}, {5, 0, 0}, 0.0f},
        {MaskShape::Cylinder, {10, 20, 10}, {0, 0, 9}, 4.0f},
        {MaskShape::Sphere, {10, 10, 10}, {0, 8, 0}, 3.0f},
        // Normalised radius 2 scaled by the smallest half size, 5.
        {MaskShape::Sphere, {10, 20, 30}, {0, 20, 0}, 5.0f},
        {static_cast<MaskShape>(3), {10, 10, 10}, {0, 0, 0}, 1.0f},
    };
    for (const auto& [shape, size, point, expected] : cases)
        EXPECT_NEAR(MaskSignedDistance(Volume(shape, size), point), expected, 1e-5f)
            << static_cast<int>(shape) << " " << point.x << " " << point.y << " " << point.z;
}

// A size of zero or less is a cube of 0.001 mm: finite for every shape, never a division by zero.
TEST(MaskSignedDistance, ZeroOrNegativeSizeIsATinyCube)
{
    EXPECT_NEAR(MaskSignedDistance(Volume(MaskShape::Box, {0, 0, 0}), {0, 0, 0}), -0.0005f, 1e-9f);
    for (const MaskShape shape : {MaskShape::Box, MaskShape::Cylinder, MaskShape::Sphere})
        for (const Vec3 size : {Vec3{0, 0, 0}, Vec3{-3, -3, -3}})
            for (const Vec3 point : {Vec3{0, 0, 0}, Vec3{1, 2, 3}, Vec3{0.0004f, 0, 0}}) {
                const float d = MaskSignedDistance(Volume(shape, size), point);
                EXPECT_TRUE(std::isfinite(d));
                EXPECT_EQ(d, MaskSignedDistance(Volume(shape, {0.001f, 0.001f, 0.001f}), point));
            }
}

TEST(TransformMask, TurnedMaskMeasuresTheSameAtTurnedPoints)
{
    const MaskVolume mask{MaskShape::Box, {1, 2, 3}, {20, -35, 50}, {4, 6, 8}, 2.0f, 1, "hole", {}};
    // A quarter turn about x, then a shift.
    Transform3x4 turn;
    std::tie(turn.m11, turn.m12, turn.m21, turn.m22) = std::tuple(0.0f, -1.0f, 1.0f, 0.0f);
    turn.translation = {5, -1, 2};
    const MaskVolume moved = TransformMask(mask, turn);
    for (const Vec3 p : {Vec3{0, 0, 0}, Vec3{3, 2, 1}, Vec3{-2, 5, 4}, Vec3{1, 2, 3}})
        EXPECT_NEAR(MaskSignedDistance(moved, Vec3{p.x, -p.z, p.y} + turn.translation), MaskSignedDistance(mask, p), 1e-4f);
    EXPECT_EQ(std::tie(moved.size, moved.featherMillimetres, moved.name), std::tie(mask.size, mask.featherMillimetres, mask.name));
}

// A 100 mm mask carried by a move or a turn lands where its corners are carried, also turned
// to within a hair of a quarter turn of its y angle, where reading the angles back once
// dropped the z angle and left it 0.2 mm off.
TEST(TransformMask, MaskNearAQuarterTurnLandsWhereItsCornersAreCarried)
{
    Transform3x4 move, turnAboutZ, quarterAboutX;  // a move; 30 degrees about z and a move
    move.translation = turnAboutZ.translation = {12.5f, -3.0f, 40.0f};
    std::tie(turnAboutZ.m00, turnAboutZ.m01, turnAboutZ.m10, turnAboutZ.m11) = std::tuple(0.8660254f, -0.5f, 0.5f, 0.8660254f);
    std::tie(quarterAboutX.m11, quarterAboutX.m12, quarterAboutX.m21, quarterAboutX.m22) = std::tuple(0.0f, -1.0f, 1.0f, 0.0f);
    const auto carry = [](const Transform3x4& t, Vec3 p) {
        return Vec3{t.m00 * p.x + t.m01 * p.y + t.m02 * p.z, t.m10 * p.x + t.m11 * p.y + t.m12 * p.z,
                    t.m20 * p.x + t.m21 * p.y + t.m22 * p.z} + t.translation;
    };
    for (const Vec3 rotation : {Vec3{30, 89.9f, 20}, Vec3{-45, -89.9f, 10}, Vec3{10, 89.99f, -60}, Vec3{5, 89.999f, 70},
                                Vec3{30, 90, 20}, Vec3{0, 89.9f, 0}, Vec3{25, 60, -35}})
        for (const Transform3x4& t : {move, turnAboutZ, quarterAboutX}) {
            const MaskVolume mask{MaskShape::Box, {4, -7, 9}, rotation, {100, 60, 80}, 0.0f, 1, "m", {}};
            const CageCornerPoints before = CageCorners(mask.Frame()), after = CageCorners(TransformMask(mask, t).Frame());
            for (int i = 0; i < 8; ++i)
                EXPECT_LT(Length(carry(t, before.corners[i]) - after.corners[i]), 1e-4f)
                    << rotation.x << " " << rotation.y << " " << rotation.z << " corner " << i;
        }
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
    EXPECT_EQ(std::make_tuple(geometry.fillPositions.size(), geometry.fillColours.size(), geometry.linePositions.size()),
              std::make_tuple(36u, 36u, 48u));
    EXPECT_EQ(geometry.lineColours[24], (Vec3{1, 1, 1}));  // selected

    OverlayGeometry sphere, zero, unknown;
    BuildMaskWireframe(Volume(MaskShape::Sphere, {2, 4, 6}), false, sphere);
    for (const Vec3& p : sphere.fillPositions)  // every drawn point lies on the ellipsoid
        EXPECT_NEAR(p.x * p.x + p.y * p.y / 4.0f + p.z * p.z / 9.0f, 1.0f, 1e-4f);
    BuildMaskWireframe(Volume(MaskShape::Box, {0, 0, 0}), false, zero);
    ASSERT_EQ(zero.linePositions.size(), 24u);
    EXPECT_NEAR(zero.linePositions[0].x, -0.0005f, 1e-9f);
    BuildMaskWireframe(Volume(static_cast<MaskShape>(7), {1, 1, 1}), true, unknown);
    EXPECT_TRUE(unknown.linePositions.empty() && unknown.fillPositions.empty());

    // A selected cylinder of radius 2 from z = -5 to 5: every line ends on its side at one end,
    // and the segments within each end close a ring as long as that circle (48 chords fall
    // short of it by 0.07 %).
    OverlayGeometry cylinder;
    BuildMaskWireframe(Volume(MaskShape::Cylinder, {4, 4, 10}), true, cylinder);
    float ringLengths[2] = {0.0f, 0.0f};
    for (std::size_t i = 0; i + 1 < cylinder.linePositions.size(); i += 2) {
        const Vec3 a = cylinder.linePositions[i], b = cylinder.linePositions[i + 1];
        for (const Vec3& p : {a, b})
            EXPECT_TRUE(std::abs(std::hypot(p.x, p.y) - 2.0f) < 1e-5f && std::abs(std::abs(p.z) - 5.0f) < 1e-5f)
                << p.x << " " << p.y << " " << p.z;
        if (a.z == b.z)
            ringLengths[a.z > 0.0f] += std::hypot(a.x - b.x, a.y - b.y);
    }
    for (const float length : ringLengths)
        EXPECT_NEAR(length, 4.0f * std::numbers::pi_v<float>, 0.02f);
}

TEST(MaskVolumeJson, RoundTripAndShapeByNameOnly)
{
    const MaskVolume original{MaskShape::Sphere, {0.1f, -2, 3}, {10, 20, 30}, {1.5f, 2, 3}, 0.3f, 0, "Stütze", {}};
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
    MaskVolume negativeZero, turned, disabled;
    negativeZero.center.z = -0.0f;
    EXPECT_TRUE(MaskVolumeEquals(MaskVolume{}, negativeZero));
    turned.rotationDegrees.y = 1.0f;
    disabled.enabled = 0;
    EXPECT_FALSE(MaskVolumeEquals(MaskVolume{}, turned) || MaskVolumeEquals(MaskVolume{}, disabled));
}

}  // namespace
}  // namespace grainforge::mesh
