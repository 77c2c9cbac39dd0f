#include "engine/displacement/texture_weights.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace grainforge::mesh {

namespace {

constexpr std::uint8_t kOuter = 255;
constexpr std::uint8_t kInner = 0;
constexpr float kFloatMax = std::numeric_limits<float>::max();

// What every corner of one call reads.
struct CornerInputs {
    const Projection& projection;
    const TileFrame& tileFrame;
    std::span<const MaskVolume> masks;
    std::span<const std::uint8_t> onTheBed;  // empty: no face is held on the bed
    std::span<const std::uint8_t> taken;     // empty: each triangle judged by its own normal
};

float TriangleArea(Vec3 a, Vec3 b, Vec3 c)
{
    return Length(Cross(b - a, c - a)) * 0.5f;
}

// The area a triangle lends its corners for averaging. A triangle with a vertex far out (or
// not finite) has no measurable area; counted as 0 it cannot turn its neighbours' sums into
// infinity or NaN.
float UsableArea(const TriangleMesh& mesh, std::size_t t)
{
    const float area = TriangleArea(mesh.vertices[mesh.indices[3 * t]].position,
        mesh.vertices[mesh.indices[3 * t + 1]].position, mesh.vertices[mesh.indices[3 * t + 2]].position);
    return std::isfinite(area) ? area : 0.0f;
}

// 1 inside or on the boundary, fading to 0 with a smoothstep across the feather outside it.
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

// The strongest masking at the point; stops at the first volume that masks it fully.
float LargestMaskFactor(std::span<const MaskVolume> masks, Vec3 point)
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

// A vertex with no place or no direction gets no texture: mapped as it is, a NaN position
// would land on a side with full coverage.
float CornerWeight(const CornerInputs& in, const MeshVertex& vertex, std::uint8_t outerByte)
{
    if (!IsFinite(vertex.position) || !IsFinite(vertex.normal))
        return 0.0f;
    ProjectionSamples samples = MapThroughProjection(in.projection, vertex.position, vertex.normal, &outerByte);
    if (in.tileFrame.on != 0)
        ProjectionFaceWeights(in.tileFrame, samples);
    const float coverage = samples.coverage;
    if (!(coverage > 0.0f))
        return 0.0f;
    if (in.masks.empty())
        return coverage;
    return (1.0f - LargestMaskFactor(in.masks, vertex.position)) * coverage;
}

std::vector<std::uint8_t> OuterMaskFor(const TriangleMesh& mesh, std::span<const std::uint8_t> outerMask)
{
    if (outerMask.size() == mesh.TriangleCount())
        return {outerMask.begin(), outerMask.end()};
    return std::vector<std::uint8_t>(mesh.TriangleCount(), kOuter);
}

// Each triangle writes its own three corners and its own textured byte. A corner's weight
// depends only on its vertex and its triangle's outer-mask byte; when every triangle has the
// same byte, each vertex is weighed once for the six or so corners it has. A triangle the
// projection does not take as a face, or one held flat on the bed, weighs 0 in every corner:
// a vertex on its rim takes its share through the outside rule alone, so the relief does not
// spill over a crease onto a face square to the projection, nor grow a lip at the bed.
void WeighCorners(const TriangleMesh& mesh, const CornerInputs& in, TextureWeights& weights)
{
    weights.cornerWeights.assign(mesh.indices.size(), 0.0f);
    weights.faceTextured.assign(mesh.TriangleCount(), 0);
    const std::vector<std::uint8_t>& outer = weights.faceOuterMask;
    const bool oneByte = !outer.empty()
        && std::all_of(outer.begin(), outer.end(), [&](std::uint8_t b) { return b == outer.front(); });
    std::vector<float> vertexWeight;
    if (oneByte) {
        vertexWeight.resize(mesh.vertices.size());
        ParallelFor(mesh.vertices.size(),
            [&](std::size_t v) { vertexWeight[v] = CornerWeight(in, mesh.vertices[v], outer.front()); });
    }
    ParallelFor(mesh.TriangleCount(), [&](std::size_t t) {
        bool textured = false;
        for (std::size_t corner = 3 * t; corner < 3 * t + 3; ++corner) {
            const std::uint32_t v = mesh.indices[corner];
            const float w = oneByte ? vertexWeight[v] : CornerWeight(in, mesh.vertices[v], outer[t]);
            weights.cornerWeights[corner] = w;
            textured = textured || w > 0.0f;
        }
        const bool held = !in.onTheBed.empty() && in.onTheBed[t] != 0;
        const auto takes = [&] {
            return in.taken.empty() ? ProjectionTakesFace(mesh, t, in.projection, outer[t]) : in.taken[t] != 0;
        };
        if (textured && (held || !takes())) {
            std::fill_n(weights.cornerWeights.begin() + static_cast<std::ptrdiff_t>(3 * t), 3, 0.0f);
            textured = false;
        }
        weights.faceTextured[t] = textured ? 1 : 0;
    });
}

// Rule "any". Corner weights are never negative, so starting at 0 leaves unused vertices at 0.
std::vector<float> LargestCornerWeights(const TriangleMesh& mesh, std::span<const float> corners)
{
    std::vector<float> result(mesh.vertices.size(), 0.0f);
    for (std::size_t i = 0; i < corners.size(); ++i)
        result[mesh.indices[i]] = std::max(result[mesh.indices[i]], corners[i]);
    return result;
}

// Rule "all".
std::vector<float> SmallestCornerWeights(const TriangleMesh& mesh, std::span<const float> corners)
{
    constexpr float kUnused = std::numeric_limits<float>::max();
    std::vector<float> result(mesh.vertices.size(), kUnused);
    for (std::size_t i = 0; i < corners.size(); ++i)
        result[mesh.indices[i]] = std::min(result[mesh.indices[i]], corners[i]);
    for (float& w : result)
        w = w == kUnused ? 0.0f : w;
    return result;
}

// Rule "average": each corner counts with its triangle's area, summed in triangle order.
std::vector<float> AreaWeightedCornerWeights(const TriangleMesh& mesh, std::span<const float> corners)
{
    struct Sums {
        double weighted = 0.0;
        double area = 0.0;
    };
    std::vector<Sums> sums(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const double area = UsableArea(mesh, t);
        for (std::size_t corner = 3 * t; corner < 3 * t + 3; ++corner) {
            Sums& s = sums[mesh.indices[corner]];
            s.weighted += area * corners[corner];
            s.area += area;
        }
    }
    std::vector<float> result(mesh.vertices.size(), 0.0f);
    for (std::size_t v = 0; v < sums.size(); ++v) {
        if (sums[v].area > 0.0)
            result[v] = std::max(0.0f, static_cast<float>(sums[v].weighted / sums[v].area));
    }
    return result;
}

std::vector<float> CombineCornerWeights(const TriangleMesh& mesh, std::span<const float> corners, OutsideRule rule)
{
    switch (rule) {
    case OutsideRule::any: return LargestCornerWeights(mesh, corners);
    case OutsideRule::all: return SmallestCornerWeights(mesh, corners);
    case OutsideRule::average: return AreaWeightedCornerWeights(mesh, corners);
    }
    return std::vector<float>(mesh.vertices.size(), 0.0f);  // a rule outside the table moves nothing
}

// ---- Remapping ----------------------------------------------------------------------------

bool CanRemap(const TextureWeights& oldWeights, const TriangleMesh& oldMesh, const TriangleMesh& newMesh,
    std::span<const std::uint32_t> vertexMap, std::span<const std::uint32_t> faceMap)
{
    return vertexMap.size() == newMesh.vertices.size() && faceMap.size() == newMesh.TriangleCount()
        && oldWeights.MatchesMesh(oldMesh) && newMesh.IsConsistent() && oldMesh.IsConsistent();
}

// The old weight of old vertex u; 0 when u names no old vertex.
float OldVertexWeight(const TextureWeights& oldWeights, std::uint32_t u)
{
    return u < oldWeights.vertexWeights.size() ? oldWeights.vertexWeights[u] : 0.0f;
}

void RemapTriangle(const TextureWeights& oldWeights, const TriangleMesh& oldMesh, const TriangleMesh& newMesh,
    std::span<const std::uint32_t> vertexMap, std::uint32_t o, std::size_t f, TextureWeights& result)
{
    const bool known = o < oldWeights.faceTextured.size();
    result.faceTextured[f] = known ? oldWeights.faceTextured[o] : 0;
    result.faceOuterMask[f] = known ? oldWeights.faceOuterMask[o] : kInner;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t u = vertexMap[newMesh.indices[3 * f + k]];
        const std::size_t oldCorner = 3 * static_cast<std::size_t>(o) + k;
        const bool sameCorner = known && u == oldMesh.indices[oldCorner];
        result.cornerWeights[3 * f + k] =
            sameCorner ? oldWeights.cornerWeights[oldCorner] : OldVertexWeight(oldWeights, u);
    }
}

std::string Fixed(double value, int decimals) { return FormatFixed(value, decimals); }

// The float steps of its largest coordinate by which a corner the turn of a part computed may
// lie off its face's plane: a flat face turned about two axes came out with its triangles'
// normals leaning up to about one step over their smallest height.
constexpr float kCornerRoundingSteps = 4.0f;
// A lean past this (about 6 degrees) is a sliver's: its normal tells too little to go on, and
// it is judged as the normal stands, give or take this much.
constexpr float kMostLean = 0.1f;

// How far the unit normal of triangle t may lean from its face's own through the rounding of
// its corners: the corners' float steps over the triangle's smallest height, at most kMostLean.
float FaceNormalLean(const TriangleMesh& mesh, std::size_t t)
{
    const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
    const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
    const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
    const float reach = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z), std::fabs(b.x), std::fabs(b.y),
        std::fabs(b.z), std::fabs(c.x), std::fabs(c.y), std::fabs(c.z)});
    const float longest = std::max({Length(b - a), Length(c - b), Length(a - c)});
    const float step = std::nextafter(reach, kFloatMax) - reach;
    const float lean = kCornerRoundingSteps * step * longest / Length(Cross(b - a, c - a));
    return std::isfinite(lean) ? std::min(lean, kMostLean) : 0.0f;
}

// Whether the projection takes the face of triangle t of `mesh` that has the unit `normal`,
// leaning up to `lean`, at the triangle's corners.
bool TakesFaceWith(const TriangleMesh& mesh, std::size_t t, Vec3 normal, float lean, const Projection& projection,
    std::uint8_t outerByte)
{
    for (std::size_t corner = 3 * t; corner < 3 * t + 3; ++corner) {
        const Vec3 p = mesh.vertices[mesh.indices[corner]].position;
        if (IsFinite(p) && MapFaceThroughProjection(projection, p, normal, lean, &outerByte).coverage > 0.0f)
            return true;
    }
    return false;
}

// A face of the part within this angle (30 degrees) of a triangle's normal can be the face the
// triangle was made from.
constexpr float kSameFaceCosine = 0.8660254f;

// Whether triangle f of `part` lies farther than `reach` from `p` by its plane alone, so that
// the nearest search need not measure it. Worked in double from the float corners, where the
// plane's distance is within a few units in the last place of the exact one; the margin keeps
// every triangle the search could have taken.
bool PlaneBeyondReach(const TriangleMesh& part, std::uint32_t f, Vec3 p, float reach)
{
    constexpr double kMargin = 1.0 + 1e-6;
    const std::size_t first = std::size_t{3} * f;
    const Vec3 a = part.vertices[part.indices[first]].position;
    const Vec3 b = part.vertices[part.indices[first + 1]].position;
    const Vec3 c = part.vertices[part.indices[first + 2]].position;
    const double ux = double{b.x} - a.x, uy = double{b.y} - a.y, uz = double{b.z} - a.z;
    const double vx = double{c.x} - a.x, vy = double{c.y} - a.y, vz = double{c.z} - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double along = nx * (double{p.x} - a.x) + ny * (double{p.y} - a.y) + nz * (double{p.z} - a.z);
    const double lengthSquared = nx * nx + ny * ny + nz * nz;
    const double r = reach;
    return along * along > r * r * lengthSquared * kMargin;
}

// The triangle of `part` that triangle t of `mesh` was made from: the nearest to its centroid,
// within its longest edge, of those facing within kSameFaceCosine of it; -1 when none is.
// `partNormals` holds part.FaceNormal of each triangle. A part's facets that meet at a hub
// (a cone's apex, a fan) have boxes holding far more than their own surface, so the search
// visits many of them at every point; the plane test turns most of those away without
// measuring them.
std::int32_t PartFaceOf(const TriangleMesh& mesh, std::size_t t, const TriangleMesh& part, const AabbTree& tree,
    std::span<const Vec3> partNormals)
{
    const Vec3 normal = mesh.FaceNormal(t);
    if (IsZero(normal) || !IsFinite(normal))
        return -1;
    const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
    const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
    const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
    const float reach = std::max({Length(b - a), Length(c - b), Length(a - c)});
    const Vec3 centroid = (a + b + c) * (1.0f / 3.0f);
    // Past kFarReach the tree searches without a limit; the plane test then stays out of it.
    constexpr float kFarReach = 1e18f;
    const bool bounded = reach < kFarReach && IsFinite(centroid);
    const NearestHit hit = tree.Nearest(part, centroid, {},
        [&](std::uint32_t f) {
            return !(Dot(partNormals[f], normal) >= kSameFaceCosine)
                || (bounded && PlaneBeyondReach(part, f, centroid, reach));
        },
        reach);
    return hit.found && std::isfinite(reach) ? hit.triangle : -1;
}

}  // namespace

bool TextureWeights::MatchesMesh(const TriangleMesh& mesh) const
{
    const std::size_t triangles = mesh.indices.size() / 3;
    return vertexWeights.size() == mesh.vertices.size() && cornerWeights.size() == mesh.indices.size()
        && faceTextured.size() == triangles && faceOuterMask.size() == triangles;
}

bool ProjectionTakesFace(const TriangleMesh& mesh, std::size_t t, const Projection& projection,
    std::uint8_t outerByte)
{
    const Vec3 normal = mesh.FaceNormal(t);
    // A face without area has no direction of its own; its corners' normals speak for it.
    if (IsZero(normal) || !IsFinite(normal))
        return true;
    return TakesFaceWith(mesh, t, normal, FaceNormalLean(mesh, t), projection, outerByte);
}

std::vector<std::uint8_t> FacesTakenAsThePartsFaces(const TriangleMesh& mesh, const TriangleMesh& part,
    const Projection& projection, std::span<const std::uint8_t> outerMask)
{
    if (!mesh.IsConsistent() || !part.IsConsistent() || part.TriangleCount() == 0)
        return {};
    AabbTree tree;
    tree.Build(part);
    std::vector<Vec3> partNormals(part.TriangleCount());
    ParallelFor(partNormals.size(), [&](std::size_t f) { partNormals[f] = part.FaceNormal(f); });
    const std::vector<std::uint8_t> outer = OuterMaskFor(mesh, outerMask);
    std::vector<std::uint8_t> taken(mesh.TriangleCount(), 0);
    ParallelFor(taken.size(), [&](std::size_t t) {
        const std::int32_t f = PartFaceOf(mesh, t, part, tree, partNormals);
        const bool takes = f < 0 ? ProjectionTakesFace(mesh, t, projection, outer[t])
                                 : TakesFaceWith(mesh, t, part.FaceNormal(static_cast<std::size_t>(f)),
                                       FaceNormalLean(part, static_cast<std::size_t>(f)), projection, outer[t]);
        taken[t] = takes ? 1 : 0;
    });
    return taken;
}

std::vector<std::uint8_t> FacesOnTheBed(const TriangleMesh& mesh, const BaseProtection& base)
{
    if (!base.enabled || !mesh.IsConsistent())
        return {};
    const std::int32_t axis = std::clamp(base.axis, 0, 2);
    const float plane = base.planeMillimetres;
    // The bed face lies on the plane to the float of this part's own coordinates: the
    // tolerance grows with the plane's coordinate and with the part's longest side.
    Vec3 low = mesh.boundsMin;
    Vec3 high = mesh.boundsMax;
    if (!mesh.boundsValid) {
        low = high = mesh.vertices.empty() ? Vec3{} : mesh.vertices.front().position;
        for (const MeshVertex& vertex : mesh.vertices) {
            const Vec3 p = vertex.position;
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
    }
    const Vec3 side = high - low;
    const float size = std::max({std::fabs(plane), side.x, side.y, side.z});
    const float tolerance = std::isfinite(size) ? std::max(kBedFaceTolerance, size * 1e-6f) : kBedFaceTolerance;
    const auto onPlane = [&](std::uint32_t v) {
        const Vec3 p = mesh.vertices[v].position;
        const float c = axis == 0 ? p.x : (axis == 1 ? p.y : p.z);
        return std::fabs(c - plane) <= tolerance;
    };
    std::vector<std::uint8_t> flags(mesh.TriangleCount(), 0);
    ParallelFor(flags.size(), [&](std::size_t t) {
        const std::uint32_t* corner = &mesh.indices[3 * t];
        flags[t] = onPlane(corner[0]) && onPlane(corner[1]) && onPlane(corner[2]) ? 1 : 0;
    });
    return flags;
}

std::vector<std::uint8_t> FacesKeptPlain(
    const TriangleMesh& mesh, const TextureWeights& weights, const BaseProtection& base)
{
    if (!weights.MatchesMesh(mesh) || !mesh.IsConsistent())
        return {};
    const std::vector<std::uint8_t> onTheBed = FacesOnTheBed(mesh, base);
    std::vector<std::uint8_t> flags(mesh.TriangleCount(), 0);
    ParallelFor(flags.size(), [&](std::size_t t) {
        const bool held = !onTheBed.empty() && onTheBed[t] != 0;
        flags[t] = weights.faceTextured[t] == 0 && !held ? 1 : 0;
    });
    if (std::none_of(flags.begin(), flags.end(), [](std::uint8_t flag) { return flag != 0; }))
        return {};
    return flags;
}

TextureWeights ComputeTextureWeights(const TriangleMesh& mesh, const Projection& projection,
    std::span<const std::uint8_t> outerMask, const DisplacementSettings& settings,
    const TileFrame& tileFrame, std::span<const MaskVolume> masks, std::span<const std::uint8_t> taken)
{
    if (mesh.vertices.empty() || !mesh.IsConsistent())
        return {};
    TextureWeights weights;
    weights.faceOuterMask = OuterMaskFor(mesh, outerMask);
    const std::vector<std::uint8_t> onTheBed = FacesOnTheBed(mesh, settings.base);
    if (taken.size() != mesh.TriangleCount())
        taken = {};
    WeighCorners(mesh, CornerInputs{projection, tileFrame, masks, onTheBed, taken}, weights);
    weights.vertexWeights = CombineCornerWeights(mesh, weights.cornerWeights, settings.outsideRule);
    return weights;
}

TextureWeights RemapTextureWeights(const TextureWeights& oldWeights, const TriangleMesh& oldMesh,
    const TriangleMesh& newMesh, std::span<const std::uint32_t> vertexMap, std::span<const std::uint32_t> faceMap)
{
    if (!CanRemap(oldWeights, oldMesh, newMesh, vertexMap, faceMap))
        return {};
    TextureWeights result;
    result.vertexWeights.resize(newMesh.vertices.size());
    ParallelFor(newMesh.vertices.size(), [&](std::size_t v) {
        result.vertexWeights[v] = OldVertexWeight(oldWeights, vertexMap[v]);
    });
    result.cornerWeights.resize(newMesh.indices.size());
    result.faceTextured.resize(newMesh.TriangleCount());
    result.faceOuterMask.resize(newMesh.TriangleCount());
    ParallelFor(newMesh.TriangleCount(), [&](std::size_t f) {
        RemapTriangle(oldWeights, oldMesh, newMesh, vertexMap, faceMap[f], f, result);
    });
    return result;
}

std::vector<std::uint8_t> FaceFlagsToMask(std::span<const std::uint8_t> flags)
{
    std::vector<std::uint8_t> mask(flags.size());
    std::transform(flags.begin(), flags.end(), mask.begin(),
        [](std::uint8_t flag) { return flag > 0 ? kOuter : kInner; });
    return mask;
}

FlaggedArea FlaggedAreaShare(const TriangleMesh& mesh, std::span<const std::uint8_t> flags)
{
    FlaggedArea result;
    result.faces = flags.size();
    if (flags.empty() || !mesh.IsConsistent())
        return result;
    const std::size_t measured = std::min(flags.size(), mesh.TriangleCount());
    for (std::size_t t = 0; t < measured; ++t) {
        const double area = UsableArea(mesh, t);
        result.totalArea += area;
        if (flags[t] != 0) {
            result.flaggedArea += area;
            ++result.flaggedFaces;
        }
    }
    return result;
}

std::string FormatTextureWeights(const TextureWeights& weights)
{
    const auto faces = std::count_if(weights.faceTextured.begin(), weights.faceTextured.end(),
        [](std::uint8_t textured) { return textured != 0; });
    std::size_t moving = 0;
    double sum = 0.0;
    for (float w : weights.vertexWeights) {
        if (w > 0.0f) {
            ++moving;
            sum += w;
        }
    }
    std::string text = FormatCountGrouped(faces) + " of " + FormatCountGrouped(weights.faceTextured.size())
        + " faces receive texture, " + FormatCountGrouped(moving) + " of "
        + FormatCountGrouped(weights.vertexWeights.size()) + " vertices will move";
    if (moving > 0)
        text += ", mean weight " + Fixed(sum / static_cast<double>(moving), 2);
    return text;
}

}  // namespace grainforge::mesh
