// The interface kit's arithmetic: DPI scaling, font sizes, the shapes it draws, scrolling, and
// the fixed sizes of the panes and the toolbar strip.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <cstdint>
#include <vector>

#include "app/shell/kit/access_keys.h"
#include "app/shell/kit/dialog_fit.h"
#include "app/shell/kit/kit_geometry.h"
#include "app/shell/kit/scroll_arithmetic.h"
#include "app/shell/kit/ui_fonts.h"
#include "app/shell/kit/ui_scale.h"
#include "app/shell/main_toolbar.h"
#include "app/shell/static_pane.h"

namespace grainforge::app {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  struct Case {
    int value, numerator, denominator, expected;
  };
  const Case cases[] = {
      {340, 144, 96, 510},  {130, 144, 96, 195},   {1, 144, 96, 2},    {-1, 144, 96, -2},
      {3, 1, 2, 2},         {-3, 1, 2, -2},        {5, 1, 4, 1},       {7, 1, 4, 2},
      {3, -1, 2, -2},       {28, 120, 96, 35},     {0, 144, 96, 0},    {10, 144, 72, 20},
      {2000000000, 2, 2, 2000000000},  // the product needs 64 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.value, c.numerator, c.denominator), c.expected)
        << c.value << " * " << c.numerator << " / " << c.denominator;
  }
}

// A dialog larger than the screen: the help pane gives way first, down to its least width, then
// the contents scroll; the client never leaves the screen and never drops below what fits.
TEST(PlanDialogFit, NarrowsThePaneThenScrollsWithinTheScreen) {
  struct Case {
    FitSize wanted, least, frame, area;
    int pane, paneLeast;
    FitSize client;
    int paneWidth;
    bool scroll;
  };
  const Case cases[] = {
      {{900, 575}, {880, 520}, {0, 0}, {1600, 1000}, 380, 180, {900, 575}, 380, false},  // fits as designed
      {{910, 575}, {880, 520}, {0, 0}, {800, 600}, 380, 180, {800, 575}, 300, false},    // the pane narrows
      {{869, 610}, {828, 610}, {0, 30}, {800, 600}, 380, 180, {800, 570}, 352, true},    // too tall: scrolls
      {{1200, 500}, {1200, 500}, {0, 0}, {800, 600}, 380, 180, {800, 500}, 180, true},   // the pane at its least
      {{300, 200}, {350, 250}, {0, 0}, {800, 600}, 0, 180, {350, 250}, 0, false},        // grows to what fits
  };
  for (const Case& c : cases) {
    const DialogFitPlan plan = PlanDialogFit(c.wanted, c.least, c.frame, c.area, c.pane, c.paneLeast);
    EXPECT_EQ(plan.client.width, c.client.width) << c.wanted.width;
    EXPECT_EQ(plan.client.height, c.client.height) << c.wanted.width;
    EXPECT_EQ(plan.paneWidth, c.paneWidth) << c.wanted.width;
    EXPECT_EQ(plan.scroll, c.scroll) << c.wanted.width;
  }
}

TEST(ChooseAccessKey, TakesAFreeWordStartThenAnyFreeLetter) {
  const std::tuple<std::wstring, std::wstring, int> cases[] = {
      {L"Width (mm)", L"oc", 0},          {L"Triangle limit (millions)", L"toc", 9},
      {L"Save...", L"socv", 1},           {L"Show", L"showc", -1},
      {L"2 x 2 tiles", L"xt", 0},         {L"", L"", -1},
  };
  for (const auto& [label, taken, index] : cases)
    EXPECT_EQ(ChooseAccessKey(label, taken), index) << std::string(label.begin(), label.end());
}

TEST(MulDiv, ZeroDenominatorAndOverflowGiveMinusOne) {
  EXPECT_EQ(MulDiv(5, 3, 0), -1);
  EXPECT_EQ(MulDiv(2000000000, 4, 1), -1);
}

TEST(UiFontSpecFor, KindsHaveTheirSizesAndWeightsAndScaleWithDpi) {
  struct Case {
    int kind, dpi, points, weight, pixelHeight;
  };
  const Case cases[] = {
      {kUiFontHeading, 96, 10, 600, -13}, {kUiFontHeading, 144, 10, 600, -20},
      {kUiFontNormal, 96, 9, 400, -12},   {kUiFontSmall, 96, 8, 400, -11},
      {7, 96, 9, 0, -12},                 {-1, 120, 9, 0, -15},
  };
  for (const Case& c : cases) {
    const UiFontSpec spec = UiFontSpecFor(c.kind, c.dpi);
    EXPECT_EQ(spec.points, c.points) << c.kind;
    EXPECT_EQ(spec.weight, c.weight) << c.kind;
    EXPECT_EQ(spec.pixelHeight, c.pixelHeight) << c.kind << " at " << c.dpi;
  }
}

TEST(IconPlaceholderShape, IsTheRectangleInsetByOneWithCornersHalfItsWidth) {
  const PlaceholderShape shape = IconPlaceholderShape(PixelRect{10, 20, 34, 44});
  EXPECT_EQ(shape.x, 11);
  EXPECT_EQ(shape.y, 21);
  EXPECT_EQ(shape.width, 22);
  EXPECT_EQ(shape.height, 22);
  EXPECT_EQ(shape.cornerDiameter, 11);
}

TEST(CheckMarkPoints, UseTheWidthForBothDirectionsAndTruncate) {
  const auto square = CheckMarkPoints(PixelRect{0, 0, 16, 16});
  EXPECT_EQ(square[0], (PixelPoint{3, 8}));
  EXPECT_EQ(square[1], (PixelPoint{6, 11}));
  EXPECT_EQ(square[2], (PixelPoint{12, 4}));
  // A wide box: the vertical positions come from the width as well.
  const auto wide = CheckMarkPoints(PixelRect{100, 50, 150, 60});
  EXPECT_EQ(wide[1], (PixelPoint{121, 86}));
  EXPECT_EQ(CheckMarkPenWidth(96), 2);
  EXPECT_EQ(CheckMarkPenWidth(144), 3);
  EXPECT_EQ(CheckMarkPenWidth(30), 1);
}

TEST(RowsToShow, ALimitOutsideOneToHeightShowsEveryRow) {
  EXPECT_EQ(RowsToShow(100, 0), 100);
  EXPECT_EQ(RowsToShow(100, -3), 100);
  EXPECT_EQ(RowsToShow(100, 101), 100);
  EXPECT_EQ(RowsToShow(100, 40), 40);
  EXPECT_EQ(RowsToShow(100, 100), 100);
}

TEST(PixelsToRgb, UnpacksRowsFromTheTopAndRefusesShortBlocks) {
  const std::vector<std::uint32_t> pixels = {0x00112233, 0x00445566, 0x00778899, 0x00AABBCC};
  EXPECT_EQ(PixelsToRgb(pixels, 2, 1),
            (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  EXPECT_EQ(PixelsToRgb(pixels, 2, 2).size(), 12u);
  EXPECT_TRUE(PixelsToRgb(pixels, 2, 3).empty());
  EXPECT_TRUE(PixelsToRgb(pixels, 0, 1).empty());
  EXPECT_TRUE(PixelsToRgb({}, 1, 1).empty());
}

TEST(ScrollPosFromCode, EachRequestMovesAsItSaysAndOthersKeepThePosition) {
  struct Case {
    int code, expected;
  };
  // pos 100, line 10, page 80, maximum 500, thumb at 333.
  const Case cases[] = {
      {kScrollLineUp, 90},       {kScrollLineDown, 110}, {kScrollPageUp, 20},
      {kScrollPageDown, 180},    {kScrollThumbPosition, 333}, {kScrollThumbTrack, 333},
      {kScrollTop, 0},           {kScrollBottom, 500},   {kScrollEnd, 100},
      {9, 100},                  {-1, 100},
  };
  for (const Case& c : cases) EXPECT_EQ(ScrollPosFromCode(c.code, 100, 10, 80, 500, 333), c.expected) << c.code;
}

TEST(StaticPaneSize, FollowsTheDpiAndKeepsUnfixedDirectionsOpen) {
  EXPECT_EQ(StaticPaneSize({340, 0}, 144).width, 510);
  EXPECT_EQ(StaticPaneSize({340, 0}, 144).height, 0);
  EXPECT_EQ(StaticPaneSize({0, 130}, 144).height, 195);
  EXPECT_EQ(StaticPaneSize({240, 0}, 96).width, 240);
  EXPECT_EQ(StaticPaneSize({240, 0}, 120).width, 300);
}

TEST(ToolbarPaneHeight, IsTheBarHeightPlusTwoWhileShownAndNothingWhileHidden) {
  EXPECT_EQ(ToolbarPaneHeight(true, 40, 96), 42);
  EXPECT_EQ(ToolbarPaneHeight(true, 40, 144), 62);
  EXPECT_EQ(ToolbarPaneHeight(true, std::nullopt, 144), 42);
  EXPECT_EQ(ToolbarPaneHeight(false, 40, 96), 0);
}

}  // namespace
}  // namespace grainforge::app
