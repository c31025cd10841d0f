// The row kernel of the symmetrized G matrix: the rows of G' = U G U^T formed
// one at a time from the G and U lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "bmatrix/element_list.h"

namespace korven {

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
  // Passes over row s without forming it; the next row is then s + 1.
  void skip_row();
  // The row the next call forms or passes over.
  std::int32_t upcoming() const { return s_; }
  float value(std::int32_t k) const { return r_[static_cast<std::size_t>(k)]; }
  // The columns k >= s of row s, ascending, that U and G can make non-zero:
  // value(k) is a zero for every other k.
  const std::vector<std::int32_t>& columns() const { return met_rows_; }

 private:
  // The phases of next_row, in their order.
  void clear_row();
  void take_u_row(std::int32_t s);
  void form_t_by_columns(std::int32_t s);
  void form_t_by_index(std::int32_t s);
  void find_met_rows(std::int32_t s);
  std::size_t form_r_by_fours();
  void form_r_rest(std::size_t m);

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

}  // namespace korven
