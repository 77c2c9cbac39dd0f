#include "engine/displacement/solid_contour.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

using Value = std::function<double(double, double, double)>;
// The z of a solid's surface crossings along the vertical line at (x, y), ascending.
using Crossings = std::function<std::vector<float>(double, double)>;

Value SphereValue(double r)
{
    return [=](double x, double y, double z) { return std::sqrt(x * x + y * y + z * z) - r; };
}

Crossings SphereCrossings(double r)
{
    return [=](double x, double y) {
        const double d2 = r * r - x * x - y * y;
        return d2 <= 0.0 ? std::vector<float>{} : std::vector<float>{float(-std::sqrt(d2)), float(std::sqrt(d2))};
    };
}

// A wedge along y with a sharp ridge at z = 2.03 (half angle 0.17 radians) on a block |x|, |y|,
// |z| < 3: near its ridge it is thinner than a cell, which pulls vertices out of their cells.
double Wedge(double x, double y, double z)
{
    const double c = std::cos(0.17), s = std::sin(0.17);
    return std::max({c * x + s * (z - 2.03), -c * x + s * (z - 2.03), std::fabs(x) - 3, std::fabs(y) - 3, std::fabs(z) - 3});
}

struct FieldRecipe {
    double origin[3] = {0.0, 0.0, 0.0};
    double cell = 1.0;
    std::int64_t points[3] = {0, 0, 0};
    bool onlyNearSignChanges = false;  // else every block is stored
    float farValue = 2.0f;
    std::uint8_t displaced = 0;        // of every stored point
    double floorZ = -1e30;             // values below it become max(floor - z, value)
};

// A grid of step h reaching `cells` cells each way from the origin, whose points miss it.
FieldRecipe GridRound(double h, double cells)
{
    FieldRecipe recipe;
    recipe.cell = h;
    recipe.origin[0] = -cells * h + 0.3183 * h;
    recipe.origin[1] = -cells * h + 0.2718 * h;
    recipe.origin[2] = -cells * h + 0.1414 * h;
    recipe.points[0] = recipe.points[1] = recipe.points[2] = std::int64_t(std::ceil(2.0 * cells)) + 1;
    recipe.farValue = float(2.0 * h);
    return recipe;
}

double ValueAtPoint(const Value& value, const FieldRecipe& recipe, std::int64_t x, std::int64_t y, std::int64_t z)
{
    const double pz = recipe.origin[2] + double(z) * recipe.cell;
    const double v = value(recipe.origin[0] + double(x) * recipe.cell, recipe.origin[1] + double(y) * recipe.cell, pz);
    return pz < recipe.floorZ ? std::max(recipe.floorZ - pz, v) : v;
}

// The field as the field build would leave it, made by hand: stored blocks hold the values;
// with onlyNearSignChanges, blocks more than one block away from a sign-changing cell are not
// stored and read their sign from the columns' crossings.
SolidField MakeField(const Value& value, const FieldRecipe& recipe, const Crossings& crossings = {})
{
    SolidField f{recipe.origin[0], recipe.origin[1], recipe.origin[2], recipe.cell, recipe.farValue, recipe.points[0],
        recipe.points[1], recipe.points[2], (recipe.points[0] + 7) / 8, (recipe.points[1] + 7) / 8, (recipe.points[2] + 7) / 8,
        {}, {}, {}, {}, {}};
    const std::int64_t blocks[3] = {f.blocksX, f.blocksY, f.blocksZ};
    const auto number = [&](std::int64_t bx, std::int64_t by, std::int64_t bz) {
        return std::size_t((bz * f.blocksY + by) * f.blocksX + bx);
    };
    std::vector<std::uint8_t> changes(std::size_t(f.blocksX * f.blocksY * f.blocksZ), 0);
    for (std::int64_t z = 0; z + 1 < f.pointsZ; ++z)
        for (std::int64_t y = 0; y + 1 < f.pointsY; ++y)
            for (std::int64_t x = 0; x + 1 < f.pointsX && recipe.onlyNearSignChanges; ++x) {
                int inside = 0;
                for (int c = 0; c < 8; ++c)
                    inside += ValueAtPoint(value, recipe, x + (c & 1), y + ((c >> 1) & 1), z + (c >> 2)) < 0.0;
                changes[number(x / 8, y / 8, z / 8)] |= inside != 0 && inside != 8;
            }
    f.blockIndex.assign(changes.size(), -1);
    std::int32_t slots = 0;
    for (std::int64_t bz = 0; bz < f.blocksZ; ++bz)
        for (std::int64_t by = 0; by < f.blocksY; ++by)
            for (std::int64_t bx = 0; bx < f.blocksX; ++bx) {
                bool near = !recipe.onlyNearSignChanges;
                for (int n = 0; n < 27 && !near; ++n) {
                    const std::int64_t at[3] = {bx + n % 3 - 1, by + (n / 3) % 3 - 1, bz + n / 9 - 1};
                    const bool inGrid = at[0] >= 0 && at[1] >= 0 && at[2] >= 0 && at[0] < blocks[0]
                        && at[1] < blocks[1] && at[2] < blocks[2];
                    near = inGrid && changes[number(at[0], at[1], at[2])] != 0;
                }
                if (!near)
                    continue;
                f.blockIndex[number(bx, by, bz)] = slots++;
                for (std::int64_t p = 0; p < 512; ++p) {
                    f.values.push_back(float(ValueAtPoint(value, recipe, bx * 8 + p % 8, by * 8 + (p / 8) % 8, bz * 8 + p / 64)));
                    f.displaced.push_back(recipe.displaced);
                }
            }
    f.columnOffsets.push_back(0);
    for (std::int64_t y = 0; y < f.pointsY; ++y)
        for (std::int64_t x = 0; x < f.pointsX; ++x) {
            const std::vector<float> z = crossings ? crossings(recipe.origin[0] + double(x) * recipe.cell,
                                                         recipe.origin[1] + double(y) * recipe.cell)
                                                   : std::vector<float>{};
            f.columnCrossings.insert(f.columnCrossings.end(), z.begin(), z.end());
            f.columnOffsets.push_back(std::uint32_t(f.columnCrossings.size()));
        }
    return f;
}

struct Contoured {
    TriangleMesh mesh;
    SolidContourContext context;
};

Contoured Contour(const SolidField& field, float floorZ = -1e30f, double sharpness = 1.0, bool smooth = true,
    std::uint64_t limit = ~std::uint64_t{0})
{
    Contoured out;
    out.context.triangleLimit = limit;
    ContourSolidField(out.mesh, field, floorZ, sharpness, smooth, out.context, nullptr);
    return out;
}

// Closed, manifold, one consistent winding, outward.
void ExpectClosedOutward(const TriangleMesh& mesh, const std::string& what)
{
    const ValidationReport report = ValidateMesh(mesh, {});
    EXPECT_GT(report.triangleCount, 0u) << what;
    EXPECT_EQ(report.edgeCounts.boundary + report.edgeCounts.nonManifold + report.windingConflicts, 0u) << what;
    EXPECT_FALSE(report.insideOut) << what;
    EXPECT_GT(mesh.Volume(), 0.0f) << what;
}

TEST(ContourSolidField, SphereGivesAClosedOutwardMeshNearItsSurface)
{
    const struct {
        const char* what;
        double h, radiusCells, gridCells;
        bool onlyNear;
    } cases[] = {
        {"every block stored", 0.5, 6.3, 9.3, false},
        {"blocks near the surface only, the rest read from the columns", 0.25, 27.7, 47.7, true},
    };
    for (const auto& c : cases) {
        const double r = c.radiusCells * c.h;
        FieldRecipe recipe = GridRound(c.h, c.gridCells);
        recipe.onlyNearSignChanges = c.onlyNear;
        const SolidField field = MakeField(SphereValue(r), recipe, SphereCrossings(r));
        // Not stored, inside and outside: both signs must come from the columns.
        int unstoredSigns[2] = {0, 0};
        for (std::size_t b = 0; b < field.blockIndex.size(); ++b)
            if (field.blockIndex[b] < 0) {
                const std::int64_t bx = std::int64_t(b) % field.blocksX, by = (std::int64_t(b) / field.blocksX) % field.blocksY;
                ++unstoredSigns[field.ValueAt(bx * 8, by * 8, std::int64_t(b) / (field.blocksX * field.blocksY) * 8) < 0];
            }
        EXPECT_EQ(unstoredSigns[0] > 0 && unstoredSigns[1] > 0, c.onlyNear) << c.what;
        const Contoured out = Contour(field);
        EXPECT_FALSE(out.context.contourHoles || out.context.refused) << c.what;
        ExpectClosedOutward(out.mesh, c.what);
        EXPECT_EQ(CountBodies(out.mesh), 1u) << c.what;
        EXPECT_EQ(out.context.estimatedTriangles, out.mesh.TriangleCount()) << c.what;
        for (const MeshVertex& v : out.mesh.vertices)
            ASSERT_NEAR(Length(v.position), r, 0.1 * c.h) << c.what;
        const double volume = 4.0 / 3.0 * 3.14159265358979 * r * r * r;
        EXPECT_NEAR(out.mesh.Volume(), volume, 0.01 * volume) << c.what;
    }
}

TEST(ContourSolidField, AFaceJoinedFromBothSidesIsFlippedOnBothAndTheTwoAgree)
{
    // Cell A at (1, 1, 1) and cell B at (2, 1, 1) share A's face 1 (high x), B's face 0: every
    // pair of masks that joins that face from both sides and agrees on its corners.
    const auto& table = CellCaseTable();
    int pairs = 0;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            bool sameFace = (table[a].joinedFaces & 2) != 0 && (table[b].joinedFaces & 1) != 0;
            for (int c = 0; c < 8; c += 2)
                sameFace = sameFace && ((a >> (c + 1)) & 1) == ((b >> c) & 1);
            if (!sameFace)
                continue;
            ++pairs;
            const std::string what = std::to_string(a) + " and " + std::to_string(b);
            FieldRecipe recipe;  // 5 x 4 x 4 points of -1 (inside) and +1, outside round the border
            recipe.points[0] = 5;
            recipe.points[1] = recipe.points[2] = 4;
            const SolidField field = MakeField([&](double x, double y, double z) {
                if (y < 1 || y > 2 || z < 1 || z > 2 || x < 1 || x > 3)
                    return 1.0;
                const int corner = 2 * int(y - 1) + 4 * int(z - 1);
                return ((x < 3 ? a >> (corner + int(x - 1)) : b >> (corner + 1)) & 1) != 0 ? -1.0 : 1.0;
            }, recipe);
            ContourCellList cells = ListContourCells(field, nullptr);
            SetFlipBytes(cells, nullptr);
            const std::int64_t ia = FindContourCell(cells, 1, 1, 1), ib = FindContourCell(cells, 2, 1, 1);
            ASSERT_TRUE(ia >= 0 && ib >= 0) << what;
            const std::uint8_t flipA = cells.flips[std::size_t(ia)], flipB = cells.flips[std::size_t(ib)];
            EXPECT_TRUE((flipA & 2) != 0 && (flipB & 1) != 0) << what;
            // The face's edges in A (6, 7 along y; 9, 11 along z) are B's 4, 5, 8, 10: both
            // cells group them into the same pieces.
            std::array<std::uint8_t, 12> ca{}, cb{};
            CellEdgeComponents(std::uint8_t(a), flipA, ca);
            CellEdgeComponents(std::uint8_t(b), flipB, cb);
            const int inA[4] = {6, 7, 9, 11}, inB[4] = {4, 5, 8, 10};
            for (int i = 0; i < 4; ++i)
                for (int j = i + 1; j < 4; ++j)
                    if (ca[inA[i]] != kNoComponent && ca[inA[j]] != kNoComponent) {
                        EXPECT_EQ(ca[inA[i]] == ca[inA[j]], cb[inB[i]] == cb[inB[j]]) << what << ": " << inA[i] << " " << inA[j];
                    }
            const Contoured out = Contour(field);
            EXPECT_FALSE(out.context.contourHoles) << what;
            EXPECT_GE(out.context.flippedCells, 2u) << what;
            ExpectClosedOutward(out.mesh, what);
        }
    EXPECT_GT(pairs, 0);
}

// On an axis whose faces a piece touches on one side only, its vertex may go one cell beyond
// the other side, never further; on a touched side it keeps the margin inside.
TEST(ContourSolidField, EveryVertexKeepsToItsClampBox)
{
    const SolidField field = MakeField(Wedge, GridRound(0.5, 9.0));
    ContourCellList cells = ListContourCells(field, nullptr);
    SetFlipBytes(cells, nullptr);
    SolidContourContext context;
    std::uint64_t quads = 0;
    const std::uint64_t count = NumberContourCells(cells, context, quads);
    const std::vector<Vec3> vertices = PlaceContourVertices(field, cells, count, -1e30f, 1.0, true, nullptr);
    const double slack = 1e-5;  // float positions
    const double origin[3] = {field.originX, field.originY, field.originZ};
    int outsideTheirCell = 0;
    for (std::size_t i = 0; i < cells.ids.size(); ++i) {
        std::array<std::uint8_t, 12> components{};
        const int pieces = CellEdgeComponents(cells.masks[i], cells.flips[i], components);
        for (int c = 0; c < pieces; ++c) {
            bool low[3] = {false, false, false}, high[3] = {false, false, false};
            for (int e = 0; e < 12; ++e)
                if (components[e] == c) {
                    ((e & 1) ? high : low)[(e / 4 + 1) % 3] = true;
                    ((e & 2) ? high : low)[(e / 4 + 2) % 3] = true;
                }
            const Vec3 v = vertices[cells.vertexOffsets[i] + std::uint64_t(c)];
            const std::array<double, 3> margin = ContourVertexMargins(field, cells.Coordinates(i));
            const float p[3] = {v.x, v.y, v.z};
            bool outside = false;
            for (int k = 0; k < 3; ++k) {
                const double local = (p[k] - origin[k]) / field.cell - double(cells.Coordinates(i)[k]);
                EXPECT_GE(local, (low[k] ? margin[k] : -1.0) - slack) << i << " axis " << k;
                EXPECT_LE(local, (high[k] ? 1.0 - margin[k] : 2.0) + slack) << i << " axis " << k;
                outside = outside || local < 0.0 || local > 1.0;
            }
            outsideTheirCell += outside ? 1 : 0;
        }
    }
    EXPECT_GT(outsideTheirCell, 0) << "the ridge pulls some vertices out of their cells";
}

// A part far from the origin is contoured as near it: the margin a vertex keeps from a face
// follows the float step where its cell lies, not the grid's largest coordinate, so moved
// vertices differ only by a few float steps of their new place.
TEST(ContourSolidField, APartFarAwayKeepsItsVerticesWithinAFewFloatSteps)
{
    const auto contour = [](double shift) {
        FieldRecipe recipe = GridRound(0.3, 9.0);
        recipe.origin[0] += shift;
        recipe.origin[1] += shift;
        const SolidField field =
            MakeField([shift](double x, double y, double z) { return Wedge(x - shift, y - shift, z); }, recipe);
        ContourCellList cells = ListContourCells(field, nullptr);
        SetFlipBytes(cells, nullptr);
        SolidContourContext context;
        std::uint64_t quads = 0;
        const std::uint64_t count = NumberContourCells(cells, context, quads);
        return PlaceContourVertices(field, cells, count, -1e30f, 1.0, true, nullptr);
    };
    const std::vector<Vec3> near = contour(0.0);
    ASSERT_FALSE(near.empty());
    for (const double shift : {1000.0, -1000.0, 10000.0}) {
        const std::vector<Vec3> far = contour(shift);
        ASSERT_EQ(far.size(), near.size()) << shift;
        const double allowed = 8.0 * FloatStepAt(shift);
        double worst = 0.0;
        for (std::size_t v = 0; v < near.size(); ++v)
            worst = std::max({worst, std::fabs(double(far[v].x) - shift - double(near[v].x)),
                std::fabs(double(far[v].y) - shift - double(near[v].y)), std::fabs(double(far[v].z) - double(near[v].z))});
        EXPECT_LE(worst, allowed) << "moved by " << shift << " mm";
    }
}

TEST(ContourSolidField, WithTheFloorOnVerticesStayAboveItAndTheLowestLieOnIt)
{
    const double h = 0.5;
    const float floorZ = -2.1f;
    FieldRecipe recipe = GridRound(h, 9.3);
    // The floor half way between two grid planes, as the field build lays it.
    recipe.origin[2] = floorZ - (std::floor((floorZ - recipe.origin[2]) / h) + 0.5) * h;
    recipe.floorZ = floorZ;
    const Contoured out = Contour(MakeField(SphereValue(6.3 * h), recipe), floorZ);
    EXPECT_FALSE(out.context.contourHoles);
    ExpectClosedOutward(out.mesh, "cut sphere");
    int onFloor = 0;
    for (const MeshVertex& v : out.mesh.vertices) {
        EXPECT_GE(v.position.z, floorZ);
        EXPECT_TRUE(v.position.z >= floorZ + 0.5 * h || v.position.z == floorZ) << v.position.z;
        onFloor += v.position.z == floorZ ? 1 : 0;
    }
    EXPECT_GT(onFloor, 20);
}

// With the switch off, a field whose points are all displaced contours as one with none
// displaced (sharpness 1); with it on, as one solved with sharpness 0 (mass points).
TEST(ContourSolidField, SmoothDisplacedSwitchDecidesTheSharpnessNextToDisplacedPoints)
{
    const auto contour = [](std::uint8_t displaced, double sharpness, bool smooth) {
        FieldRecipe recipe = GridRound(0.5, 9.0);
        recipe.displaced = displaced;
        return Contour(MakeField(Wedge, recipe), -1e30f, sharpness, smooth).mesh;
    };
    const TriangleMesh sharp = contour(0, 1.0, true), massPoints = contour(0, 0.0, true);
    ASSERT_FALSE(test::Identical(sharp, massPoints)) << "a case worth comparing";
    EXPECT_TRUE(test::Identical(contour(1, 1.0, false), sharp)) << "switch off, every point displaced";
    EXPECT_TRUE(test::Identical(contour(1, 1.0, true), massPoints)) << "switch on, every point displaced";
}

// A block with a notch whose walls x = 0.13 and y = 0.17 meet in a hollow along z: outside the
// notch's corner the distance bends where the walls swap, and the crossings read there lie off
// the walls, so the sharp solve stood the corner's vertices past both of them. Given the
// crease, they keep to the walls; FindPlainCreases finds it on the L prism and none on a cube.
TEST(ContourSolidField, AVertexOnACreaseOfPlainFacesInAHollowKeepsToBothFaces)
{
    const double a = 0.13, b = 0.17;
    const Value notched = [=](double x, double y, double z) {
        const double outside = x > a && y > b ? std::min(x - a, y - b)
                                              : -std::hypot(std::max(0.0, a - x), std::max(0.0, b - y));
        return std::max({outside, std::fabs(x) - 3, std::fabs(y) - 3, std::fabs(z) - 3});
    };
    PlainCrease crease;
    crease.ends[0] = {a, b, -3.0};
    crease.ends[1] = {a, b, 3.0};
    crease.normals[0] = {1, 0, 0};
    crease.normals[1] = {0, 1, 0};
    crease.offsets[0] = a;
    crease.offsets[1] = b;
    const std::vector<PlainCrease> creases{crease};
    for (const bool held : {false, true}) {
        Contoured out;
        out.context.plainCreases = held ? &creases : nullptr;
        ContourSolidField(out.mesh, MakeField(notched, GridRound(0.3, 12)), -1e30f, 1.0, true, out.context, nullptr);
        double past = 0.0;
        for (const MeshVertex& v : out.mesh.vertices)
            if (std::fabs(v.position.z) < 2.5f)
                past = std::max(past, std::min(v.position.x - a, v.position.y - b));
        EXPECT_EQ(past < 0.003, held) << "past both walls by " << past;
        ExpectClosedOutward(out.mesh, held ? "held" : "free");
    }
    const TriangleMesh prism = test::MakeLPrism();
    const std::vector<PlainCrease> found = FindPlainCreases(prism, std::vector<std::uint8_t>(prism.TriangleCount(), 1));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::min(found[0].ends[0].z, found[0].ends[1].z), 0.0);
    EXPECT_EQ(std::max(found[0].ends[0].z, found[0].ends[1].z), 10.0);
    const TriangleMesh cube = MakeTestCube(10.0f);
    EXPECT_TRUE(FindPlainCreases(cube, std::vector<std::uint8_t>(cube.TriangleCount(), 1)).empty());
}

TEST(ContourSolidField, MoreTrianglesThanTheLimitAreRefusedBeforeAnyVertexIsPlaced)
{
    const SolidField field = MakeField(SphereValue(3.15), GridRound(0.5, 9.3));
    const Contoured free = Contour(field);
    const std::uint64_t estimate = free.context.estimatedTriangles;
    for (const std::uint64_t limit : {estimate - 1, std::uint64_t{0}, estimate}) {
        Contoured out;
        out.mesh = test::MakeBox({0, 0, 0}, {1, 1, 1});
        out.context.triangleLimit = limit;
        ContourSolidField(out.mesh, field, -1e30f, 1.0, true, out.context, nullptr);
        EXPECT_EQ(out.context.refused, limit < estimate) << limit;
        EXPECT_EQ(out.context.estimatedTriangles, estimate) << limit;
        EXPECT_EQ(out.context.cellsContoured, free.context.cellsContoured) << limit;
        EXPECT_TRUE(test::Identical(out.mesh, limit < estimate ? TriangleMesh{} : free.mesh)) << limit;
    }
    // Indices of 32 bits name 2^32 vertices at most; a quad count past 2^63 saturates.
    const std::tuple<std::uint64_t, std::uint64_t, bool> cases[] = {{10, std::uint64_t{1} << 32, false},
        {10, (std::uint64_t{1} << 32) + 1, true}, {~std::uint64_t{0} / 2 + 1, 10, true}};
    for (const auto& [quads, vertices, refused] : cases) {
        SolidContourContext context;
        EXPECT_EQ(RefuseOversizedContour(quads, vertices, context), refused) << vertices;
        EXPECT_EQ(context.refused, refused) << vertices;
    }
}

TEST(ContourSolidField, AStopThrowsStoppedAndLeavesTheMeshAsItWas)
{
    const ProgressCallback stop = [](const std::string&, float) { return false; };
    JobProgressContext job(stop);
    TriangleMesh mesh = test::MakeBox({0, 0, 0}, {1, 1, 1});
    SolidContourContext context;
    EXPECT_THROW(ContourSolidField(mesh, MakeField(SphereValue(3.15), GridRound(0.5, 9.3)), -1e30f, 1.0, true,
                     context, &job), Stopped);
    EXPECT_TRUE(test::Identical(mesh, test::MakeBox({0, 0, 0}, {1, 1, 1})));
}

TEST(ContourSolidField, HolesWhenCellsAreMissingOrTheFieldDoesNotHold)
{
    const SolidField sphere = MakeField(SphereValue(3.15), GridRound(0.5, 9.3));
    SolidField flat = sphere;  // one point along z: no cells, no holes
    flat.pointsZ = flat.blocksZ = 1;
    flat.blockIndex.resize(std::size_t(flat.blocksX * flat.blocksY));
    SolidField shortIndex = sphere, wrongSlot = sphere, shortColumns = sphere;
    shortIndex.blockIndex.pop_back();
    wrongSlot.blockIndex[0] = 1 << 20;
    shortColumns.columnOffsets.back() += 1;
    const struct {
        const char* what;
        SolidField field;
        bool holes, empty;
    } cases[] = {
        // Quads whose cells would lie beyond the grid: found without reading outside it.
        {"surface cut by the grid's edge", MakeField(SphereValue(5.0), GridRound(0.5, 9.3)), true, false},
        {"one point along z", flat, false, true},
        {"block index shorter than the blocks", shortIndex, true, true},
        {"slot beyond the values", wrongSlot, true, true},
        {"column offsets beyond the crossings", shortColumns, true, true},
    };
    for (const auto& c : cases) {
        const Contoured out = Contour(c.field);
        EXPECT_EQ(out.context.contourHoles, c.holes) << c.what;
        EXPECT_EQ(out.mesh.indices.empty(), c.empty) << c.what;
    }
}

TEST(ContourSolidField, SameMeshOnOneThreadAndMany)
{
    // About 5,000 cells: the cell loops run in two blocks or more, the block loop in hundreds.
    FieldRecipe recipe = GridRound(0.25, 24.2);
    recipe.displaced = 1;
    const SolidField field = MakeField([](double x, double y, double z) {
        return std::sqrt(x * x + y * y + z * z) - 5.0 - 0.3 * std::sin(3 * x) * std::sin(2 * y);
    }, recipe);
    const auto contour = [&] {
        const Contoured out = Contour(field, -3.9f, 1.0, false);
        std::vector<Vec3> positions, normals;
        for (const MeshVertex& v : out.mesh.vertices) {
            positions.push_back(v.position);
            normals.push_back(v.normal);
        }
        return std::make_tuple(positions, normals, out.mesh.indices, out.context.flippedCells);
    };
    ASSERT_GT(std::get<2>(contour()).size(), 6u * 4096u);
    test::ExpectSameOnOneThread(contour);
}

// The field with its stored blocks in the opposite slot order, as a build may leave them.
SolidField WithSlotsReversed(SolidField field)
{
    const std::int32_t slots = std::int32_t(field.values.size() / 512);
    std::vector<float> values(field.values.size());
    std::vector<std::uint8_t> displaced(field.displaced.size());
    for (std::int32_t& slot : field.blockIndex) {
        if (slot < 0)
            continue;
        const std::int32_t moved = slots - 1 - slot;
        std::copy_n(field.values.begin() + slot * 512, 512, values.begin() + moved * 512);
        std::copy_n(field.displaced.begin() + slot * 512, 512, displaced.begin() + moved * 512);
        slot = moved;
    }
    field.values = std::move(values);
    field.displaced = std::move(displaced);
    return field;
}

TEST(ListContourCells, EverySignChangingCellOfTheStoredBlocksInIdOrder)
{
    // Grids of several blocks each way that end inside a block, some blocks not stored, the
    // slots in block order and reversed; every cell checked against its corners' values.
    FieldRecipe tall = GridRound(0.5, 9.3);
    tall.points[2] = 31;
    tall.onlyNearSignChanges = true;
    FieldRecipe flat = GridRound(0.4, 13.1);
    flat.points[1] = 20;
    const struct {
        const char* what;
        SolidField field;
    } cases[] = {
        {"sphere, all blocks", MakeField(SphereValue(3.3), GridRound(0.5, 9.3))},
        {"sphere, near blocks only, slots reversed", WithSlotsReversed(MakeField(SphereValue(3.3), tall))},
        {"wedge", MakeField(Wedge, flat)},
        {"wedge, slots reversed", WithSlotsReversed(MakeField(Wedge, flat))},
    };
    for (const auto& c : cases) {
        const SolidField& f = c.field;
        std::vector<std::int64_t> ids;
        std::vector<std::uint8_t> masks;
        for (std::int64_t z = 0; z + 1 < f.pointsZ; ++z)
            for (std::int64_t y = 0; y + 1 < f.pointsY; ++y)
                for (std::int64_t x = 0; x + 1 < f.pointsX; ++x) {
                    if (f.PointSlot(x, y, z) < 0)
                        continue;
                    unsigned mask = 0;
                    for (unsigned k = 0; k < 8; ++k)
                        mask |= unsigned(f.ValueAt(x + (k & 1), y + ((k >> 1) & 1), z + (k >> 2)) < 0.0f) << k;
                    if (mask != 0 && mask != 255) {
                        ids.push_back((z * (f.pointsY - 1) + y) * (f.pointsX - 1) + x);
                        masks.push_back(std::uint8_t(mask));
                    }
                }
        const ContourCellList cells = ListContourCells(f, nullptr);
        ASSERT_GT(ids.size(), 100u) << c.what;
        EXPECT_EQ(cells.ids, ids) << c.what;
        EXPECT_EQ(cells.masks, masks) << c.what;
    }
}

TEST(ContourSolidField, WithoutBoxAndNormalsTheSameTrianglesAndPositions)
{
    const SolidField field = MakeField(Wedge, GridRound(0.5, 9.0));
    const Contoured full = Contour(field);
    Contoured bare;
    bare.context.boxAndNormals = false;
    ContourSolidField(bare.mesh, field, -1e30f, 1.0, true, bare.context, nullptr);
    ASSERT_EQ(bare.mesh.vertices.size(), full.mesh.vertices.size());
    EXPECT_EQ(bare.mesh.indices, full.mesh.indices);
    EXPECT_TRUE(full.mesh.boundsValid);
    EXPECT_FALSE(bare.mesh.boundsValid);
    for (std::size_t v = 0; v < full.mesh.vertices.size(); ++v) {
        EXPECT_EQ(bare.mesh.vertices[v].position, full.mesh.vertices[v].position) << v;
        EXPECT_EQ(bare.mesh.vertices[v].normal, Vec3{}) << v;
    }
}

TEST(EdgeCrossingFraction, WhereTheFieldCrossesZeroAlongAnEdge)
{
    const struct {
        const char* what;
        double values[3];  // along x at y = z = 0; 7 elsewhere, the far value 2 beyond the grid
        std::int64_t x;    // start of the edge
        int axis;
        double t;
    } cases[] = {
        {"even", {-1, 1, 5}, 0, 0, 0.5},
        {"a quarter", {-1, 3, 5}, 0, 0, 0.25},
        {"from outside", {3, -1, 5}, 0, 0, 0.75},
        {"equal ends", {1, 1, 5}, 0, 0, 0.5},
        {"both zero", {0, 0, 5}, 0, 0, 0.5},
        {"starts on the surface", {0, 2, 5}, 0, 0, 0.0},
        {"ends on the surface", {-2, 0, 5}, 0, 0, 1.0},
        {"no crossing, rising: clamped to 0", {1, 2, 5}, 0, 0, 0.0},
        {"no crossing, falling: clamped to 1", {-2, -1, 5}, 0, 0, 1.0},
        {"next point beyond the grid", {5, 0, -1}, 2, 0, 1.0 / 3.0},
        {"along y", {5, -1, 5}, 1, 1, 0.125},
        {"no such axis", {-1, 1, 5}, 0, 3, 0.5},
    };
    for (const auto& c : cases) {
        FieldRecipe recipe;
        recipe.points[0] = 3;
        recipe.points[1] = recipe.points[2] = 2;
        const SolidField field = MakeField([&](double x, double y, double z) {
            return y != 0.0 || z != 0.0 || x > 2.0 ? 7.0 : c.values[int(x)];
        }, recipe);
        EXPECT_DOUBLE_EQ(EdgeCrossingFraction(field, c.x, 0, 0, c.axis), c.t) << c.what;
    }
}

TEST(FindContourCell, ListedCellsOnlyAndNoWrappingRoundARow)
{
    ContourCellList cells{4, 3, 2, {3, 4, 11, 12, 23}, {}, {}, {}, {}};  // (3,0,0) (0,1,0) (3,2,0) (0,0,1) (3,2,1)
    // Outside the cells an id may name a listed cell of the next or the last row: (-1, 1, 0)
    // has the id of (3, 0, 0), (4, 2, 0) that of (0, 0, 1), (0, 3, 0) that of (0, 0, 1).
    const std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t> cases[] = {{3, 0, 0, 0}, {0, 1, 0, 1},
        {3, 2, 1, 4}, {1, 1, 0, -1}, {-1, 1, 0, -1}, {4, 2, 0, -1}, {0, 3, 0, -1}, {3, 2, 2, -1}, {0, 0, -1, -1}};
    for (const auto& [x, y, z, found] : cases)
        EXPECT_EQ(FindContourCell(cells, x, y, z), found) << x << " " << y << " " << z;
}

// Of the bodies lying at one body of the part the largest is that body, however thin; only
// the others go when thinner than a line, measured with what they held.
TEST(RemoveUnprintablePieces, TakesOffOnlyThinBodiesBesideTheBodyOfThePart)
{
    // A 10 mm box of many triangles, a 0.2 mm plate and a 1 mm cube of 12 each.
    const TriangleMesh box = test::MakeGridTopBox(4, 10.0f);
    const TriangleMesh plate = test::MakeBox({20, 0, 0}, {25, 5, 0.2f});
    const TriangleMesh cube = test::MakeBox({30, 0, 0}, {31, 1, 1});
    const TriangleMesh whole = test::Combined(test::Combined(box, plate), cube);
    // A ball of more triangles than the plate, set loose above the box.
    const TriangleMesh ball = test::Translated(MakeTestSphere(1.0f), {5, 5, 12});
    const struct {
        const char* what;
        TriangleMesh source;
        TriangleMesh extra;  // beside the three
        float line;
        std::uint64_t removed;
    } cases[] = {
        {"every body is a body of the part", whole, {}, 50.0f, 0},
        {"bodies of the part beside another far off", test::Combined(whole, test::MakeBox({90, 0, 0}, {99, 9, 9})), {},
            50.0f, 0},
        {"plate thinner than the line beside the box", box, {}, 0.42f, 1},
        {"the box, thin nowhere, stays though it lies at the cube", cube, {}, 0.42f, 1},
        {"plate exactly one line thick stays", box, {}, 0.2f, 0},
        {"line wider than the cube", box, {}, 1.5f, 2},
        {"a thin plate of the part stays beside a piece of more triangles", test::Combined(box, plate), ball, 0.42f, 0},
        {"no part to judge by", TriangleMesh{}, {}, 50.0f, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TriangleMesh start = test::Combined(whole, c.extra);
        const std::uint64_t bodies = CountBodies(start);
        TriangleMesh mesh = start;
        std::uint64_t triangles = 5;          // added to
        std::vector<RemovedPiece> pieces(1);  // appended to
        EXPECT_EQ(RemoveUnprintablePieces(mesh, c.source, nullptr, c.line, &triangles, &pieces), c.removed);
        EXPECT_EQ(pieces.size(), 1 + c.removed);
        EXPECT_EQ(CountBodies(mesh), bodies - c.removed);
        EXPECT_EQ(mesh.TriangleCount() + triangles - 5, start.TriangleCount());
        EXPECT_EQ(mesh.vertices.size(), start.vertices.size() - 8 * c.removed) << "unused vertices dropped";
        EXPECT_EQ(CountEdges(mesh).boundary, 0u);
        if (c.removed == 0) {
            EXPECT_TRUE(test::Identical(mesh, start));
        } else {
            const RemovedPiece& removed = pieces[1];
            EXPECT_TRUE(removed.boxMin == (Vec3{20, 0, 0}) && removed.boxMax == (Vec3{25, 5, 0.2f}));
            EXPECT_EQ(removed.triangleCount, 12u);
            EXPECT_NEAR(removed.volume, 5.0, 1e-4) << "what the plate held";
        }
    }
    TriangleMesh broken = whole;
    broken.indices.back() = 9999;
    EXPECT_EQ(RemoveUnprintablePieces(broken, box, nullptr, 100.0f, nullptr, nullptr), 0u) << "inconsistent mesh";
}

}  // namespace
}  // namespace grainforge::mesh
