#include "kit/symmetry/mode_symmetry.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

// T(g) v: atom i's displacement turned by the operation and moved to the
// atom the operation takes i to.
Matrix apply_operation(const SymmetryOperation& op, const Matrix& v) {
  Matrix out(v.rows(), v.cols());
  for (std::size_t i = 0; i < op.permutation.size(); ++i)
    out.middleRows(3 * op.permutation[i], 3) = op.matrix * v.middleRows(3 * static_cast<Eigen::Index>(i), 3);
  return out;
}

// Qᵀ T(g) Q for every operation: the representation on the span of Q.
std::vector<Matrix> representation(const PointGroup& group, const Matrix& q) {
  std::vector<Matrix> d;
  for (const SymmetryOperation& op : group.operations) d.push_back(q.transpose() * apply_operation(op, q));
  return d;
}

// The projector (d / |G|) Σ χ_s(g) D(g) onto species s (a separable pair
// with d / 2).
Matrix projector(const CharacterTable& table, int s, const std::vector<Matrix>& d) {
  const Species& sp = table.species[static_cast<std::size_t>(s)];
  const double f = (sp.separable ? sp.dimension / 2.0 : sp.dimension) / table.order();
  Matrix p = Matrix::Zero(d[0].rows(), d[0].cols());
  for (int g = 0; g < table.order(); ++g) p += f * table.character(s, g) * d[static_cast<std::size_t>(g)];
  return 0.5 * (p + p.transpose());
}

std::vector<int> content_of(const CharacterTable& table, const std::vector<Matrix>& d, double tolerance) {
  std::vector<int> n(table.species.size(), 0);
  int dims = 0;
  for (int s = 0; s < static_cast<int>(table.species.size()); ++s) {
    const Species& sp = table.species[static_cast<std::size_t>(s)];
    double sum = 0;
    for (int g = 0; g < table.order(); ++g) sum += d[static_cast<std::size_t>(g)].trace() * table.character(s, g);
    const double count = sum / (table.order() * (sp.separable ? 2.0 : 1.0));
    if (std::abs(count - std::round(count)) > tolerance || count < -tolerance) return {};
    n[static_cast<std::size_t>(s)] = static_cast<int>(std::lround(count));
    dims += n[static_cast<std::size_t>(s)] * sp.dimension;
  }
  if (d.empty() || dims != d[0].rows()) return {};
  return n;
}

// The orthonormal eigenvectors of a projector with eigenvalue near 1.
Matrix range_of_projector(const Matrix& p) {
  const SymmetricEigen e = symmetric_eigen(p);
  std::vector<Eigen::Index> kept;
  for (Eigen::Index i = 0; i < e.values.size(); ++i)
    if (e.values(i) > 0.5) kept.push_back(i);
  Matrix v(p.rows(), static_cast<Eigen::Index>(kept.size()));
  for (std::size_t j = 0; j < kept.size(); ++j) v.col(static_cast<Eigen::Index>(j)) = e.vectors.col(kept[j]);
  return v;
}

VibrationLine single_mode(int k, double lambda) {
  VibrationLine line;
  line.modes = {k};
  line.combination = Matrix::Identity(1, 1);
  line.eigenvalues = {lambda};
  return line;
}

// The lines of one cluster of close modes: each species' part of their
// span, the operator Σ λ_k e_k e_kᵀ diagonalised within it, and its
// eigenvectors taken d at a time as the partners of one vibration.
std::vector<VibrationLine> split_cluster(const PointGroup& group, const std::vector<int>& cluster,
                                         const std::vector<double>& lambda, const Matrix& modes) {
  Matrix q(modes.rows(), static_cast<Eigen::Index>(cluster.size()));
  Vector a(static_cast<Eigen::Index>(cluster.size()));
  for (std::size_t j = 0; j < cluster.size(); ++j) {
    q.col(static_cast<Eigen::Index>(j)) = modes.col(cluster[j]);
    a(static_cast<Eigen::Index>(j)) = lambda[static_cast<std::size_t>(cluster[j])];
  }
  const CharacterTable& table = group.table();
  const std::vector<Matrix> d = representation(group, q);
  const std::vector<int> n = content_of(table, d, 0.1);
  std::vector<VibrationLine> lines;
  if (n.empty()) {
    for (int k : cluster) lines.push_back(single_mode(k, lambda[static_cast<std::size_t>(k)]));
    return lines;
  }
  for (int s = 0; s < static_cast<int>(n.size()); ++s) {
    if (n[static_cast<std::size_t>(s)] == 0) continue;
    const Species& sp = table.species[static_cast<std::size_t>(s)];
    const Matrix v = range_of_projector(projector(table, s, d));
    const SymmetricEigen within = symmetric_eigen(v.transpose() * a.asDiagonal() * v);
    for (Eigen::Index first = 0; first + sp.dimension <= within.values.size(); first += sp.dimension) {
      VibrationLine line;
      line.modes = cluster;
      line.combination = v * within.vectors.middleCols(first, sp.dimension);
      for (int p = 0; p < sp.dimension; ++p) line.eigenvalues.push_back(within.values(first + p));
      line.degeneracy = sp.dimension;
      line.species = sp.label;
      line.ir_active = sp.ir_active;
      line.raman_active = sp.raman_active;
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

// Consecutive modes whose wavenumbers lie within kNearWavenumber (or the
// fraction) of each other.
std::vector<std::vector<int>> clusters_of(const std::vector<double>& lambda) {
  std::vector<std::vector<int>> out;
  for (int k = 0; k < static_cast<int>(lambda.size()); ++k) {
    const double w = wavenumber_from_eigenvalue(lambda[static_cast<std::size_t>(k)]);
    if (!out.empty()) {
      const double prev = wavenumber_from_eigenvalue(lambda[static_cast<std::size_t>(out.back().back())]);
      if (std::abs(w - prev) <= std::max(kNearWavenumber, kNearFraction * std::abs(w))) {
        out.back().push_back(k);
        continue;
      }
    }
    out.push_back({k});
  }
  return out;
}

struct LinearEntry {
  GroupFamily family;
  const char* working;
  const char* name;
  int partner;
};

// The species of C2v and D2h (z along the molecule) that make up those of
// C∞v and D∞h in the vibrations of a linear molecule (a Δ never is a
// fundamental of one: its correlation, A1 + A2 or Ag + B1g, is left out).
constexpr LinearEntry kLinear[] = {
    {GroupFamily::Cinfv, "A1", "Sigma+", 0},    {GroupFamily::Cinfv, "A2", "Sigma-", 0},
    {GroupFamily::Cinfv, "B1", "Pi", 1},        {GroupFamily::Cinfv, "B2", "Pi", 2},
    {GroupFamily::Dinfh, "Ag", "Sigma_g+", 0},  {GroupFamily::Dinfh, "B1u", "Sigma_u+", 0},
    {GroupFamily::Dinfh, "B1g", "Sigma_g-", 0}, {GroupFamily::Dinfh, "Au", "Sigma_u-", 0},
    {GroupFamily::Dinfh, "B2g", "Pi_g", 1},     {GroupFamily::Dinfh, "B3g", "Pi_g", 2},
    {GroupFamily::Dinfh, "B2u", "Pi_u", 1},     {GroupFamily::Dinfh, "B3u", "Pi_u", 2},
};

// A linear molecule's lines in its working group joined: the two
// components of a Π (in one cluster of close modes) become one line.
std::vector<VibrationLine> join_linear(const PointGroup& group, std::vector<VibrationLine> lines) {
  std::vector<VibrationLine> out;
  std::vector<bool> used(lines.size(), false);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (used[i]) continue;
    VibrationLine line = lines[i];
    const LinearSpecies ls = linear_species(group, line.species);
    line.species = ls.name;
    for (std::size_t j = i + 1; ls.partner == 1 && j < lines.size(); ++j) {
      const LinearSpecies other = linear_species(group, lines[j].species);
      if (used[j] || other.name != ls.name || other.partner != 2 || lines[j].modes != line.modes) continue;
      used[j] = true;
      Matrix both(line.combination.rows(), 2);
      both << line.combination, lines[j].combination;
      line.combination = both;
      line.eigenvalues.push_back(lines[j].eigenvalues.front());
      line.degeneracy = 2;
      break;
    }
    out.push_back(std::move(line));
  }
  for (VibrationLine& line : out)
    for (const LinearSpeciesRules& r : linear_species_order(group))
      if (r.name == line.species) line.ir_active = r.ir_active, line.raman_active = r.raman_active;
  return out;
}

int rank_of(const PointGroup& group, const std::string& species) {
  if (group.linear()) {
    const auto& order = linear_species_order(group);
    for (std::size_t k = 0; k < order.size(); ++k)
      if (order[k].name == species) return static_cast<int>(k);
    return -1;
  }
  const CharacterTable& table = group.table();
  for (std::size_t k = 0; k < table.herzberg_order.size(); ++k)
    if (table.species[static_cast<std::size_t>(table.herzberg_order[k])].label == species) return static_cast<int>(k);
  return -1;
}

// Whether the two bonds of a linear triatomic molecule stretch together in
// the line's first partner (the atoms taken in their order along the axis).
bool in_phase(const VibrationLine& line, const Matrix& modes, const std::vector<Vec3>& x,
              const std::vector<double>& masses) {
  std::vector<int> order{0, 1, 2};
  const Vec3 axis = (x[2] - x[0]).normalized();
  std::sort(order.begin(), order.end(), [&](int a, int b) { return x[a].dot(axis) < x[b].dot(axis); });
  Vector v = Vector::Zero(modes.rows());
  for (std::size_t j = 0; j < line.modes.size(); ++j)
    v += line.combination(static_cast<Eigen::Index>(j), 0) * modes.col(line.modes[j]);
  const auto shift = [&](int a) { return Vec3(v.segment<3>(3 * a) / std::sqrt(masses[a])); };
  const double first = (shift(order[1]) - shift(order[0])).dot(axis);
  const double second = (shift(order[2]) - shift(order[1])).dot(axis);
  return first * second > 0;
}

// ν numbers: by species in Herzberg's order, within a species by
// descending wavenumber, a degenerate vibration once; lines of unknown
// species last. A linear triatomic molecule keeps the convention of CO2,
// HCN, N2O and OCS: ν2 is the bend, ν1 and ν3 the stretches — for D∞h by
// species (Σg+ before Σu+), with a hydrogen atom by descending wavenumber
// (HCN: ν1 the CH stretch), otherwise ν1 the stretch whose two bonds
// lengthen together (N2O, OCS, as CO2's symmetric stretch).
void number_lines(std::vector<VibrationLine>& lines, const PointGroup* group, const Matrix& modes,
                  const std::vector<Vec3>& x, const std::vector<double>& masses) {
  std::vector<std::size_t> order(lines.size());
  std::iota(order.begin(), order.end(), 0);
  const auto key = [&](std::size_t i) {
    const int rank = lines[i].species_rank < 0 ? 1 << 20 : lines[i].species_rank;
    return std::make_pair(rank, -lines[i].eigenvalue());
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  const bool triatomic = group && group->linear() && x.size() == 3 && lines.size() == 3;
  if (triatomic) {
    std::vector<std::size_t> stretches, bends;
    for (std::size_t i : order) (lines[i].degeneracy == 2 ? bends : stretches).push_back(i);
    const bool hydrogen = std::any_of(masses.begin(), masses.end(), [](double m) { return m < 3.5; });
    if (stretches.size() == 2 && bends.size() == 1) {
      if (group->type.family == GroupFamily::Cinfv && !hydrogen && !in_phase(lines[stretches[0]], modes, x, masses))
        std::swap(stretches[0], stretches[1]);
      order = {stretches[0], bends[0], stretches[1]};
    }
  }
  for (std::size_t n = 0; n < order.size(); ++n) lines[order[n]].nu = static_cast<int>(n) + 1;
}

}  // namespace

LinearSpecies linear_species(const PointGroup& group, const std::string& working_label) {
  for (const LinearEntry& e : kLinear)
    if (e.family == group.type.family && working_label == e.working) return {e.name, e.partner};
  return {working_label, 0};
}

const std::vector<LinearSpeciesRules>& linear_species_order(const PointGroup& group) {
  static const std::vector<LinearSpeciesRules> cinfv{
      {"Sigma+", true, true}, {"Sigma-", false, false}, {"Pi", true, true}, {"Delta", false, true}};
  static const std::vector<LinearSpeciesRules> dinfh{
      {"Sigma_g+", false, true}, {"Sigma_u+", true, false}, {"Sigma_g-", false, false}, {"Sigma_u-", false, false},
      {"Pi_g", false, true},     {"Pi_u", true, false},     {"Delta_g", false, true},   {"Delta_u", false, false}};
  static const std::vector<LinearSpeciesRules> none;
  if (group.type.family == GroupFamily::Cinfv) return cinfv;
  if (group.type.family == GroupFamily::Dinfh) return dinfh;
  return none;
}

std::vector<int> species_content(const PointGroup& group, const Matrix& vectors, double tolerance) {
  if (vectors.cols() == 0) return std::vector<int>(group.table().species.size(), 0);
  return content_of(group.table(), representation(group, vectors), tolerance);
}

std::vector<VibrationLine> vibration_lines(const std::vector<double>& eigenvalues, const Matrix& cartesian_modes,
                                           const PointGroup* group, const std::vector<Vec3>& positions,
                                           const std::vector<double>& masses) {
  std::vector<VibrationLine> lines;
  for (const std::vector<int>& cluster : clusters_of(eigenvalues)) {
    if (!group) {
      for (int k : cluster) lines.push_back(single_mode(k, eigenvalues[static_cast<std::size_t>(k)]));
      continue;
    }
    std::vector<VibrationLine> part = split_cluster(*group, cluster, eigenvalues, cartesian_modes);
    if (group->linear()) part = join_linear(*group, std::move(part));
    for (VibrationLine& line : part) lines.push_back(std::move(line));
  }
  if (group)
    for (VibrationLine& line : lines) line.species_rank = line.species.empty() ? -1 : rank_of(*group, line.species);
  number_lines(lines, group, cartesian_modes, positions, masses);
  return lines;
}

double VibrationLine::eigenvalue() const {
  return eigenvalues.empty() ? 0.0
                             : std::accumulate(eigenvalues.begin(), eigenvalues.end(), 0.0) / eigenvalues.size();
}

}  // namespace korven::kit
