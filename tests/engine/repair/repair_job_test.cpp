#include "engine/repair/repair_job.h"

#include "engine/repair/crumb_removal.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/test_shapes.h"
#include "engine/repair/tidying.h"
#include "engine/mesh/welding.h"
#include "engine/repair/windows_repair.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::mesh {
namespace {

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// Stale caches (box, a normal) show whether the tidying recomputed anything.
TEST(RepairForPrint, CleanPartComesBackBitIdentical)
{
    TriangleMesh part = MakeTestCylinder(5, 30);
    part.boundsMin = {1, 2, 3};
    part.vertices[0].normal = {0, 0, 0};
    const TriangleMesh before = part;
    std::vector<std::string> phases;
    const RepairForPrintReport report = RepairForPrint(part, [&](const std::string& p) { phases.push_back(p); });
    EXPECT_EQ(std::tuple(report.repaired, report.rounds), std::tuple(false, 0));
    EXPECT_TRUE(test::Identical(part, before));
    EXPECT_EQ(FormatRepairSummary(report), "Repair: nothing needed changing.\n");
    EXPECT_EQ(phases.at(0), "Tidying the part");
}

TEST(WindowsRepair, ProbeSaysNoAndADirectCallFailsLeavingTheInput)
{
    EXPECT_FALSE(IsWindowsRepairAvailable());
    const TriangleMesh cube = MakeTestCube(20);
    const WindowsRepairResult result = RepairWithWindows(cube, nullptr);
    EXPECT_FALSE(result.succeeded || result.cancelled || !result.mesh.indices.empty());
    EXPECT_EQ(result.message, "The Windows 3D-printing repair service is not available on this system.");
}

TEST(RepairForPrint, TriangleSoupCubeIsWeldedIntoOneClosedBody)
{
    TriangleMesh soup = test::MakeCubeSoup(20);
    const RepairForPrintReport report = RepairForPrint(soup, {});
    EXPECT_EQ(soup.vertices.size(), 8u);
    EXPECT_TRUE(Contains(report.details, "  Vertices merged: 28\n"));
    EXPECT_EQ(FormatRepairSummary(report),
              "Repair:\n" + report.details
                  + "  triangles 12 to 12; open edges 36 to 0; non-manifold edges 0 to 0; bodies 12 to 1\n");
}

TEST(RepairForPrint, BoxesSharingAnEdgeAreSplitApart)
{
    // Once welded, the shared edge carries four triangles.
    TriangleMesh boxes = test::Combined(MakeTestCube(20), test::Translated(MakeTestCube(20), {20, 20, 0}));
    const RepairForPrintReport report = RepairForPrint(boxes, {});
    EXPECT_TRUE(report.rounds >= 1 && report.rounds <= 3);
    EXPECT_GT(report.verticesSplit, 0u);
    EXPECT_EQ(std::tuple(report.trianglesAfter, report.openEdgesAfter), std::tuple(24u, 0u));
    EXPECT_TRUE(Contains(report.details, "  non-manifold edges: 1, "));
    EXPECT_TRUE(Contains(report.details, "  read back as a slicer reads it: "));
    EXPECT_TRUE(boxes.IsConsistent());
}

// What Repair changed is measured as the check measures its fixes. Fault pinned: 1e6 mm out a
// split moves the shared corners a whole float step (0.0625 mm) into the cube parted off, which
// loses 1.04% of its volume, and Repair said nothing of it.
TEST(RepairForPrint, MeasuresWhatItChangedByTheChecksRule)
{
    const struct {
        const char* name;
        TriangleMesh part;
        bool measured;
        bool large;
        std::vector<std::string> lines;
        const char* moves;  // said in the summary: the furthest move either way
    } cases[] = {
        {"cubes sharing an edge", test::MakeWeldedCubePair({10, 10, 0}), true, false, {},
            "moved the surface at most 0.0012 mm, where the part is 10.00 mm thick\n"},
        {"cubes sharing an edge 1e6 mm out", test::Translated(test::MakeWeldedCubePair({10, 10, 0}), {1e6f, 1e6f, 1e6f}),
            true, true,
            {"the fixes changed a body's volume by 1.0% (1000.00 to 989.61 mm3), the body 10.00 x 10.00 x 10.00 mm at "
             "(1000015.00, 1000015.00, 1000005.00)"}, "moved the surface at most 0.062 mm"},
        // A copy of every face takes nothing away from what the part encloses.
        {"a cube written twice", test::Combined(MakeTestCube(10), MakeTestCube(10)), true, false, {}, ""},
        {"a clean cube", MakeTestCube(10), false, false, {}, ""},
    };
    for (const auto& c : cases) {
        TriangleMesh part = c.part;
        const RepairForPrintReport report = RepairForPrint(part, {});
        // Any corner moved is said in the summary, both ways, as the check says its own moves.
        const std::string summary = FormatRepairSummary(report);
        EXPECT_EQ(Contains(summary, "moved the surface at most "), *c.moves != '\0') << c.name << ": " << summary;
        EXPECT_TRUE(Contains(summary, c.moves)) << c.name << ": " << summary;
        EXPECT_EQ(report.change.measured, c.measured) << c.name;
        EXPECT_EQ(IsLargeFixChange(report.change), c.large) << c.name << ": " << FormatFixChange(report.change);
        EXPECT_EQ(FormatLargeFixChanges(report.change), c.lines) << c.name;
    }
}

TEST(RepairForPrint, SmallHoleIsFilledAndAFailedReadBackIsLoggedNotTakenForClean)
{
    // The hole makes round 1 change something; an infinite coordinate makes the reader refuse.
    for (const bool infinite : {false, true}) {
        TriangleMesh sphere = MakeTestSphere(10);
        sphere.indices.erase(sphere.indices.begin() + 3 * 4000, sphere.indices.begin() + 3 * 4001);
        sphere.vertices[100].position.y = infinite ? std::numeric_limits<float>::infinity() : sphere.vertices[100].position.y;
        const RepairForPrintReport report = RepairForPrint(sphere, {});
        EXPECT_EQ(std::tuple(report.repaired, report.openEdgesBefore, report.trianglesAfter - report.trianglesBefore),
                  std::tuple(true, 3u, 1u));
        EXPECT_EQ(Contains(report.details, "  read back as a slicer reads it: 0 over-shared edges, 0 open, 0 facets with "
                                           "no area\n"), !infinite) << report.details;
        EXPECT_EQ(Contains(report.details, "  could not be read back: The file contains a coordinate that is not a number "
                                           "(NaN or infinity).\n"), infinite);
    }
}

// A repair that would leave no triangle, or cannot tell which copy of a doubled facet is the
// outside, keeps the part as it was and says why rather than "Repair:" and a count down to 0.
TEST(RepairForPrint, RepairThatWouldEmptyThePartOrCannotChooseChangesNothing)
{
    const struct {
        const char* what;
        TriangleMesh part;
        const char* summary;
    } cases[] = {
        {"a sliver of no area alone", test::MeshOf({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {0, 1, 2}),
            "Repair: it would have removed every triangle of the part"},
        {"a lone double-sided sheet", test::MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {0, 1, 2, 1, 3, 2, 0, 2,
            1, 1, 2, 3}), "Repair: 2 facets are written in both windings on a sheet that encloses nothing"},
        {"a lone double-sided sheet beside a sound cube", test::Combined(MakeTestCube(20.0f), test::MeshOf({{30, 0, 0},
            {35, 0, 0}, {30, 5, 0}, {35, 5, 0}}, {0, 1, 2, 1, 3, 2, 0, 2, 1, 1, 2, 3})),
            "Repair: 2 facets are written in both windings on a sheet that encloses nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh part = c.part;
        const RepairForPrintReport report = RepairForPrint(part, {});
        EXPECT_FALSE(report.repaired);
        EXPECT_EQ(part.indices, c.part.indices);
        EXPECT_TRUE(Contains(FormatRepairSummary(report), c.summary)) << FormatRepairSummary(report);
        EXPECT_TRUE(Contains(FormatRepairSummary(report), "The part is as it was."));
    }
}

// A body inside another keeps the material it was written with: an insert facing outwards stays
// solid (it was once turned into a hollow, 28,000 to 26,000 cubic mm, without a word), a hollow
// stays a hollow, and only bodies facing where they can be no hollow are turned. The summary
// names what it kept, changed or not.
TEST(RepairForPrint, BodiesInsideBodiesKeepTheirMaterialAndAreNamed)
{
    const std::string insert = "  1 body inside another is kept solid, as an insert: the 10.00 x "
                               "10.00 x 10.00 mm body at (0.00, 0.00, 0.00) mm, 1000.00 cubic mm\n";
    const std::string hollow = "  1 body inside another is kept as a hollow: the 10.00 x 10.00 x "
                               "10.00 mm body at (0.00, 0.00, 0.00) mm, 1000.00 cubic mm\n";
    const TriangleMesh outer = MakeTestCube(30);
    const struct {
        const char* what;
        TriangleMesh part;
        bool repaired;
        double volume;
        std::string lines;  // the summary's end
    } cases[] = {
        {"an insert", test::Combined(outer, MakeTestCube(10)), false, 28000.0, insert},
        {"a hollow", test::Combined(outer, test::Flipped(MakeTestCube(10))), false, 26000.0, hollow},
        {"an island facing inwards in a hollow",
            test::Combined(test::Combined(outer, test::Flipped(MakeTestCube(10))), test::Flipped(MakeTestCube(2))), true,
            26008.0, "  Triangles reoriented: 12\n"},
        // Written inside out with its hollow: both are turned, and the hollow stays one.
        {"a part inside out holding a hollow", test::Flipped(test::Combined(outer, test::Flipped(MakeTestCube(10)))),
            true, 26000.0, "  Triangles reoriented: 24\n"},
        {"two inserts", test::Combined(test::Combined(outer, test::Translated(MakeTestCube(4), {-6, 0, 0})),
                            test::Translated(MakeTestCube(6), {6, 0, 0})),
            false, 27280.0,
            "  2 bodies inside others are kept solid, as inserts; the largest: the 6.00 x 6.00 x "
            "6.00 mm body at (6.00, 0.00, 0.00) mm, 216.00 cubic mm\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh part = c.part;
        const RepairForPrintReport report = RepairForPrint(part, {});
        const std::string summary = FormatRepairSummary(report);
        EXPECT_EQ(report.repaired, c.repaired) << summary;
        EXPECT_NEAR(part.Volume(), c.volume, 0.01) << summary;
        EXPECT_TRUE(Contains(summary, c.lines)) << summary;
        if (!c.repaired) {
            EXPECT_EQ(part.indices, c.part.indices);
            EXPECT_EQ(summary, "Repair: nothing needed changing.\n" + c.lines);
        } else {
            EXPECT_TRUE(Contains(summary, hollow)) << summary;
        }
    }
}

// The volume of every body a repair result holds, summed, and the volume of the bodies whose
// box lies within [low, high].
double BodiesVolume(const TriangleMesh& mesh, Vec3 low = {-1e30f, -1e30f, -1e30f}, Vec3 high = {1e30f, 1e30f, 1e30f})
{
    std::uint32_t count = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(mesh, count);
    double volume = 0.0;
    for (const CrumbRecord& body : MeasureBodies(mesh, bodyOf, count)) {
        const bool inside = body.boxMin.x >= low.x && body.boxMin.y >= low.y && body.boxMin.z >= low.z
            && body.boxMax.x <= high.x && body.boxMax.y <= high.y && body.boxMax.z <= high.z;
        volume += inside ? body.volume : 0.0;
    }
    return volume;
}

// A box of side `size` at `at` whose top is a grid of 2 x n x n triangles: many triangles for
// its size.
TriangleMesh FineBox(float size, Vec3 at) { return test::Translated(test::MakeGridTopBox(25, size), at); }

// Once a non-manifold edge is split, the bodies of the part stay however few triangles they
// have: a plate or block of 12 triangles beside thousands is no crumb. Only a real crumb goes,
// said with its size and place.
TEST(RepairForPrint, BodyOfFewTrianglesIsNoCrumbAfterASplit)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const struct {
        const char* what;
        TriangleMesh part;
        double volume;
        std::uint64_t bodiesRemoved;
        const char* says;
    } cases[] = {
        {"sphere, two 2 mm cubes on one edge, a 100 x 100 x 10 mm plate last",
            test::Combined(test::Combined(test::Combined(sphere, test::MakeBox({20, 0, 0}, {22, 2, 2})),
                               test::MakeBox({22, 2, 0}, {24, 4, 2})),
                test::MakeBox({40, 0, 0}, {140, 100, 10})),
            sphere.Volume() + 16.0 + 100000.0, 0, nullptr},
        {"two finely meshed 20 mm cubes on one edge, a 40 mm block of 12 triangles",
            test::Combined(test::Combined(FineBox(20, {0, 0, 0}), FineBox(20, {20, 20, 0})),
                test::MakeBox({60, 0, 0}, {100, 40, 40})),
            80000.0, 0, nullptr},
        {"a letter L: a finely meshed stroke and a foot of 12 triangles on its bottom edge",
            test::Combined(FineBox(10, {0, 0, 0}), test::MakeBox({10, 0, 0}, {30, 10, 5})), 2000.0, 0, nullptr},
        {"a 0.1 mm crumb beside the plate and the cubes",
            test::Combined(test::Combined(test::Combined(sphere, test::MakeBox({20, 0, 0}, {22, 2, 2})),
                               test::MakeBox({22, 2, 0}, {24, 4, 2})),
                test::MakeBox({-30, 0, 0}, {-29.9f, 0.1f, 0.1f})),
            sphere.Volume() + 16.0, 1, "stray crumbs: 1 small body removed (12 triangles; 0.10 x 0.10 x 0.10 mm at "
                                       "(-29.95, 0.05, 0.05), 0.001"},
        {"a 0.4 mm cube on an edge of a 2.5 mm tile holds 2.5% of it, however large the sphere far off",
            test::Combined(test::Combined(sphere, test::MakeBox({20, 0, 0}, {22.5f, 2.5f, 0.4f})),
                test::MakeBox({22.5f, 2.5f, 0}, {22.9f, 2.9f, 0.4f})),
            sphere.Volume() + 2.5 + 0.064, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Welded as the import welds a file, so that the bodies on one edge are one body.
        TriangleMesh part = c.part;
        WeldIdenticalVertices(part);
        const RepairForPrintReport report = RepairForPrint(part, {});
        EXPECT_TRUE(report.repaired);
        EXPECT_EQ(report.bodiesRemoved, c.bodiesRemoved);
        EXPECT_NEAR(BodiesVolume(part), c.volume, 1e-3 * c.volume) << FormatRepairSummary(report);
        EXPECT_EQ(report.nonManifoldEdgesAfter, 0u);
        EXPECT_GE(report.bodiesAfter + report.bodiesRemoved, report.bodiesBefore);
        if (c.says != nullptr) {
            EXPECT_TRUE(Contains(report.details, c.says)) << report.details;
        }
    }
}

// A body drawn with at least a hundredth of the largest body's triangles was drawn on purpose,
// whatever it touches: a 0.4 mm ball standing on a sphere's pole went as a crumb once it shared
// that corner, yet stayed 1 mm off. A crumb of a few triangles touching the sphere still goes.
TEST(RepairForPrint, FinelyDrawnBodyIsNoCrumbWhateverItTouches)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    // The small body's lowest corner put exactly onto the sphere's north pole, or `gap` above it.
    const auto standingOnPole = [&](TriangleMesh small, float gap) {
        float lowest = small.vertices[0].position.z;
        std::size_t foot = 0;
        for (std::size_t v = 0; v < small.vertices.size(); ++v)
            if (small.vertices[v].position.z < lowest) {
                lowest = small.vertices[v].position.z;
                foot = v;
            }
        const Vec3 at = small.vertices[foot].position;
        small = test::Translated(small, {-at.x, -at.y, 10.0f + gap - at.z});
        small.vertices[foot].position = {0.0f, 0.0f, 10.0f + gap};
        TriangleMesh part = test::Combined(sphere, small);
        WeldIdenticalVertices(part);
        return part;
    };
    const TriangleMesh ball = MakeTestSphere(0.2f);
    TriangleMesh crumb = test::MakeBox({0, 0, 0}, {0.1f, 0.1f, 0.1f});
    const struct {
        const char* what;
        TriangleMesh part;
        bool repaired;
        std::uint64_t bodiesRemoved;
        std::size_t trianglesAfter;
    } cases[] = {
        {"a 0.4 mm ball on the pole", standingOnPole(ball, 0.0f), false, 0, 2 * sphere.TriangleCount()},
        {"the same ball 1 mm off", standingOnPole(ball, 1.0f), false, 0, 2 * sphere.TriangleCount()},
        {"a 0.1 mm cube of 12 triangles on the pole", standingOnPole(crumb, 0.0f), true, 1, sphere.TriangleCount()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh part = c.part;
        const RepairForPrintReport report = RepairForPrint(part, {});
        EXPECT_EQ(std::tuple(report.repaired, report.bodiesRemoved, part.TriangleCount()),
                  std::tuple(c.repaired, c.bodiesRemoved, c.trianglesAfter))
            << FormatRepairSummary(report);
    }
}

// Each body's outside is decided once its holes are closed and its edges split, in the same run:
// bodies written inside out came back closed yet inside out under "Repaired", the turn counted
// against a winding the job later undid ("Triangles reoriented: 260" of a part whose 52 facets
// it turned). A hollow stays a hollow, and what one Repair gives back a second leaves exactly as
// it is (it once turned, split or removed what the first had left).
TEST(RepairForPrint, DecidesEachBodysOutsideOnceClosedAndASecondRunChangesNothing)
{
    const auto holed = [](TriangleMesh mesh) {
        mesh.indices.resize(mesh.indices.size() - 3);
        return mesh;
    };
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh cube = MakeTestCube(20.0f);
    const TriangleMesh cubeBeside = test::Translated(cube, {20, 20, 0});
    // Four facets of the second cube, not its first, wound against the rest: its outside.
    TriangleMesh cubesMostlyInsideOut = test::Combined(cube, test::Flipped(cubeBeside));
    for (const std::size_t t : {13, 14, 15, 16})
        std::swap(cubesMostlyInsideOut.indices[3 * t + 1], cubesMostlyInsideOut.indices[3 * t + 2]);
    const struct {
        const char* what;
        TriangleMesh part;
        double volume;
        const char* says;  // a line of the log, or null when none is asked
    } cases[] = {
        {"an inside-out sphere with a small hole", holed(test::Flipped(sphere)), sphere.Volume(),
            "  Triangles reoriented: 9,023\n"},
        {"an inside-out sphere with a small hole beside a Moebius strip",
            test::Combined(holed(test::Flipped(sphere)), test::Translated(test::MakeMoebiusStrip(), {100, 0, 0})),
            sphere.Volume(), "  Triangles reoriented: 9,023\n"},
        {"cubes on an edge, the second inside out", test::Combined(cube, test::Flipped(cubeBeside)), 16000.0,
            "  Triangles reoriented: 12\n"},
        {"cubes on an edge, the second inside out but for four facets", cubesMostlyInsideOut, 16000.0,
            "  Triangles reoriented: 8\n"},
        {"a cube written inside out round a hollow with a small hole",
            test::Flipped(test::Combined(cube, holed(test::Flipped(MakeTestSphere(3.0f))))),
            8000.0 - MakeTestSphere(3.0f).Volume(), "  1 body inside another is kept as a hollow"},
        {"a 0.4 mm cube on an edge of a 2.5 mm tile beside a sphere",
            test::Combined(test::Combined(sphere, test::MakeBox({20, 0, 0}, {22.5f, 2.5f, 0.4f})),
                test::MakeBox({22.5f, 2.5f, 0}, {22.9f, 2.9f, 0.4f})),
            sphere.Volume() + 2.5 + 0.064, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh part = c.part;
        WeldIdenticalVertices(part);
        const RepairForPrintReport report = RepairForPrint(part, {});
        const std::string summary = FormatRepairSummary(report);
        EXPECT_TRUE(report.repaired);
        const ValidationReport result = ValidateMesh(part, ValidationOptions{});
        if (result.orientable) {
            EXPECT_EQ(WrongWayTriangleCount(result), 0u) << summary;
        }
        // The bodies short of the strip, which encloses nothing.
        EXPECT_NEAR(BodiesVolume(part, {-1e30f, -1e30f, -1e30f}, {50, 1e30f, 1e30f}), c.volume, 1e-3 * c.volume) << summary;
        if (c.says != nullptr) {
            EXPECT_TRUE(Contains(summary, c.says)) << summary;
        }
        // The Moebius strip cannot be oriented: that fault is left, and said to be.
        EXPECT_EQ(report.faultLeft, !result.orientable) << summary;
        TriangleMesh again = part;
        const RepairForPrintReport second = RepairForPrint(again, {});
        EXPECT_FALSE(second.repaired) << FormatRepairSummary(second);
        EXPECT_TRUE(test::Identical(again, part));
    }
}

// One facet of a cube wound the wrong way, and apart from it a square written in both windings,
// which encloses nothing: the facet is turned, the square stays, and the summary says both.
TEST(RepairForPrint, UndecidableSheetIsLeftAndTheRestRepaired)
{
    TriangleMesh cube = MakeTestCube(20.0f);
    std::swap(cube.indices[4], cube.indices[5]);
    const TriangleMesh square = test::MeshOf({{30, 0, 0}, {35, 0, 0}, {30, 5, 0}, {35, 5, 0}},
                                       {0, 1, 2, 1, 3, 2, 0, 2, 1, 1, 2, 3});
    TriangleMesh part = test::Combined(cube, square);
    const RepairForPrintReport report = RepairForPrint(part, {});
    EXPECT_TRUE(report.repaired);
    EXPECT_EQ(report.pairsLeft, 2u);
    // The cube closed and outward again; the square's four triangles still there (the
    // foreign-shape table checks them corner by corner).
    EXPECT_NEAR(BodiesVolume(part, {-11, -11, -11}, {11, 11, 11}), 8000.0, 1e-3);
    EXPECT_EQ(part.TriangleCount(), 16u);
    const std::string summary = FormatRepairSummary(report);
    EXPECT_EQ(summary.rfind("Repair:\n", 0), 0u) << summary;
    EXPECT_TRUE(Contains(summary, "  2 facets are written in both windings on a sheet that encloses nothing, so "
                                  "neither copy can be kept as its outside; they are left as they are.\n"))
        << summary;
    EXPECT_FALSE(Contains(summary, "The part is as it was."));
}

// The read-back counts what a slicer finds in the file: corners at one position are one
// vertex, corners a float step apart are two, and repeats are counted.
TEST(ReadBackAsSlicer, JoinsOnlyBitEqualCornersAndCountsDuplicates)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    TriangleMesh repeated = cube;
    TriangleMesh seam = cube;
    const std::uint32_t corner = cube.indices[0];
    for (std::uint32_t c = 0; c < 3; ++c) {
        repeated.indices.push_back(static_cast<std::uint32_t>(repeated.vertices.size()));
        repeated.vertices.push_back(cube.vertices[cube.indices[c]]);
    }
    seam.vertices.push_back(cube.vertices[corner]);
    seam.vertices.back().position.x = std::nextafter(seam.vertices.back().position.x, 1e9f);
    seam.indices[0] = static_cast<std::uint32_t>(seam.vertices.size() - 1);
    struct Case {
        const char* name;
        TriangleMesh part;
        std::uint64_t overShared;
        std::uint64_t open;
        std::uint64_t duplicates;
    };
    const Case cases[] = {
        {"cube", cube, 0, 0, 0},
        {"two cubes on one edge", test::Combined(cube, test::Translated(cube, {10, 10, 0})), 1, 0, 0},
        {"a triangle repeated over corners of its own", repeated, 3, 0, 1},
        {"a corner one float step off its place", seam, 0, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh part = c.part;
        const ReadBackCounts counts = ReadBackAsSlicer(part);
        ASSERT_TRUE(counts.ok);
        EXPECT_EQ(std::tuple(counts.overSharedEdges, counts.openEdges, counts.duplicateTriangles),
            std::tuple(c.overShared, c.open, c.duplicates));
        EXPECT_EQ(std::tuple(counts.trianglesWritten, counts.trianglesRead, part.TriangleCount()),
            std::tuple(c.part.TriangleCount(), c.part.TriangleCount(), c.part.TriangleCount()));
    }
}

// The check's rounds with the memo against each round run afresh: the same part and the same
// counts, round after round, whether a round took its reports from the round before (a part the
// fixes left as it was) or, after one that changed the part, ran the fixes anew.
// An open fan of six triangles, 2 mm across, whose read-back between the check's rounds welds
// what the first round's closing left apart: the next round is given another part.
TriangleMesh SmallOpenFan()
{
    const float corners[7][3] = {{-215.983f, 70.3187f, 137.883f}, {-216.952f, 39.6826f, 144.676f},
        {-207.932f, -24.8993f, 148.723f}, {-247.708f, 69.538f, 123.733f}, {-246.196f, 45.203f, 131.288f},
        {-246.937f, 14.9498f, 134.175f}, {-255.988f, 45.6255f, 130.774f}};
    TriangleMesh fan;
    for (const auto& c : corners)
        fan.vertices.push_back({{(c[0] + 230.0f) * 0.02f, (c[1] - 20.0f) * 0.02f, (c[2] - 135.0f) * 0.02f}, {}});
    fan.indices = {3, 4, 0, 1, 0, 4, 5, 2, 4, 1, 4, 2, 4, 3, 6, 4, 6, 5};
    fan.ComputeBounds();
    fan.ComputeVertexNormals();
    return fan;
}

TEST(RunCheckFixRound, DecidesEachRoundAsARoundRunAfreshWould)
{
    const struct {
        const char* name;
        TriangleMesh part;
        bool unchangedByTheFirst;
    } cases[] = {
        {"a clean cube", MakeTestCube(20.0f), true},
        {"a noisy sphere with small holes", test::MakeNoisySphereWithHoles(3, 0.05f, 40, 0), false},
        {"two noisy spheres through each other",
         test::Combined(test::MakeNoisySphere(7, 10.0f, 0.3f, 24, 48),
                        test::Translated(test::MakeNoisySphere(8, 10.0f, 0.3f, 24, 48), {12.0f, 0.0f, 0.0f})),
         false},
        {"a small open fan", SmallOpenFan(), true},
    };
    const ExportCleanupOptions cleanup;
    const RepairOptions fixes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TriangleMesh remembered = c.part;
        TriangleMesh afresh = c.part;
        CheckRoundMemo memo;
        for (std::int32_t round = 1; round <= kCheckRounds; ++round) {
            SCOPED_TRACE(round);
            const TriangleMesh given = remembered;
            const FixRound fixed = RunCheckFixRound(remembered, kAutomaticWeldTolerance, cleanup, &fixes, {}, 1, memo);
            const FixRound fresh = RunFixRound(afresh, kAutomaticWeldTolerance, cleanup, &fixes, {}, 1);
            EXPECT_TRUE(test::Identical(remembered, afresh));
            EXPECT_EQ(memo.partUnchanged, static_cast<bool>(test::Identical(given, remembered)));
            if (round == 1) {
                EXPECT_EQ(memo.partUnchanged, c.unchangedByTheFirst);
            }
            EXPECT_EQ(std::tuple(fixed.cleanup.holesFilled, fixed.cleanup.trianglesAdded, fixed.cleanup.verticesMerged),
                      std::tuple(fresh.cleanup.holesFilled, fresh.cleanup.trianglesAdded, fresh.cleanup.verticesMerged));
            EXPECT_EQ(std::tuple(fixed.repair.selfIntersectingTriangles, fixed.repair.selfIntersectingTrianglesLeft,
                                 fixed.repair.foldedTrianglesLeft, fixed.repair.verticesMoved,
                                 fixed.repair.tinyTrianglesCollapsed, fixed.repair.movesUndone),
                      std::tuple(fresh.repair.selfIntersectingTriangles, fresh.repair.selfIntersectingTrianglesLeft,
                                 fresh.repair.foldedTrianglesLeft, fresh.repair.verticesMoved,
                                 fresh.repair.tinyTrianglesCollapsed, fresh.repair.movesUndone));
            // As the check does between rounds: the part becomes what a slicer reads back.
            ASSERT_TRUE(ReadBackAsSlicer(remembered).ok);
            ASSERT_TRUE(ReadBackAsSlicer(afresh).ok);
        }
    }
}

using test::Identical;

TEST(TidyMesh, AutomaticToleranceFollowsThePartsSize)
{
    struct Case { float edge; float expected; };
    // A cube of edge 1 reaches 0.5 mm from the origin; one of edge 600 reaches 300 mm.
    for (const Case test : {Case{1, 1e-6f}, Case{600, 1e-6f * 300.0f}, Case{0, 1e-6f}}) {
        TriangleMesh cube = MakeTestCube(test.edge);
        const TidyReport report = TidyMesh(cube, TidyOptions{});
        EXPECT_EQ(report.weldTolerance, test.expected) << test.edge;
    }
    // Far from the origin the tolerance follows the part's size, never its distance, and stays
    // below the float step there (0.0625 mm at 1e6): a 1 mm cube keeps its corners.
    TriangleMesh far = MakeTestCube(1);
    for (MeshVertex& vertex : far.vertices)
        vertex.position.x += 1e6f;
    const TidyReport farReport = TidyMesh(far, TidyOptions{});
    EXPECT_EQ(farReport.weldTolerance, 2e-6f);
    EXPECT_EQ(std::tuple(far.vertices.size(), far.TriangleCount()), std::tuple(std::size_t{8}, std::size_t{12}));

    TidyOptions exact;
    exact.weldTolerance = 0;
    TriangleMesh soup = test::MakeCubeSoup();
    const TidyReport report = TidyMesh(soup, exact);
    EXPECT_EQ(std::tuple(report.weldTolerance, report.verticesMerged), std::tuple(0.0f, 28u));
}

// One vertex at infinity must not make the tolerance infinite and weld the whole part away.
TEST(TidyMesh, NonFiniteCoordinateDoesNotWidenTheTolerance)
{
    TriangleMesh part = test::MakeCubeSoup();
    part.vertices.push_back({{std::numeric_limits<float>::infinity(), 0, 0}, {}});
    part.vertices.push_back({{std::numeric_limits<float>::quiet_NaN(), 0, 0}, {}});
    const TidyReport report = TidyMesh(part, {.removeUnusedVertices = false, .recomputeNormals = true});
    EXPECT_EQ(report.weldTolerance, 1e-6f * 10.0f);
    EXPECT_EQ(part.vertices.size(), 10u);  // 8 corners and the two strays
    EXPECT_EQ(part.TriangleCount(), 12u);
}

TEST(TidyMesh, SoupBecomesAClosedOutwardPart)
{
    // A soup with a duplicated triangle, a degenerate one, one triangle flipped and a stray
    // vertex.
    TriangleMesh part = test::MakeCubeSoup();
    std::swap(part.indices[4], part.indices[5]);
    part.indices.insert(part.indices.end(), {0, 1, 2});
    part.indices.insert(part.indices.end(), {3, 3, 4});
    part.vertices.push_back({{50, 50, 50}, {}});
    const TidyReport report = TidyMesh(part, TidyOptions{});
    EXPECT_EQ(FormatTidyReport(report),
        "Repair:\n"
        "  Vertices merged: 28\n"
        "  Degenerate triangles removed: 1\n"
        "  Duplicate triangles removed: 1\n"
        "  Triangles reoriented: 1\n"
        "  Unused vertices removed: 1\n");
    const ValidationReport check = ValidateMesh(part, ValidationOptions{});
    EXPECT_EQ(check.verdict, Verdict::Good) << FormatValidationReport(check);
    EXPECT_EQ(std::tuple(part.Volume(), part.boundsMax), std::tuple(8000.0f, Vec3{10, 10, 10}));
    for (const MeshVertex& vertex : part.vertices)
        EXPECT_NEAR(Dot(vertex.normal, vertex.normal), 1.0f, 1e-5f);
}

TEST(TidyMesh, InsideOutPartIsTurnedAndAMoebiusStripIsLeft)
{
    TriangleMesh inverted = test::Flipped(MakeTestCube(20));
    const TidyReport turned = TidyMesh(inverted, TidyOptions{});
    EXPECT_EQ(turned.trianglesReoriented, 12u);
    EXPECT_GT(inverted.Volume(), 0.0f);

    TriangleMesh strip = test::MakeMoebiusStrip();
    const TriangleMesh before = strip;
    EXPECT_FALSE(TidyMesh(strip, TidyOptions{}).changed);
    EXPECT_EQ(strip.indices, before.indices);

    // The strip no longer keeps an inside-out cube beside it from being turned, and stays as it is.
    TriangleMesh both = test::Combined(test::Flipped(MakeTestCube(20)), test::Translated(before, {40, 0, 0}));
    EXPECT_EQ(TidyMesh(both, TidyOptions{}).trianglesReoriented, 12u);
    EXPECT_TRUE(std::equal(both.indices.begin() + 36, both.indices.end(), test::Combined(MakeTestCube(20), before).indices.begin() + 36));
    EXPECT_EQ(TidyMesh(both, TidyOptions{}).trianglesReoriented, 0u);
}

TEST(TidyMesh, SwitchedOffPassesChangeNothing)
{
    TriangleMesh soup = test::MakeCubeSoup();
    soup.indices.insert(soup.indices.end(), {0, 1, 2});
    const TidyOptions none{.mergeVertices = false, .removeDegenerate = false, .removeDuplicates = false,
                           .reorient = false, .removeUnusedVertices = false, .recomputeNormals = true};
    const TriangleMesh before = soup;
    const TidyReport report = TidyMesh(soup, none);
    EXPECT_FALSE(report.changed);
    EXPECT_EQ(FormatTidyReport(report), "Repair: nothing needed changing.\n");
    EXPECT_TRUE(Identical(soup, before));
}

TEST(FormatTidyReport, ListsOnlyTheCountsAboveZeroGrouped)
{
    TidyReport report;
    report.changed = true;
    report.verticesMerged = 1234567;
    report.unusedVerticesRemoved = 12;
    EXPECT_EQ(FormatTidyReport(report), "Repair:\n  Vertices merged: 1,234,567\n  Unused vertices removed: 12\n");
}

using test::MeshOf;

constexpr std::uint64_t kKeepAll = std::numeric_limits<std::uint64_t>::max();
constexpr float kCrumbLimit = 0.07408799f;

// A sheet of rows x columns quads far from the little cubes placed near the origin.
TriangleMesh Part(std::uint32_t rows, std::uint32_t columns)
{
    return test::Translated(test::MakeWavyGrid(rows, columns), {100.0f, 100.0f, 100.0f});
}

TEST(RemoveCrumbs, OneBodyIsLeftAloneHoweverSmall)
{
    TriangleMesh mesh = MakeTestCube(0.1f);
    std::uint64_t removed = 0;
    EXPECT_EQ(RemoveCrumbs(mesh, 1, &removed, 1000.0f) + RemoveCrumbs(mesh, kKeepAll, &removed, 1000.0f), 0u);
    EXPECT_EQ(std::tuple(removed, mesh.TriangleCount()), std::tuple(0u, 12u));
}

TEST(RemoveCrumbs, TinyCubeBesideALargePartIsRemovedAndRecorded)
{
    const TriangleMesh part = Part(100, 100);  // 20,000 triangles
    TriangleMesh mesh = test::Combined(part, MakeTestCube(0.1f));
    std::uint64_t removed = 5;
    std::vector<CrumbRecord> records(1);  // appended to, not replaced
    EXPECT_EQ(std::tuple(RemoveCrumbs(mesh, kKeepAll, &removed, kCrumbLimit, &records), removed), std::tuple(1u, 17u));
    EXPECT_TRUE(mesh.vertices.size() == part.vertices.size() && mesh.indices == part.indices);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::tuple(records[0].triangleCount, records[1].triangleCount, records[1].boxMin, records[1].boxMax),
              std::tuple(0u, 12u, Vec3{-0.05f, -0.05f, -0.05f}, Vec3{0.05f, 0.05f, 0.05f}));
    EXPECT_NEAR(records[1].volume, 0.001, 1e-6);
    // 12 x 100 is not below 1,000: beside a small part the cube is more than a hundredth of it.
    TriangleMesh small = test::Combined(Part(25, 20), MakeTestCube(0.1f));
    EXPECT_EQ(RemoveCrumbs(small, kKeepAll, nullptr, kCrumbLimit), 0u);
}

TEST(RemoveCrumbs, KeepLargestDecidesWithoutVolumeTest)
{
    // A large cube of 12 triangles beside a sheet of 2,000: removed by rank whatever its volume.
    struct Case { std::uint64_t keep; std::uint64_t removed; };
    for (const Case c : {Case{0, 2}, Case{1, 2}, Case{2, 1}, Case{3, 0}, Case{kKeepAll, 0}}) {
        TriangleMesh mesh = test::Combined(test::Combined(Part(50, 20), MakeTestCube(30.0f)),
                                           test::Translated(MakeTestCube(1.0f), {-60, 0, 0}));
        EXPECT_EQ(RemoveCrumbs(mesh, c.keep), c.removed) << c.keep;
        EXPECT_EQ(mesh.TriangleCount(), 2024u - 12u * c.removed) << c.keep;
    }
}

TEST(RemoveCrumbs, BodiesTouchingAtOneVertexAreSeparate)
{
    // The cube's first vertex is replaced by the grid's first: one shared vertex, no shared edge.
    const TriangleMesh part = Part(100, 100);
    TriangleMesh mesh = test::Combined(part, MakeTestCube(1.0f));
    const std::uint32_t firstCubeVertex = static_cast<std::uint32_t>(part.vertices.size());
    for (std::uint32_t& i : mesh.indices) {
        if (i == firstCubeVertex)
            i = 0;
    }
    std::vector<CrumbRecord> records;
    EXPECT_EQ(RemoveCrumbs(mesh, 1, nullptr, 0.0f, &records), 1u);
    ASSERT_EQ(std::tuple(mesh.TriangleCount(), records.size()), std::tuple(20000u, 1u));
    EXPECT_EQ(records[0].volume, 0.0);  // no volume test, no volume
}

// A crumb by its own size: less than the volume limit and a hundredth of the largest body,
// reaching no further than a cube of that volume or a hundredth of the part.
TEST(IsCrumbSized, HoldsLittleAndReachesLittle)
{
    const auto record = [](Vec3 low, Vec3 high, double volume) {
        CrumbRecord body;
        body.boxMin = low;
        body.boxMax = high;
        body.triangleCount = 12;
        body.volume = volume;
        return body;
    };
    const struct {
        const char* what;
        CrumbRecord body;
        float partDiagonal;
        double largestVolume;
        bool crumb;
    } cases[] = {
        {"0.1 mm cube", record({0, 0, 0}, {0.1f, 0.1f, 0.1f}, 0.001), 10.0f, 1000.0, true},
        {"0.4 mm cube, turned inside out", record({0, 0, 0}, {0.4f, 0.4f, 0.4f}, -0.064), 10.0f, -1000.0, true},
        {"0.42 mm cube holds the limit", record({0, 0, 0}, {0.42f, 0.42f, 0.42f}, 0.0741), 10.0f, 1000.0, false},
        {"0.1 mm cube of a part drawn 0.3 mm large", record({0, 0, 0}, {0.1f, 0.1f, 0.1f}, 0.001), 0.5f, 0.027, false},
        {"50 mm open sheet holds nothing", record({0, 0, 0}, {50, 50, 0}, 0.0), 200.0f, 1000.0, false},
        {"5 mm needle", record({0, 0, 0}, {5, 0.1f, 0.1f}, 0.05), 200.0f, 1000.0, false},
        {"5 mm needle beside a 1 m part", record({0, 0, 0}, {5, 0.1f, 0.1f}, 0.05), 1000.0f, 1000.0, true},
        {"no triangles", CrumbRecord{}, 10.0f, 1000.0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsCrumbSized(c.body, kCrumbVolumeLimit, c.partDiagonal, c.largestVolume), c.crumb) << c.what;
    EXPECT_FALSE(IsCrumbSized(cases[0].body, 0.0f, 10.0f, 1000.0));
}

// Bodies go by their size, never by rank or triangle count; after a split only crumb-sized
// pieces it set loose go when crumbs are not asked for, never the largest piece of a body.
TEST(RemoveStrayBodies, JudgesBodiesBySizeNeverByRankOrCount)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh plate = test::MakeBox({40, 0, 0}, {140, 100, 10});
    const TriangleMesh crumb = test::MakeBox({-30, 0, 0}, {-29.9f, 0.1f, 0.1f});
    const TriangleMesh smallerCrumb = test::MakeBox({-29.9f, 0, 0}, {-29.85f, 0.05f, 0.05f});
    const TriangleMesh sheet = MeshOf({{0, 40, 0}, {50, 40, 0}, {0, 90, 0}}, {0, 1, 2});
    const TriangleMesh ball = test::Translated(MakeTestSphere(0.2f), {-30, 0, 0});
    const std::size_t s = sphere.TriangleCount();
    // Labels before the split: the bodies as they are, or some joined to the first body.
    const auto whole = [](const TriangleMesh& mesh) {
        std::uint32_t count = 0;
        return LabelBodies(mesh, count);
    };
    const auto joinedToSphere = [&](const TriangleMesh& mesh) {
        std::vector<std::uint32_t> labels(mesh.TriangleCount(), 0);
        return labels;
    };
    const auto crumbsJoined = [&](const TriangleMesh& mesh) {
        std::vector<std::uint32_t> labels(mesh.TriangleCount(), 1);
        std::fill(labels.begin(), labels.begin() + static_cast<std::ptrdiff_t>(s), 0u);
        return labels;
    };
    const struct {
        const char* what;
        TriangleMesh mesh;
        std::function<std::vector<std::uint32_t>(const TriangleMesh&)> before;  // none: no split
        bool removeCrumbs;
        std::uint64_t removed;
        std::uint64_t fragments;
        std::size_t trianglesLeft;
    } cases[] = {
        {"a plate of 12 triangles beside a sphere", test::Combined(sphere, plate), nullptr, true, 0, 0, s + 12},
        {"the plate came through a split whole", test::Combined(sphere, plate), whole, false, 0, 0, s + 12},
        {"the split set the plate loose: no crumb", test::Combined(sphere, plate), joinedToSphere, false, 0, 0, s + 12},
        {"a crumb of the part", test::Combined(sphere, crumb), nullptr, true, 1, 0, s},
        {"a crumb of the part, crumbs not asked for", test::Combined(sphere, crumb), whole, false, 0, 0, s + 12},
        {"a crumb the split set loose", test::Combined(sphere, crumb), joinedToSphere, false, 1, 1, s},
        {"of a crumb split in two the larger stays", test::Combined(test::Combined(sphere, crumb), smallerCrumb),
            crumbsJoined, false, 1, 1, s + 12},
        {"an open sheet holds nothing yet is no crumb", test::Combined(sphere, sheet), nullptr, true, 0, 0, s + 1},
        {"a finely meshed ball of the part, 0.4 mm across", test::Combined(sphere, ball), nullptr, true, 0, 0, 2 * s},
        {"the same ball set loose by a split: drawn as finely, no crumb", test::Combined(sphere, ball), joinedToSphere,
            false, 0, 0, 2 * s},
        {"a 0.2 mm rod of 256 triangles, over 1% of the sphere's, set loose: no crumb",
            test::Combined(sphere, test::Translated(MakeTestCylinder(0.1f, 0.2f), {-30, 0, 0})), joinedToSphere, false,
            0, 0, s + 256},
        {"a piece split from a 2.5 mm tile is judged by the tile, not by the sphere",
            test::Combined(test::Combined(sphere, test::MakeBox({20, 0, 0}, {22.5f, 2.5f, 0.4f})),
                test::MakeBox({22.5f, 2.5f, 0}, {22.9f, 2.9f, 0.4f})),
            crumbsJoined, false, 0, 0, s + 24},
        {"labels that do not fit the triangles", test::Combined(sphere, crumb),
            [](const TriangleMesh&) { return std::vector<std::uint32_t>{0}; }, false, 0, 0, s + 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh mesh = c.mesh;
        const std::vector<std::uint32_t> before = c.before ? c.before(mesh) : std::vector<std::uint32_t>{};
        const StrayBodyReport report = RemoveStrayBodies(mesh, {.removeCrumbs = c.removeCrumbs, .bodyBeforeSplit = before});
        EXPECT_EQ(std::tuple(report.bodiesRemoved, report.fragmentsRemoved, mesh.TriangleCount()),
                  std::tuple(c.removed, c.fragments, c.trianglesLeft));
        EXPECT_EQ(report.removed.size(), c.removed);
        EXPECT_EQ(report.trianglesRemoved, c.mesh.TriangleCount() - mesh.TriangleCount());
        if (c.removed != 0 && c.trianglesLeft == s && c.mesh.TriangleCount() == s + 12) {
            EXPECT_EQ(std::tuple(report.removed[0].boxMin, report.removed[0].boxMax),
                      std::tuple(Vec3{-30, 0, 0}, Vec3{-29.9f, 0.1f, 0.1f}));
            EXPECT_EQ(mesh.vertices.size(), sphere.vertices.size());
        }
    }
}

// After a rebuild of a part (a remesh, a relief) each body lying at a body of the part is that
// body, however small or few its triangles; only crumb-sized pieces set loose beside one go.
TEST(RemoveLooseFragments, KeepsEveryBodyOfThePartAndDropsCrumbsSetLoose)
{
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const TriangleMesh plate = test::MakeBox({40, 0, 0}, {140, 100, 10});
    const TriangleMesh crumb = test::MakeBox({-30, 0, 0}, {-29.9f, 0.1f, 0.1f});
    const TriangleMesh smallerCrumb = test::MakeBox({-29.9f, 0, 0}, {-29.85f, 0.05f, 0.05f});
    const TriangleMesh crumbAtPlate = test::MakeBox({140, 50, 0}, {140.1f, 50.1f, 0.1f});
    const TriangleMesh ball = test::Translated(MakeTestSphere(1.0f), {-30, 0, 0});
    const TriangleMesh sphereAndPlate = test::Combined(sphere, plate);
    const std::size_t s = sphere.TriangleCount();
    const struct {
        const char* what;
        TriangleMesh source;
        TriangleMesh result;
        float volumeLimit;
        std::uint64_t removed;
        std::size_t trianglesLeft;
    } cases[] = {
        {"a plate of 12 triangles beside a sphere, as the part had them", sphereAndPlate, sphereAndPlate,
            kCrumbVolumeLimit, 0, s + 12},
        {"a crumb of the part itself", test::Combined(sphere, crumb), test::Combined(sphere, crumb), kCrumbVolumeLimit,
            0, s + 12},
        {"a crumb set loose beside the sphere", sphere, test::Combined(sphere, crumb), kCrumbVolumeLimit, 1, s},
        {"a crumb set loose beside the plate, which stays", sphereAndPlate,
            test::Combined(sphereAndPlate, crumbAtPlate), kCrumbVolumeLimit, 1, s + 12},
        {"of the part's crumb split in two the larger stays", test::Combined(sphere, crumb),
            test::Combined(test::Combined(sphere, crumb), smallerCrumb), kCrumbVolumeLimit, 1, s + 12},
        {"a 2 mm ball set loose is no crumb", sphere, test::Combined(sphere, ball), kCrumbVolumeLimit, 0, 2 * s},
        {"a cube over the limit asked and over a hundredth of the part", sphere,
            test::Combined(sphere, test::MakeBox({-30, 0, 0}, {-29.5f, 0.5f, 0.5f})), 0.0005f, 0, s + 12},
        {"a sliver at a body the rebuild joined into another goes", test::Combined(sphere, test::MakeBox({12, 0, 0}, {20, 8, 8})),
            test::Combined(sphere, test::MakeBox({20, 4, 4}, {20.1f, 4.1f, 4.1f})), kCrumbVolumeLimit, 1, s},
        {"a closed 0.06 mm3 fragment set loose goes by a hundredth of the part's size", sphere,
            test::Combined(sphere, test::MakeBox({-30, 0, 0}, {-29.5f, 0.5f, 0.24f})), 0.001f, 1, s},
        {"a 0.9 mm cube set loose from a 3 mm cube is judged by that cube, not by the 100 mm one beside",
            test::Combined(test::MakeBox({0, 0, 0}, {100, 100, 100}), test::MakeBox({200, 0, 0}, {203, 3, 3})),
            test::Combined(test::Combined(test::MakeBox({0, 0, 0}, {100, 100, 100}), test::MakeBox({200, 0, 0}, {202, 3, 3})),
                test::MakeBox({202.1f, 0, 0}, {203, 0.9f, 0.9f})),
            kCrumbVolumeLimit, 0, 36},
        {"a closed sliver 3 mm long set loose goes by its volume", sphere,
            test::Combined(sphere, test::MakeBox({-30, 0, 0}, {-27, 0.1f, 0.1f})), kCrumbVolumeLimit, 1, s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TriangleMesh mesh = c.result;
        const StrayBodyReport report = RemoveLooseFragments(mesh, c.source, c.volumeLimit);
        EXPECT_EQ(std::tuple(report.bodiesRemoved, report.removed.size(), mesh.TriangleCount()),
                  std::tuple(c.removed, c.removed, c.trianglesLeft));
        EXPECT_EQ(report.trianglesRemoved, c.result.TriangleCount() - mesh.TriangleCount());
        std::uint32_t bodies = 0;
        (void)LabelBodies(mesh, bodies);
        EXPECT_EQ(report.bodiesLeft, bodies);
        // What went is measured where it lay.
        if (c.removed == 1 && c.trianglesLeft == s && c.result.TriangleCount() == s + 12 && report.removed[0].boxMax.x < -29.8f) {
            EXPECT_EQ(std::tuple(report.removed[0].boxMin, report.removed[0].boxMax, std::round(report.removed[0].volume * 1e6)),
                      std::tuple(Vec3{-30, 0, 0}, Vec3{-29.9f, 0.1f, 0.1f}, 1000.0));
        }
    }
}

// `pages` triangles on the one edge (0,0,0)-(1,0,0), fanned round it.
TriangleMesh Book(std::uint32_t pages)
{
    std::vector<Vec3> positions = {{0, 0, 0}, {1, 0, 0}};
    std::vector<std::uint32_t> indices;
    for (std::uint32_t p = 0; p < pages; ++p) {
        const float angle = 6.0f * static_cast<float>(p) / static_cast<float>(pages);
        positions.push_back({0.5f, std::cos(angle), std::sin(angle)});
        indices.insert(indices.end(), {0, 1, p + 2});
    }
    return MeshOf(positions, indices);
}

TEST(RemoveCrumbs, TrianglesOnOneEdgeAreOneBodyHoweverManyAndHoweverShort)
{
    // Every triangle on an edge joins one body, also an edge of length 0 (two corners at one
    // vertex); a single lone triangle is a body of its own.
    const TriangleMesh lone = MeshOf({{-9, 0, 0}, {-8, 0, 0}, {-9, 1, 0}}, {0, 1, 2});
    const TriangleMesh zeroLength = MeshOf({{-5, 0, 0}, {-5, 1, 0}, {-5, 0, 1}}, {0, 0, 1, 0, 0, 2});
    const struct {
        const char* what;
        TriangleMesh mesh;
        std::uint64_t removed;
        std::uint64_t trianglesLeft;
        std::uint64_t bodiesLeft;
    } cases[] = {
        {"40 pages beside a part", test::Combined(Part(100, 100), Book(40)), 1, 20000, 1},
        {"a book of 300 pages and a lone triangle", test::Combined(Book(300), lone), 1, 300, 1},
        {"a book of 40 pages and a lone triangle: not a crumb", test::Combined(Book(40), lone), 0, 41, 2},
        {"two triangles joined through an edge of length 0", test::Combined(Part(100, 100), zeroLength), 1, 20000, 1},
    };
    for (const auto& c : cases) {
        TriangleMesh mesh = c.mesh;
        std::vector<CrumbRecord> records;
        std::uint64_t bodiesLeft = 0;
        EXPECT_EQ(RemoveCrumbs(mesh, 1, nullptr, 0.0f, &records, &bodiesLeft), c.removed) << c.what;
        EXPECT_EQ(std::tuple(mesh.TriangleCount(), bodiesLeft), std::tuple(c.trianglesLeft, c.bodiesLeft)) << c.what;
    }
}

// Flat triangle t = (a, b, c) with c on the middle of its longest edge a-b; neighbour
// u = (b, a, d) across a-b, properly wound.
TriangleMesh FlatPair(bool withNeighbour)
{
    return MeshOf({{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, -1, 0}},
                  withNeighbour ? std::vector<std::uint32_t>{0, 1, 2, 1, 0, 3}
                                : std::vector<std::uint32_t>{0, 1, 2});
}

TEST(RemoveNoAreaTriangles, CasesLeftUnchanged)
{
    TriangleMesh open = FlatPair(false);
    TriangleMesh sameWound = FlatPair(true);
    sameWound.indices = {0, 1, 2, 0, 1, 3};  // neighbour runs a to b as well
    TriangleMesh coincident = MeshOf({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, -1, 0}}, {0, 1, 2, 1, 0, 3});
    for (TriangleMesh* mesh : {&open, &sameWound, &coincident}) {
        const std::vector<std::uint32_t> before = mesh->indices;
        EXPECT_EQ(RemoveNoAreaTriangles(*mesh), 0u);
        EXPECT_EQ(mesh->indices, before) << before.size();
    }
    EXPECT_FALSE(IsNoAreaTriangle(coincident, 0));
    EXPECT_FALSE(IsNoAreaTriangle(coincident, 7));
}

}  // namespace
}  // namespace grainforge::mesh
