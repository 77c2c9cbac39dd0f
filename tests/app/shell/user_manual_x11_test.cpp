// Help > User Manual through the real window: the command finds the manual beside the program
// and hands it to the desktop, or says in the log and the information box that it is missing.
#include "app/shell/application_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "app/document/user_folders.h"
#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/shell/scripted_prompter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;

bool LogHas(const CMainFrame& frame, const std::wstring& text) {
  const OutputLogModel& model = frame.OutputPane()->Model();
  for (std::size_t i = 0; i < model.Size(); ++i)
    if (model.Entry(i).text == text) return true;
  return false;
}

// The program with its profile in a temporary folder and a desktop that only records, or the
// program's own desktop launcher (xdg-open from PATH).
class ManualProgram {
public:
  explicit ManualProgram(bool ownLauncher = false) {
    setenv("HOME", folder_.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_.Path() / "config").c_str(), 1);
    StartOptions options;
    options.showSplash = false;
    options.prompter = &prompter_;
    if (!ownLauncher)
      options.openWithDesktop = [this](const std::filesystem::path& file, DesktopOpenEnded) {
        opened_.push_back(file);
        return desktopWorks_;
      };
    started_ = core_.Start(options);
    if (started_) PumpFor(200ms);
  }
  ~ManualProgram() {
    if (core_.Frame() != nullptr) {
      core_.Frame()->Close();
      PumpUntil([this] { return core_.Frame() == nullptr; }, 5000ms);
    }
    core_.Shutdown();
  }

  void ChooseUserManual() {
    CMainFrame& frame = *core_.Frame();
    wxCommandEvent event(wxEVT_MENU, frame.Routing().WindowId(menu_ids::kUserManual));
    event.SetEventObject(&frame);
    frame.ProcessWindowEvent(event);
  }

  bool started_ = false;
  bool desktopWorks_ = true;
  std::vector<std::filesystem::path> opened_;
  grainforge::test::TempFolder folder_;
  ScriptedPrompter prompter_;
  CApplicationCore core_;
};

// A manual placed beside this test program for the length of a test.
class ManualBesideTheProgram {
public:
  ManualBesideTheProgram() : path_(GetExecutableFolder() / "Tessary_Manual.pdf") { std::ofstream(path_) << "%PDF-1.4\n"; }
  ~ManualBesideTheProgram() { std::filesystem::remove(path_); }
  const std::filesystem::path& Path() const { return path_; }

private:
  std::filesystem::path path_;
};

TEST(UserManualCommand, WithoutTheManualSaysWhereItShouldBe) {
  std::filesystem::remove(GetExecutableFolder() / "Tessary_Manual.pdf");
  ManualProgram program;
  ASSERT_TRUE(program.started_);
  program.ChooseUserManual();
  const std::wstring message =
      L"The manual is not beside the program: " + (GetExecutableFolder() / "Tessary_Manual.pdf").wstring();
  EXPECT_TRUE(program.opened_.empty());
  EXPECT_TRUE(LogHas(*program.core_.Frame(), message));
  EXPECT_EQ(program.core_.Frame()->RightPane()->Dialog()->InfoText(), message);
  EXPECT_EQ(program.core_.Frame()->RightPane()->Dialog()->InfoKind(), 1);
}

TEST(UserManualCommand, HandsTheManualToTheDesktopOrSaysItCouldNotOpen) {
  ManualBesideTheProgram manual;
  ManualProgram program;
  ASSERT_TRUE(program.started_);
  program.ChooseUserManual();
  ASSERT_EQ(program.opened_.size(), 1u);
  EXPECT_EQ(program.opened_[0], manual.Path());
  EXPECT_TRUE(program.core_.Frame()->RightPane()->Dialog()->InfoText().empty());

  program.desktopWorks_ = false;
  program.ChooseUserManual();
  const std::wstring message = L"The manual could not be opened: " + manual.Path().wstring();
  EXPECT_EQ(program.opened_.size(), 2u);
  EXPECT_TRUE(LogHas(*program.core_.Frame(), message));
  EXPECT_EQ(program.core_.Frame()->RightPane()->Dialog()->InfoText(), message);
}

// Help > User Manual on a desktop without a PDF reader: a stand-in xdg-open first in PATH says
// what xdg-open says and ends with status 3 a moment later. The window goes on meanwhile, and
// once it has ended the log and the amber box say so with the manual's full path.
TEST(UserManualCommand, ADesktopWithoutAReaderIsToldWithTheManualsPath) {
  ManualBesideTheProgram manual;
  grainforge::test::TempFolder bin;
  grainforge::test::WriteAllText(bin / "xdg-open", "#!/bin/sh\nsleep 0.2\necho \"xdg-open: no method available\" >&2\nexit 3\n");
  std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", (bin.Path().string() + ":" + path).c_str(), 1);
  ManualProgram program(true);
  ASSERT_TRUE(program.started_);
  program.ChooseUserManual();
  setenv("PATH", path.c_str(), 1);
  CRightPaneDialog& info = *program.core_.Frame()->RightPane()->Dialog();
  EXPECT_TRUE(info.InfoText().empty()) << "nothing is known before xdg-open has ended";
  ASSERT_TRUE(PumpUntil([&] { return !info.InfoText().empty(); }, 10000ms));
  const std::wstring said = L"The manual could not be opened: the desktop has no program for PDF files (xdg-open "
                            L"ended with status 3). Open it by hand: " + manual.Path().wstring();
  EXPECT_EQ(info.InfoText(), said);
  EXPECT_EQ(info.InfoKind(), 1);
  EXPECT_TRUE(LogHas(*program.core_.Frame(), said));
}

}  // namespace
}  // namespace grainforge::app
