#include "app/shell/startup_timer.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>

namespace grainforge::app {
namespace {

struct PhaseList {
  std::mutex mutex;
  std::vector<StartupPhase> phases;
};

PhaseList& Phases() {
  static PhaseList list;
  return list;
}

double BootClockMilliseconds() {
  timespec now{};
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return 0.0;
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1.0e6;
}

// Read once: the creation time does not change, and a phase mark must stay cheap.
double ProcessCreationMilliseconds() {
  static const double creation = [] {
    std::ifstream stat("/proc/self/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::optional<std::uint64_t> ticks = ParseProcessStartTicks(line);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!ticks || ticksPerSecond <= 0) return -1.0;
    return static_cast<double>(*ticks) * 1000.0 / static_cast<double>(ticksPerSecond);
  }();
  return creation;
}

// A formatted phase line keeps within this many characters, its line break included.
constexpr std::size_t kLongestReportLine = 255;

// Cuts UTF-8 text to at most `limit` bytes without leaving half a character at the end.
void CutUtf8(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

}  // namespace

std::optional<std::uint64_t> ParseProcessStartTicks(std::string_view statLine) {
  const std::size_t close = statLine.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  // Fields after the name start with the state (field 3); the start time is field 22.
  constexpr int kFieldsToSkip = 22 - 3;
  std::string_view rest = statLine.substr(close + 1);
  for (int field = 0; field <= kFieldsToSkip; ++field) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find(' '), rest.size());
    if (field == kFieldsToSkip) {
      std::uint64_t ticks = 0;
      const std::string_view digits = rest.substr(0, end);
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), ticks);
      if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
      return ticks;
    }
    rest.remove_prefix(end);
  }
  return std::nullopt;
}

double MillisecondsSinceProcessCreated() {
  const double creation = ProcessCreationMilliseconds();
  if (creation < 0.0) return 0.0;
  return BootClockMilliseconds() - creation;
}

void MarkStartupPhase(const char* name) {
  const double ms = MillisecondsSinceProcessCreated();
  PhaseList& list = Phases();
  const std::lock_guard lock(list.mutex);
  list.phases.push_back({name != nullptr ? std::string(name) : std::string(), ms});
}

std::vector<StartupPhase> StartupPhases() {
  PhaseList& list = Phases();
  const std::lock_guard lock(list.mutex);
  return list.phases;
}

std::string FormatStartupReport(const std::vector<StartupPhase>& phases) {
  std::string report = "Start-up (ms since the process was created, and the phase's own share):\n";
  double previous = 0.0;
  for (const StartupPhase& phase : phases) {
    char numbers[64];
    const int length = std::snprintf(numbers, sizeof numbers, "  %8.0f  %+7.0f  ", phase.ms, phase.ms - previous);
    std::string line(numbers, static_cast<std::size_t>(std::clamp(length, 0, int{sizeof numbers} - 1)));
    line += phase.name;
    // A long name is cut, not its line break: the next phase must still start a line.
    CutUtf8(line, kLongestReportLine - 1);
    report += line;
    report += '\n';
    previous = phase.ms;
  }
  return report;
}

}  // namespace grainforge::app
