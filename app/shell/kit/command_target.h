#pragma once

// Where a toolbar or panel sends its commands and asks whether they are enabled and checked:
// the window layer's command routing (view, document, frame, application) implements it, and
// tests answer with a fake.

#include <cstdint>
#include <optional>

#include "app/document/command_entry.h"

namespace grainforge::app {

class ICommandTarget {
public:
  virtual ~ICommandTarget() = default;
  // Runs the command when some layer handles it and it is enabled; false otherwise.
  virtual bool ExecuteCommand(std::uint32_t commandId) = 0;
  // The command's state, or empty when no layer knows the command.
  virtual std::optional<CommandState> QueryCommand(std::uint32_t commandId) const = 0;
};

}  // namespace grainforge::app
