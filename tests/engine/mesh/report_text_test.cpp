// Numbers in report texts: a value that rounds to zero at the precision shown is written
// without a minus sign, whichever formatter wrote it.
#include "engine/mesh/report_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace grainforge::mesh {
namespace {

TEST(ReportText, SignedZerosAreToldFromRealNegatives)
{
    const struct {
        const char* text;
        bool negativeZero;
    } cases[] = {
        {"-0", true}, {"-0.000", true}, {"  -0.00", true}, {"-0.00  ", true}, {"-0e+00", true},
        {"-0.00e-05", true}, {"-.0", true}, {"-0.001", false}, {"-10", false}, {"0.000", false},
        {"+0.0", false}, {"-nan", false}, {"-inf", false}, {"-", false}, {"", false}, {"-.0", true},
        {"-0.0.0", false}, {"-0x0p+0", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNegativeZeroText(c.text), c.negativeZero) << '"' << c.text << '"';
}

TEST(ReportText, FixedNumbersHaveNoSignedZero)
{
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {
        {-0.0, 2, "0.00"}, {-0.004, 2, "0.00"}, {-0.005, 2, "-0.01"}, {-0.4, 0, "0"},
        {-12.5, 1, "-12.5"}, {1.0 / 3.0, 4, "0.3333"}, {-std::numeric_limits<double>::infinity(), 2, "-inf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text) << c.value;
    EXPECT_EQ(FormatMillimetres2(-0.001f), "0.00");
    EXPECT_EQ(FormatGeneral6(-0.0), "0");
    EXPECT_EQ(FormatSize3(-0.0f, 1.0f, -0.0001f), "0.00 x 1.00 x 0.00 mm");
}

}  // namespace
}  // namespace grainforge::mesh
