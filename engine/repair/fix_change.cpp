#include "engine/repair/fix_change.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/label_vote.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr float kHuge = std::numeric_limits<float>::max();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// A thickness ray starts this share of the way from its point towards the triangle's centre, so
// that from a corner or an edge it leaves through the triangle and not along a neighbour, and
// this far inside, so that the triangle it leaves is behind it; both far below a print line.
constexpr float kIntoTriangle = 1e-3f;
constexpr float kRayStartDepth = 1e-4f;

struct Body {
    Vec3 low{kHuge, kHuge, kHuge};
    Vec3 high{-kHuge, -kHuge, -kHuge};
    BodyVolume volume;
    bool open = false;
};

float Axis(Vec3 v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
Vec3 Min(Vec3 a, Vec3 b) { return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)}; }
Vec3 Max(Vec3 a, Vec3 b) { return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}; }
double LengthOf(Vec3 v) { return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z); }

using PositionKey = std::array<std::uint32_t, 3>;
struct KeyHash {
    std::size_t operator()(const PositionKey& k) const
    {
        return (std::size_t{k[0]} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{k[1]} * 0xC2B2AE3D27D4EB4Full) ^ k[2];
    }
};
using PositionMap = std::unordered_map<PositionKey, std::uint32_t, KeyHash>;

// A position by its bits, -0 as +0: a file keeps positions, not vertex numbers.
PositionKey KeyOf(Vec3 p)
{
    PositionKey key{};
    const float c[3] = {p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
    std::memcpy(key.data(), c, sizeof c);
    return key;
}

// Per vertex, the first vertex at its position; `first` receives each position's number.
std::vector<std::uint32_t> WeldedVertexIds(const TriangleMesh& mesh, PositionMap& first)
{
    first.reserve(mesh.vertices.size());
    std::vector<std::uint32_t> ids(mesh.vertices.size());
    for (std::size_t v = 0; v < ids.size(); ++v)
        ids[v] = first.try_emplace(KeyOf(mesh.vertices[v].position), static_cast<std::uint32_t>(v)).first->second;
    return ids;
}

// The body of every triangle, numbered from 0 in order of first triangle.
std::vector<std::uint32_t> BodyOfTriangles(const TriangleMesh& mesh, const std::vector<std::uint32_t>& ids,
                                           std::uint32_t& bodyCount)
{
    std::vector<std::uint32_t> parent(ids.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const auto root = [&parent](std::uint32_t v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    };
    for (std::size_t c = 0; c < mesh.indices.size(); c += 3) {
        const std::uint32_t a = root(ids[mesh.indices[c]]);
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t b = root(ids[mesh.indices[c + k]]);
            if (a != b)
                parent[b] = a;
        }
    }
    std::vector<std::uint32_t> number(ids.size(), kNone);
    std::vector<std::uint32_t> body(mesh.TriangleCount());
    bodyCount = 0;
    for (std::size_t t = 0; t < body.size(); ++t) {
        std::uint32_t& n = number[root(ids[mesh.indices[3 * t]])];
        if (n == kNone)
            n = bodyCount++;
        body[t] = n;
    }
    return body;
}

// Marks the bodies holding an edge used by one triangle only.
void MarkOpenBodies(const TriangleMesh& mesh, const std::vector<std::uint32_t>& ids,
                    const std::vector<std::uint32_t>& bodyOf, std::vector<Body>& bodies)
{
    std::vector<std::pair<EdgeKey, std::uint32_t>> edges;
    edges.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k)
            edges.emplace_back(MakeEdgeKey(ids[mesh.indices[3 * t + k]], ids[mesh.indices[3 * t + (k + 1) % 3]]),
                               bodyOf[t]);
    std::sort(edges.begin(), edges.end());
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i + 1;
        while (j < edges.size() && edges[j].first == edges[i].first)
            ++j;
        if (j - i == 1)
            bodies[edges[i].second].open = true;
        i = j;
    }
}

// The corners taken by position, the body of every triangle, and the bodies.
struct Labelled {
    PositionMap positions;
    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> bodyOf;
    std::vector<Body> bodies;
    std::vector<std::uint8_t> repeated;  // per triangle: RepeatedTriangles
};

// Per triangle, whether it repeats an earlier one over the same corner positions wound the same
// way: a surface written twice encloses what it encloses once, and taking the copy away changes
// nothing of the part.
std::vector<std::uint8_t> RepeatedTriangles(const TriangleMesh& mesh, const std::vector<std::uint32_t>& ids)
{
    std::vector<std::pair<std::array<std::uint32_t, 3>, std::uint32_t>> keys(mesh.TriangleCount());
    for (std::size_t t = 0; t < keys.size(); ++t) {
        std::array<std::uint32_t, 3> c{ids[mesh.indices[3 * t]], ids[mesh.indices[3 * t + 1]], ids[mesh.indices[3 * t + 2]]};
        // Turned so that the lowest corner comes first, keeping the winding.
        std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
        keys[t] = {c, static_cast<std::uint32_t>(t)};
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::uint8_t> repeated(keys.size(), 0);
    for (std::size_t i = 1; i < keys.size(); ++i)
        if (keys[i].first == keys[i - 1].first)
            repeated[keys[i].second] = 1;
    return repeated;
}

Labelled LabelBodies(const TriangleMesh& mesh)
{
    Labelled l;
    l.ids = WeldedVertexIds(mesh, l.positions);
    std::uint32_t count = 0;
    l.bodyOf = BodyOfTriangles(mesh, l.ids, count);
    l.bodies.resize(count);
    l.repeated = RepeatedTriangles(mesh, l.ids);
    for (std::size_t t = 0; t < l.bodyOf.size(); ++t) {
        Body& body = l.bodies[l.bodyOf[t]];
        Vec3 corner[3];
        for (int k = 0; k < 3; ++k) {
            corner[k] = mesh.vertices[mesh.indices[3 * t + k]].position;
            body.low = Min(body.low, corner[k]);
            body.high = Max(body.high, corner[k]);
        }
        if (l.repeated[t] == 0)
            body.volume.Add(corner[0], corner[1], corner[2]);
    }
    MarkOpenBodies(mesh, l.ids, l.bodyOf, l.bodies);
    return l;
}

// What the bodies after the fixes that match one body before add up to.
struct Matched {
    std::uint64_t pieces = 0;
    Vec3 low{kHuge, kHuge, kHuge};
    Vec3 high{-kHuge, -kHuge, -kHuge};
    double volume = 0.0;
    bool open = false;
};

// All bodies as one: their box, volumes summed, open when one is.
std::vector<Matched> AsWhole(const std::vector<Body>& bodies)
{
    Matched whole;
    for (const Body& b : bodies) {
        ++whole.pieces;
        whole.low = Min(whole.low, b.low);
        whole.high = Max(whole.high, b.high);
        whole.volume += b.volume.Volume();
        whole.open = whole.open || b.open;
    }
    return {whole};
}

std::vector<Matched> AsMatched(const std::vector<Body>& bodies)
{
    std::vector<Matched> all(bodies.size());
    for (std::size_t b = 0; b < bodies.size(); ++b)
        all[b] = {1, bodies[b].low, bodies[b].high, bodies[b].volume.Volume(), bodies[b].open};
    return all;
}

// How much two boxes overlap: per axis the shared length over the spanned length (1 for two
// flat extents at one coordinate), multiplied over the axes.
double BoxOverlap(const Matched& a, const Matched& b)
{
    double overlap = 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double low = std::max(Axis(a.low, axis), Axis(b.low, axis));
        const double high = std::min(Axis(a.high, axis), Axis(b.high, axis));
        const double span = double(std::max(Axis(a.high, axis), Axis(b.high, axis)))
            - std::min(Axis(a.low, axis), Axis(b.low, axis));
        if (high < low)
            return 0.0;
        overlap *= span > 0.0 ? (high - low) / span : 1.0;
    }
    return overlap;
}

std::uint32_t BestOverlap(const Matched& piece, const std::vector<Matched>& before)
{
    double best = 0.0;
    std::uint32_t bestBody = kNone;
    for (std::size_t b = 0; b < before.size(); ++b) {
        const double overlap = BoxOverlap(piece, before[b]);
        if (overlap > best) {
            best = overlap;
            bestBody = static_cast<std::uint32_t>(b);
        }
    }
    return bestBody;
}

void AddPiece(const Matched& piece, Matched& m)
{
    ++m.pieces;
    m.low = Min(m.low, piece.low);
    m.high = Max(m.high, piece.high);
    m.volume += piece.volume;
    m.open = m.open || piece.open;
}

void MeasureBox(const Matched& body, const Matched& m, FixChangeReport& report)
{
    for (int axis = 0; axis < 3; ++axis) {
        const float size = Axis(body.high, axis) - Axis(body.low, axis);
        const float move = std::max(std::abs(Axis(m.low, axis) - Axis(body.low, axis)),
                                    std::abs(Axis(m.high, axis) - Axis(body.high, axis)));
        // A body flat along an axis has no size there to measure against: any move is all of it.
        const float share = size > 0.0f ? move / size : (move > 0.0f ? 1.0f : 0.0f);
        if (share > report.largestBoxShare) {
            report.largestBoxShare = share;
            report.boxMoveMillimetres = move;
            report.boxSizeMillimetres = size;
            report.boxAxis = axis;
        }
    }
}

void RecordVolume(double before, double after, Vec3 low, Vec3 high, FixChangeReport& report)
{
    if (before == 0.0)
        return;
    const auto share = static_cast<float>(std::abs(after - before) / std::abs(before));
    if (share > report.largestVolumeShare) {
        report.largestVolumeShare = share;
        report.volumeBefore = before;
        report.volumeAfter = after;
        report.volumeLow = low;
        report.volumeHigh = high;
    }
}

void MeasureVolume(const Matched& body, const Matched& m, FixChangeReport& report)
{
    if (body.open || m.open)
        return;
    RecordVolume(body.volume, m.volume, body.low, body.high, report);
}

// A body's size as relaxing takes it, against which a corner's distance is judged: the smallest
// side of its box, the smallest longer than 0 for a flat body; 0 for a body that is one point.
float SmallestSide(const Matched& body)
{
    float smallest = 0.0f;
    for (const float side : {body.high.x - body.low.x, body.high.y - body.low.y, body.high.z - body.low.z})
        if (side > 0.0f && (smallest == 0.0f || side < smallest))
            smallest = side;
    return smallest;
}

// Where the fixes parted a closed body into closed pieces, each piece against the part's
// triangles it holds. The body's triangles fall into shells, joined across edges that two of
// them use (not across an edge three or more share, where the fixes part it), and each shell
// goes to the piece holding most of its corners' positions. A piece is measured only when the
// triangles it holds close up (every edge used an even number of times), so that their volume
// means something.
void MeasurePartedVolumes(const TriangleMesh& part, const Labelled& labels, const TriangleMesh& after,
                          const Labelled& pieces, const std::vector<std::uint32_t>& bodyOfPiece,
                          const std::vector<Matched>& before, const std::vector<Matched>& matched,
                          FixChangeReport& report)
{
    std::vector<std::uint8_t> parted(before.size(), 0);
    bool any = false;
    for (std::size_t b = 0; b < before.size(); ++b) {
        parted[b] = static_cast<std::uint8_t>(matched[b].pieces >= 2 && !matched[b].open && !before[b].open);
        any = any || parted[b] != 0;
    }
    if (!any)
        return;
    const auto inParted = [&](std::size_t t) { return parted[labels.bodyOf[t]] != 0; };
    const auto edgeOf = [&](std::size_t t, int k) {
        return MakeEdgeKey(labels.ids[part.indices[3 * t + k]], labels.ids[part.indices[3 * t + (k + 1) % 3]]);
    };
    std::vector<std::pair<EdgeKey, std::uint32_t>> edges;
    for (std::size_t t = 0; t < part.TriangleCount(); ++t)
        if (inParted(t))
            for (int k = 0; k < 3; ++k)
                edges.emplace_back(edgeOf(t, k), static_cast<std::uint32_t>(t));
    std::sort(edges.begin(), edges.end());
    std::vector<std::uint32_t> shell(part.TriangleCount());
    std::iota(shell.begin(), shell.end(), 0u);
    const auto root = [&shell](std::uint32_t t) {
        while (shell[t] != t)
            t = shell[t] = shell[shell[t]];
        return t;
    };
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i + 1;
        while (j < edges.size() && edges[j].first == edges[i].first)
            ++j;
        if (j - i == 2)
            shell[root(edges[i + 1].second)] = root(edges[i].second);
        i = j;
    }
    std::vector<std::uint32_t> pieceAt(after.vertices.size(), kNone);
    for (std::size_t i = 0; i < after.indices.size(); ++i)
        pieceAt[pieces.ids[after.indices[i]]] = pieces.bodyOf[i / 3];
    std::vector<std::uint64_t> votes;
    for (std::size_t t = 0; t < part.TriangleCount(); ++t) {
        if (!inParted(t))
            continue;
        for (int k = 0; k < 3; ++k) {
            const auto found = pieces.positions.find(KeyOf(part.vertices[part.indices[3 * t + k]].position));
            const std::uint32_t piece = found == pieces.positions.end() ? kNone : pieceAt[found->second];
            if (piece != kNone && bodyOfPiece[piece] == labels.bodyOf[t])
                votes.push_back(KeyedVote(root(static_cast<std::uint32_t>(t)), piece));
        }
    }
    const std::vector<std::uint32_t> pieceOfShell = MostCommonLabelPerKey(std::move(votes), shell.size(), kNone);
    // A shell no piece holds a corner of leaves its body unmeasured here: the loss says it.
    std::vector<BodyVolume> volumes(pieces.bodies.size());
    std::vector<std::pair<std::pair<EdgeKey, std::uint32_t>, std::uint8_t>> held;
    for (std::size_t t = 0; t < part.TriangleCount(); ++t) {
        if (!inParted(t))
            continue;
        const std::uint32_t piece = pieceOfShell[root(static_cast<std::uint32_t>(t))];
        if (piece == kNone) {
            parted[labels.bodyOf[t]] = 0;
            continue;
        }
        for (int k = 0; k < 3; ++k)
            held.push_back({{edgeOf(t, k), piece}, 0});
        if (labels.repeated[t] == 0)
            volumes[piece].Add(part.vertices[part.indices[3 * t]].position, part.vertices[part.indices[3 * t + 1]].position,
                           part.vertices[part.indices[3 * t + 2]].position);
    }
    std::sort(held.begin(), held.end());
    std::vector<std::uint8_t> open(pieces.bodies.size(), 0);
    for (std::size_t i = 0; i < held.size();) {
        std::size_t j = i + 1;
        while (j < held.size() && held[j].first == held[i].first)
            ++j;
        if ((j - i) % 2 != 0)
            open[held[i].first.second] = 1;
        i = j;
    }
    for (std::size_t piece = 0; piece < pieces.bodies.size(); ++piece) {
        const std::uint32_t b = bodyOfPiece[piece];
        if (b == kNone || parted[b] == 0 || open[piece] != 0)
            continue;
        const Body& now = pieces.bodies[piece];
        RecordVolume(volumes[piece].Volume(), now.volume.Volume(), now.low, now.high, report);
    }
}

// The corner of each body of the part lying furthest from the pieces matched to it, against the
// body's size; the furthest of all by distance goes to `furthest` (its position) and `distance`.
// Bodies with no piece left are the lost bodies' to say. Corners still a corner of their body
// cost a look-up; the others a search of a tree of `after` restricted to the body's pieces.
void MeasureLoss(const TriangleMesh& part, const Labelled& labels, const std::vector<std::uint32_t>& bodyAt,
                 const TriangleMesh& after, const Labelled& pieces, const std::vector<std::uint32_t>& bodyOfPiece,
                 bool whole, const std::vector<Matched>& before, const std::vector<Matched>& matched,
                 FixChangeReport& report, std::uint32_t& furthest, float& distance)
{
    const auto bodyOfTriangle = [&](std::size_t t) { return whole ? bodyOfPiece[0] : bodyOfPiece[pieces.bodyOf[t]]; };
    std::vector<std::uint32_t> matchedAt(after.vertices.size(), kNone);
    for (std::size_t i = 0; i < after.indices.size(); ++i)
        matchedAt[pieces.ids[after.indices[i]]] = bodyOfTriangle(i / 3);
    std::vector<std::uint32_t> missing;
    for (std::uint32_t v = 0; v < part.vertices.size(); ++v) {
        // A corner at no finite place has no distance to anything; the box and volume say it.
        if (labels.ids[v] != v || bodyAt[v] == kNone || !IsFinite(part.vertices[v].position))
            continue;
        const std::uint32_t b = whole ? 0 : bodyAt[v];
        if (matched[b].pieces == 0)
            continue;
        const auto found = pieces.positions.find(KeyOf(part.vertices[v].position));
        if (found == pieces.positions.end() || matchedAt[found->second] != b)
            missing.push_back(v);
    }
    if (missing.empty())
        return;
    AabbTree tree;
    tree.Build(after);
    if (tree.nodes.empty())
        return;
    std::vector<std::uint32_t> label(after.TriangleCount());
    for (std::size_t t = 0; t < label.size(); ++t)
        label[t] = bodyOfTriangle(t);
    tree.minLabel.assign(tree.nodes.size(), 0);
    tree.maxLabel.assign(tree.nodes.size(), 0);
    tree.RefitLabels(0, label);
    std::vector<float> found(missing.size(), -1.0f);
    ParallelFor(missing.size(), [&](std::size_t i) {
        const std::uint32_t b = whole ? 0 : bodyAt[missing[i]];
        const auto other = [&](std::uint32_t t) { return label[t] != b; };
        const auto beyond = [&](std::uint32_t node, double) {
            return !tree.minLabel.empty() && (tree.minLabel[node] > b || tree.maxLabel[node] < b);
        };
        const NearestHit hit =
            tree.Nearest(after, part.vertices[missing[i]].position, {}, other, kNoDistanceLimit, nullptr, beyond);
        if (hit.found)
            found[i] = hit.distance;
    }, 64);
    for (std::size_t i = 0; i < missing.size(); ++i) {
        const float d = found[i];
        if (!(d > 0.0f))
            continue;
        const std::uint32_t b = whole ? 0 : bodyAt[missing[i]];
        const float size = SmallestSide(before[b]);
        const float share = size > 0.0f ? d / size : 1.0f;
        if (share > report.largestLossShare) {
            report.largestLossShare = share;
            report.furthestLossMillimetres = d;
            report.lossBodySizeMillimetres = size;
            report.furthestLossAt = part.vertices[missing[i]].position;
        }
        if (d > distance) {
            distance = d;
            furthest = missing[i];
        }
    }
}

void RecordMove(const SurfaceSpot& spot, FixChangeReport& report)
{
    ++report.cornersMoved;
    if (spot.distance > report.furthestMoveMillimetres) {
        report.furthestMoveMillimetres = spot.distance;
        report.furthestMove = spot;
    }
}

// A share in percent with one decimal, or as many more as a share above 0 needs not to read 0.
std::string Percent(float share)
{
    const double percent = 100.0 * static_cast<double>(share);
    int decimals = 1;
    while (percent > 0.0 && decimals < kMostLengthDecimals && FormatFixed(percent, decimals) == FormatFixed(0.0, decimals))
        ++decimals;
    return FormatFixed(percent, decimals) + "%";
}

// "where the part is 0.40 mm thick", or where no opposite side was met, the body's size.
const char* AxisName(std::int32_t axis) { return axis == 0 ? "x" : axis == 1 ? "y" : "z"; }

std::string Place(Vec3 p)
{
    std::string text = "(";
    text.append(FormatFixed(p.x, 2)).append(", ").append(FormatFixed(p.y, 2)).append(", ");
    text.append(FormatFixed(p.z, 2)).append(")");
    return text;
}

std::string WhereText(const SurfaceSpot& spot)
{
    return spot.across ? "where its body is " + FormatLength(spot.thickness) + " mm across"
                       : "where the part is " + FormatLength(spot.thickness) + " mm thick";
}

}  // namespace

struct FixBaseline::State {
    explicit State(const TriangleMesh& mesh) : part(mesh) {}

    const TriangleMesh& part;
    bool usable = false;
    Labelled labels;
    std::vector<std::uint32_t> bodyAt;  // per vertex that is first at its position: its body
    // Built on the first look-up: the tree, and the triangles round each position.
    std::unique_ptr<AabbTree> tree;
    std::vector<std::uint32_t> roundOffsets;
    std::vector<std::uint32_t> round;

    void BuildSearch();
    float RayThickness(std::uint32_t t, Vec3 q) const;
    SurfaceSpot ThicknessAtCorner(std::uint32_t position) const;
    SurfaceSpot ThicknessOn(std::uint32_t t, Vec3 q) const;
    float BodySize(std::uint32_t t) const;
    std::vector<std::uint32_t> MatchPieces(FixBaseline& baseline, const TriangleMesh& after, const Labelled& pieces,
                                           bool whole, bool measureMoves, const std::vector<Matched>& before,
                                           const std::vector<Matched>& afterBodies, FixChangeReport& report) const;
};

void FixBaseline::State::BuildSearch()
{
    tree = std::make_unique<AabbTree>();
    tree->Build(part);
    roundOffsets.assign(part.vertices.size() + 1, 0);
    for (const std::uint32_t v : part.indices)
        ++roundOffsets[labels.ids[v] + 1];
    std::partial_sum(roundOffsets.begin(), roundOffsets.end(), roundOffsets.begin());
    round.resize(part.indices.size());
    std::vector<std::uint32_t> fill(roundOffsets.begin(), roundOffsets.end() - 1);
    for (std::size_t i = 0; i < part.indices.size(); ++i)
        round[fill[labels.ids[part.indices[i]]]++] = static_cast<std::uint32_t>(i / 3);
}

// The distance from `q` on triangle t inward to the opposite side of the part; -1 when the
// triangle has no area or no opposite side is met. Inward is against the normal of a body
// wound outward; for an open body, whose winding says nothing, both ways count.
float FixBaseline::State::RayThickness(std::uint32_t t, Vec3 q) const
{
    const Vec3 a = part.vertices[part.indices[3 * std::size_t{t}]].position;
    const Vec3 b = part.vertices[part.indices[3 * std::size_t{t} + 1]].position;
    const Vec3 c = part.vertices[part.indices[3 * std::size_t{t} + 2]].position;
    const Vec3 n = Cross(b - a, c - a);
    const double length = LengthOf(n);
    if (!(length > 0.0))
        return -1.0f;
    const Vec3 unit = n * static_cast<float>(1.0 / length);
    const Body& body = labels.bodies[labels.bodyOf[t]];
    const Vec3 start = q + ((a + b + c) * (1.0f / 3.0f) - q) * kIntoTriangle;
    float thinnest = -1.0f;
    for (const float way : {-1.0f, 1.0f}) {
        if (!body.open && (way > 0.0f) != (body.volume.Volume() < 0.0))
            continue;
        const Vec3 inward = unit * way;
        const RayHit hit = tree->Raycast({start + inward * kRayStartDepth, inward}, part);
        // A ray that first meets a side facing it started outside the solid (in a fold), and
        // says nothing of its thickness.
        if (hit.hit && Dot(hit.normal, inward) > 0.0f && (thinnest < 0.0f || hit.distance + kRayStartDepth < thinnest))
            thinnest = hit.distance + kRayStartDepth;
    }
    return thinnest;
}

float FixBaseline::State::BodySize(std::uint32_t t) const
{
    const Body& body = labels.bodies[labels.bodyOf[t]];
    float smallest = kHuge;
    for (int axis = 0; axis < 3; ++axis)
        smallest = std::min(smallest, Axis(body.high, axis) - Axis(body.low, axis));
    return smallest;
}

SurfaceSpot FixBaseline::State::ThicknessOn(std::uint32_t t, Vec3 q) const
{
    const float thickness = RayThickness(t, q);
    if (thickness >= 0.0f)
        return {0.0f, thickness, false};
    return {0.0f, BodySize(t), true};
}

// The thinnest over the triangles round the corner: at the tip of a thin fin, across the fin.
SurfaceSpot FixBaseline::State::ThicknessAtCorner(std::uint32_t position) const
{
    const Vec3 p = part.vertices[position].position;
    SurfaceSpot spot{0.0f, -1.0f, false};
    for (std::uint32_t i = roundOffsets[position]; i < roundOffsets[position + 1]; ++i) {
        const float thickness = RayThickness(round[i], p);
        if (thickness >= 0.0f && (spot.thickness < 0.0f || thickness < spot.thickness))
            spot.thickness = thickness;
    }
    if (spot.thickness < 0.0f && roundOffsets[position + 1] > roundOffsets[position])
        return {0.0f, BodySize(round[roundOffsets[position]]), true};
    return spot;
}

FixBaseline::FixBaseline(const TriangleMesh& part) : state_(std::make_unique<State>(part))
{
    State& s = *state_;
    s.usable = part.IsConsistent() && part.TriangleCount() != 0;
    if (!s.usable)
        return;
    s.labels = LabelBodies(part);
    s.bodyAt.assign(part.vertices.size(), kNone);
    for (std::size_t i = 0; i < part.indices.size(); ++i)
        s.bodyAt[s.labels.ids[part.indices[i]]] = s.labels.bodyOf[i / 3];
}

FixBaseline::~FixBaseline() = default;

bool FixBaseline::IsUsable() const { return state_->usable; }

bool FixBaseline::IsCornerOfPart(Vec3 p) const
{
    const State& s = *state_;
    if (!s.usable)
        return false;
    const auto found = s.labels.positions.find(KeyOf(p));
    return found != s.labels.positions.end() && s.bodyAt[found->second] != kNone;
}

SurfaceSpot FixBaseline::Locate(Vec3 p)
{
    State& s = *state_;
    if (!s.usable || !IsFinite(p))
        return {};
    if (!s.tree)
        s.BuildSearch();
    const auto found = s.labels.positions.find(KeyOf(p));
    if (found != s.labels.positions.end() && s.bodyAt[found->second] != kNone)
        return s.ThicknessAtCorner(found->second);
    const NearestHit hit = s.tree->Nearest(s.part, p, {}, {}, kNoDistanceLimit);
    if (!hit.found)
        return {};
    const auto t = static_cast<std::uint32_t>(hit.triangle);
    SurfaceSpot spot = s.ThicknessOn(t, hit.point);
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t corner = s.part.indices[3 * std::size_t{t} + k];
        if (KeyOf(s.part.vertices[corner].position) == KeyOf(hit.point))
            spot = s.ThicknessAtCorner(s.labels.ids[corner]);
    }
    spot.distance = hit.distance;
    return spot;
}

// Per piece after, the body before it came from (kNone when none); each position after is
// looked at once: a corner of the part votes for its body, any other is a move and measured.
std::vector<std::uint32_t> FixBaseline::State::MatchPieces(FixBaseline& baseline, const TriangleMesh& after,
                                                           const Labelled& pieces, bool whole, bool measureMoves,
                                                           const std::vector<Matched>& before,
                                                           const std::vector<Matched>& afterBodies,
                                                           FixChangeReport& report) const
{
    std::vector<std::uint64_t> votes;
    votes.reserve(after.vertices.size());
    std::vector<std::uint8_t> seen(after.vertices.size(), 0);
    for (std::size_t i = 0; i < after.indices.size(); ++i) {
        const std::uint32_t w = pieces.ids[after.indices[i]];
        if (seen[w] != 0)
            continue;
        seen[w] = 1;
        const Vec3 p = after.vertices[w].position;
        const auto found = labels.positions.find(KeyOf(p));
        if (found != labels.positions.end() && bodyAt[found->second] != kNone) {
            votes.push_back(whole ? KeyedVote(0, 0) : KeyedVote(pieces.bodyOf[i / 3], bodyAt[found->second]));
        } else if (measureMoves) {
            RecordMove(baseline.Locate(p), report);
        } else {
            ++report.cornersMoved;
        }
    }
    // Per piece, the body most of its corners came from, the lower body on a tie.
    std::vector<std::uint32_t> bodyOfPiece = MostCommonLabelPerKey(std::move(votes), afterBodies.size(), kNone);
    // A piece none of whose corners is a corner of the part goes by its box.
    for (std::size_t piece = 0; piece < afterBodies.size(); ++piece)
        if (bodyOfPiece[piece] == kNone)
            bodyOfPiece[piece] = BestOverlap(afterBodies[piece], before);
    return bodyOfPiece;
}

FixChangeReport MeasureFixChange(FixBaseline& baseline, const TriangleMesh& after, bool measureMoves)
{
    FixChangeReport report;
    const FixBaseline::State& s = *baseline.state_;
    if (!s.usable || !after.IsConsistent() || after.TriangleCount() == 0)
        return report;
    const Labelled pieces = LabelBodies(after);
    report.bodiesBefore = s.labels.bodies.size();
    report.bodiesAfter = pieces.bodies.size();
    const bool whole = report.bodiesBefore > kMostMatchedBodies || report.bodiesAfter > kMostMatchedBodies;
    const std::vector<Matched> before = whole ? AsWhole(s.labels.bodies) : AsMatched(s.labels.bodies);
    const std::vector<Matched> afterBodies = whole ? AsWhole(pieces.bodies) : AsMatched(pieces.bodies);
    const std::vector<std::uint32_t> bodyOfPiece =
        s.MatchPieces(baseline, after, pieces, whole, measureMoves, before, afterBodies, report);

    std::vector<Matched> matched(before.size());
    for (std::size_t piece = 0; piece < afterBodies.size(); ++piece)
        if (bodyOfPiece[piece] != kNone)
            AddPiece(afterBodies[piece], matched[bodyOfPiece[piece]]);
    if (!whole)
        MeasurePartedVolumes(s.part, s.labels, after, pieces, bodyOfPiece, before, matched, report);
    std::uint32_t furthest = kNone;
    float distance = 0.0f;
    MeasureLoss(s.part, s.labels, s.bodyAt, after, pieces, bodyOfPiece, whole, before, matched, report, furthest,
                distance);
    report.partToResultMillimetres = distance;
    // The move said is the furthest either way: a corner of the part off what is written.
    if (furthest != kNone && distance > report.furthestMoveMillimetres) {
        report.furthestMoveMillimetres = distance;
        if (measureMoves) {
            FixBaseline::State& state = *baseline.state_;
            if (!state.tree)
                state.BuildSearch();
            report.furthestMove = state.ThicknessAtCorner(furthest);
        }
        report.furthestMove.distance = distance;
    }
    for (std::size_t b = 0; b < before.size(); ++b) {
        const double volume = before[b].open ? 0.0 : std::abs(before[b].volume);
        report.partVolume += volume;
        if (matched[b].pieces == 0) {
            ++report.bodiesLost;
            report.largestLostVolume = std::max(report.largestLostVolume, volume);
            continue;
        }
        MeasureBox(before[b], matched[b], report);
        MeasureVolume(before[b], matched[b], report);
    }
    report.measured = true;
    return report;
}

FixChangeReport MeasureFixChange(const TriangleMesh& before, const TriangleMesh& after)
{
    FixBaseline baseline(before);
    return MeasureFixChange(baseline, after);
}

bool IsLargeFixChange(const FixChangeReport& report)
{
    return !FormatLargeFixChanges(report).empty();
}

std::vector<std::string> FormatLargeFixChanges(const FixChangeReport& r)
{
    std::vector<std::string> lines;
    if (!r.measured)
        return lines;
    if (r.largestVolumeShare > kLargestFixChangeShare)
        lines.push_back("the fixes changed a body's volume by " + Percent(r.largestVolumeShare) + " ("
            + FormatVolume(r.volumeBefore) + " to " + FormatVolume(r.volumeAfter) + " mm3), the body "
            + FormatSize3(r.volumeHigh.x - r.volumeLow.x, r.volumeHigh.y - r.volumeLow.y, r.volumeHigh.z - r.volumeLow.z)
            + " at " + Place((r.volumeLow + r.volumeHigh) * 0.5f));
    if (r.largestBoxShare > kLargestFixChangeShare)
        lines.push_back("the fixes moved a side of a body by " + FormatLength(r.boxMoveMillimetres) + " mm along "
            + AxisName(r.boxAxis) + ", " + Percent(r.largestBoxShare) + " of its " + FormatLength(r.boxSizeMillimetres)
            + " mm there");
    // A corner left behind by a side of the box that moved says nothing the box has not said.
    // Relaxing moves a corner as far as its limit, where float rounding may land it a hair past.
    if (r.largestLossShare > kMoveShareOfBodySize * 1.001f
        && !(r.largestBoxShare > kLargestFixChangeShare && r.furthestLossMillimetres <= r.boxMoveMillimetres))
        lines.push_back("the fixes left a corner of a body " + FormatLength(r.furthestLossMillimetres)
            + " mm from what is written, " + Percent(r.largestLossShare) + " of its " + FormatLength(r.lossBodySizeMillimetres)
            + " mm smallest side, at " + Place(r.furthestLossAt));
    if (r.bodiesLost != 0 && r.largestLostVolume > kLargestFixChangeShare * r.partVolume)
        lines.push_back("the fixes took away " + FormatCountOf(r.bodiesLost, "body", "bodies") + ", the largest of "
            + FormatVolume(r.largestLostVolume) + " mm3");
    return lines;
}

std::string FormatFixChange(const FixChangeReport& r)
{
    if (!r.measured)
        return "what the fixes changed could not be measured";
    // Corners new to the file may all lie on the part's surface (where a side was cut in two).
    const std::string moves = r.cornersMoved == 0 && r.furthestMoveMillimetres == 0.0f ? std::string()
        : r.furthestMoveMillimetres == 0.0f ? ", and moved no corner off the part's surface"
        : ", and moved the surface at most " + FormatLength(r.furthestMoveMillimetres) + " mm, " + WhereText(r.furthestMove);
    return "the fixes changed each body by at most " + Percent(r.largestVolumeShare) + " of its volume and "
        + Percent(r.largestBoxShare) + " of its size" + moves;
}

}  // namespace grainforge::mesh
