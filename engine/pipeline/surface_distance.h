// How far a part's surface lies from what a stage made of it. A remesh or a contoured relief
// can drop features thinner than its triangles without a word; this measure finds the input's
// surface points that no longer have any of the output nearby.
//
// The input surface is sampled (its vertices, strided down to a bounded count, and a fixed
// number of points spread over its area) and each sample's distance to the output surface is
// looked up in a bounding-volume tree over the output. Only one side is measured: surface the
// output adds (a relief, closed holes) is no loss, and neither is input surface that lies inside
// the output's solid (the inner faces of overlapping shells, which a contour merges away).
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

struct SurfaceDistanceReport {
    bool measured = false;
    std::uint64_t samples = 0;
    float largest = 0.0f;        // mm: the largest distance of a sample to the output
    Vec3 where;                  // the sample that lies farthest from the output
    float allowed = 0.0f;        // mm: a sample farther than this marks lost surface
    float triangleSize = 0.0f;   // mm: the triangle size of the stage that was measured

    // Measured, and some of the input lies farther from the output than allowed.
    [[nodiscard]] bool Exceeded() const { return measured && largest > allowed; }

    friend bool operator==(const SurfaceDistanceReport&, const SurfaceDistanceReport&) = default;
};

// The largest distance from the samples of `input` to the surface of `output`, through `tree`
// (built over `output`, corners kept or not). Lookups reach `allowed` first and search further
// only for samples with nothing within it that lie outside the output (counted as 0 inside). Unmeasured (measured false) when either mesh has no
// triangles, is inconsistent, or the tree does not fit `output`. In parallel; the report is the
// same on any number of threads. Throws only on allocation failure.
[[nodiscard]] SurfaceDistanceReport MeasureSurfaceDistance(const TriangleMesh& input,
    const TriangleMesh& output, const AabbTree& tree, float allowed);

}  // namespace grainforge::mesh
