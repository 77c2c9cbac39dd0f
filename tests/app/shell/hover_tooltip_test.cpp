// Per-rectangle tooltips: when one is due, what hides it, and where its popup goes.
#include <gtest/gtest.h>

#include <chrono>

#include "app/shell/kit/hover_tooltip.h"
#include "app/shell/kit/idle_throttle.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using Clock = HoverTooltipModel::Clock;

class HoverTooltipTest : public ::testing::Test {
protected:
  void SetUp() override {
    model.SetRegions({{PixelRect{0, 0, 30, 30}, L"Move", L"Slide the texture."},
                      {PixelRect{30, 0, 60, 30}, L"", L"Rotate"},
                      {PixelRect{60, 0, 90, 30}, L"", L""}});
  }
  HoverTooltipModel model{500ms};
  Clock::time_point t0 = Clock::time_point{} + 10s;
};

TEST_F(HoverTooltipTest, ShowsOnceAfterTheCursorRestsForTheDelay) {
  const auto change = model.MouseMove(5, 5, t0);
  EXPECT_TRUE(change.arm);
  EXPECT_FALSE(model.TakeDue(t0 + 499ms).has_value());
  // Moving inside the same rectangle does not start the wait again.
  EXPECT_FALSE(model.MouseMove(20, 5, t0 + 300ms).arm);
  const auto due = model.TakeDue(t0 + 500ms);
  ASSERT_TRUE(due.has_value());
  EXPECT_EQ(due->title, L"Move");
  EXPECT_EQ(due->body, L"Slide the texture.");
  EXPECT_TRUE(model.IsShown());
  EXPECT_FALSE(model.TakeDue(t0 + 900ms).has_value()) << "shown once";
}

TEST_F(HoverTooltipTest, MovingToAnotherRectangleHidesAndWaitsAgain) {
  model.MouseMove(5, 5, t0);
  ASSERT_TRUE(model.TakeDue(t0 + 600ms).has_value());
  const auto change = model.MouseMove(40, 5, t0 + 700ms);
  EXPECT_TRUE(change.hide);
  EXPECT_TRUE(change.arm);
  EXPECT_FALSE(model.TakeDue(t0 + 1000ms).has_value());
  const auto due = model.TakeDue(t0 + 1200ms);
  ASSERT_TRUE(due.has_value());
  EXPECT_EQ(due->body, L"Rotate");
}

TEST_F(HoverTooltipTest, LeavingOrPressingHidesAndAPressKeepsItHiddenUntilTheNextRectangle) {
  model.MouseMove(5, 5, t0);
  ASSERT_TRUE(model.TakeDue(t0 + 600ms).has_value());
  EXPECT_TRUE(model.ButtonDown().hide);
  EXPECT_FALSE(model.TakeDue(t0 + 5s).has_value());
  model.MouseMove(10, 5, t0 + 6s);
  EXPECT_FALSE(model.TakeDue(t0 + 7s).has_value()) << "same rectangle after the press";
  model.MouseMove(40, 5, t0 + 8s);
  EXPECT_TRUE(model.TakeDue(t0 + 9s).has_value());
  EXPECT_TRUE(model.MouseLeave().hide);
  EXPECT_FALSE(model.TakeDue(t0 + 20s).has_value());
}

TEST_F(HoverTooltipTest, RectanglesWithoutTextAndGapsShowNothing) {
  model.MouseMove(70, 5, t0);
  EXPECT_FALSE(model.TakeDue(t0 + 1s).has_value());
  EXPECT_FALSE(model.MouseMove(200, 5, t0 + 2s).arm);
  EXPECT_FALSE(model.TakeDue(t0 + 3s).has_value());
}

TEST_F(HoverTooltipTest, ANewLayoutKeepsAShownTooltipOnlyWhenItsRectangleStayed) {
  model.MouseMove(5, 5, t0);
  ASSERT_TRUE(model.TakeDue(t0 + 1s).has_value());
  model.SetRegions({{PixelRect{0, 0, 30, 30}, L"Move", L"Slide the texture."}});
  EXPECT_TRUE(model.IsShown());
  model.SetRegions({{PixelRect{0, 0, 20, 30}, L"Move", L"Slide the texture."}});
  EXPECT_FALSE(model.IsShown());
}

TEST(PlaceTooltip, GoesBelowTheCursorAboveWhenNoRoomAndStaysInsideTheWorkArea) {
  const PixelRect area{0, 0, 1600, 1000};
  EXPECT_EQ(PlaceTooltip({100, 100}, 200, 50, area), (PixelPoint{100, 120}));
  EXPECT_EQ(PlaceTooltip({100, 980}, 200, 50, area), (PixelPoint{100, 926}));
  EXPECT_EQ(PlaceTooltip({1550, 100}, 200, 50, area), (PixelPoint{1400, 120}));
  EXPECT_EQ(PlaceTooltip({-30, 5}, 200, 50, area), (PixelPoint{0, 25}));
  // Taller than the area: its top stays visible.
  EXPECT_EQ(PlaceTooltip({10, 500}, 100, 2000, area).y, 0);
}

TEST(IdleThrottle, RunsAtMostOncePerIntervalAndSaysHowLongToWait) {
  IdleThrottle throttle(100ms);
  const auto t = IdleThrottle::Clock::time_point{} + 1s;
  EXPECT_TRUE(throttle.TryRun(t));
  EXPECT_FALSE(throttle.TryRun(t + 40ms));
  EXPECT_EQ(throttle.Remaining(t + 40ms), 60ms);
  EXPECT_EQ(throttle.Remaining(t + 40ms + 500us), 60ms) << "rounded up, never early";
  EXPECT_TRUE(throttle.TryRun(t + 100ms));
  EXPECT_EQ(throttle.Remaining(t + 300ms), 0ms);
}

}  // namespace
}  // namespace grainforge::app
