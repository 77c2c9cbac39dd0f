#include "engine/mesh/near_points.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace grainforge::mesh::detail {
namespace {

// Points across cell borders on both sides of 0, at the reach exactly and a float step beyond
// it, and one with a coordinate that is not a number.
TEST(NearPoints, FindsEveryPointWithinTheReachAcrossCellsAndNoOther)
{
    const float beyond = std::nextafter(0.5f, 1.0f);
    const std::vector<Vec3> points = {{0, 0, 0}, {0.49f, 0, 0}, {-0.49f, 0, 0}, {0.5f, 0, 0}, {beyond, 0, 0},
        {0, 0.3f, 0.3f}, {0, 0.4f, 0.4f}, {std::numeric_limits<float>::quiet_NaN(), 0, 0}, {-1.2f, -0.2f, 0}};
    const NearPoints near(points, 0.5f);
    const struct {
        Vec3 at;
        std::vector<std::uint32_t> found;  // ascending
    } cases[] = {
        {{0, 0, 0}, {0, 1, 2, 3, 5}},
        {{-0.99f, 0, 0}, {2, 8}},
        {{0.25f, 0.25f, 0.25f}, {0, 1, 3, 4, 5, 6}},
        {{5, 5, 5}, {}},
        {{std::numeric_limits<float>::infinity(), 0, 0}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> found;
        near.ForEachWithin(c.at, [&](std::uint32_t i, double distance) {
            found.push_back(i);
            const Vec3 d = points[i] - c.at;
            EXPECT_EQ(distance, static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y + static_cast<double>(d.z) * d.z);
        });
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.found) << c.at.x << " " << c.at.y << " " << c.at.z;
    }
}

}  // namespace
}  // namespace grainforge::mesh::detail
