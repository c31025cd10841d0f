// The internal coordinate cards: the walk that numbers the coordinates,
// echoes every entry taken up and hands it to the routine of its kind, so
// building the B list row by row as the cards come.
#pragma once

#include <cstdint>
#include <vector>

#include "bmatrix/element_list.h"
#include "deck/problem.h"
#include "records/units.h"

namespace korven {

// Reads the coordinate cards up to the entry whose NO is negative, building
// the B list entry by entry. row_counts[r] receives the number of entries
// that row r sums. pair_row lives for the whole run. Returns false after an
// internal coordinate error report.
bool read_coordinates(Unit& deck, Unit& listing, const Problem& problem, const Positions& x, ElementList& b,
                      std::int32_t& pair_row, std::vector<std::int32_t>& row_counts);

}  // namespace korven
