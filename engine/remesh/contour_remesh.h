// The dual-contouring remesh: rebuilds a part as a new, even triangulation on a regular grid.
// The triangles are rasterised exactly onto the grid lines of the three axes, inside and
// outside are decided along every line (winding numbers, so overlapping shells merge; parity
// on lines through a hole), every cell the surface passes through gets one vertex per surface
// piece, placed by a quadratic error function that keeps flat faces and sharp edges, and every
// sign-changing grid edge becomes a quad of the four cell vertices round it. The vertices are
// then projected back onto the input surface and stray bodies the part did not have are
// dropped.
//
// Input: any consistent triangle mesh. A closed one (self-intersections and overlapping shells
// allowed) gives a closed result; an open one is closed across its holes as the grid lines
// through the holes decide, and the report counts those lines.
#pragma once

#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Remeshes `mesh` by dual contouring with the cell ContourCellSize(mesh, settings). Reads only
// targetEdgeMillimetres and the dualContouring fields other than `manifold`.
// - Success: the mesh is replaced (bounds and vertex normals computed) and the report holds
//   the before and after figures, the cell, the stray bodies removed, the open grid lines,
//   the thin places, the deviation from the original and the stage times.
// - Invalid mesh or no triangles: the report holds the before-values; mesh unchanged.
// - Stopped through `progress` during the first four stages: `cancelled`; mesh unchanged.
// - Failed (`failed` with the reason): a vertex coordinate is NaN or infinite, the grid would
//   not fit in the available memory (checked before anything large is allocated; a part whose
//   extent overflows a float counts here), or contouring found an incomplete quad; mesh
//   unchanged.
// Runs in parallel; the result does not depend on the thread count. Out-of-memory reaches the
// caller as std::bad_alloc with the mesh unchanged.
[[nodiscard]] RemeshReport RemeshByContour(TriangleMesh& mesh, const RemeshSettings& settings,
    const ProgressCallback& progress);

// The grid: points at origin + i x cell; 2^latticeBits lattice units per cell.
struct ContourGrid {
    double origin[3] = {0.0, 0.0, 0.0};
    double cell = 1.0;
    double step = 1.0;                    // cell / 2^latticeBits
    std::int32_t count[3] = {0, 0, 0};    // cells per axis
    int latticeBits = 0;                  // at most 26
};

// The grid for a part with these bounds and this cell: a margin of cells round the part, the
// part's bottom half way between two grid planes, at most 2^30 lattice units across. Bounds or
// a cell that are not numbers give only the margin cells along the axes concerned, and no axis
// gets more than 2^28 cells.
ContourGrid SetUpContourGrid(Vec3 boundsMin, Vec3 boundsMax, double cell);

// Bytes the contouring of `mesh` on `grid` is expected to hold at its peak (lines, crossings,
// cells, vertices and triangles), from the part's projected areas; only the grid's share for
// an inconsistent mesh.
std::uint64_t EstimateContourBytes(const TriangleMesh& mesh, const ContourGrid& grid);

// Bytes of the result's vertex and its two triangles, per cell the surface passes through.
inline constexpr double kResultBytesPerSurfaceCell = 48.0;

// What the contouring of one grid holds: at its peak (EstimateContourBytes), and its result,
// which stays while the grids after it are contoured.
struct ContourFootprint {
    std::uint64_t peakBytes = 0;
    std::uint64_t resultBytes = 0;
};
ContourFootprint EstimateContourFootprint(const TriangleMesh& mesh, const ContourGrid& grid);

// Bytes the pieces of a part need at once when contoured one after the other in this order,
// each result kept and joined: the largest of each piece's peak plus the results before it
// (counted twice, as the joined result may be copied while it grows). Saturates.
std::uint64_t EstimateContourPiecesBytes(const std::vector<ContourFootprint>& pieces);

// Bytes the contour remesh of `source` (bounds computed) with `settings` is estimated to need
// at once: its grids laid as the remesh lays them, held as EstimateContourPiecesBytes holds
// them. The remesh refuses a part whose figure is over the available memory.
std::uint64_t EstimateContourRunBytes(const TriangleMesh& source, const RemeshSettings& settings);

// The edge length a memory refusal advises: the smallest found, at or above the one asked for,
// whose grids the estimate the remesh itself runs holds within `available` bytes, as
// RoundLengthUp writes it (each candidate is tried as it will be read). The asked edge when it
// fits already; 0 when no edge was found or `available` is 0 (unknown). `source` needs its
// bounds.
float AdviseContourCell(const TriangleMesh& source, const RemeshSettings& settings, std::uint64_t available);

// A vertex of the contour, with the box later steps must hold it in.
struct ContourVertex {
    Vec3 position;
    Vec3 normal;     // unit, or zero
    Vec3 boxMin;
    Vec3 boxMax;
    // Where the vertex goes when its own place would make the surface meet itself: the mean of
    // its piece's crossings, inside its cell and apart from the cell's other pieces.
    Vec3 fallback;
    Vec3 cellMin;    // its grid cell
    Vec3 cellMax;
    bool sharesCell = false;  // its cell holds more than one piece of surface
};

struct ContourResult {
    std::vector<ContourVertex> vertices;   // in cell order, then piece order
    std::vector<std::uint32_t> triangles;  // three indices each, two per sign-changing edge
    std::uint64_t openLines = 0;           // grid lines through a hole (all three axes)
    std::uint64_t thinPlaces = 0;          // places thinner than the cell
    std::uint64_t crossingsWithoutTriangle = 0;
    std::uint64_t unfoldedVertices = 0;    // moved back so that no triangles meet
    bool failed = false;                   // some quad lacked one of its four vertices
};

// Told each stage name; returning false stops the contouring.
using ContourStageCallback = std::function<bool(const std::string& stage)>;

// Contours the consistent `mesh` (its bounds valid) on `grid`. False when the stage callback
// asked to stop (result then incomplete); true otherwise, with `result.failed` telling whether
// the triangles are complete. An inconsistent mesh or one with a NaN or infinite coordinate
// gives true and an empty result without asking the callback.
bool ContourMesh(const TriangleMesh& mesh, const ContourGrid& grid, double sharpness,
    const ContourStageCallback& stage, ContourResult& result);

// Connected vertex groups: vertex count minus the successful unions over triangle corners
// (unused vertices count as pieces).
std::uint64_t CountMeshPieces(const TriangleMesh& mesh);

// Removes the bodies (joined through vertices) whose absolute volume is below
// clamp(threshold, 0, 1) x the largest body's absolute volume, then unused vertices.
void RemoveSmallBodies(TriangleMesh& mesh, float threshold);

}  // namespace grainforge::mesh
