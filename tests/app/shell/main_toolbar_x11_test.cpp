// The main toolbar in a real window under X: its strip's height, how it looks (a screenshot is
// saved for a person to look at), clicks through the command routing, the disabled and checked
// looks, the tooltip popup and hiding the strip.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/shell/app_toolbar_pane.h"
#include "app/shell/command_router.h"
#include "app/shell/command_routing.h"
#include "app/shell/kit/rect_tooltip.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "tests/app/shell/shell_x11_support.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using ::tessary::test::PumpFor;
using ::tessary::test::PumpUntil;

const auto* const kAssertsFail = ::testing::AddGlobalTestEnvironment(new test::AssertsFail);

constexpr int kNew = 57600, kImport = 57601, kExport = 57604, kLayOnFace = 32837;
constexpr int kSmooth = 32782, kEditMasks = 32904, kNoHandles = 32817;

// A frame laid out as the main window is: the toolbar strip on top, the rest below.
class MainToolbarFrame : public ::testing::Test {
protected:
  void SetUp() override {
    frame = new wxFrame(nullptr, wxID_ANY, "Tessary", wxPoint(20, 20), wxSize(1000, 300));
    routing = std::make_unique<CommandRouting>(frame, router);
    pane = new CAppToolbarPane();
    ASSERT_TRUE(pane->Create(frame, 32884));
    rest = new wxPanel(frame, wxID_ANY);
    rest->SetBackgroundColour(wxColour(255, 255, 255));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane, 0, wxEXPAND);
    sizer->Add(rest, 1, wxEXPAND);
    frame->SetSizer(sizer);
    InstallCommands();
    frame->Show();
    ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen() && pane->GetSize().y > 0; }));
    frame->Layout();
    toolbar()->UpdateCommandStates();
    PumpFor(200ms);
  }
  void TearDown() override {
    routing.reset();
    frame->Destroy();
    PumpFor(50ms);
  }

  // New and Import run; Export is greyed; Smooth Shaded is checked; Lay on Face and Edit Masks
  // count their runs.
  void InstallCommands() {
    CommandTable view;
    view.push_back({kSmooth, [] {}, [](CommandState& s) { s.checked = true; }});
    view.push_back({kLayOnFace, [this] { ++layOnFaceRuns; }, nullptr});
    view.push_back({kEditMasks, [this] { ++editMaskRuns; }, nullptr});
    view.push_back({kNoHandles, [this] { ++noHandlesRuns; },
                    [this](CommandState& s) { s.enabled = noHandlesEnabled; }});
    CommandTable document;
    document.push_back({kExport, [this] { ++exportRuns; }, [](CommandState& s) { s.enabled = false; }});
    CommandTable application;
    application.push_back({kNew, [] {}, nullptr});
    application.push_back({kImport, [] {}, nullptr});
    router.SetTable(CommandLayer::View, view);
    router.SetTable(CommandLayer::Document, document);
    router.SetTable(CommandLayer::Application, application);
  }

  CToolbarHostWnd* toolbar() const { return pane->Toolbar(); }
  const ToolbarButtonState& ButtonFor(int commandId) const {
    for (const auto& button : toolbar()->Model().Buttons()) {
      if (button.item.commandId == static_cast<std::uint32_t>(commandId)) return button;
    }
    static const ToolbarButtonState none;
    ADD_FAILURE() << "no button for " << commandId;
    return none;
  }
  wxPoint CentreOf(int commandId) const {
    const PixelRect r = ButtonFor(commandId).rect;
    return wxPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  void Click(int commandId) {
    const wxPoint at = CentreOf(commandId);
    test::SendMouse(toolbar(), wxEVT_LEFT_DOWN, at.x, at.y);
    test::SendMouse(toolbar(), wxEVT_LEFT_UP, at.x, at.y);
  }

  wxFrame* frame = nullptr;
  CAppToolbarPane* pane = nullptr;
  wxPanel* rest = nullptr;
  CommandRouter router;
  std::unique_ptr<CommandRouting> routing;
  int layOnFaceRuns = 0;
  int editMaskRuns = 0;
  int exportRuns = 0;
  int noHandlesRuns = 0;
  bool noHandlesEnabled = true;
};

TEST_F(MainToolbarFrame, StripIs42PixelsHighAndEveryButtonFitsAThousandPixelWindow) {
  EXPECT_EQ(pane->GetSize().y, 42);
  EXPECT_EQ(pane->FixedHeight(), 42);
  EXPECT_EQ(toolbar()->GetSize().y, 42);
  EXPECT_EQ(toolbar()->BarHeight(), 40);
  int shown = 0;
  for (const auto& button : toolbar()->Model().Buttons()) {
    if (button.item.kind == ToolbarItemKind::Button && !button.rect.IsEmpty()) ++shown;
  }
  EXPECT_EQ(shown, 20);
  // Drawn icons make buttons wider than the 28 px a missing icon gets.
  EXPECT_GT(ButtonFor(kNew).rect.Width(), 28);
}

TEST_F(MainToolbarFrame, LooksShowDisabledGreyCheckedBlueAndAreSavedForAPerson) {
  const wxImage shot = test::CaptureWindow(frame, "shell_main_toolbar.png");
  ASSERT_TRUE(shot.IsOk());
  const ToolbarColors colors;
  // The checked button's face, just inside its frame.
  const PixelRect smooth = ButtonFor(kSmooth).rect;
  EXPECT_EQ(test::PixelAt(shot, smooth.left + 2, smooth.top + 2),
            wxColour(colors.checkedFill.r, colors.checkedFill.g, colors.checkedFill.b));
  EXPECT_EQ(test::PixelAt(shot, smooth.left, smooth.top + 5),
            wxColour(colors.checkedBorder.r, colors.checkedBorder.g, colors.checkedBorder.b));
  // Import's arrow is blue; Export's (disabled) is drawn grey.
  const auto blueish = [&](const PixelRect& r) {
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) {
        const wxColour c = test::PixelAt(shot, x, y);
        if (c.Blue() - c.Red() > 60) ++count;
      }
    }
    return count;
  };
  EXPECT_GT(blueish(ButtonFor(kImport).rect), 20);
  EXPECT_EQ(blueish(ButtonFor(kExport).rect), 0);
  EXPECT_FALSE(ButtonFor(kExport).enabled);
  EXPECT_TRUE(ButtonFor(kSmooth).checked);
  // The strip's bottom line.
  EXPECT_EQ(test::PixelAt(shot, 500, 41), wxColour(colors.border.r, colors.border.g, colors.border.b));
}

TEST_F(MainToolbarFrame, ClickRunsTheCommandThroughTheRoutingAndDraggingOffDoesNot) {
  Click(kLayOnFace);
  EXPECT_EQ(layOnFaceRuns, 1);

  const wxPoint at = CentreOf(kLayOnFace);
  test::SendMouse(toolbar(), wxEVT_LEFT_DOWN, at.x, at.y);
  test::SendMouse(toolbar(), wxEVT_MOTION, at.x, 200);
  test::SendMouse(toolbar(), wxEVT_LEFT_UP, at.x, 200);
  EXPECT_EQ(layOnFaceRuns, 1);

  test::SendMouse(toolbar(), wxEVT_LEFT_DOWN, at.x, at.y);
  test::SendMouse(toolbar(), wxEVT_MOTION, at.x + 300, at.y);
  test::SendMouse(toolbar(), wxEVT_MOTION, at.x, at.y);
  test::SendMouse(toolbar(), wxEVT_LEFT_UP, at.x, at.y);
  EXPECT_EQ(layOnFaceRuns, 2);
  EXPECT_FALSE(toolbar()->HasCapture());
}

TEST_F(MainToolbarFrame, DisabledButtonIgnoresClicksAndFollowsTheUpdateOnIdle) {
  Click(kExport);
  EXPECT_EQ(exportRuns, 0);
  noHandlesEnabled = false;
  ASSERT_TRUE(PumpUntil([&] {
    wxWakeUpIdle();
    return !ButtonFor(kNoHandles).enabled;
  }));
  Click(kNoHandles);
  EXPECT_EQ(noHandlesRuns, 0);
  // No click or key follows the change: the idle pass must still come round to it.
  noHandlesEnabled = true;
  ASSERT_TRUE(PumpUntil([&] { return ButtonFor(kNoHandles).enabled; }));
  Click(kNoHandles);
  EXPECT_EQ(noHandlesRuns, 1);
}

TEST_F(MainToolbarFrame, EditMasksTooltipShowsItsOwnBoldTitleAndBody) {
  const wxPoint at = CentreOf(kEditMasks);
  test::SendMouse(toolbar(), wxEVT_MOTION, at.x, at.y);
  ASSERT_TRUE(PumpUntil([&] { return toolbar()->Tooltip().ShownPopup() != nullptr; }, 3000ms));
  CRectTooltip& tooltip = toolbar()->Tooltip();
  EXPECT_EQ(tooltip.TitleText()->GetLabel(), "Edit Masks");
  EXPECT_TRUE(tooltip.TitleText()->IsShown());
  EXPECT_EQ(tooltip.TitleText()->GetFont().GetWeight(), wxFONTWEIGHT_BOLD);
  EXPECT_EQ(tooltip.BodyText()->GetLabel(),
            "Move, turn and size the mask volumes, in their own panel.");
  PumpFor(100ms);
  test::CaptureWindow(tooltip.ShownPopup(), "shell_toolbar_tooltip.png");
  EXPECT_LE(tooltip.ShownPopup()->GetSize().x, CRectTooltip::kMaximumWidth);

  test::SendMouse(toolbar(), wxEVT_LEFT_DOWN, at.x, at.y);
  EXPECT_EQ(tooltip.ShownPopup(), nullptr) << "a press hides the tooltip";
  test::SendMouse(toolbar(), wxEVT_LEFT_UP, at.x, at.y);
  EXPECT_EQ(editMaskRuns, 1);
}

TEST_F(MainToolbarFrame, HidingTheStripGivesItsHeightToTheRestAtOnce) {
  const int before = rest->GetSize().y;
  pane->ShowPane(false);
  EXPECT_EQ(pane->FixedHeight(), 0);
  EXPECT_EQ(rest->GetSize().y, before + 42);
  pane->ShowPane(true);
  EXPECT_EQ(rest->GetSize().y, before);
}

TEST_F(MainToolbarFrame, MenusAndKeysReachCommandsThroughTheirWindowIds) {
  wxMenu menu;
  wxMenuItem* smooth = routing->AppendCommand(&menu, kSmooth, L"&Smooth Shaded", wxITEM_CHECK);
  wxMenuItem* exportItem = routing->AppendCommand(&menu, kExport, L"&Save STL...");
  wxMenuItem* unknown = routing->AppendCommand(&menu, 32999, L"Nothing handles this");
  ASSERT_NE(smooth, nullptr);
  wxMenuEvent opened(wxEVT_MENU_OPEN, 0, &menu);
  opened.SetEventObject(frame);
  frame->ProcessWindowEvent(opened);
  EXPECT_TRUE(smooth->IsChecked());
  EXPECT_FALSE(exportItem->IsEnabled());
  EXPECT_FALSE(unknown->IsEnabled());

  // A menu or accelerator command arrives under its wx id and reaches the program's command.
  wxCommandEvent event(wxEVT_MENU, routing->WindowId(kLayOnFace));
  event.SetEventObject(frame);
  frame->ProcessWindowEvent(event);
  EXPECT_EQ(layOnFaceRuns, 1);

  const std::vector<AcceleratorKey> keys = {{wxACCEL_CTRL, 'L', kLayOnFace},
                                            {wxACCEL_NORMAL, 'L', kLayOnFace}};
  EXPECT_TRUE(routing->MakeAcceleratorTable(keys).IsOk());
  const auto bare = SplitAccelerators(keys).bare;
  EXPECT_TRUE(routing->HandleBareKey(bare, wxACCEL_NORMAL, 'L'));
  EXPECT_FALSE(routing->HandleBareKey(bare, wxACCEL_NORMAL, 'K'));
  EXPECT_EQ(layOnFaceRuns, 2);
}

TEST(ToolbarHostWnd, AMissingIconDrawsTheGreyFrameAndKeepsTheMinimumLength) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Toolbar", wxPoint(40, 400), wxSize(300, 60));
  auto* toolbar = new CToolbarHostWnd();
  ASSERT_TRUE(toolbar->Create(frame, 1));
  toolbar->SetColorStyle();
  toolbar->SetItems({MakeToolbarButton(0, L"no_such_icon", L"Missing", L""),
                     MakeToolbarButton(0, L"sel_move", L"Move", L"")});
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(toolbar, 0, wxEXPAND);
  toolbar->SetMinSize(wxSize(-1, 36));
  frame->SetSizer(sizer);
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen() && toolbar->GetSize().y == 36; }));
  PumpFor(150ms);
  const PixelRect missing = toolbar->Model().Buttons()[0].rect;
  EXPECT_EQ(missing.Width(), 28);
  const wxImage shot = test::CaptureWindow(toolbar, "shell_toolbar_missing_icon.png");
  // The frame's top-left corner at (10, 8) inside the button.
  EXPECT_EQ(test::PixelAt(shot, missing.left + 10, missing.top + 8), wxColour(170, 170, 170));
  EXPECT_EQ(test::PixelAt(shot, missing.left + 14, missing.top + 14), wxColour(248, 248, 248));
  frame->Destroy();
  PumpFor(50ms);
}

}  // namespace
}  // namespace grainforge::app
