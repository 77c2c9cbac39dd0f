// The profile file as the program reads and saves it: settings that cannot be kept leave the
// defaults, no temporary files and one reason; a link is written through and kept.
#include "app/shell/wx_profile_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = test::ReadAllBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// A folder at the profile's name, or a file where its folder should be, once brought a message
// box at start (which held SIGTERM off) and a temporary file at every save; a link to a file of
// the user's was replaced by a regular file.
TEST(WxProfileFile, SettingsThatCannotBeKeptLeaveTheDefaultsAndNothingBehind) {
  enum class Setup { Missing, Folder, FolderIsAFile, LinkToUserFile, Settings };
  const struct {
    const char* name;
    Setup setup;
    const wchar_t* problem;  // part of the reason said once; empty when the settings are kept
  } cases[] = {
      {"missing", Setup::Missing, L""},
      {"a folder at its name", Setup::Folder, L"is not a regular file (it is a folder)"},
      {"a file where its folder should be", Setup::FolderIsAFile, L"is not a folder (it is a regular file)"},
      {"a link to a file of the user's", Setup::LinkToUserFile, L""},
      {"settings", Setup::Settings, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    const fs::path brookvane = folder / "Brookvane";
    const fs::path profile = brookvane / "Tessary.conf";
    if (c.setup == Setup::FolderIsAFile) {
      test::WriteAllText(brookvane, "a file\n");
    } else if (c.setup != Setup::Missing) {
      fs::create_directories(brookvane);
    }
    if (c.setup == Setup::Folder) fs::create_directories(profile);
    if (c.setup == Setup::LinkToUserFile) {
      test::WriteAllText(folder / "notes.txt", "my notes\n");
      fs::create_symlink("../notes.txt", profile);
    }
    if (c.setup == Setup::Settings) test::WriteAllText(profile, "[Log]\nDetailed=1\n");

    std::unique_ptr<WxProfileFile> config = WxProfileFile::Open(profile);
    std::vector<std::wstring> reported;
    config->SetProblemReporter([&](const std::wstring& problem) { reported.push_back(problem); });
    const bool kept = std::wstring(c.problem).empty();
    EXPECT_EQ(config->ReadLong(wxS("/Log/Detailed"), 0), c.setup == Setup::Settings ? 1 : 0);
    config->Write(wxS("/Workflow/Collapsed2"), 5L);
    EXPECT_EQ(config->Flush(), kept);
    config->Write(wxS("/Workflow/Collapsed2"), 6L);
    EXPECT_EQ(config->Flush(), kept);

    if (kept) {
      EXPECT_TRUE(reported.empty());
      EXPECT_NE(ReadText(profile).find("Collapsed2=6"), std::string::npos);
    } else {
      ASSERT_EQ(reported.size(), 1u) << "said once";
      EXPECT_NE(reported[0].find(c.problem), std::wstring::npos) << reported[0];
    }
    if (c.setup == Setup::LinkToUserFile) {
      EXPECT_TRUE(fs::is_symlink(profile));
      EXPECT_NE(ReadText(folder / "notes.txt").find("my notes\n"), std::string::npos) << "the user's lines stay";
    }
    if (c.setup == Setup::Settings) {
      EXPECT_NE(ReadText(profile).find("Detailed=1"), std::string::npos);
    }
    if (c.setup == Setup::FolderIsAFile) {
      EXPECT_EQ(ReadText(brookvane), "a file\n");
    } else {
      std::vector<std::string> names;
      for (const fs::directory_entry& entry : fs::directory_iterator(brookvane))
        names.push_back(entry.path().filename().string());
      EXPECT_EQ(names, std::vector<std::string>{"Tessary.conf"}) << "no temporary file left";
    }
  }
}

// Two windows share the profile: each wrote the whole file as it held it, so the one that wrote
// last took the other's recent project and settings away.
TEST(WxProfileFile, TwoWindowsKeepEachOthersChanges) {
  test::TempFolder folder;
  const fs::path profile = folder / "Brookvane" / "Tessary.conf";
  fs::create_directories(profile.parent_path());
  test::WriteAllText(profile, "[Recent File List]\nfile1=/p/old1.gfproj\nfile2=/p/old2.gfproj\n");
  std::unique_ptr<WxProfileFile> first = WxProfileFile::Open(profile);
  std::unique_ptr<WxProfileFile> second = WxProfileFile::Open(profile);
  const auto recent = [](WxProfileFile& config, std::vector<const char*> files) {
    for (std::size_t i = 0; i < files.size(); ++i)
      config.Write(wxString::Format(wxS("/Recent File List/file%zu"), i + 1), wxString(files[i]));
  };
  recent(*first, {"/p/a.gfproj", "/p/old1.gfproj", "/p/old2.gfproj"});
  first->Write(wxS("/Workflow/Collapsed2"), 5L);
  ASSERT_TRUE(first->Flush());
  recent(*second, {"/p/b.gfproj", "/p/old1.gfproj", "/p/old2.gfproj"});
  second->Write(wxS("/Log/Detailed"), 1L);
  ASSERT_TRUE(second->Flush());
  // The first window changes one more setting: what the second wrote stays.
  first->Write(wxS("/Workflow/Collapsed2"), 6L);
  ASSERT_TRUE(first->Flush());

  std::unique_ptr<WxProfileFile> reopened = WxProfileFile::Open(profile);
  const char* expected[] = {"/p/b.gfproj", "/p/a.gfproj", "/p/old1.gfproj", "/p/old2.gfproj"};
  for (std::size_t i = 0; i < std::size(expected); ++i)
    EXPECT_EQ(reopened->Read(wxString::Format(wxS("/Recent File List/file%zu"), i + 1), wxString()),
              wxString(expected[i])) << i;
  EXPECT_EQ(reopened->ReadLong(wxS("/Workflow/Collapsed2"), 0), 6);
  EXPECT_EQ(reopened->ReadLong(wxS("/Log/Detailed"), 0), 1);
}

}  // namespace
}  // namespace grainforge::app
