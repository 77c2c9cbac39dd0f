// The user manual names commands as a person finds them, "Menu > Item > Item", and lists a
// menu's commands after "The *Mesh* menu ...": every such path and list term in docs/manual
// must be an item of the main menu as this program builds it, and a shortcut written after a
// path in parentheses must be the item's own. A renamed or dropped item then fails here, not in
// a reader's hands.
#include "app/shell/main_menu.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/document/log_text.h"

namespace grainforge::app {
namespace {

// The label a person reads: no mnemonic, no shortcut.
std::wstring ShownName(const std::wstring& text) {
  std::wstring shown;
  for (const wchar_t c : text.substr(0, text.find(L'\t'))) {
    if (c != L'&') shown += c;
  }
  return shown;
}

std::wstring Shortcut(const std::wstring& text) {
  const std::size_t tab = text.find(L'\t');
  return tab == std::wstring::npos ? std::wstring() : text.substr(tab + 1);
}

bool IsWordCharacter(wchar_t c) { return std::iswalnum(static_cast<wint_t>(c)) != 0; }

// The entry of `entries` whose name (or its name without a closing "...") starts `rest` as a
// whole word, the longest such; its name's length in `length`.
const MainMenuEntry* EntryStarting(const std::vector<MainMenuEntry>& entries, std::wstring_view rest,
                                   std::size_t& length) {
  const MainMenuEntry* found = nullptr;
  length = 0;
  for (const MainMenuEntry& entry : entries) {
    if (entry.kind == MainMenuEntry::Kind::Separator) continue;
    const std::wstring name = ShownName(entry.text);
    std::vector<std::wstring> spellings = {name};
    if (name.size() > 3 && name.compare(name.size() - 3, 3, L"...") == 0) spellings.push_back(name.substr(0, name.size() - 3));
    for (const std::wstring& spelling : spellings) {
      const bool whole = rest.size() == spelling.size() || !IsWordCharacter(rest[spelling.size()]);
      if (rest.substr(0, spelling.size()) == spelling && whole && spelling.size() > length) {
        found = &entry;
        length = spelling.size();
      }
    }
  }
  return found;
}

// Every "Menu > Item" path of the text that does not lead to a menu item, or whose shortcut
// in parentheses differs from the item's, each with the text it was found in. A path in bold
// ("*File > Save Project*") must end with the bold text.
struct ManualCheck {
  int paths = 0;
  std::vector<std::wstring> faults;
};
ManualCheck CheckMenuPaths(std::wstring text, const std::vector<MainMenuEntry>& menus) {
  for (wchar_t& c : text) {
    if (c == L'\n' || c == L'\r' || c == L'\t') c = L' ';
  }
  ManualCheck check;
  for (const MainMenuEntry& menu : menus) {
    const std::wstring start = ShownName(menu.text) + L" > ";
    for (std::size_t at = text.find(start); at != std::wstring::npos; at = text.find(start, at + 1)) {
      if (at > 0 && IsWordCharacter(text[at - 1])) continue;
      ++check.paths;
      const std::wstring quoted = text.substr(at, 60);
      const MainMenuEntry* entry = &menu;
      std::size_t position = at + start.size();
      while (true) {
        std::size_t length = 0;
        entry = EntryStarting(entry->children, std::wstring_view(text).substr(position), length);
        if (entry == nullptr) break;
        position += length;
        if (entry->kind != MainMenuEntry::Kind::Submenu || text.compare(position, 3, L" > ") != 0) break;
        position += 3;
      }
      if (entry == nullptr) {
        check.faults.push_back(L"no such item: " + quoted);
        continue;
      }
      // A path in bold ends where the bold ends: "*Mesh > Repair with Windows*" is not Repair.
      const bool bold = at > 0 && text[at - 1] == L'*';
      if (bold && (position >= text.size() || text[position] != L'*')) {
        check.faults.push_back(L"no such item: " + quoted);
        continue;
      }
      // "*File > Save Project* (Ctrl+Shift+S)": the first key named must be the item's.
      std::size_t after = position;
      if (after < text.size() && text[after] == L'*') ++after;
      const std::wstring key = Shortcut(entry->text);
      if (text.compare(after, 2, L" (") == 0 && !key.empty()) {
        const std::size_t end = text.find_first_of(L" ),;", after + 2);
        const std::wstring named = text.substr(after + 2, end - after - 2);
        if (named.find(L'+') != std::wstring::npos || (named.size() >= 2 && named[0] == L'F'))
          if (named != key) check.faults.push_back(L"shortcut " + named + L" is " + key + L": " + quoted);
      }
    }
  }
  return check;
}

// Whether an item of that name is anywhere under the menu (a trailing "..." may be left out).
bool MenuHolds(const MainMenuEntry& menu, const std::wstring& name) {
  for (const MainMenuEntry& entry : menu.children) {
    const std::wstring shown = ShownName(entry.text);
    if (shown == name || shown == name + L"...") return true;
    if (entry.kind == MainMenuEntry::Kind::Submenu && MenuHolds(entry, name)) return true;
  }
  return false;
}

// The terms of a list introduced by "The *Mesh* menu ...": each names an item of that menu.
void CheckMenuLists(const std::wstring& text, const std::vector<MainMenuEntry>& menus, ManualCheck& check) {
  std::wistringstream lines(text);
  std::wstring line;
  const MainMenuEntry* menu = nullptr;
  bool inList = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (menu == nullptr) {
      for (const MainMenuEntry& candidate : menus) {
        if (line.find(L"The *" + ShownName(candidate.text) + L"* menu") != std::wstring::npos) menu = &candidate;
      }
      inList = false;
      continue;
    }
    if (line.empty()) {
      if (inList) menu = nullptr;
      continue;
    }
    const std::size_t colons = line.find(L"::");
    if (colons == std::wstring::npos || line[0] == L' ') continue;  // a term's description goes on
    inList = true;
    ++check.paths;
    const std::wstring term = line.substr(0, colons);
    if (!MenuHolds(*menu, term)) check.faults.push_back(L"not in the " + ShownName(menu->text) + L" menu: " + term);
  }
}

std::wstring ReadManual(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return Utf8ToWide(bytes.str());
}

// The checker finds what drifts: an item the menu does not have (on this system Repair with
// Windows is left out), a truncated name, a path into a plain item, a wrong shortcut; and
// passes the ways the manual writes a path (bold, broken over lines, without "...").
TEST(ManualMenuPaths, TheCheckerTellsAPathThatLeadsNowhere) {
  const struct {
    const wchar_t* text;
    int faults;
  } cases[] = {
      {L"*File > Save Project* (Ctrl+Shift+S) writes it.", 0},
      {L"*Texture > Load From\nDisk...* loads one.", 0},
      {L"*Mesh > Settings > Relief* and *Texture > Settings...*", 0},
      {L"*View > Surface > Outer / Inner* and *View > Sliced (as Printed)*", 0},
      {L"*Mapping > Cage (advanced) > Move Cage* moves the cage.", 0},
      {L"*Edit > Undo* (Ctrl+Z or Alt+Backspace)", 0},
      {L"*Mesh > Repair with Windows* mends it.", 1},
      {L"*View > Slice* shows it.", 1},
      {L"*Mesh > Validated* checks it.", 1},
      {L"*File > Save STL > Binary*", 1},  // a plain item has no items of its own
      {L"File > Save STL writes it.", 0},  // outside bold, the path ends with the item's name
      {L"*File > Save STL* (Ctrl+Shift+S)", 1},
      {L"*Mesh > Process* (F6)", 1},
      {L"Preview > Mesh > Repair", 0},  // "Preview" is no menu: only "Mesh > Repair" counts
      {L"The *Mesh* menu works on the part:\n\nValidate:: checks.\nRemesh Input Mesh...:: rebuilds\nit.\n", 0},
      {L"The *Mesh* menu works on the part:\n\nRepair with Windows:: mends it.\n", 1},
      {L"The *Mesh* menu:\n\nRepair:: mends.\n\nSliced (as Printed):: not in this list.\n", 0},
      {L"The *Texture* menu:\nMove Texture:: moves.\nLay on Face:: turns.\n", 1},
  };
  for (const auto& c : cases) {
    ManualCheck check = CheckMenuPaths(c.text, MainMenuEntries());
    CheckMenuLists(c.text, MainMenuEntries(), check);
    EXPECT_GE(check.paths, 1) << c.text;
    EXPECT_EQ(static_cast<int>(check.faults.size()), c.faults) << c.text;
  }
}

// Every path the manual names is an item of the menus as this program builds them.
TEST(ManualMenuPaths, EveryPathTheManualNamesIsInTheMenus) {
  const std::filesystem::path folder = TESSARY_MANUAL_SOURCE;
  int paths = 0;
  for (const std::filesystem::directory_entry& file : std::filesystem::directory_iterator(folder)) {
    if (file.path().extension() != ".adoc") continue;
    const std::wstring text = ReadManual(file.path());
    ManualCheck check = CheckMenuPaths(text, MainMenuEntries());
    CheckMenuLists(text, MainMenuEntries(), check);
    paths += check.paths;
    for (const std::wstring& fault : check.faults) ADD_FAILURE() << file.path().filename() << ": " << WideToUtf8(fault);
  }
  EXPECT_GE(paths, 30) << "the manual names commands by their menus";
}

}  // namespace
}  // namespace grainforge::app
