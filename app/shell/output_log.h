#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell/text_layout.h"
#include "app/shell/text_metrics.h"

namespace grainforge::app {

// Scales a size given at 96 dpi, rounding halves away from zero.
int ScaleForDpi(int value, int dpi);

// Pixel sizes of the output list at its current DPI and width.
struct OutputListGeometry {
  int dpi = 96;
  int clientWidth = 0;
  int lineHeight = 1;

  int Margin() const { return ScaleForDpi(6, dpi); }
  int BarWidth() const { return ScaleForDpi(3, dpi); }
  int IndentStep() const { return ScaleForDpi(16, dpi); }
  // Narrower rows than this stay readable only as rows of this width.
  int MinimumRowWidth() const { return ScaleForDpi(40, dpi); }
  int AvailableWidth() const;
};

// An entry's height is kept in a byte, so 255 px at most; taller lines end in "…".
constexpr int kMaxLogEntryHeight = 255;

// Indent of a line's continuation rows: one step plus the width of its own leading spaces.
int HangingIndent(const ITextMetrics& metrics, const OutputListGeometry& geometry, std::wstring_view text);
// The rows a log line is drawn in: the first at the available width, the rest indented.
std::vector<TextRow> WrapLogLine(const ITextMetrics& metrics, const OutputListGeometry& geometry,
                                 std::wstring_view text);
// Height of a line's entry: its rows plus 2 px, at most kMaxLogEntryHeight.
int MeasureLogLineHeight(const ITextMetrics& metrics, const OutputListGeometry& geometry, std::wstring_view text);

struct OutputLogEntry {
  std::wstring text;
  int level = 1;   // stored as given (or classified); drawing counts values outside 1..4 as plain
  int height = 0;  // pixels; 0 until measured
};

// The lines of the output log, independent of any window: split, classified, capped, saved.
// The list shows the lines since the last Clear (Process starts it afresh) up to its cap; the
// saved log keeps every line of the session apart from them, so a log sent with a report
// still holds the load warnings and refusals that came before the last run.
class OutputLogModel {
public:
  static constexpr std::size_t kMaxLines = 20000;
  // The saved session keeps its newest lines within this many bytes of UTF-8: far more than
  // any session writes by hand, yet a bound on a run left going for days.
  static constexpr std::size_t kMaxSessionBytes = std::size_t{64} << 20;

  struct InsertResult {
    std::size_t firstNew = 0;  // entries from here on were added by the call and want measuring
    std::size_t removed = 0;   // entries dropped from the top by the cap
  };

  // Adds one entry per "\n"-separated piece (an empty last piece too); level 0 classifies
  // each piece from its text.
  InsertResult Insert(std::wstring_view text, int level);
  // Empties the list; the discarded count, the caption and the session's saved lines stay.
  void Clear() { entries_.clear(); }

  std::size_t Size() const { return entries_.size(); }
  const OutputLogEntry& Entry(std::size_t index) const { return entries_[index]; }
  void SetHeight(std::size_t index, int height) { entries_[index].height = height; }
  std::uint64_t Discarded() const { return discarded_; }

  std::wstring Caption() const;
  // The saved log: every line of the session, also those cleared from the list or beyond its
  // cap, in UTF-8, each followed by a line feed (this system's line end), no byte-order mark.
  // When the session outgrew kMaxSessionBytes, a first line counts the older lines left out.
  std::string FileBytes() const;
  // The texts of the given entries joined by line feeds, for the clipboard.
  std::wstring JoinLines(const std::vector<std::size_t>& indices) const;

private:
  // Adds one line to the session's saved lines, dropping the oldest beyond the bound.
  void KeepInSession(std::wstring_view line);

  std::deque<OutputLogEntry> entries_;
  std::uint64_t discarded_ = 0;
  std::string session_;  // the session's lines as saved, each ending in a line feed
  std::uint64_t sessionDropped_ = 0;
};

// The top entry that shows the end of the list: the entries from it to the last fit within the
// client height (the last one always counts, even when taller).
std::size_t TopIndexForEnd(const OutputLogModel& model, int clientHeight);
// Where a top line the user is looking at goes after `removed` lines left the top.
std::size_t KeptTopIndex(std::size_t oldTop, std::size_t removed, std::size_t size);

// UTF-8 of a wide text; code units that are not Unicode scalar values become U+FFFD.
std::string ToUtf8(std::wstring_view text);

// The reason given for a log target that is a folder, a named pipe or a device.
inline constexpr const wchar_t* kLogTargetNotRegularFile =
    L"it is not a regular file (it is a folder, a pipe or a device)";

// Writes the bytes to `path` (a link followed) as every save does: into a new file beside it,
// renamed over the old log only once complete, so a failed write leaves the old log as it was.
// A folder, pipe or device at `path` is refused at once, never opened or waited on. On failure
// `error` holds the reason.
bool WriteLogFile(const std::filesystem::path& path, const std::string& bytes, std::wstring& error);

}  // namespace grainforge::app
