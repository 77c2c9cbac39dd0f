#include "app/workflow/help/markdown/markdown_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/workflow/markdown_test_fonts.h"

namespace grainforge::app {
namespace {

using test::FakeMarkdownFonts;
using test::TestGeometry;

MarkdownLayout Lay(std::wstring_view text, const MarkdownGeometry& geometry = TestGeometry()) {
  const FakeMarkdownFonts fonts;
  return ParseMarkdown(text, geometry, fonts);
}

std::vector<std::wstring> PlainTexts(const MarkdownLayout& layout) {
  std::vector<std::wstring> texts;
  for (const FormattedLine& line : layout.lines) texts.push_back(line.plainText);
  return texts;
}

TEST(UnwrapMarkdownLines, JoinsSoftWrappedLinesAndKeepsBlocks) {
  struct Case {
    std::wstring_view input;
    std::wstring_view joined;
  } const cases[] = {
      {L"one\ntwo", L"one two\n"},
      {L"one\n\ntwo", L"one\n\ntwo\n"},
      {L"one\r\ntwo\r\n", L"one two\n"},
      {L"- first\n  goes on\n- second", L"- first goes on\n- second\n"},
      {L"- top\n  - sub", L"- top\n- sub\n"},
      {L"> q1\n> q2\ntext", L"> q1 q2\ntext\n"},
      {L"```\ncode\n\nmore\n```", L"```\ncode\n\nmore\n```"},
      {L"para\n# Heading\nmore", L"para\n# Heading\nmore\n"},
      {L"text\n---\nafter", L"text\n---\nafter\n"},
      {L"1. one\n2. two", L"1. one\n2. two\n"},
      {L"+ plus\nnext", L"+ plus next\n"},
      {L"a | b\n|---|", L"a | b\n|---|"},
  };
  for (const Case& c : cases) EXPECT_EQ(UnwrapMarkdownLines(c.input), c.joined) << std::wstring(c.input);
}

TEST(ParseInlineSpans, ReadsBoldItalicAndCodeWithoutCombiningThem) {
  struct Case {
    std::wstring_view input;
    std::vector<TextSegment> spans;
  } const cases[] = {
      {L"plain **bold** *it* `x*y`",
       {{.text = L"plain "}, {.text = L"bold", .bold = true}, {.text = L" "}, {.text = L"it", .italic = true},
        {.text = L" "}, {.text = L"x*y", .code = true}}},
      // Underscores inside a name are markers too.
      {L"my_file_name", {{.text = L"my"}, {.text = L"file", .italic = true}, {.text = L"name"}}},
      // An unclosed "**" reads as an empty italic span and vanishes.
      {L"**never closes", {{.text = L"never closes"}}},
      {L"a `open", {{.text = L"a "}, {.text = L"`open"}}},
      {L"__b__", {{.text = L"b", .bold = true}}},
      {L"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseInlineSpans(c.input), c.spans) << std::wstring(c.input);
}

TEST(ParseMarkdown, ParagraphsJoinAndBlankLinesGiveEmptyLines) {
  EXPECT_EQ(PlainTexts(Lay(L"one\ntwo")), (std::vector<std::wstring>{L"one two"}));
  const MarkdownLayout two = Lay(L"one\n\ntwo");
  EXPECT_EQ(PlainTexts(two), (std::vector<std::wstring>{L"one", L"", L"two"}));
  EXPECT_EQ(two.lines[1].height, FakeMarkdownFonts::kBodyLine);
  EXPECT_EQ(PlainTexts(Lay(L"a\n\n\nb")), (std::vector<std::wstring>{L"a", L"", L"", L"b"}));
  // A blank line inside a code block adds no display line.
  const MarkdownLayout code = Lay(L"```\nx = 1\n\ny\n```");
  ASSERT_EQ(PlainTexts(code), (std::vector<std::wstring>{L"x = 1", L"y"}));
  EXPECT_TRUE(code.lines[0].segments[0].code);
}

TEST(ParseMarkdown, BlockLinesFollowTheDialect) {
  struct Case {
    std::wstring_view input;
    std::wstring_view plain;
    int indent;
    int headingLevel;  // of the first segment
    bool rule;
  } const cases[] = {
      {L"## **Bold**", L"**Bold**", 0, 2, false},
      {L"#### deep", L"deep", 0, 3, false},
      {L"#nospace", L"#nospace", 0, 0, false},
      {L"  # indented", L"  # indented", 0, 0, false},
      {L"+ plus", L"+ plus", 0, 0, false},
      {L"- - -", L"\u2022 - -", 1, 0, false},
      {L"12. item", L"12. item", 1, 0, false},
      {L"1.", L"1.", 0, 0, false},
      {L"--", L"--", 0, 0, false},
      {L"***", L"", 0, 0, true},
      {L"___", L"", 0, 0, true},
      {L"a | *b*", L"a | *b*", 0, 0, false},
  };
  for (const Case& c : cases) {
    const MarkdownLayout layout = Lay(c.input);
    ASSERT_EQ(layout.lines.size(), 1u) << std::wstring(c.input);
    const FormattedLine& line = layout.lines[0];
    EXPECT_EQ(line.plainText, c.plain) << std::wstring(c.input);
    EXPECT_EQ(line.indent, c.indent) << std::wstring(c.input);
    EXPECT_EQ(line.isRule, c.rule) << std::wstring(c.input);
    EXPECT_EQ(line.segmentStarts.size(), line.segments.size() + 1) << std::wstring(c.input);
    if (!line.segments.empty()) {
      EXPECT_EQ(line.segments[0].headingLevel, c.headingLevel) << std::wstring(c.input);
    }
  }
}

TEST(ParseMarkdown, NestedBulletsShareOneIndentAndQuotesGetTheirFlag) {
  const MarkdownLayout list = Lay(L"- top\n  - sub");
  ASSERT_EQ(PlainTexts(list), (std::vector<std::wstring>{L"\u2022 top", L"\u2022 sub"}));
  EXPECT_EQ(list.lines[0].indent, list.lines[1].indent);

  const MarkdownLayout quote = Lay(L"> quoted *it*\n> on");
  ASSERT_EQ(quote.lines.size(), 1u);
  EXPECT_TRUE(quote.lines[0].isQuote);
  EXPECT_EQ(quote.lines[0].indent, 1);
  EXPECT_EQ(quote.lines[0].plainText, L"quoted it on");
  EXPECT_TRUE(quote.lines[0].segments[1].italic);
}

TEST(ParseMarkdown, HeightsTopsAndContentHeightAddUp) {
  const MarkdownLayout layout = Lay(L"# Title\n\ntext\n\n---");
  ASSERT_EQ(layout.lines.size(), 5u);
  const int h1 = FakeMarkdownFonts::kHeading1Line + 4;
  const int body = FakeMarkdownFonts::kBodyLine + 4;
  const int empty = FakeMarkdownFonts::kBodyLine;
  const int rule = FakeMarkdownFonts::kBodyLine + 8;
  EXPECT_EQ(layout.lines[0].height, h1);
  EXPECT_EQ(layout.lines[2].height, body);
  EXPECT_EQ(layout.lines[4].height, rule);
  EXPECT_EQ(layout.lineTops, (std::vector<int>{0, h1, h1 + empty, h1 + empty + body, h1 + 2 * empty + body}));
  // The top and bottom margins (10 and 12) are part of the content.
  EXPECT_EQ(layout.contentHeight, h1 + 2 * empty + body + rule + 22);
}

TEST(ParseMarkdown, WrapsAtSpacesAndMarksContinuations) {
  // 27 characters fit between x = 14 and 290.
  const MarkdownLayout layout = Lay(L"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll");
  ASSERT_EQ(PlainTexts(layout),
            (std::vector<std::wstring>{L"aaaa bbbb cccc dddd eeee ", L"ffff gggg hhhh iiii jjjj ", L"kkkk llll"}));
  EXPECT_FALSE(layout.lines[0].isContinuation);
  EXPECT_TRUE(layout.lines[1].isContinuation);
  EXPECT_TRUE(layout.lines[2].isContinuation);
  for (const FormattedLine& line : layout.lines) {
    ASSERT_FALSE(line.segmentStarts.empty());
    EXPECT_EQ(line.segmentStarts.back(), static_cast<int>(line.plainText.size()));
  }
}

TEST(ParseMarkdown, AWordLongerThanTheLineStandsAlone) {
  const std::wstring word(40, L'w');
  const MarkdownLayout layout = Lay(L"short " + word + L" end");
  ASSERT_EQ(PlainTexts(layout), (std::vector<std::wstring>{L"short ", word + L" ", L"end"}));
}

TEST(ParseMarkdown, ALongParagraphsLinesDoNotEachHoldTheWholeParagraph) {
  // Each display line once kept a copy of the paragraph's whole text as spare capacity: a
  // 256 KB page of one paragraph took gigabytes.
  std::wstring paragraph;
  for (int i = 0; i < 20000; ++i) paragraph += L"word ";
  const MarkdownLayout layout = Lay(paragraph);
  ASSERT_GT(layout.lines.size(), 1000u);
  std::size_t held = 0;
  for (const FormattedLine& line : layout.lines)
    for (const TextSegment& segment : line.segments) held += segment.text.capacity();
  EXPECT_LT(held, 4 * paragraph.size());
}

TEST(ParseMarkdown, StylesKeepTheirSegmentsAcrossAWrap) {
  const MarkdownLayout layout = Lay(L"plain **bold words that run on past the edge** tail");
  ASSERT_GE(layout.lines.size(), 2u);
  std::wstring bold;
  std::wstring plain;
  for (const FormattedLine& line : layout.lines)
    for (const TextSegment& segment : line.segments) (segment.bold ? bold : plain) += segment.text;
  EXPECT_EQ(bold, L"bold words that run on past the edge");
  EXPECT_EQ(plain, L"plain  tail");
}

TEST(ParseMarkdown, TablesReadAlignmentsAndTrimRows) {
  const MarkdownLayout layout = Lay(L"| A | B | C |\n|:-:|--:|\n| 1 | 2 | 3 | 4 |\n| x |\nafter");
  ASSERT_EQ(layout.lines.size(), 4u);
  const FormattedLine& header = layout.lines[0];
  EXPECT_TRUE(header.isTableRow && header.isHeaderRow && header.isFirstRow);
  EXPECT_EQ(header.columnAlignments, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(header.plainText, L"A\tB\tC");
  EXPECT_TRUE(header.segmentStarts.empty());
  // The extra cell is dropped and the short row filled up.
  EXPECT_EQ(layout.lines[1].plainText, L"1\t2\t3");
  EXPECT_EQ(layout.lines[2].plainText, L"x\t\t");
  EXPECT_FALSE(layout.lines[1].isHeaderRow);
  // Each column is its widest cell plus 16 px.
  EXPECT_EQ(header.columnWidths, (std::vector<int>{26, 26, 26}));
  EXPECT_EQ(header.height, FakeMarkdownFonts::kBodyLine + 8);
  EXPECT_EQ(layout.lines[3].plainText, L"after");
}

TEST(ParseMarkdown, AWideTableShrinksItsColumnsTo40Pixels) {
  const std::wstring wide(30, L'w');
  const std::wstring text = L"|" + wide + L"|" + wide + L"|" + wide + L"|\n|-|-|-|\n";
  const MarkdownLayout layout = Lay(text, TestGeometry(100, 200));
  ASSERT_EQ(layout.lines.size(), 1u);
  EXPECT_EQ(layout.lines[0].columnWidths, (std::vector<int>{40, 40, 40}));
}

TEST(ParseMarkdown, TableCellsWrapIntoTallerRows) {
  // The column shrinks to the 64 px room and leaves 52 px for text: "aaaa bbbb" wraps into two rows of 18 px.
  MarkdownGeometry narrow = TestGeometry(96, 200);
  const MarkdownLayout layout = Lay(L"|h|\n|-|\n|aaaa bbbb|", narrow);
  ASSERT_EQ(layout.lines.size(), 2u);
  ASSERT_EQ(layout.lines[1].columnWidths, (std::vector<int>{64}));
  EXPECT_EQ(layout.lines[1].height, 2 * FakeMarkdownFonts::kBodyLine + 6);
}

TEST(ParseMarkdown, EmptyTextOrANarrowPaneGivesNoLines) {
  EXPECT_TRUE(Lay(L"").lines.empty());
  EXPECT_EQ(Lay(L"").contentHeight, 0);
  EXPECT_TRUE(Lay(L"text", TestGeometry(24, 200)).lines.empty());
  EXPECT_TRUE(Lay(L"text", TestGeometry(0, 200)).lines.empty());
}

TEST(ParseMarkdown, AHugeHeaderRowKeepsABoundedNumberOfColumns) {
  // Every row stores every column: a hostile header of thousands of cells over many rows would
  // otherwise multiply into gigabytes.
  std::wstring text(20000, L'|');
  text += L"\n|-|\n";
  for (int r = 0; r < 200; ++r) text += L"|x|\n";
  const MarkdownLayout layout = Lay(text);
  ASSERT_EQ(layout.lines.size(), 201u);
  for (const FormattedLine& line : layout.lines) EXPECT_LE(line.cells.size(), kMaxTableColumns);
}

// The one-pixel-at-a-time loop the table layout describes, as the reference.
std::vector<int> ShrinkByLoop(std::vector<int> widths, int room, int minWidth, int maxSteps) {
  auto sum = [&] {
    long long s = 0;
    for (int w : widths) s += w;
    return s;
  };
  for (int step = 0; step < maxSteps && sum() > room; ++step) {
    int widest = -1;
    for (std::size_t i = 0; i < widths.size(); ++i)
      if (widths[i] > minWidth && (widest < 0 || widths[i] > widths[static_cast<std::size_t>(widest)]))
        widest = static_cast<int>(i);
    if (widest < 0) break;
    --widths[static_cast<std::size_t>(widest)];
  }
  return widths;
}

TEST(ShrinkColumnWidths, MatchesTheOnePixelLoop) {
  struct Case {
    std::vector<int> widths;
    int room;
    int maxSteps;
  } const cases[] = {
      {{100, 50, 100, 45}, 250, 100000},  // partly through a level: first columns shrink first
      {{100, 50, 100, 45}, 240, 100000},
      {{300, 41, 42}, 10, 100000},        // cannot fit: everything ends at the minimum
      {{300, 300, 300}, 100, 7},          // the step budget ends it early
      {{30, 20}, 10, 100000},             // nothing above the minimum
      {{80, 80, 80}, 1000, 100000},       // already fits
      {{}, 0, 100000},
      {{41, 41, 41, 41, 60}, 150, 100000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ShrinkColumnWidths(c.widths, c.room, 40, c.maxSteps), ShrinkByLoop(c.widths, c.room, 40, c.maxSteps))
        << c.room;
}

TEST(SplitTableRow, TrimsOnePipeAtEachEndAndEveryCell) {
  struct Case {
    std::wstring_view row;
    std::vector<std::wstring> cells;
  } const cases[] = {
      {L" | a |  b | ", {L"a", L"b"}},
      {L"a|b", {L"a", L"b"}},
      {L"|", {L""}},
      {L"||", {L""}},
      {L"| a || c |", {L"a", L"", L"c"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> cells;
    SplitTableRow(c.row, cells);
    EXPECT_EQ(cells, c.cells) << std::wstring(c.row);
  }
}

TEST(IsTableSeparatorRow, NeedsDashesInEveryCell) {
  struct Case {
    std::wstring_view row;
    bool separator;
  } const cases[] = {
      {L"|---|:--:|--:|", true}, {L"|-|", true},  {L"---", false},   {L"|:|", false},
      {L"|::|", false},          {L"|--|x|", false}, {L"| - | |", false}, {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsTableSeparatorRow(c.row), c.separator) << std::wstring(c.row);
}

}  // namespace
}  // namespace grainforge::app
