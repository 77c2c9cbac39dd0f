// Runs Mesh > Repair, the Save STL check, or both, on one part as the program runs them, and
// prints what came of each as one JSON line, for the before-and-after comparison
// (tools/compare). The part is loaded as process_corpus loads it (tools/corpus_part): an STL or
// OFF file scaled so that its largest extent is --size mm and stood on z = 0, or at its own size
// and place with --size own, or "gen:<name>" for one of the test shapes.
//
// Both open the part in a document, as a file is opened (its windows a recorder that says
// "Yes"). Repair: Mesh > Repair as the menu runs it, timed; the box it leaves (text and kind),
// the repair log's summary, and the validation of the part after it (verdict, crossings,
// triangles facing the wrong way, inside out); with --twice, whether Mesh > Repair once more
// changes the part. Check: the export dialog's worker on the part on show, with the document's
// weld tolerance, cleanup, fixes and base fields; its headline, whether it passed, the report
// as shown, and the triangles crossing others in what it would write (the exact search the
// tests use). Both lines hold the bodies, signed volume, closed, manifold and outward before and
// after, the edge faults after, the largest distance from a corner written to the nearest
// corner of the part, the part's bodies of which no corner is left, and the milliseconds of
// the run (the measures are not timed).
//
// The same source is built against older commits, so it keeps to long-standing entry points:
// the document's window interfaces, InstallGeneratedPart, OnMeshRepair and public members,
// RepairInputMeshJob, FormatRepairSummary, RepairForPrint, RunExportCheck with ExportCheckJob,
// FormatCheckHeadline, ShownReportText, BeforeSavingReport, TriangleFingerprint and CountBodies.
#include "app/document/document_reports.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/mesh_jobs.h"
#include "app/workflow/dialogs/export_check.h"
#include "engine/repair/fix_change.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/mesh/welding.h"
#include "tests/support/exact_crossings.h"
#include "tools/corpus_part/corpus_part.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
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
// The document

// The windows round the document, replaced by one recorder: the log's lines, the information
// box as it stands, and "Yes" to every question (Mesh > Repair asks before it runs).
class WindowRecorder final : public app::IOutputLog, public app::IInformationBox, public app::IPrompts {
public:
    void AppendLine(const std::string& line, int) override { log.push_back(line); }
    void Clear() override { log.clear(); }
    bool IsDetailedLogOn() const override { return false; }

    void ShowInformation(const std::wstring& text, int kind) override
    {
        box.clear();
        if (!text.empty())
            box.push_back({text, kind});
    }
    void ShowMessages(const std::vector<app::InformationMessage>& messages) override { box = messages; }

    bool AskYesNo(const std::wstring&) override { return true; }
    app::PromptAnswer AskYesNoCancel(const std::wstring&, const std::wstring&, const std::wstring&,
        const std::wstring&) override
    {
        return app::PromptAnswer::cancel;
    }
    std::optional<std::filesystem::path> AskOpenFile(const app::FileDialogRequest&) override { return std::nullopt; }
    std::optional<std::filesystem::path> AskSaveFile(const app::FileDialogRequest&) override { return std::nullopt; }

    std::vector<std::string> log;
    // The box's messages, the gravest first; empty when it is hidden.
    std::vector<app::InformationMessage> box;
};

// A document with the part opened as a file opens (placed as loaded, its relief base seated on
// its bottom, validated), its windows the recorder.
struct OpenedPart {
    explicit OpenedPart(TriangleMesh part)
        : document(app::DocumentHost{.log = &windows, .information = &windows, .prompts = &windows})
    {
        document.InstallGeneratedPart(std::move(part), "part", L"part", "");
    }
    WindowRecorder windows;
    app::CGrainforgeDoc document;
};

// The box as one text, its messages a blank line apart, as a box of one colour shows them.
std::string BoxText(const std::vector<app::InformationMessage>& box)
{
    std::wstring text;
    for (const app::InformationMessage& message : box)
        text += (text.empty() ? L"" : L"\n\n") + message.text;
    return app::WideToUtf8(text);
}

// ---------------------------------------------------------------------------------------------
// Mesh > Repair

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

// Mesh > Repair once more on what the first gave: whether it changes it, the first line of
// the box after it and what the repair's log says it did.
void AddSecondRepair(JsonLine& line, OpenedPart& opened)
{
    const TriangleMesh first = opened.document.loadedPart;
    opened.document.OnMeshRepair();
    const bool changed = !SameTriangles(first, opened.document.loadedPart);
    TriangleMesh again = first;
    line.Add("second_changed", changed)
        .Add("second_info", changed ? FirstLine(BoxText(opened.windows.box)) : "")
        .Add("second_summary", changed ? SummaryLine(mesh::RepairForPrint(again, {})) : "");
}

// Mesh > Repair as the menu runs it on the opened part: the check whether validation found
// anything, the question, the repair job, the part replaced and validated, the box.
// The largest distance of a corner of `before` from what `after` keeps of its body, as the check
// and Repair measure it; -1 when it cannot be measured (either mesh empty or inconsistent).
double CornerLoss(const TriangleMesh& before, const TriangleMesh& after)
{
    mesh::FixBaseline baseline(before);
    const mesh::FixChangeReport change = mesh::MeasureFixChange(baseline, after, false);
    return change.measured ? double(change.partToResultMillimetres) : -1.0;
}

std::string RunRepair(const Options& options, const TriangleMesh& part)
{
    JsonLine line;
    line.Add("route", "repair");
    OpenedPart opened(part);
    app::CGrainforgeDoc& document = opened.document;
    const TriangleMesh before = document.loadedPart;
    const std::uint64_t changes = document.partChanges;
    opened.windows.log.clear();
    const auto start = std::chrono::steady_clock::now();
    document.OnMeshRepair();
    const double milliseconds = MillisecondsSince(start);
    // The job logs its summary, which opens with "Repair"; validation finding nothing stops
    // the menu before it.
    const bool ran = std::any_of(opened.windows.log.begin(), opened.windows.log.end(),
        [](const std::string& logged) { return logged.rfind("Repair", 0) == 0; });
    // The job again, for its report: the document logs only the text of it.
    const app::RepairJobResult job = app::RepairInputMeshJob(before);
    if (job.outcome == app::MeshJobOutcome::failed) {
        line.Add("outcome", "failed").Add("reason", app::MeshJobFailureText(app::kRepairJobName, job.failure));
        return line.Add("ms", milliseconds).Text();
    }
    const bool replaced = document.partChanges != changes;
    const TriangleMesh& after = document.loadedPart;
    const mesh::ValidationReport& validation = document.partValidation;
    line.Add("outcome", replaced ? "replaced" : "unchanged").Add("reason", "");
    AddMeasures(line, Measure(before), Measure(after));
    line.Add("corner_move", LargestCornerMove(before, after))
        .Add("corner_loss", replaced ? CornerLoss(before, after) : 0.0)
        .Add("bodies_gone", CountBodiesGone(before, after))
        .Add("info_kind", opened.windows.box.empty() ? -1 : opened.windows.box.front().kind)
        .Add("info", BoxText(opened.windows.box))
        .Add("summary", ran ? SummaryLine(job.report) : "")
        .Add("crossings", validation.selfIntersectingTriangleCount)
        .Add("reversed_triangles", std::uint64_t(validation.reversedTriangles.size()))
        .Add("inside_out", validation.insideOut)
        .Add("verdict", mesh::VerdictText(validation.verdict))
        .Add("ms", milliseconds);
    if (options.twice)
        AddSecondRepair(line, opened);
    return line.Text();
}

// ---------------------------------------------------------------------------------------------
// The Save STL check

// The job the export dialog hands its worker for the opened part on show, with the document's
// options and base fields.
app::ExportCheckJob CheckJobFor(const app::CGrainforgeDoc& document)
{
    const TriangleMesh& shown = document.workingPart;
    app::ExportCheckJob job;
    job.mesh = shown;
    job.tolerance = mesh::kAutomaticWeldTolerance;
    job.options = {document.exportCleanupOptions, document.exportFixes};
    job.bodies = mesh::CountBodies(shown);
    job.check = [base = document.displacementSettings.base, shownPrint = app::TriangleFingerprint(shown)](
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
    const OpenedPart opened(part);
    const Measures before = Measure(opened.document.workingPart);
    app::ExportCheckShared shared;
    const bool ended = app::RunExportCheck(CheckJobFor(opened.document), shared, {});
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
    line.Add("corner_move", LargestCornerMove(opened.document.workingPart, outcome.mesh))
        .Add("corner_loss", CornerLoss(opened.document.workingPart, outcome.mesh))
        .Add("bodies_gone", CountBodiesGone(opened.document.workingPart, outcome.mesh))
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
