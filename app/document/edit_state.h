// One undo snapshot of everything the user edits apart from the part's mesh (placement,
// texture, masks, stage settings), the equality tests that decide whether an edit happened,
// and the bounds on the history. Snapshots share the height-map pixels through a shared
// pointer to a constant map, so a change of placement does not copy them; every snapshot
// between two pixel changes holds the same map.
#pragma once

#include "app/document/no_window_system.h"

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"
#include "engine/mesh/placement.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"
#include "engine/textures/parameter_set.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::app {

// The most mask volumes a part takes: adding and duplicating stop there, and a project
// holding more is read up to it. Each volume is tested for every vertex of a run.
inline constexpr std::size_t kMaximumMaskVolumes = 256;

// A pattern this program does not know, named by the project opened: its name, parameters and
// preset as the file gave them, to be saved back while no other texture takes its place.
struct KeptPattern {
    std::string name;  // empty when there is none
    std::string parameters;
    std::string preset;
    bool operator==(const KeptPattern&) const = default;
};

struct EditState {
    grainforge::mesh::Transform3x4 partTransform;
    // With its cage and its six side layers; the active layer is always stored as -1, so that
    // applying a snapshot ends per-side editing.
    grainforge::mesh::Projection projection = grainforge::mesh::InitProjection();
    grainforge::mesh::RemeshSettings remesh;
    grainforge::mesh::DisplacementSettings displacement;
    grainforge::mesh::SimplifySettings simplify;
    bool remeshOn = true;
    bool displacementOn = true;
    bool simplifyOn = true;
    std::uint64_t maximumTriangles = 18000000;
    std::uint64_t displayTriangles = 4000000;
    // Null when the map holds no pixels.
    std::shared_ptr<const grainforge::mesh::HeightMap> heightMap;
    std::uint32_t pixelGeneration = 0;
    grainforge::mesh::TextureSettings textureSettings;
    // Empty without a pattern.
    std::string patternName;
    std::string patternParameters;
    // The pattern's members kept unread (ParameterSet::membersNotRead), shared and never
    // changed: Undo puts them back with the values they came with. Null when it keeps none.
    std::shared_ptr<const grainforge::mesh::JsonValue> patternMembersNotRead;
    std::wstring presetName;
    std::wstring imagePath;
    // Only while neither a pattern nor an image is in place: Undo brings it back with the
    // texture-less state it belongs to.
    KeptPattern keptPattern;
    // The selected mask is not part of a snapshot.
    std::vector<grainforge::mesh::MaskVolume> masks;
};

// Every field of the two settings records exactly, texts by content; NaN never equals.
[[nodiscard]] bool TextureSettingsEqual(const grainforge::mesh::TextureSettings& a,
    const grainforge::mesh::TextureSettings& b);

// The main test: everything but the cage, the side layers and the masks.
[[nodiscard]] bool EditStateMainEquals(const EditState& a, const EditState& b);
// The three further tests; a drag changes only what these compare.
[[nodiscard]] bool EditStateCageEquals(const EditState& a, const EditState& b);
[[nodiscard]] bool EditStateSidesEquals(const EditState& a, const EditState& b);
[[nodiscard]] bool EditStateMasksEquals(const EditState& a, const EditState& b);
// All four tests hold.
[[nodiscard]] bool EditStateEquals(const EditState& a, const EditState& b);

// How much history the document keeps. A procedural re-render can put a float image of
// 4096 x 4096 (64 MB; three of them with a seamless step and a blur) into every step, so the
// pixels need a budget of their own.
struct EditHistoryLimits {
    std::size_t maximumSteps = 100;                     // per stack
    std::uint64_t maximumHeightMapBytes = 1ull << 30;   // every map the history holds, the base's too
};

// Bytes of the map's pixel images; images that share their pixels count once.
[[nodiscard]] std::uint64_t HeightMapBytes(const grainforge::mesh::HeightMap& map);

// Bytes of the distinct pixel images the maps of the undo and redo stacks and the base hold:
// a map shared by several steps, and pixels shared by several images or maps, count once. The
// base's map counts too: the history keeps its pixels whatever the document's working map
// takes next.
[[nodiscard]] std::uint64_t HistoryHeightMapBytes(const std::vector<EditState>& undo,
    const std::vector<EditState>& redo, const EditState& base);

// Drops steps until both stacks are within the step limit and the history's maps within the
// byte budget: the oldest undo steps first, then the redo steps furthest from the present. The
// base is never dropped: a base map alone over the budget leaves the steps without maps of
// their own.
void TrimEditHistory(std::vector<EditState>& undo, std::vector<EditState>& redo,
    const EditState& base, const EditHistoryLimits& limits);

}  // namespace grainforge::app
