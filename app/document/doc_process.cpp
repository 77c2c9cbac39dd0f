#include "app/document/document_commands.h"
#include "app/document/document_reports.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"

#include "engine/mesh/report_text.h"
#include "engine/displacement/wall_measurement.h"
#include "engine/pipeline/pipeline_report_text.h"
#include "engine/pipeline/pipeline_stages.h"
#include "engine/pipeline/process_estimate.h"
#include "platform/memory_info.h"

#include <algorithm>
#include <cmath>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr const char* kNeedsTextureText =
    "Displacement needs a texture: load one, or turn Displacement off.";
constexpr const char* kStoppedText =
    "Stopped. The part is as it was; Process runs the rest when asked.";
constexpr const wchar_t* kProcessWaitsText =
    L"Process did not run, so that the result is not made with a value other than the one shown.";


bool CageFloatsEqual(const mesh::CageFrame& a, const mesh::CageFrame& b)
{
    return a.center == b.center && a.rotationDegrees == b.rotationDegrees && a.size == b.size;
}

// What changed about the cage. A move too small to show in the text is not worded as a move
// of "0.0000 mm": the size or the turn that changed is named instead.
std::string CageChangeReason(const mesh::CageFrame& now, const mesh::CageFrame& shown)
{
    const double moved = static_cast<double>(mesh::Length(now.center - shown.center));
    if (moved >= 0.00005)
        return FormatText("cage (centre moved %.4f mm)", moved);
    const bool resized = !(now.size == shown.size);
    const bool turned = !(now.rotationDegrees == shown.rotationDegrees);
    if (resized && turned)
        return "cage (turned and resized)";
    if (turned)
        return "cage (turned)";
    if (resized)
        return "cage (resized)";
    return "cage (centre moved less than 0.0001 mm)";
}

bool SidesOrBlendEqual(const mesh::Projection& a, const mesh::Projection& b)
{
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        if (a.boxSideEnabled[s] != b.boxSideEnabled[s] || a.boxSideSurface[s] != b.boxSideSurface[s])
            return false;
    return a.boxBlended == b.boxBlended && a.boxBlendSharpness == b.boxBlendSharpness;
}

bool MappingSettingsEqual(const mesh::Projection& a, const mesh::Projection& b)
{
    return a.planeTwoSided == b.planeTwoSided && a.planeAxis == b.planeAxis &&
           a.cylinderAxis == b.cylinderAxis && a.cylinderSurface == b.cylinderSurface &&
           a.cylinderSeamDegrees == b.cylinderSeamDegrees &&
           a.cylinderSideEnabled == b.cylinderSideEnabled &&
           a.cylinderTopCapEnabled == b.cylinderTopCapEnabled &&
           a.cylinderBottomCapEnabled == b.cylinderBottomCapEnabled &&
           a.cylinderWholeTiles == b.cylinderWholeTiles && a.sphereAxis == b.sphereAxis &&
           a.sphereWholeTiles == b.sphereWholeTiles;
}

bool TileExtentEqual(const mesh::PipelineSettings& a, const mesh::PipelineSettings& b)
{
    return a.tileExtentOn == b.tileExtentOn && a.tileOffsetX == b.tileOffsetX &&
           a.tileOffsetY == b.tileOffsetY && a.tileRotationDegrees == b.tileRotationDegrees &&
           a.tileWidth == b.tileWidth && a.tileHeight == b.tileHeight;
}

bool MasksEqual(const std::vector<mesh::MaskVolume>& a, const std::vector<mesh::MaskVolume>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!mesh::MaskVolumeEquals(a[i], b[i]))
            return false;
    return true;
}

// The projection as the Mapping step sees it: the layers belong to the Texture step.
mesh::Projection WithoutLayers(mesh::Projection p)
{
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        p.layers[s] = mesh::ProjectionLayer{};
    p.activeLayer = -1;
    return p;
}

}  // namespace

mesh::PrintabilitySettings DocumentPrintability(std::int32_t upAxis, bool collectDisplay)
{
    mesh::PrintabilitySettings p;
    p.layerHeight = 0.2f;
    p.lineWidth = 0.42f;
    p.upAxis = upAxis;
    p.cellSize = 0.0f;
    p.overhangAllowance = 0.5f;
    p.minimumArea = 0.18f;
    p.bridgeLength = 10.0f;
    p.cantileverDistance = 3.0f;
    p.warningDistance = 6.0f;
    p.overhangAngleDegrees = 30.0f;
    p.collectDisplay = collectDisplay;
    p.displayLayers = 150;
    return p;
}

mesh::PipelineSettings CGrainforgeDoc::BuildPipelineSettings() const
{
    mesh::PipelineSettings s;
    s.projection = projection;
    s.surfaceMode = 0;
    s.occupancyCells = static_cast<std::uint32_t>(surfaceTestCells);
    const mesh::TextureSettings& texture = heightMap.settings;
    if (IsHeightMapLoaded() && !texture.tiles) {
        s.tileExtentOn = 1;
        s.tileOffsetX = texture.offsetMillimetres[0];
        s.tileOffsetY = texture.offsetMillimetres[1];
        s.tileRotationDegrees = texture.rotationDegrees;
        s.tileWidth = texture.widthMillimetres;
        s.tileHeight = texture.heightMillimetres;
    } else {
        s.tileExtentOn = 0;
        s.tileOffsetX = s.tileOffsetY = s.tileRotationDegrees = s.tileWidth = s.tileHeight = 0.0f;
    }
    s.masks = maskVolumes;
    s.remesh = remeshSettings;
    s.displacement = displacementSettings;
    s.simplify = simplifySettings;
    s.printability = DocumentPrintability(displacementSettings.base.axis, false);
    s.wallLineWidth = s.printability.lineWidth;
    s.remeshOn = remeshOn ? 1 : 0;
    s.displacementOn = displacementOn ? 1 : 0;
    s.simplifyOn = simplifyOn ? 1 : 0;
    s.maximumTriangles = maximumTriangles;
    s.cleanup.weldCollapsedTriangles = false;
    s.cleanup.fillHoles = false;
    s.simplify.protectTexturedFaces = IsHeightMapLoaded() && !displacementOn;
    return s;
}

mesh::StaleStage CGrainforgeDoc::StageToRerun(const mesh::PipelineSettings& settings) const
{
    return pipeline.Stages().StageToRerun(settings);
}

const mesh::TriangleMesh& CGrainforgeDoc::CurrentDisplayMesh() const
{
    if (!HasPart() || handleToolActive || surfaceViewActive)
        return workingPart;
    return ResultOrPart();
}

const mesh::TriangleMesh& CGrainforgeDoc::ResultOrPart() const
{
    if (!HasPart())
        return workingPart;
    if (pipeline.IsRunning())
        return pipeline.PublishedMesh();
    const mesh::PipelineSettings s = BuildPipelineSettings();
    if (StageToRerun(s).any)
        return workingPart;
    return pipeline.Stages().CurrentResultMesh(s);
}

bool CGrainforgeDoc::IsResultCurrent() const
{
    return HasPart() && !pipeline.IsRunning() && !StageToRerun(BuildPipelineSettings()).any;
}

bool CGrainforgeDoc::IsResultOutOfDate() const
{
    return HasPart() && !pipeline.IsRunning() && StageToRerun(BuildPipelineSettings()).any;
}

std::vector<HeldRefusal> CGrainforgeDoc::HeldRefusals() const
{
    return host.entries != nullptr ? host.entries->HeldRefusals() : std::vector<HeldRefusal>();
}

bool CGrainforgeDoc::NeedsProcessing() const
{
    if (!HasPart() || pipeline.IsRunning())
        return false;
    // Process takes the typed texts first; a refused one is said there, with why it did not run.
    if (!HeldRefusals().empty())
        return true;
    if (displacementOn && !IsHeightMapLoaded())
        return false;
    return StageToRerun(BuildPipelineSettings()).any;
}

bool CGrainforgeDoc::StepHasPendingChanges(int step) const
{
    if (!HasPart())
        return false;
    // A field's refused text is a change the result lacks: it cannot be taken as it stands.
    for (const HeldRefusal& held : HeldRefusals())
        if (held.step == step)
            return true;
    if (!pipeline.HasResult())
        return true;
    switch (step) {
    case 0:
        return !mesh::ProjectionEquals(WithoutLayers(projection), WithoutLayers(shownRunSettings.projection));
    case 1:
        return textureHandOvers != textureHandOversShown ||
               !mesh::ProjectionSidesEquals(projection.layers, shownRunSettings.projection.layers);
    case 2:
    case 3: {
        if ((step == 2 && !displacementOn) || (step == 3 && !simplifyOn))
            return false;
        mesh::StaleStage stage;
        if (pipeline.IsRunning())
            stage = {runStartStage.stage, runStartStage.hasStage};
        else
            stage = StageToRerun(BuildPipelineSettings());
        return stage.any && stage.stage <= step;
    }
    default:
        return false;
    }
}

bool CGrainforgeDoc::StageFromProgressText(int step) const
{
    if (!pipeline.IsRunning())
        return false;
    const std::string text = pipeline.GetStatus().stageText;
    const auto has = [&text](const char* part) { return text.find(part) != std::string::npos; };
    switch (step) {
    case 0:
        return has("faces receive");
    case 2:
        return has("emesh") || has("isplac");
    case 3:
        return has("implif");
    default:
        return false;
    }
}

std::wstring CGrainforgeDoc::StatusText() const
{
    if (!HasPart())
        return L"No part loaded";
    if (pipeline.IsRunning())
        return L"Processing";
    // What stops Process first stands first.
    if (const std::vector<HeldRefusal> held = HeldRefusals(); !held.empty())
        return held.front().text;
    if (displacementOn && !IsHeightMapLoaded())
        return L"Needs a texture";
    const mesh::StaleStage stage = StageToRerun(BuildPipelineSettings());
    if (!stage.any)
        return L"Up to date";
    if (!pipeline.HasResult())
        return L"Not processed yet";
    std::wstring list;
    const auto add = [&list](const wchar_t* item) {
        if (!list.empty())
            list += L", ";
        list += item;
    };
    if (stage.stage < mesh::kStageSimplify && displacementOn)
        add(L"relief");
    else if (stage.stage == mesh::kStageRemesh && remeshOn)
        add(L"remesh");
    if (stage.stage < mesh::kStageNone && simplifyOn)
        add(L"simplify");
    if (list.empty())
        add(L"mapping");
    return L"Needs: " + list;
}

bool CGrainforgeDoc::TypedEntriesTaken(const std::wstring& consequence)
{
    return host.entries == nullptr || host.entries->TakeTypedEntries(consequence);
}

void CGrainforgeDoc::RequestProcess()
{
    if (!HasPart() || pipeline.IsRunning())
        return;
    // A field's text typed and not yet taken (F5 pressed in it) is taken now; a refused one
    // stops the run, which would otherwise be made at the value it replaced.
    if (!TypedEntriesTaken(kProcessWaitsText))
        return;
    if (displacementOn && !IsHeightMapLoaded()) {
        LogMessage(kNeedsTextureText, kLogWarning);
        return;
    }
    if (handleToolActive || surfaceViewActive)
        UpdateAllViews(kHintLeaveTools);
    const mesh::PipelineSettings s = BuildPipelineSettings();
    const mesh::StaleStage stage = StageToRerun(s);
    if (!stage.any)
        return;
    // Refused at once, with the count the relief section shows, instead of after the stages;
    // the advice passes the memory this process may use as well.
    const std::uint64_t available = grainforge::platform::AvailableMemoryBytes();
    const mesh::ProcessEstimate estimate = mesh::EstimateProcessTriangles(workingPart, s, available);
    if (estimate.overLimit) {
        const std::string message = mesh::TriangleLimitText(estimate);
        LogMessage("Refused: " + message, kLogError);
        ShowInformation(Utf8ToWide(message), kInfoError, InfoEvent::runRefused);
        return;
    }
    // The whole run against the memory this process may use, before any of it is taken.
    const mesh::ProcessMemory memory = mesh::EstimateProcessMemory(workingPart, s, available);
    if (memory.over) {
        const std::string message = mesh::FormatProcessMemoryText(memory);
        LogMessage("Refused: " + message, kLogError);
        ShowInformation(Utf8ToWide(message), kInfoError, InfoEvent::runRefused);
        return;
    }
    NoteEvent(InfoEvent::run);
    runStartStage = {stage.stage, stage.any};
    textureHandOversAtStart = textureHandOvers;
    runSettings = s;
    runStartedByProcess = true;
    if (host.log != nullptr)
        host.log->Clear();
    LogMessage("Processing...", kLogPlain);
    pipeline.Request(s);
    ShowResultWordsWhileCurrent();
}

void CGrainforgeDoc::UpdatePreview()
{
    RefreshProceduralTexture(false);
    if (!HasPart())
        return;
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    const mesh::TriangleMesh* previous = displayMesh;
    displayMesh = &shown;
    displayWeights = ComputeDisplayWeights(shown);
    displayWeightsKey = {&shown, shown.indices.size(), settingsVersion};
    NoteEdit();
    ShowResultWordsWhileCurrent();
    UpdateAllViews(&shown == previous ? kHintProjection : kHintFullRefresh);
}

mesh::TextureWeights CGrainforgeDoc::ComputeDisplayWeights(const mesh::TriangleMesh& shown)
{
    const mesh::TileFrame tiles = BuildPipelineSettings().TileExtent();
    if (&shown != &workingPart) {
        if (pipeline.PublishedWeights().MatchesMesh(shown))
            return pipeline.PublishedWeights();
        return mesh::ComputeTextureWeights(shown, projection, {}, displacementSettings, tiles);
    }
    if (!surfaceTestGrid.cells.empty()) {
        const std::vector<std::uint8_t> outer = mesh::FaceFlagsToMask(SurfaceClassification());
        return mesh::ComputeTextureWeights(shown, projection, outer, displacementSettings, tiles);
    }
    return mesh::ComputeTextureWeights(shown, projection, {}, displacementSettings, tiles);
}

const mesh::TextureWeights& CGrainforgeDoc::DisplayProjectionData()
{
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    const WeightsKey key{&shown, shown.indices.size(), settingsVersion};
    if (displayWeightsKey.mesh != key.mesh || displayWeightsKey.indexCount != key.indexCount ||
        displayWeightsKey.settingsVersion != key.settingsVersion) {
        displayWeights = ComputeDisplayWeights(shown);
        displayWeightsKey = key;
    }
    return displayWeights;
}

bool CGrainforgeDoc::MappingReachesNoFace() const
{
    const mesh::TriangleMesh& shown = CurrentDisplayMesh();
    if (displayWeightsKey.mesh != &shown || displayWeightsKey.indexCount != shown.indices.size() ||
        displayWeightsKey.settingsVersion != settingsVersion)
        return false;
    const std::vector<std::uint8_t>& textured = displayWeights.faceTextured;
    return textured.size() == shown.TriangleCount() &&
           std::none_of(textured.begin(), textured.end(), [](std::uint8_t flag) { return flag != 0; });
}

bool CGrainforgeDoc::SavedResultCarriesNoTexture() const
{
    if (&ResultOrPart() == &workingPart || !IsResultCurrent())
        return false;
    const mesh::PipelineReport& report = pipeline.PublishedReport();
    return report.textureMissed && report.textureFigures.texturedFaces == 0;
}

bool CGrainforgeDoc::PollPipeline()
{
    if (!pipeline.Poll())
        return false;
    OnPipelineFinished();
    return true;
}

void CGrainforgeDoc::RunPipelineNow()
{
    if (!HasPart())
        return;
    const BusyScope busy(host.busy);
    pipeline.WaitForFullResult();
    // Nothing runs or waits now: the poll only takes the "published" mark.
    (void)pipeline.Poll();
    OnPipelineFinished();
}

void CGrainforgeDoc::LogRunReport(const mesh::PipelineReport& report) const
{
    if (IsDetailedLogOn()) {
        LogUtf8Lines(mesh::FormatPipelineReport(report));
        return;
    }
    std::string line = "Processed: " + FormatThousands(report.resultTriangles) + " triangles";
    if (report.displacementReport.displacedVertices != 0)
        line += FormatText(", relief %.2f mm", static_cast<double>(report.displacementReport.relief));
    LogMessage(line + ".", kLogSuccess);
    // An insert kept solid is among the run's warnings; a hollow kept is said here.
    const std::string hollows = mesh::FormatNestedBodies(report.nestedBodies, mesh::NestedBodyRole::hollow);
    if (!hollows.empty())
        LogMessage(hollows + ".", kLogPlain);
    if (report.walls.measured)
        LogUtf8Lines(mesh::FormatWallsLine(report.walls));
    if (report.printability.checked) {
        LogUtf8Lines(mesh::FormatPrintabilityReport(report.printability));
        const std::string before = mesh::FormatBeforeReliefLine(report);
        if (!before.empty())
            LogMessage(before, kLogPlain);
    }
}

void CGrainforgeDoc::BindResultWeights()
{
    const bool bound = !handleToolActive && !surfaceViewActive && IsResultCurrent();
    const mesh::TriangleMesh* shown = bound ? &CurrentDisplayMesh() : nullptr;
    displayWeights = pipeline.PublishedWeights();
    displayWeightsKey = {shown, shown != nullptr ? shown->indices.size() : 0, settingsVersion};
}

void CGrainforgeDoc::BindResultValidation(const mesh::PipelineReport& report)
{
    ++runsReported;
    const bool bindable = !handleToolActive && !surfaceViewActive && IsResultCurrent();
    const mesh::TriangleMesh* shown = bindable ? &CurrentDisplayMesh() : nullptr;
    if (report.validated) {
        resultValidation = report.validation;
        resultValidationMesh = shown;
        resultValidationRun = runsReported;
    } else if (report.unchanged) {
        resultValidationMesh = nullptr;
    } else if (resultValidationMesh != nullptr) {
        resultValidationMesh = shown;
        resultValidationRun = runsReported;
    }
}

void CGrainforgeDoc::OnPipelineFinished()
{
    const mesh::PipelineStatus status = pipeline.GetStatus();
    const bool started = runStartedByProcess;
    runStartedByProcess = false;
    if (status.failed) {
        LogMessage("Refused: " + status.message, kLogError);
        ShowInformation(Utf8ToWide(status.message), kInfoError, InfoEvent::runRefused);
    } else if (status.cancelled) {
        if (started)
            LogMessage(kStoppedText, kLogWarning);
    } else if (started) {
        runReport = pipeline.PublishedReport();
        LogRunReport(runReport);

        BindResultValidation(runReport);
        shownRunSettings = runSettings;
        textureHandOversShown = textureHandOversAtStart;
        std::string warnings = ResultWarningText(runReport, runSettings);
        for (const std::string& line : SplitLogLines(warnings))
            LogMessage(line, kLogWarning);
        if (runSettings.displacementOn != 0)
            if (const std::string notes = LogReliefNotes(); !notes.empty())
                warnings += (warnings.empty() ? "" : "\n\n") + notes;
        // Kept with the result: they are shown while it is current, also when it comes back.
        resultWords = Utf8ToWide(warnings);
        NoteEvent(InfoEvent::run);
        ShowComposedInformation();
        BindResultWeights();
        printCheckReport = mesh::PrintabilityReport{};
        if (runReport.validated)
            SetModifiedFlag(true);
    }
    displayMesh = &CurrentDisplayMesh();
    ShowResultWordsWhileCurrent();
    UpdateAllViews(kHintFullRefresh);
}

std::wstring CGrainforgeDoc::OutOfDateReasons() const
{
    const mesh::PipelineSettings s = BuildPipelineSettings();
    const mesh::PipelineSettings& shown = shownRunSettings;
    std::vector<std::string> reasons;
    if (s.remeshOn != shown.remeshOn || !mesh::RemeshSettingsEquals(s.remesh, shown.remesh))
        reasons.push_back("remesh");
    if (s.maximumTriangles != shown.maximumTriangles)
        reasons.push_back("triangle limit");
    if (s.projection.type != shown.projection.type)
        reasons.push_back("mapping type");
    if (!CageFloatsEqual(s.projection.cage, shown.projection.cage))
        reasons.push_back(CageChangeReason(s.projection.cage, shown.projection.cage));
    if (!SidesOrBlendEqual(s.projection, shown.projection))
        reasons.push_back("sides or blend");
    if (!MappingSettingsEqual(s.projection, shown.projection))
        reasons.push_back("mapping settings");
    if (!mesh::ProjectionSidesEquals(s.projection.layers, shown.projection.layers))
        reasons.push_back("texture placement");
    if (!TileExtentEqual(s, shown))
        reasons.push_back("one-tile frame");
    if (!MasksEqual(s.masks, shown.masks))
        reasons.push_back("mask volumes");
    if (s.occupancyCells != shown.occupancyCells || s.surfaceMode != shown.surfaceMode)
        reasons.push_back("surface test");
    if (s.displacementOn != shown.displacementOn ||
        !mesh::DisplacementSettingsEquals(s.displacement, shown.displacement))
        reasons.push_back("displacement");
    if (s.simplifyOn != shown.simplifyOn || !mesh::SimplifySettingsEquals(s.simplify, shown.simplify))
        reasons.push_back("simplify");
    if (textureHandOvers != textureHandOversShown)
        reasons.push_back("texture (handed to the pipeline " +
            mesh::FormatCountOf(textureHandOvers - textureHandOversShown, "time", "times") + " since)");
    std::string joined;
    for (const std::string& reason : reasons)
        joined += (joined.empty() ? "" : ", ") + reason;
    return Utf8ToWide(joined);
}

bool CGrainforgeDoc::IsRunSamplingCurrent() const
{
    if (!pipeline.HasResult())
        return false;
    const mesh::PipelineSettings s = BuildPipelineSettings();
    const mesh::PipelineSettings& shown = shownRunSettings;
    return textureHandOvers == textureHandOversShown && s.remeshOn == shown.remeshOn &&
           mesh::RemeshSettingsEquals(s.remesh, shown.remesh) && s.projection.type == shown.projection.type &&
           CageFloatsEqual(s.projection.cage, shown.projection.cage) &&
           mesh::ProjectionSidesEquals(s.projection.layers, shown.projection.layers) && TileExtentEqual(s, shown) &&
           s.displacementOn == shown.displacementOn &&
           mesh::DisplacementSettingsEquals(s.displacement, shown.displacement);
}

void CGrainforgeDoc::ReportOutOfDate()
{
    if (!HasPart() || pipeline.IsRunning() || runStartedByProcess || !pipeline.HasResult()) {
        resultWasCurrent = false;
        return;
    }
    const bool current = IsResultCurrent();
    ShowResultWordsWhileCurrent();
    if (resultWasCurrent && !current) {
        std::string reasons = WideToUtf8(OutOfDateReasons());
        if (reasons.empty())
            reasons = "no setting differs from the run's";
        LogMessage("The result is out of date: " + reasons + ".", kLogPlain);
    }
    resultWasCurrent = current;
}

}  // namespace grainforge::app
