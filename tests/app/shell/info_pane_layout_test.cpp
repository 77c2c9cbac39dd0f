#include "app/shell/info_pane_layout.h"

#include <gtest/gtest.h>

#include "app/shell/fixed_text_metrics.h"

namespace grainforge::app {
namespace {

TEST(LayoutInfoPane, AOneLineWarningTakesOneRowAtTheBottom) {
  const InfoPaneLayout layout = LayoutInfoPane(240, 600, 1, 15);
  EXPECT_EQ(layout.info, (AreaRect{4, 600 - 25 - 4, 232, 25}));
  // The report shrinks by the box and the gap above it.
  EXPECT_EQ(layout.report, (AreaRect{4, 4, 232, 600 - 8 - 25 - 4}));
}

TEST(LayoutInfoPane, TheBoxTakesAtMostHalfThePane) {
  EXPECT_EQ(LayoutInfoPane(240, 300, 40, 15).info.height, 150);
  EXPECT_EQ(LayoutInfoPane(240, 301, 40, 15).info.height, 150);
}

TEST(LayoutInfoPane, WithoutTextTheReportHasTheWholePane) {
  const InfoPaneLayout layout = LayoutInfoPane(240, 600, 0, 15);
  EXPECT_EQ(layout.info.height, 0);
  EXPECT_EQ(layout.report, (AreaRect{4, 4, 232, 592}));
  // A pane too small for anything still gives the report its least height.
  EXPECT_EQ(LayoutInfoPane(240, 6, 0, 15).report.height, 10);
  // An unreadable font height falls back to 15 px rows.
  EXPECT_EQ(LayoutInfoPane(240, 600, 2, 0).info.height, 40);
}

TEST(CountInfoRows, LineEndingsDoNotChangeTheRows) {
  const FixedTextMetrics metrics(10, 15);
  EXPECT_EQ(CountInfoRows(metrics, L"", 240), 0);
  EXPECT_EQ(CountInfoRows(metrics, L"one\ntwo", 240), 2);
  EXPECT_EQ(CountInfoRows(metrics, L"one\r\ntwo", 240), 2);
  EXPECT_EQ(CountInfoRows(metrics, L"one\r\r\ntwo", 240), 2);
  // 240 - 8 - 10 = 222 px: 22 characters a row.
  EXPECT_EQ(CountInfoRows(metrics, std::wstring(23, L'x'), 240), 2);
}

// Every row is kept whole, however many: the box scrolls to what it cannot show at once, so no
// message is cut with "…".
TEST(InfoBoxRows, KeepsEveryRowWhole) {
  const FixedTextMetrics metrics(10, 15);
  // A box 120 px wide has 110 px for text.
  EXPECT_EQ(InfoBoxRows(metrics, L"one\ntwo", 120), (std::vector<std::wstring>{L"one", L"two"}));
  EXPECT_EQ(InfoBoxRows(metrics, L"1\n2\n3\n4\n5\n6", 120),
            (std::vector<std::wstring>{L"1", L"2", L"3", L"4", L"5", L"6"}));
  // 110 px wide: 10 characters a row, the words wrapped.
  EXPECT_EQ(InfoBoxRows(metrics, L"aaaaaaaaaa bbbb", 110), (std::vector<std::wstring>{L"aaaaaaaaaa", L"bbbb"}));
}

// Each message is a band of its own kind, so a green note under a red error stays green; the
// bands follow one another with a gap, and the content is as tall as all of them.
TEST(LayoutInfoContent, EachMessageIsABandOfItsOwnKind) {
  const FixedTextMetrics metrics(10, 15);
  const std::vector<InformationMessage> messages = {
      {L"This file could not be saved.", kInfoError}, {L"", kInfoWarning}, {L"Project saved: a.gfproj", kInfoOk}};
  // 240 px wide: 230 px, 23 characters a row.
  const InfoContent content = LayoutInfoContent(metrics, messages, 240);
  ASSERT_EQ(content.bands.size(), 2u);
  EXPECT_EQ(content.bands[0], (InfoBand{kInfoError, 0, 2 * 15 + 10, {L"This file could not be", L"saved."}}));
  EXPECT_EQ(content.bands[1], (InfoBand{kInfoOk, 40 + kInfoMessageGap, 15 + 10, {L"Project saved: a.gfproj"}}));
  EXPECT_EQ(content.height, 40 + kInfoMessageGap + 25);
  EXPECT_EQ(LayoutInfoContent(metrics, {}, 240).height, 0);
  // A pane of 300 px gives the box at most 150 px, and the rest scrolls.
  EXPECT_EQ(LayoutInfoPaneForContent(248, 300, 400).info, (AreaRect{4, 300 - 150 - 4, 240, 150}));
  EXPECT_EQ(LayoutInfoPaneForContent(248, 300, 84).info.height, 84);
}

}  // namespace
}  // namespace grainforge::app
