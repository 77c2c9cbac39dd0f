#include "engine/remesh/contour_clusters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace grainforge::mesh {
namespace {

float Coordinate(Vec3 p, int axis) { return axis == 0 ? p.x : (axis == 1 ? p.y : p.z); }

struct TriangleBox {
    std::array<float, 3> low;
    std::array<float, 3> high;
};

// Buckets the coverage test may use at most; past that the sort alone decides.
constexpr double kMostBuckets = 1 << 22;

// Whether the boxes of order[begin, end) leave no gap wider than `gap` along `axis`, told
// without sorting: buckets of half the gap, each marked where a box reaches it; a gap wider than
// two buckets holds a whole bucket no box reaches. False when unsure.
bool SurelyUncut(const std::vector<std::uint32_t>& order, std::size_t begin, std::size_t end,
    const std::vector<TriangleBox>& boxes, int axis, double gap)
{
    double low = boxes[order[begin]].low[axis];
    double high = boxes[order[begin]].high[axis];
    for (std::size_t i = begin; i < end; ++i) {
        low = std::min(low, static_cast<double>(boxes[order[i]].low[axis]));
        high = std::max(high, static_cast<double>(boxes[order[i]].high[axis]));
    }
    const double bucket = gap / 2.0;
    const double buckets = std::floor((high - low) / bucket) + 1.0;
    if (!(bucket > 0.0) || !(buckets <= kMostBuckets))
        return false;
    std::vector<std::int64_t> starts(static_cast<std::size_t>(buckets) + 1, 0);
    const auto at = [&](double x) {
        return std::min(static_cast<std::size_t>(std::floor((x - low) / bucket)), starts.size() - 2);
    };
    for (std::size_t i = begin; i < end; ++i) {
        const TriangleBox& box = boxes[order[i]];
        ++starts[at(box.low[axis])];
        --starts[at(box.high[axis]) + 1];
    }
    std::int64_t covering = 0;
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        covering += starts[b];
        if (covering == 0)
            return false;
    }
    return true;
}

// Cuts order[begin, end) along `axis` where a gap wider than `gap` separates the boxes; the
// ranges found, in order, or none when nothing cuts.
std::vector<std::pair<std::size_t, std::size_t>> CutAlong(std::vector<std::uint32_t>& order,
    std::size_t begin, std::size_t end, const std::vector<TriangleBox>& boxes, int axis, double gap)
{
    if (SurelyUncut(order, begin, end, boxes, axis, gap))
        return {};
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(begin), order.begin() + static_cast<std::ptrdiff_t>(end),
        [&](std::uint32_t a, std::uint32_t b) {
            return boxes[a].low[axis] != boxes[b].low[axis] ? boxes[a].low[axis] < boxes[b].low[axis] : a < b;
        });
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t start = begin;
    double reach = boxes[order[begin]].high[axis];
    for (std::size_t i = begin + 1; i < end; ++i) {
        const TriangleBox& box = boxes[order[i]];
        if (static_cast<double>(box.low[axis]) - reach > gap) {
            ranges.emplace_back(start, i);
            start = i;
        }
        reach = std::max(reach, static_cast<double>(box.high[axis]));
    }
    if (ranges.empty())
        return ranges;
    ranges.emplace_back(start, end);
    return ranges;
}

}  // namespace

std::vector<MeshCluster> FindMeshClusters(const TriangleMesh& mesh, float gap)
{
    const std::size_t triangles = mesh.TriangleCount();
    if (!mesh.IsConsistent() || triangles == 0)
        return {};
    std::vector<TriangleBox> boxes(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        for (int axis = 0; axis < 3; ++axis) {
            float low = Coordinate(mesh.vertices[mesh.indices[3 * t]].position, axis);
            float high = low;
            for (int k = 1; k < 3; ++k) {
                const float c = Coordinate(mesh.vertices[mesh.indices[3 * t + k]].position, axis);
                low = std::min(low, c);
                high = std::max(high, c);
            }
            if (!std::isfinite(low) || !std::isfinite(high))
                return {};
            boxes[t].low[axis] = low;
            boxes[t].high[axis] = high;
        }
    }
    std::vector<std::uint32_t> order(triangles);
    for (std::size_t t = 0; t < triangles; ++t)
        order[t] = static_cast<std::uint32_t>(t);
    std::vector<MeshCluster> clusters;
    std::vector<std::pair<std::size_t, std::size_t>> work{{0, triangles}};
    while (!work.empty()) {
        const auto [begin, end] = work.back();
        work.pop_back();
        bool cut = false;
        for (int axis = 0; axis < 3 && !cut; ++axis) {
            const auto ranges = CutAlong(order, begin, end, boxes, axis, static_cast<double>(gap));
            cut = !ranges.empty();
            work.insert(work.end(), ranges.begin(), ranges.end());
        }
        if (cut)
            continue;
        MeshCluster cluster;
        cluster.triangles.assign(order.begin() + static_cast<std::ptrdiff_t>(begin),
            order.begin() + static_cast<std::ptrdiff_t>(end));
        // A range no cut ever sorted is still in triangle order: most parts are one group.
        if (!std::is_sorted(cluster.triangles.begin(), cluster.triangles.end()))
            std::sort(cluster.triangles.begin(), cluster.triangles.end());
        TriangleBox box = boxes[cluster.triangles.front()];
        for (std::uint32_t t : cluster.triangles)
            for (int axis = 0; axis < 3; ++axis) {
                box.low[axis] = std::min(box.low[axis], boxes[t].low[axis]);
                box.high[axis] = std::max(box.high[axis], boxes[t].high[axis]);
            }
        cluster.boundsMin = {box.low[0], box.low[1], box.low[2]};
        cluster.boundsMax = {box.high[0], box.high[1], box.high[2]};
        clusters.push_back(std::move(cluster));
    }
    std::sort(clusters.begin(), clusters.end(),
        [](const MeshCluster& a, const MeshCluster& b) { return a.triangles.front() < b.triangles.front(); });
    return clusters;
}

float GridCellFor(Vec3 extent, float cell)
{
    const float finest = std::max({extent.x, extent.y, extent.z}) / kMostCellsAcross;
    return finest > cell ? finest : cell;
}

std::vector<MeshCluster> ClustersNeedingOwnGrids(const TriangleMesh& mesh, float cell)
{
    if (!mesh.boundsValid || !(GridCellFor(mesh.boundsMax - mesh.boundsMin, cell) > cell))
        return {};
    // A group whose own size raises its cell needs a gap of its coarser cells round it: cut
    // again at that gap until no group is coarser than the gap assumed.
    float coarsest = cell;
    for (;;) {
        std::vector<MeshCluster> clusters = FindMeshClusters(mesh, kClusterGapCells * coarsest);
        float widest = cell;
        for (const MeshCluster& cluster : clusters)
            widest = std::max(widest, GridCellFor(cluster.boundsMax - cluster.boundsMin, cell));
        if (!(widest > coarsest))
            return clusters.size() > 1 ? clusters : std::vector<MeshCluster>{};
        coarsest = widest;
    }
}

TriangleMesh ClusterMesh(const TriangleMesh& mesh, const MeshCluster& cluster,
    std::vector<std::uint32_t>* sourceVertices)
{
    constexpr std::uint32_t kUnset = 0xffffffffu;
    std::vector<std::uint32_t> local(mesh.vertices.size(), kUnset);
    std::vector<std::uint32_t> sources;
    TriangleMesh part;
    part.indices.reserve(3 * cluster.triangles.size());
    for (std::uint32_t t : cluster.triangles) {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = mesh.indices[3 * static_cast<std::size_t>(t) + static_cast<std::size_t>(k)];
            if (local[v] == kUnset) {
                local[v] = static_cast<std::uint32_t>(part.vertices.size());
                part.vertices.push_back(mesh.vertices[v]);
                sources.push_back(v);
            }
            part.indices.push_back(local[v]);
        }
    }
    part.ComputeBounds();
    if (sourceVertices != nullptr)
        *sourceVertices = std::move(sources);
    return part;
}

void AppendMesh(TriangleMesh& mesh, const TriangleMesh& part)
{
    const std::uint32_t first = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.insert(mesh.vertices.end(), part.vertices.begin(), part.vertices.end());
    mesh.indices.reserve(mesh.indices.size() + part.indices.size());
    for (std::uint32_t i : part.indices)
        mesh.indices.push_back(first + i);
    mesh.boundsValid = false;
}

}  // namespace grainforge::mesh
