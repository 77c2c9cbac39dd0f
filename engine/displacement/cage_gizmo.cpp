#include "engine/displacement/cage_gizmo.h"

#include "engine/displacement/projection_detail.h"

#include <algorithm>
#include <cmath>

namespace grainforge::mesh {

using detail::Component;
using detail::kPi;
using detail::kTwoPi;
using detail::UnitAxis;

namespace {

constexpr std::int32_t kCircleSegments = 48;
constexpr std::int32_t kSpherePatchSteps = 8;
constexpr float kQuarterPi = 0.7853982f;

Vec3 WithComponent(Vec3 v, std::int32_t axis, float value)
{
    if (axis == 0)
        v.x = value;
    else if (axis == 1)
        v.y = value;
    else
        v.z = value;
    return v;
}

std::int32_t ClampedAxis(std::int32_t axis)
{
    return axis == 0 ? 0 : (axis == 1 ? 1 : 2);
}

Vec3 ToWorldPoint(const CageFrame& cage, Vec3 local)
{
    return cage.center + CageToWorld(cage, local);
}

// The frame of a side in cage coordinates, before it is placed in the world.
struct LocalSideFrame {
    Vec3 anchor;
    Vec3 u;
    Vec3 v;
    Vec3 normal;
    float halfU = 0.0f;
    float halfV = 0.0f;
};

// Box side: the axes of the box sample, anchored at the face centre.
LocalSideFrame BoxSideFrame(const Projection& projection, std::int32_t side, const float o[2])
{
    const std::int32_t axis = side / 2;
    const float g = (side & 1) != 0 ? -1.0f : 1.0f;
    const Vec3 h = projection.cage.size * 0.5f;
    LocalSideFrame frame;
    frame.normal = UnitAxis(axis) * g;
    frame.u = axis == 0 ? UnitAxis(1) * g : UnitAxis(0) * g;
    frame.v = axis == 2 ? UnitAxis(1) : UnitAxis(2);
    frame.halfU = axis == 0 ? h.y : h.x;
    frame.halfV = axis == 2 ? h.y : h.z;
    const float du = std::clamp(o[0], -frame.halfU, frame.halfU);
    const float dv = std::clamp(o[1], -frame.halfV, frame.halfV);
    frame.anchor = frame.normal * Component(h, axis) + frame.u * du + frame.v * dv;
    return frame;
}

LocalSideFrame PlaneSideFrame(const Projection& projection, const float o[2])
{
    const Vec3 h = projection.cage.size * 0.5f;
    LocalSideFrame frame;
    frame.u = UnitAxis(0);
    frame.v = UnitAxis(1);
    frame.normal = UnitAxis(2);
    frame.halfU = h.x;
    frame.halfV = h.y;
    frame.anchor = {std::clamp(o[0], -h.x, h.x), std::clamp(o[1], -h.y, h.y), 0.0f};
    return frame;
}

// Cylinder wall (side 0) or caps (4 top, 5 bottom); false for any other side.
bool CylinderSideFrame(const Projection& projection, std::int32_t side, const float o[2],
                       LocalSideFrame& frame)
{
    const std::int32_t axis = ClampedAxis(projection.cylinderAxis);
    const std::int32_t a = (axis + 1) % 3;
    const std::int32_t b = (axis + 2) % 3;
    const float radius = CylinderRadius(projection);
    const float h = Component(projection.cage.size, axis) * 0.5f;
    if (side == 0) {
        // A zero radius has no way around; the origin then stays at the seam.
        const float turn = radius > 0.0f ? o[0] / radius : 0.0f;
        const float angle = projection.cylinderSeamDegrees * kPi / 180.0f + turn;
        const float c = std::cos(angle);
        const float s = std::sin(angle);
        frame.normal = UnitAxis(a) * c + UnitAxis(b) * s;
        frame.u = UnitAxis(b) * c - UnitAxis(a) * s;
        frame.v = UnitAxis(axis);
        frame.halfU = kPi * radius;
        frame.halfV = h;
        frame.anchor = frame.normal * radius + frame.v * std::clamp(o[1], -h, h);
        return true;
    }
    if (side == 4 || side == 5) {
        const float sign = side == 4 ? 1.0f : -1.0f;
        // The cap sample's u is q_a on the top cap and -q_a on the bottom one.
        frame.u = UnitAxis(a) * sign;
        frame.v = UnitAxis(b);
        frame.normal = UnitAxis(axis) * sign;
        frame.halfU = radius;
        frame.halfV = radius;
        frame.anchor = frame.normal * h + frame.u * std::clamp(o[0], -radius, radius) +
                       frame.v * std::clamp(o[1], -radius, radius);
        return true;
    }
    return false;
}

bool SphereSideFrame(const Projection& projection, std::int32_t side, const float o[2],
                     LocalSideFrame& frame)
{
    const Vec3 size = projection.cage.size;
    const float radius = std::max({size.x, size.y, size.z}) / 2.0f;
    if (!(radius > 0.0f))
        return false;
    const struct SideFrame sideFrame = SideFrame(side, projection.sphereAxis);
    const float limit = radius * kQuarterPi;
    const float du = std::clamp(o[0], -limit, limit);
    const float dv = std::clamp(o[1], -limit, limit);
    const Vec3 direction = Normalized(sideFrame.normal + sideFrame.uAxis * std::tan(du / radius) +
                                      sideFrame.vAxis * std::tan(dv / radius));
    frame.u = sideFrame.uAxis;
    frame.v = sideFrame.vAxis;
    frame.normal = direction;
    frame.halfU = radius * kPi / 4.0f;
    frame.halfV = frame.halfU;
    frame.anchor = direction * radius;
    return true;
}

// ---- Cage drawings ------------------------------------------------------------------------

void AddTriangle(CageGizmoGeometry& geometry, Vec3 a, Vec3 b, Vec3 c, std::uint32_t side)
{
    geometry.fillPositions.push_back(a);
    geometry.fillPositions.push_back(b);
    geometry.fillPositions.push_back(c);
    geometry.fillSides.push_back(side);
}

void AddSegment(std::vector<Vec3>& lines, Vec3 a, Vec3 b)
{
    lines.push_back(a);
    lines.push_back(b);
}

void BuildPlaneGizmo(const CageFrame& cage, CageGizmoGeometry& geometry)
{
    const Vec3 h = cage.size * 0.5f;
    const Vec3 c1 = ToWorldPoint(cage, {-h.x, h.y, 0.0f});
    const Vec3 c2 = ToWorldPoint(cage, {h.x, h.y, 0.0f});
    const Vec3 c3 = ToWorldPoint(cage, {h.x, -h.y, 0.0f});
    const Vec3 c4 = ToWorldPoint(cage, {-h.x, -h.y, 0.0f});
    AddTriangle(geometry, c4, c3, c2, 4);
    AddTriangle(geometry, c4, c2, c1, 4);
    AddSegment(geometry.linePositions, c4, c3);
    AddSegment(geometry.linePositions, c3, c2);
    AddSegment(geometry.linePositions, c2, c1);
    AddSegment(geometry.linePositions, c1, c4);
    AddSegment(geometry.linePositions, ToWorldPoint(cage, {}), ToWorldPoint(cage, {0.0f, 0.0f, h.z}));
}

void BuildCylinderGizmo(const Projection& projection, CageGizmoGeometry& geometry)
{
    const CageFrame& cage = projection.cage;
    const std::int32_t axis = ClampedAxis(projection.cylinderAxis);
    const std::int32_t a = (axis + 1) % 3;
    const std::int32_t b = (axis + 2) % 3;
    const float radius = CylinderRadius(projection);
    const float h = Component(cage.size, axis) * 0.5f;
    const auto point = [&](float angle, float along) {
        Vec3 local = WithComponent({}, a, std::cos(angle) * radius);
        local = WithComponent(local, b, std::sin(angle) * radius);
        return ToWorldPoint(cage, WithComponent(local, axis, along));
    };
    for (std::int32_t i = 0; i < kCircleSegments; ++i) {
        const float a0 = static_cast<float>(i) * kTwoPi / static_cast<float>(kCircleSegments);
        const float a1 = static_cast<float>(i + 1) * kTwoPi / static_cast<float>(kCircleSegments);
        const Vec3 b0 = point(a0, -h), b1 = point(a1, -h);
        const Vec3 t0 = point(a0, h), t1 = point(a1, h);
        AddTriangle(geometry, b0, b1, t1, 0);
        AddTriangle(geometry, b0, t1, t0, 0);
        AddSegment(geometry.linePositions, b0, b1);
        AddSegment(geometry.linePositions, t0, t1);
    }
    const float seam = projection.cylinderSeamDegrees * kPi / 180.0f;
    AddSegment(geometry.accentLinePositions, point(seam, -h), point(seam, h));
}

void BuildSphereGizmo(const Projection& projection, CageGizmoGeometry& geometry)
{
    const CageFrame& cage = projection.cage;
    const float radius = std::max({cage.size.x, cage.size.y, cage.size.z}) / 2.0f;
    constexpr std::int32_t n = kSpherePatchSteps;
    float angles[n + 1];
    for (std::int32_t k = 0; k <= n; ++k)
        angles[k] = static_cast<float>(k) * 1.5707964f * 0.125f - kQuarterPi;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        const struct SideFrame frame = SideFrame(side, projection.sphereAxis);
        const auto p = [&](std::int32_t i, std::int32_t j) {
            return CubeSpherePoint(cage, radius, frame, angles[i], angles[j]);
        };
        const auto s = static_cast<std::uint32_t>(side);
        for (std::int32_t i = 0; i < n; ++i) {
            for (std::int32_t j = 0; j < n; ++j) {
                AddTriangle(geometry, p(i, j), p(i + 1, j), p(i + 1, j + 1), s);
                AddTriangle(geometry, p(i, j), p(i + 1, j + 1), p(i, j + 1), s);
            }
        }
        if (frame.alongUp != 0)
            continue;
        for (std::int32_t k = 0; k < n; ++k) {
            AddSegment(geometry.accentLinePositions, p(k, 0), p(k + 1, 0));
            AddSegment(geometry.accentLinePositions, p(k, n), p(k + 1, n));
            AddSegment(geometry.linePositions, p(0, k), p(0, k + 1));
            AddSegment(geometry.linePositions, p(n, k), p(n, k + 1));
        }
    }
}

void BuildBoxGizmo(const CageFrame& cage, CageGizmoGeometry& geometry)
{
    static constexpr std::int32_t kFaces[kBoxSideCount][4] = {
        {1, 3, 7, 5}, {2, 0, 4, 6}, {3, 2, 6, 7}, {0, 1, 5, 4}, {4, 5, 7, 6}, {2, 3, 1, 0}};
    static constexpr std::int32_t kEdges[12][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0},
                                                   {4, 5}, {5, 7}, {7, 6}, {6, 4},
                                                   {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    const CageCornerPoints points = CageCorners(cage);
    const Vec3* c = points.corners;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        const auto* f = kFaces[side];
        const auto s = static_cast<std::uint32_t>(side);
        AddTriangle(geometry, c[f[0]], c[f[1]], c[f[2]], s);
        AddTriangle(geometry, c[f[0]], c[f[2]], c[f[3]], s);
    }
    for (const auto& edge : kEdges)
        AddSegment(geometry.linePositions, c[edge[0]], c[edge[1]]);
}

}  // namespace

Projection FitCageToBounds(ProjectionKind kind, const CageBounds& bounds, float margin,
                           std::int32_t cylinderAxis)
{
    Projection projection = InitProjection();
    projection.type = kind;
    projection.cylinderAxis = ClampedAxis(cylinderAxis);
    if (bounds.valid == 0)
        return projection;
    const Vec3 e = bounds.max - bounds.min;
    const float smallest = std::max({e.x, e.y, e.z, 1.0f}) * 0.01f;
    const float grow = 1.0f + std::max(0.0f, margin);
    CageFrame& cage = projection.cage;
    cage.center = (bounds.min + bounds.max) * 0.5f;
    cage.size = {std::max(smallest, e.x * grow), std::max(smallest, e.y * grow),
                 std::max(smallest, e.z * grow)};
    if (kind == ProjectionKind::Cylinder) {
        // Round across the axis it runs along, so that the wall's radius is the part's.
        const std::int32_t a = (projection.cylinderAxis + 1) % 3;
        const std::int32_t b = (projection.cylinderAxis + 2) % 3;
        float* sizes[3] = {&cage.size.x, &cage.size.y, &cage.size.z};
        const float across = std::max(*sizes[a], *sizes[b]);
        *sizes[a] = across;
        *sizes[b] = across;
    } else if (kind == ProjectionKind::Sphere) {
        const float largest = std::max({cage.size.x, cage.size.y, cage.size.z});
        cage.size = {largest, largest, largest};
    }
    return projection;
}

void RotateCageAboutAxis(CageFrame& cage, std::int32_t axis, float radians)
{
    if (axis < 0 || axis > 2)
        return;
    CageAxes axes = EulerDegreesToMatrix(cage.rotationDegrees);
    Vec3* frame[3] = {&axes.x, &axes.y, &axes.z};
    const Vec3 b = *frame[(axis + 1) % 3];
    const Vec3 c = *frame[(axis + 2) % 3];
    const float cosine = std::cos(radians);
    const float sine = std::sin(radians);
    *frame[(axis + 1) % 3] = b * cosine + c * sine;
    *frame[(axis + 2) % 3] = c * cosine - b * sine;
    cage.rotationDegrees = detail::EulerDegreesFromAxes(axes);
}

Vec3 SideDirection(const Projection& projection, std::int32_t side, Vec3 point)
{
    const CageFrame& cage = projection.cage;
    Vec3 local;
    if (projection.type == ProjectionKind::Plane) {
        local = UnitAxis(2);
    } else if (projection.type == ProjectionKind::Cylinder) {
        const std::int32_t axis = ClampedAxis(projection.cylinderAxis);
        if (side == 4 || side == 5) {
            local = UnitAxis(axis) * (side == 4 ? 1.0f : -1.0f);
        } else {
            const std::int32_t a = (axis + 1) % 3;
            const std::int32_t b = (axis + 2) % 3;
            const Vec3 q = WorldToCage(cage, point - cage.center);
            const float qa = Component(q, a);
            const float qb = Component(q, b);
            const float r = std::sqrt(qa * qa + qb * qb);
            if (r != 0.0f)
                local = WithComponent(WithComponent({}, a, qa / r), b, qb / r);
        }
    } else if (side >= 0 && side < kBoxSideCount) {
        local = UnitAxis(side / 2) * ((side & 1) != 0 ? -1.0f : 1.0f);
    }
    return Normalized(CageToWorld(cage, local));
}

LayerGizmo BuildLayerGizmo(const Projection& projection, std::int32_t side, bool useLayerOrigin)
{
    LayerGizmo gizmo;
    if (side < 0 || side > 5)
        return gizmo;
    const ProjectionLayer& layer = projection.layers[side];
    const float origin[2] = {useLayerOrigin ? layer.originMillimetres[0] : 0.0f,
                             useLayerOrigin ? layer.originMillimetres[1] : 0.0f};
    LocalSideFrame frame;
    switch (projection.type) {
    case ProjectionKind::Box: frame = BoxSideFrame(projection, side, origin); break;
    case ProjectionKind::Plane:
        if (side != 4)
            return gizmo;
        frame = PlaneSideFrame(projection, origin);
        break;
    case ProjectionKind::Cylinder:
        if (!CylinderSideFrame(projection, side, origin, frame))
            return gizmo;
        break;
    case ProjectionKind::Sphere:
        if (!SphereSideFrame(projection, side, origin, frame))
            return gizmo;
        break;
    default: return gizmo;  // an unknown kind has no sides
    }
    const CageFrame& cage = projection.cage;
    gizmo.valid = 1;
    gizmo.side = side;
    gizmo.origin = ToWorldPoint(cage, frame.anchor);
    gizmo.sideU = Normalized(CageToWorld(cage, frame.u));
    gizmo.sideV = Normalized(CageToWorld(cage, frame.v));
    gizmo.normal = Normalized(CageToWorld(cage, frame.normal));
    gizmo.halfExtentU = frame.halfU;
    gizmo.halfExtentV = frame.halfV;
    const float r = layer.rotationDegrees * kPi / 180.0f;
    const float c = std::cos(r);
    const float s = std::sin(r);
    gizmo.layerU = gizmo.sideU * c + gizmo.sideV * s;
    gizmo.layerV = gizmo.sideV * c - gizmo.sideU * s;
    return gizmo;
}

Vec3 CubeSpherePoint(const CageFrame& cage, float radius, const struct SideFrame& frame, float a,
                     float b)
{
    const Vec3 direction =
        Normalized(frame.normal + frame.uAxis * std::tan(a) + frame.vAxis * std::tan(b));
    return ToWorldPoint(cage, direction * radius);
}

CageGizmoGeometry BuildCageGizmo(const Projection& projection)
{
    CageGizmoGeometry geometry;
    switch (projection.type) {
    case ProjectionKind::Plane: BuildPlaneGizmo(projection.cage, geometry); break;
    case ProjectionKind::Cylinder: BuildCylinderGizmo(projection, geometry); break;
    case ProjectionKind::Sphere: BuildSphereGizmo(projection, geometry); break;
    default: BuildBoxGizmo(projection.cage, geometry); break;  // box and unknown kinds
    }
    return geometry;
}

}  // namespace grainforge::mesh
