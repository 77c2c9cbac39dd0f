#include "app/document/field_ranges.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <system_error>

namespace grainforge::app {

bool IsInFieldRange(double value, const NumberFieldRule& rule)
{
    if (rule.zeroAllowed && value == 0.0)
        return true;
    const bool aboveMinimum = rule.minimumIncluded ? value >= rule.minimum : value > rule.minimum;
    return aboveMinimum && value <= rule.maximum;
}

double AsFieldShowsIt(double value, const NumberFieldRule& rule)
{
    const int decimals = rule.wholeNumber ? 0 : rule.decimals;
    if (decimals < 0 || !std::isfinite(value))
        return value;
    // As the field writes it, "%.*f", read back: 1.5 in a whole field is "2", 1.234 at two
    // decimals "1.23".
    char text[400];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    double shown = 0.0;
    if (written.ec != std::errc() || std::from_chars(text, written.ptr, shown).ec != std::errc())
        return value;
    return shown;
}

bool IsShownAsItIs(double value, const NumberFieldRule& rule)
{
    return AsFieldShowsIt(value, rule) == value;
}

namespace {

// The volume's values in the order of kMaskFieldRules.
template <typename Volume>
auto MaskFieldValues(Volume& v)
{
    return std::array{&v.center.x, &v.center.y, &v.center.z, &v.size.x, &v.size.y, &v.size.z, &v.rotationDegrees.x,
        &v.rotationDegrees.y, &v.rotationDegrees.z, &v.featherMillimetres};
}

}  // namespace

grainforge::mesh::MaskVolume HeldToMaskFieldDecimals(
    grainforge::mesh::MaskVolume volume, const grainforge::mesh::MaskVolume* before)
{
    const auto values = MaskFieldValues(volume);
    static_assert(std::size(values) == std::size(kMaskFieldRules));
    for (std::size_t i = 0; i < std::size(values); ++i) {
        if (before != nullptr && *MaskFieldValues(*before)[i] == *values[i])
            continue;
        if (IsInFieldRange(*values[i], kMaskFieldRules[i]))
            *values[i] = static_cast<float>(AsFieldShowsIt(*values[i], kMaskFieldRules[i]));
    }
    return volume;
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
