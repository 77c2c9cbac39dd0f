#include "engine/mesh/mesh_validation.h"
#include "engine/repair/repair_job.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"
#include "tests/support/validation_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>

namespace grainforge::mesh {
namespace {

using test::MeshOf;

ValidationReport Validate(const TriangleMesh& mesh, bool search = false, bool displaced = false)
{
    ValidationOptions options;
    options.checkSelfIntersections = search;
    options.displacedResult = displaced;
    return ValidateMesh(mesh, options);
}


const char* const kInsideOutNote = "Repair flips it. Left alone, outward displacement would carve into the model.";
const char* const kStoppedNote = "The self-intersection search was stopped early on this mesh, so that result is unknown.";

TEST(ValidateMesh, OutwardTetrahedronIsGood)
{
    const ValidationReport report = Validate(test::MakeTetrahedron());
    EXPECT_EQ(FormatValidationReport(report),
        "Verdict: Good: no problems found.\n"
        "Triangles: 4\n"
        "Vertices: 4\n"
        "Components: 1\n"
        "Closed: yes\n"
        "Orientable: yes\n"
        "Open boundary edges: 0\n"
        "Non-manifold edges: 0\n"
        "Reversed triangles: 0\n"
        "Duplicate triangles: 0\n"
        "Degenerate triangles: 0\n"
        "Sliver triangles: 0\n"
        "Unreferenced vertices: 0\n"
        "Self-intersecting triangles: not checked\n"
        "Signed volume: 166.6667 cubic mm\n");
}

TEST(ValidateMesh, InsideOutTetrahedronIsOneWarning)
{
    const ValidationReport report = Validate(test::Flipped(test::MakeTetrahedron()));
    EXPECT_EQ(std::tuple(report.windingConflicts, report.reversedTriangles, report.reversedTriangleCorners.size(),
                         report.insideOut), std::tuple(0u, std::vector<std::uint32_t>{0, 1, 2, 3}, 12u, true));
    // The lines that differ from the outward tetrahedron's report, and the problem section.
    const std::string text = FormatValidationReport(report);
    EXPECT_EQ(text.rfind("Verdict: Usable with care: 1 problem found.\n", 0), 0u);
    EXPECT_NE(text.find("\nReversed triangles: 4\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.find("Signed volume: ")),
        "Signed volume: -166.6667 cubic mm (inside out)\n"
        "\nProblem: The mesh is inside out: its normals point inwards.\n"
        "  " + std::string(kInsideOutNote) + "\n");
}

// The odd triangle is the one reported, wherever it sits (triangle 0 starts the walk).
TEST(ValidateMesh, OneFlippedTriangleInACubeIsThatTriangle)
{
    for (std::uint32_t flipped : {0u, 11u}) {
        SCOPED_TRACE(flipped);
        TriangleMesh cube = MakeTestCube(20);
        std::swap(cube.indices[3 * flipped + 1], cube.indices[3 * flipped + 2]);
        const ValidationReport report = Validate(cube);
        EXPECT_EQ(std::tuple(report.windingConflicts, report.reversedTriangles, report.orientable, report.insideOut,
                             report.verdict), std::tuple(3u, std::vector<std::uint32_t>{flipped}, true, false,
                                                         Verdict::UsableWithCare));
        EXPECT_EQ(report.problems, std::vector<std::string>{"1 triangle is wound the wrong way round."});
        EXPECT_EQ(report.notes, std::vector<std::string>{"Repair reorients them. Left alone, displacement pushes them "
                                                         "inwards while their neighbours move outwards."});
    }
}

// A body inside solid material facing against it is a hollow; one facing the same way is an
// insert, which prints solid and is named (it was once called reversed, and Repair made it a
// hollow). Inside a hollow, or inside nothing, a body faces outwards; only one facing inwards
// there is reversed, and then it is a problem, as the checklist before saving says too. The
// cavity's corners lie on the diagonals of the outer faces, where a ray along an axis would graze
// an edge.
TEST(ValidateMesh, NestedShellsFaceByWhatHoldsThem)
{
    const TriangleMesh outer = MakeTestCube(20);
    const TriangleMesh cavity = test::Flipped(MakeTestCube(6));
    const TriangleMesh island = MakeTestCube(2);
    const TriangleMesh tube = test::MakeReliefTube(30.0f, 3.0f, 20.0f, 32, 4, 0.0f);
    const auto tubeTriangles = static_cast<std::uint32_t>(tube.TriangleCount());
    const auto range = [](std::uint32_t first, std::uint32_t count) {
        std::vector<std::uint32_t> v(count);
        std::iota(v.begin(), v.end(), first);
        return v;
    };
    using Roles = std::vector<NestedBodyRole>;
    constexpr NestedBodyRole kHollow = NestedBodyRole::hollow;
    constexpr NestedBodyRole kInsert = NestedBodyRole::insert;
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::vector<std::uint32_t> reversed;
        std::vector<std::string> problems;
        Roles nested;
        bool insideOut = false;
    };
    const std::string twelve = "12 triangles are wound the wrong way round.";
    const std::string inserts2 = "2 closed bodies lie inside others with solid on both sides of them, so they print "
                                 "solid, not as hollows: the largest is the 6.00 x 6.00 x 6.00 mm body at (0.00, 0.00, "
                                 "0.00) mm, 216.00 cubic mm.";
    const std::string insert6 = "1 closed body lies inside another with solid on both sides of it, so it prints solid, "
                                "not as a hollow: the 6.00 x 6.00 x 6.00 mm body at (0.00, 0.00, 0.00) mm, 216.00 cubic mm.";
    const Case cases[] = {
        {"a cube holding a hollow", test::Combined(outer, cavity), {}, {}, {kHollow}},
        {"the hollow first", test::Combined(cavity, outer), {}, {}, {kHollow}},
        {"a solid island in the hollow", test::Combined(test::Combined(outer, cavity), island), {}, {}, {kHollow}},
        {"the same 1e6 mm out", test::Translated(test::Combined(test::Combined(outer, cavity), island), {1e6f, -1e6f, 1e6f}),
            {}, {}, {kHollow}},
        {"an insert", test::Combined(outer, MakeTestCube(6)), {}, {insert6}, {kInsert}},
        {"the insert first", test::Combined(MakeTestCube(6), outer), {}, {insert6}, {kInsert}},
        // Inside an insert the place is solid twice over: a body facing inwards there cancels
        // one of them and is solid on both sides, an insert too, turned to face outwards.
        {"a body facing inwards in an insert", test::Combined(test::Combined(outer, test::Flipped(MakeTestCube(4))),
            MakeTestCube(6)), range(12, 12), {twelve, inserts2}, {kInsert, kInsert}},
        {"an insert in an insert", test::Combined(test::Combined(outer, MakeTestCube(4)), MakeTestCube(6)), {},
            {inserts2}, {kInsert, kInsert}},
        // A part written inside out, its hollow with it: both are turned, the hollow stays one.
        {"a part inside out holding a hollow", test::Flipped(test::Combined(outer, cavity)), range(0, 24),
            {"The mesh is inside out: its normals point inwards."}, {kHollow}, true},
        {"an island facing inwards", test::Combined(test::Combined(outer, cavity), test::Flipped(island)), range(24, 12),
            {twelve}, {kHollow}},
        {"a cube inside out apart from another", test::Combined(outer, test::Translated(test::Flipped(MakeTestCube(10)), {40, 0, 0})),
            range(12, 12), {twelve}, {}},
        {"a hollow touching the wall from inside", test::Combined(outer, test::Translated(cavity, {7, 0, 0})), {}, {},
            {kHollow}},
        // In the bore of a tube the box holds the cube, the tube does not: rays cross it twice.
        {"a cube in the bore of a tube", test::Combined(tube, test::Translated(island, {0, 0, 10})), {}, {}, {}},
        {"a cube inside out in the bore of a tube", test::Combined(tube, test::Translated(test::Flipped(island), {0, 0, 10})),
            range(tubeTriangles, 12), {twelve}, {}},
    };
    for (const Case& c : cases) {
        const ValidationReport report = Validate(c.mesh);
        EXPECT_EQ(std::tuple(report.reversedTriangles, report.problems, report.insideOut),
            std::tuple(c.reversed, c.problems, c.insideOut)) << c.name;
        EXPECT_EQ(report.verdict, c.problems.empty() ? Verdict::Good : Verdict::UsableWithCare) << c.name;
        EXPECT_EQ(WrongWayTriangleCount(report), c.reversed.size()) << c.name;
        Roles roles;
        for (const NestedBody& body : report.nestedBodies)
            roles.push_back(body.role);
        EXPECT_EQ(roles, c.nested) << c.name;
        // The repair's and the check's own look at the nesting agrees with validation's.
        EXPECT_EQ(FindNestedBodies(c.mesh).size(), report.nestedBodies.size()) << c.name;
        // A hollow kept is a note, as Repair and the check say it.
        const bool hollowNoted = !report.notes.empty() && report.notes.back().find(" is kept as a hollow: ") != std::string::npos;
        EXPECT_EQ(hollowNoted, std::count(roles.begin(), roles.end(), kHollow) != 0) << c.name;
    }
}

TEST(ValidateMesh, MoebiusStripHasNoConsistentOrientation)
{
    const ValidationReport report = Validate(test::MakeMoebiusStrip());
    EXPECT_FALSE(report.orientable);
    EXPECT_EQ(report.verdict, Verdict::Unsuitable);
    ASSERT_FALSE(report.problems.empty());
    EXPECT_EQ(report.problems[0], "The surface cannot be given a consistent inside and outside.");
    EXPECT_EQ(report.notes[0],
        "No arrangement of face windings works everywhere on this mesh, so outward displacement is not defined. "
        "This needs fixing in the modelling tool.");
    EXPECT_NE(FormatValidationReport(report).find("Orientable: no\n"), std::string::npos);
}

TEST(ValidateMesh, OpenAndNonManifoldEdges)
{
    const ValidationReport single = Validate(MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}));
    EXPECT_EQ(std::tuple(single.openEdgeSegments.size(), single.closed, single.insideOut, single.verdict),
              std::tuple(6u, false, false, Verdict::UsableWithCare));
    EXPECT_EQ(single.problems, (std::vector<std::string>{"3 edges are open: the mesh is not a closed solid."}));

    // Three triangles on the edge 0-1.
    const ValidationReport fan =
        Validate(MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}}, {0, 1, 2, 1, 0, 3, 0, 1, 4}));
    EXPECT_EQ(std::tuple(fan.verdict, fan.nonManifoldEdgeSegments, fan.problems.at(0)),
              std::tuple(Verdict::Unsuitable, std::vector<Vec3>{{0, 0, 0}, {1, 0, 0}},
                         "1 edge is shared by more than two triangles."));

    // Unasked, the note states Repair's rule; it once promised to split edges Repair leaves
    // (how many it leaves is the document's forecast, DocumentJobsTest).
    const ValidationReport wall = Validate(test::MakeBoxWithInnerWall());
    EXPECT_EQ(std::tuple(wall.problems.at(0), wall.notes.at(0).substr(109)),
              std::tuple("4 edges are shared by more than two triangles.",
                         "Repair splits those where solids touch along an edge and the split leaves the surface "
                         "closed; what it leaves needs fixing in the modelling tool."));
}

TEST(ValidateMesh, DegenerateSliverAndDuplicateTriangles)
{
    // Collinear corners, and a repeated corner: degenerate, not slivers.
    for (const TriangleMesh& mesh : {MeshOf({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {0, 1, 2}),
             MeshOf({{0, 0, 0}, {1, 0, 0}}, {0, 1, 1})}) {
        const ValidationReport report = Validate(mesh);
        EXPECT_EQ(std::tuple(report.degenerateTriangleCount, report.sliverTriangleCount,
                             report.degenerateTriangleCorners.size(), report.problems.at(0)),
                  std::tuple(1u, 0u, 3u, "1 triangle encloses no area."));
    }
    // A needle: 2 sqrt(3) h / 1.5 L (nearly) = 0.0005.
    const TriangleMesh needle = MeshOf({{0, 0, 0}, {10, 0, 0}, {5, 0.0021651f, 0}}, {0, 1, 2});
    const ValidationReport part = Validate(needle);
    EXPECT_EQ(std::tuple(part.sliverTriangleCount, part.degenerateTriangleCount, part.problems.back()),
              std::tuple(1u, 0u, "1 triangle is a sliver."));
    const ValidationReport displaced = Validate(needle, false, true);
    EXPECT_EQ(displaced.sliverTriangleCount, 1u);
    EXPECT_EQ(displaced.problems, (std::vector<std::string>{"3 edges are open: the mesh is not a closed solid."}));
    EXPECT_NE(FormatValidationReport(displaced).find("Sliver triangles: 1\n"), std::string::npos);

    TriangleMesh doubled = MakeTestCube(20);
    doubled.indices.insert(doubled.indices.end(), {doubled.indices[2], doubled.indices[1], doubled.indices[0]});
    const ValidationReport duplicates = Validate(doubled);
    EXPECT_EQ(duplicates.problems.at(1), "1 triangle repeats the same three corners.");
}

TEST(ValidateMesh, BadIndicesAndEmptyMeshesAreUnsuitable)
{
    TriangleMesh outOfRange = MakeTestCube(20);
    outOfRange.indices[4] = 8;
    const ValidationReport report = Validate(outOfRange, true);
    EXPECT_EQ(report.verdict, Verdict::Unsuitable);
    EXPECT_EQ(report.problems, (std::vector<std::string>{"The mesh has indices that do not refer to a vertex."}));
    TriangleMesh noTriangles = MakeTestCube(20);
    noTriangles.indices.clear();
    const ValidationReport empty = Validate(noTriangles, true);
    EXPECT_EQ(empty.problems, (std::vector<std::string>{"The mesh contains no triangles."}));
    EXPECT_EQ(empty.unreferencedVertexCount, 0u);
    EXPECT_EQ(VerdictHeadline(empty), "Unsuitable: 1 problem found.");
}

TEST(ValidateMesh, SelfIntersectionResultsAndTheirWording)
{
    const TriangleMesh crossing = test::Combined(MakeTestCube(20), test::Translated(MakeTestCube(20), {5, 5, 5}));
    const ValidationReport unchecked = Validate(crossing);
    EXPECT_NE(FormatValidationReport(unchecked).find("Self-intersecting triangles: not checked\n"), std::string::npos);
    EXPECT_EQ(unchecked.verdict, Verdict::Good);

    const ValidationReport part = Validate(crossing, true);
    ASSERT_TRUE(part.selfIntersectionsChecked);
    ASSERT_GT(part.selfIntersectingTriangleCount, 0u);
    const std::string count = std::to_string(part.selfIntersectingTriangleCount);
    EXPECT_EQ(part.problems, std::vector<std::string>{count + " triangles already pass through others."});
    EXPECT_EQ(part.verdict, Verdict::UsableWithCare);
    EXPECT_NE(FormatValidationReport(part).find("Self-intersecting triangles: " + count + "\n"), std::string::npos);
    // The count the texts give is the exact one: the triangles of the pairs found by trying
    // every pair, and a search that gave no count reads as such, never as 0.
    EXPECT_EQ(part.selfIntersectingTriangleCount,
        test::CrossingTriangles(test::FindCrossingPairsByBruteForce(crossing)).size());
    EXPECT_EQ(FormatSelfIntersectingCount(part), count);
    EXPECT_EQ(FormatSelfIntersectingCount(unchecked), "not checked");

    const ValidationReport displaced = Validate(crossing, true, true);
    EXPECT_EQ(displaced.problems, std::vector<std::string>{count + " triangles pass through others."});
    EXPECT_EQ(displaced.notes[0],
        "Where the relief folded or met itself. Save STL's \"Fix self-intersections\" resolves them when the file is "
        "written, and its report says if any are left.");

    // Stopped at the limit: no problem, no verdict change, a note printed only without problems.
    ValidationOptions limited;
    limited.checkSelfIntersections = true;
    limited.maximumSelfIntersectionPairs = 0;
    const ValidationReport stopped = ValidateMesh(crossing, limited);
    EXPECT_TRUE(stopped.selfIntersectionSearchStopped && stopped.problems.empty());
    EXPECT_EQ(stopped.verdict, Verdict::Good);
    EXPECT_EQ(stopped.notes, std::vector<std::string>{kStoppedNote});
    const std::string text = FormatValidationReport(stopped);
    EXPECT_NE(text.find("Self-intersecting triangles: search stopped early\n"), std::string::npos);
    EXPECT_EQ(FormatSelfIntersectingCount(stopped), "search stopped early");
    EXPECT_EQ(text.substr(text.size() - std::string(kStoppedNote).size() - 8),
        "\nNote: " + std::string(kStoppedNote) + "\n");

    const TriangleMesh openCrossing = test::Combined(test::MakeOpenBox(), test::Translated(MakeTestCube(20), {5, 5, 5}));
    const ValidationReport withProblems = ValidateMesh(openCrossing, limited);
    EXPECT_TRUE(withProblems.selfIntersectionSearchStopped);
    EXPECT_EQ(withProblems.notes.back(), kStoppedNote);
    EXPECT_EQ(FormatValidationReport(withProblems).find("Note: "), std::string::npos);
}

// What makes a verdict "Unsuitable" is named, and only that: the warnings beside it are not.
TEST(ValidateMesh, UnsuitableCausesAreTheErrorsAlone)
{
    TriangleMesh outOfRange = MakeTestCube(20);
    outOfRange.indices[4] = 8;
    TriangleMesh noTriangles = MakeTestCube(20);
    noTriangles.indices.clear();
    const struct {
        const char* name;
        TriangleMesh mesh;
        std::string causes;
    } cases[] = {
        {"three triangles on an open edge",
            MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}}, {0, 1, 2, 1, 0, 3, 0, 1, 4}),
            "1 edge is shared by more than two triangles."},
        {"a box with an inner wall", test::MakeBoxWithInnerWall(), "4 edges are shared by more than two triangles."},
        {"a Moebius strip", test::MakeMoebiusStrip(), "The surface cannot be given a consistent inside and outside."},
        {"bad indices", outOfRange, "The mesh has indices that do not refer to a vertex."},
        {"no triangles", noTriangles, "The mesh contains no triangles."},
        {"an open triangle", MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}), ""},
        {"a cube", MakeTestCube(20), ""},
    };
    for (const auto& c : cases) {
        const ValidationReport report = Validate(c.mesh, true);
        EXPECT_EQ(FormatUnsuitableCauses(report), c.causes) << c.name;
        EXPECT_EQ(report.verdict == Verdict::Unsuitable, !c.causes.empty()) << c.name;
    }
}

TEST(ValidateMesh, ProblemsComeInTheirFixedOrder)
{
    // One open triangle, one with a repeated corner (its edge 3-4 used twice, 3-3 once) and two
    // unused vertices.
    const TriangleMesh mesh = MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {6, 6, 6}, {7, 7, 7}, {8, 8, 8}},
        {0, 1, 2, 3, 3, 4});
    const ValidationReport report = Validate(mesh);
    EXPECT_EQ(report.problems, (std::vector<std::string>{"1 triangle encloses no area.",
                                   "4 edges are open: the mesh is not a closed solid.",
                                   "2 vertices belong to no triangle."}));
    EXPECT_EQ(report.notes.size(), 3u);
    EXPECT_EQ(VerdictHeadline(report), "Usable with care: 3 problems found.");
    const std::string text = FormatValidationReport(report);
    EXPECT_NE(text.find("\nProblem: 2 vertices belong to no triangle.\n  Repair drops them. They are harmless but "
                        "inflate the file.\n"),
        std::string::npos);
}

// A closed body is judged by its mean thickness (twice its volume over its area): a triangle
// with its back, or a slab thinner than any printer lays, is a sheet; a thin printable slab is
// a solid. 8e6 mm out, where floats are 1 mm apart, a flat square closed by its back along the
// other diagonal is rounded out of its plane and is still a sheet.
TEST(ValidateMesh, ClosedBodiesWithoutVolumeAreSheets)
{
    const float f = 8.0e6f;
    const TriangleMesh tiltedSquare = MeshOf({{f, f, f}, {f + 40, f, f + 19}, {f + 40, f + 40, f + 30}, {f, f + 40, f + 12}},
        {0, 1, 2, 0, 2, 3, 1, 0, 3, 1, 3, 2});
    struct Case { const char* name; TriangleMesh mesh; std::uint64_t sheets; std::uint64_t tooFarOut = 0; };
    const Case cases[] = {
        {"a triangle and its back", MeshOf({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {0, 1, 2, 0, 2, 1}), 1},
        {"slab 0.005 mm thick", test::MakeBox({0, 0, 0}, {10, 10, 0.005f}), 1},
        {"slab 0.05 mm thick", test::MakeBox({0, 0, 0}, {10, 10, 0.05f}), 0},
        {"a square and its back, rounded out of its plane", tiltedSquare, 1},
        // Solids as thin as the steps of their coordinates (0.5 and 1 mm there) fill their boxes:
        // too far out to tell, not sheets.
        {"a 1 mm cube 1e7 mm out", test::Translated(MakeTestCube(1), {7071068.0f, 7071068.0f, 0.0f}), 0, 1},
        {"a 2 mm cube 1.4e7 mm out", test::Translated(MakeTestCube(2), {1e7f, 1e7f, 0.0f}), 0, 1},
    };
    for (const Case& c : cases) {
        const ValidationReport report = Validate(c.mesh);
        EXPECT_EQ(std::tuple(report.closed, report.bodiesWithoutVolume, report.bodiesTooFarOut),
            std::tuple(true, c.sheets, c.tooFarOut)) << c.name;
        EXPECT_EQ(std::count(report.problems.begin(), report.problems.end(),
                      "1 closed body encloses no volume: it is a sheet, not a solid."), c.sheets) << c.name;
        // The notes say what is true of one sheet, and Repair does what they say: the body stays,
        // and a facet written in both windings on it keeps both copies.
        TriangleMesh repaired = c.mesh;
        (void)RepairForPrint(repaired, {});
        EXPECT_EQ(CountBodies(repaired), CountBodies(c.mesh)) << c.name;
        for (const std::string& note : report.notes) {
            EXPECT_EQ(c.sheets > 0 && note.find("prints as nothing") != std::string::npos,
                note.find("it prints as nothing. Repair keeps it as a body") != std::string::npos) << note;
            EXPECT_FALSE(report.duplicateTriangleCount > 0 && note.starts_with("Repair removes them.")) << note;
        }
        if (report.duplicateTriangleCount > 0) {
            EXPECT_EQ(repaired.indices.size(), c.mesh.indices.size()) << c.name;
        }
    }
    EXPECT_EQ(Validate(cases[4].mesh).problems, std::vector<std::string>{"1 closed body lies too far out to tell a "
        "solid from a sheet: the 1.00 x 1.00 x 1.00 mm body at (7071068, 7071068, 0) mm, where a coordinate steps by "
        "0.50 mm."});
    // The measure on a known answer: about the body, so a cube 1e6 mm out is measured exactly.
    const TriangleMesh far = test::Translated(MakeTestCube(20), {1e6f, -1e6f, 1e6f});
    BodyVolume cube;
    for (std::size_t c = 0; c < far.indices.size(); c += 3)
        cube.Add(far.vertices[far.indices[c]].position, far.vertices[far.indices[c + 1]].position, far.vertices[far.indices[c + 2]].position);
    EXPECT_EQ(std::tuple(cube.Volume(), cube.Area(), cube.IsSheet()), std::tuple(8000.0, 2400.0, false));
}

// Validated as the file holds it, vertices at one position are one; the report's triangle
// lists still name the mesh's own triangles, and a mesh with nothing to join is judged as is.
TEST(ValidateAsWritten, JoinsVerticesAtOnePositionAndKeepsTriangleNumbers)
{
    const TriangleMesh cube = MakeTestCube(10.0f);
    TriangleMesh flippedSecond = test::Combined(cube, test::Translated(cube, {10, 10, 0}));
    std::swap(flippedSecond.indices[39 + 1], flippedSecond.indices[39 + 2]);
    struct Case {
        const char* name;
        TriangleMesh mesh;
        std::uint64_t vertices;
        std::uint64_t nonManifold;
        std::vector<std::uint32_t> reversed;
    };
    const Case cases[] = {
        {"one cube", cube, 8, 0, {}},
        {"two cubes on one edge, one triangle turned", flippedSecond, 14, 1, {13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ValidationOptions options;
        options.checkSelfIntersections = true;
        const ValidationReport report = ValidateAsWritten(c.mesh, options);
        EXPECT_EQ(report.vertexCount, c.vertices);
        EXPECT_EQ(report.edgeCounts.nonManifold, c.nonManifold);
        EXPECT_EQ(report.reversedTriangles, c.reversed);
        EXPECT_EQ(report.triangleComponents.size(), c.mesh.TriangleCount());
        EXPECT_TRUE(report.selfIntersectionsChecked);
        if (c.nonManifold == 0) {
            EXPECT_EQ(FormatValidationReport(report), FormatValidationReport(ValidateMesh(c.mesh, options)));
        }
    }
}

}  // namespace
}  // namespace grainforge::mesh
