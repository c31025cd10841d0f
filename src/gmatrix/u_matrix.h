// The U matrix of symmetry coordinates: its cards read and checked triple by
// triple into the U list, each row normalised, and the list's store in and
// reload from the second scratch file.
#pragma once

#include <cstdint>
#include <vector>

#include "bmatrix/element_list.h"
#include "records/units.h"

namespace korven {

// Row of the U list's end entry.
inline constexpr std::int32_t kUEndRow = -3;

// What became of one U-matrix triple.
enum class UTripleOutcome {
  taken,     // appended to the U list
  skipped,   // row 0: an empty triple
  complete,  // the end triple: the U list is normalised and closed
  error,     // the triple is refused: U error
};

// Builds the U list from its triples in card order: checks them, keeps the
// running sum of squares of the current row and normalises every row to unit
// length when the end triple comes. A row closed with a zero sum of squares
// traps (divide by zero).
class UMatrixBuilder {
 public:
  // symmetry_count: the rows 1 ... symmetry_count; nic: the columns 1 ... nic.
  UMatrixBuilder(std::int32_t symmetry_count, std::int32_t nic, ElementList& list);

  UTripleOutcome take(std::int32_t row, std::int32_t column, float value);

 private:
  void close_row();  // factor of the current row

  std::int32_t symmetry_count_;
  std::int32_t nic_;
  ElementList& list_;
  std::int32_t current_ = 1;     // the current row c
  float squares_ = 0.0f;         // its running sum of squares
  std::vector<float> factors_;   // nu(s), s = 1 ... max(symmetry_count, 1)
  std::vector<std::int32_t> seen_;  // seen_[column]: last row that named it
};

// Reads the U matrix cards under "(4(2I3,F12.6))" into u. On a refused triple
// writes the U error report and returns false.
bool read_u_matrix(Unit& deck, Unit& listing, std::int32_t problem_number,
                   std::int32_t symmetry_count, std::int32_t nic, ElementList& u);

// Writes the U list to the second scratch file.
void store_u_list(Units& units, const ElementList& u);

// Reads u.size() entries of the U list back from the second scratch file.
void reload_u_list(Units& units, ElementList& u);

}  // namespace korven
