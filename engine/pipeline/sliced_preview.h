// The sliced preview: a part shown as a fused-filament printer lays it down. The mesh is cut
// into layers along the up axis, each layer's cut segments are joined into outlines, the
// outlines are simplified and drawn as bead strips (a triangular profile per outline), and
// horizontal skins close the places where a layer is exposed above or below. The result is
// one triangle mesh with a layer index per triangle for the view to draw.
//
// Any mesh is accepted: an open or self-intersecting part gives open chains and uneven
// skins, never a failure. A mesh that cannot be sliced (no triangles, a broken index list,
// a coordinate that is not a finite number) or settings that are not numbers give an empty
// preview with the reason; so do parts that would need more layers or cuts than the limits
// below, which are checked before anything of that size is allocated.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct SlicedPreviewSettings {
    // Layer height in mm. Values below 0.01 count as 0.01 and above 1000 as 1000; NaN or an
    // infinity refuses the preview. Small heights on tall parts reach the layer and cut limits.
    float layerHeightMillimetres = 0.2f;
    // Width of a bead in mm. Values below 0.05 count as 0.05 and above 1000 as 1000; NaN or
    // an infinity refuses the preview. Half of it is also the skin grid's cell (at least
    // 0.05 mm, coarser on large parts so that the grid stays bounded).
    float lineWidthMillimetres = 0.42f;
    // Build axis: 0 x, 1 y, 2 z. Below 0 counts as 0, above 2 as 2.
    std::int32_t upAxis = 2;
    // Outline simplification tolerance in mm; 0 or less keeps every cut point. NaN refuses
    // the preview; an infinity simplifies every outline away.
    float toleranceMillimetres = 0.03f;
    // Bead segments to draw, at most. When the outlines of all layers have more, only every
    // k-th layer is drawn, as a bead k layers tall (k never past the layer count). Values
    // below 1000 count as 1000; values above kSlicedPreviewMaxDrawnSegments count as that.
    std::uint64_t segmentBudget = 800000;
    // Draw horizontal skins where a drawn layer is exposed above or below.
    bool skins = true;
};

// Largest preview built. A part past the layer or cut limit is refused; past the drawn-segment
// limit more layers are skipped; skins stop at their triangle limit.
inline constexpr std::uint64_t kSlicedPreviewMaxLayers = 100000;
// Triangle and layer pairs: every triangle once for each layer whose cut height it spans.
inline constexpr std::uint64_t kSlicedPreviewMaxCuts = 32000000;
inline constexpr std::uint64_t kSlicedPreviewMaxDrawnSegments = 4000000;
inline constexpr std::uint64_t kSlicedPreviewMaxSkinTriangles = 4000000;

// Why a preview is empty although the part was handed over.
enum class SlicedPreviewRefusal : std::int32_t {
    none = 0,
    noTriangles = 1,           // an empty index list
    inconsistentMesh = 2,      // index count not a multiple of 3, or an index past the vertices
    nonFiniteCoordinates = 3,  // a vertex coordinate is NaN or infinite
    nonFiniteSettings = 4,     // layer height or line width not finite, or tolerance NaN
    tooManyLayers = 5,         // more than kSlicedPreviewMaxLayers layers
    tooManyCuts = 6,           // more than kSlicedPreviewMaxCuts triangle and layer pairs
    layerTooLarge = 7,         // a single layer has more than kSlicedPreviewMaxDrawnSegments
};

struct SlicedPreview {
    // Bead and skin triangles, each vertex with its own normal; the box is computed.
    TriangleMesh mesh{};
    // One entry per triangle of `mesh`, in triangle order: the index i of the drawn layer it
    // belongs to (the layer number, not its rank among the drawn layers).
    std::vector<std::uint32_t> triangleLayers{};
    std::uint64_t layerCount = 0;
    std::uint64_t drawnLayerCount = 0;
    std::uint64_t layerStep = 1;  // every layerStep-th layer is drawn
    std::uint64_t beadSegments = 0;  // drawn
    std::uint64_t skinTriangles = 0;
    std::uint64_t cutsBeforeSimplifying = 0;  // all layers
    std::uint64_t outlines = 0;               // closed chains, all layers
    std::uint64_t openChains = 0;             // all layers
    double milliseconds = 0.0;                // 0 when refused
    SlicedPreviewRefusal refusal = SlicedPreviewRefusal::none;
    // The skins reached kSlicedPreviewMaxSkinTriangles; the drawn layers from the first one
    // that did not fit have none.
    bool skinsCut = false;
};

// Builds the preview of `mesh` into `preview` (every field reset first) and returns it. The
// layers of a part from z0 to z1 (its box along the up axis, all vertices) are
// max(1, ceil((z1 - z0) / layer height)); layer i is cut at (i + 0.5137) x layer height + z0,
// just above mid-layer, so that faces lying exactly on a layer boundary are not cut. The
// layers are sliced in parallel; the result is the same on any number of threads. Not
// stoppable: the limits bound its work. On a refusal `refusal` says why and everything else
// is as reset. Only allocation failure propagates.
SlicedPreview& BuildSlicedPreview(SlicedPreview& preview, const TriangleMesh& mesh,
                                  const SlicedPreviewSettings& settings);

// One line of text ending in "\n": layers, the step when not every layer is drawn, outlines,
// open chains when there are any, bead segments, cuts, skin triangles, triangles and time;
// for a refused preview the reason.
std::string FormatSlicedPreviewReport(const SlicedPreview& preview);

// ---------------------------------------------------------------------------------------------
// Internals, exposed for the tests.

namespace detail {

// A point on the layer plane: coordinates along the plane axes u = (up + 1) mod 3 and
// v = (up + 2) mod 3.
struct SlicePoint {
    float u = 0.0f;
    float v = 0.0f;
    friend bool operator==(const SlicePoint&, const SlicePoint&) = default;
};

// One triangle's cut, running with the solid on its left (counter-clockwise round an outer
// outline, clockwise round a hole, seen from above).
struct SliceSegment {
    SlicePoint start;
    SlicePoint end;
};

struct SliceChain {
    std::vector<SlicePoint> points;
    bool closed = false;  // the last point joins the first
    friend bool operator==(const SliceChain&, const SliceChain&) = default;
};

// Joins one layer's segments end to start into chains; points match when they agree to
// 0.0001 mm. Chains start at segments nothing leads into, in segment order, then at the
// remaining segments in order; a chain grows while an unused segment starts at its end and
// closes when its end comes back to its own first point. Returns the chains of at least 2
// points; a closed chain does not repeat its first point.
std::vector<SliceChain> ChainSliceSegments(const std::vector<SliceSegment>& segments);

// Douglas-Peucker with `tolerance` mm (a closed chain as a loop through its first point), then
// a closed chain of 4 or more points also drops its first point when that lies within
// `tolerance` of the line from its last to its second point. Chains of fewer than 3 points
// and tolerances of 0 or less (or NaN) leave the chain as it is.
void SimplifySliceChain(SliceChain& chain, float tolerance);

// Layer step for the given bead segments per layer: max(1, ceil(total / budget)), then raised
// until the drawn layers (0, k, 2k, ...) hold at most `maxDrawn` segments. 0 when even layer
// 0 alone holds more.
std::uint64_t ChooseLayerStep(const std::vector<std::uint64_t>& segmentsPerLayer, std::uint64_t budget,
                              std::uint64_t maxDrawn);

// The limits BuildSlicedPreview uses; tests pass smaller ones to reach them with small parts.
struct SlicedPreviewLimits {
    std::uint64_t maxLayers = kSlicedPreviewMaxLayers;
    std::uint64_t maxCuts = kSlicedPreviewMaxCuts;
    std::uint64_t maxDrawnSegments = kSlicedPreviewMaxDrawnSegments;
    std::uint64_t maxSkinTriangles = kSlicedPreviewMaxSkinTriangles;
    // The skin grid's cell grows until a layer has at most this many cells and all drawn
    // layers together at most `maxSkinCellVisits`.
    std::uint64_t maxSkinCellsPerLayer = 4000000;
    std::uint64_t maxSkinCellVisits = 1000000000;
};

SlicedPreview& BuildSlicedPreviewWithin(SlicedPreview& preview, const TriangleMesh& mesh,
                                        const SlicedPreviewSettings& settings, const SlicedPreviewLimits& limits);

}  // namespace detail
}  // namespace grainforge::mesh
