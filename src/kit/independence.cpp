#include "kit/independence.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace korven::kit {

int preference_rank(CoordinateKind kind) {
  switch (kind) {
    case CoordinateKind::stretch: return 0;
    case CoordinateKind::bend: return 1;
    case CoordinateKind::linear_bend: return 2;
    case CoordinateKind::out_of_plane: return 3;
    case CoordinateKind::torsion: return 4;
  }
  return 5;
}

std::vector<int> preference_order(const std::vector<int>& ranks) {
  std::vector<int> order(ranks.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return ranks[a] < ranks[b]; });
  return order;
}

std::vector<bool> independent_rows(const std::vector<SparseRow>& rows, int columns,
                                   const std::vector<int>& order) {
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  std::vector<bool> kept(rows.size(), false);
  if (columns <= 0) return kept;
  // The orthonormal basis of the rows kept so far, one column per basis
  // vector; row c holds every basis vector's component c, so a short B row
  // meets only the few rows of its atoms.
  RowMajor q = RowMajor::Zero(columns, std::min<Eigen::Index>(columns, static_cast<Eigen::Index>(rows.size())));
  Eigen::Index k = 0;
  Vector y(columns);
  for (int r : order) {
    if (k == q.cols()) break;
    std::map<int, double> x;  // entries of one column add up
    for (const auto& [c, v] : rows[r]) x[c] += v;
    double norm2 = 0;
    for (const auto& [c, v] : x) norm2 += v * v;
    if (norm2 == 0) continue;
    Vector proj = Vector::Zero(k);
    for (const auto& [c, v] : x) proj += v * q.row(c).head(k).transpose();
    const double residual2 = norm2 - proj.squaredNorm();
    if (!(residual2 > kIndependenceFraction * kIndependenceFraction * norm2)) continue;
    // Classical Gram–Schmidt twice over keeps the basis orthonormal.
    y.setZero();
    for (const auto& [c, v] : x) y(c) = v;
    y -= q.leftCols(k) * proj;
    const Vector again = q.leftCols(k).transpose() * y;
    y -= q.leftCols(k) * again;
    const double len = y.norm();
    if (!(len > kIndependenceFraction * std::sqrt(norm2))) continue;
    q.col(k) = y / len;
    ++k;
    kept[r] = true;
  }
  return kept;
}

}  // namespace korven::kit
