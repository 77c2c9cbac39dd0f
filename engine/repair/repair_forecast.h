// What a next step that a report advises will do to this part, found by running that step's own
// rules on a copy of it: the fix rounds of the Save STL check on the triangles that pass through
// others, and Repair on the edges shared by more than two triangles. A text that names the step
// then says what following it does, measured, and changes with the step's rules. Nothing here
// changes the part; each forecast costs about one run of the step it forecasts, so callers ask
// only when the part has the trouble in question.
#pragma once

#include "engine/mesh/export_cleanup.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/mesh/welding.h"

#include <cstdint>

namespace grainforge::mesh {

// What the Save STL check is given besides the part: the document's export cleanup and fixes,
// the weld tolerance and the part's body count.
struct CheckFixSettings {
    float tolerance = kAutomaticWeldTolerance;
    ExportCleanupOptions cleanup{};
    RepairOptions fixes{};
    std::uint64_t bodies = 0;
};

// The triangles passing through others before and after the check's fixes.
struct CheckCrossingForecast {
    // False when nothing can be said: a search stopped at its pair limit, or the part as the
    // check reads it back was refused. Texts then promise nothing of the check.
    bool known = false;
    std::uint64_t before = 0;  // as given
    std::uint64_t left = 0;    // after the check's rounds, as its checklist counts them
    // Of `left`, those that cross a triangle of their own body (joined through edges): a
    // surface through itself. The others lie where separate bodies overlap or touch.
    std::uint64_t leftWithinBodies = 0;

    [[nodiscard]] std::uint64_t Parted() const { return before > left ? before - left : 0; }
};

// Beyond this many triangles passing through others the check's rounds take as long as a save
// does (a printer bed of 6,000 or more: half a minute to well over a minute), which Repair is
// not made to wait for: such a forecast is left unknown, and Repair's text then promises nothing
// of the check, which says what it parted when the part is saved.
inline constexpr std::uint64_t kForecastCrossingLimit = 5000;

// Runs the check's rounds (RunCheckFixRound with `settings`, a read-back as a slicer reads it,
// up to kCheckRounds as CheckRoundsEnd decides) on a copy of `part`, whose triangles passing through
// others number `before` (validation's count, or CountCrossingTriangles), and counts what they
// leave. Nothing runs when `before` is 0, nor beyond kForecastCrossingLimit (then unknown).
// Runs on the calling thread; the searches of the fixes run in parallel inside. Exceptions (allocation failure) reach the caller.
[[nodiscard]] CheckCrossingForecast ForecastCheckCrossings(const TriangleMesh& part, std::uint64_t before,
                                                          const CheckFixSettings& settings);

// The distinct triangles of `mesh` that pass through others, by validation's search and its
// pair limit; `stopped` is set (and the count means nothing) when the search reached the limit.
[[nodiscard]] std::uint64_t CountCrossingTriangles(const TriangleMesh& mesh, bool& stopped);

// The edges shared by more than two triangles that Mesh > Repair leaves in `part`: RepairForPrint
// run on a copy. 0 without such edges (then nothing runs); the part's own count when Repair
// changes nothing.
[[nodiscard]] std::uint64_t NonManifoldEdgesRepairLeaves(const TriangleMesh& part);

}  // namespace grainforge::mesh
