#include "app/shell/frame_logic.h"
#include "app/shell/progress_percent.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "app/document/grainforge_doc.h"
#include "app/document/texture_library.h"
#include "app/shell/prompter.h"
#include "app/shell/shell_host.h"
#include "app/shell/view_placeholder.h"
#include "platform/image_file_types.h"
#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

using grainforge::mesh::PipelineQuality;
using grainforge::mesh::PipelineStatus;

PipelineStatus Status(const char* stage, float fraction, bool known,
                      PipelineQuality quality = PipelineQuality::full) {
  PipelineStatus status;
  status.running = true;
  status.stageText = stage;
  status.fraction = fraction;
  status.hasFraction = known;
  status.quality = quality;
  return status;
}

TEST(PipelineProgressText, NamesTheStagePercentDraftAndHowToCancel) {
  struct Case {
    PipelineStatus status;
    std::wstring text;
  };
  const Case cases[] = {
      {Status("", 0.3f, true), L"Working...   -  Mesh > Stop Processing, or Escape, to cancel"},
      {Status("Displacing", 0.5f, true), L"Displacing... 50%   -  Mesh > Stop Processing, or Escape, to cancel"},
      {Status("Remeshing", 0.5f, false), L"Remeshing...   -  Mesh > Stop Processing, or Escape, to cancel"},
      {Status("Checking the mesh", 0.996f, true),
       L"Checking the mesh... 100%   -  Mesh > Stop Processing, or Escape, to cancel"},
      {Status("Displacing", 0.25f, true, PipelineQuality::preview),
       L"Displacing... 25%  (draft)   -  Mesh > Stop Processing, or Escape, to cancel"},
      // A stage text in UTF-8 arrives whole, not byte by byte.
      {Status("Gr\xC3\xB6\xC3\x9F" "e", 0.0f, false), L"Gr\u00F6\u00DFe...   -  Mesh > Stop Processing, or Escape, to cancel"},
  };
  for (const Case& c : cases) EXPECT_EQ(PipelineProgressText(c.status), c.text) << c.status.stageText;
}

TEST(ProgressPosition, RoundsToTheNearestThousandthWithinRange) {
  struct Case {
    float fraction;
    int position;
  };
  const Case cases[] = {{0.0f, 0},     {0.5f, 500},   {0.0004f, 0},  {0.0006f, 1},
                        {0.9996f, 1000}, {1.0f, 1000}, {1.7f, 1000},  {-0.2f, 0},
                        {std::numeric_limits<float>::quiet_NaN(), 0},
                        {std::numeric_limits<float>::infinity(), 1000}};
  for (const Case& c : cases) EXPECT_EQ(ProgressPosition(c.fraction), c.position) << c.fraction;
}

TEST(ShowPipelineProgress, ShowsOnceSwitchesMarqueeAndMovesOnlyOnChange) {
  ProgressBarModel model;
  // A run without a known fraction: the bar appears in marquee mode.
  ProgressChange change = ShowPipelineProgress(model, Status("Remeshing", 0.0f, false));
  EXPECT_TRUE(change.show);
  EXPECT_EQ(change.marquee, std::optional<bool>(true));
  EXPECT_FALSE(change.position);
  ASSERT_TRUE(change.text);

  // The fraction becomes known: the marquee stops and the bar takes the position.
  change = ShowPipelineProgress(model, Status("Displacing", 0.5f, true));
  EXPECT_FALSE(change.show);
  EXPECT_EQ(change.marquee, std::optional<bool>(false));
  EXPECT_EQ(change.position, std::optional<int>(500));
  EXPECT_EQ(change.text, std::optional<std::wstring>(L"Displacing... 50%   -  Mesh > Stop Processing, or Escape, to cancel"));

  // The same status again changes nothing on screen.
  change = ShowPipelineProgress(model, Status("Displacing", 0.5f, true));
  EXPECT_FALSE(change.show || change.hide || change.marquee || change.position || change.text);

  // A fraction that rounds to the same position keeps the bar but the text may change.
  change = ShowPipelineProgress(model, Status("Displacing", 0.5004f, true));
  EXPECT_FALSE(change.position);

  // Back to an unknown fraction, then hidden: the marquee is stopped on the way out.
  ShowPipelineProgress(model, Status("Cleaning", 0.0f, false));
  change = HidePipelineProgress(model);
  EXPECT_TRUE(change.hide);
  EXPECT_EQ(change.marquee, std::optional<bool>(false));
  EXPECT_EQ(change.text, std::optional<std::wstring>(L""));
  EXPECT_EQ(model.lastPosition, -1);

  // Hidden already: nothing to do; the next run starts from a fresh position.
  change = HidePipelineProgress(model);
  EXPECT_FALSE(change.hide || change.marquee || change.text);
  change = ShowPipelineProgress(model, Status("Displacing", 0.5f, true));
  EXPECT_TRUE(change.show);
  EXPECT_EQ(change.position, std::optional<int>(500));
}

TEST(ClassifyDroppedFiles, TakesTheFirstPartAndImageAndNamesTheRest) {
  struct Case {
    std::vector<std::filesystem::path> paths;
    std::optional<std::filesystem::path> part;
    std::optional<std::filesystem::path> image;
    std::vector<std::wstring> leftAlone;
  };
  const Case cases[] = {
      {{"/p/a.stl", "/p/t.png"}, "/p/a.stl", "/p/t.png", {}},
      {{"/p/t.JPG", "/p/b.STL", "/p/c.stl"}, "/p/b.STL", "/p/t.JPG", {}},
      {{"/p/notes.txt", "/p/a.pdf"}, std::nullopt, std::nullopt, {L"notes.txt", L"a.pdf"}},
      {{"/p/x.GfProj", "/p/y.tiff", "/p/z.bmp"}, "/p/x.GfProj", "/p/y.tiff", {}},
      {{"/p/stl", "/p/archive.stl.gz", "/p/.png"}, std::nullopt, std::nullopt,
       {L"stl", L"archive.stl.gz", L".png"}},
      {{}, std::nullopt, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    const DroppedFiles dropped = ClassifyDroppedFiles(c.paths);
    EXPECT_EQ(dropped.part, c.part);
    EXPECT_EQ(dropped.image, c.image);
    EXPECT_EQ(dropped.leftAlone, c.leftAlone);
  }
}

// Every name of every format the decoders read, in either case, is an image on each road that
// goes by names: a drop, the library's listing and the file dialog (GTK matches case-sensitively).
TEST(ImageNames, EveryFormatTheDecodersReadIsAnImageOnEveryRoad) {
  using platform::ImageContainer;
  const std::pair<const char*, ImageContainer> cases[] = {  // a row for every container read
      {".png", ImageContainer::Png},  {".jpg", ImageContainer::Jpeg}, {".JPEG", ImageContainer::Jpeg},
      {".tif", ImageContainer::Tiff}, {".TIFF", ImageContainer::Tiff}, {".bmp", ImageContainer::Bmp},
      {".gif", ImageContainer::Gif},  {".GIF", ImageContainer::Gif},  {".PNG", ImageContainer::Png},
      {".JPG", ImageContainer::Jpeg}, {".jpeg", ImageContainer::Jpeg}, {".TIF", ImageContainer::Tiff},
      {".tiff", ImageContainer::Tiff}, {".BMP", ImageContainer::Bmp}};
  const auto types = platform::ImageFileTypes();
  const std::vector<std::wstring> patterns =
      ParseDialogFilter(MakeDialogWildcard(ParseDialogFilter(kTextureImageFilter))).front().patterns;
  test::TempFolder folder;
  const LibraryRoots roots{{folder / "program", false}, {folder / "user", true}};
  for (const auto& [extension, container] : cases) {
    SCOPED_TRACE(extension);
    EXPECT_TRUE(std::any_of(types.begin(), types.end(),
                            [read = container](const auto& type) { return type.container == read; }));
    const std::filesystem::path file = folder / "user/textures/Stone" / (std::string("image") + extension);
    std::filesystem::create_directories(file.parent_path());
    test::WriteAllText(file, "x");
    const std::vector<TextureLibraryItem> listed = ScanTextureLibrary(roots, "Stone");
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const auto& item) { return item.path == file; }));
    EXPECT_EQ(ClassifyDroppedFiles({file}).image, std::optional<std::filesystem::path>(file));
    EXPECT_TRUE(std::any_of(patterns.begin(), patterns.end(), [&](const std::wstring& pattern) {
      return fnmatch(std::string(pattern.begin(), pattern.end()).c_str(), file.filename().c_str(), 0) == 0;
    }));
  }
}

TEST(LeftAloneMessage, JoinsTheNamesWithCommas) {
  EXPECT_EQ(LeftAloneMessage({L"notes.txt", L"a.pdf"}),
            L"Not a part, a project or an image, so left alone: notes.txt, a.pdf");
  EXPECT_EQ(LeftAloneMessage({}), L"");
}

TEST(FrameKeyFor, EscapeStopsExceptInATextFieldAndCopyStaysWithTheField) {
  struct Case {
    HookKey key;
    int modifiers;
    FocusKind focus;
    FrameKey action;
  };
  const Case cases[] = {
      {HookKey::Escape, 0, FocusKind::Other, FrameKey::StopProcessing},
      {HookKey::Escape, 0, FocusKind::OutputLog, FrameKey::StopProcessing},
      {HookKey::Escape, 0, FocusKind::TextField, FrameKey::PassOn},
      {HookKey::Escape, kModifierShift, FocusKind::Other, FrameKey::PassOn},
      {HookKey::LetterC, kModifierControl, FocusKind::OutputLog, FrameKey::CopyLog},
      {HookKey::Insert, kModifierControl, FocusKind::OutputLog, FrameKey::CopyLog},
      {HookKey::LetterC, kModifierControl, FocusKind::TextField, FrameKey::PassOn},
      {HookKey::LetterC, kModifierControl, FocusKind::Other, FrameKey::PassOn},
      {HookKey::LetterC, 0, FocusKind::OutputLog, FrameKey::PassOn},
      {HookKey::Other, 0, FocusKind::Other, FrameKey::PassOn},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FrameKeyFor(c.key, c.modifiers, c.focus), c.action)
        << static_cast<int>(c.key) << " " << c.modifiers << " " << static_cast<int>(c.focus);
}

TEST(StatusPaneWidthsAt, ScaleEachPaneWithTheDpi) {
  EXPECT_EQ(StatusPaneWidthsAt(96), (StatusPaneWidths{170, 130, 150}));
  EXPECT_EQ(StatusPaneWidthsAt(144), (StatusPaneWidths{255, 195, 225}));
}

// A "Tool" or "Frame" text wider than its pane widens the pane to the text and its margin, so
// the bar never cuts it ("Tool: Zoom Text…"); narrower texts leave the scaled widths.
TEST(StatusPaneWidthsFor, WidenThePanesThatCannotHoldTheirWidestText) {
  EXPECT_EQ(StatusPaneWidthsFor(96, 0, 0), (StatusPaneWidths{170, 130, 150}));
  EXPECT_EQ(StatusPaneWidthsFor(96, 118, 138), (StatusPaneWidths{170, 130, 150}));  // fits with 12 px
  EXPECT_EQ(StatusPaneWidthsFor(96, 141, 160), (StatusPaneWidths{170, 153, 172}));
  EXPECT_EQ(StatusPaneWidthsFor(144, 190, 220), (StatusPaneWidths{255, 208, 238}));  // 18 px margin
  EXPECT_EQ(StatusPaneWidthsFor(96, -5, std::numeric_limits<int>::max()), (StatusPaneWidths{170, 130, 150}));
}

// At 800 x 600 the panes kept 340 and 240 px and the view between them, with the mask panel
// docked in it, was about 90 px wide. The view keeps a third of the frame; the information pane
// gives way first, then the workflow pane, each down to 60 % of its width; a wide frame keeps
// them as designed.
TEST(SidePaneWidthsFor, ThePanesGiveWaySoTheViewKeepsAThird) {
  const struct {
    int frame, left, right;
    SidePaneWidths widths;
  } cases[] = {
      {1600, 340, 240, {340, 240}}, {1400, 340, 240, {340, 240}},
      {870, 340, 240, {340, 240}},  // 290 px left for the view: a third exactly
      {869, 340, 240, {340, 239}},  {800, 340, 240, {340, 193}},
      {700, 340, 240, {322, 144}},  // the information pane at its least
      {400, 340, 240, {204, 144}},  {0, 340, 240, {204, 144}},  {-50, 340, 240, {204, 144}},
      {2400, 510, 360, {510, 360}},  // 144 dpi
      {1200, 510, 360, {510, 290}},  {800, 0, 240, {0, 240}},  // no workflow pane
      {100, 0, 0, {0, 0}},           {800, -5, 240, {0, 240}},
  };
  for (const auto& c : cases) {
    const SidePaneWidths got = SidePaneWidthsFor(c.frame, c.left, c.right);
    EXPECT_EQ(got, c.widths) << c.frame << " " << c.left << " " << c.right << ": " << got.left << " " << got.right;
    if (got.left * 100 > c.left * kLeastSidePanePercent) {
      EXPECT_GE(c.frame - got.left - got.right, (c.frame + 2) / 3) << c.frame;
    }
  }
}

TEST(LockIndicatorTexts, ShowCapsAndNumAndLeaveScrollBlank) {
  EXPECT_EQ(LockIndicatorTexts(true, true), (LockIndicators{L"CAP", L"NUM", L""}));
  EXPECT_EQ(LockIndicatorTexts(false, true), (LockIndicators{L"", L"NUM", L""}));
  EXPECT_EQ(LockIndicatorTexts(false, false), (LockIndicators{L"", L"", L""}));
}

// `tessary -l part.stl part.stl` once replaced the part it opened with its log. The log never
// takes the place of a file the program has open, by any name, nor of a file named as a part,
// a project, a preset or an image; a log under any other name is replaced as before.
TEST(LogFileRefusal, TheLogNeverReplacesAnOpenFileOrOneNamedAsAnother) {
  test::TempFolder folder;
  for (const char* name : {"part.stl", "project.gfproj", "texture", "log.txt"}) test::WriteAllText(folder / name, "x");
  std::filesystem::create_hard_link(folder / "project.gfproj", folder / "same project");
  std::filesystem::create_symlink("texture", folder / "texture link");
  // Written through, a link gives its target's place to the log: `ln -s other.stl log.txt` once
  // lost other.stl.
  test::WriteAllText(folder / "other.stl", "x");
  std::filesystem::create_symlink("other.stl", folder / "to part");
  std::filesystem::create_symlink("to part", folder / "to link");
  std::filesystem::create_symlink("new.gfproj", folder / "to nothing");
  std::filesystem::create_symlink("log.txt", folder / "to log");
  // A preset reached by a name of no kind was written over by the log's Save As.
  test::WriteAllText(folder / "Rock.gfpreset", "x");
  std::filesystem::create_hard_link(folder / "Rock.gfpreset", folder / "rock notes");
  // The program's own files: its settings and executable, a cache folder, a library root. Logs
  // it wrote there are replaced as before; the lists are taken before they exist.
  ProgramPlaces program = LibraryPlaces({{folder / "lib", true}});
  program.files.insert(program.files.end(), {folder / "config" / "Tessary.conf", folder / "bin" / "tessary"});
  // Installed under a prefix: its desktop entry and icon, which no folder of the program holds.
  for (const std::filesystem::path& installed : InstalledDesktopFiles(folder / "bin" / "tessary")) {
    std::filesystem::create_directories(installed.parent_path());
    test::WriteAllText(installed, "[Desktop Entry]\n");
    program.files.push_back(installed);
  }
  program.folders.push_back(folder / "cache");
  for (const char* name : {"cache/index.dat", "bin/tessary", "lib/help/page.md"}) {
    std::filesystem::create_directories((folder / name).parent_path());
    test::WriteAllText(folder / name, "x");
  }
  // A log is what the program stamped when it wrote it, not what its first line says: a notes
  // file that begins as a log does was replaced, and so would a copy of a log or one edited since.
  test::WriteAllText(folder / "cache" / "old.txt", "Output log ready.\nTessary ready.\n");
  test::WriteAllText(folder / "cache" / "long.txt", "(12 older lines left out)\nline\n");
  test::WriteAllText(folder / "cache" / "almost.txt", "Output log ready, or so\n");
  for (const char* name : {"written.txt", "edited.txt"}) {
    test::WriteAllText(folder / "cache" / name, "Output log ready.\nTessary ready.\n");
    RememberWrittenLog(program.logs, StampWrittenLog(folder / "cache" / name).value());
  }
  std::ofstream(folder / "cache" / "edited.txt", std::ios::app) << "my own notes\n";
  std::filesystem::copy_file(folder / "cache" / "written.txt", folder / "cache" / "copied.txt");
  std::filesystem::create_symlink(folder / "cache" / "written.txt", folder / "to written log");
  std::filesystem::create_directories(folder / "lib" / "custom");
  std::filesystem::create_hard_link(folder / "lib" / "help" / "page.md", folder / "page notes");
  std::filesystem::create_symlink(folder / "config" / "Tessary.conf", folder / "to settings");
  const OpenDocumentFiles open{folder / "part.stl", folder / "project.gfproj", folder / "texture",
                               {folder / "Rock.gfpreset"}, program};
  const std::wstring kept = L", which the log never replaces";
  const std::wstring cache = (folder / "cache").wstring();
  const std::pair<std::filesystem::path, std::wstring> cases[] = {
      {folder / "part.stl", L"it is the part the program has open" + kept},
      {folder / "." / "same project", L"it is the project the program has open" + kept},
      {folder / "texture link", L"it is the texture image the program has open" + kept},
      {folder / "other.STL", L"its name (.stl) marks it as a part" + kept},
      {folder / "p.gfproj", L"its name (.gfproj) marks it as a project" + kept},
      {folder / "Rock.GfPreset", L"its name (.gfpreset) marks it as a preset" + kept},
      {folder / "picture.jpeg", L"its name (.jpeg) marks it as an image" + kept},
      {folder / "log.txt", L""},
      {folder / "new log", L""},
      {folder / "to part", L"it is a link to " + (folder / "other.stl").wstring() + L", whose name (.stl) marks it as a part" + kept},
      {folder / "to link", L"it is a link to " + (folder / "other.stl").wstring() + L", whose name (.stl) marks it as a part" + kept},
      {folder / "to nothing", L"it is a link to " + (folder / "new.gfproj").wstring() + L", whose name (.gfproj) marks it as a project" + kept},
      {folder / "to log", L""},
      {folder / "rock notes", L"it is a preset file" + kept},
      {folder / "config" / "Tessary.conf", L"it is one of the program's own files" + kept},
      {folder / "to settings", L"it is one of the program's own files" + kept},
      {folder / "bin" / "tessary", L"it is one of the program's own files" + kept},
      {folder / "share" / "applications" / "tessary.desktop", L"it is one of the program's own files" + kept},
      {folder / "share" / "icons" / "hicolor" / "128x128" / "apps" / "tessary.png", L"it is one of the program's own files" + kept},
      // A file in the program's folders is said as it is: it may be the user's own notes.
      {folder / "cache" / "index.dat", L"it is a file in the program's own folder " + cache + kept},
      {folder / "cache" / "almost.txt", L"it is a file in the program's own folder " + cache + kept},
      {folder / "lib" / "custom" / "images.json", L"it is one of the program's own files" + kept},
      {folder / "page notes", L"it is another name of a file in the program's own folders" + kept},
      {folder / "cache" / "old.txt", L"it is a file in the program's own folder " + cache + kept},
      {folder / "cache" / "long.txt", L"it is a file in the program's own folder " + cache + kept},
      {folder / "cache" / "edited.txt", L"it is a file in the program's own folder " + cache + kept},
      {folder / "cache" / "copied.txt", L"it is a file in the program's own folder " + cache + kept},
      {folder / "cache" / "written.txt", L""},
      {folder / "to written log", L""},
      {folder / "cache" / "new.txt", L""},
      {folder / "lib" / "custom" / "notes.txt", L""},
  };
  for (const auto& [log, reason] : cases) EXPECT_EQ(LogFileRefusal(log, open), reason) << log;
  EXPECT_EQ(LogFileRefusal(folder / "log.txt", OpenDocumentFiles{}), L"");
}

TEST(ProfileFilePath, FollowsTheXdgConfigFolder) {
  struct Case {
    const char* xdg;
    const char* home;
    std::filesystem::path path;
  };
  const Case cases[] = {
      {"/cfg", "/home/u", "/cfg/Brookvane/Tessary.conf"},
      {nullptr, "/home/u", "/home/u/.config/Brookvane/Tessary.conf"},
      // A relative XDG_CONFIG_HOME is invalid and ignored.
      {"cfg", "/home/u", "/home/u/.config/Brookvane/Tessary.conf"},
      {"", "/home/u", "/home/u/.config/Brookvane/Tessary.conf"},
      {nullptr, nullptr, ""},
      {nullptr, "relative", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProfileFilePath(c.xdg, c.home), c.path) << (c.xdg ? c.xdg : "-") << (c.home ? c.home : "-");
}

TEST(ManualFailureMessage, SaysWhetherTheFileIsMissingOrWouldNotOpen) {
  EXPECT_EQ(ManualFailureMessage("/opt/t/Tessary_Manual.pdf", false),
            L"The manual is not beside the program: /opt/t/Tessary_Manual.pdf");
  EXPECT_EQ(ManualFailureMessage("/opt/t/Tessary_Manual.pdf", true),
            L"The manual could not be opened: /opt/t/Tessary_Manual.pdf");
}

TEST(KeepWaitingAtExit, WaitsForRunningChecksAtMostFiveSeconds) {
  EXPECT_FALSE(KeepWaitingAtExit(0, 0));
  EXPECT_TRUE(KeepWaitingAtExit(1, 0));
  EXPECT_TRUE(KeepWaitingAtExit(2, 4999));
  EXPECT_FALSE(KeepWaitingAtExit(1, 5000));
}

TEST(ParseDialogFilter, SplitsDescriptionsAndPatterns) {
  const std::vector<FileFilter> filters =
      ParseDialogFilter(L"STL Files (*.stl)|*.stl|Images|*.png;*.jpg;;*.bmp|Broken||");
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].description, L"STL Files (*.stl)");
  EXPECT_EQ(filters[0].patterns, (std::vector<std::wstring>{L"*.stl"}));
  EXPECT_EQ(filters[1].patterns, (std::vector<std::wstring>{L"*.png", L"*.jpg", L"*.bmp"}));
  EXPECT_TRUE(ParseDialogFilter(L"").empty());
  EXPECT_TRUE(ParseDialogFilter(L"Only a description").empty());
}

TEST(ToFilePrompt, SplitsTheInitialNameIntoFolderAndFile) {
  const FilePrompt prompt = ToFilePrompt({L"Save", L"STL|*.stl||", L"/home/u/parts/cube.stl", L"stl"});
  EXPECT_EQ(prompt.folder, std::filesystem::path("/home/u/parts"));
  EXPECT_EQ(prompt.fileName, L"cube.stl");
  ASSERT_EQ(prompt.filters.size(), 1u);
  EXPECT_EQ(ToFilePrompt({L"Open", L"", L"cube.stl", L""}).folder, std::filesystem::path());
}

TEST(ViewPlaceholderText, GivesTheStartHintUntilAPartIsLoaded) {
  EXPECT_EQ(ViewPlaceholderText(false, L"Untitled", 0),
            L"Open an STL to begin: File > Open STL (Ctrl+O), or drop a file here.");
  EXPECT_EQ(ViewPlaceholderText(true, L"Test Cube", 12).rfind(L"Test Cube: 12 triangles", 0), 0u);
}

// Which events a modal mesh job throws away: input and what input starts, never paints,
// sizes or timers.
TEST(ModalJobInput, DropsInputButNotPaints) {
  struct Case {
    wxEventType type;
    bool discarded;
  };
  const Case cases[] = {
      {wxEVT_KEY_DOWN, true},   {wxEVT_CHAR, true},         {wxEVT_CHAR_HOOK, true},
      {wxEVT_LEFT_DOWN, true},  {wxEVT_LEFT_UP, true},      {wxEVT_RIGHT_DOWN, true},
      {wxEVT_MOUSEWHEEL, true}, {wxEVT_MENU, true},         {wxEVT_DROP_FILES, true},
      {wxEVT_CLOSE_WINDOW, true},
      {wxEVT_PAINT, false},     {wxEVT_SIZE, false},        {wxEVT_SCROLLWIN_TOP, false},
      {wxEVT_IDLE, false},      {wxEVT_SET_FOCUS, false},   {wxEVT_UPDATE_UI, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDiscardedDuringModalJob(c.type), c.discarded) << c.type;
}

}  // namespace
}  // namespace grainforge::app

namespace grainforge::app {
namespace {

// The status bar writes the percent the footer writes (footer_model_test holds its half):
// halves round up, ends are clamped, and a fraction that is not a number is 0.
TEST(ProgressPercent, StatusBarShowsTheSharedNumber) {
  const struct {
    float fraction;
    int percent;
  } cases[] = {{0.0f, 0},   {0.125f, 13}, {0.994f, 99},   {0.5f, 50},  {0.996f, 100},
               {1.5f, 100}, {-0.2f, 0},   {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressPercent(c.fraction), c.percent) << c.fraction;
    mesh::PipelineStatus status;
    status.stageText = "Displacing: contouring the solid";
    status.fraction = c.fraction;
    status.hasFraction = true;
    const std::wstring number = std::to_wstring(c.percent) + L"%";
    EXPECT_EQ(PipelineProgressText(status),
              L"Displacing: contouring the solid... " + number + L"   -  Mesh > Stop Processing, or Escape, to cancel");
  }
}

}  // namespace
}  // namespace grainforge::app
