// The view's texts and panes in the running program: a reduced copy of the sliced preview is
// named as such and leaves with that view, Check Printability says that it changed the view,
// the mask panel is docked beside the 3D view and stays until closed, and the status bar holds
// its texts whole. Screenshots of each step are written beside the
// test program (view_*.png) for people to look at.
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
#include "app/view/view_rules.h"
#include "app/workflow/mask_panel.h"
#include "tests/app/workflow/running_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

constexpr int kCheckPrintability = 32854;
constexpr int kSlicedAsPrinted = 32856;
constexpr int kAddSphereMask = 32903;
constexpr int kNoHandles = 32817;
constexpr int kMoveTexture = 32845;

std::string Shot(const std::string& name) {
  return (std::filesystem::current_path() / ("view_" + name + ".png")).string();
}

class ViewProgram : public RunningProgram {
public:
  using RunningProgram::RunningProgram;

  CGrainforgeView& View() { return *dynamic_cast<CGrainforgeView*>(Frame().CentreView()); }
  std::wstring Information() { return Frame().RightPane()->Dialog()->InfoText(); }
  // How many log lines hold the text.
  int LogCount(const std::wstring& part) {
    const OutputLogModel& model = Frame().OutputPane()->Model();
    int count = 0;
    for (std::size_t i = 0; i < model.Size(); ++i)
      if (model.Entry(i).text.find(part) != std::wstring::npos) ++count;
    return count;
  }
  void Shots(const std::string& name) {
    PumpFor(300ms);
    EXPECT_TRUE(WindowShot::Save(&Frame(), Shot(name)));
    if (View().RendererReady()) {
      EXPECT_TRUE(View().Viewport()->CaptureFrame().SaveFile(wxString(Shot(name + "_3d")), wxBITMAP_TYPE_PNG));
    }
  }
};

// A sphere whose sliced preview is over the display limit while the sphere itself is not:
// the message names the preview, gives the part's own count, and goes with the sliced view.
TEST(ProgramView, AReducedSlicedPreviewIsNamedAndLeavesWithItsView) {
  grainforge::test::TempFolder folder;
  ViewProgram program(folder.Path());
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestSphere);
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  const std::uint64_t sphere = program.Document().workingPart.TriangleCount();
  const std::wstring report = program.Frame().RightPane()->Dialog()->ReportText();
  EXPECT_NE(report.find(L"Format: Test shape (sphere)"), std::wstring::npos) << wxString(report);
  program.Document().displayTriangles = sphere + 1;  // the sphere fits, its slices do not
  const std::wstring preview = L"The sliced preview has ";
  const std::wstring whole = L"The part itself is whole (" + Utf8ToWide(GroupedCount(sphere)) + L" triangles)";

  // Check Printability switches to the sliced view and says so, then names what is reduced.
  program.Command(kCheckPrintability);
  PumpFor(200ms);
  EXPECT_EQ(program.View().sectionMode, 4u);
  EXPECT_EQ(program.LogCount(Utf8ToWide(kSwitchedToSlicedText)), 1);
  EXPECT_EQ(program.LogCount(preview), 1);
  EXPECT_EQ(program.LogCount(whole), 1);
  EXPECT_EQ(program.LogCount(L" triangles is over the display limit"), 0) << "no count given as the part's";
  EXPECT_GT(program.View().reducedCopy.sourceTriangles, sphere);
  program.Shots("sliced_check");

  // Leaving the sliced view shows the whole sphere, and its message goes with it.
  program.Command(kSlicedAsPrinted);
  PumpFor(200ms);
  EXPECT_EQ(program.View().sectionMode, 0u);
  EXPECT_EQ(program.View().reducedCopy.sourceTriangles, 0u);

  // Chosen from the menu, the sliced view shows its message in the information box, and it
  // is gone again once the view is left; no second switch notice is logged.
  program.Command(kSlicedAsPrinted);
  PumpFor(200ms);
  EXPECT_EQ(program.Information().rfind(preview, 0), 0u) << wxString(program.Information());
  program.Shots("sliced_reduced");
  program.Command(kSlicedAsPrinted);
  PumpFor(200ms);
  EXPECT_EQ(program.Information(), L"");
  EXPECT_EQ(program.LogCount(Utf8ToWide(kSwitchedToSlicedText)), 1);
  program.Shots("sliced_left");
}

// The mask panel takes a strip at the right of the view: it covers neither the 3D view nor the
// Information pane, and it stays through other tools, Process leaving the tools and clicks in
// the view, until its Close button closes it and gives the view its width back.
TEST(ProgramView, TheMaskPanelIsDockedBesideTheViewAndStaysUntilClosed) {
  grainforge::test::TempFolder folder;
  ViewProgram program(folder.Path());
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestCube);
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  CGrainforgeView& view = program.View();
  const int fullWidth = view.Viewport()->GetSize().x;
  program.Command(kAddSphereMask);
  ASSERT_NE(view.MaskPanel(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return view.MaskPanel()->IsShown(); }));
  PumpFor(300ms);

  const auto docked = [&](const char* when) {
    SCOPED_TRACE(when);
    ASSERT_TRUE(view.MaskPanel()->IsShown());
    const wxRect panel = view.MaskPanel()->GetScreenRect();
    const wxRect viewport = view.Viewport()->GetScreenRect();
    EXPECT_TRUE(view.GetScreenRect().Contains(panel));
    EXPECT_FALSE(panel.Intersects(viewport));
    EXPECT_FALSE(panel.Intersects(program.Frame().RightHost()->GetScreenRect())) << "the Information pane is free";
    EXPECT_EQ(viewport.width + panel.width, view.GetClientSize().x);
    EXPECT_EQ(panel.x, viewport.GetRight() + 1);
  };
  docked("opened by Add Sphere");
  program.Shots("mask_panel_docked");

  program.Command(kMoveTexture);
  docked("another tool");
  program.Command(kNoHandles);
  docked("No Handles");
  program.Document().UpdateAllViews(kHintLeaveTools);  // what Process does as it starts
  docked("Process leaving the tools");
  const wxPoint middle(view.Viewport()->GetSize().x / 2, view.Viewport()->GetSize().y / 2);
  for (const wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}) {
    wxMouseEvent click(type);
    click.SetPosition(middle);
    click.SetEventObject(view.Viewport());
    view.Viewport()->GetEventHandler()->ProcessEvent(click);
  }
  PumpFor(100ms);
  docked("a click in the view");

  program.Command(32904);  // Edit Masks: back to a mask tool with the panel open
  EXPECT_EQ(view.handleTool, kToolMoveMask);
  wxCommandEvent close(wxEVT_BUTTON, wxID_CLOSE);
  close.SetEventObject(view.MaskPanel()->CloseButton());
  view.MaskPanel()->CloseButton()->GetEventHandler()->ProcessEvent(close);
  ASSERT_TRUE(PumpUntil([&] { return !view.MaskPanel()->IsShown(); }));
  EXPECT_EQ(view.handleTool, kToolNone) << "closing leaves the mask tools";
  EXPECT_EQ(view.Viewport()->GetSize().x, fullWidth);
  program.Shots("mask_panel_closed");
}

// Mapping > Fit to Model on a cage that already fits says so; after the cage was moved it fits
// the cage again without that message.
TEST(ProgramView, FitToModelSaysWhenTheCageAlreadyFits) {
  grainforge::test::TempFolder folder;
  ViewProgram program(folder.Path());
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestCube);
  PumpFor(100ms);
  const std::wstring fits = L"The cage already fits the part, so Fit to Model changed nothing.";
  program.Command(32799);
  EXPECT_EQ(program.Information(), fits);
  program.Document().ShowInformation(L"", 0);
  program.Document().projection.cage.center.x += 3.0f;
  program.Command(32799);
  EXPECT_EQ(program.Information(), L"");
  EXPECT_FLOAT_EQ(program.Document().projection.cage.center.x, 0.0f);
}

// Every text of the "Tool" pane and the widest of the "Frame" pane fit their fields whole, as
// the status bar's font measures them: the bar writes a text 2 px in from each side of its
// field and cuts what does not fit with "…".
TEST(ProgramView, TheStatusBarHoldsItsToolAndFrameTextsWhole) {
  grainforge::test::TempFolder folder;
  ViewProgram program(folder.Path());
  ASSERT_TRUE(program.started);
  wxStatusBar* bar = program.Frame().GetStatusBar();
  ASSERT_NE(bar, nullptr);
  wxClientDC dc(bar);
  dc.SetFont(bar->GetFont());
  const auto fits = [&](int field, const std::wstring& text) {
    wxRect rect;
    EXPECT_TRUE(bar->GetFieldRect(field, rect));
    const int needed = dc.GetTextExtent(wxString(text)).x + 2 * 2;
    EXPECT_LE(needed, rect.width) << wxString(text);
  };
  for (const std::wstring& tool : ToolNames()) {
    program.Frame().SetToolPaneText(tool);
    fits(2, tool);
  }
  fits(3, WidestFrameStatisticsText());
  // A text wider than any the view announced widens its pane rather than be cut.
  const std::wstring wider = L"GPU 123456.7 ms  |  123456 fps";
  program.Frame().SetFramePaneText(wider);
  fits(3, wider);
}

}  // namespace
}  // namespace grainforge::app
