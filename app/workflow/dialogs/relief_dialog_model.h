#pragma once

// What the relief, simplify and remesh input dialogs compute, free of wx: the count formatter,
// the triangle estimates, the automatic midlevel and its explanation, and the reading of the
// typed fields on OK with their limits.

#include "app/document/field_ranges.h"
#include "app/shell/kit/number_text.h"
#include "engine/displacement/displacement_settings.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"

#include <cstdint>
#include <optional>
#include <string>

namespace grainforge::app {

// The fields' ranges (kTriangleSizeRule, kStrengthRule, ...) are in field_ranges.h: a number
// outside is refused at its field.

// A count with "," between groups of three digits: 1234567 gives "1,234,567".
std::wstring FormatCount(std::uint64_t count);

// The text a limit field shows: empty for no limit, else the limit in millions.
std::wstring LimitFieldText(std::uint64_t limit);
// The limit a field's text stands for, read as OK reads it: empty or 0 is no limit (0); a text
// that holds no number ("2 mil" among them) or a negative one keeps `stored` (a typing mistake
// never turns the limit off); otherwise millions clamped to 0.1..200.
std::uint64_t ReadLimitField(const std::wstring& text, std::uint64_t stored);

// Everything the relief and simplify dialog edits.
struct ReliefDialogValues {
  mesh::RemeshSettings remesh;
  std::uint64_t triangleLimit = 18000000;
  std::uint64_t displayLimit = 4000000;
  mesh::DisplacementSettings displacement;
  mesh::SimplifySettings simplify;
  float manualMidlevel = 0.5f;
};

// The dialog's fields as typed, read on OK.
struct ReliefDialogFields {
  std::wstring triangleSize;
  std::wstring strength;
  std::wstring midlevel;
  bool midlevelEnabled = true;
  std::wstring triangleLimit;
  std::wstring displayLimit;
  std::wstring planarTolerance;
  std::wstring detailLevel;
  int direction = 0;
  bool automaticMidlevel = false;
  bool keepBedFlat = false;
};

// Stores the typed fields into the values with their limits; an empty or unreadable number
// keeps the stored value (the limits: see ReadLimitField).
void ReadReliefFields(const ReliefDialogFields& fields, ReliefDialogValues& values);

// The two-line estimate under the limits. `typedSize` is the triangle size field's text,
// `typedLimit` the triangle limit field's, both read as OK reads them; empty (no estimate) for a
// size OK would refuse.
std::wstring EstimateTriangleText(const mesh::TriangleMesh* part, const mesh::RemeshSettings& remesh,
                                  const std::wstring& typedSize, const std::wstring& typedLimit,
                                  std::uint64_t storedLimit);

// What OK would refuse of the size and the two limits, said in the estimate's place as they are
// typed (the first refused, in the order of the fields); empty when all three are taken.
std::wstring ReliefEstimateRefusal(const std::wstring& typedSize, const std::wstring& typedTriangleLimit,
                                   const std::wstring& typedDisplayLimit);

// The midlevel the automatic mode would use for the direction (0 centred, 1 outward, 2
// inward); nothing without a usable height map.
std::optional<float> AutomaticMidlevel(const mesh::HeightMap* map, int direction);
// The midlevel field while automatic: "%.3g" of the level, empty without one.
std::wstring MidlevelFieldText(std::optional<float> level);
// The explanation under the midlevel: the automatic mode's reason, then the note on Outward.
std::wstring ZeroLevelExplanation(const mesh::HeightMap* map, bool automatic, int direction);

// The remesh input dialog: method 2 unless the method choice is 0, size at least 0.01.
mesh::RemeshSettings ReadRemeshInputFields(const mesh::RemeshSettings& stored, int methodSelection,
                                           const std::wstring& typedSize);
// Its estimate; nothing without a part that has vertices and triangles, the refusal OK would
// give for a size the Remesh button would refuse.
std::optional<std::wstring> RemeshInputEstimateText(const mesh::TriangleMesh* part,
                                                    const mesh::RemeshSettings& stored,
                                                    int methodSelection, const std::wstring& typedSize);

}  // namespace grainforge::app
