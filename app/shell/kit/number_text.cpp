#include "app/shell/kit/number_text.h"

#include "engine/mesh/report_text.h"
#include "platform/desktop_number_marks.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace grainforge::app {
namespace {

// The white space wcstod skips in the "C" locale.
bool IsCSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
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

namespace {

// White space around a typed number: a non-breaking space (a comma desktop's thousands
// separator, or pasted from a page) as well as the C library's.
bool IsBlank(wchar_t c) { return IsCSpace(c) || c == 0x00A0 || c == 0x2007 || c == 0x202F; }
bool IsMinus(wchar_t c) { return c == L'-' || c == 0x2212; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
// A unit's letters: "mm", "million", "%", "°".
bool IsUnitLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'%' || c == 0x00B0 || c == 0x00B5;
}
// Three digits from `at` and no fourth: a group of thousands after a space.
bool StartsDigitGroup(std::wstring_view text, std::size_t at) {
  return at + 3 <= text.size() && IsDigit(text[at]) && IsDigit(text[at + 1]) && IsDigit(text[at + 2]) &&
         (at + 3 == text.size() || !IsDigit(text[at + 3]));
}
wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view word) {
  return text.size() >= word.size() && EqualsIgnoringCase(text.substr(0, word.size()), word);
}

// A typed unit is the field's own word, whole, in any case; degrees are also "deg" and "°".
// "2 cm" in a millimetre field is no 2 mm, nor "2 m"; "2 mil" or "2 milli" is no 2 million.
bool UnitMatches(std::wstring_view typed, std::wstring_view unit) {
  if (unit == L"degrees" && (typed == L"\u00b0" || EqualsIgnoringCase(typed, L"deg"))) return true;
  return EqualsIgnoringCase(typed, unit);
}

// The unsigned decimal `number` (ASCII, a point for the mark) read whole: beyond double's range
// it is infinite, below it 0. False when it is not one number.
bool ReadDecimal(const std::string& number, double& value) {
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    value = HasNegativeExponent(number) ? 0.0 : HUGE_VAL;
    return true;
  }
  return result.ec == std::errc() && result.ptr == number.data() + number.size();
}

}  // namespace

TypedNumber ReadTypedNumber(std::wstring_view text) {
  return ReadTypedNumber(text, grainforge::platform::DesktopThousandsMark());
}

TypedNumber ReadTypedNumber(std::wstring_view text, wchar_t desktopThousandsMark) {
  TypedNumber typed;
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return typed;
  typed.kind = TypedNumber::Kind::notANumber;
  std::size_t i = 0;
  bool negative = false;
  if (text[i] == L'+' || IsMinus(text[i])) negative = IsMinus(text[i++]);
  double value = 0.0, groupedValue = 0.0;
  wchar_t ambiguousMark = 0;
  if (StartsWithIgnoringCase(text.substr(i), L"inf")) {
    value = HUGE_VAL;
    i += StartsWithIgnoringCase(text.substr(i), L"infinity") ? 8 : 3;
  } else {
    std::string number;  // ASCII, with a point for the decimal mark, as from_chars reads it
    std::size_t marks = 0, integerDigits = 0, fractionDigits = 0;
    // Groups of three digits after a space ("1 000", as French and other desktops write
    // thousands), and the digits of the group being read.
    std::size_t spaceGroups = 0, groupDigits = 0;
    bool nonZeroDigit = false;
    wchar_t mark = 0;
    for (; i < text.size(); ++i) {
      const wchar_t c = text[i];
      if (IsDigit(c)) {
        ++(marks == 0 ? integerDigits : fractionDigits);
        ++groupDigits;
        nonZeroDigit = nonZeroDigit || c != L'0';
        number.push_back(static_cast<char>(c));
      } else if (c == L'.' || c == L',') {
        ++marks;
        mark = c;
        number.push_back('.');
      } else if (IsBlank(c) && marks == 0 && StartsDigitGroup(text, i + 1) &&
                 (spaceGroups > 0 ? groupDigits == 3 : groupDigits >= 1 && groupDigits <= 3)) {
        ++spaceGroups;
        groupDigits = 0;
      } else {
        break;
      }
    }
    if (integerDigits + fractionDigits == 0) return typed;
    if (marks > 1) {
      typed.kind = TypedNumber::Kind::grouped;
      return typed;
    }
    // A mark where a thousands separator would stand: after one to three digits not led by a
    // 0, before exactly three. A comma groups thousands in English, a point where the desktop
    // says so.
    const bool groupingMark = mark == L',' || (mark == L'.' && desktopThousandsMark == L'.');
    if (groupingMark && integerDigits >= 1 && integerDigits <= 3 && number.front() != '0' && fractionDigits == 3)
      ambiguousMark = mark;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
      std::size_t j = i + 1;
      std::string exponent = "e";
      if (j < text.size() && (text[j] == L'+' || IsMinus(text[j]))) {
        if (IsMinus(text[j])) exponent.push_back('-');
        ++j;
      }
      const std::size_t firstDigit = j;
      for (; j < text.size() && IsDigit(text[j]); ++j) exponent.push_back(static_cast<char>(text[j]));
      if (j > firstDigit) {  // else the "e" starts the unit word
        number += exponent;
        i = j;
      }
    }
    if (!ReadDecimal(number, value)) return typed;
    // A number no float holds (it would be kept as 0 or as another number) is said, not taken.
    typed.belowFloat = nonZeroDigit && value < static_cast<double>(std::numeric_limits<float>::min());
    if (spaceGroups > 0) {
      ambiguousMark = 0;
      typed.mark = L' ';
      groupedValue = value;
    }
    if (ambiguousMark != 0) {
      std::string grouped = number;
      grouped.erase(grouped.find('.'), 1);
      if (!ReadDecimal(grouped, groupedValue)) return typed;
    }
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::wstring_view unit = text.substr(i);
  for (const wchar_t c : unit)
    if (!IsUnitLetter(c)) return typed;
  typed.kind = typed.mark == L' '  ? TypedNumber::Kind::grouped
               : ambiguousMark != 0 ? TypedNumber::Kind::ambiguousMark
                                    : TypedNumber::Kind::number;
  typed.value = negative ? -value : value;
  typed.groupedValue = negative ? -groupedValue : groupedValue;
  if (typed.mark != L' ') typed.mark = ambiguousMark;
  typed.unit = std::wstring(unit);
  return typed;
}

float ParseDialogFloat(std::wstring_view text, float defaultValue) {
  const TypedNumber typed = ReadTypedNumber(text);
  if (typed.kind != TypedNumber::Kind::number || !std::isfinite(typed.value)) return defaultValue;
  // Finite as a double is not enough: 1e39 becomes infinity as a float and would reach sizes
  // and pattern parameters.
  const float narrowed = static_cast<float>(typed.value);
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

namespace {

// "Strength must be from 0 to 100000 mm." or, for a text that held no number, "Strength must be
// a number from 0 to 100000 mm."; a count "must be a whole number", and for a number with more
// decimals than the field shows, how many it shows ("to 9.99, with at most 2 decimals."); then
// the rule's note.
std::wstring RangeSentence(const NumberFieldRule& rule, bool aNumber, bool sayDecimals = false) {
  std::wstring text(rule.name);
  text += rule.wholeNumber ? L" must be a whole number " : aNumber ? L" must be a number " : L" must be ";
  if (rule.minimumIncluded)
    text += L"from " + FormatRangeEnd(rule.minimum) + L" to " + WithUnit(rule.maximum, rule.unit);
  else
    text += L"above " + FormatRangeEnd(rule.minimum) + L" and at most " + WithUnit(rule.maximum, rule.unit);
  if (sayDecimals && !rule.wholeNumber && rule.decimals >= 0)
    text += rule.decimals == 0 ? std::wstring(L", with no decimals")
                               : L", with at most " + std::to_wstring(rule.decimals) + L" decimals";
  text += L".";
  if (!rule.note.empty()) text += L" " + std::wstring(rule.note);
  return text;
}

}  // namespace

std::wstring NumberFieldRangeText(const NumberFieldRule& rule) { return RangeSentence(rule, false); }

namespace {

// Whether the field keeps `value` as typed: in its range and shown as it is (a count rounds 1.5
// to 2, which is not what was typed).
bool KeptAsTyped(double value, const NumberFieldRule& rule) {
  return IsInFieldRange(value, rule) && IsShownAsItIs(value, rule);
}

// The text that advises `value`, read back as the field reads it: empty when the field would not
// keep it as typed. Where a point groups thousands "1.234" would ask again; "1.2340" is the same
// number and does not.
std::wstring AdvisedText(double value, const NumberFieldRule& rule, wchar_t desktopThousandsMark) {
  if (!KeptAsTyped(value, rule)) return {};
  std::wstring text = FormatRangeEnd(value);
  if (ReadTypedNumber(text, desktopThousandsMark).kind == TypedNumber::Kind::ambiguousMark) text += L"0";
  const TypedNumber back = ReadTypedNumber(text, desktopThousandsMark);
  if (back.kind != TypedNumber::Kind::number || back.value != value) return {};
  return text;
}

// What to type for "1,500" (or "1.500" where a point groups thousands): only the readings the
// field keeps as they are, each with the sign typed, so following the hint never moves a value
// to the other side of zero, out of range, or to a whole number that was not typed.
std::wstring AmbiguousMarkHint(const TypedNumber& typed, const NumberFieldRule& rule, wchar_t desktopThousandsMark) {
  const std::wstring markName = typed.mark == L'.' ? L"point" : L"comma";
  const std::wstring decimal = AdvisedText(typed.value, rule, desktopThousandsMark);
  const std::wstring grouped = AdvisedText(typed.groupedValue, rule, desktopThousandsMark);
  const std::wstring either = L": a " + markName + L" before three digits could be either.";
  if (!decimal.empty() && !grouped.empty()) return L" Type " + decimal + L" or " + grouped + either;
  if (!decimal.empty() || !grouped.empty()) return L" Type " + (decimal.empty() ? grouped : decimal) + either;
  const std::wstring opening = L" A " + markName + L" before three digits could be either, and ";
  const std::wstring decimalText = FormatRangeEnd(typed.value), groupedText = FormatRangeEnd(typed.groupedValue);
  const bool decimalInRange = IsInFieldRange(typed.value, rule),
             groupedInRange = IsInFieldRange(typed.groupedValue, rule);
  if (!decimalInRange && !groupedInRange)
    return opening + decimalText + L" and " + groupedText + L" are both outside that range.";
  // A count takes neither: one reading is a fraction it would round (or, with fewer decimals
  // shown, one it would show otherwise).
  const std::wstring shownOtherwise = rule.wholeNumber ? std::wstring(L" is not a whole number")
                                                       : L" has more than " + std::to_wstring(rule.decimals) + L" decimals";
  const auto why = [&](bool inRange) { return inRange ? shownOtherwise : std::wstring(L" is outside that range"); };
  return opening + L"neither is kept as typed: " + decimalText + why(decimalInRange) + L" and " + groupedText +
         why(groupedInRange) + L".";
}

// The text as typed, without the blanks around it.
std::wstring TrimmedText(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::wstring(text);
}

// Why a number with a unit word was not read: the word is not the field's unit.
std::wstring UnitHint(std::wstring_view typed, const NumberFieldRule& rule) {
  const std::wstring word = L"\"" + std::wstring(typed) + L"\"";
  if (rule.unit.empty()) return L" It takes a plain number, without " + word + L".";
  return L" " + word + L" is not its unit: type the number in " + std::wstring(rule.unit) + L".";
}

}  // namespace

NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule) {
  return ReadNumberField(text, rule, grainforge::platform::DesktopThousandsMark());
}

NumberFieldReading ReadNumberField(std::wstring_view text, const NumberFieldRule& rule, wchar_t desktopThousandsMark) {
  NumberFieldReading reading;
  const TypedNumber typed = ReadTypedNumber(text, desktopThousandsMark);
  switch (typed.kind) {
    case TypedNumber::Kind::empty:
      return reading;
    case TypedNumber::Kind::number:
      break;
    case TypedNumber::Kind::grouped: {
      reading.kind = NumberFieldReading::Kind::notANumber;
      // Grouped by spaces ("1 000") the number is plain to see: it is offered when the field
      // keeps it.
      const std::wstring advised =
          typed.mark == L' ' ? AdvisedText(typed.groupedValue, rule, desktopThousandsMark) : std::wstring();
      reading.refusal = RangeSentence(rule, true) + (advised.empty()
                                                         ? std::wstring(L" Type it without thousands separators.")
                                                         : L" Type " + advised + L": without thousands separators.");
      return reading;
    }
    case TypedNumber::Kind::ambiguousMark:
      // "1,500": a decimal mark, or a thousands separator? Neither reading is taken on a guess.
      reading.kind = NumberFieldReading::Kind::notANumber;
      reading.refusal = RangeSentence(rule, true) + AmbiguousMarkHint(typed, rule, desktopThousandsMark);
      return reading;
    case TypedNumber::Kind::notANumber:
      reading.kind = NumberFieldReading::Kind::notANumber;
      reading.refusal = RangeSentence(rule, true);
      return reading;
  }
  if (!typed.unit.empty() && !UnitMatches(typed.unit, rule.unit)) {
    reading.kind = NumberFieldReading::Kind::notANumber;
    reading.refusal = RangeSentence(rule, true) + UnitHint(typed.unit, rule);
    return reading;
  }
  const double number = typed.value;
  reading.value = number;
  if (typed.belowFloat) {
    // "1e-400" read as 0 (or a float no field keeps) said nothing of what it did.
    reading.kind = NumberFieldReading::Kind::refused;
    reading.refusal = RangeSentence(rule, false) + L" " + TrimmedText(text) +
                      L" is too close to 0 to be kept: type 0, or a number the field shows.";
    return reading;
  }
  // Infinity fails the upper bound, so "inf" is refused like any other value too large.
  if (IsInFieldRange(number, rule)) {
    if (IsShownAsItIs(number, rule)) {
      reading.kind = NumberFieldReading::Kind::accepted;
      return reading;
    }
    // A count does not round 1.5 to 2, nor a level field show 1.234 as 1.23: what the field
    // would change is refused where it is typed.
    reading.kind = NumberFieldReading::Kind::refused;
    reading.refusal = RangeSentence(rule, false, true);
    return reading;
  }
  const bool aboveMinimum = rule.minimumIncluded ? number >= rule.minimum : number > rule.minimum;
  reading.kind = NumberFieldReading::Kind::refused;
  reading.refusal = !aboveMinimum && !rule.tooSmall.empty() ? std::wstring(rule.tooSmall) : RangeSentence(rule, false);
  return reading;
}

bool NumberFieldRefuses(const NumberFieldReading& reading, const NumberFieldRule& rule) {
  switch (reading.kind) {
    case NumberFieldReading::Kind::accepted: return false;
    case NumberFieldReading::Kind::empty: return !rule.zeroAllowed;
    case NumberFieldReading::Kind::notANumber:
    case NumberFieldReading::Kind::refused: return true;
  }
  return true;
}

std::wstring NumberFieldRefusalOf(std::wstring_view text, const NumberFieldRule& rule) {
  const NumberFieldReading reading = ReadNumberField(text, rule);
  if (!NumberFieldRefuses(reading, rule)) return std::wstring();
  return reading.refusal.empty() ? NumberFieldRangeText(rule) : reading.refusal;
}

}  // namespace grainforge::app
