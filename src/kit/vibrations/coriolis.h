// Coriolis coupling constants between the normal modes, in the formulation
// of Meal & Polo (J. Chem. Phys. 24, 1119 and 1126, 1956): with l_ir the
// mass-weighted displacement of atom i in mode r, in the principal-axis frame,
//
//   ζ^α_rs = Σ_i (l_ir × l_is)_α,    α = a, b, c,
//
// so ζ^α_rs = −ζ^α_sr, and the sign of ζ_rs follows the phases of the modes'
// columns as given.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/vibrations/rotation.h"

namespace korven::kit {

// The first-order Coriolis constant of a doubly degenerate mode of a
// symmetric top (or a bend of a linear molecule): ζ_t = ζ^z_{t1 t2} about the
// unique axis z, between the pair's two modes. Its sign needs the pair's
// phase: the pair is turned so that under the symmetry operation about z
// that the search finds — the proper rotation C_n of smallest angle 2π/n
// (n = 12 … 3), else the improper S_n (n = 12 … 4, even) — it rotates in the
// same sense as the displacements (T_x, T_y) do. Where no such operation
// maps the molecule onto itself (an accidental top), or the pair is not
// turned into itself by it, ζ_t is given as |ζ^z_{t1 t2}| and `operation`
// stays empty.
struct DegenerateCoriolis {
  int first = 0, second = 0;  // mode indices (from 0), first < second
  double zeta = 0;
  std::string operation;      // "C3", "S4", …; empty when the sign is not fixed
  int turn = 0;               // the operation turns the pair by turn · 2π/n; 0 when not fixed
};

// A sum of the first-order ζ over the degenerate pairs that one proper
// rotation C_n turns alike, and its closed value. From the completeness of
// the 3N displacements: over all of them, the pairs turned by 2π/n (those
// that carry (T_x, T_y)) sum to the number of atoms on the axis, the other
// pairs to 0; taking away the translations (ζ = 1) and the rotations
// (ζ = P_z / I_⊥, P_z = Σ_i m_i z_i², I_⊥ the moment about an axis normal to
// z) leaves, over the vibrations,
//   turn 1:  n_axis − 1 − P_z / I_⊥        turn > 1:  0.
// For CH3X this is Σ ζ(E) = B/(2A), for a linear molecule N − 2 (the form of
// the E-species sums of Meal & Polo, J. Chem. Phys. 1956).
struct DegenerateSum {
  int turn = 1;
  double sum = 0, expected = 0;
};

struct CoriolisConstants {
  // ζ^a, ζ^b, ζ^c: n × n antisymmetric, modes in the order given.
  std::array<Matrix, 3> zeta;
  // The sum rules, per mode r and axis α: Σ_s (ζ^α_rs)² over all the
  // vibrations, and its closed value from the completeness of vibrations,
  // translations and rotations:
  //   1 − Σ_i l_irα² − Σ_γ (a_r^{αγ})² / (4 I_γ)
  // (the rotation about a linear molecule's axis left out). n × 3.
  Matrix mode_sums, mode_sums_expected;
  // Σ_{r<s} (ζ^α_rs)² per axis, and its closed value: for a nonlinear
  // molecule of N atoms, with P_α = Σ_i m_i r_iα² and (α, β, γ) cyclic,
  //   N − 4 + P_γ/I_β + P_β/I_γ + P_α²/(I_β I_γ);
  // N − 2 for each axis of a linear molecule.
  Vec3 totals = Vec3::Zero(), totals_expected = Vec3::Zero();
  double largest_sum_deviation = 0;  // over every mode sum and total
  // Symmetric tops and linear molecules: each pair of degenerate modes.
  std::vector<DegenerateCoriolis> degenerate;
  // Over the pairs, by turn, when the operation is a proper rotation and
  // every group of degenerate modes is a pair it orients; else empty.
  std::vector<DegenerateSum> degenerate_sums;
};

// ζ in the principal frame of `frame`, from the modes in that frame and
// their inertia derivatives (rotation.h).
CoriolisConstants coriolis_constants(const PrincipalModes& modes, const PrincipalFrame& frame,
                                     const std::vector<Mat3>& inertia_derivatives,
                                     const ConstantsTolerances& tolerances);

// The modes grouped by equal eigenvalue: each group the indices (ascending)
// of modes whose eigenvalues, sorted, differ from their neighbour's by at
// most `relative` of the larger. Groups in ascending eigenvalue.
std::vector<std::vector<int>> degenerate_groups(const std::vector<double>& eigenvalues, double relative);

}  // namespace korven::kit
