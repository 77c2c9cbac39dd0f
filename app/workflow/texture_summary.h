#pragma once

// What the Texture section shows about the document's texture, worked out without a window:
// the grid keys of textures and presets, the title and subtitle with the tab and category the
// browser should go to, the small preview of the height map (with the repeated and mirrored
// tiles) and the estimate and entry rules of the Relief section's fields.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/kit/pixel_rect.h"
#include "engine/pipeline/process_estimate.h"
#include "engine/textures/height_map.h"

namespace grainforge::app {

enum TextureTab : int { kTabTextures = 0, kTabProcedural = 1, kTabCustom = 2 };

// ---- Keys ----------------------------------------------------------------------------------

// A library or custom image's key: its path as given (lexically normal, generic form). Paths
// are compared exactly here: two files differing only in case are different images.
std::string ImageKey(const std::filesystem::path& path);
// A preset's key, and the current pattern's: pattern name, "|", preset name.
std::string PresetKey(const std::string& patternName, const std::string& presetName);

// ---- Summary -------------------------------------------------------------------------------

struct TextureSummaryInput {
  bool hasTexture = false;          // a height map of at least 1 x 1 with pixels
  std::string patternName;          // the procedural pattern's name; empty for an image
  std::wstring presetName;          // the document's preset name
  std::filesystem::path imagePath;  // the image's path (may be empty)
  bool isCustomImage = false;       // the path is in the list of images loaded from disk
};

struct TextureSummary {
  std::wstring title;
  std::wstring subtitle;
  std::string key;               // empty without a texture
  std::optional<int> tab;        // the tab to show; none leaves the tab as it is
  std::string category;          // the category (or pattern) of that tab
};

TextureSummary DeriveTextureSummary(const TextureSummaryInput& input);

// ---- Preview -------------------------------------------------------------------------------

inline constexpr int kPreviewSide = 110;

struct PreviewImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0xFFgggggg, rows from the top
};

// Every k-th pixel: k = max(ceil(max(w, h) / 110), 1).
int PreviewStep(int width, int height);
// The height map's working image sampled every k-th pixel through the levels.
PreviewImage BuildImagePreview(const mesh::HeightMap& map);
// A pattern's 120 x 120 thumbnail bytes through the height map's levels.
PreviewImage BuildPatternPreview(const std::vector<std::uint8_t>& thumbnail, int side,
                                 const mesh::HeightMap& map);
// 2 x 2 tiles of the image; with `mirror` the right column is flipped left-right and the bottom
// row top-bottom, as the mirror wrap repeats the texture.
PreviewImage TilePreview(const PreviewImage& tile, bool mirror);
// What the preview depends on besides the texture's version: the seamless method and its
// parameters, the tiling and the levels (which change the picture without new pixels).
std::string PreviewSignature(const mesh::TextureSettings& settings, bool hasTexture);
// The image drawn into the area with its aspect kept, centred.
PixelRect FitPreviewRect(const PixelRect& area, int width, int height);

// ---- Relief section entries --------------------------------------------------------------

inline constexpr float kSmallestTriangleSize = 0.01f;

// "1,234,567".
std::wstring GroupThousands(std::uint64_t value);
// The triangle estimate under the size field: "Open a part to see how many triangles the
// relief makes." without a part; else "About <n + n / 12> triangles." with
// " at <c> mm, the finest this part allows" before the stop when the cell was raised.
std::wstring TriangleEstimateText(bool hasPart, std::uint64_t estimated, float cappedCellMillimetres);
// The same text for a Process estimate (whose count already holds the twelfth), with
// " Over the triangle limit of <m> million: Process would refuse it." when it is over.
std::wstring TriangleEstimateText(bool hasPart, const grainforge::mesh::ProcessEstimate& estimate);
// The size to store for a typed entry: none (put the stored value back) for a text the relief
// dialog's Triangle size field refuses (no number, outside 0.01..100000 mm); else the size.
std::optional<float> TriangleSizeFromEntry(const std::wstring& text);
// The strength to store for a typed entry: none for a text the Strength field refuses (no
// number, outside 0..100000 mm) or one equal as a float to the current strength.
std::optional<float> StrengthFromEntry(const std::wstring& text, float current);
// Why the section's field puts its stored value back: the refusal naming the range, or empty
// when the text is taken.
std::wstring TriangleSizeEntryRefusal(const std::wstring& text);
std::wstring StrengthEntryRefusal(const std::wstring& text);

}  // namespace grainforge::app
