#include "engine/displacement/clearance_holding.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
// Rays start just off the surface and the offset is added back, so the open distance across a
// gap g is g up to float rounding, and a limit (g - c) / 2 is met to within this.
constexpr float kRounding = 1e-5f;

AabbTree TreeOf(const TriangleMesh& mesh)
{
    AabbTree tree;
    tree.Build(mesh);
    return tree;
}

// Both steps as the solid displacement runs them: rays, then limits.
std::uint64_t Hold(const TriangleMesh& mesh, std::vector<float>& heights, float clearance, std::uint32_t rays = 3)
{
    const OpenDistances open = MeasureClearanceRays(mesh, TreeOf(mesh), heights, {.rays = rays}, nullptr);
    return HoldHeightsForClearance(mesh, open, clearance, heights);
}

// Two blocks of 10 mm, one above the other, with a slot 2 mm wide between them: the lower
// block's top (z = 10) faces up at the upper block's bottom (z = 12). Both slot faces are 8 x 8
// grids (MakeGridTopBox) whose vertices carry the normal straight across the slot. The blocks'
// far corners look out into open space.
struct Slot {
    static constexpr std::uint32_t kFace = 81;  // grid vertices of one slot face, numbered first
    TriangleMesh mesh;
    std::vector<std::uint32_t> faces;    // both slot faces
    std::vector<std::uint32_t> corners;  // the lower block's bottom, the upper block's top

    Slot()
    {
        TriangleMesh lower = test::MakeGridTopBox(8, 10.0f);
        TriangleMesh upper = lower;
        for (MeshVertex& v : upper.vertices)
            v.position.z = 22.0f - v.position.z;
        upper = test::Flipped(std::move(upper));  // the mirror turned it inside out
        upper.ComputeVertexNormals();
        const auto shift = static_cast<std::uint32_t>(lower.vertices.size());
        mesh = test::Combined(std::move(lower), upper);
        for (std::uint32_t v = 0; v < shift; ++v) {
            std::vector<std::uint32_t>& list = v < kFace ? faces : corners;
            list.insert(list.end(), {v, shift + v});
        }
        for (std::uint32_t v = 0; v < kFace; ++v) {
            mesh.vertices[v].normal = {0, 0, 1};
            mesh.vertices[shift + v].normal = {0, 0, -1};
        }
    }

    std::vector<float> HeightsOn(const std::vector<std::uint32_t>& vertices, float height) const
    {
        std::vector<float> heights(mesh.vertices.size(), 0.0f);
        for (std::uint32_t v : vertices)
            heights[v] = height;
        return heights;
    }
};

TEST(HoldHeightsForClearance, ReliefInASlotKeepsTheClearanceOpen)
{
    struct Case {
        float height;
        float clearance;
        std::uint32_t rays;
        float limit;  // (room - clearance) / 2, room 2 mm across the slot, 10 mm into a block
    };
    const Case cases[] = {
        {1.5f, 0.4f, 3, 0.8f},
        {1.5f, 0.4f, 5, 0.8f},
        {1.5f, 1.2f, 3, 0.4f},
        {1.5f, 2.0f, 3, 0.0f},  // open distance at most the clearance: no relief at all
        {1.5f, 2.5f, 3, 0.0f},
        {-6.0f, 0.4f, 3, 4.8f},  // sinking into the blocks
    };
    const Slot slot;
    for (const Case& c : cases) {
        std::vector<float> heights = slot.HeightsOn(slot.faces, c.height);
        EXPECT_EQ(Hold(slot.mesh, heights, c.clearance, c.rays), slot.faces.size()) << c.height << " " << c.clearance;
        for (std::uint32_t v : slot.faces) {
            EXPECT_LE(std::fabs(heights[v]), c.limit) << c.height << " " << c.clearance << ", vertex " << v;
            EXPECT_GE(std::fabs(heights[v]), c.limit - kRounding) << c.height << " " << c.clearance << ", vertex " << v;
            EXPECT_EQ(heights[v] < 0, c.height < 0) << c.height << " " << c.clearance << ", vertex " << v;
        }
    }
}

// Rays bounded by ClearanceRayReach hold the very heights unbounded rays hold, whether the
// surfaces they miss lie just past the reach (the blocks' far sides, 10 mm in) or in the slot.
TEST(ClearanceRayReach, BoundedRaysHoldTheSameHeights)
{
    struct Case {
        float height;      // on every vertex, the sign alternating by vertex for `mixed`
        bool mixed;
        float clearance;
        std::uint32_t rays;
    };
    const Case cases[] = {{1.5f, false, 0.4f, 3}, {1.5f, true, 0.4f, 5}, {-3.0f, false, 0.4f, 3},
        {0.9f, true, 1.2f, 3}, {-2.3f, true, 0.0f, 5}};
    const Slot slot;
    const AabbTree tree = TreeOf(slot.mesh);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        std::vector<float> heights(slot.mesh.vertices.size());
        for (std::size_t v = 0; v < heights.size(); ++v)
            heights[v] = c.mixed && v % 2 == 1 ? -c.height : c.height;
        ClearanceRaySettings bounded{.rays = c.rays};
        bounded.reach = ClearanceRayReach(heights, c.clearance, bounded);
        ASSERT_LT(bounded.reach, 16.0f);
        std::vector<float> held = heights;
        std::vector<float> heldBounded = heights;
        const OpenDistances open = MeasureClearanceRays(slot.mesh, tree, heights, {.rays = c.rays}, nullptr);
        const OpenDistances openBounded = MeasureClearanceRays(slot.mesh, tree, heights, bounded, nullptr);
        EXPECT_EQ(HoldHeightsForClearance(slot.mesh, openBounded, c.clearance, heldBounded),
            HoldHeightsForClearance(slot.mesh, open, c.clearance, held));
        EXPECT_EQ(heldBounded, held);
    }
    // Side rays tilted flat leave the rays unbounded; heights that are not finite cast no rays
    // and are never held by a limit, so they do not widen the reach.
    EXPECT_EQ(ClearanceRayReach(std::vector<float>{1.0f}, 0.4f, {.sideCosine = 0.0f}), kOpenDistance);
    EXPECT_EQ(ClearanceRayReach(std::vector<float>{1.0f, kInfinity, kNaN}, 0.4f, {}),
        ClearanceRayReach(std::vector<float>{1.0f}, 0.4f, {}));
}

TEST(HoldHeightsForClearance, VerticesFacingOpenSpaceKeepTheirHeights)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const Slot slot;
    // Rising out of a convex part, and sinking by less than half its depth.
    for (const float height : {2.0f, -2.0f}) {
        std::vector<float> heights(sphere.vertices.size(), height);
        EXPECT_EQ(Hold(sphere, heights, 0.4f), 0u) << height;
        EXPECT_EQ(heights, std::vector<float>(sphere.vertices.size(), height)) << height;
    }
    std::vector<float> corners = slot.HeightsOn(slot.corners, 1.5f);
    const std::vector<float> before = corners;
    EXPECT_EQ(Hold(slot.mesh, corners, 0.4f), 0u);
    EXPECT_EQ(corners, before);
}

TEST(HoldHeightsForClearance, HeightsOfExactlyZeroCastNoRaysAndAreNeverCounted)
{
    // Every other slot vertex rises, the rest stay at 0 or -0; a clearance wider than the slot
    // holds every rising vertex to 0.
    const Slot slot;
    std::vector<float> heights(slot.mesh.vertices.size(), 0.0f);
    std::uint64_t rising = 0;
    for (std::uint32_t v : slot.faces) {
        heights[v] = v % 2 == 0 ? 0.5f : (v % 4 == 1 ? -0.0f : 0.0f);
        rising += v % 2 == 0 ? 1 : 0;
    }
    const OpenDistances open = MeasureClearanceRays(slot.mesh, TreeOf(slot.mesh), heights, {}, nullptr);
    for (std::size_t v = 0; v < heights.size(); ++v) {
        if (heights[v] == 0.0f) {
            EXPECT_EQ(open.outward[v], kOpenDistance) << v;
            EXPECT_EQ(open.inward[v], kOpenDistance) << v;
        }
    }
    EXPECT_EQ(HoldHeightsForClearance(slot.mesh, open, 2.5f, heights), rising);
    EXPECT_EQ(heights, std::vector<float>(heights.size(), 0.0f));
}

// Two lone vertices at the origin, 4 (even) and 5 (odd), rise 5 mm along `normal` under the
// sheet x0 <= x <= x1, y0 <= y <= y1 at z = 2, facing down or up; clearance 0.4.
std::array<float, 2> HeightsUnderSheet(std::array<float, 4> sheet, bool facingDown, Vec3 normal, std::uint32_t rays)
{
    const auto [x0, y0, x1, y1] = sheet;
    TriangleMesh mesh =
        test::MeshOf({{x0, y0, 2}, {x0, y1, 2}, {x1, y1, 2}, {x1, y0, 2}, {0, 0, 0}, {0, 0, 0}}, {0, 1, 2, 0, 2, 3});
    if (!facingDown)
        mesh = test::Flipped(std::move(mesh));
    mesh.vertices[4].normal = mesh.vertices[5].normal = normal;
    std::vector<float> heights = {0, 0, 0, 0, 5, 5};
    (void)Hold(mesh, heights, 0.4f, rays);
    return {heights[4], heights[5]};
}

TEST(HoldHeightsForClearance, OnlySurfacesFacingBackCountAndSideRaysCountAlongTheMovement)
{
    // Tilting the vertices' normal by an angle a from +z makes the sheet's normal . vertex
    // normal -cos a. Three rays probe +-y from even vertices and +-x from odd ones (for a
    // normal along z); five probe all four. A sheet off to one side is seen by the side ray
    // tilted towards it only, 2 / cos 30 away: 2 mm along the movement, limit (2 - 0.4) / 2.
    constexpr float kHeld = -1.0f;  // below the 5 given, at a limit not worked out here
    constexpr std::array<float, 4> kWide = {-20, -20, 20, 20};
    struct Case {
        const char* what;
        std::array<float, 4> sheet;
        bool facingDown;
        Vec3 normal;
        std::uint32_t rays;
        std::array<float, 2> heights;  // of the even and the odd vertex
    };
    const Case cases[] = {
        {"faces back", kWide, true, {0, 0, 1}, 3, {0.8f, 0.8f}},
        {"faces back at -0.6", kWide, true, {0.8f, 0, 0.6f}, 3, {kHeld, kHeld}},
        {"faces back at -0.4 only", kWide, true, {0.9165151f, 0, 0.4f}, 3, {5, 5}},
        {"faces the same way", kWide, false, {0, 0, 1}, 3, {5, 5}},
        {"towards +y, three rays", {-1, 0.5f, 1, 3}, true, {0, 0, 1}, 3, {0.8f, 5}},
        {"towards -y, three rays", {-1, -3, 1, -0.5f}, true, {0, 0, 1}, 3, {0.8f, 5}},
        {"towards -x, three rays", {-3, -1, -0.5f, 1}, true, {0, 0, 1}, 3, {5, 0.8f}},
        {"towards +y, five rays", {-1, 0.5f, 1, 3}, true, {0, 0, 1}, 5, {0.8f, 0.8f}},
        {"towards +x, five rays", {0.5f, -1, 3, 1}, true, {0, 0, 1}, 5, {0.8f, 0.8f}},
    };
    for (const Case& c : cases) {
        const std::array<float, 2> heights = HeightsUnderSheet(c.sheet, c.facingDown, c.normal, c.rays);
        for (std::size_t k = 0; k < 2; ++k) {
            if (c.heights[k] == kHeld)
                EXPECT_LT(heights[k], 5.0f) << c.what << ", vertex " << 4 + k;
            else
                EXPECT_NEAR(heights[k], c.heights[k], kRounding) << c.what << ", vertex " << 4 + k;
        }
    }
}

TEST(HoldHeightsForClearance, SmoothingSpreadsASmallLimitByTheEdgeLength)
{
    // A strip of unit squares along x: bottom vertices b_k = k at (k, 0), top ones at (k, 1);
    // square k is the triangles (b_k, b_k+1, t_k+1) and (b_k, t_k+1, t_k). One bottom vertex
    // has no room (limit 0), every height is 100. Along the bottom row the limit grows by 1 mm
    // an edge. The six passes run over the triangles in index order and in place: a limit
    // spreads all the way towards later triangles in one pass, but one square back per pass.
    constexpr std::uint32_t kSquares = 30;
    std::vector<Vec3> positions;
    std::vector<std::uint32_t> indices;
    for (float y : {0.0f, 1.0f})
        for (std::uint32_t k = 0; k <= kSquares; ++k)
            positions.push_back({static_cast<float>(k), y, 0.0f});
    for (std::uint32_t k = 0, t = kSquares + 1; k < kSquares; ++k)
        indices.insert(indices.end(), {k, k + 1, t + k + 1, k, t + k + 1, t + k});
    const TriangleMesh strip = test::MeshOf(positions, indices);
    struct Case {
        std::uint32_t source;
        std::uint32_t reach;  // squares the limit spreads over
    };
    for (const Case& c : {Case{0, kSquares}, Case{kSquares, 6}}) {
        const std::vector<float> open(strip.vertices.size(), kOpenDistance);
        OpenDistances distances{open, open};
        distances.outward[c.source] = 0.4f;
        std::vector<float> heights(strip.vertices.size(), 100.0f);
        // The top row follows one square behind: as many of its vertices are held.
        EXPECT_EQ(HoldHeightsForClearance(strip, distances, 0.4f, heights), 2 * (c.reach + 1)) << c.source;
        for (std::uint32_t k = 0; k <= kSquares; ++k) {
            const std::uint32_t steps = c.source > k ? c.source - k : k - c.source;
            EXPECT_EQ(heights[k], steps <= c.reach ? static_cast<float>(steps) : 100.0f) << c.source << ", " << k;
        }
    }
}

TEST(MeasureClearanceRays, AStopAskedThroughTheJobThrowsStopped)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const AabbTree tree = TreeOf(sphere);
    const std::vector<float> heights(sphere.vertices.size(), -1.0f);
    const ProgressCallback refuse = [](const std::string&, float) { return false; };
    JobProgressContext stopping(refuse);
    EXPECT_THROW((void)MeasureClearanceRays(sphere, tree, heights, {}, &stopping), Stopped);
    const ProgressCallback carryOn = [](const std::string&, float) { return true; };
    JobProgressContext going(carryOn);
    EXPECT_EQ(MeasureClearanceRays(sphere, tree, heights, {}, &going),
        MeasureClearanceRays(sphere, tree, heights, {}, nullptr));
}

TEST(MeasureClearanceRays, SameOnOneThreadAsOnMany)
{
    TriangleMesh sphere = test::MakeBumpySphere(10.0f, 0.8f, 48, 96);
    sphere.ComputeVertexNormals();
    const AabbTree tree = TreeOf(sphere);
    std::vector<float> heights(sphere.vertices.size());
    for (std::size_t v = 0; v < heights.size(); ++v)
        heights[v] = v % 5 == 0 ? 6.0f : -6.0f;  // the sinking ones cross the part
    for (const std::uint32_t rays : {3u, 5u}) {
        test::ExpectSameOnOneThread([&] {
            OpenDistances open = MeasureClearanceRays(sphere, tree, heights, {.rays = rays}, nullptr);
            std::vector<float> held = heights;
            const std::uint64_t count = HoldHeightsForClearance(sphere, open, 0.4f, held);
            return std::make_tuple(std::move(open), held, count);
        });
    }
}

TEST(HoldHeightsForClearance, InputOfTheWrongShapeIsNeitherMeasuredNorHeld)
{
    const Slot slot;
    const std::vector<float> heights = slot.HeightsOn(slot.faces, 1.5f);
    const AabbTree tree = TreeOf(slot.mesh);
    const std::vector<float> open(slot.mesh.vertices.size(), kOpenDistance);
    const OpenDistances allOpen{open, open};
    const OpenDistances measured = MeasureClearanceRays(slot.mesh, tree, heights, {}, nullptr);
    std::vector<float> oneShort(heights.begin(), heights.end() - 1);
    TriangleMesh broken = slot.mesh;
    broken.indices[5] = static_cast<std::uint32_t>(broken.vertices.size());  // under the sound mesh's tree
    OpenDistances inwardShort = measured;
    inwardShort.inward.pop_back();

    EXPECT_EQ(MeasureClearanceRays(slot.mesh, tree, oneShort, {}, nullptr), allOpen);
    EXPECT_EQ(MeasureClearanceRays(broken, tree, heights, {}, nullptr), allOpen);
    EXPECT_EQ(HoldHeightsForClearance(slot.mesh, measured, 0.4f, oneShort), 0u);
    std::vector<float> unchanged = heights;
    EXPECT_EQ(HoldHeightsForClearance(broken, measured, 0.4f, unchanged), 0u);
    EXPECT_EQ(HoldHeightsForClearance(slot.mesh, inwardShort, 0.4f, unchanged), 0u);
    EXPECT_EQ(unchanged, heights);
}

TEST(HoldHeightsForClearance, ABrokenVertexOrClearanceHoldsNoSoundVertexWrongly)
{
    struct Case {
        const char* what;
        bool onCorner;  // the broken vertex: a block's outer corner, else the slot's middle
        std::optional<Vec3> position;
        std::optional<Vec3> normal;
        float height;
        float clearance;
        float brokenAfter;  // the broken vertex's height afterwards
        float limit;        // the sound slot vertices' limit
    };
    const Case cases[] = {
        {"NaN height", false, {}, {}, kNaN, 0.4f, 0.0f, 0.8f},
        {"infinite height", false, {}, {}, kInfinity, 0.4f, 0.0f, 0.8f},
        {"NaN normal", false, {}, Vec3{0, kNaN, 1}, 1.5f, 0.4f, 1.5f, 0.8f},
        {"infinite normal", false, {}, Vec3{0, 0, kInfinity}, 1.5f, 0.4f, 1.5f, 0.8f},
        {"zero normal", false, {}, Vec3{0, 0, 0}, 1.5f, 0.4f, 1.5f, 0.8f},
        {"NaN position", true, Vec3{kNaN, 0, 0}, {}, 1.5f, 0.4f, 1.5f, 0.8f},
        {"infinite position", true, Vec3{0, kInfinity, 0}, {}, 1.5f, 0.4f, 1.5f, 0.8f},
        {"NaN clearance taken as 0", false, {}, {}, 1.5f, kNaN, 1.0f, 1.0f},
        {"negative clearance taken as 0", false, {}, {}, 1.5f, -3.0f, 1.0f, 1.0f},
    };
    const Slot slot;
    for (const Case& c : cases) {
        TriangleMesh mesh = slot.mesh;
        const std::uint32_t victim = c.onCorner ? slot.corners[0] : 40;
        mesh.vertices[victim].position = c.position.value_or(mesh.vertices[victim].position);
        mesh.vertices[victim].normal = c.normal.value_or(mesh.vertices[victim].normal);
        std::vector<float> heights = slot.HeightsOn(slot.faces, 1.5f);
        heights[victim] = c.height;
        (void)Hold(mesh, heights, c.clearance);
        EXPECT_NEAR(heights[victim], c.brokenAfter, kRounding) << c.what;
        for (std::uint32_t v : slot.faces) {
            if (v == victim)
                continue;
            EXPECT_NEAR(heights[v], c.limit - kRounding / 2, kRounding / 2) << c.what << ", vertex " << v;
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
