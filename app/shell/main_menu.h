#pragma once

// The main menu and the keyboard accelerators of the main window, as plain tables: the frame
// turns them into wx menus and an accelerator table, and tests read them without a display.

#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

struct MainMenuEntry {
  enum class Kind { Command, Check, Separator, Submenu, RecentFiles };
  Kind kind = Kind::Command;
  std::wstring text;  // with "&" mnemonics and the key after "\t"
  int commandId = 0;
  std::vector<MainMenuEntry> children;  // a submenu's items, or a top-level menu's
};

// The eight top-level menus (File, Edit, View, Mapping, Masks, Texture, Mesh, Help) in order.
std::vector<MainMenuEntry> MainMenuEntries();

// One key of the accelerator table: modifier bits (kModifierAlt, kModifierControl,
// kModifierShift of frame_logic.h), the key as a wx key code, and its command.
struct MainAccelerator {
  int modifiers = 0;
  int keyCode = 0;
  int commandId = 0;
};
std::vector<MainAccelerator> MainAccelerators();

// The label to give the toolkit. GTK makes every key written after "\t" an accelerator of the
// whole window, taken whenever the focused control lets the key through; a bare key there
// (Escape, Home, "Num 5") would be stolen from text fields or is no key GTK knows. Those keys
// belong to the viewport or the frame's key hook, so their "\t" part is left out of the label.
std::wstring MenuLabelForToolkit(std::wstring_view text);

// The access key a label gives (the letter after a single "&", "&&" being a plain "&"), lower
// case; 0 for none. Menus and dialogs use it to keep two items of one level from sharing a key.
wchar_t MnemonicOf(std::wstring_view label);

}  // namespace grainforge::app

namespace grainforge::app {

// The accelerators the window's own table may hold. Bare keys are left out (SplitAccelerators
// leaves them to the viewport and the key hook), and so are the keys a text field edits with
// (cut, copy, paste, undo, redo): the window's table is consulted before the focused control,
// so they would never reach a field. Undo and redo still come through the Edit menu's keys,
// which GTK offers the focused control first.
std::vector<MainAccelerator> WindowTableAccelerators();

}  // namespace grainforge::app
