// The section clip, the display deviation and the heat ramp.
#include "app/view/display_section.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TriangleMesh OneTriangle(Vec3 a, Vec3 b, Vec3 c)
{
    TriangleMesh mesh;
    for (const Vec3 p : {a, b, c})
        mesh.vertices.push_back({p, {0.0f, 0.0f, 1.0f}});
    mesh.indices = {0, 1, 2};
    mesh.ComputeBounds();
    return mesh;
}

float Area(const TriangleMesh& mesh) { return mesh.SurfaceArea(); }

TEST(ClipMeshByPlane, KeepsTheSideTheNormalPointsTo)
{
    // Plane x = 0, normal +x (given unnormalised).
    struct Case {
        const char* name;
        Vec3 a, b, c;
        std::size_t triangles;
        float area;
    };
    const Case cases[] = {
        {"on the plane stays whole", {0, 0, 0}, {0, 2, 0}, {0, 0, 2}, 1, 2.0f},
        {"all kept", {1, 0, 0}, {3, 0, 0}, {1, 2, 0}, 1, 2.0f},
        {"none kept", {-1, 0, 0}, {-3, 0, 0}, {-1, 2, 0}, 0, 0.0f},
        {"one corner kept: a smaller triangle", {-2, 0, 0}, {2, 0, 0}, {-2, 4, 0}, 1, 2.0f},
        {"two corners kept: two triangles", {2, 0, 0}, {-2, 0, 0}, {2, 4, 0}, 2, 6.0f},
    };
    for (const Case& c : cases) {
        const TriangleMesh clipped = ClipMeshByPlane(OneTriangle(c.a, c.b, c.c), {0, 5, 5}, {3, 0, 0});
        EXPECT_EQ(clipped.TriangleCount(), c.triangles) << c.name;
        EXPECT_NEAR(Area(clipped), c.area, 1e-5f) << c.name;
        EXPECT_EQ(clipped.vertices.size(), 3 * c.triangles) << c.name << ": corners are not shared";
        for (const auto& v : clipped.vertices) {
            EXPECT_GE(v.position.x, -1e-6f) << c.name;
            EXPECT_NEAR(Length(v.normal), 1.0f, 1e-6f) << c.name;
        }
        EXPECT_EQ(clipped.boundsValid, c.triangles != 0) << c.name;
    }
}

TEST(ClipMeshByPlane, BadInputs)
{
    const TriangleMesh cube = mesh::MakeTestCube(10.0f);
    EXPECT_EQ(ClipMeshByPlane(cube, {}, {0, 0, 0}).TriangleCount(), cube.TriangleCount()) << "zero normal: whole";
    TriangleMesh broken = cube;
    broken.indices.push_back(9999);
    EXPECT_TRUE(ClipMeshByPlane(broken, {}, {1, 0, 0}).vertices.empty());
}

TEST(HeatMapColours, RampPoints)
{
    struct Case {
        float t;
        Vec3 colour;
    };
    const Case cases[] = {
        {0.0f, {0.05f, 0.05f, 0.35f}},   {0.2499999f, {0.05f, 0.05f, 1.0f}}, {0.25f, {0.05f, 0.0f, 1.0f}},
        {0.4999999f, {0.05f, 0.9f, 0.4f}}, {0.5f, {0.0f, 0.9f, 0.1f}},        {0.75f, {1.0f, 0.9f, 0.1f}},
        {1.0f, {1.0f, 0.05f, 0.1f}},      {7.0f, {1.0f, 0.05f, 0.1f}},       {-1.0f, {0.05f, 0.05f, 0.35f}},
    };
    for (const Case& c : cases) {
        const Vec3 got = HeatMapColour(c.t);
        EXPECT_NEAR(got.x, c.colour.x, 1e-5f) << c.t;
        EXPECT_NEAR(got.y, c.colour.y, 1e-5f) << c.t;
        EXPECT_NEAR(got.z, c.colour.z, 1e-5f) << c.t;
    }
}

TEST(HeatMapColours, ScaleRules)
{
    EXPECT_TRUE(HeatMapColours({}, 1.0f).empty());
    // No scale: the largest value is the top of the ramp.
    EXPECT_NEAR(HeatMapColours({1.0f, 4.0f}, 0.0f)[1].y, 0.05f, 1e-5f);
    // A given scale wins over the values.
    EXPECT_NEAR(HeatMapColours({2.0f}, 8.0f)[0].z, 0.35f + 2.6f * 0.25f, 1e-5f);
}

TEST(MeasureDisplayDeviation, LiftedCopyDeviatesByTheLift)
{
    const TriangleMesh reference = mesh::MakeTestSphere(20.0f);
    TriangleMesh grown = reference;
    for (auto& v : grown.vertices)
        v.position = v.position * 1.05f;
    grown.ComputeBounds();
    mesh::AabbTree tree;
    tree.Build(reference);

    float scale = -1.0f;
    const std::vector<float> values = MeasureDisplayDeviationParallel(grown, tree, reference, scale);
    std::vector<float> serial(grown.TriangleCount(), -1.0f);
    MeasureDisplayDeviation(0, serial.size(), grown, tree, reference, serial);
    EXPECT_EQ(values, serial) << "the parallel blocks give the serial result";
    EXPECT_GT(scale, 0.9f);
    EXPECT_LT(scale, 1.01f);  // the corners lie 1 mm out; no point farther
    for (const float v : values)
        EXPECT_GT(v, 0.5f);
}

}  // namespace
}  // namespace grainforge::app

namespace grainforge::app {
namespace {

TEST(BuildSectionedMesh, ModesPickAndCutTheirMeshes)
{
    const TriangleMesh part = mesh::MakeTestCube(10.0f);
    TriangleMesh result = part;
    for (auto& v : result.vertices)
        v.position = v.position * 1.2f;  // the "processed" mesh, larger than the part
    result.ComputeBounds();
    const Vec3 centre = (part.boundsMin + part.boundsMax) * 0.5f;
    SectionedMesh out;
    BuildSectionedMesh(out, result, part, 0, false, centre, 2);
    EXPECT_EQ(out.shown, &result);
    BuildSectionedMesh(out, result, part, 1, false, centre, 2);
    EXPECT_EQ(out.shown, &part);

    BuildSectionedMesh(out, result, part, 2, false, centre, 2);
    ASSERT_EQ(out.shown, &out.made);
    EXPECT_FLOAT_EQ(out.made.boundsMax.x, result.boundsMax.x) << "the result on +X";
    EXPECT_FLOAT_EQ(out.made.boundsMin.x, part.boundsMin.x) << "the part as loaded on -X";
    EXPECT_TRUE(out.made.IsConsistent());

    BuildSectionedMesh(out, result, part, 0, true, centre, 2);
    EXPECT_GE(out.made.boundsMin.x, centre.x - 1e-5f) << "clipping cuts the -X side away";

    BuildSectionedMesh(out, result, part, 4, false, centre, 2);
    EXPECT_EQ(out.slicedReport.rfind("Sliced preview: ", 0), 0u) << out.slicedReport;
    EXPECT_GT(out.made.TriangleCount(), 0u);
    EXPECT_EQ(out.sliceFirstLayers.size(), out.made.TriangleCount());
}

}  // namespace
}  // namespace grainforge::app
