#include "engine/displacement/parallel_blocks.h"

namespace grainforge::mesh {

bool PollSolidCancel(JobProgressContext& job)
{
    // A string and a lock per call would cost more than a block's work; every 32nd is enough
    // for a stop to feel immediate.
    constexpr std::uint32_t kCallsPerAsk = 32;
    if (job.stopped.load(std::memory_order_acquire))
        return true;
    if (!job.callback)
        return false;
    const std::uint32_t k = job.calls.fetch_add(1, std::memory_order_relaxed);
    if (k % kCallsPerAsk != 0)
        return false;
    std::unique_lock lock(job.mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return job.stopped.load(std::memory_order_acquire);
    if (!job.callback(job.stage, -1.0f))
        job.stopped.store(true, std::memory_order_release);
    return job.stopped.load(std::memory_order_acquire);
}

}  // namespace grainforge::mesh
