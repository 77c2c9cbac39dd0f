#include "engine/mesh/placement.h"
#include "engine/files/mesh_json_sections.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

const RestingFaceSettings kDocument{1.0f, 1.0f, 0.05f};

// The rules every answer keeps, face by face. Faces are made in triangle order, so a face's
// first triangle dates it, and a triangle joins the earliest face whose normal is within the
// angle of its own and whose plane is within the tolerance of its own; a face's area is its
// triangles' area and at least the minimum; no vertex lies beyond its plane; the largest come
// first. A search that misses a candidate face breaks the joining rule.
void ExpectSoundFaces(const TriangleMesh& mesh, const RestingFaceSettings& s, const std::vector<RestingFace>& faces)
{
    const float cosLimit = std::cos(s.angle * 3.1415927f / 180.0f);
    const float tol = std::max(0.0f, s.planeTolerance);
    const auto joins = [&](std::uint32_t t, const RestingFace& face, double* area) {
        const Vec3 p0 = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 n = Cross(mesh.vertices[mesh.indices[3 * t + 1]].position - p0, mesh.vertices[mesh.indices[3 * t + 2]].position - p0);
        const float len = std::sqrt(Dot(n, n));
        const Vec3 u = n * (1.0f / len);
        if (area)
            *area += len / 2.0f;
        return len > 0.0f && Dot(u, face.normal) >= cosLimit && std::fabs(face.offset - Dot(u, p0)) <= tol;
    };
    std::vector<int> owner(mesh.TriangleCount(), 0);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const RestingFace& face = faces[i];
        ASSERT_FALSE(face.triangles.empty());
        EXPECT_TRUE(i == 0 || faces[i - 1].area >= face.area) << i;
        double area = 0.0;
        for (const std::uint32_t t : face.triangles) {
            EXPECT_EQ(++owner.at(t), 1) << "triangle " << t << " in two faces";
            EXPECT_TRUE(joins(t, face, &area)) << "triangle " << t << " of face " << i;
            for (const RestingFace& other : faces) {
                if (other.triangles[0] < face.triangles[0]) {
                    EXPECT_FALSE(joins(t, other, nullptr)) << "triangle " << t << " passed an earlier face by";
                }
            }
        }
        EXPECT_FLOAT_EQ(face.area, static_cast<float>(area)) << i;
        EXPECT_GE(area, s.minimumArea) << i;
        for (const MeshVertex& v : mesh.vertices)
            ASSERT_LE(Dot(v.position, face.normal) - face.offset, tol) << i;
    }
}

TEST(FindRestingFaces, CubeHasSixSquareFaces)
{
    const TriangleMesh cube = MakeTestCube(20.0f);
    const std::vector<RestingFace> faces = FindRestingFaces(cube, kDocument);
    ASSERT_EQ(faces.size(), 6u);
    for (const RestingFace& face : faces) {
        // The middle of the square is the normal's end at distance 10.
        const Vec3 off = face.centroid - face.normal * 10.0f;
        EXPECT_LT(Dot(off, off), 1e-8f);
        EXPECT_EQ(std::tuple(face.area, face.offset, face.triangles.size()), std::tuple(400.0f, 10.0f, 2u));
    }
}

TEST(FindRestingFaces, MinimumAreaIsInclusive)
{
    struct Case { float leg; std::size_t downFaces; };
    for (const Case c : {Case{0.9f, 0u}, Case{1.0f, 1u}}) {
        // Base (0,0,0), (0,leg,0), (2,0,0) faces down with area leg; apex above it.
        const TriangleMesh tetra = MeshOf({{0, 0, 0}, {0, c.leg, 0}, {2, 0, 0}, {0.3f, 0.2f, 3.0f}},
                                          {0, 1, 2, 0, 2, 3, 0, 3, 1, 1, 3, 2});
        const std::vector<RestingFace> faces = FindRestingFaces(tetra, kDocument);
        const auto down = std::count_if(faces.begin(), faces.end(), [](const RestingFace& f) { return f.normal.z == -1.0f; });
        EXPECT_EQ(static_cast<std::size_t>(down), c.downFaces) << c.leg;
    }
}


TEST(FindRestingFaces, EveryFaceKeepsTheRulesOnCrowdedMeshes)
{
    std::size_t found = 0;
    // Noisy spheres and a stepped block: many near-parallel facets at nearby offsets, where a
    // bucket that misses a candidate would change which facet a triangle joins.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    std::vector<TriangleMesh> meshes;
    TriangleMesh bumpy = MakeTestSphere(10.0f);
    for (MeshVertex& v : bumpy.vertices)
        v.position = v.position + Vec3{noise(random), noise(random), noise(random)};
    meshes.push_back(bumpy);
    TriangleMesh steps = MakeTestCube(20.0f);
    for (int i = 1; i < 6; ++i)
        steps = test::Combined(steps, test::Translated(MakeTestCube(20.0f), {0.01f * i, 0.02f * i, -0.03f * i}));
    meshes.push_back(steps);
    // Hundreds of nearly parallel triangles at offsets a few tolerances apart, and an unused vertex
    // just beyond the lowest: one crowded direction, which the search files by offset as well.
    TriangleMesh stairs;
    for (std::uint32_t i = 0; i < 400; ++i) {
        const float z = 0.03f * static_cast<float>(i % 200) + noise(random);
        const float x = static_cast<float>(i);
        const auto first = static_cast<std::uint32_t>(stairs.vertices.size());
        const float y1 = z + noise(random) * 0.1f;
        stairs.vertices.insert(stairs.vertices.end(), {{{x, 0, z}, {}}, {{x, 1, y1}, {}}, {{x + 1, 0, z}, {}}});
        stairs.indices.insert(stairs.indices.end(), {first, first + 1, first + 2});
    }
    stairs.vertices.push_back({{0, 0, -0.5f}, {}});
    meshes.push_back(stairs);
    for (const RestingFaceSettings settings : {kDocument, RestingFaceSettings{0.0f, 5.0f, 0.5f},
                                               RestingFaceSettings{0.0f, 0.3f, 0.0f},
                                               RestingFaceSettings{0.0f, 180.0f, -1.0f}}) {
        for (const TriangleMesh& mesh : meshes) {
            SCOPED_TRACE(testing::Message() << mesh.TriangleCount() << " triangles, angle " << settings.angle);
            const std::vector<RestingFace> faces = FindRestingFaces(mesh, settings);
            ExpectSoundFaces(mesh, settings, faces);
            found += faces.size();
        }
    }
    EXPECT_GT(found, 20u);
}

TEST(LayOnFaceTransform, TurnsTheFaceDownAndSetsThePartOnTheBed)
{
    const TriangleMesh cube = test::Translated(MakeTestCube(20.0f), {30, -7, 12});
    for (const Vec3 n : {Vec3{0, 0, -1}, Vec3{0, 0, -7}, Vec3{0, 0, 0}})
        EXPECT_TRUE(IsIdentityTransform(LayOnFaceTransform(cube, n))) << n.z;
    EXPECT_TRUE(IsIdentityTransform(LayOnFaceTransform(TriangleMesh{}, {1, 0, 0})));
    for (const Vec3 n : {Vec3{1, 0, 0}, Vec3{0, -1, 0}, Vec3{0.6f, 0, 0.8f}}) {
        const Transform3x4 t = LayOnFaceTransform(cube, n);
        const Vec3 turned{t.m00 * n.x + t.m01 * n.y + t.m02 * n.z, t.m10 * n.x + t.m11 * n.y + t.m12 * n.z,
                          t.m20 * n.x + t.m21 * n.y + t.m22 * n.z};
        EXPECT_LT(Dot(turned - Vec3{0, 0, -1}, turned - Vec3{0, 0, -1}), 1e-12f) << n.x;
        TriangleMesh moved = cube;
        TransformMesh(moved, t);
        EXPECT_FLOAT_EQ(moved.boundsMin.z, 2.0f);
    }
    // An upward face turns half about x around the box centre, kept at its height: a box from
    // (0,0,2) to (10,20,5), not centred, so the turn and the height fix both show.
    TriangleMesh box = MakeTestCube(1.0f);
    for (MeshVertex& v : box.vertices)
        v.position = {(v.position.x + 0.5f) * 10.0f, (v.position.y + 0.5f) * 20.0f, 2.0f + (v.position.z + 0.5f) * 3.0f};
    box.boundsValid = false;  // the box is worked out from a copy
    const Transform3x4 t = LayOnFaceTransform(box, {0, 0, 1});
    EXPECT_TRUE(t.m00 == 1.0f && t.m11 == -1.0f && t.m22 == -1.0f);
    TransformMesh(box, t);
    EXPECT_EQ(std::tuple(box.boundsMin.y, box.boundsMin.z, box.boundsMax.y, box.boundsMax.z), std::tuple(0.0f, 2.0f, 20.0f, 5.0f));
}

TEST(Transform, ComposeInvertAndExactIdentity)
{
    Transform3x4 rotation;
    const float c = std::cos(0.7f), s = std::sin(0.7f);
    rotation.m00 = c, rotation.m01 = -s, rotation.m10 = s, rotation.m11 = c;
    rotation.translation = {5, -3, 2};
    const Transform3x4 back = ComposeTransforms(InvertTransform(rotation), rotation);
    TriangleMesh probe = MeshOf({{3, -4, 5}}, {});
    TransformMesh(probe, back);
    const Vec3 off = probe.vertices[0].position - Vec3{3, -4, 5};
    EXPECT_LT(Dot(off, off), 1e-10f);
    // a after b: a translation after a quarter turn moves the turned point.
    Transform3x4 shift, quarter;
    shift.translation = {1, 0, 0};
    quarter.m00 = 0, quarter.m01 = -1, quarter.m10 = 1, quarter.m11 = 0;
    TriangleMesh point = MeshOf({{1, 0, 0}}, {});
    TransformMesh(point, ComposeTransforms(shift, quarter));
    EXPECT_EQ(point.vertices[0].position, (Vec3{1, 1, 0}));

    Transform3x4 t;
    t.m01 = -0.0f;  // equal to zero
    EXPECT_TRUE(IsIdentityTransform(t));
    t.translation.z = 1e-30f;
    EXPECT_FALSE(IsIdentityTransform(t));
    t = {};
    t.m11 = std::nanf("");
    EXPECT_FALSE(IsIdentityTransform(t));
}

TEST(TransformMesh, IdentityTouchesNothingAndOthersMoveNormalsToo)
{
    TriangleMesh cube = MakeTestCube(2.0f);
    cube.boundsValid = false;
    const TriangleMesh before = cube;
    TransformMesh(cube, Transform3x4{});
    EXPECT_TRUE(test::Identical(cube, before));

    Transform3x4 t;
    t.m00 = 2.0f;  // normals are not renormalised
    t.translation = {0, 0, 10};
    TransformMesh(cube, t);
    EXPECT_EQ(std::tuple(cube.boundsValid, cube.boundsMin, cube.boundsMax), std::tuple(true, Vec3{-2, -1, 9}, Vec3{2, 1, 11}));
    for (std::size_t i = 0; i < cube.vertices.size(); ++i) {
        const Vec3 n = before.vertices[i].normal;
        EXPECT_EQ(cube.vertices[i].normal, (Vec3{2 * n.x, n.y, n.z}));
    }
}

TEST(TransformJson, WritesAndReadsThePlacementSection)
{
    Transform3x4 t;
    t.m00 = 0.1f, t.m01 = -1.0f, t.m12 = 2.5f, t.m22 = -1.0f;
    t.translation = {1.5f, -2.0f, 3.25f};
    const JsonNode document = NewJsonDocument();
    WriteTransformJson(document.ObjectChild("part").ObjectChild("orientation"), t);
    EXPECT_EQ(document.root->dump(),
              R"({"part":{"orientation":{"rowX":[0.1,-1.0,0.0],"rowY":[0.0,1.0,2.5],"rowZ":[0.0,0.0,-1.0],)"
              R"("translation":[1.5,-2.0,3.25]}}})");

    Transform3x4 back;
    const JsonView view{document.root, document.root.get()};
    ReadTransformJson(view.Section("part").Section("orientation"), back);
    EXPECT_EQ(std::memcmp(&back, &t, sizeof t), 0);
}

}  // namespace
}  // namespace grainforge::mesh
