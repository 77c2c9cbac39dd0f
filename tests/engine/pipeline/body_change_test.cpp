#include "engine/pipeline/body_change.h"

#include "engine/pipeline/pipeline_records.h"

#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

using test::Combined;
using test::Flipped;
using test::MakeBox;

// Parts and results typed in with the fate each body of the part met, its volumes before and
// after, and the words that name it. A 20 mm cube stands in for the body the run kept.
TEST(BodyChangeTest, EachBodyOfThePartIsMatchedAndJudged)
{
    const TriangleMesh big = MakeBox({0, 0, 0}, {20, 20, 20});
    const TriangleMesh small = MakeBox({25, 0, 0}, {26, 1, 1});
    const char* kSpeckWords = "Process set a piece loose from a body of the part: 0.20 x 0.20 x 0.20 mm at "
                              "(21.50, 1.50, 3.30), 0.008 mm3, apart from the body of 3.00 x 3.00 x 3.00 mm at "
                              "(21.50, 1.50, 1.50).";
    const struct {
        const char* what;
        TriangleMesh part;
        TriangleMesh result;
        std::vector<BodyFate> fates;
        double before;  // mm3 of the first change's body of the part
        double after;   // mm3 of what the result holds there
        const char* words;
        bool open = false;
    } cases[] = {
        {"a body taken away", Combined(big, small), big, {BodyFate::vanished}, 1.0, 0.0,
            "Process took away a body of the part: 1.00 x 1.00 x 1.00 mm at (25.50, 0.50, 0.50), 1.00 mm3."},
        // 1 mm3 down to 0.125 mm3 is 87.5% less, past the 5% a run may round off.
        {"a body cut down", Combined(big, small), Combined(big, MakeBox({25, 0, 0}, {25.5f, 0.5f, 0.5f})),
            {BodyFate::shrunk}, 1.0, 0.125,
            "Process cut a body of the part down by 88%: 1.00 x 1.00 x 1.00 mm at (25.50, 0.50, 0.50), 1.00 mm3, "
            "became 0.50 x 0.50 x 0.50 mm at (25.25, 0.25, 0.25), 0.12 mm3."},
        {"a body rounded off within the share", Combined(big, small),
            Combined(big, MakeBox({25, 0, 0}, {26, 1, 0.97f})), {}, 0.0, 0.0, ""},
        // Each cube loses 27.1%, as the part does: a relief's depth over every body alike.
        {"every body cut alike", Combined(big, small),
            Combined(MakeBox({0, 0, 0}, {18, 18, 18}), MakeBox({25, 0, 0}, {25.9f, 0.9f, 0.9f})), {}, 0.0, 0.0, ""},
        {"a body joined into its neighbour", Combined(big, MakeBox({20, 0, 0}, {21, 1, 1})),
            MakeBox({0, 0, 0}, {21, 20, 20}), {}, 0.0, 0.0, ""},
        {"an insert kept solid inside its body", Combined(big, MakeBox({5, 5, 5}, {6, 6, 6})), big, {}, 0.0, 0.0,
            ""},
        {"a hollow kept", Combined(big, Flipped(MakeBox({5, 5, 5}, {15, 15, 15}))),
            Combined(big, Flipped(MakeBox({5, 5, 5}, {15, 15, 15}))), {}, 0.0, 0.0, ""},
        {"a hollow filled", Combined(big, Flipped(MakeBox({5, 5, 5}, {15, 15, 15}))), big, {BodyFate::vanished},
            -1000.0, 0.0, "Process filled a hollow of the part: 10.00 x 10.00 x 10.00 mm at (10.00, 10.00, 10.00), "
                          "1000.00 mm3."},
        {"a sealed void the part did not have", big, Combined(big, Flipped(MakeBox({2, 2, 2}, {4, 3, 7}))),
            {BodyFate::newVoid}, 0.0, -10.0,
            "Process made a sealed void the part did not have: 2.00 x 1.00 x 5.00 mm at (3.00, 2.50, 4.50), 10.00 mm3 "
            "less material inside the part."},
        // The cube lies nearest the part's only body, beside the larger body there.
        {"a piece set loose", big, Combined(big, small), {BodyFate::loosePiece}, 8000.0, 1.0,
            "Process set a piece loose from a body of the part: 1.00 x 1.00 x 1.00 mm at (25.50, 0.50, 0.50), "
            "1.00 mm3, apart from the body of 20.00 x 20.00 x 20.00 mm at (10.00, 10.00, 10.00)."},
        // The cube went into its neighbour but for a speck beside it: the speck is named as what
        // it is, also where an open part's volumes say nothing, and no body is called cut down.
        {"a body joined but for a speck", Combined(big, MakeBox({20, 0, 0}, {23, 3, 3})),
            Combined(MakeBox({0, 0, 0}, {23, 20, 20}), MakeBox({21.4f, 1.4f, 3.2f}, {21.6f, 1.6f, 3.4f})),
            {BodyFate::loosePiece}, 27.0, 0.008, kSpeckWords},
        {"a body of an open part joined but for a speck", Combined(big, MakeBox({20, 0, 0}, {23, 3, 3})),
            Combined(MakeBox({0, 0, 0}, {23, 20, 20}), MakeBox({21.4f, 1.4f, 3.2f}, {21.6f, 1.6f, 3.4f})),
            {BodyFate::loosePiece}, 27.0, 0.008, kSpeckWords, true},
        // The same with a piece larger than a crumb left where the body was: still a piece the run set
        // loose, not the body cut down; with two, each is named once, the larger first.
        {"a body joined but for a piece", Combined(big, MakeBox({20, 0, 0}, {26, 3, 3})),
            Combined(MakeBox({0, 0, 0}, {26, 20, 20}), MakeBox({24.0f, 1.0f, 3.5f}, {25.0f, 2.0f, 4.5f})),
            {BodyFate::loosePiece}, 54.0, 1.0,
            "Process set a piece loose from a body of the part: 1.00 x 1.00 x 1.00 mm at (24.50, 1.50, 4.00), 1.00 mm3, "
            "apart from the body of 6.00 x 3.00 x 3.00 mm at (23.00, 1.50, 1.50)."},
        {"a body joined but for two pieces", Combined(big, MakeBox({20, 0, 0}, {26, 3, 3})),
            Combined(Combined(MakeBox({0, 0, 0}, {26, 20, 20}), MakeBox({21.0f, 1.0f, 3.5f}, {21.5f, 1.5f, 4.0f})),
                MakeBox({24.0f, 1.0f, 3.5f}, {25.0f, 2.0f, 4.5f})),
            {BodyFate::loosePiece, BodyFate::loosePiece}, 54.0, 1.0,
            "Process set a piece loose from a body of the part: 1.00 x 1.00 x 1.00 mm at (24.50, 1.50, 4.00), 1.00 mm3, "
            "apart from the body of 6.00 x 3.00 x 3.00 mm at (23.00, 1.50, 1.50).\n"
            "Process set a piece loose from a body of the part: 0.50 x 0.50 x 0.50 mm at (21.25, 1.25, 3.75), 0.12 mm3, "
            "apart from the body of 6.00 x 3.00 x 3.00 mm at (23.00, 1.50, 1.50)."},
        // Of an open part's body only a speck is left, joined to nothing: it was cut down.
        {"a body of an open part left as a speck", Combined(big, MakeBox({25, 0, 0}, {28, 3, 3})),
            Combined(big, MakeBox({25, 0, 0}, {25.2f, 0.2f, 0.2f})), {BodyFate::shrunk}, 27.0, 0.008,
            "Process cut a body of the part down by 100%: 3.00 x 3.00 x 3.00 mm at (26.50, 1.50, 1.50), 27.00 mm3, "
            "became 0.20 x 0.20 x 0.20 mm at (25.10, 0.10, 0.10), 0.008 mm3.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BodyChangeReport report = MeasureBodyChanges(c.part, c.result, 0.5f, kVolumeLossWarningShare, c.open);
        ASSERT_TRUE(report.measured);
        ASSERT_EQ(report.changes.size(), c.fates.size()) << FormatBodyChangesText(report);
        const std::string text = FormatBodyChangesText(report);
        EXPECT_EQ(text, c.words);
        if (c.fates.empty())
            continue;
        const BodyChange& change = report.changes.front();
        EXPECT_EQ(change.fate, c.fates.front());
        EXPECT_NEAR(change.before.volume, c.before, 1e-4);
        EXPECT_NEAR(change.after.volume, c.after, 1e-4);
    }
}

// Past the last line the rest are counted per fate with their volume, so that no body taken
// away goes unsaid however many there are.
TEST(BodyChangeTest, BodiesPastTheLastLineAreCounted)
{
    TriangleMesh part = MakeBox({0, 0, 0}, {20, 20, 20});
    for (int i = 0; i < 12; ++i)
        part = Combined(part, MakeBox({25.0f + 2.0f * static_cast<float>(i), 0, 0},
                                  {26.0f + 2.0f * static_cast<float>(i), 1, 1}));
    const BodyChangeReport report =
        MeasureBodyChanges(part, MakeBox({0, 0, 0}, {20, 20, 20}), 0.5f, kVolumeLossWarningShare);
    ASSERT_EQ(report.changes.size(), 12u);
    const std::string text = FormatBodyChangesText(report);
    EXPECT_NE(text.find("\nProcess took away 2 more bodies of the part, 2.00 mm3 in all."), std::string::npos) << text;
    std::size_t lines = 0;
    for (std::size_t at = text.find("Process took away a body"); at != std::string::npos;
         at = text.find("Process took away a body", at + 1))
        ++lines;
    EXPECT_EQ(lines, kMostBodyChangeLines);
}

// An open body holds no volume worth comparing: the one cut down is not named for it, while
// one taken away still is.
TEST(BodyChangeTest, AnOpenPartIsJudgedByWhatVanishedOnly)
{
    const TriangleMesh big = MakeBox({0, 0, 0}, {20, 20, 20});
    const TriangleMesh part = Combined(Combined(big, MakeBox({25, 0, 0}, {26, 1, 1})), MakeBox({30, 0, 0}, {31, 1, 1}));
    const TriangleMesh result = Combined(big, MakeBox({25, 0, 0}, {25.5f, 0.5f, 0.5f}));
    const BodyChangeReport report = MeasureBodyChanges(part, result, 0.5f, kVolumeLossWarningShare, true);
    ASSERT_EQ(report.changes.size(), 1u) << FormatBodyChangesText(report);
    EXPECT_EQ(report.changes.front().fate, BodyFate::vanished);
    EXPECT_EQ(MeasureBodyChanges(part, result, 0.5f, kVolumeLossWarningShare).changes.size(), 2u);
}

// Nothing to match against is no measurement, never a report of every body lost.
TEST(BodyChangeTest, AnEmptyMeshIsNotMeasured)
{
    EXPECT_FALSE(MeasureBodyChanges(MakeBox({0, 0, 0}, {1, 1, 1}), TriangleMesh{}, 0.5f, 0.05).measured);
    EXPECT_FALSE(MeasureBodyChanges(TriangleMesh{}, MakeBox({0, 0, 0}, {1, 1, 1}), 0.5f, 0.05).measured);
}

}  // namespace
}  // namespace grainforge::mesh
