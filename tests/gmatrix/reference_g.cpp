// The engine's G and G' loops as they stood before G, B and U were grouped
// by index: kept word for word as the reference of the differential test.
#include "gmatrix/reference_g.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "bmatrix/b_matrix.h"
#include "gmatrix/symmetrized_g.h"
#include "records/fp_trap.h"
#include "records/record_io.h"

namespace korven::reference {

namespace {

constexpr std::size_t kHeldEntries = 100;

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

std::size_t internal_extent(const ElementList& g, const ElementList& u, std::int32_t nic) {
  std::int32_t largest = std::max(nic, 0);
  for (const Element& e : g) largest = std::max({largest, e.row, e.col});
  for (const Element& e : u) largest = std::max(largest, e.col);
  return index_of(largest) + 1;
}

void write_stored_u_unusable(Unit& listing, std::int32_t problem_number) {
  write_record(listing, "");
  write_record(listing, "('0','STORED U MATRIX UNUSABLE PROBLEM',I7)", problem_number);
}

bool stored_u_fits(const StoredU& stored_u, std::int32_t nic) {
  if (!stored_u.usable || stored_u.list.empty()) return false;
  return std::all_of(stored_u.list.begin(), stored_u.list.end() - 1,
                     [nic](const Element& e) { return e.col <= nic; });
}

}  // namespace

void unsymmetrized_g(const ElementList& b, const std::vector<float>& masses, std::int32_t nic,
                     ElementList& g) {
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

  // Entry indices ordered by row, list order kept within a row (a stable
  // counting sort), so that a row is complete even when some of its entries
  // stand behind later rows. first[r] ... first[r + 1] - 1 are row r's.
  std::vector<std::size_t> first(rows + 2, 0);
  for (std::size_t i = 0; i < end; ++i) {
    if (takes_part(b[i])) ++first[static_cast<std::size_t>(b[i].row) + 1];
  }
  for (std::size_t r = 1; r <= rows + 1; ++r) first[r] += first[r - 1];
  std::vector<std::size_t> order(first[rows + 1]);
  {
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    for (std::size_t i = 0; i < end; ++i) {
      if (takes_part(b[i])) order[next[static_cast<std::size_t>(b[i].row)]++] = i;
    }
  }

  std::vector<float> mu(columns + 1, 0.0f);  // reciprocal masses, 1-based
  std::vector<float> w(columns + 1, 0.0f);   // the dense B row R
  std::vector<float> gr(rows + 1, 0.0f);     // the dense G row R
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
      for (std::size_t n = first[row]; n < first[row + 1]; ++n) {
        const Element& e = b[order[n]];
        float& wc = w[static_cast<std::size_t>(e.col)];
        wc = static_cast<float>(static_cast<double>(wc) + static_cast<double>(e.value));
      }
      std::fill(gr.begin() + static_cast<std::ptrdiff_t>(row), gr.end(), 0.0f);
      for (std::size_t n = first[row]; n < order.size(); ++n) {
        const Element& e = b[order[n]];
        const auto c = static_cast<std::size_t>(e.col);
        float& gj = gr[static_cast<std::size_t>(e.row)];
        gj = static_cast<float>(static_cast<double>(gj) +
                                (static_cast<double>(e.value) * static_cast<double>(w[c])) *
                                    static_cast<double>(mu[c]));
      }
      for (std::size_t r = row; r <= rows; ++r) {
        if (std::fabs(gr[r]) > kSizeThreshold) {
          g.push_back({static_cast<std::int32_t>(row), static_cast<std::int32_t>(r), gr[r]});
        }
      }
      for (std::size_t n = first[row]; n < first[row + 1]; ++n) {
        w[static_cast<std::size_t>(b[order[n]].col)] = 0.0f;
      }
    }
  });
  g.push_back(kGEndEntry);
}

SymmetrizedRows::SymmetrizedRows(const ElementList& g, const ElementList& u, std::int32_t nic,
                                 std::int32_t symmetry_count)
    : g_(g),
      u_(u),
      symmetry_count_(symmetry_count),
      v_(internal_extent(g, u, nic), 0.0f),
      t_(v_.size(), 0.0f),
      r_(index_of(std::max(symmetry_count, 0)) + 1, 0.0f) {}

std::int32_t SymmetrizedRows::next_row() {
  const std::int32_t s = s_;
  const std::size_t g_elements = g_.empty() ? 0 : g_.size() - 1;
  const std::size_t u_elements = u_.empty() ? 0 : u_.size() - 1;
  fp_guarded([&] {
    std::fill(v_.begin(), v_.end(), 0.0f);
    std::fill(t_.begin(), t_.end(), 0.0f);
    // The dense U row s.
    while (q_ < u_elements && u_[q_].row == s) {
      v_[index_of(u_[q_].col)] = u_[q_].value;
      ++q_;
    }
    // t = G v over the upper triangle.
    for (std::size_t n = 0; n < g_elements; ++n) {
      const Element& e = g_[n];
      const std::size_t i = index_of(e.row);
      const std::size_t j = index_of(e.col);
      const double value = static_cast<double>(e.value);
      t_[i] = static_cast<float>(static_cast<double>(t_[i]) + static_cast<double>(v_[j]) * value);
      if (j != i) {
        t_[j] = static_cast<float>(static_cast<double>(t_[j]) + static_cast<double>(v_[i]) * value);
      }
    }
    // r(k) = (U t)(k) for k >= s; rows above the symmetry coordinate count are passed over.
    for (std::int32_t k = s; k <= symmetry_count_; ++k) r_[index_of(k)] = 0.0f;
    std::size_t next_start = p_;
    bool found = false;
    for (std::size_t n = p_; n < u_elements; ++n) {
      const Element& e = u_[n];
      if (!found && e.row != s) {
        next_start = n;
        found = true;
      }
      if (e.row < 1 || e.row > symmetry_count_) continue;
      float& rk = r_[index_of(e.row)];
      const double tc = static_cast<double>(t_[index_of(e.col)]);
      rk = static_cast<float>(static_cast<double>(rk) + tc * static_cast<double>(e.value));
    }
    p_ = next_start;
  });
  ++s_;
  return s;
}

void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count) {
  write_record(listing, "");
  write_record(listing,
               "(' ',10X,'SYMMETRIZED G MATRIX ELEMENTS.',/,1X,'PROBLEM NUMBER',I6)",
               problem_number);
  write_record(listing, "(A)", title);

  SymmetrizedRows rows(g, u, nic, symmetry_count);
  ElementList held(kHeldEntries + 1);
  for (std::size_t b = 1; b < blocks.size(); ++b) {
    const std::int32_t lo = blocks[b - 1];
    const std::int32_t hi = blocks[b];
    write_record(listing, "(' ','SYMMETRY BLOCK NUMBER',I3,'.')", static_cast<std::int32_t>(b));
    write_record(listing, "",
                 std::string_view("This SYMMETRIZED G matrix is in the format read by ROSK"));
    std::size_t n = 0;
    std::int32_t s = 0;
    do {
      s = rows.next_row();
      for (std::int32_t k = s; k <= symmetry_count; ++k) {
        const float value = rows.value(k);
        if (!(std::fabs(value) > kSizeThreshold)) continue;
        if (k >= hi) {
          write_record(listing,
                       "(1X,'ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ',I3,"
                       "', COLUMN ',I3,', HAS VALUE ',1P,E12.5)",
                       s, k, value);
        }
        if (++n > kHeldEntries) {
          write_element_records(listing, held.data(), kHeldEntries);
          n = 1;
        }
        held[n - 1] = {s - lo + 1, k - lo + 1, value};
      }
    } while (s + 1 < hi);
    held[n] = kGEndEntry;
    write_element_records(listing, held.data(), n + 1);
  }
}

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
    read_masses(deck, problem.atoms, masses);
    write_g_heading(listing, problem.number, card.title, masses);
    if (problem.save > 0) reload_b_list(units, b);
    unsymmetrized_g(b, masses, nic, g);
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
    reference::symmetrize_g(listing, problem.number, card.title, blocks, g, stored_u.list, nic,
                            card.symmetry_count);
  }
}

}  // namespace korven::reference
