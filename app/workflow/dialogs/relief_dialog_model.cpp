#include "app/workflow/dialogs/relief_dialog_model.h"

#include "app/shell/kit/number_text.h"
#include "engine/mesh/report_text.h"
#include "engine/pipeline/process_estimate.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <system_error>
#include <cwctype>

namespace grainforge::app {

namespace {

std::wstring Trimmed(const std::wstring& text) {
  const auto first = std::find_if_not(text.begin(), text.end(), [](wchar_t c) { return std::iswspace(c); });
  const auto last = std::find_if_not(text.rbegin(), text.rend(), [](wchar_t c) { return std::iswspace(c); });
  return first < last.base() ? std::wstring(first, last.base()) : std::wstring();
}

// The number a field's text holds as OK reads it (ReadNumberField: a unit word other than the
// field's own is no number), in range or not; none for a text that holds no finite number.
std::optional<double> TypedNumberOf(const std::wstring& text, const NumberFieldRule& rule) {
  const NumberFieldReading reading = ReadNumberField(text, rule);
  const bool number = reading.kind == NumberFieldReading::Kind::accepted || reading.kind == NumberFieldReading::Kind::refused;
  if (!number || !std::isfinite(reading.value)) return std::nullopt;
  return reading.value;
}

// The triangle size a field's text stands for when OK would take it; none for a text OK refuses.
std::optional<float> TypedTriangleSize(const std::wstring& text) {
  const NumberFieldReading reading = ReadNumberField(text, kTriangleSizeRule);
  if (reading.kind != NumberFieldReading::Kind::accepted) return std::nullopt;
  return static_cast<float>(reading.value);
}

// The typed value (the stored one for a text that holds no number) held to its field's range,
// as a project's value is read.
float ReadHeld(const std::wstring& text, const NumberFieldRule& rule, float stored) {
  return static_cast<float>(HoldToFieldRange(TypedNumberOf(text, rule).value_or(stored), rule, stored));
}

bool HasPart(const mesh::TriangleMesh* part) {
  return part != nullptr && !part->vertices.empty() && part->TriangleCount() > 0;
}

bool UsableMap(const mesh::HeightMap* map) {
  return map != nullptr && map->width > 0 && map->height > 0 && !map->blurred.empty();
}

// printf's fixed and "%g" forms in the "C" locale whatever the desktop's locale is.
std::wstring CharsOf(double value, std::chars_format format, int precision) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
  if (result.ec != std::errc()) return std::wstring();
  if (mesh::IsNegativeZeroText(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer))))
    return CharsOf(0.0, format, precision);
  return std::wstring(buffer, result.ptr);
}

}  // namespace

std::wstring FormatCount(std::uint64_t count) {
  const std::string grouped = grainforge::mesh::FormatCountGrouped(count);
  return std::wstring(grouped.begin(), grouped.end());
}

std::wstring LimitFieldText(std::uint64_t limit) {
  return limit == 0 ? std::wstring() : FormatDialogFloat(static_cast<double>(limit) / 1e6);
}

std::uint64_t ReadLimitField(const std::wstring& text, std::uint64_t stored) {
  if (Trimmed(text).empty()) return 0;
  // Read as OK reads it: "2 mil" or "2 cm" is no limit of 2 million.
  const std::optional<double> typed = TypedNumberOf(text, kTriangleLimitRule);
  if (!typed || *typed < 0.0) return stored;
  if (*typed == 0.0) return 0;
  return static_cast<std::uint64_t>(std::llround(1e6 * std::clamp(*typed, kMinLimitMillions, kMaxLimitMillions)));
}

void ReadReliefFields(const ReliefDialogFields& fields, ReliefDialogValues& values) {
  values.remesh.targetEdgeMillimetres =
      ReadHeld(fields.triangleSize, kTriangleSizeRule, values.remesh.targetEdgeMillimetres);
  values.triangleLimit = ReadLimitField(fields.triangleLimit, values.triangleLimit);
  values.displayLimit = ReadLimitField(fields.displayLimit, values.displayLimit);
  mesh::SimplifySettings& simplify = values.simplify;
  simplify.planarToleranceMillimetres =
      ReadHeld(fields.planarTolerance, kPlanarToleranceRule, simplify.planarToleranceMillimetres);
  simplify.meshDetailError = ReadHeld(fields.detailLevel, kDetailLevelRule, simplify.meshDetailError);
  mesh::DisplacementSettings& relief = values.displacement;
  // A stored strength may itself be out of range (an old project); the clamp applies to it too.
  relief.strengthMillimetres = ReadHeld(fields.strength, kStrengthRule, relief.strengthMillimetres);
  if (fields.midlevelEnabled)
    relief.midLevel = ReadHeld(fields.midlevel, kMidlevelRule, relief.midLevel);
  else
    relief.midLevel = std::clamp(values.manualMidlevel, 0.0f, 1.0f);
  relief.direction = fields.direction == 1   ? mesh::DisplacementDirection::outward
                     : fields.direction == 2 ? mesh::DisplacementDirection::inward
                                             : mesh::DisplacementDirection::centred;
  relief.midLevelMode = fields.automaticMidlevel ? mesh::MidLevelMode::automatic : mesh::MidLevelMode::manual;
  relief.base.enabled = fields.keepBedFlat;
}

std::wstring EstimateTriangleText(const mesh::TriangleMesh* part, const mesh::RemeshSettings& remesh,
                                  const std::wstring& typedSize, const std::wstring& typedLimit,
                                  std::uint64_t storedLimit) {
  if (!HasPart(part)) return L"Open a part to see how many triangles the relief makes.";
  // No estimate for a size OK would refuse: a count for another size would mislead.
  const std::optional<float> size = TypedTriangleSize(typedSize);
  if (!size) return std::wstring();
  mesh::RemeshSettings copy = remesh;
  copy.method = mesh::RemeshMethod::contour;
  copy.targetEdgeMillimetres = *size;
  const mesh::RemeshEstimate estimate = mesh::EstimateRemeshResult(*part, copy);
  const std::uint64_t shown = mesh::ShownTriangleEstimate(estimate.totalTriangles);
  std::wstring text = L"About " + FormatCount(shown) + L" triangles at " +
                      FormatDialogFloat(copy.targetEdgeMillimetres) + L" mm";
  if (estimate.cappedCellMillimetres > 0.0f)
    text += L" (made at " + CharsOf(estimate.cappedCellMillimetres, std::chars_format::fixed, 2) +
            L" mm, the finest this part allows)";
  text += L".";
  const std::uint64_t limit = ReadLimitField(typedLimit, storedLimit);
  if (mesh::OverTriangleLimit(shown, limit))
    text += L" Over the triangle limit of " + FormatDialogFloat(static_cast<double>(limit) / 1e6) +
            L" million: Process would refuse it.";
  return text;
}

std::wstring ReliefEstimateRefusal(const std::wstring& typedSize, const std::wstring& typedTriangleLimit,
                                   const std::wstring& typedDisplayLimit) {
  for (const auto& [text, rule] : {std::pair{&typedSize, &kTriangleSizeRule}, {&typedTriangleLimit, &kTriangleLimitRule},
                                   {&typedDisplayLimit, &kDisplayLimitRule}})
    if (std::wstring refusal = NumberFieldRefusalOf(*text, *rule); !refusal.empty()) return refusal;
  return std::wstring();
}

std::wstring MidlevelFieldText(std::optional<float> level) {
  return level ? CharsOf(*level, std::chars_format::general, 3) : std::wstring();
}

std::optional<float> AutomaticMidlevel(const mesh::HeightMap* map, int direction) {
  if (!UsableMap(map)) return std::nullopt;
  if (direction == 1) return map->LevelledPercentile(0.01f);
  if (direction == 2) return map->LevelledPercentile(0.99f);
  return map->hasMidValue ? map->LevelValue(map->midValue) : 0.5f;
}

std::wstring ZeroLevelExplanation(const mesh::HeightMap* map, bool automatic, int direction) {
  std::wstring reason;
  if (automatic) {
    if (!UsableMap(map))
      reason = L"Automatic: worked out from the texture once there is one.";
    else if (direction == 1)
      reason = L"Automatic: from the image's darkest, so the whole relief grows out of the surface.";
    else if (direction == 2)
      reason = L"Automatic: from the image's lightest, so the whole relief is cut into the surface.";
    else if (map->hasMidValue)
      reason = L"Automatic: at the texture's own surface, which stays where it is - the ground of dots or "
               L"tread plate, the tops of knurling.";
    else
      reason = L"Automatic: at 0.5, so the texture moves out and in alike.";
  }
  if (!reason.empty()) reason += L" ";
  return reason + L"Outward only cannot thin a wall or cut through a thin model, which is why it is the "
                  L"safest for printing.";
}

mesh::RemeshSettings ReadRemeshInputFields(const mesh::RemeshSettings& stored, int methodSelection,
                                           const std::wstring& typedSize) {
  mesh::RemeshSettings settings = stored;
  settings.method = methodSelection != 0 ? mesh::RemeshMethod::contour : mesh::RemeshMethod::isotropic;
  settings.targetEdgeMillimetres = ReadHeld(typedSize, kTriangleSizeRule, stored.targetEdgeMillimetres);
  return settings;
}

std::optional<std::wstring> RemeshInputEstimateText(const mesh::TriangleMesh* part,
                                                    const mesh::RemeshSettings& stored,
                                                    int methodSelection, const std::wstring& typedSize) {
  if (!HasPart(part)) return std::nullopt;
  if (!TypedTriangleSize(typedSize)) return NumberFieldRefusalOf(typedSize, kTriangleSizeRule);
  const mesh::RemeshSettings settings = ReadRemeshInputFields(stored, methodSelection, typedSize);
  const mesh::RemeshEstimate estimate = mesh::EstimateRemeshResult(*part, settings);
  // No count the job would refuse to make: the size it would accept instead.
  if (mesh::UnderRemeshFloor(estimate)) {
    const auto Widen = [](const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); };
    std::wstring text = L"Too few triangles for the part's surface: triangles of " +
                        Widen(mesh::FormatLength(settings.targetEdgeMillimetres)) +
                        L" mm are too large for this part. ";
    const float advised = mesh::AdviseCoarsestRemeshSize(*part, settings);
    if (advised > 0.0f)
      return text + L"A triangle size of at most " + Widen(mesh::FormatLength(advised)) + L" mm makes its surface.";
    return text + L"A smaller triangle size makes its surface.";
  }
  return L"About " + FormatCount(estimate.totalTriangles) + L" triangles from " +
         FormatCount(part->TriangleCount()) +
         L". The result replaces the part as loaded; open the file again to get the original back.";
}

}  // namespace grainforge::app
