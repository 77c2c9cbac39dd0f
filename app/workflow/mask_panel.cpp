#include "app/workflow/mask_panel.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/toolbar_item.h"
#include "app/shell/profile_store.h"

#include <wx/display.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace grainforge::app {

namespace {

const wchar_t* const kSection = L"MaskPanel";

}  // namespace

CMaskPanel::CMaskPanel(wxWindow* parent, std::function<CGrainforgeDoc*()> activeDocument, ICommandTarget* target,
                       IProfileStore* profile)
    : wxDialog(parent, wxID_ANY, wxS("Mask Volumes"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxFRAME_TOOL_WINDOW | wxFRAME_FLOAT_ON_PARENT),
      activeDocument_(std::move(activeDocument)), target_(target), profile_(profile) {
    const auto du = [this](int x, int y, int w, int h) {
        return std::make_pair(wxDLG_UNIT(this, wxPoint(x, y)), wxDLG_UNIT(this, wxSize(w, h)));
    };
    SetClientSize(wxDLG_UNIT(this, wxSize(186, 222)));

    // The toolbar takes the placeholder's place.
    const auto [barAt, barSize] = du(6, 4, 174, 26);
    toolbar_ = new CToolbarHostWnd();
    if (toolbar_->Create(this, kIdMaskToolbar)) {
        toolbar_->SetColorStyle();
        toolbar_->SetButtonSize();
        toolbar_->SetIconPadding(4);
        toolbar_->SetSpacing(1);
        toolbar_->SetMargin(2);
        toolbar_->SetCommandTarget(target_);
        toolbar_->SetItems({
            MakeToolbarButton(kCmdMaskMove, L"sel_move", L"Move", L"Drag an arrow to move the chosen volume."),
            MakeToolbarButton(kCmdMaskRotate, L"sel_rotate", L"Rotate", L"Drag a ring to turn the chosen volume."),
            MakeToolbarButton(kCmdMaskResize, L"sel_scale", L"Resize",
                              L"Drag the cube on a face to move that face; with Shift, the opposite face moves too."),
            MakeToolbarButton(kCmdMaskDuplicate, L"mask_duplicate", L"Duplicate", L"A copy of the chosen volume, beside it."),
            MakeToolbarButton(kCmdMaskDelete, L"mask_delete", L"Delete", L"Remove the chosen volume."),
        });
        toolbar_->SetSize(barAt.x, barAt.y, barSize.x, toolbar_->BarHeight());
    }

    const auto [listAt, listSize] = du(6, 34, 174, 74);
    list_ = new wxListCtrl(this, kIdMaskList, listAt, listSize,
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_NO_SORT_HEADER | wxBORDER_THEME);
    list_->EnableCheckBoxes(true);
    const int listWidth = list_->GetClientSize().x;
    list_->AppendColumn(wxS("Volume"), wxLIST_FORMAT_LEFT, listWidth * 62 / 100);
    list_->AppendColumn(wxS("Shape"), wxLIST_FORMAT_LEFT, listWidth * 38 / 100 - 2);

    const auto [groupAt, groupSize] = du(6, 112, 174, 104);
    new wxStaticBox(this, wxID_ANY, wxS("Chosen volume"), groupAt, groupSize);
    const wchar_t* const heads[3] = {L"X", L"Y", L"Z"};
    for (int i = 0; i < 3; ++i) {
        const auto [at, size] = du(72 + 36 * i, 124, 30, 8);
        new wxStaticText(this, wxID_ANY, heads[i], at, size);
    }
    const wchar_t* const rows[4] = {L"Position (mm)", L"Size (mm)", L"Turn (degrees)", L"Feather (mm)"};
    for (int row = 0; row < 4; ++row) {
        const auto [at, size] = du(12, 138 + 16 * row, 56, 8);
        new wxStaticText(this, wxID_ANY, rows[row], at, size);
        for (int column = 0; column < (row == 3 ? 1 : 3); ++column) {
            const int index = 3 * row + column;
            const auto [fieldAt, fieldSize] = du(70 + 36 * column, 136 + 16 * row, 34, 12);
            auto* field = new wxTextCtrl(this, kIdMaskFirstField + index, wxEmptyString, fieldAt, fieldSize,
                                         wxTE_PROCESS_ENTER);
            field->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
                event.Skip();
                if (!updating_ && !IsBeingDeleted())
                    ApplyVolumeFields(event.GetWindow());
            });
            // Enter applies without closing the panel.
            field->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) {
                if (!updating_)
                    ApplyVolumeFields();
            });
            fields_[static_cast<std::size_t>(index)] = field;
        }
    }
    const auto [noteAt, noteSize] = du(12, 202, 164, 8);
    new wxStaticText(this, wxID_ANY, wxS("Z is the height of the centre above the bed."), noteAt, noteSize);

    list_->Bind(wxEVT_LIST_ITEM_CHECKED, [this](wxListEvent& e) { OnItemChecked(e, true); });
    list_->Bind(wxEVT_LIST_ITEM_UNCHECKED, [this](wxListEvent& e) { OnItemChecked(e, false); });
    list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) { OnItemSelected(e); });
    list_->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& e) {
        if (e.GetKeyCode() == WXK_DELETE)
            PostCommand(kCmdMaskDelete);
    });
    // Escape and the close box switch to the no-handles tool; the view hides the panel. The
    // panel lives as long as the view.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_ESCAPE)
            PostCommand(kCmdNoHandles);
        else
            e.Skip();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
        if (!e.CanVeto()) {
            e.Skip();
            return;
        }
        e.Veto();
        PostCommand(kCmdNoHandles);
    });
    Bind(wxEVT_MOVE, [this](wxMoveEvent& e) {
        e.Skip();
        SavePosition();
    });
    ShowVolumeFields(nullptr, 0.0f, nullptr);
}

CMaskPanel::~CMaskPanel() {
    // The edits lose the focus while they are destroyed: nothing may reach the document then.
    updating_ = true;
    activeDocument_ = nullptr;
    DestroyChildren();
}

void CMaskPanel::PostCommand(unsigned id) {
    if (target_ == nullptr)
        return;
    ICommandTarget* target = target_;
    CallAfter([target, id] { target->ExecuteCommand(id); });
}

void CMaskPanel::SavePosition() {
    if (profile_ == nullptr || !IsShown())
        return;
    const wxPoint at = GetPosition();
    profile_->WriteInt(kSection, L"X", at.x);
    profile_->WriteInt(kSection, L"Y", at.y);
}

void CMaskPanel::ShowMaskPanel(const wxRect& view) {
    if (!IsShown()) {
        const int savedX = profile_ != nullptr ? profile_->ReadInt(kSection, L"X", INT_MIN) : INT_MIN;
        const int savedY = profile_ != nullptr ? profile_->ReadInt(kSection, L"Y", INT_MIN) : INT_MIN;
        const int display = wxDisplay::GetFromPoint(view.GetTopLeft());
        const wxRect work = wxDisplay(display != wxNOT_FOUND ? static_cast<unsigned>(display) : 0u).GetClientArea();
        const wxSize size = GetSize();
        const PanelPoint at = MaskPanelPlacement(
            {view.x, view.y, view.width, view.height}, size.x, size.y, {work.x, work.y, work.width, work.height},
            savedX, savedY,
            [](PanelPoint p) { return wxDisplay::GetFromPoint(wxPoint(p.x, p.y)) != wxNOT_FOUND; });
        Move(at.x, at.y);
        ShowWithoutActivating();
    }
    FillVolumeList(activeDocument_ ? activeDocument_() : nullptr);
    if (toolbar_ != nullptr)
        toolbar_->UpdateCommandStates();
}

void CMaskPanel::FillVolumeList(CGrainforgeDoc* document) {
    static const std::vector<mesh::MaskVolume> kNone;
    const std::vector<mesh::MaskVolume>& volumes = document != nullptr ? document->maskVolumes : kNone;
    const int selection = document != nullptr ? document->selectedMask : -1;
    updating_ = true;
    const bool rebuild = VolumeListNeedsRebuild(shownVolumes_, volumes);
    if (rebuild) {
        list_->DeleteAllItems();
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const long item = list_->InsertItem(static_cast<long>(i), wxString::FromUTF8(volumes[i].name));
            list_->SetItem(item, 1, MaskShapeName(volumes[i].shape));
        }
    }
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const bool enabled = volumes[i].enabled != 0;
        if (list_->IsItemChecked(static_cast<long>(i)) != enabled)
            list_->CheckItem(static_cast<long>(i), enabled);
    }
    if (rebuild || selection != shownSelection_) {
        const long all = wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED;
        for (long i = 0; i < list_->GetItemCount(); ++i)
            list_->SetItemState(i, i == selection ? all : 0, all);
        if (selection >= 0 && selection < list_->GetItemCount())
            list_->EnsureVisible(selection);
    }
    shownVolumes_ = volumes;
    shownSelection_ = selection;
    const bool inRange = selection >= 0 && static_cast<std::size_t>(selection) < volumes.size();
    const float base = document != nullptr ? BedBaseHeight(document->workingPart) : 0.0f;
    ShowVolumeFields(inRange ? &volumes[static_cast<std::size_t>(selection)] : nullptr, base, FindFocus());
    updating_ = false;
}

void CMaskPanel::ShowVolumeFields(const mesh::MaskVolume* volume, float bedBase, wxWindow* keep) {
    const bool wasUpdating = updating_;
    updating_ = true;
    const MaskFieldTexts texts = volume != nullptr ? MaskFieldTextsOf(*volume, bedBase) : MaskFieldTexts{};
    for (int i = 0; i < kMaskFieldCount; ++i) {
        wxTextCtrl* field = fields_[static_cast<std::size_t>(i)];
        field->Enable(volume != nullptr);
        // The field being typed in keeps the user's text.
        if (volume != nullptr && field == keep)
            continue;
        if (field->GetValue().ToStdWstring() != texts[i])
            field->ChangeValue(texts[i]);
        shownTexts_[static_cast<std::size_t>(i)] = texts[i];
    }
    updating_ = wasUpdating;
}

void CMaskPanel::ApplyVolumeFields(wxWindow* gainingFocus) {
    CGrainforgeDoc* document = activeDocument_ ? activeDocument_() : nullptr;
    if (document == nullptr)
        return;
    const int index = document->selectedMask;
    if (index < 0 || static_cast<std::size_t>(index) >= document->maskVolumes.size())
        return;
    const float base = BedBaseHeight(document->workingPart);
    MaskFieldTexts typed;
    for (int i = 0; i < kMaskFieldCount; ++i)
        typed[i] = fields_[static_cast<std::size_t>(i)]->GetValue().ToStdWstring();
    const mesh::MaskVolume stored = document->maskVolumes[static_cast<std::size_t>(index)];
    const mesh::MaskVolume edited = ApplyMaskFieldEdits(stored, shownTexts_, typed, base);
    if (!mesh::MaskVolumeEquals(stored, edited)) {
        // Its own undo step, not folded into a drag that is still pending.
        document->CommitPendingEdit();
        document->UpdateMaskVolume(index, edited);
    }
    // Clamped values show at once; texts the user left unchanged are put back as shown.
    if (index >= 0 && static_cast<std::size_t>(index) < document->maskVolumes.size())
        ShowVolumeFields(&document->maskVolumes[static_cast<std::size_t>(index)], base, gainingFocus);
}

void CMaskPanel::OnItemChecked(wxListEvent& event, bool checked) {
    if (updating_)
        return;
    CGrainforgeDoc* document = activeDocument_ ? activeDocument_() : nullptr;
    const long index = event.GetIndex();
    if (document == nullptr || index < 0 || static_cast<std::size_t>(index) >= document->maskVolumes.size())
        return;
    mesh::MaskVolume volume = document->maskVolumes[static_cast<std::size_t>(index)];
    if ((volume.enabled != 0) == checked)
        return;
    volume.enabled = checked ? 1 : 0;
    document->CommitPendingEdit();
    document->UpdateMaskVolume(static_cast<int>(index), volume);
}

void CMaskPanel::OnItemSelected(wxListEvent& event) {
    if (updating_)
        return;
    CGrainforgeDoc* document = activeDocument_ ? activeDocument_() : nullptr;
    const long index = event.GetIndex();
    if (document == nullptr || index < 0 || static_cast<std::size_t>(index) >= document->maskVolumes.size())
        return;
    if (document->selectedMask != index) {
        document->selectedMask = static_cast<int>(index);
        document->UpdateAllViews(1);
    }
}

}  // namespace grainforge::app
