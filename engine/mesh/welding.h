// Passes that turn a triangle soup into an indexed mesh fit for the other operations: the
// exact and the tolerance weld, and the removal of degenerate, duplicate and unused elements.
// Every pass works in place and returns how many elements it merged or removed. A mesh that
// fails TriangleMesh::IsConsistent is left untouched and the count is 0, and so is a mesh of
// 2^31 vertices or more (the passes keep 32-bit vertex maps); nothing throws but allocation
// failure. A pass that changes nothing leaves the mesh's arrays as they were.
//
// Except the tolerance weld, the passes run in parallel; each one's result is fixed by its
// definition (first occurrence in index order keeps), so it is the same on any thread count.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>

namespace grainforge::mesh {

// Merges vertices whose positions are bitwise equal (with -0 taken as +0). Vertices are taken
// in index order; the first at a position is kept whole (position and normal) and the kept
// ones keep their relative order. Returns the number of vertices removed; a mesh where nothing
// merges is not touched.
std::uint64_t WeldIdenticalVertices(TriangleMesh& mesh);

// True when WeldIdenticalVertices would merge something: two vertices have bitwise equal
// positions (-0 taken as +0). One hash pass, without copying the mesh.
bool HasCoincidentVertices(const TriangleMesh& mesh);

// The mesh WeldIdenticalVertices makes of the soup whose vertex i is corners[i] (normal zero)
// and whose indices are 0, 1, 2, ..., built without making the soup. An empty mesh when the
// corners do not make whole triangles or number 2^31 or more.
TriangleMesh WeldCorners(std::span<const Vec3> corners);

// The automatic tolerance of WeldVerticesWithin, and of every weld or collapse threshold taken
// from a part, for a part whose largest absolute coordinate is `largestMagnitude` and whose
// box's largest side is `largestExtent`: 1e-6 of the largest coordinate, but never more than
// 1e-6 of twice the part's largest side, and never below 1e-6. A part within its own size of
// the origin keeps the tolerance it always had; one placed far out gets one that follows its
// own size, not its distance, which would weld its details away. No float-step floor: where
// the float steps are coarser than a millionth of the part's size (0.0625 mm at 1e6 mm, for
// any part under 31 m) the tolerance stays below one step, so corners that float keeps apart
// are never joined.
float AutomaticWeldTolerance(float largestMagnitude, float largestExtent);

// AutomaticWeldTolerance of the box of the mesh's finite vertex positions (computed here, not
// the cached box); 0 without a finite vertex. A non-finite coordinate is left out: it would
// make the tolerance infinite and weld the whole part into one point.
float AutomaticWeldToleranceOf(const TriangleMesh& mesh);

// Merges each vertex, in index order, into the first kept vertex found within `tolerance` mm
// (searching the 27 neighbouring grid cells of size `tolerance`); greedy and order-dependent,
// hence serial; kept positions never move. A tolerance of 0 runs WeldIdenticalVertices; a
// negative or NaN one reaches nothing (0, mesh untouched). Cell numbers beyond +-2^62 (a huge
// coordinate over a tiny tolerance) are clamped rather than overflowed. Returns the number of
// vertices removed.
std::uint64_t WeldVerticesWithin(TriangleMesh& mesh, float tolerance);

// Drops triangles with a repeated index and, unless `indicesOnly`, those whose cross product
// has zero length. Kept triangles stay in order; vertices are not touched. Returns the number
// of triangles dropped.
std::uint64_t RemoveDegenerateTriangles(TriangleMesh& mesh, bool indicesOnly);

// Number of triangles whose sorted index triple appeared earlier (a reverse-wound twin counts).
std::uint64_t CountDuplicateTriangles(const TriangleMesh& mesh);

// Drops the triangles CountDuplicateTriangles counts, keeping the first of each index triple.
std::uint64_t RemoveDuplicateTriangles(TriangleMesh& mesh);

// Drops vertices no index names and renumbers the rest densely in order. Returns the number
// dropped.
std::uint64_t RemoveUnusedVertices(TriangleMesh& mesh);

}  // namespace grainforge::mesh
