// Keeping slots, gaps and thin channels open under the relief of the solid displacement. A
// vertex that moves outward may not grow into the opposite wall across the air, and a vertex
// that moves inward may not cut through to the other side of the material. Two steps, in this
// order: MeasureClearanceRays finds, for every vertex, the open distance in the direction it
// will move; HoldHeightsForClearance turns those distances into height limits, spreads small
// limits to the neighbours over the mesh's edges and clips the heights.
//
// Heights are one per vertex, in mm: positive moves the vertex outward along its normal,
// negative inward. Both steps take any input: an inconsistent mesh (index count not a multiple
// of three, an index out of range), or heights of another length than the vertices, is measured
// as open everywhere and held not at all.
#pragma once

#include "engine/displacement/parallel_blocks.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>
#include <vector>

namespace grainforge::mesh {

// The open distance of a vertex whose rays found nothing facing back at it.
inline constexpr float kOpenDistance = 1e30f;

// How each vertex probes the space it moves into.
struct ClearanceRaySettings {
    // 5: one ray along the movement and four side rays, towards both tangents and their
    // opposites. Any other value: three rays, the side pair towards the first tangent on
    // even-numbered vertices and towards the second on odd ones, so that neighbours between
    // them probe both directions. Callers pass `clearanceRays` of the solid displacement.
    std::uint32_t rays = 3;
    // Tilt of the side rays away from the direction of movement (30 degrees), as its cosine
    // and sine. A side ray's hit distance is scaled by the cosine to a distance along the
    // movement.
    float sideCosine = 0.8660254f;
    float sideSine = 0.5f;
    // Rays look this far (mm, along the ray) and no farther; space beyond counts as open.
    // kOpenDistance: no bound. The solid displacement bounds them where a farther surface
    // could hold no height back (ClearanceRayReach), which spares the long rays through a
    // part's inside.
    float reach = kOpenDistance;
};

// The shortest ray reach with which HoldHeightsForClearance holds exactly the heights it holds
// with unbounded rays: a surface farther along than twice the largest |height| plus the
// clearance allows every height in full. Doubled again against rounding. kOpenDistance when
// the figures are not finite or the side rays are tilted (almost) flat.
[[nodiscard]] float ClearanceRayReach(std::span<const float> heights, float clearance,
    const ClearanceRaySettings& settings);

// Open distances per vertex, mm, along the direction each vertex moves. A vertex writes only
// the entry of its own direction; every other entry stays kOpenDistance.
struct OpenDistances {
    std::vector<float> outward;  // for heights above 0
    std::vector<float> inward;   // for heights below 0

    friend bool operator==(const OpenDistances&, const OpenDistances&) = default;
};

// Casts the rays of every vertex whose height is not 0 from just off its position, along its
// unit normal (height above 0) or against it (below 0), plus the tilted side rays, through
// `tree` (built over `mesh`). A hit counts only where the surface hit faces back towards the
// vertex (unit face normal . vertex normal <= -0.5); the vertex's open distance is the smallest
// counted distance along its movement. Both vectors come back with one entry per vertex.
// Vertices that cast no rays: a height of 0, a height that is not finite (it has no
// direction), a normal of (near) zero length or not finite, a position that is not finite.
// Heights of another length than the vertices, or an inconsistent mesh, leave every vertex
// open. Runs as parallel blocks of kClearanceRaysBlock vertices; the result does not depend on
// the thread count. With a `job` (may be null) the blocks poll it for a stop and throw Stopped.
[[nodiscard]] OpenDistances MeasureClearanceRays(const TriangleMesh& mesh, const AabbTree& tree,
    std::span<const float> heights, const ClearanceRaySettings& settings, JobProgressContext* job);

// Limits every height by half the room left in front of its vertex once the clearance is kept
// open: limit = max((d - clearance) x 0.5, 0) for an open distance d that found a surface,
// with d the outward distance for heights >= 0 and the inward one otherwise. A limit then
// spreads to the neighbours, growing by the length of each edge (six passes over the
// triangles' edges in index order, in place), and every height whose size exceeds its
// vertex's limit is cut to it, keeping its sign. Two facing walls d apart thus keep at least
// `clearance` between their reliefs.
// - `clearance`, mm: a negative or NaN value is taken as 0.
// - A height that is not finite is set to 0 (and counted): it can neither be measured nor held.
// - Edges of a length that is not finite (a vertex out of reach) carry no limit.
// Returns the number of heights changed. Distances or heights of another length than the
// vertices, or an inconsistent mesh: heights unchanged, 0. Serial; it cannot be stopped.
[[nodiscard]] std::uint64_t HoldHeightsForClearance(const TriangleMesh& mesh, const OpenDistances& distances,
    float clearance, std::span<float> heights);

}  // namespace grainforge::mesh
