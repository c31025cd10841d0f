#include "kit/commands/modes_report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/modes_parts.h"
#include "kit/commands/problem_view.h"
#include "kit/commands/vibration_view.h"

namespace korven::kit {
namespace {

// For each symmetry coordinate, the first partner's row it is a partner
// of (itself when it is no partner), from the blocks' "E(2)" labels.
std::vector<int> partner_rows(const std::vector<ModeBlock>& blocks, int rows) {
  std::vector<int> first(static_cast<std::size_t>(rows));
  for (int r = 0; r < rows; ++r) first[static_cast<std::size_t>(r)] = r;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const std::string& s = blocks[b].species;
    const auto open = s.rfind('(');
    if (open == std::string::npos || s.back() != ')' || s.compare(open, std::string::npos, "(1)") == 0) continue;
    const int partner = std::atoi(s.c_str() + open + 1);
    if (partner < 2 || b + 1 < static_cast<std::size_t>(partner)) continue;
    const ModeBlock& one = blocks[b + 1 - static_cast<std::size_t>(partner)];
    if (one.size != blocks[b].size) continue;
    for (int j = 0; j < blocks[b].size; ++j) first[static_cast<std::size_t>(blocks[b].first + j)] = one.first + j;
  }
  return first;
}

// P_i = F_ii Σ_p L_ip² / Σ_j F_jj Σ_p L_jp², in percent, over the partners
// together (Wilson, Decius & Cross, Molecular Vibrations, 1955; the form of
// Morino & Kuchitsu 1952), the shares of a degenerate species' partner
// coordinates added to their first partner's.
std::vector<double> line_ped(const Vector& f_diagonal, const Matrix& l, const std::vector<int>& first_partner) {
  std::vector<double> p(static_cast<std::size_t>(l.rows()), 0.0);
  double sum = 0;
  for (Eigen::Index i = 0; i < l.rows(); ++i) {
    const double e = f_diagonal(i) * l.row(i).squaredNorm();
    p[static_cast<std::size_t>(first_partner[static_cast<std::size_t>(i)])] += e;
    sum += e;
  }
  if (sum == 0 || !std::isfinite(sum)) return std::vector<double>(p.size(), 0.0);
  for (double& x : p) x *= 100.0 / sum;
  return p;
}

// The PED summed by class: an internal coordinate's share to its class, a
// symmetry coordinate's split over the classes by the squares of its U row.
std::vector<PedClass> ped_by_class(const std::vector<double>& ped, const std::optional<Matrix>& u,
                                   const std::vector<std::string>& classes) {
  std::vector<std::pair<std::string, double>> sums;
  const auto add = [&](const std::string& name, double percent) {
    for (auto& [n, v] : sums)
      if (n == name) return void(v += percent);
    sums.emplace_back(name, percent);
  };
  for (std::size_t c = 0; c < ped.size(); ++c) {
    if (ped[c] == 0) continue;
    if (!u) {
      add(classes[c], ped[c]);
      continue;
    }
    const Vector row = u->row(static_cast<Eigen::Index>(c)).transpose();
    const double norm = row.squaredNorm();
    for (Eigen::Index i = 0; i < row.size(); ++i)
      if (row(i) != 0) add(classes[static_cast<std::size_t>(i)], ped[c] * row(i) * row(i) / norm);
  }
  std::stable_sort(sums.begin(), sums.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::vector<PedClass> out;
  for (const auto& [name, percent] : sums) out.push_back({name, percent});
  return out;
}

// The Cartesian route's wavenumbers of each line: the sorted Cartesian
// wavenumbers of its modes' cluster, shared out to the cluster's lines in
// the order of their eigenvalues.
std::vector<std::vector<double>> cartesian_of_lines(const MassSetAnalysis& w) {
  std::vector<std::vector<double>> out(w.lines.size());
  const auto& cart = w.analysis.cartesian_wavenumbers;
  if (cart.size() != w.analysis.modes.size()) return out;
  std::vector<std::size_t> order(w.lines.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::make_pair(w.lines[a].modes.front(), w.lines[a].eigenvalue()) <
           std::make_pair(w.lines[b].modes.front(), w.lines[b].eigenvalue());
  });
  std::size_t next = 0;
  for (std::size_t i : order) {
    for (int p = 0; p < w.lines[i].degeneracy && next < cart.size(); ++p) out[i].push_back(cart[next++]);
  }
  return out;
}

ModeRow mode_row(const MassSetAnalysis& w, std::size_t k, const VibrationInput& in, const std::vector<std::string>& labels,
                 const std::vector<std::string>& classes, const std::vector<int>& first_partner, double threshold,
                 const std::vector<double>& cartesian) {
  const VibrationLine& line = w.lines[k];
  ModeRow row;
  row.nu = line.nu;
  row.degeneracy = line.degeneracy;
  row.wavenumber = in.scale * wavenumber_from_eigenvalue(line.eigenvalue());
  row.imaginary = line.eigenvalue() < 0;
  if (!line.species.empty()) {
    row.species = line.species;
    row.ir_active = line.ir_active;
    row.raman_active = line.raman_active;
  }
  for (std::size_t p = 0; p < line.eigenvalues.size(); ++p) {
    ModePartner partner{in.scale * wavenumber_from_eigenvalue(line.eigenvalues[p]), std::nullopt};
    if (p < cartesian.size()) partner.cartesian_wavenumber = cartesian[p];
    row.partners.push_back(partner);
  }
  if (!cartesian.empty())
    row.cartesian_wavenumber = std::accumulate(cartesian.begin(), cartesian.end(), 0.0) / cartesian.size();
  const VibrationAnalysis& va = w.analysis;
  const bool symmetric = va.f_symmetry.has_value();
  const Matrix l = symmetric ? Matrix(*in.u * w.internal[k]) : w.internal[k];
  const std::vector<double> ped = line_ped(symmetric ? Vector(va.f_symmetry->diagonal()) : Vector(va.f.diagonal()), l,
                                           first_partner);
  for (std::size_t c = 0; c < ped.size(); ++c)
    if (ped[c] >= threshold) row.ped.push_back({static_cast<int>(c) + 1, c < labels.size() ? labels[c] : "", ped[c]});
  std::stable_sort(row.ped.begin(), row.ped.end(), [](const PedItem& a, const PedItem& b) { return a.percent > b.percent; });
  row.ped_classes = ped_by_class(ped, in.u, classes);
  return row;
}

std::vector<std::string> species_order_of(const PointGroup* group) {
  std::vector<std::string> out;
  if (!group) return out;
  if (group->linear()) {
    for (const LinearSpeciesRules& r : linear_species_order(*group)) out.push_back(r.name);
    return out;
  }
  const CharacterTable& t = group->table();
  for (int s : t.herzberg_order) out.push_back(t.species[static_cast<std::size_t>(s)].label);
  return out;
}

MassSetModes mass_set_modes(const MassSetAnalysis& w, const MassSetView& m, const VibrationInput& in,
                            const std::vector<std::string>& labels, const std::vector<std::string>& classes,
                            double threshold) {
  const VibrationAnalysis& va = w.analysis;
  MassSetModes ms;
  ms.title = m.listed->title;
  if (m.group) ms.point_group = m.group->name();
  ms.species_order = species_order_of(w.group);
  ms.agree = va.comparison.agree;
  ms.verdict = va.comparison.verdict;
  ms.f = va.f;
  ms.f_symmetry = va.f_symmetry;
  ms.l = va.l;
  ms.cartesian_wavenumbers = va.cartesian_wavenumbers;
  const std::vector<int> first_partner =
      partner_rows(in.blocks, in.u ? static_cast<int>(in.u->rows()) : static_cast<int>(va.f.rows()));
  const std::vector<std::vector<double>> cartesian = cartesian_of_lines(w);
  for (std::size_t k = 0; k < w.lines.size(); ++k)
    ms.modes.push_back(mode_row(w, k, in, labels, classes, first_partner, threshold, cartesian[k]));
  return ms;
}

}  // namespace

int ModesReport::exit_status() const {
  for (const ProblemModes& p : problems)
    for (const MassSetModes& m : p.mass_sets) {
      if (!m.agree) return kExitFinding;
      for (const ModeRow& r : m.modes)
        if (r.imaginary) return kExitFinding;
    }
  return kExitSuccess;
}

ModesReport analyze_modes(const Deck& deck, const Listing& listing, const ModesOptions& o,
                          const std::string& deck_name) {
  ModesReport report;
  report.hessian = o.hessian;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  const int position = chosen_problems(deck_name, count, o.problem, true).front();
  const ProblemView v(deck, &listing, position, deck_name);
  if (!v.listed->has_b)
    throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(position));
  ProblemModes pm;
  pm.index = position;
  pm.problem = v.listed->number;
  pm.scale = o.scale;
  pm.match = o.match;
  const Matrix hessian = hessian_in_deck_frame(v, {o.hessian, o.format, o.units}, pm.warnings).hessian;
  std::vector<MassSetAnalysis> work;
  for (int k : chosen_mass_sets(v, o.mass_set)) {
    const MassSetView& m = v.mass_sets[static_cast<std::size_t>(k - 1)];
    std::vector<std::string> labels;
    const VibrationInput in = vibration_input(v, m, hessian, o.scale, labels);
    work.push_back(analyze_mass_set(v, m, in));
    pm.mass_sets.push_back(mass_set_modes(work.back(), m, in, labels, v.classes, o.ped_threshold));
    pm.mass_set_numbers.push_back(k);
  }
  match_isotopologues(work, v.deck.x, o.match, pm);
  report.problems.push_back(std::move(pm));
  return report;
}

}  // namespace korven::kit
