// The settings dialogs the view opens (modal): mapping, texture, seamless, and relief and
// simplify on their three pages. The dialogs store their results in the document themselves,
// only what changed; the view then brings its overlays and mesh up to date.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/workflow/dialogs/dialog_document_edits.h"
#include "app/workflow/dialogs/mapping_settings_dialog.h"
#include "app/workflow/dialogs/relief_dialog.h"
#include "app/workflow/dialogs/seamless_dialog.h"
#include "app/workflow/dialogs/texture_settings_dialog.h"

namespace grainforge::app {

namespace {

inline constexpr int kCmdMappingSettings = 32900;
inline constexpr int kCmdTextureSettings = 32821;
inline constexpr int kCmdSeamless = 32882;
inline constexpr int kCmdStackSettings = 32832;
inline constexpr int kCmdReliefSettings = 32889;
inline constexpr int kCmdSimplifySettings = 32890;

}  // namespace

void CGrainforgeView::AddDialogCommands(CommandTable& table)
{
    table.push_back({kCmdMappingSettings, [this] { OnMappingSettings(); }, {}});
    table.push_back({kCmdTextureSettings, [this] { OnTextureSettings(); }, {}});
    table.push_back({kCmdSeamless, [this] { OnSeamless(); },
                     [this](CommandState& state) { state.enabled = CanEditSeamless(document_); }});
    table.push_back({kCmdStackSettings, [this] { OnReliefSettings(0); }, {}});
    table.push_back({kCmdReliefSettings, [this] { OnReliefSettings(1); }, {}});
    table.push_back({kCmdSimplifySettings, [this] { OnReliefSettings(2); }, {}});
}

void CGrainforgeView::OnMappingSettings()
{
    if (ShowMappingSettingsDialog(wxGetTopLevelParent(this), document_))
        RefreshMappingOverlays();
}

void CGrainforgeView::OnTextureSettings()
{
    // The seamless dialog follows when the texture dialog asks for it.
    ShowTextureSettingsDialog(wxGetTopLevelParent(this), document_);
}

void CGrainforgeView::OnSeamless()
{
    if (!CanEditSeamless(document_))
        return;
    ShowSeamlessDialog(wxGetTopLevelParent(this), document_);
}

void CGrainforgeView::OnReliefSettings(int page)
{
    if (page < 0 || page > 2)
        return;
    if (!EditReliefSettings(wxGetTopLevelParent(this), document_, static_cast<ReliefDialogSection>(page)))
        return;
    // A new display limit needs the mesh shown again, whatever the preview update sent.
    UploadMesh(false);
    RebuildCageOverlay();
    Repaint();
}

}  // namespace grainforge::app
