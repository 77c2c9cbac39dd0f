#include "app/shell/text_layout.h"

#include <gtest/gtest.h>

#include "app/shell/fixed_text_metrics.h"

namespace grainforge::app {
namespace {

// Ten pixels a character, so widths read as character counts times ten.
const FixedTextMetrics kTenPixels(10, 15);

std::vector<std::wstring> RowTexts(std::wstring_view text, const std::vector<TextRow>& rows) {
  std::vector<std::wstring> texts;
  for (const TextRow& row : rows) {
    texts.emplace_back(text.substr(static_cast<std::size_t>(row.start), static_cast<std::size_t>(row.end - row.start)));
  }
  return texts;
}

TEST(FitCount, CountsTheCharactersWhosePrefixFits) {
  EXPECT_EQ(FitCount(kTenPixels, L"abcdef", 35), 3);
  EXPECT_EQ(FitCount(kTenPixels, L"abcdef", 30), 3);
  EXPECT_EQ(FitCount(kTenPixels, L"abcdef", 9), 0);
  EXPECT_EQ(FitCount(kTenPixels, L"abcdef", 1000), 6);
  EXPECT_EQ(FitCount(kTenPixels, L"", 50), 0);
  EXPECT_EQ(FitCount(kTenPixels, L"abc", -5), 0);
}

struct WrapCase {
  const wchar_t* text;
  int first;
  int next;
  std::vector<std::wstring> rows;
};

TEST(WrapText, BreaksAtSpacesAndCutsWordsLongerThanARow) {
  const WrapCase cases[] = {
      {L"", 50, 50, {L""}},
      {L"short", 100, 100, {L"short"}},
      {L"aaa bbb ccc", 70, 70, {L"aaa bbb", L"ccc"}},
      // The space that does not fit is where the row breaks; the spaces after it are skipped.
      {L"aaa    bbb", 30, 30, {L"aaa", L"bbb"}},
      {L"abcdefghij", 40, 40, {L"abcd", L"efgh", L"ij"}},
      // Nothing fits: still one character per row, so wrapping always ends.
      {L"abc", 5, 5, {L"a", L"b", L"c"}},
      // Continuation rows have their own width.
      {L"aa bb cc dd ee", 50, 20, {L"aa bb", L"cc", L"dd", L"ee"}},
      // Trailing spaces after a break leave no empty row.
      {L"abcd   ", 40, 40, {L"abcd"}},
      {L"ab cd   ", 50, 50, {L"ab cd"}},
      {L"ab cd   ", 80, 80, {L"ab cd   "}},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(RowTexts(c.text, WrapText(kTenPixels, c.text, c.first, c.next)), c.rows) << std::wstring(c.text);
  }
}

TEST(WrapText, UsesEachCharactersOwnWidth) {
  FixedTextMetrics metrics(10, 15);
  metrics.SetAdvance(L'i', 2);
  metrics.SetAdvance(L'W', 30);
  // "iiiii " is 20 px, the next "W" would make 50: the row ends at the space. "WW" is 60 px
  // and is cut in two; a row of "W W" (70 px) never fits 45 px.
  const std::wstring text = L"iiiii W WW";
  EXPECT_EQ(RowTexts(text, WrapText(metrics, text, 45, 45)), (std::vector<std::wstring>{L"iiiii", L"W", L"W", L"W"}));
  EXPECT_EQ(RowTexts(text, WrapText(metrics, text, 80, 80)), (std::vector<std::wstring>{L"iiiii W", L"WW"}));

  // A row drawn on its own may be wider than its share of the line's extents (GTK drew "nothing
  // of that name is in its folder" 8 px wider, and the box cut it): the row gives way as drawn.
  struct DrawnWider final : ITextMetrics {
    std::vector<int> PartialExtents(std::wstring_view line) const override { return kTenPixels.PartialExtents(line); }
    int Width(std::wstring_view row) const override { return row.empty() ? 0 : kTenPixels.Width(row) + 8; }
    int LineHeight() const override { return 15; }
  } wider;
  const WrapCase cases[] = {
      {L"aaa bbb ccc", 70, 70, {L"aaa", L"bbb", L"ccc"}},
      {L"aaa bbb ccc", 78, 78, {L"aaa bbb", L"ccc"}},
      {L"abcdefghij", 40, 40, {L"abc", L"def", L"ghi", L"j"}},
      {L"abc", 5, 5, {L"a", L"b", L"c"}},  // still one character a row, so wrapping ends
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(RowTexts(c.text, WrapText(wider, c.text, c.first, c.next)), c.rows) << std::wstring(c.text);
  }
}

TEST(EllipsizeEnd, KeepsWhatFitsBeforeTheEllipsis) {
  EXPECT_EQ(EllipsizeEnd(kTenPixels, L"abcdef", 60), L"abcdef");
  EXPECT_EQ(EllipsizeEnd(kTenPixels, L"abcdef", 59), L"abcd\u2026");
  EXPECT_EQ(EllipsizeEnd(kTenPixels, L"abcdef", 10), L"\u2026");
  EXPECT_EQ(EllipsizeEnd(kTenPixels, L"abcdef", 9), L"");
  EXPECT_EQ(EllipsizeEnd(kTenPixels, L"", 0), L"");
}

TEST(CutWithEllipsis, AlwaysEndsInTheMark) {
  EXPECT_EQ(CutWithEllipsis(kTenPixels, L"abc", 100), L"abc\u2026");
  EXPECT_EQ(CutWithEllipsis(kTenPixels, L"abcdef", 40), L"abc\u2026");
  EXPECT_EQ(CutWithEllipsis(kTenPixels, L"abc", 5), L"");
}

TEST(SplitLines, TreatsEveryLineEndingTheSame) {
  const std::vector<std::wstring_view> expected = {L"a", L"b", L""};
  EXPECT_EQ(SplitLines(L"a\nb\n"), expected);
  EXPECT_EQ(SplitLines(L"a\r\nb\r\n"), expected);
  EXPECT_EQ(SplitLines(L"a\r\r\nb\r\r\n"), expected);
  EXPECT_EQ(SplitLines(L""), std::vector<std::wstring_view>{L""});
  // A carriage return that ends no line is kept.
  EXPECT_EQ(SplitLines(L"a\rb"), std::vector<std::wstring_view>{L"a\rb"});
}

TEST(CountWrappedRows, AddsTheRowsOfEveryLine) {
  EXPECT_EQ(CountWrappedRows(kTenPixels, L"aaa bbb\nccc", 30), 3);
  EXPECT_EQ(CountWrappedRows(kTenPixels, L"aaa bbb\r\nccc", 30), 3);
  EXPECT_EQ(CountWrappedRows(kTenPixels, L"one", 100), 1);
  EXPECT_EQ(CountWrappedRows(kTenPixels, L"", 100), 1);
}

}  // namespace
}  // namespace grainforge::app
