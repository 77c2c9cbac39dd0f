#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"

#include "engine/textures/procedural_registry.h"

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

bool HoldsPixels(const mesh::HeightMap& map)
{
    return map.width >= 1 && map.height >= 1 && !map.blurred.empty();
}

bool TransformChanges(const mesh::Transform3x4& a, const mesh::Transform3x4& b)
{
    EditState left;
    EditState right;
    left.partTransform = a;
    right.partTransform = b;
    return !EditStateMainEquals(left, right);
}

// Whether `state` differs from `base` only as a drag changes it. Zooming a procedural pattern
// past its render band renders it again mid-drag: new pixels of the same pattern, which belong
// to the drag rather than opening a step of their own for every later mouse move.
bool ChangedOnlyByDrag(EditState& state, const EditState& base)
{
    if (EditStateMainEquals(state, base))
        return true;
    if (state.patternName.empty() || state.patternName != base.patternName ||
        state.patternParameters != base.patternParameters || state.pixelGeneration == base.pixelGeneration)
        return false;
    const std::uint32_t generation = state.pixelGeneration;
    state.pixelGeneration = base.pixelGeneration;
    const bool same = EditStateMainEquals(state, base);
    state.pixelGeneration = generation;
    return same;
}

}  // namespace

EditState CGrainforgeDoc::CaptureEditState() const
{
    EditState state;
    state.partTransform = partTransform;
    state.projection = projection;
    state.projection.activeLayer = -1;
    state.remesh = remeshSettings;
    state.displacement = displacementSettings;
    state.simplify = simplifySettings;
    state.remeshOn = remeshOn;
    state.displacementOn = displacementOn;
    state.simplifyOn = simplifyOn;
    state.maximumTriangles = maximumTriangles;
    state.displayTriangles = displayTriangles;
    if (HoldsPixels(heightMap)) {
        // Every snapshot between two pixel changes shares one copy of the map.
        if (undoBase.heightMap && undoBase.pixelGeneration == pixelGeneration)
            state.heightMap = undoBase.heightMap;
        else
            state.heightMap = std::make_shared<const mesh::HeightMap>(heightMap);
    }
    state.pixelGeneration = pixelGeneration;
    state.textureSettings = heightMap.settings;
    if (proceduralTexture) {
        state.patternName = proceduralTexture->Name();
        state.patternParameters = mesh::procedural::ParametersToText(*proceduralTexture);
        state.patternMembersNotRead = proceduralTexture->membersNotRead;
        state.presetName = proceduralPresetName;
    }
    state.imagePath = textureImagePath;
    if (!proceduralTexture && textureImagePath.empty())
        state.keptPattern = projectKept.pattern;
    state.masks = maskVolumes;
    return state;
}

void CGrainforgeDoc::NoteEdit()
{
    if (restoringEdit || !HasPart())
        return;
    // An edit that does not end in UpdatePreview (the triangle limit) may make the result
    // current or stale too.
    ShowResultWordsWhileCurrent();
    EditState state = CaptureEditState();
    // Another texture took the unknown pattern's place: it is gone but for the steps before.
    projectKept.pattern = state.keptPattern;
    if (EditStateEquals(state, undoBase))
        return;
    // What the box said of the result, the checks and the last save no longer holds.
    NoteEvent(InfoEvent::edit);
    if (editPending && ChangedOnlyByDrag(state, undoBase)) {
        // A drag moves only the cage, the layers or the masks: it stays one step.
        undoBase = std::move(state);
        return;
    }
    editPending = false;
    undoStack.push_back(std::move(undoBase));
    redoStack.clear();
    undoBase = std::move(state);
    TrimEditHistory(undoStack, redoStack, undoBase, historyLimits);
    SetModifiedFlag(true);
}

void CGrainforgeDoc::BeginEdit()
{
    if (restoringEdit || !HasPart())
        return;
    NoteEdit();
    CommitPendingEdit();
    undoStack.push_back(undoBase);
    redoStack.clear();
    TrimEditHistory(undoStack, redoStack, undoBase, historyLimits);
    editPending = true;
    SetModifiedFlag(true);
}

void CGrainforgeDoc::CommitPendingEdit()
{
    if (!editPending)
        return;
    editPending = false;
    if (!undoStack.empty() && EditStateEquals(undoStack.back(), undoBase))
        undoStack.pop_back();
}

void CGrainforgeDoc::StepHistory(std::vector<EditState>& from, std::vector<EditState>& to)
{
    CommitPendingEdit();
    if (from.empty())
        return;
    EditState target = std::move(from.back());
    from.pop_back();
    to.push_back(undoBase);
    TrimEditHistory(undoStack, redoStack, undoBase, historyLimits);
    RestoreEditState(target);
}

void CGrainforgeDoc::OnEditUndo()
{
    StepHistory(undoStack, redoStack);
}

void CGrainforgeDoc::OnEditRedo()
{
    StepHistory(redoStack, undoStack);
}

bool CGrainforgeDoc::TextureDiffersFrom(const EditState& state) const
{
    const std::string pattern = proceduralTexture ? proceduralTexture->Name() : std::string();
    const std::string parameters =
        proceduralTexture ? mesh::procedural::ParametersToText(*proceduralTexture) : std::string();
    return state.pixelGeneration != pixelGeneration ||
           !TextureSettingsEqual(state.textureSettings, heightMap.settings) ||
           state.patternName != pattern || state.patternParameters != parameters ||
           !mesh::procedural::SameMembersNotRead(state.patternMembersNotRead,
               proceduralTexture ? proceduralTexture->membersNotRead : nullptr) ||
           state.imagePath != textureImagePath;
}

void CGrainforgeDoc::PutBackTexture(const EditState& state)
{
    proceduralTexture.reset();
    proceduralPresetName = state.presetName;
    textureImagePath = state.imagePath;
    projectKept.pattern = state.keptPattern;
    if (!state.patternName.empty()) {
        proceduralTexture = mesh::procedural::CreateProceduralTexture(state.patternName);
        if (proceduralTexture) {
            mesh::procedural::ParametersFromText(*proceduralTexture, state.patternParameters);
            proceduralTexture->membersNotRead = state.patternMembersNotRead;
        }
    }
    if (state.heightMap)
        heightMap = *state.heightMap;  // a copy: the shared snapshot is never changed
    else
        EmptyHeightMap(heightMap);
    heightMap.ApplySettings(state.textureSettings);
    pixelGeneration = state.pixelGeneration;
    ++pipelinePixelGeneration;
}

void CGrainforgeDoc::RestoreEditState(const EditState& state)
{
    editPending = false;
    restoringEdit = true;

    const bool transformChanges = TransformChanges(partTransform, state.partTransform);
    const bool textureChanges = TextureDiffersFrom(state);
    if (textureChanges)
        NoteEvent(InfoEvent::texture);
    else if (!mesh::ProjectionSidesEquals(projection.layers, state.projection.layers))
        NoteEvent(InfoEvent::placement);
    else
        NoteEvent(InfoEvent::edit);

    partTransform = state.partTransform;
    remeshSettings = state.remesh;
    displacementSettings = state.displacement;
    simplifySettings = state.simplify;
    remeshOn = state.remeshOn;
    displacementOn = state.displacementOn;
    simplifyOn = state.simplifyOn;
    maximumTriangles = state.maximumTriangles;
    displayTriangles = state.displayTriangles;

    PutBackTexture(state);

    if (transformChanges) {
        RebuildWorkingPart();
        // The rebuild seats the relief base for the new placement; the snapshot's own base
        // settings (captured after its rebuild, so seated the same) win, or undoing a Lay on
        // Face would switch a base the user had turned off back on.
        displacementSettings = state.displacement;
    }

    projection = state.projection;
    projection.activeLayer = -1;
    maskVolumes = state.masks;
    if (selectedMask >= static_cast<int>(maskVolumes.size()))
        selectedMask = static_cast<int>(maskVolumes.size()) - 1;

    if (textureChanges)
        SyncTextureToPipeline();

    UpdatePreview();
    restoringEdit = false;
    undoBase = state;
    SetModifiedFlag(true);
    UpdateAllViews(kHintFullRefresh);
}

void CGrainforgeDoc::ResetUndoHistory()
{
    undoStack.clear();
    redoStack.clear();
    editPending = false;
    undoBase = HasPart() ? CaptureEditState() : EditState{};
}

}  // namespace grainforge::app
