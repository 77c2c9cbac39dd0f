// Detail-level simplification: lowers the triangle count of a mesh by edge collapses ordered
// by quadric error, until the cheapest collapse left would cost the detail level or more, a
// triangle target is met, or no candidate is left. The part stays standing on its bed, no
// triangle is turned over and the surface is never pinched; vertex and face maps let
// per-vertex and per-face data follow the result. Triangles with a repeated corner (no area)
// are dropped. Accepts any consistent indexed mesh; an inconsistent one (an index past the
// vertex list, a count not a multiple of 3) is given back untouched.
#pragma once

#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// The settings of one run. Lengths in millimetres.
struct MeshSimplifyOptions {
    // The detail level in square millimetres: the summed squared distance of a merged vertex
    // from the planes of the triangles it gathered. Collapses costing this or more are never
    // made, but round a fold the input held that the result would keep (see crossingsGiven),
    // or a crossing of the run's own that neither a repair at this level nor the input put back
    // takes away, where the few triangles round it merge at any cost; 0 or less leaves the mesh
    // untouched.
    // It is absolute, not relative to the part.
    float maximumError = 0.1f;
    // Stop when the live triangle count is at or below this; 0 means no target.
    std::uint64_t targetTriangles = 0;
    // Axis along which the part stands on the bed: 0 x, 1 y, 2 z, -1 none. Vertices on the
    // bed plane (the lowest coordinate) are held and no vertex may move onto it.
    std::int32_t bedAxis = 2;
    // No surviving triangle's normal may turn by more than this; clamped to 1 ... 179.
    float maximumNormalTurnDegrees = 78.0f;
    // Measure afterwards how far the input vertices lie from the result (in parallel).
    bool measureMovement = false;
    // One byte per triangle; the corners of every non-zero triangle are held, so the triangle
    // comes through unchanged. Ignored unless its length equals the triangle count.
    const std::vector<std::uint8_t>* protectedTriangles = nullptr;
    // When above 0, edges longer than this are never collapsed.
    float maximumEdgeMillimetres = 0.0f;
    // Refuse a merge that folds the surface over: two neighbouring triangles of its fan facing
    // more than 120 degrees apart where they did not before. The repair's local collapses, which
    // take crossings away, may pass through a fold to do it and leave this off.
    bool refuseFolds = true;
};

// What one run did.
struct MeshSimplifyReport {
    bool stopped = false;  // the callback asked to stop; the mesh is as it was given
    std::uint64_t trianglesBefore = 0;
    std::uint64_t trianglesAfter = 0;
    std::uint64_t verticesBefore = 0;
    std::uint64_t verticesAfter = 0;
    std::uint64_t collapses = 0;
    std::uint64_t refusedPinch = 0;       // would have pinched the surface
    std::uint64_t refusedTip = 0;         // would have made a triangle degenerate or turned it
    std::uint64_t refusedOther = 0;       // no allowed position, or a triangle laid onto the bed
    std::uint64_t verticesHeldOnBed = 0;  // protected corners are not counted
    float largestError = 0.0f;            // largest quadric error of a collapse made
    float detailLevel = 0.0f;             // the run's maximumError
    bool movementMeasured = false;
    float maximumMovementMillimetres = 0.0f;
    float averageMovementMillimetres = 0.0f;
    double seconds = 0.0;                 // 0 when nothing ran or the run was stopped
    // Runs made after the first because its result met itself or had a triangle without area:
    // repairs round those places, one on the input put back round them, the repairs again at
    // any cost, and at worst one more run over the whole mesh (see SimplifyMesh). Places where the input met itself apart on
    // the surface do not count.
    std::uint32_t reruns = 0;
    // Pairs of the first result's triangles (of the last, when the whole mesh was made again)
    // that meet where the input's met already, one side each. Those side by side, folds a relief
    // made, are mended round where they lie after the run's own faults; those apart on the
    // surface (a body through another) are left as they were and are no cause to run again.
    std::uint64_t crossingsGiven = 0;
    // Pairs of the result's triangles that still meet, counted only when some were given.
    std::uint64_t crossingsLeft = 0;
    std::vector<std::uint32_t> vertexMap;  // per result vertex: the input vertex it continues
    std::vector<std::uint32_t> faceMap;    // per result triangle: the input triangle it continues
};

// Simplifies `mesh` in place and reports what it did. The run's own crossings and the input's
// folds are mended round where they lie; an input's crossings apart on the surface (a body
// through another), and a fold that held vertices pin, are left and counted in crossingsLeft.
// The collapse loop runs on the calling thread; the initial edge costs and the movement
// measurement are worked out in parallel, and the result is the same on any number of threads. `progress` (may be empty) is called
// at the start and every 16384 collapse attempts (from the start again for each rerun); a
// false answer stops the run and leaves the mesh bit for bit as it was, with `stopped` set and
// both maps empty. Throws only on allocation failure (the mesh is then unchanged).
[[nodiscard]] MeshSimplifyReport SimplifyMesh(TriangleMesh& mesh, const MeshSimplifyOptions& options,
                                              const ProgressCallback& progress);

// Copies every field of `from` into `to`.
void AssignMeshSimplifyReport(MeshSimplifyReport& to, const MeshSimplifyReport& from);

// One line for the log: counts, share kept, movement, time, reruns, crossings given, held
// vertices, refusals.
[[nodiscard]] std::string FormatMeshSimplifyReport(const MeshSimplifyReport& report);

// "Extra high", "High", "Medium", "Low" or "Extra low" when `level` lies within a thousandth
// of 0.001, 0.01, 0.1, 0.5 or 1.0 (tested in single precision); empty otherwise.
[[nodiscard]] const char* DetailLevelName(float level);

}  // namespace grainforge::mesh
