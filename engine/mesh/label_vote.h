// Majority votes among labels: which label most of a set of votes name, where each vote names a
// label (a body, a piece) and the votes were gathered in no particular order. A tie goes to the
// lowest label, so the answer depends on the votes alone, never on the order or the thread that
// gathered them. Repair, the fix check and the body comparison use it to tell which body
// something came from by what most of its corners lie at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace grainforge::mesh {

// The label most of `votes` name, the lowest of the most named on a tie; `none` when there is
// no vote. Serial.
[[nodiscard]] std::uint32_t MostCommonLabel(std::vector<std::uint32_t> votes, std::uint32_t none);

// A vote of `key` for `label`, packed so that sorting the votes groups them by key.
[[nodiscard]] constexpr std::uint64_t KeyedVote(std::uint32_t key, std::uint32_t label)
{
    return std::uint64_t{key} << 32 | label;
}

// Per key below `keyCount`, the label most of that key's votes (made with KeyedVote) name, the
// lowest on a tie; `none` for a key without a vote. Every key must lie below `keyCount`. Serial.
[[nodiscard]] std::vector<std::uint32_t> MostCommonLabelPerKey(std::vector<std::uint64_t> votes,
                                                               std::size_t keyCount, std::uint32_t none);

}  // namespace grainforge::mesh
