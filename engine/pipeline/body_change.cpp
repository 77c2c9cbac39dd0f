#include "engine/pipeline/body_change.h"

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/label_vote.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

struct Bodies {
    std::vector<std::uint32_t> of;  // per triangle
    std::uint32_t count = 0;
    std::vector<CrumbRecord> records;
};

Bodies MeasureAllBodies(const TriangleMesh& mesh)
{
    Bodies bodies;
    bodies.of = LabelBodies(mesh, bodies.count);
    bodies.records = MeasureBodies(mesh, bodies.of, bodies.count);
    return bodies;
}

void AddTo(CrumbRecord& sum, const CrumbRecord& body)
{
    if (body.triangleCount == 0)
        return;
    sum.boxMin = {std::min(sum.boxMin.x, body.boxMin.x), std::min(sum.boxMin.y, body.boxMin.y),
        std::min(sum.boxMin.z, body.boxMin.z)};
    sum.boxMax = {std::max(sum.boxMax.x, body.boxMax.x), std::max(sum.boxMax.y, body.boxMax.y),
        std::max(sum.boxMax.z, body.boxMax.z)};
    sum.triangleCount += body.triangleCount;
    sum.volume += body.volume;
    sum.area += body.area;
}

bool IsInBox(Vec3 p, const CrumbRecord& body, float margin = 0.0f)
{
    return p.x >= body.boxMin.x - margin && p.y >= body.boxMin.y - margin && p.z >= body.boxMin.z - margin
        && p.x <= body.boxMax.x + margin && p.y <= body.boxMax.y + margin && p.z <= body.boxMax.z + margin;
}

// Per body of the result, the body of the part it lies at.
std::vector<std::uint32_t> MatchResultBodies(const TriangleMesh& part, const Bodies& before,
    const TriangleMesh& result, const Bodies& after)
{
    // With one body in the part there is nothing to look up, and no tree to build over it.
    if (before.count == 1)
        return std::vector<std::uint32_t>(after.count, 0);
    const std::vector<std::uint32_t> perTriangle = LabelSourceBodiesAt(result, after.of, after.count, part, nullptr);
    std::vector<std::uint32_t> at(after.count, kNone);
    for (std::size_t t = 0; t < perTriangle.size(); ++t)
        at[after.of[t]] = perTriangle[t];
    return at;
}

// Whether the body is an inward-facing shell where the part had an outward-facing one.
bool IsNewVoid(const CrumbRecord& resultBody, const CrumbRecord& partBody)
{
    return resultBody.volume < 0.0 && partBody.volume > 0.0;
}

// For each body of the part no body of the result lies at, the body of the result it was
// joined into (most of its corners within `reach` of that body's surface, or, for an
// outward-facing body, inside it), or kNone when it vanished.
std::vector<std::uint32_t> FindJoinedBodies(const TriangleMesh& part, const Bodies& before,
    const TriangleMesh& result, const Bodies& after, const std::vector<std::uint8_t>& unmatched, float reach)
{
    std::vector<std::uint32_t> joinedInto(before.count, kNone);
    if (std::find(unmatched.begin(), unmatched.end(), std::uint8_t{1}) == unmatched.end())
        return joinedInto;
    const std::vector<std::vector<Vec3>> samples = SampleBodyCorners(part, before.of, before.count);
    // A corner outside every body's box grown by `reach` is neither near a body nor inside one:
    // a body of the part lying apart from all of the result vanished without the tree.
    bool anyNear = false;
    for (std::uint32_t b = 0; b < before.count && !anyNear; ++b)
        for (const Vec3 p : unmatched[b] ? samples[b] : std::vector<Vec3>{})
            for (const CrumbRecord& body : after.records)
                anyNear = anyNear || IsInBox(p, body, reach);
    if (!anyNear)
        return joinedInto;
    AabbTree tree;
    tree.Build(result);
    ParallelFor(before.count, [&](std::size_t b) {
        if (!unmatched[b])
            return;
        std::vector<std::uint32_t> near;
        for (const Vec3 p : samples[b]) {
            const NearestHit hit = tree.Nearest(result, p, {}, {}, kNoDistanceLimit);
            if (!hit.found || hit.triangle < 0)
                continue;
            // A corner in the box of the body nearest to it and behind the face it is nearest
            // to lies inside that body: an insert's material is kept there, a hollow's is
            // filled. Away from the box the face found may be any at a corner or edge.
            const std::uint32_t r = after.of[static_cast<std::size_t>(hit.triangle)];
            const bool inside = before.records[b].volume > 0.0 && IsInBox(p, after.records[r])
                && Dot(p - hit.point, result.FaceNormal(static_cast<std::uint64_t>(hit.triangle))) < 0.0f;
            if (hit.distance <= reach || inside)
                near.push_back(r);
        }
        if (2 * near.size() <= samples[b].size())
            return;
        joinedInto[b] = MostCommonLabel(std::move(near), kNone);
    }, 4);
    return joinedInto;
}

// Outward-facing bodies of the result lying at an outward-facing body of the part beside a larger
// one there: pieces the run set loose from that body.
void NameLoosePieces(const Bodies& before, const Bodies& after, const std::vector<std::uint32_t>& at,
    std::vector<BodyChange>& changes, std::vector<std::uint8_t>& named)
{
    std::vector<std::uint32_t> largest(before.count, kNone);
    for (std::uint32_t r = 0; r < after.count; ++r) {
        const std::uint32_t s = at[r];
        if (s < before.count && before.records[s].volume > 0.0 && after.records[r].volume > 0.0
            && (largest[s] == kNone || IsLargerBody(after.records[r], r, after.records[largest[s]], largest[s])))
            largest[s] = r;
    }
    for (std::uint32_t r = 0; r < after.count; ++r) {
        const std::uint32_t s = at[r];
        if (s < before.count && largest[s] != kNone && largest[s] != r && after.records[r].volume > 0.0) {
            changes.push_back({.fate = BodyFate::loosePiece, .before = before.records[s], .after = after.records[r]});
            named[r] = 1;
        }
    }
}

float Diagonal(const CrumbRecord& body)
{
    return body.triangleCount == 0 ? 0.0f : Length(body.boxMax - body.boxMin);
}

// Bodies of the part at which the result holds no more than a crumb (IsCrumbSized) in a box a
// quarter of the body's across or less: what is left there is no longer the body, whatever an
// open part's volumes say.
std::vector<std::uint8_t> BodiesLeftAsCrumbs(const Bodies& before, const Bodies& after,
    const std::vector<CrumbRecord>& held, const std::vector<std::uint8_t>& unmatched)
{
    double largest = 0.0;
    CrumbRecord whole;
    for (const CrumbRecord& body : after.records) {
        largest = std::max(largest, body.volume);
        AddTo(whole, body);
    }
    std::vector<std::uint8_t> crumbOnly(before.count, 0);
    for (std::uint32_t s = 0; s < before.count; ++s)
        crumbOnly[s] = !unmatched[s] && held[s].volume > 0.0 && Diagonal(before.records[s]) > 4.0f * Diagonal(held[s])
            && IsCrumbSized(held[s], kCrumbVolumeLimit, Diagonal(whole), largest);
    return crumbOnly;
}

// Bodies of the part at which the result holds a small remnant, whatever its size: in a box a
// quarter of the body's across or less, or under a quarter of its volume. Where most of such a
// body lies in another body of the result, the run joined it there, and the remnant is a piece
// it set loose.
std::vector<std::uint8_t> BodiesLeftSmall(const Bodies& before, const std::vector<CrumbRecord>& held,
    const std::vector<std::uint8_t>& unmatched)
{
    std::vector<std::uint8_t> small(before.count, 0);
    for (std::uint32_t s = 0; s < before.count; ++s)
        small[s] = !unmatched[s] && held[s].volume > 0.0
            && (Diagonal(before.records[s]) > 4.0f * Diagonal(held[s])
                || held[s].volume < 0.25 * std::fabs(before.records[s].volume));
    return small;
}


// The share of its volume the part as a whole lost, 0 when it gained.
double PartLostShare(const Bodies& before, const Bodies& after)
{
    double was = 0.0, is = 0.0;
    for (const CrumbRecord& body : before.records)
        was += body.volume;
    for (const CrumbRecord& body : after.records)
        is += body.volume;
    return was > 0.0 ? std::max(0.0, (was - is) / was) : 0.0;
}

void SortChanges(std::vector<BodyChange>& changes)
{
    const auto rank = [](const BodyChange& c) { return static_cast<int>(c.fate); };
    std::stable_sort(changes.begin(), changes.end(), [&](const BodyChange& a, const BodyChange& b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        const bool madeA = a.fate == BodyFate::newVoid || a.fate == BodyFate::loosePiece;
        const bool madeB = b.fate == BodyFate::newVoid || b.fate == BodyFate::loosePiece;
        const CrumbRecord& ka = madeA ? a.after : a.before;
        const CrumbRecord& kb = madeB ? b.after : b.before;
        // Bodies alike in every measure keep the order of the part.
        return IsLargerBody(ka, 0, kb, 1) && !IsLargerBody(kb, 0, ka, 1);
    });
}

}  // namespace

double LostShare(const CrumbRecord& before, const CrumbRecord& after)
{
    const double was = std::fabs(before.volume);
    const double is = after.volume * before.volume > 0.0 ? std::fabs(after.volume) : 0.0;
    return was > 0.0 ? (was - is) / was : 0.0;
}

MeasuredPart MeasurePartAsMeant(const TriangleMesh& part)
{
    MeasuredPart measured;
    measured.mesh = part;
    if (part.TriangleCount() == 0 || !part.IsConsistent())
        return measured;
    TriangleMesh& mesh = measured.mesh;
    measured.doubledFacets = RemoveDuplicateTriangles(mesh);
    // The winding walk and the nesting rule of validation say which facets face the wrong way.
    const ValidationReport walk = FindWrongWayTriangles(mesh);
    if (walk.reversedTriangles.empty())
        return measured;
    std::vector<std::uint64_t> turned(walk.componentCount, 0);
    std::vector<std::uint64_t> size(walk.componentCount, 0);
    for (const std::uint32_t c : walk.triangleComponents)
        ++size[c];
    for (const std::uint32_t t : walk.reversedTriangles) {
        std::swap(mesh.indices[3 * std::size_t{t} + 1], mesh.indices[3 * std::size_t{t} + 2]);
        ++turned[walk.triangleComponents[t]];
    }
    for (std::size_t c = 0; c < turned.size(); ++c)
        measured.bodiesTurned += turned[c] != 0 && turned[c] == size[c] ? 1 : 0;
    measured.wholeTurned = walk.reversedTriangles.size() == mesh.TriangleCount();
    mesh.ComputeBounds();
    return measured;
}

BodyChangeReport MeasureBodyChanges(const TriangleMesh& part, const TriangleMesh& result, float reach,
    double lossShare, bool partOpen)
{
    BodyChangeReport report;
    if (part.TriangleCount() == 0 || result.TriangleCount() == 0 || !part.IsConsistent() || !result.IsConsistent())
        return report;
    const Bodies before = MeasureAllBodies(part);
    const Bodies after = MeasureAllBodies(result);
    const std::vector<std::uint32_t> at = MatchResultBodies(part, before, result, after);
    if (before.count == 0 || after.count == 0 || at.empty())
        return report;
    report.measured = true;
    report.bodiesBefore = before.count;
    report.bodiesAfter = after.count;

    // What the whole part lost (a relief's depth over its surface, say) is said of the part;
    // a body is named for what it lost beyond that.
    const double partLost = PartLostShare(before, after);
    // Each body of the part heads its own group until it turns out joined into another's.
    std::vector<CrumbRecord> held(before.count);
    std::vector<std::uint8_t> unmatched(before.count, 1);
    for (std::uint32_t r = 0; r < after.count; ++r) {
        const std::uint32_t s = at[r];
        if (s >= before.count)
            continue;
        if (IsNewVoid(after.records[r], before.records[s])) {
            report.changes.push_back({.fate = BodyFate::newVoid, .before = {}, .after = after.records[r]});
            continue;
        }
        AddTo(held[s], after.records[r]);
        unmatched[s] = 0;
    }
    // Each body of the result is named as a loose piece once, whichever way it is found one.
    std::vector<std::uint8_t> named(after.count, 0);
    NameLoosePieces(before, after, at, report.changes, named);
    std::vector<std::uint32_t> joinedInto = FindJoinedBodies(part, before, result, after, unmatched, reach);
    const std::vector<std::uint8_t> crumbOnly = BodiesLeftAsCrumbs(before, after, held, unmatched);
    // Where a body of the part went mostly into another body of the result, what the result holds
    // at it, however large, is a piece the run set loose, not the body.
    const std::vector<std::uint8_t> leftSmall = BodiesLeftSmall(before, held, unmatched);
    const std::vector<std::uint32_t> smallJoined = FindJoinedBodies(part, before, result, after, leftSmall, reach);
    for (std::uint32_t s = 0; s < before.count; ++s) {
        const std::uint32_t r = smallJoined[s];
        if (!leftSmall[s] || r == kNone || at[r] >= before.count || at[r] == s || unmatched[at[r]] || leftSmall[at[r]])
            continue;
        // Most of the body lies at another body of the result: it was joined into that one, and
        // what the result holds at it is a piece the run set loose, whose material counts there.
        for (std::uint32_t piece = 0; piece < after.count; ++piece)
            if (at[piece] == s && !named[piece] && !IsNewVoid(after.records[piece], before.records[s])) {
                report.changes.push_back(
                    {.fate = BodyFate::loosePiece, .before = before.records[s], .after = after.records[piece]});
                named[piece] = 1;
            }
        AddTo(held[at[r]], held[s]);
        held[s] = {};
        unmatched[s] = 1;
        joinedInto[s] = r;
    }
    std::vector<std::uint32_t> group(before.count);
    std::iota(group.begin(), group.end(), 0u);
    for (std::uint32_t s = 0; s < before.count; ++s)
        if (unmatched[s] && joinedInto[s] != kNone && at[joinedInto[s]] < before.count && !unmatched[at[joinedInto[s]]])
            group[s] = at[joinedInto[s]];
    std::vector<BodyChange> groups(before.count);
    for (std::uint32_t s = 0; s < before.count; ++s) {
        BodyChange& g = groups[group[s]];
        AddTo(g.before, before.records[s]);
        g.bodiesJoined += group[s] != s ? 1 : 0;
    }
    for (std::uint32_t s = 0; s < before.count; ++s) {
        BodyChange& g = groups[s];
        if (group[s] != s || g.before.triangleCount == 0)
            continue;
        g.after = held[s];
        if (unmatched[s])
            g.fate = BodyFate::vanished;
        else if ((partOpen && !crumbOnly[s]) || !(LostShare(g.before, g.after) > lossShare + partLost))
            continue;
        report.changes.push_back(g);
    }
    SortChanges(report.changes);
    return report;
}

std::string FormatBodyChangesText(const BodyChangeReport& report)
{
    std::string text;
    const auto add = [&text](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    std::size_t lines = 0;
    // Of the bodies past the last line, per fate: how many, and their volume before and after.
    std::array<std::uint64_t, kBodyFates> rest{};
    std::array<double, kBodyFates> restBefore{}, restAfter{};
    for (const BodyChange& c : report.changes) {
        const auto fate = static_cast<std::size_t>(c.fate);
        if (lines == kMostBodyChangeLines) {
            ++rest[fate];
            restBefore[fate] += std::fabs(c.before.volume);
            restAfter[fate] += std::fabs(c.after.volume);
            continue;
        }
        ++lines;
        const std::string joined =
            c.bodiesJoined > 1 ? " (" + std::to_string(c.bodiesJoined) + " bodies of the part it joined)" : "";
        // An inward-facing body of the part is a hollow: taking it away fills it.
        const bool hollow = c.before.volume < 0.0;
        switch (c.fate) {
        case BodyFate::vanished:
            add((hollow ? "Process filled a hollow of the part: " : "Process took away a body of the part: ")
                + FormatBodySizeAndPlace(c.before) + joined + ".");
            break;
        case BodyFate::shrunk:
            add(std::string(hollow ? "Process cut a hollow of the part down by " : "Process cut a body of the part down by ") + FormatFixed(100.0 * LostShare(c.before, c.after), 0)
                + "%: " + FormatBodySizeAndPlace(c.before) + joined + ", became " + FormatBodySizeAndPlace(c.after)
                + ".");
            break;
        case BodyFate::newVoid:
            add("Process made a sealed void the part did not have: " + FormatBodySizeAndPlace(c.after)
                + " less material inside the part.");
            break;
        case BodyFate::loosePiece:
            add("Process set a piece loose from a body of the part: " + FormatBodySizeAndPlace(c.after)
                + ", apart from the body of " + FormatBodySizeAndPlace(c.before, false) + ".");
            break;
        }
    }
    const auto fate = [](BodyFate f) { return static_cast<std::size_t>(f); };
    if (const std::uint64_t n = rest[fate(BodyFate::vanished)]; n != 0)
        add("Process took away " + FormatCountOf(n, "more body", "more bodies") + " of the part, "
            + FormatVolume(restBefore[fate(BodyFate::vanished)]) + " mm3 in all.");
    if (const std::uint64_t n = rest[fate(BodyFate::shrunk)]; n != 0)
        add("Process cut down " + FormatCountOf(n, "more body", "more bodies") + " of the part, from "
            + FormatVolume(restBefore[fate(BodyFate::shrunk)]) + " to " + FormatVolume(restAfter[fate(BodyFate::shrunk)])
            + " mm3 in all.");
    if (const std::uint64_t n = rest[fate(BodyFate::newVoid)]; n != 0)
        add("Process made " + FormatCountOf(n, "more sealed void", "more sealed voids") + ", "
            + FormatVolume(restAfter[fate(BodyFate::newVoid)]) + " mm3 in all.");
    if (const std::uint64_t n = rest[fate(BodyFate::loosePiece)]; n != 0)
        add("Process set " + FormatCountOf(n, "more piece", "more pieces") + " loose from bodies of the part, "
            + FormatVolume(restAfter[fate(BodyFate::loosePiece)]) + " mm3 in all.");
    return text;
}

}  // namespace grainforge::mesh
