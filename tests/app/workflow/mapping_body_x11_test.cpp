// The Mapping body in the workflow pane of a real frame on a test cube: it is there in place of
// the placeholder, clicks on the projector list (through the list's own mouse handler) select
// layers and switch projectors in the document, and screenshots of a box and a cylinder
// projection are saved for a person to look at. The frame answers the buttons' state questions
// the way the view's command routing does for the projection kind and axis.
#include "app/workflow/mapping_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_events.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/mapping_picture.h"
#include "app/workflow/projector_list.h"
#include "app/workflow/workflow_pane.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
namespace mesh = grainforge::mesh;
using grainforge::test::DocumentFixture;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

// The kind buttons are checked by the kind and the axis buttons, enabled off a box, by the
// kind's axis; all need a part. Other commands are left unanswered.
std::optional<CommandState> StandInState(const CGrainforgeDoc& doc, std::uint32_t id) {
  const mesh::Projection& p = doc.projection;
  const bool notBox = p.type != mesh::ProjectionKind::Box;
  CommandState state;
  state.enabled = doc.HasPart();
  const std::uint32_t kinds[] = {kCmdProjectionBox, kCmdProjectionPlane, kCmdProjectionCylinder,
                                 kCmdProjectionSphere};
  for (int k = 0; k < 4; ++k) {
    if (id != kinds[k]) continue;
    state.checked = static_cast<int>(p.type) == k;
    return state;
  }
  if (id < kCmdAxisX || id >= kCmdAxisX + 3) return std::nullopt;
  state.enabled = state.enabled && notBox;
  state.checked = notBox && MappingAxis(p) == static_cast<int>(id - kCmdAxisX);
  return state;
}

class MappingFrame {
public:
  explicit MappingFrame(DocumentFixture& f) : doc_(*f.doc) {
    frame_ = new wxFrame(nullptr, wxID_ANY, wxS("Workflow"), wxPoint(20, 20), wxDefaultSize);
    pane_ = CreateWorkflowPane(frame_, f.doc.get(), &profile_);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(pane_, 0, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->SetClientSize(CLeftPane::kDesignWidth, 930);
    frame_->Bind(EVT_TESSARY_COMMAND, [this](wxCommandEvent& event) { commands.push_back(event.GetInt()); });
    frame_->Bind(EVT_TESSARY_COMMAND_QUERY,
                 [this](CommandQueryEvent& event) { event.SetAnswer(StandInState(doc_, event.CommandId())); });
    frame_->Show();
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(200));
  }
  ~MappingFrame() {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  CFlowWnd& Flow() { return *WorkflowWindowOf(*pane_); }
  CMappingBody* Body() { return dynamic_cast<CMappingBody*>(&Flow().Body(FlowStep::Mapping)); }

  std::vector<int> commands;

private:
  CGrainforgeDoc& doc_;
  MemoryProfileStore profile_;
  wxFrame* frame_ = nullptr;
  CLeftPane* pane_ = nullptr;
};

void Press(wxWindow* window, PixelPoint point) {
  wxMouseEvent event(wxEVT_LEFT_DOWN);
  event.SetPosition(wxPoint(point.x, point.y));
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

// The middle of a row's label (or, with onLabel false, of its check box).
PixelPoint RowPart(const CProjectorList& list, int row, bool onLabel = true) {
  const ProjectorRowParts parts = ProjectorRowLayout(list.Client(), list.RowRect(row), list.Dpi());
  const PixelRect& r = onLabel ? parts.label : parts.check;
  return PixelPoint{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void SaveShot(wxWindow* window, const std::string& name) {
  const std::string path = (fs::current_path() / name).string();
  PumpFor(std::chrono::milliseconds(150));
  EXPECT_TRUE(WindowShot::Save(window, path));
  std::printf("screenshot: %s\n", path.c_str());
}

bool Checked(const CToolbarHostWnd& bar, int index) { return bar.Model().Buttons()[index].checked; }

TEST(MappingBodyX11, ListClicksEditTheDocumentAndTheSectionIsShown) {
  DocumentFixture f;
  f.WithCube();
  MappingFrame frame(f);
  CMappingBody* body = frame.Body();
  ASSERT_NE(body, nullptr);
  EXPECT_TRUE(body->IsShownOnScreen());
  EXPECT_EQ(body->GetSize().y, 224);
  CProjectorList& list = *body->List();
  ASSERT_EQ(list.Rows().size(), 6u);
  EXPECT_TRUE(list.Rows()[0].toggleable);
  EXPECT_TRUE(PumpUntil([&] { return Checked(*body->TypeRow(), 0); }));
  EXPECT_FALSE(body->AxisColumn()->Model().Buttons()[2].enabled);  // a box has no axis
  SaveShot(body, "mapping_body_box.png");

  // A label selects the side's layer; the same label again clears it.
  Press(&list, RowPart(list, 2));
  EXPECT_EQ(f.doc->projection.activeLayer, 2);
  EXPECT_EQ(list.Selected(), 2);
  // Selecting a layer is not drawn in the sketch, so it never repaints it.
  EXPECT_EQ(body->Picture()->Projection().activeLayer, -1);
  EXPECT_FALSE(body->Picture()->SetState(f.doc->projection, 2, true));
  Press(&list, RowPart(list, 2));
  EXPECT_EQ(f.doc->projection.activeLayer, -1);
  EXPECT_EQ(list.Selected(), -1);

  // A box side's check box goes to the frame as that side's command.
  Press(&list, RowPart(list, 3, false));
  EXPECT_EQ(frame.commands, (std::vector<int>{32804}));

  // A cylinder's switches are stored by the body; the pane's refresh shows the new rows.
  f.doc->projection.type = mesh::ProjectionKind::Cylinder;
  f.doc->projection.cylinderAxis = 2;
  f.doc->projection.cylinderTopCapEnabled = 0;
  f.doc->projection.cylinderBottomCapEnabled = 1;
  ASSERT_TRUE(PumpUntil([&] { return list.Rows().size() == 3; }));
  EXPECT_EQ(list.Rows()[1].label, L"Top cap (+Z)");
  // Every label shows whole: "Bottom cap (-Z)" lost its end to an ellipsis.
  EXPECT_TRUE(PumpUntil([&] { return list.LeastWidth() <= list.GetClientSize().x; }));
  {
    wxClientDC dc(&list);
    dc.SetFont(GetUiFont(kUiFontNormal, list.Dpi()));
    for (int row = 0; row < 3; ++row) {
      const ProjectorRowParts parts = ProjectorRowLayout(list.Client(), list.RowRect(row), list.Dpi());
      EXPECT_LE(dc.GetTextExtent(wxString(list.Rows()[static_cast<std::size_t>(row)].label)).x, parts.label.Width())
          << list.Rows()[static_cast<std::size_t>(row)].label;
    }
  }
  Press(&list, RowPart(list, 1, false));
  EXPECT_EQ(f.doc->projection.cylinderTopCapEnabled, 1);
  EXPECT_TRUE(list.Rows()[1].enabled);
  Press(&list, RowPart(list, 0, false));
  EXPECT_EQ(f.doc->projection.cylinderSideEnabled, 0);
  EXPECT_TRUE(PumpUntil([&] { return Checked(*body->TypeRow(), 2) && Checked(*body->AxisColumn(), 2); }));
  SaveShot(body, "mapping_body_cylinder.png");
}

TEST(MappingBodyX11, WithoutAPartClicksChangeNothing) {
  DocumentFixture f;
  MappingFrame frame(f);
  CMappingBody* body = frame.Body();
  ASSERT_NE(body, nullptr);
  CProjectorList& list = *body->List();
  ASSERT_EQ(list.Rows().size(), 6u);
  EXPECT_FALSE(body->Picture()->HasPart());
  Press(&list, RowPart(list, 1));
  Press(&list, RowPart(list, 1, false));
  // The body refuses the notifications too, and rows that are not there.
  body->OnProjectorNotify(1, false);
  body->OnProjectorNotify(6, true);
  EXPECT_EQ(f.doc->projection.activeLayer, -1);
  EXPECT_TRUE(frame.commands.empty());
  // A selection past the rows shows none rather than painting a row that is not there.
  list.SetRows(list.Rows(), 2);
  EXPECT_EQ(list.Selected(), 2);
  list.SetRows(list.Rows(), 6);
  EXPECT_EQ(list.Selected(), -1);
  SaveShot(body, "mapping_body_no_part.png");
}

}  // namespace
}  // namespace grainforge::app
