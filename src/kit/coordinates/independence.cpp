#include "kit/coordinates/independence.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace korven::kit {

std::vector<bool> independent_rows(const std::vector<SparseRow>& rows, int columns,
                                   const std::vector<int>& ranks, int limit) {
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  std::vector<bool> kept(rows.size(), false);
  if (columns <= 0 || rows.empty()) return kept;
  Eigen::Index most = std::min<Eigen::Index>(columns, static_cast<Eigen::Index>(rows.size()));
  if (limit >= 0) most = std::min<Eigen::Index>(most, limit);
  // The orthonormal basis of the rows kept so far, one column per basis
  // vector; row c holds every basis vector's component c, so a short B row
  // meets only the few rows of its atoms.
  RowMajor q = RowMajor::Zero(columns, std::max<Eigen::Index>(most, 1));
  Eigen::Index k = 0;

  // Each row merged by column, with its squared norm.
  std::vector<std::vector<std::pair<int, double>>> x(rows.size());
  std::vector<double> norm2(rows.size(), 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::map<int, double> merged;
    for (const auto& [c, v] : rows[r])
      if (c >= 0 && c < columns) merged[c] += v;
    x[r].assign(merged.begin(), merged.end());
    for (const auto& [c, v] : x[r]) norm2[r] += v * v;
  }
  auto projection = [&](std::size_t r) {
    Vector p = Vector::Zero(k);
    for (const auto& [c, v] : x[r]) p += v * q.row(c).head(k).transpose();
    return p;
  };
  const double f2 = kIndependenceFraction * kIndependenceFraction;

  const std::set<int> kinds(ranks.begin(), ranks.end());
  Vector y(columns);
  for (const int kind : kinds) {
    std::vector<std::size_t> candidates;
    std::vector<double> left;  // squared residual of each candidate
    for (std::size_t r = 0; r < rows.size(); ++r)
      if (ranks[r] == kind && norm2[r] > 0) {
        candidates.push_back(r);
        left.push_back(norm2[r] - projection(r).squaredNorm());
      }
    while (k < most) {
      std::size_t best = candidates.size();
      double best_fraction = f2;
      for (std::size_t i = 0; i < candidates.size(); ++i)
        if (left[i] / norm2[candidates[i]] > best_fraction) best = i, best_fraction = left[i] / norm2[candidates[i]];
      if (best == candidates.size()) break;
      const std::size_t r = candidates[best];
      // Classical Gram–Schmidt twice over keeps the basis orthonormal.
      const Vector p = projection(r);
      y.setZero();
      for (const auto& [c, v] : x[r]) y(c) = v;
      y -= q.leftCols(k) * p;
      y -= q.leftCols(k) * (q.leftCols(k).transpose() * y);
      const double len2 = y.squaredNorm();
      if (!(len2 > f2 * norm2[r])) {
        left[best] = len2;  // the running residual had drifted: take the exact one
        continue;
      }
      q.col(k) = y / std::sqrt(len2);
      kept[r] = true;
      candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(best));
      left.erase(left.begin() + static_cast<std::ptrdiff_t>(best));
      for (std::size_t i = 0; i < candidates.size(); ++i) {
        double a = 0;
        for (const auto& [c, v] : x[candidates[i]]) a += v * q(c, k);
        left[i] -= a * a;
      }
      ++k;
    }
  }
  return kept;
}

}  // namespace korven::kit
