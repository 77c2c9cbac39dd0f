#include "engine/mesh/self_intersection.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
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

// Every crossing pair by testing all pairs (with at least one flagged triangle when focus is
// given).
PairSet BruteForcePairs(const TriangleMesh& mesh, const std::vector<std::uint8_t>& focus = {})
{
    PairSet set;
    for (const test::CrossingPair& pair : test::FindCrossingPairsByBruteForce(mesh))
        if (focus.empty() || focus[pair.first] != 0 || focus[pair.second] != 0)
            set.insert(pair);
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
    // Share vertex 0 and also cross elsewhere: the second's far edge pierces the first.
    const TriangleMesh sharing = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, -1}, {1, 1, 3}}, {0, 1, 2, 0, 3, 4});
    EXPECT_TRUE(TrianglesIntersect(Corners(sharing, 0), Corners(sharing, 1)));
    EXPECT_EQ(Search(sharing), (PairSet{{0, 1}}));
    // Coplanar and overlapping.
    const TriangleMesh coplanar = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, 0}, {5, 1, 0}, {1, 5, 0}}, {0, 1, 2, 3, 4, 5});
    EXPECT_TRUE(Search(coplanar).empty());
    // A corner of one resting on the face of the other: one point in common. Within one piece
    // (a third triangle joins them) the surface touches itself; as two pieces, the one resting
    // on the outer side of the other is a body laid against another, and so is one hanging
    // below it once the lower triangle is turned to face down; one poking through from below a
    // face turned up crosses into it and is found.
    struct Case { const char* name; std::vector<std::uint32_t> indices; std::array<Vec3, 3> upper; PairSet expected; };
    const std::array<Vec3, 3> above{Vec3{1, 1, 0}, Vec3{1, 1, 3}, Vec3{2, 3, 3}};
    const std::array<Vec3, 3> below{Vec3{1, 1, 0}, Vec3{1, 1, -3}, Vec3{2, 3, -3}};
    const Case cases[] = {
        {"resting on the outer side, apart", {0, 1, 2, 3, 4, 5}, above, {}},
        {"resting on the outer side, joined", {0, 1, 2, 3, 4, 5, 1, 4, 6}, above, {{0, 1}}},
        {"hanging below a face turned down, apart", {0, 2, 1, 3, 4, 5}, below, {}},
        {"touching from inside, apart", {0, 1, 2, 3, 4, 5}, below, {{0, 1}}},
    };
    for (const Case& c : cases) {
        TriangleMesh touching = mesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, c.upper[0], c.upper[1], c.upper[2], {9, 9, 9}}, c.indices);
        EXPECT_EQ(Search(touching), c.expected) << c.name;
        EXPECT_EQ(Search(touching), BruteForcePairs(touching)) << c.name;
    }
}

// Two triangles of one plane that overlap in an area: a fold when a third triangle joins them
// into one piece, two bodies laid against each other when nothing does. The same in the plane
// x = 1,000,000.5, where a float steps by 1/16: the exact test is as fine there.
TEST(FindSelfIntersections, CoplanarOverlapsInOnePieceAreFoundAnywhere)
{
    for (const float x : {0.0f, 1000000.5f}) {
        for (const bool joined : {true, false}) {
            SCOPED_TRACE(testing::Message() << x << (joined ? " joined" : " apart"));
            TriangleMesh mesh = test::MeshOf({{x, 0, 0}, {x, 4, 0}, {x, 0, 4}, {x, 1, 1}, {x, 5, 1}, {x, 1, 5}, {x + 10, 10, -10}},
                {0, 1, 2, 3, 4, 5});
            if (joined)
                mesh.indices.insert(mesh.indices.end(), {1, 4, 6});
            EXPECT_EQ(Search(mesh), (joined ? PairSet{{0, 1}} : PairSet{}));
            EXPECT_EQ(Search(mesh), BruteForcePairs(mesh));
        }
    }
}

// Two triangles that share one vertex or one edge, typed in a frame where the answer is plain
// (the first triangle lies in z = 0), then moved by integer maps: any invertible linear map
// keeps which points lie on a plane, a line or a side, and integer coordinates stay exact in
// floats, so every copy must give the same answer. The corners of each triangle are also
// rotated and the two triangles listed in either order.
TEST(FindSelfIntersections, NeighboursCountOnlyWhereTheyMeetBeyondWhatTheyShare)
{
    struct Case { const char* name; std::array<Vec3, 3> first, second; bool meet; };
    const Vec3 v{0, 0, 0}, a1{6, 0, 0}, a2{0, 6, 0};
    const Case cases[] = {
        // One shared vertex, v.
        {"vertex: touching there only", {v, a1, a2}, {v, {-3, 1, 2}, {1, -3, 4}}, false},
        {"vertex: far edge pierces the face", {v, a1, a2}, {v, {2, 2, 3}, {2, 2, -3}}, true},
        {"vertex: far edge crosses the plane beside the face", {v, a1, a2}, {v, {-2, -2, 3}, {-2, -2, -3}}, false},
        {"vertex: an edge lies on the face", {v, a1, a2}, {v, {2, 2, 0}, {1, 1, 5}}, true},
        {"vertex: first without area, its far edge through the vertex", {v, a1, {-6, 0, 0}}, {v, {1, 2, -3}, {1, 2, 3}}, false},
        // One shared edge, v-a1.
        {"edge: ordinary dihedral", {v, a1, a2}, {a1, v, {3, -4, 3}}, false},
        {"edge: exactly flat", {v, a1, a2}, {a1, v, {3, -4, 0}}, false},
        {"edge: flap folded onto the neighbour", {v, a1, a2}, {a1, v, {3, 2, 0}}, true},
        {"edge: flap folded nearly flat", {v, a1, a2}, {a1, v, {3, 2, 1}}, false},
        {"edge: flap without area along the edge", {v, a1, a2}, {a1, v, {9, 0, 0}}, false},
    };
    std::mt19937 random(5);
    std::uniform_int_distribution<int> entry(-3, 3), shift(-1000, 1000), coin(0, 5);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        for (int trial = 0; trial < 40; ++trial) {
            int m[3][3];
            long determinant = 0;
            while (determinant == 0) {
                for (auto& row : m)
                    for (int& x : row)
                        x = trial == 0 ? 0 : entry(random);
                if (trial == 0)
                    m[0][0] = m[1][1] = m[2][2] = 1;
                determinant = long{m[0][0]} * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
                    - long{m[0][1]} * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
                    + long{m[0][2]} * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
            }
            const Vec3 offset{float(shift(random)), float(shift(random)), float(shift(random))};
            auto map = [&](Vec3 p) {
                return Vec3{m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z, m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z,
                           m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z} + offset;
            };
            // Shared corners become shared vertex indices.
            TriangleMesh mesh;
            auto vertexOf = [&](Vec3 p) {
                const Vec3 q = map(p);
                for (std::uint32_t i = 0; i < mesh.vertices.size(); ++i)
                    if (mesh.vertices[i].position == q)
                        return i;
                mesh.vertices.push_back({q, {}});
                return static_cast<std::uint32_t>(mesh.vertices.size() - 1);
            };
            const bool swapped = coin(random) % 2 == 1;
            for (const auto* triangle : swapped ? std::array{&test.second, &test.first} : std::array{&test.first, &test.second}) {
                const int turn = coin(random) % 3;
                for (int k = 0; k < 3; ++k)
                    mesh.indices.push_back(vertexOf((*triangle)[(k + turn) % 3]));
            }
            const PairSet expected = test.meet ? PairSet{{0, 1}} : PairSet{};
            ASSERT_EQ(Search(mesh), expected) << "trial " << trial;
            ASSERT_EQ(BruteForcePairs(mesh), expected) << "trial " << trial;
        }
    }
}

// Two triangles in one plane sharing corner 0: a flap folded flat through the corner is found
// like one folded across an edge; touching at the corner or along a ray from it is no fold.
// Exact rotations (cosine and sine from Pythagorean triples, corners scaled so that turned
// coordinates stay integers) and shifts up to 2^23 mm, where the float grid is 1 mm, keep the
// points exactly coplanar: the answer holds as typed and agrees with testing every pair.
TEST(FindSelfIntersections, FlapsFoldedFlatThroughACornerAreFound)
{
    struct Case { const char* name; Vec3 b1, b2; bool meet; };
    const Case cases[] = {
        {"overlapping beyond the corner", {5, 3, 0}, {-2, 6, 0}, true},
        {"lying inside the other", {2, 1, 0}, {1, 2, 0}, true},
        {"one edge along the other's, folded over it", {9, 0, 0}, {3, 4, 0}, true},
        {"both edges along the other's", {3, 0, 0}, {0, 9, 0}, true},
        {"one edge along the other's, on the far side", {4, 0, 0}, {3, -4, 0}, false},
        {"an edge on the same line, pointing away", {-4, 0, 0}, {-2, 3, 0}, false},
        {"touching only at the corner", {-6, 0, 0}, {0, -6, 0}, false},
    };
    const std::int64_t triples[][3] = {{1, 0, 1}, {3, 4, 5}, {5, 12, 13}, {8, 15, 17}, {-4, 3, 5}};
    std::mt19937 random(29);
    std::uniform_int_distribution<int> pick(1, 4);
    std::uniform_int_distribution<std::int64_t> shift(-(1 << 23), 1 << 23);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int trial = 0; trial < 40; ++trial) {
            // Trial 0 as typed.
            const auto next = [&](auto& draw) { return trial == 0 ? 0 : draw(random); };
            const std::int64_t* turn[3] = {triples[next(pick)], triples[next(pick)], triples[next(pick)]};
            const std::int64_t offset[3] = {next(shift), next(shift), next(shift)};
            const std::int64_t scale = turn[0][2] * turn[1][2] * turn[2][2];
            std::vector<Vec3> points;
            for (const Vec3 corner : {Vec3{}, Vec3{6, 0, 0}, Vec3{0, 6, 0}, c.b1, c.b2}) {
                std::int64_t p[3] = {std::int64_t(corner.x) * scale, std::int64_t(corner.y) * scale, std::int64_t(corner.z) * scale};
                for (int axis = 0; axis < 3; ++axis) {
                    const std::int64_t x = p[(axis + 1) % 3], y = p[(axis + 2) % 3], *t = turn[axis];
                    p[(axis + 1) % 3] = (t[0] * x - t[1] * y) / t[2];
                    p[(axis + 2) % 3] = (t[1] * x + t[0] * y) / t[2];
                }
                points.push_back({float(p[0] + offset[0]), float(p[1] + offset[1]), float(p[2] + offset[2])});
            }
            // Every other trial lists the second triangle first, corners turned.
            const TriangleMesh mesh = test::MeshOf(points, trial % 2 == 0 ? std::vector<std::uint32_t>{0, 1, 2, 0, 3, 4}
                                                                          : std::vector<std::uint32_t>{3, 4, 0, 2, 0, 1});
            const PairSet expected = c.meet ? PairSet{{0, 1}} : PairSet{};
            ASSERT_EQ(Search(mesh), expected) << "trial " << trial;
            ASSERT_EQ(BruteForcePairs(mesh), expected) << "trial " << trial;
        }
    }
}

// Meshes whose neighbours fold and cross: the search must find exactly what testing every pair
// finds, neighbours through a vertex or an edge included. Clean closed meshes, flat faces and
// a vertex of very high degree among them, must give nothing.
TEST(FindSelfIntersections, MatchesBruteForceOnFoldedAndNoisyMeshes)
{
    // Each vertex moved by up to `amount` on the chosen axes, the same on every run.
    auto jittered = [](TriangleMesh mesh, std::uint32_t seed, float amount, bool alongZ) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> step(-amount, amount);
        for (MeshVertex& v : mesh.vertices) {
            v.position.x += step(random);
            v.position.y += step(random);
            if (alongZ)
                v.position.z += step(random);
        }
        return mesh;
    };
    struct Case { const char* name; TriangleMesh mesh; bool crossing; };
    const Case cases[] = {
        {"noisy box", test::MakeNoisyBox(6, 0.7f), true},
        {"flat grid pushed about in its plane", jittered(test::MakeFlatGrid(16, 1.0f), 7, 0.8f, false), true},
        {"wavy sheet shaken", jittered(test::MakeWavyGrid(14, 14), 8, 0.4f, true), true},
        {"bumpy sphere shaken", jittered(test::MakeBumpySphere(10, 1, 16, 24), 9, 0.9f, true), true},
        {"test sphere", MakeTestSphere(10), false},
        {"bumpy sphere", test::MakeBumpySphere(10, 1, 16, 24), false},
        {"box with a gridded top", test::MakeGridTopBox(8), false},
        {"fan of 200 spokes", test::MakeFan(200), false},
        {"two cubes", test::MakeTwoCubes(), false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const PairSet expected = BruteForcePairs(test.mesh);
        EXPECT_EQ(Search(test.mesh), expected);
        // On a 1/16 mm grid the part moves 1,000,000 mm out exactly: the search there finds
        // the pairs it finds at the origin.
        TriangleMesh gridded = test.mesh;
        for (MeshVertex& v : gridded.vertices)
            v.position = {std::round(16.0f * v.position.x) / 16.0f, std::round(16.0f * v.position.y) / 16.0f,
                std::round(16.0f * v.position.z) / 16.0f};
        const PairSet nearPairs = Search(gridded);
        EXPECT_EQ(Search(test::Translated(gridded, {1.0e6f, -1.0e6f, 1.0e6f})), nearPairs);
        if (!test.crossing) {
            EXPECT_TRUE(expected.empty());
            continue;
        }
        const std::size_t neighbours = static_cast<std::size_t>(std::count_if(expected.begin(), expected.end(),
            [&](const auto& pair) {
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j)
                        if (test.mesh.indices[3 * pair.first + i] == test.mesh.indices[3 * pair.second + j])
                            return true;
                return false;
            }));
        EXPECT_GT(neighbours, 0u);
    }
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

    // Shares of flagged triangles on both sides of the point where the unflagged ones stop
    // being sorted out: the crossings found are those with a flagged member either way,
    // including one whose flagged member lies far from every other flagged triangle.
    const TriangleMesh crowd = test::MakeRandomTriangles(43, 3000, 20, 0.6f);
    for (const std::size_t every : {std::size_t{2}, std::size_t{3}, std::size_t{50}}) {
        std::vector<std::uint8_t> focus(crowd.TriangleCount(), 1);
        for (std::size_t t = 0; t < focus.size(); t += every)
            focus[t] = 0;
        const PairSet expected = BruteForcePairs(crowd, focus);
        EXPECT_GT(expected.size(), 5u) << every;
        EXPECT_EQ(Search(crowd, focus), expected) << every;
        std::vector<std::uint8_t> inverse(focus.size());
        for (std::size_t t = 0; t < focus.size(); ++t)
            inverse[t] = focus[t] == 0 ? 1 : 0;
        EXPECT_EQ(Search(crowd, inverse), BruteForcePairs(crowd, inverse)) << every;
    }
}

// A narrow focus lists only the triangles near the flagged ones: a large unflagged triangle
// over far more cells than the listing marks, and one with a non-finite corner, are still
// judged as the whole search judges them.
TEST(FindSelfIntersections, ANarrowFocusFindsWhatTheWholeSearchFindsWithAFlaggedMember)
{
    TriangleMesh mesh = test::MakeRandomTriangles(44, 3000, 20, 0.3f);
    const auto v = static_cast<std::uint32_t>(mesh.vertices.size());
    mesh.vertices.insert(mesh.vertices.end(), {{{-30, -30, 10}, {}}, {{30, -30, 10.5f}, {}}, {{0, 30, 9.5f}, {}}});
    mesh.indices.insert(mesh.indices.end(), {v, v + 1, v + 2});
    mesh.vertices[mesh.indices[7]].position.z = std::numeric_limits<float>::quiet_NaN();
    std::vector<std::uint8_t> focus(mesh.TriangleCount(), 0);
    for (std::size_t t = 0; t < focus.size(); t += 40)
        focus[t] = 1;
    focus[2] = 1;  // the triangle with the non-finite corner
    const PairSet expected = BruteForcePairs(mesh, focus);
    const bool largeCrossesFlagged = std::any_of(expected.begin(), expected.end(),
        [&](const auto& pair) { return pair.second == mesh.TriangleCount() - 1; });
    EXPECT_TRUE(largeCrossesFlagged);
    EXPECT_EQ(Search(mesh, focus), expected);
}

// The whole search of a mesh moved since a recorded search: the recorded pairs between
// triangles that kept their corners stand, what moved or lay outside the recorded focus is
// searched again, and the record is declined where it cannot say. A record made to be taken
// over covers the whole mesh whatever its focus, or the focus alone where the whole search
// would pass a limit the focused one keeps.
TEST(FindSelfIntersectionsSince, GivesTheWholeSearchWhereTheRecordHoldsAndDeclinesElsewhere)
{
    const TriangleMesh soup = test::MakeRandomTriangles(61, 1500, 20, 0.8f);
    struct Case {
        const char* what;
        std::size_t unflaggedEvery;  // record's focus leaves out every n-th triangle (0: none)
        std::size_t movedTriangles;  // the first n triangles move after the record
        std::uint32_t swappedCorner; // corner swapped with the next after the record (0: none)
        std::uint64_t limit;         // the search's limit; kRecordsOwn: the record's tested pairs
        bool taken;
        bool toTakeOver = false;     // recorded by RecordSelfIntersectionsToTakeOver
        // Its limit; kFocusedOwn: the pairs a search of the focus alone tests.
        std::uint64_t recordLimit = kNoPairLimit;
        bool recordsWhole = false;   // the record holds the whole mesh's pairs
    };
    constexpr std::uint64_t kRecordsOwn = kNoPairLimit - 1;
    constexpr std::uint64_t kFocusedOwn = kNoPairLimit - 2;
    const Case cases[] = {
        {"nothing moved: the record's pairs", 0, 0, 0, kNoPairLimit, true},
        {"moved triangles meet others anew", 0, 20, 0, kNoPairLimit, true},
        {"pairs of triangles outside the record's focus", 3, 0, 0, kNoPairLimit, true},
        {"most of the mesh moved", 0, 1000, 0, kNoPairLimit, false},
        {"other corners", 0, 0, 4, kNoPairLimit, false},
        {"no room under the limit for the moved ones' tests", 0, 200, 0, kRecordsOwn, false},
        {"a limit the moved ones alone pass", 0, 200, 0, 0, true},
        {"to take over: a focus of nothing records the whole", 1, 20, 0, kNoPairLimit, true, true, kNoPairLimit, true},
        {"to take over: a focus leaving a third out records the whole", 3, 20, 0, kNoPairLimit, true, true,
            kNoPairLimit, true},
        {"to take over: the whole would pass the limit, the focus alone is kept", 3, 20, 0, kNoPairLimit, true, true,
            kFocusedOwn, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> focus(soup.TriangleCount(), 1);
        for (std::size_t t = 0; c.unflaggedEvery != 0 && t < focus.size(); t += c.unflaggedEvery)
            focus[t] = 0;
        bool stopped = true;
        std::uint64_t recordLimit = c.recordLimit;
        if (recordLimit == kFocusedOwn)
            recordLimit = RecordSelfIntersections(soup, focus, kNoPairLimit, stopped).testedPairs;
        const SelfIntersectionRecord record = c.toTakeOver
            ? RecordSelfIntersectionsToTakeOver(soup, focus, recordLimit, stopped)
            : RecordSelfIntersections(soup, focus, recordLimit, stopped);
        ASSERT_FALSE(stopped);
        EXPECT_EQ(ToSet(record.pairs), c.recordsWhole ? BruteForcePairs(soup) : BruteForcePairs(soup, focus));
        TriangleMesh mesh = soup;
        for (std::size_t t = 0; t < c.movedTriangles; ++t)
            mesh.vertices[mesh.indices[3 * t]].position = mesh.vertices[mesh.indices[3 * t]].position + Vec3{0.7f, -0.4f, 0.3f};
        if (c.swappedCorner != 0)
            std::swap(mesh.indices[c.swappedCorner], mesh.indices[c.swappedCorner + 1]);
        const std::uint64_t limit = c.limit == kRecordsOwn ? record.testedPairs : c.limit;
        std::vector<std::uint32_t> pairs;
        const bool taken = FindSelfIntersectionsSince(mesh, record, limit, pairs, stopped);
        EXPECT_EQ(taken, c.taken);
        if (!taken) {
            EXPECT_TRUE(pairs.empty());
            continue;
        }
        std::vector<std::uint32_t> fresh;
        bool freshStopped = false;
        FindSelfIntersections(mesh, {}, limit, fresh, freshStopped);
        EXPECT_EQ(stopped, freshStopped);
        if (!stopped) {
            EXPECT_EQ(ToSet(pairs), BruteForcePairs(mesh));
            EXPECT_GT(ToSet(pairs).size(), 10u);
        }
    }
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

namespace grainforge::mesh {
namespace {

// Triangles on corners of a small integer lattice, most of them on two levels: coplanar,
// collinear, repeated and shared corners everywhere.
TriangleMesh LatticeTriangles(std::uint32_t seed, int pool, int triangles, int span)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> coordinate(0, span);
    std::uniform_int_distribution<int> vertex(0, pool - 1);
    TriangleMesh mesh;
    for (int i = 0; i < pool; ++i) {
        const float z = i < pool / 3 ? float(coordinate(random)) : float(coordinate(random) % 2);
        mesh.vertices.push_back({{float(coordinate(random)), float(coordinate(random)), z}, {}});
    }
    for (int k = 0; k < 3 * triangles; ++k)
        mesh.indices.push_back(static_cast<std::uint32_t>(vertex(random)));
    mesh.ComputeBounds();
    return mesh;
}

TriangleMesh TwoOf(const TriangleMesh& mesh, test::CrossingPair pair)
{
    TriangleMesh two;
    two.vertices = mesh.vertices;
    for (const std::uint32_t t : {pair.first, pair.second})
        two.indices.insert(two.indices.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
    return two;
}

// What the search counts next to the wider rule of every contact beyond shared vertices (the
// rule a mesh library's self-intersection test applies, which also lists each triangle without
// area once, paired with itself), case by case: the search and its every-pair reference agree,
// and each case says which contacts the search leaves out. Triangles without area pass
// through nothing: validation counts them apart. Triangle A is (0,0,0) (4,0,0)
// (0,4,0) facing up, vertices 0 to 2; vertex 9 lies far off, for a triangle that joins two
// into one piece without meeting either.
TEST(FindSelfIntersections, CountsCraftedPairsAsItsRuleSays)
{
    struct Case {
        const char* name;
        std::vector<Vec3> more;  // vertices 3 on
        std::vector<std::uint32_t> indices;
        std::size_t crossing;     // pairs the search lists
        std::size_t meeting;      // pairs in contact beyond shared vertices
        std::uint64_t withoutArea;
    };
    const Case cases[] = {
        {"sharing a corner, apart", {{-4, 0, 1}, {0, -4, 1}}, {0, 1, 2, 0, 3, 4}, 0, 0, 0},
        {"sharing a corner, crossing beyond it", {{1, 1, -1}, {1, 1, 3}}, {0, 1, 2, 0, 3, 4}, 1, 1, 0},
        {"sharing a corner, touching beyond it", {{1, 1, 0}, {1, 1, 3}}, {0, 1, 2, 0, 3, 4}, 1, 1, 0},
        {"sharing a corner, folded flat onto it", {{1, 3, 0}, {3, 1, 0}}, {0, 1, 2, 0, 3, 4}, 1, 1, 0},
        {"sharing a corner, flat and touching along an edge", {{0, -4, 0}}, {0, 1, 2, 0, 3, 1}, 0, 0, 0},
        {"sharing an edge, bent", {{1, -1, 2}}, {0, 1, 2, 1, 0, 3}, 0, 0, 0},
        {"sharing an edge, folded flat onto it", {{1, 1, 0}}, {0, 1, 2, 1, 0, 3}, 1, 1, 0},
        {"coplanar overlapping, two bodies", {{1, 1, 0}, {5, 1, 0}, {1, 5, 0}}, {0, 1, 2, 3, 4, 5}, 0, 1, 0},
        {"coplanar overlapping, one piece", {{1, 1, 0}, {5, 1, 0}, {1, 5, 0}, {}, {}, {}, {9, 9, 9}},
            {0, 1, 2, 3, 4, 5, 1, 4, 9}, 1, 1, 0},
        {"coplanar touching at a point, one piece", {{2, 2, 0}, {6, 2, 0}, {2, 6, 0}, {}, {}, {}, {9, 9, 9}},
            {0, 1, 2, 3, 4, 5, 1, 4, 9}, 0, 1, 0},
        {"touching at a point, resting on the outer side", {{1, 1, 0}, {1, 1, 3}, {2, 3, 3}}, {0, 1, 2, 3, 4, 5}, 0, 1, 0},
        {"touching at a point, from the inner side", {{1, 1, 0}, {1, 1, -3}, {2, 3, -3}}, {0, 1, 2, 3, 4, 5}, 1, 1, 0},
        {"crossing, two bodies", {{1, 1, -1}, {1, 1, 3}, {2, 3, 3}}, {0, 1, 2, 3, 4, 5}, 1, 1, 0},
        {"the same triangle twice", {}, {0, 1, 2, 0, 1, 2}, 0, 1, 0},
        {"the same triangle twice, on vertices of its own", {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, {0, 1, 2, 3, 4, 5}, 0, 1, 0},
        {"without area, repeating a vertex", {{1, 1, -1}, {1, 1, 3}}, {0, 1, 2, 3, 4, 4}, 0, 0, 1},
        {"without area, corners in a line through A", {{1, 1, -1}, {1, 1, 1}, {1, 1, 3}}, {0, 1, 2, 3, 4, 5}, 0, 0, 1},
        {"without area, first, corners in a line through A", {{1, 1, -1}, {1, 1, 1}, {1, 1, 3}}, {3, 4, 5, 0, 1, 2}, 0, 0, 1},
    };
    for (const Case& c : cases) {
        std::vector<Vec3> positions{{0, 0, 0}, {4, 0, 0}, {0, 4, 0}};
        positions.insert(positions.end(), c.more.begin(), c.more.end());
        const TriangleMesh mesh = test::MeshOf(positions, c.indices);
        const PairSet found = Search(mesh);
        EXPECT_EQ(found.size(), c.crossing) << c.name;
        EXPECT_EQ(found, BruteForcePairs(mesh)) << c.name;
        EXPECT_EQ(test::FindPairsByBruteForce(mesh, test::PairRule::meeting).size(), c.meeting) << c.name;
        EXPECT_EQ(test::CountTrianglesWithoutArea(mesh), c.withoutArea) << c.name;
    }
}

// The test references find the same pairs whether every pair is tried or the grid proposes
// them, under either rule; the meeting rule finds every crossing and more.
TEST(ExactCrossings, GridAndEveryPairAgreeUnderBothRules)
{
    std::vector<TriangleMesh> meshes;
    for (std::uint32_t seed = 0; seed < 60; ++seed)
        meshes.push_back(LatticeTriangles(seed, 10 + seed % 40, 30 + seed % 50, 1 + seed % 4));
    meshes.push_back(test::MakeRandomTriangles(7, 1500, 30, 2.0f, 500));
    std::size_t crossings = 0;
    std::size_t meetingOnly = 0;
    for (std::size_t i = 0; i < meshes.size(); ++i) {
        SCOPED_TRACE(i);
        const TriangleMesh& mesh = meshes[i];
        const std::vector<test::CrossingPair> crossing = test::FindPairsByBruteForce(mesh, test::PairRule::crossing);
        const std::vector<test::CrossingPair> meeting = test::FindPairsThroughGrid(mesh, test::PairRule::meeting);
        EXPECT_EQ(test::FindPairsThroughGrid(mesh, test::PairRule::crossing), crossing);
        EXPECT_EQ(test::FindPairsByBruteForce(mesh, test::PairRule::meeting), meeting);
        // A crossing pair of triangles with area meets.
        for (const test::CrossingPair& pair : crossing) {
            const bool flat = test::CountTrianglesWithoutArea(TwoOf(mesh, pair)) != 0;
            EXPECT_TRUE(flat || std::binary_search(meeting.begin(), meeting.end(), pair)) << pair.first << ", " << pair.second;
        }
        crossings += crossing.size();
        meetingOnly += static_cast<std::size_t>(std::count_if(meeting.begin(), meeting.end(), [&](const test::CrossingPair& pair) {
            return !std::binary_search(crossing.begin(), crossing.end(), pair);
        }));
    }
    // The lattice gives both rules plenty to disagree on (coplanar pairs that only touch).
    EXPECT_GT(crossings, 1000u);
    EXPECT_GT(meetingOnly, 50u);
}

}  // namespace
}  // namespace grainforge::mesh
