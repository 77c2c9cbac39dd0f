#include "engine/mesh/exact_predicates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace grainforge::mesh {
namespace {

// Exact sign for coordinates that are multiples of 2^-10 below 2^13 in magnitude: scaled to
// integers of at most 24 bits, the determinant fits in 128 bits.
int ReferenceOrientation(const Point3& a, const Point3& b, const Point3& c, const Point3& d)
{
    auto scaled = [](double v) { return static_cast<__int128>(std::ldexp(v, 10)); };
    __int128 B[3], C[3], D[3];
    for (int i = 0; i < 3; ++i) {
        B[i] = scaled(b[i]) - scaled(a[i]);
        C[i] = scaled(c[i]) - scaled(a[i]);
        D[i] = scaled(d[i]) - scaled(a[i]);
    }
    const __int128 det = B[0] * (C[1] * D[2] - C[2] * D[1]) - B[1] * (C[0] * D[2] - C[2] * D[0])
        + B[2] * (C[0] * D[1] - C[1] * D[0]);
    return det > 0 ? 1 : (det < 0 ? -1 : 0);
}

Point3 ToPoint(Vec3 v) { return {v.x, v.y, v.z}; }

// Points a tiny step off a plane: the filter cannot decide and the exact sign must match an
// integer reference.
TEST(Orient3d, MatchesAnExactReferenceNearDegenerateConfigurations)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> grid(-(1 << 22), 1 << 22);
    std::uniform_int_distribution<int> nudge(-2, 2);
    auto coordinate = [&] { return grid(random) / 1024.0; };
    for (int trial = 0; trial < 50000; ++trial) {
        const Point3 a{coordinate(), coordinate(), coordinate()};
        const Point3 b{coordinate(), coordinate(), coordinate()};
        const Point3 c{coordinate(), coordinate(), coordinate()};
        // d on the line through a and b (exactly, where the midpoint is representable), nudged.
        Point3 d{(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
        for (double& v : d)
            v = std::round(std::ldexp(v, 10)) / 1024.0 + nudge(random) / 1024.0;
        const int expected = ReferenceOrientation(a, b, c, d);
        ASSERT_EQ(Orient3d(a, b, c, d), expected) << "trial " << trial;
        ASSERT_EQ(Orient3dExact(a, b, c, d), expected) << "trial " << trial;
    }
}

// Points that share coordinates: in a plane of an axis, in columns one above another, or
// coinciding, where Orient3d reads the zero off the coordinates; beside them points that share
// some coordinates yet lie off every such plane by a determinant of 1 against terms of 2^53,
// which the floating-point filter cannot decide either. In every order of the four points.
TEST(Orient3d, ReadsZerosOffSharedCoordinatesAndNothingElse)
{
    const double big = std::ldexp(1.0, 51);
    const struct {
        const char* name;
        std::array<Point3, 4> points;
        bool coplanar;
    } cases[] = {
        {"plane of an axis", {{{1, 2, 5}, {1e6, 3, 5}, {7, 1e6, 5}, {std::ldexp(1.0, 40), 1, 5}}}, true},
        {"two columns", {{{0, 0, 0}, {0, 0, 1}, {1, big, 0}, {1, big, 7}}}, true},
        {"three in a column", {{{0, 0, 0}, {0, 0, 1}, {0, 0, 3}, {1, big, 0}}}, true},
        {"two coinciding", {{{1, 2, 3}, {1, 2, 3}, {5, 6, 7}, {9, 1, 2}}}, true},
        {"a column and two places nearly in line", {{{0, 0, 0}, {0, 0, 1}, {1, big, 0}, {2, 2 * big + 1, 5}}}, false},
        {"a shared x and two places nearly in line", {{{3, 0, 0}, {3, 0, 1}, {3, 1, big}, {3.5, 2, 2 * big + 1}}}, false},
        {"three places in a plane of no axis", {{{0, 0, 0}, {0, 0, 1}, {1, big, 0}, {2, 2 * big, 5}}}, true},
    };
    for (const auto& c : cases) {
        std::array<int, 4> order = {0, 1, 2, 3};
        do {
            const Point3& a = c.points[order[0]];
            const Point3& b = c.points[order[1]];
            const Point3& p = c.points[order[2]];
            const Point3& d = c.points[order[3]];
            const int sign = Orient3d(a, b, p, d);
            EXPECT_EQ(sign, Orient3dExact(a, b, p, d)) << c.name;
            EXPECT_EQ(sign == 0, c.coplanar) << c.name;
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

TEST(SegmentCrossesTriangle, CountsInteriorEdgeCornerAndEndpointContacts)
{
    const Point3 a{0, 0, 0}, b{4, 0, 0}, c{0, 4, 0};
    const struct { const char* name; Point3 p, q; bool expected; } cases[] = {
        {"through the interior", {1, 1, -1}, {1, 1, 1}, true},
        {"through an edge", {2, 0, -1}, {2, 0, 1}, true},
        {"through a corner", {0, 0, -1}, {0, 0, 1}, true},
        {"ending on the face", {1, 1, 0}, {1, 1, 3}, true},
        {"beside the triangle", {3, 3, -1}, {3, 3, 1}, false},
        {"both ends on one side", {1, 1, 1}, {1, 1, 3}, false},
        {"lying in the plane across it", {-1, 1, 0}, {5, 1, 0}, false},
    };
    for (const auto& test : cases)
        EXPECT_EQ(SegmentCrossesTriangle(test.p, test.q, a, b, c), test.expected) << test.name;
}

// The pair test as first principles state it: not coplanar, and some edge of either triangle
// meets the other. TrianglesIntersect skips work when one triangle lies strictly on one side
// of the other's plane; the answers must not change.
bool LiteralTrianglesIntersect(const std::array<Vec3, 3>& first, const std::array<Vec3, 3>& second)
{
    const Point3 a[3] = {ToPoint(first[0]), ToPoint(first[1]), ToPoint(first[2])};
    const Point3 b[3] = {ToPoint(second[0]), ToPoint(second[1]), ToPoint(second[2])};
    if (Orient3d(a[0], a[1], a[2], b[0]) == 0 && Orient3d(a[0], a[1], a[2], b[1]) == 0
        && Orient3d(a[0], a[1], a[2], b[2]) == 0)
        return false;
    for (int i = 0; i < 3; ++i)
        if (SegmentCrossesTriangle(a[i], a[(i + 1) % 3], b[0], b[1], b[2])
            || SegmentCrossesTriangle(b[i], b[(i + 1) % 3], a[0], a[1], a[2]))
            return true;
    return false;
}

TEST(TrianglesIntersect, AgreesWithTheEdgeByEdgeTestOnDegenerateRichPairs)
{
    // Corners on a coarse grid: touching, coplanar, collinear and repeated corners are common.
    std::mt19937 random(17);
    std::uniform_int_distribution<int> grid(0, 3);
    auto corner = [&] { return Vec3{static_cast<float>(grid(random)), static_cast<float>(grid(random)),
                            static_cast<float>(grid(random))}; };
    int yes = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        const std::array<Vec3, 3> first{corner(), corner(), corner()};
        const std::array<Vec3, 3> second{corner(), corner(), corner()};
        const bool expected = LiteralTrianglesIntersect(first, second);
        yes += expected ? 1 : 0;
        ASSERT_EQ(TrianglesIntersect(first, second), expected) << "trial " << trial;
    }
    EXPECT_GT(yes, 1000);
}

// The neighbour tests decide most pairs in floating point before their exact part: on corners
// of a coarse grid, where coplanar and collinear corners are common and the floating-point
// value is often exactly 0, both must give the exact part's answer.
TEST(NeighbourTriangleTests, AgreeWithTheirExactPartsOnDegenerateRichPairs)
{
    std::mt19937 random(23);
    std::uniform_int_distribution<int> grid(0, 3);
    auto corner = [&] { return Vec3{static_cast<float>(grid(random)), static_cast<float>(grid(random)),
                            static_cast<float>(grid(random))}; };
    int crossing = 0, folded = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        const Vec3 apex = corner(), a1 = corner(), a2 = corner(), b1 = corner(), b2 = corner();
        const bool cross = detail::CornerSharingTrianglesCrossExactly(apex, a1, a2, b1, b2);
        crossing += cross ? 1 : 0;
        ASSERT_EQ(CornerSharingTrianglesCross(apex, a1, a2, b1, b2), cross) << "trial " << trial;
        const bool fold = detail::EdgeSharingTrianglesOverlapExactly(apex, a1, a2, b1);
        folded += fold ? 1 : 0;
        ASSERT_EQ(EdgeSharingTrianglesOverlap(apex, a1, a2, b1), fold) << "trial " << trial;
    }
    EXPECT_GT(crossing, 1000);
    EXPECT_GT(folded, 1000);
}

}  // namespace
}  // namespace grainforge::mesh
