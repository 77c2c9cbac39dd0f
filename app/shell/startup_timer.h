#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// One named moment of start-up, in milliseconds since the process was created.
struct StartupPhase {
  std::string name;
  double ms = 0.0;
};

// Records a phase with the time since the process was created, so that the time the loader
// spent before any of our code ran counts too. Meant for start-up; works at any time.
void MarkStartupPhase(const char* name);
// The phases recorded so far, in call order.
std::vector<StartupPhase> StartupPhases();

// The report for the output log: a heading, then per phase its time, its own share and name.
std::string FormatStartupReport(const std::vector<StartupPhase>& phases);

// Start time of the process in clock ticks since boot: field 22 of a /proc/<pid>/stat line,
// counted after the command name's closing parenthesis (the name may hold spaces and ")").
std::optional<std::uint64_t> ParseProcessStartTicks(std::string_view statLine);

// Milliseconds from the process's creation to now, on the boot clock; 0 when unknown.
double MillisecondsSinceProcessCreated();

}  // namespace grainforge::app
