#include "platform/desktop_number_marks.h"

#include <gtest/gtest.h>

#include <utility>

namespace grainforge::platform {
namespace {

// The locale is named, not taken from the process: the toolkit keeps LC_NUMERIC at "C" while
// the desktop is German. A French desktop prints thousands apart with a space, but its decimal
// comma makes a typed point a thousands mark as well. A locale that is not installed groups with
// nothing.
TEST(DesktopNumberMarks, ThousandsMarkIsTheNamedLocalesWhateverTheProcessLocale) {
  const std::pair<const char*, wchar_t> cases[] = {
      {"C", 0}, {"de_DE.UTF-8", L'.'}, {"fr_FR.UTF-8", L'.'}, {"xx_NOWHERE.UTF-8", 0}};
  for (const auto& [name, mark] : cases) EXPECT_EQ(LocaleThousandsMark(name), mark) << name;
}

}  // namespace
}  // namespace grainforge::platform
