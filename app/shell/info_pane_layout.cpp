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

InfoPaneLayout LayoutInfoPane(int width, int height, int infoRows, int lineHeight) {
  const int inner = width - 2 * kEdge;
  if (lineHeight <= 0) lineHeight = kFallbackInfoLineHeight;
  int box = 0;
  if (infoRows > 0) {
    const long long wanted = static_cast<long long>(infoRows) * lineHeight + 2 * kInfoBoxPadding;
    box = static_cast<int>(std::min<long long>(height / 2, wanted));
  }
  InfoPaneLayout layout;
  const int reportHeight = std::max(height - (box > 0 ? box + kEdge : 0) - 2 * kEdge, kSmallestReportHeight);
  layout.report = {kEdge, kEdge, inner, reportHeight};
  if (box > 0) layout.info = {kEdge, height - box - kEdge, inner, box};
  return layout;
}

std::vector<std::wstring> InfoBoxRows(const ITextMetrics& metrics, std::wstring_view text, int boxWidth,
                                      int boxHeight) {
  const int width = std::max(1, boxWidth - 2 * kInfoBoxPadding);
  const int lineHeight = std::max(1, metrics.LineHeight());
  const auto fitting = static_cast<std::size_t>(std::max(1, (boxHeight - 2 * kInfoBoxPadding) / lineHeight));
  std::vector<std::wstring> rows;
  for (std::wstring_view line : SplitLines(text)) {
    for (const TextRow& row : WrapText(metrics, line, width, width)) {
      if (rows.size() == fitting) {
        rows.back() = CutWithEllipsis(metrics, rows.back(), width);
        return rows;
      }
      rows.emplace_back(line.substr(static_cast<std::size_t>(row.start), static_cast<std::size_t>(row.end - row.start)));
    }
  }
  return rows;
}

}  // namespace grainforge::app
