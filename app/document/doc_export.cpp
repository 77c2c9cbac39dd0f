// The check and export commands (Validate, Check Printability, Repair, the STL saves and the
// framework's save), and the document's side of the reports: routing the run notes and
// gathering the inputs of the mesh information.
#include "app/document/document_commands.h"
#include "app/document/document_reports.h"
#include "app/document/grainforge_doc.h"
#include "app/document/file_identity.h"
#include "app/document/log_text.h"
#include "app/document/name_case.h"
#include "app/document/preset_files.h"
#include "app/document/project_file.h"
#include "app/document/proposed_file_name.h"

#include "engine/files/stl_writer.h"
#include "engine/mesh/welding.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/textures/procedural_registry.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr const char* kNoMeshToSaveText = "There is no mesh to save.";
// The check's note on a result of a run in which no face took texture; what the result is
// follows it.
constexpr const wchar_t* kNoTextureSavedNote =
    L"No face received texture in the last run, so the result carries no texture.";
constexpr const wchar_t* kStlFilter = L"STL Files (*.stl)|*.stl|All Files (*.*)|*.*||";

// The summary is written to follow "Printability: " in the log; alone in the box it opens a
// sentence.
std::string AsSentence(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}
constexpr const wchar_t* kAsciiStlFilter = L"ASCII STL Files (*.stl)|*.stl|All Files (*.*)|*.*||";

// The check's note when the view shows the part as loaded over a current result.
constexpr const wchar_t* kResultSavedNote =
    L"The view shows the part as loaded; the processed result is what will be saved.";

// The name a save proposes: never the loaded file's own, which a hurried Enter would replace,
// and saying what the file will hold: "textured" only for a result that carries texture.
std::wstring DefaultStlName(const std::wstring& partSourcePath, SavedMesh saved)
{
    const std::filesystem::path stem = PathFromWide(partSourcePath).stem();
    if (stem.empty())
        return L"model.stl";
    const char* suffix = saved == SavedMesh::textured ? " textured.stl"
        : saved == SavedMesh::untexturedResult         ? " processed.stl"
                                                       : " as loaded.stl";
    return PathToWide(ProposedFileName(stem, suffix));
}

void AddNote(std::wstring& note, std::wstring_view sentence)
{
    note += (note.empty() ? L"" : L" ") + std::wstring(sentence);
}

// Whether `path` is the file the part was loaded from: the same file to the file system
// ("./", "..", a symbolic or a hard link all reach it, by the one rule every save asks), or
// the same name letter for letter without regard to case. The document's save then asks
// where instead, so a name that only looks like the part's costs a question, never the part.
bool NamesLoadedPart(const std::filesystem::path& path, const std::wstring& partSourcePath)
{
    if (partSourcePath.empty())
        return false;
    const std::filesystem::path source = PathFromWide(partSourcePath);
    return IsSameFile(path, source) || LowerCaseName(path.native()) == LowerCaseName(source.native());
}

// The refusal of an STL target, for a box: what the file is, its name, and what to do.
std::wstring StlRefusalText(const std::string& what, const std::filesystem::path& path)
{
    return L"The file chosen is " + Utf8ToWide(what) + L":\n" + PathToDisplay(path) +
        L"\nSaving the STL there would replace it. Choose another name for the STL.";
}

}  // namespace

SavedMesh CGrainforgeDoc::SavedMeshKind() const
{
    if (&ResultOrPart() == &workingPart)
        return SavedMesh::partAsLoaded;
    return displacementOn && !SavedResultCarriesNoTexture() ? SavedMesh::textured : SavedMesh::untexturedResult;
}

void CGrainforgeDoc::ClearInfoBox() const
{
    // Only the busy text goes: the words on the part, its checks and its saves still hold
    // while the job has not changed the part.
    if (std::erase_if(eventWords, [](const InformationText& word) {
            return word.event == InfoEvent::check && word.kind == kInfoOk;
        }) > 0)
        ShowComposedInformation();
}

const mesh::ValidationReport& CGrainforgeDoc::CurrentValidation() const
{
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    if (&shown != &workingPart && resultValidationMesh == &shown && resultValidationRun == runsReported)
        return resultValidation;
    return partValidation;
}

CGrainforgeDoc::PrintCheckKey CGrainforgeDoc::ShownMeshKey() const
{
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    return {&shown, shown.indices.size(), runsReported, partGeneration};
}

const mesh::PrintabilityReport* CGrainforgeDoc::CurrentPrintCheck() const
{
    return printCheckReport.checked && printCheckKey == ShownMeshKey() ? &printCheckReport : nullptr;
}

void CGrainforgeDoc::OnMeshValidate()
{
    if (host.log != nullptr)
        host.log->Clear();
    ValidatePart();
    LogUtf8Lines(mesh::FormatValidationReport(CurrentValidation()));
    if (host.views != nullptr)
        host.views->FocusView();
}

void CGrainforgeDoc::OnMeshCheckPrintability()
{
    if (!HasPart())
        return;
    const BusyScope busy(host.busy);
    printCheckReport = mesh::CheckPrintability(CurrentDisplayMesh(), DocumentPrintability(displacementSettings.base.axis, true));
    printCheckKey = ShownMeshKey();
    LogUtf8Lines(mesh::FormatPrintabilityReport(printCheckReport));
    UpdateAllViews(kHintPrintCheck);
    if (host.views != nullptr)
        host.views->FocusView();

    const mesh::PrintabilityReport& r = printCheckReport;
    std::string text = AsSentence(mesh::FormatPrintabilitySummary(r)) + ".";
    if (!r.featuresInAir.empty()) {
        text += "\nRed: where the support goes - a layer with nothing beneath it.";
    } else if (r.airPlaces.empty() && r.farReaches.empty()) {
        text += " Every layer has something beneath it and nothing reaches far past the layer below.";
        ShowInformation(Utf8ToWide(text), kInfoOk, InfoEvent::check);
        return;
    }
    if (!r.farReaches.empty())
        text += "\nOrange: reaching more than 6 mm past the layer below; support recommended.";
    text += "\nEnable support in the slicer, or move the texture or displace less.";
    ShowInformation(Utf8ToWide(text), kInfoWarning, InfoEvent::check);
}

void CGrainforgeDoc::OnMeshRepair()
{
    if (!HasPart())
        return;
    const mesh::ValidationReport& current = CurrentValidation();
    if (current.problems.empty() && current.componentCount < 2) {
        ShowInformation(L"Validation found nothing to repair.", kInfoOk, InfoEvent::check);
        return;
    }
    const std::wstring question =
        L"Repair the part as loaded?\n\nRepair welds corners, removes empty, duplicate and double-skinned "
        L"triangles, turns wrongly wound ones, splits non-manifold edges where two solids touch, closes "
        L"small gaps where triangles are missing (holes in the design are kept) and removes crumbs too "
        L"small to print. It moves corners only as far as welding and splitting take them, and says so "
        L"where that changes a body past the Save STL check's rule; triangles passing through others "
        L"stay as they are.\n\nIt replaces the part as loaded; open the file again to get the original back.";
    if (host.prompts == nullptr || !host.prompts->AskYesNo(question))
        return;
    // A repair that changed nothing, or failed, has said why in the box already.
    if (RepairMeshInPlace() && host.views != nullptr)
        host.views->FocusView();
}

bool CGrainforgeDoc::PrepareExport(ExportPlan& plan, bool ascii)
{
    if (!HasPart()) {
        ShowInformation(Utf8ToWide(kNoMeshToSaveText), kInfoOk, InfoEvent::save);
        return false;
    }
    RunPipelineNow();
    if (host.dialogs == nullptr)
        return false;

    // The current result whatever the view shows: Outer / Inner and the handle tools show the
    // part as loaded over it, and a file named and checked as the result must hold it.
    const mesh::TriangleMesh& saved = ResultOrPart();
    ExportDialogRequest request;
    request.mesh = &saved;
    request.weldTolerance = mesh::kAutomaticWeldTolerance;
    request.cleanup = exportCleanupOptions;
    request.fixes = exportFixes;
    request.bodies = mesh::CountBodies(workingPart);
    request.ascii = ascii;
    if (ascii)
        AddNote(request.note, kAsciiSaveNote);
    if (IsResultOutOfDate())
        AddNote(request.note, L"The part has not been processed with the current settings (" + StatusText() +
                                  L"). The part as shown is what will be saved.");
    else if (&saved != &CurrentDisplayMesh())
        AddNote(request.note, kResultSavedNote);
    if (SavedResultCarriesNoTexture())
        AddNote(request.note, std::wstring(kNoTextureSavedNote) + L" " +
                                  Utf8ToWide(mesh::FormatResultWithoutRelief(pipeline.PublishedReport().partChange)));
    // A copy of the base fields now: the check runs on the dialog's thread. The mesh it is
    // given is the one to save unless the dialog's cleanup and fixes changed it; its heading then
    // says so, since its counts need not be those of Process and Check Printability.
    request.check = [base = displacementSettings.base, savedPrint = TriangleFingerprint(saved)](
                        const mesh::TriangleMesh& m, std::string& text) {
        return BeforeSavingReport(m, base, text,
            TriangleFingerprint(m) == savedPrint ? CheckedMesh::asShown : CheckedMesh::afterFixes);
    };

    std::optional<ExportDialogResult> result = host.dialogs->RunExportCheck(request);
    if (!result)
        return false;
    exportCleanupOptions = result->cleanup;
    exportFixes = result->fixes;
    LogUtf8Lines(result->reportText);
    plan.mesh = std::move(result->mesh);
    plan.cleanup = result->cleanup;
    plan.choice = result->choice;
    return true;
}

std::string CGrainforgeDoc::StlTargetRefusal(const std::filesystem::path& path) const
{
    std::vector<KeptFile> kept{{PathFromWide(projectPath), "the open project"},
        {PathFromWide(textureImagePath), "the loaded texture image"}};
    for (std::filesystem::path& preset : AllPresetFiles(LibraryRootsOfHost()))
        kept.push_back({std::move(preset), "a preset file"});
    if (const KeptFile* found = FindKeptFile(path, kept))
        return found->what;
    return ProgramFileWhat(path, ProgramPlacesOfHost());
}

bool CGrainforgeDoc::WriteStl(const std::filesystem::path& path, bool ascii, const ExportPlan& plan)
{
    // Refused before anything is written: the file would hold STL bytes, and nothing would say
    // the project or the image it was is gone.
    if (const std::string what = StlTargetRefusal(path); !what.empty()) {
        LogMessage("Export failed: the file chosen is " + what + ": " + PathToUtf8(path), kLogError);
        ShowInformation(std::wstring(kSaveFailedText) + L"\n" + StlRefusalText(what, path), kInfoError,
            InfoEvent::save);
        return false;
    }
    const BusyScope busy(host.busy);
    const bool fileWasThere = RegularFileAt(path);
    mesh::StlWriteOptions options;
    options.format = ascii ? 1 : 0;
    options.headerText = PathToUtf8(path.filename());
    // Every save is read back before it replaces the old file.
    options.readBack = true;
    mesh::ExportResult result;
    try {
        result = mesh::WriteStlFile(path, plan.mesh, options);
    } catch (const std::bad_alloc&) {
        result = mesh::ExportResult{};
        result.error = "There is not enough memory to write this file.";
    }
    if (!result.ok) {
        LogMessage("Export failed: " + PathToUtf8(path) + ": " + result.error, kLogError);
        ShowInformation(std::wstring(kSaveFailedText) + L"\n" + PathToDisplay(path.filename()) + L": " +
                            Utf8ToWide(result.error) + (fileWasThere ? L"\n" + std::wstring(kFileKeptText) : L""),
            kInfoError, InfoEvent::save);
        return false;
    }
    const std::string report = mesh::FormatExportReport(result.report);
    LogUtf8Lines(report);
    NoteSaveOverPartFile(path);
    // The box says the file was written (the report's first line), under a warning that still holds.
    const std::vector<std::string> lines = SplitLogLines(report);
    ShowInformation(lines.empty() ? std::wstring() : Utf8ToWide(lines.front()), kInfoOk, InfoEvent::save);
    return true;
}

void CGrainforgeDoc::NoteSaveOverPartFile(const std::filesystem::path& saved)
{
    // Asked after the write: a hard link of the part's file that was saved over now names
    // another file, and the part's own file is as it was.
    if (!testShapeName.empty() || partSourcePath.empty() || !IsSameFile(saved, PathFromWide(partSourcePath)))
        return;
    // The file holds the part placed, perhaps textured, and a project naming it would place it
    // again: the part as opened lives on only here, as after a mesh job.
    partChangedSinceOpened = true;
    SetModifiedFlag(true);
    LogMessage("The part's own file now holds the part as saved, so the next project save keeps the part as "
               "opened beside the project.",
        kLogPlain);
}

bool CGrainforgeDoc::SaveStlAs()
{
    ExportPlan plan;
    if (!PrepareExport(plan) || host.prompts == nullptr)
        return false;
    return AskAndWriteStl(
        {L"Save STL As", kStlFilter, DefaultStlName(partSourcePath, SavedMeshKind()), L"stl"}, false,
        plan);
}

bool CGrainforgeDoc::AskAndWriteStl(FileDialogRequest request, bool ascii, const ExportPlan& plan)
{
    // The dialog refuses the open project, the image and the presets before it asks whether to
    // replace the file; a host whose dialog does not ask has the name refused here, and the
    // dialog comes again, as Save Project As does.
    request.refusal = [this](const std::filesystem::path& path) {
        const std::string what = StlTargetRefusal(path);
        return what.empty() ? std::wstring() : StlRefusalText(what, path);
    };
    for (;;) {
        const std::optional<std::filesystem::path> chosen = host.prompts->AskSaveFile(request);
        if (!chosen)
            return false;
        if (WriteStl(*chosen, ascii, plan))
            return true;
        if (StlTargetRefusal(*chosen).empty())
            return false;
    }
}

void CGrainforgeDoc::OnFileSaveAsciiStl()
{
    ExportPlan plan;
    if (!PrepareExport(plan, true) || host.prompts == nullptr)
        return;
    (void)AskAndWriteStl({L"Save ASCII STL As", kAsciiStlFilter,
                             DefaultStlName(partSourcePath, SavedMeshKind()), L"stl"},
        true, plan);
}

void CGrainforgeDoc::OnFileSaveStl(bool ascii)
{
    if (ascii)
        OnFileSaveAsciiStl();
    else
        (void)SaveStlAs();
}

bool CGrainforgeDoc::OnSaveDocument(const std::filesystem::path& path)
{
    if (IsProjectPath(path))
        return SaveProject(path);
    if (NamesLoadedPart(path, partSourcePath))
        return SaveStlAs();
    ExportPlan plan;
    if (!PrepareExport(plan))
        return false;
    return WriteStl(path, false, plan);
}

void CGrainforgeDoc::OnTestGridResolution(int commandId)
{
    const int cells = commandId == kCmdSurfaceGrid128 ? 128 : commandId == kCmdSurfaceGrid512 ? 512 : 256;
    SetSurfaceTestGridResolution(cells);
}

std::string CGrainforgeDoc::LogReliefNotes()
{
    const ReliefNotes notes = app::ReliefReportText(runReport, BoundsSize(workingPart),
        displacementSettings.wallThresholdMillimetres);
    for (const DocumentLogLine& line : notes.logLines)
        LogMessage(line.text, line.level);
    return notes.showInformation ? notes.informationText : std::string();
}

std::string CGrainforgeDoc::MeshInformationReport()
{
    MeshInformationInputs inputs;
    inputs.hasPart = HasPart();
    if (!inputs.hasPart)
        return app::MeshInformationReport(inputs);

    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    const MeasurementKey key{&shown, shown.indices.size(), shown.vertices.size(), runsReported, partChanges, true};
    if (!measurementKey.valid || measurementKey.mesh != key.mesh || measurementKey.indexCount != key.indexCount ||
        measurementKey.vertexCount != key.vertexCount || measurementKey.runs != key.runs ||
        measurementKey.partChanges != key.partChanges) {
        measurements = MeasureMesh(shown);
        measurementKey = key;
    }

    inputs.displayMesh = &shown;
    inputs.validation = &CurrentValidation();
    inputs.partShownForResult = &shown == &workingPart && pipeline.HasResult() && IsResultCurrent();
    inputs.measurements = measurements;
    inputs.partSourcePath = PathFromWide(partSourcePath);
    // The shares and timings of the surfaces section need the classification's report,
    // which the cached per-triangle bytes do not keep: one march more, only when asked.
    mesh::SurfaceClassReport classes;
    if (!surfaceTestGrid.cells.empty() && !SurfaceClassification().empty()) {
        (void)mesh::ClassifyOuterSurface(surfaceTestGrid, workingPart, &classes);
        inputs.surfaceGrid = &surfaceTestGrid;
        inputs.surfaceClasses = &classes;
    }
    inputs.detailedLog = IsDetailedLogOn();
    inputs.fileFormat = importReport.format;
    inputs.testShapeName = testShapeName;
    // Counted with the other measurements of the mesh on display: a test shape has no import
    // report, and a processed result or a repaired part need not have the bodies the file had.
    inputs.bodies = measurements.bodies;
    if (proceduralTexture) {
        inputs.hasProceduralTexture = true;
        inputs.proceduralDescription = mesh::procedural::DescribeParameters(*proceduralTexture);
        inputs.renderedWidth = heightMap.width;
        inputs.renderedHeight = heightMap.height;
    }
    inputs.projection = projection;
    inputs.textureSettings = heightMap.settings;
    inputs.masks = maskVolumes;
    if (workingPart.boundsValid && std::isfinite(workingPart.boundsMin.z))
        inputs.bedHeight = workingPart.boundsMin.z;
    // A measure of the last run's triangles and texture is left out once either has changed.
    if (IsRunSamplingCurrent())
        inputs.sampling = runReport.sampling;
    inputs.importWarnings = importReport.warnings;
    inputs.partChangedSinceRead = partChanges != partChangesAtRead;
    // Engine texts may carry a file name's bytes; the view shows only valid UTF-8.
    return WideToUtf8(Utf8ToWide(app::MeshInformationReport(inputs)));
}

}  // namespace grainforge::app
