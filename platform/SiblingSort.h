#pragma once
// Sorting one set of siblings in place: a stable merge sort of their positions, then the rows put
// in that order without a second list of a million owners.

#include <cstddef>
#include <functional>

#include "platform/TreeTypes.h"

namespace purgala {

// Puts the children of `parent` in the order `compare` gives for their positions (negative:
// the first goes first). Rows that compare equal keep their order when ascending and are
// reversed when descending. Only the children are sorted, not the rows below them. `compare`,
// with whatever keys it holds, is let go before the rows move.
void SortSiblings(TVirtualNode* parent, std::function<int(std::size_t, std::size_t)> compare,
                  bool ascending);

}  // namespace purgala
