// The printability check: the questions a slicer for a fused-filament printer would raise about a
// finished part. The part is sliced into layers along the build axis, each slice is rasterised
// into a square cell grid, and every layer is compared with the ones below: islands that start
// in mid-air, regions laid over nothing, how far a layer reaches past the one below, which spans
// are short bridges between supports, and how much of the surface faces down steeply enough to
// be supported.
//
// Any triangle mesh is accepted; closed, outward-wound parts give the meaningful answers. Slices
// are filled by the non-zero winding rule, so overlapping shells fill once and an inside-out
// part still fills; a hole in the surface can fill a row to the next crossing. A mesh without
// triangles, one that fails TriangleMesh::IsConsistent, or one with a coordinate that is not a
// finite number is refused: the report stays unchecked and says why. The cached box of the mesh
// is not used; the check measures the vertices its triangles use.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Settings of one check. A float field that is not a finite number is used at its default.
struct PrintabilitySettings {
    // Slice thickness, mm. At least 0.01 is used.
    float layerHeight = 0.2f;
    // Extrusion width, mm. At least 0.05 is used.
    float lineWidth = 0.42f;
    // Build direction: 0 x, 1 y, 2 z. Below 0 counts as 0, above 2 as 2. The horizontal grid
    // axes are (up + 1) mod 3 and (up + 2) mod 3.
    std::int32_t upAxis = 2;
    // Grid cell, mm. 0 or less means a quarter of the line width. Either way the cell is
    // enlarged for big parts, so that a layer has about 4,000,000 cells at most and all layers
    // together about 200,000,000 (see CheckPrintability).
    float cellSize = 0.0f;
    // How far a layer may reach past the one below and still count as supported, in line
    // widths. Below 0 counts as 0; a reach beyond the grid is the same as the whole grid.
    float overhangAllowance = 0.5f;
    // Smallest unsupported region reported, mm². Smaller ones still add to the overhang area.
    float minimumArea = 0.18f;
    // Longest span, mm, across which a region between supports still counts as a short bridge.
    float bridgeLength = 10.0f;
    // Reach past the layer below, mm, from which an island counts in `cantileverLayers`.
    float cantileverDistance = 3.0f;
    // Reach past the layer below, mm, from which an island is reported as a far reach. Meant to
    // be above `cantileverDistance`; below it nothing counts as a cantilever.
    float warningDistance = 6.0f;
    // Downward faces within this many degrees of horizontal count in `downwardArea`.
    float overhangAngleDegrees = 30.0f;
    // Also build the display data for the view (outlines, marked cells, marked triangles).
    // Costs memory; pipeline runs leave it off.
    bool collectDisplay = false;
    // At most about this many layers keep display data (every k-th layer, k = layers /
    // displayLayers, at least 1). 0 counts as 1.
    std::uint64_t displayLayers = 150;
};

// True when all twelve fields are equal (floats by ordinary float equality).
bool PrintabilitySettingsEquals(const PrintabilitySettings& a, const PrintabilitySettings& b);

// One finding: where it is and what it covers. All seven values are 32 bits wide.
struct PrintFinding {
    float x = 0.0f;  // model coordinates: the horizontal position on the two horizontal axes
    float y = 0.0f;  // and the layer's cut height on the build axis, each in its own axis slot
    float z = 0.0f;
    float heightMillimetres = 0.0f;      // cut height above the lowest point of the part
    float areaSquareMillimetres = 0.0f;  // cells of the island or region, times the cell area
    float reachMillimetres = 0.0f;       // largest distance from supported cells; 0 in the air
    std::uint32_t layer = 0;             // layer number, 0 on the bed

    friend bool operator==(const PrintFinding&, const PrintFinding&) = default;
};

// Why a check did not run.
enum class PrintabilityRefusal : std::int32_t {
    none = 0,
    noTriangles = 1,           // the mesh has no indices
    inconsistentMesh = 2,      // an index out of range, or a count not a multiple of 3
    nonFiniteCoordinates = 3,  // a vertex coordinate is NaN or infinite
    tooManyLayers = 4,         // more than kMaximumPrintLayers layers at this layer height
    outOfMemory = 5,           // an allocation failed; nothing was kept
};

// Parts taller than this many layers are refused: the cell keys have 24 bits for the layer and
// a grid can hold no more than 200,000,000 cells of at least 9 a layer.
inline constexpr std::uint64_t kMaximumPrintLayers = 1'000'000;

// Display cells kept of each kind (support, far, bridging); the rest are counted in
// `displayCellsOmitted`. A million squares is more than a view can show usefully, and the cap
// keeps a part of many floating layers from filling gigabytes.
inline constexpr std::uint64_t kMaximumDisplayCells = 1'000'000;

struct PrintabilityReport {
    bool checked = false;                    // the check ran
    std::uint64_t layers = 0;
    std::uint64_t cellsPerLayer = 0;         // grid columns x rows
    std::vector<PrintFinding> featuresInAir; // islands with nothing below them
    std::vector<PrintFinding> farReaches;    // islands reaching past the warning distance
    std::vector<PrintFinding> airPlaces;     // unsupported regions that are not short bridges
    std::vector<PrintFinding> shortBridges;  // unsupported regions spanning between supports
    float overhangArea = 0.0f;               // mm², all unsupported regions, small ones too
    float longestReach = 0.0f;               // mm past the layer below
    std::uint64_t cantileverLayers = 0;      // islands past the cantilever, short of the warning
    float downwardArea = 0.0f;               // mm², faces flatter than the angle, down, off the bed
    float surfaceArea = 0.0f;                // mm², all faces with an area
    double milliseconds = 0.0;               // time of the check, refusals included
    // Display data, filled with `collectDisplay` for every shown layer (layer % k == 0).
    std::vector<std::array<Vec3, 2>> contourSegments;  // slice outlines
    std::vector<Vec3> supportSquares;  // six points (two triangles) a cell needing support
    std::vector<Vec3> farSquares;      // ... a cell reaching past the cantilever distance
    // The triangles cut near a marked cell, on every layer (not only the shown ones), so that
    // each place the verdict counts is coloured on the part.
    std::vector<std::uint32_t> supportTriangles;  // cut near a cell needing support
    std::vector<std::uint32_t> farTriangles;      // else near a far-reaching cell
    std::vector<Vec3> bridgeSquares;              // ... a bridging cell
    std::vector<std::uint32_t> bridgeTriangles;   // else near a bridging cell
    float cellSize = 0.0f;  // mm, the cell used
    float originX = 0.0f;   // grid origin on the first horizontal axis ((up + 1) mod 3), mm
    float originY = 0.0f;   // ... on the second ((up + 2) mod 3)
    std::int32_t upAxis = 2;
    // Sorted, unique PrintCellKey values of the marked cells of every layer (the squares above
    // are those of the shown layers); each kind keeps at most kMaximumDisplayCells keys of the
    // shown layers and as many of the others.
    std::vector<std::uint64_t> supportKeys;
    std::vector<std::uint64_t> farKeys;
    std::vector<std::uint64_t> bridgeKeys;
    PrintabilityRefusal refusal = PrintabilityRefusal::none;
    std::uint64_t displayCellsOmitted = 0;  // marked cells past kMaximumDisplayCells

    friend bool operator==(const PrintabilityReport&, const PrintabilityReport&) = default;
};

// Checks the part layer by layer (see the header comment). Step by step:
// - the cell is `cellSize`, or a quarter of the line width, enlarged to
//   max(c, sqrt(L X Y / 2e8), sqrt(X Y / 4e6)) with X and Y the horizontal extents widened by 2c
//   and L the layer count, and further if the grid as built still exceeds those counts by more
//   than a tenth or would need more than 2^20 - 1 columns or rows;
// - layer i is cut at (i + 0.5137) layer heights above the lowest point; each slice is filled by
//   rows, by the non-zero rule;
// - a cell is supported when a filled cell of the layer below lies within the allowance disc;
//   an 8-connected island with no supported cell and none within the disc two layers below
//   starts in the air; an island supported only from two layers below measures its reach from
//   those cells;
// - other cells get their chamfer distance (1 a side step, 1.4142135 a diagonal one) from the
//   supported cells through filled cells; 8-connected unsupported regions are short bridges
//   (spanning between supports, 2 d c at most `bridgeLength`) or places laid in the air.
// Runs in parallel over triangles and layers; the report is the same on any number of threads,
// `milliseconds` aside. Cannot be stopped: a part of 5,000,000 triangles takes about half a
// second on two cores. An allocation failure gives an unchecked report with the refusal
// `outOfMemory`.
[[nodiscard]] PrintabilityReport CheckPrintability(const TriangleMesh& mesh, const PrintabilitySettings& settings);

// The cell key (layer << 40) | (row << 20) | column. Columns and rows are below 2^20 and layers
// below 2^24 in every report.
std::uint64_t PrintCellKey(std::uint64_t layer, std::uint64_t row, std::uint64_t column);

// True when one of the 3 x 3 cells around (column, row) on `layer` is in `keys` (sorted, as the
// report keeps them). Cells with a coordinate below 0, or too large for a key, are skipped.
bool IsNearMarkedCell(std::int64_t column, std::int64_t row, std::int64_t layer, const std::vector<std::uint64_t>& keys);

// One line: "prints without support", "1 feature starts in the air: support needed", ...;
// "not checked" for an unchecked report.
std::string FormatPrintabilitySummary(const PrintabilityReport& report);

// The block of the run report: the summary with the grid and time, the longest reach, the
// downward area and, with display data, what is shown; "Printability: not checked\n" when
// unchecked (the reason comes from FormatPrintabilityRefusal).
std::string FormatPrintabilityReport(const PrintabilityReport& report);

// Why the check did not run, as a phrase ("the mesh has no triangles"); empty for `none`.
std::string FormatPrintabilityRefusal(PrintabilityRefusal refusal);

// ---------------------------------------------------------------------------------------------
// Internals shared with the tests.
namespace detail {

// Cells [begin, end) of one grid row.
struct CellRun {
    std::int32_t row = 0;
    std::int32_t begin = 0;
    std::int32_t end = 0;

    friend bool operator==(const CellRun&, const CellRun&) = default;
};

// Chamfer distances inside a window of `width` columns, row-major: cells holding 0 are sources,
// every other cell starts at infinity, and only the cells of `open` (row-major order, at least
// one cell inside the window's border) are updated: forward and backward sweeps repeat until a
// pair changes nothing. After `maximumSweepPairs` unsettled pairs a shortest-path search
// finishes the job; the distances are the same either way, since both reach the one solution of
// d = min over neighbours of (their d + step). Returns the number of sweep pairs run.
int SweepChamferDistances(std::vector<float>& distances, std::size_t width, const std::vector<CellRun>& open,
    int maximumSweepPairs);

}  // namespace detail

}  // namespace grainforge::mesh
