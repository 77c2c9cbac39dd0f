#include "engine/displacement/fold_guard.h"

#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace grainforge::mesh::detail {
namespace {

constexpr GuardRound kEase{.widen = false, .takeBack = TakeBack::easeTowardsNeighbours};
constexpr GuardRound kWidenedEase{.widen = true, .takeBack = TakeBack::easeTowardsNeighbours};
constexpr GuardRound kWidenedHalve{.widen = true, .takeBack = TakeBack::halve};
constexpr GuardRound kWidenedPutBack{.widen = true, .takeBack = TakeBack::putBack};

TEST(FoldGuard, RoundsEaseThenWidenThenHalveThenPutBackAndTheRoundsLeftPutBackWidened)
{
    const struct {
        std::uint32_t round;
        GuardRound plan;
    } rows[] = {{1, kEase}, {10, kEase}, {11, kWidenedEase}, {20, kWidenedEase}, {21, kWidenedHalve},
        {26, kWidenedHalve}, {27, kWidenedPutBack}, {kMaxFoldRounds, kWidenedPutBack}};
    for (const auto& row : rows)
        EXPECT_EQ(PlanFoldRound(row.round), row.plan) << "round " << row.round;
    // After the crossing guard only putting back is left: a halving there would keep the folds.
    EXPECT_EQ(kFoldLeftRound, kWidenedPutBack);
}

// A flat 8 x 8 grid lifted 1 mm, its centre vertex 2 mm. One triangle at the centre is handed to
// a round as folded; the share of its lift each vertex keeps says how the round took it back:
// the centre eased halfway towards its neighbours' mean (1 mm) keeps 1.5 of its 2 mm.
TEST(EaseFoldRound, EachWayOfTakingBackLeavesTheVerticesWhereItSays)
{
    const struct {
        const char* what;
        GuardRound plan;
        float centre;  // share of its lift the folded triangle's centre corner keeps
        float beside;  // a vertex round that corner, outside the triangle
        float far;     // a vertex no round reaches
    } rows[] = {
        {"eased", kEase, 0.75f, 1.0f, 1.0f},
        {"halved", {.widen = false, .takeBack = TakeBack::halve}, 0.5f, 1.0f, 1.0f},
        {"halved and widened", kWidenedHalve, 0.5f, 0.5f, 1.0f},
        {"put back and widened", kWidenedPutBack, 0.0f, 0.0f, 1.0f},
    };
    const TriangleMesh grid = test::MakeFlatGrid(8, 1.0f);
    constexpr std::uint32_t kCentre = 4 * 9 + 4;
    std::uint32_t folded = 0;
    while (std::find(&grid.indices[3 * folded], &grid.indices[3 * folded] + 3, kCentre) == &grid.indices[3 * folded] + 3)
        ++folded;
    for (const auto& row : rows) {
        TriangleMesh mesh = grid;
        const std::vector<float> weights(mesh.vertices.size(), 1.0f);
        const DisplacementSettings settings;
        DisplacementReport report;
        DisplacementRun run(mesh, weights, settings, report);
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
            run.start.push_back(mesh.vertices[v].position);
            mesh.vertices[v].position.z = v == kCentre ? 2.0f : 1.0f;
        }
        run.states.assign(mesh.vertices.size(), kMoved);
        FoldGuard guard = StartFoldGuard(run);
        std::uint32_t beside = kCentre;
        for (std::uint32_t j = guard.faces->triangleOffsets[kCentre]; j < guard.faces->triangleOffsets[kCentre + 1]; ++j)
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t v = mesh.indices[3 * static_cast<std::size_t>(guard.faces->triangles[j]) + k];
                if (std::find(&mesh.indices[3 * folded], &mesh.indices[3 * folded] + 3, v) == &mesh.indices[3 * folded] + 3)
                    beside = v;
            }
        ASSERT_NE(beside, kCentre);
        (void)EaseFoldRound(run, guard, {folded}, row.plan);
        EXPECT_FLOAT_EQ(mesh.vertices[kCentre].position.z, 2.0f * row.centre) << row.what;
        EXPECT_FLOAT_EQ(mesh.vertices[beside].position.z, row.beside) << row.what;
        EXPECT_FLOAT_EQ(mesh.vertices[0].position.z, row.far) << row.what;
    }
}

}  // namespace
}  // namespace grainforge::mesh::detail
