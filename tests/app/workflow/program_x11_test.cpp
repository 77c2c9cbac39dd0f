// The whole program as it starts, with the real workflow pane on the left: a test cube, Process
// from the menu, the footer and the Relief dot following the run, Escape stopping it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <wx/statusbr.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/left_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/section_header.h"
#include "app/workflow/workflow_pane.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

std::string ShotPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tessary_program_" + name + ".png")).string();
}

TEST(ProgramWithWorkflow, TestCubeProcessFollowedByTheFooterAndStoppedByEscape) {
  grainforge::test::TempFolder folder;
  setenv("HOME", folder.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder.Path() / "config").c_str(), 1);
  ScriptedPrompter prompter;
  StartOptions options;
  options.showSplash = false;
  options.prompter = &prompter;
  options.workflowPane = [](wxWindow* parent, const WorkflowPaneContext& context) {
    return WorkflowPane{CreateWorkflowPane(parent, context.document, context.profile), {}};
  };
  options.documentView = MakeGrainforgeView;
  CApplicationCore core;
  ASSERT_TRUE(core.Start(options));
  CMainFrame& frame = *core.Frame();
  frame.SetSize(40, 40, 1400, 900);
  PumpFor(300ms);
  auto* left = dynamic_cast<CLeftPane*>(frame.LeftPane());
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->GetSize().x, 340);
  CFooterWnd& footer = *left->Footer();
  CSectionHeader& relief = WorkflowWindowOf(*left)->Header(FlowStep::Relief);

  wxCommandEvent cube(wxEVT_MENU, frame.Routing().WindowId(menu_ids::kTestCube));
  frame.ProcessWindowEvent(cube);
  CGrainforgeDoc& document = *core.Document();
  ASSERT_TRUE(document.HasPart());
  // The document's view in the centre shows the cube and names the tool in the status bar.
  auto* view = dynamic_cast<CGrainforgeView*>(frame.CentreView());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return view->RendererReady(); }, 5000ms));
  EXPECT_EQ(view->Viewport()->Renderer().IndexCount(), 36);
  EXPECT_FALSE(view->StartHint()->IsShown());
  EXPECT_EQ(frame.GetStatusBar()->GetStatusText(2), wxString(L"Tool: none (orbit)"));
  EXPECT_EQ(core.Router().Execute(32814), CommandOutcome::Executed);  // Move Cage, through the View layer
  EXPECT_EQ(frame.GetStatusBar()->GetStatusText(2), wxString(L"Tool: Move Cage"));
  EXPECT_EQ(core.Router().Execute(32817), CommandOutcome::Executed);
  EXPECT_EQ(frame.GetStatusBar()->GetStatusText(2), wxString(L"Tool: none (orbit)"));
  const std::vector<std::string> names = mesh::procedural::ProceduralTextureNames();
  ASSERT_FALSE(names.empty());
  document.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture(names.front()), L"");
  ASSERT_TRUE(PumpUntil([&] { return footer.Shown().state == FooterState::ReadyToProcess; }));
  EXPECT_EQ(footer.Shown().statusText, L"Not processed yet");
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("before_run")));

  // A run held at half way in the displacement until it is stopped.
  document.pipeline.SetRunForTesting(
      [](mesh::PipelineStages&, const mesh::ProgressCallback& progress) {
        while (progress("Displacing", 0.5f)) std::this_thread::sleep_for(2ms);
        return false;
      });
  wxCommandEvent process(wxEVT_MENU, frame.Routing().WindowId(menu_ids::kProcess));
  frame.ProcessWindowEvent(process);
  ASSERT_TRUE(document.pipeline.IsRunning());
  ASSERT_TRUE(PumpUntil([&] { return footer.Shown().state == FooterState::Processing && footer.Shown().fractionKnown; }));
  ASSERT_TRUE(PumpUntil([&] { return relief.IsBlinking(); }));
  const std::wstring status = frame.GetStatusBar()->GetStatusText(0).ToStdWstring();
  EXPECT_NE(status.find(L"50%"), std::wstring::npos) << status;
  EXPECT_NE(status.find(L"Mesh > Stop Processing, or Escape, to cancel"), std::wstring::npos) << status;
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("during_run")));

  EXPECT_TRUE(frame.HandleKeyHook(WXK_ESCAPE, 0, frame.CentreView()));
  ASSERT_TRUE(PumpUntil([&] { return !document.pipeline.IsRunning(); }));
  ASSERT_TRUE(PumpUntil([&] { return footer.Shown().state == FooterState::ReadyToProcess; }));
  EXPECT_FALSE(relief.IsBlinking());
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("after_run")));

  prompter.ExpectMessage(MessageAnswer::No);
  frame.Close();
  PumpUntil([&] { return core.Frame() == nullptr; }, 5000ms);
  PumpFor(50ms);
  core.Shutdown();
  // A fresh account has no configuration folder: the profile is still written.
  EXPECT_TRUE(std::filesystem::exists(folder.Path() / "config" / "Brookvane" / "Tessary.conf"));
}

}  // namespace
}  // namespace grainforge::app
