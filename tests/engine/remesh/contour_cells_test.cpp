#include "engine/remesh/contour_cells.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using Components = std::array<std::uint8_t, 12>;

Point3d P(double x, double y, double z) { return Point3d{{x, y, z}}; }

// A cell vertex problem in the unit cell, searched and clamped there.
CellVertexProblem Problem(const std::vector<Point3d>& points, const std::vector<Point3d>& normals,
    const std::vector<std::uint8_t>& use, double sharpness)
{
    return CellVertexProblem{points.data(), normals.data(), use.data(), static_cast<int>(points.size()), sharpness,
        P(0, 0, 0), P(1, 1, 1), P(0, 0, 0), P(1, 1, 1)};
}

TEST(ComputeCellCase, CasesOfTheTable)
{
    constexpr std::uint8_t N = kNoComponent;
    const std::tuple<const char*, std::uint8_t, std::uint8_t, int, Components> cases[] = {
        // One inside corner: its three edges form one piece.
        {"corner 0", 0x01, 0, 1, {0, N, N, N, 0, N, N, N, 0, N, N, N}},
        // Corners 0 and 3 are diagonal on face 4: kept apart by default...
        {"corners 0 and 3", 0x09, 0, 2, {0, 1, N, N, 0, N, 1, N, 0, N, N, 1}},
        // ...and joined across the face when its flip bit is set.
        {"corners 0 and 3 flipped", 0x09, 1 << 4, 1, {0, 0, N, N, 0, N, 0, N, 0, N, N, 0}},
        // Corners 0 and 7 are diagonal through the cell: two pieces.
        {"corners 0 and 7", 0x81, 0, 2, {0, N, N, 1, 0, N, N, 1, 0, N, N, 1}},
        // Corners 0, 3, 5, 6: the four-piece case.
        {"mask 105", 105, 0, 4, {0, 1, 2, 3, 0, 3, 1, 2, 0, 2, 3, 1}},
    };
    for (const auto& [what, mask, flips, count, expected] : cases) {
        Components components{};
        EXPECT_EQ(ComputeCellCase(mask, flips, components, nullptr), count) << what;
        EXPECT_EQ(components, expected) << what;
    }
}

TEST(CellCaseTable, WholeTableFacts)
{
    const auto& table = CellCaseTable();
    int joinedMasks = 0;
    int largest = 0;
    for (int mask = 0; mask < 256; ++mask) {
        const CellCase& entry = table[mask];
        joinedMasks += entry.joinedFaces != 0 ? 1 : 0;
        largest = std::max(largest, int{entry.componentCount});
        Components direct{};
        std::uint8_t joined = 0;
        EXPECT_EQ(ComputeCellCase(static_cast<std::uint8_t>(mask), 0, direct, &joined),
            entry.componentCount);
        EXPECT_EQ(direct, entry.edgeComponent);
        EXPECT_EQ(joined, entry.joinedFaces);
        // Pieces are numbered by their smallest edge: walking the edges meets the numbers in
        // order, and the piece of edge 0 is number 0 whenever edge 0 changes sign.
        int nextNumber = 0;
        for (std::uint8_t c : entry.edgeComponent) {
            if (c == kNoComponent)
                continue;
            EXPECT_LE(c, nextNumber) << mask;
            if (c == nextNumber)
                ++nextNumber;
        }
        EXPECT_EQ(nextNumber, entry.componentCount) << mask;
        // The complement has the same sign-changing edges.
        for (int e = 0; e < 12; ++e)
            EXPECT_EQ(entry.edgeComponent[e] == kNoComponent,
                table[255 - mask].edgeComponent[e] == kNoComponent);
    }
    EXPECT_EQ(table[0].componentCount, 0);
    EXPECT_EQ(table[255].componentCount, 0);
    EXPECT_EQ(largest, 4);
    EXPECT_EQ(joinedMasks, 36);
}

TEST(CellCaseTable, AmbiguousFaceJoinedThroughOtherFacesIsMarked)
{
    // Outside corners 0 and 3 (diagonal on face 4); everything else inside. The inside
    // corners 1 and 2 are separated on face 4, yet joined round the cell through the top.
    const std::uint8_t mask = static_cast<std::uint8_t>(~0x09);
    EXPECT_NE(CellCaseTable()[mask].joinedFaces & (1 << 4), 0);
    EXPECT_EQ(CellCaseTable()[mask].componentCount, 1);
}

TEST(SolveCellVertex, KnownVertices)
{
    const std::vector<Point3d> planes = {P(0.3, 0.1, 0.2), P(0.9, 0.6, 0.0), P(0.0, 1.0, 0.8)};
    const std::vector<Point3d> spread = {P(0.2, 0.0, 0.4), P(0.6, 1.0, 0.0), P(1.0, 0.5, 0.8)};
    const std::vector<Point3d> axes = {P(1, 0, 0), P(0, 1, 0), P(0, 0, 1)};
    const std::vector<Point3d> one = {P(0.25, 0.5, 0.75)};
    const std::vector<Point3d> slanted = {P(0.6, 0.0, 0.8)};
    const std::vector<std::uint8_t> used = {1, 1, 1}, unused = {0, 0, 0};
    struct Case {
        const char* name;
        const std::vector<Point3d>& points;
        const std::vector<Point3d>& normals;
        const std::vector<std::uint8_t>& use;
        double sharpness;
        Point3d clampHigh, expected;
    };
    const Case cases[] = {
        {"three planes meet at their corner", planes, axes, used, 1.0, P(1, 1, 1), P(0.3, 0.6, 0.8)},
        {"sharpness 0: the mass point", spread, axes, used, 0.0, P(1, 1, 1), P(0.6, 0.5, 0.4)},
        {"no normals: the mass point", spread, axes, unused, 1.0, P(1, 1, 1), P(0.6, 0.5, 0.4)},
        {"the mass point clamped", spread, axes, unused, 1.0, P(0.5, 1.0, 0.25), P(0.5, 0.5, 0.25)},
        {"one flagged point stays", one, slanted, used, 1.0, P(1, 1, 1), P(0.25, 0.5, 0.75)},
    };
    for (const Case& c : cases) {
        CellVertexProblem problem = Problem(c.points, c.normals, c.use, c.sharpness);
        problem.clampHigh = c.clampHigh;
        const Point3d v = SolveCellVertex(problem);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(v.x[k], c.expected.x[k], 1e-12) << c.name << ", coordinate " << k;
    }

    // Two nearly parallel planes meet far outside the cell; the vertex must stay in the box.
    const std::vector<Point3d> apart = {P(0.5, 0.0, 0.5), P(0.5, 1.0, 0.5)};
    const std::vector<Point3d> nearlyParallel = {P(0.0, 0.05, 0.99875), P(0.0, -0.05, 0.99875)};
    CellVertexProblem problem = Problem(apart, nearlyParallel, used, 10.0);
    problem.clampLow = P(-1, -1, -1);
    problem.clampHigh = P(2, 2, 2);
    const Point3d v = SolveCellVertex(problem);
    for (int k = 0; k < 3; ++k) {
        EXPECT_GE(v.x[k], -1e-9);
        EXPECT_LE(v.x[k], 1.0 + 1e-9);
    }
}

// The step is the float spacing at the coordinate itself, and a vertex four steps inside a
// face, written in float, stays off it; the margin is the same at any place with the same step.
TEST(CellVertexMargin, FollowsTheFloatStepWhereTheCellLies)
{
    const struct {
        double at;
        double step;
    } steps[] = {{1.0, 0x1p-23}, {-1.5, 0x1p-23}, {1000.0, 0x1p-14}, {1100.0, 0x1p-13}, {0.0, 0x1p-149},
        {1e39, 0x1p104}, {std::nan(""), 0x1p-149}};
    for (const auto& c : steps)
        EXPECT_EQ(FloatStepAt(c.at), c.step) << c.at;
    const struct {
        double low, cell, margin;
    } margins[] = {{0.0, 0.3, 1.0 / 1024.0}, {50.0, 0.3, 1.0 / 1024.0}, {-50.3, 0.3, 1.0 / 1024.0},
        {1100.0, 0.3, 4.0 * 0x1p-13 / 0.3}, {1e5, 0.3, 0.0625}, {1.0, 0.0, 0.0625}, {1.0, std::nan(""), 0.0625}};
    for (const auto& c : margins) {
        const double margin = CellVertexMargin(c.low, c.low + c.cell, c.cell);
        EXPECT_DOUBLE_EQ(margin, c.margin) << c.low << " " << c.cell;
        if (!(c.cell > 0.0) || margin == 0.0625)
            continue;
        for (const double face : {c.low, c.low + c.cell}) {
            const double inside = face == c.low ? c.low + margin * c.cell : face - margin * c.cell;
            EXPECT_NE(static_cast<double>(static_cast<float>(inside)), static_cast<double>(static_cast<float>(face)))
                << c.low;
        }
    }
}

TEST(SplitQuad, ChoosesTheDiagonal)
{
    // Planar convex square in the xy plane round a z edge: q0-q2 without the height fit.
    const Point3d square[4] = {P(1, 1, 0), P(0, 1, 0), P(0, 0, 0), P(1, 0, 0)};
    EXPECT_FALSE(SplitQuad(square, 2, 1, false, 0, 0, 0, 1));
    // Corner q3 pushed inside the triangle q0 q1 q2: only the q1-q3 diagonal gives two
    // triangles of positive area.
    const Point3d dart[4] = {P(1, 1, 0), P(-1, 1, 0), P(-1, -1, 0), P(-0.5, 0.3, 0)};
    EXPECT_TRUE(SplitQuad(dart, 2, 1, false, 0, 0, 0, 1));
    // A saddle: corners q1 and q3 raised. The crossing at the centre lies at height 0.5: the
    // q1-q3 diagonal passes through it, q0-q2 does not.
    const Point3d saddle[4] = {P(1, 1, 0), P(0, 1, 1), P(0, 0, 0), P(1, 0, 1)};
    EXPECT_TRUE(SplitQuad(saddle, 2, 1, true, 0.5, 0.5, 1.0, 1));
    EXPECT_FALSE(SplitQuad(saddle, 2, 1, true, 0.5, 0.5, 0.0, 1));
    // Corners q0, q1, q2 on one straight crease (q1 a ten-millionth off it): both splits are
    // valid and fit the flat crossing alike, but q0-q2 would make a triangle of no width there.
    const Point3d rim[4] = {P(1, 0, 0), P(0.5, 1e-7, 0), P(0, 0, 0), P(0.5, -1, 0)};
    EXPECT_TRUE(SplitQuad(rim, 2, 1, true, 0.5, 0.0, 0.0, 1));
    EXPECT_TRUE(SplitQuad(rim, 2, 1, false, 0, 0, 0, 1));
}

TEST(QuadHeightAt, InterpolatesOverTheProjectedTriangle)
{
    const Point3d quad[4] = {P(0, 0, 1), P(1, 0, 2), P(0, 1, 3), P(0, 0, 0)};
    double weight = 0.0;
    EXPECT_NEAR(QuadHeightAt(quad, 0, 1, 2, 0.25, 0.25, 2, &weight), 1.0 + 0.25 + 0.5, 1e-15);
    EXPECT_NEAR(weight, 0.25, 1e-15);
    const Point3d flat[4] = {P(0, 0, 1), P(1, 1, 2), P(2, 2, 3), P(0, 0, 0)};
    EXPECT_EQ(QuadHeightAt(flat, 0, 1, 2, 0.5, 0.5, 2, &weight), 0.0);
    EXPECT_EQ(weight, -1.0);
}

}  // namespace
}  // namespace grainforge::mesh

namespace grainforge::mesh {
namespace {

TEST(FlipsForJoinedFaces, FlipsAFaceOnlyWhenTheNeighbourJoinsItToo)
{
    // For every joined face f of every mask, against every neighbour mask: the bit is set
    // exactly when the neighbour joins the face from its side (its face f ^ 1).
    const auto& table = CellCaseTable();
    int asked = 0;
    for (int mask = 0; mask < 256; ++mask) {
        const std::uint8_t joined = table[mask].joinedFaces;
        for (int f = 0; f < 6; ++f) {
            if (((joined >> f) & 1) == 0)
                continue;
            const auto with = [&](int neighbour) {
                return FlipsForJoinedFaces(static_cast<std::uint8_t>(mask), [&](int face) {
                    ++asked;
                    return face == f ? neighbour : -1;
                });
            };
            EXPECT_EQ(with(-1), 0) << mask;
            for (int other = 0; other < 256; ++other) {
                const bool joinsOpposite = ((table[other].joinedFaces >> (f ^ 1)) & 1) != 0;
                EXPECT_EQ((with(other) >> f) & 1, joinsOpposite ? 1 : 0) << mask << " " << other;
            }
        }
    }
    EXPECT_GT(asked, 0);
}

}  // namespace
}  // namespace grainforge::mesh
