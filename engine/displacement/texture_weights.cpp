#include "engine/displacement/texture_weights.h"
#include "engine/mesh/report_text.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
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
    return (1.0f - MaskingAt(in.masks, vertex.position)) * coverage;
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

// What every triangle under one node of the part's tree shares, so that the search can turn
// whole nodes away: a cone round the unit axis[0] holding each normal that could pass the
// same-face test, and for a node of at most kBoxTriangles triangles a box along axis[0] and two
// axes across it (the first along the longest edge) holding every corner. The facets of a fan
// or a cone's side lie in thin wedges, which such a box follows where the tree's own boxes,
// square to the axes, hold far more. A cone of normals spread round half the sphere or more
// turns nothing away.
struct PartNodeBound {
    std::array<Vec3d, 3> axis{};
    double spread = 0.0;        // the cone's half angle, in radians
    double normalLimit = -2.0;  // a query normal whose cosine to axis[0] is below this passes none
    bool anyNormal = false;     // some triangle's normal could pass the test at all
    bool hasBox = false;
    std::array<double, 3> low{};
    std::array<double, 3> high{};
};

// Nodes of at most this many triangles get a box: each triangle is then read by a few nodes
// only, while the search meets few larger nodes once the nearest is near.
constexpr std::uint32_t kBoxTriangles = 64;
// The cosine the cone test keeps clear of kSameFaceCosine: far more than the float rounding
// of the normals and of their dot product.
constexpr double kConeMargin = 1e-4;
// The box test's margin, relative to the coordinates: far above the rounding of the distances
// the search measures in double.
constexpr double kBoxMargin = 1e-7;
constexpr double kPi = 3.14159265358979323846;
constexpr double kOpenCone = -2.0;

Vec3d WidenVec(Vec3 v) { return {v.x, v.y, v.z}; }
double DotD(Vec3d a, Vec3d b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double LengthD(Vec3d v) { return std::sqrt(DotD(v, v)); }
Vec3d ScaledD(Vec3d v, double s) { return {v.x * s, v.y * s, v.z * s}; }
Vec3d SumD(Vec3d a, Vec3d b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3d CrossD(Vec3d a, Vec3d b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// A normal shorter than this, or not finite, fails the same-face test against any unit normal.
bool CanPassSameFace(Vec3 normal)
{
    return IsFinite(normal) && Length(normal) >= 0.5f;
}

// The cosine below which a query normal lies more than the same-face angle outside a cone of
// half angle `spread`; kOpenCone when no normal does.
double NormalLimitOf(double spread)
{
    const double reach = spread + std::acos(static_cast<double>(kSameFaceCosine) - kConeMargin);
    return reach < kPi ? std::cos(reach) - kConeMargin : kOpenCone;
}

PartNodeBound OpenBound()
{
    PartNodeBound bound;
    bound.anyNormal = true;
    bound.spread = kPi;
    return bound;
}

// Two unit axes square to axis[0] and to each other, the first along `along` where it leaves
// axis[0] far enough to give a direction.
void CompleteAxes(PartNodeBound& bound, Vec3d along)
{
    const Vec3d a = bound.axis[0];
    Vec3d u = SumD(along, ScaledD(a, -DotD(a, along)));
    if (!(LengthD(u) > 1e-9 * LengthD(along)) || !(LengthD(u) > 0.0))
        u = std::fabs(a.x) < 0.6 ? CrossD(a, Vec3d{1.0, 0.0, 0.0}) : CrossD(a, Vec3d{0.0, 1.0, 0.0});
    bound.axis[1] = ScaledD(u, 1.0 / LengthD(u));
    const Vec3d v = CrossD(a, bound.axis[1]);
    bound.axis[2] = ScaledD(v, 1.0 / LengthD(v));
}

// The cone and box of the triangles at positions [first, end) of the tree's order.
PartNodeBound BoundTriangles(const TriangleMesh& part, const AabbTree& tree, std::span<const Vec3> partNormals,
    std::uint32_t first, std::uint32_t end)
{
    PartNodeBound bound;
    std::array<Vec3d, kBoxTriangles> normals;
    std::size_t count = 0;
    Vec3d sum;
    for (std::uint32_t position = first; position < end; ++position) {
        const Vec3 n = partNormals[tree.order[position]];
        if (!CanPassSameFace(n))
            continue;
        normals[count] = ScaledD(WidenVec(n), 1.0 / LengthD(WidenVec(n)));
        sum = SumD(sum, normals[count++]);
    }
    bound.anyNormal = count > 0;
    const double length = LengthD(sum);
    if (!bound.anyNormal || !(length > 1e-3))
        return bound.anyNormal ? OpenBound() : bound;
    bound.axis[0] = ScaledD(sum, 1.0 / length);
    double lowest = 1.0;
    for (std::size_t i = 0; i < count; ++i)
        lowest = std::min(lowest, DotD(bound.axis[0], normals[i]));
    bound.spread = std::acos(std::clamp(lowest, -1.0, 1.0));
    bound.normalLimit = NormalLimitOf(bound.spread);

    const auto corner = [&](std::uint32_t position, std::size_t k) {
        return WidenVec(part.vertices[part.indices[std::size_t{3} * tree.order[position] + k]].position);
    };
    Vec3d longest;
    for (std::uint32_t position = first; position < end; ++position)
        for (std::size_t k = 0; k < 3; ++k) {
            const Vec3d from = corner(position, k), to = corner(position, (k + 1) % 3);
            const Vec3d edge{to.x - from.x, to.y - from.y, to.z - from.z};
            if (DotD(edge, edge) > DotD(longest, longest))
                longest = edge;
        }
    CompleteAxes(bound, longest);
    bound.low.fill(std::numeric_limits<double>::infinity());
    bound.high.fill(-std::numeric_limits<double>::infinity());
    for (std::uint32_t position = first; position < end; ++position)
        for (std::size_t k = 0; k < 3; ++k)
            for (std::size_t a = 0; a < 3; ++a) {
                const double along = DotD(bound.axis[a], corner(position, k));
                bound.low[a] = std::min(bound.low[a], along);
                bound.high[a] = std::max(bound.high[a], along);
            }
    bound.hasBox = true;
    for (std::size_t a = 0; a < 3; ++a)
        bound.hasBox = bound.hasBox && std::isfinite(bound.low[a]) && std::isfinite(bound.high[a]);
    return bound;
}

// A box along `bound`'s axes holding both children's boxes, found from the corners of theirs.
// Looser than a box round the triangles themselves by the children's turn from the parent, but
// it costs the same for a node of any size, so the search can turn whole wedges of a large fan
// away high up instead of meeting every small node whose square box holds the point.
void HoldChildBoxes(PartNodeBound& bound, const PartNodeBound& left, const PartNodeBound& right)
{
    // The longest edges' direction has no sign of its own; the children's are made to agree.
    const Vec3d rightAlong = DotD(left.axis[1], right.axis[1]) < 0.0 ? ScaledD(right.axis[1], -1.0) : right.axis[1];
    CompleteAxes(bound, SumD(left.axis[1], rightAlong));
    bound.low.fill(std::numeric_limits<double>::infinity());
    bound.high.fill(-std::numeric_limits<double>::infinity());
    for (const PartNodeBound* child : {&left, &right})
        for (std::uint32_t corner = 0; corner < 8; ++corner) {
            Vec3d point;
            for (std::size_t a = 0; a < 3; ++a)
                point = SumD(point, ScaledD(child->axis[a], (corner >> a & 1u) != 0 ? child->high[a] : child->low[a]));
            for (std::size_t a = 0; a < 3; ++a) {
                const double along = DotD(bound.axis[a], point);
                bound.low[a] = std::min(bound.low[a], along);
                bound.high[a] = std::max(bound.high[a], along);
            }
        }
    bound.hasBox = true;
    for (std::size_t a = 0; a < 3; ++a)
        bound.hasBox = bound.hasBox && std::isfinite(bound.low[a]) && std::isfinite(bound.high[a]);
}

// The cone holding both children's cones, and where both have a box, a box holding both.
PartNodeBound JoinBounds(const PartNodeBound& left, const PartNodeBound& right)
{
    if (!left.anyNormal || !right.anyNormal) {
        PartNodeBound bound = left.anyNormal ? left : right;
        bound.hasBox = false;
        return bound;
    }
    const Vec3d sum = SumD(left.axis[0], right.axis[0]);
    const double length = LengthD(sum);
    if (left.normalLimit == kOpenCone || right.normalLimit == kOpenCone || !(length > 1e-3))
        return OpenBound();
    PartNodeBound bound;
    bound.anyNormal = true;
    bound.axis[0] = ScaledD(sum, 1.0 / length);
    for (const PartNodeBound* child : {&left, &right}) {
        const double apart = std::acos(std::clamp(DotD(bound.axis[0], child->axis[0]), -1.0, 1.0));
        bound.spread = std::max(bound.spread, apart + child->spread);
    }
    bound.normalLimit = NormalLimitOf(bound.spread);
    if (left.hasBox && right.hasBox)
        HoldChildBoxes(bound, left, right);
    return bound;
}

// The bound of every node of the part's tree. Nodes follow their parent in the array, so one
// pass from the back meets the children first.
std::vector<PartNodeBound> BoundPartNodes(const TriangleMesh& part, const AabbTree& tree,
    std::span<const Vec3> partNormals)
{
    const std::size_t nodes = tree.nodes.size();
    std::vector<std::uint32_t> first(nodes, 0), end(nodes, 0);
    const auto hasChildren = [&](std::size_t i) {
        return tree.nodes[i].count == 0 && tree.nodes[i].right > i + 1 && tree.nodes[i].right < nodes;
    };
    for (std::size_t i = nodes; i-- > 0;) {
        const AabbNode& node = tree.nodes[i];
        if (node.count != 0) {
            first[i] = node.first;
            end[i] = node.first + node.count;
        } else if (hasChildren(i)) {
            first[i] = first[i + 1];
            end[i] = end[node.right];
        }
    }
    const auto small = [&](std::size_t i) { return end[i] >= first[i] && end[i] - first[i] <= kBoxTriangles; };
    std::vector<PartNodeBound> bounds(nodes);
    ParallelFor(nodes, [&](std::size_t i) {
        if (small(i))
            bounds[i] = BoundTriangles(part, tree, partNormals, first[i], end[i]);
    });
    for (std::size_t i = nodes; i-- > 0;) {
        if (!small(i))
            bounds[i] = hasChildren(i) ? JoinBounds(bounds[i + 1], bounds[tree.nodes[i].right]) : OpenBound();
    }
    return bounds;
}

// Whether every triangle under a node fails the same-face test against the unit `normal`, or
// lies farther from `p` than the best distance so far.
bool NodeTurnedAway(const PartNodeBound& bound, Vec3d normal, Vec3d p, double bestSquared)
{
    if (!bound.anyNormal)
        return true;
    if (bound.normalLimit != kOpenCone && DotD(bound.axis[0], normal) < bound.normalLimit)
        return true;
    if (!bound.hasBox)
        return false;
    double gapSquared = 0.0;
    double scale = 0.0;
    for (std::size_t a = 0; a < 3; ++a) {
        const double along = DotD(bound.axis[a], p);
        const double gap = std::max({bound.low[a] - along, along - bound.high[a], 0.0});
        gapSquared += gap * gap;
        scale = std::max({scale, std::fabs(along), std::fabs(bound.low[a]), std::fabs(bound.high[a])});
    }
    const double margin = kBoxMargin * scale;
    const double gap = std::sqrt(gapSquared) - margin;
    return gap > 0.0 && gap * gap > bestSquared;
}

// The search looks first within this share of a triangle's longest edge, and widens by
// kReachGrowth until it finds the part's face clearly inside or has looked within the whole edge.
// Most centroids lie far closer to their face than the edge is long, and a short reach lets the
// fitted boxes turn away almost every node of a fine fan at once.
constexpr float kFirstReachShare = 1.0f / 64.0f;
constexpr float kReachGrowth = 8.0f;
// A hit counts as clearly inside a shorter reach when its distance is below this share of it:
// far beyond the float rounding of the tree's box distances and of the distance it gives back.
constexpr float kClearlyInside = 1.0f - 1e-4f;
// No shorter reach is tried below this share of the centroid's largest coordinate, where the
// rounding of the tree's float boxes could hide the nearest face.
constexpr float kShortestReachShare = 1e-5f;

// The triangle of `part` that triangle t of `mesh` was made from: the nearest to its centroid,
// within its longest edge, of those facing within kSameFaceCosine of it; -1 when none is.
// `partNormals` holds part.FaceNormal of each triangle. A part's facets that meet at a hub
// (a cone's apex, a fan) have boxes holding far more than their own surface, so the search
// visits many of them at every point; the plane test turns most of those away without
// measuring them. A search within a shorter reach visits the same nodes in the same order, less
// those whose every triangle lies beyond that reach; so a hit it finds clearly inside is the very
// triangle the search within the whole edge finds.
std::int32_t PartFaceOf(const TriangleMesh& mesh, std::size_t t, const TriangleMesh& part, const AabbTree& tree,
    std::span<const Vec3> partNormals, std::span<const PartNodeBound> nodeBounds)
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
    const Vec3d unitNormal = ScaledD(WidenVec(normal), 1.0 / LengthD(WidenVec(normal)));
    const auto skipTriangle = [&](std::uint32_t f) {
        return !(Dot(partNormals[f], normal) >= kSameFaceCosine)
            || (bounded && PlaneBeyondReach(part, f, centroid, reach));
    };
    const auto skipNode = [&](std::uint32_t node, double bestSquared) {
        return NodeTurnedAway(nodeBounds[node], unitNormal, WidenVec(centroid), bestSquared);
    };
    const auto search = [&](float within) {
        return tree.Nearest(part, centroid, {}, skipTriangle, within, nullptr, skipNode);
    };
    if (bounded) {
        const float shortest = kShortestReachShare
            * std::max({std::fabs(centroid.x), std::fabs(centroid.y), std::fabs(centroid.z)});
        for (float within = std::max(reach * kFirstReachShare, shortest); within < reach; within *= kReachGrowth) {
            const NearestHit hit = search(within);
            if (hit.found && hit.distance < within * kClearlyInside)
                return hit.triangle;
        }
    }
    const NearestHit hit = search(reach);
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
    const std::vector<PartNodeBound> nodeBounds = BoundPartNodes(part, tree, partNormals);
    const std::vector<std::uint8_t> outer = OuterMaskFor(mesh, outerMask);
    std::vector<std::uint8_t> taken(mesh.TriangleCount(), 0);
    ParallelFor(taken.size(), [&](std::size_t t) {
        const std::int32_t f = PartFaceOf(mesh, t, part, tree, partNormals, nodeBounds);
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
