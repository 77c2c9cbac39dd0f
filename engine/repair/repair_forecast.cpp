#include "engine/repair/repair_forecast.h"

#include "engine/repair/crumb_removal.h"
#include "engine/repair/fix_change.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/repair/repair_job.h"
#include "engine/mesh/self_intersection.h"

#include <limits>
#include <vector>

namespace grainforge::mesh {
namespace {

// The check's rounds on `mesh` in place, as the check runs them; false when a read-back was
// refused, which ends the check without a count.
bool RunCheckRounds(const TriangleMesh& given, TriangleMesh& mesh, const CheckFixSettings& settings)
{
    const bool fixesWanted = CheckFixesWanted(settings.fixes);
    // As the check does: every round judged against the part as given.
    FixBaseline baseline(given);
    RepairOptions fixes = settings.fixes;
    fixes.judgeAgainst = &baseline;
    std::uint64_t fewestLeft = std::numeric_limits<std::uint64_t>::max();
    CheckRoundMemo memo;
    for (std::int32_t round = 1; round <= kCheckRounds; ++round) {
        const FixRound fixed = RunCheckFixRound(mesh, settings.tolerance, settings.cleanup,
                                                fixesWanted ? &fixes : nullptr, {}, settings.bodies, memo);
        const ReadBackCounts counts = ReadBackAsSlicer(mesh);
        if (!counts.ok)
            return false;
        if (!fixesWanted || CheckRoundsEnd(counts, fixed.repair, fewestLeft))
            break;
    }
    return true;
}

// The triangles of `pairs` that cross a triangle of their own body.
std::uint64_t CountCrossingWithinBodies(const TriangleMesh& mesh, const std::vector<std::uint32_t>& pairs)
{
    std::uint32_t bodies = 0;
    const std::vector<std::uint32_t> bodyOf = LabelBodies(mesh, bodies);
    std::vector<std::uint8_t> within(mesh.TriangleCount(), 0);
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        const std::uint32_t a = pairs[i];
        const std::uint32_t b = pairs[i + 1];
        // Without labels no pair can be shown to lie between bodies.
        if (bodyOf.empty() || bodyOf[a] == bodyOf[b])
            within[a] = within[b] = 1;
    }
    std::uint64_t count = 0;
    for (const std::uint8_t flag : within)
        count += flag;
    return count;
}

}  // namespace

std::uint64_t CountCrossingTriangles(const TriangleMesh& mesh, bool& stopped)
{
    std::vector<std::uint32_t> pairs;
    FindSelfIntersections(mesh, {}, kSearchPairLimit, pairs, stopped);
    return DistinctTrianglesOfPairs(std::move(pairs)).size();
}

CheckCrossingForecast ForecastCheckCrossings(const TriangleMesh& part, std::uint64_t before,
                                             const CheckFixSettings& settings)
{
    CheckCrossingForecast forecast;
    forecast.before = before;
    if (before == 0) {
        forecast.known = true;
        return forecast;
    }
    if (before > kForecastCrossingLimit)
        return forecast;
    TriangleMesh copy = part;
    if (!RunCheckRounds(part, copy, settings))
        return forecast;
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    FindSelfIntersections(copy, {}, kSearchPairLimit, pairs, stopped);
    if (stopped)
        return forecast;
    forecast.leftWithinBodies = CountCrossingWithinBodies(copy, pairs);
    forecast.left = DistinctTrianglesOfPairs(std::move(pairs)).size();
    forecast.known = true;
    return forecast;
}

std::uint64_t NonManifoldEdgesRepairLeaves(const TriangleMesh& part)
{
    if (CountNonManifoldEdges(part) == 0)
        return 0;
    TriangleMesh copy = part;
    const RepairForPrintReport report = RepairForPrint(copy, {});
    return report.repaired ? report.nonManifoldEdgesAfter : report.nonManifoldEdgesBefore;
}

}  // namespace grainforge::mesh
