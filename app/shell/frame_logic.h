#pragma once

// The main window's decisions that need no window system: the status bar's texts, widths and
// progress states, what dropped files are, which keys the frame takes for itself, the lock
// indicators and where the profile lives. The frame (main_frame.cpp) only carries them out.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/document/program_files.h"
#include "engine/pipeline/pipeline_records.h"

namespace grainforge::app {

// ---- Status bar ------------------------------------------------------------------------------

// Pane order: message, "Progress", "Tool", "Frame", CAP, NUM, SCRL.
inline constexpr int kStatusPaneCount = 7;
inline constexpr int kProgressRange = 1000;

// Widths of the progress, tool and frame panes at a DPI (170, 130 and 150 px at 96 dpi).
struct StatusPaneWidths {
  int progress = 0;
  int tool = 0;
  int frame = 0;
  friend bool operator==(const StatusPaneWidths&, const StatusPaneWidths&) = default;
};
StatusPaneWidths StatusPaneWidthsAt(int dpi);

// The space a status field keeps round its text at 96 dpi: the field's border and the margin
// the bar leaves on each side of the text, with a little to spare.
inline constexpr int kStatusTextMargin = 12;

// The widths at the DPI, the "Tool" and "Frame" panes widened where their widest text (in
// pixels, measured in the status bar's font; 0 when none is known) and the margin need more,
// so that the bar never cuts a text short.
StatusPaneWidths StatusPaneWidthsFor(int dpi, int widestToolText, int widestFrameText);

// ---- Side panes ------------------------------------------------------------------------------

// The workflow (left) and information (right) panes' widths in a frame `frameWidth` pixels
// across, given their widths at the DPI. As given while the view between them keeps at least a
// third of the frame; in a narrower frame they give way so that it does, the information pane
// first, each to no less than kLeastSidePanePercent of its width, where its contents would no
// longer fit. At
// 800 x 600 the view, with the mask panel docked in it, was about 90 px wide.
inline constexpr int kLeastSidePanePercent = 60;
struct SidePaneWidths {
  int left = 0;
  int right = 0;
  friend bool operator==(const SidePaneWidths&, const SidePaneWidths&) = default;
};
SidePaneWidths SidePaneWidthsFor(int frameWidth, int leftWidth, int rightWidth);

// The message pane's text while a run goes: "Working..." without a stage, "<stage>... 50%" with
// a known fraction, "<stage>..." without one; "  (draft)" for a preview run; always followed by
// "   -  Mesh > Stop Processing, or Escape, to cancel".
std::wstring PipelineProgressText(const grainforge::mesh::PipelineStatus& status);

// The bar's position for a fraction: nearest of 0..1000, clamped; a fraction that is not a
// number gives 0.
int ProgressPosition(float fraction);

// What the status bar shows of a run, and the changes one status brings. The frame applies a
// change as it comes: show or hide the bar, switch the marquee, move the bar, set the text.
struct ProgressBarModel {
  bool shown = false;
  bool determinate = true;
  int lastPosition = -1;  // -1: none set since shown
  std::wstring paneText;
};
struct ProgressChange {
  bool show = false;
  bool hide = false;
  std::optional<bool> marquee;        // start (true) or stop (false) the marquee
  std::optional<int> position;        // set the bar's position
  std::optional<std::wstring> text;   // set the message pane (empty clears it)
};
ProgressChange ShowPipelineProgress(ProgressBarModel& model,
                                    const grainforge::mesh::PipelineStatus& status);
ProgressChange HidePipelineProgress(ProgressBarModel& model);

// The lock indicators: "CAP" and "NUM" while the lock is on, else blank. Scroll Lock cannot be
// read reliably under X, so its pane stays blank.
struct LockIndicators {
  std::wstring caps;
  std::wstring num;
  std::wstring scroll;
  friend bool operator==(const LockIndicators&, const LockIndicators&) = default;
};
LockIndicators LockIndicatorTexts(bool capsLock, bool numLock);

// ---- Dropped files ---------------------------------------------------------------------------

// The first part (".stl" or a project, any case) and the first image (ImageExtensions) of a
// drop; the file names of everything else, in drop order. Later parts and images are ignored.
struct DroppedFiles {
  std::optional<std::filesystem::path> part;
  std::optional<std::filesystem::path> image;
  std::vector<std::wstring> leftAlone;
};
DroppedFiles ClassifyDroppedFiles(const std::vector<std::filesystem::path>& paths);

// "Not a part, a project or an image, so left alone: a.txt, b.pdf"; empty for no names.
std::wstring LeftAloneMessage(const std::vector<std::wstring>& names);

// ---- Keys the frame takes ---------------------------------------------------------------------

// Where the keyboard focus is when a key reaches the frame's key hook.
enum class FocusKind { Other, TextField, OutputLog };
enum class FrameKey { PassOn, StopProcessing, CopyLog };

// The keys the hook looks at; the frame maps the toolkit's key codes onto them.
enum class HookKey { Escape, LetterC, Insert, Other };

// Modifier bits as the frame gives them (wx's wxMOD_* values).
inline constexpr int kModifierAlt = 0x0001;
inline constexpr int kModifierControl = 0x0002;
inline constexpr int kModifierShift = 0x0004;

// Escape stops a run from anywhere but a text field, where it belongs to the field (a dialog's
// field, an edit of the workflow pane). Ctrl+C and Ctrl+Insert copy the log's selection while
// the log has the focus; in a field they stay the field's copy. Every other key passes on.
FrameKey FrameKeyFor(HookKey key, int modifiers, FocusKind focus);

// ---- The --log-file log -----------------------------------------------------------------------

// The files the program has open (empty where there is none), every preset file and the places
// of the program's own files, which no log replaces either.
struct OpenDocumentFiles {
  std::filesystem::path part;
  std::filesystem::path project;
  std::filesystem::path textureImage;
  std::vector<std::filesystem::path> presets = {};
  ProgramPlaces program = {};
};

// Why the log must not be written at `logFile` (named by --log-file or chosen in Save As), or
// empty when it may: the log never replaces a file the program has open, a preset file or one of
// the program's own files (IsProgramFile; all seen through links and hard links), nor a file
// whose name marks it as a part, a project, a preset or an image (by its extension, in any
// case), which a slip of the command line (`-l part.stl part.stl`) would otherwise lose. An
// existing log under any other name is replaced as before.
std::wstring LogFileRefusal(const std::filesystem::path& logFile, const OpenDocumentFiles& open);

// ---- Profile and messages ---------------------------------------------------------------------

// The profile file: <XDG_CONFIG_HOME or HOME/.config>/Brookvane/Tessary.conf. A relative
// XDG_CONFIG_HOME is ignored, as the XDG rules say. Empty when neither gives a folder.
std::filesystem::path ProfileFilePath(const char* xdgConfigHome, const char* home);

// What Detailed Log says when it is switched.
std::wstring DetailedLogMessage(bool on);

// What is said when the user manual (kManualFileName, program_files.h) cannot be shown:
// "The manual could not be opened: <path>" when the file exists but the desktop did not open
// it, else "The manual is not beside the program: <path>".
std::wstring ManualFailureMessage(const std::filesystem::path& path, bool fileExists);

// Exit waits for export checks still running, at most this long.
inline constexpr int kExitWaitMilliseconds = 5000;
// Whether exit should go on waiting: checks are running and the time is not up.
bool KeepWaitingAtExit(int runningChecks, std::int64_t elapsedMilliseconds);

}  // namespace grainforge::app
