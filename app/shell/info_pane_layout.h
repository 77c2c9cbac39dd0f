#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/document/document_commands.h"
#include "app/shell/log_line.h"
#include "app/shell/splash_layout.h"
#include "app/shell/text_metrics.h"

namespace grainforge::app {

// Colour of the information box (the document's kinds): kInfoOk 0 success, kInfoWarning 1,
// anything else error.

struct InfoColours {
  Rgb background;
  Rgb text;
};
InfoColours InfoColoursOf(int kind);

// Padding of the information box around its text, each side; the box is its rows plus twice this.
constexpr int kInfoBoxPadding = 5;
// Row height used when the box's font cannot be measured.
constexpr int kFallbackInfoLineHeight = 15;

struct InfoPaneLayout {
  AreaRect report;
  AreaRect info;  // height 0 when the box is hidden
};

// Report box above, information box (when it has text) at the bottom, taking at most half the
// pane. `infoRows` is the number of rows the information text wraps to at the box's width.
InfoPaneLayout LayoutInfoPane(int width, int height, int infoRows, int lineHeight);

// Width available to the information text inside a pane of the given width.
int InfoTextWidth(int paneWidth);

// Rows the information text takes in a pane of the given width; 0 for an empty text.
int CountInfoRows(const ITextMetrics& metrics, std::wstring_view text, int paneWidth);

// The rows of the information text drawn in a box of the given size: whole rows only, and
// when the text goes on beyond the box the last row shown ends in "…".
std::vector<std::wstring> InfoBoxRows(const ITextMetrics& metrics, std::wstring_view text, int boxWidth,
                                      int boxHeight);

}  // namespace grainforge::app
