// The constants of nature and of units the kit computes with, in one place:
// CODATA 2018 (Tiesinga et al., Rev. Mod. Phys. 93, 025010, 2021), exact
// where the SI fixes them.
#pragma once

#include <cmath>
#include <numbers>

namespace korven::kit {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kDegreesPerRadian = 180 / kPi;

inline constexpr double kSpeedOfLight = 299792458.0;             // m/s, exact
inline constexpr double kPlanck = 6.62607015e-34;                // J s, exact
inline constexpr double kBoltzmann = 1.380649e-23;               // J/K, exact
inline constexpr double kAvogadro = 6.02214076e23;               // 1/mol, exact
inline constexpr double kElementaryCharge = 1.602176634e-19;     // C, exact
inline constexpr double kAtomicMassConstant = 1.66053906660e-27;  // kg (1 u)
inline constexpr double kBohrInAngstrom = 0.529177210903;
inline constexpr double kHartreeInAttojoule = 4.3597447222071;
// 1 mdyn/Å = 1e-8 N / 1e-10 m = 1 aJ/Å², so 1 hartree/bohr² = 15.56893 mdyn/Å.
inline constexpr double kHartreePerBohr2InMdynPerAngstrom =
    kHartreeInAttojoule / (kBohrInAngstrom * kBohrInAngstrom);

// ν̃ [cm⁻¹] = sqrt(λ) · this, for an eigenvalue λ of G F in mdyn/(Å·u):
// λ = 4π²c²ν̃², so ν̃ = sqrt(λ · 100 N/m / 1 u) / (2π c) / (100 cm⁻¹ per m⁻¹)
// = 1302.79….
inline double wavenumber_per_root_eigenvalue() {
  return std::sqrt(100.0 / kAtomicMassConstant) / (2.0 * kPi * kSpeedOfLight) / 100.0;
}
// sqrt(λ) · the constant above; −sqrt(−λ) · it for λ < 0 (an imaginary mode).
inline double wavenumber_from_eigenvalue(double lambda) {
  const double k = wavenumber_per_root_eigenvalue();
  return lambda < 0 ? -k * std::sqrt(-lambda) : k * std::sqrt(lambda);
}

}  // namespace korven::kit
