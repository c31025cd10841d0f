// Mean amplitudes of vibration and perpendicular amplitude corrections, in
// Cyvin's formulation (Molecular Vibrations and Mean Square Amplitudes,
// 1968). Each normal coordinate Q_k has the mean square
//
//   δ_k = ⟨Q_k²⟩ = (h / (8π² c ν̃_k)) coth(h c ν̃_k / (2 k T))
//
// (the zero-point value h / (8π² c ν̃_k) at T = 0), and the Cartesian
// mean-square amplitude matrix is Σ = M^-½ L Δ Lᵀ M^-½ over the mass-weighted
// modes L. For atoms i and j at distance r along the unit vector e, with
// C = ⟨(u_j − u_i)(u_j − u_i)ᵀ⟩ the 3 × 3 matrix of their relative
// displacement:
//
//   l_ij² = eᵀ C e                     (parallel mean-square amplitude)
//   K_ij  = (tr C − eᵀ C e) / (2 r)    (perpendicular amplitude correction,
//                                       ⟨Δx²⟩ + ⟨Δy²⟩ over 2r; Morino,
//                                       Kuchitsu & Oka's K)
#pragma once

#include <vector>

#include "kit/base/linalg.h"
#include "kit/vibrations/rotation.h"

namespace korven::kit {

struct PairAmplitude {
  int first = 0, second = 0;               // atoms (from 0), first < second
  double distance = 0;                      // r_e, Å
  double parallel_mean_square = 0;          // l², Å²
  double amplitude = 0;                     // l, Å
  double perpendicular_mean_square = 0;     // ⟨Δx²⟩ + ⟨Δy²⟩, Å²
  double perpendicular_correction = 0;      // K, Å
};

// δ_k in u Å² for an eigenvalue λ (mdyn/(Å·u), positive) at T in K (≥ 0).
double normal_coordinate_mean_square(double eigenvalue, double temperature);

// Every pair i < j, in the order (0,1), (0,2), …, (1,2), …
std::vector<PairAmplitude> mean_amplitudes(const PrincipalModes& modes, double temperature);

}  // namespace korven::kit
