#include "app/workflow/pane_wheel.h"

#include <wx/event.h>
#include <wx/window.h>

namespace grainforge::app {

PaneWheelRedirect::PaneWheelRedirect(const wxWindow& pane, std::function<void(const wxMouseEvent&)> scroll)
    : pane_(pane), scroll_(std::move(scroll)) {
  wxEvtHandler::AddFilter(this);
}

PaneWheelRedirect::~PaneWheelRedirect() { wxEvtHandler::RemoveFilter(this); }

bool PaneWheelRedirect::InsidePane(const wxWindow* window) const {
  for (const wxWindow* w = window != nullptr ? window->GetParent() : nullptr; w != nullptr; w = w->GetParent()) {
    if (w == &pane_) return true;
    if (w->IsTopLevel()) return false;
  }
  return false;
}

int PaneWheelRedirect::FilterEvent(wxEvent& event) {
  if (event.GetEventType() != wxEVT_MOUSEWHEEL) return Event_Skip;
  const auto* window = dynamic_cast<const wxWindow*>(event.GetEventObject());
  if (window == nullptr || !TakesWheelAsValue(*window) || !InsidePane(window) || HasFocusWithin(*window))
    return Event_Skip;
  const auto& wheel = static_cast<const wxMouseEvent&>(event);
  // A sideways wheel would step the control as well; only the vertical one scrolls the pane.
  if (wheel.GetWheelAxis() == wxMOUSE_WHEEL_VERTICAL && scroll_) scroll_(wheel);
  return Event_Processed;
}

}  // namespace grainforge::app
