// What the fixes before a save changed in the part: each body's volume, each body's box, how
// far each body's corners lie from what is left of it, and the bodies that are gone, measured
// between the part as given and the part as it will be written, and how far the surface moved,
// both ways, against the part's thickness where it moved.
// A fix is there to make a file a slicer reads cleanly, not to change the part: a change beyond
// kLargestFixChangeShare is named as a problem where the user reads the check's headline, not
// as a note below it. Repair judges its own moves and collapses by the same rule, so that what
// it keeps is what the check accepts. Accepts any two meshes; an inconsistent or empty one is
// not measured.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh {

// A fix that changes a body's volume, or moves a side of its box, by more than this share of
// the body's own volume or size along that axis (a hundredth), or takes away a body holding
// more than this share of the part's volume, has changed the part.
inline constexpr float kLargestFixChangeShare = 0.01f;

// Relaxing moves a vertex no further than this share of the size of its body (the smallest side
// of the box of the triangles joined to it through shared vertices): a crossing that a tenth of
// the body's thickness cannot part is left for the collapse rather than mended by reshaping the
// body (a 1 mm pin relaxed by 1 mm is no pin). A fix that leaves a corner of a body further than
// this share of that size from what is left of the body has changed the part too: that is a
// move no fix may make, however little volume or box it costs (a plate's corner cut away).
inline constexpr float kMoveShareOfBodySize = 0.1f;

// Where a point lies against the part as given: its distance from the part's surface and the
// part's thickness at the nearest point of it, measured inward along the normal of the triangle
// there to the opposite side (the thinnest over the triangles round a corner of the part).
// Where no opposite side is met (an open body), the thickness is the smallest side of that
// body's box and `across` is set.
struct SurfaceSpot {
    float distance = 0.0f;
    float thickness = 0.0f;
    bool across = false;
};

struct FixChangeReport;

// The part before any fix, held for measuring what any number of fix rounds did to it. Keeps
// a reference to `part`, which must stay unchanged and outlive it. Its search tree is built
// the first time a point off the part's corners is looked up (in parallel inside), so a part
// whose corners all stay where they were costs hash look-ups only. Not for use from several
// threads at once.
class FixBaseline {
public:
    explicit FixBaseline(const TriangleMesh& part);
    ~FixBaseline();
    FixBaseline(const FixBaseline&) = delete;
    FixBaseline& operator=(const FixBaseline&) = delete;

    // False for an inconsistent part or one without triangles: nothing is measured against it.
    [[nodiscard]] bool IsUsable() const;
    // Whether `p` is, bit for bit, the position of a corner of the part.
    [[nodiscard]] bool IsCornerOfPart(Vec3 p) const;
    // Where `p` lies against the part; all zero for a part that is not usable.
    [[nodiscard]] SurfaceSpot Locate(Vec3 p);

private:
    struct State;
    friend FixChangeReport MeasureFixChange(FixBaseline& before, const TriangleMesh& after, bool measureMoves);
    std::unique_ptr<State> state_;
};

// Bodies are triangles joined through shared corners, corners at one position counting as one
// (as a file holds them). Each body after the fixes is matched to the body before that its
// corners came from: the one holding most of its corner positions, or, for a piece none of
// whose corners is a corner of the part, the one whose box overlaps its own most. The pieces
// of one body count together, so a body split where it touched itself is unchanged.
struct FixChangeReport {
    bool measured = false;  // false when either mesh is inconsistent or has no triangle
    std::uint64_t bodiesBefore = 0;
    std::uint64_t bodiesAfter = 0;
    // The closed body (before and after) whose volume changed most against its own volume:
    // the share and its volumes in cubic millimetres.
    // The volume is that of the body, or where the fixes parted a body into pieces, of each
    // piece against the part's triangles it holds (a cube parted from its neighbour along a
    // shared edge loses its own volume, not half the pair's). The box is that body's before.
    float largestVolumeShare = 0.0f;
    double volumeBefore = 0.0;
    double volumeAfter = 0.0;
    Vec3 volumeLow{};
    Vec3 volumeHigh{};
    // The side of a body's box that moved most against the body's size along its axis: the
    // share, the move and the size in millimetres, and the axis (0 x, 1 y, 2 z).
    float largestBoxShare = 0.0f;
    float boxMoveMillimetres = 0.0f;
    float boxSizeMillimetres = 0.0f;
    std::int32_t boxAxis = 0;
    // The other way: the corner of the part lying furthest from what the fixes left of its body
    // (the pieces matched to it) against the body's size as relaxing takes it, the smallest side
    // of its box longer than 0: the share, the distance, the size and the corner. A collapse that cuts a plate's corner away
    // leaves every corner it writes near the part, and this corner far from what it writes.
    float largestLossShare = 0.0f;
    float furthestLossMillimetres = 0.0f;
    float lossBodySizeMillimetres = 0.0f;
    Vec3 furthestLossAt{};
    // The largest distance of any corner of the part from what is left of its body.
    float partToResultMillimetres = 0.0f;
    // Corners after the fixes that are no corner of the part before (moved, or made by a
    // collapse), each measured by its distance from the part's surface (SurfaceSpot); the
    // furthest of them, or the furthest loss above when it lies further, with the thickness
    // there. No rule judges the moves themselves: the loss and the box say what they changed.
    std::uint64_t cornersMoved = 0;
    float furthestMoveMillimetres = 0.0f;
    SurfaceSpot furthestMove{};
    // Bodies with nothing left where they were, and the largest volume among them (0 for
    // open ones); the part's volume before, the sum over its closed bodies.
    std::uint64_t bodiesLost = 0;
    double largestLostVolume = 0.0;
    double partVolume = 0.0;
};

// Measures what changed from `before` (the part as the baseline holds it) to `after` (read
// only). The corners of the part that are no corner of its body after are looked up in a tree
// of `after`, in parallel; a part whose corners all stay costs hash look-ups only. Allocation
// failures reach the caller. With
// more than kMostMatchedBodies bodies on either side the parts are compared whole, as one body
// each. The two-mesh form measures against a baseline of `before` made for the call. Without
// `measureMoves` the moved corners are left unmeasured (no rule needs them, and they cost a
// search each).
[[nodiscard]] FixChangeReport MeasureFixChange(FixBaseline& before, const TriangleMesh& after,
                                               bool measureMoves = true);
[[nodiscard]] FixChangeReport MeasureFixChange(const TriangleMesh& before, const TriangleMesh& after);
inline constexpr std::uint64_t kMostMatchedBodies = 4096;

// Whether the change goes beyond kLargestFixChangeShare anywhere.
[[nodiscard]] bool IsLargeFixChange(const FixChangeReport& report);

// One line per change beyond the share (each without a line break), naming the change and its
// size, for the check to list as problems; empty when there is none.
[[nodiscard]] std::vector<std::string> FormatLargeFixChanges(const FixChangeReport& report);

// One line, no line break: the largest changes found, as shares of what they changed, and the
// furthest move either way (a corner written off the part, or a corner of the part off what is
// written) beside the part's thickness there.
[[nodiscard]] std::string FormatFixChange(const FixChangeReport& report);

}  // namespace grainforge::mesh
