// The records every remesh shares: the settings that choose and tune a remesh (and their JSON
// form in the project file), the report a remesh fills with its counts, mesh-quality figures
// and stage timings, the text made from that report, and the triangle estimate shown before a
// remesh runs. Everything here is a plain value; nothing throws except on allocation failure.
#pragma once

#include "engine/repair/crumb_removal.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Which remesh runs. Stored as a signed 32-bit integer; 1 is an old name of the contour remesh
// and is read back as 2.
enum class RemeshMethod : std::int32_t {
    isotropic = 0,       // "isotropic"
    dualContouring = 1,  // "dualContouring", read as contour
    contour = 2,         // "contour"
};

// Options of the dual-contouring remesh.
struct DualContouringSettings {
    // Sharpness of the vertex placement: 0 puts each vertex at the mean of its cell's
    // crossings (smooth); 1 and above keep corners and edges. Values below 0 count as 0.
    float sharpness = 1.0f;
    // Project the contour vertices back onto the original surface.
    bool preserveVolume = true;
    // Drop bodies whose volume is below `disconnectedThreshold` x the largest body's volume.
    bool removeDisconnected = false;
    // Share (0..1, clamped when used) of the largest body's volume; see removeDisconnected.
    float disconnectedThreshold = 1.0f;
    // Kept for the project file and for equality; the contour remesh does not read it.
    bool manifold = true;
};

// The ranges the isotropic remesh uses its settings in; a value outside is used at the
// nearest end.
inline constexpr std::int32_t kFewestRemeshRounds = 1;
inline constexpr float kLargestFeatureAngleDegrees = 180.0f;
inline constexpr float kLargestRelaxation = 1.0f;

struct RemeshSettings {
    // 0 isotropic; anything else the dual-contouring remesh.
    RemeshMethod method = RemeshMethod::contour;
    DualContouringSettings dualContouring;
    // Wanted edge length L in mm (contour: the cell size, at least 0.0001 and never finer
    // than the longest side of the part / 4088, of each body on its own where bodies lie apart).
    float targetEdgeMillimetres = 0.2f;
    // Isotropic rounds; values below 1 run as 1.
    std::int32_t rounds = 5;
    // Dihedral angle in degrees above which an edge is a feature edge (clamped to 0..180).
    float featureAngleDegrees = 40.0f;
    // Weight of the tangential relaxation, clamped to 0..1; 0 or less switches it off.
    float relaxation = 0.5f;
    // Relaxed vertices are pulled back onto the original surface (isotropic).
    bool projectToOriginal = true;
};

// One timed stage of a remesh.
struct StageTime {
    std::string name;           // UTF-8
    double milliseconds = 0.0;
};

// Figures of one mesh; all 0 for an inconsistent mesh.
struct MeshQuality {
    std::uint64_t triangles = 0;
    std::uint64_t edges = 0;       // distinct edges
    float edgeMin = 0.0f;          // mm
    float edgeMedian = 0.0f;
    float edgeMax = 0.0f;
    float edgeP1 = 0.0f;           // 1st percentile
    float edgeP99 = 0.0f;          // 99th percentile
    float aspectMedian = 0.0f;     // longest over shortest edge of a triangle
    float aspectWorst = 0.0f;
    double shareOver10 = 0.0;      // share (0..1) of triangles with an aspect above 10
};

// Why a remesh produced no result although nobody stopped it.
enum class RemeshFailure : std::int32_t {
    none = 0,
    // The contour grid was incomplete: a quad could not find its four cell vertices.
    contourIncomplete = 1,
    // The contour grid at this cell size needs more memory than the machine has available.
    gridTooLarge = 2,
    // A vertex coordinate is NaN or infinite, so no grid can be laid over the part.
    nonFiniteCoordinates = 3,
    // The isotropic remesh at this edge length needs more memory than the machine has
    // available (or more triangles than 32-bit indices can number).
    targetTooFine = 4,
};

struct RemeshReport {
    bool cancelled = false;          // the progress callback asked to stop; part unchanged
    // The remesh failed on its own (see `failure`); the part is unchanged. Kept apart from
    // `cancelled` so that a failure is never shown as a stop by the user.
    bool failed = false;
    RemeshFailure failure = RemeshFailure::none;
    std::uint64_t trianglesBefore = 0;
    std::uint64_t trianglesAfter = 0;
    std::uint64_t verticesBefore = 0;
    std::uint64_t verticesAfter = 0;
    std::uint64_t splits = 0;        // isotropic, summed over the rounds
    std::uint64_t collapses = 0;
    std::uint64_t flips = 0;
    std::uint64_t featureEdges = 0;  // isotropic, last round; not printed
    float deviationMillimetres = 0.0f;  // largest distance of a result vertex to the original
    std::array<float, 3> sizeBefore{};  // bounding-box extents, zero without a valid box
    std::array<float, 3> sizeAfter{};
    MeshQuality qualityBefore;
    MeshQuality qualityAfter;
    std::vector<StageTime> stageTimes;  // in order of first run; repeats add up
    // Contour remesh only:
    float cellMillimetres = 0.0f;
    bool cellCapped = false;            // raised to the finest the part's size allows
    std::uint64_t sourceBodies = 0;
    std::uint64_t strayBodiesRemoved = 0;
    std::uint64_t strayBodyTriangles = 0;
    std::vector<CrumbRecord> strayBodies;  // one per removed body, largest first
    bool contour = false;               // chooses the contour form of the text
    std::uint64_t openGridLines = 0;    // grid lines through a hole of an open part
    std::uint64_t thinPlaces = 0;       // places thinner than the cell
    // Further contour figures, not printed:
    float gridExtentMillimetres = 0.0f;       // largest cell count x cell
    std::uint64_t crossingsWithoutTriangle = 0;
    // Memory estimate checked before contouring: every grid's peak with the results of the
    // grids before it held; on a refusal the bytes that were available and the cell from
    // which on the grids fit.
    std::uint64_t estimatedGridBytes = 0;
    std::uint64_t availableBytes = 0;
    float advisedCellMillimetres = 0.0f;
    // Pieces that lie apart, each contoured in a grid of its own (0 for one grid over the
    // part), and the box of the piece whose grid failed alone, when one did (both zero when
    // only all of them together were too large).
    std::uint64_t piecesApart = 0;
    Vec3 failedPieceMin;
    Vec3 failedPieceMax;
};

// Of a part whose bodies lie apart and are remeshed each in a grid of its own, the group that
// makes the most triangles: its box, its count and its cell (raised to the finest its own size
// allows when `finest`). No triangles where one grid holds the part.
struct CostliestPiece {
    Vec3 boundsMin;
    Vec3 boundsMax;
    std::uint64_t triangles = 0;
    std::uint64_t pieces = 0;  // groups that lie apart
    float cellMillimetres = 0.0f;
    bool finest = false;
};

// Predicted size of a remesh.
struct RemeshEstimate {
    std::uint64_t countedTriangles = 0;  // triangles whose area was summed
    std::uint64_t meshTriangles = 0;     // index count / 3
    double areaSquareMillimetres = 0.0;
    std::uint64_t estimatedTriangles = 0;
    std::uint64_t totalTriangles = 0;
    float cappedCellMillimetres = 0.0f;  // 0 unless the contour cell was raised
    CostliestPiece costliest;            // contour only
};

// Times the stages of one operation into a list of stage times (a report's). Start with an
// empty name; end with RecordStageTime(timer, "") to close the last stage.
struct StageTimer {
    explicit StageTimer(std::vector<StageTime>& target) : stages(&target) {}
    explicit StageTimer(RemeshReport& target) : stages(&target.stageTimes) {}
    std::vector<StageTime>* stages;
    std::string current;
    std::chrono::steady_clock::time_point mark = std::chrono::steady_clock::now();
};

// True when all eleven settings are equal (floats by ordinary float equality). The pipeline
// takes a difference as a stale remesh stage.
bool RemeshSettingsEquals(const RemeshSettings& a, const RemeshSettings& b);

// Writes the settings into the object `node`: "method" by name (a value outside the table as a
// bare integer), then the other fields; the dualContouring fields as a nested object.
void RemeshSettingsToJson(const JsonNode& node, const RemeshSettings& settings);

// Reads into an existing record; a missing or mistyped key keeps the field's value. "method"
// takes only one of the three names; a method of 1 always ends as 2. "rounds" takes only a
// JSON integer within the signed 32-bit range. Never fails.
void RemeshSettingsFromJson(const JsonView& node, RemeshSettings& settings);

// Cell of the contour remesh: max(targetEdgeMillimetres, 0.0001), raised to the longest side
// of the mesh's valid box / 4088 when that is larger (then *capped is set). 4088 rather than 4096
// leaves room for the grid's margin cells. Where the box is that large because bodies lie far
// apart, each group that lies apart gets a grid of its own (ClustersNeedingOwnGrids): the
// cell is raised only as far as the largest group's own side needs. `groups`, when given,
// receives those groups (none where one grid holds the part), so that no caller seeks them again.
struct MeshCluster;  // engine/remesh/contour_clusters.h
float ContourCellSize(const TriangleMesh& mesh, const RemeshSettings& settings,
    bool* capped = nullptr, std::vector<MeshCluster>* groups = nullptr);

// The cell asked for: max(targetEdgeMillimetres, 0.0001), the smallest also for a target that
// is not a number. Each group that lies apart is laid at its GridCellFor this cell.
float AskedContourCell(const RemeshSettings& settings);

// Triangles a remesh of `mesh` with `settings` will make; zero for an inconsistent mesh, and
// none estimated when a NaN coordinate makes the area NaN. The isotropic remesh's count comes
// from the surface area; the contour's from the surface's shadows on the three axis planes,
// which count the grid edges it crosses, so it holds for faces in the grid and curved parts
// alike.
RemeshEstimate EstimateRemeshResult(const TriangleMesh& mesh, const RemeshSettings& settings);

// Closes the running stage (adding its milliseconds to the entry of its name, or appending
// one) and starts `name`; an empty name only closes.
void RecordStageTime(StageTimer& timer, const std::string& name);

// Figures of the mesh (edge records sorted in parallel); all zero for an inconsistent mesh.
// Edges of NaN length, and their triangles' aspects, are left out of the figures.
MeshQuality MeasureMeshQuality(const TriangleMesh& mesh);

// Linear interpolation between the sorted values at (n - 1) x fraction; 0 for no values.
double PercentileOfSorted(const std::vector<float>& sortedValues, double fraction);

// One-line texts, fixed-point notation.
std::string FormatMeshQuality(const MeshQuality& quality);
std::string FormatRemeshReport(const RemeshReport& report);

// How a refusal over the triangle limit names the costliest of pieces that lie apart:
// ": the piece of X x Y x Z mm at (x, y, z), one of N that lie apart, makes about M of them",
// then " with triangles of C mm, the finest its size allows" when its cell was raised; empty
// where no piece is named (one grid, or no count).
std::string FormatCostliestPiece(const CostliestPiece& piece);

// The words for a failure reason; empty for none.
std::string RemeshFailureText(RemeshFailure failure);

// The words for the report's failure: where pieces lay apart, a grid that would not fit names
// the piece it was laid over (its size and where it lies).
std::string RemeshFailureText(const RemeshReport& report);

}  // namespace grainforge::mesh
