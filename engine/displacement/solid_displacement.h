// The "solid" displacement: instead of moving the part's vertices, it builds the displaced part
// as a new closed surface. Every input vertex carries a height (the map sampled through the
// projection, already weighted); the displaced solid is the set of points whose signed distance
// to the input surface, less the height at the nearest surface point, is negative. Three
// phases: the heights are held back where they would close a slot or cut through a wall; the
// solid is sampled on a sparse grid; the grid is contoured into triangles and the pieces a
// printer cannot lay down are taken off.
//
// The input must be a closed solid (the inside is told by counting surface crossings). The
// result is refused, before its memory is spent, when it would exceed the triangle limit or
// the memory that is safe to use; a stop through the progress callback is honoured at every
// phase start and inside every parallel loop. The result mesh is only written on success.
#pragma once

#include "engine/displacement/mask_volume.h"
#include "engine/displacement/solid_contour.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/progress.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct SolidDisplacementSettings {
    float cellMillimetres = 0.2f;        // grid step h; used as max(0.001, value)
    float clearanceCells = 2.0f;         // clearance kept open in slots, in cells
    bool baseEnabled = true;             // cut the solid flat at baseZ and snap vertices onto it
    float baseZ = 0.0f;                  // the pipeline passes the lowest z of the input;
                                         // never used above it (the cut face would stay open)
    std::uint64_t triangleLimit = 18000000;  // largest result; the largest value for none
    float lineWidthMillimetres = 0.42f;  // for the unprintable pieces; used as max(0.05, value)
    bool directQueries = false;          // every field point searched on its own (slower)
    std::uint32_t clearanceRays = 3;     // 5: five rays a vertex; any other value three
    bool keepSlotsOpen = true;           // run the clearance phase
    bool smoothDisplacedCells = true;    // relief cells placed at their mass point
    bool verifyDistances = false;        // compare every measured point with an exact search
};

struct SolidDisplacementReport {
    bool ok = false;                 // the result mesh was produced
    bool stopped = false;            // the job was asked to stop
    bool refused = false;            // the result would exceed triangleLimit
    bool tooLarge = false;           // the field would need more memory than is safe
    double fieldEstimateBytes = 0.0; // the field's fixed parts
    double fieldStoredEstimateBytes = 0.0;  // the whole field once its blocks are known
    std::uint64_t estimatedTriangles = 0;   // behind the last refusal test
    std::uint64_t heightsHeld = 0;   // heights reduced to keep slots and walls open
    std::uint64_t heightCount = 0;
    std::uint64_t fieldPointsX = 0;
    std::uint64_t fieldPointsY = 0;
    std::uint64_t fieldPointsZ = 0;
    std::uint64_t blocksStored = 0;
    std::uint64_t candidateBlocks = 0;
    std::uint64_t fieldBytes = 0;
    std::uint64_t pointsMeasured = 0;
    std::uint64_t pointsRechecked = 0;
    std::uint64_t cellsContoured = 0;
    std::uint64_t piecesRemoved = 0;     // voids + crumbs + thin bodies
    // Of those, the pieces that were bodies of the input itself (a removed piece that holds an
    // input body's box, within the relief's reach), not pieces the relief made.
    std::uint64_t inputPiecesRemoved = 0;
    std::uint64_t trianglesRemoved = 0;
    std::uint64_t voidsRemoved = 0;
    std::uint64_t crumbsRemoved = 0;
    std::uint64_t thinBodiesRemoved = 0;
    float lineWidth = 0.0f;              // line width used, mm
    std::vector<RemovedPiece> voids;
    std::vector<RemovedPiece> crumbs;
    std::vector<RemovedPiece> thinBodies;
    bool contourHoles = false;           // a contour quad lacked a cell: the result is rejected
    double clearanceMilliseconds = 0.0;
    double fieldMilliseconds = 0.0;
    double contourMilliseconds = 0.0;    // removals included
    double columnSeconds = 0.0;
    double blockSeconds = 0.0;
    double seedMilliseconds = 0.0;
    double propagateMilliseconds = 0.0;
    double valueMilliseconds = 0.0;
    std::uint32_t propagationPasses = 0;
    std::uint64_t pointsDisplaced = 0;
    std::uint64_t oddColumns = 0;
    std::uint64_t subCubesSkipped = 0;
    std::uint64_t verifyChecks = 0;
    std::uint64_t verifyMismatches = 0;
    std::uint64_t verifyMisses = 0;
    double verifyMaxError = 0.0;
    std::uint64_t flippedCells = 0;
    std::uint64_t contourCrossings = 0;      // pairs the contour's sharp vertices made cross
    std::uint64_t contourCrossingsLeft = 0;  // of those, still crossing once eased
    std::uint64_t verticesKept = 0;  // contour vertices put back onto surface that takes no relief
    std::uint64_t edgesTurned = 0;   // edges turned to run along a crease of such surface
};

// Share of the available memory the field may take: the rest is for the input, its tree, the
// contour's arrays and whatever else the program holds.
inline constexpr double kSolidFieldMemoryShare = 0.6;

// What the field may take of `availableBytes`: kSolidFieldMemoryShare of it; 0 (no budget) when
// the figure is 0 (unknown). The relief's guard and the estimate made before a run starts both
// take their budget from here.
[[nodiscard]] std::uint64_t SolidFieldBudget(std::uint64_t availableBytes);

// Builds the displaced solid of `input` with one height per vertex (changed by the clearance
// phase) into `result`. True when `result` holds the displaced solid; otherwise it is left
// untouched and the report says why: no flag for an empty input or heights that do not match,
// `refused` with `estimatedTriangles`, `tooLarge`, `stopped`, or `contourHoles`. `tree` is a
// tree over `input`, or null to build one. `availableBytes` caps the field at
// kSolidFieldMemoryShare of it; 0 reads the available memory of the machine. Bodies that lie
// apart take a field each, one after the other, their results kept until joined: `tooLarge`
// before any of them runs when those results alone would not fit, and each field is capped by
// what the results before it left. `plainFaces`, when it holds one flag per triangle
// (FacesKeptPlain), names the faces that stay in their planes up to their edges (see
// SolidFieldInput); another length is ignored. `masks` are the enabled mask volumes the weights
// were made with: a surface point one of them covers fully carries no height, though its
// triangle's corners lie outside. Over faces kept plain and masked surface, the contour's
// vertices are put back onto the input's surface (KeepSurfaceWithoutRelief).
// Exceptions other than a stop (out of memory among them) reach the caller.
bool ApplySolidDisplacement(const TriangleMesh& input, std::vector<float> heights,
    const SolidDisplacementSettings& settings, const ProgressCallback& progress,
    TriangleMesh& result, SolidDisplacementReport& report, const AabbTree* tree,
    std::uint64_t availableBytes = 0, const std::vector<std::uint8_t>* plainFaces = nullptr,
    std::span<const MaskVolume> masks = {});

// The paragraph the pipeline report prints.
std::string FormatSolidDisplacementReport(const SolidDisplacementReport& report);

// The removed pieces, voids first, then crumbs, then thin bodies, without a final line end.
std::string FormatUnprintablePieces(const SolidDisplacementReport& report);

// Appends the lines of one list: the 10 largest pieces, then a count of the rest.
void FormatUnprintablePiece(std::string& text, const char* kind, const std::vector<RemovedPiece>& pieces);

}  // namespace grainforge::mesh
