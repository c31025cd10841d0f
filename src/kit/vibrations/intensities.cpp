#include "kit/vibrations/intensities.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

// 1/√m_i for each of the 3N Cartesian coordinates; checks the sizes.
Vector inverse_root_masses(const Matrix& cartesian_modes, const std::vector<double>& masses, const char* what) {
  const auto n3 = static_cast<Eigen::Index>(3 * masses.size());
  if (cartesian_modes.rows() != n3)
    throw std::invalid_argument(std::string(what) + ": " + std::to_string(cartesian_modes.rows()) + " rows of modes for " +
                                std::to_string(masses.size()) + " masses");
  Vector w(n3);
  for (Eigen::Index i = 0; i < n3; ++i) {
    const double m = masses[static_cast<std::size_t>(i / 3)];
    if (!(m > 0)) throw std::invalid_argument(std::string(what) + ": a mass that is not positive");
    w(i) = 1 / std::sqrt(m);
  }
  return w;
}

void check_derivatives(const Matrix& derivatives, Eigen::Index rows, Eigen::Index columns, const char* what) {
  if (derivatives.rows() != rows || derivatives.cols() != columns)
    throw std::invalid_argument(std::string(what) + ": derivatives of " + std::to_string(derivatives.rows()) + " × " +
                                std::to_string(derivatives.cols()) + ", expected " + std::to_string(rows) + " × " +
                                std::to_string(columns));
}

}  // namespace

std::vector<ModeShape> mode_shapes(const Matrix& cartesian_modes, const std::vector<double>& eigenvalues,
                                   const std::vector<double>& masses) {
  const Vector w = inverse_root_masses(cartesian_modes, masses, "mode_shapes");
  if (static_cast<Eigen::Index>(eigenvalues.size()) != cartesian_modes.cols())
    throw std::invalid_argument("mode_shapes: " + std::to_string(eigenvalues.size()) + " eigenvalues for " +
                                std::to_string(cartesian_modes.cols()) + " modes");
  std::vector<ModeShape> out;
  out.reserve(eigenvalues.size());
  for (Eigen::Index k = 0; k < cartesian_modes.cols(); ++k) {
    const Vector c = w.cwiseProduct(cartesian_modes.col(k));  // M^-½ e_k
    const double length2 = c.squaredNorm();
    ModeShape s;
    s.reduced_mass = 1 / length2;
    s.displacement = c / std::sqrt(length2);
    s.force_constant = eigenvalues[static_cast<std::size_t>(k)] * s.reduced_mass;
    out.push_back(std::move(s));
  }
  return out;
}

// The integrated molar absorption coefficient (natural logarithms) of a
// fundamental in the double-harmonic approximation is
//
//   A_k = (N_A π / (3 c²)) |∂μ/∂Q_k|²               (Gaussian units)
//       = (N_A / (12 ε₀ c²)) |∂μ/∂Q_k|²             (SI)
//
// (E. B. Wilson, J. C. Decius, P. C. Cross, Molecular Vibrations, McGraw-Hill
// 1955; W. B. Person, G. Zerbi (eds.), Vibrational Intensities in Infrared
// and Raman Spectroscopy, Elsevier 1982). With ∂μ/∂Q_k = d
// e/√u (μ in e·bohr, Q in bohr·√u), |∂μ/∂Q_k|² / (4πε₀) = d² (e²/(4πε₀)) / u
// = d² E_h a₀ / u, since the hartree is E_h = e² / (4πε₀ a₀). So
//
//   A_k = d² · N_A π E_h a₀ / (3 c² u)
//
// and the factor is, in m/mol with CODATA 2018 (base/constants.h),
// 6.02214076e23 · π · 4.3597447222071e-18 J · 0.529177210903e-10 m
// / (3 · 299792458² m²/s² · 1.66053906660e-27 kg) = 974880 m/mol, that is
// 974.880 km/mol per e²/u (42.2561 km/mol per (D/Å)²/u).
double ir_intensity_constant() {
  const double hartree = kHartreeInAttojoule * 1e-18;  // J
  const double bohr = kBohrInAngstrom * 1e-10;         // m
  const double metres_per_mole =
      kAvogadro * kPi * hartree * bohr / (3 * kSpeedOfLight * kSpeedOfLight * kAtomicMassConstant);
  return metres_per_mole * 1e-3;  // km/mol
}

Matrix dipole_along_modes(const Matrix& cartesian_modes, const std::vector<double>& masses,
                          const Matrix& dipole_derivatives) {
  const Vector w = inverse_root_masses(cartesian_modes, masses, "dipole_along_modes");
  check_derivatives(dipole_derivatives, cartesian_modes.rows(), 3, "dipole_along_modes");
  // (∂μ/∂x)ᵀ M^-½ E: 3 × n.
  return dipole_derivatives.transpose() * w.asDiagonal() * cartesian_modes;
}

std::vector<double> ir_intensities(const Matrix& cartesian_modes, const std::vector<double>& masses,
                                   const Matrix& dipole_derivatives) {
  const Matrix dmu = dipole_along_modes(cartesian_modes, masses, dipole_derivatives);
  const double factor = ir_intensity_constant();
  std::vector<double> out(static_cast<std::size_t>(dmu.cols()));
  for (Eigen::Index k = 0; k < dmu.cols(); ++k) out[static_cast<std::size_t>(k)] = factor * dmu.col(k).squaredNorm();
  return out;
}

std::vector<double> raman_activities(const Matrix& cartesian_modes, const std::vector<double>& masses,
                                     const Matrix& polarizability_derivatives) {
  const Vector w = inverse_root_masses(cartesian_modes, masses, "raman_activities");
  check_derivatives(polarizability_derivatives, cartesian_modes.rows(), 6, "raman_activities");
  // α'_k, 6 × n, bohr²/√u; components xx, xy, yy, xz, yz, zz.
  const Matrix da = polarizability_derivatives.transpose() * w.asDiagonal() * cartesian_modes;
  const double bohr4 = std::pow(kBohrInAngstrom, 4);  // Å⁴ per bohr⁴
  std::vector<double> out(static_cast<std::size_t>(da.cols()));
  for (Eigen::Index k = 0; k < da.cols(); ++k) {
    const double xx = da(0, k), xy = da(1, k), yy = da(2, k), xz = da(3, k), yz = da(4, k), zz = da(5, k);
    const double mean = (xx + yy + zz) / 3;
    const double anisotropy2 =
        0.5 * ((xx - yy) * (xx - yy) + (yy - zz) * (yy - zz) + (zz - xx) * (zz - xx) + 6 * (xy * xy + xz * xz + yz * yz));
    out[static_cast<std::size_t>(k)] = (45 * mean * mean + 7 * anisotropy2) * bohr4;
  }
  return out;
}

ModeIntensities mode_intensities(const VibrationAnalysis& analysis, const std::vector<double>& masses,
                                 const std::optional<Matrix>& dipole_derivatives,
                                 const std::optional<Matrix>& polarizability_derivatives) {
  std::vector<double> eigenvalues;
  eigenvalues.reserve(analysis.modes.size());
  for (const Mode& m : analysis.modes) eigenvalues.push_back(m.eigenvalue);
  ModeIntensities out;
  out.shapes = mode_shapes(analysis.cartesian_modes, eigenvalues, masses);
  if (dipole_derivatives) out.infrared = ir_intensities(analysis.cartesian_modes, masses, *dipole_derivatives);
  if (polarizability_derivatives)
    out.raman = raman_activities(analysis.cartesian_modes, masses, *polarizability_derivatives);
  return out;
}

}  // namespace korven::kit
