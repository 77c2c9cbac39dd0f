// The whole program driven through its own window, as a person would use it: menus, the workflow
// pane's texture browser, Process, the view's display commands, Save STL through the export
// check, and a project saved, closed and opened again. Screenshots of each step are written
// beside the test program (end_to_end_*.png) for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/left_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/workflow/dialogs/relief_dialog_apply.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/mask_panel.h"
#include "app/workflow/relief_bodies.h"
#include "app/workflow/texture_body.h"
#include "app/workflow/workflow_pane.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/app/workflow/running_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {

// The information box's text while it is on screen (information_pane_probe.cpp).
std::wstring ShownInformation(const CMainFrame& frame);
std::wstring ShownReport(const CMainFrame& frame);
void ShowReportEnd(const CMainFrame& frame);

namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

constexpr int kHeightMapSurface = 32820;
constexpr int kSlicedAsPrinted = 32856;
constexpr int kAddBoxMask = 32901;
constexpr int kOuterInnerSurface = 32896;
constexpr int kPlainSurface = 32811;
constexpr int kMoveTexture = 32845;
constexpr int kNoHandles = 32817;
constexpr int kRepair = 32791;
constexpr int kLoadFromDisk = 32819;

std::string Shot(const std::string& name) {
  return (std::filesystem::current_path() / ("end_to_end_" + name + ".png")).string();
}

// The running program with the steps of a person's session.
class Program : public RunningProgram {
public:
  using RunningProgram::RunningProgram;

  CGrainforgeView& View() { return *dynamic_cast<CGrainforgeView*>(Frame().CentreView()); }
  // The view's renderer up and the test cube loaded, where most walks begin.
  bool ReadyWithTestCube() {
    if (!PumpUntil([&] { return View().RendererReady(); }, std::chrono::milliseconds(5000))) return false;
    Command(menu_ids::kTestCube);
    return true;
  }
  CTextureBody& Texture() {
    auto* left = dynamic_cast<CLeftPane*>(Frame().LeftPane());
    return dynamic_cast<CTextureBody&>(WorkflowWindowOf(*left)->Body(FlowStep::Texture));
  }
  CReliefBody& Relief() {
    auto* left = dynamic_cast<CLeftPane*>(Frame().LeftPane());
    return dynamic_cast<CReliefBody&>(WorkflowWindowOf(*left)->Body(FlowStep::Relief));
  }

  // The first picture of the factory library's first category as the texture.
  ::testing::AssertionResult PickLibraryTexture(int item = 0) {
    Texture().SetTab(0);
    Texture().OnCategoryClick(0);
    PumpFor(200ms);
    const std::uint32_t before = Document().pixelGeneration;
    Texture().OnThumbnailClick(item, 0);
    if (!PumpUntil([&] { return Document().pixelGeneration != before; }, 10s))
      return ::testing::AssertionFailure() << "the texture was not loaded";
    return ::testing::AssertionSuccess();
  }

  // Types text into a section field and leaves it with Tab, as a person does.
  void TypeAndTab(wxTextCtrl* edit, const wxString& text) {
    edit->SetFocus();
    edit->ChangeValue(text);
    edit->Navigate();
    PumpFor(100ms);
  }

  // The information box holds this text.
  bool Shows(const std::wstring& text) { return ShownInformation(Frame()).find(text) != std::wstring::npos; }

  // Process from the menu, waited for until the result is published.
  ::testing::AssertionResult Process() {
    Command(menu_ids::kProcess);
    if (!PumpUntil([&] { return !Document().pipeline.IsRunning() && Document().IsResultCurrent(); }, 180s))
      return ::testing::AssertionFailure() << "Process did not finish with a current result";
    PumpFor(200ms);
    return ::testing::AssertionSuccess();
  }

  // Save STL: the export check dialog checks the part; OK is pressed once it is ready, and the
  // file question is answered with path.
  ::testing::AssertionResult SaveStl(const std::filesystem::path& path) {
    std::wstring headline;
    bool okEnabled = false;
    wxTheApp->CallAfter([&] {
      CExportDialog* dialog = nullptr;
      for (wxWindow* window : wxTopLevelWindows)
        if ((dialog = dynamic_cast<CExportDialog*>(window)) != nullptr) break;
      if (dialog == nullptr) return;
      PumpUntil([&] { return !dialog->Session().IsChecking(); }, 180s);
      PumpFor(200ms);
      headline = dialog->FindWindow(export_ids::kHeadline)->GetLabel().ToStdWstring();
      const wxWindow* note = dialog->FindWindow(export_ids::kNote);
      checkNote = note != nullptr ? note->GetLabel().ToStdWstring() : std::wstring();
      checkRect = dialog->GetScreenRect();
      WindowShot::Save(dialog, Shot("export_check"));
      wxWindow* ok = dialog->FindWindow(wxID_OK);
      okEnabled = ok->IsEnabled();
      wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
      click.SetEventObject(ok);
      ok->GetEventHandler()->ProcessEvent(click);
    });
    prompter.ExpectFile(path);
    Command(menu_ids::kSaveStl);
    PumpUntil([] { return RunningExportChecks().load() == 0; }, 10s);
    if (headline.rfind(L"Ready to save: no problems found.", 0) != 0 || !okEnabled)
      return ::testing::AssertionFailure() << "export check said \"" << wxString(headline) << "\"";
    if (!std::filesystem::exists(path)) return ::testing::AssertionFailure() << "no file written";
    return ::testing::AssertionSuccess();
  }

  // The last Save STL check's note (empty without one) and where it stood on the screen.
  std::wstring checkNote;
  wxRect checkRect;

  // The main window, and the viewport's own frame beside it: under a virtual X server the
  // window's picture can still hold the canvas's previous frame.
  void Shots(const std::string& name) {
    EXPECT_TRUE(WindowShot::Save(&Frame(), Shot(name)));
    if (View().RendererReady()) {
      EXPECT_TRUE(View().Viewport()->CaptureFrame().SaveFile(wxString(Shot(name + "_view")), wxBITMAP_TYPE_PNG));
    }
  }
};

// The file reads back as a closed, manifold, outward part of the given size.
void ExpectPrintable(const std::filesystem::path& path, std::size_t triangles) {
  const mesh::StlReadResult read = mesh::ReadStlFile(path, mesh::StlReadOptions{});
  ASSERT_TRUE(read.ok) << path;
  EXPECT_EQ(read.mesh.TriangleCount(), triangles);
  mesh::ValidationOptions options;
  const mesh::ValidationReport report = mesh::ValidateMesh(read.mesh, options);
  EXPECT_TRUE(report.closed);
  EXPECT_EQ(report.edgeCounts.boundary, 0u);
  EXPECT_EQ(report.edgeCounts.nonManifold, 0u);
  EXPECT_FALSE(report.insideOut);
  EXPECT_GT(report.signedVolume, 0.0f);
  EXPECT_EQ(report.degenerateTriangleCount, 0u);
}

TEST(EndToEnd, TestCubeLibraryTextureProcessViewsAndSaveStl) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  CGrainforgeView& view = program.View();
  ASSERT_TRUE(PumpUntil([&] { return view.RendererReady(); }, 5000ms));
  program.Shots("1_start");

  program.Command(menu_ids::kTestCube);
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(document.HasPart());
  program.Shots("2_test_cube");

  // The first picture of the factory library's first category.
  CTextureBody& texture = program.Texture();
  texture.SetTab(0);
  texture.OnCategoryClick(0);
  PumpFor(200ms);
  texture.OnThumbnailClick(0, 0);
  ASSERT_TRUE(PumpUntil([&] { return document.heightMap.width > 0; }, 10s));
  program.Shots("3_library_texture");

  ASSERT_TRUE(program.Process());
  const std::size_t triangles = document.CurrentDisplayMesh().TriangleCount();
  EXPECT_GT(triangles, 12u);
  program.Shots("4_processed");

  program.Command(kHeightMapSurface);
  EXPECT_EQ(view.Viewport()->Renderer().view.surfaceMode, 3);
  PumpFor(200ms);
  program.Shots("5_height_map");

  program.Command(kSlicedAsPrinted);
  EXPECT_EQ(view.sectionMode, 4u);
  PumpFor(200ms);
  program.Shots("6_sliced");
  program.Command(kSlicedAsPrinted);
  EXPECT_EQ(view.sectionMode, 0u);

  const std::filesystem::path stl = folder / "textured cube.stl";
  ASSERT_TRUE(program.SaveStl(stl));
  ExpectPrintable(stl, triangles);
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

// On the test cube, which has no inner surface, "Inner Surfaces Only" gives no face texture: the
// Mapping dot is then not green, the part's verdict shown under Outer / Inner is named as the
// part's above the result's warning, and the Save STL check, on the screen, says the result
// carries no texture and proposes no "textured" name. A Save STL's word, written or failed,
// stays through a library texture picked. Screenshots end_to_end_20_*.png.
TEST(EndToEnd, MessagesStayWhileTheyHoldAndNameWhatTheyDescribe) {
  for (const wxSize screen : {wxSize(800, 600), wxSize(1600, 1000)}) {
    const std::string size = std::to_string(screen.x) + "x" + std::to_string(screen.y);
    SCOPED_TRACE(size);
    SetDialogFitArea(0, 0, screen.x, screen.y);
    grainforge::test::TempFolder folder;
    Program program(folder.Path());
    ASSERT_TRUE(program.started);
    program.Frame().SetSize(wxRect(wxPoint(0, 0), screen));
    ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
    program.Command(menu_ids::kTestCube);
    const auto pick = [&](int item) {
      program.Texture().SetTab(0);
      program.Texture().OnCategoryClick(0);
      const std::uint32_t before = program.Document().pixelGeneration;
      program.Texture().OnThumbnailClick(item, 0);
      EXPECT_TRUE(PumpUntil([&] { return program.Document().pixelGeneration != before; }, 10s));
    };
    const auto shows = [&](const std::wstring& text) {
      return ShownInformation(program.Frame()).find(text) != std::wstring::npos;
    };
    pick(0);
    program.Command(32921);  // Mapping > Inner Surfaces Only
    ASSERT_TRUE(program.Process());
    const CSectionHeader& mapping = WorkflowWindowOf(*dynamic_cast<CLeftPane*>(program.Frame().LeftPane()))
                                        ->Header(FlowStep::Mapping);
    EXPECT_TRUE(PumpUntil([&] { return mapping.Model().Status() == SectionStatus::Inactive; }, 2s));
    program.Command(32896);  // View > Surface > Outer / Inner
    PumpFor(300ms);
    EXPECT_TRUE(ShownReport(program.Frame()).starts_with(L"Verdict (part as loaded, not the result)\r\n"));
    EXPECT_TRUE(shows(L"No face received texture"));
    program.Shots("20_outer_inner_" + size);
    program.Command(32811);  // the plain surface, which shows the result again

    const struct {
      const char* step;
      std::function<void()> act;
      const wchar_t* stays;  // a text the box still holds afterwards
    } steps[] = {
        {"saved", [&] { (void)program.SaveStl(folder / "plain.stl"); }, L"Wrote: plain.stl"},
        {"another library texture", [&] { pick(1); }, L"Wrote: plain.stl"},
        {"save failed", [&] { (void)program.SaveStl(folder / "no" / "a.stl"); }, L"This file could not be saved."},
        {"the first library texture again", [&] { pick(0); }, L"This file could not be saved."},
    };
    for (const auto& [step, act, stays] : steps) {
      act();
      EXPECT_TRUE(shows(stays)) << step << ": " << wxString(ShownInformation(program.Frame()));
      if (std::string_view(step) != "saved") continue;
      EXPECT_EQ(program.prompter.FilePrompts().at(0).fileName, L"Test cube processed.stl");
      EXPECT_NE(program.checkNote.find(L"the result carries no texture"), std::wstring::npos);
      EXPECT_TRUE(wxRect(wxPoint(0, 0), screen).Contains(program.checkRect));
      std::filesystem::copy_file(Shot("export_check"), Shot("20_export_check_" + size),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    program.Shots("20_failed_save_kept_" + size);
  }
  SetDialogFitArea(0, 0, 0, 0);
}

// A run refused over the triangle limit shows its refusal in the information pane; the next run
// takes it away as it starts.
TEST(EndToEnd, RefusedProcessGivesWayToTheNextRun) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(program.ReadyWithTestCube());
  CGrainforgeDoc& document = program.Document();
  program.Texture().SetTab(0);
  program.Texture().OnCategoryClick(0);
  PumpFor(200ms);
  program.Texture().OnThumbnailClick(0, 0);
  ASSERT_TRUE(PumpUntil([&] { return document.heightMap.width > 0; }, 10s));

  const std::uint64_t limit = std::exchange(document.maximumTriangles, 1000);
  program.Command(menu_ids::kProcess);
  PumpFor(300ms);
  EXPECT_NE(ShownInformation(program.Frame()).find(L"which is over the limit"), std::wstring::npos);
  program.Shots("10_refused");

  document.maximumTriangles = limit;
  program.Command(menu_ids::kProcess);
  EXPECT_EQ(ShownInformation(program.Frame()), L"");  // before the run is reported
  ASSERT_TRUE(program.Process());
  EXPECT_EQ(ShownInformation(program.Frame()).find(L"over the limit"), std::wstring::npos);
  program.Shots("11_run_after_refusal");
}

// Under View > Surface > Outer / Inner, or with the Move Texture tool left on, the view shows the
// part as loaded over a current result: Save STL checks, names and writes the result (it wrote
// the part as loaded under the "textured" name), and its check says at its top that the result
// is what it saves. Screenshots end_to_end_30_*.png.
TEST(EndToEnd, SaveStlWritesTheResultWhateverTheViewShows) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(program.ReadyWithTestCube());
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(program.PickLibraryTexture());
  ASSERT_TRUE(program.Process());
  const std::size_t triangles = document.CurrentDisplayMesh().TriangleCount();
  ASSERT_GT(triangles, 12u);
  const struct {
    const char* name;
    int on;
    int off;
  } views[] = {{"outer_inner", kOuterInnerSurface, kPlainSurface}, {"move_texture", kMoveTexture, kNoHandles}};
  for (const auto& [name, on, off] : views) {
    SCOPED_TRACE(name);
    program.Command(on);
    PumpFor(300ms);
    EXPECT_EQ(&document.CurrentDisplayMesh(), &document.workingPart);  // the view shows the part
    program.Shots(std::string("30_") + name);
    const std::filesystem::path stl = folder / (std::string(name) + ".stl");
    ASSERT_TRUE(program.SaveStl(stl));
    std::filesystem::copy_file(Shot("export_check"), Shot(std::string("30_export_check_") + name),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(program.prompter.FilePrompts().back().fileName, L"Test cube textured.stl");
    EXPECT_NE(program.checkNote.find(L"The view shows the part as loaded; the processed result is what will be saved."),
              std::wstring::npos)
        << wxString(program.checkNote);
    ExpectPrintable(stl, triangles);
    program.Command(off);
    PumpFor(200ms);
  }
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

// A text the Relief section refused, still in its field, stops Process and Save Project: each
// says the field's refusal and what it did not do, and gives the field the focus with its text
// selected (Process ran at the stored size and the section said "Up to date"; the project was
// saved with it). Process pressed in the field with a text it takes runs at that text.
// Screenshot end_to_end_31_refused_field.png.
TEST(EndToEnd, NothingRunsOrIsSavedPastARefusedField) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(program.ReadyWithTestCube());
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(program.PickLibraryTexture());
  CRemeshBody& remesh = *program.Relief().Remesh();
  std::vector<std::wstring> said;
  remesh.refuse = [&said](const std::wstring& text) { said.push_back(text); };
  wxTextCtrl* size = remesh.SizeEdit();
  program.TypeAndTab(size, wxS("0.001"));
  ASSERT_EQ(said, std::vector<std::wstring>{L"Triangle size must be from 0.01 to 100000 mm."});

  const std::wstring refusal = L"Triangle size must be from 0.01 to 100000 mm.\n\n";
  program.Command(menu_ids::kProcess);
  PumpFor(300ms);
  EXPECT_FALSE(document.pipeline.IsRunning());
  EXPECT_FALSE(document.pipeline.HasResult());
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said.back(), refusal + L"Process did not run, so that the result is not made with a value other than the "
                                   L"one shown.");
  EXPECT_EQ(wxWindow::FindFocus(), size);
  EXPECT_EQ(size->GetStringSelection(), wxS("0.001"));
  program.Shots("31_refused_field");

  const std::filesystem::path project = folder / "cube.gfproj";
  const std::size_t prompts = program.prompter.FilePrompts().size();
  program.Command(menu_ids::kSaveProjectAs);
  program.Command(menu_ids::kSaveProject);
  EXPECT_FALSE(std::filesystem::exists(project));
  EXPECT_EQ(program.prompter.FilePrompts().size(), prompts);
  ASSERT_EQ(said.size(), 4u);
  EXPECT_EQ(said.back(), refusal + L"The project was not saved, so that it does not keep a value other than the one "
                                   L"shown.");

  // Typed and not left (Process pressed in the field): the text is taken, and the run uses it.
  size->SetFocus();
  size->ChangeValue(wxS("0.5"));
  ASSERT_TRUE(program.Process());
  EXPECT_EQ(document.runSettings.remesh.targetEdgeMillimetres, 0.5f);
  EXPECT_EQ(said.size(), 4u);

  // The mask panel's fields are read by Process too: a size it refused stops the run, said
  // under its fields, where it says its refusals.
  program.Command(kAddBoxMask);
  PumpFor(200ms);
  CMaskPanel* panel = program.View().MaskPanel();
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(panel->IsShown());
  const mesh::MaskVolume mask = document.maskVolumes.at(0);
  program.TypeAndTab(panel->Field(3), wxS("0.1"));
  program.Command(menu_ids::kProcess);
  PumpFor(300ms);
  EXPECT_FALSE(document.pipeline.IsRunning());
  EXPECT_FALSE(document.IsResultCurrent());
  EXPECT_TRUE(mesh::MaskVolumeEquals(document.maskVolumes.at(0), mask));
  wxString note = panel->FieldNote()->GetLabel();
  note.Replace("\n", " ");
  EXPECT_EQ(note, wxS("Size X must be from 0.5 to 10000 mm.  Process did not run, so that the result is not made "
                      "with a value other than the one shown."));
  EXPECT_EQ(wxWindow::FindFocus(), panel->Field(3));
  PumpFor(100ms);
  // The note's end and the field both in sight (the note was cut after "Process did not run, so").
  EXPECT_TRUE(panel->GetScreenRect().Contains(panel->FieldNote()->GetScreenRect()));
  EXPECT_GE(panel->FieldNote()->GetSize().y, panel->FieldNote()->GetBestSize().y);
  EXPECT_TRUE(panel->GetScreenRect().Contains(panel->Field(3)->GetScreenRect()));
  program.Shots("31_refused_mask_field");
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

// After a run, a size the Relief section refused stood in its field under a green dot and "Up to
// date", with Process greyed and F5 doing nothing, without a word; a size the mask panel refused
// did so too. The section is pending, the footer says the refusal, and Process says why it does
// not run. Screenshots end_to_end_34_refused_after_run*.png.
TEST(EndToEnd, ARefusedFieldAfterARunIsNotUpToDate) {
  const std::wstring consequence =
      L"\n\nProcess did not run, so that the result is not made with a value other than the one shown.";
  struct Row {
    const char* name;
    bool mask;  // the mask panel's Size X, else the Relief section's Triangle size
    std::wstring refusal;
    const char* shot;
  };
  const Row rows[] = {
      {"the Relief section's size", false, L"Triangle size must be from 0.01 to 100000 mm.", "34_refused_after_run"},
      {"the mask panel's size", true, L"Size X must be from 0.5 to 10000 mm.", "34_refused_after_run_mask"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    grainforge::test::TempFolder folder;
    Program program(folder.Path());
    ASSERT_TRUE(program.started);
    ASSERT_TRUE(program.ReadyWithTestCube());
    CGrainforgeDoc& document = program.Document();
    ASSERT_TRUE(program.PickLibraryTexture());
    CMaskPanel* panel = nullptr;
    if (row.mask) {
      program.Command(kAddBoxMask);
      PumpFor(200ms);
      panel = program.View().MaskPanel();
      ASSERT_NE(panel, nullptr);
      ASSERT_TRUE(panel->IsShown());
    }
    ASSERT_TRUE(program.Process());
    CRemeshBody& remesh = *program.Relief().Remesh();
    std::vector<std::wstring> said;
    remesh.refuse = [&said](const std::wstring& text) { said.push_back(text); };
    wxTextCtrl* field = row.mask ? panel->Field(3) : remesh.SizeEdit();
    const wxString shown = field->GetValue();
    program.TypeAndTab(field, row.mask ? wxS("0.1") : wxS("0.001"));
    if (!row.mask) {
      ASSERT_EQ(said, std::vector<std::wstring>{row.refusal});
    }

    const CSectionHeader& relief =
        WorkflowWindowOf(*dynamic_cast<CLeftPane*>(program.Frame().LeftPane()))->Header(FlowStep::Relief);
    EXPECT_TRUE(PumpUntil([&] { return relief.Model().Status() == SectionStatus::Pending; }, 2s));
    EXPECT_EQ(document.StatusText(), row.refusal);
    EXPECT_TRUE(document.NeedsProcessing());
    program.Shots(row.shot);

    program.Command(menu_ids::kProcess);
    PumpFor(300ms);
    EXPECT_FALSE(document.pipeline.IsRunning());
    if (row.mask) {
      wxString note = panel->FieldNote()->GetLabel();
      note.Replace("\n", " ");
      note.Replace("  ", "\n\n");
      EXPECT_EQ(note.ToStdWstring(), row.refusal + consequence);
    } else {
      ASSERT_EQ(said.size(), 2u);
      EXPECT_EQ(said.back(), row.refusal + consequence);
    }

    // Escape, or the shown text typed back, puts the stored value back: the run's result is
    // current again.
    if (row.mask) {
      program.TypeAndTab(field, shown);
    } else {
      field->SetFocus();
      wxKeyEvent escape(wxEVT_KEY_DOWN);
      escape.m_keyCode = WXK_ESCAPE;
      field->GetEventHandler()->ProcessEvent(escape);
    }
    EXPECT_TRUE(PumpUntil([&] { return relief.Model().Status() == SectionStatus::UpToDate; }, 2s));
    EXPECT_EQ(document.StatusText(), L"Up to date");
  }
}

// The warning of a result stands while that result is shown: Triangle size 0.15 and back to 0.2
// brings the same result back with it; so does 0.01, refused by Process over the triangle limit,
// and back; and a file that is no image, loaded as the texture, changes nothing it says (the
// warning went each time). Screenshots end_to_end_32_*.png.
TEST(EndToEnd, AResultsWarningStaysWhileTheResultIsShown) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(program.ReadyWithTestCube());
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(program.PickLibraryTexture());
  CReliefBody& relief = program.Relief();
  // 2 mm of relief on a 20 mm cube is a tenth of its size: small for a relief.
  program.TypeAndTab(relief.Displacement()->StrengthEdit(), wxS("2"));
  ASSERT_EQ(document.displacementSettings.strengthMillimetres, 2.0f);
  ASSERT_TRUE(program.Process());
  const std::wstring warning = L"This part is small for a relief";
  ASSERT_TRUE(program.Shows(warning)) << wxString(ShownInformation(program.Frame()));

  wxTextCtrl* size = relief.Remesh()->SizeEdit();
  program.TypeAndTab(size, wxS("0.15"));
  EXPECT_FALSE(document.IsResultCurrent());
  EXPECT_FALSE(program.Shows(warning));
  program.TypeAndTab(size, wxS("0.2"));
  ASSERT_TRUE(document.IsResultCurrent());
  EXPECT_TRUE(program.Shows(warning)) << wxString(ShownInformation(program.Frame()));
  program.Shots("32_same_result_back");

  program.TypeAndTab(size, wxS("0.01"));
  program.Command(menu_ids::kProcess);
  PumpFor(200ms);
  EXPECT_TRUE(program.Shows(L"over the limit")) << wxString(ShownInformation(program.Frame()));
  program.TypeAndTab(size, wxS("0.2"));
  EXPECT_TRUE(program.Shows(warning)) << wxString(ShownInformation(program.Frame()));
  EXPECT_FALSE(program.Shows(L"over the limit"));

  const std::filesystem::path notAnImage = folder / "notes.png";
  { std::ofstream(notAnImage) << "not a picture"; }
  program.prompter.ExpectFile(notAnImage);
  program.Command(kLoadFromDisk);
  PumpFor(200ms);
  EXPECT_TRUE(program.Shows(L"This image could not be loaded.")) << wxString(ShownInformation(program.Frame()));
  EXPECT_TRUE(program.Shows(warning)) << wxString(ShownInformation(program.Frame()));
  program.Shots("32_not_an_image");
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

// What the box says stays while it holds: a failed save's error through a Process refused over
// the triangle limit set for it, and "Wrote:" through a Repair with nothing to mend (each used
// to be replaced). Once Repair changed a part read with duplicate triangles, the report heads
// the reading's warnings as the file's, under the repaired part's topology (they read as the
// part's). Screenshots end_to_end_33_*.png.
TEST(EndToEnd, MessagesStayWhileTheirCauseHolds) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(program.ReadyWithTestCube());
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(program.PickLibraryTexture());
  ASSERT_TRUE(program.Process());

  (void)program.SaveStl(folder / "no" / "knurl.stl");
  ASSERT_TRUE(program.Shows(L"This file could not be saved."));
  // A lower triangle limit stored as Relief Settings' OK stores it.
  const ReliefDialogValues before = ReliefDialogValuesOf(document);
  ReliefDialogValues lowered = before;
  lowered.triangleLimit = 1000;
  ASSERT_TRUE(StoreReliefDialogValues(document, lowered));
  program.Command(menu_ids::kProcess);
  PumpFor(200ms);
  EXPECT_TRUE(program.Shows(L"over the limit")) << wxString(ShownInformation(program.Frame()));
  EXPECT_TRUE(program.Shows(L"This file could not be saved.")) << wxString(ShownInformation(program.Frame()));
  program.Shots("33_failed_save_kept");
  ASSERT_TRUE(StoreReliefDialogValues(document, before));

  ASSERT_TRUE(program.SaveStl(folder / "knurl.stl"));
  ASSERT_TRUE(program.Shows(L"Wrote: knurl.stl"));
  program.Command(kRepair);
  PumpFor(200ms);
  EXPECT_TRUE(program.Shows(L"Validation found nothing to repair.")) << wxString(ShownInformation(program.Frame()));
  EXPECT_TRUE(program.Shows(L"Wrote: knurl.stl")) << wxString(ShownInformation(program.Frame()));
  program.Shots("33_wrote_kept");

  // The cube twice over the same place: the reading keeps the duplicates, Repair removes them.
  mesh::TriangleMesh doubled = mesh::MakeTestCube(20.0f);
  const mesh::TriangleMesh once = doubled;
  const auto offset = static_cast<std::uint32_t>(doubled.vertices.size());
  doubled.vertices.insert(doubled.vertices.end(), once.vertices.begin(), once.vertices.end());
  for (const std::uint32_t index : once.indices) doubled.indices.push_back(index + offset);
  const std::filesystem::path part = folder / "doubled.stl";
  ASSERT_TRUE(mesh::WriteStlFile(part, doubled, mesh::StlWriteOptions{}).ok);
  program.prompter.ExpectFile(part);
  program.prompter.ExpectMessage(MessageAnswer::No);  // the processed cube is not kept
  program.Command(menu_ids::kOpenStl);
  ASSERT_EQ(document.loadedPart.TriangleCount(), 24u);
  EXPECT_NE(ShownReport(program.Frame()).find(L"\r\nImport warnings\r\n  The file contains 12 duplicate triangles."),
            std::wstring::npos);
  program.prompter.ExpectMessage(MessageAnswer::Yes);
  program.Command(kRepair);
  PumpFor(300ms);
  ASSERT_EQ(document.loadedPart.TriangleCount(), 12u);
  const std::wstring report = ShownReport(program.Frame());
  EXPECT_NE(report.find(L"  Non-manifold edges: 0\r\n"), std::wstring::npos) << wxString(report);
  EXPECT_NE(report.find(L"\r\nImport warnings (the file as read; the part has been changed since)\r\n"),
            std::wstring::npos)
      << wxString(report);
  ShowReportEnd(program.Frame());
  PumpFor(200ms);
  program.Shots("33_repaired_report");
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

TEST(EndToEnd, StlFromDiskWithMaskAndPatternSavedAsProjectReopensToTheSameResult) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path part = folder / "part.stl";
  ASSERT_TRUE(mesh::WriteStlFile(part, mesh::MakeTestCube(20.0f), mesh::StlWriteOptions{}).ok);

  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  CGrainforgeDoc& document = program.Document();
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));

  program.prompter.ExpectFile(part);
  program.Command(menu_ids::kOpenStl);
  ASSERT_TRUE(document.HasPart());
  EXPECT_FALSE(program.View().StartHint()->IsShown());

  program.Command(kAddBoxMask);
  ASSERT_EQ(document.maskVolumes.size(), 1u);
  PumpFor(200ms);
  program.Shots("7_mask_volume");

  // The first preset of the first procedural pattern.
  CTextureBody& texture = program.Texture();
  texture.SetTab(1);
  texture.OnCategoryClick(0);
  PumpFor(200ms);
  texture.OnThumbnailClick(0, 0);
  ASSERT_TRUE(PumpUntil([&] { return document.heightMap.width > 0; }, 20s));

  ASSERT_TRUE(program.Process());
  const mesh::TriangleMesh first = document.CurrentDisplayMesh();
  program.Shots("8_pattern_processed");

  const std::filesystem::path project = folder / "part.gfproj";
  program.prompter.ExpectFile(project);
  program.Command(menu_ids::kSaveProjectAs);
  ASSERT_TRUE(std::filesystem::exists(project));
  program.Command(menu_ids::kNew);
  EXPECT_FALSE(document.HasPart());
  PumpFor(200ms);
  EXPECT_TRUE(program.View().StartHint()->IsShown());

  program.prompter.ExpectFile(project);
  program.Command(menu_ids::kOpenProject);
  ASSERT_TRUE(document.HasPart());
  ASSERT_EQ(document.maskVolumes.size(), 1u);
  ASSERT_TRUE(program.Process());
  const mesh::TriangleMesh& again = document.CurrentDisplayMesh();
  program.Shots("9_reopened_processed");
  ASSERT_EQ(again.TriangleCount(), first.TriangleCount());
  EXPECT_EQ(again.indices, first.indices);
  for (std::size_t i = 0; i < again.vertices.size() && i < first.vertices.size(); ++i)
    ASSERT_EQ(again.vertices[i].position, first.vertices[i].position) << "vertex " << i;
  EXPECT_EQ(again.vertices.size(), first.vertices.size());

  const std::filesystem::path stl = folder / "part textured.stl";
  ASSERT_TRUE(program.SaveStl(stl));
  ExpectPrintable(stl, again.TriangleCount());
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);
}

}  // namespace
}  // namespace grainforge::app
