#include "app/view/handles.h"

#include "engine/displacement/cage_gizmo.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace grainforge::app {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr Vec3 kWhite{1.0f, 1.0f, 1.0f};

Vec3 Rotate(const CageFrame& frame, Vec3 local)
{
    const mesh::CageAxes r = mesh::EulerDegreesToMatrix(frame.rotationDegrees);
    return r.x * local.x + r.y * local.y + r.z * local.z;
}

Vec3 UnitOrZero(Vec3 v)
{
    const float length = mesh::Length(v);
    return length > 1e-12f ? v * (1.0f / length) : Vec3{};
}

Vec3 AxisVector(int k, float sign)
{
    Vec3 v;
    (k == 0 ? v.x : k == 1 ? v.y : v.z) = sign;
    return v;
}

float& Component(Vec3& v, int k)
{
    return k == 0 ? v.x : k == 1 ? v.y : v.z;
}

// The ray's hit on the plane through `centre` with normal `normal`; false when the plane is
// edge-on or the hit is not in front of the eye.
bool PlaneHit(const ViewRay& ray, Vec3 centre, Vec3 normal, Vec3& hit)
{
    const float den = mesh::Dot(ray.direction, normal);
    if (std::fabs(den) < 1e-6f)
        return false;
    const float t = mesh::Dot(centre - ray.origin, normal) / den;
    if (!(t > 0.0f))
        return false;
    hit = ray.origin + ray.direction * t;
    return true;
}

void AddLine(GizmoGeometry& geometry, Vec3 a, Vec3 b, Vec3 colour)
{
    geometry.linePoints.push_back(a);
    geometry.linePoints.push_back(b);
    geometry.lineColours.push_back(colour);
    geometry.lineColours.push_back(colour);
}

void AddTriangle(GizmoGeometry& geometry, Vec3 a, Vec3 b, Vec3 c, Vec3 colour)
{
    for (Vec3 p : {a, b, c}) {
        geometry.trianglePoints.push_back(p);
        geometry.triangleColours.push_back(colour);
    }
}

bool Finite(float v)
{
    return std::isfinite(v);
}

bool FiniteFrame(const CageFrame& f)
{
    return mesh::IsFinite(f.center) && mesh::IsFinite(f.rotationDegrees) && mesh::IsFinite(f.size);
}

Vec3 LayerDiagonal(const LayerGizmo& gizmo)
{
    return UnitOrZero(gizmo.layerU + gizmo.layerV);
}

// The angle nearest `previous` that equals `angle` modulo a full turn, so that a ring dragged
// round and round keeps counting.
float Unwrap(float angle, float previous)
{
    const float turn = 2.0f * kPi;
    return angle + turn * std::round((previous - angle) / turn);
}

}  // namespace

Vec3 HandleAxisDirection(const CageFrame& frame, int id)
{
    switch (id) {
    case 1: case 8: return Rotate(frame, {1.0f, 0.0f, 0.0f});
    case 2: return Rotate(frame, {0.0f, 1.0f, 0.0f});
    case 3: return Rotate(frame, {0.0f, 0.0f, 1.0f});
    case 5: return Rotate(frame, {-1.0f, 0.0f, 0.0f});
    case 6: return Rotate(frame, {0.0f, -1.0f, 0.0f});
    case 7: return Rotate(frame, {0.0f, 0.0f, -1.0f});
    default: return {};
    }
}

Vec3 HandleColour(int id)
{
    switch (id) {
    case 1: case 5: return {0.9f, 0.25f, 0.22f};
    case 2: case 6: return {0.28f, 0.82f, 0.32f};
    case 3: case 7: return {0.26f, 0.5f, 0.95f};
    case 4: return {0.88f, 0.88f, 0.88f};
    case 8: return {0.95f, 0.7f, 0.2f};
    default: return {0.8f, 0.8f, 0.8f};
    }
}

float RaySegmentDistance(const ViewRay& ray, Vec3 a, Vec3 b, float& s)
{
    const Vec3 e = b - a;
    const float lengthSquared = mesh::Dot(e, e);
    const Vec3& d = ray.direction;
    if (lengthSquared <= 0.0f) {
        s = 0.0f;
        const Vec3 w = a - ray.origin;
        return mesh::Length(w - d * mesh::Dot(w, d));
    }
    const Vec3 w = a - ray.origin;
    const float k = mesh::Dot(d, e);
    const float den = lengthSquared - k * k;
    s = 0.0f;
    if (std::fabs(den) > 1e-9f)
        s = (mesh::Dot(w, d) * k - mesh::Dot(w, e)) / den;
    s = std::clamp(s, 0.0f, 1.0f);
    const Vec3 p = a + e * s;
    const float t = std::max(0.0f, mesh::Dot(p - ray.origin, d));
    return mesh::Length(p - (ray.origin + d * t));
}

bool AxisDragParameter(const ViewRay& ray, Vec3 point, Vec3 axis, float& t)
{
    const Vec3 a = UnitOrZero(axis);
    const float c = mesh::Dot(a, ray.direction);
    const float den = 1.0f - c * c;
    if (den < 0.0001f)
        return false;
    const Vec3 w = point - ray.origin;
    t = -(mesh::Dot(w, a) - mesh::Dot(w, ray.direction) * c) / den;
    return Finite(t);
}

bool RingDragAngle(const ViewRay& ray, Vec3 centre, Vec3 normal, Vec3 reference, float& angle)
{
    const Vec3 n = UnitOrZero(normal);
    Vec3 hit;
    if (!PlaneHit(ray, centre, n, hit))
        return false;
    const Vec3 v = hit - centre;
    if (mesh::Length(v) < 1e-6f)
        return false;
    const Vec3 r = UnitOrZero(reference - n * mesh::Dot(reference, n));
    const Vec3 b = mesh::Cross(n, r);
    angle = std::atan2(mesh::Dot(v, b), mesh::Dot(v, r));
    return Finite(angle);
}

bool LayerPlanePoint(const ViewRay& ray, const LayerGizmo& gizmo, float& u, float& v)
{
    Vec3 hit;
    if (!PlaneHit(ray, gizmo.origin, gizmo.normal, hit))
        return false;
    const Vec3 h = hit - gizmo.origin;
    u = mesh::Dot(h, gizmo.sideU);
    v = mesh::Dot(h, gizmo.sideV);
    return Finite(u) && Finite(v);
}

int PickFrameHandle(const ViewRay& ray, const CageFrame& frame, int tool, float size)
{
    if (tool < 4 || tool > 8 || !(size > 0.0f))
        return 0;
    float best = kHandleGrabShare * size;
    int found = 0;
    for (int id = 1; id <= 3; ++id) {
        const Vec3 a = HandleAxisDirection(frame, id);
        if (tool == 5 || tool == 7) {
            Vec3 hit;
            if (!PlaneHit(ray, frame.center, a, hit))
                continue;
            const float e = std::fabs(mesh::Length(hit - frame.center) - size);
            if (e < best) {
                best = e;
                found = id;
            }
        } else {
            float s = 0.0f;
            const float d = RaySegmentDistance(ray, frame.center, frame.center + a * size, s);
            if (d < best) {
                best = d;
                found = id;
            }
        }
    }
    return found;
}

std::vector<MaskScaleHandle> MaskScaleHandles(const CageFrame& frame, bool isCylinder)
{
    const float hx = frame.size.x * 0.5f;
    const float hy = frame.size.y * 0.5f;
    const float hz = frame.size.z * 0.5f;
    std::vector<std::pair<int, Vec3>> local;
    if (isCylinder)
        local = {{3, {0, 0, hz}}, {7, {0, 0, -hz}}, {8, {hx, 0, 0}}};
    else
        local = {{1, {hx, 0, 0}}, {5, {-hx, 0, 0}}, {2, {0, hy, 0}}, {6, {0, -hy, 0}}, {3, {0, 0, hz}}, {7, {0, 0, -hz}}};
    std::vector<MaskScaleHandle> handles;
    handles.reserve(local.size());
    for (const auto& [id, offset] : local)
        handles.push_back({id, frame.center + Rotate(frame, offset), UnitOrZero(HandleAxisDirection(frame, id))});
    return handles;
}

int PickMaskScaleHandle(const ViewRay& ray, const CageFrame& frame, bool isCylinder, float radius)
{
    if (!(radius > 0.0f))
        return 0;
    int found = 0;
    float nearest = 0.0f;
    for (const MaskScaleHandle& handle : MaskScaleHandles(frame, isCylinder)) {
        const Vec3 w = handle.position - ray.origin;
        const float t = mesh::Dot(w, ray.direction);
        if (!(t > 0.0f))
            continue;
        const float d = mesh::Length(w - ray.direction * t);
        if (d <= radius && (found == 0 || t < nearest)) {
            found = handle.id;
            nearest = t;
        }
    }
    return found;
}

int PickLayerHandle(const ViewRay& ray, const LayerGizmo& gizmo, int tool, float size)
{
    if (gizmo.valid == 0 || tool < 1 || tool > 3 || !(size > 0.0f))
        return 0;
    const float tolerance = kHandleGrabShare * size;
    Vec3 hit;
    const bool planeHit = PlaneHit(ray, gizmo.origin, gizmo.normal, hit);
    if (planeHit && mesh::Length(hit - gizmo.origin) <= 0.5f * tolerance + 0.18f * size)
        return 4;
    if (tool == 2) {
        if (planeHit && std::fabs(mesh::Length(hit - gizmo.origin) - size) < tolerance)
            return 3;
        return 0;
    }
    float s = 0.0f;
    if (tool == 1) {
        int found = 0;
        float best = tolerance;
        const Vec3 axes[2] = {gizmo.layerU, gizmo.layerV};
        for (int i = 0; i < 2; ++i) {
            const float d = RaySegmentDistance(ray, gizmo.origin, gizmo.origin + axes[i] * size, s);
            if (d < best) {
                best = d;
                found = i + 1;
            }
        }
        return found;
    }
    const Vec3 g = LayerDiagonal(gizmo);
    return RaySegmentDistance(ray, gizmo.origin, gizmo.origin + g * size, s) < tolerance ? 3 : 0;
}

BoxSidePick PickBoxSide(const ViewRay& ray, const Projection& projection)
{
    const mesh::CageGizmoGeometry cage = mesh::BuildCageGizmo(projection);
    const mesh::Ray meshRay{ray.origin, ray.direction};
    BoxSidePick pick;
    const std::size_t triangles = cage.fillPositions.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t) {
        const mesh::RayHit hit =
            mesh::PickTriangle(meshRay, cage.fillPositions[3 * t], cage.fillPositions[3 * t + 1], cage.fillPositions[3 * t + 2]);
        if (!hit.hit || (pick.hit && !(hit.distance < pick.record.distance)))
            continue;
        pick.hit = true;
        pick.record = hit;
        pick.record.triangle = static_cast<std::int32_t>(t);
        pick.side = t < cage.fillSides.size() ? static_cast<int>(cage.fillSides[t]) : -1;
    }
    return pick;
}

mesh::RayHit PickMesh(const ViewRay& ray, const mesh::TriangleMesh& mesh)
{
    mesh::RayHit kept;
    if (mesh.vertices.empty() || mesh.indices.empty() || mesh.indices.size() % 3 != 0 || !mesh.boundsValid)
        return kept;
    const std::size_t vertexCount = mesh.vertices.size();
    for (std::uint32_t index : mesh.indices) {
        if (index >= vertexCount)
            return kept;
    }
    float lo = 0.0f;
    float hi = 3.4e38f;
    const float origin[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const float direction[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    const float boxMin[3] = {mesh.boundsMin.x, mesh.boundsMin.y, mesh.boundsMin.z};
    const float boxMax[3] = {mesh.boundsMax.x, mesh.boundsMax.y, mesh.boundsMax.z};
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(direction[k]) < 1e-9f) {
            if (origin[k] < boxMin[k] || origin[k] > boxMax[k])
                return kept;
            continue;
        }
        float t0 = (boxMin[k] - origin[k]) / direction[k];
        float t1 = (boxMax[k] - origin[k]) / direction[k];
        if (t0 > t1)
            std::swap(t0, t1);
        lo = std::max(lo, t0);
        hi = std::min(hi, t1);
        if (!(lo <= hi))
            return kept;
    }
    const mesh::Ray meshRay{ray.origin, ray.direction};
    const std::size_t triangles = mesh.indices.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t) {
        const mesh::RayHit hit = mesh::PickTriangle(meshRay, mesh.vertices[mesh.indices[3 * t]].position,
                                                    mesh.vertices[mesh.indices[3 * t + 1]].position,
                                                    mesh.vertices[mesh.indices[3 * t + 2]].position);
        if (hit.hit && (!kept.hit || hit.distance < kept.distance)) {
            kept = hit;
            kept.triangle = static_cast<std::int32_t>(t);
        }
    }
    return kept;
}

void AddHandleCone(GizmoGeometry& geometry, Vec3 tip, Vec3 axis, Vec3 side1, Vec3 side2, float radius, Vec3 colour)
{
    const Vec3 base = tip - axis * (2.6f * radius);
    constexpr int kSegments = 10;
    for (int i = 0; i < kSegments; ++i) {
        const float a0 = 2.0f * kPi * static_cast<float>(i) / kSegments;
        const float a1 = 2.0f * kPi * static_cast<float>(i + 1) / kSegments;
        const Vec3 b0 = base + (side1 * std::cos(a0) + side2 * std::sin(a0)) * radius;
        const Vec3 b1 = base + (side1 * std::cos(a1) + side2 * std::sin(a1)) * radius;
        AddTriangle(geometry, b0, b1, tip, colour);
        AddTriangle(geometry, b1, b0, base, colour);
    }
}

void AddHandleBox(GizmoGeometry& geometry, Vec3 centre, Vec3 x, Vec3 y, Vec3 z, float half, Vec3 colour)
{
    Vec3 corner[8];
    for (int i = 0; i < 8; ++i)
        corner[i] = centre + x * ((i & 1) ? half : -half) + y * ((i & 2) ? half : -half) + z * ((i & 4) ? half : -half);
    static constexpr int kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : kFaces) {
        AddTriangle(geometry, corner[f[0]], corner[f[1]], corner[f[2]], colour);
        AddTriangle(geometry, corner[f[0]], corner[f[2]], corner[f[3]], colour);
    }
}

void AddHandleRing(GizmoGeometry& geometry, Vec3 centre, Vec3 a1, Vec3 a2, float radius, Vec3 colour)
{
    constexpr int kSegments = 48;
    for (int i = 0; i < kSegments; ++i) {
        const float t0 = 2.0f * kPi * static_cast<float>(i) / kSegments;
        const float t1 = 2.0f * kPi * static_cast<float>(i + 1) / kSegments;
        AddLine(geometry, centre + (a1 * std::cos(t0) + a2 * std::sin(t0)) * radius,
                centre + (a1 * std::cos(t1) + a2 * std::sin(t1)) * radius, colour);
    }
}

GizmoGeometry BuildFrameHandleGizmo(const CageFrame& frame, int tool, int hovered, float size)
{
    GizmoGeometry geometry;
    if (tool < 4 || tool > 8 || !(size > 0.0f))
        return geometry;
    const Vec3 axes[3] = {HandleAxisDirection(frame, 1), HandleAxisDirection(frame, 2), HandleAxisDirection(frame, 3)};
    for (int id = 1; id <= 3; ++id) {
        const Vec3 a = axes[id - 1];
        const Vec3 s1 = axes[id == 1 ? 1 : 0];
        const Vec3 s2 = axes[id == 3 ? 1 : 2];
        const Vec3 colour = id == hovered ? kWhite : HandleColour(id);
        if (tool == 5 || tool == 7) {
            AddHandleRing(geometry, frame.center, s1, s2, size, colour);
        } else {
            const Vec3 tip = frame.center + a * size;
            AddLine(geometry, frame.center, tip, colour);
            AddHandleCone(geometry, tip, a, s1, s2, 0.06f * size, colour);
        }
    }
    return geometry;
}

GizmoGeometry BuildMaskScaleGizmo(const CageFrame& frame, bool isCylinder, int hovered, float size)
{
    GizmoGeometry geometry;
    if (!(size > 0.0f))
        return geometry;
    const Vec3 x = UnitOrZero(HandleAxisDirection(frame, 1));
    const Vec3 y = UnitOrZero(HandleAxisDirection(frame, 2));
    const Vec3 z = UnitOrZero(HandleAxisDirection(frame, 3));
    for (const MaskScaleHandle& handle : MaskScaleHandles(frame, isCylinder)) {
        const Vec3 colour = HandleColour(handle.id) * (handle.id == hovered ? 1.0f : 0.7f);
        AddLine(geometry, frame.center, handle.position, colour);
        AddHandleBox(geometry, handle.position, x, y, z, 0.5f * size, colour);
    }
    return geometry;
}

GizmoGeometry BuildLayerGizmo(const LayerGizmo& gizmo, int tool, int hovered, float size)
{
    GizmoGeometry geometry;
    if (gizmo.valid == 0 || tool < 1 || tool > 3 || !(size > 0.0f))
        return geometry;
    const Vec3 c = gizmo.origin;
    AddHandleRing(geometry, c, gizmo.sideU, gizmo.sideV, 0.18f * size,
                  hovered == 4 ? kWhite : Vec3{0.88f, 0.88f, 0.88f});
    if (tool == 1) {
        const Vec3 axes[2] = {gizmo.layerU, gizmo.layerV};
        for (int i = 0; i < 2; ++i) {
            const int id = i + 1;
            const Vec3 colour = hovered == id ? kWhite : HandleColour(id);
            const Vec3 tip = c + axes[i] * size;
            AddLine(geometry, c, tip, colour);
            AddHandleCone(geometry, tip, axes[i], axes[1 - i], gizmo.normal, 0.06f * size, colour);
        }
    } else if (tool == 2) {
        AddHandleRing(geometry, c, gizmo.layerU, gizmo.layerV, size, hovered == 3 ? kWhite : Vec3{0.26f, 0.5f, 0.95f});
        AddLine(geometry, c, c + gizmo.layerU * size, {0.9f, 0.25f, 0.22f});
    } else {
        const Vec3 end = c + LayerDiagonal(gizmo) * size;
        const Vec3 colour = hovered == 3 ? kWhite : Vec3{0.12f, 0.72f, 0.98f};
        AddLine(geometry, c, end, colour);
        AddHandleBox(geometry, end, gizmo.layerU, gizmo.layerV, gizmo.normal, 0.06f * size, colour);
    }
    return geometry;
}

CageFrame ScaleMaskFrame(const CageFrame& start, int id, float t0, float t, bool symmetric, float minimum)
{
    CageFrame frame = start;
    const int k = HandleAxisIndex(id);
    if (k < 0)
        return frame;
    const float d = t - t0;
    if (id == 8) {
        const float half = start.size.x * 0.5f;
        const float factor = half > 0.0f ? std::max(minimum * 0.5f, half + d) / half : 1.0f;
        frame.size.x = start.size.x * factor;
        frame.size.y = std::max(minimum, factor * start.size.y);
    } else {
        Vec3 size = start.size;
        const float old = Component(size, k);
        const float grown = std::max(minimum, (symmetric ? 2.0f : 1.0f) * d + old);
        Component(size, k) = grown;
        frame.size = size;
        if (!symmetric)
            frame.center = start.center + UnitOrZero(HandleAxisDirection(start, id)) * ((grown - old) * 0.5f);
    }
    return FiniteFrame(frame) ? frame : start;
}

ProjectionLayer SideLayerOf(const Projection& projection, int side)
{
    if (side < 0 || side >= mesh::kBoxSideCount)
        return ProjectionLayer{};
    return projection.layers[side];
}

bool BeginLayerDrag(const ViewRay& ray, const LayerGizmo& gizmo, const Projection& projection, int tool, int id,
                    float size, LayerDragState& state)
{
    if (id == 0 || gizmo.valid == 0)
        return false;
    LayerDragState s;
    s.tool = tool;
    s.handle = id;
    s.gizmo = gizmo;
    s.layer = SideLayerOf(projection, gizmo.side);
    s.handleSize = size;
    if (id == 4) {
        if (!LayerPlanePoint(ray, gizmo, s.startPlane[0], s.startPlane[1]))
            return false;
        s.startValue = 0.0f;
    } else if (tool == 1) {
        if (!AxisDragParameter(ray, gizmo.origin, id == 1 ? gizmo.layerU : gizmo.layerV, s.startValue))
            return false;
    } else if (tool == 2) {
        if (!RingDragAngle(ray, gizmo.origin, gizmo.normal, gizmo.sideU, s.startValue))
            return false;
        s.lastAngle = s.startValue;
    } else if (tool == 3) {
        if (!AxisDragParameter(ray, gizmo.origin, LayerDiagonal(gizmo), s.startValue))
            return false;
        if (s.startValue < 0.05f * size)
            s.startValue = size;
    } else {
        return false;
    }
    state = s;
    return true;
}

bool ApplyLayerDrag(const ViewRay& ray, LayerDragState& state, ProjectionLayer& layer)
{
    ProjectionLayer result = state.layer;
    const LayerGizmo& g = state.gizmo;
    if (state.handle == 4) {
        float u = 0.0f;
        float v = 0.0f;
        if (!LayerPlanePoint(ray, g, u, v))
            return false;
        result.originMillimetres[0] = state.layer.originMillimetres[0] + (u - state.startPlane[0]);
        result.originMillimetres[1] = state.layer.originMillimetres[1] + (v - state.startPlane[1]);
    } else if (state.tool == 1) {
        float t = 0.0f;
        if (!AxisDragParameter(ray, g.origin, state.handle == 1 ? g.layerU : g.layerV, t))
            return false;
        const float d = t - state.startValue;
        const float r = state.layer.rotationDegrees * kPi / 180.0f;
        const float dx = state.handle == 1 ? std::cos(r) * d : -std::sin(r) * d;
        const float dy = state.handle == 1 ? std::sin(r) * d : std::cos(r) * d;
        result.originMillimetres[0] = state.layer.originMillimetres[0] + dx;
        result.originMillimetres[1] = state.layer.originMillimetres[1] + dy;
    } else if (state.tool == 2) {
        float angle = 0.0f;
        if (!RingDragAngle(ray, g.origin, g.normal, g.sideU, angle))
            return false;
        // Counted on from the previous move so that whole turns add up instead of wrapping.
        angle = Unwrap(angle, state.lastAngle);
        state.lastAngle = angle;
        result.rotationDegrees = (angle - state.startValue) * 180.0f / kPi + state.layer.rotationDegrees;
    } else if (state.tool == 3) {
        float t = 0.0f;
        if (!AxisDragParameter(ray, g.origin, LayerDiagonal(g), t))
            return false;
        const float size = state.handleSize;
        const float zoom = std::max(0.01f * size, t) / std::max(0.05f * size, state.startValue) * state.layer.zoom;
        if (!Finite(zoom))
            return false;
        result.zoom = std::clamp(zoom, kMinimumTextureZoom, kMaximumTextureZoom);
    } else {
        return false;
    }
    if (!Finite(result.originMillimetres[0]) || !Finite(result.originMillimetres[1]) || !Finite(result.rotationDegrees))
        return false;
    layer = result;
    return true;
}

int HandleAxisIndex(int id)
{
    switch (id) {
    case 1: case 5: case 8: return 0;
    case 2: case 6: return 1;
    case 3: case 7: return 2;
    default: return -1;
    }
}

Vec3 FrameDragAxis(const CageFrame& frame, int tool, int id)
{
    const int k = HandleAxisIndex(id);
    if (k < 0)
        return {};
    const float sign = (tool == 8 && (id == 5 || id == 6 || id == 7)) ? -1.0f : 1.0f;
    return Rotate(frame, AxisVector(k, sign));
}

namespace {

Vec3 RingReference(const CageFrame& frame, int k)
{
    return Rotate(frame, k == 0 ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{1.0f, 0.0f, 0.0f});
}

}  // namespace

bool FrameDragStartValue(const ViewRay& ray, const CageFrame& frame, int tool, int id, float& value)
{
    const int k = HandleAxisIndex(id);
    if (k < 0)
        return false;
    const Vec3 a = FrameDragAxis(frame, tool, id);
    if (tool == 5 || tool == 7)
        return RingDragAngle(ray, frame.center, a, RingReference(frame, k), value);
    return AxisDragParameter(ray, frame.center, a, value);
}

bool ApplyFrameDrag(const ViewRay& ray, const FrameDragState& state, int tool, bool shift, CageFrame& frame)
{
    const int id = state.handle;
    const int k = HandleAxisIndex(id);
    if (k < 0 || id == 4)
        return false;
    const CageFrame& start = state.frame;
    const Vec3 a = FrameDragAxis(start, tool, id);
    CageFrame result = start;
    if (tool == 5 || tool == 7) {
        float angle = 0.0f;
        if (!RingDragAngle(ray, start.center, a, RingReference(start, k), angle))
            return false;
        mesh::RotateCageAboutAxis(result, k, angle - state.startValue);
    } else if (tool == 4 || tool == 6 || tool == 8) {
        float t = 0.0f;
        if (!AxisDragParameter(ray, start.center, a, t))
            return false;
        if (tool == 8)
            result = ScaleMaskFrame(start, id, state.startValue, t, shift, kMinimumMaskSize);
        else
            result.center = start.center + a * (t - state.startValue);
    }
    if (!FiniteFrame(result))
        return false;
    frame = result;
    return true;
}

}  // namespace grainforge::app
