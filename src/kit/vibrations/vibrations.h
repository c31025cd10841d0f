// Harmonic vibrations from a deck's B matrix and masses and a Cartesian
// Hessian: the internal force constants, Wilson's GF problem (optionally
// block by block in symmetry coordinates), the potential-energy distribution,
// and the same wavenumbers from the Cartesian Hessian as a cross-check.
//
// Units. B is Ångström-based (stretch rows dimensionless, angle rows in rad
// per Å), masses in u, H in mdyn/Å = aJ/Å². Then A = M⁻¹ Bᵀ G⁺ carries Å per
// unit of each coordinate, and F = Aᵀ H A comes out directly in the
// conventional units: aJ/Å² = mdyn/Å for two stretches, aJ/rad² = mdyn·Å/rad²
// for two angles, aJ/(Å·rad) = mdyn/rad for a stretch and an angle. The GF
// eigenvalues λ are in mdyn/(Å·u).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/constants.h"
#include "kit/base/linalg.h"

namespace korven::kit {

// The wavenumbers of eigenvalues: wavenumber_from_eigenvalue in
// base/constants.h (CODATA 2018).

// Eigenvalues of G below this fraction of G's largest count as zero: the
// generalized inverse G⁺ and the range of G (the vibrations the coordinates
// describe) both use it.
inline constexpr double kGRangeRelative = 1e-9;
// The GF and Cartesian wavenumbers agree when they differ by at most the
// larger of these two.
inline constexpr double kWavenumberTolerance = 0.5;            // cm⁻¹
inline constexpr double kRelativeWavenumberTolerance = 1e-3;   // of |ν̃|
// H is at a stationary point when its translation/rotation part, ‖H_m E‖_F /
// ‖H_m‖_F over the mass-weighted Hessian H_m and the orthonormal
// mass-weighted external displacements E, stays below this.
inline constexpr double kStationaryTolerance = 1e-3;

// One symmetry block: rows first … first + size − 1 of U (counting from 0).
struct ModeBlock {
  int first = 0;
  int size = 0;
  std::string species;  // e.g. "A1"; may be empty
};

struct VibrationInput {
  Matrix b;                     // NIC × 3N
  std::vector<double> masses;   // u, one per atom
  // Å, for the Cartesian route: the geometry the Hessian belongs to, in the
  // deck's frame (a file's own positions after the frame fit, else the
  // deck's X). The deck's X works too, but a symmetrization shift then shows
  // in the external fraction.
  std::vector<Vec3> positions;
  Matrix hessian;               // 3N × 3N, mdyn/Å, in the deck's frame
  std::optional<Matrix> u;      // NSC × NIC, orthonormal rows
  std::vector<ModeBlock> blocks;  // with u: tiling its rows in order; empty: one block
  double scale = 1;             // multiplies every reported wavenumber
  std::string source;           // the file named in error messages (the deck)
};

struct Mode {
  double eigenvalue = 0;  // λ of G F, mdyn/(Å·u), unscaled
  double wavenumber = 0;  // cm⁻¹, scaled; an imaginary mode as a negative number
  bool imaginary = false;
  std::optional<double> cartesian_wavenumber;  // the Cartesian route's, when both give as many modes
  int block = -1;         // index into the blocks (with U), else -1
  std::string species;    // the block's; empty without U
  // Percent per coordinate, summing to 100: over the internal coordinates
  // without U, over U's rows with it (zero outside the mode's block).
  // P_ik = F_ii L_ik² / Σ_j F_jj L_jk² (Wilson, Decius & Cross, Molecular
  // Vibrations, 1955; the form of Morino & Kuchitsu 1952).
  std::vector<double> ped;
};

// The two routes side by side, and why they differ when they do.
struct Comparison {
  bool agree = true;               // equal counts, every pair within tolerance, H stationary
  int vibrations = 0;              // 3N − 6 (3N − 5 linear), from the external space
  int described = 0;               // GF modes: the vibrations the coordinates describe
  double largest_difference = 0;   // cm⁻¹, over the paired modes
  double external_fraction = 0;    // ‖H_m E‖ / ‖H_m‖
  double b_external_fraction = 0;  // ‖B M^-1/2 E‖ / ‖B M^-1/2‖: B moved by translations or rotations
  std::string verdict;             // one sentence in words
};

struct VibrationAnalysis {
  Matrix g;  // B M⁻¹ Bᵀ, 1/u (per Å² for angles)
  Matrix f;  // Aᵀ H A, conventional units (see above)
  std::optional<Matrix> g_symmetry, f_symmetry;  // U G Uᵀ, U F Uᵀ
  int g_rank = 0;
  std::vector<Mode> modes;  // ascending wavenumber
  // One column per mode, L Lᵀ = G and Lᵀ F L = Λ (over a redundant set within
  // G's range): in internal coordinates always (with U: Uᵀ L′), and in
  // symmetry coordinates with U.
  Matrix l;
  std::optional<Matrix> l_symmetry;
  // One column per mode: the mass-weighted Cartesian displacement of its
  // normal coordinate, M^½ A L_k = Dᵀ G⁺ L_k (D = B M^-½), in the deck's
  // frame. The columns are orthonormal, and orthogonal to the translations
  // and rotations when B is.
  Matrix cartesian_modes;
  std::vector<double> cartesian_wavenumbers;  // ascending, scaled
  Comparison comparison;
};

// The whole analysis for one mass set. Throws InputError naming
// input.source for a U that is not orthonormal, blocks that do not tile U,
// masses that are not positive, or sizes that do not fit together.
VibrationAnalysis analyze_vibrations(const VibrationInput& input);

}  // namespace korven::kit
