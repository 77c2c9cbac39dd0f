// The View command layer: the commands the view handles and their update rules. Each handler
// changes view or document state, then brings the renderer up to date through the view's
// refreshes and pushes.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/workflow/mask_panel.h"

namespace grainforge::app {

namespace {

// Enabled with a part; the radio dot on the tool in use.
void ToolState(CommandState& state, bool enabled, bool checked)
{
    state.enabled = enabled;
    state.checked = checked;
    state.radio = true;
}

}  // namespace

CommandTable CGrainforgeView::Commands()
{
    CommandTable table;
    table.push_back({view_command::kStopProcessing, [this] { document_.pipeline.Cancel(); },
                     [this](CommandState& state) { state.enabled = document_.pipeline.IsRunning(); }});
    table.push_back({view_command::kLayOnFace, [this] { OnMeshLayOnFace(); }, [this](CommandState& state) {
                         state.enabled = document_.HasPart() && RendererReady();
                         state.checked = layOnFaceMode;
                     }});

    // Handle tools.
    for (const int id : {view_command::kNoHandles, view_command::kMoveTexture, view_command::kRotateTexture,
                         view_command::kZoomTexture, view_command::kMoveCage, view_command::kRotateCage,
                         view_command::kMoveMask, view_command::kRotateMask, view_command::kScaleMask}) {
        const std::uint32_t tool = static_cast<std::uint32_t>(ToolFromCommand(id));
        table.push_back({id, [this, id] { OnSelectTool(id); }, [this, tool](CommandState& state) {
                             bool enabled = document_.HasPart();
                             if (IsMaskTool(tool))
                                 enabled = enabled && document_.selectedMask >= 0 &&
                                           document_.selectedMask < static_cast<int>(document_.maskVolumes.size());
                             ToolState(state, enabled, handleTool == tool);
                         }});
    }

    AddDisplayCommands(table);
    AddCameraCommands(table);
    AddMappingCommands(table);
    AddMaskCommands(table);
    AddTextureCommands(table);
    AddDialogCommands(table);
    return table;
}

void CGrainforgeView::OnSelectTool(int commandId)
{
    const int chosen = ToolFromCommand(commandId);
    if (chosen < 0)
        return;
    const std::uint32_t tool = static_cast<std::uint32_t>(chosen);
    if (IsMaskTool(tool) && document_.maskVolumes.empty())
        return;
    handleTool = tool;
    hoveredHandle = 0;
    // The panel comes with the mask tools and stays when another tool follows (a texture tool,
    // Process leaving the tools): it goes only when the user closes it or no volume is left.
    if (IsMaskTool(tool))
        ShowMaskPanelForTool();

    const bool active = ToolShowsPreview(tool);
    if (document_.handleToolActive != active) {
        const TriangleMesh* before = &document_.CurrentDisplayMesh();
        document_.handleToolActive = active;
        document_.UpdatePreview();
        SyncSurfaceMode();
        if (&document_.CurrentDisplayMesh() == before)
            UploadMesh(false);
    }
    ShowToolName();
    RebuildHandleOverlay();
    if (maskPanel_ != nullptr && maskPanel_->Toolbar() != nullptr)
        maskPanel_->Toolbar()->UpdateCommandStates();
    Repaint();
}

void CGrainforgeView::ShowMaskPanelForTool()
{
    if (maskPanel_ == nullptr) {
        CGrainforgeDoc* document = &document_;
        maskPanel_ = new CMaskPanel(this, [document] { return document; }, context_.commands);
        maskPanel_->SetCloseHandler([this] { CloseMaskPanel(); });
        maskPanel_->Bind(wxEVT_DESTROY, &CGrainforgeView::OnMaskPanelDestroyed, this);
    }
    if (!maskPanel_->IsShown()) {
        maskPanel_->ShowMaskPanel();
        LayOutChildren();
        RebuildMaskOverlay();
    }
}

void CGrainforgeView::CloseMaskPanel()
{
    HideMaskPanel();
    if (IsMaskTool(handleTool))
        OnSelectTool(view_command::kNoHandles);
}

void CGrainforgeView::HideMaskPanel()
{
    if (maskPanel_ == nullptr || !maskPanel_->IsShown())
        return;
    maskPanel_->Hide();
    LayOutChildren();
    RebuildMaskOverlay();
}

void CGrainforgeView::OnMaskPanelDestroyed(wxWindowDestroyEvent& event)
{
    if (event.GetEventObject() == maskPanel_) {
        maskPanel_ = nullptr;
        if (!IsBeingDeleted())
            CallAfter([this] { LayOutChildren(); });
    }
    event.Skip();
}

}  // namespace grainforge::app
