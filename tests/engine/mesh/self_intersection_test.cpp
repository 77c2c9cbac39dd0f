#include "engine/mesh/self_intersection.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/repair_driver.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

namespace grainforge::mesh {
namespace {

using PairSet = std::set<std::pair<std::uint32_t, std::uint32_t>>;

std::array<Vec3, 3> Corners(const TriangleMesh& mesh, std::size_t t)
{
    return {mesh.vertices[mesh.indices[3 * t]].position, mesh.vertices[mesh.indices[3 * t + 1]].position,
        mesh.vertices[mesh.indices[3 * t + 2]].position};
}

// Each pair once, as (lower, higher); fails the test when a pair is listed twice.
PairSet ToSet(const std::vector<std::uint32_t>& pairs)
{
    EXPECT_EQ(pairs.size() % 2, 0u);
    PairSet set;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        const bool inserted =
            set.insert({std::min(pairs[i], pairs[i + 1]), std::max(pairs[i], pairs[i + 1])}).second;
        EXPECT_TRUE(inserted) << "pair " << pairs[i] << ", " << pairs[i + 1] << " listed twice";
    }
    return set;
}

bool ShareVertex(const TriangleMesh& mesh, std::size_t t, std::size_t u)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (mesh.indices[3 * t + i] == mesh.indices[3 * u + j])
                return true;
    return false;
}

// Every pair of triangles without a shared vertex that intersects (with at least one flagged
// triangle when focus is given). Non-degenerate random triangles intersect symmetrically, so
// the role order does not matter here.
PairSet BruteForcePairs(const TriangleMesh& mesh, const std::vector<std::uint8_t>& focus = {})
{
    PairSet set;
    const std::size_t n = mesh.TriangleCount();
    for (std::size_t t = 0; t < n; ++t) {
        const auto a = Corners(mesh, t);
        for (std::size_t u = t + 1; u < n; ++u) {
            if (!focus.empty() && !focus[t] && !focus[u])
                continue;
            const auto b = Corners(mesh, u);
            if (!ShareVertex(mesh, t, u) && TrianglesIntersect(a, b))
                set.insert({static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(u)});
        }
    }
    return set;
}

PairSet Search(const TriangleMesh& mesh, std::span<const std::uint8_t> focus = {}, bool* stoppedOut = nullptr)
{
    std::vector<std::uint32_t> pairs{99, 98};
    bool stopped = true;
    FindSelfIntersections(mesh, focus, kNoPairLimit, pairs, stopped);
    EXPECT_FALSE(stopped);
    if (stoppedOut)
        *stoppedOut = stopped;
    return ToSet(pairs);
}

TEST(FindSelfIntersections, MatchesBruteForceOnRandomSoups)
{
    struct Case { std::uint32_t seed, count; float extent, size; std::uint32_t pool; };
    const Case cases[] = {
        {1, 2000, 40, 1.5f, 0},   // mixed sizes: several grid levels
        {3, 400, 10, 0, 60},     // corners shared through a small vertex pool
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.seed);
        const TriangleMesh mesh = test::MakeRandomTriangles(test.seed, test.count, test.extent, test.size, test.pool);
        const PairSet expected = BruteForcePairs(mesh);
        EXPECT_GT(expected.size(), 10u);
        EXPECT_EQ(Search(mesh), expected);
    }
}

TEST(FindSelfIntersections, SharedVertexCoplanarAndTouchingPairs)
{
    const auto mesh = test::MeshOf;
    // Share vertex 0 and also cross elsewhere.
    const TriangleMesh sharing = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, -1}, {1, 1, 3}}, {0, 1, 2, 0, 3, 4});
    EXPECT_TRUE(TrianglesIntersect(Corners(sharing, 0), Corners(sharing, 1)));
    EXPECT_TRUE(Search(sharing).empty());
    // Coplanar and overlapping.
    const TriangleMesh coplanar = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, 0}, {5, 1, 0}, {1, 5, 0}}, {0, 1, 2, 3, 4, 5});
    EXPECT_TRUE(Search(coplanar).empty());
    // A corner of one resting on the face of the other: one point in common.
    const TriangleMesh touching = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, 0}, {1, 1, 3}, {2, 3, 3}}, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(Search(touching), (PairSet{{0, 1}}));
}

TEST(FindSelfIntersections, PairLimitStopsTheSearch)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(31, 3000, 20, 0.5f);
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    FindSelfIntersections(mesh, {}, 0, pairs, stopped);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(pairs.empty());
    // Far apart triangles never reach the exact test, so a limit of 0 does not stop.
    const TriangleMesh apart = test::Combined(test::MakeTetrahedron(), test::Translated(test::MakeTetrahedron(), {100, 0, 0}));
    FindSelfIntersections(apart, {}, 0, pairs, stopped);
    EXPECT_FALSE(stopped);
}

// Large limits are counted in batches; whether the search stops must still be exact: it stops
// exactly when more pairs reach the exact test than the limit allows.
TEST(FindSelfIntersections, LargeLimitStopsExactlyWhenPassed)
{
    // Every box holds the cube [-1, 1]^3, so all n (n - 1) / 2 pairs reach the exact test.
    const std::uint32_t n = 1500;
    const std::uint64_t candidates = std::uint64_t{n} * (n - 1) / 2;
    ASSERT_GT(candidates, std::uint64_t{1} << 20);
    TriangleMesh mesh = test::MakeRandomTriangles(61, n, 1, 0);
    for (std::uint32_t t = 0; t < n; ++t) {
        mesh.vertices[3 * t].position = mesh.vertices[3 * t].position * -1.0f + Vec3{-1, -1, -1};
        mesh.vertices[3 * t + 1].position = mesh.vertices[3 * t + 1].position + Vec3{1, 1, 1};
    }
    std::vector<std::uint32_t> pairs;
    bool stopped = true;
    FindSelfIntersections(mesh, {}, candidates, pairs, stopped);
    EXPECT_FALSE(stopped);
    const std::size_t all = pairs.size();
    EXPECT_GT(all, 0u);
    FindSelfIntersections(mesh, {}, candidates - 1, pairs, stopped);
    EXPECT_TRUE(stopped);
    EXPECT_LE(pairs.size(), all);
}

TEST(FindSelfIntersections, FocusLimitsTheSearchToPairsWithAFlaggedTriangle)
{
    // A focus of the wrong length is ignored; a regular focus is among the pinned results.
    const TriangleMesh mesh = test::MakeRandomTriangles(41, 3000, 20, 0.8f);
    const std::vector<std::uint8_t> wrong(mesh.TriangleCount() - 1, 0);
    EXPECT_EQ(Search(mesh, wrong), BruteForcePairs(mesh));

    // A flagged triangle too large for the focus cells marks no cells around it; the small
    // unflagged triangles it crosses must still be searched.
    TriangleMesh large = test::MakeRandomTriangles(42, 2000, 20, 0.3f);
    const auto v = static_cast<std::uint32_t>(large.vertices.size());
    large.vertices.insert(large.vertices.end(), {{{-500, -500, 10}, {}}, {{500, -500, 10.5f}, {}}, {{0, 500, 9.5f}, {}}});
    large.indices.insert(large.indices.end(), {v, v + 1, v + 2});
    std::vector<std::uint8_t> last(large.TriangleCount(), 0);
    last.back() = 1;
    const PairSet crossed = BruteForcePairs(large, last);
    EXPECT_GT(crossed.size(), 5u);
    EXPECT_EQ(Search(large, last), crossed);
}

TEST(FindSelfIntersections, TrianglesWithNonFiniteCornersTakePartInNoPair)
{
    TriangleMesh mesh = test::MakeRandomTriangles(51, 1000, 10, 0.8f);
    const PairSet before = BruteForcePairs(mesh);
    mesh.vertices[0].position.x = std::numeric_limits<float>::infinity();
    mesh.vertices[4].position.y = std::numeric_limits<float>::quiet_NaN();
    PairSet expected;
    for (const auto& pair : before)
        if (pair.first > 1 && pair.second > 1)
            expected.insert(pair);
    EXPECT_EQ(Search(mesh), expected);
}

TEST(CheckSelfIntersections, FillsTheReportOrOnlyTheStoppedFlag)
{
    const TriangleMesh crossing = test::Combined(MakeTestCube(20), test::Translated(MakeTestCube(20), {5, 5, 5}));
    bool unlimitedStopped = true;
    EXPECT_EQ(ToSet(ListSelfIntersectingTriangles(crossing, {}, &unlimitedStopped)), BruteForcePairs(crossing));
    EXPECT_FALSE(unlimitedStopped);
    ValidationOptions options;
    ValidationReport report;
    CheckSelfIntersections(crossing, options, report);
    EXPECT_TRUE(report.selfIntersectionsChecked);
    EXPECT_FALSE(report.selfIntersectionSearchStopped);
    EXPECT_EQ(ToSet(report.selfIntersectionPairs), BruteForcePairs(crossing));
    const std::vector<std::uint32_t> triangles = DistinctTrianglesOfPairs(report.selfIntersectionPairs);
    EXPECT_EQ(std::pair(report.selfIntersectingTriangles, report.selfIntersectingTriangleCount), std::pair(triangles, triangles.size()));

    options.maximumSelfIntersectionPairs = 1;
    ValidationReport stopped;
    CheckSelfIntersections(crossing, options, stopped);
    EXPECT_TRUE(stopped.selfIntersectionSearchStopped && !stopped.selfIntersectionsChecked);
    EXPECT_TRUE(stopped.selfIntersectionPairs.empty() && stopped.selfIntersectingTriangles.empty());
    EXPECT_EQ(stopped.selfIntersectingTriangleCount, 0u);
}

}  // namespace
}  // namespace grainforge::mesh
