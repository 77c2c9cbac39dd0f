#include "app/document/field_ranges.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace grainforge::app {

bool IsInFieldRange(double value, const NumberFieldRule& rule)
{
    if (rule.zeroAllowed && value == 0.0)
        return true;
    const bool aboveMinimum = rule.minimumIncluded ? value >= rule.minimum : value > rule.minimum;
    return aboveMinimum && value <= rule.maximum;
}

bool IsShownAsItIs(double value, const NumberFieldRule& rule)
{
    const int decimals = rule.wholeNumber ? 0 : rule.decimals;
    if (decimals < 0 || !std::isfinite(value))
        return true;
    // As the field writes it, "%.*f", read back: 1.5 in a whole field is "2", 1.234 at two
    // decimals "1.23".
    char text[400];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    double shown = 0.0;
    if (written.ec != std::errc() || std::from_chars(text, written.ptr, shown).ec != std::errc())
        return true;
    return shown == value;
}

double ReadableEnd(float end)
{
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, end);
    double value = end;
    if (written.ec == std::errc())
        std::from_chars(text, written.ptr, value);
    return value;
}

bool HasNearestInFieldRange(double value, const NumberFieldRule& rule)
{
    if (IsInFieldRange(value, rule))
        return true;
    if (!std::isfinite(value) || (rule.positiveOnly && !(value > 0.0)))
        return false;
    return value > rule.maximum || rule.minimumIncluded;
}

double HoldToFieldRange(double value, const NumberFieldRule& rule, double fallback)
{
    if (IsInFieldRange(value, rule))
        return value;
    if (!HasNearestInFieldRange(value, rule))
        return fallback;
    return value > rule.maximum ? rule.maximum : rule.minimum;
}

}  // namespace grainforge::app
