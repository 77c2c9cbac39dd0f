#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/shell/text_metrics.h"

namespace grainforge::app {

// One displayed row of a wrapped text: characters [start, end).
struct TextRow {
  int start = 0;
  int end = 0;
  bool operator==(const TextRow&) const = default;
};

// How many leading characters of `text` fit within `width` pixels.
int FitCount(const ITextMetrics& metrics, std::wstring_view text, int width);

// Breaks text into rows at spaces: the first row is `firstWidth` wide, the others `nextWidth`.
// A word longer than a row is cut where the row is full (at least one character per row);
// spaces at the start of a continuation row are skipped. An empty text gives one empty row.
std::vector<TextRow> WrapText(const ITextMetrics& metrics, std::wstring_view text, int firstWidth, int nextWidth);

// Width in pixels of the leading spaces of `text`.
int LeadingSpaceWidth(const ITextMetrics& metrics, std::wstring_view text);

// The text when it fits in `width`, else its longest prefix that fits with "…" after it (just
// "…", or nothing, when not even that fits).
std::wstring EllipsizeEnd(const ITextMetrics& metrics, std::wstring_view text, int width);

// The longest prefix of `text` that fits in `width` together with "…" after it, with the "…";
// for a row that is followed by more text than can be shown.
std::wstring CutWithEllipsis(const ITextMetrics& metrics, std::wstring_view text, int width);

// Number of rows the text takes when each of its lines ("\n", "\r\n" or "\r\r\n" ends) is
// wrapped to `width`.
int CountWrappedRows(const ITextMetrics& metrics, std::wstring_view text, int width);

// Splits text into lines at "\n", dropping the "\r"s before each break.
std::vector<std::wstring_view> SplitLines(std::wstring_view text);

}  // namespace grainforge::app
