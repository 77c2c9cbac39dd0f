#pragma once

// The events by which a window without a command target reaches the frame's command routing:
// a command travels up the window chain as a CommandEvent (its int is the command id), and a
// state question as a CommandQueryEvent that the routing answers in place.

#include <cstdint>
#include <optional>

#include <wx/event.h>

#include "app/document/command_entry.h"

namespace grainforge::app {

class CommandQueryEvent;

wxDECLARE_EVENT(EVT_TESSARY_COMMAND, wxCommandEvent);
wxDECLARE_EVENT(EVT_TESSARY_COMMAND_QUERY, CommandQueryEvent);

// Asks the routing for a command's state; Answer() stays empty when nobody knows the command.
class CommandQueryEvent : public wxCommandEvent {
public:
  explicit CommandQueryEvent(std::uint32_t commandId = 0, int windowId = 0)
      : wxCommandEvent(EVT_TESSARY_COMMAND_QUERY, windowId), commandId_(commandId) {}

  std::uint32_t CommandId() const { return commandId_; }
  const std::optional<CommandState>& Answer() const { return answer_; }
  void SetAnswer(std::optional<CommandState> answer) { answer_ = std::move(answer); }

  wxEvent* Clone() const override { return new CommandQueryEvent(*this); }

private:
  std::uint32_t commandId_;
  std::optional<CommandState> answer_;
};

// A command event for commandId, from window.
wxCommandEvent MakeCommandEvent(std::uint32_t commandId, wxWindow* window);

}  // namespace grainforge::app
