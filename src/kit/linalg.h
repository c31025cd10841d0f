// The kit's linear algebra: Eigen's dense types under our own names, and the
// few decompositions the commands share. Only this file and linalg.cpp
// include Eigen.
#pragma once

#include <vector>

#include <Eigen/Dense>

namespace korven::kit {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

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

// The number of singular values above relative · the largest.
int numeric_rank(const std::vector<double>& singular_values, double relative);

// Generalized inverse of a symmetric positive semidefinite matrix: the
// eigenvalues below relative · the largest count as zero.
Matrix pseudo_inverse_symmetric(const Matrix& a, double relative);

}  // namespace korven::kit
