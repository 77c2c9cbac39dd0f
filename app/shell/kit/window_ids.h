#pragma once

// Window ids. Windows share one numbering with the commands, and a few numbers lie above wx's
// limit (the toolbar strip is 32884; the status bar is 59393, the number of the command that
// shows and hides it); wx refuses ids outside 0..32766 with an assertion, so such a window is
// created with an id wx chooses, and its own number stays with the window's class.

namespace grainforge::app {

inline constexpr int kLargestWindowId = 32766;

// The id to create a window with for the window's own number: the number itself when wx
// accepts it, else -1 (wxID_ANY).
constexpr int ToWindowId(int designId) {
  return designId >= 0 && designId <= kLargestWindowId ? designId : -1;
}

}  // namespace grainforge::app
