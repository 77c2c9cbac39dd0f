// The reduced display copy, its clustering (with the cell raised for huge extents), the
// refusal schedule and what the upload schedule tells the view to do.
#include "app/view/display_reduction.h"

#include "app/view/display_colours.h"
#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::app {
namespace {

// A flat grid of columns x rows squares, two triangles each, `step` mm apart.
TriangleMesh Grid(std::uint32_t columns, std::uint32_t rows, float step)
{
    TriangleMesh mesh;
    for (std::uint32_t y = 0; y <= rows; ++y)
        for (std::uint32_t x = 0; x <= columns; ++x)
            mesh.vertices.push_back({{x * step, y * step, 0.0f}, {0.0f, 0.0f, 1.0f}});
    for (std::uint32_t y = 0; y < rows; ++y)
        for (std::uint32_t x = 0; x < columns; ++x) {
            const std::uint32_t a = y * (columns + 1) + x;
            const std::uint32_t b = a + 1, c = a + columns + 1, d = c + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
        }
    mesh.ComputeBounds();
    return mesh;
}

void ExpectValidCopy(const TriangleMesh& source, const ReducedDisplayCopy& copy)
{
    ASSERT_TRUE(copy.mesh.IsConsistent());
    ASSERT_EQ(copy.sourceTriangles.size(), copy.mesh.TriangleCount());
    for (std::size_t t = 0; t < copy.sourceTriangles.size(); ++t) {
        ASSERT_LT(copy.sourceTriangles[t], source.TriangleCount());
        if (t > 0) {
            ASSERT_GT(copy.sourceTriangles[t], copy.sourceTriangles[t - 1]);
        }
    }
    EXPECT_TRUE(copy.mesh.boundsValid);
}

TEST(ClusterVertices, MergesCellsAndKeepsOnlyTrianglesOfThreeClusters)
{
    const TriangleMesh grid = Grid(100, 100, 1.0f);
    const ReducedDisplayCopy copy = ClusterVertices(grid, 4.0f);
    ExpectValidCopy(grid, copy);
    EXPECT_EQ(copy.mesh.vertices.size(), 26u * 26u);  // 101 vertices a row fall into 26 cells
    EXPECT_LT(copy.mesh.TriangleCount(), grid.TriangleCount() / 8);
    EXPECT_GT(copy.mesh.TriangleCount(), 0u);
    EXPECT_NEAR(copy.mesh.boundsMin.x, 1.5f, 1e-5f);  // mean of 0, 1, 2, 3
    EXPECT_NEAR(copy.mesh.boundsMax.x, 100.0f, 1e-5f);  // the last cell holds x = 100 alone
}

TEST(ClusterVertices, HugeExtentOverASmallCellDoesNotFoldDistantVertices)
{
    // Small triangles spread along 1,000 mm of x: with the 1e-4 mm cell the x index would
    // need 24 bits, and 21-bit keys would fold vertices 209.7152 mm apart into one cluster.
    TriangleMesh strip;
    for (std::uint32_t i = 0; i < 40; ++i) {
        const float x = 25.0f * static_cast<float>(i) + 0.3f * static_cast<float>(i % 7);
        const auto base = static_cast<std::uint32_t>(strip.vertices.size());
        strip.vertices.push_back({{x, 0.0f, 0.0f}, {}});
        strip.vertices.push_back({{x + 1.0f, 0.0f, 0.0f}, {}});
        strip.vertices.push_back({{x, 1.0f, 0.0f}, {}});
        strip.indices.insert(strip.indices.end(), {base, base + 1, base + 2});
    }
    strip.ComputeBounds();
    const ReducedDisplayCopy copy = ClusterVertices(strip, 0.0001f);
    ExpectValidCopy(strip, copy);
    ASSERT_EQ(copy.mesh.TriangleCount(), strip.TriangleCount());
    for (std::size_t t = 0; t < copy.mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k) {
            const Vec3 got = copy.mesh.vertices[copy.mesh.indices[3 * t + k]].position;
            const Vec3 want = strip.vertices[strip.indices[3 * copy.sourceTriangles[t] + k]].position;
            EXPECT_NEAR(got.x, want.x, 1e-3f) << "triangle " << t;
            EXPECT_NEAR(got.y, want.y, 1e-3f) << "triangle " << t;
        }
}

TEST(MakeReducedDisplayCopy, BudgetRules)
{
    const TriangleMesh sphere = mesh::MakeTestSphere(30.0f);  // 9,024 triangles
    struct Case {
        const char* name;
        std::uint64_t budget;
        bool reduced;
    };
    const Case cases[] = {{"within budget", 9024, false}, {"no budget", 0, false}, {"half", 4500, true},
                          {"a tenth", 900, true}};
    for (const Case& c : cases) {
        const ReducedDisplayCopy copy = MakeReducedDisplayCopy(sphere, c.budget);
        ExpectValidCopy(sphere, copy);
        if (!c.reduced) {
            EXPECT_EQ(copy.mesh.TriangleCount(), sphere.TriangleCount()) << c.name;
            continue;
        }
        EXPECT_LE(copy.mesh.TriangleCount(), c.budget * 11 / 10) << c.name;
        EXPECT_GT(copy.mesh.TriangleCount(), c.budget / 4) << c.name;
    }
    TriangleMesh unboxed = sphere;
    unboxed.boundsValid = false;
    EXPECT_EQ(MakeReducedDisplayCopy(unboxed, 100).mesh.TriangleCount(), sphere.TriangleCount());
}

// The copy carries the texture weights of its source triangles, so that Checkerboard and Height
// Map show on it (without weights both showed the same plain blue); weights that do not fit
// the source give none.
TEST(ReducedCopyCornerWeights, EachCornerTakesItsSourceTrianglesMean)
{
    const std::vector<float> source = {1, 1, 1, 0, 0, 0, 1, 0, 0.5f};
    struct Case {
        std::vector<std::uint32_t> sources;
        std::uint64_t sourceTriangles;
        std::vector<float> expected;  // before the pattern's share
    };
    const Case cases[] = {
        {{2, 0}, 3, {0.5f, 0.5f, 0.5f, 1, 1, 1}},
        {{1}, 3, {0, 0, 0}},
        {{0}, 4, {}},  // the weights are of another mesh
        {{0}, 0, {}},
    };
    for (const Case& c : cases) {
        const std::vector<float> weights = ReducedCopyCornerWeights(c.sources, c.sourceTriangles, source);
        ASSERT_EQ(weights.size(), c.expected.size());
        for (std::size_t i = 0; i < weights.size(); ++i)
            EXPECT_FLOAT_EQ(weights[i], c.expected[i] * kReducedCopyPatternShare);
    }
}

TEST(ReducedCopyColours, GreyOfTheSourceOrBlue)
{
    ReducedDisplayCopy copy;
    copy.sourceTriangles = {0, 2};
    const std::vector<Vec3> blue = ReducedCopyColours(copy, {}, 3);
    EXPECT_EQ(blue, (std::vector<Vec3>{display_colour::kReducedCopy, display_colour::kReducedCopy}));
    EXPECT_NEAR(ReducedCopyColours(copy, {{0.3f, 0.6f, 0.9f}, {}, {0.0f, 0.0f, 0.3f}}, 3)[1].x, 0.1f, 1e-6f);
    EXPECT_EQ(ReducedCopyColours(copy, {{1, 1, 1}}, 3)[0], display_colour::kReducedCopy) << "colours of another mesh";
}

TEST(RefusalBudgets, HalvesWhileAtLeastOneHundredThousand)
{
    EXPECT_EQ(RefusalBudgets(250000), (std::vector<std::uint64_t>{125000}));
    EXPECT_EQ(RefusalBudgets(1000000), (std::vector<std::uint64_t>{500000, 250000, 125000}));
    EXPECT_TRUE(RefusalBudgets(199999).empty());
    EXPECT_TRUE(RefusalBudgets(0).empty());
    EXPECT_EQ(GroupedCount(999), "999");
}

TEST(ReducedCopyMessage, Texts)
{
    EXPECT_EQ(ReducedCopyMessage(true, 2500000, 125000),
              "The graphics card could not hold all 2,500,000 triangles, so a reduced copy of 125,000 is shown, tinted "
              "blue. The part itself is whole: it is processed and saved in full.");
    EXPECT_EQ(ReducedCopyMessage(false, 1000000, 99876),
              "1,000,000 triangles is over the display limit, so a reduced copy of 99,876 is shown, tinted blue. The "
              "part itself is whole: it is processed and saved in full. The limit is in Mesh > Settings > Relief.");
}

// A renderer that takes meshes up to a size and records every upload.
struct FakeRenderer {
    std::uint64_t largest = UINT64_MAX;
    std::vector<std::uint64_t> uploads;
    std::vector<bool> reduced;
    DisplayUploader Uploader()
    {
        return {[this](const TriangleMesh& m, const std::vector<Vec3>&, bool copy) {
                    uploads.push_back(m.TriangleCount());
                    reduced.push_back(copy);
                    return m.TriangleCount() <= largest;
                },
                [] { return std::string("too large"); }};
    }
};

// A copy of a view made from the part (the sliced preview) names that view and gives the part's
// own count: the preview's count is never said as the part's.
TEST(ReducedCopyMessage, AMadeViewIsNamedBesideThePartsOwnCount)
{
    const ShownMeshName sliced{"sliced preview", 638130};
    EXPECT_EQ(ReducedCopyMessage(false, 4988306, 3999871, sliced),
              "The sliced preview has 4,988,306 triangles, over the display limit, so a reduced copy of 3,999,871 is "
              "shown, tinted blue. The part itself is whole (638,130 triangles): it is processed and saved in full. "
              "The limit is in Mesh > Settings > Relief.");
    EXPECT_EQ(ReducedCopyMessage(true, 4988306, 2494153, sliced).rfind(
                  "The graphics card could not hold all 4,988,306 triangles of the sliced preview", 0),
              0u);
}

TEST(UploadDisplayMesh, DisplayLimitShowsACopyAndLogsItsMessageOnce)
{
    const TriangleMesh grid = Grid(100, 100, 1.0f);  // 20,000 triangles
    FakeRenderer renderer;
    ReducedCopyState state;
    DisplayUploadOutcome first = UploadDisplayMesh(grid, {}, 5000, state, renderer.Uploader());
    EXPECT_EQ(first.scene, DisplayUploadOutcome::Scene::reduced);
    ASSERT_EQ(first.log.size(), 1u);
    EXPECT_EQ(first.log[0].level, 1);
    ASSERT_TRUE(first.information.has_value());
    EXPECT_EQ(std::string(first.information->begin(), first.information->end()), first.log[0].text);
    EXPECT_EQ(state.sourceTriangles, 20000u);
    EXPECT_LE(state.shownTriangles, 5500u);
    EXPECT_EQ(renderer.reduced, std::vector<bool>{true});

    const DisplayUploadOutcome again = UploadDisplayMesh(grid, {}, 5000, state, renderer.Uploader());
    EXPECT_TRUE(again.log.empty()) << "the same message is logged once";
    EXPECT_TRUE(again.information.has_value());

    const DisplayUploadOutcome full = UploadDisplayMesh(grid, {}, 0, state, renderer.Uploader());
    EXPECT_EQ(full.scene, DisplayUploadOutcome::Scene::full);
    EXPECT_TRUE(full.clearReducedInformation);
    EXPECT_EQ(state.sourceTriangles, 0u);
    EXPECT_FALSE(UploadDisplayMesh(grid, {}, 0, state, renderer.Uploader()).clearReducedInformation);
}

TEST(UploadDisplayMesh, FailuresClearTheSceneAndLogAnError)
{
    const TriangleMesh grid = Grid(250, 500, 0.5f);  // 250,000 triangles
    ASSERT_EQ(grid.TriangleCount(), 250000u);
    struct Case {
        const char* name;
        std::uint64_t largest;
        std::uint64_t limit;
        DisplayUploadOutcome::Scene scene;
        std::size_t uploads;
        std::size_t errors;
    };
    const Case cases[] = {
        {"display-limit copy refused", 0, 100000, DisplayUploadOutcome::Scene::cleared, 1, 1},
        {"refused down to 125,000, nothing below 100,000 tried", 0, 0, DisplayUploadOutcome::Scene::cleared, 2, 2},
        {"card takes the first copy", 130000, 0, DisplayUploadOutcome::Scene::reduced, 2, 1},
        {"card takes the whole mesh", 250000, 0, DisplayUploadOutcome::Scene::full, 1, 0},
    };
    for (const Case& c : cases) {
        FakeRenderer renderer;
        renderer.largest = c.largest;
        ReducedCopyState state;
        const DisplayUploadOutcome outcome = UploadDisplayMesh(grid, {}, c.limit, state, renderer.Uploader());
        EXPECT_EQ(outcome.scene, c.scene) << c.name;
        EXPECT_EQ(renderer.uploads.size(), c.uploads) << c.name;
        std::size_t errors = 0;
        for (const DisplayLogLine& line : outcome.log)
            errors += line.level == 4 ? 1 : 0;
        EXPECT_EQ(errors, c.errors) << c.name;
        if (c.limit == 0 && c.uploads > 1) {
            EXPECT_EQ(outcome.log.front().text, "The mesh could not be uploaded: too large") << c.name;
        }
        if (c.scene == DisplayUploadOutcome::Scene::cleared) {
            EXPECT_EQ(state.sourceTriangles, 0u) << c.name;
        }
    }
}

}  // namespace
}  // namespace grainforge::app
