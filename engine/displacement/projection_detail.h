// Helpers that the projection, the cage handles and the mask volumes share: the angle
// constants every conversion uses, axis access on Vec3, and reading Euler angles back from a
// turned frame.
#pragma once

#include "engine/displacement/projection.h"

namespace grainforge::mesh {

namespace detail {

// Single-precision pi and two pi, the values every angle conversion here uses.
inline constexpr float kPi = 3.1415927f;
inline constexpr float kTwoPi = 6.2831855f;

inline float Component(Vec3 v, std::int32_t axis)
{
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

// The unit vector of axis 0, 1 or 2 (2 for anything else).
inline Vec3 UnitAxis(std::int32_t axis)
{
    return axis == 0 ? Vec3{1.0f, 0.0f, 0.0f}
                     : (axis == 1 ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{0.0f, 0.0f, 1.0f});
}

// Below this length of the x axis across world x and y the frame counts as locked (x axis
// along world z): the z angle is 0, costing at most this many radians of tilt.
inline constexpr float kLockedAcross = 1e-6f;

// Euler angles in degrees read back from a rotated frame's axes, such that
// EulerDegreesToMatrix gives the frame back; the locked case puts the whole turn into the x
// angle.
Vec3 EulerDegreesFromAxes(const CageAxes& axes);

// Keeps the samples flagged in `keep` (among the first `count`), in their order, and
// renormalises them: weights divided by their sum, coverage multiplied by it (at most 1), the
// dominant side the first of the heaviest. With nothing kept, or kept weights that add up to
// nothing, the set becomes empty (no sample, coverage 0, dominant side -1).
void KeepSamples(ProjectionSamples& result, const bool (&keep)[3]);

}  // namespace detail

}  // namespace grainforge::mesh
