#include "engine/mesh/welding.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

using test::Identical;

// A soup whose positions come from a small grid, so that many vertices coincide; each vertex
// carries its own number in its normal, to see which one was kept.
TriangleMesh MakeCoincidentSoup(std::size_t triangles, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> cell(-20, 20);
    TriangleMesh soup;
    for (std::size_t i = 0; i < 3 * triangles; ++i) {
        const Vec3 p{cell(random) * 0.25f, cell(random) * 0.25f, cell(random) * 0.25f};
        soup.vertices.push_back({p, {static_cast<float>(i), 0, 0}});
        soup.indices.push_back(static_cast<std::uint32_t>(i));
    }
    return soup;
}

// The weld as a plain serial walk with an ordered map: first vertex of a position keeps.
TriangleMesh ReferenceExactWeld(TriangleMesh mesh)
{
    std::map<std::tuple<float, float, float>, std::uint32_t> kept;
    std::vector<MeshVertex> vertices;
    std::vector<std::uint32_t> map;
    for (const MeshVertex& vertex : mesh.vertices) {
        const Vec3 p = vertex.position;
        auto [it, inserted] = kept.try_emplace({p.x, p.y, p.z}, static_cast<std::uint32_t>(vertices.size()));
        if (inserted)
            vertices.push_back(vertex);
        map.push_back(it->second);
    }
    for (std::uint32_t& index : mesh.indices)
        index = map[index];
    mesh.vertices = vertices;
    return mesh;
}


// The weld and WeldCorners must give, bit for bit, the serial walk's result, whether
// everything, something or nothing merges, on one thread and on many. Random positions from a
// small grid repeat all over the array; a grid's soup repeats each corner nearby, as STL files
// do. Each soup vertex carries its number in its normal, to see which one was kept.
TEST(WeldIdenticalVertices, MatchesTheSerialWalkAndWeldCornersOnAnyThreadCount)
{
    auto positionsOf = [](const TriangleMesh& soup) {
        std::vector<Vec3> corners;
        for (const MeshVertex& v : soup.vertices)
            corners.push_back(v.position);
        return corners;
    };
    const struct { const char* name; std::vector<Vec3> corners; } cases[] = {
        {"coincident soup", positionsOf(MakeCoincidentSoup(200000, 1))},
        {"grid soup", positionsOf(test::ToSoup(test::MakeWavyGrid(300, 400)))},
        {"nothing merges", positionsOf(test::MakeRandomTriangles(4, 3000, 50, 1.0f))},
        {"signed zeros", {{0, 0, -0.0f}, {0, 0, 0}, {1, 0, 0}, {-0.0f, 0, 0}, {0, 0, 0}, {1, 0, 0}}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TriangleMesh soup;
        for (std::size_t i = 0; i < test.corners.size(); ++i) {
            soup.vertices.push_back({test.corners[i], {static_cast<float>(i), 0, 0}});
            soup.indices.push_back(static_cast<std::uint32_t>(i));
        }
        const TriangleMesh expected = ReferenceExactWeld(soup);
        EXPECT_EQ(HasCoincidentVertices(soup), expected.vertices.size() != soup.vertices.size());
        TriangleMesh bare = expected;
        for (MeshVertex& v : bare.vertices)
            v.normal = {};
        for (const bool serial : {true, false}) {
            std::optional<ThreadLimit> limit;
            if (serial)
                limit.emplace(1);
            TriangleMesh mesh = soup;
            EXPECT_EQ(WeldIdenticalVertices(mesh), soup.vertices.size() - expected.vertices.size());
            EXPECT_TRUE(Identical(mesh, expected)) << (serial ? "one thread" : "all threads");
            EXPECT_TRUE(Identical(WeldCorners(test.corners), bare)) << (serial ? "one thread" : "all threads");
        }
    }
    // Corners that do not make whole triangles give no mesh.
    const std::vector<Vec3> partial{{0, 0, 0}, {1, 0, 0}};
    EXPECT_TRUE(WeldCorners(partial).indices.empty());
    EXPECT_TRUE(WeldCorners({}).vertices.empty());
}

TEST(WeldVerticesWithin, ZeroIsTheExactWeldNegativeReachesNothingAndCellsAreClamped)
{
    TriangleMesh exact = test::MakeCubeSoup();
    EXPECT_EQ(WeldVerticesWithin(exact, 0.0f), 28u);
    for (float tolerance : {-1.0f, std::nanf("")}) {
        TriangleMesh mesh = test::MakeCubeSoup();
        EXPECT_EQ(WeldVerticesWithin(mesh, tolerance), 0u);
    }
    // 3e38 / 1e-30 is far beyond the 64-bit cell range.
    TriangleMesh mesh = MeshOf({{3e38f, -3e38f, 0}, {3e38f, -3e38f, 0}, {-3e38f, 0, 3e38f}, {std::nanf(""), 0, 0}},
        {0, 1, 2, 1, 2, 3});
    EXPECT_EQ(WeldVerticesWithin(mesh, 1e-30f), 1u);
}

// Every vertex joins a kept vertex within reach, never through a chain of joined ones, and the
// kept vertices stay in their first order.
TEST(WeldVerticesWithin, JoinsOnlyWithinReachOfAKeptVertex)
{
    const TriangleMesh soup = test::MakeRandomTriangles(9, 1000, 0.04f, 0.01f);
    const float t = 0.004f;
    TriangleMesh mesh = soup;
    const std::uint64_t merged = WeldVerticesWithin(mesh, t);
    EXPECT_GT(merged, 100u);
    EXPECT_EQ(mesh.vertices.size(), soup.vertices.size() - merged);
    for (std::size_t i = 0; i < soup.indices.size(); ++i) {
        const Vec3 d = mesh.vertices[mesh.indices[i]].position - soup.vertices[soup.indices[i]].position;
        ASSERT_LE(Dot(d, d), t * t) << i;
    }
    std::size_t j = 0;  // the kept vertices are a subsequence of the input, in order
    for (const MeshVertex& v : mesh.vertices) {
        while (j < soup.vertices.size() && !(soup.vertices[j].position == v.position))
            ++j;
        ASSERT_LT(j++, soup.vertices.size());
    }
}

// The automatic tolerance is each piece's own: a stray flat facet, a needle of no area or a
// second body far away never widens it for the rest, and a part of one piece keeps the
// tolerance of its own box, as when the whole file's box set it.
TEST(LocalWeldTolerances, EachPieceTakesItsOwnSizeNeverTheFilesSpan)
{
    TriangleMesh sphere = MakeTestSphere(10.0f);
    sphere.ComputeBounds();
    const Vec3 side = sphere.boundsMax - sphere.boundsMin;
    const float largest = std::max({std::fabs(sphere.boundsMin.x), std::fabs(sphere.boundsMin.y),
        std::fabs(sphere.boundsMin.z), sphere.boundsMax.x, sphere.boundsMax.y, sphere.boundsMax.z});
    const float own = AutomaticWeldTolerance(largest, std::max({side.x, side.y, side.z}));
    ASSERT_FLOAT_EQ(own, 1e-5f);
    const std::size_t n = sphere.vertices.size();
    const Vec3 far{1e6f, 1e6f, 1e6f};
    // A needle from the sphere's first vertex to a far point, its last two corners one position.
    TriangleMesh needle = sphere;
    needle.vertices.insert(needle.vertices.end(), {{far, {}}, {far, {}}});
    needle.indices.insert(needle.indices.end(), {0, static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n + 1)});
    TriangleMesh unused = sphere;
    unused.vertices.push_back({far, {}});
    const struct {
        const char* name;
        TriangleMesh part;
        float rest;  // the tolerance at every vertex after the sphere's
    } cases[] = {
        {"the sphere alone", sphere, own},
        {"a flat facet at 1e6 mm", test::MakeOpenSphereWithStrayFacet(far), 1e-6f},
        {"a flat facet at 1e5 mm", test::MakeOpenSphereWithStrayFacet(far * 0.1f), 1e-6f},
        {"a needle of no area to 1e6 mm", needle, 1e-6f},
        {"an unused vertex at 1e6 mm", unused, 1e-6f},
        // 1e-6 of twice the cube's 5 mm.
        {"a 5 mm cube at 1e6 mm", test::MakeSphereAndFarCube({1e6f, 1e6f, 0.0f}), 1e-5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> tolerances = LocalWeldTolerances(c.part);
        ASSERT_EQ(tolerances.size(), c.part.vertices.size());
        for (std::size_t v = 0; v < tolerances.size(); ++v)
            ASSERT_FLOAT_EQ(tolerances[v], v < n ? own : c.rest) << v;
    }
}

// Two vertices join only within the smaller of their tolerances, whatever the grids they are
// filed in; one tolerance for all is exactly the weld at that tolerance.
TEST(WeldVerticesWithin, PerVertexTolerancesJoinWithinTheSmallerOfTwo)
{
    const struct {
        float distance, first, second;
        std::uint64_t merged;
    } cases[] = {
        {0.5f, 1.0f, 1.0f, 1},
        {0.5f, 1.0f, 0.1f, 0},
        {0.5f, 0.1f, 1.0f, 0},
        {0.5f, 0.6f, 100.0f, 1},
        {0.5f, 100.0f, 0.6f, 1},
        {0.5f, 1e-6f, 1.0f, 0},
        {0.0f, -1.0f, 1.0f, 0},  // a tolerance not above 0 reaches nothing, not even its own spot
        {0.0f, std::nanf(""), 1.0f, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " and " + std::to_string(c.second));
        TriangleMesh mesh = MeshOf({{0, 0, 0}, {c.distance, 0, 0}, {0, 50, 0}}, {0, 1, 2});
        const std::vector<float> tolerances{c.first, c.second, 1e-6f};
        EXPECT_EQ(WeldVerticesWithin(mesh, tolerances), c.merged);
    }
    const TriangleMesh soup = test::MakeRandomTriangles(9, 1000, 0.04f, 0.01f);
    TriangleMesh uniform = soup;
    TriangleMesh perVertex = soup;
    EXPECT_GT(WeldVerticesWithin(uniform, 0.004f), 100u);
    static_cast<void>(WeldVerticesWithin(perVertex, std::vector<float>(soup.vertices.size(), 0.004f)));
    EXPECT_TRUE(Identical(uniform, perVertex));
}

TEST(DuplicateTriangles, MatchesASetWalkOnLargeMeshes)
{
    // Random triangles over 61 vertices repeat corner sets everywhere (hash path); the grid
    // gets a rotated or reversed copy of every 13th triangle a little later (vertex chunks).
    std::mt19937 random(4);
    std::uniform_int_distribution<std::uint32_t> vertex(0, 60);
    TriangleMesh crowded;
    crowded.vertices.resize(61);
    for (int i = 0; i < 3 * 150000; ++i)
        crowded.indices.push_back(vertex(random));
    TriangleMesh grid = test::MakeWavyGrid(300, 400);
    std::vector<std::uint32_t> withCopies;
    for (std::size_t t = 0; t < grid.TriangleCount(); ++t) {
        withCopies.insert(withCopies.end(), grid.indices.begin() + 3 * t, grid.indices.begin() + 3 * t + 3);
        if (t % 13 == 5) {
            const std::uint32_t* c = &grid.indices[3 * (t - 5)];
            withCopies.insert(withCopies.end(), {c[2], c[1], c[0]});
        }
    }
    grid.indices = withCopies;
    for (TriangleMesh mesh : {crowded, grid}) {
        std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> seen;
        std::vector<std::uint32_t> expected;
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            std::uint32_t c[3] = {mesh.indices[3 * t], mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]};
            std::sort(c, c + 3);
            if (seen.insert({c[0], c[1], c[2]}).second)
                expected.insert(expected.end(), mesh.indices.begin() + 3 * t, mesh.indices.begin() + 3 * t + 3);
        }
        ASSERT_LT(seen.size(), mesh.TriangleCount());
        EXPECT_EQ(CountDuplicateTriangles(mesh), mesh.TriangleCount() - seen.size());
        RemoveDuplicateTriangles(mesh);
        EXPECT_EQ(mesh.indices, expected);
    }
}

}  // namespace
}  // namespace grainforge::mesh
