#include "app/shell/info_pane_layout.h"

#include <algorithm>

#include "app/shell/text_layout.h"

namespace grainforge::app {
namespace {

constexpr int kEdge = 4;
constexpr int kSmallestReportHeight = 10;

}  // namespace

InfoColours InfoColoursOf(int kind) {
  switch (kind) {
    case kInfoOk: return {{226, 244, 224}, {28, 92, 40}};
    case kInfoWarning: return {{255, 244, 214}, {122, 78, 0}};
    default: return {{253, 226, 226}, {140, 24, 24}};
  }
}

int InfoTextWidth(int paneWidth) { return std::max(1, paneWidth - 2 * kEdge - 2 * kInfoBoxPadding); }

int CountInfoRows(const ITextMetrics& metrics, std::wstring_view text, int paneWidth) {
  if (text.empty()) return 0;
  return CountWrappedRows(metrics, text, InfoTextWidth(paneWidth));
}

int InfoBoxWidth(int paneWidth) { return paneWidth - 2 * kEdge; }

InfoPaneLayout LayoutInfoPane(int width, int height, int infoRows, int lineHeight) {
  if (lineHeight <= 0) lineHeight = kFallbackInfoLineHeight;
  long long wanted = 0;
  if (infoRows > 0) wanted = static_cast<long long>(infoRows) * lineHeight + 2 * kInfoBoxPadding;
  return LayoutInfoPaneForContent(width, height, static_cast<int>(std::min<long long>(wanted, height)));
}

InfoPaneLayout LayoutInfoPaneForContent(int width, int height, int contentHeight) {
  const int inner = InfoBoxWidth(width);
  const int box = contentHeight > 0 ? std::min(height / 2, contentHeight) : 0;
  InfoPaneLayout layout;
  const int reportHeight = std::max(height - (box > 0 ? box + kEdge : 0) - 2 * kEdge, kSmallestReportHeight);
  layout.report = {kEdge, kEdge, inner, reportHeight};
  if (box > 0) layout.info = {kEdge, height - box - kEdge, inner, box};
  return layout;
}

std::vector<std::wstring> InfoBoxRows(const ITextMetrics& metrics, std::wstring_view text, int boxWidth) {
  const int width = std::max(1, boxWidth - 2 * kInfoBoxPadding);
  std::vector<std::wstring> rows;
  for (std::wstring_view line : SplitLines(text)) {
    for (const TextRow& row : WrapText(metrics, line, width, width))
      rows.emplace_back(line.substr(static_cast<std::size_t>(row.start), static_cast<std::size_t>(row.end - row.start)));
  }
  return rows;
}

InfoContent LayoutInfoContent(const ITextMetrics& metrics, const std::vector<InformationMessage>& messages,
                              int boxWidth) {
  const int lineHeight = metrics.LineHeight() > 0 ? metrics.LineHeight() : kFallbackInfoLineHeight;
  InfoContent content;
  for (const InformationMessage& message : messages) {
    if (message.text.empty()) continue;
    if (!content.bands.empty()) content.height += kInfoMessageGap;
    InfoBand band{message.kind, content.height, 0, InfoBoxRows(metrics, message.text, boxWidth)};
    band.height = static_cast<int>(band.rows.size()) * lineHeight + 2 * kInfoBoxPadding;
    content.height += band.height;
    content.bands.push_back(std::move(band));
  }
  return content;
}

}  // namespace grainforge::app
