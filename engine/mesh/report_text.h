// Number formatting shared by the report texts of the mesh operations (STL import and export,
// validation, tidying). The texts are the same whatever the process locale: numbers never
// take a locale's decimal comma or digit grouping.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace grainforge::mesh {

// The file name a report names (the import's "File:", the export's "Wrote:"): the text after the
// last "\" or "/" of the path, as people see a name (platform::ShownText: a character that acts
// rather than shows, such as an escape or a line feed, written as "\x" and two hexadecimal
// digits; a byte outside UTF-8 as U+FFFD).
std::string ReportFileName(const std::filesystem::path& path);

// Decimal digits with "," before every group of three counted from the right:
// 1234567 gives "1,234,567", 999 gives "999", 0 gives "0".
std::string FormatCountGrouped(std::uint64_t count);

// The word that goes with the count: `one` for 1, `many` for any other ("1 round", "0 rounds").
// Texts for people say "1 feature has" and "2 features have", never "feature(s)".
std::string_view PluralWord(std::uint64_t count, std::string_view one, std::string_view many);
// The count as FormatCountGrouped and its noun in the number it takes: "1 feature",
// "1,024 features".
std::string FormatCountOf(std::uint64_t count, std::string_view one, std::string_view many);

// Whether a number as printf or std::to_chars wrote it is a zero with a minus sign ("-0",
// "-0.000", "-0e+00", padded or not): a small negative value rounded away at the precision
// shown, or a negative zero. People read "-0.000" as a fault, so number texts for people are
// written without that sign (FormatFixed). "-nan" and "-inf" are no zeros.
bool IsNegativeZeroText(std::string_view text);

// The value with `decimals` digits after the point, as printf's "%.*f" in the C locale
// ("12.50", "inf"), except that a value that rounds to zero has no minus sign ("0.00" for
// -0.001 at two decimals). Every fixed-point number in a text for people goes through it.
std::string FormatFixed(double value, int decimals);

// FormatFixed with two decimals ("12.50", "0.00", "inf").
std::string FormatMillimetres2(float value);

// A length as a refusal or warning names it: two decimals, or as many more as its first two
// significant digits need, trailing zeros past the second decimal dropped ("20.00", "0.30",
// "0.0049", "0.0001"); at most kMostLengthDecimals, so that a length of zero stays "0.00".
// Every size a text for people advises or compares against goes through it, so that a size
// finer than a hundredth never reads as 0.00.
inline constexpr int kMostLengthDecimals = 8;
std::string FormatLength(double millimetres);
// The smallest length at or above `millimetres` (positive) that FormatLength writes without
// rounding: the value an advice names, so that the advice as the user reads and types it never
// asks for less than was worked out. Other values come back as they are.
float RoundLengthUp(float millimetres);
// The smallest length, searched upward from `start` (mm, above 0, where `fits` says no), for
// which `fits` says yes, each candidate as RoundLengthUp writes it; 0 when none within a
// thousandfold of `start` does. `excess` (at least 1) is how far over its budget the work at
// `start` is: triangle counts and most memory fall with the square of the size, so its root is
// the first guess, stepped up until it fits; the gap back to `start` is then halved among
// written lengths, so that a guess that overshot still ends at the smallest that fits.
// Every size a refusal advises is found here, so that the advice passes the check that refused.
float SearchAdvisedLength(float start, double excess, const std::function<bool(float)>& fits);
// The largest length below `start` (mm, above 0) found for which `fits` says yes, as
// RoundLengthUp writes it; 0 when none within a millionth of `start` does. `shortfall` (at
// least 1; infinite when the work at `start` came to nothing) is how far short of its need
// the work at `start` falls. The mirror of SearchAdvisedLength, for a size too coarse.
float SearchAdvisedLengthDown(float start, double shortfall, const std::function<bool(float)>& fits);

// A volume as a text for people names it (in cubic millimetres, without the unit), by the rule of
// FormatLength: "216.00", "0.000037", "0.000000022"; at most kMostVolumeDecimals, beyond which
// a volume is "0.00". A removed piece of 3.7e-05 mm3 read as such, in exponent form.
inline constexpr int kMostVolumeDecimals = 15;
std::string FormatVolume(double cubicMillimetres);

// Three lengths, each as FormatLength (a side at or below 0 as "0.00"), joined by " x " and
// followed by " mm": "20.00 x 20.00 x 20.00 mm", "0.0012 x 0.00041 x 0.0021 mm".
std::string FormatSize3(float x, float y, float z);

// The value as printf's "%.6g" in the C locale ("0.001", "8000.5", "1.5e-06"), and "0" for a
// negative zero; the report texts use it for tolerances and volumes.
std::string FormatGeneral6(double value);

}  // namespace grainforge::mesh
