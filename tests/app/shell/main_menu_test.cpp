#include "app/shell/main_menu.h"

#include <gtest/gtest.h>

#include <wx/accel.h>
#include <wx/defs.h>

#include <map>
#include <set>

#include "app/shell/command_routing.h"
#include "app/shell/frame_logic.h"
#include "app/shell/menu_ids.h"

namespace grainforge::app {
namespace {

void CollectItems(const std::vector<MainMenuEntry>& entries, std::vector<const MainMenuEntry*>& items) {
  for (const MainMenuEntry& entry : entries) {
    if (entry.kind == MainMenuEntry::Kind::Submenu) CollectItems(entry.children, items);
    else if (entry.kind != MainMenuEntry::Kind::Separator) items.push_back(&entry);
  }
}

std::vector<AcceleratorKey> AsRoutingKeys(const std::vector<MainAccelerator>& keys) {
  std::vector<AcceleratorKey> converted;
  for (const MainAccelerator& key : keys) {
    int flags = 0;
    if (key.modifiers & kModifierAlt) flags |= wxACCEL_ALT;
    if (key.modifiers & kModifierControl) flags |= wxACCEL_CTRL;
    if (key.modifiers & kModifierShift) flags |= wxACCEL_SHIFT;
    converted.push_back({flags, key.keyCode, key.commandId});
  }
  return converted;
}

TEST(MainMenuEntries, HasTheEightMenusInOrder) {
  std::vector<std::wstring> titles;
  for (const MainMenuEntry& menu : MainMenuEntries()) titles.push_back(menu.text);
  EXPECT_EQ(titles, (std::vector<std::wstring>{L"&File", L"&Edit", L"&View", L"M&apping", L"Mas&ks",
                                                L"&Texture", L"&Mesh", L"&Help"}));
}

// The key codes are written out in the table to keep it free of wx; they must be wx's.
TEST(MainAccelerators, UseWxKeyCodes) {
  std::set<int> codes;
  for (const MainAccelerator& key : MainAccelerators()) codes.insert(key.keyCode);
  for (int code : {int(WXK_BACK), int(WXK_ESCAPE), int(WXK_DELETE), int(WXK_HOME), int(WXK_INSERT),
                   int(WXK_F5), int(WXK_F6)})
    EXPECT_TRUE(codes.count(code)) << code;
}

// The fault: Home, F and Escape translated by the window before the focused control, so Home in
// a field and every "F" typed anywhere were lost; the same for cut, copy, paste and undo keys.
TEST(WindowTableAccelerators, HoldNoKeyATextFieldTypesOrEdits) {
  const AcceleratorSplit split = SplitAccelerators(AsRoutingKeys(WindowTableAccelerators()));
  for (const AcceleratorKey& key : split.table) {
    EXPECT_NE(key.keyCode, 'F');
    EXPECT_NE(key.keyCode, WXK_HOME);
    EXPECT_NE(key.keyCode, WXK_ESCAPE);
    for (int edit : {menu_ids::kCut, menu_ids::kCopy, menu_ids::kPaste, menu_ids::kUndo, menu_ids::kRedo})
      EXPECT_NE(key.commandId, edit) << key.keyCode;
  }
  // What the table must still hold: the keys that no field uses.
  std::set<int> commands;
  for (const AcceleratorKey& key : split.table) commands.insert(key.commandId);
  for (int command : {menu_ids::kNew, menu_ids::kOpenStl, menu_ids::kSaveStl, menu_ids::kSaveProject,
                      menu_ids::kProcess, menu_ids::kNextPane, menu_ids::kPreviousPane})
    EXPECT_TRUE(commands.count(command)) << command;
  // Escape, Home and F are left to the key hook and the viewport.
  std::set<int> bare;
  for (const AcceleratorKey& key : split.bare) bare.insert(key.keyCode);
  EXPECT_EQ(bare, (std::set<int>{'F', WXK_HOME, WXK_ESCAPE}));
}

TEST(MenuLabelForToolkit, KeepsChordsAndFunctionKeysAndDropsBareKeys) {
  struct Case {
    std::wstring text;
    std::wstring label;
  };
  const Case cases[] = {
      {L"&New\tCtrl+N", L"&New\tCtrl+N"},
      {L"Save P&roject\tCtrl+Shift+S", L"Save P&roject\tCtrl+Shift+S"},
      {L"&Process\tF5", L"&Process\tF5"},
      {L"&Stop Processing\tEsc", L"&Stop Processing"},
      {L"&Reset / Fit\tHome", L"&Reset / Fit"},
      {L"Ort&hographic\tNum 5", L"Ort&hographic"},
      {L"&Fit to Model", L"&Fit to Model"},
      {L"Odd\tF", L"Odd"},
  };
  for (const Case& c : cases) EXPECT_EQ(MenuLabelForToolkit(c.text), c.label);
}

// Every key a menu item shows runs that item's command.
TEST(MainMenuEntries, ShowOnlyKeysThatRunTheirCommand) {
  const std::vector<MainMenuEntry> menus = MainMenuEntries();
  std::vector<const MainMenuEntry*> items;
  CollectItems(menus, items);
  const std::vector<MainAccelerator> keys = MainAccelerators();
  int shown = 0;
  for (const MainMenuEntry* item : items) {
    const std::size_t tab = item->text.find(L'\t');
    if (tab == std::wstring::npos || item->commandId == 32788) continue;  // "Num 5" is the viewport's
    ++shown;
    bool found = false;
    for (const MainAccelerator& key : keys) found = found || key.commandId == item->commandId;
    EXPECT_TRUE(found) << std::string(item->text.begin(), item->text.end());
  }
  EXPECT_EQ(shown, 10);  // Exit shows Ctrl+Q too
}

// The fault: Texture held "Edit per &Side" and "Seamles&s...", Mesh "&Process" and "Sto&p
// Processing", so Alt+letter only moved between the two instead of choosing one.
void ExpectDistinctMnemonics(const std::wstring& level, const std::vector<MainMenuEntry>& entries) {
  std::map<wchar_t, std::wstring> taken;
  for (const MainMenuEntry& entry : entries) {
    if (entry.kind == MainMenuEntry::Kind::Separator) continue;
    if (const wchar_t key = MnemonicOf(entry.text); key != 0) {
      const auto [at, added] = taken.emplace(key, entry.text);
      EXPECT_TRUE(added) << std::string(level.begin(), level.end()) << ": "
                         << std::string(at->second.begin(), at->second.end()) << " / "
                         << std::string(entry.text.begin(), entry.text.end());
    }
    if (!entry.children.empty()) ExpectDistinctMnemonics(level + L" > " + entry.text, entry.children);
  }
}

TEST(MainMenuEntries, NoMenuRepeatsAnAccessKey) {
  const std::pair<std::wstring, wchar_t> reads[] = {
      {L"Sto&p", L'p'}, {L"&Save STL...\tCtrl+S", L's'}, {L"Save Project As...", 0},
      {L"Salt && &Pepper", L'p'}, {L"Tail &", 0}, {L"Odd\tAlt+&X", 0}};
  for (const auto& [label, key] : reads) EXPECT_EQ(MnemonicOf(label), key) << std::string(label.begin(), label.end());
  ExpectDistinctMnemonics(L"menu bar", MainMenuEntries());
}

}  // namespace
}  // namespace grainforge::app
