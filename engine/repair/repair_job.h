// The whole repair job on a part, and the check that reads a part back the way a slicer reads
// a file. The job tidies, then runs rounds of welding and filling small holes, the repair
// driver, the tidy again (each body's outside decided once its holes are closed and its edges
// split) and a slicer read-back, until a round changes nothing, and writes a log. A part that
// needed nothing comes back exactly as it was given, so a repaired part repaired again does.
#pragma once

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// What RepairForPrint found and did.
struct RepairForPrintReport {
    bool repaired = false;     // something changed; false: the part came back exactly as given
    std::int32_t rounds = 0;   // the last round in which something changed (0 when none did)
    // The rounds stopped at kMostRepairRounds while the last still changed the part: a second
    // Repair may change it further.
    bool roundLimitReached = false;
    std::uint64_t trianglesBefore = 0;
    std::uint64_t trianglesAfter = 0;
    std::uint64_t nonManifoldEdgesBefore = 0;  // edges used by more than two triangles
    std::uint64_t nonManifoldEdgesAfter = 0;
    std::uint64_t openEdgesBefore = 0;         // edges used by one triangle
    std::uint64_t openEdgesAfter = 0;
    std::uint64_t bodiesBefore = 0;
    std::uint64_t bodiesAfter = 0;
    std::uint64_t doubleSkinnedPairsRemoved = 0;  // tidy step and all rounds together
    std::uint64_t flippedCopiesRemoved = 0;       // likewise
    std::uint64_t innerCopiesRemoved = 0;         // likewise; of bodies written double-sided
    // Facets written in both windings on a sheet standing alone: no copy could be chosen, so
    // they are left as they are while the rest is repaired (repaired false when nothing else
    // needed it).
    std::uint64_t pairsLeft = 0;
    // The repair would have removed every triangle; the part was kept as it was (repaired false).
    bool emptied = false;
    std::uint64_t verticesSplit = 0;              // summed over the rounds
    std::uint64_t bodiesRemoved = 0;              // summed over the rounds
    std::vector<CrumbRecord> removedBodies{};     // each of them: its box and volume
    std::uint64_t holesFilled = 0;                // summed over the rounds
    std::uint64_t holesLeftOpen = 0;              // of the last round; 0 when no edge is open
    std::uint64_t sheetHolesLeftOpen = 0;         // of those, the edges of sheets (closing them encloses nothing)
    float largestOpenHoleMillimetres = 0.0f;      // of the last round; 0 when no edge is open
    // Of holesLeftOpen, by the other reasons the cleanup names (ExportCleanupReport), with the
    // largest size of each; LargeHolesLeftOpen gives the holes too large and too wide.
    std::uint64_t nonManifoldHolesLeftOpen = 0;
    float largestNonManifoldHoleMillimetres = 0.0f;
    std::uint64_t crossingHolesLeftOpen = 0;
    float largestCrossingHoleMillimetres = 0.0f;
    std::uint64_t unclosedBoundaries = 0;
    std::string details;                          // the job's log; empty when nothing changed
    // The hollows and inserts of the part as it comes back, kept as written by the nesting rule
    // (NestedBodyRole); the summary names them, changed or not.
    std::vector<NestedBody> nestedBodies;
    // What the repair changed in the part, measured as the Save STL check measures its own
    // fixes (each body's volume, box and corners, both ways); not measured when nothing changed.
    // Repair moves no surface on purpose: a change past the check's rule is said as a warning.
    FixChangeReport change{};
    // Validation of the part as it comes back still names a fault Repair is there to mend
    // (NamesFaultRepairMends), so the result is no plain success whatever the counts say.
    bool faultLeft = false;
};

// Repair runs its rounds until one changes nothing. Parts seen need up to ten (a motor of 13
// bodies parts 101, 61, 37, ... non-manifold edges round by round); this bound only ends a
// round that keeps undoing another, and the report says when it did.
inline constexpr std::int32_t kMostRepairRounds = 48;

// Holes left open because they are too large and too wide to fill.
[[nodiscard]] std::uint64_t LargeHolesLeftOpen(const RepairForPrintReport& report);

// One round of fixes as Mesh > Repair and the Save STL check both run it: welding and filling
// small holes by `cleanup` at `tolerance`, then, when `fixes` is given, the repair driver (whose
// first pass takes away faces written twice).
struct FixRound {
    ExportCleanupReport cleanup;
    RepairReport repair;  // all zero without fixes
};
[[nodiscard]] FixRound RunFixRound(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& cleanup,
                                   const RepairOptions* fixes, const RepairProgress& progress,
                                   std::uint64_t bodiesBefore);

// One round of the Save STL check and what it leaves for the next. A round is a function of the
// part alone: one given the part bit for bit as the round before it was given it, and left it,
// would decide all that round decided again, so it takes that round's reports instead of
// running the fixes (on a part they cannot change, that was two or three times their whole
// cost for nothing).
struct CheckRoundMemo {
    bool partUnchanged = false;  // the last round gave the part back as it was given it
    TriangleMesh left;           // the part as the last round was given it and, unchanged, left it
    FixRound last;
};
// RunFixRound as the check's round after the one `memo` holds (every round of one check passes
// the same settings); `memo` then holds this one. A round taken from the one before reports 0 ms.
// The part is copied once per round to tell whether it changed, and compared with the next
// round's part, since the read-back between rounds may change it.
[[nodiscard]] FixRound RunCheckFixRound(TriangleMesh& mesh, float tolerance, const ExportCleanupOptions& cleanup,
                                        const RepairOptions* fixes, const RepairProgress& progress,
                                        std::uint64_t bodiesBefore, CheckRoundMemo& memo);

// What a slicer would complain about in the part as written to binary STL and read back.
struct ReadBackCounts {
    std::uint64_t trianglesWritten = 0;
    std::uint64_t trianglesRead = 0;
    std::uint64_t overSharedEdges = 0;   // edges used by more than two triangles after reading
    std::uint64_t openEdges = 0;         // edges used by exactly one triangle after reading
    std::uint64_t facetsWithNoArea = 0;  // triangles with no area as written
    // Triangles over the same three vertices as an earlier one, in either winding, after reading.
    std::uint64_t duplicateTriangles = 0;
    // False when the reader refused the bytes: the read counts are then unknown (left 0) and
    // must not be taken for a clean part; `error` holds the reader's reason.
    bool ok = false;
    std::string error;
};

// The rounds of the Save STL check: at most this many rounds of RunCheckFixRound and a read-back.
inline constexpr std::int32_t kCheckRounds = 3;

// Whether the check runs its fixes at all: any of the four switches on.
[[nodiscard]] bool CheckFixesWanted(const RepairOptions& fixes);

// Nothing a slicer would complain about: no over-shared or open edge, no facet with no area and
// no duplicate. A refused read (counts not `ok`) is never clean.
[[nodiscard]] bool IsCleanReadBack(const ReadBackCounts& counts);

// Whether the check's rounds end after one whose fixes gave `repair` and whose part read back as
// `counts`: a clean read-back ends them unless the triangles still passing through others keep
// falling. `fewestLeft` carries the fewest left so far from round to round (start it at the
// largest value).
[[nodiscard]] bool CheckRoundsEnd(const ReadBackCounts& counts, const RepairReport& repair, std::uint64_t& fewestLeft);

// Whether validation names a fault in the part that Repair is there to mend: an open or
// non-manifold edge, a surface without a consistent inside, a triangle or body wound the wrong
// way, a triangle of no area or repeated, a vertex no triangle uses.
[[nodiscard]] bool NamesFaultRepairMends(const ValidationReport& report);

// Repairs `mesh` in place for printing. An inconsistent mesh is left untouched (repaired
// false). `progress` (may be empty) receives each phase's text. Runs on the calling thread and
// cannot be stopped; allocation failures reach the caller, so callers pass a copy.
[[nodiscard]] RepairForPrintReport RepairForPrint(TriangleMesh& mesh, const RepairProgress& progress);

// Writes `mesh` as binary STL in memory, reads it back as a slicer will (vertices at one
// position, bit for bit, welded and nothing nearer joined; collapsed triangles dropped, flat ones
// kept) and counts the trouble, as the writer's own read-back counts it. On success the mesh is
// replaced by what was read; on a refusal it stays as it was and `ok` is false.
[[nodiscard]] ReadBackCounts ReadBackAsSlicer(TriangleMesh& mesh);

// Edges used by exactly one triangle and by more than two, from the edge table.
void CountOpenAndOverSharedEdges(const TriangleMesh& mesh, std::uint64_t& open, std::uint64_t& overShared);

inline constexpr const char* kRepairEmptiedText =
    "it would have removed every triangle of the part, which leaves nothing to print. The part is as it was.";

// Why a repair left `pairsLeft` doubled facets and the part as it was.
[[nodiscard]] std::string FormatUnchosenPairsText(std::uint64_t pairsLeft);
// That a repair left `pairsLeft` doubled facets as they are while it mended the rest.
[[nodiscard]] std::string FormatLeftPairsText(std::uint64_t pairsLeft);

// "Repair: nothing needed changing.\n", the reason nothing was changed, or "Repair:\n", the log
// and a line of before/after counts; then a line for the inserts and one for the hollows kept.
[[nodiscard]] std::string FormatRepairSummary(const RepairForPrintReport& report);

}  // namespace grainforge::mesh
