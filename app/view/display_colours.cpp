#include "app/view/display_colours.h"

#include "app/view/display_section.h"
#include "engine/mesh/aabb_tree.h"
#include "engine/mesh/parallel_loop.h"

#include <array>
#include <cmath>

namespace grainforge::app {

namespace dc = display_colour;

Vec3 ComponentColour(std::uint32_t component)
{
    static constexpr std::array<Vec3, 8> kColours{{{0.85f, 0.42f, 0.35f},
                                                   {0.42f, 0.72f, 0.85f},
                                                   {0.55f, 0.8f, 0.45f},
                                                   {0.88f, 0.75f, 0.38f},
                                                   {0.72f, 0.52f, 0.85f},
                                                   {0.45f, 0.82f, 0.75f},
                                                   {0.9f, 0.6f, 0.75f},
                                                   {0.7f, 0.7f, 0.55f}}};
    return kColours[component % 8];
}

std::vector<Vec3> ComponentColours(const std::vector<std::uint32_t>& components, std::size_t triangleCount)
{
    std::vector<Vec3> colours(triangleCount);
    mesh::ParallelFor(triangleCount, [&](std::size_t t) {
        colours[t] = ComponentColour(t < components.size() ? components[t] : 0u);
    });
    return colours;
}

std::vector<Vec3> PrintCheckColours(const mesh::PrintabilityReport& report, std::size_t triangleCount)
{
    if (report.supportTriangles.empty() && report.farTriangles.empty() && report.bridgeTriangles.empty())
        return {};
    std::vector<Vec3> colours(triangleCount, dc::kPrintBase);
    const auto paint = [&](const std::vector<std::uint32_t>& list, Vec3 colour) {
        for (const std::uint32_t t : list)
            if (t < triangleCount)
                colours[t] = colour;
    };
    paint(report.bridgeTriangles, dc::kPrintLevel3);
    paint(report.farTriangles, dc::kPrintLevel2);
    paint(report.supportTriangles, dc::kPrintLevel1);
    return colours;
}

std::vector<Vec3> SlicedPrintCheckColours(const TriangleMesh& preview, const std::vector<std::uint32_t>& firstLayers,
                                          std::uint64_t layerStride, const mesh::PrintabilityReport& report)
{
    const std::size_t count = preview.TriangleCount();
    if (firstLayers.size() != count || !preview.IsConsistent())
        return {};
    if (report.supportKeys.empty() && report.farKeys.empty() && report.bridgeKeys.empty())
        return {};
    std::vector<Vec3> colours(count, dc::kPrintBase);
    if (!(report.cellSize > 0.0f))
        return colours;
    const int up = ((report.upAxis % 3) + 3) % 3;
    const auto axis = [](Vec3 p, int a) { return a == 0 ? p.x : (a == 1 ? p.y : p.z); };
    // No cell is marked past the report's layers, so a stride beyond them ends there rather
    // than spinning through empty layers.
    const std::uint64_t stride = std::max<std::uint64_t>(layerStride, 1);
    mesh::ParallelFor(count, [&](std::size_t t) {
        const Vec3 a = preview.vertices[preview.indices[3 * t]].position;
        const Vec3 b = preview.vertices[preview.indices[3 * t + 1]].position;
        const Vec3 c = preview.vertices[preview.indices[3 * t + 2]].position;
        const Vec3 centroid{(a.x + b.x + c.x) / 3.0f, (a.y + b.y + c.y) / 3.0f, (a.z + b.z + c.z) / 3.0f};
        const double cu = std::floor((double(axis(centroid, (up + 1) % 3)) - report.originX) / report.cellSize);
        const double cv = std::floor((double(axis(centroid, (up + 2) % 3)) - report.originY) / report.cellSize);
        if (!(std::fabs(cu) < 4e18) || !(std::fabs(cv) < 4e18))
            return;
        const auto column = static_cast<std::int64_t>(cu);
        const auto row = static_cast<std::int64_t>(cv);
        for (std::uint64_t k = 0; k < stride && firstLayers[t] + k < report.layers; ++k) {
            const auto layer = static_cast<std::int64_t>(firstLayers[t] + k);
            if (mesh::IsNearMarkedCell(column, row, layer, report.supportKeys)) {
                colours[t] = dc::kPrintLevel1;
                return;
            }
            if (mesh::IsNearMarkedCell(column, row, layer, report.farKeys)) {
                colours[t] = dc::kPrintLevel2;
                return;
            }
            if (mesh::IsNearMarkedCell(column, row, layer, report.bridgeKeys)) {
                colours[t] = dc::kPrintLevel3;
                return;
            }
        }
    });
    return colours;
}

std::vector<Vec3> ProjectorColours(const TriangleMesh& mesh, const mesh::Projection& projection)
{
    if (!mesh.IsConsistent())
        return {};
    std::vector<Vec3> colours(mesh.TriangleCount());
    mesh::ParallelFor(colours.size(), [&](std::size_t t) {
        const Vec3 a = mesh.vertices[mesh.indices[3 * t]].position;
        const Vec3 b = mesh.vertices[mesh.indices[3 * t + 1]].position;
        const Vec3 c = mesh.vertices[mesh.indices[3 * t + 2]].position;
        const Vec3 centroid{(a.x + b.x + c.x) / 3.0f, (a.y + b.y + c.y) / 3.0f, (a.z + b.z + c.z) / 3.0f};
        const mesh::ProjectionSamples samples = mesh::MapThroughProjection(projection, centroid, mesh.FaceNormal(t));
        float weight = 0.0f;
        for (int i = 0; i < samples.count && i < 3; ++i)
            weight = std::max(weight, samples.samples[i].weight);
        const int side = samples.dominantSide;
        if (weight > 0.0f && side >= 0 && side <= 5)
            colours[t] = side < 2 ? dc::kProjectorX : (side < 4 ? dc::kProjectorY : dc::kProjectorZ);
        else
            colours[t] = dc::kProjectorNone;
    });
    return colours;
}

std::vector<Vec3> OuterInnerColours(std::size_t triangleCount, const std::vector<std::uint8_t>& classes)
{
    std::vector<Vec3> colours(triangleCount, dc::kOuterInnerBase);
    const std::size_t classified = std::min(triangleCount, classes.size());
    for (std::size_t t = 0; t < classified; ++t) {
        if (classes[t] == 1)
            colours[t] = dc::kOuterSurface;
        else if (classes[t] == 0)
            colours[t] = dc::kInnerSurface;
    }
    return colours;
}

std::vector<Vec3> BuildDisplayColours(const DisplayColourInputs& in)
{
    std::vector<Vec3> colours;
    if (in.mesh == nullptr || !in.mesh->IsConsistent())
        return colours;
    const TriangleMesh& shown = *in.mesh;
    const std::size_t count = shown.TriangleCount();
    const bool plainSection = in.sectionMode == 0 && !in.clipping;
    const bool hasPrintCheck = in.printCheck && in.printReport != nullptr && in.printReport->checked;

    if (in.colourByComponent && plainSection && in.validation != nullptr)
        colours = ComponentColours(in.validation->triangleComponents, count);
    if (hasPrintCheck && plainSection) {
        std::vector<Vec3> print = PrintCheckColours(*in.printReport, count);
        if (!print.empty())
            colours = std::move(print);
    }
    if (hasPrintCheck && in.sectionMode == 4 && !in.clipping && in.sliceFirstLayers != nullptr) {
        std::vector<Vec3> print = SlicedPrintCheckColours(shown, *in.sliceFirstLayers, in.sliceLayerStride,
                                                          *in.printReport);
        if (!print.empty())
            colours = std::move(print);
    }
    if (in.sectionMode == 3 && in.workingPart != nullptr) {
        mesh::AabbTree tree;
        tree.Build(*in.workingPart);
        // Four queries a triangle over a million triangles: reading leaves from one run of
        // memory pays for the copy many times over. The answers are the same to the bit.
        tree.KeepCorners(*in.workingPart);
        float scale = 0.0f;
        const std::vector<float> values = MeasureDisplayDeviationParallel(shown, tree, *in.workingPart, scale);
        colours = HeatMapColours(values, scale);
    }
    if (in.surfaceMode == 2 && in.projection != nullptr)
        colours = ProjectorColours(shown, *in.projection);
    if (in.surfaceMode == 4 && plainSection)
        colours = OuterInnerColours(count, in.surfaceClasses != nullptr ? *in.surfaceClasses : std::vector<std::uint8_t>{});
    return colours;
}

}  // namespace grainforge::app
