// The U matrix of symmetry coordinates, the block card and the symmetrized
// G matrix G' = U G U^T by blocks, with the factoring test.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
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
  // Passes over row s without forming it; the next row is then s + 1.
  void skip_row();
  // The row the next call forms or passes over.
  std::int32_t upcoming() const { return s_; }
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

// Rows of G' formed ahead on a second thread while the listing is written,
// from kRowsAheadFrom symmetry coordinates on (below, the thread would cost
// more to start than it could save). The worker forms the rows with
// SymmetrizedRows, the traps held, and stops at the first row that raises one
// of the trapped flags. The caller takes a row the worker has finished and
// forms any other itself, traps on, without waiting: a row's values depend
// only on G, U and s, not on which rows were formed before it, so every value
// and every trap is the same whichever thread formed the row.
inline constexpr std::int32_t kRowsAheadFrom = 32;

class RowsFormedAhead {
 public:
  struct Row {
    std::vector<std::int32_t> columns;  // as SymmetrizedRows::columns
    std::vector<float> values;          // value(k) of each
  };

  // Starts the worker as soon as a mass set is known to have a U, so that it
  // is running on its processor by the time G and U are complete; it waits
  // for start().
  explicit RowsFormedAhead(std::int32_t symmetry_count);
  ~RowsFormedAhead();  // stops the worker after the row it is forming
  RowsFormedAhead(const RowsFormedAhead&) = delete;
  RowsFormedAhead& operator=(const RowsFormedAhead&) = delete;

  // G and U are complete (as for SymmetrizedRows, held by reference until
  // destruction): the worker begins on row 1.
  void start(const ElementList& g, const ElementList& u, std::int32_t nic);
  // Row s if the worker has finished it, else null. The worker is told that
  // the caller has come to row s, so that it goes on beyond it.
  const Row* take(std::int32_t s);
  // The worker has stopped (or never started): rows not finished by now never will be.
  bool stopped() const { return stopped_.load(std::memory_order_acquire); }

 private:
  enum Phase : int { waiting, going, ending };
  void work() noexcept;

  const std::int32_t count_;
  std::vector<Row> rows_;
  std::unique_ptr<std::atomic<bool>[]> ready_;
  const ElementList* g_ = nullptr;
  const ElementList* u_ = nullptr;
  std::int32_t nic_ = 0;
  std::atomic<int> phase_{waiting};
  std::atomic<std::int32_t> at_{0};
  std::atomic<bool> stopped_{false};
  std::thread worker_;
};

// The factoring report of G'(row, column), an element beyond its block.
void write_factoring_report(Unit& listing, std::int32_t row, std::int32_t column, float value);

// The symmetrized G section: heading, then per block its heading, the
// factoring reports and the block list. blocks is a checked block card. The
// rows come from `ahead` when given (made for this symmetry_count, not yet
// started), else from a worker of its own.
void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count,
                  RowsFormedAhead* ahead = nullptr);

}  // namespace korven
