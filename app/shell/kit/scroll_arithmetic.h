#pragma once

// Vertical scrolling of the owner-drawn lists and panes: the new position for a scroll request
// and the scroll bar's range, page and position.

class wxWindow;

namespace grainforge::app {

// The scroll requests, numbered as the owner-drawn windows' scroll arithmetic takes them (the
// toolkit's own event types are mapped onto these by ScrollCodeFromEventType).
enum ScrollCode : int {
  kScrollLineUp = 0,
  kScrollLineDown = 1,
  kScrollPageUp = 2,
  kScrollPageDown = 3,
  kScrollThumbPosition = 4,
  kScrollThumbTrack = 5,
  kScrollTop = 6,
  kScrollBottom = 7,
  kScrollEnd = 8,
};

// The position a request leads to, before the caller clamps it: a line or a page up or down,
// the thumb's trackPosition, 0, or maximum; any code outside 0 to 7 (the end of a drag among
// them) keeps pos.
int ScrollPosFromCode(int code, int pos, int line, int page, int maximum, int trackPosition);

// The request a wx scroll event stands for (wxEVT_SCROLLWIN_*), kScrollEnd for any other.
int ScrollCodeFromEventType(int eventType);

// Sets the window's vertical scroll bar: range 0 to contentHeight - 1 (none below 1), a thumb
// of page (none below 0) at pos.
void SetVScrollInfo(wxWindow* window, int contentHeight, int page, int pos);

}  // namespace grainforge::app
