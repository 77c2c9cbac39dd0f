#include "app/shell/footer_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <wx/fileconf.h>
#include <wx/sstream.h>

#include "app/shell/wx_profile_store.h"

namespace grainforge::app {
namespace {

FooterShown Processing(std::wstring stage, float fraction, bool known) {
  FooterShown shown;
  shown.statusText = L"Processing";
  shown.state = FooterState::Processing;
  shown.stageText = std::move(stage);
  shown.fraction = fraction;
  shown.fractionKnown = known;
  return shown;
}

TEST(FooterLayout, TextAboveButtonCentredAsABlock) {
  const struct {
    PixelRect client;
    int dpi;
    FooterLayout expected;
  } cases[] = {
      // 64 - 4 - 30 - 16 = 14 spare, 7 above.
      {{0, 0, 340, 64}, 96, {{8, 7, 332, 23}, {8, 27, 332, 57}}},
      // Too short: the block starts at the top and runs past the bottom.
      {{0, 0, 340, 40}, 96, {{8, 0, 332, 16}, {8, 20, 332, 50}}},
      {{0, 0, 510, 96}, 144, {{12, 10, 498, 34}, {12, 40, 498, 85}}},
  };
  for (const auto& c : cases) {
    const FooterLayout layout = LayoutFooter(c.client, c.dpi);
    EXPECT_EQ(layout.text, c.expected.text) << c.dpi;
    EXPECT_EQ(layout.button, c.expected.button) << c.dpi;
  }
}

// The footer takes at most 64 px; in a 40 px pane it takes everything and the flow gets none.
TEST(FooterLayout, LeftPaneSplit) {
  const struct {
    int height, dpi, flowHeight, footerHeight;
  } cases[] = {{600, 96, 536, 64}, {40, 96, 40 - 40, 40}, {0, 96, 0, 0}, {600, 144, 504, 96}};
  for (const auto& c : cases) {
    const LeftPaneSplit split = SplitLeftPane(PixelRect{0, 0, 340, c.height}, c.dpi);
    EXPECT_EQ(split.flow.Height(), c.flowHeight) << c.height;
    EXPECT_EQ(split.footer.Height(), c.footerHeight) << c.height;
    EXPECT_EQ(split.footer.bottom, c.height);
    EXPECT_EQ(split.flow.bottom, split.footer.top);
    EXPECT_EQ(split.footer.Width(), 340);
  }
}

TEST(FooterText, LineByState) {
  FooterShown ready;
  ready.statusText = L"Not processed yet";
  ready.state = FooterState::ReadyToProcess;
  FooterShown stale = ready;
  stale.stageText = L"left over";  // not shown outside a run
  const struct {
    FooterShown shown;
    const wchar_t* expected;
  } cases[] = {
      {FooterShown{}, L"No part loaded"},
      {ready, L"Not processed yet"},
      {stale, L"Not processed yet"},
      {Processing(L"Displacing", 0.4f, true), L"Displacing  40%"},
      {Processing(L"Displacing", 0.004f, true), L"Displacing  0%"},
      {Processing(L"Displacing", 0.995f, true), L"Displacing  100%"},
      {Processing(L"Checking the mesh", 0.7f, false), L"Checking the mesh"},
      {Processing(L"", 0.25f, true), L"Processing  25%"},
      {Processing(L"", 0.0f, false), L"Processing"},
      // Out of range and not-a-number fractions show as the nearest end.
      {Processing(L"Remeshing", 1.7f, true), L"Remeshing  100%"},
      {Processing(L"Remeshing", -0.3f, true), L"Remeshing  0%"},
      {Processing(L"Remeshing", std::numeric_limits<float>::quiet_NaN(), true), L"Remeshing  0%"},
      {Processing(L"Remeshing", std::numeric_limits<float>::infinity(), true), L"Remeshing  100%"},
  };
  for (const auto& c : cases) EXPECT_EQ(FooterLineText(c.shown), c.expected);
}

TEST(FooterLook, ButtonByStateAndHover) {
  const struct {
    FooterState state;
    bool hover;
    const wchar_t* label;
    Rgb fill;
    Rgb labelColour;
  } cases[] = {
      {FooterState::ReadyToProcess, false, L"Process", {58, 123, 213}, {255, 255, 255}},
      {FooterState::ReadyToProcess, true, L"Process", {46, 104, 188}, {255, 255, 255}},
      {FooterState::Processing, false, L"Stop", {224, 72, 60}, {255, 255, 255}},
      {FooterState::Processing, true, L"Stop", {200, 60, 48}, {255, 255, 255}},
      {FooterState::NothingToDo, false, L"Process", {214, 218, 224}, {122, 128, 138}},
      {FooterState::NothingToDo, true, L"Process", {214, 218, 224}, {122, 128, 138}},
  };
  for (const auto& c : cases) {
    const FooterButtonLook look = FooterButtonLookFor(c.state, c.hover);
    EXPECT_EQ(look.label, c.label);
    EXPECT_EQ(look.fill, c.fill);
    EXPECT_EQ(look.labelColour, c.labelColour);
  }
  EXPECT_EQ(FooterTextColour(FooterState::NothingToDo), (Rgb{122, 128, 138}));
  EXPECT_EQ(FooterTextColour(FooterState::Processing), (Rgb{28, 32, 38}));
}

TEST(FooterLook, ProgressFillsOnlyAKnownRun) {
  FooterShown idle;
  idle.fraction = 0.5f;
  idle.fractionKnown = true;
  const struct {
    FooterShown shown;
    int width;
  } cases[] = {
      {Processing(L"x", 0.5f, true), 162},
      {Processing(L"x", 0.999f, true), 323},
      {Processing(L"x", 2.0f, true), 324},
      {Processing(L"x", -1.0f, true), 0},
      {Processing(L"x", std::numeric_limits<float>::quiet_NaN(), true), 0},
      {Processing(L"x", 0.5f, false), 0},
      {idle, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FooterProgressWidth(c.shown, 324), c.width);
}

// A click sends Stop while running and Process when ready; nothing when there is nothing to
// do or outside the button.
TEST(FooterClick, CommandByStateAndPlace) {
  const FooterLayout layout = LayoutFooter({0, 0, 340, 64}, 96);
  const struct {
    FooterState state;
    int x, y;
    std::optional<int> command;
  } cases[] = {
      {FooterState::ReadyToProcess, 170, 40, 32888},
      {FooterState::Processing, 9, 27, 32836},
      {FooterState::NothingToDo, 170, 40, std::nullopt},
      {FooterState::ReadyToProcess, 170, 15, std::nullopt},   // on the text
      {FooterState::Processing, 332, 40, std::nullopt},       // just right of the button
      {FooterState::ReadyToProcess, 170, 57, std::nullopt},   // just below
  };
  for (const auto& c : cases)
    EXPECT_EQ(FooterClickCommand(c.state, layout, c.x, c.y), c.command) << c.x << "," << c.y;
}

// Every field the footer shows takes part in the comparison that decides a repaint.
TEST(FooterShownTest, EveryFieldCountsForARepaint) {
  const FooterShown base = Processing(L"Displacing", 0.4f, true);
  FooterShown changed[5] = {base, base, base, base, base};
  changed[0].statusText = L"Up to date";
  changed[1].state = FooterState::NothingToDo;
  changed[2].stageText = L"Simplifying";
  changed[3].fraction = 0.41f;
  changed[4].fractionKnown = false;
  for (const FooterShown& other : changed) EXPECT_FALSE(other == base);
  EXPECT_TRUE(Processing(L"Displacing", 0.4f, true) == base);
}

TEST(WxProfileStoreTest, ReadsWritesAndRefusesNumbersOutsideInt) {
  wxStringInputStream text(wxS("[Workflow]\nCollapsed2=5\n[Log]\nDetailed=99999999999\nBad=x\n"));
  wxFileConfig config(text);
  WxProfileStore store(config);
  EXPECT_EQ(store.ReadInt(L"Workflow", L"Collapsed2", 0), 5);
  EXPECT_EQ(store.ReadInt(L"Log", L"Detailed", 7), 7);
  EXPECT_EQ(store.ReadInt(L"Log", L"Bad", 3), 3);
  EXPECT_EQ(store.ReadInt(L"MaskPanel", L"X", -1), -1);
  store.WriteInt(L"Workflow", L"Collapsed2", 12);
  EXPECT_EQ(store.ReadInt(L"Workflow", L"Collapsed2", 0), 12);
}

// The footer writes the percent the status bar writes (frame_logic_test holds its half).
TEST(ProgressPercent, FooterShowsTheSharedNumber) {
  const struct {
    float fraction;
    int percent;
  } cases[] = {{0.0f, 0}, {0.125f, 13}, {0.994f, 99}, {0.996f, 100}, {1.5f, 100}, {-0.2f, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressPercent(c.fraction), c.percent) << c.fraction;
    FooterShown shown;
    shown.state = FooterState::Processing;
    shown.stageText = L"Displacing: contouring the solid";
    shown.fraction = c.fraction;
    shown.fractionKnown = true;
    EXPECT_EQ(FooterLineText(shown), L"Displacing: contouring the solid  " + std::to_wstring(c.percent) + L"%");
  }
}

}  // namespace
}  // namespace grainforge::app
