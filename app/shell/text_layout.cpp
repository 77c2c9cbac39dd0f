#include "app/shell/text_layout.h"

#include <algorithm>

namespace grainforge::app {
namespace {

constexpr wchar_t kEllipsis[] = L"\u2026";

// Characters from `start` whose run fits in `width`, read off the extents of the whole text.
int FitFrom(const std::vector<int>& extents, int start, int width) {
  const int base = start > 0 ? extents[static_cast<std::size_t>(start - 1)] : 0;
  const auto first = extents.begin() + start;
  const auto beyond = std::upper_bound(first, extents.end(), base + std::max(width, 0));
  return static_cast<int>(beyond - first);
}

int FindBreakingSpace(std::wstring_view text, int from, int to) {
  for (int k = to; k > from; --k) {
    if (static_cast<std::size_t>(k) < text.size() && text[static_cast<std::size_t>(k)] == L' ') return k;
  }
  return -1;
}

}  // namespace

int FitCount(const ITextMetrics& metrics, std::wstring_view text, int width) {
  if (text.empty()) return 0;
  return FitFrom(metrics.PartialExtents(text), 0, width);
}

std::vector<TextRow> WrapText(const ITextMetrics& metrics, std::wstring_view text, int firstWidth, int nextWidth) {
  const int length = static_cast<int>(text.size());
  if (length == 0) return {TextRow{0, 0}};
  const std::vector<int> extents = metrics.PartialExtents(text);
  if (static_cast<int>(extents.size()) != length) return {TextRow{0, length}};
  std::vector<TextRow> rows;
  int p = 0;
  while (true) {
    const int width = rows.empty() ? firstWidth : nextWidth;
    int n = FitFrom(extents, p, width);
    // The extents are measured along the whole line; a row drawn on its own may come out wider
    // (GTK gave "nothing of that name is in its folder" 8 px more than its share, and the box cut
    // its last letters): such a row gives back characters until it fits as drawn.
    const auto drawn = [&](int count) {
      std::wstring_view row = text.substr(static_cast<std::size_t>(p), static_cast<std::size_t>(count));
      while (!row.empty() && row.back() == L' ') row.remove_suffix(1);
      return metrics.Width(row);
    };
    while (n > 1 && drawn(n) > width) --n;
    if (p + n >= length) {
      rows.push_back({p, length});
      break;
    }
    const int space = FindBreakingSpace(text, p, p + n);
    if (space >= 0) {
      rows.push_back({p, space});
      p = space + 1;
    } else {
      rows.push_back({p, p + std::max(n, 1)});
      p += std::max(n, 1);
    }
    while (p < length && text[static_cast<std::size_t>(p)] == L' ') ++p;
    if (p >= length) break;
  }
  return rows;
}

int LeadingSpaceWidth(const ITextMetrics& metrics, std::wstring_view text) {
  const std::size_t spaces = std::min(text.size(), text.find_first_not_of(L' '));
  return spaces == 0 ? 0 : metrics.Width(text.substr(0, spaces));
}

std::wstring EllipsizeEnd(const ITextMetrics& metrics, std::wstring_view text, int width) {
  if (metrics.Width(text) <= width) return std::wstring(text);
  return CutWithEllipsis(metrics, text, width);
}

std::wstring CutWithEllipsis(const ITextMetrics& metrics, std::wstring_view text, int width) {
  const int ellipsisWidth = metrics.Width(kEllipsis);
  if (ellipsisWidth > width) return {};
  const int keep = FitCount(metrics, text, width - ellipsisWidth);
  return std::wstring(text.substr(0, static_cast<std::size_t>(keep))) + kEllipsis;
}

std::vector<std::wstring_view> SplitLines(std::wstring_view text) {
  std::vector<std::wstring_view> lines;
  while (true) {
    const std::size_t cut = text.find(L'\n');
    std::wstring_view line = text.substr(0, cut);
    if (cut != std::wstring_view::npos) {
      while (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    }
    lines.push_back(line);
    if (cut == std::wstring_view::npos) break;
    text.remove_prefix(cut + 1);
  }
  return lines;
}

int CountWrappedRows(const ITextMetrics& metrics, std::wstring_view text, int width) {
  int rows = 0;
  for (std::wstring_view line : SplitLines(text)) {
    rows += static_cast<int>(WrapText(metrics, line, width, width).size());
  }
  return rows;
}

}  // namespace grainforge::app
