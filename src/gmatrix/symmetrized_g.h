// The U matrix of symmetry coordinates, the block card and the symmetrized
// G matrix G' = U G U^T by blocks, with the factoring test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmatrix/element_list.h"
#include "gmatrix/g_matrix.h"
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

// The first value of a block card that breaks the rule
// 1 = b1 < b2 < ... < bn = symmetry_count + 1: its position and value.
struct BlockCardFault {
  std::int32_t field;
  std::int32_t value;
};
std::optional<BlockCardFault> check_block_card(const std::vector<std::int32_t>& blocks,
                                               std::int32_t symmetry_count);

// Reads the block card under "(24I3)" (boundary_count values, continuing on
// further cards) and checks it. A boundary count below 2 reads no card. On a
// fault writes the block card error report and returns false.
bool read_block_card(Unit& deck, Unit& listing, std::int32_t problem_number,
                     std::int32_t boundary_count, std::int32_t symmetry_count,
                     std::vector<std::int32_t>& blocks);

// The rows of G' = U G U^T, one at a time from row 1 on: each row from its
// diagonal to the last symmetry coordinate. g is a closed G list over 1 ... nic,
// u a closed, normalised U list with columns in 1 ... nic and its rows in
// ascending order (as UMatrixBuilder makes it); rows of u above symmetry_count
// are passed over. G and U are held as lists grouped by index, so a row costs
// work in proportion to the elements of G and U that meet it, not to nic or
// to the symmetry coordinate count.
class SymmetrizedRows {
 public:
  SymmetrizedRows(const ElementList& g, const ElementList& u, std::int32_t nic,
                  std::int32_t symmetry_count);

  // Computes the next row s and returns s; then value(k) = G'(s, k) for
  // k = s ... symmetry_count.
  std::int32_t next_row();
  float value(std::int32_t k) const { return r_[static_cast<std::size_t>(k)]; }
  // The columns k >= s of row s, ascending, that U and G can make non-zero:
  // value(k) is a zero for every other k.
  const std::vector<std::int32_t>& columns() const { return met_rows_; }

 private:
  const ElementList& u_;
  std::size_t q_ = 0;   // next U entry to take into the dense row
  std::int32_t s_ = 1;  // the next row
  // G by internal coordinate: adj_[adj_first_[i] ...] are the (index, value)
  // pairs that add to (G v)(i), in the order the G list gives them.
  std::vector<std::size_t> adj_first_;
  std::vector<std::pair<std::size_t, float>> adj_;
  bool ascending_ = false;  // every index's partners stand in ascending order
  // U by row: row k's entries are u_[row_first_[k] ... row_first_[k + 1] - 1].
  std::vector<std::size_t> row_first_;
  // U by column: the rows naming internal coordinate i, ascending, from
  // col_rows_[col_cursor_[i]] (rows below the current one passed) to
  // col_rows_[col_first_[i + 1] - 1].
  std::vector<std::size_t> col_first_, col_cursor_;
  std::vector<std::int32_t> col_rows_;
  std::vector<float> v_, t_, r_;
  std::vector<std::size_t> v_cols_, t_cols_;  // where v and t may be non-zero
  std::vector<std::int32_t> met_rows_;
  std::vector<std::int32_t> t_mark_;        // row stamps: index of t already collected
  std::vector<std::uint64_t> met_bits_;     // the rows of U met, one bit each; clear between rows
};

// The factoring report of G'(row, column), an element beyond its block.
void write_factoring_report(Unit& listing, std::int32_t row, std::int32_t column, float value);

// The symmetrized G section: heading, then per block its heading, the
// factoring reports and the block list. blocks is a checked block card.
void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count);

}  // namespace korven
