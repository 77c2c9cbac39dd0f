#include "app/document/grainforge_doc.h"

#include "app/document/document_commands.h"
#include "app/document/log_text.h"

#include <algorithm>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

mesh::RemeshSettings NewRemeshSettings()
{
    mesh::RemeshSettings s;
    s.method = mesh::RemeshMethod::contour;
    s.dualContouring.sharpness = 1.0f;
    s.dualContouring.preserveVolume = true;
    s.dualContouring.removeDisconnected = false;
    s.dualContouring.disconnectedThreshold = 1.0f;
    s.dualContouring.manifold = true;
    s.targetEdgeMillimetres = 0.2f;
    s.rounds = 5;
    s.featureAngleDegrees = 40.0f;
    s.relaxation = 0.5f;
    s.projectToOriginal = true;
    return s;
}

mesh::SimplifySettings NewSimplifySettings()
{
    mesh::SimplifySettings s;
    s.planarToleranceMillimetres = 0.0001f;
    s.relativePlanarTolerance = 0.000001f;
    s.planarAngleDegrees = 1.0f;
    s.minimumTriangleHeightMillimetres = 0.001f;
    s.maximumValence = 24;
    s.maximumSweeps = 64;
    s.preserveVertexNormals = true;
    s.protectTexturedFaces = false;
    s.flatAreas = true;
    s.wholeMesh = true;
    s.meshDetailError = 0.01f;
    return s;
}

mesh::DisplacementSettings NewDisplacementSettings()
{
    mesh::DisplacementSettings s;
    s.method = mesh::DisplacementMethod::solid;
    s.limitToClearance = true;
    s.mitreCreases = true;
    s.preventFolds = true;
    s.maximumTiltDegrees = 80.0f;
    s.wallThresholdMillimetres = 0.42f;
    s.checkThinWalls = true;
    s.holdThinWalls = true;
    s.strengthMillimetres = 1.0f;
    s.midLevel = 0.5f;
    s.midLevelMode = mesh::MidLevelMode::automatic;
    s.direction = mesh::DisplacementDirection::centred;
    s.invert = false;
    s.outsideRule = mesh::OutsideRule::average;
    s.base.enabled = false;
    s.base.axis = 2;
    s.base.protectBelow = true;
    s.base.planeMillimetres = 0.0f;
    s.base.bandMillimetres = 0.0f;
    return s;
}

}  // namespace

void EmptyHeightMap(mesh::HeightMap& map)
{
    map.width = map.height = 0;
    map.sourceWidth = map.sourceHeight = 0;
    map.source.clear();
    map.seamless.clear();
    map.blurred.clear();
    map.hasMidValue = false;
    map.midValue = 0.0f;
}

CGrainforgeDoc::CGrainforgeDoc(DocumentHost newHost) : host(newHost)
{
    exportCleanupOptions = mesh::ExportCleanupOptions{true, true, 5.0f, 0.5f};
    exportFixes.splitNonManifoldEdges = true;
    exportFixes.unfoldTriangles = true;
    exportFixes.resolveSelfIntersections = true;
    exportFixes.removeCrumbs = true;
    exportFixes.maximumRounds = 40;
    exportFixes.maximumMoveMillimetres = 1.0f;
    ResetSettingsToDefaults();
}

void CGrainforgeDoc::SetModifiedFlag(bool value)
{
    if (modified == value)
        return;
    modified = value;
    if (host.views != nullptr)
        host.views->DocumentStateChanged();
}

void CGrainforgeDoc::SetTitle(const std::wstring& value)
{
    if (title == value)
        return;
    title = value;
    if (host.views != nullptr)
        host.views->DocumentStateChanged();
}

void CGrainforgeDoc::SetPathName(const std::filesystem::path& value)
{
    if (pathName == value)
        return;
    pathName = value;
    if (!value.empty())
        title = PathToDisplay(value.filename());
    if (host.views != nullptr)
        host.views->DocumentStateChanged();
}

void CGrainforgeDoc::UpdateAllViews(int hint)
{
    if (host.views != nullptr)
        host.views->UpdateAllViews(hint);
}

bool CGrainforgeDoc::OnNewDocument()
{
    DeleteContents();
    SetPathName({});
    SetTitle(L"Untitled");
    SetModifiedFlag(false);
    // Nothing said about the work before holds for an empty document.
    NoteEvent(InfoEvent::part);
    // Emptying keeps the box blend for the next part; New keeps nothing.
    projection = mesh::InitProjection();
    ResetSettingsToDefaults();
    return true;
}

void CGrainforgeDoc::ResetSettingsToDefaults()
{
    remeshSettings = NewRemeshSettings();
    simplifySettings = NewSimplifySettings();
    displacementSettings = NewDisplacementSettings();
    remeshOn = displacementOn = simplifyOn = true;

    EmptyHeightMap(heightMap);
    heightMap.sourceName.clear();
    heightMap.ApplySettings(mesh::TextureSettings{});

    ++pixelGeneration;
    ++pipelinePixelGeneration;
    proceduralTexture.reset();
    proceduralPresetName.clear();
    textureImagePath.clear();
    ResetUndoHistory();
}

void CGrainforgeDoc::DeleteContents()
{
    partChangedSinceOpened = false;
    pipeline.Clear();

    loadedPart = mesh::TriangleMesh{};
    workingPart = mesh::TriangleMesh{};
    ++partGeneration;
    partTransform = mesh::Transform3x4{};

    importReport = mesh::StlImportReport{};
    partValidation = mesh::ValidationReport{};
    resultValidation = mesh::ValidationReport{};
    resultValidationMesh = nullptr;
    printCheckReport = mesh::PrintabilityReport{};

    const std::uint8_t blended = projection.boxBlended;
    const float sharpness = projection.boxBlendSharpness;
    projection = mesh::InitProjection();
    projection.boxBlended = blended;
    projection.boxBlendSharpness = sharpness;

    maskVolumes.clear();
    selectedMask = -1;
    restingFaces.clear();
    // Derived from the part, and up to 512^3 cells: not kept for a part that is gone.
    surfaceTestGrid = mesh::OccupancyGrid{};
    surfaceClasses.clear();
    surfaceClassesValid = false;
    displayWeights = mesh::TextureWeights{};
    displayWeightsKey = WeightsKey{};

    handleToolActive = false;
    runStartedByProcess = false;
    surfaceViewActive = false;
    displayMesh = nullptr;

    runReport = mesh::PipelineReport{};
    resultWords.clear();

    partSourcePath.clear();
    testShapeName.clear();
    projectPath.clear();
    projectLeft.reset();
    projectKept = ProjectKept{};

    ResetUndoHistory();
}

bool CGrainforgeDoc::IsDetailedLogOn() const
{
    return host.log != nullptr && host.log->IsDetailedLogOn();
}

void CGrainforgeDoc::LogMessage(std::string_view text, int level) const
{
    if (host.log == nullptr)
        return;
    // Engine reports carry file names as the file system's bytes, which need not be UTF-8.
    const std::string utf8 = WideToUtf8(Utf8ToWide(text));
    if (host.log->IsDetailedLogOn()) {
        host.log->AppendLine(utf8, level);
        return;
    }
    const std::string stripped = StripTimings(utf8);
    if (!utf8.empty() && stripped.empty())
        return;
    host.log->AppendLine(stripped, level);
}

void CGrainforgeDoc::LogUtf8Lines(std::string_view utf8) const
{
    for (const std::string& line : SplitLogLines(utf8))
        LogMessage(line, kLogPlain);
}

namespace {

bool IsSaveEvent(InfoEvent event)
{
    return event == InfoEvent::save || event == InfoEvent::project;
}

// A word of kind ok is for the moment and goes with the next text, except the word on a file
// written: that still holds, whatever is said after it, until an event takes it.
template <typename Word>
bool IsMomentaryNote(const Word& word)
{
    return word.kind == kInfoOk && !IsSaveEvent(word.event);
}

}  // namespace

bool InformationGoesWith(InfoEvent later, InfoEvent shown, int kind)
{
    const bool verdict = shown == InfoEvent::run || shown == InfoEvent::runRefused || shown == InfoEvent::check ||
                         shown == InfoEvent::placement || shown == InfoEvent::note || shown == InfoEvent::partJob;
    switch (later) {
    case InfoEvent::view:
        return false;
    case InfoEvent::note:
        return shown == InfoEvent::note;
    case InfoEvent::runRefused:
        // Nothing ran: a save, a check or a job's word still holds; an earlier refusal may not.
        return shown == InfoEvent::run || shown == InfoEvent::runRefused || shown == InfoEvent::note;
    case InfoEvent::partJob:
        // A job that replaced the part has taken every word with the part (RebuildWorkingPart);
        // one that left it as it was takes only an earlier job's word.
        return shown == InfoEvent::partJob || shown == InfoEvent::note;
    case InfoEvent::save:
    case InfoEvent::project:
        // A project written says nothing of a part that could not be, nor the other way round.
        return shown == later || shown == InfoEvent::note;
    case InfoEvent::check:
        return verdict;
    case InfoEvent::placement:
    case InfoEvent::edit:
        // After an edit the project is no longer as saved; a failed save still holds, and a
        // part written stays written.
        return verdict || (shown == InfoEvent::project && kind == kInfoOk);
    case InfoEvent::texture:
        // Another texture is an edit too: it answers no save, so a file written, or one that
        // could not be, is still so. It takes every other word.
        return shown != InfoEvent::save && (shown != InfoEvent::project || kind == kInfoOk);
    default:
        return true;
    }
}

bool CGrainforgeDoc::EventTakesWord(InfoEvent event, const InformationText& word) const
{
    // Undo and redo put back placement, texture and settings, never the mesh a job made: the
    // job's word still describes the part.
    if (restoringEdit && word.event == InfoEvent::partJob)
        return false;
    return InformationGoesWith(event, word.event, word.kind);
}

bool CGrainforgeDoc::DropInformationTakenBy(InfoEvent event) const
{
    return std::erase_if(eventWords, [this, event](const InformationText& word) {
        return EventTakesWord(event, word);
    }) > 0;
}

void CGrainforgeDoc::ShowInformation(const std::wstring& text, int kind, InfoEvent event) const
{
    // A run or a new part or texture takes a view's note whatever it says; any other text takes
    // it only when it is a note.
    const bool takesNote = event != InfoEvent::view && InformationGoesWith(event, InfoEvent::view, viewNote.kind);
    if (event == InfoEvent::view) {
        viewNote = {text, kind, event};
    } else if (text.empty()) {
        (void)DropInformationTakenBy(event);
    } else {
        // A note is for the moment; a warning or an error goes only with a word at least as
        // grave on an event that takes what it reports on, or with the outcome of a later save.
        std::erase_if(eventWords, [&](const InformationText& word) {
            const bool laterSave = IsSaveEvent(event) && word.event == event;
            return (IsMomentaryNote(word) && (!restoringEdit || word.event != InfoEvent::partJob)) || laterSave ||
                   (word.kind <= kind && EventTakesWord(event, word));
        });
        eventWords.push_back({text, kind, event});
    }
    if (takesNote || (event != InfoEvent::view && !text.empty() && viewNote.kind == kInfoOk))
        viewNote = {};
    if (event == InfoEvent::view && !text.empty())
        std::erase_if(eventWords, [](const InformationText& word) { return IsMomentaryNote(word); });
    ShowComposedInformation();
}

bool CGrainforgeDoc::ResultWordsStand() const
{
    return !resultWords.empty() && IsResultCurrent();
}

void CGrainforgeDoc::ShowResultWordsWhileCurrent() const
{
    if (ResultWordsStand() != resultWordsShown)
        ShowComposedInformation();
}

void CGrainforgeDoc::ShowComposedInformation() const
{
    resultWordsShown = ResultWordsStand();
    if (host.information == nullptr)
        return;
    std::vector<const InformationText*> shown;
    // The result's warnings first among equals: they are older than any word shown over them.
    const InformationText result{resultWords, kInfoWarning, InfoEvent::run};
    if (resultWordsShown)
        shown.push_back(&result);
    for (const InformationText& word : eventWords)
        shown.push_back(&word);
    if (!viewNote.text.empty())
        shown.push_back(&viewNote);
    std::stable_sort(shown.begin(), shown.end(), [](const auto* a, const auto* b) { return a->kind > b->kind; });
    std::vector<InformationMessage> messages;
    for (const InformationText* word : shown)
        messages.push_back({DisplayText(word->text), word->kind});
    host.information->ShowMessages(messages);
}

void CGrainforgeDoc::NoteEvent(InfoEvent event) const
{
    // The box may hold a text the document never saw (the shell shows some of its own): an
    // event that takes every earlier word clears it whatever the document last showed.
    const bool takesEverything = InformationGoesWith(event, InfoEvent::view, viewNote.kind);
    if (takesEverything)
        viewNote = {};
    if (DropInformationTakenBy(event) || takesEverything)
        ShowComposedInformation();
}

bool CGrainforgeDoc::HasPart() const
{
    return !workingPart.vertices.empty() && !workingPart.indices.empty();
}

bool CGrainforgeDoc::IsHeightMapLoaded() const
{
    return heightMap.width >= 1 && heightMap.height >= 1 && !heightMap.blurred.empty();
}

}  // namespace grainforge::app
