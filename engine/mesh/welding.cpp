#include "engine/mesh/welding.h"

#include "engine/mesh/hash_partition.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/vertex_chunks.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr std::size_t kGrain = 32768;
constexpr std::uint32_t kNoVertex = std::numeric_limits<std::uint32_t>::max();

// Vertex maps are 32-bit with the top bit free for a flag (see CompactVertices); indices cannot
// name more than 2^32 vertices anyway, and a mesh of 2^31 vertices would hold 48 GB of them.
constexpr std::uint32_t kKeptFlag = 0x80000000u;

bool FitsVertexMaps(const TriangleMesh& mesh)
{
    return mesh.vertices.size() < kKeptFlag && mesh.indices.size() <= kNoVertex;
}

std::uint32_t FloatBits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A position's bit patterns with -0 made +0, so that the two zeros weld.
detail::Key96 PositionKey(Vec3 p)
{
    auto bits = [](float value) { return value == 0.0f ? 0u : FloatBits(value); };
    return {bits(p.x), bits(p.y), bits(p.z)};
}

// Vertices per block of the exact weld's first step: 384 KB of vertices and a 128 KB table,
// both within the core's cache.
constexpr std::size_t kWeldBlock = 16384;

// A block-first vertex of the exact weld with its position key.
struct PositionEntry {
    detail::Key96 key;
    std::uint32_t vertex;
};

// Maps every vertex of [begin, end) to the first vertex of the block with its position
// (itself when it is the first) and lists the firsts with their keys, in order.
//
// A probe that finds an empty slot compares the vertex with itself, so "empty" and "same
// position" both end the probe on one well-predicted branch.
template <class PositionAt>
void MapToBlockFirsts(const PositionAt& positionAt, std::size_t begin, std::size_t end, std::uint32_t* keeper,
    std::vector<PositionEntry>& firsts)
{
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(2 * (end - begin), 16));
    const std::size_t mask = size - 1;
    std::vector<std::uint32_t> table(size, kNoVertex);
    for (std::size_t v = begin; v < end; ++v) {
        const detail::Key96 key = PositionKey(positionAt(v));
        std::size_t slot = detail::HashKey96(key) & mask;
        for (;; slot = (slot + 1) & mask) {
            const std::uint32_t occupant = table[slot];
            const std::uint32_t candidate = occupant == kNoVertex ? static_cast<std::uint32_t>(v) : occupant;
            if (PositionKey(positionAt(candidate)) == key) {
                table[slot] = candidate;
                keeper[v] = candidate;
                if (candidate == v)
                    firsts.push_back({key, candidate});
                break;
            }
        }
    }
}

// Sets keeper[v] for every block-first v to the first vertex of its position over the whole
// mesh. The block-firsts are partitioned by hash, keeping index order within each bucket
// (blocks in order, each block's firsts in order), so each bucket's walk meets every position
// first at its lowest vertex.
void MapBlockFirstsToFirsts(const std::vector<std::vector<PositionEntry>>& blockFirsts, std::size_t expected,
    std::uint32_t* keeper)
{
    const unsigned bits = detail::BucketBitsFor(expected);
    const std::size_t buckets = std::size_t{1} << bits;
    auto bucketOf = [bits](const PositionEntry& entry) { return detail::BucketOfHash(detail::HashKey96(entry.key), bits); };
    // Blocks are taken in at most 64 consecutive groups, so that the per-group histograms stay
    // small on any mesh.
    const std::size_t blocks = blockFirsts.size();
    const std::size_t groups = std::min<std::size_t>(blocks, 64);
    auto forEachEntry = [&](std::size_t group, auto&& body) {
        for (std::size_t k = group * blocks / groups; k < (group + 1) * blocks / groups; ++k) {
            for (const PositionEntry& entry : blockFirsts[k])
                body(entry);
        }
    };
    std::vector<std::size_t> cursor(groups * buckets, 0);
    ParallelFor(groups, [&](std::size_t g) {
        forEachEntry(g, [&](const PositionEntry& entry) { ++cursor[g * buckets + bucketOf(entry)]; });
    }, 1);
    std::vector<std::size_t> offsets(buckets + 1, 0);
    std::size_t position = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        offsets[b] = position;
        for (std::size_t g = 0; g < groups; ++g)
            position += std::exchange(cursor[g * buckets + b], position);
    }
    offsets[buckets] = position;
    auto entries = std::make_unique_for_overwrite<PositionEntry[]>(position);
    ParallelFor(groups, [&](std::size_t g) {
        forEachEntry(g, [&](const PositionEntry& entry) { entries[cursor[g * buckets + bucketOf(entry)]++] = entry; });
    }, 1);
    ParallelForBlocks(buckets, 1, [&](std::size_t bucketBegin, std::size_t bucketEnd) {
        std::vector<std::uint32_t> table;  // slot -> entry position, kNoVertex when empty
        for (std::size_t b = bucketBegin; b < bucketEnd; ++b) {
            const std::size_t n = offsets[b + 1] - offsets[b];
            const std::size_t size = std::bit_ceil(std::max<std::size_t>(2 * n, 16));
            const std::size_t mask = size - 1;
            table.assign(size, kNoVertex);
            for (std::size_t e = offsets[b]; e < offsets[b + 1]; ++e) {
                const PositionEntry& entry = entries[e];
                std::size_t slot = detail::HashKey96(entry.key) & mask;
                for (;; slot = (slot + 1) & mask) {
                    const std::uint32_t occupant = table[slot];
                    const std::size_t candidate = occupant == kNoVertex ? e : offsets[b] + occupant;
                    if (entries[candidate].key == entry.key) {
                        table[slot] = static_cast<std::uint32_t>(candidate - offsets[b]);
                        keeper[entry.vertex] = entries[candidate].vertex;
                        break;
                    }
                }
            }
        }
    });
}

// For every vertex of [0, vertexCount) (below 2^31), the first vertex with its position.
template <class PositionAt>
std::unique_ptr<std::uint32_t[]> FirstsOfPositions(std::size_t vertexCount, const PositionAt& positionAt)
{
    auto keeper = std::make_unique_for_overwrite<std::uint32_t[]>(vertexCount);
    const std::size_t blocks = (vertexCount + kWeldBlock - 1) / kWeldBlock;
    std::vector<std::vector<PositionEntry>> blockFirsts(blocks);
    ParallelForBlocks(vertexCount, kWeldBlock, [&](std::size_t begin, std::size_t end) {
        MapToBlockFirsts(positionAt, begin, end, keeper.get(), blockFirsts[begin / kWeldBlock]);
    });
    // A soup holds each corner about six times; bucket sizes follow from that guess but the
    // result does not depend on it.
    MapBlockFirstsToFirsts(blockFirsts, vertexCount / 4, keeper.get());
    blockFirsts = {};
    // A vertex that is no block-first points into its own block; its block-first is settled.
    // Block-firsts may point into earlier blocks and are left alone, so no block reads what
    // another writes.
    ParallelForBlocks(vertexCount, kWeldBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t v = begin; v < end; ++v) {
            if (keeper[v] >= begin && keeper[v] != v)
                keeper[v] = keeper[keeper[v]];
        }
    });
    return keeper;
}

// Applies a vertex map: keeper[v] == v for a kept vertex, another kept vertex below v for a
// merged one, kNoVertex for one that is dropped (no index may name it). Kept vertices keep
// their order and are renumbered densely; indices are rewritten. Returns the number of
// vertices removed; when none is removed the mesh is not touched. `keeper` is used up: a kept
// vertex's entry becomes its new number with kKeptFlag set, which saves a second map of the
// mesh's size.
std::uint64_t CompactVertices(TriangleMesh& mesh, std::uint32_t* keeper)
{
    const std::size_t vertexCount = mesh.vertices.size();
    const std::vector<std::size_t> starts = detail::BlockStarts(vertexCount, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t kept = 0;
        for (std::size_t v = begin; v < end; ++v)
            kept += keeper[v] == v ? 1 : 0;
        return kept;
    });
    const std::size_t keptCount = starts.back();
    if (keptCount == vertexCount)
        return 0;
    std::vector<MeshVertex> kept(keptCount);
    const MeshVertex* vertices = mesh.vertices.data();
    MeshVertex* keptVertices = kept.data();
    ParallelForBlocks(vertexCount, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t next = starts[begin / kGrain];
        for (std::size_t v = begin; v < end; ++v) {
            if (keeper[v] == v) {
                keeper[v] = static_cast<std::uint32_t>(next) | kKeptFlag;
                keptVertices[next++] = vertices[v];
            }
        }
    });
    // A merged vertex's keeper is a kept vertex, which now holds its new number.
    std::uint32_t* indices = mesh.indices.data();
    ParallelFor(mesh.indices.size(), [&](std::size_t k) {
        const std::uint32_t mapped = keeper[indices[k]];
        indices[k] = ((mapped & kKeptFlag) != 0 ? mapped : keeper[mapped]) & ~kKeptFlag;
    }, kGrain);
    mesh.vertices = std::move(kept);
    return vertexCount - keptCount;
}

// Keeps the triangles for which keep(t) holds, in order. Returns the number dropped; the index
// list is replaced only when something was dropped.
template <class Keep>
std::uint64_t KeepTriangles(TriangleMesh& mesh, Keep keep)
{
    const std::size_t triangles = mesh.TriangleCount();
    auto flags = std::make_unique_for_overwrite<std::uint8_t[]>(triangles);
    const std::vector<std::size_t> starts = detail::BlockStarts(triangles, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t kept = 0;
        for (std::size_t t = begin; t < end; ++t) {
            flags[t] = keep(t) ? 1 : 0;
            kept += flags[t];
        }
        return kept;
    });
    const std::size_t keptCount = starts.back();
    if (keptCount == triangles)
        return 0;
    std::vector<std::uint32_t> kept(keptCount * 3);
    const std::uint32_t* indices = mesh.indices.data();
    std::uint32_t* keptIndices = kept.data();
    ParallelForBlocks(triangles, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t next = starts[begin / kGrain] * 3;
        for (std::size_t t = begin; t < end; ++t) {
            if (flags[t] != 0) {
                keptIndices[next++] = indices[3 * t];
                keptIndices[next++] = indices[3 * t + 1];
                keptIndices[next++] = indices[3 * t + 2];
            }
        }
    });
    mesh.indices = std::move(kept);
    return triangles - keptCount;
}

// A triangle's corner set: its three indices sorted ascending.
detail::Key96 SortedTriangleKey(const std::uint32_t* indices, std::size_t t)
{
    std::uint32_t a = indices[3 * t], b = indices[3 * t + 1], c = indices[3 * t + 2];
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    if (a > b) std::swap(a, b);
    return {a, b, c};
}

// Triangles already seen, by corner set: open addressing over triangle numbers, grown at half
// load; keys are recomputed from the index array, which the caller walks nearby.
class TriangleKeySet {
public:
    explicit TriangleKeySet(const std::uint32_t* indices) : indices_(indices) {}

    void Clear(std::size_t expected)
    {
        slots_.assign(std::bit_ceil(std::max<std::size_t>(2 * expected, 16)), 0);
        used_ = 0;
    }

    // True when a triangle with t's corner set was inserted before; inserts t otherwise.
    bool Contains(std::uint32_t t)
    {
        const detail::Key96 key = SortedTriangleKey(indices_, t);
        std::size_t slot = Find(key);
        if (slots_[slot] != 0)
            return true;
        if (2 * (used_ + 1) > slots_.size()) {
            Grow();
            slot = Find(key);
        }
        slots_[slot] = t + 1;
        ++used_;
        return false;
    }

private:
    std::size_t Find(const detail::Key96& key) const
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = detail::HashKey96(key) & mask;
        while (slots_[slot] != 0 && !(SortedTriangleKey(indices_, slots_[slot] - 1) == key))
            slot = (slot + 1) & mask;
        return slot;
    }

    void Grow()
    {
        std::vector<std::uint32_t> old = std::move(slots_);
        slots_.assign(2 * old.size(), 0);
        for (std::uint32_t entry : old) {
            if (entry != 0)
                slots_[Find(SortedTriangleKey(indices_, entry - 1))] = entry;
        }
    }

    const std::uint32_t* indices_;
    std::vector<std::uint32_t> slots_;  // triangle + 1, 0 when empty
    std::size_t used_ = 0;
};

// Marks in `keep` the first triangle of each corner set (1) and the later ones (0); returns
// the number of later ones. Each triangle belongs to the vertex chunk of its lowest corner,
// which walks its triangles in ascending order, so "first" means first in triangle order.
// Falls back to a hash partition of the triangles when the indices are too scattered.
std::uint64_t MarkFirstTriangles(const TriangleMesh& mesh, std::uint8_t* keep)
{
    const std::uint32_t* indices = mesh.indices.data();
    detail::VertexChunks chunks;
    if (!detail::GroupTrianglesByVertexChunk(indices, mesh.TriangleCount(), mesh.vertices.size(), chunks)) {
        const detail::FirstOccurrences firsts = detail::FindFirstOccurrences(
            mesh.TriangleCount(), [indices](std::size_t t) { return SortedTriangleKey(indices, t); });
        ParallelFor(mesh.TriangleCount(), [&](std::size_t t) { keep[t] = firsts.first[t] == t ? 1 : 0; }, kGrain);
        return mesh.TriangleCount() - firsts.distinct;
    }
    std::vector<std::uint64_t> perChunk(chunks.chunks, 0);
    const std::size_t grain = std::max<std::size_t>(1, chunks.chunks / 32);
    ParallelForBlocks(chunks.chunks, grain, [&](std::size_t chunkBegin, std::size_t chunkEnd) {
        TriangleKeySet seen(indices);
        for (std::size_t c = chunkBegin; c < chunkEnd; ++c) {
            seen.Clear(std::size_t{2} << chunks.shift);
            chunks.ForEachTriangle(c, [&](std::size_t t) {
                const std::uint32_t* corner = indices + 3 * t;
                if (chunks.ChunkOf(std::min({corner[0], corner[1], corner[2]})) != c)
                    return;
                const bool repeated = seen.Contains(static_cast<std::uint32_t>(t));
                keep[t] = repeated ? 0 : 1;
                perChunk[c] += repeated ? 1 : 0;
            });
        }
    });
    std::uint64_t repeated = 0;
    for (std::uint64_t n : perChunk)
        repeated += n;
    return repeated;
}

// Cell of the tolerance grid along one axis: floor(value / tolerance) in double, as a signed
// 64-bit number. Values beyond +-2^62 cells (a huge coordinate over a tiny tolerance) and NaN
// are clamped, since converting them would be undefined; the clamped cells are still searched
// with the same distance test, so nothing welds that is not within reach.
std::int64_t CellCoordinate(float value, double tolerance)
{
    constexpr double kLimit = 4611686018427387904.0;  // 2^62: neighbours at +-1 stay in range
    const double cell = std::floor(static_cast<double>(value) / tolerance);
    if (!(cell > -kLimit))
        return -static_cast<std::int64_t>(kLimit);
    if (cell > kLimit)
        return static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(cell);
}

// The grid of the tolerance weld: an open-addressing table from cell to the list of kept
// vertices filed there (in filing order, chained through `next`), with a bit filter in front.
// A search looks at 27 cells, nearly all empty, so the filter is what a search mostly costs:
// it is indexed by the top bits of a cell's linear key (x K1 + y K2 + z K3, wrapping), and
// the keys of a cell's 26 neighbours differ from its own by constants, so each neighbour
// costs an addition and one bit test before the table is touched at all.
class CellGrid {
public:
    struct Cell {
        std::int64_t x = 0, y = 0, z = 0;
    };

    // `next` chains the vertices filed in one cell; several grids may share it, since each
    // vertex is filed in one grid at most.
    explicit CellGrid(std::vector<std::uint32_t>& next) : next_(&next) { Resize(1024); }

    static std::uint64_t LinearKey(std::int64_t x, std::int64_t y, std::int64_t z)
    {
        return static_cast<std::uint64_t>(x) * kX + static_cast<std::uint64_t>(y) * kY + static_cast<std::uint64_t>(z) * kZ;
    }

    // First kept vertex filed in `cell` (whose linear key is `linear`), or kNoVertex.
    std::uint32_t Head(const Cell& cell, std::uint64_t linear) const
    {
        if ((filter_[FilterWord(linear)] & FilterBit(linear)) == 0)
            return kNoVertex;
        for (std::size_t slot = detail::Mix64(linear) & mask_;; slot = (slot + 1) & mask_) {
            const Slot& entry = slots_[slot];
            if (entry.head == kNoVertex)
                return kNoVertex;
            if (entry.cell.x == cell.x && entry.cell.y == cell.y && entry.cell.z == cell.z)
                return entry.head;
        }
    }

    std::uint32_t Next(std::uint32_t vertex) const { return (*next_)[vertex]; }

    void File(const Cell& cell, std::uint32_t vertex)
    {
        if (2 * (used_ + 1) > slots_.size())
            Resize(2 * slots_.size());
        const std::uint64_t linear = LinearKey(cell.x, cell.y, cell.z);
        Slot& entry = Find(cell, linear);
        if (entry.head == kNoVertex) {
            entry.cell = cell;
            entry.head = vertex;
            ++used_;
            filter_[FilterWord(linear)] |= FilterBit(linear);
        } else {
            (*next_)[entry.tail] = vertex;
        }
        entry.tail = vertex;
    }

private:
    static constexpr std::uint64_t kX = 0x9e3779b97f4a7c15ULL;
    static constexpr std::uint64_t kY = 0xc2b2ae3d27d4eb4fULL;
    static constexpr std::uint64_t kZ = 0x165667b19e3779f9ULL;

    struct Slot {
        Cell cell;
        std::uint32_t head = kNoVertex;
        std::uint32_t tail = kNoVertex;
    };

    std::size_t FilterWord(std::uint64_t linear) const { return linear >> filterWordShift_; }
    static std::uint64_t FilterBit(std::uint64_t linear) { return std::uint64_t{1} << ((linear >> 20) & 63); }

    Slot& Find(const Cell& cell, std::uint64_t linear)
    {
        for (std::size_t slot = detail::Mix64(linear) & mask_;; slot = (slot + 1) & mask_) {
            Slot& entry = slots_[slot];
            if (entry.head == kNoVertex ||
                (entry.cell.x == cell.x && entry.cell.y == cell.y && entry.cell.z == cell.z))
                return entry;
        }
    }

    void Resize(std::size_t size)
    {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(size, Slot{});
        mask_ = size - 1;
        // Sixteen filter bits per slot: at most one in thirty-two set.
        filter_.assign(size / 4, 0);
        filterWordShift_ = 64 - static_cast<unsigned>(std::countr_zero(size / 4));
        for (const Slot& entry : old) {
            if (entry.head == kNoVertex)
                continue;
            const std::uint64_t linear = LinearKey(entry.cell.x, entry.cell.y, entry.cell.z);
            Find(entry.cell, linear) = entry;
            filter_[FilterWord(linear)] |= FilterBit(linear);
        }
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    std::vector<std::uint64_t> filter_;
    unsigned filterWordShift_ = 64;
    std::vector<std::uint32_t>* next_;
};

float SquaredDistance(Vec3 a, Vec3 b)
{
    const Vec3 d = a - b;
    return d.x * d.x + d.y * d.y + d.z * d.z;
}

}  // namespace

std::uint64_t WeldIdenticalVertices(TriangleMesh& mesh)
{
    if (mesh.vertices.empty() || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return 0;
    // The answer is fixed: each vertex maps to the first vertex of its position. It is found in
    // steps that all keep index order, so no thread count changes it:
    // 1. within blocks of consecutive vertices, each vertex finds the block's first of its
    //    position (copies of a soup's corner are mostly near each other, so this settles most
    //    of them with a table in cache);
    // 2. each block-first finds the first of its position among all block-firsts (a far
    //    smaller set, hash-partitioned);
    // 3. every other vertex takes its block-first's answer.
    const MeshVertex* vertices = mesh.vertices.data();
    const auto keeper = FirstsOfPositions(mesh.vertices.size(), [vertices](std::size_t v) { return vertices[v].position; });
    return CompactVertices(mesh, keeper.get());
}

bool HasCoincidentVertices(const TriangleMesh& mesh)
{
    if (mesh.vertices.empty() || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return false;
    const MeshVertex* vertices = mesh.vertices.data();
    const auto keeper = FirstsOfPositions(mesh.vertices.size(), [vertices](std::size_t v) { return vertices[v].position; });
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        if (keeper[v] != v)
            return true;
    }
    return false;
}

TriangleMesh WeldCorners(std::span<const Vec3> corners)
{
    TriangleMesh mesh;
    const std::size_t cornerCount = corners.size();
    if (cornerCount == 0 || cornerCount % 3 != 0 || cornerCount >= kKeptFlag)
        return mesh;
    const Vec3* positions = corners.data();
    const auto keeper = FirstsOfPositions(cornerCount, [positions](std::size_t v) { return positions[v]; });
    // What CompactVertices makes of the soup, written straight into the new arrays.
    const std::vector<std::size_t> starts = detail::BlockStarts(cornerCount, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t kept = 0;
        for (std::size_t v = begin; v < end; ++v)
            kept += keeper[v] == v ? 1 : 0;
        return kept;
    });
    mesh.vertices.resize(starts.back());
    MeshVertex* vertices = mesh.vertices.data();
    ParallelForBlocks(cornerCount, kGrain, [&](std::size_t begin, std::size_t end) {
        std::size_t next = starts[begin / kGrain];
        for (std::size_t v = begin; v < end; ++v) {
            if (keeper[v] == v) {
                keeper[v] = static_cast<std::uint32_t>(next) | kKeptFlag;
                vertices[next++].position = positions[v];
            }
        }
    });
    mesh.indices.resize(cornerCount);
    std::uint32_t* indices = mesh.indices.data();
    ParallelFor(cornerCount, [&](std::size_t k) {
        const std::uint32_t mapped = keeper[k];
        indices[k] = ((mapped & kKeptFlag) != 0 ? mapped : keeper[mapped]) & ~kKeptFlag;
    }, kGrain);
    return mesh;
}

constexpr float kRelativeWeldTolerance = 1e-6f;

float AutomaticWeldTolerance(float largestMagnitude, float largestExtent)
{
    const float size = std::min(largestMagnitude, 2.0f * largestExtent);
    return std::max(size * kRelativeWeldTolerance, kRelativeWeldTolerance);
}

namespace {

// Union-find root of v, halving the path on the way.
std::uint32_t RootOf(std::vector<std::uint32_t>& parent, std::uint32_t v)
{
    while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
    }
    return v;
}

// The pieces of the mesh: vertices joined through triangles with area and through bitwise
// equal positions. A triangle without area joins nothing, so a stray flat facet (or a needle
// reaching across the file) never lends its span to the part it touches.
std::vector<std::uint32_t> PieceRoots(const TriangleMesh& mesh)
{
    const MeshVertex* vertices = mesh.vertices.data();
    const auto firsts = FirstsOfPositions(mesh.vertices.size(), [vertices](std::size_t v) { return vertices[v].position; });
    std::vector<std::uint32_t> parent(firsts.get(), firsts.get() + mesh.vertices.size());
    const std::uint32_t* indices = mesh.indices.data();
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t a = indices[3 * t], b = indices[3 * t + 1], c = indices[3 * t + 2];
        const Vec3 p0 = vertices[a].position;
        const Vec3 n = Cross(vertices[b].position - p0, vertices[c].position - p0);
        if (!(Dot(n, n) > 0.0f))
            continue;
        const std::uint32_t ra = RootOf(parent, a);
        const std::uint32_t rb = RootOf(parent, b);
        parent[rb] = ra;
        parent[RootOf(parent, c)] = ra;
    }
    for (std::uint32_t v = 0; v < parent.size(); ++v)
        parent[v] = RootOf(parent, v);
    return parent;
}

// The largest absolute coordinate and the box of one piece's finite positions.
struct PieceMeasure {
    float largest = 0.0f;
    Vec3 low{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
             std::numeric_limits<float>::infinity()};
    Vec3 high{-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
              -std::numeric_limits<float>::infinity()};

    void Note(Vec3 p)
    {
        largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    float Tolerance() const
    {
        if (high.x < low.x)
            return kRelativeWeldTolerance;
        return AutomaticWeldTolerance(largest, std::max({high.x - low.x, high.y - low.y, high.z - low.z}));
    }
};

}  // namespace

std::vector<float> LocalWeldTolerances(const TriangleMesh& mesh)
{
    const std::size_t vertexCount = mesh.vertices.size();
    std::vector<float> tolerances(vertexCount, kRelativeWeldTolerance);
    if (vertexCount == 0 || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return tolerances;
    const std::vector<std::uint32_t> root = PieceRoots(mesh);
    // Pieces numbered by their roots, in vertex order.
    std::vector<std::uint32_t> piece(vertexCount, kNoVertex);
    std::vector<PieceMeasure> measures;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        std::uint32_t& number = piece[root[v]];
        if (number == kNoVertex) {
            number = static_cast<std::uint32_t>(measures.size());
            measures.emplace_back();
        }
        // A non-finite coordinate would make the tolerance infinite and weld the piece into one
        // point.
        if (IsFinite(mesh.vertices[v].position))
            measures[number].Note(mesh.vertices[v].position);
    }
    std::vector<float> perPiece(measures.size());
    for (std::size_t k = 0; k < measures.size(); ++k)
        perPiece[k] = measures[k].Tolerance();
    for (std::size_t v = 0; v < vertexCount; ++v)
        tolerances[v] = IsFinite(mesh.vertices[v].position) ? perPiece[piece[root[v]]] : kRelativeWeldTolerance;
    return tolerances;
}

float LocalWeldTolerancesBound(const TriangleMesh& mesh)
{
    PieceMeasure all;
    for (const MeshVertex& vertex : mesh.vertices) {
        if (IsFinite(vertex.position))
            all.Note(vertex.position);
    }
    return all.Tolerance();
}

float LargestTolerance(std::span<const float> tolerances)
{
    float largest = 0.0f;
    for (const float t : tolerances)
        largest = std::max(largest, t);
    return largest;
}

namespace {

// One grid of the tolerance weld: the kept vertices whose tolerances share a binary exponent,
// in cells as large as the largest of those tolerances, so that the 27 cells round a point
// hold every one of them within its own reach.
struct WeldLevel {
    int exponent = 0;
    double cellSize = 0.0;
    CellGrid grid;
};

// The levels for the given tolerances, by rising exponent, and each vertex's level (-1 for a
// tolerance that reaches nothing: not above 0, or NaN).
std::vector<WeldLevel> MakeWeldLevels(std::span<const float> tolerances, std::vector<std::int32_t>& levelOf,
                                      std::vector<std::uint32_t>& next)
{
    std::vector<std::pair<int, float>> exponents;  // (exponent, largest tolerance)
    levelOf.assign(tolerances.size(), -1);
    for (std::size_t v = 0; v < tolerances.size(); ++v) {
        const float t = tolerances[v];
        if (!(t > 0.0f))
            continue;
        const int exponent = std::ilogb(t);
        auto at = std::find_if(exponents.begin(), exponents.end(), [&](const auto& e) { return e.first == exponent; });
        if (at == exponents.end())
            at = exponents.insert(exponents.end(), {exponent, t});
        at->second = std::max(at->second, t);
    }
    std::sort(exponents.begin(), exponents.end());
    std::vector<WeldLevel> levels;
    for (const auto& [exponent, largest] : exponents)
        levels.push_back({exponent, static_cast<double>(largest), CellGrid(next)});
    for (std::size_t v = 0; v < tolerances.size(); ++v) {
        if (!(tolerances[v] > 0.0f))
            continue;
        const int exponent = std::ilogb(tolerances[v]);
        levelOf[v] = static_cast<std::int32_t>(
            std::find_if(levels.begin(), levels.end(), [&](const WeldLevel& l) { return l.exponent == exponent; }) -
            levels.begin());
    }
    return levels;
}

CellGrid::Cell CellOf(Vec3 p, double cellSize)
{
    return {CellCoordinate(p.x, cellSize), CellCoordinate(p.y, cellSize), CellCoordinate(p.z, cellSize)};
}

}  // namespace

std::uint64_t WeldVerticesWithin(TriangleMesh& mesh, float tolerance)
{
    if (tolerance == 0.0f)
        return WeldIdenticalVertices(mesh);
    // A negative or NaN tolerance reaches nothing.
    if (!(tolerance > 0.0f))
        return 0;
    const std::vector<float> tolerances(mesh.vertices.size(), tolerance);
    return WeldVerticesWithin(mesh, tolerances);
}

std::uint64_t WeldVerticesWithin(TriangleMesh& mesh, std::span<const float> tolerances)
{
    if (mesh.vertices.empty() || tolerances.size() != mesh.vertices.size() || !mesh.IsConsistent() ||
        !FitsVertexMaps(mesh))
        return 0;
    // Serial: each vertex's fate depends on which vertices were kept before it.
    const std::size_t vertexCount = mesh.vertices.size();
    std::vector<std::uint32_t> keeper(vertexCount);
    std::vector<std::uint32_t> next(vertexCount, kNoVertex);
    std::vector<std::int32_t> levelOf;
    std::vector<WeldLevel> levels = MakeWeldLevels(tolerances, levelOf, next);
    // The 27 cells in search order: dx outermost, then dy, dz innermost.
    struct Neighbour {
        std::int64_t dx, dy, dz;
        std::uint64_t linear;
    };
    std::vector<Neighbour> neighbours;
    for (std::int64_t dx = -1; dx <= 1; ++dx)
        for (std::int64_t dy = -1; dy <= 1; ++dy)
            for (std::int64_t dz = -1; dz <= 1; ++dz)
                neighbours.push_back({dx, dy, dz, CellGrid::LinearKey(dx, dy, dz)});
    const MeshVertex* vertices = mesh.vertices.data();
    const float* reachOf = tolerances.data();
    for (std::size_t v = 0; v < vertexCount; ++v) {
        keeper[v] = static_cast<std::uint32_t>(v);
        if (levelOf[v] < 0)
            continue;
        const Vec3 p = vertices[v].position;
        const float own = reachOf[v];
        // Two vertices weld when within the smaller of their tolerances: a fine piece is never
        // welded at the reach of a coarse one beside it.
        std::uint32_t found = kNoVertex;
        CellGrid::Cell ownHome;
        for (std::size_t l = 0; l < levels.size() && found == kNoVertex; ++l) {
            const CellGrid::Cell home = CellOf(p, levels[l].cellSize);
            if (static_cast<std::int32_t>(l) == levelOf[v])
                ownHome = home;
            const std::uint64_t homeLinear = CellGrid::LinearKey(home.x, home.y, home.z);
            for (const Neighbour& d : neighbours) {
                const CellGrid::Cell cell{home.x + d.dx, home.y + d.dy, home.z + d.dz};
                for (std::uint32_t k = levels[l].grid.Head(cell, homeLinear + d.linear); k != kNoVertex;
                     k = levels[l].grid.Next(k)) {
                    const float reach = std::min(own, reachOf[k]);
                    if (SquaredDistance(vertices[k].position, p) <= reach * reach) {
                        found = k;
                        break;
                    }
                }
                if (found != kNoVertex)
                    break;
            }
        }
        // Not found: every level was searched, its own included.
        if (found != kNoVertex)
            keeper[v] = found;
        else
            levels[levelOf[v]].grid.File(ownHome, static_cast<std::uint32_t>(v));
    }
    return CompactVertices(mesh, keeper.data());
}

std::uint64_t RemoveDegenerateTriangles(TriangleMesh& mesh, bool indicesOnly)
{
    if (!mesh.IsConsistent())
        return 0;
    const std::uint32_t* indices = mesh.indices.data();
    const MeshVertex* vertices = mesh.vertices.data();
    return KeepTriangles(mesh, [&](std::size_t t) {
        const std::uint32_t a = indices[3 * t], b = indices[3 * t + 1], c = indices[3 * t + 2];
        if (a == b || b == c || a == c)
            return false;
        if (indicesOnly)
            return true;
        const Vec3 p0 = vertices[a].position;
        const Vec3 n = Cross(vertices[b].position - p0, vertices[c].position - p0);
        // Dropped when the length is 0 or less; a NaN length is kept.
        return !(std::sqrt(Dot(n, n)) <= 0.0f);
    });
}

std::uint64_t CountDuplicateTriangles(const TriangleMesh& mesh)
{
    if (mesh.indices.empty() || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return 0;
    // Which triangle of a corner set is counted does not change the count.
    auto keep = std::make_unique_for_overwrite<std::uint8_t[]>(mesh.TriangleCount());
    return MarkFirstTriangles(mesh, keep.get());
}

std::uint64_t RemoveDuplicateTriangles(TriangleMesh& mesh)
{
    if (mesh.indices.empty() || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return 0;
    auto keep = std::make_unique_for_overwrite<std::uint8_t[]>(mesh.TriangleCount());
    if (MarkFirstTriangles(mesh, keep.get()) == 0)
        return 0;
    const std::uint8_t* flags = keep.get();
    return KeepTriangles(mesh, [flags](std::size_t t) { return flags[t] != 0; });
}

std::uint64_t RemoveUnusedVertices(TriangleMesh& mesh)
{
    if (mesh.vertices.empty() || !mesh.IsConsistent() || !FitsVertexMaps(mesh))
        return 0;
    const std::size_t vertexCount = mesh.vertices.size();
    auto keeper = std::make_unique_for_overwrite<std::uint32_t[]>(vertexCount);
    ParallelFor(vertexCount, [&](std::size_t v) { keeper[v] = kNoVertex; }, kGrain);
    // Several corners may mark one vertex at once; they all store the same value, through
    // relaxed atomic stores so that the concurrent writes are well defined.
    const std::uint32_t* indices = mesh.indices.data();
    ParallelFor(mesh.indices.size(), [&](std::size_t k) {
        std::atomic_ref<std::uint32_t>(keeper[indices[k]]).store(indices[k], std::memory_order_relaxed);
    }, kGrain);
    return CompactVertices(mesh, keeper.get());
}

}  // namespace grainforge::mesh
