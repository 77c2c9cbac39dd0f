#include "engine/pipeline/pipeline_report_text.h"

#include "engine/repair/repair_driver.h"
#include "engine/pipeline/printability_check.h"

#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <string>
#include <tuple>

namespace grainforge::mesh {
namespace {

// A sampling whose figures hang together the way the pipeline fills them: 0.2 mm edges over a
// 100 mm wide texture.
SamplingReport MeasuredSampling(float pixelsPerEdge)
{
    SamplingReport s;
    s.measured = true;
    s.triangleSize = 0.2f;
    s.millimetresPerPixel = 0.2f / pixelsPerEdge;
    s.pixelsPerEdge = pixelsPerEdge;
    s.finestDetail = 0.4f;
    s.advisedWidth = 100.0f * pixelsPerEdge * 0.5f;
    s.advisedTriangleSize = 2.0f * s.millimetresPerPixel;
    return s;
}

PrintabilityReport CheckedPrintability(std::size_t featuresInAir, std::size_t farReaches, std::size_t airPlaces)
{
    PrintabilityReport p;
    p.checked = true;
    p.layers = 50;
    p.cellsPerLayer = 400;
    p.cellSize = 0.1f;
    p.milliseconds = 7.2;
    p.featuresInAir.resize(featuresInAir);
    p.farReaches.resize(farReaches);
    p.airPlaces.resize(airPlaces);
    return p;
}

constexpr const char* kHead = "Pipeline: 12 source triangles\n";
constexpr const char* kStagesOff = "  stages: Remesh 0 ms; Mask 0 ms; Displacement 0 ms; Simplify 0 ms; Cleanup 3 ms;";

// With every stage off only the source, the stage times and the result are written, plus the
// checks that ran.
TEST(FormatPipelineReport, ShapeWithEveryStageOff)
{
    PipelineReport plain;
    plain.sourceTriangles = 12;
    plain.resultTriangles = 12;
    plain.cleanupMilliseconds = 3.4;

    PipelineReport cancelled = plain;
    cancelled.stopped = 1;

    PipelineReport checked = plain;
    checked.validated = true;
    checked.checkMilliseconds = 5.5;
    checked.printability = CheckedPrintability(0, 0, 0);

    PipelineReport walled = checked;
    walled.walls.measured = true;
    walled.walls.milliseconds = 2.0;

    // A part holding a hollow and an insert: each is named, and the insert as made one solid
    // with the body round it only where the remesh contoured.
    PipelineReport nested = plain;
    nested.nestedBodies = {{NestedBodyRole::hollow, {-1, -1, -1}, {1, 1, 1}, 8.0},
        {NestedBodyRole::insert, {4, 4, 4}, {6, 6, 6}, 8.0}};
    PipelineReport contoured = nested;
    contoured.remeshed = 1;
    contoured.remeshReport.contour = true;
    const std::string insert = "  1 body inside another is kept solid, as an insert: the 2.00 x 2.00 "
                               "x 2.00 mm body at (5.00, 5.00, 5.00) mm, 8.00 cubic mm";
    const std::string hollow = "  1 body inside another is kept as a hollow: the 2.00 x 2.00 x 2.00 "
                               "mm body at (0.00, 0.00, 0.00) mm, 8.00 cubic mm.\n";

    const struct {
        const char* name;
        const PipelineReport& report;
        std::string expected;
    } rows[] = {
        {"plain", plain, std::string(kHead) + kStagesOff + "\n  result: 12 triangles"},
        {"cancelled", cancelled, std::string(kHead) + kStagesOff + "\n  result: 12 triangles (cancelled)"},
        {"checked", checked,
            std::string(kHead) + kStagesOff + " Check 6 ms; Print check 7 ms;\n  result: 12 triangles\n"
                + FormatPrintabilityReport(checked.printability)},
        // The walls line ends with its own line break, so the printability block follows directly.
        {"walls", walled,
            std::string(kHead) + kStagesOff + " Check 6 ms; Print check 7 ms; Walls 2 ms;\n  result: 12 triangles\n"
                + FormatWallsLine(walled.walls) + FormatPrintabilityReport(walled.printability)},
        {"nested bodies", nested, std::string(kHead) + kStagesOff + "\n" + insert + ".\n" + hollow + "  result: 12 triangles"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FormatPipelineReport(row.report), row.expected) << row.name;
    const std::string text = FormatPipelineReport(contoured);
    EXPECT_NE(text.find(insert + "; the remesh made one solid of it and the body round it.\n" + hollow), std::string::npos)
        << text;
}

// Each stage's part in order, with the words of the stage's own formatter.
TEST(FormatPipelineReport, EveryStagePartInOrder)
{
    PipelineReport r;
    r.sourceTriangles = 100;
    r.remeshedTriangles = 400;
    r.resultTriangles = 380;
    r.remeshed = 1;
    r.stageMilliseconds = {.remesh = 12.4, .faces = 3.6, .displacement = 40.0, .simplify = 9.5};
    r.cleanupMilliseconds = 1.0;
    r.remeshReport.splits = 7;
    r.remeshReport.collapses = 5;
    r.remeshReport.flips = 3;
    r.remeshReport.featureEdges = 2;
    r.remeshReport.stageTimes = {{"split", 4.4}, {"flip", 1.6}};
    r.resultWeights.vertexWeights = {1.0f, 0.5f, 0.0f};
    r.resultWeights.cornerWeights = {1.0f, 0.5f, 0.0f};
    r.resultWeights.faceTextured = {1};
    r.sampling = MeasuredSampling(3.0f);
    r.displacementReport.vertexCount = 3;
    r.displacementReport.displacedVertices = 2;
    r.flatSimplifyRan = 1;
    r.meshSimplifyRan = 1;
    r.cleanupReport.verticesMerged = 4;
    r.validated = true;
    r.checkMilliseconds = 2.0;
    r.walls.measured = true;
    r.printability = CheckedPrintability(1, 0, 0);
    r.printabilityBeforeRelief = true;
    r.beforeRelief = CheckedPrintability(0, 0, 0);

    const std::string expected = std::string("Pipeline: 100 source triangles\n")
        + "  stages: Remesh 12 ms; Mask 4 ms; Displacement 40 ms; Simplify 10 ms; Cleanup 1 ms; Check 2 ms;"
          " Print check 7 ms; Walls 0 ms;\n"
        + "  remesh: 100 -> 400 triangles in 12 ms\n"
        + "    7 splits, 5 collapses, 3 flips, 2 feature edges\n"
        + "    split: 4 ms\n"
        + "    flip: 2 ms\n"
        + "  mask: " + FormatTextureWeights(r.resultWeights) + "\n"
        + "  sampling: " + FormatSamplingReport(r.sampling) + "\n"
        + "  displacement: " + FormatDisplacementReport(r.displacementReport) + "\n"
        + "  simplify: " + FormatFlatSimplifyReport(r.flatSimplifyReport) + "\n"
        + "  " + FormatMeshSimplifyReport(r.meshSimplifyReport) + "\n"
        + "  cleanup: " + FormatExportCleanupReport(r.cleanupReport) + "\n"
        + "  result: 380 triangles\n"
        + FormatWallsLine(r.walls)
        + FormatPrintabilityReport(r.printability)
        + "  before this displacement: 0 features in the air, 0 layers past the warning distance"
          " - the relief made the difference\n";
    EXPECT_EQ(FormatPipelineReport(r), expected);

    // The displacement's text ends with its own line break when vertices were held for walls;
    // the log shows no empty line for it.
    r.displacementReport.heldForWalls = 3;
    EXPECT_EQ(FormatPipelineReport(r).find("\n\n"), std::string::npos);

    // A solid displacement that ran takes the displacement's place.
    r.solidReport.ok = true;
    const std::string solid = FormatPipelineReport(r);
    EXPECT_NE(solid.find("  " + FormatSolidDisplacementReport(r.solidReport) + "\n"), std::string::npos);
    EXPECT_EQ(solid.find("  displacement: "), std::string::npos);
}

// The pipeline sets `stopped` on every false stage, failures and refusals included; only the
// user's stop may read as a cancel.
TEST(FormatPipelineReport, FailureIsNotWordedAsACancel)
{
    PipelineReport remeshFailed;
    remeshFailed.stopped = 1;
    remeshFailed.remeshed = 1;
    remeshFailed.remeshReport.failed = true;
    remeshFailed.remeshReport.failure = RemeshFailure::contourIncomplete;

    PipelineReport contourHoles;
    contourHoles.stopped = 1;
    contourHoles.solidReport.contourHoles = true;
    contourHoles.solidReport.cellsContoured = 99;

    PipelineReport refused;
    refused.stopped = 1;
    refused.refused = 1;
    refused.refusedTriangles = 25000000;

    PipelineReport tooLarge;
    tooLarge.stopped = 1;
    tooLarge.solidReport.tooLarge = true;
    tooLarge.message = "The part is too large for this triangle size.";

    const struct {
        const char* name;
        const PipelineReport& report;
        std::string line;      // written
        std::string notLine;   // not written
    } rows[] = {
        {"remesh failed", remeshFailed, "  " + FormatRemeshReport(remeshFailed.remeshReport) + "\n", "  remesh: "},
        {"contour holes", contourHoles, "  " + std::string(kContourHolesText) + "\n", "Solid displacement: "},
        {"refused", refused,
            "  remesh REFUSED: About 25,000,000 triangles, which is over the limit. Nothing was changed; a larger "
            "triangle size or a higher triangle limit lets it run.\n",
            "  remesh: "},
        {"too large", tooLarge, "  The part is too large for this triangle size.\n", "Solid displacement: "},
    };
    for (const auto& row : rows) {
        const std::string text = FormatPipelineReport(row.report);
        EXPECT_NE(text.find(row.line), std::string::npos) << row.name << "\n" << text;
        EXPECT_EQ(text.find(row.notLine), std::string::npos) << row.name << "\n" << text;
        EXPECT_EQ(text.find("(cancelled)"), std::string::npos) << row.name << "\n" << text;
    }

    // A pipeline that also leaves the contour-holes text as its failure text prints it once.
    contourHoles.message = kContourHolesText;
    const std::string text = FormatPipelineReport(contourHoles);
    EXPECT_EQ(text.find(kContourHolesText), text.rfind(kContourHolesText));
}

// Counts go into "feature(s)" and "layer(s)" as they are; the relief made the difference only
// when the part was clear before it and is not after it, and an unchecked before-report says
// nothing.
TEST(FormatPipelineReport, BeforeReliefLine)
{
    const struct {
        const char* name;
        bool beforeChecked;
        std::size_t beforeInAir, beforeFar, beforeAirPlaces;
        std::size_t afterInAir;
        std::string expected;  // empty: no line
    } rows[] = {
        {"one and two", true, 1, 2, 0, 1,
            "  before this displacement: 1 feature in the air, 2 layers past the warning distance\n"},
        // The information box tells the places the part had before apart, so the log gives them.
        {"air place before", true, 0, 0, 1, 1,
            "  before this displacement: 0 features in the air, 0 layers past the warning distance, 1 place laid in "
            "the air\n"},
        {"relief made it", true, 0, 0, 0, 1,
            "  before this displacement: 0 features in the air, 0 layers past the warning distance"
            " - the relief made the difference\n"},
        {"clear both times", true, 0, 0, 0, 0,
            "  before this displacement: 0 features in the air, 0 layers past the warning distance\n"},
        {"before unchecked", false, 0, 0, 0, 1, ""},
    };
    for (const auto& row : rows) {
        PipelineReport r;
        r.printability = CheckedPrintability(row.afterInAir, 0, 0);
        r.printabilityBeforeRelief = true;
        r.beforeRelief = CheckedPrintability(row.beforeInAir, row.beforeFar, row.beforeAirPlaces);
        r.beforeRelief.checked = row.beforeChecked;
        const std::string text = FormatPipelineReport(r);
        const std::string printability = FormatPrintabilityReport(r.printability);
        const std::size_t at = text.find(printability);
        ASSERT_NE(at, std::string::npos) << row.name;
        EXPECT_EQ(text.substr(at + printability.size()), row.expected) << row.name;
    }
}

// The verdict bands close at 2, 4 and 10 pixels per edge, each bound inside its band.
// A smaller triangle size is advised only where the triangles could be smaller: not where the
// part's own size already set the finest.
TEST(FormatSurfaceLossText, AdvisesASmallerTriangleOnlyWhereItHelps)
{
    SurfaceDistanceReport d;
    std::tie(d.measured, d.largest, d.allowed, d.triangleSize, d.added) = std::tuple(true, 3.0f, 1.0f, 0.5f, 2.0f);
    const struct {
        bool finest;
        bool advised;
    } cases[] = {{false, true}, {true, false}};
    for (const auto& c : cases) {
        // A run's relief judged by its own cell, whatever the remesh before it (none here).
        PipelineReport run;
        run.reliefDistance = d;
        run.reliefDistance.finest = c.finest;
        // Every refusal or warning that could advise a smaller triangle size, raised cell or not.
        for (const std::string& text : {FormatSurfaceLossText(d, false, c.finest), FormatRunSurfaceLoss(run),
                 FormatLostSurfaceNote(false, c.finest), FormatLostSurfaceNote(true, c.finest),
                 FormatLostMostText(0.3, 2.5f, 0.5f, c.finest), FormatNoSurfaceText(0.4f, 0.5f, c.finest)}) {
            EXPECT_EQ(text.find("smaller triangle size keeps") != std::string::npos
                    || text.find("a triangle size well below") != std::string::npos,
                c.advised)
                << text;
            EXPECT_EQ(text.find("already the finest this part's size allows") != std::string::npos, !c.advised)
                << text;
        }
    }
}

TEST(FormatSamplingReport, VerdictBands)
{
    const struct {
        float pixelsPerEdge;
        const char* verdict;
    } rows[] = {
        {2.0f, "the mesh carries this map at full detail"},
        {2.01f, "the mesh carries most of this map"},
        {4.0f, "the mesh carries most of this map"},
        {4.01f, "the finest grain of this map is being lost"},
        {10.0f, "the finest grain of this map is being lost"},
        {10.01f, "most of this map is too fine for these triangles"},
    };
    for (const auto& row : rows) {
        const std::string text = FormatSamplingReport(MeasuredSampling(row.pixelsPerEdge));
        EXPECT_NE(text.find(std::string(" pixels per edge) - ") + row.verdict + "\n"), std::string::npos)
            << row.pixelsPerEdge << "\n" << text;
    }
}

TEST(FormatSamplingReport, WholeText)
{
    const std::string head = "triangles 0.200 mm, texture 0.100 mm/pixel (2.0 pixels per edge) - the mesh carries "
                             "this map at full detail\n  nothing finer than 0.40 mm can appear";
    SamplingReport s = MeasuredSampling(2.0f);
    EXPECT_EQ(FormatSamplingReport(s), head);
    s.filterMillimetres = 0.25f;
    EXPECT_EQ(FormatSamplingReport(s), head + "; map filtered to 0.250 mm as asked");
    s.filterRaised = true;
    EXPECT_EQ(FormatSamplingReport(s), head + "; map filtered to 0.250 mm to stop it aliasing into noise");
    EXPECT_EQ(FormatSamplingReport(MeasuredSampling(5.0f)),
        "triangles 0.200 mm, texture 0.040 mm/pixel (5.0 pixels per edge) - the finest grain of this map is being "
        "lost\n  nothing finer than 0.40 mm can appear\n  To carry it fully: spread the texture to about 250.0 mm "
        "wide, or ask for triangles of about 0.080 mm.");
}

// A NaN or a zero in the figures must not be printed as a verdict on "nan" pixels per edge.
TEST(FormatSamplingReport, UnusableFiguresReadAsNotMeasured)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const struct {
        const char* name;
        float triangleSize, millimetresPerPixel, pixelsPerEdge;
    } rows[] = {
        {"NaN pixels per edge", 0.2f, 0.1f, nan},
        {"infinite pixels per edge", 0.2f, 0.0f, infinity},
        {"zero texture pixel", 0.2f, 0.0f, 2.0f},
        {"NaN triangle size", nan, 0.1f, 2.0f},
    };
    for (const auto& row : rows) {
        PipelineReport r;
        r.sampling = MeasuredSampling(2.0f);
        r.sampling.triangleSize = row.triangleSize;
        r.sampling.millimetresPerPixel = row.millimetresPerPixel;
        r.sampling.pixelsPerEdge = row.pixelsPerEdge;
        EXPECT_EQ(FormatSamplingReport(r.sampling), "sampling: not measured") << row.name;
        EXPECT_EQ(FormatSamplingAdvice(r.sampling), "") << row.name;
        EXPECT_EQ(FormatPipelineReport(r).find("sampling"), std::string::npos) << row.name;
    }
}

TEST(FormatSamplingAdvice, GivenOnlyAboveFourPixelsPerEdge)
{
    EXPECT_EQ(FormatSamplingAdvice(MeasuredSampling(4.0f)), "");
    EXPECT_EQ(FormatSamplingAdvice(MeasuredSampling(4.01f)),
        "To carry it fully: spread the texture to about 200.5 mm wide, or ask for triangles of about 0.100 mm.");
    SamplingReport unmeasured = MeasuredSampling(8.0f);
    unmeasured.measured = false;
    EXPECT_EQ(FormatSamplingAdvice(unmeasured), "");
}

// The runs of four digits or more in a text that are not the decimals of a fraction: a count
// written without its thousands separators ("288990" rather than "288,990").
std::vector<std::string> UngroupedCounts(const std::string& text)
{
    std::vector<std::string> found;
    for (std::size_t i = 0; i < text.size();) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end - i >= 4 && (i == 0 || text[i - 1] != '.'))
            found.push_back(text.substr(i, end - i));
        i = end;
    }
    return found;
}

// Every count the run's reports log is grouped by thousands, as the rest of the log's are: the
// remesh, simplify, cleanup, printability and repair lines once wrote "288990" and "1433796".
TEST(ReportCounts, EveryLoggedCountIsGroupedByThousands)
{
    PipelineReport r;
    r.sourceTriangles = 288990;
    r.remeshedTriangles = 1433796;
    r.resultTriangles = 278273;
    r.remeshed = 1;
    r.remeshReport.splits = 12345;
    r.remeshReport.collapses = 23456;
    r.remeshReport.flips = 34567;
    r.flatSimplifyRan = 1;
    r.flatSimplifyReport.trianglesBefore = 1433796;
    r.flatSimplifyReport.trianglesAfter = 288990;
    r.flatSimplifyReport.planarRegions = 1200;
    r.flatSimplifyReport.sweeps = 3;
    r.meshSimplifyRan = 1;
    r.meshSimplifyReport.trianglesBefore = 1433796;
    r.meshSimplifyReport.trianglesAfter = 278273;
    r.meshSimplifyReport.refusedPinch = 1500;
    r.meshSimplifyReport.refusedTip = 2500;
    r.meshSimplifyReport.verticesHeldOnBed = 4000;
    r.cleanupReport.verticesMerged = 10000;
    r.cleanupReport.collapsedTrianglesDropped = 20000;
    r.printabilityBeforeRelief = 1;
    r.beforeRelief = CheckedPrintability(0, 0, 0);
    r.beforeRelief.layers = 1200;
    r.beforeRelief.cellsPerLayer = 40000;
    PrintabilityReport printability = CheckedPrintability(1200, 0, 1500);
    printability.layers = 2000;
    printability.cellsPerLayer = 160000;
    printability.supportTriangles.resize(4500);
    const RepairReport repair{.unfoldChecked = true, .foldedTriangles = 5000, .foldedTrianglesLeft = 1000,
                              .sharpPlacesKept = 8000, .unfoldRounds = 3, .resolveChecked = true,
                              .selfIntersectingTriangles = 7000, .selfIntersectingTrianglesLeft = 2000,
                              .resolveRounds = 4};
    const std::pair<const char*, std::string> texts[] = {
        {"pipeline", FormatPipelineReport(r)},
        {"printability", FormatPrintabilityReport(printability)},
        {"repair", FormatRepairDetails(repair)},
        {"folds", FormatReliefFoldsLeft(12345)},
    };
    for (const auto& [name, text] : texts) {
        EXPECT_TRUE(UngroupedCounts(text).empty()) << name << ": " << UngroupedCounts(text).front() << "\n" << text;
        EXPECT_NE(text.find(","), std::string::npos) << name;
    }
    EXPECT_NE(FormatPipelineReport(r).find("288,990 -> 1,433,796"), std::string::npos);
    EXPECT_EQ(FormatReliefFoldsLeft(1), "The relief left 1 triangle folded over.");
}

// A run that textured no face says what its result is, measured at the precision it is read:
// the part (its box reads the same), or the remeshed part with both sizes.
TEST(FormatResultWithoutRelief, SaysTheSizesOnlyWhenTheyReadDifferently)
{
    const std::string plain = "The result is the part without relief.";
    const struct {
        const char* what;
        bool measured;
        Vec3 before, after;
        std::string expected;
    } cases[] = {
        {"not measured (no remesh ran)", false, {30, 30, 0.4f}, {30.07f, 30.06f, 0.4f}, plain},
        {"the same box", true, {30, 30, 0.4f}, {30, 30, 0.4f}, plain},
        {"a drift below the hundredths", true, {30, 30, 0.4f}, {30.004f, 29.996f, 0.4f}, plain},
        {"a thin plate grown by a remesh", true, {30, 30, 0.4f}, {30.07f, 30.06f, 0.4f},
            "The result is the part remeshed without relief, 30.07 x 30.06 x 0.40 mm where the part is "
            "30.00 x 30.00 x 0.40 mm."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PartChangeReport change;
        change.measured = c.measured;
        change.sizeBefore = c.before;
        change.sizeAfter = c.after;
        EXPECT_EQ(FormatResultWithoutRelief(change), c.expected);
        TextureFigures none;
        none.faces = 100;
        PipelineSettings settings;
        EXPECT_TRUE(FormatTextureMissed(none, settings, change).ends_with(" " + c.expected));
    }
}

}  // namespace
}  // namespace grainforge::mesh

namespace grainforge::mesh {
namespace {

TEST(FormatTextureHeldBack, SaidFromANoticeableShareWithItsPlace)
{
    DisplacementReport r;
    r.heldBackPlace = {12.34f, -4.5f, 6.0f};
    r.heldBackPlaceShare = 0.45f;
    const struct {
        std::uint64_t textured, held;
        const char* text;
    } rows[] = {
        {0, 0, ""},
        {1000, 49, ""},
        {1000, 50, "The relief's guards kept 5% of the textured surface under half its depth, so that it would not "
                   "fold, cross itself or close a gap; the largest share of it (45%) lies round 12.3, -4.5, 6.0 mm."},
        {1000, 310, "The relief's guards kept 31% of the textured surface under half its depth, so that it would not "
                    "fold, cross itself or close a gap; the largest share of it (45%) lies round 12.3, -4.5, 6.0 mm."},
    };
    for (const auto& row : rows) {
        r.texturedVertices = row.textured;
        r.heldBackVertices = row.held;
        EXPECT_EQ(FormatTextureHeldBack(r), row.text) << row.held << " of " << row.textured;
    }
}

}  // namespace
}  // namespace grainforge::mesh
