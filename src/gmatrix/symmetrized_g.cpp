// The U matrix, the block card, the symmetrized G matrix by blocks and the
// factoring test.
#include "gmatrix/symmetrized_g.h"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "bmatrix/b_matrix.h"
#include "records/direct_record.h"
#include "records/fp_trap.h"
#include "records/record_io.h"

namespace korven {

namespace {

// Block-list entries held before they are written: 25 full element records.
constexpr std::size_t kHeldEntries = 100;

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

}  // namespace

// ---------------------------------------------------------------------------
// U matrix

UMatrixBuilder::UMatrixBuilder(std::int32_t symmetry_count, std::int32_t nic, ElementList& list)
    : symmetry_count_(symmetry_count),
      nic_(nic),
      list_(list),
      factors_(index_of(std::max(symmetry_count, 1)) + 1, 0.0f),
      seen_(index_of(std::max(nic, 0)) + 1, 0) {
  list_.clear();
}

void UMatrixBuilder::close_row() {
  factors_[index_of(current_)] =
      static_cast<float>(1.0 / std::sqrt(static_cast<double>(squares_)));
}

UTripleOutcome UMatrixBuilder::take(std::int32_t row, std::int32_t column, float value) {
  if (row < 0) {
    if (row != kUEndRow) return UTripleOutcome::error;
    fp_guarded([&] { close_row(); });
    if (current_ != symmetry_count_) return UTripleOutcome::error;
    fp_guarded([&] {
      for (Element& e : list_) {
        e.value = static_cast<float>(static_cast<double>(factors_[index_of(e.row)]) *
                                     static_cast<double>(e.value));
      }
    });
    list_.push_back({kUEndRow, 0, 0.0f});
    return UTripleOutcome::complete;
  }
  if (row == 0) return UTripleOutcome::skipped;
  if (row > symmetry_count_ || row < current_) return UTripleOutcome::error;
  if (column < 1 || column > nic_) return UTripleOutcome::error;
  if (seen_[index_of(column)] == row) return UTripleOutcome::error;

  fp_guarded([&] {
    while (row > current_) {
      close_row();
      ++current_;
      squares_ = 0.0f;
    }
    squares_ = static_cast<float>(static_cast<double>(squares_) +
                                  static_cast<double>(value) * static_cast<double>(value));
  });
  seen_[index_of(column)] = row;
  list_.push_back({row, column, value});
  return UTripleOutcome::taken;
}

bool read_u_matrix(Unit& deck, Unit& listing, std::int32_t problem_number,
                   std::int32_t symmetry_count, std::int32_t nic, ElementList& u) {
  UMatrixBuilder builder(symmetry_count, nic, u);
  std::int32_t rows[4];
  std::int32_t columns[4];
  float values[4];
  for (;;) {
    ReadStatement rd(deck, "(4(2I3,F12.6))");
    for (int k = 0; k < 4; ++k) {
      rd.read_integer(rows[k]).read_integer(columns[k]).read_real(values[k]);
    }
    rd.end_read();
    for (int k = 0; k < 4; ++k) {
      switch (builder.take(rows[k], columns[k], values[k])) {
        case UTripleOutcome::complete:
          return true;
        case UTripleOutcome::error:
          write_record(listing, "");
          write_record(listing, "('0','U MATRIX ERROR PROBLEM',I7,'FIELD',I3,'READS',2I4,F12.6)",
                       problem_number, k + 1, rows[k], columns[k], values[k]);
          return false;
        case UTripleOutcome::taken:
        case UTripleOutcome::skipped:
          break;
      }
    }
  }
}

void store_u_list(Units& units, const ElementList& u) {
  store_element_list(units, kUScratchUnit, u);
}

void reload_u_list(Units& units, ElementList& u) {
  reload_element_list(units, kUScratchUnit, u, u.size());
}

// ---------------------------------------------------------------------------
// Block card

std::optional<BlockCardFault> check_block_card(const std::vector<std::int32_t>& blocks,
                                               std::int32_t symmetry_count) {
  const std::size_t n = blocks.size();
  if (n < 2) return BlockCardFault{0, static_cast<std::int32_t>(n)};
  const std::int64_t past_last = static_cast<std::int64_t>(symmetry_count) + 1;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t value = blocks[i];
    bool fits;
    if (i == 0) {
      fits = value == 1;
    } else if (i + 1 < n) {
      fits = value > blocks[i - 1] && value < past_last;
    } else {
      fits = value > blocks[i - 1] && value == past_last;
    }
    if (!fits) return BlockCardFault{static_cast<std::int32_t>(i + 1), value};
  }
  return std::nullopt;
}

bool read_block_card(Unit& deck, Unit& listing, std::int32_t problem_number,
                     std::int32_t boundary_count, std::int32_t symmetry_count,
                     std::vector<std::int32_t>& blocks) {
  blocks.clear();
  std::optional<BlockCardFault> fault;
  if (boundary_count < 2) {
    fault = BlockCardFault{0, boundary_count};
  } else {
    blocks.assign(index_of(boundary_count), 0);
    ReadStatement rd(deck, "(24I3)");
    for (std::int32_t& value : blocks) rd.read_integer(value);
    rd.end_read();
    fault = check_block_card(blocks, symmetry_count);
  }
  if (!fault) return true;
  write_record(listing, "");
  write_record(listing, "('0','BLOCK CARD ERROR PROBLEM',I7,'FIELD',I4,'READS',I4)",
               problem_number, fault->field, fault->value);
  return false;
}

// ---------------------------------------------------------------------------
// Symmetrized G

namespace {

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

std::int32_t SymmetrizedRows::next_row() {
  const std::int32_t s = s_;
  const std::size_t u_elements = u_.empty() ? 0 : u_.size() - 1;
  for (const std::size_t i : v_cols_) v_[i] = 0.0f;
  for (const std::size_t i : t_cols_) t_[i] = 0.0f;
  for (const std::int32_t k : met_rows_) r_[index_of(k)] = 0.0f;
  v_cols_.clear();
  t_cols_.clear();
  met_rows_.clear();

  // Every t(i) and r(k) below is summed term by term in the order in which a
  // pass over the whole G list, and over the rest of the U list, takes its
  // terms, so every rounding is the same. The terms left out are products
  // with a zero of v or t: they add a zero, which can at most decide the sign
  // of a zero sum (and a zero's sign never changes a non-zero sum it enters
  // later), and a zero is never listed.
  fp_guarded([&] {
    // The dense U row s.
    while (q_ < u_elements && u_[q_].row == s) {
      v_[index_of(u_[q_].col)] = u_[q_].value;
      v_cols_.push_back(index_of(u_[q_].col));
      ++q_;
    }
    if (ascending_) {
      // t = G v taken column by column of U row s in ascending order: each
      // t(i) then receives its terms in the order of i's partners in the G
      // list, the non-zero v(j) ones only.
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
          t_[i] = static_cast<float>(static_cast<double>(t_[i]) +
                                     vj * static_cast<double>(adj_[a].second));
        }
      }
    } else {
      // t = G v at the indices that G links to the columns of U row s.
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
          ti = static_cast<float>(static_cast<double>(ti) +
                                  static_cast<double>(v_[adj_[a].first]) * value);
        }
        t_[i] = ti;
      }
    }
    // r(k) = (U t)(k) for the rows k >= s of U that name an index of t, in
    // ascending order: each such row sets its bit in a map of the rows (at
    // most 999, 16 words), read back from s to the last row set. (Plain
    // pointers here, so that no store has every bound read again.)
    {
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
    // Four rows side by side, so that their sums (each a chain of roundings)
    // overlap. A row shorter than the longest of the four goes on with terms
    // 0 x 0 from the one index of t that is never written, each of which
    // leaves its sum as it is (but for the sign of a zero sum).
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
    for (; m < met_rows_.size(); ++m) {
      const std::int32_t k = met_rows_[m];
      float rk = 0.0f;
      for (std::size_t n = row_first_[index_of(k)]; n < row_first_[index_of(k) + 1]; ++n) {
        const double tc = static_cast<double>(t_[index_of(u_[n].col)]);
        rk = static_cast<float>(static_cast<double>(rk) + tc * static_cast<double>(u_[n].value));
      }
      r_[index_of(k)] = rk;
    }
  });
  ++s_;
  return s;
}

void SymmetrizedRows::skip_row() {
  const std::size_t u_elements = u_.empty() ? 0 : u_.size() - 1;
  while (q_ < u_elements && u_[q_].row == s_) ++q_;
  ++s_;
}

RowsFormedAhead::RowsFormedAhead(std::int32_t symmetry_count)
    : count_(std::max(symmetry_count, 0)),
      rows_(index_of(count_) + 1),
      ready_(std::make_unique<std::atomic<bool>[]>(index_of(count_) + 1)) {
  if (count_ >= kRowsAheadFrom) {
    try {
      worker_ = std::thread([this] { work(); });
      return;
    } catch (const std::system_error&) {
      // No second thread: the caller forms every row.
    }
  }
  stopped_.store(true, std::memory_order_release);
}

RowsFormedAhead::~RowsFormedAhead() {
  phase_.store(ending, std::memory_order_relaxed);
  phase_.notify_one();
  if (worker_.joinable()) worker_.join();
}

void RowsFormedAhead::start(const ElementList& g, const ElementList& u, std::int32_t nic) {
  g_ = &g;
  u_ = &u;
  nic_ = nic;
  int expected = waiting;
  if (phase_.compare_exchange_strong(expected, going, std::memory_order_release)) phase_.notify_one();
}

const RowsFormedAhead::Row* RowsFormedAhead::take(std::int32_t s) {
  if (s < 1 || s > count_) return nullptr;
  at_.store(s, std::memory_order_relaxed);
  return ready_[index_of(s)].load(std::memory_order_acquire) ? &rows_[index_of(s)] : nullptr;
}

void RowsFormedAhead::work() noexcept {
  // G is formed, listed and U read while this thread waits: a few
  // milliseconds, spent yielding so that the processor stays awake (an idle
  // virtual one can take milliseconds to wake), then asleep.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  while (phase_.load(std::memory_order_acquire) == waiting && std::chrono::steady_clock::now() < give_up)
    std::this_thread::yield();
  phase_.wait(waiting, std::memory_order_acquire);
  if (phase_.load(std::memory_order_acquire) == going) {
    TrapPause held;  // this thread's own environment: flags are raised, nothing traps
    try {
      SymmetrizedRows rows(*g_, *u_, nic_, count_);
      for (std::int32_t s = 1; s <= count_ && phase_.load(std::memory_order_relaxed) == going; ++s) {
        if (at_.load(std::memory_order_relaxed) >= s) {
          rows.skip_row();  // the caller is there already
          continue;
        }
        rows.next_row();
        if (std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW)) break;  // the caller traps here
        Row& row = rows_[index_of(s)];
        row.columns = rows.columns();
        row.values.resize(row.columns.size());
        for (std::size_t n = 0; n < row.columns.size(); ++n) row.values[n] = rows.value(row.columns[n]);
        ready_[index_of(s)].store(true, std::memory_order_release);
      }
    } catch (...) {
      // Out of memory here only leaves the rest of the rows to the caller.
    }
  }
  stopped_.store(true, std::memory_order_release);
}

void write_factoring_report(Unit& listing, std::int32_t row, std::int32_t column, float value) {
  // The write under "(1X,'ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN
  // ROW ',I3,', COLUMN ',I3,', HAS VALUE ',1P,E12.5)", field for field.
  DirectRecord()
      .text(" ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ")
      .integer(row, 3)
      .text(", COLUMN ")
      .integer(column, 3)
      .text(", HAS VALUE ")
      .exponent(value, 12, 5, 1)
      .put(listing);
}

void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count,
                  RowsFormedAhead* ahead) {
  std::optional<RowsFormedAhead> own_ahead;
  if (ahead == nullptr) ahead = &own_ahead.emplace(symmetry_count);
  ahead->start(g, u, nic);
  write_record(listing, "");
  write_record(listing,
               "(' ',10X,'SYMMETRIZED G MATRIX ELEMENTS.',/,1X,'PROBLEM NUMBER',I6)",
               problem_number);
  write_record(listing, "(A)", title);

  std::optional<SymmetrizedRows> own;  // the rows the worker has not formed in time
  ElementList held(kHeldEntries + 1);
  std::int32_t next = 1;
  auto add = [&](std::int32_t s, std::int32_t k, float value, std::int32_t lo, std::int32_t hi, std::size_t& n) {
    if (!(std::fabs(value) > kSizeThreshold)) return;
    if (k >= hi) write_factoring_report(listing, s, k, value);
    if (++n > kHeldEntries) {
      write_element_records(listing, held.data(), kHeldEntries);
      n = 1;
    }
    held[n - 1] = {s - lo + 1, k - lo + 1, value};
  };
  for (std::size_t b = 1; b < blocks.size(); ++b) {
    const std::int32_t lo = blocks[b - 1];
    const std::int32_t hi = blocks[b];
    write_record(listing, "(' ','SYMMETRY BLOCK NUMBER',I3,'.')", static_cast<std::int32_t>(b));
    write_record(listing, "",
                 std::string_view("This SYMMETRIZED G matrix is in the format read by ROSK"));
    std::size_t n = 0;
    std::int32_t s = 0;
    do {
      s = next++;
      if (const RowsFormedAhead::Row* row = ahead->take(s)) {
        for (std::size_t c = 0; c < row->columns.size(); ++c) add(s, row->columns[c], row->values[c], lo, hi, n);
      } else {
        if (!own) own.emplace(g, u, nic, symmetry_count);
        while (own->upcoming() < s) own->skip_row();  // rows the worker formed
        own->next_row();
        for (const std::int32_t k : own->columns()) add(s, k, own->value(k), lo, hi, n);
      }
    } while (s + 1 < hi);
    held[n] = kGEndEntry;
    write_element_records(listing, held.data(), n + 1);
  }
}

}  // namespace korven
