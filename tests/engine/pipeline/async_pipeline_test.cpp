#include "engine/pipeline/async_pipeline.h"

#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/textures/procedural_registry.h"
#include "engine/textures/procedural_texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace grainforge::mesh {
namespace {

using namespace std::chrono_literals;

// Long enough for any run in this file on a loaded machine; reaching it means a hang.
constexpr auto kPatience = 30s;

// A stand-in for the stage run. It records the settings of every run, reports one phase, holds
// until released (or asked to stop), then publishes the source, tagged with the run's number in
// remeshedTriangles so that a test can tell which run was published.
struct FakeRun {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    int started = 0;
    int stops = 0;
    std::vector<PipelineSettings> runs;
    // When not empty, the run records this solid displacement failure instead of a result.
    std::function<void(PipelineReport&)> failure;
    bool failAfterStop = false;  // the failure comes in after a cancel was seen
    bool throwOutOfMemory = false;

    AsyncPipeline::RunFunction Function()
    {
        return [this](PipelineStages& stages, const ProgressCallback& progress) {
            // The phase is reported before the run counts as started, so that a test woken by
            // the start finds the status block filled.
            const bool going = progress("Fake phase", 0.5f);
            int number = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                runs.push_back(stages.lastSettings);
                number = ++started;
            }
            changed.notify_all();
            if (throwOutOfMemory)
                throw std::bad_alloc();
            if (!going || !HoldUntilReleased(progress)) {
                {
                    const std::lock_guard<std::mutex> lock(mutex);
                    ++stops;
                }
                if (failure && failAfterStop) {
                    failure(stages.report);
                    return false;
                }
                stages.report.stopped = 1;
                return false;
            }
            if (failure) {
                failure(stages.report);
                return false;
            }
            stages.result = stages.source;
            stages.report.remeshedTriangles = static_cast<std::uint64_t>(number);
            stages.stageDirty.fill(0);
            return true;
        };
    }
    bool HoldUntilReleased(const ProgressCallback& progress)
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            lock.unlock();
            if (!progress("Fake phase", 0.5f))
                return false;
            lock.lock();
            if (open)
                return true;
            changed.wait_for(lock, 1ms);
        }
    }
    void Hold()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        open = false;
    }
    void Release()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
    bool WaitStarted(int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kPatience, [&]() { return started >= count; });
    }
    int Started()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return started;
    }
    int Stops()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return stops;
    }
};

// Polls as the document's idle pass does until a run is reported.
bool PollUntilReported(AsyncPipeline& pipeline)
{
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < end) {
        if (pipeline.Poll())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Settings told apart by their remesh size; the remesh switch makes every change stale.
PipelineSettings Sized(float size)
{
    PipelineSettings s;
    s.remeshOn = 1;
    s.remesh.method = RemeshMethod::isotropic;
    s.remesh.targetEdgeMillimetres = size;
    s.remesh.rounds = 5;
    return s;
}

TEST(AsyncPipelineTest, FullRunIsNotCancelledAndOnlyTheNewestPendingRequestRuns)
{
    FakeRun fake;
    fake.Hold();
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.SetSource(MakeTestCube(10.0f));
    pipeline.Request(Sized(1.0f));
    ASSERT_TRUE(fake.WaitStarted(1));
    pipeline.Request(Sized(2.0f));
    pipeline.Request(Sized(3.0f));
    EXPECT_TRUE(pipeline.HasPendingRequest());

    // The progress callback keeps the status block.
    const PipelineStatus busy = pipeline.GetStatus();
    EXPECT_TRUE(busy.running);
    EXPECT_EQ(busy.stageText, "Fake phase");
    EXPECT_TRUE(busy.hasFraction);
    EXPECT_EQ(busy.fraction, 0.5f);

    fake.Release();
    ASSERT_TRUE(PollUntilReported(pipeline));
    EXPECT_EQ(pipeline.PublishedReport().remeshedTriangles, 1u);
    ASSERT_TRUE(PollUntilReported(pipeline));
    EXPECT_EQ(pipeline.PublishedReport().remeshedTriangles, 2u);
    pipeline.WaitForFullResult();

    ASSERT_EQ(fake.Started(), 2);
    EXPECT_EQ(fake.Stops(), 0);
    EXPECT_EQ(fake.runs[1].remesh.targetEdgeMillimetres, 3.0f);
    EXPECT_FALSE(pipeline.GetStatus().cancelled);
    EXPECT_TRUE(pipeline.HasResult());
}

TEST(AsyncPipelineTest, PreviewCoarsensAChangedRemeshAndNeverSimplifies)
{
    struct Case {
        const char* what;
        bool remeshChanged;
        bool simplifyOn;
        std::int32_t rounds;
        float size;                 // expected in the run
        std::int32_t runRounds;     // expected in the run
        PipelineQuality quality;    // the run's effective quality
    };
    const Case cases[] = {
        {"changed, 5 rounds", true, true, 5, 0.6f, 4, PipelineQuality::preview},
        {"changed, 2 rounds", true, false, 2, 0.6f, 1, PipelineQuality::preview},
        {"changed, 1 round", true, true, 1, 0.6f, 1, PipelineQuality::preview},
        {"unchanged, simplify on", false, true, 5, 0.2f, 5, PipelineQuality::preview},
        {"unchanged, simplify off", false, false, 5, 0.2f, 5, PipelineQuality::full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeRun fake;
        AsyncPipeline pipeline;
        pipeline.SetRunForTesting(fake.Function());
        pipeline.SetSource(MakeTestCube(10.0f));
        PipelineSettings settings = Sized(0.2f);
        settings.remesh.rounds = c.rounds;
        settings.simplifyOn = c.simplifyOn ? 1 : 0;
        if (!c.remeshChanged) {
            pipeline.Request(settings);
            pipeline.WaitForFullResult();
            settings.projection.cage.center.x += 1.0f;  // stales the faces stage only
        }
        pipeline.StartLocked(settings, PipelineQuality::preview);
        ASSERT_TRUE(PollUntilReported(pipeline));
        const PipelineSettings& run = fake.runs.back();
        EXPECT_FLOAT_EQ(run.remesh.targetEdgeMillimetres, c.size);
        EXPECT_EQ(run.remesh.rounds, c.runRounds);
        EXPECT_EQ(run.simplifyOn, 0);
        EXPECT_EQ(pipeline.GetStatus().quality, c.quality);
        EXPECT_EQ(pipeline.PreviewShown(), c.quality == PipelineQuality::preview);
    }
}

TEST(AsyncPipelineTest, PreviewIsCancelledByANewRequestWhichRunsInFull)
{
    FakeRun fake;
    fake.Hold();
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.SetSource(MakeTestCube(10.0f));
    ASSERT_TRUE(pipeline.StartLocked(Sized(1.0f), PipelineQuality::preview));
    ASSERT_TRUE(fake.WaitStarted(1));
    pipeline.Request(Sized(2.0f));
    ASSERT_TRUE(PollUntilReported(pipeline));  // the stopped preview
    EXPECT_TRUE(pipeline.GetStatus().cancelled);
    EXPECT_EQ(fake.Stops(), 1);
    fake.Release();
    pipeline.WaitForFullResult();
    EXPECT_EQ(fake.runs.back().remesh.targetEdgeMillimetres, 2.0f);
    EXPECT_EQ(pipeline.GetStatus().quality, PipelineQuality::full);
    EXPECT_FALSE(pipeline.PreviewShown());
    EXPECT_TRUE(pipeline.HasResult());
}

TEST(AsyncPipelineTest, CleanStagesPublishAtOnceAndAnEmptySourceStartsNothing)
{
    FakeRun fake;
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.Request(Sized(1.0f));
    EXPECT_FALSE(pipeline.IsRunning());
    EXPECT_FALSE(pipeline.Poll());
    EXPECT_EQ(fake.Started(), 0);

    pipeline.SetSource(MakeTestCube(10.0f));
    pipeline.Request(Sized(1.0f));
    pipeline.WaitForFullResult();
    ASSERT_EQ(fake.Started(), 1);
    EXPECT_TRUE(pipeline.Poll());
    pipeline.Request(Sized(1.0f));  // nothing stale
    EXPECT_FALSE(pipeline.IsRunning());
    EXPECT_TRUE(pipeline.Poll());
    EXPECT_EQ(fake.Started(), 1);
    EXPECT_TRUE(pipeline.HasResult());
}

TEST(AsyncPipelineTest, CancelDuringARunPublishesAStopAndTheWaitRerunsInFull)
{
    FakeRun fake;
    fake.Hold();
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.SetSource(MakeTestCube(10.0f));
    const std::size_t sourceVertices = pipeline.PublishedMesh().vertices.size();
    pipeline.Request(Sized(1.0f));
    ASSERT_TRUE(fake.WaitStarted(1));
    pipeline.Cancel();
    ASSERT_TRUE(PollUntilReported(pipeline));
    const PipelineStatus status = pipeline.GetStatus();
    EXPECT_FALSE(status.running);
    EXPECT_TRUE(status.cancelled);
    EXPECT_FALSE(status.failed);
    EXPECT_FALSE(pipeline.HasResult());
    EXPECT_EQ(pipeline.PublishedMesh().vertices.size(), sourceVertices);

    fake.Release();
    pipeline.WaitForFullResult();
    EXPECT_EQ(fake.Started(), 2);
    EXPECT_FALSE(pipeline.GetStatus().cancelled);
    EXPECT_TRUE(pipeline.HasResult());
}

TEST(AsyncPipelineTest, DestructorDuringARunCancelsAndJoins)
{
    FakeRun fake;
    fake.Hold();
    {
        AsyncPipeline pipeline;
        pipeline.SetRunForTesting(fake.Function());
        pipeline.SetSource(MakeTestCube(10.0f));
        pipeline.Request(Sized(1.0f));
        ASSERT_TRUE(fake.WaitStarted(1));
    }
    // The worker saw the stop before the pipeline was gone; under the sanitizers a worker left
    // running would touch freed memory.
    EXPECT_EQ(fake.Stops(), 1);
}

TEST(AsyncPipelineTest, SetSourceDuringARunStopsItAndPublishesTheSource)
{
    FakeRun fake;
    fake.Hold();
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.SetSource(MakeTestCube(10.0f));
    pipeline.Request(Sized(1.0f));
    ASSERT_TRUE(fake.WaitStarted(1));
    pipeline.SetSource(MakeTestCube(20.0f));
    EXPECT_FALSE(pipeline.IsRunning());
    EXPECT_EQ(fake.Stops(), 1);
    EXPECT_EQ(pipeline.PublishedMesh().vertices.size(), pipeline.Stages().source.vertices.size());
    pipeline.Clear();
    EXPECT_TRUE(pipeline.PublishedMesh().vertices.empty());
    EXPECT_FALSE(pipeline.HasResult());
}

// A stage failure travels in the report's message; it must not read as a stop, not even when
// a cancel came in while the stage failed, and the blocking wait must not run it again.
TEST(AsyncPipelineTest, ContourFailureIsPublishedAsAFailureNotAStop)
{
    struct Case {
        const char* what;
        SolidDisplacementReport solid;
        bool afterStop;
        std::string message;
    };
    SolidDisplacementReport holes;
    holes.contourHoles = true;
    SolidDisplacementReport tooLarge;
    tooLarge.tooLarge = true;
    SolidDisplacementReport refused;
    refused.refused = true;
    refused.estimatedTriangles = 123456;
    const Case cases[] = {
        {"contour holes", holes, false, kContourHolesText},
        {"contour holes with a cancel", holes, true, kContourHolesText},
        {"too large", tooLarge, false, kReliefTooLargeText},
        {"refused", refused, false, TriangleLimitText(123456)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeRun fake;
        fake.failure = [&c](PipelineReport& report) { RecordSolidFailure(report, c.solid); };
        fake.failAfterStop = c.afterStop;
        if (c.afterStop)
            fake.Hold();
        AsyncPipeline pipeline;
        pipeline.SetRunForTesting(fake.Function());
        pipeline.SetSource(MakeTestCube(10.0f));
        pipeline.Request(Sized(1.0f));
        if (c.afterStop) {
            ASSERT_TRUE(fake.WaitStarted(1));
            pipeline.Cancel();
            fake.Release();  // a rerun, which must not happen, would then finish
        }
        pipeline.WaitForFullResult();
        const PipelineStatus status = pipeline.GetStatus();
        EXPECT_TRUE(status.failed);
        EXPECT_FALSE(status.cancelled);
        EXPECT_EQ(status.message, c.message);
        EXPECT_EQ(fake.Started(), 1);
        EXPECT_FALSE(pipeline.HasResult());
    }
}

// A worker that cannot be started must not leave the pipeline "running" without a thread.
TEST(AsyncPipelineTest, ThreadStartFailureIsAFailedRunAndTheNextRequestRuns)
{
    FakeRun fake;
    AsyncPipeline pipeline;
    pipeline.SetRunForTesting(fake.Function());
    pipeline.SetSource(MakeTestCube(10.0f));
    pipeline.FailNextThreadStartForTesting();
    pipeline.Request(Sized(1.0f));
    const PipelineStatus status = pipeline.GetStatus();
    EXPECT_FALSE(status.running);
    EXPECT_TRUE(status.failed);
    EXPECT_EQ(status.message.rfind(kRunErrorPrefix, 0), 0u) << status.message;
    EXPECT_TRUE(pipeline.Poll());
    pipeline.WaitForFullResult();  // returns: nothing to join
    EXPECT_EQ(fake.Started(), 0);

    pipeline.Request(Sized(1.0f));
    pipeline.WaitForFullResult();
    EXPECT_EQ(fake.Started(), 1);
    EXPECT_FALSE(pipeline.GetStatus().failed);
    EXPECT_TRUE(pipeline.HasResult());
}

// An allocation failure thrown by the run itself, or inside the stages through the progress
// callback, keeps the published mesh and report of the run before.
TEST(AsyncPipelineTest, OutOfMemoryKeepsThePreviousResult)
{
    struct Case {
        const char* what;
        bool insideStages;
    };
    const Case cases[] = {{"thrown by the run", false}, {"thrown inside the stages", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> failing{false};
        AsyncPipeline pipeline;
        pipeline.SetRunForTesting(
            [&](PipelineStages& stages, const ProgressCallback& progress) {
                if (failing.load() && !c.insideStages)
                    throw std::bad_alloc();
                const ProgressCallback throwing = [&](const std::string& stage, float fraction) {
                    if (failing.load())
                        throw std::bad_alloc();
                    return progress(stage, fraction);
                };
                return stages.Run(throwing);
            });
        pipeline.SetSource(MakeTestCube(10.0f));
        PipelineSettings settings = Sized(2.0f);
        settings.remesh.rounds = 1;
        pipeline.Request(settings);
        pipeline.WaitForFullResult();
        ASSERT_TRUE(pipeline.HasResult());
        const TriangleMesh before = pipeline.PublishedMesh();
        const std::uint64_t triangles = pipeline.PublishedReport().resultTriangles;
        ASSERT_GT(triangles, 12u);  // remeshed finer than the 12 triangles of the cube

        failing.store(true);
        settings.remesh.targetEdgeMillimetres = 3.0f;
        pipeline.Request(settings);
        pipeline.WaitForFullResult();
        const PipelineStatus status = pipeline.GetStatus();
        EXPECT_TRUE(status.failed);
        EXPECT_FALSE(status.cancelled);
        EXPECT_EQ(status.message, kOutOfMemoryText);
        EXPECT_EQ(pipeline.PublishedMesh().indices, before.indices);
        EXPECT_EQ(pipeline.PublishedMesh().vertices.size(), before.vertices.size());
        EXPECT_EQ(pipeline.PublishedReport().resultTriangles, triangles);

        // The stage it hit stays dirty, so the same request runs again once memory is back.
        failing.store(false);
        pipeline.Request(settings);
        pipeline.WaitForFullResult();
        EXPECT_FALSE(pipeline.GetStatus().failed);
        EXPECT_NE(pipeline.PublishedReport().resultTriangles, triangles);
    }
}

// The whole chain through the worker: a 20 mm cube standing on the bed, a noise relief of
// 1 mm with the base kept, remesh and simplify on, written as binary STL and read back. The
// part must come back closed, still standing at z = 0, and no side may grow by more than
// twice the strength (a centred relief moves at most the strength either way).
TEST(AsyncPipelineTest, NoiseReliefOnACubeRoundTripsClosedThroughStl)
{
    const struct Case {
        const char* what;
        DisplacementMethod method;
    } cases[] = {{"solid", DisplacementMethod::solid}, {"mesh", DisplacementMethod::mesh}};
    const std::unique_ptr<procedural::ProceduralTexture> noise = procedural::CreateProceduralTexture("Noise");
    ASSERT_NE(noise, nullptr);
    constexpr std::int32_t kSide = 64;
    constexpr float kStrength = 1.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh cube = MakeTestCube(20.0f);
        for (auto& v : cube.vertices)
            v.position.z += 10.0f;
        AsyncPipeline pipeline;
        pipeline.SetSource(std::move(cube));
        HeightMap map;
        map.SetImage(kSide, kSide, noise->RenderImage(kSide, kSide));
        pipeline.SetHeightMap(std::move(map));

        PipelineSettings settings;
        settings.remeshOn = 1;
        settings.remesh.method = RemeshMethod::isotropic;
        settings.remesh.targetEdgeMillimetres = 1.0f;
        settings.remesh.rounds = 2;
        settings.displacementOn = 1;
        settings.displacement.method = c.method;
        settings.displacement.strengthMillimetres = kStrength;
        settings.displacement.base.enabled = true;
        settings.simplifyOn = 1;
        pipeline.Request(settings);
        pipeline.WaitForFullResult();
        const PipelineStatus status = pipeline.GetStatus();
        ASSERT_FALSE(status.failed) << status.message;
        ASSERT_TRUE(pipeline.HasResult());

        const std::vector<std::uint8_t> bytes = EncodeBinaryStl(pipeline.PublishedMesh(), "test");
        const StlReadResult read = ParseStl(bytes, "cube.stl", StlReadOptions{});
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.report.openBoundaryEdges, 0u);
        EXPECT_EQ(read.report.nonManifoldEdges, 0u);
        float low[3] = {1e30f, 1e30f, 1e30f};
        float high[3] = {-1e30f, -1e30f, -1e30f};
        for (const auto& v : read.mesh.vertices) {
            const float p[3] = {v.position.x, v.position.y, v.position.z};
            for (int a = 0; a < 3; ++a) {
                low[a] = std::min(low[a], p[a]);
                high[a] = std::max(high[a], p[a]);
            }
        }
        EXPECT_NEAR(low[2], 0.0f, 1e-4f);
        const float sourceLow[3] = {-10.0f, -10.0f, 0.0f};
        const float sourceHigh[3] = {10.0f, 10.0f, 20.0f};
        float growth = 0.0f;  // the relief is there: some side sticks out
        for (int a = 0; a < 3; ++a) {
            EXPECT_GE(low[a], sourceLow[a] - 2.0f * kStrength) << "axis " << a;
            EXPECT_LE(high[a], sourceHigh[a] + 2.0f * kStrength) << "axis " << a;
            growth = std::max({growth, sourceLow[a] - low[a], high[a] - sourceHigh[a]});
        }
        EXPECT_GT(growth, 0.1f * kStrength);
    }
}

}  // namespace
}  // namespace grainforge::mesh
