// The kit's linear algebra: Eigen's dense types under our own names, and the
// few decompositions the commands share. Only this file and linalg.cpp
// include Eigen.
#pragma once

#include <utility>
#include <vector>

#include <Eigen/Dense>

namespace korven::kit {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

// One row of a sparse matrix: (0-based column, value) pairs. A row of B
// holds the Cartesian columns 3a + k of the atoms its coordinate moves. A
// column may come more than once; its entries add up.
using SparseRow = std::vector<std::pair<int, double>>;

// Eigenvalues (ascending) and eigenvectors (columns) of a symmetric matrix.
struct SymmetricEigen {
  Vector values;
  Matrix vectors;
};
SymmetricEigen symmetric_eigen(const Matrix& a);
Vector symmetric_eigenvalues(const Matrix& a);

// Singular values of a, descending, from the eigenvalues of the smaller of
// a aᵀ and aᵀ a.
std::vector<double> singular_values(const Matrix& a);
// The same for the matrix whose sparse rows these are, the product formed
// sparse: rows of B meet only where they share atoms.
std::vector<double> singular_values(const std::vector<SparseRow>& rows, int columns);

// a diag(w) aᵀ for the matrix a whose rows these are, w one weight per
// column, formed as a sparse product and returned dense. Entries outside the
// columns of w are left out.
Matrix weighted_row_products(const std::vector<SparseRow>& rows, const Vector& w);

// a g aᵀ for the matrix a whose sparse rows these are and a dense g of as
// many rows and columns as a has columns.
Matrix sandwich(const std::vector<SparseRow>& rows, const Matrix& g);

// The number of singular values above relative · the largest.
int numeric_rank(const std::vector<double>& singular_values, double relative);

// Generalized inverse of a symmetric positive semidefinite matrix: the
// eigenvalues below relative · the largest count as zero.
Matrix pseudo_inverse_symmetric(const Matrix& a, double relative);

// The dense matrix of `columns` columns whose sparse rows these are.
Matrix dense(const std::vector<SparseRow>& rows, int columns);

// max |U Uᵀ − 1|.
double orthonormal_deviation(const Matrix& u);
// Rows of U count as orthonormal when orthonormal_deviation stays below this.
inline constexpr double kOrthonormalTolerance = 1e-5;

// Σ m_a x_a / Σ m_a.
Vec3 centre_of_mass(const std::vector<Vec3>& x, const std::vector<double>& masses);

// The inertia tensor about the centre of mass, Σ m_a (|r_a|² 1 − r_a r_aᵀ)
// with r_a = x_a − the centre (u Å² for u and Å).
Mat3 inertia_tensor(const std::vector<Vec3>& x, const std::vector<double>& masses);

// The least-squares rigid motion to ≈ rotation · from + translation, every
// point weighted alike, the rotation proper (Kabsch 1976, Acta Cryst. A32,
// 922, with the sign correction of 1978, A34, 827; Eigen's umeyama).
struct RigidMotion {
  Mat3 rotation = Mat3::Identity();
  Vec3 translation = Vec3::Zero();
};
RigidMotion best_rigid_motion(const std::vector<Vec3>& from, const std::vector<Vec3>& to);

// The orthogonal matrix Q of determinant `det` (+1 or −1) that best maps
// each from[i] onto to[i] about the origin (no translation): the same fit,
// for the operations of a point group, proper or improper.
Mat3 best_orthogonal_about_origin(const std::vector<Vec3>& from, const std::vector<Vec3>& to, double det);

}  // namespace korven::kit
