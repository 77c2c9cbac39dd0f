#include "engine/textures/seamless_method.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::mesh::seamless {
namespace {

std::vector<float> Ramp(int width, int height)
{
    std::vector<float> image(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image[y * width + x] = static_cast<float>(x + y) / static_cast<float>(width + height);
    return image;
}

TEST(SeamlessMethods, NamesFactoryAndCanonicalNames)
{
    EXPECT_EQ(SeamlessMethodNames(),
              (std::vector<std::string>{"Unchanged", "Mirror", "Cross-fade", "Histogram blend"}));
    const struct {
        const char* asked;
        const char* made;
        bool changes;
        bool mirrors;
        std::vector<float> defaults;
    } cases[] = {
        {"Unchanged", "Unchanged", false, false, {}},
        {"Mirror", "Mirror", true, true, {}},
        {"Cross-fade", "Cross-fade", true, false, {20.0f}},
        {"Histogram blend", "Histogram blend", true, false, {4.0f, 0.0f}},
        {"mirror", "Unchanged", false, false, {}},
        {"Histogram blend ", "Unchanged", false, false, {}},
        {"", "Unchanged", false, false, {}},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<Method> method = CreateSeamlessMethod(c.asked);
        ASSERT_NE(method, nullptr);
        EXPECT_EQ(method->Name(), c.made) << c.asked;
        EXPECT_EQ(method->ChangesImage(), c.changes) << c.asked;
        EXPECT_EQ(method->MirrorsTiles(), c.mirrors) << c.asked;
        EXPECT_EQ(method->values, c.defaults) << c.asked;
        EXPECT_EQ(CanonicalSeamlessMethodName(c.asked), c.made) << c.asked;
        EXPECT_FALSE(method->Description().empty());
    }
}

TEST(SeamlessMethods, ParameterTables)
{
    const auto crossFade = CreateSeamlessMethod("Cross-fade");
    ASSERT_EQ(crossFade->GetParameters().size(), 1u);
    const procedural::ParameterSpec& percent = crossFade->GetParameters()[0];
    EXPECT_EQ(percent.key, "percent");
    EXPECT_EQ(percent.label, "Overlap (%)");
    EXPECT_EQ(percent.kind, procedural::ParameterKind::Real);
    EXPECT_EQ(percent.maximum, 45.0f);
    EXPECT_EQ(percent.step, 0.5f);
    EXPECT_EQ(percent.help, "How much of each edge is faded into the opposite one");

    const auto histogram = CreateSeamlessMethod("Histogram blend");
    ASSERT_EQ(histogram->GetParameters().size(), 2u);
    const procedural::ParameterSpec& patches = histogram->GetParameters()[0];
    EXPECT_EQ(patches.key, "patches");
    EXPECT_EQ(patches.label, "Patches across the tile");
    EXPECT_EQ(patches.kind, procedural::ParameterKind::Integer);
    EXPECT_EQ(patches.minimum, 2.0f);
    EXPECT_EQ(patches.maximum, 24.0f);
    EXPECT_EQ(patches.help, "Few keeps the image's larger shapes whole; many mixes more and repeats less");
    EXPECT_EQ(histogram->GetParameters()[1].key, "seed");
    // Through the table the patch count is held to 2..24 before the blend sees it.
    histogram->SetValue("patches", 100.0f);
    EXPECT_EQ(histogram->GetValue("patches"), 24.0f);
}

TEST(SeamlessMethods, UnchangedAndMirrorKeepThePixels)
{
    const std::vector<float> image = Ramp(5, 3);
    std::int32_t w = 0, h = 0;
    SeamlessReport report;
    report.methodName = "stale";
    EXPECT_EQ(CreateSeamlessMethod("Unchanged")->Apply(image, 5, 3, w, h, &report), image);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    EXPECT_TRUE(report.methodName.empty());
    EXPECT_EQ(SeamlessSummaryText(report), "Seamless: unchanged, the image is as loaded.");

    EXPECT_EQ(CreateSeamlessMethod("Mirror")->Apply(image, 5, 3, w, h, &report), image);
    EXPECT_EQ(report.methodName, "Mirror");
    EXPECT_EQ(report.outputWidth, 5);
    EXPECT_EQ(report.inputDeviation, ImageStandardDeviation(image));
    EXPECT_EQ(report.outputDeviation, report.inputDeviation);
    EXPECT_EQ(report.description, "every other tile flipped, so neighbouring edges match");
    EXPECT_EQ(SeamlessSummaryText(report),
              "Seamless: Mirror, every other tile flipped, so neighbouring edges match; 5 x 3 -> 5 x 3 pixels, "
              "contrast 1.00 of the image's, 0 ms.");
}

TEST(SeamlessMethods, CrossFadeReportsItsOverlap)
{
    auto method = CreateSeamlessMethod("Cross-fade");
    method->SetValue("percent", 12.5f);
    std::int32_t w = 0, h = 0;
    SeamlessReport report;
    const std::vector<float> result = method->Apply(Ramp(100, 50), 100, 50, w, h, &report);
    EXPECT_EQ(result.size(), static_cast<std::size_t>(w) * h);
    EXPECT_EQ(w, 87);  // 12.5 rounds to 13 pixels, halves away from zero
    EXPECT_EQ(h, 44);  // 6.25 rounds to 6
    EXPECT_EQ(report.methodName, "Cross-fade");
    EXPECT_EQ(report.inputWidth, 100);
    EXPECT_EQ(report.outputHeight, 44);
    EXPECT_EQ(report.description, "12% of each edge faded into the opposite one");  // printf-style rounding
    EXPECT_EQ(report.outputDeviation, ImageStandardDeviation(result));
    EXPECT_GE(report.milliseconds, 0.0);
}

TEST(SeamlessMethods, HistogramBlendKeepsTheSizeAndReportsPatchesAndSeed)
{
    auto method = CreateSeamlessMethod("Histogram blend");
    method->SetValue("patches", 6.4f);
    method->SetValue("seed", 17.0f);
    std::int32_t w = 0, h = 0;
    SeamlessReport report;
    const std::vector<float> result = method->Apply(Ramp(40, 30), 40, 30, w, h, &report);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    EXPECT_EQ(result.size(), 1200u);
    EXPECT_EQ(report.description, "6 patches across the tile, seed 17");
    EXPECT_GT(report.outputDeviation, 0.0f);

    // A size that does not match the pixels gives the source back with an empty report.
    const std::vector<float> wrong(7, 0.5f);
    EXPECT_EQ(method->Apply(wrong, 2, 3, w, h, &report), wrong);
    EXPECT_TRUE(report.methodName.empty());
}

TEST(SeamlessSummaryText, ComposesItsParts)
{
    SeamlessReport report;
    report.methodName = "Cross-fade";
    report.description = "20% of each edge faded into the opposite one";
    report.inputWidth = 100;
    report.inputHeight = 50;
    report.outputWidth = 80;
    report.outputHeight = 40;
    report.inputDeviation = 0.2f;
    report.outputDeviation = 0.19f;
    report.milliseconds = 3.4;
    EXPECT_EQ(SeamlessSummaryText(report),
              "Seamless: Cross-fade, 20% of each edge faded into the opposite one; 100 x 50 -> 80 x 40 pixels, "
              "contrast 0.95 of the image's, 3 ms.");
    report.inputDeviation = 0.0f;
    report.description.clear();
    report.milliseconds = 1234.5;
    EXPECT_EQ(SeamlessSummaryText(report), "Seamless: Cross-fade; 100 x 50 -> 80 x 40 pixels, 1234 ms.");
}

TEST(ImageStandardDeviation, DividesByTheCount)
{
    EXPECT_EQ(ImageStandardDeviation({}), 0.0f);
    EXPECT_EQ(ImageStandardDeviation({0.3f, 0.3f, 0.3f}), 0.0f);
    EXPECT_EQ(ImageStandardDeviation({0.0f, 1.0f}), 0.5f);
    EXPECT_FLOAT_EQ(ImageStandardDeviation({0.0f, 0.0f, 0.0f, 1.0f}), std::sqrt(0.1875f));
}

}  // namespace
}  // namespace grainforge::mesh::seamless
