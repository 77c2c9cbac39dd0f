#include "engine/displacement/projection.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/json_view_of.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <limits>
#include <random>
#include <span>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

// The mapping runs per corner over millions of corners and promises to allocate nothing: the
// calling thread counts its own allocations while its counter is not -1. The operators stay out of
// line, paired, so that neither the compiler nor the sanitizer sees a malloc freed by delete.
thread_local long g_allocations = -1;  // -1: not counting

__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (g_allocations >= 0)
        ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The no-throw form (std::stable_sort's buffer) must come from the same heap as the delete above.
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_allocations >= 0)
        ++g_allocations;
    return std::malloc(size == 0 ? 1 : size);
}
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

Projection OfKind(ProjectionKind kind, Vec3 size = {1, 1, 1})
{
    Projection projection;
    projection.type = kind;
    projection.cage.size = size;
    return projection;
}

Projection CylinderAlongZ(float size) { return OfKind(ProjectionKind::Cylinder, {size, size, size}); }

// Written as JSON text and read back over `into`.
Projection RoundTrip(const Projection& original, Projection into)
{
    const JsonNode node = NewJsonDocument();
    WriteProjectionJson(node, original);
    ReadProjectionJson(test::ViewOf(node.root->dump()), into);
    return into;
}

// A description of the first broken promise of a mapping result; empty when it keeps them all.
std::string SampleFault(const ProjectionSamples& r)
{
    std::ostringstream fault;
    float sum = 0.0f;
    bool dominantFound = r.count == 0 && r.dominantSide == -1 && r.coverage == 0.0f;
    for (const ProjectionSample& s : std::span(r.samples, std::max(0, std::min(r.count, 3)))) {
        if (!std::isfinite(s.u + s.v) || !(s.weight >= 0.0f) || s.side < 0 || s.side > 5)
            fault << "sample " << s.u << " " << s.v << " " << s.weight << " side " << s.side << "; ";
        sum += s.weight;
        dominantFound = dominantFound || s.side == r.dominantSide;
    }
    if (r.count < 0 || r.count > 3 || !(r.coverage >= 0.0f && r.coverage <= 1.0f) || !dominantFound
        || (r.count > 0 && !(std::fabs(sum - 1.0f) <= 1e-5f)))
        fault << r.count << " samples, weights " << sum << ", coverage " << r.coverage << ", dominant "
              << r.dominantSide;
    return fault.str();
}

// ---- JSON and equality ----------------------------------------------------------------------

// Every field is written, read back and compared: each leaf of a record differing in every field,
// read alone over the defaults, makes the record differ, and the whole reads back equal.
TEST(ProjectionJson, EveryFieldIsWrittenReadAndCompared)
{
    const SurfaceSide in = SurfaceSide::Inside, out = SurfaceSide::Outside;
    Projection changed{.type = ProjectionKind::Cylinder,
                       .cage = {{1.5f, -2.0f, 0.1f}, {10.0f, 20.0f, 30.0f}, {4.0f, 5.0f, 6.0f}},
                       .boxSideEnabled = {0, 0, 0, 0, 0, 0}, .boxSideSurface = {in, out, in, out, in, out},
                       .boxBlended = 1, .boxBlendSharpness = 2.5f, .planeTwoSided = 1, .planeAxis = 0,
                       .cylinderAxis = 1, .cylinderSurface = out, .cylinderSeamDegrees = 33.3f,
                       .cylinderSideEnabled = 0, .cylinderTopCapEnabled = 1, .cylinderBottomCapEnabled = 1,
                       .cylinderWholeTiles = 0, .sphereAxis = 0, .sphereWholeTiles = 0, .layers = {}, .activeLayer = 4};
    for (int side = 0; side < kBoxSideCount; ++side)
        changed.layers[side] = ProjectionLayer{{0.3f * side + 0.1f, -7.0f}, 45.0f + side, 0.7f, 3 + side};
    EXPECT_TRUE(ProjectionEquals(RoundTrip(changed, InitProjection()), changed));
    EXPECT_TRUE(ProjectionEquals(RoundTrip(InitProjection(), changed), InitProjection()));
    const JsonNode written = NewJsonDocument(), defaults = NewJsonDocument();
    WriteProjectionJson(written, changed);
    WriteProjectionJson(defaults, InitProjection());
    const JsonValue leaves = written.root->flatten();
    EXPECT_GT(leaves.size(), 30u);
    for (const auto& leaf : leaves.items()) {
        JsonValue one = defaults.root->flatten();
        one[leaf.key()] = leaf.value();
        Projection read = InitProjection();
        ReadProjectionJson(test::ViewOf(one.unflatten().dump()), read);
        EXPECT_FALSE(ProjectionEquals(read, InitProjection())) << leaf.key();
    }
    // Documents already written use these names.
    EXPECT_EQ((*defaults.root)["box"]["side"]["px"]["surface"], "both");
    EXPECT_EQ((*defaults.root)["layer"]["nz"]["zoom"], 1.0);
    EXPECT_EQ((*defaults.root)["cylinder"]["seamDegrees"], 180.0);
}

// The rules of this record; the general "a wrong kind keeps the field" is the JSON layer's. A
// kind outside the table is written as its number and not read back.
TEST(ProjectionJson, ReaderTakesOnlyKnownNamesWholeArraysAndLayersInRange)
{
    Projection odd, stale;
    odd.type = static_cast<ProjectionKind>(7);
    odd.cylinderSurface = static_cast<SurfaceSide>(9);
    const JsonNode node = NewJsonDocument();
    WriteProjectionJson(node, odd);
    EXPECT_EQ((*node.root)["type"], 7);
    EXPECT_EQ((*node.root)["cylinder"]["surface"], 9);
    stale.activeLayer = 9;
    const std::string texts[] = {R"({"type": "Plane"})", R"({"sphere": {"axis": 4}})", node.root->dump(),
                                 R"({"cage": {"center": [1, 2, 3, 4]}})", R"({"activeLayer": 6})", R"({"activeLayer": -2})"};
    for (const std::string& json : texts) {
        Projection read = stale;
        ReadProjectionJson(test::ViewOf(json), read);
        EXPECT_TRUE(ProjectionEquals(read, Projection{})) << json;  // the active layer becomes none
    }
}

TEST(ProjectionEquality, ComparesByValueSoNaNNeverEqualsAndNegativeZeroDoes)
{
    Projection nan, negativeZero;
    nan.layers[1].zoom = kNaN;
    nan.cage.rotationDegrees.y = kNaN;
    EXPECT_FALSE(ProjectionEquals(nan, nan));
    EXPECT_FALSE(ProjectionSidesEquals(nan.layers, nan.layers));
    EXPECT_FALSE(OrientedBoxEquals(nan.cage, nan.cage));
    negativeZero.cage.center.x = -0.0f;
    EXPECT_TRUE(ProjectionEquals(negativeZero, Projection{}));
}

// ---- Frames -------------------------------------------------------------------------------

TEST(CageFrames, EulerAnglesTurnXFirstThenYThenZAndCornersFollowTheBitOrder)
{
    const CageFrame cage{.center = {}, .rotationDegrees = {90.0f, 0.0f, 90.0f}, .size = {1, 1, 1}};
    // x by 90 takes local y to world z; then z by 90 leaves world z where it is.
    const Vec3 y = CageToWorld(cage, {0, 1, 0});
    EXPECT_NEAR(y.z, 1.0f, 1e-6f);
    EXPECT_NEAR(CageToWorld(cage, {1, 0, 0}).y, 1.0f, 1e-6f);
    EXPECT_NEAR(WorldToCage(cage, y).y, 1.0f, 1e-6f);

    const CageCornerPoints points = CageCorners({.center = {10, 20, 30}, .rotationDegrees = {}, .size = {2, 4, 6}});
    EXPECT_EQ(points.corners[2], (Vec3{9, 22, 27}));
    EXPECT_EQ(points.corners[7], (Vec3{11, 22, 33}));
}

TEST(CageFrames, CylinderRadiusAndSideFrames)
{
    Projection projection;
    projection.cage.size = {2, 4, 8};
    for (std::int32_t axis : {0, 1, 2})
        EXPECT_EQ(CylinderRadius((projection.cylinderAxis = axis, projection)), axis == 2 ? 2.0f : 4.0f) << axis;
    // The frames of the sides in range are in the mapping's known answers.
    EXPECT_EQ(SideFrame(2, 2).uAxis, (Vec3{-1, 0, 0}));  // z x y
    // Out of range: clamped for the axis, sign from the lowest bit.
    EXPECT_EQ(SideFrame(7, 2).normal, (Vec3{0, 0, -1}));
    EXPECT_EQ(std::string(BoxSideName(1)) + BoxSideName(6) + BoxSideName(-1), "-X??");
}

// A plane turned by whole quarter turns (as Fit to Model turns it to x or y) faces one world
// axis exactly: in float cos 90 degrees is -4.4e-8, and a cage built from it tipped the faces
// square to the plane's direction just enough to cover them fully, the bottom face among them.
TEST(CageFrames, QuarterTurnsAreExactAndThePlaneNeverCoversFacesSquareToIt)
{
    const std::pair<Vec3, Vec3> cases[] = {  // rotation, and the plane's direction in the world
        {{0, 90, 0}, {1, 0, 0}},   {{-90, 0, 0}, {0, 1, 0}},  {{0, 0, 0}, {0, 0, 1}},
        {{0, -90, 0}, {-1, 0, 0}}, {{90, 0, 0}, {0, -1, 0}},  {{180, 0, 0}, {0, 0, -1}},
        {{0, 270, 0}, {-1, 0, 0}}, {{90, 90, -450}, {-1, 0, 0}}, {{-270, 0, 720}, {0, -1, 0}},
    };
    for (const auto& [rotation, facing] : cases) {
        EXPECT_EQ(EulerDegreesToMatrix(rotation).z, facing);
        for (const std::uint8_t twoSided : {0, 1}) {
            Projection plane = OfKind(ProjectionKind::Plane, {40, 40, 40});
            plane.cage.rotationDegrees = rotation;
            plane.planeTwoSided = twoSided;
            for (const Vec3 n : {Vec3{1, 0, 0}, Vec3{-1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, -1, 0}, Vec3{0, 0, 1}, Vec3{0, 0, -1}}) {
                const bool covered = n == facing || (twoSided != 0 && n == facing * -1.0f);
                EXPECT_EQ(MapThroughProjection(plane, n * 20.0f, n).coverage, covered ? 1.0f : 0.0f)
                    << rotation.x << " " << rotation.y << " " << rotation.z << " normal " << n.x << " " << n.y << " "
                    << n.z << " two-sided " << int(twoSided);
            }
        }
    }
}

// ---- Mapping ------------------------------------------------------------------------------

// One sample, or none where side is -1.
TEST(MapThroughProjection, KnownAnswers)
{
    const Projection box, plane = OfKind(ProjectionKind::Plane, {10, 20, 5}), cylinder = CylinderAlongZ(20.0f),
        sphere = OfKind(ProjectionKind::Sphere, {20, 20, 20}), unknown = OfKind(static_cast<ProjectionKind>(9));
    Projection twoSided = plane, bottomCap = cylinder, noBottom, nanSeam = cylinder, layered, turned, insideX, oddX,
        topOnly;
    twoSided.planeTwoSided = bottomCap.cylinderBottomCapEnabled = noBottom.boxBlended = topOnly.boxBlended = 1;
    std::fill(std::begin(topOnly.boxSideEnabled), std::end(topOnly.boxSideEnabled), 0);
    topOnly.boxSideEnabled[4] = 1;
    noBottom.boxSideEnabled[5] = 0;
    nanSeam.cylinderSeamDegrees = kNaN;
    layered.layers[2] = ProjectionLayer{{1.0f, 2.0f}, 0.0f, 2.0f, 0};
    turned.layers[2] = ProjectionLayer{{1.0f, 2.0f}, 90.0f, 0.0f, 0};
    insideX.boxSideSurface[0] = SurfaceSide::Inside;
    oddX.boxSideSurface[0] = static_cast<SurfaceSide>(5);
    const std::uint8_t outer = 255, inner = 0;
    struct Case {
        const char* name;
        const Projection& projection;
        Vec3 point, normal;
        std::int32_t side;
        float u, v;
        const std::uint8_t* outerMask = nullptr;
        float lean = 0.0f;  // a face's, for MapFaceThroughProjection; 0 maps as MapThroughProjection
    } const cases[] = {
        {"box +x", box, {1, 2, 3}, {1, 0, 0}, 0, 2, 3},   {"box -x", box, {1, 2, 3}, {-1, 0, 0}, 1, -2, 3},
        {"box +y", box, {1, 2, 3}, {0, 1, 0}, 2, 1, 3},   {"box -y", box, {1, 2, 3}, {0, -1, 0}, 3, -1, 3},
        {"box +z", box, {1, 2, 3}, {0, 0, 1}, 4, 1, 2},   {"box -z", box, {1, 2, 3}, {0, 0, -1}, 5, -1, 2},
        {"layer origin and zoom", layered, {1, 2, 3}, {0, 1, 0}, 2, 0, 0.5f},
        {"layer turned a quarter, zoom 0 counting as 1", turned, {1, 2, 3}, {0, 1, 0}, 2, 1, 0},
        {"box tie goes to the earlier axis", box, {}, {0.6f, 0.6f, 0.53f}, 0, 0, 0},
        {"plane from behind", plane, {1, 2, 0}, {0, 0, -1}, -1, 0, 0},
        {"two-sided plane from behind", twoSided, {1, 2, 0}, {0, 0, -1}, 4, 1, 2},
        {"plane at the cage edge", plane, {5, 10, 0}, {0, 0, 1}, 4, 5, 10},
        {"just beyond the plane's edge", plane, {5.001f, 0, 0}, {0, 0, 1}, -1, 0, 0},
        {"cylinder at the seam", cylinder, {-1, 0, 5}, {-1, 0, 0}, 0, 0, 5},
        {"cylinder opposite the seam", cylinder, {1, 0, 5}, {1, 0, 0}, 0, 3.1415927f * 10.0f, 5},
        {"on the cylinder's axis", cylinder, {0, 0, 5}, {1, 0, 0}, -1, 0, 0},
        {"seam not a number: angle 0", nanSeam, {1, 0, 5}, {1, 0, 0}, 0, 0, 5},
        {"bottom cap mirrors u", bottomCap, {2, 3, -10}, {0, 0, -1}, 5, -2, 3},
        {"sphere arc 45 degrees round", sphere, {7, 7, 0}, {1, 0.5f, 0}, 0, 0.7853982f * 10.0f, 0},
        {"blended box, only a disabled side", noBottom, {}, {0, 0, -1}, -1, 0, 0},
        {"unknown kind", unknown, {}, {0, 0, 1}, -1, 0, 0},
        {"zero normal", box, {0.1f, 0.2f, 0.3f}, {}, -1, 0, 0},
        {"inside-only side at an outer point", insideX, {}, {1, 0, 0}, -1, 0, 0, &outer},
        {"inside-only side at an inner point", insideX, {}, {1, 0, 0}, 0, 0, 0, &inner},
        {"inside-only side without a mask", insideX, {}, {1, 0, 0}, 0, 0, 0},
        {"unknown surface", oddX, {}, {1, 0, 0}, -1, 0, 0, &outer},
        {"face square to the plane within its lean", plane, {1, 2, 0}, {0.6f, 0.8f, 5e-5f}, -1, 0, 0, nullptr, 1e-4f},
        {"face leaning past its lean", plane, {1, 2, 0}, {0.6f, 0.8f, 5e-3f}, 4, 1, 2, nullptr, 1e-4f},
        {"wall within its lean, blended box of +z alone", topOnly, {}, {1, 0, 1e-5f}, -1, 0, 0, nullptr, 1e-4f},
        {"cap within its lean, cylinder wall alone", cylinder, {5, 0, 5}, {1e-5f, 0, 1}, -1, 0, 0, nullptr, 1e-4f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProjectionSamples r = c.lean == 0.0f
            ? MapThroughProjection(c.projection, c.point, c.normal, c.outerMask)
            : MapFaceThroughProjection(c.projection, c.point, c.normal, c.lean, c.outerMask);
        const float one = c.side < 0 ? 0.0f : 1.0f;
        EXPECT_EQ(std::tie(r.count, r.samples[0].side, r.dominantSide), std::make_tuple(int(one), c.side, c.side));
        EXPECT_EQ(std::tie(r.samples[0].weight, r.coverage), std::tie(one, one));
        EXPECT_NEAR(r.samples[0].u, c.u, 1e-4f);
        EXPECT_NEAR(r.samples[0].v, c.v, 1e-6f);
    }
}

TEST(MapThroughProjection, BlendedSidesAndCylinderCapsShareTheWeight)
{
    Projection halfOff, blended, capped = CylinderAlongZ(20.0f), outsideX;
    halfOff.boxBlended = blended.boxBlended = outsideX.boxBlended = 1;  // blended: the same rule over three sides
    halfOff.boxSideEnabled[2] = 0;
    capped.cylinderTopCapEnabled = 1;
    outsideX.boxSideSurface[0] = SurfaceSide::Outside;
    outsideX.boxBlendSharpness = 1.0f;
    const float s = 1.0f / std::sqrt(2.0f);
    const std::uint8_t inner = 0;
    // Name, projection, point, normal, mask; count, dominant side, coverage, first weight.
    const std::tuple<const char*, const Projection&, Vec3, Vec3, const std::uint8_t*, int, int, float, float> cases[] = {
        {"one of two sides off", halfOff, {}, {s, s, 0}, nullptr, 1, 0, 0.5f, 1.0f},
        {"three sides", blended, {}, {0.5f, -0.6f, 0.3f}, nullptr, 3, 3, 1.0f, 0.3122f},
        {"wall and cap alike: the wall wins", capped, {5, 0, 0}, {s, 0, s}, nullptr, 2, 0, 1.0f, 0.5f},
        {"surface drops one of two sides", outsideX, {}, {0.6f, 0.8f, 0.0f}, &inner, 1, 2, 0.8f / 1.4f, 1.0f},
    };
    for (const auto& [name, projection, point, normal, mask, count, dominant, coverage, weight] : cases) {
        const ProjectionSamples r = MapThroughProjection(projection, point, normal, mask);
        EXPECT_EQ(std::tie(r.count, r.dominantSide), std::tie(count, dominant)) << name;
        EXPECT_NEAR(r.coverage, coverage, 1e-6f) << name;
        EXPECT_NEAR(r.samples[0].weight, weight, 1e-3f) << name;
    }
}

// ---- Layers and whole tiles ----------------------------------------------------------------

TEST(SideLayerCoordinates, NeutralOffTheSidesStrongestSampleAndZoomRange)
{
    Projection projection;
    for (ProjectionLayer& layer : projection.layers)
        layer.originMillimetres[0] = 1.0f;
    EXPECT_EQ(SideLayerCoordinates(projection, 9, {3.0f, 4.0f}).u, 3.0f);  // not a side: neutral

    ProjectionSamples samples;
    samples.count = 3;
    std::tie(samples.samples[0], samples.samples[1], samples.samples[2]) =
        std::tuple(ProjectionSample{1, 1, 0.25f, 0}, ProjectionSample{2, 2, 0.5f, 2}, ProjectionSample{3, 3, 0.5f, 4});
    EXPECT_EQ(StrongestSample(samples).u, 2.0f);  // the first of the heaviest

    // Zoom range over the sides in use; 0 or less counts as 1.
    std::tie(projection.layers[0].zoom, projection.layers[1].zoom) = std::tuple(3.0f, 0.5f);
    EXPECT_EQ(std::make_pair(MaximumLayerZoom(projection), MinimumLayerZoom(projection)), std::make_pair(3.0f, 0.5f));
    projection.boxSideEnabled[0] = projection.boxSideEnabled[1] = 0;
    EXPECT_EQ(MaximumLayerZoom(projection), 1.0f);
    projection.type = static_cast<ProjectionKind>(8);
    EXPECT_EQ(MinimumLayerZoom(projection), 1.0f);
}

// Round a cylinder of radius 10 (62.83 mm) with tiles of 30 mm by default: 2.09 tiles, fitted
// to 2 by a zoom of 2.09 / 2.
TEST(ComputeTileFrame, WholeTilesAroundACylinder)
{
    const Projection projection = CylinderAlongZ(20.0f);
    TextureSettings mirror, few, diagonal, tiny, single;
    mirror.seamlessMethod = "Mirror";  // repeats every second tile
    mirror.widthMillimetres = 62.831855f / 3.2f;
    few.widthMillimetres = 62.831855f / 0.4f;
    diagonal.rotationDegrees = 45.0f;
    tiny.widthMillimetres = tiny.heightMillimetres = 1e-30f;
    single.tiles = false;
    const TextureSettings plain;
    // Name, settings, side; active, whole tiles, tile count, fitted zoom.
    const std::tuple<const char*, const TextureSettings&, int, int, int, int, float> cases[] = {
        {"default", plain, 0, 1, 1, 2, 1.0472f}, {"mirror", mirror, 0, 1, 1, 4, 0.8f}, {"under one", few, 0, 1, 1, 1, 0.4f},
        {"diagonal wrap", diagonal, 0, 1, 0, 0, 1}, {"count overflows", tiny, 0, 1, 0, 0, 1},
        {"no repeat", single, 0, 0, 0, 0, 1}, {"a cap", plain, 4, 0, 0, 0, 1}};
    for (const auto& [name, settings, side, active, wholeTiles, tileCount, fittedZoom] : cases) {
        const SideTiling t = ComputeTileFrame(projection, settings, side);
        EXPECT_EQ(std::make_tuple(int{t.active}, int{t.wholeTiles}, t.tileCount), std::tie(active, wholeTiles, tileCount)) << name;
        EXPECT_NEAR(t.fittedZoom, fittedZoom, 1e-4f) << name;
        EXPECT_TRUE(side != 0 || BuildTileFrames(projection, settings).layers[0].zoom == t.fittedZoom) << name;
    }
}

TEST(ComputeTileFrame, SphereFitsEveryLayerByTheFirstActiveFrame)
{
    Projection sphere = OfKind(ProjectionKind::Sphere, {20, 20, 20});
    std::tie(sphere.layers[3].zoom, sphere.layers[5].zoom) = std::tuple(2.0f, 0.0f);
    const SideTiling frame = ComputeTileFrame(sphere, TextureSettings{}, 0);  // round the z pole axis
    ASSERT_TRUE(frame.wholeTiles == 1 && ComputeTileFrame(sphere, TextureSettings{}, 4).active == 0);
    const Projection fitted = BuildTileFrames(sphere, TextureSettings{});
    const float ratio = frame.fittedZoom / frame.zoom;
    EXPECT_EQ(fitted.layers[3].zoom, 2.0f * ratio);
    EXPECT_NEAR(fitted.layers[5].zoom, ratio, 1e-6f);
}

// ---- Property -----------------------------------------------------------------------------

// 200 random cages over the test shapes, with some hostile seam angles and normals: every
// result keeps its promises, and on many threads it gives the same bits.
TEST(MapThroughProjection, RandomCagesGiveSoundSamplesOnAnyThreadCount)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    const TriangleMesh shapes[] = {MakeTestCube(20.0f), MakeTestCylinder(8.0f, 25.0f), MakeTestSphere(12.0f)};
    const std::uint8_t masks[2] = {0, 255};
    const float hostileSeams[] = {1e30f, kNaN, kInfinity, -1e7f, 2e4f};
    const float tiny = std::numeric_limits<float>::denorm_min();
    const Vec3 hostileNormals[] = {{}, {kNaN, 0, 1}, {kInfinity, 1, 0}, {1e38f, 1e38f, 1e38f}, {tiny, 0, 0},
                                   {1, 1, tiny}, {tiny, tiny, -tiny}};
    for (int trial = 0; trial < 200; ++trial) {
        Projection projection;
        projection.type = static_cast<ProjectionKind>(trial % 4);
        projection.cage = {{unit(random) * 10 - 5, unit(random) * 10 - 5, unit(random) * 10 - 5},
                           {angle(random), angle(random), angle(random)},
                           {unit(random) * 40 + 0.1f, unit(random) * 40 + 0.1f, unit(random) * 40 + 0.1f}};
        std::tie(projection.boxBlended, projection.planeTwoSided, projection.cylinderTopCapEnabled,
                 projection.cylinderBottomCapEnabled) = std::tuple((trial / 4) % 2, (trial / 8) % 2, (trial / 2) % 2, (trial / 3) % 2);
        std::tie(projection.cylinderAxis, projection.sphereAxis) = std::tuple(trial % 3, (trial / 5) % 3);
        projection.boxBlendSharpness = unit(random) * 10.0f;
        // One cylinder in three has a seam angle no one would type.
        projection.cylinderSeamDegrees = trial % 12 == 2 ? hostileSeams[trial / 12 % 5] : angle(random) * 4.0f;
        for (int side = 0; side < kBoxSideCount; ++side) {
            projection.boxSideEnabled[side] = unit(random) < 0.8f ? 1 : 0;
            projection.boxSideSurface[side] = static_cast<SurfaceSide>(static_cast<int>(unit(random) * 3) % 3);
            projection.layers[side] =
                ProjectionLayer{{unit(random) * 4, unit(random) * 4}, angle(random), unit(random) * 3, 0};
        }
        projection.cylinderSurface = static_cast<SurfaceSide>(trial % 3);
        const TriangleMesh& mesh = shapes[trial % 3];
        std::vector<Vec3> points(mesh.TriangleCount());
        for (std::size_t t = 0; t < points.size(); ++t) {
            const float wa = unit(random), wb = unit(random) * (1 - wa);
            points[t] = mesh.vertices[mesh.indices[t * 3]].position * wa
                + mesh.vertices[mesh.indices[t * 3 + 1]].position * wb
                + mesh.vertices[mesh.indices[t * 3 + 2]].position * (1 - wa - wb);
        }
        const auto map = [&](std::size_t t) {
            const Vec3 normal = t % 13 == 0 ? hostileNormals[t / 13 % 7] : mesh.FaceNormal(t);
            return MapThroughProjection(projection, points[t], normal, t % 3 == 2 ? nullptr : &masks[t % 2]);
        };
        std::vector<ProjectionSamples> serial(points.size());
        g_allocations = 0;
        for (std::size_t t = 0; t < points.size(); ++t)
            serial[t] = map(t);
        ASSERT_EQ(std::exchange(g_allocations, -1), 0) << "the mapping allocated, trial " << trial;
        for (std::size_t t = 0; t < points.size(); ++t)
            ASSERT_EQ(SampleFault(serial[t]), "") << "trial " << trial << " triangle " << t;
        if (trial % 10 != 0)
            continue;
        std::vector<ProjectionSamples> parallel(points.size());
        ParallelFor(parallel.size(), [&](std::size_t t) { parallel[t] = map(t); }, 16);
        ASSERT_EQ(std::memcmp(serial.data(), parallel.data(), serial.size() * sizeof(ProjectionSamples)), 0) << trial;
    }
}

}  // namespace
}  // namespace grainforge::mesh
