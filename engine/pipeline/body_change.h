// What a run did to each body of the part: the bodies of the result are matched to the bodies
// of the part they lie at, and each body of the part is compared with what the result holds
// there, so that a body the run took away or cut down, and a sealed void it made, is named
// rather than lost in the figures of the part as a whole.
//
// Takes any two meshes; bodies are triangles joined through shared edges (LabelBodies). A mesh
// that is inconsistent, or has no triangles, gives a report that was not measured.
#pragma once

#include "engine/repair/crumb_removal.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// What became of one body of the part (or of bodies the run joined into one).
enum class BodyFate {
    vanished,  // the result holds nothing there
    shrunk,    // the result holds there less than the share a run may round off
    newVoid,   // an inward-facing body of the result, lying at an outward-facing body of the part
    loosePiece,  // an outward-facing body of the result beside a larger one at the same body
};
inline constexpr std::size_t kBodyFates = 4;

struct BodyChange {
    BodyFate fate = BodyFate::shrunk;
    // The body of the part: box, triangles and signed volume, summed over the bodies the run
    // joined into it. Empty (no triangles) for a new void.
    CrumbRecord before;
    // What the result holds there, summed over its bodies; empty for a body that vanished.
    CrumbRecord after;
    std::uint32_t bodiesJoined = 1;  // bodies of the part that make `before`
};

struct BodyChangeReport {
    bool measured = false;
    std::uint32_t bodiesBefore = 0;  // of the part
    std::uint32_t bodiesAfter = 0;   // of the result
    // Vanished bodies first, then shrunk ones, new voids and loose pieces; within each, the
    // larger first (IsLargerBody, on `before`, on `after` for new voids and loose pieces).
    std::vector<BodyChange> changes;
};

// The part as its volume is measured, once for every figure a run gives of it: a facet written
// twice counts once, and a body wound inside out (one the nesting rule does not take for a
// hollow) by the volume it encloses. Those are what a remesh and a relief read the part as, so a
// figure of the part as written would report a loss or a cut that did not happen.
struct MeasuredPart {
    TriangleMesh mesh;                 // the part so mended; the part itself when nothing was
    std::uint64_t doubledFacets = 0;   // facets the part holds twice, taken once
    std::uint64_t bodiesTurned = 0;    // bodies the part holds wound inside out, turned
    bool wholeTurned = false;          // every facet of the part was turned: it is inside out
};
[[nodiscard]] MeasuredPart MeasurePartAsMeant(const TriangleMesh& part);

// The share of its volume a body lost (`before` against what the result holds there, `after`);
// a body turned inside out lost all of it. The one measure of a cut every text and count takes.
[[nodiscard]] double LostShare(const CrumbRecord& before, const CrumbRecord& after);

// Matches each body of `result` to the body of `part` most of its corners lie nearest
// (LabelSourceBodiesAt). A body of the part no body of the result lies at was joined into one
// when most of its corners lie within `reach` mm of the result's surface or (but for a hollow,
// which is filled there) inside it, and is
// counted with the body it joined; otherwise it vanished. A body of the part, with those joined
// to it, is shrunk when it lost more than `lossShare` of its volume beyond the share the whole
// part lost: what a relief's depth takes off every body alike is said of the part, and a part
// of one body is never shrunk here, nor any body of a part with open edges (`partOpen`), whose
// volumes say nothing until the run closed them. An inward-facing body of the
// result lying at an outward-facing one of the part is a void the part did not have; an
// outward-facing one lying at a body of the part where a larger one lies too is a piece the run
// set loose from it (its material still counts to that body). Costs one
// pass over each mesh, a tree over the part and a few nearest-point queries per body; the tree
// over the result is built only when some body of the part has no body of the result at it.
// Parallel in the queries; the answer does not depend on the number of threads.
[[nodiscard]] BodyChangeReport MeasureBodyChanges(const TriangleMesh& part, const TriangleMesh& result, float reach,
    double lossShare, bool partOpen = false);

// A line per named body, at most kMostBodyChangeLines, then a line per fate counting the rest
// with their volume: "Process took away a body of the part: " and its size, place and volume;
// "Process cut a body of the part down by n%: " its size, place and volume before, then after
// (a hollow, an inward-facing body, is "filled" or "cut down" as a hollow);
// "Process made a sealed void the part did not have: " its size, place and volume; "Process set
// a piece loose from a body of the part: " its size, place and volume, then the body's size and
// place. Empty when nothing is named.
inline constexpr std::size_t kMostBodyChangeLines = 10;
[[nodiscard]] std::string FormatBodyChangesText(const BodyChangeReport& report);

}  // namespace grainforge::mesh
