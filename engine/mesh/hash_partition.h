// Internal building blocks of the hashing passes (welds, duplicate and edge counting, vertex
// normals): a 64-bit mix, a stable parallel partition of items into buckets, and block-wise
// prefix counts for order-keeping compaction.
//
// Why partitioning instead of one big hash table: the passes run on soups of millions of
// vertices. One table for all of them is tens of megabytes probed at random; splitting the
// items first into a few thousand buckets (by the top bits of their hash) gives tables that
// fit the core's cache, and buckets are independent, so they run in parallel. The partition is
// stable (within a bucket, items keep their index order), so "the first item with this key"
// is the same as in a serial walk, whatever the thread count.
#pragma once

#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace grainforge::mesh::detail {

// Murmur3's 64-bit finaliser: every input bit reaches every output bit.
inline std::uint64_t Mix64(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// A key of three 32-bit words: a position's bit patterns or a sorted index triple.
struct Key96 {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t c = 0;
    friend bool operator==(const Key96&, const Key96&) = default;
};

inline std::uint64_t HashKey96(Key96 key)
{
    const std::uint64_t ab = (std::uint64_t{key.b} << 32) | key.a;
    return Mix64(ab * 0x9e3779b97f4a7c15ULL ^ (std::uint64_t{key.c} + 0x632be59bd9b4e019ULL) * 0xc2b2ae3d27d4eb4fULL);
}

// Bucket number from the top `bits` bits of a hash; the low bits stay free for the table slot.
inline std::size_t BucketOfHash(std::uint64_t hash, unsigned bits)
{
    return bits == 0 ? 0 : static_cast<std::size_t>(hash >> (64 - bits));
}

// Number of hash buckets for `count` items: a power of two giving about 1,500 items a bucket
// (a table of 4,096 slots, in L1/L2), at most 4,096 so the per-block histograms stay small.
inline unsigned BucketBitsFor(std::size_t count)
{
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(count / 1536, 1));
    return static_cast<unsigned>(std::countr_zero(std::min<std::size_t>(wanted, 4096)));
}

// Items per block of the partition's counting passes: at most 64 blocks (so histograms of
// blocks x buckets stay within a couple of megabytes), never below 32,768 items. Depends only
// on the count, never on the thread count.
inline std::size_t PartitionBlockSize(std::size_t count)
{
    return std::max<std::size_t>(32768, (count + 63) / 64);
}

template <class Entry>
struct Partitioned {
    std::unique_ptr<Entry[]> entries;   // every item's entry, bucket by bucket
    std::vector<std::size_t> offsets;  // bucket b holds entries [offsets[b], offsets[b + 1])

    std::size_t Buckets() const { return offsets.size() - 1; }
};

// Files the entry makeEntry(i) of every item i in [0, count) under bucket bucketOf(i) (which
// must be below `buckets` and give the same answer on every call). Within a bucket, entries
// keep item order. Runs in parallel: one counting pass, a prefix over (bucket, block), one
// scatter pass.
template <class Entry, class BucketOf, class MakeEntry>
Partitioned<Entry> PartitionStable(std::size_t count, std::size_t buckets, BucketOf bucketOf, MakeEntry makeEntry)
{
    Partitioned<Entry> result;
    result.entries = std::make_unique_for_overwrite<Entry[]>(count);
    result.offsets.assign(buckets + 1, 0);
    const std::size_t block = PartitionBlockSize(count);
    const std::size_t blocks = (count + block - 1) / block;
    // cursor[k * buckets + b]: count, then write position, of bucket b in block k.
    std::vector<std::size_t> cursor(blocks * buckets, 0);
    ParallelForBlocks(count, block, [&](std::size_t begin, std::size_t end) {
        std::size_t* row = cursor.data() + begin / block * buckets;
        for (std::size_t i = begin; i < end; ++i)
            ++row[bucketOf(i)];
    });
    std::size_t position = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        result.offsets[b] = position;
        for (std::size_t k = 0; k < blocks; ++k) {
            const std::size_t n = cursor[k * buckets + b];
            cursor[k * buckets + b] = position;
            position += n;
        }
    }
    result.offsets[buckets] = position;
    Entry* entries = result.entries.get();
    ParallelForBlocks(count, block, [&](std::size_t begin, std::size_t end) {
        std::size_t* row = cursor.data() + begin / block * buckets;
        for (std::size_t i = begin; i < end; ++i)
            entries[row[bucketOf(i)]++] = makeEntry(i);
    });
    return result;
}

// Result of FindFirstOccurrences.
struct FirstOccurrences {
    std::unique_ptr<std::uint32_t[]> first;  // per item: the lowest item index with its key
    std::size_t distinct = 0;                // number of distinct keys
};

// For every item i in [0, count) (count below 2^32), the lowest index j with keyOf(j) ==
// keyOf(i). Exactly what a serial walk with one hash set gives ("the first one keeps"): each
// bucket is walked in item order, and equal keys always share a bucket.
template <class KeyOf>
FirstOccurrences FindFirstOccurrences(std::size_t count, KeyOf keyOf)
{
    struct Entry {
        Key96 key;
        std::uint32_t item;
    };
    const unsigned bits = BucketBitsFor(count);
    const std::size_t buckets = std::size_t{1} << bits;
    const Partitioned<Entry> parts = PartitionStable<Entry>(
        count, buckets, [&](std::size_t i) { return BucketOfHash(HashKey96(keyOf(i)), bits); },
        [&](std::size_t i) { return Entry{keyOf(i), static_cast<std::uint32_t>(i)}; });

    FirstOccurrences result;
    result.first = std::make_unique_for_overwrite<std::uint32_t[]>(count);
    std::vector<std::size_t> distinct(buckets, 0);
    std::uint32_t* first = result.first.get();
    ParallelForBlocks(buckets, 1, [&](std::size_t bucketBegin, std::size_t bucketEnd) {
        std::vector<std::uint32_t> table;  // slot -> local entry position + 1, 0 when empty
        for (std::size_t b = bucketBegin; b < bucketEnd; ++b) {
            const Entry* entries = parts.entries.get() + parts.offsets[b];
            const std::size_t n = parts.offsets[b + 1] - parts.offsets[b];
            const std::size_t size = std::bit_ceil(std::max<std::size_t>(2 * n, 16));
            const std::size_t mask = size - 1;
            table.assign(size, 0);
            std::size_t kept = 0;
            for (std::size_t j = 0; j < n; ++j) {
                const Entry& entry = entries[j];
                std::size_t slot = HashKey96(entry.key) & mask;
                for (;;) {
                    const std::uint32_t occupant = table[slot];
                    if (occupant == 0) {
                        table[slot] = static_cast<std::uint32_t>(j + 1);
                        first[entry.item] = entry.item;
                        ++kept;
                        break;
                    }
                    if (entries[occupant - 1].key == entry.key) {
                        first[entry.item] = entries[occupant - 1].item;
                        break;
                    }
                    slot = (slot + 1) & mask;
                }
            }
            distinct[b] = kept;
        }
    });
    for (std::size_t n : distinct)
        result.distinct += n;
    return result;
}

// Exclusive starting positions of the fixed blocks of `grain` items that ParallelForBlocks
// makes of [0, count), from countBlock(begin, end), the number of items a block keeps. The
// last entry is the total. A second ParallelForBlocks with the same grain then writes block
// begin / grain from position starts[begin / grain], which keeps item order.
template <class CountBlock>
std::vector<std::size_t> BlockStarts(std::size_t count, std::size_t grain, CountBlock countBlock)
{
    const std::size_t blocks = count == 0 ? 0 : (count + grain - 1) / grain;
    std::vector<std::size_t> starts(blocks + 1, 0);
    ParallelForBlocks(count, grain, [&](std::size_t begin, std::size_t end) {
        starts[begin / grain + 1] = countBlock(begin, end);
    });
    for (std::size_t k = 0; k < blocks; ++k)
        starts[k + 1] += starts[k];
    return starts;
}

}  // namespace grainforge::mesh::detail
