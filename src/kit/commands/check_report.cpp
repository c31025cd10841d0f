#include "kit/commands/check_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "kit/coordinates/coordinate_generation.h"
#include "kit/io/deck_replay.h"
#include "kit/coordinates/independence.h"
#include "kit/base/linalg.h"
#include "kit/symmetry/point_group.h"
#include "kit/symmetry/symmetry_coordinates.h"
#include "kit/vibrations/vibrations.h"
#include "kit/coordinates/wilson_b.h"

namespace korven::kit {
namespace {

int kind_rank_of_code(int code) {
  switch (code) {
    case 2: return preference_rank(CoordinateKind::bend);
    case 3: return preference_rank(CoordinateKind::out_of_plane);
    case 4: return preference_rank(CoordinateKind::torsion);
    case 5:
    case 6: return preference_rank(CoordinateKind::linear_bend);
    default: return preference_rank(CoordinateKind::stretch);
  }
}

// The listed B as a dense matrix of `rows` rows and 3N columns. Entries
// outside those bounds cannot be placed and are left out.
Matrix dense_b(const std::vector<ListedElement>& b, int rows, int columns) {
  Matrix m = Matrix::Zero(rows, columns);
  for (const ListedElement& e : b)
    if (e.row >= 1 && e.row <= rows && e.column >= 1 && e.column <= columns) m(e.row - 1, e.column - 1) += e.value;
  return m;
}

// The eigenvalues above kRankFraction² · largest: the rank of a symmetric
// positive semidefinite matrix whose eigenvalues these are.
int rank_of_symmetric(const Vector& lambda, double largest) {
  if (largest <= 0) return 0;
  return static_cast<int>((lambda.array() > kRankFraction * kRankFraction * largest).count());
}

int rank_of_symmetric(const Matrix& a, double largest) {
  return a.rows() == 0 ? 0 : rank_of_symmetric(symmetric_eigenvalues(a), largest);
}

std::string join_rows(const std::vector<int>& rows) {
  std::string s;
  for (std::size_t i = 0; i < rows.size(); ++i) s += (i ? ", " : "") + std::to_string(rows[i]);
  return s;
}

std::string plural(int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

}  // namespace

int CheckReport::exit_status() const {
  for (const ProblemReport& p : problems) {
    if (!p.errors.empty() || !p.missing || *p.missing > 0) return 1;
    for (const MassSetReport& m : p.mass_sets) {
      if (m.factoring_reports > 0) return 1;
      for (const BlockReport& b : m.blocks)
        if (!b.findings.empty() || (b.species && *b.species == "mixed")) return 1;
    }
  }
  return 0;
}

CheckReport check_deck(const Deck& deck, const Listing& listing, std::optional<int> only,
                       const std::string& deck_name) {
  CheckReport report;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  for (std::size_t p = 0; p < count; ++p) {
    if (only && static_cast<int>(p) + 1 != *only) continue;
    const DeckProblem& dp = deck.problems[p];
    const ListedProblem& lp = listing.problems[p];
    ProblemReport r;
    r.index = static_cast<int>(p) + 1;
    r.problem = lp.number;
    r.atoms = lp.atoms;
    const int n = lp.atoms;
    r.linear = is_linear_molecule(dp.x);
    r.vibrations = n <= 1 ? 0 : r.linear ? 3 * n - 5 : 3 * n - 6;
    const std::vector<DeckRow> rows = deck_rows(dp);
    int nrows = static_cast<int>(rows.size());
    for (const ListedElement& e : lp.b) nrows = std::max(nrows, e.row);
    r.coordinates = static_cast<int>(rows.size());
    r.errors = lp.errors;
    if (lp.has_b && n > 0) {
      const Matrix b = dense_b(lp.b, nrows, 3 * n);
      std::vector<SparseRow> sparse(static_cast<std::size_t>(nrows));
      for (const ListedElement& e : lp.b)
        if (e.row >= 1 && e.row <= nrows && e.column >= 1 && e.column <= 3 * n)
          sparse[e.row - 1].emplace_back(e.column - 1, e.value);
      r.rank = numeric_rank(singular_values(sparse, 3 * n), kRankFraction);
      r.missing = std::max(0, r.vibrations - *r.rank);
      std::vector<int> ranks(static_cast<std::size_t>(nrows), kind_rank_of_code(1));
      for (const DeckRow& row : rows)
        if (row.row >= 1 && row.row <= nrows && !row.entries.empty())
          ranks[row.row - 1] = kind_rank_of_code(dp.entries[row.entries.front()].code);
      const std::vector<bool> kept = independent_rows(sparse, 3 * n, ranks, r.vibrations);
      std::vector<int> redundant;
      for (int i = 0; i < nrows; ++i)
        if (!kept[i]) redundant.push_back(i + 1);
      r.redundant = redundant;

      for (std::size_t m = 0; m < lp.mass_sets.size(); ++m) {
        const ListedMassSet& lm = lp.mass_sets[m];
        MassSetReport ms;
        ms.title = lm.title;
        ms.symmetrized = lm.symmetrized;
        // The listed G leaves out elements below 5.0E-5, so the ranks come
        // from G formed in double from the listed B and masses.
        Vector inverse_mass = Vector::Zero(3 * n);
        bool masses_ok = static_cast<int>(lm.masses.size()) == n;
        for (int a = 0; masses_ok && a < n; ++a) {
          if (lm.masses[a] == 0) masses_ok = false;
          else inverse_mass.segment(3 * a, 3).setConstant(1 / lm.masses[a]);
        }
        Matrix g;
        double largest = 0;
        if (masses_ok) {
          g = weighted_row_products(sparse, inverse_mass);
          const Vector lambda = symmetric_eigenvalues(g);
          largest = lambda.size() ? lambda.maxCoeff() : 0;
          ms.g_rank = rank_of_symmetric(lambda, largest);
        }
        const MassSet* dm = m < dp.mass_sets.size() ? &dp.mass_sets[m] : nullptr;
        // The point group from X and this mass set's masses: atoms of equal
        // mass count as equivalent.
        std::optional<PointGroup> group;
        if (masses_ok && n >= 2) {
          try {
            group = find_point_group(dp.x, lm.masses, std::vector<int>(static_cast<std::size_t>(n), 0));
            ms.point_group = group->name;
          } catch (const std::exception&) {
            group.reset();
          }
        }
        if (lm.symmetrized && dm) {
          Matrix u = Matrix::Zero(dm->symmetry_count, nrows);
          std::vector<SparseRow> u_rows(static_cast<std::size_t>(std::max(0, dm->symmetry_count)));
          for (const UElement& e : dm->u)
            if (e.row >= 1 && e.row <= dm->symmetry_count && e.column >= 1 && e.column <= nrows) {
              u(e.row - 1, e.column - 1) += e.value;
              u_rows[e.row - 1].emplace_back(e.column - 1, e.value);
            }
          // The engine has normalised each row; rows that are not orthogonal
          // to the written digits (modes' own limit) make U G U' another
          // matrix than the symmetry coordinates promise.
          Eigen::Index worst_i = 0, worst_j = 0;
          if (u.rows() > 0)
            ms.u_orthonormal_dev = (weighted_row_products(u_rows, Vector::Ones(nrows)) -
                                    Matrix::Identity(u.rows(), u.rows()))
                                       .cwiseAbs()
                                       .maxCoeff(&worst_i, &worst_j);
          for (std::size_t k = 0; k < lm.blocks.size(); ++k) {
            const ListedBlock& lb = lm.blocks[k];
            BlockReport br;
            if (k + 1 < dm->boundaries.size()) {
              br.first = dm->boundaries[k];
              br.size = dm->boundaries[k + 1] - dm->boundaries[k];
              if (masses_ok && br.first >= 1 && br.size > 0 && br.first - 1 + br.size <= u.rows()) {
                const auto first = u_rows.begin() + (br.first - 1);
                br.rank = rank_of_symmetric(sandwich({first, first + br.size}, g), largest);
              }
            }
            ms.factoring_reports += static_cast<int>(lb.factoring_reports.size());
            ms.blocks.push_back(br);
          }
          if (ms.u_orthonormal_dev && *ms.u_orthonormal_dev > kOrthonormalTolerance) {
            const int later = static_cast<int>(std::max(worst_i, worst_j)) + 1;
            const int earlier = static_cast<int>(std::min(worst_i, worst_j)) + 1;
            char what[128];
            std::snprintf(what, sizeof what, "rows %d and %d of U: their product is off by %.1e", earlier, later,
                          *ms.u_orthonormal_dev);
            for (BlockReport& br : ms.blocks)
              if (later >= br.first && later < br.first + br.size) br.findings.push_back(what);
          }
          // Which species each block is, and the rows that do not fit.
          std::vector<int> bounds;
          for (int v : dm->boundaries) bounds.push_back(v - 1);
          const bool tiled = !bounds.empty() && bounds.front() == 0 && bounds.back() == u.rows() &&
                             std::is_sorted(bounds.begin(), bounds.end()) && ms.blocks.size() + 1 == bounds.size();
          if (group && tiled && r.rank == r.vibrations) {
            try {
              const std::vector<BlockFinding> found = block_species(u, bounds, b, *group, r.vibrations);
              for (std::size_t k = 0; k < found.size() && k < ms.blocks.size(); ++k) {
                ms.blocks[k].species = found[k].species;
                if (found[k].bad_row >= 0)
                  ms.blocks[k].findings.push_back("row " + std::to_string(found[k].bad_row + 1) + ": " + found[k].fault);
                else if (!found[k].fault.empty())
                  ms.blocks[k].findings.push_back(found[k].fault);
              }
            } catch (const std::exception& e) {
              if (!ms.blocks.empty()) ms.blocks.front().findings.push_back(e.what());
            }
          }
        }
        r.mass_sets.push_back(ms);
      }
    }
    (void)deck_name;
    if (!r.rank) {
      r.verdict = "unusable: the listing holds no B matrix for this problem";
    } else if (*r.missing > 0) {
      r.verdict = "incomplete: " + plural(*r.missing, "vibration") + " not described";
    } else if (!r.redundant->empty()) {
      r.verdict = "redundant: coordinate" + std::string(r.redundant->size() == 1 ? " " : "s ") +
                  join_rows(*r.redundant) + " could be dropped";
    } else {
      r.verdict = "complete: " + plural(r.coordinates, "coordinate") + ", " + plural(r.vibrations, "vibration");
    }
    if (!r.errors.empty()) r.verdict += "; " + plural(static_cast<int>(r.errors.size()), "error report");
    int reports = 0;
    for (const MassSetReport& m : r.mass_sets) reports += m.factoring_reports;
    if (reports > 0) r.verdict += "; " + plural(reports, "factoring report");
    report.problems.push_back(std::move(r));
  }
  return report;
}

std::string check_text(const CheckReport& report) {
  std::ostringstream out;
  auto opt = [](const std::optional<int>& v) { return v ? std::to_string(*v) : std::string("-"); };
  for (const ProblemReport& p : report.problems) {
    out << "problem " << p.index << " (number " << p.problem << "): " << p.atoms << " atoms, "
        << (p.linear ? "linear" : "not linear") << ", " << plural(p.vibrations, "vibration") << "\n";
    out << "  internal coordinates " << p.coordinates << ", rank of B " << opt(p.rank) << ", not described "
        << opt(p.missing) << "\n";
    // The verdict names the redundant rows unless a vibration is missing too.
    if (p.redundant && !p.redundant->empty() && p.missing && *p.missing > 0)
      out << "  redundant: " << join_rows(*p.redundant) << "\n";
    for (const std::string& e : p.errors) out << "  error report: " << e << "\n";
    for (std::size_t m = 0; m < p.mass_sets.size(); ++m) {
      const MassSetReport& ms = p.mass_sets[m];
      out << "  mass set " << m + 1 << " \"" << ms.title << "\"";
      if (ms.point_group) out << ", " << *ms.point_group;
      out << ": rank of G " << opt(ms.g_rank);
      if (ms.symmetrized) {
        char dev[32];
        std::snprintf(dev, sizeof dev, "%.1e", ms.u_orthonormal_dev.value_or(0));
        out << ", symmetrized, U rows off orthonormal by " << dev << ", "
            << plural(ms.factoring_reports, "factoring report") << "\n";
        out << "    block  first  size  rank  species\n";
        for (std::size_t k = 0; k < ms.blocks.size(); ++k) {
          const BlockReport& b = ms.blocks[k];
          char line[128];
          std::snprintf(line, sizeof line, "    %5zu  %5d  %4d  %4s  %s\n", k + 1, b.first, b.size,
                        opt(b.rank).c_str(), b.species.value_or("-").c_str());
          out << line;
          for (const std::string& f : b.findings) out << "      " << f << "\n";
        }
      } else {
        out << ", not symmetrized\n";
      }
    }
    out << "  " << p.verdict << "\n";
  }
  return out.str();
}

}  // namespace korven::kit
