// The symmetrized G section: its heading, then per block the block heading,
// the factoring reports and the block list, from the rows of G' the second
// thread formed ahead or, where it has not, from a kernel of its own.
#include "gmatrix/symmetrized_g.h"

#include <cmath>
#include <optional>
#include <string_view>

#include "records/direct_record.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

namespace {

// Block-list entries held before they are written: 25 full element records.
constexpr std::size_t kHeldEntries = 100;

}  // namespace

void write_factoring_report(Unit& listing, std::int32_t row, std::int32_t column, float value) {
  // The write under layouts::kFactoringReport, field for field: 1X, the
  // texts, I3, I3 and 1P,E12.5.
  DirectRecord()
      .text(" ")
      .text(layouts::kFactoringRow)
      .integer(row, 3)
      .text(layouts::kFactoringColumn)
      .integer(column, 3)
      .text(layouts::kFactoringValue)
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
  write_record(listing, layouts::kSymmetrizedHeading, problem_number);
  write_record(listing, layouts::kTitle, title);

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
    write_record(listing, layouts::kBlockHeading, static_cast<std::int32_t>(b));
    write_record(listing, "", layouts::kBlockReaderLine);
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
