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
