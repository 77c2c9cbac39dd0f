#include "app/document/mesh_jobs.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/test_shapes.h"
#include "engine/remesh/remesh_settings.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

namespace grainforge::app {
namespace {

using mesh::TriangleMesh;
using mesh::Vec3;

// A quarter turn about x, then lifted: the part lies on its side on the bed.
mesh::Transform3x4 QuarterTurnAboutX()
{
    mesh::Transform3x4 t;
    t.m11 = 0.0f;
    t.m12 = -1.0f;
    t.m21 = 1.0f;
    t.m22 = 0.0f;
    t.translation = {0.0f, 0.0f, 10.0f};
    return t;
}

TriangleMesh Bounded(TriangleMesh m)
{
    m.ComputeBounds();
    return m;
}

TEST(MeshJobs, SetCancelFlagStopsSimplifyAndRemesh)
{
    const TriangleMesh sphere = Bounded(mesh::MakeTestSphere(10.0f));
    const TriangleMesh before = sphere;
    const std::atomic<bool> cancel{true};

    const SimplifyJobResult simplified = SimplifyInputMeshJob(sphere, QuarterTurnAboutX(), 1.0f, cancel);
    EXPECT_EQ(simplified.outcome, MeshJobOutcome::stopped);
    EXPECT_TRUE(simplified.mesh.vertices.empty());

    mesh::RemeshSettings settings;
    settings.targetEdgeMillimetres = 1.0f;
    const RemeshJobResult remeshed = RemeshInputMeshJob(sphere, mesh::Transform3x4{}, settings, 0, cancel);
    EXPECT_EQ(remeshed.outcome, MeshJobOutcome::stopped);
    EXPECT_TRUE(remeshed.mesh.vertices.empty());

    EXPECT_EQ(sphere.indices, before.indices);
    EXPECT_EQ(kSimplifyStoppedText, std::string("Simplify Input Mesh: stopped. The part is as it was."));
    EXPECT_EQ(kRemeshStoppedText, std::string("Remesh Input Mesh: stopped. The part is as it was."));
}

TEST(MeshJobs, RotatedPartIsSimplifiedOnTheBedAndStoredInItsLoadedFrame)
{
    // A tall cylinder: its loaded box runs 40 mm along z; placed, it lies along y.
    const TriangleMesh cylinder = Bounded(mesh::MakeTestCylinder(10.0f, 40.0f));
    const std::atomic<bool> cancel{false};
    const SimplifyJobResult result = SimplifyInputMeshJob(cylinder, QuarterTurnAboutX(), 1.0f, cancel);
    ASSERT_EQ(result.outcome, MeshJobOutcome::replaced);
    EXPECT_LT(result.report.trianglesAfter, result.report.trianglesBefore);
    EXPECT_EQ(result.mesh.TriangleCount(), result.report.trianglesAfter);
    ASSERT_TRUE(result.mesh.boundsValid);
    const Vec3 loaded = cylinder.boundsMax - cylinder.boundsMin;
    const Vec3 got = result.mesh.boundsMax - result.mesh.boundsMin;
    // The round wall loses a little to the merges; the length stays on z, where it was loaded.
    EXPECT_NEAR(got.x, loaded.x, 0.5f);
    EXPECT_NEAR(got.y, loaded.y, 0.5f);
    EXPECT_NEAR(got.z, loaded.z, 0.05f);
    EXPECT_NEAR(result.mesh.boundsMin.z, cylinder.boundsMin.z, 1e-3f);
}

TEST(MeshJobs, NothingToSimplifyLeavesThePart)
{
    const TriangleMesh cube = Bounded(mesh::MakeTestCube(20.0f));
    const std::atomic<bool> cancel{false};
    const SimplifyJobResult result = SimplifyInputMeshJob(cube, mesh::Transform3x4{}, 0.001f, cancel);
    EXPECT_EQ(result.outcome, MeshJobOutcome::unchanged);
    EXPECT_TRUE(result.mesh.vertices.empty());
}

TEST(MeshJobs, RemeshKeepsTheTriangleLimit)
{
    const TriangleMesh cube = Bounded(mesh::MakeTestCube(20.0f));
    const std::atomic<bool> cancel{false};
    mesh::RemeshSettings settings;
    settings.targetEdgeMillimetres = 0.05f;
    const RemeshJobResult refused = RemeshInputMeshJob(cube, mesh::Transform3x4{}, settings, 100000, cancel);
    ASSERT_EQ(refused.outcome, MeshJobOutcome::refused);
    EXPECT_GT(refused.estimatedTriangles, 100000u);
    EXPECT_TRUE(refused.mesh.vertices.empty());
    EXPECT_EQ(RemeshJobProblemText(refused).rfind("Remesh Input Mesh would make about ", 0), 0u);
    // A 2 m sphere 3 m from a small one makes the count at the finest its size allows: it is
    // named, and a triangle size under that finest is not advised.
    const TriangleMesh pair = Bounded(test::Combined(
        mesh::MakeTestSphere(15.0f), test::Translated(mesh::MakeTestSphere(1000.0f), {3000.0f, 0.0f, 0.0f})));
    settings.targetEdgeMillimetres = 0.2f;
    const std::string far =
        RemeshJobProblemText(RemeshInputMeshJob(pair, mesh::Transform3x4{}, settings, 100000, cancel));
    EXPECT_NE(far.find("over the limit: the piece of 2000.00 x 2000.00 x 2000.00 mm at (3000.00, 0.00, 0.00), one "
                       "of 2 that lie apart, makes about "), std::string::npos) << far;
    // The advised size, typed back as written, brings the whole part within the limit.
    const std::string lead = "a triangle size of at least ";
    const std::size_t advisedAt = far.find(lead);
    ASSERT_NE(advisedAt, std::string::npos) << far;
    EXPECT_NE(far.find(" mm or the part without that piece makes fewer", advisedAt), std::string::npos) << far;
    mesh::RemeshSettings followed = settings;
    followed.targetEdgeMillimetres = std::stof(far.substr(advisedAt + lead.size()));
    EXPECT_GT(followed.targetEdgeMillimetres, 0.49f);
    EXPECT_LE(mesh::EstimateRemeshResult(pair, followed).totalTriangles, 100000u) << far;

    settings.targetEdgeMillimetres = 2.0f;
    const RemeshJobResult done = RemeshInputMeshJob(cube, QuarterTurnAboutX(), settings, 100000, cancel);
    ASSERT_EQ(done.outcome, MeshJobOutcome::replaced);
    EXPECT_GT(done.mesh.TriangleCount(), cube.TriangleCount());
    mesh::TriangleMesh check = done.mesh;
    check.ComputeBounds();
    EXPECT_NEAR(check.boundsMin.z, cube.boundsMin.z, 0.05f);
    EXPECT_NEAR(check.boundsMax.z, cube.boundsMax.z, 0.05f);
}

// Remesh Input Mesh remeshes a piece far out as Process does, at the size its coordinates hold:
// asked for 0.5 mm, a 4 mm cube 1e7 mm out (a coordinate steps by 1 mm there) once went to the
// remesh at 0.5 mm; the sphere near the origin keeps the size asked.
TEST(MeshJobs, RemeshTakesAFarPieceAtItsOwnScale)
{
    const TriangleMesh part = Bounded(test::Combined(mesh::MakeTestSphere(10.0f),
        test::Translated(mesh::MakeTestCube(4.0f), {1.0e7f + 2.0f, 0.0f, 0.0f})));
    const std::atomic<bool> cancel{false};
    mesh::RemeshSettings settings;
    settings.targetEdgeMillimetres = 0.5f;
    const RemeshJobResult result = RemeshInputMeshJob(part, mesh::Transform3x4{}, settings, 0, cancel);
    ASSERT_EQ(result.outcome, MeshJobOutcome::replaced) << RemeshJobProblemText(result);
    ASSERT_EQ(result.farPieces.size(), 1u);
    EXPECT_FALSE(result.farPieces[0].kept);
    EXPECT_GE(result.farPieces[0].triangleSize, 1.0f);
    mesh::ValidationOptions options;
    options.checkSelfIntersections = true;
    const mesh::ValidationReport checked = mesh::ValidateMesh(result.mesh, options);
    EXPECT_TRUE(checked.closed);
    EXPECT_FALSE(checked.insideOut);
    EXPECT_EQ(checked.selfIntersectingTriangleCount, 0u);
    EXPECT_EQ(checked.componentCount, 2u);
}

TEST(MeshJobs, RemeshFailureIsNotTakenForAResult)
{
    TriangleMesh cube = Bounded(mesh::MakeTestCube(20.0f));
    cube.vertices[0].position.x = std::nanf("");
    cube.ComputeBounds();
    const std::atomic<bool> cancel{false};
    mesh::RemeshSettings settings;
    settings.targetEdgeMillimetres = 2.0f;
    const RemeshJobResult result = RemeshInputMeshJob(cube, mesh::Transform3x4{}, settings, 0, cancel);
    ASSERT_EQ(result.outcome, MeshJobOutcome::failed);
    EXPECT_TRUE(result.mesh.vertices.empty());
    EXPECT_EQ(RemeshJobProblemText(result).rfind("Remesh Input Mesh could not remesh the part: ", 0), 0u)
        << RemeshJobProblemText(result);
}

TEST(MeshJobs, ThrowingBodiesAreReportedAsFailures)
{
    struct Case {
        int kind;
        const char* text;
    };
    const Case cases[] = {
        {0, "Remesh Input Mesh ran out of memory. The part is as it was."},
        {1, "Remesh Input Mesh stopped on an error: disk gone. The part is as it was."},
        {2, "Remesh Input Mesh stopped on an error. The part is as it was."},
    };
    for (const Case& c : cases) {
        MeshJobFailure failure;
        const bool ran = RunMeshJobBody(
            [&] {
                if (c.kind == 0)
                    throw std::bad_alloc();
                if (c.kind == 1)
                    throw std::runtime_error("disk gone");
                throw 42;
            },
            failure);
        EXPECT_FALSE(ran);
        EXPECT_EQ(MeshJobFailureText(kRemeshJobName, failure), c.text);
    }
    MeshJobFailure failure;
    EXPECT_TRUE(RunMeshJobBody([] {}, failure));
    EXPECT_FALSE(failure.outOfMemory || failure.exception);
}

TEST(MeshJobs, RepairOfAHoledSphereAndOfACleanCube)
{
    const TriangleMesh cube = Bounded(mesh::MakeTestCube(20.0f));
    const RepairJobResult clean = RepairInputMeshJob(cube);
    EXPECT_EQ(clean.outcome, MeshJobOutcome::unchanged);
    EXPECT_TRUE(clean.mesh.vertices.empty());

    TriangleMesh holed = Bounded(mesh::MakeTestSphere(10.0f));
    holed.indices.resize(holed.indices.size() - 3);  // one small triangle missing
    const RepairJobResult repaired = RepairInputMeshJob(holed);
    ASSERT_EQ(repaired.outcome, MeshJobOutcome::replaced);
    EXPECT_EQ(repaired.report.openEdgesBefore, 3u);
    EXPECT_EQ(repaired.report.openEdgesAfter, 0u);
    const RepairInformation information = RepairInformationText(repaired.report, 0);
    EXPECT_EQ(information.text, "Repaired: open edges 3 to 0, non-manifold edges 0 to 0, bodies 1 to 1.");

    // The box is green only when validation of the part as installed names nothing Repair mends:
    // an inside-out sphere with a hole once came out closed, still inside out, under a green box.
    TriangleMesh insideOut = test::Flipped(mesh::MakeTestSphere(10.0f));
    insideOut.indices.resize(insideOut.indices.size() - 3);
    const RepairJobResult turned = RepairInputMeshJob(Bounded(insideOut));
    ASSERT_EQ(turned.outcome, MeshJobOutcome::replaced);
    const mesh::ValidationReport installed = mesh::ValidateMesh(turned.mesh, mesh::ValidationOptions{});
    EXPECT_FALSE(installed.insideOut);
    EXPECT_EQ(RepairInformationText(turned.report, 0).kind, mesh::NamesFaultRepairMends(installed) ? 1 : 0);
    mesh::RepairForPrintReport faultLeft = turned.report;
    faultLeft.faultLeft = true;
    EXPECT_EQ(RepairInformationText(faultLeft, 0).kind, 1);
}

// A part Repair leaves as it was gets its box from its validation alone: the check's rounds,
// which cost about a save (a 16,904-facet bed: 4 s to say nothing changed), are not run for it,
// and nothing is promised of them. An insert wound outward inside its body is nothing wrong
// (the box once said Repair mends none of what is wrong with it, the log that nothing needed
// changing).
TEST(MeshJobs, RepairThatChangesNothingSaysWhatIsWrongWithoutForecastingTheCheck)
{
    const struct {
        const char* what;
        TriangleMesh part;
        std::uint64_t crossing;
        const char* text;
    } cases[] = {
        {"a cube", mesh::MakeTestCube(20.0f), 0, "Nothing was changed: this part needed no repair."},
        {"a 10 mm cube inside a 30 mm cube, both outward",
            test::Combined(mesh::MakeTestCube(30.0f), mesh::MakeTestCube(10.0f)), 0,
            "Nothing was changed: this part needed no repair."},
        {"two cubes through each other", test::Combined(mesh::MakeTestCube(20.0f), test::Translated(mesh::MakeTestCube(20.0f), {5, 7, 3})), 1,
            "Nothing was changed: Repair mends none of what is wrong with this part.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RepairJobResult result = RepairInputMeshJob(Bounded(c.part));
        ASSERT_EQ(result.outcome, MeshJobOutcome::unchanged);
        EXPECT_FALSE(result.crossings.known);
        EXPECT_EQ(result.crossings.before != 0, c.crossing != 0);
        const RepairInformation information =
            RepairUnchangedText(result.report, result.crossings, NamesSomethingWrong(result.validation));
        EXPECT_EQ(information.text.substr(0, std::string(c.text).size()), c.text) << information.text;
        if (c.crossing != 0) {
            EXPECT_EQ(information.text.substr(information.text.size() - 49), "through others: Repair does not move the surface.");
        }
    }
}

// A Repair that mends something away from the crossings leaves them for the check to meet as
// they came: its rounds are not run to forecast them (a printer base: 13.8 ms of repair in a
// command of 1,117 ms).
TEST(MeshJobs, RepairThatLeavesTheCrossingsAsTheyCameDoesNotForecastTheCheck)
{
    TriangleMesh holed = mesh::MakeTestSphere(10.0f);
    holed.indices.resize(holed.indices.size() - 3);  // a small triangle at the north pole missing
    const TriangleMesh other = test::Translated(mesh::MakeTestSphere(10.0f), {12.3f, 0.7f, 0.4f});
    const RepairJobResult result = RepairInputMeshJob(Bounded(test::Combined(holed, other)));
    ASSERT_EQ(result.outcome, MeshJobOutcome::replaced);
    EXPECT_EQ(result.report.openEdgesAfter, 0u);
    EXPECT_NE(result.crossings.before, 0u);
    EXPECT_FALSE(result.crossings.known);
}

// Repair's rounds end when one changes nothing; a bound that stops them earlier is said, and the
// edges left then are not called edges no split could part (a motor's first Repair said so of
// one edge its round limit left, which a second Repair then parted).
TEST(MeshJobs, RepairStoppedByItsRoundLimitSaysSo)
{
    const struct {
        bool limit;
        std::uint64_t left;
        const char* tail;
        int kind;
    } cases[] = {
        {false, 1, "\n1 non-manifold edge is left, which no split could part.", 1},
        {true, 1, "\nRepair stopped after 48 rounds that each still changed the part; Repair again goes on from there.", 1},
        {true, 0, "\nRepair stopped after 48 rounds that each still changed the part; Repair again goes on from there.", 1},
        {false, 0, "", 0},
    };
    for (const auto& c : cases) {
        mesh::RepairForPrintReport r;
        r.repaired = true;
        r.rounds = c.limit ? mesh::kMostRepairRounds : 3;
        r.roundLimitReached = c.limit;
        r.bodiesBefore = r.bodiesAfter = 13;
        r.nonManifoldEdgesBefore = 168;
        r.nonManifoldEdgesAfter = c.left;
        const std::string head = "Repaired: open edges 0 to 0, non-manifold edges 168 to " + std::to_string(c.left)
            + ", bodies 13 to 13.";
        const RepairInformation information = RepairInformationText(r, 0);
        EXPECT_EQ(information.text, head + c.tail);
        EXPECT_EQ(information.kind, c.kind) << c.tail;
    }
}

TEST(MeshJobs, Texts)
{
    EXPECT_EQ(SimplifyStartLine(1234567, 0.01f),
        "Simplify Input Mesh: 1,234,567 triangles at detail level 0.01. Esc stops it.");
    EXPECT_EQ(RemeshStartLine(12, 0.2f), "Remesh Input Mesh: 12 triangles at 0.2 mm. Esc stops it.");
    EXPECT_EQ(SimplifyQuestion(1200, 0.1f),
        "Simplify the loaded part?\n\nIt has 1,200 triangles. Its whole surface is simplified at detail level "
        "Medium (0.1), the level set in Simplify Settings; the face on the bed stays as it is.\n\nThe simplified "
        "part replaces the part as loaded; open the file again to get the original back.");
    EXPECT_NE(SimplifyQuestion(10, 0.3f).find("detail level 0.3, the level"), std::string::npos);

    mesh::RepairForPrintReport r;
    r.openEdgesBefore = 10;
    r.openEdgesAfter = 6;
    r.nonManifoldEdgesBefore = 3;
    r.nonManifoldEdgesAfter = 1;
    r.bodiesBefore = 2;
    r.bodiesAfter = 1;
    r.holesLeftOpen = 1;
    r.largestOpenHoleMillimetres = 12.25f;
    const RepairInformation left = RepairInformationText(r, 5);
    EXPECT_EQ(left.text,
        "Repaired: open edges 10 to 6, non-manifold edges 3 to 1, bodies 2 to 1.\n6 open edges are left: 1 hole "
        "up to 12.2 mm across, too large to close by guessing.\n1 non-manifold edge is left, which no split could "
        "part.\n5 triangles pass through others: Repair does not move the surface.\nThe part "
        "has 1 body fewer: bodies were joined where they met; check that no piece is missing.");
    EXPECT_EQ(left.kind, 1);
    // Each hole left is named under its own reason, with the largest size of its kind: only the
    // holes too large and too wide are called too large.
    r.largestNonManifoldHoleMillimetres = 0.0049f;
    r.largestCrossingHoleMillimetres = 0.75f;
    const struct {
        std::uint64_t sheets, holes, nonManifold, crossing, unclosed;
        const char* line;
    } sheetCases[] = {
        {1, 1, 0, 0, 0, "1 hole round a sheet, which closing would lay onto itself, enclosing nothing.\n"},
        {1, 3, 0, 0, 0, "2 holes up to 12.2 mm across, too large to close by guessing; 1 hole round a sheet, which "
                        "closing would lay onto itself, enclosing nothing.\n"},
        {0, 4, 1, 2, 1, "1 hole up to 0.0049 mm across that a fill would close only by making edges non-manifold; 2 "
                        "holes up to 0.75 mm across that a fill would close only by passing through the surface; 1 run "
                        "of open edges closing no loop.\n"},
    };
    for (const auto& c : sheetCases) {
        r.sheetHolesLeftOpen = c.sheets;
        r.holesLeftOpen = c.holes;
        r.nonManifoldHolesLeftOpen = c.nonManifold;
        r.crossingHolesLeftOpen = c.crossing;
        r.unclosedBoundaries = c.unclosed;
        EXPECT_NE(RepairInformationText(r, 0).text.find(std::string("6 open edges are left: ") + c.line), std::string::npos)
            << c.line;
    }
    r.openEdgesAfter = 0;
    r.nonManifoldEdgesAfter = 0;
    // A body fewer is no plain success, whatever the edges.
    const RepairInformation fewer = RepairInformationText(r, 0);
    EXPECT_EQ(fewer.text, "Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 1.\nThe part has 1 "
                          "body fewer: bodies were joined where they met; check that no piece is missing.");
    EXPECT_EQ(fewer.kind, 1);
    r.bodiesRemoved = 1;
    EXPECT_NE(RepairInformationText(r, 0).text.find("1 small stray body was removed"), std::string::npos);
    r.bodiesAfter = 2;
    const RepairInformation clean = RepairInformationText(r, 0);
    EXPECT_EQ(clean.text, "Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 2.\n1 stray crumb "
                          "too small to print was removed.");
    EXPECT_EQ(clean.kind, 1);
    r.bodiesRemoved = 0;
    EXPECT_EQ(RepairInformationText(r, 0).text, "Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 2.");
    EXPECT_EQ(RepairInformationText(r, 0).kind, 0);
    // A removal is said with its size and place even when a split kept the body count.
    mesh::CrumbRecord crumb;
    crumb.boxMin = {1.0f, 2.0f, 3.0f};
    crumb.boxMax = {1.5f, 2.25f, 3.125f};
    crumb.triangleCount = 12;
    crumb.volume = 0.015625;
    mesh::CrumbRecord smaller = crumb;
    smaller.boxMax = {1.125f, 2.125f, 3.125f};
    smaller.volume = 0.001953125;
    const struct {
        std::vector<mesh::CrumbRecord> removed;
        const char* line;
    } removalCases[] = {
        {{crumb}, "\n1 stray crumb too small to print was removed: 0.50 x 0.25 x 0.12 mm at (1.25, 2.12, 3.06), "
                  "0.016 mm3."},
        {{smaller, crumb}, "\n2 stray crumbs too small to print were removed, the largest 0.50 x 0.25 x 0.12 mm at "
                           "(1.25, 2.12, 3.06), 0.016 mm3."},
    };
    for (const auto& c : removalCases) {
        r.bodiesRemoved = c.removed.size();
        r.removedBodies = c.removed;
        const RepairInformation removed = RepairInformationText(r, 0);
        EXPECT_EQ(removed.text, std::string("Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 2.")
                + c.line);
        EXPECT_EQ(removed.kind, 1);
    }
    r.bodiesRemoved = 0;
    r.removedBodies.clear();
    // Fault pinned: a repair that cut a body's volume by a sixth said "Repaired" in green. A
    // change past the check's rule is said with its size and place, as a warning.
    const struct {
        mesh::TriangleMesh before, after;
        const char* line;
    } changeCases[] = {
        {mesh::MakeTestCube(10.0f), mesh::MakeTestCube(10.0f), ""},
        {test::MakeBox({0, 0, 0}, {10, 10, 12}), test::MakeBox({0, 0, 0}, {10, 10, 10}),
            "\nRepair changed the part more than the fixes may: the fixes changed a body's volume by 16.7% (1200.00 to "
            "1000.00 mm3), the body 10.00 x 10.00 x 12.00 mm at (5.00, 5.00, 6.00); the fixes moved a side of a body by "
            "2.00 mm along z, 16.7% of its 12.00 mm there. Check the part, or undo the repair."},
    };
    for (const auto& c : changeCases) {
        r.change = mesh::MeasureFixChange(c.before, c.after);
        const RepairInformation changed = RepairInformationText(r, 0);
        EXPECT_EQ(changed.text, std::string("Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 2.")
                + c.line);
        EXPECT_EQ(changed.kind, *c.line == '\0' ? 0 : 1) << c.line;
    }
    r.change = {};
    // A repair that changed nothing because it could not choose says why, as a warning; one
    // that mended the rest says both.
    r.pairsLeft = 2;
    const RepairInformation unchosen = RepairInformationText(r, 0);
    EXPECT_EQ(unchosen.text, "Repair: 2 facets are written in both windings on a sheet that encloses nothing, so "
                             "neither copy can be kept as its outside. The part is as it was.");
    EXPECT_EQ(unchosen.kind, 1);
    r.repaired = true;
    const RepairInformation both = RepairInformationText(r, 0);
    EXPECT_EQ(both.text, "Repaired: open edges 10 to 0, non-manifold edges 3 to 0, bodies 2 to 2.\n2 facets are "
                         "written in both windings on a sheet that encloses nothing, so neither copy can be kept as its "
                         "outside; they are left as they are.");
    EXPECT_EQ(both.kind, 1);
}

// The line on crossings says what the Save STL check does with them only as its forecast
// measured it, on the same count, and names what stays for what it is (CheckCountsTest follows
// it). It once promised that Save STL mends them all, also where the check parted none.
// A repair after which the check leaves more crossing triangles than it leaves of the part as
// given (a 310-facet bed: 4 saved directly, 16 after Repair) was told in a green box, as if
// Repair had done no harm: both counts are said, in amber.
TEST(MeshJobs, CrossingsLineSaysWhatTheCheckDoes)
{
    const auto forecast = [](std::uint64_t before, std::uint64_t left, std::uint64_t within) {
        return mesh::CheckCrossingForecast{true, before, left, within};
    };
    const std::string head = "Repaired: open edges 0 to 0, non-manifold edges 0 to 0, bodies 1 to 1.\n";
    const struct {
        std::uint64_t crossing;
        mesh::CheckCrossingForecast forecast;
        const char* line;
        mesh::CheckCrossingForecast asGiven = {};
        int kind = 0;
    } cases[] = {
        {1, forecast(1, 0, 0), ", and Save STL's check parts it."},
        {12, forecast(12, 6, 2), ", and Save STL's check parts 6 of them. Of the 6 that stay, 4 lie where bodies "
            "overlap or touch, which a slicer fills as one solid, and 2 pass through their own body, which the slicer "
            "must resolve."},
        // Nothing is promised of a forecast that could not count, or counted other triangles.
        {5, mesh::CheckCrossingForecast{}, "."},
        {5, forecast(4, 0, 0), "."},
        {16, forecast(16, 16, 5), ", and Save STL's check does not part them either. Of the 16 that stay, 11 lie where "
            "bodies overlap or touch, which a slicer fills as one solid, and 5 pass through their own body, which the "
            "slicer must resolve.\nSave STL's check leaves 16 triangles passing through others in the repaired part, "
            "where it leaves 4 in the part as it was: undo the repair to save it with fewer.",
            forecast(9, 4, 4), 1},
        // As many or fewer than the part as given would keep, or a count of the part as given not
        // known, is no harm to tell of.
        {12, forecast(12, 6, 6), ", and Save STL's check parts 6 of them. The 6 that stay pass through their own "
            "body, which the slicer must resolve.", forecast(9, 6, 6), 0},
        {12, forecast(12, 6, 6), ", and Save STL's check parts 6 of them. The 6 that stay pass through their own "
            "body, which the slicer must resolve.", mesh::CheckCrossingForecast{false, 9, 2, 2}, 0},
    };
    mesh::RepairForPrintReport r;
    r.repaired = true;
    r.bodiesBefore = r.bodiesAfter = 1;
    for (const auto& c : cases) {
        const RepairInformation information = RepairInformationText(r, c.crossing, &c.forecast, &c.asGiven);
        EXPECT_EQ(information.text, head + mesh::FormatCountOf(c.crossing, "triangle passes", "triangles pass")
                + " through others: Repair does not move the surface" + c.line);
        EXPECT_EQ(information.kind, c.kind) << c.line;
    }
}

// A forecast past its crossing limit is not run, so Repair of a bed crossing itself thousands of
// times does not wait the minute a save's check takes (zav beds: 35-80 s); it promises nothing.
TEST(MeshJobs, ForecastRunsOnlyWithinItsCrossingLimit)
{
    const TriangleMesh cube = Bounded(mesh::MakeTestCube(10.0f));
    const struct {
        std::uint64_t before;
        bool known;
    } cases[] = {{0, true}, {mesh::kForecastCrossingLimit + 1, false}};
    for (const auto& c : cases) {
        const mesh::CheckCrossingForecast f = mesh::ForecastCheckCrossings(cube, c.before, {});
        EXPECT_EQ(f.known, c.known) << c.before;
        EXPECT_EQ(f.before, c.before);
    }
}

}  // namespace
}  // namespace grainforge::app
