#include "app/shell/output_wnd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>

#include "app/shell/log_line.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using tessary::test::PumpFor;
using tessary::test::WindowShot;

// A frame holding only the output pane, as tall as the pane's own height and more.
class OutputPaneFrame {
public:
  explicit OutputPaneFrame(wxSize size = wxSize(900, 320)) {
    frame_ = new wxFrame(nullptr, wxID_ANY, wxS("Output"), wxPoint(20, 20), size);
    pane_ = new COutputWnd(frame_);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(150));
  }
  ~OutputPaneFrame() {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  COutputWnd& Pane() { return *pane_; }

private:
  wxFrame* frame_ = nullptr;
  COutputWnd* pane_ = nullptr;
};

std::filesystem::path ShotPath(const char* name) { return std::filesystem::current_path() / name; }

wxImage Shoot(wxWindow* window, const char* name) {
  const std::filesystem::path path = ShotPath(name);
  EXPECT_TRUE(WindowShot::Save(window, path.string()));
  std::printf("screenshot: %s\n", path.c_str());
  wxImage image;
  image.LoadFile(wxString(path.native()), wxBITMAP_TYPE_PNG);
  return image;
}

wxColour PixelAt(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// True when some pixel of the rectangle has exactly this colour.
bool RectHolds(const wxImage& image, const wxRect& rect, const wxColour& colour) {
  for (int y = std::max(0, rect.y); y < std::min(image.GetHeight(), rect.GetBottom() + 1); ++y) {
    for (int x = std::max(0, rect.x); x < std::min(image.GetWidth(), rect.GetRight() + 1); ++x) {
      if (PixelAt(image, x, y) == colour) return true;
    }
  }
  return false;
}

TEST(OutputPaneX11, ShowsLevelsWithBarsAndColouredSpans) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  pane.AppendOutputLine(L"Remesh: 1,234,567 triangles in 2.5 s (340 ms)", kLineClassify);
  pane.AppendOutputLine(L"Saved /home/user/parts/a.stl", kLineClassify);
  pane.AppendOutputLine(L"Saved C:\\parts\\a.stl", kLineClassify);
  pane.AppendOutputLine(L"Warning: 3 walls thinner than 0.8 mm", kLineClassify);
  pane.AppendOutputLine(L"Error: file not found", kLineClassify);
  pane.AppendOutputLine(L"Open edges: 0,010", kLineClassify);
  pane.AppendOutputLine(L"  A long report line that wraps at word boundaries inside its entry with a hanging indent, "
                        L"so the continuation rows stand under the first one and do not start at the bar; size 12.5 mm "
                        L"and 40 deg.",
                        kLineClassify);
  pane.AppendOutputLine(L"Processed: 812,044 triangles, relief 0.6 mm", kLineSuccess);
  PumpFor(std::chrono::milliseconds(200));

  const OutputLogModel& model = pane.Model();
  ASSERT_EQ(model.Size(), 9u);
  EXPECT_EQ(model.Entry(0).text, L"Output log ready.");
  EXPECT_EQ(model.Entry(4).level, kLineWarning);
  EXPECT_EQ(model.Entry(5).level, kLineError);
  const int lineHeight = pane.List()->Geometry().lineHeight;
  EXPECT_GT(model.Entry(7).height, 2 * lineHeight);  // the long line wraps

  const wxImage shot = Shoot(pane.List(), "output_pane.png");
  ASSERT_TRUE(shot.IsOk());
  const int bar = pane.List()->Geometry().BarWidth();
  const wxRect warning = pane.List()->GetItemRect(4);
  const wxRect error = pane.List()->GetItemRect(5);
  EXPECT_EQ(PixelAt(shot, bar / 2, warning.y + warning.height / 2), wxColour(240, 208, 80));
  EXPECT_EQ(PixelAt(shot, bar / 2, error.y + error.height / 2), wxColour(255, 107, 107));
  EXPECT_EQ(PixelAt(shot, bar / 2, pane.List()->GetItemRect(1).y + 3), wxColour(30, 30, 30));
  // Numbers on an alert line are white; on a plain line teal; labels on a plain line light blue.
  EXPECT_TRUE(RectHolds(shot, warning, wxColour(255, 255, 255)));
  EXPECT_TRUE(RectHolds(shot, pane.List()->GetItemRect(1), wxColour(78, 201, 176)));
  EXPECT_TRUE(RectHolds(shot, pane.List()->GetItemRect(1), wxColour(156, 220, 254)));
  // The Windows-style path is a path span (salmon) on the success line.
  EXPECT_TRUE(RectHolds(shot, pane.List()->GetItemRect(3), wxColour(206, 145, 120)));
}

TEST(OutputPaneX11, ALineTallerThanTheEntryLimitEndsInAnEllipsis) {
  OutputPaneFrame window(wxSize(300, 400));
  COutputWnd& pane = window.Pane();
  std::wstring words;
  for (int i = 0; i < 400; ++i) words += L"word ";
  pane.AppendOutputLine(words.c_str(), kLineError);
  PumpFor(std::chrono::milliseconds(150));
  EXPECT_EQ(pane.Model().Entry(1).height, kMaxLogEntryHeight);
  Shoot(pane.List(), "output_pane_ellipsis.png");
}

TEST(OutputPaneX11, DiscardsOlderLinesAndSaysSoInTheCaption) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  std::wstring caption;
  pane.SetCaptionListener([&](const std::wstring& text) { caption = text; });
  std::wstring text;
  for (int i = 0; i < 20004; ++i) text += L"line " + std::to_wstring(i) + L"\n";
  text += L"line 20004";
  pane.AppendOutputLine(text.c_str(), kLinePlain);
  // "Output log ready." and 20005 more: six lines went.
  EXPECT_EQ(pane.Model().Size(), 20000u);
  EXPECT_EQ(caption, L"Output (6 older lines discarded)");
  EXPECT_EQ(pane.Caption(), caption);
  EXPECT_EQ(pane.Model().Entry(19999).text, L"line 20004");
  EXPECT_EQ(pane.List()->GetItemCount(), 20000u);
  // Following the end: the last line is on screen.
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(pane.List()->IsRowVisible(19999));
}

TEST(OutputPaneX11, ALineTheUserHoldsStaysInViewWhileLinesArrive) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  std::wstring text;
  for (int i = 0; i < 19998; ++i) text += L"old " + std::to_wstring(i) + L"\n";
  text += L"old 19998";
  pane.AppendOutputLine(text.c_str(), kLinePlain);
  pane.List()->ScrollToRow(100);
  PumpFor(std::chrono::milliseconds(50));
  const std::size_t top = pane.List()->GetVisibleRowsBegin();
  const std::wstring shown = pane.Model().Entry(top).text;
  // Not following: ten more lines push ten off the top, and the same text stays on top.
  pane.InsertOutputLines(L"1\n2\n3\n4\n5\n6\n7\n8\n9\n10", kLinePlain, false, top);
  EXPECT_EQ(pane.Model().Entry(pane.List()->GetVisibleRowsBegin()).text, shown);
}

TEST(OutputPaneX11, AHeldMouseButtonStopsTheListFollowingTheEnd) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  for (int i = 0; i < 200; ++i) pane.AppendOutputLine((L"line " + std::to_wstring(i)).c_str(), kLinePlain);
  pane.List()->ScrollToRow(20);
  PumpFor(std::chrono::milliseconds(50));
  pane.List()->CaptureMouse();
  ASSERT_TRUE(pane.List()->IsHoldingMouse());
  pane.AppendOutputLine(L"arrives while held", kLinePlain);
  EXPECT_EQ(pane.List()->GetVisibleRowsBegin(), 20u);
  pane.List()->ReleaseMouse();
  pane.AppendOutputLine(L"arrives after", kLinePlain);
  EXPECT_TRUE(pane.List()->IsRowVisible(pane.Model().Size() - 1));
}

TEST(OutputPaneX11, ANewDpiScalesTheBarAndRewrapsEveryLine) {
  OutputPaneFrame window(wxSize(400, 300));
  COutputWnd& pane = window.Pane();
  pane.AppendOutputLine(L"A line long enough to wrap once the margins and the indent grow with the DPI of the "
                        L"screen it is shown on, which they do at 192 dpi.",
                        kLinePlain);
  const int before = pane.Model().Entry(1).height;
  pane.SetDpi(192);
  EXPECT_EQ(pane.List()->Geometry().BarWidth(), 6);
  EXPECT_EQ(pane.List()->Geometry().Margin(), 12);
  EXPECT_GE(pane.Model().Entry(1).height, before);
  pane.SetDpi(96);
  EXPECT_EQ(pane.Model().Entry(1).height, before);
}

TEST(OutputPaneX11, SelectedLinesFollowTheirTextWhenTheTopIsDiscarded) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  std::wstring text;
  for (int i = 1; i < 20000; ++i) text += L"n" + std::to_wstring(i) + (i + 1 < 20000 ? L"\n" : L"");
  pane.AppendOutputLine(text.c_str(), kLinePlain);
  pane.List()->Select(2);
  pane.List()->Select(500);
  pane.AppendOutputLine(L"a\nb\nc", kLinePlain);  // three off the top
  const std::vector<std::size_t> selected = pane.List()->SelectedLines();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(pane.Model().Entry(selected[0]).text, L"n500");
}

TEST(OutputPaneX11, CopyJoinsTheSelectedLinesWithLineFeeds) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  pane.AppendOutputLine(L"one\ntwo\nthree\nfour", kLinePlain);
  pane.List()->Select(1);
  pane.List()->Select(2);
  pane.List()->Select(4);
  pane.CopyOutputSelection();
  ASSERT_TRUE(wxTheClipboard->Open());
  wxTextDataObject data;
  const bool got = wxTheClipboard->GetData(data);
  wxTheClipboard->Close();
  ASSERT_TRUE(got);
  EXPECT_EQ(data.GetText().ToStdWstring(), L"one\ntwo\nfour");
}

TEST(OutputPaneX11, SaveWritesUtf8LineFeedsOrReportsWhyNot) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  pane.ClearOutput();
  pane.AppendOutputLine(L"\u00E9", kLinePlain);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tessary_output_pane_x11";
  std::filesystem::create_directories(folder);
  const std::wstring path = (folder / "Tessary log.txt").wstring();
  std::wstring askedFolder = L"unset";
  std::wstring askedName;
  pane.SetSavePathAsker([&](const std::wstring& initial, const std::wstring& name) {
    askedFolder = initial;
    askedName = name;
    return std::optional<std::wstring>(path);
  });
  std::wstring reported;
  pane.SetErrorReporter([&](const std::wstring& message) { reported = message; });
  pane.SaveOutputLog();
  EXPECT_EQ(askedFolder, L"");
  EXPECT_EQ(askedName, L"Tessary log.txt");
  EXPECT_EQ(reported, L"");
  std::ifstream in(folder / "Tessary log.txt", std::ios::binary);
  // The pane was emptied, yet the saved log holds the session from its first line.
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "Output log ready.\n\xC3\xA9\n");

  // The next save starts in the folder of the last one; a failing one says why.
  pane.SetSavePathAsker([&](const std::wstring& initial, const std::wstring&) {
    askedFolder = initial;
    return std::optional<std::wstring>((folder / "missing" / "x.txt").wstring());
  });
  pane.SaveOutputLog();
  EXPECT_EQ(askedFolder, folder.wstring());
  EXPECT_EQ(reported.rfind(L"The log could not be saved: ", 0), 0u);
  EXPECT_GT(reported.size(), std::wstring(L"The log could not be saved: ").size());
  std::filesystem::remove_all(folder);
}

TEST(OutputPaneX11, AppendingTenThousandLinesOneByOne) {
  OutputPaneFrame window;
  COutputWnd& pane = window.Pane();
  const wchar_t* lines[] = {L"Remesh: 1,234,567 triangles in 2.5 s (340 ms)", L"Saved /home/user/parts/a.stl",
                            L"Warning: 3 walls thinner than 0.8 mm", L"Error: file not found",
                            L"Checking: no problems found"};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10000; ++i) pane.AppendOutputLine(lines[i % 5], kLineClassify);
  const auto appended = std::chrono::steady_clock::now();
  PumpFor(std::chrono::milliseconds(1));
  pane.List()->Update();
  const auto painted = std::chrono::steady_clock::now();
  const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::printf("appending 10,000 lines one by one: %.0f ms; with the paint after: %.0f ms\n", ms(appended - start),
              ms(painted - start));
  EXPECT_EQ(pane.Model().Size(), 10001u);
  Shoot(pane.List(), "output_pane_10000.png");
}

}  // namespace
}  // namespace grainforge::app
