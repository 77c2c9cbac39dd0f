// Tidies a mesh in a fixed order: weld vertices, drop degenerate and duplicate triangles, make
// windings consistent, drop unused vertices, each pass as the options ask, and reports what
// changed. A clean mesh comes back untouched, box and normals included. A mesh that fails
// TriangleMesh::IsConsistent is returned as it is with a zero report. Runs on the calling
// thread (the passes may use parallel loops); cannot be stopped; throws only on allocation
// failure.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>

namespace grainforge::mesh {

struct TidyOptions {
    bool mergeVertices = true;
    // Weld distance in mm. Below 0: automatic, each piece its own, following its size and not
    // its distance from the origin nor any other piece (LocalWeldTolerances); 0: only
    // bitwise-equal positions merge; above 0: weld within this distance. Used only with
    // mergeVertices.
    float weldTolerance = -1.0f;
    // Drop triangles with a repeated corner; collapse those of zero area (RemoveZeroAreaTriangles).
    bool removeDegenerate = true;
    // Drop triangles that repeat an earlier triangle's corners (in any order).
    bool removeDuplicates = true;
    // Reverse the triangles whose winding disagrees with their body's outward orientation; a
    // surface that cannot be oriented is left as it is, and the other bodies are turned all the
    // same.
    bool reorient = true;
    // With reorient: turn only the fewer of each body's triangles, so that its windings agree and
    // most stay as they were written, and leave which side is its outside as it is. Repair orients
    // so while holes and shared edges leave bodies open, and decides each body's outside (by its
    // volume and the bodies round it) once they are closed.
    bool keepMostWindings = false;
    bool removeUnusedVertices = true;
    // Recompute vertex normals at the end when something changed.
    bool recomputeNormals = true;
};

struct TidyReport {
    std::uint64_t verticesMerged = 0;
    std::uint64_t degenerateRemoved = 0;
    std::uint64_t duplicatesRemoved = 0;
    std::uint64_t trianglesReoriented = 0;
    std::uint64_t unusedVerticesRemoved = 0;
    float weldTolerance = 0.0f;  // mm (the largest when automatic); 0 for the exact weld or when no weld ran
    bool changed = false;        // one of the five counts is above 0
};

// Tidies the mesh in place as the options ask.
[[nodiscard]] TidyReport TidyMesh(TriangleMesh& mesh, const TidyOptions& options);

// "Repair: nothing needed changing.\n", or "Repair:\n" and one indented line per count above 0
// (counts grouped by thousands with ","). The tolerance is not printed.
[[nodiscard]] std::string FormatTidyReport(const TidyReport& report);

}  // namespace grainforge::mesh
