// How much wall an inward relief leaves. A relief can eat into a wall from one side while the
// opposite surface stays, or moves towards it; a slicer lays no wall thinner than one line.
// For every vertex that moved inward, a ray along its inward normal finds the opposite
// surface, and the wall left is that distance minus how far both sides moved in.
//
// OppositeSurfaceDistances is the query, used twice: by the vertex displacement before it
// moves anything (to hold vertices that would thin a wall) and by MeasureWalls after it (the
// pipeline's "Measuring the walls" check). Lengths are millimetres.
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// The wall values of the pipeline's settings.
struct WallSettings {
    float lineWidthMillimetres = 0.42f;   // the printer's line width
    float thresholdMillimetres = 0.0f;    // thinnest acceptable wall; 0 or less: the line width,
                                          // never below kThinnestWallThreshold
    float minimumInwardMillimetres = 0.02f;  // smaller inward moves are not measured; a value
                                             // that is not a number counts as the default
};

// The threshold never drops below this, whatever the line width.
inline constexpr float kThinnestWallThreshold = 0.05f;

// The report keeps this many thinned places, the thinnest first.
inline constexpr std::size_t kWallPlacesKept = 8;

// One place where the relief thinned a wall.
struct WallPlace {
    Vec3 position;          // the vertex after the relief
    float wall = 0.0f;      // wall left, never below 0
    float distance = 0.0f;  // distance to the opposite surface before the relief
};

// A plain value: copied and assigned as it is.
struct WallReport {
    bool measured = false;
    std::string notMeasuredReason;       // why not (empty when measured)
    std::uint64_t candidates = 0;        // vertices moved inward with a surface within reach
    std::uint64_t thinnedPlaces = 0;     // walls the relief took below the threshold
    std::uint64_t alreadyThinPlaces = 0; // walls below the threshold before the relief too
    float thresholdMillimetres = 0.0f;   // threshold used
    float thinnestWall = 0.0f;           // smallest wall left at a thinned place (0: none)
    float thinnestWas = 0.0f;            // smallest distance before, among the thinned places;
                                         // may come from another place than thinnestWall
    std::vector<WallPlace> places;       // thinned places, thinnest wall first, at most 8
    double milliseconds = 0.0;
};

// One queried vertex.
struct OppositeSurfaceResult {
    std::uint8_t found = 0;
    float distance = 0.0f;  // from the vertex to the opposite surface along its inward normal
    float wall = 0.0f;      // wall left after both sides move in by their depths
};

// For each listed vertex, the opposite surface along its inward unit normal (from
// `mesh`'s vertex normals) within max(0, its depth) + `reach`; the ray steps past the vertex's
// own triangles up to six times. `tree` is built over `mesh`; `depths` has one planned inward
// depth per vertex of the mesh (positive inward), and the wall is the distance less the
// vertex's depth and the mean depth of the hit triangle's corners. Every result is not found
// when the depths do not have one entry per vertex; so is a listed index out of range, a zero
// normal, and any reach that is not a number. Runs in parallel; the same on any thread count.
[[nodiscard]] std::vector<OppositeSurfaceResult> OppositeSurfaceDistances(const TriangleMesh& mesh,
    const AabbTree& tree, const std::vector<std::uint32_t>& vertices, const std::vector<float>& depths,
    float reach);

// The same, with the mesh's vertex-to-triangle index (BuildVertexAdjacency) already at hand.
// An index that does not fit the mesh is built again.
[[nodiscard]] std::vector<OppositeSurfaceResult> OppositeSurfaceDistances(const TriangleMesh& mesh,
    const AabbTree& tree, const std::vector<std::uint32_t>& vertices, const std::vector<float>& depths,
    float reach, const VertexAdjacency& vertexFaces);

// Measures the walls a vertex displacement left. `before` is the mesh given to
// ApplyDisplacement, `after` its result, `weights` the texture weights it used and
// `displacementReport` its report (its clearance and labelled tree over `before`).
//
// Not measured, with the reason:
// - "the meshes do not match": `after` has no vertex or no triangle, the counts of the two
//   meshes differ, the weights do not have one entry per vertex, an index is bad, or the
//   report's tree was not built over a mesh of `before`'s size;
// - "the displacement kept no clearance: one smooth region, or the clearance limit off".
// Otherwise the vertices of positive weight that moved inward by at least the minimum and had
// a surface within clearance reach are the candidates; a candidate whose wall left is under
// the threshold is a thinned place when it was not under it before, else an already thin one.
// The queries run in parallel; the report is the same on any thread count.
[[nodiscard]] WallReport MeasureWalls(const TriangleMesh& before, const TriangleMesh& after,
    const std::vector<float>& weights, const DisplacementReport& displacementReport,
    const WallSettings& settings);

// How thick a part's walls are where a remesh meets them: from the centre of each triangle the
// distance inward along its normal to the surface opposite. A part whose wall tapers (a blade)
// is as thick as its root over much of its surface, while twice its volume over its area, the
// mean, comes to about half that: a remesh whose triangles lie between the two keeps the part,
// so a thickness a refusal names and advises from is measured here.
struct WallThickness {
    bool measured = false;   // some triangle found the surface opposite
    // The thickness that the walls under half of the measured surface (by area) reach or pass.
    float half = 0.0f;
    float thickest = 0.0f;   // the thickest wall measured
};

// The walls of `mesh` (a closed part; a part that encloses a negative volume is measured the
// other way round): one ray a triangle, at most kWallThicknessSamples triangles spread evenly
// over the part; triangles of no area and rays that leave the part are not counted. Runs in
// parallel; the same on any thread count.
inline constexpr std::size_t kWallThicknessSamples = 200000;
[[nodiscard]] WallThickness MeasureWallThickness(const TriangleMesh& mesh);

// "walls not measured: " and the reason; or the thinned places with the thinnest wall and what
// it was; or the places already under the threshold; or that no wall was thinned. Two decimals.
std::string FormatWallReport(const WallReport& report);

// The pipeline report's line, ending in "\n": "Walls after the relief: " with the candidates
// and the time, or "Walls: not measured (" with the reason.
std::string FormatWallsLine(const WallReport& report);

}  // namespace grainforge::mesh
