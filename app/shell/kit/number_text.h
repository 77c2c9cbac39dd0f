#pragma once

// Numbers typed into and shown in edit fields. They never follow the desktop's locale: a German
// desktop writes a decimal comma through printf and strtod, which would turn "0.5" into 0 (or
// 5) and show 0.5 as "0,5". Parsing and formatting go through std::from_chars / std::to_chars.

#include <optional>
#include <string>
#include <string_view>

namespace grainforge::app {

// Reads the number at the start of text as the C library's wcstod does in the "C" locale:
// leading white space, an optional sign, decimal digits with an optional point and exponent,
// "inf"/"infinity"/"nan", or a hexadecimal "0x" number. What follows the number is ignored.
// Empty when no character forms a number; a value beyond double's range is empty as well.
std::optional<double> ParseLeadingNumber(std::wstring_view text);

// The text with a decimal comma read as a decimal point: people on comma desktops type "0,5".
// Only a text with exactly one comma and no point is changed; "1,000.5" keeps its comma.
std::wstring WithDecimalPoint(std::wstring_view text);

// The value typed into a field, as a float: the text is trimmed at both ends and a decimal
// comma read as a point (WithDecimalPoint); an empty text, a text that does not start with a
// number, and a value that is not finite once narrowed to float ("inf", "1e999", and "1e39",
// which fits a double but not a float) give defaultValue. Trailing text is ignored: "2.5 mm" is
// 2.5.
float ParseDialogFloat(std::wstring_view text, float defaultValue);

// The value as printf's "%g" writes it in the "C" locale: six significant digits, trailing zeros
// dropped, exponent form for very small or large values ("1e+06"); "0" for a negative zero.
std::wstring FormatDialogFloat(double value);

// ---- Typed numbers checked against their field's range ------------------------------------

// The range a number field takes, as its refusal names it.
struct NumberFieldRule {
  std::wstring_view name{};       // the field's label without its unit: "Triangle size"
  double minimum = 0.0;
  double maximum = 0.0;
  std::wstring_view unit{};       // "mm", "million"; empty for a plain number
  bool minimumIncluded = true;    // false: the value must lie above the minimum
  std::wstring_view note{};       // a sentence added to the refusal ("Leave it empty for no limit.")
  bool zeroAllowed = false;       // 0 is taken besides the range (a limit's "no limit")
  std::wstring_view tooSmall{};   // the refusal of a number below the range, when it has its own words
};

// What a field's text stands for under its rule. An empty text and one that holds no number
// are left to the caller (most keep the stored value); a number outside the range, or not
// finite, is refused with a text that names the field and its range.
struct NumberFieldReading {
  enum class Kind { empty, notANumber, accepted, refused };
  Kind kind = Kind::empty;
  double value = 0.0;    // the number read, also when refused
  std::wstring refusal;  // when refused: "Strength must be from 0 to 100000 mm."
};

// Reads the text as ParseDialogFloat does (trimmed, a decimal comma read as a point, trailing
// words such as a unit ignored) and checks the number against the rule. Pure; the same on every
// desktop locale.
NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule);

// The rule's range as its refusal says it: "Strength must be from 0 to 100000 mm." or, with
// the minimum excluded, "Width must be above 0 and at most 10000 mm.", then the note.
std::wstring NumberFieldRangeText(const NumberFieldRule& rule);

}  // namespace grainforge::app
