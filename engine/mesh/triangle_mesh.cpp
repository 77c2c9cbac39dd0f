#include "engine/mesh/triangle_mesh.h"

#include "engine/mesh/hash_partition.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/vertex_chunks.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>

namespace grainforge::mesh {
namespace {

// Elements per block of the simple per-element loops.
constexpr std::size_t kGrain = 32768;

// Out of 120003 indices (40001 triangles) one triangle is sampled for the median edge length.
constexpr std::size_t kMedianSampleIndices = 120003;

// (p1 - p0) x (p2 - p0) of triangle t. Raw pointers: loops that also write the mesh's
// vertices would otherwise reload the vectors' members after every store.
Vec3 TriangleCross(const MeshVertex* vertices, const std::uint32_t* indices, std::size_t t)
{
    const Vec3 p0 = vertices[indices[3 * t]].position;
    const Vec3 p1 = vertices[indices[3 * t + 1]].position;
    const Vec3 p2 = vertices[indices[3 * t + 2]].position;
    return Cross(p1 - p0, p2 - p0);
}

// The literal definition: one triangle after the other, each adding its cross product to its
// corners. Used when the index count does not fit the 32-bit corner numbers of the parallel
// method.
void AccumulateNormalsSerially(TriangleMesh& mesh)
{
    MeshVertex* vertices = mesh.vertices.data();
    const std::uint32_t* indices = mesh.indices.data();
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 n = TriangleCross(vertices, indices, t);
        for (std::size_t k = 0; k < 3; ++k)
            vertices[indices[3 * t + k]].normal += n;
    }
    for (MeshVertex& vertex : mesh.vertices)
        vertex.normal = Normalized(vertex.normal);
}

// Each vertex must receive its triangles' cross products in triangle order (then corner order)
// for its float sum to match the serial definition bit for bit. The corners are therefore
// partitioned stably into buckets of consecutive vertices: each bucket lists its corners in
// ascending corner order, so summing a bucket's corners in list order adds, per vertex, the
// same terms in the same order as the serial loop. Buckets own disjoint vertices and run in
// parallel.
void AccumulateNormalsByVertexBuckets(TriangleMesh& mesh)
{
    const std::size_t triangles = mesh.TriangleCount();
    const std::size_t vertexCount = mesh.vertices.size();
    MeshVertex* vertices = mesh.vertices.data();
    const std::uint32_t* indices = mesh.indices.data();
    auto faceCross = std::make_unique_for_overwrite<Vec3[]>(triangles);
    ParallelFor(triangles, [&](std::size_t t) { faceCross[t] = TriangleCross(vertices, indices, t); }, kGrain);

    // Buckets of 2^shift vertices, at most 4096 buckets.
    const unsigned vertexBits = static_cast<unsigned>(std::bit_width(vertexCount));
    const unsigned shift = vertexBits > 12 ? vertexBits - 12 : 0;
    const std::size_t buckets = ((vertexCount - 1) >> shift) + 1;
    const auto corners = detail::PartitionStable<std::uint32_t>(
        mesh.indices.size(), buckets, [&](std::size_t c) { return std::size_t{indices[c]} >> shift; },
        [](std::size_t c) { return static_cast<std::uint32_t>(c); });

    ParallelForBlocks(buckets, 1, [&](std::size_t bucketBegin, std::size_t bucketEnd) {
        std::vector<Vec3> sums;
        for (std::size_t b = bucketBegin; b < bucketEnd; ++b) {
            const std::size_t first = b << shift;
            const std::size_t last = std::min(vertexCount, (b + 1) << shift);
            sums.assign(last - first, Vec3{});
            for (std::size_t e = corners.offsets[b]; e < corners.offsets[b + 1]; ++e) {
                const std::uint32_t corner = corners.entries[e];
                sums[indices[corner] - first] += faceCross[corner / 3];
            }
            for (std::size_t v = first; v < last; ++v)
                vertices[v].normal = Normalized(sums[v - first]);
        }
    });
}

// The same sums gathered per vertex chunk: each chunk walks the triangles that touch it in
// ascending order and adds each cross product to its own corners, in corner order, so every
// vertex sees the serial loop's terms in the serial loop's order. Sums build up in the
// vertices' own normal fields; chunks own disjoint vertices. Returns false, touching nothing,
// when the indices are too scattered for chunks.
bool AccumulateNormalsByVertexChunks(TriangleMesh& mesh)
{
    detail::VertexChunks chunks;
    if (!detail::GroupTrianglesByVertexChunk(mesh.indices.data(), mesh.TriangleCount(), mesh.vertices.size(), chunks))
        return false;
    const std::uint32_t* indices = mesh.indices.data();
    MeshVertex* vertices = mesh.vertices.data();
    const std::size_t vertexCount = mesh.vertices.size();
    ParallelFor(chunks.chunks, [&](std::size_t c) {
        const std::size_t first = chunks.FirstVertex(c);
        const std::size_t last = std::min(vertexCount, chunks.FirstVertex(c + 1));
        for (std::size_t v = first; v < last; ++v)
            vertices[v].normal = {};
        chunks.ForEachTriangle(c, [&](std::size_t t) {
            const std::uint32_t i0 = indices[3 * t], i1 = indices[3 * t + 1], i2 = indices[3 * t + 2];
            const bool own0 = chunks.ChunkOf(i0) == c;
            const bool own1 = chunks.ChunkOf(i1) == c;
            const bool own2 = chunks.ChunkOf(i2) == c;
            if (!(own0 | own1 | own2))
                return;
            const Vec3 p0 = vertices[i0].position;
            const Vec3 n = Cross(vertices[i1].position - p0, vertices[i2].position - p0);
            if (own0)
                vertices[i0].normal += n;
            if (own1)
                vertices[i1].normal += n;
            if (own2)
                vertices[i2].normal += n;
        });
        for (std::size_t v = first; v < last; ++v)
            vertices[v].normal = Normalized(vertices[v].normal);
    }, 1);
    return true;
}

// Root of x with path halving.
std::uint32_t FindRoot(std::uint32_t* parent, std::uint32_t x)
{
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Use counts per edge key, in open addressing with a probe order chosen for meshes: the table
// has a bin of eight slots for each value of the lower vertex's low bits, and a key first
// tries the slots of its bin. Triangles near each other in the index array use nearby
// vertices, so their edges land in nearby bins and the probes stay in cache. After its bin a
// key goes on in steps set by its own hash (double hashing), so a vertex of very high degree
// (a fan's centre) spreads out instead of piling up.
//
// Insert and increment write the same slot (key, uses + 1), so the probe loop branches only
// on a taken slot of another key, which at the load kept here (at most half) is rare and
// predictable. A slot with no uses is empty (every key, even 0, can occur).
class EdgeUseTable {
public:
    // Prepares for about `expectedKeys` keys. The table must be empty: new, or tallied.
    void Reserve(std::size_t expectedKeys)
    {
        const std::size_t size = std::bit_ceil(std::max<std::size_t>(2 * expectedKeys, 64));
        if (size != slots_.size())
            slots_.assign(size, Slot{});
        taken_.clear();
    }

    void Add(EdgeKey key)
    {
        if (2 * (taken_.size() + 1) > slots_.size())
            Grow();
        const std::size_t index = Find(key);
        Slot& slot = slots_[index];
        if (slot.uses == 0)
            taken_.push_back(static_cast<std::uint32_t>(index));
        slot.key = key;
        ++slot.uses;
    }

    // Adds the table's keys to `counts` and empties the table for the next Reserve. Only the
    // taken slots are visited: a table is mostly empty.
    void Tally(EdgeCounts& counts)
    {
        counts.edges += taken_.size();
        for (std::uint32_t index : taken_) {
            const std::uint64_t uses = slots_[index].uses;
            counts.boundary += uses == 1 ? 1 : 0;
            counts.manifold += uses == 2 ? 1 : 0;
            counts.nonManifold += uses > 2 ? 1 : 0;
            slots_[index] = Slot{};
        }
        taken_.clear();
    }

private:
    static constexpr unsigned kBinBits = 3;

    struct Slot {
        EdgeKey key = 0;
        std::uint64_t uses = 0;
    };

    std::size_t Find(EdgeKey key) const
    {
        const std::size_t mask = slots_.size() - 1;
        const std::uint64_t hash = detail::Mix64(key & 0xffffffffULL);  // the higher vertex
        const std::size_t bin = ((key >> 32) << kBinBits) & mask;
        const std::size_t offset = hash >> (64 - kBinBits);
        std::size_t slot = bin | offset;
        for (std::size_t i = 1; i < (std::size_t{1} << kBinBits); ++i) {
            if (IsFor(slot, key))
                return slot;
            slot = bin | ((offset + i) & ((std::size_t{1} << kBinBits) - 1));
        }
        const std::size_t step = (hash >> 16) | 1;  // odd: the steps visit every slot
        while (!IsFor(slot, key))
            slot = (slot + step) & mask;
        return slot;
    }

    bool IsFor(std::size_t slot, EdgeKey key) const
    {
        return slots_[slot].uses == 0 || slots_[slot].key == key;
    }

    void Grow()
    {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(2 * old.size(), Slot{});
        for (std::uint32_t& index : taken_) {
            const Slot slot = old[index];
            index = static_cast<std::uint32_t>(Find(slot.key));
            slots_[index] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::vector<std::uint32_t> taken_;  // slots in use, in order of first use
};

void AddCounts(EdgeCounts& total, const EdgeCounts& part)
{
    total.edges += part.edges;
    total.boundary += part.boundary;
    total.manifold += part.manifold;
    total.nonManifold += part.nonManifold;
}

// Key of edge use u: triangle u / 3, corner pairs 0-1, 1-2, 0-2 for u % 3 = 0, 1, 2.
EdgeKey EdgeKeyOfUse(const std::uint32_t* indices, std::size_t u)
{
    const std::size_t other = u % 3 == 2 ? u - 2 : u + 1;
    return MakeEdgeKey(indices[u], indices[other]);
}

// Edge counts with each edge counted by the chunk of its lower vertex: every key meets all its
// uses in one chunk's table. The totals are sums of integers, independent of the order.
bool CountEdgesByVertexChunks(const TriangleMesh& mesh, EdgeCounts& counts)
{
    detail::VertexChunks chunks;
    if (!detail::GroupTrianglesByVertexChunk(mesh.indices.data(), mesh.TriangleCount(), mesh.vertices.size(), chunks))
        return false;
    const std::uint32_t* indices = mesh.indices.data();
    std::vector<EdgeCounts> perChunk(chunks.chunks);
    // Several chunks a block, so each block's table is reused.
    const std::size_t grain = std::max<std::size_t>(1, chunks.chunks / 32);
    ParallelForBlocks(chunks.chunks, grain, [&](std::size_t chunkBegin, std::size_t chunkEnd) {
        EdgeUseTable table;
        for (std::size_t c = chunkBegin; c < chunkEnd; ++c) {
            table.Reserve(std::size_t{3} << chunks.shift);  // about three edges a vertex
            chunks.ForEachTriangle(c, [&](std::size_t t) {
                const std::uint32_t* corner = indices + 3 * t;
                for (auto [a, b] : {std::pair{corner[0], corner[1]}, std::pair{corner[1], corner[2]}, std::pair{corner[0], corner[2]}}) {
                    if (chunks.ChunkOf(std::min(a, b)) == c)
                        table.Add(MakeEdgeKey(a, b));
                }
            });
            table.Tally(perChunk[c]);
        }
    });
    for (const EdgeCounts& part : perChunk)
        AddCounts(counts, part);
    return true;
}

// Edge counts through a hash partition of the edge uses, for meshes whose indices are too
// scattered for vertex chunks. Equal keys land in the same bucket.
EdgeCounts CountEdgesByHashBuckets(const TriangleMesh& mesh)
{
    const std::uint32_t* indices = mesh.indices.data();
    const std::size_t uses = mesh.indices.size();
    const unsigned bits = detail::BucketBitsFor(uses);
    const std::size_t buckets = std::size_t{1} << bits;
    const auto parts = detail::PartitionStable<EdgeKey>(
        uses, buckets, [&](std::size_t u) { return detail::BucketOfHash(detail::Mix64(EdgeKeyOfUse(indices, u)), bits); },
        [&](std::size_t u) { return EdgeKeyOfUse(indices, u); });
    std::vector<EdgeCounts> perBucket(buckets);
    ParallelForBlocks(buckets, 1, [&](std::size_t bucketBegin, std::size_t bucketEnd) {
        EdgeUseTable table;
        for (std::size_t b = bucketBegin; b < bucketEnd; ++b) {
            table.Reserve(parts.offsets[b + 1] - parts.offsets[b]);
            for (std::size_t e = parts.offsets[b]; e < parts.offsets[b + 1]; ++e)
                table.Add(parts.entries[e]);
            table.Tally(perBucket[b]);
        }
    });
    EdgeCounts counts;
    for (const EdgeCounts& part : perBucket)
        AddCounts(counts, part);
    return counts;
}

}  // namespace

Vec3 Normalized(Vec3 v)
{
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length > 1e-12f)
        return v * (1.0f / length);
    return {};
}

bool HasOnlyFiniteCoordinates(const TriangleMesh& mesh)
{
    std::atomic<bool> infinite{false};
    ParallelForBlocks(mesh.vertices.size(), 4 * kGrain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t v = begin; v < end && !infinite.load(std::memory_order_relaxed); ++v) {
            if (!IsFinite(mesh.vertices[v].position))
                infinite.store(true, std::memory_order_relaxed);
        }
    });
    return !infinite.load();
}

bool TriangleMesh::IsConsistent() const
{
    if (indices.size() % 3 != 0)
        return false;
    // Which index fails first does not change the answer, so blocks check their maximum.
    std::atomic<bool> failed{false};
    const std::size_t vertexCount = vertices.size();
    ParallelForBlocks(indices.size(), 4 * kGrain, [&](std::size_t begin, std::size_t end) {
        if (failed.load(std::memory_order_relaxed))
            return;
        std::uint32_t highest = 0;
        for (std::size_t i = begin; i < end; ++i)
            highest = std::max(highest, indices[i]);
        if (highest >= vertexCount)
            failed.store(true, std::memory_order_relaxed);
    });
    return !failed.load();
}

void TriangleMesh::ComputeBounds()
{
    boundsMin = {};
    boundsMax = {};
    boundsValid = false;
    if (vertices.empty())
        return;
    boundsMin = vertices.front().position;
    boundsMax = boundsMin;
    boundsValid = true;
    // Comparisons with NaN are false, so a NaN would simply be passed over; it is tracked
    // apart and put into both ends of its axis, so a box never looks finite when a
    // coordinate is not.
    bool nan[3] = {false, false, false};
    for (std::size_t v = 1; v < vertices.size(); ++v) {
        const Vec3 p = vertices[v].position;
        if (p.x < boundsMin.x) boundsMin.x = p.x;
        if (p.y < boundsMin.y) boundsMin.y = p.y;
        if (p.z < boundsMin.z) boundsMin.z = p.z;
        if (p.x > boundsMax.x) boundsMax.x = p.x;
        if (p.y > boundsMax.y) boundsMax.y = p.y;
        if (p.z > boundsMax.z) boundsMax.z = p.z;
        nan[0] |= p.x != p.x;
        nan[1] |= p.y != p.y;
        nan[2] |= p.z != p.z;
    }
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    if (nan[0]) boundsMin.x = boundsMax.x = kNaN;
    if (nan[1]) boundsMin.y = boundsMax.y = kNaN;
    if (nan[2]) boundsMin.z = boundsMax.z = kNaN;
}

void TriangleMesh::ComputeVertexNormals()
{
    const bool consistent = IsConsistent();
    if (consistent && !indices.empty() && indices.size() <= std::numeric_limits<std::uint32_t>::max()) {
        // Both write every vertex's normal.
        if (!AccumulateNormalsByVertexChunks(*this))
            AccumulateNormalsByVertexBuckets(*this);
        return;
    }
    for (MeshVertex& vertex : vertices)
        vertex.normal = {};
    if (consistent && !indices.empty())
        AccumulateNormalsSerially(*this);
}

Vec3 TriangleMesh::FaceNormal(std::uint64_t t) const
{
    if (t >= TriangleCount())
        return {};
    const std::size_t first = static_cast<std::size_t>(t) * 3;
    for (std::size_t k = 0; k < 3; ++k) {
        if (indices[first + k] >= vertices.size())
            return {};
    }
    return Normalized(TriangleCross(vertices.data(), indices.data(), static_cast<std::size_t>(t)));
}

float TriangleMesh::SurfaceArea() const
{
    if (indices.empty() || !IsConsistent())
        return 0.0f;
    // Serial: the sum depends on the order of its terms.
    double area = 0.0;
    for (std::size_t t = 0; t < TriangleCount(); ++t) {
        const Vec3 p0 = vertices[indices[3 * t]].position;
        const Vec3 p1 = vertices[indices[3 * t + 1]].position;
        const Vec3 p2 = vertices[indices[3 * t + 2]].position;
        const Vec3 n = Cross(p2 - p0, p1 - p0);
        area += 0.5f * std::sqrt(Dot(n, n));
    }
    return static_cast<float>(area);
}

float TriangleMesh::Volume() const
{
    if (indices.empty() || !IsConsistent())
        return 0.0f;
    const Vec3 reference = VolumeReference(*this);
    double sum = 0.0;
    for (std::size_t t = 0; t < TriangleCount(); ++t) {
        sum += TetrahedronVolume6(vertices[indices[3 * t]].position, vertices[indices[3 * t + 1]].position,
                                  vertices[indices[3 * t + 2]].position, reference);
    }
    return static_cast<float>(sum / 6.0);
}

Vec3 VolumeReference(const TriangleMesh& mesh)
{
    Vec3 low{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
             std::numeric_limits<float>::infinity()};
    Vec3 high{-low.x, -low.y, -low.z};
    for (const MeshVertex& vertex : mesh.vertices) {
        const Vec3& p = vertex.position;
        if (!IsFinite(p))
            continue;
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    if (high.x < low.x)
        return {};
    // Half of each end, then the sum: no overflow near the float limit.
    return low * 0.5f + high * 0.5f;
}

float SampleMedianEdgeLength(const TriangleMesh& mesh)
{
    if (mesh.indices.size() < 3 || mesh.vertices.empty())
        return 0.0f;
    const std::size_t triangles = mesh.TriangleCount();
    const std::size_t stride = std::max<std::size_t>(mesh.indices.size() / kMedianSampleIndices, 1);
    std::vector<float> lengths;
    lengths.reserve((triangles / stride + 1) * 3);
    const std::size_t vertexCount = mesh.vertices.size();
    for (std::size_t t = 0; t < triangles; t += stride) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            if (a >= vertexCount || b >= vertexCount)
                continue;
            const Vec3 d = mesh.vertices[b].position - mesh.vertices[a].position;
            const float length = std::sqrt(Dot(d, d));
            if (length > 0.0f)
                lengths.push_back(length);
        }
    }
    if (lengths.empty())
        return 0.0f;
    const auto middle = lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2);
    std::nth_element(lengths.begin(), middle, lengths.end());
    return *middle;
}

std::uint64_t CountBodies(const TriangleMesh& mesh)
{
    if (mesh.indices.empty() || !mesh.IsConsistent())
        return 0;
    // The number of components does not depend on the order of the unions; the serial walk
    // below is the literal definition.
    const std::size_t vertexCount = mesh.vertices.size();
    std::vector<std::uint32_t> parent(vertexCount);
    for (std::size_t v = 0; v < vertexCount; ++v)
        parent[v] = static_cast<std::uint32_t>(v);
    std::vector<std::uint8_t> used(vertexCount, 0);
    const std::uint32_t* indices = mesh.indices.data();
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t root = FindRoot(parent.data(), indices[3 * t]);
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t v = indices[3 * t + k];
            used[v] = 1;
            const std::uint32_t other = FindRoot(parent.data(), v);
            if (other != root)
                parent[other] = root;
        }
    }
    std::uint64_t bodies = 0;
    for (std::size_t v = 0; v < vertexCount; ++v)
        bodies += used[v] != 0 && parent[v] == v ? 1 : 0;
    return bodies;
}

std::vector<EdgeRecord> BuildEdgeTable(const TriangleMesh& mesh)
{
    std::vector<EdgeRecord> table(mesh.TriangleCount() * 3);
    const std::uint32_t* indices = mesh.indices.data();
    ParallelFor(table.size(), [&](std::size_t u) {
        table[u] = {EdgeKeyOfUse(indices, u), static_cast<std::uint32_t>(u / 3)};
    }, kGrain);
    // (key, triangle) is a total order up to records that are equal in both fields, so the
    // parallel sort's result is unique.
    ParallelSort(table.begin(), table.end(), [](const EdgeRecord& a, const EdgeRecord& b) {
        return a.key != b.key ? a.key < b.key : a.triangle < b.triangle;
    });
    return table;
}

VertexAdjacency BuildVertexAdjacency(const TriangleMesh& mesh)
{
    VertexAdjacency adjacency;
    const std::size_t vertexCount = mesh.vertices.size();
    adjacency.neighbourOffsets.assign(vertexCount + 1, 0);
    adjacency.triangleOffsets.assign(vertexCount + 1, 0);
    // An inconsistent mesh would send the counting passes out of bounds: every vertex then
    // gets empty lists.
    // Neighbour entries (at most two per index) must fit the 32-bit offsets.
    if (!mesh.IsConsistent() || mesh.indices.size() > std::numeric_limits<std::uint32_t>::max() / 2)
        return adjacency;

    std::vector<std::uint32_t>& offsets = adjacency.triangleOffsets;
    for (std::uint32_t v : mesh.indices)
        ++offsets[v + std::size_t{1}];
    for (std::size_t v = 0; v < vertexCount; ++v)
        offsets[v + 1] += offsets[v];
    adjacency.triangles.resize(mesh.indices.size());
    {
        std::vector<std::uint32_t> next(offsets.begin(), offsets.end() - 1);
        for (std::size_t k = 0; k < mesh.indices.size(); ++k)
            adjacency.triangles[next[mesh.indices[k]]++] = static_cast<std::uint32_t>(k / 3);
    }

    // Neighbour lists: each vertex's list depends only on its own triangles, so blocks of
    // vertices gather theirs in parallel, and the blocks are joined in vertex order.
    auto gather = [&](std::size_t v, std::vector<std::uint32_t>& out) {
        out.clear();
        for (std::size_t i = offsets[v]; i < offsets[v + 1]; ++i) {
            const std::size_t t = adjacency.triangles[i];
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t w = mesh.indices[3 * t + k];
                if (w != v)
                    out.push_back(w);
            }
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    };
    const std::size_t grain = 8192;
    const std::size_t blocks = (vertexCount + grain - 1) / grain;
    std::vector<std::vector<std::uint32_t>> blockLists(blocks);
    ParallelForBlocks(vertexCount, grain, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t>& list = blockLists[begin / grain];
        std::vector<std::uint32_t> one;
        for (std::size_t v = begin; v < end; ++v) {
            gather(v, one);
            list.insert(list.end(), one.begin(), one.end());
            adjacency.neighbourOffsets[v + 1] = static_cast<std::uint32_t>(one.size());
        }
    });
    std::size_t total = 0;
    for (const auto& list : blockLists)
        total += list.size();
    adjacency.neighbours.reserve(total);
    for (auto& list : blockLists) {
        adjacency.neighbours.insert(adjacency.neighbours.end(), list.begin(), list.end());
        list = {};
    }
    for (std::size_t v = 0; v < vertexCount; ++v)
        adjacency.neighbourOffsets[v + 1] += adjacency.neighbourOffsets[v];
    return adjacency;
}

EdgeCounts CountEdges(const TriangleMesh& mesh)
{
    if (mesh.indices.empty() || !mesh.IsConsistent())
        return {};
    EdgeCounts counts;
    if (!CountEdgesByVertexChunks(mesh, counts))
        counts = CountEdgesByHashBuckets(mesh);
    return counts;
}


std::vector<std::uint32_t> GuardWorkSet(const TriangleMesh& mesh, const VertexAdjacency& faces,
    std::span<const std::uint32_t> triangles, bool widen, std::vector<std::uint32_t>& mark, std::uint32_t round)
{
    std::vector<std::uint32_t> work;
    const auto add = [&](std::uint32_t v) {
        if (mark[v] != round) {
            mark[v] = round;
            work.push_back(v);
        }
    };
    for (const std::uint32_t t : triangles)
        for (std::size_t k = 0; k < 3; ++k)
            add(mesh.indices[3 * static_cast<std::size_t>(t) + k]);
    if (widen) {
        const std::size_t corners = work.size();
        for (std::size_t i = 0; i < corners; ++i) {
            const std::uint32_t v = work[i];
            for (std::uint32_t j = faces.triangleOffsets[v]; j < faces.triangleOffsets[v + 1]; ++j)
                for (std::size_t k = 0; k < 3; ++k)
                    add(mesh.indices[3 * static_cast<std::size_t>(faces.triangles[j]) + k]);
        }
    }
    return work;
}

}  // namespace grainforge::mesh
