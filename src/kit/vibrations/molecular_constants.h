// The molecular constants of one mass set from its harmonic force field:
// rotational constants and the principal-axis frame (rotation.h), Coriolis
// coupling constants with their sum rules (coriolis.h), quartic centrifugal
// distortion constants and their reductions (centrifugal.h), and mean
// amplitudes of vibration with perpendicular corrections (amplitudes.h).
// Each of those headers names its formulas and their sources.
#pragma once

#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/vibrations/amplitudes.h"
#include "kit/vibrations/centrifugal.h"
#include "kit/vibrations/coriolis.h"
#include "kit/vibrations/rotation.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

// A mass set's harmonic normal modes, as the kit's vibrational analysis
// gives them (VibrationAnalysis: Mode::eigenvalue and cartesian_modes).
struct NormalModes {
  std::vector<Vec3> positions;      // Å, any frame (the deck's)
  std::vector<double> masses;       // u, exact isotope masses
  // 3N × n: the mass-weighted Cartesian displacement of each normal
  // coordinate in the frame of `positions`, orthonormal columns orthogonal
  // to the translations and rotations; all n = 3N − 6 (3N − 5 linear).
  Matrix modes;
  std::vector<double> eigenvalues;  // λ_k in mdyn/(Å·u); ν̃ = wavenumber_from_eigenvalue(λ)
  std::string source;               // the file named in error messages
};

// The positions and masses with the modes and unscaled eigenvalues of an
// analysis of them.
NormalModes normal_modes(const VibrationAnalysis& analysis, const std::vector<Vec3>& positions,
                         const std::vector<double>& masses, const std::string& source);

struct ConstantsOptions {
  double temperature = 298.15;  // K, for the mean amplitudes; 0 gives the zero-point values
  Representation representation = Representation::Ir;  // of the asymmetric-top reductions
  ConstantsTolerances tolerances;
};

struct MolecularConstants {
  RotationalConstants rotation;  // with the principal frame every other part uses
  CoriolisConstants coriolis;
  CentrifugalDistortion centrifugal;
  std::vector<PairAmplitude> amplitudes;
  double temperature = 0;        // K, as used
};

// Everything above for one mass set. Throws InputError naming modes.source
// when the constants would be meaningless or the input does not fit:
//   – a mode imaginary, or below tolerances.minimum_wavenumber (the
//     geometry is no minimum of the force field),
//   – fewer or more modes than the 3N − 6 (3N − 5) vibrations,
//   – columns not orthonormal, or not orthogonal to translations and
//     rotations (tolerances.orthonormal),
//   – sizes that do not fit, masses that are not positive, values that are
//     not finite, a negative temperature, fewer than two atoms.
// Modes within the tolerance are first cleaned of what they hold of the
// translations and rotations and made exactly orthonormal (Löwdin's
// symmetric orthonormalization, which moves them least), so that the sum
// rules test the constants and not the rounding of the modes' source.
MolecularConstants molecular_constants(const NormalModes& modes, const ConstantsOptions& options = {});

}  // namespace korven::kit
