#pragma once

// The mouse wheel over controls whose value it turns. GTK steps a choice, a spin button or a
// slider under the pointer on every notch, so someone scrolling a pane or a dialog would change
// settings as they pass under the pointer. A value control without the keyboard focus leaves
// the wheel to the area it lies in; once the user has clicked into it, the wheel is its own.

class wxMouseEvent;
class wxWindow;

namespace grainforge::app {

// True for the controls whose value the wheel changes: choices and combo boxes, spin controls,
// sliders, and one-line entries (number fields).
bool TakesWheelAsValue(const wxWindow& window);

// Whether the keyboard focus is on the window or on a part of it (a combo box's entry).
bool HasFocusWithin(const wxWindow& window);

// Scrolls the nearest scrolled area around `control` as the wheel event asks (vertical only);
// false when there is none below the top-level window.
bool ScrollAreaAroundByWheel(wxWindow& control, const wxMouseEvent& wheel);

// Every value control in `root` (at any depth, as it is now) without the focus leaves the wheel
// to its scrolled area and keeps its value. Binding again changes nothing.
void RouteWheelPastValueControls(wxWindow& root);

}  // namespace grainforge::app
