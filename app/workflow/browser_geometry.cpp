#include "app/workflow/browser_geometry.h"

#include <algorithm>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr int kGridGap = 6;
constexpr int kGridMinimumCell = 24;
constexpr int kGridLabel = 16;
constexpr int kNameRow = 18;

}  // namespace

PixelRect SegmentRect(int index, int count, const PixelRect& client) {
  const int n = std::max(count, 1);
  const long long width = client.Width();
  return PixelRect{client.left + static_cast<int>(width * index / n), client.top,
                   client.left + static_cast<int>(width * (index + 1) / n), client.bottom};
}

int SegmentHitTest(int x, int y, int count, const PixelRect& client) {
  if (count < 1 || !client.Contains(x, y)) return -1;
  for (int i = 0; i < count; ++i)
    if (SegmentRect(i, count, client).Contains(x, y)) return i;
  return -1;
}

GridMetrics MakeGridMetrics(int clientWidth, int columns, int dpi) {
  GridMetrics m;
  m.columns = std::max(columns, 1);
  m.gap = ScaleForDpi(kGridGap, dpi);
  m.cellWidth = std::max(ScaleForDpi(kGridMinimumCell, dpi), (clientWidth - (m.columns + 1) * m.gap) / m.columns);
  m.pictureHeight = m.cellWidth * 4 / 5;
  m.labelHeight = ScaleForDpi(kGridLabel, dpi);
  m.cellHeight = m.pictureHeight + m.labelHeight;
  return m;
}

PixelRect GridCellRect(const GridMetrics& m, const PixelRect& client, int index, int scroll) {
  const int column = index % m.columns;
  const int row = index / m.columns;
  const int left = client.left + m.gap + column * (m.cellWidth + m.gap);
  const int top = client.top + m.gap + row * (m.cellHeight + m.gap) - scroll;
  return PixelRect{left, top, left + m.cellWidth, top + m.cellHeight};
}

int GridContentHeight(const GridMetrics& m, int count) {
  if (count <= 0) return 0;
  const int rows = (count + m.columns - 1) / m.columns;
  return rows * (m.cellHeight + m.gap) + m.gap;
}

int GridHitTest(const GridMetrics& m, const PixelRect& client, int count, int scroll, PixelPoint p) {
  if (count <= 0 || !client.Contains(p.x, p.y)) return -1;
  // Only the row and column under the point can hold it.
  const int pitchX = m.cellWidth + m.gap;
  const int pitchY = m.cellHeight + m.gap;
  const int column = (p.x - client.left - m.gap) >= 0 ? (p.x - client.left - m.gap) / pitchX : -1;
  const int row = (p.y - client.top - m.gap + scroll) >= 0 ? (p.y - client.top - m.gap + scroll) / pitchY : -1;
  if (column < 0 || row < 0 || column >= m.columns) return -1;
  const long long index = static_cast<long long>(row) * m.columns + column;
  if (index >= count) return -1;
  return GridCellRect(m, client, static_cast<int>(index), scroll).Contains(p.x, p.y) ? static_cast<int>(index) : -1;
}

int GridPictureRows(int areaWidth, int areaHeight, int size) {
  if (size <= 0) return 0;
  const long long rows = static_cast<long long>(areaHeight) * size / std::max(areaWidth, 1);
  return static_cast<int>(std::min<long long>(std::max<long long>(rows, 1), size));
}

bool SameItemKeys(const std::vector<ThumbnailItem>& a, const std::vector<ThumbnailItem>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const ThumbnailItem& x, const ThumbnailItem& y) { return x.key == y.key; });
}

int ClampScrollPosition(int position, int contentHeight, int viewHeight) {
  return std::clamp(position, 0, std::max(contentHeight - viewHeight, 0));
}

int GridWheelTarget(int position, int wheelDelta, int cellHeight) {
  return position - static_cast<int>(static_cast<long long>(wheelDelta) * cellHeight / 240);
}

int NameListRowHeight(int dpi) { return ScaleForDpi(kNameRow, dpi); }

PixelRect NameListRowRect(const PixelRect& client, int index, int dpi, int scroll) {
  const int h = NameListRowHeight(dpi);
  const int top = client.top + 1 + h * index - scroll;
  return PixelRect{client.left + 1, top, client.right - 1, top + h};
}

int NameListContentHeight(int count, int dpi) { return NameListRowHeight(dpi) * std::max(count, 0) + 2; }

int NameListHitTest(const PixelRect& client, int count, int dpi, int scroll, PixelPoint p) {
  if (!client.Contains(p.x, p.y)) return -1;
  const int h = std::max(NameListRowHeight(dpi), 1);
  const int offset = p.y - client.top - 1 + scroll;
  if (offset < 0) return -1;
  const int row = offset / h;
  if (row >= count) return -1;
  return NameListRowRect(client, row, dpi, scroll).Contains(p.x, p.y) ? row : -1;
}

int SelectionAfterNames(int selection, int count) {
  if (count <= 0) return -1;
  return std::min(selection, count - 1);
}

int NameListScrollToShow(int index, int scroll, int viewHeight, int dpi) {
  const int h = NameListRowHeight(dpi);
  const int top = 1 + h * index - scroll;
  if (top < 0) return scroll + top;
  if (top + h > viewHeight) return scroll + (top + h - viewHeight);
  return scroll;
}

}  // namespace grainforge::app
