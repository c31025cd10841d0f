#include "kit/vibrations/amplitudes.h"

#include <cmath>

#include "kit/base/constants.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

double normal_coordinate_mean_square(double eigenvalue, double temperature) {
  const double wavenumber = wavenumber_from_eigenvalue(eigenvalue) * 100;  // m⁻¹
  const double zero_point = kPlanck / (8 * kPi * kPi * kSpeedOfLight * wavenumber);  // kg m²
  const double in_u_a2 = zero_point / (kAtomicMassConstant * 1e-20);
  if (temperature <= 0) return in_u_a2;
  const double x = kPlanck * kSpeedOfLight * wavenumber / (2 * kBoltzmann * temperature);
  return in_u_a2 / std::tanh(x);
}

std::vector<PairAmplitude> mean_amplitudes(const PrincipalModes& modes, double temperature) {
  // W = M^-½ L Δ^½: row 3i + α, column k; C_ij = (W_j − W_i)(W_j − W_i)ᵀ.
  Matrix w = modes.modes;
  for (Eigen::Index k = 0; k < w.cols(); ++k)
    w.col(k) *= std::sqrt(normal_coordinate_mean_square(modes.eigenvalues[static_cast<std::size_t>(k)], temperature));
  for (std::size_t i = 0; i < modes.masses.size(); ++i)
    w.middleRows(static_cast<Eigen::Index>(3 * i), 3) /= std::sqrt(modes.masses[i]);
  std::vector<PairAmplitude> out;
  const auto atoms = static_cast<int>(modes.positions.size());
  for (int i = 0; i < atoms; ++i)
    for (int j = i + 1; j < atoms; ++j) {
      const Vec3 d = modes.positions[static_cast<std::size_t>(j)] - modes.positions[static_cast<std::size_t>(i)];
      const double r = d.norm();
      const Vec3 e = d / r;
      const Matrix relative = w.middleRows(3 * j, 3) - w.middleRows(3 * i, 3);
      const Mat3 c = relative * relative.transpose();
      PairAmplitude p{i, j, r, e.dot(c * e), 0, 0, 0};
      p.amplitude = std::sqrt(p.parallel_mean_square);
      p.perpendicular_mean_square = c.trace() - p.parallel_mean_square;
      p.perpendicular_correction = p.perpendicular_mean_square / (2 * r);
      out.push_back(p);
    }
  return out;
}

}  // namespace korven::kit
