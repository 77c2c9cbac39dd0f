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

double HoldToFieldRange(double value, const NumberFieldRule& rule, double fallback)
{
    if (IsInFieldRange(value, rule))
        return value;
    if (!std::isfinite(value) || (rule.positiveOnly && !(value > 0.0)))
        return fallback;
    if (value > rule.maximum)
        return rule.maximum;
    // Below an excluded minimum no value of the range is nearest.
    return rule.minimumIncluded ? rule.minimum : fallback;
}

}  // namespace grainforge::app
