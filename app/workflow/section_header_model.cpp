#include "app/workflow/section_header_model.h"

#include <algorithm>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr Rgb kDotUpToDate{46, 178, 90};
constexpr Rgb kDotPending{243, 156, 51};
constexpr Rgb kDotInactive{170, 176, 186};
constexpr Rgb kDotRunning{58, 123, 213};

// A square of that size from left, centred between the client's top and bottom: each end is
// worked out from the sum of top and bottom and halved on its own, so that an odd sum rounds
// both the same way.
PixelRect CentredSquare(const PixelRect& client, int left, int size) {
  const int sum = client.top + client.bottom;
  return PixelRect{left, (sum - size) / 2, left + size, (sum + size) / 2};
}

}  // namespace

HeaderParts LayoutHeaderParts(const PixelRect& client, int dpi, bool hasBox) {
  const auto s = [dpi](int v) { return ScaleForDpi(v, dpi); };
  HeaderParts parts;
  parts.chevron = CentredSquare(client, client.left + s(8), s(12));
  parts.icon = CentredSquare(client, parts.chevron.right + s(6), s(24));
  int x = parts.icon.right + s(6);
  if (hasBox) {
    parts.box = CentredSquare(client, x, s(14));
    x = parts.box.right + s(6);
  }
  parts.gear = CentredSquare(client, client.right - s(18) - s(8), s(18));
  parts.dot = CentredSquare(client, parts.gear.left - s(10) - s(6), s(10));
  parts.title = PixelRect{x, client.top, parts.dot.left - s(6), client.bottom};
  return parts;
}

HeaderCode HeaderHitTest(const HeaderParts& parts, bool hasBox, int x, int y) {
  if (hasBox && parts.box.Contains(x, y)) return HeaderCode::Switch;
  if (parts.gear.Contains(x, y)) return HeaderCode::Settings;
  if (parts.chevron.Contains(x, y) || parts.icon.Contains(x, y) || parts.title.Contains(x, y))
    return HeaderCode::Collapse;
  return HeaderCode::None;
}

DotLook StatusDotLook(SectionStatus status, bool switchOn, bool blinkPhase) {
  if (!switchOn) return {true, kDotInactive, true};
  switch (status) {
    case SectionStatus::UpToDate:
      return {true, kDotUpToDate, false};
    case SectionStatus::Pending:
      return {true, kDotPending, false};
    case SectionStatus::Inactive:
      return {true, kDotInactive, true};
    case SectionStatus::Running:
      return {true, kDotRunning, blinkPhase};
  }
  return {};
}

std::array<PixelPoint, 3> ChevronTriangle(const PixelRect& c, bool collapsed) {
  const int d = std::max(1, c.Width() / 5);
  if (collapsed)
    return {{{c.left + d, c.top}, {c.right - d, (c.top + c.bottom) / 2}, {c.left + d, c.bottom}}};
  return {{{c.left, c.top + d}, {c.right, c.top + d}, {(c.left + c.right) / 2, c.bottom - d}}};
}

bool SectionHeaderModel::SetSwitch(bool on) {
  if (on == switchOn_) return false;
  switchOn_ = on;
  return true;
}

bool SectionHeaderModel::SetCollapsed(bool collapsed) {
  if (collapsed == collapsed_) return false;
  collapsed_ = collapsed;
  return true;
}

SectionHeaderModel::TimerChange SectionHeaderModel::SetStatus(SectionStatus status) {
  if (status == status_) return TimerChange::None;
  status_ = status;
  if (status == SectionStatus::Running) {
    // A run that starts shows its dot at once rather than half a period later.
    blinkPhase_ = false;
    return TimerChange::Start;
  }
  return TimerChange::Stop;
}

bool SectionHeaderModel::SetGearHot(bool hot) {
  if (hot == gearHot_) return false;
  gearHot_ = hot;
  return true;
}

HeaderCode SectionHeaderModel::Click(const HeaderParts& parts, int x, int y) {
  const HeaderCode code = HeaderHitTest(parts, Section().hasSwitch, x, y);
  if (code == HeaderCode::Switch) switchOn_ = !switchOn_;
  if (code == HeaderCode::Collapse) collapsed_ = !collapsed_;
  return code;
}

}  // namespace grainforge::app
