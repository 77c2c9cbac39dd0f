// The "Save STL" dialog on screen: opened by the document's Save on a processed cube, its check
// finishing green with the help pane beside it, Save handing the checked mesh back; an option
// changed during a check checking again; the window closed mid-check letting its worker go.
#include "app/workflow/dialogs/export_check_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/ui_colours.h"
#include "app/workflow/help/markdown_text_ctrl.h"
#include "engine/files/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

namespace mesh = grainforge::mesh;
using grainforge::test::DocumentFixture;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

CExportDialog* OpenExportDialog() {
  for (wxWindow* window : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<CExportDialog*>(window)) return dialog;
  return nullptr;
}

wxString Label(wxWindow& dialog, int id) { return dialog.FindWindow(id)->GetLabel(); }

// The document's dialogs with the real export dialog; `onShown` runs inside its modal loop.
class ExportDialogs final : public IDocumentDialogs {
public:
  std::function<void(CExportDialog&)> onShown;
  std::optional<mesh::RemeshSettings> EditRemeshInput(const mesh::RemeshSettings&, const mesh::TriangleMesh&) override {
    return std::nullopt;
  }
  std::unique_ptr<mesh::procedural::ProceduralTexture> EditProceduralTexture(
      std::unique_ptr<mesh::procedural::ProceduralTexture>, int, const LibraryRoots&, const PresetReadNote&) override {
    return nullptr;
  }
  std::optional<ExportDialogResult> RunExportCheck(const ExportDialogRequest& request) override {
    wxTheApp->CallAfter([this] {
      if (CExportDialog* dialog = OpenExportDialog()) onShown(*dialog);
    });
    return RunExportCheckDialog(nullptr, request, false);
  }
};

TEST(ExportCheckDialogX11Test, SaveOnAProcessedCubeShowsReadyAndHandsBackTheCheckedMesh) {
  grainforge::test::TempFolder folder;
  DocumentFixture f;
  CGrainforgeDoc& doc = f.WithCube();
  doc.remeshSettings.targetEdgeMillimetres = 1.0f;
  doc.displacementSettings.strengthMillimetres = 0.3f;
  doc.RenderProceduralTexture(
      mesh::procedural::CreateProceduralTexture(mesh::procedural::ProceduralTextureNames().front()), L"");
  doc.RequestProcess();
  f.PollUntilReported();

  ExportDialogs dialogs;
  bool sawDialog = false;
  dialogs.onShown = [&](CExportDialog& dialog) {
    sawDialog = true;
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Session().IsChecking(); }, std::chrono::seconds(120)));
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_NE(dialog.HelpPane(), nullptr);
    EXPECT_EQ(Label(dialog, export_ids::kHeadline), wxS("Ready to save: no problems found."));
    EXPECT_EQ(dialog.FindWindow(export_ids::kHeadline)->GetForegroundColour(), wxColour(0, 122, 61));
    EXPECT_EQ(Label(dialog, export_ids::kProgressText), wxS("The file as it will be written:"));
    EXPECT_TRUE(dialog.FindWindow(wxID_OK)->IsEnabled());
    const wxString report = static_cast<wxTextCtrl*>(dialog.FindWindow(export_ids::kReport))->GetValue();
    EXPECT_NE(report.Find(wxS("Before saving:")), wxNOT_FOUND);
    EXPECT_EQ(report.Find(wxS("Checked in")), wxNOT_FOUND);  // the detailed log is off
    const std::filesystem::path shot = std::filesystem::current_path() / "export_check_dialog.png";
    EXPECT_TRUE(WindowShot::Save(&dialog, shot.string()));
    // Dragged small (it used to shrink to 300 x 200), it keeps its best size: the options and
    // the buttons stay in view.
    const wxSize opened = dialog.GetSize();
    dialog.SetSize(300, 200);
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_GE(dialog.GetSize().x, dialog.GetBestSize().x);
    EXPECT_GE(dialog.GetSize().y, dialog.GetBestSize().y);
    for (int id : {static_cast<int>(wxID_OK), static_cast<int>(wxID_CANCEL), export_ids::kLargestHole}) {
      wxWindow* control = dialog.FindWindow(id);
      const wxRect inDialog(dialog.ScreenToClient(control->GetScreenPosition()), control->GetSize());
      EXPECT_TRUE(wxRect(dialog.GetClientSize()).Contains(inDialog)) << id;
    }
    dialog.SetSize(opened);
    wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
    click.SetEventObject(dialog.FindWindow(wxID_OK));
    dialog.FindWindow(wxID_OK)->GetEventHandler()->ProcessEvent(click);
  };
  DocumentHost host = f.host.Host();
  host.dialogs = &dialogs;
  doc.SetHost(host);

  CGrainforgeDoc::ExportPlan plan;
  ASSERT_TRUE(doc.PrepareExport(plan));
  EXPECT_TRUE(sawDialog);
  ASSERT_GT(plan.mesh.TriangleCount(), 12u);
  const std::filesystem::path path = folder / "checked.stl";
  ASSERT_TRUE(doc.WriteStl(path, false, plan));
  const mesh::StlReadResult read = mesh::ReadStlFile(path, mesh::StlReadOptions{});
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.mesh.TriangleCount(), plan.mesh.TriangleCount());
  EXPECT_TRUE(PumpUntil([] { return RunningExportChecks().load() == 0; }));
}

// The n-th check's checklist waits until the test allows n checks through.
struct HeldChecks {
  std::atomic<int> entered{0};
  std::atomic<int> allowed{0};
  ExportCheckFunction Function() {
    return [this](const mesh::TriangleMesh&, std::string& text) {
      const int n = ++entered;
      while (allowed.load() < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      text = "Before saving:\r\n  ok      held\r\n";
      return true;
    };
  }
};

TEST(ExportCheckDialogX11Test, OptionChangedDuringACheckChecksAgainAndClosingLetsTheWorkerGo) {
  const mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
  HeldChecks held;
  ExportDialogRequest request;
  request.mesh = &part;
  request.check = held.Function();
  auto* dialog = new CExportDialog(nullptr, request, true);
  dialog->Show();
  ASSERT_TRUE(PumpUntil([&] { return held.entered.load() == 1; }, std::chrono::seconds(60)));
  EXPECT_FALSE(dialog->FindWindow(wxID_OK)->IsEnabled());
  const std::uint32_t first = dialog->Session().CurrentCheckId();
  auto* crumbs = static_cast<wxCheckBox*>(dialog->FindWindow(export_ids::kRemoveCrumbs));
  crumbs->SetValue(false);
  wxCommandEvent toggle(wxEVT_CHECKBOX, export_ids::kRemoveCrumbs);
  toggle.SetEventObject(crumbs);
  crumbs->GetEventHandler()->ProcessEvent(toggle);
  EXPECT_EQ(dialog->Session().CurrentCheckId(), first);  // the running check goes on
  held.allowed = 1;
  // The first check's result arrives, then the second check starts and is held.
  ASSERT_TRUE(PumpUntil([&] { return held.entered.load() == 2; }, std::chrono::seconds(60)));
  EXPECT_EQ(dialog->Session().CurrentCheckId(), first + 1);
  EXPECT_FALSE(dialog->Session().Options().fixes.removeCrumbs);
  EXPECT_EQ(RunningExportChecks().load(), 1);

  dialog->Destroy();
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(OpenExportDialog(), nullptr);
  held.allowed = 2;
  // The worker ends on its own; its late posts find no dialog.
  EXPECT_TRUE(PumpUntil([] { return RunningExportChecks().load() == 0; }, std::chrono::seconds(60)));
  PumpFor(std::chrono::milliseconds(50));
}

// The gap sizes read a decimal comma; a size out of range is refused, said, and not checked with.
TEST(ExportCheckDialogX11Test, GapSizesReadACommaAndRefuseAnOutOfRangeSize) {
  const mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
  ExportDialogRequest request;
  request.mesh = &part;
  request.check = [](const mesh::TriangleMesh&, std::string& text) {
    text = "Before saving:\r\n";
    return true;
  };
  auto* dialog = new CExportDialog(nullptr, request, false);
  std::vector<std::wstring> refusals;
  dialog->refuse = [&refusals](const std::wstring& text) { refusals.push_back(text); };
  dialog->Show();
  ASSERT_TRUE(PumpUntil([&] { return !dialog->Session().IsChecking(); }, std::chrono::seconds(60)));
  auto* fill = static_cast<wxCheckBox*>(dialog->FindWindow(export_ids::kFillHoles));
  fill->SetValue(true);
  auto* hole = static_cast<wxTextCtrl*>(dialog->FindWindow(export_ids::kLargestHole));
  hole->Enable();
  const auto leave = [&](const wchar_t* typed) {
    hole->ChangeValue(typed);
    wxFocusEvent left(wxEVT_KILL_FOCUS, hole->GetId());
    left.SetEventObject(hole);
    hole->ProcessWindowEvent(left);
    PumpFor(std::chrono::milliseconds(100));
  };
  leave(L"2,5");
  EXPECT_FLOAT_EQ(dialog->ReadOptions().cleanup.maximumHoleMillimetres, 2.5f);
  EXPECT_TRUE(refusals.empty());
  leave(L"-1");
  ASSERT_EQ(refusals.size(), 1u);
  // Named by the words beside the field (it named "The largest gap to close", which stands
  // nowhere in the dialog).
  EXPECT_EQ(refusals[0], L"The size before \"mm across\" must be from 0 to 1000 mm.");
  EXPECT_FLOAT_EQ(dialog->ReadOptions().cleanup.maximumHoleMillimetres, 2.5f);
  // The refused text stays, selected, to be mended (it used to be put back to 2.5 behind the
  // message); leaving the field again with it says nothing new.
  EXPECT_EQ(hole->GetValue(), wxS("-1"));
  EXPECT_EQ(wxWindow::FindFocus(), hole);
  long from = 0, to = 0;
  hole->GetSelection(&from, &to);
  EXPECT_EQ(from, 0);
  EXPECT_EQ(to, hole->GetLastPosition());
  leave(L"-1");
  EXPECT_EQ(refusals.size(), 1u);
  EXPECT_EQ(hole->GetValue(), wxS("-1"));
  // A text that is no number is refused as well; it used to be dropped without a word.
  leave(L"1,500.5");
  ASSERT_EQ(refusals.size(), 2u);
  EXPECT_EQ(refusals[1],
            L"The size before \"mm across\" must be a number from 0 to 1000 mm. Type it without thousands separators.");
  EXPECT_FLOAT_EQ(dialog->ReadOptions().cleanup.maximumHoleMillimetres, 2.5f);
  EXPECT_EQ(hole->GetValue(), wxS("1,500.5"));
  // An emptied size is refused as every other field refuses an empty text; it showed the
  // kept value again without a word.
  leave(L"");
  ASSERT_EQ(refusals.size(), 3u);
  EXPECT_EQ(refusals[2], L"The size before \"mm across\" must be from 0 to 1000 mm.");
  EXPECT_EQ(hole->GetValue(), wxS(""));
  EXPECT_FLOAT_EQ(dialog->ReadOptions().cleanup.maximumHoleMillimetres, 2.5f);
  leave(L"3");
  EXPECT_FLOAT_EQ(dialog->ReadOptions().cleanup.maximumHoleMillimetres, 3.0f);
  EXPECT_EQ(refusals.size(), 3u);
  dialog->Destroy();
  PumpFor(std::chrono::milliseconds(50));
}

// Types into the field and clicks Save with the display server's own keys and pointer, as a
// person does, then presses Escape; true when the dialog has then gone. The check the click
// starts is held, so the dialog cannot end by itself meanwhile.
bool EscapeClosesAfterTypingAndClickingSave(CExportDialog& dialog, wxTextCtrl& field, const wchar_t* typed,
                                            HeldChecks& held) {
  wxUIActionSimulator user;
  const auto middle = [](const wxWindow& window) {
    const wxRect rect = window.GetScreenRect();
    return wxPoint(rect.x + rect.width / 2, rect.y + rect.height / 2);
  };
  user.MouseMove(middle(field));
  user.MouseClick();
  PumpFor(std::chrono::milliseconds(200));
  field.SelectAll();
  user.Text(wxString(typed).utf8_str());
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(field.GetValue(), wxString(typed));
  user.MouseMove(middle(*dialog.FindWindow(wxID_OK)));
  user.MouseClick();
  // The click's press started the check of the typed size.
  EXPECT_TRUE(PumpUntil([&] { return held.entered.load() == 2; }, std::chrono::seconds(10)));
  PumpFor(std::chrono::milliseconds(200));
  // A file chooser would come only once the dialog had ended; none may be open here.
  EXPECT_TRUE(dialog.IsShown());
  user.Char(WXK_ESCAPE);
  return PumpUntil([&] { return !dialog.IsShown(); }, std::chrono::seconds(5));
}

// A size typed and Save pressed at once: the press takes the focus from the field, whose check
// disables Save under the pointer, so no click follows. The dialog ends by itself once that
// check has ended, with the size typed (it stayed open, with nothing said, and then Escape no
// longer closed it); a press while an earlier check runs is kept the same way. In that state,
// typed and clicked by the display server's own input, Escape closes the dialog.
TEST(ExportCheckDialogX11Test, SavePressedRightAfterTypingASizeSavesOnceTheCheckEnds) {
  const mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
  struct Case {
    const wchar_t* typed;
    bool pressDuringCheck;  // Save pressed again while the check of the typed size runs
    bool thenEscape = false;  // typed and clicked as a person does, then Escape pressed
  };
  for (const Case c : {Case{L"2", false}, Case{L"3,5", true}, Case{L"2.5", false, true}}) {
    HeldChecks held;
    held.allowed = 1;  // the check as the dialog opens
    ExportDialogRequest request;
    request.mesh = &part;
    request.check = [](const mesh::TriangleMesh&, std::string& text) {
      text = "Before saving:\r\n";
      return true;
    };
    if (c.thenEscape) request.check = held.Function();
    auto* dialog = new CExportDialog(nullptr, request, false);
    std::vector<std::wstring> refusals;
    dialog->refuse = [&refusals](const std::wstring& text) { refusals.push_back(text); };
    dialog->Show();
    ASSERT_TRUE(PumpUntil([&] { return !dialog->Session().IsChecking(); }, std::chrono::seconds(60)));
    if (c.thenEscape) {
      auto* hole = static_cast<wxTextCtrl*>(dialog->FindWindow(export_ids::kLargestHole));
      EXPECT_TRUE(EscapeClosesAfterTypingAndClickingSave(*dialog, *hole, c.typed, held)) << c.typed;
      EXPECT_NE(dialog->GetReturnCode(), wxID_OK) << c.typed;
      EXPECT_TRUE(refusals.empty()) << c.typed;
      dialog->Destroy();
      held.allowed = 2;
      PumpFor(std::chrono::milliseconds(50));
      continue;
    }
    auto* hole = static_cast<wxTextCtrl*>(dialog->FindWindow(export_ids::kLargestHole));
    wxWindow* save = dialog->FindWindow(wxID_OK);
    hole->ChangeValue(c.typed);
    wxFocusEvent left(wxEVT_KILL_FOCUS, hole->GetId());
    left.SetEventObject(hole);
    left.SetWindow(save);
    hole->ProcessWindowEvent(left);
    EXPECT_TRUE(dialog->Session().IsChecking()) << c.typed;
    if (c.pressDuringCheck) {
      wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
      click.SetEventObject(save);
      save->GetEventHandler()->ProcessEvent(click);
    }
    EXPECT_TRUE(PumpUntil([&] { return dialog->GetReturnCode() == wxID_OK; }, std::chrono::seconds(60))) << c.typed;
    EXPECT_TRUE(dialog->Session().CanSave()) << c.typed;
    EXPECT_FLOAT_EQ(dialog->Session().Options().cleanup.maximumHoleMillimetres,
                    dialog->ReadOptions().cleanup.maximumHoleMillimetres);
    EXPECT_NE(dialog->Session().Options().cleanup.maximumHoleMillimetres, 5.0f) << c.typed;
    EXPECT_TRUE(refusals.empty()) << c.typed;
    dialog->Destroy();
    PumpFor(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(PumpUntil([] { return RunningExportChecks().load() == 0; }, std::chrono::seconds(60)));
}

// A refused size is said as every field says one: in red right under the sizes, as the field is
// left and again at Save, with no message box taking the focus; mended, the note goes.
// Screenshots export_check_refused_size.png.
TEST(ExportCheckDialogX11Test, ARefusedSizeIsSaidInRedUnderTheSizes) {
  const mesh::TriangleMesh part = mesh::MakeTestSphere(10.0f);
  ExportDialogRequest request;
  request.mesh = &part;
  request.check = [](const mesh::TriangleMesh&, std::string& text) {
    text = "Before saving:\r\n";
    return true;
  };
  auto* dialog = new CExportDialog(nullptr, request, false);
  dialog->Show();
  ASSERT_TRUE(PumpUntil([&] { return !dialog->Session().IsChecking(); }, std::chrono::seconds(60)));
  wxWindow* note = dialog->FindWindow(export_ids::kSizeRefusal);
  ASSERT_NE(note, nullptr);
  const wxColour red(colours::kRefusalText.r, colours::kRefusalText.g, colours::kRefusalText.b);
  const struct {
    int field;
    const wchar_t* typed;
    const wchar_t* said;  // empty: no refusal
  } rows[] = {
      {export_ids::kLargestHole, L"-1", L"The size before \"mm across\" must be from 0 to 1000 mm."},
      {export_ids::kLargestHole, L"4", L""},
      {export_ids::kWidestSlit, L"", L"The size before \"mm wide\" must be from 0 to 1000 mm."},
      {export_ids::kWidestSlit, L"0.25", L""},
  };
  for (const auto& row : rows) {
    auto* field = static_cast<wxTextCtrl*>(dialog->FindWindow(row.field));
    field->ChangeValue(row.typed);
    wxFocusEvent left(wxEVT_KILL_FOCUS, field->GetId());
    left.SetEventObject(field);
    field->ProcessWindowEvent(left);
    PumpFor(std::chrono::milliseconds(100));
    const std::wstring said = row.said;
    EXPECT_EQ(note->IsShown(), !said.empty()) << row.typed;
    if (said.empty()) continue;
    wxString shown = note->GetLabel();
    shown.Replace("\n", " ");
    EXPECT_EQ(shown, wxString(said)) << row.typed;
    EXPECT_EQ(note->GetForegroundColour(), red);
    EXPECT_GT(note->GetScreenPosition().y, field->GetScreenRect().GetBottom()) << row.typed;
    EXPECT_TRUE(wxRect(dialog->GetScreenPosition(), dialog->GetSize()).Contains(note->GetScreenRect())) << row.typed;
    EXPECT_EQ(wxWindow::FindFocus(), field) << row.typed;
    if (row.field == export_ids::kLargestHole) {
      EXPECT_TRUE(WindowShot::Save(dialog, (std::filesystem::current_path() / "export_check_refused_size.png").string()));
      // Save with it refuses at the field in the same words and does not end the dialog.
      wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
      click.SetEventObject(dialog->FindWindow(wxID_OK));
      dialog->FindWindow(wxID_OK)->GetEventHandler()->ProcessEvent(click);
      PumpFor(std::chrono::milliseconds(100));
      EXPECT_TRUE(note->IsShown());
      EXPECT_NE(dialog->GetReturnCode(), wxID_OK);
    }
  }
  dialog->Destroy();
  PumpFor(std::chrono::milliseconds(50));
}

}  // namespace
}  // namespace grainforge::app
