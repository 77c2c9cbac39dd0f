#pragma once

// The arithmetic of the texture, seamless and mapping settings dialogs, kept apart from their
// windows: what the dialogs are given, the parameter sliders' scale, the seamless preview's
// reduced copy and 2 x 2 tiling, and the checks and clamps their OK buttons apply.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/document/field_ranges.h"
#include "app/shell/kit/number_text.h"
#include "engine/displacement/projection.h"
#include "engine/textures/height_map.h"
#include "engine/textures/parameter_set.h"

namespace grainforge::app {

// ---- Texture settings ------------------------------------------------------------------------

inline constexpr int kHistogramBins = 256;
inline constexpr float kAutoLevelLowFraction = 0.01f;
inline constexpr float kAutoLevelHighFraction = 0.99f;

// What the texture settings dialog shows of the height map besides its settings.
struct TextureDialogLevels {
  std::vector<std::int32_t> histogram;  // kHistogramBins counts of the source heights
  float autoBlackLevel = 0.0f;
  float autoWhiteLevel = 1.0f;
};

// The histogram of the source heights (bin = height x 256, truncated, clamped to the bins) and
// the automatic levels at the 1st and 99th percentiles of the working image. A map without
// pixels gives an empty histogram and neutral automatic levels (0 and 1), as does a map too
// flat for the automatic levels to apply.
TextureDialogLevels MakeTextureDialogLevels(const grainforge::mesh::HeightMap& map);

// The aspect the lock keeps: the image's when above 0, else the tile's width over height when
// that is a positive finite number, else 1.
float TextureAspectInUse(float imageAspect, float widthMillimetres, float heightMillimetres);

// The zoom at which the projection lays the tile on the part: the fitted zoom where whole tiles
// go round a cylinder or sphere, else the zoom of the side the information pane shows (the
// active one, the first for all sides); 1 when the zoom is not positive.
float TileZoomOnPart(const grainforge::mesh::Projection& projection, const grainforge::mesh::TextureSettings& settings);

// A tile size field of the texture dialog: it shows the size on the part, `stored` times `zoom`.
// What it takes back: the stored size unchanged while the field still holds the text it was
// given (so OK alone changes nothing), else the typed size on the part divided by the zoom.
float TileSizeShown(float stored, float zoom);
float TileSizeTaken(const std::wstring& typedText, const std::wstring& shownText, float stored, float zoom);

// "Seamless: not needed", "Seamless: <method>" or "Seamless: unchanged".
std::wstring SeamlessLineText(bool procedural, const std::string& seamlessMethod);

// What the texture dialog's OK does to the values read from its fields: the refusal text when
// the size or gamma cannot be used, else the settings with a negative blur made 0 and, with the
// aspect locked, the height following the width.
struct TextureOkResult {
  bool accepted = false;
  std::wstring refusal;
  grainforge::mesh::TextureSettings settings;
};
TextureOkResult CheckTextureSettings(grainforge::mesh::TextureSettings settings, float aspectInUse);

inline constexpr const wchar_t* kTextureSizeRefusal =
    L"The texture width and height must both be greater than zero.";
inline constexpr const wchar_t* kGammaRefusal = L"Gamma must be greater than zero.";

// The ranges of the texture dialog's number fields (kTileWidthRule, kTileHeightRule, kBlurRule)
// are in field_ranges.h.

// ---- Mapping settings -------------------------------------------------------------------------

inline constexpr int kTestGridChoices[] = {128, 256, 512};
inline constexpr int kDefaultTestGridChoice = 1;

// The sharpness typed into the field: the current value for a text that is no number, then
// clamped to 1..16 (the dialog refuses a text outside first).
float ReadBlendSharpness(const std::wstring& text, float current);
// The list index of a test grid resolution: that of 256 for one that is not offered.
int TestGridChoiceIndex(int cells);

// ---- Parameter rows and the seamless preview ---------------------------------------------

// The slider of a numeric parameter: an integer moves in whole steps, a real one in 1000.
int ParameterSliderSteps(const grainforge::mesh::procedural::ParameterSpec& spec);
int ParameterSliderPosition(const grainforge::mesh::procedural::ParameterSpec& spec, float value);
float ParameterSliderValue(const grainforge::mesh::procedural::ParameterSpec& spec, int position);

// The number a parameter row's whole text holds when the parameter takes it; none for a text
// that holds no number or a number outside the parameter's range: the value stays, and the row
// keeps the text to be mended (ParameterRefusalText says why).
std::optional<float> ParameterTypedValue(const grainforge::mesh::procedural::ParameterSpec& spec,
                                         const std::wstring& typed);

// Why a parameter row's text is refused, as every number field says it: empty when it is taken,
// else "<label> must be from <minimum> to <maximum>." (or "must be a number from ..." for a
// text that holds none).
std::wstring ParameterRefusalText(const grainforge::mesh::procedural::ParameterSpec& spec, const std::wstring& typed);

// The reduced copy the seamless dialog previews on: the image shrunk by a whole factor so that
// neither side exceeds 512, each value the mean of its block. Empty for a bad size.
struct ReducedImage {
  std::vector<float> heights;
  int width = 0;
  int height = 0;
  int factor = 0;
};
inline constexpr int kSeamlessPreviewSide = 512;
int ReducedCopyFactor(int width, int height);
ReducedImage MakeReducedCopy(const std::vector<float>& heights, int width, int height);

// The image laid 2 x 2 in a square of side 2 x min(width, height), as 0xFFgggggg grey pixels;
// mirrored flips every other tile across and down. Empty for a bad size.
struct TiledPreview {
  std::vector<std::uint32_t> pixels;
  int side = 0;
};
TiledPreview MakeTiledPreview(const std::vector<float>& heights, int width, int height, bool mirrored);

}  // namespace grainforge::app
