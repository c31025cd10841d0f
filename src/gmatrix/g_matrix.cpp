// Mass sets, the unsymmetrized G matrix and its listing section.
#include "gmatrix/g_matrix.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string_view>

#include "bmatrix/b_matrix.h"
#include "gmatrix/symmetrized_g.h"
#include "records/fp_trap.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

void read_mass_set(Unit& deck, MassSetCard& card) {
  ReadStatement rd(deck, "(4I3,A)");
  rd.read_integer(card.control)
      .read_integer(card.u_mode)
      .read_integer(card.boundary_count)
      .read_integer(card.symmetry_count)
      .read_text(card.title, kMassSetTitleLength);
  rd.end_read();
}

void read_masses(Unit& deck, std::int32_t atoms, std::vector<float>& masses) {
  masses.assign(static_cast<std::size_t>(std::max(atoms, 0)), 0.0f);
  ReadStatement rd(deck, "(6F12.6)");
  for (float& m : masses) rd.read_real(m);
  rd.end_read();
}

void write_g_heading(Unit& listing, std::int32_t problem_number, const std::string& title,
                     const std::vector<float>& masses) {
  write_record(listing, "");
  write_record(listing, layouts::kGHeading, problem_number);
  write_record(listing, layouts::kTitle, title);
  WriteStatement w(listing, layouts::kMasses);
  for (float m : masses) w.write_real(m);
  w.end_write();
}

void reload_b_list(Units& units, ElementList& b) {
  reload_element_list(units, kBScratchUnit, b, b.size());
}

void compute_unsymmetrized_g(const ElementList& b, const std::vector<float>& masses,
                             std::int32_t nic, ElementList& g) {
  const std::size_t columns = 3 * masses.size();
  const std::size_t rows = static_cast<std::size_t>(std::max(nic, 0));

  // The entries that take part: up to the end entry, rows 1 ... nic. A
  // column outside 1 ... 3N cannot come from the B routines; it is passed over.
  std::size_t end = 0;
  while (end < b.size() && b[end].row > 0) ++end;
  auto takes_part = [&](const Element& e) {
    return static_cast<std::size_t>(e.row) <= rows && e.col >= 1 &&
           static_cast<std::size_t>(e.col) <= columns;
  };
  auto row_of = [&](std::size_t i) { return static_cast<std::size_t>(b[i].row); };
  auto col_of = [&](std::size_t i) { return static_cast<std::size_t>(b[i].col); };

  // B by rows: entry indices ordered by row, list order kept within a row (a
  // stable counting sort), so that a row is complete even when some of its
  // entries stand behind later rows. first[r] ... first[r + 1] - 1 are row r's.
  std::vector<std::size_t> first(rows + 2, 0);
  for (std::size_t i = 0; i < end; ++i) {
    if (takes_part(b[i])) ++first[row_of(i) + 1];
  }
  for (std::size_t r = 1; r <= rows + 1; ++r) first[r] += first[r - 1];
  std::vector<std::size_t> order(first[rows + 1]);
  {
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    for (std::size_t i = 0; i < end; ++i) {
      if (takes_part(b[i])) order[next[row_of(i)]++] = i;
    }
  }

  // B by Cartesian columns: for column c the rows with an entry in it, once
  // each and ascending, at col_rows[col_first[c]] ... [col_first[c + 1] - 1].
  std::vector<std::size_t> col_first(columns + 2, 0);
  std::vector<std::size_t> last_row(columns + 1, 0);  // last row counted in column c
  for (std::size_t i : order) {
    if (last_row[col_of(i)] == row_of(i)) continue;
    last_row[col_of(i)] = row_of(i);
    ++col_first[col_of(i) + 1];
  }
  for (std::size_t c = 1; c <= columns + 1; ++c) col_first[c] += col_first[c - 1];
  std::vector<std::size_t> col_rows(col_first[columns + 1]);
  std::vector<std::size_t> cursor(col_first.begin(), col_first.end() - 1);
  std::fill(last_row.begin(), last_row.end(), 0);
  for (std::size_t i : order) {
    if (last_row[col_of(i)] == row_of(i)) continue;
    last_row[col_of(i)] = row_of(i);
    col_rows[cursor[col_of(i)]++] = row_of(i);
  }
  std::copy(col_first.begin(), col_first.end() - 1, cursor.begin());

  std::vector<float> mu(columns + 1, 0.0f);  // reciprocal masses, 1-based
  std::vector<float> w(columns + 1, 0.0f);   // the dense B row R
  std::vector<std::size_t> met;              // the rows r >= R that share a column with R
  std::vector<std::size_t> met_by(rows + 1, 0);  // met_by[r] == R: r is in met
  met.reserve(rows);
  g.clear();

  fp_guarded([&] {
    for (std::size_t a = 0; a < masses.size(); ++a) {
      const float q = static_cast<float>(1.0 / static_cast<double>(masses[a]));
      mu[3 * a + 1] = q;
      mu[3 * a + 2] = q;
      mu[3 * a + 3] = q;
    }
    for (std::size_t row = 1; row <= rows; ++row) {
      // A row without B entries has no element in its row or its column.
      if (first[row] == first[row + 1]) continue;
      met.clear();
      for (std::size_t n = first[row]; n < first[row + 1]; ++n) {
        const std::size_t c = col_of(order[n]);
        float& wc = w[c];
        wc = static_cast<float>(static_cast<double>(wc) + static_cast<double>(b[order[n]].value));
        // The rows of column c from R on; the cursor only moves forward.
        while (col_rows[cursor[c]] < row) ++cursor[c];
        for (std::size_t k = cursor[c]; k < col_first[c + 1]; ++k) {
          const std::size_t r = col_rows[k];
          if (met_by[r] != row) {
            met_by[r] = row;
            met.push_back(r);
          }
        }
      }
      std::sort(met.begin(), met.end());
      // G(R, r) is summed term by term over row r's entries in list order,
      // exactly as a pass over the whole list from row R on does: the same
      // additions in the same order round the same way. The rows left out
      // share no column with R: each of their terms is (value x 0) x mu, a
      // zero, and their sums are zeros, which are never listed.
      for (const std::size_t r : met) {
        float gr = 0.0f;
        for (std::size_t n = first[r]; n < first[r + 1]; ++n) {
          const Element& e = b[order[n]];
          const auto c = static_cast<std::size_t>(e.col);
          gr = static_cast<float>(static_cast<double>(gr) +
                                  (static_cast<double>(e.value) * static_cast<double>(w[c])) *
                                      static_cast<double>(mu[c]));
        }
        if (std::fabs(gr) > kSizeThreshold) {
          g.push_back({static_cast<std::int32_t>(row), static_cast<std::int32_t>(r), gr});
        }
      }
      for (std::size_t n = first[row]; n < first[row + 1]; ++n) w[col_of(order[n])] = 0.0f;
    }
  });
  g.push_back(kGEndEntry);
}

void write_g_list(Unit& listing, const ElementList& g) {
  write_record(listing, layouts::kGCount, element_count(g));
  write_record(listing, "", layouts::kGReaderLine);
  write_record(listing, "");
  write_element_records(listing, g);
}

namespace {

void write_stored_u_unusable(Unit& listing, std::int32_t problem_number) {
  write_record(listing, "");
  write_record(listing, layouts::kStoredUUnusable, problem_number);
}

// The stored U list can stand for the one last built, and fits this problem.
bool stored_u_fits(const StoredU& stored_u, std::int32_t nic) {
  if (!stored_u.usable || stored_u.list.empty()) return false;
  return std::all_of(stored_u.list.begin(), stored_u.list.end() - 1,
                     [nic](const Element& e) { return e.col <= nic; });
}

}  // namespace

MassSetsEnd run_mass_sets(Units& units, const Problem& problem, ElementList& b,
                          StoredU& stored_u) {
  Unit& deck = units.unit(kDeckUnit);
  Unit& listing = units.unit(kListingUnit);
  MassSetCard card;
  std::vector<float> masses;
  ElementList g;
  std::vector<std::int32_t> blocks;
  const std::int32_t nic = problem.coordinates;

  for (;;) {
    read_mass_set(deck, card);
    if (card.control != kMassSetControl) return {false, card.control};
    // A set with a U: its worker starts now, to be running by the time G
    // and U are complete.
    std::optional<RowsFormedAhead> ahead;
    if (card.u_mode != 0) ahead.emplace(card.symmetry_count);
    read_masses(deck, problem.atoms, masses);
    write_g_heading(listing, problem.number, card.title, masses);
    if (problem.save > 0) reload_b_list(units, b);
    compute_unsymmetrized_g(b, masses, nic, g);
    write_g_list(listing, g);
    if (card.u_mode == 0) continue;

    if (card.u_mode > 0) {
      if (!read_u_matrix(deck, listing, problem.number, card.symmetry_count, nic,
                         stored_u.list)) {
        stored_u.usable = false;
        return {true, 0};
      }
      stored_u.usable = problem.save > 0;
      if (stored_u.usable) store_u_list(units, stored_u.list);
    } else {
      if (!stored_u_fits(stored_u, nic)) {
        write_stored_u_unusable(listing, problem.number);
        return {true, 0};
      }
      reload_u_list(units, stored_u.list);
    }

    if (!read_block_card(deck, listing, problem.number, card.boundary_count,
                         card.symmetry_count, blocks)) {
      return {true, 0};
    }
    symmetrize_g(listing, problem.number, card.title, blocks, g, stored_u.list, nic,
                 card.symmetry_count, &*ahead);
  }
}

}  // namespace korven
