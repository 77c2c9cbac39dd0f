// Number formatting shared by the report texts of the mesh operations (STL import and export,
// validation, tidying). The texts are the same whatever the process locale: numbers never
// take a locale's decimal comma or digit grouping.
#pragma once

#include <cstdint>
#include <string>

namespace grainforge::mesh {

// Decimal digits with "," before every group of three counted from the right:
// 1234567 gives "1,234,567", 999 gives "999", 0 gives "0".
std::string FormatCountGrouped(std::uint64_t count);

// The value with two decimals, as printf's "%.2f" in the C locale ("12.50", "-0.00", "inf").
std::string FormatMillimetres2(float value);

// Three lengths, each as FormatMillimetres2, joined by " x " and followed by " mm":
// "20.00 x 20.00 x 20.00 mm".
std::string FormatSize3(float x, float y, float z);

// The value as printf's "%.6g" in the C locale ("0.001", "8000.5", "1.5e-06"); the report
// texts use it for tolerances and volumes.
std::string FormatGeneral6(double value);

}  // namespace grainforge::mesh
