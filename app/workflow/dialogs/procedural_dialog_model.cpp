#include "app/workflow/dialogs/procedural_dialog_model.h"

#include "app/document/grey_bmp.h"
#include "app/document/log_text.h"
#include "app/document/preset_files.h"
#include "app/workflow/dialogs/settings_dialog_math.h"
#include "engine/textures/procedural_registry.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <memory>

namespace grainforge::app {

namespace procedural = mesh::procedural;

namespace {

std::wstring Widen(const std::string& utf8) { return Utf8ToWide(utf8); }

std::wstring TableCell(const std::string& text) {
  std::wstring cell = Widen(text);
  std::replace(cell.begin(), cell.end(), L'|', L'/');
  std::replace(cell.begin(), cell.end(), L'\n', L' ');
  return cell;
}

std::uint32_t GreyPixel(int grey) {
  return 0xFF000000u | static_cast<std::uint32_t>(grey) * 0x10101u;
}

}  // namespace

SliderScale SliderScaleOf(const procedural::ParameterSpec& spec) {
  SliderScale scale;
  scale.steps = ParameterSliderSteps(spec);
  scale.page = std::max(1, scale.steps / 10);
  return scale;
}

int SliderPosition(const procedural::ParameterSpec& spec, float value) { return ParameterSliderPosition(spec, value); }

float SliderValue(const procedural::ParameterSpec& spec, int position) { return ParameterSliderValue(spec, position); }

ProceduralPreview RenderProceduralPreview(const procedural::ProceduralTexture& pattern, int tilesShown) {
  ProceduralPreview preview;
  preview.tiles = std::clamp(tilesShown, 1, 3);
  preview.tile = std::max(32, 512 / preview.tiles);
  preview.side = preview.tiles * preview.tile;
  const std::vector<float> heights = pattern.RenderImage(preview.tile, preview.tile);
  const std::size_t tile = static_cast<std::size_t>(preview.tile);
  preview.pixels.assign(static_cast<std::size_t>(preview.side) * static_cast<std::size_t>(preview.side), GreyPixel(0));
  if (heights.size() != tile * tile) return preview;
  for (int y = 0; y < preview.side; ++y)
    for (int x = 0; x < preview.side; ++x) {
      float h = heights[(static_cast<std::size_t>(y) % tile) * tile + static_cast<std::size_t>(x) % tile];
      h = std::isfinite(h) ? std::clamp(h, 0.0f, 1.0f) : 0.0f;
      preview.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(preview.side) + static_cast<std::size_t>(x)] =
          GreyPixel(static_cast<int>(std::lroundf(255.0f * h)));
    }
  return preview;
}

bool PresetComesFirst(const PresetEntry& a, const PresetEntry& b) {
  const bool aUser = a.origin == LibraryItemOrigin::UserOnly;
  const bool bUser = b.origin == LibraryItemOrigin::UserOnly;
  if (aUser != bUser) return !aUser;
  const std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    const wint_t ca = std::towlower(static_cast<wint_t>(a.name[i]));
    const wint_t cb = std::towlower(static_cast<wint_t>(b.name[i]));
    if (ca != cb) return ca < cb;
  }
  return a.name.size() < b.name.size();
}

std::size_t SortPresetEntries(std::vector<PresetEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), PresetComesFirst);
  const auto first = std::find_if(entries.begin(), entries.end(), [](const PresetEntry& e) {
    return e.origin == LibraryItemOrigin::UserOnly;
  });
  return static_cast<std::size_t>(first - entries.begin());
}

std::vector<PresetEntry> LoadPresetEntries(const LibraryRoots& roots, const std::string& patternName) {
  std::vector<PresetEntry> entries;
  for (const PresetFileEntry& listed : ListPresets(roots, patternName)) {
    PresetEntry entry;
    entry.name = Widen(listed.name);
    entry.origin = listed.origin;
    entry.file = listed.file;
    entry.thumbnailFile = listed.thumbnail;
    entry.userFile = listed.userFile;
    std::vector<std::uint8_t> grey;
    int side = 0;
    if (!listed.thumbnail.empty()) {
      if (auto image = ReadGreyBmp(listed.thumbnail); image && image->width == image->height) {
        grey = std::move(image->pixels);
        side = image->width;
      }
    }
    if (side == 0) {
      if (auto pattern = procedural::CreateProceduralTexture(patternName);
          pattern && ReadPreset(listed.file, *pattern).ok) {
        grey = RenderThumbnail(*pattern);
        side = kPresetThumbnailSide;
      }
    }
    if (side > 0 && grey.size() == static_cast<std::size_t>(side) * static_cast<std::size_t>(side)) {
      entry.thumbnailSide = side;
      entry.thumbnail.reserve(grey.size());
      for (std::uint8_t g : grey) entry.thumbnail.push_back(GreyPixel(g));
    }
    entries.push_back(std::move(entry));
  }
  SortPresetEntries(entries);
  return entries;
}

int FindPresetEntry(const std::vector<PresetEntry>& entries, const std::wstring& name) {
  auto lower = [](std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
  };
  const std::wstring wanted = lower(name);
  int found = -1;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (lower(entries[i].name) == wanted) found = static_cast<int>(i);
  return found;
}

int FindPresetWithValues(const std::vector<PresetEntry>& entries, const mesh::procedural::ProceduralTexture& pattern) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::unique_ptr<mesh::procedural::ProceduralTexture> preset =
        mesh::procedural::CreateProceduralTexture(pattern.Name());
    if (!preset || !ReadPreset(entries[i].file, *preset).ok) continue;
    const auto& specs = pattern.GetParameters();
    if (std::all_of(specs.begin(), specs.end(), [&](const mesh::procedural::ParameterSpec& spec) {
          return preset->GetValue(spec.key) == pattern.GetValue(spec.key);
        }))
      return static_cast<int>(i);
  }
  return -1;
}

std::wstring ProceduralHelpText(const std::wstring& page, const procedural::ProceduralTexture& pattern) {
  std::wstring text = page + L"\n\n### " + Widen(pattern.Name()) +
                      L"\n\n| Setting | Meaning |\n|:--|:--|\n";
  // Table cells are drawn as plain text, so the label goes in without emphasis markers.
  for (const procedural::ParameterSpec& spec : pattern.GetParameters())
    text += L"| " + TableCell(spec.label) + L" | " + TableCell(spec.help) + L" |\n";
  return text;
}

std::wstring TileabilityText(bool repeats) {
  return repeats ? L"This texture is tileable."
                 : L"This pattern does not repeat: one tile is laid over the whole model.";
}

}  // namespace grainforge::app
