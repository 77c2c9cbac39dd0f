#include "app/shell/user_manual.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

using grainforge::test::TempFolder;
using grainforge::test::WriteAllText;

// An installed program's layout: <prefix>/bin/tessary with its data in <prefix>/share/tessary.
struct Install {
  TempFolder prefix;
  std::filesystem::path bin = prefix / "bin";
  std::filesystem::path share = prefix / "share" / "tessary";
  Install() {
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share);
  }
};

TEST(FindManual, LooksBesideTheProgramThenInTheInstalledDataFolder) {
  struct Case {
    const char* name;
    bool beside;
    bool installed;
    bool found;
    bool expectBeside;  // the path given is the one beside the program
  };
  const Case cases[] = {
      {"only beside", true, false, true, true},
      {"only installed", false, true, true, false},
      {"both: the program's own first", true, true, true, true},
      {"neither: names the file beside the program", false, false, false, true},
  };
  for (const Case& c : cases) {
    Install install;
    if (c.beside) WriteAllText(install.bin / "Tessary_Manual.pdf", "%PDF-1.4");
    if (c.installed) WriteAllText(install.share / "Tessary_Manual.pdf", "%PDF-1.4");
    const ManualLocation found = FindManual(install.bin);
    EXPECT_EQ(found.found, c.found) << c.name;
    const std::filesystem::path expected =
        c.expectBeside ? install.bin / "Tessary_Manual.pdf" : install.share / "Tessary_Manual.pdf";
    EXPECT_EQ(found.path, expected.lexically_normal()) << c.name;
  }
}

TEST(FindManual, TakesNoFolderOrBrokenLinkForTheManual) {
  Install install;
  std::filesystem::create_directory(install.bin / "Tessary_Manual.pdf");
  std::filesystem::create_symlink(install.prefix / "gone.pdf", install.share / "Tessary_Manual.pdf");
  const ManualLocation found = FindManual(install.bin);
  EXPECT_FALSE(found.found);
  EXPECT_EQ(found.path, install.bin / "Tessary_Manual.pdf");
  // An unknown program folder finds nothing and names only the file.
  EXPECT_FALSE(FindManual({}).found);
}

TEST(OpenUserManual, HandsTheFoundManualToTheDesktopAndSaysNothing) {
  Install install;
  WriteAllText(install.share / "Tessary_Manual.pdf", "%PDF-1.4");
  std::vector<std::filesystem::path> opened;
  const std::wstring message = OpenUserManual(install.bin, [&](const std::filesystem::path& file, DesktopOpenEnded) {
    opened.push_back(file);
    return true;
  });
  EXPECT_EQ(message, L"");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], (install.share / "Tessary_Manual.pdf").lexically_normal());
}

TEST(OpenUserManual, SaysWhyWhenMissingOrTheDesktopFails) {
  Install install;
  int calls = 0;
  const auto fails = [&](const std::filesystem::path&, DesktopOpenEnded) {
    ++calls;
    return false;
  };
  const std::wstring beside = (install.bin / "Tessary_Manual.pdf").wstring();
  // Missing: the desktop is not asked at all.
  EXPECT_EQ(OpenUserManual(install.bin, fails), L"The manual is not beside the program: " + beside);
  EXPECT_EQ(calls, 0);
  WriteAllText(install.bin / "Tessary_Manual.pdf", "%PDF-1.4");
  EXPECT_EQ(OpenUserManual(install.bin, fails), L"The manual could not be opened: " + beside);
  EXPECT_EQ(calls, 1);
  // No opener at all is a failure too, never a silent success.
  EXPECT_EQ(OpenUserManual(install.bin, {}), L"The manual could not be opened: " + beside);
}

// A handler that ends without showing the manual is answered later with why, as far as its end
// tells, and the manual's path; one that succeeded says nothing.
TEST(OpenUserManual, AHandlerThatEndsWithoutShowingItIsToldWithThePath) {
  Install install;
  WriteAllText(install.bin / "Tessary_Manual.pdf", "%PDF-1.4");
  const std::wstring byHand = L". Open it by hand: " + (install.bin / "Tessary_Manual.pdf").wstring();
  const std::wstring lead = L"The manual could not be opened: the desktop ";
  const std::pair<platform::ProgramExit, std::wstring> cases[] = {
      {{true, 0, 0}, L""},
      {{true, 3, 0}, lead + L"has no program for PDF files (xdg-open ended with status 3)" + byHand},
      {{true, 4, 0}, lead + L"could not show it (xdg-open ended with status 4)" + byHand},
      {{false, 0, 9}, L"The manual could not be opened: the desktop's opener was stopped (signal 9)" + byHand},
  };
  for (const auto& c : cases) {
    std::wstring said;
    const platform::ProgramExit exit = c.first;
    const auto opener = [exit](const std::filesystem::path&, DesktopOpenEnded ended) { return ended(exit), true; };
    EXPECT_EQ(OpenUserManual(install.bin, opener, [&said](const std::wstring& m) { said = m; }), L"");
    EXPECT_EQ(said, c.second) << exit.status;
  }
}

}  // namespace
}  // namespace grainforge::app
