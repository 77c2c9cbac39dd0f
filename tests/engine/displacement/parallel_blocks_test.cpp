#include "engine/displacement/parallel_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

TEST(ParallelBlocks, CoversTheRangeInBlocksOfTheGivenSize)
{
    struct Case {
        std::size_t n;
        std::vector<std::pair<std::size_t, std::size_t>> blocks;  // (block number, items)
    };
    const Case cases[] = {
        {0, {}},
        {1, {{0, 1}}},
        {4096, {{0, 4096}}},
        {4097, {{0, 4096}, {1, 1}}},
    };
    for (const Case& c : cases) {
        std::mutex mutex;
        std::vector<std::pair<std::size_t, std::size_t>> seen;
        ParallelBlocks(c.n, 4096, [&](std::size_t begin, std::size_t end, std::size_t block) {
            EXPECT_EQ(begin, block * 4096);
            std::lock_guard lock(mutex);
            seen.emplace_back(block, end - begin);
        }, nullptr);
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, c.blocks) << c.n;
    }
}

TEST(ParallelBlocks, TwoThrowingBlocksSurfaceOneOfTheirExceptions)
{
    int caught = 0;
    try {
        ParallelBlocks(64, 1, [](std::size_t begin, std::size_t, std::size_t) {
            if (begin == 7 || begin == 40)
                throw std::runtime_error(begin == 7 ? "seven" : "forty");
        }, nullptr);
    } catch (const std::runtime_error& e) {
        ++caught;
        EXPECT_TRUE(std::string(e.what()) == "seven" || std::string(e.what()) == "forty");
    }
    EXPECT_EQ(caught, 1);
}

TEST(ParallelBlocks, AStopFromTheCallbackThrowsStoppedThoughNoBlockThrew)
{
    std::atomic<int> asked{0};
    const ProgressCallback refuse = [&](const std::string& stage, float fraction) {
        EXPECT_EQ(stage, "Displacing: building the solid");
        EXPECT_EQ(fraction, -1.0f);
        ++asked;
        return false;
    };
    JobProgressContext job(refuse);
    job.stage = "Displacing: building the solid";
    std::atomic<std::size_t> ran{0};
    EXPECT_THROW(ParallelBlocks(10000, 1, [&](std::size_t, std::size_t, std::size_t) { ++ran; }, &job),
        Stopped);
    EXPECT_EQ(asked.load(), 1);     // asked once, then every poll answers at once
    EXPECT_LT(ran.load(), 10000u);  // the blocks after the stop were skipped
    EXPECT_TRUE(job.stopped);
    // The stop stays: a later loop of the same job runs nothing.
    ran = 0;
    EXPECT_THROW(ParallelBlocks(100, 1, [&](std::size_t, std::size_t, std::size_t) { ++ran; }, &job), Stopped);
    EXPECT_EQ(ran.load(), 0u);
}

TEST(ParallelBlocks, WithoutACallbackOrAJobNothingStops)
{
    const ProgressCallback none;
    JobProgressContext job(none);
    std::atomic<std::size_t> ran{0};
    ParallelBlocks(5000, 1, [&](std::size_t, std::size_t, std::size_t) { ++ran; }, &job);
    ParallelBlocks(5000, 1, [&](std::size_t, std::size_t, std::size_t) { ++ran; }, nullptr);
    EXPECT_EQ(ran.load(), 10000u);
    EXPECT_FALSE(job.stopped);
}

TEST(PollSolidCancel, AsksTheCallbackOnEveryThirtySecondPoll)
{
    int asked = 0;
    const ProgressCallback count = [&](const std::string&, float) { ++asked; return true; };
    JobProgressContext job(count);
    for (int i = 0; i < 65; ++i)
        EXPECT_FALSE(PollSolidCancel(job));
    EXPECT_EQ(asked, 3);  // polls 0, 32 and 64
}

}  // namespace
}  // namespace grainforge::mesh
