#include "app/view/view_command_rules.h"

#include "app/view/renderer/camera.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

namespace grainforge::app {

std::optional<std::uint32_t> SectionModeOfCommand(int commandId)
{
    switch (commandId) {
    case kCmdSectionOff: return 0u;
    case kCmdSectionLoaded: return 1u;
    case kCmdSectionSplit: return 2u;
    case kCmdSectionDeviation: return 3u;
    case kCmdSectionSliced: return kSectionSliced;
    default: return std::nullopt;
    }
}

std::uint32_t NextSectionMode(std::uint32_t current, int commandId)
{
    const std::optional<std::uint32_t> mode = SectionModeOfCommand(commandId);
    if (!mode)
        return current;
    return *mode == current ? 0u : *mode;
}

void ApplySideSwitchChange(std::uint8_t (&sides)[mesh::kBoxSideCount], SideSwitchChange change)
{
    for (std::uint8_t& side : sides) {
        switch (change) {
        case SideSwitchChange::all: side = 1; break;
        case SideSwitchChange::none: side = 0; break;
        case SideSwitchChange::invert: side = side != 0 ? 0 : 1; break;
        }
    }
}

int BoxSideOfCommand(int commandId)
{
    return commandId >= 32801 && commandId <= 32806 ? commandId - 32801 : -1;
}

namespace {

bool HasBoxSides(const mesh::Projection& projection)
{
    return projection.type == mesh::ProjectionKind::Box || projection.type == mesh::ProjectionKind::Sphere;
}

}  // namespace

CommandState SidesCommandState(const mesh::Projection& projection, bool hasPart, int side)
{
    CommandState state;
    if (!HasBoxSides(projection)) {
        state.enabled = false;
        state.tooltip = projection.type == mesh::ProjectionKind::Plane ? kPlaneHasNoSidesTip : kCylinderHasNoSidesTip;
        return state;
    }
    state.enabled = hasPart;
    state.checked = side >= 0 && side < mesh::kBoxSideCount && projection.boxSideEnabled[side] != 0;
    return state;
}

bool ApplySidesCommand(mesh::Projection& projection, int commandId)
{
    if (!HasBoxSides(projection))
        return false;
    std::uint8_t(&sides)[mesh::kBoxSideCount] = projection.boxSideEnabled;
    std::uint8_t before[mesh::kBoxSideCount];
    std::copy(std::begin(sides), std::end(sides), before);
    switch (commandId) {
    case 32807: ApplySideSwitchChange(sides, SideSwitchChange::all); break;
    case 32808: ApplySideSwitchChange(sides, SideSwitchChange::none); break;
    case 32809: ApplySideSwitchChange(sides, SideSwitchChange::invert); break;
    default: {
        const int side = BoxSideOfCommand(commandId);
        if (side < 0)
            return false;
        sides[side] = sides[side] != 0 ? 0 : 1;
        break;
    }
    }
    return !std::equal(std::begin(sides), std::end(sides), before);
}

std::optional<CameraPreset> CameraPresetOfCommand(int commandId)
{
    switch (commandId) {
    case 32774: return CameraPreset{-135.0f, 45.0f, false};   // Isometric
    case 32775: return CameraPreset{-90.0f, 0.0f, true};      // Front
    case 32776: return CameraPreset{90.0f, 0.0f, true};       // Back
    case 32777: return CameraPreset{180.0f, 0.0f, true};      // Left
    case 32778: return CameraPreset{0.0f, 0.0f, true};        // Right
    case 32779: return CameraPreset{-90.0f, 89.5f, true};     // Top: 89.5 keeps the up vector defined
    case 32780: return CameraPreset{-90.0f, -89.5f, true};    // Bottom
    default: return std::nullopt;
    }
}

int SurfaceModeOfCommand(int commandId)
{
    switch (commandId) {
    case 32811: return 0;
    case 32812: return 1;
    case 32813: return 2;
    case 32820: return 3;
    case 32896: return 4;
    default: return -1;
    }
}

void RememberSurfaceChoice(SurfaceModeMemory& memory, std::uint32_t mode, bool toolActive, bool resultCurrent,
                           const TriangleMesh* result)
{
    if (mode != 4 && !toolActive && resultCurrent) {
        memory.resultChoice = mode;
        memory.resultChoiceSet = true;
        memory.resultMesh = result;
    } else {
        memory.previewChoice = mode;
        memory.previewChoiceSet = true;
    }
    // The renderer holds the mode already: the next synchronisation has nothing to push.
    memory.pushed = mode;
    memory.pushedValid = true;
}

std::optional<mesh::ProjectionKind> ProjectionKindOfCommand(int commandId)
{
    switch (commandId) {
    case 32796: return mesh::ProjectionKind::Box;
    case 32797: return mesh::ProjectionKind::Plane;
    case 32798: return mesh::ProjectionKind::Cylinder;
    case 32887: return mesh::ProjectionKind::Sphere;
    default: return std::nullopt;
    }
}

int AxisOfCommand(int commandId)
{
    return commandId >= 32850 && commandId <= 32852 ? commandId - 32850 : -1;
}

std::int32_t* KindAxis(mesh::Projection& projection)
{
    switch (projection.type) {
    case mesh::ProjectionKind::Plane: return &projection.planeAxis;
    case mesh::ProjectionKind::Cylinder: return &projection.cylinderAxis;
    case mesh::ProjectionKind::Sphere: return &projection.sphereAxis;
    default: return nullptr;
    }
}

int SurfacesModeOfCommand(int commandId)
{
    switch (commandId) {
    case 32919: return 2;
    case 32920: return 0;
    case 32921: return 1;
    default: return -1;
    }
}

CommandState SurfacesCommandState(const mesh::Projection& projection, bool hasPart, int mode)
{
    CommandState state;
    state.radio = true;
    if (projection.type == mesh::ProjectionKind::Plane) {
        state.enabled = false;
        state.tooltip = kPlaneTakesEverySurfaceTip;
        return state;
    }
    state.enabled = hasPart;
    const auto surface = static_cast<mesh::SurfaceSide>(mode);
    state.checked = projection.cylinderSurface == surface
        && std::all_of(std::begin(projection.boxSideSurface), std::end(projection.boxSideSurface),
            [surface](mesh::SurfaceSide side) { return side == surface; });
    return state;
}

void ResetSidePlacement(mesh::Projection& projection)
{
    for (mesh::ProjectionLayer& layer : projection.layers)
        layer = mesh::ProjectionLayer{};
    projection.activeLayer = -1;
}

std::optional<mesh::MaskShape> MaskShapeOfCommand(int commandId)
{
    switch (commandId) {
    case 32901: return mesh::MaskShape::Box;
    case 32902: return mesh::MaskShape::Cylinder;
    case 32903: return mesh::MaskShape::Sphere;
    default: return std::nullopt;
    }
}

namespace {

const char* ShapeName(mesh::MaskShape shape)
{
    switch (shape) {
    case mesh::MaskShape::Cylinder: return "Cylinder";
    case mesh::MaskShape::Sphere: return "Sphere";
    default: return "Box";
    }
}

float FittedSize(float extent)
{
    const float size = 0.4f * extent;
    return std::isfinite(size) ? std::max(size, mesh::kMinimumMaskSize) : mesh::kMinimumMaskSize;
}

float Centre(float low, float high)
{
    const float centre = 0.5f * (low + high);
    return std::isfinite(centre) ? centre : 0.0f;
}

}  // namespace

mesh::MaskVolume FittedMaskVolume(mesh::MaskShape shape, Vec3 boundsMin, Vec3 boundsMax,
                                  const std::vector<mesh::MaskVolume>& existing)
{
    mesh::MaskVolume volume;
    volume.shape = shape;
    volume.center = {Centre(boundsMin.x, boundsMax.x), Centre(boundsMin.y, boundsMax.y),
                     Centre(boundsMin.z, boundsMax.z)};
    volume.size = {FittedSize(boundsMax.x - boundsMin.x), FittedSize(boundsMax.y - boundsMin.y),
                   FittedSize(boundsMax.z - boundsMin.z)};
    if (shape != mesh::MaskShape::Box) {
        float across = std::min(volume.size.x, volume.size.y);
        if (shape == mesh::MaskShape::Sphere) {
            across = std::min(across, volume.size.z);
            volume.size.z = across;
        }
        volume.size.x = across;
        volume.size.y = across;
    }
    const std::string base = ShapeName(shape);
    for (std::size_t number = 1;; ++number) {
        std::string name = base + " " + std::to_string(number);
        const bool used = std::any_of(existing.begin(), existing.end(),
                                      [&](const mesh::MaskVolume& other) { return other.name == name; });
        if (!used) {
            volume.name = std::move(name);
            break;
        }
    }
    return volume;
}

}  // namespace grainforge::app
