// What a normal mode looks like and how strongly it shows in a spectrum:
// the Cartesian displacement as quantum-chemistry programs print it, the
// reduced mass and mode force constant, the infrared intensity from the
// dipole derivatives and the Raman activity from the polarizability
// derivatives.
//
// Every function takes the mass-weighted normal modes of one mass set
// (VibrationAnalysis::cartesian_modes: 3N × n, orthonormal columns e_k, in
// the deck's frame) and that set's masses (u, one per atom). The Cartesian
// displacement of mode k is c_k = M^-½ e_k, i.e. dx_i/dQ_k = e_ik / √m_i for
// the mass-weighted normal coordinate Q_k. The derivatives of the dipole and
// of the polarizability along x do not depend on the masses: an
// isotopologue's intensities are the same derivatives taken along its own
// normal modes. They must be in the deck's frame (rotate_dipole_derivatives,
// rotate_polarizability_derivatives in frame_fit.h).
//
// The work is linear in the number of modes: each mode costs O(N).
#pragma once

#include <optional>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

// Gaussian's convention (J. W. Ochterski, "Vibrational Analysis in
// Gaussian", Gaussian Inc., 1999): the Cartesian displacement c_k = M^-½ e_k
// normalised to unit length, the reduced mass μ_k = 1 / |c_k|² before that
// normalisation (u), and the mode force constant k_k = λ_k μ_k (mdyn/Å,
// from the unscaled eigenvalue λ_k in mdyn/(Å·u); negative for an imaginary
// mode). psi4 prints the same. For a diatomic this gives
// μ = m1 m2 (m1 + m2) / (m1² + m2²), not the textbook m1 m2 / (m1 + m2)
// (for H2 one atom's mass), and k = k_bond (m1 + m2)² / (m1² + m2²).
struct ModeShape {
  Vector displacement;        // 3N: dx, dy, dz of atom 1, atom 2, …; unit length
  double reduced_mass = 0;    // u
  double force_constant = 0;  // mdyn/Å
};

// One ModeShape per column of cartesian_modes; eigenvalues[k] is mode k's λ
// (Mode::eigenvalue). Throws std::invalid_argument when the sizes do not fit
// (3N rows, N masses, one eigenvalue per column) or a mass is not positive.
std::vector<ModeShape> mode_shapes(const Matrix& cartesian_modes, const std::vector<double>& eigenvalues,
                                   const std::vector<double>& masses);

// km/mol per e²/u: the factor that turns |∂μ/∂Q_k|², with μ in e·bohr and Q
// in bohr·√u (so ∂μ/∂Q in e/√u), into the infrared intensity of the
// fundamental, 974.880 km/mol. See intensities.cpp for its derivation.
double ir_intensity_constant();

// ∂μ/∂Q_k = Σ_i (∂μ/∂x_i) e_ik / √m_i for every mode: 3 × n, in e/√u.
// dipole_derivatives is 3N × 3 in atomic units (HessianFile::dipole_derivatives).
Matrix dipole_along_modes(const Matrix& cartesian_modes, const std::vector<double>& masses,
                          const Matrix& dipole_derivatives);

// I_k = ir_intensity_constant() · |∂μ/∂Q_k|² (km/mol), one per column of
// cartesian_modes, in the double-harmonic approximation. The value of one
// partner of a degenerate set depends on how the set's modes were chosen
// within it; their sum does not, and it is the band's intensity: the caller
// adds up the partners.
std::vector<double> ir_intensities(const Matrix& cartesian_modes, const std::vector<double>& masses,
                                   const Matrix& dipole_derivatives);

// Raman activity S_k = 45 a'_k² + 7 γ'_k² (Å⁴/u), one per column of
// cartesian_modes, from polarizability_derivatives (3N × 6, components xx,
// xy, yy, xz, yz, zz, bohr³/bohr; HessianFile::polarizability_derivatives).
// α'_k = Σ_i (∂α/∂x_i) e_ik / √m_i; a'_k = (α'_xx + α'_yy + α'_zz)/3 its
// mean, γ'_k² = ½[(α'_xx − α'_yy)² + (α'_yy − α'_zz)² + (α'_zz − α'_xx)²
// + 6(α'_xy² + α'_xz² + α'_yz²)] its anisotropy (D. A. Long, The Raman
// Effect, Wiley 2002; the activity Gaussian prints). Degenerate
// partners add up as for the infrared.
std::vector<double> raman_activities(const Matrix& cartesian_modes, const std::vector<double>& masses,
                                     const Matrix& polarizability_derivatives);

// All of the above for one mass set's analysis: the shapes always, the
// intensities when their derivatives are given.
struct ModeIntensities {
  std::vector<ModeShape> shapes;
  std::optional<std::vector<double>> infrared;  // km/mol
  std::optional<std::vector<double>> raman;     // Å⁴/u
};
ModeIntensities mode_intensities(const VibrationAnalysis& analysis, const std::vector<double>& masses,
                                 const std::optional<Matrix>& dipole_derivatives,
                                 const std::optional<Matrix>& polarizability_derivatives);

}  // namespace korven::kit
