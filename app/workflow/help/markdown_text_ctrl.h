#pragma once

// The help pane: a read-only, scrolling, selectable view of a Markdown help page, shown on the
// left of every settings dialog. The page model (layout, scrolling, selection) is MarkdownView;
// this window measures with its fonts, paints, and turns mouse, wheel, keys and the context
// menu into MarkdownView calls. Text is copied through the clipboard as plain text.

#include <array>
#include <string>

#include <wx/font.h>
#include <wx/timer.h>
#include <wx/window.h>

#include "app/workflow/help/markdown/markdown_view.h"

class wxDialog;
class wxDC;

namespace grainforge::app {

// The layout constants of a help page at a DPI.
MarkdownSpacing MarkdownSpacingAt(int dpi);

// The pixel size of a help page font at a DPI: the whole-number part of baseFontSize times the
// font's factor (1 for body text, 0.9 code, 1.75, 1.5 and 1.2 for the three headings), scaled.
int MarkdownFontPixelSize(MarkdownFont font, int baseFontSize, int dpi);

// Inner margins in pixels at 96 dpi.
struct MarkdownMargins {
  int left = 14;
  int top = 10;
  int right = 10;
  int bottom = 12;
};

class CMarkdownTextCtrl final : public wxWindow {
public:
  static constexpr int kAutoScrollTimerId = 44449;
  static constexpr int kAutoScrollIntervalMs = 50;
  static constexpr int kBaseFontSize = 16;
  // The context menu's commands.
  static constexpr int kIdCopy = 57345;
  static constexpr int kIdSelectAll = 57346;

  CMarkdownTextCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxDefaultSize);
  ~CMarkdownTextCtrl() override;

  // A new page, shown from the top with nothing selected.
  void SetPageText(std::wstring text);
  void SetColours(const wxColour& text, const wxColour& background);
  void SetMargins(const MarkdownMargins& margins);

  // Lays the page out when the text, size, DPI or margins changed since the last layout.
  void EnsureLayout();
  // Scrolls to y pixels from the top (clamped); true when the view moved.
  bool ScrollTo(int y);

  // Selection and copy (the Ctrl+A and Ctrl+C keys and the context menu run these).
  void SelectAll();
  void ClearSelection();
  std::wstring GetSelectedText() const { return view_.SelectedText(); }
  // Puts the selection on the clipboard as text; false (and the clipboard untouched) without a
  // selection or when the clipboard cannot be opened.
  bool CopySelection();

  const MarkdownView& View() const { return view_; }
  // The text position under a client point, after bringing the layout up to date.
  TextPosition HitTest(const wxPoint& point);
  bool IsAutoScrolling() const { return autoScrollTimer_.IsRunning(); }

private:
  void CreateFonts();
  void ComputeLineHeight();
  void UpdateGeometry();
  void UpdateScrollBar();
  void ApplyScroll(bool changed);
  void StopAutoScroll();
  void EndDrag();

  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnDpiChanged(wxDPIChangedEvent& event);
  void OnScroll(wxScrollWinEvent& event);
  void OnWheel(wxMouseEvent& event);
  void OnKeyDown(wxKeyEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftDoubleClick(wxMouseEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnTimer(wxTimerEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);

  void PaintTextLine(wxDC& dc, int index, const FormattedLine& line, int top);
  void PaintTableRow(wxDC& dc, int index, const FormattedLine& line, int top);
  void PaintRule(wxDC& dc, int index, const FormattedLine& line, int top);

  MarkdownView view_;
  std::array<wxFont, kMarkdownFontCount> fonts_;
  wxColour textColour_{255, 255, 255};
  wxColour backgroundColour_{0, 0, 0};
  MarkdownMargins margins_;
  int dpi_ = 96;
  int lineHeight_ = 0;
  // The widest the vertical scroll bar has been, at least the system's figure.
  int reservedBarWidth_ = 0;
  wxTimer autoScrollTimer_;
  bool dragging_ = false;
  wxPoint lastMousePoint_;
};

// Window id of the help pane inside a dialog.
inline constexpr int kHelpPaneId = 32528;
// The least height of a help pane, in dialog units.
inline constexpr int kHelpPaneLeastHeight = 160;

// Widens the dialog by a strip on its left (190 dialog units and a margin of 8), moves its
// contents right and shows the page there in a help pane. Returns the pane (owned by the
// dialog), or null when it could not be made: the dialog then has no help pane.
CMarkdownTextCtrl* AttachHelpPane(wxDialog* dialog, const std::wstring& text);

}  // namespace grainforge::app
