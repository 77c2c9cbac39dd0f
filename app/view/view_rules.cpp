#include "app/view/view_rules.h"

#include "engine/mesh/aabb_tree.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <execution>
#include <numeric>

namespace grainforge::app {

namespace {

constexpr float kPi = 3.1415927f;

bool Same(float a, float b) { return a == b; }  // a NaN is never equal
bool Same(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

}  // namespace

float ViewCubeScale(int width, int height, float dpiScale)
{
    const float scale = dpiScale > 0.0f && std::isfinite(dpiScale) ? dpiScale : 1.0f;
    // The square and its margin at scale 1, as the cube is laid out.
    const gl::ViewCubeLayout unit = gl::BuildViewCubeLayout(0, 1.0f, 0.0f, 0.0f);
    const float footprint = unit.squareSize + unit.squareY;
    const float room = 0.5f * static_cast<float>(std::max(std::min(width, height), 0));
    const float fits = std::min(scale, room / footprint);
    return fits >= 0.5f * scale ? fits : 0.0f;
}

std::wstring ToolName(std::uint32_t tool)
{
    static const wchar_t* const kNames[] = {L"Tool: none (orbit)", L"Tool: Move Texture", L"Tool: Rotate Texture",
                                            L"Tool: Zoom Texture", L"Tool: Move Cage",     L"Tool: Rotate Cage",
                                            L"Tool: Move Mask",    L"Tool: Rotate Mask",   L"Tool: Scale Mask"};
    return tool < std::size(kNames) ? kNames[tool] : L"";
}

std::vector<std::wstring> ToolNames()
{
    std::vector<std::wstring> names;
    for (std::uint32_t tool = 0; !ToolName(tool).empty(); ++tool)
        names.push_back(ToolName(tool));
    return names;
}

int ToolFromCommand(int commandId)
{
    switch (commandId) {
    case 32817: return 0;
    case 32845: return 1;
    case 32846: return 2;
    case 32847: return 3;
    case 32814: return 4;
    case 32815: return 5;
    case 32905: return 6;
    case 32906: return 7;
    case 32907: return 8;
    default: return -1;
    }
}

std::wstring FrameStatisticsText(const gl::FrameStatistics& statistics, bool hasMesh)
{
    if (!hasMesh)
        return {};
    char text[96];
    if (statistics.gpuTimingValid)
        std::snprintf(text, sizeof text, "GPU %.1f ms  |  %.0f fps", statistics.gpuMilliseconds,
                      statistics.framesPerSecond);
    else
        std::snprintf(text, sizeof text, "%.1f ms  |  %.0f fps", statistics.frameMilliseconds,
                      statistics.framesPerSecond);
    const std::string narrow(text);
    return std::wstring(narrow.begin(), narrow.end());
}

std::wstring WidestFrameStatisticsText()
{
    gl::FrameStatistics widest;
    widest.gpuTimingValid = true;
    widest.gpuMilliseconds = 999.9;
    widest.framesPerSecond = 9999.0;
    return FrameStatisticsText(widest, true);
}

bool ProjectionOverlaysEqual(const gl::ProjectionOverlay& a, const gl::ProjectionOverlay& b)
{
    if (a.blend == 0 && b.blend == 0)
        return true;
    if (a.blend != b.blend || !Same(a.blendSharpness, b.blendSharpness) || !Same(a.cageCenter, b.cageCenter) ||
        !Same(a.cageAxisX, b.cageAxisX) || !Same(a.cageAxisY, b.cageAxisY) || !Same(a.cageAxisZ, b.cageAxisZ) ||
        a.sphere != b.sphere || !Same(a.sphereRadius, b.sphereRadius))
        return false;
    for (int s = 0; s < 6; ++s) {
        if (a.sideEnabled[s] != b.sideEnabled[s] || !Same(a.layerOrigin[s][0], b.layerOrigin[s][0]) ||
            !Same(a.layerOrigin[s][1], b.layerOrigin[s][1]) || !Same(a.layerTurn[s], b.layerTurn[s]) ||
            !Same(a.layerZoom[s], b.layerZoom[s]) || !Same(a.faceU[s], b.faceU[s]) || !Same(a.faceV[s], b.faceV[s]) ||
            !Same(a.faceN[s], b.faceN[s]) || !Same(a.faceTurn[s], b.faceTurn[s]))
            return false;
    }
    return true;
}

gl::ProjectionOverlay BuildProjectionOverlay(bool hasPart, const mesh::Projection& projection,
                                             const mesh::TextureSettings& texture)
{
    gl::ProjectionOverlay overlay;
    if (!hasPart)
        return overlay;
    const mesh::Projection frames = mesh::BuildTileFrames(projection, texture);
    const bool boxOrSphere =
        frames.type == mesh::ProjectionKind::Box || frames.type == mesh::ProjectionKind::Sphere;
    overlay.blend = boxOrSphere && frames.boxBlended != 0 ? 1 : 0;
    if (frames.type == mesh::ProjectionKind::Sphere) {
        overlay.sphere = 1;
        overlay.sphereRadius =
            0.5f * std::max({frames.cage.size.x, frames.cage.size.y, frames.cage.size.z});
        for (int s = 0; s < 6; ++s) {
            const struct mesh::SideFrame side = mesh::SideFrame(s, frames.sphereAxis);
            overlay.faceU[s] = side.uAxis;
            overlay.faceV[s] = side.vAxis;
            overlay.faceN[s] = side.normal;
            overlay.faceTurn[s] = side.azimuth;
        }
    }
    if (overlay.blend != 0) {
        overlay.blendSharpness = frames.boxBlendSharpness;
        overlay.cageCenter = frames.cage.center;
        const mesh::CageAxes axes = mesh::EulerDegreesToMatrix(frames.cage.rotationDegrees);
        overlay.cageAxisX = axes.x;
        overlay.cageAxisY = axes.y;
        overlay.cageAxisZ = axes.z;
        for (int s = 0; s < 6; ++s) {
            overlay.sideEnabled[s] = frames.boxSideEnabled[s];
            overlay.layerOrigin[s][0] = frames.layers[s].originMillimetres[0];
            overlay.layerOrigin[s][1] = frames.layers[s].originMillimetres[1];
            overlay.layerTurn[s] = frames.layers[s].rotationDegrees * kPi / 180.0f;
            overlay.layerZoom[s] = frames.layers[s].zoom;
        }
    }
    return overlay;
}

std::vector<mesh::MaskVolume> DisplayedMasks(bool hasPart, bool previewShown,
                                             const std::vector<mesh::MaskVolume>& volumes)
{
    std::vector<mesh::MaskVolume> shown;
    if (!hasPart || !previewShown)
        return shown;
    for (const mesh::MaskVolume& volume : volumes) {
        if (volume.enabled == 0)
            continue;
        if (shown.size() == kMaxDisplayedMasks)
            break;
        shown.push_back(volume);
    }
    return shown;
}

std::optional<std::uint32_t> NextSurfaceMode(SurfaceModeMemory& memory, bool previewShown,
                                             const TriangleMesh* result, bool hasHeightMap)
{
    std::uint32_t mode = 0;
    if (!previewShown) {
        if (result != memory.resultMesh) {
            memory.resultMesh = result;
            memory.resultChoiceSet = false;
        }
        mode = memory.resultChoiceSet ? memory.resultChoice : 0;
    } else {
        mode = hasHeightMap ? 3 : 1;
        if (memory.previewChoiceSet)
            mode = memory.previewChoice;
    }
    if (memory.pushedValid && memory.pushed == mode)
        return std::nullopt;
    memory.pushed = mode;
    memory.pushedValid = true;
    return mode;
}

void ShiftAcrossSeam(const std::array<float, 2>& a, std::array<float, 2>& b, std::array<float, 2>& c,
                     std::array<float, 2> turn)
{
    const float length2 = turn[0] * turn[0] + turn[1] * turn[1];
    if (!(length2 > 0.0f))
        return;
    for (std::array<float, 2>* corner : {&b, &c}) {
        const float dot = (a[0] - (*corner)[0]) * turn[0] + (a[1] - (*corner)[1]) * turn[1];
        const float k = std::nearbyint(dot / length2);
        (*corner)[0] += k * turn[0];
        (*corner)[1] += k * turn[1];
    }
}

std::vector<std::array<float, 2>> ComputeDisplayProjection(const TriangleMesh& mesh, const mesh::Projection& frames)
{
    std::vector<std::array<float, 2>> corners(mesh.indices.size(), {0.0f, 0.0f});
    if (!mesh.IsConsistent() || mesh.indices.empty())
        return corners;
    const bool cylinder = frames.type == mesh::ProjectionKind::Cylinder;
    std::array<float, 2> turn{0.0f, 0.0f};
    if (cylinder) {
        const float circumference = 2.0f * kPi * mesh::CylinderRadius(frames);
        if (circumference > 0.0f) {
            const mesh::SidePoint at = mesh::SideLayerCoordinates(frames, 0, {circumference, 0.0f});
            const mesh::SidePoint zero = mesh::SideLayerCoordinates(frames, 0, {0.0f, 0.0f});
            turn = {at.u - zero.u, at.v - zero.v};
        }
    }
    std::vector<std::size_t> triangles(mesh.TriangleCount());
    std::iota(triangles.begin(), triangles.end(), std::size_t{0});
    std::for_each(std::execution::par, triangles.begin(), triangles.end(), [&](std::size_t t) {
        const Vec3 normal = mesh.FaceNormal(t);
        bool sampled[3] = {false, false, false};
        bool onWall[3] = {false, false, false};
        for (std::size_t k = 0; k < 3; ++k) {
            const Vec3 p = mesh.vertices[mesh.indices[3 * t + k]].position;
            const mesh::ProjectionSamples samples = mesh::MapThroughProjection(frames, p, normal);
            int best = -1;
            float bestWeight = -1.0f;
            for (int i = 0; i < samples.count && i < 3; ++i) {
                if (samples.samples[i].weight > bestWeight) {
                    bestWeight = samples.samples[i].weight;
                    best = i;
                }
            }
            if (best >= 0) {
                corners[3 * t + k] = {samples.samples[best].u, samples.samples[best].v};
                sampled[k] = true;
                onWall[k] = samples.samples[best].side == 0;
            }
        }
        if (cylinder && sampled[0] && sampled[1] && sampled[2] && onWall[0] && onWall[1] && onWall[2])
            ShiftAcrossSeam(corners[3 * t], corners[3 * t + 1], corners[3 * t + 2], turn);
    });
    return corners;
}

Vec3 CageSideColour(int side, bool switchedOff, bool lightened)
{
    Vec3 colour{0.45f, 0.47f, 0.5f};
    if (switchedOff)
        colour = {0.38f, 0.4f, 0.43f};
    else if (side == 0 || side == 1)
        colour = {0.88f, 0.28f, 0.25f};
    else if (side == 2 || side == 3)
        colour = {0.32f, 0.78f, 0.36f};
    else if (side == 4 || side == 5)
        colour = {0.3f, 0.52f, 0.92f};
    if (lightened)
        colour = {std::min(colour.x + 0.35f, 1.0f), std::min(colour.y + 0.35f, 1.0f), std::min(colour.z + 0.35f, 1.0f)};
    return colour;
}

gl::CageOverlayGeometry BuildCageOverlayGeometry(const mesh::Projection& projection, int hoveredSide)
{
    const mesh::CageGizmoGeometry cage = mesh::BuildCageGizmo(projection);
    gl::CageOverlayGeometry geometry;
    geometry.faces = cage.fillPositions;
    geometry.lines = cage.linePositions;
    geometry.highlightedLines = cage.accentLinePositions;
    geometry.faceColours.reserve(geometry.faces.size());
    for (std::size_t entry = 0; entry < cage.fillSides.size(); ++entry) {
        const int side = static_cast<int>(cage.fillSides[entry]);
        bool off = false;
        if (projection.type == mesh::ProjectionKind::Box || projection.type == mesh::ProjectionKind::Sphere)
            off = side >= 0 && side < 6 && projection.boxSideEnabled[side] == 0;
        else if (projection.type == mesh::ProjectionKind::Cylinder)
            off = projection.cylinderSideEnabled == 0;
        const bool lightened = side == hoveredSide || side == projection.activeLayer;
        const Vec3 colour = CageSideColour(side, off, lightened);
        for (int k = 0; k < 3; ++k)
            geometry.faceColours.push_back(colour);
    }
    return geometry;
}

int LayerGizmoSide(const mesh::Projection& projection, Vec3 eye)
{
    if (projection.activeLayer >= 0 && projection.activeLayer < 6)
        return projection.activeLayer;
    const Vec3 d = mesh::Normalized(eye - projection.cage.center);
    bool used[6] = {false, false, false, false, false, false};
    switch (projection.type) {
    case mesh::ProjectionKind::Box:
    case mesh::ProjectionKind::Sphere:
        for (int s = 0; s < 6; ++s)
            used[s] = projection.boxSideEnabled[s] != 0;
        break;
    case mesh::ProjectionKind::Plane: used[4] = true; break;
    case mesh::ProjectionKind::Cylinder:
        used[0] = projection.cylinderSideEnabled != 0;
        used[4] = projection.cylinderTopCapEnabled != 0;
        used[5] = projection.cylinderBottomCapEnabled != 0;
        break;
    }
    int best = -1;
    float bestDot = -2.0f;
    for (int s = 0; s < 6; ++s) {
        if (!used[s])
            continue;
        // The side's facing direction where its layer sits (the wall's radial direction for a
        // cylinder, whose direction at the centre is zero).
        const mesh::LayerGizmo gizmo = mesh::BuildLayerGizmo(projection, s, false);
        const float dot = Dot(gizmo.normal, d);
        if (dot > bestDot) {
            bestDot = dot;
            best = s;
        }
    }
    return best;
}

bool ClickBoxSideSwitches(std::uint8_t (&sides)[mesh::kBoxSideCount], int side, bool toggle)
{
    if (side < 0 || side >= mesh::kBoxSideCount)
        return false;
    if (toggle) {
        sides[side] = sides[side] != 0 ? 0 : 1;
        return true;
    }
    bool onlyThis = sides[side] != 0;
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        if (s != side && sides[s] != 0)
            onlyThis = false;
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        sides[s] = onlyThis || s == side ? 1 : 0;
    return true;
}

int NextActiveSide(int active, int side)
{
    if (side < 0 || side >= mesh::kBoxSideCount || side == active)
        return -1;
    return side;
}

float RestingFacePatchOffset(const TriangleMesh& part)
{
    if (!part.boundsValid)
        return 0.0f;
    const Vec3 extent = part.boundsMax - part.boundsMin;
    return 0.002f * std::max({extent.x, extent.y, extent.z});
}

void BuildRestingFacePatches(const TriangleMesh& part, const std::vector<mesh::RestingFace>& faces, int hovered,
                             std::vector<Vec3>& points, std::vector<Vec3>& colours)
{
    points.clear();
    colours.clear();
    const float offset = RestingFacePatchOffset(part);
    const std::size_t triangles = part.TriangleCount();
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const Vec3 colour = static_cast<int>(f) == hovered ? kRestingFaceHovered : kRestingFace;
        const Vec3 lift = faces[f].normal * offset;
        for (const std::uint32_t t : faces[f].triangles) {
            if (t >= triangles)
                continue;
            bool valid = true;
            for (int k = 0; k < 3; ++k)
                valid = valid && part.indices[3 * t + k] < part.vertices.size();
            if (!valid)
                continue;
            for (int k = 0; k < 3; ++k) {
                points.push_back(part.vertices[part.indices[3 * t + k]].position + lift);
                colours.push_back(colour);
            }
        }
    }
}

int PickRestingFaceIndex(const TriangleMesh& part, const std::vector<mesh::RestingFace>& faces, const gl::ViewRay& ray)
{
    int best = -1;
    float nearest = 0.0f;
    const std::size_t triangles = part.TriangleCount();
    const mesh::Ray engineRay{ray.origin, ray.direction};
    for (std::size_t f = 0; f < faces.size(); ++f) {
        for (const std::uint32_t t : faces[f].triangles) {
            if (t >= triangles || part.indices[3 * t] >= part.vertices.size() ||
                part.indices[3 * t + 1] >= part.vertices.size() || part.indices[3 * t + 2] >= part.vertices.size())
                continue;
            const mesh::RayHit hit =
                mesh::PickTriangle(engineRay, part.vertices[part.indices[3 * t]].position,
                                   part.vertices[part.indices[3 * t + 1]].position,
                                   part.vertices[part.indices[3 * t + 2]].position);
            if (hit.hit && (best < 0 || hit.distance < nearest)) {
                best = static_cast<int>(f);
                nearest = hit.distance;
            }
        }
    }
    return best;
}

gl::GizmoGeometry BuildMaskOverlayGeometry(const std::vector<mesh::MaskVolume>& volumes, int selected)
{
    mesh::OverlayGeometry lines;
    for (std::size_t i = 0; i < volumes.size(); ++i)
        mesh::BuildMaskWireframe(volumes[i], static_cast<int>(i) == selected, lines);
    gl::GizmoGeometry geometry;
    geometry.linePoints = std::move(lines.linePositions);
    geometry.lineColours = std::move(lines.lineColours);
    geometry.trianglePoints = std::move(lines.fillPositions);
    geometry.triangleColours = std::move(lines.fillColours);
    return geometry;
}

}  // namespace grainforge::app
