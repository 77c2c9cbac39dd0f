#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace grainforge::mesh {
namespace {

TEST(ParallelForBlocks, CoversEveryIndexExactlyOnceForAnyGrain)
{
    for (std::size_t count : {0u, 1u, 7u, 2048u, 2049u, 100000u}) {
        for (std::size_t grain : {0u, 1u, 3u, 1000u, 5000u}) {
            std::vector<std::atomic<int>> hits(count);
            ParallelForBlocks(count, grain, [&](std::size_t begin, std::size_t end) {
                ASSERT_LT(begin, end);
                ASSERT_LE(end, count);
                for (std::size_t i = begin; i < end; ++i)
                    hits[i].fetch_add(1);
            });
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(hits[i].load(), 1) << "count " << count << " grain " << grain << " index " << i;
        }
    }
}

TEST(ParallelForBlocks, ExceptionReachesTheCallerAndLaterBlocksStop)
{
    std::atomic<std::size_t> started{0};
    EXPECT_THROW(ParallelForBlocks(1000000, 10, [&](std::size_t begin, std::size_t) {
                     started.fetch_add(1);
                     if (begin == 0 || begin == 500000)
                         throw std::runtime_error("block failed");
                 }),
                 std::runtime_error);
    EXPECT_LT(started.load(), 100000u);  // blocks not yet started when it was thrown are skipped
    EXPECT_THROW(ParallelFor(5, [](std::size_t i) { if (i == 3) throw std::bad_alloc(); }), std::bad_alloc);
}

// Sums 0 .. 2^depth - 1 by halving, as a recursive build does; records the threads that ran.
std::uint64_t ForkJoinSum(std::uint64_t first, int depth, std::mutex& mutex, std::set<std::thread::id>& threads)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
    }
    if (depth == 0) {
        volatile std::uint64_t spin = 0;  // enough work for another thread to steal the sibling
        for (int i = 0; i < 20000; ++i)
            spin = spin + 1;
        return first;
    }
    const std::uint64_t half = std::uint64_t{1} << (depth - 1);
    std::uint64_t left = 0, right = 0;
    ParallelInvoke([&] { left = ForkJoinSum(first, depth - 1, mutex, threads); },
                   [&] { right = ForkJoinSum(first + half, depth - 1, mutex, threads); });
    return left + right;
}

TEST(ParallelInvoke, NestedForkJoinRunsBothSidesWithinTheThreadLimit)
{
    const int depth = 12;
    const std::uint64_t expected = (std::uint64_t{1} << depth) * ((std::uint64_t{1} << depth) - 1) / 2;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (const std::size_t limit : {1u, 2u}) {
        const ThreadLimit threadLimit(limit);
        threads.clear();
        EXPECT_EQ(ForkJoinSum(0, depth, mutex, threads), expected);
        EXPECT_LE(threads.size(), limit);
    }

    EXPECT_THROW(ParallelInvoke([] {}, [] { throw std::runtime_error("second failed"); }),
                 std::runtime_error);
    EXPECT_THROW(ParallelInvoke([] { throw std::bad_alloc(); }, [] {}), std::bad_alloc);
}

}  // namespace
}  // namespace grainforge::mesh
