#include "app/workflow/dialogs/dialog_document_edits.h"

#include <filesystem>

#include "app/document/edit_state.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "engine/textures/seamless_method.h"

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

// The full parameter text of the method after reading a stored text into its defaults.
std::string ParameterTextOf(const std::string& methodName, const std::string& storedText) {
  const std::unique_ptr<mesh::seamless::Method> method = mesh::seamless::CreateSeamlessMethod(methodName);
  method->ResetToDefaults();
  mesh::procedural::ParametersFromText(*method, storedText);
  return mesh::procedural::ParametersToText(*method);
}

}  // namespace

MappingDialogValues MappingValuesFromDocument(const CGrainforgeDoc& doc) {
  const mesh::Projection& p = doc.projection;
  MappingDialogValues values;
  values.blendAvailable = p.type == mesh::ProjectionKind::Box || p.type == mesh::ProjectionKind::Sphere;
  values.blend = p.boxBlended != 0;
  values.sharpness = p.boxBlendSharpness;
  values.testGridCells = doc.surfaceTestCells;
  values.wholeTiles = (p.type == mesh::ProjectionKind::Sphere ? p.sphereWholeTiles : p.cylinderWholeTiles) != 0;
  return values;
}

bool ApplyMappingValues(CGrainforgeDoc& doc, const MappingDialogValues& values) {
  mesh::Projection edited = doc.projection;
  edited.boxBlended = values.blend ? 1 : 0;
  edited.boxBlendSharpness = values.sharpness;
  const std::uint8_t whole = values.wholeTiles ? 1 : 0;
  // Each of the two round mappings keeps its own choice; the others set both.
  if (edited.type != mesh::ProjectionKind::Sphere) edited.cylinderWholeTiles = whole;
  if (edited.type != mesh::ProjectionKind::Cylinder) edited.sphereWholeTiles = whole;

  const mesh::Projection& stored = doc.projection;
  const bool projectionChanged = edited.boxBlended != stored.boxBlended ||
                                 edited.boxBlendSharpness != stored.boxBlendSharpness ||
                                 edited.cylinderWholeTiles != stored.cylinderWholeTiles ||
                                 edited.sphereWholeTiles != stored.sphereWholeTiles;
  const bool gridChanged = values.testGridCells != doc.surfaceTestCells;
  if (projectionChanged) {
    doc.projection = edited;
    doc.UpdatePreview();
  }
  if (gridChanged) doc.SetSurfaceTestGridResolution(values.testGridCells);
  return projectionChanged || gridChanged;
}

TextureDialogInput TextureInputFromDocument(const CGrainforgeDoc& doc) {
  const mesh::HeightMap& map = doc.heightMap;
  TextureDialogInput input;
  input.settings = map.settings;
  input.procedural = doc.proceduralTexture != nullptr;
  input.imagePresent = doc.IsHeightMapLoaded();
  if (input.procedural) {
    const std::string& name = doc.proceduralTexture->Name();
    input.sourceName.assign(name.begin(), name.end());
    if (!doc.proceduralPresetName.empty()) input.sourceName += L" (" + doc.proceduralPresetName + L")";
  } else if (!doc.textureImagePath.empty()) {
    input.sourceName = PathToDisplay(PathFromWide(doc.textureImagePath).filename());
  }
  if (map.sourceWidth > 0 && map.sourceHeight > 0)
    input.imageAspect = static_cast<float>(map.sourceWidth) / static_cast<float>(map.sourceHeight);
  input.levels = MakeTextureDialogLevels(map);
  input.tileZoom = TileZoomOnPart(doc.projection, map.settings);
  return input;
}

bool ApplyTextureDialogSettings(CGrainforgeDoc& doc, const mesh::TextureSettings& settings) {
  if (TextureSettingsEqual(settings, doc.heightMap.settings)) return false;
  doc.ApplyTextureSettings(settings);
  return true;
}

bool CanEditSeamless(const CGrainforgeDoc& doc) {
  return doc.IsHeightMapLoaded() && doc.proceduralTexture == nullptr;
}

SeamlessDialogInput SeamlessInputFromDocument(const CGrainforgeDoc& doc) {
  const mesh::HeightMap& map = doc.heightMap;
  SeamlessDialogInput input;
  input.heights = map.source;
  input.width = map.sourceWidth;
  input.height = map.sourceHeight;
  input.methodName = map.settings.seamlessMethod;
  input.parameterText = map.settings.seamlessParameters;
  return input;
}

bool ApplySeamlessChoice(CGrainforgeDoc& doc, const std::string& methodName, const std::string& parameterText) {
  mesh::TextureSettings settings = doc.heightMap.settings;
  // The stored text may be shorter (empty for the defaults) yet say the same: keep it then, so
  // OK without a change does not rerun the seamless step.
  const bool sameValues = methodName == settings.seamlessMethod &&
                          ParameterTextOf(methodName, settings.seamlessParameters) == parameterText;
  if (!sameValues) {
    settings.seamlessMethod = methodName;
    settings.seamlessParameters = parameterText;
  }
  return ApplyTextureDialogSettings(doc, settings);
}

}  // namespace grainforge::app
