// The mask panel's rules without a window: how the chosen volume's ten fields show their
// values, which typed fields reach the volume, and when the list is rebuilt.
#pragma once

#include "app/shell/kit/number_text.h"
#include "engine/displacement/mask_volume.h"
#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace grainforge::app {

// Centre x, y, z; size x, y, z; turn x, y, z; feather (edits 1218 to 1227 in order).
inline constexpr int kMaskFieldCount = 10;
using MaskFieldTexts = std::array<std::wstring, kMaskFieldCount>;

// Smallest size and feather a typed value is raised to.
using mesh::kMinimumMaskSize;

// "%.2f" without trailing zeros and point (2.5, 3, 0); magnitudes below 0.005 show as 0.
[[nodiscard]] std::wstring FormatMaskField(float value);

// The lowest Z of the part when it has vertices, triangles and a valid box; otherwise 0. Mask
// Z values are shown and typed relative to it.
[[nodiscard]] float BedBaseHeight(const mesh::TriangleMesh& part);

// The value a field shows (centre z relative to the bed).
[[nodiscard]] float MaskFieldValue(const mesh::MaskVolume& volume, int field, float bedBase);
[[nodiscard]] MaskFieldTexts MaskFieldTextsOf(const mesh::MaskVolume& volume, float bedBase);

// The range each field takes, as its refusal names it ("Size X must be from 0.5 to 10000 mm."):
// kMaskFieldRules, which a project's masks are read by too.
[[nodiscard]] const NumberFieldRule& MaskFieldRule(int field);

// The volume with the typed fields applied. Only a field whose text differs from what the
// panel last showed there is read: the shown texts are rounded to 0.01, so reading them back
// would move the volume by tabbing through the panel. A text the field's rule refuses (no
// number, out of range) or an empty one keeps the value.
[[nodiscard]] mesh::MaskVolume ApplyMaskFieldEdits(const mesh::MaskVolume& volume, const MaskFieldTexts& shown,
                                                   const MaskFieldTexts& typed, float bedBase);

// The first changed field whose text its rule refuses, with the refusal; field -1 when none.
// Every refused field is flagged: each keeps its text as typed, not only the first.
struct MaskFieldRefusal {
  int field = -1;
  std::wstring text;
  std::array<bool, kMaskFieldCount> refused{};
};
[[nodiscard]] MaskFieldRefusal CheckMaskFieldEdits(const MaskFieldTexts& shown, const MaskFieldTexts& typed);

// "Box", "Cylinder", "Sphere", or "Volume" for any other shape value.
[[nodiscard]] const wchar_t* MaskShapeName(mesh::MaskShape shape);

// The list is rebuilt when the count, a name or a shape differs from what it shows.
[[nodiscard]] bool VolumeListNeedsRebuild(const std::vector<mesh::MaskVolume>& shown,
                                          const std::vector<mesh::MaskVolume>& volumes);

// The widths of the list's "Volume" and "Shape" columns in a list `room` pixels wide, each
// column needing `needs` for its heading and its widest entry: the list shared 62 % and 38 %
// where both fit so; else each column at least its need, the rest of the room to the names;
// wider than the room, the list scrolls across.
[[nodiscard]] std::array<int, 2> MaskListColumnWidths(int room, std::array<int, 2> needs);

}  // namespace grainforge::app
