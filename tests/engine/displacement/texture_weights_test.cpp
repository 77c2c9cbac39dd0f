#include "engine/displacement/texture_weights.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/test_shapes.h"

#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr std::uint32_t kNowhere = 0xFFFFFFFFu;

TriangleMesh WithNormals(TriangleMesh mesh, Vec3 normal)
{
    for (MeshVertex& v : mesh.vertices)
        v.normal = normal;
    return mesh;
}

// The unit square in z = 0 facing +Z: triangles (0, 1, 2) and (0, 2, 3).
TriangleMesh FlatSquare()
{
    return WithNormals(test::MeshOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3}), {0, 0, 1});
}

// Vertex 0 joins an outer triangle of area 0.5 and an inner one of area 2, so the outer share
// of the area around it is 0.2.
TriangleMesh OuterAndInner(Vec3 normal)
{
    return WithNormals(
        test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-2, 0, 0}, {0, -2, 0}}, {0, 1, 2, 0, 3, 4}), normal);
}
const std::vector<std::uint8_t> kOuterInner = {255, 0};

// A sharp box projection with only the listed sides projecting.
Projection BoxWith(std::initializer_list<int> sides)
{
    Projection projection;
    projection.cage.size = {100, 100, 100};
    std::fill(std::begin(projection.boxSideEnabled), std::end(projection.boxSideEnabled), 0);
    for (int side : sides)
        projection.boxSideEnabled[side] = 1;
    return projection;
}

// Blended with sharpness 1, +X off: a normal (0.6, 0, 0.8) lands 0.8 of 1.4 on enabled sides.
Projection BlendedOutsideOnly()
{
    Projection projection = BoxWith({1, 2, 3, 4, 5});
    projection.boxBlended = 1;
    projection.boxBlendSharpness = 1.0f;
    std::fill(std::begin(projection.boxSideSurface), std::end(projection.boxSideSurface), SurfaceSide::Outside);
    return projection;
}
constexpr float kTiltedCoverage = 0.8f / 1.4f;

DisplacementSettings Rule(OutsideRule rule)
{
    DisplacementSettings settings;
    settings.outsideRule = rule;
    return settings;
}

TEST(ComputeTextureWeights, InvalidMeshGivesEmptyWeightsAndAZeroSummary)
{
    const TriangleMesh cases[] = {
        test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2, 0}),  // not a multiple of 3
        test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 3}),     // index out of range
        TriangleMesh{},
    };
    for (const TriangleMesh& mesh : cases) {
        const TextureWeights weights = ComputeTextureWeights(mesh, BoxWith({4}), {}, {}, {});
        EXPECT_EQ(weights, TextureWeights{});
        EXPECT_EQ(FormatTextureWeights(weights), "0 of 0 faces receive texture, 0 of 0 vertices will move");
    }
}

TEST(ComputeTextureWeights, FlatSquareUnderASharpBox)
{
    struct Case {
        const char* what;
        Projection projection;
        TileFrame frame;
        float weight;
    };
    const Case cases[] = {
        {"+Z projects", BoxWith({4}), {}, 1.0f},
        {"only -Z projects", BoxWith({5}), {}, 0.0f},
        {"+Z, tile elsewhere", BoxWith({4}), {.on = 1, .offsetX = 500.0f}, 0.0f},
    };
    for (const Case& c : cases) {
        const TextureWeights w = ComputeTextureWeights(FlatSquare(), c.projection, {}, {}, c.frame);
        EXPECT_EQ(w.cornerWeights, std::vector<float>(6, c.weight)) << c.what;
        EXPECT_EQ(w.vertexWeights, std::vector<float>(4, c.weight)) << c.what;
        EXPECT_EQ(w.faceTextured, std::vector<std::uint8_t>(2, c.weight > 0 ? 1 : 0)) << c.what;
        EXPECT_EQ(w.faceOuterMask, std::vector<std::uint8_t>(2, 255)) << c.what;
        EXPECT_TRUE(w.MatchesMesh(FlatSquare())) << c.what;
    }
    EXPECT_EQ(FormatTextureWeights(ComputeTextureWeights(FlatSquare(), BoxWith({4}), {}, {}, {})),
        "2 of 2 faces receive texture, 4 of 4 vertices will move, mean weight 1.00");
}

// On the 20 mm cube (triangles 0-1 the bottom at z = -10, 2-3 the top, 4-11 the walls) every
// corner's vertex normal leans on three faces, yet only the faces the projection takes, and
// that the bed leaves free, receive texture: the walls beside a textured top or a held bottom
// stay plain, so the relief does not spill onto them or grow a lip at the bed.
// A 12 mm wall of 0.3 mm triangles in the plane x = 0 facing +x, its low corner `at`.
TriangleMesh Wall(Vec3 at)
{
    TriangleMesh wall = test::MakeFlatGrid(40, 0.3f);
    for (MeshVertex& v : wall.vertices)
        v.position = Vec3{v.position.z, v.position.x, v.position.y} + at;
    wall.ComputeBounds();
    wall.ComputeVertexNormals();
    return wall;
}

// The same wall turned 20 degrees about x and 30 about z, a vertical face still: the turn rounds
// its corners off its plane, a few float steps either way.
TriangleMesh TurnedWall() { return test::TurnedAboutXThenZ(Wall({20.0f, 5.0f, 5.0f}), 20.0f, 30.0f); }

TEST(ComputeTextureWeights, OnlyFacesTheProjectionTakesAndTheBedLeavesFreeAreTextured)
{
    Projection up;
    up.type = ProjectionKind::Plane;
    up.cage.size = {30, 30, 30};
    Projection down = up;
    down.cage.rotationDegrees = {180, 0, 0};
    DisplacementSettings bed, below;
    bed.base = {.enabled = true, .planeMillimetres = -10.0f};
    below.base = {.enabled = true, .planeMillimetres = -11.0f};
    // A 4 m cube standing on z = 0, its bed corners a few float steps of its size above it.
    TriangleMesh large = MakeTestCube(4000.0f);
    for (MeshVertex& vertex : large.vertices)
        vertex.position.z = vertex.position.z < 0.0f ? 0.001f : 4000.0f;
    large.ComputeBounds();
    DisplacementSettings atZero;
    atZero.base = {.enabled = true, .planeMillimetres = 0.0f};
    Projection downLarge = down;
    downLarge.cage.size = {5000, 5000, 5000};
    using Flags = std::vector<std::uint8_t>;
    const Flags none(12, 0), top{0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}, bottom{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        wallsAndTop{0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const TriangleMesh cube = MakeTestCube(20.0f);
    const TriangleMesh turnedWall = TurnedWall();
    Projection upLarge = up;
    upLarge.cage.size = {200, 200, 200};
    const std::tuple<const char*, Projection, DisplacementSettings, Flags, const TriangleMesh*> cases[] = {
        {"plane facing +Z", up, {}, top, &cube},
        {"plane facing -Z, bed face kept flat", down, bed, none, &cube},
        {"plane facing -Z, the bed below the part", down, below, bottom, &cube},
        {"box without -Z, bed face kept flat", BoxWith({0, 1, 2, 3, 4}), bed, wallsAndTop, &cube},
        {"box with -Z alone, bed face kept flat", BoxWith({5}), bed, none, &cube},
        {"plane facing -Z, 4 m part on the bed to its own float", downLarge, atZero, none, &large},
        {"plane facing +Z, a wall square to it turned about x and z", upLarge, {}, Flags(turnedWall.TriangleCount(), 0),
            &turnedWall},
    };
    for (const auto& [what, projection, settings, textured, mesh] : cases) {
        const TextureWeights w = ComputeTextureWeights(*mesh, projection, {}, settings, {});
        EXPECT_EQ(w.faceTextured, textured) << what;
        for (std::size_t corner = 0; corner < w.cornerWeights.size(); ++corner)
            EXPECT_TRUE(textured[corner / 3] != 0 || w.cornerWeights[corner] == 0.0f) << what << " " << corner;
    }
}

TEST(ComputeTextureWeights, SharedVertexOfOuterAndInnerFacesByRule)
{
    struct Case {
        OutsideRule rule;
        float vertexZero;
    };
    const Case cases[] = {
        {OutsideRule::any, kTiltedCoverage},
        {OutsideRule::all, 0.0f},
        {OutsideRule::average, kTiltedCoverage * 0.2f},
        {static_cast<OutsideRule>(7), 0.0f},  // not a rule: nothing moves
    };
    const TriangleMesh mesh = OuterAndInner({0.6f, 0.0f, 0.8f});
    for (const Case& c : cases) {
        const TextureWeights w = ComputeTextureWeights(mesh, BlendedOutsideOnly(), kOuterInner, Rule(c.rule), {});
        ASSERT_EQ(w.cornerWeights.size(), 6u);
        EXPECT_NEAR(w.cornerWeights[0], kTiltedCoverage, 1e-6f);
        EXPECT_EQ(w.cornerWeights[3], 0.0f) << "the inner face's corner";
        EXPECT_EQ(w.faceTextured, (std::vector<std::uint8_t>{1, 0}));
        EXPECT_EQ(w.faceOuterMask, kOuterInner);
        EXPECT_NEAR(w.vertexWeights[0], c.vertexZero, 1e-6f) << static_cast<int>(c.rule);
    }
}

TEST(ComputeTextureWeights, OuterMaskOfTheWrongLengthIsIgnored)
{
    const TextureWeights w = ComputeTextureWeights(
        OuterAndInner({0.6f, 0.0f, 0.8f}), BlendedOutsideOnly(), std::vector<std::uint8_t>{0}, {}, {});
    EXPECT_EQ(w.faceOuterMask, (std::vector<std::uint8_t>{255, 255}));
    EXPECT_EQ(w.faceTextured, (std::vector<std::uint8_t>{1, 1}));
}

TEST(ComputeTextureWeights, MaskZeroesInsideAndFadesOverTheFeather)
{
    struct Case {
        const char* what;
        float outside;  // distance of the triangle's plane outside the mask, mm
        float feather;
        std::uint8_t enabled;
        float weight;
    };
    const Case cases[] = {
        {"inside", -0.5f, 2.0f, 1, 0.0f},
        {"on the boundary", 0.0f, 2.0f, 1, 0.0f},
        {"1 mm out", 1.0f, 2.0f, 1, 0.5f},  // 1 - (3 - 1) x 0.25
        {"2 mm out", 2.0f, 2.0f, 1, 1.0f},
        {"5 mm out", 5.0f, 2.0f, 1, 1.0f},
        {"disabled", -0.5f, 2.0f, 0, 1.0f},
        {"no feather, inside", -0.5f, 0.0f, 1, 0.0f},
        {"no feather, just out", 0.25f, 0.0f, 1, 1.0f},
    };
    for (const Case& c : cases) {
        // A face in the plane x = 1 + outside, facing +X, beside a 2 mm box mask at the origin.
        const float x = 1.0f + c.outside;
        const TriangleMesh mesh =
            WithNormals(test::MeshOf({{x, 0, 0}, {x, 0.5f, 0}, {x, 0, 0.5f}}, {0, 1, 2}), {1, 0, 0});
        MaskVolume mask;
        mask.size = {2, 2, 2};
        mask.featherMillimetres = c.feather;
        mask.enabled = c.enabled;
        const std::vector<MaskVolume> masks = {mask};
        const TextureWeights w = ComputeTextureWeights(mesh, BoxWith({0}), {}, {}, {}, masks);
        EXPECT_EQ(w.cornerWeights, std::vector<float>(3, c.weight)) << c.what;
    }
}

TEST(FacesTakenAsThePartsFaces, AWallRemeshedWithACornerOffItsPlaneStaysAsPlainAsTheWall)
{
    // A corner 0.003 mm off the wall's plane, as the remesh places one on a crease, leans the
    // triangles round it a degree towards a plane from above: judged by the wall they came
    // from they take no texture.
    TriangleMesh remeshed = Wall({});
    remeshed.vertices[20 * 41 + 20].position.x += 0.003f;
    remeshed.ComputeVertexNormals();
    const TriangleMesh wall =
        test::MeshOf({{0, 0, 0}, {0, 12, 0}, {0, 12, 12}, {0, 0, 12}}, {0, 1, 2, 0, 2, 3});
    Projection up;
    up.type = ProjectionKind::Plane;
    up.cage.size = {100, 100, 100};
    std::size_t ownTaken = 0;
    for (std::size_t t = 0; t < remeshed.TriangleCount(); ++t)
        ownTaken += ProjectionTakesFace(remeshed, t, up, 255) ? 1 : 0;
    EXPECT_GT(ownTaken, 0u);
    const std::vector<std::uint8_t> taken = FacesTakenAsThePartsFaces(remeshed, wall, up, {});
    EXPECT_EQ(taken, std::vector<std::uint8_t>(remeshed.TriangleCount(), 0));
    const TextureWeights w = ComputeTextureWeights(remeshed, up, {}, {}, {}, {}, taken);
    EXPECT_EQ(w.faceTextured, taken);
}

// The wall x = 0 of 12 mm as a fan of 2 `halfFan` slivers from its corner at the origin, as a
// finely cut cone's side or base is made.
TriangleMesh FanWall(std::uint32_t halfFan)
{
    std::vector<Vec3> corners{{0, 0, 0}};
    for (std::uint32_t k = 0; k <= halfFan; ++k)
        corners.push_back({0, 12, 12.0f * static_cast<float>(k) / static_cast<float>(halfFan)});
    for (std::uint32_t k = 1; k <= halfFan; ++k)
        corners.push_back({0, 12.0f - 12.0f * static_cast<float>(k) / static_cast<float>(halfFan), 12});
    std::vector<std::uint32_t> indices;
    for (std::uint32_t rim = 1; rim + 1 < corners.size(); ++rim)
        indices.insert(indices.end(), {0, rim, rim + 1});
    return test::MeshOf(corners, indices);
}

TEST(FacesTakenAsThePartsFaces, AFaceOfThePartWithinTheLongestEdgeJudgesTheTriangle)
{
    // A triangle leaning `degrees` up from the wall (x = 0, facing +x), its centroid `off` mm
    // out in front of it and its longest edge 0.335 mm: within that reach and within 30
    // degrees the wall judges it (plain under a projection from above), beyond either its own
    // normal does (taken). The wall is two triangles, or a fan of 2,000 slivers whose search
    // turns whole groups away.
    const TriangleMesh square =
        test::MeshOf({{0, 0, 0}, {0, 12, 0}, {0, 12, 12}, {0, 0, 12}}, {0, 1, 2, 0, 2, 3});
    const TriangleMesh fan = FanWall(1000);
    Projection up;
    up.type = ProjectionKind::Plane;
    up.cage.size = {100, 100, 100};
    const Vec3 along{0, 1, 0};
    struct Case { float off; float degrees; bool byTheWall; };
    const Case cases[] = {{0.02f, 20.0f, true}, {0.1f, 20.0f, true}, {0.3f, 20.0f, true}, {0.4f, 20.0f, false},
        {2.0f, 20.0f, false}, {0.0f, 29.0f, true}, {0.1f, 29.5f, true}, {0.1f, 30.5f, false}, {0.0f, 31.0f, false}};
    for (const TriangleMesh* wall : {&square, &fan}) {
        for (const Case& c : cases) {
            const float lean = c.degrees * 3.14159265f / 180.0f;
            const Vec3 upSlope{-std::sin(lean), 0, std::cos(lean)};
            const Vec3 centre{c.off, 6, 6};
            const TriangleMesh leaning = test::MeshOf({centre - along * 0.15f - upSlope * 0.1f,
                centre + along * 0.15f - upSlope * 0.1f, centre + upSlope * 0.2f}, {0, 1, 2});
            const bool own = ProjectionTakesFace(leaning, 0, up, 255);
            const bool wallTakes = ProjectionTakesFace(*wall, 0, up, 255);
            ASSERT_NE(own, wallTakes) << c.off;
            const std::vector<std::uint8_t> taken = FacesTakenAsThePartsFaces(leaning, *wall, up, {});
            ASSERT_EQ(taken.size(), 1u);
            EXPECT_EQ(taken[0] != 0, c.byTheWall ? wallTakes : own)
                << c.off << " mm, " << c.degrees << " degrees, " << wall->TriangleCount() << " triangles";
        }
    }
}

// The face of `part` nearest `p` among those facing within 30 degrees of the unit `normal` and
// lying within `reach` of it, found by measuring every face; -1 when none is.
std::int32_t NearestSameFaceByEveryFace(const TriangleMesh& part, Vec3 p, Vec3 normal, float reach)
{
    std::int32_t nearest = -1;
    double best = static_cast<double>(reach) * reach;
    const auto wide = [](Vec3 v) { return Vec3d{v.x, v.y, v.z}; };
    for (std::size_t f = 0; f < part.TriangleCount(); ++f) {
        if (!(Dot(part.FaceNormal(f), normal) >= 0.8660254f))
            continue;
        const Vec3d q = ClosestPointOnTriangle(wide(p), wide(part.vertices[part.indices[3 * f]].position),
            wide(part.vertices[part.indices[3 * f + 1]].position), wide(part.vertices[part.indices[3 * f + 2]].position));
        const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
        if (dx * dx + dy * dy + dz * dz < best) {
            best = dx * dx + dy * dy + dz * dz;
            nearest = static_cast<std::int32_t>(f);
        }
    }
    return nearest;
}

TEST(FacesTakenAsThePartsFaces, TheFacetNearestJudgesTheTriangleOnACoarseAndAFinelyCutCone)
{
    // Under +X and -Y a sharp box takes a cone's facets short of 45 degrees round its axis and
    // leaves those past it, and leaves those short of 225 degrees and takes those past it, so a
    // triangle by either line is judged by the very facet nearest it. The facets of the fine
    // cone turn within every group the search turns away at once, and the triangles lie from
    // 0.001 mm (within the shortest reach the search tries first) to 0.1 mm (within the whole
    // edge only) off the smooth cone.
    const Projection sides = BoxWith({0, 3});
    struct Case { std::uint32_t segments; float eighths; float facets; };  // facets on from the line
    std::vector<Case> cases;
    for (const std::uint32_t segments : {96u, 5000u})
        for (const float eighths : {1.0f, 5.0f})
            for (const float facets : {-1.4f, -0.4f, 0.4f, 1.4f})
                cases.push_back({segments, eighths, facets});
    std::size_t takenCount = 0, plainCount = 0;
    for (const Case& c : cases) {
        const TriangleMesh cone = test::MakeCone(40.0f, 40.0f, c.segments);
        const float azimuth = 3.14159265f * (c.eighths / 4.0f + 2.0f * c.facets / static_cast<float>(c.segments));
        const Vec3 out{std::cos(azimuth), std::sin(azimuth), 0.0f};
        const Vec3 along{-std::sin(azimuth), std::cos(azimuth), 0.0f};
        const Vec3 upSlope = Normalized(Vec3{0, 0, 40} - out * 20.0f);
        const Vec3 normal = Normalized(Cross(along, upSlope));
        for (const float height : {5.0f, 20.0f, 35.0f})
            for (const float off : {0.001f, 0.004f, 0.02f, 0.1f}) {
                const Vec3 centre = out * (20.0f * (1.0f - height / 40.0f)) + Vec3{0, 0, height} + normal * off;
                const TriangleMesh near = test::MeshOf({centre - along * 0.15f - upSlope * 0.1f,
                    centre + along * 0.15f - upSlope * 0.1f, centre + upSlope * 0.2f}, {0, 1, 2});
                const Vec3 a = near.vertices[0].position, b = near.vertices[1].position, d = near.vertices[2].position;
                const float longest = std::max({Length(b - a), Length(d - b), Length(a - d)});
                const std::int32_t facet = NearestSameFaceByEveryFace(cone, centre, near.FaceNormal(0), longest);
                ASSERT_GE(facet, 0);
                const bool expected = ProjectionTakesFace(cone, static_cast<std::size_t>(facet), sides, 255);
                (expected ? takenCount : plainCount) += 1;
                const std::vector<std::uint8_t> taken = FacesTakenAsThePartsFaces(near, cone, sides, {});
                ASSERT_EQ(taken.size(), 1u);
                EXPECT_EQ(taken[0] != 0, expected)
                    << c.segments << " segments, " << c.eighths << " eighths, " << c.facets << " facets, " << height << " mm up, " << off << " mm off";
            }
    }
    EXPECT_GT(takenCount, 0u);
    EXPECT_GT(plainCount, 0u);
}

TEST(ComputeTextureWeights, VertexWithoutAPlaceOrDirectionWeighsNothing)
{
    struct Case {
        const char* what;
        Vec3 position;
        Vec3 normal;
        float corner;      // weight of vertex 3's corner
        double area;       // measurable area of the square
    };
    const Case cases[] = {
        {"NaN position", {kNaN, 1, 0}, {0, 0, 1}, 0.0f, 0.5},
        {"infinite position", {0, kInfinity, 0}, {0, 0, 1}, 0.0f, 0.5},
        {"NaN normal", {0, 1, 0}, {0, kNaN, 1}, 0.0f, 1.0},
        {"infinite normal", {0, 1, 0}, {0, 0, kInfinity}, 0.0f, 1.0},
        {"area overflows", {0, 1e30f, 0}, {0, 0, 1}, 1.0f, 0.5},
    };
    for (const Case& c : cases) {
        TriangleMesh mesh = FlatSquare();
        mesh.vertices[3] = {c.position, c.normal};
        const TextureWeights w = ComputeTextureWeights(mesh, BoxWith({4}), {}, {}, {});
        ASSERT_TRUE(w.MatchesMesh(mesh)) << c.what;
        EXPECT_EQ(w.cornerWeights[5], c.corner) << c.what;
        for (float weight : w.vertexWeights)
            EXPECT_TRUE(weight >= 0.0f && weight <= 1.0f) << c.what << ": " << weight;
        // Vertices 0 to 2 are sound and face +Z: whatever vertex 3 is, they keep full weight.
        EXPECT_EQ(std::vector<float>(w.vertexWeights.begin(), w.vertexWeights.begin() + 3),
            std::vector<float>(3, 1.0f)) << c.what;
        EXPECT_EQ(w.vertexWeights[3], 0.0f) << c.what << ": no texture, or no area to average over";
        EXPECT_EQ(FlaggedAreaShare(mesh, std::vector<std::uint8_t>{1, 1}).totalArea, c.area) << c.what;
    }
}

TEST(ComputeTextureWeights, SameOnOneThreadAndMany)
{
    const TriangleMesh sphere = test::MakeBumpySphere(20.0f, 1.0f, 64, 64);
    std::vector<std::uint8_t> outer(sphere.TriangleCount());
    for (std::size_t t = 0; t < outer.size(); ++t)
        outer[t] = t % 7 == 0 ? 0 : 255;
    MaskVolume mask;
    mask.center = {10, 0, 10};
    mask.size = {8, 8, 8};
    mask.featherMillimetres = 3.0f;
    const std::vector<MaskVolume> masks = {mask};
    const auto weigh = [&] { return ComputeTextureWeights(sphere, BlendedOutsideOnly(), outer, {}, {}, masks); };
    const TextureWeights w = weigh();
    ASSERT_TRUE(w.MatchesMesh(sphere));
    const auto partly = [](float x) { return x > 0.0f && x < 1.0f; };
    ASSERT_TRUE(std::any_of(w.vertexWeights.begin(), w.vertexWeights.end(), partly)) << "a case worth comparing";
    test::ExpectSameOnOneThread(weigh);
}

// The outer/inner pair under rule "any": vertices 0 to 2 weigh the coverage c, 3 and 4 weigh
// 0; corners of face 0 weigh c, those of face 1 weigh 0.
struct RemapFixture {
    TriangleMesh mesh = OuterAndInner({0.6f, 0.0f, 0.8f});
    TextureWeights weights = ComputeTextureWeights(mesh, BlendedOutsideOnly(), kOuterInner, Rule(OutsideRule::any), {});
};

TEST(RemapTextureWeights, IdentityKeepsEveryWeightAndMovedCornersTakeVertexWeights)
{
    const RemapFixture old;
    const std::vector<std::uint32_t> identity = {0, 1, 2, 3, 4};
    EXPECT_EQ(RemapTextureWeights(old.weights, old.mesh, old.mesh, identity, std::vector<std::uint32_t>{0, 1}),
        old.weights);

    // Face 1 turned round: vertex 0 now sits in another corner, so it takes its vertex weight.
    TriangleMesh turned = old.mesh;
    turned.indices = {3, 4, 0};
    const TextureWeights w = RemapTextureWeights(old.weights, old.mesh, turned, identity, std::vector<std::uint32_t>{1});
    EXPECT_EQ(w.cornerWeights, (std::vector<float>{0.0f, 0.0f, old.weights.vertexWeights[0]}));
    EXPECT_EQ(w.faceTextured, std::vector<std::uint8_t>{0});
    EXPECT_EQ(w.faceOuterMask, std::vector<std::uint8_t>{0});
}

TEST(RemapTextureWeights, MapsThatDoNotFitGiveEmptyWeights)
{
    const RemapFixture old;
    TextureWeights short_ = old.weights;
    short_.vertexWeights.pop_back();
    TriangleMesh stray = old.mesh;
    stray.indices[4] = 5;
    TriangleMesh ragged = old.mesh;
    ragged.indices.pop_back();
    const std::vector<std::uint32_t> vertices = {0, 1, 2, 3, 4};
    const std::vector<std::uint32_t> faces = {0, 1};
    const std::vector<std::uint32_t> oneFace = {0};
    EXPECT_EQ(RemapTextureWeights(old.weights, old.mesh, old.mesh, vertices, oneFace), TextureWeights{});
    EXPECT_EQ(RemapTextureWeights(old.weights, old.mesh, old.mesh, faces, faces), TextureWeights{});
    EXPECT_EQ(RemapTextureWeights(short_, old.mesh, old.mesh, vertices, faces), TextureWeights{});
    EXPECT_EQ(RemapTextureWeights(old.weights, old.mesh, stray, vertices, faces), TextureWeights{});
    EXPECT_EQ(RemapTextureWeights(old.weights, old.mesh, ragged, vertices, oneFace), TextureWeights{});
    EXPECT_EQ(RemapTextureWeights(old.weights, stray, old.mesh, vertices, faces), TextureWeights{});
}

TEST(RemapTextureWeights, EntriesOutOfRangeGiveUntexturedFacesAndStillVertices)
{
    const RemapFixture old;
    const float c = old.weights.vertexWeights[0];
    // Vertices 3 and 4 come from nowhere; face 0 comes from nowhere, face 1 from old face 1.
    const std::vector<std::uint32_t> vertices = {0, 1, 2, kNowhere, 99};
    for (std::uint32_t lostFace : {kNowhere, 2u}) {
        const TextureWeights w =
            RemapTextureWeights(old.weights, old.mesh, old.mesh, vertices, std::vector<std::uint32_t>{lostFace, 1});
        EXPECT_EQ(w.vertexWeights, (std::vector<float>{c, c, c, 0.0f, 0.0f})) << lostFace;
        EXPECT_EQ(w.cornerWeights, (std::vector<float>{c, c, c, 0.0f, 0.0f, 0.0f})) << lostFace;
        EXPECT_EQ(w.faceTextured, (std::vector<std::uint8_t>{0, 0})) << lostFace;
        EXPECT_EQ(w.faceOuterMask, (std::vector<std::uint8_t>{0, 0})) << lostFace;
    }
}

TEST(FaceFlagsToMask, AnyFlagAboveZeroIsOuter)
{
    EXPECT_EQ(FaceFlagsToMask(std::vector<std::uint8_t>{0, 1, 2, 255}), (std::vector<std::uint8_t>{0, 255, 255, 255}));
}

TEST(FlaggedAreaShare, MeasuresTheFlaggedTrianglesThatExist)
{
    struct Case {
        const char* what;
        TriangleMesh mesh;
        std::vector<std::uint8_t> flags;
        FlaggedArea expected;
    };
    const Case cases[] = {
        {"one of two", OuterAndInner({0, 0, 1}), {0, 1}, {2, 1, 2.5, 2.0}},
        {"more flags than faces", OuterAndInner({0, 0, 1}), {1, 0, 1}, {3, 1, 2.5, 0.5}},
        {"fewer flags", OuterAndInner({0, 0, 1}), {1}, {1, 1, 0.5, 0.5}},
        {"no flags", OuterAndInner({0, 0, 1}), {}, {0, 0, 0.0, 0.0}},
        {"invalid mesh", test::MeshOf({{0, 0, 0}}, {0, 0, 1}), {1}, {1, 0, 0.0, 0.0}},
    };
    for (const Case& c : cases) {
        const FlaggedArea a = FlaggedAreaShare(c.mesh, c.flags);
        EXPECT_EQ(a.faces, c.expected.faces) << c.what;
        EXPECT_EQ(a.flaggedFaces, c.expected.flaggedFaces) << c.what;
        EXPECT_EQ(a.totalArea, c.expected.totalArea) << c.what;
        EXPECT_EQ(a.flaggedArea, c.expected.flaggedArea) << c.what;
    }
}

TEST(FormatTextureWeights, CountsFacesAndMovingVerticesWithTheirMean)
{
    TextureWeights w;
    w.faceTextured = {1, 0, 3};
    w.vertexWeights = {0.0f, 0.25f, 0.75f, 0.0f};
    EXPECT_EQ(FormatTextureWeights(w), "2 of 3 faces receive texture, 2 of 4 vertices will move, mean weight 0.50");
    w.vertexWeights = {0.0f, -1.0f};
    EXPECT_EQ(FormatTextureWeights(w), "2 of 3 faces receive texture, 0 of 2 vertices will move");
}

}  // namespace
}  // namespace grainforge::mesh
