// Dispatch of internal coordinate entries to the B-row routines, and the
// closing, listing and storing of the B list.
#include "bmatrix/b_matrix.h"

#include <string_view>

#include "bmatrix/kinds.h"
#include "records/fp_trap.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

namespace {

constexpr std::int32_t kBEndRow = -5;

// Rows the entry would write to must be coordinates a listing can show; a
// continuation entry needs a coordinate to add to, and a second linear-bend
// component needs the pair row of an earlier CODE 5 entry.
bool rows_acceptable(const CoordinateEntry& e, std::int32_t current_row, std::int32_t pair_row) {
  if (current_row < 1 || current_row > kMaxCoordinates) return false;
  if (e.code == 5 && current_row + 1 > kMaxCoordinates) return false;
  if (e.code == 6 && e.l > 0 && (pair_row < 1 || pair_row > kMaxCoordinates)) return false;
  return true;
}

}  // namespace

void dispatch_entry(const CoordinateEntry& e, std::int32_t& current_row,
                    std::int32_t& pair_row, std::int32_t& error, ElementList& b,
                    const Positions& x, std::int32_t atoms, Unit& deck, Unit& listing) {
  // Rejected ahead of the routine: nothing is read, and the rows stay put.
  if (e.code > 6 || !rows_acceptable(e, current_row, pair_row)) {
    error = kFieldOutOfRange;
    return;
  }

  const std::int32_t row = current_row;
  switch (e.code) {
    case 2:
      fp_guarded([&] { bend_row(b, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 3:
      fp_guarded(
          [&] { out_of_plane_row(b, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 4:
      fp_guarded([&] { torsion_row(b, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 5:
      // The entry takes two rows: the second is the pair row from now on,
      // and the next coordinate is numbered after it, whatever the routine did.
      pair_row = row + 1;
      fp_guarded([&] {
        linear_bend_rows(b, x, atoms, row, pair_row, e.i, e.j, e.k, e.l, e.ix, e.jx, error, deck,
                         listing);
      });
      current_row = row + 1;
      break;
    case 6:
      fp_guarded([&] {
        linear_bend_rows(b, x, atoms, row, pair_row, e.i, e.j, e.k, e.l, e.ix, e.jx, error, deck,
                         listing);
      });
      break;
    default:  // CODE 1, 0 or negative
      fp_guarded([&] { stretch_row(b, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
  }
}

void finish_b_list(ElementList& b, const std::vector<std::int32_t>& row_counts) {
  b.push_back(Element{kBEndRow, 0, 0.0f});
  // A combined coordinate is the mean of the entries it sums.
  for (Element& element : b) {
    if (element.row < 0 || static_cast<std::size_t>(element.row) >= row_counts.size()) continue;
    const std::int32_t count = row_counts[static_cast<std::size_t>(element.row)];
    if (count > 1) element.value = static_cast<float>(double(element.value) / count);
  }
}

void write_b_listing(Unit& listing, const Problem& problem, const ElementList& b) {
  write_record(listing, "");
  write_record(listing, layouts::kBHeading, problem.number);
  write_record(listing, layouts::kTitle, problem.title1);
  write_record(listing, layouts::kTitle, problem.title2);
  write_record(listing, layouts::kBCount, element_count(b));
  write_record(listing, "", layouts::kBReaderLine);
  write_element_records(listing, b);
}

void store_b_list(Units& units, const ElementList& b) {
  store_element_list(units, kBScratchUnit, b);
}

}  // namespace korven
