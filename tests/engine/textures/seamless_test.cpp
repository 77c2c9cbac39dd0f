// The seamless step: cross-fading the edges, the histogram-preserving blend and the methods
// that wrap them for the height map, with the texts they report.
#include "engine/textures/cross_fade_edges.h"
#include "engine/textures/histogram_blend.h"
#include "engine/textures/seamless_method.h"

#include "tests/support/same_on_one_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace grainforge::mesh::seamless {
namespace {

// A smooth pattern that repeats over the image, so any seam in a result comes from the step.
std::vector<float> PeriodicImage(int width, int height)
{
    std::vector<float> image(static_cast<std::size_t>(width) * height);
    const double twoPi = 2.0 * std::numbers::pi;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
            const double wave = 0.22 * std::sin(twoPi * 3 * u + 1.0) * std::cos(twoPi * 2 * v);
            image[y * width + x] = static_cast<float>(0.5 + wave + 0.15 * std::sin(twoPi * (5 * u + 4 * v)));
        }
    return image;
}

// The mean step across the wrap against twice the mean step between neighbouring lines inside
// the image, across the columns and down the rows.
void ExpectNoSeam(const std::vector<float>& image, int w, int h, const std::string& what)
{
    for (const bool columns : {true, false}) {
        const int lines = columns ? w : h, n = columns ? h : w;
        double inside = 0.0, wrap = 0.0;
        for (int k = 0; k < lines; ++k)
            for (int i = 0; i < n; ++i) {
                const int at = columns ? i * w + k : k * w + i;
                const int next = columns ? i * w + (k + 1) % w : (k + 1) % h * w + i;
                (k + 1 == lines ? wrap : inside) += std::fabs(image[next] - image[at]) / n;
            }
        EXPECT_LT(wrap, 2.0 * inside / (lines - 1)) << what << " " << columns;
    }
}

// ---- Cross-fade ------------------------------------------------------------------------------

TEST(CrossFadeEdges, OutputSizeFollowsTheOverlapAndBadInputGivesTheSourceBack)
{
    const std::vector<float> image = PeriodicImage(100, 50), five(5, 0.5f), one = {0.25f};
    const struct { const std::vector<float>* source; int w, h; float percent; int width, height; } cases[] = {
        {&image, 100, 50, 20.0f, 80, 40},  {&image, 100, 50, 0.0f, 100, 50},
        {&image, 100, 50, 60.0f, 55, 27},  // treated as 45: 45 and 22.5 pixels, halves away from zero
        {&image, 100, 50, -5.0f, 100, 50}, {&image, 100, 50, NAN, 100, 50}, {&image, 100, 50, INFINITY, 100, 50},
        {&image, 100, 50, 0.5f, 99, 50},  // 0.5 px rounds up across, 0.25 px to nothing down
        {&one, 1, 1, 45.0f, 1, 1},         {&five, 3, 2, 20.0f, 3, 2},  {&five, -1, -5, 20.0f, -1, -5},
    };
    for (const auto& c : cases) {
        std::int32_t w = 0, h = 0;
        const std::vector<float> result = CrossFadeEdges(*c.source, c.w, c.h, c.percent, w, h);
        EXPECT_TRUE(w == c.width && h == c.height) << c.w << " " << c.percent << ": " << w << " x " << h;
        EXPECT_TRUE(w == c.w && h == c.h ? result == *c.source : result.size() == std::size_t(w) * h) << c.percent;
    }
}

TEST(CrossFadeEdges, NearSideGainsWeightAcrossTheBandAndTheJoinsContinue)
{
    // 45% of 4 is 1.8, so 2 columns fade: smoothstep 0.15625 and 0.84375 (exact in binary).
    // Column x takes (1 - s) of column x + 2 and s of column x; the same down a column.
    for (const auto& [w, h] : {std::pair{4, 1}, {1, 4}}) {
        std::int32_t outW = 0, outH = 0;
        EXPECT_EQ(CrossFadeEdges({0.0f, 10.0f, 20.0f, 30.0f}, w, h, 45.0f, outW, outH),
                  (std::vector<float>{16.875f, 13.125f}));
        EXPECT_EQ(outW * outH, 2);
    }
    // A ramp has its largest step at the wrap; after the fade it is like the steps inside.
    std::vector<float> ramp(120 * 90);
    for (int i = 0; i < 120 * 90; ++i)
        ramp[i] = static_cast<float>(i % 120) + 2.0f * static_cast<float>(i / 120);
    std::int32_t w = 0, h = 0;
    const std::vector<float> faded = CrossFadeEdges(ramp, 120, 90, 20.0f, w, h);
    ExpectNoSeam(faded, w, h, "cross-faded ramp");
    test::ExpectSameOnOneThread([] {
        std::int32_t outW = 0, outH = 0;
        return CrossFadeEdges(PeriodicImage(701, 403), 701, 403, 33.0f, outW, outH);
    });
}

// ---- Histogram blend -------------------------------------------------------------------------

// The blend's patch offsets wrap into the period, so the pinned tiles below and the seam checks
// cover them.
TEST(PatchRandom, NoPeriodMeansVertexZero)
{
    EXPECT_EQ(PatchRandom(4, 9, 0, 1).v, PatchRandom(0, 0, -3, 1).v);
}

TEST(HistogramBlendTile, PinnedValues)
{
    const std::vector<float> image = PeriodicImage(45, 31);
    const struct { int patches, seed, pixel; float value; } cases[] = {
        {1, 0, 0, 0.610345364f},     {1, 0, 3639, 0.688815594f},    {4, 7, 777, 0.817171574f},
        {4, 7, 1999, 0.487167537f},  {13, 999, 0, 0.43809697f},     {13, 999, 3639, 0.513869107f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(HistogramBlendTile(image, 45, 31, 70, 52, {c.patches, c.seed}, nullptr)[c.pixel], c.value, 2e-7f)
            << c.patches << " patches, seed " << c.seed << ", pixel " << c.pixel;
}

TEST(HistogramBlendTile, PatchCountIsLimitedAndBadSizesGiveNothing)
{
    const std::vector<float> image = PeriodicImage(32, 24);
    for (const auto& [asked, used] : {std::pair{100, 64}, {64, 64}, {0, 1}, {-5, 1}, {7, 7}}) {
        HistogramBlendStatistics statistics;
        EXPECT_EQ(HistogramBlendTile(image, 32, 24, 32, 24, {asked, 0}, &statistics).size(), image.size());
        EXPECT_EQ(statistics.patches, used) << asked;
    }
    EXPECT_TRUE(HistogramBlendTile(image, 5, 2, 5, 2, {}, nullptr).empty());
    EXPECT_TRUE(HistogramBlendTile(image, 0, 768, 5, 2, {}, nullptr).empty());
    EXPECT_EQ(HistogramBlendTile({0.5f}, 1, 1, 0, -3, {}, nullptr), std::vector<float>{0.5f}) << "at least one pixel";
}

TEST(HistogramBlendTile, KeepsTheContrastClampsTheOvershootAndTilesWithoutASeam)
{
    // Averaging three patches would bring the spread down to about 0.7 of the source's; the
    // blend divides by the root of the summed squared weights to keep it.
    HistogramBlendStatistics statistics;
    HistogramBlendTile(PeriodicImage(96, 96), 96, 96, 192, 192, {6, 2}, &statistics);
    EXPECT_NEAR(statistics.mean, 0.5f, 0.01f);
    EXPECT_GT(statistics.inputDeviation, 0.1f);
    EXPECT_NEAR(statistics.outputDeviation / statistics.inputDeviation, 1.0f, 0.12f);
    // Black and white halves overshoot, and the clamp catches it.
    std::vector<float> halves(64 * 64);
    for (std::size_t i = 0; i < halves.size(); ++i)
        halves[i] = (i % 64) < 32 ? 0.0f : 1.0f;
    const std::vector<float> clamped = HistogramBlendTile(halves, 64, 64, 128, 96, {5, 3}, nullptr);
    EXPECT_EQ(*std::min_element(clamped.begin(), clamped.end()), 0.0f);
    EXPECT_EQ(*std::max_element(clamped.begin(), clamped.end()), 1.0f);
    for (const std::int32_t seed : {0, 1, 2, 3})
        ExpectNoSeam(HistogramBlendTile(PeriodicImage(160, 120), 160, 120, 160, 120, {4, seed}, nullptr), 160, 120,
                     "seed " + std::to_string(seed));
}

TEST(HistogramBlendTile, SameBitsOnAnyThreadCountStatisticsToo)
{
    test::ExpectSameOnOneThread([] {
        HistogramBlendStatistics s;
        std::vector<float> tile = HistogramBlendTile(PeriodicImage(700, 300), 700, 300, 300, 200, {9, 41}, &s);
        tile.insert(tile.end(), {s.mean, s.inputDeviation, s.outputDeviation});
        return tile;
    });
}

// ---- Methods -----------------------------------------------------------------------------------

TEST(SeamlessMethods, NamesFactoryAndCanonicalNames)
{
    EXPECT_EQ(SeamlessMethodNames(),
              (std::vector<std::string>{"Unchanged", "Mirror", "Cross-fade", "Histogram blend"}));
    const struct {
        const char *asked, *made; bool changes, mirrors; std::vector<float> defaults;
    } cases[] = {
        {"Unchanged", "Unchanged", false, false, {}},   {"Mirror", "Mirror", true, true, {}},
        {"Cross-fade", "Cross-fade", true, false, {20.0f}},
        {"Histogram blend", "Histogram blend", true, false, {4.0f, 0.0f}},
        {"mirror", "Unchanged", false, false, {}},      {"Histogram blend ", "Unchanged", false, false, {}},
        {"", "Unchanged", false, false, {}},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<Method> method = CreateSeamlessMethod(c.asked);
        ASSERT_NE(method, nullptr);
        EXPECT_EQ(method->Name(), c.made) << c.asked;
        EXPECT_EQ(CanonicalSeamlessMethodName(c.asked), c.made) << c.asked;
        EXPECT_TRUE(method->ChangesImage() == c.changes && method->MirrorsTiles() == c.mirrors) << c.asked;
        EXPECT_EQ(method->values, c.defaults) << c.asked;
        EXPECT_FALSE(method->Description().empty());
    }
}

TEST(SeamlessMethods, ApplyReportsWhatItDid)
{
    const std::vector<float> image = PeriodicImage(100, 50);
    std::int32_t w = 0, h = 0;
    SeamlessReport report;
    report.methodName = "stale";
    EXPECT_EQ(CreateSeamlessMethod("Unchanged")->Apply(image, 100, 50, w, h, &report), image);
    EXPECT_TRUE(w == 100 && h == 50 && report.methodName.empty());
    EXPECT_EQ(SeamlessSummaryText(report), "Seamless: unchanged, the image is as loaded.");

    EXPECT_EQ(CreateSeamlessMethod("Mirror")->Apply(image, 100, 50, w, h, &report), image);
    EXPECT_EQ(SeamlessSummaryText(report),
              "Seamless: Mirror, every other tile flipped, so neighbouring edges match; 100 x 50 -> 100 x 50 pixels, "
              "contrast 1.00 of the image's, 0 ms.");

    auto crossFade = CreateSeamlessMethod("Cross-fade");
    crossFade->SetValue("percent", 12.5f);
    const std::vector<float> faded = crossFade->Apply(image, 100, 50, w, h, &report);
    EXPECT_TRUE(w == 87 && h == 44) << "12.5 and 6.25 pixels, halves away from zero";
    EXPECT_EQ(report.description, "12.5% of each edge faded into the opposite one") << "the share as stored";
    EXPECT_EQ(report.outputDeviation, ImageStandardDeviation(faded));

    auto blend = CreateSeamlessMethod("Histogram blend");
    blend->SetValue("patches", 100.0f);
    EXPECT_EQ(blend->GetValue("patches"), 24.0f) << "held to the table's limit before the blend sees it";
    blend->SetValue("patches", 6.4f);
    blend->SetValue("seed", 17.0f);
    EXPECT_TRUE(blend->Apply(image, 100, 50, w, h, &report).size() == image.size() && w == 100 && h == 50);
    EXPECT_EQ(report.description, "6 patches across the tile, seed 17");
    const std::vector<float> wrong(7, 0.5f);
    EXPECT_EQ(blend->Apply(wrong, 2, 3, w, h, &report), wrong) << "a size that does not match";
    EXPECT_TRUE(report.methodName.empty());
}

TEST(SeamlessSummaryText, ComposesItsParts)
{
    SeamlessReport report{.methodName = "Cross-fade", .inputWidth = 100, .inputHeight = 50, .outputWidth = 80,
                          .outputHeight = 40, .inputDeviation = 0.2f, .outputDeviation = 0.19f, .milliseconds = 3.4,
                          .description = "20% of each edge faded into the opposite one"};
    EXPECT_EQ(SeamlessSummaryText(report),
              "Seamless: Cross-fade, 20% of each edge faded into the opposite one; 100 x 50 -> 80 x 40 pixels, "
              "contrast 0.95 of the image's, 3 ms.");
    report.inputDeviation = 0.0f;
    report.description.clear();
    report.milliseconds = 1234.5;
    EXPECT_EQ(SeamlessSummaryText(report), "Seamless: Cross-fade; 100 x 50 -> 80 x 40 pixels, 1234 ms.");
    for (const auto& [values, deviation] : {std::pair{std::vector<float>{}, 0.0f}, {{0.3f, 0.3f, 0.3f}, 0.0f},
                                            {{0.0f, 1.0f}, 0.5f}, {{0.0f, 0.0f, 0.0f, 1.0f}, std::sqrt(0.1875f)}})
        EXPECT_FLOAT_EQ(ImageStandardDeviation(values), deviation) << "divides by the count";
}

}  // namespace
}  // namespace grainforge::mesh::seamless
