#pragma once

// The workflow window without the window system: stacking the four sections (a header bar,
// then the body unless collapsed), scrolling the column, and which sections are collapsed,
// kept in the user profile as a bit mask ("Workflow"/"Collapsed2", bit i for step i).

#include <array>

#include "app/shell/kit/pixel_rect.h"
#include "app/shell/profile_store.h"
#include "app/workflow/flow_types.h"

namespace grainforge::app {

inline constexpr const wchar_t* kFlowProfileSection = L"Workflow";
inline constexpr const wchar_t* kFlowCollapsedKey = L"Collapsed2";
inline constexpr int kAllSectionsMask = (1 << kFlowStepCount) - 1;
inline constexpr int kFlowScrollLine = 24;  // at 96 dpi; a wheel notch scrolls three lines
inline constexpr int kFlowWheelLines = 3;
inline constexpr int kWheelNotch = 120;

struct SectionExtent {
  int headerHeight = 0;
  int bodyHeight = 0;  // what the body asks for when open
  bool collapsed = false;
};

struct FlowStack {
  std::array<PixelRect, kFlowStepCount> headers;
  std::array<PixelRect, kFlowStepCount> bodies;  // empty (height 0) when collapsed
  int contentHeight = 0;
  int scrollPos = 0;  // clamped
};

// Stacks the sections from the client's top, shifted up by the scroll position, which is first
// clamped to 0 … max(content − client height, 0).
FlowStack StackSections(const std::array<SectionExtent, kFlowStepCount>& sections,
                        const PixelRect& client, int scrollPos);

int ClampFlowScroll(int pos, int contentHeight, int viewHeight);

// The position after a wheel turn of `rotation` (120 per notch, positive away from the user):
// three lines per notch, truncated towards zero, before clamping.
int WheelScrollTarget(int pos, int rotation, int dpi);

// The mask that keeps only this step open (a Ctrl-click on its chevron).
constexpr int SoloOpenMask(FlowStep step) { return kAllSectionsMask & ~(1 << StepIndex(step)); }

// Which sections are collapsed, with the profile behind it. Changes are written back at once;
// bits above the four sections are dropped.
class FlowCollapseModel {
public:
  // The profile may be null: nothing is read or kept.
  explicit FlowCollapseModel(IProfileStore* profile) : profile_(profile) {}

  // Applies the stored mask (missing: all open) and writes it back as applied.
  void LoadFromProfile();
  // Sets one section; saves the mask when it changed. Returns whether it changed.
  bool SetSectionCollapsed(FlowStep step, bool collapsed);
  // Sets every section from the mask's low four bits, then saves once.
  void SetCollapsedMask(int mask);
  // A header's chevron was clicked and the header already shows `collapsed`. With Ctrl held
  // the clicked section stays open and every other one closes.
  void OnHeaderCollapse(FlowStep step, bool collapsed, bool ctrlHeld);

  bool IsCollapsed(FlowStep step) const { return (mask_ >> StepIndex(step)) & 1; }
  int Mask() const { return mask_; }

private:
  void Save();

  IProfileStore* profile_;
  int mask_ = 0;
};

}  // namespace grainforge::app
