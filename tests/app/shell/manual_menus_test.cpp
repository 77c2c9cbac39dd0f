// The user manual names commands as a person finds them, "Menu > Item > Item": every such path
// in docs/manual must lead to an item of the main menu as this program builds it, so that a
// renamed or dropped item fails here rather than in a reader's hands.
#include "app/shell/main_menu.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/document/log_text.h"
#include "app/shell/frame_logic.h"
#include "app/view/display_reduction.h"
#include "engine/mesh/test_shapes.h"

namespace grainforge::app {
namespace {

// Whether the entry's label, as a person reads it (no mnemonic, no shortcut, a closing "..."
// optional), starts `rest` as a whole word and is longer than `length`, which it then becomes.
bool NameStarts(const MainMenuEntry& entry, std::wstring_view rest, std::size_t& length) {
  const std::size_t before = length;
  std::wstring name;
  for (const wchar_t c : entry.text.substr(0, entry.text.find(L'\t'))) name += c == L'&' ? L"" : std::wstring(1, c);
  for (const std::wstring& spelling : {name, name.ends_with(L"...") ? name.substr(0, name.size() - 3) : name}) {
    if (rest.starts_with(spelling) && spelling.size() > length &&
        (rest.size() == spelling.size() || !std::iswalnum(static_cast<wint_t>(rest[spelling.size()]))))
      length = spelling.size();
  }
  return length > before;
}

// The "Menu > Item" paths of the text that lead to no item; a path in bold must end where the
// bold ends ("*Mesh > Repair with Windows*" is not Repair). Counts the paths in `paths`.
std::vector<std::wstring> PathsLeadingNowhere(std::wstring text, int& paths) {
  for (wchar_t& c : text) c = c == L'\n' || c == L'\r' ? L' ' : c;
  std::vector<std::wstring> faults;
  const std::vector<MainMenuEntry> menus = MainMenuEntries();
  for (const MainMenuEntry& menu : menus) {
    std::wstring start;
    for (const wchar_t c : menu.text) start += c == L'&' ? L"" : std::wstring(1, c);
    start += L" > ";
    for (std::size_t at = text.find(start); at != std::wstring::npos; at = text.find(start, at + 1)) {
      if (at > 0 && std::iswalnum(static_cast<wint_t>(text[at - 1]))) continue;
      ++paths;
      std::size_t position = at + start.size();
      const MainMenuEntry* level = &menu;
      const MainMenuEntry* found = nullptr;
      do {
        found = nullptr;
        std::size_t best = 0;
        for (const MainMenuEntry& entry : level->children) {
          std::size_t length = best;
          if (entry.kind != MainMenuEntry::Kind::Separator && NameStarts(entry, std::wstring_view(text).substr(position), length))
            found = &entry, best = length;
        }
        position += best;
        level = found;
      } while (found != nullptr && found->kind == MainMenuEntry::Kind::Submenu && text.compare(position, 3, L" > ") == 0 &&
               (position += 3));
      const bool bold = at > 0 && text[at - 1] == L'*';
      if (found == nullptr || (bold && text[position] != L'*')) faults.push_back(text.substr(at, 50));
    }
  }
  return faults;
}

TEST(ManualMenuPaths, APathThatLeadsNowhereIsFound) {
  const struct {
    const wchar_t* text;
    std::size_t faults;
  } cases[] = {
      {L"*File > Save Project* (Ctrl+Shift+S), *Texture > Load From\nDisk...* and *Texture > Settings*", 0},
      {L"*View > Surface > Outer / Inner*, *Mapping > Cage (advanced) > Move Cage*", 0},
      {L"*Mesh > Repair with Windows* mends it; *View > Slice* shows it.", 2},
      {L"*File > Save STL > Binary*", 1},
      {L"Preview > Mesh > Repair mends it.", 0},
  };
  for (const auto& c : cases) {
    int paths = 0;
    EXPECT_EQ(PathsLeadingNowhere(c.text, paths).size(), c.faults) << c.text;
    EXPECT_GE(paths, 1) << c.text;
  }
}

TEST(ManualMenuPaths, EveryPathTheManualNamesIsInTheMenus) {
  int paths = 0;
  for (const std::filesystem::directory_entry& file : std::filesystem::directory_iterator(TESSARY_MANUAL_SOURCE)) {
    if (file.path().extension() != ".adoc") continue;
    std::ifstream in(file.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    for (const std::wstring& fault : PathsLeadingNowhere(Utf8ToWide(bytes.str()), paths))
      ADD_FAILURE() << file.path().filename() << ": no such menu item: " << WideToUtf8(fault);
  }
  EXPECT_GE(paths, 30) << "the manual names its commands by their menus";
}

// The program's own texts that send a person to a menu item name one that is there: the status
// bar during a run and the display limit's notes once said "Mesh > Stop" and "the Remesh
// settings", neither of which a person finds.
TEST(ProgramTextMenuPaths, EveryPlaceAProgramTextNamesIsInTheMenus) {
  const grainforge::mesh::PipelineStatus running{};
  const ShownMeshName sliced{"sliced preview", 638130};
  // A display limit whose copy the graphics card refuses as well.
  ReducedCopyState state;
  const DisplayUploader refusing{[](const auto&, const auto&, bool) { return false; }, [] { return std::string(); }};
  const DisplayUploadOutcome refused =
      UploadDisplayMesh(grainforge::mesh::MakeTestSphere(10.0f), {}, 20, state, refusing);
  ASSERT_FALSE(refused.log.empty());
  const std::string texts[] = {
      WideToUtf8(PipelineProgressText(running)),
      ReducedCopyMessage(false, 1000000, 99876),
      ReducedCopyMessage(false, 4988306, 3999871, sliced),
      refused.log.back().text,
  };
  for (const std::string& text : texts) {
    int paths = 0;
    EXPECT_TRUE(PathsLeadingNowhere(Utf8ToWide(text), paths).empty()) << text;
    EXPECT_EQ(paths, 1) << text;
  }
}

// The texts of a C++ source as a person reads them: each string literal's contents, adjacent
// literals joined, escaped line breaks as spaces; comments and code left out.
std::wstring SourceTexts(const std::string& source) {
  std::string texts;
  bool joined = false;
  for (std::size_t at = 0; at < source.size(); ++at) {
    if (source.compare(at, 2, "//") == 0) {
      at = source.find('\n', at);
      if (at == std::string::npos) break;
    } else if (source[at] == '"' && (at == 0 || source[at - 1] != '\'')) {
      texts += joined ? "" : "\n";
      for (++at; at < source.size() && source[at] != '"'; ++at) {
        if (source[at] == '\\' && at + 1 < source.size()) {
          ++at;
          texts += source[at] == 'n' || source[at] == 'r' ? ' ' : source[at];
        } else {
          texts += source[at];
        }
      }
      joined = true;
      continue;
    }
    if (at < source.size() && !std::isspace(static_cast<unsigned char>(source[at]))) joined = false;
  }
  return Utf8ToWide(texts);
}

// Every text of the program and its help pages that names a menu item names one that is there:
// "Use File > Open to load an STL" once sent a person to an item no menu has. Nor does a text
// count with an optional plural ("40 feature(s)", "1 round(s)"): it says "1 round", "2 rounds".
TEST(ProgramTextMenuPaths, EveryPathInTheProgramsTextsIsInTheMenus) {
  int paths = 0;
  const std::filesystem::path root = std::filesystem::path(TESSARY_MANUAL_SOURCE).parent_path().parent_path();
  for (const char* folder : {"app", "engine", "help"}) {
    for (const auto& file : std::filesystem::recursive_directory_iterator(root / folder)) {
      const std::filesystem::path ext = file.path().extension();
      if (ext != ".cpp" && ext != ".h" && ext != ".md") continue;
      std::ifstream in(file.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      const std::wstring text = ext == ".md" ? Utf8ToWide(bytes.str()) : SourceTexts(bytes.str());
      for (const std::wstring& fault : PathsLeadingNowhere(text, paths))
        ADD_FAILURE() << file.path().lexically_relative(root) << ": no such menu item: " << WideToUtf8(fault);
      for (const wchar_t* plural : {L"(s)", L"(es)"})
        if (const std::size_t at = text.find(plural); at != std::wstring::npos)
          ADD_FAILURE() << file.path().lexically_relative(root) << ": " << WideToUtf8(text.substr(at > 30 ? at - 30 : 0, 40));
    }
  }
  EXPECT_GE(paths, 10) << "the program names its commands by their menus";
}

}  // namespace
}  // namespace grainforge::app
