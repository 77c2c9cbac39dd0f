#include "engine/remesh/remesh_settings.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <memory>
#include <string>
#include <thread>

namespace grainforge::mesh {
namespace {

JsonView ParseView(const std::string& text)
{
    auto root = std::make_shared<JsonValue>(JsonValue::parse(text));
    JsonView view;
    view.value = root.get();
    view.root = root;
    return view;
}

TriangleMesh EquilateralTriangle()
{
    TriangleMesh mesh;
    mesh.vertices = {{{0.0f, 0.0f, 0.0f}, {}}, {{1.0f, 0.0f, 0.0f}, {}},
        {{0.5f, std::sqrt(3.0f) / 2.0f, 0.0f}, {}}};
    mesh.indices = {0, 1, 2};
    mesh.ComputeBounds();
    return mesh;
}

TEST(RemeshSettings, DefaultsAreTheDocumentsDefaults)
{
    const RemeshSettings s;
    EXPECT_EQ(s.method, RemeshMethod::contour);
    EXPECT_EQ(s.dualContouring.sharpness, 1.0f);
    EXPECT_TRUE(s.dualContouring.preserveVolume);
    EXPECT_FALSE(s.dualContouring.removeDisconnected);
    EXPECT_EQ(s.dualContouring.disconnectedThreshold, 1.0f);
    EXPECT_TRUE(s.dualContouring.manifold);
    EXPECT_EQ(s.targetEdgeMillimetres, 0.2f);
    EXPECT_EQ(s.rounds, 5);
    EXPECT_EQ(s.featureAngleDegrees, 40.0f);
    EXPECT_EQ(s.relaxation, 0.5f);
    EXPECT_TRUE(s.projectToOriginal);
}

TEST(RemeshSettingsEquals, EveryFieldCounts)
{
    const RemeshSettings base;
    EXPECT_TRUE(RemeshSettingsEquals(base, base));
    const auto changes = {
        +[](RemeshSettings& s) { s.method = RemeshMethod::isotropic; },
        +[](RemeshSettings& s) { s.dualContouring.sharpness = 0.5f; },
        +[](RemeshSettings& s) { s.dualContouring.preserveVolume = false; },
        +[](RemeshSettings& s) { s.dualContouring.removeDisconnected = true; },
        +[](RemeshSettings& s) { s.dualContouring.disconnectedThreshold = 0.5f; },
        +[](RemeshSettings& s) { s.dualContouring.manifold = false; },
        +[](RemeshSettings& s) { s.targetEdgeMillimetres = 0.3f; },
        +[](RemeshSettings& s) { s.rounds = 6; },
        +[](RemeshSettings& s) { s.featureAngleDegrees = 41.0f; },
        +[](RemeshSettings& s) { s.relaxation = 0.25f; },
        +[](RemeshSettings& s) { s.projectToOriginal = false; },
    };
    int index = 0;
    for (auto change : changes) {
        RemeshSettings other = base;
        change(other);
        EXPECT_FALSE(RemeshSettingsEquals(base, other)) << "field " << index;
        ++index;
    }
    EXPECT_EQ(index, 11);
}

TEST(RemeshSettingsJson, WritesKeysInOrderAndReadsThemBack)
{
    RemeshSettings s;
    s.targetEdgeMillimetres = 0.1f;
    s.dualContouring.sharpness = 0.3f;
    s.dualContouring.manifold = false;
    const JsonNode node = NewJsonDocument();
    RemeshSettingsToJson(node, s);
    EXPECT_EQ(node.root->dump(),
        R"({"method":"contour","targetEdgeMillimetres":0.1,"rounds":5,"featureAngleDegrees":40.0,)"
        R"("relaxation":0.5,"projectToOriginal":true,"dualContouring":{"sharpness":0.3,)"
        R"("preserveVolume":true,"removeDisconnected":false,"disconnectedThreshold":1.0,)"
        R"("manifold":false}})");
    RemeshSettings back;
    RemeshSettingsFromJson(ParseView(node.root->dump()), back);
    EXPECT_TRUE(RemeshSettingsEquals(s, back));
}

TEST(RemeshSettingsJson, ReadingRules)
{
    struct Case {
        const char* what;
        const char* json;
        RemeshSettings start;
        RemeshMethod method;
        std::int32_t rounds;
        float relaxation;
    };
    RemeshSettings holdsOne;
    holdsOne.method = RemeshMethod::dualContouring;
    RemeshSettings isotropic;
    isotropic.method = RemeshMethod::isotropic;
    const Case cases[] = {
        {"old name", R"({"method":"dualContouring"})", isotropic, RemeshMethod::contour, 5, 0.5f},
        {"1 without a key", R"({})", holdsOne, RemeshMethod::contour, 5, 0.5f},
        {"integer method", R"({"method":2})", isotropic, RemeshMethod::isotropic, 5, 0.5f},
        {"unknown name", R"({"method":"Contour"})", isotropic, RemeshMethod::isotropic, 5, 0.5f},
        {"floating rounds", R"({"rounds":3.0})", RemeshSettings{}, RemeshMethod::contour, 5, 0.5f},
        {"rounds past int32", R"({"rounds":4294967296})", RemeshSettings{}, RemeshMethod::contour, 5, 0.5f},
        {"integer rounds", R"({"rounds":-3})", RemeshSettings{}, RemeshMethod::contour, -3, 0.5f},
        {"integer relaxation", R"({"relaxation":1})", RemeshSettings{}, RemeshMethod::contour, 5, 1.0f},
        {"text relaxation", R"({"relaxation":"1"})", RemeshSettings{}, RemeshMethod::contour, 5, 0.5f},
    };
    for (const Case& c : cases) {
        RemeshSettings s = c.start;
        RemeshSettingsFromJson(ParseView(c.json), s);
        EXPECT_EQ(s.method, c.method) << c.what;
        EXPECT_EQ(s.rounds, c.rounds) << c.what;
        EXPECT_EQ(s.relaxation, c.relaxation) << c.what;
    }
    RemeshSettings s;
    RemeshSettingsFromJson(ParseView(R"({"projectToOriginal":1,"dualContouring":{"manifold":false}})"), s);
    EXPECT_TRUE(s.projectToOriginal);  // a number is not a boolean
    EXPECT_FALSE(s.dualContouring.manifold);
}

TEST(RemeshSettingsJson, MethodOutsideTheTableIsWrittenAsANumberAndKeptOnReading)
{
    RemeshSettings s;
    s.method = static_cast<RemeshMethod>(7);
    const JsonNode node = NewJsonDocument();
    RemeshSettingsToJson(node, s);
    EXPECT_EQ((*node.root)["method"], 7);
    RemeshSettings back;
    back.method = RemeshMethod::isotropic;
    RemeshSettingsFromJson(ParseView(node.root->dump()), back);
    EXPECT_EQ(back.method, RemeshMethod::isotropic);
}

TEST(ContourCellSize, SmallestCellAndCap)
{
    TriangleMesh cube = MakeTestCube(40.88f);
    RemeshSettings s;
    bool capped = true;
    s.targetEdgeMillimetres = 0.5f;
    EXPECT_EQ(ContourCellSize(cube, s, &capped), 0.5f);
    EXPECT_FALSE(capped);
    s.targetEdgeMillimetres = 0.001f;
    EXPECT_NEAR(ContourCellSize(cube, s, &capped), 0.01f, 1e-7f);
    EXPECT_TRUE(capped);
    TriangleMesh none;
    s.targetEdgeMillimetres = 0.0f;
    EXPECT_EQ(ContourCellSize(none, s, &capped), 0.0001f);
    EXPECT_FALSE(capped);
}

TEST(EstimateRemeshResult, GivesTheAreaRuleNumbers)
{
    // A 10 mm cube has 600 mm2. Contour cell 0.5: 600 / (0.25 / 2.16) = 5184 triangles;
    // isotropic edge 1: 600 / (sqrt(3) / 4) = 1385.6, truncated.
    const TriangleMesh cube = MakeTestCube(10.0f);
    RemeshSettings s;
    s.targetEdgeMillimetres = 0.5f;
    RemeshEstimate e = EstimateRemeshResult(cube, s);
    EXPECT_EQ(e.meshTriangles, 12u);
    EXPECT_EQ(e.countedTriangles, 12u);
    EXPECT_NEAR(e.areaSquareMillimetres, 600.0, 1e-9);
    EXPECT_EQ(e.estimatedTriangles, 5184u);
    EXPECT_EQ(e.totalTriangles, 5184u);
    EXPECT_EQ(e.cappedCellMillimetres, 0.0f);
    s.method = RemeshMethod::isotropic;
    s.targetEdgeMillimetres = 1.0f;
    e = EstimateRemeshResult(cube, s);
    EXPECT_EQ(e.estimatedTriangles, 1385u);
    // A target below the finest cell reports the raised cell: 10 / 4088.
    s.method = RemeshMethod::contour;
    s.targetEdgeMillimetres = 0.0001f;
    e = EstimateRemeshResult(cube, s);
    EXPECT_NEAR(e.cappedCellMillimetres, 10.0f / 4088.0f, 1e-9f);
    TriangleMesh broken = cube;
    broken.indices.pop_back();
    e = EstimateRemeshResult(broken, s);
    EXPECT_EQ(e.meshTriangles, 11u);
    EXPECT_EQ(e.estimatedTriangles, 0u);
    EXPECT_EQ(e.totalTriangles, 0u);
}

TEST(RecordStageTime, RepeatedStageStandsOnceWithItsSum)
{
    RemeshReport report;
    StageTimer timer(report);
    for (int round = 0; round < 3; ++round) {
        RecordStageTime(timer, "split");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        RecordStageTime(timer, "flip");
    }
    RecordStageTime(timer, "");
    ASSERT_EQ(report.stageTimes.size(), 2u);
    EXPECT_EQ(report.stageTimes[0].name, "split");
    EXPECT_EQ(report.stageTimes[1].name, "flip");
    EXPECT_GE(report.stageTimes[0].milliseconds, 6.0);
}

TEST(PercentileOfSorted, InterpolatesBetweenNeighbours)
{
    EXPECT_EQ(PercentileOfSorted({}, 0.5), 0.0);
    EXPECT_EQ(PercentileOfSorted({4.0f}, 0.99), 4.0);
    EXPECT_DOUBLE_EQ(PercentileOfSorted({1.0f, 2.0f, 3.0f, 5.0f}, 0.5), 2.5);
    EXPECT_DOUBLE_EQ(PercentileOfSorted({1.0f, 2.0f, 3.0f, 5.0f}, 1.0), 5.0);
}

TEST(MeasureMeshQuality, EquilateralTriangle)
{
    const MeshQuality q = MeasureMeshQuality(EquilateralTriangle());
    EXPECT_EQ(q.triangles, 1u);
    EXPECT_EQ(q.edges, 3u);
    EXPECT_EQ(FormatMeshQuality(q),
        "1 triangles, edges 1.0000 / 1.0000 / 1.0000 / 1.0000 / 1.0000 mm (min, 1%, median, "
        "99%, max), aspect median 1.00, worst 1.00, over 10:1 0.00%");
}

TEST(MeasureMeshQuality, ZeroLengthEdgesLeaveTheAspectsAtZero)
{
    TriangleMesh mesh = EquilateralTriangle();
    mesh.vertices[2].position = mesh.vertices[1].position;
    const MeshQuality q = MeasureMeshQuality(mesh);
    EXPECT_EQ(q.aspectMedian, 0.0f);
    EXPECT_EQ(q.aspectWorst, 0.0f);
    EXPECT_EQ(q.shareOver10, 0.0);
    EXPECT_EQ(q.edgeMax, 1.0f);
    EXPECT_EQ(q.edgeMin, 0.0f);
}

TEST(MeasureMeshQuality, CubeAndInvalidMesh)
{
    const MeshQuality q = MeasureMeshQuality(MakeTestCube(2.0f));
    EXPECT_EQ(q.triangles, 12u);
    EXPECT_EQ(q.edges, 18u);  // 12 sides and 6 face diagonals
    EXPECT_EQ(q.edgeMin, 2.0f);
    EXPECT_NEAR(q.edgeMax, 2.0f * std::sqrt(2.0f), 1e-6f);
    TriangleMesh broken = MakeTestCube(2.0f);
    broken.indices[0] = 100;
    EXPECT_EQ(MeasureMeshQuality(broken).triangles, 0u);
}

TEST(FormatRemeshReport, ContourAndIsotropicForms)
{
    RemeshReport r;
    r.contour = true;
    r.trianglesBefore = 12;
    r.trianglesAfter = 5000;
    r.cellMillimetres = 0.5f;
    r.cellCapped = true;
    r.strayBodiesRemoved = 2;
    r.strayBodyTriangles = 30;
    r.thinPlaces = 3;
    r.openGridLines = 4;
    r.deviationMillimetres = 0.00126f;
    r.stageTimes = {{"Reading the surface", 12.4}, {"Contouring", 0.6}};
    const std::string quality = FormatMeshQuality(MeshQuality{});
    EXPECT_EQ(FormatRemeshReport(r),
        "Remesh: 12 -> 5000 triangles by dual contouring, cell 0.5000 mm (the finest this "
        "part's size allows), 2 stray bodies the part did not have removed (30 triangles), 3 "
        "places thinner than the cell, the part is open (4 grid lines through a hole)\n"
        "  deviation from the original surface: 0.0013 mm\n  before: " + quality
            + "\n  after:  " + quality
            + "\n  time: Reading the surface 12 ms; Contouring 1 ms;");
    RemeshReport iso;
    iso.cancelled = true;
    iso.trianglesBefore = 10;
    iso.trianglesAfter = 20;
    iso.splits = 1;
    iso.collapses = 2;
    iso.flips = 3;
    EXPECT_EQ(FormatRemeshReport(iso),
        "Remesh cancelled: 10 -> 20 triangles, 1 splits, 2 collapses, 3 flips\n"
        "  deviation from the original surface: 0.0000 mm\n  before: " + quality
            + "\n  after:  " + quality);
}

TEST(FormatRemeshReport, FailureIsNotAStop)
{
    RemeshReport r;
    r.contour = true;
    r.failed = true;
    r.failure = RemeshFailure::contourIncomplete;
    const std::string text = FormatRemeshReport(r);
    EXPECT_EQ(text.rfind("Remesh failed: ", 0), 0u);
    EXPECT_EQ(text.find("cancelled"), std::string::npos);
    EXPECT_FALSE(RemeshFailureText(RemeshFailure::gridTooLarge).empty());
    EXPECT_TRUE(RemeshFailureText(RemeshFailure::none).empty());
}

}  // namespace
}  // namespace grainforge::mesh
