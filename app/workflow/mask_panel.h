// The "Mask Volumes" tool window: floats beside the 3D view while a mask tool is active, lists
// the document's mask volumes with a check box each, offers the mask tools on a toolbar and
// shows the chosen volume's position, size, turn and feather in edits that write back to the
// document. The view creates it, shows it for the mask tools, hides it for the others and
// refreshes its list after document changes. The rules live in mask_panel_model.h.
#pragma once

#include "app/workflow/mask_panel_model.h"

#include <wx/dialog.h>

#include <array>
#include <functional>

class wxListCtrl;
class wxListEvent;
class wxTextCtrl;

namespace grainforge::app {

class CGrainforgeDoc;
class CToolbarHostWnd;
class ICommandTarget;
class IProfileStore;

inline constexpr int kIdMaskList = 1216;
inline constexpr int kIdMaskToolbarPlaceholder = 1217;
inline constexpr int kIdMaskFirstField = 1218;  // 1218..1227, in MaskFieldTexts order
inline constexpr int kIdMaskToolbar = 1;

inline constexpr unsigned kCmdMaskMove = 32905;
inline constexpr unsigned kCmdMaskRotate = 32906;
inline constexpr unsigned kCmdMaskResize = 32907;
inline constexpr unsigned kCmdMaskDuplicate = 32908;
inline constexpr unsigned kCmdMaskDelete = 32909;
inline constexpr unsigned kCmdNoHandles = 32817;

class CMaskPanel final : public wxDialog {
public:
    // `activeDocument` gives the main window's document (or null); commands go to `target`
    // (the main window's routing); the position is kept in `profile`. Either may be null.
    CMaskPanel(wxWindow* parent, std::function<CGrainforgeDoc*()> activeDocument, ICommandTarget* target,
               IProfileStore* profile);
    ~CMaskPanel() override;

    // Shows a hidden panel at its saved place or beside the view (its rectangle in screen
    // coordinates) without activating it; then refreshes the list and the toolbar.
    void ShowMaskPanel(const wxRect& view);
    // Refills the list and the fields from the document, rebuilding the list only when the
    // volumes' count, names or shapes changed.
    void FillVolumeList(CGrainforgeDoc* document);
    // Applies the fields the user changed to the chosen volume (leaving an edit, Enter).
    void ApplyVolumeFields(wxWindow* gainingFocus = nullptr);

    wxListCtrl* List() const { return list_; }
    wxTextCtrl* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
    CToolbarHostWnd* Toolbar() const { return toolbar_; }

private:
    void ShowVolumeFields(const mesh::MaskVolume* volume, float bedBase, wxWindow* keep);
    void OnItemChecked(wxListEvent& event, bool checked);
    void OnItemSelected(wxListEvent& event);
    void PostCommand(unsigned id);
    void SavePosition();

    std::function<CGrainforgeDoc*()> activeDocument_;
    ICommandTarget* target_ = nullptr;
    IProfileStore* profile_ = nullptr;
    wxListCtrl* list_ = nullptr;
    CToolbarHostWnd* toolbar_ = nullptr;
    std::array<wxTextCtrl*, kMaskFieldCount> fields_{};
    bool updating_ = false;
    std::vector<mesh::MaskVolume> shownVolumes_;
    int shownSelection_ = -1;
    MaskFieldTexts shownTexts_;  // what the panel last wrote into each field
};

}  // namespace grainforge::app
