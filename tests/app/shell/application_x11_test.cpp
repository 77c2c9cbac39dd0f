// The whole program in this test process: the application core starts with a profile in a
// temporary XDG folder and answers its questions from a script, so nothing waits on a person.
#include "app/shell/application_core.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <wx/accel.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"
#include "app/shell/app_toolbar_pane.h"
#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/shell/scripted_prompter.h"
#include "app/shell/startup_timer.h"
#include "app/shell/view_placeholder.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wx/wx_test_pump.h"

namespace grainforge::app {
namespace {

using namespace std::chrono_literals;
using tessary::test::PumpFor;
using tessary::test::PumpUntil;
using tessary::test::WindowShot;

int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

std::vector<std::wstring> LogLines(const CMainFrame& frame) {
  std::vector<std::wstring> lines;
  const OutputLogModel& model = frame.OutputPane()->Model();
  for (std::size_t i = 0; i < model.Size(); ++i) lines.push_back(model.Entry(i).text);
  return lines;
}

bool LogHas(const CMainFrame& frame, const std::wstring& text) {
  const std::vector<std::wstring> lines = LogLines(frame);
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

std::string ShotPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tessary_" + name + ".png")).string();
}

// The program, started in this process with HOME and XDG_CONFIG_HOME in a temporary folder.
class Program {
public:
  explicit Program(bool detailedLog) {
    setenv("HOME", folder_.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_.Path() / "config").c_str(), 1);
    std::filesystem::create_directories(folder_.Path() / "config" / "Brookvane");
    std::ofstream(folder_.Path() / "config" / "Brookvane" / "Tessary.conf")
        << "[Log]\nDetailed=" << (detailedLog ? 1 : 0) << "\n";
    StartOptions options;
    options.showSplash = false;
    options.prompter = &prompter_;
    core_ = std::make_unique<CApplicationCore>();
    started_ = core_->Start(options);
    if (started_) {
      core_->Frame()->SetSize(40, 40, 1400, 900);
      PumpFor(300ms);
    }
  }
  ~Program() {
    if (core_->Frame() != nullptr) {
      prompter_.ExpectMessage(MessageAnswer::No);
      core_->Frame()->Close();
      PumpUntil([this] { return core_->Frame() == nullptr; }, 5000ms);
      PumpFor(50ms);
    }
    core_->Shutdown();
  }

  bool Started() const { return started_; }
  CApplicationCore& Core() { return *core_; }
  CMainFrame& Frame() { return *core_->Frame(); }
  CGrainforgeDoc& Document() { return *core_->Document(); }
  ScriptedPrompter& Prompter() { return prompter_; }
  const grainforge::test::TempFolder& Folder() const { return folder_; }

  // A menu command as the menu or its accelerator sends it.
  void SendMenu(int commandId) {
    wxCommandEvent event(wxEVT_MENU, Frame().Routing().WindowId(commandId));
    event.SetEventObject(&Frame());
    Frame().ProcessWindowEvent(event);
  }
  std::wstring StatusText(int pane) { return Frame().GetStatusBar()->GetStatusText(pane).ToStdWstring(); }

private:
  grainforge::test::TempFolder folder_;
  ScriptedPrompter prompter_;
  std::unique_ptr<CApplicationCore> core_;
  bool started_ = false;
};

// A run that reports the displacement stage at half way until it is told to stop.
void GiveARunThatWaitsForStop(CGrainforgeDoc& document) {
  document.pipeline.SetRunForTesting([](grainforge::mesh::PipelineStages&,
                                        const grainforge::mesh::ProgressCallback& progress) {
    while (progress("Displacing", 0.5f)) std::this_thread::sleep_for(2ms);
    return false;
  });
}

void GiveATexture(CGrainforgeDoc& document) {
  const std::vector<std::string> names = grainforge::mesh::procedural::ProceduralTextureNames();
  ASSERT_FALSE(names.empty());
  document.RenderProceduralTexture(grainforge::mesh::procedural::CreateProceduralTexture(names.front()), L"");
  ASSERT_TRUE(document.IsHeightMapLoaded());
}

TEST(Program, StartsWithThePanesAtTheirDesignSizesAndSaysItIsReady) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  CMainFrame& frame = program.Frame();
  EXPECT_EQ(frame.GetTitle(), wxS("Untitled - Tessary"));
  EXPECT_EQ(frame.LeftPane()->GetSize().x, 340);
  EXPECT_EQ(frame.RightHost()->GetSize().x, 240);
  EXPECT_EQ(frame.OutputHost()->GetSize().y, 130);
  EXPECT_EQ(frame.ToolbarPane()->GetSize().y, frame.ToolbarPane()->FixedHeight());
  // The output log spans from the workflow pane to the right edge, under the view and the
  // information pane.
  EXPECT_EQ(frame.OutputHost()->GetPosition().x, 340);
  EXPECT_EQ(frame.OutputHost()->GetSize().x, frame.GetClientSize().x - 340);
  EXPECT_GT(frame.CentreView()->GetSize().x, 0);

  wxStatusBar* bar = frame.GetStatusBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->GetFieldsCount(), kStatusPaneCount);
  EXPECT_EQ(bar->GetStatusWidth(1), 170);
  EXPECT_EQ(bar->GetStatusWidth(2), 130);
  EXPECT_EQ(bar->GetStatusWidth(3), 150);
  EXPECT_FALSE(frame.ProgressGauge()->IsShown());
  EXPECT_EQ(frame.ProgressGauge()->GetRange(), 1000);
  // Scroll Lock cannot be read under X: its pane stays blank.
  EXPECT_EQ(program.StatusText(6), L"");

  const std::vector<std::wstring> lines = LogLines(frame);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"Output log ready.");
  EXPECT_EQ(lines[1], L"Tessary ready.");
  // With the detailed log off, the first idle pass adds no report.
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_FALSE(program.Core().IsDetailedLogOn());
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("started")));
}

TEST(Program, LogsTheStartUpReportInPhaseOrderWithTheDetailedLogOn) {
  const std::size_t before = StartupPhases().size();
  Program program(true);
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(PumpUntil([&] { return LogLines(program.Frame()).size() > 3; }));
  const std::vector<std::wstring> lines = LogLines(program.Frame());
  EXPECT_EQ(lines[0], L"Output log ready.");
  EXPECT_EQ(lines[1], L"Tessary ready.");
  EXPECT_EQ(lines[2], L"Start-up (ms since the process was created, and the phase's own share):");
  EXPECT_EQ(lines.back(), L"");

  std::vector<std::string> names;
  const std::vector<StartupPhase> phases = StartupPhases();
  for (std::size_t i = before; i < phases.size(); ++i) names.push_back(phases[i].name);
  const std::vector<std::string> expected = {
      "InitInstance entered (the DLLs loaded)",
      "GDI+, common controls, CWinAppEx",
      "OLE, profile, menus, tooltips, the document template",
      "  the frame window",
      "  the menu bar and the status bar",
      "  the toolbar",
      "  the left pane (the workflow)",
      "  the output and right panes",
      "  docking and the visual manager",
      "the main window, its panes and the view made (ProcessShellCommand)",
      "shown and painted once",
      "first idle: ready"};
  EXPECT_EQ(names, expected);
  // One report line per phase of the whole process, each ending in its name.
  for (const std::string& name : expected) {
    const std::wstring wide(name.begin(), name.end());
    const bool found = std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
      return line.size() >= wide.size() && line.compare(line.size() - wide.size(), wide.size(), wide) == 0;
    });
    EXPECT_TRUE(found) << name;
  }
}

TEST(Program, DetailedLogToggledTwiceLeavesTheProfileAsItWasAndLogsBoth) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  program.SendMenu(menu_ids::kDetailedLog);
  EXPECT_TRUE(program.Core().IsDetailedLogOn());
  std::ifstream on(program.Core().ProfilePath());
  const std::string profileOn((std::istreambuf_iterator<char>(on)), std::istreambuf_iterator<char>());
  EXPECT_NE(profileOn.find("Detailed=1"), std::string::npos) << profileOn;
  program.SendMenu(menu_ids::kDetailedLog);
  EXPECT_FALSE(program.Core().IsDetailedLogOn());
  std::ifstream off(program.Core().ProfilePath());
  const std::string profileOff((std::istreambuf_iterator<char>(off)), std::istreambuf_iterator<char>());
  EXPECT_NE(profileOff.find("Detailed=0"), std::string::npos) << profileOff;
  EXPECT_TRUE(LogHas(program.Frame(), L"Detailed log on: every step reports its timings and counts from now on."));
  EXPECT_TRUE(LogHas(program.Frame(), L"Detailed log off."));
}

TEST(Program, TestCubeThenProcessShowsProgressAndEscapeStopsIt) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  CMainFrame& frame = program.Frame();
  program.SendMenu(menu_ids::kTestCube);
  ASSERT_TRUE(program.Document().HasPart());
  EXPECT_EQ(frame.GetTitle(), wxS("Test Cube - Tessary"));
  EXPECT_TRUE(LogHas(frame, L"Test cube: 20 mm, 12 triangles."));
  GiveATexture(program.Document());
  GiveARunThatWaitsForStop(program.Document());
  PumpFor(100ms);
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("before_run")));
  EXPECT_TRUE(WindowShot::Save(frame.GetStatusBar(), ShotPath("before_run_status")));

  // F5 is in the window's accelerator table and runs Process.
  wxKeyEvent f5(wxEVT_KEY_DOWN);
  f5.m_keyCode = WXK_F5;
  const int processId = frame.GetAcceleratorTable()->GetCommand(f5);
  ASSERT_EQ(processId, frame.Routing().WindowId(menu_ids::kProcess));
  program.SendMenu(menu_ids::kProcess);
  ASSERT_TRUE(program.Document().pipeline.IsRunning());

  // The status bar follows the run from the 50 ms timer, with no input and no idle requests.
  const std::wstring running = L"Displacing... 50%   -  Mesh > Stop, or Escape, to cancel";
  ASSERT_TRUE(PumpUntil([&] { return program.StatusText(0) == running; })) << program.StatusText(0);
  EXPECT_TRUE(program.Core().IsPollTimerRunning());
  EXPECT_TRUE(frame.ProgressGauge()->IsShown());
  EXPECT_EQ(frame.ProgressGauge()->GetValue(), 500);
  // The bar sits in the "Progress" pane, 2 px inside it.
  wxRect progressField;
  ASSERT_TRUE(frame.GetStatusBar()->GetFieldRect(1, progressField));
  EXPECT_EQ(frame.ProgressGauge()->GetRect(), progressField.Deflate(2));
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("during_run")));
  EXPECT_TRUE(WindowShot::Save(frame.GetStatusBar(), ShotPath("during_run_status")));

  // Escape in a text field belongs to the field: the run goes on.
  wxTextCtrl* field = frame.RightPane()->Dialog()->ReportBox();
  EXPECT_FALSE(frame.HandleKeyHook(WXK_ESCAPE, 0, field));
  PumpFor(100ms);
  EXPECT_TRUE(program.Document().pipeline.IsRunning());
  // Anywhere else it stops the run.
  EXPECT_TRUE(frame.HandleKeyHook(WXK_ESCAPE, 0, frame.CentreView()));
  ASSERT_TRUE(PumpUntil([&] { return !program.Document().pipeline.IsRunning(); }));
  ASSERT_TRUE(PumpUntil([&] { return program.StatusText(0).empty(); }));
  EXPECT_FALSE(frame.ProgressGauge()->IsShown());
  EXPECT_FALSE(program.Core().IsPollTimerRunning());
  EXPECT_TRUE(LogHas(frame, L"Stopped. The part is as it was; Process runs the rest when asked."));
  EXPECT_TRUE(WindowShot::Save(&frame, ShotPath("after_run")));
  EXPECT_TRUE(WindowShot::Save(frame.GetStatusBar(), ShotPath("after_run_status")));
  // Without a run Escape is not the frame's.
  EXPECT_FALSE(frame.HandleKeyHook(WXK_ESCAPE, 0, frame.CentreView()));
}

// The fault: bare Home, F and Escape translated by the window before the focused control.
TEST(Program, HomeAndFReachTheViewOnlyAndNeverLeaveATextField) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  CMainFrame& frame = program.Frame();
  for (int key : {int('F'), int(WXK_HOME), int(WXK_ESCAPE), int('C'), int('V')}) {
    wxKeyEvent event(wxEVT_KEY_DOWN);
    event.m_keyCode = key;
    EXPECT_EQ(frame.GetAcceleratorTable()->GetCommand(event), -1) << key;
    event.m_controlDown = true;
    if (key == 'C' || key == 'V') {
      EXPECT_EQ(frame.GetAcceleratorTable()->GetCommand(event), -1) << key;
    }
  }
  int fits = 0;
  auto* view = dynamic_cast<CViewPlaceholder*>(frame.CentreView());
  ASSERT_NE(view, nullptr);
  CommandTable table = view->Commands();
  table.push_back({menu_ids::kResetFit, [&] { ++fits; }, {}});
  program.Core().Router().SetTable(CommandLayer::View, table);
  for (int key : {int('F'), int(WXK_HOME)}) {
    wxKeyEvent event(wxEVT_KEY_DOWN);
    event.m_keyCode = key;
    event.SetEventObject(view);
    view->ProcessWindowEvent(event);
  }
  EXPECT_EQ(fits, 2);
}

// Desktop conventions: Ctrl+Q quits as Exit does, and a command that can never run here (the
// repair service of another system) is not in the menus at all.
TEST(Program, CtrlQQuitsAndAnUnavailableRepairIsNotInTheMenu) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  CMainFrame& frame = program.Frame();
  wxMenuBar* bar = frame.GetMenuBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->FindItem(frame.Routing().WindowId(menu_ids::kExit))->GetItemLabel().ToStdWstring(),
            L"E&xit\tCtrl+Q");
  EXPECT_EQ(bar->FindItem(frame.Routing().WindowId(kCmdRepairWithWindows)), nullptr);
  EXPECT_EQ(bar->FindMenuItem("&Mesh", "Repair with &Windows"), wxNOT_FOUND);
  EXPECT_NE(bar->FindMenuItem("&Mesh", "&Repair"), wxNOT_FOUND);

  wxKeyEvent quit(wxEVT_KEY_DOWN);
  quit.m_keyCode = 'Q';
  quit.m_controlDown = true;
  const int command = frame.GetAcceleratorTable()->GetCommand(quit);
  ASSERT_EQ(command, frame.Routing().WindowId(menu_ids::kExit));
  wxCommandEvent event(wxEVT_MENU, command);
  event.SetEventObject(&frame);
  frame.ProcessWindowEvent(event);
  EXPECT_TRUE(PumpUntil([&program] { return program.Core().Frame() == nullptr; }, 5000ms));
}

TEST(Program, DroppedFilesOpenThePartAndNameWhatWasLeftAlone) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  const std::filesystem::path part = program.Folder() / "drop.stl";
  {
    // An ASCII STL of one triangle.
    std::ofstream stl(part);
    stl << "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
           "endloop\nendfacet\nendsolid t\n";
  }
  program.Frame().OpenDroppedFiles({program.Folder() / "notes.txt", part, program.Folder() / "a.pdf",
                                    program.Folder() / "second.STL"});
  EXPECT_TRUE(program.Document().HasPart());
  EXPECT_EQ(program.Document().GetPathName(), part);
  const std::wstring message = L"Not a part, a project or an image, so left alone: notes.txt, a.pdf";
  EXPECT_TRUE(LogHas(program.Frame(), message));
  EXPECT_EQ(program.Frame().RightPane()->Dialog()->InfoText(), message);
  EXPECT_EQ(program.Frame().RightPane()->Dialog()->InfoKind(), 1);
}

// The names GTK shows for the types of a real file dialog made from the prompt's filters.
// (GTK's functions are looked up in the running program: the toolkit's headers are not needed.)
struct GtkListNode {
  void* data;
  GtkListNode* next;
};

std::vector<std::string> GtkFilterNames(const FilePrompt& prompt) {
  using ListFilters = GtkListNode* (*)(void*);
  using FilterName = const char* (*)(void*);
  using FreeList = void (*)(GtkListNode*);
  const auto list = reinterpret_cast<ListFilters>(dlsym(RTLD_DEFAULT, "gtk_file_chooser_list_filters"));
  const auto name = reinterpret_cast<FilterName>(dlsym(RTLD_DEFAULT, "gtk_file_filter_get_name"));
  const auto release = reinterpret_cast<FreeList>(dlsym(RTLD_DEFAULT, "g_slist_free"));
  std::vector<std::string> names;
  if (list == nullptr || name == nullptr || release == nullptr) return names;
  wxFileDialog dialog(nullptr, "t", "", "", wxString(MakeDialogWildcard(prompt.filters)), wxFD_OPEN);
  GtkListNode* filters = list(dialog.GetHandle());
  for (GtkListNode* item = filters; item != nullptr; item = item->next) names.emplace_back(name(item->data));
  release(filters);
  return names;
}

// File dialogs open at home, then where the part is, then where that kind of file was last
// chosen; never in the folder the tests were started from. Their types read as they should.
TEST(Program, FileDialogsOpenWhereTheUserLastWas) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  const std::filesystem::path parts = program.Folder() / "parts";
  std::filesystem::create_directories(parts);
  {
    std::ofstream stl(parts / "tri.stl");
    stl << "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
           "endloop\nendfacet\nendsolid t\n";
  }
  ScriptedPrompter& prompter = program.Prompter();
  prompter.ExpectFile(parts / "tri.stl");
  program.SendMenu(menu_ids::kOpenStl);
  ASSERT_EQ(prompter.FilePrompts().size(), 1u);
  EXPECT_EQ(prompter.FilePrompts()[0].folder, program.Folder().Path());
  EXPECT_EQ(GtkFilterNames(prompter.FilePrompts()[0]),
            (std::vector<std::string>{"STL Files (*.stl)", "All Files (*.*)"}));
  ASSERT_TRUE(program.Document().HasPart());

  prompter.ExpectFile(std::nullopt);
  program.SendMenu(kCmdLoadTextureFromDisk);
  ASSERT_EQ(prompter.FilePrompts().size(), 2u);
  EXPECT_EQ(prompter.FilePrompts()[1].folder, parts);

  prompter.ExpectFile(std::nullopt);
  program.SendMenu(menu_ids::kOpenStl);
  ASSERT_EQ(prompter.FilePrompts().size(), 3u);
  EXPECT_EQ(prompter.FilePrompts()[2].folder, parts);
}

// Answering "Yes" to saving must not lose the work when the save does not happen.
TEST(Program, CloseKeepsTheWindowWhenTheChangesWereNotSaved) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  program.SendMenu(menu_ids::kTestCube);
  program.Document().SetModifiedFlag(true);  // as any edit leaves it
  program.Prompter().ExpectMessage(MessageAnswer::Yes);
  program.Frame().Close();
  PumpFor(100ms);
  ASSERT_NE(program.Core().Frame(), nullptr);
  EXPECT_EQ(program.Prompter().Messages().back().text, L"Save changes to Test Cube?");
  EXPECT_TRUE(LogHas(program.Frame(), L"The changes to Test Cube were not saved, so they are kept open."));
  // Cancel keeps it too, silently.
  program.Prompter().ExpectMessage(MessageAnswer::Cancel);
  program.Frame().Close();
  PumpFor(100ms);
  EXPECT_NE(program.Core().Frame(), nullptr);
}

// Starts the program, starts a run that only a stop ends, and closes the main window.
void RunAndCloseWithARunGoing() {
  Program program(false);
  ASSERT_TRUE(program.Started());
  program.SendMenu(menu_ids::kTestCube);
  GiveATexture(program.Document());
  GiveARunThatWaitsForStop(program.Document());
  program.SendMenu(menu_ids::kProcess);
  ASSERT_TRUE(program.Document().pipeline.IsRunning());
  ASSERT_TRUE(PumpUntil([&] { return !program.StatusText(0).empty(); }));
  // Closing asks about the changes; "No" closes.
  program.Document().SetModifiedFlag(true);
  program.Prompter().ExpectMessage(MessageAnswer::No);
  program.Frame().Close();
  ASSERT_TRUE(PumpUntil([&] { return program.Core().Frame() == nullptr; }, 5000ms));
  program.Core().Shutdown();
  EXPECT_EQ(program.Core().Document(), nullptr);
}

TEST(Program, ExitsWithARunGoingAndLeavesNoThreadBehind) {
  // The first round lets GTK, D-Bus and the parallel algorithms start the threads they keep for
  // the life of the process; the second must end with no more than that.
  RunAndCloseWithARunGoing();
  PumpFor(100ms);
  const int threadsBefore = ThreadCount();
  RunAndCloseWithARunGoing();
  PumpFor(100ms);
  EXPECT_LE(ThreadCount(), threadsBefore);
}

// A signal or a command can close the main window before its first idle pass, which is what
// takes the splash down: the splash must go with the window, or it keeps the program running.
TEST(Program, ClosedBeforeItsFirstIdlePassTakesTheSplashAlong) {
  grainforge::test::TempFolder folder;
  setenv("HOME", folder.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder.Path() / "config").c_str(), 1);
  const auto shownWindows = [] {
    return std::count_if(wxTopLevelWindows.begin(), wxTopLevelWindows.end(),
                         [](wxWindow* window) { return window->IsShown() && !window->IsBeingDeleted(); });
  };
  const auto before = shownWindows();
  ScriptedPrompter prompter;
  StartOptions options;
  options.prompter = &prompter;
  CApplicationCore core;
  ASSERT_TRUE(core.Start(options));
  ASSERT_EQ(shownWindows(), before + 2) << "the splash picture was not found beside the test";
  core.Frame()->Close();
  ASSERT_TRUE(PumpUntil([&] { return core.Frame() == nullptr; }, 5000ms));
  PumpFor(100ms);
  EXPECT_EQ(shownWindows(), before);
  core.Shutdown();
}

}  // namespace
}  // namespace grainforge::app
