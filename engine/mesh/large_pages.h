// Blocks of many megabytes that loops read in no particular order (search trees, distance
// fields, the simplifier's heap) are put on large pages: with ordinary 4 KiB pages most such
// reads also miss the address translation cache, which covers only a few megabytes. Only where
// the memory lies changes, never what it holds, so every result stays the same to the bit.
#pragma once

#include "platform/memory_info.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace grainforge::mesh {

// An allocator giving cache-line aligned blocks (or the type's own alignment when larger),
// offered large pages before anything is written to them.
template <typename T>
struct LargeBlockAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{std::max<std::size_t>(64, alignof(T))};
    LargeBlockAllocator() = default;
    template <typename U>
    explicit LargeBlockAllocator(const LargeBlockAllocator<U>&)
    {
    }
    T* allocate(std::size_t n)
    {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        void* block = ::operator new(n * sizeof(T), kAlignment);
        platform::AdviseLargePages(block, n * sizeof(T));
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kAlignment); }
    friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;

// Makes room in `values` for `count` elements, on a block offered large pages when a new block
// is needed. An assignment of no more elements that follows keeps that block.
template <typename T>
void ReserveOnLargePages(std::vector<T>& values, std::size_t count)
{
    if (values.capacity() < count) {
        std::vector<T> fresh;
        fresh.reserve(count);
        platform::AdviseLargePages(fresh.data(), fresh.capacity() * sizeof(T));
        fresh.assign(values.begin(), values.end());
        values.swap(fresh);
    }
}

// values.assign(count, value) for a plain std::vector, with a block too small for `count`
// replaced by one offered large pages before the fill first writes it.
template <typename T>
void AssignOnLargePages(std::vector<T>& values, std::size_t count, const T& value)
{
    if (values.capacity() < count) {
        std::vector<T>().swap(values);
        ReserveOnLargePages(values, count);
    }
    values.assign(count, value);
}

}  // namespace grainforge::mesh
