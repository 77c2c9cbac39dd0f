#include "app/shell/info_pane.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>

#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::WindowShot;

class InfoPaneFrame {
public:
  InfoPaneFrame() {
    frame_ = new wxFrame(nullptr, wxID_ANY, wxS("Information"), wxPoint(40, 40), wxDefaultSize);
    pane_ = new CRightPane(frame_);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->SetClientSize(CRightPane::kDesignWidth, 600);
    frame_->Show();
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(150));
  }
  ~InfoPaneFrame() {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  CRightPane& Pane() { return *pane_; }

private:
  wxFrame* frame_ = nullptr;
  CRightPane* pane_ = nullptr;
};

wxImage Shoot(wxWindow* window, const char* name) {
  const std::filesystem::path path = std::filesystem::current_path() / name;
  EXPECT_TRUE(WindowShot::Save(window, path.string()));
  std::printf("screenshot: %s\n", path.c_str());
  wxImage image;
  image.LoadFile(wxString(path.native()), wxBITMAP_TYPE_PNG);
  return image;
}

wxColour PixelAt(const wxImage& image, wxPoint at) {
  return wxColour(image.GetRed(at.x, at.y), image.GetGreen(at.x, at.y), image.GetBlue(at.x, at.y));
}

TEST(InfoPaneX11, AOneLineWarningShowsAnAmberBoxAtTheBottom) {
  InfoPaneFrame window;
  CRightPaneDialog& dialog = *window.Pane().Dialog();
  dialog.SetReportText(L"No mesh loaded.\r\n\r\nUse File > Open STL to load one.");
  const int fullReport = dialog.ReportBox()->GetSize().y;
  dialog.SetInfoText(L"Support recommended", kInfoWarning);
  PumpFor(std::chrono::milliseconds(150));

  const wxSize client = dialog.GetClientSize();
  const wxRect box = dialog.InfoBox()->GetRect();
  const int lineHeight = dialog.InfoBox()->LineHeight();
  EXPECT_TRUE(dialog.InfoBox()->IsShown());
  EXPECT_EQ(box.height, lineHeight + 10);
  EXPECT_EQ(box.GetBottom() + 1, client.y - 4);
  EXPECT_EQ(dialog.ReportBox()->GetSize().y, fullReport - box.height - 4);

  const wxImage shot = Shoot(&dialog, "info_pane_warning.png");
  ASSERT_TRUE(shot.IsOk());
  EXPECT_EQ(PixelAt(shot, box.GetPosition() + wxPoint(2, 2)), wxColour(255, 244, 214));

  // An empty text hides the box and gives the report its full height again.
  dialog.SetInfoText(L"", kInfoWarning);
  EXPECT_FALSE(dialog.InfoBox()->IsShown());
  EXPECT_EQ(dialog.ReportBox()->GetSize().y, fullReport);
}

TEST(InfoPaneX11, EveryKindBeyondWarningIsRedAndLongTextTakesHalfThePane) {
  InfoPaneFrame window;
  CRightPaneDialog& dialog = *window.Pane().Dialog();
  std::wstring forty;
  for (int i = 0; i < 40; ++i) forty += L"Refused: line " + std::to_wstring(i) + L"\n";
  for (int kind : {2, 7, -1}) {
    dialog.SetInfoText(forty, kind);
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(dialog.InfoBox()->GetSize().y, dialog.GetClientSize().y / 2);
    const wxImage shot = Shoot(&dialog, "info_pane_error.png");
    EXPECT_EQ(PixelAt(shot, dialog.InfoBox()->GetPosition() + wxPoint(2, 2)), wxColour(253, 226, 226)) << kind;
  }
}

// A message that comes under one already shown is scrolled into sight: a save's "Wrote:" under a
// long warning lay below the box's foot at 800 x 600, and the save seemed to say nothing.
TEST(InfoPaneX11, ANewMessageUnderALongOneIsScrolledIntoSight) {
  InfoPaneFrame window;
  CRightPaneDialog& dialog = *window.Pane().Dialog();
  const struct {
    int warningLines;
    bool scrolls;
  } cases[] = {{40, true}, {1, false}};
  for (const auto& c : cases) {
    std::wstring warning;
    for (int i = 0; i < c.warningLines; ++i) warning += L"Thin wall near line " + std::to_wstring(i) + L"\n";
    dialog.SetInfoMessages({{warning, kInfoWarning}});
    PumpFor(std::chrono::milliseconds(50));
    dialog.SetInfoMessages({{warning, kInfoWarning}, {L"Wrote: hinge_tex.stl", kInfoOk}});
    PumpFor(std::chrono::milliseconds(100));
    CInfoBox& box = *dialog.InfoBox();
    const InfoContent content = box.Content();
    ASSERT_EQ(content.bands.size(), 2u);
    const int top = box.GetViewStart().y * box.LineHeight();
    EXPECT_EQ(top > 0, c.scrolls) << c.warningLines;
    const InfoBand& wrote = content.bands[1];
    EXPECT_GE(wrote.top - top, 0) << c.warningLines;
    EXPECT_LE(wrote.top + wrote.height - top, box.GetClientSize().y) << c.warningLines;
    if (c.scrolls) Shoot(&dialog, "info_pane_new_message_in_sight.png");
    // The same messages again bring nothing new: they show from the top, as before.
    dialog.SetInfoMessages({{warning, kInfoWarning}, {L"Wrote: hinge_tex.stl", kInfoOk}});
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(box.GetViewStart().y, 0) << c.warningLines;
  }
}

TEST(InfoPaneX11, CrLfAndLfTextsTakeTheSameRows) {
  InfoPaneFrame window;
  CRightPaneDialog& dialog = *window.Pane().Dialog();
  dialog.SetInfoText(L"Processed: 812,044 triangles\nrelief 0.6 mm", kInfoOk);
  const int lf = dialog.InfoBox()->GetSize().y;
  dialog.SetInfoText(L"Processed: 812,044 triangles\r\nrelief 0.6 mm", kInfoOk);
  EXPECT_EQ(dialog.InfoBox()->GetSize().y, lf);
  EXPECT_EQ(lf, 2 * dialog.InfoBox()->LineHeight() + 10);
  PumpFor(std::chrono::milliseconds(100));
  Shoot(&dialog, "info_pane_success.png");
}

}  // namespace
}  // namespace grainforge::app
