#include "app/shell/startup_timer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace grainforge::app {
namespace {

// A stat line with the given command name; the start time (field 22) is 123456.
std::string StatLine(const std::string& name) {
  return "4242 (" + name + ") S 1 4242 4242 0 -1 4194304 100 0 0 0 1 2 0 0 20 0 1 0 123456 1000000 200";
}

TEST(ParseProcessStartTicks, ReadsFieldTwentyTwoAfterTheCommandName) {
  struct Case {
    std::string line;
    std::optional<std::uint64_t> ticks;
  };
  const Case cases[] = {
      {StatLine("tessary"), 123456},
      // A name may hold spaces and parentheses; fields are counted after its last ")".
      {StatLine("a b"), 123456},
      {StatLine("x) S 1 2 3 (y"), 123456},
      {StatLine(""), 123456},
      {"", std::nullopt},
      {"4242 tessary S 1", std::nullopt},
      {"4242 (tessary) S 1 2 3", std::nullopt},
      {"4242 (t) S 1 4242 4242 0 -1 4194304 100 0 0 0 1 2 0 0 20 0 1 0 12x 9", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseProcessStartTicks(c.line), c.ticks) << c.line;
}

TEST(MillisecondsSinceProcessCreated, GrowsFromAPlausibleStart) {
  const double first = MillisecondsSinceProcessCreated();
  const double second = MillisecondsSinceProcessCreated();
  // The test program started moments ago: more than nothing, less than an hour.
  EXPECT_GT(first, 0.0);
  EXPECT_LT(first, 3.6e6);
  EXPECT_GE(second, first);
}

TEST(MarkStartupPhase, AppendsInCallOrder) {
  const std::size_t before = StartupPhases().size();
  MarkStartupPhase("first");
  MarkStartupPhase("  second");
  MarkStartupPhase(nullptr);
  const std::vector<StartupPhase> phases = StartupPhases();
  ASSERT_EQ(phases.size(), before + 3);
  EXPECT_EQ(phases[before].name, "first");
  EXPECT_EQ(phases[before + 1].name, "  second");
  EXPECT_EQ(phases[before + 2].name, "");
  EXPECT_LE(phases[before].ms, phases[before + 1].ms);
}

TEST(FormatStartupReport, ShowsEachPhaseWithItsOwnShare) {
  const std::vector<StartupPhase> phases = {
      {"InitInstance entered (the DLLs loaded)", 41.6}, {"the splash shown", 41.9}, {"  the frame window", 250.0}};
  EXPECT_EQ(FormatStartupReport(phases),
            "Start-up (ms since the process was created, and the phase's own share):\n"
            "        42      +42  InitInstance entered (the DLLs loaded)\n"
            "        42       +0  the splash shown\n"
            "       250     +208    the frame window\n");
  EXPECT_EQ(FormatStartupReport({}), "Start-up (ms since the process was created, and the phase's own share):\n");
}

TEST(FormatStartupReport, ALongNameIsCutButKeepsItsLineBreak) {
  const std::string longName(400, 'n');
  // "\xC3\xA9" is one character: the cut after the 21 characters of numbers must not leave half
  // of the second one (bytes 253 and 254).
  const std::string accented = std::string(230, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9";
  const std::string report = FormatStartupReport({{longName, 1.0}, {accented, 2.0}, {"next", 3.0}});
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = report.find('\n'); end != std::string::npos; end = report.find('\n', start)) {
    lines.push_back(report.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].size(), 254u);
  EXPECT_EQ(lines[2].size(), 253u);
  EXPECT_EQ(lines[2].substr(lines[2].size() - 2), "\xC3\xA9");
  EXPECT_EQ(lines[3], "         3       +1  next");
}

TEST(FormatStartupReport, DoesNotChangeWithAGermanLocale) {
  const std::vector<StartupPhase> phases = {{"a", 1234.5}, {"b", 1300.25}};
  const std::string before = FormatStartupReport(phases);
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string german = FormatStartupReport(phases);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(german, before);
}

}  // namespace
}  // namespace grainforge::app
