#include "engine/mesh/triangle_contact.h"

#include <gtest/gtest.h>

#include <cstdint>
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
        {1, -2, 0}, {-2, 1, 0}, {1, 1, 0}, {4, 4, 0}, {5, 5, 5}, {6, 5, 5}, {5, 6, 5}};
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

}  // namespace
}  // namespace grainforge::mesh
