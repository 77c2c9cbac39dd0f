#include "engine/mesh/label_vote.h"

#include <algorithm>
#include <span>

namespace grainforge::mesh {
namespace {

// The label of the longest run of equal votes in `sorted`; only a longer run replaces the one
// held, so the first, lowest, of equally long runs wins.
template <class Vote, class LabelOf>
std::uint32_t MostCommonOfSorted(std::span<const Vote> sorted, std::uint32_t none, LabelOf labelOf)
{
    std::uint32_t chosen = none;
    std::size_t most = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i + 1;
        while (j < sorted.size() && sorted[j] == sorted[i])
            ++j;
        if (j - i > most) {
            most = j - i;
            chosen = labelOf(sorted[i]);
        }
        i = j;
    }
    return chosen;
}

std::uint32_t KeyOf(std::uint64_t vote) { return static_cast<std::uint32_t>(vote >> 32); }

std::uint32_t LabelOf(std::uint64_t vote) { return static_cast<std::uint32_t>(vote & 0xFFFFFFFFu); }

}  // namespace

std::uint32_t MostCommonLabel(std::vector<std::uint32_t> votes, std::uint32_t none)
{
    std::sort(votes.begin(), votes.end());
    return MostCommonOfSorted(std::span<const std::uint32_t>(votes), none, [](std::uint32_t v) { return v; });
}

std::vector<std::uint32_t> MostCommonLabelPerKey(std::vector<std::uint64_t> votes, std::size_t keyCount,
                                                 std::uint32_t none)
{
    std::sort(votes.begin(), votes.end());
    std::vector<std::uint32_t> chosen(keyCount, none);
    const std::span<const std::uint64_t> sorted(votes);
    for (std::size_t i = 0; i < sorted.size();) {
        const std::uint32_t key = KeyOf(sorted[i]);
        std::size_t j = i + 1;
        while (j < sorted.size() && KeyOf(sorted[j]) == key)
            ++j;
        chosen[key] = MostCommonOfSorted(sorted.subspan(i, j - i), none, LabelOf);
        i = j;
    }
    return chosen;
}

}  // namespace grainforge::mesh
