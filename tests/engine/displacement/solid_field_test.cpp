#include "engine/displacement/solid_field.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

struct Built {
    SolidField field;
    SolidFieldStats stats;
    bool ok = false;
};

// Builds the field of `mesh` with its own tree; `adjust` changes the input before the build.
Built BuildField(const TriangleMesh& mesh, std::vector<float> heights, double cell,
    FieldMeasure measure = FieldMeasure::labels, const std::function<void(SolidFieldInput&)>& adjust = {})
{
    AabbTree tree;
    tree.Build(mesh);
    SolidFieldInput input;
    input.mesh = &mesh;
    input.tree = &tree;
    input.heights = &heights;
    input.cell = cell;
    input.measure = measure;
    if (adjust)
        adjust(input);
    Built built;
    built.ok = BuildSolidField(input, built.field, built.stats, nullptr);
    return built;
}

std::vector<float> Heights(const TriangleMesh& mesh, float height)
{
    return std::vector<float>(mesh.vertices.size(), height);
}

Vec3 PointOf(const SolidField& field, std::int64_t x, std::int64_t y, std::int64_t z)
{
    return {static_cast<float>(field.originX + static_cast<double>(x) * field.cell),
        static_cast<float>(field.originY + static_cast<double>(y) * field.cell),
        static_cast<float>(field.originZ + static_cast<double>(z) * field.cell)};
}

// Winding number of a closed surface about p (1 inside, 0 outside), from the solid angle of
// every triangle: a sign that does not depend on the column crossings under test.
double WindingNumber(const TriangleMesh& mesh, Vec3 p)
{
    double total = 0.0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        Vec3d v[3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 q = mesh.vertices[mesh.indices[3 * t + k]].position;
            v[k] = {double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
        }
        auto dot = [](Vec3d a, Vec3d b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
        auto length = [&](Vec3d a) { return std::sqrt(dot(a, a)); };
        const Vec3d cross{v[1].y * v[2].z - v[1].z * v[2].y, v[1].z * v[2].x - v[1].x * v[2].z,
            v[1].x * v[2].y - v[1].y * v[2].x};
        const double below = length(v[0]) * length(v[1]) * length(v[2]) + dot(v[0], v[1]) * length(v[2])
            + dot(v[1], v[2]) * length(v[0]) + dot(v[2], v[0]) * length(v[1]);
        total += 2.0 * std::atan2(dot(v[0], cross), below);
    }
    return total / (4.0 * 3.14159265358979323846);
}

// Signed distance to the surface by looking at every triangle.
double SignedDistance(const TriangleMesh& mesh, Vec3 p)
{
    double best = std::numeric_limits<double>::infinity();
    const Vec3d q{p.x, p.y, p.z};
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        auto corner = [&](int k) {
            const Vec3 c = mesh.vertices[mesh.indices[3 * t + k]].position;
            return Vec3d{c.x, c.y, c.z};
        };
        const Vec3d c = ClosestPointOnTriangle(q, corner(0), corner(1), corner(2));
        best = std::min(best, (c.x - q.x) * (c.x - q.x) + (c.y - q.y) * (c.y - q.y) + (c.z - q.z) * (c.z - q.z));
    }
    return (WindingNumber(mesh, p) > 0.5 ? -1.0 : 1.0) * std::sqrt(best);
}

// Calls visit(x, y, z, slot) for every stored point inside the grid.
template <class Visit>
void ForEachStoredPoint(const SolidField& field, Visit&& visit)
{
    for (std::int64_t z = 0; z < field.pointsZ; ++z)
        for (std::int64_t y = 0; y < field.pointsY; ++y)
            for (std::int64_t x = 0; x < field.pointsX; ++x)
                if (const std::int64_t slot = field.PointSlot(x, y, z); slot >= 0)
                    visit(x, y, z, static_cast<std::size_t>(slot));
}

TEST(SolidField, TheWindingNumberTellsInsideFromOutside)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    EXPECT_NEAR(WindingNumber(cube, {0.0f, 0.0f, 0.0f}), 1.0, 1e-9);
    EXPECT_NEAR(WindingNumber(cube, {4.9f, -4.9f, 4.9f}), 1.0, 1e-9);
    EXPECT_NEAR(WindingNumber(cube, {5.1f, 0.0f, 0.0f}), 0.0, 1e-9);
    EXPECT_NEAR(SignedDistance(cube, {0.0f, 0.0f, 3.0f}), -2.0, 1e-6);
    EXPECT_NEAR(SignedDistance(cube, {8.0f, 9.0f, 0.0f}), 5.0, 1e-6);
}

TEST(SolidField, PointSlotValueAtAndGradientOnAHandMadeField)
{
    // Two blocks along x, the second stored; column (1, 0) crosses the surface at z = 0.5.
    SolidField field;
    field.cell = 0.5;
    field.farValue = 2.0f;
    field.pointsX = 12;
    field.pointsY = 1;
    field.pointsZ = 3;
    field.blocksX = 2;
    field.blocksY = 1;
    field.blocksZ = 1;
    field.blockIndex = {-1, 0};
    field.values.assign(512, 0.0f);
    field.values[1] = -0.25f;  // point (9, 0, 0)
    field.columnOffsets.assign(13, 0);
    for (std::size_t column = 2; column < 13; ++column)
        field.columnOffsets[column] = 1;
    field.columnCrossings = {0.5f};
    struct Case {
        std::int64_t x, y, z;
        std::int64_t slot;
        float value;
    };
    const Case cases[] = {
        {0, 0, 0, -1, 2.0f},    // no crossings
        {1, 0, 1, -1, 2.0f},    // z = 0.5 is on the crossing, not above it
        {1, 0, 2, -1, -2.0f},   // one crossing below
        {9, 0, 0, 1, -0.25f},   // stored
        {8, 0, 2, 128, 0.0f},   // stored, slot 0 x 512 + 2 x 64
        {12, 0, 0, -1, 2.0f},   // beyond the grid
        {-1, 0, 0, -1, 2.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(field.PointSlot(c.x, c.y, c.z), c.slot) << c.x << " " << c.z;
        EXPECT_EQ(field.ValueAt(c.x, c.y, c.z), c.value) << c.x << " " << c.z;
    }
    // Central on x, one-sided at the grid's end on z, 0 on y (one point).
    const std::array<double, 3> middle = field.Gradient(1, 0, 1);
    EXPECT_DOUBLE_EQ(middle[0], 0.0);
    EXPECT_DOUBLE_EQ(middle[1], 0.0);
    EXPECT_DOUBLE_EQ(middle[2], (-2.0 - 2.0) / 1.0);
    EXPECT_DOUBLE_EQ(field.Gradient(1, 0, 2)[2], (-2.0 - 2.0) / 0.5);
    EXPECT_DOUBLE_EQ(field.Gradient(8, 0, 0)[0], (-0.25 - 2.0) / 1.0);
}

TEST(SolidField, FarPointsReadTheFarValueSignedByTheirColumn)
{
    // A cube of 20 at 0.5 mm leaves its middle unstored: those points read -farValue, and every
    // point of a column that misses the cube reads +farValue.
    const TriangleMesh cube = MakeTestCube(20.0f);
    const Built built = BuildField(cube, Heights(cube, 0.0f), 0.5);
    ASSERT_TRUE(built.ok);
    const SolidField& field = built.field;
    std::uint64_t inner = 0;
    std::uint64_t emptyColumns = 0;
    for (std::int64_t y = 0; y < field.pointsY; ++y) {
        for (std::int64_t x = 0; x < field.pointsX; ++x) {
            const std::size_t column = static_cast<std::size_t>(y * field.pointsX + x);
            const bool empty = field.columnOffsets[column] == field.columnOffsets[column + 1];
            emptyColumns += empty ? 1 : 0;
            for (std::int64_t z = 0; z < field.pointsZ; ++z) {
                if (field.PointSlot(x, y, z) >= 0)
                    continue;
                const Vec3 p = PointOf(field, x, y, z);
                const bool inside = std::fabs(p.x) < 10.0f && std::fabs(p.y) < 10.0f && std::fabs(p.z) < 10.0f;
                ASSERT_FALSE(empty && inside);
                inner += inside ? 1 : 0;
                ASSERT_EQ(field.ValueAt(x, y, z), inside ? -field.farValue : field.farValue) << x << " " << y << " " << z;
            }
        }
    }
    EXPECT_GT(inner, 1000u);
    EXPECT_GT(emptyColumns, 100u);
    EXPECT_EQ(field.farValue, 1.0f);  // R = 0 + 2h
}

TEST(SolidField, OnlyColumnsThroughAHoleCrossAnOddNumberOfTimes)
{
    const TriangleMesh openBox = test::MakeOpenBox();  // the cube of 20 without its top
    struct Case {
        const char* name;
        TriangleMesh mesh;
        bool open;
    };
    const Case cases[] = {
        {"cube", MakeTestCube(20.0f), false},
        {"sphere", MakeTestSphere(8.0f), false},
        {"cylinder", MakeTestCylinder(6.0f, 10.0f), false},
        {"open box", openBox, true},
    };
    for (const Case& c : cases) {
        const Built built = BuildField(c.mesh, Heights(c.mesh, 0.5f), 0.4);
        ASSERT_TRUE(built.ok) << c.name;
        std::uint64_t expected = 0;
        if (c.open) {
            // Every column over the opening meets the bottom only.
            auto within = [](double v) { return v > -10.0 && v < 10.0; };
            std::uint64_t xs = 0, ys = 0;
            for (std::int64_t x = 0; x < built.field.pointsX; ++x)
                xs += within(built.field.originX + x * built.field.cell) ? 1 : 0;
            for (std::int64_t y = 0; y < built.field.pointsY; ++y)
                ys += within(built.field.originY + y * built.field.cell) ? 1 : 0;
            expected = xs * ys;
            EXPECT_EQ(expected, 50u * 50u);
        }
        EXPECT_EQ(built.stats.oddColumns, expected) << c.name;
    }
}

TEST(SolidField, PointsBelowTheFloorAreNeverNegative)
{
    // Heights of 1 push the sphere's bottom below the floor; the floor cuts it flat again.
    const TriangleMesh sphere = MakeTestSphere(5.0f);
    for (const float floor : {-5.0f, -4.0f}) {
        const Built built = BuildField(sphere, Heights(sphere, 1.0f), 0.25, FieldMeasure::labels,
            [&](SolidFieldInput& input) { input.floorZ = floor; });
        ASSERT_TRUE(built.ok);
        const SolidField& field = built.field;
        std::uint64_t below = 0;
        for (std::int64_t z = 0; z < field.pointsZ; ++z) {
            const double pz = field.originZ + z * field.cell;
            EXPECT_GT(std::fabs(pz - floor), 0.49 * field.cell);  // half-way between planes
            if (pz >= floor)
                continue;
            for (std::int64_t y = 0; y < field.pointsY; ++y)
                for (std::int64_t x = 0; x < field.pointsX; ++x) {
                    ++below;
                    ASSERT_GE(field.ValueAt(x, y, z), 0.0f) << floor << ": " << x << " " << y << " " << z;
                }
        }
        EXPECT_GT(below, 0u);
    }
}

TEST(SolidField, ValuesAreTheSignedDistanceMinusTheHeight)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    const TriangleMesh sphere = MakeTestSphere(5.0f);
    struct Case {
        const char* name;
        const TriangleMesh* mesh;
        float height;
        FieldMeasure measure;
        int sampleEvery;
    };
    const Case cases[] = {
        {"cube, labels", &cube, 0.0f, FieldMeasure::labels, 3},
        {"cube, direct", &cube, 0.0f, FieldMeasure::direct, 3},
        {"sphere, labels", &sphere, 0.0f, FieldMeasure::labels, 29},
        {"sphere, direct", &sphere, 0.0f, FieldMeasure::direct, 29},
        {"sphere raised", &sphere, 1.0f, FieldMeasure::labels, 29},
        {"cube lowered", &cube, -0.5f, FieldMeasure::direct, 3},
    };
    for (const Case& c : cases) {
        const Built built = BuildField(*c.mesh, Heights(*c.mesh, c.height), 0.5, c.measure);
        ASSERT_TRUE(built.ok) << c.name;
        const SolidField& field = built.field;
        const double reach = std::fabs(c.height) + 2.0 * field.cell;
        EXPECT_EQ(field.farValue, static_cast<float>(reach)) << c.name;
        std::uint64_t measured = 0;
        std::uint64_t index = 0;
        ForEachStoredPoint(field, [&](std::int64_t x, std::int64_t y, std::int64_t z, std::size_t slot) {
            if (c.height == 0.0f) {
                EXPECT_EQ(field.displaced[slot], 0);
            }
            if (index++ % c.sampleEvery != 0)
                return;
            const double expected = SignedDistance(*c.mesh, PointOf(field, x, y, z));
            const float value = field.values[slot];
            if (std::fabs(expected) < reach - 1e-3) {
                ++measured;
                EXPECT_EQ(field.displaced[slot], c.height != 0.0f ? 1 : 0);
                EXPECT_NEAR(value, expected - c.height, 1e-4) << c.name << ": " << x << " " << y << " " << z;
            } else if (std::fabs(expected) > reach + 1e-3) {
                EXPECT_EQ(value, std::copysign(field.farValue, expected)) << c.name << ": " << x << " " << y << " " << z;
            }
        });
        EXPECT_GT(measured, 100u) << c.name;
        EXPECT_EQ(built.stats.pointsDisplaced == 0, c.height == 0.0f) << c.name;
    }
}

// The plain faces' planes cut the relief beside them, but a point inside the part stays inside
// however far it lies past such a plane: two cubes pinched at an edge, the turned one plain; the
// plane of its bottom runs on through the first cube under its raised top, and points there turned outside made a hollow the
// contour could not close (refused as holes) or a surface that crossed the part's own.
TEST(SolidField, PlainFacesCutOnlyWhatLiesOutsideTheirPlanes)
{
    const struct {
        float degrees;
        FieldMeasure measure;
    } cases[] = {{20.0f, FieldMeasure::labels}, {20.0f, FieldMeasure::direct}, {35.0f, FieldMeasure::labels}};
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.degrees) + (c.measure == FieldMeasure::labels ? " labels" : " direct");
        const TriangleMesh pair = test::MakeCubesPinchedAtAnEdge(c.degrees);
        ASSERT_EQ(pair.vertices.size(), 14u) << name;  // welded along the shared edge
        std::vector<std::uint8_t> plain(pair.TriangleCount(), 0);
        std::fill(plain.begin() + 12, plain.end(), std::uint8_t{1});  // the turned box
        const float height = 0.3f;
        const Built built = BuildField(pair, Heights(pair, height), 0.25, c.measure,
            [&](SolidFieldInput& input) { input.plainFaces = &plain; });
        ASSERT_TRUE(built.ok) << name;
        const SolidField& field = built.field;
        std::uint64_t insidePastThePlane = 0;
        std::uint64_t turnedOutside = 0;
        const float sine = std::sin(c.degrees * 3.14159265f / 180.0f);
        const float cosine = std::cos(c.degrees * 3.14159265f / 180.0f);
        ForEachStoredPoint(field, [&](std::int64_t x, std::int64_t y, std::int64_t z, std::size_t slot) {
            const Vec3 p = PointOf(field, x, y, z);
            if (p.y < 0.5f || p.y > 9.5f || p.x > 10.0f)
                return;  // away from the box's ends and from the turned box
            // Signed distance past the plane of the turned box's bottom, through the edge.
            const float past = sine * (p.x - 10.0f) - cosine * (p.z - 10.0f);
            const float value = field.values[slot];
            const bool inside = p.x > 0.0f && p.z > 0.0f && p.z < 10.0f;
            if (inside && past > 0.05f && 10.0f - p.z < 0.5f) {
                ++insidePastThePlane;
                turnedOutside += value >= 0.0f ? 1 : 0;
            }
        });
        EXPECT_GT(insidePastThePlane, 50u) << name;
        EXPECT_EQ(turnedOutside, 0u) << name;
    }
}

TEST(SolidField, AStoredPointKeepsTheSignedFarValueUntilMeasured)
{
    // Direct mode leaves the sub-cubes away from the surface unmeasured: their points, and every
    // stored point farther than the reach, read what the column alone says.
    const TriangleMesh cube = MakeTestCube(20.0f);
    for (const FieldMeasure measure : {FieldMeasure::direct, FieldMeasure::labels}) {
        const Built built = BuildField(cube, Heights(cube, 0.3f), 0.5, measure);
        ASSERT_TRUE(built.ok);
        SolidField columnsOnly = built.field;
        columnsOnly.blockIndex.assign(columnsOnly.blockIndex.size(), -1);
        std::uint64_t far = 0;
        std::uint64_t inGrid = 0;
        ForEachStoredPoint(built.field, [&](std::int64_t x, std::int64_t y, std::int64_t z, std::size_t slot) {
            ++inGrid;
            const Vec3 p = PointOf(built.field, x, y, z);
            const float gap = std::min({10.0f - std::fabs(p.x), 10.0f - std::fabs(p.y), 10.0f - std::fabs(p.z)});
            if (std::fabs(gap) <= built.field.farValue + 1e-3f)
                return;  // measured, or near the reach
            ++far;
            EXPECT_EQ(built.field.values[slot], columnsOnly.ValueAt(x, y, z)) << x << " " << y << " " << z;
        });
        EXPECT_GT(far, 1000u);
        if (measure == FieldMeasure::direct)
            EXPECT_GT(built.stats.subCubesSkipped, 0u);
        else
            EXPECT_EQ(built.stats.pointsMeasured, inGrid);  // every stored point of the grid
    }
}

// Largest difference between two fields of the same blocks, over the stored points where the
// exact (direct) field is within `band` of the zero level, or over all of them.
double LargestDifference(const Built& labels, const Built& direct, double band)
{
    double largest = 0.0;
    ForEachStoredPoint(direct.field, [&](std::int64_t, std::int64_t, std::int64_t, std::size_t slot) {
        if (std::fabs(direct.field.values[slot]) < band)
            largest = std::max(largest, std::fabs(double(labels.field.values[slot]) - direct.field.values[slot]));
    });
    return largest;
}

TEST(SolidField, LabelAndDirectModesAgreeWhereTheContourReadsThem)
{
    // Label mode searches again near the displaced surface only; where every measured point is
    // that near (a relief of at most 2h) the two modes agree everywhere, and elsewhere within
    // 2h of the zero level, which is all the contour reads.
    const TriangleMesh sphere = MakeTestSphere(8.0f);
    const TriangleMesh small = MakeTestSphere(2.5f);
    const TriangleMesh bumpy = test::MakeBumpySphere(6.0f, 0.5f, 24, 48);
    std::vector<float> smooth;
    for (const MeshVertex& vertex : bumpy.vertices)
        smooth.push_back(0.4f + 0.4f * std::sin(vertex.position.x * 1.3f) * std::cos(vertex.position.z * 0.9f));
    struct Case {
        const char* name;
        const TriangleMesh* mesh;
        std::vector<float> heights;
        double cell;
        double band;  // in cells
    };
    const Case cases[] = {
        {"sphere, relief 2h", &sphere, Heights(sphere, 0.6f), 0.3, 1e9},
        {"bumpy part, varying relief", &bumpy, smooth, 0.25, 2.0},
        // A label moves one face neighbour per pass, so a point R away along a cube diagonal
        // is sqrt(3) R / h passes out. With only R / h + 2 passes a relief of 14 cells kept
        // the far value where the lifted surface lies in diagonal directions.
        {"relief of 14 cells, reached along diagonals", &small, Heights(small, 1.1f), 0.08, 2.0},
    };
    for (const Case& c : cases) {
        const Built labels = BuildField(*c.mesh, c.heights, c.cell, FieldMeasure::labels);
        const Built direct = BuildField(*c.mesh, c.heights, c.cell, FieldMeasure::direct);
        ASSERT_TRUE(labels.ok && direct.ok) << c.name;
        ASSERT_EQ(labels.field.blockIndex, direct.field.blockIndex) << c.name;
        EXPECT_LE(LargestDifference(labels, direct, c.band * c.cell), 1e-4) << c.name;
        EXPECT_GT(labels.stats.pointsRechecked, 0u) << c.name;
        EXPECT_GT(labels.stats.pointsDisplaced, 0u) << c.name;
    }
}

// A closed 10 mm cube whose top face holds a sliver: a triangle 10 mm long and 0.5 um high.
TriangleMesh MakeCubeWithSliverTop()
{
    TriangleMesh cube;
    for (int i = 0; i < 8; ++i)
        cube.vertices.push_back({{(i & 1) ? 10.0f : 0.0f, (i & 2) ? 10.0f : 0.0f, (i & 4) ? 10.0f : 0.0f}, {}});
    cube.vertices.push_back({{5.0f, 0.0005f, 10.0f}, {}});
    cube.indices = {0, 2, 3, 0, 3, 1, 4, 5, 8, 4, 8, 6, 8, 5, 7, 8, 7, 6, 0, 1, 5, 0, 5, 4,
        2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
    return cube;
}

// The seeding and the passes skip triangles whose box is farther than a label already held;
// that must never skip the nearest one, for slivers and far from the origin alike.
TEST(SolidField, VerificationFindsNoMismatch)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
    };
    const Case cases[] = {
        {"sphere", MakeTestSphere(8.0f)},
        {"sphere far from the origin", test::Translated(MakeTestSphere(4.0f), {1.0e4f, -2.0e4f, 5.0e3f})},
        {"cube with a sliver", MakeCubeWithSliverTop()},
    };
    for (const Case& c : cases) {
        for (const FieldMeasure measure : {FieldMeasure::labels, FieldMeasure::direct}) {
            const Built built = BuildField(c.mesh, Heights(c.mesh, 0.6f), 0.3, measure,
                [](SolidFieldInput& input) { input.verify = true; });
            ASSERT_TRUE(built.ok) << c.name;
            EXPECT_GT(built.stats.verifyChecks, 10000u) << c.name;
            EXPECT_EQ(built.stats.verifyMismatches, 0u) << c.name;
            EXPECT_EQ(built.stats.verifyMisses, 0u) << c.name;
            EXPECT_LE(built.stats.verifyMaxError, 1e-4) << c.name;
        }
    }
}

TEST(SolidField, FieldsBeyondTheirMemoryAreRefusedBeforeTheyAreAllocated)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    const Built whole = BuildField(cube, Heights(cube, 1.0f), 0.25);
    ASSERT_TRUE(whole.ok);
    const double fixed = whole.stats.estimateBytes;
    const double stored = whole.stats.storedEstimateBytes;
    // The whole estimate counts values, displaced bytes, both labels and flags, and crossings.
    EXPECT_EQ(stored, fixed + 4.0 * whole.field.columnCrossings.size() + 23.0 * whole.field.values.size());
    struct Case {
        const char* name;
        double cell;
        std::uint64_t budget;
        std::uint64_t cellLimit;
        bool ok;
        bool reachedBlocks;  // the stored estimate was made
    };
    const Case cases[] = {
        {"fixed parts over 1.5e9 bytes", 0.001, 0, ~std::uint64_t{0}, false, false},
        {"more points than the cell limit", 0.25, 0, 1000, false, false},
        {"fixed parts over the budget", 0.25, static_cast<std::uint64_t>(fixed) - 1, ~std::uint64_t{0}, false, false},
        {"whole field over the budget", 0.25, static_cast<std::uint64_t>(stored) - 1, ~std::uint64_t{0}, false, true},
        {"whole field within the budget", 0.25, static_cast<std::uint64_t>(stored), ~std::uint64_t{0}, true, true},
    };
    for (const Case& c : cases) {
        const Built built = BuildField(cube, Heights(cube, 1.0f), c.cell, FieldMeasure::labels,
            [&](SolidFieldInput& input) {
                input.memoryBudgetBytes = c.budget;
                input.cellLimit = c.cellLimit;
            });
        EXPECT_EQ(built.ok, c.ok) << c.name;
        EXPECT_EQ(built.stats.tooLarge, !c.ok) << c.name;
        EXPECT_FALSE(built.stats.badInput) << c.name;
        EXPECT_EQ(built.stats.storedEstimateBytes > 0.0, c.reachedBlocks) << c.name;
        if (!c.ok) {
            EXPECT_TRUE(built.field.values.empty()) << c.name;
            EXPECT_TRUE(built.field.blockIndex.empty()) << c.name;
            EXPECT_EQ(built.stats.pointsMeasured, 0u) << c.name;
        }
        // Refused before the crossings were gathered, or with the blocks chosen.
        EXPECT_EQ(built.stats.columnSeconds > 0.0, c.reachedBlocks) << c.name;
        EXPECT_EQ(built.stats.candidateBlocks > 0, c.reachedBlocks) << c.name;
    }
}

// The need told before a field is built holds at least what the built field's guards held, so
// that a run the estimate lets start is not refused by the field after minutes of work; and not
// so much more that the size it advises is far coarser than needed. The fixed parts are the
// same figure the build refuses on.
TEST(SolidField, TheNeedToldBeforeTheBuildCoversWhatTheBuildHolds)
{
    const auto bounded = [](TriangleMesh mesh) {
        mesh.ComputeBounds();
        return mesh;
    };
    const struct {
        const char* name;
        TriangleMesh mesh;
        double cell;
        float height;
    } cases[] = {
        {"cube", bounded(MakeTestCube(20.0f)), 0.3, 1.0f},
        {"cube, coarse", bounded(MakeTestCube(20.0f)), 1.0, 0.0f},
        {"sphere", bounded(MakeTestSphere(15.0f)), 0.3, 3.0f},
        {"thin plate", bounded(test::MakeBox({0, 0, 0}, {40, 40, 1})), 0.1, 0.0f},
        {"thin plate, coarse", bounded(test::MakeBox({0, 0, 0}, {40, 40, 1})), 1.0, 0.0f},
        {"blade", bounded(test::MakeWedge(20.0f, 10.0f, 2.0f, 0.05f)), 0.3, 1.0f},
        {"torus", bounded(test::MakeTorus(20.0f, 3.0f, 64, 32)), 0.3, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Built built = BuildField(c.mesh, Heights(c.mesh, c.height), c.cell);
        ASSERT_TRUE(built.ok);
        const SolidFieldNeed need = EstimateSolidFieldNeed(c.mesh, c.cell, c.height);
        EXPECT_EQ(need.fixedBytes, built.stats.estimateBytes);
        EXPECT_GE(need.mostBytes, built.stats.storedEstimateBytes);
        EXPECT_LE(need.mostBytes, 2.5 * built.stats.storedEstimateBytes);
        EXPECT_TRUE(SolidFieldFits(need, static_cast<std::uint64_t>(std::ceil(need.mostBytes))));
        EXPECT_FALSE(SolidFieldFits(need, static_cast<std::uint64_t>(need.mostBytes) - 1));
    }
    // What the build refuses whatever the budget: fixed parts past their cap, a cell that is
    // not a number.
    const TriangleMesh cube = bounded(MakeTestCube(20.0f));
    EXPECT_FALSE(SolidFieldFits(EstimateSolidFieldNeed(cube, 0.001, 0.0f), 0));
    EXPECT_FALSE(SolidFieldFits(EstimateSolidFieldNeed(cube, std::nan(""), 0.0f), 0));
    EXPECT_TRUE(SolidFieldFits(EstimateSolidFieldNeed(cube, 0.3, 1.0f), 0));
}

TEST(SolidField, HostileInputIsRefusedWithoutACrash)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    const TriangleMesh sphere = MakeTestSphere(3.0f);
    AabbTree otherTree;
    otherTree.Build(sphere);
    const TriangleMesh empty;
    TriangleMesh nanCube = cube;
    nanCube.vertices[3].position.y = std::numeric_limits<float>::quiet_NaN();
    TriangleMesh infCube = cube;
    infCube.vertices[5].position.z = std::numeric_limits<float>::infinity();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> shortHeights(7, 0.0f);
    std::vector<float> nanHeights(8, 0.0f);
    nanHeights[2] = nan;
    std::vector<float> infHeights(8, 0.0f);
    infHeights[6] = -inf;
    enum Outcome { kBuilt, kTooLarge, kBadInput };
    struct Case {
        const char* name;
        std::function<void(SolidFieldInput&)> adjust;
        Outcome outcome;
    };
    const Case cases[] = {
        {"no mesh", [](SolidFieldInput& in) { in.mesh = nullptr; }, kBadInput},
        {"no tree", [](SolidFieldInput& in) { in.tree = nullptr; }, kBadInput},
        {"no heights", [](SolidFieldInput& in) { in.heights = nullptr; }, kBadInput},
        {"empty mesh", [&](SolidFieldInput& in) { in.mesh = &empty; }, kBadInput},
        {"NaN coordinate", [&](SolidFieldInput& in) { in.mesh = &nanCube; }, kBadInput},
        {"infinite coordinate", [&](SolidFieldInput& in) { in.mesh = &infCube; }, kBadInput},
        {"tree of another mesh", [&](SolidFieldInput& in) { in.tree = &otherTree; }, kBadInput},
        {"heights too few", [&](SolidFieldInput& in) { in.heights = &shortHeights; }, kBadInput},
        {"NaN height", [&](SolidFieldInput& in) { in.heights = &nanHeights; }, kBadInput},
        {"infinite height", [&](SolidFieldInput& in) { in.heights = &infHeights; }, kBadInput},
        {"h NaN", [](SolidFieldInput& in) { in.cell = std::nan(""); }, kBadInput},
        {"h zero", [](SolidFieldInput& in) { in.cell = 0.0; }, kBadInput},
        {"h negative", [](SolidFieldInput& in) { in.cell = -0.2; }, kBadInput},
        {"h infinite", [](SolidFieldInput& in) { in.cell = HUGE_VAL; }, kBadInput},
        {"h beyond floats", [](SolidFieldInput& in) { in.cell = 1e300; }, kBadInput},
        {"h tiny", [](SolidFieldInput& in) { in.cell = 1e-300; }, kTooLarge},
        {"h large", [](SolidFieldInput& in) { in.cell = 1e6; }, kBuilt},
        {"floor NaN", [&](SolidFieldInput& in) { in.floorZ = nan; }, kBadInput},
        {"floor infinitely high", [&](SolidFieldInput& in) { in.floorZ = inf; }, kBadInput},
        {"floor infinitely low", [&](SolidFieldInput& in) { in.floorZ = -inf; }, kBuilt},
        {"floor far above", [&](SolidFieldInput& in) { in.floorZ = 1e29f; }, kBuilt},
        {"measure out of range", [&](SolidFieldInput& in) { in.measure = FieldMeasure{7}; }, kBuilt},
    };
    for (const Case& c : cases) {
        const Built built = BuildField(cube, Heights(cube, 0.5f), 0.5, FieldMeasure::labels, c.adjust);
        EXPECT_EQ(built.ok, c.outcome == kBuilt) << c.name;
        EXPECT_EQ(built.stats.tooLarge, c.outcome == kTooLarge) << c.name;
        EXPECT_EQ(built.stats.badInput, c.outcome == kBadInput) << c.name;
        if (c.outcome != kBuilt) {
            EXPECT_EQ(built.field.pointsX, 0) << c.name;
        }
    }
    // Huge heights make a huge reach: too large, not a conversion of an endless count.
    const Built huge = BuildField(cube, Heights(cube, 3e38f), 0.5);
    EXPECT_TRUE(huge.stats.tooLarge);
    // A floor far above the part cuts it all away: every point is positive.
    const Built cut = BuildField(cube, Heights(cube, 0.5f), 0.5, FieldMeasure::labels,
        [](SolidFieldInput& in) { in.floorZ = 1e29f; });
    ForEachStoredPoint(cut.field, [&](std::int64_t, std::int64_t, std::int64_t, std::size_t slot) {
        ASSERT_GT(cut.field.values[slot], 0.0f);
    });
}

TEST(SolidField, AStopThroughTheJobThrowsStopped)
{
    const TriangleMesh sphere = MakeTestSphere(5.0f);
    std::vector<float> heights = Heights(sphere, 0.5f);
    AabbTree tree;
    tree.Build(sphere);
    SolidFieldInput input;
    input.mesh = &sphere;
    input.tree = &tree;
    input.heights = &heights;
    input.cell = 0.25;
    SolidField field;
    SolidFieldStats stats;
    {
        // On one thread every 32nd poll asks, so the fourth answer comes some 100 blocks in,
        // after the crossings and the block selection.
        ThreadLimit one(1);
        int asked = 0;
        const ProgressCallback refuseLater = [&](const std::string&, float) { return ++asked < 4; };
        JobProgressContext job(refuseLater);
        EXPECT_THROW(BuildSolidField(input, field, stats, &job), Stopped);
        EXPECT_EQ(asked, 4);
        EXPECT_GT(stats.candidateBlocks, 0u);
    }
    int asked = 0;
    const ProgressCallback refuse = [&](const std::string&, float) { ++asked; return false; };
    JobProgressContext job(refuse);
    EXPECT_THROW(BuildSolidField(input, field, stats, &job), Stopped);
    EXPECT_EQ(asked, 1);
    // A callback that never stops lets the same build finish.
    const ProgressCallback goOn = [](const std::string&, float) { return true; };
    JobProgressContext running(goOn);
    EXPECT_TRUE(BuildSolidField(input, field, stats, &running));
}

struct FieldBits {
    std::vector<std::uint32_t> values;
    std::vector<std::uint8_t> displaced;
    std::vector<std::int32_t> blockIndex;
    std::vector<std::uint32_t> columnOffsets;
    std::vector<std::uint32_t> crossings;
    std::vector<std::uint64_t> counts;

    friend bool operator==(const FieldBits&, const FieldBits&) = default;
};

FieldBits BitsOf(const Built& built)
{
    FieldBits bits;
    for (float v : built.field.values)
        bits.values.push_back(std::bit_cast<std::uint32_t>(v));
    for (float v : built.field.columnCrossings)
        bits.crossings.push_back(std::bit_cast<std::uint32_t>(v));
    bits.displaced = built.field.displaced;
    bits.blockIndex = built.field.blockIndex;
    bits.columnOffsets = built.field.columnOffsets;
    const SolidFieldStats& s = built.stats;
    bits.counts = {s.candidateBlocks, s.propagationPasses, s.pointsMeasured, s.pointsDisplaced, s.subCubesSkipped,
        s.pointsRechecked, s.oddColumns, s.verifyChecks, s.verifyMismatches, s.verifyMisses,
        std::bit_cast<std::uint64_t>(s.verifyMaxError)};
    return bits;
}

TEST(SolidField, TheSameFieldOnOneThreadAndMany)
{
    // Enough triangles for several seeding and crossing blocks, enough blocks for many value
    // blocks; the heights vary so the interpolation matters.
    const TriangleMesh part = test::MakeBumpySphere(12.0f, 0.8f, 80, 120);
    std::vector<float> heights;
    for (const MeshVertex& vertex : part.vertices)
        heights.push_back(0.5f * std::cos(vertex.position.x * 0.7f) + 0.3f);
    for (const FieldMeasure measure : {FieldMeasure::labels, FieldMeasure::direct}) {
        test::ExpectSameOnOneThread([&] {
            const Built built = BuildField(part, heights, 0.3, measure, [](SolidFieldInput& in) {
                in.verify = true;
                in.floorZ = -11.0f;
            });
            EXPECT_TRUE(built.ok);
            return BitsOf(built);
        });
    }
}

}  // namespace
}  // namespace grainforge::mesh
