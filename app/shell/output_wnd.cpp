#include "app/shell/output_wnd.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/document/log_text.h"
#include "app/document/program_files.h"

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/wupdlock.h>

#include "app/shell/log_line.h"
#include "app/shell/wx_prompter.h"
#include "app/shell/wx_text_metrics.h"

namespace grainforge::app {
namespace {

const wxColour kBackground(30, 30, 30);
const wxColour kSelectedBackground(38, 79, 120);
const wxColour kWarningBar(240, 208, 80);
const wxColour kErrorBar(255, 107, 107);

wxColour ToWx(Rgb colour) { return wxColour(colour.r, colour.g, colour.b); }

int DrawnLevel(int level) { return level >= kLinePlain && level <= kLineError ? level : kLinePlain; }

wxString ToWx(std::wstring_view text) { return wxString(text.data(), text.size()); }

}  // namespace

COutputList::COutputList(wxWindow* parent, const OutputLogModel& model)
    : wxVListBox(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLB_MULTIPLE | wxBORDER_NONE),
      model_(model),
      measureBitmap_(8, 8),
      measureDc_(measureBitmap_) {
  SetBackgroundColour(kBackground);
  SetForegroundColour(wxColour(212, 212, 212));
  Bind(wxEVT_LEFT_DOWN, &COutputList::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &COutputList::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, [](wxMouseCaptureLostEvent&) {});
  Bind(wxEVT_CONTEXT_MENU, &COutputList::OnContextMenu, this);
}

void COutputList::UpdateFontMetrics(int dpi) {
  const wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  SetFont(font);
  measureDc_.SetFont(font);
  geometry_.dpi = dpi;
  geometry_.lineHeight = WxTextMetrics(measureDc_).LineHeight();
}

std::vector<TextRow> COutputList::WrapLine(std::wstring_view text) const {
  return WrapLogLine(WxTextMetrics(measureDc_), geometry_, text);
}

int COutputList::HangingIndent(std::wstring_view text) const {
  return app::HangingIndent(WxTextMetrics(measureDc_), geometry_, text);
}

void COutputList::MeasureLine(OutputLogModel& model, std::size_t index) const {
  const int height = MeasureLogLineHeight(WxTextMetrics(measureDc_), geometry_, model.Entry(index).text);
  if (height != model.Entry(index).height) model.SetHeight(index, height);
}

void COutputList::MeasureAllLines(OutputLogModel& model) const {
  for (std::size_t i = 0; i < model.Size(); ++i) MeasureLine(model, i);
}

std::vector<std::size_t> COutputList::SelectedLines() const {
  std::vector<std::size_t> lines;
  unsigned long cookie = 0;
  for (int item = GetFirstSelected(cookie); item != wxNOT_FOUND; item = GetNextSelected(cookie)) {
    lines.push_back(static_cast<std::size_t>(item));
  }
  return lines;
}

wxCoord COutputList::OnMeasureItem(size_t n) const {
  if (n >= model_.Size()) return geometry_.lineHeight + 2;
  const int height = model_.Entry(n).height;
  return height > 0 ? height : geometry_.lineHeight + 2;
}

void COutputList::OnDrawBackground(wxDC& dc, const wxRect& rect, size_t n) const {
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(IsSelected(n) ? kSelectedBackground : kBackground));
  dc.DrawRectangle(rect);
}

void COutputList::OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const {
  if (n >= model_.Size()) return;
  const OutputLogEntry& entry = model_.Entry(n);
  const int level = DrawnLevel(entry.level);
  const int bar = geometry_.BarWidth();
  if (level == kLineWarning || level == kLineError) {
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(level == kLineWarning ? kWarningBar : kErrorBar));
    dc.DrawRectangle(rect.x, rect.y, bar, rect.height);
  }
  wxDCClipper clip(dc, rect);
  dc.SetFont(GetFont());
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const std::wstring& text = entry.text;
  const std::vector<LogSpan> spans = TokenizeLogLine(text);
  const std::vector<TextRow> rows = WrapLine(text);
  const int lineHeight = geometry_.lineHeight;
  const int x0 = rect.x + bar + geometry_.Margin();
  const int bottom = rect.y + rect.height;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int y = rect.y + 1 + static_cast<int>(r) * lineHeight;
    if (y + lineHeight > bottom) {
      dc.SetTextForeground(ToWx(LogLevelColour(level)));
      dc.DrawText(wxString(L"\u2026"), x0, bottom - lineHeight);
      break;
    }
    int x = r == 0 ? x0 : x0 + HangingIndent(text);
    for (const LogSpan& span : spans) {
      const int from = std::max(span.start, rows[r].start);
      const int to = std::min(span.start + span.length, rows[r].end);
      if (from >= to) continue;
      const wxString piece = ToWx(std::wstring_view(text).substr(static_cast<std::size_t>(from),
                                                                  static_cast<std::size_t>(to - from)));
      dc.SetTextForeground(ToWx(LogSpanColour(span.kind, level)));
      dc.DrawText(piece, x, y);
      x += dc.GetTextExtent(piece).x;
    }
  }
}

void COutputList::OnLeftDown(wxMouseEvent& event) {
  if (!HasCapture()) CaptureMouse();
  event.Skip();
}

void COutputList::OnLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  event.Skip();
}

void COutputList::OnContextMenu(wxContextMenuEvent& event) {
  wxPoint at = event.GetPosition();
  if (at == wxDefaultPosition) {
    const wxSize size = GetClientSize();
    at = wxPoint(size.x / 2, size.y / 2);
  } else {
    at = ScreenToClient(at);
  }
  wxMenu menu;
  menu.Append(wxID_COPY, wxS("&Copy"));
  menu.Append(wxID_SAVEAS, wxS("&Save As..."));
  menu.Append(wxID_CLEAR, wxS("&Clear"));
  PopupMenu(&menu, at);
  SetFocus();
}

COutputWnd::COutputWnd(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  list_ = new COutputList(this, model_);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(list_, 1, wxEXPAND);
  SetSizer(sizer);
  dpi_ = FromDIP(96);
  Bind(wxEVT_SIZE, &COutputWnd::OnSize, this);
  Bind(wxEVT_MENU, &COutputWnd::OnMenu, this);
  UpdateFontMetrics();
  // The first line of every saved log: how a later save knows a file it may replace as a log.
  AppendOutputLine(Utf8ToWide(kLogFirstLine).c_str(), kLineClassify);
}

void COutputWnd::AppendOutputLine(const wchar_t* text, int level) {
  if (list_ == nullptr || text == nullptr) return;
  InsertOutputLines(text, level, !list_->IsHoldingMouse(), list_->GetVisibleRowsBegin());
}

void COutputWnd::InsertOutputLines(std::wstring_view text, int level, bool follow, std::size_t oldTop) {
  wxWindowUpdateLocker noRedraw(list_);
  std::vector<std::size_t> selected;
  if (list_->GetSelectedCount() > 0) selected = list_->SelectedLines();
  const OutputLogModel::InsertResult inserted = model_.Insert(text, level);
  for (std::size_t i = inserted.firstNew; i < model_.Size(); ++i) list_->MeasureLine(model_, i);
  list_->SetItemCount(model_.Size());
  if (inserted.removed > 0 && !selected.empty()) {
    // The selection follows its lines up; lines that left the top leave it too.
    list_->DeselectAll();
    for (std::size_t line : selected) {
      if (line >= inserted.removed) list_->Select(line - inserted.removed);
    }
  }
  if (follow) {
    ScrollToEnd();
  } else if (model_.Size() > 0) {
    list_->ScrollToRow(KeptTopIndex(oldTop, inserted.removed, model_.Size()));
  }
  if (inserted.removed > 0 && captionListener_) captionListener_(model_.Caption());
  list_->Refresh();
}

void COutputWnd::ScrollToEnd() {
  if (model_.Size() == 0) return;
  list_->ScrollToRow(TopIndexForEnd(model_, list_->GetClientSize().y));
}

void COutputWnd::SetDpi(int dpi) {
  dpi_ = dpi;
  UpdateFontMetrics();
}

void COutputWnd::UpdateFontMetrics() {
  list_->UpdateFontMetrics(dpi_);
  list_->SetClientWidthForLayout(list_->GetClientSize().x);
  wxWindowUpdateLocker noRedraw(list_);
  list_->MeasureAllLines(model_);
  list_->SetItemCount(model_.Size());
  if (!list_->IsHoldingMouse()) ScrollToEnd();
  list_->Refresh();
}

void COutputWnd::OnSize(wxSizeEvent& event) {
  event.Skip();
  Layout();
  const int width = list_->GetClientSize().x;
  if (width == lastWidth_) return;
  lastWidth_ = width;
  list_->SetClientWidthForLayout(width);
  const bool follow = !list_->IsHoldingMouse();
  wxWindowUpdateLocker noRedraw(list_);
  list_->MeasureAllLines(model_);
  list_->SetItemCount(model_.Size());
  if (follow) ScrollToEnd();
  list_->Refresh();
}

bool COutputWnd::WriteLogFile(const std::wstring& path, std::wstring& error) {
  if (list_ == nullptr) {
    error = L"the log is not created";
    return false;
  }
  if (!app::WriteLogFile(PathFromWide(path), model_.FileBytes(), error)) return false;
  if (writtenListener_) writtenListener_(PathFromWide(path));
  lastSavePath_ = path;
  const std::size_t slash = path.find_last_of(L'/');
  if (slash != std::wstring::npos && slash > 0) lastSaveFolder_ = path.substr(0, slash);
  return true;
}

void COutputWnd::SaveOutputLog() {
  // A file the log must not replace is refused before the question whether to replace it, and
  // the dialog comes again; a name that comes past the dialog is refused here and asked again.
  const auto refusal = [this](const std::filesystem::path& path) {
    const std::wstring why = refuseTarget_ ? refuseTarget_(path) : std::wstring();
    return why.empty() ? why : L"The log could not be saved: " + why;
  };
  for (;;) {
    std::optional<std::wstring> path;
    if (askSavePath_) {
      path = askSavePath_(lastSaveFolder_, L"Tessary log.txt");
    } else {
      WxPrompter prompter(this);
      const std::optional<std::filesystem::path> chosen = prompter.AskSaveFile(
          {L"Save As", PathFromWide(lastSaveFolder_), L"Tessary log.txt",
           {{L"Text files (*.txt)", {L"*.txt"}}, {L"All files (*.*)", {L"*"}}}, refusal});
      if (chosen) path = PathToWide(*chosen);
    }
    if (!path) return;
    std::wstring message = refusal(PathFromWide(*path));
    const bool refused = !message.empty();
    std::wstring error;
    if (!refused) {
      if (WriteLogFile(*path, error)) return;
      message = L"The log could not be saved: " + error;
    }
    AppendOutputLine(message.c_str(), kLineWarning);
    if (reportError_) {
      reportError_(message);
    } else {
      wxMessageBox(message, wxS("Tessary"), wxOK | wxICON_ERROR, this);
    }
    if (!refused) return;
  }
}

void COutputWnd::CopyOutputSelection() {
  std::vector<std::size_t> lines = list_->SelectedLines();
  if (lines.empty()) {
    for (std::size_t i = 0; i < model_.Size() && lines.empty(); ++i) {
      if (list_->IsCurrent(i)) lines.push_back(i);
    }
  }
  const std::wstring text = model_.JoinLines(lines);
  if (text.empty() || !wxTheClipboard->Open()) return;
  wxTheClipboard->SetData(new wxTextDataObject(text));
  wxTheClipboard->Close();
}

void COutputWnd::ClearOutput() {
  model_.Clear();
  list_->SetItemCount(0);
  list_->Refresh();
}

void COutputWnd::OnMenu(wxCommandEvent& event) {
  switch (event.GetId()) {
    case wxID_COPY: CopyOutputSelection(); break;
    case wxID_SAVEAS: SaveOutputLog(); break;
    case wxID_CLEAR: ClearOutput(); break;
    default: event.Skip(); break;
  }
}

}  // namespace grainforge::app
