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
// number of pairs removed whole. Where the neighbours of one of the two agree with its winding
// and those of the other all disagree, the pair is a face with a flipped copy: only the copy
// goes, so a closed body stays closed, and it is counted in `flippedCopiesRemoved` (when given)
// instead. No vertex is removed.
std::uint64_t RemoveDoubleSkinnedPairs(TriangleMesh& mesh, std::uint64_t* flippedCopiesRemoved = nullptr);

// The faces a file holds more than once, removed before anything judges its edges:
// double-skinned pairs and flipped copies as RemoveDoubleSkinnedPairs takes them, then the
// copies left of each corner set (all but the first go). Both Mesh > Repair and the fixes of the Save STL check
// run it first, so a part written twice over is the same part to both.
struct RepeatedFacesReport {
    std::uint64_t duplicatesRemoved = 0;
    std::uint64_t doubleSkinnedPairsRemoved = 0;
    std::uint64_t flippedCopiesRemoved = 0;
    [[nodiscard]] bool Changed() const
    {
        return duplicatesRemoved != 0 || doubleSkinnedPairsRemoved != 0 || flippedCopiesRemoved != 0;
    }
};
[[nodiscard]] RepeatedFacesReport RemoveRepeatedFaces(TriangleMesh& mesh);

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
