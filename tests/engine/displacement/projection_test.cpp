#include "engine/displacement/projection.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>

// Counts the allocations made while `g_countAllocations` is set, to prove that the mapping
// allocates nothing. Replacing the global operators affects the whole test program, so the
// counting is off except inside that one test. They are kept out of line so that the
// compiler does not pair an inlined free with a new expression and warn.
namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<long> g_allocations{0};
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (g_countAllocations.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}

__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Projection CylinderAlongZ(float size)
{
    Projection projection;
    projection.type = ProjectionKind::Cylinder;
    projection.cage.size = {size, size, size};
    return projection;
}

// Number of values that are not objects, counted through nested objects.
int CountLeafKeys(const nlohmann::ordered_json& value)
{
    int count = 0;
    for (const auto& member : value) {
        if (member.is_object())
            count += CountLeafKeys(member);
        else
            ++count;
    }
    return count;
}

JsonView ViewOf(const char* text)
{
    auto root = std::make_shared<const JsonValue>(JsonValue::parse(text));
    return JsonView{root, root.get()};
}

JsonView ViewOf(const JsonNode& node)
{
    return JsonView{node.root, node.root.get()};
}

// ---- JSON ---------------------------------------------------------------------------------

TEST(ProjectionJson, DefaultRecordWritesAllKeysAndReadsBackEqual)
{
    const Projection original = InitProjection();
    const JsonNode node = NewJsonDocument();
    WriteProjectionJson(node, original);
    EXPECT_EQ(CountLeafKeys(*node.root), 54);
    EXPECT_EQ((*node.root)["type"], "box");
    EXPECT_EQ((*node.root)["box"]["side"]["px"]["surface"], "both");
    EXPECT_EQ((*node.root)["layer"]["nz"]["zoom"], 1.0);

    Projection read;
    read.type = ProjectionKind::Sphere;
    read.activeLayer = 3;
    read.layers[2].zoom = 5.0f;
    ReadProjectionJson(ViewOf(node), read);
    EXPECT_TRUE(ProjectionEquals(read, original));
}

TEST(ProjectionJson, ChangedRecordRoundTrips)
{
    Projection original;
    original.type = ProjectionKind::Cylinder;
    original.cage = CageFrame{{1.5f, -2.0f, 0.1f}, {10.0f, 20.0f, 30.0f}, {4.0f, 5.0f, 6.0f}};
    original.boxSideEnabled[3] = 0;
    original.boxSideSurface[5] = SurfaceSide::Inside;
    original.boxBlended = 1;
    original.boxBlendSharpness = 2.5f;
    original.planeTwoSided = 1;
    original.planeAxis = 0;
    original.cylinderAxis = 1;
    original.cylinderSurface = SurfaceSide::Outside;
    original.cylinderSeamDegrees = 33.3f;
    original.cylinderTopCapEnabled = 1;
    original.cylinderWholeTiles = 0;
    original.sphereAxis = 0;
    original.layers[4] = ProjectionLayer{{0.3f, -7.0f}, 45.0f, 0.7f, 3};
    original.activeLayer = 4;
    const JsonNode node = NewJsonDocument();
    WriteProjectionJson(node, original);
    Projection read;
    ReadProjectionJson(ViewOf(node), read);
    EXPECT_TRUE(ProjectionEquals(read, original));
}

TEST(ProjectionJson, KindOutsideTableIsWrittenAsIntegerAndNotReadBack)
{
    Projection original;
    original.type = static_cast<ProjectionKind>(7);
    original.cylinderSurface = static_cast<SurfaceSide>(9);
    original.sphereAxis = 4;
    const JsonNode node = NewJsonDocument();
    WriteProjectionJson(node, original);
    EXPECT_EQ((*node.root)["type"], 7);
    EXPECT_EQ((*node.root)["cylinder"]["surface"], 9);
    EXPECT_EQ((*node.root)["sphere"]["axis"], 4);

    Projection read;
    read.type = ProjectionKind::Plane;
    ReadProjectionJson(ViewOf(node), read);
    EXPECT_EQ(read.type, ProjectionKind::Plane);
    EXPECT_EQ(read.cylinderSurface, SurfaceSide::Both);
    EXPECT_EQ(read.sphereAxis, 2);
}

TEST(ProjectionJson, ReaderTakesOnlyTheKindsItExpects)
{
    struct Case {
        const char* json;
        bool (*holds)(const Projection&);
    };
    const Case cases[] = {
        {R"({"type": "plane"})", [](const Projection& p) { return p.type == ProjectionKind::Plane; }},
        {R"({"type": "Plane"})", [](const Projection& p) { return p.type == ProjectionKind::Box; }},
        {R"({"type": 1})", [](const Projection& p) { return p.type == ProjectionKind::Box; }},
        {R"({"plane": {"axis": "x"}})", [](const Projection& p) { return p.planeAxis == 0; }},
        {R"({"plane": {"axis": 0}})", [](const Projection& p) { return p.planeAxis == 2; }},
        {R"({"box": {"side": {"ny": {"surface": "inside"}}}})",
         [](const Projection& p) { return p.boxSideSurface[3] == SurfaceSide::Inside; }},
        {R"({"box": {"side": {"px": {"enabled": 0}}}})",
         [](const Projection& p) { return p.boxSideEnabled[0] == 1; }},
        {R"({"box": {"side": {"px": {"enabled": false}}}})",
         [](const Projection& p) { return p.boxSideEnabled[0] == 0; }},
        {R"({"box": {"blendSharpness": 3}})",
         [](const Projection& p) { return p.boxBlendSharpness == 3.0f; }},
        {R"({"cage": {"center": [1, 2]}})",
         [](const Projection& p) { return p.cage.center == Vec3{}; }},
        {R"({"cage": {"center": [1, 2, 3, 4]}})",
         [](const Projection& p) { return p.cage.center == Vec3{}; }},
        {R"({"cage": {"center": [1, 2, 3]}})",
         [](const Projection& p) { return p.cage.center == Vec3{1, 2, 3}; }},
        {R"({"layer": {"py": {"originMillimetres": [1, 2, 3]}}})",
         [](const Projection& p) { return p.layers[2].originMillimetres[0] == 0.0f; }},
        {R"({"layer": {"py": {"originMillimetres": [1, 2]}}})",
         [](const Projection& p) { return p.layers[2].originMillimetres[1] == 2.0f; }},
        {R"({"layer": {"py": {"image": 2.0}}})", [](const Projection& p) { return p.layers[2].image == 0; }},
        {R"({"layer": {"py": {"image": 5}}})", [](const Projection& p) { return p.layers[2].image == 5; }},
        {R"({"layer": {"py": {"image": 4294967296}}})",
         [](const Projection& p) { return p.layers[2].image == 0; }},
        {R"({"activeLayer": 5})", [](const Projection& p) { return p.activeLayer == 5; }},
        {R"({"activeLayer": 6})", [](const Projection& p) { return p.activeLayer == -1; }},
        {R"({"activeLayer": -2})", [](const Projection& p) { return p.activeLayer == -1; }},
        {R"({"activeLayer": 2.0})", [](const Projection& p) { return p.activeLayer == -1; }},
    };
    for (const Case& c : cases) {
        Projection projection;
        ReadProjectionJson(ViewOf(c.json), projection);
        EXPECT_TRUE(c.holds(projection)) << c.json;
    }
}

TEST(ProjectionJson, ReaderSetsAnActiveLayerOutsideTheRangeToNone)
{
    Projection projection;
    projection.activeLayer = 9;
    ReadProjectionJson(ViewOf("{}"), projection);
    EXPECT_EQ(projection.activeLayer, -1);
}

// ---- Equality -----------------------------------------------------------------------------

TEST(ProjectionEquality, ComparesEveryFieldByValue)
{
    EXPECT_TRUE(ProjectionEquals(Projection{}, Projection{}));

    Projection active;
    active.activeLayer = 2;
    EXPECT_FALSE(ProjectionEquals(active, Projection{}));

    Projection nanA, nanB;
    nanA.layers[1].zoom = kNaN;
    nanB.layers[1].zoom = kNaN;
    EXPECT_FALSE(ProjectionEquals(nanA, nanB));
    EXPECT_FALSE(ProjectionSidesEquals(nanA.layers, nanB.layers));

    Projection negativeZero;
    negativeZero.cage.center.x = -0.0f;
    EXPECT_TRUE(ProjectionEquals(negativeZero, Projection{}));

    CageFrame nanCage;
    nanCage.rotationDegrees.y = kNaN;
    EXPECT_FALSE(OrientedBoxEquals(nanCage, nanCage));

    Projection image;
    image.layers[5].image = 1;
    EXPECT_FALSE(ProjectionEquals(image, Projection{}));
    Projection seam;
    seam.cylinderSeamDegrees = 0.0f;
    EXPECT_FALSE(ProjectionEquals(seam, Projection{}));
    Projection surface;
    surface.boxSideSurface[2] = SurfaceSide::Outside;
    EXPECT_FALSE(ProjectionEquals(surface, Projection{}));
}

// ---- Frames -------------------------------------------------------------------------------

TEST(CageFrames, EulerAnglesTurnXFirstThenYThenZ)
{
    CageFrame cage;
    cage.rotationDegrees = {0.0f, 0.0f, 90.0f};
    const Vec3 x = CageToWorld(cage, {1, 0, 0});
    EXPECT_NEAR(x.x, 0.0f, 1e-6f);
    EXPECT_NEAR(x.y, 1.0f, 1e-6f);

    // x by 90 takes local y to world z; then z by 90 leaves world z where it is.
    cage.rotationDegrees = {90.0f, 0.0f, 90.0f};
    const Vec3 y = CageToWorld(cage, {0, 1, 0});
    EXPECT_NEAR(y.z, 1.0f, 1e-6f);
    const Vec3 back = WorldToCage(cage, y);
    EXPECT_NEAR(back.y, 1.0f, 1e-6f);
    EXPECT_NEAR(back.x, 0.0f, 1e-6f);
}

TEST(CageFrames, CornersFollowTheBitOrder)
{
    CageFrame cage;
    cage.center = {10, 20, 30};
    cage.size = {2, 4, 6};
    const CageCornerPoints points = CageCorners(cage);
    EXPECT_EQ(points.corners[0], (Vec3{9, 18, 27}));
    EXPECT_EQ(points.corners[1], (Vec3{11, 18, 27}));
    EXPECT_EQ(points.corners[2], (Vec3{9, 22, 27}));
    EXPECT_EQ(points.corners[7], (Vec3{11, 22, 33}));
}

TEST(CageFrames, CylinderRadiusIsHalfTheLargerCrossSize)
{
    Projection projection;
    projection.cage.size = {2, 4, 8};
    const float expected[3] = {4.0f, 4.0f, 2.0f};
    for (std::int32_t axis = 0; axis < 3; ++axis) {
        projection.cylinderAxis = axis;
        EXPECT_EQ(CylinderRadius(projection), expected[axis]) << axis;
    }
}

TEST(CageFrames, SideFramesAroundTheUpAxis)
{
    const struct SideFrame top = SideFrame(4, 2);
    EXPECT_EQ(top.alongUp, 1);
    EXPECT_EQ(top.uAxis, (Vec3{1, 0, 0}));
    EXPECT_EQ(top.vAxis, (Vec3{0, 1, 0}));
    const struct SideFrame bottom = SideFrame(5, 2);
    EXPECT_EQ(bottom.vAxis, (Vec3{0, -1, 0}));
    const struct SideFrame plusY = SideFrame(2, 2);
    EXPECT_EQ(plusY.alongUp, 0);
    EXPECT_EQ(plusY.uAxis, (Vec3{-1, 0, 0}));  // z x y
    EXPECT_EQ(plusY.vAxis, (Vec3{0, 0, 1}));
    EXPECT_FLOAT_EQ(plusY.azimuth, 1.5707964f);
    // Out of range: clamped for the axis, sign from the lowest bit.
    EXPECT_EQ(SideFrame(7, 2).normal, (Vec3{0, 0, -1}));
    EXPECT_STREQ(BoxSideName(1), "-X");
    EXPECT_STREQ(BoxSideName(6), "?");
    EXPECT_STREQ(BoxSideName(-1), "?");
}

// ---- Mapping ------------------------------------------------------------------------------

TEST(MapThroughProjection, SharpBoxTieGoesToTheEarlierAxis)
{
    const ProjectionSamples result = MapThroughProjection(Projection{}, {0, 0, 0}, {0.6f, 0.6f, 0.53f});
    ASSERT_EQ(result.count, 1);
    EXPECT_EQ(result.samples[0].side, 0);
    EXPECT_EQ(result.samples[0].weight, 1.0f);
    EXPECT_EQ(result.coverage, 1.0f);
    EXPECT_EQ(result.dominantSide, 0);
}

TEST(MapThroughProjection, BoxSampleCoordinatesPerSide)
{
    Projection projection;
    const Vec3 p{1, 2, 3};
    struct Case {
        Vec3 normal;
        std::int32_t side;
        float u, v;
    };
    const Case cases[] = {{{1, 0, 0}, 0, 2, 3},  {{-1, 0, 0}, 1, -2, 3}, {{0, 1, 0}, 2, 1, 3},
                          {{0, -1, 0}, 3, -1, 3}, {{0, 0, 1}, 4, 1, 2},  {{0, 0, -1}, 5, -1, 2}};
    for (const Case& c : cases) {
        const ProjectionSamples result = MapThroughProjection(projection, p, c.normal);
        ASSERT_EQ(result.count, 1);
        EXPECT_EQ(result.samples[0].side, c.side);
        EXPECT_EQ(result.samples[0].u, c.u) << c.side;
        EXPECT_EQ(result.samples[0].v, c.v) << c.side;
    }
}

TEST(MapThroughProjection, BlendedBoxCoverage)
{
    Projection projection;
    projection.boxBlended = 1;
    projection.boxSideEnabled[5] = 0;
    const ProjectionSamples none = MapThroughProjection(projection, {}, {0, 0, -1});
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.coverage, 0.0f);
    EXPECT_EQ(none.dominantSide, -1);
    EXPECT_EQ(none.samples[0].side, -1);

    projection.boxSideEnabled[5] = 1;
    projection.boxSideEnabled[2] = 0;
    const float s = 1.0f / std::sqrt(2.0f);
    const ProjectionSamples half = MapThroughProjection(projection, {}, {s, s, 0});
    ASSERT_EQ(half.count, 1);
    EXPECT_EQ(half.samples[0].side, 0);
    EXPECT_EQ(half.samples[0].weight, 1.0f);
    EXPECT_FLOAT_EQ(half.coverage, 0.5f);
    EXPECT_EQ(half.dominantSide, 0);

    projection.boxSideEnabled[2] = 1;
    const ProjectionSamples three = MapThroughProjection(projection, {}, {0.5f, -0.6f, 0.3f});
    ASSERT_EQ(three.count, 3);
    EXPECT_EQ(three.samples[1].side, 3);
    EXPECT_EQ(three.dominantSide, 3);
    EXPECT_NEAR(three.samples[0].weight + three.samples[1].weight + three.samples[2].weight, 1.0f, 1e-6f);
    EXPECT_EQ(three.coverage, 1.0f);
}

TEST(MapThroughProjection, PlaneFacesLocalZ)
{
    Projection projection;
    projection.type = ProjectionKind::Plane;
    projection.cage.size = {10, 20, 5};
    EXPECT_EQ(MapThroughProjection(projection, {1, 2, 0}, {0, 0, -1}).count, 0);
    projection.planeTwoSided = 1;
    const ProjectionSamples twoSided = MapThroughProjection(projection, {1, 2, 0}, {0, 0, -1});
    ASSERT_EQ(twoSided.count, 1);
    EXPECT_EQ(twoSided.samples[0].side, 4);
    EXPECT_EQ(twoSided.samples[0].u, 1.0f);
    EXPECT_EQ(twoSided.samples[0].v, 2.0f);
    // The cage edge is inside; just beyond it is not.
    EXPECT_EQ(MapThroughProjection(projection, {5, 10, 0}, {0, 0, 1}).count, 1);
    EXPECT_EQ(MapThroughProjection(projection, {5.001f, 0, 0}, {0, 0, 1}).count, 0);
}

TEST(MapThroughProjection, CylinderWallAnglesFromTheSeam)
{
    const Projection projection = CylinderAlongZ(20.0f);
    const ProjectionSamples atSeam = MapThroughProjection(projection, {-1, 0, 5}, {-1, 0, 0});
    ASSERT_EQ(atSeam.count, 1);
    EXPECT_EQ(atSeam.samples[0].side, 0);
    EXPECT_EQ(atSeam.samples[0].u, 0.0f);
    EXPECT_EQ(atSeam.samples[0].v, 5.0f);
    EXPECT_EQ(atSeam.samples[0].weight, 1.0f);

    const ProjectionSamples opposite = MapThroughProjection(projection, {1, 0, 5}, {1, 0, 0});
    ASSERT_EQ(opposite.count, 1);
    EXPECT_FLOAT_EQ(opposite.samples[0].u, 3.1415927f * 10.0f);

    // A point on the axis has no wall sample.
    EXPECT_EQ(MapThroughProjection(projection, {0, 0, 5}, {1, 0, 0}).count, 0);
}

TEST(MapThroughProjection, CylinderBottomCapMirrorsU)
{
    Projection projection = CylinderAlongZ(20.0f);
    projection.cylinderBottomCapEnabled = 1;
    const ProjectionSamples result = MapThroughProjection(projection, {2, 3, -10}, {0, 0, -1});
    ASSERT_EQ(result.count, 1);
    EXPECT_EQ(result.samples[0].side, 5);
    EXPECT_EQ(result.samples[0].u, -2.0f);
    EXPECT_EQ(result.samples[0].v, 3.0f);
    EXPECT_EQ(result.dominantSide, 5);
    EXPECT_EQ(result.coverage, 1.0f);
}

TEST(MapThroughProjection, CylinderWallAndCapShareTheWeight)
{
    Projection projection = CylinderAlongZ(20.0f);
    projection.cylinderTopCapEnabled = 1;
    const float s = 1.0f / std::sqrt(2.0f);
    const ProjectionSamples result = MapThroughProjection(projection, {5, 0, 0}, {s, 0, s});
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ(result.samples[0].side, 0);
    EXPECT_EQ(result.samples[1].side, 4);
    EXPECT_EQ(result.dominantSide, 0);  // equal weights: the wall wins
    EXPECT_EQ(result.coverage, 1.0f);
    EXPECT_NEAR(result.samples[0].weight, 0.5f, 1e-6f);
}

TEST(MapThroughProjection, SurfaceFilterKeepsTheChosenSurface)
{
    Projection projection;
    projection.boxSideSurface[0] = SurfaceSide::Inside;
    const std::uint8_t outer = 255;
    const std::uint8_t inner = 0;
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, &outer).count, 0);
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, &inner).count, 1);
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, nullptr).count, 1);

    projection.boxSideSurface[0] = SurfaceSide::Outside;
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, &outer).count, 1);
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, &inner).count, 0);

    // Blended: dropping one of two sides renormalises and scales the coverage.
    projection.boxBlended = 1;
    projection.boxBlendSharpness = 1.0f;
    const ProjectionSamples blended = MapThroughProjection(projection, {}, {0.6f, 0.8f, 0.0f}, &inner);
    ASSERT_EQ(blended.count, 1);
    EXPECT_EQ(blended.samples[0].side, 2);
    EXPECT_EQ(blended.samples[0].weight, 1.0f);
    EXPECT_NEAR(blended.coverage, 0.8f / 1.4f, 1e-6f);

    // An unknown surface value drops the sample.
    projection.boxBlended = 0;
    projection.boxSideSurface[0] = static_cast<SurfaceSide>(5);
    EXPECT_EQ(MapThroughProjection(projection, {}, {1, 0, 0}, &outer).count, 0);
}

TEST(MapThroughProjection, ZeroNormalAndUnknownKindMapNothing)
{
    for (const ProjectionKind kind : {ProjectionKind::Box, ProjectionKind::Plane,
                                      ProjectionKind::Cylinder, ProjectionKind::Sphere}) {
        Projection projection;
        projection.type = kind;
        projection.cylinderTopCapEnabled = 1;
        projection.cylinderBottomCapEnabled = 1;
        EXPECT_EQ(MapThroughProjection(projection, {0.1f, 0.2f, 0.3f}, {0, 0, 0}).count, 0);
    }
    Projection unknown;
    unknown.type = static_cast<ProjectionKind>(9);
    const ProjectionSamples result = MapThroughProjection(unknown, {}, {0, 0, 1});
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(result.dominantSide, -1);
}

TEST(MapThroughProjection, SphereUsesArcLengths)
{
    Projection projection;
    projection.type = ProjectionKind::Sphere;
    projection.cage.size = {20, 20, 20};
    // On the +X side, 45 degrees round towards +y: u = (pi/4 + azimuth 0) R.
    const ProjectionSamples result = MapThroughProjection(projection, {7, 7, 0}, {1, 0.5f, 0});
    ASSERT_EQ(result.count, 1);
    EXPECT_EQ(result.samples[0].side, 0);
    EXPECT_NEAR(result.samples[0].u, 0.7853982f * 10.0f, 1e-4f);
    EXPECT_NEAR(result.samples[0].v, 0.0f, 1e-6f);
}

TEST(MapThroughProjection, HugeSeamAngleStillReturns)
{
    Projection projection = CylinderAlongZ(20.0f);
    projection.cylinderSeamDegrees = 1e30f;
    const ProjectionSamples result = MapThroughProjection(projection, {1, 0, 0}, {1, 0, 0});
    ASSERT_EQ(result.count, 1);
    EXPECT_TRUE(std::isfinite(result.samples[0].u));
    EXPECT_GE(result.samples[0].u, 0.0f);
}

TEST(MapThroughProjection, AllocatesNothing)
{
    Projection projections[4];
    for (int kind = 0; kind < 4; ++kind) {
        projections[kind].type = static_cast<ProjectionKind>(kind);
        projections[kind].boxBlended = kind == 3 ? 1 : 0;
        projections[kind].cylinderTopCapEnabled = 1;
        projections[kind].boxSideSurface[0] = SurfaceSide::Outside;
        projections[kind].layers[0].rotationDegrees = 30.0f;
    }
    const std::uint8_t mask = 255;
    float sink = 0.0f;
    g_allocations = 0;
    g_countAllocations = true;
    for (const Projection& projection : projections) {
        for (int i = 0; i < 100; ++i) {
            const float t = static_cast<float>(i) * 0.1f;
            const ProjectionSamples r =
                MapThroughProjection(projection, {std::cos(t), std::sin(t), t}, {std::cos(t), std::sin(t), 0.3f},
                                     (i & 1) != 0 ? &mask : nullptr);
            sink += r.coverage + StrongestSample(r).u;
        }
    }
    g_countAllocations = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_TRUE(std::isfinite(sink));

    // The counter does see an allocation made while it is on.
    g_countAllocations = true;
    std::vector<float> control(static_cast<std::size_t>(g_allocations.load()) + 100, sink);
    g_countAllocations = false;
    EXPECT_EQ(control.size(), 100u);
    EXPECT_GE(g_allocations.load(), 1);
}

// ---- Layers -------------------------------------------------------------------------------

TEST(SideLayerCoordinates, OriginRotationAndZoom)
{
    Projection projection;
    projection.layers[2] = ProjectionLayer{{1.0f, 2.0f}, 0.0f, 2.0f, 0};
    SidePoint p = SideLayerCoordinates(projection, 2, {5.0f, 6.0f});
    EXPECT_EQ(p.u, 2.0f);
    EXPECT_EQ(p.v, 2.0f);
    projection.layers[2].zoom = 0.0f;  // counts as 1
    projection.layers[2].rotationDegrees = 90.0f;
    p = SideLayerCoordinates(projection, 2, {2.0f, 2.0f});
    EXPECT_NEAR(p.u, 0.0f, 1e-6f);
    EXPECT_NEAR(p.v, -1.0f, 1e-6f);
    // A side outside 0..5 uses the neutral layer.
    p = SideLayerCoordinates(projection, 9, {3.0f, 4.0f});
    EXPECT_EQ(p.u, 3.0f);
    EXPECT_EQ(p.v, 4.0f);
}

TEST(SideLayerCoordinates, StrongestSampleTakesTheFirstHeaviest)
{
    ProjectionSamples samples;
    samples.count = 3;
    samples.samples[0] = ProjectionSample{1, 1, 0.25f, 0};
    samples.samples[1] = ProjectionSample{2, 2, 0.5f, 2};
    samples.samples[2] = ProjectionSample{3, 3, 0.5f, 4};
    EXPECT_EQ(StrongestSample(samples).u, 2.0f);
    EXPECT_EQ(StrongestSample(ProjectionSamples{}).u, 0.0f);
}

TEST(SideLayerCoordinates, ZoomRangeOverUsedSides)
{
    Projection projection;
    projection.layers[0].zoom = 3.0f;
    projection.layers[1].zoom = 0.5f;
    projection.layers[2].zoom = -1.0f;
    EXPECT_EQ(MaximumLayerZoom(projection), 3.0f);
    EXPECT_EQ(MinimumLayerZoom(projection), 0.5f);
    projection.boxSideEnabled[0] = 0;
    projection.boxSideEnabled[1] = 0;
    EXPECT_EQ(MaximumLayerZoom(projection), 1.0f);
    projection.type = ProjectionKind::Plane;
    projection.layers[4].zoom = 0.0f;
    EXPECT_EQ(MaximumLayerZoom(projection), 1.0f);
    EXPECT_EQ(MinimumLayerZoom(projection), 1.0f);
    projection.type = static_cast<ProjectionKind>(8);
    EXPECT_EQ(MinimumLayerZoom(projection), 1.0f);
}

// ---- Whole tiles --------------------------------------------------------------------------

TEST(ComputeTileFrame, WholeTilesAroundACylinder)
{
    const Projection projection = CylinderAlongZ(20.0f);
    TextureSettings settings;
    SideTiling tiling = ComputeTileFrame(projection, settings, 0);
    EXPECT_EQ(tiling.active, 1);
    EXPECT_EQ(tiling.wholeTiles, 1);
    EXPECT_NEAR(tiling.tilesAround, 2.0944f, 1e-4f);
    EXPECT_EQ(tiling.tileCount, 2);
    EXPECT_NEAR(tiling.fittedZoom, 1.0472f, 1e-4f);
    EXPECT_NEAR(tiling.fittedTileMillimetres, 31.416f, 1e-3f);
    EXPECT_NEAR(tiling.setTileMillimetres, 30.0f, 1e-4f);

    settings.seamlessMethod = "Mirror";
    EXPECT_EQ(ComputeTileFrame(projection, settings, 0).tileCount, 2);

    settings.seamlessMethod = "Unchanged";
    settings.widthMillimetres = 62.831855f / 0.4f;
    tiling = ComputeTileFrame(projection, settings, 0);
    EXPECT_NEAR(tiling.tilesAround, 0.4f, 1e-5f);
    EXPECT_EQ(tiling.tileCount, 1);

    // Other sides, switches off or no repeat: inactive.
    EXPECT_EQ(ComputeTileFrame(projection, TextureSettings{}, 4).active, 0);
    TextureSettings single;
    single.tiles = false;
    EXPECT_EQ(ComputeTileFrame(projection, single, 0).active, 0);
}

TEST(ComputeTileFrame, DiagonalWrapIsActiveButNotFitted)
{
    Projection projection = CylinderAlongZ(20.0f);
    projection.layers[0].zoom = 0.8f;
    TextureSettings settings;
    settings.rotationDegrees = 45.0f;
    const SideTiling tiling = ComputeTileFrame(projection, settings, 0);
    EXPECT_EQ(tiling.active, 1);
    EXPECT_EQ(tiling.wholeTiles, 0);
    EXPECT_EQ(tiling.tileCount, 0);
    EXPECT_EQ(tiling.fittedZoom, 0.8f);
    EXPECT_EQ(BuildTileFrames(projection, settings).layers[0].zoom, 0.8f);
}

TEST(ComputeTileFrame, BuildTileFramesFitsTheWallOrEverySphereLayer)
{
    const Projection cylinder = CylinderAlongZ(20.0f);
    const Projection fitted = BuildTileFrames(cylinder, TextureSettings{});
    EXPECT_NEAR(fitted.layers[0].zoom, 1.0472f, 1e-4f);
    EXPECT_EQ(fitted.layers[1].zoom, 1.0f);

    Projection sphere;
    sphere.type = ProjectionKind::Sphere;
    sphere.cage.size = {20, 20, 20};
    sphere.layers[3].zoom = 2.0f;
    sphere.layers[5].zoom = 0.0f;
    // Side 0 lies across the z pole axis: the first active frame.
    const SideTiling frame = ComputeTileFrame(sphere, TextureSettings{}, 0);
    ASSERT_EQ(frame.wholeTiles, 1);
    EXPECT_EQ(ComputeTileFrame(sphere, TextureSettings{}, 4).active, 0);
    const Projection sphereFitted = BuildTileFrames(sphere, TextureSettings{});
    const float ratio = frame.fittedZoom / frame.zoom;
    EXPECT_EQ(sphereFitted.layers[0].zoom, 1.0f * frame.fittedZoom / frame.zoom);
    EXPECT_EQ(sphereFitted.layers[3].zoom, 2.0f * frame.fittedZoom / frame.zoom);
    EXPECT_NEAR(sphereFitted.layers[5].zoom, ratio, 1e-6f);
}

TEST(ComputeTileFrame, TinyTilesDoNotOverflowTheCount)
{
    const Projection projection = CylinderAlongZ(20.0f);
    TextureSettings settings;
    settings.widthMillimetres = 1e-30f;
    settings.heightMillimetres = 1e-30f;
    const SideTiling tiling = ComputeTileFrame(projection, settings, 0);
    EXPECT_EQ(tiling.wholeTiles, 0);
    EXPECT_EQ(tiling.tileCount, 0);
}

// ---- Property -----------------------------------------------------------------------------

TEST(MapThroughProjection, RandomCagesGiveBoundedWeightsAndCoverage)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    const TriangleMesh shapes[] = {MakeTestCube(20.0f), MakeTestCylinder(8.0f, 25.0f), MakeTestSphere(12.0f)};
    const std::uint8_t masks[2] = {0, 255};
    for (int trial = 0; trial < 200; ++trial) {
        Projection projection;
        projection.type = static_cast<ProjectionKind>(trial % 4);
        projection.cage.center = {unit(random) * 10 - 5, unit(random) * 10 - 5, unit(random) * 10 - 5};
        projection.cage.rotationDegrees = {angle(random), angle(random), angle(random)};
        projection.cage.size = {unit(random) * 40 + 0.1f, unit(random) * 40 + 0.1f, unit(random) * 40 + 0.1f};
        projection.boxBlended = (trial / 4) % 2;
        projection.boxBlendSharpness = unit(random) * 10.0f;
        projection.planeTwoSided = (trial / 8) % 2;
        projection.cylinderAxis = trial % 3;
        projection.cylinderSeamDegrees = angle(random) * 4.0f;
        projection.cylinderTopCapEnabled = (trial / 2) % 2;
        projection.cylinderBottomCapEnabled = (trial / 3) % 2;
        projection.sphereAxis = (trial / 5) % 3;
        for (int side = 0; side < kBoxSideCount; ++side) {
            projection.boxSideEnabled[side] = unit(random) < 0.8f ? 1 : 0;
            projection.boxSideSurface[side] = static_cast<SurfaceSide>(static_cast<int>(unit(random) * 3) % 3);
            projection.layers[side] =
                ProjectionLayer{{unit(random) * 4, unit(random) * 4}, angle(random), unit(random) * 3, 0};
        }
        projection.cylinderSurface = static_cast<SurfaceSide>(trial % 3);
        const TriangleMesh& mesh = shapes[trial % 3];
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const Vec3 a = mesh.vertices[mesh.indices[t * 3]].position;
            const Vec3 b = mesh.vertices[mesh.indices[t * 3 + 1]].position;
            const Vec3 c = mesh.vertices[mesh.indices[t * 3 + 2]].position;
            const float wa = unit(random), wb = unit(random) * (1 - wa);
            const Vec3 p = a * wa + b * wb + c * (1 - wa - wb);
            const Vec3 n = mesh.FaceNormal(t);
            const std::uint8_t* mask = t % 3 == 2 ? nullptr : &masks[t % 2];
            const ProjectionSamples r = MapThroughProjection(projection, p, n, mask);
            ASSERT_GE(r.count, 0);
            ASSERT_LE(r.count, 3);
            ASSERT_GE(r.coverage, 0.0f);
            ASSERT_LE(r.coverage, 1.0f);
            float sum = 0.0f;
            for (int i = 0; i < r.count; ++i) {
                ASSERT_TRUE(std::isfinite(r.samples[i].u)) << trial;
                ASSERT_TRUE(std::isfinite(r.samples[i].v)) << trial;
                ASSERT_GE(r.samples[i].weight, 0.0f);
                ASSERT_LE(r.samples[i].weight, 1.0f);
                ASSERT_GE(r.samples[i].side, 0);
                ASSERT_LE(r.samples[i].side, 5);
                sum += r.samples[i].weight;
            }
            if (r.count > 0) {
                ASSERT_NEAR(sum, 1.0f, 1e-5f) << trial;
                ASSERT_GE(r.dominantSide, 0);
            } else {
                ASSERT_EQ(r.coverage, 0.0f);
                ASSERT_EQ(r.dominantSide, -1);
            }
        }
    }
}

// Same inputs, same samples, however many threads map them.
TEST(MapThroughProjection, ParallelMappingMatchesSerial)
{
    const TriangleMesh mesh = MakeTestSphere(10.0f);
    Projection projection;
    projection.type = ProjectionKind::Sphere;
    projection.boxBlended = 1;
    projection.cage.size = {20, 20, 20};
    std::vector<ProjectionSamples> serial(mesh.vertices.size());
    for (std::size_t i = 0; i < serial.size(); ++i)
        serial[i] = MapThroughProjection(projection, mesh.vertices[i].position, mesh.vertices[i].normal);
    std::vector<ProjectionSamples> parallel(mesh.vertices.size());
    ParallelFor(parallel.size(), [&](std::size_t i) {
        parallel[i] = MapThroughProjection(projection, mesh.vertices[i].position, mesh.vertices[i].normal);
    }, 16);
    for (std::size_t i = 0; i < serial.size(); ++i) {
        ASSERT_EQ(serial[i].count, parallel[i].count);
        for (int k = 0; k < serial[i].count; ++k) {
            ASSERT_EQ(serial[i].samples[k].u, parallel[i].samples[k].u);
            ASSERT_EQ(serial[i].samples[k].weight, parallel[i].samples[k].weight);
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
