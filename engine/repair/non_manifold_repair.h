// Repair passes for edges shared by more than two triangles and for surfaces that exist twice
// with opposite windings. Each pass runs on the calling thread, changes the mesh in place (or
// leaves it as it was) and returns a count for the caller's report. None recomputes normals;
// vertex copies carry the normal of the vertex they copy.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// What the passes over faces written more than once did. Counts are triangles unless named.
struct RepeatedFacesReport {
    std::uint64_t duplicatesRemoved = 0;          // copies wound the same way
    std::uint64_t doubleSkinnedPairsRemoved = 0;  // pairs removed whole
    std::uint64_t flippedCopiesRemoved = 0;       // the copy the face's neighbours disagree with
    std::uint64_t innerCopiesRemoved = 0;         // of a body written double-sided: the copy facing in
    // Pairs of a double-sided sheet standing alone, which encloses nothing, so neither copy
    // is the outside: left as they are, while the other pairs are mended.
    std::uint64_t pairsLeft = 0;
    std::vector<std::uint32_t> leftTriangles;  // both copies of each pair left, ascending, in the result
    [[nodiscard]] bool Changed() const
    {
        return duplicatesRemoved != 0 || doubleSkinnedPairsRemoved != 0 || flippedCopiesRemoved != 0
            || innerCopiesRemoved != 0;
    }
};

// Takes away one copy, or both, of each facet written with both windings (the same three
// corners). Where the neighbours of one copy agree with its winding and those of the other
// disagree, only that other copy goes (a flipped copy), and each such choice lets the next pair
// be judged, so a patch of flipped copies goes copy by copy. Where the neighbours agree with
// both (two bodies pressed face to face), or the pairs form a sheet hanging on the part, the
// pair goes whole. Pairs no single face reaches are a body written double-sided: where they
// close into a body, the copies that enclose it facing outward stay. A double-sided sheet
// standing alone encloses nothing: its pairs stay as they are, `pairsLeft` counts them and
// `leftTriangles` names them, and the rest is mended all the same. No vertex is removed;
// `duplicatesRemoved` stays 0.
[[nodiscard]] RepeatedFacesReport RemoveDoubleSkinnedPairs(TriangleMesh& mesh);

// The faces a file holds more than once, removed before anything judges its edges: the pairs
// as RemoveDoubleSkinnedPairs takes them, then the copies left of each corner set (all but the
// first go). Mesh > Repair, the fixes of the Save STL check and Process all run it first, so a
// part written twice over is the same part to each. With `pairsLeft`, the copies wound alike
// stay too: taking them would choose between the copies of a pair that was left.
[[nodiscard]] RepeatedFacesReport RemoveRepeatedFaces(TriangleMesh& mesh);

// Edges used by three or more triangles; 0 for an inconsistent mesh.
std::uint64_t CountNonManifoldEdges(const TriangleMesh& mesh);

// Gives each sheet that meets at a non-manifold edge its own copy of the shared vertices;
// returns the number of vertex copies added.
std::uint64_t SeparateNonManifoldEdges(TriangleMesh& mesh);

// Fallback: removes every triangle on a non-manifold edge, splits the vertices that fall
// apart and refills the holes; keeps the result only when it has fewer non-manifold edges and
// no more open edges. Returns the non-manifold edge count the mesh has afterwards. When the
// result is kept and `faceMap` is given, it gets for each triangle of the result the input
// triangle it continues (a filling triangle continues the one beside its hole); otherwise it
// is emptied, which means every triangle is where it was.
std::uint64_t FixNonManifoldEdges(TriangleMesh& mesh, std::vector<std::uint32_t>* faceMap = nullptr);

// The furthest SeparateNonManifoldEdges and FixNonManifoldEdges move a copy of a vertex from
// the vertex it copies in this mesh (a little over, for the rounding of the move): bodies whose
// corners lie this close were parted by a split, or touch.
[[nodiscard]] float LargestSplitStep(const TriangleMesh& mesh);

// Triangle indices of the run for `key` in a table sorted by key (BuildEdgeTable), in table
// order; empty when the key is absent.
std::vector<std::uint32_t> TrianglesOnEdge(const std::vector<EdgeRecord>& table, EdgeKey key);

}  // namespace grainforge::mesh
