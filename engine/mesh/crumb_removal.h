// Two repair passes: removal of stray crumbs (small bodies beside the part that a printer
// cannot print) and removal of flat triangles by turning the edge they lie on. Both run on the
// calling thread and change the mesh in place; a mesh they cannot improve stays as it was.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "engine/mesh/triangle_mesh.h"

namespace grainforge::mesh {

// One removed body.
struct CrumbRecord {
    Vec3 boxMin{1e30f, 1e30f, 1e30f};
    Vec3 boxMax{-1e30f, -1e30f, -1e30f};
    std::uint64_t triangleCount = 0;
    double volume = 0.0;  // signed, cubic millimetres; 0 without a volume test
};

// Bodies are triangles joined through shared edges (also edges of three or more triangles).
// A body other than the largest is removed when it has fewer than a hundredth of the largest
// body's triangles and either ranks at or past `keepLargest` (0 counts as 1) or, when
// `volumeLimit` > 0, its absolute volume is below the limit. Adds the removed triangles to
// *removedTriangles and appends one record per removed body to *records when those are given.
// Returns the number of bodies removed; 0 (mesh untouched) for an inconsistent mesh.
// *bodiesLeft, when given, gets the number of bodies the mesh has afterwards once they were
// counted (it is left alone for a mesh without triangles, an inconsistent one or one of more
// than 2^32 - 1 triangles).
std::uint64_t RemoveCrumbs(TriangleMesh& mesh,
                           std::uint64_t keepLargest = std::numeric_limits<std::uint64_t>::max(),
                           std::uint64_t* removedTriangles = nullptr, float volumeLimit = 0.0f,
                           std::vector<CrumbRecord>* records = nullptr, std::uint64_t* bodiesLeft = nullptr);

// Zero face normal and three edges longer than 0 (distinct corners on one line).
bool IsNoAreaTriangle(const TriangleMesh& mesh, std::uint64_t triangle);

// Turns the longest edge of each no-area triangle where the neighbour across it allows, in at
// most 8 sweeps; returns the number of edges turned. 0 for an inconsistent mesh.
std::uint64_t RemoveNoAreaTriangles(TriangleMesh& mesh);

}  // namespace grainforge::mesh
