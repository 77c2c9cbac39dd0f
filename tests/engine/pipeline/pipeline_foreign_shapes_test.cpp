// Whole Process runs on shapes unlike the usual test cubes: thin plates, a blade, several bodies
// (apart, sharing a face, sharing an edge), a noisy scan-like sphere, a torus, a rotor of blades
// through a hub near the origin and far from it, a part far from the origin, very coarse and very fine triangle sizes and a large sphere, each with the solid
// relief and with the vertex relief; parts far from the origin also through Mesh > Repair and
// the Save STL check, and parts whose pieces lie far apart (a stray flat facet, two bodies a
// kilometre apart) through the import and then each of those, a sphere with a small cube 3 m to
// 1 km away through the import and Process, at the triangle size asked, a cube holding a hollow
// and one holding an insert through every road (each road saying what it kept), and 200 plates apart at a size so fine that they cannot fit in memory
// (refused at once). A published result must be closed, manifold, outward, free
// of triangles without area and of triangles that meet anywhere but at shared vertices (an exact
// check), and must keep the input's surface within a stated distance unless the run warned. A
// refusal with a reason is a fair outcome for a shape that cannot be processed; a "success" that
// breaks a property never is.
#include "engine/displacement/cage_gizmo.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/repair/repair_driver.h"
#include "engine/repair/repair_job.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/welding.h"
#include "engine/mesh/test_shapes.h"
#include "engine/pipeline/async_pipeline.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/exact_crossings.h"
#include "tests/support/mesh_compare.h"
#include "tests/support/mesh_of.h"
#include "tests/support/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace grainforge::mesh {
namespace {

// What a row runs: a Process, Mesh > Repair, or the Save STL check's round (cleanup at the
// part's automatic tolerance, the fixes, the slicer's read-back).
enum class Route {
    process,
    repair,
    saveCheck,
    repairThenProcess,  // a refusal's advice followed: Mesh > Repair, then Process
    repairTwice,        // Mesh > Repair, then again on its result, which must change nothing
};

bool Processes(Route route) { return route == Route::process || route == Route::repairThenProcess; }

// What a row's run may end as.
enum class Expect {
    processed,  // published, every property holds
    refused,    // failed or refused, with a reason
};

struct Row {
    const char* name;
    std::function<TriangleMesh()> make;
    float triangleSize;
    DisplacementMethod method;
    Expect expect = Expect::processed;
    // Set while a fault elsewhere breaks the row: the run still happens and its findings are
    // printed, but the row is skipped. Clear it once the fault is mended.
    const char* knownFault = nullptr;
    // Too slow without optimisation (and under the sanitizers): runs in optimised builds only.
    bool optimisedOnly = false;
    Route route = Route::process;
    // Written as a binary STL file and read by the import before the route runs.
    bool imported = false;
    // The real bodies the result is held to (every triangle kept on Repair and the Save STL
    // check, the surface within reach): the part itself when unset. A stray flat facet is no body.
    std::function<TriangleMesh()> bodies = nullptr;
    // Settings beyond the document's defaults.
    std::function<void(PipelineSettings&)> adjust = nullptr;
    // Words a refusal must hold: the cause it names.
    const char* refusalSays = nullptr;
    // Separate bodies resting against each other (a boss standing on a plate): their touching
    // triangles are no fault, and the fixes must leave them exactly where they were.
    bool bodiesTouch = false;
    // Words the route's own report must hold: Process's log, Repair's summary, or the note the
    // check before saving gives on the mesh it would write.
    const char* reportSays = nullptr;
    // Triangles the route must give back exactly as they came (corner positions in their turn),
    // left out of the properties: a sheet no repair can decide.
    std::function<TriangleMesh()> leftAsIs = nullptr;
    // A body of the part the result must still hold, with its volume, however few triangles it
    // has beside the others.
    std::function<TriangleMesh()> keeps = nullptr;
    // Under a plane from above: the faces of the part not turned up take no texture and stay in
    // their planes (CheckPlainFacesHeld), and the part has no edge sharper than 90 degrees, so
    // that one in the result is a fold.
    bool plainFacesHeld = false;
    // The largest share of the textured vertices the vertex relief's guards may hold under half
    // their depth: a guard that flattens the whole place round a fold takes the texture away.
    double mostHeldBack = 1.0;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

HeightMap NoiseMap()
{
    constexpr std::int32_t kSide = 64;
    const std::unique_ptr<procedural::ProceduralTexture> noise = procedural::CreateProceduralTexture("Noise");
    HeightMap map;
    map.SetImage(kSide, kSide, noise->RenderImage(kSide, kSide));
    return map;
}

// The settings the document sends for a part with a texture loaded, at the row's triangle size.
PipelineSettings SettingsFor(const Row& row)
{
    PipelineSettings s;
    s.remeshOn = 1;
    s.remesh.targetEdgeMillimetres = row.triangleSize;
    s.displacementOn = 1;
    s.displacement.method = row.method;
    s.simplifyOn = 1;
    s.cleanup.weldCollapsedTriangles = false;
    s.cleanup.fillHoles = false;
    if (row.adjust)
        row.adjust(s);
    return s;
}

struct Outcome {
    bool failed = false;
    std::string message;
    TriangleMesh mesh;
    PipelineReport report;
    Route route = Route::process;
    bool bodiesTouch = false;
    std::string said = {};  // the route's own report (reportSays)
};

Outcome RunProcess(const TriangleMesh& part, const PipelineSettings& settings)
{
    AsyncPipeline pipeline;
    pipeline.SetSource(part);
    pipeline.SetHeightMap(NoiseMap());
    pipeline.Request(settings);
    pipeline.WaitForFullResult();
    const PipelineStatus status = pipeline.GetStatus();
    const bool failed = status.failed || pipeline.PublishedReport().refused != 0;
    // A refusal publishes nothing: its own report says where it stopped.
    Outcome outcome{failed, status.message, pipeline.PublishedMesh(),
        failed ? pipeline.Stages().report : pipeline.PublishedReport()};
    outcome.said = FormatPipelineReport(outcome.report);
    return outcome;
}

// Mesh > Repair, or one round of the Save STL check (its result the mesh as the slicer reads
// the file back); a refused read-back fails with its reason.
Outcome RunRoute(const Row& row, const TriangleMesh& given, const PipelineSettings& settings)
{
    TriangleMesh part = given;
    if (row.imported) {
        StlReadResult read = ParseStl(EncodeBinaryStl(given, "foreign"), "foreign.stl", StlReadOptions{});
        if (!read.ok)
            return {true, read.error, {}, {}};
        // What the import says describes the file: a closed one stays closed.
        if (CountEdges(given).boundary == 0 && read.report.openBoundaryEdges != 0)
            return {true, "the import opened a closed file:\n" + FormatImportReport(read.report), {}, {}};
        part = std::move(read.mesh);
    }
    if (row.route == Route::repairThenProcess)
        static_cast<void>(RepairForPrint(part, {}));
    if (Processes(row.route))
        return RunProcess(part, settings);
    Outcome outcome{false, {}, part, {}};
    outcome.report.sourceTriangles = part.TriangleCount();
    if (row.route == Route::repair || row.route == Route::repairTwice) {
        outcome.said = FormatRepairSummary(RepairForPrint(outcome.mesh, {}));
        if (row.route == Route::repairTwice) {
            TriangleMesh again = outcome.mesh;
            outcome.said = FormatRepairSummary(RepairForPrint(again, {}));
            if (const ::testing::AssertionResult same = test::Identical(again, outcome.mesh); !same)
                return {true, "a second Repair changed the part (" + std::string(same.message()) + "):\n" + outcome.said, {}, {}};
        }
        return outcome;
    }
    // The round the check runs, as Mesh > Repair runs it too.
    const RepairOptions fixes;
    static_cast<void>(RunFixRound(outcome.mesh, kAutomaticWeldTolerance, ExportCleanupOptions{}, &fixes, {},
        CountBodies(part)));
    const ReadBackCounts read = ReadBackAsSlicer(outcome.mesh);
    outcome.failed = !read.ok;
    outcome.message = read.error;
    const std::vector<NestedBody> nested = ValidateAsWritten(outcome.mesh, ValidationOptions{}).nestedBodies;
    outcome.said = FormatNestedBodies(nested, NestedBodyRole::insert) + "\n" + FormatNestedBodies(nested, NestedBodyRole::hollow);
    return outcome;
}

using Findings = std::vector<std::string>;

// Every edge used by exactly two triangles, once in each direction, and the triangles round
// every vertex one fan.
void CheckClosedAndManifold(const TriangleMesh& mesh, Findings& findings)
{
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> directed;
    for (std::size_t c = 0; c < mesh.indices.size(); ++c) {
        const std::uint32_t from = mesh.indices[c];
        const std::uint32_t to = mesh.indices[c - c % 3 + (c + 1) % 3];
        ++directed[{from, to}];
    }
    std::uint64_t open = 0;
    std::uint64_t repeated = 0;
    for (const auto& [edge, uses] : directed) {
        repeated += uses > 1;
        open += directed.find({edge.second, edge.first}) == directed.end();
    }
    if (open != 0)
        findings.push_back("not closed: " + std::to_string(open) + " edges without a partner");
    if (repeated != 0)
        findings.push_back("not manifold: " + std::to_string(repeated) + " edges run twice the same way");
    if (open != 0 || repeated != 0)
        return;
    // Round each vertex: the far edge of each of its triangles, from -> to; one cycle.
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> fans(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        for (int k = 0; k < 3; ++k) {
            fans[mesh.indices[3 * t + k]].emplace_back(
                mesh.indices[3 * t + (k + 1) % 3], mesh.indices[3 * t + (k + 2) % 3]);
        }
    }
    std::uint64_t pinched = 0;
    for (auto& fan : fans) {
        if (fan.empty())
            continue;
        std::sort(fan.begin(), fan.end());
        std::size_t steps = 0;
        std::uint32_t at = fan[0].first;
        do {
            const auto next = std::lower_bound(fan.begin(), fan.end(), std::make_pair(at, std::uint32_t{0}));
            if (next == fan.end() || next->first != at)
                break;
            at = next->second;
            ++steps;
        } while (at != fan[0].first && steps <= fan.size());
        pinched += steps != fan.size();
    }
    if (pinched != 0)
        findings.push_back("not manifold: " + std::to_string(pinched) + " vertices with more than one fan");
}

double SignedVolume(const TriangleMesh& mesh)
{
    const Vec3 centre = (mesh.boundsMin + mesh.boundsMax) * 0.5f;
    double volume = 0.0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        double p[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 v = mesh.vertices[mesh.indices[3 * t + k]].position;
            p[k][0] = double(v.x) - centre.x;
            p[k][1] = double(v.y) - centre.y;
            p[k][2] = double(v.z) - centre.z;
        }
        volume += (p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
                      + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]))
            / 6.0;
    }
    return volume;
}

// Points spread over the input by area (seeded) and its vertices, at most some 6000. A triangle
// present twice (the wall between two bodies sharing a face) lies inside the part: no samples.
std::vector<Vec3> SamplesOf(const TriangleMesh& input)
{
    std::map<std::array<std::uint32_t, 3>, int> uses;
    const auto cornersOf = [&](std::size_t t) {
        std::array<std::uint32_t, 3> c{input.indices[3 * t], input.indices[3 * t + 1], input.indices[3 * t + 2]};
        std::sort(c.begin(), c.end());
        return c;
    };
    for (std::size_t t = 0; t < input.TriangleCount(); ++t)
        ++uses[cornersOf(t)];
    std::vector<double> cumulative;
    double total = 0.0;
    for (std::size_t t = 0; t < input.TriangleCount(); ++t) {
        const Vec3 a = input.vertices[input.indices[3 * t]].position;
        if (uses[cornersOf(t)] == 1) {
            total += 0.5 * Length(Cross(input.vertices[input.indices[3 * t + 1]].position - a,
                               input.vertices[input.indices[3 * t + 2]].position - a));
        }
        cumulative.push_back(total);
    }
    std::vector<Vec3> samples;
    const std::size_t vertexStep = std::max<std::size_t>(1, input.vertices.size() / 2000);
    for (std::size_t v = 0; v < input.vertices.size(); v += vertexStep)
        samples.push_back(input.vertices[v].position);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 4000 && total > 0.0; ++i) {
        const std::size_t t = std::min<std::size_t>(
            std::lower_bound(cumulative.begin(), cumulative.end(), unit(random) * total) - cumulative.begin(),
            input.TriangleCount() - 1);
        double u = unit(random);
        double w = unit(random);
        if (u + w > 1.0) {
            u = 1.0 - u;
            w = 1.0 - w;
        }
        const Vec3 a = input.vertices[input.indices[3 * t]].position;
        const Vec3 b = input.vertices[input.indices[3 * t + 1]].position;
        const Vec3 c = input.vertices[input.indices[3 * t + 2]].position;
        samples.push_back(a + (b - a) * static_cast<float>(u) + (c - a) * static_cast<float>(w));
    }
    return samples;
}

// The input's surface near the result: the farthest sample from the result.
float FarthestInputSample(const TriangleMesh& input, const TriangleMesh& result)
{
    AabbTree tree;
    tree.Build(result);
    float farthest = 0.0f;
    for (const Vec3& p : SamplesOf(input)) {
        const NearestHit hit = tree.Nearest(result, p, {}, {}, kNoDistanceLimit);
        farthest = std::max(farthest, hit.found ? hit.distance : kNoDistanceLimit);
    }
    return farthest;
}

// Beside a crease a plain face may stand past its plane by this much, as the relief's cut at
// the plane leaves it; away from its rim only by rounding.
constexpr float kPlainCreaseAllowance = 0.025f;
constexpr float kPlainInnerAllowance = 0.005f;
// A millimetre from any face of another plane a point lies inside its own face.
constexpr float kPlainRimReach = 1.0f;

// A face the projection does not texture (a face of `part` not turned up, under a plane from
// above) stays in its plane however the part is turned: a result vertex whose nearest point of
// the part lies on one stands off it by rounding only inside the face, and past it by no more
// than the crease allowance beside a crease, concave or convex. The bed hold lays the vertices
// within half a cell of the bed onto it: those are the bed's.
void CheckPlainFacesHeld(const TriangleMesh& part, const TriangleMesh& result, Findings& findings)
{
    AabbTree tree;
    tree.Build(part);
    float inner = 0.0f;
    float past = 0.0f;
    for (const MeshVertex& vertex : result.vertices) {
        const Vec3 v = vertex.position;
        if (v.z <= part.boundsMin.z)
            continue;
        const NearestHit hit = tree.Nearest(part, v, {}, {}, kPlainRimReach);
        const Vec3 n = hit.found ? part.FaceNormal(static_cast<std::size_t>(hit.triangle)) : Vec3{};
        if (!hit.found || !(n.z <= 1e-3f))
            continue;
        const float off = Dot(v - hit.point, n);
        const auto otherPlane = [&](std::uint32_t t) {
            const Vec3 m = part.FaceNormal(t);
            const Vec3 corner = part.vertices[part.indices[3 * t]].position;
            return Dot(m, n) < 0.9999f || std::abs(Dot(corner - hit.point, n)) > 1e-3f;
        };
        const bool rim =
            tree.Nearest(part, v, {}, [&](std::uint32_t t) { return !otherPlane(t); }, kPlainRimReach).found;
        (rim ? past : inner) = std::max(rim ? past : inner, rim ? off : std::abs(off));
    }
    if (inner > kPlainInnerAllowance)
        findings.push_back("a plain face's inner vertex stands " + std::to_string(inner) + " mm off its plane");
    if (past > kPlainCreaseAllowance)
        findings.push_back("a vertex stands " + std::to_string(past) + " mm past a plain face beside a crease");
}

// Edges whose triangles' normals lie more than 120 degrees apart.
std::uint64_t CountFoldedEdges(const TriangleMesh& mesh)
{
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::size_t>> edges;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t a = mesh.indices[3 * t + k];
            const std::uint32_t b = mesh.indices[3 * t + (k + 1) % 3];
            edges[{std::min(a, b), std::max(a, b)}].push_back(t);
        }
    std::uint64_t folded = 0;
    for (const auto& [edge, triangles] : edges)
        folded += triangles.size() == 2 && Dot(mesh.FaceNormal(triangles[0]), mesh.FaceNormal(triangles[1])) < -0.5f;
    return folded;
}

// Whether the run warned about the result: a failure text, thin walls, or a validation verdict
// other than good.
bool Warned(const PipelineReport& report)
{
    return !report.message.empty() || report.walls.thinnedPlaces != 0 || report.walls.alreadyThinPlaces != 0
        || (report.validated && report.validation.verdict != Verdict::Good);
}

// How far the input may lie from the result: twice the largest move of the relief (corners
// move further than faces), three triangle sizes for the remesh, and a few float steps at the
// part's coordinates.
float AllowedDistance(const TriangleMesh& input, const PipelineSettings& settings)
{
    const DisplacementSettings& d = settings.displacement;
    const float move = std::abs(d.strengthMillimetres) * std::max(d.midLevel, 1.0f - d.midLevel);
    const float reach = std::max({std::abs(input.boundsMin.x), std::abs(input.boundsMin.y), std::abs(input.boundsMin.z),
        std::abs(input.boundsMax.x), std::abs(input.boundsMax.y), std::abs(input.boundsMax.z)});
    return 2.0f * move + 3.0f * settings.remesh.targetEdgeMillimetres + 8.0f * (std::nextafter(reach, 3e38f) - reach);
}

Findings PropertiesOf(const TriangleMesh& input, const PipelineSettings& settings, const Outcome& outcome)
{
    Findings findings;
    const TriangleMesh& mesh = outcome.mesh;
    if (mesh.TriangleCount() == 0 || !mesh.IsConsistent()) {
        findings.push_back("published an empty or inconsistent mesh as a success");
        return findings;
    }
    CheckClosedAndManifold(mesh, findings);
    const double volume = SignedVolume(mesh);
    if (!(volume > 0.0))
        findings.push_back("not outward: signed volume " + std::to_string(volume));
    if (const std::uint64_t flat = test::CountTrianglesWithoutArea(mesh); flat != 0)
        findings.push_back(std::to_string(flat) + " triangles without area");
    const auto pairs = outcome.bodiesTouch ? test::FindPairsThroughGrid(mesh, test::PairRule::crossing)
                                           : test::FindMeetingPairsThroughGrid(mesh);
    if (!pairs.empty()) {
        findings.push_back(std::to_string(pairs.size()) + " pairs of triangles meet, first " + std::to_string(pairs[0].first)
            + " and " + std::to_string(pairs[0].second));
        // The run's own check must have seen them, wherever the part lies.
        const ValidationReport& check = outcome.report.validation;
        if (outcome.report.validated && check.selfIntersectionsChecked && check.selfIntersectingTriangleCount == 0)
            findings.push_back("the run's own check (of the mesh as written) counted no triangle passing through another");
    }
    if (!Processes(outcome.route) && mesh.TriangleCount() < input.TriangleCount()) {
        findings.push_back("lost triangles: " + std::to_string(input.TriangleCount()) + " -> "
            + std::to_string(mesh.TriangleCount()));
    }
    // Repair and the Save STL check move vertices by float steps at most (a part far out loses a
    // little volume to them): a hollow turned out would add twice its own.
    if (outcome.route != Route::process) {
        TriangleMesh bounded = input;
        bounded.ComputeBounds();
        const double before = SignedVolume(bounded);
        if (std::abs(volume - before) > 0.02 * std::abs(before))
            findings.push_back("volume " + std::to_string(before) + " -> " + std::to_string(volume));
    }
    if (outcome.bodiesTouch && !(mesh.boundsMin == input.boundsMin && mesh.boundsMax == input.boundsMax))
        findings.push_back("the fixes moved bodies resting against each other");
    // No part here is too large for its triangles: the remesh keeps the size asked.
    const RemeshReport& remesh = outcome.report.remeshReport;
    if (Processes(outcome.route) && remesh.contour && remesh.cellMillimetres != settings.remesh.targetEdgeMillimetres)
        findings.push_back("remeshed at " + std::to_string(remesh.cellMillimetres) + " mm, not the size asked");
    const float allowed = AllowedDistance(input, settings);
    if (const float farthest = FarthestInputSample(input, mesh); farthest > allowed && !Warned(outcome.report)) {
        findings.push_back("input surface " + std::to_string(farthest) + " mm from the result (allowed "
            + std::to_string(allowed) + " mm) without a warning");
    }
    return findings;
}

std::string Joined(const Findings& findings)
{
    std::ostringstream text;
    for (const std::string& f : findings)
        text << "\n  " << f;
    return text.str();
}

bool HoldsReversedCopies(TriangleMesh part)
{
    const RepeatedFacesReport pairs = RemoveDoubleSkinnedPairs(part);
    return pairs.Changed() || pairs.pairsLeft != 0;
}

// A triangle's corner positions, turned so that the least corner comes first: the winding stays.
std::array<float, 9> TurnedCorners(const TriangleMesh& mesh, std::size_t t)
{
    std::array<std::array<float, 3>, 3> p;
    for (int k = 0; k < 3; ++k) {
        const Vec3 v = mesh.vertices[mesh.indices[3 * t + k]].position;
        p[k] = {v.x, v.y, v.z};
    }
    const int first = static_cast<int>(std::min_element(p.begin(), p.end()) - p.begin());
    std::array<float, 9> corners;
    for (int k = 0; k < 3; ++k)
        std::copy(p[(first + k) % 3].begin(), p[(first + k) % 3].end(), corners.begin() + 3 * k);
    return corners;
}

// Takes the triangles of `left` out of `result`; a finding for each one `result` lacks.
void TakeOutTrianglesLeftAsIs(const TriangleMesh& left, TriangleMesh& result, Findings& findings)
{
    std::multimap<std::array<float, 9>, std::size_t> byCorners;
    for (std::size_t t = 0; t < result.TriangleCount(); ++t)
        byCorners.emplace(TurnedCorners(result, t), t);
    std::vector<std::uint8_t> taken(result.TriangleCount(), 0);
    std::uint64_t missing = 0;
    for (std::size_t t = 0; t < left.TriangleCount(); ++t) {
        const auto found = byCorners.find(TurnedCorners(left, t));
        if (found == byCorners.end()) {
            ++missing;
            continue;
        }
        taken[found->second] = 1;
        byCorners.erase(found);
    }
    if (missing != 0)
        findings.push_back(std::to_string(missing) + " triangles to be left as they were are changed or gone");
    std::vector<std::uint32_t> kept;
    for (std::size_t t = 0; t < taken.size(); ++t)
        if (!taken[t])
            kept.insert(kept.end(), result.indices.begin() + 3 * t, result.indices.begin() + 3 * t + 3);
    result.indices = std::move(kept);
}

// A body of the result lying where `body` lies (its box within `reach` of the body's box) and
// holding at least half its volume: a remesh or relief moves the surface, it does not empty it.
void CheckBodyKept(const TriangleMesh& body, const TriangleMesh& result, float reach, Findings& findings)
{
    std::uint32_t count = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(result, count);
    const std::vector<CrumbRecord> bodies = MeasureBodies(result, bodyOf, count);
    TriangleMesh measured = body;
    measured.ComputeBounds();
    const double volume = SignedVolume(measured);
    const auto near = [&](float a, float b) { return std::abs(a - b) <= reach; };
    for (const CrumbRecord& b : bodies)
        if (near(b.boxMin.x, measured.boundsMin.x) && near(b.boxMin.y, measured.boundsMin.y)
            && near(b.boxMin.z, measured.boundsMin.z) && near(b.boxMax.x, measured.boundsMax.x)
            && near(b.boxMax.y, measured.boundsMax.y) && near(b.boxMax.z, measured.boundsMax.z)
            && b.volume >= 0.5 * volume)
            return;
    findings.push_back("the body of " + std::to_string(volume) + " mm3 at (" + std::to_string(measured.boundsMin.x)
        + ", " + std::to_string(measured.boundsMin.y) + ", " + std::to_string(measured.boundsMin.z)
        + ") is gone from the result");
}

class ForeignShape : public ::testing::TestWithParam<Row> {};

TEST_P(ForeignShape, ProcessPublishesASoundSolidOrRefuses)
{
    const Row& row = GetParam();
#ifndef NDEBUG
    if (row.optimisedOnly)
        GTEST_SKIP() << "too slow without optimisation";
#endif
    const TriangleMesh part = row.make();
    const PipelineSettings settings = SettingsFor(row);
    Outcome outcome = RunRoute(row, part, settings);
    outcome.route = row.route;
    outcome.bodiesTouch = row.bodiesTouch;
    const TriangleMesh bodies = row.bodies ? row.bodies() : part;
    std::cout << row.name << ": " << outcome.report.sourceTriangles << " -> " << outcome.mesh.TriangleCount()
              << " triangles, relief " << outcome.report.displacementReport.relief << " mm, thin bodies removed "
              << outcome.report.solidReport.thinBodiesRemoved << ", bodies " << CountBodies(outcome.mesh) << ", farthest "
              << (outcome.failed ? 0.0f : FarthestInputSample(bodies, outcome.mesh)) << " mm"
              << (outcome.failed ? ", refused: " + outcome.message : "") << "\n";
    Findings findings;
    if (outcome.failed) {
        if (outcome.message.empty())
            findings.push_back("refused or failed without a reason");
        if (row.expect == Expect::processed)
            findings.push_back("refused: " + outcome.message);
        else if (row.refusalSays != nullptr && outcome.message.find(row.refusalSays) == std::string::npos)
            findings.push_back("refused without naming its cause: " + outcome.message);
        // Memory is refused on the estimate, before any grid is contoured.
        const RemeshReport& remesh = outcome.report.remeshReport;
        if (remesh.failure == RemeshFailure::gridTooLarge && !remesh.stageTimes.empty())
            findings.push_back("refused for memory after contouring had begun");
    } else {
        Findings left;
        if (row.leftAsIs)
            TakeOutTrianglesLeftAsIs(row.leftAsIs(), outcome.mesh, left);
        findings = PropertiesOf(bodies, settings, outcome);
        // A body the run merged (an insert made one solid with the cube round it) leaves no
        // shell of its own behind.
        if (Processes(row.route) && row.bodies && CountBodies(outcome.mesh) > CountBodies(bodies))
            findings.push_back("the result holds " + std::to_string(CountBodies(outcome.mesh)) + " bodies, the part "
                + std::to_string(CountBodies(bodies)));
        findings.insert(findings.end(), left.begin(), left.end());
        if (row.keeps)
            CheckBodyKept(row.keeps(), outcome.mesh, AllowedDistance(bodies, settings), findings);
        // Facets a part holds in both windings read as walls whatever the triangle size.
        if (Processes(row.route) && HoldsReversedCopies(part)
            && FormatRunSurfaceLoss(outcome.report).find("smaller triangle size") != std::string::npos)
            findings.push_back("advised a smaller triangle size for facets written both ways round: "
                + FormatRunSurfaceLoss(outcome.report));
        if (row.expect == Expect::refused)
            findings.push_back("processed where a refusal was expected");
        // The relief leaves no fold, and a run whose relief says it left some is never called good.
        if (const std::uint64_t folds = outcome.report.displacementReport.foldedLeft; folds != 0)
            findings.push_back("the relief left " + std::to_string(folds) + " triangles folded"
                + (Warned(outcome.report) ? std::string() : ", called good: " + outcome.said));
        if (row.plainFacesHeld) {
            CheckPlainFacesHeld(part, outcome.mesh, findings);
            const std::uint64_t folded = row.method == DisplacementMethod::mesh ? CountFoldedEdges(outcome.mesh) : 0;
            if (folded != 0)
                findings.push_back(std::to_string(folded) + " edges folded (normals over 120 degrees apart)");
        }
        const DisplacementReport& relief = outcome.report.displacementReport;
        if (relief.texturedVertices != 0
            && static_cast<double>(relief.heldBackVertices) > row.mostHeldBack * static_cast<double>(relief.texturedVertices))
            findings.push_back("the relief's guards held " + std::to_string(relief.heldBackVertices) + " of "
                + std::to_string(relief.texturedVertices) + " textured vertices under half their depth");
        // A far piece kept as it was, untextured, is a problem the verdict counts.
        const std::vector<std::string>& problems = outcome.report.validation.problems;
        for (const OwnScalePiece& piece : outcome.report.ownScalePieces)
            if (piece.kept && std::find(problems.begin(), problems.end(), FormatOwnScalePieceText(piece)) == problems.end())
                findings.push_back("a far piece kept as it was is no problem of the check: " + outcome.said);
        if (row.reportSays != nullptr && outcome.said.find(row.reportSays) == std::string::npos)
            findings.push_back("the report does not say \"" + std::string(row.reportSays) + "\":\n" + outcome.said);
    }
    if (row.knownFault != nullptr) {
        // Until the fault is mended the run must at least not call the result good.
        std::cout << "known fault: " << row.knownFault << Joined(findings) << "\n";
        if (!findings.empty()) {
            EXPECT_TRUE(Warned(outcome.report)) << row.name << " was called good" << Joined(findings);
        }
        return;
    }
    EXPECT_TRUE(findings.empty()) << row.name << Joined(findings);
}

// The checker the table relies on, on small cases whose answer is known.
TEST(MeetingPairsThroughGrid, FindsCrossingsTouchesAndFoldsOnly)
{
    const std::vector<Vec3> points = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 1, -1}, {1, 1, 1}, {3, 3, 1},
        {1, -2, 0}, {-2, 1, 0}, {1, 1, 0}, {4, 4, 0}};
    const struct {
        const char* name;
        std::vector<std::uint32_t> indices;
        std::size_t pairs;
    } cases[] = {
        {"one pierces the other", {0, 1, 2, 3, 4, 5}, 1},
        {"coplanar, overlapping, no shared corner", {0, 1, 2, 8, 6, 7}, 1},
        {"coplanar, sharing a corner, overlapping", {0, 1, 2, 0, 8, 6}, 1},
        {"coplanar, sharing a corner, apart", {0, 1, 2, 0, 6, 7}, 0},
        {"sharing an edge, folded onto one side", {0, 1, 2, 1, 0, 8}, 1},
        {"sharing an edge, opening flat", {0, 1, 2, 1, 0, 6}, 0},
        {"sharing an edge, bent", {0, 1, 2, 1, 0, 3}, 0},
        {"a triangle twice", {0, 1, 2, 2, 1, 0}, 1},
        {"sharing a corner, crossing beyond it", {0, 1, 2, 0, 3, 5}, 1},
        {"sharing a corner, touching only there", {0, 1, 2, 0, 6, 3}, 0},
    };
    for (const auto& c : cases) {
        TriangleMesh mesh;
        for (const Vec3& p : points)
            mesh.vertices.push_back({p, {}});
        mesh.indices = c.indices;
        mesh.ComputeBounds();
        EXPECT_EQ(test::FindMeetingPairsThroughGrid(mesh).size(), c.pairs) << c.name;
    }
    // A closed sphere of 9,024 triangles has none; pushing one vertex through the far side makes
    // its triangles cross that side.
    TriangleMesh sphere = MakeTestSphere(10.0f);
    EXPECT_TRUE(test::FindMeetingPairsThroughGrid(sphere).empty());
    sphere.vertices[0].position = sphere.vertices[0].position * -1.2f;
    EXPECT_FALSE(test::FindMeetingPairsThroughGrid(sphere).empty());
}

constexpr DisplacementMethod kSolid = DisplacementMethod::solid;
constexpr DisplacementMethod kVertex = DisplacementMethod::mesh;

TriangleMesh ThinPlate() { return test::MakeBox({0.0f, 0.0f, 0.0f}, {20.0f, 20.0f, 0.5f}); }
TriangleMesh Blade() { return test::MakeWedge(20.0f, 10.0f, 2.0f, 0.05f); }
TriangleMesh BoxesSharingAFace() { return test::MakeWeldedCubePair({10.0f, 0.0f, 0.0f}); }
TriangleMesh BoxesSharingAnEdge() { return test::MakeWeldedCubePair({10.0f, 10.0f, 0.0f}); }
TriangleMesh NoisySphere() { return test::MakeNoisySphere(7, 10.0f, 0.3f, 48, 96); }
TriangleMesh Torus() { return test::MakeTorus(15.0f, 5.0f, 96, 48); }
TriangleMesh FarCube() { return test::Translated(MakeTestCube(20.0f), {1.0e6f, 1.0e6f, 0.0f}); }
TriangleMesh FarSphere() { return test::Translated(test::MakeBumpySphere(10.0f, 0.0f, 24, 48), {1.0e6f, 1.0e6f, 0.0f}); }
TriangleMesh FarBoxesSharingAnEdge() { return test::Translated(BoxesSharingAnEdge(), {1.0e6f, 1.0e6f, 0.0f}); }
// A hub with two blades through it, bodies crossing each other as exports of a rotor write them.
TriangleMesh Rotor()
{
    TriangleMesh rotor = MakeTestCylinder(5.0f, 10.0f);
    rotor = test::Combined(std::move(rotor), test::MakeBox({-14.0f, -1.0f, -3.0f}, {14.0f, 1.0f, 3.0f}));
    return test::Combined(std::move(rotor), test::MakeBox({-1.0f, -14.0f, -3.0f}, {1.0f, 14.0f, 3.0f}));
}
TriangleMesh FarRotor() { return test::Translated(Rotor(), {1.0e6f, 1.0e6f, 0.0f}); }
// The blades' faces inside the hub are no surface of the part: the hub and the blades' outer
// faces are, and the hub's side lies within a blade's half thickness of them.
TriangleMesh Hub() { return MakeTestCylinder(5.0f, 10.0f); }
TriangleMesh FarHub() { return test::Translated(Hub(), {1.0e6f, 1.0e6f, 0.0f}); }
TriangleMesh Cube20() { return MakeTestCube(20.0f); }
TriangleMesh Cube2() { return MakeTestCube(2.0f); }
TriangleMesh Sphere200k() { return test::MakeBumpySphere(20.0f, 0.0f, 317, 316); }
// The open test sphere with a flat facet 1e6 mm out, and the sphere alone as its real body.
TriangleMesh SphereWithStrayFacet() { return test::MakeOpenSphereWithStrayFacet({1e6f, 1e6f, 1e6f}); }
TriangleMesh OpenSphere()
{
    TriangleMesh sphere = SphereWithStrayFacet();
    sphere.vertices.resize(sphere.vertices.size() - 3);
    sphere.indices.resize(sphere.indices.size() - 3);
    sphere.ComputeBounds();
    return sphere;
}
// Two closed bodies 1 km apart: the sphere at the origin, a 5 mm cube 1e6 mm out.
TriangleMesh BodiesAKilometreApart() { return test::MakeSphereAndFarCube({1e6f, 1e6f, 0.0f}); }
// A 30 mm sphere with a 1 mm cube 3 m, 100 m and 1 km away: the cube's own grid keeps the sphere's
// triangles at the size asked.
TriangleMesh SphereWithCubeAt(Vec3 at) { return test::Combined(MakeTestSphere(15.0f), test::Translated(MakeTestCube(1.0f), at)); }
TriangleMesh SphereWithCube3mAway() { return SphereWithCubeAt({2121.0f, 2121.0f, 0.0f}); }
TriangleMesh SphereWithCube100mAway() { return SphereWithCubeAt({70711.0f, 70711.0f, 0.0f}); }
TriangleMesh SphereWithCube1kmAway() { return SphereWithCubeAt({707110.0f, 707110.0f, 0.0f}); }
// Two bodies 30 mm apart, both 1e6 mm out: the part, not a piece of it, lies too far out.
TriangleMesh TwoCubesFarOut()
{
    return test::Translated(test::Combined(MakeTestCube(10.0f), test::Translated(MakeTestCube(10.0f), {30.0f, 0, 0})),
        {1.0e6f, 1.0e6f, 0.0f});
}
void FinerThanTheStep(PipelineSettings& s) { s.remesh.targetEdgeMillimetres = 0.05f; }
// 10 km out a coordinate steps by 0.5 mm, coarser than the triangles asked: the piece is named.
TriangleMesh SphereWithCube10kmAway() { return SphereWithCubeAt({7071068.0f, 7071068.0f, 0.0f}); }
// A 100 mm cube with a 1 mm cube far out on one axis, its corners on whole millimetres (1e7 mm
// out a coordinate steps by 1 mm, and the cube is one step across).
TriangleMesh Cube100WithCubeAt(float x, float edge = 1.0f)
{
    return test::Combined(test::Translated(MakeTestCube(100.0f), {50.0f, 50.0f, 50.0f}),
        test::Translated(test::Translated(MakeTestCube(edge), {edge * 0.5f, 0.0f, 0.0f}), {x, 0.0f, 0.0f}));
}
TriangleMesh FarCube1e7() { return test::Translated(test::Translated(MakeTestCube(1.0f), {0.5f, 0.0f, 0.0f}), {1.0e7f, 0.0f, 0.0f}); }
TriangleMesh Cube100WithCube1e5Out() { return Cube100WithCubeAt(1.0e5f); }
TriangleMesh Cube100WithCube1e6Out() { return Cube100WithCubeAt(1.0e6f); }
TriangleMesh Cube100WithCube1e7Out() { return Cube100WithCubeAt(1.0e7f); }
TriangleMesh Cube100WithCube4At1e7() { return Cube100WithCubeAt(1.0e7f, 4.0f); }
TriangleMesh Cube100At1e6() { return test::Translated(MakeTestCube(100.0f), {1.0e6f, 1.0e6f, 50.0f}); }

// 200 plates 20 x 20 x 0.05 mm, 0.05 mm apart: each lies apart at the finest cell its size
// allows, and their grids and results together need far more memory than any machine has.
TriangleMesh ManyPlates()
{
    TriangleMesh plates;
    for (int i = 0; i < 200; ++i) {
        const float z = 0.1f * static_cast<float>(i);
        plates = test::Combined(std::move(plates), test::MakeBox({0.0f, 0.0f, z}, {20.0f, 20.0f, z + 0.05f}));
    }
    return plates;
}
void NoTriangleLimit(PipelineSettings& s) { s.maximumTriangles = 0; }
void DeepRelief(PipelineSettings& s) { s.displacement.strengthMillimetres = 1.5f; }
void NoRemesh(PipelineSettings& s) { s.remeshOn = 0; }
// An 8 mm sphere of some 0.2 mm triangles 1e6 mm out: its own triangles are too fine there.
TriangleMesh FarFineSphere() { return test::Translated(MakeTestSphere(4.0f), {1.0e6f, 1.0e6f, 0.0f}); }
constexpr const char* kFarRotorAdvice = "Nothing was changed; a triangle size of at least 0.50 mm lets it run, as "
                                        "does the part moved nearer the origin in the program that made it.";
void ReliefOneMillimetreDeep(PipelineSettings& s) { s.displacement.strengthMillimetres = 1.0f; }

const Row kRows[] = {
    {"thin plate, solid", ThinPlate, 0.3f, kSolid},
    {"thin plate, vertex", ThinPlate, 0.3f, kVertex},
    {"blade, solid", Blade, 0.3f, kSolid},
    {"blade, vertex", Blade, 0.3f, kVertex},
    // At 0.4 mm the sharp vertices of the contour at the blade's edge leaned across each other.
    {"blade at 0.4 mm, solid", Blade, 0.4f, kSolid},
    {"two boxes apart, solid", test::MakeTwoCubes, 0.5f, kSolid},
    {"two boxes apart, vertex", test::MakeTwoCubes, 0.5f, kVertex},
    {"boxes sharing a face, solid", BoxesSharingAFace, 0.3f, kSolid},
    {"boxes sharing a face, vertex", BoxesSharingAFace, 0.3f, kVertex},
    {"boxes sharing an edge, solid", BoxesSharingAnEdge, 0.3f, kSolid},
    {"boxes sharing an edge, vertex", BoxesSharingAnEdge, 0.3f, kVertex},
    {"noisy sphere, solid", NoisySphere, 0.3f, kSolid},
    {"noisy sphere, vertex", NoisySphere, 0.3f, kVertex},
    // 2 mm deep at 0.3 mm triangles the relief folds in many places; taking back only what
    // folds keeps most of it (44% held, where easing the place round each fold held 68%).
    {"noisy sphere, vertex 2 mm deep", NoisySphere, 0.3f, kVertex, Expect::processed, nullptr, false, Route::process,
        false, nullptr, [](PipelineSettings& s) { s.displacement.strengthMillimetres = 2.0f; }, nullptr, false,
        nullptr, nullptr, nullptr, false, 0.55},
    {"torus, solid", Torus, 0.3f, kSolid},
    {"torus, vertex", Torus, 0.3f, kVertex},
    {"cube at 1e6 mm, solid", FarCube, 0.5f, kSolid},
    {"cube at 1e6 mm, vertex", FarCube, 0.5f, kVertex},
    {"the rotor, solid", Rotor, 0.2f, kSolid, Expect::processed, nullptr, false, Route::process, false, Hub},
    // 1e6 mm out a coordinate steps by 0.0625 mm, too coarse for 0.2 mm cells: the relief's
    // corners would round onto one another. The size the refusal advises, followed, runs sound.
    {"the far rotor, solid", FarRotor, 0.2f, kSolid, Expect::refused, nullptr, false, Route::process, false, FarHub,
        nullptr, kFarRotorAdvice},
    {"the far rotor at the advised size, solid", FarRotor, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::process, false, FarHub},
    {"the rotor with a deep relief, solid", Rotor, 0.2f, kSolid, Expect::processed, nullptr, false, Route::process,
        false, Hub, DeepRelief},
    {"the far rotor with a deep relief, solid", FarRotor, 0.2f, kSolid, Expect::refused, nullptr, false,
        Route::process, false, FarHub, DeepRelief, kFarRotorAdvice},
    {"the far rotor with a deep relief at the advised size, solid", FarRotor, 0.5f, kSolid, Expect::processed,
        nullptr, false, Route::process, false, FarHub, DeepRelief},
    {"fine sphere at 1e6 mm without remesh, solid", FarFineSphere, 0.3f, kSolid, Expect::refused, nullptr, false,
        Route::process, false, nullptr, NoRemesh, "Nothing was changed; Remesh on with a triangle size of at least "
        "0.50 mm lets it run, as does the part moved nearer the origin in the program that made it."},
    {"fine sphere at 1e6 mm at the advised size, solid", FarFineSphere, 0.5f, kSolid},
    {"sphere at 1e6 mm, repair", FarSphere, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair},
    {"sphere at 1e6 mm, save check", FarSphere, 0.5f, kSolid, Expect::processed, nullptr, false, Route::saveCheck},
    {"boxes sharing an edge at 1e6 mm, repair", FarBoxesSharingAnEdge, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::repair},
    {"flat facet 1e6 mm out, imported, repair", SphereWithStrayFacet, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::repair, true, OpenSphere},
    {"flat facet 1e6 mm out, imported, save check", SphereWithStrayFacet, 0.5f, kSolid, Expect::processed, nullptr,
        false, Route::saveCheck, true, OpenSphere},
    {"bodies 1e6 mm apart, imported, repair", BodiesAKilometreApart, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::repair, true},
    {"bodies 1e6 mm apart, imported, save check", BodiesAKilometreApart, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true},
    {"small cube 3 m away, imported, solid", SphereWithCube3mAway, 0.3f, kSolid, Expect::processed, nullptr, false,
        Route::process, true},
    {"small cube 3 m away, imported, vertex", SphereWithCube3mAway, 0.3f, kVertex, Expect::processed, nullptr, false,
        Route::process, true},
    {"small cube 100 m away, imported, solid", SphereWithCube100mAway, 0.3f, kSolid, Expect::processed, nullptr,
        false, Route::process, true},
    {"small cube 100 m away, imported, vertex", SphereWithCube100mAway, 0.3f, kVertex, Expect::processed, nullptr,
        false, Route::process, true},
    // The far cube's relief takes the cell its own float steps need; the sphere keeps 0.3 mm.
    {"small cube 1 km away, imported, solid", SphereWithCube1kmAway, 0.3f, kSolid, Expect::processed, nullptr,
        false, Route::process, true},
    {"small cube 1 km away at the advised size, imported, solid", SphereWithCube1kmAway, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::process, true},
    {"small cube 1 km away, imported, vertex", SphereWithCube1kmAway, 0.3f, kVertex, Expect::processed, nullptr,
        false, Route::process, true},
    {"two cubes at 1e6 mm, solid", TwoCubesFarOut, 0.3f, kSolid, Expect::refused, nullptr, false, Route::process,
        false, nullptr, nullptr, "The part lies too far out for the solid relief at this triangle size: the 40.00 x "
        "10.00 x 10.00 mm part at (1000015, 1000000, 0) mm, where a coordinate steps by 0.0625 mm, needs cells of at "
        "least 0.50 mm so that the relief's corners do not round onto one another, and they are 0.30 mm. Nothing "
        "was changed; a triangle size of at least 0.50 mm lets it run, as does the part moved nearer the origin in "
        "the program that made it."},
    {"two cubes at 1e6 mm, vertex, finer than the step", TwoCubesFarOut, 0.3f, kVertex, Expect::refused, nullptr,
        false, Route::process, false, nullptr, FinerThanTheStep, "The part lies too far out for the triangle size: the "
        "40.00 x 10.00 x 10.00 mm part at (1000015, 1000000, 0) mm, where a coordinate steps by 0.06 mm, coarser than "
        "the 0.05 mm triangle size. Nothing was changed; a triangle size of at least 0.063 mm lets it run, as does "
        "the part moved nearer the origin in the program that made it."},
    {"small cube 10 km away, imported, solid", SphereWithCube10kmAway, 0.3f, kSolid, Expect::refused, nullptr,
        false, Route::process, true, nullptr, nullptr, "the 1.00 x 1.00 x 1.00 mm piece at (7071068, 7071068, 0) mm"},
    // The far cube is remeshed at the finest size its float steps allow; the sphere keeps 0.3 mm.
    {"small cube 10 km away, imported, vertex", SphereWithCube10kmAway, 0.3f, kVertex, Expect::processed, nullptr,
        false, Route::process, true, nullptr, nullptr, nullptr, false, "A piece far out was remeshed at its own "
        "scale: the 1.00 x 1.00 x 1.00 mm piece at (7071068, 7071068, 0) mm, where a coordinate steps by 0.5000 mm, "
        "at 0.50 mm triangles."},
    {"100 mm cube, 1 mm cube 1e5 mm out, vertex", Cube100WithCube1e5Out, 0.3f, kVertex, Expect::processed,
        nullptr, true},
    {"100 mm cube, 1 mm cube 1e6 mm out, vertex", Cube100WithCube1e6Out, 0.3f, kVertex, Expect::processed,
        nullptr, true},
    {"100 mm cube, 1 mm cube 1e7 mm out, vertex", Cube100WithCube1e7Out, 0.3f, kVertex, Expect::processed,
        nullptr, true, Route::process, false, nullptr, nullptr, nullptr, false, "A piece far out was kept as it was, "
        "untextured: the 1.00 x 1.00 x 1.00 mm piece at (10000000, 0, 0) mm, where a coordinate steps by 1.0000 mm, "
        "too coarsely to remesh it soundly.", FarCube1e7},
    {"100 mm cube, 4 mm cube 1e7 mm out, vertex", Cube100WithCube4At1e7, 0.3f, kVertex, Expect::processed,
        nullptr, true, Route::process, false, nullptr, nullptr, nullptr, false, "A piece far out was remeshed at "
        "its own scale: the 4.00 x 4.00 x 4.00 mm piece at (10000002, 0, 0) mm, where a coordinate steps by 1.0000 "
        "mm, at 1.00 mm triangles."},
    {"100 mm cube 1e6 mm out, vertex", Cube100At1e6, 0.3f, kVertex, Expect::processed, nullptr, true},
    {"small cube 10 km away at the advised size, imported, vertex", SphereWithCube10kmAway, 0.5f, kVertex,
        Expect::processed, nullptr, false, Route::process, true},
    {"very coarse, solid", Cube20, 5.0f, kSolid},
    {"very coarse, vertex", Cube20, 5.0f, kVertex},
    {"very fine, solid", Cube2, 0.03f, kSolid},
    {"very fine, vertex", Cube2, 0.03f, kVertex},
    {"sphere of 200k triangles, solid", Sphere200k, 0.5f, kSolid, Expect::processed, nullptr, true},
    {"sphere of 200k triangles, vertex", Sphere200k, 0.5f, kVertex, Expect::processed, nullptr, true},
    // A relief 1 mm deep at 0.4 mm triangles takes the 0.2 mm plate and the specks beside the
    // sphere away: each is named, never dropped unsaid.
    {"sphere with specks and a plate, solid", test::MakeSphereWithSpecksAndPlate, 0.4f, kSolid, Expect::processed,
        nullptr, false, Route::process, false, nullptr, ReliefOneMillimetreDeep, nullptr, false,
        "Process took away a body of the part: 20.00 x 20.00 x 0.20 mm at (0.00, 0.00, -13.90), 80.00 mm3."},
    {"sphere with specks and a plate, vertex", test::MakeSphereWithSpecksAndPlate, 0.4f, kVertex, Expect::processed,
        nullptr, false, Route::process, false, nullptr, ReliefOneMillimetreDeep, nullptr, false,
        "Process took away a body of the part: 20.00 x 20.00 x 0.20 mm at (0.00, 0.00, -13.90), 80.00 mm3."},
    // Each plate's grid might fit alone, but not all of them with their results: refused at once.
    {"200 plates 0.05 mm apart at 0.0001 mm, no limit, solid", ManyPlates, 0.0001f, kSolid, Expect::refused, nullptr,
        false, Route::process, false, nullptr, NoTriangleLimit, "of memory, more than the "},
};

// A sheet of no volume, refused with its reason, and a box whose top has a vertex pushed across
// its neighbours, so that flaps lie folded flat through corners and across edges.
TriangleMesh TwoTriangleSheet() { return test::MeshOf({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, {0, 1, 2, 0, 2, 3}); }
TriangleMesh CornerFold()
{
    TriangleMesh box = test::MakeGridTopBox(8, 10.0f);
    box.vertices[4 * 9 + 4].position += Vec3{1.9f, 0.3f, 0.0f};
    return box;
}

// A curved sheet 0.04 mm thick, open all round: nothing inside for the relief, whatever the
// thickness.
TriangleMesh OpenSheet() { return test::MakeTwoLayerSheet(6, 0.04f); }

const Row kSheetAndFoldRows[] = {
    {"two-triangle sheet, solid", TwoTriangleSheet, 0.3f, kSolid, Expect::refused},
    {"two-triangle sheet, vertex", TwoTriangleSheet, 0.3f, kVertex, Expect::refused},
    {"open sheet 0.04 mm thick, imported, solid", OpenSheet, 0.3f, kSolid, Expect::refused, nullptr, false,
        Route::process, true, nullptr, nullptr, "the part is open (48 open edges)"},
    {"corner fold, solid", CornerFold, 0.3f, kSolid},
    {"corner fold, vertex", CornerFold, 0.3f, kVertex},
};

// Faces a file holds twice: one face of a closed cube copied with the other winding, and a
// sphere and a cube whose every facet is written twice the same way. Mesh > Repair and the
// Save STL check both take the copies away and keep the body closed; Process measures the
// surface with each facet once. A cube and a sphere written double-sided: Mesh > Repair keeps
// the copies facing out, Process refuses them naming Mesh > Repair and, once repaired, makes
// them whole; a cube with three facets written again reversed, which Process leaves out. And a
// closed cube with two facets of no area, which the import takes out keeping it closed.
TriangleMesh CubeWithFlippedFace()
{
    TriangleMesh cube = MakeTestCube(10.0f);
    cube.indices.insert(cube.indices.end(), {cube.indices[0], cube.indices[2], cube.indices[1]});
    return cube;
}
TriangleMesh Doubled(TriangleMesh mesh)
{
    const std::vector<std::uint32_t> once = mesh.indices;
    mesh.indices.insert(mesh.indices.end(), once.begin(), once.end());
    return mesh;
}
TriangleMesh Cube10() { return MakeTestCube(10.0f); }
TriangleMesh Sphere10() { return MakeTestSphere(10.0f); }
TriangleMesh DoubledSphere() { return Doubled(Sphere10()); }
TriangleMesh DoubledCube() { return Doubled(Cube10()); }
TriangleMesh DoubledBlade() { return Doubled(Blade()); }
// Every facet also written the other way round, as a double-sided export writes it.
TriangleMesh DoubleSided(TriangleMesh mesh)
{
    const std::size_t count = mesh.indices.size();
    for (std::size_t i = 0; i < count; i += 3)
        mesh.indices.insert(mesh.indices.end(), {mesh.indices[i], mesh.indices[i + 2], mesh.indices[i + 1]});
    return mesh;
}
TriangleMesh Sphere2944() { return test::MakeBumpySphere(10.0f, 0.0f, 24, 64); }
TriangleMesh DoubleSidedCube() { return DoubleSided(Cube20()); }
TriangleMesh DoubleSidedSphere() { return DoubleSided(Sphere2944()); }
// Three facets written again reversed, each on a face of its own.
TriangleMesh CubeWithReversedCopies()
{
    TriangleMesh cube = Cube20();
    for (const std::size_t f : {1, 6, 11})
        cube.indices.insert(cube.indices.end(), {cube.indices[3 * f], cube.indices[3 * f + 2], cube.indices[3 * f + 1]});
    return cube;
}
TriangleMesh CubeWithZeroAreaFacets()
{
    return test::WithZeroAreaFacet(test::WithZeroAreaFacet(Cube10(), 0, 1, 0.25f), 7, 2, 0.75f);
}

const Row kRepeatedFaceRows[] = {
    {"flipped copy of a face, repair", CubeWithFlippedFace, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::repair, true, Cube10},
    {"flipped copy of a face, save check", CubeWithFlippedFace, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true, Cube10},
    {"doubled sphere, repair", DoubledSphere, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair, true,
        Sphere10},
    {"doubled sphere, save check", DoubledSphere, 0.5f, kSolid, Expect::processed, nullptr, false, Route::saveCheck,
        true, Sphere10},
    {"doubled cube, save check", DoubledCube, 0.5f, kSolid, Expect::processed, nullptr, false, Route::saveCheck, true,
        Cube10},
    {"doubled sphere, imported, solid", DoubledSphere, 0.3f, kSolid, Expect::processed, nullptr, false, Route::process,
        true, Sphere10},
    {"doubled sphere, imported, vertex", DoubledSphere, 0.3f, kVertex, Expect::processed, nullptr, false,
        Route::process, true, Sphere10},
    {"doubled blade, imported, solid", DoubledBlade, 0.3f, kSolid, Expect::processed, nullptr, false, Route::process,
        true, Blade},
    {"closed cube with zero-area facets, imported, solid", CubeWithZeroAreaFacets, 0.3f, kSolid, Expect::processed,
        nullptr, false, Route::process, true, Cube10},
    {"double-sided cube, repair", DoubleSidedCube, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair,
        true, Cube20},
    {"double-sided sphere, repair", DoubleSidedSphere, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair,
        true, Sphere2944},
    {"double-sided cube, imported, solid", DoubleSidedCube, 0.3f, kSolid, Expect::refused, nullptr, false,
        Route::process, true, Cube20, nullptr, "Mesh > Repair removes the doubled facets, then Process again"},
    {"double-sided cube, repaired, then solid", DoubleSidedCube, 0.3f, kSolid, Expect::processed, nullptr, false,
        Route::repairThenProcess, true, Cube20},
    {"double-sided sphere, repaired, then vertex", DoubleSidedSphere, 0.3f, kVertex, Expect::processed, nullptr,
        false, Route::repairThenProcess, true, Sphere2944},
    {"cube with 3 reversed copies, imported, solid", CubeWithReversedCopies, 0.3f, kSolid, Expect::processed,
        nullptr, false, Route::process, true, Cube20},
    {"cube with 3 reversed copies, imported, vertex", CubeWithReversedCopies, 0.3f, kVertex, Expect::processed,
        nullptr, false, Route::process, true, Cube20},
};

// A tube whose bore and rings stay plain beside its relief, as vertex mode leaves a holed part
// textured on its outer surfaces only: the simplify's merges meet most trouble on the flat fans
// beside the relief, and their first result folds there.
TriangleMesh PlainTube() { return test::MakeReliefTube(30.0f, 3.0f, 30.0f, 128, 60, 0.0f); }
void OuterSurfacesOfTheTube(PipelineSettings& s)
{
    const CageBounds tube{{-15.0f, -15.0f, 0.0f}, {15.0f, 15.0f, 30.0f}, 1};
    s.projection.cage = FitCageToBounds(s.projection.type, tube, 0.02f).cage;
    for (SurfaceSide& side : s.projection.boxSideSurface)
        side = SurfaceSide::Outside;
    s.displacement.strengthMillimetres = 1.0f;
}
// The relief stops at the base and nothing is simplified: what the relief leaves is the result.
void OuterSurfacesOnTheBedUnsimplified(PipelineSettings& s)
{
    OuterSurfacesOfTheTube(s);
    s.displacement.base.enabled = true;
    s.simplifyOn = 0;
}

// A cylinder round the noisy sphere reaches its sides only: the caps stay plain beside a relief
// of 0.4 mm, and nothing is simplified. The cells beside the relief, measured to the plain
// faces that keep their planes, were solved as sharp features and folded over the relief.
void CylinderRoundTheSphereUnsimplified(PipelineSettings& s)
{
    const TriangleMesh sphere = NoisySphere();
    s.projection = FitCageToBounds(ProjectionKind::Cylinder, {sphere.boundsMin, sphere.boundsMax, 1}, 0.02f);
    s.displacement.strengthMillimetres = 0.4f;
    s.simplifyOn = 0;
}

// Two cubes pinched at an edge, one turned up by 20 degrees, under a plane from above: the turned
// cube's bottom stays plain beside the first cube's raised top, and the contour's sharp cells on
// the plain faces there folded over the relief.
TriangleMesh CubesPinchedAtAnEdge() { return test::MakeCubesPinchedAtAnEdge(20.0f); }
void PlaneFromAboveUnsimplified(PipelineSettings& s)
{
    const TriangleMesh cubes = CubesPinchedAtAnEdge();
    s.projection = FitCageToBounds(ProjectionKind::Plane, {cubes.boundsMin, cubes.boundsMax, 1}, 0.02f);
    s.displacement.strengthMillimetres = 0.4f;
    s.simplifyOn = 0;
}

// A 40 x 20 x 10 mm box turned 20 degrees about x and 30 about z and stood on the bed, under a
// plane from above: its end faces are vertical and take no texture. Their corners, rounded off
// the planes by the turn, leaned some triangles towards the plane, which textured them in
// streaks; slivers along the creases folded under "Good".
TriangleMesh TurnedBox()
{
    const TriangleMesh box =
        test::TurnedAboutXThenZ(test::MakeBox({-20.0f, -10.0f, -5.0f}, {20.0f, 10.0f, 5.0f}), 20.0f, 30.0f);
    return test::Translated(box, {0.0f, 0.0f, -box.boundsMin.z});
}
// An L whose walls meet in a hollow at the inner edge, under the textured top, where the solid
// relief's contour stood past both walls.
TriangleMesh LPrism() { return test::MakeLPrism(); }
// The same L with its inner edge off the round millimetres, so that the edge passes through
// the grid's cells away from their faces: under a 0.5 mm relief the cells beside the edge, near
// the top, stood a vertex past one wall.
TriangleMesh LPrismOffRound()
{
    TriangleMesh prism = test::MakeLPrism();
    for (MeshVertex& v : prism.vertices) {
        v.position.x = v.position.x == 20.0f ? 23.7f : v.position.x;
        v.position.y = v.position.y == 20.0f ? 17.3f : v.position.y;
    }
    prism.ComputeBounds();
    prism.ComputeVertexNormals();
    return prism;
}
void PlaneFromAboveOnTheBedUnsimplified(const TriangleMesh& part, float depth, PipelineSettings& s)
{
    s.projection = FitCageToBounds(ProjectionKind::Plane, {part.boundsMin, part.boundsMax, 1}, 0.02f);
    s.displacement.strengthMillimetres = depth;
    s.displacement.base.enabled = true;
    s.simplifyOn = 0;
}
void TurnedBoxHalfMillimetre(PipelineSettings& s) { PlaneFromAboveOnTheBedUnsimplified(TurnedBox(), 0.5f, s); }
void LPrismTwoMillimetres(PipelineSettings& s) { PlaneFromAboveOnTheBedUnsimplified(LPrism(), 2.0f, s); }
void LPrismOffRoundHalfMillimetre(PipelineSettings& s)
{
    PlaneFromAboveOnTheBedUnsimplified(LPrismOffRound(), 0.5f, s);
}
void LPrismOffRoundTwoMillimetres(PipelineSettings& s)
{
    PlaneFromAboveOnTheBedUnsimplified(LPrismOffRound(), 2.0f, s);
}

const Row kPlainWallRows[] = {
    {"turned box, plain ends, vertex", TurnedBox, 0.3f, kVertex, Expect::processed, nullptr, false, Route::process,
        false, nullptr, TurnedBoxHalfMillimetre, nullptr, false, nullptr, nullptr, nullptr, true},
    {"turned box, plain ends, solid", TurnedBox, 0.3f, kSolid, Expect::processed, nullptr, false, Route::process,
        false, nullptr, TurnedBoxHalfMillimetre, nullptr, false, nullptr, nullptr, nullptr, true},
    {"L prism, plain walls, 2 mm, solid", LPrism, 0.3f, kSolid, Expect::processed, nullptr, false, Route::process,
        false, nullptr, LPrismTwoMillimetres, nullptr, false, nullptr, nullptr, nullptr, true},
    {"L prism off the round millimetres, plain walls, 2 mm, solid", LPrismOffRound, 0.3f, kSolid, Expect::processed,
        nullptr, false, Route::process, false, nullptr, LPrismOffRoundTwoMillimetres, nullptr, false, nullptr, nullptr,
        nullptr, true},
    {"L prism off the round millimetres, plain walls, solid", LPrismOffRound, 0.3f, kSolid, Expect::processed,
        nullptr, false, Route::process, false, nullptr, LPrismOffRoundHalfMillimetre, nullptr, false, nullptr, nullptr,
        nullptr, true},
    {"L prism, plain walls, 2 mm, vertex", LPrism, 0.3f, kVertex, Expect::processed, nullptr, false, Route::process,
        false, nullptr, LPrismTwoMillimetres, nullptr, false, nullptr, nullptr, nullptr, true},
    {"tube on the bed, vertex, outer surfaces, no simplify", PlainTube, 0.3f, kVertex, Expect::processed, nullptr,
        false, Route::process, false, nullptr, OuterSurfacesOnTheBedUnsimplified},
    {"tube with a plain bore, vertex, outer surfaces", PlainTube, 0.3f, kVertex, Expect::processed, nullptr, false,
        Route::process, false, nullptr, OuterSurfacesOfTheTube},
    {"noisy sphere, plain caps, solid, no simplify", NoisySphere, 0.2f, kSolid, Expect::processed, nullptr, true,
        Route::process, false, nullptr, CylinderRoundTheSphereUnsimplified},
    {"cubes pinched at an edge, plain below, solid, no simplify", CubesPinchedAtAnEdge, 0.3f, kSolid,
        Expect::processed, nullptr, false, Route::process, false, nullptr, PlaneFromAboveUnsimplified},
};

// A 20 mm cube holding a closed 6 mm hollow wound as a hollow is (its faces towards the hollow):
// every road keeps it a hollow (Repair once turned it out, as validation called it reversed).
TriangleMesh CubeWithHollow() { return test::Combined(Cube20(), test::Flipped(MakeTestCube(6.0f))); }
// The same 6 mm cube wound outwards, as an export of overlapping solids writes an insert: it
// prints solid, so every road keeps its material (Repair once turned it into a hollow, and
// Process filled it without a word).
TriangleMesh CubeWithInsert() { return test::Combined(Cube20(), MakeTestCube(6.0f)); }

constexpr const char* kKeptHollow =
    "1 body inside another is kept as a hollow: the 6.00 x 6.00 x 6.00 mm body at (0.00, 0.00, "
    "0.00) mm, 216.00 cubic mm";
constexpr const char* kKeptInsert =
    "1 body inside another is kept solid, as an insert: the 6.00 x 6.00 x 6.00 mm body at (0.00, "
    "0.00, 0.00) mm, 216.00 cubic mm";

// Bodies written inside out with a small hole, a sphere, and a cube round a hollow: Repair
// closes the holes and then decides each body's outside, so the sphere faces out and the hollow
// stays a hollow (Repair once filled the holes and left the sphere inside out under "Repaired",
// and turned the cube alone, so that its hollow, once closed, was kept as an insert).
TriangleMesh Holed(TriangleMesh mesh)
{
    mesh.indices.resize(mesh.indices.size() - 3);
    return mesh;
}
TriangleMesh InsideOutHoledSphere() { return Holed(test::Flipped(Sphere10())); }
TriangleMesh InsideOutCubeWithHoledHollow()
{
    return test::Flipped(test::Combined(Cube20(), Holed(test::Flipped(MakeTestSphere(3.0f)))));
}
TriangleMesh CubeWithSphereHollow() { return test::Combined(Cube20(), test::Flipped(MakeTestSphere(3.0f))); }

const Row kHollowRows[] = {
    {"inside-out sphere with a small hole, imported, repair", InsideOutHoledSphere, 0.5f, kSolid, Expect::processed,
        nullptr, false, Route::repair, true, Sphere10},
    {"inside-out cube round a hollow with a small hole, imported, repair", InsideOutCubeWithHoledHollow, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::repair, true, CubeWithSphereHollow, nullptr, nullptr, false,
        "kept as a hollow"},
    {"cube with a hollow, imported, solid", CubeWithHollow, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::process, true, nullptr, nullptr, nullptr, false, kKeptHollow},
    {"cube with a hollow, imported, vertex", CubeWithHollow, 0.5f, kVertex, Expect::processed, nullptr, false,
        Route::process, true, nullptr, nullptr, nullptr, false, kKeptHollow},
    {"cube with a hollow, repair", CubeWithHollow, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair, true,
        nullptr, nullptr, nullptr, false, kKeptHollow},
    {"cube with a hollow, save check", CubeWithHollow, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true, nullptr, nullptr, nullptr, false, kKeptHollow},
    // The remesh makes one solid of the insert and the cube round it: the cube alone is the body
    // the result is held to.
    {"cube with an insert, imported, solid", CubeWithInsert, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::process, true, Cube20, nullptr, nullptr, false, "the remesh made one solid of it and the body round it"},
    {"cube with an insert, imported, vertex", CubeWithInsert, 0.5f, kVertex, Expect::processed, nullptr, false,
        Route::process, true, Cube20, nullptr, nullptr, false, kKeptInsert},
    {"cube with an insert, repair", CubeWithInsert, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair,
        true, nullptr, nullptr, nullptr, false, kKeptInsert},
    {"cube with an insert, save check", CubeWithInsert, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true, nullptr, nullptr, nullptr, false, kKeptInsert},
};

// Bodies that only touch, face to face, as CAD writes an assembly: a 16 mm boss and an
// eight-sided 1 mm pin standing on a 40 x 40 x 1 mm plate. Mesh > Repair and the Save STL
// check leave them exactly where they were (the check once lifted the boss 0.32 mm off the
// plate and shrank the pin to half its width).
TriangleMesh Plate40() { return test::MakeBox({-20.0f, -20.0f, 0.0f}, {20.0f, 20.0f, 1.0f}); }
TriangleMesh BossOnPlate() { return test::Combined(Plate40(), test::Translated(MakeTestCylinder(8.0f, 16.0f), {0, 0, 9.0f})); }
// A prism of `sides` round the z axis, radius `radius`, from z0 to z1.
TriangleMesh Prism(std::uint32_t sides, float radius, float z0, float z1)
{
    std::vector<Vec3> points;
    std::vector<std::uint32_t> indices;
    for (std::uint32_t i = 0; i < sides; ++i) {
        const double a = 6.283185307179586 * i / sides;
        const float x = radius * static_cast<float>(std::cos(a));
        const float y = radius * static_cast<float>(std::sin(a));
        points.push_back({x, y, z0});
        points.push_back({x, y, z1});
    }
    const std::uint32_t bottom = 2 * sides;
    points.push_back({0, 0, z0});
    points.push_back({0, 0, z1});
    for (std::uint32_t i = 0; i < sides; ++i) {
        const std::uint32_t a0 = 2 * i, a1 = a0 + 1, b0 = 2 * ((i + 1) % sides), b1 = b0 + 1;
        indices.insert(indices.end(), {a0, b0, b1, a0, b1, a1, bottom, b0, a0, bottom + 1, a1, b1});
    }
    return test::MeshOf(points, indices);
}
TriangleMesh PinOnPlate() { return test::Combined(Plate40(), Prism(8, 0.5f, 1.0f, 9.0f)); }

const Row kTouchingBodyRows[] = {
    {"boss on a plate, save check", BossOnPlate, 0.5f, kSolid, Expect::processed, nullptr, false, Route::saveCheck,
        false, nullptr, nullptr, nullptr, true},
    {"boss on a plate, imported, save check", BossOnPlate, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true, nullptr, nullptr, nullptr, true},
    {"boss on a plate, repair", BossOnPlate, 0.5f, kSolid, Expect::processed, nullptr, false, Route::repair, false,
        nullptr, nullptr, nullptr, true},
    {"1 mm pin on a plate, save check", PinOnPlate, 0.5f, kSolid, Expect::processed, nullptr, false, Route::saveCheck,
        false, nullptr, nullptr, nullptr, true},
};

// Bodies of few triangles beside many: a plate of 12 facets beside a sphere and two cubes on one
// edge, a block beside two finely meshed cubes on one edge. Once the edge is split, each stays:
// no body of the part is a crumb for its triangle count. A real crumb, 0.1 mm across, goes. And
// a cube with one facet wound the wrong way beside a square written in both windings, which
// encloses nothing: Repair turns the facet and leaves the square exactly as it was.
TriangleMesh SphereCubesAndPlate()
{
    return test::Combined(test::Combined(test::Combined(Sphere10(), test::MakeBox({20, 0, 0}, {22, 2, 2})),
                              test::MakeBox({22, 2, 0}, {24, 4, 2})),
        test::MakeBox({40, 0, 0}, {140, 100, 10}));
}
TriangleMesh FineCubesAndBlock()
{
    return test::Combined(test::Combined(test::MakeGridTopBox(25, 20.0f),
                              test::Translated(test::MakeGridTopBox(25, 20.0f), {20, 20, 0})),
        test::MakeBox({60, 0, 0}, {100, 40, 40}));
}
TriangleMesh SphereAndCrumb() { return test::Combined(Sphere10(), test::MakeBox({-30, 0, 0}, {-29.9f, 0.1f, 0.1f})); }
TriangleMesh CubeWithReversedFacet()
{
    TriangleMesh cube = Cube20();
    std::swap(cube.indices[4], cube.indices[5]);
    return cube;
}
TriangleMesh DoubleSidedSquare()
{
    return DoubleSided(test::MeshOf({{30, 0, 0}, {35, 0, 0}, {30, 5, 0}, {35, 5, 0}}, {0, 1, 2, 1, 3, 2}));
}
TriangleMesh ReversedFacetBesideASheet() { return test::Combined(CubeWithReversedFacet(), DoubleSidedSquare()); }

// A 3 mm plate of 12 facets beside a 30 mm sphere and two cubes on one edge: the remesh sets
// the cubes apart, one body more than the part had, and the plate has under a hundredth of the
// sphere's triangles. It is a body of the part all the same, and stays.
TriangleMesh Plate3() { return test::MakeBox({40, 0, 0}, {43, 3, 3}); }
TriangleMesh LargeSphereCubesAndPlate()
{
    return test::Combined(test::Combined(MakeTestSphere(30.0f), test::Translated(BoxesSharingAnEdge(), {-20, 40, 0})),
        Plate3());
}

// A second Repair changes nothing: a 0.4 mm cube standing on an edge of a 2.5 mm tile is split
// off and kept as a piece of the tile, then a second Repair took it for a crumb of the part; of
// two cubes on an edge, one written inside out, the split one was left inside out for a second
// Repair to turn.
TriangleMesh SphereTileAndCube()
{
    return test::Combined(test::Combined(Sphere10(), test::MakeBox({20, 0, 0}, {22.5f, 2.5f, 0.4f})),
        test::MakeBox({22.5f, 2.5f, 0}, {22.9f, 2.9f, 0.4f}));
}
TriangleMesh CubesOnAnEdge() { return test::Combined(Cube20(), test::Translated(Cube20(), {20, 20, 0})); }
TriangleMesh CubesOnAnEdgeOneInsideOut()
{
    return test::Combined(Cube20(), test::Flipped(test::Translated(Cube20(), {20, 20, 0})));
}

const Row kStrayBodyRows[] = {
    {"plate of 12 facets beside a large sphere and cubes on an edge, vertex", LargeSphereCubesAndPlate, 1.0f, kVertex,
        Expect::processed, nullptr, true, Route::process, false, nullptr, nullptr, nullptr, false, nullptr, nullptr,
        Plate3},
    {"plate of 12 facets beside a large sphere and cubes on an edge, solid", LargeSphereCubesAndPlate, 1.0f, kSolid,
        Expect::processed, nullptr, true, Route::process, false, nullptr, nullptr, nullptr, false, nullptr, nullptr,
        Plate3},
    {"plate of 12 facets beside a sphere and cubes on an edge, repair", SphereCubesAndPlate, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::repair, true},
    {"plate of 12 facets beside a sphere and cubes on an edge, save check", SphereCubesAndPlate, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::saveCheck, true},
    {"block beside finely meshed cubes on an edge, repair", FineCubesAndBlock, 0.5f, kSolid, Expect::processed,
        nullptr, false, Route::repair, true},
    {"block beside finely meshed cubes on an edge, save check", FineCubesAndBlock, 0.5f, kSolid, Expect::processed,
        nullptr, false, Route::saveCheck, true},
    {"0.1 mm crumb beside a sphere, repair", SphereAndCrumb, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::repair, true, Sphere10},
    {"0.1 mm crumb beside a sphere, save check", SphereAndCrumb, 0.5f, kSolid, Expect::processed, nullptr, false,
        Route::saveCheck, true, Sphere10},
    {"sheet in both windings beside a reversed facet, repair", ReversedFacetBesideASheet, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::repair, false, Cube20, nullptr, nullptr, false, nullptr, DoubleSidedSquare},
    {"0.4 mm cube on an edge of a tile beside a sphere, repaired twice", SphereTileAndCube, 0.5f, kSolid,
        Expect::processed, nullptr, false, Route::repairTwice, true, nullptr, nullptr, nullptr, false,
        "Repair: nothing needed changing."},
    {"cubes on an edge, one inside out, repaired twice", CubesOnAnEdgeOneInsideOut, 0.5f, kSolid, Expect::processed,
        nullptr, false, Route::repairTwice, true, CubesOnAnEdge, nullptr, nullptr, false, "Repair: nothing needed changing."},
};

std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* c = info.param.name; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Pipeline, ForeignShape, ::testing::ValuesIn(kRows), RowName);
INSTANTIATE_TEST_SUITE_P(SheetsAndFolds, ForeignShape, ::testing::ValuesIn(kSheetAndFoldRows), RowName);
INSTANTIATE_TEST_SUITE_P(RepeatedFaces, ForeignShape, ::testing::ValuesIn(kRepeatedFaceRows), RowName);
INSTANTIATE_TEST_SUITE_P(PlainWalls, ForeignShape, ::testing::ValuesIn(kPlainWallRows), RowName);
INSTANTIATE_TEST_SUITE_P(Hollows, ForeignShape, ::testing::ValuesIn(kHollowRows), RowName);
INSTANTIATE_TEST_SUITE_P(TouchingBodies, ForeignShape, ::testing::ValuesIn(kTouchingBodyRows), RowName);
INSTANTIATE_TEST_SUITE_P(StrayBodies, ForeignShape, ::testing::ValuesIn(kStrayBodyRows), RowName);

}  // namespace
}  // namespace grainforge::mesh
