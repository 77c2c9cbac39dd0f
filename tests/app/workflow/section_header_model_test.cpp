#include "app/workflow/section_header_model.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

// A 340 x 40 bar: parts from the left (chevron, icon, box) and from the right (gear, dot), the
// title between them; each square centred with each of its ends truncated on its own.
TEST(SectionHeaderLayout, PartsAtDesignAndLargeDpi) {
  const struct {
    int dpi;
    int height;
    bool box;
    HeaderParts expected;
  } cases[] = {
      {96, 40, true,
       {{8, 14, 20, 26}, {56, 13, 70, 27}, {26, 8, 50, 32}, {76, 0, 292, 40}, {298, 15, 308, 25},
        {314, 11, 332, 29}}},
      {96, 40, false,
       {{8, 14, 20, 26}, {}, {26, 8, 50, 32}, {56, 0, 292, 40}, {298, 15, 308, 25},
        {314, 11, 332, 29}}},
      // 144 dpi: the bar is 60 high; the odd 21 px box still comes out its full size.
      {144, 60, true,
       {{12, 21, 30, 39}, {84, 19, 105, 40}, {39, 12, 75, 48}, {114, 0, 268, 60}, {277, 22, 292, 37},
        {301, 16, 328, 43}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    const PixelRect client{0, 0, 340, c.height};
    const HeaderParts parts = LayoutHeaderParts(client, c.dpi, c.box);
    EXPECT_EQ(parts.chevron, c.expected.chevron);
    EXPECT_EQ(parts.box, c.expected.box);
    EXPECT_EQ(parts.icon, c.expected.icon);
    EXPECT_EQ(parts.title, c.expected.title);
    EXPECT_EQ(parts.dot, c.expected.dot);
    EXPECT_EQ(parts.gear, c.expected.gear);
  }
}

// The box belongs to the optional steps only: for Mapping the same spot is the title and
// collapses the section; the dot and the gaps do nothing.
TEST(SectionHeaderLayout, ClicksByPart) {
  const struct {
    FlowStep step;
    int x;
    HeaderCode code;
    bool switchAfter;
    bool collapsedAfter;
  } cases[] = {
      {FlowStep::Relief, 60, HeaderCode::Switch, false, false},
      {FlowStep::Mapping, 60, HeaderCode::Collapse, true, true},
      {FlowStep::Simplify, 12, HeaderCode::Collapse, true, true},
      {FlowStep::Simplify, 30, HeaderCode::Collapse, true, true},
      {FlowStep::Texture, 320, HeaderCode::Settings, true, false},
      {FlowStep::Relief, 302, HeaderCode::None, true, false},   // the dot
      {FlowStep::Relief, 295, HeaderCode::None, true, false},   // between title and dot
      {FlowStep::Relief, 3, HeaderCode::None, true, false},     // left of the chevron
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    SectionHeaderModel model(c.step);
    const HeaderParts parts = LayoutHeaderParts({0, 0, 340, 40}, 96, model.Section().hasSwitch);
    EXPECT_EQ(model.Click(parts, c.x, 20), c.code);
    EXPECT_EQ(model.IsSwitchOn(), c.switchAfter);
    EXPECT_EQ(model.IsCollapsed(), c.collapsedAfter);
  }
}

TEST(SectionHeaderLook, StatusDotColours) {
  constexpr Rgb green{46, 178, 90}, amber{243, 156, 51}, grey{170, 176, 186}, blue{58, 123, 213};
  const struct {
    SectionStatus status;
    bool on;
    bool phase;
    Rgb colour;
    bool ring;
  } cases[] = {
      {SectionStatus::UpToDate, true, false, green, false},
      {SectionStatus::Pending, true, false, amber, false},
      {SectionStatus::Inactive, true, false, grey, true},
      {SectionStatus::Running, true, false, blue, false},
      {SectionStatus::Running, true, true, blue, true},
      {SectionStatus::UpToDate, false, false, grey, true},
      {SectionStatus::Running, false, false, grey, true},
  };
  for (const auto& c : cases) {
    const DotLook look = StatusDotLook(c.status, c.on, c.phase);
    EXPECT_TRUE(look.draw);
    EXPECT_EQ(look.colour, c.colour);
    EXPECT_EQ(look.ring, c.ring);
  }
  EXPECT_FALSE(StatusDotLook(static_cast<SectionStatus>(7), true, false).draw);
}

// Running starts the blink filled and each tick alternates the dot; any other status stops
// the timer and the dot keeps that status's look whatever phase the blink stopped in.
TEST(SectionHeaderLook, RunningDotBlinksAndStops) {
  SectionHeaderModel model(FlowStep::Relief);
  EXPECT_EQ(model.SetStatus(SectionStatus::Pending), SectionHeaderModel::TimerChange::None);
  EXPECT_EQ(model.SetStatus(SectionStatus::Running), SectionHeaderModel::TimerChange::Start);
  bool rings[4];
  for (bool& ring : rings) {
    ring = model.Dot().ring;
    model.Blink();
  }
  EXPECT_FALSE(rings[0]);
  EXPECT_TRUE(rings[1]);
  EXPECT_FALSE(rings[2]);
  EXPECT_TRUE(rings[3]);
  model.Blink();  // stop in the ring phase
  EXPECT_EQ(model.SetStatus(SectionStatus::UpToDate), SectionHeaderModel::TimerChange::Stop);
  EXPECT_FALSE(model.Dot().ring);
  EXPECT_EQ(model.SetStatus(SectionStatus::UpToDate), SectionHeaderModel::TimerChange::None);
  // A second run starts filled again, not in the phase the last one stopped in.
  EXPECT_EQ(model.SetStatus(SectionStatus::Running), SectionHeaderModel::TimerChange::Start);
  EXPECT_FALSE(model.Dot().ring);
}

}  // namespace
}  // namespace grainforge::app
