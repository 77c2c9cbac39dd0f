// The whole program driven through its own window, as a person would use it: menus, the workflow
// pane's texture browser, Process, the view's display commands, Save STL through the export
// check, and a project saved, closed and opened again. Screenshots of each step are written
// beside the test program (end_to_end_*.png) for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/statusbr.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/left_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/workflow/dialogs/wx_document_dialogs.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/texture_body.h"
#include "app/workflow/workflow_pane.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/stl_reader.h"
#include "engine/mesh/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/app/workflow/running_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {

// The information box's text while it is on screen (information_pane_probe.cpp).
std::wstring ShownInformation(const CMainFrame& frame);
std::wstring ShownReport(const CMainFrame& frame);

namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

constexpr int kHeightMapSurface = 32820;
constexpr int kSlicedAsPrinted = 32856;
constexpr int kAddBoxMask = 32901;

std::string Shot(const std::string& name) {
  return (std::filesystem::current_path() / ("end_to_end_" + name + ".png")).string();
}

// The running program with the steps of a person's session.
class Program : public RunningProgram {
public:
  using RunningProgram::RunningProgram;

  CGrainforgeView& View() { return *dynamic_cast<CGrainforgeView*>(Frame().CentreView()); }
  CTextureBody& Texture() {
    auto* left = dynamic_cast<CLeftPane*>(Frame().LeftPane());
    return dynamic_cast<CTextureBody&>(WorkflowWindowOf(*left)->Body(FlowStep::Texture));
  }

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
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  program.Command(menu_ids::kTestCube);
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
