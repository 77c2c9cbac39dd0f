// The view as the viewport's cage host and resting-face host, and the overlays the handles and
// the lay-on-face mode draw: cage, handle gizmo, mask wireframes and resting-face patches.
#include "app/view/grainforge_view.h"
#include "app/workflow/mask_panel.h"

#include "app/document/grainforge_doc.h"
#include "app/view/handles.h"

#include <algorithm>

namespace grainforge::app {

bool CGrainforgeView::HasPart() { return document_.HasPart(); }

const Projection* CGrainforgeView::GetProjection() { return &document_.projection; }

void CGrainforgeView::SetHover(int side, int handle)
{
    if (side == hoveredSide && handle == hoveredHandle)
        return;
    hoveredSide = side;
    hoveredHandle = handle;
    RebuildCageOverlay();
    Repaint();
}

void CGrainforgeView::ClickBoxSide(int side, bool toggle)
{
    const mesh::ProjectionKind kind = document_.projection.type;
    if (!document_.HasPart() || (kind != mesh::ProjectionKind::Box && kind != mesh::ProjectionKind::Sphere))
        return;
    if (!ClickBoxSideSwitches(document_.projection.boxSideEnabled, side, toggle))
        return;
    document_.UpdatePreview();
    RebuildCageOverlay();
    PushProjectionOverlay();
    Repaint();
}

void CGrainforgeView::SelectSide(int side)
{
    if (!document_.HasPart() || viewport_ == nullptr || viewport_->Renderer().view.showCage == 0)
        return;
    const int next = NextActiveSide(document_.projection.activeLayer, side);
    if (next == document_.projection.activeLayer)
        return;
    document_.projection.activeLayer = next;
    document_.UpdateAllViews(kHintProjection);
}

void CGrainforgeView::SetCageFrame(const CageFrame& frame)
{
    if (!document_.HasPart())
        return;
    if (!IsMaskTool(handleTool)) {
        document_.SetProjectionCage(frame);
        RebuildCageOverlay();
        PushProjectionOverlay();
        Repaint();
        return;
    }
    const int index = document_.selectedMask;
    if (index < 0 || index >= static_cast<int>(document_.maskVolumes.size()))
        return;
    mesh::MaskVolume volume = document_.maskVolumes[static_cast<std::size_t>(index)];
    volume.center = frame.center;
    volume.rotationDegrees = frame.rotationDegrees;
    volume.size = frame.size;
    document_.UpdateMaskVolume(index, volume);
}

const CageFrame* CGrainforgeView::GetCageFrame()
{
    if (!document_.HasPart())
        return nullptr;
    if (!IsMaskTool(handleTool)) {
        cageFrame_ = document_.projection.cage;
        return &cageFrame_;
    }
    const int index = document_.selectedMask;
    if (index < 0 || index >= static_cast<int>(document_.maskVolumes.size()))
        return nullptr;
    cageFrame_ = document_.maskVolumes[static_cast<std::size_t>(index)].Frame();
    return &cageFrame_;
}

bool CGrainforgeView::CageIsCylinder()
{
    if (!IsMaskTool(handleTool))
        return false;
    const int index = document_.selectedMask;
    return index >= 0 && index < static_cast<int>(document_.maskVolumes.size()) &&
           document_.maskVolumes[static_cast<std::size_t>(index)].shape == mesh::MaskShape::Cylinder;
}

void CGrainforgeView::GetLayerGizmo(LayerGizmo& gizmo)
{
    gizmo = LayerGizmo{};
    if (!document_.HasPart())
        return;
    const Vec3 eye = viewport_ != nullptr ? viewport_->Renderer().CameraEye() : document_.projection.cage.center;
    const int side = LayerGizmoSide(document_.projection, eye);
    if (side < 0)
        return;
    gizmo = mesh::BuildLayerGizmo(document_.projection, side, true);
}

void CGrainforgeView::BeginCageDrag()
{
    std::copy(std::begin(document_.projection.layers), std::end(document_.projection.layers),
              std::begin(document_.dragBaseLayers));
    document_.BeginEdit();
}

void CGrainforgeView::SetSidePlacement(int side, const ProjectionLayer& layer)
{
    document_.SetSidePlacement(side, layer);
}

void CGrainforgeView::RefreshOverlays()
{
    if (document_.HasPart() && handleTool != kToolNone)
        RebuildHandleOverlay();
}

bool CGrainforgeView::PickPart(const ViewRay& ray, float point[3])
{
    if (!document_.HasPart())
        return false;
    const mesh::RayHit hit = PickMesh(ray, document_.CurrentDisplayMesh());
    if (!hit.hit)
        return false;
    const Vec3 p = ray.origin + ray.direction * hit.distance;
    point[0] = p.x;
    point[1] = p.y;
    point[2] = p.z;
    return true;
}

void CGrainforgeView::BeginEdit() { document_.BeginEdit(); }

// ---- Resting faces ---------------------------------------------------------------------------

int CGrainforgeView::PickRestingFace(const ViewRay& ray)
{
    if (!document_.HasPart())
        return -1;
    return PickRestingFaceIndex(document_.workingPart, document_.restingFaces, ray);
}

void CGrainforgeView::SetHoveredRestingFace(int index)
{
    if (index == hoveredRestingFace)
        return;
    hoveredRestingFace = index;
    RebuildRestingFaceOverlay();
}

void CGrainforgeView::LayOnRestingFace(int index)
{
    hoveredRestingFace = -1;
    document_.LayOnFace(index);
    RebuildRestingFaceOverlay();
}

void CGrainforgeView::OnMeshLayOnFace()
{
    if (!layOnFaceMode && document_.HasPart()) {
        layOnFaceMode = true;
        hoveredRestingFace = -1;
        document_.ComputeRestingFaces();
        RebuildRestingFaceOverlay();
        return;
    }
    layOnFaceMode = false;
    hoveredRestingFace = -1;
    if (ViewportReady())
        viewport_->Renderer().UploadRestingFaceOverlay({}, {});
    if (viewport_ != nullptr)
        viewport_->ClearRestingFaceHover();
    Repaint();
}

void CGrainforgeView::RebuildRestingFaceOverlay()
{
    if (!layOnFaceMode || !document_.HasPart()) {
        if (ViewportReady())
            viewport_->Renderer().UploadRestingFaceOverlay({}, {});
        if (viewport_ != nullptr)
            viewport_->ClearRestingFaceHover();
        Repaint();
        return;
    }
    std::vector<Vec3> points;
    std::vector<Vec3> colours;
    BuildRestingFacePatches(document_.workingPart, document_.restingFaces, hoveredRestingFace, points, colours);
    if (ViewportReady())
        viewport_->Renderer().UploadRestingFaceOverlay(points, colours);
    Repaint();
}

// ---- Cage, handle and mask overlays ----------------------------------------------------------

void CGrainforgeView::RebuildCageOverlay()
{
    if (!ViewportReady())
        return;
    if (!document_.HasPart()) {
        viewport_->ClearCageOverlay();
        return;
    }
    viewport_->Renderer().UploadCageOverlay(BuildCageOverlayGeometry(document_.projection, hoveredSide));
    RebuildHandleOverlay();
}

void CGrainforgeView::RebuildHandleOverlay()
{
    RebuildMaskOverlay();
    if (!ViewportReady())
        return;
    gl::GizmoGeometry geometry;
    if (document_.HasPart() && handleTool != kToolNone) {
        if (IsTextureTool(handleTool)) {
            LayerGizmo gizmo;
            GetLayerGizmo(gizmo);
            const float origin[3] = {gizmo.origin.x, gizmo.origin.y, gizmo.origin.z};
            const float size =
                gizmo.valid != 0 ? std::max(0.001f, viewport_->WorldSizeOfPixels(origin, kCageHandlePixels)) : 0.0f;
            geometry = BuildLayerGizmo(gizmo, static_cast<int>(handleTool), hoveredHandle, size);
        } else if (const CageFrame* frame = GetCageFrame(); frame != nullptr) {
            const CageFrame copy = *frame;
            if (handleTool == kToolScaleMask)
                geometry = BuildMaskScaleGizmo(copy, CageIsCylinder(), hoveredHandle, viewport_->MaskHandleSize());
            else
                geometry = BuildFrameHandleGizmo(copy, static_cast<int>(handleTool), hoveredHandle,
                                                 viewport_->CageHandleSize());
        }
    }
    // Empty lists delete the handle buffers.
    viewport_->Renderer().UploadHandleOverlay(geometry);
    Repaint();
}

void CGrainforgeView::RebuildMaskOverlay()
{
    if (!ViewportReady())
        return;
    gl::GizmoGeometry geometry;
    // The outlines stay while the panel lists the volumes, also when Process has left the tool.
    const bool listed = IsMaskTool(handleTool) || (maskPanel_ != nullptr && maskPanel_->IsShown());
    if (document_.HasPart() && listed && !document_.maskVolumes.empty())
        geometry = BuildMaskOverlayGeometry(document_.maskVolumes, document_.selectedMask);
    viewport_->Renderer().UploadMaskOverlay(geometry);
    Repaint();
}

}  // namespace grainforge::app
