// Which rows of B are linearly independent: a greedy Gram–Schmidt in a
// preference order of the kinds (stretch, bend, linear-bend component,
// out-of-plane angle, torsion). All rows of one kind are offered before any
// of the next; among them the row that adds the most (the largest part of
// its length left after projection on the rows kept so far) is kept first,
// the lowest row on a tie, so that the rows chosen stand well apart and not
// merely independent. A kind ends when no row of it adds more than
// kIndependenceFraction of its length.
#pragma once

#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// The residual a row must keep, relative to its norm, to count as
// independent of the rows kept before it. Rows of the written B are exact to
// about 1e-6 (six decimals), far below this; genuinely independent rows of
// real molecules keep far more.
inline constexpr double kIndependenceFraction = 1e-4;

// kept[r] for every row, rows offered by ascending rank[r]; at most `limit`
// rows (the vibrations: no more can be independent). Rows may hold the same
// column more than once; such entries add up.
std::vector<bool> independent_rows(const std::vector<SparseRow>& rows, int columns,
                                   const std::vector<int>& ranks, int limit = -1);

}  // namespace korven::kit
