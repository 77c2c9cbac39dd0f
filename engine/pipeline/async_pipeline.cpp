#include "engine/pipeline/async_pipeline.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

namespace grainforge::mesh {

namespace {

// A preview remeshes this much coarser, so that it comes back quickly.
constexpr float kPreviewTriangleSizeFactor = 3.0f;

bool HasGeometry(const TriangleMesh& mesh)
{
    return !mesh.vertices.empty() && mesh.TriangleCount() != 0;
}

bool AnyStageDirty(const PipelineStages& stages)
{
    return std::any_of(stages.stageDirty.begin(), stages.stageDirty.end(),
        [](std::uint8_t dirty) { return dirty != 0; });
}

bool RemeshSettingsChange(const PipelineStages& stages, const PipelineSettings& next)
{
    const PipelineSettings& last = stages.lastSettings;
    if (stages.stageDirty[kStageRemesh] != 0 || last.remeshOn != next.remeshOn)
        return true;
    return !RemeshSettingsEquals(EffectiveRemeshSettings(last), EffectiveRemeshSettings(next));
}

}  // namespace

AsyncPipeline::~AsyncPipeline()
{
    StopRun();
}

void AsyncPipeline::StopRun()
{
    if (running_.load())
        cancel_.store(true);
    JoinWorker();
}

void AsyncPipeline::JoinWorker()
{
    if (worker_.joinable())
        worker_.join();
    running_.store(false);
}

void AsyncPipeline::SetSource(TriangleMesh mesh)
{
    StopRun();
    stages_.InstallSource(std::move(mesh));
    TriangleMesh published = stages_.result;
    publishedMesh_ = std::move(published);
    publishedWeights_ = TextureWeights{};
    publishedReport_ = PipelineReport{};
    hasResult_ = false;
    previewShown_ = false;
}

void AsyncPipeline::SetHeightMap(HeightMap heightMap)
{
    StopRun();
    stages_.heightMap = std::move(heightMap);
    stages_.stageDirty[kStageDisplacement] = 1;
    stages_.stageDirty[kStageSimplify] = 1;
}

void AsyncPipeline::Clear()
{
    StopRun();
    stages_.InstallSource(TriangleMesh{});
    PublishEmpty();
}

void AsyncPipeline::PublishEmpty()
{
    publishedMesh_ = TriangleMesh{};
    publishedWeights_ = TextureWeights{};
    publishedReport_ = PipelineReport{};
    hasResult_ = false;
    previewShown_ = false;
}

void AsyncPipeline::Request(const PipelineSettings& settings)
{
    lastRequested_ = settings;
    hasLastRequested_ = true;
    if (running_.load()) {
        // A full-quality run is never thrown away for a newer request: the request waits.
        pending_ = settings;
        hasPending_ = true;
        pendingQuality_ = PipelineQuality::full;
        if (quality_ == PipelineQuality::preview)
            cancel_.store(true);
        return;
    }
    JoinWorker();
    StartLocked(settings, PipelineQuality::full);
}

void AsyncPipeline::Cancel()
{
    if (running_.load())
        cancel_.store(true);
}

PipelineSettings AsyncPipeline::RunSettings(const PipelineSettings& settings,
    PipelineQuality quality, PipelineQuality& effective) const
{
    const bool remeshChanges = RemeshSettingsChange(stages_, settings);
    effective = quality;
    if (quality == PipelineQuality::preview && !remeshChanges && settings.simplifyOn == 0)
        effective = PipelineQuality::full;
    PipelineSettings run = settings;
    if (quality == PipelineQuality::preview) {
        run.simplifyOn = 0;
        if (remeshChanges) {
            run.remesh.targetEdgeMillimetres *= kPreviewTriangleSizeFactor;
            run.remesh.rounds = std::max(run.remesh.rounds - 1, 1);
        }
    }
    return run;
}

bool AsyncPipeline::StartLocked(const PipelineSettings& settings, PipelineQuality quality)
{
    PipelineQuality effective = quality;
    const PipelineSettings run = RunSettings(settings, quality, effective);
    stages_.InvalidateStages(run);
    if (!HasGeometry(stages_.source))
        return false;
    quality_ = effective;
    if (!AnyStageDirty(stages_)) {
        ready_.store(true);
        errorText_.clear();
        PublishResult();
        return false;
    }
    return StartWorker();
}

bool AsyncPipeline::StartWorker()
{
    published_ = false;
    cancel_.store(false);
    done_.store(false);
    ready_.store(false);
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        stageText_.clear();
        fraction_ = 0.0f;
        hasFraction_ = false;
    }
    errorText_.clear();
    // `running` is set only once the thread exists: a pipeline without a worker that claims
    // to run would decline every later request and join nothing.
    try {
        if (failNextThreadStart_) {
            failNextThreadStart_ = false;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        worker_ = std::thread([this]() { WorkerBody(); });
    } catch (const std::system_error& error) {
        errorText_ = std::string(kRunErrorPrefix) + error.what() + kRunErrorSuffix;
        PublishResult();
        return false;
    }
    running_.store(true);
    return true;
}

bool AsyncPipeline::ReportProgress(const std::string& stage, float fraction)
{
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        stageText_ = stage;
        hasFraction_ = fraction >= 0.0f;
        fraction_ = hasFraction_ ? fraction : 0.0f;
    }
    return !cancel_.load();
}

void AsyncPipeline::WorkerBody()
{
    const ProgressCallback progress = [this](const std::string& stage, float fraction) {
        return ReportProgress(stage, fraction);
    };
    bool normal = false;
    try {
        normal = runForTesting_ ? runForTesting_(stages_, progress) : stages_.Run(progress);
    } catch (const std::bad_alloc&) {
        errorText_ = kOutOfMemoryText;
    } catch (const std::exception& error) {
        errorText_ = std::string(kRunErrorPrefix) + error.what() + kRunErrorSuffix;
    } catch (...) {
        errorText_ = kRunUnknownErrorText;
    }
    ready_.store(normal && errorText_.empty());
    done_.store(true);
}

void AsyncPipeline::PublishResult()
{
    published_ = true;
    if (ready_.load())
        PublishReadyResult();
    else
        PublishUnreadyOutcome();
}

void AsyncPipeline::PublishReadyResult()
{
    const PipelineReport& report = stages_.report;
    try {
        // Copies first, then moves that cannot fail: the result is published whole or not.
        TriangleMesh mesh = stages_.result;
        TextureWeights weights = report.resultWeights;
        PipelineReport published = report;
        publishedMesh_ = std::move(mesh);
        publishedWeights_ = std::move(weights);
        publishedReport_ = std::move(published);
    } catch (const std::bad_alloc&) {
        cancelled_ = false;
        failed_ = true;
        message_ = kOutOfMemoryText;
        return;
    }
    previewShown_ = quality_ == PipelineQuality::preview;
    hasResult_ = true;
    cancelled_ = false;
    failed_ = report.refused != 0;
    if (failed_)
        message_ = TriangleLimitText(report);
    else
        message_.clear();
}

void AsyncPipeline::PublishUnreadyOutcome()
{
    // A failure (a refusal, a stage's message, an error) is never shown as a stop, even when a
    // cancel came in at the same time; the published result stays as it was.
    const PipelineReport& report = stages_.report;
    failed_ = report.refused != 0 || !report.message.empty() || !errorText_.empty();
    cancelled_ = !failed_;
    if (!errorText_.empty())
        message_ = errorText_;
    else if (!report.message.empty())
        message_ = report.message;
    else if (failed_)
        message_ = TriangleLimitText(report);
}

void AsyncPipeline::WaitForFullResult()
{
    for (;;) {
        if (running_.load()) {
            JoinWorker();
            PublishResult();
        }
        if (!hasPending_)
            break;
        const PipelineSettings pending = pending_;
        hasPending_ = false;
        StartLocked(pending, pendingQuality_);
    }
    if (!hasLastRequested_ || failed_)
        return;
    if (!cancelled_ && !previewShown_)
        return;
    cancel_.store(false);
    if (StartLocked(lastRequested_, PipelineQuality::full)) {
        JoinWorker();
        PublishResult();
    }
}

bool AsyncPipeline::Poll()
{
    bool reported = false;
    if (running_.load() && done_.load()) {
        JoinWorker();
        PublishResult();
        reported = true;
    }
    if (!running_.load() && hasPending_) {
        const PipelineSettings pending = pending_;
        hasPending_ = false;
        StartLocked(pending, pendingQuality_);
    }
    reported = reported || published_;
    published_ = false;
    return reported;
}

PipelineStatus AsyncPipeline::GetStatus() const
{
    PipelineStatus status;
    status.running = running_.load();
    status.cancelled = cancelled_;
    status.failed = failed_;
    status.message = message_;
    status.quality = quality_;
    const std::lock_guard<std::mutex> lock(statusMutex_);
    status.stageText = stageText_;
    status.fraction = fraction_;
    status.hasFraction = hasFraction_;
    return status;
}

}  // namespace grainforge::mesh
