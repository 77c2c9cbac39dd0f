// The view's texts and panes in the running program: a reduced copy of the sliced preview is
// named as such and leaves with that view, the mask panel is docked beside the 3D view and
// stays until closed, and the status bar holds its texts whole. Screenshots (view_*.png) are
// written beside the test program for people to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include <wx/scrolwin.h>
#include <wx/stattext.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/renderer.h>
#include <wx/image.h>
#include <wx/statusbr.h>

#include "app/document/log_text.h"
#include "app/shell/info_pane.h"
#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/workflow/mask_panel.h"
#include "app/view/renderer/camera.h"
#include "app/view/viewport_window.h"
#include "engine/mesh/test_shapes.h"
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

// A box of the given corners, made from the test cube.
mesh::TriangleMesh Box(mesh::Vec3 low, mesh::Vec3 high) {
  mesh::TriangleMesh box = mesh::MakeTestCube(1.0f);
  for (mesh::MeshVertex& v : box.vertices)
    v.position = {low.x + (v.position.x + 0.5f) * (high.x - low.x), low.y + (v.position.y + 0.5f) * (high.y - low.y),
                  low.z + (v.position.z + 0.5f) * (high.z - low.z)};
  box.ComputeBounds();
  return box;
}

// How far the part's box reaches in the view's picture, as a share of its half width and half
// height (1 at the edges).
float ReachInPicture(CGrainforgeView& view) {
  const gl::GlRenderer& renderer = view.Viewport()->Renderer();
  const gl::Matrix4 mvp = gl::ViewProjectionMatrix(renderer.CameraState(), renderer.Bounds(), renderer.view.width,
                                                   renderer.view.height, renderer.view.orthographic != 0);
  const mesh::Vec3 centre = renderer.Bounds().centre;
  const float r = renderer.Bounds().radius / std::sqrt(3.0f);  // half the edge of the part's cube
  float reach = 0.0f;
  for (int corner = 0; corner < 8; ++corner) {
    const mesh::Vec3 p{centre.x + ((corner & 1) ? r : -r), centre.y + ((corner & 2) ? r : -r),
                       centre.z + ((corner & 4) ? r : -r)};
    const float x = mvp[0] * p.x + mvp[4] * p.y + mvp[8] * p.z + mvp[12];
    const float y = mvp[1] * p.x + mvp[5] * p.y + mvp[9] * p.z + mvp[13];
    const float w = mvp[3] * p.x + mvp[7] * p.y + mvp[11] * p.z + mvp[15];
    reach = std::max({reach, std::abs(x / w), std::abs(y / w)});
  }
  return reach;
}

// In a window narrower than the part is tall in the view (800 x 600, the view then taller than
// wide), Home shows the whole 100 mm cube: the fit takes the narrower angle. A screenshot
// (view_home_800x600.png) is left beside the test program.
TEST(ProgramView, HomeShowsTheWholePartInANarrowWindow) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  program.Frame().SetSize(40, 40, 800, 600);
  PumpFor(300ms);
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  program.Document().InstallGeneratedPart(Box({-50, -50, 0}, {50, 50, 100}), "Cube", L"Cube", "A 100 mm cube.");
  PumpFor(300ms);
  program.Command(menu_ids::kResetFit);
  const gl::RenderViewState& view = program.View().Viewport()->Renderer().view;
  EXPECT_LT(view.width, view.height) << "the view is narrower than tall at this window size";
  const float reach = ReachInPicture(program.View());
  EXPECT_LT(reach, 1.0f);
  EXPECT_GT(reach, 0.5f);
  program.Shot("home_800x600");
  EXPECT_TRUE(program.View().Viewport()->CaptureFrame().SaveFile(
      wxString((std::filesystem::current_path() / "view_home_800x600_view.png").string()), wxBITMAP_TYPE_PNG));
}

// A slab reaching far past its pillar is laid in the air. Check Printability switches to the
// sliced view and colours the slab's underside there: the places the banner counts can be
// found. A screenshot (view_sliced_print_check.png) is left beside the test program.
TEST(ProgramView, TheSlicedPrintCheckColoursThePlacesItCounts) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  ASSERT_TRUE(PumpUntil([&] { return program.View().RendererReady(); }, 5000ms));
  mesh::TriangleMesh part = Box({0, 0, 0}, {10, 10, 20});
  const mesh::TriangleMesh slab = Box({-20, -20, 20}, {30, 30, 24});
  const auto offset = static_cast<std::uint32_t>(part.vertices.size());
  part.vertices.insert(part.vertices.end(), slab.vertices.begin(), slab.vertices.end());
  for (const std::uint32_t index : slab.indices) part.indices.push_back(index + offset);
  part.ComputeBounds();
  program.Document().InstallGeneratedPart(std::move(part), "Slab", L"Slab", "A slab on a pillar.");
  PumpFor(200ms);
  program.Command(32854);  // Check Printability
  PumpFor(300ms);
  const mesh::PrintabilityReport& report = program.Document().printCheckReport;
  ASSERT_TRUE(report.checked);
  ASSERT_FALSE(report.airPlaces.empty() && report.featuresInAir.empty());
  EXPECT_NE(program.Information().find(L"support needed"), std::wstring::npos) << program.Information();
  EXPECT_FALSE(report.supportTriangles.empty());
  EXPECT_FALSE(report.supportKeys.empty());
  program.Shot("sliced_print_check");
  EXPECT_TRUE(program.View().Viewport()->CaptureFrame().SaveFile(
      wxString((std::filesystem::current_path() / "view_sliced_print_check_view.png").string()), wxBITMAP_TYPE_PNG));
}

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
  // Below the check's warning, which still holds and leads.
  const std::wstring warning = program.Information().substr(0, program.Information().find(L"\n\n"));
  EXPECT_NE(warning.find(L"support needed"), std::wstring::npos) << program.Information();
  EXPECT_EQ(program.Information().rfind(warning + L"\n\n" + preview, 0), 0u) << program.Information();
  program.Shot("sliced_reduced");
  program.Command(32856);
  EXPECT_EQ(program.Information(), warning);
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

// The fault: at 800 x 600 the docked panel took the view's whole width (the part vanished) and
// was cut itself, its Z fields out of reach, and the start hint lost its end. The view keeps half
// its width, every field of the panel can be scrolled to, Home fits the part to the view's width
// as it is then, and the hint wraps.
TEST(ProgramView, TheMaskPanelLeavesTheViewRoomAndEveryFieldInReach) {
  for (const wxSize window : {wxSize(800, 600), wxSize(1600, 1000)}) {
    const std::string name = std::to_string(window.x) + "x" + std::to_string(window.y);
    ViewProgram program;
    ASSERT_TRUE(program.started);
    program.Frame().SetSize(wxRect(wxPoint(0, 0), window));
    PumpFor(100ms);
    CGrainforgeView& view = program.View();
    // The start hint wraps in a narrow view instead of ending at "File > Open STL (Ctrl+".
    const wxWindow& hint = *view.StartHint();
    wxClientDC dc(const_cast<wxWindow*>(&hint));
    dc.SetFont(hint.GetFont());
    const bool oneLine = dc.GetTextExtent(hint.GetLabel()).x + 16 <= hint.GetSize().x;
    EXPECT_EQ(hint.GetSize().y > 2 * dc.GetCharHeight(), !oneLine) << name;
    program.Shot("start_hint_" + name);
    program.Command(menu_ids::kTestCube);
    ASSERT_TRUE(PumpUntil([&] { return view.RendererReady(); }, 5000ms));
    program.Command(32901);  // Masks > Add Box
    ASSERT_TRUE(view.MaskPanel() != nullptr && PumpUntil([&] { return view.MaskPanel()->IsShown(); }));
    program.Command(menu_ids::kResetFit);
    const wxSize viewport = view.Viewport()->GetClientSize();
    // The side panes give way so that the view keeps a third of the frame (it kept 220 of 800
    // px, and the part beside the panel about 90); at 1600 x 1000 they keep 340 and 240 px.
    const int frameWidth = program.Frame().GetClientSize().x;
    EXPECT_GE(view.GetSize().x, frameWidth / 3) << name;
    if (window.x == 1600) {
      EXPECT_EQ(program.Frame().LeftPane()->GetSize().x, 340) << name;
      EXPECT_EQ(view.GetSize().x, frameWidth - 340 - 240) << name;
    }
    // Half, or all but the panel's least width where half leaves its fields no room beside the
    // bar the panel scrolls with (a bar that stands beside the fields, not over them).
    const int client = view.GetClientSize().x;
    EXPECT_GE(viewport.x, std::min(client / 2, client - view.MaskPanel()->LeastWidth())) << name;
    EXPECT_LE(view.MaskPanel()->LeastWidth(), view.MaskPanel()->GetSize().x) << name;
    EXPECT_EQ(view.Viewport()->Renderer().view.width, viewport.x) << name << ": the fit's width";
    const auto* body = dynamic_cast<const wxScrolledWindow*>(view.MaskPanel()->Field(0)->GetParent()->GetParent());
    ASSERT_NE(body, nullptr) << name;
    const wxPoint origin = body->GetScreenPosition() + body->CalcScrolledPosition(wxPoint(0, 0));
    // Reached by scrolling down alone: nothing lies beside the body's width, every field whole
    // across it.
    EXPECT_LE(body->GetVirtualSize().x, body->GetClientSize().x) << name;
    for (int i = 0; i < kMaskFieldCount; ++i) {
      const wxRect field = view.MaskPanel()->Field(i)->GetScreenRect();
      EXPECT_TRUE(wxRect(wxPoint(0, 0), body->GetVirtualSize()).Contains(wxRect(field.GetPosition() - origin, field.GetSize())))
          << name << " field " << i;
      EXPECT_LE(field.GetRight() - body->GetScreenPosition().x, body->GetClientSize().x) << name << " field " << i;
      EXPECT_GE(field.GetLeft(), body->GetScreenPosition().x) << name << " field " << i;
    }
    // The caption's title gives way on a narrow strip; Close stays whole (it was cut at the edge).
    const wxRect panel = view.MaskPanel()->GetScreenRect();
    EXPECT_TRUE(panel.Contains(view.MaskPanel()->CloseButton()->GetScreenRect())) << name;
    // The title whole, every line of it, beside Close (it read "Mask ..." at 800 x 600).
    const wxStaticText& title = *view.MaskPanel()->Title();
    wxString whole = title.GetLabel();
    whole.Replace(wxS("\n"), wxS(" "));
    EXPECT_EQ(whole, wxS("Mask Volumes")) << name;
    for (const wxString& line : wxSplit(title.GetLabel(), '\n', '\0'))
      EXPECT_LE(title.GetTextExtent(line).x, title.GetSize().x) << name << ": " << line;
    EXPECT_LE(title.GetScreenRect().GetRight(), view.MaskPanel()->CloseButton()->GetScreenPosition().x) << name;
    EXPECT_EQ(title.GetLabel().Find('\n') != wxNOT_FOUND, window.x == 800) << name << ": one line where it fits";
    // The list's headings and names whole in their columns (they read "Volu Sh" and "B"): a bar
    // across where the columns are wider than the list.
    wxListCtrl& list = *view.MaskPanel()->List();
    ASSERT_EQ(list.GetItemCount(), 1) << name;
    int columns = 0;
    for (int column = 0; column < 2; ++column) {
      wxListItem heading;
      heading.SetMask(wxLIST_MASK_TEXT);
      list.GetColumn(column, heading);
      const int box = column == 0 ? wxRendererNative::Get().GetCheckBoxSize(&list).x : 0;
      for (const wxString& text : {heading.GetText(), list.GetItemText(0, column)})
        EXPECT_GT(list.GetColumnWidth(column), box + list.GetTextExtent(text).x) << name << ": " << text;
      columns += list.GetColumnWidth(column);
    }
    if (columns > list.GetClientSize().x) {
      EXPECT_GT(list.GetScrollRange(wxHORIZONTAL), list.GetScrollThumb(wxHORIZONTAL)) << name;
    }
    EXPECT_EQ(columns > list.GetClientSize().x, window.x == 800) << name << ": the 62/38 split where it fits";
    // The "Chosen volume" frame stands as far off the body's sides as the list (it sat against
    // them at 800 x 600), and is as wide as its title (cut at both ends there).
    const wxWindow& group = *view.MaskPanel()->Field(0)->GetParent();
    const wxRect frame = group.GetScreenRect();
    const int bodyLeft = body->GetScreenPosition().x;
    const int bodyRight = bodyLeft + body->GetClientSize().x;
    const int listMargin = bodyRight - (list.GetScreenRect().x + list.GetScreenRect().width);
    EXPECT_NEAR(bodyRight - (frame.x + frame.width), listMargin, 1) << name;
    EXPECT_GE(frame.x - bodyLeft, listMargin - 1) << name;
    EXPECT_GE(frame.width, group.GetTextExtent(group.GetLabel()).x) << name;
    // The view cube never stands over the part: at 1600 x 1000 it is drawn whole at its size; at
    // 800 x 600 the view beside the panel has room for it only at a smaller size, or none.
    PumpFor(200ms);
    const gl::GlRenderer& renderer = view.Viewport()->Renderer();
    if (window.x == 1600) {
      EXPECT_GT(renderer.ViewCubeVertexCount(), 0u) << name;
      EXPECT_EQ(renderer.ViewCubeLayoutNow().scale, renderer.view.dpiScale) << name;
    }
    program.Shot("mask_panel_docked_" + name);
    // "abc" left in Position X is refused in sight, right under the field, as the focus leaves
    // (the refusal lay under the last field, below the fold at 800 x 600, until Process).
    CMaskPanel& masks = *view.MaskPanel();
    masks.Field(0)->SetFocus();
    masks.Field(0)->ChangeValue(wxS("abc"));
    masks.List()->SetFocus();
    PumpFor(50ms);
    (void)masks.ApplyVolumeFields(masks.List());
    PumpFor(100ms);
    const wxRect note = masks.FieldNote()->GetScreenRect();
    const wxRect seen(body->GetScreenPosition(), body->GetClientSize());
    EXPECT_TRUE(seen.Contains(note)) << name;
    EXPECT_TRUE(seen.Contains(masks.Field(0)->GetScreenRect())) << name;
    EXPECT_NE(masks.FieldNote()->GetLabel().Find(wxS("Position X")), wxNOT_FOUND) << name;
    // Save Project stopped by it says so there, whole, every line in sight (at 1600 x 1000 the
    // words after the refusal fell below the note: "The project").
    masks.SayRefusedEntry(L"Position X must be a number from -10000 to 10000 mm.\n\nThe project was not saved, so "
                          L"that it does not keep a value other than the one shown.");
    PumpFor(100ms);
    const wxRect said = masks.FieldNote()->GetScreenRect();
    EXPECT_TRUE(seen.Contains(said)) << name;
    wxClientDC noteDc(masks.FieldNote());
    noteDc.SetFont(masks.FieldNote()->GetFont());
    EXPECT_GE(said.height, noteDc.GetMultiLineTextExtent(masks.FieldNote()->GetLabel()).y) << name;
    wxString joined = masks.FieldNote()->GetLabel();  // as read, the lines it wraps to joined
    joined.Replace(wxS("\n"), wxS(" "));
    EXPECT_NE(joined.Find(wxS("value other than the one shown.")), wxNOT_FOUND) << name;
    program.Shot("mask_panel_refused_" + name);
  }
}

// At 800 x 600 a long warning and a note under it are read whole: the information box wraps
// them and scrolls to what it cannot show at once, each message in its own colours (the note
// green under the amber warning). Screenshots view_information_800x600_top.png and _end.png.
TEST(ProgramView, TheInformationBoxShowsALongWarningAndItsNoteWhole) {
  ViewProgram program;
  ASSERT_TRUE(program.started);
  program.Frame().SetSize(wxRect(wxPoint(0, 0), wxSize(800, 600)));
  program.Command(menu_ids::kTestCube);
  PumpFor(200ms);
  std::wstring warning = L"The relief needs support.\n148 places are laid in the air.";
  for (int i = 0; i < 6; ++i)
    warning += L"\nEnable support in the slicer, or move the texture or displace less and Process again.";
  warning += L"\nMesh > Check Printability shows where.";
  program.Document().ShowInformation(warning, kInfoWarning, InfoEvent::run);
  program.Document().ShowInformation(L"Shown as a reduced copy of 2,000,000 triangles.", kInfoOk);
  PumpFor(200ms);
  CInfoBox& box = *program.Frame().RightPane()->Dialog()->InfoBox();
  const InfoContent content = box.Content();
  ASSERT_EQ(content.bands.size(), 2u);
  for (const InfoBand& band : content.bands)
    for (const std::wstring& row : band.rows) EXPECT_EQ(row.find(L"\u2026"), std::wstring::npos) << "a row cut";
  // Taller than the box, which scrolls down only.
  EXPECT_GT(content.height, box.GetClientSize().y);
  EXPECT_EQ(box.GetVirtualSize().y, content.height);
  EXPECT_LE(box.GetVirtualSize().x, box.GetClientSize().x);
  program.Shot("information_800x600_top");
  box.Scroll(0, content.height);
  program.Shot("information_800x600_end");
  // Scrolled to the end, the note shows, green under the amber warning.
  const std::filesystem::path boxShot = std::filesystem::current_path() / "view_information_box.png";
  ASSERT_TRUE(tessary::test::WindowShot::Save(&box, boxShot.string()));
  const wxImage shot(wxString(boxShot.string()), wxBITMAP_TYPE_PNG);
  const wxPoint note(2, box.CalcScrolledPosition(wxPoint(0, content.bands[1].top)).y + 2);
  ASSERT_TRUE(shot.IsOk() && note.y >= 0 && note.y < shot.GetHeight()) << note.y;
  EXPECT_EQ(wxColour(shot.GetRed(note.x, note.y), shot.GetGreen(note.x, note.y), shot.GetBlue(note.x, note.y)),
            wxColour(226, 244, 224));
}

// The fault: at 1600 x 1000 the support warning of a run was cut after "Mesh > Check", its last
// row under the box's foot with no bar to say so. At both sizes every row of a warning, alone or
// with a note under it, lies within the box or within its scrolled reach, with the bar beside it.
TEST(ProgramView, TheInformationBoxHoldsEveryRowOfAWarningAtBothSizes) {
  const std::wstring support =
      L"The relief needs support.\n35 places are laid in the air.\nEnable support in the slicer, or move the "
      L"texture or displace less and Process again. Mesh > Check Printability shows where.";
  for (const wxSize window : {wxSize(800, 600), wxSize(1600, 1000)}) {
    const std::string name = std::to_string(window.x) + "x" + std::to_string(window.y);
    ViewProgram program;
    ASSERT_TRUE(program.started);
    program.Frame().SetSize(wxRect(wxPoint(0, 0), window));
    program.Command(menu_ids::kTestCube);
    PumpFor(200ms);
    CInfoBox& box = *program.Frame().RightPane()->Dialog()->InfoBox();
    EXPECT_FALSE(ScrollBarsOverlayContents(box.GetHandle())) << name;
    EXPECT_FALSE(ScrollBarsOverlayContents(program.Frame().RightPane()->Dialog()->ReportBox()->GetHandle())) << name;
    std::wstring advised = support + L"\n";
    for (int i = 0; i < 12; ++i) advised += L"\nA wall is thinner than the nozzle here; the slicer may leave it out.";
    for (const bool withNote : {false, true}) {
      program.Document().ShowInformation(withNote ? advised : support, kInfoWarning, InfoEvent::run);
      if (withNote) program.Document().ShowInformation(L"Shown as a reduced copy of 2,000,000 triangles.", kInfoOk);
      PumpFor(200ms);
      const InfoContent content = box.Content();
      ASSERT_FALSE(content.bands.empty()) << name;
      const int reach = std::max(box.GetClientSize().y, box.GetVirtualSize().y);
      EXPECT_LE(content.height, reach) << name << (withNote ? " with a note" : "") << ": rows past the box's foot";
      if (content.height > box.GetClientSize().y) {
        EXPECT_LT(box.GetClientSize().x, box.GetSize().x) << name << ": the box's bar";
      }
      program.Shot("information_support_" + name + (withNote ? "_note" : ""));
    }
  }
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
