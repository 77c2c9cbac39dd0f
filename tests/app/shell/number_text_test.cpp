// Numbers typed into fields and shown in them must read and write the same on every desktop.
// This program runs three times: once in the "C" locale and once each with LC_ALL=de_DE.UTF-8
// and fr_FR.UTF-8, where the C library's printf and strtod use a decimal comma.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <locale.h>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/kit/number_text.h"
#include "platform/desktop_number_marks.h"

namespace grainforge::app {
namespace {

// Takes the locale from the environment, as a program that calls setlocale(LC_ALL, "") (GTK
// does at start-up) would, and puts the "C" locale back afterwards.
class LocaleFromEnvironment : public ::testing::Environment {
public:
  void SetUp() override { std::setlocale(LC_ALL, ""); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};
const auto* const kLocaleEnvironment =
    ::testing::AddGlobalTestEnvironment(new LocaleFromEnvironment);

// The runs that are meant to be German and French check that the locale really took, so that
// the suite cannot pass in the "C" locale by accident, and that every field then reads "1.500"
// as those desktops may write a thousand: neither 1.5 nor 1500 is taken on a guess. The French
// desktop prints thousands apart with a space, but its decimal comma makes a typed point a
// thousands mark all the same.
TEST(NumberTextLocale, CommaDesktopRunsReallyWriteDecimalCommasThroughPrintf) {
  const char* expected = std::getenv("TESSARY_EXPECT_LOCALE");
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", 0.5);
  const NumberFieldRule size{.name = L"Triangle size", .minimum = 0.01, .maximum = 100000.0, .unit = L"mm"};
  const NumberFieldRule width{.name = L"Width", .minimum = 0.01, .maximum = 10000.0, .unit = L"mm"};
  const NumberFieldRule count{.name = L"Bricks per row", .minimum = 1.0, .maximum = 64.0, .wholeNumber = true};
  const std::string run = expected == nullptr ? std::string() : std::string(expected);
  if (run == "de_DE" || run == "fr_FR") {
    EXPECT_STREQ(buffer, "0,5") << "the " << run << ".UTF-8 locale is not installed or did not load";
    EXPECT_EQ(grainforge::platform::DesktopThousandsMark(), L'.');
    const std::pair<const wchar_t*, const NumberFieldRule*> asked[] = {
        {L"1.500", &size}, {L"1.500", &width}, {L"1.000", &count}};
    for (const auto& [text, rule] : asked)
      EXPECT_EQ(ReadNumberField(text, *rule).kind, NumberFieldReading::Kind::notANumber) << run << " " << text;
  } else {
    SUCCEED() << "running in " << std::setlocale(LC_NUMERIC, nullptr);
  }
}

// The readings a refusal advises ("Type 1.5 or 1500: ..."), as typed texts.
std::vector<std::wstring> AdvisedTexts(const std::wstring& refusal) {
  const std::size_t type = refusal.find(L" Type "), colon = refusal.find(L':', type);
  if (type == std::wstring::npos || colon == std::wstring::npos) return {};
  const std::wstring advice = refusal.substr(type + 6, colon - type - 6);
  const std::size_t orAt = advice.find(L" or ");
  if (orAt == std::wstring::npos) return {advice};
  return {advice.substr(0, orAt), advice.substr(orAt + 4)};
}

// wcstod in the "C" locale: what the parser must match whatever the desktop's locale.
std::optional<double> ReferenceParse(const std::wstring& text) {
  locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  locale_t previous = uselocale(c);
  wchar_t* end = nullptr;
  const double value = std::wcstod(text.c_str(), &end);
  uselocale(previous);
  freelocale(c);
  if (end == text.c_str()) return std::nullopt;
  return value;
}

TEST(NumberTextParse, ReadsTheLeadingNumberAsTheCLocalesWcstodDoes) {
  const std::wstring cases[] = {
      L"0.5", L"  0.5", L"\t-2.25e3xyz", L"+7", L".5", L"5.", L"1e5", L"1E-3", L"0x1A",
      L"0X1p4", L"-0x.8", L"inf", L"-Infinity", L"nan", L"12abc", L"3 4", L"0,5", L"1.5.6",
      L"2.5 mm", L"1e", L"1e+", L"00012", L"-0", L"123456789012345678901234567890",
      L"4.9e-324", L"1e-310"};
  for (const std::wstring& text : cases) {
    const std::optional<double> expected = ReferenceParse(text);
    const std::optional<double> parsed = ParseLeadingNumber(text);
    ASSERT_EQ(parsed.has_value(), expected.has_value()) << std::string(text.begin(), text.end());
    if (!expected) continue;
    if (std::isnan(*expected)) {
      EXPECT_TRUE(std::isnan(*parsed));
    } else {
      EXPECT_EQ(*parsed, *expected) << std::string(text.begin(), text.end());
    }
  }
}

TEST(NumberTextParse, RefusesTextThatHoldsNoNumber) {
  for (const std::wstring text : {L"", L"   ", L"abc", L"+", L"-", L".", L"+-5", L"--5", L"e5",
                                  L"\u00bd", L"\u0661\u0662"}) {
    EXPECT_FALSE(ParseLeadingNumber(text).has_value()) << std::string(text.begin(), text.end());
  }
}

TEST(NumberTextParse, ValuesBeyondDoubleAreRefusedAndTinyOnesBecomeZero) {
  EXPECT_FALSE(ParseLeadingNumber(L"1e999").has_value());
  EXPECT_FALSE(ParseLeadingNumber(L"-1e999").has_value());
  EXPECT_EQ(ParseLeadingNumber(L"1e-999"), 0.0);
}

struct DialogFloatCase {
  const wchar_t* text;
  float expected;
};

TEST(DialogNumberParse, GivesTheDefaultForEveryUnusableText) {
  constexpr float kDefault = 7.25f;
  const DialogFloatCase cases[] = {
      {L"", kDefault},        {L"   ", kDefault},      {L"abc", kDefault},
      {L"inf", kDefault},     {L"-inf", kDefault},     {L"nan", kDefault},
      {L"1e999", kDefault},   {L" 3 ", 3.0f},          {L"2.5 mm", 2.5f},
      {L"-0.75", -0.75f},     {L"0.5", 0.5f},          {L"1e-50", 0.0f},
      {L"3.4e38", 3.4e38f},
      // The whole text is one number or none: it used to be read up to the first stray mark.
      {L"1,500.5", kDefault}, {L"1.500,5", kDefault}, {L"2,5,1", kDefault},
      {L"3 4", kDefault},     {L"0x1A", kDefault},     {L"\u22125", -5.0f},
      {L"\u00a03,5", 3.5f},
  };
  for (const DialogFloatCase& c : cases) {
    EXPECT_EQ(ParseDialogFloat(c.text, kDefault), c.expected)
        << std::string(c.text, c.text + std::wcslen(c.text));
  }
}

// 1e39 is finite as a double but infinite as a float; it used to pass the check and reach mask
// sizes, texture sizes and pattern parameters as infinity.
TEST(DialogNumberParse, ValueFiniteAsDoubleButNotAsFloatGivesTheDefault) {
  EXPECT_EQ(ParseDialogFloat(L"1e39", 4.0f), 4.0f);
  EXPECT_EQ(ParseDialogFloat(L"-1e39", 4.0f), 4.0f);
  EXPECT_EQ(ParseDialogFloat(L"3.5e38", 4.0f), 4.0f);
  // The largest float still reads, as does a value that rounds down to it.
  EXPECT_EQ(ParseDialogFloat(L"3.4028234e38", 4.0f), std::numeric_limits<float>::max());
}

TEST(DialogNumberParse, ReadsAPointAndADecimalCommaWhateverTheLocale) {
  EXPECT_EQ(ParseDialogFloat(L"0.5", 1.0f), 0.5f);
  // People on comma desktops type a decimal comma; it used to end the number ("0,5" was 0).
  EXPECT_EQ(ParseDialogFloat(L"0,5", 1.0f), 0.5f);
  EXPECT_EQ(ParseDialogFloat(L"-12,25 mm", 1.0f), -12.25f);
  // Two marks make no number at all: the default.
  EXPECT_EQ(ParseDialogFloat(L"1,000.5", 1.0f), 1.0f);
  EXPECT_EQ(ParseDialogFloat(L"1,5,3", 1.0f), 1.0f);
}

// Every settings dialog checks its typed numbers through ReadNumberField: a decimal comma is a
// point, a number out of range is refused with the field and its range named, and an empty or
// unreadable text is left to the dialog (which keeps the stored value).
TEST(DialogNumberField, ReadsOrRefusesTheTypedTextAgainstTheRange) {
  using Kind = NumberFieldReading::Kind;
  constexpr NumberFieldRule kSize{.name = L"Triangle size", .minimum = 0.01, .maximum = 100000.0, .unit = L"mm"};
  constexpr NumberFieldRule kWidth{
      .name = L"Width", .minimum = 0.0, .maximum = 10000.0, .unit = L"mm", .minimumIncluded = false};
  constexpr NumberFieldRule kLimit{.name = L"Triangle limit",
                                   .minimum = 0.1,
                                   .maximum = 200.0,
                                   .unit = L"million",
                                   .note = L"Leave it empty, or 0, for no limit.",
                                   .zeroAllowed = true};
  constexpr NumberFieldRule kTolerance{.name = L"Planar tolerance", .minimum = 0.000001, .maximum = 1.0, .unit = L"mm"};
  constexpr NumberFieldRule kSharpness{.name = L"Sharpness", .minimum = 1.0, .maximum = 16.0};
  constexpr NumberFieldRule kPosition{.name = L"Position X", .minimum = -100000.0, .maximum = 100000.0, .unit = L"mm"};
  constexpr NumberFieldRule kMidlevel{.name = L"Midlevel", .minimum = 0.0, .maximum = 1.0};
  constexpr NumberFieldRule kBricks{.name = L"Bricks per row", .minimum = 1.0, .maximum = 32.0, .wholeNumber = true};
  constexpr NumberFieldRule kCells{.name = L"Cells", .minimum = 1.0, .maximum = 2048.0, .wholeNumber = true};
  constexpr NumberFieldRule kAngle{.name = L"Rotation", .minimum = -360.0, .maximum = 360.0, .unit = L"degrees"};
  struct Case {
    const wchar_t* text;
    const NumberFieldRule& rule;
    Kind kind;
    double value;
    const wchar_t* refusal;
    std::optional<wchar_t> desktopMark{};  // the desktop's thousands mark; none: whatever this run's is
  };
  const Case cases[] = {
      {L"0,5", kSize, Kind::accepted, 0.5, L""},
      {L" 12,5 ", kWidth, Kind::accepted, 12.5, L""},
      {L"2,5", kSharpness, Kind::accepted, 2.5, L""},
      {L"0,05 mm", kTolerance, Kind::accepted, 0.05, L""},
      {L"5", kTolerance, Kind::refused, 5.0, L"Planar tolerance must be from 0.000001 to 1 mm."},
      {L"0.001", kSize, Kind::refused, 0.001, L"Triangle size must be from 0.01 to 100000 mm."},
      {L"1e30", kWidth, Kind::refused, 1e30, L"Width must be above 0 and at most 10000 mm."},
      {L"0", kWidth, Kind::refused, 0.0, L"Width must be above 0 and at most 10000 mm."},
      {L"inf", kSize, Kind::refused, HUGE_VAL, L"Triangle size must be from 0.01 to 100000 mm."},
      {L"-5", kLimit, Kind::refused, -5.0,
       L"Triangle limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."},
      {L"999999", kLimit, Kind::refused, 999999.0,
       L"Triangle limit must be from 0.1 to 200 million. Leave it empty, or 0, for no limit."},
      {L"0", kLimit, Kind::accepted, 0.0, L""},
      {L"0,0", kSharpness, Kind::refused, 0.0, L"Sharpness must be from 1 to 16."},
      {L"", kSize, Kind::empty, 0.0, L""},
      {L"   ", kLimit, Kind::empty, 0.0, L""},
      {L"abc", kSize, Kind::notANumber, 0.0, L"Triangle size must be a number from 0.01 to 100000 mm."},
      {L"nan", kSize, Kind::notANumber, 0.0, L"Triangle size must be a number from 0.01 to 100000 mm."},
      // Read whole or refused, never cut at a stray character; thousands separators are refused.
      {L"0", kSize, Kind::refused, 0.0, L"Triangle size must be from 0.01 to 100000 mm."},
      {L"1e999", kSize, Kind::refused, HUGE_VAL, L"Triangle size must be from 0.01 to 100000 mm."},
      {L"0.5", kSize, Kind::accepted, 0.5, L""},
      {L"2 mm", kSize, Kind::accepted, 2.0, L""},
      {L"\u00a02,5 MM", kSize, Kind::accepted, 2.5, L""},
      {L"\u22125", kSize, Kind::refused, -5.0, L"Triangle size must be from 0.01 to 100000 mm."},
      {L"0,500", kSize, Kind::accepted, 0.5, L""},
      {L"18 million", kLimit, Kind::accepted, 18.0, L""},
      // A unit word is read whole, and a refused one is named as the problem.
      {L"2 cm", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. \"cm\" is not its unit: type the number in mm."},
      {L"2 millimetres", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. \"millimetres\" is not its unit: type the number "
       L"in mm."},
      {L"2 mil", kLimit, Kind::notANumber, 0.0,
       L"Triangle limit must be a number from 0.1 to 200 million. Leave it empty, or 0, for no limit. \"mil\" is "
       L"not its unit: type the number in million."},
      {L"2 milli", kLimit, Kind::notANumber, 0.0,
       L"Triangle limit must be a number from 0.1 to 200 million. Leave it empty, or 0, for no limit. \"milli\" is "
       L"not its unit: type the number in million."},
      {L"2 MILLION", kLimit, Kind::accepted, 2.0, L""},
      {L"45 deg", kAngle, Kind::accepted, 45.0, L""},
      {L"45 degr", kAngle, Kind::notANumber, 0.0,
       L"Rotation must be a number from -360 to 360 degrees. \"degr\" is not its unit: type the number in degrees."},
      {L"3 cm", kSharpness, Kind::notANumber, 0.0,
       L"Sharpness must be a number from 1 to 16. It takes a plain number, without \"cm\"."},
      {L"2,5,1", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type it without thousands separators."},
      {L"1,500.5", kWidth, Kind::notANumber, 0.0,
       L"Width must be a number above 0 and at most 10000 mm. Type it without thousands separators."},
      {L"1.500,5", kWidth, Kind::notANumber, 0.0,
       L"Width must be a number above 0 and at most 10000 mm. Type it without thousands separators."},
      {L"1,500", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 1.5 or 1500: a comma before three digits "
       L"could be either."},
      // The hint keeps the sign and offers only the readings the field takes.
      {L"-1,500", kPosition, Kind::notANumber, 0.0,
       L"Position X must be a number from -100000 to 100000 mm. Type -1.5 or -1500: a comma before three digits "
       L"could be either."},
      // A count rounds 1.5 to 2: its hint offered "Type 1.5" for "1,500".
      {L"1,500", kBricks, Kind::notANumber, 0.0,
       L"Bricks per row must be a whole number from 1 to 32. A comma before three digits could be either, and neither is "
       L"kept as typed: 1.5 is not a whole number and 1500 is outside that range."},
      {L"1,024", kCells, Kind::notANumber, 0.0,
       L"Cells must be a whole number from 1 to 2048. Type 1024: a comma before three digits could be either."},
      // Where the desktop groups thousands with a point (German), "1.500" could be either too.
      {L"1.500", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 1.5 or 1500: a point before three digits "
       L"could be either.", L'.'},
      {L"1.500", kBricks, Kind::notANumber, 0.0,
       L"Bricks per row must be a whole number from 1 to 32. A point before three digits could be either, and neither is "
       L"kept as typed: 1.5 is not a whole number and 1500 is outside that range.", L'.'},
      // "12.345" would ask again there: the decimal reading is advised with a fourth digit.
      {L"12.345", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 12.3450 or 12345: a point before three "
       L"digits could be either.", L'.'},
      {L"0.500", kSize, Kind::accepted, 0.5, L"", L'.'},
      // Where a comma groups thousands (English) a point is a decimal point.
      {L"1.500", kSize, Kind::accepted, 1.5, L"", L','},
      {L"1,500", kMidlevel, Kind::notANumber, 0.0,
       L"Midlevel must be a number from 0 to 1. A comma before three digits could be either, and 1.5 and 1500 are "
       L"both outside that range."},
      {L"12abc", kSharpness, Kind::notANumber, 0.0,
       L"Sharpness must be a number from 1 to 16. It takes a plain number, without \"abc\"."},
      // What the field would show otherwise is refused where it is typed: a count rounded 1.5 to
      // "2", a level edit showed 1.5 as "2" and a gamma 1.234 as "1.23".
      {L"1.5", kBricks, Kind::refused, 1.5, L"Bricks per row must be a whole number from 1 to 32."},
      {L"2", kBricks, Kind::accepted, 2.0, L""},
      {L"2.0", kBricks, Kind::accepted, 2.0, L""},
      {L"0.4", kLevelsRules[2], Kind::refused, 0.4, L"White must be a whole number from 0 to 255."},
      {L"1.234", kLevelsRules[1], Kind::refused, 1.234, L"Gamma must be from 0.1 to 9.99, with at most 2 decimals.",
       L','},
      // Where a point groups thousands, neither reading is kept as typed.
      {L"1.234", kLevelsRules[1], Kind::notANumber, 0.0,
       L"Gamma must be a number from 0.1 to 9.99. A point before three digits could be either, and neither is kept "
       L"as typed: 1.234 has more than 2 decimals and 1234 is outside that range.", L'.'},
      {L"1.25", kLevelsRules[1], Kind::accepted, 1.25, L""},
      {L"1.2500", kLevelsRules[1], Kind::accepted, 1.25, L""},
      {L"12.345", kMaskFieldRules[0], Kind::refused, 12.345,
       L"Position X must be from -10000 to 10000 mm, with at most 2 decimals.", L','},
      {L"1e5", kMaskFieldRules[0], Kind::refused, 1e5, L"Position X must be from -10000 to 10000 mm."},
      // Thousands grouped by blanks, as a French desktop writes them, got no hint.
      {L"1 000", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 1000: without thousands separators."},
      {L"12\u202f345", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 12345: without thousands separators."},
      {L"1\u00a0000 mm", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type 1000: without thousands separators."},
      {L"1 000 000", kSize, Kind::notANumber, 0.0,
       L"Triangle size must be a number from 0.01 to 100000 mm. Type it without thousands separators."},
      {L"3 4", kSize, Kind::notANumber, 0.0, L"Triangle size must be a number from 0.01 to 100000 mm."},
      // A magnitude no float holds became 0 without a word.
      {L"1e-400", kMidlevel, Kind::refused, 0.0,
       L"Midlevel must be from 0 to 1. 1e-400 is too close to 0 to be kept: type 0, or a number the field shows."},
      {L"-1e-45", kPosition, Kind::refused, -1e-45,
       L"Position X must be from -100000 to 100000 mm. -1e-45 is too close to 0 to be kept: type 0, or a number "
       L"the field shows."},
      {L"0e-400", kMidlevel, Kind::accepted, 0.0, L""},
  };
  for (const Case& c : cases) {
    const wchar_t mark = c.desktopMark.value_or(grainforge::platform::DesktopThousandsMark());
    const NumberFieldReading reading = ReadNumberField(c.text, c.rule, mark);
    const std::string name(c.text, c.text + std::wcslen(c.text));
    EXPECT_EQ(reading.kind, c.kind) << name;
    if (c.kind == Kind::accepted || c.kind == Kind::refused) {
      EXPECT_EQ(reading.value, c.value) << name;
    }
    EXPECT_EQ(reading.refusal, c.refusal) << name;
    // Following the advice once is taken on the same desktop, and a count is kept as typed.
    for (const std::wstring& advised : AdvisedTexts(reading.refusal)) {
      const NumberFieldReading followed = ReadNumberField(advised, c.rule, mark);
      EXPECT_EQ(followed.kind, Kind::accepted) << name;
      EXPECT_TRUE(!c.rule.wholeNumber || followed.value == std::trunc(followed.value)) << name;
    }
  }
}

TEST(NumberTextFormat, WritesAsPercentGInTheCLocale) {
  const std::pair<double, const wchar_t*> cases[] = {
      {0.5, L"0.5"},          {3.0, L"3"},           {-2.5, L"-2.5"},
      {123456.0, L"123456"},  {1234567.0, L"1.23457e+06"}, {1e6, L"1e+06"},
      {0.0001, L"0.0001"},    {0.00001, L"1e-05"},   {0.0, L"0"},
      {static_cast<double>(0.1f), L"0.1"}, {2.0 / 3.0, L"0.666667"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(FormatDialogFloat(value), expected) << value;
}

}  // namespace
}  // namespace grainforge::app
