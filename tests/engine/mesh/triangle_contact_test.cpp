#include "engine/mesh/triangle_contact.h"

#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace grainforge::mesh {
namespace {

ContactTriangle TriangleOf(const std::vector<Point3>& points, std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    ContactTriangle t;
    t.index = {a, b, c};
    t.point = {points[a], points[b], points[c]};
    PrepareContact(t);
    return t;
}

// Small pairs whose answer is known, both ways round, also a million millimetres out where the
// plane tests must not lose the sign to rounding.
TEST(TriangleContact, MeetsOnlyBeyondSharedVertices)
{
    const std::vector<Point3> near = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, -1}, {1, 1, 1}, {3, 3, 1},
        {1, -2, 0}, {-2, 1, 0}, {1, 1, 0}, {4, 4, 0}, {5, 5, 5}, {6, 5, 5}, {5, 6, 5}, {6, 0, 0}, {5, -2, 0}, {4, 0, 1}};
    const struct {
        const char* name;
        std::array<std::uint32_t, 3> a;
        std::array<std::uint32_t, 3> b;
        bool meet;
    } cases[] = {
        {"one pierces the other", {0, 1, 2}, {3, 4, 5}, true},
        {"far apart", {0, 1, 2}, {10, 11, 12}, false},
        {"coplanar, overlapping, no shared vertex", {0, 1, 2}, {8, 6, 7}, true},
        {"coplanar, sharing a vertex, overlapping", {0, 1, 2}, {0, 8, 6}, true},
        {"coplanar, sharing a vertex, apart", {0, 1, 2}, {0, 6, 7}, false},
        {"sharing an edge, folded onto one side", {0, 1, 2}, {1, 0, 8}, true},
        {"sharing an edge, opening flat", {0, 1, 2}, {1, 0, 6}, false},
        {"sharing an edge, bent", {0, 1, 2}, {1, 0, 3}, false},
        {"the same triangle twice", {0, 1, 2}, {2, 1, 0}, true},
        {"sharing a vertex, crossing beyond it", {0, 1, 2}, {0, 3, 5}, true},
        {"sharing a vertex, touching only there", {0, 1, 2}, {0, 6, 3}, false},
        // Seen from above these touch at a corner, which that view cannot settle.
        {"seen from above touching at a corner, one rising over it", {0, 1, 2}, {15, 13, 14}, false},
    };
    for (const Point3 offset : {Point3{0, 0, 0}, Point3{1.0e6, -1.0e6, 1.0e6}}) {
        std::vector<Point3> points = near;
        for (Point3& p : points)
            p = {p[0] + offset[0], p[1] + offset[1], p[2] + offset[2]};
        for (const auto& c : cases) {
            const ContactTriangle a = TriangleOf(points, c.a[0], c.a[1], c.a[2]);
            const ContactTriangle b = TriangleOf(points, c.b[0], c.b[1], c.b[2]);
            EXPECT_EQ(TrianglesMeetBeyondSharedVertices(a, b), c.meet) << c.name << " at " << offset[0];
            EXPECT_EQ(TrianglesMeetBeyondSharedVertices(b, a), c.meet) << c.name << ", swapped, at " << offset[0];
        }
    }
    EXPECT_TRUE(PointsCollinear({1e6, 1e6, 0}, {1e6 + 0.0625, 1e6, 0}, {1e6 + 0.125, 1e6, 0}));
    EXPECT_FALSE(PointsCollinear({1e6, 1e6, 0}, {1e6 + 0.0625, 1e6, 0}, {1e6 + 0.125, 1e6 + 0.0625, 0}));
}

// Small meshes whose answer is known. Each flag list marks the changed triangles; an empty
// one marks them all. The coplanar cases are ones the self-intersection search lets pass.
TEST(ChangedTrianglesMeetingOrFlat, FindsWhatAChangedTriangleMeets)
{
    const std::vector<Vec3> points = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, -1}, {1, 1, 1}, {3, 3, 1},
        {1, -2, 0}, {-2, 1, 0}, {1, 1, 0}, {10, 10, 10}, {11, 10, 10}, {12, 10, 10}};
    const struct {
        const char* name;
        std::vector<std::uint32_t> indices;
        std::vector<std::uint8_t> changed;
        std::vector<std::uint32_t> found;
    } cases[] = {
        {"one pierces the other", {0, 1, 2, 3, 4, 5}, {}, {0, 1}},
        {"one pierces the other, first changed", {0, 1, 2, 3, 4, 5}, {1, 0}, {0, 1}},
        {"one pierces the other, second changed", {0, 1, 2, 3, 4, 5}, {0, 1}, {0, 1}},
        {"one pierces the other, neither changed", {0, 1, 2, 3, 4, 5}, {0, 0}, {}},
        {"coplanar overlap, no shared vertex", {0, 1, 2, 8, 6, 7}, {0, 1}, {0, 1}},
        {"coplanar overlap through a shared vertex", {0, 1, 2, 0, 8, 6}, {1, 0}, {0, 1}},
        {"coplanar, sharing a vertex, apart", {0, 1, 2, 0, 6, 7}, {}, {}},
        {"folded onto one side of an edge", {0, 1, 2, 1, 0, 8}, {0, 1}, {0, 1}},
        {"opening flat across an edge", {0, 1, 2, 1, 0, 6}, {}, {}},
        {"a changed triangle without area", {0, 1, 2, 9, 10, 11}, {0, 1}, {1}},
        {"an unchanged triangle without area", {0, 1, 2, 9, 10, 11}, {1, 0}, {}},
        {"a flat triangle lying across a changed one", {0, 1, 2, 3, 4, 8}, {1, 0}, {}},
        {"flags of another length count all as changed", {0, 1, 2, 3, 4, 5}, {0, 0, 0}, {0, 1}},
        {"an index past the vertices", {0, 1, 2, 3, 4, 40}, {}, {}},
        {"only the pair that meets, of three", {0, 1, 2, 3, 4, 5, 9, 10, 5}, {}, {0, 1}},
    };
    for (const auto& c : cases) {
        const TriangleMesh mesh = test::MeshOf(points, c.indices);
        EXPECT_EQ(ChangedTrianglesMeetingOrFlat(mesh, c.changed), c.found) << c.name;
    }
}

// Two rough spheres at distances from apart to overlapping, against the reference grid search
// (also a million millimetres out), with every triangle changed and with a random few.
TriangleMesh TwoSpheres(std::uint32_t seed, float apart)
{
    TriangleMesh mesh = test::MakeNoisySphere(seed, 10.0f, 0.3f, 16, 32);
    const TriangleMesh other = test::MakeNoisySphere(seed + 100, 10.0f, 0.3f, 16, 32);
    const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
    for (MeshVertex v : other.vertices) {
        v.position.x += apart;
        mesh.vertices.push_back(v);
    }
    for (const std::uint32_t i : other.indices)
        mesh.indices.push_back(base + i);
    return mesh;
}

TEST(ChangedTrianglesMeetingOrFlat, AgreesWithTheReferenceSearch)
{
    std::mt19937 random(11);
    int found = 0;
    int clean = 0;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        for (const float apart : {25.0f, 19.0f, 12.0f}) {
            TriangleMesh mesh = TwoSpheres(seed, apart);
            if (seed % 2 == 0)
                mesh = test::Translated(mesh, {1.0e6f, -1.0e6f, 0.0f});
            const auto pairs = test::FindMeetingPairsThroughGrid(mesh);
            const bool flat = test::CountTrianglesWithoutArea(mesh) != 0;
            EXPECT_EQ(!ChangedTrianglesMeetingOrFlat(mesh, {}).empty(), flat || !pairs.empty()) << seed << " " << apart;
            if (flat)
                continue;
            // A few changed are searched from each changed triangle through a tree of the whole
            // mesh, very few from every triangle through a tree of the changed ones.
            for (const unsigned every : {8u, 64u}) {
                std::vector<std::uint8_t> changed(mesh.TriangleCount(), 0);
                for (std::uint8_t& f : changed)
                    f = random() % every == 0 ? 1 : 0;
                // One triangle of a meeting pair changed, so that the sparse search has one to find.
                if (every == 64u && !pairs.empty())
                    changed[pairs[seed % pairs.size()].first] = 1;
                std::vector<std::uint32_t> expected;
                for (const auto& [a, b] : pairs)
                    if (changed[a] != 0 || changed[b] != 0)
                        expected.insert(expected.end(), {static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b)});
                std::sort(expected.begin(), expected.end());
                expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
                EXPECT_EQ(ChangedTrianglesMeetingOrFlat(mesh, changed), expected) << seed << " " << apart << ", 1 in " << every;
                (expected.empty() ? clean : found) += 1;
            }
        }
    }
    EXPECT_GT(found, 0);
    EXPECT_GT(clean, 0);
}

// Corners on a coarse lattice, so that most pairs touch each other's plane, share a line of it,
// lie in one plane or stand in columns one above another, as on the flat walls beside a relief
// where the test takes its shortcuts: every answer must be the reference's, for pairs sharing
// no corner, one or two, also a million millimetres out.
TEST(TriangleContact, TouchingPlanesAgreeWithTheReference)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> lattice(0, 3);
    std::uniform_int_distribution<int> sharing(0, 2);
    int meeting = 0;
    int apart = 0;
    for (const float offset : {0.0f, 1.0e6f}) {
        for (int trial = 0; trial < 20000; ++trial) {
            std::vector<Vec3> corners(6);
            for (Vec3& p : corners)
                p = {offset + 0.5f * static_cast<float>(lattice(random)), offset + 0.5f * static_cast<float>(lattice(random)),
                     0.5f * static_cast<float>(lattice(random))};
            // The second triangle takes the first's first `shared` corners, in turned order.
            const int shared = sharing(random);
            std::vector<std::uint32_t> indices = {0, 1, 2, 3, 4, 5};
            if (shared >= 1)
                indices[4] = 0;
            if (shared == 2)
                indices[3] = 1;
            const TriangleMesh mesh = test::MeshOf(corners, indices);
            if (test::CountTrianglesWithoutArea(mesh) != 0)
                continue;
            std::vector<Point3> points;
            for (const Vec3& p : corners)
                points.push_back({p.x, p.y, p.z});
            const ContactTriangle a = TriangleOf(points, indices[0], indices[1], indices[2]);
            const ContactTriangle b = TriangleOf(points, indices[3], indices[4], indices[5]);
            const bool expected = !test::FindPairsByBruteForce(mesh, test::PairRule::meeting).empty();
            ASSERT_EQ(TrianglesMeetBeyondSharedVertices(a, b), expected) << "trial " << trial << " at " << offset;
            ASSERT_EQ(TrianglesMeetBeyondSharedVertices(b, a), expected) << "trial " << trial << ", swapped, at " << offset;
            (expected ? meeting : apart) += 1;
        }
    }
    EXPECT_GT(std::min(meeting, apart), 2000);
}

}  // namespace
}  // namespace grainforge::mesh
