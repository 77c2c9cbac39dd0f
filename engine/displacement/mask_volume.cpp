#include "engine/displacement/mask_volume.h"

#include "engine/displacement/projection_detail.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh {

using detail::kPi;
using detail::kTwoPi;

namespace {

constexpr float kMinimumSize = 0.001f;
constexpr std::int32_t kCylinderSegments = 48;
constexpr std::int32_t kSphereLongitudes = 24;
constexpr std::int32_t kSphereLatitudes = 12;

const char* const kShapeNames[] = {"box", "cylinder", "sphere"};

const Vec3 kFillColour{0.93f, 0.45f, 0.18f};
const Vec3 kSelectedFillColour{1.0f, 0.62f, 0.25f};
const Vec3 kSelectedLineColour{1.0f, 1.0f, 1.0f};
const Vec3 kLineColour{0.98f, 0.58f, 0.22f};
const Vec3 kDisabledLineColour{0.55f, 0.55f, 0.58f};

Vec3 HalfSizes(const MaskVolume& mask)
{
    return {std::max(kMinimumSize, mask.size.x) / 2.0f, std::max(kMinimumSize, mask.size.y) / 2.0f,
            std::max(kMinimumSize, mask.size.z) / 2.0f};
}

float Length2(float x, float y)
{
    return std::sqrt(x * x + y * y);
}

float BoxDistance(Vec3 q, Vec3 h)
{
    const float dx = std::fabs(q.x) - h.x;
    const float dy = std::fabs(q.y) - h.y;
    const float dz = std::fabs(q.z) - h.z;
    const float ox = std::max(dx, 0.0f);
    const float oy = std::max(dy, 0.0f);
    const float oz = std::max(dz, 0.0f);
    return std::sqrt(ox * ox + oy * oy + oz * oz) + std::min(std::max({dx, dy, dz}), 0.0f);
}

float CylinderDistance(Vec3 q, Vec3 h)
{
    const float radial = (Length2(q.x / h.x, q.y / h.y) - 1.0f) * std::min(h.x, h.y);
    const float axial = std::fabs(q.z) - h.z;
    return Length2(std::max(axial, 0.0f), std::max(radial, 0.0f)) +
           std::min(std::max(axial, radial), 0.0f);
}

float SphereDistance(Vec3 q, Vec3 h)
{
    const float x = q.x / h.x;
    const float y = q.y / h.y;
    const float z = q.z / h.z;
    return (std::sqrt(x * x + y * y + z * z) - 1.0f) * std::min({h.x, h.y, h.z});
}

Vec3 ApplyLinear(const Transform3x4& t, Vec3 v)
{
    return {t.m00 * v.x + t.m01 * v.y + t.m02 * v.z, t.m10 * v.x + t.m11 * v.y + t.m12 * v.z,
            t.m20 * v.x + t.m21 * v.y + t.m22 * v.z};
}

// ---- Drawing ------------------------------------------------------------------------------

struct Painter {
    OverlayGeometry& geometry;
    CageFrame cage;
    bool fills;
    Vec3 fillColour;
    Vec3 lineColour;

    Vec3 Place(Vec3 local) const { return cage.center + CageToWorld(cage, local); }

    void Triangle(Vec3 a, Vec3 b, Vec3 c) const
    {
        if (!fills)
            return;
        for (const Vec3& p : {a, b, c}) {
            geometry.fillPositions.push_back(p);
            geometry.fillColours.push_back(fillColour);
        }
    }

    void Segment(Vec3 a, Vec3 b) const
    {
        for (const Vec3& p : {a, b}) {
            geometry.linePositions.push_back(p);
            geometry.lineColours.push_back(lineColour);
        }
    }
};

void DrawBox(const Painter& painter)
{
    static constexpr std::int32_t kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                  {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    static constexpr std::int32_t kEdges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7},
                                                   {0, 2}, {1, 3}, {4, 6}, {5, 7},
                                                   {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    const CageCornerPoints points = CageCorners(painter.cage);
    const Vec3* c = points.corners;
    for (const auto& f : kFaces) {
        painter.Triangle(c[f[0]], c[f[1]], c[f[2]]);
        painter.Triangle(c[f[0]], c[f[2]], c[f[3]]);
    }
    for (const auto& e : kEdges)
        painter.Segment(c[e[0]], c[e[1]]);
}

void DrawCylinder(const Painter& painter, Vec3 h)
{
    const auto at = [&](float angle, float z) {
        return painter.Place({std::cos(angle) * h.x, std::sin(angle) * h.y, z});
    };
    const Vec3 topCentre = painter.Place({0.0f, 0.0f, h.z});
    const Vec3 bottomCentre = painter.Place({0.0f, 0.0f, -h.z});
    for (std::int32_t i = 0; i < kCylinderSegments; ++i) {
        const float a0 = static_cast<float>(i) * kTwoPi / static_cast<float>(kCylinderSegments);
        const float a1 = static_cast<float>(i + 1) * kTwoPi / static_cast<float>(kCylinderSegments);
        const Vec3 b0 = at(a0, -h.z), b1 = at(a1, -h.z);
        const Vec3 t0 = at(a0, h.z), t1 = at(a1, h.z);
        painter.Triangle(b0, b1, t1);
        painter.Triangle(b0, t1, t0);
        painter.Triangle(topCentre, t0, t1);
        painter.Triangle(bottomCentre, b1, b0);
        painter.Segment(b0, b1);
        painter.Segment(t0, t1);
        if (i % 12 == 0)
            painter.Segment(b0, t0);
    }
}

void DrawSphere(const Painter& painter, Vec3 h)
{
    const auto p = [&](std::int32_t i, std::int32_t j) {
        const float latitude = static_cast<float>(j) * kPi / 12.0f - 1.5707964f;
        const float longitude = static_cast<float>(i) * kTwoPi / 24.0f;
        const float c = std::cos(latitude);
        return painter.Place({c * std::cos(longitude) * h.x, c * std::sin(longitude) * h.y,
                              std::sin(latitude) * h.z});
    };
    for (std::int32_t j = 0; j < kSphereLatitudes; ++j) {
        for (std::int32_t i = 0; i < kSphereLongitudes; ++i) {
            painter.Triangle(p(i, j), p(i + 1, j), p(i + 1, j + 1));
            painter.Triangle(p(i, j), p(i + 1, j + 1), p(i, j + 1));
        }
    }
    for (std::int32_t i = 0; i < kSphereLongitudes; ++i)
        painter.Segment(p(i, 6), p(i + 1, 6));
    static constexpr std::int32_t kMeridians[] = {0, 12, 6, 18};
    for (std::int32_t j = 0; j < kSphereLatitudes; ++j) {
        for (const std::int32_t i : kMeridians)
            painter.Segment(p(i, j), p(i, j + 1));
    }
}

}  // namespace

float MaskSignedDistance(const MaskVolume& mask, Vec3 point)
{
    const CageFrame cage = mask.Frame();
    const Vec3 q = WorldToCage(cage, point - cage.center);
    const Vec3 h = HalfSizes(mask);
    switch (mask.shape) {
    case MaskShape::Box: return BoxDistance(q, h);
    case MaskShape::Cylinder: return CylinderDistance(q, h);
    case MaskShape::Sphere: return SphereDistance(q, h);
    }
    return 1.0f;  // an unknown shape never masks
}

float MaskFactor(const MaskVolume& mask, Vec3 point)
{
    const float d = MaskSignedDistance(mask, point);
    if (d <= 0.0f)
        return 1.0f;
    const float feather = mask.featherMillimetres;
    if (feather > 0.0f && d < feather) {
        const float x = d / feather;
        return 1.0f - (3.0f - 2.0f * x) * x * x;
    }
    return 0.0f;  // beyond the feather, and a distance that is NaN
}

float MaskingAt(std::span<const MaskVolume> masks, Vec3 point)
{
    float largest = 0.0f;
    for (const MaskVolume& mask : masks) {
        if (mask.enabled == 0)
            continue;
        largest = std::max(largest, MaskFactor(mask, point));
        if (largest >= 1.0f)
            break;
    }
    return largest;
}

MaskVolume TransformMask(const MaskVolume& mask, const Transform3x4& transform)
{
    MaskVolume moved = mask;
    moved.center = ApplyLinear(transform, mask.center) + transform.translation;
    Transform3x4 linear = transform;
    linear.translation = Vec3{};
    if (IsIdentityTransform(linear))
        return moved;  // a move alone keeps the angles as they are
    const CageAxes axes = EulerDegreesToMatrix(mask.rotationDegrees);
    const CageAxes turned{ApplyLinear(transform, axes.x), ApplyLinear(transform, axes.y),
                          ApplyLinear(transform, axes.z)};
    moved.rotationDegrees = detail::EulerDegreesFromAxes(turned);
    return moved;
}

void BuildMaskWireframe(const MaskVolume& mask, bool selected, OverlayGeometry& geometry)
{
    const bool enabled = mask.enabled != 0;
    const Vec3 lineColour = selected ? kSelectedLineColour : (enabled ? kLineColour : kDisabledLineColour);
    const Vec3 h = HalfSizes(mask);
    // The drawing uses the same 0.001 mm floor as the distance.
    const CageFrame cage{mask.center, mask.rotationDegrees, h * 2.0f};
    const Painter painter{geometry, cage, enabled, selected ? kSelectedFillColour : kFillColour,
                          lineColour};
    switch (mask.shape) {
    case MaskShape::Box: DrawBox(painter); break;
    case MaskShape::Cylinder: DrawCylinder(painter, h); break;
    case MaskShape::Sphere: DrawSphere(painter, h); break;
    }
}

void WriteMaskVolume(const JsonNode& node, const MaskVolume& mask)
{
    const auto shape = static_cast<std::int32_t>(mask.shape);
    if (shape >= 0 && shape < 3)
        SetJsonPathString(node, "shape", kShapeNames[shape]);
    else
        SetJsonPathInteger(node, "shape", shape);
    SetJsonPathVec3(node, "center", mask.center.x, mask.center.y, mask.center.z);
    SetJsonPathVec3(node, "rotationDegrees", mask.rotationDegrees.x, mask.rotationDegrees.y,
                    mask.rotationDegrees.z);
    SetJsonPathVec3(node, "size", mask.size.x, mask.size.y, mask.size.z);
    SetJsonPathFloat(node, "featherMillimetres", mask.featherMillimetres);
    SetJsonPathBool(node, "enabled", mask.enabled != 0);
    SetJsonPathString(node, "name", mask.name);
}

void ReadMaskVolume(const JsonView& view, MaskVolume& mask)
{
    std::string shape;
    if (GetJsonPathString(view, "shape", shape)) {
        for (std::int32_t i = 0; i < 3; ++i) {
            if (shape == kShapeNames[i])
                mask.shape = static_cast<MaskShape>(i);
        }
    }
    GetJsonPathVec3(view, "center", mask.center.x, mask.center.y, mask.center.z);
    GetJsonPathVec3(view, "rotationDegrees", mask.rotationDegrees.x, mask.rotationDegrees.y,
                    mask.rotationDegrees.z);
    GetJsonPathVec3(view, "size", mask.size.x, mask.size.y, mask.size.z);
    GetJsonPathFloat(view, "featherMillimetres", mask.featherMillimetres);
    bool enabled = false;
    if (GetJsonPathBool(view, "enabled", enabled))
        mask.enabled = enabled ? 1 : 0;
    GetJsonPathString(view, "name", mask.name);
}

bool MaskVolumeEquals(const MaskVolume& a, const MaskVolume& b)
{
    return a.shape == b.shape && OrientedBoxEquals(a.Frame(), b.Frame()) &&
           a.featherMillimetres == b.featherMillimetres && a.enabled == b.enabled &&
           a.name == b.name;
}

}  // namespace grainforge::mesh
