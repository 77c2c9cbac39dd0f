#pragma once

// The levels widget without its window: the five level values, the layout of the histogram,
// the two bars and the edit boxes, the handle positions, the hit test, what a drag does to the
// values and how the typed texts are read and shown. CLevelsControl paints and routes input.

#include <array>
#include <optional>
#include <string>

#include "app/shell/kit/pixel_rect.h"

namespace grainforge::app {

// The levels of the texture settings: fractions 0..1 for the levels; gamma is the exponent
// applied to the levelled value.
struct LevelsValues {
  float blackLevel = 0.0f;
  float whiteLevel = 1.0f;
  float gamma = 1.0f;
  float outputBlackLevel = 0.0f;
  float outputWhiteLevel = 1.0f;
  friend bool operator==(const LevelsValues&, const LevelsValues&) = default;
};

enum class LevelsHandle : int {
  None = 0,
  Black = 1,
  Gamma = 2,
  White = 3,
  OutputBlack = 4,
  OutputWhite = 5,
};

inline constexpr int kLevelsEditCount = 5;
// Edit boxes in handle order: black, gamma, white, output black, output white.
using LevelsTexts = std::array<std::wstring, kLevelsEditCount>;

struct LevelsLayout {
  PixelRect histogram;
  PixelRect inputBar;
  PixelRect outputBar;
  std::array<PixelRect, kLevelsEditCount> edits;  // in handle order
};

// Client width in pixels; dpi scales the sizes given at 96 dpi. Edit boxes get at least
// minEditHeight, since a toolkit may not draw an entry as low as the layout's own row.
LevelsLayout LayOutLevels(int clientWidth, int dpi, int minEditHeight = 0);
// The client height the layout needs.
int LevelsControlHeight(int dpi, int minEditHeight = 0);

// x of a value's handle on a bar.
int LevelsHandleX(const PixelRect& bar, float value);
// The value the middle handle stands for: where gamma maps the levelled value to one half.
float LevelsMiddleValue(const LevelsValues& values);
// x of the handle on its bar. The three input handles keep half the bar's height apart (black,
// then middle, then white), so that none is drawn under another when the levels lie close: the
// levels stay as they are, only where their handles are drawn and grabbed moves.
int LevelsHandlePosition(const LevelsLayout& layout, const LevelsValues& values, LevelsHandle handle);

// The handle under a client point, or None.
LevelsHandle LevelsHitTest(const LevelsLayout& layout, const LevelsValues& values, int x, int y, int dpi);

// The values after dragging the handle to client x.
LevelsValues DragLevelsHandle(const LevelsLayout& layout, LevelsValues values, LevelsHandle handle, int x);

// The edit texts of the values: levels as 0..255 integers, gamma as its reciprocal "%.2f".
LevelsTexts FormatLevelsTexts(const LevelsValues& values);

// The values after reading typed texts. A text that is the one its value shows keeps the value
// as it stands. A text is refused, never replaced: one that holds no
// number, or a number outside its edit's range (levels 0..255, gamma 0.1..9.99), keeps the value
// it stood for, and so does a black typed at or above white (or a white typed at or below
// black). Each refused edit is flagged so its window keeps the text as typed; the note says the
// first refusal ("Gamma must be from 0.1 to 9.99.", "Black must be below white (100).");
// empty when every text was taken.
struct LevelsReading {
  LevelsValues values;
  std::wstring note;
  std::array<bool, kLevelsEditCount> refused{};
  int firstRefused = -1;  // the edit the note is about, -1 when none
};
LevelsReading ReadLevelsEdits(const LevelsTexts& texts, LevelsValues values);
// The values alone.
LevelsValues ReadLevelsTexts(const LevelsTexts& texts, LevelsValues values);

}  // namespace grainforge::app
