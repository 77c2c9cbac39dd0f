#include "app/view/renderer/overlay_builders.h"
#include "app/view/renderer/render_vertex.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace grainforge::gl {
namespace {

using mesh::MeshVertex;
using mesh::TriangleMesh;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Vec3 Of(const float* v)
{
    return Vec3{v[0], v[1], v[2]};
}

// Two triangles sharing the edge 1-2 and folded 90 degrees along it: the first lies in z = 0
// (normal +z), the second in x = 1 (normal +x). Vertex 1 has no normal.
TriangleMesh FoldedPair()
{
    TriangleMesh mesh;
    mesh.vertices = {MeshVertex{{0, 0, 0}, {0, 0, 1}}, MeshVertex{{1, 0, 0}, {0, 0, 0}},
                     MeshVertex{{1, 1, 0}, {0, 0, 1}}, MeshVertex{{1, 0, 1}, {1, 0, 0}}};
    mesh.indices = {0, 1, 2, 1, 3, 2};
    return mesh;
}

TEST(ExpandCorners, GivesEveryCornerItsTrianglesNormalAndColour)
{
    const TriangleMesh mesh = FoldedPair();
    RenderAttributes attributes;
    attributes.triangleColours = {Vec3{1.0f, 0.0f, 0.0f}};  // only the first triangle has one
    const RenderCorners corners = ExpandCorners(mesh, &attributes);
    ASSERT_EQ(corners.vertices.size(), 6u);
    ASSERT_EQ(corners.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
    const Vec3 faceNormals[2] = {mesh.FaceNormal(0), mesh.FaceNormal(1)};
    for (std::size_t k = 0; k < 6; ++k) {
        const RenderVertex& v = corners.vertices[k];
        EXPECT_EQ(Of(v.position), mesh.vertices[mesh.indices[k]].position) << k;
        EXPECT_EQ(Of(v.faceNormal), faceNormals[k / 3]) << k;
        // The part's projection lives in the separate list.
        EXPECT_EQ(v.projected[0], 0.0f);
        EXPECT_EQ(v.mask, 0.0f);
    }
    EXPECT_EQ(Of(corners.vertices[0].colour), (Vec3{1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(Of(corners.vertices[3].colour), kDefaultPartColour);
    // Vertex 1 has a zero normal: each of its corners takes its own triangle's face normal.
    EXPECT_EQ(Of(corners.vertices[1].smoothNormal), faceNormals[0]);
    EXPECT_EQ(Of(corners.vertices[3].smoothNormal), faceNormals[1]);
    EXPECT_EQ(Of(corners.vertices[0].smoothNormal), (Vec3{0, 0, 1}));
}

TEST(ExpandCorners, ProjectionFallsBackFromCornerToVertexToZero)
{
    const TriangleMesh mesh = FoldedPair();
    RenderAttributes attributes;
    attributes.cornerProjected = {{10, 11}, {12, 13}};     // corners 0 and 1 only
    attributes.vertexProjected = {{0, 1}, {2, 3}, {4, 5}};  // vertices 0..2 only
    attributes.cornerMask = {0.25f};
    attributes.vertexMask = {1.0f, 0.5f};
    const std::vector<CornerProjection> records = ExpandCorners(mesh, &attributes).projection;
    ASSERT_EQ(records.size(), 6u);
    struct Expected {
        float u, v, mask;
    };
    // Corners: vertex 0, 1, 2, 1, 3, 2.
    const Expected expected[6] = {{10, 11, 0.25f}, {12, 13, 0.5f}, {4, 5, 0.0f},
                                  {2, 3, 0.5f},    {0, 0, 0.0f},   {4, 5, 0.0f}};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(records[k].u, expected[k].u) << k;
        EXPECT_EQ(records[k].v, expected[k].v) << k;
        EXPECT_EQ(records[k].mask, expected[k].mask) << k;
    }
    // The projection-only rebuild gives the same records.
    const std::vector<CornerProjection> again = BuildCornerProjection(mesh, &attributes);
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_EQ(again[k].u, records[k].u);
}

TEST(ExpandCorners, WithoutAttributesUsesTheDefaults)
{
    const RenderCorners corners = ExpandCorners(FoldedPair(), nullptr);
    for (std::size_t k = 0; k < corners.vertices.size(); ++k) {
        EXPECT_EQ(Of(corners.vertices[k].colour), kDefaultPartColour);
        EXPECT_EQ(corners.projection[k].u, 0.0f);
        EXPECT_EQ(corners.projection[k].v, 0.0f);
        EXPECT_EQ(corners.projection[k].mask, 0.0f);
    }
}

TEST(IsUploadableMesh, RefusesEmptyAndBrokenIndexLists)
{
    const TriangleMesh good = FoldedPair();
    EXPECT_TRUE(IsUploadableMesh(good));
    TriangleMesh fourIndices = good;
    fourIndices.indices = {0, 1, 2, 3};
    TriangleMesh outOfRange = good;
    outOfRange.indices[4] = 4;  // equal to the vertex count
    TriangleMesh noIndices = good;
    noIndices.indices.clear();
    TriangleMesh noVertices;
    for (const TriangleMesh* bad : {&fourIndices, &outOfRange, &noIndices, &noVertices})
        EXPECT_FALSE(IsUploadableMesh(*bad));
}

TEST(ComputeSceneBounds, CentresTheFloorUnderTheBox)
{
    const TriangleMesh cube = mesh::MakeTestCube(20.0f);
    const std::optional<SceneBounds> bounds = ComputeSceneBounds(cube);
    ASSERT_TRUE(bounds.has_value());
    EXPECT_EQ(bounds->centre, Vec3{});
    EXPECT_NEAR(bounds->radius, 10.0f * std::sqrt(3.0f), 1e-4f);
    // max(radius / 2, 0.75 x 20)
    EXPECT_FLOAT_EQ(bounds->floorHalfExtent, 15.0f);
    EXPECT_FLOAT_EQ(bounds->floorHeight, -10.0f);
}

TEST(ComputeSceneBounds, UsesTheKeptBoxOnlyWhileItIsCurrent)
{
    TriangleMesh mesh = FoldedPair();
    mesh.boundsMin = Vec3{-5, -5, -5};
    mesh.boundsMax = Vec3{5, 5, 5};
    mesh.boundsValid = true;
    EXPECT_EQ(ComputeSceneBounds(mesh)->boxMin, (Vec3{-5, -5, -5}));
    mesh.boundsValid = false;
    EXPECT_EQ(ComputeSceneBounds(mesh)->boxMin, (Vec3{0, 0, 0}));
    EXPECT_EQ(ComputeSceneBounds(mesh)->boxMax, (Vec3{1, 1, 1}));
}

TEST(ComputeSceneBounds, AFlatOrPointPartStillHasARadius)
{
    TriangleMesh point;
    point.vertices.assign(3, MeshVertex{{2, 2, 2}, {0, 0, 1}});
    point.indices = {0, 1, 2};
    EXPECT_FLOAT_EQ(ComputeSceneBounds(point)->radius, 0.0001f);
}

TEST(ComputeSceneBounds, NonFiniteCoordinatesGiveNoBounds)
{
    for (float bad : {kNaN, kInf, -kInf}) {
        TriangleMesh mesh = FoldedPair();
        mesh.vertices[2].position.y = bad;
        EXPECT_FALSE(ComputeSceneBounds(mesh).has_value()) << bad;
        mesh.ComputeBounds();
        EXPECT_FALSE(ComputeSceneBounds(mesh).has_value()) << bad;
    }
    // Finite corners whose distance overflows a float.
    TriangleMesh wide = FoldedPair();
    wide.vertices[0].position.x = -3.0e38f;
    wide.vertices[1].position.x = 3.0e38f;
    EXPECT_FALSE(ComputeSceneBounds(wide).has_value());
}

TEST(OverlayBuilders, BoxHasTwelveEdgesEvenWhenFlat)
{
    const std::vector<RenderVertex> box = BuildBoxEdgeVertices(Vec3{0, 0, 0}, Vec3{2, 3, 0});
    ASSERT_EQ(box.size(), 24u);
    int zeroLength = 0;
    for (std::size_t i = 0; i < box.size(); i += 2) {
        if (Of(box[i].position) == Of(box[i + 1].position))
            ++zeroLength;
        EXPECT_EQ(Of(box[i].colour), overlay_colour::kBoundingBox);
        EXPECT_EQ(Of(box[i].faceNormal), (Vec3{0, 0, 1}));
    }
    EXPECT_EQ(zeroLength, 4);  // the vertical edges of a flat box
    // First edge: bottom corner 0 to corner 1; third: corner 0 straight up.
    EXPECT_EQ(Of(box[1].position), (Vec3{2, 0, 0}));
    EXPECT_EQ(Of(box[5].position), (Vec3{0, 0, 0}));
}

TEST(OverlayBuilders, ShortColourListsFallBack)
{
    const std::vector<Vec3> points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const std::vector<RenderVertex> cage =
        MakeColouredVertices(points, {Vec3{1, 0, 0}}, overlay_colour::kCageFaceFallback);
    EXPECT_EQ(Of(cage[0].colour), (Vec3{1, 0, 0}));
    EXPECT_EQ(Of(cage[2].colour), overlay_colour::kCageFaceFallback);
    EXPECT_EQ(Of(MakeColouredVertices(points, {})[1].colour), overlay_colour::kWhite);
}

TEST(OverlayBuilders, NormalsRunAlongTheStoredNormal)
{
    const std::vector<MeshVertex> vertices = {MeshVertex{{1, 2, 3}, {0, 0, 2}}};
    const float length = NormalLength(50.0f);
    EXPECT_FLOAT_EQ(length, 2.0f);
    EXPECT_FLOAT_EQ(NormalLength(0.0f), 0.0001f);
    const std::vector<RenderVertex> lines = BuildNormalVertices(vertices, length);
    ASSERT_EQ(lines.size(), 2u);
    // Not renormalised: a normal of length 2 draws twice as long.
    EXPECT_EQ(Of(lines[1].position), (Vec3{1, 2, 7}));
}

}  // namespace
}  // namespace grainforge::gl
