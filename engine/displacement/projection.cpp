#include "engine/displacement/projection.h"
#include "engine/displacement/projection_detail.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>

namespace grainforge::mesh {

using detail::Component;
using detail::kPi;
using detail::kTwoPi;
using detail::UnitAxis;

namespace {

const char* const kSideKeys[kBoxSideCount] = {"px", "nx", "py", "ny", "pz", "nz"};
const char* const kSideNames[kBoxSideCount] = {"+X", "-X", "+Y", "-Y", "+Z", "-Z"};
const char* const kKindNames[] = {"box", "plane", "cylinder", "sphere"};
const char* const kSurfaceNames[] = {"outside", "inside", "both"};
const char* const kAxisNames[] = {"x", "y", "z"};

float DegreesToRadians(float degrees)
{
    return degrees * kPi / 180.0f;
}

// Sine and cosine of an angle in degrees, exact for whole quarter turns. In float cos 90 degrees
// is -4.4e-8: a cage turned to face x or y would tip a face square to its direction towards it.
struct SineCosine {
    float sine = 0.0f;
    float cosine = 1.0f;
};

SineCosine SineCosineDegrees(float degrees)
{
    if (std::isfinite(degrees) && std::fmod(degrees, 90.0f) == 0.0f) {
        // fmod is exact, so the quarter is a whole number from -3 to 3.
        switch (static_cast<int>(std::fmod(degrees, 360.0f) / 90.0f)) {
        case 1:
        case -3: return {1.0f, 0.0f};
        case 2:
        case -2: return {0.0f, -1.0f};
        case 3:
        case -1: return {-1.0f, 0.0f};
        default: return {0.0f, 1.0f};
        }
    }
    const float radians = DegreesToRadians(degrees);
    return {std::sin(radians), std::cos(radians)};
}

float SideSign(std::int32_t side)
{
    return (side & 1) != 0 ? -1.0f : 1.0f;
}

bool IsSide(std::int32_t side)
{
    return side >= 0 && side < kBoxSideCount;
}

// ---- Mapping steps ------------------------------------------------------------------------

ProjectionSamples EmptySamples()
{
    return ProjectionSamples{};
}

// The per-side (u, v) of box and sphere sides, before the layer frame.
SidePoint BoxOrSphereSideUv(const Projection& projection, std::int32_t side, Vec3 q)
{
    const float g = SideSign(side);
    const std::int32_t axis = side / 2;
    if (projection.type == ProjectionKind::Sphere) {
        const struct SideFrame frame = SideFrame(side, projection.sphereAxis);
        const CageFrame& cage = projection.cage;
        const float radius = std::max({cage.size.x, cage.size.y, cage.size.z}) / 2.0f;
        const float alongNormal = Dot(q, frame.normal);
        const float u = (std::atan2(Dot(q, frame.uAxis), alongNormal) + frame.azimuth) * radius;
        const float v = std::atan2(Dot(q, frame.vAxis), alongNormal) * radius;
        return {u, v};
    }
    if (axis == 0)
        return {g * q.y, q.z};
    if (axis == 1)
        return {g * q.x, q.z};
    return {g * q.x, q.y};
}

// The side of an axis that a normal component faces.
std::int32_t FacingSide(std::int32_t axis, float component)
{
    return axis * 2 + (component >= 0.0f ? 0 : 1);
}

std::int32_t DominantAxis(Vec3 m)
{
    const float ax = std::fabs(m.x);
    const float ay = std::fabs(m.y);
    const float az = std::fabs(m.z);
    if (ax >= ay && ax >= az)
        return 0;
    if (ay >= ax && ay >= az)
        return 1;
    return 2;
}

ProjectionSamples MapBoxSharp(const Projection& projection, Vec3 q, Vec3 m)
{
    ProjectionSamples result;
    const std::int32_t axis = DominantAxis(m);
    const std::int32_t side = FacingSide(axis, Component(m, axis));
    const float ownWeight = std::max(0.0f, SideSign(side) * Component(m, axis));
    if (projection.boxSideEnabled[side] == 0 || !(ownWeight > 0.0f))
        return result;
    const SidePoint uv = BoxOrSphereSideUv(projection, side, q);
    result.samples[0] = ProjectionSample{uv.u, uv.v, 1.0f, side};
    result.count = 1;
    result.coverage = 1.0f;
    result.dominantSide = side;
    return result;
}

ProjectionSamples MapBoxBlended(const Projection& projection, Vec3 q, Vec3 m)
{
    ProjectionSamples result;
    const float k = std::max(0.1f, projection.boxBlendSharpness);
    float total = 0.0f;
    float enabledTotal = 0.0f;
    float appendedSum = 0.0f;
    float best = 0.0f;
    for (std::int32_t axis = 0; axis < 3; ++axis) {
        const float component = Component(m, axis);
        const std::int32_t side = FacingSide(axis, component);
        const float w = std::pow(std::fabs(component), k);
        total += w;
        if (projection.boxSideEnabled[side] == 0)
            continue;
        enabledTotal += w;
        if (!(w > 0.0f))
            continue;
        const SidePoint uv = BoxOrSphereSideUv(projection, side, q);
        result.samples[result.count++] = ProjectionSample{uv.u, uv.v, w, side};
        appendedSum += w;
        if (w > best) {
            best = w;
            result.dominantSide = side;
        }
    }
    if (result.count == 0)
        return EmptySamples();
    for (std::int32_t i = 0; i < result.count; ++i)
        result.samples[i].weight /= appendedSum;
    result.coverage = total > 0.0f ? enabledTotal / total : 0.0f;
    return result;
}

// The plane gives full coverage to any face turned towards it, however little; a face whose
// unit normal has less than this along the plane's direction is square to it (rounding in a
// turned cage leaves about 1e-7 there) and gets none.
constexpr float kEdgeOnFacing = 1e-6f;

ProjectionSamples MapPlane(const Projection& projection, Vec3 q, Vec3 m)
{
    ProjectionSamples result;
    const float mz = projection.planeTwoSided != 0 ? std::fabs(m.z) : m.z;
    const Vec3 size = projection.cage.size;
    if (!(mz > kEdgeOnFacing) || !(std::fabs(q.x) <= size.x * 0.5f) || !(std::fabs(q.y) <= size.y * 0.5f))
        return result;
    result.samples[0] = ProjectionSample{q.x, q.y, 1.0f, 4};
    result.count = 1;
    result.coverage = 1.0f;
    result.dominantSide = 4;
    return result;
}

// Brings an angle into [0, 2 pi). Huge angles are reduced first so that stepping by 2 pi
// cannot run for ever; ordinary angles step exactly as the plain wrap does.
float WrapAngle(float theta)
{
    if (!std::isfinite(theta))
        return 0.0f;
    if (std::fabs(theta) > 64.0f * kTwoPi)
        theta = std::fmod(theta, kTwoPi);
    while (theta < 0.0f)
        theta += kTwoPi;
    while (theta >= kTwoPi)
        theta -= kTwoPi;
    return theta;
}

ProjectionSamples MapCylinder(const Projection& projection, Vec3 q, Vec3 m)
{
    ProjectionSamples result;
    const std::int32_t axis = projection.cylinderAxis == 0 ? 0 : (projection.cylinderAxis == 1 ? 1 : 2);
    const std::int32_t a = (axis + 1) % 3;
    const std::int32_t b = (axis + 2) % 3;
    const float qa = Component(q, a);
    const float qb = Component(q, b);
    const float r = std::sqrt(qa * qa + qb * qb);
    const float facing = r != 0.0f ? std::max(0.0f, (qa * Component(m, a) + qb * Component(m, b)) / r) : 0.0f;
    if (projection.cylinderSideEnabled != 0 && facing > 0.0f) {
        const float theta =
            WrapAngle(std::atan2(qb, qa) - projection.cylinderSeamDegrees * kPi / 180.0f);
        result.samples[result.count++] =
            ProjectionSample{CylinderRadius(projection) * theta, Component(q, axis), facing, 0};
    }
    const float mAxis = Component(m, axis);
    const bool top = mAxis > 0.0f;
    const bool capEnabled = top ? projection.cylinderTopCapEnabled != 0
                                : projection.cylinderBottomCapEnabled != 0;
    const float capWeight = std::fabs(mAxis);
    if (capEnabled && capWeight > 0.0f) {
        result.samples[result.count++] =
            ProjectionSample{top ? qa : -qa, qb, capWeight, top ? 4 : 5};
    }
    if (result.count == 0)
        return result;
    float sum = 0.0f;
    for (std::int32_t i = 0; i < result.count; ++i)
        sum += result.samples[i].weight;
    result.coverage = std::min(sum, 1.0f);
    result.dominantSide = result.samples[0].side;
    if (result.count == 2 && result.samples[1].weight > result.samples[0].weight)
        result.dominantSide = result.samples[1].side;
    for (std::int32_t i = 0; i < result.count; ++i)
        result.samples[i].weight /= sum;
    return result;
}

bool IsOuterForSide(std::int32_t side, std::uint8_t mask)
{
    return side < 0 || side > 7 || ((mask >> side) & 1u) != 0;
}

bool SurfaceTakes(SurfaceSide surface, bool outer)
{
    switch (surface) {
    case SurfaceSide::Both: return true;
    case SurfaceSide::Outside: return outer;
    case SurfaceSide::Inside: return !outer;
    }
    return false;
}

bool KeepsSample(const Projection& projection, const ProjectionSample& sample, std::uint8_t mask)
{
    SurfaceSide surface = SurfaceSide::Both;
    if (projection.type == ProjectionKind::Plane)
        return true;
    if (projection.type == ProjectionKind::Cylinder) {
        surface = projection.cylinderSurface;
    } else {
        if (!IsSide(sample.side))
            return true;
        surface = projection.boxSideSurface[sample.side];
    }
    return SurfaceTakes(surface, IsOuterForSide(sample.side, mask));
}

// Drops the samples whose side refuses the surface, then renormalises the rest.
void FilterBySurface(const Projection& projection, std::uint8_t mask, ProjectionSamples& result)
{
    bool keep[3] = {false, false, false};
    for (std::int32_t i = 0; i < result.count; ++i)
        keep[i] = KeepsSample(projection, result.samples[i], mask);
    detail::KeepSamples(result, keep);
}

// ---- Layers and tiles ---------------------------------------------------------------------

// Whether the kind takes its texture from the side's layer.
bool UsesSide(const Projection& projection, std::int32_t side)
{
    switch (projection.type) {
    case ProjectionKind::Box:
    case ProjectionKind::Sphere: return projection.boxSideEnabled[side] != 0;
    case ProjectionKind::Plane: return side == 4;
    case ProjectionKind::Cylinder:
        return (side == 0 && projection.cylinderSideEnabled != 0) ||
               (side == 4 && projection.cylinderTopCapEnabled != 0) ||
               (side == 5 && projection.cylinderBottomCapEnabled != 0);
    }
    return false;
}

float EffectiveZoom(float zoom)
{
    return zoom > 0.0f ? zoom : 1.0f;
}

// Largest tile count a fit accepts; more tiles than this would not fit a 32-bit count.
constexpr float kMaximumTileCount = 1.0e9f;

// ---- JSON names ---------------------------------------------------------------------------

template <std::size_t N>
void WriteName(const JsonNode& node, const std::string& key, std::int32_t value,
               const char* const (&names)[N])
{
    if (value >= 0 && static_cast<std::size_t>(value) < N)
        SetJsonPathString(node, key, names[value]);
    else
        SetJsonPathInteger(node, key, value);
}

template <std::size_t N>
bool ReadName(const JsonView& view, const std::string& key, std::int32_t& value,
              const char* const (&names)[N])
{
    std::string text;
    if (!GetJsonPathString(view, key, text))
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (text == names[i]) {
            value = static_cast<std::int32_t>(i);
            return true;
        }
    }
    return false;
}

template <class Enum, std::size_t N>
void ReadEnum(const JsonView& view, const std::string& key, Enum& value,
              const char* const (&names)[N])
{
    std::int32_t raw = static_cast<std::int32_t>(value);
    if (ReadName(view, key, raw, names))
        value = static_cast<Enum>(raw);
}

void ReadSwitch(const JsonView& view, const std::string& key, std::uint8_t& value)
{
    bool flag = false;
    if (GetJsonPathBool(view, key, flag))
        value = flag ? 1 : 0;
}

std::string SideKey(const char* group, std::int32_t side, const char* field)
{
    return std::string(group) + "." + kSideKeys[side] + "." + field;
}

bool FloatsEqual(Vec3 a, Vec3 b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace

bool AnyProjectorOn(const Projection& projection)
{
    if (projection.type == ProjectionKind::Plane)
        return true;
    if (projection.type == ProjectionKind::Cylinder)
        return projection.cylinderSideEnabled != 0 || projection.cylinderTopCapEnabled != 0
            || projection.cylinderBottomCapEnabled != 0;
    return std::any_of(std::begin(projection.boxSideEnabled), std::end(projection.boxSideEnabled),
        [](std::uint8_t on) { return on != 0; });
}

// ---- Frames -------------------------------------------------------------------------------

const char* BoxSideName(std::int32_t side)
{
    return IsSide(side) ? kSideNames[side] : "?";
}

Projection InitProjection()
{
    return Projection{};
}

CageAxes EulerDegreesToMatrix(Vec3 rotationDegrees)
{
    const auto [sx, cx] = SineCosineDegrees(rotationDegrees.x);
    const auto [sy, cy] = SineCosineDegrees(rotationDegrees.y);
    const auto [sz, cz] = SineCosineDegrees(rotationDegrees.z);
    CageAxes axes;
    axes.x = {cz * cy, sz * cy, -sy};
    axes.y = {cz * sy * sx - sz * cx, cz * cx + sz * sy * sx, cy * sx};
    axes.z = {sz * sx + cz * sy * cx, sz * sy * cx - cz * sx, cy * cx};
    return axes;
}

Vec3 CageToWorld(const CageFrame& cage, Vec3 local)
{
    const CageAxes axes = EulerDegreesToMatrix(cage.rotationDegrees);
    return axes.x * local.x + axes.y * local.y + axes.z * local.z;
}

Vec3 WorldToCage(const CageFrame& cage, Vec3 world)
{
    const CageAxes axes = EulerDegreesToMatrix(cage.rotationDegrees);
    return {Dot(world, axes.x), Dot(world, axes.y), Dot(world, axes.z)};
}

CageCornerPoints CageCorners(const CageFrame& cage)
{
    CageCornerPoints points;
    const Vec3 h = cage.size * 0.5f;
    for (std::int32_t i = 0; i < 8; ++i) {
        const Vec3 local{(i & 1) != 0 ? h.x : -h.x, (i & 2) != 0 ? h.y : -h.y,
                         (i & 4) != 0 ? h.z : -h.z};
        points.corners[i] = cage.center + CageToWorld(cage, local);
    }
    return points;
}

float CylinderRadius(const Projection& projection)
{
    const Vec3 size = projection.cage.size;
    if (projection.cylinderAxis == 0)
        return std::max(size.z, size.y) / 2.0f;
    if (projection.cylinderAxis == 1)
        return std::max(size.z, size.x) / 2.0f;
    return std::max(size.y, size.x) / 2.0f;
}

struct SideFrame SideFrame(std::int32_t side, std::int32_t upAxis)
{
    struct SideFrame frame;
    const std::int32_t clamped = std::clamp(side, 0, kBoxSideCount - 1);
    frame.normal = UnitAxis(clamped / 2) * SideSign(side);
    const std::int32_t up = upAxis == 0 ? 0 : (upAxis == 1 ? 1 : 2);
    const Vec3 upVector = UnitAxis(up);
    const float alongUp = Dot(frame.normal, upVector);
    if (std::fabs(alongUp) > 0.5f) {
        frame.alongUp = 1;
        frame.uAxis = UnitAxis((up + 1) % 3);
        frame.vAxis = UnitAxis((up + 2) % 3) * (alongUp > 0.0f ? 1.0f : -1.0f);
        frame.azimuth = 0.0f;
    } else {
        frame.alongUp = 0;
        frame.uAxis = Cross(upVector, frame.normal);
        frame.vAxis = upVector;
        frame.azimuth = std::atan2(Component(frame.normal, (up + 2) % 3),
                                   Component(frame.normal, (up + 1) % 3));
    }
    return frame;
}

// ---- Mapping ------------------------------------------------------------------------------

namespace {

// The samples of a cage-local point q with its cage-local unit normal m.
ProjectionSamples MapLocal(const Projection& projection, Vec3 q, Vec3 m, const std::uint8_t* outerMask)
{
    ProjectionSamples result;
    switch (projection.type) {
    case ProjectionKind::Box:
    case ProjectionKind::Sphere:
        result = projection.boxBlended != 0 ? MapBoxBlended(projection, q, m)
                                            : MapBoxSharp(projection, q, m);
        break;
    case ProjectionKind::Plane: result = MapPlane(projection, q, m); break;
    case ProjectionKind::Cylinder: result = MapCylinder(projection, q, m); break;
    default: break;  // an unknown kind maps nothing
    }

    if (outerMask != nullptr && result.count != 0)
        FilterBySurface(projection, *outerMask, result);

    for (std::int32_t i = 0; i < result.count; ++i) {
        ProjectionSample& sample = result.samples[i];
        const SidePoint layered = SideLayerCoordinates(projection, sample.side, {sample.u, sample.v});
        sample.u = layered.u;
        sample.v = layered.v;
    }
    return result;
}

// A point and a direction in the cage's frame. One rotation for both vectors: the same
// products WorldToCage forms, without its second set of sines and cosines.
struct LocalPoint {
    Vec3 q;
    Vec3 m;
};

LocalPoint ToCage(const Projection& projection, Vec3 point, Vec3 normal)
{
    const CageFrame& cage = projection.cage;
    const CageAxes axes = EulerDegreesToMatrix(cage.rotationDegrees);
    const Vec3 d = point - cage.center;
    return {{Dot(d, axes.x), Dot(d, axes.y), Dot(d, axes.z)},
        Vec3{Dot(normal, axes.x), Dot(normal, axes.y), Dot(normal, axes.z)}};
}

float WithinLeanAsZero(float component, float lean)
{
    return std::fabs(component) <= lean ? 0.0f : component;
}

}  // namespace

ProjectionSamples MapThroughProjection(const Projection& projection, Vec3 point, Vec3 normal,
                                       const std::uint8_t* outerMask)
{
    const LocalPoint local = ToCage(projection, point, normal);
    return MapLocal(projection, local.q, Normalized(local.m), outerMask);
}

ProjectionSamples MapFaceThroughProjection(const Projection& projection, Vec3 point, Vec3 faceNormal, float lean,
                                           const std::uint8_t* outerMask)
{
    const LocalPoint local = ToCage(projection, point, faceNormal);
    Vec3 m = Normalized(local.m);
    if (lean > 0.0f)
        m = Normalized(Vec3{WithinLeanAsZero(m.x, lean), WithinLeanAsZero(m.y, lean), WithinLeanAsZero(m.z, lean)});
    return MapLocal(projection, local.q, m, outerMask);
}

bool TakesSurface(const Projection& projection, bool outer)
{
    switch (projection.type) {
    case ProjectionKind::Plane: return true;
    case ProjectionKind::Cylinder:
        return (UsesSide(projection, 0) || UsesSide(projection, 4) || UsesSide(projection, 5)) &&
               SurfaceTakes(projection.cylinderSurface, outer);
    case ProjectionKind::Box:
    case ProjectionKind::Sphere:
        for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
            if (UsesSide(projection, side) && SurfaceTakes(projection.boxSideSurface[side], outer))
                return true;
        }
        return false;
    }
    return false;
}

SidePoint SideLayerCoordinates(const Projection& projection, std::int32_t side, SidePoint uv)
{
    const ProjectionLayer layer = IsSide(side) ? projection.layers[side] : ProjectionLayer{};
    const float dx = uv.u - layer.originMillimetres[0];
    const float dy = uv.v - layer.originMillimetres[1];
    const float z = EffectiveZoom(layer.zoom);
    if (layer.rotationDegrees == 0.0f)
        return {dx / z, dy / z};
    const float a = DegreesToRadians(layer.rotationDegrees);
    const float c = std::cos(a);
    const float s = std::sin(a);
    return {(c * dx + s * dy) / z, (c * dy - s * dx) / z};
}

SidePoint StrongestSample(const ProjectionSamples& samples)
{
    SidePoint best;
    float bestWeight = -1.0f;
    const std::int32_t count = std::clamp(samples.count, 0, 3);
    for (std::int32_t i = 0; i < count; ++i) {
        if (samples.samples[i].weight > bestWeight) {
            bestWeight = samples.samples[i].weight;
            best = {samples.samples[i].u, samples.samples[i].v};
        }
    }
    return best;
}

float MaximumLayerZoom(const Projection& projection)
{
    float largest = 0.0f;
    bool any = false;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        if (!UsesSide(projection, side))
            continue;
        const float zoom = projection.layers[side].zoom;
        if (!any || zoom > largest)
            largest = zoom;
        any = true;
    }
    return largest > 0.0f ? largest : 1.0f;
}

float MinimumLayerZoom(const Projection& projection)
{
    float smallest = std::numeric_limits<float>::infinity();
    bool any = false;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        const float zoom = projection.layers[side].zoom;
        if (UsesSide(projection, side) && zoom > 0.0f && zoom < smallest) {
            smallest = zoom;
            any = true;
        }
    }
    return any ? smallest : 1.0f;
}

// ---- Tiles --------------------------------------------------------------------------------

SideTiling ComputeTileFrame(const Projection& projection, const TextureSettings& settings,
                            std::int32_t side)
{
    SideTiling tiling;
    float radius = 0.0f;
    if (projection.type == ProjectionKind::Cylinder) {
        if (side != 0 || projection.cylinderWholeTiles == 0 || projection.cylinderSideEnabled == 0)
            return tiling;
        radius = CylinderRadius(projection);
    } else if (projection.type == ProjectionKind::Sphere) {
        if (!IsSide(side) || projection.sphereWholeTiles == 0 || projection.boxSideEnabled[side] == 0)
            return tiling;
        if (SideFrame(side, projection.sphereAxis).alongUp != 0)
            return tiling;
        const Vec3 size = projection.cage.size;
        radius = std::max({size.x, size.y, size.z}) / 2.0f;
    } else {
        return tiling;
    }

    const float circumference = radius * kTwoPi;
    if (!(circumference > 0.0f) || !settings.tiles || !(settings.widthMillimetres > 0.0f) ||
        !(settings.heightMillimetres > 0.0f))
        return tiling;

    tiling.active = 1;
    tiling.zoom = EffectiveZoom(projection.layers[side].zoom);
    tiling.fittedZoom = tiling.zoom;

    const TilePlacement placement{settings.offsetMillimetres[0], settings.offsetMillimetres[1],
                                  settings.rotationDegrees, settings.widthMillimetres,
                                  settings.heightMillimetres};
    const SidePoint start = SideLayerCoordinates(projection, side, {0.0f, 0.0f});
    const SidePoint end = SideLayerCoordinates(projection, side, {circumference, 0.0f});
    const TileCoordinates t0 = PlacementToTile(placement, start.u, start.v);
    const TileCoordinates t1 = PlacementToTile(placement, end.u, end.v);
    const float dx = t1.u - t0.u;
    const float dy = t1.v - t0.v;
    const float around = std::sqrt(dx * dx + dy * dy);
    // A non-finite length (overflowing sizes) measures nothing, like a zero one.
    if (!(around > 0.0f) || !std::isfinite(around))
        return tiling;

    tiling.tilesAround = around;
    tiling.setTileMillimetres = circumference / around;
    tiling.fittedTileMillimetres = tiling.setTileMillimetres;

    // The way around runs diagonally across the tiles: no whole count fits.
    if (std::min(std::fabs(dx), std::fabs(dy)) > around * 0.0001f)
        return tiling;

    // A mirrored texture repeats only every second tile.
    const std::int32_t step = settings.seamlessMethod == "Mirror" ? 2 : 1;
    const float rounded = std::round(around / static_cast<float>(step));
    if (!(rounded <= kMaximumTileCount))
        return tiling;
    const std::int32_t count = std::max(step, static_cast<std::int32_t>(rounded) * step);
    tiling.tileCount = count;
    tiling.wholeTiles = 1;
    tiling.fittedZoom = tiling.zoom * around / static_cast<float>(count);
    tiling.fittedTileMillimetres = circumference / static_cast<float>(count);
    return tiling;
}

Projection BuildTileFrames(const Projection& projection, const TextureSettings& settings)
{
    Projection copy = projection;
    if (projection.type == ProjectionKind::Sphere) {
        for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
            const SideTiling frame = ComputeTileFrame(projection, settings, side);
            if (frame.active == 0)
                continue;
            if (frame.wholeTiles == 0)
                return copy;
            for (ProjectionLayer& layer : copy.layers)
                layer.zoom = EffectiveZoom(layer.zoom) * frame.fittedZoom / frame.zoom;
            return copy;
        }
        return copy;
    }
    const SideTiling frame = ComputeTileFrame(projection, settings, 0);
    if (frame.wholeTiles != 0)
        copy.layers[0].zoom = frame.fittedZoom;
    return copy;
}

// ---- JSON ---------------------------------------------------------------------------------

void WriteProjectionJson(const JsonNode& node, const Projection& projection)
{
    WriteName(node, "type", static_cast<std::int32_t>(projection.type), kKindNames);
    const CageFrame& cage = projection.cage;
    SetJsonPathVec3(node, "cage.center", cage.center.x, cage.center.y, cage.center.z);
    SetJsonPathVec3(node, "cage.rotationDegrees", cage.rotationDegrees.x, cage.rotationDegrees.y,
                    cage.rotationDegrees.z);
    SetJsonPathVec3(node, "cage.size", cage.size.x, cage.size.y, cage.size.z);
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        SetJsonPathBool(node, SideKey("box.side", side, "enabled"), projection.boxSideEnabled[side] != 0);
        WriteName(node, SideKey("box.side", side, "surface"),
                  static_cast<std::int32_t>(projection.boxSideSurface[side]), kSurfaceNames);
    }
    SetJsonPathBool(node, "box.blended", projection.boxBlended != 0);
    SetJsonPathFloat(node, "box.blendSharpness", projection.boxBlendSharpness);
    SetJsonPathBool(node, "plane.twoSided", projection.planeTwoSided != 0);
    WriteName(node, "plane.axis", projection.planeAxis, kAxisNames);
    WriteName(node, "cylinder.axis", projection.cylinderAxis, kAxisNames);
    WriteName(node, "cylinder.surface", static_cast<std::int32_t>(projection.cylinderSurface),
              kSurfaceNames);
    SetJsonPathFloat(node, "cylinder.seamDegrees", projection.cylinderSeamDegrees);
    SetJsonPathBool(node, "cylinder.sideEnabled", projection.cylinderSideEnabled != 0);
    SetJsonPathBool(node, "cylinder.topCapEnabled", projection.cylinderTopCapEnabled != 0);
    SetJsonPathBool(node, "cylinder.bottomCapEnabled", projection.cylinderBottomCapEnabled != 0);
    SetJsonPathBool(node, "cylinder.wholeTiles", projection.cylinderWholeTiles != 0);
    WriteName(node, "sphere.axis", projection.sphereAxis, kAxisNames);
    SetJsonPathBool(node, "sphere.wholeTiles", projection.sphereWholeTiles != 0);
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        const ProjectionLayer& layer = projection.layers[side];
        SetJsonPathVec2(node, SideKey("layer", side, "originMillimetres"),
                        layer.originMillimetres[0], layer.originMillimetres[1]);
        SetJsonPathFloat(node, SideKey("layer", side, "rotationDegrees"), layer.rotationDegrees);
        SetJsonPathFloat(node, SideKey("layer", side, "zoom"), layer.zoom);
        SetJsonPathInteger(node, SideKey("layer", side, "image"), layer.image);
    }
    SetJsonPathInteger(node, "activeLayer", projection.activeLayer);
}

void ReadProjectionJson(const JsonView& view, Projection& projection)
{
    ReadEnum(view, "type", projection.type, kKindNames);
    CageFrame& cage = projection.cage;
    GetJsonPathVec3(view, "cage.center", cage.center.x, cage.center.y, cage.center.z);
    GetJsonPathVec3(view, "cage.rotationDegrees", cage.rotationDegrees.x, cage.rotationDegrees.y,
                    cage.rotationDegrees.z);
    GetJsonPathVec3(view, "cage.size", cage.size.x, cage.size.y, cage.size.z);
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        ReadSwitch(view, SideKey("box.side", side, "enabled"), projection.boxSideEnabled[side]);
        ReadEnum(view, SideKey("box.side", side, "surface"), projection.boxSideSurface[side],
                 kSurfaceNames);
    }
    ReadSwitch(view, "box.blended", projection.boxBlended);
    GetJsonPathFloat(view, "box.blendSharpness", projection.boxBlendSharpness);
    ReadSwitch(view, "plane.twoSided", projection.planeTwoSided);
    ReadName(view, "plane.axis", projection.planeAxis, kAxisNames);
    ReadName(view, "cylinder.axis", projection.cylinderAxis, kAxisNames);
    ReadEnum(view, "cylinder.surface", projection.cylinderSurface, kSurfaceNames);
    GetJsonPathFloat(view, "cylinder.seamDegrees", projection.cylinderSeamDegrees);
    ReadSwitch(view, "cylinder.sideEnabled", projection.cylinderSideEnabled);
    ReadSwitch(view, "cylinder.topCapEnabled", projection.cylinderTopCapEnabled);
    ReadSwitch(view, "cylinder.bottomCapEnabled", projection.cylinderBottomCapEnabled);
    ReadSwitch(view, "cylinder.wholeTiles", projection.cylinderWholeTiles);
    ReadName(view, "sphere.axis", projection.sphereAxis, kAxisNames);
    ReadSwitch(view, "sphere.wholeTiles", projection.sphereWholeTiles);
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        ProjectionLayer& layer = projection.layers[side];
        GetJsonPathVec2(view, SideKey("layer", side, "originMillimetres"),
                        layer.originMillimetres[0], layer.originMillimetres[1]);
        GetJsonPathFloat(view, SideKey("layer", side, "rotationDegrees"), layer.rotationDegrees);
        GetJsonPathFloat(view, SideKey("layer", side, "zoom"), layer.zoom);
        GetJsonPathInt32(view, SideKey("layer", side, "image"), layer.image);
    }
    GetJsonPathInt32(view, "activeLayer", projection.activeLayer);
    if (projection.activeLayer < -1 || projection.activeLayer > 5)
        projection.activeLayer = -1;
}

// ---- Equality -----------------------------------------------------------------------------

bool OrientedBoxEquals(const CageFrame& a, const CageFrame& b)
{
    return FloatsEqual(a.center, b.center) && FloatsEqual(a.rotationDegrees, b.rotationDegrees) &&
           FloatsEqual(a.size, b.size);
}

bool ProjectionSidesEquals(const ProjectionLayer (&a)[kBoxSideCount],
                           const ProjectionLayer (&b)[kBoxSideCount])
{
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        const ProjectionLayer& x = a[side];
        const ProjectionLayer& y = b[side];
        if (!(x.originMillimetres[0] == y.originMillimetres[0] &&
              x.originMillimetres[1] == y.originMillimetres[1] &&
              x.rotationDegrees == y.rotationDegrees && x.zoom == y.zoom && x.image == y.image))
            return false;
    }
    return true;
}

bool ProjectionEquals(const Projection& a, const Projection& b)
{
    if (a.type != b.type || !OrientedBoxEquals(a.cage, b.cage))
        return false;
    for (std::int32_t side = 0; side < kBoxSideCount; ++side) {
        if (a.boxSideEnabled[side] != b.boxSideEnabled[side] ||
            a.boxSideSurface[side] != b.boxSideSurface[side])
            return false;
    }
    return a.boxBlended == b.boxBlended && a.boxBlendSharpness == b.boxBlendSharpness &&
           a.planeTwoSided == b.planeTwoSided && a.planeAxis == b.planeAxis &&
           a.cylinderAxis == b.cylinderAxis && a.cylinderSurface == b.cylinderSurface &&
           a.cylinderSeamDegrees == b.cylinderSeamDegrees &&
           a.cylinderSideEnabled == b.cylinderSideEnabled &&
           a.cylinderTopCapEnabled == b.cylinderTopCapEnabled &&
           a.cylinderBottomCapEnabled == b.cylinderBottomCapEnabled &&
           a.cylinderWholeTiles == b.cylinderWholeTiles && a.sphereAxis == b.sphereAxis &&
           a.sphereWholeTiles == b.sphereWholeTiles &&
           ProjectionSidesEquals(a.layers, b.layers) && a.activeLayer == b.activeLayer;
}

// ---- Shared helpers -----------------------------------------------------------------------

namespace detail {

Vec3 EulerDegreesFromAxes(const CageAxes& axes)
{
    const float sinY = std::clamp(-axes.x.z, -1.0f, 1.0f);
    if (std::fabs(sinY) < 0.99999f) {
        const float ry = std::asin(sinY);
        const float rz = std::atan2(axes.x.y, axes.x.x);
        const float rx = std::atan2(axes.y.z, axes.z.z);
        return {rx * 180.0f / kPi, ry * 180.0f / kPi, rz * 180.0f / kPi};
    }
    // Near the lock the x axis barely leaves world z: the x and z angles are each poorly
    // measured, only their combination is well measured. Dropping the z angle here would
    // move a 100 mm frame turned to 89.9 degrees by 0.2 mm, so z is kept while it can be
    // read, and x is read from the y axis with y and z undone, which takes up z's error.
    const float across = std::hypot(axes.x.x, axes.x.y);
    const float ry = std::atan2(sinY, across);
    const float rz = across > kLockedAcross ? std::atan2(axes.x.y, axes.x.x) : 0.0f;
    const float sy = std::sin(ry), cy = std::cos(ry);
    const float sz = std::sin(rz), cz = std::cos(rz);
    const float yAlongY = cz * axes.y.y - sz * axes.y.x;
    const float yAlongZ = sy * (cz * axes.y.x + sz * axes.y.y) + cy * axes.y.z;
    const float rx = std::atan2(yAlongZ, yAlongY);
    return {rx * 180.0f / kPi, ry * 180.0f / kPi, rz * 180.0f / kPi};
}

}  // namespace detail

namespace detail {

void KeepSamples(ProjectionSamples& result, const bool (&keep)[3])
{
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < std::clamp(result.count, 0, 3); ++i) {
        if (keep[i])
            result.samples[kept++] = result.samples[i];
    }
    for (std::int32_t i = kept; i < 3; ++i)
        result.samples[i] = ProjectionSample{};
    result.count = kept;
    float sum = 0.0f;
    for (std::int32_t i = 0; i < kept; ++i)
        sum += result.samples[i].weight;
    // Kept weights that add up to nothing (a weight that underflowed) leave the set empty
    // rather than dividing by zero.
    if (kept == 0 || !(sum > 0.0f)) {
        result = EmptySamples();
        return;
    }
    // The divided weights may add up to a rounding above 1; coverage stays a share.
    result.coverage = std::min(result.coverage * sum, 1.0f);
    float best = 0.0f;
    result.dominantSide = -1;
    for (std::int32_t i = 0; i < kept; ++i) {
        result.samples[i].weight /= sum;
        if (result.samples[i].weight > best) {
            best = result.samples[i].weight;
            result.dominantSide = result.samples[i].side;
        }
    }
}

}  // namespace detail

}  // namespace grainforge::mesh
