// The interface kit with a real display: cached fonts, icons and the placeholder drawn into a
// bitmap, numbers in dialog fields, the compact GTK style, and the fixed panes in a frame.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "app/shell/kit/compact_gtk_style.h"
#include "app/shell/kit/dialog_numbers.h"
#include "app/shell/kit/kit_drawing.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/footer_wnd.h"
#include "app/shell/info_pane.h"
#include "app/shell/kit/toolbar_host_wnd.h"
#include "app/shell/kit/ui_colours.h"
#include "app/shell/static_pane.h"
#include "app/shell/wx_prompter.h"
#include "tests/app/shell/shell_x11_support.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using ::tessary::test::PumpFor;
using ::tessary::test::PumpUntil;

const auto* const kAssertsFail = ::testing::AddGlobalTestEnvironment(new test::AssertsFail);

TEST(GetUiFont, TheSamePairGivesTheSameFontEveryTime) {
  const wxFont& heading = GetUiFont(kUiFontHeading, 96);
  EXPECT_EQ(&heading, &GetUiFont(kUiFontHeading, 96));
  EXPECT_NE(&heading, &GetUiFont(kUiFontHeading, 144));
  EXPECT_TRUE(heading.IsOk());
  EXPECT_EQ(heading.GetNumericWeight(), 600);
  EXPECT_EQ(GetUiFont(kUiFontNormal, 96).GetNumericWeight(), 400);
  EXPECT_EQ(GetUiFont(kUiFontSmall, 96).GetFractionalPointSize(), 8.0);
  EXPECT_EQ(GetUiFont(kUiFontHeading, 144).GetFractionalPointSize(), 15.0);
  EXPECT_EQ(heading.GetFaceName().ToStdWstring(), InterfaceFaceName());
}

TEST(GetReportFont, IsDejaVuSansMono) {
  const wxFont& report = GetReportFont(96);
  EXPECT_EQ(&report, &GetReportFont(96));
  EXPECT_EQ(report.GetFaceName(), "DejaVu Sans Mono");
  EXPECT_TRUE(report.IsFixedWidth());
}

// Draws into a white 40 x 40 bitmap and reads it back.
template <typename Draw>
wxImage DrawOnWhite(Draw draw) {
  wxBitmap bitmap(40, 40, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  draw(dc);
  dc.SelectObject(wxNullBitmap);
  return bitmap.ConvertToImage();
}

bool IsWhite(const wxImage& image, int x, int y) {
  return image.GetRed(x, y) == 255 && image.GetGreen(x, y) == 255 && image.GetBlue(x, y) == 255;
}

TEST(DrawIcon, AMissingIconDrawsAGreyRoundedOutlineAndLeavesTheMiddleEmpty) {
  const wxImage image =
      DrawOnWhite([](wxDC& dc) { DrawIcon(dc, L"no_icon_of_this_name", PixelRect{4, 4, 36, 36}); });
  // The outline runs 1 px inside the rectangle; on its straight left edge, halfway down.
  const wxColour edge = test::PixelAt(image, 5, 20);
  EXPECT_LT(edge.Red(), 235);
  EXPECT_LT(edge.Red(), edge.Blue() + 1) << "grey-blue outline";
  EXPECT_TRUE(IsWhite(image, 20, 20));
  // The corners are rounded: the rectangle's own corner stays white.
  EXPECT_TRUE(IsWhite(image, 5, 5));
  // The same again: a miss is remembered, and still drawn as the placeholder.
  const wxImage again =
      DrawOnWhite([](wxDC& dc) { DrawIcon(dc, L"no_icon_of_this_name", PixelRect{4, 4, 36, 36}); });
  EXPECT_EQ(test::PixelAt(again, 5, 20), edge);
}

TEST(DrawIcon, AnIconBesideTheProgramIsDrawnStretched) {
  const wxImage image = DrawOnWhite([](wxDC& dc) { DrawIcon(dc, L"surf_checkered", PixelRect{0, 0, 40, 40}); });
  int dark = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) dark += image.GetRed(x, y) < 100 ? 1 : 0;
  }
  EXPECT_GT(dark, 200) << "the checkerboard's dark squares";
}

TEST(StretchPixelsToRect, ShowsOnlyTheRowsAskedForAndNothingForABadBlock) {
  // Two rows: red on top, blue below; a row limit of 1 stretches the red row over the whole.
  const std::vector<std::uint32_t> pixels = {0x00FF0000, 0x00FF0000, 0x000000FF, 0x000000FF};
  const wxImage top = DrawOnWhite(
      [&](wxDC& dc) { StretchPixelsToRect(dc, PixelRect{0, 0, 40, 40}, pixels, 2, 2, 1); });
  EXPECT_EQ(test::PixelAt(top, 20, 35), wxColour(255, 0, 0));
  const wxImage both = DrawOnWhite(
      [&](wxDC& dc) { StretchPixelsToRect(dc, PixelRect{0, 0, 40, 40}, pixels, 2, 2, 0); });
  EXPECT_EQ(test::PixelAt(both, 20, 35), wxColour(0, 0, 255));
  const wxImage none = DrawOnWhite(
      [&](wxDC& dc) { StretchPixelsToRect(dc, PixelRect{0, 0, 40, 40}, pixels, 2, 3, 0); });
  EXPECT_TRUE(IsWhite(none, 20, 20));
}

// Runs twice: also with LC_ALL=de_DE.UTF-8. wx keeps GTK from setting the locale, but any
// wxLocale, wxUILocale or library call to setlocale would take the desktop's; the fixture does
// so, as such a call would.
class DialogNumber : public ::testing::Test {
protected:
  void SetUp() override {
    previousLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "");
    dialog = new wxDialog(nullptr, wxID_ANY, "Numbers");
    field = new wxTextCtrl(dialog, kField, "");
    field->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { ++textEvents; });
  }
  void TearDown() override {
    dialog->Destroy();
    std::setlocale(LC_ALL, previousLocale.c_str());
  }
  float Read(const wxString& text, float fallback) {
    field->ChangeValue(text);
    return GetDlgItemFloat(dialog, kField, fallback);
  }
  static constexpr int kField = 1000;
  wxDialog* dialog = nullptr;
  wxTextCtrl* field = nullptr;
  int textEvents = 0;
  std::string previousLocale;
};

TEST_F(DialogNumber, ReadsTypedNumbersAndKeepsTheDefaultForUnusableText) {
  EXPECT_EQ(Read("1e39", 6.0f), 6.0f);
  EXPECT_EQ(Read("1e999", 6.0f), 6.0f);
  EXPECT_EQ(Read("inf", 6.0f), 6.0f);
  EXPECT_EQ(Read("", 6.0f), 6.0f);
  EXPECT_EQ(Read("letters", 6.0f), 6.0f);
  EXPECT_EQ(Read(" 3 ", 6.0f), 3.0f);
  EXPECT_EQ(Read("0.5", 6.0f), 0.5f);
  EXPECT_EQ(Read("2.5 mm", 6.0f), 2.5f);
  EXPECT_EQ(GetDlgItemFloat(dialog, 4242, 9.0f), 9.0f) << "no such field";
  EXPECT_EQ(GetDlgItemFloat(nullptr, kField, 9.0f), 9.0f);
}

TEST_F(DialogNumber, WritesWithAPointAndSendsNoTextEvent) {
  SetDlgItemFloat(dialog, kField, 0.5);
  EXPECT_EQ(field->GetValue(), "0.5");
  SetDlgItemFloat(dialog, kField, 1234567.0);
  EXPECT_EQ(field->GetValue(), "1.23457e+06");
  EXPECT_EQ(textEvents, 0);
  SetDlgItemFloat(dialog, 4242, 1.0);
  const char* expected = std::getenv("TESSARY_EXPECT_LOCALE");
  if (expected != nullptr && std::string(expected) == "de_DE") {
    // Proof that this run is German: the C library formats with a comma here.
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%g", 0.5);
    EXPECT_STREQ(buffer, "0,5");
  }
}

// Buttons in rows are made with wxBU_EXACTFIT: without it wx pads every button to the size of
// a stock "OK" button with its icon (27 px).
TEST(CompactGtkStyle, MakesEntriesButtonsChoicesAndSpinsFitA24PixelRow) {
  ASSERT_TRUE(ApplyCompactGtkStyle());
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Rows", wxPoint(40, 500), wxSize(500, 200));
  auto* panel = new wxPanel(frame);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  wxWindow* widgets[] = {new wxTextCtrl(panel, wxID_ANY, "12.5"),
                         new wxButton(panel, wxID_ANY, "Settings...", wxDefaultPosition, wxDefaultSize,
                                      wxBU_EXACTFIT),
                         new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxArrayString(1, "Box"))};
  for (wxWindow* widget : widgets) sizer->Add(widget, 0, wxALL, 2);
  auto* spin = new wxSpinCtrlDouble(panel, wxID_ANY);
  sizer->Add(spin, 0, wxALL, 2);
  panel->SetSizer(sizer);
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
  PumpFor(100ms);
  for (wxWindow* widget : widgets) {
    EXPECT_LE(widget->GetBestSize().y, 24) << widget->GetClassInfo()->GetClassName();
    EXPECT_GE(widget->GetBestSize().y, 16) << "text still fits";
  }
  EXPECT_LE(spin->GetBestSize().y, 24);
  test::CaptureWindow(frame, "shell_compact_rows.png");
  frame->Destroy();
  PumpFor(50ms);
}

TEST(CStaticPane, PanesKeepTheirDesignSizeWhenTheFrameResizes) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Panes", wxPoint(20, 20), wxSize(1200, 700));
  auto* left = new CStaticPane();
  ASSERT_TRUE(left->Create(frame, 133, L"Workflow", L"pane_workflow", {340, 0}));
  auto* right = new CStaticPane();
  ASSERT_TRUE(right->Create(frame, 150, L"Information", L"pane_information", {240, 0}));
  auto* bottom = new CStaticPane();
  ASSERT_TRUE(bottom->Create(frame, 149, L"Output", L"pane_output", {0, 130}));
  auto* view = new wxPanel(frame);
  view->SetBackgroundColour(wxColour(60, 64, 72));
  for (CStaticPane* pane : {left, right, bottom}) {
    auto* content = new wxPanel(pane);
    content->SetBackgroundColour(wxColour(247, 248, 250));
    pane->SetContent(content);
  }
  auto* middle = new wxBoxSizer(wxVERTICAL);
  middle->Add(view, 1, wxEXPAND);
  middle->Add(bottom, 0, wxEXPAND);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(left, 0, wxEXPAND);
  row->Add(middle, 1, wxEXPAND);
  row->Add(right, 0, wxEXPAND);
  frame->SetSizer(row);
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
  frame->Layout();
  PumpFor(150ms);
  EXPECT_EQ(left->GetSize().x, 340);
  EXPECT_EQ(right->GetSize().x, 240);
  EXPECT_EQ(bottom->GetSize().y, 130);
  EXPECT_EQ(left->CaptionStrip()->GetSize().y, CStaticPane::kCaptionHeight);
  test::CaptureWindow(frame, "shell_static_panes.png");

  frame->SetSize(900, 500);
  frame->Layout();
  PumpFor(100ms);
  EXPECT_EQ(left->GetSize().x, 340);
  EXPECT_EQ(right->GetSize().x, 240);
  EXPECT_EQ(bottom->GetSize().y, 130);

  // At 144 dpi (the arithmetic only: GTK lays out in logical pixels) the left pane is 510 wide.
  left->SetDpi(144);
  frame->Layout();
  EXPECT_EQ(left->GetSize().x, 510);
  frame->Destroy();
  PumpFor(50ms);
}

// Tab used to move the focus through the panes the program draws itself with nothing shown: each
// draws the accent outline inside its edge while it has the focus, and not after.
TEST(FocusOutline, OwnerDrawnPanesShowWhereTheFocusIs) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Focus", wxPoint(20, 20), wxSize(600, 400));
  auto* pane = new CStaticPane();
  ASSERT_TRUE(pane->Create(frame, 150, L"Information", L"pane_information", {240, 0}));
  auto* content = new wxPanel(pane);
  pane->SetContent(content);
  auto* banner = new CInfoBox(frame);
  banner->SetMessages({{L"Prints without support.", kInfoOk}});
  banner->Show();
  auto* toolbar = new CToolbarHostWnd();
  ASSERT_TRUE(toolbar->Create(frame, wxID_ANY));
  toolbar->SetColorStyle();
  auto* footer = new CFooterWnd(frame, wxID_ANY, 96);
  auto* elsewhere = new wxTextCtrl(frame, wxID_ANY);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(pane, 1, wxEXPAND);
  column->Add(banner, 0, wxEXPAND | wxTOP, 4);
  banner->SetMinSize(wxSize(-1, 40));
  column->Add(toolbar, 0, wxEXPAND | wxTOP, 4);
  toolbar->SetMinSize(wxSize(-1, 36));
  column->Add(footer, 0, wxEXPAND | wxTOP, 4);
  footer->SetMinSize(wxSize(-1, 40));
  column->Add(elsewhere, 0, wxEXPAND | wxTOP, 4);
  frame->SetSizer(column);
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
  frame->Layout();
  PumpFor(150ms);

  const wxColour accent = ToWxColour(colours::kAccent);
  struct Case {
    const char* name;
    wxWindow* window;
  };
  for (const Case& c : {Case{"caption", pane->CaptionStrip()}, Case{"banner", banner}, Case{"toolbar", toolbar},
                        Case{"footer", footer}}) {
    const int middle = c.window->GetClientSize().y / 2;
    c.window->SetFocus();
    PumpFor(100ms);
    ASSERT_TRUE(c.window->HasFocus()) << c.name;
    const wxImage focused = test::CaptureWindow(c.window, std::string("focus_outline_") + c.name + ".png");
    EXPECT_EQ(test::PixelAt(focused, 0, middle), accent) << c.name;
    EXPECT_EQ(test::PixelAt(focused, focused.GetWidth() - 1, middle), accent) << c.name;
    elsewhere->SetFocus();
    PumpFor(100ms);
    const wxImage left = test::CaptureWindow(c.window, std::string("focus_outline_") + c.name + "_left.png");
    EXPECT_NE(test::PixelAt(left, 0, middle), accent) << c.name;
  }
  frame->Destroy();
  PumpFor(50ms);
}

// The program's questions answer to their access keys, as GTK's own dialogs do: Alt and the
// underlined letter, typed as a person would (through the X server, to the native box).
TEST(QuestionAccessKeys, AltAndTheUnderlinedLetterAnswer) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Questions", wxPoint(0, 0), wxSize(500, 400));
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
  WxPrompter prompter(frame);
  struct Case {
    PromptButtons buttons;
    char key;
    MessageAnswer expected;
  };
  const Case cases[] = {
      {PromptButtons::YesNoCancel, 'n', MessageAnswer::No},
      {PromptButtons::YesNoCancel, 'y', MessageAnswer::Yes},
      {PromptButtons::YesNoCancel, 'c', MessageAnswer::Cancel},
      {PromptButtons::YesNo, 'y', MessageAnswer::Yes},
      {PromptButtons::OkCancel, 'o', MessageAnswer::Ok},
  };
  for (const Case& c : cases) {
    // Typed once the box is up; Escape later so that a box that ignored the key cannot hang.
    wxTimer type;
    type.Bind(wxEVT_TIMER, [&c, frame](wxTimerEvent&) {
      wxUIActionSimulator keys;
      keys.MouseMove(frame->GetScreenRect().GetPosition() + wxPoint(250, 200));
      keys.KeyDown(c.key, wxMOD_ALT);
      keys.KeyUp(c.key, wxMOD_ALT);
    });
    wxTimer rescue;
    rescue.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
      wxUIActionSimulator keys;
      keys.Char(WXK_ESCAPE);
    });
    type.StartOnce(700);
    rescue.StartOnce(5000);
    const MessageAnswer answer =
        prompter.ShowMessage({L"Tessary", L"Save the changes?", c.buttons, PromptIcon::Question});
    type.Stop();
    rescue.Stop();
    EXPECT_EQ(answer, c.expected) << "Alt+" << c.key;
  }
  frame->Destroy();
  PumpFor(50ms);
}

// A question naming a 255-byte file grew wider than the screen, its Yes out of sight: the name
// wraps, and the box (the toolkit's own, measured through GTK, which wx has loaded) stays
// within an 800 x 600 screen. Saved as a picture for a look.
TEST(QuestionWidth, AFileNameOfTheLongestKindWrapsWithinASmallScreen) {
  using Widget = void;
  struct List {
    void* data;
    List* next;
    List* prev;
  };
  const auto toplevels = reinterpret_cast<List* (*)()>(dlsym(RTLD_DEFAULT, "gtk_window_list_toplevels"));
  const auto freeList = reinterpret_cast<void (*)(List*)>(dlsym(RTLD_DEFAULT, "g_list_free"));
  const auto visible = reinterpret_cast<int (*)(Widget*)>(dlsym(RTLD_DEFAULT, "gtk_widget_get_visible"));
  const auto width = reinterpret_cast<int (*)(Widget*)>(dlsym(RTLD_DEFAULT, "gtk_widget_get_allocated_width"));
  ASSERT_TRUE(toplevels && freeList && visible && width);
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Questions", wxPoint(0, 0), wxSize(500, 400));
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return frame->IsShownOnScreen(); }));
  WxPrompter prompter(frame);
  const std::wstring name = std::wstring(251, L'n') + L".stl";
  for (const std::wstring& text : {L"Save the changes to " + name + L"?",
                                   name + L" already exists.\nDo you want to replace it?"}) {
    int widest = 0;
    wxTimer measure;
    measure.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      List* all = toplevels();
      for (List* at = all; at != nullptr; at = at->next)
        if (at->data != frame->GetHandle() && visible(at->data)) widest = std::max(widest, width(at->data));
      freeList(all);
      wxUIActionSimulator keys;
      keys.Char(WXK_ESCAPE);
    });
    measure.StartOnce(800);
    (void)prompter.ShowMessage({L"Tessary", text, PromptButtons::YesNoCancel, PromptIcon::Question});
    measure.Stop();
    EXPECT_GT(widest, 0);
    EXPECT_LE(widest, 800) << "a box wider than the screen";
  }
  frame->Destroy();
  PumpFor(50ms);
}

}  // namespace
}  // namespace grainforge::app
