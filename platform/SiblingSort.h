#pragma once
// The order of one set of siblings: a stable merge sort of their positions, so that the rows
// themselves move once, when the order is applied.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace purgala {

// The positions 0..count-1 in the order `compare` gives for them (negative: the first goes
// first): position i of the result holds the position of the row that goes there. A strict
// answer puts the second row first when ascending, and any negative one when descending, so
// rows that compare equal (0) keep their order either way.
std::vector<std::uint64_t> SortedOrder(std::size_t count,
                                       const std::function<int(std::size_t, std::size_t)>& compare,
                                       bool ascending);

}  // namespace purgala
