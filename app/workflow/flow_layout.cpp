#include "app/workflow/flow_layout.h"

#include <algorithm>
#include <cstdint>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {

int ClampFlowScroll(int pos, int contentHeight, int viewHeight) {
  const int maximum = std::max(contentHeight - std::max(viewHeight, 0), 0);
  return std::clamp(pos, 0, maximum);
}

FlowStack StackSections(const std::array<SectionExtent, kFlowStepCount>& sections,
                        const PixelRect& client, int scrollPos) {
  FlowStack stack;
  for (const SectionExtent& section : sections)
    stack.contentHeight += std::max(section.headerHeight, 0) +
                           (section.collapsed ? 0 : std::max(section.bodyHeight, 0));
  stack.scrollPos = ClampFlowScroll(scrollPos, stack.contentHeight, client.Height());
  int y = client.top - stack.scrollPos;
  for (int i = 0; i < kFlowStepCount; ++i) {
    const SectionExtent& section = sections[i];
    const int header = std::max(section.headerHeight, 0);
    const int body = section.collapsed ? 0 : std::max(section.bodyHeight, 0);
    stack.headers[i] = PixelRect{client.left, y, client.right, y + header};
    stack.bodies[i] = PixelRect{client.left, y + header, client.right, y + header + body};
    y += header + body;
  }
  return stack;
}

int WheelScrollTarget(int pos, int rotation, int dpi) {
  // 64-bit product: a fast wheel can report large rotations in one event.
  const std::int64_t step =
      static_cast<std::int64_t>(rotation) * ScaleForDpi(kFlowScrollLine, dpi) * kFlowWheelLines;
  const std::int64_t target = pos - step / kWheelNotch;
  return static_cast<int>(std::clamp<std::int64_t>(target, INT32_MIN, INT32_MAX));
}

void FlowCollapseModel::LoadFromProfile() {
  const int stored = profile_ != nullptr
                         ? profile_->ReadInt(kFlowProfileSection, kFlowCollapsedKey, 0)
                         : 0;
  SetCollapsedMask(stored);
}

bool FlowCollapseModel::SetSectionCollapsed(FlowStep step, bool collapsed) {
  if (IsCollapsed(step) == collapsed) return false;
  mask_ ^= 1 << StepIndex(step);
  Save();
  return true;
}

void FlowCollapseModel::SetCollapsedMask(int mask) {
  mask_ = mask & kAllSectionsMask;
  Save();
}

void FlowCollapseModel::OnHeaderCollapse(FlowStep step, bool collapsed, bool ctrlHeld) {
  if (ctrlHeld) {
    SetCollapsedMask(SoloOpenMask(step));
    return;
  }
  const int bit = 1 << StepIndex(step);
  mask_ = collapsed ? (mask_ | bit) : (mask_ & ~bit);
  Save();
}

void FlowCollapseModel::Save() {
  if (profile_ != nullptr) profile_->WriteInt(kFlowProfileSection, kFlowCollapsedKey, mask_);
}

}  // namespace grainforge::app
