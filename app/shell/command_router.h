#pragma once

// The one command table of the program, routed as the user expects: the view first, then the
// document, the frame and the application; the first layer that holds a command handles it.
// Menus, accelerators, toolbars and tests all go through it. Plain C++; the wx binding
// (CommandRouting) turns menu, accelerator and update events into calls on it.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/document/command_entry.h"
#include "app/shell/kit/command_target.h"

namespace grainforge::app {

enum class CommandLayer { View = 0, Document = 1, Frame = 2, Application = 3 };

enum class CommandOutcome {
  Executed,
  // A layer handles it, but its update says disabled: an accelerator or a stale menu must not
  // run a command the interface shows greyed.
  Disabled,
  // No layer has an execute handler for it.
  Unhandled,
  // The handler threw; the failure handler heard of it and nothing left this call.
  Failed,
};

// Hears of a command whose handler threw: the command and the exception's text (UTF-8 or the
// bytes a file name gave it).
using CommandFailureHandler = std::function<void(int commandId, const std::string& what)>;

class CommandRouter : public ICommandTarget {
public:
  // Replaces the layer's table (the layer keeps its handlers valid while installed).
  void SetTable(CommandLayer layer, CommandTable table);
  void ClearTable(CommandLayer layer) { SetTable(layer, {}); }

  // The command's state: the first update handler in layer order decides (starting from
  // enabled and unchecked); a command with an execute handler but no update is enabled; empty
  // when no layer holds the command at all.
  std::optional<CommandState> Query(int commandId) const;
  // Runs the first execute handler in layer order, unless the command's state is disabled. An
  // exception from the handler stops here (Failed): every menu, key and toolbar command comes
  // through this call, and one escaping into the window system's loop would end the program
  // with the user's work unsaved.
  CommandOutcome Execute(int commandId);
  void SetFailureHandler(CommandFailureHandler handler) { onFailure_ = std::move(handler); }
  // Whether some layer holds the command (execute or update).
  bool Knows(int commandId) const;
  // Whether some layer can run the command (an update alone runs nothing).
  bool HasHandler(int commandId) const { return FirstWith(commandId, true) != nullptr; }

  bool ExecuteCommand(std::uint32_t commandId) override;
  std::optional<CommandState> QueryCommand(std::uint32_t commandId) const override;

private:
  const CommandEntry* FirstWith(int commandId, bool wantExecute) const;

  std::array<CommandTable, 4> tables_;
  CommandFailureHandler onFailure_;
};

// Window-system command ids for the program's command ids. wx ids must lie within 1..32767 and
// wx keeps 4999..5999 for itself, while the program's ids run to 57600 and beyond; each
// command id is given its own wx id from a free block on first use, and the program's numbers
// stay wherever they are stored or compared.
class CommandIdMap {
public:
  static constexpr int kFirstWindowId = 20000;
  static constexpr int kLastWindowId = 32767;

  // The wx id of the command, assigned on first use; empty when the block is used up.
  std::optional<int> WindowId(int commandId);
  // The command a wx id stands for; empty for an id this map did not give out.
  std::optional<int> CommandId(int windowId) const;

private:
  std::map<int, int> toWindow_;
  std::map<int, int> toCommand_;
};

}  // namespace grainforge::app
