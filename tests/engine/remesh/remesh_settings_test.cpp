#include "engine/remesh/remesh_settings.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/json_view_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>
#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::ViewOf;

std::string WrittenText(const RemeshSettings& settings)
{
    const JsonNode node = NewJsonDocument();
    RemeshSettingsToJson(node, settings);
    return node.root->dump();
}

TEST(RemeshSettingsJson, DefaultsAreWrittenInOrder)
{
    EXPECT_EQ(WrittenText(RemeshSettings{}),
        R"({"method":"contour","targetEdgeMillimetres":0.2,"rounds":5,"featureAngleDegrees":40.0,)"
        R"("relaxation":0.5,"projectToOriginal":true,"dualContouring":{"sharpness":1.0,)"
        R"("preserveVolume":true,"removeDisconnected":false,"disconnectedThreshold":1.0,)"
        R"("manifold":true}})");
}

// Each field on its own, read from a document that holds only it, makes the record differ: it
// is read, and it takes part in the equality. The whole record reads back equal.
TEST(RemeshSettingsJson, EveryFieldCountsAndRoundTrips)
{
    const RemeshSettings changed{.method = RemeshMethod::isotropic,
        .dualContouring = {.sharpness = 0.5f, .preserveVolume = false, .removeDisconnected = true,
            .disconnectedThreshold = 0.5f, .manifold = false},
        .targetEdgeMillimetres = 0.3f, .rounds = 6, .featureAngleDegrees = 41.0f, .relaxation = 0.25f,
        .projectToOriginal = false};
    const JsonValue document = JsonValue::parse(WrittenText(changed));
    RemeshSettings back;
    RemeshSettingsFromJson(ViewOf(document.dump()), back);
    EXPECT_TRUE(RemeshSettingsEquals(back, changed));
    std::vector<JsonValue> single;
    for (const auto& item : document.items()) {
        if (item.key() != "dualContouring")
            single.push_back(JsonValue{{item.key(), item.value()}});
    }
    for (const auto& item : document["dualContouring"].items())
        single.push_back(JsonValue{{"dualContouring", JsonValue{{item.key(), item.value()}}}});
    EXPECT_EQ(single.size(), 11u);
    for (const JsonValue& one : single) {
        RemeshSettings read;
        RemeshSettingsFromJson(ViewOf(one.dump()), read);
        EXPECT_FALSE(RemeshSettingsEquals(read, RemeshSettings{})) << one.dump();
    }
}

TEST(RemeshSettingsJson, MethodNamesOldAndUnknown)
{
    RemeshSettings odd;
    odd.method = static_cast<RemeshMethod>(7);
    const std::string oddText = WrittenText(odd);
    EXPECT_NE(oddText.find(R"("method":7)"), std::string::npos);  // written as its number; not read back
    const std::tuple<std::string, RemeshMethod, RemeshMethod> cases[] = {
        {R"({"method":"dualContouring"})", RemeshMethod::isotropic, RemeshMethod::contour},
        {R"({})", RemeshMethod::dualContouring, RemeshMethod::contour},  // the old method is read as contour
        {R"({"method":"Contour"})", RemeshMethod::isotropic, RemeshMethod::isotropic},
        {oddText, RemeshMethod::isotropic, RemeshMethod::isotropic},
    };
    for (const auto& [json, start, method] : cases) {
        RemeshSettings s;
        s.method = start;
        RemeshSettingsFromJson(ViewOf(json), s);
        EXPECT_EQ(s.method, method) << json;
    }
}

TEST(ContourCellSize, SmallestCellAndCap)
{
    const TriangleMesh cube = MakeTestCube(40.88f), tiny = MakeTestCube(0.004f), large = MakeTestCube(8176.0f);
    // A body far away has a grid of its own: only a body's own size raises the cell, welded or not.
    const TriangleMesh farCube = test::Combined(MakeTestCube(30.0f), test::Translated(MakeTestCube(1.0f), {3000, 0, 0}));
    const TriangleMesh farCubeSoup = test::ToSoup(farCube);
    const TriangleMesh largeAndFar = test::Combined(large, test::Translated(tiny, {1e6f, 1e6f, 0.0f}));
    struct Case {
        const TriangleMesh& mesh;
        float target, cell;
        bool capped;
    };
    // The finest cell is 0.0001 mm, and at least 1/4088 of the part's largest size.
    const Case cases[] = {{cube, 0.5f, 0.5f, false},          {cube, 0.001f, 0.01f, true},
                          {tiny, 0.0f, 0.0001f, false},       {large, 1.0f, 2.0f, true},
                          {TriangleMesh{}, 0.0f, 0.0001f, false}, {TriangleMesh{}, std::nanf(""), 0.0001f, false},
                          {farCube, 0.3f, 0.3f, false},       {farCubeSoup, 0.3f, 0.3f, false},
                          {largeAndFar, 1.0f, 2.0f, true}};
    for (const Case& c : cases) {
        RemeshSettings s;
        s.targetEdgeMillimetres = c.target;
        bool capped = !c.capped;
        EXPECT_NEAR(ContourCellSize(c.mesh, s, &capped), c.cell, 1e-7f) << c.target;
        EXPECT_EQ(capped, c.capped) << c.target;
    }
}

TEST(EstimateRemeshResult, GivesTheAreaRuleNumbers)
{
    // A 10 mm cube has 600 mm2, all of it lying in the grid's planes. Contour cell 0.5: two
    // triangles per crossed cell, 2 x 600 / 0.25 = 4800; isotropic edge 1: 600 / (sqrt(3) / 4)
    // = 1385.6, truncated.
    const TriangleMesh cube = MakeTestCube(10.0f);
    RemeshSettings s;
    s.targetEdgeMillimetres = 0.5f;
    RemeshEstimate e = EstimateRemeshResult(cube, s);
    EXPECT_EQ(e.countedTriangles, 12u);
    EXPECT_NEAR(e.areaSquareMillimetres, 600.0, 1e-9);
    EXPECT_EQ(e.estimatedTriangles, 4800u);
    EXPECT_EQ(e.totalTriangles, 4800u);
    EXPECT_EQ(e.cappedCellMillimetres, 0.0f);
    s.method = RemeshMethod::isotropic;
    s.targetEdgeMillimetres = 1.0f;
    EXPECT_EQ(EstimateRemeshResult(cube, s).estimatedTriangles, 1385u);
    // A target below the finest cell reports the raised cell: 10 / 4088.
    s.method = RemeshMethod::contour;
    s.targetEdgeMillimetres = 0.0001f;
    EXPECT_NEAR(EstimateRemeshResult(cube, s).cappedCellMillimetres, 10.0f / 4088.0f, 1e-9f);
}

TEST(MeasureMeshQuality, KnownMeshesAndTheirText)
{
    EXPECT_EQ(PercentileOfSorted({}, 0.5), 0.0);
    EXPECT_EQ(PercentileOfSorted({4.0f}, 0.99), 4.0);
    EXPECT_DOUBLE_EQ(PercentileOfSorted({1.0f, 2.0f, 3.0f, 5.0f}, 0.5), 2.5);

    TriangleMesh triangle;
    triangle.vertices = {{{0, 0, 0}, {}}, {{1, 0, 0}, {}}, {{0.5f, std::sqrt(3.0f) / 2.0f, 0}, {}}};
    triangle.indices = {0, 1, 2};
    EXPECT_EQ(FormatMeshQuality(MeasureMeshQuality(triangle)),
        "1 triangles, edges 1.0000 / 1.0000 / 1.0000 / 1.0000 / 1.0000 mm (min, 1%, median, "
        "99%, max), aspect median 1.00, worst 1.00, over 10:1 0.00%");
    triangle.vertices[2].position = triangle.vertices[1].position;  // a zero-length edge
    const MeshQuality degenerate = MeasureMeshQuality(triangle);
    EXPECT_EQ(degenerate.aspectWorst, 0.0f);
    EXPECT_EQ(degenerate.shareOver10, 0.0);
    EXPECT_EQ(degenerate.edgeMin, 0.0f);

    const MeshQuality cube = MeasureMeshQuality(MakeTestCube(2.0f));
    EXPECT_EQ(cube.edges, 18u);  // 12 sides and 6 face diagonals
    EXPECT_NEAR(cube.edgeMax, 2.0f * std::sqrt(2.0f), 1e-6f);
}

// The figures as a plain sort over every distinct edge gives them.
MeshQuality SortedQuality(const TriangleMesh& mesh)
{
    std::set<EdgeKey> keys;
    std::vector<float> aspects;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        float length[3];
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            keys.insert(MakeEdgeKey(a, b));
            length[k] = Length(mesh.vertices[b].position - mesh.vertices[a].position);
        }
        const float shortest = std::min({length[0], length[1], length[2]});
        if (shortest > 0.0f)
            aspects.push_back(std::max({length[0], length[1], length[2]}) / shortest);
    }
    std::vector<float> lengths;
    for (const EdgeKey key : keys) {
        const float l = Length(mesh.vertices[key & 0xffffffffu].position - mesh.vertices[key >> 32].position);
        if (l == l)
            lengths.push_back(l);
    }
    std::sort(lengths.begin(), lengths.end());
    std::sort(aspects.begin(), aspects.end());
    MeshQuality q;
    q.triangles = mesh.TriangleCount();
    q.edges = keys.size();
    q.edgeMin = lengths.front();
    q.edgeMax = lengths.back();
    q.edgeP1 = static_cast<float>(PercentileOfSorted(lengths, 0.01));
    q.edgeMedian = static_cast<float>(PercentileOfSorted(lengths, 0.5));
    q.edgeP99 = static_cast<float>(PercentileOfSorted(lengths, 0.99));
    q.aspectMedian = static_cast<float>(PercentileOfSorted(aspects, 0.5));
    q.aspectWorst = aspects.back();
    q.shareOver10 = static_cast<double>(std::count_if(aspects.begin(), aspects.end(), [](float a) { return a > 10.0f; }))
        / static_cast<double>(aspects.size());
    return q;
}

TEST(MeasureMeshQuality, FiguresAsASortOfEveryDistinctEdgeGivesThem)
{
    TriangleMesh twice = MakeTestSphere(5.0f);  // every triangle twice: each edge four times
    const std::vector<std::uint32_t> once = twice.indices;
    twice.indices.insert(twice.indices.end(), once.begin(), once.end());
    TriangleMesh withNaN = test::MakeBumpySphere(6.0f, 0.5f, 30, 50);
    withNaN.vertices[40].position.x = std::numeric_limits<float>::quiet_NaN();
    const TriangleMesh meshes[] = {test::MakeBumpySphere(6.0f, 0.5f, 30, 50), twice, withNaN, test::MakeFan(3)};
    for (const TriangleMesh& mesh : meshes) {
        const MeshQuality measured = MeasureMeshQuality(mesh);
        const MeshQuality sorted = SortedQuality(mesh);
        EXPECT_EQ(std::tie(measured.triangles, measured.edges, measured.edgeMin, measured.edgeP1, measured.edgeMedian,
                      measured.edgeP99, measured.edgeMax, measured.aspectMedian, measured.aspectWorst,
                      measured.shareOver10),
            std::tie(sorted.triangles, sorted.edges, sorted.edgeMin, sorted.edgeP1, sorted.edgeMedian, sorted.edgeP99,
                sorted.edgeMax, sorted.aspectMedian, sorted.aspectWorst, sorted.shareOver10));
    }
}

TEST(FormatRemeshReport, ContourAndIsotropicForms)
{
    RemeshReport r;
    std::tie(r.trianglesBefore, r.trianglesAfter, r.deviationMillimetres) = std::tuple(12, 5000, 0.00126f);
    r.stageTimes = {{"Reading the surface", 12.4}, {"Contouring", 0.6}};
    std::tie(r.cellMillimetres, r.cellCapped, r.strayBodiesRemoved, r.strayBodyTriangles) = std::tuple(0.5f, true, 2, 30);
    std::tie(r.contour, r.openGridLines, r.thinPlaces) = std::tuple(true, 4, 3);
    const std::string quality = FormatMeshQuality(MeshQuality{});
    EXPECT_EQ(FormatRemeshReport(r),
        "Remesh: 12 -> 5000 triangles by dual contouring, cell 0.5000 mm (the finest this "
        "part's size allows), 2 stray bodies the part did not have removed (30 triangles), 3 "
        "places thinner than the cell, the part is open (4 grid lines through a hole)\n"
        "  deviation from the original surface: 0.0013 mm\n  before: " + quality
            + "\n  after:  " + quality
            + "\n  time: Reading the surface 12 ms; Contouring 1 ms;");
    // The removed bodies' records add the largest one's size, place and volume.
    r.strayBodies = {{{1, 1, 1}, {1.1f, 1.1f, 1.1f}, 12, 0.001}, {{5, 5, 5}, {5.05f, 5.05f, 5.05f}, 18, -0.000125}};
    EXPECT_NE(FormatRemeshReport(r).find("removed (30 triangles; the largest 0.10 x 0.10 x 0.10 mm at (1.05, 1.05, "
                                         "1.05), 0.001 mm3), 3 places"),
        std::string::npos)
        << FormatRemeshReport(r);
    r.strayBodies.resize(1);
    EXPECT_NE(FormatRemeshReport(r).find("removed (30 triangles; 0.10 x 0.10 x 0.10 mm at (1.05"), std::string::npos);
    RemeshReport iso;
    std::tie(iso.cancelled, iso.trianglesBefore, iso.trianglesAfter, iso.splits, iso.collapses, iso.flips) =
        std::tuple(true, 10, 20, 1, 2, 3);
    EXPECT_EQ(FormatRemeshReport(iso),
        "Remesh cancelled: 10 -> 20 triangles, 1 splits, 2 collapses, 3 flips\n"
        "  deviation from the original surface: 0.0000 mm\n  before: " + quality
            + "\n  after:  " + quality);
}

// A failure reads as one, never as a stop, and says the part is unchanged.
TEST(FormatRemeshReport, FailureTexts)
{
    const std::pair<RemeshFailure, const char*> cases[] = {
        {RemeshFailure::contourIncomplete, "Remesh failed: the contour grid was incomplete (a surface quad lacked a "
                                           "cell vertex); the part is unchanged"},
        {RemeshFailure::gridTooLarge, "Remesh failed: the contour grid at this cell size needs more memory than is "
                                      "available; the part is unchanged (choose a larger edge length)"},
    };
    for (const auto& [failure, text] : cases) {
        RemeshReport r;
        r.contour = true;
        r.failed = true;
        r.failure = failure;
        EXPECT_EQ(FormatRemeshReport(r), text);
    }
    EXPECT_TRUE(RemeshFailureText(RemeshFailure::none).empty());
    // Pieces that lie apart are contoured one after the other, their results held: the memory
    // they need together is refused, naming a grid too large alone and the size that fits.
    RemeshReport apart;
    std::tie(apart.failed, apart.failure, apart.piecesApart, apart.failedPieceMin, apart.failedPieceMax) =
        std::tuple(true, RemeshFailure::gridTooLarge, 2, Vec3{3000, 0, 0}, Vec3{3001, 1, 2});
    EXPECT_EQ(FormatRemeshReport(apart), "Remesh failed: the contour grids of the 2 pieces that lie apart, remeshed "
        "one after the other and their results held together, need more memory than is available at this cell size: "
        "the piece of 1.00 x 1.00 x 2.00 mm at (3000.50, 0.50, 1.00) alone needs more than that; the part is "
        "unchanged (choose a larger edge length)");
    RemeshReport together;
    std::tie(together.failed, together.failure, together.piecesApart, together.estimatedGridBytes,
        together.availableBytes, together.advisedCellMillimetres) =
        std::tuple(true, RemeshFailure::gridTooLarge, 200, 1941600000000u, 16200000000u, 0.0537f);
    EXPECT_EQ(FormatRemeshReport(together), "Remesh failed: the contour grids of the 200 pieces that lie apart, "
        "remeshed one after the other and their results held together, need about 1941.6 GB of memory, more than "
        "the 16.2 GB available at this cell size; the part is unchanged (an edge length of at least 0.054 mm fits)");
    RemeshReport one;
    std::tie(one.failed, one.failure, one.estimatedGridBytes, one.availableBytes, one.advisedCellMillimetres) =
        std::tuple(true, RemeshFailure::gridTooLarge, 2500000000u, 640000000u, 0.3f);
    EXPECT_EQ(FormatRemeshReport(one), "Remesh failed: the contour grid at this cell size needs about 2.5 GB of "
        "memory, more than the 640 MB available; the part is unchanged (an edge length of at least 0.30 mm fits)");
}

}  // namespace
}  // namespace grainforge::mesh
