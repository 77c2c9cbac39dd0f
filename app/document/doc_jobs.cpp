// The modal mesh jobs that change the loaded part itself (Repair, Repair with Windows, Simplify
// Input Mesh, Remesh Input Mesh) and the validation of the mesh on display. Each job copies
// the part, runs on the host's job thread writing only a local result, and only after the
// join does the document look at that result: a stopped or failed job leaves the part as it
// was.
#include "app/document/document_commands.h"
#include "app/document/document_reports.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"

#include "engine/pipeline/pipeline_report_text.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/repair/windows_repair.h"

#include <new>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

mesh::ValidationOptions JobValidation(bool reliefWording)
{
    mesh::ValidationOptions o = PartValidationOptions();
    o.displacedResult = reliefWording;
    return o;
}

std::uint64_t TriangleCount(const mesh::TriangleMesh& m)
{
    return m.indices.size() / 3;
}

// The runner could not start the job thread: the result record was never written.
std::string NotStartedText(const char* jobName)
{
    return std::string(jobName) + " could not be started. The part is as it was.";
}

// The engine's report after "<job>: ", one log line per line of it.
void LogJobReport(const CGrainforgeDoc& doc, const char* jobName, const std::string& report)
{
    bool first = true;
    for (const std::string& line : SplitLogLines(report)) {
        doc.LogMessage(first ? std::string(jobName) + ": " + line : line, kLogSuccess);
        first = false;
    }
}

}  // namespace

bool CGrainforgeDoc::RunModalJob(const MeshJob& job)
{
    if (!job)
        return false;
    if (host.jobs != nullptr)
        return host.jobs->RunModalJob(job);
    // Without a runner the job runs here; nothing can set the flag.
    const std::atomic<bool> cancel{false};
    try {
        job(cancel);
    } catch (...) {
        return false;
    }
    return true;
}

void CGrainforgeDoc::TakeJobResult(mesh::TriangleMesh result)
{
    loadedPart = std::move(result);
    ++partChanges;
    // The result's validation described the part before the job.
    resultValidationMesh = nullptr;
    RebuildWorkingPart();
    partChangedSinceOpened = true;
    SetModifiedFlag(true);
    // The rebuild validated the working part; only a different mesh on show needs its own.
    if (&CurrentDisplayMesh() != &workingPart)
        partValidation = mesh::ValidateMesh(CurrentDisplayMesh(), JobValidation(false));
    LogUtf8Lines(mesh::FormatValidationReport(partValidation));
    UpdateAllViews(kHintFullRefresh);
}

mesh::ValidationOptions CGrainforgeDoc::WorkingPartValidationOptions() const
{
    if (repairLeft.valid && TriangleFingerprint(loadedPart) == repairLeft.fingerprint) {
        mesh::ValidationOptions options = repairLeft.nonManifoldKnown ? PartValidationOptions()
                                                                      : PartValidationOptions(loadedPart);
        if (repairLeft.nonManifoldKnown && mesh::CountNonManifoldEdges(loadedPart) != 0)
            options.nonManifoldEdgesRepairLeaves = repairLeft.nonManifoldEdges;
        options.openEdgesRepairLeft = repairLeft.openEdges;
        return options;
    }
    return PartValidationOptions(loadedPart);
}

bool CGrainforgeDoc::RepairMeshInPlace()
{
    if (loadedPart.vertices.empty() || loadedPart.indices.empty())
        return false;
    ShowInformation(Utf8ToWide(kRepairBusyText), kInfoOk, InfoEvent::check);
    RepairJobResult result;
    bool ran = false;
    // The check is forecast as Save STL would run it now: on the part placed, with the cleanup
    // and fixes the export dialog was last left with.
    const RepairJobSettings settings{partTransform, {mesh::kAutomaticWeldTolerance, exportCleanupOptions, exportFixes, 0}};
    const MeshJob job = [this, &result, &ran, &settings](const std::atomic<bool>&) {
        ran = true;
        result = RepairInputMeshJob(loadedPart, settings);
    };
    (void)RunModalJob(job);
    ClearInfoBox();
    if (!ran || result.outcome == MeshJobOutcome::failed) {
        const std::string text = ran ? MeshJobFailureText(kRepairJobName, result.failure) : NotStartedText(kRepairJobName);
        LogMessage(text, kLogError);
        ShowInformation(Utf8ToWide(text), kInfoError, InfoEvent::partJob);
        return false;
    }
    LogUtf8Lines(mesh::FormatRepairSummary(result.report));
    // The open edges Repair left are those it could not close: the notes on them say so.
    const mesh::TriangleMesh& repaired = result.outcome == MeshJobOutcome::replaced ? result.mesh : loadedPart;
    const bool replaced = result.outcome == MeshJobOutcome::replaced;
    repairLeft = {TriangleFingerprint(repaired), replaced ? result.report.openEdgesAfter : result.report.openEdgesBefore,
        replaced ? result.report.nonManifoldEdgesAfter : result.report.nonManifoldEdgesBefore,
        !result.report.roundLimitReached, true};
    if (result.outcome != MeshJobOutcome::replaced) {
        // The part stays; its validation's notes now know what Repair left in it.
        if (partValidation.edgeCounts.boundary != 0 && &CurrentDisplayMesh() == &workingPart)
            partValidation = mesh::ValidateMesh(workingPart, WorkingPartValidationOptions());
        const RepairInformation information = result.report.pairsLeft != 0 || result.report.emptied
            ? RepairInformationText(result.report, 0)
            : RepairUnchangedText(result.report, result.crossings, NamesSomethingWrong(result.validation));
        ShowInformation(Utf8ToWide(information.text), information.kind, InfoEvent::partJob);
        return false;
    }
    TakeJobResult(std::move(result.mesh));
    const RepairInformation information =
        RepairInformationText(result.report, partValidation.selfIntersectingTriangleCount, &result.crossings,
            &result.crossingsAsGiven);
    ShowInformation(Utf8ToWide(information.text), information.kind, InfoEvent::partJob);
    return true;
}

bool CGrainforgeDoc::FixMeshWithWindows()
{
    if (loadedPart.vertices.empty() || loadedPart.indices.empty())
        return false;
    if (!mesh::IsWindowsRepairAvailable()) {
        ShowInformation(L"This Windows does not offer the 3D printing repair service.", kInfoError, InfoEvent::partJob);
        return false;
    }
    LogMessage("Repair with Windows: " + FormatThousands(TriangleCount(loadedPart)) +
                   " triangles to the Windows repair service. Esc stops it.",
        kLogPlain);
    ShowInformation(L"Fixing the mesh with the Windows repair service. Esc stops it.", kInfoOk, InfoEvent::check);
    mesh::WindowsRepairResult result;
    MeshJobFailure failure;
    bool ran = false;
    const MeshJob job = [this, &result, &failure, &ran](const std::atomic<bool>& cancel) {
        ran = true;
        (void)RunMeshJobBody([&] { result = mesh::RepairWithWindows(loadedPart, &cancel); }, failure);
    };
    (void)RunModalJob(job);
    ClearInfoBox();
    if (result.cancelled) {
        LogMessage("Repair with Windows: stopped. The part is as it was.", kLogWarning);
        return false;
    }
    if (!ran || failure.outOfMemory || failure.exception) {
        const std::string text = ran ? MeshJobFailureText("Repair with Windows", failure)
                                     : NotStartedText("Repair with Windows");
        LogMessage(text, kLogError);
        ShowInformation(Utf8ToWide(text), kInfoError, InfoEvent::partJob);
        return false;
    }
    if (!result.succeeded) {
        LogMessage("Repair with Windows failed: " + result.message, kLogError);
        ShowInformation(L"The Windows repair service could not fix this mesh.\n" + Utf8ToWide(result.message),
            kInfoError, InfoEvent::partJob);
        return false;
    }
    const mesh::ValidationReport before = mesh::ValidateMesh(loadedPart, JobValidation(false));
    const mesh::ValidationReport after = mesh::ValidateMesh(result.mesh, JobValidation(false));
    LogMessage(FormatText("Repair with Windows: done in %.1f s. Triangles %s to %s; open edges %s to %s; "
                          "non-manifold edges %s to %s; triangles passing through others %s to %s; "
                          "volume %.2f to %.2f cubic mm.",
                   result.seconds, FormatThousands(before.triangleCount).c_str(),
                   FormatThousands(after.triangleCount).c_str(),
                   FormatThousands(before.edgeCounts.boundary).c_str(),
                   FormatThousands(after.edgeCounts.boundary).c_str(),
                   FormatThousands(before.edgeCounts.nonManifold).c_str(),
                   FormatThousands(after.edgeCounts.nonManifold).c_str(),
                   mesh::FormatSelfIntersectingCount(before).c_str(),
                   mesh::FormatSelfIntersectingCount(after).c_str(),
                   static_cast<double>(before.signedVolume), static_cast<double>(after.signedVolume)),
        kLogSuccess);
    TakeJobResult(std::move(result.mesh));
    return true;
}

bool CGrainforgeDoc::SimplifyInputMesh()
{
    if (loadedPart.vertices.empty() || loadedPart.indices.empty())
        return false;
    const float level = simplifySettings.meshDetailError;
    LogMessage(SimplifyStartLine(TriangleCount(loadedPart), level), kLogPlain);
    ShowInformation(Utf8ToWide(kSimplifyBusyText), kInfoOk, InfoEvent::check);
    SimplifyJobResult result;
    bool ran = false;
    const MeshJob job = [this, level, &result, &ran](const std::atomic<bool>& cancel) {
        ran = true;
        result = SimplifyInputMeshJob(loadedPart, partTransform, level, cancel);
    };
    (void)RunModalJob(job);
    ClearInfoBox();
    if (ran && result.outcome == MeshJobOutcome::stopped) {
        LogMessage(kSimplifyStoppedText, kLogWarning);
        return false;
    }
    if (!ran || result.outcome == MeshJobOutcome::failed || result.outcome == MeshJobOutcome::refused) {
        const std::string text = ran ? MeshJobFailureText(kSimplifyJobName, result.failure)
                                     : NotStartedText(kSimplifyJobName);
        LogMessage(text, kLogError);
        ShowInformation(Utf8ToWide(text), kInfoError, InfoEvent::partJob);
        return false;
    }
    LogJobReport(*this, kSimplifyJobName, mesh::FormatMeshSimplifyReport(result.report));
    if (result.outcome != MeshJobOutcome::replaced) {
        ShowInformation(Utf8ToWide(kNothingToSimplifyText), kInfoOk, InfoEvent::partJob);
        return false;
    }
    TakeJobResult(std::move(result.mesh));
    return true;
}

bool CGrainforgeDoc::RemeshInputMesh(const mesh::RemeshSettings& settings)
{
    if (loadedPart.vertices.empty() || loadedPart.indices.empty())
        return false;
    LogMessage(RemeshStartLine(TriangleCount(loadedPart), settings.targetEdgeMillimetres), kLogPlain);
    ShowInformation(Utf8ToWide(kRemeshBusyText), kInfoOk, InfoEvent::check);
    RemeshJobResult result;
    bool ran = false;
    const std::uint64_t limit = maximumTriangles;
    const MeshJob job = [this, &settings, limit, &result, &ran](const std::atomic<bool>& cancel) {
        ran = true;
        result = RemeshInputMeshJob(loadedPart, partTransform, settings, limit, cancel);
    };
    (void)RunModalJob(job);
    ClearInfoBox();
    if (ran && result.outcome == MeshJobOutcome::stopped) {
        LogMessage(kRemeshStoppedText, kLogWarning);
        return false;
    }
    if (!ran || result.outcome != MeshJobOutcome::replaced) {
        const std::string text = ran ? RemeshJobProblemText(result) : NotStartedText(kRemeshJobName);
        LogMessage(text, kLogError);
        ShowInformation(Utf8ToWide(text), kInfoError, InfoEvent::partJob);
        return false;
    }
    std::string report = mesh::FormatRemeshReport(result.report);
    for (const mesh::OwnScalePiece& piece : result.farPieces)
        report.append(1, '\n').append(mesh::FormatOwnScalePieceText(piece, /*forRelief=*/false));
    LogJobReport(*this, kRemeshJobName, report);
    TakeJobResult(std::move(result.mesh));
    return true;
}

void CGrainforgeDoc::ValidatePart()
{
    if (!HasPart()) {
        partValidation = mesh::ValidationReport{};
        return;
    }
    const BusyScope busy(host.busy);
    RunPipelineNow();
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    if (!handleToolActive && !surfaceViewActive && IsResultCurrent()) {
        // As the check after processing sees it, so that both say the same of one result.
        resultValidation = mesh::ValidateAsWritten(shown, JobValidation(true));
        resultValidationMesh = &shown;
        resultValidationRun = runsReported;
    } else {
        partValidation = mesh::ValidateMesh(shown,
            &shown == &workingPart ? WorkingPartValidationOptions() : JobValidation(false));
    }
    UpdateAllViews(kHintFullRefresh);
}

void CGrainforgeDoc::OnMeshRepairWithWindows()
{
    if (!HasPart() || host.prompts == nullptr)
        return;
    const std::wstring question =
        L"Fix the mesh with the Windows repair service?\n\nWindows repair closes the surface and eliminates "
        L"non-manifold edges, but it does not fix self-intersections, so it is better suited to broken STLs "
        L"than to a textured relief.\n\nIt replaces the part as loaded, and on a large part it can take a "
        L"minute or more (Esc stops it).";
    if (host.prompts->AskYesNo(question) && FixMeshWithWindows() && host.views != nullptr)
        host.views->ShowInformationPane();
}

void CGrainforgeDoc::OnMeshSimplifyInput()
{
    if (!HasPart() || host.prompts == nullptr)
        return;
    const std::string question = SimplifyQuestion(TriangleCount(loadedPart), simplifySettings.meshDetailError);
    if (host.prompts->AskYesNo(Utf8ToWide(question)) && SimplifyInputMesh() && host.views != nullptr)
        host.views->ShowInformationPane();
}

void CGrainforgeDoc::OnMeshRemeshInput()
{
    if (!HasPart() || host.dialogs == nullptr)
        return;
    const std::optional<mesh::RemeshSettings> chosen = host.dialogs->EditRemeshInput(remeshSettings, loadedPart);
    if (!chosen)
        return;
    // Only the method is kept; the dialog's other values serve this one run.
    remeshSettings.method = chosen->method;
    if (RemeshInputMesh(*chosen) && host.views != nullptr)
        host.views->ShowInformationPane();
}

}  // namespace grainforge::app
