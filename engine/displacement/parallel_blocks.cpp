#include "engine/displacement/parallel_blocks.h"

#include <algorithm>

namespace grainforge::mesh {

namespace {

// The phase's share done, from the running loop's finished blocks; -1 without a span.
// Called under the job's mutex, so what is given never goes back.
float SpanFraction(JobProgressContext& job)
{
    if (!(job.spanTo > job.spanFrom))
        return -1.0f;
    const std::size_t total = job.blocksTotal;
    const std::size_t done = std::min(job.blocksDone.load(std::memory_order_relaxed), total);
    const double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    const auto fraction = static_cast<float>(job.spanFrom + (job.spanTo - job.spanFrom) * share);
    job.reported = std::max(job.reported, fraction);
    return job.reported;
}

}  // namespace

void SetProgressSpan(JobProgressContext* job, float from, float to)
{
    if (!job)
        return;
    job->spanFrom = from;
    job->spanTo = to;
}

bool ReportPhaseFraction(JobProgressContext& job, float fraction)
{
    if (job.stopped.load(std::memory_order_acquire))
        return true;
    if (!job.callback)
        return false;
    const std::lock_guard lock(job.mutex);
    job.reported = std::max(job.reported, fraction);
    if (!job.callback(job.stage, job.reported))
        job.stopped.store(true, std::memory_order_release);
    return job.stopped.load(std::memory_order_acquire);
}

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
    if (!job.callback(job.stage, SpanFraction(job)))
        job.stopped.store(true, std::memory_order_release);
    return job.stopped.load(std::memory_order_acquire);
}

}  // namespace grainforge::mesh
