// The whole program in this test process: the application core starts with a profile in a
// temporary XDG folder and answers its questions from a script, so nothing waits on a person.
#include "app/shell/application_core.h"
// Before Xlib, whose None macro would take the place of LibraryItemOrigin::None.
#include "app/document/preset_files.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/shell/app_toolbar_pane.h"
#include "app/shell/info_pane.h"
#include "app/shell/main_frame.h"
#include "app/shell/menu_ids.h"
#include "app/shell/output_wnd.h"
#include "app/shell/scripted_prompter.h"
#include "app/shell/shell_host.h"
#include "app/shell/startup_timer.h"
#include "app/shell/view_placeholder.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "platform/shown_text.h"
#include "tests/support/non_regular_files.h"
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
std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class Program {
public:
  // `homeName`: a folder of the temporary folder to be the home instead of the folder itself;
  // `logFile`: as --log-file names it.
  explicit Program(bool detailedLog, const std::string& homeName = {}, const std::filesystem::path& logFile = {})
      : home_(homeName.empty() ? folder_.Path() : folder_.Path() / std::filesystem::path(homeName)) {
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    std::filesystem::create_directories(home_ / "config" / "Brookvane");
    const std::filesystem::path profile = home_ / "config" / "Brookvane" / "Tessary.conf";
    // The logs an earlier run in the same home wrote in the program's folders stay its own.
    const std::string profileBefore = ReadText(profile), written = "[Log/Written]";
    const std::size_t marks = profileBefore.find(written);
    std::ofstream(profile) << "[Log]\nDetailed=" << (detailedLog ? 1 : 0) << "\n"
                           << (marks == std::string::npos ? "" : profileBefore.substr(marks, profileBefore.find("\n[", marks) - marks));
    StartOptions options;
    options.showSplash = false;
    options.prompter = &prompter_;
    options.logFile = logFile;
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
  const std::filesystem::path& Home() const { return home_; }

  // A menu command as the menu or its accelerator sends it.
  void SendMenu(int commandId) {
    wxCommandEvent event(wxEVT_MENU, Frame().Routing().WindowId(commandId));
    event.SetEventObject(&Frame());
    Frame().ProcessWindowEvent(event);
  }
  std::wstring StatusText(int pane) { return Frame().GetStatusBar()->GetStatusText(pane).ToStdWstring(); }

private:
  grainforge::test::TempFolder folder_;
  std::filesystem::path home_;
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

// An ASCII STL of one triangle.
void WriteTriangleStl(const std::filesystem::path& path) {
  std::ofstream stl(path);
  stl << "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
         "endloop\nendfacet\nendsolid t\n";
}

// A 16 x 16 PNG: a grey ramp, or the flat blue of a normal map.
void WritePng(const std::filesystem::path& path, bool normalMap) {
  wxImage image(16, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const auto grey = static_cast<unsigned char>(x * 16);
      if (normalMap) image.SetRGB(x, y, 128, 128, 255);
      else image.SetRGB(x, y, grey, grey, grey);
    }
  }
  ASSERT_TRUE(image.SaveFile(wxString(path.wstring()), wxBITMAP_TYPE_PNG));
}

// Files dropped on the main window, as the window system delivers them.
void DropOnFrame(CMainFrame& frame, const std::vector<std::filesystem::path>& paths) {
  // The event owns the array it is given.
  auto* names = new wxString[paths.size()];
  for (std::size_t i = 0; i < paths.size(); ++i) names[i] = wxString(paths[i].wstring());
  wxDropFilesEvent event(wxEVT_DROP_FILES, static_cast<int>(paths.size()), names);
  event.SetEventObject(&frame);
  frame.ProcessWindowEvent(event);
}

constexpr const wchar_t* kSaveProjectQuestion =
    L"Save the project before going on?\n\nIt keeps the part, the texture, its placement, the masks and every setting.";

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
  const std::wstring running = L"Displacing... 50%   -  Mesh > Stop Processing, or Escape, to cancel";
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

// A named pipe, a folder or a device as the log's file, on every road that writes the log:
// --log-file after start-up and at exit, and Save As. Each is refused at once, saying why, and left
// as it was; a write that waits on the pipe (its open held the program at the end of start-up and
// again at exit) ends in the test's timeout.
TEST(Program, ALogFileThatIsNoRegularFileIsRefusedOnEveryRoadWithoutWaiting) {
  grainforge::test::TempFolder folder;
  for (const grainforge::test::NonRegularFile& target : grainforge::test::MakeNonRegularFiles(folder.Path(), "log")) {
    SCOPED_TRACE(target.kind);
    const std::filesystem::file_type before = std::filesystem::symlink_status(target.path).type();
    {
      Program program(false, {}, target.path);
      ASSERT_TRUE(program.Started());
      const std::wstring reason = kLogTargetNotRegularFile;
      EXPECT_TRUE(PumpUntil([&] {
        const std::wstring refused = L"The log could not be written to " + PathToDisplay(target.path) + L": " + reason;
        return LogHas(program.Frame(), refused);
      }));
      COutputWnd& pane = *program.Frame().OutputPane();
      pane.SetSavePathAsker(
          [&](const std::wstring&, const std::wstring&) { return std::optional(target.path.wstring()); });
      std::wstring reported;
      pane.SetErrorReporter([&](const std::wstring& message) { reported = message; });
      pane.SaveOutputLog();
      EXPECT_EQ(reported, L"The log could not be saved: " + reason);
    }
    EXPECT_EQ(std::filesystem::symlink_status(target.path).type(), before);
  }
}

// `tessary -l part.stl part.stl` replaced the part with its log. The log is refused there,
// saying why, and the part stays as it was; the log written at exit holds the whole session,
// also the lines before the pane was emptied for a Process.
TEST(Program, TheLogFileNeverReplacesAPartAndKeepsTheWholeSession) {
  grainforge::test::TempFolder folder;
  const std::filesystem::path part = folder / "part.stl";
  std::ofstream(part) << "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                         "endloop\nendfacet\nendsolid t\n";
  const std::vector<std::uint8_t> partBytes = grainforge::test::ReadAllBytes(part);
  const std::filesystem::path log = folder / "log.txt";
  const std::wstring leftAlone = L"Not a part, a project or an image, so left alone: notes.txt";
  {
    Program program(false, {}, part);
    ASSERT_TRUE(program.Started());
    const std::wstring refused = L"The log could not be written to " + PathToDisplay(part) +
                                 L": its name (.stl) marks it as a part, which the log never replaces";
    EXPECT_TRUE(PumpUntil([&] { return LogHas(program.Frame(), refused); }));
    program.Frame().OpenDroppedFiles({part});
    EXPECT_TRUE(program.Document().HasPart());
  }
  EXPECT_EQ(grainforge::test::ReadAllBytes(part), partBytes);
  {
    Program program(false, {}, log);
    ASSERT_TRUE(program.Started());
    program.Frame().OpenDroppedFiles({folder / "notes.txt"});
    EXPECT_TRUE(LogHas(program.Frame(), leftAlone));
    program.Document().Host().log->Clear();  // as Process starts
    EXPECT_FALSE(LogHas(program.Frame(), leftAlone));
  }
  const std::vector<std::uint8_t> bytes = grainforge::test::ReadAllBytes(log);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(WideToUtf8(leftAlone)), std::string::npos);
  // An STL saved under the log's name during the session is kept when the program ends.
  std::vector<std::uint8_t> saved;
  {
    Program program(false, {}, log);
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(PumpUntil([&] { return grainforge::test::ReadAllBytes(log) != bytes; }));
    CGrainforgeDoc::ExportPlan plan;
    plan.mesh = grainforge::mesh::MakeTestCube(10.0f);
    ASSERT_TRUE(program.Document().WriteStl(log, false, plan));
    saved = grainforge::test::ReadAllBytes(log);
  }
  EXPECT_EQ(grainforge::test::ReadAllBytes(log), saved);
  // The log's folder made after its first write failed, and a file of the user's put there: the
  // log at exit replaced it, as nothing it had written was there to compare with.
  const std::filesystem::path later = folder / "later" / "log.txt";
  {
    Program program(false, {}, later);
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(PumpUntil([&] {
      const std::vector<std::wstring> lines = LogLines(program.Frame());
      return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.starts_with(L"The log could not be written to " + PathToDisplay(later));
      });
    }));
    std::filesystem::create_directory(later.parent_path());
    grainforge::test::WriteAllText(later, "mine");
  }
  EXPECT_EQ(grainforge::test::ReadAllBytes(later), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
}

// `--log-file ~/.config/Brookvane/Tessary.conf` replaced the settings with the log, and so it
// did the library's lists. They are refused and left as they were; a log the program wrote
// among its files is replaced as any log is.
TEST(Program, TheLogFileNeverReplacesTheProgramsOwnFiles) {
  grainforge::test::TempFolder home;
  const std::filesystem::path library = home / "Documents/Tessary";
  const std::filesystem::path kept[] = {home / "config/Brookvane/Tessary.conf", library / "custom/images.json",
                                        library / "custom/seams.json", library / "textures/Stone/_deleted.index"};
  for (const std::filesystem::path& file : kept) {
    SCOPED_TRACE(file);
    std::filesystem::create_directories(file.parent_path());
    if (file.filename() != "Tessary.conf") grainforge::test::WriteAllText(file, "[]");
    std::vector<std::uint8_t> before;
    {
      Program program(false, home.Path().string(), file);
      ASSERT_TRUE(program.Started());
      before = grainforge::test::ReadAllBytes(file);
      const std::wstring refused = L"The log could not be written to " + PathToDisplay(file) +
                                   L": it is one of the program's own files, which the log never replaces";
      EXPECT_TRUE(PumpUntil([&] { return LogHas(program.Frame(), refused); }));
    }
    const std::vector<std::uint8_t> after = grainforge::test::ReadAllBytes(file);
    EXPECT_EQ(std::string(after.begin(), after.end()).find("Output log ready."), std::string::npos);
    if (file.filename() != "Tessary.conf") {
      EXPECT_EQ(after, before);
    }
  }
  const std::filesystem::path log = library / "custom/log.txt";
  for (int run = 0; run < 2; ++run) {
    Program program(false, home.Path().string(), log);
    ASSERT_TRUE(program.Started());
    program.Frame().Log(L"run " + std::to_wstring(run), 0);
  }
  const std::vector<std::uint8_t> bytes = grainforge::test::ReadAllBytes(log);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("run 1"), std::string::npos);
}

// Across file systems the older user folder's files were copied and the originals kept, so
// every start copied them again and a preset the user deleted came back. They move once: the
// message says they were copied, and what the user deletes stays deleted.
TEST(Program, TheOlderUserFolderMovesOnceAcrossFileSystems) {
  std::string elsewhere = "/dev/shm/tessary-test-XXXXXX";
  if (!std::filesystem::is_directory("/dev/shm") || mkdtemp(elsewhere.data()) == nullptr)
    GTEST_SKIP() << "no second file system to move across";
  struct Cleanup {
    std::filesystem::path path;
    ~Cleanup() { std::filesystem::remove_all(path); }
  } cleanup{elsewhere};
  grainforge::test::TempFolder home;
  const std::filesystem::path old = home / "Documents/Grainforge", young = home / "Documents/Tessary";
  for (const char* name : {"Fine", "Coarse", "Grit"}) {
    std::filesystem::create_directories(old / "procedural/Noise");
    grainforge::test::WriteAllText(old / "procedural/Noise" / (std::string(name) + ".gfpreset"), "{}");
  }
  std::filesystem::create_directory_symlink(elsewhere, young);
  const auto movedLines = [](CMainFrame& frame) {
    std::vector<std::wstring> lines = LogLines(frame);
    std::erase_if(lines, [](const std::wstring& line) { return !line.starts_with(L"Your files moved"); });
    return lines;
  };
  {
    Program program(false, home.Path().string());
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(movedLines(program.Frame()),
              std::vector<std::wstring>{L"Your files moved from " + old.wstring() + L" to " + young.wstring() +
                                        L" (3 files, copied and the originals removed)."});
    const LibraryRoots roots = program.Document().LibraryRootsOfHost();
    for (const PresetFileEntry& entry : ListPresets(roots, "Noise"))
      if (entry.name == "Fine") {
        EXPECT_TRUE(DeletePreset(roots, "Noise", entry).ok);
      }
  }
  {
    Program program(false, home.Path().string());
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(movedLines(program.Frame()), std::vector<std::wstring>{});
  }
  EXPECT_FALSE(std::filesystem::exists(young / "procedural/Noise/Fine.gfpreset"));
  EXPECT_TRUE(std::filesystem::exists(young / "procedural/Noise/Grit.gfpreset"));
  EXPECT_FALSE(std::filesystem::exists(old));
}

// The log's Save As wrote over whatever was chosen. The open part, project and image and a
// preset reached by another name are refused saying what they are and left as they were, and
// the next name is asked for.
TEST(Program, TheLogsSaveAsNeverReplacesAnOpenFileOrAPreset) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  const std::filesystem::path folder = program.Folder().Path(), part = folder / "part.stl", log = folder / "log.txt";
  WriteTriangleStl(part);
  WritePng(folder / "grain.png", false);
  ASSERT_TRUE(program.Core().OpenDocumentFile(part) && program.Document().LoadHeightMap(folder / "grain.png") &&
              program.Document().SaveProject(folder / "job.gfproj"));
  const std::filesystem::path preset = program.Document().LibraryRootsOfHost().back().path / "procedural" / "N" / "R.gfpreset";
  std::filesystem::create_directories(preset.parent_path());
  grainforge::test::WriteAllText(preset, "{}");
  std::filesystem::create_hard_link(preset, folder / "rock.txt");
  const std::filesystem::path images = folder / "Documents/Tessary/custom/images.json";
  std::filesystem::create_directories(images.parent_path());
  grainforge::test::WriteAllText(images, "{\"images\": []}");
  const std::pair<std::filesystem::path, std::wstring> cases[] = {{part, L"it is the part the program has open"},
      {folder / "job.gfproj", L"it is the project the program has open"},
      {folder / "grain.png", L"it is the texture image the program has open"}, {folder / "rock.txt", L"it is a preset file"},
      {folder / "config/Brookvane/Tessary.conf", L"it is one of the program's own files"},
      {images, L"it is one of the program's own files"}};
  COutputWnd& pane = *program.Frame().OutputPane();
  for (const auto& [target, reason] : cases) {
    SCOPED_TRACE(target);
    const std::vector<std::uint8_t> before = grainforge::test::ReadAllBytes(target);
    std::vector<std::wstring> answers{log.wstring(), target.wstring()}, reported;
    pane.SetSavePathAsker([&](const std::wstring&, const std::wstring&) -> std::optional<std::wstring> {
      if (answers.empty()) return std::nullopt;
      const std::wstring next = answers.back();
      answers.pop_back();
      return next;
    });
    pane.SetErrorReporter([&](const std::wstring& message) { reported.push_back(message); });
    pane.SaveOutputLog();
    EXPECT_EQ(reported, std::vector<std::wstring>{L"The log could not be saved: " + reason + L", which the log never replaces"});
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(grainforge::test::ReadAllBytes(target), before);
    EXPECT_TRUE(std::filesystem::remove(log));
  }
}

// Whether a text holds a character that acts rather than shows (platform::IsActingCharacter).
bool HoldsActingCharacter(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(),
                     [](wchar_t c) { return platform::IsActingCharacter(static_cast<char32_t>(c)); });
}

// Names in any script and in bytes that are not UTF-8, as a person meets them: the profile
// under such a home folder, a dropped part and a dropped file left alone, Save Project to such
// a name, and the recent-file list that opens the project again. Every log line stays text a
// window can show; a name holding an escape or a line feed shows them written out, in the
// log, the title bar, the recent-file list and the questions, never raw.
TEST(Program, NamesInAnyBytesOpenSaveAndComeBackThroughTheRecentList) {
  const std::string names[] = {"\xC3\x9C" "bung", "\xE9\x83\xA8\xE5\x93\x81", "\xF0\x9F\xA7\xB1", "part\xFF",
                               "evil\x1B[31mred", "two\nlines\t&"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Program program(false, name + " home");
    ASSERT_TRUE(program.Started());
    CMainFrame& frame = program.Frame();
    const std::filesystem::path part = program.Home() / std::filesystem::path(name + ".stl");
    {
      std::ofstream stl(part);
      stl << "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
             "endloop\nendfacet\nendsolid t\n";
    }
    const std::filesystem::path notes = program.Home() / std::filesystem::path(name + ".txt");
    frame.OpenDroppedFiles({part, notes});
    ASSERT_TRUE(program.Document().HasPart());
    EXPECT_EQ(program.Document().GetPathName(), part);
    EXPECT_TRUE(LogHas(frame, L"Not a part, a project or an image, so left alone: " + PathToDisplay(notes.filename())));

    const std::filesystem::path project = program.Home() / std::filesystem::path(name + ".gfproj");
    program.Prompter().ExpectFile(project);
    program.SendMenu(menu_ids::kSaveProject);
    EXPECT_TRUE(std::filesystem::exists(project));
    EXPECT_EQ(program.Document().GetTitle(), PathToDisplay(project.filename()));
    EXPECT_EQ(frame.GetTitle().ToStdWstring(), PathToDisplay(project.filename()) + L" - Tessary");
    EXPECT_TRUE(LogHas(frame, L"Opening " + PathToDisplay(part)));

    program.SendMenu(menu_ids::kTestCube);
    if (program.Document().IsModified()) program.Prompter().ExpectMessage(MessageAnswer::No);
    wxCommandEvent recent(wxEVT_MENU, wxID_FILE1);
    recent.SetEventObject(&frame);
    frame.ProcessWindowEvent(recent);
    EXPECT_EQ(PathFromWide(program.Document().projectPath), project);
    EXPECT_EQ(PathFromWide(program.Document().partSourcePath), part);
    // The project and its part, each with its folder, as every entry of the list shows it.
    wxMenu* recentMenu = frame.RecentFilesMenu();
    ASSERT_NE(recentMenu, nullptr);
    ASSERT_GE(recentMenu->GetMenuItemCount(), 2u);
    for (const wxMenuItem* item : recentMenu->GetMenuItems()) {
      EXPECT_TRUE(item->GetItemLabelText().AfterFirst(' ').StartsWith(program.Folder().Path().string()))
          << item->GetItemLabelText();
      EXPECT_FALSE(HoldsActingCharacter(item->GetItemLabel().ToStdWstring())) << item->GetItemLabel();
    }
    std::wstring label = L"&1 ";
    for (const wchar_t c : PathToDisplay(project)) label += c == L'&' ? L"&&" : std::wstring(1, c);
    EXPECT_EQ(recentMenu->GetLabel(wxID_FILE1).ToStdWstring(), label);
    EXPECT_EQ(program.Prompter().UnexpectedQuestions(), 0);
    EXPECT_TRUE(std::filesystem::exists(program.Home() / "config" / "Brookvane" / "Tessary.conf"));

    // New with changes asks about them by the project's name as a person reads it.
    program.Document().SetModifiedFlag(true);
    program.Prompter().ExpectMessage(MessageAnswer::No);
    program.SendMenu(menu_ids::kNew);
    EXPECT_EQ(program.Prompter().Messages().back().text,
              L"Save the changes to " + PathToDisplay(project.filename()) + L"?");
    EXPECT_FALSE(program.Document().HasPart());
    for (const std::wstring& line : LogLines(frame)) {
      EXPECT_EQ(DisplayText(line), line);
      EXPECT_FALSE(HoldsActingCharacter(line)) << WideToUtf8(line);
    }
  }
}

// A project reopened from the recent list stays on it while its own file is there, whatever
// kept it from opening (its part moved and not looked for, a folder where its part was); only
// a project that is gone leaves the list, and the message names it and what is in the way.
TEST(Program, RecentListForgetsOnlyAProjectThatIsGone) {
  enum class Change { PartMoved, PartIsAFolder, ProjectFolderRenamed };
  for (const Change change : {Change::PartMoved, Change::PartIsAFolder, Change::ProjectFolderRenamed}) {
    SCOPED_TRACE(static_cast<int>(change));
    Program program(false);
    ASSERT_TRUE(program.Started());
    const std::filesystem::path jobs = program.Folder() / "jobs";
    std::filesystem::create_directories(jobs);
    const std::filesystem::path part = program.Folder() / "block.stl", project = jobs / "job.gfproj";
    WriteTriangleStl(part);
    ASSERT_TRUE(program.Core().OpenDocumentFile(part));
    ASSERT_TRUE(program.Document().SaveProject(project));
    program.SendMenu(menu_ids::kTestCube);
    switch (change) {
      case Change::PartMoved:
        std::filesystem::rename(part, program.Folder() / "moved.stl");
        program.Prompter().ExpectMessage(MessageAnswer::No);  // "Find it?"
        break;
      case Change::PartIsAFolder:
        std::filesystem::remove(part);
        std::filesystem::create_directory(part);
        break;
      case Change::ProjectFolderRenamed: std::filesystem::rename(jobs, program.Folder() / "jobs old"); break;
    }
    if (program.Document().IsModified()) program.Prompter().ExpectMessage(MessageAnswer::No);
    const auto listed = [&] {
      for (const wxMenuItem* item : program.Frame().RecentFilesMenu()->GetMenuItems())
        if (item->GetItemLabelText().Contains(wxString(project.string()))) return true;
      return false;
    };
    ASSERT_TRUE(listed());
    wxCommandEvent recent(wxEVT_MENU, wxID_FILE1);
    recent.SetEventObject(&program.Frame());
    program.Frame().ProcessWindowEvent(recent);
    EXPECT_TRUE(program.Document().projectPath.empty());
    EXPECT_EQ(listed(), change != Change::ProjectFolderRenamed);
    EXPECT_EQ(program.Prompter().UnexpectedQuestions(), 0);
    if (change == Change::ProjectFolderRenamed) {
      EXPECT_TRUE(LogHas(program.Frame(), L"Project not opened: the file was not found: " + project.wstring() +
                                              L" (the folder " + jobs.wstring() + L" is not there)"));
    }
  }
}

// A part reopened from the recent list after it was deleted: the red box said "This file could
// not be opened." and a cause, never which file, its last line cut ("...in its folde"). It names
// the file, every line whole at 800 x 600 and 1600 x 1000, and the file leaves the list.
// Screenshots program_recent_gone_800x600.png and _1600x1000.png.
TEST(Program, ARecentPartThatIsGoneIsNamedWholeAndLeavesTheList) {
  for (const wxSize window : {wxSize(800, 600), wxSize(1600, 1000)}) {
    const std::string name = std::to_string(window.x) + "x" + std::to_string(window.y);
    SCOPED_TRACE(name);
    Program program(false);
    ASSERT_TRUE(program.Started());
    program.Frame().SetSize(wxRect(wxPoint(0, 0), window));
    const std::filesystem::path part = program.Folder() / "bracket left.stl";
    WriteTriangleStl(part);
    ASSERT_TRUE(program.Core().OpenDocumentFile(part));
    program.SendMenu(menu_ids::kTestCube);
    std::filesystem::remove(part);
    if (program.Document().IsModified()) program.Prompter().ExpectMessage(MessageAnswer::No);
    wxCommandEvent recent(wxEVT_MENU, wxID_FILE1);
    recent.SetEventObject(&program.Frame());
    program.Frame().ProcessWindowEvent(recent);
    PumpFor(100ms);
    const std::wstring said = program.Frame().RightPane()->Dialog()->InfoText();
    EXPECT_NE(said.find(part.wstring()), std::wstring::npos) << WideToUtf8(said);
    EXPECT_NE(said.find(L"nothing of that name is in its folder"), std::wstring::npos) << WideToUtf8(said);
    for (const wxMenuItem* item : program.Frame().RecentFilesMenu()->GetMenuItems())
      EXPECT_FALSE(item->GetItemLabelText().Contains(wxString(part.string())));
    // Every line of the box whole: its text as wrapped fits the box's height.
    const CInfoBox* box = program.Frame().RightPane()->Dialog()->InfoBox();
    ASSERT_NE(box, nullptr);
    EXPECT_GE(box->GetSize().y, box->ContentHeight(box->GetSize().x)) << name;
    // Every row whole across (at 1600 x 1000 "...in its folder" ran past the box's edge).
    wxClientDC dc(const_cast<CInfoBox*>(box));
    dc.SetFont(box->GetFont());
    for (const InfoBand& band : box->Content().bands)
      for (const std::wstring& row : band.rows)
        EXPECT_LE(dc.GetTextExtent(wxString(row)).x + 2 * kInfoBoxPadding, box->GetClientSize().x)
            << name << ": " << WideToUtf8(row);
    EXPECT_TRUE(WindowShot::Save(&program.Frame(), ShotPath("recent_gone_" + name)));
    EXPECT_EQ(program.Prompter().UnexpectedQuestions(), 0);
  }
}

// A dropped image becomes the texture, after any part dropped with it, and a normal map is
// asked about as when it is loaded from the Texture menu.
TEST(Program, DroppedImagesLoadAsTheTexture) {
  struct Case {
    const char* name;
    bool withPart;
    bool normalMap;
    std::vector<MessageAnswer> answers;
    std::vector<std::wstring> questions;
  };
  const Case cases[] = {
      {"image alone", false, false, {}, {}},
      {"normal map, converted", false, true, {MessageAnswer::Yes}, {kNormalMapQuestion}},
      {"image before a part", true, false, {}, {}},
      {"normal map with a part", true, true, {MessageAnswer::No}, {kNormalMapQuestion}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program program(false);
    ASSERT_TRUE(program.Started());
    const std::filesystem::path part = program.Folder() / "drop.stl";
    const std::filesystem::path image = program.Folder() / "grain.png";
    WriteTriangleStl(part);
    WritePng(image, c.normalMap);
    for (MessageAnswer answer : c.answers) program.Prompter().ExpectMessage(answer);
    std::vector<std::filesystem::path> dropped = {image};
    if (c.withPart) dropped.push_back(part);
    DropOnFrame(program.Frame(), dropped);

    EXPECT_EQ(program.Document().HasPart(), c.withPart);
    if (c.withPart) {
      EXPECT_EQ(program.Document().GetPathName(), part);
    }
    EXPECT_TRUE(program.Document().IsHeightMapLoaded());
    EXPECT_EQ(program.Document().textureImagePath, image.wstring());
    std::vector<std::wstring> asked;
    for (const MessagePrompt& prompt : program.Prompter().Messages()) asked.push_back(prompt.text);
    EXPECT_EQ(asked, c.questions);
    EXPECT_EQ(program.Prompter().UnexpectedQuestions(), 0);
    EXPECT_TRUE(LogHas(program.Frame(), L"Loading height map " + image.wstring()));
  }
}

// Every road away from modified work asks the document's question, and "Yes" opens the project
// dialog with its title; "No" goes on, Cancel stays.
TEST(Program, EveryRoadAwayFromChangesAsksToSaveTheProject) {
  enum class Road { New, OpenStl, Recent, DroppedPart, Close };
  struct Case {
    const char* name;
    Road road;
    MessageAnswer answer;
    bool wentOn;  // the part was replaced or the window closed
  };
  const Case cases[] = {
      {"New, no", Road::New, MessageAnswer::No, true},
      {"New, cancel", Road::New, MessageAnswer::Cancel, false},
      {"Open STL, no", Road::OpenStl, MessageAnswer::No, true},
      {"Open STL, yes without saving", Road::OpenStl, MessageAnswer::Yes, false},
      {"recent file, no", Road::Recent, MessageAnswer::No, true},
      {"recent file, cancel", Road::Recent, MessageAnswer::Cancel, false},
      {"dropped part, no", Road::DroppedPart, MessageAnswer::No, true},
      {"dropped part, yes without saving", Road::DroppedPart, MessageAnswer::Yes, false},
      {"close, cancel", Road::Close, MessageAnswer::Cancel, false},
      {"close, no", Road::Close, MessageAnswer::No, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program program(false);
    ASSERT_TRUE(program.Started());
    const std::filesystem::path part = program.Folder() / "other.stl";
    WriteTriangleStl(part);
    program.Core().OpenDocumentFile(part);  // the recent list's only entry
    program.SendMenu(menu_ids::kTestCube);
    GiveATexture(program.Document());
    program.Document().SetModifiedFlag(true);  // as any edit leaves it
    const std::size_t asked = program.Prompter().Messages().size();

    if (c.road == Road::OpenStl) program.Prompter().ExpectFile(part);
    program.Prompter().ExpectMessage(c.answer);
    if (c.answer == MessageAnswer::Yes) program.Prompter().ExpectFile(std::nullopt);  // the save dialog, cancelled
    switch (c.road) {
      case Road::New: program.SendMenu(menu_ids::kNew); break;
      case Road::OpenStl: program.SendMenu(menu_ids::kOpenStl); break;
      case Road::Recent: {
        wxCommandEvent event(wxEVT_MENU, wxID_FILE1);
        event.SetEventObject(&program.Frame());
        program.Frame().ProcessWindowEvent(event);
        break;
      }
      case Road::DroppedPart: DropOnFrame(program.Frame(), {part}); break;
      case Road::Close: program.Frame().Close(); break;
    }
    PumpFor(50ms);

    ASSERT_EQ(program.Prompter().Messages().size(), asked + 1);
    const MessagePrompt& question = program.Prompter().Messages().back();
    EXPECT_EQ(question.text, kSaveProjectQuestion);
    EXPECT_EQ(question.buttons, PromptButtons::YesNoCancel);
    EXPECT_EQ(program.Prompter().UnexpectedQuestions(), 0);
    EXPECT_EQ(program.Prompter().AnswersLeft(), 0u);
    if (c.answer == MessageAnswer::Yes) {
      EXPECT_EQ(program.Prompter().FilePrompts().back().title, L"Save Project As");
    }
    if (c.road == Road::Close) {
      EXPECT_EQ(program.Core().Frame() == nullptr, c.wentOn);
      continue;
    }
    EXPECT_EQ(program.Document().GetTitle() != L"Test Cube", c.wentOn);
    // Opening another part keeps the texture; only New starts afresh.
    if (c.road != Road::New || !c.wentOn) {
      EXPECT_TRUE(program.Document().IsHeightMapLoaded());
    }
  }
}

// Real input through the display server (the XTest extension, which wx has loaded): a key and
// a click, on a connection of its own so that another thread may send them.
class ServerInput {
public:
  ServerInput() {
    open_ = Find<Display* (*)(const char*)>("XOpenDisplay");
    close_ = Find<int (*)(Display*)>("XCloseDisplay");
    sync_ = Find<int (*)(Display*, Bool)>("XSync");
    keycode_ = Find<KeyCode (*)(Display*, KeySym)>("XKeysymToKeycode");
    key_ = Find<int (*)(Display*, unsigned, Bool, unsigned long)>("XTestFakeKeyEvent");
    button_ = Find<int (*)(Display*, unsigned, Bool, unsigned long)>("XTestFakeButtonEvent");
    motion_ = Find<int (*)(Display*, int, int, int, unsigned long)>("XTestFakeMotionEvent");
    if (open_ != nullptr && close_ && sync_ && keycode_ && key_ && button_ && motion_) display_ = open_(nullptr);
  }
  ~ServerInput() {
    if (display_ != nullptr) close_(display_);
  }
  bool Ready() const { return display_ != nullptr; }
  // Moves the pointer to the screen point, clicks there and types x; returns once the server has
  // passed them on.
  void KeyAndClickAt(wxPoint screen) {
    motion_(display_, -1, screen.x, screen.y, 0);
    button_(display_, 1, True, 0);
    button_(display_, 1, False, 0);
    const KeyCode code = keycode_(display_, XK_x);
    key_(display_, code, True, 0);
    key_(display_, code, False, 0);
    sync_(display_, False);
  }

private:
  template <typename Function>
  static Function Find(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
  }
  Display* (*open_)(const char*) = nullptr;
  int (*close_)(Display*) = nullptr;
  int (*sync_)(Display*, Bool) = nullptr;
  KeyCode (*keycode_)(Display*, KeySym) = nullptr;
  int (*key_)(Display*, unsigned, Bool, unsigned long) = nullptr;
  int (*button_)(Display*, unsigned, Bool, unsigned long) = nullptr;
  int (*motion_)(Display*, int, int, int, unsigned long) = nullptr;
  Display* display_ = nullptr;
};

// Keys and clicks made while a modal mesh job runs are thrown away, not run once it ends; the
// same input without a job arrives, so the test would see it come late.
TEST(Program, KeysAndClicksMadeDuringAMeshJobAreThrownAway) {
  Program program(false);
  ASSERT_TRUE(program.Started());
  ServerInput input;
  ASSERT_TRUE(input.Ready()) << "no XTest on this display";
  CMainFrame& frame = program.Frame();
  wxWindow* view = frame.CentreView();
  int keys = 0;
  int clicks = 0;
  view->Bind(wxEVT_KEY_DOWN, [&](wxKeyEvent& event) { keys += event.GetKeyCode() == 'X'; event.Skip(); });
  // A click soon after the one before comes as a double click.
  for (const auto type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_DCLICK})
    view->Bind(type, [&](wxMouseEvent& event) { ++clicks; event.Skip(); });
  frame.Raise();
  view->SetFocus();
  PumpFor(200ms);
  const wxPoint centre = view->ClientToScreen(wxPoint(view->GetClientSize().x / 2, view->GetClientSize().y / 2));
  IModalJobRunner* jobs = program.Document().Host().jobs;
  ASSERT_NE(jobs, nullptr);

  struct Case {
    const char* name;
    bool duringJob;
    int arrived;
  };
  const Case cases[] = {
      {"without a job", false, 1},
      {"during a job", true, 0},
      {"without a job after it", false, 1},
      {"during a second job", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    keys = 0;
    clicks = 0;
    if (c.duringJob) {
      // From a command, as the menu runs it: inside the main loop.
      wxGUIEventLoop loop;
      wxTheApp->CallAfter([&] {
        EXPECT_TRUE(jobs->RunModalJob([&](const std::atomic<bool>&) { input.KeyAndClickAt(centre); }));
        loop.Exit();
      });
      loop.Run();
      // Whatever was kept back would be handed on now.
      PumpFor(300ms);
    } else {
      input.KeyAndClickAt(centre);
      PumpUntil([&] { return keys > 0 && clicks > 0; });
    }
    EXPECT_EQ(keys, c.arrived);
    EXPECT_EQ(clicks, c.arrived);
  }
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
  EXPECT_EQ(program.Prompter().Messages().back().text, kSaveProjectQuestion);
  EXPECT_EQ(program.Prompter().FilePrompts().back().title, L"Save Project As");
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
