#include "app/shell/frame_logic.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <limits>

#include "app/document/file_identity.h"
#include "app/document/log_text.h"
#include "app/document/texture_library.h"
#include "app/shell/progress_percent.h"
#include "app/shell/kit/ui_scale.h"
#include "platform/file_system.h"

namespace grainforge::app {
namespace {

constexpr const wchar_t* kCancelHint = L"   -  Mesh > Stop Processing, or Escape, to cancel";

std::string LowerExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

}  // namespace

StatusPaneWidths StatusPaneWidthsAt(int dpi) {
  return StatusPaneWidths{ScaleForDpi(170, dpi), ScaleForDpi(130, dpi), ScaleForDpi(150, dpi)};
}

SidePaneWidths SidePaneWidthsFor(int frameWidth, int leftWidth, int rightWidth) {
  SidePaneWidths widths{std::max(leftWidth, 0), std::max(rightWidth, 0)};
  const long long room = static_cast<long long>(frameWidth) - (static_cast<long long>(frameWidth) + 2) / 3;
  long long over = widths.left + widths.right - std::max(room, 0LL);
  // The information pane first, whose text wraps; then the workflow pane, whose lists and
  // toolbars begin to cut their labels.
  for (int* width : {&widths.right, &widths.left}) {
    const int least = static_cast<int>(static_cast<long long>(*width) * kLeastSidePanePercent / 100);
    const int giving = static_cast<int>(std::clamp<long long>(over, 0, *width - least));
    *width -= giving;
    over -= giving;
  }
  return widths;
}

StatusPaneWidths StatusPaneWidthsFor(int dpi, int widestToolText, int widestFrameText) {
  StatusPaneWidths widths = StatusPaneWidthsAt(dpi);
  const int margin = ScaleForDpi(kStatusTextMargin, dpi);
  const auto fit = [margin](int width, int text) {
    return text > 0 && text <= std::numeric_limits<int>::max() - margin ? std::max(width, text + margin) : width;
  };
  widths.tool = fit(widths.tool, widestToolText);
  widths.frame = fit(widths.frame, widestFrameText);
  return widths;
}

std::wstring PipelineProgressText(const grainforge::mesh::PipelineStatus& status) {
  std::wstring text;
  if (status.stageText.empty()) {
    text = L"Working...";
  } else if (status.hasFraction) {
    text = Utf8ToWide(status.stageText) + L"... " + std::to_wstring(ProgressPercent(status.fraction)) + L"%";
  } else {
    text = Utf8ToWide(status.stageText) + L"...";
  }
  if (status.quality == grainforge::mesh::PipelineQuality::preview) text += L"  (draft)";
  return text + kCancelHint;
}

int ProgressPosition(float fraction) {
  if (std::isnan(fraction)) return 0;
  const double scaled = static_cast<double>(fraction) * kProgressRange + 0.5;
  if (scaled <= 0.0) return 0;
  if (scaled >= kProgressRange) return kProgressRange;
  return static_cast<int>(scaled);
}

ProgressChange ShowPipelineProgress(ProgressBarModel& model,
                                    const grainforge::mesh::PipelineStatus& status) {
  ProgressChange change;
  const bool determinate = !status.stageText.empty() && status.hasFraction;
  if (!model.shown) {
    model.shown = true;
    model.lastPosition = -1;
    change.show = true;
  }
  if (determinate != model.determinate) {
    model.determinate = determinate;
    change.marquee = !determinate;
    if (determinate) model.lastPosition = -1;
  }
  if (determinate) {
    const int position = ProgressPosition(status.fraction);
    if (position != model.lastPosition) {
      model.lastPosition = position;
      change.position = position;
    }
  }
  std::wstring text = PipelineProgressText(status);
  if (text != model.paneText) {
    model.paneText = text;
    change.text = std::move(text);
  }
  return change;
}

ProgressChange HidePipelineProgress(ProgressBarModel& model) {
  ProgressChange change;
  if (model.shown) {
    model.shown = false;
    if (!model.determinate) {
      change.marquee = false;
      model.determinate = true;
    }
    change.hide = true;
    model.lastPosition = -1;
  }
  if (!model.paneText.empty()) {
    model.paneText.clear();
    change.text = std::wstring();
  }
  return change;
}

LockIndicators LockIndicatorTexts(bool capsLock, bool numLock) {
  return LockIndicators{capsLock ? L"CAP" : L"", numLock ? L"NUM" : L"", L""};
}

DroppedFiles ClassifyDroppedFiles(const std::vector<std::filesystem::path>& paths) {
  DroppedFiles dropped;
  const std::vector<std::string>& images = ImageExtensions();
  for (const std::filesystem::path& path : paths) {
    const std::string extension = LowerExtension(path);
    if (extension == ".stl" || extension == ".gfproj") {
      if (!dropped.part) dropped.part = path;
    } else if (std::find(images.begin(), images.end(), extension) != images.end()) {
      if (!dropped.image) dropped.image = path;
    } else {
      dropped.leftAlone.push_back(PathToDisplay(path.filename()));
    }
  }
  return dropped;
}

std::wstring LeftAloneMessage(const std::vector<std::wstring>& names) {
  if (names.empty()) return {};
  std::wstring message = L"Not a part, a project or an image, so left alone: ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) message += L", ";
    message += names[i];
  }
  return message;
}

FrameKey FrameKeyFor(HookKey key, int modifiers, FocusKind focus) {
  if (focus == FocusKind::TextField) return FrameKey::PassOn;
  if (key == HookKey::Escape && modifiers == 0) return FrameKey::StopProcessing;
  const bool copyChord = modifiers == kModifierControl && (key == HookKey::LetterC || key == HookKey::Insert);
  if (copyChord && focus == FocusKind::OutputLog) return FrameKey::CopyLog;
  return FrameKey::PassOn;
}

namespace {

// What the extension of `name` marks the file as ("a part"), or null for a name of no kind the
// log must leave alone.
const wchar_t* MarkedKind(const std::string& extension) {
  if (extension == ".stl") return L"a part";
  if (extension == ".gfproj") return L"a project";
  if (extension == ".gfpreset") return L"a preset";
  const std::vector<std::string>& images = ImageExtensions();
  if (std::find(images.begin(), images.end(), extension) != images.end()) return L"an image";
  return nullptr;
}

}  // namespace

std::wstring LogFileRefusal(const std::filesystem::path& logFile, const OpenDocumentFiles& open) {
  const std::wstring kept = L", which the log never replaces";
  const std::pair<const std::filesystem::path*, const wchar_t*> openFiles[] = {
      {&open.part, L"the part"}, {&open.project, L"the project"}, {&open.textureImage, L"the texture image"}};
  for (const auto& [path, kind] : openFiles)
    if (!path->empty() && IsSameFile(logFile, *path))
      return std::wstring(L"it is ") + kind + L" the program has open" + kept;
  for (const std::filesystem::path& preset : open.presets)
    if (IsSameFile(logFile, preset)) return L"it is a preset file" + kept;
  if (const std::string what = ProgramFileWhat(logFile, open.program); !what.empty())
    return L"it is " + Utf8ToWide(what) + kept;
  const std::string extension = LowerExtension(logFile);
  if (const wchar_t* marked = MarkedKind(extension))
    return std::wstring(L"its name (") + Utf8ToWide(extension) + L") marks it as " + marked + kept;
  // The log is written through a link: the file replaced is the one at its end, judged alike.
  const std::filesystem::path target = platform::ResolveWriteTarget(logFile);
  if (target == logFile) return {};
  const std::string targetExtension = LowerExtension(target);
  if (const wchar_t* marked = MarkedKind(targetExtension))
    return L"it is a link to " + PathToDisplay(target) + L", whose name (" + Utf8ToWide(targetExtension) +
           L") marks it as " + marked + kept;
  return {};
}

std::filesystem::path ProfileFilePath(const char* xdgConfigHome, const char* home) {
  std::filesystem::path base;
  if (xdgConfigHome != nullptr && std::filesystem::path(xdgConfigHome).is_absolute())
    base = xdgConfigHome;
  else if (home != nullptr && std::filesystem::path(home).is_absolute())
    base = std::filesystem::path(home) / ".config";
  if (base.empty()) return {};
  return base / "Brookvane" / "Tessary.conf";
}

std::wstring DetailedLogMessage(bool on) {
  return on ? L"Detailed log on: every step reports its timings and counts from now on."
            : L"Detailed log off.";
}

std::wstring ManualFailureMessage(const std::filesystem::path& path, bool fileExists) {
  return (fileExists ? L"The manual could not be opened: " : L"The manual is not beside the program: ") +
         PathToDisplay(path);
}

bool KeepWaitingAtExit(int runningChecks, std::int64_t elapsedMilliseconds) {
  return runningChecks > 0 && elapsedMilliseconds < kExitWaitMilliseconds;
}

}  // namespace grainforge::app
