// The view's texts and panes in the running program: a reduced copy of the sliced preview is
// named as such and leaves with that view, the mask panel is docked beside the 3D view and
// stays until closed, and the status bar holds its texts whole. Screenshots (view_*.png) are
// written beside the test program for people to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/statusbr.h>

#include "app/document/log_text.h"
#include "app/shell/info_pane.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/workflow/mask_panel.h"
#include "tests/app/workflow/running_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;

// The program's home folder, made before the program that lives in it.
struct HomeFolder {
  grainforge::test::TempFolder home;
};

class ViewProgram : private HomeFolder, public RunningProgram {
public:
  ViewProgram() : RunningProgram(home.Path()) {}
  CGrainforgeView& View() { return *dynamic_cast<CGrainforgeView*>(Frame().CentreView()); }
  std::wstring Information() { return Frame().RightPane()->Dialog()->InfoText(); }
  int LogLinesWith(const std::wstring& part) {
    const OutputLogModel& model = Frame().OutputPane()->Model();
    int count = 0;
    for (std::size_t i = 0; i < model.Size(); ++i) count += model.Entry(i).text.find(part) != std::wstring::npos;
    return count;
  }
  void Shot(const std::string& name) {
    PumpFor(300ms);
    EXPECT_TRUE(tessary::test::WindowShot::Save(&Frame(), (std::filesystem::current_path() / ("view_" + name + ".png")).string()));
  }
};

// The sphere fits the display limit, its slices do not: Check Printability says that it
// switched the view, the message names the preview beside the part's own count, and leaving
// the sliced view takes the message away.
TEST(ProgramView, AReducedSlicedPreviewIsNamedAndLeavesWithItsView) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestSphere);
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  const std::uint64_t sphere = program.Document().workingPart.TriangleCount();
  program.Document().displayTriangles = sphere + 1;
  const std::wstring preview = L"The sliced preview has ";
  program.Command(32854);  // Check Printability
  EXPECT_EQ(program.LogLinesWith(Utf8ToWide(kSwitchedToSlicedText)), 1);
  EXPECT_EQ(program.LogLinesWith(preview), 1);
  EXPECT_EQ(program.LogLinesWith(L"The part itself is whole (" + Utf8ToWide(GroupedCount(sphere)) + L" triangles)"), 1);
  EXPECT_EQ(program.LogLinesWith(L" triangles is over the display limit"), 0) << "no count given as the part's";
  program.Command(32856);  // back to the whole sphere
  program.Command(32856);  // the sliced view from the menu shows its message in the box
  EXPECT_EQ(program.Information().rfind(preview, 0), 0u);
  program.Shot("sliced_reduced");
  program.Command(32856);
  EXPECT_EQ(program.Information(), L"");
  EXPECT_EQ(program.LogLinesWith(Utf8ToWide(kSwitchedToSlicedText)), 1);
}

// The mask panel takes a strip at the view's right: it covers neither the 3D view nor the
// Information pane, stays through other tools, Process leaving the tools and a click in the
// view, and its Close button gives the view its width back.
TEST(ProgramView, TheMaskPanelIsDockedBesideTheViewAndStaysUntilClosed) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestCube);
  CGrainforgeView& view = program.View();
  ASSERT_TRUE(PumpUntil([&] { return view.RendererReady(); }, 5000ms));
  const int fullWidth = view.Viewport()->GetSize().x;
  program.Command(32903);  // Masks > Add Sphere
  ASSERT_TRUE(view.MaskPanel() != nullptr && PumpUntil([&] { return view.MaskPanel()->IsShown(); }));
  program.Shot("mask_panel_docked");
  const auto click = [&] {
    for (const wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}) {
      wxMouseEvent event(type);
      event.SetPosition(wxPoint(view.Viewport()->GetSize().x / 2, view.Viewport()->GetSize().y / 2));
      view.Viewport()->GetEventHandler()->ProcessEvent(event);
    }
  };
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"opened", [] {}},
      {"another tool", [&] { program.Command(32845); }},
      {"Process leaving the tools", [&] { program.Document().UpdateAllViews(kHintLeaveTools); }},
      {"a click in the view", click},
  };
  for (const auto& [when, step] : steps) {
    step();
    PumpFor(50ms);
    ASSERT_TRUE(view.MaskPanel()->IsShown()) << when;
    const wxRect panel = view.MaskPanel()->GetScreenRect();
    const wxRect viewport = view.Viewport()->GetScreenRect();
    EXPECT_TRUE(view.GetScreenRect().Contains(panel)) << when;
    EXPECT_FALSE(panel.Intersects(viewport) || panel.Intersects(program.Frame().RightHost()->GetScreenRect())) << when;
    EXPECT_EQ(viewport.width + panel.width, view.GetClientSize().x) << when;
  }
  program.Command(32904);  // Edit Masks: a mask tool again
  wxCommandEvent close(wxEVT_BUTTON, wxID_CLOSE);
  view.MaskPanel()->CloseButton()->GetEventHandler()->ProcessEvent(close);
  ASSERT_TRUE(PumpUntil([&] { return !view.MaskPanel()->IsShown(); }));
  EXPECT_EQ(view.handleTool, kToolNone) << "closing leaves the mask tools";
  EXPECT_EQ(view.Viewport()->GetSize().x, fullWidth);
}

// Every "Tool" text and the widest "Frame" text fit their fields whole as the status bar's font
// measures them (the bar writes 2 px in from each side and cuts the rest with "…"); a wider one
// widens its field.
TEST(ProgramView, TheStatusBarHoldsItsToolAndFrameTextsWhole) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  wxStatusBar* bar = program.Frame().GetStatusBar();
  wxClientDC dc(bar);
  dc.SetFont(bar->GetFont());
  const auto fits = [&](int field, const std::wstring& text) {
    wxRect rect;
    bar->GetFieldRect(field, rect);
    EXPECT_LE(dc.GetTextExtent(wxString(text)).x + 4, rect.width) << wxString(text);
  };
  for (const std::wstring& tool : ToolNames()) fits(2, tool);
  fits(3, WidestFrameStatisticsText());
  program.Frame().SetFramePaneText(L"GPU 123456.7 ms  |  123456 fps");
  fits(3, L"GPU 123456.7 ms  |  123456 fps");
}

}  // namespace
}  // namespace grainforge::app
