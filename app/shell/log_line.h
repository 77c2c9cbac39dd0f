#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/shell/kit/ui_colours.h"

namespace grainforge::app {

// Level of an output-log line. Callers may pass kLineClassify to have the line read from its text.
enum LogLevel : int {
  kLineClassify = 0,
  kLinePlain = 1,
  kLineSuccess = 2,
  kLineWarning = 3,
  kLineError = 4,
};

enum class LogSpanKind : int { kText = 0, kLabel = 1, kNumber = 2, kPath = 3 };

// One coloured run of a log line; the spans of a line cover it exactly, in order.
struct LogSpan {
  int start = 0;
  int length = 0;
  LogSpanKind kind = LogSpanKind::kText;
  bool operator==(const LogSpan&) const = default;
};

// The level a line gets from the key phrases of the program's own wording.
int ClassifyLogLine(std::wstring_view line);

// True when the first occurrence of `phrase` in `lowerLine` is followed by a count that is not
// zero ("open edges: 0,010" yes, "open edges: 0,000" no).
bool HasNonZeroCountAfter(std::wstring_view lowerLine, std::wstring_view phrase);

// Cuts a line into a leading label, numbers with their units, a trailing path and plain text.
std::vector<LogSpan> TokenizeLogLine(std::wstring_view line);

// Takes the "(... ms)" timings out of a line; a line that is only a timing ("in 12.5 ms")
// becomes empty. Used while the detailed log is off.
std::wstring StripTimings(std::wstring_view line);

// Text colour of a line's level; values outside 1..4 count as plain.
Rgb LogLevelColour(int level);
// Colour of a span on a line of the given level.
Rgb LogSpanColour(LogSpanKind kind, int level);

}  // namespace grainforge::app
