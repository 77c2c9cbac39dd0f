// Contouring of the displaced solid: turns the sampled solid field into a closed triangle
// mesh by dual contouring. Every grid cell of a stored field block whose corners change sign
// gets one vertex per surface piece, placed by the error-minimising vertex solve of the
// contour cell module (grid axes x, y, z as its local axes 0, 1, 2), and every sign-changing
// grid edge gets two triangles joining the vertices of its four cells. The solid's inside
// (field below 0) lies behind the triangles, so a closed field gives an outward mesh.
//
// Also here: the removal of bodies thinner than one print line, which the solid displacement
// runs right after the contouring.
#pragma once

#include "engine/displacement/parallel_blocks.h"
#include "engine/displacement/solid_field.h"
#include "engine/repair/crumb_removal.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/contour_cells.h"

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// One body taken off the displaced solid, for the report: its box, its triangles and its
// signed volume (negative for an inward-facing shell, a void). The same record the crumb
// removal gives.
using RemovedPiece = CrumbRecord;

// An edge where two faces kept plain meet in a hollow, as the walls of a notch do: a concave
// crease (their normals more than 10 degrees apart, and not folded back onto each other). Its
// ends and the two faces' planes, a point p lying on plane k when normals[k] . p = offsets[k].
struct PlainCrease {
    Vec3d ends[2];
    Vec3d normals[2];
    double offsets[2] = {0.0, 0.0};
};

// The concave creases between faces kept plain (`plainFaces`, one flag per triangle of `mesh`)
// along edges used by exactly two triangles, in edge order. Empty for flags of another length
// or an inconsistent mesh.
std::vector<PlainCrease> FindPlainCreases(const TriangleMesh& mesh, const std::vector<std::uint8_t>& plainFaces);

// What one contouring is told and what it tells back.
struct SolidContourContext {
    // In: the largest number of triangles the result may have; the contouring refuses before
    // it places a vertex when the quads it counted would give more.
    std::uint64_t triangleLimit = ~std::uint64_t{0};
    // In: where faces kept plain meet in a hollow (FindPlainCreases), or null. The field's
    // distance outside such a crease bends on the line between the faces, so its crossings
    // there lie off the faces and the vertex solve placed the cell's vertex past both: the
    // vertex of a cell of one piece that crosses both faces of one crease goes to the nearest
    // point of the crease line within the cell.
    const std::vector<PlainCrease>* plainCreases = nullptr;
    // In: give the mesh its box and vertex normals. A caller that changes the mesh further and
    // computes both afterwards turns this off; the box is then left not valid and the normals
    // zero.
    bool boxAndNormals = true;

    // Out.
    std::uint64_t cellsContoured = 0;      // cells of stored blocks whose corners change sign
    std::uint64_t flippedCells = 0;        // of those, cells with a face resolved the other way
    bool contourHoles = false;             // a quad lacked a cell or a piece: reject the result
    std::uint64_t estimatedTriangles = 0;  // 2 per quad, known before any vertex is placed
    bool refused = false;                  // over the limit (or beyond 32-bit indices)
    std::uint64_t crossingPairs = 0;       // pairs of triangles the sharp vertices made cross
    std::uint64_t crossingPairsLeft = 0;   // of those, still crossing with the vertices eased
    double seconds = 0.0;                  // the contouring's own time
};

// Contours `field` into `mesh` (replaced). Vertices keep above `floorZ` (-1e30 for no floor),
// and a vertex in the cell that holds the floor lands on it when it lies within half a cell
// above it, so the solid stands on a flat base. `sharpness` goes to the vertex solve (1 keeps
// sharp features, 0 gives each piece's mass point); with `smoothDisplaced` a piece next to a
// displaced field point is solved with sharpness 0, which keeps a relief's vertices from
// spiking.
//
// Refusal: when 2 x quads exceeds context.triangleLimit, or the vertices would not fit 32-bit
// indices, `refused` is set with the estimate and the mesh is left empty; nothing large is
// allocated. A quad that misses a cell or a piece sets `contourHoles` (its triangles are left
// as zero indices) and the caller rejects the result. A field whose vectors do not match its
// counts is treated the same way, with an empty mesh.
//
// Runs in parallel blocks of `job` (none: cannot be stopped); a stop throws Stopped once the
// running loop ends, leaving `mesh` as it was. The mesh is the same on any number of threads.
void ContourSolidField(TriangleMesh& mesh, const SolidField& field, float floorZ, double sharpness,
    bool smoothDisplaced, SolidContourContext& context, JobProgressContext* job);

// Where the field's edge from grid point (x, y, z) to the next point along `axis` (0, 1, 2)
// crosses zero, as a fraction of the edge: f0 / (f0 - f1) clamped into [0, 1]; 0.5 when both
// ends read the same value, the result is not a number, or the axis is not 0, 1 or 2. A point
// beyond the grid reads as the far value outside.
double EdgeCrossingFraction(const SolidField& field, std::int64_t x, std::int64_t y,
    std::int64_t z, int axis);

// Takes off the bodies (triangles joined through shared vertices) that a printer cannot lay
// down, never a body of the part: of the bodies lying at one body of `source` (the mesh the
// relief was built from, LabelSourceBodiesAt; `sourceTree` a tree over it or null), the
// largest (IsLargerBody) goes on as that body however thin; each other one whose box is
// thinner than `lineWidth` on some axis is removed. The removed triangles are added to
// *trianglesRemoved and each body is appended to *pieces (its box, its triangles, its signed
// volume); either may be null. The remaining triangles keep their order and unused vertices
// are dropped. Returns the number of bodies removed; 0 and the mesh untouched when nothing is
// thin beside a larger body, `source` has no bodies or the mesh is inconsistent. Serial but
// for the nearest-point queries.
std::uint64_t RemoveUnprintablePieces(TriangleMesh& mesh, const TriangleMesh& source, const AabbTree* sourceTree,
    float lineWidth,
    std::uint64_t* trianglesRemoved, std::vector<RemovedPiece>* pieces);

// ---- The steps of the contouring, open for tests ------------------------------------------

// The cells of the stored blocks whose corners change sign, sorted by id, with what the later
// steps give them. Cell (x, y, z) spans grid points x..x+1, y..y+1, z..z+1 and has the id
// (z (cellsY) + y) cellsX + x.
struct ContourCellList {
    std::int64_t cellsX = 0;                   // pointsX - 1, and so on
    std::int64_t cellsY = 0;
    std::int64_t cellsZ = 0;
    std::vector<std::int64_t> ids;             // ascending
    std::vector<std::uint8_t> masks;           // bit c: corner c is inside (field below 0)
    std::vector<std::uint8_t> flips;           // faces resolved the other way
    std::vector<std::uint64_t> vertexOffsets;  // first vertex of each cell; one more at the end
    std::vector<std::uint64_t> quadOffsets;    // first quad of each cell; one more at the end

    std::array<std::int64_t, 3> Coordinates(std::size_t cell) const;
};

// Position of cell (x, y, z) in the list by binary search on its id, or -1 when the
// coordinates lie outside the cells or the cell is not listed.
std::int64_t FindContourCell(const ContourCellList& cells, std::int64_t x, std::int64_t y,
    std::int64_t z);

// Lists the sign-changing cells whose corner 0 lies in a stored block (flips zero, no offsets).
ContourCellList ListContourCells(const SolidField& field, JobProgressContext* job);

// Sets each cell's flips: a face that the cell joins is flipped when the neighbour across it
// joins it too, so the two cells resolve the face the same way.
void SetFlipBytes(ContourCellList& cells, JobProgressContext* job);

// Fills the vertex and quad offsets in list order; sets cellsContoured and flippedCells.
// Returns the vertex count; `quads` gets the quad count.
std::uint64_t NumberContourCells(ContourCellList& cells, SolidContourContext& context,
    std::uint64_t& quads);

// True (and the context marked refused with the estimate) when the quads would give more
// triangles than the limit, or the vertices more than 32-bit indices can name.
bool RefuseOversizedContour(std::uint64_t quads, std::uint64_t vertices, SolidContourContext& context);

// Distance, in cells, that a vertex of the cell at grid point `at` keeps from a face its piece
// touches, along each axis, from the float steps at that cell's own faces.
std::array<double, 3> ContourVertexMargins(const SolidField& field, const std::array<std::int64_t, 3>& at);

// The vertex of every piece of every cell, at the cell's vertex offsets (see
// ContourSolidField for floor, sharpness and smoothDisplaced).
std::vector<Vec3> PlaceContourVertices(const SolidField& field, const ContourCellList& cells,
    std::uint64_t vertexCount, float floorZ, double sharpness, bool smoothDisplaced,
    JobProgressContext* job, const std::vector<PlainCrease>* plainCreases = nullptr);

}  // namespace grainforge::mesh
