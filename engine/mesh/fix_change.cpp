#include "engine/mesh/fix_change.h"

#include "engine/mesh/mesh_validation.h"
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

struct Body {
    Vec3 low{kHuge, kHuge, kHuge};
    Vec3 high{-kHuge, -kHuge, -kHuge};
    BodyVolume volume;
    bool open = false;
};

float Axis(Vec3 v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
Vec3 Min(Vec3 a, Vec3 b) { return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)}; }
Vec3 Max(Vec3 a, Vec3 b) { return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}; }

// One number per distinct position (-0 as +0): a file keeps positions, not vertex numbers.
std::vector<std::uint32_t> WeldedVertexIds(const TriangleMesh& mesh)
{
    struct KeyHash {
        std::size_t operator()(const std::array<std::uint32_t, 3>& k) const
        {
            return (std::size_t{k[0]} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{k[1]} * 0xC2B2AE3D27D4EB4Full) ^ k[2];
        }
    };
    std::unordered_map<std::array<std::uint32_t, 3>, std::uint32_t, KeyHash> first;
    first.reserve(mesh.vertices.size());
    std::vector<std::uint32_t> ids(mesh.vertices.size());
    for (std::size_t v = 0; v < ids.size(); ++v) {
        std::array<std::uint32_t, 3> key{};
        const Vec3 p = mesh.vertices[v].position;
        const float c[3] = {p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
        std::memcpy(key.data(), c, sizeof c);
        ids[v] = first.try_emplace(key, static_cast<std::uint32_t>(v)).first->second;
    }
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
    std::vector<std::uint32_t> number(ids.size(), std::numeric_limits<std::uint32_t>::max());
    std::vector<std::uint32_t> body(mesh.TriangleCount());
    bodyCount = 0;
    for (std::size_t t = 0; t < body.size(); ++t) {
        std::uint32_t& n = number[root(ids[mesh.indices[3 * t]])];
        if (n == std::numeric_limits<std::uint32_t>::max())
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

// The bodies of the mesh; all of it as one body when `whole` is set.
std::vector<Body> BodiesOf(const TriangleMesh& mesh, bool whole)
{
    const std::vector<std::uint32_t> ids = WeldedVertexIds(mesh);
    std::uint32_t count = 0;
    std::vector<std::uint32_t> bodyOf = BodyOfTriangles(mesh, ids, count);
    if (whole) {
        std::fill(bodyOf.begin(), bodyOf.end(), 0u);
        count = 1;
    }
    std::vector<Body> bodies(count);
    for (std::size_t t = 0; t < bodyOf.size(); ++t) {
        Body& body = bodies[bodyOf[t]];
        Vec3 corner[3];
        for (int k = 0; k < 3; ++k) {
            corner[k] = mesh.vertices[mesh.indices[3 * t + k]].position;
            body.low = Min(body.low, corner[k]);
            body.high = Max(body.high, corner[k]);
        }
        body.volume.Add(corner[0], corner[1], corner[2]);
    }
    MarkOpenBodies(mesh, ids, bodyOf, bodies);
    return bodies;
}

// How much two boxes overlap: per axis the shared length over the spanned length (1 for two
// flat extents at one coordinate), multiplied over the axes.
double BoxOverlap(const Body& a, const Body& b)
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

// What the bodies after the fixes that match one body before add up to.
struct Matched {
    std::uint64_t pieces = 0;
    Vec3 low{kHuge, kHuge, kHuge};
    Vec3 high{-kHuge, -kHuge, -kHuge};
    double volume = 0.0;
    bool open = false;
};

std::vector<Matched> MatchBodies(const std::vector<Body>& before, const std::vector<Body>& after)
{
    std::vector<Matched> matched(before.size());
    for (const Body& piece : after) {
        double best = 0.0;
        std::size_t bestBody = before.size();
        for (std::size_t b = 0; b < before.size(); ++b) {
            const double overlap = BoxOverlap(piece, before[b]);
            if (overlap > best) {
                best = overlap;
                bestBody = b;
            }
        }
        if (bestBody == before.size())
            continue;
        Matched& m = matched[bestBody];
        ++m.pieces;
        m.low = Min(m.low, piece.low);
        m.high = Max(m.high, piece.high);
        m.volume += piece.volume.Volume();
        m.open = m.open || piece.open;
    }
    return matched;
}

void MeasureBox(const Body& body, const Matched& m, FixChangeReport& report)
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

void MeasureVolume(const Body& body, const Matched& m, FixChangeReport& report)
{
    const double before = body.volume.Volume();
    if (body.open || m.open || before == 0.0)
        return;
    const auto share = static_cast<float>(std::abs(m.volume - before) / std::abs(before));
    if (share > report.largestVolumeShare) {
        report.largestVolumeShare = share;
        report.volumeBefore = before;
        report.volumeAfter = m.volume;
    }
}

std::string Percent(float share) { return FormatFixed(100.0 * static_cast<double>(share), 1) + "%"; }

const char* AxisName(std::int32_t axis) { return axis == 0 ? "x" : axis == 1 ? "y" : "z"; }

}  // namespace

FixChangeReport MeasureFixChange(const TriangleMesh& before, const TriangleMesh& after)
{
    FixChangeReport report;
    if (!before.IsConsistent() || !after.IsConsistent() || before.TriangleCount() == 0 || after.TriangleCount() == 0)
        return report;
    std::vector<Body> bodiesBefore = BodiesOf(before, false);
    std::vector<Body> bodiesAfter = BodiesOf(after, false);
    report.bodiesBefore = bodiesBefore.size();
    report.bodiesAfter = bodiesAfter.size();
    if (bodiesBefore.size() > kMostMatchedBodies || bodiesAfter.size() > kMostMatchedBodies) {
        bodiesBefore = BodiesOf(before, true);
        bodiesAfter = BodiesOf(after, true);
    }
    const std::vector<Matched> matched = MatchBodies(bodiesBefore, bodiesAfter);
    for (std::size_t b = 0; b < bodiesBefore.size(); ++b) {
        const Body& body = bodiesBefore[b];
        const double volume = body.open ? 0.0 : std::abs(body.volume.Volume());
        report.partVolume += volume;
        if (matched[b].pieces == 0) {
            ++report.bodiesLost;
            report.largestLostVolume = std::max(report.largestLostVolume, volume);
            continue;
        }
        MeasureBox(body, matched[b], report);
        MeasureVolume(body, matched[b], report);
    }
    report.measured = true;
    return report;
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
            + FormatVolume(r.volumeBefore) + " to " + FormatVolume(r.volumeAfter) + " mm3)");
    if (r.largestBoxShare > kLargestFixChangeShare)
        lines.push_back("the fixes moved a side of a body by " + FormatLength(r.boxMoveMillimetres) + " mm along "
            + AxisName(r.boxAxis) + ", " + Percent(r.largestBoxShare) + " of its " + FormatLength(r.boxSizeMillimetres)
            + " mm there");
    if (r.bodiesLost != 0 && r.largestLostVolume > kLargestFixChangeShare * r.partVolume)
        lines.push_back("the fixes took away " + FormatCountOf(r.bodiesLost, "body", "bodies") + ", the largest of "
            + FormatVolume(r.largestLostVolume) + " mm3");
    return lines;
}

std::string FormatFixChange(const FixChangeReport& r)
{
    if (!r.measured)
        return "what the fixes changed could not be measured";
    return "the fixes changed each body by at most " + Percent(r.largestVolumeShare) + " of its volume and "
        + Percent(r.largestBoxShare) + " of its size";
}

}  // namespace grainforge::mesh
