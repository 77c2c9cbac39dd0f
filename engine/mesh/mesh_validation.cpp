#include "engine/mesh/mesh_validation.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/hash_partition.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kNoComponent = std::numeric_limits<std::uint32_t>::max();
// 4 x sqrt(3): the shape quality is 1 for an equilateral triangle.
constexpr float kQualityScale = 6.928203f;

// One edge of the edge map: its uses (counted up to 3, which already means non-manifold) and,
// for the first two uses, the triangle and whether it runs from the smaller to the larger index.
struct EdgeUse {
    EdgeKey key = 0;
    std::uint32_t triangles[2] = {0, 0};
    std::uint8_t uses = 0;
    std::uint8_t ascending[2] = {0, 0};
};

// Edge map keyed by EdgeKey. Edges are kept in order of first appearance, which is the order
// the later steps walk them in; the hash slots only point at them.
class EdgeMap {
public:
    explicit EdgeMap(std::size_t triangles)
        : slots_(std::bit_ceil(std::max<std::size_t>(4 * triangles, 16)), 0), mask_(slots_.size() - 1)
    {
        edges_.reserve(3 * triangles);
    }

    void Add(std::uint32_t from, std::uint32_t to, std::uint32_t triangle)
    {
        const EdgeKey key = MakeEdgeKey(from, to);
        EdgeUse& edge = Find(key);
        if (edge.uses < 2) {
            edge.triangles[edge.uses] = triangle;
            edge.ascending[edge.uses] = from < to ? 1 : 0;
        }
        if (edge.uses < 3)
            ++edge.uses;
    }

    const std::vector<EdgeUse>& Edges() const { return edges_; }

private:
    EdgeUse& Find(EdgeKey key)
    {
        std::size_t slot = detail::Mix64(key) & mask_;
        while (slots_[slot] != 0) {
            EdgeUse& edge = edges_[slots_[slot] - 1];
            if (edge.key == key)
                return edge;
            slot = (slot + 1) & mask_;
        }
        edges_.push_back(EdgeUse{key, {0, 0}, 0, {0, 0}});
        slots_[slot] = edges_.size();
        return edges_.back();
    }

    std::vector<std::size_t> slots_;  // edge position + 1; 0 marks an empty slot
    std::size_t mask_;
    std::vector<EdgeUse> edges_;
};

// Neighbours of each triangle across edges used by exactly two triangles: at most three, one
// per edge use.
struct Links {
    std::vector<std::uint32_t> neighbour;   // 3 per triangle
    std::vector<std::uint8_t> consistent;   // 3 per triangle: the two windings agree
    std::vector<std::uint8_t> count;        // per triangle

    explicit Links(std::size_t triangles) : neighbour(3 * triangles), consistent(3 * triangles), count(triangles) {}

    void Add(std::uint32_t t, std::uint32_t other, bool isConsistent)
    {
        const std::size_t slot = std::size_t{3} * t + count[t]++;
        neighbour[slot] = other;
        consistent[slot] = isConsistent ? 1 : 0;
    }
};

Vec3 Position(const TriangleMesh& mesh, std::size_t t, int corner)
{
    return mesh.vertices[mesh.indices[3 * t + corner]].position;
}

std::uint64_t CountUnreferencedVertices(const TriangleMesh& mesh)
{
    std::vector<bool> used(mesh.vertices.size(), false);
    for (std::uint32_t index : mesh.indices)
        used[index] = true;
    return static_cast<std::uint64_t>(std::count(used.begin(), used.end(), false));
}

// Steps 4 and 5: the edge map, then open and non-manifold segments, neighbour links and
// winding conflicts.
Links LinkTriangles(const TriangleMesh& mesh, ValidationReport& report)
{
    const std::size_t triangles = mesh.TriangleCount();
    EdgeMap map(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        const std::uint32_t* corner = mesh.indices.data() + 3 * t;
        const auto triangle = static_cast<std::uint32_t>(t);
        map.Add(corner[0], corner[1], triangle);
        map.Add(corner[1], corner[2], triangle);
        map.Add(corner[2], corner[0], triangle);
    }
    Links links(triangles);
    for (const EdgeUse& edge : map.Edges()) {
        const Vec3 smaller = mesh.vertices[edge.key >> 32].position;
        const Vec3 larger = mesh.vertices[edge.key & 0xffffffffu].position;
        if (edge.uses == 1) {
            report.openEdgeSegments.push_back(smaller);
            report.openEdgeSegments.push_back(larger);
        } else if (edge.uses >= 3) {
            report.nonManifoldEdgeSegments.push_back(smaller);
            report.nonManifoldEdgeSegments.push_back(larger);
        } else {
            const bool consistent = edge.ascending[0] != edge.ascending[1];
            links.Add(edge.triangles[0], edge.triangles[1], consistent);
            links.Add(edge.triangles[1], edge.triangles[0], consistent);
            if (!consistent)
                ++report.windingConflicts;
        }
    }
    return links;
}

// Signed volume of a component with the walk's flips applied, measured about a point of the
// component itself (BodyVolume): about the origin, or the middle of a part whose pieces lie far
// apart, a small piece far out loses its sign.
double ComponentVolume(const TriangleMesh& mesh, const std::vector<std::uint32_t>& members,
    const std::vector<std::uint8_t>& flip)
{
    BodyVolume body;
    for (std::uint32_t t : members) {
        const Vec3 a = Position(mesh, t, 0);
        Vec3 b = Position(mesh, t, 1);
        Vec3 c = Position(mesh, t, 2);
        if (flip[t])
            std::swap(b, c);
        body.Add(a, b, c);
    }
    return body.Volume();
}

// A closed, consistently wound body as the nesting test reads it: its component and its box.
struct ClosedBody {
    std::uint32_t component = 0;
    Vec3 low{};
    Vec3 high{};
};

Point3 PointOf(Vec3 v) { return {v.x, v.y, v.z}; }

float On(Vec3 v, int axis) { return axis == 0 ? v.x : (axis == 1 ? v.y : v.z); }

// Directions of the rays the nesting test casts, none along an axis or a diagonal, so that a ray
// seldom runs through an edge or a corner of the flat, grid-aligned faces most parts have.
constexpr double kRayDirections[3][3] = {
    {1.0, 0.3183098861837907, 0.1415926535897932},
    {-0.2718281828459045, 1.0, 0.5772156649015329},
    {0.4142135623730951, -0.7320508075688772, 1.0},
};
// Corners of the inner body tried, each with every direction, before the test gives up.
constexpr int kNestingCorners = 4;

// How the segment p-q meets the triangle, exactly: 1 it crosses the inside, 0 it misses, -1 it
// runs through an edge or a corner, ends on the triangle or lies in its plane (the parity count
// cannot use that ray).
int SegmentMeets(const Point3& p, const Point3& q, const Point3& a, const Point3& b, const Point3& c)
{
    const int sp = Orient3d(a, b, c, p);
    const int sq = Orient3d(a, b, c, q);
    if (sp == sq && sp != 0)
        return 0;
    if (sp == 0 && sq == 0)
        return -1;
    const int o1 = Orient3d(p, q, a, b);
    const int o2 = Orient3d(p, q, b, c);
    const int o3 = Orient3d(p, q, c, a);
    const bool positive = o1 > 0 || o2 > 0 || o3 > 0;
    const bool negative = o1 < 0 || o2 < 0 || o3 < 0;
    if (positive == negative)
        return positive ? 0 : -1;  // the line misses, or lies in the plane of a triangle without area
    if (sp != 0 && sq != 0 && o1 != 0 && o2 != 0 && o3 != 0)
        return 1;
    return -1;
}

// Whether `point` lies inside the closed body made of `triangles`, by the parity of the
// crossings of a ray, decided exactly: 1 inside, 0 outside, -1 when no ray of kRayDirections
// could be counted (the point on the body's surface, or every ray through an edge).
int InsideBody(const TriangleMesh& mesh, std::span<const std::uint32_t> triangles, const ClosedBody& body, Vec3 point)
{
    const Point3 p = PointOf(point);
    // Each direction's largest component is 1, so the far end lies beyond the body's box.
    double reach = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double low = On(body.low, axis);
        const double high = On(body.high, axis);
        reach = std::max({reach, std::fabs(p[axis] - low), std::fabs(p[axis] - high)});
    }
    const double length = 4.0 * reach + 1.0;
    for (const auto& direction : kRayDirections) {
        const Point3 q{p[0] + direction[0] * length, p[1] + direction[1] * length, p[2] + direction[2] * length};
        const Point3 low{std::min(p[0], q[0]), std::min(p[1], q[1]), std::min(p[2], q[2])};
        const Point3 high{std::max(p[0], q[0]), std::max(p[1], q[1]), std::max(p[2], q[2])};
        int crossings = 0;
        bool counted = true;
        for (const std::uint32_t t : triangles) {
            const Vec3 a = Position(mesh, t, 0);
            const Vec3 b = Position(mesh, t, 1);
            const Vec3 c = Position(mesh, t, 2);
            bool apart = false;
            for (int axis = 0; axis < 3 && !apart; ++axis) {
                const double lo = std::min({On(a, axis), On(b, axis), On(c, axis)});
                const double hi = std::max({On(a, axis), On(b, axis), On(c, axis)});
                apart = hi < low[axis] || lo > high[axis];
            }
            if (apart)
                continue;
            const int meets = SegmentMeets(p, q, PointOf(a), PointOf(b), PointOf(c));
            if (meets < 0) {
                counted = false;
                break;
            }
            crossings += meets;
        }
        if (counted)
            return crossings % 2;
    }
    return -1;
}

// Which closed bodies hold which: (held, holder) pairs of component numbers. A body counts as
// held when its box lies within the other's and a corner of it lies inside the other (tried at a
// few corners, one on the other's surface proving nothing). Bodies crossing each other are
// judged by the corner tried.
using HeldPairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

HeldPairs FindHeldPairs(const TriangleMesh& mesh, const std::vector<std::uint32_t>& component,
    std::uint32_t components, const std::vector<ClosedBody>& bodies)
{
    HeldPairs held;
    if (bodies.size() < 2)
        return held;
    // Held pairs are possible only where one box holds the other; sorted by the boxes' low x, the
    // bodies a box may hold are those whose low x lies in its own x range.
    std::vector<std::uint32_t> order(bodies.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return bodies[a].low.x < bodies[b].low.x; });
    const auto holdsBox = [](const ClosedBody& outer, const ClosedBody& inner) {
        return outer.low.x <= inner.low.x && outer.low.y <= inner.low.y && outer.low.z <= inner.low.z
            && inner.high.x <= outer.high.x && inner.high.y <= outer.high.y && inner.high.z <= outer.high.z;
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> candidates;  // (inner, outer)
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ClosedBody& outer = bodies[order[i]];
        const auto first = std::lower_bound(order.begin(), order.end(), outer.low.x,
            [&](std::uint32_t body, float x) { return bodies[body].low.x < x; });
        for (auto j = static_cast<std::size_t>(first - order.begin()); j < order.size() && bodies[order[j]].low.x <= outer.high.x; ++j)
            if (j != i && holdsBox(outer, bodies[order[j]]))
                candidates.emplace_back(order[j], order[i]);
    }
    if (candidates.empty())
        return held;
    // The triangles grouped by component.
    std::vector<std::uint32_t> start(components + 1, 0);
    for (const std::uint32_t c : component)
        ++start[c + 1];
    for (std::uint32_t c = 0; c < components; ++c)
        start[c + 1] += start[c];
    std::vector<std::uint32_t> grouped(component.size());
    {
        std::vector<std::uint32_t> cursor(start.begin(), start.end() - 1);
        for (std::size_t t = 0; t < component.size(); ++t)
            grouped[cursor[component[t]]++] = static_cast<std::uint32_t>(t);
    }
    const auto trianglesOf = [&](std::uint32_t c) {
        return std::span<const std::uint32_t>(grouped.data() + start[c], start[c + 1] - start[c]);
    };
    for (const auto& [inner, outer] : candidates) {
        const std::span<const std::uint32_t> innerTriangles = trianglesOf(bodies[inner].component);
        int inside = -1;
        for (int k = 0; k < kNestingCorners && inside < 0; ++k) {
            // Corners of triangles spread over the body.
            const std::size_t t = innerTriangles.size() * static_cast<std::size_t>(k) / kNestingCorners;
            inside = InsideBody(mesh, trianglesOf(bodies[outer].component), bodies[outer], Position(mesh, innerTriangles[t], k % 3));
        }
        if (inside == 1)
            held.emplace_back(bodies[inner].component, bodies[outer].component);
    }
    return held;
}

// Signed volume of a component's triangles as written.
double WrittenVolume(const TriangleMesh& mesh, std::span<const std::uint32_t> triangles)
{
    BodyVolume body;
    for (const std::uint32_t t : triangles)
        body.Add(Position(mesh, t, 0), Position(mesh, t, 1), Position(mesh, t, 2));
    return body.Volume();
}

// The nesting rule, the winding-number rule by which the contour remesh and a slicer that unites
// overlapping volumes read a part: a place is solid where the bodies round it, each counted +1
// facing outwards and -1 facing inwards as written, do not cancel. A nested body is a hollow when
// the place round it is solid and its inside is not; an insert when both are solid (it prints
// solid, whatever its winding); otherwise, like a body inside nothing, a solid that faces
// outwards. Returns, per component, whether it should face inwards, and lists the hollows and
// inserts in component order.
std::vector<std::uint8_t> ApplyNestingRule(const TriangleMesh& mesh, const std::vector<std::uint32_t>& component,
    std::uint32_t components, const std::vector<ClosedBody>& bodies, const HeldPairs& held, std::vector<NestedBody>& nested)
{
    std::vector<std::uint8_t> inwards(components, 0);
    if (held.empty())
        return inwards;
    std::vector<std::uint8_t> involved(components, 0);
    for (const auto& [inner, outer] : held)
        involved[inner] = involved[outer] = 1;
    std::vector<std::vector<std::uint32_t>> members(components);
    for (std::size_t t = 0; t < component.size(); ++t)
        if (involved[component[t]] != 0)
            members[component[t]].push_back(static_cast<std::uint32_t>(t));
    std::vector<std::int64_t> facing(components, 0);
    std::vector<double> volume(components, 0.0);
    for (std::size_t c = 0; c < components; ++c) {
        if (involved[c] == 0)
            continue;
        volume[c] = WrittenVolume(mesh, members[c]);
        facing[c] = volume[c] < 0.0 ? -1 : 1;
    }
    std::vector<std::int64_t> around(components, 0);
    std::vector<std::uint8_t> isHeld(components, 0);
    for (const auto& [inner, outer] : held) {
        around[inner] += facing[outer];
        isHeld[inner] = 1;
    }
    for (const ClosedBody& body : bodies) {
        const std::uint32_t c = body.component;
        if (isHeld[c] == 0 || around[c] == 0)
            continue;
        const NestedBodyRole role = around[c] + facing[c] == 0 ? NestedBodyRole::hollow : NestedBodyRole::insert;
        inwards[c] = role == NestedBodyRole::hollow ? 1 : 0;
        nested.push_back(NestedBody{role, body.low, body.high, std::fabs(volume[c])});
    }
    return inwards;
}

// Steps 6 to 8: components by breadth-first walks over the links, flips that make each
// component's windings agree, closed components turned to a positive volume, or to a negative
// one when the nesting rule takes them for a hollow.
void OrientComponents(const TriangleMesh& mesh, const Links& links, ValidationReport& report)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<std::uint32_t> component(triangles, kNoComponent);
    std::vector<std::uint8_t> flip(triangles, 0);
    std::vector<std::uint32_t> queue;
    std::vector<ClosedBody> closedBodies;
    std::uint32_t components = 0;
    for (std::size_t start = 0; start < triangles; ++start) {
        if (component[start] != kNoComponent)
            continue;
        const std::uint32_t number = components++;
        queue.clear();
        queue.push_back(static_cast<std::uint32_t>(start));
        component[start] = number;
        bool closed = true;
        bool consistent = true;
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const std::uint32_t current = queue[head];
            closed = closed && links.count[current] == 3;
            for (std::uint32_t k = 0; k < links.count[current]; ++k) {
                const std::uint32_t other = links.neighbour[std::size_t{3} * current + k];
                const std::uint8_t wanted = links.consistent[std::size_t{3} * current + k] ? flip[current] : !flip[current];
                if (component[other] == kNoComponent) {
                    component[other] = number;
                    flip[other] = wanted;
                    queue.push_back(other);
                } else if (flip[other] != wanted) {
                    report.orientable = false;
                    consistent = false;
                }
            }
        }
        // The queue now holds the whole component.
        if (closed && ComponentVolume(mesh, queue, flip) < 0.0) {
            for (std::uint32_t t : queue)
                flip[t] = !flip[t];
        }
        if (closed && consistent) {
            ClosedBody body{number, Position(mesh, queue[0], 0), Position(mesh, queue[0], 0)};
            bool finite = true;
            for (const std::uint32_t t : queue)
                for (int k = 0; k < 3; ++k) {
                    const Vec3 p = Position(mesh, t, k);
                    finite = finite && IsFinite(p);
                    body.low = {std::min(body.low.x, p.x), std::min(body.low.y, p.y), std::min(body.low.z, p.z)};
                    body.high = {std::max(body.high.x, p.x), std::max(body.high.y, p.y), std::max(body.high.z, p.z)};
                }
            if (finite)
                closedBodies.push_back(body);
        }
    }
    const HeldPairs held = FindHeldPairs(mesh, component, components, closedBodies);
    const std::vector<std::uint8_t> inwards =
        ApplyNestingRule(mesh, component, components, closedBodies, held, report.nestedBodies);
    for (std::size_t t = 0; t < triangles; ++t)
        flip[t] ^= inwards[component[t]];
    report.componentCount = components;
    report.triangleComponents = std::move(component);
    for (std::size_t t = 0; t < triangles; ++t) {
        if (!flip[t])
            continue;
        report.reversedTriangles.push_back(static_cast<std::uint32_t>(t));
        for (int k = 0; k < 3; ++k)
            report.reversedTriangleCorners.push_back(Position(mesh, t, k));
    }
}

// Closed components (every triangle linked across all three edges) whose volume, with the
// walk's windings, is that of a sheet; those only the rounding far out makes look so are
// counted apart, and the farthest of them named.
void CountBodiesWithoutVolume(const TriangleMesh& mesh, const Links& links, ValidationReport& report)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<BodyVolume> bodies(report.componentCount);
    std::vector<std::uint8_t> open(report.componentCount, 0);
    std::vector<std::uint8_t> flip(triangles, 0);
    for (const std::uint32_t t : report.reversedTriangles)
        flip[t] = 1;
    for (std::size_t t = 0; t < triangles; ++t) {
        const std::uint32_t component = report.triangleComponents[t];
        open[component] |= links.count[t] != 3 ? 1 : 0;
        const Vec3 a = Position(mesh, t, 0);
        const Vec3 b = Position(mesh, t, 1);
        const Vec3 c = Position(mesh, t, 2);
        if (flip[t])
            bodies[component].Add(a, c, b);
        else
            bodies[component].Add(a, b, c);
    }
    std::uint32_t farthest = kNoComponent;
    for (std::size_t component = 0; component < bodies.size(); ++component) {
        if (open[component] != 0 || !bodies[component].IsSheet())
            continue;
        if (!bodies[component].IsTooCoarseToTell()) {
            ++report.bodiesWithoutVolume;
            continue;
        }
        ++report.bodiesTooFarOut;
        if (farthest == kNoComponent || bodies[component].FloatStep() > bodies[farthest].FloatStep())
            farthest = static_cast<std::uint32_t>(component);
    }
    if (farthest == kNoComponent)
        return;
    report.farBodyStep = bodies[farthest].FloatStep();
    bool first = true;
    for (std::size_t t = 0; t < triangles; ++t) {
        if (report.triangleComponents[t] != farthest)
            continue;
        for (int k = 0; k < 3; ++k) {
            const Vec3 p = Position(mesh, t, k);
            report.farBodyMin = first ? p : Vec3{std::min(report.farBodyMin.x, p.x), std::min(report.farBodyMin.y, p.y),
                std::min(report.farBodyMin.z, p.z)};
            report.farBodyMax = first ? p : Vec3{std::max(report.farBodyMax.x, p.x), std::max(report.farBodyMax.y, p.y),
                std::max(report.farBodyMax.z, p.z)};
            first = false;
        }
    }
}

// 4 sqrt(3) area / sum of squared edge lengths, in float; 0 when the sum is 0.
float ShapeQuality(Vec3 a, Vec3 b, Vec3 c)
{
    const Vec3 ab = b - a;
    const Vec3 ac = c - a;
    const Vec3 bc = c - b;
    const Vec3 cross = Cross(ab, ac);
    const float sum = Dot(ab, ab) + Dot(bc, bc) + Dot(ac, ac);
    if (sum == 0.0f)
        return 0.0f;
    return 0.5f * std::sqrt(Dot(cross, cross)) * kQualityScale / sum;
}

void CountDegenerateAndSlivers(const TriangleMesh& mesh, const ValidationOptions& options, ValidationReport& report)
{
    const Vec3 zero{};
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 a = Position(mesh, t, 0);
        const Vec3 b = Position(mesh, t, 1);
        const Vec3 c = Position(mesh, t, 2);
        const float quality = ShapeQuality(a, b, c);
        if (!(quality > 0.0f) || mesh.FaceNormal(t) == zero) {
            ++report.degenerateTriangleCount;
            report.degenerateTriangleCorners.insert(report.degenerateTriangleCorners.end(), {a, b, c});
        } else if (options.sliverQualityLimit > quality) {
            ++report.sliverTriangleCount;
        }
    }
}

// "the 6.00 x 6.00 x 6.00 mm body at (0.00, 0.00, 0.00) mm, 216.00 cubic mm": its box's size and
// middle and the volume it encloses.
std::string DescribeNestedBody(const NestedBody& body)
{
    const Vec3 size = body.boxMax - body.boxMin;
    const Vec3 centre = body.boxMin * 0.5f + body.boxMax * 0.5f;
    return "the " + FormatSize3(size.x, size.y, size.z) + " body at (" + FormatFixed(centre.x, 2) + ", "
        + FormatFixed(centre.y, 2) + ", " + FormatFixed(centre.z, 2) + ") mm, " + FormatVolume(body.volume)
        + " cubic mm";
}

// The nested body of the role that encloses the most; the first of equals.
const NestedBody& LargestNestedBody(const std::vector<NestedBody>& bodies, NestedBodyRole role)
{
    const NestedBody* largest = nullptr;
    for (const NestedBody& body : bodies)
        if (body.role == role && (largest == nullptr || body.volume > largest->volume))
            largest = &body;
    return *largest;
}

// What a slicer and Repair make of closed bodies without volume, said of one body or of several:
// Repair keeps every body of the part, and no repair gives a surface a thickness.
std::string SheetBodiesNote(std::uint64_t sheets)
{
    if (sheets == 1)
        return "A slicer finds nothing inside it to fill, so it prints as nothing. Repair keeps it as a body of the "
               "part and cannot give it a thickness; that needs the modelling tool.";
    return "A slicer finds nothing inside them to fill, so they print as nothing. Repair keeps them as bodies of the "
           "part and cannot give them a thickness; that needs the modelling tool.";
}

// Repair removes repeated triangles, but a facet written in both windings on a sheet that
// encloses nothing has no outside to keep, and Repair leaves both of its copies.
std::string DuplicateTrianglesNote(bool sheets)
{
    if (!sheets)
        return "Repair removes them. Duplicates make edges look non-manifold and are displaced twice.";
    return "Repair removes them, but for a facet written in both windings on a sheet that encloses nothing: "
           "neither copy can be kept as its outside, so both stay. Duplicates make edges look non-manifold and "
           "are displaced twice.";
}

// What Repair does to the part's non-manifold edges: how many it parts when that was measured
// (`left` of `edges` stay), else its rule. An edge is left where no split leaves the surface
// closed, as where a wall meets a surface along it.
std::string NonManifoldRepairNote(std::uint64_t edges, const std::optional<std::uint64_t>& left)
{
    if (!left)
        return "Repair splits those where solids touch along an edge and the split leaves the surface closed; what "
               "it leaves needs fixing in the modelling tool.";
    if (*left == 0)
        return "Repair parts all of them.";
    if (*left >= edges)
        return std::string(PluralWord(edges, "Repair cannot part it", "Repair cannot part them"))
            + " without opening the surface, so that needs fixing in the modelling tool.";
    return "Repair parts " + FormatCountGrouped(edges - *left) + " of them; the other " + FormatCountGrouped(*left)
        + " it cannot part without opening the surface, so those need fixing in the modelling tool.";
}

// What Repair does to the part's open edges: its rule, or, once it ran on this part and left
// them all, that it closed what it could (a note sending the user back to the Repair that just
// declined them would go round in a circle).
std::string OpenEdgeRepairNote(std::uint64_t edges, const std::optional<std::uint64_t>& left)
{
    if (left && *left >= edges)
        return "Repair has closed what it could of them; the rest need closing in the modelling tool.";
    return "Repair closes small gaps where triangles are missing; holes in the design are surfaces of their own "
           "and are not touched.";
}

// Records a problem; errors make the verdict Unsuitable, warnings at least UsableWithCare.
void AddProblem(ValidationReport& report, bool error, std::string line, std::string note)
{
    if (error)
        report.verdict = Verdict::Unsuitable;
    else if (report.verdict != Verdict::Unsuitable)
        report.verdict = Verdict::UsableWithCare;
    report.problems.push_back(std::move(line));
    report.notes.push_back(std::move(note));
}

void AddProblems(const ValidationOptions& options, ValidationReport& report)
{
    const EdgeCounts& edges = report.edgeCounts;
    if (edges.nonManifold > 0)
        AddProblem(report, true, FormatCountOf(edges.nonManifold, "edge is", "edges are") + " shared by more than two triangles.",
            "Displacement moves each vertex along one normal, and a branching edge has no single surface to be "
            "normal to. " + NonManifoldRepairNote(edges.nonManifold, options.nonManifoldEdgesRepairLeaves));
    if (!report.orientable)
        AddProblem(report, true, "The surface cannot be given a consistent inside and outside.",
            "No arrangement of face windings works everywhere on this mesh, so outward displacement is not "
            "defined. This needs fixing in the modelling tool.");
    if (report.degenerateTriangleCount > 0)
        AddProblem(report, false, FormatCountOf(report.degenerateTriangleCount, "triangle encloses", "triangles enclose") + " no area.",
            "Repair removes them. They contribute nothing and break normal calculation.");
    if (report.windingConflicts > 0)
        AddProblem(report, false,
            FormatCountOf(WrongWayTriangleCount(report), "triangle is", "triangles are") + " wound the wrong way round.",
            "Repair reorients them. Left alone, displacement pushes them inwards while their neighbours move "
            "outwards.");
    else if (WrongWayTriangleCount(report) > 0 && !report.insideOut)
        AddProblem(report, false,
            FormatCountOf(WrongWayTriangleCount(report), "triangle is", "triangles are") + " wound the wrong way round.",
            "A body faces inwards where it can be no hollow: nothing solid lies round it, or solid lies on both "
            "sides of it. Repair flips it. Left alone, outward "
            "displacement would carve into it.");
    if (const std::uint64_t inserts = CountNestedBodies(report.nestedBodies, NestedBodyRole::insert); inserts > 0)
        AddProblem(report, false,
            FormatCountOf(inserts, "closed body lies inside another with solid on both sides of it, so it prints",
                "closed bodies lie inside others with solid on both sides of them, so they print")
                + " solid, not as " + std::string(PluralWord(inserts, "a hollow: ", "hollows: the largest is "))
                + DescribeNestedBody(LargestNestedBody(report.nestedBodies, NestedBodyRole::insert)) + ".",
            "Solid lies round it and inside it, as exports of overlapping solids write an insert, and a slicer "
            "fills it. Repair, Process and Save STL keep it solid; a hollow faces against the body round it, "
            "which the modelling tool can do.");
    if (report.insideOut)
        AddProblem(report, false, "The mesh is inside out: its normals point inwards.",
            "Repair flips it. Left alone, outward displacement would carve into the model.");
    if (edges.boundary > 0)
        AddProblem(report, false, FormatCountOf(edges.boundary, "edge is", "edges are") + " open: the mesh is not a closed solid.",
            "Displacement still works, but the open border moves with the surface and the result may not be "
            "watertight enough to slice. " + OpenEdgeRepairNote(edges.boundary, options.openEdgesRepairLeft));
    if (report.duplicateTriangleCount > 0)
        AddProblem(report, false,
            FormatCountOf(report.duplicateTriangleCount, "triangle repeats", "triangles repeat") + " the same three corners.",
            DuplicateTrianglesNote(report.bodiesWithoutVolume > 0));
    if (report.bodiesWithoutVolume > 0)
        AddProblem(report, false,
            FormatCountOf(report.bodiesWithoutVolume, "closed body encloses", "closed bodies enclose") + " no volume: "
                + std::string(PluralWord(report.bodiesWithoutVolume, "it is a sheet, not a solid.", "they are sheets, not solids.")),
            SheetBodiesNote(report.bodiesWithoutVolume));
    if (report.bodiesTooFarOut > 0) {
        const Vec3 size = report.farBodyMax - report.farBodyMin;
        const Vec3 centre = report.farBodyMin * 0.5f + report.farBodyMax * 0.5f;
        AddProblem(report, false,
            FormatCountOf(report.bodiesTooFarOut, "closed body lies", "closed bodies lie")
                + " too far out to tell a solid from a sheet: the " + FormatSize3(size.x, size.y, size.z)
                + " body at (" + FormatFixed(centre.x, 0) + ", " + FormatFixed(centre.y, 0) + ", "
                + FormatFixed(centre.z, 0) + ") mm, where a coordinate steps by " + FormatFixed(report.farBodyStep, 2)
                + " mm.",
            "Its volume is no larger than the rounding of its corners there could give a sheet. Moved nearer the "
            "origin in the modelling tool, it keeps its shape to the digit.");
    }
    if (report.sliverTriangleCount > 0 && !options.displacedResult)
        AddProblem(report, false, FormatCountOf(report.sliverTriangleCount, "triangle is a sliver.", "triangles are slivers."),
            "Their corners share almost the same normal, so displacement barely separates them. Remeshing before "
            "displacement gives a better result.");
    if (report.selfIntersectingTriangleCount > 0 && options.displacedResult)
        AddProblem(report, false,
            FormatCountOf(report.selfIntersectingTriangleCount, "triangle passes", "triangles pass") + " through others.",
            "Where the relief folded or met itself. Save STL's \"Fix self-intersections\" resolves them when the "
            "file is written, and its report says if any are left.");
    if (report.selfIntersectingTriangleCount > 0 && !options.displacedResult)
        AddProblem(report, false,
            FormatCountOf(report.selfIntersectingTriangleCount, "triangle already passes", "triangles already pass") + " through others.",
            "The model is printable only if the slicer resolves this. Displacement will not improve it and may "
            "make it worse.");
    if (report.unreferencedVertexCount > 0)
        AddProblem(report, false,
            FormatCountOf(report.unreferencedVertexCount, "vertex belongs", "vertices belong") + " to no triangle.",
            "Repair drops them. They are harmless but inflate the file.");
    if (report.selfIntersectionSearchStopped)
        report.notes.push_back("The self-intersection search was stopped early on this mesh, so that result is unknown.");
    // A hollow is no problem, but what was made of it is said, as Repair and the check say it.
    if (const std::string hollows = FormatNestedBodies(report.nestedBodies, NestedBodyRole::hollow); !hollows.empty())
        report.notes.push_back(hollows + ".");
}

// printf's "%.4f" in the C locale, whatever the process locale, without a signed zero.
std::string FormatFixed4(double value) { return FormatFixed(value, 4); }

std::string YesNo(bool value)
{
    return value ? "yes" : "no";
}

}  // namespace

void BodyVolume::Add(Vec3 a, Vec3 b, Vec3 c)
{
    if (!started_) {
        origin_ = a;
        low_ = high_ = a;
        started_ = true;
    }
    for (const Vec3 v : {a, b, c}) {
        low_ = {std::min(low_.x, v.x), std::min(low_.y, v.y), std::min(low_.z, v.z)};
        high_ = {std::max(high_.x, v.x), std::max(high_.y, v.y), std::max(high_.z, v.z)};
    }
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
        const Vec3 v = k == 0 ? a : (k == 1 ? b : c);
        p[k][0] = static_cast<double>(v.x) - origin_.x;
        p[k][1] = static_cast<double>(v.y) - origin_.y;
        p[k][2] = static_cast<double>(v.z) - origin_.z;
        reach_ = std::max({reach_, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    }
    const auto cross = [](const double* u, const double* v, double* out) {
        out[0] = u[1] * v[2] - u[2] * v[1];
        out[1] = u[2] * v[0] - u[0] * v[2];
        out[2] = u[0] * v[1] - u[1] * v[0];
    };
    sixfoldVolume_ += TetrahedronVolume6(a, b, c, origin_);
    const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    double n[3];
    cross(e1, e2, n);
    twiceArea_ += std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

double BodyVolume::FloatStep() const
{
    return static_cast<double>(std::nextafter(reach_, std::numeric_limits<float>::infinity()) - reach_);
}

bool BodyVolume::IsSheet() const
{
    const double thickness = std::max(kSheetThicknessMillimetres, 2.0 * FloatStep());
    // Twice the volume against the area, on both sides multiplied out: no division by an area
    // of 0.
    return 2.0 * std::fabs(Volume()) <= thickness * Area();
}

bool BodyVolume::IsTooCoarseToTell() const
{
    constexpr double kSolidShareOfBox = 0.1;  // a cube fills all its box, a tetrahedron a sixth
    const double box = (static_cast<double>(high_.x) - low_.x) * (static_cast<double>(high_.y) - low_.y)
        * (static_cast<double>(high_.z) - low_.z);
    const double volume = std::fabs(Volume());
    return IsSheet() && 2.0 * volume > kSheetThicknessMillimetres * Area() && volume >= kSolidShareOfBox * box;
}

ValidationReport ValidateMesh(const TriangleMesh& mesh, const ValidationOptions& options)
{
    ValidationReport report;
    if (!mesh.IsConsistent()) {
        report.verdict = Verdict::Unsuitable;
        report.problems.push_back("The mesh has indices that do not refer to a vertex.");
        return report;
    }
    report.triangleCount = mesh.TriangleCount();
    report.vertexCount = mesh.vertices.size();
    report.edgeCounts = CountEdges(mesh);
    report.duplicateTriangleCount = CountDuplicateTriangles(mesh);
    if (report.triangleCount == 0) {
        report.verdict = Verdict::Unsuitable;
        report.problems.push_back("The mesh contains no triangles.");
        return report;
    }
    report.unreferencedVertexCount = CountUnreferencedVertices(mesh);
    const Links links = LinkTriangles(mesh, report);
    OrientComponents(mesh, links, report);
    CountBodiesWithoutVolume(mesh, links, report);
    CountDegenerateAndSlivers(mesh, options, report);
    report.signedVolume = mesh.Volume();
    report.closed = report.edgeCounts.boundary == 0 && report.edgeCounts.nonManifold == 0;
    report.insideOut =
        report.closed && report.orientable && report.windingConflicts == 0 && report.signedVolume < 0.0f;
    if (options.checkSelfIntersections)
        CheckSelfIntersections(mesh, options, report);
    AddProblems(options, report);
    return report;
}

ValidationReport ValidateAsWritten(const TriangleMesh& mesh, const ValidationOptions& options)
{
    if (!HasCoincidentVertices(mesh))
        return ValidateMesh(mesh, options);
    TriangleMesh welded = mesh;
    (void)WeldIdenticalVertices(welded);
    return ValidateMesh(welded, options);
}

ValidationReport FindWrongWayTriangles(const TriangleMesh& mesh)
{
    ValidationReport report;
    if (!mesh.IsConsistent() || mesh.TriangleCount() == 0)
        return report;
    const Links links = LinkTriangles(mesh, report);
    OrientComponents(mesh, links, report);
    return report;
}

std::vector<NestedBody> FindNestedBodies(const TriangleMesh& mesh)
{
    return FindWrongWayTriangles(mesh).nestedBodies;
}

std::uint64_t CountNestedBodies(const std::vector<NestedBody>& bodies, NestedBodyRole role)
{
    return static_cast<std::uint64_t>(
        std::count_if(bodies.begin(), bodies.end(), [role](const NestedBody& body) { return body.role == role; }));
}

std::string FormatNestedBodies(const std::vector<NestedBody>& bodies, NestedBodyRole role)
{
    const std::uint64_t count = CountNestedBodies(bodies, role);
    if (count == 0)
        return {};
    const bool insert = role == NestedBodyRole::insert;
    return FormatCountOf(count, "body inside another is", "bodies inside others are")
        + (insert ? " kept solid, as " + std::string(PluralWord(count, "an insert", "inserts"))
                  : " kept as " + std::string(PluralWord(count, "a hollow", "hollows")))
        + (count == 1 ? ": " : "; the largest: ") + DescribeNestedBody(LargestNestedBody(bodies, role));
}

std::uint64_t WrongWayTriangleCount(const ValidationReport& report)
{
    return report.reversedTriangles.size();
}

std::string VerdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Good:
        return "Good";
    case Verdict::UsableWithCare:
        return "Usable with care";
    case Verdict::Unsuitable:
        return "Unsuitable";
    }
    return "Unknown";
}

std::string FormatUnsuitableCauses(const ValidationReport& report)
{
    if (report.verdict != Verdict::Unsuitable || report.problems.empty())
        return {};
    // The errors are added first (AddProblems), and a mesh refused at the start has one problem.
    const std::size_t errors = std::max<std::size_t>(
        (report.edgeCounts.nonManifold > 0 ? 1 : 0) + (report.orientable ? 0 : 1), 1);
    std::string text;
    for (std::size_t i = 0; i < std::min(errors, report.problems.size()); ++i)
        text += (text.empty() ? "" : " ") + report.problems[i];
    return text;
}

std::string VerdictHeadline(const ValidationReport& report)
{
    std::string text = VerdictText(report.verdict);
    const std::size_t problems = report.problems.size();
    if (problems == 0)
        return text + ": no problems found.";
    return text + ": " + FormatCountOf(problems, "problem", "problems") + " found.";
}

std::string FormatSelfIntersectingCount(const ValidationReport& report)
{
    if (report.selfIntersectionSearchStopped)
        return "search stopped early";
    if (!report.selfIntersectionsChecked)
        return "not checked";
    return FormatCountGrouped(report.selfIntersectingTriangleCount);
}

std::string FormatValidationReport(const ValidationReport& report)
{
    std::string text = "Verdict: " + VerdictHeadline(report) + "\n";
    auto line = [&](const char* label, std::uint64_t count) { text += label + FormatCountGrouped(count) + "\n"; };
    line("Triangles: ", report.triangleCount);
    line("Vertices: ", report.vertexCount);
    line("Components: ", report.componentCount);
    text += "Closed: " + YesNo(report.closed) + "\n";
    text += "Orientable: " + YesNo(report.orientable) + "\n";
    line("Open boundary edges: ", report.edgeCounts.boundary);
    line("Non-manifold edges: ", report.edgeCounts.nonManifold);
    line("Reversed triangles: ", report.reversedTriangles.size());
    line("Duplicate triangles: ", report.duplicateTriangleCount);
    line("Degenerate triangles: ", report.degenerateTriangleCount);
    line("Sliver triangles: ", report.sliverTriangleCount);
    line("Unreferenced vertices: ", report.unreferencedVertexCount);
    text += "Self-intersecting triangles: " + FormatSelfIntersectingCount(report) + "\n";
    text += "Signed volume: " + FormatFixed4(static_cast<double>(report.signedVolume)) + " cubic mm"
        + (report.insideOut ? " (inside out)" : "") + "\n";
    if (!report.problems.empty()) {
        for (std::size_t i = 0; i < report.problems.size(); ++i) {
            text += "\nProblem: " + report.problems[i] + "\n";
            if (i < report.notes.size())
                text += "  " + report.notes[i] + "\n";
        }
    } else {
        for (const std::string& note : report.notes)
            text += "\nNote: " + note + "\n";
    }
    return text;
}

}  // namespace grainforge::mesh
