#include "app/workflow/flow_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "app/shell/profile_store.h"

namespace grainforge::app {
namespace {

std::array<SectionExtent, kFlowStepCount> Sections(int mask, int body = 100) {
  std::array<SectionExtent, kFlowStepCount> sections;
  for (int i = 0; i < kFlowStepCount; ++i)
    sections[i] = SectionExtent{40, body, ((mask >> i) & 1) != 0};
  return sections;
}

TEST(FlowLayout, AllCollapsedIsFourHeaders) {
  const FlowStack stack = StackSections(Sections(15), PixelRect{0, 0, 300, 500}, 0);
  EXPECT_EQ(stack.contentHeight, 160);
  for (int i = 0; i < kFlowStepCount; ++i) {
    EXPECT_EQ(stack.headers[i], (PixelRect{0, 40 * i, 300, 40 * i + 40}));
    EXPECT_EQ(stack.bodies[i].Height(), 0);
  }
}

TEST(FlowLayout, SectionsStackUnderTheScrollPosition) {
  // Texture collapsed: 140 + 40 + 140 + 140 = 460 in a 200 px window, scrolled by 100.
  const FlowStack stack = StackSections(Sections(0b0010), PixelRect{0, 0, 300, 200}, 100);
  EXPECT_EQ(stack.contentHeight, 460);
  EXPECT_EQ(stack.scrollPos, 100);
  EXPECT_EQ(stack.headers[0].top, -100);
  EXPECT_EQ(stack.bodies[0], (PixelRect{0, -60, 300, 40}));
  EXPECT_EQ(stack.headers[1], (PixelRect{0, 40, 300, 80}));
  EXPECT_EQ(stack.headers[2].top, 80);
  EXPECT_EQ(stack.bodies[3].bottom, 360);
}

// Scrolled to the bottom, collapsing a section must not leave empty space below the last one.
TEST(FlowLayout, CollapsingAtTheBottomClampsTheScroll) {
  const PixelRect client{0, 0, 300, 200};
  const FlowStack open = StackSections(Sections(0), client, 10000);
  EXPECT_EQ(open.scrollPos, 560 - 200);
  const FlowStack collapsed = StackSections(Sections(0b0100), client, open.scrollPos);
  EXPECT_EQ(collapsed.scrollPos, 460 - 200);
  EXPECT_EQ(collapsed.bodies[3].bottom, 200);
  // Content shorter than the window: nothing to scroll.
  EXPECT_EQ(StackSections(Sections(15), client, 50).scrollPos, 0);
  EXPECT_EQ(ClampFlowScroll(-5, 400, 200), 0);
  EXPECT_EQ(ClampFlowScroll(30, 400, -1), 30);
}

TEST(FlowLayout, WheelScrollsThreeLinesPerNotch) {
  const struct {
    int pos, rotation, dpi, expected;
  } cases[] = {
      {200, 120, 96, 128},    // one notch up
      {0, -120, 96, 72},      // one notch down
      {0, -60, 96, 36},       // half a notch from a smooth wheel
      {0, -1, 96, 0},         // truncated towards zero
      {0, 1, 96, 0},
      {0, -120, 144, 108},    // 36 px lines
  };
  for (const auto& c : cases)
    EXPECT_EQ(WheelScrollTarget(c.pos, c.rotation, c.dpi), c.expected) << c.rotation;
  EXPECT_EQ(WheelScrollTarget(0, -2000000000, 960), INT32_MAX);  // saturates, never wraps
}

TEST(FlowCollapse, MissingProfileOpensEverySectionAndWritesTheMask) {
  MemoryProfileStore profile;
  FlowCollapseModel model(&profile);
  model.LoadFromProfile();
  EXPECT_EQ(model.Mask(), 0);
  EXPECT_EQ(profile.ReadInt(L"Workflow", L"Collapsed2", -1), 0);
}

// Bits above the four sections (or a negative number from a hand-edited file) are dropped and
// the value is written back as it was applied.
TEST(FlowCollapse, StoredMaskKeepsItsLowFourBits) {
  const struct {
    int stored, applied;
  } cases[] = {{5, 5}, {0x35, 5}, {-1, 15}, {16, 0}};
  for (const auto& c : cases) {
    MemoryProfileStore profile;
    profile.WriteInt(L"Workflow", L"Collapsed2", c.stored);
    FlowCollapseModel model(&profile);
    model.LoadFromProfile();
    EXPECT_EQ(model.Mask(), c.applied) << c.stored;
    EXPECT_EQ(profile.ReadInt(L"Workflow", L"Collapsed2", -1), c.applied);
  }
}

TEST(FlowCollapse, ChangesAreSavedAndSurviveANewWindow) {
  MemoryProfileStore profile;
  {
    FlowCollapseModel model(&profile);
    model.LoadFromProfile();
    EXPECT_TRUE(model.SetSectionCollapsed(FlowStep::Relief, true));
    const int writes = profile.Writes();
    EXPECT_FALSE(model.SetSectionCollapsed(FlowStep::Relief, true));
    EXPECT_EQ(profile.Writes(), writes);  // no change, no write
    model.OnHeaderCollapse(FlowStep::Mapping, true, false);
  }
  FlowCollapseModel again(&profile);
  again.LoadFromProfile();
  EXPECT_EQ(again.Mask(), 0b0101);
  EXPECT_TRUE(again.IsCollapsed(FlowStep::Mapping));
  EXPECT_FALSE(again.IsCollapsed(FlowStep::Texture));
}

// Ctrl-clicking a chevron keeps that section open and closes the three others, whether the
// header had just opened or closed it.
TEST(FlowCollapse, CtrlClickLeavesOnlyThatSectionOpen) {
  const int expected[kFlowStepCount] = {14, 13, 11, 7};
  for (int i = 0; i < kFlowStepCount; ++i) {
    for (const bool headerCollapsed : {true, false}) {
      MemoryProfileStore profile;
      FlowCollapseModel model(&profile);
      model.SetCollapsedMask(0b1010);
      model.OnHeaderCollapse(StepAt(i), headerCollapsed, true);
      EXPECT_EQ(model.Mask(), expected[i]);
      EXPECT_EQ(profile.ReadInt(L"Workflow", L"Collapsed2", -1), expected[i]);
    }
  }
}

}  // namespace
}  // namespace grainforge::app
