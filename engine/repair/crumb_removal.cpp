#include "engine/repair/crumb_removal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/label_vote.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/welding.h"

namespace grainforge::mesh {
namespace {

std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t x)
{
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

void Unite(std::vector<std::uint32_t>& parent, std::uint32_t a, std::uint32_t b)
{
    a = FindRoot(parent, a);
    b = FindRoot(parent, b);
    if (a == b)
        return;
    // The smaller index becomes the root, so roots do not depend on the order of joins.
    if (a < b)
        parent[b] = a;
    else
        parent[a] = b;
}


// Whether a triangle with corner v has an edge (a corner pair 0-1, 1-2 or 2-0) joining v and w:
// any two of its corners form a pair, so it needs w as well, or for v = w two corners at v.
bool SharesPair(const std::uint32_t* corners, std::uint32_t v, std::uint32_t w)
{
    if (v != w)
        return corners[0] == w || corners[1] == w || corners[2] == w;
    return (corners[0] == v ? 1 : 0) + (corners[1] == v ? 1 : 0) + (corners[2] == v ? 1 : 0) >= 2;
}

// Above this many triangle-list entries read per corner pair, the vertex lists would cost more
// than the sorted edge table (many triangles on one edge, as in a fan of books).
constexpr std::uint64_t kMostListReadsPerPair = 24;

// Joins every triangle with the lowest triangle that shares one of its edges (the same key),
// which joins all triangles of an edge as the sorted edge table does, through the triangle
// lists of the vertices: no sort. False, nothing joined, when the lists are too long to walk.
bool UniteThroughVertexLists(const TriangleMesh& mesh, std::vector<std::uint32_t>& parent)
{
    const std::size_t triangles = mesh.TriangleCount();
    const std::size_t corners = mesh.indices.size();
    const std::size_t vertexCount = mesh.vertices.size();
    const std::uint32_t* indices = mesh.indices.data();
    constexpr std::size_t kGrain = 16384;

    std::vector<std::uint64_t> offsets(vertexCount + 1, 0);
    ParallelFor(corners, [&](std::size_t c) {
        std::atomic_ref<std::uint64_t>(offsets[indices[c] + 1]).fetch_add(1, std::memory_order_relaxed);
    }, kGrain);
    for (std::size_t v = 0; v < vertexCount; ++v)
        offsets[v + 1] += offsets[v];
    // Each pair walks the shorter list of its two ends; the total is an exact integer sum.
    std::atomic<std::uint64_t> reads{0};
    ParallelForBlocks(triangles, kGrain, [&](std::size_t begin, std::size_t end) {
        std::uint64_t local = 0;
        for (std::size_t t = begin; t < end; ++t)
            for (int p = 0; p < 3; ++p) {
                const std::uint32_t a = indices[3 * t + static_cast<std::size_t>(p)];
                const std::uint32_t b = indices[3 * t + static_cast<std::size_t>((p + 1) % 3)];
                local += std::min(offsets[a + 1] - offsets[a], offsets[b + 1] - offsets[b]);
            }
        reads.fetch_add(local, std::memory_order_relaxed);
    });
    if (reads.load() > kMostListReadsPerPair * corners)
        return false;

    // A list's order depends on the threads; only its set of triangles is used.
    std::vector<std::uint32_t> trianglesOf(corners);
    {
        std::vector<std::uint64_t> next(offsets.begin(), offsets.end() - 1);
        ParallelFor(corners, [&](std::size_t c) {
            const std::uint64_t slot = std::atomic_ref<std::uint64_t>(next[indices[c]]).fetch_add(1, std::memory_order_relaxed);
            trianglesOf[slot] = static_cast<std::uint32_t>(c / 3);
        }, kGrain);
    }
    std::vector<std::uint32_t> lowest(corners);
    ParallelForBlocks(triangles, kGrain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t)
            for (int p = 0; p < 3; ++p) {
                const std::uint32_t a = indices[3 * t + static_cast<std::size_t>(p)];
                const std::uint32_t b = indices[3 * t + static_cast<std::size_t>((p + 1) % 3)];
                const std::uint32_t v = offsets[a + 1] - offsets[a] <= offsets[b + 1] - offsets[b] ? a : b;
                const std::uint32_t w = v == a ? b : a;
                auto low = static_cast<std::uint32_t>(t);
                for (std::uint64_t i = offsets[v]; i < offsets[v + 1]; ++i) {
                    const std::uint32_t u = trianglesOf[i];
                    if (u < low && SharesPair(indices + 3 * std::size_t{u}, v, w))
                        low = u;
                }
                lowest[3 * t + static_cast<std::size_t>(p)] = low;
            }
    });
    for (std::size_t c = 0; c < corners; ++c)
        if (lowest[c] != c / 3)
            Unite(parent, static_cast<std::uint32_t>(c / 3), lowest[c]);
    return true;
}

// A crumb is no more than this share of the part: of its largest body's volume, of its box's
// diagonal.
constexpr double kCrumbShareOfLargest = 0.01;

double BoxDiagonal(const CrumbRecord& body)
{
    if (body.triangleCount == 0)
        return 0.0;
    const double x = static_cast<double>(body.boxMax.x) - body.boxMin.x;
    const double y = static_cast<double>(body.boxMax.y) - body.boxMin.y;
    const double z = static_cast<double>(body.boxMax.z) - body.boxMin.z;
    return std::sqrt(x * x + y * y + z * z);
}

}  // namespace

std::vector<std::uint32_t> LabelBodies(const TriangleMesh& mesh, std::uint32_t& bodyCount)
{
    bodyCount = 0;
    const std::size_t triangleCount = mesh.TriangleCount();
    if (triangleCount == 0 || !mesh.IsConsistent() || triangleCount > 0xFFFFFFFFull)
        return {};
    std::vector<std::uint32_t> parent(triangleCount);
    std::iota(parent.begin(), parent.end(), 0u);
    if (!UniteThroughVertexLists(mesh, parent)) {
        const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
        for (std::size_t i = 1; i < table.size(); ++i) {
            if (table[i].key == table[i - 1].key)
                Unite(parent, table[i].triangle, table[i - 1].triangle);
        }
    }
    // Dense body numbers in order of each body's first triangle.
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::vector<std::uint32_t> bodyOfRoot(triangleCount, kNone);
    std::vector<std::uint32_t> bodyOf(triangleCount);
    for (std::size_t t = 0; t < triangleCount; ++t) {
        const std::uint32_t root = FindRoot(parent, static_cast<std::uint32_t>(t));
        if (bodyOfRoot[root] == kNone)
            bodyOfRoot[root] = bodyCount++;
        bodyOf[t] = bodyOfRoot[root];
    }
    return bodyOf;
}

std::uint64_t RemoveCrumbs(TriangleMesh& mesh, std::uint64_t keepLargest,
                           std::uint64_t* removedTriangles, float volumeLimit,
                           std::vector<CrumbRecord>* records, std::uint64_t* bodiesLeft)
{
    const std::size_t triangleCount = mesh.TriangleCount();
    if (triangleCount == 0 || !mesh.IsConsistent() || triangleCount > 0xFFFFFFFFull)
        return 0;
    if (keepLargest == 0)
        keepLargest = 1;
    const bool volumeTest = volumeLimit > 0.0f;

    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::uint32_t labelled = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(mesh, labelled);
    std::vector<std::uint64_t> bodyTriangles(labelled, 0);
    for (const std::uint32_t body : bodyOf)
        ++bodyTriangles[body];
    const std::size_t bodyCount = bodyTriangles.size();
    if (bodiesLeft != nullptr)
        *bodiesLeft = bodyCount;
    if (bodyCount < 2 || (bodyCount <= keepLargest && !volumeTest))
        return 0;

    // Largest first; equal counts keep the order of their first triangles.
    std::vector<std::uint32_t> order(bodyCount);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return bodyTriangles[a] > bodyTriangles[b];
    });

    // Each body measured about a corner of its own, in double, as validation measures it.
    std::vector<BodyVolume> bodyVolumes(volumeTest ? bodyCount : 0);
    for (std::size_t t = 0; volumeTest && t < triangleCount; ++t) {
        const auto corner = [&](std::size_t k) { return mesh.vertices[mesh.indices[3 * t + k]].position; };
        bodyVolumes[bodyOf[t]].Add(corner(0), corner(1), corner(2));
    }
    const auto volumeOf = [&](std::uint32_t body) { return volumeTest ? bodyVolumes[body].Volume() : 0.0; };

    const std::uint64_t largest = bodyTriangles[order[0]];
    std::vector<std::uint8_t> isCrumb(bodyCount, 0);
    std::vector<std::uint32_t> crumbs;  // in rank order
    for (std::size_t rank = 1; rank < bodyCount; ++rank) {
        const std::uint32_t body = order[rank];
        if (bodyTriangles[body] * 100 >= largest)
            continue;
        const bool pastKept = rank >= keepLargest;
        const bool tooSmall = volumeTest && std::fabs(volumeOf(body)) < static_cast<double>(volumeLimit);
        if (pastKept || tooSmall) {
            isCrumb[body] = 1;
            crumbs.push_back(body);
        }
    }
    if (crumbs.empty())
        return 0;
    if (bodiesLeft != nullptr)
        *bodiesLeft = bodyCount - crumbs.size();

    if (removedTriangles != nullptr) {
        for (const std::uint32_t body : crumbs)
            *removedTriangles += bodyTriangles[body];
    }
    if (records != nullptr) {
        const std::size_t first = records->size();
        std::vector<std::uint32_t> recordOfBody(bodyCount, kNone);
        for (const std::uint32_t body : crumbs) {
            recordOfBody[body] = static_cast<std::uint32_t>(records->size() - first);
            CrumbRecord record;
            record.triangleCount = bodyTriangles[body];
            record.volume = volumeOf(body);
            records->push_back(record);
        }
        for (std::size_t t = 0; t < triangleCount; ++t) {
            if (!isCrumb[bodyOf[t]])
                continue;
            CrumbRecord& record = (*records)[first + recordOfBody[bodyOf[t]]];
            for (int k = 0; k < 3; ++k) {
                const Vec3 p = mesh.vertices[mesh.indices[3 * t + k]].position;
                record.boxMin = {std::min(record.boxMin.x, p.x), std::min(record.boxMin.y, p.y),
                                 std::min(record.boxMin.z, p.z)};
                record.boxMax = {std::max(record.boxMax.x, p.x), std::max(record.boxMax.y, p.y),
                                 std::max(record.boxMax.z, p.z)};
            }
        }
    }

    std::vector<std::uint32_t> kept;
    kept.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < triangleCount; ++t) {
        if (!isCrumb[bodyOf[t]])
            kept.insert(kept.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
    }
    mesh.indices.swap(kept);
    RemoveUnusedVertices(mesh);
    return crumbs.size();
}

std::vector<CrumbRecord> MeasureBodies(const TriangleMesh& mesh, std::span<const std::uint32_t> bodyOf,
                                       std::uint32_t bodyCount)
{
    std::vector<CrumbRecord> records(bodyCount);
    if (bodyOf.size() != mesh.TriangleCount() || !mesh.IsConsistent())
        return records;
    std::vector<BodyVolume> volumes(bodyCount);
    for (std::size_t t = 0; t < bodyOf.size(); ++t) {
        if (bodyOf[t] >= bodyCount)
            continue;
        CrumbRecord& record = records[bodyOf[t]];
        ++record.triangleCount;
        const Vec3 p[3] = {mesh.vertices[mesh.indices[3 * t]].position, mesh.vertices[mesh.indices[3 * t + 1]].position,
                           mesh.vertices[mesh.indices[3 * t + 2]].position};
        volumes[bodyOf[t]].Add(p[0], p[1], p[2]);
        const Vec3 n = Cross(p[1] - p[0], p[2] - p[0]);
        record.area += 0.5 * std::sqrt(static_cast<double>(n.x) * n.x + static_cast<double>(n.y) * n.y
                                       + static_cast<double>(n.z) * n.z);
        for (const Vec3 q : p) {
            record.boxMin = {std::min(record.boxMin.x, q.x), std::min(record.boxMin.y, q.y), std::min(record.boxMin.z, q.z)};
            record.boxMax = {std::max(record.boxMax.x, q.x), std::max(record.boxMax.y, q.y), std::max(record.boxMax.z, q.z)};
        }
    }
    for (std::size_t b = 0; b < records.size(); ++b)
        records[b].volume = volumes[b].Volume();
    return records;
}

bool IsCrumbSized(const CrumbRecord& body, float volumeLimit, float partDiagonal, double largestVolume)
{
    const double volume = std::fabs(body.volume);
    if (!(volumeLimit > 0.0f) || body.triangleCount == 0 || !(volume < volumeLimit)
        || !(volume < kCrumbShareOfLargest * std::fabs(largestVolume)))
        return false;
    const double cubeDiagonal = std::cbrt(static_cast<double>(volumeLimit)) * std::sqrt(3.0);
    const double reach = std::max(cubeDiagonal, kCrumbShareOfLargest * static_cast<double>(partDiagonal));
    return BoxDiagonal(body) <= reach;
}

bool IsClosedFragmentSized(const CrumbRecord& body, float volumeLimit, float partDiagonal, double largestVolume)
{
    const double volume = std::fabs(body.volume);
    const double side = kCrumbShareOfLargest * static_cast<double>(partDiagonal);
    const double limit = std::max(static_cast<double>(volumeLimit), side * side * side);
    if (!(volumeLimit > 0.0f) || body.triangleCount == 0 || !(volume < kCrumbShareOfLargest * std::fabs(largestVolume)))
        return false;
    return volume < limit || IsThinnerThanCubeSide(body, volumeLimit);
}

bool IsThinnerThanCubeSide(const CrumbRecord& body, float volumeLimit)
{
    return 3.0 * std::fabs(body.volume) < std::cbrt(static_cast<double>(volumeLimit)) * body.area;
}

RemovedBodySize ClassifyRemovedBody(const CrumbRecord& body, float volumeLimit)
{
    if (std::fabs(body.volume) < volumeLimit)
        return RemovedBodySize::underACube;
    if (IsThinnerThanCubeSide(body, volumeLimit))
        return RemovedBodySize::thinnerThanALine;
    return RemovedBodySize::smallBesideItsBody;
}

bool IsLargerBody(const CrumbRecord& a, std::uint32_t ia, const CrumbRecord& b, std::uint32_t ib)
{
    const double va = std::fabs(a.volume), vb = std::fabs(b.volume);
    if (va != vb)
        return va > vb;
    const double da = BoxDiagonal(a), db = BoxDiagonal(b);
    if (da != db)
        return da > db;
    if (a.triangleCount != b.triangleCount)
        return a.triangleCount > b.triangleCount;
    return ia < ib;
}

namespace {

// The largest body and the diagonal of the box round all of them.
std::pair<std::uint32_t, float> LargestAndReach(const std::vector<CrumbRecord>& bodies)
{
    CrumbRecord whole;
    std::uint32_t largest = 0;
    for (std::uint32_t b = 0; b < bodies.size(); ++b) {
        whole.triangleCount += bodies[b].triangleCount;
        whole.boxMin = {std::min(whole.boxMin.x, bodies[b].boxMin.x), std::min(whole.boxMin.y, bodies[b].boxMin.y),
                        std::min(whole.boxMin.z, bodies[b].boxMin.z)};
        whole.boxMax = {std::max(whole.boxMax.x, bodies[b].boxMax.x), std::max(whole.boxMax.y, bodies[b].boxMax.y),
                        std::max(whole.boxMax.z, bodies[b].boxMax.z)};
        if (IsLargerBody(bodies[b], b, bodies[largest], largest))
            largest = b;
    }
    return {largest, static_cast<float>(BoxDiagonal(whole))};
}


// Per body 1 when it is a fragment a split set loose: every earlier body it holds triangles of
// was broken into several pieces, and it is not the largest piece of any of them.
std::vector<std::uint8_t> MarkSplitFragments(std::span<const std::uint32_t> bodyOf,
                                             std::span<const std::uint32_t> bodyBefore,
                                             const std::vector<CrumbRecord>& bodies)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> links;  // (earlier body, body), distinct
    links.reserve(bodyOf.size());
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        links.emplace_back(bodyBefore[t], bodyOf[t]);
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());

    std::vector<std::uint8_t> fragment(bodies.size(), 1);
    for (std::size_t i = 0; i < links.size();) {
        std::size_t j = i;
        std::uint32_t main = links[i].second;
        while (j < links.size() && links[j].first == links[i].first) {
            const std::uint32_t b = links[j].second;
            if (IsLargerBody(bodies[b], b, bodies[main], main))
                main = b;
            ++j;
        }
        fragment[main] = 0;  // the earlier body goes on as this piece, whole or not
        i = j;
    }
    return fragment;
}

// What a fragment is measured against: the bodies that broke from the same earlier body.
struct BodyGroups {
    std::vector<std::uint32_t> groupOf;  // per body, its group
    std::vector<std::uint32_t> largest;  // per group, its largest body
    std::vector<float> reach;            // per group, the diagonal of the box round its bodies
};

// Groups the bodies by the earlier body each holds most triangles of (a tie goes to the lower
// label), so a large or far body elsewhere does not raise the limits for another's pieces.
BodyGroups GroupByEarlierBody(std::span<const std::uint32_t> bodyOf, std::span<const std::uint32_t> bodyBefore,
                              const std::vector<CrumbRecord>& bodies)
{
    std::vector<std::uint64_t> links;  // each triangle's vote for its earlier body
    links.reserve(bodyOf.size());
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        links.push_back(KeyedVote(bodyOf[t], bodyBefore[t]));
    const std::vector<std::uint32_t> label = MostCommonLabelPerKey(std::move(links), bodies.size(), 0);
    std::vector<std::uint32_t> labels = label;
    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());

    BodyGroups groups;
    groups.groupOf.resize(bodies.size());
    std::vector<CrumbRecord> boxes(labels.size());
    groups.largest.assign(labels.size(), std::numeric_limits<std::uint32_t>::max());
    for (std::uint32_t b = 0; b < bodies.size(); ++b) {
        const auto g = static_cast<std::uint32_t>(std::lower_bound(labels.begin(), labels.end(), label[b]) - labels.begin());
        groups.groupOf[b] = g;
        CrumbRecord& box = boxes[g];
        box.triangleCount += bodies[b].triangleCount;
        box.boxMin = {std::min(box.boxMin.x, bodies[b].boxMin.x), std::min(box.boxMin.y, bodies[b].boxMin.y),
                      std::min(box.boxMin.z, bodies[b].boxMin.z)};
        box.boxMax = {std::max(box.boxMax.x, bodies[b].boxMax.x), std::max(box.boxMax.y, bodies[b].boxMax.y),
                      std::max(box.boxMax.z, bodies[b].boxMax.z)};
        std::uint32_t& largest = groups.largest[g];
        if (largest == std::numeric_limits<std::uint32_t>::max() || IsLargerBody(bodies[b], b, bodies[largest], largest))
            largest = b;
    }
    for (const CrumbRecord& box : boxes)
        groups.reach.push_back(static_cast<float>(BoxDiagonal(box)));
    return groups;
}

}  // namespace

StrayBodyReport RemoveStrayBodies(TriangleMesh& mesh, const StrayBodyOptions& options)
{
    StrayBodyReport report;
    const bool split = !options.bodyBeforeSplit.empty();
    if (!split && !options.removeCrumbs)
        return report;
    std::uint32_t bodyCount = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(mesh, bodyCount);
    report.bodiesLeft = bodyCount;
    if (bodyCount < 2 || (split && options.bodyBeforeSplit.size() != bodyOf.size()))
        return report;
    const std::vector<CrumbRecord> bodies = MeasureBodies(mesh, bodyOf, bodyCount);

    const std::pair<std::uint32_t, float> measured = LargestAndReach(bodies);
    const std::uint32_t largest = measured.first;
    const float partDiagonal = measured.second;
    const std::vector<std::uint8_t> fragment = split ? MarkSplitFragments(bodyOf, options.bodyBeforeSplit, bodies)
                                                     : std::vector<std::uint8_t>(bodyCount, 0);
    const bool anyFragment = std::find(fragment.begin(), fragment.end(), std::uint8_t{1}) != fragment.end();
    const BodyGroups groups = anyFragment ? GroupByEarlierBody(bodyOf, options.bodyBeforeSplit, bodies) : BodyGroups{};

    // A body of the part is taken for a crumb only when it also has under a hundredth of the
    // most triangles any body has: one drawn that finely for its size was drawn on purpose.
    std::uint64_t mostTriangles = 0;
    for (const CrumbRecord& body : bodies)
        mostTriangles = std::max(mostTriangles, body.triangleCount);
    std::vector<std::uint8_t> remove(bodyCount, 0);
    std::vector<std::uint32_t> removed;
    for (std::uint32_t b = 0; b < bodyCount; ++b) {
        if (b == largest)
            continue;
        // A fragment is small or not by the body it broke from, a body of the part by the whole
        // part. A body that holds less than a crumb shelters its pieces no more than a crumb
        // would, unless the whole part is drawn that small.
        float reach = partDiagonal;
        double largestVolume = std::fabs(bodies[largest].volume);
        if (fragment[b]) {
            const std::uint32_t g = groups.groupOf[b];
            reach = groups.reach[g];
            largestVolume = std::max(std::fabs(bodies[groups.largest[g]].volume),
                                     std::min(static_cast<double>(options.volumeLimit), largestVolume));
        }
        const bool small = IsCrumbSized(bodies[b], options.volumeLimit, reach, largestVolume)
            || (fragment[b] && options.closedBodies
                && IsClosedFragmentSized(bodies[b], options.volumeLimit, reach, largestVolume));
        if (!small)
            continue;
        if (!fragment[b] && !options.removeCrumbs)
            continue;
        // Drawn that finely it was drawn on purpose, whatever it touches or was split from; only
        // a rebuild's fragments, whose triangles follow the rebuild's size, go by size alone.
        if ((!fragment[b] || !options.closedBodies) && bodies[b].triangleCount * 100 >= mostTriangles)
            continue;
        remove[b] = 1;
        removed.push_back(b);
        report.fragmentsRemoved += fragment[b];
        report.trianglesRemoved += bodies[b].triangleCount;
    }
    if (removed.empty())
        return report;
    std::stable_sort(removed.begin(), removed.end(),
        [&](std::uint32_t a, std::uint32_t b) { return IsLargerBody(bodies[a], a, bodies[b], b); });
    for (const std::uint32_t b : removed)
        report.removed.push_back(bodies[b]);
    report.bodiesRemoved = removed.size();
    report.bodiesLeft = bodyCount - removed.size();

    std::vector<std::uint32_t> kept;
    kept.reserve(mesh.indices.size());
    for (std::size_t t = 0; t < bodyOf.size(); ++t) {
        if (!remove[bodyOf[t]])
            kept.insert(kept.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
    }
    mesh.indices.swap(kept);
    RemoveUnusedVertices(mesh);
    return report;
}

std::vector<std::vector<Vec3>> SampleBodyCorners(const TriangleMesh& mesh, std::span<const std::uint32_t> bodyOf,
    std::uint32_t bodyCount)
{
    std::vector<std::uint64_t> triangles(bodyCount, 0);
    for (const std::uint32_t b : bodyOf)
        ++triangles[b];
    std::vector<std::uint64_t> seen(bodyCount, 0);
    std::vector<std::vector<Vec3>> samples(bodyCount);
    for (std::size_t t = 0; t < bodyOf.size(); ++t) {
        const std::uint32_t b = bodyOf[t];
        const std::uint64_t step = std::max<std::uint64_t>(1, triangles[b] / kSourceSamplesPerBody);
        if (seen[b]++ % step == 0 && samples[b].size() < kSourceSamplesPerBody)
            samples[b].push_back(mesh.vertices[mesh.indices[3 * t]].position);
    }
    return samples;
}

std::vector<std::uint32_t> LabelSourceBodiesAt(const TriangleMesh& result, std::span<const std::uint32_t> resultBodyOf,
    std::uint32_t resultBodyCount, const TriangleMesh& source, const AabbTree* sourceTree)
{
    std::uint32_t sourceBodies = 0;
    const std::vector<std::uint32_t> sourceBodyOf = LabelBodies(source, sourceBodies);
    if (sourceBodies == 0 || resultBodyCount == 0 || resultBodyOf.size() != result.TriangleCount()
        || !result.IsConsistent())
        return {};
    std::unique_ptr<AabbTree> ownTree;
    if (sourceTree == nullptr) {
        ownTree = std::make_unique<AabbTree>();
        ownTree->Build(source);
        sourceTree = ownTree.get();
    }
    const std::vector<std::vector<Vec3>> samples = SampleBodyCorners(result, resultBodyOf, resultBodyCount);
    std::vector<std::uint32_t> at(resultBodyCount, 0);
    ParallelFor(resultBodyCount, [&](std::size_t b) {
        std::vector<std::uint32_t> nearest;
        for (const Vec3 p : samples[b]) {
            const NearestHit hit = sourceTree->Nearest(source, p, {}, {}, kNoDistanceLimit);
            if (hit.found && hit.triangle >= 0)
                nearest.push_back(sourceBodyOf[static_cast<std::size_t>(hit.triangle)]);
        }
        at[b] = MostCommonLabel(std::move(nearest), 0);
    }, 4);
    std::vector<std::uint32_t> labels(resultBodyOf.size());
    for (std::size_t t = 0; t < labels.size(); ++t)
        labels[t] = at[resultBodyOf[t]];
    return labels;
}

StrayBodyReport RemoveLooseFragments(TriangleMesh& result, const TriangleMesh& source, float volumeLimit,
    const AabbTree* sourceTree)
{
    std::uint32_t bodyCount = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(result, bodyCount);
    StrayBodyReport report;
    report.bodiesLeft = bodyCount;
    if (bodyCount < 2)
        return report;
    // The source bodies are looked for only when something could go.
    const std::vector<CrumbRecord> bodies = MeasureBodies(result, bodyOf, bodyCount);
    const std::pair<std::uint32_t, float> measured = LargestAndReach(bodies);
    const std::uint32_t largest = measured.first;
    const float partDiagonal = measured.second;
    bool anyCrumb = false;
    for (std::uint32_t b = 0; b < bodyCount && !anyCrumb; ++b)
        anyCrumb = b != largest
            && (IsCrumbSized(bodies[b], volumeLimit, partDiagonal, bodies[largest].volume)
                || IsClosedFragmentSized(bodies[b], volumeLimit, partDiagonal, bodies[largest].volume));
    if (!anyCrumb)
        return report;
    std::vector<std::uint32_t> sourceBody = LabelSourceBodiesAt(result, bodyOf, bodyCount, source, sourceTree);
    if (sourceBody.empty())
        return report;
    // Where the rebuild joined a body of the part into another, only a sliver may be left lying
    // at it: a closed fragment under a tenth of that body's reach is not the body, and is judged
    // as a fragment of the part's largest.
    std::uint32_t sourceCount = 0;
    const std::vector<std::uint32_t> sourceOf = LabelBodies(source, sourceCount);
    const std::vector<CrumbRecord> sourceBodies = MeasureBodies(source, sourceOf, sourceCount);
    std::vector<std::uint32_t> atBody(bodyCount, std::numeric_limits<std::uint32_t>::max());
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        atBody[bodyOf[t]] = sourceBody[t];
    std::vector<std::uint8_t> notTheBody(bodyCount, 0);
    for (std::uint32_t b = 0; b < bodyCount; ++b)
        notTheBody[b] = b != largest && atBody[b] < sourceCount && atBody[b] != atBody[largest]
            && IsClosedFragmentSized(bodies[b], volumeLimit, partDiagonal, bodies[largest].volume)
            && 10.0 * BoxDiagonal(bodies[b]) < BoxDiagonal(sourceBodies[atBody[b]]);
    for (std::size_t t = 0; t < bodyOf.size(); ++t)
        if (notTheBody[bodyOf[t]])
            sourceBody[t] = atBody[largest];
    return RemoveStrayBodies(result,
        {.removeCrumbs = false, .bodyBeforeSplit = sourceBody, .volumeLimit = volumeLimit, .closedBodies = true});
}

std::string FormatLargestRemovedBody(std::span<const CrumbRecord> removed, bool withVolume)
{
    if (removed.empty())
        return {};
    return (removed.size() == 1 ? std::string() : std::string("the largest "))
        + FormatBodySizeAndPlace(SummariseRemovedBodies(removed).largest, withVolume);
}

RemovedBodiesSummary SummariseRemovedBodies(std::span<const CrumbRecord> removed)
{
    RemovedBodiesSummary summary;
    for (std::size_t i = 0; i < removed.size(); ++i) {
        summary.totalVolume += std::fabs(removed[i].volume);
        if (i == 0 || IsLargerBody(removed[i], static_cast<std::uint32_t>(i), summary.largest, 0))
            summary.largest = removed[i];
    }
    return summary;
}

std::string FormatBodySizeAndPlace(const CrumbRecord& body, bool withVolume)
{
    const Vec3 size = body.boxMax - body.boxMin;
    const Vec3 centre = (body.boxMin + body.boxMax) * 0.5f;
    return FormatSize3(size.x, size.y, size.z) + " at (" + FormatFixed(centre.x, 2) + ", " + FormatFixed(centre.y, 2)
        + ", " + FormatFixed(centre.z, 2) + ")"
        + (withVolume ? ", " + FormatVolume(std::fabs(body.volume)) + " mm3" : std::string());
}

bool IsNoAreaTriangle(const TriangleMesh& mesh, std::uint64_t triangle)
{
    if (!IsZero(mesh.FaceNormal(triangle)))
        return false;
    // FaceNormal gave zero also for an out-of-range triangle; that is no no-area triangle.
    if (triangle >= mesh.TriangleCount())
        return false;
    const std::size_t base = 3 * static_cast<std::size_t>(triangle);
    for (int k = 0; k < 3; ++k) {
        if (mesh.indices[base + k] >= mesh.vertices.size())
            return false;
    }
    const Vec3 p0 = mesh.vertices[mesh.indices[base]].position;
    const Vec3 p1 = mesh.vertices[mesh.indices[base + 1]].position;
    const Vec3 p2 = mesh.vertices[mesh.indices[base + 2]].position;
    return Length(p1 - p0) > 0.0f && Length(p2 - p1) > 0.0f && Length(p0 - p2) > 0.0f;
}

std::uint64_t RemoveNoAreaTriangles(TriangleMesh& mesh)
{
    if (!mesh.IsConsistent() || mesh.TriangleCount() > 0xFFFFFFFFull)
        return 0;
    const std::size_t triangleCount = mesh.TriangleCount();
    auto& idx = mesh.indices;
    const auto position = [&](std::uint32_t v) { return mesh.vertices[v].position; };

    std::uint64_t total = 0;
    std::vector<std::uint8_t> touched(mesh.vertices.size(), 0);
    for (int sweep = 0; sweep < 8; ++sweep) {
        std::vector<std::uint32_t> flat;
        for (std::size_t t = 0; t < triangleCount; ++t) {
            if (IsNoAreaTriangle(mesh, t))
                flat.push_back(static_cast<std::uint32_t>(t));
        }
        if (flat.empty())
            break;
        const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
        std::fill(touched.begin(), touched.end(), std::uint8_t{0});
        const auto edgeExists = [&](std::uint32_t x, std::uint32_t y) {
            const EdgeKey key = MakeEdgeKey(x, y);
            const auto it = std::lower_bound(table.begin(), table.end(), key,
                [](const EdgeRecord& r, EdgeKey k) { return r.key < k; });
            return it != table.end() && it->key == key;
        };

        std::uint64_t turns = 0;
        for (const std::uint32_t t : flat) {
            const std::size_t tb = 3 * std::size_t{t};
            const std::uint32_t corners[3] = {idx[tb], idx[tb + 1], idx[tb + 2]};
            int k = 0;
            float longest = -1.0f;
            for (int e = 0; e < 3; ++e) {
                const float length = Length(position(corners[(e + 1) % 3]) - position(corners[e]));
                if (length > longest) {
                    longest = length;
                    k = e;
                }
            }
            const std::uint32_t a = corners[k];
            const std::uint32_t b = corners[(k + 1) % 3];
            const std::uint32_t c = corners[(k + 2) % 3];

            const std::vector<std::uint32_t> onEdge = TrianglesOnEdge(table, MakeEdgeKey(a, b));
            if (onEdge.size() != 2)
                continue;
            const std::uint32_t u = onEdge[0] == t ? onEdge[1] : onEdge[0];
            if (u == t)
                continue;
            const std::size_t ub = 3 * std::size_t{u};
            const std::uint32_t uc[3] = {idx[ub], idx[ub + 1], idx[ub + 2]};
            int j = -1;
            for (int m = 0; m < 3; ++m) {
                if (uc[m] == b && uc[(m + 1) % 3] == a)
                    j = m;
            }
            if (j < 0)
                continue;
            const std::uint32_t d = uc[(j + 2) % 3];
            if (d == c || touched[a] || touched[b] || touched[c] || touched[d] || edgeExists(c, d))
                continue;

            const Vec3 pa = position(a), pb = position(b), pc = position(c), pd = position(d);
            const Vec3 n = Cross(pa - pb, pd - pb);
            if (IsZero(n))
                continue;
            if (!(Dot(Cross(pd - pa, pc - pa), n) > 0.0f) || !(Dot(Cross(pb - pd, pc - pd), n) > 0.0f))
                continue;

            idx[tb] = a, idx[tb + 1] = d, idx[tb + 2] = c;
            idx[ub] = d, idx[ub + 1] = b, idx[ub + 2] = c;
            if (IsNoAreaTriangle(mesh, t) || IsNoAreaTriangle(mesh, u)) {
                idx[tb] = corners[0], idx[tb + 1] = corners[1], idx[tb + 2] = corners[2];
                idx[ub] = b, idx[ub + 1] = a, idx[ub + 2] = d;
                continue;
            }
            touched[a] = touched[b] = touched[c] = touched[d] = 1;
            ++turns;
        }
        total += turns;
        if (turns == 0)
            break;
    }
    return total;
}

}  // namespace grainforge::mesh
