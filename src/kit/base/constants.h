// The constants of nature and of units the kit computes with, in one place:
// CODATA 2018 (Tiesinga et al., Rev. Mod. Phys. 93, 025010, 2021), exact
// where the SI fixes them.
#pragma once

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

}  // namespace korven::kit
