// How many copies of a loaded texture the document holds at once: the map's images, the undo
// history's and the pipeline's copies share the pixels the image reader made, so a load holds
// at most five copies of the map at its peak and an undo of it none more; and a side that takes
// new pixels never changes what the others read.
#include "tests/app/document/document_fixture.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Live bytes handed out by operator new on every thread while recording, above what was live
// when it began, and their peak. The operators stay out of line and paired, so that neither
// the compiler nor the sanitizer sees a malloc freed by delete.
namespace {
std::atomic<bool> g_recording{false};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void* Allocate(std::size_t size) noexcept
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr && g_recording.load(std::memory_order_relaxed)) {
        const std::int64_t live = g_live += static_cast<std::int64_t>(malloc_usable_size(p));
        for (std::int64_t peak = g_peak.load(); live > peak && !g_peak.compare_exchange_weak(peak, live);) {
        }
    }
    return p;
}

void Release(void* p) noexcept
{
    if (p != nullptr && g_recording.load(std::memory_order_relaxed))
        g_live -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
__attribute__((noinline)) void operator delete(void* p) noexcept { Release(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { Release(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { Release(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { Release(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace grainforge::test {
namespace {

constexpr std::uint32_t kSide = 1024;
constexpr double kMapBytes = double{kSide} * kSide * sizeof(float);

// The peak of `step` in copies of a kSide x kSide map.
template <class Step>
double PeakCopies(const Step& step)
{
    g_live = 0;
    g_peak = 0;
    g_recording = true;
    step();
    g_recording = false;
    return static_cast<double>(g_peak.load()) / kMapBytes;
}

TEST(TextureMemory, ALoadAndItsUndoHoldFewCopiesOfTheMap)
{
    const TempFolder folder;
    WriteAllBytes(folder / "a.png", UniformGreyPng(kSide, kSide, 30000, 16));
    WriteAllBytes(folder / "b.png", UniformGreyPng(kSide, kSide, 50000, 16));
    const struct {
        const char* name; float blur; bool twoLoads; bool undoRedo; double copies;
    } cases[] = {
        {"the load", 0.0f, false, false, 5.0},
        {"a load with a blur and auto levels", 0.5f, false, false, 5.0},
        {"a load over a loaded texture", 0.0f, true, false, 5.0},
        {"undoing the load and redoing it", 0.0f, false, true, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        f.WithCube();
        f.doc->heightMap.settings.blurMillimetres = c.blur;
        f.doc->heightMap.settings.autoLevels = c.blur > 0.0f;
        if (c.twoLoads || c.undoRedo) {
            ASSERT_TRUE(f.doc->LoadHeightMap(folder / "a.png"));
        }
        const double copies = PeakCopies([&] {
            if (c.undoRedo) {
                f.doc->OnEditUndo();
                f.doc->OnEditRedo();
            } else {
                EXPECT_TRUE(f.doc->LoadHeightMap(folder / "b.png"));
            }
        });
        EXPECT_LE(copies, c.copies);
        EXPECT_TRUE(f.doc->IsHeightMapLoaded());
        EXPECT_EQ(f.doc->heightMap.sourceName, c.undoRedo ? "a.png" : "b.png");
    }
}

// The document's map, its undo snapshot and the pipeline's copy share the loaded pixels; the
// side that takes new ones (a blur or a seamless step in the document, the pipeline's own blur
// in a run) must leave what the others read as it was.
TEST(TextureMemory, ASideThatTakesNewPixelsLeavesTheOthersAsTheyWere)
{
    const TempFolder folder;
    PngFixture png{64, 48};
    for (std::uint32_t i = 0; i < 64 * 48; ++i)
        png.samples.push_back(static_cast<std::uint16_t>(i * 7 % 256));
    WriteAllBytes(folder / "ramp.png", EncodePng(png));
    const struct { const char* name; float blur; const char* seams; bool inRun; } cases[] = {
        {"a blur set in the document", 2.0f, "Unchanged", false},
        {"a seamless step chosen in the document", 0.0f, "Cross-fade", false},
        {"the pipeline's blur in a run", 0.0f, "Unchanged", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        f.WithCube();
        ASSERT_TRUE(f.doc->LoadHeightMap(folder / "ramp.png"));
        const std::vector<float> loaded = f.doc->heightMap.blurred;
        const std::shared_ptr<const mesh::HeightMap> snapshot = f.doc->undoBase.heightMap;
        ASSERT_TRUE(snapshot);
        std::vector<float> changed;
        if (c.inRun) {
            f.doc->pipeline.SetRunForTesting([&](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
                stages.heightMap.filterMillimetres = 2.0f;
                stages.heightMap.Blur();
                changed = stages.heightMap.blurred;
                stages.result = stages.source;
                stages.stageDirty = {0, 0, 0, 0};
                return true;
            });
            f.doc->RequestProcess();
            f.PollUntilReported();
        } else {
            mesh::TextureSettings settings = f.doc->heightMap.settings;
            settings.blurMillimetres = c.blur;
            settings.seamlessMethod = c.seams;
            f.doc->ApplyTextureSettings(settings);
            changed = f.doc->heightMap.blurred;
        }
        EXPECT_NE(changed, loaded);
        EXPECT_TRUE(snapshot->source == loaded && snapshot->seamless == loaded && snapshot->blurred == loaded);
        if (!c.inRun)
            f.doc->OnEditUndo();
        EXPECT_EQ(f.doc->heightMap.blurred, loaded);
    }
}

}  // namespace
}  // namespace grainforge::test
