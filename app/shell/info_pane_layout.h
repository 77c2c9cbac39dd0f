#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/document/document_commands.h"
#include "app/document/document_host.h"
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
// The same for a box whose messages are `contentHeight` pixels high (InfoContent::height); the
// box scrolls what does not fit.
InfoPaneLayout LayoutInfoPaneForContent(int width, int height, int contentHeight);
// Width of the information box in a pane of the given width.
int InfoBoxWidth(int paneWidth);

// Width available to the information text inside a pane of the given width.
int InfoTextWidth(int paneWidth);

// Rows the information text takes in a pane of the given width; 0 for an empty text.
int CountInfoRows(const ITextMetrics& metrics, std::wstring_view text, int paneWidth);

// Every row of the information text in a box of the given width, wrapped and never cut: what
// the box cannot show at once it scrolls to.
std::vector<std::wstring> InfoBoxRows(const ITextMetrics& metrics, std::wstring_view text, int boxWidth);

// Space between two messages of the box, where the pane shows through.
constexpr int kInfoMessageGap = 4;

// One message laid out in the box: a band in its kind's colours, its rows inside the padding.
struct InfoBand {
  int kind = kInfoOk;
  int top = 0;     // from the top of the box's content
  int height = 0;  // the rows and the padding above and below them
  std::vector<std::wstring> rows;
  friend bool operator==(const InfoBand&, const InfoBand&) = default;
};

struct InfoContent {
  std::vector<InfoBand> bands;
  int height = 0;  // every band and the gaps between them; 0 without a message
};

// The messages one under another, in the order given, each wrapped to a box `boxWidth` wide.
InfoContent LayoutInfoContent(const ITextMetrics& metrics, const std::vector<InformationMessage>& messages,
                              int boxWidth);

}  // namespace grainforge::app
