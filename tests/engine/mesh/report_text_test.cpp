// Numbers in report texts: a value that rounds to zero at the precision shown is written
// without a minus sign, whichever formatter wrote it; real negatives and "-nan" keep theirs.
#include "engine/mesh/report_text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace grainforge::mesh
