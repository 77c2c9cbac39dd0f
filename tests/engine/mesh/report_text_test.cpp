#include "engine/mesh/report_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

TEST(ReportText, CountsAndNumbersAsPrintfShowsThem)
{
    EXPECT_EQ(FormatCountGrouped(999), "999");
    EXPECT_EQ(FormatCountGrouped(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615");
    const std::pair<float, const char*> millimetres[] = {
        {1500.0f, "1500.00"},
        {75.125f, "75.12"},  // exact binary tie rounds to even, as printf does
        {2.675f, "2.67"},    // the float lies just below 2.675
        {-0.0f, "-0.00"},
        {-1.006f, "-1.01"},
        {3e38f, "300000000549775575777803994281145270272.00"},
    };
    for (const auto& [value, text] : millimetres)
        EXPECT_EQ(FormatMillimetres2(value), text) << value;
    EXPECT_EQ(FormatSize3(20.0f, 0.004f, 1234.5f), "20.00 x 0.00 x 1234.50 mm");
    EXPECT_EQ(FormatGeneral6(123456789.0), "1.23457e+08");
}

}  // namespace
}  // namespace grainforge::mesh
