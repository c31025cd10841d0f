// The second thread of G': rows formed ahead with the traps held, handed to
// the writer as they are finished.
#include "gmatrix/rows_formed_ahead.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <system_error>

#include "gmatrix/symmetrized_rows.h"
#include "records/fp_trap.h"

namespace korven {

namespace {

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

}  // namespace

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

}  // namespace korven
