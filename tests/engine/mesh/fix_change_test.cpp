#include "engine/mesh/fix_change.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

TriangleMesh Plate() { return test::MakeBox({-20, -20, 0}, {20, 20, 1}); }
TriangleMesh Boss(float lift) { return test::MakeBox({-8, -8, 1 + lift}, {8, 8, 17 + lift}); }
TriangleMesh BossOnPlate(float lift) { return test::Combined(Plate(), Boss(lift)); }

// Known answers: a 10 mm cube (1000 mm3) and what a fix might make of it.
TEST(MeasureFixChange, MeasuresEachBodyAgainstItsOwnSize)
{
    struct Case {
        const char* name;
        std::function<TriangleMesh()> before, after;
        float volumeShare, boxShare;  // expected, to 1e-4
        std::uint64_t lost;
        bool large;
    };
    const auto cube = [] { return test::MakeBox({0, 0, 0}, {10, 10, 10}); };
    const Case cases[] = {
        {"unchanged", cube, cube, 0.0f, 0.0f, 0, false},
        // An STL file's soup of corners is one body once its corners are taken by position.
        {"the same cube as a soup", cube, [&] { return test::ToSoup(cube()); }, 0.0f, 0.0f, 0, false},
        {"one side pushed in 0.5%", cube, [] { return test::MakeBox({0, 0, 0}, {9.95f, 10, 10}); }, 0.005f, 0.005f, 0,
            false},
        {"one side pushed in 2%", cube, [] { return test::MakeBox({0, 0, 0}, {9.8f, 10, 10}); }, 0.02f, 0.02f, 0, true},
        // The boss keeps its volume, but stands 0.32 mm off the plate: 2% of its 16 mm height.
        {"boss lifted off its plate", [] { return BossOnPlate(0.0f); }, [] { return BossOnPlate(0.32f); }, 0.0f, 0.02f, 0,
            true},
        // A crumb beside the part is no share of it; a body of half the part is.
        {"crumb taken away", [&] { return test::Combined(cube(), test::MakeBox({20, 0, 0}, {20.3f, 0.3f, 0.3f})); }, cube,
            0.0f, 0.0f, 1, false},
        {"body taken away", [&] { return test::Combined(cube(), test::MakeBox({20, 0, 0}, {30, 10, 10})); }, cube, 0.0f,
            0.0f, 1, true},
        // Split into two pieces that together are the body: nothing changed.
        {"split into two pieces", cube,
            [] { return test::Combined(test::MakeBox({0, 0, 0}, {5, 10, 10}), test::MakeBox({5, 0, 0}, {10, 10, 10})); },
            0.0f, 0.0f, 0, false},
    };
    for (const Case& c : cases) {
        const FixChangeReport report = MeasureFixChange(c.before(), c.after());
        EXPECT_TRUE(report.measured) << c.name;
        EXPECT_NEAR(report.largestVolumeShare, c.volumeShare, 1e-4) << c.name;
        EXPECT_NEAR(report.largestBoxShare, c.boxShare, 1e-4) << c.name;
        EXPECT_EQ(report.bodiesLost, c.lost) << c.name;
        EXPECT_EQ(IsLargeFixChange(report), c.large) << c.name;
    }
    EXPECT_FALSE(MeasureFixChange(TriangleMesh{}, cube()).measured);
}

TEST(FormatLargeFixChanges, NamesEachChangeWithItsSize)
{
    const FixChangeReport lifted = MeasureFixChange(BossOnPlate(0.0f), BossOnPlate(0.32f));
    EXPECT_EQ(FormatLargeFixChanges(lifted),
        std::vector<std::string>{"the fixes moved a side of a body by 0.32 mm along z, 2.0% of its 16.00 mm there"});
    const FixChangeReport shrunk =
        MeasureFixChange(test::MakeBox({0, 0, 0}, {10, 10, 10}), test::MakeBox({0, 0, 0}, {9.5f, 10, 10}));
    EXPECT_EQ(FormatLargeFixChanges(shrunk),
        (std::vector<std::string>{"the fixes changed a body's volume by 5.0% (1000.00 to 950.00 mm3)",
            "the fixes moved a side of a body by 0.50 mm along x, 5.0% of its 10.00 mm there"}));
    EXPECT_EQ(FormatFixChange(MeasureFixChange(Plate(), Plate())),
        "the fixes changed each body by at most 0.0% of its volume and 0.0% of its size");
    EXPECT_TRUE(FormatLargeFixChanges(MeasureFixChange(Plate(), Plate())).empty());
}

}  // namespace
}  // namespace grainforge::mesh
