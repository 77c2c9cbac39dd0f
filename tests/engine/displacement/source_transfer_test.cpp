#include "engine/displacement/source_transfer.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_of.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Weights that fit `mesh`, telling its vertices and triangles apart: vertex v weighs
// (v mod 63 + 1) / 64, triangles in the first half are textured, every other one is outer.
TextureWeights PatternWeights(const TriangleMesh& mesh)
{
    TextureWeights w;
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        w.vertexWeights.push_back(static_cast<float>(v % 63 + 1) / 64.0f);
    const std::size_t triangles = mesh.TriangleCount();
    for (std::size_t t = 0; t < triangles; ++t) {
        w.faceTextured.push_back(t < triangles / 2 ? 1 : 0);
        w.faceOuterMask.push_back(t % 2 == 0 ? 255 : 0);
    }
    for (std::uint32_t index : mesh.indices)
        w.cornerWeights.push_back(w.vertexWeights[index]);
    return w;
}

std::uint32_t VertexCount(const TriangleMesh& mesh)
{
    return static_cast<std::uint32_t>(mesh.vertices.size());
}

TEST(TransferSourceValues, ANewVertexOnASourceVertexTakesItsWeight)
{
    // The source's vertices again, triangulated the other way, and lifted 0.5 mm off the grid
    // (the nearest point is then still the source vertex below).
    struct Case {
        const char* what;
        TriangleMesh newMesh;
    };
    const TriangleMesh source = test::MakeFlatGrid(4, 1.0f);
    const Case cases[] = {
        {"same places, other diagonals", test::MakeFlatGrid(4, 1.0f, 0.0f, true)},
        {"half a millimetre above", test::MakeFlatGrid(4, 1.0f, 0.5f, true)},
    };
    const TextureWeights weights = PatternWeights(source);
    for (const Case& c : cases) {
        const TextureWeights moved = TransferSourceValues(source, weights, c.newMesh, nullptr);
        ASSERT_TRUE(moved.MatchesMesh(c.newMesh)) << c.what;
        EXPECT_EQ(moved.vertexWeights, weights.vertexWeights) << c.what;
    }
}

TEST(TransferSourceValues, ANewVertexTakesTheWeightsBlendedAtItsNearestSourcePoint)
{
    // One source triangle a = (0, 0), b = (4, 0), c = (0, 4) weighing 0, 1 and 0.5.
    const TriangleMesh source = test::MeshOf({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, {0, 1, 2});
    const TextureWeights weights{{0, 1, 0.5f}, {0, 1, 0.5f}, {1}, {255}};
    struct Case {
        Vec3 at;
        float weight;
    };
    const Case cases[] = {
        {{1, 0.5f, 0.3f}, 0.3125f},  // a quarter of b, an eighth of c
        {{2, 2, -1}, 0.75f},         // halfway from b to c
        {{6, -1, 0}, 1.0f},          // beyond b: its nearest point is b
        {{-1, -1, 2}, 0.0f},         // beyond a
    };
    for (const Case& c : cases) {
        const TriangleMesh newMesh = test::MeshOf({c.at, c.at, c.at}, {0, 1, 2});
        const TextureWeights moved = TransferSourceValues(source, weights, newMesh, nullptr);
        EXPECT_EQ(moved.vertexWeights, std::vector<float>(3, c.weight)) << c.at.x << ", " << c.at.y;
    }
}

TEST(TransferSourceValues, FaceValuesComeFromTheNearestSourceFace)
{
    // The same grid, each new triangle's centroid inside its source twin. Untextured twins give
    // corner weights 0 although every vertex weighs more than 0.
    const TriangleMesh grid = test::MakeFlatGrid(4, 1.0f);
    const TextureWeights weights = PatternWeights(grid);
    const TextureWeights moved = TransferSourceValues(grid, weights, grid, nullptr);
    ASSERT_TRUE(moved.MatchesMesh(grid));
    EXPECT_EQ(moved.faceTextured, weights.faceTextured);
    EXPECT_EQ(moved.faceOuterMask, weights.faceOuterMask);
    for (std::size_t t = 0; t < grid.TriangleCount(); ++t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const float vertexWeight = moved.vertexWeights[grid.indices[3 * t + k]];
            ASSERT_GT(vertexWeight, 0.0f);
            EXPECT_EQ(moved.cornerWeights[3 * t + k], weights.faceTextured[t] != 0 ? vertexWeight : 0.0f)
                << "triangle " << t << ", corner " << k;
        }
    }
}

TEST(TransferSourceValues, WeightsThatDoNotFitGiveEmptyWeights)
{
    struct Case {
        const char* what;
        std::function<void(TriangleMesh& source, TextureWeights& weights, TriangleMesh& newMesh)> spoil;
    };
    const Case cases[] = {
        {"a vertex weight short", [](TriangleMesh&, TextureWeights& w, TriangleMesh&) { w.vertexWeights.pop_back(); }},
        {"a corner weight over", [](TriangleMesh&, TextureWeights& w, TriangleMesh&) { w.cornerWeights.push_back(0); }},
        {"no face bytes", [](TriangleMesh&, TextureWeights& w, TriangleMesh&) { w.faceTextured.clear(); }},
        {"an outer byte short", [](TriangleMesh&, TextureWeights& w, TriangleMesh&) { w.faceOuterMask.pop_back(); }},
        {"weights of another mesh",
            [](TriangleMesh&, TextureWeights& w, TriangleMesh&) { w = PatternWeights(test::MakeFlatGrid(5, 1.0f)); }},
        {"source index out of range",
            [](TriangleMesh& s, TextureWeights&, TriangleMesh&) { s.indices[4] = VertexCount(s); }},
        {"new index out of range",
            [](TriangleMesh&, TextureWeights&, TriangleMesh& m) { m.indices[4] = VertexCount(m); }},
        {"new mesh without triangles", [](TriangleMesh&, TextureWeights&, TriangleMesh& m) { m.indices.clear(); }},
        {"new mesh without vertices", [](TriangleMesh&, TextureWeights&, TriangleMesh& m) { m = TriangleMesh{}; }},
    };
    for (const Case& c : cases) {
        TriangleMesh source = test::MakeFlatGrid(4, 1.0f);
        TextureWeights weights = PatternWeights(source);
        TriangleMesh newMesh = MakeTestSphere(3.0f);
        c.spoil(source, weights, newMesh);
        EXPECT_EQ(TransferSourceValues(source, weights, newMesh, nullptr), TextureWeights{}) << c.what;
    }
}

TEST(TransferSourceValues, ADegenerateNearestSourceTriangleGivesItsFirstVertexWeight)
{
    struct Case {
        const char* what;
        std::vector<Vec3> corners;
    };
    const Case cases[] = {
        {"three points on a line", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}},
        {"last two swapped", {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}}},
        {"one point three times", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}},
    };
    // A new triangle beside the source one, its corners nearest to different points of it.
    const TriangleMesh newMesh =
        test::MeshOf({{-0.5f, 0.5f, 0.2f}, {1.5f, 0.5f, 0.2f}, {1.0f, 2.0f, -0.3f}}, {0, 1, 2});
    for (const Case& c : cases) {
        const TriangleMesh source = test::MeshOf(c.corners, {0, 1, 2});
        TextureWeights weights;
        weights.vertexWeights = {0.25f, 0.5f, 0.75f};
        weights.cornerWeights = {0.25f, 0.5f, 0.75f};
        weights.faceTextured = {1};
        weights.faceOuterMask = {255};
        const TextureWeights moved = TransferSourceValues(source, weights, newMesh, nullptr);
        EXPECT_EQ(moved.vertexWeights, std::vector<float>(3, 0.25f)) << c.what;
        EXPECT_EQ(moved.cornerWeights, std::vector<float>(3, 0.25f)) << c.what;
    }
}

TEST(TransferSourceValues, SameOnOneThreadAsOnManyWithTheTreeGivenOrBuilt)
{
    // Several blocks of new vertices and of new triangles.
    const TriangleMesh source = test::MakeBumpySphere(10.0f, 0.6f, 40, 80);
    const TriangleMesh newMesh = MakeTestSphere(10.2f);
    const TextureWeights weights = PatternWeights(source);
    AabbTree tree;
    tree.Build(source);
    const auto transfer = [&] { return TransferSourceValues(source, weights, newMesh, nullptr); };
    const TextureWeights moved = transfer();
    ASSERT_TRUE(moved.MatchesMesh(newMesh));
    EXPECT_EQ(TransferSourceValues(source, weights, newMesh, &tree), moved);
    test::ExpectSameOnOneThread(transfer);
}

// Values that are not numbers stay where they are: a NaN source weight or a new vertex without
// a place weighs 0 and leaves its neighbours' weights as they would be.
TEST(TransferSourceValues, NonFiniteValuesDoNotSpread)
{
    struct Case {
        const char* what;
        std::uint32_t sourceVertex;  // its weight made `sourceWeight` (25: none)
        float sourceWeight;
        std::uint32_t newVertex;     // its position made NaN (25: none)
    };
    const Case cases[] = {
        {"NaN source weight", 12, kNaN, 25},
        {"infinite source weight", 6, kInfinity, 25},
        {"new vertex at NaN", 25, 0.0f, 12},
    };
    const TriangleMesh source = test::MakeFlatGrid(4, 1.0f);
    for (const Case& c : cases) {
        TextureWeights weights = PatternWeights(source);
        const TextureWeights sound = weights;
        TriangleMesh newMesh = test::MakeFlatGrid(4, 1.0f, 0.0f, true);
        if (c.sourceVertex < 25)
            weights.vertexWeights[c.sourceVertex] = c.sourceWeight;
        if (c.newVertex < 25)
            newMesh.vertices[c.newVertex].position = {kNaN, kNaN, kNaN};
        const TextureWeights moved = TransferSourceValues(source, weights, newMesh, nullptr);
        ASSERT_TRUE(moved.MatchesMesh(newMesh)) << c.what;
        for (std::uint32_t v = 0; v < 25; ++v) {
            const bool broken = v == c.sourceVertex || v == c.newVertex;
            EXPECT_EQ(moved.vertexWeights[v], broken ? 0.0f : sound.vertexWeights[v]) << c.what << ", vertex " << v;
        }
        for (float w : moved.cornerWeights)
            EXPECT_TRUE(std::isfinite(w)) << c.what;
    }
}

// A part without masks weighs the same everywhere. Three equal corner weights blend back to that
// weight exactly, so it arrives unchanged, whether searched for or not, and the faces take the
// shared bytes; a new vertex without a place still weighs 0.
TEST(TransferSourceValues, AWeightSharedByEverySourceVertexArrivesExactly)
{
    struct Case {
        const char* what;
        float weight;
        std::uint8_t textured;
        bool nanVertex;
    };
    const Case cases[] = {
        {"full weight", 1.0f, 1, false},
        {"a tenth", 0.1f, 1, false},
        {"below the smallest normal float", 1e-40f, 1, false},
        {"the largest float", 3.4e38f, 1, false},
        {"nothing textured", 0.7f, 0, false},
        {"a new vertex at NaN", 1.0f, 1, true},
    };
    const TriangleMesh source = test::MakeBumpySphere(10.0f, 0.6f, 40, 80);
    for (const Case& c : cases) {
        TriangleMesh newMesh = MakeTestSphere(10.2f);
        if (c.nanVertex)
            newMesh.vertices[7].position = {kNaN, kNaN, kNaN};
        TextureWeights weights;
        weights.vertexWeights.assign(source.vertices.size(), c.weight);
        weights.cornerWeights.assign(source.indices.size(), c.weight);
        weights.faceTextured.assign(source.TriangleCount(), c.textured);
        weights.faceOuterMask.assign(source.TriangleCount(), 255);
        const TextureWeights moved = TransferSourceValues(source, weights, newMesh, nullptr);
        ASSERT_TRUE(moved.MatchesMesh(newMesh)) << c.what;
        for (std::size_t v = 0; v < newMesh.vertices.size(); ++v)
            ASSERT_EQ(moved.vertexWeights[v], c.nanVertex && v == 7 ? 0.0f : c.weight) << c.what << ", vertex " << v;
        for (std::size_t t = 0; t < newMesh.TriangleCount(); ++t) {
            // A triangle on the vertex without a place has no centroid to search from.
            const std::uint32_t* corner = &newMesh.indices[3 * t];
            const bool placed = !c.nanVertex || (corner[0] != 7 && corner[1] != 7 && corner[2] != 7);
            ASSERT_EQ(moved.faceTextured[t], placed ? c.textured : 0) << c.what << ", triangle " << t;
            ASSERT_EQ(moved.faceOuterMask[t], placed ? 255 : 0) << c.what << ", triangle " << t;
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(moved.cornerWeights[3 * t + k],
                    placed && c.textured != 0 ? moved.vertexWeights[corner[k]] : 0.0f)
                    << c.what << ", triangle " << t;
        }

        // The searches blend the same weight back exactly: with one source vertex apart they
        // still give it everywhere but near that vertex.
        if (c.nanVertex)
            continue;
        weights.vertexWeights[0] = c.weight * 0.5f;
        const TextureWeights searched = TransferSourceValues(source, weights, newMesh, nullptr);
        for (std::size_t v = 0; v < newMesh.vertices.size(); ++v) {
            if (Length(newMesh.vertices[v].position - source.vertices[0].position) > 2.0f) {
                ASSERT_EQ(searched.vertexWeights[v], c.weight) << c.what << ", vertex " << v;
            }
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
