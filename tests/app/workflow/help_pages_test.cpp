#include "app/workflow/help/help_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/document/field_ranges.h"
#include "app/shell/kit/number_text.h"
#include "app/workflow/help/markdown_text_ctrl.h"
#include "engine/mesh/export_cleanup.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <sstream>

namespace grainforge::app {
namespace {

using grainforge::test::TempFolder;
using grainforge::test::WriteAllText;

// A program folder and a user folder, each with a "help" folder.
class HelpFolders {
public:
  HelpFolders() {
    std::filesystem::create_directories(Factory() / "help");
    std::filesystem::create_directories(User() / "help");
    roots_ = {LibraryRoot{Factory(), false}, LibraryRoot{User(), true}};
  }
  std::filesystem::path Factory() const { return temp_ / "program"; }
  std::filesystem::path User() const { return temp_ / "Tessary"; }
  const LibraryRoots& Roots() const { return roots_; }

private:
  TempFolder temp_;
  LibraryRoots roots_;
};

TEST(LoadHelpPage, TheUsersPageComesFirst) {
  HelpFolders folders;
  WriteAllText(folders.Factory() / "help" / "export.md", "# Program");
  WriteAllText(folders.User() / "help" / "export.md", "# Mine");
  WriteAllText(folders.Factory() / "help" / "relief.md", "# Relief");
  EXPECT_EQ(LoadHelpPageFrom(folders.Roots(), "export"), L"# Mine");
  EXPECT_EQ(LoadHelpPageFrom(folders.Roots(), "relief"), L"# Relief");
}

TEST(LoadHelpPage, APageTheUserDeletedIsNotTakenFromTheProgram) {
  HelpFolders folders;
  WriteAllText(folders.Factory() / "help" / "stack.md", "# Stack");
  WriteAllText(folders.User() / "help" / "_deleted.index", "stack.md\r\n");
  EXPECT_EQ(LoadHelpPageFrom(folders.Roots(), "stack"), MissingHelpPage("stack.md"));
}

TEST(LoadHelpPage, AnAbsolutePathIsReadAsItIs) {
  HelpFolders folders;
  const std::filesystem::path elsewhere = folders.User() / "notes";
  WriteAllText(elsewhere.string() + ".md", "notes");
  EXPECT_EQ(LoadHelpPageFrom(folders.Roots(), elsewhere.string()), L"notes");
}

TEST(LoadHelpPage, MissingOrEmptyPagesSayThatNoHelpWasFound) {
  HelpFolders folders;
  WriteAllText(folders.Factory() / "help" / "empty.md", "");
  WriteAllText(folders.Factory() / "help" / "bom.md", "\xEF\xBB\xBF");
  std::filesystem::create_directories(folders.Factory() / "help" / "folder.md");
  EXPECT_EQ(MissingHelpPage("x.md"), L"# No help yet\n\nThe page `help/x.md` was not found beside the program.");
  for (const char* page : {"nothing", "empty", "bom", "folder"})
    EXPECT_EQ(LoadHelpPageFrom(folders.Roots(), page), MissingHelpPage(std::string(page) + ".md")) << page;
}

TEST(LoadHelpPage, ByteOrderMarkAndInvalidBytes) {
  struct Case {
    std::string bytes;
    std::wstring text;
  } const cases[] = {
      {"\xEF\xBB\xBF# Caf\xC3\xA9", L"# Caf\u00E9"},
      {"a\xFF" "b", L"a\uFFFDb"},
      {"\xEF\xBB", L"\uFFFD"},  // a cut byte-order mark is not a mark
  };
  for (const Case& c : cases) EXPECT_EQ(HelpPageText(c.bytes), c.text);
}

TEST(LoadHelpPage, AHugePageIsCutAtALineWithANote) {
  HelpFolders folders;
  std::string line(99, 'x');
  line += '\n';
  std::string bytes;
  while (bytes.size() < kMaxHelpPageBytes * 3) bytes += line;
  WriteAllText(folders.Factory() / "help" / "huge.md", bytes);
  const std::wstring text = LoadHelpPageFrom(folders.Roots(), "huge");
  EXPECT_LE(text.size(), kMaxHelpPageBytes + 200);
  const std::size_t cut = text.find(L"\n\n*This page is longer");
  ASSERT_NE(cut, std::wstring::npos);
  EXPECT_EQ(cut % line.size(), 0u) << "the kept part ends with a whole line";
  EXPECT_EQ(text[cut - 1], L'\n');
}

TEST(HelpPaneSizes, FontsAndSpacingFollowTheDpi) {
  struct Case {
    int dpi;
    std::array<int, kMarkdownFontCount> sizes;
    int indent;
    int minColumn;
  } const cases[] = {
      {96, {16, 16, 16, 16, 14, 28, 24, 19}, 20, 40},
      {144, {24, 24, 24, 24, 21, 42, 36, 29}, 30, 60},
  };
  for (const Case& c : cases) {
    for (int f = 0; f < kMarkdownFontCount; ++f)
      EXPECT_EQ(MarkdownFontPixelSize(static_cast<MarkdownFont>(f), 16, c.dpi), c.sizes[static_cast<std::size_t>(f)])
          << c.dpi << " font " << f;
    const MarkdownSpacing spacing = MarkdownSpacingAt(c.dpi);
    EXPECT_EQ(spacing.indent, c.indent);
    EXPECT_EQ(spacing.minColumnWidth, c.minColumn);
  }
}

// The ranges, defaults and decimals the fields take are said where people read about them,
// in the words of the rules the fields refuse by (the Save STL help gave neither the defaults nor
// the range, and the mask panel's ranges stood on no page), so a changed rule shows here.
std::string RangeWords(const NumberFieldRule& rule) {
  const auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
  return "from " + narrow(FormatDialogFloat(rule.minimum)) + " to " + narrow(FormatDialogFloat(rule.maximum)) + " " +
         narrow(std::wstring(rule.unit));
}

TEST(ShippedHelp, SaysTheRangesAndDefaultsTheFieldsTake) {
  const char* data = std::getenv("TESSARY_TEST_DATA");
  ASSERT_NE(data, nullptr);
  const std::filesystem::path source = std::filesystem::path(data) / ".." / "..";
  const mesh::ExportCleanupOptions defaults;
  const auto millimetres = [](float value) {
    const std::wstring text = FormatDialogFloat(value);
    return std::string(text.begin(), text.end()) + " mm";
  };
  const struct {
    const char* file;
    std::string says;
  } rows[] = {
      {"help/export.md", RangeWords(kLargestHoleRule)},
      {"help/export.md", RangeWords(kWidestSlitRule)},
      {"help/export.md", millimetres(defaults.maximumHoleMillimetres) + " unless you change it"},
      {"help/export.md", millimetres(defaults.maximumSlitWidthMillimetres) + " unless you change it"},
      {"help/export.md", "*mm across*"},
      {"help/export.md", "*mm wide*"},
      {"docs/manual/Tessary_Manual.adoc", "position " + RangeWords(kMaskFieldRules[0])},
      {"docs/manual/Tessary_Manual.adoc", "size " + RangeWords(kMaskFieldRules[3])},
      {"docs/manual/Tessary_Manual.adoc", "turn " + RangeWords(kMaskFieldRules[6])},
      {"docs/manual/Tessary_Manual.adoc", "feather " + RangeWords(kMaskFieldRules[9])},
      {"docs/manual/Tessary_Manual.adoc", "at most " + std::to_string(kMaskFieldDecimals) + " decimals"},
  };
  for (const auto& row : rows) {
    std::ifstream in(source / row.file);
    ASSERT_TRUE(in) << row.file;
    std::stringstream text;
    text << in.rdbuf();
    // Lines are wrapped at will: read as one.
    std::string flat = text.str();
    for (char& c : flat)
      if (c == '\n') c = ' ';
    EXPECT_NE(flat.find(row.says), std::string::npos) << row.file << ": " << row.says;
  }
}

}  // namespace
}  // namespace grainforge::app
