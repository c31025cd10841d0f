#include "kit/vibrations/molecular_constants.h"

#include <cmath>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

void check_sizes(const NormalModes& m, const ConstantsOptions& options) {
  const auto atoms = m.positions.size();
  if (m.masses.size() != atoms)
    throw input_error(m.source, format("%zu masses for %zu atoms", m.masses.size(), atoms));
  if (m.modes.rows() != static_cast<Eigen::Index>(3 * atoms) ||
      m.eigenvalues.size() != static_cast<std::size_t>(m.modes.cols()))
    throw input_error(m.source, format("%ld × %ld modes with %zu eigenvalues do not fit %zu atoms",
                                       static_cast<long>(m.modes.rows()), static_cast<long>(m.modes.cols()),
                                       m.eigenvalues.size(), atoms));
  for (std::size_t i = 0; i < atoms; ++i) {
    if (!(m.masses[i] > 0) || !std::isfinite(m.masses[i]))
      throw input_error(m.source, format("atom %zu has the mass %g", i + 1, m.masses[i]));
    if (!m.positions[i].allFinite()) throw input_error(m.source, format("atom %zu has no finite position", i + 1));
  }
  if (!m.modes.allFinite()) throw input_error(m.source, "the normal modes hold a value that is not finite");
  if (!(options.temperature >= 0) || !std::isfinite(options.temperature))
    throw input_error(m.source, format("the temperature %g K is not a temperature", options.temperature));
}

// Every mode real and above the floor: the constants of a saddle point or a
// flat direction mean nothing.
void check_minimum(const NormalModes& m, double minimum_wavenumber) {
  for (std::size_t k = 0; k < m.eigenvalues.size(); ++k) {
    const double v = wavenumber_from_eigenvalue(m.eigenvalues[k]);
    if (!std::isfinite(v) || v < 0)
      throw input_error(m.source, format("mode %zu is imaginary (%.2f cm-1): the geometry is no minimum, and the "
                                         "molecular constants need one", k + 1, v));
    if (v < minimum_wavenumber)
      throw input_error(m.source, format("mode %zu has the wavenumber %.3g cm-1, below %g cm-1: the molecular "
                                         "constants need every vibration", k + 1, v, minimum_wavenumber));
  }
}

// The mass-weighted translations and rotations, √m_i e and
// √m_i (e × (r_i − centre)), each of unit length (the rotation about a linear
// molecule's axis is a zero column).
Matrix external_motions(const NormalModes& m, const PrincipalFrame& frame) {
  const auto atoms = static_cast<Eigen::Index>(m.positions.size());
  Matrix external = Matrix::Zero(3 * atoms, 6);
  for (Eigen::Index i = 0; i < atoms; ++i) {
    const double s = std::sqrt(m.masses[static_cast<std::size_t>(i)]);
    const Vec3 r = m.positions[static_cast<std::size_t>(i)] - frame.centre_of_mass;
    for (int k = 0; k < 3; ++k) {
      external.block<3, 1>(3 * i, k) = s * Vec3::Unit(k);
      external.block<3, 1>(3 * i, 3 + k) = s * Vec3::Unit(k).cross(r);
    }
  }
  for (Eigen::Index k = 0; k < 6; ++k) {
    const double norm = external.col(k).norm();
    if (norm > 0) external.col(k) /= norm;
  }
  return external;
}

// The modes with what they hold of the translations and rotations taken
// out, then made orthonormal by Löwdin's symmetric orthonormalization
// L (LᵀL)^-½, the orthonormal set closest to them. Modes found through a
// listed B (six decimals) are orthonormal only to about 10⁻⁷, and the sum
// rules would show it.
Matrix cleaned_modes(const NormalModes& m, const PrincipalFrame& frame) {
  const Matrix external = external_motions(m, frame);
  // An orthonormal basis q of their span, from their Gram matrix.
  const SymmetricEigen g = symmetric_eigen(external.transpose() * external);
  Matrix q(external.rows(), 0);
  for (Eigen::Index k = 0; k < g.values.size(); ++k)
    if (g.values(k) > 1e-10) {
      q.conservativeResize(Eigen::NoChange, q.cols() + 1);
      q.col(q.cols() - 1) = external * g.vectors.col(k) / std::sqrt(g.values(k));
    }
  const Matrix l = m.modes - q * (q.transpose() * m.modes);
  const SymmetricEigen e = symmetric_eigen(l.transpose() * l);
  const Vector inverse_root = e.values.cwiseSqrt().cwiseInverse();
  return l * (e.vectors * inverse_root.asDiagonal() * e.vectors.transpose());
}

// Orthonormal columns, orthogonal to the mass-weighted translations and
// rotations, as many as the vibrations.
void check_modes(const NormalModes& m, const PrincipalFrame& frame, double tolerance) {
  const auto atoms = static_cast<Eigen::Index>(m.positions.size());
  const Eigen::Index expected = 3 * atoms - (frame.type == RotorType::linear ? 5 : 6);
  if (m.modes.cols() != expected)
    throw input_error(m.source, format("%ld normal modes for %ld vibrations: the molecular constants need them all",
                                       static_cast<long>(m.modes.cols()), static_cast<long>(expected)));
  const Eigen::Index n = m.modes.cols();
  if (n > 0 && (m.modes.transpose() * m.modes - Matrix::Identity(n, n)).cwiseAbs().maxCoeff() > tolerance)
    throw input_error(m.source, "the normal modes' columns are not orthonormal");
  const Matrix external = external_motions(m, frame);
  if (n > 0 && (external.transpose() * m.modes).cwiseAbs().maxCoeff() > tolerance)
    throw input_error(m.source, "the normal modes move the molecule as a whole (translation or rotation)");
}

}  // namespace

NormalModes normal_modes(const VibrationAnalysis& analysis, const std::vector<Vec3>& positions,
                         const std::vector<double>& masses, const std::string& source) {
  NormalModes m{positions, masses, analysis.cartesian_modes, {}, source};
  for (const Mode& mode : analysis.modes) m.eigenvalues.push_back(mode.eigenvalue);
  return m;
}

MolecularConstants molecular_constants(const NormalModes& modes, const ConstantsOptions& options) {
  check_sizes(modes, options);
  const ConstantsTolerances& tolerances = options.tolerances;
  const PrincipalFrame frame = principal_frame(modes.positions, modes.masses, tolerances, modes.source);
  check_modes(modes, frame, tolerances.orthonormal);
  check_minimum(modes, tolerances.minimum_wavenumber);
  MolecularConstants c;
  c.temperature = options.temperature;
  c.rotation = rotational_constants(frame, tolerances);
  const PrincipalModes principal =
      to_principal_frame(frame, modes.positions, modes.masses, cleaned_modes(modes, frame), modes.eigenvalues);
  const std::vector<Mat3> derivatives = inertia_derivatives(principal);
  c.coriolis = coriolis_constants(principal, frame, derivatives, tolerances);
  c.centrifugal = centrifugal_distortion(principal, frame, derivatives, options.representation, c.rotation.planar);
  c.amplitudes = mean_amplitudes(principal, options.temperature);
  return c;
}

}  // namespace korven::kit
