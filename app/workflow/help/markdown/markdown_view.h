#pragma once

// What a help pane shows and how it responds, without the window: the page text and its layout,
// the scroll position, the wheel and key scrolling, hit testing, and the selection with the text
// it copies. The window (CMarkdownTextCtrl) turns events into these calls and paints what they
// say. Positions are (display line, character offset in that line's plainText).

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell/kit/pixel_rect.h"
#include "app/workflow/help/markdown/markdown_layout.h"

namespace grainforge::app {

struct TextPosition {
  int line = -1;  // -1: no position
  int character = 0;
  friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
};

enum class MarkdownScrollKey { PageUp, PageDown, Home, End, Up, Down };

// The horizontal extent of a line's selection highlight, in client pixels.
struct HighlightSpan {
  int left = 0;
  int right = 0;
  friend bool operator==(HighlightSpan, HighlightSpan) = default;
};

// One wheel notch, as the toolkits count wheel rotation.
inline constexpr int kWheelDelta = 120;
// Lines scrolled per wheel notch.
inline constexpr int kWheelLinesPerNotch = 3;

class MarkdownView {
public:
  // A new page: scrolled to the top, selection cleared, layout rebuilt on next use.
  void SetText(std::wstring text);
  const std::wstring& Text() const { return text_; }

  // The box, margins, measured line height and DPI spacing; a change marks the layout dirty
  // and clears the selection, whose positions refer to the old layout.
  void SetGeometry(const MarkdownGeometry& geometry);
  const MarkdownGeometry& Geometry() const { return geometry_; }

  bool IsLayoutDirty() const { return layoutDirty_; }
  // Rebuilds a dirty layout with the fonts; true when it did, so that the caller updates its
  // scroll bar. The scroll position is kept within the new content.
  bool EnsureLayout(const IMarkdownFonts& fonts);
  const MarkdownLayout& Layout() const { return layout_; }

  // ---- Scrolling -----------------------------------------------------------------------------
  int ScrollPos() const { return scrollPos_; }
  int MaxScroll() const;
  bool ContentFits() const { return layout_.contentHeight <= geometry_.clientHeight; }
  // Clamps y to [0, MaxScroll()]; true when the position changed.
  bool ScrollTo(int y);
  // Collects wheel units and scrolls three lines per whole notch (up for positive deltas); a
  // turn the other way first drops what was collected. Nothing happens when the content fits.
  bool Wheel(int delta);
  bool ScrollByKey(MarkdownScrollKey key);
  // The client area less the margins and the reserved scroll bar width.
  PixelRect TextRect() const;
  // The first line that can be on screen, for painting from there on.
  int FirstVisibleLine() const;

  // ---- Positions -----------------------------------------------------------------------------
  // The position under a client point; line -1 only when there are no lines. Needs a current
  // layout.
  TextPosition HitTest(const IMarkdownFonts& fonts, PixelPoint point) const;
  // x of every segment's start and, last, of the line's end.
  std::vector<int> SegmentPositions(const IMarkdownFonts& fonts, const FormattedLine& line) const;

  // ---- Selection -----------------------------------------------------------------------------
  TextPosition Anchor() const { return anchor_; }
  TextPosition End() const { return end_; }
  bool HasSelection() const;
  // True when there was a selection (the caller repaints).
  bool ClearSelection();
  // Selects every line; false when there are none.
  bool SelectAll();
  // Selects the run of word or space characters at the position, or a whole table row.
  bool SelectWordAt(TextPosition at);
  void BeginSelection(TextPosition at);
  // Moves the selection's end; true when it changed.
  bool ExtendSelection(TextPosition at);
  // The selection as plain text: lines joined by LF, as text on this system is, wrapped lines joined without a break,
  // table rows whole with tab-separated cells, trailing white space removed.
  std::wstring SelectedText() const;
  // The highlight of one line, or none when the line is not selected or nothing shows.
  std::optional<HighlightSpan> Highlight(const IMarkdownFonts& fonts, int lineIndex) const;

  // The auto-scroll step for a drag at client y: negative above the text area, positive below,
  // 0 inside it or when the content fits (the timer then stops). Its size is the distance,
  // held between half a line and three lines.
  int AutoScrollStep(int mouseY) const;

private:
  struct OrderedEnds {
    TextPosition first;
    TextPosition last;
  };
  // The ends in order, clamped to the layout, table rows at either end taken whole.
  std::optional<OrderedEnds> Ordered() const;
  int XAtCharacter(const IMarkdownFonts& fonts, const FormattedLine& line, const std::vector<int>& positions,
                   int character) const;
  int LineStartX(const FormattedLine& line) const;

  std::wstring text_;
  MarkdownGeometry geometry_;
  MarkdownLayout layout_;
  bool layoutDirty_ = true;
  int scrollPos_ = 0;
  int wheelRemainder_ = 0;
  TextPosition anchor_;
  TextPosition end_;
};

// The character offset in `text` nearest to x pixels from its start: a click on a character's
// right half places the position after it.
int CharAtX(const ITextMetrics& metrics, std::wstring_view text, int x);

// Keeps a position off the second half of a surrogate pair (text from another system's
// clipboard or files may hold UTF-16 units).
int AvoidSplitSurrogate(std::wstring_view text, int character);

}  // namespace grainforge::app
