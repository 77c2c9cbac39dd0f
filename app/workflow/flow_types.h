#pragma once

// The shared vocabulary of the workflow pane: the four steps in the order of work, what a
// section header reports, the status dot, and the table of the sections.

#include <array>
#include <cstdint>
#include <functional>

namespace grainforge::app {

// A section's index everywhere: in the section table, the headers, the bodies and events.
enum class FlowStep : std::int32_t { Mapping = 0, Texture = 1, Relief = 2, Simplify = 3 };
inline constexpr int kFlowStepCount = 4;

// What the user did in a section header.
enum class FlowEvent : std::int32_t {
  Switch = 0,    // the on/off box was toggled
  Settings = 1,  // the gear was clicked
  Collapse = 2,  // the section was collapsed or expanded
};

using FlowCallback = std::function<void(FlowStep, FlowEvent)>;

// The status dot of a section header.
enum class SectionStatus : std::int32_t {
  UpToDate = 0,  // green dot
  Pending = 1,   // amber dot
  Inactive = 2,  // grey ring
  Running = 3,   // blue dot, blinking
};

// The notification codes a header sends its parent.
enum class HeaderCode : std::int32_t { None = 0, Switch = 1, Settings = 2, Collapse = 3 };

struct FlowSection {
  FlowStep step;
  const wchar_t* title;
  const wchar_t* iconName;
  bool hasSwitch;   // the optional steps have an on/off box
  int settingsCommand;  // what the gear sends to the main window
};

inline constexpr std::array<FlowSection, kFlowStepCount> kFlowSections{{
    {FlowStep::Mapping, L"Mapping", L"flow_mapping", false, 32900},
    {FlowStep::Texture, L"Texture", L"flow_texture", false, 32821},
    {FlowStep::Relief, L"Relief", L"flow_displacement", true, 32889},
    {FlowStep::Simplify, L"Simplify", L"flow_simplify", true, 32890},
}};

constexpr int StepIndex(FlowStep step) { return static_cast<int>(step); }
constexpr FlowStep StepAt(int index) { return static_cast<FlowStep>(index); }
constexpr const FlowSection& SectionOf(FlowStep step) { return kFlowSections[StepIndex(step)]; }

}  // namespace grainforge::app
