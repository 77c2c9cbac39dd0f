#pragma once

#include <functional>
#include <string>
#include <vector>

namespace grainforge::app {

// What a command's update says about its menu item or button.
struct CommandState {
  bool enabled = true;
  bool checked = false;
  // Checked shown as a radio dot rather than a tick.
  bool radio = false;
  // A menu text to show instead of the item's own; empty keeps it.
  std::wstring text;
  // A toolbar button's tooltip body to show instead of its own (why it is disabled, say);
  // empty keeps it.
  std::wstring tooltip;
};

// One command a layer handles: the view, the document, the frame and the application each give
// a table of these, and the window layer routes a command id through them in that order (the
// first table holding the id handles it). Plain C++, so the document needs no window system.
struct CommandEntry {
  int id = 0;
  std::function<void()> execute;
  // Absent: always enabled, never checked.
  std::function<void(CommandState&)> update;
};

using CommandTable = std::vector<CommandEntry>;

}  // namespace grainforge::app
