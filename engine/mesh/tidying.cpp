#include "engine/mesh/tidying.h"

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

// Reverses the triangles validation finds wound against their body, when the surface can be
// oriented at all. Returns the number reversed.
std::uint64_t Reorient(TriangleMesh& mesh)
{
    if (mesh.TriangleCount() == 0 || !mesh.IsConsistent())
        return 0;
    ValidationOptions options;
    options.sliverQualityLimit = 0.001f;
    options.checkSelfIntersections = false;
    options.displacedResult = false;
    options.maximumSelfIntersectionPairs = kSearchPairLimit;
    const ValidationReport report = ValidateMesh(mesh, options);
    if (!report.orientable || report.reversedTriangles.empty())
        return 0;
    for (std::uint32_t t : report.reversedTriangles)
        std::swap(mesh.indices[std::size_t{3} * t + 1], mesh.indices[std::size_t{3} * t + 2]);
    mesh.ComputeVertexNormals();
    return report.reversedTriangles.size();
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
        report.trianglesReoriented = Reorient(mesh);
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
