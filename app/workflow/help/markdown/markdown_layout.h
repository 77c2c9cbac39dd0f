#pragma once

// The help pages' Markdown dialect and its layout into display lines. The text is joined into
// one line per paragraph, list item and quote, then read line by line: fenced code blocks, pipe
// tables with a separator row, rules, quotes, three heading sizes, bullet and numbered items
// (one level), and bold, italic and code spans inside ordinary text. There are no links,
// images, nested lists, escapes or HTML. Every text is accepted and shown; nothing here needs
// a window system, so the layout is measured through ITextMetrics (fake metrics in tests).
//
// Every pixel amount is already scaled to the window's DPI by the caller (MarkdownSpacing).

#include <string>
#include <string_view>
#include <vector>

#include "app/shell/text_metrics.h"

namespace grainforge::app {

// One styled run of text. Styles do not combine, except bold with italic.
struct TextSegment {
  std::wstring text;
  bool bold = false;
  bool italic = false;
  bool code = false;
  int headingLevel = 0;  // 0 body text, 1 to 3 headings
  friend bool operator==(const TextSegment&, const TextSegment&) = default;
};

// One display line.
struct FormattedLine {
  std::vector<TextSegment> segments;  // reading order; empty for rules and table rows
  int indent = 0;                     // 0 or 1; 1 starts MarkdownSpacing::indent further right
  int height = 0;                     // pixels
  bool isTableRow = false;
  bool isHeaderRow = false;  // table rows only
  bool isFirstRow = false;   // table rows only
  std::vector<std::wstring> cells;    // table rows only
  std::vector<int> columnWidths;      // table rows only; the same for every row of one table
  std::vector<int> columnAlignments;  // table rows only: 0 left, 1 centre, 2 right
  bool isRule = false;
  bool isQuote = false;  // drawn with a bar on the left
  // What selection and copy see: the segments' texts in a row, or a table row's cells joined
  // by tabs.
  std::wstring plainText;
  // Offset in plainText where each segment starts, then plainText's length. Empty for table rows.
  std::vector<int> segmentStarts;
  // Second and later display lines of one wrapped logical line: copied without a line break.
  bool isContinuation = false;
};

// The eight fonts of a help page, in the order the control creates them.
enum class MarkdownFont : int { Normal, Bold, Italic, BoldItalic, Code, Heading1, Heading2, Heading3 };
inline constexpr int kMarkdownFontCount = 8;

// Measures text in each of the page's fonts; LineHeight is the font's height plus its leading.
class IMarkdownFonts {
public:
  virtual ~IMarkdownFonts() = default;
  virtual const ITextMetrics& Metrics(MarkdownFont font) const = 0;
};

// Layout and drawing constants, in pixels at the page's DPI. The defaults are the sizes at
// 96 dpi; MarkdownSpacingAt (markdown_text_ctrl.h) scales them.
struct MarkdownSpacing {
  int indent = 20;              // list items and quotes
  int ruleExtra = 8;            // a rule is a line height plus this
  int lineGap = 4;              // added to the tallest font of a text line
  int fallbackLineHeight = 16;  // used while no line height has been measured
  int tableSlack = 8;           // kept free right of a table
  int columnPadding = 16;       // added to a column's widest cell
  int minColumnWidth = 40;      // columns of a table too wide for the pane shrink to this
  int cellInset = 6;            // on each side of a cell's text
  int cellTop = 4;              // above a cell's text
  int cellBottom = 2;           // below a cell's text
  int minCellTextWidth = 8;
  int rowExtra = 8;             // a table row is at least a normal line plus this
  int quoteBarLeft = 2;
  int quoteBarWidth = 3;
  friend bool operator==(const MarkdownSpacing&, const MarkdownSpacing&) = default;
};

// The page's box and the values the control measured.
struct MarkdownGeometry {
  int clientWidth = 0;
  int clientHeight = 0;
  // Always reserved on the right, whether the bar is shown or not, so that showing the bar
  // never changes the layout.
  int scrollBarWidth = 0;
  int marginLeft = 14;
  int marginTop = 10;
  int marginRight = 10;
  int marginBottom = 12;
  int lineHeight = 0;  // the normal font's line height; 0 until measured
  MarkdownSpacing spacing;

  // The right edge text may reach.
  int AvailableRight() const { return clientWidth - scrollBarWidth - marginRight; }
  // lineHeight, or the fallback while none has been measured.
  int LineOrFallback() const { return lineHeight >= 1 ? lineHeight : spacing.fallbackLineHeight; }
  friend bool operator==(const MarkdownGeometry&, const MarkdownGeometry&) = default;
};

struct MarkdownLayout {
  std::vector<FormattedLine> lines;
  // Sum of the line heights plus the top and bottom margins; 0 for an empty layout.
  int contentHeight = 0;
  // Top of each line from the first line's top (the top margin not included).
  std::vector<int> lineTops;
};

// Lays out the text for the geometry. Empty text, or a pane too narrow for one column of
// text, gives an empty layout.
MarkdownLayout ParseMarkdown(std::wstring_view text, const MarkdownGeometry& geometry, const IMarkdownFonts& fonts);

// The joining pre-pass: one output line per paragraph, list item and quote (soft-wrapped
// source lines joined by one space); blank lines, rules, headings, tables and code pass as
// they are.
std::wstring UnwrapMarkdownLines(std::wstring_view text);

// Appends the cells of a pipe-table row: one leading and one trailing "|" dropped, split at
// every "|", each cell trimmed. An empty rest gives one empty cell.
void SplitTableRow(std::wstring_view line, std::vector<std::wstring>& cells);

// A row like "|:---|---:|": every cell is dashes with an optional ":" at either end.
bool IsTableSeparatorRow(std::wstring_view line);

// The bold, italic and code spans of an ordinary line; empty spans are left out and an
// unclosed marker is plain text (an unclosed "**" reads as an empty italic span and vanishes).
std::vector<TextSegment> ParseInlineSpans(std::wstring_view text);

// The font a segment is measured and drawn in.
MarkdownFont SegmentFont(const TextSegment& segment);

// Fills plainText and segmentStarts from the segments, or plainText from the cells.
void BuildPlainText(FormattedLine& line);

// Shrinks table columns until they fit in `room`: one pixel at a time from the widest column
// wider than minWidth (the first of equal ones), at most maxSteps pixels in all. Works out the
// result directly, so a table of thousands of columns costs no more than a small one.
std::vector<int> ShrinkColumnWidths(std::vector<int> widths, int room, int minWidth, int maxSteps);

// Tables keep at most this many columns; the cells beyond are dropped. Each row stores every
// column, so a hostile header of a million "|" would otherwise multiply with every row.
inline constexpr std::size_t kMaxTableColumns = 64;

}  // namespace grainforge::app
