// The B matrix of a problem: the dispatch of each internal coordinate entry
// to the routine of its kind, the closing of the B list, its listing and its
// store in the first scratch file.
#pragma once

#include <cstdint>
#include <vector>

#include "bmatrix/element_list.h"
#include "deck/problem.h"
#include "records/units.h"

namespace korven {

// Unit numbers of the run's files.
inline constexpr int kDeckUnit = 5;
inline constexpr int kListingUnit = 6;
inline constexpr int kBScratchUnit = 1;
inline constexpr int kUScratchUnit = 2;

// The eight fields of one internal coordinate entry, as read.
struct CoordinateEntry {
  std::int32_t no, code, i, j, k, l, ix, jx;
};

// Error codes of the B-row routines.
enum BRowError : std::int32_t {
  kRowOk = 0,
  kFieldOutOfRange = 1,
  kDegenerateGeometry = 2,
  kPerpendicularOutOfPlane = 3,
};

// Calls the routine of the entry's kind (after the walk has echoed it),
// moving pair_row and current_row for CODE 5. Sets error to a positive code
// when the entry is rejected; the B list is then unchanged. The linear bend
// reads its reference-point card from deck and writes its records to listing.
void dispatch_entry(const CoordinateEntry& entry, std::int32_t& current_row,
                    std::int32_t& pair_row, std::int32_t& error, ElementList& b,
                    const Positions& x, std::int32_t atoms, Unit& deck, Unit& listing);

// Closes the B list with its end entry (-5, 0, 0) and divides each combined
// row by its entry count: row_counts[r] is the number of entries that row r
// sums (0 or 1: not combined).
void finish_b_list(ElementList& b, const std::vector<std::int32_t>& row_counts);

// The B section of the listing, ending with the element list for TALMIR.
void write_b_listing(Unit& listing, const Problem& problem, const ElementList& b);

// Writes the closed B list to the first scratch file.
void store_b_list(Units& units, const ElementList& b);

}  // namespace korven
