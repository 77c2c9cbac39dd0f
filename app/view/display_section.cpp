#include "app/view/display_section.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/pipeline/sliced_preview.h"

#include <algorithm>
#include <cmath>

namespace grainforge::app {

namespace {

mesh::MeshVertex Crossing(const mesh::MeshVertex& a, const mesh::MeshVertex& b, double da, double db)
{
    const double t = da == db ? 0.0 : da / (da - db);
    const auto lerp = [t](float x, float y) { return static_cast<float>(x + (y - x) * t); };
    mesh::MeshVertex v;
    v.position = {lerp(a.position.x, b.position.x), lerp(a.position.y, b.position.y),
                  lerp(a.position.z, b.position.z)};
    Vec3 n{lerp(a.normal.x, b.normal.x), lerp(a.normal.y, b.normal.y), lerp(a.normal.z, b.normal.z)};
    const double length = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
    v.normal = length > 1e-12 ? Vec3{float(n.x / length), float(n.y / length), float(n.z / length)} : Vec3{};
    return v;
}

}  // namespace

void AppendTriangleCopy(TriangleMesh& out, const mesh::MeshVertex& a, const mesh::MeshVertex& b,
                        const mesh::MeshVertex& c)
{
    const auto base = static_cast<std::uint32_t>(out.vertices.size());
    out.vertices.push_back(a);
    out.vertices.push_back(b);
    out.vertices.push_back(c);
    out.indices.insert(out.indices.end(), {base, base + 1, base + 2});
}

TriangleMesh ClipMeshByPlane(const TriangleMesh& mesh, Vec3 point, Vec3 normal)
{
    TriangleMesh out;
    if (!mesh.IsConsistent())
        return out;
    const double length = std::sqrt(double(normal.x) * normal.x + double(normal.y) * normal.y +
                                    double(normal.z) * normal.z);
    if (!(length > 0.0)) {
        out = mesh;
        out.ComputeBounds();
        return out;
    }
    const double nx = normal.x / length, ny = normal.y / length, nz = normal.z / length;
    const auto distance = [&](Vec3 p) {
        return (double(p.x) - point.x) * nx + (double(p.y) - point.y) * ny + (double(p.z) - point.z) * nz;
    };
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const mesh::MeshVertex* corner[3];
        double d[3];
        int kept = 0;
        for (int i = 0; i < 3; ++i) {
            corner[i] = &mesh.vertices[mesh.indices[3 * t + i]];
            d[i] = distance(corner[i]->position);
            kept += d[i] >= 0.0 ? 1 : 0;
        }
        if (kept == 0)
            continue;
        if (kept == 3) {
            AppendTriangleCopy(out, *corner[0], *corner[1], *corner[2]);
            continue;
        }
        mesh::MeshVertex polygon[4];
        int count = 0;
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3;
            if (d[i] >= 0.0)
                polygon[count++] = *corner[i];
            if ((d[i] >= 0.0) != (d[j] >= 0.0))
                polygon[count++] = Crossing(*corner[i], *corner[j], d[i], d[j]);
        }
        AppendTriangleCopy(out, polygon[0], polygon[1], polygon[2]);
        if (count == 4)
            AppendTriangleCopy(out, polygon[0], polygon[2], polygon[3]);
    }
    out.ComputeBounds();
    return out;
}

void MeasureDisplayDeviation(std::size_t first, std::size_t last, const TriangleMesh& shown,
                             const mesh::AabbTree& tree, const TriangleMesh& reference,
                             std::vector<float>& values)
{
    last = std::min({last, shown.TriangleCount(), values.size()});
    for (std::size_t t = first; t < last; ++t) {
        const Vec3 a = shown.vertices[shown.indices[3 * t]].position;
        const Vec3 b = shown.vertices[shown.indices[3 * t + 1]].position;
        const Vec3 c = shown.vertices[shown.indices[3 * t + 2]].position;
        const Vec3 centroid{(a.x + b.x + c.x) / 3.0f, (a.y + b.y + c.y) / 3.0f, (a.z + b.z + c.z) / 3.0f};
        float largest = 0.0f;
        for (const Vec3 p : {a, b, c, centroid}) {
            const mesh::NearestHit hit = tree.Nearest(reference, p, {}, {}, mesh::kNoDistanceLimit);
            if (hit.found)
                largest = std::max(largest, hit.distance);
        }
        values[t] = largest;
    }
}

std::vector<float> MeasureDisplayDeviationParallel(const TriangleMesh& shown, const mesh::AabbTree& tree,
                                                   const TriangleMesh& reference, float& scale)
{
    scale = 0.0f;
    std::vector<float> values;
    if (!shown.IsConsistent())
        return values;
    values.assign(shown.TriangleCount(), 0.0f);
    // Four tree searches a triangle: small blocks still pay for their threads.
    mesh::ParallelForBlocks(values.size(), 512, [&](std::size_t begin, std::size_t end) {
        MeasureDisplayDeviation(begin, end, shown, tree, reference, values);
    });
    for (const float v : values)
        scale = std::max(scale, v);
    return values;
}

Vec3 HeatMapColour(float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    if (t < 0.25f)
        return {0.05f, 0.05f, 0.35f + 2.6f * t};
    if (t < 0.5f)
        return {0.05f, 3.6f * (t - 0.25f), 1.0f - 2.4f * (t - 0.25f)};
    if (t < 0.75f)
        return {4.0f * (t - 0.5f), 0.9f, 0.1f};
    return {1.0f, 0.9f - 3.4f * (t - 0.75f), 0.1f};
}

std::vector<Vec3> HeatMapColours(const std::vector<float>& values, float scale)
{
    std::vector<Vec3> colours;
    if (values.empty())
        return colours;
    if (!(scale > 0.0f)) {
        float largest = 0.0f;
        for (const float v : values)
            largest = std::max(largest, v);
        scale = largest > 0.0f ? largest : 1.0f;
    }
    colours.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        colours[i] = HeatMapColour(std::isnan(values[i]) ? 0.0f : values[i] / scale);
    return colours;
}

void BuildSectionedMesh(SectionedMesh& out, const TriangleMesh& display, const TriangleMesh& workingPart,
                        int sectionMode, bool clipping, Vec3 cageCentre, int upAxis)
{
    out = SectionedMesh{};
    out.shown = &display;
    if (sectionMode == 1) {
        out.shown = &workingPart;
    } else if (sectionMode == 2) {
        out.made = ClipMeshByPlane(display, cageCentre, {1.0f, 0.0f, 0.0f});
        const TriangleMesh loaded = ClipMeshByPlane(workingPart, cageCentre, {-1.0f, 0.0f, 0.0f});
        const auto offset = static_cast<std::uint32_t>(out.made.vertices.size());
        out.made.vertices.insert(out.made.vertices.end(), loaded.vertices.begin(), loaded.vertices.end());
        for (const std::uint32_t index : loaded.indices)
            out.made.indices.push_back(index + offset);
        out.made.ComputeBounds();
        out.shown = &out.made;
    } else if (sectionMode == 4) {
        mesh::SlicedPreviewSettings settings;
        settings.layerHeightMillimetres = 0.2f;
        settings.lineWidthMillimetres = 0.42f;
        settings.upAxis = upAxis;
        settings.toleranceMillimetres = 0.03f;
        settings.segmentBudget = 800000;
        settings.skins = true;
        mesh::SlicedPreview preview;
        mesh::BuildSlicedPreview(preview, display, settings);
        out.slicedReport = mesh::FormatSlicedPreviewReport(preview);
        out.sliceFirstLayers = std::move(preview.triangleLayers);
        out.sliceLayerStride = preview.layerStep;
        out.made = std::move(preview.mesh);
        out.shown = &out.made;
    }
    if (clipping) {
        TriangleMesh clipped = ClipMeshByPlane(*out.shown, cageCentre, {1.0f, 0.0f, 0.0f});
        out.made = std::move(clipped);
        out.shown = &out.made;
        // The clip gives new triangles: the sliced layers no longer match them.
        if (out.sliceFirstLayers.size() != out.made.TriangleCount())
            out.sliceFirstLayers.clear();
    }
}

}  // namespace grainforge::app
