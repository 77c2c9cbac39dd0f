#include "app/document/document_reports.h"

#include "app/document/grainforge_doc.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/printability_check.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace grainforge::app {
namespace {

using mesh::Vec3;

mesh::TriangleMesh CubeOnTheBed(float edge)
{
    mesh::TriangleMesh cube = mesh::MakeTestCube(edge);
    cube.ComputeBounds();
    const float lift = -cube.boundsMin.z;
    for (mesh::MeshVertex& vertex : cube.vertices)
        vertex.position.z += lift;
    cube.ComputeBounds();
    return cube;
}

mesh::TriangleMesh Flipped(mesh::TriangleMesh m)
{
    for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3)
        std::swap(m.indices[t + 1], m.indices[t + 2]);
    return m;
}

std::size_t Count(const std::string& text, const std::string& piece)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// ---- Before saving ----

TEST(BeforeSaving, CleanCubePassesEveryLine)
{
    std::string text;
    const mesh::BaseProtection baseOff;
    EXPECT_TRUE(BeforeSavingReport(CubeOnTheBed(20.0f), baseOff, text));
    EXPECT_EQ(text,
        "Before saving:\r\n"
        "  ok      0 open edges (watertight when zero)\r\n"
        "  ok      0 non-manifold edges\r\n"
        "  ok      0 triangles with no area\r\n"
        "  ok      0 triangles wound the wrong way\r\n"
        "  ok      0 duplicate triangles\r\n"
        "  ok      0 closed bodies without volume (sheets, not solids)\r\n"
        "  ok      the body is the right way out\r\n"
        "  ok      0 triangles passing through others\r\n"
        "  -       base protection is off; nothing checked below the part\r\n"
        "  ok      nothing needs support\r\n");
}

TEST(BeforeSaving, HoledAndInsideOutCubesShowProblems)
{
    std::string text;
    const mesh::BaseProtection baseOff;
    EXPECT_FALSE(BeforeSavingReport(test::MakeOpenBox(), baseOff, text));
    EXPECT_NE(text.find("  PROBLEM 4 open edges (watertight when zero)\r\n"), std::string::npos) << text;
    EXPECT_EQ(Count(text, "  PROBLEM "), 1u) << text;

    EXPECT_FALSE(BeforeSavingReport(Flipped(CubeOnTheBed(20.0f)), baseOff, text));
    // The failed line says what is wrong: the headline quotes it as the problem.
    EXPECT_NE(text.find("  PROBLEM the body is inside out\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("right way out"), std::string::npos) << text;

    // A 1 mm cube 1e7 mm out, where a coordinate steps by 0.5 mm, is named as such, not a sheet.
    const mesh::TriangleMesh farCube = test::Combined(
        CubeOnTheBed(20.0f), test::Translated(mesh::MakeTestCube(1.0f), {7071068.0f, 7071068.0f, 0.5f}));
    EXPECT_FALSE(BeforeSavingReport(farCube, baseOff, text));
    EXPECT_NE(text.find("  PROBLEM 1 closed body too far out to tell a solid from a sheet\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(Count(text, "  PROBLEM "), 1u) << text;
}

TEST(BeforeSaving, BasePlaneLines)
{
    struct Case {
        float plane;
        bool protectBelow;
        const char* line;
        bool passed;
    };
    const Case cases[] = {
        {0.0f, true, "  ok      nothing below the base plane\r\n", true},
        {1.0f, true, "  PROBLEM 4 vertices below the base plane, the deepest by 1.0000 mm\r\n", false},
        {20.0f, false, "  ok      nothing below the base plane\r\n", true},
        {19.5f, false, "  PROBLEM 4 vertices below the base plane, the deepest by 0.5000 mm\r\n", false},
        {0.00005f, true, "  ok      nothing below the base plane\r\n", true},  // within the tolerance
    };
    for (const Case& c : cases) {
        mesh::BaseProtection base;
        base.enabled = true;
        base.axis = 2;
        base.protectBelow = c.protectBelow;
        base.planeMillimetres = c.plane;
        std::string text;
        EXPECT_EQ(BeforeSavingReport(CubeOnTheBed(20.0f), base, text), c.passed) << c.plane;
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        EXPECT_EQ(text.find("base protection is off"), std::string::npos);
    }
}

TEST(BeforeSaving, CheckLinesAndEmptyMesh)
{
    std::string text;
    bool all = true;
    AppendCheckLine(text, all, true, "fine");
    EXPECT_TRUE(all);
    AppendCheckLine(text, all, false, "broken");
    AppendCheckLine(text, all, true, "fine again");
    EXPECT_FALSE(all);
    EXPECT_EQ(text, "  ok      fine\r\n  PROBLEM broken\r\n  ok      fine again\r\n");

    // A mesh with a bad index is reported, not crashed on.
    mesh::TriangleMesh bad = mesh::MakeTestCube(10.0f);
    bad.indices[4] = 9999;
    EXPECT_FALSE(BeforeSavingReport(bad, mesh::BaseProtection{}, text));
    EXPECT_EQ(text, "Before saving:\r\n  PROBLEM the mesh has corners that name no vertex; nothing else was "
                    "checked\r\n");
    EXPECT_FALSE(BeforeSavingReport(mesh::TriangleMesh{}, mesh::BaseProtection{}, text));
    EXPECT_EQ(text, "Before saving:\r\n  PROBLEM the mesh has no triangles\r\n");
}

// The checklist's support lines agree with the check after a run: a place laid in the air is
// never passed as "nothing needs support".
TEST(BeforeSaving, SupportLinesAgreeWithTheRunCheck)
{
    struct Case {
        const char* name;
        mesh::TriangleMesh part;
        const char* line;
    };
    const Case cases[] = {
        {"cube", CubeOnTheBed(20.0f), "  ok      nothing needs support\r\n"},
        {"plate reaching 7 mm", test::Combined(test::MakeBox({0, 0, 0}, {10, 10, 10}), test::MakeBox({0, 0, 10}, {17, 10, 12})),
            "  note    1 place laid in the air: support needed (the first at "},
        {"plate above a gap", test::Combined(test::MakeBox({0, 0, 0}, {10, 10, 10}), test::MakeBox({0, 0, 12}, {10, 10, 14})),
            "  note    1 feature needs support: nothing beneath it (the first at "},
    };
    for (const Case& c : cases) {
        std::string text;
        (void)BeforeSavingReport(c.part, mesh::BaseProtection{}, text);
        EXPECT_NE(text.find(c.line), std::string::npos) << c.name << "\n" << text;
        const mesh::PrintabilityReport run = mesh::CheckPrintability(c.part, DocumentPrintability(2, false));
        const bool supportNeeded = !run.featuresInAir.empty() || !run.airPlaces.empty();
        EXPECT_EQ(text.find("nothing needs support") == std::string::npos, supportNeeded) << c.name;
    }
}

// ---- Notes after a run ----

// A run on a part holding an insert says among its warnings that the insert was kept solid (made
// one solid with the cube round it by a contouring remesh); a hollow kept is no warning.
TEST(ResultWarnings, AnInsertKeptSolidIsAWarningAndAHollowIsNot)
{
    const mesh::NestedBody hollow{mesh::NestedBodyRole::hollow, {-3, -3, -3}, {3, 3, 3}, 216.0};
    const mesh::NestedBody insert{mesh::NestedBodyRole::insert, {-1, -1, -1}, {1, 1, 1}, 8.0};
    const std::string kept = "1 body inside another is kept solid, as an insert: the 2.00 x 2.00 x "
                             "2.00 mm body at (0.00, 0.00, 0.00) mm, 8.00 cubic mm";
    const std::string advice = " A slicer prints it solid too; a hollow is written facing against the body round it.";
    const struct {
        const char* name;
        std::vector<mesh::NestedBody> bodies;
        bool contoured;
        std::string text;
    } cases[] = {
        {"no nested body", {}, true, ""},
        {"a hollow", {hollow}, true, ""},
        {"an insert", {insert}, false, kept + "." + advice},
        {"an insert contoured", {hollow, insert}, true, kept + "; the remesh made one solid of it and the body round it." + advice},
    };
    for (const auto& c : cases) {
        mesh::PipelineReport report;
        report.nestedBodies = c.bodies;
        report.remeshed = c.contoured ? 1 : 0;
        report.remeshReport.contour = c.contoured;
        EXPECT_EQ(ResultWarningText(report, mesh::PipelineSettings{}), c.text) << c.name;
    }
}

// Whatever a run removed is said among its warnings, by cause, with the largest body's size and
// place: the match of body counts before and after must not hide it.
TEST(ResultWarnings, BodiesARunRemovedAreSaidWithTheLargestsSizeAndPlace)
{
    const mesh::CrumbRecord crumb{{1, 1, 1}, {1.1f, 1.1f, 1.1f}, 12, 0.001};
    const mesh::CrumbRecord voidPiece{{2, 2, 2}, {2.2f, 2.2f, 2.2f}, 30, -0.008};
    const mesh::CrumbRecord thin{{10, 0, 0}, {10.3f, 5, 5}, 40, 0.0};
    const mesh::CrumbRecord sliver{{1, 0, 0}, {6.5f, 2.5f, 1.0f}, 200, 1.55975, 30.0};
    // 3 x 0.5 / 2 = 0.75 mm thick and above a cube of the line.
    const mesh::CrumbRecord lump{{0, 0, 0}, {1.5f, 2.5f, 1.0f}, 80, 0.5, 2.0};
    const std::string crumbSaid = "0.10 x 0.10 x 0.10 mm at (1.05, 1.05, 1.05), 0.001 mm3";
    const struct {
        const char* name;
        bool contoured;
        std::vector<mesh::CrumbRecord> remeshed;
        bool solid;
        std::vector<mesh::CrumbRecord> voids, crumbs, thinBodies;
        std::uint64_t ofThePart;
        std::string text;
    } cases[] = {
        {"nothing removed", true, {}, true, {}, {}, {}, 0, ""},
        {"a crumb the remesh set loose", true, {crumb}, false, {}, {}, {}, 0,
            "The remesh removed 1 crumb it set loose beside the part, too small to print: " + crumbSaid + "."},
        // A void the relief took off is a hollow it filled, named apart from the loose pieces.
        {"a void and a crumb the relief set loose", false, {}, true, {voidPiece}, {crumb}, {}, 0,
            "The relief removed 1 piece it set loose beside the part, under a cube of one 0.42 mm line: " + crumbSaid
                + ".\nThe relief filled 1 hollow it left inside the part, under a cube of one 0.42 mm line: 0.20 x "
                  "0.20 x 0.20 mm at (2.10, 2.10, 2.10), 0.008 mm3."},
        // 21 times a cube of the line, but 3 x 1.56 / 30 = 0.16 mm thick: named as thin, not as
        // under the cube, each group with the figures of its own largest.
        {"a sliver and a crumb the relief set loose", false, {}, true, {}, {crumb, sliver}, {}, 0,
            "The relief removed 1 piece it set loose beside the part, under a cube of one 0.42 mm line: " + crumbSaid
                + ".\nThe relief removed 1 piece it set loose beside the part, thinner than one 0.42 mm line: 5.50 x "
                  "2.50 x 1.00 mm at (3.75, 1.25, 0.50), 1.56 mm3."},
        {"a remesh crumb neither under the cube nor thin", true, {crumb, lump, sliver}, false, {}, {}, {}, 0,
            "The remesh removed 1 crumb it set loose beside the part, too small to print: " + crumbSaid
                + ".\nThe remesh removed 1 crumb it set loose beside the part, thinner than one 0.42 mm line: 5.50 x "
                  "2.50 x 1.00 mm at (3.75, 1.25, 0.50), 1.56 mm3.\nThe remesh removed 1 crumb it set loose beside "
                  "the part, under a hundredth of the body it broke from: 1.50 x 2.50 x 1.00 mm at (0.75, 1.25, "
                  "0.50), 0.50 mm3."},
        {"a relief that failed says nothing of its pieces", false, {}, false, {voidPiece}, {crumb}, {thin}, 0, ""},
        {"a thin body of the part, with the remesh's crumb", true, {crumb}, true, {}, {}, {thin}, 1,
            "The remesh removed 1 crumb it set loose beside the part, too small to print: " + crumbSaid
                + ".\nThe relief removed 1 body thinner than one 0.42 mm line, 1 piece of the part among them: 0.30 x "
                  "5.00 x 5.00 mm at (10.15, 2.50, 2.50)."},
    };
    for (const auto& c : cases) {
        mesh::PipelineReport report;
        report.remeshed = 1;
        report.remeshReport.contour = c.contoured;
        report.remeshReport.strayBodies = c.remeshed;
        report.remeshReport.strayBodiesRemoved = c.remeshed.size();
        report.solidReport.ok = c.solid;
        report.solidReport.lineWidth = 0.42f;
        report.solidReport.voids = c.voids;
        report.solidReport.crumbs = c.crumbs;
        report.solidReport.thinBodies = c.thinBodies;
        report.solidReport.inputPiecesRemoved = c.ofThePart;
        EXPECT_EQ(ResultWarningText(report, mesh::PipelineSettings{}), c.text) << c.name;
    }
}

TEST(ReliefNotes, SmallPartThresholds)
{
    struct Case {
        float size;
        float relief;
        bool warned;
    };
    const Case cases[] = {{15.0f, 1.0f, true}, {100.0f, 10.0f, true}, {100.0f, 5.0f, false},
        {19.9f, 0.1f, true}, {20.0f, 0.1f, false}, {100.0f, 0.0f, false}};
    for (const Case& c : cases) {
        mesh::PipelineReport report;
        report.solidReport.ok = true;
        report.displacementReport.relief = c.relief;
        // The middle size decides: one side far larger, one far smaller.
        const ReliefNotes notes = ReliefReportText(report, Vec3{1000.0f, c.size, 1.0f}, 0.42f);
        EXPECT_EQ(notes.showInformation, c.warned) << c.size << " " << c.relief;
        EXPECT_EQ(notes.logLines.size(), c.warned ? 1u : 0u);
    }

    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.displacementReport.relief = 1.0f;
    const ReliefNotes notes = ReliefReportText(report, Vec3{15.0f, 15.0f, 15.0f}, 0.42f);
    const std::string expected =
        "This part is small for a relief: 15.0 mm across, with 1.00 mm of relief (7% of its size) and room for "
        "about 36 printed lines across it. The pattern is likely to print as a rough blob rather than a texture. "
        "A shallower relief, a larger tile, or the part printed larger reads better.";
    ASSERT_EQ(notes.logLines.size(), 1u);
    EXPECT_EQ(notes.logLines[0].text, expected);
    EXPECT_EQ(notes.logLines[0].level, 3);
    EXPECT_EQ(notes.informationText, expected);
    EXPECT_EQ(notes.informationKind, 1);
}

TEST(ReliefNotes, RemovedPiecesAndHeldHeights)
{
    struct Case {
        std::uint64_t pieces;
        const char* line;
        std::uint64_t ofThePart = 0;  // pieces of the input among them: never called the relief's
        std::uint64_t hollows = 0;    // hollows filled among them: counted apart, as the warnings count them
        const char* hollowLine = "";
    };
    const Case cases[] = {
        {1, "Removed 1 small piece the relief made that is too small or too thin to print (under one 0.42 mm line)."},
        {2, "Removed 2 small pieces the relief made that are too small or too thin to print (under one 0.42 mm line)."},
        {1234, "Removed 1,234 small pieces the relief made that are too small or too thin to print (under one 0.42 mm line)."},
        {1, "Removed 1 small piece of the part that is too small or too thin to print after the relief (under one "
            "0.42 mm line).", 1},
        // 23 taken off, 3 of them hollows: the log counts 20 pieces and 3 hollows, as the box does.
        {23, "Removed 20 small pieces the relief made that are too small or too thin to print (under one 0.42 mm line).",
            0, 3, "Filled 3 small hollows the relief left inside the part that are too small or too thin to print "
                  "(under one 0.42 mm line)."},
    };
    for (const Case& c : cases) {
        mesh::PipelineReport report;
        report.solidReport.ok = true;
        report.solidReport.piecesRemoved = c.pieces;
        report.solidReport.inputPiecesRemoved = c.ofThePart;
        report.solidReport.voidsRemoved = c.hollows;
        report.solidReport.lineWidth = 0.42f;
        report.solidReport.heightsHeld = 5000;
        const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
        ASSERT_EQ(notes.logLines.size(), c.hollows != 0 ? 3u : 2u);
        EXPECT_EQ(notes.logLines[0].text, "The relief was held back at 5,000 points to keep slots and walls open.");
        EXPECT_EQ(notes.logLines[1].text, c.line);
        EXPECT_EQ(notes.logLines[1].level, 0);
        if (c.hollows != 0) {
            EXPECT_EQ(notes.logLines[2].text, c.hollowLine);
        }
        EXPECT_FALSE(notes.showInformation);
    }
}

TEST(ReliefNotes, HeldVerticesWhenTheVertexMethodMadeTheMesh)
{
    mesh::PipelineReport report;
    report.solidReport.ok = false;
    report.displacementReport.heldForWalls = 1500;
    report.solidReport.heightsHeld = 99;  // not the solid's run: not reported
    const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    EXPECT_TRUE(notes.logLines.empty());
    ASSERT_TRUE(notes.showInformation);
    EXPECT_EQ(notes.informationText,
        "1,500 vertices were not displaced inward, to keep the wall under them above 0.42 mm.");
}

// The folds the vertex relief left, counted on the checked result, are said in the box and the
// log: the run once called such a result good without a word.
// The solid relief's folds and a run's without relief (a remesh's) were never said at all.
// Folds the remesh made before a relief moved its result were blamed on the relief.
TEST(ReliefNotes, FoldsTheVertexReliefLeftAreSaid)
{
    const struct {
        const char* name;
        bool vertex;
        bool solid;
        std::uint64_t folds;
        std::uint64_t beforeRelief;
        const char* said;
    } cases[] = {
        {"vertex relief", true, false, 27, 0, "The relief left 27 triangles folded over. There the relief turned a "
            "triangle over, or folded it onto a neighbour, and the fold guard could not ease it back."},
        {"solid relief", false, true, 15, 0, "The relief left 15 triangles folded over. There two neighbouring "
            "triangles face more than 120 degrees apart, the surface folded back over itself where the part had no "
            "such edge."},
        {"no relief", false, false, 1, 0, "Processing left 1 triangle folded over. There two neighbouring triangles "
            "face more than 120 degrees apart, the surface folded back over itself where the part had no such edge."},
        {"vertex relief on a remesh that folded", true, false, 27, 27, "Processing left 27 triangles folded over. "
            "There two neighbouring triangles face more than 120 degrees apart, the surface folded back over itself "
            "where the part had no such edge."},
        {"vertex relief adding to a remesh's folds", true, false, 27, 4, "Processing left 27 triangles folded over. "
            "There two neighbouring triangles face more than 120 degrees apart, the surface folded back over itself "
            "where the part had no such edge."},
        {"solid relief on a remesh that folded", false, true, 15, 15, "Processing left 15 triangles folded over. "
            "There two neighbouring triangles face more than 120 degrees apart, the surface folded back over itself "
            "where the part had no such edge."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mesh::PipelineReport report;
        report.validated = true;
        report.displacementReport.vertexCount = c.vertex ? 1000 : 0;
        report.solidReport.ok = c.solid;
        report.foldedTriangles = c.folds;
        report.foldedBeforeRelief = c.beforeRelief;
        const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
        ASSERT_TRUE(notes.showInformation);
        EXPECT_EQ(notes.informationText, c.said);
        ASSERT_EQ(notes.logLines.size(), 1u);
        EXPECT_EQ(notes.logLines[0].text, c.said);
    }
}

TEST(ReliefNotes, SupportOnlyForWhatTheReliefAdded)
{
    mesh::PrintFinding finding;
    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.printability.checked = true;
    report.printability.featuresInAir = {finding, finding};
    report.printabilityBeforeRelief = true;
    report.beforeRelief.featuresInAir = {finding, finding};
    EXPECT_FALSE(ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f).showInformation);

    report.beforeRelief.featuresInAir.clear();
    report.printability.farReaches = {finding};
    report.displacementReport.relief = 10.0f;  // also too deep for a 50 mm part
    const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    ASSERT_TRUE(notes.showInformation);
    EXPECT_EQ(notes.informationKind, 1);
    const std::string head =
        "The relief needs support.\n2 features have nothing beneath them.\n1 layer reaches more than 6 mm past "
        "the layer below.\nEnable support in the slicer, or move the texture or displace less and Process again. "
        "Mesh > Check Printability shows where.\n\nThis part is small for a relief: 50.0 mm across";
    EXPECT_EQ(notes.informationText.rfind(head, 0), 0u) << notes.informationText;
}

// A region the relief laid over nothing is support the part needs, even with no feature in the
// air and no far reach (a small-brick relief on a cube): the warning counts the places.
TEST(ReliefNotes, PlacesLaidInTheAirThatTheReliefMade)
{
    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.printability.checked = true;
    report.printability.airPlaces.assign(148, mesh::PrintFinding{});
    report.printabilityBeforeRelief = true;
    report.beforeRelief.checked = true;
    const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    ASSERT_TRUE(notes.showInformation);
    EXPECT_EQ(notes.informationKind, 1);
    EXPECT_EQ(notes.informationText,
        "The relief needs support.\n148 places are laid in the air.\nEnable support in the slicer, or move the "
        "texture or displace less and Process again. Mesh > Check Printability shows where.");

    report.beforeRelief.airPlaces.assign(148, mesh::PrintFinding{});  // the part had them already
    EXPECT_FALSE(ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f).showInformation);
}

// The box gives the figures the log gives: the result's own counts, the part's before the relief
// said apart; it once said "35 places are laid in the air" where the log said 36.
TEST(ReliefNotes, SupportCountsAreTheLogsCounts)
{
    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.printability = {};
    report.printability.checked = true;
    report.printability.airPlaces.assign(36, mesh::PrintFinding{});
    report.printability.farReaches.assign(3, mesh::PrintFinding{});
    report.printabilityBeforeRelief = true;
    report.beforeRelief.checked = true;
    report.beforeRelief.airPlaces.assign(1, mesh::PrintFinding{});
    report.beforeRelief.farReaches.assign(2, mesh::PrintFinding{});
    const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    ASSERT_TRUE(notes.showInformation);
    const std::string log = mesh::FormatPrintabilityReport(report.printability) + mesh::FormatBeforeReliefLine(report);
    const struct {
        const char* box;
        const char* log;
    } rows[] = {
        {"\n36 places are laid in the air, 1 of them before the relief.\n", "36 places are laid in the air"},
        {"\n36 places are laid in the air, 1 of them before the relief.\n", ", 1 place laid in the air"},
        {"\n3 layers reach more than 6 mm past the layer below, 2 of them before the relief.\n",
            "3 layers reach far past the layer below"},
        {"\n3 layers reach more than 6 mm past the layer below, 2 of them before the relief.\n",
            "2 layers past the warning distance"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(notes.informationText.find(row.box), std::string::npos) << notes.informationText;
        EXPECT_NE(log.find(row.log), std::string::npos) << log;
    }
}

// A result the check calls "Unsuitable" says why in the box and the log; a far relief once left
// edges shared by three triangles and the box said nothing of them.
TEST(ReliefNotes, WhatMakesTheResultUnsuitableIsNamed)
{
    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.validated = true;
    report.validation.verdict = mesh::Verdict::Unsuitable;
    report.validation.edgeCounts.nonManifold = 4;
    report.validation.problems = {"4 edges are shared by more than two triangles.", "2 edges are open."};
    const std::string told = "The result is unsuitable for printing: 4 edges are shared by more than two triangles.";
    const ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    ASSERT_TRUE(notes.showInformation);
    EXPECT_EQ(notes.informationText, told);
    ASSERT_EQ(notes.logLines.size(), 1u);
    EXPECT_EQ(notes.logLines[0].text, told);

    report.validation.verdict = mesh::Verdict::UsableWithCare;
    EXPECT_FALSE(ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f).showInformation);
}

// Crossings the check found in the result are told in the log and the information box, after
// the other notes; a run that was not checked, or found none, says nothing of them.
TEST(ReliefNotes, TrianglesPassingThroughOthers)
{
    const std::string told = "1,234 triangles of the result pass through others, where the relief folded or met "
                             "itself. Save STL's \"Fix self-intersections\" resolves them when the file is written, "
                             "and its report says if any are left.";
    mesh::PipelineReport report;
    report.solidReport.ok = true;
    report.validated = true;
    report.validation.selfIntersectingTriangleCount = 1234;
    ReliefNotes notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    ASSERT_EQ(notes.logLines.size(), 1u);
    EXPECT_EQ(notes.logLines[0].text, told);
    EXPECT_EQ(notes.logLines[0].level, 3);
    EXPECT_TRUE(notes.showInformation);
    EXPECT_EQ(notes.informationText, told);

    report.displacementReport.relief = 10.0f;  // too deep for a 50 mm part: that note comes first
    notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
    EXPECT_EQ(notes.informationText.rfind("This part is small for a relief", 0), 0u);
    EXPECT_EQ(notes.informationText.substr(notes.informationText.size() - told.size() - 2), "\n\n" + told);

    for (const bool validated : {false, true}) {
        report = {};
        report.solidReport.ok = true;
        report.validated = validated;
        report.validation.selfIntersectingTriangleCount = validated ? 0 : 5;
        notes = ReliefReportText(report, Vec3{50.0f, 50.0f, 50.0f}, 0.42f);
        EXPECT_FALSE(notes.showInformation);
        EXPECT_TRUE(notes.logLines.empty());
    }
}

// ---- Mesh information ----

struct InformationFixture {
    mesh::TriangleMesh cube = CubeOnTheBed(20.0f);
    mesh::ValidationReport validation;
    MeshInformationInputs inputs;

    InformationFixture()
    {
        validation = mesh::ValidateMesh(cube, mesh::ValidationOptions{});
        inputs.hasPart = true;
        inputs.displayMesh = &cube;
        inputs.validation = &validation;
        inputs.measurements = MeasureMesh(cube);
        inputs.partSourcePath = "/parts/block.stl";
        inputs.fileFormat = mesh::StlFormat::Binary;
        inputs.bodies = 1;
    }
};

TEST(MeshInformation, NoPart)
{
    MeshInformationInputs inputs;
    EXPECT_EQ(MeshInformationReport(inputs), "No mesh loaded.\r\n\r\nUse File > Open STL to load one.");
}

TEST(MeshInformation, SectionsOfAPlainCube)
{
    InformationFixture f;
    const std::string text = MeshInformationReport(f.inputs);
    const std::string expected =
        "Verdict\r\n  " + mesh::VerdictHeadline(f.validation) + "\r\n\r\n"
        "Part\r\n  block.stl\r\n  20.00 x 20.00 x 20.00 mm\r\n  12 triangles\r\n\r\n"
        "Details\r\n-------\r\n"
        "File and counts\r\n  Format: Binary STL\r\n  Vertices: 8\r\n  Bodies: 1\r\n\r\n"
        "Bounding box (mm)\r\n  Min: -10.000, -10.000, 0.000\r\n  Max: 10.000, 10.000, 20.000\r\n"
        "  Centre: 0.000, 0.000, 10.000\r\n\r\n"
        "Measurements\r\n  Volume: 8000.000 mm\u00b3\r\n  Surface area: 2400.000 mm\u00b2\r\n\r\n"
        "Texture placement\r\n  All sides\r\n  Origin: 0.00, 0.00 mm\r\n  Rotation: 0.0 deg\r\n  Zoom: 1.00\r\n\r\n"
        "Topology\r\n  Open boundary edges: 0\r\n  Non-manifold edges: 0\r\n  Edges shared twice: 18\r\n"
        "  The mesh is closed.\r\n";
    EXPECT_EQ(text, expected);
}

// A made test shape has no file format: the report names the shape. A box whose corners sit a
// hair below zero shows 0.000, never -0.000.
TEST(MeshInformation, TestShapeFormatAndNoSignedZeros)
{
    InformationFixture f;
    f.inputs.testShapeName = "cube";
    f.inputs.fileFormat = mesh::StlFormat::Unrecognised;
    for (mesh::MeshVertex& v : f.cube.vertices)
        v.position.z -= 0.0002f;
    f.cube.ComputeBounds();
    f.cube.boundsMin.x = -0.0f;
    const std::string text = MeshInformationReport(f.inputs);
    EXPECT_NE(text.find("  Format: Test shape (cube)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Min: 0.000, -10.000, 0.000\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("-0.0"), std::string::npos) << text;
}

TEST(MeshInformation, OptionalSectionsInTheirPlaces)
{
    InformationFixture f;
    mesh::OccupancyGrid grid;
    grid.cells.assign(8, 0);
    grid.resolution = 256;
    grid.cellSize = 0.25f;
    grid.buildMilliseconds = 12.0;
    mesh::SurfaceClassReport classes;
    classes.outerArea = 300.0;
    classes.innerArea = 100.0;
    classes.triangles = 12;
    classes.milliseconds = 3.0;
    f.inputs.surfaceGrid = &grid;
    f.inputs.surfaceClasses = &classes;
    f.inputs.detailedLog = true;
    f.inputs.hasProceduralTexture = true;
    f.inputs.proceduralDescription = "Voronoi: Cells 10";
    f.inputs.renderedWidth = 512;
    f.inputs.renderedHeight = 256;
    mesh::MaskVolume off;
    off.enabled = 0;
    f.inputs.masks = {mesh::MaskVolume{}, off, off};
    f.inputs.bedHeight = -1.649f;  // a scan whose file puts its lowest point below zero
    f.inputs.projection.activeLayer = 3;
    f.inputs.projection.layers[3].zoom = 2.0f;
    f.inputs.sampling.measured = true;
    f.inputs.sampling.triangleSize = 0.2f;
    f.inputs.sampling.millimetresPerPixel = 0.1f;
    f.inputs.sampling.pixelsPerEdge = 2.0f;
    f.inputs.sampling.finestDetail = 0.4f;
    f.inputs.importWarnings = {"3 duplicate triangles were removed."};

    const std::string text = MeshInformationReport(f.inputs);
    const std::vector<std::string> inOrder = {"Part\r\n", "Texture detail\r\n  Triangles: 0.200 mm, texture 0.1000 "
        "mm/pixel\r\n  Sampling: 2.0 image pixels per edge\r\n  the mesh carries this map at full detail\r\n  Nothing "
        "finer than 0.40 mm can appear on the surface.\r\n\r\nDetails\r\n-------\r\n",
        "Surfaces (part as loaded)\r\n  outer 75.0%, inner 25.0% of the area\r\n  grid 256 cells of 0.25 mm, built in "
        "12 ms\r\n  12 marches in 3 ms\r\n\r\n",
        "File and counts\r\n", "Measurements\r\n",
        "Procedural texture\r\n  Voronoi: Cells 10\r\n  Rendered 512 x 256 pixels, seamless by construction\r\n\r\n",
        "Texture placement\r\n  Side -Y\r\n  Origin: 0.00, 0.00 mm\r\n  Rotation: 0.0 deg\r\n  Zoom: 2.00\r\n\r\n",
        "Mask volumes\r\n  3 (2 off), keeping the texture off what they cover\r\n  Their Z is measured up from "
        "the bed, which is z = -1.649 in the bounding box\r\n\r\n", "Topology\r\n",
        "  The mesh is closed.\r\n\r\nImport warnings\r\n  3 duplicate triangles were removed.\r\n"};
    std::size_t at = 0;
    for (const std::string& piece : inOrder) {
        const std::size_t found = text.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << "\n---\n" << text;
        at = found + piece.size();
    }
    EXPECT_EQ(at, text.size());
}

TEST(MeshInformation, WrappingSidesEndThePlacementBlock)
{
    InformationFixture f;
    f.inputs.projection.type = mesh::ProjectionKind::Sphere;
    f.inputs.projection.sphereWholeTiles = 1;
    f.inputs.textureSettings.rotationDegrees = 30.0f;  // turned off its width and height
    std::string text = MeshInformationReport(f.inputs);
    EXPECT_NE(text.find("  Zoom: 1.00\r\n  Round the equator: not fitted, the image is turned off its width and "
                        "height\r\n\r\nTopology"),
        std::string::npos)
        << text;

    f.inputs.projection.type = mesh::ProjectionKind::Cylinder;
    f.inputs.textureSettings.rotationDegrees = 0.0f;
    text = MeshInformationReport(f.inputs);
    const std::size_t line = text.find("  Round the wall: ");
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_NE(text.find(" whole tile", line), std::string::npos);
    EXPECT_NE(text.find(" mm round, set ", line), std::string::npos);
    EXPECT_EQ(text.find("\r\n\r\nTopology", line), text.find("\r\n", line));
}

// The placement block names what is placed: a plane has no sides, and shows the layer it reads.
TEST(MeshInformation, PlacementLabelFollowsTheMapping)
{
    struct Case {
        mesh::ProjectionKind kind;
        int active;
        std::string block;
    };
    const Case cases[] = {
        {mesh::ProjectionKind::Box, -1, "Texture placement\r\n  All sides\r\n  Origin: 1.00, 0.00 mm"},
        {mesh::ProjectionKind::Box, 4,
            "Texture placement\r\n  Side " + std::string(mesh::BoxSideName(4)) + "\r\n  Origin: 5.00, 0.00 mm"},
        {mesh::ProjectionKind::Plane, -1, "Texture placement\r\n  Plane projection\r\n  Origin: 5.00, 0.00 mm"},
        {mesh::ProjectionKind::Plane, 0, "Texture placement\r\n  Plane projection\r\n  Origin: 5.00, 0.00 mm"},
    };
    for (const Case& c : cases) {
        InformationFixture f;
        f.inputs.projection.type = c.kind;
        f.inputs.projection.activeLayer = c.active;
        f.inputs.projection.layers[0].originMillimetres[0] = 1.0f;
        f.inputs.projection.layers[4].originMillimetres[0] = 5.0f;
        const std::string text = MeshInformationReport(f.inputs);
        EXPECT_NE(text.find(c.block), std::string::npos) << text;
    }
}

TEST(MeshInformation, TextureDetailVerdictsAndFilter)
{
    const std::pair<float, const char*> cases[] = {{1.5f, "the mesh carries this map at full detail"},
        {2.0f, "the mesh carries this map at full detail"}, {3.0f, "the mesh carries most of this map"},
        {4.0f, "the mesh carries most of this map"}, {8.0f, "the finest grain of this map is being lost"},
        {10.0f, "the finest grain of this map is being lost"},
        {10.5f, "most of this map is too fine for these triangles"}};
    for (const auto& [pixels, verdict] : cases) {
        InformationFixture f;
        f.inputs.sampling.measured = true;
        f.inputs.sampling.triangleSize = 0.2f;
        f.inputs.sampling.millimetresPerPixel = 0.2f / pixels;
        f.inputs.sampling.pixelsPerEdge = pixels;
        f.inputs.sampling.finestDetail = 0.4f;
        const std::string text = MeshInformationReport(f.inputs);
        EXPECT_NE(text.find(std::string("\r\n  ") + verdict + "\r\n"), std::string::npos) << pixels;
    }
    InformationFixture f;
    f.inputs.sampling.measured = true;
    f.inputs.sampling.pixelsPerEdge = 1.0f;
    f.inputs.sampling.filterRaised = true;
    f.inputs.sampling.filterMillimetres = 0.125f;
    EXPECT_NE(MeshInformationReport(f.inputs).find(
                  "  The map is softened to 0.125 mm before it is read, so that\r\n  detail the triangles cannot carry "
                  "becomes smooth rather than\r\n  random. Without it the surface picks up noise, not grain.\r\n\r\n"
                  "Details\r\n"),
        std::string::npos);
}

}  // namespace
}  // namespace grainforge::app
