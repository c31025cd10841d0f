// Which rows of B are linearly independent: a greedy Gram–Schmidt over the
// rows in a preference order, keeping a row when what is left of it after
// projection on the rows kept before it is more than kIndependenceFraction of
// its length.
#pragma once

#include <vector>

#include "kit/coordinates.h"
#include "kit/wilson_b.h"

namespace korven::kit {

// The residual a row must keep, relative to its norm, to count as
// independent of the rows kept before it. Rows of the written B are exact to
// about 1e-6 (six decimals), far below this; genuinely independent rows of
// real molecules keep far more.
inline constexpr double kIndependenceFraction = 1e-4;

// The order of preference: stretch, bend, linear-bend component,
// out-of-plane angle, torsion.
int preference_rank(CoordinateKind kind);

// Row indices in preference order: by rank, then by position.
std::vector<int> preference_order(const std::vector<int>& ranks);

// kept[r] for every row: the greedy choice over `order`. Rows may hold the
// same column more than once; such entries add up.
std::vector<bool> independent_rows(const std::vector<SparseRow>& rows, int columns,
                                   const std::vector<int>& order);

}  // namespace korven::kit
