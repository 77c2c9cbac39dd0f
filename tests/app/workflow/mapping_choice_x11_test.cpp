// The Mapping section's projection-kind buttons in the running program: after Plane is clicked and
// the part changes (another STL file, a test shape, undo, New, a project), exactly the kind the
// document holds looks chosen. The pointer leaves the bar while a menu or a file dialog holds it,
// so the bar never hears of the leave; the hover of the clicked button must not stay behind
// looking like a second choice. A screenshot of the section is saved for a person to look at.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "app/document/grainforge_doc.h"
#include "app/shell/application_core.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/left_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/scripted_prompter.h"
#include "app/view/grainforge_view.h"
#include "app/workflow/flow_wnd.h"
#include "app/workflow/mapping_body.h"
#include "app/workflow/workflow_pane.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/app/workflow/running_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

constexpr int kBox = 0;
constexpr int kPlane = 1;
constexpr int kNone = -1;

class Program : public RunningProgram {
public:
  using RunningProgram::RunningProgram;

  CMappingBody& Mapping() {
    auto* left = dynamic_cast<CLeftPane*>(core.Frame()->LeftPane());
    return dynamic_cast<CMappingBody&>(WorkflowWindowOf(*left)->Body(FlowStep::Mapping));
  }
  CToolbarHostWnd& Kinds() { return *Mapping().TypeRow(); }

  // Plane as a person clicks it: the pointer comes onto the button, presses and lets go.
  void ClickPlane() {
    // The bar learns on its next update pass that a part is there to map.
    PumpUntil([&] { return Kinds().Model().Buttons()[kPlane].enabled; });
    const PixelRect& r = Kinds().Model().Buttons()[kPlane].rect;
    const wxPoint at((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    for (const wxEventType type : {wxEVT_MOTION, wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}) {
      wxMouseEvent event(type);
      event.SetPosition(at);
      event.SetEventObject(&Kinds());
      Kinds().GetEventHandler()->ProcessEvent(event);
    }
  }

  // The buttons that look chosen (a fill of their own), in order.
  std::vector<int> LookChosen() {
    const ToolbarModel& model = Kinds().Model();
    std::vector<int> chosen;
    for (int i = 0; i < static_cast<int>(model.Buttons().size()); ++i) {
      const ButtonLook look = ButtonLookFor(model.Buttons()[i], i == model.HotIndex(),
                                            i == model.PressedIndex(), Kinds().Colors());
      if (look.fill != Kinds().Colors().background) chosen.push_back(i);
    }
    return chosen;
  }

};

std::vector<int> Only(int index) { return index < 0 ? std::vector<int>{} : std::vector<int>{index}; }

TEST(MappingKindChoiceX11, OneKindLooksChosenAfterThePartChanges) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path part = folder.Path() / "bracket.stl";
  const std::filesystem::path project = folder.Path() / "bracket.gfproj";
  ASSERT_TRUE(mesh::WriteStlFile(part, mesh::MakeTestCube(20.0f), mesh::StlWriteOptions{}).ok);
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  // The pointer rests on the 3D view, away from the section, as it does once a dialog is shut.
  wxWindow* view = program.core.Frame()->CentreView();
  view->WarpPointer(view->GetClientSize().x / 2, view->GetClientSize().y / 2);

  program.prompter.ExpectFile(part);
  program.Command(menu_ids::kOpenStl);
  ASSERT_TRUE(program.Document().HasPart());
  program.ClickPlane();
  ASSERT_EQ(program.Document().projection.type, mesh::ProjectionKind::Plane);
  program.prompter.ExpectFile(project);
  program.Command(menu_ids::kSaveProjectAs);

  struct Case {
    const char* name;
    std::function<void()> change;
    int kind;      // the kind checked afterwards
    int looks;     // the one button that looks chosen, kNone when the row is disabled
  };
  const Case cases[] = {
      {"another STL file", [&] { program.prompter.ExpectFile(part); program.Command(menu_ids::kOpenStl); }, kBox, kBox},
      {"test cylinder", [&] { program.Command(menu_ids::kTestCylinder); }, kBox, kBox},
      {"test cube", [&] { program.Command(menu_ids::kTestCube); }, kBox, kBox},
      {"undo", [&] { program.Command(menu_ids::kUndo); }, kBox, kBox},
      {"new", [&] { program.Command(menu_ids::kNew); }, kBox, kNone},
      {"the project", [&] { program.prompter.ExpectFile(project); program.Command(menu_ids::kOpenProject); }, kPlane, kPlane},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!program.Document().HasPart()) program.Command(menu_ids::kTestCube);
    program.ClickPlane();
    ASSERT_EQ(program.Document().projection.type, mesh::ProjectionKind::Plane);
    // The save question before a change is not what this is about.
    program.Document().SetModifiedFlag(false);
    c.change();
    ASSERT_EQ(static_cast<int>(program.Document().projection.type), c.kind);
    // No hover is left over either, to light up again once the row is enabled.
    EXPECT_TRUE(PumpUntil([&] {
      return program.LookChosen() == Only(c.looks) && program.Kinds().Model().HotIndex() == -1;
    })) << "buttons that look chosen: " << ::testing::PrintToString(program.LookChosen())
        << ", hovered: " << program.Kinds().Model().HotIndex();
  }
  EXPECT_EQ(program.prompter.UnexpectedQuestions(), 0);

  program.prompter.ExpectFile(part);
  program.Command(menu_ids::kOpenStl);
  ASSERT_TRUE(PumpUntil([&] { return program.LookChosen() == Only(kBox); }));
  PumpFor(150ms);
  WindowShot::Save(&program.Mapping(), (std::filesystem::current_path() / "mapping_kind_after_open.png").string());
}

TEST(MappingKindChoiceX11, TheHoverStaysWhileThePointerIsReallyOnTheButton) {
  grainforge::test::TempFolder folder;
  Program program(folder.Path());
  ASSERT_TRUE(program.started);
  program.Command(menu_ids::kTestCube);
  const PixelRect r = program.Kinds().Model().Buttons()[kPlane].rect;
  program.Kinds().WarpPointer((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  program.ClickPlane();
  program.Document().SetModifiedFlag(false);
  program.Command(menu_ids::kTestCylinder);
  // Several update passes go by; the hover under the pointer is no stale one.
  PumpFor(400ms);
  EXPECT_EQ(program.Kinds().Model().HotIndex(), kPlane);
  EXPECT_EQ(program.LookChosen(), (std::vector<int>{kBox, kPlane}));
}

}  // namespace
}  // namespace grainforge::app
