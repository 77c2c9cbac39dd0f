// The texture hand-over to the pipeline, the procedural pattern (its render size, re-render
// band and dialogs), the single tile laid over the part for a texture that does not repeat,
// and the surface test grid.
#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/preset_files.h"
#include "app/document/texture_library.h"

#include "engine/textures/procedural_registry.h"

#include <algorithm>
#include <cmath>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kPi = 3.1415927f;

float Size(const mesh::Vec3& size, int axis)
{
    return axis == 0 ? size.x : (axis == 1 ? size.y : size.z);
}

// The larger of the two spans (millimetres) that a side's (u, v) coordinates cover inside the
// cage, before the side's layer moves them; 0 for a side the kind does not use.
float SideFrameSpan(const mesh::Projection& projection, int side)
{
    const mesh::Vec3 size = projection.cage.size;
    const auto larger = [](float a, float b) { return std::max(std::fabs(a), std::fabs(b)); };
    switch (projection.type) {
    case mesh::ProjectionKind::Box: {
        if (projection.boxSideEnabled[side] == 0)
            return 0.0f;
        const int axis = side / 2;
        return larger(Size(size, (axis + 1) % 3), Size(size, (axis + 2) % 3));
    }
    case mesh::ProjectionKind::Plane:
        return side == 4 ? larger(size.x, size.y) : 0.0f;
    case mesh::ProjectionKind::Cylinder: {
        const int axis = projection.cylinderAxis == 0 ? 0 : (projection.cylinderAxis == 1 ? 1 : 2);
        if (side == 0 && projection.cylinderSideEnabled != 0)
            return larger(kTwoPi * mesh::CylinderRadius(projection), Size(size, axis));
        const bool cap = (side == 4 && projection.cylinderTopCapEnabled != 0) ||
                         (side == 5 && projection.cylinderBottomCapEnabled != 0);
        return cap ? larger(Size(size, (axis + 1) % 3), Size(size, (axis + 2) % 3)) : 0.0f;
    }
    case mesh::ProjectionKind::Sphere: {
        if (projection.boxSideEnabled[side] == 0)
            return 0.0f;
        // Arc lengths: all the way round the pole axis, and from pole to pole.
        const float radius = std::max({size.x, size.y, size.z}) / 2.0f;
        return larger(kTwoPi * radius, kPi * radius);
    }
    }
    return 0.0f;
}

// A new pattern of the same name holding the pattern's values and the words it keeps unread:
// what the dialog edits, since an edit keeps them with the pattern.
std::unique_ptr<mesh::procedural::ProceduralTexture> CopyPattern(const mesh::procedural::ProceduralTexture& from)
{
    std::unique_ptr<mesh::procedural::ProceduralTexture> copy = mesh::procedural::CreateProceduralTexture(from.Name());
    if (!copy)
        return copy;
    mesh::procedural::ParametersFromText(*copy, mesh::procedural::ParametersToText(from));
    copy->membersNotRead = from.membersNotRead;
    return copy;
}

// The dialog gave back the pattern as it was: same name, values and kept words.
bool SamePattern(const mesh::procedural::ProceduralTexture& a, const mesh::procedural::ProceduralTexture& b)
{
    return a.Name() == b.Name() &&
           mesh::procedural::ParametersToText(a) == mesh::procedural::ParametersToText(b) &&
           mesh::procedural::SameMembersNotRead(a.membersNotRead, b.membersNotRead);
}

}  // namespace

void CGrainforgeDoc::SyncTextureToPipeline()
{
    if (handedOverGeneration == static_cast<std::int32_t>(pipelinePixelGeneration) &&
        TextureSettingsEqual(heightMap.settings, handedOverSettings))
        return;
    handedOverGeneration = static_cast<std::int32_t>(pipelinePixelGeneration);
    handedOverSettings = heightMap.settings;
    // Handing over stops a running worker; its run is discarded, so nothing waits to be reported.
    runStartedByProcess = false;
    pipeline.SetHeightMap(CopyTextureRecord(heightMap));
    ++textureHandOvers;
    NoteEdit();
    if (HasPart() && &CurrentDisplayMesh() != displayMesh) {
        displayMesh = &CurrentDisplayMesh();
        UpdateAllViews(kHintFullRefresh);
    }
}

ProceduralImageSize CGrainforgeDoc::ProceduralRenderSize() const
{
    return ComputeProceduralRenderSize(heightMap.settings.widthMillimetres, heightMap.settings.heightMillimetres,
        mesh::MaximumLayerZoom(projection));
}

void CGrainforgeDoc::RefreshProceduralTexture(bool force)
{
    if (!proceduralTexture)
        return;
    const ProceduralImageSize size = ProceduralRenderSize();
    if (!force && !heightMap.source.empty() && !ProceduralRenderDrifted(size, heightMap.width, heightMap.height))
        return;
    std::vector<float> pixels = proceduralTexture->RenderImage(size.width, size.height);
    if (pixels.empty())
        return;
    mesh::TextureSettings settings = heightMap.settings;
    settings.seamlessMethod = std::string(kUnchangedSeamMethod);
    settings.seamlessParameters.clear();
    // Settings first, so the new pixels get their blur once and no seamless step.
    heightMap.settings = settings;
    heightMap.SetImage(size.width, size.height, std::move(pixels));
    ++pixelGeneration;
    ++pipelinePixelGeneration;
    heightMap.midValue = proceduralTexture->MidLevelAfterInvert();
    heightMap.hasMidValue = true;
    heightMap.sourceName = proceduralTexture->Name() + " (procedural)";
    heightMap.ApplySettings(heightMap.settings);
    SyncTextureToPipeline();
    UpdateAllViews(kHintFullRefresh);
}

void CGrainforgeDoc::RenderProceduralTexture(
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, const std::wstring& presetName, bool log)
{
    if (!pattern)
        return;
    const BusyScope busy(host.busy);
    const bool tilesBefore = heightMap.settings.tiles;
    proceduralTexture = std::move(pattern);
    proceduralPresetName = presetName;
    textureImagePath.clear();

    mesh::TextureSettings settings = heightMap.settings;
    settings.seamlessMethod = std::string(kUnchangedSeamMethod);
    settings.seamlessParameters.clear();
    settings.blackLevel = 0.0f;
    settings.whiteLevel = 1.0f;
    settings.gamma = 1.0f;
    settings.outputBlackLevel = 0.0f;
    settings.outputWhiteLevel = 1.0f;
    settings.tiles = proceduralTexture->repeats;
    ApplyWrapRule(settings);
    heightMap.ApplySettings(settings);

    NoteEvent(InfoEvent::texture);
    FitSingleTile();
    RefreshProceduralTexture(true);
    if (!tilesBefore || !settings.tiles)
        UpdatePreview();
    if (log)
        LogProceduralTexture();
}

void CGrainforgeDoc::LogProceduralTexture() const
{
    if (!proceduralTexture)
        return;
    const float zoom = mesh::MaximumLayerZoom(projection);
    LogMessage("Procedural texture: " + mesh::procedural::DescribeParameters(*proceduralTexture), kLogPlain);
    if (!proceduralTexture->repeats)
        LogMessage(FormatText("  this pattern does not repeat, so one tile is laid over the whole "
                              "model: %.1f mm at zoom %.2f",
                       static_cast<double>(heightMap.settings.widthMillimetres), static_cast<double>(zoom)),
            kLogPlain);
    LogMessage(FormatText("  rendered at %d x %d pixels for %.1f x %.1f mm at zoom %.2f (%.0f pixels per mm)",
                   heightMap.width, heightMap.height, static_cast<double>(heightMap.settings.widthMillimetres),
                   static_cast<double>(heightMap.settings.heightMillimetres), static_cast<double>(zoom),
                   static_cast<double>(kProceduralPixelsPerMillimetre)),
        kLogPlain);
}

void CGrainforgeDoc::FitSingleTile()
{
    // A pattern counts as a texture before its first render: it is fitted first so that it is
    // rendered at the size the fitted zoom needs.
    if (!HasPart() || heightMap.settings.tiles || (!IsHeightMapLoaded() && !proceduralTexture))
        return;
    // Twice the largest span: the tile reaches well past every side, including the sphere's
    // sides, whose arcs are counted from their own azimuth rather than from the centre.
    float extent = 0.0f;
    for (int side = 0; side < mesh::kBoxSideCount; ++side)
        extent = std::max(extent, 2.0f * SideFrameSpan(projection, side));
    const float width = heightMap.settings.widthMillimetres;
    if (!(extent > 0.0f) || !(width > 0.0f) || !std::isfinite(extent))
        return;
    // The tile must cover the extent both ways, so the zoom follows its shorter side, and it is
    // centred on each axis: a tile less tall than wide would otherwise leave the upper part of
    // every side untextured.
    const float height = heightMap.settings.heightMillimetres > 0.0f ? heightMap.settings.heightMillimetres : width;
    const float zoom = extent / std::min(width, height);
    for (mesh::ProjectionLayer& layer : projection.layers) {
        layer.originMillimetres[0] = -zoom * width / 2.0f;
        layer.originMillimetres[1] = -zoom * height / 2.0f;
        layer.rotationDegrees = 0.0f;
        layer.zoom = zoom;
    }
}

void CGrainforgeDoc::OnProceduralPattern(int commandId)
{
    const std::vector<std::string> names = mesh::procedural::ProceduralTextureNames();
    const int index = commandId - kCmdProceduralFirst;
    if (index < 0 || static_cast<std::size_t>(index) >= names.size())
        return;
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern =
        mesh::procedural::CreateProceduralTexture(names[static_cast<std::size_t>(index)]);
    if (!pattern || host.dialogs == nullptr)
        return;
    // The same pattern goes on as it is; another starts from its defaults, keeping nothing.
    if (proceduralTexture && proceduralTexture->Name() == pattern->Name())
        pattern = CopyPattern(*proceduralTexture);
    std::unique_ptr<mesh::procedural::ProceduralTexture> edited =
        host.dialogs->EditProceduralTexture(std::move(pattern), 2, LibraryRootsOfHost(), PresetReadLogger());
    if (!edited || (proceduralTexture && SamePattern(*proceduralTexture, *edited)))
        return;
    RenderProceduralTexture(std::move(edited), L"");
}

void CGrainforgeDoc::OnProceduralSettings()
{
    if (!proceduralTexture || host.dialogs == nullptr)
        return;
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern = CopyPattern(*proceduralTexture);
    if (!pattern)
        return;
    std::unique_ptr<mesh::procedural::ProceduralTexture> edited =
        host.dialogs->EditProceduralTexture(std::move(pattern), 2, LibraryRootsOfHost(), PresetReadLogger());
    if (edited && !SamePattern(*proceduralTexture, *edited))
        RenderProceduralTexture(std::move(edited), L"");
}

std::string CGrainforgeDoc::LogPresetWordsNotUsed(const PresetResult& read, std::string_view presetName) const
{
    std::string text = PresetWordsNotUsedText(read, presetName);
    if (!text.empty())
        LogMessage(text, kLogWarning);
    return text;
}

PresetReadNote CGrainforgeDoc::PresetReadLogger() const
{
    return [this](const PresetResult& read, std::string_view presetName) { (void)LogPresetWordsNotUsed(read, presetName); };
}

void CGrainforgeDoc::RebuildSurfaceTestGrid()
{
    mesh::BuildOccupancyGrid(surfaceTestGrid, workingPart, surfaceTestCells);
    surfaceClassesValid = false;
    if (!surfaceTestGrid.cells.empty() && IsDetailedLogOn())
        LogMessage(mesh::FormatOccupancyGrid(surfaceTestGrid), kLogPlain);
}

const std::vector<std::uint8_t>& CGrainforgeDoc::SurfaceClassification()
{
    if (!HasPart() || surfaceTestGrid.cells.empty()) {
        surfaceClasses.clear();
        surfaceClassesValid = false;
        return surfaceClasses;
    }
    if (!surfaceClassesValid || surfaceClassesCells != surfaceTestCells) {
        surfaceClasses = mesh::ClassifyOuterSurface(surfaceTestGrid, workingPart);
        surfaceClassesCells = surfaceTestCells;
        surfaceClassesValid = true;
    }
    return surfaceClasses;
}

void CGrainforgeDoc::SetSurfaceTestGridResolution(int cells)
{
    if (cells == surfaceTestCells)
        return;
    surfaceTestCells = cells;
    if (!HasPart())
        return;
    const BusyScope busy(host.busy);
    RebuildSurfaceTestGrid();
    UpdatePreview();
}

}  // namespace grainforge::app
