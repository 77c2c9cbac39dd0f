// Internal: triangles grouped by the chunks of consecutive vertex indices they touch, for the
// passes that gather per vertex (vertex normals, edge and duplicate counts).
//
// Why: in nearly every mesh, triangles that are close in the index array use vertices that are
// close in number (a welded soup numbers its vertices in order of first use). A task that owns
// one chunk of vertices then only has to walk the few blocks of triangles that touch it, in
// triangle order, and can gather its vertices' results in place with a table that fits the
// core's cache; no large scratch arrays are needed. Chunks own disjoint vertices, so they run
// in parallel, and since each walks its triangles in ascending order, every per-vertex sum
// sees its terms in the same order as a serial loop.
//
// For a mesh whose indices are scattered (each block touching many chunks) the grouping is
// refused and callers fall back to a hash partition (hash_partition.h).
#pragma once

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace grainforge::mesh::detail {

struct VertexChunks {
    unsigned shift = 0;                      // chunk c holds vertices [c << shift, (c + 1) << shift)
    std::size_t chunks = 0;
    std::size_t blockSize = 0;               // triangles per block
    std::size_t triangles = 0;
    std::vector<std::uint32_t> blockOffsets; // chunk c's blocks: blocks[blockOffsets[c] .. blockOffsets[c + 1])
    std::vector<std::uint32_t> blocks;       // ascending for each chunk

    std::size_t ChunkOf(std::uint32_t vertex) const { return vertex >> shift; }
    std::size_t FirstVertex(std::size_t chunk) const { return chunk << shift; }

    // Calls body(t) for every triangle of the blocks that touch `chunk`, in ascending order.
    // The triangles of those blocks that do not touch the chunk are passed too; the body
    // filters by corner.
    template <class Body>
    void ForEachTriangle(std::size_t chunk, Body&& body) const
    {
        for (std::size_t i = blockOffsets[chunk]; i < blockOffsets[chunk + 1]; ++i) {
            const std::size_t begin = std::size_t{blocks[i]} * blockSize;
            const std::size_t end = std::min(triangles, begin + blockSize);
            for (std::size_t t = begin; t < end; ++t)
                body(t);
        }
    }
};

// Vertices per chunk: 4096 keeps a chunk's edge table (about three edges a vertex, 16 bytes a
// slot at half load) within 512 KB.
inline constexpr unsigned kVertexChunkShift = 12;
// Triangles per block.
inline constexpr std::size_t kTriangleBlockSize = 1024;

// Groups the triangles of a consistent mesh (indices below vertexCount) by vertex chunk.
// Returns false, with `chunks` unusable, when the blocks touch on average more than
// kMaxChunksPerBlock chunks: walking them would then cost more than partitioning.
inline bool GroupTrianglesByVertexChunk(const std::uint32_t* indices, std::size_t triangleCount,
    std::size_t vertexCount, VertexChunks& chunks)
{
    constexpr std::size_t kMaxChunksPerBlock = 3;
    chunks.shift = kVertexChunkShift;
    chunks.chunks = std::max<std::size_t>(1, (vertexCount + (std::size_t{1} << chunks.shift) - 1) >> chunks.shift);
    chunks.blockSize = kTriangleBlockSize;
    chunks.triangles = triangleCount;
    const std::size_t blockCount = (triangleCount + chunks.blockSize - 1) / chunks.blockSize;

    // The chunks each block touches, ascending: every chunk between its lowest and highest
    // vertex's, or for a wide span the distinct ones (as long as they are few). Listing a
    // chunk a block does not touch only costs a walk; missing one would lose triangles.
    constexpr std::size_t kExactListLimit = 16;
    const std::size_t pairLimit = kMaxChunksPerBlock * blockCount;
    std::atomic<std::size_t> pairs{0};
    std::vector<std::vector<std::uint32_t>> touched(blockCount);
    ParallelFor(blockCount, [&](std::size_t b) {
        if (pairs.load(std::memory_order_relaxed) > pairLimit)
            return;
        const std::size_t begin = b * chunks.blockSize * 3;
        const std::size_t end = std::min(triangleCount, (b + 1) * chunks.blockSize) * 3;
        std::vector<std::uint32_t>& list = touched[b];
        std::uint32_t low = UINT32_MAX, high = 0;
        for (std::size_t i = begin; i < end; ++i) {
            low = std::min(low, indices[i]);
            high = std::max(high, indices[i]);
        }
        const std::size_t first = chunks.ChunkOf(low), last = chunks.ChunkOf(high);
        // A narrow span is listed whole; only a wide one is worth finding its chunks.
        bool exact = last - first >= kExactListLimit;
        if (exact) {
            std::uint32_t recent = UINT32_MAX;
            for (std::size_t i = begin; i < end && exact; ++i) {
                const auto c = static_cast<std::uint32_t>(chunks.ChunkOf(indices[i]));
                if (c == recent)
                    continue;
                recent = c;
                if (std::find(list.begin(), list.end(), c) == list.end()) {
                    list.push_back(c);
                    exact = list.size() <= kExactListLimit;
                }
            }
        }
        if (exact) {
            std::sort(list.begin(), list.end());
        } else {
            list.clear();
            if (last - first >= pairLimit) {
                pairs.store(pairLimit + 1, std::memory_order_relaxed);
                return;
            }
            for (std::size_t c = first; c <= last; ++c)
                list.push_back(static_cast<std::uint32_t>(c));
        }
        pairs.fetch_add(list.size(), std::memory_order_relaxed);
    }, 16);
    if (pairs.load() > pairLimit)
        return false;

    chunks.blockOffsets.assign(chunks.chunks + 1, 0);
    for (const auto& list : touched) {
        for (std::uint32_t c : list)
            ++chunks.blockOffsets[c + 1];
    }
    for (std::size_t c = 0; c < chunks.chunks; ++c)
        chunks.blockOffsets[c + 1] += chunks.blockOffsets[c];
    chunks.blocks.resize(pairs.load());
    std::vector<std::uint32_t> next(chunks.blockOffsets.begin(), chunks.blockOffsets.end() - 1);
    for (std::size_t b = 0; b < blockCount; ++b) {
        for (std::uint32_t c : touched[b])
            chunks.blocks[next[c]++] = static_cast<std::uint32_t>(b);
    }
    return true;
}

}  // namespace grainforge::mesh::detail
