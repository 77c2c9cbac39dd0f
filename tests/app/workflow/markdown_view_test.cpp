#include "app/workflow/help/markdown/markdown_view.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/app/workflow/markdown_test_fonts.h"

namespace grainforge::app {
namespace {

using test::FakeMarkdownFonts;
using test::TestGeometry;

struct Pane {
  explicit Pane(std::wstring text, MarkdownGeometry geometry = TestGeometry()) {
    view.SetGeometry(geometry);
    view.SetText(std::move(text));
    view.EnsureLayout(fonts);
  }
  TextPosition Hit(int x, int y) const { return view.HitTest(fonts, PixelPoint{x, y}); }
  FakeMarkdownFonts fonts;
  MarkdownView view;
};

// Thirty short paragraphs: far taller than the 200 px pane.
std::wstring TallPage() {
  std::wstring text;
  for (int i = 0; i < 30; ++i) text += L"paragraph\n\n";
  return text;
}

TEST(CharAtX, ARightHalfClickPlacesThePositionAfterTheCharacter) {
  const FakeMarkdownFonts fonts;
  const ITextMetrics& body = fonts.Metrics(MarkdownFont::Normal);
  struct Case {
    int x;
    int character;
  } const cases[] = {{0, 0}, {4, 0}, {5, 1}, {14, 1}, {15, 2}, {29, 3}, {30, 3}, {500, 3}};
  for (const Case& c : cases) EXPECT_EQ(CharAtX(body, L"abc", c.x), c.character) << c.x;
  EXPECT_EQ(CharAtX(body, L"", 50), 0);
}

TEST(MarkdownViewHitTest, FindsLineAndCharacter) {
  const Pane pane(L"hello world\n\nsecond");
  struct Case {
    int x;
    int y;
    TextPosition at;
  } const cases[] = {
      {14, 15, {0, 0}},     // at the line's start
      {39, 15, {0, 3}},     // right half of the third character
      {500, 15, {0, 11}},   // past the end of the line
      {60, -50, {0, 0}},    // above the text
      {60, 45, {1, 0}},     // the empty line between the paragraphs
      {60, 999, {2, 6}},    // below the last line
  };
  for (const Case& c : cases) EXPECT_EQ(pane.Hit(c.x, c.y), c.at) << c.x << "," << c.y;
  EXPECT_EQ(Pane(L"").Hit(10, 10).line, -1);
}

TEST(MarkdownViewHitTest, TableRowsHitTheirStartOrEnd) {
  const Pane pane(L"|A|B|\n|-|-|\n|1|2|");
  // Two 26 px columns from x = 14: the middle is at 40.
  EXPECT_EQ(pane.Hit(39, 15), (TextPosition{0, 0}));
  EXPECT_EQ(pane.Hit(40, 15), (TextPosition{0, 3}));
}

TEST(MarkdownViewHitTest, NeverLandsBetweenTheHalvesOfASurrogatePair) {
  const std::wstring text{L'a', static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00), L'b'};
  const Pane pane(text);
  // 15 px into the text is the right half of the high surrogate: position 2 would split it.
  EXPECT_EQ(pane.Hit(29, 15), (TextPosition{0, 1}));
  EXPECT_EQ(AvoidSplitSurrogate(text, 2), 1);
  EXPECT_EQ(AvoidSplitSurrogate(text, 3), 3);
  EXPECT_EQ(AvoidSplitSurrogate(text, 9), 4);
}

TEST(MarkdownViewSelection, CopiesWrappedLinesParagraphsAndTableRows) {
  struct Case {
    std::wstring text;
    TextPosition anchor;
    TextPosition end;
    std::wstring copied;
  } const cases[] = {
      // Three display lines of one paragraph copy as one line.
      {L"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll", {0, 0}, {2, 9},
       L"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll"},
      // Two paragraphs, and the empty line between them adds one more break.
      {L"one\n\ntwo", {0, 0}, {2, 3}, L"one\n\ntwo"},
      // Starting inside a table row takes the whole row, cells separated by tabs.
      {L"|A|B|\n|-|-|\n|1|2|", {0, 1}, {1, 1}, L"A\tB\n1\t2"},
      // Ends in either order; trailing white space is dropped.
      {L"hello world", {0, 6}, {0, 2}, L"llo"},
      {L"hello world", {0, 4}, {0, 4}, L""},
  };
  for (const Case& c : cases) {
    Pane pane(c.text);
    pane.view.BeginSelection(c.anchor);
    pane.view.ExtendSelection(c.end);
    EXPECT_EQ(pane.view.SelectedText(), c.copied) << std::wstring(c.text);
  }
}

TEST(MarkdownViewSelection, SelectAllCoversEveryLineAndNothingWithoutLines) {
  Pane pane(L"# Title\n\ntext");
  ASSERT_TRUE(pane.view.SelectAll());
  EXPECT_EQ(pane.view.SelectedText(), L"Title\n\ntext");
  Pane empty(L"");
  EXPECT_FALSE(empty.view.SelectAll());
  EXPECT_EQ(empty.view.SelectedText(), L"");
}

TEST(MarkdownViewSelection, DoubleClickSelectsAWordOrARunOfSpaces) {
  struct Case {
    int character;
    TextPosition anchor;
    TextPosition end;
  } const cases[] = {{4, {0, 3}, {0, 6}}, {1, {0, 0}, {0, 3}}, {100, {0, 6}, {0, 9}}};
  for (const Case& c : cases) {
    Pane pane(L"one   two");
    ASSERT_TRUE(pane.view.SelectWordAt({0, c.character}));
    EXPECT_EQ(pane.view.Anchor(), c.anchor) << c.character;
    EXPECT_EQ(pane.view.End(), c.end) << c.character;
  }
  Pane table(L"|A|B|\n|-|-|");
  ASSERT_TRUE(table.view.SelectWordAt({0, 0}));
  EXPECT_EQ(table.view.SelectedText(), L"A\tB");
}

TEST(MarkdownViewSelection, HighlightRunsFromCharacterToCharacterOrToTheEdge) {
  Pane pane(L"hello world\n\nsecond");
  pane.view.BeginSelection({0, 2});
  pane.view.ExtendSelection({0, 5});
  EXPECT_EQ(pane.view.Highlight(pane.fonts, 0), (HighlightSpan{34, 64}));
  EXPECT_FALSE(pane.view.Highlight(pane.fonts, 2));

  pane.view.ExtendSelection({2, 3});
  // A line before the last selected one is lit to the right edge of the text area.
  EXPECT_EQ(pane.view.Highlight(pane.fonts, 0), (HighlightSpan{34, 290}));
  EXPECT_FALSE(pane.view.Highlight(pane.fonts, 1)) << "an empty line shows no highlight";
  EXPECT_EQ(pane.view.Highlight(pane.fonts, 2), (HighlightSpan{14, 44}));
}

TEST(MarkdownViewSelection, AChangedPaneClearsTheSelection) {
  Pane pane(L"hello world");
  pane.view.SelectAll();
  pane.view.SetGeometry(TestGeometry(280, 200));
  EXPECT_FALSE(pane.view.HasSelection());
  EXPECT_TRUE(pane.view.IsLayoutDirty());
}

TEST(MarkdownViewScrolling, AFittingPageDoesNotScroll) {
  Pane pane(L"short");
  EXPECT_TRUE(pane.view.ContentFits());
  EXPECT_FALSE(pane.view.Wheel(-120));
  EXPECT_FALSE(pane.view.ScrollByKey(MarkdownScrollKey::End));
  EXPECT_EQ(pane.view.ScrollPos(), 0);
}

TEST(MarkdownViewScrolling, WheelCollectsPartialNotchesAndDropsThemOnReversal) {
  Pane pane(TallPage());
  ASSERT_FALSE(pane.view.ContentFits());
  EXPECT_FALSE(pane.view.Wheel(-40));
  EXPECT_FALSE(pane.view.Wheel(-40));
  EXPECT_TRUE(pane.view.Wheel(-40));
  EXPECT_EQ(pane.view.ScrollPos(), 3 * FakeMarkdownFonts::kBodyLine);

  EXPECT_FALSE(pane.view.Wheel(-40));
  EXPECT_FALSE(pane.view.Wheel(-40));
  // Turning back drops the 80 units collected downwards: two more messages are needed.
  EXPECT_FALSE(pane.view.Wheel(40));
  EXPECT_FALSE(pane.view.Wheel(40));
  EXPECT_TRUE(pane.view.Wheel(40));
  EXPECT_EQ(pane.view.ScrollPos(), 0);
}

TEST(MarkdownViewScrolling, KeysScrollByLinesAndPagesWithinTheContent) {
  Pane pane(TallPage());
  const int line = FakeMarkdownFonts::kBodyLine;
  struct Step {
    MarkdownScrollKey key;
    int pos;
  } const steps[] = {
      {MarkdownScrollKey::Down, line},
      {MarkdownScrollKey::PageDown, line + 200 - line},
      {MarkdownScrollKey::Up, 200 - line},
      {MarkdownScrollKey::End, pane.view.MaxScroll()},
      {MarkdownScrollKey::PageUp, pane.view.MaxScroll() - (200 - line)},
      {MarkdownScrollKey::Home, 0},
  };
  for (const Step& step : steps) {
    pane.view.ScrollByKey(step.key);
    EXPECT_EQ(pane.view.ScrollPos(), step.pos) << static_cast<int>(step.key);
  }
  EXPECT_EQ(pane.view.MaxScroll(), pane.view.Layout().contentHeight - 200);
}

TEST(MarkdownViewScrolling, DragAutoScrollStepsBetweenHalfALineAndThreeLines) {
  Pane pane(TallPage());
  const int line = FakeMarkdownFonts::kBodyLine;
  // The text area runs from y = 10 to 188.
  struct Case {
    int y;
    int step;
  } const cases[] = {{5, -line / 2}, {-400, -3 * line}, {100, 0}, {188 + 20, 20}, {188 + 500, 3 * line}};
  for (const Case& c : cases) EXPECT_EQ(pane.view.AutoScrollStep(c.y), c.step) << c.y;
  EXPECT_EQ(Pane(L"short").view.AutoScrollStep(500), 0);
}

TEST(MarkdownViewScrolling, ARelayoutKeepsTheScrollPositionInsideTheShorterContent) {
  Pane pane(TallPage());
  ASSERT_TRUE(pane.view.ScrollTo(pane.view.MaxScroll()));
  // A taller pane leaves less to scroll: the old position would show blank space below the end.
  pane.view.SetGeometry(TestGeometry(300, 900));
  pane.view.EnsureLayout(pane.fonts);
  EXPECT_EQ(pane.view.ScrollPos(), pane.view.MaxScroll());
  pane.view.SetGeometry(TestGeometry(300, 5000));
  pane.view.EnsureLayout(pane.fonts);
  EXPECT_EQ(pane.view.ScrollPos(), 0);
}

TEST(MarkdownViewScrolling, HitTestFollowsTheScrollPosition) {
  Pane pane(TallPage());
  const TextPosition before = pane.Hit(20, 15);
  ASSERT_TRUE(pane.view.ScrollTo(pane.view.Layout().lineTops[4]));
  EXPECT_EQ(pane.Hit(20, 15).line, before.line + 4);
  EXPECT_EQ(pane.view.FirstVisibleLine(), 3) << "the line under the top margin can still show";
}

}  // namespace
}  // namespace grainforge::app
