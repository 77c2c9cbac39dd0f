#pragma once

// The DPI rule of the interface: every size is written in pixels at 96 dpi and scaled per
// window. On GTK windows are laid out in logical pixels, so the program runs at 96 dpi; the
// arithmetic is kept (and tested at other DPIs) for the layouts that are written in it.

class wxWindow;

namespace grainforge::app {

inline constexpr int kDesignDpi = 96;

// value × numerator / denominator, rounded to the nearest integer with halves away from zero,
// computed in 64 bits. A zero denominator, or a result outside int, gives -1.
int MulDiv(int value, int numerator, int denominator);

// A size at 96 dpi scaled to dpi.
inline int ScaleForDpi(int designPixels, int dpi) {
  return MulDiv(designPixels, dpi, kDesignDpi);
}

// The DPI to scale a window's sizes given at 96 dpi by: 96 where the toolkit lays out in logical pixels
// (GTK), else the window's own; 96 for no window or an unusable value.
int GetWindowDpi(const wxWindow* window);

}  // namespace grainforge::app
