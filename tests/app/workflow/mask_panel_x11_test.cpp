// The mask panel on a real display, over a document holding the test cube and one mask: typed
// fields move the mask as one undo step each, tabbing through the fields changes nothing, the
// check box switches the mask, and Close or Escape close the panel.
#include "app/workflow/mask_panel.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_colours.h"
#include "tests/support/wx/wx_test_pump.h"

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

struct RecordingTarget final : ICommandTarget {
    bool ExecuteCommand(std::uint32_t id) override {
        executed.push_back(id);
        return true;
    }
    std::optional<CommandState> QueryCommand(std::uint32_t) const override { return CommandState{}; }
    std::vector<std::uint32_t> executed;
};

struct PanelFixture {
    PanelFixture() {
        doc.surfaceTestCells = 32;
        doc.OnFileTestShapeCube();
        mesh::MaskVolume mask;
        mask.center = {1.23456f, -2.5f, doc.workingPart.boundsMin.z + 3.3333f};
        mask.size = {6.0f, 4.004f, 5.0f};
        mask.rotationDegrees = {0.0f, 0.0f, 33.3333f};
        mask.name = "Keep plain";
        doc.maskVolumes.push_back(mask);
        doc.selectedMask = 0;
        frame = new wxFrame(nullptr, wxID_ANY, wxS("View"), wxPoint(40, 40), wxSize(900, 700));
        frame->Show();
        panel = new CMaskPanel(frame, [this] { return &doc; }, &target);
        panel->ShowMaskPanel();
        // The owner's strip: as wide as the panel asks, as high as the window.
        panel->SetSize(0, 0, panel->GetMinSize().x, frame->GetClientSize().y);
        PumpUntil([this] { return panel->IsShown(); });
        PumpFor(std::chrono::milliseconds(300));
    }
    ~PanelFixture() {
        frame->Destroy();
        PumpFor(std::chrono::milliseconds(20));
    }
    // Moves the keyboard focus to a field as Tab would, then applies what leaving the previous
    // field applies (a window manager may not deliver the focus change under Xvfb).
    void FocusField(int index) {
        wxWindow* previous = wxWindow::FindFocus();
        panel->Field(index)->SetFocus();
        PumpFor(std::chrono::milliseconds(30));
        if (previous != panel->Field(index))
            panel->ApplyVolumeFields(panel->Field(index));
    }
    const mesh::MaskVolume& Mask() const { return doc.maskVolumes.front(); }

    CGrainforgeDoc doc;
    RecordingTarget target;
    wxFrame* frame = nullptr;
    CMaskPanel* panel = nullptr;
};

// At the width it asks for, the panel shows every control whole below its caption, and every
// tool on its toolbar has its picture.
TEST(MaskPanelX11, ShowsEveryControlWithinItsWidthAndEveryToolIcon) {
    PanelFixture f;
    const wxRect panel = f.panel->GetScreenRect();
    for (int i = 0; i < kMaskFieldCount; ++i)
        EXPECT_TRUE(panel.Contains(f.panel->Field(i)->GetScreenRect())) << i;
    EXPECT_TRUE(panel.Contains(f.panel->List()->GetScreenRect()));
    EXPECT_TRUE(panel.Contains(f.panel->CloseButton()->GetScreenRect()));
    EXPECT_LT(f.panel->CloseButton()->GetScreenRect().GetBottom(), f.panel->Toolbar()->GetScreenRect().y);
    ASSERT_NE(f.panel->Toolbar(), nullptr);
    ASSERT_EQ(f.panel->Toolbar()->Model().Buttons().size(), 5u);
    for (const ToolbarButtonState& button : f.panel->Toolbar()->Model().Buttons())
        EXPECT_NE(GetIconImage(button.item.iconName), nullptr) << button.item.iconName;
    EXPECT_TRUE(WindowShot::Save(f.panel, "mask_panel_beside_view.png"));
}

TEST(MaskPanelX11, ShowsTheChosenVolume) {
    PanelFixture f;
    ASSERT_EQ(f.panel->List()->GetItemCount(), 1);
    EXPECT_EQ(f.panel->List()->GetItemText(0, 0), wxS("Keep plain"));
    EXPECT_EQ(f.panel->List()->GetItemText(0, 1), wxS("Box"));
    EXPECT_TRUE(f.panel->List()->IsItemChecked(0));
    const wchar_t* const want[kMaskFieldCount] = {L"1.23", L"-2.5", L"3.33", L"6", L"4", L"5", L"0", L"0", L"33.33", L"0"};
    for (int i = 0; i < kMaskFieldCount; ++i)
        EXPECT_EQ(f.panel->Field(i)->GetValue().ToStdWstring(), want[i]) << i;
    EXPECT_TRUE(WindowShot::Save(f.panel, (std::filesystem::current_path() / "mask_panel.png").string()));
}

TEST(MaskPanelX11, TabbingThroughTheFieldsChangesNothing) {
    PanelFixture f;
    const mesh::MaskVolume before = f.Mask();
    const std::size_t undoSteps = f.doc.undoStack.size();
    for (int i = 0; i < kMaskFieldCount; ++i)
        f.FocusField(i);
    f.FocusField(0);
    EXPECT_TRUE(mesh::MaskVolumeEquals(f.Mask(), before));
    EXPECT_EQ(f.Mask().center.x, before.center.x);
    EXPECT_EQ(f.Mask().rotationDegrees.z, before.rotationDegrees.z);
    EXPECT_EQ(f.doc.undoStack.size(), undoSteps);
}

TEST(MaskPanelX11, TypedFieldsMoveTheMaskOneUndoStepEach) {
    PanelFixture f;
    const float base = f.doc.workingPart.boundsMin.z;
    const std::size_t undoSteps = f.doc.undoStack.size();
    f.FocusField(0);
    f.panel->Field(0)->ChangeValue(wxS("5"));
    f.FocusField(2);
    EXPECT_FLOAT_EQ(f.Mask().center.x, 5.0f);
    EXPECT_FLOAT_EQ(f.Mask().center.y, -2.5f);
    EXPECT_EQ(f.doc.undoStack.size(), undoSteps + 1);

    f.panel->Field(2)->ChangeValue(wxS("7"));
    f.FocusField(3);
    EXPECT_FLOAT_EQ(f.Mask().center.z, base + 7.0f) << "z is typed above the bed";
    // A size below the least is refused as a dialog refuses it (it used to be raised to 0.5
    // without a word): the value stays, the panel names the range, and the field keeps what was
    // typed to be mended (it used to be put back to the stored value, losing the text).
    f.panel->Field(3)->ChangeValue(wxS("0.1"));
    f.FocusField(4);
    EXPECT_FLOAT_EQ(f.Mask().size.x, 6.0f);
    EXPECT_EQ(f.panel->Field(3)->GetValue(), wxS("0.1")) << "the refused text stays";
    const auto note = [&f] {  // as read, with the lines it wraps to joined again
        wxString text = f.panel->FieldNote()->GetLabel();
        text.Replace("\n", " ");
        return text;
    };
    EXPECT_EQ(note(), wxS("Size X must be from 0.5 to 10000 mm."));
    // Red as every other refusal (it was the grey of the note it replaces).
    const wxColour red(colours::kRefusalText.r, colours::kRefusalText.g, colours::kRefusalText.b);
    EXPECT_EQ(f.panel->FieldNote()->GetForegroundColour(), red);
    f.FocusField(5);
    EXPECT_EQ(f.panel->Field(3)->GetValue(), wxS("0.1")) << "still there after the focus moves on";
    // A second refused text stands beside the first (it used to be put back to 0 without a word);
    // the note keeps saying the first until it is mended.
    for (const wxString typed : {wxS("-3"), wxS("nan")}) {
        f.FocusField(9);
        f.panel->Field(9)->ChangeValue(typed);
        f.FocusField(5);
        EXPECT_EQ(f.panel->Field(9)->GetValue(), typed);
        EXPECT_EQ(f.panel->Field(3)->GetValue(), wxS("0.1")) << typed;
        EXPECT_FLOAT_EQ(f.Mask().featherMillimetres, 0.0f) << typed;
        EXPECT_EQ(note(), wxS("Size X must be from 0.5 to 10000 mm.")) << typed;
    }
    f.FocusField(9);
    f.panel->Field(9)->ChangeValue(wxS("0"));
    f.FocusField(5);
    EXPECT_EQ(f.panel->Field(3)->GetValue(), wxS("0.1"));
    EXPECT_TRUE(WindowShot::Save(f.panel, "mask_panel_refused_size.png"));
    f.FocusField(3);
    f.panel->Field(3)->ChangeValue(wxS("4"));
    f.FocusField(4);
    EXPECT_FLOAT_EQ(f.Mask().size.x, 4.0f);
    EXPECT_EQ(note(), wxString(kMaskFieldNote));
    EXPECT_NE(f.panel->FieldNote()->GetForegroundColour(), red) << "the note on Z is no refusal";
    EXPECT_EQ(f.doc.undoStack.size(), undoSteps + 3);
    EXPECT_FLOAT_EQ(f.Mask().size.y, 4.004f) << "fields left alone keep their exact value";

    f.doc.OnEditUndo();
    EXPECT_FLOAT_EQ(f.doc.maskVolumes.front().size.x, 6.0f);
}

// A refusal belongs to the volume whose text it refused: choosing another volume shows that
// one's stored values and takes the refusal away (it stayed in red over them, and Process ran
// under it). Said, it wraps to the fields' width, not at about ten characters a line.
TEST(MaskPanelX11, ARefusalGoesWithItsVolumeAndWrapsToTheFieldsWidth) {
    PanelFixture f;
    mesh::MaskVolume other = f.Mask();
    other.name = "Keep plain copy";
    other.featherMillimetres = 2.0f;
    f.doc.maskVolumes.push_back(other);
    f.panel->FillVolumeList(&f.doc);
    const wxColour red(colours::kRefusalText.r, colours::kRefusalText.g, colours::kRefusalText.b);
    struct Case {
        int field;
        const wchar_t* typed;
        const wchar_t* refusal;
        const wchar_t* otherShows;  // the field's text once the other volume is chosen
    };
    const Case cases[] = {
        {9, L"7.777", L"Feather must be from 0 to 10000 mm, with at most 2 decimals.", L"2"},
        {0, L"abc", nullptr, L"1.23"},
    };
    for (const Case& c : cases) {
        f.doc.selectedMask = 0;
        f.panel->FillVolumeList(&f.doc);
        f.FocusField(c.field);
        f.panel->Field(c.field)->ChangeValue(c.typed);
        // The focus leaves the panel, as a click in the view takes it.
        f.panel->List()->SetFocus();
        PumpFor(std::chrono::milliseconds(30));
        f.panel->ApplyVolumeFields(f.panel->List());
        PumpFor(std::chrono::milliseconds(50));
        // Said right under the refused field's row, in sight in the body (it lay under the
        // last row, below the fold at 800 x 600).
        const wxRect field = f.panel->Field(c.field)->GetScreenRect();
        const wxRect noteRect = f.panel->FieldNote()->GetScreenRect();
        EXPECT_GT(noteRect.y, field.GetBottom()) << c.typed;
        EXPECT_LT(noteRect.y - field.GetBottom(), field.height) << c.typed;
        const wxWindow* body = f.panel->Field(0)->GetParent()->GetParent();
        EXPECT_LE(noteRect.GetBottom(), body->GetScreenRect().GetBottom()) << c.typed;
        wxString said = f.panel->FieldNote()->GetLabel();
        ASSERT_NE(said, wxString(kMaskFieldNote)) << c.typed;
        EXPECT_EQ(f.panel->FieldNote()->GetForegroundColour(), red) << c.typed;
        if (c.refusal != nullptr) {
            wxString joined = said;
            joined.Replace("\n", " ");
            EXPECT_EQ(joined, wxString(c.refusal));
        }
        std::size_t longest = 0;
        for (const wxString& line : wxSplit(said, '\n', '\0'))
            longest = std::max(longest, line.length());
        EXPECT_GE(longest, 20u) << said;
        const wxRect panel = f.panel->GetScreenRect();
        EXPECT_LE(f.panel->FieldNote()->GetScreenRect().GetRight(), panel.GetRight()) << c.typed;

        f.doc.selectedMask = 1;
        f.panel->FillVolumeList(&f.doc);
        EXPECT_EQ(f.panel->Field(c.field)->GetValue(), wxString(c.otherShows)) << c.typed;
        EXPECT_EQ(f.panel->FieldNote()->GetLabel().Find(wxS("Feather")), wxNOT_FOUND) << c.typed;
        EXPECT_NE(f.panel->FieldNote()->GetForegroundColour(), red) << c.typed;
        EXPECT_EQ(f.panel->TakeTypedEntries(), L"") << c.typed;
        EXPECT_FLOAT_EQ(f.doc.maskVolumes[0].featherMillimetres, 0.0f) << c.typed;
    }
}

// A refused text is said under its field as it is typed, as every dialog's field says one, and
// taken only as the field is left: it was said only once the field was left.
TEST(MaskPanelX11, ARefusedTextIsSaidUnderItsFieldAsItIsTyped) {
    PanelFixture f;
    const wxColour red(colours::kRefusalText.r, colours::kRefusalText.g, colours::kRefusalText.b);
    const auto note = [&f] {
        wxString text = f.panel->FieldNote()->GetLabel();
        text.Replace("\n", " ");
        return text;
    };
    const struct {
        int field;
        const wchar_t* typed;
        const wchar_t* said;  // empty: the note on Z
    } rows[] = {
        {9, L"-3", L"Feather must be from 0 to 10000 mm."},
        {9, L"3", L""},
        {6, L"400", L"Turn X must be from -360 to 360 degrees."},
        {6, L"45", L""},
    };
    for (const auto& row : rows) {
        f.FocusField(row.field);
        f.panel->Field(row.field)->SetValue(row.typed);
        const std::wstring said = *row.said != L'\0' ? row.said : kMaskFieldNote;
        EXPECT_EQ(note().ToStdString(), wxString(said).ToStdString()) << row.typed;
        EXPECT_EQ(f.panel->FieldNote()->GetForegroundColour() == red, *row.said != L'\0') << row.typed;
        if (*row.said != L'\0') {
            PumpFor(std::chrono::milliseconds(50));
            const wxRect field = f.panel->Field(row.field)->GetScreenRect();
            EXPECT_GT(f.panel->FieldNote()->GetScreenRect().y, field.GetBottom()) << row.typed;
        }
        const float stored = row.field == 9 ? f.Mask().featherMillimetres : f.Mask().rotationDegrees.x;
        EXPECT_FLOAT_EQ(stored, 0.0f) << row.typed << ": nothing taken while typing";
    }
    f.FocusField(0);
    EXPECT_FLOAT_EQ(f.Mask().featherMillimetres, 3.0f);
    EXPECT_FLOAT_EQ(f.Mask().rotationDegrees.x, 45.0f);
}

// In a strip 230 px wide both headings show whole in their columns (the second read "Shap").
// Screenshot mask_panel_230.png.
TEST(MaskPanelX11, HeadingsShowWholeInANarrowStrip) {
    PanelFixture f;
    f.doc.maskVolumes.front().name = "Box 1 copy copy";  // a name that asks the room there is
    f.panel->FillVolumeList(&f.doc);
    f.frame->SetClientSize(230, 700);
    PumpFor(std::chrono::milliseconds(300));
    ASSERT_EQ(f.panel->GetSize().x, 230);
    wxListCtrl& list = *f.panel->List();
    for (int column = 0; column < 2; ++column) {
        wxListItem heading;
        heading.SetMask(wxLIST_MASK_TEXT);
        list.GetColumn(column, heading);
        EXPECT_GE(list.GetColumnWidth(column), list.GetTextExtent(heading.GetText()).x + list.FromDIP(24))
            << heading.GetText();
    }
    EXPECT_TRUE(WindowShot::Save(f.panel, "mask_panel_230.png"));
}

TEST(MaskPanelX11, CheckBoxSwitchesTheMaskAndCloseOrEscapeClose) {
    PanelFixture f;
    f.panel->List()->CheckItem(0, false);
    PumpUntil([&f] { return f.Mask().enabled == 0; });
    EXPECT_EQ(f.Mask().enabled, 0);

    // The owner's handler decides what closing does; without one the panel hides itself.
    int closes = 0;
    f.panel->SetCloseHandler([&closes] { ++closes; });
    wxCommandEvent click(wxEVT_BUTTON, wxID_CLOSE);
    click.SetEventObject(f.panel->CloseButton());
    f.panel->CloseButton()->GetEventHandler()->ProcessEvent(click);
    PumpUntil([&closes] { return closes == 1; });
    EXPECT_EQ(closes, 1);
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(f.panel->Field(0));
    f.panel->Field(0)->GetEventHandler()->ProcessEvent(escape);
    PumpUntil([&closes] { return closes == 2; });
    EXPECT_EQ(closes, 2) << "Escape in a field closes the panel too";
    EXPECT_TRUE(f.target.executed.empty()) << "closing sends no command of its own";

    f.panel->SetCloseHandler({});
    f.panel->RequestClose();
    PumpUntil([&f] { return !f.panel->IsShown(); });
    EXPECT_FALSE(f.panel->IsShown());
}

}  // namespace
}  // namespace grainforge::app
