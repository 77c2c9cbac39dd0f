#include "app/shell/command_router.h"

#include <exception>
#include <utility>

namespace grainforge::app {

void CommandRouter::SetTable(CommandLayer layer, CommandTable table) {
  tables_[static_cast<std::size_t>(layer)] = std::move(table);
}

const CommandEntry* CommandRouter::FirstWith(int commandId, bool wantExecute) const {
  for (const CommandTable& table : tables_) {
    for (const CommandEntry& entry : table) {
      if (entry.id != commandId) continue;
      if (wantExecute ? static_cast<bool>(entry.execute) : static_cast<bool>(entry.update))
        return &entry;
    }
  }
  return nullptr;
}

bool CommandRouter::Knows(int commandId) const {
  for (const CommandTable& table : tables_) {
    for (const CommandEntry& entry : table) {
      if (entry.id == commandId) return true;
    }
  }
  return false;
}

std::optional<CommandState> CommandRouter::Query(int commandId) const {
  if (const CommandEntry* entry = FirstWith(commandId, false)) {
    CommandState state;
    entry->update(state);
    return state;
  }
  if (FirstWith(commandId, true) != nullptr) return CommandState{};
  return std::nullopt;
}

CommandOutcome CommandRouter::Execute(int commandId) {
  const CommandEntry* entry = FirstWith(commandId, true);
  if (entry == nullptr) return CommandOutcome::Unhandled;
  const std::optional<CommandState> state = Query(commandId);
  if (state && !state->enabled) return CommandOutcome::Disabled;
  // A copy: the command may replace the tables it was found in (a new view, a new document).
  const auto execute = entry->execute;
  std::string what;
  try {
    execute();
    return CommandOutcome::Executed;
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
    what = "an unknown error";
  }
  if (onFailure_) onFailure_(commandId, what);
  return CommandOutcome::Failed;
}

bool CommandRouter::ExecuteCommand(std::uint32_t commandId) {
  return Execute(static_cast<int>(commandId)) == CommandOutcome::Executed;
}

std::optional<CommandState> CommandRouter::QueryCommand(std::uint32_t commandId) const {
  return Query(static_cast<int>(commandId));
}

std::optional<int> CommandIdMap::WindowId(int commandId) {
  if (const auto found = toWindow_.find(commandId); found != toWindow_.end())
    return found->second;
  const int next = kFirstWindowId + static_cast<int>(toWindow_.size());
  if (next > kLastWindowId) return std::nullopt;
  toWindow_.emplace(commandId, next);
  toCommand_.emplace(next, commandId);
  return next;
}

std::optional<int> CommandIdMap::CommandId(int windowId) const {
  const auto found = toCommand_.find(windowId);
  if (found == toCommand_.end()) return std::nullopt;
  return found->second;
}

}  // namespace grainforge::app
