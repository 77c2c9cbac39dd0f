#include "app/shell/main_menu.h"

#include <cwctype>

#include "app/shell/frame_logic.h"
#include "app/shell/menu_ids.h"
#include "engine/repair/windows_repair.h"

namespace grainforge::app {
namespace {

using Kind = MainMenuEntry::Kind;

MainMenuEntry Item(const wchar_t* text, int id) { return {Kind::Command, text, id, {}}; }
MainMenuEntry Check(const wchar_t* text, int id) { return {Kind::Check, text, id, {}}; }
MainMenuEntry Separator() { return {Kind::Separator, L"", 0, {}}; }
MainMenuEntry Menu(const wchar_t* text, std::vector<MainMenuEntry> items) {
  return {Kind::Submenu, text, 0, std::move(items)};
}

// wx key codes used below (wx/defs.h), so this table needs no wx header.
constexpr int kKeyBack = 8;
constexpr int kKeyEscape = 27;
constexpr int kKeyDelete = 127;
constexpr int kKeyHome = 313;
constexpr int kKeyInsert = 322;
constexpr int kKeyF5 = 344;
constexpr int kKeyF6 = 345;

std::vector<MainMenuEntry> FileMenu() {
  namespace id = menu_ids;
  return {Item(L"&New\tCtrl+N", id::kNew), Item(L"&Open STL...\tCtrl+O", id::kOpenStl),
          Item(L"Open &Project...", id::kOpenProject),
          Menu(L"&Test Shape", {Item(L"&Cube", id::kTestCube), Item(L"C&ylinder", id::kTestCylinder),
                                Item(L"&Sphere", id::kTestSphere)}),
          Separator(), Item(L"Save P&roject\tCtrl+Shift+S", id::kSaveProject),
          Item(L"Save Project As...", id::kSaveProjectAs), Separator(),
          Item(L"&Save STL...\tCtrl+S", id::kSaveStl), Item(L"Save &ASCII STL...", id::kSaveAsciiStl),
          Separator(), {Kind::RecentFiles, L"Recent &Files", id::kRecentFile, {}}, Separator(),
          Item(L"E&xit\tCtrl+Q", id::kExit)};
}

std::vector<MainMenuEntry> ViewMenu() {
  return {Menu(L"&Shading", {Check(L"&Smooth Shaded", 32782), Check(L"&Flat Shaded", 32783),
                             Check(L"&Wireframe", 32784), Check(L"Solid plus Wi&reframe", 32785)}),
          Menu(L"S&urface", {Check(L"&Plain", 32811), Check(L"&Checkerboard", 32812),
                             Check(L"Projector C&olours", 32813), Check(L"&Height Map", 32820),
                             Check(L"Outer / &Inner", 32896)}),
          Menu(L"Sho&w", {Check(L"&Normals", 32786), Check(L"Bounding Bo&x", 32787),
                          Check(L"Open &Edges", 32792), Check(L"Non-&manifold Edges", 32793),
                          Check(L"&Problem Faces", 32794), Check(L"&Colour by Component", 32795),
                          Check(L"Print Chec&k", 32855)}),
          Separator(), Check(L"Sliced (as &Printed)", 32856), Check(L"Clippin&g Plane", 32844),
          Check(L"Ort&hographic\tNum 5", 32788), Separator(),
          Item(L"&Reset / Fit\tHome", menu_ids::kResetFit), Item(L"&Isometric", 32774),
          Item(L"&Front", 32775), Item(L"&Back", 32776), Item(L"&Left", 32777), Item(L"Righ&t", 32778),
          Item(L"T&op", 32779), Item(L"Botto&m", 32780), Separator(),
          Check(L"Mesh I&nformation", 32789), Check(L"Status B&ar", menu_ids::kStatusBar),
          Check(L"&Detailed Log", menu_ids::kDetailedLog)};
}

std::vector<MainMenuEntry> TextureMenu() {
  return {Item(L"&Load From Disk...", 32819), Item(L"&Reload Textures", menu_ids::kReloadTextures),
          Separator(), Check(L"&Move Texture", 32845), Check(L"R&otate Texture", 32846),
          Check(L"&Zoom Texture", 32847), Check(L"&No Handles", 32817), Separator(),
          Check(L"E&dit per Side (show cage)", 32810), Item(L"Place on &All Sides", 32848),
          Item(L"Reset &Placement", 32849), Separator(), Item(L"Seamles&s...", 32882), Separator(),
          Item(L"S&ettings...", 32821)};
}

std::vector<MainMenuEntry> MeshMenu() {
  std::vector<MainMenuEntry> entries = {Item(L"&Process\tF5", menu_ids::kProcess),
          Item(L"&Stop Processing\tEsc", menu_ids::kStopProcessing), Separator(),
          Check(L"&Lay on Face", 32837), Separator(), Item(L"&Validate", 32790),
          Item(L"&Check Printability", 32854), Separator(), Item(L"&Repair", 32791)};
  // Where the repair service does not exist its item is left out rather than shown greyed for good.
  if (grainforge::mesh::IsWindowsRepairAvailable()) entries.push_back(Item(L"Repair with &Windows", 32913));
  for (MainMenuEntry entry : {Item(L"Simplify &Input Mesh...", 32914), Item(L"Re&mesh Input Mesh...", 32917),
                              Separator(),
                              Menu(L"S&ettings", {Item(L"&Relief...", 32889), Item(L"S&implify...", 32890)})})
    entries.push_back(std::move(entry));
  return entries;
}

// A key name after "\t" is a window-wide accelerator only with Ctrl or Alt, or as a function key.
bool IsChordOrFunctionKey(std::wstring_view key) {
  if (key.find(L"Ctrl+") != std::wstring_view::npos || key.find(L"Alt+") != std::wstring_view::npos)
    return true;
  if (key.size() < 2 || key.size() > 3 || key[0] != L'F') return false;
  for (std::size_t i = 1; i < key.size(); ++i) {
    if (key[i] < L'0' || key[i] > L'9') return false;
  }
  return true;
}

}  // namespace

std::vector<MainMenuEntry> MainMenuEntries() {
  return {
      Menu(L"&File", FileMenu()),
      Menu(L"&Edit", {Item(L"&Undo\tCtrl+Z", menu_ids::kUndo), Item(L"&Redo\tCtrl+Y", menu_ids::kRedo)}),
      Menu(L"&View", ViewMenu()),
      Menu(L"M&apping", {Item(L"&Fit to Model", 32799), Separator(),
                         Menu(L"&Sides", {Item(L"&All", 32807), Item(L"&None", 32808), Item(L"&Invert", 32809)}),
                         Menu(L"&Cage (advanced)", {Check(L"&Move Cage", 32814), Check(L"&Rotate Cage", 32815)}),
                         Separator(), Item(L"S&ettings...", 32900)}),
      Menu(L"Mas&ks", {Item(L"Add &Box", 32901), Item(L"Add &Cylinder", 32902), Item(L"Add &Sphere", 32903),
                       Separator(), Item(L"&Edit Masks", 32904)}),
      Menu(L"&Texture", TextureMenu()),
      Menu(L"&Mesh", MeshMenu()),
      Menu(L"&Help", {Item(L"User &Manual", menu_ids::kUserManual),
                      Separator(), Item(L"&About Tessary...", menu_ids::kAbout)}),
  };
}

std::vector<MainAccelerator> MainAccelerators() {
  namespace id = menu_ids;
  constexpr int ctrl = kModifierControl;
  constexpr int shift = kModifierShift;
  constexpr int alt = kModifierAlt;
  return {{ctrl, 'N', id::kNew},         {ctrl, 'O', id::kOpenStl},
          {ctrl, 'S', id::kSaveStl},     {ctrl | shift, 'S', id::kSaveProject},
          {ctrl, 'Z', id::kUndo},        {alt, kKeyBack, id::kUndo},
          {ctrl, 'Y', id::kRedo},        {ctrl, 'X', id::kCut},
          {shift, kKeyDelete, id::kCut}, {ctrl, 'C', id::kCopy},
          {ctrl, kKeyInsert, id::kCopy}, {ctrl, 'V', id::kPaste},
          {shift, kKeyInsert, id::kPaste}, {0, kKeyF6, id::kNextPane},
          {shift, kKeyF6, id::kPreviousPane}, {0, kKeyHome, id::kResetFit},
          {0, 'F', id::kResetFit},       {0, kKeyF5, id::kProcess},
          {0, kKeyEscape, id::kStopProcessing}, {ctrl, 'Q', id::kExit}};
}

std::wstring MenuLabelForToolkit(std::wstring_view text) {
  const std::size_t tab = text.find(L'\t');
  if (tab == std::wstring_view::npos || IsChordOrFunctionKey(text.substr(tab + 1)))
    return std::wstring(text);
  return std::wstring(text.substr(0, tab));
}

wchar_t MnemonicOf(std::wstring_view label) {
  const std::wstring_view shown = label.substr(0, label.find(L'\t'));
  for (std::size_t i = 0; i + 1 < shown.size(); ++i) {
    if (shown[i] != L'&') continue;
    if (shown[i + 1] != L'&') return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(shown[i + 1])));
    ++i;
  }
  return 0;
}

}  // namespace grainforge::app

namespace grainforge::app {

std::vector<MainAccelerator> WindowTableAccelerators() {
  std::vector<MainAccelerator> kept;
  for (const MainAccelerator& key : MainAccelerators()) {
    switch (key.commandId) {
      case menu_ids::kCut:
      case menu_ids::kCopy:
      case menu_ids::kPaste:
      case menu_ids::kUndo:
      case menu_ids::kRedo:
        break;  // a text field's own keys
      default:
        kept.push_back(key);
    }
  }
  return kept;
}

}  // namespace grainforge::app
