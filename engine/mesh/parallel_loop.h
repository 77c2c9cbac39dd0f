// The one parallel loop of the engine. Heavy per-element loops split an index range into
// blocks and run them on the standard parallel algorithms (oneTBB underneath). A body may
// throw: the first exception is held and rethrown on the calling thread once every block has
// finished or been skipped, because an exception escaping a parallel algorithm ends the
// process. Results never depend on the number of threads as long as bodies write to disjoint
// slots, which is how every caller uses it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <execution>
#include <iterator>
#include <memory>
#include <mutex>

#ifndef _PSTL_PAR_BACKEND_TBB
#error "The standard parallel algorithms need oneTBB (<tbb/tbb.h>); without it they run serially."
#endif

namespace grainforge::mesh {

// Blocks below this many elements run serially on the calling thread; thread start-up costs
// more than it saves on such small ranges.
inline constexpr std::size_t kDefaultParallelGrain = 2048;

// Holds the first exception thrown by any block; later ones are dropped.
class FirstException {
public:
    // Records the exception being handled, unless one is held already. Call inside a catch.
    void Capture() noexcept;
    bool IsSet() const noexcept { return held_.load(std::memory_order_acquire); }
    // Rethrows the held exception, if any, on the calling thread.
    void RethrowIfAny();

private:
    std::mutex mutex_;
    std::exception_ptr first_;
    std::atomic<bool> held_{false};
};

namespace detail {

// A random-access iterator over block numbers, so that the parallel algorithms split the
// range instead of falling back to a serial walk (as they do for input iterators).
class BlockIterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::size_t*;
    using reference = std::size_t;

    BlockIterator() = default;
    explicit BlockIterator(std::size_t value) : value_(value) {}
    std::size_t operator*() const { return value_; }
    std::size_t operator[](difference_type n) const { return value_ + static_cast<std::size_t>(n); }
    BlockIterator& operator++() { ++value_; return *this; }
    BlockIterator operator++(int) { BlockIterator old = *this; ++value_; return old; }
    BlockIterator& operator--() { --value_; return *this; }
    BlockIterator operator--(int) { BlockIterator old = *this; --value_; return old; }
    BlockIterator& operator+=(difference_type n) { value_ += static_cast<std::size_t>(n); return *this; }
    BlockIterator& operator-=(difference_type n) { value_ -= static_cast<std::size_t>(n); return *this; }
    friend BlockIterator operator+(BlockIterator it, difference_type n) { return it += n; }
    friend BlockIterator operator+(difference_type n, BlockIterator it) { return it += n; }
    friend BlockIterator operator-(BlockIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(BlockIterator a, BlockIterator b)
    {
        return static_cast<difference_type>(a.value_) - static_cast<difference_type>(b.value_);
    }
    friend auto operator<=>(const BlockIterator&, const BlockIterator&) = default;

private:
    std::size_t value_ = 0;
};

}  // namespace detail

// Runs body(begin, end) over consecutive blocks of at most `grain` indices that together cover
// [0, count). Blocks run in parallel and in no defined order; a range of at most `grain`
// indices runs serially on the calling thread. The first exception thrown by a block is
// rethrown after the loop; blocks that had not started by then are skipped.
template <class Body>
void ParallelForBlocks(std::size_t count, std::size_t grain, Body&& body)
{
    if (count == 0)
        return;
    if (grain == 0)
        grain = 1;
    if (count <= grain) {
        body(std::size_t{0}, count);
        return;
    }
    const std::size_t blocks = count / grain + (count % grain != 0 ? 1 : 0);
    FirstException failure;
    std::for_each(std::execution::par, detail::BlockIterator(0), detail::BlockIterator(blocks),
        [&](std::size_t block) {
            if (failure.IsSet())
                return;
            try {
                const std::size_t begin = block * grain;
                body(begin, std::min(count, begin + grain));
            } catch (...) {
                failure.Capture();
            }
        });
    failure.RethrowIfAny();
}

// Runs body(i) for every i in [0, count), in parallel blocks of `grain` indices.
template <class Body>
void ParallelFor(std::size_t count, Body&& body, std::size_t grain = kDefaultParallelGrain)
{
    ParallelForBlocks(count, grain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            body(i);
    });
}

// Fork-join: runs first() and second(), possibly at once on the parallel loops' own threads
// (never on a thread of its own, so ThreadLimit holds), and returns when both are done.
// Nested calls share the same threads, which suits recursive builds. The first exception is
// rethrown after both have finished or been skipped.
template <class First, class Second>
void ParallelInvoke(First&& first, Second&& second)
{
    ParallelForBlocks(2, 1, [&](std::size_t begin, std::size_t) {
        if (begin == 0)
            first();
        else
            second();
    });
}

// Sorts in parallel. Comparators must not throw; an allocation failure of the algorithm's
// buffer arrives as std::bad_alloc.
template <class RandomIt, class Compare>
void ParallelSort(RandomIt first, RandomIt last, Compare compare)
{
    std::sort(std::execution::par, first, last, compare);
}

template <class RandomIt>
void ParallelSort(RandomIt first, RandomIt last)
{
    std::sort(std::execution::par, first, last);
}

// Caps the number of worker threads of every parallel loop while it lives. Process-wide:
// create it on the main thread before parallel work starts (tests and benchmarks use it to
// compare thread counts); nested limits take the smallest.
class [[nodiscard]] ThreadLimit {
public:
    explicit ThreadLimit(std::size_t threads);
    ~ThreadLimit();
    ThreadLimit(const ThreadLimit&) = delete;
    ThreadLimit& operator=(const ThreadLimit&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace grainforge::mesh
