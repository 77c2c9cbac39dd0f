#include "app/shell/command_routing.h"

#include <wx/frame.h>
#include <wx/window.h>

#include "app/shell/kit/command_events.h"

namespace grainforge::app {

MenuItemState MenuStateFor(const std::optional<CommandState>& state) {
  if (!state) return MenuItemState{};
  return MenuItemState{state->enabled, state->checked, state->text,
                       state->enabled ? std::wstring() : state->tooltip};
}

AcceleratorSplit SplitAccelerators(const std::vector<AcceleratorKey>& keys) {
  AcceleratorSplit split;
  for (const AcceleratorKey& key : keys) {
    const bool chord = (key.flags & (wxACCEL_CTRL | wxACCEL_ALT)) != 0;
    const bool functionKey = key.keyCode >= WXK_F1 && key.keyCode <= WXK_F24;
    (chord || functionKey ? split.table : split.bare).push_back(key);
  }
  return split;
}

CommandRouting::CommandRouting(wxWindow* frame, CommandRouter& router)
    : frame_(frame), router_(router) {
  frame_->Bind(wxEVT_MENU, &CommandRouting::OnMenu, this);
  frame_->Bind(wxEVT_UPDATE_UI, &CommandRouting::OnUpdateUi, this);
  frame_->Bind(wxEVT_MENU_OPEN, &CommandRouting::OnMenuOpen, this);
  frame_->Bind(EVT_TESSARY_COMMAND, &CommandRouting::OnCommandEvent, this);
  frame_->Bind(EVT_TESSARY_COMMAND_QUERY, &CommandRouting::OnCommandQuery, this);
}

CommandRouting::~CommandRouting() {
  frame_->Unbind(wxEVT_MENU, &CommandRouting::OnMenu, this);
  frame_->Unbind(wxEVT_UPDATE_UI, &CommandRouting::OnUpdateUi, this);
  frame_->Unbind(wxEVT_MENU_OPEN, &CommandRouting::OnMenuOpen, this);
  frame_->Unbind(EVT_TESSARY_COMMAND, &CommandRouting::OnCommandEvent, this);
  frame_->Unbind(EVT_TESSARY_COMMAND_QUERY, &CommandRouting::OnCommandQuery, this);
}

int CommandRouting::WindowId(int commandId) {
  return ids_.WindowId(commandId).value_or(wxID_NONE);
}

wxMenuItem* CommandRouting::AppendCommand(wxMenu* menu, int commandId, const std::wstring& text,
                                          wxItemKind kind) {
  const int id = WindowId(commandId);
  if (menu == nullptr || id == wxID_NONE) return nullptr;
  return menu->Append(id, wxString(text), wxString(), kind);
}

wxAcceleratorTable CommandRouting::MakeAcceleratorTable(const std::vector<AcceleratorKey>& keys) {
  std::vector<wxAcceleratorEntry> entries;
  for (const AcceleratorKey& key : SplitAccelerators(keys).table) {
    const int id = WindowId(key.commandId);
    if (id != wxID_NONE) entries.emplace_back(key.flags, key.keyCode, id);
  }
  return wxAcceleratorTable(static_cast<int>(entries.size()), entries.data());
}

bool CommandRouting::HandleBareKey(const std::vector<AcceleratorKey>& bare, int flags,
                                   int keyCode) {
  for (const AcceleratorKey& key : bare) {
    if (key.flags != flags || key.keyCode != keyCode) continue;
    router_.Execute(key.commandId);
    return true;
  }
  return false;
}

std::wstring CommandRouting::UpdateMenu(wxMenu* menu) {
  std::wstring reason;
  if (menu == nullptr) return reason;
  for (wxMenuItem* item : menu->GetMenuItems()) {
    if (item->IsSubMenu()) {
      (void)UpdateMenu(item->GetSubMenu());
      continue;
    }
    const std::optional<int> command = ids_.CommandId(item->GetId());
    if (!command) continue;
    const MenuItemState state = MenuStateFor(router_.Query(*command));
    item->Enable(state.enabled);
    if (item->GetHelp() != wxString(state.reason)) item->SetHelp(wxString(state.reason));
    if (reason.empty()) reason = state.reason;
    if (item->IsCheckable()) item->Check(state.checked);
    if (!state.text.empty() && item->GetItemLabel() != wxString(state.text))
      item->SetItemLabel(wxString(state.text));
  }
  return reason;
}

void CommandRouting::OnMenu(wxCommandEvent& event) {
  const std::optional<int> command = ids_.CommandId(event.GetId());
  if (!command || !router_.Knows(*command)) {
    event.Skip();
    return;
  }
  router_.Execute(*command);
}

void CommandRouting::OnUpdateUi(wxUpdateUIEvent& event) {
  const std::optional<int> command = ids_.CommandId(event.GetId());
  if (!command) {
    event.Skip();
    return;
  }
  const MenuItemState state = MenuStateFor(router_.Query(*command));
  event.Enable(state.enabled);
  event.Check(state.checked);
  if (!state.text.empty()) event.SetText(wxString(state.text));
}

void CommandRouting::OnMenuOpen(wxMenuEvent& event) {
  // A greyed item takes no highlight, so its help would never reach the status bar: a menu
  // opened with such items says why in the status bar until it closes, as the frame does with
  // a highlighted item's help.
  const std::wstring reason = UpdateMenu(event.GetMenu());
  if (auto* frame = dynamic_cast<wxFrame*>(frame_); frame != nullptr && !reason.empty())
    frame->DoGiveHelp(wxString(reason), true);
  event.Skip();
}

void CommandRouting::OnCommandEvent(wxCommandEvent& event) {
  router_.Execute(event.GetInt());
}

void CommandRouting::OnCommandQuery(CommandQueryEvent& event) {
  event.SetAnswer(router_.Query(static_cast<int>(event.CommandId())));
}

}  // namespace grainforge::app
