// The Masks menu and the mask panel's list commands: a volume added fitted to the part, Edit
// Masks, Duplicate and Delete. A volume added or copied is selected and shown with Move Mask,
// so that the mask panel comes up to place it.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/view/view_command_rules.h"
#include "app/workflow/mask_panel.h"

namespace grainforge::app {

namespace {

bool HasSelectedMask(const CGrainforgeDoc& document)
{
    return document.HasPart() && document.selectedMask >= 0 &&
           document.selectedMask < static_cast<int>(document.maskVolumes.size());
}

}  // namespace

void CGrainforgeView::AddMaskCommands(CommandTable& table)
{
    const auto withPart = [this](CommandState& state) { state.enabled = document_.HasPart(); };
    for (const int id : {32901, 32902, 32903}) {
        const mesh::MaskShape shape = *MaskShapeOfCommand(id);
        table.push_back({id, [this, shape] { OnAddMask(shape); }, withPart});
    }
    table.push_back({32904, [this] { OnEditMasks(); }, [this](CommandState& state) {
                         state.enabled = document_.HasPart();
                         state.checked = IsMaskTool(handleTool);
                         state.radio = true;
                     }});
    const auto withSelection = [this](CommandState& state) { state.enabled = HasSelectedMask(document_); };
    table.push_back({32908, [this] { OnDuplicateMask(); }, withSelection});
    table.push_back({32909, [this] { OnDeleteMask(); }, withSelection});
}

void CGrainforgeView::OnAddMask(mesh::MaskShape shape)
{
    if (!document_.HasPart())
        return;
    TriangleMesh& part = document_.workingPart;
    if (!part.boundsValid)
        part.ComputeBounds();
    if (document_.AddMaskVolume(FittedMaskVolume(shape, part.boundsMin, part.boundsMax, document_.maskVolumes)) >= 0)
        RefreshMaskList();
}

void CGrainforgeView::OnEditMasks()
{
    if (!document_.HasPart())
        return;
    // Nothing to edit yet: a box to start from.
    if (document_.maskVolumes.empty()) {
        OnAddMask(mesh::MaskShape::Box);
        return;
    }
    if (!HasSelectedMask(document_)) {
        document_.selectedMask = 0;
        document_.UpdateAllViews(kHintProjection);
    }
    // A mask tool already in use keeps its kind; choosing it again brings the panel back.
    int toolCommand = view_command::kMoveMask;
    if (handleTool == kToolScaleMask)
        toolCommand = view_command::kScaleMask;
    else if (IsMaskTool(handleTool) && handleTool != kToolMoveMask)
        toolCommand = view_command::kRotateMask;
    OnSelectTool(toolCommand);
}

void CGrainforgeView::OnDuplicateMask()
{
    if (!HasSelectedMask(document_))
        return;
    if (document_.DuplicateMaskVolume(document_.selectedMask) >= 0)
        RefreshMaskList();
}

void CGrainforgeView::OnDeleteMask()
{
    if (!HasSelectedMask(document_))
        return;
    document_.DeleteMaskVolume(document_.selectedMask);
    if (document_.maskVolumes.empty()) {
        OnSelectTool(view_command::kNoHandles);
        HideMaskPanel();  // nothing left to list
    } else {
        RefreshMaskList();
    }
}

void CGrainforgeView::RefreshMaskList()
{
    if (!IsMaskTool(handleTool))
        OnSelectTool(view_command::kMoveMask);
    else
        RebuildHandleOverlay();
    if (maskPanel_ != nullptr && maskPanel_->IsShown())
        maskPanel_->FillVolumeList(&document_);
}

}  // namespace grainforge::app
