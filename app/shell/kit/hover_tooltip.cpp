#include "app/shell/kit/hover_tooltip.h"

#include <algorithm>
#include <utility>

namespace grainforge::app {
namespace {

// The pointer's image hangs below its hot spot; a tooltip starts clear of it.
constexpr int kBelowCursor = 20;
constexpr int kAboveCursor = 4;

bool SameRegion(const TooltipRegion& a, const TooltipRegion& b) {
  return a.rect == b.rect && a.title == b.title && a.body == b.body;
}

}  // namespace

void HoverTooltipModel::SetRegions(std::vector<TooltipRegion> regions) {
  const bool keep = current_ >= 0 && current_ < static_cast<int>(regions.size()) &&
                    SameRegion(regions[static_cast<std::size_t>(current_)],
                               regions_[static_cast<std::size_t>(current_)]);
  regions_ = std::move(regions);
  if (!keep) {
    current_ = -1;
    shown_ = false;
    suppressed_ = false;
  }
}

int HoverTooltipModel::RegionAt(int x, int y) const {
  for (std::size_t i = 0; i < regions_.size(); ++i) {
    if (!regions_[i].rect.IsEmpty() && regions_[i].rect.Contains(x, y)) return static_cast<int>(i);
  }
  return -1;
}

HoverTooltipModel::Change HoverTooltipModel::MouseMove(int x, int y, Clock::time_point now) {
  const int index = RegionAt(x, y);
  if (index == current_) return {};
  Change change;
  change.hide = shown_;
  shown_ = false;
  suppressed_ = false;
  current_ = index;
  restingSince_ = now;
  change.arm = index >= 0;
  return change;
}

HoverTooltipModel::Change HoverTooltipModel::HideAndForget(bool keepCurrent) {
  Change change;
  change.hide = shown_;
  shown_ = false;
  if (keepCurrent) {
    suppressed_ = current_ >= 0;
  } else {
    current_ = -1;
    suppressed_ = false;
  }
  return change;
}

HoverTooltipModel::Change HoverTooltipModel::MouseLeave() {
  return HideAndForget(false);
}

HoverTooltipModel::Change HoverTooltipModel::ButtonDown() {
  return HideAndForget(true);
}

std::optional<TooltipRegion> HoverTooltipModel::TakeDue(Clock::time_point now) {
  if (current_ < 0 || shown_ || suppressed_ || now - restingSince_ < delay_) return std::nullopt;
  const TooltipRegion& region = regions_[static_cast<std::size_t>(current_)];
  if (region.title.empty() && region.body.empty()) return std::nullopt;
  shown_ = true;
  return region;
}

PixelPoint PlaceTooltip(PixelPoint cursor, int width, int height, const PixelRect& workArea) {
  PixelPoint at{cursor.x, cursor.y + kBelowCursor};
  if (at.y + height > workArea.bottom) at.y = cursor.y - kAboveCursor - height;
  at.y = std::max(at.y, workArea.top);
  at.x = std::min(at.x, workArea.right - width);
  at.x = std::max(at.x, workArea.left);
  return at;
}

}  // namespace grainforge::app
