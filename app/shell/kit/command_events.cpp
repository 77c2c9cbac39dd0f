#include "app/shell/kit/command_events.h"

#include <wx/window.h>

namespace grainforge::app {

wxDEFINE_EVENT(EVT_TESSARY_COMMAND, wxCommandEvent);
wxDEFINE_EVENT(EVT_TESSARY_COMMAND_QUERY, CommandQueryEvent);

wxCommandEvent MakeCommandEvent(std::uint32_t commandId, wxWindow* window) {
  wxCommandEvent event(EVT_TESSARY_COMMAND, window != nullptr ? window->GetId() : 0);
  event.SetInt(static_cast<int>(commandId));
  event.SetEventObject(window);
  return event;
}

}  // namespace grainforge::app
