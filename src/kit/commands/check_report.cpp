#include "kit/commands/check_report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <sstream>

#include "kit/base/linalg.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/coordinates/independence.h"

namespace korven::kit {
namespace {

// The eigenvalues above kRankFraction² · largest: the rank of a symmetric
// positive semidefinite matrix whose eigenvalues these are.
int rank_of_symmetric(const Vector& lambda, double largest) {
  if (largest <= 0) return 0;
  return static_cast<int>((lambda.array() > kRankFraction * kRankFraction * largest).count());
}

int rank_of_symmetric(const Matrix& a, double largest) {
  return a.rows() == 0 ? 0 : rank_of_symmetric(symmetric_eigenvalues(a), largest);
}

// The rank of B, the vibrations it misses, and the rows a greedy choice in
// preference order leaves out as dependent.
void b_rank_and_redundancy(const ProblemView& v, ProblemReport& r) {
  r.rank = v.b_rank();
  r.missing = std::max(0, r.vibrations - *r.rank);
  const std::vector<bool> kept = independent_rows(v.b, 3 * v.atoms, v.row_preferences(), r.vibrations);
  std::vector<int> redundant;
  for (int i = 0; i < v.b_rows; ++i)
    if (!kept[static_cast<std::size_t>(i)]) redundant.push_back(i + 1);
  r.redundant = redundant;
}

// max |U Uᵀ − 1| over the rows of U as the engine has normalised them; rows
// that are not orthogonal to the written digits (modes' own limit) make
// U G Uᵀ another matrix than the symmetry coordinates promise. The finding
// goes to the block of the later row of the worst pair.
void u_orthonormality(const MassSetView& m, int b_rows, MassSetReport& ms) {
  if (m.u.rows() == 0) return;
  Eigen::Index worst_i = 0, worst_j = 0;
  ms.u_orthonormal_dev = (weighted_row_products(m.u_rows, Vector::Ones(b_rows)) -
                          Matrix::Identity(m.u.rows(), m.u.rows()))
                             .cwiseAbs()
                             .maxCoeff(&worst_i, &worst_j);
  if (!(*ms.u_orthonormal_dev > kOrthonormalTolerance)) return;
  const int later = static_cast<int>(std::max(worst_i, worst_j)) + 1;
  const int earlier = static_cast<int>(std::min(worst_i, worst_j)) + 1;
  const std::string what =
      format("rows %d and %d of U: their product is off by %.1e", earlier, later, *ms.u_orthonormal_dev);
  for (BlockReport& br : ms.blocks)
    if (later >= br.first && later < br.first + br.size) br.findings.push_back(what);
}

// Each listed block's place on the block card and the rank of its part of
// U G Uᵀ (G formed in double from the listed B and masses).
void block_ranks(const MassSetView& m, const Matrix& g, double largest, MassSetReport& ms) {
  for (std::size_t k = 0; k < m.listed->blocks.size(); ++k) {
    const ListedBlock& lb = m.listed->blocks[k];
    BlockReport br;
    if (k + 1 < m.deck->boundaries.size()) {
      br.first = m.deck->boundaries[k];
      br.size = m.deck->boundaries[k + 1] - m.deck->boundaries[k];
      if (m.masses_usable && br.first >= 1 && br.size > 0 && br.first - 1 + br.size <= m.u.rows()) {
        const auto first = m.u_rows.begin() + (br.first - 1);
        br.rank = rank_of_symmetric(sandwich({first, first + br.size}, g), largest);
      }
    }
    ms.factoring_reports += static_cast<int>(lb.factoring_reports.size());
    ms.blocks.push_back(br);
  }
}

// Which species each block is, and the rows that do not fit.
void block_labels(const ProblemView& v, const MassSetView& m, MassSetReport& ms) {
  std::string fault;
  const std::vector<BlockFinding> found = v.block_species_found(m, fault);
  if (!fault.empty() && !ms.blocks.empty()) ms.blocks.front().findings.push_back(fault);
  for (std::size_t k = 0; k < found.size() && k < ms.blocks.size(); ++k) {
    ms.blocks[k].species = found[k].species;
    if (found[k].bad_row >= 0)
      ms.blocks[k].findings.push_back("row " + std::to_string(found[k].bad_row + 1) + ": " + found[k].fault);
    else if (!found[k].fault.empty())
      ms.blocks[k].findings.push_back(found[k].fault);
  }
}

// "E(2)" → ("E", 2); "A1" → ("A1", none).
std::pair<std::string, std::optional<int>> split_partner(const std::string& label) {
  const auto open = label.rfind('(');
  if (open == std::string::npos || label.back() != ')') return {label, std::nullopt};
  return {label.substr(0, open), std::atoi(label.c_str() + open + 1)};
}

// Every row of U in words, with the species of its block (as the check
// found it, else as the deck's comment cards give it).
std::vector<SymmetryCoordinateWords> coordinate_words(const ProblemView& v, const MassSetView& m,
                                                      const std::vector<BlockReport>& blocks) {
  std::vector<SymmetryCoordinateWords> out;
  for (Eigen::Index r = 0; r < m.u.rows(); ++r) {
    SymmetryCoordinateWords w;
    w.index = static_cast<int>(r) + 1;
    for (std::size_t k = 0; k < blocks.size(); ++k)
      if (w.index >= blocks[k].first && w.index < blocks[k].first + blocks[k].size) {
        const std::optional<std::string> label =
            blocks[k].species && *blocks[k].species != "mixed" ? blocks[k].species : v.noted_species(m, static_cast<int>(k));
        if (label) std::tie(w.species, w.partner) = split_partner(*label);
      }
    std::vector<std::pair<double, std::string>> terms;
    for (Eigen::Index c = 0; c < m.u.cols(); ++c)
      if (m.u(r, c) != 0) {
        w.terms.push_back({static_cast<int>(c) + 1, v.short_names[static_cast<std::size_t>(c)], m.u(r, c)});
        terms.emplace_back(m.u(r, c), v.short_names[static_cast<std::size_t>(c)]);
      }
    w.text = "S" + std::to_string(w.index) + (w.species ? " " + *w.species : std::string()) +
             (w.partner ? "(" + std::to_string(*w.partner) + ")" : std::string()) + " = " +
             combination_text(terms, kCombinationWidth);
    out.push_back(std::move(w));
  }
  return out;
}

MassSetReport check_mass_set(const ProblemView& v, const MassSetView& m) {
  MassSetReport ms;
  ms.title = m.listed->title;
  ms.symmetrized = m.listed->symmetrized;
  if (m.group) ms.point_group = m.group->name();
  // The listed G leaves out elements below 5.0E-5, so the ranks come from G
  // formed in double from the listed B and masses.
  Matrix g;
  double largest = 0;
  if (m.masses_usable) {
    g = weighted_row_products(v.b, m.inverse_masses);
    const Vector lambda = symmetric_eigenvalues(g);
    largest = lambda.size() ? lambda.maxCoeff() : 0;
    ms.g_rank = rank_of_symmetric(lambda, largest);
  }
  if (!m.symmetrized) return ms;
  block_ranks(m, g, largest, ms);
  u_orthonormality(m, v.b_rows, ms);
  block_labels(v, m, ms);
  ms.symmetry_coordinates = coordinate_words(v, m, ms.blocks);
  return ms;
}

std::string verdict_of(const ProblemReport& r) {
  std::string verdict;
  if (!r.rank) {
    verdict = "unusable: the listing holds no B matrix for this problem";
  } else if (*r.missing > 0) {
    verdict = "incomplete: " + plural(*r.missing, "vibration") + " not described";
  } else if (!r.redundant->empty()) {
    verdict = "redundant: coordinate" + std::string(r.redundant->size() == 1 ? " " : "s ") + join(*r.redundant) +
              " could be dropped";
  } else {
    verdict = "complete: " + plural(r.coordinates, "coordinate") + ", " + plural(r.vibrations, "vibration");
  }
  if (!r.errors.empty()) verdict += "; " + plural(static_cast<long long>(r.errors.size()), "error report");
  int reports = 0;
  for (const MassSetReport& m : r.mass_sets) reports += m.factoring_reports;
  if (reports > 0) verdict += "; " + plural(reports, "factoring report");
  return verdict;
}

ProblemReport check_problem(const ProblemView& v) {
  ProblemReport r;
  r.index = v.position;
  r.problem = v.listed->number;
  r.atoms = v.listed->atoms;
  r.linear = v.linear;
  r.vibrations = v.vibrations;
  r.coordinates = static_cast<int>(v.rows.size());
  r.errors = v.listed->errors;
  if (v.has_b()) {
    b_rank_and_redundancy(v, r);
    for (const MassSetView& m : v.mass_sets) r.mass_sets.push_back(check_mass_set(v, m));
  }
  r.verdict = verdict_of(r);
  return r;
}

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
    report.problems.push_back(check_problem(ProblemView(deck, &listing, static_cast<int>(p) + 1, deck_name)));
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
      out << "  redundant: " << join(*p.redundant) << "\n";
    for (const std::string& e : p.errors) out << "  error report: " << e << "\n";
    for (std::size_t m = 0; m < p.mass_sets.size(); ++m) {
      const MassSetReport& ms = p.mass_sets[m];
      out << "  mass set " << m + 1 << " \"" << ms.title << "\"";
      if (ms.point_group) out << ", " << *ms.point_group;
      out << ": rank of G " << opt(ms.g_rank);
      if (ms.symmetrized) {
        out << ", symmetrized, U rows off orthonormal by " << format("%.1e", ms.u_orthonormal_dev.value_or(0)) << ", "
            << plural(ms.factoring_reports, "factoring report") << "\n";
        out << "    block  first  size  rank  species\n";
        for (std::size_t k = 0; k < ms.blocks.size(); ++k) {
          const BlockReport& b = ms.blocks[k];
          out << format("    %5zu  %5d  %4d  %4s  %s\n", k + 1, b.first, b.size, opt(b.rank).c_str(),
                        b.species.value_or("-").c_str());
          for (const std::string& f : b.findings) out << "      " << f << "\n";
        }
        for (const SymmetryCoordinateWords& w : ms.symmetry_coordinates) out << "    " << w.text << "\n";
      } else {
        out << ", not symmetrized\n";
      }
    }
    out << "  " << p.verdict << "\n";
  }
  return out.str();
}

}  // namespace korven::kit
