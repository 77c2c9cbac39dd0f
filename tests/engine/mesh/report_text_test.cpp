// Numbers in report texts: a value that rounds to zero at the precision shown is written
// without a minus sign, whichever formatter wrote it; real negatives and "-nan" keep theirs.
#include "engine/mesh/report_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

TEST(ReportText, NoSignedZeroInAFixedNumber)
{
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {{-0.0, 2, "0.00"}, {-0.004, 2, "0.00"}, {-0.005, 2, "-0.01"}, {-0.4, 0, "0"}, {-12.5, 1, "-12.5"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text) << c.value;
    EXPECT_EQ(FormatSize3(-0.0f, 1.0f, -0.0001f), "0.00 x 1.00 x 0.00 mm");
    EXPECT_EQ(FormatGeneral6(-0.0), "0");
    for (const char* zero : {"-0", "  -0.000", "-0.00e-05"})
        EXPECT_TRUE(IsNegativeZeroText(zero)) << zero;
    for (const char* other : {"-0.001", "0.0", "-nan", "-inf", "-", "- 0", "-0x0p+0"})
        EXPECT_FALSE(IsNegativeZeroText(other)) << other;
}

// A size finer than a hundredth keeps its first two digits; "0.00 mm" named a 0.0049 mm size.
TEST(ReportText, LengthKeepsTheDigitsItNeeds)
{
    const std::pair<double, const char*> cases[] = {{20.0, "20.00"}, {0.3, "0.30"}, {0.05, "0.05"},
        {0.0048923, "0.0049"}, {0.0001, "0.0001"}, {0.000123, "0.00012"}, {0.0, "0.00"}, {-0.0001, "-0.0001"},
        {1e-12, "0.00"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatLength(value), text) << value;
    // Volumes by the same rule, finer: a removed piece read "3.6861e-05 mm3".
    const std::pair<double, const char*> volumes[] = {{216.0, "216.00"}, {0.125, "0.12"}, {3.6861e-05, "0.000037"},
        {2.15354e-08, "0.000000022"}, {0.0, "0.00"}, {1e-20, "0.00"}, {-0.5, "-0.50"}};
    for (const auto& [value, text] : volumes)
        EXPECT_EQ(FormatVolume(value), text) << value;
}

// An advised size is written rounded up, never down, so that typing it back asks for no less
// than the advice worked out; a size the text already writes exactly stays as it is.
TEST(ReportText, AdvisedLengthRoundsUpToWhatIsWritten)
{
    const std::pair<float, const char*> cases[] = {{0.0537f, "0.054"}, {0.3f, "0.30"}, {0.491f, "0.50"},
        {1.5f, "1.50"}, {0.0999f, "0.10"}, {0.00012001f, "0.00013"}, {12.3401f, "12.35"}, {0.05f, "0.05"}};
    for (const auto& [value, text] : cases) {
        const float up = RoundLengthUp(value);
        EXPECT_EQ(FormatLength(up), text) << value;
        EXPECT_GE(up, value) << value;
    }
    // The search stops at the first written size that fits, from the root of the excess on.
    int tried = 0;
    const float found = SearchAdvisedLength(0.2f, 4.0, [&](float size) { ++tried; return size >= 0.5f; });
    EXPECT_GE(found, 0.5f);
    EXPECT_LE(found, 0.5f * 1.06f);
    EXPECT_GT(tried, 1);
    // A first guess far past the bound (memory that falls with the cube of the size) is halved
    // back to the smallest written size that fits, the hundredth after the start among them.
    for (const float bound : {0.33f, 0.21f, 1.07f, 0.2001f}) {
        const float back = SearchAdvisedLength(0.2f, 100.0, [&](float size) { return size >= bound; });
        EXPECT_EQ(back, RoundLengthUp(bound)) << bound;
    }
    EXPECT_EQ(SearchAdvisedLength(0.2f, 1.0, [](float size) { return size >= 0.2f; }), 0.2f);
    EXPECT_EQ(SearchAdvisedLength(0.2f, 1.0, [](float) { return false; }), 0.0f);
    EXPECT_EQ(SearchAdvisedLength(0.0f, 1.0, [](float) { return true; }), 0.0f);
}

// A size too coarse is advised downward: the largest written size found that fits, never the
// start itself, close to the bound whether the first guess fell short of it or went past.
TEST(ReportText, AdvisedLengthDownFindsTheLargestWrittenSizeThatFits)
{
    const double none = std::numeric_limits<double>::infinity();
    const struct {
        float start;
        double shortfall;
        float bound;  // fits at and below it; 0: nothing fits
    } cases[] = {{100.0f, none, 20.8f}, {1000.0f, none, 20.8f}, {40.0f, 4.0, 20.0f}, {40.0f, 400.0, 20.0f},
        {25.0f, 1.5, 20.8f}, {0.3f, 2.0, 0.0537f}, {20.0f, 1.0, 20.0f}, {20.0f, none, 0.0f}, {0.0f, 2.0, 1.0f},
        {1000.0f, none, 0.99f}};
    for (const auto& c : cases) {
        const float found = SearchAdvisedLengthDown(c.start, c.shortfall, [&](float size) { return size <= c.bound; });
        if (c.bound == 0.0f || c.start == 0.0f) {
            EXPECT_EQ(found, 0.0f) << c.start << " " << c.bound;
            continue;
        }
        EXPECT_LE(found, c.bound) << c.start;
        EXPECT_GE(found, 0.88f * c.bound) << c.start;
        EXPECT_EQ(RoundLengthUp(found), found) << "written as found: " << c.start;
    }
}

}  // namespace
}  // namespace grainforge::mesh
