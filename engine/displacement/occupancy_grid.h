// Outer and inner surfaces of a part. Faces that nobody sees (the inside of a hollow, faces
// closed in by other faces) should not be textured when the user asks for the outside only,
// so every triangle gets a surface class: the part's surface is voxelised into a byte grid,
// and from each triangle's centroid a ray runs along its normal through the grid. A triangle
// whose ray leaves the grid is outer; one whose ray runs into the surface again is inner.
//
// Any triangle mesh is accepted: it need not be closed or manifold. The grid must be built
// from the same mesh that is classified. A mesh that fails TriangleMesh::IsConsistent, has no
// vertices or has coordinates that are not finite numbers gives an empty grid, and an empty
// grid classifies every triangle as outer (the safe answer: texture where unsure).
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Surface classes, one byte per triangle.
inline constexpr std::uint8_t kSurfaceInner = 0;
inline constexpr std::uint8_t kSurfaceOuter = 1;
inline constexpr std::uint8_t kSurfaceDegenerate = 2;  // no usable normal

// Limits of the requested resolution (cells along the part's longest side).
inline constexpr std::int32_t kMinOccupancyResolution = 16;
inline constexpr std::int32_t kMaxOccupancyResolution = 1024;

// Empty cells added to the count on each axis; origin and rounding leave at least two on
// every side, so that a ray from an outer face starts in empty space.
inline constexpr std::int32_t kOccupancyMarginCells = 5;

// Why a grid holds what it holds. Every status but `built` leaves the grid empty.
enum class OccupancyGridStatus : std::int32_t {
    notBuilt = 0,              // never built
    built = 1,
    emptyMesh = 2,             // the mesh has no vertices
    invalidMesh = 3,           // index count not a multiple of three, or an index out of range
    coordinatesNotFinite = 4,  // a vertex coordinate is NaN or infinite
    extentTooLarge = 5,        // the part's extent overflows single precision
    notEnoughMemory = 6,       // the cells would not fit in the available memory
};

// A byte grid of cubic cells around a part. Cell (x, y, z) is cells[(z ny + y) nx + x].
// An empty grid (nx = 0, no cells, zero report fields) classifies every triangle as outer.
struct OccupancyGrid {
    std::int32_t resolution = 0;  // requested cells along the longest side, clamped to 16..1024
    // Report copies of the cell counts and the cell size. After a memory refusal they describe
    // the grid that was refused (nx stays 0); after any other refusal they are zero.
    std::uint32_t cellsX = 0;
    std::uint32_t cellsY = 0;
    std::uint32_t cellsZ = 0;
    float cellMillimetres = 0.0f;
    std::uint64_t filledCells = 0;   // cells holding 1
    double buildMilliseconds = 0.0;  // time of the build
    std::vector<std::uint8_t> cells;  // 0 empty, 1 touched by the surface
    Vec3 origin;                      // world position of the corner of cell (0, 0, 0)
    float cellSize = 0.0f;            // edge of a cubic cell, mm
    std::int32_t nx = 0;
    std::int32_t ny = 0;
    std::int32_t nz = 0;
    OccupancyGridStatus status = OccupancyGridStatus::notBuilt;
    std::uint64_t refusedBytes = 0;    // notEnoughMemory: bytes the cells needed
    std::uint64_t availableBytes = 0;  // notEnoughMemory: bytes that were available
    // Grids of the pieces that lie far from the largest (the one above), each with the resolution
    // asked along its own longest side but cells no finer than the largest piece's (at least
    // 16 along that side); empty for a part whose bodies lie near each other.
    std::vector<OccupancyGrid> apart;
};

// Optional output of the classification.
struct SurfaceClassReport {
    std::uint64_t triangles = 0;
    std::uint64_t outerTriangles = 0;
    std::uint64_t innerTriangles = 0;
    std::uint64_t otherTriangles = 0;  // degenerate: class kSurfaceDegenerate
    double outerArea = 0.0;            // mm²
    double innerArea = 0.0;            // mm²
    double milliseconds = 0.0;         // time of the whole classification
};

// Rebuilds `grid` in place from `mesh` at `requestedResolution` cells along the longest side
// (clamped to 16..1024; a flat part's thin axis gets the margin only). The old cells are
// released first. Bounds are the mesh's stored box when it is marked current and finite,
// otherwise the box of all vertices; triangles outside a stale stored box are clipped to the
// grid. A grid whose cells would not fit in the available memory (AvailableMemoryBytes) is
// refused before anything large is allocated. Refusals leave the grid empty and say why in
// `status`. The rasterisation runs in parallel over slabs of z layers, each writing only its
// own layers, so the cells are the same on any number of threads; it tests only the cells near
// each triangle, so a slanted sliver costs the cells it crosses, not those of its box (the
// cells marked are those a test of every cell in the box marks). Cannot be stopped. Where one
// grid at the resolution along the largest piece's side would need more than 1024 cells to
// reach a piece that lies apart, the largest piece fills the grid and every other piece gets
// a grid of its own in `apart`, with cells no finer than the largest piece's (a small piece
// needs no more cells across it than the part has there); all of them together must fit in the
// available memory, and a refusal of any of them refuses the whole.
// Allocation failure propagates as std::bad_alloc.
void BuildOccupancyGrid(OccupancyGrid& grid, const TriangleMesh& mesh, std::int32_t requestedResolution);

// The same with the available memory given: `availableBytes` of 0 means unknown (no limit).
void BuildOccupancyGrid(OccupancyGrid& grid, const TriangleMesh& mesh, std::int32_t requestedResolution,
                        std::uint64_t availableBytes);

// One class per triangle: kSurfaceOuter when the ray from the centroid along the face normal,
// started one cell off the surface, leaves the grid without meeting the surface again (up to
// three occupied cells before the first empty one count as the triangle's own surface; the
// ray runs in the grid that holds the centroid, the part's own or a piece's in `apart`),
// kSurfaceInner when it meets it, and kSurfaceDegenerate when the triangle has no usable
// normal (cross product of length 1e-12 or less, or not finite). An empty grid (also one whose
// cells do not match its counts), an inconsistent mesh or a mesh with coordinates that are not
// finite numbers gives all kSurfaceOuter and leaves `report` as it was; otherwise `report`
// (when given) is overwritten with the counts and areas. Runs in parallel over triangles; the
// result is the same on any number of threads. `grid` is only read.
[[nodiscard]] std::vector<std::uint8_t> ClassifyOuterSurface(const OccupancyGrid& grid, const TriangleMesh& mesh,
                                                             SurfaceClassReport* report = nullptr);

// "Occupancy grid: 21 x 21 x 21 cells of 1.25 mm, 1234 on the surface, built in 3.5 ms"
// (numbers with the stream's default formatting: six significant digits, no grouping), or
// "Occupancy grid: not built: " and the reason for an empty grid.
[[nodiscard]] std::string FormatOccupancyGrid(const OccupancyGrid& grid);

// Separating-axis test of triangle (a, b, c) against the axis-aligned cube of half edge
// `halfSize` around `centre`. Touching counts as overlapping.
[[nodiscard]] bool TriangleBoxOverlap(Vec3 centre, float halfSize, Vec3 a, Vec3 b, Vec3 c);

}  // namespace grainforge::mesh
