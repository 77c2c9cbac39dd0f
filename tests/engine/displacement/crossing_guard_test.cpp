#include "engine/displacement/crossing_guard.h"

#include <gtest/gtest.h>

namespace grainforge::mesh::detail {
namespace {

TEST(CrossingGuard, RoundsHalveThenPutBackAndWidenFromTheFourth)
{
    const struct {
        std::uint32_t round;
        bool widen;
        TakeBack takeBack;
    } rows[] = {{1, false, TakeBack::halve}, {3, false, TakeBack::halve}, {4, true, TakeBack::halve},
        {6, true, TakeBack::halve}, {7, true, TakeBack::putBack}, {kMaxCrossingRounds, true, TakeBack::putBack}};
    for (const auto& row : rows)
        EXPECT_EQ(PlanCrossingRound(row.round), (GuardRound{.widen = row.widen, .takeBack = row.takeBack}))
            << "round " << row.round;
}

}  // namespace
}  // namespace grainforge::mesh::detail
