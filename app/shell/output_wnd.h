#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/panel.h>
#include <wx/vlbox.h>

#include "app/shell/output_log.h"

namespace grainforge::app {

class COutputWnd;

// The dark owner-drawn list of log lines: one entry per line, wrapped with a hanging indent,
// coloured by level and spans.
class COutputList final : public wxVListBox {
public:
  COutputList(wxWindow* parent, const OutputLogModel& model);

  // Takes the interface font and the DPI's sizes, and re-measures every entry.
  void UpdateFontMetrics(int dpi);
  void SetClientWidthForLayout(int width) { geometry_.clientWidth = width; }
  const OutputListGeometry& Geometry() const { return geometry_; }

  std::vector<TextRow> WrapLine(std::wstring_view text) const;
  int HangingIndent(std::wstring_view text) const;
  // Re-measures one entry (or all) and stores the height in the model when it changed.
  void MeasureLine(OutputLogModel& model, std::size_t index) const;
  void MeasureAllLines(OutputLogModel& model) const;

  // A held mouse button means the user is reading or selecting: new lines must not scroll.
  bool IsHoldingMouse() const { return HasCapture(); }
  std::vector<std::size_t> SelectedLines() const;

private:
  void OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const override;
  wxCoord OnMeasureItem(size_t n) const override;
  void OnDrawBackground(wxDC& dc, const wxRect& rect, size_t n) const override;
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);

  const OutputLogModel& model_;
  OutputListGeometry geometry_;
  wxBitmap measureBitmap_;
  wxMemoryDC measureDc_;
};

// The "Output" pane: the program's log. Every other part reports through AppendOutputLine.
class COutputWnd final : public wxPanel {
public:
  // Asks where to save the log (initial folder, default name); nothing when cancelled.
  using SavePathAsker = std::function<std::optional<std::wstring>(const std::wstring&, const std::wstring&)>;
  using ErrorReporter = std::function<void(const std::wstring&)>;
  // Why the log must not replace the file at a path ("it is the part the program has open,
  // which the log never replaces"), or empty when it may.
  using TargetRefusal = std::function<std::wstring(const std::filesystem::path&)>;

  explicit COutputWnd(wxWindow* parent);

  void AppendOutputLine(const wchar_t* text, int level);
  void InsertOutputLines(std::wstring_view text, int level, bool follow, std::size_t oldTop);
  void ScrollToEnd();
  void SetDpi(int dpi);
  void UpdateFontMetrics();

  bool WriteLogFile(const std::wstring& path, std::wstring& error);
  // The context menu's Save As: asks for a file and writes the log there; a refused file is
  // said and asked for again, a failed write is said.
  void SaveOutputLog();
  void CopyOutputSelection();
  void ClearOutput();

  std::wstring Caption() const { return model_.Caption(); }
  // Called with the new caption whenever lines are discarded; the hosting pane shows it.
  void SetCaptionListener(std::function<void(const std::wstring&)> listener) { captionListener_ = std::move(listener); }
  void SetSavePathAsker(SavePathAsker asker) { askSavePath_ = std::move(asker); }
  void SetErrorReporter(ErrorReporter reporter) { reportError_ = std::move(reporter); }
  // Save As never writes the log where this refuses it.
  void SetTargetRefusal(TargetRefusal refusal) { refuseTarget_ = std::move(refusal); }
  // Told of every file WriteLogFile wrote (Save As and --log-file alike), once it is written.
  void SetWrittenListener(std::function<void(const std::filesystem::path&)> listener) {
    writtenListener_ = std::move(listener);
  }

  const OutputLogModel& Model() const { return model_; }
  COutputList* List() const { return list_; }

private:
  void OnSize(wxSizeEvent& event);
  void OnMenu(wxCommandEvent& event);

  OutputLogModel model_;
  COutputList* list_ = nullptr;
  int dpi_ = 96;
  std::wstring lastSavePath_;
  std::wstring lastSaveFolder_;
  int lastWidth_ = -1;
  std::function<void(const std::wstring&)> captionListener_;
  SavePathAsker askSavePath_;
  ErrorReporter reportError_;
  TargetRefusal refuseTarget_;
  std::function<void(const std::filesystem::path&)> writtenListener_;
};

}  // namespace grainforge::app
