#include "app/workflow/dialogs/settings_dialog_math.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/shell/kit/number_text.h"

namespace grainforge::app {

namespace mesh = grainforge::mesh;
using mesh::procedural::ParameterKind;
using mesh::procedural::ParameterSpec;

namespace {

// The automatic levels apply only over at least this span (as the height map's own rule).
constexpr float kMinAutoLevelSpan = 0.0001f;
constexpr int kRealSliderSteps = 1000;
// A slider cannot usefully hold more positions than this; wider integer ranges move in larger steps.
constexpr float kMaxIntegerSliderSteps = 100000.0f;

bool SizeMatches(std::size_t count, int width, int height) {
  return width >= 1 && height >= 1 &&
         count == static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

TextureDialogLevels MakeTextureDialogLevels(const mesh::HeightMap& map) {
  TextureDialogLevels levels;
  if (!map.source.empty()) {
    levels.histogram.assign(kHistogramBins, 0);
    for (float value : map.source) {
      // NaN falls in the first bin, like any value below 0.
      const float scaled = value * static_cast<float>(kHistogramBins);
      const int bin = scaled > 0.0f ? static_cast<int>(std::min(scaled, static_cast<float>(kHistogramBins - 1)))
                                    : 0;
      ++levels.histogram[static_cast<std::size_t>(bin)];
    }
  }
  const std::vector<float>& working = map.seamless.empty() ? map.source : map.seamless;
  if (working.empty()) return levels;  // no image: the percentiles of nothing are not levels
  const float low = mesh::Percentile(working, kAutoLevelLowFraction);
  const float high = mesh::Percentile(working, kAutoLevelHighFraction);
  if (std::isfinite(low) && std::isfinite(high) && high - low >= kMinAutoLevelSpan) {
    levels.autoBlackLevel = low;
    levels.autoWhiteLevel = high;
  }
  return levels;
}

float TileZoomOnPart(const grainforge::mesh::Projection& projection, const grainforge::mesh::TextureSettings& settings) {
  namespace mesh = grainforge::mesh;
  // The side the information pane reports, and for the round mappings the side that goes round.
  int side = std::clamp(projection.activeLayer, 0, mesh::kBoxSideCount - 1);
  if (projection.type == mesh::ProjectionKind::Cylinder) side = 0;
  if (projection.type == mesh::ProjectionKind::Sphere)
    for (int s = 0; s <= 4; ++s)
      if (mesh::SideFrame(s, projection.sphereAxis).alongUp == 0) {
        side = s;
        break;
      }
  const mesh::SideTiling tiling = mesh::ComputeTileFrame(projection, settings, side);
  const float zoom = tiling.wholeTiles != 0 ? tiling.fittedZoom : projection.layers[static_cast<std::size_t>(side)].zoom;
  return zoom > 0.0f && std::isfinite(zoom) ? zoom : 1.0f;
}

float TileSizeShown(float stored, float zoom) { return stored * zoom; }

float TileSizeTaken(const std::wstring& typedText, const std::wstring& shownText, float stored, float zoom) {
  if (typedText == shownText) return stored;
  const float typed = ParseDialogFloat(typedText, TileSizeShown(stored, zoom));
  return zoom > 0.0f && std::isfinite(zoom) ? typed / zoom : typed;
}

float TextureAspectInUse(float imageAspect, float widthMillimetres, float heightMillimetres) {
  if (imageAspect > 0.0f && std::isfinite(imageAspect)) return imageAspect;
  if (heightMillimetres != 0.0f) {
    const float aspect = widthMillimetres / heightMillimetres;
    if (aspect > 0.0f && std::isfinite(aspect)) return aspect;
  }
  return 1.0f;
}

std::wstring SeamlessLineText(bool procedural, const std::string& seamlessMethod) {
  if (procedural) return L"Seamless: not needed";
  if (!seamlessMethod.empty() && seamlessMethod != "Unchanged")
    return L"Seamless: " + std::wstring(seamlessMethod.begin(), seamlessMethod.end());
  return L"Seamless: unchanged";
}

TextureOkResult CheckTextureSettings(mesh::TextureSettings settings, float aspectInUse) {
  TextureOkResult result;
  if (!(settings.widthMillimetres > 0.0f) || !(settings.heightMillimetres > 0.0f)) {
    result.refusal = kTextureSizeRefusal;
    return result;
  }
  if (!(settings.gamma > 0.0f)) {
    result.refusal = kGammaRefusal;
    return result;
  }
  settings.blurMillimetres = std::max(settings.blurMillimetres, 0.0f);
  if (settings.lockAspect && aspectInUse > 0.0f) settings.heightMillimetres = settings.widthMillimetres / aspectInUse;
  result.accepted = true;
  result.settings = std::move(settings);
  return result;
}

float ReadBlendSharpness(const std::wstring& text, float current) {
  return static_cast<float>(HoldToFieldRange(ParseDialogFloat(text, current), kBlendSharpnessRule, current));
}

int TestGridChoiceIndex(int cells) {
  const auto* found = std::find(std::begin(kTestGridChoices), std::end(kTestGridChoices), cells);
  return found == std::end(kTestGridChoices) ? kDefaultTestGridChoice
                                             : static_cast<int>(found - std::begin(kTestGridChoices));
}

int ParameterSliderSteps(const ParameterSpec& spec) {
  if (spec.kind != ParameterKind::Integer) return kRealSliderSteps;
  const float range = spec.maximum - spec.minimum;
  if (!(range >= 1.0f)) return 1;
  return static_cast<int>(std::lroundf(std::min(range, kMaxIntegerSliderSteps)));
}

int ParameterSliderPosition(const ParameterSpec& spec, float value) {
  const float range = spec.maximum - spec.minimum;
  if (!(range > 0.0f)) return 0;
  const float t = std::clamp((value - spec.minimum) / range, 0.0f, 1.0f);
  if (!std::isfinite(t)) return 0;  // clamp passes a NaN straight through
  return static_cast<int>(std::lroundf(static_cast<float>(ParameterSliderSteps(spec)) * t));
}

float ParameterSliderValue(const ParameterSpec& spec, int position) {
  const int steps = ParameterSliderSteps(spec);
  // The ends are the limits themselves: min + 1 x (max - min) may round past the maximum.
  if (position <= 0) return spec.minimum;
  if (position >= steps) return spec.maximum;
  return spec.minimum + (static_cast<float>(position) / static_cast<float>(steps)) * (spec.maximum - spec.minimum);
}

namespace {

// What a row's text is under its parameter's range; an empty text is no number either. A
// label that ends in its unit ("Overlap (%)") takes that unit after a typed number ("30 %").
// An integer row rounds what it takes, so its hints offer whole numbers only.
NumberFieldReading ReadParameterText(const ParameterSpec& spec, const std::wstring& typed) {
  const std::wstring label(spec.label.begin(), spec.label.end());
  std::wstring_view name = label;
  std::wstring_view unit;
  if (const std::size_t open = label.rfind(L" ("); open != std::wstring::npos && label.back() == L')') {
    name = name.substr(0, open);
    unit = std::wstring_view(label).substr(open + 2, label.size() - open - 3);
  }
  const NumberFieldRule rule{.name = name,
                             .minimum = ReadableEnd(spec.minimum),
                             .maximum = ReadableEnd(spec.maximum),
                             .unit = unit,
                             .wholeNumber = spec.kind == ParameterKind::Integer};
  NumberFieldReading reading = ReadNumberField(typed, rule);
  if (reading.kind == NumberFieldReading::Kind::empty) {
    reading.kind = NumberFieldReading::Kind::notANumber;
    reading.refusal = NumberFieldRangeText(rule);
  }
  return reading;
}

}  // namespace

std::optional<float> ParameterTypedValue(const ParameterSpec& spec, const std::wstring& typed) {
  const NumberFieldReading reading = ReadParameterText(spec, typed);
  if (reading.kind != NumberFieldReading::Kind::accepted) return std::nullopt;
  const auto value = static_cast<float>(reading.value);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::wstring ParameterRefusalText(const ParameterSpec& spec, const std::wstring& typed) {
  const NumberFieldReading reading = ReadParameterText(spec, typed);
  return reading.kind == NumberFieldReading::Kind::accepted ? std::wstring() : reading.refusal;
}

int ReducedCopyFactor(int width, int height) {
  const std::int64_t longest = std::max(width, height);
  return static_cast<int>(std::max<std::int64_t>(1, (longest + kSeamlessPreviewSide - 1) / kSeamlessPreviewSide));
}

ReducedImage MakeReducedCopy(const std::vector<float>& heights, int width, int height) {
  ReducedImage reduced;
  if (!SizeMatches(heights.size(), width, height)) return reduced;
  const int k = ReducedCopyFactor(width, height);
  reduced.factor = k;
  reduced.width = std::max(1, width / k);
  reduced.height = std::max(1, height / k);
  reduced.heights.resize(static_cast<std::size_t>(reduced.width) * static_cast<std::size_t>(reduced.height));
  for (int y = 0; y < reduced.height; ++y) {
    for (int x = 0; x < reduced.width; ++x) {
      double sum = 0.0;
      int count = 0;
      for (int sy = y * k; sy < std::min(height, y * k + k); ++sy)
        for (int sx = x * k; sx < std::min(width, x * k + k); ++sx, ++count)
          sum += heights[static_cast<std::size_t>(sy) * static_cast<std::size_t>(width) + static_cast<std::size_t>(sx)];
      reduced.heights[static_cast<std::size_t>(y) * static_cast<std::size_t>(reduced.width) + static_cast<std::size_t>(x)] =
          count > 0 ? static_cast<float>(sum / count) : 0.0f;
    }
  }
  return reduced;
}

TiledPreview MakeTiledPreview(const std::vector<float>& heights, int width, int height, bool mirrored) {
  TiledPreview preview;
  if (!SizeMatches(heights.size(), width, height)) return preview;
  const int side = 2 * std::min(width, height);
  preview.side = side;
  preview.pixels.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  for (int y = 0; y < side; ++y) {
    int row = y % height;
    if (mirrored && (y / height) % 2 == 1) row = height - 1 - row;
    for (int x = 0; x < side; ++x) {
      int column = x % width;
      if (mirrored && (x / width) % 2 == 1) column = width - 1 - column;
      const float h = heights[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(column)];
      const float clamped = h > 0.0f ? std::min(h, 1.0f) : 0.0f;  // NaN shows black
      const auto g = static_cast<std::uint32_t>(std::lroundf(255.0f * clamped));
      preview.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] =
          0xFF000000u | (g * 0x10101u);
    }
  }
  return preview;
}

}  // namespace grainforge::app
