// The workflow pane in a real frame with the document holding the test cube: the footer and the
// section headers follow the document on the pane's own 150 ms refresh, and the clicks reach the
// document and the frame's command routing.
#include "app/workflow/workflow_pane.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_events.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/relief_bodies.h"
#include "app/workflow/texture_body.h"

#include <wx/choice.h>
#include <wx/scrolbar.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include "tests/app/document/document_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using grainforge::test::DocumentFixture;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

// A frame with the workflow pane as its only content; it records the commands that reach it.
// The sections hold placeholder bodies, so the window's own layout is what is measured.
class PaneFrame {
public:
  PaneFrame(CGrainforgeDoc* document, IProfileStore* profile, int height = 520,
            SectionBodies bodies = SectionBodies::Placeholders) {
    frame_ = new wxFrame(nullptr, wxID_ANY, wxS("Workflow"), wxPoint(30, 30), wxDefaultSize);
    pane_ = CreateWorkflowPane(frame_, document, profile, bodies);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(pane_, 0, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->SetClientSize(CLeftPane::kDesignWidth, height);
    frame_->Bind(EVT_TESSARY_COMMAND, [this](wxCommandEvent& event) { commands.push_back(event.GetInt()); });
    frame_->Show();
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(200));
  }
  ~PaneFrame() {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  CLeftPane& Pane() { return *pane_; }
  CFlowWnd& Flow() { return *WorkflowWindowOf(*pane_); }
  CFooterWnd& Footer() { return *pane_->Footer(); }

  std::vector<int> commands;

private:
  wxFrame* frame_ = nullptr;
  CLeftPane* pane_ = nullptr;
};

void Click(wxWindow* window, int x, int y) {
  wxMouseEvent event(wxEVT_LEFT_DOWN);
  event.SetPosition(wxPoint(x, y));
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

wxImage Shoot(wxWindow* window, const char* name) {
  const std::filesystem::path path = std::filesystem::current_path() / name;
  EXPECT_TRUE(WindowShot::Save(window, path.string()));
  std::printf("screenshot: %s\n", path.c_str());
  wxImage image;
  image.LoadFile(wxString(path.native()), wxBITMAP_TYPE_PNG);
  return image;
}

wxColour PixelAt(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

wxPoint Centre(const PixelRect& rect) { return wxPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2); }

// A run that sits in its displacement stage at 40 % until it is stopped.
void DisplacingRuns(DocumentFixture& f) {
  f.doc->pipeline.SetRunForTesting([](mesh::PipelineStages&, const mesh::ProgressCallback& progress) {
    while (progress("Displacing the surface", 0.4f))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return false;
  });
}

TEST(WorkflowPaneX11, TheCubeIsReadyToProcess) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  MemoryProfileStore profile;
  PaneFrame frame(f.doc.get(), &profile);
  ASSERT_TRUE(PumpUntil([&] { return frame.Footer().Shown().state == FooterState::ReadyToProcess; }));
  EXPECT_EQ(frame.Footer().Shown().statusText, L"Not processed yet");
  EXPECT_TRUE(frame.Pane().IsRefreshing());

  // The footer is 64 px at the bottom, the workflow window fills the rest above it.
  const wxSize area = frame.Pane().ContentArea()->GetClientSize();
  EXPECT_EQ(frame.Footer().GetRect(), wxRect(0, area.y - 64, area.x, 64));
  EXPECT_EQ(frame.Flow().GetRect(), wxRect(0, 0, area.x, area.y - 64));
  // Four open sections of 40 + 36 px.
  EXPECT_EQ(frame.Flow().ContentHeight(), 4 * 76);
  EXPECT_EQ(frame.Flow().Header(FlowStep::Texture).GetPosition().y, 76);

  const wxImage pane = Shoot(&frame.Pane(), "workflow_ready.png");
  const wxImage footer = Shoot(&frame.Footer(), "workflow_ready_footer.png");
  ASSERT_TRUE(footer.IsOk());
  const PixelRect button = frame.Footer().Parts().button;
  EXPECT_EQ(PixelAt(footer, button.left + 3, button.top + 3), wxColour(58, 123, 213));
  EXPECT_EQ(PixelAt(footer, 2, 2), wxColour(230, 234, 240));
  // Every dot is amber before the first run.
  const wxImage relief = Shoot(&frame.Flow().Header(FlowStep::Relief), "workflow_ready_relief.png");
  const wxPoint dot = Centre(frame.Flow().Header(FlowStep::Relief).Parts().dot);
  EXPECT_EQ(PixelAt(relief, dot.x, dot.y), wxColour(243, 156, 51));

  Click(&frame.Footer(), button.left + 10, button.top + 10);
  EXPECT_EQ(frame.commands, std::vector<int>{32888});
}

// During a run the Relief dot blinks between a filled dot and a ring, the footer shows the
// stage with its percentage and the Stop button fills from the left; Stop reaches the frame.
TEST(WorkflowPaneX11, ARunBlinksTheReliefDotAndFillsStop) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  MemoryProfileStore profile;
  PaneFrame frame(f.doc.get(), &profile);
  DisplacingRuns(f);
  f.doc->RequestProcess();
  CSectionHeader& relief = frame.Flow().Header(FlowStep::Relief);
  ASSERT_TRUE(PumpUntil([&] { return relief.Model().Status() == SectionStatus::Running; }));
  ASSERT_TRUE(PumpUntil([&] { return frame.Footer().Shown().fractionKnown; }));
  EXPECT_TRUE(relief.IsBlinking());
  EXPECT_FALSE(frame.Flow().Header(FlowStep::Simplify).IsBlinking());
  EXPECT_EQ(FooterLineText(frame.Footer().Shown()), L"Displacing the surface  40%");

  const wxPoint dot = Centre(relief.Parts().dot);
  ASSERT_TRUE(PumpUntil([&] { return relief.Model().BlinkPhase(); }));
  PumpFor(std::chrono::milliseconds(30));
  const wxImage ring = Shoot(&relief, "workflow_running_relief_ring.png");
  ASSERT_TRUE(PumpUntil([&] { return !relief.Model().BlinkPhase(); }));
  PumpFor(std::chrono::milliseconds(30));
  const wxImage filled = Shoot(&relief, "workflow_running_relief_filled.png");
  EXPECT_EQ(PixelAt(ring, dot.x, dot.y), wxColour(230, 234, 240));
  EXPECT_EQ(PixelAt(filled, dot.x, dot.y), wxColour(58, 123, 213));

  Shoot(&frame.Pane(), "workflow_running.png");
  const wxImage footer = Shoot(&frame.Footer(), "workflow_running_footer.png");
  const PixelRect button = frame.Footer().Parts().button;
  const int fill = FooterProgressWidth(frame.Footer().Shown(), button.Width());
  EXPECT_EQ(fill, static_cast<int>(button.Width() * 0.4f));
  EXPECT_EQ(PixelAt(footer, button.left + 2, button.top + 2), wxColour(240, 120, 108));
  EXPECT_EQ(PixelAt(footer, button.right - 3, button.top + 2), wxColour(224, 72, 60));

  Click(&frame.Footer(), button.left + 10, button.top + 10);
  EXPECT_EQ(frame.commands, std::vector<int>{32836});

  f.doc->pipeline.Cancel();
  ASSERT_TRUE(PumpUntil([&] { return f.doc->PollPipeline(); }, std::chrono::milliseconds(10000)));
  ASSERT_TRUE(PumpUntil([&] { return frame.Footer().Shown().state == FooterState::ReadyToProcess; }));
  EXPECT_FALSE(relief.IsBlinking());
  EXPECT_EQ(relief.Model().Status(), SectionStatus::Pending);
  Shoot(&frame.Pane(), "workflow_stopped.png");
}

// The Relief box turns both stages off, closes the section (saved in the profile) and greys
// the dot; a gear sends its step's command.
TEST(WorkflowPaneX11, HeaderClicksReachTheDocumentAndTheFrame) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  MemoryProfileStore profile;
  PaneFrame frame(f.doc.get(), &profile);
  CSectionHeader& relief = frame.Flow().Header(FlowStep::Relief);
  const wxPoint box = Centre(relief.Parts().box);
  Click(&relief, box.x, box.y);
  EXPECT_FALSE(f.doc->displacementOn);
  EXPECT_FALSE(f.doc->remeshOn);
  EXPECT_TRUE(relief.Model().IsCollapsed());
  EXPECT_EQ(relief.Model().Status(), SectionStatus::Inactive);
  EXPECT_EQ(profile.ReadInt(L"Workflow", L"Collapsed2", 0), 4);
  EXPECT_FALSE(frame.Flow().Body(FlowStep::Relief).IsShown());
  EXPECT_EQ(frame.Flow().ContentHeight(), 3 * 76 + 40);
  PumpFor(std::chrono::milliseconds(50));
  const wxImage shot = Shoot(&frame.Pane(), "workflow_relief_off.png");
  const wxImage header = Shoot(&relief, "workflow_relief_off_header.png");
  const PixelRect boxRect = relief.Parts().box;
  EXPECT_EQ(PixelAt(header, boxRect.left + 2, boxRect.top + 2), wxColour(255, 255, 255));

  CSectionHeader& texture = frame.Flow().Header(FlowStep::Texture);
  const wxPoint gear = Centre(texture.Parts().gear);
  Click(&texture, gear.x, gear.y);
  EXPECT_EQ(frame.commands, std::vector<int>{32821});

  // Ctrl on a chevron keeps that section open and closes every other one.
  CSectionHeader& simplify = frame.Flow().Header(FlowStep::Simplify);
  const wxPoint chevron = Centre(simplify.Parts().chevron);
  wxMouseEvent ctrlClick(wxEVT_LEFT_DOWN);
  ctrlClick.SetPosition(chevron);
  ctrlClick.SetControlDown(true);
  simplify.GetEventHandler()->ProcessEvent(ctrlClick);
  EXPECT_EQ(frame.Flow().CollapsedMask(), 7);
  EXPECT_EQ(profile.ReadInt(L"Workflow", L"Collapsed2", 0), 7);
  EXPECT_FALSE(simplify.Model().IsCollapsed());
  EXPECT_TRUE(frame.Flow().Header(FlowStep::Mapping).Model().IsCollapsed());
  EXPECT_TRUE(frame.Flow().Body(FlowStep::Simplify).IsShown());
  EXPECT_EQ(frame.Flow().ContentHeight(), 4 * 40 + 36);

  // A new pane on the same profile opens with the same sections closed.
  PaneFrame again(f.doc.get(), &profile);
  EXPECT_EQ(again.Flow().CollapsedMask(), 7);
  EXPECT_TRUE(again.Flow().Header(FlowStep::Relief).Model().IsCollapsed());
}

// In a short pane the column scrolls with its own bar; closing sections while scrolled to the
// bottom leaves no empty space, and once everything fits the bar goes away.
TEST(WorkflowPaneX11, AShortPaneScrollsAndClampsWhenSectionsClose) {
  MemoryProfileStore profile;
  PaneFrame frame(nullptr, &profile, 260);
  CFlowWnd& flow = frame.Flow();
  // Without a document Relief and Simplify are switched off, which closed them; open all.
  EXPECT_EQ(flow.CollapsedMask(), 0b1100);
  flow.SetCollapsedMask(0);
  const int view = flow.GetClientSize().y;
  ASSERT_GT(view, 4 * 40);
  ASSERT_LT(view, 4 * 76);
  EXPECT_TRUE(flow.ScrollBar()->IsShown());
  EXPECT_EQ(flow.Header(FlowStep::Mapping).GetSize().x, flow.GetClientSize().x - flow.ScrollBar()->GetSize().x);

  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.m_wheelRotation = -120;
  wheel.m_wheelDelta = 120;
  wheel.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
  flow.Header(FlowStep::Texture).GetEventHandler()->ProcessEvent(wheel);
  EXPECT_EQ(flow.ScrollPosition(), std::min(72, 4 * 76 - view));
  EXPECT_EQ(flow.ScrollBar()->GetThumbPosition(), flow.ScrollPosition());
  EXPECT_EQ(flow.ScrollBar()->GetRange(), 4 * 76);
  PumpFor(std::chrono::milliseconds(100));
  Shoot(&frame.Pane(), "workflow_scrolled.png");

  flow.ScrollFlowTo(100000);
  EXPECT_EQ(flow.ScrollPosition(), 4 * 76 - view);
  flow.SetSectionCollapsed(FlowStep::Texture, true);
  EXPECT_EQ(flow.ScrollPosition(), 3 * 76 + 40 - view);
  EXPECT_EQ(flow.Body(FlowStep::Simplify).GetRect().GetBottom() + 1, view);

  flow.SetCollapsedMask(15);
  EXPECT_EQ(flow.ContentHeight(), 160);
  EXPECT_EQ(flow.ScrollPosition(), 0);
  EXPECT_FALSE(flow.ScrollBar()->IsShown());
  EXPECT_EQ(flow.Header(FlowStep::Simplify).GetPosition().y, 120);
  // Without a document the footer has nothing to do.
  EXPECT_EQ(frame.Footer().Shown(), FooterShown{});
  EXPECT_EQ(flow.Header(FlowStep::Relief).Model().Status(), SectionStatus::Inactive);
  EXPECT_FALSE(flow.Header(FlowStep::Relief).Model().IsSwitchOn());
}

wxMouseEvent WheelOver(wxWindow* window, int rotation) {
  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.SetEventObject(window);
  wheel.m_wheelRotation = rotation;
  wheel.m_wheelDelta = 120;
  wheel.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
  return wheel;
}

// Scrolling the pane with the wheel passes over combo boxes and number fields without changing
// them: the wheel is theirs only once they have the focus. GTK steps a combo box under the
// pointer unless the wheel event is taken before it, which is what a true ProcessEvent means.
// In a pane short enough to scroll (the window at 800 x 600), the bar takes its width from the
// bodies: every control of the Relief section still stands whole inside its body (the third
// Strength button and the direction diagram were cut at the right edge). Screenshot
// workflow_relief_scrolling.png.
TEST(WorkflowPaneX11, ReliefControlsStayWholeBesideTheScrollBar) {
  DocumentFixture f;
  f.WithCube();
  MemoryProfileStore profile;
  for (const int height : {420, 900}) {
    PaneFrame frame(f.doc.get(), &profile, height, SectionBodies::Built);
    CFlowWnd& flow = frame.Flow();
    flow.SetCollapsedMask(0);
    PumpFor(std::chrono::milliseconds(200));
    auto* relief = dynamic_cast<CReliefBody*>(&flow.Body(FlowStep::Relief));
    ASSERT_NE(relief, nullptr);
    for (CSectionBody* body : {static_cast<CSectionBody*>(relief->Remesh()), static_cast<CSectionBody*>(relief->Displacement())}) {
      const wxRect inside(wxPoint(0, 0), body->GetClientSize());
      for (wxWindow* child : body->GetChildren())
        EXPECT_TRUE(inside.Contains(child->GetRect()))
            << height << ": " << child->GetLabel() << " at " << child->GetRect().x << "+" << child->GetRect().width
            << " in " << inside.width;
    }
    const PixelRect diagram = relief->Displacement()->DiagramRect();
    if (!diagram.IsEmpty()) {
      EXPECT_LE(diagram.right, relief->Displacement()->GetClientSize().x) << height;
    }
    if (height == 420) {
      // Mapping and Texture closed, so that Relief is in sight beside the bar.
      flow.SetCollapsedMask(0b11);
      PumpFor(std::chrono::milliseconds(200));
      Shoot(&flow, "workflow_relief_scrolling.png");
    }
  }
}

TEST(WorkflowPaneX11, TheWheelOverAnUnfocusedControlScrollsThePaneAndChangesNothing) {
  DocumentFixture f;
  f.WithCube();
  f.GiveTexture();
  MemoryProfileStore profile;
  PaneFrame frame(f.doc.get(), &profile, 420, SectionBodies::Built);
  CFlowWnd& flow = frame.Flow();
  flow.SetCollapsedMask(0);
  auto* texture = dynamic_cast<CTextureBody*>(&flow.Body(FlowStep::Texture));
  auto* relief = dynamic_cast<CReliefBody*>(&flow.Body(FlowStep::Relief));
  ASSERT_NE(texture, nullptr);
  ASSERT_NE(relief, nullptr);
  ASSERT_GT(flow.ContentHeight(), flow.GetClientSize().y + 400);
  // A control made after the pane, as a body may make one later.
  auto* later = new wxSpinCtrl(&flow.Body(FlowStep::Simplify), wxID_ANY);
  later->SetValue(5);

  const struct {
    const char* name;
    wxWindow* control;
    std::function<wxString()> value;
  } cases[] = {
      {"seams", texture->SeamsChoice(), [&] { return texture->SeamsChoice()->GetStringSelection(); }},
      {"direction", relief->Displacement()->DirectionCombo(),
       [&] { return relief->Displacement()->DirectionCombo()->GetStringSelection(); }},
      {"strength", relief->Displacement()->StrengthEdit(),
       [&] { return relief->Displacement()->StrengthEdit()->GetValue(); }},
      {"triangle size", relief->Remesh()->SizeEdit(), [&] { return relief->Remesh()->SizeEdit()->GetValue(); }},
      {"made later", later, [&] { return wxString::Format("%d", later->GetValue()); }},
  };
  for (const auto& c : cases) {
    flow.ScrollFlowTo(0);
    const wxString before = c.value();
    for (int notch = 1; notch <= 3; ++notch) {
      wxMouseEvent wheel = WheelOver(c.control, -120);
      EXPECT_TRUE(c.control->GetEventHandler()->ProcessEvent(wheel)) << c.name;
      EXPECT_EQ(flow.ScrollPosition(), notch * 72) << c.name;
    }
    EXPECT_EQ(c.value(), before) << c.name;
    wxMouseEvent up = WheelOver(c.control, 120);
    c.control->GetEventHandler()->ProcessEvent(up);
    EXPECT_EQ(flow.ScrollPosition(), 2 * 72) << c.name;
  }

  // A control outside the pane keeps its own wheel.
  auto* outside = new wxChoice(frame.Pane().GetParent(), wxID_ANY);
  wxMouseEvent wheel = WheelOver(outside, -120);
  EXPECT_FALSE(outside->GetEventHandler()->ProcessEvent(wheel));
  outside->Destroy();

  // With the focus the control takes the wheel itself (when the display gives focus at all).
  wxChoice* seams = texture->SeamsChoice();
  seams->Enable();
  seams->SetFocus();
  if (PumpUntil([&] { return wxWindow::FindFocus() == seams; }, std::chrono::milliseconds(500))) {
    flow.ScrollFlowTo(0);
    wxMouseEvent focused = WheelOver(seams, -120);
    EXPECT_FALSE(seams->GetEventHandler()->ProcessEvent(focused));
    EXPECT_EQ(flow.ScrollPosition(), 0);
  }
  flow.ScrollFlowTo(3 * 72);
  PumpFor(std::chrono::milliseconds(200));
  Shoot(&frame.Pane(), "workflow_wheel_scrolled.png");
}

// A DPI change reaches the headers, the bodies and the footer through the pane.
TEST(WorkflowPaneX11, ADpiChangeScalesHeadersBodiesAndFooter) {
  DocumentFixture f;
  f.WithCube();
  MemoryProfileStore profile;
  PaneFrame frame(f.doc.get(), &profile, 700);
  frame.Pane().SetDpi(144);
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(frame.Flow().ContentHeight(), 4 * (60 + 54));
  EXPECT_EQ(frame.Flow().Header(FlowStep::Texture).GetPosition().y, 114);
  EXPECT_EQ(frame.Footer().GetSize().y, 96);
  EXPECT_EQ(frame.Footer().Parts().button.Height(), 45);
  frame.Pane().SetDpi(96);
  EXPECT_EQ(frame.Flow().ContentHeight(), 4 * 76);
  EXPECT_EQ(frame.Footer().GetSize().y, 64);
}

}  // namespace
}  // namespace grainforge::app
