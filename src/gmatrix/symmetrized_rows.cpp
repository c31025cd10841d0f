// The row kernel of G' = U G U^T: G and U grouped by index once, then each
// row formed from the elements that meet it, its sums taken in the order of
// a pass over the whole lists.
#include "gmatrix/symmetrized_rows.h"

#include <algorithm>
#include <bit>

#include "records/fp_trap.h"

namespace korven {

namespace {

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

// Size of the work rows over internal coordinates: nic, or more should a list
// name a larger index, so that no index can fall outside them.
std::size_t internal_extent(const ElementList& g, const ElementList& u, std::int32_t nic) {
  std::int32_t largest = std::max(nic, 0);
  for (const Element& e : g) largest = std::max({largest, e.row, e.col});
  for (const Element& e : u) largest = std::max(largest, e.col);
  return index_of(largest) + 1;
}

}  // namespace

SymmetrizedRows::SymmetrizedRows(const ElementList& g, const ElementList& u, std::int32_t nic,
                                 std::int32_t symmetry_count)
    : u_(u),
      v_(internal_extent(g, u, nic), 0.0f),
      t_(v_.size() + 1, 0.0f),  // and one index past them all, never written
      r_(index_of(std::max(symmetry_count, 0)) + 1, 0.0f),
      t_mark_(v_.size(), 0),
      met_bits_(r_.size() / 64 + 1, 0) {
  const std::size_t extent = v_.size();
  const std::size_t rows = r_.size() - 1;
  const std::size_t g_elements = g.empty() ? 0 : g.size() - 1;
  const std::size_t u_elements = u.empty() ? 0 : u.size() - 1;
  auto listed_row = [rows](std::int32_t k) { return k >= 1 && index_of(k) <= rows; };

  // G by index: element (i, j, g) adds v(j) g to t(i) and, off the diagonal,
  // v(i) g to t(j); each index keeps its pairs in list order.
  adj_first_.assign(extent + 1, 0);
  for (std::size_t n = 0; n < g_elements; ++n) {
    ++adj_first_[index_of(g[n].row) + 1];
    if (g[n].col != g[n].row) ++adj_first_[index_of(g[n].col) + 1];
  }
  for (std::size_t i = 1; i <= extent; ++i) adj_first_[i] += adj_first_[i - 1];
  adj_.resize(adj_first_[extent]);
  {
    std::vector<std::size_t> next(adj_first_.begin(), adj_first_.end() - 1);
    for (std::size_t n = 0; n < g_elements; ++n) {
      const std::size_t i = index_of(g[n].row);
      const std::size_t j = index_of(g[n].col);
      adj_[next[i]++] = {j, g[n].value};
      if (j != i) adj_[next[j]++] = {i, g[n].value};
    }
  }

  // U by row and by column, rows 1 ... symmetry_count only. The rows
  // ascend, so a row's entries stand together and a column's rows ascend.
  row_first_.assign(rows + 2, 0);
  col_first_.assign(extent + 1, 0);
  for (std::size_t n = 0; n < u_elements; ++n) {
    if (!listed_row(u[n].row)) continue;
    ++row_first_[index_of(u[n].row) + 1];
    ++col_first_[index_of(u[n].col) + 1];
  }
  for (std::size_t k = 1; k <= rows + 1; ++k) row_first_[k] += row_first_[k - 1];
  for (std::size_t i = 1; i <= extent; ++i) col_first_[i] += col_first_[i - 1];
  col_rows_.resize(col_first_[extent]);
  col_cursor_.assign(col_first_.begin(), col_first_.end() - 1);
  for (std::size_t n = 0; n < u_elements; ++n) {
    if (listed_row(u[n].row)) col_rows_[col_cursor_[index_of(u[n].col)]++] = u[n].row;
  }
  col_cursor_.assign(col_first_.begin(), col_first_.end() - 1);

  // G lists as the run makes them (rows ascending, columns ascending from the
  // diagonal) give every index its partners in ascending order; then t can be
  // formed from the columns of the U row outwards, see next_row.
  ascending_ = true;
  for (std::size_t i = 0; i < extent && ascending_; ++i) {
    for (std::size_t a = adj_first_[i] + 1; a < adj_first_[i + 1]; ++a) {
      if (adj_[a].first < adj_[a - 1].first) {
        ascending_ = false;
        break;
      }
    }
  }
}

// Every t(i) and r(k) below is summed term by term in the order in which a
// pass over the whole G list, and over the rest of the U list, takes its
// terms, so every rounding is the same. The terms left out are products with
// a zero of v or t: they add a zero, which can at most decide the sign of a
// zero sum (and a zero's sign never changes a non-zero sum it enters later),
// and a zero is never listed.
std::int32_t SymmetrizedRows::next_row() {
  const std::int32_t s = s_;
  clear_row();
  fp_guarded([&] {
    take_u_row(s);
    if (ascending_) {
      form_t_by_columns(s);
    } else {
      form_t_by_index(s);
    }
    find_met_rows(s);
    form_r_rest(form_r_by_fours());
  });
  ++s_;
  return s;
}

// The previous row's v, t and r back to zeros, where it wrote them.
void SymmetrizedRows::clear_row() {
  for (const std::size_t i : v_cols_) v_[i] = 0.0f;
  for (const std::size_t i : t_cols_) t_[i] = 0.0f;
  for (const std::int32_t k : met_rows_) r_[index_of(k)] = 0.0f;
  v_cols_.clear();
  t_cols_.clear();
  met_rows_.clear();
}

// v: the dense U row s.
void SymmetrizedRows::take_u_row(std::int32_t s) {
  const std::size_t u_elements = u_.empty() ? 0 : u_.size() - 1;
  while (q_ < u_elements && u_[q_].row == s) {
    v_[index_of(u_[q_].col)] = u_[q_].value;
    v_cols_.push_back(index_of(u_[q_].col));
    ++q_;
  }
}

// t = G v taken column by column of U row s in ascending order: each t(i)
// then receives its terms in the order of i's partners in the G list, the
// non-zero v(j) ones only. For G lists whose partners ascend.
void SymmetrizedRows::form_t_by_columns(std::int32_t s) {
  std::sort(v_cols_.begin(), v_cols_.end());
  v_cols_.erase(std::unique(v_cols_.begin(), v_cols_.end()), v_cols_.end());
  for (const std::size_t j : v_cols_) {
    const double vj = static_cast<double>(v_[j]);
    for (std::size_t a = adj_first_[j]; a < adj_first_[j + 1]; ++a) {
      const std::size_t i = adj_[a].first;
      if (t_mark_[i] != s) {
        t_mark_[i] = s;
        t_cols_.push_back(i);
      }
      t_[i] = static_cast<float>(static_cast<double>(t_[i]) + vj * static_cast<double>(adj_[a].second));
    }
  }
}

// t = G v at the indices that G links to the columns of U row s, each t(i)
// summed over all of i's partners in list order.
void SymmetrizedRows::form_t_by_index(std::int32_t s) {
  for (const std::size_t j : v_cols_) {
    for (std::size_t a = adj_first_[j]; a < adj_first_[j + 1]; ++a) {
      const std::size_t i = adj_[a].first;
      if (t_mark_[i] == s) continue;
      t_mark_[i] = s;
      t_cols_.push_back(i);
    }
  }
  for (const std::size_t i : t_cols_) {
    float ti = 0.0f;
    for (std::size_t a = adj_first_[i]; a < adj_first_[i + 1]; ++a) {
      const double value = static_cast<double>(adj_[a].second);
      ti = static_cast<float>(static_cast<double>(ti) + static_cast<double>(v_[adj_[a].first]) * value);
    }
    t_[i] = ti;
  }
}

// The rows k >= s of U that name an index of t, ascending, into met_rows_:
// each such row sets its bit in a map of the rows (at most 999, 16 words),
// read back from s to the last row set. (Plain pointers here, so that no
// store has every bound read again.)
void SymmetrizedRows::find_met_rows(std::int32_t s) {
  std::uint64_t* const bits = met_bits_.data();
  const std::int32_t* const col_rows = col_rows_.data();
  const std::size_t* const col_first = col_first_.data();
  std::size_t* const cursor = col_cursor_.data();
  std::int32_t last = s - 1;
  for (const std::size_t i : t_cols_) {
    std::size_t from = cursor[i];
    const std::size_t end = col_first[i + 1];
    while (from < end && col_rows[from] < s) ++from;
    cursor[i] = from;
    for (std::size_t n = from; n < end; ++n) {
      const auto k = static_cast<std::uint32_t>(col_rows[n]);
      bits[k >> 6] |= std::uint64_t{1} << (k & 63);
    }
    if (from < end) last = std::max(last, col_rows[end - 1]);
  }
  met_rows_.resize(r_.size());
  std::int32_t* const met = met_rows_.data();
  std::size_t count = 0;
  for (std::size_t w = index_of(s) >> 6; w <= (index_of(last) >> 6) && last >= s; ++w) {
    for (std::uint64_t word = std::exchange(bits[w], 0); word != 0; word &= word - 1) {
      met[count++] = static_cast<std::int32_t>(64 * w + static_cast<std::size_t>(std::countr_zero(word)));
    }
  }
  met_rows_.resize(count);
}

// r(k) = (U t)(k) for the met rows, four rows side by side, so that their
// sums (each a chain of roundings) overlap. A row shorter than the longest of
// the four goes on with terms 0 x 0 from the one index of t that is never
// written, each of which leaves its sum as it is (but for the sign of a zero
// sum). Returns the number of met rows summed.
std::size_t SymmetrizedRows::form_r_by_fours() {
  const std::size_t never_written = t_.size() - 1;
  std::size_t m = 0;
  for (; m + 4 <= met_rows_.size(); m += 4) {
    std::size_t from[4], length[4];
    std::size_t longest = 0;
    for (std::size_t l = 0; l < 4; ++l) {
      const std::size_t k = index_of(met_rows_[m + l]);
      from[l] = row_first_[k];
      length[l] = row_first_[k + 1] - from[l];
      longest = std::max(longest, length[l]);
    }
    float rk[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (std::size_t step = 0; step < longest; ++step) {
      for (std::size_t l = 0; l < 4; ++l) {
        const bool in = step < length[l];
        const Element& e = u_[from[l] + (in ? step : 0)];
        const double tc = static_cast<double>(t_[in ? index_of(e.col) : never_written]);
        const double uv = in ? static_cast<double>(e.value) : 0.0;
        rk[l] = static_cast<float>(static_cast<double>(rk[l]) + tc * uv);
      }
    }
    for (std::size_t l = 0; l < 4; ++l) r_[index_of(met_rows_[m + l])] = rk[l];
  }
  return m;
}

// r(k) for the met rows from the m-th on (fewer than four), one at a time.
void SymmetrizedRows::form_r_rest(std::size_t m) {
  for (; m < met_rows_.size(); ++m) {
    const std::int32_t k = met_rows_[m];
    float rk = 0.0f;
    for (std::size_t n = row_first_[index_of(k)]; n < row_first_[index_of(k) + 1]; ++n) {
      const double tc = static_cast<double>(t_[index_of(u_[n].col)]);
      rk = static_cast<float>(static_cast<double>(rk) + tc * static_cast<double>(u_[n].value));
    }
    r_[index_of(k)] = rk;
  }
}

void SymmetrizedRows::skip_row() {
  const std::size_t u_elements = u_.empty() ? 0 : u_.size() - 1;
  while (q_ < u_elements && u_[q_].row == s_) ++q_;
  ++s_;
}

}  // namespace korven
