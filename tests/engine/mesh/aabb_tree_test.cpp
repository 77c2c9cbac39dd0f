#include "engine/mesh/aabb_tree.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/checksum.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <tuple>

namespace grainforge::mesh {
namespace {

Vec3d Widened(Vec3 v) { return {v.x, v.y, v.z}; }

Vec3 CornerOf(const TriangleMesh& mesh, std::size_t t, int k) { return mesh.vertices[mesh.indices[3 * t + k]].position; }

double DistanceSquared(Vec3d a, Vec3d b)
{
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z);
}

double TriangleDistanceSquared(const TriangleMesh& mesh, std::size_t t, Vec3 point)
{
    const Vec3d p = Widened(point);
    return DistanceSquared(p, ClosestPointOnTriangle(p, Widened(CornerOf(mesh, t, 0)), Widened(CornerOf(mesh, t, 1)),
                                  Widened(CornerOf(mesh, t, 2))));
}

// Smallest squared distance over the triangles `keep` accepts; infinity when none.
template <class Keep>
double BruteNearestSquared(const TriangleMesh& mesh, Vec3 point, Keep keep)
{
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        if (keep(t))
            best = std::min(best, TriangleDistanceSquared(mesh, t, point));
    return best;
}

void Relabel(AabbTree& tree, const std::vector<std::uint32_t>& labels)
{
    tree.minLabel.assign(tree.nodes.size(), 0);
    tree.maxLabel.assign(tree.nodes.size(), 0);
    tree.RefitLabels(0, labels);
}

AabbTree BuildTree(const TriangleMesh& mesh)
{
    AabbTree tree;
    tree.Build(mesh);
    return tree;
}

// Walks the tree from the root; checks that every node is reached once, a right child lies
// after its left subtree, leaves own every position once, and boxes hold their triangles.
// Returns the number of nodes reached.
std::uint64_t CheckStructure(const AabbTree& tree, const TriangleMesh& mesh)
{
    std::vector<int> reached(tree.nodes.size(), 0), owned(tree.order.size(), 0);
    std::vector<std::uint32_t> stack{0};
    std::uint64_t count = 0;
    while (!stack.empty() && stack.back() < tree.nodes.size() && count <= tree.nodes.size()) {
        const AabbNode& node = tree.nodes[stack.back()];
        ++reached[stack.back()];
        ++count;
        if (node.count == 0) {
            EXPECT_GT(node.right, stack.back() + 1);
            stack.back() += 1;
            stack.push_back(node.right);
            continue;
        }
        stack.pop_back();
        for (std::uint32_t p = node.first; p < node.first + node.count && p < owned.size(); ++p) {
            ++owned[p];
            for (int k = 0; k < 3; ++k) {
                const Vec3 c = CornerOf(mesh, tree.order[p], k);
                EXPECT_TRUE(c.x >= node.boxMin.x && c.x <= node.boxMax.x && c.y >= node.boxMin.y
                    && c.y <= node.boxMax.y && c.z >= node.boxMin.z && c.z <= node.boxMax.z);
            }
        }
    }
    std::vector<int> seen(tree.order.size(), 0);
    for (std::uint32_t t : tree.order)
        ++seen.at(t);
    EXPECT_EQ(reached, std::vector<int>(tree.nodes.size(), 1));
    EXPECT_EQ(owned, std::vector<int>(tree.order.size(), 1));
    EXPECT_EQ(seen, owned);
    return count;
}

// The node array is sized by the estimate before any node is written, so the estimate must be
// exactly the number of nodes the split writes, including the halves built on other threads.
TEST(AabbTree, EstimateEqualsTheNodesWrittenForManySizes)
{
    // 131072 is the smallest range whose left half is built asynchronously.
    for (std::uint32_t n : {1u, 8u, 9u, 16u, 17u, 33u, 70u, 1001u, 131072u, 131073u}) {
        SCOPED_TRACE(n);
        // A leaf holds up to 8 triangles; above that the range splits in halves.
        const TriangleMesh mesh = test::MakeRandomTriangles(n, n, 100, 0.5f);
        const AabbTree tree = BuildTree(mesh);
        const std::uint64_t expected = n < 9 ? 1 : 1 + AabbTree::EstimateNodeCount(n - n / 2, 1)
                + AabbTree::EstimateNodeCount(n / 2, 1);
        EXPECT_EQ(expected, AabbTree::EstimateNodeCount(n, 0));
        ASSERT_EQ(tree.nodes.size(), expected);
        EXPECT_EQ(CheckStructure(tree, mesh), expected);
    }
}

TEST(AabbTree, NearestMatchesBruteForceOnRandomQueries)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(4, 3000, 50, 2);
    const AabbTree tree = BuildTree(mesh);
    std::mt19937 random(9);
    std::uniform_real_distribution<float> coordinate(-10, 60);
    std::uniform_real_distribution<float> reach(0.1f, 5.0f);
    for (int query = 0; query < 3000; ++query) {
        const Vec3 p{coordinate(random), coordinate(random), coordinate(random)};
        const bool limited = query % 3 == 0;
        const float maximum = limited ? reach(random) : kNoDistanceLimit;
        const bool filtered = query % 2 == 0;
        auto rejectEven = [](std::uint32_t t) { return t % 2 == 0; };
        const NearestHit hit = filtered ? tree.Nearest(mesh, p, {}, rejectEven, maximum)
                                        : tree.Nearest(mesh, p, {}, {}, maximum);
        const double best = BruteNearestSquared(mesh, p, [&](std::size_t t) { return !filtered || t % 2 == 1; });
        const bool expectFound = !limited || best < static_cast<double>(maximum) * maximum;
        ASSERT_EQ(hit.found, expectFound) << "query " << query;
        EXPECT_EQ(hit.triangle < 0, !hit.found);
        if (!hit.found)
            continue;
        EXPECT_NEAR(hit.distance, std::sqrt(best), 1e-5 * (1 + std::sqrt(best))) << "query " << query;
        EXPECT_TRUE(!filtered || hit.triangle % 2 == 1);
        // The point returned lies on the triangle returned.
        EXPECT_NEAR(TriangleDistanceSquared(mesh, static_cast<std::size_t>(hit.triangle), hit.point), 0.0, 1e-8);
    }
}

TEST(AabbTree, RaycastMatchesBruteForceOnRandomRays)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(6, 3000, 50, 2);
    const AabbTree tree = BuildTree(mesh);
    std::mt19937 random(10);
    std::uniform_real_distribution<float> coordinate(-10, 60);
    std::uniform_real_distribution<float> direction(-1, 1);
    int hits = 0;
    for (int query = 0; query < 3000; ++query) {
        const Ray ray{{coordinate(random), coordinate(random), coordinate(random)},
            {direction(random), direction(random), direction(random)}};
        float best = std::numeric_limits<float>::infinity();
        for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
            const RayHit h = PickTriangle(ray, CornerOf(mesh, t, 0), CornerOf(mesh, t, 1), CornerOf(mesh, t, 2));
            if (h.hit)
                best = std::min(best, h.distance);
        }
        const RayHit hit = tree.Raycast(ray, mesh);
        ASSERT_EQ(hit.hit, std::isfinite(best)) << "query " << query;
        if (!hit.hit)
            continue;
        ++hits;
        ASSERT_GE(hit.triangle, 0);
        const RayHit own = PickTriangle(ray, CornerOf(mesh, hit.triangle, 0), CornerOf(mesh, hit.triangle, 1),
            CornerOf(mesh, hit.triangle, 2));
        EXPECT_EQ(std::tuple(hit.distance, own.distance, own.normal), std::tuple(best, best, hit.normal)) << query;
    }
    EXPECT_GT(hits, 300);
}

// Kept corners and a bounded ray change how fast the answer comes, never the answer: the same
// triangle, point and distance to the bit as the plain tree's unbounded search.
TEST(AabbTree, KeptCornersAndBoundedRaysGiveTheSameAnswers)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(7, 3000, 50, 2);
    const AabbTree plain = BuildTree(mesh);
    AabbTree kept = BuildTree(mesh);
    kept.KeepCorners(mesh);
    ASSERT_EQ(kept.leafCorners.size(), 3 * mesh.TriangleCount());
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-10, 60);
    std::uniform_real_distribution<float> direction(-1, 1);
    int bounded = 0;
    for (int query = 0; query < 2000; ++query) {
        const Vec3 p{coordinate(random), coordinate(random), coordinate(random)};
        const NearestHit near = plain.Nearest(mesh, p, {}, {}, kNoDistanceLimit);
        const NearestHit kNear = kept.Nearest(mesh, p, {}, {}, kNoDistanceLimit);
        ASSERT_EQ(std::tuple(kNear.found, kNear.triangle, kNear.distance, kNear.point),
            std::tuple(near.found, near.triangle, near.distance, near.point)) << query;

        const Ray ray{p, {direction(random), direction(random), direction(random)}};
        const RayHit hit = plain.Raycast(ray, mesh);
        const RayHit kHit = kept.Raycast(ray, mesh);
        ASSERT_EQ(std::tuple(kHit.hit, kHit.triangle, kHit.distance), std::tuple(hit.hit, hit.triangle, hit.distance));
        if (!hit.hit)
            continue;
        // Beyond the hit the bounded ray finds it; short of it, nothing.
        const RayHit far = kept.Raycast(ray, mesh, 2.0f * hit.distance + 0.01f);
        const RayHit shortOf = kept.Raycast(ray, mesh, 0.5f * hit.distance);
        EXPECT_EQ(std::tuple(far.hit, far.triangle, far.distance), std::tuple(true, hit.triangle, hit.distance));
        EXPECT_FALSE(shortOf.hit);
        ++bounded;
    }
    EXPECT_GT(bounded, 200);
    // A mesh that does not fit keeps no corners; a rebuild drops them.
    AabbTree other = BuildTree(mesh);
    other.KeepCorners(MakeTestCube(10));
    EXPECT_TRUE(other.leafCorners.empty());
    kept.Build(MakeTestCube(10));
    EXPECT_TRUE(kept.leafCorners.empty());
}

// The cylinder of `segments` side facets, radius 20 mm and height 40 mm, turned `degrees`
// about x and then about y and moved by `at` along every axis: long thin facets slanted to
// every axis, whose square node boxes hold far more than they do.
TriangleMesh TurnedCylinder(std::uint32_t segments, double degrees, float at)
{
    TriangleMesh mesh;
    const double angle = degrees * 3.14159265358979323846 / 180.0, c = std::cos(angle), s = std::sin(angle);
    const auto add = [&](double x, double y, double z) {
        const double y1 = c * y - s * z, z1 = s * y + c * z;
        mesh.vertices.push_back({{static_cast<float>(c * x + s * z1) + at, static_cast<float>(y1) + at,
            static_cast<float>(-s * x + c * z1) + at}, {}});
    };
    add(0, 0, 0);
    add(0, 0, 40);
    for (std::uint32_t i = 0; i < segments; ++i) {
        const double a = 6.283185307179586 * i / segments;
        add(20 * std::cos(a), 20 * std::sin(a), 0);
        add(20 * std::cos(a), 20 * std::sin(a), 40);
    }
    for (std::uint32_t i = 0; i < segments; ++i) {
        const std::uint32_t b0 = 2 + 2 * i, b1 = 2 + 2 * ((i + 1) % segments);
        mesh.indices.insert(mesh.indices.end(), {0, b1, b0, 1, b0 + 1, b1 + 1, b0, b1, b1 + 1, b0, b1 + 1, b0 + 1});
    }
    mesh.ComputeBounds();
    return mesh;
}

// Boxes fitted to each node's own facets only turn away nodes that could not better the hit, so
// every answer stays the same to the bit: on fans and slivers slanted to every axis, far out,
// with a coordinate not finite, at points on, near and far from the surface, bounded or not.
TEST(AabbTree, FittedBoxesGiveTheSameAnswersToTheBit)
{
    struct Case {
        const char* name;
        TriangleMesh mesh;
    };
    TriangleMesh broken = TurnedCylinder(300, 30, 0);
    broken.vertices[7].position.y = std::numeric_limits<float>::quiet_NaN();
    broken.vertices[20].position.x = std::numeric_limits<float>::infinity();
    std::vector<Case> cases;
    cases.push_back({"random triangles", test::MakeRandomTriangles(7, 3000, 50, 2)});
    cases.push_back({"upright fine cylinder", TurnedCylinder(5000, 0, 0)});
    cases.push_back({"turned fine cylinder", TurnedCylinder(5000, 30, 0)});
    cases.push_back({"turned cylinder 1e6 mm out", TurnedCylinder(2000, 30, 1e6f)});
    cases.push_back({"coordinates not finite", std::move(broken)});
    for (const Case& c : cases) {
        const AabbTree plain = BuildTree(c.mesh);
        AabbTree fitted = BuildTree(c.mesh);
        fitted.FitBoxes(c.mesh);
        ASSERT_EQ(fitted.fittedIndex.size(), fitted.nodes.size()) << c.name;
        std::mt19937 random(5);
        std::uniform_int_distribution<std::size_t> vertex(0, c.mesh.vertices.size() - 1);
        std::uniform_real_distribution<float> offset(-1, 1);
        for (int query = 0; query < 1500; ++query) {
            // Near a corner by up to 0.01, 1 or 100 mm.
            const float spread = query % 3 == 0 ? 0.01f : (query % 3 == 1 ? 1.0f : 100.0f);
            const Vec3 corner = c.mesh.vertices[vertex(random)].position;
            const Vec3 p{corner.x + spread * offset(random), corner.y + spread * offset(random), corner.z + spread * offset(random)};
            for (const float reach : {kNoDistanceLimit, 0.05f, 2.0f}) {
                const NearestHit want = plain.Nearest(c.mesh, p, {}, {}, reach);
                const NearestHit got = fitted.Nearest(c.mesh, p, {}, {}, reach);
                ASSERT_EQ(std::tuple(got.found, got.triangle, got.distance, got.point.x, got.point.y, got.point.z),
                    std::tuple(want.found, want.triangle, want.distance, want.point.x, want.point.y, want.point.z))
                    << c.name << ", query " << query << ", reach " << reach;
            }
        }
    }
    // A rebuild drops the fitted boxes; a mesh that does not fit gets none.
    AabbTree tree = BuildTree(MakeTestCube(10));
    tree.FitBoxes(MakeTestSphere(5));
    EXPECT_TRUE(tree.fittedIndex.empty());
    tree.FitBoxes(MakeTestCube(10));
    EXPECT_FALSE(tree.fittedIndex.empty());
    tree.Build(MakeTestCube(10));
    EXPECT_TRUE(tree.fittedIndex.empty());
}

// Labels prune whole nodes; the filter rejects the same triangles in the leaves, so the result
// equals a brute-force search over the remaining labels.
TEST(AabbTree, LabelPruningKeepsTheResultOfTheFilter)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(12, 2000, 50, 2);
    AabbTree tree = BuildTree(mesh);
    // Labels by region, so that whole subtrees carry one label.
    std::vector<std::uint32_t> labels(mesh.TriangleCount());
    for (std::size_t t = 0; t < labels.size(); ++t)
        labels[t] = static_cast<std::uint32_t>(std::max(0.0f, CornerOf(mesh, t, 0).x / 10 + 10));
    Relabel(tree, labels);
    ASSERT_EQ(tree.minLabel.size(), tree.nodes.size());
    // The middle of the x range, so both sides keep triangles.
    const std::vector<std::uint32_t> excluded{11, 12, 13};
    auto isExcluded = [&](std::uint32_t t) { return labels[t] >= 11 && labels[t] <= 13; };
    // Pruned nodes never reach the filter, so it is asked about fewer triangles than without labels.
    std::uint64_t asked = 0, askedWithoutLabels = 0;
    std::mt19937 random(13);
    std::uniform_real_distribution<float> coordinate(0, 50);
    for (int query = 0; query < 500; ++query) {
        const Vec3 p{coordinate(random), coordinate(random), coordinate(random)};
        const NearestHit hit = tree.Nearest(mesh, p, excluded, [&](std::uint32_t t) {
            ++asked;
            return isExcluded(t);
        }, kNoDistanceLimit);
        (void)tree.Nearest(mesh, p, {}, [&](std::uint32_t t) {
            ++askedWithoutLabels;
            return isExcluded(t);
        }, kNoDistanceLimit);
        const double best = BruteNearestSquared(mesh, p, [&](std::size_t t) { return !isExcluded(static_cast<std::uint32_t>(t)); });
        ASSERT_TRUE(hit.found);
        EXPECT_NEAR(hit.distance, std::sqrt(best), 1e-5 * (1 + std::sqrt(best)));
        EXPECT_FALSE(isExcluded(static_cast<std::uint32_t>(hit.triangle)));
    }
    EXPECT_LT(asked, askedWithoutLabels);
}

// Skipping nodes behind a plane gives the very hit of a filter that rejects the triangles whose
// centroid lies behind it, while the filter is asked about far fewer triangles.
TEST(AabbTree, NodesBehindTheMoveArePrunedWithoutChangingTheHit)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(15, 3000, 50, 2);
    const AabbTree tree = BuildTree(mesh);
    std::mt19937 random(15);
    std::uniform_real_distribution<float> coordinate(0, 50);
    std::uniform_real_distribution<float> direction(-1, 1);
    std::uint64_t asked = 0, askedWithoutPlane = 0;
    for (int query = 0; query < 400; ++query) {
        const Vec3 p{coordinate(random), coordinate(random), coordinate(random)};
        const Vec3 d{direction(random), direction(random), direction(random)};
        const auto behind = [&](std::uint32_t t, std::uint64_t& count) {
            ++count;
            const Vec3 centroid = (CornerOf(mesh, t, 0) + CornerOf(mesh, t, 1) + CornerOf(mesh, t, 2)) * (1.0f / 3.0f);
            return Dot(centroid - p, d) < 0.0f;
        };
        const NearestAhead front{p, d};
        const NearestHit pruned = tree.Nearest(mesh, p, {}, [&](std::uint32_t t) { return behind(t, asked); },
            kNoDistanceLimit, &front);
        const NearestHit plain = tree.Nearest(mesh, p, {},
            [&](std::uint32_t t) { return behind(t, askedWithoutPlane); }, kNoDistanceLimit);
        ASSERT_EQ(std::tuple(pruned.found, pruned.triangle, pruned.distance),
            std::tuple(plain.found, plain.triangle, plain.distance)) << query;
    }
    EXPECT_LT(asked, askedWithoutPlane);
}

// A node holding labels 0 and 4294967295 spans the whole 32-bit range: its count of labels
// wraps to 0 in 32 bits, which would call the node fully excluded (or loop for ever).
TEST(AabbTree, LabelRangeSpanningAllThirtyTwoBitsIsNotTakenAsExcluded)
{
    const TriangleMesh mesh = test::MakeRandomTriangles(14, 64, 10, 1);
    AabbTree tree = BuildTree(mesh);
    std::vector<std::uint32_t> labels(mesh.TriangleCount());
    for (std::size_t t = 0; t < labels.size(); ++t)
        labels[t] = t % 2 == 0 ? 0u : std::numeric_limits<std::uint32_t>::max();
    Relabel(tree, labels);
    EXPECT_EQ(std::tuple(tree.minLabel[0], tree.maxLabel[0]), std::tuple(0u, std::numeric_limits<std::uint32_t>::max()));
    const std::vector<std::uint32_t> excluded{0};
    auto isExcluded = [&](std::uint32_t t) { return labels[t] == 0; };
    const NearestHit hit = tree.Nearest(mesh, {5, 5, 5}, excluded, isExcluded, kNoDistanceLimit);
    EXPECT_TRUE(hit.found && labels[hit.triangle] == std::numeric_limits<std::uint32_t>::max());
}

TEST(PickTriangle, MissesBehindTheOriginAndDegenerateTriangles)
{
    const Vec3 a{0, 0, 0}, b{4, 0, 0}, c{0, 4, 0};
    EXPECT_TRUE(PickTriangle({{1, 1, 1}, {0, 0, -1}}, a, b, c).hit);
    EXPECT_TRUE(PickTriangle({{1, 1, -1}, {0, 0, 1}}, a, b, c).hit);  // both sides count
    EXPECT_FALSE(PickTriangle({{1, 1, 1}, {0, 0, 1}}, a, b, c).hit);   // pointing away
    EXPECT_FALSE(PickTriangle({{1, 1, 0}, {0, 0, 1}}, a, b, c).hit);   // starting on it
    EXPECT_TRUE(PickTriangle({{0, 0, 1}, {0, 0, -1}}, a, b, c).hit);   // a corner counts
    EXPECT_FALSE(PickTriangle({{1, 1, 1}, {0, 0, -1}}, a, b, {8, 0, 0}).hit);  // no area
    EXPECT_EQ(PickTriangle({{1, 1, 1}, {0, 0, -1}}, a, b, c).triangle, -1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(PickTriangle({{nan, 1, 1}, {0, 0, -1}}, a, b, c).hit);
}

TEST(ClosestPointOnTriangle, RegionsAndDegenerateTriangles)
{
    const Vec3d a{0, 0, 0}, b{4, 0, 0}, c{0, 4, 0};
    struct Case { Vec3d p, expected; };
    const Case cases[] = {
        {{1, 1, 5}, {1, 1, 0}},     // above the face
        {{-1, -1, 0}, {0, 0, 0}},   // beyond a
        {{6, -1, 0}, {4, 0, 0}},    // beyond b
        {{-1, 6, 0}, {0, 4, 0}},    // beyond c
        {{2, -3, 0}, {2, 0, 0}},    // beside edge ab
        {{-3, 2, 0}, {0, 2, 0}},    // beside edge ac
        {{3, 3, 1}, {2, 2, 0}},     // beside edge bc
    };
    for (const Case& test : cases)
        EXPECT_EQ(DistanceSquared(ClosestPointOnTriangle(test.p, a, b, c), test.expected), 0.0) << test.p.x << test.p.y;
    // Collinear corners: the result lies on the segment they span.
    const Vec3d q = ClosestPointOnTriangle({2, 3, 0}, {0, 0, 0}, {4, 0, 0}, {8, 0, 0});
    EXPECT_TRUE(q.y == 0.0 && q.z == 0.0 && q.x >= 0.0 && q.x <= 8.0) << q.x << " " << q.y << " " << q.z;
    const Vec3d point = ClosestPointOnTriangle({2, 3, 0}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1});
    EXPECT_EQ(point.x, 1.0);
}

TEST(AabbTree, MismatchedOrInconsistentMeshesGiveClearedResults)
{
    const TriangleMesh cube = MakeTestCube(20);
    const AabbTree tree = BuildTree(cube);
    // Another triangle count, and the same count over fewer vertices than the tree was built for.
    TriangleMesh shrunk = cube;
    shrunk.vertices.resize(4);
    for (const TriangleMesh& other : {MakeTestSphere(10), shrunk}) {
        EXPECT_FALSE(tree.Nearest(other, {0, 0, 0}, {}, {}, kNoDistanceLimit).found);
        EXPECT_EQ(tree.Raycast({{0, 0, 0}, {1, 0, 0}}, other).triangle, -1);
    }
    // Rebuilding from an empty mesh empties the tree.
    AabbTree rebuilt = BuildTree(cube);
    rebuilt.Build(TriangleMesh{});
    EXPECT_TRUE(rebuilt.nodes.empty() && rebuilt.order.empty() && rebuilt.levels == 0);
}

TEST(AabbTree, NonFiniteCoordinatesDoNotBreakTheBuildOrTheQueries)
{
    TriangleMesh mesh = test::MakeRandomTriangles(16, 500, 10, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t v = 0; v < mesh.vertices.size(); v += 7)
        mesh.vertices[v].position.y = v % 2 ? nan : std::numeric_limits<float>::infinity();
    const AabbTree tree = BuildTree(mesh);
    ASSERT_EQ(tree.nodes.size(), AabbTree::EstimateNodeCount(500, 0));
    (void)tree.Nearest(mesh, {5, 5, 5}, {}, {}, kNoDistanceLimit);
    (void)tree.Raycast({{5, 5, -5}, {0, 0, 1}}, mesh);
}

// Halves of 65,536 triangles and more are built as parallel tasks: the nodes and the order
// must not depend on the thread count, and are pinned to the bit for sizes on both sides of
// that split.
TEST(AabbTree, ParallelBuildGivesTheSameNodesOnAnyThreadCount)
{
    struct Case { std::uint32_t triangles; std::uint64_t checksum; };
    const Case cases[] = {{131071, 0x15f179392afca063}, {131072, 0x77b6a3ea9b6f52c6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.triangles);
        const TriangleMesh mesh = test::MakeRandomTriangles(c.triangles, c.triangles, 100, 0.5f);
        for (const bool serial : {true, false}) {
            std::optional<ThreadLimit> limit;
            if (serial)
                limit.emplace(1);
            const AabbTree tree = BuildTree(mesh);
            const std::uint64_t sum = test::Fnv1a().Add(tree.nodes).Add(tree.order).AddValue(tree.levels).Value();
            EXPECT_EQ(sum, c.checksum) << (serial ? "one thread " : "all threads ") << std::hex << sum;
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
