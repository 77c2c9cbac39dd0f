#pragma once

// Geometry of the texture section's three browsing controls, worked out without a window so
// that tests can check it: the segmented row (the tabs), the scrolling name list (the
// categories) and the scrolling thumbnail grid (the textures and presets). Sizes are written
// at 96 dpi and scaled with the control's own DPI; rectangles are in client pixels.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/shell/kit/pixel_rect.h"

namespace grainforge::app {

// One cell of the thumbnail grid.
struct ThumbnailItem {
  std::string key;    // identifies the item (texture keys, see texture_summary.h)
  std::string label;  // shown under the picture (UTF-8)
  std::vector<std::uint32_t> pixels;  // size x size, rows from the top, 0x00RRGGBB; or none
  int size = 0;                       // side of the square picture
  bool highlight = false;             // pale amber background: the user's own item
  std::filesystem::path file;         // a preset's own file, which a click loads; empty otherwise
};

// ---- Segmented control ---------------------------------------------------------------------

// Segment i of n across the client: x from left + W i / n to left + W (i + 1) / n, full height.
// A count below 1 divides as 1.
PixelRect SegmentRect(int index, int count, const PixelRect& client);
// The segment under x, or -1 outside the client or without segments.
int SegmentHitTest(int x, int y, int count, const PixelRect& client);

// ---- Thumbnail grid ------------------------------------------------------------------------

struct GridMetrics {
  int columns = 1;     // at least 1
  int gap = 6;         // between cells and round the edge
  int cellWidth = 24;
  int cellHeight = 35;
  int pictureHeight = 19;  // the top of the cell; the label strip is below it
  int labelHeight = 16;
};

// The cells for a client width: cell width max(s(24), (width - (N + 1) g) / N), picture 4/5 of
// it, a label strip of s(16). A column count below 1 lays out as one column.
GridMetrics MakeGridMetrics(int clientWidth, int columns, int dpi);
PixelRect GridCellRect(const GridMetrics& metrics, const PixelRect& client, int index, int scroll);
// 0 without items; else rows x (cell height + gap) + gap.
int GridContentHeight(const GridMetrics& metrics, int count);
// The first cell containing the point, or -1 (outside the client, between cells, no items).
int GridHitTest(const GridMetrics& metrics, const PixelRect& client, int count, int scroll,
                PixelPoint point);
// The rows of a square picture of `size` shown in an area: the top rows matching its aspect.
int GridPictureRows(int areaWidth, int areaHeight, int size);
// Whether new items keep the scroll position: same count and the same keys in order.
bool SameItemKeys(const std::vector<ThumbnailItem>& a, const std::vector<ThumbnailItem>& b);
// The scroll position limited to 0 .. max(content - view, 0).
int ClampScrollPosition(int position, int contentHeight, int viewHeight);
// Half a cell per wheel notch (120 units), truncated towards zero.
int GridWheelTarget(int position, int wheelDelta, int cellHeight);

// ---- Name list -----------------------------------------------------------------------------

int NameListRowHeight(int dpi);
PixelRect NameListRowRect(const PixelRect& client, int index, int dpi, int scroll);
int NameListContentHeight(int count, int dpi);
int NameListHitTest(const PixelRect& client, int count, int dpi, int scroll, PixelPoint point);
// The selection after the names were replaced: min(selection, count - 1), -1 for an empty list.
int SelectionAfterNames(int selection, int count);
// The scroll position that shows row `index`: a row above the view goes to its top, a row
// reaching below goes to its bottom, a visible row keeps the position.
int NameListScrollToShow(int index, int scroll, int viewHeight, int dpi);

}  // namespace grainforge::app
