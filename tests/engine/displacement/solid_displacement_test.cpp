#include "engine/displacement/solid_displacement.h"

#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/texture_weights.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/surface_folds.h"
#include "engine/remesh/remesh.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/same_on_one_thread.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <map>
#include <vector>

namespace grainforge::mesh {
namespace {

struct Outcome {
    bool ok = false;
    TriangleMesh result;
    SolidDisplacementReport report;
    int progressCalls = 0;
};

// Runs with the heights all `height`; the callback answers false from its `stopAt`-th call on.
Outcome Displace(const TriangleMesh& input, float height, SolidDisplacementSettings settings = {},
    int stopAt = -1, std::uint64_t availableBytes = 0)
{
    Outcome run;
    run.result = test::MakeBox({0, 0, 0}, {1, 1, 1});  // a stand-in that must survive a failure
    const ProgressCallback progress = [&](const std::string&, float) { return run.progressCalls++ != stopAt; };
    run.ok = ApplySolidDisplacement(input, std::vector<float>(input.vertices.size(), height), settings,
        progress, run.result, run.report, nullptr, availableBytes);
    return run;
}

void ExpectClosedAndOutward(const TriangleMesh& mesh)
{
    const EdgeCounts edges = CountEdges(mesh);
    EXPECT_GT(edges.edges, 0u);
    EXPECT_EQ(edges.boundary, 0u);
    EXPECT_EQ(edges.nonManifold, 0u);
    EXPECT_GT(mesh.Volume(), 0.0f);
}

TEST(ApplySolidDisplacement, ZeroHeightsGiveTheInputSolidBack)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.5f;
    settings.baseEnabled = false;
    const TriangleMesh cube = MakeTestCube(10.0f);
    const Outcome run = Displace(cube, 0.0f, settings);
    ASSERT_TRUE(run.ok);
    ExpectClosedAndOutward(run.result);
    EXPECT_NEAR(run.result.Volume(), 1000.0f, 10.0f);
    EXPECT_EQ(run.report.pointsDisplaced, 0u);
    EXPECT_EQ(run.report.heightsHeld, 0u);
    EXPECT_EQ(run.report.oddColumns, 0u);
}

// A 0.3 mm cube beside the part holds less than a line's cube, but it is a body of the input,
// not a crumb the relief made: it stays (here the relief moves nothing at all). It was once
// taken off for its size.
TEST(ApplySolidDisplacement, ABodyOfTheInputIsNoCrumbHoweverSmall)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.1f;
    settings.baseEnabled = false;
    const TriangleMesh part = test::Combined(MakeTestCube(10.0f), test::Translated(MakeTestCube(0.3f), {8, 0, 0}));
    const Outcome run = Displace(part, 0.0f, settings);
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(std::tuple(run.report.piecesRemoved, run.report.inputPiecesRemoved), std::tuple(0u, 0u));
    EXPECT_EQ(CountBodies(run.result), 2u);
}

// A constant height moves the whole surface outward by it.
TEST(ApplySolidDisplacement, SphereGrowsByAConstantHeight)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.4f;
    settings.baseEnabled = false;
    const Outcome run = Displace(MakeTestSphere(10.0f), 0.5f, settings);
    ASSERT_TRUE(run.ok);
    ExpectClosedAndOutward(run.result);
    // The input sphere is a polygon inside the true sphere; its faces lie a little below 10.
    for (const MeshVertex& v : run.result.vertices)
        EXPECT_NEAR(Length(v.position), 10.5f, 0.25f * settings.cellMillimetres + 0.03f);
}

TEST(ApplySolidDisplacement, NothingLiesBelowTheFloorAndNearItLiesOnIt)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.5f;
    settings.baseZ = -5.0f;  // the test cube's bottom
    const Outcome run = Displace(MakeTestCube(10.0f), 1.0f, settings);
    ASSERT_TRUE(run.ok);
    ExpectClosedAndOutward(run.result);
    for (const MeshVertex& v : run.result.vertices) {
        EXPECT_GE(v.position.z, -5.0f);
        if (v.position.z < -5.0f + 0.5f * settings.cellMillimetres) {
            EXPECT_EQ(v.position.z, -5.0f);
        }
    }
    // A floor asked for above the part's lowest point is taken at that point: the result
    // stays closed instead of open at a cut through the inside.
    settings.baseZ = 0.0f;
    const Outcome high = Displace(MakeTestSphere(10.0f), 0.5f, settings);
    ASSERT_TRUE(high.ok);
    ExpectClosedAndOutward(high.result);
}

TEST(ApplySolidDisplacement, RefusalsComeBeforeTheWorkAndLeaveTheResultAlone)
{
    const TriangleMesh hundred = test::MakeBumpySphere(10.0f, 0.0f, 6, 10);
    ASSERT_EQ(hundred.TriangleCount(), 100u);
    SolidDisplacementSettings limited;
    limited.triangleLimit = 111;
    const Outcome refused = Displace(hundred, 0.5f, limited);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.report.refused);
    EXPECT_EQ(refused.report.estimatedTriangles, 112u);
    EXPECT_EQ(refused.progressCalls, 0);
    EXPECT_EQ(refused.result.TriangleCount(), 12u);
    EXPECT_EQ(FormatSolidDisplacementReport(refused.report),
        "Solid displacement refused: about 112 triangles would be over the limit");
    // The contour's crossing guard: parted, partly parted, or undone.
    const std::pair<std::pair<std::uint64_t, std::uint64_t>, const char*> crossings[] = {
        {{53, 0}, "; 53 crossings of sharp vertices eased towards the surface between them, 0 left"},
        {{53, 4}, "; 53 crossings of sharp vertices eased towards the surface between them, 4 left"},
        {{53, 53}, "; 53 crossings of sharp vertices that easing could not part, left as they were"},
    };
    for (const auto& [counts, text] : crossings) {
        SolidDisplacementReport said;
        said.contourCrossings = counts.first;
        said.contourCrossingsLeft = counts.second;
        EXPECT_NE(FormatSolidDisplacementReport(said).find(text), std::string::npos) << text;
    }

    // The field over a small memory budget: refused as too large, the process goes on.
    const Outcome tooLarge = Displace(MakeTestCube(10.0f), 0.5f, {}, -1, 1000);
    EXPECT_FALSE(tooLarge.ok);
    EXPECT_TRUE(tooLarge.report.tooLarge);
    EXPECT_EQ(tooLarge.result.TriangleCount(), 12u);
    // Two such spheres 5 m apart take a field each, and their results (some 10.8 kB) are held
    // together: over that, refused before either piece starts.
    const TriangleMesh apart = test::Combined(hundred, test::Translated(hundred, {5000.0f, 0.0f, 0.0f}));
    const Outcome together = Displace(apart, 0.5f, {}, -1, 10000);
    EXPECT_TRUE(!together.ok && together.report.tooLarge);
    EXPECT_EQ(together.progressCalls, 0);

    SolidDisplacementReport mismatched;
    TriangleMesh result;
    EXPECT_FALSE(ApplySolidDisplacement(MakeTestCube(10.0f), {1.0f}, {}, {}, result, mismatched, nullptr));
    EXPECT_EQ(mismatched.heightCount, 1u);
    EXPECT_FALSE(mismatched.refused || mismatched.stopped || mismatched.tooLarge);
}

// A stop at any progress call, at a phase start or inside a phase's loops, ends the job as
// stopped and leaves the result as it was.
TEST(ApplySolidDisplacement, AStopAtAnyPointLeavesTheResultAlone)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.3f;
    const TriangleMesh sphere = MakeTestSphere(10.0f);
    const Outcome whole = Displace(sphere, 0.5f, settings);
    ASSERT_TRUE(whole.ok);
    ASSERT_GT(whole.progressCalls, 3);
    for (int stopAt = 0; stopAt < whole.progressCalls; ++stopAt) {
        const Outcome run = Displace(sphere, 0.5f, settings, stopAt);
        EXPECT_FALSE(run.ok) << stopAt;
        EXPECT_TRUE(run.report.stopped) << stopAt;
        EXPECT_EQ(run.result.TriangleCount(), 12u) << stopAt;
        if (stopAt == 0) {
            EXPECT_EQ(run.report.heightsHeld, 0u);
        }
    }
}

TEST(ApplySolidDisplacement, SameResultOnOneThreadAsOnMany)
{
    SolidDisplacementSettings settings;
    settings.cellMillimetres = 0.4f;
    const TriangleMesh sphere = test::MakeBumpySphere(10.0f, 0.5f, 40, 60);
    test::ExpectSameOnOneThread([&] {
        const Outcome run = Displace(sphere, 0.3f, settings);
        return std::tuple(run.ok, run.result.vertices.size(), run.result.indices,
            run.report.heightsHeld, run.report.pointsMeasured);
    });
}

TEST(FormatSolidDisplacementReport, PiecesAreListedTenAtATime)
{
    SolidDisplacementReport r;
    r.heightCount = 8;
    r.heightsHeld = 2;
    r.fieldPointsX = 10;
    r.fieldPointsY = 11;
    r.fieldPointsZ = 12;
    r.blocksStored = 3;
    r.fieldBytes = 2500000;
    r.pointsMeasured = 1536;
    r.cellsContoured = 400;
    r.lineWidth = 0.42f;
    for (int i = 0; i < 2; ++i)
        r.voids.push_back({{0, 0, 0}, {1, 2, 3}, 20u + i, -0.125});
    for (int i = 0; i < 14; ++i)
        r.crumbs.push_back({{1, 1, 1}, {1.5f, 1.5f, 1.5f}, 10u + i, 0.0625});
    r.voidsRemoved = 2;
    r.crumbsRemoved = 14;
    r.piecesRemoved = 16;
    r.trianglesRemoved = 250;
    r.clearanceMilliseconds = 1.4;
    r.fieldMilliseconds = 20.6;
    r.contourMilliseconds = 3;
    const std::string text = FormatSolidDisplacementReport(r);
    EXPECT_EQ(text.substr(0, text.find('\n')),
        "Solid displacement: 2 of 8 heights held to keep slots and walls open; field 10 x 11 x 12, "
        "3 blocks stored (2 MB), 1,536 points measured; 400 cells contoured; taken off as unprintable "
        "(line 0.42 mm): 2 voids and 14 crumbs under a cube of one line, 0 bodies thinner than one "
        "line (250 triangles)");
    const std::string pieces = FormatUnprintablePieces(r);
    EXPECT_EQ(text.substr(text.find('\n')), "\n  time: cap 1 ms; field 21 ms; contour 3 ms\n" + pieces);
    EXPECT_EQ(pieces.substr(0, pieces.find('\n')),
        "  void 1.00 x 2.00 x 3.00 mm at (0.50 1.00 1.50), 21 triangles, 0.12 mm3");
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start <= pieces.size(); start = end + 1) {
        end = std::min(pieces.find('\n', start), pieces.size());
        lines.push_back(pieces.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 13u);  // 2 voids, 10 crumbs, the rest counted
    EXPECT_EQ(lines[2], "  crumb 0.50 x 0.50 x 0.50 mm at (1.25 1.25 1.25), 23 triangles, 0.062 mm3");
    EXPECT_EQ(lines[12], "  and 4 more crumbs");

    SolidDisplacementReport thin;
    thin.thinBodies.push_back({{0, 0, 0}, {0.1f, 5, 5}, 40, 0.0});
    EXPECT_EQ(FormatUnprintablePieces(thin), "  thin body 0.10 x 5.00 x 5.00 mm at (0.05 2.50 2.50), 40 triangles");
}


namespace grainforge::mesh {
namespace {

// The contour phase says how far it is: fractions within 0..1 that never go back and rise
// through the phase, and the result is the one a run without a callback makes.
// The long phases report how far they are, rising, and the reports change nothing.
TEST(ApplySolidDisplacement, LongPhasesReportRisingFractions)
{
    const struct {
        const char* what;
        float cell;
    } cases[] = {{"fine cells, many blocks", 0.1f}, {"coarse cells, few blocks", 1.0f}};
    const struct {
        const char* stage;
        std::size_t leastRises;
        float leastLast;
    } phases[] = {{"Displacing: building the solid", 1, 0.5f}, {"Displacing: contouring the solid", 2, 0.9f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SolidDisplacementSettings settings;
        settings.cellMillimetres = c.cell;
        settings.baseEnabled = false;
        const TriangleMesh cube = MakeTestCube(20.0f);
        std::map<std::string, std::vector<float>> fractions;
        const ProgressCallback progress = [&](const std::string& stage, float fraction) {
            fractions[stage].push_back(fraction);
            return true;
        };
        TriangleMesh result;
        SolidDisplacementReport report;
        ASSERT_TRUE(ApplySolidDisplacement(cube, std::vector<float>(cube.vertices.size(), 0.3f), settings,
            progress, result, report, nullptr));
        for (const auto& phase : phases) {
            SCOPED_TRACE(phase.stage);
            const std::vector<float>& seen = fractions[phase.stage];
            ASSERT_GE(seen.size(), phase.leastRises + 1);
            EXPECT_EQ(seen.front(), -1.0f);  // the phase is named first
            float last = 0.0f;
            std::size_t rises = 0;
            for (std::size_t i = 1; i < seen.size(); ++i) {
                EXPECT_GE(seen[i], last) << i;
                EXPECT_LE(seen[i], 1.0f) << i;
                rises += seen[i] > last ? 1 : 0;
                last = seen[i];
            }
            EXPECT_GE(rises, phase.leastRises);
            EXPECT_GE(last, phase.leastLast);
        }

        TriangleMesh quiet;
        SolidDisplacementReport quietReport;
        ASSERT_TRUE(ApplySolidDisplacement(cube, std::vector<float>(cube.vertices.size(), 0.3f), settings,
            ProgressCallback{}, quiet, quietReport, nullptr));
        EXPECT_EQ(quiet.indices, result.indices);
        EXPECT_EQ(quiet.vertices.size(), result.vertices.size());
    }
}

}  // namespace
}  // namespace grainforge::mesh

// ---- Surface that takes no relief stays where it was --------------------------------------

// Points spread over each triangle of `mesh`: its corners, and a grid of `steps` per edge.
std::vector<Vec3> SurfaceSamples(const TriangleMesh& mesh, int steps)
{
    std::vector<Vec3> points;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
        for (int i = 0; i <= steps; ++i)
            for (int j = 0; i + j <= steps; ++j) {
                const float u = static_cast<float>(i) / static_cast<float>(steps);
                const float v = static_cast<float>(j) / static_cast<float>(steps);
                points.push_back(a * (1.0f - u - v) + b * u + c * v);
            }
    }
    return points;
}

// The largest distance from the samples of `from` that `counts` takes to the surface of `to`.
template <class Counts>
double FarthestCountedSample(const TriangleMesh& from, const TriangleMesh& to, Counts counts, int steps)
{
    AabbTree tree;
    tree.Build(to);
    double farthest = 0.0;
    for (const Vec3 p : SurfaceSamples(from, steps)) {
        if (!counts(p))
            continue;
        const NearestHit hit = tree.Nearest(to, p, {}, {}, kNoDistanceLimit);
        farthest = std::max(farthest, hit.found ? static_cast<double>(hit.distance) : 1e30);
    }
    return farthest;
}

TriangleMesh Remeshed(TriangleMesh part, float edge)
{
    RemeshSettings settings;
    settings.method = RemeshMethod::isotropic;
    settings.targetEdgeMillimetres = edge;
    settings.rounds = 2;
    (void)Remesh(part, settings, {});
    part.ComputeBounds();
    part.ComputeVertexNormals();
    return part;
}

// Inside a hard mask volume, and on faces that take no texture, the solid relief gives the
// part's own surface back: each point of the result there lies on the part, and each point of
// the part there lies on the result, to the rounding of the part's coordinates. Measured both
// ways away from the mask's edge, where the relief beside it steps down. A mask turned against
// the triangles cut them, and their corner weights carried the relief up to a triangle's width
// into it; the contour's own rounding of the edges and hollows there moved them a tenth of a
// cell more, also with a relief a thousandth of a millimetre deep, and the L prism's hollow
// moved with no texture anywhere. Put back onto a turned cube's creases, its vertices once
// folded 171 triangles over.
TEST(ApplySolidDisplacement, SurfaceThatTakesNoReliefStaysWhereItWas)
{
    MaskVolume turned;
    turned.center = {6.0f, 6.0f, 10.0f};  // over the cube's top corner, its edges inside
    turned.size = {12.0f, 12.0f, 9.0f};
    turned.rotationDegrees = {30.0f, 20.0f, 45.0f};
    turned.featherMillimetres = 0.0f;
    const TriangleMesh cube = Remeshed(MakeTestCube(20.0f), 1.0f);
    const TriangleMesh prism = Remeshed(test::MakeLPrism(), 1.0f);
    const TriangleMesh turnedCube = Remeshed(test::TurnedAboutXThenZ(MakeTestCube(20.0f), 20.0f, 30.0f), 1.0f);
    const struct Case {
        const char* what;
        const TriangleMesh& part;
        std::vector<MaskVolume> masks;
        float depth;  // the relief, mm, on the faces that take texture
        ProjectionKind kind = ProjectionKind::Box;  // a box on inner surfaces alone without masks
        // Given back to the rounding (else only without folds): creases that run across the
        // grid at a slant are still rounded by up to a cell's half.
        bool exact = true;
    } cases[] = {
        {"cube, box mask turned 30/20/45 degrees, relief 0.5 mm", cube, {turned}, 0.5f},
        {"cube, box mask turned 30/20/45 degrees, relief 0.001 mm", cube, {turned}, 0.001f},
        {"L prism, every side of the box on inner surfaces, relief 0.5 mm", prism, {}, 0.5f},
        {"cube turned 20 degrees about x and 30 about z, plane from above, relief 0.5 mm", turnedCube, {}, 0.5f,
            ProjectionKind::Plane, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Projection box = FitCageToBounds(c.kind, {c.part.boundsMin, c.part.boundsMax, 1}, 0.05f);
        if (c.masks.empty() && c.kind == ProjectionKind::Box)  // "Inner Surfaces Only" on a part with none
            std::fill(std::begin(box.boxSideSurface), std::end(box.boxSideSurface), SurfaceSide::Inside);
        const TextureWeights weights = ComputeTextureWeights(c.part, box, {}, DisplacementSettings{}, TileFrame{}, c.masks);
        std::vector<float> heights(c.part.vertices.size());
        for (std::size_t v = 0; v < heights.size(); ++v)
            heights[v] = c.depth * weights.vertexWeights[v];
        const std::vector<std::uint8_t> plain = FacesKeptPlain(c.part, weights, BaseProtection{});
        ASSERT_FALSE(plain.empty());
        SolidDisplacementSettings settings;
        settings.cellMillimetres = 0.2f;
        settings.baseEnabled = false;
        TriangleMesh result;
        SolidDisplacementReport report;
        ASSERT_TRUE(ApplySolidDisplacement(c.part, heights, settings, {}, result, report, nullptr, 0, &plain, c.masks));
        ExpectClosedAndOutward(result);
        // Three cells in from the mask's edge; without one, three cells and the relief's depth
        // from every face that takes texture.
        const double margin = 3.0 * settings.cellMillimetres;
        AabbTree partTree;
        partTree.Build(c.part);
        const auto textured = [&](std::uint32_t t) { return plain[t] != 0; };  // skips the plain
        const auto kept = [&](Vec3 p) {
            if (!c.masks.empty())
                return MaskSignedDistance(c.masks.front(), p) < -margin;
            return !partTree.Nearest(c.part, p, {}, textured, static_cast<float>(margin + c.depth)).found;
        };
        // The rounding of a coordinate of a part this size, a few times over.
        const double tolerance = 8.0 * 20.0 * std::numeric_limits<float>::epsilon();
        const double resultOff = FarthestCountedSample(result, c.part, kept, 2);
        const double partOff = FarthestCountedSample(c.part, result, kept, 4);
        if (c.exact) {
            EXPECT_LE(resultOff, tolerance);
            EXPECT_LE(partOff, tolerance);
        }
        // Put back onto the part, the result neither folds there nor crosses itself anywhere.
        for (const std::uint32_t t : FindFoldsMade(result, c.part, static_cast<float>(settings.cellMillimetres))) {
            const Vec3 corner = result.vertices[result.indices[3 * std::size_t{t}]].position;
            EXPECT_FALSE(kept(corner)) << "a fold at " << corner.x << " " << corner.y << " " << corner.z;
        }
        std::vector<std::uint32_t> pairs;
        bool stopped = false;
        FindSelfIntersections(result, {}, kNoPairLimit, pairs, stopped);
        EXPECT_EQ(pairs.size(), 0u);
        std::size_t withoutArea = 0;
        for (std::size_t t = 0; t < result.TriangleCount(); ++t)
            withoutArea += result.FaceNormal(t) == Vec3{} ? 1 : 0;
        EXPECT_EQ(withoutArea, 0u);
    }
}

}  // namespace
}  // namespace grainforge::mesh
