#include "kit/base/linalg.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>
#include <Eigen/Sparse>

namespace korven::kit {

SymmetricEigen symmetric_eigen(const Matrix& a) {
  Eigen::SelfAdjointEigenSolver<Matrix> solver(a);
  return {solver.eigenvalues(), solver.eigenvectors()};
}

Vector symmetric_eigenvalues(const Matrix& a) {
  Eigen::SelfAdjointEigenSolver<Matrix> solver(a, Eigen::EigenvaluesOnly);
  return solver.eigenvalues();
}

namespace {

// The square roots of a Gram matrix's eigenvalues, descending; rounding's
// small negatives count as zero.
std::vector<double> descending_roots(const Vector& lambda) {
  std::vector<double> s;
  s.reserve(static_cast<std::size_t>(lambda.size()));
  for (Eigen::Index i = lambda.size(); i-- > 0;) s.push_back(std::sqrt(std::max(0.0, lambda(i))));
  return s;
}

Eigen::SparseMatrix<double> sparse_matrix(const std::vector<SparseRow>& rows, Eigen::Index columns) {
  std::vector<Eigen::Triplet<double>> entries;
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (const auto& [c, v] : rows[r])
      if (c >= 0 && c < columns) entries.emplace_back(static_cast<int>(r), c, v);
  Eigen::SparseMatrix<double> a(static_cast<Eigen::Index>(rows.size()), columns);
  a.setFromTriplets(entries.begin(), entries.end());  // repeated columns add up
  return a;
}

}  // namespace

std::vector<double> singular_values(const Matrix& a) {
  if (a.rows() == 0 || a.cols() == 0) return {};
  const Matrix gram = a.rows() <= a.cols() ? Matrix(a * a.transpose()) : Matrix(a.transpose() * a);
  return descending_roots(symmetric_eigenvalues(gram));
}

std::vector<double> singular_values(const std::vector<SparseRow>& rows, int columns) {
  if (rows.empty() || columns <= 0) return {};
  const Eigen::SparseMatrix<double> a = sparse_matrix(rows, columns);
  const Eigen::SparseMatrix<double> at = a.transpose();
  const Matrix gram = a.rows() <= a.cols() ? Matrix(a * at) : Matrix(at * a);
  return descending_roots(symmetric_eigenvalues(gram));
}

Matrix weighted_row_products(const std::vector<SparseRow>& rows, const Vector& w) {
  const Eigen::SparseMatrix<double> a = sparse_matrix(rows, w.size());
  const Eigen::SparseMatrix<double> aw = a * w.asDiagonal();
  return Matrix(aw * a.transpose());
}

Matrix sandwich(const std::vector<SparseRow>& rows, const Matrix& g) {
  const Eigen::SparseMatrix<double> a = sparse_matrix(rows, g.cols());
  const Matrix ag = a * g;
  return ag * a.transpose();
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

Matrix dense(const std::vector<SparseRow>& rows, int columns) {
  Matrix m = Matrix::Zero(static_cast<Eigen::Index>(rows.size()), columns);
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (const auto& [c, v] : rows[r])
      if (c >= 0 && c < columns) m(static_cast<Eigen::Index>(r), c) += v;
  return m;
}

double orthonormal_deviation(const Matrix& u) {
  if (u.size() == 0) return 0;
  return (u * u.transpose() - Matrix::Identity(u.rows(), u.rows())).cwiseAbs().maxCoeff();
}

Vec3 centre_of_mass(const std::vector<Vec3>& x, const std::vector<double>& masses) {
  Vec3 centre = Vec3::Zero();
  double total = 0;
  for (std::size_t a = 0; a < x.size() && a < masses.size(); ++a) centre += masses[a] * x[a], total += masses[a];
  return centre / total;
}

Mat3 inertia_tensor(const std::vector<Vec3>& x, const std::vector<double>& masses) {
  const Vec3 c = centre_of_mass(x, masses);
  Mat3 inertia = Mat3::Zero();
  for (std::size_t a = 0; a < x.size() && a < masses.size(); ++a) {
    const Vec3 r = x[a] - c;
    inertia += masses[a] * (r.squaredNorm() * Mat3::Identity() - r * r.transpose());
  }
  return inertia;
}

namespace {

Eigen::Matrix3Xd columns_of(const std::vector<Vec3>& points) {
  Eigen::Matrix3Xd m(3, static_cast<Eigen::Index>(points.size()));
  for (std::size_t i = 0; i < points.size(); ++i) m.col(static_cast<Eigen::Index>(i)) = points[i];
  return m;
}

}  // namespace

RigidMotion best_rigid_motion(const std::vector<Vec3>& from, const std::vector<Vec3>& to) {
  const Eigen::Matrix4d t = Eigen::umeyama(columns_of(from), columns_of(to), false);
  return {t.topLeftCorner<3, 3>(), t.topRightCorner<3, 1>()};
}

Mat3 best_orthogonal_about_origin(const std::vector<Vec3>& from, const std::vector<Vec3>& to, double det) {
  // Σ to_i from_iᵀ = U S Vᵀ; Q = U D Vᵀ with D = diag(1, 1, ±1) giving Q the
  // determinant asked for.
  Mat3 h = Mat3::Zero();
  for (std::size_t i = 0; i < from.size(); ++i) h += to[i] * from[i].transpose();
  const Eigen::JacobiSVD<Mat3> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Mat3 d = Mat3::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() * det < 0) d(2, 2) = -1;
  return svd.matrixU() * d * svd.matrixV().transpose();
}

}  // namespace korven::kit
