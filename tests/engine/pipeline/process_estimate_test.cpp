#include "engine/pipeline/process_estimate.h"

#include "engine/mesh/test_shapes.h"
#include "engine/mesh/report_text.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/remesh/remesh_settings.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace grainforge::mesh {
namespace {

TEST(ProcessEstimate, ShownCountAddsATwelfthAndSaturates)
{
    const struct {
        std::uint64_t remesh;
        std::uint64_t shown;
    } cases[] = {{0, 0}, {11, 11}, {12, 13}, {1234567, 1337447}, {12205014, 13222098},
        {std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::uint64_t>::max()}};
    for (const auto& c : cases)
        EXPECT_EQ(ShownTriangleEstimate(c.remesh), c.shown) << c.remesh;
}

// Over the limit only when the run remeshes and has a limit; the solid relief estimates the
// contour remesh whatever method is stored.
TEST(ProcessEstimate, OverTheLimitOnlyWhenTheRunRemeshesPastIt)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    PipelineSettings base;
    base.remeshOn = 1;
    base.displacementOn = 1;
    base.remesh.method = RemeshMethod::isotropic;
    RemeshSettings contour = base.remesh;
    contour.method = RemeshMethod::contour;
    const std::uint64_t shown = ShownTriangleEstimate(EstimateRemeshResult(cube, contour).totalTriangles);
    ASSERT_GT(shown, 1000u);

    const struct {
        const char* what;
        std::uint8_t remeshOn;
        std::uint64_t limit;
        bool over;
    } cases[] = {
        {"one under", 1, shown - 1, true},
        {"at the count", 1, shown, false},
        {"no limit", 1, 0, false},
        {"no remesh", 0, 1000, false},
    };
    for (const auto& c : cases) {
        PipelineSettings settings = base;
        settings.remeshOn = c.remeshOn;
        settings.maximumTriangles = c.limit;
        const ProcessEstimate estimate = EstimateProcessTriangles(cube, settings);
        // Without a remesh the solid relief works at the cube's own 20 mm triangles.
        if (c.remeshOn != 0)
            EXPECT_EQ(estimate.triangles, shown) << c.what;
        else
            EXPECT_LT(estimate.triangles, 100u) << c.what;
        EXPECT_EQ(estimate.limit, c.limit) << c.what;
        EXPECT_EQ(estimate.overLimit, c.over) << c.what;
    }
}

// The memory estimate is of the whole run, not the contour grid alone, and its advice, typed
// back as the refusal writes it, fits the same estimate: a 300 mm cube at 0.1 mm was told 0.12 mm
// fits 16 GB, where the relief and the stages after it still needed far more.
TEST(ProcessEstimate, MemoryAdviceFitsTheWholeRunWhenFollowed)
{
    constexpr std::uint64_t kGigabyte = 1000000000u;
    const auto solidAt = [](float size, std::uint8_t remeshOn = 1) {
        PipelineSettings s;
        s.remeshOn = remeshOn;
        s.remesh.targetEdgeMillimetres = size;
        s.displacementOn = 1;
        s.maximumTriangles = 0;
        return s;
    };
    TriangleMesh cube300 = MakeTestCube(300.0f);
    TriangleMesh cube100 = MakeTestCube(100.0f);
    TriangleMesh sphere = MakeTestSphere(15.0f);
    for (TriangleMesh* part : {&cube300, &cube100, &sphere})
        part->ComputeBounds();
    const struct {
        const char* what;
        const TriangleMesh* part;
        PipelineSettings settings;
        std::uint64_t available;
        bool over;
        const char* advice;
    } cases[] = {
        {"300 mm cube at 0.1 mm", &cube300, solidAt(0.1f), 16 * kGigabyte, true, "a triangle size of at least "},
        {"100 mm cube at 0.1 mm under 4 GB", &cube100, solidAt(0.1f), 4 * kGigabyte, true,
            "a triangle size of at least "},
        {"100 mm cube at 0.3 mm under 4 GB", &cube100, solidAt(0.3f), 4 * kGigabyte, false, ""},
        {"unknown memory", &cube300, solidAt(0.1f), 0, false, ""},
        {"own triangles", &sphere, solidAt(0.2f, 0), 2000000, true,
            "Remesh is off, so the relief is made at the part's own triangle size: turn Remesh on with a triangle "
            "size of at least "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessMemory memory = EstimateProcessMemory(*c.part, c.settings, c.available);
        ASSERT_EQ(memory.over, c.over) << memory.bytes;
        if (!c.over)
            continue;
        const std::string text = FormatProcessMemoryText(memory);
        EXPECT_EQ(text.rfind("Process would need about ", 0), 0u) << text;
        const std::size_t at = text.find(c.advice);
        ASSERT_NE(at, std::string::npos) << text;
        PipelineSettings followed = c.settings;
        followed.remeshOn = 1;
        followed.remesh.targetEdgeMillimetres = std::stof(text.substr(at + std::string(c.advice).size()));
        EXPECT_FALSE(EstimateProcessMemory(*c.part, followed, c.available).over) << text;
    }
    // The old advice for the large cube, from its contour grid alone, is still refused.
    EXPECT_TRUE(EstimateProcessMemory(cube300, solidAt(0.12f), 16 * kGigabyte).over);
}

// The size a refusal advises, typed back as the text writes it, passes every limit, not only
// the one that refused: a 300 mm cube at 0.1 mm was told 0.26 mm for its triangles, then 0.31 mm
// for its memory, then refused after 77 s as its relief's field was over its share. Each advice
// is also the smallest written size that passes, and a triangle-limit refusal offers a higher
// limit only where the memory would not stop the run then.
TEST(ProcessEstimate, AdviceFollowedPassesEveryLimit)
{
    constexpr std::uint64_t kMegabyte = 1000000u;
    constexpr std::uint64_t kGigabyte = 1000u * kMegabyte;
    const auto solidAt = [](float size, std::uint64_t limit = 18000000, std::uint8_t remeshOn = 1) {
        PipelineSettings s;
        s.remeshOn = remeshOn;
        s.remesh.targetEdgeMillimetres = size;
        s.displacementOn = 1;
        s.maximumTriangles = limit;
        return s;
    };
    const auto bounded = [](TriangleMesh part) {
        part.ComputeBounds();
        return part;
    };
    const TriangleMesh cube300 = bounded(MakeTestCube(300.0f));
    const TriangleMesh cube20 = bounded(MakeTestCube(20.0f));
    const TriangleMesh sphere2m = bounded(MakeTestSphere(1000.0f));
    const TriangleMesh sphere = bounded(MakeTestSphere(15.0f));
    TriangleMesh farCube = cube20;
    for (MeshVertex& v : farCube.vertices)
        v.position = v.position + Vec3{1.0e6f, 1.0e6f, 0.0f};
    farCube = bounded(farCube);
    TriangleMesh farSphere = MakeTestSphere(4.0f);  // its own triangles some 0.2 mm
    for (MeshVertex& v : farSphere.vertices)
        v.position = v.position + Vec3{1.0e6f, 1.0e6f, 0.0f};
    farSphere = bounded(farSphere);
    const struct {
        const char* what;
        const TriangleMesh* part;
        PipelineSettings settings;
        std::uint64_t available;
        ProcessLimit refusing;
        const char* words;  // of the refusal
    } cases[] = {
        {"300 mm cube at 0.1 mm, 6 GB", &cube300, solidAt(0.1f), 6 * kGigabyte, ProcessLimit::triangles,
            "lets it run. A higher triangle limit alone would not: at this triangle size Process would need more "
            "memory"},
        {"300 mm cube at 0.26 mm, 6 GB", &cube300, solidAt(0.26f), 6 * kGigabyte, ProcessLimit::memory,
            "Process would need about "},
        {"300 mm cube at 0.31 mm, 6 GB", &cube300, solidAt(0.31f), 6 * kGigabyte, ProcessLimit::reliefMemory,
            "The part is too large for this triangle size: making its relief would need about "},
        {"300 mm cube at 0.31 mm, 16 GB", &cube300, solidAt(0.31f), 16 * kGigabyte, ProcessLimit::none, ""},
        {"2 m sphere at 0.49 mm, 6 GB", &sphere2m, solidAt(0.49f), 6 * kGigabyte, ProcessLimit::triangles,
            "A higher triangle limit alone would not"},
        {"2 m sphere at 0.49 mm, no limit, 64 GB", &sphere2m, solidAt(0.49f, 0), 64 * kGigabyte, ProcessLimit::memory,
            "Process would need about "},
        {"20 mm cube at 0.05 mm, 100 MB", &cube20, solidAt(0.05f), 100 * kMegabyte, ProcessLimit::memory,
            "Process would need about "},
        {"20 mm cube at 0.2 mm, 64 MB", &cube20, solidAt(0.2f), 64 * kMegabyte, ProcessLimit::reliefMemory,
            "making its relief would need about "},
        {"20 mm cube at 0.05 mm, low limit, plenty", &cube20, solidAt(0.05f, 100000), 64 * kGigabyte,
            ProcessLimit::triangles, " or a higher triangle limit lets it run."},
        {"own triangles, 2 MB", &sphere, solidAt(0.2f, 18000000, 0), 2 * kMegabyte, ProcessLimit::memory,
            "turn Remesh on with a triangle size of at least "},
        {"unknown memory", &cube300, solidAt(0.31f), 0, ProcessLimit::none, ""},
        // 1e6 mm out a coordinate steps by 0.0625 mm: the relief's cells need eight of them.
        {"20 mm cube 1e6 mm out at 0.3 mm", &farCube, solidAt(0.3f), 64 * kGigabyte, ProcessLimit::farOut,
            "needs cells of at least 0.50 mm"},
        {"20 mm cube 1e6 mm out at 0.1 mm, low limit", &farCube, solidAt(0.1f, 100000), 64 * kGigabyte,
            ProcessLimit::triangles, " or a higher triangle limit lets it run."},
        {"8 mm sphere 1e6 mm out, own triangles", &farSphere, solidAt(0.3f, 18000000, 0), 64 * kGigabyte,
            ProcessLimit::farOut, "Remesh on with a triangle size of at least "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(FindProcessLimit(*c.part, c.settings, c.available), c.refusing);
        if (c.refusing == ProcessLimit::none)
            continue;
        const ProcessEstimate count = EstimateProcessTriangles(*c.part, c.settings, c.available);
        const ProcessMemory memory = EstimateProcessMemory(*c.part, c.settings, c.available);
        const float asked = c.settings.remeshOn != 0 ? c.settings.remesh.targetEdgeMillimetres
                                                      : UnremeshedSolidCell(*c.part);
        const std::string farText = FormatReliefTooFarOutText(FindPieceTooFarOut(*c.part, asked, true), asked,
            AdviseProcessTriangleSize(*c.part, c.settings, c.available), c.settings.remeshOn == 0);
        const std::string text = c.refusing == ProcessLimit::triangles ? TriangleLimitText(count)
            : c.refusing == ProcessLimit::farOut                        ? farText
                                                                        : FormatProcessMemoryText(memory);
        EXPECT_NE(text.find(c.words), std::string::npos) << text;
        const float advised = c.refusing == ProcessLimit::triangles ? count.advisedTriangleSize
            : c.refusing == ProcessLimit::farOut ? AdviseProcessTriangleSize(*c.part, c.settings, c.available)
                                                 : memory.advisedTriangleSize;
        ASSERT_GT(advised, 0.0f) << text;
        EXPECT_EQ(advised, AdviseProcessTriangleSize(*c.part, c.settings, c.available));
        const std::string lead = "a triangle size of at least ";
        const std::size_t at = text.find(lead);
        ASSERT_NE(at, std::string::npos) << text;
        PipelineSettings followed = c.settings;
        followed.remeshOn = 1;
        followed.remesh.targetEdgeMillimetres = std::stof(text.substr(at + lead.size()));
        EXPECT_EQ(FindProcessLimit(*c.part, followed, c.available), ProcessLimit::none) << text;
        // A hundredth less, as the text would write it, is still refused.
        followed.remesh.targetEdgeMillimetres = RoundLengthUp(advised - 0.01f);
        EXPECT_NE(FindProcessLimit(*c.part, followed, c.available), ProcessLimit::none) << text;
    }
}

}  // namespace
}  // namespace grainforge::mesh
