#pragma once

// The procedural texture dialog's arithmetic and lists, kept free of wx so that they run in
// plain tests: parameter slider scales, the tiled preview, the preset list and its order, and
// the help text with the pattern's table of settings.

#include "app/document/user_folders.h"
#include "engine/textures/parameter_set.h"
#include "engine/textures/procedural_texture.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::app {

// The dialog has room for this many parameter rows; a pattern's later parameters get none.
inline constexpr int kProceduralRowCount = 12;

// A numeric parameter's slider runs 0..steps: one step per whole number for an integer, a
// thousand for a real value (ParameterSliderSteps, as the seamless dialog's rows).
struct SliderScale {
  int steps = 1;
  int page = 1;
};
SliderScale SliderScaleOf(const mesh::procedural::ParameterSpec& spec);
int SliderPosition(const mesh::procedural::ParameterSpec& spec, float value);
float SliderValue(const mesh::procedural::ParameterSpec& spec, int position);

// One, four or nine tiles of the pattern as opaque grey 0xFFgggggg pixels, rows from the top.
struct ProceduralPreview {
  int tiles = 1;
  int tile = 512;
  int side = 512;
  std::vector<std::uint32_t> pixels;
};
ProceduralPreview RenderProceduralPreview(const mesh::procedural::ProceduralTexture& pattern,
                                          int tilesShown);

// One item of the preset list.
struct PresetEntry {
  std::wstring name;
  LibraryItemOrigin origin = LibraryItemOrigin::None;
  std::filesystem::path file;
  std::filesystem::path thumbnailFile;
  bool userFile = false;
  std::vector<std::uint32_t> thumbnail;  // side x side, 0xFFgggggg
  int thumbnailSide = 0;
};

// Factory presets (and the user's versions of them) first, the user's own after them; each
// group by name without regard to case, a prefix before the longer name.
bool PresetComesFirst(const PresetEntry& a, const PresetEntry& b);
// Sorts stably and returns the index of the first user-only entry (the size when none).
std::size_t SortPresetEntries(std::vector<PresetEntry>& entries);

// The pattern's presets over the roots, with their thumbnails (read from the stored picture,
// else rendered from the preset; none when neither works), sorted.
std::vector<PresetEntry> LoadPresetEntries(const LibraryRoots& roots, const std::string& patternName);

// The index of the entry whose name equals `name` without regard to case (the last such), or -1.
int FindPresetEntry(const std::vector<PresetEntry>& entries, const std::wstring& name);

// The index of the first entry whose preset sets every parameter to the pattern's value, or -1:
// a pattern chosen as a preset (from the library) opens with that preset shown.
int FindPresetWithValues(const std::vector<PresetEntry>& entries, const mesh::procedural::ProceduralTexture& pattern);

// The help page followed by a heading with the pattern's name and a table of its settings.
std::wstring ProceduralHelpText(const std::wstring& page,
                                const mesh::procedural::ProceduralTexture& pattern);

// The words under the preview for a pattern that repeats or does not.
std::wstring TileabilityText(bool repeats);

}  // namespace grainforge::app
