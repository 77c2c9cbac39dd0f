#pragma once

// Tooltips for rectangles inside one window (the toolkit's tooltip belongs to a whole window):
// which rectangle the cursor rests on, when its tooltip is due, and where the popup goes.
// The wx popup (CRectTooltip) follows what this model says; tests drive it with a fake clock.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/kit/pixel_rect.h"

namespace grainforge::app {

struct TooltipRegion {
  PixelRect rect;
  // Shown bold above the body; empty for a tooltip of one text.
  std::wstring title;
  std::wstring body;
};

class HoverTooltipModel {
public:
  using Clock = std::chrono::steady_clock;
  // How long the cursor rests on a rectangle before its tooltip shows, as the desktop's own
  // tooltips wait.
  static constexpr std::chrono::milliseconds kDefaultDelay{500};

  explicit HoverTooltipModel(std::chrono::milliseconds delay = kDefaultDelay) : delay_(delay) {}

  // Replaces the rectangles (after a layout). A tooltip that is shown stays only when its
  // rectangle and texts are unchanged.
  void SetRegions(std::vector<TooltipRegion> regions);

  // What a mouse event asks of the popup.
  struct Change {
    // Hide the popup that is shown.
    bool hide = false;
    // (Re)start the timer: the tooltip is due after Delay().
    bool arm = false;
  };
  // The cursor moved within the window: moving onto another rectangle (or off all of them)
  // hides the tooltip and starts the wait again.
  Change MouseMove(int x, int y, Clock::time_point now);
  // The cursor left the window, or a button was pressed: the tooltip hides and does not come
  // back until the cursor moves onto another rectangle.
  Change MouseLeave();
  Change ButtonDown();

  // The region whose tooltip is due at now, once; empty when none is due.
  std::optional<TooltipRegion> TakeDue(Clock::time_point now);

  bool IsShown() const { return shown_; }
  int CurrentIndex() const { return current_; }
  std::chrono::milliseconds Delay() const { return delay_; }

private:
  int RegionAt(int x, int y) const;
  Change HideAndForget(bool keepCurrent);

  std::chrono::milliseconds delay_;
  std::vector<TooltipRegion> regions_;
  int current_ = -1;
  bool shown_ = false;
  bool suppressed_ = false;
  Clock::time_point restingSince_{};
};

// Where a popup of that size goes for a cursor at (x, y) in screen pixels, inside the work area:
// below the cursor (clear of the pointer's image), or above it when there is no room below;
// moved left or right to stay inside.
PixelPoint PlaceTooltip(PixelPoint cursor, int width, int height, const PixelRect& workArea);

}  // namespace grainforge::app
