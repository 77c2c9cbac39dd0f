// How far a part's surface lies from what a stage made of it, and the other way round. A
// remesh or a contoured relief can drop features thinner than its triangles, or fill crevices
// narrower than them, without a word; this measure finds the input's surface points that no
// longer have any of the output nearby, and the output's points that have none of the input.
//
// A surface is sampled (its vertices, strided down to a bounded count, and a fixed number of
// points spread over its area) and each sample's distance to the other surface is looked up in
// a bounding-volume tree over that surface. Input surface buried inside the output counts as
// lost (a crevice filled over), except faces that lie inside the input's own solid: the inner
// faces of overlapping shells, which a contour merges away on purpose.
#pragma once

#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>

namespace grainforge::mesh {

// At most this many of the input's vertices are samples (every k-th beyond it), and this many
// points are spread over its area: enough to land several on a 5 x 0.2 mm leg of a 100 mm part,
// few enough that the lookups cost a small share of the stage they follow.
inline constexpr std::uint64_t kDistanceVertexSamples = 65536;
inline constexpr std::uint64_t kDistanceAreaSamples = 65536;
// The output is sampled back at a quarter of that: what it adds that matters covers area (a
// crevice filled over, a rim grown out), which a quarter of the samples still land on.
inline constexpr std::uint64_t kAddedVertexSamples = 16384;
inline constexpr std::uint64_t kAddedAreaSamples = 16384;

struct SurfaceDistanceReport {
    bool measured = false;
    std::uint64_t samples = 0;
    float largest = 0.0f;        // mm: the largest distance of a sample to the output
    Vec3 where;                  // the sample that lies farthest from the output
    float allowed = 0.0f;        // mm: a sample farther than this marks lost (or added) surface
    float triangleSize = 0.0f;   // mm: the triangle size of the stage that was measured
    // The other way, when measured both ways: the output's samples against the input.
    std::uint64_t addedSamples = 0;
    float added = 0.0f;          // mm: the largest distance of an output sample to the input
    Vec3 addedWhere;             // the output sample that lies farthest from the input
    // The triangle size was raised to the finest the part's own size allows.
    bool finest = false;
    // No remesh ran: the triangle size is the part's own, not a setting, and Remesh is what
    // makes it smaller.
    bool ownTriangles = false;
    // The farthest sample lies on a piece of the part (a group of bodies lying apart) of which
    // the output kept nothing: its box.
    bool pieceDropped = false;
    Vec3 droppedMin{};
    Vec3 droppedMax{};

    // Measured, and some of the input lies farther from the output than allowed.
    [[nodiscard]] bool Lost() const { return measured && largest > allowed; }
    // Measured, and some of the output lies farther from the input than allowed.
    [[nodiscard]] bool Added() const { return measured && added > allowed; }
    [[nodiscard]] bool Exceeded() const { return Lost() || Added(); }

    friend bool operator==(const SurfaceDistanceReport&, const SurfaceDistanceReport&) = default;
};

// The largest distance from the samples of `input` to the surface of `output`, through
// `outputTree` (built over `output`, corners kept or not). Lookups reach `allowed` first and
// search further only for samples with nothing within it. A sample buried in the output's
// solid counts unless its face lies inside the input's own solid, which is told through
// `inputTree` (over `input`), built here when none is given and a sample needs it.
// Unmeasured (measured false) when either mesh has no triangles, is inconsistent, or a tree
// does not fit its mesh. In parallel; the report is the same on any number of threads.
// Throws only on allocation failure.
[[nodiscard]] SurfaceDistanceReport MeasureSurfaceDistance(const TriangleMesh& input,
    const TriangleMesh& output, const AabbTree& outputTree, float allowed, const AabbTree* inputTree = nullptr);

// Both ways: the above, and the largest distance from the samples of `output` to `input`
// (`added`, `addedWhere`, `addedSamples`), through `inputTree`.
[[nodiscard]] SurfaceDistanceReport MeasureSurfaceChange(const TriangleMesh& input,
    const AabbTree& inputTree, const TriangleMesh& output, const AabbTree& outputTree, float allowed);

}  // namespace grainforge::mesh
