// The owner-drawn toolbar's logic: where buttons go (and which are skipped), what a press,
// a drag and a release do, the update pass, the tooltip texts and the looks of a button.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/kit/toolbar_model.h"
#include "app/shell/kit/toolbar_tint.h"

namespace grainforge::app {
namespace {

// The main toolbar's spacing: 42 px high, margin 6, spacing 1, icon padding 4. A 42 px bar has
// buttons 32 px thick (42 - 2 - 2 × 4) and measures icons at 26 px (32 - 6).
ToolbarSpacing MainBarSpacing() {
  ToolbarSpacing spacing;
  spacing.barHeight = 40;
  spacing.iconPadding = 4;
  spacing.spacing = 1;
  spacing.margin = 6;
  return spacing;
}

// Icons by name: "wide" is 64 × 32 (52 px wide at 26 px, a 60 px button), "wider" 96 × 32 (78 px,
// an 86 px button), "square" 32 × 32 (a 34 px button); any other name has no icon (28 px).
std::optional<IconSize> FakeIcons(const ToolbarItem& item) {
  if (item.iconName == L"wide") return IconSize{64, 32};
  if (item.iconName == L"wider") return IconSize{96, 32};
  if (item.iconName == L"square") return IconSize{32, 32};
  return std::nullopt;
}

TEST(ToolbarLayout, ButtonsThatDoNotFitAreSkippedAndALaterShorterOneStillFits) {
  const std::vector<ToolbarItem> items = {
      MakeToolbarButton(1, L"wide", L"A", L""), MakeToolbarButton(2, L"wider", L"B", L""),
      MakeToolbarButton(3, L"missing", L"C", L""), MakeToolbarButton(4, L"square", L"D", L"")};
  // Room from 6 to 114: A takes 6..66, B (86) would end at 153, C (28) fits at 67..95, D (34)
  // would end at 130.
  const auto rects = LayoutToolbar(items, 120, 42, MainBarSpacing(), 96, FakeIcons);
  EXPECT_EQ(rects[0], (PixelRect{6, 5, 66, 37}));
  EXPECT_TRUE(rects[1].IsEmpty());
  EXPECT_EQ(rects[2], (PixelRect{67, 5, 95, 37}));
  EXPECT_TRUE(rects[3].IsEmpty());
}

TEST(ToolbarLayout, ButtonThatEndsExactlyAtTheMarginIsPlaced) {
  const std::vector<ToolbarItem> items = {MakeToolbarButton(1, L"square", L"A", L"")};
  EXPECT_FALSE(LayoutToolbar(items, 46, 42, MainBarSpacing(), 96, FakeIcons)[0].IsEmpty());
  EXPECT_TRUE(LayoutToolbar(items, 45, 42, MainBarSpacing(), 96, FakeIcons)[0].IsEmpty());
}

TEST(ToolbarLayout, SeparatorsTakeNoGapAndArePlacedEvenPastTheEnd) {
  const std::vector<ToolbarItem> items = {MakeToolbarButton(1, L"square", L"A", L""),
                                          MakeToolbarSeparator(6),
                                          MakeToolbarButton(2, L"square", L"B", L""),
                                          MakeToolbarSeparator(300)};
  const auto rects = LayoutToolbar(items, 200, 42, MainBarSpacing(), 96, FakeIcons);
  EXPECT_EQ(rects[0], (PixelRect{6, 5, 40, 37}));
  EXPECT_EQ(rects[1], (PixelRect{41, 5, 47, 37}));
  EXPECT_EQ(rects[2], (PixelRect{47, 5, 81, 37}));
  EXPECT_EQ(rects[3], (PixelRect{82, 5, 382, 37}));
}

TEST(ToolbarLayout, VerticalBarsRunDownwardsAndMeasureIconsByHeight) {
  ToolbarSpacing spacing = MainBarSpacing();
  spacing.orientation = 1;
  const std::vector<ToolbarItem> items = {MakeToolbarButton(1, L"wider", L"A", L""),
                                          MakeToolbarButton(2, L"missing", L"B", L"")};
  const auto rects = LayoutToolbar(items, 42, 300, spacing, 96, FakeIcons);
  // Along a column a wide icon is as long as it is high: 26 + 2 × 4.
  EXPECT_EQ(rects[0], (PixelRect{5, 6, 37, 40}));
  EXPECT_EQ(rects[1], (PixelRect{5, 41, 37, 69}));
}

TEST(ToolbarLayout, SizesScaleWithTheDpi) {
  ToolbarSpacing spacing = MainBarSpacing();
  const std::vector<ToolbarItem> items = {MakeToolbarButton(1, L"missing", L"A", L"")};
  // 144 dpi, a 62 px bar: cross 62 - 3 - 12 = 47, margin 9, minimum length 42.
  const auto rects = LayoutToolbar(items, 400, 62, spacing, 144, FakeIcons);
  EXPECT_EQ(rects[0], (PixelRect{9, 7, 51, 54}));
  EXPECT_EQ(ToolbarCrossSize(10, 96), 16);
  EXPECT_EQ(ToolbarDrawIconHeight(32, 96), 24);
  EXPECT_EQ(ToolbarDrawIconHeight(16, 96), 12);
  EXPECT_EQ(ToolbarLayoutIconHeight(16, 96), 12);
  EXPECT_EQ(ScaledIconWidth({3, 2}, 5), 8);
  EXPECT_EQ(ScaledIconWidth({1, 100}, 10), 1);
}

CommandState StateOf(bool enabled, bool checked) {
  CommandState state;
  state.enabled = enabled;
  state.checked = checked;
  return state;
}

// Three 34 px buttons at 6..40, 41..75, 76..110 on a 42 px bar.
class ToolbarModelTest : public ::testing::Test {
protected:
  void SetUp() override {
    model.Spacing() = MainBarSpacing();
    model.SetItems({MakeToolbarButton(101, L"square", L"A", L""),
                    MakeToolbarButton(102, L"square", L"B", L""),
                    MakeToolbarButton(103, L"square", L"C", L"")});
    model.Layout(400, 42, 96, FakeIcons);
  }
  bool Update() {
    return model.UpdateCommandStates([this](std::uint32_t id) -> std::optional<CommandState> {
      const auto found = states.find(id);
      if (found == states.end()) return std::nullopt;
      return found->second;
    });
  }

  ToolbarModel model;
  std::map<std::uint32_t, CommandState> states;
};

constexpr int kY = 20;
constexpr int kOnA = 20;
constexpr int kOnB = 58;
constexpr int kOnC = 90;
constexpr int kOffAll = 300;

TEST_F(ToolbarModelTest, PressAndReleaseOnTheSameButtonClicksIt) {
  EXPECT_TRUE(model.ButtonDown(kOnB, kY));
  EXPECT_EQ(model.PressedIndex(), 1);
  const auto click = model.ButtonUp(kOnB, kY);
  ASSERT_TRUE(click.has_value());
  EXPECT_EQ(click->commandId, 102u);
  EXPECT_EQ(model.PressedIndex(), -1);
}

TEST_F(ToolbarModelTest, DraggingOffBeforeReleaseSendsNothingAndDraggingBackSendsIt) {
  ASSERT_TRUE(model.ButtonDown(kOnB, kY));
  model.MouseMove(kOffAll, kY);
  EXPECT_FALSE(model.ButtonUp(kOffAll, kY).has_value());

  ASSERT_TRUE(model.ButtonDown(kOnB, kY));
  EXPECT_FALSE(model.ButtonUp(kOnC, kY).has_value()) << "released on a neighbour";

  ASSERT_TRUE(model.ButtonDown(kOnB, kY));
  model.MouseMove(kOffAll, kY);
  model.MouseMove(kOnB, kY);
  const auto click = model.ButtonUp(kOnB, kY);
  ASSERT_TRUE(click.has_value());
  EXPECT_EQ(click->commandId, 102u);
}

TEST_F(ToolbarModelTest, ReleaseWithoutPressAndLostCaptureClickNothing) {
  EXPECT_FALSE(model.ButtonUp(kOnA, kY).has_value());
  ASSERT_TRUE(model.ButtonDown(kOnA, kY));
  model.CancelPress();
  EXPECT_FALSE(model.ButtonUp(kOnA, kY).has_value());
}

TEST_F(ToolbarModelTest, DisabledButtonNeitherHighlightsNorReactsToAClick) {
  states[102] = StateOf(false, false);
  ASSERT_TRUE(Update());
  model.MouseMove(kOnB, kY);
  const ToolbarButtonState& b = model.Buttons()[1];
  const ToolbarColors colors;
  const ButtonLook look = ButtonLookFor(b, model.HotIndex() == 1, false, colors);
  EXPECT_EQ(look.fill, colors.background);
  EXPECT_FALSE(look.frame.has_value());
  EXPECT_TRUE(look.greyIcon);
  EXPECT_FALSE(model.ButtonDown(kOnB, kY));
  EXPECT_FALSE(model.ButtonUp(kOnB, kY).has_value());
}

TEST_F(ToolbarModelTest, ButtonDisabledWhileHeldDownIsNotClicked) {
  ASSERT_TRUE(model.ButtonDown(kOnA, kY));
  states[101] = StateOf(false, false);
  Update();
  EXPECT_FALSE(model.ButtonUp(kOnA, kY).has_value());
}

TEST_F(ToolbarModelTest, HoverRepaintsTheOldAndTheNewButtonOnlyOnAChange) {
  EXPECT_EQ(model.MouseMove(kOnA, kY).size(), 1u);
  EXPECT_TRUE(model.MouseMove(kOnA + 3, kY).empty());
  const auto repaint = model.MouseMove(kOnC, kY);
  ASSERT_EQ(repaint.size(), 2u);
  EXPECT_EQ(repaint[0], model.Buttons()[0].rect);
  EXPECT_EQ(repaint[1], model.Buttons()[2].rect);
  EXPECT_EQ(model.MouseLeave().size(), 1u);
  EXPECT_EQ(model.HotIndex(), -1);
  EXPECT_TRUE(model.MouseLeave().empty());
}

TEST_F(ToolbarModelTest, AHoverTheLeaveNeverReachedIsDroppedButNotDuringAPress) {
  model.MouseMove(kOnB, kY);
  const auto repaint = model.PointerElsewhere();
  ASSERT_EQ(repaint.size(), 1u);
  EXPECT_EQ(repaint[0], model.Buttons()[1].rect);
  EXPECT_EQ(model.HotIndex(), -1);
  EXPECT_TRUE(model.PointerElsewhere().empty());

  // Held down, the pointer may be dragged off and back: the press decides, not the hover.
  model.MouseMove(kOnB, kY);
  ASSERT_TRUE(model.ButtonDown(kOnB, kY));
  EXPECT_TRUE(model.PointerElsewhere().empty());
  EXPECT_EQ(model.HotIndex(), 1);
}

TEST_F(ToolbarModelTest, UpdatePassTakesHandlersAnswersAndReportsOnlyChanges) {
  // No handler anywhere: enabled and unchecked, which is how the buttons start.
  EXPECT_FALSE(Update());
  states[101] = StateOf(true, true);
  states[103] = StateOf(false, true);
  EXPECT_TRUE(Update());
  EXPECT_TRUE(model.Buttons()[0].enabled);
  EXPECT_TRUE(model.Buttons()[0].checked);
  EXPECT_TRUE(model.Buttons()[1].enabled);
  EXPECT_FALSE(model.Buttons()[1].checked);
  EXPECT_FALSE(model.Buttons()[2].enabled);
  EXPECT_FALSE(Update());
  // A state's own tooltip (why the button is disabled) stands for the body until it goes.
  states[103].tooltip = L"Why not";
  EXPECT_TRUE(Update());
  EXPECT_EQ(model.Buttons()[2].tooltip, (ToolbarTooltipText{L"C", L"Why not"}));
  states[103].tooltip.clear();
  EXPECT_TRUE(Update());
  EXPECT_EQ(model.Buttons()[2].tooltip, (ToolbarTooltipText{L"C", L""}));
}

TEST(ToolbarModel, ButtonsWithoutACommandKeepTheirDefaultsAndAreNeverChecked) {
  ToolbarItem item = MakeToolbarButton(0, L"", L"Plain", L"");
  item.enabledDefault = false;
  item.checkedDefault = true;
  ToolbarModel model;
  model.SetItems({item, MakeToolbarSeparator(8)});
  EXPECT_FALSE(model.Buttons()[0].enabled);
  EXPECT_TRUE(model.Buttons()[0].checked);
  int asked = 0;
  EXPECT_TRUE(model.UpdateCommandStates([&asked](std::uint32_t) {
    ++asked;
    return std::optional<CommandState>{};
  }));
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(model.Buttons()[0].enabled);
  EXPECT_FALSE(model.Buttons()[0].checked);
}

TEST(ToolbarModel, SeparatorsAndSkippedButtonsAreNeverHit) {
  ToolbarModel model;
  model.Spacing() = MainBarSpacing();
  model.SetItems({MakeToolbarSeparator(40), MakeToolbarButton(1, L"wider", L"A", L"")});
  model.Layout(60, 42, 96, FakeIcons);
  EXPECT_EQ(model.HitTestButton(20, 20), -1);
  EXPECT_EQ(model.HitTestButton(50, 20), -1);
  EXPECT_FALSE(model.ButtonDown(50, 20));
}

TEST(ButtonLookFor, CheckedThenHotThenPressedEachOverTheOneBefore) {
  const ToolbarColors c;
  ToolbarButtonState button;
  EXPECT_EQ(ButtonLookFor(button, false, false, c), (ButtonLook{c.background, std::nullopt, false}));
  button.checked = true;
  EXPECT_EQ(ButtonLookFor(button, false, false, c), (ButtonLook{c.checkedFill, c.checkedBorder, false}));
  EXPECT_EQ(ButtonLookFor(button, true, false, c), (ButtonLook{c.hotFill, c.hotBorder, false}));
  EXPECT_EQ(ButtonLookFor(button, true, true, c), (ButtonLook{c.pressedFill, c.hotBorder, false}));
  button.enabled = false;
  EXPECT_EQ(ButtonLookFor(button, true, true, c), (ButtonLook{c.background, std::nullopt, true}));
}

TEST(BuildTooltipText, TidiesTextsAndDropsABodyThatRepeatsTheTitle) {
  struct Case {
    std::wstring title, body;
    ToolbarTooltipText expected;
  };
  const Case cases[] = {
      {L"Move", L"Slide the texture.", {L"Move", L"Slide the texture."}},
      {L"  Two\r\nlines ", L"\r\n body\r\n second ", {L"Two lines", L"body\n second"}},
      {L"Wireframe", L"wireFRAME", {L"Wireframe", L""}},
      {L"", L"", {L"", L""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildTooltipText(MakeToolbarButton(5, L"", c.title, c.body), {}), c.expected);
  }
}

TEST(BuildTooltipText, FillsGapsFromTheCommandsOwnText) {
  const CommandStringLookup lookup = [](std::uint32_t id) -> std::optional<std::wstring> {
    if (id == 7) return L"Open a part from disk\nOpen";
    if (id == 8) return L"Single";
    return std::nullopt;
  };
  EXPECT_EQ(BuildTooltipText(MakeToolbarButton(7, L"", L"", L""), lookup),
            (ToolbarTooltipText{L"Open", L"Open a part from disk"}));
  EXPECT_EQ(BuildTooltipText(MakeToolbarButton(7, L"", L"Mine", L""), lookup),
            (ToolbarTooltipText{L"Mine", L"Open a part from disk"}));
  // Without a line feed the whole text is both, and the body repeating the title goes.
  EXPECT_EQ(BuildTooltipText(MakeToolbarButton(8, L"", L"", L""), lookup),
            (ToolbarTooltipText{L"Single", L""}));
  EXPECT_EQ(BuildTooltipText(MakeToolbarButton(9, L"", L"", L""), lookup),
            (ToolbarTooltipText{L"", L""}));
  // A button without a command never asks.
  EXPECT_EQ(BuildTooltipText(MakeToolbarButton(0, L"", L"", L""), lookup),
            (ToolbarTooltipText{L"", L""}));
}

TEST(TooltipForDisplay, ATextWithoutBodyShowsAsOneTextWithoutTitle) {
  EXPECT_EQ(TooltipForDisplay({L"Wireframe", L""}), (ToolbarTooltipText{L"", L"Wireframe"}));
  EXPECT_EQ(TooltipForDisplay({L"Title", L"Body"}), (ToolbarTooltipText{L"Title", L"Body"}));
}

TEST(TintPixel, GreysMixesAQuarterTowardsTheTintAndKeeps45PercentOpacity) {
  const Rgb tint{150, 150, 150};
  // Pure blue: grey = 29 × 255 >> 8 = 28; (84 + 150) >> 2 = 58.
  EXPECT_EQ(TintPixel({0, 0, 255, 255}, tint), (RgbaPixel{58, 58, 58, 115}));
  // White: grey 255; (765 + 150) >> 2 = 228.
  EXPECT_EQ(TintPixel({255, 255, 255, 255}, tint), (RgbaPixel{228, 228, 228, 115}));
  EXPECT_EQ(TintPixel({0, 0, 0, 0}, Rgb{0, 40, 200}), (RgbaPixel{0, 10, 50, 0}));
  EXPECT_EQ(TintPixel({10, 20, 30, 128}, tint).a, 57);
}

}  // namespace
}  // namespace grainforge::app
