#include "kit/vibrations/mode_matching.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace korven::kit {
namespace {

// Orthonormal basis of each mode's degenerate group, per mode.
std::vector<Matrix> group_bases(const ModeSet& set, double tolerance) {
  const std::size_t n = set.wavenumbers.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return set.wavenumbers[a] < set.wavenumbers[b]; });
  std::vector<Matrix> basis(n);
  for (std::size_t start = 0; start < n;) {
    std::size_t end = start + 1;
    while (end < n && set.wavenumbers[order[end]] - set.wavenumbers[order[end - 1]] <= tolerance) ++end;
    Matrix cols(set.vectors.rows(), 0);
    for (std::size_t i = start; i < end; ++i) {
      const Vector v = set.vectors.col(static_cast<Eigen::Index>(order[i]));
      if (v.norm() == 0) continue;
      cols.conservativeResize(Eigen::NoChange, cols.cols() + 1);
      cols.col(cols.cols() - 1) = v / v.norm();
    }
    // Orthonormalize through the Gram matrix, dropping dependent vectors.
    Matrix q(set.vectors.rows(), 0);
    if (cols.cols() > 0) {
      const SymmetricEigen e = symmetric_eigen(cols.transpose() * cols);
      for (Eigen::Index i = 0; i < e.values.size(); ++i)
        if (e.values(i) > 1e-10 * e.values.maxCoeff()) {
          q.conservativeResize(Eigen::NoChange, q.cols() + 1);
          q.col(q.cols() - 1) = cols * e.vectors.col(i) / std::sqrt(e.values(i));
        }
    }
    for (std::size_t i = start; i < end; ++i) basis[order[i]] = q;
    start = end;
  }
  return basis;
}

double overlap(const Matrix& p, const Matrix& q) {
  const Eigen::Index d = std::min(p.cols(), q.cols());
  if (d == 0) return 0;
  return std::min(1.0, (p.transpose() * q).squaredNorm() / static_cast<double>(d));
}

}  // namespace

ModeSet mode_set(const VibrationAnalysis& analysis) {
  ModeSet s{{}, analysis.l};
  for (const Mode& m : analysis.modes) s.wavenumbers.push_back(m.wavenumber);
  return s;
}

std::vector<int> match_by_species(const std::vector<SpeciesComponent>& first,
                                  const std::vector<SpeciesComponent>& other) {
  const auto descending = [](const std::vector<SpeciesComponent>& list) {
    std::vector<int> order(list.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return std::make_pair(list[a].species, -list[a].wavenumber) < std::make_pair(list[b].species, -list[b].wavenumber);
    });
    return order;
  };
  const std::vector<int> a = descending(first), b = descending(other);
  std::vector<int> match(first.size(), -1);
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    while (j < b.size() && other[b[j]].species < first[a[i]].species) ++j;
    if (j < b.size() && other[b[j]].species == first[a[i]].species) match[a[i]] = b[j++];
  }
  return match;
}

std::vector<int> least_cost_assignment(const Matrix& cost) {
  if (cost.rows() > cost.cols()) {
    const std::vector<int> by_column = least_cost_assignment(cost.transpose());
    std::vector<int> by_row(static_cast<std::size_t>(cost.rows()), -1);
    for (std::size_t j = 0; j < by_column.size(); ++j) by_row[static_cast<std::size_t>(by_column[j])] = static_cast<int>(j);
    return by_row;
  }
  // Rows 1..n, columns 1..m; column 0 is the augmenting path's start.
  const auto n = static_cast<std::size_t>(cost.rows());
  const auto m = static_cast<std::size_t>(cost.cols());
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::vector<double> u(n + 1, 0), v(m + 1, 0);
  std::vector<std::size_t> p(m + 1, 0), way(m + 1, 0);
  for (std::size_t i = 1; i <= n; ++i) {
    p[0] = i;
    std::size_t j0 = 0;
    std::vector<double> minv(m + 1, inf);
    std::vector<char> used(m + 1, 0);
    do {
      used[j0] = 1;
      const std::size_t i0 = p[j0];
      double delta = inf;
      std::size_t j1 = 0;
      for (std::size_t j = 1; j <= m; ++j) {
        if (used[j]) continue;
        const double cur = cost(static_cast<Eigen::Index>(i0 - 1), static_cast<Eigen::Index>(j - 1)) - u[i0] - v[j];
        if (cur < minv[j]) minv[j] = cur, way[j] = j0;
        if (minv[j] < delta) delta = minv[j], j1 = j;
      }
      for (std::size_t j = 0; j <= m; ++j) {
        if (used[j]) {
          u[p[j]] += delta;
          v[j] -= delta;
        } else {
          minv[j] -= delta;
        }
      }
      j0 = j1;
    } while (p[j0] != 0);
    do {
      const std::size_t j1 = way[j0];
      p[j0] = p[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  std::vector<int> column(n, -1);
  for (std::size_t j = 1; j <= m; ++j)
    if (p[j] != 0) column[p[j] - 1] = static_cast<int>(j - 1);
  return column;
}

ModeMatching match_modes(const std::vector<ModeSet>& sets, double degenerate_tolerance) {
  ModeMatching out;
  if (sets.empty()) return out;
  for (const ModeSet& s : sets)
    if (static_cast<Eigen::Index>(s.wavenumbers.size()) != s.vectors.cols() || s.vectors.rows() != sets[0].vectors.rows())
      throw std::invalid_argument("match_modes: every set needs one vector per mode over the same coordinates");
  const std::size_t n = sets[0].wavenumbers.size();
  out.matches.assign(n, std::vector<int>(sets.size(), -1));
  out.shifts.assign(n, std::vector<std::optional<double>>(sets.size()));
  out.overlaps.assign(n, std::vector<double>(sets.size(), 0.0));
  const std::vector<Matrix> first = group_bases(sets[0], degenerate_tolerance);
  for (std::size_t k = 0; k < n; ++k) out.matches[k][0] = static_cast<int>(k), out.shifts[k][0] = 0.0, out.overlaps[k][0] = 1.0;
  for (std::size_t s = 1; s < sets.size(); ++s) {
    const std::vector<Matrix> other = group_bases(sets[s], degenerate_tolerance);
    Matrix o(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(other.size()));
    for (std::size_t k = 0; k < n; ++k)
      for (std::size_t j = 0; j < other.size(); ++j)
        o(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(j)) = overlap(first[k], other[j]);
    const std::vector<int> column = least_cost_assignment(Matrix::Ones(o.rows(), o.cols()) - o);
    for (std::size_t k = 0; k < n; ++k) {
      const int j = column[k];
      out.matches[k][s] = j;
      if (j < 0) continue;
      out.shifts[k][s] = sets[s].wavenumbers[static_cast<std::size_t>(j)] - sets[0].wavenumbers[k];
      out.overlaps[k][s] = o(static_cast<Eigen::Index>(k), j);
    }
  }
  return out;
}

}  // namespace korven::kit
