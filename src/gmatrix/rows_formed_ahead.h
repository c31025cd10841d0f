// The second thread of the symmetrized G matrix: rows of G' formed ahead
// while the listing is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "bmatrix/element_list.h"

namespace korven {

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

}  // namespace korven
