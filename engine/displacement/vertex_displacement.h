// The "mesh" relief: every vertex of a finished, remeshed part moves along its normal by the
// height the map gives through the projection cage, scaled by the vertex's texture weight.
// Guards keep the result printable: a move is limited by the clearance to the nearest surface
// of another smooth region (so slots and thin walls are not closed or cut through), vertices
// on creases move along the mitre direction so that every face round them shifts by the same
// depth, vertices whose inward move would thin a wall below the threshold can be held, a
// fold guard eases back triangles the relief turned over or folded onto a neighbour (their
// normals more than 120 degrees apart), and a flat base can be kept level.
//
// The input is an indexed mesh with vertex normals (the remesh computes them); a vertex with
// a zero normal has no direction and does not move. Lengths are millimetres.
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/projection.h"
#include "engine/displacement/tile_frame.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Moves the vertices of `mesh` in place by the relief and recomputes its box and normals.
//
// `weights` has one texture weight per vertex (0 to 1; a weight that is not a positive number
// counts as 0 and leaves its vertex exactly where it was). `surfaceFlags`, when given, holds
// one outer mask byte per triangle (255 outer, 0 inner) for the projection's surface settings;
// `extent`, when on, limits the texture to its one rectangle (both need the flags, see
// SampleVertexHeights).
//
// Refused, with the mesh untouched and a report that only carries `vertexCount` (its text then
// reads "Displaced 0 of N vertices"): an index count that is not a multiple of 3, an index out
// of range, no vertices, a vertex coordinate that is not finite, an empty map, or weights
// that do not have one entry per vertex.
//
// On success the report counts what each guard did and times every stage; with two smooth
// regions or more and the clearance limit on it also keeps the per-vertex clearance and the
// labelled tree over the input, for MeasureWalls. A height, weight or normal that is not
// finite moves nothing. The mesh's triangles are never changed.
//
// `plainFaces`, when it holds one flag per triangle (FacesKeptPlain), names the faces that stay
// in their planes: a vertex on the rim of such a face moves only within the face's plane (the
// part of its move along the face's normal is dropped, through the fold guard too), unless a
// textured face round it lies within the crease angle of that plane; such a rim, keeping no
// plane, stops halfway to the far edge of each plain triangle round it. Once the moves are done
// (after the fold guard), a plain triangle that a rim corner could lay over a plain neighbour
// and that kept less than half its area, measured along its starting normal, has its rim
// corners' moves halved until it keeps that share (put back after four halvings); rim vertices
// moving together are not held. Other lengths are ignored.
//
// The sampling and the clearance and wall queries run in parallel; the result is the same on
// any number of threads. It cannot be stopped; allocation failure propagates.
//
// `searchForTheCheck`: the result goes to the check as it is (no simplify after), so the
// crossing guard's first search covers the whole mesh and is kept in the report
// (`crossingSearch`) for the check to take over; otherwise it searches only round what moved and
// keeps nothing. The moves are the same either way.
[[nodiscard]] DisplacementReport ApplyDisplacement(TriangleMesh& mesh, const Projection& projection,
    const HeightMap& map, const std::vector<float>& weights, const DisplacementSettings& settings,
    const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent,
    const std::vector<std::uint8_t>* plainFaces = nullptr, bool searchForTheCheck = true);

// The map value that gives no movement. Manual mode, or an empty map: `settings.midLevel`.
// Automatic mode: the levelled 1st percentile for "outward", the 99th for "inward", and for
// "centred" the map's own mid value through its levels (0.5 when it carries none).
[[nodiscard]] float ResolveMidLevel(const HeightMap& map, const DisplacementSettings& settings);

// One signed height in millimetres per vertex: (value - mid level) x strength, negated when
// inverted, kept to one sign by "outward" and "inward". A height that comes out non-finite (a
// NaN strength or mid level) is 0. An empty map gives all zeros.
//
// Each vertex samples the projection at its own position and normal, unless `surfaceFlags`
// gives one byte per triangle of a consistent mesh and either the tile `extent` is on or a
// surface setting the projection kind reads is not "both"; then every triangle corner samples
// with its triangle's flag (inside the extent only) and a vertex takes the mean of its
// corners' values weighted by triangle area and coverage. Runs in parallel.
[[nodiscard]] std::vector<float> SampleVertexHeights(const TriangleMesh& mesh, const Projection& projection,
    const HeightMap& map, const DisplacementSettings& settings,
    const std::vector<std::uint8_t>* surfaceFlags, const TileFrame& extent);

// The levelled map value at a mapped surface point: the weighted mean over its samples of
// positive weight, else the value at its strongest sample; 0 for an empty map.
[[nodiscard]] float SampleProjectedHeight(const HeightMap& map, const ProjectionSamples& samples);

// The fold test of one triangle with corners a, b, c (where they are now) whose unit normal
// before the move was `startNormal`: false when that normal is zero; true when the triangle
// has collapsed to no area, or when its normal now leans further than the tilt whose cosine
// is given (which includes turning over).
[[nodiscard]] bool TriangleFoldsOver(Vec3 a, Vec3 b, Vec3 c, Vec3 startNormal, float cosineOfTilt);

// Books the time since the previous call to the previous stage name of the displacement's
// report and starts `name`; an empty name closes the last stage. The same timer as the remesh.
void RecordDisplacementStage(StageTimer& timer, const std::string& name);

}  // namespace grainforge::mesh
