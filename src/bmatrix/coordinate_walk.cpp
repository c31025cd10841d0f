#include "bmatrix/coordinate_walk.h"

#include "bmatrix/b_matrix.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {
namespace {

void write_coordinate_error(Unit& listing, int entry, const std::int32_t* fields, std::int32_t error) {
  write_record(listing, "");
  WriteStatement report(listing, layouts::kCoordinateError);
  report.write_integer(entry);
  for (int f = 0; f < 8; ++f) report.write_integer(fields[f]);
  report.write_integer(error);
  report.end_write();
}

}  // namespace

bool read_coordinates(Unit& deck, Unit& listing, const Problem& problem, const Positions& x, ElementList& b,
                      std::int32_t& pair_row, std::vector<std::int32_t>& row_counts) {
  std::int32_t current_row = 0;
  std::int32_t error = 0;
  b.clear();
  row_counts.clear();
  write_record(listing, "");
  write_record(listing, layouts::kCoordinateHeading);
  for (;;) {
    std::int32_t fields[24] = {};
    ReadStatement card(deck, "(24I3)");
    for (std::int32_t& f : fields) card.read_integer(f);
    card.end_read();
    for (int e = 0; e < 3; ++e) {
      const std::int32_t* f = fields + 8 * e;
      const CoordinateEntry entry{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
      if (entry.no < 0) return true;
      if (entry.no > 0) {
        ++current_row;
      } else if (entry.code <= 0) {
        continue;  // a blank entry
      } else if (current_row >= 0 && current_row <= kMaxCoordinates) {
        // A continuation entry: one more term summed into the current row.
        const auto row = static_cast<std::size_t>(current_row);
        if (row_counts.size() <= row) row_counts.resize(row + 1, 1);
        ++row_counts[row];
      }
      if (entry.code > 6) {
        write_coordinate_error(listing, e + 1, f, 0);
        return false;
      }
      write_record(listing, layouts::kCoordinateEcho, current_row, entry.code, entry.i, entry.j, entry.k, entry.l,
                   entry.ix, entry.jx);
      dispatch_entry(entry, current_row, pair_row, error, b, x, problem.atoms, deck, listing);
      if (error > 0) {
        write_coordinate_error(listing, e + 1, f, error);
        return false;
      }
    }
  }
}

}  // namespace korven
