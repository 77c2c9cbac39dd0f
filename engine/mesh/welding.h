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
#include <vector>

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

// The tolerance of one piece of a part whose largest absolute coordinate is `largestMagnitude`
// and whose box's largest side is `largestExtent`: 1e-6 of the largest coordinate (some eight
// float steps there), but never more than 1e-6 of twice the piece's largest side, and never
// below 1e-6. A piece within its own size of the origin keeps the tolerance it always had; one
// placed far out gets one that follows its own size, not its distance, which would weld its
// details away. No float-step floor: where the float steps are coarser than a millionth of the
// piece's size (0.0625 mm at 1e6 mm, for any piece under 31 m) the tolerance stays below one
// step, so corners that float keeps apart are never joined.
float AutomaticWeldTolerance(float largestMagnitude, float largestExtent);

// Asks a weld or collapse (the STL reader, TidyMesh, CleanupForExport) for each vertex's own
// tolerance, LocalWeldTolerances, instead of one given distance.
inline constexpr float kAutomaticWeldTolerance = -1.0f;

// The automatic tolerance at every vertex: AutomaticWeldTolerance of the piece it belongs to,
// never of the whole file, so a stray facet or a second body far away leaves the rest welded
// as it would be alone. A piece is what triangles with area and bitwise equal positions join;
// a triangle without area joins nothing and lends no span, and a vertex on none with area
// (or with a non-finite coordinate, which is left out of every measure) gets 1e-6. On a part
// of one piece every vertex gets the tolerance of the part's own box. All 1e-6 for a mesh
// that fails TriangleMesh::IsConsistent or has 2^31 vertices or more. The piece search joins
// triangles serially (a union-find), after a parallel pass over the positions.
std::vector<float> LocalWeldTolerances(const TriangleMesh& mesh);

// No vertex's LocalWeldTolerances exceeds this (the rule over the box of every finite vertex,
// which holds each piece's box): one pass over the vertices that tells whether the piece
// search can matter at all. Never a tolerance to weld with.
float LocalWeldTolerancesBound(const TriangleMesh& mesh);

// The largest of the tolerances, 0 for none: what a report names as the tolerance used.
float LargestTolerance(std::span<const float> tolerances);

// Merges each vertex, in index order, into the first kept vertex found within `tolerance` mm
// (searching the 27 neighbouring grid cells of size `tolerance`); greedy and order-dependent,
// hence serial; kept positions never move. A tolerance of 0 runs WeldIdenticalVertices; a
// negative or NaN one reaches nothing (0, mesh untouched). Cell numbers beyond +-2^62 (a huge
// coordinate over a tiny tolerance) are clamped rather than overflowed. Returns the number of
// vertices removed.
std::uint64_t WeldVerticesWithin(TriangleMesh& mesh, float tolerance);

// The same weld with a tolerance per vertex (one per vertex, else nothing happens): two
// vertices merge only when within the smaller of their tolerances, so a triangle whose every
// edge is longer than the sum of its ends' tolerances is never collapsed. A vertex whose
// tolerance is not above 0 (or NaN) is kept and reached by none. Kept vertices are filed in
// one grid per binary exponent of their tolerances and each vertex searches those grids in
// rising order; with one tolerance for all it is exactly the weld above.
std::uint64_t WeldVerticesWithin(TriangleMesh& mesh, std::span<const float> tolerances);

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
