#include "engine/displacement/vertex_displacement.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kPi = 3.14159265f;

// A map of one value everywhere: every vertex gets (value - 0.5) x strength.
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

// The box projection over a cage that holds the test parts.
Projection BigBox()
{
    Projection projection;
    projection.cage.size = {100.0f, 100.0f, 100.0f};
    return projection;
}

// The relief settings of the tests: only the guards a case names are on.
DisplacementSettings Plain(float strength)
{
    DisplacementSettings settings;
    settings.method = DisplacementMethod::mesh;
    settings.strengthMillimetres = strength;
    settings.limitToClearance = false;
    settings.mitreCreases = false;
    settings.preventFolds = false;
    return settings;
}

struct Displaced {
    TriangleMesh mesh;
    DisplacementReport report;
};

Displaced Displace(TriangleMesh mesh, const std::vector<float>& weights, const DisplacementSettings& settings,
    const HeightMap& map, const Projection& projection = BigBox())
{
    DisplacementReport report = ApplyDisplacement(mesh, projection, map, weights, settings, nullptr, TileFrame{});
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
    if (a.vertices.size() != b.vertices.size())
        return false;
    for (std::size_t v = 0; v < a.vertices.size(); ++v) {
        if (!SameBits(a.vertices[v].position, b.vertices[v].position))
            return false;
    }
    return true;
}

TriangleMesh WithNormals(TriangleMesh mesh)
{
    mesh.ComputeVertexNormals();
    return mesh;
}

// A closed sphere of radius 10 round a cavity of radius 9: two smooth regions 1 mm apart.
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
    struct Case {
        const char* what;
        TriangleMesh mesh;
        std::size_t weightCount;
        HeightMap map;
    };
    const TriangleMesh cube = MakeTestCube(10.0f);
    TriangleMesh partIndex = cube;
    partIndex.indices.pop_back();
    TriangleMesh outOfRange = cube;
    outOfRange.indices[5] = 8;
    TriangleMesh nanVertex = cube;  // not in the design's list: a NaN spreads through the tree
    nanVertex.vertices[3].position.y = kNaN;
    TriangleMesh infiniteVertex = cube;
    infiniteVertex.vertices[0].position.x = kInfinity;
    const Case cases[] = {
        {"index count not a multiple of 3", partIndex, 8, UniformMap(1.0f)},
        {"index out of range", outOfRange, 8, UniformMap(1.0f)},
        {"no vertices", TriangleMesh{}, 0, UniformMap(1.0f)},
        {"empty map", cube, 8, HeightMap{}},
        {"weights of another length", cube, 7, UniformMap(1.0f)},
        {"a NaN coordinate", nanVertex, 8, UniformMap(1.0f)},
        {"an infinite coordinate", infiniteVertex, 8, UniformMap(1.0f)},
    };
    for (const Case& c : cases) {
        const Displaced out = Displace(c.mesh, std::vector<float>(c.weightCount, 1.0f), DisplacementSettings{}, c.map);
        EXPECT_TRUE(SamePositionBits(out.mesh, c.mesh) && out.mesh.indices == c.mesh.indices) << c.what;
        EXPECT_EQ(FormatDisplacementReport(out.report),
            "Displaced 0 of " + std::to_string(c.mesh.vertices.size())
                + " vertices, 0.0000 to 0.0000 mm, relief 0.0000 mm, mid-level 0.5000")
            << c.what;
    }
}

TEST(ApplyDisplacement, WeightsOfZeroMoveNothing)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    DisplacementSettings settings;
    const Displaced out = Displace(sphere, std::vector<float>(sphere.vertices.size(), 0.0f), settings, UniformMap(1.0f));
    EXPECT_EQ(out.report.displacedVertices, 0u);
    EXPECT_TRUE(SamePositionBits(out.mesh, sphere));
}

TEST(ApplyDisplacement, OneSmoothRegionHasNoClearanceAndNothingCutShort)
{
    // The sphere's neighbouring faces all lie within 60 degrees: one region, so no other surface
    // can limit a move, and every vertex moves its full 0.5 mm.
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    DisplacementSettings settings;
    const Displaced out = Displace(sphere, std::vector<float>(sphere.vertices.size(), 1.0f), settings, UniformMap(1.0f));
    EXPECT_EQ(out.report.displacedVertices, sphere.vertices.size());
    EXPECT_EQ(out.report.cutByClearance, 0u);
    EXPECT_TRUE(out.report.clearance.empty());
    EXPECT_EQ(out.report.clearanceTree, nullptr);
    for (const MeshVertex& v : out.mesh.vertices)
        ASSERT_NEAR(Length(v.position), 10.5f, 1e-4f);
}

TEST(ApplyDisplacement, MitredCubeEdgesAndCornersMoveEveryFaceByTheSameDepth)
{
    // A 10 mm box with a gridded top: border vertices of the top have two face clusters at 90
    // degrees, its corners three. Grown by 1 mm, every vertex must land 1 mm out from each of
    // its face planes: 0 becomes -1, 10 becomes 11, and coordinates inside a face stay.
    const TriangleMesh box = test::MakeGridTopBox(4, 10.0f);
    const std::vector<float> weights(box.vertices.size(), 1.0f);
    auto expected = [](float c) { return c == 0.0f ? -1.0f : c == 10.0f ? 11.0f : c; };
    for (const bool mitre : {true, false}) {
        DisplacementSettings settings = Plain(2.0f);
        settings.mitreCreases = mitre;
        const Displaced out = Displace(box, weights, settings, UniformMap(1.0f));
        std::size_t missed = 0;
        for (std::size_t v = 0; v < box.vertices.size(); ++v) {
            const Vec3 p = box.vertices[v].position;
            const Vec3 q = out.mesh.vertices[v].position;
            const Vec3 want{expected(p.x), expected(p.y), expected(p.z)};
            missed += Length(q - want) > 1e-5f ? 1 : 0;
        }
        // Without the mitre the border moves along its normal, which the big side faces bend.
        EXPECT_EQ(missed == 0, mitre) << "mitre " << mitre << ": " << missed << " vertices missed";
    }
}

TEST(ApplyDisplacement, FacesTurningPastAbout154DegreesKeepTheVertexNormal)
{
    // Two triangles hinged on the x axis, their normals tilted by +-alpha from +z, so they turn
    // by 2 alpha. The hinge vertices' normal is +z; the mitre scale 1 / cos(alpha) is capped at
    // 2, and beyond a . b = -0.9 the mitre is dropped for the plain normal.
    struct Case {
        float alphaDegrees;
        float expectedMove;  // in multiples of the 0.1 mm height
    };
    const Case cases[] = {{45.0f, std::sqrt(2.0f)}, {74.1f, 2.0f}, {80.9f, 1.0f}};
    for (const Case& c : cases) {
        const float a = c.alphaDegrees * kPi / 180.0f;
        const TriangleMesh hinge = WithNormals(test::MeshOf(
            {{0, 0, 0}, {1, 0, 0}, {0.5f, std::cos(a), std::sin(a)}, {0.5f, -std::cos(a), std::sin(a)}},
            {0, 1, 2, 1, 0, 3}));
        DisplacementSettings settings = Plain(0.2f);
        settings.mitreCreases = true;
        const Displaced out = Displace(hinge, {1.0f, 1.0f, 0.0f, 0.0f}, settings, UniformMap(1.0f));
        const Vec3 move = out.mesh.vertices[0].position - hinge.vertices[0].position;
        EXPECT_NEAR(move.z, 0.1f * c.expectedMove, 1e-5f) << c.alphaDegrees;
        EXPECT_NEAR(Length(move), move.z, 1e-6f) << c.alphaDegrees;
    }
}

TEST(ApplyDisplacement, FoldGuardEasesASpikeUntilNoTriangleTurnsPastTheTilt)
{
    auto [grid, weights] = GridWithCentreWeight();
    DisplacementSettings settings = Plain(20.0f);  // a 10 mm spike on 1 mm squares
    settings.preventFolds = true;
    const Displaced out = Displace(grid, weights, settings, UniformMap(1.0f));
    const DisplacementReport& r = out.report;
    EXPECT_GT(r.foldedTriangles, 0u);
    EXPECT_GE(r.foldRounds, 1);
    EXPECT_EQ(r.foldedLeft, 0u);
    EXPECT_EQ(r.easedVertices, 1u);
    EXPECT_EQ(r.easedFurther, 0u);
    const float tip = out.mesh.vertices[4 * 9 + 4].position.z;
    EXPECT_GT(tip, 0.0f);
    EXPECT_LT(tip, 10.0f);
    const float cosine = std::cos(80.0f * kPi / 180.0f);
    for (std::size_t t = 0; t < grid.TriangleCount(); ++t) {
        const std::uint32_t* i = &grid.indices[3 * t];
        EXPECT_FALSE(TriangleFoldsOver(out.mesh.vertices[i[0]].position, out.mesh.vertices[i[1]].position,
            out.mesh.vertices[i[2]].position, {0, 0, 1}, cosine)) << t;
    }
}

TEST(ApplyDisplacement, FoldsThatCannotBeEasedAreCountedAsLeft)
{
    // Fault: a folded triangle whose corners were all levelled at the base has nothing to ease;
    // the round's list dropped it, and the report said "0 left" over a turned-over surface.
    // The grid leans 45 degrees, so its spike has a z part that the base band removes.
    auto [grid, weights] = GridWithCentreWeight();
    for (MeshVertex& v : grid.vertices)
        v.position = {v.position.x, v.position.y * 0.70710678f, v.position.y * 0.70710678f};
    grid = WithNormals(grid);
    DisplacementSettings settings = Plain(-40.0f);
    settings.preventFolds = true;
    settings.base.enabled = true;
    settings.base.bandMillimetres = 100.0f;
    const Displaced out = Displace(grid, weights, settings, UniformMap(1.0f));
    EXPECT_EQ(out.report.keptLevelAtBase, 1u);
    EXPECT_GT(out.report.foldedTriangles, 0u);
    EXPECT_EQ(out.report.foldedLeft, out.report.foldedTriangles);
    EXPECT_EQ(out.report.easedVertices, 0u);
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
    const std::pair<float, float> same[] = {{5.0f, 10.0f}, {-1e30f, 10.0f}, {200.0f, 179.0f}, {kInfinity, 179.0f},
        {kNaN, 80.0f}};
    for (const auto& [tilt, usedAs] : same)
        EXPECT_EQ(eased(tilt), eased(usedAs)) << tilt << " should act as " << usedAs;
    EXPECT_NE(eased(10.0f), eased(80.0f));
    EXPECT_NE(eased(80.0f), eased(179.0f));
}

TEST(ApplyDisplacement, BaseBandKeepsItsLevelAndNothingCrossesThePlane)
{
    // Two loose triangles with normals set by hand: one 0.3 mm over the plane z = 0 leaning
    // down (inside the 0.5 mm band, so its z part is removed), one 1 mm over it pushed 2 mm down
    // (beyond the band, so it stops on the plane).
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

TEST(ResolveMidLevel, TakesTheManualValueOrOneFromTheMap)
{
    HeightMap map = RandomMap(3);
    struct Case {
        MidLevelMode mode;
        DisplacementDirection direction;
        float expected;
    };
    const Case cases[] = {
        {MidLevelMode::manual, DisplacementDirection::outward, 0.3f},
        {MidLevelMode::automatic, DisplacementDirection::outward, map.LevelledPercentile(0.01f)},
        {MidLevelMode::automatic, DisplacementDirection::inward, map.LevelledPercentile(0.99f)},
        {MidLevelMode::automatic, DisplacementDirection::centred, 0.5f},  // the map has no mid value
    };
    for (const Case& c : cases) {
        DisplacementSettings settings;
        settings.midLevel = 0.3f;
        settings.midLevelMode = c.mode;
        settings.direction = c.direction;
        EXPECT_EQ(ResolveMidLevel(map, settings), c.expected) << static_cast<int>(c.direction);
        EXPECT_EQ(ResolveMidLevel(HeightMap{}, settings), 0.3f) << "an empty map keeps the manual value";
    }
    map.midValue = 0.25f;
    map.hasMidValue = true;
    map.settings.invert = true;
    DisplacementSettings centred;
    centred.midLevelMode = MidLevelMode::automatic;
    EXPECT_EQ(ResolveMidLevel(map, centred), 0.75f);  // the mid value through the levels
}

TEST(ApplyDisplacement, OutwardFromTheFirstPercentileNeverMovesInward)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    DisplacementSettings settings;
    settings.midLevelMode = MidLevelMode::automatic;
    settings.direction = DisplacementDirection::outward;
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
    // Each used to write NaN into the positions or, for the threshold, to send every clearance
    // query through the whole part.
    const TriangleMesh hollow = HollowSphere();
    const std::vector<float> ones(hollow.vertices.size(), 1.0f);
    struct Case {
        const char* what;
        DisplacementSettings settings;
        float weight;
        bool moves;
    };
    DisplacementSettings nanStrength, infiniteStrength, nanMid, nanThreshold;
    nanStrength.strengthMillimetres = kNaN;
    infiniteStrength.strengthMillimetres = kInfinity;
    nanMid.midLevel = kNaN;
    nanThreshold.wallThresholdMillimetres = kNaN;
    nanThreshold.holdThinWalls = true;
    const Case cases[] = {
        {"NaN strength", nanStrength, 1.0f, false},
        {"infinite strength", infiniteStrength, 1.0f, false},
        {"NaN mid level", nanMid, 1.0f, false},
        {"NaN weights", DisplacementSettings{}, kNaN, false},
        {"infinite weights", DisplacementSettings{}, kInfinity, false},
        {"negative weights", DisplacementSettings{}, -1.0f, false},
        {"NaN wall threshold", nanThreshold, 1.0f, true},
    };
    for (const Case& c : cases) {
        const Displaced out = Displace(hollow, std::vector<float>(hollow.vertices.size(), c.weight), c.settings,
            RandomMap(7));
        EXPECT_TRUE(HasOnlyFiniteCoordinates(out.mesh)) << c.what;
        EXPECT_EQ(out.report.displacedVertices != 0, c.moves) << c.what;
        if (!c.moves) {
            EXPECT_TRUE(SamePositionBits(out.mesh, hollow)) << c.what;
        }
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
    std::vector<DisplacementSettings> variants(9);
    variants[1].mitreCreases = false;
    variants[2].preventFolds = false;
    variants[3].limitToClearance = false;
    variants[4].holdThinWalls = true;
    variants[5].direction = DisplacementDirection::inward;
    variants[6].invert = true;
    variants[6].strengthMillimetres = 3.0f;
    variants[7].base = {.enabled = true, .planeMillimetres = -8.0f};
    variants[8].maximumTiltDegrees = 10.0f;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const Displaced out = Displace(hollow, weights, variants[i], RandomMap(11));
        EXPECT_GT(out.report.displacedVertices, 0u) << i;
        EXPECT_EQ(out.mesh.indices, hollow.indices) << i;
        EXPECT_TRUE(HasOnlyFiniteCoordinates(out.mesh)) << i;
        for (std::size_t v = 0; v < weights.size(); ++v) {
            if (weights[v] == 0.0f) {
                ASSERT_TRUE(SameBits(out.mesh.vertices[v].position, hollow.vertices[v].position)) << i << " " << v;
            }
        }
    }
}

TEST(ApplyDisplacement, ClearanceOfTwoRegionsIsKeptAndLimitsTheMove)
{
    // The outer sphere moving 1 mm in would meet the cavity wall 1 mm away; it may use 0.45 mm.
    const TriangleMesh hollow = HollowSphere();
    std::vector<float> weights(hollow.vertices.size(), 0.0f);
    std::fill(weights.begin(), weights.begin() + 4514, 1.0f);  // the outer sphere
    DisplacementSettings settings;
    settings.strengthMillimetres = 2.0f;
    const Displaced out = Displace(hollow, weights, settings, UniformMap(0.0f));
    ASSERT_EQ(out.report.clearance.size(), hollow.vertices.size());
    ASSERT_NE(out.report.clearanceTree, nullptr);
    EXPECT_EQ(out.report.cutByClearance, 4514u);
    EXPECT_NEAR(out.report.minimumOffset, -0.45f, 0.01f);
    for (std::size_t v = 0; v < 4514; ++v) {
        ASSERT_NEAR(out.report.clearance[v], 1.0f, 0.01f) << v;
        ASSERT_NEAR(Length(out.mesh.vertices[v].position), 9.55f, 0.01f) << v;
    }
}

TEST(ApplyDisplacement, StagesAreTimedInTheOrderTheyRun)
{
    DisplacementSettings settings;
    settings.holdThinWalls = true;
    const TriangleMesh hollow = HollowSphere();
    const Displaced out = Displace(hollow, std::vector<float>(hollow.vertices.size(), 1.0f), settings, RandomMap(2));
    std::vector<std::string> names;
    for (const StageTime& stage : out.report.stageTimes)
        names.push_back(stage.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Sampling the map", "Face normals and centroids", "Edge table",
                         "Smooth regions", "Vertex faces", "Tree", "Clearance queries", "Clearance smoothing",
                         "Walls held", "Mitre", "Moving", "Fold guard", "Bounds and normals"}));
}

TEST(SampleVertexHeights, TheTileExtentAndSurfaceFlagsLimitTheTextureByCorner)
{
    // A plane over a 10 x 10 mm grid; the extent is the square from (0, 0) to (3, 3).
    const TriangleMesh grid = WithNormals(test::MakeFlatGrid(10, 1.0f));
    Projection plane = BigBox();
    plane.type = ProjectionKind::Plane;
    const TileFrame square{.on = 1, .width = 3.0f, .height = 3.0f};
    const std::vector<std::uint8_t> outer(grid.TriangleCount(), 255);
    DisplacementSettings settings;
    const std::vector<float> heights = SampleVertexHeights(grid, plane, UniformMap(1.0f), settings, &outer, square);
    for (std::size_t v = 0; v < grid.vertices.size(); ++v) {
        const Vec3 p = grid.vertices[v].position;
        EXPECT_EQ(heights[v], p.x <= 3.0f && p.y <= 3.0f ? 0.5f : 0.0f) << v;
    }
    // Without flags the extent is left to the texture weights: every vertex samples.
    for (float h : SampleVertexHeights(grid, plane, UniformMap(1.0f), settings, nullptr, square))
        ASSERT_EQ(h, 0.5f);
    // Sides that texture the outside only give the inside nothing.
    Projection box = BigBox();
    std::fill(std::begin(box.boxSideSurface), std::end(box.boxSideSurface), SurfaceSide::Outside);
    const std::vector<std::uint8_t> inner(grid.TriangleCount(), 0);
    for (float h : SampleVertexHeights(grid, box, UniformMap(1.0f), settings, &inner, TileFrame{}))
        ASSERT_EQ(h, 0.0f);
    for (float h : SampleVertexHeights(grid, box, UniformMap(1.0f), settings, &outer, TileFrame{}))
        ASSERT_EQ(h, 0.5f);
}

TEST(SampleVertexHeights, HeightFollowsStrengthInversionAndDirection)
{
    const TriangleMesh cube = MakeTestCube(2.0f);
    struct Case {
        float value;
        bool invert;
        DisplacementDirection direction;
        float expected;  // strength 2
    };
    const Case cases[] = {
        {0.75f, false, DisplacementDirection::centred, 0.5f},
        {0.75f, true, DisplacementDirection::centred, -0.5f},
        {0.25f, false, DisplacementDirection::outward, 0.0f},
        {0.75f, false, DisplacementDirection::outward, 0.5f},
        {0.75f, false, DisplacementDirection::inward, 0.0f},
        {0.25f, false, DisplacementDirection::inward, -0.5f},
    };
    for (const Case& c : cases) {
        DisplacementSettings settings;
        settings.strengthMillimetres = 2.0f;
        settings.invert = c.invert;
        settings.direction = c.direction;
        for (float h : SampleVertexHeights(cube, BigBox(), UniformMap(c.value), settings, nullptr, TileFrame{}))
            ASSERT_EQ(h, c.expected) << c.value << " " << static_cast<int>(c.direction);
    }
}

TEST(TriangleFoldsOver, TiltBeyondTheLimitCollapseAndTurningOverFold)
{
    const float cos80 = std::cos(80.0f * kPi / 180.0f);
    const Vec3 up{0, 0, 1};
    struct Case {
        const char* what;
        Vec3 c;  // third corner; the first two are (0, 0, 0) and (1, 0, 0)
        Vec3 startNormal;
        bool folds;
    };
    const float t70 = 70.0f * kPi / 180.0f, t85 = 85.0f * kPi / 180.0f;
    const Case cases[] = {
        {"unmoved", {0, 1, 0}, up, false},
        {"tilted 70 degrees", {0, std::cos(t70), std::sin(t70)}, up, false},
        {"tilted 85 degrees", {0, std::cos(t85), std::sin(t85)}, up, true},
        {"turned over", {0, -1, 0}, up, true},
        {"collapsed", {2, 0, 0}, up, true},
        {"no normal before", {0, -1, 0}, {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TriangleFoldsOver({0, 0, 0}, {1, 0, 0}, c.c, c.startNormal, cos80), c.folds) << c.what;
}

TEST(ApplyDisplacement, SameResultOnOneThreadAsOnMany)
{
    const TriangleMesh hollow = HollowSphere();
    std::vector<std::uint8_t> outer(hollow.TriangleCount(), 255);
    for (const bool byCorner : {false, true}) {
        Projection projection = BigBox();
        if (byCorner)
            projection.boxSideSurface[4] = SurfaceSide::Outside;
        test::ExpectSameOnOneThread([&] {
            DisplacementSettings settings;
            settings.holdThinWalls = true;
            settings.strengthMillimetres = 2.0f;
            TriangleMesh mesh = hollow;
            const DisplacementReport r = ApplyDisplacement(mesh, projection, RandomMap(13),
                std::vector<float>(mesh.vertices.size(), 1.0f), settings, &outer, TileFrame{});
            return std::make_pair(Positions(mesh),
                std::vector<std::uint64_t>{r.displacedVertices, r.cutByClearance, r.heldForWalls, r.foldedTriangles,
                    r.easedVertices});
        });
    }
}

}  // namespace
}  // namespace grainforge::mesh
