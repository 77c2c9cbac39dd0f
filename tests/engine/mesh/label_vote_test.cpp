#include "engine/mesh/label_vote.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace grainforge::mesh {
namespace {

constexpr std::uint32_t kNone = 99;

// The order the votes come in must not matter: ties are given in both orders, and a majority
// that arrives last still wins.
TEST(LabelVote, TheMostNamedLabelWinsAndATieGoesToTheLowest)
{
    const struct {
        std::vector<std::uint32_t> votes;
        std::uint32_t chosen;
    } cases[] = {
        {{}, kNone},
        {{7}, 7},
        {{5, 3}, 3},
        {{3, 5}, 3},
        {{9, 9, 2, 2}, 2},
        {{4, 8, 8, 4, 1}, 4},
        {{1, 2, 6, 6, 6}, 6},
        {{0xFFFFFFFEu, 0xFFFFFFFEu, 0}, 0xFFFFFFFEu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MostCommonLabel(c.votes, kNone), c.chosen) << c.votes.size() << " votes";
        // The same votes under one key give the same answer.
        std::vector<std::uint64_t> keyed;
        for (const std::uint32_t label : c.votes)
            keyed.push_back(KeyedVote(1, label));
        EXPECT_EQ(MostCommonLabelPerKey(keyed, 2, kNone), (std::vector<std::uint32_t>{kNone, c.chosen}))
            << c.votes.size() << " votes";
    }
}

// Keys counted apart: one key's votes never tip another's, and a key without votes gets none.
TEST(LabelVote, EachKeyIsCountedOnItsOwn)
{
    const std::vector<std::uint64_t> votes = {KeyedVote(2, 5), KeyedVote(0, 4), KeyedVote(2, 5), KeyedVote(0, 6),
        KeyedVote(0, 6), KeyedVote(3, 1), KeyedVote(2, 4), KeyedVote(0, 5), KeyedVote(0, 5), KeyedVote(3, 0)};
    // Key 0: 5 and 6 twice each (the lower wins); key 2: 5 twice over 4 once; key 3: a tie of 0 and 1.
    EXPECT_EQ(MostCommonLabelPerKey(votes, 5, kNone), (std::vector<std::uint32_t>{5, kNone, 5, 0, kNone}));
}

}  // namespace
}  // namespace grainforge::mesh
