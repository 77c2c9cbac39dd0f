#include "app/shell/kit/scroll_arithmetic.h"

#include <algorithm>

#include <wx/event.h>
#include <wx/window.h>

namespace grainforge::app {

int ScrollPosFromCode(int code, int pos, int line, int page, int maximum, int trackPosition) {
  switch (code) {
    case kScrollLineUp: return pos - line;
    case kScrollLineDown: return pos + line;
    case kScrollPageUp: return pos - page;
    case kScrollPageDown: return pos + page;
    case kScrollThumbPosition:
    case kScrollThumbTrack: return trackPosition;
    case kScrollTop: return 0;
    case kScrollBottom: return maximum;
    default: return pos;
  }
}

int ScrollCodeFromEventType(int eventType) {
  if (eventType == wxEVT_SCROLLWIN_LINEUP) return kScrollLineUp;
  if (eventType == wxEVT_SCROLLWIN_LINEDOWN) return kScrollLineDown;
  if (eventType == wxEVT_SCROLLWIN_PAGEUP) return kScrollPageUp;
  if (eventType == wxEVT_SCROLLWIN_PAGEDOWN) return kScrollPageDown;
  if (eventType == wxEVT_SCROLLWIN_THUMBRELEASE) return kScrollThumbPosition;
  if (eventType == wxEVT_SCROLLWIN_THUMBTRACK) return kScrollThumbTrack;
  if (eventType == wxEVT_SCROLLWIN_TOP) return kScrollTop;
  if (eventType == wxEVT_SCROLLWIN_BOTTOM) return kScrollBottom;
  return kScrollEnd;
}

void SetVScrollInfo(wxWindow* window, int contentHeight, int page, int pos) {
  if (window == nullptr) return;
  // wx counts the range as a number of units, where the scroll arithmetic gives the last
  // position.
  window->SetScrollbar(wxVERTICAL, pos, std::max(page, 0), std::max(contentHeight, 0), true);
}

}  // namespace grainforge::app
