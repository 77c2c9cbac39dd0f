#include "app/workflow/help/markdown_text_ctrl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/document/user_folders.h"
#include "app/workflow/help/help_pages.h"
#include "engine/mesh/report_text.h"
#include "engine/textures/seamless_method.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

// A small settings dialog laid out by a sizer, shown modeless, with the help pane attached the
// way the settings dialogs attach it.
class HelpDialog {
public:
  explicit HelpDialog(const std::wstring& page) {
    dialog_ = new wxDialog(nullptr, wxID_ANY, wxS("Save STL"), wxPoint(40, 40), wxDefaultSize);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    option_ = new wxStaticText(dialog_, wxID_ANY, wxS("Before saving"));
    sizer->Add(option_, 0, wxALL, 8);
    sizer->Add(new wxButton(dialog_, wxID_OK, wxS("Save...")), 0, wxALL, 8);
    dialog_->SetSizer(sizer);
    dialog_->SetClientSize(360, 420);
    widthBefore_ = dialog_->GetClientSize().x;
    pane_ = AttachHelpPane(dialog_, page);
    dialog_->Show();
    PumpFor(std::chrono::milliseconds(200));
  }
  ~HelpDialog() {
    dialog_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  wxDialog& Dialog() { return *dialog_; }
  CMarkdownTextCtrl& Pane() { return *pane_; }
  wxWindow& Option() { return *option_; }
  int WidthBefore() const { return widthBefore_; }

private:
  wxDialog* dialog_ = nullptr;
  CMarkdownTextCtrl* pane_ = nullptr;
  wxWindow* option_ = nullptr;
  int widthBefore_ = 0;
};

// The help pages beside the test program, where the build copies them.
std::wstring ProgramPage(const char* page) {
  const LibraryRoots roots{LibraryRoot{GetExecutableFolder(), false}};
  return LoadHelpPageFrom(roots, page);
}

void Send(wxWindow& window, wxEventType type, wxPoint at, bool leftDown) {
  wxMouseEvent event(type);
  event.SetEventObject(&window);
  event.SetPosition(at);
  event.m_leftDown = leftDown;
  window.GetEventHandler()->ProcessEvent(event);
}

void SendCtrlKey(wxWindow& window, int key) {
  wxKeyEvent event(wxEVT_KEY_DOWN);
  event.SetEventObject(&window);
  event.m_keyCode = key;
  event.m_controlDown = true;
  window.GetEventHandler()->ProcessEvent(event);
}

std::wstring ClipboardText() {
  if (!wxTheClipboard->Open()) return L"<closed>";
  wxTextDataObject data;
  const bool got = wxTheClipboard->GetData(data);
  wxTheClipboard->Close();
  return got ? data.GetText().ToStdWstring() : L"<none>";
}

TEST(HelpPaneX11, ShowsTheProgramsExportPageBesideTheDialog) {
  const std::wstring page = ProgramPage("export");
  ASSERT_EQ(page.rfind(L"# Save STL", 0), 0u) << "the program's help pages are copied beside the tests";
  HelpDialog window(page);
  CMarkdownTextCtrl& pane = window.Pane();
  EXPECT_EQ(pane.GetId(), kHelpPaneId);
  EXPECT_GT(window.Dialog().GetClientSize().x, window.WidthBefore() + 250);
  EXPECT_GT(window.Option().GetPosition().x, pane.GetRect().GetRight()) << "the dialog's own controls move right";

  pane.EnsureLayout();
  const MarkdownLayout& layout = pane.View().Layout();
  ASSERT_FALSE(layout.lines.empty());
  EXPECT_EQ(layout.lines.front().segments.front().headingLevel, 1);
  EXPECT_FALSE(pane.View().ContentFits()) << "the export page is longer than the pane";

  const std::filesystem::path shot = std::filesystem::current_path() / "help_pane_export.png";
  ASSERT_TRUE(WindowShot::Save(&window.Dialog(), shot.string()));
  std::printf("screenshot: %s\n", shot.c_str());
  wxImage image;
  ASSERT_TRUE(image.LoadFile(wxString(shot.native()), wxBITMAP_TYPE_PNG));
  // The pane's background is white where no text is drawn (its bottom margin).
  const wxPoint corner = pane.GetPosition() + wxPoint(4, pane.GetClientSize().y - 3);
  EXPECT_EQ(wxColour(image.GetRed(corner.x, corner.y), image.GetGreen(corner.x, corner.y),
                     image.GetBlue(corner.x, corner.y)),
            wxColour(255, 255, 255));

  // The end of the page, with two lines selected by a drag, for a person to look at.
  ASSERT_TRUE(pane.ScrollTo(pane.View().MaxScroll()));
  Send(pane, wxEVT_LEFT_DOWN, wxPoint(60, 60), true);
  Send(pane, wxEVT_MOTION, wxPoint(200, 100), true);
  Send(pane, wxEVT_LEFT_UP, wxPoint(200, 100), false);
  EXPECT_TRUE(pane.View().HasSelection());
  EXPECT_FALSE(pane.GetSelectedText().empty());
  PumpFor(std::chrono::milliseconds(150));
  const std::filesystem::path end = std::filesystem::current_path() / "help_pane_export_end.png";
  ASSERT_TRUE(WindowShot::Save(&window.Dialog(), end.string()));
  std::printf("screenshot: %s\n", end.c_str());
}

TEST(HelpPaneX11, EveryPageTheDialogsAskForShipsWithAHeadingAndItsTablesParse) {
  for (const char* name : {"export", "mapping", "seamless", "texture", "stack", "simplify", "relief", "procedural"}) {
    HelpDialog window(ProgramPage(name));
    CMarkdownTextCtrl& pane = window.Pane();
    pane.EnsureLayout();
    const MarkdownLayout& layout = pane.View().Layout();
    ASSERT_FALSE(layout.lines.empty()) << name;
    EXPECT_EQ(layout.lines.front().segments.front().headingLevel, 1) << name;
    EXPECT_EQ(pane.View().Text().find(L"No help yet"), std::wstring::npos) << name;
    for (const FormattedLine& line : layout.lines) {
      if (line.isTableRow) {
        EXPECT_GE(line.cells.size(), 2u) << name;
      }
    }
    // The seamless page names every field the dialog shows, with its range.
    for (const std::string& method : mesh::seamless::SeamlessMethodNames()) {
      for (const auto& spec : mesh::seamless::CreateSeamlessMethod(method)->GetParameters()) {
        if (std::string_view(name) != "seamless") break;
        const wxString page(pane.View().Text()), field = wxS("**") + wxString::FromUTF8(spec.label) + wxS("**");
        const wxString range = mesh::FormatGeneral6(spec.minimum) + " to " + mesh::FormatGeneral6(spec.maximum);
        EXPECT_TRUE(page.Contains(field) && page.Mid(page.Find(field)).Contains(range)) << spec.label;
      }
    }
    if (std::string_view(name) == "simplify") {
      pane.ScrollTo(layout.lineTops[10]);
      PumpFor(std::chrono::milliseconds(100));
      const std::filesystem::path shot = std::filesystem::current_path() / "help_pane_simplify.png";
      ASSERT_TRUE(WindowShot::Save(&window.Dialog(), shot.string()));
      std::printf("screenshot: %s\n", shot.c_str());
    }
  }
}

TEST(HelpPaneX11, AMissingPageSaysSoAndFitsWithoutScrolling) {
  HelpDialog window(LoadHelpPageFrom(LibraryRoots{}, "no-such-page"));
  CMarkdownTextCtrl& pane = window.Pane();
  pane.EnsureLayout();
  EXPECT_TRUE(pane.View().ContentFits());
  EXPECT_FALSE(pane.ScrollTo(100));
  pane.SelectAll();
  EXPECT_EQ(pane.GetSelectedText(),
            L"No help yet\n\nThe page help/no-such-page.md was not found beside the program.");
}

TEST(HelpPaneX11, CtrlAAndCtrlCCopyThePageAndCtrlCWithoutASelectionLeavesTheClipboard) {
  HelpDialog window(L"# Title\n\nfirst line\nsame paragraph\n\n| A | B |\n|---|---|\n| 1 | 2 |");
  CMarkdownTextCtrl& pane = window.Pane();
  ASSERT_TRUE(wxTheClipboard->Open());
  wxTheClipboard->SetData(new wxTextDataObject(wxS("kept")));
  wxTheClipboard->Close();

  SendCtrlKey(pane, 'C');
  EXPECT_EQ(ClipboardText(), L"kept");

  SendCtrlKey(pane, 'A');
  SendCtrlKey(pane, 'C');
  EXPECT_EQ(ClipboardText(), L"Title\n\nfirst line same paragraph\n\nA\tB\n1\t2");
}

TEST(HelpPaneX11, DraggingBelowThePaneScrollsAndExtendsUntilRelease) {
  std::wstring text;
  for (int i = 0; i < 80; ++i) text += L"Line " + std::to_wstring(i) + L"\n\n";
  HelpDialog window(text);
  CMarkdownTextCtrl& pane = window.Pane();
  pane.EnsureLayout();
  ASSERT_FALSE(pane.View().ContentFits());

  const wxSize client = pane.GetClientSize();
  Send(pane, wxEVT_LEFT_DOWN, wxPoint(30, 20), true);
  Send(pane, wxEVT_MOTION, wxPoint(30, client.y + 200), true);
  EXPECT_TRUE(pane.IsAutoScrolling());
  ASSERT_TRUE(PumpUntil([&] { return pane.View().ScrollPos() > 0; }));
  PumpFor(std::chrono::milliseconds(200));
  const int scrolled = pane.View().ScrollPos();
  EXPECT_GT(pane.View().End().line, 3);
  EXPECT_TRUE(pane.View().HasSelection());

  Send(pane, wxEVT_LEFT_UP, wxPoint(30, client.y + 200), false);
  EXPECT_FALSE(pane.IsAutoScrolling());
  PumpFor(std::chrono::milliseconds(150));
  EXPECT_EQ(pane.View().ScrollPos(), scrolled) << "releasing the button stops the scrolling";
  EXPECT_FALSE(pane.HasCapture());
}

// A page taller than the pane brings up the scroll bar, which narrows the client area without
// a size event. The page must already be laid out for the narrower area: text laid out for the
// wider one runs under the bar and is cut off, and the scroll range is that of a shorter page.
TEST(HelpPaneX11, ALongPageIsLaidOutForTheRoomLeftBesideTheScrollBar) {
  for (const char* page : {"relief", "stack", "texture", "procedural"}) {
    HelpDialog dialog(LoadHelpPage(page));
    CMarkdownTextCtrl& pane = dialog.Pane();
    const MarkdownView& view = pane.View();
    ASSERT_GT(view.Layout().contentHeight, pane.GetClientSize().y) << page;
    const int marginRight = view.Geometry().marginRight;
    EXPECT_LE(view.Geometry().AvailableRight(), pane.GetClientSize().x - marginRight) << page;
    const std::size_t lines = view.Layout().lines.size();
    const int height = view.Layout().contentHeight;
    // Scrolling brings the layout up to date with the pane's size: nothing may move.
    pane.ScrollTo(1000000);
    EXPECT_EQ(view.Layout().lines.size(), lines) << page;
    EXPECT_EQ(view.Layout().contentHeight, height) << page;
    EXPECT_EQ(view.ScrollPos(), height - pane.GetClientSize().y) << page;
  }
}

TEST(HelpPaneX11, TheWheelScrollsThreeLinesPerNotch) {
  std::wstring text;
  for (int i = 0; i < 80; ++i) text += L"Line " + std::to_wstring(i) + L"\n\n";
  HelpDialog window(text);
  CMarkdownTextCtrl& pane = window.Pane();
  pane.EnsureLayout();
  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.SetEventObject(&pane);
  wheel.m_wheelRotation = -120;
  wheel.m_wheelDelta = 120;
  wheel.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
  pane.GetEventHandler()->ProcessEvent(wheel);
  EXPECT_EQ(pane.View().ScrollPos(), 3 * pane.View().Geometry().lineHeight);
  EXPECT_EQ(pane.GetScrollPos(wxVERTICAL), pane.View().ScrollPos());
}

}  // namespace
}  // namespace grainforge::app
