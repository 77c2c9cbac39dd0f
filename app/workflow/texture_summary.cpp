#include "app/workflow/texture_summary.h"

#include "engine/mesh/report_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwctype>
#include <limits>

#include "app/document/log_text.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/dialogs/relief_dialog_model.h"

namespace grainforge::app {
namespace {

std::uint32_t GreyPixel(float value) {
  const float clamped = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
  const auto g = static_cast<std::uint32_t>(clamped * 255.0f + 0.5f);
  return 0xFF000000u | (g << 16) | (g << 8) | g;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string FloatText(float value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
  return buffer;
}

}  // namespace

std::string ImageKey(const std::filesystem::path& path) {
  return path.empty() ? std::string() : path.lexically_normal().generic_string();
}

std::string PresetKey(const std::string& patternName, const std::string& presetName) {
  return patternName + "|" + presetName;
}

TextureSummary DeriveTextureSummary(const TextureSummaryInput& input) {
  TextureSummary s;
  if (!input.hasTexture) {
    s.title = L"No texture";
    s.subtitle = L"Choose one below, or load an image.";
    return s;
  }
  if (!input.patternName.empty()) {
    s.title = Utf8ToWide(input.patternName);
    s.subtitle = input.presetName.empty() ? L"Procedural, edited settings"
                                          : L"Procedural preset: " + input.presetName;
    s.key = PresetKey(input.patternName, WideToUtf8(input.presetName));
    s.tab = kTabProcedural;
    s.category = input.patternName;
    return s;
  }
  const std::filesystem::path& path = input.imagePath;
  s.title = PathToDisplay(path.filename());
  s.key = ImageKey(path);
  const std::filesystem::path folder = path.parent_path();
  if (!folder.empty() && LowerAscii(PathToPlainUtf8(folder.parent_path().filename())) == "textures") {
    s.subtitle = L"Textures > " + PathToDisplay(folder.filename());
    s.tab = kTabTextures;
    s.category = PathToPlainUtf8(folder.filename());
  } else if (input.isCustomImage) {
    s.subtitle = L"Your image: " + s.title;
    s.tab = kTabCustom;
  } else {
    s.subtitle = L"Image from disk";
  }
  return s;
}

int PreviewStep(int width, int height) {
  const int side = std::max(width, height);
  return std::max((side + kPreviewSide - 1) / kPreviewSide, 1);
}

PreviewImage BuildImagePreview(const mesh::HeightMap& map) {
  PreviewImage preview;
  const std::vector<float>& image = map.seamless.empty() ? map.source : map.seamless;
  if (map.width < 1 || map.height < 1 ||
      image.size() < static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height))
    return preview;
  const int k = PreviewStep(map.width, map.height);
  preview.width = std::max(map.width / k, 1);
  preview.height = std::max(map.height / k, 1);
  preview.pixels.resize(static_cast<std::size_t>(preview.width) * static_cast<std::size_t>(preview.height));
  for (int y = 0; y < preview.height; ++y)
    for (int x = 0; x < preview.width; ++x) {
      const std::size_t source = static_cast<std::size_t>(y) * k * static_cast<std::size_t>(map.width) +
                                 static_cast<std::size_t>(x) * k;
      preview.pixels[static_cast<std::size_t>(y) * preview.width + x] = GreyPixel(map.LevelValue(image[source]));
    }
  return preview;
}

PreviewImage BuildPatternPreview(const std::vector<std::uint8_t>& thumbnail, int side, const mesh::HeightMap& map) {
  PreviewImage preview;
  if (side < 1 || thumbnail.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side))
    return preview;
  preview.width = side;
  preview.height = side;
  preview.pixels.reserve(thumbnail.size());
  for (const std::uint8_t byte : thumbnail)
    preview.pixels.push_back(GreyPixel(map.LevelValue(static_cast<float>(byte) / 255.0f)));
  return preview;
}

PreviewImage TilePreview(const PreviewImage& tile, bool mirror) {
  PreviewImage out;
  if (tile.width < 1 || tile.height < 1 ||
      tile.pixels.size() != static_cast<std::size_t>(tile.width) * static_cast<std::size_t>(tile.height))
    return out;
  out.width = tile.width * 2;
  out.height = tile.height * 2;
  out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
  for (int y = 0; y < out.height; ++y) {
    int sy = y % tile.height;
    if (mirror && y >= tile.height) sy = tile.height - 1 - sy;
    for (int x = 0; x < out.width; ++x) {
      int sx = x % tile.width;
      if (mirror && x >= tile.width) sx = tile.width - 1 - sx;
      out.pixels[static_cast<std::size_t>(y) * out.width + x] =
          tile.pixels[static_cast<std::size_t>(sy) * tile.width + sx];
    }
  }
  return out;
}

std::string PreviewSignature(const mesh::TextureSettings& s, bool hasTexture) {
  // Built by appending: g++ 12 warns wrongly (-Wrestrict) on chains of "text" + string.
  std::string signature = s.seamlessMethod;
  signature.append("|").append(s.seamlessParameters);
  signature.append(hasTexture && s.tiles ? "|tiles" : "|once");
  // The levels shape the picture too; "Invert" and "Auto levels" sit right under the preview.
  for (const float level : {s.blackLevel, s.whiteLevel, s.gamma, s.outputBlackLevel, s.outputWhiteLevel})
    signature.append("|").append(FloatText(level));
  signature.append(s.invert ? "|inv" : "|").append(s.autoLevels ? "|auto" : "|");
  return signature;
}

PixelRect FitPreviewRect(const PixelRect& area, int width, int height) {
  if (width < 1 || height < 1 || area.IsEmpty()) return PixelRect{area.left, area.top, area.left, area.top};
  const long long aw = area.Width();
  const long long ah = area.Height();
  long long w = aw;
  long long h = aw * height / width;
  if (h > ah) {
    h = ah;
    w = ah * width / height;
  }
  w = std::max<long long>(w, 1);
  h = std::max<long long>(h, 1);
  const int left = area.left + static_cast<int>((aw - w) / 2);
  const int top = area.top + static_cast<int>((ah - h) / 2);
  return PixelRect{left, top, left + static_cast<int>(w), top + static_cast<int>(h)};
}

std::wstring GroupThousands(std::uint64_t value) {
  const std::string grouped = grainforge::mesh::FormatCountGrouped(value);
  return std::wstring(grouped.begin(), grouped.end());
}

std::wstring TriangleEstimateText(bool hasPart, std::uint64_t estimated, float cappedCellMillimetres) {
  grainforge::mesh::ProcessEstimate estimate;
  estimate.triangles = grainforge::mesh::ShownTriangleEstimate(estimated);
  estimate.cappedCellMillimetres = cappedCellMillimetres;
  return TriangleEstimateText(hasPart, estimate);
}

std::wstring TriangleEstimateText(bool hasPart, const grainforge::mesh::ProcessEstimate& estimate) {
  if (!hasPart) return L"Open a part to see how many triangles the relief makes.";
  std::wstring suffix;
  if (estimate.cappedCellMillimetres > 0.0f) {
    wchar_t buffer[96];
    std::swprintf(buffer, 96, L" at %.2f mm, the finest this part allows",
                  static_cast<double>(estimate.cappedCellMillimetres));
    suffix = buffer;
  }
  std::wstring text = L"About " + GroupThousands(estimate.triangles) + L" triangles" + suffix + L".";
  if (estimate.overLimit) {
    wchar_t buffer[128];
    std::swprintf(buffer, 128, L" Over the triangle limit of %g million: Process would refuse it.",
                  static_cast<double>(estimate.limit) / 1e6);
    text += buffer;
  }
  return text;
}

namespace {

// The number a section field takes, read as the relief dialog's field of that name reads it.
std::optional<double> EntryValue(const std::wstring& text, const NumberFieldRule& rule) {
  const NumberFieldReading reading = ReadNumberField(text, rule);
  if (reading.kind != NumberFieldReading::Kind::accepted) return std::nullopt;
  return reading.value;
}

std::wstring EntryRefusal(const std::wstring& text, const NumberFieldRule& rule) {
  const NumberFieldReading reading = ReadNumberField(text, rule);
  if (!NumberFieldRefuses(reading, rule)) return std::wstring();
  return reading.refusal.empty() ? NumberFieldRangeText(rule) : reading.refusal;
}

}  // namespace

std::optional<float> TriangleSizeFromEntry(const std::wstring& text) {
  const std::optional<double> value = EntryValue(text, kTriangleSizeRule);
  if (!value) return std::nullopt;
  return std::max(static_cast<float>(*value), kSmallestTriangleSize);
}

std::optional<float> StrengthFromEntry(const std::wstring& text, float current) {
  const std::optional<double> value = EntryValue(text, kStrengthRule);
  if (!value || static_cast<float>(*value) == current) return std::nullopt;
  return static_cast<float>(*value);
}

std::wstring TriangleSizeEntryRefusal(const std::wstring& text) { return EntryRefusal(text, kTriangleSizeRule); }

std::wstring StrengthEntryRefusal(const std::wstring& text) { return EntryRefusal(text, kStrengthRule); }

}  // namespace grainforge::app
