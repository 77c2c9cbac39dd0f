#include "app/workflow/mask_panel.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/toolbar_item.h"
#include "app/shell/kit/ui_colours.h"
#include "app/workflow/flow_types.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/renderer.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace grainforge::app {

namespace {

wxColour ToWx(Rgb colour) { return wxColour(colour.r, colour.g, colour.b); }

// The width the panel asks for, in DIP: the tools, a list wide enough for "Cylinder 12" and its
// shape, and the fields at ease.
constexpr int kMaskPanelWidth = 240;
constexpr const wchar_t* kMaskPanelTitle = L"Mask Volumes";
// A list heading's padding and separator on both sides under the toolkit's theme, in DIP: at
// its text's width and 14 more, "Shape" read "Shap".
constexpr int kHeadingPadding = 24;

}  // namespace

CMaskPanel::CMaskPanel(wxWindow* parent, std::function<CGrainforgeDoc*()> activeDocument, ICommandTarget* target)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxTAB_TRAVERSAL,
              wxS("Mask Volumes")),
      activeDocument_(std::move(activeDocument)), target_(target) {
    Hide();
    SetBackgroundColour(ToWx(colours::kPaneBackground));
    wxWindow* caption = CreateCaption();
    // The body scrolls down only: its fields stand in one column narrow enough for the strip
    // the view gives the panel on a small screen, and every field stays in reach by scrolling
    // down, Tab scrolling the focused one into sight.
    auto* body = new wxScrolledWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxVSCROLL | wxTAB_TRAVERSAL);
    CreateBody(body);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(caption, 0, wxEXPAND);
    sizer->Add(body, 1, wxEXPAND);
    SetSizer(sizer);
    // The width the panel asks for: room for the volumes' names beside the tools, and for the
    // bar it scrolls down with; the view may give it less, down to the fields' own width.
    leastWidth_ = body->GetMinSize().x + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this);
    // Nor narrower than the title's longest word beside Close.
    const int besideClose = closeButton_->GetBestSize().x + FromDIP(12);
    for (const wxString& word : wxSplit(kMaskPanelTitle, ' ', '\0'))
        leastWidth_ = std::max(leastWidth_, title_->GetTextExtent(word).x + besideClose);
    SetMinSize(wxSize(std::max(leastWidth_, FromDIP(kMaskPanelWidth)), -1));
    body->SetMinSize(wxSize(1, 1));
    body->SetScrollRate(0, FromDIP(8));
    body->FitInside();

    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        FitTitle(event.GetSize().x);
        event.Skip();
        // The fields widen with the panel once the sizers have run: the note follows them.
        CallAfter([this] { WrapFieldNote(); });
    });
    // Escape closes the panel as its Close button does.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_ESCAPE)
            RequestClose();
        else
            e.Skip();
    });
    ShowVolumeFields(nullptr, 0.0f, nullptr);
}

wxWindow* CMaskPanel::CreateCaption() {
    auto* caption = new wxPanel(this, wxID_ANY);
    caption->SetBackgroundColour(ToWx(colours::kHeaderBackground));
    // On a narrow strip the title wraps (FitTitle), whole, and Close stays whole beside it.
    auto* title = new wxStaticText(caption, wxID_ANY, kMaskPanelTitle);
    wxFont bold = title->GetFont();
    bold.SetWeight(wxFONTWEIGHT_BOLD);
    title->SetFont(bold);
    title_ = title;
    closeButton_ = new wxButton(caption, wxID_CLOSE, wxS("Close"), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    closeButton_->SetToolTip(wxS("Close the panel and leave the mask tools (Escape)."));
    closeButton_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { RequestClose(); });
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(title, 1, wxALIGN_CENTER_VERTICAL | wxLEFT, FromDIP(8));
    row->Add(closeButton_, 0, wxALIGN_CENTER_VERTICAL | wxALL, FromDIP(2));
    caption->SetSizer(row);
    return caption;
}

void CMaskPanel::CreateBody(wxWindow* body) {
    // Laid out by sizers at the controls' own sizes, so that the panel takes no more of the
    // view's width than its fields need.
    const int gap = body->FromDIP(6);
    auto* column = new wxBoxSizer(wxVERTICAL);

    // The tools stand down the side of the list, so that all five stay in a strip no wider than
    // the fields below.
    auto* toolsAndList = new wxBoxSizer(wxHORIZONTAL);
    toolbar_ = new CToolbarHostWnd();
    if (toolbar_->Create(body, kIdMaskToolbar)) {
        toolbar_->SetOrientation(1);
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
        // Five buttons of 32 px with their gaps and margins.
        toolbar_->SetMinSize(wxSize(toolbar_->BarHeight(), body->FromDIP(170)));
        toolsAndList->Add(toolbar_, 0, wxEXPAND | wxRIGHT, gap / 2);
    }

    list_ = new wxListCtrl(body, kIdMaskList, wxDefaultPosition, wxSize(body->FromDIP(40), body->FromDIP(110)),
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_NO_SORT_HEADER | wxBORDER_THEME);
    list_->EnableCheckBoxes(true);
    list_->AppendColumn(wxS("Volume"), wxLIST_FORMAT_LEFT);
    list_->AppendColumn(wxS("Shape"), wxLIST_FORMAT_LEFT);
    list_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        SizeListColumns();
    });
    toolsAndList->Add(list_, 1, wxEXPAND);
    column->Add(toolsAndList, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);

    auto* group = new wxStaticBoxSizer(wxVERTICAL, body, wxS("Chosen volume"));
    wxWindow* box = group->GetStaticBox();
    // GTK sizes the frame by its contents alone; narrower than its title, the title was cut at
    // both ends ("hosen volum") at 800 x 600.
    group->SetMinSize(wxSize(box->GetTextExtent(box->GetLabel()).x + gap, -1));
    // One column: each quantity's heading, then a row a field (X, Y, Z), so that the group is
    // no wider than a label and a field and is reached by scrolling down alone.
    auto* fieldColumn = new wxBoxSizer(wxVERTICAL);
    const wchar_t* const rows[4] = {L"Position (mm)", L"Size (mm)", L"Turn (degrees)", L"Feather (mm)"};
    const wchar_t* const axes[3] = {L"X", L"Y", L"Z"};
    // The fields' least width; they widen with the panel.
    const wxSize fieldSize(body->FromDIP(44), -1);
    for (int row = 0; row < 4; ++row) {
        fieldColumn->Add(new wxStaticText(box, wxID_ANY, rows[row]), 0, row > 0 ? wxTOP : 0, gap);
        auto* grid = new wxFlexGridSizer(2, gap / 2, gap);
        grid->AddGrowableCol(1);
        for (int column = 0; column < (row == 3 ? 1 : 3); ++column) {
            grid->Add(new wxStaticText(box, wxID_ANY, row == 3 ? L"" : axes[column]), 0, wxALIGN_CENTER_VERTICAL);
            const int index = 3 * row + column;
            auto* field = new wxTextCtrl(box, kIdMaskFirstField + index, wxEmptyString, wxDefaultPosition, fieldSize,
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
            // A refusal is said as the text is typed; the text is taken as the field is left.
            field->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
                event.Skip();
                if (!updating_ && !IsBeingDeleted())
                    SayTypedRefusal();
            });
            fields_[static_cast<std::size_t>(index)] = field;
            grid->Add(field, 1, wxEXPAND);
        }
        fieldColumn->Add(grid, 0, wxEXPAND | wxTOP, gap / 2);
        grids_[static_cast<std::size_t>(row)] = grid;
    }
    // Little room at the sides: at 800 x 600 the panel is a narrow strip.
    group->Add(fieldColumn, 0, wxEXPAND | wxTOP | wxBOTTOM, gap / 2);
    auto* note = new wxStaticText(box, wxID_ANY, kMaskFieldNote);
    note->Wrap(fieldColumn->CalcMin().x);
    group->Add(note, 0, wxEXPAND | wxALL, gap / 2);
    group_ = group;
    note_ = note;
    noteText_ = kMaskFieldNote;
    // The same margin as the tools and the list above, so the frame stands off the panel's edges.
    column->Add(group, 0, wxEXPAND | wxALL, gap);
    body->SetSizer(column);
    body->SetMinSize(column->CalcMin());

    list_->Bind(wxEVT_LIST_ITEM_CHECKED, [this](wxListEvent& e) { OnItemChecked(e, true); });
    list_->Bind(wxEVT_LIST_ITEM_UNCHECKED, [this](wxListEvent& e) { OnItemChecked(e, false); });
    list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) { OnItemSelected(e); });
    list_->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& e) {
        if (e.GetKeyCode() == WXK_DELETE)
            PostCommand(kCmdMaskDelete);
    });
}

CMaskPanel::~CMaskPanel() {
    // The edits lose the focus while they are destroyed: nothing may reach the document then.
    updating_ = true;
    activeDocument_ = nullptr;
    DestroyChildren();
}

void CMaskPanel::FitTitle(int panelWidth) {
    if (title_ == nullptr || closeButton_ == nullptr)
        return;
    const int room = panelWidth - closeButton_->GetBestSize().x - FromDIP(12);
    const bool wrap = title_->GetTextExtent(kMaskPanelTitle).x > room;
    if (wrap == titleWrapped_)
        return;
    titleWrapped_ = wrap;
    title_->SetLabel(kMaskPanelTitle);
    if (wrap)
        title_->Wrap(std::max(room, 1));
    title_->InvalidateBestSize();
    title_->GetParent()->Layout();
}

void CMaskPanel::SizeListColumns() {
    const int room = list_->GetClientSize().x;
    if (room <= 0)
        return;
    std::array<int, 2> needs{};
    for (int column = 0; column < 2; ++column) {
        wxListItem heading;
        heading.SetMask(wxLIST_MASK_TEXT);
        list_->GetColumn(column, heading);
        int widest = 0;
        for (long item = 0; item < list_->GetItemCount(); ++item)
            widest = std::max(widest, list_->GetTextExtent(list_->GetItemText(item, column)).x);
        // The cell's margins, and before the names their check boxes.
        widest += list_->FromDIP(14) + (column == 0 ? wxRendererNative::Get().GetCheckBoxSize(list_).x + list_->FromDIP(10) : 0);
        // The heading's button pads its text more than a cell does, and cut it short at the
        // cell's margins ("Shap").
        const int headingNeed = list_->GetTextExtent(heading.GetText()).x + list_->FromDIP(kHeadingPadding);
        needs[static_cast<std::size_t>(column)] = std::max(widest, headingNeed);
    }
    const std::array<int, 2> widths = MaskListColumnWidths(room, needs);
    for (int column = 0; column < 2; ++column)
        if (list_->GetColumnWidth(column) != widths[static_cast<std::size_t>(column)])
            list_->SetColumnWidth(column, widths[static_cast<std::size_t>(column)]);
}

void CMaskPanel::PostCommand(unsigned id) {
    if (target_ == nullptr)
        return;
    ICommandTarget* target = target_;
    CallAfter([target, id] { target->ExecuteCommand(id); });
}

void CMaskPanel::RequestClose() {
    // Posted: the handler hides this panel, which may hold the focus of the key or the click.
    CallAfter([this] {
        if (closeHandler_)
            closeHandler_();
        else
            Hide();
    });
}

void CMaskPanel::ShowMaskPanel() {
    if (!IsShown())
        Show();
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
        SizeListColumns();
    }
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const bool enabled = volumes[i].enabled != 0;
        if (list_->IsItemChecked(static_cast<long>(i)) != enabled)
            list_->CheckItem(static_cast<long>(i), enabled);
    }
    if (rebuild || selection != shownSelection_) {
        // Another volume's fields show what is stored: a refusal of the last one's text, left
        // standing, would say they hold a refused text while Process takes them.
        refusedFields_ = {};
        ShowFieldNote(kMaskFieldNote);
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
        // The field being typed in keeps the user's text, and so does every refused one.
        if (volume != nullptr && (field == keep || refusedFields_[static_cast<std::size_t>(i)]))
            continue;
        if (field->GetValue().ToStdWstring() != texts[i])
            field->ChangeValue(texts[i]);
        shownTexts_[static_cast<std::size_t>(i)] = texts[i];
    }
    updating_ = wasUpdating;
}

std::wstring CMaskPanel::ApplyVolumeFields(wxWindow* gainingFocus) {
    CGrainforgeDoc* document = activeDocument_ ? activeDocument_() : nullptr;
    if (document == nullptr)
        return {};
    const int index = document->selectedMask;
    if (index < 0 || static_cast<std::size_t>(index) >= document->maskVolumes.size())
        return {};
    const float base = BedBaseHeight(document->workingPart);
    MaskFieldTexts typed;
    for (int i = 0; i < kMaskFieldCount; ++i)
        typed[i] = fields_[static_cast<std::size_t>(i)]->GetValue().ToStdWstring();
    const mesh::MaskVolume stored = document->maskVolumes[static_cast<std::size_t>(index)];
    // A refused text keeps its field's value and is said under the fields, as a dialog says it,
    // until a text is taken; Enter leaves the field's text selected to type again.
    const MaskFieldRefusal refusal = CheckMaskFieldEdits(shownTexts_, typed);
    refusedFields_ = refusal.refused;
    if (refusal.field >= 0)
        ShowFieldNote(refusal.text, refusal.field);
    else if (typed != shownTexts_)
        ShowFieldNote(kMaskFieldNote);
    const mesh::MaskVolume edited = ApplyMaskFieldEdits(stored, shownTexts_, typed, base);
    if (!mesh::MaskVolumeEquals(stored, edited)) {
        // Its own undo step, not folded into a drag that is still pending.
        document->CommitPendingEdit();
        document->UpdateMaskVolume(index, edited);
    }
    // Kept values show at once; texts the user left unchanged are put back as shown.
    if (index >= 0 && static_cast<std::size_t>(index) < document->maskVolumes.size())
        ShowVolumeFields(&document->maskVolumes[static_cast<std::size_t>(index)], base, gainingFocus);
    if (refusal.field >= 0 && gainingFocus == nullptr && FindFocus() == Field(refusal.field))
        Field(refusal.field)->SelectAll();
    if (refusal.field >= 0)
        ScrollFieldNoteIntoSight();
    return refusal.text;
}

void CMaskPanel::SayTypedRefusal() {
    MaskFieldTexts typed;
    for (int i = 0; i < kMaskFieldCount; ++i)
        typed[i] = fields_[static_cast<std::size_t>(i)]->GetValue().ToStdWstring();
    const MaskFieldRefusal refusal = CheckMaskFieldEdits(shownTexts_, typed);
    if (refusal.field >= 0)
        ShowFieldNote(refusal.text, refusal.field);
    else
        ShowFieldNote(kMaskFieldNote);
}

std::wstring CMaskPanel::TakeTypedEntries() {
    // A hidden panel shows no text that could differ from what is stored.
    if (!IsShown() || updating_)
        return {};
    return ApplyVolumeFields();
}

std::vector<std::wstring> CMaskPanel::HeldRefusals() const {
    std::vector<std::wstring> held;
    if (!IsShown())
        return held;
    for (int i = 0; i < kMaskFieldCount; ++i) {
        const wxTextCtrl* field = fields_[static_cast<std::size_t>(i)];
        if (!refusedFields_[static_cast<std::size_t>(i)] || field == nullptr || !field->IsEnabled())
            continue;
        // The field's own refusal, as the others' texts stand shown.
        MaskFieldTexts typed = shownTexts_;
        typed[i] = field->GetValue().ToStdWstring();
        const MaskFieldRefusal refusal = CheckMaskFieldEdits(shownTexts_, typed);
        if (refusal.field >= 0)
            held.push_back(refusal.text);
    }
    return held;
}

int CMaskPanel::FieldsStep() const { return StepIndex(FlowStep::Relief); }

void CMaskPanel::SayRefusedEntry(const std::wstring& message) {
    const auto first = std::find(refusedFields_.begin(), refusedFields_.end(), true);
    if (first != refusedFields_.end()) {
        wxTextCtrl* field = fields_[static_cast<std::size_t>(first - refusedFields_.begin())];
        field->SetFocus();
        field->SelectAll();
    }
    ShowFieldNote(message, first != refusedFields_.end() ? static_cast<int>(first - refusedFields_.begin()) : -1);
    ScrollFieldNoteIntoSight();
}

void CMaskPanel::ScrollFieldNoteIntoSight() {
    // Its end is scrolled into sight, which the field above it stays in on any screen the panel
    // fits.
    for (wxWindow* window = note_ != nullptr ? note_->GetParent() : nullptr; window != nullptr;
         window = window->GetParent())
        if (auto* body = dynamic_cast<wxScrolledWindow*>(window)) {
            const int below = note_->GetScreenRect().GetBottom() - body->GetScreenRect().GetBottom();
            int unitX = 0;
            int unitY = 0;
            body->GetScrollPixelsPerUnit(&unitX, &unitY);
            if (below > 0 && unitY > 0)
                body->Scroll(-1, body->GetViewStart().y + (below + unitY - 1) / unitY + 1);
            break;
        }
}

void CMaskPanel::ShowFieldNote(const std::wstring& text, int field) {
    if (note_ == nullptr)
        return;
    // A refusal stands right under the row of the field it refuses, where the eye is (at the
    // foot of the fields it lay below the fold at 800 x 600, so that a refused text seemed
    // taken); the note on Z stands at the foot.
    const int at = text != kMaskFieldNote && field >= 0 ? std::min(field, kMaskFieldCount - 1) : -1;
    if (at != noteField_) {
        if (noteField_ >= 0) {
            // Out of its grid with the empty cell before it.
            wxSizer* grid = grids_[static_cast<std::size_t>(noteField_ / 3)];
            const int index = 2 * (noteField_ % 3) + 2;
            grid->Detach(note_);
            grid->Remove(index);
        } else {
            group_->Detach(note_);
        }
        const int gap = note_->FromDIP(3);
        if (at < 0) {
            group_->Add(note_, 0, wxEXPAND | wxALL, gap);
        } else {
            // Under the field itself, in its column of the grid.
            wxSizer* grid = grids_[static_cast<std::size_t>(at / 3)];
            const int index = 2 * (at % 3) + 2;
            grid->Insert(static_cast<std::size_t>(index), 0, 0);
            grid->Insert(static_cast<std::size_t>(index + 1), note_, 0, wxEXPAND | wxBOTTOM, gap);
        }
        noteField_ = at;
        noteWidth_ = 0;
    }
    if (noteText_ == text) {
        WrapFieldNote();
        return;
    }
    // A refusal in red, as every dialog says one; the note on Z in the panel's own colour.
    const bool refusal = text != kMaskFieldNote;
    note_->SetForegroundColour(refusal ? ToWx(colours::kRefusalText) : wxNullColour);
    noteText_ = text;
    noteWidth_ = 0;
    WrapFieldNote();
}

int CMaskPanel::FieldNoteWidth() const {
    // As wide as the fields stand: the note's own width was that of its last wrapping, which
    // left a refusal about ten characters a line in a 230 px panel.
    const wxTextCtrl* right = Field(2);
    // Under a field it starts where the field does (laid out or not yet).
    const int left = noteField_ >= 0 ? Field(noteField_)->GetPosition().x : note_->GetPosition().x;
    const int width = right->GetPosition().x + right->GetSize().x - left;
    return std::max(width, FromDIP(60));
}

void CMaskPanel::WrapFieldNote() {
    if (note_ == nullptr)
        return;
    const int width = FieldNoteWidth();
    if (width == noteWidth_)
        return;
    noteWidth_ = width;
    note_->SetLabel(noteText_);
    note_->Wrap(width);
    // As tall as the lines it was wrapped to: the toolkit's best size of a wrapping label is
    // that of its narrowest layout, a word a line, which left a gap of empty lines under it.
    wxClientDC dc(note_);
    dc.SetFont(note_->GetFont());
    // Its width follows the fields' (it stretches with them), never holds them wide.
    note_->SetMinSize(wxSize(FromDIP(40), dc.GetMultiLineTextExtent(note_->GetLabel()).y));
    // The note may take more lines: the first window up that lays out children makes room,
    // the scrolled body by growing what it scrolls over.
    for (wxWindow* window = note_->GetParent(); window != nullptr; window = window->GetParent())
        if (window->GetSizer() != nullptr) {
            if (auto* scrolled = dynamic_cast<wxScrolledWindow*>(window))
                scrolled->FitInside();
            window->Layout();
            break;
        }
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
