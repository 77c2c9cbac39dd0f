// Feeds arbitrary text to the help pages' Markdown layout and to the selection built on it: a
// help page in the user's folder is outside input. Every two bytes make one UTF-16 unit, so
// lone surrogates and every marker character are reachable; the first byte picks the pane's
// width. The layout must hold its invariants, and hit tests, highlights and copying over the
// whole page must stay inside it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/shell/fixed_text_metrics.h"
#include "app/workflow/help/markdown/markdown_view.h"

namespace {

using namespace grainforge::app;

class FuzzFonts final : public IMarkdownFonts {
public:
  FuzzFonts() : metrics_{{{7, 16}, {8, 16}, {7, 16}, {8, 16}, {6, 14}, {14, 30}, {12, 26}, {9, 20}}} {
    // Some characters of their own width, as a real font has.
    metrics_[0].SetAdvance(L' ', 3);
    metrics_[0].SetAdvance(L'|', 2);
    metrics_[1].SetAdvance(L'W', 13);
  }
  const ITextMetrics& Metrics(MarkdownFont font) const override { return metrics_[static_cast<std::size_t>(font)]; }

private:
  std::array<FixedTextMetrics, kMarkdownFontCount> metrics_;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckLayout(const MarkdownLayout& layout) {
  Check(layout.lineTops.size() == layout.lines.size());
  for (const FormattedLine& line : layout.lines) {
    Check(line.height >= 0);
    if (line.isTableRow) {
      Check(line.cells.size() == line.columnWidths.size());
      Check(line.cells.size() == line.columnAlignments.size());
      Check(line.cells.size() <= kMaxTableColumns);
      continue;
    }
    Check(line.segmentStarts.size() == line.segments.size() + 1);
    Check(line.segmentStarts.back() == static_cast<int>(line.plainText.size()));
    for (const TextSegment& segment : line.segments) Check(!segment.text.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::wstring text;
  for (std::size_t i = 1; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));

  MarkdownGeometry geometry;
  geometry.clientWidth = 16 + data[0] * 2;
  geometry.clientHeight = 120;
  geometry.lineHeight = 16;
  const FuzzFonts fonts;
  MarkdownView view;
  view.SetGeometry(geometry);
  view.SetText(text);
  view.EnsureLayout(fonts);
  const MarkdownLayout& layout = view.Layout();
  CheckLayout(layout);

  for (int y = -20; y < 400; y += 37) {
    for (int x = -5; x < geometry.clientWidth + 20; x += 23) {
      const TextPosition at = view.HitTest(fonts, PixelPoint{x, y});
      Check(layout.lines.empty() ? at.line == -1 : at.line >= 0 && at.line < static_cast<int>(layout.lines.size()));
      if (at.line >= 0) {
        Check(at.character >= 0 && at.character <= static_cast<int>(layout.lines[at.line].plainText.size()));
        view.SelectWordAt(at);
      }
    }
    view.Wheel(-120);
  }
  if (view.SelectAll()) {
    const std::size_t shown = std::min<std::size_t>(layout.lines.size(), 64);
    for (std::size_t i = 0; i < shown; ++i) {
      if (const auto span = view.Highlight(fonts, static_cast<int>(i))) Check(span->right > span->left);
    }
    std::size_t plain = 0;
    for (const FormattedLine& line : layout.lines) plain += line.plainText.size() + 2;
    Check(view.SelectedText().size() <= plain);
  }
  return 0;
}
