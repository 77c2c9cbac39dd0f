#include "app/document/grainforge_doc.h"
#include "app/document/document_commands.h"
#include "app/document/field_ranges.h"
#include "app/document/log_text.h"

#include "engine/displacement/cage_gizmo.h"

#include <algorithm>
#include <utility>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr float kFitMargin = 0.02f;
constexpr float kSmallestZoom = 0.05f;
constexpr float kLargestZoom = 20.0f;

// Whether side s carries a layer of its own for the projection's kind.
bool SideTakesTexture(const mesh::Projection& p, int side)
{
    switch (p.type) {
    case mesh::ProjectionKind::Box:
    case mesh::ProjectionKind::Sphere:
        return p.boxSideEnabled[side] != 0;
    case mesh::ProjectionKind::Plane:
        return side == 4;
    case mesh::ProjectionKind::Cylinder:
        return (side == 0 && p.cylinderSideEnabled != 0) || (side == 4 && p.cylinderTopCapEnabled != 0) ||
               (side == 5 && p.cylinderBottomCapEnabled != 0);
    }
    return false;
}

mesh::ProjectionLayer MovedLayer(const mesh::ProjectionLayer& base, float dx, float dy, float dr, float ratio)
{
    mesh::ProjectionLayer layer = base;
    layer.originMillimetres[0] += dx;
    layer.originMillimetres[1] += dy;
    layer.rotationDegrees += dr;
    layer.zoom = std::clamp(base.zoom * ratio, kSmallestZoom, kLargestZoom);
    return layer;
}

}  // namespace

void CGrainforgeDoc::FitMappingToModel()
{
    if (!HasPart())
        return;
    CommitPendingEdit();
    if (!workingPart.boundsValid)
        workingPart.ComputeBounds();
    const mesh::CageBounds bounds{workingPart.boundsMin, workingPart.boundsMax,
        static_cast<std::uint8_t>(workingPart.boundsValid ? 1 : 0)};
    const mesh::Projection fitted = mesh::FitCageToBounds(projection.type, bounds, kFitMargin, projection.cylinderAxis);
    projection.type = fitted.type;
    projection.cage = fitted.cage;
    if (projection.type == mesh::ProjectionKind::Plane) {
        mesh::CageFrame& cage = projection.cage;
        switch (projection.planeAxis) {
        case 0:
            cage.rotationDegrees = {0.0f, 90.0f, 0.0f};
            std::swap(cage.size.x, cage.size.z);
            break;
        case 1:
            cage.rotationDegrees = {-90.0f, 0.0f, 0.0f};
            std::swap(cage.size.y, cage.size.z);
            break;
        default:
            cage.rotationDegrees = {0.0f, 0.0f, 0.0f};
            break;
        }
    }
    FitSingleTile();
}

bool CGrainforgeDoc::OnMappingFitToModel()
{
    if (!HasPart())
        return false;
    const mesh::Projection before = projection;
    FitMappingToModel();
    if (mesh::ProjectionEquals(before, projection)) {
        const std::wstring text = L"The cage already fits the part, so Fit to Model changed nothing.";
        LogMessage(WideToUtf8(text), kLogPlain);
        ShowInformation(text, kInfoOk, InfoEvent::note);
        return false;
    }
    // A word on an earlier fit (or on the result) no longer holds for the cage now placed.
    NoteEvent(InfoEvent::placement);
    UpdatePreview();
    return true;
}

void CGrainforgeDoc::SetProjectionCage(const mesh::CageFrame& cage)
{
    if (!HasPart())
        return;
    projection.cage = cage;
    NoteEvent(InfoEvent::placement);
    UpdatePreview();
}

void CGrainforgeDoc::SetSidePlacement(int side, const mesh::ProjectionLayer& placement)
{
    if (!HasPart() || side < 0 || side >= mesh::kBoxSideCount)
        return;
    const mesh::ProjectionLayer& dragged = dragBaseLayers[side];
    const float dx = placement.originMillimetres[0] - dragged.originMillimetres[0];
    const float dy = placement.originMillimetres[1] - dragged.originMillimetres[1];
    const float dr = placement.rotationDegrees - dragged.rotationDegrees;
    const float ratio = dragged.zoom > 0.0f ? placement.zoom / dragged.zoom : 1.0f;
    if (projection.activeLayer < 0) {
        for (int i = 0; i < mesh::kBoxSideCount; ++i)
            if (SideTakesTexture(projection, i))
                projection.layers[i] = MovedLayer(dragBaseLayers[i], dx, dy, dr, ratio);
    } else if (projection.activeLayer < mesh::kBoxSideCount) {
        const int a = projection.activeLayer;
        projection.layers[a] = MovedLayer(dragBaseLayers[a], dx, dy, dr, ratio);
    }
    NoteEvent(InfoEvent::placement);
    UpdatePreview();
}

void CGrainforgeDoc::SetSurfacesMode(int mode)
{
    if (mode < 0 || mode > 2)
        return;
    const auto surface = static_cast<mesh::SurfaceSide>(mode);
    bool same = projection.cylinderSurface == surface;
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        same = same && projection.boxSideSurface[s] == surface;
    if (same)
        return;
    for (int s = 0; s < mesh::kBoxSideCount; ++s)
        projection.boxSideSurface[s] = surface;
    projection.cylinderSurface = surface;
    UpdatePreview();
}

void CGrainforgeDoc::UpdateMaskVolume(int index, const mesh::MaskVolume& volume)
{
    if (index < 0 || static_cast<std::size_t>(index) >= maskVolumes.size())
        return;
    mesh::MaskVolume& stored = maskVolumes[static_cast<std::size_t>(index)];
    // A drag moves a volume by any fraction: kept as its fields show it, as a project reopens it.
    const mesh::MaskVolume held = HeldToMaskFieldDecimals(volume, &stored);
    if (mesh::MaskVolumeEquals(stored, held))
        return;
    stored = held;
    UpdatePreview();
}

void CGrainforgeDoc::DeleteMaskVolume(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= maskVolumes.size())
        return;
    CommitPendingEdit();
    maskVolumes.erase(maskVolumes.begin() + index);
    const int count = static_cast<int>(maskVolumes.size());
    if (selectedMask >= count)
        selectedMask = count - 1;
    UpdatePreview();
}

int CGrainforgeDoc::AddMaskVolume(mesh::MaskVolume volume)
{
    if (maskVolumes.size() >= kMaximumMaskVolumes) {
        const std::string limit = std::to_string(kMaximumMaskVolumes);
        LogMessage("No mask volume was added: a part takes at most " + limit + ".", kLogWarning);
        ShowInformation(L"No mask volume was added: a part takes at most " + Utf8ToWide(limit) +
                            L".\nDelete one, or make one volume cover more, to add another.",
            kInfoWarning, InfoEvent::note);
        return -1;
    }
    CommitPendingEdit();
    maskVolumes.push_back(HeldToMaskFieldDecimals(std::move(volume)));
    selectedMask = static_cast<int>(maskVolumes.size()) - 1;
    UpdatePreview();
    return selectedMask;
}

int CGrainforgeDoc::DuplicateMaskVolume(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= maskVolumes.size())
        return -1;
    mesh::MaskVolume copy = maskVolumes[static_cast<std::size_t>(index)];
    copy.center.x += 1.1f * copy.size.x;
    copy.name += " copy";
    // The members a newer version gave the original are that volume's own, not the copy's.
    copy.keptMembers.reset();
    return AddMaskVolume(std::move(copy));
}

}  // namespace grainforge::app
