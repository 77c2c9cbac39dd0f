// Export cleanup: collapses the shortest edge of each collapsed triangle (zero area, or an edge
// no longer than a small tolerance) where the link condition allows, drops the triangles the
// collapses emptied and fills holes that are small or narrow, but never closes a sheet onto
// itself (a part of no thickness stays open, and says so, rather than turn into a file that
// holds nothing), never gives an edge a third triangle and never lays a fill through the
// surface. Every hole is traced as simple loops and measured, and each one left open is
// counted under the reason it was left for. The report's vertex and face maps
// carry per-vertex and per-face data (texture weights, face selection) onto the cleaned mesh.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/mesh/triangle_mesh.h"
#include "engine/mesh/welding.h"

namespace grainforge::mesh {

struct ExportCleanupOptions {
    bool weldCollapsedTriangles = true;  // an edge no longer than the tolerance collapses too
    bool fillHoles = true;
    float maximumHoleMillimetres = 5.0f;       // a hole at most this size is filled
    float maximumSlitWidthMillimetres = 0.5f;  // a hole at most this wide is filled
};

struct ExportCleanupReport {
    std::uint64_t verticesMerged = 0;
    std::uint64_t collapsedTrianglesDropped = 0;
    // mm: as passed, also when welding is off; when automatic, the largest piece's tolerance
    // used (0 when welding is off).
    float tolerance = 0.0f;
    std::uint64_t holesFilled = 0;
    std::uint64_t trianglesAdded = 0;
    float largestFilledHoleMillimetres = 0.0f;
    // Everything left open, each for one reason: too large and too wide (the rest of this
    // count), round a sheet, where a fill would make edges non-manifold or pass through the
    // surface, or boundary runs that close no loop. LargeHolesLeftOpen gives the first.
    std::uint64_t holesLeftOpen = 0;
    // Of those, holes whose filling would only lay a sheet onto itself: the fill would repeat
    // or back a triangle already there, or close a body that encloses no volume (BodyVolume).
    std::uint64_t sheetHolesLeftOpen = 0;
    // Of those, holes small or narrow enough whose fill would give an edge more than two
    // triangles (one of its diagonals is an edge the mesh or another fill already has), and
    // the largest of their sizes, mm.
    std::uint64_t nonManifoldHolesLeftOpen = 0;
    float largestNonManifoldHoleMillimetres = 0.0f;
    // Of those, holes small or narrow enough whose fill would pass through the surface, through
    // another fill or through itself, and the largest of their sizes, mm.
    std::uint64_t crossingHolesLeftOpen = 0;
    float largestCrossingHoleMillimetres = 0.0f;
    // Of those, runs of open edges that close no loop: they end at a vertex where no open edge
    // goes on (at an edge of more than two triangles, or where the winding turns), so they
    // bound no hole a fill could take.
    std::uint64_t unclosedBoundaries = 0;
    // mm: the largest size among the holes left open because they are too large and too wide.
    float largestOpenHoleMillimetres = 0.0f;
    std::int32_t passes = 0;
    std::uint64_t collapsesRefused = 0;
    std::uint64_t zeroAreaTrianglesLeft = 0;
    // Input vertex (triangle) each result vertex (triangle) continues; a filling triangle
    // continues the triangle beside its hole. Both empty when nothing changed (one to one).
    std::vector<std::uint32_t> vertexMap;
    std::vector<std::uint32_t> faceMap;
};

// Holes left open because they are too large and too wide to fill.
[[nodiscard]] std::uint64_t LargeHolesLeftOpen(const ExportCleanupReport& report);

// One hole's boundary: a simple loop, each vertex once.
struct BoundaryLoop {
    std::vector<std::uint32_t> vertices;  // in the order the boundary edges run in their triangles
    std::uint32_t triangle = 0;           // holds the loop's first boundary edge
    float size = 0.0f;   // diagonal of the box of the loop's vertices
    float width = 0.0f;  // 2 x |vector area| / perimeter; 0 for a zero perimeter
};

// The collapse passes' view of the mesh: vertices merged so far through a union-find whose
// representatives keep their own positions.
struct ExportCleanupState {
    const TriangleMesh* mesh = nullptr;
    std::vector<std::uint32_t> parent;
    float tolerance = 0.0f;  // 0 when welding is off
    // One per vertex when set: an edge collapses when no longer than the smaller of its ends'
    // tolerances, and `tolerance` is only reported.
    std::vector<float> tolerances;

    // Follows parents with path halving.
    std::uint32_t Representative(std::uint32_t vertex);
};

// Cleans the mesh in place. `tolerance` in mm; kAutomaticWeldTolerance (any negative value)
// takes each vertex's own, LocalWeldTolerances, so that one piece never collapses at the reach
// another piece's size or distance would give.
[[nodiscard]] ExportCleanupReport CleanupForExport(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& options);

// Takes the triangles without area out of an indexed mesh as the cleanup does: those with a
// repeated corner are dropped, and each zero-area one collapses its shortest edge where the
// link condition allows, so that a closed part stays closed (deleting it would open its three
// edges); one the collapses cannot take is dropped. Returns how many triangles without area
// the mesh held (a neighbour a collapse empties joins the triangle beside it and is not
// counted).
std::uint64_t RemoveZeroAreaTriangles(TriangleMesh& mesh);

// One line, no line break: "nothing to clean up" or the counts and sizes of the report.
std::string FormatExportCleanupReport(const ExportCleanupReport& report);

// Zero area, or (with a tolerance above 0, or per-vertex tolerances) an edge at most the
// tolerance long, measured on the current corners; false when two current corners are one
// vertex.
bool IsCollapsedTriangle(ExportCleanupState& state, std::uint64_t triangle);

// The boundary loops of the mesh, every open edge in one of them where it can be. An open edge
// runs on into the open edge that leaves its end vertex. Where several leave one vertex (two
// holes meet there, or a boundary touches itself), each arriving edge is paired with a leaving
// one by the fans of triangles round the vertex: turning from the arriving edge through its
// fan (across edges of two triangles wound against each other) reaches the leaving edge of the
// same fan, and the arriving edge goes on into the leaving edge of the next fan
// counterclockwise, seen from the side the fans' triangles face; the gap between those two
// fans is the hole. With two fans that is the other one; with more, the fans are ordered by
// the angle of their arriving edges in the plane of the fans' summed normal. Where the fans do
// not give a pairing (an edge of more than two triangles or a turned winding on the way, or
// more edges arriving than leaving), arriving and leaving edges are paired in their order. A
// traced boundary that passes a vertex twice is split there into simple loops. Each run of
// open edges that closes no loop (it reaches a vertex no open edge leaves), and each closed run
// of fewer than three vertices, adds 1 to notSimpleLoops. Empty for an inconsistent mesh.
std::vector<BoundaryLoop> FindBoundaryLoops(const TriangleMesh& mesh, std::uint64_t& notSimpleLoops);

// Closes the loop with ear clipping in its plane, wound against the triangles beside it;
// appends the triangles (no vertices) and returns how many. 0 for a loop of fewer than three
// vertices or one naming a vertex the mesh does not have, and for an index count that is not a
// multiple of three. Runs once per hole, so the rest of the mesh is not checked: it reads only
// the loop's vertices and the loop's triangle (through FaceNormal).
std::uint64_t FillHoleLoop(TriangleMesh& mesh, const BoundaryLoop& loop);

}  // namespace grainforge::mesh
