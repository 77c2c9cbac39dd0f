#pragma once

// A workflow section's header bar without the window system: where its parts lie, what a
// click in them means, how the status dot and the chevron look, and the state that the left
// pane and the workflow window write (switch, status, collapsed) with the blink of a running
// step. CSectionHeader draws it and runs its blink timer.

#include <array>

#include "app/shell/kit/pixel_rect.h"
#include "app/shell/kit/ui_colours.h"
#include "app/workflow/flow_types.h"

namespace grainforge::app {

inline constexpr int kHeaderHeight = 40;        // at 96 dpi
inline constexpr int kBlinkMilliseconds = 450;  // the running dot's half period

// The six parts in client pixels; the box is empty for steps without one.
struct HeaderParts {
  PixelRect chevron;
  PixelRect box;
  PixelRect icon;
  PixelRect title;
  PixelRect dot;
  PixelRect gear;
};
HeaderParts LayoutHeaderParts(const PixelRect& client, int dpi, bool hasBox);

// What a left click at (x, y) asks for: the box (when the step has one), else the gear, else
// the chevron, icon or title collapse; the dot and the gaps do nothing.
HeaderCode HeaderHitTest(const HeaderParts& parts, bool hasBox, int x, int y);

struct DotLook {
  bool draw = false;
  Rgb colour;
  bool ring = false;
};
// A switched-off step shows a grey ring whatever its status; a running one alternates between
// a filled dot (phase false) and a ring (phase true).
DotLook StatusDotLook(SectionStatus status, bool switchOn, bool blinkPhase);

// The chevron's triangle: pointing right when collapsed, down when open.
std::array<PixelPoint, 3> ChevronTriangle(const PixelRect& chevron, bool collapsed);

namespace header_colours {
inline constexpr Rgb kBackground{230, 234, 240};
inline constexpr Rgb kBottomLine{210, 215, 222};
inline constexpr Rgb kChevron{122, 128, 138};
inline constexpr Rgb kBoxOn{58, 123, 213};
inline constexpr Rgb kBoxFrame{122, 128, 138};
inline constexpr Rgb kTitleOn{28, 32, 38};
inline constexpr Rgb kTitleOff{122, 128, 138};
inline constexpr Rgb kGearHot{214, 224, 238};
}  // namespace header_colours

// The header's state. Setters say whether anything shown changed, so the view repaints only then.
class SectionHeaderModel {
public:
  enum class TimerChange { None, Start, Stop };

  explicit SectionHeaderModel(FlowStep step) : step_(step) {}

  FlowStep Step() const { return step_; }
  const FlowSection& Section() const { return SectionOf(step_); }

  bool IsSwitchOn() const { return switchOn_; }
  bool SetSwitch(bool on);
  bool IsCollapsed() const { return collapsed_; }
  bool SetCollapsed(bool collapsed);

  SectionStatus Status() const { return status_; }
  // Running starts the blink with the dot filled; any other status stops it.
  TimerChange SetStatus(SectionStatus status);
  bool BlinkPhase() const { return blinkPhase_; }
  // A blink tick: flips the phase.
  void Blink() { blinkPhase_ = !blinkPhase_; }
  DotLook Dot() const { return StatusDotLook(status_, switchOn_, blinkPhase_); }

  bool IsGearHot() const { return gearHot_; }
  bool SetGearHot(bool hot);

  // A left click on the laid-out parts: flips the switch or the collapsed flag where the click
  // asks for it and returns the code to send the parent (None for a click that does nothing).
  HeaderCode Click(const HeaderParts& parts, int x, int y);

private:
  FlowStep step_;
  bool switchOn_ = true;
  SectionStatus status_ = SectionStatus::Pending;
  bool gearHot_ = false;
  bool blinkPhase_ = false;
  bool collapsed_ = false;
};

}  // namespace grainforge::app
