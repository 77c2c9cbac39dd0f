#include "engine/displacement/plain_rims.h"

#include <gtest/gtest.h>

namespace grainforge::mesh::detail {
namespace {

// A plain triangle still short of its area after the halvings has its rim corners put back,
// which leaves it as it was: the rounds end.
TEST(KeepPlainTrianglesTurned, RoundsHalveFourTimesThenPutBack)
{
    const struct {
        std::int32_t round;
        TakeBack takeBack;
        float kept;
    } rows[] = {{0, TakeBack::halve, 0.5f}, {3, TakeBack::halve, 0.5f}, {4, TakeBack::putBack, 0.0f},
        {40, TakeBack::putBack, 0.0f}};
    for (const auto& row : rows) {
        EXPECT_EQ(PlanRimRound(row.round), row.takeBack) << "round " << row.round;
        EXPECT_EQ(KeptShare(PlanRimRound(row.round)), row.kept) << "round " << row.round;
    }
}

}  // namespace
}  // namespace grainforge::mesh::detail
