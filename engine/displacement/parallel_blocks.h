// The block-wise parallel loops of the solid displacement, and how a user's stop reaches them.
// Every heavy loop of the solid displacement runs over [0, n) in blocks of a fixed size chosen
// per loop (the constants below); the blocks run on the engine's one parallel helper. Before
// each block the running job's progress callback may be asked whether to go on: at most one
// worker at a time asks, and only on every 32nd block, so the callback is cheap and must be
// safe to call from any thread. Once a stop is asked, the remaining blocks are skipped and the
// loop throws `Stopped`, which the solid displacement catches at its boundary.
//
// The job travels as an argument, never through process-wide state, so two solid displacements
// may run at once and a loop outside a job (no context) can never be stopped.
#pragma once

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/progress.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace grainforge::mesh {

// Thrown by ParallelBlocks when the job was asked to stop. One named type for every phase's
// source file, so the solid displacement's catch sees the stops of all of them.
struct Stopped {};

// The running solid displacement's link to its caller: the progress callback (may be empty:
// then the job cannot be stopped from inside a phase) and the current phase text.
struct JobProgressContext {
    explicit JobProgressContext(const ProgressCallback& progress) : callback(progress) {}
    JobProgressContext(const JobProgressContext&) = delete;
    JobProgressContext& operator=(const JobProgressContext&) = delete;

    const ProgressCallback& callback;
    std::string stage;                   // set by the calling thread between phases only
    std::atomic<bool> stopped{false};    // once set, stays set for the rest of the job
    std::atomic<std::uint32_t> calls{0};
    std::mutex mutex;                    // one worker at a time calls the callback
    // The share of the phase done when the next loop starts and when it ends: a loop reports
    // its finished blocks inside this span. Set by the calling thread between loops; an empty
    // span reports no fraction.
    float spanFrom = 0.0f;
    float spanTo = 0.0f;
    std::size_t blocksTotal = 0;          // of the running loop, set before it starts
    std::atomic<std::size_t> blocksDone{0};
    float reported = -1.0f;               // the last fraction given, under `mutex`
};

// The running phase's next loops report inside [from, to] (shares of the phase, 0..1).
void SetProgressSpan(JobProgressContext* job, float from, float to);

// A checkpoint between loops, on the calling thread: reports `fraction` of the phase (never
// less than what was reported) and asks whether to go on. True when the job should stop.
bool ReportPhaseFraction(JobProgressContext& job, float fraction);

// Block sizes of the loops: the work of one block is about the same for all of them.
inline constexpr std::size_t kColumnCrossingBlock = 4096;     // input triangles
inline constexpr std::size_t kColumnSortBlock = 1024;         // grid columns
inline constexpr std::size_t kCandidateBlockTestBlock = 64;   // candidate field blocks
inline constexpr std::size_t kSeedingBlock = 1024;            // input triangles
inline constexpr std::size_t kPropagationBlock = 16384;       // stored field points
inline constexpr std::size_t kBlockValuesBlock = 4;           // stored field blocks (2048 points)
inline constexpr std::size_t kSignChangeBlock = 8;            // stored field blocks
inline constexpr std::size_t kFlipBytesBlock = 8192;          // contour cells
inline constexpr std::size_t kCellVerticesBlock = 4096;       // contour cells
inline constexpr std::size_t kQuadsBlock = 4096;              // contour cells
inline constexpr std::size_t kClearanceRaysBlock = 2048;      // input vertices
inline constexpr std::size_t kTransferVerticesBlock = 4096;   // new vertices
inline constexpr std::size_t kTransferFacesBlock = 4096;      // new triangles

// True when the job should stop. Asks the callback on every 32nd call only, and only when no
// other worker is asking at that moment (a worker never waits for another's call).
bool PollSolidCancel(JobProgressContext& job);

// Calls body(begin, end, block) for the blocks [B b, min(B b + B, n)) of [0, n), in parallel.
// With a job, a block first polls for a stop and is skipped once one is asked. The first
// exception a body throws is rethrown after the loop; otherwise, when the job was stopped,
// the loop throws Stopped (also when no block threw).
template <class Body>
void ParallelBlocks(std::size_t n, std::size_t blockSize, Body&& body, JobProgressContext* job)
{
    if (blockSize == 0)
        blockSize = 1;
    if (job) {
        job->blocksTotal = (n + blockSize - 1) / blockSize;
        job->blocksDone.store(0, std::memory_order_relaxed);
    }
    ParallelForBlocks(n, blockSize, [&](std::size_t begin, std::size_t end) {
        if (job && PollSolidCancel(*job))
            return;
        body(begin, end, begin / blockSize);
        if (job)
            job->blocksDone.fetch_add(1, std::memory_order_relaxed);
    });
    if (job && job->stopped.load(std::memory_order_acquire))
        throw Stopped{};
}

}  // namespace grainforge::mesh
