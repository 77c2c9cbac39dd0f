#pragma once

// What the mapping, texture and seamless settings dialogs take from the document and how their
// results go back into it. Each edit copies the document's record, changes its fields and stores
// it (refreshing the preview) only when it differs, so OK without a change leaves the document,
// its undo history and its modified flag alone. No window is involved: the dialogs' openers call
// these around ShowModal.

#include <string>
#include <vector>

#include "app/workflow/dialogs/settings_dialog_math.h"

namespace grainforge::app {

class CGrainforgeDoc;

struct MappingDialogValues {
  bool blendAvailable = true;  // the mapping is a box or a sphere
  bool blend = false;
  float sharpness = 4.0f;
  int testGridCells = 256;
  bool wholeTiles = true;
  friend bool operator==(const MappingDialogValues&, const MappingDialogValues&) = default;
};

MappingDialogValues MappingValuesFromDocument(const CGrainforgeDoc& doc);
// True when the document changed.
bool ApplyMappingValues(CGrainforgeDoc& doc, const MappingDialogValues& values);

// What the texture settings dialog is given.
struct TextureDialogInput {
  grainforge::mesh::TextureSettings settings;
  std::wstring sourceName;  // empty when no image is loaded
  float imageAspect = 0.0f;  // width / height, 0 when there is none
  bool procedural = false;
  bool imagePresent = false;
  TextureDialogLevels levels;
  // The zoom the part's projection lays the tile at: the tile on the part is the stored size
  // times this, and that is the size the dialog shows and takes.
  float tileZoom = 1.0f;
};

TextureDialogInput TextureInputFromDocument(const CGrainforgeDoc& doc);
// True when the document changed.
bool ApplyTextureDialogSettings(CGrainforgeDoc& doc, const grainforge::mesh::TextureSettings& settings);

// What the seamless dialog is given: the image as loaded with the current method and its text.
struct SeamlessDialogInput {
  std::vector<float> heights;
  int width = 0;
  int height = 0;
  std::string methodName = "Unchanged";
  std::string parameterText;
};

// Whether the document's texture is an image the seamless step can work on.
bool CanEditSeamless(const CGrainforgeDoc& doc);
SeamlessDialogInput SeamlessInputFromDocument(const CGrainforgeDoc& doc);
// True when the document changed.
bool ApplySeamlessChoice(CGrainforgeDoc& doc, const std::string& methodName, const std::string& parameterText);

}  // namespace grainforge::app
