// Small helpers shared by the pattern sources: reading counts, choice indices and seeds from a
// parameter set, and the fraction, smoothstep and non-negative remainder that many patterns
// use. Internal to engine/textures; callers outside it use the registry.
#pragma once

#include "engine/textures/parameter_set.h"

#include <cmath>
#include <cstdint>
#include <string_view>

namespace grainforge::mesh::procedural::detail {

inline constexpr float kPi = 3.14159265358979f;

// A count, choice index or seed read as a float, rounded half away from zero. Values are
// clamped by their tables, so the bound only keeps the conversion defined (NaN gives the
// lower bound).
inline std::int32_t RoundToInt(float value)
{
    const float rounded = std::round(value);
    if (!(rounded > -1e9f))
        return -1000000000;
    if (!(rounded < 1e9f))
        return 1000000000;
    return static_cast<std::int32_t>(rounded);
}

// floor(value) as an integer, held within +-2^30 so that index arithmetic never overflows.
inline std::int32_t FloorToInt(float value)
{
    const float floored = std::floor(value);
    if (!(floored > -1073741824.0f))
        return -(1 << 30);
    if (!(floored < 1073741824.0f))
        return 1 << 30;
    return static_cast<std::int32_t>(floored);
}

inline std::int32_t RoundedValue(const ParameterSet& set, std::string_view key)
{
    return RoundToInt(set.GetValue(key));
}

// The rounded "seed" as the hash word it seeds.
inline std::uint32_t SeedValue(const ParameterSet& set)
{
    return static_cast<std::uint32_t>(RoundedValue(set, "seed"));
}

inline float Fraction(float t) { return t - std::floor(t); }

// 0 up to w = 0, 1 from w = 1, w^2 (3 - 2w) between.
inline float SmoothStep(float w)
{
    if (w <= 0.0f)
        return 0.0f;
    if (w >= 1.0f)
        return 1.0f;
    return w * w * (3.0f - 2.0f * w);
}

// The non-negative remainder of a by n; 0 when n is below 1.
inline std::int32_t FlooredMod(std::int32_t a, std::int32_t n)
{
    if (n < 1)
        return 0;
    const std::int32_t r = a % n;
    return r < 0 ? r + n : r;
}

}  // namespace grainforge::mesh::procedural::detail
