// The library browser's geometry: grid cells, hit tests, scrolling rules, the name list and the
// segmented row.
#include "app/workflow/browser_geometry.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

TEST(ThumbnailGrid, CellsFollowTheWidthWithAMinimum) {
  struct Case {
    int width, columns, dpi, cellWidth, cellHeight;
  } cases[] = {
      {200, 2, 96, 91, 72 + 16},   // (200 - 18) / 2 = 91, picture 91 * 4 / 5 = 72
      {100, 4, 96, 24, 19 + 16},   // (100 - 30) / 4 = 17 is below the 24 px minimum
      {300, 0, 96, 288, 230 + 16}, // no columns lays out as one column instead of dividing by 0
      {200, 2, 192, 82, 65 + 32},  // gaps and minimum scale: (200 - 36) / 2 = 82
  };
  for (const Case& c : cases) {
    const GridMetrics m = MakeGridMetrics(c.width, c.columns, c.dpi);
    EXPECT_EQ(m.cellWidth, c.cellWidth) << c.width << " " << c.columns;
    EXPECT_EQ(m.cellHeight, c.cellHeight) << c.width << " " << c.columns;
  }
  // Cells of the minimum run past the right edge of a narrow grid.
  const GridMetrics narrow = MakeGridMetrics(100, 4, 96);
  EXPECT_GT(GridCellRect(narrow, PixelRect{0, 0, 100, 200}, 3, 0).right, 100);
}

TEST(ThumbnailGrid, HitTestFindsCellsAndNotTheGapsBetween) {
  const PixelRect client{0, 0, 200, 150};
  const GridMetrics m = MakeGridMetrics(200, 2, 96);  // cells 91 x 88, gap 6
  struct Case {
    int x, y, scroll, count, hit;
  } cases[] = {
      {10, 10, 0, 5, 0},    {150, 10, 0, 5, 1},   {3, 10, 0, 5, -1},    // left gap
      {100, 10, 0, 5, -1},  // between the columns
      {10, 100, 0, 5, 2},   {150, 100, 0, 3, -1},  // past the last item
      {10, 10, 94, 5, 2},   {10, 10, 0, 0, -1},    {10, 160, 0, 5, -1},  // outside the client
  };
  for (const Case& c : cases)
    EXPECT_EQ(GridHitTest(m, client, c.count, c.scroll, PixelPoint{c.x, c.y}), c.hit) << c.x << "," << c.y;
  EXPECT_EQ(GridContentHeight(m, 0), 0);
  EXPECT_EQ(GridContentHeight(m, 3), 2 * (88 + 6) + 6);
}

TEST(ThumbnailGrid, SameKeysKeepTheScrollAndPicturesShowTheirTopRows) {
  const auto items = [](std::initializer_list<const char*> keys) {
    std::vector<ThumbnailItem> list;
    for (const char* k : keys) list.push_back(ThumbnailItem{k, k, {}, 0, false, {}});
    return list;
  };
  EXPECT_TRUE(SameItemKeys(items({"a", "b"}), items({"a", "b"})));
  EXPECT_FALSE(SameItemKeys(items({"a", "b"}), items({"b", "a"})));
  EXPECT_FALSE(SameItemKeys(items({"a"}), items({"a", "b"})));
  EXPECT_EQ(ClampScrollPosition(500, 300, 100), 200);
  EXPECT_EQ(ClampScrollPosition(-5, 300, 100), 0);
  EXPECT_EQ(ClampScrollPosition(50, 80, 100), 0);
  EXPECT_EQ(GridPictureRows(91, 72, 120), 94);  // the top 94 of 120 rows match 91 x 72
  EXPECT_EQ(GridPictureRows(91, 0, 120), 1);
  EXPECT_EQ(GridWheelTarget(100, -120, 88), 144);  // half a cell per notch
}

TEST(NameList, RowsSelectionAndScrollingIntoView) {
  const PixelRect client{0, 0, 100, 60};
  EXPECT_EQ(NameListRowRect(client, 2, 96, 0), (PixelRect{1, 37, 99, 55}));
  EXPECT_EQ(NameListHitTest(client, 5, 96, 0, PixelPoint{10, 40}), 2);
  EXPECT_EQ(NameListHitTest(client, 2, 96, 0, PixelPoint{10, 40}), -1);
  EXPECT_EQ(NameListContentHeight(5, 96), 92);
  EXPECT_EQ(SelectionAfterNames(7, 3), 2);
  EXPECT_EQ(SelectionAfterNames(-1, 3), -1);
  EXPECT_EQ(SelectionAfterNames(1, 0), -1);
  EXPECT_EQ(NameListScrollToShow(4, 0, 60, 96), 1 + 18 * 5 - 60);  // below: to the bottom edge
  EXPECT_EQ(NameListScrollToShow(0, 40, 60, 96), 1);                // above: to the top edge
  EXPECT_EQ(NameListScrollToShow(1, 0, 60, 96), 0);                 // visible: stays
}

TEST(Segmented, SegmentsShareTheWidth) {
  const PixelRect client{0, 0, 100, 24};
  EXPECT_EQ(SegmentRect(0, 3, client), (PixelRect{0, 0, 33, 24}));
  EXPECT_EQ(SegmentRect(2, 3, client), (PixelRect{66, 0, 100, 24}));
  EXPECT_EQ(SegmentHitTest(50, 5, 3, client), 1);
  EXPECT_EQ(SegmentHitTest(50, 30, 3, client), -1);
  EXPECT_EQ(SegmentHitTest(50, 5, 0, client), -1);
}

}  // namespace
}  // namespace grainforge::app
