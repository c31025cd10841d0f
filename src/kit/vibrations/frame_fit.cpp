#include "kit/vibrations/frame_fit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"

namespace korven::kit {

FrameFit fit_frame(const std::vector<Vec3>& file_positions, const std::vector<Vec3>& deck_positions) {
  if (file_positions.size() != deck_positions.size() || file_positions.empty())
    throw std::invalid_argument("fit_frame: the two geometries need the same, nonzero number of atoms");
  const RigidMotion motion = best_rigid_motion(file_positions, deck_positions);
  FrameFit fit;
  fit.rotation = motion.rotation;
  fit.translation = motion.translation;
  double sum = 0;
  for (std::size_t a = 0; a < file_positions.size(); ++a) {
    const double e = (fit.rotation * file_positions[a] + fit.translation - deck_positions[a]).norm();
    sum += e * e;
    fit.largest_deviation = std::max(fit.largest_deviation, e);
  }
  fit.rmsd = std::sqrt(sum / static_cast<double>(file_positions.size()));
  return fit;
}

Matrix rotate_hessian(const Matrix& hessian, const Mat3& rotation) {
  Matrix out(hessian.rows(), hessian.cols());
  for (Eigen::Index a = 0; a + 3 <= hessian.rows(); a += 3)
    for (Eigen::Index b = 0; b + 3 <= hessian.cols(); b += 3)
      out.block<3, 3>(a, b) = rotation * hessian.block<3, 3>(a, b) * rotation.transpose();
  return out;
}

Matrix rotate_dipole_derivatives(const Matrix& dipole_derivatives, const Mat3& rotation) {
  Matrix out(dipole_derivatives.rows(), dipole_derivatives.cols());
  for (Eigen::Index a = 0; a + 3 <= dipole_derivatives.rows(); a += 3)
    out.block<3, 3>(a, 0) = rotation * dipole_derivatives.block<3, 3>(a, 0) * rotation.transpose();
  return out;
}

namespace {

// A symmetric tensor from its six components xx, xy, yy, xz, yz, zz, and back.
Mat3 tensor_from_components(const Vector& c) {
  Mat3 t;
  t << c(0), c(1), c(3),  //
      c(1), c(2), c(4),   //
      c(3), c(4), c(5);
  return t;
}

Vector components_from_tensor(const Mat3& t) {
  Vector c(6);
  c << t(0, 0), t(1, 0), t(1, 1), t(2, 0), t(2, 1), t(2, 2);
  return c;
}

}  // namespace

Matrix rotate_polarizability_derivatives(const Matrix& polarizability_derivatives, const Mat3& rotation) {
  const Matrix& p = polarizability_derivatives;
  Matrix out(p.rows(), p.cols());
  for (Eigen::Index a = 0; a + 3 <= p.rows(); a += 3) {
    // Each row's tensor turned (R α Rᵀ), then the three rows of the atom
    // mixed as the displacements turn: row k' = Σ_k R_k'k row k.
    Mat3 turned[3];
    for (int k = 0; k < 3; ++k)
      turned[k] = rotation * tensor_from_components(p.row(a + k).transpose()) * rotation.transpose();
    for (int k = 0; k < 3; ++k) {
      const Mat3 t = rotation(k, 0) * turned[0] + rotation(k, 1) * turned[1] + rotation(k, 2) * turned[2];
      out.row(a + k) = components_from_tensor(t).transpose();
    }
  }
  return out;
}

void check_same_atoms(const std::string& file, const std::vector<int>& file_numbers,
                      const std::vector<int>& deck_numbers, const std::vector<int>& lines) {
  if (file_numbers.size() != deck_numbers.size())
    throw input_error(file, "holds " + std::to_string(file_numbers.size()) + " atoms, the deck " +
                                std::to_string(deck_numbers.size()));
  const auto name = [](int z) {
    const std::string s = element_symbol(z);
    return s.empty() ? "element " + std::to_string(z) : s;
  };
  for (std::size_t a = 0; a < file_numbers.size(); ++a)
    if (file_numbers[a] != deck_numbers[a])
      throw input_error(file, (a < lines.size() ? "line " + std::to_string(lines[a]) + ": " : std::string()) +
                                  "atom " + std::to_string(a + 1) + " is " + name(file_numbers[a]) +
                                  ", the deck's atom " + std::to_string(a + 1) + " is " + name(deck_numbers[a]) +
                                  ": a Hessian for another molecule or another atom order");
}

}  // namespace korven::kit
