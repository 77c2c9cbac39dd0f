#pragma once

// Window ids. The design numbers some windows above wx's limit (the toolbar strip is 32884, the
// status bar 59393); wx refuses ids outside 0..32766 with an assertion, so such a window is
// created with an id wx chooses, and the design's number stays with the window's class.

namespace grainforge::app {

inline constexpr int kLargestWindowId = 32766;

// The id to create a window with for a design id: the id itself when wx accepts it, else -1
// (wxID_ANY).
constexpr int ToWindowId(int designId) {
  return designId >= 0 && designId <= kLargestWindowId ? designId : -1;
}

}  // namespace grainforge::app
