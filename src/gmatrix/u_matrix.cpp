// The U matrix cards: each triple checked and taken into the U list, the
// rows normalised at the end triple, the list stored and reloaded.
#include "gmatrix/u_matrix.h"

#include <algorithm>
#include <cmath>

#include "bmatrix/b_matrix.h"
#include "records/fp_trap.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

namespace {

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

}  // namespace

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
          write_record(listing, layouts::kUMatrixError, problem_number, k + 1, rows[k], columns[k], values[k]);
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

}  // namespace korven
