#include "app/workflow/pane_wheel.h"

#include <wx/choice.h>
#include <wx/combo.h>
#include <wx/event.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/window.h>

namespace grainforge::app {
namespace {

// The focus is on the control or on a part of it (a combo box's entry).
bool HasFocusWithin(const wxWindow& window) {
  const wxWindow* focus = wxWindow::FindFocus();
  return focus != nullptr && (focus == &window || window.IsDescendant(const_cast<wxWindow*>(focus)));
}

}  // namespace

bool TakesWheelAsValue(const wxWindow& window) {
  const wxWindow* w = &window;
  if (const auto* text = dynamic_cast<const wxTextCtrl*>(w)) return !text->IsMultiLine();
  // On GTK a combo box is a choice as well; the owner-drawn one is a combo control.
  return dynamic_cast<const wxChoice*>(w) != nullptr || dynamic_cast<const wxComboCtrl*>(w) != nullptr ||
         dynamic_cast<const wxSpinCtrl*>(w) != nullptr || dynamic_cast<const wxSpinCtrlDouble*>(w) != nullptr ||
         dynamic_cast<const wxSpinButton*>(w) != nullptr || dynamic_cast<const wxSlider*>(w) != nullptr;
}

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
