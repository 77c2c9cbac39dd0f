// File names in any script, and in bytes that are not UTF-8, on the window side: the one
// conversion between wx's text and paths, texts for controls, dropped files, the dialogs'
// names, and a command that throws.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/document/log_text.h"
#include "app/shell/command_router.h"
#include "app/shell/frame_logic.h"
#include "app/shell/kit/wx_file_names.h"
#include "app/shell/shell_host.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

struct NameCase {
  const char* bytes;
  const wchar_t* wxForm;   // what wx's file-name conversion makes of the bytes
  const wchar_t* display;  // what a person sees
};

const NameCase kNames[] = {
    {"/home/u/\xC3\x9C" "bung.stl", L"/home/u/\x00DC" L"bung.stl", L"/home/u/\x00DC" L"bung.stl"},
    {"/\xE9\x83\xA8\xE5\x93\x81.png", L"/\x90E8\x54C1.png", L"/\x90E8\x54C1.png"},
    {"/\xF0\x9F\xA7\xB1.gfproj", L"/\x1F9F1.gfproj", L"/\x1F9F1.gfproj"},
    {"/tmp/part\xFF.stl", L"/tmp/part\x1000FF.stl", L"/tmp/part\xFFFD.stl"},
};

TEST(WxFileNames, NamesInAnyBytesRoundTripThroughWxText) {
  for (const NameCase& c : kNames) {
    const fs::path path(c.bytes);
    const wxString text = WxStringFromPath(path);
    EXPECT_EQ(text.ToStdWstring(), c.wxForm) << c.bytes;
    EXPECT_EQ(PathFromWxString(text), path) << c.bytes;
    // The document's form of the same name converts the same way.
    EXPECT_EQ(PathFromWxString(wxString(PathToWide(path))), path) << c.bytes;
    // Shown in a control: the person's text, valid UTF-8 for GTK, never emptied.
    const wxString shown = WxDisplayText(PathToWide(path));
    EXPECT_EQ(shown.ToStdWstring(), c.display) << c.bytes;
    EXPECT_EQ(std::string(shown.utf8_str()), WideToUtf8(c.display)) << c.bytes;
  }
}

// Dropped files, the manual's message and the dialogs' first names carry such names without
// throwing, shown as a person reads them.
TEST(WxFileNames, DroppedFilesMessagesAndDialogNamesTakeSuchNames) {
  for (const NameCase& c : kNames) {
    const fs::path path = fs::path(c.bytes).replace_extension(".txt");
    const DroppedFiles dropped = ClassifyDroppedFiles({path, fs::path(c.bytes)});
    ASSERT_EQ(dropped.leftAlone.size(), 1u) << c.bytes;
    EXPECT_EQ(dropped.leftAlone[0], PathToDisplay(path.filename()));
    EXPECT_EQ(ManualFailureMessage(path, false), L"The manual is not beside the program: " + PathToDisplay(path));

    const FilePrompt prompt = ToFilePrompt({L"Save", L"STL|*.stl||", PathToWide(fs::path(c.bytes)), L"stl"});
    EXPECT_EQ(prompt.folder, fs::path(c.bytes).parent_path());
    EXPECT_EQ(PathFromWide(prompt.fileName), fs::path(c.bytes).filename());
  }
}

// A command that throws stops at the router: the failure is reported with its text and the
// other commands go on working.
TEST(CommandRouter, ACommandThatThrowsIsReportedAndStopsThere) {
  CommandRouter router;
  std::vector<std::string> failures;
  router.SetFailureHandler(
      [&](int id, const std::string& what) { failures.push_back(std::to_string(id) + " " + what); });
  int ran = 0;
  router.SetTable(CommandLayer::Document,
                  {CommandEntry{1,
                                [] { throw fs::filesystem_error("Cannot convert character sequence", std::error_code()); },
                                nullptr},
                   CommandEntry{2, [] { throw 7; }, nullptr}, CommandEntry{3, [&] { ++ran; }, nullptr}});
  EXPECT_EQ(router.Execute(1), CommandOutcome::Failed);
  EXPECT_EQ(router.Execute(2), CommandOutcome::Failed);
  EXPECT_EQ(router.Execute(3), CommandOutcome::Executed);
  EXPECT_FALSE(router.ExecuteCommand(1));
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0].rfind("1 filesystem error: Cannot convert character sequence", 0), 0u) << failures[0];
  EXPECT_EQ(failures[1], "2 an unknown error");
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace grainforge::app
