// The pieces of a part that lie apart, for the grids laid over it. One grid over the box of
// everything holds at most kMostCellsAcross cells along its longest side, so a small body far
// from the rest would make every cell coarse; the bodies that lie apart each get a grid of
// their own instead, at the cell asked for.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// Cells across the longest side of one contour grid at most; a little below 4096 to leave the
// grid's margins.
inline constexpr float kMostCellsAcross = 4088.0f;

// Grid cells between two groups of triangles laid in grids of their own: their contours keep
// within a cell or two of their surfaces, so they never reach each other.
inline constexpr float kClusterGapCells = 4.0f;

// A group of triangles that lies apart from the others: ascending triangle numbers and the box
// of their corners.
struct MeshCluster {
    std::vector<std::uint32_t> triangles;
    Vec3 boundsMin;
    Vec3 boundsMax;
};

// The groups of `mesh`'s triangles that lie apart: cut wherever a gap of more than `gap` mm
// along one axis separates the triangles' boxes, again within each part until nothing cuts.
// Triangles that share a corner always share a group. Ordered by their first triangle; one
// group for a mesh that nothing cuts, none for an inconsistent mesh, one without triangles or
// one with a coordinate that is not a finite number.
std::vector<MeshCluster> FindMeshClusters(const TriangleMesh& mesh, float gap);

// The cell of a grid over a box of this extent: `cell`, raised to the longest side /
// kMostCellsAcross when that is larger.
float GridCellFor(Vec3 extent, float cell);

// The groups of `mesh` that take a grid each at `cell`: the groups that lie more than
// kClusterGapCells of their coarsest cell apart, where one grid over the whole box could not
// hold the part at `cell`. None when one grid holds it (or the box is not valid), and none when
// no gap cuts a part too large for the cell: such parts are laid out as they always were.
std::vector<MeshCluster> ClustersNeedingOwnGrids(const TriangleMesh& mesh, float cell);

// The mesh of one group: its triangles in order and the vertices they use, in order of first
// use; the box computed. `sourceVertices`, when given, receives each vertex's number in `mesh`.
TriangleMesh ClusterMesh(const TriangleMesh& mesh, const MeshCluster& cluster,
    std::vector<std::uint32_t>* sourceVertices = nullptr);

// Appends `part`'s vertices and triangles to `mesh`; the box is left to the caller.
void AppendMesh(TriangleMesh& mesh, const TriangleMesh& part);

}  // namespace grainforge::mesh
