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

TEST(InfoBoxRows, ShowsWholeRowsAndMarksTextBeyondTheBox) {
  const FixedTextMetrics metrics(10, 15);
  // A box 120 px wide has 110 px for text; 70 px high holds (70 - 10) / 15 = 4 rows.
  EXPECT_EQ(InfoBoxRows(metrics, L"one\ntwo", 120, 70), (std::vector<std::wstring>{L"one", L"two"}));
  EXPECT_EQ(InfoBoxRows(metrics, L"1\n2\n3\n4\n5\n6", 120, 70),
            (std::vector<std::wstring>{L"1", L"2", L"3", L"4\u2026"}));
  // A full last row gives up characters for the mark (110 px wide: 100 px for the text).
  EXPECT_EQ(InfoBoxRows(metrics, L"aaaaaaaaaa bbbb", 110, 25), (std::vector<std::wstring>{L"aaaaaaaaa\u2026"}));
  EXPECT_EQ(InfoBoxRows(metrics, L"1\n2\n3\n4", 120, 70), (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));
}

}  // namespace
}  // namespace grainforge::app
