// The "Process" job on one background worker thread while the user keeps working. The document
// owns one pipeline and drives it from the user-interface thread: it hands over the source part
// and the height map, requests runs, polls for the end of a run on every idle pass and reads a
// status snapshot. The stage work itself is PipelineStages; this is the shell around it:
// ownership, the thread, the request, pending and cancel rules, publishing, the blocking wait,
// status and progress.
//
// Threads: every public operation runs on the user-interface thread; at most one worker runs at
// a time and a new one starts only after the previous one was joined. The stage state belongs
// to the worker while a run is on; the user-interface thread reads what the worker wrote only
// after joining it. The published result is touched by the user-interface thread only.
#pragma once

#include "engine/displacement/texture_weights.h"
#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/pipeline_records.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/textures/height_map.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace grainforge::mesh {

// What a run ending in an error other than running out of memory reports.
inline constexpr const char* kRunErrorPrefix = "Process stopped on an error: ";
inline constexpr const char* kRunErrorSuffix = ". Nothing was changed.";
inline constexpr const char* kRunUnknownErrorText =
    "Process stopped on an error. Nothing was changed.";

class AsyncPipeline {
public:
    // Replaces PipelineStages::Run in tests, so that a run can block, fail or throw on cue.
    using RunFunction = std::function<bool(PipelineStages&, const ProgressCallback&)>;

    AsyncPipeline() = default;
    AsyncPipeline(const AsyncPipeline&) = delete;
    AsyncPipeline& operator=(const AsyncPipeline&) = delete;
    // Cancels a run and waits for the worker to notice.
    ~AsyncPipeline();

    // Stops any run, takes `mesh` as the new source and publishes it at once (empty weights, a
    // default report).
    void SetSource(TriangleMesh mesh);
    // Stops any run and takes over the height map; the displacement and simplify stages go
    // stale. Nothing is published.
    void SetHeightMap(HeightMap heightMap);
    // Stops any run, resets every stage, empties the source and publishes an empty result.
    void Clear();

    // A user's "Process". During a full-quality run the request waits as the single pending one
    // (the newest wins); a preview run is cancelled for it.
    void Request(const PipelineSettings& settings);
    // Prepares and starts a run. True when a worker started; a run with nothing to do publishes
    // at once, one with an empty source does nothing. A worker that cannot be started ends as a
    // failed run.
    bool StartLocked(const PipelineSettings& settings, PipelineQuality quality);
    // Makes the outcome of the finished run visible; only while no worker runs.
    void PublishResult();
    // Blocks until a full-quality result of the last requested settings is published or the
    // last run failed.
    void WaitForFullResult();
    // The document's idle pass: joins a finished worker and publishes, then starts the pending
    // request. True when something was published since the last poll.
    bool Poll();
    // Asks the running worker to stop; the next poll publishes the stop.
    void Cancel();

    [[nodiscard]] PipelineStatus GetStatus() const;
    [[nodiscard]] bool IsRunning() const { return running_.load(); }
    // A run result was published since the source was last set.
    [[nodiscard]] bool HasResult() const { return hasResult_; }
    // The published result came from a preview-quality run.
    [[nodiscard]] bool PreviewShown() const { return previewShown_; }
    [[nodiscard]] bool HasPendingRequest() const { return hasPending_; }

    // The published result, what the document displays and exports.
    [[nodiscard]] const TriangleMesh& PublishedMesh() const { return publishedMesh_; }
    [[nodiscard]] const TextureWeights& PublishedWeights() const { return publishedWeights_; }
    [[nodiscard]] const PipelineReport& PublishedReport() const { return publishedReport_; }

    // The stage state; only while no worker runs.
    [[nodiscard]] const PipelineStages& Stages() const { return stages_; }

    // Test seams: a replacement for the stage run, and a failure of the next thread start.
    void SetRunForTesting(RunFunction run) { runForTesting_ = std::move(run); }
    void FailNextThreadStartForTesting() { failNextThreadStart_ = true; }

private:
    // Sets `cancel` when a run is on, joins the worker and clears `running`.
    void StopRun();
    // Joins a worker that exists and clears `running`.
    void JoinWorker();
    // The worker thread's body: runs the stages and records how the run ended.
    void WorkerBody();
    // The progress callback's body: keeps the status block and answers `cancel`.
    bool ReportProgress(const std::string& stage, float fraction);
    // The run's settings for a request of `quality`; `effective` receives the quality it runs at.
    PipelineSettings RunSettings(const PipelineSettings& settings, PipelineQuality quality,
        PipelineQuality& effective) const;
    // Clears the status block and starts the worker; a thread that cannot start is a failed run.
    bool StartWorker();
    // Copies the finished run into the published result, whole or not at all.
    void PublishReadyResult();
    void PublishUnreadyOutcome();
    void PublishEmpty();

    PipelineStages stages_;
    RunFunction runForTesting_;
    bool failNextThreadStart_ = false;

    TriangleMesh publishedMesh_;
    TextureWeights publishedWeights_;
    PipelineReport publishedReport_;

    std::thread worker_;
    std::atomic<bool> running_{false};  // a worker was started and not yet joined
    std::atomic<bool> done_{false};     // the worker's last act
    std::atomic<bool> cancel_{false};   // read by the worker through the progress callback
    std::atomic<bool> ready_{false};    // the run ended normally and may be published
    bool published_ = false;            // published and not yet reported to a poll
    PipelineQuality quality_ = PipelineQuality::full;

    PipelineSettings pending_;
    bool hasPending_ = false;
    PipelineQuality pendingQuality_ = PipelineQuality::full;
    PipelineSettings lastRequested_;
    bool hasLastRequested_ = false;
    bool previewShown_ = false;
    bool hasResult_ = false;

    mutable std::mutex statusMutex_;
    std::string stageText_;
    float fraction_ = 0.0f;
    bool hasFraction_ = false;

    bool cancelled_ = false;
    bool failed_ = false;
    std::string message_;
    std::string errorText_;  // written by the worker, read after the join
};

}  // namespace grainforge::mesh
