// The mapping commands of the Mapping menu and the Mapping section: the projection kind, Fit to
// Model, the box sides, blending, the axis, the surfaces, and the per-side layers of the
// Texture menu (Edit per Side, Place on All Sides, Reset Placement).
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/view/view_command_rules.h"

namespace grainforge::app {

namespace {

bool BoxOrSphere(const mesh::Projection& projection)
{
    return projection.type == mesh::ProjectionKind::Box || projection.type == mesh::ProjectionKind::Sphere;
}

}  // namespace

void CGrainforgeView::AddMappingCommands(CommandTable& table)
{
    const auto withPart = [this](CommandState& state) { state.enabled = document_.HasPart(); };

    for (const int id : {32796, 32797, 32798, 32887}) {
        const mesh::ProjectionKind kind = *ProjectionKindOfCommand(id);
        table.push_back({id, [this, kind] { OnProjectionKind(kind); }, [this, kind](CommandState& state) {
                             state.enabled = document_.HasPart();
                             state.checked = document_.projection.type == kind;
                             state.radio = true;
                         }});
    }
    table.push_back({32799, [this] { OnFitToModel(); }, withPart});
    for (int id = 32801; id <= 32809; ++id) {
        const int side = BoxSideOfCommand(id);
        table.push_back({id, [this, id] { OnSideSwitches(id); }, [this, side](CommandState& state) {
                             state = SidesCommandState(document_.projection, document_.HasPart(), side);
                         }});
    }
    table.push_back({32800,
                     [this] {
                         document_.projection.boxBlended = document_.projection.boxBlended != 0 ? 0 : 1;
                         document_.UpdatePreview();
                         RefreshMappingOverlays();
                     },
                     [this](CommandState& state) {
                         const bool boxOrSphere = BoxOrSphere(document_.projection);
                         state.enabled = boxOrSphere && document_.HasPart();
                         state.checked = boxOrSphere && document_.projection.boxBlended != 0;
                     }});
    for (int id = 32850; id <= 32852; ++id) {
        const int axis = AxisOfCommand(id);
        table.push_back({id, [this, axis] { OnProjectionAxis(axis); }, [this, axis](CommandState& state) {
                             mesh::Projection projection = document_.projection;
                             const std::int32_t* kindAxis = KindAxis(projection);
                             state.enabled = document_.HasPart() && kindAxis != nullptr;
                             state.checked = kindAxis != nullptr && *kindAxis == axis;
                         }});
    }
    for (const int id : {32919, 32920, 32921}) {
        const int mode = SurfacesModeOfCommand(id);
        table.push_back({id,
                         [this, mode] {
                             document_.SetSurfacesMode(mode);  // stores only a change
                             RefreshMappingOverlays();
                         },
                         [this, mode](CommandState& state) {
                             state = SurfacesCommandState(document_.projection, document_.HasPart(), mode);
                         }});
    }
    table.push_back({32810, [this] { OnEditPerSide(); }, [this](CommandState& state) {
                         state.enabled = document_.HasPart();
                         state.checked = viewport_ != nullptr && viewport_->Renderer().view.showCage != 0;
                     }});
    table.push_back({32848, [this] { OnPlaceOnAllSides(); }, [this](CommandState& state) {
                         state.enabled = document_.HasPart();
                         state.checked = document_.projection.activeLayer < 0;
                     }});
    table.push_back({32849, [this] { OnResetPlacement(); }, withPart});
}

void CGrainforgeView::RefreshMappingOverlays()
{
    RebuildCageOverlay();
    PushProjectionOverlay();
    Repaint();
}

void CGrainforgeView::OnProjectionKind(mesh::ProjectionKind kind)
{
    if (!document_.HasPart())
        return;
    // A drag still open is its own undo step, not part of the change of kind.
    document_.CommitPendingEdit();
    document_.projection.type = kind;
    document_.FitMappingToModel();
    document_.UpdatePreview();
    RefreshMappingOverlays();
}

void CGrainforgeView::OnFitToModel()
{
    if (!document_.HasPart())
        return;
    (void)document_.OnMappingFitToModel();
    RefreshMappingOverlays();
}

void CGrainforgeView::OnSideSwitches(int commandId)
{
    if (!document_.HasPart() || !ApplySidesCommand(document_.projection, commandId))
        return;
    document_.UpdatePreview();
    RefreshMappingOverlays();
}

void CGrainforgeView::OnProjectionAxis(int axis)
{
    if (!document_.HasPart() || axis < 0 || axis > 2)
        return;
    std::int32_t* kindAxis = KindAxis(document_.projection);
    if (kindAxis != nullptr && *kindAxis != axis) {
        *kindAxis = axis;
        document_.FitMappingToModel();
        document_.UpdatePreview();
        document_.UpdateAllViews(kHintFull);
    }
    RefreshMappingOverlays();
}

void CGrainforgeView::OnEditPerSide()
{
    if (viewport_ == nullptr)
        return;
    std::uint8_t& showCage = viewport_->Renderer().view.showCage;
    showCage = showCage != 0 ? 0 : 1;
    if (showCage == 0 && document_.projection.activeLayer >= 0) {
        document_.projection.activeLayer = -1;
        document_.UpdateAllViews(kHintProjection);
    }
    RebuildHandleOverlay();
    Repaint();
}

void CGrainforgeView::OnPlaceOnAllSides()
{
    if (document_.projection.activeLayer < 0)
        return;
    document_.projection.activeLayer = -1;
    document_.UpdateAllViews(kHintProjection);
}

void CGrainforgeView::OnResetPlacement()
{
    if (!document_.HasPart())
        return;
    document_.CommitPendingEdit();
    ResetSidePlacement(document_.projection);
    document_.UpdatePreview();
}

}  // namespace grainforge::app
