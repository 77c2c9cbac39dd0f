#include "app/shell/kit/number_text.h"

#include "engine/mesh/report_text.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace grainforge::app {
namespace {

// The white space wcstod skips in the "C" locale.
bool IsCSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::wstring_view TrimCSpace(std::wstring_view text) {
  while (!text.empty() && IsCSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsCSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The leading ASCII run of the text: a number is made of ASCII characters only, so the first
// other character ends it.
std::string LeadingAscii(std::wstring_view text) {
  std::string ascii;
  for (const wchar_t c : text) {
    if (c <= 0 || c > 0x7F) break;
    ascii.push_back(static_cast<char>(c));
  }
  return ascii;
}

bool StartsWithHexPrefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// from_chars does not say whether a value out of range was too large or too small. Like
// strtod, an exponent written negative means it underflowed to zero; anything else overflowed.
bool HasNegativeExponent(std::string_view text) {
  const auto e = text.find_first_of("eEpP");
  return e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
}

std::optional<double> ParseUnsigned(std::string_view text) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  std::from_chars_result result{};
  if (StartsWithHexPrefix(text)) {
    result = std::from_chars(first + 2, last, value, std::chars_format::hex);
    // "0x" without hex digits reads as the 0 before the x, as wcstod does.
    if (result.ec == std::errc::invalid_argument) return 0.0;
  } else {
    result = std::from_chars(first, last, value, std::chars_format::general);
  }
  if (result.ec == std::errc::invalid_argument) return std::nullopt;
  if (result.ec == std::errc::result_out_of_range) {
    if (HasNegativeExponent(std::string_view(first, static_cast<std::size_t>(last - first))))
      return 0.0;
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<double> ParseLeadingNumber(std::wstring_view text) {
  while (!text.empty() && IsCSpace(text.front())) text.remove_prefix(1);
  const std::string ascii = LeadingAscii(text);
  std::string_view rest(ascii);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  // from_chars takes a minus sign itself; a second sign is no number.
  if (rest.empty() || rest.front() == '+' || rest.front() == '-') return std::nullopt;
  const std::optional<double> value = ParseUnsigned(rest);
  if (!value) return std::nullopt;
  return negative ? -*value : *value;
}

std::wstring WithDecimalPoint(std::wstring_view text) {
  std::wstring copy(text);
  const auto comma = copy.find(L',');
  if (comma != std::wstring::npos && copy.find(L',', comma + 1) == std::wstring::npos &&
      copy.find(L'.') == std::wstring::npos)
    copy[comma] = L'.';
  return copy;
}

float ParseDialogFloat(std::wstring_view text, float defaultValue) {
  const std::optional<double> parsed = ParseLeadingNumber(WithDecimalPoint(TrimCSpace(text)));
  if (!parsed || !std::isfinite(*parsed)) return defaultValue;
  // Finite as a double is not enough: 1e39 becomes infinity as a float and would reach sizes
  // and pattern parameters.
  const float narrowed = static_cast<float>(*parsed);
  if (!std::isfinite(narrowed)) return defaultValue;
  return narrowed;
}

std::wstring FormatDialogFloat(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  if (result.ec != std::errc()) return std::wstring();
  if (grainforge::mesh::IsNegativeZeroText(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer))))
    return L"0";
  return std::wstring(buffer, result.ptr);
}

namespace {

// A range's end as people read it: no exponent ("0.000001", "100000"), no trailing zeros.
std::wstring FormatRangeEnd(double value) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 9);
  if (result.ec != std::errc()) return FormatDialogFloat(value);
  std::string text(buffer, result.ptr);
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return std::wstring(text.begin(), text.end());
}

std::wstring WithUnit(double value, std::wstring_view unit) {
  std::wstring text = FormatRangeEnd(value);
  if (!unit.empty()) text += L" " + std::wstring(unit);
  return text;
}

}  // namespace

std::wstring NumberFieldRangeText(const NumberFieldRule& rule) {
  std::wstring text(rule.name);
  if (rule.minimumIncluded)
    text += L" must be from " + FormatRangeEnd(rule.minimum) + L" to " + WithUnit(rule.maximum, rule.unit) + L".";
  else
    text += L" must be above " + FormatRangeEnd(rule.minimum) + L" and at most " + WithUnit(rule.maximum, rule.unit) +
            L".";
  if (!rule.note.empty()) text += L" " + std::wstring(rule.note);
  return text;
}

NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule) {
  NumberFieldReading reading;
  const std::wstring typed = WithDecimalPoint(TrimCSpace(text));
  if (typed.empty()) return reading;
  const std::optional<double> number = ParseLeadingNumber(typed);
  if (!number || std::isnan(*number)) {
    reading.kind = NumberFieldReading::Kind::notANumber;
    return reading;
  }
  reading.value = *number;
  const bool aboveMinimum = rule.minimumIncluded ? *number >= rule.minimum : *number > rule.minimum;
  // Infinity fails the upper bound, so "inf" is refused like any other value too large.
  if ((aboveMinimum && *number <= rule.maximum) || (rule.zeroAllowed && *number == 0.0)) {
    reading.kind = NumberFieldReading::Kind::accepted;
    return reading;
  }
  reading.kind = NumberFieldReading::Kind::refused;
  reading.refusal = !aboveMinimum && !rule.tooSmall.empty() ? std::wstring(rule.tooSmall) : NumberFieldRangeText(rule);
  return reading;
}

}  // namespace grainforge::app
