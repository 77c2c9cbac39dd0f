#include "app/workflow/dialogs/levels_model.h"

#include <gtest/gtest.h>

#include <cmath>

namespace grainforge::app {
namespace {

constexpr float kStep = 1.0f / 255.0f;

// A 516 px wide control at 96 dpi: both bars run from x 8 to 508, 500 px wide.
LevelsLayout Wide() { return LayOutLevels(516, 96); }
int InputX(float t) { return 8 + static_cast<int>(std::lround(500.0f * t)); }

TEST(LevelsLayout, RowsStackUnderTheHistogram) {
  const LevelsLayout l = Wide();
  EXPECT_EQ(l.histogram, (PixelRect{8, 0, 508, 64}));
  EXPECT_EQ(l.inputBar, (PixelRect{8, 64, 508, 76}));
  EXPECT_EQ(l.edits[1], (PixelRect{236, 80, 280, 100}));  // gamma centred
  EXPECT_EQ(l.edits[2].right, 508);
  EXPECT_EQ(l.outputBar, (PixelRect{8, 112, 508, 136}));
  EXPECT_EQ(l.edits[3].top, 140);
  // A toolkit's taller entry pushes the rows down instead of overlapping them.
  EXPECT_EQ(LayOutLevels(516, 96, 30).outputBar.top, 80 + 12 + 30);
}

TEST(LevelsDrag, HandlesMoveAndStayInOrder) {
  struct Case {
    const char* what;
    LevelsHandle handle;
    LevelsValues start;
    int x;
    LevelsValues expected;
  };
  const LevelsValues neutral;
  LevelsValues narrow{0.2f, 0.6f, 1.0f, 0.3f, 0.7f};
  const Case cases[] = {
      {"black follows the mouse", LevelsHandle::Black, neutral, InputX(0.25f), {0.25f, 1.0f, 1.0f, 0.0f, 1.0f}},
      {"black stops a step below white", LevelsHandle::Black, narrow, InputX(0.9f), {0.6f - kStep, 0.6f, 1.0f, 0.3f, 0.7f}},
      {"white stops a step above black", LevelsHandle::White, narrow, 0, {0.2f, 0.2f + kStep, 1.0f, 0.3f, 0.7f}},
      {"white past the bar's end is 1", LevelsHandle::White, narrow, 2000, {0.2f, 1.0f, 1.0f, 0.3f, 0.7f}},
      {"output black cannot pass output white", LevelsHandle::OutputBlack, narrow, InputX(0.9f), {0.2f, 0.6f, 1.0f, 0.7f, 0.7f}},
      {"output white cannot pass output black", LevelsHandle::OutputWhite, narrow, 0, {0.2f, 0.6f, 1.0f, 0.3f, 0.3f}},
  };
  for (const Case& c : cases) {
    const LevelsValues v = DragLevelsHandle(Wide(), c.start, c.handle, c.x);
    EXPECT_FLOAT_EQ(v.blackLevel, c.expected.blackLevel) << c.what;
    EXPECT_FLOAT_EQ(v.whiteLevel, c.expected.whiteLevel) << c.what;
    EXPECT_FLOAT_EQ(v.gamma, c.expected.gamma) << c.what;
    EXPECT_FLOAT_EQ(v.outputBlackLevel, c.expected.outputBlackLevel) << c.what;
    EXPECT_FLOAT_EQ(v.outputWhiteLevel, c.expected.outputWhiteLevel) << c.what;
  }
}

TEST(LevelsDrag, MiddleHandleSetsGammaAndIsShownAsItsReciprocal) {
  struct Case {
    float t;
    float gamma;
    const wchar_t* shown;
  };
  // The middle sits where levelled^gamma = 0.5: at u = 0.5 gamma is 1, at u = 0.25 it is 0.5.
  const Case cases[] = {{0.5f, 1.0f, L"1.00"},
                        {0.25f, 0.5f, L"2.00"},
                        {0.0f, std::log(0.5f) / std::log(0.02f), L"5.64"},  // u held at 0.02
                        {1.0f, 10.0f, L"0.10"}};                              // gamma held at 10
  for (const Case& c : cases) {
    const LevelsValues v = DragLevelsHandle(Wide(), LevelsValues{}, LevelsHandle::Gamma, InputX(c.t));
    EXPECT_NEAR(v.gamma, c.gamma, 1e-3f) << c.t;
    EXPECT_EQ(FormatLevelsTexts(v)[1], c.shown) << c.t;
    // The handle lands back where it was dragged.
    if (c.t > 0.0f && c.t < 1.0f) {
      EXPECT_NEAR(LevelsHandlePosition(Wide(), v, LevelsHandle::Gamma), InputX(c.t), 1);
    }
  }
}

TEST(LevelsDrag, BarNarrowerThanAPixelGivesZero) {
  const LevelsLayout tiny = LayOutLevels(10, 96);  // margins eat the width
  EXPECT_FLOAT_EQ(DragLevelsHandle(tiny, LevelsValues{}, LevelsHandle::Black, 50).blackLevel, 0.0f);
}

TEST(LevelsHitTest, MiddleFirstThenBlackAndWhiteThenOutputs) {
  const LevelsLayout l = Wide();
  LevelsValues v;  // middle at 0.5, black 0, white 1
  EXPECT_EQ(LevelsHitTest(l, v, InputX(0.5f) + 8, 70, 96), LevelsHandle::Gamma);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(0.0f), l.inputBar.top - 8, 96), LevelsHandle::Black);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(1.0f), l.inputBar.bottom + 8, 96), LevelsHandle::White);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(1.0f), l.inputBar.bottom + 9, 96), LevelsHandle::None);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(0.0f), l.outputBar.bottom, 96), LevelsHandle::OutputBlack);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(1.0f), l.outputBar.top, 96), LevelsHandle::OutputWhite);
  EXPECT_EQ(LevelsHitTest(l, v, InputX(0.5f), l.outputBar.top, 96), LevelsHandle::None);
  // With black and white close together the middle handle still wins.
  v.whiteLevel = 0.02f;
  EXPECT_EQ(LevelsHitTest(l, v, InputX(0.0f), 70, 96), LevelsHandle::Gamma);
}

// Levels a step apart used to draw the black and middle handles under the white one; the
// handles keep half the bar's height (6 px) apart, in order, within the bar.
TEST(LevelsHandles, CloseLevelsKeepTheirHandlesApart) {
  struct Case {
    const char* what;
    float black, white;
    int blackX, middleX, whiteX;
  };
  const Case cases[] = {
      {"apart already: where the values put them", 0.2f, 0.8f, InputX(0.2f), InputX(0.5f), InputX(0.8f)},
      {"a step apart at the top: black and middle give way", 1.0f - kStep, 1.0f, 508 - 12, 508 - 6, 508},
      {"a step apart at the bottom: white gives way", 0.0f, kStep, 8, 14, 20},
      {"a step apart mid-bar", 0.5f, 0.5f + kStep, InputX(0.5f + kStep) - 12, InputX(0.5f + kStep) - 6,
       InputX(0.5f + kStep)},
  };
  for (const Case& c : cases) {
    LevelsValues v;
    v.blackLevel = c.black;
    v.whiteLevel = c.white;
    EXPECT_EQ(LevelsHandlePosition(Wide(), v, LevelsHandle::Black), c.blackX) << c.what;
    EXPECT_EQ(LevelsHandlePosition(Wide(), v, LevelsHandle::Gamma), c.middleX) << c.what;
    EXPECT_EQ(LevelsHandlePosition(Wide(), v, LevelsHandle::White), c.whiteX) << c.what;
  }
}

TEST(LevelsTexts, TypedValuesAreClampedOrIgnored) {
  struct Case {
    const char* what;
    LevelsTexts typed;
    LevelsValues expected;
  };
  const LevelsValues start{0.2f, 0.8f, 0.5f, 0.4f, 0.6f};
  const Case cases[] = {
      {"the shown texts read back unchanged", FormatLevelsTexts(start), {51 / 255.0f, 204 / 255.0f, 0.5f, 102 / 255.0f, 153 / 255.0f}},
      {"black typed above white is refused, white taken", {L"250", L"2.00", L"100", L"26", L"230"}, {0.2f, 100 / 255.0f, 0.5f, 26 / 255.0f, 230 / 255.0f}},
      {"black typed at white is refused", {L"255", L"2", L"255", L"0", L"255"}, {0.2f, 1.0f, 0.5f, 0.0f, 1.0f}},
      {"gamma 0 and junk are ignored", {L"abc", L"0", L"", L"inf", L"1e999"}, {0.2f, 0.8f, 0.5f, 0.4f, 0.6f}},
      {"texts out of range keep their levels", {L"-5", L"-1", L"300", L"12", L"nan"}, {0.2f, 0.8f, 0.5f, 12 / 255.0f, 0.6f}},
      // A fraction showed as the next whole level ("1.5" as "2", White "0.4" as "0" over a
      // black of 0) and was kept unseen: refused now, the level as it stood.
      {"a fraction keeps its level", {L"1.5", L"2.345", L"0.4", L"12.75", L"153"}, {0.2f, 0.8f, 0.5f, 0.4f, 0.6f}},
      {"gamma 10 is refused, not held at 9.99", {L"51", L"10", L"204", L"26", L"230"}, {0.2f, 0.8f, 0.5f, 26 / 255.0f, 230 / 255.0f}},
      {"gamma 0.05 is refused, not held at 0.1", {L"51", L"0.05", L"204", L"26", L"230"}, {0.2f, 0.8f, 0.5f, 26 / 255.0f, 230 / 255.0f}},
      {"white typed below the standing black is refused", {L"51", L"2", L"40", L"26", L"230"}, {0.2f, 0.8f, 0.5f, 26 / 255.0f, 230 / 255.0f}},
      {"black and white typed crossed both give way", {L"250", L"2", L"30", L"26", L"230"}, {0.2f, 0.8f, 0.5f, 26 / 255.0f, 230 / 255.0f}},
      {"output black above output white is accepted", {L"51", L"2", L"204", L"200", L"100"}, {0.2f, 0.8f, 0.5f, 200 / 255.0f, 100 / 255.0f}},
  };
  for (const Case& c : cases) {
    const LevelsValues v = ReadLevelsTexts(c.typed, start);
    EXPECT_FLOAT_EQ(v.blackLevel, c.expected.blackLevel) << c.what;
    EXPECT_FLOAT_EQ(v.whiteLevel, c.expected.whiteLevel) << c.what;
    EXPECT_FLOAT_EQ(v.gamma, c.expected.gamma) << c.what;
    EXPECT_FLOAT_EQ(v.outputBlackLevel, c.expected.outputBlackLevel) << c.what;
    EXPECT_FLOAT_EQ(v.outputWhiteLevel, c.expected.outputWhiteLevel) << c.what;
  }
}

// A text out of range or crossing the other level used to be replaced (black 300 became 255,
// gamma 10 became 9.99, white 100 under black 200 became 201); it is refused: flagged so its
// edit keeps it as typed, the first refusal said.
TEST(LevelsTexts, RefusedTextsAreFlaggedAndTheFirstSaid) {
  struct Case {
    LevelsTexts typed;
    const wchar_t* note;
    int first;
    std::array<bool, kLevelsEditCount> refused;
  };
  const LevelsValues start{0.2f, 0.8f, 0.5f, 0.4f, 0.6f};
  const Case cases[] = {
      {FormatLevelsTexts(start), L"", -1, {}},
      {{L"255", L"2.00", L"255", L"102", L"153"}, L"Black must be below white (255).", 0, {true}},
      {{L"250", L"2.00", L"100", L"102", L"153"}, L"Black must be below white (100).", 0, {true}},
      {{L"51", L"2.00", L"40", L"102", L"153"}, L"White must be above black (51).", 2, {false, false, true}},
      {{L"250", L"2.00", L"30", L"102", L"153"}, L"Black must be below white (204).", 0, {true, false, true}},
      {{L"300", L"2.00", L"204", L"102", L"153"}, L"Black must be a whole number from 0 to 255.", 0, {true}},
      {{L"1.5", L"2.00", L"204", L"102", L"153"}, L"Black must be a whole number from 0 to 255.", 0, {true}},
      {{L"51", L"2.345", L"204", L"102", L"153"}, L"Gamma must be from 0.1 to 9.99, with at most 2 decimals.", 1,
       {false, true}},
      {{L"51", L"10", L"204", L"102", L"153"}, L"Gamma must be from 0.1 to 9.99.", 1, {false, true}},
      {{L"51", L"0.05", L"204", L"102", L"153"}, L"Gamma must be from 0.1 to 9.99.", 1, {false, true}},
      {{L"51", L"0", L"204", L"102", L"153"}, L"Gamma must be from 0.1 to 9.99.", 1, {false, true}},
      {{L"300", L"20", L"204", L"102", L"153"}, L"Black must be a whole number from 0 to 255.", 0, {true, true}},
      {{L"51", L"2.00", L"204", L"1,500.5", L"153"},
       L"Output black must be a whole number from 0 to 255. Type it without thousands separators.", 3,
       {false, false, false, true}},
      {{L"51", L"2.00", L"204", L"102", L"abc"}, L"Output white must be a whole number from 0 to 255.", 4,
       {false, false, false, false, true}},
  };
  for (const Case& c : cases) {
    const LevelsReading reading = ReadLevelsEdits(c.typed, start);
    EXPECT_EQ(reading.note, c.note) << c.typed[0] << " " << c.typed[1] << " " << c.typed[2];
    EXPECT_EQ(reading.firstRefused, c.first) << c.typed[0];
    EXPECT_EQ(reading.refused, c.refused) << c.typed[0];
  }
  // Levels that come crossed with nothing typed are held apart, and said.
  const LevelsValues crossed{0.6f, 0.4f, 1.0f, 0.0f, 1.0f};
  const LevelsReading held = ReadLevelsEdits(FormatLevelsTexts(crossed), crossed);
  EXPECT_LT(held.values.blackLevel, held.values.whiteLevel);
  EXPECT_EQ(held.firstRefused, -1);
  EXPECT_EQ(held.note, L"White must stay above black. It is now 154.");
  // The texts shown are taken back as they stand: a gamma of 0.1 shows 10.00, past what the edit
  // takes, and a black of 0.3 shows 77, which is not 0.3.
  const LevelsValues shown{0.3f, 1.0f, 0.1f, 0.0f, 1.0f};
  const LevelsReading back = ReadLevelsEdits(FormatLevelsTexts(shown), shown);
  EXPECT_EQ(back.firstRefused, -1);
  EXPECT_EQ(back.values, shown);
}

TEST(LevelsTexts, ShownAsWholeStepsAndReciprocalGamma) {
  EXPECT_EQ(FormatLevelsTexts({0.2f, 1.5f, 0.0f, -1.0f, 0.5f}),
            (LevelsTexts{L"51", L"1.00", L"255", L"0", L"128"}));  // gamma 0 shows as 1.00
  EXPECT_EQ(FormatLevelsTexts({0.0f, 1.0f, 0.1001001f, 0.0f, 1.0f})[1], L"9.99");
}

}  // namespace
}  // namespace grainforge::app
