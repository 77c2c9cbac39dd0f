#pragma once

// Fixed-advance fonts for the help page tests: every body font advances 10 px a character, code
// 9 px, the headings 20, 16 and 12 px, so expected positions can be worked out by hand.

#include <array>

#include "app/shell/fixed_text_metrics.h"
#include "app/workflow/help/markdown/markdown_layout.h"

namespace grainforge::app::test {

class FakeMarkdownFonts final : public IMarkdownFonts {
public:
  static constexpr int kBodyAdvance = 10;
  static constexpr int kBodyLine = 18;
  static constexpr int kCodeLine = 16;
  static constexpr int kHeading1Line = 32;

  FakeMarkdownFonts()
      : metrics_{{{kBodyAdvance, kBodyLine}, {kBodyAdvance, kBodyLine}, {kBodyAdvance, kBodyLine},
                  {kBodyAdvance, kBodyLine}, {9, kCodeLine}, {20, kHeading1Line}, {16, 28}, {12, 22}}} {}
  const ITextMetrics& Metrics(MarkdownFont font) const override {
    return metrics_[static_cast<std::size_t>(font)];
  }
  FixedTextMetrics& Body() { return metrics_[0]; }

private:
  std::array<FixedTextMetrics, kMarkdownFontCount> metrics_;
};

// A pane 300 px wide and 200 high with the control's default margins: text runs from x = 14 to
// 290, room for 27 body characters.
inline MarkdownGeometry TestGeometry(int width = 300, int height = 200) {
  MarkdownGeometry g;
  g.clientWidth = width;
  g.clientHeight = height;
  g.lineHeight = FakeMarkdownFonts::kBodyLine;
  return g;
}

}  // namespace grainforge::app::test
