#pragma once

// Numbers typed into and shown in edit fields. They never follow the desktop's locale: a German
// desktop writes a decimal comma through printf and strtod, which would turn "0.5" into 0 (or
// 5) and show 0.5 as "0,5". Parsing and formatting go through std::from_chars / std::to_chars.
// The one thing taken from the desktop is which mark its language groups thousands with, so
// that a typed "1.500" meant as a thousand is asked about rather than read as 1.5.

#include "app/document/field_ranges.h"

#include <optional>
#include <string>
#include <string_view>

namespace grainforge::app {

// Reads the number at the start of text as the C library's wcstod does in the "C" locale:
// leading white space, an optional sign, decimal digits with an optional point and exponent,
// "inf"/"infinity"/"nan", or a hexadecimal "0x" number. What follows the number is ignored,
// so a field never reads its text with it (ReadTypedNumber reads the whole text).
// Empty when no character forms a number; a value beyond double's range is empty as well.
std::optional<double> ParseLeadingNumber(std::wstring_view text);

// What the whole text of a field holds. A field is read whole, never up to a stray character:
// white space (a non-breaking space too) around the number is dropped; a sign may be "+", "-"
// or the minus sign U+2212; one decimal mark, a point or a comma (people on comma desktops type
// "0,5"); an exponent; "inf" or "infinity"; then, after optional white space, at most one word
// of letters, the unit ("2 mm"). Anything else is no number ("abc", "nan", "2,5,1", "0x1A").
// Thousands separators are refused, never read: "1,500.5" and "1.500,5" hold two marks, and
// "1,500" (one to three digits, not starting with 0, a comma and exactly three digits) could
// be 1.5 or 1500. Where the desktop's language groups thousands with a point (German), "1.500"
// could be either as well; elsewhere it is 1.5. Groups of three digits after blanks ("1 000")
// are grouped. A value beyond double's range is infinite; one below it is 0 (belowFloat).
struct TypedNumber {
  enum class Kind { empty, number, notANumber, grouped, ambiguousMark };
  Kind kind = Kind::empty;
  double value = 0.0;         // for ambiguousMark: the reading with a decimal mark ("1,500" is 1.5)
  double groupedValue = 0.0;  // for ambiguousMark: the reading with a thousands mark (1500)
  wchar_t mark = 0;           // for ambiguousMark: the mark as typed, L',' or L'.'; for grouped,
                              // L' ' when blanks group the digits ("1 000"), whose value is then
                              // groupedValue
  std::wstring unit;          // the word after the number as typed, empty when none
  bool belowFloat = false;    // digits other than 0 read as a magnitude no float holds ("1e-400")
};
// `desktopThousandsMark` is the mark the desktop's language groups thousands with
// (platform::LocaleThousandsMark): only L'.' changes the reading. The form without it takes
// the desktop's own (platform::DesktopThousandsMark), as every field reads.
TypedNumber ReadTypedNumber(std::wstring_view text, wchar_t desktopThousandsMark);
TypedNumber ReadTypedNumber(std::wstring_view text);

// The value typed into a field, as a float (ReadTypedNumber, any unit word taken): an empty
// text, a text that is no number, and a value that is not finite once narrowed to float
// ("inf", "1e999", and "1e39", which fits a double but not a float) give defaultValue.
float ParseDialogFloat(std::wstring_view text, float defaultValue);

// The value as printf's "%g" writes it in the "C" locale: six significant digits, trailing zeros
// dropped, exponent form for very small or large values ("1e+06"); "0" for a negative zero.
std::wstring FormatDialogFloat(double value);

// ---- Typed numbers checked against their field's range ------------------------------------

// NumberFieldRule (field_ranges.h): one typed rule per field, shared with the reading of projects.

// What a field's text stands for under its rule. An empty text is left to the caller (a limit
// takes it as "no limit"), though its refusal is given for callers that refuse it; a text that
// holds no number, or a unit other than the rule's, is notANumber with a refusal; a number
// outside the range, or not finite, is refused. Every refusal names the field and its range.
struct NumberFieldReading {
  enum class Kind { empty, notANumber, accepted, refused };
  Kind kind = Kind::empty;
  double value = 0.0;    // the number read, also when refused
  std::wstring refusal;  // "Strength must be from 0 to 100000 mm." when not accepted
};

// Reads the whole text (ReadTypedNumber) and checks the number against the rule. A unit word
// after the number must be the rule's own (any case). A number the field would not keep as
// typed is refused: outside its range (IsInFieldRange), shown otherwise (a fraction in a count,
// more decimals than the field shows: IsShownAsItIs), or too close to 0 for a float. A mark
// before three digits that could group thousands is refused with a hint that offers only the
// readings the field keeps as they are, each read back before it is offered; digits grouped by
// blanks are refused with the number offered. Pure but for the desktop's thousands mark, which
// the first form takes as given.
NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule, wchar_t desktopThousandsMark);
NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule);

// Whether a field's text is refused: a number out of range, a text that holds no number, or an
// empty text where the rule gives emptiness no meaning (only a limit with zeroAllowed does).
bool NumberFieldRefuses(const NumberFieldReading& reading, const NumberFieldRule& rule);

// The rule's range as its refusal says it: "Strength must be from 0 to 100000 mm." or, with
// the minimum excluded, "Width must be above 0 and at most 10000 mm.", then the note.
std::wstring NumberFieldRangeText(const NumberFieldRule& rule);

// What a field says of a text it refuses (NumberFieldRefuses), as OK says it; empty for a text
// it takes.
std::wstring NumberFieldRefusalOf(std::wstring_view text, const NumberFieldRule& rule);

}  // namespace grainforge::app
