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

// The value typed into a field, as a float: the text is trimmed at both ends; an empty text, a
// text that does not start with a number, and a value that is not finite once narrowed to float
// ("inf", "1e999", and "1e39", which fits a double but not a float) give defaultValue. Trailing
// text is ignored: "2.5 mm" is 2.5.
float ParseDialogFloat(std::wstring_view text, float defaultValue);

// The value as printf's "%g" writes it in the "C" locale: six significant digits, trailing zeros
// dropped, exponent form for very small or large values ("1e+06"); "0" for a negative zero.
std::wstring FormatDialogFloat(double value);

}  // namespace grainforge::app
