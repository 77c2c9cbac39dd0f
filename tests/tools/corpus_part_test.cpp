// The measures the corpus runners judge Repair and the check by, on parts whose answer is known.
#include "tools/corpus_part/corpus_part.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::tools {
namespace {

using mesh::TriangleMesh;
using mesh::Vec3;

TriangleMesh Box(Vec3 low, Vec3 high) { return test::MakeBox(low, high); }

// The box with its corner at `high` moved by `by`.
TriangleMesh WithCornerMoved(TriangleMesh box, Vec3 high, Vec3 by)
{
    for (mesh::MeshVertex& v : box.vertices)
        if (v.position.x == high.x && v.position.y == high.y && v.position.z == high.z)
            v.position += by;
    return box;
}

TEST(LargestCornerMove, IsTheFarthestCornerFromAnyCornerOfTheInput)
{
    const TriangleMesh box = Box({0, 0, 0}, {10, 10, 10});
    const TriangleMesh sphere = mesh::MakeTestSphere(15.0f);
    const Vec3 pushed = sphere.vertices[sphere.indices[300]].position;
    TriangleMesh withUnusedVertex = box;
    withUnusedVertex.vertices.push_back({{500, 0, 0}, {}});
    struct Case {
        const char* name;
        TriangleMesh before;
        TriangleMesh after;
        double move;
    };
    const std::vector<Case> cases = {
        {"the same part", box, box, 0.0},
        {"one corner moved by 3, 4, 0", box, WithCornerMoved(box, {10, 10, 10}, {3, 4, 0}), 5.0},
        // Split into two bodies, or with the triangles in another order: nothing moved.
        {"corners renumbered", box, test::Combined(TriangleMesh{}, box), 0.0},
        {"a body taken away", test::Combined(box, Box({20, 0, 0}, {21, 1, 1})), box, 0.0},
        {"an unused vertex is no corner", box, withUnusedVertex, 0.0},
        // Its far corner (21, 1, 1) lies 11, 1, 1 from the part's corner (10, 0, 0).
        {"a new body beside the part", box, test::Combined(box, Box({20, 0, 0}, {21, 1, 1})), std::sqrt(123.0)},
        // Far out, a float's step is 0.0625: the move is still read whole.
        {"far out", test::Translated(box, {1e6f, 0, 0}),
            WithCornerMoved(test::Translated(box, {1e6f, 0, 0}), {1e6f + 10, 10, 10}, {0.5f, 0, 0}), 0.5},
        // Thousands of corners, so that the search runs down its tree.
        {"a corner of a fine sphere moved by 0.01", sphere, WithCornerMoved(sphere, pushed, {0.01f, 0, 0}), 0.01},
        {"nothing before", TriangleMesh{}, box, -1.0},
        {"nothing after", box, TriangleMesh{}, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(LargestCornerMove(c.before, c.after), c.move, 1e-5) << c.name;
}

TEST(CountEdgeFaults, NamesEachEdgeByItsUsesAndEachVertexByItsFans)
{
    const TriangleMesh box = Box({0, 0, 0}, {10, 10, 10});
    TriangleMesh opened = box, turned = box, doubled = box;
    opened.indices.resize(opened.indices.size() - 3);
    std::swap(turned.indices[1], turned.indices[2]);
    doubled.indices.insert(doubled.indices.end(), box.indices.begin(), box.indices.begin() + 3);
    struct Case {
        const char* name;
        TriangleMesh mesh;
        EdgeFaults faults;
    };
    const std::vector<Case> cases = {
        {"a closed box", box, {}},
        {"a triangle taken away", opened, {3, 0, 0, 0}},
        {"a triangle turned", turned, {0, 0, 3, 0}},
        // Its three edges each used by three triangles.
        {"a triangle written twice", doubled, {0, 3, 0, 0}},
        {"cubes sharing an edge", test::MakeWeldedCubePair({10, 10, 0}), {0, 1, 0, 0}},
        {"cubes sharing a corner", test::MakeWeldedCubePair({10, 10, 10}), {0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        const EdgeFaults got = CountEdgeFaults(c.mesh);
        EXPECT_EQ(got.open, c.faults.open) << c.name;
        EXPECT_EQ(got.nonManifold, c.faults.nonManifold) << c.name;
        EXPECT_EQ(got.windingConflicts, c.faults.windingConflicts) << c.name;
        EXPECT_EQ(got.pinchedVertices, c.faults.pinchedVertices) << c.name;
    }
}

TEST(CountBodiesGone, CountsOnlyBodiesOfWhichNoCornerIsLeft)
{
    const TriangleMesh big = Box({0, 0, 0}, {10, 10, 10});
    const TriangleMesh crumb = Box({20, 0, 0}, {20.5f, 0.5f, 0.5f});
    const TriangleMesh both = test::Combined(big, crumb);
    struct Case {
        const char* name;
        TriangleMesh before;
        TriangleMesh after;
        std::uint64_t gone;
    };
    const std::vector<Case> cases = {
        {"nothing changed", both, both, 0},
        {"the crumb removed", both, big, 1},
        {"the crumb moved away", both, test::Combined(big, test::Translated(crumb, {0, 5, 0})), 1},
        // A corner moved by more than a ten-thousandth of the size: the body is still there.
        {"a corner of each moved", both, WithCornerMoved(WithCornerMoved(both, {10, 10, 10}, {1, 0, 0}), {20.5f, 0.5f, 0.5f}, {0.1f, 0, 0}), 0},
        // Two pieces written apart that share corner positions are one body, kept by either.
        {"boxes sharing an edge, one kept", test::Combined(big, Box({10, 10, 0}, {20, 20, 10})), big, 0},
        {"everything removed", both, TriangleMesh{}, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CountBodiesGone(c.before, c.after), c.gone) << c.name;
}

}  // namespace
}  // namespace grainforge::tools
