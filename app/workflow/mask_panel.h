// The "Mask Volumes" panel: docked at the right edge of the 3D view (the view gives it that
// strip, so it covers neither the part nor the other panes), it lists the document's mask
// volumes with a check box each, offers the mask tools on a toolbar and shows the chosen
// volume's position, size, turn and feather in edits that write back to the document. The view
// shows it when a mask tool is chosen and keeps it open, whatever tool follows, until the user
// closes it (its Close button or Escape) or no mask volume is left. The rules live in
// mask_panel_model.h.
#pragma once

#include "app/shell/kit/typed_entries.h"
#include "app/workflow/mask_panel_model.h"

#include <wx/panel.h>

#include <array>
#include <functional>

class wxButton;
class wxListCtrl;
class wxListEvent;
class wxSizer;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CGrainforgeDoc;
class CToolbarHostWnd;
class ICommandTarget;

inline constexpr int kIdMaskList = 1216;
inline constexpr int kIdMaskToolbarPlaceholder = 1217;
inline constexpr int kIdMaskFirstField = 1218;  // 1218..1227, in MaskFieldTexts order
inline constexpr int kIdMaskToolbar = 1;
inline constexpr const wchar_t* kMaskFieldNote = L"Z is the height of the centre above the bed.";

inline constexpr unsigned kCmdMaskMove = 32905;
inline constexpr unsigned kCmdMaskRotate = 32906;
inline constexpr unsigned kCmdMaskResize = 32907;
inline constexpr unsigned kCmdMaskDuplicate = 32908;
inline constexpr unsigned kCmdMaskDelete = 32909;
inline constexpr unsigned kCmdNoHandles = 32817;

class CMaskPanel final : public wxPanel, public ITypedEntryFields {
public:
    // `activeDocument` gives the main window's document (or null); commands go to `target`
    // (the main window's routing), which may be null. The panel starts hidden.
    CMaskPanel(wxWindow* parent, std::function<CGrainforgeDoc*()> activeDocument, ICommandTarget* target);
    ~CMaskPanel() override;

    // Shows the panel (its owner lays it out) and refreshes the list and the toolbar.
    void ShowMaskPanel();
    // What closing does (the Close button, Escape): the owner hides the panel and leaves the
    // mask tools. Without a handler the panel hides itself.
    void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }
    // The Close button's and Escape's road.
    void RequestClose();
    // Refills the list and the fields from the document, rebuilding the list only when the
    // volumes' count, names or shapes changed.
    void FillVolumeList(CGrainforgeDoc* document);
    // Applies the fields the user changed to the chosen volume (leaving an edit, Enter); the
    // refusal of the first field whose text is refused, or empty.
    std::wstring ApplyVolumeFields(wxWindow* gainingFocus = nullptr);
    // While the panel is shown, what its fields show is what Process and Save Project are to
    // read: a refused text stops them.
    std::wstring TakeTypedEntries() override;
    // Each refused text its fields hold while the panel is shown, as its field's refusal. A
    // volume's change re-runs the relief, so they stand against the Relief section.
    std::vector<std::wstring> HeldRefusals() const override;
    int FieldsStep() const override;
    void SayRefusedEntry(const std::wstring& message) override;

    wxListCtrl* List() const { return list_; }
    wxTextCtrl* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
    CToolbarHostWnd* Toolbar() const { return toolbar_; }
    wxButton* CloseButton() const { return closeButton_; }
    wxStaticText* Title() const { return title_; }
    // The note under the fields: where the Z is measured from, or why a typed text was refused.
    wxStaticText* FieldNote() const { return note_; }
    // The narrowest strip that shows the fields whole beside the bar the body scrolls with, and
    // the title's longest word beside Close; the width it asks for (its least size) may be more.
    int LeastWidth() const { return leastWidth_; }

private:
    void ShowVolumeFields(const mesh::MaskVolume* volume, float bedBase, wxWindow* keep);
    // Says `text` under the fields; a refusal of `field` under that field's row.
    void ShowFieldNote(const std::wstring& text, int field = -1);
    // Says the first refusal of the fields' texts as they stand, taking nothing; the note on Z
    // once none is refused.
    void SayTypedRefusal();
    void ScrollFieldNoteIntoSight();
    // Wraps the note to the fields' width as they stand now.
    void WrapFieldNote();
    int FieldNoteWidth() const;
    void OnItemChecked(wxListEvent& event, bool checked);
    void OnItemSelected(wxListEvent& event);
    void PostCommand(unsigned id);
    wxWindow* CreateCaption();
    // The title whole on one line where the caption has room, else a word a line.
    void FitTitle(int panelWidth);
    // Each column as wide as its heading and entries ask, where the list's width allows.
    void SizeListColumns();
    void CreateBody(wxWindow* body);

    std::function<CGrainforgeDoc*()> activeDocument_;
    ICommandTarget* target_ = nullptr;
    std::function<void()> closeHandler_;
    wxButton* closeButton_ = nullptr;
    wxStaticText* title_ = nullptr;
    bool titleWrapped_ = false;
    wxListCtrl* list_ = nullptr;
    wxStaticText* note_ = nullptr;
    std::wstring noteText_;  // the note as said, before wrapping
    int noteWidth_ = 0;      // the width it was last wrapped to
    int noteField_ = -1;     // the field it stands under, -1 at the foot
    wxSizer* group_ = nullptr;
    std::array<wxSizer*, 4> grids_{};  // each quantity's axis labels and fields
    int leastWidth_ = 0;
    CToolbarHostWnd* toolbar_ = nullptr;
    std::array<wxTextCtrl*, kMaskFieldCount> fields_{};
    bool updating_ = false;
    std::vector<mesh::MaskVolume> shownVolumes_;
    int shownSelection_ = -1;
    MaskFieldTexts shownTexts_;  // what the panel last wrote into each field
    // Each field whose typed text was refused keeps that text, to be mended, until it is taken
    // or another mask is shown.
    std::array<bool, kMaskFieldCount> refusedFields_{};
};

}  // namespace grainforge::app
