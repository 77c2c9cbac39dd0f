// What the fixes before a save changed in the part: each body's volume, each body's box and the
// bodies that are gone, measured between the part as given and the part as it will be written.
// A fix is there to make a file a slicer reads cleanly, not to change the part: a change beyond
// kLargestFixChangeShare is named as a problem where the user reads the check's headline, not
// as a note below it. Accepts any two meshes; an inconsistent or empty one is not measured.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// A fix that changes a body's volume, or moves a side of its box, by more than this share of
// the body's own volume or size along that axis (a hundredth), or takes away a body holding
// more than this share of the part's volume, has changed the part.
inline constexpr float kLargestFixChangeShare = 0.01f;

// Bodies are triangles joined through shared corners, corners at one position counting as one
// (as a file holds them). Each body after the fixes is matched to the body before whose box
// overlaps its own most; several pieces of one body count together.
struct FixChangeReport {
    bool measured = false;  // false when either mesh is inconsistent or has no triangle
    std::uint64_t bodiesBefore = 0;
    std::uint64_t bodiesAfter = 0;
    // The closed body (before and after) whose volume changed most against its own volume:
    // the share and its volumes in cubic millimetres.
    float largestVolumeShare = 0.0f;
    double volumeBefore = 0.0;
    double volumeAfter = 0.0;
    // The side of a body's box that moved most against the body's size along its axis: the
    // share, the move and the size in millimetres, and the axis (0 x, 1 y, 2 z).
    float largestBoxShare = 0.0f;
    float boxMoveMillimetres = 0.0f;
    float boxSizeMillimetres = 0.0f;
    std::int32_t boxAxis = 0;
    // Bodies with nothing left where they were, and the largest volume among them (0 for
    // open ones); the part's volume before, the sum over its closed bodies.
    std::uint64_t bodiesLost = 0;
    double largestLostVolume = 0.0;
    double partVolume = 0.0;
};

// Measures what changed from `before` to `after` (both read only). Serial; allocation failures
// reach the caller. With more than kMostMatchedBodies bodies on either side the parts are
// compared whole, as one body each.
[[nodiscard]] FixChangeReport MeasureFixChange(const TriangleMesh& before, const TriangleMesh& after);
inline constexpr std::uint64_t kMostMatchedBodies = 4096;

// Whether the change goes beyond kLargestFixChangeShare anywhere.
[[nodiscard]] bool IsLargeFixChange(const FixChangeReport& report);

// One line per change beyond the share (each without a line break), naming the change and its
// size, for the check to list as problems; empty when there is none.
[[nodiscard]] std::vector<std::string> FormatLargeFixChanges(const FixChangeReport& report);

// One line, no line break: the largest changes found, as shares of what they changed.
[[nodiscard]] std::string FormatFixChange(const FixChangeReport& report);

}  // namespace grainforge::mesh
