#include "engine/mesh/report_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

TEST(FormatCountGrouped, PutsACommaBeforeEveryGroupOfThree)
{
    const struct {
        std::uint64_t count;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {100000, "100,000"},
        {1234567, "1,234,567"},
        {std::numeric_limits<std::uint64_t>::max(), "18,446,744,073,709,551,615"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatCountGrouped(c.count), c.text) << c.count;
}

TEST(FormatMillimetres2, MatchesTwoDecimalPrintfOfTheFloat)
{
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.5f, "0.50"},
        {1500.0f, "1500.00"},
        {20.0f, "20.00"},
        {75.125f, "75.12"},  // exact binary tie rounds to even, as printf does
        {2.675f, "2.67"},    // the float lies just below 2.675
        {-0.0f, "-0.00"},
        {-1.006f, "-1.01"},
        {3e38f, "300000000549775575777803994281145270272.00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatMillimetres2(c.value), c.text) << c.value;
}

TEST(FormatSize3, JoinsThreeValuesWithUnits)
{
    EXPECT_EQ(FormatSize3(20.0f, 0.004f, 1234.5f), "20.00 x 0.00 x 1234.50 mm");
}

TEST(FormatGeneral6, MatchesSixDigitGeneralPrintf)
{
    EXPECT_EQ(FormatGeneral6(8000.0f), "8000");
    EXPECT_EQ(FormatGeneral6(8000.5), "8000.5");
    EXPECT_EQ(FormatGeneral6(1e-5f), "1e-05");
    EXPECT_EQ(FormatGeneral6(0.000125f), "0.000125");
    EXPECT_EQ(FormatGeneral6(123456789.0), "1.23457e+08");
}

}  // namespace
}  // namespace grainforge::mesh
