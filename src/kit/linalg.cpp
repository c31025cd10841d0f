#include "kit/linalg.h"

#include <algorithm>
#include <cmath>

namespace korven::kit {

SymmetricEigen symmetric_eigen(const Matrix& a) {
  Eigen::SelfAdjointEigenSolver<Matrix> solver(a);
  return {solver.eigenvalues(), solver.eigenvectors()};
}

Vector symmetric_eigenvalues(const Matrix& a) {
  Eigen::SelfAdjointEigenSolver<Matrix> solver(a, Eigen::EigenvaluesOnly);
  return solver.eigenvalues();
}

std::vector<double> singular_values(const Matrix& a) {
  if (a.rows() == 0 || a.cols() == 0) return {};
  const Matrix gram = a.rows() <= a.cols() ? Matrix(a * a.transpose()) : Matrix(a.transpose() * a);
  const Vector lambda = symmetric_eigenvalues(gram);
  std::vector<double> s;
  s.reserve(static_cast<std::size_t>(lambda.size()));
  for (Eigen::Index i = lambda.size(); i-- > 0;) s.push_back(std::sqrt(std::max(0.0, lambda(i))));
  return s;
}

int numeric_rank(const std::vector<double>& sv, double relative) {
  if (sv.empty() || sv.front() <= 0) return 0;
  const double cut = relative * sv.front();
  return static_cast<int>(std::count_if(sv.begin(), sv.end(), [cut](double s) { return s > cut; }));
}

Matrix pseudo_inverse_symmetric(const Matrix& a, double relative) {
  const SymmetricEigen e = symmetric_eigen(a);
  const double largest = e.values.size() ? e.values.cwiseAbs().maxCoeff() : 0.0;
  Vector inv = Vector::Zero(e.values.size());
  for (Eigen::Index i = 0; i < e.values.size(); ++i)
    if (std::abs(e.values(i)) > relative * largest) inv(i) = 1.0 / e.values(i);
  return e.vectors * inv.asDiagonal() * e.vectors.transpose();
}

}  // namespace korven::kit
