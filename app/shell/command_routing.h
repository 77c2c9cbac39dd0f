#pragma once

// Binds the command router to a frame: menu items and accelerators (wxEVT_MENU) run commands,
// menus take their items' states when they open, wx's own update-UI events are answered, and
// owner-drawn toolbars and panels reach the router through CommandEvent / CommandQueryEvent as
// they travel up to the frame. Owner-drawn toolbars ask on idle themselves (CToolbarHostWnd).

#include <optional>
#include <string>
#include <vector>

#include <wx/accel.h>

#include <wx/event.h>
#include <wx/menu.h>

#include "app/shell/command_router.h"

class wxWindow;

namespace grainforge::app {

// How a menu item shows a command: a command no layer holds is greyed, as is the habit of
// desktop menus; an empty text keeps the item's own.
struct MenuItemState {
  bool enabled = false;
  bool checked = false;
  std::wstring text;
  // Why a greyed item does nothing (the state's tooltip); empty for an enabled one.
  std::wstring reason;
  friend bool operator==(const MenuItemState&, const MenuItemState&) = default;
};
MenuItemState MenuStateFor(const std::optional<CommandState>& state);

// A key combination for a command: wx modifier flags (wxACCEL_CTRL, wxACCEL_SHIFT,
// wxACCEL_ALT) and a key code ('N', WXK_F5, WXK_HOME).
struct AcceleratorKey {
  int flags = 0;
  int keyCode = 0;
  int commandId = 0;
  friend bool operator==(const AcceleratorKey&, const AcceleratorKey&) = default;
};
// Accelerators split by where they may live: combinations with Ctrl or Alt, and function keys,
// go into the frame's accelerator table; a bare key (Home, F, Escape, also with Shift) would be
// taken from every text field, so those are left for the window that owns them (the viewport,
// or the frame's key hook that skips text fields).
struct AcceleratorSplit {
  std::vector<AcceleratorKey> table;
  std::vector<AcceleratorKey> bare;
};
AcceleratorSplit SplitAccelerators(const std::vector<AcceleratorKey>& keys);

class CommandRouting {
public:
  // Binds to frame (which must outlive this object or be the one destroying it).
  CommandRouting(wxWindow* frame, CommandRouter& router);
  ~CommandRouting();
  CommandRouting(const CommandRouting&) = delete;
  CommandRouting& operator=(const CommandRouting&) = delete;

  CommandRouter& Router() { return router_; }
  CommandIdMap& Ids() { return ids_; }

  // The wx id for a command (menus, accelerators); wxID_NONE when none can be given.
  int WindowId(int commandId);
  // Appends an item for the command to the menu; its help text is left empty.
  wxMenuItem* AppendCommand(wxMenu* menu, int commandId, const std::wstring& text,
                            wxItemKind kind = wxITEM_NORMAL);
  // The frame's accelerator table for the keys SplitAccelerators puts in the table.
  wxAcceleratorTable MakeAcceleratorTable(const std::vector<AcceleratorKey>& keys);
  // Runs the command of a bare key (see AcceleratorSplit) pressed outside a text field; true
  // when the key belongs to a command, whether it ran or was disabled.
  bool HandleBareKey(const std::vector<AcceleratorKey>& bare, int flags, int keyCode);
  // Sets every item of the menu (and its submenus) from the router, each greyed item's help text
  // to why it is greyed; gives the first such reason among the menu's own items (empty: none).
  std::wstring UpdateMenu(wxMenu* menu);

private:
  void OnMenu(wxCommandEvent& event);
  void OnUpdateUi(wxUpdateUIEvent& event);
  void OnMenuOpen(wxMenuEvent& event);
  void OnCommandEvent(wxCommandEvent& event);
  void OnCommandQuery(class CommandQueryEvent& event);

  wxWindow* frame_;
  CommandRouter& router_;
  CommandIdMap ids_;
};

}  // namespace grainforge::app
