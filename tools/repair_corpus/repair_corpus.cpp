// Runs Mesh > Repair, the Save STL check, or both, on one part as the program runs them, and
// prints what came of each as one JSON line, for the before-and-after comparison
// (tools/compare). The part is loaded as process_corpus loads it (tools/corpus_part): an STL or
// OFF file scaled so that its largest extent is --size mm and stood on z = 0, or at its own size
// and place with --size own, or "gen:<name>" for one of the test shapes.
//
// Repair: the document's repair job on the part, then what the document shows: the information
// text and its kind (with the crossing count of the fresh validation, as the document passes
// it), the log's summary and the verdict of the part after it. Check: the export
// dialog's worker on the part as the shown mesh, with the weld tolerance, cleanup, fixes and
// base fields of a new document; its headline, whether it passed, and the report as shown.
// Both lines hold the bodies, the signed volume, closed, manifold and outward before and after,
// the faults of the edges after, the largest distance from a corner written to the nearest corner of the part, the part's
// bodies of which no corner is left, and the milliseconds of the run (the measures are not
// timed).
//
// The same source is built against older commits, so it keeps to long-standing entry points:
// RepairInputMeshJob, RepairInformationText, FormatRepairSummary, RepairForPrint, ValidateMesh,
// RunExportCheck with ExportCheckJob, FormatCheckHeadline, ShownReportText, BeforeSavingReport,
// TriangleFingerprint, CountBodies and the document's public settings members.
#include "app/document/document_reports.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/mesh_jobs.h"
#include "app/workflow/dialogs/export_check.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/repair_job.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/mesh/welding.h"
#include "tests/support/exact_crossings.h"
#include "tools/corpus_part/corpus_part.h"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::tools {
namespace {

namespace mesh = grainforge::mesh;
using mesh::TriangleMesh;

struct Options {
    std::string part;
    float sizeMillimetres = 40.0f;
    bool ownSize = false;           // --size own
    bool repair = true;             // --route repair | check | both
    bool check = false;
    bool twice = false;             // --twice: a second repair of the result
    bool crossings = true;          // --no-crossings skips the exact check on very large results
};

// One JSON object, its fields in the order they are added.
class JsonLine {
public:
    JsonLine& Add(const std::string& key, const std::string& text) { return Raw(key, Quoted(text)); }
    JsonLine& Add(const std::string& key, const char* text) { return Raw(key, Quoted(text)); }
    JsonLine& Add(const std::string& key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonLine& Add(const std::string& key, std::uint64_t value) { return Raw(key, std::to_string(value)); }
    JsonLine& Add(const std::string& key, std::int64_t value) { return Raw(key, std::to_string(value)); }
    JsonLine& Add(const std::string& key, int value) { return Raw(key, std::to_string(value)); }
    JsonLine& Add(const std::string& key, double value)
    {
        std::ostringstream number;
        number.precision(10);
        number << value;
        return Raw(key, number.str());
    }
    std::string Text() const { return "{" + fields_ + "}"; }

private:
    JsonLine& Raw(const std::string& key, const std::string& value)
    {
        if (!fields_.empty())
            fields_ += ',';
        fields_.append(Quoted(key)).append(":").append(value);
        return *this;
    }
    std::string fields_;
};

// The part's own measures, before or after.
struct Measures {
    std::uint64_t triangles = 0;
    std::uint64_t bodies = 0;
    Shape shape;
    EdgeFaults edges;
};

Measures Measure(const TriangleMesh& part)
{
    TriangleMesh measured = part;
    measured.ComputeBounds();
    return {part.TriangleCount(), mesh::CountBodies(part), MeasureShape(measured), CountEdgeFaults(part)};
}

void AddMeasures(JsonLine& line, const Measures& before, const Measures& after)
{
    line.Add("source_triangles", before.triangles)
        .Add("triangles", after.triangles)
        .Add("bodies_before", before.bodies)
        .Add("bodies_after", after.bodies)
        .Add("volume_before", before.shape.volume)
        .Add("volume_after", after.shape.volume)
        .Add("closed_before", before.shape.closed)
        .Add("manifold_before", before.shape.manifold)
        .Add("outward_before", before.shape.volume > 0.0)
        .Add("closed", after.shape.closed)
        .Add("manifold", after.shape.manifold)
        .Add("outward", after.shape.volume > 0.0)
        .Add("open_edges", after.edges.open)
        .Add("nonmanifold_edges", after.edges.nonManifold)
        .Add("winding_conflicts", after.edges.windingConflicts)
        .Add("pinched_vertices", after.edges.pinchedVertices);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string FirstLine(const std::string& text)
{
    const std::size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// ---------------------------------------------------------------------------------------------
// Mesh > Repair

// The validation the document runs on the part after a job replaced it.
mesh::ValidationOptions PartValidation()
{
    mesh::ValidationOptions o;
    o.sliverQualityLimit = 0.001f;
    o.checkSelfIntersections = true;
    o.displacedResult = false;
    return o;
}

// The summary the log shows, its lines joined by " | " without their indents: the first says
// what came of it ("Repair: nothing needed changing."), the rest what was done.
std::string SummaryLine(const mesh::RepairForPrintReport& report)
{
    std::istringstream summary(mesh::FormatRepairSummary(report));
    std::string joined;
    for (std::string line; std::getline(summary, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos)
            joined += (joined.empty() ? "" : " | ") + line.substr(start);
    }
    return joined;
}

// Whether the two meshes have the same triangles at the same corner positions.
bool SameTriangles(const TriangleMesh& a, const TriangleMesh& b)
{
    if (a.indices.size() != b.indices.size())
        return false;
    for (std::size_t c = 0; c < a.indices.size(); ++c) {
        const mesh::Vec3 p = a.vertices[a.indices[c]].position, q = b.vertices[b.indices[c]].position;
        if (p.x != q.x || p.y != q.y || p.z != q.z)
            return false;
    }
    return true;
}

// A second repair of what the first gave: whether it changes it, and what its box would say.
void AddSecondRepair(JsonLine& line, const TriangleMesh& repaired)
{
    TriangleMesh again = repaired;
    const mesh::RepairForPrintReport second = mesh::RepairForPrint(again, {});
    const bool changed = second.repaired || !SameTriangles(repaired, again);
    line.Add("second_changed", changed).Add("second_info", changed ? FirstLine(app::RepairInformationText(second, 0).text) : "");
}

std::string RunRepair(const Options& options, const TriangleMesh& part)
{
    JsonLine line;
    line.Add("route", "repair");
    const Measures before = Measure(part);
    const auto start = std::chrono::steady_clock::now();
    app::RepairJobResult result = app::RepairInputMeshJob(part);
    const double milliseconds = MillisecondsSince(start);
    if (result.outcome == app::MeshJobOutcome::failed) {
        line.Add("outcome", "failed").Add("reason", app::MeshJobFailureText(app::kRepairJobName, result.failure));
        return line.Add("ms", milliseconds).Text();
    }
    const bool replaced = result.outcome == app::MeshJobOutcome::replaced;
    const TriangleMesh& after = replaced ? result.mesh : part;
    const auto validationStart = std::chrono::steady_clock::now();
    const mesh::ValidationReport validation = mesh::ValidateMesh(after, PartValidation());
    const double validationMilliseconds = MillisecondsSince(validationStart);
    // As the document shows it: after a replacement with the fresh count of crossings and the
    // job's forecast of the check; a part left as it was with why, or with what is left.
    app::RepairInformation information{};
    if (replaced)
        information = app::RepairInformationText(result.report, validation.selfIntersectingTriangleCount, &result.crossings);
    else if (result.report.pairsLeft != 0 || result.report.emptied)
        information = app::RepairInformationText(result.report, 0);
    else
        information = app::RepairUnchangedText(result.report, result.crossings, !result.validation.problems.empty());
    line.Add("outcome", replaced ? "replaced" : "unchanged").Add("reason", "");
    AddMeasures(line, before, Measure(after));
    line.Add("corner_move", LargestCornerMove(part, after))
        .Add("bodies_gone", CountBodiesGone(part, after))
        .Add("info_kind", information.kind)
        .Add("info", information.text)
        .Add("summary", SummaryLine(result.report))
        .Add("crossings", validation.selfIntersectingTriangleCount)
        .Add("reversed_triangles", std::uint64_t(validation.reversedTriangles.size()))
        .Add("inside_out", validation.insideOut)
        .Add("verdict", mesh::VerdictText(validation.verdict))
        .Add("ms", milliseconds)
        .Add("validation_ms", validationMilliseconds);
    if (options.twice)
        AddSecondRepair(line, after);
    return line.Text();
}

// ---------------------------------------------------------------------------------------------
// The Save STL check

// The job the export dialog hands its worker for the part on show, with a new document's
// options and base fields.
app::ExportCheckJob CheckJobFor(const TriangleMesh& part)
{
    const app::CGrainforgeDoc document;
    app::ExportCheckJob job;
    job.mesh = part;
    job.tolerance = mesh::kAutomaticWeldTolerance;
    job.options = {document.exportCleanupOptions, document.exportFixes};
    job.bodies = mesh::CountBodies(part);
    job.check = [base = document.displacementSettings.base, shownPrint = app::TriangleFingerprint(part)](
                    const TriangleMesh& m, std::string& text) {
        return app::BeforeSavingReport(m, base, text,
            app::TriangleFingerprint(m) == shownPrint ? app::CheckedMesh::asShown : app::CheckedMesh::afterFixes);
    };
    return job;
}

std::string RunCheck(const Options& options, const TriangleMesh& part)
{
    JsonLine line;
    line.Add("route", "check");
    const Measures before = Measure(part);
    app::ExportCheckShared shared;
    const bool ended = app::RunExportCheck(CheckJobFor(part), shared, {});
    const app::ExportCheckOutcome& outcome = shared.outcome;
    const std::string report = app::ShownReportText(outcome.report, outcome.seconds, false);
    if (!ended || !outcome.completed || outcome.mesh.indices.empty()) {
        const std::size_t last = report.find_last_of('\n');
        line.Add("outcome", ended ? "failed" : "stopped")
            .Add("reason", last == std::string::npos ? report : report.substr(last + 1));
        return line.Add("ms", outcome.seconds * 1000.0).Text();
    }
    const app::ExportHeadline headline = app::FormatCheckHeadline(outcome.report, outcome.passed);
    line.Add("outcome", "completed").Add("reason", "");
    AddMeasures(line, before, Measure(outcome.mesh));
    const std::int64_t crossing = options.crossings
        ? std::int64_t(test::CrossingTriangles(test::FindMeetingPairsThroughGrid(outcome.mesh)).size())
        : -1;
    line.Add("corner_move", LargestCornerMove(part, outcome.mesh))
        .Add("bodies_gone", CountBodiesGone(part, outcome.mesh))
        .Add("crossing_triangles", crossing)
        .Add("passed", outcome.passed)
        .Add("headline", app::WideToUtf8(headline.text))
        .Add("headline_ok", headline.ok)
        .Add("report", report)
        .Add("ms", outcome.seconds * 1000.0);
    return line.Text();
}

// ---------------------------------------------------------------------------------------------
// Command line

int Usage()
{
    std::cerr << "usage: repair_corpus [--size MM|own] [--route repair|check|both] [--twice] [--no-crossings]\n"
                 "                     PART.stl|PART.off|gen:NAME\n"
                 "       repair_corpus --list-gen\n";
    return 2;
}

// Fills `options` from the arguments; false on anything it does not know.
bool ParseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--twice") {
            options.twice = true;
            continue;
        }
        if (arg == "--no-crossings") {
            options.crossings = false;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            options.part = arg;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (arg == "--size") {
            options.ownSize = value == "own";
            options.sizeMillimetres = options.ownSize ? 0.0f : std::stof(value);
        } else if (arg == "--route" && (value == "repair" || value == "check" || value == "both")) {
            options.repair = value != "check";
            options.check = value != "repair";
        } else {
            return false;
        }
    }
    return !options.part.empty() && (options.ownSize || options.sizeMillimetres > 0.0f);
}

// The part's name and size at the head of every line it prints.
std::string CaseFields(const Options& options)
{
    JsonLine head;
    head.Add("part", options.part);
    if (options.ownSize || options.part.rfind("gen:", 0) == 0)
        head.Add("size", "own");
    else
        head.Add("size", double(options.sizeMillimetres));
    const std::string text = head.Text();
    return text.substr(1, text.size() - 2) + ",";
}

// One route's line, with how it ended when it ended in an exception.
std::string RunRoute(const Options& options, const Loaded& loaded, bool repair)
{
    const std::string route = repair ? "repair" : "check";
    try {
        if (!loaded.ok)
            return JsonLine().Add("route", route).Add("outcome", "unreadable").Add("reason", loaded.error).Text();
        return repair ? RunRepair(options, loaded.mesh) : RunCheck(options, loaded.mesh);
    } catch (const std::bad_alloc&) {
        return JsonLine().Add("route", route).Add("outcome", "out of memory").Add("reason", "").Text();
    } catch (const std::exception& error) {
        return JsonLine().Add("route", route).Add("outcome", "failed").Add("reason", std::string("exception: ") + error.what()).Text();
    }
}

int Run(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--list-gen") {
        for (const auto& [name, make] : GeneratedParts())
            std::cout << "gen:" << name << "\n";
        return 0;
    }
    Options options;
    try {
        if (!ParseArguments(argc, argv, options))
            return Usage();
    } catch (const std::exception&) {
        return Usage();  // a number that does not read as one
    }
    Loaded loaded;
    try {
        loaded = LoadPart(options.part, options.sizeMillimetres);
    } catch (const std::bad_alloc&) {
        loaded = {false, "out of memory while reading", {}};
    }
    for (const bool repair : {true, false}) {
        if (repair ? !options.repair : !options.check)
            continue;
        const std::string line = RunRoute(options, loaded, repair);
        std::cout << "{" << CaseFields(options) << line.substr(1) << std::endl;
    }
    return 0;
}

}  // namespace
}  // namespace grainforge::tools

int main(int argc, char** argv) { return grainforge::tools::Run(argc, argv); }
