#pragma once

// The footer under the workflow window: one line of process state over a large button that
// reads Process, or Stop while a run goes (filling from the left with the run's progress).
// This is the footer without the window system: what it shows, where, in which colours, and
// what a click does. CFooterWnd draws it; the workflow pane decides what it shows on its
// 150 ms refresh.

#include <cstdint>
#include <optional>
#include <string>

#include "app/shell/progress_percent.h"
#include "app/shell/kit/pixel_rect.h"
#include "app/shell/kit/ui_colours.h"

namespace grainforge::app {

// The commands the footer's button sends to the main window.
inline constexpr int kCmdStopProcessing = 32836;
inline constexpr int kCmdProcessFromFooter = 32888;

enum class FooterState : std::int32_t {
  ReadyToProcess = 0,  // a Process click would change something
  Processing = 1,
  NothingToDo = 2,     // no part, or the result is up to date
};

// Everything the footer shows. The refresh compares a new value with the shown one and
// repaints only when they differ.
struct FooterShown {
  std::wstring statusText = L"No part loaded";
  FooterState state = FooterState::NothingToDo;
  std::wstring stageText;  // of the running stage
  float fraction = 0.0f;   // 0..1
  bool fractionKnown = false;
  friend bool operator==(const FooterShown&, const FooterShown&) = default;
};

struct FooterLayout {
  PixelRect text;
  PixelRect button;
};

// The text line and the button, centred as a block in the client rectangle (sizes at
// 96 dpi: margin 8, text 16, gap 4, button 30).
FooterLayout LayoutFooter(const PixelRect& client, int dpi);

// The line above the button: the status text, or while processing the stage text ("Processing"
// when there is none) with "  N%" when the fraction is known. A fraction outside 0..1 (or not a
// number) shows as the nearest end, never as a wild percentage.
std::wstring FooterLineText(const FooterShown& shown);

struct FooterButtonLook {
  std::wstring label;
  Rgb fill;
  Rgb labelColour;
};
FooterButtonLook FooterButtonLookFor(FooterState state, bool hover);
Rgb FooterTextColour(FooterState state);

namespace footer_colours {
inline constexpr Rgb kBackground{230, 234, 240};
inline constexpr Rgb kTopLine{210, 216, 222};
inline constexpr Rgb kProgressFill{240, 120, 108};
}  // namespace footer_colours

// Width of the progress fill at the left of the button: only while processing with a known
// fraction, truncate(button width × clamp(fraction, 0, 1)).
int FooterProgressWidth(const FooterShown& shown, int buttonWidth);

// The command a left click at (x, y) sends: Stop while processing, Process when ready, nothing
// outside the button or when there is nothing to do.
std::optional<int> FooterClickCommand(FooterState state, const FooterLayout& layout, int x, int y);

// The left pane's split: the footer takes the bottom min(client height, 64 at 96 dpi) pixels
// across the full width, the workflow window the rest above it.
struct LeftPaneSplit {
  PixelRect flow;
  PixelRect footer;
};
LeftPaneSplit SplitLeftPane(const PixelRect& client, int dpi);

}  // namespace grainforge::app
