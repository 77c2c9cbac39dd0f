#include "engine/repair/tidying.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/welding.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace grainforge::mesh {
namespace {

// Whether triangle `t` runs its edge from `a` to `b` (rather than from b to a).
bool RunsFrom(const TriangleMesh& mesh, std::size_t t, std::uint32_t a, std::uint32_t b)
{
    const std::uint32_t* c = &mesh.indices[3 * t];
    return (c[0] == a && c[1] == b) || (c[1] == a && c[2] == b) || (c[2] == a && c[0] == b);
}

// Per component of the validation's walk, whether its windings disagree somewhere even with the
// walk's flips applied: a surface that cannot be oriented, such as a Moebius strip.
std::vector<std::uint8_t> UnorientableComponents(const TriangleMesh& mesh, const ValidationReport& report)
{
    std::vector<std::uint8_t> flip(mesh.TriangleCount(), 0);
    for (const std::uint32_t t : report.reversedTriangles)
        flip[t] = 1;
    std::vector<std::uint8_t> unorientable(report.componentCount, 0);
    const std::vector<EdgeRecord> table = BuildEdgeTable(mesh);
    for (std::size_t i = 0; i < table.size();) {
        std::size_t j = i + 1;
        while (j < table.size() && table[j].key == table[i].key)
            ++j;
        if (j - i == 2) {
            const auto a = static_cast<std::uint32_t>(table[i].key >> 32);
            const auto b = static_cast<std::uint32_t>(table[i].key & 0xffffffffu);
            const std::uint32_t t = table[i].triangle;
            const std::uint32_t u = table[i + 1].triangle;
            const bool tForward = RunsFrom(mesh, t, a, b) != (flip[t] != 0);
            const bool uForward = RunsFrom(mesh, u, a, b) != (flip[u] != 0);
            if (tForward == uForward)
                unorientable[report.triangleComponents[t]] = 1;
        }
        i = j;
    }
    return unorientable;
}

// Per triangle, whether to turn it: those validation finds wound against their body, or with
// `keepMost` the fewer of each component's triangles (the ones listed, or all the others: either
// way the windings agree). None in a component that cannot be oriented.
std::vector<std::uint8_t> TrianglesToTurn(const TriangleMesh& mesh, const ValidationReport& report, bool keepMost)
{
    const std::vector<std::uint8_t> unorientable =
        report.orientable ? std::vector<std::uint8_t>(report.componentCount, 0) : UnorientableComponents(mesh, report);
    std::vector<std::uint8_t> turn(mesh.TriangleCount(), 0);
    for (const std::uint32_t t : report.reversedTriangles)
        turn[t] = 1;
    std::vector<std::uint64_t> listed(report.componentCount, 0);
    std::vector<std::uint64_t> size(report.componentCount, 0);
    for (std::size_t t = 0; t < turn.size(); ++t) {
        listed[report.triangleComponents[t]] += turn[t];
        ++size[report.triangleComponents[t]];
    }
    for (std::size_t t = 0; t < turn.size(); ++t) {
        const std::uint32_t c = report.triangleComponents[t];
        if (unorientable[c] != 0)
            turn[t] = 0;
        else if (keepMost && 2 * listed[c] > size[c])
            turn[t] = !turn[t];
    }
    return turn;
}

// Reverses the triangles validation finds wound against their body, or with `keepMost` only makes
// each body's windings agree (TidyOptions::keepMostWindings). A component that cannot be oriented
// is left as it is, and keeps no other from being turned. Returns the number reversed.
std::uint64_t Reorient(TriangleMesh& mesh, bool keepMost)
{
    if (mesh.TriangleCount() == 0 || !mesh.IsConsistent())
        return 0;
    const ValidationReport report = FindWrongWayTriangles(mesh);
    if (report.reversedTriangles.empty())
        return 0;
    const std::vector<std::uint8_t> turn = TrianglesToTurn(mesh, report, keepMost);
    std::uint64_t reversed = 0;
    for (std::size_t t = 0; t < turn.size(); ++t) {
        if (turn[t] == 0)
            continue;
        std::swap(mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]);
        ++reversed;
    }
    if (reversed != 0)
        mesh.ComputeVertexNormals();
    return reversed;
}

}  // namespace

TidyReport TidyMesh(TriangleMesh& mesh, const TidyOptions& options)
{
    TidyReport report;
    if (!mesh.IsConsistent())
        return report;
    if (options.mergeVertices) {
        if (options.weldTolerance < 0.0f) {
            const std::vector<float> tolerances = LocalWeldTolerances(mesh);
            report.weldTolerance = LargestTolerance(tolerances);
            report.verticesMerged = WeldVerticesWithin(mesh, tolerances);
        } else {
            report.weldTolerance = options.weldTolerance;
            report.verticesMerged = options.weldTolerance > 0.0f ? WeldVerticesWithin(mesh, options.weldTolerance)
                                                                 : WeldIdenticalVertices(mesh);
        }
    }
    if (options.removeDegenerate)
        report.degenerateRemoved = RemoveZeroAreaTriangles(mesh);
    if (options.removeDuplicates)
        report.duplicatesRemoved = RemoveDuplicateTriangles(mesh);
    if (options.reorient)
        report.trianglesReoriented = Reorient(mesh, options.keepMostWindings);
    if (options.removeUnusedVertices)
        report.unusedVerticesRemoved = RemoveUnusedVertices(mesh);
    report.changed = report.verticesMerged > 0 || report.degenerateRemoved > 0 || report.duplicatesRemoved > 0
        || report.trianglesReoriented > 0 || report.unusedVerticesRemoved > 0;
    if (!report.changed)
        return report;
    mesh.ComputeBounds();
    if (options.recomputeNormals)
        mesh.ComputeVertexNormals();
    return report;
}

std::string FormatTidyReport(const TidyReport& report)
{
    if (!report.changed)
        return "Repair: nothing needed changing.\n";
    std::string text = "Repair:\n";
    const std::pair<const char*, std::uint64_t> lines[] = {
        {"  Vertices merged: ", report.verticesMerged},
        {"  Degenerate triangles removed: ", report.degenerateRemoved},
        {"  Duplicate triangles removed: ", report.duplicatesRemoved},
        {"  Triangles reoriented: ", report.trianglesReoriented},
        {"  Unused vertices removed: ", report.unusedVerticesRemoved},
    };
    for (const auto& [label, count] : lines) {
        if (count > 0)
            text += label + FormatCountGrouped(count) + "\n";
    }
    return text;
}

}  // namespace grainforge::mesh
