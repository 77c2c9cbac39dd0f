#include "app/document/field_ranges.h"

#include <algorithm>
#include <cmath>

namespace grainforge::app {

bool IsInFieldRange(double value, const NumberFieldRule& rule)
{
    if (rule.zeroAllowed && value == 0.0)
        return true;
    const bool aboveMinimum = rule.minimumIncluded ? value >= rule.minimum : value > rule.minimum;
    return aboveMinimum && value <= rule.maximum;
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
