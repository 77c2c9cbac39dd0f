#include "app/shell/kit/value_wheel.h"

#include <algorithm>
#include <cmath>

#include <wx/choice.h>
#include <wx/combo.h>
#include <wx/event.h>
#include <wx/scrolwin.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/window.h>

namespace grainforge::app {
namespace {

// Passing over the Overlap slider while scrolling the seamless dialog moved it from 20 to 6.48.
void ScrollPastValueControl(wxMouseEvent& event) {
  auto* control = dynamic_cast<wxWindow*>(event.GetEventObject());
  if (control == nullptr || HasFocusWithin(*control)) {
    event.Skip();
    return;
  }
  // A sideways wheel would step the control as well; it goes nowhere.
  if (event.GetWheelAxis() == wxMOUSE_WHEEL_VERTICAL) ScrollAreaAroundByWheel(*control, event);
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

bool HasFocusWithin(const wxWindow& window) {
  const wxWindow* focus = wxWindow::FindFocus();
  return focus != nullptr && (focus == &window || window.IsDescendant(const_cast<wxWindow*>(focus)));
}

bool ScrollAreaAroundByWheel(wxWindow& control, const wxMouseEvent& wheel) {
  if (wheel.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL || wheel.GetWheelDelta() <= 0) return false;
  for (wxWindow* window = control.GetParent(); window != nullptr && !window->IsTopLevel();
       window = window->GetParent()) {
    auto* area = dynamic_cast<wxScrollHelper*>(window);
    if (area == nullptr) continue;
    int unitX = 0, unitY = 0, x = 0, y = 0;
    area->GetScrollPixelsPerUnit(&unitX, &unitY);
    if (unitY <= 0) return false;
    area->GetViewStart(&x, &y);
    // As many lines of the control's text as the desktop scrolls a notch, away from the user
    // (a positive rotation) upwards.
    const double notches = static_cast<double>(wheel.GetWheelRotation()) / wheel.GetWheelDelta();
    const double pixels = notches * wheel.GetLinesPerAction() * control.GetCharHeight();
    const int units = static_cast<int>(pixels > 0.0 ? std::ceil(pixels / unitY) : std::floor(pixels / unitY));
    area->Scroll(x, std::max(0, y - units));
    return true;
  }
  return false;
}

void RouteWheelPastValueControls(wxWindow& root) {
  for (wxWindow* child : root.GetChildren()) {
    if (TakesWheelAsValue(*child)) {
      child->Unbind(wxEVT_MOUSEWHEEL, &ScrollPastValueControl);
      child->Bind(wxEVT_MOUSEWHEEL, &ScrollPastValueControl);
    }
    RouteWheelPastValueControls(*child);
  }
}

}  // namespace grainforge::app
