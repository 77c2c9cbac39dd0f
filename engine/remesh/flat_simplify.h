// Flat-area simplification: vertices inside flat regions are collapsed onto a neighbour, so
// flat faces lose triangles while no surviving vertex moves; the part's shape, box, volume
// and area stay as they were. The operation checks that no-movement guarantee afterwards and
// says so in its report. Also the settings record of the simplify stage (with the switch and
// error of the whole-mesh detail-level simplification) and its JSON form.
#pragma once

#include "engine/files/json_settings.h"
#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_topology.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// The ranges the simplification uses its settings in; a value outside is used at the nearest
// end.
inline constexpr float kLargestPlanarAngleDegrees = 90.0f;
inline constexpr std::int32_t kFewestKeptValence = 3;
inline constexpr std::int32_t kFewestSimplifySweeps = 1;

struct SimplifySettings {
    float planarToleranceMillimetres = 0.0001f;  // distance a corner may lie off the plane
    float relativePlanarTolerance = 0.000001f;   // same, share of the box diagonal; larger wins
    float planarAngleDegrees = 1.0f;             // normal to region normal, clamped to 0..90
    float minimumTriangleHeightMillimetres = 0.001f;  // smallest altitude a collapse may make
    // Neighbours the kept vertex may have after a collapse; at least 3 is used. A limit near the
    // valence of a fan's centre lets that centre on to the shape test, whose cost grows with
    // the square of the centre's valence.
    std::int32_t maximumValence = 24;
    std::int32_t maximumSweeps = 64;             // at least 1 is used
    bool preserveVertexNormals = true;           // survivors keep their input normals
    bool protectTexturedFaces = false;           // the caller passes the textured faces
    bool flatAreas = true;                       // the pipeline runs this simplification
    bool wholeMesh = true;                       // the pipeline runs SimplifyMesh
    float meshDetailError = 0.01f;               // error of that simplification
};

struct FlatSimplifyReport {
    bool cancelled = false;
    std::uint64_t trianglesBefore = 0;
    std::uint64_t trianglesAfter = 0;
    std::uint64_t verticesBefore = 0;
    std::uint64_t verticesAfter = 0;
    std::uint64_t planarRegions = 0;
    std::uint64_t planarTriangles = 0;
    std::uint64_t interiorVertices = 0;   // candidates inside one region at the start
    std::uint64_t collapses = 0;          // vertices removed
    std::uint64_t sweeps = 0;
    std::uint64_t texturedFacesKept = 0;  // non-zero textured-face flags passed in
    std::uint64_t verticesMoved = 0;      // 0 when the guarantee holds
    std::array<Vec3, 2> boundsBefore{};   // minimum, maximum
    std::array<Vec3, 2> boundsAfter{};
    double volumeBefore = 0.0;
    double volumeAfter = 0.0;
    double areaBefore = 0.0;
    double areaAfter = 0.0;
    std::vector<std::uint32_t> vertexSources;    // input index of every result vertex
    std::vector<std::uint32_t> triangleSources;  // input index of every result triangle
    // Refusals, counted as the tries find them. A candidate is tried again only once it or a
    // vertex of its one-ring changed, so a refusal that stands over several sweeps counts once.
    // Each neighbour is tested for the valence limit first, then for the link condition (whose
    // failures count nowhere), then for the shape of the new triangles.
    std::uint64_t refusedNoCandidate = 0;  // tries without a winner and without a refusal
    std::uint64_t refusedHeight = 0;       // a new triangle under the smallest altitude
    std::uint64_t refusedValence = 0;      // the kept vertex would pass maximumValence
    std::uint64_t refusedFlip = 0;         // a new triangle would not face along the region
};

// Region marker of a triangle in no planar region (a degenerate seed grows none).
inline constexpr std::uint32_t kNoRegion = 0xFFFFFFFFu;

// Regions of coplanar, edge-connected triangles.
struct PlanarRegions {
    std::vector<std::uint32_t> regionOfTriangle;  // kNoRegion for none
    std::vector<Vec3> normals;                    // unit normal per region
    std::vector<Vec3> planePoints;
    std::vector<std::uint64_t> triangleCounts;
};

// For each triangle edge (corner i to i + 1) the triangle across it when exactly two share
// the edge, else kNoFace; three entries per triangle. The caller passes a consistent mesh.
std::vector<std::uint32_t> BuildTriangleNeighbours(const TriangleMesh& mesh);

// Regions grown depth first from seeds taken largest area first (ties by lower index), each
// with the seed's normal and first corner as its fixed plane.
PlanarRegions FindPlanarRegions(const TriangleMesh& mesh, const SimplifySettings& settings,
    const std::vector<std::uint32_t>& neighbours);

// Vertex locks of the simplification.
inline constexpr std::uint8_t kUnlocked = 0;
inline constexpr std::uint8_t kLocked = 1;
inline constexpr std::uint8_t kRegionBorder = 2;

// Alive, unlocked, more than four faces, all in one region, and a closed fan (as many one-ring
// vertices as faces).
bool IsInteriorPlanarVertex(const RemeshTopology& topology, const std::vector<std::uint8_t>& vertexLocks,
    const std::vector<std::uint32_t>& regionOfTriangle, std::uint32_t vertex);

// Simplifies the flat areas of `mesh`. `texturedFaces` (may be null) holds a byte per triangle,
// non-zero for faces that received texture; it is used only when its length equals the
// triangle count, and those faces keep all their vertices.
// - Invalid mesh, no triangles, coordinates that are not finite numbers, or more corners than
//   32 bits count: before and after figures equal; mesh unchanged.
// - Stopped through `progress` (asked once per sweep): the result so far is written (valid, no
//   vertex moved) and `cancelled` is set.
// The regions and the first measures are found in parallel; the sweeps run on one thread, each
// trying only the candidates whose neighbourhood changed since their last try, so the work
// stays near linear in the triangles (the result is the same as when every candidate is
// tried in every sweep).
FlatSimplifyReport SimplifyFlatAreas(TriangleMesh& mesh, const std::vector<std::uint8_t>* texturedFaces,
    const SimplifySettings& settings, const ProgressCallback& progress);

// No vertex moved, counts match the collapses, box exact, volume and area within 1e-5 and 1e-7
// (relative to at least 1).
bool NoMovementGuaranteeHeld(const FlatSimplifyReport& report);

// One line, no line end.
std::string FormatFlatSimplifyReport(const FlatSimplifyReport& report);

// All eleven fields equal (ordinary float equality).
bool SimplifySettingsEquals(const SimplifySettings& a, const SimplifySettings& b);

void WriteSimplifySettingsJson(const JsonNode& node, const SimplifySettings& settings);

// A missing or mistyped key keeps the field's value; the integers take only JSON integers in
// the signed 32-bit range, the switches only booleans.
void ReadSimplifySettingsJson(const JsonView& node, SimplifySettings& settings);

}  // namespace grainforge::mesh
