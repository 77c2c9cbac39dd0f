#pragma once

// The mouse wheel over the workflow pane's value controls. GTK steps a combo box, spin button or
// slider under the pointer on every notch, so a user scrolling the pane would change settings
// as they pass under the pointer. A value control without the keyboard focus hands the wheel to
// the pane instead, which scrolls; once the user has clicked into it, the wheel is its own.

#include <functional>

#include <wx/eventfilter.h>

#include "app/shell/kit/value_wheel.h"

class wxMouseEvent;
class wxWindow;

namespace grainforge::app {

// Watches every wheel event of the program while it lives and passes to `scroll` those that
// land on an unfocused value control inside `pane` (at any depth, made before or after this);
// such an event goes no further, so the control keeps its value.
class PaneWheelRedirect final : public wxEventFilter {
public:
  PaneWheelRedirect(const wxWindow& pane, std::function<void(const wxMouseEvent&)> scroll);
  ~PaneWheelRedirect() override;
  PaneWheelRedirect(const PaneWheelRedirect&) = delete;
  PaneWheelRedirect& operator=(const PaneWheelRedirect&) = delete;

  int FilterEvent(wxEvent& event) override;

private:
  bool InsidePane(const wxWindow* window) const;

  const wxWindow& pane_;
  std::function<void(const wxMouseEvent&)> scroll_;
};

}  // namespace grainforge::app
