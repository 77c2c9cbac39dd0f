// Repair passes for edges shared by more than two triangles and for surfaces that exist twice
// with opposite windings. Each pass runs on the calling thread, changes the mesh in place (or
// leaves it as it was) and returns a count for the caller's report. None recomputes normals;
// vertex copies carry the normal of the vertex they copy.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// Removes pairs of triangles with the same three corners and opposite windings; returns the
// number of pairs removed. No vertex is removed.
std::uint64_t RemoveDoubleSkinnedPairs(TriangleMesh& mesh);

// Edges used by three or more triangles; 0 for an inconsistent mesh.
std::uint64_t CountNonManifoldEdges(const TriangleMesh& mesh);

// Gives each sheet that meets at a non-manifold edge its own copy of the shared vertices;
// returns the number of vertex copies added.
std::uint64_t SeparateNonManifoldEdges(TriangleMesh& mesh);

// Fallback: removes every triangle on a non-manifold edge, splits the vertices that fall
// apart and refills the holes; keeps the result only when it has fewer non-manifold edges and
// no more open edges. Returns the non-manifold edge count the mesh has afterwards.
std::uint64_t FixNonManifoldEdges(TriangleMesh& mesh);

// Triangle indices of the run for `key` in a table sorted by key (BuildEdgeTable), in table
// order; empty when the key is absent.
std::vector<std::uint32_t> TrianglesOnEdge(const std::vector<EdgeRecord>& table, EdgeKey key);

}  // namespace grainforge::mesh
