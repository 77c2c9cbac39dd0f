// The texture hand-over to the pipeline, the procedural pattern and the surface test grid: the
// parts of the texture and check work that Process, the refresh and undo rely on.
#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"

#include "engine/textures/procedural_registry.h"

#include <algorithm>
#include <cmath>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr double kProceduralPixelsPerMillimetre = 32.0;
constexpr double kSmallestRenderSide = 256.0;
constexpr double kLargestRenderSide = 4096.0;
// A render is kept while the needed size stays strictly within this band of the rendered one.
constexpr float kRenderBandLow = 0.6666667f;
constexpr float kRenderBandHigh = 1.5f;

std::int32_t RenderSide(float millimetres, float zoom)
{
    const double wanted = std::max(static_cast<double>(millimetres), 0.0) * zoom * kProceduralPixelsPerMillimetre;
    // NaN falls to the smallest side.
    if (!(wanted >= kSmallestRenderSide))
        return static_cast<std::int32_t>(kSmallestRenderSide);
    if (wanted > kLargestRenderSide)
        return static_cast<std::int32_t>(kLargestRenderSide);
    return static_cast<std::int32_t>(std::lround(wanted));
}

float LayerZoomForRender(const mesh::Projection& projection)
{
    const float zoom = mesh::MaximumLayerZoom(projection);
    return zoom > 0.0f ? zoom : 1.0f;
}

bool InRenderBand(float ratio)
{
    return ratio > kRenderBandLow && ratio < kRenderBandHigh;
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
    pipeline.SetHeightMap(mesh::HeightMap(heightMap));
    ++textureHandOvers;
    NoteEdit();
    if (HasPart() && &CurrentDisplayMesh() != displayMesh) {
        displayMesh = &CurrentDisplayMesh();
        UpdateAllViews(kHintFullRefresh);
    }
}

std::pair<std::int32_t, std::int32_t> CGrainforgeDoc::ProceduralRenderSize() const
{
    const float zoom = LayerZoomForRender(projection);
    return {RenderSide(heightMap.settings.widthMillimetres, zoom),
        RenderSide(heightMap.settings.heightMillimetres, zoom)};
}

void CGrainforgeDoc::RefreshProceduralTexture(bool force)
{
    if (!proceduralTexture)
        return;
    const auto [width, height] = ProceduralRenderSize();
    if (!force && heightMap.width >= 1 && heightMap.height >= 1 && !heightMap.source.empty()) {
        const float ratioX = static_cast<float>(width) / static_cast<float>(heightMap.width);
        const float ratioY = static_cast<float>(height) / static_cast<float>(heightMap.height);
        if (InRenderBand(ratioX) && InRenderBand(ratioY))
            return;
    }
    mesh::TextureSettings settings = heightMap.settings;
    settings.seamlessMethod = "Unchanged";
    settings.seamlessParameters.clear();
    std::vector<float> pixels = proceduralTexture->RenderImage(width, height);
    if (pixels.empty())
        return;
    heightMap.SetImage(width, height, std::move(pixels));
    ++pixelGeneration;
    ++pipelinePixelGeneration;
    heightMap.midValue = proceduralTexture->MidLevelAfterInvert();
    heightMap.hasMidValue = true;
    heightMap.sourceName = proceduralTexture->Name() + " (procedural)";
    heightMap.ApplySettings(settings);
    SyncTextureToPipeline();
    UpdateAllViews(kHintFullRefresh);
}

void CGrainforgeDoc::RenderProceduralTexture(
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, const std::wstring& presetName)
{
    if (!pattern)
        return;
    const BusyScope busy(host.busy);
    const bool tilesBefore = heightMap.settings.tiles;
    proceduralTexture = std::move(pattern);
    proceduralPresetName = presetName;
    textureImagePath.clear();

    mesh::TextureSettings settings = heightMap.settings;
    settings.seamlessMethod = "Unchanged";
    settings.seamlessParameters.clear();
    settings.blackLevel = 0.0f;
    settings.whiteLevel = 1.0f;
    settings.gamma = 1.0f;
    settings.outputBlackLevel = 0.0f;
    settings.outputWhiteLevel = 1.0f;
    settings.tiles = proceduralTexture->repeats;
    settings.wrap = settings.tiles ? 0 : 2;
    heightMap.ApplySettings(settings);

    FitSingleTile();
    RefreshProceduralTexture(true);
    if (!tilesBefore || !settings.tiles)
        UpdatePreview();

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
                   kProceduralPixelsPerMillimetre),
        kLogPlain);
}

void CGrainforgeDoc::FitSingleTile()
{
    // Laying one tile over the whole part belongs to the texture work that is not built yet;
    // until then a texture that does not repeat keeps the layers as they are.
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
    const bool samePattern = proceduralTexture && proceduralTexture->Name() == pattern->Name();
    if (samePattern)
        mesh::procedural::ParametersFromText(*pattern, mesh::procedural::ParametersToText(*proceduralTexture));
    std::unique_ptr<mesh::procedural::ProceduralTexture> edited =
        host.dialogs->EditProceduralTexture(std::move(pattern), 2);
    if (!edited)
        return;
    if (proceduralTexture && proceduralTexture->Name() == edited->Name() &&
        mesh::procedural::ParametersToText(*proceduralTexture) == mesh::procedural::ParametersToText(*edited))
        return;
    RenderProceduralTexture(std::move(edited), L"");
}

void CGrainforgeDoc::OnProceduralSettings()
{
    if (!proceduralTexture || host.dialogs == nullptr)
        return;
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern =
        mesh::procedural::CreateProceduralTexture(proceduralTexture->Name());
    if (!pattern)
        return;
    const std::string current = mesh::procedural::ParametersToText(*proceduralTexture);
    mesh::procedural::ParametersFromText(*pattern, current);
    std::unique_ptr<mesh::procedural::ProceduralTexture> edited =
        host.dialogs->EditProceduralTexture(std::move(pattern), 2);
    if (edited && mesh::procedural::ParametersToText(*edited) != current)
        RenderProceduralTexture(std::move(edited), L"");
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
