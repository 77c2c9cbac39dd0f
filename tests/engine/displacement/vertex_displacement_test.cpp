#include "engine/displacement/vertex_displacement.h"

#include "engine/mesh/self_intersection.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kPi = 3.14159265f;

// One value everywhere: every vertex gets (value - 0.5) x strength.
HeightMap UniformMap(float value)
{
    HeightMap map;
    map.SetImage(2, 2, std::vector<float>(4, value));
    return map;
}

HeightMap RandomMap(unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> pixels(32 * 32);
    for (float& p : pixels)
        p = unit(random);
    HeightMap map;
    map.settings.widthMillimetres = 8.0f;
    map.SetImage(32, 32, std::move(pixels));
    return map;
}

// The box projection over a cage that holds every test part.
Projection BigBox()
{
    Projection projection;
    projection.cage.size = {100.0f, 100.0f, 100.0f};
    return projection;
}

// Only the guards a case turns on run.
DisplacementSettings Plain(float strength)
{
    DisplacementSettings settings;
    settings.strengthMillimetres = strength;
    settings.limitToClearance = settings.mitreCreases = settings.preventFolds = false;
    return settings;
}

struct Displaced {
    TriangleMesh mesh;
    DisplacementReport report;
};

Displaced Displace(TriangleMesh mesh, const std::vector<float>& weights, const DisplacementSettings& settings,
    const HeightMap& map)
{
    DisplacementReport report = ApplyDisplacement(mesh, BigBox(), map, weights, settings, nullptr, TileFrame{});
    return {std::move(mesh), std::move(report)};
}

std::vector<Vec3> Positions(const TriangleMesh& mesh)
{
    std::vector<Vec3> positions;
    for (const MeshVertex& v : mesh.vertices)
        positions.push_back(v.position);
    return positions;
}

bool SameBits(Vec3 a, Vec3 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SamePositionBits(const TriangleMesh& a, const TriangleMesh& b)
{
    const std::vector<Vec3> pa = Positions(a), pb = Positions(b);
    return std::equal(pa.begin(), pa.end(), pb.begin(), pb.end(), SameBits);
}

TriangleMesh WithNormals(TriangleMesh mesh)
{
    mesh.ComputeVertexNormals();
    return mesh;
}

// A sphere of radius 10 round a cavity of radius 9: two smooth regions 1 mm apart; the outer
// sphere's 4514 vertices come first.
TriangleMesh HollowSphere()
{
    return WithNormals(test::Combined(MakeTestSphere(10.0f), test::Flipped(MakeTestSphere(9.0f))));
}

// A flat 8 x 8 grid of 1 mm squares facing +z whose centre vertex alone carries texture.
std::pair<TriangleMesh, std::vector<float>> GridWithCentreWeight()
{
    TriangleMesh grid = WithNormals(test::MakeFlatGrid(8, 1.0f));
    std::vector<float> weights(grid.vertices.size(), 0.0f);
    weights[4 * 9 + 4] = 1.0f;
    return {std::move(grid), std::move(weights)};
}

TEST(ApplyDisplacement, BadInputLeavesTheMeshAsItWasAndReportsNothingDone)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    TriangleMesh partIndex = cube, outOfRange = cube, nanVertex = cube, infiniteVertex = cube;
    partIndex.indices.pop_back();
    outOfRange.indices[5] = 8;
    nanVertex.vertices[3].position.y = kNaN;  // a NaN corner would spread through the tree's boxes
    infiniteVertex.vertices[0].position.x = kInfinity;
    const struct {
        const char* what;
        TriangleMesh mesh;
        std::size_t weightCount;
        HeightMap map;
    } cases[] = {
        {"index count not a multiple of 3", partIndex, 8, UniformMap(1.0f)},
        {"index out of range", outOfRange, 8, UniformMap(1.0f)},
        {"no vertices", TriangleMesh{}, 0, UniformMap(1.0f)},
        {"empty map", cube, 8, HeightMap{}},
        {"weights of another length", cube, 7, UniformMap(1.0f)},
        {"a NaN coordinate", nanVertex, 8, UniformMap(1.0f)},
        {"an infinite coordinate", infiniteVertex, 8, UniformMap(1.0f)},
    };
    for (const auto& c : cases) {
        const Displaced out = Displace(c.mesh, std::vector<float>(c.weightCount, 1.0f), DisplacementSettings{}, c.map);
        EXPECT_TRUE(SamePositionBits(out.mesh, c.mesh) && out.mesh.indices == c.mesh.indices) << c.what;
        EXPECT_EQ(FormatDisplacementReport(out.report), "Displaced 0 of " + std::to_string(c.mesh.vertices.size())
                + " vertices, 0.0000 to 0.0000 mm, relief 0.0000 mm, mid-level 0.5000") << c.what;
    }
}

TEST(ApplyDisplacement, OneSmoothRegionHasNoClearanceAndNothingCutShort)
{
    // Neighbouring faces of the sphere lie within 60 degrees: one region, so nothing can limit
    // a move and every vertex moves its full 0.5 mm.
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const Displaced out =
        Displace(sphere, std::vector<float>(sphere.vertices.size(), 1.0f), DisplacementSettings{}, UniformMap(1.0f));
    EXPECT_EQ(out.report.displacedVertices, sphere.vertices.size());
    EXPECT_EQ(out.report.cutByClearance, 0u);
    EXPECT_TRUE(out.report.clearance.empty());
    EXPECT_EQ(out.report.clearanceTree, nullptr);
    for (const MeshVertex& v : out.mesh.vertices)
        ASSERT_NEAR(Length(v.position), 10.5f, 1e-4f);
}

TEST(ApplyDisplacement, ClearanceOfTwoRegionsIsKeptAndLimitsTheMove)
{
    // The outer sphere moving 1 mm in would meet the cavity 1 mm away; it may use 0.45 of that.
    const TriangleMesh hollow = HollowSphere();
    std::vector<float> weights(hollow.vertices.size(), 0.0f);
    std::fill(weights.begin(), weights.begin() + 4514, 1.0f);
    const Displaced out = Displace(hollow, weights, DisplacementSettings{.strengthMillimetres = 2.0f, .base = {}}, UniformMap(0.0f));
    ASSERT_EQ(out.report.clearance.size(), hollow.vertices.size());
    ASSERT_NE(out.report.clearanceTree, nullptr);
    EXPECT_EQ(out.report.cutByClearance, 4514u);
    for (std::size_t v = 0; v < 4514; ++v) {
        ASSERT_NEAR(out.report.clearance[v], 1.0f, 0.01f) << v;
        ASSERT_NEAR(Length(out.mesh.vertices[v].position), 9.55f, 0.01f) << v;
    }
}

TEST(ApplyDisplacement, TheTextureTheGuardsHeldBackIsCountedWhereItLies)
{
    // The outer sphere of the hollow one asked 1 mm inward gets 0.45 mm: all of it is held
    // back; outward nothing stops it; untextured, nothing counts.
    const TriangleMesh hollow = HollowSphere();
    std::vector<float> outer(hollow.vertices.size(), 0.0f);
    std::fill(outer.begin(), outer.begin() + 4514, 1.0f);
    const struct {
        const char* name;
        std::vector<float> weights;
        float mapValue;
        std::uint64_t textured, held;
    } rows[] = {
        {"inward, cut by the clearance", outer, 0.0f, 4514, 4514},
        {"outward, free", outer, 1.0f, 4514, 0},
        {"untextured", std::vector<float>(hollow.vertices.size(), 0.0f), 0.0f, 0, 0},
    };
    for (const auto& row : rows) {
        const Displaced out = Displace(hollow, row.weights,
            DisplacementSettings{.strengthMillimetres = 2.0f, .base = {}}, UniformMap(row.mapValue));
        EXPECT_EQ(out.report.texturedVertices, row.textured) << row.name;
        EXPECT_EQ(out.report.heldBackVertices, row.held) << row.name;
        if (row.held != 0) {
            // Spread over the whole sphere: an eighth of it in the place named, inside the sphere.
            EXPECT_NEAR(out.report.heldBackPlaceShare, 0.125f, 0.02f) << row.name;
            EXPECT_LT(Length(out.report.heldBackPlace), 10.0f) << row.name;
            EXPECT_GT(Length(out.report.heldBackPlace), 3.0f) << row.name;
        }
    }
}

TEST(ApplyDisplacement, MitredCubeEdgesAndCornersMoveEveryFaceByTheSameDepth)
{
    // A 10 mm box with a gridded top: the top's border vertices have two face clusters at 90
    // degrees, its corners three. Grown by 1 mm, every vertex lands 1 mm out from each of its
    // face planes: 0 becomes -1, 10 becomes 11, coordinates inside a face stay.
    const TriangleMesh box = test::MakeGridTopBox(4, 10.0f);
    auto expected = [](float c) { return c == 0.0f ? -1.0f : c == 10.0f ? 11.0f : c; };
    for (const bool mitre : {true, false}) {
        DisplacementSettings settings = Plain(2.0f);
        settings.mitreCreases = mitre;
        const Displaced out = Displace(box, std::vector<float>(box.vertices.size(), 1.0f), settings, UniformMap(1.0f));
        std::size_t missed = 0;
        for (std::size_t v = 0; v < box.vertices.size(); ++v) {
            const Vec3 p = box.vertices[v].position;
            missed += Length(out.mesh.vertices[v].position - Vec3{expected(p.x), expected(p.y), expected(p.z)}) > 1e-5f;
        }
        // Without the mitre the border moves along its normal, which the big side faces bend.
        EXPECT_EQ(missed == 0, mitre) << "mitre " << mitre << ": " << missed << " missed";
    }
}

TEST(ApplyDisplacement, FacesTurningPastAbout154DegreesKeepTheVertexNormal)
{
    // Two triangles hinged on the x axis, their normals +-alpha from +z. The hinge moves along
    // +z by 0.1 mm times the mitre scale 1 / cos(alpha), capped at 2; beyond a . b = -0.9
    // (2 alpha past about 154 degrees) the mitre gives way to the plain normal.
    const std::pair<float, float> cases[] = {{45.0f, std::sqrt(2.0f)}, {74.1f, 2.0f}, {80.9f, 1.0f}};
    for (const auto& [alphaDegrees, scale] : cases) {
        const float a = alphaDegrees * kPi / 180.0f;
        const TriangleMesh hinge = WithNormals(test::MeshOf(
            {{0, 0, 0}, {1, 0, 0}, {0.5f, std::cos(a), std::sin(a)}, {0.5f, -std::cos(a), std::sin(a)}}, {0, 1, 2, 1, 0, 3}));
        DisplacementSettings settings = Plain(0.2f);
        settings.mitreCreases = true;
        const Vec3 move = Displace(hinge, {1, 1, 0, 0}, settings, UniformMap(1.0f)).mesh.vertices[0].position;
        EXPECT_NEAR(move.z, 0.1f * scale, 1e-5f) << alphaDegrees;
        EXPECT_NEAR(Length(move), move.z, 1e-6f) << alphaDegrees;
    }
}

TEST(ApplyDisplacement, FoldGuardEasesASpikeUntilNoTriangleTurnsPastTheTilt)
{
    auto [grid, weights] = GridWithCentreWeight();
    DisplacementSettings settings = Plain(20.0f);  // a 10 mm spike on 1 mm squares
    settings.preventFolds = true;
    const Displaced out = Displace(grid, weights, settings, UniformMap(1.0f));
    const DisplacementReport& r = out.report;
    EXPECT_TRUE(r.foldedTriangles > 0 && r.foldRounds >= 1 && r.foldedLeft == 0) << FormatDisplacementReport(r);
    EXPECT_TRUE(r.easedVertices == 1 && r.easedFurther == 0) << FormatDisplacementReport(r);
    const float tip = out.mesh.vertices[4 * 9 + 4].position.z;
    EXPECT_TRUE(tip > 0.0f && tip < 10.0f) << tip;
    for (std::size_t t = 0; t < grid.TriangleCount(); ++t) {
        const std::uint32_t* i = &grid.indices[3 * t];
        EXPECT_FALSE(TriangleFoldsOver(out.mesh.vertices[i[0]].position, out.mesh.vertices[i[1]].position,
            out.mesh.vertices[i[2]].position, {0, 0, 1}, std::cos(80.0f * kPi / 180.0f))) << t;
    }
}

TEST(ApplyDisplacement, FoldGuardEasesATriangleFoldedOntoItsNeighbourAcrossACrease)
{
    // A floor (z = 0, x > 0) meeting a wall (x = 0) in a hollow, 0.5 mm squares: raising the
    // floor vertex beside the crease by 0.35 mm leans the floor triangle on the crease 35
    // degrees towards the wall, less than the tilt, yet their normals then lie 125 degrees
    // apart, folded. The guard once let it be.
    const TriangleMesh corner = WithNormals(test::MeshOf(
        {{0, 0, 0}, {0, 0.5f, 0}, {0, 1, 0}, {0.5f, 0, 0}, {0.5f, 0.5f, 0}, {0.5f, 1, 0}, {0, 0, 0.5f}, {0, 0.5f, 0.5f},
            {0, 1, 0.5f}},
        {0, 3, 4, 0, 4, 1, 1, 4, 5, 1, 5, 2, 0, 1, 7, 0, 7, 6, 1, 2, 8, 1, 8, 7}));
    std::vector<float> weights(corner.vertices.size(), 0.0f);
    weights[4] = 1.0f;
    DisplacementSettings settings = Plain(0.7f);
    settings.preventFolds = true;
    const Displaced out = Displace(corner, weights, settings, UniformMap(1.0f));
    EXPECT_TRUE(out.report.foldedTriangles > 0 && out.report.foldedLeft == 0) << FormatDisplacementReport(out.report);
    EXPECT_GE(Dot(out.mesh.FaceNormal(1), out.mesh.FaceNormal(4)), -0.5f);
    EXPECT_GT(out.mesh.vertices[4].position.z, 0.0f);
}

// A raised 8 x 8 grid of 1 mm squares with one vertex held where it was (weight 0, as beside a
// thin wall) or raised further (a spike), with a 45 degree tilt: only what folds gives way. The
// guard once eased and then halved the moves of every vertex round a fold it could not ease,
// and the raised field round a held vertex sank to under half its height two squares away.
TEST(ApplyDisplacement, TheFoldGuardTakesBackOnlyWhatFoldsAndTheFieldRoundKeepsItsRelief)
{
    struct Case {
        const char* what;
        float centreWeight;
        float strength;
        int keepsHalfFrom;     // squares from the centre from which a vertex keeps half its move
        int keepsAllFrom;      // and from which all of it
    };
    const Case cases[] = {
        {"held vertex in a field raised 2 mm", 0.0f, 4.0f, 3, 4},
        {"2 mm spike in a field raised 0.5 mm", 4.0f, 1.0f, 0, 1},
    };
    const float tilt = 45.0f;
    for (const Case& c : cases) {
        const TriangleMesh grid = WithNormals(test::MakeFlatGrid(8, 1.0f));
        std::vector<float> weights(grid.vertices.size(), 1.0f);
        weights[4 * 9 + 4] = c.centreWeight;
        DisplacementSettings settings = Plain(c.strength);
        settings.preventFolds = true;
        settings.maximumTiltDegrees = tilt;
        const Displaced out = Displace(grid, weights, settings, UniformMap(1.0f));
        EXPECT_GT(out.report.foldedTriangles, 0u) << c.what;
        EXPECT_EQ(out.report.foldedLeft, 0u) << c.what << FormatDisplacementReport(out.report);
        for (std::size_t t = 0; t < grid.TriangleCount(); ++t) {
            const std::uint32_t* i = &grid.indices[3 * t];
            EXPECT_FALSE(TriangleFoldsOver(out.mesh.vertices[i[0]].position, out.mesh.vertices[i[1]].position,
                out.mesh.vertices[i[2]].position, {0, 0, 1}, std::cos(tilt * kPi / 180.0f))) << c.what << " " << t;
        }
        for (int row = 0; row <= 8; ++row) {
            for (int column = 0; column <= 8; ++column) {
                const std::size_t v = static_cast<std::size_t>(row * 9 + column);
                const int away = std::max(std::abs(row - 4), std::abs(column - 4));
                const float asked = 0.5f * c.strength * weights[v];
                const float got = out.mesh.vertices[v].position.z;
                if (away >= c.keepsHalfFrom) {
                    EXPECT_GE(got, 0.5f * asked) << c.what << " vertex " << v;
                }
                if (away >= c.keepsAllFrom) {
                    EXPECT_EQ(got, asked) << c.what << " vertex " << v;
                }
            }
        }
    }
}

TEST(ApplyDisplacement, AFoldAtTheBaseIsEasedWithinTheLevel)
{
    // Faults: a folded triangle whose corners were all levelled at the base was left turned over
    // (the guard eased only vertices free to move along the base axis), and once the round's
    // list dropped it the report said "0 left". The grid leans 45 degrees, so the base band
    // takes the z part of the spike's move; the guard now eases it within its level.
    auto [grid, weights] = GridWithCentreWeight();
    for (MeshVertex& v : grid.vertices)
        v.position = {v.position.x, v.position.y * 0.70710678f, v.position.y * 0.70710678f};
    grid = WithNormals(grid);
    DisplacementSettings settings = Plain(-40.0f);
    settings.preventFolds = true;
    settings.base = {.enabled = true, .bandMillimetres = 100.0f};
    const Displaced out = Displace(grid, weights, settings, UniformMap(1.0f));
    const DisplacementReport& r = out.report;
    EXPECT_EQ(r.keptLevelAtBase, 1u);
    EXPECT_GT(r.foldedTriangles, 0u);
    EXPECT_EQ(r.foldedLeft, 0u) << FormatDisplacementReport(r);
    EXPECT_EQ(r.easedVertices, 1u);
    const std::size_t spike = 4 * 9 + 4;
    EXPECT_EQ(out.mesh.vertices[spike].position.z, grid.vertices[spike].position.z) << "left its level";
    EXPECT_NE(out.mesh.vertices[spike].position.y, grid.vertices[spike].position.y) << "not moved at all";
}

TEST(ApplyDisplacement, TiltLimitIsUsedWithin10And179AndNaNAsTheDefault)
{
    const auto [grid, weights] = GridWithCentreWeight();
    auto eased = [&grid = grid, &weights = weights](float tilt) {
        DisplacementSettings settings = Plain(20.0f);
        settings.preventFolds = true;
        settings.maximumTiltDegrees = tilt;
        return Positions(Displace(grid, weights, settings, UniformMap(1.0f)).mesh);
    };
    const std::pair<float, float> same[] = {
        {5.0f, 10.0f}, {-1e30f, 10.0f}, {200.0f, 179.0f}, {kInfinity, 179.0f}, {kNaN, 80.0f}};
    for (const auto& [tilt, usedAs] : same)
        EXPECT_EQ(eased(tilt), eased(usedAs)) << tilt << " should act as " << usedAs;
    EXPECT_NE(eased(10.0f), eased(80.0f));
    EXPECT_NE(eased(80.0f), eased(179.0f));
}

TEST(ApplyDisplacement, BaseBandKeepsItsLevelAndNothingCrossesThePlane)
{
    // Loose triangles with normals set by hand: one 0.3 mm over the plane z = 0 leaning down
    // (in the 0.5 mm band: its z part goes), one 1 mm over it pushed 2 mm down (stops at 0).
    TriangleMesh mesh = test::MeshOf({{0, 0, 0.3f}, {1, 0, 0.3f}, {0, 1, 0.3f}, {5, 0, 1}, {6, 0, 1}, {5, 1, 1}},
        {0, 1, 2, 3, 4, 5});
    for (std::size_t v = 0; v < 3; ++v) {
        mesh.vertices[v].normal = {0.0f, 0.6f, -0.8f};
        mesh.vertices[v + 3].normal = {0.0f, 0.0f, -1.0f};
    }
    DisplacementSettings settings = Plain(4.0f);
    settings.base = {.enabled = true, .axis = 2, .protectBelow = true, .planeMillimetres = 0.0f, .bandMillimetres = 0.5f};
    const Displaced out = Displace(mesh, std::vector<float>(6, 1.0f), settings, UniformMap(1.0f));
    for (std::size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(out.mesh.vertices[v].position.z, 0.3f) << v;
        EXPECT_FLOAT_EQ(out.mesh.vertices[v].position.y, mesh.vertices[v].position.y + 1.2f) << v;
        EXPECT_EQ(out.mesh.vertices[v + 3].position.z, 0.0f) << v + 3;
    }
    EXPECT_EQ(out.report.keptLevelAtBase, 3u);
    EXPECT_EQ(out.report.heldAtBasePlane, 3u);
}

TEST(ApplyDisplacement, BaseAxisIsUsedWithin0To2)
{
    // Every corner of the cube lies in the band, so the base axis keeps its coordinates.
    const TriangleMesh cube = MakeTestCube(2.0f);
    auto levelled = [&](std::int32_t axis) {
        DisplacementSettings settings = Plain(1.0f);
        settings.base = {.enabled = true, .axis = axis, .planeMillimetres = -1.0f, .bandMillimetres = 100.0f};
        return Positions(Displace(cube, std::vector<float>(8, 1.0f), settings, UniformMap(1.0f)).mesh);
    };
    const std::pair<std::int32_t, std::int32_t> same[] = {{7, 2}, {INT_MAX, 2}, {-1, 0}, {INT_MIN, 0}};
    for (const auto& [axis, usedAs] : same)
        EXPECT_EQ(levelled(axis), levelled(usedAs)) << axis << " should act as " << usedAs;
    const std::vector<Vec3> alongZ = levelled(2);
    for (std::size_t v = 0; v < 8; ++v)
        EXPECT_EQ(alongZ[v].z, cube.vertices[v].position.z) << v;
    EXPECT_NE(levelled(0), alongZ);
}

TEST(ApplyDisplacement, OutwardFromTheFirstPercentileNeverMovesInward)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const DisplacementSettings settings{
        .midLevelMode = MidLevelMode::automatic, .direction = DisplacementDirection::outward, .base = {}};
    const HeightMap map = RandomMap(5);
    const Displaced out = Displace(sphere, std::vector<float>(sphere.vertices.size(), 1.0f), settings, map);
    EXPECT_EQ(out.report.midLevel, map.LevelledPercentile(0.01f));
    EXPECT_EQ(out.report.minimumOffset, 0.0f);
    EXPECT_GT(out.report.maximumOffset, 0.5f);
    for (std::size_t v = 0; v < sphere.vertices.size(); ++v)
        ASSERT_GE(Length(out.mesh.vertices[v].position), Length(sphere.vertices[v].position) - 1e-5f) << v;
}

TEST(ApplyDisplacement, HeightsWeightsAndThresholdsThatAreNotNumbersMoveNothingWrong)
{
    // Each wrote NaN into the positions, or (the threshold) sent every clearance query through
    // the whole part and found nothing.
    const TriangleMesh hollow = HollowSphere();
    const std::vector<float> ones(hollow.vertices.size(), 1.0f);
    const DisplacementSettings nanThreshold{.wallThresholdMillimetres = kNaN, .holdThinWalls = true, .base = {}};
    const struct {
        const char* what;
        DisplacementSettings settings;
        float weight;
        bool moves;
    } cases[] = {
        {"NaN strength", {.strengthMillimetres = kNaN, .base = {}}, 1.0f, false},
        {"infinite strength", {.strengthMillimetres = kInfinity, .base = {}}, 1.0f, false},
        {"NaN mid level", {.midLevel = kNaN, .base = {}}, 1.0f, false},
        {"weights of 0", {}, 0.0f, false},
        {"NaN weights", {}, kNaN, false},
        {"infinite weights", {}, kInfinity, false},
        {"negative weights", {}, -1.0f, false},
        {"NaN wall threshold", nanThreshold, 1.0f, true},
    };
    for (const auto& c : cases) {
        const Displaced out =
            Displace(hollow, std::vector<float>(hollow.vertices.size(), c.weight), c.settings, RandomMap(7));
        EXPECT_TRUE(HasOnlyFiniteCoordinates(out.mesh)) << c.what;
        EXPECT_EQ(out.report.displacedVertices != 0, c.moves) << c.what;
        EXPECT_TRUE(c.moves || SamePositionBits(out.mesh, hollow)) << c.what;
    }
    DisplacementSettings zeroThreshold = nanThreshold;
    zeroThreshold.wallThresholdMillimetres = 0.0f;
    EXPECT_EQ(Displace(hollow, ones, nanThreshold, RandomMap(7)).report.clearance,
        Displace(hollow, ones, zeroThreshold, RandomMap(7)).report.clearance);
}

TEST(ApplyDisplacement, EveryReliefOfAClosedPartKeepsItsTrianglesAndItsUntexturedVertices)
{
    const TriangleMesh hollow = HollowSphere();
    std::vector<float> weights(hollow.vertices.size());
    for (std::size_t v = 0; v < weights.size(); ++v)
        weights[v] = hollow.vertices[v].position.x < 0.0f ? 0.0f : 1.0f;
    const DisplacementSettings variants[] = {{}, {.mitreCreases = false, .base = {}}, {.preventFolds = false, .base = {}},
        {.limitToClearance = false, .base = {}}, {.maximumTiltDegrees = 10.0f, .base = {}},
        {.holdThinWalls = true, .base = {}}, {.strengthMillimetres = 3.0f, .invert = true, .base = {}},
        {.direction = DisplacementDirection::inward, .base = {}}, {.base = {.enabled = true, .planeMillimetres = -8.0f}}};
    for (std::size_t i = 0; i < std::size(variants); ++i) {
        const Displaced out = Displace(hollow, weights, variants[i], RandomMap(11));
        EXPECT_GT(out.report.displacedVertices, 0u) << i;
        EXPECT_EQ(out.mesh.indices, hollow.indices) << i;
        EXPECT_TRUE(HasOnlyFiniteCoordinates(out.mesh)) << i;
        for (std::size_t v = 0; v < weights.size(); ++v)
            ASSERT_TRUE(weights[v] != 0.0f || SameBits(out.mesh.vertices[v].position, hollow.vertices[v].position)) << i;
    }
}

// A plain face flat at z = 0 over x from 0 to 1 and a textured wall hanging from its rim (x = 0,
// y from 0 to 4) down to z = -1; the rim's vertices are 0 to 4, the plain face's far row 5 to 9
// (no texture), the wall's foot 10 to 14. The rim's middle vertex stands `bulge` out over the
// wall, so the plain triangle between it and its rim neighbours is a sliver whose far edge runs
// along the rim; across that edge lies the plain triangle from rim vertex 1 to 3.
struct RimOverAWall {
    TriangleMesh mesh;
    std::vector<float> weights;
    std::vector<std::uint8_t> plain;
};

RimOverAWall PlainFaceOverAWall(float bulge)
{
    RimOverAWall part;
    for (const float x : {0.0f, 1.0f}) {
        for (int y = 0; y < 5; ++y)
            part.mesh.vertices.push_back({{x == 0.0f && y == 2 ? -bulge : x, static_cast<float>(y), 0.0f}, {}});
    }
    for (int y = 0; y < 5; ++y)
        part.mesh.vertices.push_back({{0.0f, static_cast<float>(y), -1.0f}, {}});
    part.mesh.indices = {0, 5, 6, 0, 6, 1, 1, 6, 7, 1, 7, 3, 3, 7, 8, 3, 8, 4, 4, 8, 9, 1, 3, 2,
        0, 1, 10, 1, 11, 10, 1, 2, 11, 2, 12, 11, 2, 3, 12, 3, 13, 12, 3, 4, 13, 4, 14, 13};
    part.mesh.ComputeVertexNormals();
    part.weights.assign(15, 1.0f);
    std::fill(part.weights.begin() + 5, part.weights.begin() + 10, 0.0f);
    part.plain.assign(16, 0);
    std::fill(part.plain.begin(), part.plain.begin() + 8, 1);
    return part;
}

// A rim vertex moving into its plain face could lay a plain triangle over its neighbour, so
// such moves are held; but a rim whose vertices move together leaves its plain triangles as
// they were and is not held. A hold that measured each vertex against its far edges alone
// pinned the middle of the bulging rim (its sliver's far edge lies on the rim) while its
// neighbours moved on, a notch in the relief's edge that on thin rims left the textured faces
// round it crossing. Here every rim vertex moves 0.4 mm into the face along the mitre, or
// 1.5 mm, past the face's far row 1 mm away, where it must be held.
TEST(ApplyDisplacement, ARimMovingAsOneIntoItsPlainFaceIsNotHeldAndNoPlainTriangleTurns)
{
    const struct {
        const char* what;
        float strength;
        bool foldGuard;
        float rimMove;  // how far every rim vertex moves into the face
    } cases[] = {
        {"a rim moving together past a sliver", 0.8f, false, 0.4f},
        {"the same with the fold guard", 0.8f, true, 0.4f},
        {"a rim moving past the face's far row", 3.0f, false, 0.0f},
        {"the same with the fold guard", 3.0f, true, 0.0f},
    };
    const RimOverAWall part = PlainFaceOverAWall(0.01f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DisplacementSettings settings = Plain(c.strength);
        settings.mitreCreases = true;
        settings.preventFolds = c.foldGuard;
        TriangleMesh mesh = part.mesh;
        const DisplacementReport report =
            ApplyDisplacement(mesh, BigBox(), UniformMap(0.0f), part.weights, settings, nullptr, TileFrame{}, &part.plain);
        EXPECT_GT(report.displacedVertices, 0u);
        EXPECT_TRUE(test::FindPairsThroughGrid(mesh, test::PairRule::meeting).empty());
        for (std::size_t t = 0; t < part.plain.size(); ++t) {
            const std::uint32_t* corner = &mesh.indices[3 * t];
            const Vec3 a = mesh.vertices[corner[0]].position, b = mesh.vertices[corner[1]].position,
                       c2 = mesh.vertices[corner[2]].position;
            if (part.plain[t] != 0) {
                EXPECT_GT(Cross(b - a, c2 - a).z, 0.0f) << "plain triangle " << t << " turned over";
                EXPECT_EQ(std::tuple(a.z, b.z, c2.z), std::tuple(0.0f, 0.0f, 0.0f)) << "plain triangle " << t;
            }
        }
        for (std::uint32_t v = 0; v < 5; ++v) {
            const float moved = mesh.vertices[v].position.x - part.mesh.vertices[v].position.x;
            EXPECT_GE(moved, c.rimMove * 0.99f) << "rim vertex " << v;
        }
    }
}

// Without the clearance limit a relief deeper than the wall drives the outer skin of the hollow
// sphere through its cavity's wall in places, and the relief of two overlapping spheres moves
// the curve where the input already crossed itself. The crossing guard parts every crossing the relief made, eases no
// vertex where it made none and leaves the input's own as they were; without the fold guard the
// crossings are there to part.
TEST(ApplyDisplacement, TheCrossingGuardPartsWhatTheReliefMadeMeetAndLeavesTheInputsOwn)
{
    const TriangleMesh overlapping = WithNormals(test::Combined(MakeTestSphere(10.0f),
        test::Translated(MakeTestSphere(10.0f), {8.0f, 0.0f, 0.0f})));
    struct Case {
        const char* what;
        TriangleMesh part;
        float strength;
        bool madeSome;  // the relief alone meets itself where the input did not
    };
    const Case cases[] = {
        {"hollow sphere, 1.4 mm relief, 1 mm wall", HollowSphere(), 1.4f, true},
        {"hollow sphere, 0.2 mm relief", HollowSphere(), 0.2f, false},
        {"overlapping spheres, 0.5 mm relief", overlapping, 0.5f, true},
    };
    for (const Case& c : cases) {
        const std::vector<float> ones(c.part.vertices.size(), 1.0f);
        DisplacementSettings guarded = Plain(c.strength);
        guarded.preventFolds = true;
        DisplacementSettings unguarded = Plain(c.strength);
        const Displaced out = Displace(c.part, ones, guarded, RandomMap(5));
        const Displaced bare = Displace(c.part, ones, unguarded, RandomMap(5));
        std::vector<test::CrossingPair> given = test::FindMeetingPairsThroughGrid(c.part);
        const auto madeBy = [&](const TriangleMesh& mesh) {
            std::vector<test::CrossingPair> made;
            for (const test::CrossingPair& pair : test::FindMeetingPairsThroughGrid(mesh))
                if (!std::binary_search(given.begin(), given.end(), pair))
                    made.push_back(pair);
            return made;
        };
        std::sort(given.begin(), given.end());
        EXPECT_EQ(!madeBy(bare.mesh).empty(), c.madeSome) << c.what;
        EXPECT_EQ(out.report.crossingPairsMade != 0, c.madeSome) << c.what;
        EXPECT_EQ(out.report.crossingPairsLeft, 0u) << c.what;
        EXPECT_TRUE(madeBy(out.mesh).empty()) << c.what;
        EXPECT_EQ(out.report.crossingVerticesEased == 0, !c.madeSome) << c.what;
        // The guard undoes moves round the crossings only: most of the relief stays.
        EXPECT_LT(out.report.crossingVerticesEased * 4, out.report.displacedVertices) << c.what;
        EXPECT_EQ(out.mesh.indices, c.part.indices) << c.what;
        EXPECT_EQ(test::FindMeetingPairsThroughGrid(out.mesh).empty(), given.empty()) << c.what;
        // The guard's first search, taken over by the check of the result: the input's own
        // crossings (pairs that did not move since) and the places the guard moved afterwards
        // come out as a fresh search finds them.
        ASSERT_NE(out.report.crossingSearch, nullptr) << c.what;
        std::vector<std::uint32_t> known;
        std::vector<std::uint32_t> fresh;
        bool stopped = true;
        EXPECT_TRUE(FindSelfIntersectionsSince(out.mesh, *out.report.crossingSearch, kSearchPairLimit, known, stopped))
            << c.what;
        FindSelfIntersections(out.mesh, {}, kSearchPairLimit, fresh, stopped);
        EXPECT_EQ(test::SortedCrossingPairs(known), test::SortedCrossingPairs(fresh)) << c.what;
    }
}

TEST(SampleVertexHeights, TheTileExtentAndSurfaceFlagsLimitTheTextureByCorner)
{
    // A plane over a 10 x 10 mm grid; the extent is the square from (0, 0) to (3, 3).
    const TriangleMesh grid = WithNormals(test::MakeFlatGrid(10, 1.0f));
    Projection plane = BigBox();
    plane.type = ProjectionKind::Plane;
    const TileFrame square{.on = 1, .width = 3.0f, .height = 3.0f};
    const std::vector<std::uint8_t> outer(grid.TriangleCount(), 255), inner(grid.TriangleCount(), 0);
    const HeightMap map = UniformMap(1.0f);
    const std::vector<float> heights = SampleVertexHeights(grid, plane, map, {}, &outer, square);
    for (std::size_t v = 0; v < grid.vertices.size(); ++v) {
        const Vec3 p = grid.vertices[v].position;
        EXPECT_EQ(heights[v], p.x <= 3.0f && p.y <= 3.0f ? 0.5f : 0.0f) << v;
    }
    // Without flags the extent is left to the texture weights.
    EXPECT_EQ(SampleVertexHeights(grid, plane, map, {}, nullptr, square), std::vector<float>(121, 0.5f));
    // Sides that texture the outside give the inside nothing.
    Projection box = BigBox();
    std::fill(std::begin(box.boxSideSurface), std::end(box.boxSideSurface), SurfaceSide::Outside);
    EXPECT_EQ(SampleVertexHeights(grid, box, map, {}, &inner, TileFrame{}), std::vector<float>(121, 0.0f));
    EXPECT_EQ(SampleVertexHeights(grid, box, map, {}, &outer, TileFrame{}), std::vector<float>(121, 0.5f));
}

TEST(TriangleFoldsOver, TiltBeyondTheLimitCollapseAndTurningOverFold)
{
    // Corners (0, 0, 0), (1, 0, 0) and the third, once facing +z; the limit is 80 degrees.
    const float t70 = 70.0f * kPi / 180.0f, t85 = 85.0f * kPi / 180.0f;
    const std::tuple<Vec3, Vec3, bool> cases[] = {{{0, 1, 0}, {0, 0, 1}, false},
        {{0, std::cos(t70), std::sin(t70)}, {0, 0, 1}, false}, {{0, std::cos(t85), std::sin(t85)}, {0, 0, 1}, true},
        {{0, -1, 0}, {0, 0, 1}, true}, {{2, 0, 0}, {0, 0, 1}, true}, {{0, -1, 0}, {}, false}};
    for (const auto& [third, before, folds] : cases)
        EXPECT_EQ(TriangleFoldsOver({}, {1, 0, 0}, third, before, std::cos(80.0f * kPi / 180.0f)), folds) << third.y;
}

TEST(ApplyDisplacement, SameResultOnOneThreadAsOnMany)
{
    const TriangleMesh hollow = HollowSphere();
    const std::vector<std::uint8_t> outer(hollow.TriangleCount(), 255);
    for (const bool byCorner : {false, true}) {
        Projection projection = BigBox();
        projection.boxSideSurface[4] = byCorner ? SurfaceSide::Outside : SurfaceSide::Both;
        test::ExpectSameOnOneThread([&] {
            const DisplacementSettings settings{.holdThinWalls = true, .strengthMillimetres = 2.0f, .base = {}};
            TriangleMesh mesh = hollow;
            const DisplacementReport r = ApplyDisplacement(mesh, projection, RandomMap(13),
                std::vector<float>(mesh.vertices.size(), 1.0f), settings, &outer, TileFrame{});
            return std::make_pair(Positions(mesh), std::vector<std::uint64_t>{r.displacedVertices, r.cutByClearance,
                                                       r.heldForWalls, r.foldedTriangles, r.easedVertices});
        });
    }
}

}  // namespace
}  // namespace grainforge::mesh
